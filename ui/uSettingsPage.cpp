#include "uSettingsPage.h"

#include "SettingsJobs.h"

#include "CheckComboBox.h"
#include "GridEdit.h"
#include "KkmText.h"
#include "StringGrid.h"
#include "uMainForm.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QStringList NoYes = {QStringLiteral("НЕТ"), QStringLiteral("ДА")};
const QStringList Speeds = {QStringLiteral("Отключено"), QStringLiteral("1200"),
                            QStringLiteral("2400"),      QStringLiteral("4800"),
                            QStringLiteral("9600"),      QStringLiteral("19200"),
                            QStringLiteral("38400"),     QStringLiteral("57600"),
                            QStringLiteral("115200")};
const QStringList Rights = {
    QStringLiteral("продажа"),     QStringLiteral("возврат"),  QStringLiteral("Скидки/наценки"),
    QStringLiteral("Доп. оплаты"), QStringLiteral("x-отчеты"), QStringLiteral("z-отчеты"),
    QStringLiteral("программирование")};
const QStringList LineAttributes = {QStringLiteral("По ширине"), QStringLiteral("По высоте"),
                                    QStringLiteral("Утолщенный")};

QString Named(const char* base, int n)
{
    return QLatin1String(base) + QString::number(n);
}

QLineEdit* Edit(QWidget* parent, const QString& name, int maxLength)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMaxLength(maxLength);
    return e;
}

// A fixed list: no free text; Selected -1 leaves it without a selection.
QComboBox* List(QWidget* parent, const QString& name, const QStringList& items, int selected)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    c->setCurrentIndex(selected);
    return c;
}

TCheckComboBox* CheckedList(QWidget* parent, const QString& name, const QStringList& items)
{
    auto* c = new TCheckComboBox(parent);
    c->setObjectName(name);
    c->SetItems(items);
    return c;
}

// A caption in front of its control, one row of a two-column grid.
void AddRow(QGridLayout* grid, const QString& caption, QWidget* control)
{
    const int row = grid->rowCount();
    auto* label = new QLabel(caption, control->parentWidget());
    label->setBuddy(control);
    grid->addWidget(label, row, 0);
    grid->addWidget(control, row, 1);
}

QGridLayout* FormGrid(QWidget* sheet)
{
    auto* outer = new QVBoxLayout(sheet);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(8);
    grid->setColumnMinimumWidth(1, 220);
    outer->addLayout(grid);
    outer->addStretch(1);
    return grid;
}

QLabel* HeaderLabel(QWidget* parent, const QString& text)
{
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

QIcon CentreIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    const int widths[] = {12, 8, 12, 6};
    for (int i = 0; i < 4; ++i) {
        const int w = widths[i];
        p.drawLine((16 - w) / 2, 3 + 3 * i, (16 + w) / 2 - 1, 3 + 3 * i);
    }
    return QIcon(pixmap);
}

bool IsDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

TSettingsPage::TSettingsPage(TMainForm* main, QWidget* parent)
    : TPage(main, "ts_KKMOptions", QStringLiteral("Настройки ДЛФ"), parent)
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    pc_Options = new QTabWidget(this);
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

    BuildMainOptions();
    BuildPrintOptions();
    BuildTextLines();
    BuildDiscounts();
    BuildTaxes();
    BuildGrids();
    BuildDevices();
    BuildPayTypes();

    QWidget* holders = Main->ExpressPanel ? Main->ExpressPanel : this;
    cb_SectionsInvis = List(holders, QStringLiteral("cb_SectionsInvis"),
                            {QStringLiteral("Торговля"), QStringLiteral("Услуги")}, -1);
    cb_SectionsInvis->hide();
    CheckListBox = new QListWidget(holders);
    CheckListBox->setObjectName(QStringLiteral("CheckListBox"));
    CheckListBox->hide();

    // Only digits, "-" and Backspace reach the numeric edits.
    numericEdits_ = {ed_ScreenDelay, ed_AutoLock, ed_INN, ed_PoContrast, ed_PoStringInterval};
    for (QLineEdit* e : numericEdits_)
        e->installEventFilter(this);
}

// ---------------------------------------------------------------------------
// Layout of the sub-pages

void TSettingsPage::BuildMainOptions()
{
    QWidget* s = ts_KKMMainOptions;
    QGridLayout* grid = FormGrid(s);
    cb_RegOptions = CheckedList(s, QStringLiteral("cb_RegOptions"),
                                {QStringLiteral("Продажа по коду"), QStringLiteral("Свободная цена"),
                                 QStringLiteral("Своб. цена товара"), QStringLiteral("Свободные скидки"),
                                 QStringLiteral("Контрол. дробное")});
    cb_MoneyBoxList = List(s, QStringLiteral("cb_MoneyBoxList"),
                           {QStringLiteral("Выкл."), QStringLiteral("6 В"), QStringLiteral("12 В")}, 0);
    cb_zOptions = CheckedList(s, QStringLiteral("cb_zOptions"),
                              {QStringLiteral("Отчет по отделам"), QStringLiteral("Отч. по кассирам"),
                               QStringLiteral("Отчет по налогам"), QStringLiteral("Инкасация")});
    QStringList cashiers;
    for (int i = 0; i <= 7; ++i)
        cashiers << QString::number(i);
    cb_Kassir = List(s, QStringLiteral("cb_Kassir"), cashiers, 0);
    ed_ScreenDelay = Edit(s, QStringLiteral("ed_ScreenDelay"), 3);
    ed_AutoLock = Edit(s, QStringLiteral("ed_AutoLock"), 2);
    cb_WritingJournal = List(s, QStringLiteral("cb_WritingJournal"), NoYes, 0);
    ed_INN = Edit(s, QStringLiteral("ed_INN"), 12);

    AddRow(grid, QStringLiteral("Опции регистрации"), cb_RegOptions);
    AddRow(grid, QStringLiteral("Денежный ящик"), cb_MoneyBoxList);
    AddRow(grid, QStringLiteral("Опции Z-отчета"), cb_zOptions);
    AddRow(grid, QStringLiteral("Кассир по умолчанию"), cb_Kassir);
    AddRow(grid, QStringLiteral("Длительность подсветки (сек. 0 - 999)"), ed_ScreenDelay);
    AddRow(grid, QStringLiteral("Автоматическая блокировка (сек. 0 - 60)"), ed_AutoLock);
    AddRow(grid, QStringLiteral("Вести журнал"), cb_WritingJournal);
    AddRow(grid, QStringLiteral("ИНН"), ed_INN);
}

void TSettingsPage::BuildPrintOptions()
{
    QWidget* s = ts_KKMPrintOpt;
    QGridLayout* grid = FormGrid(s);
    ed_PoContrast = Edit(s, QStringLiteral("ed_PoContrast"), 1);
    ed_PoStringInterval = Edit(s, QStringLiteral("ed_PoStringInterval"), 1);
    cb_PoEconFont = List(s, QStringLiteral("cb_PoEconFont"), NoYes, 0);
    cb_PoDocSep = List(s, QStringLiteral("cb_PoDocSep"), NoYes, 0);
    cb_PoObraml = CheckedList(
        s, QStringLiteral("cb_PoObraml"),
        {QStringLiteral("Изображение заголовка"), QStringLiteral("Строки  заголовка"),
         QStringLiteral("Реквизиты кассира"), QStringLiteral("Место подписи"),
         QStringLiteral("Изображение окончания"), QStringLiteral("Строки окончания")});
    cb_PoCheck = CheckedList(
        s, QStringLiteral("cb_PoCheck"),
        {QStringLiteral("Названия отделов"), QStringLiteral("Номера отделов"),
         QStringLiteral("Названия товаров"), QStringLiteral("Коды товаров"),
         QStringLiteral("Единичное кол-во"), QStringLiteral("Печать налогов"),
         QStringLiteral("Выделять ИТОГ")});

    AddRow(grid, QStringLiteral("Контраст печати (1 .. 4)"), ed_PoContrast);
    AddRow(grid, QStringLiteral("Межстрочный интервал (0 .. 8)"), ed_PoStringInterval);
    AddRow(grid, QStringLiteral("Экономный шрифт"), cb_PoEconFont);
    AddRow(grid, QStringLiteral("Разделители документов"), cb_PoDocSep);
    AddRow(grid, QStringLiteral("Обрамление чека"), cb_PoObraml);
    AddRow(grid, QStringLiteral("Настройки чека"), cb_PoCheck);
}

void TSettingsPage::BuildTextLines()
{
    QWidget* s = ts_KKMReklama;
    auto* column = new QVBoxLayout(s);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);

    struct TLineNames {
        const char* Edit;
        const char* Attributes;
        QLineEdit** EditMember;
        TCheckComboBox** AttributesMember;
        QToolButton** ButtonMember;
    };
    const TLineNames lines[TextLines] = {
        {"ed_CheckBeginFirst", "cb_CheckBeginfirstc", &ed_CheckBeginFirst, &cb_CheckBeginfirstc, &bCenter1},
        {"ed_CheckBeginSecond", "cb_CheckBeginSecondc", &ed_CheckBeginSecond, &cb_CheckBeginSecondc, &bCenter2},
        {"ed_CheckBeginThird", "cb_CheckBeginThirdc", &ed_CheckBeginThird, &cb_CheckBeginThirdc, &bCenter3},
        {"ed_CheckTop", "cb_checkTopc", &ed_CheckTop, &cb_checkTopc, &bCenter4},
        {"ed_CheckEndFirst", "cb_CheckEndFirstc", &ed_CheckEndFirst, &cb_CheckEndFirstc, &bCenter5},
        {"ed_CheckEndSecond", "cb_CheckEndSecondc", &ed_CheckEndSecond, &cb_CheckEndSecondc, &bCenter6},
        {"ed_CheckEndThird", "cb_CheckEndThirdc", &ed_CheckEndThird, &cb_CheckEndThirdc, &bCenter7},
        {"ed_BuyDisplayFirst", "cb_BuyDisplayFirstc", &ed_BuyDisplayFirst, &cb_BuyDisplayFirstc, &bCenter8},
        {"ed_BuyDisplaySecond", "cb_BuyDisplaySecondc", &ed_BuyDisplaySecond, &cb_BuyDisplaySecondc, &bCenter9},
    };
    // Groups from top to bottom, with the records they hold.
    const struct {
        QString Caption;
        int First;
        int Last;
    } groups[] = {{QStringLiteral("Начало чека"), 1, 3},
                  {QStringLiteral("Заголовок чека"), 4, 4},
                  {QStringLiteral("Окончание чека"), 5, 7},
                  {QStringLiteral("Дисплей покупателя "), 8, 9}};
    const QIcon centre = CentreIcon();
    for (const auto& g : groups) {
        auto* box = new QGroupBox(g.Caption, s);
        auto* grid = new QGridLayout(box);
        grid->setContentsMargins(8, 6, 8, 6);
        grid->setVerticalSpacing(4);
        grid->setColumnStretch(0, 1);
        for (int n = g.First; n <= g.Last; ++n) {
            const TLineNames& names = lines[n - 1];
            QLineEdit* edit = Edit(box, QLatin1String(names.Edit), 32);
            QFont mono(QStringLiteral("Monospace"));
            mono.setStyleHint(QFont::TypeWriter);
            edit->setFont(mono);
            TCheckComboBox* attributes = CheckedList(box, QLatin1String(names.Attributes),
                                                     LineAttributes);
            attributes->setMinimumWidth(170);
            auto* button = new QToolButton(box);
            button->setObjectName(Named("bCenter", n));
            button->setToolTip(QStringLiteral("Выравнять по центру"));
            button->setIcon(centre);
            button->setAutoRaise(true);
            const int row = n - g.First;
            grid->addWidget(edit, row, 0);
            grid->addWidget(attributes, row, 1);
            grid->addWidget(button, row, 2);
            *names.EditMember = edit;
            *names.AttributesMember = attributes;
            *names.ButtonMember = button;
            lineEdits_[n] = edit;
            lineAttributes_[n] = attributes;
            centreButtons_[n] = button;
            connect(button, &QToolButton::clicked, this, [this, button] { bCenter1Click(button); });
        }
        column->addWidget(box);
    }
    column->addStretch(1);
}

void TSettingsPage::BuildDiscounts()
{
    QWidget* s = ts_KKMDiscounts;
    auto* outer = new QVBoxLayout(s);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    outer->addLayout(grid);
    outer->addStretch(1);
    const QString headers[] = {QStringLiteral("Величина, %"), QStringLiteral("Наименование"),
                               QStringLiteral("Вид изм. стоимости"), QStringLiteral("Тип "),
                               QStringLiteral("Авторизация")};
    for (int c = 0; c < 5; ++c)
        grid->addWidget(HeaderLabel(s, headers[c]), 0, c + 1);
    for (int n = 1; n <= DiscountRows; ++n) {
        grid->addWidget(new QLabel(QString::number(n), s), n, 0);
        ed_DscValue[n] = Edit(s, Named("ed_DscValue", n), 5);
        ed_DscName[n] = Edit(s, Named("ed_DscName", n), 16);
        cb_DscType[n] = List(s, Named("cb_DscType", n),
                             {QStringLiteral("Скидка"), QStringLiteral("Наценка")}, -1);
        cb_DscSummType[n] = List(s, Named("cb_DscSummType", n),
                                 {QStringLiteral("Процентная"), QStringLiteral("Суммовая")}, -1);
        cb_DscAuth[n] = new QCheckBox(s);
        cb_DscAuth[n]->setObjectName(Named("cb_DscAuth", n));
        grid->addWidget(ed_DscValue[n], n, 1);
        grid->addWidget(ed_DscName[n], n, 2);
        grid->addWidget(cb_DscType[n], n, 3);
        grid->addWidget(cb_DscSummType[n], n, 4);
        grid->addWidget(cb_DscAuth[n], n, 5, Qt::AlignHCenter);
    }
}

void TSettingsPage::BuildTaxes()
{
    QWidget* s = ts_Taxes;
    auto* outer = new QVBoxLayout(s);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    outer->addLayout(grid);
    outer->addStretch(1);
    grid->addWidget(HeaderLabel(s, QStringLiteral("Наименование")), 0, 0);
    grid->addWidget(HeaderLabel(s, QStringLiteral("Величина")), 0, 1);
    for (int n = 1; n <= TaxRows; ++n) {
        ed_txName[n] = Edit(s, Named("ed_txName", n), 5);
        ed_txValue[n] = Edit(s, Named("ed_txValue", n), 5);
        grid->addWidget(ed_txName[n], n, 0);
        grid->addWidget(ed_txValue[n], n, 1);
    }
    grid->setColumnStretch(2, 1);
}

void TSettingsPage::BuildDevices()
{
    QWidget* s = ts_Devices;
    auto* outer = new QVBoxLayout(s);
    outer->setContentsMargins(12, 12, 12, 12);
    auto group = [&](const QString& caption) {
        auto* box = new QGroupBox(caption, s);
        auto* grid = new QGridLayout(box);
        grid->setColumnMinimumWidth(1, 180);
        grid->setColumnStretch(2, 1);
        outer->addWidget(box);
        return std::pair{box, grid};
    };
    auto [scanner, scannerGrid] = group(QStringLiteral("Сканер штрих-кода"));
    cb_BarcodeSpeed = List(scanner, QStringLiteral("cb_BarcodeSpeed"), Speeds, -1);
    AddRow(scannerGrid, QStringLiteral("Скорость обмена"), cb_BarcodeSpeed);

    auto [scales, scalesGrid] = group(QStringLiteral("Электронные весы"));
    cb_ElectronicScaleSpeed = List(scales, QStringLiteral("cb_ElectronicScaleSpeed"), Speeds, -1);
    cb_ElectronicScaleProtocol =
        List(scales, QStringLiteral("cb_ElectronicScaleProtocol"),
             {QStringLiteral("Штрих - 5"), QStringLiteral("Масса - 1"), QStringLiteral("Масса - 2")}, -1);
    cb_ElecticScalesInterface = List(scales, QStringLiteral("cb_ElecticScalesInterface"),
                                     {QStringLiteral("RS232"), QStringLiteral("Токовая петля")}, -1);
    AddRow(scalesGrid, QStringLiteral("Скорость обмена"), cb_ElectronicScaleSpeed);
    AddRow(scalesGrid, QStringLiteral("Протокол"), cb_ElectronicScaleProtocol);
    AddRow(scalesGrid, QStringLiteral("Интерфейс"), cb_ElecticScalesInterface);

    auto [pc, pcGrid] = group(QStringLiteral("ПК"));
    cb_PCSpeed = List(pc, QStringLiteral("cb_PCSpeed"), Speeds, -1);
    AddRow(pcGrid, QStringLiteral("Скорость обмена"), cb_PCSpeed);
    outer->addStretch(1);
}

void TSettingsPage::BuildPayTypes()
{
    QWidget* s = ts_PayTypes;
    auto* outer = new QVBoxLayout(s);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    outer->addLayout(grid);
    outer->addStretch(1);
    grid->addWidget(HeaderLabel(s, QStringLiteral("Название типа оплаты")), 0, 0);
    grid->addWidget(HeaderLabel(s, QStringLiteral("Разрешение")), 0, 1);
    for (int n = 1; n <= PayTypeRows; ++n) {
        ed_PayType[n] = Edit(s, Named("ed_PayType", n), 12);
        cb_PayType[n] = new QCheckBox(s);
        cb_PayType[n]->setObjectName(Named("cb_PayType", n));
        grid->addWidget(ed_PayType[n], n, 0);
        grid->addWidget(cb_PayType[n], n, 1, Qt::AlignHCenter);
    }
    grid->setColumnStretch(2, 1);
}

void TSettingsPage::BuildGrids()
{
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
        grid->setSelectionMode(QAbstractItemView::SingleSelection);
        panelLayout->addWidget(grid);
    };
    gridOnPanel(ts_Sections, "pnl_sections", "SectionsSettings", pnl_sections, SectionsSettings);
    gridOnPanel(ts_Operators, "pnl_operators", "Operators", pnl_operators, Operators);

    // The sections grid's cell editor opens wherever the current cell goes.
    SectionsSettings->setEditTriggers(QAbstractItemView::AllEditTriggers);
    auto* sectionsEditor = new TLiveEditDelegate(SectionsSettings);
    sectionsEditor->OnKeyUp = [this] { SectionsSettingsKeyUp(); };
    SectionsSettings->setItemDelegate(sectionsEditor);
    SectionsSettings->installEventFilter(this);
    SectionsSettings->viewport()->installEventFilter(this);

    auto* operatorsEditor = new TLiveEditDelegate(Operators);
    operatorsEditor->OnEditText = [this](int col, int row, const QString& text) {
        OperatorsSetEditText(col, row, text);
    };
    Operators->setItemDelegate(operatorsEditor);
    Operators->viewport()->installEventFilter(this);

    // Scrolling moves the overlays along with their cells.
    for (QScrollBar* bar : {SectionsSettings->horizontalScrollBar(), SectionsSettings->verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, &TSettingsPage::PlaceSectionsLists);
    for (QScrollBar* bar : {Operators->horizontalScrollBar(), Operators->verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, &TSettingsPage::PlaceOperatorRights);
    connect(SectionsSettings->horizontalHeader(), &QHeaderView::sectionResized, this,
            &TSettingsPage::PlaceSectionsLists);
    connect(Operators->horizontalHeader(), &QHeaderView::sectionResized, this,
            &TSettingsPage::PlaceOperatorRights);
}

// ---------------------------------------------------------------------------
// Start-up

void TSettingsPage::SetUpSectionsGrid()
{
    // A fixed row of headers and a fixed column of labels.
    SectionsSettings->setColumnCount(5);
    SectionsSettings->setRowCount(SectionRows);
    SectionsSettings->verticalHeader()->setDefaultSectionSize(20);
    const int widths[] = {100, 140, 90, 100, 120};
    const QString headers[] = {QStringLiteral("Отделы"), QStringLiteral("Наименование"),
                               QStringLiteral("Код налога"), QStringLiteral("Разрядность"),
                               QStringLiteral("Сфера применен.")};
    for (int c = 0; c < 5; ++c) {
        SectionsSettings->setColumnWidth(c, widths[c]);
        SetSectionsCell(c, 0, headers[c]);
    }
    for (int r = 1; r <= SectionRows; ++r) {
        SetSectionsCell(0, r, QStringLiteral("Отдел ") + QString::number(r));
        QTableWidgetItem* label = SectionsSettings->item(r - 1, 0);
        label->setFlags(Qt::ItemIsEnabled);
        label->setBackground(palette().brush(QPalette::Button));

        // The cell under the list is changed through the list only.
        auto* sphere = new QTableWidgetItem;
        sphere->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        SectionsSettings->setItem(r - 1, 4, sphere);

        QComboBox* list = new QComboBox(pnl_sections);
        list->setObjectName(Named("cb_Sections", r));
        list->addItems({QStringLiteral("Торговля"), QStringLiteral("Услуги")});
        list->setProperty("Tag", r);
        list->hide();
        list->raise();
        connect(list, &QComboBox::currentIndexChanged, this, [this, list] { cb_SectionsInvisChange(list); });
        sectionsLists_[r] = list;
    }
}

void TSettingsPage::SetUpOperatorsGrid()
{
    // No fixed column; a rights check list per row.
    Operators->setColumnCount(3);
    Operators->setRowCount(OperatorRows);
    Operators->verticalHeader()->setDefaultSectionSize(70);
    const int widths[] = {250, 250, 120};
    const QString headers[] = {QStringLiteral("Должность"), QStringLiteral("ФИО"),
                               QStringLiteral("Права доступа")};
    for (int c = 0; c < 3; ++c) {
        Operators->setColumnWidth(c, widths[c]);
        SetOperatorsCell(c, 0, headers[c]);
    }
    for (int r = 1; r <= OperatorRows; ++r) {
        QListWidget* list = new QListWidget(pnl_operators);
        list->setObjectName(Named("CheckListBox", r));
        list->setProperty("Tag", r);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        for (const QString& right : Rights) {
            auto* item = new QListWidgetItem(right, list);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Unchecked);
        }
        connect(list, &QListWidget::itemChanged, this, [this, list] { CheckListBoxClickCheck(list); });
        list->hide();
        list->raise();
        operatorRights_[r] = list;
    }
}

void TSettingsPage::DisableReadOnlyPages()
{
    // The read-only tables' pages can be shown and filled by reading, but
    // their controls take no input.
    for (int i = spDiscounts; i < pc_Options->count(); ++i)
        pc_Options->widget(i)->setEnabled(false);
    pc_Options->widget(spOperators)->setEnabled(true);
    pc_Options->setCurrentIndex(spMainOptions);
}

// ---------------------------------------------------------------------------
// Grid access

QString TSettingsPage::SectionsCell(int col, int row) const
{
    return GridCell(SectionsSettings, col, row);
}

void TSettingsPage::SetSectionsCell(int col, int row, const QString& text)
{
    SetGridCell(SectionsSettings, col, row, text);
}

QString TSettingsPage::OperatorsCell(int col, int row) const
{
    return GridCell(Operators, col, row);
}

void TSettingsPage::SetOperatorsCell(int col, int row, const QString& text)
{
    SetGridCell(Operators, col, row, text);
}

QComboBox* TSettingsPage::SectionsList(int row) const
{
    return row >= 1 && row <= SectionRows ? sectionsLists_[row] : nullptr;
}

QListWidget* TSettingsPage::OperatorRights(int row) const
{
    return row >= 1 && row <= OperatorRows ? operatorRights_[row] : nullptr;
}

void TSettingsPage::SetSectionsSphere(int row, int value)
{
    QComboBox* list = SectionsList(row);
    if (!list)
        return;
    const int index = value == 1 ? 1 : 0;
    SetSectionsCell(4, row, QString::number(index));
    const QSignalBlocker quiet(list);
    list->setCurrentIndex(index);
}

void TSettingsPage::SetOperatorRightsMarks(int row, int mask)
{
    QListWidget* list = OperatorRights(row);
    if (!list)
        return;
    // Marks set by code must not rewrite the rights cell.
    const QSignalBlocker quiet(list);
    for (int i = 0; i < list->count() && i < 7; ++i)
        list->item(i)->setCheckState((mask >> i) & 1 ? Qt::Checked : Qt::Unchecked);
    list->viewport()->update();
}

QLineEdit* TSettingsPage::TextLineEdit(int record) const
{
    return record >= 1 && record <= TextLines ? lineEdits_[record] : nullptr;
}

TCheckComboBox* TSettingsPage::TextLineAttributes(int record) const
{
    return record >= 1 && record <= TextLines ? lineAttributes_[record] : nullptr;
}

QToolButton* TSettingsPage::CentreButton(int record) const
{
    return record >= 1 && record <= TextLines ? centreButtons_[record] : nullptr;
}

// ---------------------------------------------------------------------------
// Sections grid

void TSettingsPage::SectionsSettingsDrawCell(int col, int row)
{
    if (col != 4 || row < 1 || row > SectionRows)
        return;
    Main->Guard(QStringLiteral("Tfm_Main.SectionsSettingsDrawCell"), [&] {
        QComboBox* list = sectionsLists_[row];
        PlaceOverCell(SectionsSettings, col, row - 1, list);
        if (SectionsCell(col, row).isEmpty())
            SetSectionsCell(col, row, QStringLiteral("0"));
        // Following the cell is no change made by the user. A value without
        // an item leaves the list without a selection rather than raising an
        // error from every paint.
        bool number = false;
        const int index = SectionsCell(col, row).toInt(&number);
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(number && index >= 0 && index < list->count() ? index : -1);
    });
}

void TSettingsPage::PlaceSectionsLists()
{
    for (int r = 1; r <= SectionRows; ++r)
        if (sectionsLists_[r])
            SectionsSettingsDrawCell(4, r);
}

void TSettingsPage::cb_SectionsInvisChange(QComboBox* list)
{
    Main->Guard(QStringLiteral("Tfm_Main.cb_SectionsInvisChange"), [&] {
        const int row = list->property("Tag").toInt();
        SetSectionsCell(4, row, QString::number(list->currentIndex()));
        const int col = SectionsSettings->currentColumn();
        SectionsSettings->setCurrentCell(row - 1, col > 0 ? col : 1);
    });
}

void TSettingsPage::SectionsSettingsKeyUp()
{
    Main->Guard(QStringLiteral("Tfm_Main.SectionsSettingsKeyUp"), [&] {
        const int col = SectionsSettings->currentColumn();
        const int row = SectionsSettings->currentRow() + 1;
        if (col < 0 || row < 1)
            return;
        const QString text = SectionsCell(col, row);
        if (text.isEmpty())
            return;
        QString t = text;
        switch (col) {
        case 1: // name
            t = t.left(11);
            break;
        case 2: // tax code 0..4
            t = t.left(1);
            if (t[0] < QLatin1Char('0') || t[0] > QLatin1Char('4'))
                t.clear();
            break;
        case 3: // digits 0..9
            t = t.left(1);
            if (!IsDigit(t[0]))
                t.clear();
            break;
        default:
            break;
        }
        // The open editor follows the cell.
        if (t != text)
            SetSectionsCell(col, row, t);
    });
}

// ---------------------------------------------------------------------------
// Operators grid

void TSettingsPage::OperatorsDrawCell(int col, int row)
{
    if (col != 2 || row < 1 || row > OperatorRows)
        return;
    Main->Guard(QStringLiteral("Tfm_Main.OperatorsDrawCell"), [&] {
        // One pixel in at the left and top, so the grid line stays visible.
        PlaceOverCell(Operators, col, row - 1, operatorRights_[row], QMargins(1, 1, 0, 0));
    });
}

void TSettingsPage::PlaceOperatorRights()
{
    for (int r = 1; r <= OperatorRows; ++r)
        if (operatorRights_[r])
            OperatorsDrawCell(2, r);
}

void TSettingsPage::CheckListBoxClickCheck(QListWidget* list)
{
    Main->Guard(QStringLiteral("Tfm_Main.CheckListBoxClickCheck"), [&] {
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

void TSettingsPage::OperatorsSetEditText(int col, int row, const QString& text)
{
    Main->Guard(QStringLiteral("Tfm_Main.OperatorsSetEditText"), [&] {
        if (text.size() > 32)
            SetOperatorsCell(col, row, text.left(32));
    });
}

// ---------------------------------------------------------------------------
// Numeric edits and text lines

bool TSettingsPage::NumericKeyAllowed(const QString& editName, QChar key)
{
    if (!(key == QChar(8) || key == QLatin1Char('-') || IsDigit(key) || key == QLatin1Char('.')))
        return false;
    static const QStringList whole = {
        QStringLiteral("ed_INN"), QStringLiteral("ed_ScreenDelay"), QStringLiteral("ed_AutoLock"),
        QStringLiteral("ed_PoContrast"), QStringLiteral("ed_PoStringInterval")};
    return !(key == QLatin1Char('.') && whole.contains(editName));
}

bool TSettingsPage::ed_DateIntervalKeyPress(QLineEdit* edit, QChar key)
{
    bool allowed = true;
    Main->Guard(QStringLiteral("Tfm_Main.me_KKMAddrKeyPress"), [&] {
        allowed = NumericKeyAllowed(edit->objectName(), key);
    });
    return allowed;
}

QString TSettingsPage::CentredText(const QString& text, bool doubleWidth)
{
    QString t = TrimText(text);
    const int n = t.size();
    const int width = doubleWidth ? 16 : 32;
    if (doubleWidth && n > width)
        t.truncate(width);
    if (n < width)
        t.prepend(QString((width - n) / 2, QLatin1Char(' ')));
    return t;
}

void TSettingsPage::bCenter1Click(QToolButton* button)
{
    Main->Guard(QStringLiteral("Tfm_Main.bCenter1Click"), [&] {
        const int record = int(std::find(centreButtons_.begin(), centreButtons_.end(), button) -
                               centreButtons_.begin());
        if (record < 1 || record > TextLines)
            throw EKkmError(QStringLiteral("Неизвестная кнопка выравнивания"));
        QLineEdit* edit = lineEdits_[record];
        edit->setText(CentredText(edit->text(), lineAttributes_[record]->Checked(0)));
    });
}

// ---------------------------------------------------------------------------
// Events

bool TSettingsPage::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress) {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit && std::find(numericEdits_.begin(), numericEdits_.end(), edit) != numericEdits_.end()) {
            // Only typed characters are filtered; editing keys and shortcuts
            // pass as they are.
            const QString text = static_cast<QKeyEvent*>(event)->text();
            if (text.size() == 1 && text[0].isPrint() && !ed_DateIntervalKeyPress(edit, text[0]))
                return true;
        }
    } else if (type == QEvent::KeyRelease && watched == SectionsSettings) {
        SectionsSettingsKeyUp();
    } else if (type == QEvent::Paint || type == QEvent::Resize || type == QEvent::Show) {
        // Painting the grid lays the overlays over their cells.
        if (watched == SectionsSettings->viewport())
            PlaceSectionsLists();
        else if (watched == Operators->viewport())
            PlaceOperatorRights();
    }
    return TPage::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Binding the table map to the controls

void TSettingsPage::SetFieldValue(const TFieldValue& v)
{
    const TFieldSpec& f = *v.Field;
    QWidget* control = Control(f.Control);
    if (!control)
        throw EKkmError(QStringLiteral("Нет элемента %1").arg(f.Control));
    if (f.Kind == TControlKind::GridCell) {
        auto* grid = qobject_cast<QTableWidget*>(control);
        if (!grid)
            throw EKkmError(QStringLiteral("%1 не таблица").arg(f.Control));
        if (f.Encoding == TEncoding::Sphere && grid == SectionsSettings) {
            // The cell and the row's list together.
            SetSectionsSphere(v.Row, v.Value.Index);
            return;
        }
        SetGridCell(grid, f.Column, v.Row, v.Value.Text);
        // The marks follow the cell's number; the handler must not write
        // the cell back.
        if (f.Encoding == TEncoding::OperatorRights && grid == Operators)
            SetOperatorRightsMarks(v.Row, static_cast<int>(v.Value.Bits));
        return;
    }
    // The checked list is a combo box as well, so it is asked for first.
    if (auto* checked = qobject_cast<TCheckComboBox*>(control))
        checked->SetMask(v.Value.Bits);
    else if (auto* list = qobject_cast<QComboBox*>(control))
        list->setCurrentIndex(v.Value.Index >= 0 && v.Value.Index < list->count() ? v.Value.Index : -1);
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        SetWholeText(edit, v.Value.Text);
    else if (auto* box = qobject_cast<QCheckBox*>(control))
        box->setChecked(v.Value.Checked);
    else
        throw EKkmError(QStringLiteral("%1: неизвестный вид элемента").arg(f.Control));
}

void TSettingsPage::SetWholeText(QLineEdit* edit, const QString& text)
{
    // An edit's length limit is for typing. A line edit cuts whatever it is
    // given to its limit, and a value read from the register cut that way
    // (a contrast of 10 shown as 1) would be written back changed; such a
    // value widens the limit for as long as it is shown.
    QVariant limit = edit->property("TypingLimit");
    if (!limit.isValid()) {
        limit = edit->maxLength();
        edit->setProperty("TypingLimit", limit);
    }
    edit->setMaxLength(std::max(limit.toInt(), static_cast<int>(text.size())));
    edit->setText(text);
}

TControlValue TSettingsPage::FieldValue(const TFieldSpec& f, int row) const
{
    QWidget* control = Control(f.Control);
    if (!control)
        throw EKkmError(QStringLiteral("Нет элемента %1").arg(f.Control));
    TControlValue v;
    if (f.Kind == TControlKind::GridCell) {
        auto* grid = qobject_cast<QTableWidget*>(control);
        if (!grid)
            throw EKkmError(QStringLiteral("%1 не таблица").arg(f.Control));
        v.Text = GridCell(grid, f.Column, row);
        if (f.Encoding == TEncoding::Sphere && grid == SectionsSettings)
            if (const QComboBox* list = SectionsList(row))
                v.Index = list->currentIndex();
        return v;
    }
    if (auto* checked = qobject_cast<TCheckComboBox*>(control))
        v.Bits = checked->Mask();
    else if (auto* list = qobject_cast<QComboBox*>(control))
        v.Index = list->currentIndex();
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        v.Text = edit->text();
    else if (auto* box = qobject_cast<QCheckBox*>(control))
        v.Checked = box->isChecked();
    else
        throw EKkmError(QStringLiteral("%1: неизвестный вид элемента").arg(f.Control));
    return v;
}

// ---------------------------------------------------------------------------
// Reading

const TTableSpec* TSettingsPage::CurrentTable() const
{
    const int sub = pc_Options->currentIndex();
    const std::vector<TTableSpec>& tables = SettingsTables();
    if (sub < 0 || sub >= static_cast<int>(tables.size()))
        return nullptr;
    return &tables[static_cast<std::size_t>(sub)];
}

void TSettingsPage::ReadTable()
{
    const TTableSpec* table = CurrentTable();
    if (!table)
        return;
    Main->StartJob(QStringLiteral("TMainForm.si_ReadTableFromKKMClick"),
                   [this, table](kkm::TJobContext& job) {
                       kkm::SettingsReadJob(job, *table, [this, &job](const std::vector<TFieldValue>& values) {
                           job.Post([this, values] {
                               for (const TFieldValue& v : values)
                                   SetFieldValue(v);
                           });
                       });
                   });
}

// ---------------------------------------------------------------------------
// Writing

TControlValue TSettingsPage::WriteValue(const TTableSpec& t, const TFieldValue& v, int record) const
{
    if (t.Table != 4)
        return FieldValue(*v.Field, v.Row);
    // Text lines: the line's edit and its attribute list.
    if (!TextLineEdit(record))
        throw EKkmError(QStringLiteral("Нет строки %1").arg(record));
    TControlValue value;
    if (v.Field->Encoding == TEncoding::LineAttributes) {
        const TCheckComboBox* list = TextLineAttributes(record);
        value.Bits = list ? list->Mask() : 0;
    } else {
        value.Text = TextLineEdit(record)->text();
    }
    return value;
}

void TSettingsPage::WriteTable()
{
    const TTableSpec* table = CurrentTable();
    if (!table)
        return;
    const TTableSpec& t = *table;
    // Read-only tables: nothing, not even a journal line.
    if (t.Write == TWriteKind::Never)
        return;
    // The values are taken, encoded and their defaults shown now; the job
    // only sends them.
    auto plan = std::make_shared<kkm::TSettingsWritePlan>(kkm::PlanSettingsWrite(
        t, [&](const TFieldValue& v, int record) { return WriteValue(t, v, record); },
        [this](const TFieldValue& v) { SetFieldValue(v); }));
    if (plan->Items.empty() && !plan->BuildError.isEmpty()) {
        Main->WriteLog(t.WriteStartLine, QColor(clBlack));
        throw EKkmError(plan->BuildError);
    }
    auto outcome = std::make_shared<kkm::TWriteOutcome>(kkm::TWriteOutcome::Written);
    Main->StartJob(
        QStringLiteral("TMainForm.si_WriteTableToKKMClick"),
        [plan, outcome](kkm::TJobContext& job) { *outcome = kkm::SettingsWriteJob(job, *plan); },
        [plan, outcome] {
            // Everything before the value that could not be encoded went out.
            if (*outcome == kkm::TWriteOutcome::NotEncoded)
                throw EKkmError(plan->BuildError);
        });
}
