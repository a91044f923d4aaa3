// The main window's layout: menu, speed bar, navigation, pages, journal,
// status bar and the shared file dialogs.
#include "uMainForm.h"

#include "Journal.h"
#include "NavIcons.h"
#include "TLed.h"
#include "uGoodsPage.h"
#include "uInfoPage.h"
#include "uLogoPage.h"
#include "uSettingsPage.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

void TMainForm::BuildFileDialogs()
{
    const auto make = [this](const char* name, QFileDialog::AcceptMode mode) {
        auto* dialog = new QFileDialog(this);
        dialog->setObjectName(QString::fromLatin1(name));
        dialog->setOption(QFileDialog::DontUseNativeDialog, true);
        dialog->setAcceptMode(mode);
        dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                            : QFileDialog::AnyFile);
        dialog->setModal(true);
        return dialog;
    };
    openDialog_ = make("OpenDialog", QFileDialog::AcceptOpen);
    saveDialog_ = make("SaveDialog", QFileDialog::AcceptSave);
}

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
    mm_f_saveProfile = item(mm_File, "mm_f_saveProfile", QStringLiteral("Сохранить профиль ККМ..."));
    mm_f_loadProfile = item(mm_File, "mm_f_loadProfile", QStringLiteral("Загрузить профиль ККМ..."));
    mm_f_compareProfile = item(mm_File, "mm_f_compareProfile", QStringLiteral("Сравнить с профилем..."));
    mm_File->addSeparator();
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

    connect(mm_f_saveProfile, &QAction::triggered, this, &TMainForm::mm_f_saveProfileClick);
    connect(mm_f_loadProfile, &QAction::triggered, this, &TMainForm::mm_f_loadProfileClick);
    connect(mm_f_compareProfile, &QAction::triggered, this, &TMainForm::mm_f_compareProfileClick);
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
    connect(si_ReadTableFromKKM, &QToolButton::clicked, this, &TMainForm::si_ReadTableFromKKMClick);
    connect(si_WriteTableToKKM, &QToolButton::clicked, this, &TMainForm::si_WriteTableToKKMClick);
    connect(si_Import, &QToolButton::clicked, this, &TMainForm::si_ImportClick);
    connect(si_Export, &QToolButton::clicked, this, &TMainForm::si_ExportClick);
    connect(si_StopReading, &QToolButton::clicked, this, &TMainForm::si_StopReadingClick);

    // The goods range stays against the right edge: a stretching spacer in
    // front of it takes up whatever width the window gains.
    QWidget* spacer = new QWidget(SpeedBar);
    spacer->setObjectName(QStringLiteral("SpeedBarSpacer"));
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    SpeedBar->addWidget(spacer);

    // The goods page's range bar, shown while that page is in front.
    SpeedBar->addWidget(ts_Goods->pnl_GoodsRange);
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
    ts_Information = new TInfoPage(this, PageControl);
    ts_KKMOptions = new TSettingsPage(this, PageControl);
    ts_Goods = new TGoodsPage(this, PageControl);
    ts_Logo = new TLogoPage(this, PageControl);
    for (TPage* page : {static_cast<TPage*>(ts_Information), static_cast<TPage*>(ts_KKMOptions),
                        static_cast<TPage*>(ts_Goods), static_cast<TPage*>(ts_Logo)})
        PageControl->addWidget(page);
    centre->addWidget(PageControl, 1);

    re_LogOut = new TJournal(central);
    centre->addWidget(re_LogOut);

    setCentralWidget(central);
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
