// Answers that a well-behaved register does not give, written byte for byte
// by a scripted peer: refusals, success forms of the wrong length, impossible
// dates, and payloads read exactly as they came.
#include "OmvekCP.h"
#include "PtyPeer.h"
#include "TestBytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

TArrayOfByte Concat(TArrayOfByte a, const TArrayOfByte& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Every output argument of every command, each starting from a value that no
// answer below would produce, so that any assignment shows.
struct Outputs {
    std::int64_t serial = -7;
    std::uint16_t word = 0xBEEF;
    std::uint8_t infoByte = 0xAB, version = 0xCD;
    TDateTime softDate{-1.25};
    TKkmText model = "untouched";
    std::uint8_t error = 0xEE;
    TDateTime date{-2.5}, time{-3.75};
    std::uint8_t mode = 0xDD, oper = 0xCC, session = 0xBB;
    TCurrency total = TCurrency::FromRaw(-11), cash = TCurrency::FromRaw(-12);
    TArrayOfByte data{0xAA, 0x55};
    TCurrency quantity = TCurrency::FromRaw(-13);

    bool operator==(const Outputs&) const = default;
};

struct Command {
    const char* name;
    std::function<std::int32_t(TOmvekCP&, Outputs&)> call;
};

const Command kGetDeviceInfo{"GetDeviceInfo", [](TOmvekCP& p, Outputs& o) {
    return p.GetDeviceInfo(2, 1, o.serial, o.word, o.infoByte, o.version, o.softDate, o.model);
}};
const Command kGetDeviceState{"GetDeviceState", [](TOmvekCP& p, Outputs& o) {
    return p.GetDeviceState(2, 1, o.error, o.date, o.time, o.mode, o.oper, o.session, o.total, o.cash);
}};
const Command kConnect{"Connect", [](TOmvekCP& p, Outputs&) { return p.Connect(2, 1, 5, 5); }};
const Command kReadTableRecord{"ReadTableRecord", [](TOmvekCP& p, Outputs& o) {
    return p.ReadTableRecord(2, 1, 9, 1, o.data);
}};
const Command kReadTableField{"ReadTableField", [](TOmvekCP& p, Outputs& o) {
    return p.ReadTableField(2, 1, 2, 1, 5, o.data);
}};
const Command kWriteTableRecord{"WriteTableRecord", [](TOmvekCP& p, Outputs&) {
    return p.WriteTableRecord(2, 1, 4, 1, TArrayOfByte(33, 0x20));
}};
const Command kWriteTableField{"WriteTableField", [](TOmvekCP& p, Outputs&) {
    return p.WriteTableField(2, 1, 9, 7, 4, {0x7F});
}};
const Command kReadGoodsSales{"ReadGoodsSales", [](TOmvekCP& p, Outputs& o) {
    return p.ReadGoodsSales(2, 1, 1, o.quantity);
}};
const Command kWriteGoodsSales{"WriteGoodsSales", [](TOmvekCP& p, Outputs&) {
    return p.WriteGoodsSales(2, 1, 1, TCurrency{});
}};
const Command kSendLogoHeader{"SendLogoHeader", [](TOmvekCP& p, Outputs&) {
    return p.SendLogoHeader(2, 1, 1, 48, 100);
}};
const Command kSendLogoRow{"SendLogoRow", [](TOmvekCP& p, Outputs&) {
    return p.SendLogoRow(2, 1, 1, TArrayOfByte(48, 0x80));
}};
const Command kAuthorize{"Authorize", [](TOmvekCP& p, Outputs&) { return p.Authorize(2, 1, 1, 123456); }};

const Command* const kAllCommands[] = {
    &kGetDeviceInfo, &kGetDeviceState, &kConnect, &kReadTableRecord, &kReadTableField, &kWriteTableRecord,
    &kWriteTableField, &kReadGoodsSales, &kWriteGoodsSales, &kSendLogoHeader, &kSendLogoRow, &kAuthorize,
};
const Command* const kNoDataCommands[] = {
    &kConnect, &kWriteTableRecord, &kWriteTableField, &kWriteGoodsSales, &kSendLogoHeader, &kSendLogoRow,
    &kAuthorize,
};

// Payload pieces of the identity and state answers.
const TArrayOfByte kIdentityHead = Bytes({0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x34, 0x12, 0x42, 0x21});
const TArrayOfByte kClock = Bytes({0x28, 0x02, 0x09, 0x23, 0x59, 0x59});
TArrayOfByte WithoutLast(TArrayOfByte bytes)
{
    bytes.pop_back();
    return bytes;
}

TArrayOfByte StatePayload(const TArrayOfByte& clock)
{
    return Concat(Concat({0x00}, clock), Bytes({0x05, 0x12, 0x02, 0x00, 0x00, 0x00, 0x01, 0x23, 0x45,
                                                0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

class ResponseForms : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(proto.Port.Open(peer.SlavePath(), 115200), prOk);
        proto.setTimeOut(30000); // never waited out by a passing test
    }

    // Every request gets a response with this Code and payload, addressed
    // back to the sender under the request's PID.
    void AnswerWith(std::uint8_t code, const TArrayOfByte& payload)
    {
        peer.SetScript([code, payload](const TArrayOfByte& request) {
            return PtyPeer::Reply{PtyPeer::Response(request, code, payload)};
        });
    }

    // Runs the command against the answer set up; the outputs come back.
    Outputs Run(const Command& command, std::int32_t expected)
    {
        Outputs out;
        EXPECT_EQ(command.call(proto, out), expected) << command.name;
        EXPECT_EQ(proto.State(), TOmvekCP::tsIdle) << command.name;
        return out;
    }

    PtyPeer peer;
    TOmvekCP proto;
};

} // namespace

TEST_F(ResponseForms, RefusalReturnsTheRegisterCodeAndChangesNoOutput)
{
    for (const int code : {1, 3, 5, 7, 0xFD, 0xFF}) {
        AnswerWith(0xFF, {static_cast<std::uint8_t>(code)});
        for (const Command* c : kAllCommands)
            EXPECT_TRUE(Run(*c, code) == Outputs{}) << c->name << " refused with " << code;
    }
}

// An error form whose code is 0 reads as nothing at all, not as a success.
TEST_F(ResponseForms, RefusalWithoutACodeIsUnreadable)
{
    AnswerWith(0xFF, {0x00});
    for (const Command* c : kAllCommands)
        EXPECT_TRUE(Run(*c, rcBadResponse) == Outputs{}) << c->name;
}

TEST_F(ResponseForms, AnswersThatBreakTheCommandsRulesAreUnreadable)
{
    struct Case {
        const char* why;
        const Command* command;
        TArrayOfByte payload;
    };
    std::vector<Case> cases = {
        {"13-byte identity", &kGetDeviceInfo, Concat(kIdentityHead, {0x15, 0x05, 0x09})},
        {"empty identity", &kGetDeviceInfo, {}},
        {"software date 31 February", &kGetDeviceInfo, Concat(kIdentityHead, {0x31, 0x02, 0x09, 'A', 0})},
        {"software date 29 February 2009", &kGetDeviceInfo, Concat(kIdentityHead, {0x29, 0x02, 0x09, 'A', 0})},
        {"software date day 0", &kGetDeviceInfo, Concat(kIdentityHead, {0x00, 0x05, 0x09, 'A', 0})},
        {"software date month 13", &kGetDeviceInfo, Concat(kIdentityHead, {0x01, 0x13, 0x09, 'A', 0})},
        {"21-byte state", &kGetDeviceState, WithoutLast(StatePayload(kClock))},
        {"23-byte state", &kGetDeviceState, Concat(StatePayload(kClock), {0x00})},
        {"clock date 31 February", &kGetDeviceState, StatePayload({0x31, 0x02, 0x09, 0x12, 0x00, 0x00})},
        {"clock time 24:00:00", &kGetDeviceState, StatePayload({0x28, 0x02, 0x09, 0x24, 0x00, 0x00})},
        {"clock time 23:60:00", &kGetDeviceState, StatePayload({0x28, 0x02, 0x09, 0x23, 0x60, 0x00})},
        {"clock time 23:59:60", &kGetDeviceState, StatePayload({0x28, 0x02, 0x09, 0x23, 0x59, 0x60})},
        {"empty record", &kReadTableRecord, {}},
        {"empty field", &kReadTableField, {}},
        {"empty quantity", &kReadGoodsSales, {}},
        {"3-byte quantity", &kReadGoodsSales, {0x01, 0x23, 0x45}},
        {"5-byte quantity", &kReadGoodsSales, {0x00, 0x00, 0x01, 0x23, 0x45}},
    };
    for (const Command* c : kNoDataCommands)
        cases.push_back({"a payload byte where none belongs", c, {0x00}});

    for (const Case& c : cases) {
        AnswerWith(0x00, c.payload);
        EXPECT_TRUE(Run(*c.command, rcBadResponse) == Outputs{}) << c.command->name << ": " << c.why;
    }
}

// The answer is read before its addresses are looked at: an unreadable one
// is unreadable whoever it was for.
TEST_F(ResponseForms, UnreadableAnswerToAnotherReceiverIsUnreadable)
{
    const TArrayOfByte payload = WithoutLast(StatePayload(kClock));
    peer.SetScript([payload](const TArrayOfByte& request) {
        TArrayOfByte body = request;
        kkm::UnpackFrame(body);
        return PtyPeer::Reply{PtyPeer::Frame(9, body[0], body[2], 0x00, payload)};
    });
    EXPECT_TRUE(Run(kGetDeviceState, rcBadResponse) == Outputs{});

    peer.SetScript([](const TArrayOfByte& request) {
        TArrayOfByte body = request;
        kkm::UnpackFrame(body);
        return PtyPeer::Reply{PtyPeer::Frame(9, body[0], body[2], 0x00, StatePayload(kClock))};
    });
    EXPECT_TRUE(Run(kGetDeviceState, rcOtherReceiver) == Outputs{});
}

TEST_F(ResponseForms, IdentityIsReadAsWritten)
{
    struct Case {
        const char* why;
        TArrayOfByte tail; // from the software date on
        std::int64_t serial;
        QByteArray model;
    };
    const Case cases[] = {
        {"name ends at the zero byte", {0x31, 0x12, 0x99, 'A', 'B', 0, 'C'}, 12345678, "AB"},
        {"name without a zero runs to the end", {0x31, 0x12, 0x99, 'X', 'Y', 'Z'}, 12345678, "XYZ"},
        {"14 bytes, the last one zero", {0x31, 0x12, 0x99, 0}, 12345678, ""},
        {"14 bytes, no zero", {0x31, 0x12, 0x99, 0xD4}, 12345678, "\xD4"},
    };
    for (const Case& c : cases) {
        AnswerWith(0x00, Concat(kIdentityHead, c.tail));
        const Outputs out = Run(kGetDeviceInfo, rcOk);
        EXPECT_EQ(out.serial, c.serial) << c.why;
        EXPECT_EQ(out.word, 0x1234) << "low byte first";
        EXPECT_EQ(out.infoByte, 42);
        EXPECT_EQ(out.version, 21);
        EXPECT_EQ(out.softDate.Value, 73050.0) << c.why; // 31.12.2099
        EXPECT_EQ(out.model, c.model) << c.why;
    }

    AnswerWith(0x00, Bytes({0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0, 0, 0, 0, 0x01, 0x01, 0x00, 0}));
    const Outputs out = Run(kGetDeviceInfo, rcOk);
    EXPECT_EQ(out.serial, 999999999999);
    EXPECT_EQ(out.softDate.Value, 36526.0); // 01.01.2000
}

TEST_F(ResponseForms, StateIsReadAsWritten)
{
    AnswerWith(0x00, StatePayload(kClock));
    const Outputs out = Run(kGetDeviceState, rcOk);
    EXPECT_EQ(out.error, 0);
    EXPECT_EQ(out.date.Value, 39872.0); // 28.02.2009
    EXPECT_EQ(out.time.Value, 86399.0 / 86400.0);
    EXPECT_EQ(out.mode, 5);
    EXPECT_EQ(out.oper, 12);
    EXPECT_EQ(out.session, 2);
    EXPECT_EQ(out.total, TCurrency::FromRaw(1234500)); // 123.45
    EXPECT_EQ(out.cash, TCurrency{});
}

TEST_F(ResponseForms, ReadsTakeThePayloadExactly)
{
    // Marker and escape bytes travel stuffed and come back as they were.
    const TArrayOfByte record = Bytes({0xFD, 0xFE, 0xFF, 0x00, 0x41});
    AnswerWith(0x00, record);
    EXPECT_EQ(Run(kReadTableRecord, rcOk).data, record);
    AnswerWith(0x00, {0x12, 0x34});
    EXPECT_EQ(Run(kReadTableField, rcOk).data, Bytes({0x12, 0x34}));
    AnswerWith(0x00, {0x07});
    EXPECT_EQ(Run(kReadTableField, rcOk).data, Bytes({0x07}));

    const std::pair<TArrayOfByte, std::int64_t> quantities[] = {
        {{0x00, 0x01, 0x23, 0x45}, 123450},    // 12.345
        {{0x99, 0x99, 0x99, 0x99}, 999999990}, // 99999.999
        {{0x00, 0x00, 0x00, 0x00}, 0},
    };
    for (const auto& [payload, raw] : quantities) {
        AnswerWith(0x00, payload);
        EXPECT_EQ(Run(kReadGoodsSales, rcOk).quantity, TCurrency::FromRaw(raw));
    }
}

// A response Code of 0xFF with more than one byte is no refusal; its Code is
// still the result, and a result other than 0 assigns nothing.
TEST_F(ResponseForms, NonZeroCodeOfALongerAnswerIsTheResult)
{
    AnswerWith(0xFF, {0x03, 0x04});
    EXPECT_TRUE(Run(kReadTableRecord, 0xFF) == Outputs{});
    EXPECT_TRUE(Run(kReadTableField, 0xFF) == Outputs{});
    EXPECT_TRUE(Run(kConnect, rcBadResponse) == Outputs{});
}
