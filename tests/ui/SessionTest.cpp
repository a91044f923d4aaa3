// Connecting, authorising, the information page and disconnecting, against
// the register emulator on a pseudo-terminal, through the real serial code.
#include "Cp1251.h"
#include "PtyRegister.h"
#include "TLed.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uMainForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace kkm;
using namespace kkm::emu;

namespace {

constexpr std::uint8_t kConnect = 6;
constexpr std::uint8_t kDeviceInfo = 1;
constexpr std::uint8_t kDeviceState = 2;
constexpr std::uint8_t kReadRecord = 12;
constexpr std::uint8_t kAuthorize = 30;

// The command codes the register received, in order.
QList<int> Codes(const PtyRegister& reg)
{
    QList<int> codes;
    for (const RequestRecord& r : reg.Requests())
        codes << (r.Body.size() > 3 ? r.Body[3] : -1);
    return codes;
}

const QString kInfoStart = QStringLiteral("Чтение информации об устройстве...");
const QString kInfoDone = QStringLiteral("Чтение информации об устройстве завершено.");
const QString kUsersStart = QStringLiteral("Чтение списка пользователей из ККМ ...");
const QString kUsersDone = QStringLiteral("Чтение списка пользователей из ККМ завершено.");
const QString kReadOnlyMode = QStringLiteral("Программа работает в режиме \"Только чтение\"");
const QString kReadWriteMode = QStringLiteral("Программа работает в режиме \"Чтение / Запись\"");
const QString kLineLost = QStringLiteral("Связь с ККМ потеряна: порт закрыт.");
const QString kOffline = QStringLiteral("Касса отключена. Программа работает в режиме \"Автономная работа\"");

// The window's own 200 ms is met by the emulator only on a machine that is
// not busy. Tests that are not about the time-out give it this instead; a
// passing test never waits it out, except for the pause that follows
// closing the port, which lasts a time-out.
constexpr std::uint32_t kGenerousTimeOut = 10000;
// Where the register is silent on purpose, any wait gives the same result.
constexpr std::uint32_t kWindowTimeOut = 200;
// Where a test waits out the pause after a close and then talks to the
// register: a short pause that a loaded machine still answers within.
constexpr std::uint32_t kPauseTimeOut = 2000;

} // namespace

class SessionTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectDialogLists();
    void connectSucceeds_data();
    void connectSucceeds();
    void connectFails_data();
    void connectFails();
    void connectRetryReopensPort();
    void connectAgainFromReadWrite();
    void disconnect();
    void authorise_data();
    void authorise();
    void authPasswordEntry();
    void authUserListRefused();
    void authPostOfSpaces();
    void authSecondPressWhileWaiting();
    void infoPage_data();
    void infoPage();
    void infoStateTimeoutAfterIdentity();
    void infoRefreshOffline();
    void closeWhileCommandWaits();
    void lineLostWhileConnected();
    void lineLostWhileCommandWaits();
    void failedReconnectGoesOffline_data();
    void failedReconnectGoesOffline();
    void cancelDuringConnect_data();
    void cancelDuringConnect();
    void cancelDuringAuthorisation();
    void disconnectPausesOnTheWorker();

private:
    // Runs the connect command, answering the dialog with the emulator's
    // port at Speed; true when the program ended up connected.
    bool ConnectThroughDialog(const QString& Speed = QStringLiteral("1200"));
    // Runs the authorisation command with user Index and the typed Password.
    void AuthoriseThroughDialog(int Index, const QString& Password);

    QString Port() const { return reg_->PublishedPath(); }
    QStringList Journal() const { return JournalTexts(main_->re_LogOut); }

    std::unique_ptr<PtyRegister> reg_;
    std::unique_ptr<TMainForm> main_;
    TConnectForm* connect_ = nullptr;
    TAuthForm* auth_ = nullptr;
};

void SessionTest::init()
{
    reg_ = std::make_unique<PtyRegister>();
    QString error;
    QVERIFY2(reg_->Start(PtyRegister::Options(), &error), qPrintable(error));
    reg_->WithModel([](RegisterModel& m) {
        m.State().device.FixedClock = ClockValue{{31, 12, 2009}, {23, 59, 58}};
    });
    // The port list is read when the connect dialog is created, so the
    // emulator runs first.
    main_ = std::make_unique<TMainForm>();
    connect_ = new TConnectForm(main_.get());
    auth_ = new TAuthForm(main_.get());
    main_->show();
    QCOMPARE(main_->Session->TimeOut(), kWindowTimeOut);
    main_->Session->SetTimeOut(kGenerousTimeOut);
    QVERIFY2(connect_->cb_Port->findText(Port()) >= 0, qPrintable(Port()));
}

void SessionTest::cleanup()
{
    main_.reset();
    reg_.reset();
}

bool SessionTest::ConnectThroughDialog(const QString& speed)
{
    return ::ConnectThroughDialog(*main_, Port(), speed);
}

void SessionTest::AuthoriseThroughDialog(int index, const QString& password)
{
    // The outcome is the test's to check: a wrong password is refused.
    ::AuthoriseThroughDialog(*main_, index, password);
}

void SessionTest::connectDialogLists()
{
    QCOMPARE(connect_->windowTitle(), QStringLiteral("Подключение"));
    QStringList speeds;
    for (int i = 0; i < connect_->cb_PortSpeed->count(); ++i)
        speeds << connect_->cb_PortSpeed->itemText(i);
    QCOMPARE(speeds, (QStringList{"1200", "2400", "4800", "9600", "19200", "38400", "57600",
                                  "115200"}));
    QCOMPARE(connect_->cb_PortSpeed->currentText(), QStringLiteral("1200"));
    QCOMPARE(connect_->cb_Port->currentIndex(), 0);
    QVERIFY(!connect_->cb_Port->isEditable());

    // The list was read once, at creation: a register started later is not
    // offered, also when the dialog is shown again.
    PtyRegister later;
    QVERIFY(later.Start());
    QVERIFY(!later.PublishedPath().isEmpty());
    const int ports = connect_->cb_Port->count();
    TModalDriver driver;
    driver.OnDialog<TConnectForm>([](TConnectForm* d) { d->b_cancel->click(); });
    main_->mm_c_connectClick();
    QVERIFY(driver.Done());
    QCOMPARE(connect_->cb_Port->count(), ports);
    QCOMPARE(connect_->cb_Port->findText(later.PublishedPath()), -1);
    QCOMPARE(main_->WorkMode, TMainForm::wmOffline);
}

void SessionTest::connectSucceeds_data()
{
    QTest::addColumn<QString>("speed");
    QTest::newRow("1200") << QStringLiteral("1200");
    QTest::newRow("115200") << QStringLiteral("115200");
}

void SessionTest::connectSucceeds()
{
    QFETCH(QString, speed);
    main_->PageControl->setCurrentIndex(TMainForm::pgGoods);

    QVERIFY(ConnectThroughDialog(speed));

    QVERIFY(main_->Session->PortOpened());
    QCOMPARE(main_->Session->Protokol()->Port.BaudRate, speed.toUInt());
    QCOMPARE(main_->ActivePage(), int(TMainForm::pgInformation));
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), 5);
    QCOMPARE(log[0].Text, kInfoDone);
    QCOMPARE(log[1].Text, kInfoStart);
    QCOMPARE(log[2].Text, kReadOnlyMode);
    QCOMPARE(log[2].TextColor, QColor(clBlue));
    QCOMPARE(log[3].Text, QStringLiteral("Подключение успешно. Порт [") + Port() +
                              QStringLiteral("] Скорость [") + speed + QStringLiteral("]"));
    QCOMPARE(log[3].TextColor, QColor(clBlack));

    // Connect with 5 and 5, then the automatic information refresh.
    QCOMPARE(Codes(*reg_), (QList<int>{kConnect, kDeviceInfo, kDeviceState}));
    const TArrayOfByte connectBody = reg_->Requests()[0].Body;
    QCOMPARE(TArrayOfByte(connectBody.begin() + 4, connectBody.end()), (TArrayOfByte{5, 5}));
    QCOMPARE(main_->ts_Information->lb_zNumber->text(), QStringLiteral("110000123456"));
    QCOMPARE(main_->ts_Information->lb_ModelName->text(), QStringLiteral("ОМВЕК-100Ф"));

    // At the next idle moment the lamps and commands follow the mode.
    QVERIFY(SpinUntil([&] { return main_->led_connected->Active(); }));
    QVERIFY(main_->mm_c_auth->isEnabled());
    QVERIFY(main_->mm_c_disconnect->isEnabled());
    QVERIFY(!main_->led_writing->Active());
}

void SessionTest::connectFails_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("portStaysOpen");
    QTest::newRow("missing port") << QString() << QStringLiteral("Попытка открыть несуществующий порт.")
                                  << false;
    QTest::newRow("silent register") << QStringLiteral("silent code=6")
                                     << QStringLiteral("Истёк тайм-аут ожидания ответа.") << true;
    QTest::newRow("register error 2") << QStringLiteral("refuse 2 code=6")
                                      << QStringLiteral("Команда не поддерживается данным устройством.")
                                      << true;
}

void SessionTest::connectFails()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(bool, portStaysOpen);

    const QString port = Port();
    if (message == TOmvekCP::ErrorText(rcTimeout))
        main_->Session->SetTimeOut(kWindowTimeOut); // nothing will come anyway
    if (fault.isEmpty()) {
        reg_->Stop(); // the port was listed, but is gone now
    } else {
        std::string error;
        const auto f = ParseFault(fault.toStdString(), &error);
        QVERIFY2(f, error.c_str());
        reg_->AddFault(*f);
    }
    const QString journal = main_->re_LogOut->toPlainText();

    TModalDriver driver;
    TSeenBox box;
    bool dialogStayedOpen = false;
    driver.OnDialog<TConnectForm>([port](TConnectForm* d) {
        d->cb_Port->setCurrentIndex(d->cb_Port->findText(port));
        d->b_Connect->click();
    });
    driver.AcceptBox(&box);
    driver.OnDialog<TConnectForm>([&](TConnectForm* d) {
        dialogStayedOpen = true;
        d->b_cancel->click();
    });
    main_->mm_c_connectClick();

    QVERIFY(driver.Done());
    QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));
    QVERIFY(dialogStayedOpen);
    QCOMPARE(box.Text, message);
    QCOMPARE(box.Icon, QMessageBox::NoIcon);
    // Failed attempts leave the mode and the journal as they were.
    QCOMPARE(main_->WorkMode, TMainForm::wmOffline);
    QCOMPARE(main_->re_LogOut->toPlainText(), journal);
    QCOMPARE(main_->Session->PortOpened(), portStaysOpen);
}

void SessionTest::connectRetryReopensPort()
{
    std::string error;
    reg_->AddFault(*ParseFault("silent code=6 once", &error));

    TModalDriver driver;
    TSeenBox box;
    const QString port = Port();
    TOmvekCP* protokol = main_->Session->Protokol();
    // The first attempt meets the silent register, so its time-out may be
    // the window's own; the second must be answered.
    protokol->setTimeOut(kWindowTimeOut);
    auto press = [port](TConnectForm* d) {
        d->cb_Port->setCurrentIndex(d->cb_Port->findText(port));
        d->b_Connect->click();
    };
    driver.OnDialog<TConnectForm>(press);
    driver.AcceptBox(&box);
    driver.OnDialog<TConnectForm>([press, protokol](TConnectForm* d) {
        protokol->setTimeOut(kGenerousTimeOut);
        press(d);
    });
    main_->mm_c_connectClick();
    QVERIFY(WaitIdle(*main_));

    QVERIFY(driver.Done());
    QCOMPARE(box.Text, QStringLiteral("Истёк тайм-аут ожидания ответа."));
    QCOMPARE(main_->WorkMode, TMainForm::wmReadOnly);
    QCOMPARE(Codes(*reg_), (QList<int>{kConnect, kConnect, kDeviceInfo, kDeviceState}));
}

void SessionTest::connectAgainFromReadWrite()
{
    QVERIFY(ConnectThroughDialog());
    AuthoriseThroughDialog(0, QStringLiteral("1"));
    QCOMPARE(main_->WorkMode, TMainForm::wmReadWrite);

    // The register has moved on meanwhile; a new connection shows it.
    reg_->WithModel([](RegisterModel& m) { m.State().device.CashInDrawer = 100; });
    main_->PageControl->setCurrentIndex(TMainForm::pgLogo);
    const int entries = Journal().size();

    QVERIFY(ConnectThroughDialog());
    QCOMPARE(main_->WorkMode, TMainForm::wmReadOnly);
    QCOMPARE(main_->ActivePage(), int(TMainForm::pgInformation));
    QCOMPARE(main_->ts_Information->lb_Nal->text(), QStringLiteral("1"));
    const QStringList log = Journal();
    QCOMPARE(log.size(), entries + 4);
    QVERIFY(log[3].startsWith(QStringLiteral("Подключение успешно. Порт [")));
    QCOMPARE(log[2], kReadOnlyMode);
    QVERIFY(SpinUntil([&] { return main_->led_connected->Active() && !main_->led_writing->Active(); }));
}

void SessionTest::disconnect()
{
    QVERIFY(ConnectThroughDialog());
    AuthoriseThroughDialog(0, QStringLiteral("1"));
    reg_->ClearRequests();

    QVERIFY(SpinUntil([&] { return main_->mm_c_disconnect->isEnabled(); }));
    main_->Session->SetTimeOut(kWindowTimeOut); // the pause after closing lasts a time-out
    main_->mm_c_disconnect->trigger();

    QVERIFY(!main_->Session->PortOpened());
    QCOMPARE(main_->WorkMode, TMainForm::wmOffline);
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log[0].Text,
             QStringLiteral("Касса отключена. Программа работает в режиме \"Автономная работа\""));
    QCOMPARE(log[0].TextColor, QColor(clBlue));
    QCOMPARE(reg_->RequestCount(), std::size_t(0)); // nothing is said to the register
    QVERIFY(SpinUntil([&] { return !main_->mm_c_auth->isEnabled(); }));
    QVERIFY(!main_->led_connected->Active());
    QVERIFY(!main_->mm_c_disconnect->isEnabled());

    // Offline again, a refresh finds the port closed.
    main_->ts_Information->b_infoRefresh->click();
    QVERIFY(WaitIdle(*main_));
    QCOMPARE(Journal().first(), QStringLiteral("Порт не открыт."));
}

void SessionTest::authorise_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<TArrayOfByte>("sent");

    QTest::newRow("right password") << 2 << QStringLiteral("3") << true
                                    << TArrayOfByte{3, 0x00, 0x00, 0x00, 0x03};
    QTest::newRow("leading zeros") << 6 << QStringLiteral("000007") << true
                                   << TArrayOfByte{7, 0x00, 0x00, 0x00, 0x07};
    QTest::newRow("wrong password") << 0 << QStringLiteral("123456") << false
                                    << TArrayOfByte{1, 0x00, 0x12, 0x34, 0x56};
}

void SessionTest::authorise()
{
    QFETCH(int, index);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    QFETCH(TArrayOfByte, sent);

    QVERIFY(ConnectThroughDialog());
    reg_->ClearRequests();
    const int entries = Journal().size();

    AuthoriseThroughDialog(index, password);

    // The list is read from the register first: users 1 to 7 of table 9.
    const std::vector<RequestRecord> requests = reg_->Requests();
    QCOMPARE(int(requests.size()), 8);
    for (int user = 1; user <= 7; ++user) {
        const TArrayOfByte& body = requests[user - 1].Body;
        QCOMPARE(int(body[3]), int(kReadRecord));
        QCOMPARE(TArrayOfByte(body.begin() + 4, body.end()),
                 (TArrayOfByte{9, std::uint8_t(user), 0}));
    }
    QCOMPARE(int(requests[7].Body[3]), int(kAuthorize));
    QCOMPARE(TArrayOfByte(requests[7].Body.begin() + 4, requests[7].Body.end()), sent);
    QCOMPARE(auth_->cb_UserList->count(), 7);
    QCOMPARE(auth_->cb_UserList->itemText(0), QStringLiteral("Администратор  Иванов Иван Иванович"));

    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    if (accepted) {
        QCOMPARE(main_->WorkMode, TMainForm::wmReadWrite);
        QCOMPARE(log.size(), entries + 4);
        QCOMPARE(log[0].Text, kReadWriteMode);
        QCOMPARE(log[0].TextColor, QColor(clBlue));
        QCOMPARE(log[1].Text, QStringLiteral("Авторизация прошла успешно. Пользователь [") +
                                  auth_->cb_UserList->itemText(index) + QStringLiteral("]"));
        QCOMPARE(log[1].TextColor, QColor(clBlack));
        QVERIFY(SpinUntil([&] { return main_->led_writing->Active(); }));
    } else {
        QCOMPARE(main_->WorkMode, TMainForm::wmReadOnly);
        QCOMPARE(log.size(), entries + 3);
        QCOMPARE(log[0].Text, QStringLiteral("Доступ запрещён"));
        QCOMPARE(log[0].TextColor, QColor(clRed));
    }
    QCOMPARE(log[accepted ? 2 : 1].Text, kUsersDone);
    QCOMPARE(log[accepted ? 3 : 2].Text, kUsersStart);
    QCOMPARE(reg_->WithModel([](RegisterModel& m) { return m.AuthorizedUser(); }),
             accepted ? index + 1 : 0);
}

void SessionTest::authPasswordEntry()
{
    QVERIFY(ConnectThroughDialog());
    reg_->ClearRequests();

    TModalDriver driver;
    TSeenBox warning;
    TSeenBox notANumber;
    QString typed;
    QString afterBackspace;
    bool emptiedOnOpen = false;
    driver.OnDialog<TAuthForm>([&](TAuthForm* d) {
        // Only digits reach the edit, at most six of them, masked.
        QTest::keyClicks(d->ed_Password, QStringLiteral("1a2 -3.4567890"));
        typed = d->ed_Password->text();
        QTest::keyClick(d->ed_Password, Qt::Key_Backspace);
        afterBackspace = d->ed_Password->text();
        QCOMPARE(d->ed_Password->echoMode(), QLineEdit::Password);
        d->ed_Password->clear();
        // Enter presses b_Auth: with an empty password it warns.
        QTest::keyClick(d->ed_Password, Qt::Key_Return);
    });
    driver.AcceptBox(&warning);
    driver.OnDialog<TAuthForm>([](TAuthForm* d) {
        // Pasting goes around the key filter; such a password is no number.
        d->ed_Password->setText(QStringLiteral("12a"));
        d->b_Auth->click();
    });
    driver.AcceptBox(&notANumber);
    driver.OnDialog<TAuthForm>([](TAuthForm* d) { d->b_Cancel->click(); });
    // Opened again, the dialog reads the list again and forgets the password.
    driver.OnDialog<TAuthForm>([&](TAuthForm* d) {
        emptiedOnOpen = d->ed_Password->text().isEmpty();
        d->b_Cancel->click();
    });
    main_->mm_c_authClick();
    main_->mm_c_authClick();

    QVERIFY(driver.Done());
    QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));
    QCOMPARE(typed, QStringLiteral("123456"));
    QCOMPARE(afterBackspace, QStringLiteral("12345"));
    QCOMPARE(warning.Title, QStringLiteral("Внимание!"));
    QCOMPARE(warning.Text, QStringLiteral("Поле пароль не должно быть пустое!"));
    QCOMPARE(warning.Icon, QMessageBox::Warning);
    QCOMPARE(notANumber.Text, QStringLiteral("'12a' не является целым числом"));
    QCOMPARE(notANumber.Icon, QMessageBox::Critical);
    QVERIFY(emptiedOnOpen);
    QVERIFY(!Codes(*reg_).contains(kAuthorize));
    QCOMPARE(Codes(*reg_).count(kReadRecord), 14);
    QCOMPARE(main_->WorkMode, TMainForm::wmReadOnly);
}

void SessionTest::authUserListRefused()
{
    QVERIFY(ConnectThroughDialog());
    std::string error;
    reg_->AddFault(*ParseFault("refuse 1 code=12 table=9 record=4", &error));
    const int entries = Journal().size();

    int users = -1;
    TModalDriver driver;
    driver.OnDialog<TAuthForm>([&](TAuthForm* d) {
        users = d->cb_UserList->count();
        d->b_Cancel->click();
    });
    main_->mm_c_authClick();

    QVERIFY(driver.Done());
    QCOMPARE(users, 3);
    QCOMPARE(auth_->cb_UserList->currentIndex(), 0);
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + 3);
    QCOMPARE(log[0].Text, kUsersDone);
    QCOMPARE(log[1].Text, QStringLiteral("Запрошенные данные отсутствуют."));
    QCOMPARE(log[1].TextColor, QColor(clRed));
    QCOMPARE(log[2].Text, kUsersStart);
    QCOMPARE(main_->WorkMode, TMainForm::wmReadOnly);
}

void SessionTest::authPostOfSpaces()
{
    reg_->WithModel([](RegisterModel& m) { PutText(m.Record(9, 3), 32, 32, ""); });
    QVERIFY(ConnectThroughDialog());

    QStringList entries;
    TModalDriver driver;
    driver.OnDialog<TAuthForm>([&](TAuthForm* d) {
        for (int i = 0; i < d->cb_UserList->count(); ++i)
            entries << d->cb_UserList->itemText(i);
        d->b_Cancel->click();
    });
    main_->mm_c_authClick();

    QVERIFY(driver.Done());
    QCOMPARE(entries.size(), 7);
    QCOMPARE(entries[2], QStringLiteral("Сидорова Ольга Петровна"));
    QCOMPARE(entries[1], QStringLiteral("Старший кассир  Петрова Анна Сергеевна"));
}

// A second press of b_Auth while the first waits for its answer is refused
// by the component; the dialog closes with the first press's outcome.
void SessionTest::authSecondPressWhileWaiting()
{
    QVERIFY(ConnectThroughDialog());
    std::string error;
    reg_->AddFault(*ParseFault("delay 1500 code=30", &error));
    reg_->ClearRequests();
    const int entries = Journal().size();

    TModalDriver driver;
    QTimer secondPress;
    driver.OnDialog<TAuthForm>([&](TAuthForm* d) {
        QTest::keyClicks(d->ed_Password, QStringLiteral("1"));
        // Pressed again once the register has the first request.
        secondPress.setInterval(5);
        QObject::connect(&secondPress, &QTimer::timeout, d, [&, d] {
            if (!Codes(*reg_).contains(kAuthorize))
                return;
            secondPress.stop();
            d->b_Auth->click();
        });
        secondPress.start();
        d->b_Auth->click();
    });
    QVERIFY(SpinUntil([&] { return main_->mm_c_auth->isEnabled(); }));
    main_->mm_c_auth->trigger();

    QVERIFY(driver.Done());
    QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));
    QCOMPARE(main_->WorkMode, TMainForm::wmReadWrite);
    QCOMPARE(Codes(*reg_).count(kAuthorize), 1);
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + 5);
    QCOMPARE(log[0].Text, kReadWriteMode);
    QVERIFY(log[1].Text.startsWith(QStringLiteral("Авторизация прошла успешно. Пользователь [")));
    QCOMPARE(log[2].Text, QStringLiteral("Передатчик занят."));
    QCOMPARE(log[2].TextColor, QColor(clRed));
    QCOMPARE(log[3].Text, kUsersDone);
}

void SessionTest::infoPage_data()
{
    QTest::addColumn<QByteArray>("modelName"); // UTF-8, sent as Windows-1251
    QTest::addColumn<qint64>("serial");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("operatorNo");
    QTest::addColumn<int>("modeCode");
    QTest::addColumn<int>("sessionOpen");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("cash");
    QTest::addColumn<QStringList>("shown"); // the nine values, top to bottom

    QTest::newRow("open session")
        << QByteArray("ОМВЕК-100Ф") << qint64(12345) << 12 << 3 << 1 << 1 << qint64(12340)
        << qint64(0)
        << QStringList{"ОМВЕК-100Ф", "12345", "12  [15.05.2009]", "31.12.2009  23:59:58", "7",
                       "3 , 1", "Смена открыта", "123.4", "0"};
    QTest::newRow("closed session, empty model")
        << QByteArray() << qint64(999999999999) << 5 << 12 << 4 << 0 << qint64(123450)
        << qint64(5)
        << QStringList{"", "999999999999", "5  [15.05.2009]", "31.12.2009  23:59:58", "7",
                       "12 , 4", "Смена закрыта", "1234.5", "0.05"};
    QTest::newRow("session flag 2 counts as open")
        << QByteArray("Ф") << qint64(1) << 0 << 0 << 0 << 2 << qint64(10000) << qint64(99)
        << QStringList{"Ф", "1", "0  [15.05.2009]", "31.12.2009  23:59:58", "7", "0 , 0",
                       "Смена открыта", "100", "0.99"};
}

void SessionTest::infoPage()
{
    QFETCH(QByteArray, modelName);
    QFETCH(qint64, serial);
    QFETCH(int, version);
    QFETCH(int, operatorNo);
    QFETCH(int, modeCode);
    QFETCH(int, sessionOpen);
    QFETCH(qint64, total);
    QFETCH(qint64, cash);
    QFETCH(QStringList, shown);

    QVERIFY(ConnectThroughDialog());
    reg_->WithModel([&](RegisterModel& m) {
        Identity& id = m.State().identity;
        id.ModelName = Utf8ToCp1251(modelName.toStdString());
        id.SerialNumber = serial;
        id.SoftVersion = static_cast<std::uint8_t>(version);
        id.SoftDate = {15, 5, 2009};
        DeviceState& d = m.State().device;
        d.ErrorCode = 7;
        d.OperatorNo = static_cast<std::uint8_t>(operatorNo);
        d.ModeCode = static_cast<std::uint8_t>(modeCode);
        d.SessionOpen = static_cast<std::uint8_t>(sessionOpen);
        d.SessionTotal = total;
        d.CashInDrawer = cash;
    });
    const int entries = Journal().size();

    QTest::mouseClick(main_->ts_Information->b_infoRefresh, Qt::LeftButton);
    QVERIFY(WaitIdle(*main_));

    const QList<QLabel*> values = {main_->ts_Information->lb_ModelName, main_->ts_Information->lb_zNumber, main_->ts_Information->lb_SP,
                                   main_->ts_Information->lb_KKMDate,   main_->ts_Information->lb_KKMError, main_->ts_Information->lb_Operator,
                                   main_->ts_Information->lb_Smena,     main_->ts_Information->lb_itog,     main_->ts_Information->lb_Nal};
    for (int i = 0; i < values.size(); ++i)
        QCOMPARE(values[i]->text(), shown[i]);
    const QStringList log = Journal();
    QCOMPARE(log.size(), entries + 2);
    QCOMPARE(log[0], kInfoDone);
    QCOMPARE(log[1], kInfoStart);
}

void SessionTest::infoStateTimeoutAfterIdentity()
{
    QVERIFY(ConnectThroughDialog());
    QCOMPARE(main_->ts_Information->lb_Nal->text(), QStringLiteral("5630.5"));
    reg_->WithModel([](RegisterModel& m) {
        m.State().identity.SerialNumber = 777;
        m.State().device.CashInDrawer = 1;
    });
    std::string error;
    reg_->AddFault(*ParseFault("silent code=2", &error));
    const int entries = Journal().size();

    main_->ts_Information->b_infoRefresh->click();
    QVERIFY(WaitIdle(*main_));

    // The identity is new, the state rows keep what they showed.
    QCOMPARE(main_->ts_Information->lb_zNumber->text(), QStringLiteral("777"));
    QCOMPARE(main_->ts_Information->lb_Nal->text(), QStringLiteral("5630.5"));
    QCOMPARE(main_->ts_Information->lb_KKMDate->text(), QStringLiteral("31.12.2009  23:59:58"));
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + 2);
    QCOMPARE(log[0].Text, QStringLiteral("Истёк тайм-аут ожидания ответа."));
    QCOMPARE(log[0].TextColor, QColor(clRed));
    QCOMPARE(log[1].Text, kInfoStart);
}

void SessionTest::infoRefreshOffline()
{
    main_->ts_Information->b_infoRefresh->click();
    QVERIFY(WaitIdle(*main_));

    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), 3);
    QCOMPARE(log[0].Text, QStringLiteral("Порт не открыт."));
    QCOMPARE(log[0].TextColor, QColor(clRed));
    QCOMPARE(log[1].Text, kInfoStart);
    QCOMPARE(log[1].TextColor, QColor(clBlack));
    QCOMPARE(main_->ts_Information->lb_zNumber->text(), QStringLiteral("--"));
    QCOMPARE(reg_->RequestCount(), std::size_t(0));
}

void SessionTest::closeWhileCommandWaits()
{
    QVERIFY(ConnectThroughDialog());
    std::string error;
    reg_->AddFault(*ParseFault("silent code=1", &error));
    // A wait long enough that only the closing can end it.
    main_->Session->SetTimeOut(120000);
    reg_->ClearRequests();

    // Exit from the menu once the register has the request.
    QTimer closer;
    closer.setInterval(5);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (reg_->RequestCount() > 0) {
            closer.stop();
            main_->mm_f_exit->trigger();
        }
    });
    closer.start();
    QElapsedTimer took;
    took.start();
    main_->ts_Information->b_infoRefresh->click();

    // The job ran to its end: the wait ended with the port, not the time.
    QVERIFY(SpinUntil([&] { return !main_->isVisible(); }, 60000));
    QVERIFY(WaitIdle(*main_));
    QVERIFY(took.elapsed() < 60000);
    QVERIFY(!main_->isVisible());
    QVERIFY(!main_->Session->PortOpened());
    QCOMPARE(Journal().first(), QStringLiteral("Порт не открыт."));
    main_.reset(); // and the window goes away after it, without a crash
}

void SessionTest::lineLostWhileConnected()
{
    QVERIFY(ConnectThroughDialog());
    AuthoriseThroughDialog(0, QStringLiteral("1"));
    QVERIFY(SpinUntil([&] { return main_->led_connected->Active() && main_->led_writing->Active(); }));
    const int entries = Journal().size();

    QVERIFY(reg_->HangUp()); // the cable is pulled while nothing runs

    QVERIFY(SpinUntil([&] { return main_->WorkMode == TMainForm::wmOffline; }));
    QVERIFY(!main_->Session->PortOpened());
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + 2);
    QCOMPARE(log[1].Text, kLineLost);
    QCOMPARE(log[1].TextColor, QColor(clRed));
    QCOMPARE(log[0].Text, kOffline);
    QCOMPARE(log[0].TextColor, QColor(clBlue));
    QVERIFY(SpinUntil([&] { return !main_->led_connected->Active() && !main_->led_writing->Active(); }));
    QVERIFY(!main_->mm_c_disconnect->isEnabled());
    QVERIFY(!main_->mm_c_auth->isEnabled());

    // The emulator's link now leads to its new port: the menu connects again.
    reg_->ClearRequests();
    QVERIFY(ConnectThroughDialog());
    QCOMPARE(Codes(*reg_), (QList<int>{kConnect, kDeviceInfo, kDeviceState}));
    QCOMPARE(Journal().count(kLineLost), 1);
    QVERIFY(SpinUntil([&] { return main_->led_connected->Active(); }));
}

void SessionTest::lineLostWhileCommandWaits()
{
    QVERIFY(ConnectThroughDialog());
    std::string error;
    // The register hangs up instead of answering the state request.
    reg_->AddFault(*ParseFault("hangup code=2 once", &error));
    const int entries = Journal().size();

    main_->ts_Information->b_infoRefresh->click();
    QVERIFY(WaitIdle(*main_));

    // The waiting command ended with the line (-1), not with its time-out
    // (-3), after the window had closed the port and gone offline.
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + 4);
    QCOMPARE(log[0].Text, TOmvekCP::ErrorText(rcPortClosed));
    QCOMPARE(log[0].TextColor, QColor(clRed));
    QCOMPARE(log[1].Text, kOffline);
    QCOMPARE(log[2].Text, kLineLost);
    QCOMPARE(log[2].TextColor, QColor(clRed));
    QCOMPARE(log[3].Text, kInfoStart);
    QCOMPARE(main_->WorkMode, TMainForm::wmOffline);
    QVERIFY(!main_->Session->PortOpened());
    QCOMPARE(main_->Session->Protokol()->State(), std::uint8_t(TOmvekCP::tsIdle));
}

void SessionTest::failedReconnectGoesOffline_data()
{
    QTest::addColumn<QString>("fault"); // empty: a port that cannot be opened
    QTest::addColumn<QString>("message");
    QTest::newRow("port that cannot be opened") << QString()
                                                << QStringLiteral("Попытка открыть несуществующий порт.");
    QTest::newRow("silent register") << QStringLiteral("silent code=6")
                                     << QStringLiteral("Истёк тайм-аут ожидания ответа.");
}

// Connected and authorised, an attempt that closes the port and fails
// leaves the window offline, whatever the dialog does next.
void SessionTest::failedReconnectGoesOffline()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);

    QVERIFY(ConnectThroughDialog());
    AuthoriseThroughDialog(0, QStringLiteral("1"));
    QCOMPARE(main_->WorkMode, TMainForm::wmReadWrite);
    main_->PageControl->setCurrentIndex(TMainForm::pgLogo);
    QVERIFY(SpinUntil([&] { return main_->si_WriteTableToKKM->isEnabled() && main_->led_writing->Active(); }));

    QString port = Port();
    if (fault.isEmpty()) {
        QTemporaryDir dir;
        port = dir.filePath(QStringLiteral("ttyGONE"));
        connect_->cb_Port->addItem(port);
    } else {
        std::string error;
        const auto f = ParseFault(fault.toStdString(), &error);
        QVERIFY2(f, error.c_str());
        reg_->AddFault(*f);
    }
    // The pause after closing and the silent register's wait: a time-out each.
    main_->Session->SetTimeOut(kWindowTimeOut);
    const int entries = Journal().size();

    TModalDriver driver;
    TSeenBox box;
    driver.OnDialog<TConnectForm>([port](TConnectForm* d) {
        d->cb_Port->setCurrentIndex(d->cb_Port->findText(port));
        d->b_Connect->click();
    });
    driver.AcceptBox(&box);
    driver.OnDialog<TConnectForm>([](TConnectForm* d) { d->b_cancel->click(); });
    main_->mm_c_connectClick();
    QVERIFY(WaitIdle(*main_));

    QVERIFY(driver.Done());
    QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));
    QCOMPARE(box.Text, message);
    QCOMPARE(main_->WorkMode, TMainForm::wmOffline);
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + 1);
    QCOMPARE(log[0].Text, kOffline);
    QCOMPARE(log[0].TextColor, QColor(clBlue));
    QVERIFY(SpinUntil([&] { return !main_->led_connected->Active() && !main_->led_writing->Active(); }));
    QVERIFY(!main_->si_WriteTableToKKM->isEnabled());
    QVERIFY(!main_->mm_c_auth->isEnabled());
}

void SessionTest::cancelDuringConnect_data()
{
    QTest::addColumn<bool>("fromReadWrite");
    QTest::newRow("offline") << false;
    QTest::newRow("connected and authorised") << true;
}

// "Отмена" while the register takes its time to answer the greeting: the
// attempt ends and its port is closed, and the late answer connects nothing.
void SessionTest::cancelDuringConnect()
{
    QFETCH(bool, fromReadWrite);

    if (fromReadWrite) {
        QVERIFY(ConnectThroughDialog());
        AuthoriseThroughDialog(0, QStringLiteral("1"));
        QCOMPARE(main_->WorkMode, TMainForm::wmReadWrite);
    }
    std::string error;
    reg_->AddFault(*ParseFault("delay 1500 code=6 once", &error));
    // Long enough for the held answer; the pause after closing the old port
    // lasts as long.
    main_->Session->SetTimeOut(3000);
    reg_->ClearRequests();
    const int entries = Journal().size();

    TModalDriver driver;
    QTimer cancel;
    cancel.setInterval(5);
    driver.OnDialog<TConnectForm>([&](TConnectForm* d) {
        QObject::connect(&cancel, &QTimer::timeout, d, [&, d] {
            if (!Codes(*reg_).contains(kConnect))
                return;
            cancel.stop();
            d->b_cancel->click();
        });
        cancel.start();
        d->cb_Port->setCurrentIndex(d->cb_Port->findText(Port()));
        d->b_Connect->click();
    });
    main_->mm_c_connectClick();
    QVERIFY(WaitIdle(*main_));
    // Past the held answer: it reaches a closed port.
    QVERIFY(SpinUntil([&] { return !reg_->Requests().empty() &&
                                   std::chrono::steady_clock::now() - reg_->Requests()[0].When > std::chrono::milliseconds(2000); }));
    QVERIFY(WaitIdle(*main_));

    QVERIFY(driver.Done());
    QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));
    QCOMPARE(main_->WorkMode, TMainForm::wmOffline);
    QVERIFY(!main_->Session->PortOpened());
    QCOMPARE(Codes(*reg_), QList<int>{kConnect});
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + (fromReadWrite ? 1 : 0));
    if (fromReadWrite) {
        QCOMPARE(log[0].Text, kOffline);
        QCOMPARE(log[0].TextColor, QColor(clBlue));
    }
    QVERIFY(SpinUntil([&] { return !main_->led_connected->Active() && main_->mm_c_connect->isEnabled(); }));

    // Nothing holds the port: the next attempt connects.
    main_->Session->SetTimeOut(kPauseTimeOut);
    QVERIFY(ConnectThroughDialog());
}

// "Отмена" while the register checks the password: its late success is the
// outcome, so the window's mode says what the register did.
void SessionTest::cancelDuringAuthorisation()
{
    QVERIFY(ConnectThroughDialog());
    std::string error;
    reg_->AddFault(*ParseFault("delay 1500 code=30 once", &error));
    reg_->ClearRequests();
    const int entries = Journal().size();

    TModalDriver driver;
    QTimer cancel;
    cancel.setInterval(5);
    QString user;
    driver.OnDialog<TAuthForm>([&](TAuthForm* d) {
        user = d->cb_UserList->currentText();
        QTest::keyClicks(d->ed_Password, QStringLiteral("1"));
        QObject::connect(&cancel, &QTimer::timeout, d, [&, d] {
            if (!Codes(*reg_).contains(kAuthorize))
                return;
            cancel.stop();
            d->b_Cancel->click();
        });
        cancel.start();
        d->b_Auth->click();
    });
    QVERIFY(SpinUntil([&] { return main_->mm_c_auth->isEnabled(); }));
    main_->mm_c_auth->trigger();
    QVERIFY(WaitIdle(*main_));

    QVERIFY(driver.Done());
    QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));
    QVERIFY(!auth_->isVisible());
    QCOMPARE(reg_->WithModel([](RegisterModel& m) { return m.AuthorizedUser(); }), 1);
    QCOMPARE(main_->WorkMode, TMainForm::wmReadWrite);
    const QList<TLogEntry> log = JournalEntries(main_->re_LogOut);
    QCOMPARE(log.size(), entries + 4);
    QCOMPARE(log[0].Text, kReadWriteMode);
    QCOMPARE(log[1].Text, QStringLiteral("Авторизация прошла успешно. Пользователь [") + user +
                              QStringLiteral("]"));
    QVERIFY(SpinUntil([&] { return main_->led_writing->Active(); }));
}

// The pause of a time-out after closing the port is the worker's, before
// the next opening: the window goes offline at once, however long it is.
void SessionTest::disconnectPausesOnTheWorker()
{
    QVERIFY(ConnectThroughDialog());
    QVERIFY(SpinUntil([&] { return main_->mm_c_disconnect->isEnabled(); }));
    reg_->ClearRequests();

    main_->Session->SetTimeOut(120000);
    QElapsedTimer took;
    took.start();
    const auto beforeClose = std::chrono::steady_clock::now();
    main_->mm_c_disconnect->trigger();
    QVERIFY2(took.elapsed() < 60000, "the window waited the time-out");
    QCOMPARE(main_->WorkMode, TMainForm::wmOffline);
    QVERIFY(!main_->Session->PortOpened());

    // The next opening waits the time-out as it stands then.
    main_->Session->SetTimeOut(kPauseTimeOut);
    QVERIFY(ConnectThroughDialog());
    const std::vector<RequestRecord> requests = reg_->Requests();
    QVERIFY(!requests.empty());
    QVERIFY(requests[0].Started - beforeClose >= std::chrono::milliseconds(kPauseTimeOut));
}

KKM_WINDOW_TEST_MAIN(SessionTest)

#include "SessionTest.moc"
