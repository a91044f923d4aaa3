// The register's unsolicited messages as they come over the line: every kind
// decoded into its event, and everything that must raise nothing.
//
// Every handler writes one line per event; a case that must raise nothing is
// followed by a confirmation with a PID of its own, and once that has come
// through the confirmation must be the only line.
#include "RegisterFixture.h"


#include <sstream>
#include <thread>
#include <vector>

using namespace kkm;
using namespace kkm::emu;

namespace {

const std::vector<std::string> kNothing;

using Fields = std::initializer_list<std::pair<const char*, std::string>>;

std::string Str(std::uint8_t v) { return std::to_string(v); }
std::string Str(std::uint16_t v) { return std::to_string(v); }
std::string Str(std::uint32_t v) { return std::to_string(v); }
std::string Str(std::int64_t v) { return std::to_string(v); }
std::string Str(TCurrency v) { return v.ToShortString(); }
std::string Str(bool v) { return v ? "true" : "false"; }
std::string Str(const QByteArray& text)
{
    std::ostringstream s;
    s << '[';
    for (qsizetype i = 0; i < text.size(); ++i)
        s << (i ? " " : "") << ToHex({static_cast<std::uint8_t>(text[i])});
    s << ']';
    return s.str();
}
// A date must carry no time of day, and a time no days.
std::string Date(TDateTime v)
{
    return v.Value == static_cast<double>(static_cast<long long>(v.Value)) ? v.DateString()
                                                                           : "not a date " + std::to_string(v.Value);
}
std::string Time(TDateTime v)
{
    return v.Value >= 0 && v.Value < 1 ? v.TimeString() : "not a time " + std::to_string(v.Value);
}

std::string Line(const char* kind, std::uint8_t AR, std::uint8_t AT, std::uint8_t PID, Fields fields)
{
    std::ostringstream s;
    s << kind << ' ' << int(AR) << ' ' << int(AT) << ' ' << int(PID) << ':';
    for (const auto& [name, value] : fields)
        s << ' ' << name << '=' << value;
    return s.str();
}

TArrayOfByte Hex(const char* text)
{
    const auto bytes = ParseHex(text);
    EXPECT_TRUE(bytes.has_value()) << text;
    return bytes.value_or(TArrayOfByte{});
}

// One well-formed body of each kind, written out by hand.
struct Sample {
    const char* body;
    const char* event;
};
const Sample kSamples[] = {
    {"01 02 05 20  03 04  00 00 00 00 15 00  00 00 00 01 99 90  07 08  12 34 56",
     "SaleOnFree 1 2 5: tOper=3 vOper=4 Quant=1.5 Price=199.9 nSection=7 nOperator=8 nDoc=123456"},
    {"01 02 06 21  01 02  00 00 00 00 02 50  00 46 07 00 12 34  09  99 99 99",
     "SaleOnCode 1 2 6: tOper=1 vOper=2 Quant=0.25 wCode=4607001234 nOperator=9 nDoc=999999"},
    {"01 02 07 22  00 01  00 00 00 01 00 00  03  00 00 42  34 36 00 31",
     "SaleOnBarcode 1 2 7: tOper=0 vOper=1 Quant=10 wBCode=[34 36 00 31] nOperator=3 nDoc=42"},
    {"01 02 08 23  01 02 03  00 00 00 00 00 05  04  00 00 01",
     "FreeDisc 1 2 8: tOper=1 tDisc=2 vOper=3 dSumm=0.05 nOperator=4 nDoc=1"},
    {"01 02 09 24  02 01 00  00 12 34 56 78 90  05  00 10 00",
     "DiscOnQuery 1 2 9: tOper=2 tDisc=1 vOper=0 rSumm=12345678.9 nOperator=5 nDoc=1000"},
    {"01 02 0A 25  00 01 02  00 00 00 00 10 00  00 00 00 00 00 77  06  00 00 07",
     "DiscOnCode 1 2 10: tOper=0 tDisc=1 vOper=2 rSumm=10 dCode=77 nOperator=6 nDoc=7"},
    {"01 02 0B 26  01 00 01  00 00 00 00 03 50  02  00 00 00 00 00 07  31 32 33",
     "DiscOnBarcode 1 2 11: tOper=1 tDisc=0 vOper=1 rSumm=3.5 dBCode=[31 32 33] nOperator=2 nDoc=7"},
    {"01 02 0C 27  03 01 00  00 00 00 00 99 99  01  00 00 02",
     "PayReceipt 1 2 12: tPay=3 tOper=1 vOper=0 rSumm=99.99 nOperator=1 nDoc=2"},
    {"01 02 0D 29  01  28 02 09  23 59 59  00 00 00 01 23 45  04  00 01 00",
     "CloseReceipt 1 2 13: tOper=1 rDate=28.02.2009 rTime=23:59:59 rSumm=123.45 nOperator=4 nDoc=100"},
    {"01 02 0E 2A  02  29 02 08  00 00 00  05  00 00 09",
     "AbortReceipt 1 2 14: tOper=2 rDate=29.02.2008 rTime=00:00:00 nOperator=5 nDoc=9"},
    {"01 02 0F 2B  00 00 00 10 00 00  01 01 00  08 30 00  01  00 00 11  00 00 03",
     "InSumm 1 2 15: inSumm=1000 inDate=01.01.2000 inTime=08:30:00 nOperator=1 nDoc=11 nIn=3"},
    {"01 02 10 2C  00 00 00 00 50 00  31 12 99  12 00 01  02  00 00 12  00 00 04",
     "OutSumm 1 2 16: outSumm=50 outDate=31.12.2099 outTime=12:00:01 nOperator=2 nDoc=12 nOut=4"},
    {"01 02 11 2D  00 00 12 34 56 78  15 05 09  22 10 00  03  00 01 23  12 34",
     "CloseSession 1 2 17: cSumm=123456.78 cDate=15.05.2009 cTime=22:10:00 nOperator=3 nDoc=123 nSession=1234"},
    {"01 02 05 2E", "Confirmation 1 2 5: rSumm=0 RClose=false"},
    {"01 02 05 2E  00 00 00 01 23 45", "Confirmation 1 2 5: rSumm=123.45 RClose=true"},
    // Addresses and PID are passed on, whatever they are.
    {"05 03 FF 2E  99 99 99 99 99 99", "Confirmation 5 3 255: rSumm=9999999999.99 RClose=true"},
};

class RegisterMessages : public RegisterFixture {
protected:
    void SetUp() override
    {
        RegisterFixture::SetUp();
        AssignAll();
    }

    void AssignAll()
    {
        using u8 = std::uint8_t;
        using u32 = std::uint32_t;
        proto.onSaleOnFree = [this](u8 AR, u8 AT, u8 PID, u8 tOper, u8 vOper, TCurrency Quant, TCurrency Price,
                                    u8 nSection, u8 nOperator, u32 nDoc) {
            Add(Line("SaleOnFree", AR, AT, PID,
                     {{"tOper", Str(tOper)}, {"vOper", Str(vOper)}, {"Quant", Str(Quant)}, {"Price", Str(Price)},
                      {"nSection", Str(nSection)}, {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
        };
        proto.onSaleOnCode = [this](u8 AR, u8 AT, u8 PID, u8 tOper, u8 vOper, TCurrency Quant, std::int64_t wCode,
                                    u8 nOperator, u32 nDoc) {
            Add(Line("SaleOnCode", AR, AT, PID,
                     {{"tOper", Str(tOper)}, {"vOper", Str(vOper)}, {"Quant", Str(Quant)}, {"wCode", Str(wCode)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
        };
        proto.onSaleOnBarcode = [this](u8 AR, u8 AT, u8 PID, u8 tOper, u8 vOper, TCurrency Quant,
                                       const TKkmText& wBCode, u8 nOperator, u32 nDoc) {
            Add(Line("SaleOnBarcode", AR, AT, PID,
                     {{"tOper", Str(tOper)}, {"vOper", Str(vOper)}, {"Quant", Str(Quant)}, {"wBCode", Str(wBCode)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
        };
        proto.onFreeDisc = [this](u8 AR, u8 AT, u8 PID, u8 tOper, u8 tDisc, u8 vOper, TCurrency dSumm, u8 nOperator,
                                  u32 nDoc) {
            Add(Line("FreeDisc", AR, AT, PID,
                     {{"tOper", Str(tOper)}, {"tDisc", Str(tDisc)}, {"vOper", Str(vOper)}, {"dSumm", Str(dSumm)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
        };
        proto.onDiscOnQuery = [this](u8 AR, u8 AT, u8 PID, u8 tOper, u8 tDisc, u8 vOper, TCurrency rSumm,
                                     u8 nOperator, u32 nDoc) {
            Add(Line("DiscOnQuery", AR, AT, PID,
                     {{"tOper", Str(tOper)}, {"tDisc", Str(tDisc)}, {"vOper", Str(vOper)}, {"rSumm", Str(rSumm)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
        };
        proto.onDiscOnCode = [this](u8 AR, u8 AT, u8 PID, u8 tOper, u8 tDisc, u8 vOper, TCurrency rSumm,
                                    std::int64_t dCode, u8 nOperator, u32 nDoc) {
            Add(Line("DiscOnCode", AR, AT, PID,
                     {{"tOper", Str(tOper)}, {"tDisc", Str(tDisc)}, {"vOper", Str(vOper)}, {"rSumm", Str(rSumm)},
                      {"dCode", Str(dCode)}, {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
        };
        proto.onDiscOnBarcode = [this](u8 AR, u8 AT, u8 PID, u8 tOper, u8 tDisc, u8 vOper, TCurrency rSumm,
                                       const TKkmText& dBCode, u8 nOperator, u32 nDoc) {
            Add(Line("DiscOnBarcode", AR, AT, PID,
                     {{"tOper", Str(tOper)}, {"tDisc", Str(tDisc)}, {"vOper", Str(vOper)}, {"rSumm", Str(rSumm)},
                      {"dBCode", Str(dBCode)}, {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
        };
        proto.onPayReceipt = [this](u8 AR, u8 AT, u8 PID, u8 tPay, u8 tOper, u8 vOper, TCurrency rSumm, u8 nOperator,
                                    u32 nDoc) {
            Add(Line("PayReceipt", AR, AT, PID,
                     {{"tPay", Str(tPay)}, {"tOper", Str(tOper)}, {"vOper", Str(vOper)}, {"rSumm", Str(rSumm)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
        };
        proto.onCloseReceipt = [this](u8 AR, u8 AT, u8 PID, u8 tOper, TDateTime rDate, TDateTime rTime,
                                      TCurrency rSumm, u8 nOperator, u32 nDoc) {
            Add(Line("CloseReceipt", AR, AT, PID,
                     {{"tOper", Str(tOper)}, {"rDate", Date(rDate)}, {"rTime", Time(rTime)}, {"rSumm", Str(rSumm)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
            closeDate_ = rDate;
            closeTime_ = rTime;
        };
        proto.onAbortReceipt = [this](u8 AR, u8 AT, u8 PID, u8 tOper, TDateTime rDate, TDateTime rTime, u8 nOperator,
                                      u32 nDoc) {
            Add(Line("AbortReceipt", AR, AT, PID,
                     {{"tOper", Str(tOper)}, {"rDate", Date(rDate)}, {"rTime", Time(rTime)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}}));
        };
        proto.onInSumm = [this](u8 AR, u8 AT, u8 PID, TCurrency inSumm, TDateTime inDate, TDateTime inTime,
                                u8 nOperator, u32 nDoc, u32 nIn) {
            Add(Line("InSumm", AR, AT, PID,
                     {{"inSumm", Str(inSumm)}, {"inDate", Date(inDate)}, {"inTime", Time(inTime)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}, {"nIn", Str(nIn)}}));
        };
        proto.onOutSumm = [this](u8 AR, u8 AT, u8 PID, TCurrency outSumm, TDateTime outDate, TDateTime outTime,
                                 u8 nOperator, u32 nDoc, u32 nOut) {
            Add(Line("OutSumm", AR, AT, PID,
                     {{"outSumm", Str(outSumm)}, {"outDate", Date(outDate)}, {"outTime", Time(outTime)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}, {"nOut", Str(nOut)}}));
        };
        proto.onCloseSession = [this](u8 AR, u8 AT, u8 PID, TCurrency cSumm, TDateTime cDate, TDateTime cTime,
                                      u8 nOperator, u32 nDoc, std::uint16_t nSession) {
            Add(Line("CloseSession", AR, AT, PID,
                     {{"cSumm", Str(cSumm)}, {"cDate", Date(cDate)}, {"cTime", Time(cTime)},
                      {"nOperator", Str(nOperator)}, {"nDoc", Str(nDoc)}, {"nSession", Str(nSession)}}));
        };
        proto.onConfirmation = [this](u8 AR, u8 AT, u8 PID, TCurrency rSumm, bool RClose) {
            Add(Line("Confirmation", AR, AT, PID, {{"rSumm", Str(rSumm)}, {"RClose", Str(RClose)}}));
        };
    }

    void Add(std::string line) { events.push_back(std::move(line)); }

    // Sends a body and waits for the event it raises.
    std::vector<std::string> Deliver(const TArrayOfByte& body)
    {
        events.clear();
        reg.SendBody(body);
        EXPECT_TRUE(WaitUntil([&] { return !events.empty(); }));
        return events;
    }

    // Lets everything sent so far come through: a confirmation of its own
    // follows, and what was raised before it is returned.
    std::vector<std::string> RaisedBeforeMarker()
    {
        const std::uint8_t pid = ++marker_;
        const std::string marker = "Confirmation 1 2 " + std::to_string(pid) + ": rSumm=0 RClose=false";
        reg.SendBody({1, 2, pid, 0x2E});
        if (!WaitUntil([&] { return !events.empty() && events.back() == marker; }))
            return {"the marker did not come through"};
        return std::vector<std::string>(events.begin(), events.end() - 1);
    }

    // What the wire carries for a body: CRC, stuffing, markers.
    static TArrayOfByte Wire(const TArrayOfByte& body) { return FrameBody(body); }

    std::vector<std::string> events;
    std::uint8_t marker_ = 0xA0;
    TDateTime closeDate_{-1}, closeTime_{-1};
};

} // namespace

TEST_F(RegisterMessages, EveryKindIsDecoded)
{
    for (const Sample& s : kSamples)
        EXPECT_EQ(Deliver(Hex(s.body)), std::vector<std::string>{s.event}) << s.body;
}

TEST_F(RegisterMessages, DatesAndTimesAreExactDayCounts)
{
    Deliver(Hex("01 02 0D 29  01  28 02 09  23 59 59  00 00 00 01 23 45  04  00 01 00"));
    EXPECT_EQ(closeDate_.Value, 39872.0);
    EXPECT_EQ(closeTime_.Value, 86399.0 / 86400.0);
    Deliver(Hex("01 02 0D 29  01  01 01 00  00 00 00  00 00 00 00 00 00  04  00 01 00"));
    EXPECT_EQ(closeDate_.Value, 36526.0);
    EXPECT_EQ(closeTime_.Value, 0.0);
}

// Texts run from their index to the end of the body, zero bytes and all; the
// shortest body carries a text of one byte.
TEST_F(RegisterMessages, TextsAndTheWideDocumentNumber)
{
    const Sample cases[] = {
        {"01 02 07 22  00 01  00 00 00 01 00 00  03  00 00 42  00",
         "SaleOnBarcode 1 2 7: tOper=0 vOper=1 Quant=10 wBCode=[00] nOperator=3 nDoc=42"},
        {"01 02 07 22  00 01  00 00 00 01 00 00  03  00 00 42  00 34 36 00 00 FD FE FF",
         "SaleOnBarcode 1 2 7: tOper=0 vOper=1 Quant=10 wBCode=[00 34 36 00 00 FD FE FF] nOperator=3 nDoc=42"},
        {"01 02 0B 26  01 00 01  00 00 00 00 03 50  02  00 00 00 00 00 07  00",
         "DiscOnBarcode 1 2 11: tOper=1 tDisc=0 vOper=1 rSumm=3.5 dBCode=[00] nOperator=2 nDoc=7"},
        // The six-digit-pair document number is taken modulo 2^32.
        {"01 02 0B 26  01 00 01  00 00 00 00 03 50  02  00 42 94 96 73 03  41 00",
         "DiscOnBarcode 1 2 11: tOper=1 tDisc=0 vOper=1 rSumm=3.5 dBCode=[41 00] nOperator=2 nDoc=7"},
        {"01 02 0B 26  01 00 01  00 00 00 00 03 50  02  99 99 99 99 99 99  41",
         "DiscOnBarcode 1 2 11: tOper=1 tDisc=0 vOper=1 rSumm=3.5 dBCode=[41] nOperator=2 nDoc=3567587327"},
        {"01 02 0B 26  01 00 01  00 00 00 00 03 50  02  00 42 94 96 72 95  41",
         "DiscOnBarcode 1 2 11: tOper=1 tDisc=0 vOper=1 rSumm=3.5 dBCode=[41] nOperator=2 nDoc=4294967295"},
        {"01 02 0B 26  01 00 01  00 00 00 00 03 50  02  00 42 94 96 72 96  41",
         "DiscOnBarcode 1 2 11: tOper=1 tDisc=0 vOper=1 rSumm=3.5 dBCode=[41] nOperator=2 nDoc=0"},
    };
    for (const Sample& s : cases)
        EXPECT_EQ(Deliver(Hex(s.body)), std::vector<std::string>{s.event}) << s.body;
}

// The emulator's typed messages decode to what they were given.
TEST_F(RegisterMessages, EmulatorMessagesDecodeToTheirValues)
{
    const std::pair<Message, const char*> cases[] = {
        {SaleOnFree{1, 2, 1500, 19990, 3, 4, 5},
         "SaleOnFree 1 2 40: tOper=1 vOper=2 Quant=1.5 Price=199.9 nSection=3 nOperator=4 nDoc=5"},
        {SaleOnCode{1, 0, 999999999999, 460700123456, 2, 999999},
         "SaleOnCode 1 2 40: tOper=1 vOper=0 Quant=999999999.999 wCode=460700123456 nOperator=2 nDoc=999999"},
        {SaleOnBarcode{0, 1, 1, 7, 8, std::string("46\0" "01", 5)},
         "SaleOnBarcode 1 2 40: tOper=0 vOper=1 Quant=0.001 wBCode=[34 36 00 30 31] nOperator=7 nDoc=8"},
        {FreeDisc{1, 1, 1, 1, 1, 1}, "FreeDisc 1 2 40: tOper=1 tDisc=1 vOper=1 dSumm=0.01 nOperator=1 nDoc=1"},
        {DiscOnQuery{2, 0, 1, 250, 3, 4}, "DiscOnQuery 1 2 40: tOper=2 tDisc=0 vOper=1 rSumm=2.5 nOperator=3 nDoc=4"},
        {DiscOnCode{0, 1, 0, 100, 77, 5, 6},
         "DiscOnCode 1 2 40: tOper=0 tDisc=1 vOper=0 rSumm=1 dCode=77 nOperator=5 nDoc=6"},
        {DiscOnBarcode{1, 1, 0, 5, 6, 4294967296LL + 9, "ABC"},
         "DiscOnBarcode 1 2 40: tOper=1 tDisc=1 vOper=0 rSumm=0.05 dBCode=[41 42 43] nOperator=6 nDoc=9"},
        {PayReceipt{2, 1, 0, 10000, 3, 12}, "PayReceipt 1 2 40: tPay=2 tOper=1 vOper=0 rSumm=100 nOperator=3 nDoc=12"},
        {CloseReceipt{1, {28, 2, 2009}, {23, 59, 59}, 12345, 4, 100},
         "CloseReceipt 1 2 40: tOper=1 rDate=28.02.2009 rTime=23:59:59 rSumm=123.45 nOperator=4 nDoc=100"},
        {AbortReceipt{2, {29, 2, 2008}, {0, 0, 1}, 5, 9},
         "AbortReceipt 1 2 40: tOper=2 rDate=29.02.2008 rTime=00:00:01 nOperator=5 nDoc=9"},
        {InSumm{100000, {1, 1, 2000}, {8, 30, 0}, 1, 11, 3},
         "InSumm 1 2 40: inSumm=1000 inDate=01.01.2000 inTime=08:30:00 nOperator=1 nDoc=11 nIn=3"},
        {OutSumm{5000, {31, 12, 2099}, {12, 0, 1}, 2, 12, 999999},
         "OutSumm 1 2 40: outSumm=50 outDate=31.12.2099 outTime=12:00:01 nOperator=2 nDoc=12 nOut=999999"},
        {CloseSession{12345678, {15, 5, 2009}, {22, 10, 0}, 3, 123, 9999},
         "CloseSession 1 2 40: cSumm=123456.78 cDate=15.05.2009 cTime=22:10:00 nOperator=3 nDoc=123 nSession=9999"},
        {Confirmation{0, false}, "Confirmation 1 2 40: rSumm=0 RClose=false"},
        {Confirmation{0, true}, "Confirmation 1 2 40: rSumm=0 RClose=true"},
    };
    for (const auto& [message, event] : cases) {
        events.clear();
        reg.SendMessage(message, 40);
        EXPECT_TRUE(WaitUntil([&] { return !events.empty(); })) << MessageName(message);
        EXPECT_EQ(events, std::vector<std::string>{event});
    }
}

TEST_F(RegisterMessages, MalformedMessagesRaiseNothing)
{
    struct Case {
        std::string why;
        TArrayOfByte body;
    };
    std::vector<Case> cases;
    // Replaces bytes of a sample from index `at` on.
    auto patched = [](const Sample& s, std::size_t at, const TArrayOfByte& bytes) {
        TArrayOfByte body = Hex(s.body);
        std::copy(bytes.begin(), bytes.end(), body.begin() + static_cast<std::ptrdiff_t>(at));
        return body;
    };

    for (const Sample& s : kSamples) {
        const TArrayOfByte body = Hex(s.body);
        const std::uint8_t code = body[3];
        const std::string name = s.event;
        if (code == 0x22 || code == 0x26) {
            // A text kind: anything from its first text byte on is text, but
            // the fields before it must all be there.
            const std::size_t text = code == 0x22 ? 16 : 20;
            cases.push_back({name + ", no text", TArrayOfByte(body.begin(), body.begin() + text)});
            continue;
        }
        if (code == 0x2E) {
            cases.push_back({name + ", one byte more", Concat(body, {0x00})});
            if (body.size() == 10)
                cases.push_back({name + ", one byte less", TArrayOfByte(body.begin(), body.end() - 1)});
            continue;
        }
        cases.push_back({name + ", one byte more", Concat(body, {0x00})});
        cases.push_back({name + ", one byte less", TArrayOfByte(body.begin(), body.end() - 1)});
    }

    // Dates and times that do not exist, wherever a kind carries them.
    const std::pair<std::size_t, std::size_t> clocks[] = {
        {8, 5}, {9, 5}, {10, 10}, {11, 10}, {12, 10}, // sample index, date index
    };
    const std::pair<const char*, TArrayOfByte> badDates[] = {
        {"29 February 2009", {0x29, 0x02, 0x09}}, {"31 February", {0x31, 0x02, 0x09}},
        {"day 0", {0x00, 0x01, 0x09}},            {"month 0", {0x01, 0x00, 0x09}},
        {"month 13", {0x01, 0x13, 0x09}},         {"31 April", {0x31, 0x04, 0x09}},
    };
    const std::pair<const char*, TArrayOfByte> badTimes[] = {
        {"24:00:00", {0x24, 0x00, 0x00}}, {"23:60:00", {0x23, 0x60, 0x00}}, {"23:59:60", {0x23, 0x59, 0x60}},
    };
    for (const auto& [sample, at] : clocks) {
        const Sample& s = kSamples[sample];
        for (const auto& [why, bytes] : badDates)
            cases.push_back({std::string(s.event) + ", date " + why, patched(s, at, bytes)});
        for (const auto& [why, bytes] : badTimes)
            cases.push_back({std::string(s.event) + ", time " + why, patched(s, at + 3, bytes)});
    }

    // Codes without an event, laid out like their neighbours.
    cases.push_back({"code 0x28", Hex("01 02 05 28  01  28 02 09  23 59 59  00 00 00 01 23 45  04  00 01 00")});
    cases.push_back({"code 0x2F, 4 bytes", Hex("01 02 05 2F")});
    cases.push_back({"code 0x2F, 10 bytes", Hex("01 02 05 2F  00 00 00 01 23 45")});
    cases.push_back({"code 0x01", Hex("01 02 05 01")});
    cases.push_back({"code 0x1F", Hex("01 02 05 1F  00 00 00 01 23 45")});

    for (const Case& c : cases) {
        events.clear();
        reg.SendBody(c.body);
        EXPECT_EQ(RaisedBeforeMarker(), kNothing) << c.why;
    }
}

// A frame that does not unpack is dropped, yet RMsg shows it: it got past
// the transaction state.
TEST_F(RegisterMessages, FrameThatDoesNotUnpackIsDropped)
{
    TArrayOfByte badCrc = Wire(Hex(kSamples[0].body));
    badCrc[badCrc.size() - 2] ^= 0x01;
    ASSERT_LT(badCrc[badCrc.size() - 2], 0xFD);
    const TArrayOfByte badStuffing = Hex("FD 01 02 05 2E FF 03 00 00 FE");

    for (const TArrayOfByte& wire : {badCrc, badStuffing}) {
        events.clear();
        reg.SendRaw(wire);
        EXPECT_TRUE(WaitUntil([&] { return proto.RMsg() == wire; })) << ToHex(wire);
        EXPECT_EQ(RaisedBeforeMarker(), kNothing) << ToHex(wire);
    }
}

// An event without a handler: the message is taken off the line and shown
// in RMsg, and nothing is raised for it.
TEST_F(RegisterMessages, UnassignedEventRaisesNothingButShowsInRMsg)
{
    proto.onSaleOnFree = nullptr;
    proto.onConfirmation = nullptr;
    const TArrayOfByte confirmation = Hex("01 02 05 2E 00 00 00 01 23 45");
    reg.SendBody(confirmation);
    EXPECT_TRUE(WaitUntil([&] { return proto.RMsg() == Wire(confirmation); }));

    AssignAll();
    proto.onSaleOnFree = nullptr;
    events.clear();
    const TArrayOfByte sale = Hex(kSamples[0].body);
    reg.SendBody(sale);
    EXPECT_TRUE(WaitUntil([&] { return proto.RMsg() == Wire(sale); }));
    EXPECT_EQ(RaisedBeforeMarker(), kNothing);
}

// While a command waits for its answer, a message that comes first is
// dropped; the command still gets its answer.
TEST_F(RegisterMessages, MessageWhileACommandWaitsIsDropped)
{
    const TArrayOfByte sale = Wire(Hex(kSamples[0].body));
    Fault f = *ParseFault("garbage code=12 once");
    f.Garbage = sale;
    reg.AddFault(f);

    events.clear();
    TArrayOfByte data;
    ASSERT_EQ(proto.ReadTableRecord(2, 1, 9, 1, data), rcOk);
    EXPECT_EQ(data, reg.WithModel([](RegisterModel& m) { return m.Record(9, 1); }));
    const auto log = reg.Requests();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(proto.RMsg(), TArrayOfByte(log.back().Answer.begin() + static_cast<std::ptrdiff_t>(sale.size()),
                                         log.back().Answer.end()))
        << "RMsg is the answer, not the message before it";
    EXPECT_EQ(RaisedBeforeMarker(), kNothing);
}

// The same with the message sent while the register takes its time to
// answer: it reaches the line ahead of the answer and is dropped.
TEST_F(RegisterMessages, MessageDuringALateAnswerIsDropped)
{
    const TArrayOfByte sale = Hex(kSamples[0].body);
    reg.AddFault(*ParseFault("delay 500 code=6 once"));
    reg.ClearRequests();
    // Sent while the command waits, once the register has the request.
    std::thread sender([&] {
        if (reg.WaitForRequests(1, 30s))
            reg.SendBody(sale);
    });
    // Everything the line brings in, in order.
    TArrayOfByte received;
    const TPortDataEvent deliver = proto.Port.OnData;
    proto.Port.OnData = [&](const TArrayOfByte& data, std::int32_t count, std::uint32_t errors) {
        received.insert(received.end(), data.begin(), data.begin() + count);
        deliver(data, count, errors);
    };
    events.clear();
    const std::int32_t result = proto.Connect(2, 1, 5, 5);
    sender.join();
    ASSERT_EQ(result, rcOk);
    const TArrayOfByte message = Wire(sale);
    ASSERT_GE(received.size(), message.size());
    EXPECT_EQ(ToHex(TArrayOfByte(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(message.size()))),
              ToHex(message))
        << "the message comes ahead of the answer, while the command waits";
    EXPECT_EQ(RaisedBeforeMarker(), kNothing);
}
