// Frame codec, packed decimal, frame collection and the value types.
#include "FrameCodec.h"

#include <limits>
#include "KkmTypes.h"
#include "TestBytes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace kkm;

namespace {

TArrayOfByte Ascii(const std::string& s) { return TArrayOfByte(s.begin(), s.end()); }

} // namespace

TEST(Crc, CheckValueAndEmptyRange)
{
    const TArrayOfByte digits = Ascii("123456789");
    EXPECT_EQ(CalcCRC(digits, 0, 8), 0x8521);
    EXPECT_EQ(CalcCRC(digits, 5, 4), 0xFFFF); // Last < First
    EXPECT_EQ(CalcCRC(TArrayOfByte{}, 0, 0), 0xFFFF);
    // A range past the end is cut at the end rather than read beyond it.
    EXPECT_EQ(CalcCRC(digits, 0, 200), 0x8521);
}

TEST(Crc, DiffersFromTheUsualRoutine)
{
    // The usual 0x8005 routine with start 0xFFFF (CRC-16/CMS) gives 0xAEE7.
    EXPECT_NE(CalcCRC(Ascii("123456789"), 0, 8), 0xAEE7);
}

TEST(BuildFrame, KnownFrames)
{
    TArrayOfByte shortest;
    ASSERT_TRUE(BuildFrame(0x02, 0x01, 0x00, 0x01, shortest));
    EXPECT_EQ(shortest, Bytes({0xFD, 0x02, 0x01, 0x00, 0x01, 0x23, 0x0C, 0xFE}));

    TArrayOfByte stuffed = Bytes({0xFD, 0xFE, 0xFF, 0x00});
    ASSERT_TRUE(BuildFrame(0x02, 0x01, 0x07, 0x10, stuffed));
    EXPECT_EQ(stuffed, Bytes({0xFD, 0x02, 0x01, 0x07, 0x10, 0xFF, 0x02, 0xFF, 0x01, 0xFF, 0x00,
                              0x00, 0xE3, 0xEC, 0xFE}));
}

TEST(BuildFrame, PayloadLimit)
{
    TArrayOfByte tooLong(MaxPayload + 1, 0x55);
    const TArrayOfByte before = tooLong;
    EXPECT_FALSE(BuildFrame(2, 1, 0, 14, tooLong));
    EXPECT_EQ(tooLong, before);
}

// At the wire limit: BuildFrame accepts exactly the requests a receiver
// takes whole, whether the raw length or the escapes (in the payload, the
// header or the CRC) decide it. The PIDs are picked so that the CRC is
// stuffed or not as the case says; the wire column is checked, not assumed.
TEST(BuildFrame, WireLimitEdges)
{
    const struct {
        const char* name;
        std::size_t count; // payload bytes of value fill
        std::uint8_t fill;
        TArrayOfByte tail; // then these
        std::uint8_t pid;
        std::size_t wire; // markers and escapes included
        bool accepted;
    } cases[] = {
        {"nothing stuffed, longest", 247, 0x55, {}, 0, 255, true},
        {"nothing stuffed, one byte more", 248, 0x55, {}, 0, 256, false},
        {"one payload byte stuffed, at the limit", 245, 0x55, {0xFD}, 0, 255, true},
        {"a second stuffed byte pushes it over", 244, 0x55, {0xFD, 0xFE}, 1, 256, false},
        {"the stuffed CRC pushes it over", 247, 0x55, {}, 10, 256, false},
        {"a stuffed PID, at the limit", 246, 0x55, {}, 0xFD, 255, true},
        {"every byte stuffed, at the limit", 123, 0xFF, {}, 59, 255, true},
        {"every payload byte stuffed, one more", 124, 0xFF, {}, 0, 256, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TArrayOfByte payload(c.count, c.fill);
        payload.insert(payload.end(), c.tail.begin(), c.tail.end());

        // What would go on the wire, built without BuildFrame.
        TArrayOfByte wire = {2, 1, c.pid, 0x0D};
        wire.insert(wire.end(), payload.begin(), payload.end());
        const std::uint16_t crc = CalcCRC(wire.data(), wire.size());
        wire.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        wire.push_back(static_cast<std::uint8_t>(crc >> 8));
        std::size_t escapes = 0;
        for (std::uint8_t b : wire)
            escapes += b >= 0xFD;
        ASSERT_EQ(wire.size() + 2 + escapes, c.wire) << "the case is what its name says";
        StuffFrame(wire);

        // A receiver takes it whole exactly when it is accepted.
        FrameCollector receiver;
        FrameCollector::Outcome last = FrameCollector::Ignored;
        for (std::uint8_t b : wire)
            last = receiver.Push(b);
        EXPECT_EQ(last == FrameCollector::Complete, c.accepted);

        TArrayOfByte frame = payload;
        ASSERT_EQ(BuildFrame(2, 1, c.pid, 0x0D, frame), c.accepted);
        EXPECT_EQ(frame, c.accepted ? wire : payload);
    }
}

// Every payload length with the special values mixed in: a frame is built
// exactly when it fits MaxWireFrame bytes on the wire once stuffed (counted
// here from the content, independently of the stuffing code), and what is
// built unpacks to what went in.
TEST(BuildFrame, EveryPayloadLengthRoundTripsOrIsRefused)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    int edge = 0; // frames of exactly MaxWireFrame bytes
    for (int round = 0; round < 4; ++round) {
        for (std::size_t len = 0; len <= MaxPayload; ++len) {
            TArrayOfByte payload(len);
            const int special = round == 0 ? 96 : 8 * round;
            for (auto& b : payload) // biased towards the three special values
                b = static_cast<std::uint8_t>(byte(rng) < special ? 0xFD + byte(rng) % 3 : byte(rng));
            const auto pid = static_cast<std::uint8_t>(len + round);
            TArrayOfByte content = {2, 1, pid, 0x0D};
            content.insert(content.end(), payload.begin(), payload.end());
            const std::uint16_t crc = CalcCRC(content.data(), content.size());
            content.push_back(static_cast<std::uint8_t>(crc & 0xFF));
            content.push_back(static_cast<std::uint8_t>(crc >> 8));
            std::size_t wire = 2;
            for (std::uint8_t b : content)
                wire += b >= 0xFD ? 2 : 1;

            TArrayOfByte frame = payload;
            const bool built = BuildFrame(2, 1, pid, 0x0D, frame);
            ASSERT_EQ(built, wire <= MaxWireFrame) << "length " << len << ", " << wire << " on the wire";
            if (!built) {
                ASSERT_EQ(frame, payload) << "untouched when refused";
                continue;
            }
            edge += wire == MaxWireFrame;
            ASSERT_EQ(frame.size(), wire);
            ASSERT_EQ(frame.front(), FrameStart);
            ASSERT_EQ(frame.back(), FrameEnd);
            for (std::size_t i = 1; i + 1 < frame.size(); ++i)
                ASSERT_TRUE(frame[i] < 0xFD || frame[i] == FrameEscape) << "length " << len;
            ASSERT_EQ(UnpackFrame(frame), upOk) << "length " << len;
            content.resize(content.size() - 2);
            ASSERT_EQ(frame, content);
        }
    }
    EXPECT_GT(edge, 0) << "the limit itself was reached";
}

TEST(UnpackFrame, ResultCodes)
{
    struct Case {
        const char* name;
        TArrayOfByte frame;
        UnpackResult result;
    };
    const Case cases[] = {
        {"shortest frame", Bytes({0xFD, 0x02, 0x01, 0x00, 0x01, 0x23, 0x0C, 0xFE}), upOk},
        {"two content bytes", Bytes({0xFD, 0x11, 0x22, 0xFE}), upTooShort},
        {"markers only", Bytes({0xFD, 0xFE}), upUnstuffFailed},
        {"escape followed by 03", Bytes({0xFD, 0x02, 0xFF, 0x03, 0x00, 0x01, 0xFE}),
         upUnstuffFailed},
        {"escape before the end marker", Bytes({0xFD, 0x02, 0x01, 0x00, 0xFF, 0xFE}),
         upUnstuffFailed},
        {"wrong CRC", Bytes({0xFD, 0x02, 0x01, 0x00, 0x01, 0x23, 0x0D, 0xFE}), upCrcMismatch},
    };
    for (const Case& c : cases) {
        TArrayOfByte frame = c.frame;
        EXPECT_EQ(UnpackFrame(frame), c.result) << c.name;
        if (c.result != upOk) {
            EXPECT_EQ(frame, c.frame) << c.name << ": a failure leaves the frame as it was";
        }
    }
    TArrayOfByte frame = cases[0].frame;
    UnpackFrame(frame);
    EXPECT_EQ(frame, Bytes({0x02, 0x01, 0x00, 0x01}));
}

TEST(ViewFrame, HeaderFieldsAndPayload)
{
    const TArrayOfByte refusal = Bytes({0x01, 0x02, 0x07, 0xFF, 0x03});
    FrameView view;
    ASSERT_TRUE(ViewFrame(refusal, view));
    EXPECT_EQ(view.Receiver, 0x01);
    EXPECT_EQ(view.Sender, 0x02);
    EXPECT_EQ(view.PID, 0x07);
    EXPECT_EQ(view.Code, ResponseRefused);
    EXPECT_TRUE(view.IsRefusal());
    EXPECT_EQ(TArrayOfByte(view.Payload.begin(), view.Payload.end()), Bytes({0x03}));

    ASSERT_TRUE(ViewFrame(Bytes({0x01, 0x02, 0x07, 0x00}), view));
    EXPECT_FALSE(view.IsRefusal());
    EXPECT_TRUE(view.Payload.empty());

    // Three bytes carry no Code: the view keeps what it held.
    EXPECT_FALSE(ViewFrame(Bytes({0x09, 0x09, 0x09}), view));
    EXPECT_EQ(view.Receiver, 0x01);
}

TEST(UnpackFrame, AnySingleChangedByteIsCaught)
{
    const TArrayOfByte payloads[] = {{}, Bytes({0x12, 0x34}), TArrayOfByte(46, 0x20),
                                     Bytes({0xFD, 0x00, 0xFE, 0x7F, 0xFF})};
    for (const TArrayOfByte& payload : payloads) {
        TArrayOfByte frame = payload;
        ASSERT_TRUE(BuildFrame(1, 2, 9, 0x00, frame));
        for (std::size_t i = 1; i + 1 < frame.size(); ++i) {
            // Bytes of an escape pair change the escape, not one body byte.
            if (frame[i] >= 0xFD || frame[i - 1] == FrameEscape)
                continue;
            for (int v = 0; v < 0xFD; ++v) {
                if (v == frame[i])
                    continue;
                TArrayOfByte changed = frame;
                changed[i] = static_cast<std::uint8_t>(v);
                ASSERT_EQ(UnpackFrame(changed), upCrcMismatch) << "byte " << i << " := " << v;
            }
        }
    }
}

TEST(Stuffing, ReverseStuffingEdgeCases)
{
    TArrayOfByte tooShort = Bytes({0xFD, 0xFE});
    EXPECT_FALSE(UnstuffFrame(tooShort));

    TArrayOfByte all = Bytes({0xFD, 0xFE, 0xFF, 0x00, 0x41});
    TArrayOfByte stuffed = all;
    StuffFrame(stuffed);
    EXPECT_EQ(stuffed, Bytes({0xFD, 0xFF, 0x02, 0xFF, 0x01, 0xFF, 0x00, 0x00, 0x41, 0xFE}));
    ASSERT_TRUE(UnstuffFrame(stuffed));
    EXPECT_EQ(stuffed, all);

    TArrayOfByte badEscape = Bytes({0xFD, 0x01, 0xFF, 0x05, 0xFE});
    const TArrayOfByte before = badEscape;
    EXPECT_FALSE(UnstuffFrame(badEscape));
    EXPECT_EQ(badEscape, before);
}

TEST(ClassifyFrame, ByCodeByte)
{
    struct Case {
        TArrayOfByte raw;
        std::uint8_t kind;
    };
    const Case cases[] = {
        {Bytes({0xFD, 0x01, 0x02, 0x07, 0x00, 0x11, 0x22, 0xFE}), fkResponse},
        {Bytes({0xFD, 0x01, 0x02, 0x07, 0xFF, 0x00, 0x03, 0x11, 0x22, 0xFE}), fkResponse},
        {Bytes({0xFD, 0x01, 0x02, 0x07, 0x20, 0x11, 0x22, 0xFE}), fkMessage},
        {Bytes({0xFD, 0x01, 0x02, 0xFF, 0x05, 0x00, 0xFE}), fkNeither},
        {Bytes({0xFD, 0x01, 0x02, 0xFE}), fkNeither},
        {Bytes({0xFD, 0x01, 0x02, 0x07, 0xFF}), fkNeither}, // escape cut off
        {Bytes({0xFD}), fkNeither},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifyFrame(c.raw), c.kind) << ::testing::PrintToString(c.raw);
}

TEST(Bcd, Decode)
{
    struct Case {
        TArrayOfByte data;
        int first, last;
        bool ok;
        std::int64_t value;
    };
    const Case cases[] = {
        {Bytes({0x12, 0x34}), 0, 1, true, 1234},
        {Bytes({0x1A}), 0, 0, true, 20}, // nibbles are not validated
        {TArrayOfByte(6, 0x00), 0, 5, true, 0},
        {TArrayOfByte(6, 0x99), 0, 5, true, 999999999999},
        {Bytes({0x00, 0x00, 0x12, 0x34, 0x56, 0x78}), 0, 5, true, 12345678},
        {TArrayOfByte(7, 0x11), 0, 6, false, 0}, // seven bytes
        {Bytes({0x12, 0x34}), 1, 0, false, 0},
        {Bytes({0x12, 0x34}), 1, 2, false, 0}, // beyond the end
    };
    for (const Case& c : cases) {
        std::int64_t value = -1;
        const bool ok = DecodeBCD(c.data, static_cast<std::uint8_t>(c.first),
                                  static_cast<std::uint8_t>(c.last), value);
        EXPECT_EQ(ok, c.ok) << ::testing::PrintToString(c.data);
        EXPECT_EQ(value, c.ok ? c.value : -1) << ::testing::PrintToString(c.data);
    }
    // Over a run of bytes: the same digits, the same limits.
    std::int64_t value = -1;
    EXPECT_TRUE(DecodeBCD(std::span<const std::uint8_t>(cases[4].data), value));
    EXPECT_EQ(value, 12345678);
    EXPECT_FALSE(DecodeBCD(std::span<const std::uint8_t>(cases[5].data), value));
    EXPECT_FALSE(DecodeBCD(std::span<const std::uint8_t>(), value));
    EXPECT_EQ(value, 12345678);
}

TEST(Bcd, Encode)
{
    struct Case {
        std::size_t size;
        int first, last;
        std::int64_t value;
        bool ok;
        TArrayOfByte expected;
    };
    const Case cases[] = {
        {3, 0, 2, 1234, true, Bytes({0x00, 0x12, 0x34})},
        {1, 0, 0, 1234, true, Bytes({0x34})}, // digits that do not fit are dropped
        {6, 0, 5, 999999999999, true, TArrayOfByte(6, 0x99)},
        {6, 0, 5, 1000000000000, false, TArrayOfByte(6, 0xAA)},
        {2, 0, 1, -1, false, TArrayOfByte(2, 0xAA)}, // no sign in the encoding
        {7, 0, 6, 1, false, TArrayOfByte(7, 0xAA)},
        {2, 0, 2, 1, false, TArrayOfByte(2, 0xAA)},
        {4, 2, 3, 5, true, Bytes({0xAA, 0xAA, 0x00, 0x05})},
    };
    for (const Case& c : cases) {
        TArrayOfByte data(c.size, 0xAA);
        EXPECT_EQ(EncodeBCD(data, static_cast<std::uint8_t>(c.first),
                            static_cast<std::uint8_t>(c.last), c.value),
                  c.ok)
            << c.value;
        EXPECT_EQ(data, c.expected) << c.value;
    }
}

namespace {

struct Collected {
    std::vector<TArrayOfByte> frames;
    std::vector<FrameCollector::Outcome> outcomes;
};

Collected Collect(FrameCollector& collector, const TArrayOfByte& bytes)
{
    Collected c;
    for (std::uint8_t b : bytes) {
        c.outcomes.push_back(collector.Push(b));
        if (c.outcomes.back() == FrameCollector::Complete)
            c.frames.push_back(collector.FrameCopy());
    }
    return c;
}

} // namespace

TEST(FrameCollector, NoiseAndRestart)
{
    FrameCollector collector;
    const Collected c = Collect(collector, Bytes({0x00, 0x11, 0xFE, 0xFD, 0x02, 0x01, 0xFD, 0x01,
                                                  0x02, 0x00, 0x00, 0x28, 0x06, 0xFE, 0x33}));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], Bytes({0xFD, 0x01, 0x02, 0x00, 0x00, 0x28, 0x06, 0xFE}));
    EXPECT_EQ(c.outcomes[0], FrameCollector::Ignored);
    EXPECT_EQ(c.outcomes[6], FrameCollector::Restarted);
    EXPECT_EQ(c.outcomes.back(), FrameCollector::Ignored);
    EXPECT_FALSE(collector.InFrame());
}

TEST(FrameCollector, LongestFrameAndOverflow)
{
    FrameCollector collector;
    TArrayOfByte longest(MaxWireFrame, 0x41);
    longest.front() = FrameStart;
    longest.back() = FrameEnd;
    Collected c = Collect(collector, longest);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], longest);

    // One byte more: the frame is dropped, and so is everything up to the
    // next start marker.
    TArrayOfByte tooLong(MaxWireFrame + 1, 0x41);
    tooLong.front() = FrameStart;
    tooLong.back() = FrameEnd;
    const TArrayOfByte tail = Bytes({0x41, 0xFE, 0xFD, 0x01, 0x02, 0x03, 0x00, 0xFE});
    tooLong.insert(tooLong.end(), tail.begin(), tail.end());
    c = Collect(collector, tooLong);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], Bytes({0xFD, 0x01, 0x02, 0x03, 0x00, 0xFE}));
    EXPECT_EQ(c.outcomes[MaxWireFrame], FrameCollector::Overflow);
}

TEST(Currency, ShortestText)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        {12345000, "1234.5"}, {1000000, "100"}, {0, "0"}, {500, "0.05"},
        {15000, "1.5"},       {1250, "0.125"},  {-15000, "-1.5"}, {9999999990, "999999.999"},
    };
    for (const auto& [raw, text] : cases)
        EXPECT_EQ(TCurrency::FromRaw(raw).ToShortString(), text);
    EXPECT_EQ(TCurrency::FromHundredths(12345).ToShortString(), "123.45");
    EXPECT_EQ(TCurrency::FromThousandths(12345).ToShortString(), "12.345");
}

TEST(Currency, Parse)
{
    const std::pair<const char*, std::int64_t> good[] = {
        {"12.3456", 123456}, {"0", 0}, {"-1.5", -15000}, {".5", 5000}, {"7.", 70000},
        {"922337203685477.5807", INT64_MAX}, {"-922337203685477.5808", INT64_MIN}};
    for (const auto& [text, raw] : good) {
        TCurrency c;
        ASSERT_TRUE(TCurrency::TryParse(text, c)) << text;
        EXPECT_EQ(c.Raw, raw) << text;
    }
    // The whole part at its limit with a fraction that carries past it.
    for (const char* bad : {"", "-", ".", "1.23456", "1,5", "abc", "1e3", "99999999999999999",
                            "922337203685477.5808", "-922337203685477.5809", "922337203685478"}) {
        TCurrency c;
        EXPECT_FALSE(TCurrency::TryParse(bad, c)) << bad;
    }
}

TEST(DateTime, CalendarChecks)
{
    struct Case {
        int y, m, d;
        bool valid;
    };
    const Case cases[] = {{2009, 2, 28, true},  {2009, 2, 29, false}, {2008, 2, 29, true},
                          {2009, 2, 31, false}, {2009, 13, 1, false}, {2009, 0, 1, false},
                          {2009, 4, 31, false}, {2000, 2, 29, true},  {2100, 2, 29, false}};
    for (const Case& c : cases) {
        TDateTime d;
        EXPECT_EQ(TDateTime::TryEncodeDate(c.y, c.m, c.d, d), c.valid)
            << c.y << "-" << c.m << "-" << c.d;
    }
    TDateTime t;
    EXPECT_FALSE(TDateTime::TryEncodeTime(24, 0, 0, 0, t));
    EXPECT_FALSE(TDateTime::TryEncodeTime(23, 60, 0, 0, t));
    EXPECT_FALSE(TDateTime::TryEncodeTime(23, 59, 60, 0, t));
    EXPECT_TRUE(TDateTime::TryEncodeTime(23, 59, 59, 0, t));
}

TEST(DateTime, DayCountAndTexts)
{
    TDateTime d;
    ASSERT_TRUE(TDateTime::TryEncodeDate(1899, 12, 30, d));
    EXPECT_EQ(d.Value, 0.0);
    ASSERT_TRUE(TDateTime::TryEncodeDate(2009, 5, 15, d));
    EXPECT_EQ(d.Value, 39948.0);
    EXPECT_EQ(d.DateString(), "15.05.2009");

    TDateTime t;
    ASSERT_TRUE(TDateTime::TryEncodeTime(23, 59, 59, 0, t));
    EXPECT_EQ(t.TimeString(), "23:59:59");
    ASSERT_TRUE(TDateTime::TryEncodeTime(12, 0, 0, 0, t));
    EXPECT_EQ(t.Value, 0.5);

    for (int y : {2000, 2008, 2099}) {
        for (int m = 1; m <= 12; ++m) {
            TDateTime x;
            ASSERT_TRUE(TDateTime::TryEncodeDate(y, m, 28, x));
            int yy, mm, dd;
            x.DecodeDate(yy, mm, dd);
            EXPECT_EQ(yy * 10000 + mm * 100 + dd, y * 10000 + m * 100 + 28);
        }
    }
}

// Years 1 to 9999 have a calendar form; anything else, infinities and NaN
// are refused rather than run through the arithmetic. Negative values count
// days back and keep the fraction as the time of day.
TEST(DateTime, RangeAndNegativeValues)
{
    struct Case {
        double value;
        const char* date; // "" when refused
        const char* time;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {-1.25, "29.12.1899", "06:00:00"},
        {-0.5, "30.12.1899", "12:00:00"},
        {1.75, "31.12.1899", "18:00:00"},
        {TDateTime::MinDay, "01.01.0001", "00:00:00"},
        {TDateTime::MinDay - 0.5, "01.01.0001", "12:00:00"},
        {TDateTime::MaxDay + 0.5, "31.12.9999", "12:00:00"},
        {TDateTime::MinDay - 1, "", ""},
        {TDateTime::MaxDay + 1, "", ""},
        {1e300, "", ""},
        {-1e300, "", ""},
        {inf, "", ""},
        {-inf, "", ""},
        {std::numeric_limits<double>::quiet_NaN(), "", ""},
    };
    for (const Case& c : cases) {
        const TDateTime v{c.value};
        EXPECT_EQ(v.DateString(), c.date) << c.value;
        EXPECT_EQ(v.TimeString(), c.time) << c.value;
        int y = -1, m = -1, d = -1;
        EXPECT_EQ(v.DecodeDate(y, m, d), *c.date != 0) << c.value;
        if (*c.date == 0) {
            EXPECT_EQ(y, -1) << "outputs left alone";
        }
    }
}
