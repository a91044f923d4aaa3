// A register that misbehaves on the line: each fault gives its result code,
// and the component takes the next command as if nothing had happened.
#include "RegisterFixture.h"

#include <functional>

using namespace kkm;
using namespace kkm::emu;

namespace {

class CommandFaults : public RegisterFixture {
protected:
    void SetUp() override
    {
        RegisterFixture::SetUp();
        proto.onConfirmation = [this](std::uint8_t, std::uint8_t, std::uint8_t PID, TCurrency, bool) {
            lastMarker_ = PID;
        };
    }

    // Waits until everything the register sent before now has been taken
    // in: a message sent behind it has come through.
    bool Settle()
    {
        const std::uint8_t pid = ++marker_;
        reg.SendBody({1, 2, pid, 0x2E});
        return WaitUntil([&] { return lastMarker_ == pid; });
    }

    // The component still works: a plain read gets the register's record.
    void ExpectReady(const char* after)
    {
        ASSERT_TRUE(Settle()) << after;
        TArrayOfByte data;
        EXPECT_EQ(proto.ReadTableRecord(2, 1, 9, 1, data), rcOk) << after;
        EXPECT_EQ(data, reg.WithModel([](RegisterModel& m) { return m.Record(9, 1); })) << after;
    }

    std::uint8_t marker_ = 0x80;
    int lastMarker_ = -1;
};

const std::int64_t kUntouched = -99;

} // namespace

TEST_F(CommandFaults, EachFaultGivesItsResult)
{
    TArrayOfByte data;
    TCurrency quantity;
    const TArrayOfByte record3 = reg.WithModel([](RegisterModel& m) { return m.Record(9, 3); });
    const QByteArray model = reg.WithModel(
        [](RegisterModel& m) { return QByteArray::fromStdString(m.State().identity.ModelName); });
    const TCurrency sales1 = TCurrency::FromThousandths(reg.WithModel([](RegisterModel& m) { return m.Sales(1); }));
    TKkmText name;
    TCurrency cash;

    // Each command with what it must have read when it succeeds.
    struct Command {
        std::function<std::int32_t()> run;
        std::function<void()> expectRead;
    };
    const Command readRecord{[&] { return proto.ReadTableRecord(2, 1, 9, 3, data); },
                             [&] { EXPECT_EQ(data, record3); }};
    const Command readSales{[&] { return proto.ReadGoodsSales(2, 1, 1, quantity); },
                            [&] { EXPECT_EQ(quantity, sales1); }};
    const Command connect{[&] { return proto.Connect(2, 1, 5, 5); }, [] {}};
    const Command state{[&] {
                            std::uint8_t e, m, o, s;
                            TDateTime d, t;
                            TCurrency total;
                            return proto.GetDeviceState(2, 1, e, d, t, m, o, s, total, cash);
                        },
                        [&] { EXPECT_NE(cash, TCurrency::FromRaw(kUntouched)); }};
    const Command info{[&] {
                           std::int64_t serial;
                           std::uint16_t w;
                           std::uint8_t b, v;
                           TDateTime d;
                           return proto.GetDeviceInfo(2, 1, serial, w, b, v, d, name);
                       },
                       [&] { EXPECT_EQ(name, model); }};

    struct Case {
        const char* fault;
        const Command& call;
        std::int32_t result;
        std::uint32_t timeOut = kAnswerTimeOut;
    };
    const Case cases[] = {
        {"refuse 4 code=12 record=3", readRecord, 4},
        {"refuse code=12", readRecord, 3},
        {"refuse 0xFE code=19", readSales, 0xFE},
        {"silent", readRecord, rcTimeout, 150},
        {"silent code=19", readSales, rcTimeout, 150},
        {"delay 50", readRecord, rcOk},
        {"badcrc", readRecord, rcCrcMismatch},
        {"badpid", readSales, rcPidMismatch},
        {"badar", connect, rcOtherReceiver},
        {"badat", connect, rcOtherSender},
        {"longer code=19", readSales, rcBadResponse},
        {"shorter code=19", readSales, rcBadResponse},
        {"longer code=2", state, rcBadResponse},
        {"shorter code=2", state, rcBadResponse},
        {"longer code=6", connect, rcBadResponse},
        {"zeroerror", readRecord, rcBadResponse},
        {"garbage", readRecord, rcOk},
        {"garbage FD0102FF0203", readRecord, rcOk}, // a start marker inside the noise
        {"split 3 30", readRecord, rcOk},
        {"split 9 5", info, rcOk},
        {"twice", readRecord, rcOk},
        // Readers that take what comes: one byte more or less is still data.
        {"longer code=1", info, rcOk},
        {"shorter code=1", info, rcOk}, // only the name's closing zero is lost
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const auto fault = ParseFault(c.fault);
        ASSERT_TRUE(fault.has_value());
        reg.AddFault(*fault);
        data = {0xAA};
        quantity = cash = TCurrency::FromRaw(kUntouched);
        name = "untouched";
        proto.setTimeOut(c.timeOut);

        EXPECT_EQ(c.call.run(), c.result);
        EXPECT_EQ(proto.State(), TOmvekCP::tsIdle);
        if (c.result == rcOk) {
            c.call.expectRead();
        } else {
            // A failed command assigns none of its outputs.
            EXPECT_EQ(data, TArrayOfByte{0xAA});
            EXPECT_EQ(quantity, TCurrency::FromRaw(kUntouched));
            EXPECT_EQ(cash, TCurrency::FromRaw(kUntouched));
            EXPECT_EQ(name, "untouched");
        }

        reg.ClearFaults();
        proto.setTimeOut(kAnswerTimeOut);
        ExpectReady(c.fault);
    }
}

// Records are taken whole, whatever their length: a byte more or less comes
// back as it was sent.
TEST_F(CommandFaults, RecordReadsTakeWhatComes)
{
    const TArrayOfByte record = reg.WithModel([](RegisterModel& m) { return m.Record(9, 2); });
    TArrayOfByte data;
    reg.AddFault(*ParseFault("longer once"));
    ASSERT_EQ(proto.ReadTableRecord(2, 1, 9, 2, data), rcOk);
    EXPECT_EQ(data, Concat(record, {0x00}));
    reg.AddFault(*ParseFault("shorter once"));
    ASSERT_EQ(proto.ReadTableRecord(2, 1, 9, 2, data), rcOk);
    EXPECT_EQ(data, TArrayOfByte(record.begin(), record.end() - 1));
}

// The second copy of an answer reaches a component with no command waiting
// and is dropped; it leaves neither RMsg nor the next command touched.
TEST_F(CommandFaults, DuplicateAnswerIsDropped)
{
    reg.AddFault(*ParseFault("twice once"));
    TArrayOfByte data;
    ASSERT_EQ(proto.ReadTableRecord(2, 1, 9, 1, data), rcOk);
    const TArrayOfByte answer = proto.RMsg();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(proto.RMsg(), kkm::emu::FrameBody({1, 2, marker_, 0x2E}));
    const auto log = reg.Requests();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().Answer, Concat(answer, answer)) << "the register did send it twice";

    TCurrency quantity;
    EXPECT_EQ(proto.ReadGoodsSales(2, 1, 1, quantity), rcOk);
}

// An unplugged cable: the command waiting ends at once with -1 (a time-out
// would be -3), the owner is told once, and every later command is refused
// the same way without a request going out; a new port brings the register
// back.
TEST_F(CommandFaults, HangUpEndsTheWaitingCommandAndEveryLaterOne)
{
    const QString before = reg.SlavePath();
    int lost = 0;
    proto.OnLineLost = [&] { ++lost; };
    reg.AddFault(*ParseFault("hangup once"));
    EXPECT_EQ(proto.Connect(2, 1, 5, 5), rcPortClosed);
    EXPECT_EQ(proto.State(), TOmvekCP::tsIdle);
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(proto.Port.Opened) << "closing is the owner's decision";
    EXPECT_TRUE(proto.Port.LineLost());

    const std::uint8_t pid = proto.PID();
    TArrayOfByte data{0xAA};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(proto.ReadTableRecord(2, 1, 9, 1, data), rcPortClosed) << i;
    EXPECT_EQ(data, TArrayOfByte{0xAA});
    EXPECT_EQ(proto.PID(), pid) << "no request went out";
    EXPECT_EQ(lost, 1);

    ASSERT_TRUE(WaitUntil([&] { return reg.SlavePath() != before; })) << "the register has a new port";
    ASSERT_TRUE(Attach());
    EXPECT_FALSE(proto.Port.LineLost());
    ExpectReady("reconnecting");
}
