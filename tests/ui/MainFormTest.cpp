// The main window without a register: start-up state, the idle-time command
// availability, navigation, the journal, the error report and the guard.
#include "GoodsModel.h"
#include "KkmText.h"
#include "TLed.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include <cstdio>
#include <memory>


class MainFormTest : public QObject {
    Q_OBJECT

private slots:
    void startUpState();
    void everythingFitsTheMinimumSize();
    void controlTexts_data();
    void controlTexts();
    void pagesAndGridsAreCreated();
    void availability_data();
    void availability();
    void idleUpdateRunsWhenTheLoopWaits();
    void navigationButtonsSwitchPages_data();
    void navigationButtonsSwitchPages();
    void journalNewestOnTopWithColours();
    void journalIgnoresBlankTexts_data();
    void journalIgnoresBlankTexts();
    void showErrorText();
    void guardShowsErrorAndEndsHandler_data();
    void guardShowsErrorAndEndsHandler();
    void ledDoubleClicks();
    void stopButtonSetsFlag();
    void registerTexts_data();
    void registerTexts();
    void userEntry_data();
    void userEntry();
};

void MainFormTest::startUpState()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;

    QCOMPARE(m.windowTitle(), QStringLiteral("Конфигуратор ДЛФ v0.5a"));
    QCOMPARE(m.WorkMode, TMainForm::wmOffline);
    QVERIFY(!m.ts_Goods->StopRequested);
    QCOMPARE(m.Session->TimeOut(), 200u);
    QCOMPARE(m.Session->Protokol()->Version(), QStringLiteral("OmvekCP ver.2.1 may.09"));
    QVERIFY(!m.Session->PortOpened());

    bool wellFormed = false;
    const QList<TLogEntry> log = JournalEntries(m.re_LogOut, &wellFormed);
    QVERIFY(wellFormed);
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].Text, QStringLiteral("Начало работы программы."));
    QCOMPARE(log[0].TextColor, QColor(clBlack));
    QCOMPARE(m.ActivePage(), int(TMainForm::pgInformation));
    QVERIFY(m.re_LogOut->isReadOnly());

    // Let the program go idle once, as after start-up.
    QVERIFY(SpinUntil([&] { return !m.led_connected->Hint().isEmpty(); }));
    for (QWidget* command : {static_cast<QWidget*>(m.si_ReadTableFromKKM), static_cast<QWidget*>(m.si_WriteTableToKKM),
                             static_cast<QWidget*>(m.si_StopReading), static_cast<QWidget*>(m.si_Import),
                             static_cast<QWidget*>(m.si_Export)})
        QVERIFY2(!command->isEnabled(), qPrintable(command->objectName()));
    QVERIFY(!m.mm_c_disconnect->isEnabled());
    QVERIFY(!m.mm_c_auth->isEnabled());
    QVERIFY(m.mm_c_connect->isEnabled());
    QVERIFY(m.mm_f_exit->isEnabled());
    QVERIFY(!m.mm_f_settings->isEnabled());
    QVERIFY(!m.mm_i_help->isEnabled());
    QVERIFY(!m.mm_i_about->isEnabled());
    QVERIFY(!m.led_connected->Active());
    QVERIFY(!m.led_writing->Active());

    // The information page shows "--" until it is first filled.
    for (QLabel* value : {m.ts_Information->lb_ModelName, m.ts_Information->lb_zNumber, m.ts_Information->lb_SP, m.ts_Information->lb_KKMDate, m.ts_Information->lb_KKMError,
                          m.ts_Information->lb_Operator, m.ts_Information->lb_Smena, m.ts_Information->lb_itog, m.ts_Information->lb_Nal})
        QCOMPARE(value->text(), QStringLiteral("--"));
    QCOMPARE(m.ts_Information->gb_KKMInfo->title(), QStringLiteral(" Общие данные по ДЛФ"));
    QVERIFY(m.ts_Information->gb_KKMInfo->font().bold());
    QVERIFY(!m.ts_Information->lb_c_ModelName->font().bold());
    QVERIFY(m.ts_Information->b_infoRefresh->isEnabled());

    // Numbers are written with "." whatever the regional settings say.
    QCOMPARE(QLocale().toString(1234.5, 'f', 1), QStringLiteral("1234.5"));
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.2f", 2.5);
    QCOMPARE(QString::fromLatin1(buffer), QStringLiteral("2.50"));

    // The controls can be found by their names.
    for (const char* name : {"MainMenu", "SpeedBar", "ExpressPanel", "PageControl", "re_LogOut",
                             "StatusBar", "led_connected", "led_writing", "si_ReadTableFromKKM",
                             "cb_QuantNull", "ed_GoodsStart", "ed_GoodsEND", "eb_Logo",
                             "ts_Information", "b_infoRefresh", "lb_Nal", "pc_Options", "Goods",
                             "SectionsSettings", "Operators", "pnl_sections", "pnl_operators"})
        QVERIFY2(m.findChild<QObject*>(QLatin1String(name)), name);
    QCOMPARE(m.findChild<QAction*>(QStringLiteral("mm_c_auth"))->text(),
             QStringLiteral("Авторизироваться..."));
    QCOMPARE(m.si_StopReading->toolTip(), QStringLiteral("Прервать"));

    // Status bar panels: two lamps, the clock, the empty panel.
    QCOMPARE(m.led_connected->width(), 20);
    QCOMPARE(m.led_writing->width(), 20);
    QCOMPARE(m.lb_Clock->width(), 72);
    QCOMPARE(m.lb_StatusEmpty->width(), 50);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(m.lb_Clock->text()).hasMatch());
    QCOMPARE(m.si_ReadTableFromKKM->size(), QSize(24, 23));
    QCOMPARE(m.SpeedBar->height(), 31);
    QCOMPARE(m.ExpressPanel->width(), 113);
    QCOMPARE(m.re_LogOut->height(), 89);
}

// Every named control of the frame, the dialogs and the information page
// with its caption, text or hint, character for character.
void MainFormTest::controlTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind"); // text, title or hint
    QTest::addColumn<QString>("expected");

    const struct {
        const char* Name;
        const char* Kind;
        const char* Text;
    } rows[] = {
        {"mm_File", "title", "Файл"},
        {"mm_f_settings", "text", "Настроить..."},
        {"mm_f_exit", "text", "Выход"},
        {"mm_Connection", "title", "Подключение"},
        {"mm_c_connect", "text", "Подключить..."},
        {"mm_c_disconnect", "text", "Отключить"},
        {"mm_c_auth", "text", "Авторизироваться..."},
        {"mm_Help", "title", "Справка"},
        {"mm_i_help", "text", "Справка по программе..."},
        {"mm_i_about", "text", "О программе..."},
        {"SpeedBar", "title", "Чтение/запись"},
        {"si_ReadTableFromKKM", "hint", "Прочитать таблицу из ККМ"},
        {"si_WriteTableToKKM", "hint", "Записать таблицу в ККМ"},
        {"si_Import", "hint", "Импорт"},
        {"si_Export", "hint", "Экспорт"},
        {"si_StopReading", "hint", "Прервать"},
        {"cb_QuantNull", "text", "Обнуление кол-ва продаж"},
        {"lb_Interval", "text", "Интервал"},
        {"lb_IntervalDot", "text", "--"},
        {"eb_Information", "text", "Информация"},
        {"eb_KKMOptions", "text", "Настройки ДЛФ"},
        {"eb_Goods", "text", "Товары"},
        {"eb_Logo", "text", "Изображение"},
        {"ConnectForm", "title", "Подключение"},
        {"lb_port", "text", "Порт"},
        {"lb_PortSpeed", "text", "Скорость"},
        {"b_Connect", "text", "Подключить"},
        {"b_cancel", "text", "Отмена"},
        {"AuthForm", "title", "Авторизация"},
        {"Label1", "text", "Пользователь"},
        {"Label2", "text", "Пароль"},
        {"b_Auth", "text", "Авторизовать"},
        {"b_Cancel", "text", "Отмена"},
        {"ts_Information", "title", "Информация"},
        {"gb_KKMInfo", "title", " Общие данные по ДЛФ"},
        {"lb_c_ModelName", "text", "Название модели ККМ"},
        {"lb_c_znumber", "text", "Заводской номер ККМ"},
        {"lb_c_Sp", "text", "Версия и дата СП"},
        {"lb_c_KKMDate", "text", "Дата и время в ККМ"},
        {"lb_c_KKMError", "text", "Код ошибки устройства"},
        {"lb_c_Opertor", "text", "Текущий оператор и код режима"},
        {"lb_c_Smena", "text", "Состояние смены"},
        {"lb_c_itog", "text", "Сумма сменного итога"},
        {"lb_c_Nal", "text", "Сумма наличности в ККМ"},
        {"b_infoRefresh", "text", "Обновить"},
    };
    for (const auto& r : rows)
        QTest::newRow(r.Name) << QString::fromLatin1(r.Name) << QString::fromLatin1(r.Kind)
                              << QString::fromUtf8(r.Text);
}

void MainFormTest::controlTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, expected);

    TWindows w = CreateWindows();
    // Exactly one object answers to the name.
    const QList<QObject*> found = w.Main->findChildren<QObject*>(name);
    QCOMPARE(found.size(), 1);
    QObject* o = found.first();
    QString actual;
    if (kind == QLatin1String("hint")) {
        actual = qobject_cast<QWidget*>(o)->toolTip();
    } else if (auto* action = qobject_cast<QAction*>(o)) {
        actual = action->text();
    } else if (auto* menu = qobject_cast<QMenu*>(o)) {
        actual = menu->title();
    } else if (auto* box = qobject_cast<QGroupBox*>(o)) {
        actual = box->title();
    } else if (kind == QLatin1String("title")) {
        actual = qobject_cast<QWidget*>(o)->windowTitle();
    } else if (auto* button = qobject_cast<QAbstractButton*>(o)) {
        actual = button->text();
    } else if (auto* label = qobject_cast<QLabel*>(o)) {
        actual = label->text();
    } else {
        QFAIL("no text to compare");
    }
    QCOMPARE(actual, expected);
}

// Shrunk as far as it lets itself be, the window still shows every command,
// lamp and the journal whole: none is pushed into an overflow menu or off
// the edge.
void MainFormTest::everythingFitsTheMinimumSize()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;
    m.resize(1, 1);
    QCOMPARE(m.size(), m.minimumSize());
    // The layouts follow on posted events.
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    const QList<QWidget*> shown = {
        m.si_ReadTableFromKKM, m.si_WriteTableToKKM, m.si_Import,      m.si_Export,
        m.si_StopReading,      m.eb_Information,     m.eb_KKMOptions,  m.eb_Goods,
        m.eb_Logo,             m.re_LogOut,          m.led_connected,  m.led_writing,
        m.lb_Clock,            m.PageControl};
    for (QWidget* widget : shown) {
        QVERIFY2(widget->isVisible(), qPrintable(widget->objectName()));
        const QRect area(widget->mapTo(&m, QPoint(0, 0)), widget->size());
        QVERIFY2(!area.isEmpty() && m.rect().contains(area),
                 qPrintable(widget->objectName() + QLatin1Char(' ') +
                            QString::number(area.x()) + QLatin1Char(',') + QString::number(area.y()) +
                            QLatin1Char(' ') + QString::number(area.width()) + QLatin1Char('x') +
                            QString::number(area.height())));
    }
}

void MainFormTest::pagesAndGridsAreCreated()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;

    // Settings sub-pages: the read-only tables' pages stay selectable and
    // readable, only their content takes no input.
    const QStringList names = {"ts_KKMMainOptions", "ts_KKMPrintOpt", "ts_KKMReklama",
                               "ts_KKMDiscounts",   "ts_Taxes",       "ts_Sections",
                               "ts_Devices",        "ts_Operators",   "ts_PayTypes"};
    const QStringList captions = {"Опции ДЛФ",  "Опции печати ДЛФ", "Рекламные строки",
                                  "Скидки / Наценки", "Налоги", "Опции отделов",
                                  "Устройства", "Операторы",        "Типы оплаты"};
    QCOMPARE(m.ts_KKMOptions->pc_Options->count(), 9);
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(m.ts_KKMOptions->pc_Options->widget(i)->objectName(), names[i]);
        QCOMPARE(m.ts_KKMOptions->pc_Options->tabText(i), captions[i]);
        QVERIFY(m.ts_KKMOptions->pc_Options->isTabEnabled(i));
        const bool takesInput = i <= 2 || i == 7;
        QCOMPARE(m.ts_KKMOptions->pc_Options->widget(i)->isEnabled(), takesInput);
    }
    QCOMPARE(m.ts_KKMOptions->pc_Options->currentIndex(), 0);
    m.ts_KKMOptions->pc_Options->setCurrentIndex(4);
    QCOMPARE(m.ts_KKMOptions->pc_Options->currentWidget(), m.ts_KKMOptions->ts_Taxes);

    // Sections grid with a hidden list per row over column 4.
    QCOMPARE(m.ts_KKMOptions->SectionsSettings->rowCount(), 16);
    QCOMPARE(m.ts_KKMOptions->SectionsSettings->columnCount(), 5);
    QCOMPARE(m.ts_KKMOptions->SectionsCell(4, 0), QStringLiteral("Сфера применен."));
    for (int row = 1; row <= 16; ++row) {
        QCOMPARE(m.ts_KKMOptions->SectionsCell(0, row), QStringLiteral("Отдел %1").arg(row));
        QComboBox* list = m.ts_KKMOptions->SectionsList(row);
        QVERIFY(list);
        QCOMPARE(list->parentWidget(), m.ts_KKMOptions->pnl_sections);
        QVERIFY(list->isHidden());
        QVERIFY(!list->isEditable());
        QCOMPARE(list->property("Tag").toInt(), row);
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(1), QStringLiteral("Услуги"));
    }

    // Operators grid with a hidden rights list per row over column 2.
    QCOMPARE(m.ts_KKMOptions->Operators->rowCount(), 7);
    QCOMPARE(m.ts_KKMOptions->Operators->columnCount(), 3);
    QCOMPARE(m.ts_KKMOptions->OperatorsCell(2, 0), QStringLiteral("Права доступа"));
    for (int row = 1; row <= 7; ++row) {
        QListWidget* rights = m.ts_KKMOptions->OperatorRights(row);
        QVERIFY(rights);
        QCOMPARE(rights->parentWidget(), m.ts_KKMOptions->pnl_operators);
        QVERIFY(rights->isHidden());
        QCOMPARE(rights->count(), 7);
        QCOMPARE(rights->item(0)->text(), QStringLiteral("продажа"));
        QCOMPARE(rights->item(6)->text(), QStringLiteral("программирование"));
        QCOMPARE(rights->item(3)->checkState(), Qt::Unchecked);
    }
    // A rights mark makes the row's cell the sum of the checked bits.
    m.ts_KKMOptions->OperatorRights(3)->item(0)->setCheckState(Qt::Checked);
    m.ts_KKMOptions->OperatorRights(3)->item(4)->setCheckState(Qt::Checked);
    QCOMPARE(m.ts_KKMOptions->OperatorsCell(2, 3), QStringLiteral("17"));

    // Goods grid: 9999 item rows under the header, item numbers in column 0.
    QCOMPARE(m.ts_Goods->GoodsModel->rowCount(), 9999);
    QCOMPARE(m.ts_Goods->GoodsModel->columnCount(), 7);
    QCOMPARE(m.ts_Goods->Cell(1, 0), QStringLiteral("Наименование"));
    QCOMPARE(m.ts_Goods->Cell(0, 1), QStringLiteral("1"));
    QCOMPARE(m.ts_Goods->Cell(0, 9999), QStringLiteral("9999"));
    QCOMPARE(m.ts_Goods->Cell(1, 9999), QString());
    QCOMPARE(m.ts_Goods->Goods->model()->headerData(6, Qt::Horizontal).toString(), QStringLiteral("Продажи"));
    m.ts_Goods->SetCell(2, 9999, QStringLiteral("4600000000001"));
    QCOMPARE(m.ts_Goods->Goods->model()->index(9998, 2).data().toString(), QStringLiteral("4600000000001"));
    for (std::uint8_t flag : m.ts_Goods->GoodsItemFlags)
        QCOMPARE(flag, std::uint8_t(0));

    QVERIFY(m.ts_Logo->SourcePicture.IsEmpty());
    QCOMPARE(m.ts_Goods->ed_GoodsStart->text(), QStringLiteral("1"));
    QCOMPARE(m.ts_Goods->ed_GoodsStart->maxLength(), 4);
    QCOMPARE(m.ts_Goods->ed_GoodsEND->text(), QStringLiteral("9999"));
    QCOMPARE(m.ts_Goods->ed_GoodsEND->maxLength(), 4);
    QCOMPARE(m.ts_Goods->cb_QuantNull->text(), QStringLiteral("Обнуление кол-ва продаж"));
}

void MainFormTest::availability_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("page");
    // Expected: read, write, stop, import, export, goods range shown.
    QTest::addColumn<QString>("commands");

    // r = read, w = write, s = stop, i = import, e = export, g = goods range.
    const char* table[3][4] = {
        // page 0   page 1  page 2     page 3
        {"",       "",     "ieg",     "i"},   // mode 1
        {"",       "r",    "rsieg",   "i"},   // mode 2
        {"",       "rw",   "rwsieg",  "wi"},  // mode 3
    };
    for (int mode = 1; mode <= 3; ++mode)
        for (int page = 0; page <= 3; ++page)
            QTest::addRow("mode %d page %d", mode, page)
                << mode << page << QString::fromLatin1(table[mode - 1][page]);
}

void MainFormTest::availability()
{
    QFETCH(int, mode);
    QFETCH(int, page);
    QFETCH(QString, commands);

    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;
    const bool connected = mode != 1;
    const QList<QPair<QWidget*, char>> buttons = {
        {m.si_ReadTableFromKKM, 'r'}, {m.si_WriteTableToKKM, 'w'}, {m.si_StopReading, 's'},
        {m.si_Import, 'i'}, {m.si_Export, 'e'}};
    const QList<QWidget*> range = {m.ts_Goods->lb_Interval, m.ts_Goods->ed_GoodsStart, m.ts_Goods->lb_IntervalDot,
                                   m.ts_Goods->ed_GoodsEND, m.ts_Goods->cb_QuantNull};

    // Start from the opposite of every expectation, so that each element is
    // seen to be set.
    for (const auto& [button, letter] : buttons)
        button->setEnabled(!commands.contains(QLatin1Char(letter)));
    for (QWidget* r : range)
        r->setVisible(!commands.contains('g'));
    m.mm_c_disconnect->setEnabled(!connected);
    m.mm_c_auth->setEnabled(!connected);
    m.led_connected->setActive(!connected);
    m.led_writing->setActive(mode != 3);

    m.WorkMode = static_cast<std::uint8_t>(mode);
    m.PageControl->setCurrentIndex(page);
    m.act_mainFormUpdate();

    for (const auto& [button, letter] : buttons)
        QVERIFY2(button->isEnabled() == commands.contains(QLatin1Char(letter)),
                 qPrintable(button->objectName()));
    for (QWidget* r : range)
        QVERIFY2(r->isVisibleTo(&m) == commands.contains('g'), qPrintable(r->objectName()));

    QCOMPARE(m.mm_c_disconnect->isEnabled(), connected);
    QCOMPARE(m.mm_c_auth->isEnabled(), connected);
    QVERIFY(m.mm_c_connect->isEnabled());
    for (QToolButton* nav : {m.eb_Information, m.eb_KKMOptions, m.eb_Goods, m.eb_Logo})
        QVERIFY(nav->isEnabled());

    QCOMPARE(m.led_connected->Active(), connected);
    QCOMPARE(m.led_connected->Hint(), connected ? QStringLiteral("ККМ подключена")
                                                : QStringLiteral("Автономная работа"));
    QCOMPARE(m.led_writing->Active(), mode == 3);
    const QString writingHints[] = {QStringLiteral("ККМ не подключена"),
                                    QStringLiteral("Режим: Только чтение"),
                                    QStringLiteral("Режим: Чтение/Запись")};
    QCOMPARE(m.led_writing->Hint(), writingHints[mode - 1]);
    QCOMPARE(m.led_writing->toolTip(), writingHints[mode - 1]);
}

void MainFormTest::idleUpdateRunsWhenTheLoopWaits()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;

    // Nothing calls the routine here: only the event loop's idle moment.
    m.WorkMode = TMainForm::wmReadWrite;
    m.PageControl->setCurrentIndex(TMainForm::pgLogo);
    QVERIFY(!m.si_WriteTableToKKM->isEnabled());
    QVERIFY(SpinUntil([&] { return m.si_WriteTableToKKM->isEnabled(); }));
    QVERIFY(m.led_writing->Active());

    // Every element is set each time, also one that nobody changed since.
    m.si_Export->setEnabled(true);
    m.ts_Goods->cb_QuantNull->show();
    QVERIFY(SpinUntil([&] { return !m.si_Export->isEnabled() && m.ts_Goods->cb_QuantNull->isHidden(); }));

    // A command's wait only pumps events and never goes idle.
    m.WorkMode = TMainForm::wmOffline;
    QCoreApplication::processEvents();
    QVERIFY(m.si_WriteTableToKKM->isEnabled());
    QVERIFY(SpinUntil([&] { return !m.si_WriteTableToKKM->isEnabled(); }));
}

void MainFormTest::navigationButtonsSwitchPages_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("pageName");
    QTest::newRow("settings") << "eb_KKMOptions" << 1 << "ts_KKMOptions";
    QTest::newRow("goods") << "eb_Goods" << 2 << "ts_Goods";
    QTest::newRow("logo") << "eb_Logo" << 3 << "ts_Logo";
    QTest::newRow("information") << "eb_Information" << 0 << "ts_Information";
}

void MainFormTest::navigationButtonsSwitchPages()
{
    QFETCH(QString, button);
    QFETCH(int, page);
    QFETCH(QString, pageName);

    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;
    m.PageControl->setCurrentIndex(page == 0 ? 2 : 0);
    auto* b = m.findChild<QToolButton*>(button);
    QVERIFY(b);
    QVERIFY(!b->icon().isNull());
    QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(m.ActivePage(), page);
    QCOMPARE(m.PageControl->currentWidget()->objectName(), pageName);
}

void MainFormTest::journalNewestOnTopWithColours()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;

    m.WriteLog(QStringLiteral("Чтение настроек ККМ ..."), QColor(clBlack));
    m.WriteLog(QStringLiteral("Порт не открыт."), QColor(clRed));
    m.WriteLog(QStringLiteral("  с пробелами  "), QColor(clBlue));

    bool wellFormed = false;
    const QList<TLogEntry> log = JournalEntries(m.re_LogOut, &wellFormed);
    QVERIFY(wellFormed);
    QCOMPARE(log.size(), 4);
    QCOMPARE(log[0].Text, QStringLiteral("  с пробелами  "));
    QCOMPARE(log[0].TextColor, QColor(clBlue));
    QCOMPARE(log[1].Text, QStringLiteral("Порт не открыт."));
    QCOMPARE(log[1].TextColor, QColor(clRed));
    QCOMPARE(log[2].Text, QStringLiteral("Чтение настроек ККМ ..."));
    QCOMPARE(log[2].TextColor, QColor(clBlack));
    QCOMPARE(log[3].Text, QStringLiteral("Начало работы программы."));
    const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));
    for (const TLogEntry& e : log) {
        QVERIFY2(time.match(e.Time).hasMatch(), qPrintable(e.Time));
        QCOMPARE(e.TimeColor, QColor(clBlack));
    }
    // The whole journal as text: an empty line first, then the newest entry.
    const QStringList lines = m.re_LogOut->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QString());
    QVERIFY(lines[1].endsWith(QStringLiteral(" >>   с пробелами  ")));
}

void MainFormTest::journalIgnoresBlankTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("spaces") << QStringLiteral("     ");
    QTest::newRow("line ends and tabs") << QStringLiteral("\r\n\t ");
    QTest::newRow("control characters") << QStringLiteral(" \x01\x1f ");
    QTest::newRow("zero character") << QString(QChar(0));
}

void MainFormTest::journalIgnoresBlankTexts()
{
    QFETCH(QString, text);
    TWindows w = CreateWindows();
    const QString before = w.Main->re_LogOut->toHtml();
    w.Main->WriteLog(text, QColor(clRed));
    QCOMPARE(w.Main->re_LogOut->toHtml(), before);
}

void MainFormTest::showErrorText()
{
    TWindows w = CreateWindows();
    const QString journal = w.Main->re_LogOut->toPlainText();
    TModalDriver driver;
    TSeenBox box;
    driver.AcceptBox(&box);
    w.Main->ShowError(QStringLiteral("TMainForm.FormCreate"), QStringLiteral("Что-то сломалось"));
    QVERIFY(driver.Done());
    QCOMPARE(box.Title, QStringLiteral("Ошибка"));
    QCOMPARE(box.Icon, QMessageBox::Critical);
    QCOMPARE(box.Text, QStringLiteral("Ошибка по месту: TMainForm.FormCreate\n\r"
                                      "Текст ошибки: Что-то сломалось\n\r"
                                      "Сообщите разработчикам."));
    // The report leaves no trace in the journal.
    QCOMPARE(w.Main->re_LogOut->toPlainText(), journal);
}

void MainFormTest::guardShowsErrorAndEndsHandler_data()
{
    QTest::addColumn<bool>("standardError");
    QTest::addColumn<QString>("message");
    QTest::newRow("own error") << true << QStringLiteral("'12a' не является целым числом");
    QTest::newRow("anything thrown") << false << QStringLiteral("Неизвестная ошибка.");
}

void MainFormTest::guardShowsErrorAndEndsHandler()
{
    QFETCH(bool, standardError);
    QFETCH(QString, message);

    TWindows w = CreateWindows();
    TModalDriver driver;
    TSeenBox box;
    driver.AcceptBox(&box);
    bool before = false;
    bool after = false;
    const bool completed = w.Main->Guard(QStringLiteral("TMainForm.si_ReadTableFromKKMClick"), [&] {
        before = true;
        if (standardError)
            StrToInt(QStringLiteral("12a"));
        else
            throw 42;
        after = true;
    });
    QVERIFY(!completed);
    QVERIFY(before);
    QVERIFY(!after);
    QVERIFY(driver.Done());
    QCOMPARE(box.Text, QStringLiteral("Ошибка по месту: TMainForm.si_ReadTableFromKKMClick\n\r"
                                      "Текст ошибки: ") + message +
                           QStringLiteral("\n\rСообщите разработчикам."));
}

void MainFormTest::ledDoubleClicks()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;

    // Offline, a double-click on the writing lamp does nothing.
    {
        TModalDriver driver(300);
        const QString journal = m.re_LogOut->toPlainText();
        // A dialog opened by the handler would be modal inside this call; the
        // driver closes it and notes it.
        QTest::mouseDClick(m.led_writing, Qt::LeftButton);
        QVERIFY(driver.Unexpected.isEmpty());
        QCOMPARE(m.re_LogOut->toPlainText(), journal);
    }

    // The connected lamp opens the connect dialog in every mode.
    {
        TModalDriver driver;
        bool shown = false;
        driver.OnDialog<TConnectForm>([&](TConnectForm* d) {
            shown = true;
            d->b_cancel->click();
        });
        QTest::mouseDClick(m.led_connected, Qt::LeftButton);
        QVERIFY(shown);
        QCOMPARE(m.WorkMode, TMainForm::wmOffline);
    }

    // In mode 2 the writing lamp opens the authorisation dialog.
    {
        m.WorkMode = TMainForm::wmReadOnly;
        TModalDriver driver;
        bool shown = false;
        driver.OnDialog<TAuthForm>([&](TAuthForm* d) {
            shown = true;
            d->b_Cancel->click();
        });
        QTest::mouseDClick(m.led_writing, Qt::LeftButton);
        QVERIFY(shown);
        QCOMPARE(m.WorkMode, TMainForm::wmReadOnly);
    }
}

void MainFormTest::stopButtonSetsFlag()
{
    TWindows w = CreateWindows();
    TMainForm& m = *w.Main;
    m.WorkMode = TMainForm::wmReadOnly;
    m.PageControl->setCurrentIndex(TMainForm::pgGoods);
    m.act_mainFormUpdate();
    QVERIFY(m.si_StopReading->isEnabled());
    QTest::mouseClick(m.si_StopReading, Qt::LeftButton);
    QVERIFY(m.ts_Goods->StopRequested);
}

void MainFormTest::registerTexts_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("cyrillic") << QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2, \xB8\xE6 \xA8\xD1\xD1") << QStringLiteral("Привет, ёж ЁСС");
    QTest::newRow("latin and digits") << QByteArray("OMVEK-100F 12") << QStringLiteral("OMVEK-100F 12");
    QTest::newRow("sign and dash") << QByteArray("\xB9 5 \x96") << QStringLiteral("№ 5 –");
}

void MainFormTest::registerTexts()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(KkmTextToString(bytes), text);
    QCOMPARE(StringToKkmText(text), bytes);
}

void MainFormTest::userEntry_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("post");
    QTest::addColumn<QString>("entry");
    QTest::newRow("post and name")
        << QByteArray("\xC8\xE2\xE0\xED\xEE\xE2 \xC8.\xC8.") << QByteArray("\xCA\xE0\xF1\xF1\xE8\xF0")
        << QStringLiteral("Кассир  Иванов И.И.");
    QTest::newRow("post of spaces only") << QByteArray("Petrov") << QByteArray() << QStringLiteral("Petrov");
    QTest::newRow("name empty") << QByteArray() << QByteArray("Admin") << QStringLiteral("Admin");
    QTest::newRow("zero padding") << QByteArray("Name\0\0", 6) << QByteArray("\0Post", 5)
                                  << QStringLiteral("Post  Name");
}

void MainFormTest::userEntry()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, post);
    QFETCH(QString, entry);
    // A user record: two 32-byte texts padded with spaces, then the rest.
    TArrayOfByte record(69, 0);
    for (int i = 0; i < 64; ++i)
        record[i] = ' ';
    std::copy(name.begin(), name.end(), record.begin());
    std::copy(post.begin(), post.end(), record.begin() + 32);
    QCOMPARE(TAuthForm::UserEntry(record), entry);
}

KKM_WINDOW_TEST_MAIN(MainFormTest)

#include "MainFormTest.moc"
