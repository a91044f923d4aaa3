// The connect, information and authorisation jobs on the test's own thread
// against the register emulator, and the session that runs jobs on its
// worker: order of what a job reports, refusal while busy, closing during a
// waiting command, a lost line, and taking the session down mid-job.
#include "JobRecorder.h"
#include "LogoJobs.h"
#include "SettingsJobs.h"
#include "PtyRegister.h"
#include "SessionJobs.h"
#include "TestWait.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace kkm;
using namespace kkm::emu;

namespace {

constexpr std::uint32_t kGenerousTimeOut = 30000;

const QString kInfoStart = QStringLiteral("Чтение информации об устройстве...");
const QString kInfoDone = QStringLiteral("Чтение информации об устройстве завершено.");
const QString kUsersStart = QStringLiteral("Чтение списка пользователей из ККМ ...");
const QString kUsersDone = QStringLiteral("Чтение списка пользователей из ККМ завершено.");

QString Refusal(std::int32_t code)
{
    return QStringLiteral("! ") + TOmvekCP::ErrorText(code);
}

class Jobs : public ::testing::Test {
protected:
    void SetUp() override
    {
        PtyOptions options;
        options.Publish = false;
        options.LogSink = [](const std::string&) {};
        QString error;
        ASSERT_TRUE(reg.Start(options, &error)) << error.toStdString();
        proto.setTimeOut(kGenerousTimeOut);
    }

    void AddFault(const char* text)
    {
        std::string error;
        const auto fault = ParseFault(text, &error);
        ASSERT_TRUE(fault) << error;
        reg.AddFault(*fault);
    }

    PtyRegister reg;
    TOmvekCP proto;
    TJobRecorder job{proto};
};

TEST_F(Jobs, ConnectOpensAndGreets)
{
    const TConnectResult missing = ConnectJob(job, QStringLiteral("/dev/kkm-no-such-port"), 115200);
    EXPECT_EQ(missing.PortResult, prNoSuchPort);
    EXPECT_FALSE(proto.Port.Opened);

    TConnectResult ok = ConnectJob(job, reg.SlavePath(), 115200);
    EXPECT_TRUE(ok.Ok());
    EXPECT_TRUE(proto.Port.Opened);
    // Reopening pauses for a time-out; this one is still far more than the
    // emulator needs.
    proto.setTimeOut(3000);

    // Refused: the port stays open, and the next attempt reopens it.
    AddFault("refuse 2 code=6 once");
    const TConnectResult refused = ConnectJob(job, reg.SlavePath(), 115200);
    EXPECT_EQ(refused.PortResult, 0);
    EXPECT_EQ(refused.Result, 2);
    EXPECT_TRUE(proto.Port.Opened);
    ok = ConnectJob(job, reg.SlavePath(), 115200);
    EXPECT_TRUE(ok.Ok());
    EXPECT_TRUE(job.Lines.isEmpty()) << "connecting writes no journal line";
}

TEST_F(Jobs, InformationLinesAndValues)
{
    ASSERT_TRUE(ConnectJob(job, reg.SlavePath(), 115200).Ok());
    reg.WithModel([](RegisterModel& m) {
        m.State().identity.SerialNumber = 777;
        m.State().device.CashInDrawer = 12345;
    });
    TDeviceInfo info;
    TDeviceState state;
    EXPECT_EQ(InfoJob(job, [&](const TDeviceInfo& i) { info = i; },
                      [&](const TDeviceState& s) { state = s; }),
              0);
    EXPECT_EQ(info.SerialNumber, 777);
    EXPECT_EQ(state.CashInDrawer.ToShortString(), "123.45");
    EXPECT_EQ(job.Lines, (QStringList{kInfoStart, kInfoDone}));

    // The identity arrives, the state does not: no end line.
    job.Lines.clear();
    AddFault("refuse 3 code=2 once");
    bool gotState = false;
    EXPECT_EQ(InfoJob(job, {}, [&](const TDeviceState&) { gotState = true; }), 3);
    EXPECT_FALSE(gotState);
    EXPECT_EQ(job.Lines, (QStringList{kInfoStart, Refusal(3)}));

    // Offline: the first command finds the port closed.
    job.Lines.clear();
    proto.Port.Close();
    EXPECT_EQ(InfoJob(job, {}, {}), rcPortClosed);
    EXPECT_EQ(job.Lines, (QStringList{kInfoStart, Refusal(rcPortClosed)}));
}

TEST_F(Jobs, UserListAndAuthorisation)
{
    ASSERT_TRUE(ConnectJob(job, reg.SlavePath(), 115200).Ok());
    int users = 0;
    UserListJob(job, [&](const TArrayOfByte& record) {
        EXPECT_EQ(record, reg.WithModel([&](RegisterModel& m) { return m.Record(kkm::UserTable, users + 1); }));
        ++users;
    });
    EXPECT_EQ(users, int(kkm::UserCount));
    EXPECT_EQ(job.Lines, (QStringList{kUsersStart, kUsersDone}));

    // A refusal in the middle ends the list; the end line is still written.
    job.Lines.clear();
    users = 0;
    AddFault("refuse 1 code=12 table=9 record=3 once");
    UserListJob(job, [&](const TArrayOfByte&) { ++users; });
    EXPECT_EQ(users, 2);
    EXPECT_EQ(job.Lines, (QStringList{kUsersStart, Refusal(1), kUsersDone}));

    EXPECT_EQ(AuthoriseJob(job, 2, 1), 5) << "user 2's password is 2";
    EXPECT_EQ(AuthoriseJob(job, 2, 2), 0);
}

TEST_F(Jobs, LogoUploadRowByRow)
{
    ASSERT_TRUE(ConnectJob(job, reg.SlavePath(), 115200).Ok());
    ASSERT_EQ(AuthoriseJob(job, 1, 1), 0);
    const std::vector<TArrayOfByte> rows = {{0x80, 0x01}, {0xFF, 0x00}, {0x0F, 0xF0}};
    EXPECT_TRUE(LogoUploadJob(job, 1, 2, rows)) << job.Lines.join(" / ").toStdString();
    const auto logo = reg.WithModel([](RegisterModel& m) { return m.State().LastLogo; });
    ASSERT_TRUE(logo);
    EXPECT_EQ(int(logo->Rows), 3);
    EXPECT_EQ(logo->Dots, (TArrayOfByte{0x80, 0x01, 0xFF, 0x00, 0x0F, 0xF0}));
    EXPECT_EQ(job.LastItem, 3);
    EXPECT_EQ(job.Lines, (QStringList{"Запись изображения ...", "Запись изображения завершена."}));

    // A refused middle row ends it: no row after it, no end line.
    job.Lines.clear();
    reg.ClearRequests();
    AddFault("refuse 4 code=7 nth=3 once");
    EXPECT_FALSE(LogoUploadJob(job, 0, 2, rows));
    EXPECT_EQ(reg.RequestCount(), 3u) << "header, row 1, the refused row 2";
    EXPECT_EQ(job.Lines, (QStringList{"Запись изображения ...",
                                      "! Ошибка записи строки изображения. " + TOmvekCP::ErrorText(4)}));
}

// A table read field by field and one read record by record, each whole
// and with a refusal in the middle: the values up to it, a red line, and the
// end line in every case.
TEST_F(Jobs, SettingsReadByTheMap)
{
    ASSERT_TRUE(ConnectJob(job, reg.SlavePath(), 115200).Ok());
    struct {
        int table;
        const char* refusal; // refuses the third read
        int whole;           // reads of the whole table
    } cases[] = {{2, "refuse 1 code=13 nth=3 once", 8}, {4, "refuse 1 code=12 nth=3 once", 9}};
    for (const auto& c : cases) {
        const TRegisterTable& t = *FindTable(c.table);
        for (bool refused : {false, true}) {
            job.Lines.clear();
            reg.ClearRequests();
            if (refused)
                AddFault(c.refusal);
            int reads = 0;
            const bool complete = SettingsReadJob(job, t, [&](const std::vector<TFieldValue>& values) {
                EXPECT_FALSE(values.empty());
                ++reads;
            });
            EXPECT_EQ(complete, !refused) << c.table;
            EXPECT_EQ(reads, refused ? 2 : c.whole) << c.table;
            QStringList lines{t.ReadStartLine};
            if (refused)
                lines << Refusal(1);
            lines << t.ReadDoneLine;
            EXPECT_EQ(job.Lines, lines) << c.table;
        }
    }
}

// Writes are planned from the values first; a value that cannot be encoded
// stops the plan there, and the items before it still go out.
TEST_F(Jobs, SettingsWritePlanAndSend)
{
    ASSERT_TRUE(ConnectJob(job, reg.SlavePath(), 115200).Ok());
    ASSERT_EQ(AuthoriseJob(job, 1, 1), 0);
    const TRegisterTable& lines = *FindTable(4);
    auto text = [](const TFieldValue& v, int record) {
        TControlValue value;
        if (v.Field->Encoding != TEncoding::LineAttributes)
            value.Text = QStringLiteral("Строка %1").arg(record);
        return value;
    };
    TSettingsWritePlan plan = PlanSettingsWrite(lines, text, {});
    ASSERT_EQ(plan.Items.size(), 9u);
    EXPECT_TRUE(plan.BuildError.isEmpty());
    EXPECT_EQ(SettingsWriteJob(job, plan), TWriteOutcome::Written);
    EXPECT_EQ(reg.WithModel([](RegisterModel& m) { return m.Record(4, 5); }).at(0), 0xD1) << "С in CP1251";
    EXPECT_EQ(job.Lines, (QStringList{lines.WriteStartLine, lines.WriteDoneLine}));

    // Refused at the third record: no end line for a record-wise table.
    job.Lines.clear();
    reg.ClearRequests();
    AddFault("refuse 3 code=14 nth=3 once");
    EXPECT_EQ(SettingsWriteJob(job, plan), TWriteOutcome::Refused);
    EXPECT_EQ(reg.RequestCount(), 3u);
    EXPECT_EQ(job.Lines, (QStringList{lines.WriteStartLine, Refusal(3)}));

    // A field-wise table says which field failed, and ends with its end line.
    const TRegisterTable* fields = nullptr;
    for (const TRegisterTable& t : SettingsTables())
        if (t.Write == TWriteKind::Fields)
            fields = &t;
    ASSERT_NE(fields, nullptr);
    std::vector<TFieldValue> filled;
    plan = PlanSettingsWrite(*fields, [](const TFieldValue&, int) { return TControlValue{}; },
                             [&](const TFieldValue& v) { filled.push_back(v); });
    ASSERT_GE(plan.Items.size(), 2u) << plan.BuildError.toStdString();
    job.Lines.clear();
    reg.ClearRequests();
    AddFault("refuse 3 code=15 nth=2 once");
    EXPECT_EQ(SettingsWriteJob(job, plan), TWriteOutcome::Refused);
    EXPECT_EQ(job.Lines, (QStringList{fields->WriteStartLine, "! " + plan.Items[1].ErrorLine, Refusal(3),
                                      fields->WriteDoneLine}));

    // Not encodable: what came before it goes out, then the end.
    plan.BuildError = QStringLiteral("плохое значение");
    job.Lines.clear();
    reg.ClearRequests();
    EXPECT_EQ(SettingsWriteJob(job, plan), TWriteOutcome::NotEncoded);
    EXPECT_EQ(reg.RequestCount(), plan.Items.size());
    EXPECT_EQ(job.Lines, (QStringList{fields->WriteStartLine}));
}

// The session: a worker thread runs the jobs; reports come back to this
// thread through its event loop.
class Session : public Jobs {
protected:
    void SetUp() override
    {
        Jobs::SetUp();
        session = std::make_unique<TSession>();
        session->Protokol()->setTimeOut(kGenerousTimeOut);
        QObject::connect(session.get(), &TSession::Line, [this](const QString& text, TLineKind kind) {
            reported << (kind == TLineKind::Error ? QStringLiteral("! ") : QString()) + text;
        });
        QObject::connect(session.get(), &TSession::LineLost, [this] { reported << QStringLiteral("lost"); });
    }

    // Starts Body and waits for its Done.
    bool Run(TSession::Job body)
    {
        bool done = false;
        if (!session->Start(std::move(body), [&] { done = true; }))
            return false;
        return WaitUntil([&] { return done; });
    }

    bool Connect()
    {
        TConnectResult result;
        return Run([&](TJobContext& j) { result = ConnectJob(j, reg.SlavePath(), 115200); }) && result.Ok();
    }

    std::unique_ptr<TSession> session;
    QStringList reported;
};

TEST_F(Session, RunsJobsOnItsWorkerAndReportsInOrder)
{
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(session->Protokol()->Port.Opened);
    QThread* worker = nullptr;
    QStringList order;
    bool done = false;
    ASSERT_TRUE(session->Start(
        [&](TJobContext& j) {
            worker = QThread::currentThread();
            InfoJob(j, [&](const TDeviceInfo&) { j.Post([&] { order << QStringLiteral("info"); }); },
                    [&](const TDeviceState&) { j.Post([&] { order << QStringLiteral("state"); }); });
        },
        [&] {
            order << QStringLiteral("done");
            done = true;
        }));
    EXPECT_TRUE(session->Busy());
    // A second job while the first one runs is refused and runs nothing.
    bool secondRan = false;
    EXPECT_FALSE(session->Start([&](TJobContext&) { secondRan = true; }));
    ASSERT_TRUE(WaitUntil([&] { return done; }));
    EXPECT_FALSE(session->Busy());
    EXPECT_FALSE(secondRan);
    EXPECT_NE(worker, QThread::currentThread());
    EXPECT_EQ(order, (QStringList{"info", "state", "done"}));
    EXPECT_EQ(reported, (QStringList{kInfoStart, kInfoDone}));
}

TEST_F(Session, ClosingEndsAWaitingCommandAtOnce)
{
    ASSERT_TRUE(Connect());
    session->Protokol()->setTimeOut(120000); // only the closing can end it
    AddFault("silent code=1");
    reg.ClearRequests();
    bool done = false;
    ASSERT_TRUE(session->Start([](TJobContext& j) { InfoJob(j, {}, {}); }, [&] { done = true; }));
    ASSERT_TRUE(reg.WaitForRequests(1, 30s));
    const auto start = std::chrono::steady_clock::now();
    session->ClosePort();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_FALSE(session->Protokol()->Port.Opened);
    ASSERT_TRUE(WaitUntil([&] { return done; }));
    EXPECT_EQ(reported, (QStringList{kInfoStart, Refusal(rcPortClosed)}));
    EXPECT_EQ(reg.RequestCount(), 1u) << "no request after the closing";
    EXPECT_TRUE(reg.WaitForClientCloses(1, 30s));

    // The next connection works as before.
    reported.clear();
    session->Protokol()->setTimeOut(kGenerousTimeOut);
    reg.ClearFaults();
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(Run([](TJobContext& j) { InfoJob(j, {}, {}); }));
    EXPECT_EQ(reported, (QStringList{kInfoStart, kInfoDone}));
}

TEST_F(Session, LostLineIsToldOnceAndEndsTheCommand)
{
    ASSERT_TRUE(Connect());
    // While nothing runs.
    ASSERT_TRUE(reg.HangUp());
    ASSERT_TRUE(WaitUntil([&] { return reported.contains(QStringLiteral("lost")); }));
    EXPECT_FALSE(session->Protokol()->Port.Opened);

    // While a command waits: the line goes first, then the command's -1.
    reported.clear();
    ASSERT_TRUE(Connect());
    AddFault("hangup code=2 once");
    ASSERT_TRUE(Run([](TJobContext& j) { InfoJob(j, {}, {}); }));
    EXPECT_EQ(reported, (QStringList{kInfoStart, "lost", Refusal(rcPortClosed)}));
    EXPECT_FALSE(session->Protokol()->Port.Opened);
}

// An unsolicited message between jobs comes to the session's thread as it
// was received.
TEST_F(Session, MessagesArriveAsSignals)
{
    ASSERT_TRUE(Connect());
    QList<QByteArray> frames;
    QObject::connect(session.get(), &TSession::Message, [&](const QByteArray& f) { frames << f; });
    reg.SendBody({0x01, 0x02, 0x07, 0x2E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01});
    ASSERT_TRUE(WaitUntil([&] { return !frames.isEmpty(); }));
    EXPECT_EQ(frames.front().front(), char(0xFD));
    EXPECT_EQ(frames.front().back(), char(0xFE));
    EXPECT_EQ(frames.front().mid(1, 4), QByteArray::fromHex("0102072e"));
}

// Taken down in the middle of a job with reports still on their way: the
// job ends, nothing reaches a receiver that is gone.
TEST_F(Session, DestroyedMidJob)
{
    ASSERT_TRUE(Connect());
    session->Protokol()->setTimeOut(120000);
    AddFault("silent code=2");
    reg.ClearRequests();
    auto alive = std::make_shared<bool>(true);
    bool doneRan = false;
    ASSERT_TRUE(session->Start(
        [alive](TJobContext& j) {
            for (int i = 0; i < 100; ++i)
                j.Post([alive] { EXPECT_TRUE(*alive); });
            InfoJob(j, {}, {});
        },
        [&] { doneRan = true; }));
    ASSERT_TRUE(reg.WaitForRequests(2, 30s));
    session.reset();
    *alive = false;
    QCoreApplication::processEvents();
    EXPECT_FALSE(doneRan);
    EXPECT_TRUE(reg.WaitForClientCloses(1, 30s));
}

} // namespace
