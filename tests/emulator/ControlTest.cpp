// The text forms: faults, control commands and message arguments.
#include "Control.h"

#include <gtest/gtest.h>

using namespace kkm;
using namespace kkm::emu;

namespace {

Fault Make(FaultKind kind, void (*tweak)(Fault&) = nullptr)
{
    Fault f;
    f.Kind = kind;
    if (tweak)
        tweak(f);
    return f;
}

struct FaultCase {
    const char* text;
    Fault expected;
};

class FaultTextTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTextTest, ParsesAndFormatsBack)
{
    std::string error;
    const auto f = ParseFault(GetParam().text, &error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(*f, GetParam().expected);
    EXPECT_EQ(ParseFault(FormatFault(*f)), f) << FormatFault(*f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FaultTextTest,
    ::testing::Values(
        FaultCase{"silent", Make(FaultKind::Silent)},
        FaultCase{"refuse", Make(FaultKind::Refuse)},
        FaultCase{"Refuse 5 code=14 table=9", Make(FaultKind::Refuse, [](Fault& f) {
                      f.Error = 5;
                      f.Code = 14;
                      f.Table = 9;
                  })},
        FaultCase{"refuse 0x07 code=0x0C record=300 field=2", Make(FaultKind::Refuse, [](Fault& f) {
                      f.Error = 7;
                      f.Code = 12;
                      f.Record = 300;
                      f.Field = 2;
                  })},
        FaultCase{"silent nth=2", Make(FaultKind::Silent, [](Fault& f) {
                      f.Nth = 2;
                      f.Once = true;
                  })},
        FaultCase{"badcrc nth=3 always", Make(FaultKind::BadCrc, [](Fault& f) { f.Nth = 3; })},
        FaultCase{"delay 300 code=2 once", Make(FaultKind::Delay, [](Fault& f) {
                      f.DelayMs = 300;
                      f.Code = 2;
                      f.Once = true;
                  })},
        FaultCase{"garbage 00 11 fe", Make(FaultKind::Garbage, [](Fault& f) { f.Garbage = {0x00, 0x11, 0xFE}; })},
        FaultCase{"split", Make(FaultKind::Split)},
        FaultCase{"split 4 5 row=17", Make(FaultKind::Split, [](Fault& f) {
                      f.Pieces = 4;
                      f.PauseMs = 5;
                      f.Row = 17;
                  })},
        FaultCase{"refuse 3 row=0", Make(FaultKind::Refuse, [](Fault& f) { f.Row = 0; })},
        FaultCase{"item=9999 badpid", Make(FaultKind::BadPid, [](Fault& f) { f.Record = 9999; })},
        FaultCase{"badar", Make(FaultKind::BadAR)}, FaultCase{"badat", Make(FaultKind::BadAT)},
        FaultCase{"longer", Make(FaultKind::Longer)}, FaultCase{"shorter", Make(FaultKind::Shorter)},
        FaultCase{"twice", Make(FaultKind::Twice)}, FaultCase{"zeroerror", Make(FaultKind::ZeroError)},
        FaultCase{"hangup code=30", Make(FaultKind::HangUp, [](Fault& f) { f.Code = 30; })}));

TEST(FaultTextTest, RefusesWhatItCannotRead)
{
    for (const char* text : {"", "explode", "refuse 256", "refuse 1 2", "delay", "delay soon", "silent code=",
                             "silent code=300", "silent nth=0", "silent colour=red", "garbage xyz", "split 1",
                             "twice 3", "code=2", "once"}) {
        std::string error;
        EXPECT_FALSE(ParseFault(text, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(FaultTextTest, MatchesTheRequestsItNames)
{
    const auto refuse = *ParseFault("refuse code=13 table=2 record=1 field=5");
    EXPECT_TRUE(FaultMatches(refuse, *ParseHex("02 01 00 0D 02 01 00 05")));
    EXPECT_FALSE(FaultMatches(refuse, *ParseHex("02 01 00 0D 02 01 00 04"))); // field 4
    EXPECT_FALSE(FaultMatches(refuse, *ParseHex("02 01 00 0C 02 01 00")));    // code 12
    const auto row = *ParseFault("silent row=0");
    EXPECT_TRUE(FaultMatches(row, *ParseHex("02 01 00 07 00 00 30 64")));  // logo header
    EXPECT_FALSE(FaultMatches(row, *ParseHex("02 01 00 07 01 FF")));       // row 1
    EXPECT_FALSE(FaultMatches(row, *ParseHex("02 01 00 02")));             // no row at all
    const auto item = *ParseFault("silent item=300");
    EXPECT_TRUE(FaultMatches(item, *ParseHex("02 01 00 13 2C 01")));
    EXPECT_TRUE(FaultMatches(item, *ParseHex("02 01 00 0C 01 2C 01")));
    EXPECT_TRUE(FaultMatches(*ParseFault("silent"), *ParseHex("02 01 00 63")));
}

TEST(ControlTest, ParsesEachCommand)
{
    using K = ControlCommand::Kind;
    const std::pair<const char*, K> cases[] = {
        {"", K::Nothing},
        {"   # a comment", K::Nothing},
        {"fault refuse 4 code=12", K::AddFault},
        {"fault clear", K::ClearFaults},
        {"fault remove 3", K::RemoveFault},
        {"faults", K::ListFaults},
        {"msg confirmation", K::SendMessage},
        {"msg body 01 02 05 2E", K::SendBody},
        {"msg wire FD0102052EFE", K::SendWire},
        {"hangup", K::HangUp},
        {"save", K::Save},
        {"save /tmp/x.json", K::Save},
        {"logo /tmp/logo.pbm", K::SaveLogo},
        {"log on", K::Log},
        {"status", K::Status},
        {"help", K::Help},
        {"quit", K::Quit},
        {"exit", K::Quit},
    };
    for (const auto& [line, kind] : cases) {
        std::string error;
        const auto c = ParseControl(line, &error);
        ASSERT_TRUE(c) << line << ": " << error;
        EXPECT_EQ(c->kind, kind) << line;
    }
    EXPECT_EQ(ParseControl("fault remove 3")->faultId, 3);
    EXPECT_EQ(ParseControl("fault refuse 4 code=12")->fault, *ParseFault("refuse 4 code=12"));
    EXPECT_EQ(ParseControl("msg body 01 02 05 2E")->bytes, *ParseHex("01 02 05 2E"));
    EXPECT_EQ(ParseControl("save /tmp/x.json")->path, "/tmp/x.json");
    EXPECT_TRUE(ParseControl("save")->path.empty());
    EXPECT_FALSE(ParseControl("log off")->on);

    for (const char* bad : {"dance", "fault", "fault remove", "fault remove x", "msg", "msg body", "msg body 0",
                            "msg wire zz", "log maybe", "logo", "hangup now", "save a b"}) {
        std::string error;
        EXPECT_FALSE(ParseControl(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(ControlTest, MessageArgumentsByPositionAndName)
{
    auto body = [](const char* text, std::uint8_t defaultPid = 0) {
        std::optional<std::uint8_t> pid;
        std::string error;
        const auto m = ParseMessage(text, &pid, &error);
        EXPECT_TRUE(m) << text << ": " << error;
        return m ? ToHex(BuildMessageBody(*m, pid.value_or(defaultPid))) : std::string();
    };
    EXPECT_EQ(body("confirmation", 5), "01 02 05 2E");
    EXPECT_EQ(body("Confirmation 123.45", 5), "01 02 05 2E 00 00 00 01 23 45");
    EXPECT_EQ(body("onConfirmation rSumm=0.5 pid=7"), "01 02 07 2E 00 00 00 00 00 50");
    EXPECT_EQ(body("SaleOnFree Quant=1.5 Price=199.90 nDoc=17 pid=9 tOper=1"),
              "01 02 09 20 01 00 00 00 00 00 15 00 00 00 00 01 99 90 01 01 00 00 17");
    EXPECT_EQ(body("0x29 0 29.02.09 24:00:00 1"),
              "01 02 00 29 00 29 02 09 24 00 00 00 00 00 00 01 00 01 00 00 01");
    EXPECT_EQ(body("closesession 5 1.6.2009 22:00 3 77 42"),
              "01 02 00 2D 00 00 00 00 05 00 01 06 09 22 00 00 03 00 00 77 00 42");
    EXPECT_EQ(body(R"(SaleOnBarcode wBCode="hex:00 41 00" nDoc=2)"),
              "01 02 00 22 00 00 00 00 00 00 10 00 01 00 00 02 00 41 00");
    // Text is sent as Windows-1251: "Ж" is C6.
    EXPECT_EQ(body("DiscOnBarcode dBCode=Ж12"),
              "01 02 00 26 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00 01 C6 31 32");

    for (const char* bad : {"", "nothing", "0x28", "confirmation 1.234", "confirmation -1", "confirmation 1 2",
                            "SaleOnFree bogus=1", "SaleOnFree tOper=256", "CloseReceipt rDate=1.2",
                            "confirmation pid=300", "SaleOnBarcode wBCode=hex:4"}) {
        std::string error;
        EXPECT_FALSE(ParseMessage(bad, nullptr, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

// The help is made from the tables the parsers use; a kind left out of them
// could be neither given nor looked up.
TEST(ControlTest, HelpNamesEveryFaultAndMessageKind)
{
    const std::string help = ControlHelp();
    for (int k = 0; k <= static_cast<int>(FaultKind::HangUp); ++k) {
        Fault f;
        f.Kind = static_cast<FaultKind>(k);
        const std::string text = FormatFault(f);
        const std::string name = text.substr(0, text.find(' '));
        ASSERT_FALSE(name.empty()) << k;
        EXPECT_NE(help.find("\n  " + name + " "), std::string::npos) << name;
        EXPECT_EQ(ParseFault(text), f) << text;
    }
    int kinds = 0;
    for (int code = 0x20; code <= 0x2E; ++code) {
        const auto m = ParseMessage(std::to_string(code));
        if (!m)
            continue;
        ++kinds;
        EXPECT_EQ(MessageCode(*m), code);
        EXPECT_NE(help.find("\n  " + std::string(MessageName(*m)) + " "), std::string::npos) << code;
    }
    EXPECT_EQ(kinds, 14);
}

} // namespace
