// The emulator behind its pseudo-terminal, driven by a plain POSIX client:
// the frame checks, the faults on the wire, messages, publishing the port
// and hanging up.
#include "Control.h"
#include "PortDirectory.h"
#include "PtyClient.h"
#include "PtyRegister.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <functional>

#include <sys/stat.h>

using namespace kkm;
using namespace kkm::emu;
using namespace std::chrono_literals;

namespace {

constexpr auto kLimit = PtyClient::kLimit;

TArrayOfByte Hex(const char* text)
{
    return *ParseHex(text);
}

TArrayOfByte Frame(std::uint8_t ar, std::uint8_t at, std::uint8_t pid, std::uint8_t code, TArrayOfByte payload = {})
{
    kkm::BuildFrame(ar, at, pid, code, payload);
    return payload;
}

// A frame around `body` with a CRC that is off by one.
TArrayOfByte FrameWithBadCrc(TArrayOfByte body)
{
    const std::uint16_t crc = kkm::CalcCRC(body.data(), body.size()) + 1;
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    kkm::StuffFrame(body);
    return body;
}

TArrayOfByte Unpacked(TArrayOfByte frame)
{
    return kkm::UnpackFrame(frame) == kkm::upOk ? frame : TArrayOfByte{};
}

PtyOptions QuietOptions(const QString& dir)
{
    PtyOptions o;
    o.Directory = dir;
    o.LogSink = [](const std::string&) {};
    return o;
}

class PtyRegisterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        QString error;
        ASSERT_TRUE(reg_.Start(QuietOptions(dir_.path()), &error)) << error.toStdString();
        // A fixed clock, so that equal requests get equal answers.
        reg_.WithModel([](RegisterModel& m) { m.State().device.FixedClock = ClockValue{{1, 2, 2009}, {3, 4, 5}}; });
    }

    QTemporaryDir dir_;
    PtyRegister reg_;
};

TEST_F(PtyRegisterTest, AnswersOnlyWellFormedRequestsToItsAddress)
{
    PtyClient client(reg_.PublishedPath());
    ASSERT_TRUE(client.IsOpen());

    TArrayOfByte noCode = {0x02, 0x01};
    const std::uint16_t crc = kkm::CalcCRC(noCode.data(), noCode.size());
    noCode.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    noCode.push_back(static_cast<std::uint8_t>(crc >> 8));
    kkm::StuffFrame(noCode);

    const std::vector<std::pair<TArrayOfByte, const char*>> unanswered = {
        {FrameWithBadCrc({0x02, 0x01, 0x01, 0x02}), "CRC"},
        {Hex("FD 02 01 02 02 FF 05 00 00 FE"), "stuffing"},
        {Hex("FD 02 01 03 02 FF FE"), "stuffing"}, // escape right before the end marker
        {Frame(3, 1, 4, 2), "AR"},
        {Frame(1, 2, 5, 0x2E), "AR"}, // a message, as the PC would get one
        {Frame(2, 5, 6, 2), "AT"},
        {noCode, "no command code"},
    };
    TArrayOfByte stream;
    for (const auto& [frame, problem] : unanswered)
        stream.insert(stream.end(), frame.begin(), frame.end());
    const TArrayOfByte good = Frame(2, 1, 9, 2);
    stream.insert(stream.end(), good.begin(), good.end());
    ASSERT_TRUE(client.Write(stream));

    // The first answer on the line is the good request's.
    const auto body = client.ReadBody();
    ASSERT_TRUE(body);
    EXPECT_EQ(TArrayOfByte(body->begin(), body->begin() + 4), Hex("01 02 09 00"));
    EXPECT_EQ(body->size(), 26u);

    ASSERT_TRUE(reg_.WaitForRequests(unanswered.size() + 1, kLimit));
    const auto log = reg_.Requests();
    ASSERT_EQ(log.size(), unanswered.size() + 1);
    for (std::size_t i = 0; i < unanswered.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(log[i].Wire, unanswered[i].first);
        EXPECT_FALSE(log[i].Valid);
        EXPECT_NE(log[i].Problem.find(unanswered[i].second), std::string::npos) << log[i].Problem;
        EXPECT_TRUE(log[i].Answer.empty());
    }
    EXPECT_TRUE(log.back().Valid);
    EXPECT_EQ(log.back().Body, Hex("02 01 09 02"));

    // Frames that pass get an answer even when the register refuses them.
    const std::pair<TArrayOfByte, const char*> refused[] = {
        {Frame(2, 1, 10, 6, {5}), "01 02 0A FF 04"},      // Connect with one byte
        {Frame(2, 1, 11, 0x63), "01 02 0B FF 02"},        // unknown command
        {Frame(2, 1, 0xFE, 1, {0}), "01 02 FE FF 04"},    // a PID that needs stuffing
    };
    for (const auto& [request, answer] : refused) {
        ASSERT_TRUE(client.Write(request));
        const auto b = client.ReadBody();
        ASSERT_TRUE(b);
        EXPECT_EQ(ToHex(*b), answer);
    }
}

struct FaultShape {
    const char* text;
    // The answer as sent, and the answer that the same request gets without
    // the fault.
    std::function<void(const TArrayOfByte& answer, const TArrayOfByte& normal)> check;
};

TEST_F(PtyRegisterTest, FaultsShapeTheAnswerOnTheWire)
{
    PtyClient client(reg_.PublishedPath());
    ASSERT_TRUE(client.IsOpen());
    const TArrayOfByte request = Frame(2, 1, 7, 2);
    ASSERT_TRUE(client.Write(request));
    const auto normalFrame = client.ReadFrame();
    ASSERT_TRUE(normalFrame);
    const TArrayOfByte normal = *normalFrame;
    const TArrayOfByte normalBody = Unpacked(normal);
    auto plus = [](TArrayOfByte a, const TArrayOfByte& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };

    const FaultShape shapes[] = {
        {"refuse 5 code=2", [](auto& a, auto&) { EXPECT_EQ(Unpacked(a), Hex("01 02 07 FF 05")); }},
        {"refuse 5 code=12", [](auto& a, auto& n) { EXPECT_EQ(a, n); }},
        {"silent", [](auto& a, auto&) { EXPECT_TRUE(a.empty()); }},
        {"delay 20", [](auto& a, auto& n) { EXPECT_EQ(a, n); }},
        {"split 3 1", [](auto& a, auto& n) { EXPECT_EQ(a, n); }},
        {"twice", [&](auto& a, auto& n) { EXPECT_EQ(a, plus(n, n)); }},
        {"garbage 0011FE", [&](auto& a, auto& n) { EXPECT_EQ(a, plus(Hex("00 11 FE"), n)); }},
        {"badcrc",
         [&](auto& a, auto&) {
             TArrayOfByte f = a;
             EXPECT_EQ(kkm::UnpackFrame(f), kkm::upCrcMismatch);
             ASSERT_TRUE(kkm::UnstuffFrame(f));
             EXPECT_EQ(TArrayOfByte(f.begin(), f.end() - 2), normalBody);
         }},
        {"badpid",
         [&](auto& a, auto&) {
             TArrayOfByte expected = normalBody;
             expected[2] = 8;
             EXPECT_EQ(Unpacked(a), expected);
         }},
        {"badar", [&](auto& a, auto&) { EXPECT_EQ(Unpacked(a).at(0), 2); }},
        {"badat", [&](auto& a, auto&) { EXPECT_EQ(Unpacked(a).at(1), 3); }},
        {"longer", [&](auto& a, auto&) { EXPECT_EQ(Unpacked(a), plus(normalBody, {0x00})); }},
        {"shorter",
         [&](auto& a, auto&) { EXPECT_EQ(Unpacked(a), TArrayOfByte(normalBody.begin(), normalBody.end() - 1)); }},
        {"zeroerror", [](auto& a, auto&) { EXPECT_EQ(Unpacked(a), Hex("01 02 07 FF 00")); }},
    };
    const TArrayOfByte sync = Frame(2, 1, 0x55, 1);
    for (const FaultShape& shape : shapes) {
        SCOPED_TRACE(shape.text);
        reg_.ClearFaults();
        reg_.ClearRequests();
        // Through the control command, as a user would give it.
        const auto command = ParseControl(std::string("fault ") + shape.text);
        ASSERT_TRUE(command);
        ExecuteControl(reg_, *command, {});
        ASSERT_TRUE(client.Write(request));
        ASSERT_TRUE(reg_.WaitForRequests(1, kLimit));
        const TArrayOfByte answer = reg_.Requests().at(0).Answer;
        shape.check(answer, normal);

        // Exactly that reaches the client, and nothing more: the next bytes
        // are the answer to an ordinary request.
        reg_.ClearFaults();
        ASSERT_TRUE(client.Write(sync));
        ASSERT_TRUE(reg_.WaitForRequests(2, kLimit));
        const TArrayOfByte syncAnswer = reg_.Requests().at(1).Answer;
        EXPECT_EQ(client.ReadBytes(answer.size() + syncAnswer.size()), plus(answer, syncAnswer));
    }
}

TEST_F(PtyRegisterTest, OnceAndNthFaultsFireOnTheirRequestOnly)
{
    PtyClient client(reg_.PublishedPath());
    ASSERT_TRUE(client.IsOpen());
    auto exchange = [&](std::uint8_t pid) {
        EXPECT_TRUE(client.Send(pid, 2));
        const auto body = client.ReadBody();
        return body ? (*body)[3] : -1;
    };
    reg_.AddFault(*ParseFault("refuse 4 code=2 once"));
    EXPECT_EQ(exchange(1), AnswerRefused);
    EXPECT_EQ(exchange(2), AnswerDone);

    // nth counts from when the fault is added; the first silence shows as
    // the third request's answer arriving first.
    reg_.AddFault(*ParseFault("silent nth=2"));
    reg_.AddFault(*ParseFault("refuse 3 nth=3"));
    EXPECT_EQ(exchange(3), AnswerDone);
    ASSERT_TRUE(client.Send(4, 2));
    ASSERT_TRUE(client.Send(5, 2));
    const auto body = client.ReadBody();
    ASSERT_TRUE(body);
    EXPECT_EQ(ToHex(*body), "01 02 05 FF 03");
    EXPECT_EQ(exchange(6), AnswerDone);
    EXPECT_TRUE(reg_.Faults().empty());
}

TEST_F(PtyRegisterTest, SendsMessagesAndRawBytes)
{
    PtyClient client(reg_.PublishedPath());
    ASSERT_TRUE(client.IsOpen());
    // One exchange first: messages go out only while a client is there.
    ASSERT_TRUE(client.Send(1, 1));
    ASSERT_TRUE(client.ReadBody());

    reg_.SendMessage(Confirmation{12345, true}, 0xFD);
    EXPECT_EQ(client.ReadFrame(), FrameBody(Hex("01 02 FD 2E 00 00 00 01 23 45")));
    reg_.SendMessage(Confirmation{});
    reg_.SendMessage(Confirmation{});
    const auto first = client.ReadBody(), second = client.ReadBody();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(std::uint8_t((*first)[2] + 1), (*second)[2]);
    reg_.SendBody(Hex("01 02 03 28"));
    EXPECT_EQ(client.ReadBody(), Hex("01 02 03 28"));
    reg_.SendRaw(Hex("00 FD FF 09 FE"));
    EXPECT_EQ(client.ReadBytes(5), Hex("00 FD FF 09 FE"));
}

// A client closing its end is seen and counted; a hang-up is the
// emulator's own doing and is not.
TEST_F(PtyRegisterTest, CountsTheClientClosingTheLine)
{
    EXPECT_EQ(reg_.ClientCloses(), 0u);
    {
        PtyClient client(reg_.PublishedPath());
        ASSERT_TRUE(client.Send(1, 1));
        ASSERT_TRUE(client.ReadBody());
        EXPECT_EQ(reg_.ClientCloses(), 0u);
    }
    EXPECT_TRUE(reg_.WaitForClientCloses(1, kLimit));

    PtyClient second(reg_.PublishedPath());
    ASSERT_TRUE(second.Send(2, 1));
    ASSERT_TRUE(second.ReadBody());
    ASSERT_TRUE(reg_.HangUp());
    PtyClient third(reg_.PublishedPath());
    ASSERT_TRUE(third.Send(3, 1));
    ASSERT_TRUE(third.ReadBody());
    EXPECT_EQ(reg_.ClientCloses(), 1u);
}

TEST_F(PtyRegisterTest, HangUpActsAsAnUnpluggedCableAndTheLinkLeadsToANewPort)
{
    const QString link = reg_.PublishedPath();
    const QString before = reg_.SlavePath();
    PtyClient first(link);
    ASSERT_TRUE(first.Send(1, 2));
    ASSERT_TRUE(first.ReadBody());

    ASSERT_TRUE(reg_.HangUp());
    pollfd p{first.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, static_cast<int>(kLimit.count())), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    std::uint8_t byte = 0;
    errno = 0;
    const ssize_t n = ::read(first.Fd(), &byte, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    EXPECT_NE(reg_.SlavePath(), before);
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), reg_.SlavePath());

    // A client that leaves the line settings alone still gets a raw line.
    PtyClient second(link, false);
    ASSERT_TRUE(second.IsOpen());
    termios t{};
    ASSERT_EQ(::tcgetattr(second.Fd(), &t), 0);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    ASSERT_TRUE(second.Send(2, 2));
    const auto body = second.ReadBody();
    ASSERT_TRUE(body);
    EXPECT_EQ((*body)[2], 2);

    // The hang-up fault does the same when its request comes.
    const QString middle = reg_.SlavePath();
    reg_.AddFault(*ParseFault("hangup nth=1"));
    ASSERT_TRUE(second.Send(3, 2));
    pollfd q{second.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&q, 1, static_cast<int>(kLimit.count())), 1);
    EXPECT_TRUE(q.revents & POLLHUP);
    EXPECT_NE(reg_.SlavePath(), middle);
    PtyClient third(link);
    ASSERT_TRUE(third.Send(4, 2));
    EXPECT_TRUE(third.ReadBody());
}

TEST(PtyPublishTest, TakesTheFirstFreeNumberAndCleansUp)
{
    QTemporaryDir tmp;
    const QString dir = tmp.path() + QStringLiteral("/run/ports"); // made on demand
    auto entries = [&] {
        return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                   QDir::Name);
    };

    PtyRegister a, b, c, d;
    QString error;
    ASSERT_TRUE(a.Start(QuietOptions(dir), &error)) << error.toStdString();
    ASSERT_TRUE(b.Start(QuietOptions(dir), &error)) << error.toStdString();
    EXPECT_EQ(a.PublishedPath(), dir + QStringLiteral("/ttyEMU0"));
    EXPECT_EQ(b.PublishedPath(), dir + QStringLiteral("/ttyEMU1"));
    EXPECT_EQ(QFileInfo(a.PublishedPath()).symLinkTarget(), a.SlavePath());
    EXPECT_EQ(QFileInfo(b.PublishedPath()).symLinkTarget(), b.SlavePath());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(kkm::LiveEmulatorPorts(dir), QStringList({a.PublishedPath(), b.PublishedPath()}));

    a.Stop();
    EXPECT_EQ(entries(), QStringList({"ttyEMU1", "ttyEMU1.lock"}));
    EXPECT_EQ(kkm::LiveEmulatorPorts(dir), QStringList({b.PublishedPath()}));

    // What an emulator that was killed leaves: a link and an unlocked lock.
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), dir + QStringLiteral("/ttyEMU0")));
    QFile stale(dir + QStringLiteral("/ttyEMU0.lock"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    EXPECT_EQ(kkm::LiveEmulatorPorts(dir), QStringList({b.PublishedPath()}));
    ASSERT_TRUE(c.Start(QuietOptions(dir), &error)) << error.toStdString();
    EXPECT_EQ(c.PublishedPath(), dir + QStringLiteral("/ttyEMU0"));
    EXPECT_EQ(QFileInfo(c.PublishedPath()).symLinkTarget(), c.SlavePath());

    PtyOptions unpublished = QuietOptions(dir);
    unpublished.Publish = false;
    ASSERT_TRUE(d.Start(unpublished, &error)) << error.toStdString();
    EXPECT_TRUE(d.PublishedPath().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(d.SlavePath()));
    EXPECT_EQ(kkm::LiveEmulatorPorts(dir), QStringList({c.PublishedPath(), b.PublishedPath()}));
    PtyClient client(d.SlavePath());
    ASSERT_TRUE(client.Send(1, 1));
    EXPECT_TRUE(client.ReadBody());

    b.Stop();
    c.Stop();
    d.Stop();
    EXPECT_TRUE(entries().isEmpty()) << entries().join(QLatin1Char(' ')).toStdString();
}

} // namespace
