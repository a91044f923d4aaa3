// The command transaction end to end over a pseudo-terminal: packet
// identifiers, result codes, time-outs, slow lines, re-entry, and the frame
// collector's rules.
#include "OmvekCP.h"
#include "PtyPeer.h"
#include "TestWait.h"



#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A wait that an answer meets however loaded the machine; tests that are
// about the time-out set their own.
constexpr std::uint32_t kGenerousTimeOut = 30000;
// What a test that is about the time-out puts where an answer will never
// come: short, as only the result code is asserted.
constexpr std::uint32_t kShortTimeOut = 100;

TArrayOfByte Body(const TArrayOfByte& frame)
{
    TArrayOfByte body = frame;
    EXPECT_EQ(kkm::UnpackFrame(body), kkm::upOk);
    return body;
}

// Answers with its bytes; the request frame goes in, the reply comes out.
using Answer = std::function<TArrayOfByte(const TArrayOfByte& request)>;

class Transaction : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(proto.Port.Open(peer.SlavePath(), 115200), prOk);
        proto.setTimeOut(kGenerousTimeOut);
    }

    void AnswerWith(Answer answer)
    {
        peer.SetScript([answer](const TArrayOfByte& req) { return PtyPeer::Reply{answer(req)}; });
    }

    PtyPeer peer;
    TOmvekCP proto;
};

TArrayOfByte Ok(const TArrayOfByte& req) { return PtyPeer::Response(req, 0x00); }

} // namespace

TEST_F(Transaction, PacketIdentifiersWrap)
{
    AnswerWith(Ok);
    EXPECT_EQ(proto.PID(), 0);
    ASSERT_EQ(proto.Connect(2, 1, 5, 5), 0);
    ASSERT_EQ(proto.Connect(2, 1, 5, 5), 0);
    const auto frames = peer.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Body(frames[0])[2], 0);
    EXPECT_EQ(Body(frames[1])[2], 1);

    proto.setPID(255);
    ASSERT_EQ(proto.Connect(2, 1, 5, 5), 0); // the answer repeats 255
    EXPECT_EQ(Body(peer.Frames().back())[2], 255);
    EXPECT_EQ(proto.PID(), 0);
    EXPECT_EQ(proto.LastPID(), 255);
    EXPECT_EQ(proto.NextPID(), 0);
    EXPECT_EQ(proto.PID(), 1);
}

TEST_F(Transaction, RequestAndResponseAreKeptAsOnTheLine)
{
    const TArrayOfByte payload{0xFD, 0x00};
    AnswerWith([payload](const TArrayOfByte& req) { return PtyPeer::Response(req, 0x00, payload); });
    TArrayOfByte data;
    ASSERT_EQ(proto.ReadTableField(2, 1, 2, 1, 5, data), 0);
    EXPECT_EQ(data, payload);
    EXPECT_EQ(proto.TMsg(), peer.Frames().back());
    // Worked out by hand, CRC included, so that a fault shared by the codec
    // on both ends of this test cannot hide.
    EXPECT_EQ(proto.TMsg(), (TArrayOfByte{0xFD, 0x02, 0x01, 0x00, 0x0D, 0x02, 0x01, 0x00, 0x05,
                                          0x4C, 0x7E, 0xFE}));
    // Stuffing included, as received.
    EXPECT_EQ(proto.RMsg(), (TArrayOfByte{0xFD, 0x01, 0x02, 0x00, 0x00, 0xFF, 0x02, 0x00, 0xF0,
                                          0xE9, 0xFE}));
    EXPECT_EQ(proto.State(), TOmvekCP::tsIdle);
}

TEST_F(Transaction, ResultCodes)
{
    struct Case {
        const char* name;
        Answer answer;
        std::int32_t result;
    };
    auto frame = [](std::initializer_list<int> bytes) {
        TArrayOfByte f;
        for (int b : bytes)
            f.push_back(static_cast<std::uint8_t>(b));
        return f;
    };
    const Case cases[] = {
        {"success", Ok, 0},
        {"register refusal", [](auto& r) { return PtyPeer::Response(r, 0xFF, {0x03}); }, 3},
        {"unregistered register code",
         [](auto& r) { return PtyPeer::Response(r, 0xFF, {0x07}); }, 7},
        {"refusal without a code", [](auto& r) { return PtyPeer::Response(r, 0xFF, {0x00}); },
         rcBadResponse},
        {"payload where none belongs",
         [](auto& r) { return PtyPeer::Response(r, 0x00, {0x01}); }, rcBadResponse},
        {"reverse stuffing fails",
         [&](auto&) { return frame({0xFD, 0x01, 0x02, 0x00, 0x00, 0xFF, 0x03, 0xFE}); },
         rcUnstuffFailed},
        {"CRC mismatch",
         [](auto& r) {
             TArrayOfByte f = PtyPeer::Response(r, 0x00);
             f[f.size() - 2] ^= 0x01;
             return f;
         },
         rcCrcMismatch},
        {"other PID",
         [](auto& r) {
             const TArrayOfByte b = Body(r);
             return PtyPeer::Frame(b[1], b[0], static_cast<std::uint8_t>(b[2] + 1), 0x00);
         },
         rcPidMismatch},
        {"other sender",
         [](auto& r) {
             const TArrayOfByte b = Body(r);
             return PtyPeer::Frame(b[1], 9, b[2], 0x00);
         },
         rcOtherSender},
        {"other receiver, sender and PID: receiver checked first",
         [](auto& r) {
             const TArrayOfByte b = Body(r);
             return PtyPeer::Frame(9, 9, static_cast<std::uint8_t>(b[2] + 1), 0x00);
         },
         rcOtherReceiver},
        {"no answer", [](auto&) { return TArrayOfByte{}; }, rcTimeout},
        {"only a message", [](auto& r) {
             const TArrayOfByte b = Body(r);
             return PtyPeer::Frame(1, 2, b[2], 0x2E);
         }, rcTimeout},
    };
    for (const Case& c : cases) {
        AnswerWith(c.answer);
        // No answer ever comes for the time-out cases, so a short wait
        // cannot leave a late answer for the next case.
        proto.setTimeOut(c.result == rcTimeout ? kShortTimeOut : kGenerousTimeOut);
        EXPECT_EQ(proto.Connect(2, 1, 5, 5), c.result) << c.name;
        EXPECT_EQ(proto.State(), TOmvekCP::tsIdle) << c.name;
    }
}

TEST_F(Transaction, ErrorTexts)
{
    const std::pair<std::int32_t, const char*> cases[] = {
        {5, "Доступ запрещён"},
        {4, "Переданы некорректные параметры."},
        {3, "Невозможно выполнить данную команду."},
        {2, "Команда не поддерживается данным устройством."},
        {1, "Запрошенные данные отсутствуют."},
        {0, "Ошибок нет."},
        {-1, "Порт не открыт."},
        {-2, "Ошибка формирования пакета-команды."},
        {-3, "Истёк тайм-аут ожидания ответа."},
        {-4, "Ошибка разбора пакета-ответа."},
        {-5, "Сообщение не прошло обратный байтстаффинг."},
        {-6, "Принятое и посчитанное CRC не совпадают."},
        {-7, "Передатчик занят."},
        {-8, "Неизвестная ошибка."},
        {-9, "Сообщение не соответствует протоколу."},
        {-10, "Несовпадение PID."},
        {-11, "Сообщение пришло от иного устройства."},
        {-12, "Сообщение пришло иному приёмнику."},
        {-13, "Превышена длина сообщения."},
        {-14, "Ошибка формирования пакета-ответа."},
        {6, "Незарегистрированная ошибка."},
        {7, "Незарегистрированная ошибка."},
        {-15, "Незарегистрированная ошибка."},
    };
    for (const auto& [code, text] : cases) {
        QString out;
        TOmvekCP::ErrorText(code, out);
        EXPECT_EQ(out, QString::fromUtf8(text)) << code;
    }
    EXPECT_EQ(proto.Version(), QStringLiteral("OmvekCP ver.2.1 may.09"));
    proto.setVersion(QStringLiteral("other"));
    EXPECT_EQ(proto.Version(), QStringLiteral("OmvekCP ver.2.1 may.09"));
}

TEST_F(Transaction, ClosedPortAndUnbuildableRequest)
{
    AnswerWith(Ok);
    proto.Port.Close();
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcPortClosed);
    EXPECT_EQ(proto.PID(), 0) << "a closed port takes no identifier";

    ASSERT_EQ(proto.Port.Open(peer.SlavePath(), 115200), prOk);
    EXPECT_EQ(proto.WriteTableRecord(2, 1, 4, 1, TArrayOfByte(101, 0x20)), rcBuildFailed);
    EXPECT_EQ(proto.State(), TOmvekCP::tsIdle);
    ASSERT_EQ(proto.Connect(2, 1, 5, 5), 0);
    ASSERT_TRUE(peer.WaitForFrames(1, 5s));
    EXPECT_EQ(peer.FrameCount(), 1u) << "nothing went out for the unbuildable request";
}

TEST_F(Transaction, SecondCommandWhileWaitingIsRefused)
{
    peer.SetScript([](const TArrayOfByte& req) {
        return PtyPeer::Reply{Ok(req), 50ms};
    });
    std::int32_t inner = 1;
    TArrayOfByte untouched{0xAA};
    // Started from another thread while the first one waits for its answer.
    std::thread second([&] {
        if (peer.WaitForFrames(1, 30s))
            inner = proto.ReadTableRecord(2, 1, 9, 1, untouched);
    });
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), 0);
    second.join();
    EXPECT_EQ(inner, rcBusy);
    EXPECT_EQ(untouched, TArrayOfByte{0xAA});
    EXPECT_EQ(peer.FrameCount(), 1u);
    EXPECT_EQ(proto.PID(), 1);
}

TEST_F(Transaction, TimeOutBounds)
{
    AnswerWith([](auto&) { return TArrayOfByte{}; });
    for (std::uint32_t timeout : {0u, 50u, 200u}) {
        proto.setTimeOut(timeout);
        const auto start = Clock::now();
        EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcTimeout);
        const auto took = Clock::now() - start;
        // At least T div 10 + 1 pauses of 1 ms and at least T; above, only a
        // bound that a loaded machine meets too.
        EXPECT_GE(took, std::chrono::milliseconds(std::max<std::uint32_t>(timeout, timeout / 10 + 1)));
        EXPECT_LT(took, std::chrono::milliseconds(timeout) + 10s) << timeout;
    }
}

TEST_F(Transaction, LateAnswerIsDroppedOrFailsTheNextCommand)
{
    proto.setTimeOut(50);
    AnswerWith([](auto&) { return TArrayOfByte{}; });
    ASSERT_EQ(proto.Connect(2, 1, 5, 5), rcTimeout);
    const TArrayOfByte first = peer.Frames().front();

    // Arrives while no command waits: dropped, RMsg unchanged. The message
    // behind it shows when the line has been taken up.
    bool marker = false;
    proto.onConfirmation = [&](std::uint8_t, std::uint8_t, std::uint8_t, TCurrency, bool) {
        marker = true;
    };
    TArrayOfByte late = Ok(first);
    const TArrayOfByte message = PtyPeer::Frame(1, 2, 0, 0x2E);
    late.insert(late.end(), message.begin(), message.end());
    peer.Send(late);
    ASSERT_TRUE(WaitUntil([&] { return marker; }, 5s));
    EXPECT_EQ(proto.RMsg(), message);

    // Arrives while the next command waits: taken in place of its answer.
    peer.SetScript([first](const TArrayOfByte&) { return PtyPeer::Reply{Ok(first)}; });
    proto.setTimeOut(kGenerousTimeOut);
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcPidMismatch);
}

TEST_F(Transaction, SlowLineAnswerIsNotCutOff)
{
    proto.Port.Close();
    ASSERT_EQ(proto.Port.Open(peer.SlavePath(), 1200), prOk);
    // 158 bytes on the wire take 1.3 s at 1200 baud, more than the 1 s
    // time-out. The peer keeps to the line's schedule, so only a pause of a
    // whole second between two bytes could cut the answer off.
    proto.setTimeOut(1000);
    const TArrayOfByte record(150, 0x41);
    peer.SetScript([record](const TArrayOfByte& req) {
        return PtyPeer::Reply{PtyPeer::Response(req, 0x00, record), 0ms, 1200};
    });
    TArrayOfByte data;
    const auto start = Clock::now();
    ASSERT_EQ(proto.ReadTableRecord(2, 1, 1, 1, data), 0);
    EXPECT_GE(Clock::now() - start, 1200ms);
    EXPECT_EQ(data, record);
    EXPECT_EQ(PtyPeer::Response(peer.Frames().back(), 0x00, record).size(), 158u);

    // A silent slow line still times out.
    proto.setTimeOut(kShortTimeOut);
    AnswerWith([](auto&) { return TArrayOfByte{}; });
    const auto silentStart = Clock::now();
    EXPECT_EQ(proto.ReadTableRecord(2, 1, 1, 1, data), rcTimeout);
    EXPECT_LT(Clock::now() - silentStart, 10s);

    // A frame that starts and then stops is not waited for forever.
    AnswerWith([](auto&) { return TArrayOfByte{0xFD, 0x01, 0x02}; });
    const auto stuckStart = Clock::now();
    EXPECT_EQ(proto.ReadTableRecord(2, 1, 1, 1, data), rcTimeout);
    EXPECT_LT(Clock::now() - stuckStart, 15s);
}

// When the whole program stops running for a while (a loaded machine), the
// line's silence is not judged by that time. Here the answer trickles in one
// byte at a time, and the waiting thread stands still for longer than the
// time-out in the middle of the frame (inside its own wait), while the
// sender pauses with it: the answer must not be cut off.
TEST_F(Transaction, OwnStallIsNotTheLinesSilence)
{
    proto.Port.Close();
    ASSERT_EQ(proto.Port.Open(peer.SlavePath(), 1200), prOk);
    AnswerWith([](auto&) { return TArrayOfByte{}; });
    proto.setTimeOut(500);
    const TArrayOfByte payload(40, 0x41);
    std::atomic<bool> stalling{false};
    std::atomic<bool> stop{false};
    bool stalled = false;
    std::size_t delivered = 0;
    const auto start = Clock::now();
    const TPortDataEvent deliver = proto.Port.OnData;
    proto.Port.OnData = [&](const TArrayOfByte& data, std::int32_t count, std::uint32_t errors) {
        delivered += static_cast<std::size_t>(count);
        deliver(data, count, errors);
        if (!stalled && delivered >= 5 && Clock::now() - start > 600ms) {
            stalled = true;
            stalling = true;
            std::this_thread::sleep_for(1500ms); // the whole program stands still
            stalling = false;
        }
    };
    std::thread trickle([&] {
        if (!peer.WaitForFrames(1, 30s))
            return;
        const TArrayOfByte answer = PtyPeer::Response(peer.Frames().front(), 0x00, payload);
        for (std::size_t next = 0; next < answer.size() && !stop;) {
            std::this_thread::sleep_for(20ms);
            if (!stalling)
                peer.Send({answer[next++]});
        }
    });
    TArrayOfByte data;
    EXPECT_EQ(proto.ReadTableRecord(2, 1, 1, 1, data), rcOk);
    stop = true;
    trickle.join();
    EXPECT_TRUE(stalled);
    EXPECT_EQ(data, payload);
}

// While the request is still on its way out (a slow line; pseudo-terminals
// send at once, so the queue count is stood in for) the answer's wait has
// not started yet: it only starts once the request has left.
TEST_F(Transaction, WaitForTheRequestToLeave)
{
    std::atomic<bool> sent{false};
    std::atomic<int> asked{0}, askedAfterSent{0};
    proto.Port.OutputQueueProbe = [&] {
        ++asked;
        askedAfterSent += sent;
        return sent ? 0 : 40;
    };
    auto sendAfter = [&](std::chrono::milliseconds pause) {
        return std::thread([&sent, pause] {
            std::this_thread::sleep_for(pause);
            sent = true;
        });
    };
    AnswerWith([](auto&) { return TArrayOfByte{}; }); // silent: only the time-out ends it
    proto.setTimeOut(kShortTimeOut);
    std::thread leaving = sendAfter(300ms);
    const auto start = Clock::now();
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcTimeout);
    leaving.join();
    EXPECT_GT(askedAfterSent, 0) << "the queue was asked until it had emptied";
    EXPECT_GE(Clock::now() - start, 300ms + std::chrono::milliseconds(kShortTimeOut))
        << "the answer's wait started before the request had left";

    // An answer that comes while the request is still reported queued (an
    // adapter that counts its own buffer) is not lost.
    sent = false;
    AnswerWith(Ok);
    proto.setTimeOut(kGenerousTimeOut);
    leaving = sendAfter(300ms);
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcOk);
    leaving.join();

    // A queue that never empties holds the command for a bounded time only.
    sent = false;
    AnswerWith([](auto&) { return TArrayOfByte{}; });
    proto.setTimeOut(kShortTimeOut);
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcTimeout);
    EXPECT_GT(asked, 0);
}

// Another thread (a window that closes) interrupts a waiting command: it
// ends at once with -1, and so does every command after it, without a
// request and without taking an identifier, until the interruption is
// cleared.
TEST_F(Transaction, InterruptedDuringTheWait)
{
    AnswerWith([](auto&) { return TArrayOfByte{}; });
    proto.setTimeOut(30000);
    std::thread closer([&] {
        if (peer.WaitForFrames(1, 30s))
            proto.Interrupt();
    });
    const auto start = Clock::now();
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcPortClosed);
    closer.join();
    EXPECT_LT(Clock::now() - start, 20s);
    EXPECT_EQ(proto.State(), TOmvekCP::tsIdle);

    const std::uint8_t pid = proto.PID();
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcPortClosed);
    EXPECT_EQ(proto.PID(), pid);
    EXPECT_EQ(peer.FrameCount(), 1u);

    proto.ClearInterrupt();
    AnswerWith(Ok);
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcOk);
}

// The port closed by the component's own thread in the middle of a wait
// (a handler of the received bytes) ends the command with -1.
TEST_F(Transaction, PortClosedDuringTheWait)
{
    AnswerWith([](auto&) { return TArrayOfByte{0x00}; }); // a byte, no frame
    proto.setTimeOut(30000);
    const TPortDataEvent deliver = proto.Port.OnData;
    proto.Port.OnData = [&](const TArrayOfByte& data, std::int32_t count, std::uint32_t errors) {
        deliver(data, count, errors);
        proto.Port.Close();
    };
    const auto start = Clock::now();
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcPortClosed);
    EXPECT_LT(Clock::now() - start, 20s);
    EXPECT_EQ(proto.State(), TOmvekCP::tsIdle);
}

// Frame collection fed directly, as the port's reads would.
class Collector : public ::testing::Test {
protected:
    void Feed(const TArrayOfByte& bytes)
    {
        TArrayOfByte buffer(255, 0);
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
        proto.PortDataReceived(buffer, static_cast<std::int32_t>(bytes.size()), 0);
    }
    TOmvekCP proto;
};

TEST_F(Collector, MessagesOnlyWhenIdle)
{
    int confirmations = 0;
    proto.onConfirmation = [&](std::uint8_t, std::uint8_t, std::uint8_t, TCurrency, bool) {
        ++confirmations;
    };
    const TArrayOfByte message = PtyPeer::Frame(1, 2, 5, 0x2E);
    Feed({0x00, 0x11, 0xFE});
    Feed(message);
    EXPECT_EQ(confirmations, 1);
    EXPECT_EQ(proto.RMsg(), message);

    // A response nobody waits for is dropped and leaves RMsg alone.
    Feed(PtyPeer::Frame(1, 2, 5, 0x00));
    EXPECT_EQ(proto.RMsg(), message);
    EXPECT_EQ(proto.State(), TOmvekCP::tsIdle);
}

TEST_F(Collector, RestartAndOverflow)
{
    int confirmations = 0;
    proto.onConfirmation = [&](std::uint8_t, std::uint8_t, std::uint8_t, TCurrency, bool) {
        ++confirmations;
    };
    const TArrayOfByte message = PtyPeer::Frame(1, 2, 5, 0x2E);
    // A start marker inside a frame begins it anew.
    TArrayOfByte bytes{0xFD, 0x02, 0x01};
    bytes.insert(bytes.end(), message.begin(), message.end());
    Feed(bytes);
    EXPECT_EQ(confirmations, 1);

    // 256 bytes without an end marker: dropped along with what follows up to
    // the next start marker, even if it ends like a frame.
    TArrayOfByte tooLong(256, 0x41);
    tooLong[0] = 0xFD;
    Feed(TArrayOfByte(tooLong.begin(), tooLong.begin() + 200));
    Feed(TArrayOfByte(tooLong.begin() + 200, tooLong.end()));
    EXPECT_FALSE(proto.InFrame());
    Feed(TArrayOfByte(message.begin() + 1, message.end()));
    EXPECT_EQ(confirmations, 1);
    Feed(message);
    EXPECT_EQ(confirmations, 2);
}
