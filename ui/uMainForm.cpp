#include "uMainForm.h"

#include "GoodsModel.h"
#include "KkmText.h"
#include "NavIcons.h"
#include "StringGrid.h"
#include "TLed.h"
#include "uAuthForm.h"
#include "uConnectForm.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <clocale>

namespace {

QString Number(std::int64_t v)
{
    return QString::number(v);
}

QString FromStd(const std::string& s)
{
    return QString::fromStdString(s);
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Конфигуратор ДЛФ v0.5a"));
    resize(876, 694);
    setMinimumSize(800, 600);

    Protokol = new TOmvekCP(this);
    Protokol->setObjectName(QStringLiteral("Protokol"));
    Protokol->setTimeOut(200);
    Protokol->OnLineLost = [this] { ProtokolLineLost(); };

    BuildMenu();
    BuildSpeedBar();
    BuildPages();
    BuildStatusBar();

    FormCreate();
    // The commands show their state from the first paint on.
    act_mainFormUpdate();

    // The idle-time update: whenever the event loop is about to wait for
    // input, everything that was pending has been handled. A command's own
    // wait only pumps events without blocking, so it never lands here.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &TMainForm::act_mainFormUpdate);
}

TMainForm::~TMainForm()
{
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        disconnect(dispatcher, nullptr, this, nullptr);
    Protokol->Port.Close();
}

// ---------------------------------------------------------------------------
// Layout of the window

void TMainForm::BuildMenu()
{
    QMenuBar* bar = new QMenuBar(this);
    bar->setObjectName(QStringLiteral("MainMenu"));
    setMenuBar(bar);

    auto item = [this](QMenu* menu, const char* name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        return a;
    };

    mm_File = bar->addMenu(QStringLiteral("Файл"));
    mm_File->setObjectName(QStringLiteral("mm_File"));
    mm_f_settings = item(mm_File, "mm_f_settings", QStringLiteral("Настроить..."));
    mm_f_settings->setEnabled(false);
    mm_File->addSeparator();
    mm_f_exit = item(mm_File, "mm_f_exit", QStringLiteral("Выход"));

    mm_Connection = bar->addMenu(QStringLiteral("Подключение"));
    mm_Connection->setObjectName(QStringLiteral("mm_Connection"));
    mm_c_connect = item(mm_Connection, "mm_c_connect", QStringLiteral("Подключить..."));
    mm_c_disconnect = item(mm_Connection, "mm_c_disconnect", QStringLiteral("Отключить"));
    mm_Connection->addSeparator();
    mm_c_auth = item(mm_Connection, "mm_c_auth", QStringLiteral("Авторизироваться..."));

    mm_Help = bar->addMenu(QStringLiteral("Справка"));
    mm_Help->setObjectName(QStringLiteral("mm_Help"));
    mm_i_help = item(mm_Help, "mm_i_help", QStringLiteral("Справка по программе..."));
    mm_i_help->setEnabled(false);
    mm_i_about = item(mm_Help, "mm_i_about", QStringLiteral("О программе..."));
    mm_i_about->setEnabled(false);

    connect(mm_f_exit, &QAction::triggered, this, &TMainForm::mm_f_exitClick);
    connect(mm_c_connect, &QAction::triggered, this, &TMainForm::mm_c_connectClick);
    connect(mm_c_disconnect, &QAction::triggered, this, &TMainForm::mm_c_disconnectClick);
    connect(mm_c_auth, &QAction::triggered, this, &TMainForm::mm_c_authClick);
}

void TMainForm::BuildSpeedBar()
{
    SpeedBar = new QToolBar(QStringLiteral("Чтение/запись"), this);
    SpeedBar->setObjectName(QStringLiteral("SpeedBar"));
    SpeedBar->setMovable(false);
    SpeedBar->setFloatable(false);
    SpeedBar->setFixedHeight(31);
    SpeedBar->setIconSize(QSize(16, 16));
    SpeedBar->toggleViewAction()->setEnabled(false);
    addToolBar(Qt::TopToolBarArea, SpeedBar);

    auto button = [this](const char* name, const QString& hint, const QIcon& icon) {
        QToolButton* b = new QToolButton(SpeedBar);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(hint);
        b->setIcon(icon);
        b->setAutoRaise(true);
        b->setFixedSize(24, 23);
        SpeedBar->addWidget(b);
        return b;
    };
    si_ReadTableFromKKM = button("si_ReadTableFromKKM", QStringLiteral("Прочитать таблицу из ККМ"),
                                 NavIcons::ReadTable());
    si_WriteTableToKKM = button("si_WriteTableToKKM", QStringLiteral("Записать таблицу в ККМ"),
                                NavIcons::WriteTable());
    si_Import = button("si_Import", QStringLiteral("Импорт"), NavIcons::Import());
    si_Export = button("si_Export", QStringLiteral("Экспорт"), NavIcons::Export());
    si_StopReading = button("si_StopReading", QStringLiteral("Прервать"), NavIcons::Stop());
    connect(si_StopReading, &QToolButton::clicked, this, &TMainForm::si_StopReadingClick);

    // The goods range stays against the right edge: a stretching spacer in
    // front of it takes up whatever width the window gains.
    QWidget* spacer = new QWidget(SpeedBar);
    spacer->setObjectName(QStringLiteral("SpeedBarSpacer"));
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    SpeedBar->addWidget(spacer);

    pnl_GoodsRange = new QWidget(SpeedBar);
    pnl_GoodsRange->setObjectName(QStringLiteral("pnl_GoodsRange"));
    auto* range = new QHBoxLayout(pnl_GoodsRange);
    range->setContentsMargins(0, 0, 4, 0);
    range->setSpacing(6);
    cb_QuantNull = new QCheckBox(QStringLiteral("Обнуление кол-ва продаж"), pnl_GoodsRange);
    cb_QuantNull->setObjectName(QStringLiteral("cb_QuantNull"));
    lb_Interval = new QLabel(QStringLiteral("Интервал"), pnl_GoodsRange);
    lb_Interval->setObjectName(QStringLiteral("lb_Interval"));
    ed_GoodsStart = new QLineEdit(QStringLiteral("1"), pnl_GoodsRange);
    ed_GoodsStart->setObjectName(QStringLiteral("ed_GoodsStart"));
    ed_GoodsStart->setMaxLength(4);
    ed_GoodsStart->setFixedWidth(44);
    lb_IntervalDot = new QLabel(QStringLiteral("--"), pnl_GoodsRange);
    lb_IntervalDot->setObjectName(QStringLiteral("lb_IntervalDot"));
    ed_GoodsEND = new QLineEdit(QStringLiteral("9999"), pnl_GoodsRange);
    ed_GoodsEND->setObjectName(QStringLiteral("ed_GoodsEND"));
    ed_GoodsEND->setMaxLength(4);
    ed_GoodsEND->setFixedWidth(44);
    range->addWidget(cb_QuantNull);
    range->addSpacing(8);
    range->addWidget(lb_Interval);
    range->addWidget(ed_GoodsStart);
    range->addWidget(lb_IntervalDot);
    range->addWidget(ed_GoodsEND);
    SpeedBar->addWidget(pnl_GoodsRange);
}

void TMainForm::BuildExpressPanel()
{
    ExpressPanel = new QWidget(this);
    ExpressPanel->setObjectName(QStringLiteral("ExpressPanel"));
    ExpressPanel->setFixedWidth(113);
    ExpressPanel->setAutoFillBackground(true);
    QPalette pal = ExpressPanel->palette();
    pal.setColor(QPalette::Window, Qt::white);
    ExpressPanel->setPalette(pal);

    auto* column = new QVBoxLayout(ExpressPanel);
    column->setContentsMargins(4, 8, 4, 8);
    column->setSpacing(6);
    auto button = [this, column](const char* name, const QString& caption, const QIcon& icon) {
        QToolButton* b = new QToolButton(ExpressPanel);
        b->setObjectName(QLatin1String(name));
        b->setText(caption);
        b->setIcon(icon);
        b->setIconSize(QSize(32, 32));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setFixedSize(105, 62);
        column->addWidget(b, 0, Qt::AlignHCenter);
        return b;
    };
    eb_Information = button("eb_Information", QStringLiteral("Информация"), NavIcons::Information());
    eb_KKMOptions = button("eb_KKMOptions", QStringLiteral("Настройки ДЛФ"), NavIcons::Options());
    eb_Goods = button("eb_Goods", QStringLiteral("Товары"), NavIcons::Goods());
    eb_Logo = button("eb_Logo", QStringLiteral("Изображение"), NavIcons::Picture());
    column->addStretch(1);

    connect(eb_Information, &QToolButton::clicked, this, &TMainForm::eb_InformationClick);
    connect(eb_KKMOptions, &QToolButton::clicked, this, &TMainForm::eb_KKMOptionsClick);
    connect(eb_Goods, &QToolButton::clicked, this, &TMainForm::eb_GoodsClick);
    connect(eb_Logo, &QToolButton::clicked, this, &TMainForm::eb_LogoClick);
}

void TMainForm::BuildPages()
{
    QWidget* central = new QWidget(this);
    central->setObjectName(QStringLiteral("pnl_Client"));
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    BuildExpressPanel();
    row->addWidget(ExpressPanel);

    auto* centre = new QVBoxLayout;
    centre->setContentsMargins(2, 2, 2, 0);
    centre->setSpacing(2);
    row->addLayout(centre, 1);

    // The pages are switched only by the navigation buttons, so they sit in
    // a stack without tabs; each keeps its caption as its title.
    PageControl = new QStackedWidget(central);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    auto page = [this](const char* name, const QString& caption) {
        QWidget* p = new QWidget(PageControl);
        p->setObjectName(QLatin1String(name));
        p->setWindowTitle(caption);
        PageControl->addWidget(p);
        return p;
    };
    ts_Information = page("ts_Information", QStringLiteral("Информация"));
    ts_KKMOptions = page("ts_KKMOptions", QStringLiteral("Настройки ДЛФ"));
    ts_Goods = page("ts_Goods", QStringLiteral("Товары"));
    ts_Logo = page("ts_Logo", QStringLiteral("Логотип"));
    centre->addWidget(PageControl, 1);

    BuildInformationPage();
    BuildOptionsPage();
    BuildGoodsPage();

    re_LogOut = new QTextEdit(central);
    re_LogOut->setObjectName(QStringLiteral("re_LogOut"));
    re_LogOut->setReadOnly(true);
    re_LogOut->setFixedHeight(89);
    re_LogOut->setLineWrapMode(QTextEdit::NoWrap);
    centre->addWidget(re_LogOut);

    setCentralWidget(central);
}

void TMainForm::BuildInformationPage()
{
    auto* page = new QVBoxLayout(ts_Information);
    page->setContentsMargins(8, 8, 8, 8);
    page->setSpacing(8);

    gb_KKMInfo = new QGroupBox(QStringLiteral(" Общие данные по ДЛФ"), ts_Information);
    gb_KKMInfo->setObjectName(QStringLiteral("gb_KKMInfo"));
    QFont bold = gb_KKMInfo->font();
    bold.setBold(true);
    gb_KKMInfo->setFont(bold);
    QFont regular = bold;
    regular.setBold(false);

    auto* grid = new QGridLayout(gb_KKMInfo);
    grid->setContentsMargins(16, 14, 16, 14);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(9);
    grid->setColumnMinimumWidth(0, 220);
    grid->setColumnStretch(1, 1);
    int rowNo = 0;
    auto row = [&](QLabel*& caption, const char* captionName, const QString& text,
                   QLabel*& value, const char* valueName) {
        caption = new QLabel(text, gb_KKMInfo);
        caption->setObjectName(QLatin1String(captionName));
        caption->setFont(regular);
        value = new QLabel(QStringLiteral("--"), gb_KKMInfo);
        value->setObjectName(QLatin1String(valueName));
        value->setFont(regular);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(caption, rowNo, 0);
        grid->addWidget(value, rowNo, 1);
        ++rowNo;
    };
    row(lb_c_ModelName, "lb_c_ModelName", QStringLiteral("Название модели ККМ"), lb_ModelName,
        "lb_ModelName");
    row(lb_c_znumber, "lb_c_znumber", QStringLiteral("Заводской номер ККМ"), lb_zNumber,
        "lb_zNumber");
    row(lb_c_Sp, "lb_c_Sp", QStringLiteral("Версия и дата СП"), lb_SP, "lb_SP");
    row(lb_c_KKMDate, "lb_c_KKMDate", QStringLiteral("Дата и время в ККМ"), lb_KKMDate,
        "lb_KKMDate");
    row(lb_c_KKMError, "lb_c_KKMError", QStringLiteral("Код ошибки устройства"), lb_KKMError,
        "lb_KKMError");
    row(lb_c_Opertor, "lb_c_Opertor", QStringLiteral("Текущий оператор и код режима"), lb_Operator,
        "lb_Operator");
    row(lb_c_Smena, "lb_c_Smena", QStringLiteral("Состояние смены"), lb_Smena, "lb_Smena");
    row(lb_c_itog, "lb_c_itog", QStringLiteral("Сумма сменного итога"), lb_itog, "lb_itog");
    row(lb_c_Nal, "lb_c_Nal", QStringLiteral("Сумма наличности в ККМ"), lb_Nal, "lb_Nal");
    page->addWidget(gb_KKMInfo);

    b_infoRefresh = new QPushButton(QStringLiteral("Обновить"), ts_Information);
    b_infoRefresh->setObjectName(QStringLiteral("b_infoRefresh"));
    b_infoRefresh->setFixedSize(75, 25);
    page->addWidget(b_infoRefresh, 0, Qt::AlignLeft);
    page->addStretch(1);

    connect(b_infoRefresh, &QPushButton::clicked, this, &TMainForm::b_InfoRefreshClick);
}

void TMainForm::BuildOptionsPage()
{
    auto* page = new QVBoxLayout(ts_KKMOptions);
    page->setContentsMargins(4, 4, 4, 4);
    pc_Options = new QTabWidget(ts_KKMOptions);
    pc_Options->setObjectName(QStringLiteral("pc_Options"));
    page->addWidget(pc_Options);

    auto sub = [this](const char* name, const QString& caption) {
        QWidget* p = new QWidget(pc_Options);
        p->setObjectName(QLatin1String(name));
        pc_Options->addTab(p, caption);
        return p;
    };
    ts_KKMMainOptions = sub("ts_KKMMainOptions", QStringLiteral("Опции ДЛФ"));
    ts_KKMPrintOpt = sub("ts_KKMPrintOpt", QStringLiteral("Опции печати ДЛФ"));
    ts_KKMReklama = sub("ts_KKMReklama", QStringLiteral("Рекламные строки"));
    ts_KKMDiscounts = sub("ts_KKMDiscounts", QStringLiteral("Скидки / Наценки"));
    ts_Taxes = sub("ts_Taxes", QStringLiteral("Налоги"));
    ts_Sections = sub("ts_Sections", QStringLiteral("Опции отделов"));
    ts_Devices = sub("ts_Devices", QStringLiteral("Устройства"));
    ts_Operators = sub("ts_Operators", QStringLiteral("Операторы"));
    ts_PayTypes = sub("ts_PayTypes", QStringLiteral("Типы оплаты"));

    // The two grids stand on panels; the per-row lists created at start-up
    // lie on the same panels, over the grid.
    auto gridOnPanel = [](QWidget* sheet, const char* panelName, const char* gridName,
                          QWidget*& panel, QTableWidget*& grid) {
        auto* sheetLayout = new QVBoxLayout(sheet);
        sheetLayout->setContentsMargins(4, 4, 4, 4);
        panel = new QWidget(sheet);
        panel->setObjectName(QLatin1String(panelName));
        sheetLayout->addWidget(panel);
        auto* panelLayout = new QVBoxLayout(panel);
        panelLayout->setContentsMargins(0, 0, 0, 0);
        grid = new QTableWidget(panel);
        grid->setObjectName(QLatin1String(gridName));
        grid->verticalHeader()->hide();
        grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        grid->horizontalHeader()->setHighlightSections(false);
        panelLayout->addWidget(grid);
    };
    gridOnPanel(ts_Sections, "pnl_sections", "SectionsSettings", pnl_sections, SectionsSettings);
    gridOnPanel(ts_Operators, "pnl_operators", "Operators", pnl_operators, Operators);
}

void TMainForm::BuildGoodsPage()
{
    auto* page = new QVBoxLayout(ts_Goods);
    page->setContentsMargins(4, 4, 4, 4);
    GoodsModel = new TGoodsModel(this);
    GoodsModel->setObjectName(QStringLiteral("GoodsModel"));
    Goods = new QTableView(ts_Goods);
    Goods->setObjectName(QStringLiteral("Goods"));
    Goods->setModel(GoodsModel);
    Goods->verticalHeader()->hide();
    Goods->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Goods->horizontalHeader()->setHighlightSections(false);
    page->addWidget(Goods);
}

void TMainForm::BuildStatusBar()
{
    QStatusBar* bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("StatusBar"));
    setStatusBar(bar);

    led_connected = new TLed(bar);
    led_connected->setObjectName(QStringLiteral("led_connected"));
    led_writing = new TLed(bar);
    led_writing->setObjectName(QStringLiteral("led_writing"));
    lb_Clock = new QLabel(bar);
    lb_Clock->setObjectName(QStringLiteral("lb_Clock"));
    lb_Clock->setFixedWidth(72);
    lb_Clock->setAlignment(Qt::AlignCenter);
    lb_StatusEmpty = new QLabel(bar);
    lb_StatusEmpty->setObjectName(QStringLiteral("lb_StatusEmpty"));
    lb_StatusEmpty->setFixedWidth(50);
    bar->addWidget(led_connected);
    bar->addWidget(led_writing);
    bar->addWidget(lb_Clock);
    bar->addWidget(lb_StatusEmpty);

    connect(led_connected, &TLed::doubleClicked, this, &TMainForm::led_connectedDblClick);
    connect(led_writing, &TLed::doubleClicked, this, &TMainForm::led_writingDblClick);

    clockTimer_ = new QTimer(this);
    clockTimer_->setObjectName(QStringLiteral("ClockTimer"));
    auto tick = [this] { lb_Clock->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))); };
    connect(clockTimer_, &QTimer::timeout, this, tick);
    tick();
    clockTimer_->start(1000);
}

// ---------------------------------------------------------------------------
// Start-up

void TMainForm::FormCreate()
{
    Guard(QStringLiteral("TMainForm.FormCreate"), [&] {
        WorkMode = wmOffline;
        StopRequested = false;

        WriteLog(QStringLiteral("Начало работы программы."), QColor(clBlack));

        // Prices and amounts are read and written with "." whatever the
        // regional settings say, by Qt and by the C library alike.
        QLocale numbers(QLocale::C);
        numbers.setNumberOptions(QLocale::OmitGroupSeparator);
        QLocale::setDefault(numbers);
        std::setlocale(LC_NUMERIC, "C");

        // Sections grid: a fixed row of headers and a fixed column of labels.
        SectionsSettings->setColumnCount(5);
        SectionsSettings->setRowCount(SectionRows);
        SectionsSettings->verticalHeader()->setDefaultSectionSize(20);
        const int sectionWidths[] = {100, 140, 90, 100, 120};
        const QString sectionHeaders[] = {
            QStringLiteral("Отделы"), QStringLiteral("Наименование"), QStringLiteral("Код налога"),
            QStringLiteral("Разрядность"), QStringLiteral("Сфера применен.")};
        for (int c = 0; c < 5; ++c) {
            SectionsSettings->setColumnWidth(c, sectionWidths[c]);
            SetSectionsCell(c, 0, sectionHeaders[c]);
        }
        for (int r = 1; r <= SectionRows; ++r) {
            SetSectionsCell(0, r, QStringLiteral("Отдел ") + QString::number(r));
            QTableWidgetItem* label = SectionsSettings->item(r - 1, 0);
            label->setFlags(Qt::ItemIsEnabled);
            label->setBackground(palette().brush(QPalette::Button));

            QComboBox* list = new QComboBox(pnl_sections);
            list->setObjectName(QStringLiteral("cb_Sections%1").arg(r));
            list->addItems({QStringLiteral("Торговля"), QStringLiteral("Услуги")});
            list->setProperty("Tag", r);
            list->hide();
            list->raise();
            connect(list, &QComboBox::currentIndexChanged, this,
                    [this, list] { cb_SectionsInvisChange(list); });
            sectionsLists_[r] = list;
        }

        // Operators grid: no fixed column; a rights check list per row.
        Operators->setColumnCount(3);
        Operators->setRowCount(OperatorRows);
        Operators->verticalHeader()->setDefaultSectionSize(70);
        const int operatorWidths[] = {250, 250, 120};
        const QString operatorHeaders[] = {QStringLiteral("Должность"), QStringLiteral("ФИО"),
                                           QStringLiteral("Права доступа")};
        for (int c = 0; c < 3; ++c) {
            Operators->setColumnWidth(c, operatorWidths[c]);
            SetOperatorsCell(c, 0, operatorHeaders[c]);
        }
        const QStringList rights = {
            QStringLiteral("продажа"),  QStringLiteral("возврат"),  QStringLiteral("Скидки/наценки"),
            QStringLiteral("Доп. оплаты"), QStringLiteral("x-отчеты"), QStringLiteral("z-отчеты"),
            QStringLiteral("программирование")};
        for (int r = 1; r <= OperatorRows; ++r) {
            QListWidget* list = new QListWidget(pnl_operators);
            list->setObjectName(QStringLiteral("CheckListBox%1").arg(r));
            list->setProperty("Tag", r);
            for (const QString& right : rights) {
                auto* item = new QListWidgetItem(right, list);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Unchecked);
            }
            connect(list, &QListWidget::itemChanged, this,
                    [this, list] { CheckListBoxClickCheck(list); });
            list->hide();
            list->raise();
            operatorRights_[r] = list;
        }

        // Goods grid.
        const int goodsWidths[] = {40, 240, 90, 40, 60, 50, 60};
        const QString goodsHeaders[] = {
            QStringLiteral("Товар"), QStringLiteral("Наименование"), QStringLiteral("Штрих-код"),
            QStringLiteral("Отдел"), QStringLiteral("Цена"), QStringLiteral("Дробное"),
            QStringLiteral("Продажи")};
        Goods->verticalHeader()->setDefaultSectionSize(20);
        GoodsModel->BeginUpdate();
        for (int c = 0; c < TGoodsModel::ColCount; ++c) {
            Goods->setColumnWidth(c, goodsWidths[c]);
            GoodsModel->SetCell(c, 0, goodsHeaders[c]);
        }
        for (int item = 1; item <= GoodsItems; ++item) {
            GoodsModel->SetCell(0, item, QString::number(item));
            GoodsItemFlags[item - 1] = 0;
        }
        GoodsModel->EndUpdate();

        // Settings sub-pages: the read-only tables can be shown and filled
        // by reading, but their controls take no input.
        for (int i = 3; i < pc_Options->count(); ++i)
            pc_Options->widget(i)->setEnabled(false);
        pc_Options->widget(7)->setEnabled(true);
        pc_Options->setCurrentIndex(0);

        SourcePicture = QImage();

        PageControl->setCurrentIndex(pgInformation);
    });
}

// ---------------------------------------------------------------------------
// Journal and error report

void TMainForm::WriteLog(const QString& text, const QColor& color)
{
    Guard(QStringLiteral("TMainForm.WriteLog"), [&] {
        if (TrimText(text).isEmpty())
            return;
        QTextCursor cursor(re_LogOut->document());
        cursor.movePosition(QTextCursor::Start);
        QTextCharFormat textFormat;
        textFormat.setForeground(color);
        cursor.insertText(text, textFormat);

        cursor.movePosition(QTextCursor::Start);
        QTextCharFormat timeFormat;
        timeFormat.setForeground(QColor(clBlack));
        cursor.insertText(QStringLiteral("\n") +
                              QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) +
                              QStringLiteral(" >> "),
                          timeFormat);
        // The newest entry is on top; keep it in view.
        re_LogOut->moveCursor(QTextCursor::Start);
    });
}

void TMainForm::ShowError(const QString& location, const QString& message)
{
    const QString text = QStringLiteral("Ошибка по месту: ") + location + QStringLiteral("\n\r") +
                         QStringLiteral("Текст ошибки: ") + message + QStringLiteral("\n\r") +
                         QStringLiteral("Сообщите разработчикам.");
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

// ---------------------------------------------------------------------------
// Idle-time update

void TMainForm::act_mainFormUpdate()
{
    // An error box shown from here would itself go idle and call back in.
    if (inUpdate_)
        return;
    inUpdate_ = true;
    Guard(QStringLiteral("TMainForm.act_mainFormUpdate"), [&] {
        const int page = PageControl->currentIndex();
        const bool connected = WorkMode == wmReadOnly || WorkMode == wmReadWrite;
        const bool writable = WorkMode == wmReadWrite;

        led_connected->setActive(connected);
        led_connected->setHint(connected ? QStringLiteral("ККМ подключена")
                                         : QStringLiteral("Автономная работа"));
        led_writing->setActive(writable);
        led_writing->setHint(writable    ? QStringLiteral("Режим: Чтение/Запись")
                             : connected ? QStringLiteral("Режим: Только чтение")
                                         : QStringLiteral("ККМ не подключена"));
        mm_c_disconnect->setEnabled(connected);
        mm_c_auth->setEnabled(connected);

        si_ReadTableFromKKM->setEnabled(connected && (page == pgKKMOptions || page == pgGoods));
        si_WriteTableToKKM->setEnabled(writable &&
                                       (page == pgKKMOptions || page == pgGoods || page == pgLogo));
        si_StopReading->setEnabled(connected && page == pgGoods);
        si_Import->setEnabled(page == pgGoods || page == pgLogo);
        si_Export->setEnabled(page == pgGoods);

        const bool goodsRange = page == pgGoods;
        lb_Interval->setVisible(goodsRange);
        ed_GoodsStart->setVisible(goodsRange);
        lb_IntervalDot->setVisible(goodsRange);
        ed_GoodsEND->setVisible(goodsRange);
        cb_QuantNull->setVisible(goodsRange);
    });
    inUpdate_ = false;
}

// ---------------------------------------------------------------------------
// Handlers

int TMainForm::ActivePage() const
{
    return PageControl->currentIndex();
}

void TMainForm::ShowPage(int index, const char* location)
{
    Guard(QLatin1String(location), [&] { PageControl->setCurrentIndex(index); });
}

void TMainForm::eb_InformationClick()
{
    ShowPage(pgInformation, "TMainForm.eb_InformationClick");
}

void TMainForm::eb_KKMOptionsClick()
{
    ShowPage(pgKKMOptions, "TMainForm.eb_KKMOptionsClick");
}

void TMainForm::eb_GoodsClick()
{
    ShowPage(pgGoods, "TMainForm.eb_GoodsClick");
}

void TMainForm::eb_LogoClick()
{
    ShowPage(pgLogo, "TMainForm.eb_LogoClick");
}

void TMainForm::mm_f_exitClick()
{
    Guard(QStringLiteral("TMainForm.mm_f_exitClick"), [&] { close(); });
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // Closing the port first ends a command that is waiting for its answer,
    // so the handler running it finishes before the window goes away (the
    // window itself is destroyed only after the event loop has returned).
    Protokol->Port.Close();
    event->accept();
}

void TMainForm::led_connectedDblClick()
{
    Guard(QStringLiteral("TMainForm.led_connectedDblClick"), [&] { mm_c_connectClick(); });
}

void TMainForm::led_writingDblClick()
{
    Guard(QStringLiteral("TMainForm.led_writingDblClick"), [&] {
        if (WorkMode == wmReadOnly || WorkMode == wmReadWrite)
            mm_c_authClick();
    });
}

void TMainForm::si_StopReadingClick()
{
    StopRequested = true;
}

void TMainForm::mm_c_connectClick()
{
    Guard(QStringLiteral("TMainForm.mm_c_connectClick"), [&] {
        if (!ConnectForm)
            throw EKkmError(QStringLiteral("Окно подключения не создано"));
        if (ConnectForm->exec() != QDialog::Accepted)
            return;
        WriteLog(QStringLiteral("Подключение успешно. Порт [") + ConnectForm->cb_Port->currentText() +
                     QStringLiteral("] Скорость [") + ConnectForm->cb_PortSpeed->currentText() +
                     QStringLiteral("]"),
                 QColor(clBlack));
        WriteLog(QStringLiteral("Программа работает в режиме \"Только чтение\""), QColor(clBlue));
        WorkMode = wmReadOnly;
        b_InfoRefreshClick();
        PageControl->setCurrentIndex(pgInformation);
    });
}

void TMainForm::mm_c_disconnectClick()
{
    Guard(QStringLiteral("TMainForm.mm_c_disconnectClick"), [&] {
        Protokol->Port.Close();
        // The pause is the program's own custom; nothing depends on it (Close
        // has already stopped the reader). A register still sending an
        // answer finishes meanwhile.
        QThread::msleep(Protokol->TimeOut());
        WorkMode = wmOffline;
        WriteLog(QStringLiteral("Касса отключена. Программа работает в режиме \"Автономная работа\""),
                 QColor(clBlue));
    });
}

void TMainForm::ProtokolLineLost()
{
    Guard(QStringLiteral("TMainForm.ProtokolLineLost"), [&] {
        Protokol->Port.Close();
        WriteLog(QStringLiteral("Связь с ККМ потеряна: порт закрыт."), QColor(clRed));
        if (WorkMode == wmOffline)
            return; // lost during a connection attempt: the mode has not changed
        WorkMode = wmOffline;
        WriteLog(QStringLiteral("Касса отключена. Программа работает в режиме \"Автономная работа\""),
                 QColor(clBlue));
    });
}

void TMainForm::mm_c_authClick()
{
    Guard(QStringLiteral("TMainForm.mm_c_authClick"), [&] {
        if (!AuthForm)
            throw EKkmError(QStringLiteral("Окно авторизации не создано"));
        if (AuthForm->exec() != QDialog::Accepted)
            return;
        WriteLog(QStringLiteral("Авторизация прошла успешно. Пользователь [") +
                     AuthForm->cb_UserList->currentText() + QStringLiteral("]"),
                 QColor(clBlack));
        WriteLog(QStringLiteral("Программа работает в режиме \"Чтение / Запись\""), QColor(clBlue));
        WorkMode = wmReadWrite;
    });
}

void TMainForm::b_InfoRefreshClick()
{
    Guard(QStringLiteral("TMainForm.b_InfoRefreshClick"), [&] {
        WriteLog(QStringLiteral("Чтение информации об устройстве..."), QColor(clBlack));

        std::int64_t serialNumber = 0;
        std::uint16_t infoWord = 0;
        std::uint8_t infoByte = 0;
        std::uint8_t softVersion = 0;
        TDateTime softDate;
        TKkmText modelName;
        std::int32_t r = Protokol->GetDeviceInfo(AR, AT, serialNumber, infoWord, infoByte,
                                                 softVersion, softDate, modelName);
        if (r != 0) {
            WriteLog(TOmvekCP::ErrorText(r), QColor(clRed));
            return;
        }
        lb_zNumber->setText(Number(serialNumber));
        lb_ModelName->setText(KkmTextToString(modelName));
        lb_SP->setText(Number(softVersion) + QStringLiteral("  [") + FromStd(softDate.DateString()) +
                       QStringLiteral("]"));

        std::uint8_t errorCode = 0;
        TDateTime date;
        TDateTime time;
        std::uint8_t modeCode = 0;
        std::uint8_t operatorNo = 0;
        std::uint8_t sessionOpen = 0;
        TCurrency sessionTotal;
        TCurrency cashInDrawer;
        r = Protokol->GetDeviceState(AR, AT, errorCode, date, time, modeCode, operatorNo,
                                     sessionOpen, sessionTotal, cashInDrawer);
        if (r != 0) {
            WriteLog(TOmvekCP::ErrorText(r), QColor(clRed));
            return;
        }
        lb_KKMDate->setText(FromStd(date.DateString()) + QStringLiteral("  ") +
                            FromStd(time.TimeString()));
        lb_KKMError->setText(Number(errorCode));
        lb_Operator->setText(Number(operatorNo) + QStringLiteral(" , ") + Number(modeCode));
        lb_Smena->setText(sessionOpen != 0 ? QStringLiteral("Смена открыта")
                                           : QStringLiteral("Смена закрыта"));
        lb_itog->setText(FromStd(sessionTotal.ToShortString()));
        lb_Nal->setText(FromStd(cashInDrawer.ToShortString()));

        WriteLog(QStringLiteral("Чтение информации об устройстве завершено."), QColor(clBlack));
    });
}

void TMainForm::cb_SectionsInvisChange(QComboBox* list)
{
    Guard(QStringLiteral("Tfm_Main.cb_SectionsInvisChange"), [&] {
        const int row = list->property("Tag").toInt();
        SetSectionsCell(4, row, QString::number(list->currentIndex()));
        const int col = SectionsSettings->currentColumn();
        SectionsSettings->setCurrentCell(row - 1, col > 0 ? col : 1);
    });
}

void TMainForm::CheckListBoxClickCheck(QListWidget* list)
{
    Guard(QStringLiteral("Tfm_Main.CheckListBoxClickCheck"), [&] {
        const int row = list->property("Tag").toInt();
        int mask = 0;
        for (int i = 0; i < list->count() && i < 7; ++i)
            if (list->item(i)->checkState() == Qt::Checked)
                mask += 1 << i;
        SetOperatorsCell(2, row, QString::number(mask));
        const int col = Operators->currentColumn();
        Operators->setCurrentCell(row - 1, col >= 0 ? col : 0);
    });
}

// ---------------------------------------------------------------------------
// Grid access

QString TMainForm::GoodsCell(int col, int row) const
{
    return GoodsModel->Cell(col, row);
}

void TMainForm::SetGoodsCell(int col, int row, const QString& text)
{
    GoodsModel->SetCell(col, row, text);
}

QString TMainForm::SectionsCell(int col, int row) const
{
    return GridCell(SectionsSettings, col, row);
}

void TMainForm::SetSectionsCell(int col, int row, const QString& text)
{
    SetGridCell(SectionsSettings, col, row, text);
}

QString TMainForm::OperatorsCell(int col, int row) const
{
    return GridCell(Operators, col, row);
}

void TMainForm::SetOperatorsCell(int col, int row, const QString& text)
{
    SetGridCell(Operators, col, row, text);
}

QComboBox* TMainForm::SectionsList(int row) const
{
    return row >= 1 && row <= SectionRows ? sectionsLists_[row] : nullptr;
}

QListWidget* TMainForm::OperatorRights(int row) const
{
    return row >= 1 && row <= OperatorRows ? operatorRights_[row] : nullptr;
}
