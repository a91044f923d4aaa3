// Every transfer of the window under every fault the register emulator can
// put on the line, as one table: each transfer crossed with each fault. A
// row checks the journal, what the register holds and what the window
// shows afterwards, that the process goes idle, and that the window still
// talks to the register (or, after a hang-up, is offline and connects
// again).
#include "Cp1251.h"
#include "LogoTestFiles.h"
#include "PtyRegister.h"
#include "TLed.h"
#include "UiTestSupport.h"
#include "uAuthForm.h"
#include "uConnectForm.h"
#include "uGoodsPage.h"
#include "uInfoPage.h"
#include "uLogoPage.h"
#include "uMainForm.h"
#include "uSettingsPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <climits>
#include <memory>

#include <sys/resource.h>

using namespace kkm;
using namespace kkm::emu;
using namespace std::chrono_literals;

namespace {

enum TTransfer {
    trConnect,
    trInfoRefresh,
    trSettingsRead,
    trOperatorsWrite,
    trGoodsRead,
    trGoodsWrite,
    trLogoUpload,
    trCsvImportWrite,
};

// A transfer: which of its requests the faults hit, how many it sends when
// all goes well, and what an answer one byte too long does to it (record
// reads take any length; every other answer has a fixed size).
struct TTransferCase {
    TTransfer Transfer;
    const char* Name;
    int FaultAt;
    int Requests;
    int LongerResult;
};

const TTransferCase kTransfers[] = {
    {trConnect, "connect", 1, 3, rcBadResponse},
    {trInfoRefresh, "information refresh", 2, 2, rcBadResponse},
    {trSettingsRead, "text lines read", 3, 9, 0},
    {trOperatorsWrite, "operators write", 4, 21, rcBadResponse},
    {trGoodsRead, "goods read", 3, 6, 0},
    {trGoodsWrite, "goods write zeroing sales", 3, 6, rcBadResponse},
    {trLogoUpload, "logo upload", 3, 4, rcBadResponse},
    {trCsvImportWrite, "CSV import then goods write", 2, 3, rcBadResponse},
};

constexpr int kLost = INT_MIN;    // the line was lost: the command ends with -1
constexpr int kLonger = INT_MAX;  // the transfer's LongerResult

// A fault: its text (the request it hits is added), the result the transfer
// sees, whether the register carried the request out, and whether it ends
// on the window's time-out.
struct TFaultCase {
    const char* Name;
    const char* Fault;
    int Result;
    bool CarriedOut;
    bool TimesOut;
    bool OnLast; // hits the transfer's last request instead
};

// The late answer comes well after the window's time-out for the faulty
// request, and so after the transfer has ended.
constexpr int kLateMs = 4000;
constexpr std::uint32_t kFaultTimeOut = 1000;

const TFaultCase kFaults[] = {
    {"refusal", "refuse 3", 3, false, false, false},
    {"silence", "silent", rcTimeout, false, true, false},
    {"late answer", "delay 4000", rcTimeout, true, true, false},
    {"bad CRC", "badcrc", rcCrcMismatch, true, false, false},
    {"wrong PID", "badpid", rcPidMismatch, true, false, false},
    {"wrong receiver", "badar", rcOtherReceiver, true, false, false},
    {"wrong sender", "badat", rcOtherSender, true, false, false},
    {"one byte too long", "longer", kLonger, true, false, false},
    {"garbage before the frame", "garbage", 0, true, false, false},
    {"split with pauses", "split 3 40", 0, true, false, false},
    // A copy that comes while the next command waits would be taken for its
    // answer (a PID mismatch), depending on when the bytes arrive; after the
    // last request nobody waits, so the copy must be dropped.
    {"duplicate answer", "twice", 0, true, false, true},
    {"hang-up", "hangup", kLost, false, false, false},
};

// Everything below waits on conditions; these bounds only stop a broken
// test.
constexpr std::uint32_t kGenerousTimeOut = 10000;
constexpr std::uint32_t kFollowUpTimeOut = 2000;
// How long a row watches the idle process, and the share of that time it
// may take on the CPU: a thread left spinning takes a whole core, or on a
// loaded machine its share of one, far more than the timers of an idle
// window.
constexpr int kIdleMs = 250;
constexpr int kIdleCpuPercent = 25;

const QString kInfoStart = QStringLiteral("Чтение информации об устройстве...");
const QString kInfoDone = QStringLiteral("Чтение информации об устройстве завершено.");
const QString kLineLost = QStringLiteral("!Связь с ККМ потеряна: порт закрыт.");
const QString kOffline = QStringLiteral("Касса отключена. Программа работает в режиме \"Автономная работа\"");
const QString kOld = QStringLiteral("старое");

QString Pad(const QString& text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '), true);
}

QByteArray Bytes(const TArrayOfByte& a, int from, int n)
{
    return QByteArray(reinterpret_cast<const char*>(a.data()) + from, n);
}

// The process's CPU time, user and system, in milliseconds.
qint64 CpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (qint64(u.ru_utime.tv_sec) + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

} // namespace

class FaultMatrixTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void transferUnderFault_data();
    void transferUnderFault();

private:
    bool Connect() { return ConnectThroughDialog(*main_, reg_->PublishedPath()); }
    void Prepare(TTransfer t);
    // Runs the transfer; for the connect dialog also answers its error box
    // and cancels it, noting the box's text.
    void Run(TTransfer t, bool failed, QString* box);
    QStringList Expected(TTransfer t, int result) const;
    void CheckState(TTransfer t, bool completed, bool carriedOut);
    void FollowUp(TTransfer t, int result);

    // Journal entries since Mark(), oldest first; red ones start with "!".
    void Mark() { mark_ = JournalEntries(main_->re_LogOut).size(); }
    QStringList NewJournal() const;

    QString RegisterText(int table, int record, int from, int n) const
    {
        const TArrayOfByte r = reg_->WithModel([&](RegisterModel& m) { return m.Record(table, record); });
        return FromCp1251(Bytes(r, from, n));
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<PtyRegister> reg_;
    std::unique_ptr<TMainForm> main_;
    TConnectForm* connect_ = nullptr;
    int mark_ = 0;
};

void FaultMatrixTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    reg_ = std::make_unique<PtyRegister>();
    PtyRegister::Options options;
    options.LogSink = [](const std::string&) {};
    QString error;
    QVERIFY2(reg_->Start(options, &error), qPrintable(error));
    main_ = std::make_unique<TMainForm>();
    connect_ = new TConnectForm(main_.get());
    new TAuthForm(main_.get());
    main_->show();
    main_->Session->SetTimeOut(kGenerousTimeOut);
}

void FaultMatrixTest::cleanup()
{
    main_.reset();
    reg_.reset();
    dir_.reset();
}

QStringList FaultMatrixTest::NewJournal() const
{
    const QList<TLogEntry> entries = JournalEntries(main_->re_LogOut);
    QStringList out;
    for (qsizetype i = entries.size() - mark_ - 1; i >= 0; --i)
        out << (entries[i].TextColor == QColor(clRed) ? QStringLiteral("!") : QString()) + entries[i].Text;
    return out;
}

// Brings the window to where the transfer starts: connected (and authorised
// for writes), the page in front, the controls and the register holding
// values that show what the transfer changed.
void FaultMatrixTest::Prepare(TTransfer t)
{
    if (t == trConnect)
        return;
    QVERIFY(Connect());
    const bool writes = t == trOperatorsWrite || t == trGoodsWrite || t == trLogoUpload || t == trCsvImportWrite;
    if (writes)
        QVERIFY(AuthoriseThroughDialog(*main_));
    TSettingsPage* settings = main_->ts_KKMOptions;
    TGoodsPage* goods = main_->ts_Goods;
    switch (t) {
    case trConnect:
    case trInfoRefresh:
        break;
    case trSettingsRead:
        main_->PageControl->setCurrentIndex(TMainForm::pgKKMOptions);
        settings->pc_Options->setCurrentIndex(2);
        main_->findChild<QLineEdit*>(QStringLiteral("ed_CheckBeginThird"))->setText(kOld);
        break;
    case trOperatorsWrite:
        main_->PageControl->setCurrentIndex(TMainForm::pgKKMOptions);
        settings->pc_Options->setCurrentIndex(7);
        main_->si_ReadTableFromKKMClick(); // the rights cells need values
        QVERIFY(WaitIdle(*main_));
        settings->SetOperatorsCell(0, 1, QStringLiteral("Новый пост 1"));
        settings->SetOperatorsCell(0, 2, QStringLiteral("Новый пост 2"));
        break;
    case trGoodsRead:
    case trGoodsWrite:
    case trCsvImportWrite:
        main_->PageControl->setCurrentIndex(TMainForm::pgGoods);
        main_->ts_Goods->ed_GoodsStart->setText(QStringLiteral("1"));
        main_->ts_Goods->ed_GoodsEND->setText(QStringLiteral("3"));
        main_->ts_Goods->cb_QuantNull->setChecked(t == trGoodsWrite);
        reg_->WithModel([](RegisterModel& m) {
            for (int item = 1; item <= 3; ++item)
                m.SetSales(item, 1500);
        });
        for (int item = 1; item <= 3; ++item) {
            if (t == trGoodsRead) {
                goods->SetCell(1, item, kOld);
                continue;
            }
            const QStringList row = {QStringLiteral("Новый товар %1").arg(item), QStringLiteral("46%1").arg(item),
                                     QStringLiteral("2"), QStringLiteral("1%1.50").arg(item), QStringLiteral("НЕТ")};
            for (int c = 0; c < row.size(); ++c)
                goods->SetCell(c + 1, item, row[c]);
        }
        break;
    case trLogoUpload: {
        main_->eb_Logo->click();
        QVERIFY(SpinUntil([&] { return main_->PageControl->currentIndex() == TMainForm::pgLogo; }));
        const QString path = WriteBmp(*dir_, QStringLiteral("logo.bmp"), 16, 3,
                                      [](int x, int y) { return (x + y) % 3 ? qRgb(255, 255, 255) : qRgb(0, 0, 0); });
        QVERIFY(!path.isEmpty());
        TModalDriver driver;
        AnswerFileDialog(driver, path);
        main_->si_ImportClick();
        QVERIFY(driver.Done() && driver.Unexpected.isEmpty());
        QVERIFY(!main_->ts_Logo->SourcePicture.IsEmpty());
        break;
    }
    }
}

void FaultMatrixTest::Run(TTransfer t, bool failed, QString* box)
{
    switch (t) {
    case trConnect: {
        TModalDriver driver;
        ChooseAndConnect(driver, reg_->PublishedPath());
        TSeenBox seen;
        if (failed) {
            driver.AcceptBox(&seen);
            driver.OnDialog<TConnectForm>([](TConnectForm* d) { d->b_cancel->click(); });
        }
        main_->mm_c_connectClick();
        QVERIFY(driver.Done());
        QVERIFY2(driver.Unexpected.isEmpty(), qPrintable(driver.Unexpected.join('\n')));
        *box = seen.Text;
        break;
    }
    case trInfoRefresh:
        main_->ts_Information->b_infoRefresh->click();
        break;
    case trSettingsRead:
    case trGoodsRead:
        main_->si_ReadTableFromKKMClick();
        break;
    case trCsvImportWrite: {
        QFile csv(dir_->filePath(QStringLiteral("goods.csv")));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        for (int item = 1; item <= 3; ++item)
            csv.write(ToCp1251(QStringLiteral("%1;Из файла %1;77%1;3;2%1.75;ДА;0\r\n").arg(item)));
        csv.close();
        TModalDriver driver;
        AnswerFileDialog(driver, csv.fileName());
        main_->si_ImportClick();
        QVERIFY(WaitIdle(*main_));
        QVERIFY(driver.Done() && driver.Unexpected.isEmpty());
        main_->si_WriteTableToKKMClick();
        break;
    }
    case trOperatorsWrite:
    case trGoodsWrite:
    case trLogoUpload:
        main_->si_WriteTableToKKMClick();
        break;
    }
}

QStringList FaultMatrixTest::Expected(TTransfer t, int result) const
{
    if (t == trConnect) {
        if (result == 0)
            return {QStringLiteral("Подключение успешно. Порт [%1] Скорость [115200]").arg(reg_->PublishedPath()),
                    QStringLiteral("Программа работает в режиме \"Только чтение\""), kInfoStart, kInfoDone};
        // A failed attempt leaves nothing in the journal; the lost line does.
        return result == kLost ? QStringList{kLineLost} : QStringList{};
    }
    QStringList before, after;
    QString start, done, stepError;
    switch (t) {
    case trConnect:
        break;
    case trInfoRefresh:
        start = kInfoStart;
        if (result == 0)
            done = kInfoDone;
        break;
    case trSettingsRead:
        start = QStringLiteral("Чтение рекламных строк ...");
        done = QStringLiteral("Чтение рекламных строк закончено.");
        break;
    case trOperatorsWrite:
        start = QStringLiteral("Запись таблицы операторов ...");
        done = QStringLiteral("Запись таблицы операторов завершена.");
        stepError = QStringLiteral("!Ошибка записи должности оператора 2");
        break;
    case trGoodsRead:
        start = QStringLiteral("Чтение списка товаров ...");
        done = QStringLiteral("Чтение списка товаров завершено.");
        break;
    case trCsvImportWrite:
        before = {QStringLiteral("Выполняется импорт данных..."), QStringLiteral("Импорт данных завершен.")};
        [[fallthrough]];
    case trGoodsWrite:
        start = QStringLiteral("Запись списка товаров ...");
        done = QStringLiteral("Запись списка товаров завершена.");
        break;
    case trLogoUpload:
        start = QStringLiteral("Запись изображения ...");
        if (result == 0)
            done = QStringLiteral("Запись изображения завершена.");
        stepError = QStringLiteral("!Ошибка записи строки изображения. ");
        break;
    }
    QStringList lines = before;
    lines << start;
    if (result != 0) {
        if (result == kLost)
            lines << kLineLost << kOffline;
        const QString text = TOmvekCP::ErrorText(result == kLost ? rcPortClosed : result);
        if (t == trLogoUpload) {
            lines << stepError + text;
        } else {
            if (!stepError.isEmpty())
                lines << stepError;
            lines << QStringLiteral("!") + text;
        }
    }
    if (!done.isEmpty())
        lines << done;
    return lines;
}

// What the register and the window hold: what came before the faulty
// request done; the faulty write done when the register carried it out,
// whatever its answer; the faulty read shown only when the transfer
// completed; nothing after the faulty request.
void FaultMatrixTest::CheckState(TTransfer t, bool completed, bool carriedOut)
{
    TGoodsPage* goods = main_->ts_Goods;
    switch (t) {
    case trConnect:
        QCOMPARE(main_->WorkMode, completed ? TMainForm::wmReadOnly : TMainForm::wmOffline);
        break;
    case trInfoRefresh:
        // The identity came before the faulty state request either way.
        QCOMPARE(main_->ts_Information->lb_zNumber->text().isEmpty(), false);
        break;
    case trSettingsRead: {
        auto* second = main_->findChild<QLineEdit*>(QStringLiteral("ed_CheckBeginSecond"));
        auto* third = main_->findChild<QLineEdit*>(QStringLiteral("ed_CheckBeginThird"));
        QCOMPARE(second->text(), Pad(RegisterText(4, 2, 0, 32), 32));
        QCOMPARE(third->text(), completed ? Pad(RegisterText(4, 3, 0, 32), 32) : kOld);
        break;
    }
    case trOperatorsWrite:
        QCOMPARE(RegisterText(9, 1, 32, 32).trimmed(), QStringLiteral("Новый пост 1"));
        QCOMPARE(RegisterText(9, 2, 32, 32).trimmed() == QStringLiteral("Новый пост 2"), carriedOut);
        break;
    case trGoodsRead:
        QCOMPARE(goods->Cell(1, 1), Pad(RegisterText(1, 1, 0, 32), 32));
        QCOMPARE(goods->Cell(1, 2), completed ? Pad(RegisterText(1, 2, 0, 32), 32) : kOld);
        QCOMPARE(goods->Cell(1, 3), completed ? Pad(RegisterText(1, 3, 0, 32), 32) : kOld);
        break;
    case trGoodsWrite:
    case trCsvImportWrite: {
        const QString name = t == trGoodsWrite ? QStringLiteral("Новый товар %1") : QStringLiteral("Из файла %1");
        const auto sales = [&](int item) { return reg_->WithModel([&](RegisterModel& m) { return m.Sales(item); }); };
        QCOMPARE(RegisterText(1, 1, 0, 32), Pad(name.arg(1), 32));
        QCOMPARE(RegisterText(1, 2, 0, 32) == Pad(name.arg(2), 32), carriedOut);
        QCOMPARE(RegisterText(1, 3, 0, 32) == Pad(name.arg(3), 32), completed);
        if (t == trGoodsWrite) {
            QCOMPARE(sales(1), std::int64_t(0));
            QCOMPARE(sales(2), completed ? std::int64_t(0) : std::int64_t(1500));
            QCOMPARE(sales(3), completed ? std::int64_t(0) : std::int64_t(1500));
        } else {
            for (int item = 1; item <= 3; ++item)
                QCOMPARE(sales(item), std::int64_t(1500));
        }
        break;
    }
    case trLogoUpload: {
        const auto logo = reg_->WithModel([](RegisterModel& m) { return m.State().LastLogo; });
        QCOMPARE(logo.has_value(), completed);
        if (logo)
            QCOMPARE(int(logo->Rows), 3);
        break;
    }
    }
}

// The window still talks to the register: an information refresh, or a
// new connection where the transfer ended offline or in the dialog.
void FaultMatrixTest::FollowUp(TTransfer t, int result)
{
    main_->Session->SetTimeOut(kFollowUpTimeOut);
    Mark();
    reg_->ClearRequests();
    if (result == kLost || (t == trConnect && result != 0)) {
        QVERIFY(Connect());
        QCOMPARE(NewJournal().mid(2), (QStringList{kInfoStart, kInfoDone}));
        return;
    }
    main_->PageControl->setCurrentIndex(TMainForm::pgInformation);
    main_->ts_Information->b_infoRefresh->click();
    QVERIFY(WaitIdle(*main_));
    QCOMPARE(NewJournal(), (QStringList{kInfoStart, kInfoDone}));
    QCOMPARE(reg_->RequestCount(), std::size_t(2));
}

void FaultMatrixTest::transferUnderFault_data()
{
    QTest::addColumn<int>("transfer");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("faultAt");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("carriedOut");
    QTest::addColumn<bool>("timesOut");

    // KKM_FAULT_PART=k/n keeps the transfers whose place in the table is k
    // modulo n, so that ctest can run the matrix in parts side by side.
    int part = 0, parts = 1;
    if (const QByteArray wanted = qgetenv("KKM_FAULT_PART"); !wanted.isEmpty()) {
        part = wanted.split('/').value(0).toInt();
        parts = std::max(1, wanted.split('/').value(1).toInt());
    }
    int index = 0;
    for (const TTransferCase& t : kTransfers) {
        if (index++ % parts != part)
            continue;
        for (const TFaultCase& f : kFaults) {
            const int at = f.OnLast ? t.Requests : t.FaultAt;
            const int result = f.Result == kLonger ? t.LongerResult : f.Result;
            QTest::addRow("%s: %s", t.Name, f.Name)
                << int(t.Transfer) << QStringLiteral("%1 nth=%2").arg(QLatin1String(f.Fault)).arg(at) << at
                << (result == 0 ? t.Requests : at) << result << f.CarriedOut << f.TimesOut;
        }
    }
}

void FaultMatrixTest::transferUnderFault()
{
    QFETCH(int, transfer);
    QFETCH(QString, fault);
    QFETCH(int, faultAt);
    QFETCH(int, requests);
    QFETCH(int, result);
    QFETCH(bool, carriedOut);
    QFETCH(bool, timesOut);
    const auto t = static_cast<TTransfer>(transfer);

    Prepare(t);
    if (QTest::currentTestFailed())
        return;
    Mark();
    reg_->ClearRequests();
    std::string error;
    const auto parsed = ParseFault(fault.toStdString(), &error);
    QVERIFY2(parsed, error.c_str());
    reg_->AddFault(*parsed);

    // Only the faulty request is about the time-out: it gets a short one
    // once the register has it.
    QTimer shorten;
    if (timesOut) {
        shorten.setInterval(2);
        connect(&shorten, &QTimer::timeout, this, [&] {
            if (reg_->RequestCount() >= std::size_t(faultAt)) {
                main_->Session->SetTimeOut(kFaultTimeOut);
                shorten.stop();
            }
        });
        shorten.start();
    }

    QString box;
    Run(t, result != 0, &box);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(WaitIdle(*main_));
    shorten.stop();

    // A late answer, the second copy of a duplicate: all sent, all handled.
    QVERIFY(SpinUntil([&] { return reg_->WaitLineIdle(0ms); }, 30000));

    QCOMPARE(NewJournal(), Expected(t, result));
    if (t == trConnect && result != 0)
        QCOMPARE(box, TOmvekCP::ErrorText(result == kLost ? rcPortClosed : result));
    QCOMPARE(reg_->RequestCount(), std::size_t(requests));
    CheckState(t, result == 0, carriedOut);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(main_->Session->Protokol()->State(), std::uint8_t(TOmvekCP::tsIdle));
    QVERIFY(main_->lb_StatusEmpty->text().isEmpty());

    if (result == kLost) {
        QCOMPARE(main_->WorkMode, TMainForm::wmOffline);
        QVERIFY(!main_->Session->PortOpened());
        QVERIFY(SpinUntil([&] { return !main_->led_connected->Active() && !main_->led_writing->Active(); }));
        QVERIFY(!main_->mm_c_disconnect->isEnabled());
        QVERIFY(!main_->mm_c_auth->isEnabled());
    }

    // Nothing left running: an idle moment costs next to no CPU time. The
    // share is of the time that really passed, which a loaded machine
    // stretches.
    QElapsedTimer idle;
    idle.start();
    const qint64 cpuBefore = CpuMs();
    SpinUntil([] { return false; }, kIdleMs);
    const qint64 cpu = CpuMs() - cpuBefore;
    const qint64 idleMs = idle.elapsed();
    QVERIFY2(cpu * 100 < idleMs * kIdleCpuPercent,
             qPrintable(QStringLiteral("%1 ms of CPU time in %2 idle ms").arg(cpu).arg(idleMs)));

    FollowUp(t, result);
}

KKM_WINDOW_TEST_MAIN(FaultMatrixTest)

#include "FaultMatrixTest.moc"
