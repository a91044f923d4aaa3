// The fault plan alone: which faults fire on which request, how their
// effects add up, and the answer they shape.
#include "FaultPlan.h"
#include "FrameCodec.h"
#include "Messages.h"

#include <gtest/gtest.h>

using namespace kkm;
using namespace kkm::emu;

namespace {

RequestCheck Request(const char* hex)
{
    return {true, *ParseHex(hex), {}};
}

const RequestCheck kState = Request("02 01 07 02");
const RequestCheck kRead = Request("02 01 08 0C 02 01 00");

void Add(FaultList& list, const char* text)
{
    std::string error;
    const auto f = ParseFault(text, &error);
    ASSERT_TRUE(f) << text << ": " << error;
    list.Add(*f);
}

TEST(FaultPlanTest, OnceAndNthFaultsFireOnTheirRequestOnly)
{
    FaultList list;
    Add(list, "refuse 4 code=2 once");
    EXPECT_FALSE(list.Take(kRead).Refuse); // another command: the fault waits
    const FaultPlan refused = list.Take(kState);
    EXPECT_TRUE(refused.Refuse);
    EXPECT_EQ(refused.Error, 4);
    EXPECT_FALSE(refused.CarriesOut());
    EXPECT_TRUE(refused.Answers());
    EXPECT_FALSE(list.Take(kState).Refuse);
    EXPECT_TRUE(list.Empty());

    // nth counts from when it is added; a request that failed the frame
    // checks counts too but fires nothing.
    Add(list, "silent nth=2");
    Add(list, "badpid nth=1 code=12"); // its request is a state request: never fires
    Add(list, "delay 5 nth=3");
    EXPECT_FALSE(list.Take(kState).BadPid);
    EXPECT_FALSE(list.Take(RequestCheck{}).Silent);
    EXPECT_EQ(list.List().size(), 2u); // the missed nth fault is gone
    EXPECT_EQ(list.Take(kState).DelayMs, 5);
    EXPECT_TRUE(list.Empty());

    Add(list, "silent nth=2 always");
    list.Take(kState);
    EXPECT_TRUE(list.Take(kState).Silent);
    EXPECT_FALSE(list.Take(kState).Silent); // its request has passed
    EXPECT_TRUE(list.Empty());
}

TEST(FaultPlanTest, EffectsOfSeveralFaultsAddUp)
{
    FaultList list;
    for (const char* text : {"delay 100", "delay 50 code=2", "delay 7 code=12", "longer", "longer", "garbage AA",
                             "garbage BB", "twice", "split 3 4"})
        Add(list, text);
    const FaultPlan plan = list.Take(kState);
    EXPECT_EQ(plan.DelayMs, 150);
    EXPECT_EQ(plan.LengthDelta, 2);
    EXPECT_TRUE(plan.Twice);
    EXPECT_EQ(plan.Pieces, 3);
    EXPECT_EQ(plan.PauseMs, 4);
    EXPECT_EQ(plan.Garbage, *ParseHex("AA BB"));
    EXPECT_NE(plan.Names.find("delay 50 code=2"), std::string::npos) << plan.Names;
    EXPECT_EQ(plan.Names.find("delay 7"), std::string::npos) << plan.Names;
    EXPECT_EQ(list.List().size(), 9u); // "always" faults stay

    const TArrayOfByte body = *ParseHex("01 02 07 00 11");
    TArrayOfByte expected = *ParseHex("AA BB");
    const TArrayOfByte framed = FrameBody(*ParseHex("01 02 07 00 11 00 00"));
    expected.insert(expected.end(), framed.begin(), framed.end());
    EXPECT_EQ(plan.Shape(kState.Body, body), expected);
}

TEST(FaultPlanTest, ShapesTheAnswer)
{
    const TArrayOfByte request = kState.Body;
    const TArrayOfByte body = *ParseHex("01 02 07 00 11 22");
    auto unpacked = [](TArrayOfByte wire) {
        return UnpackFrame(wire) == upOk ? ToHex(wire) : std::string("bad frame");
    };
    FaultPlan none, zero, addresses, cut, crc;
    zero.ZeroError = true;
    addresses.BadAR = addresses.BadAT = addresses.BadPid = true;
    cut.LengthDelta = -10; // more than the body has
    crc.BadCrc = true;
    EXPECT_EQ(unpacked(none.Shape(request, body)), "01 02 07 00 11 22");
    EXPECT_EQ(unpacked(zero.Shape(request, body)), "01 02 07 FF 00");
    EXPECT_EQ(unpacked(addresses.Shape(request, body)), "02 03 08 00 11 22");
    EXPECT_EQ(cut.Shape(request, body), FrameBody({}));
    TArrayOfByte bad = crc.Shape(request, body);
    EXPECT_EQ(UnpackFrame(bad), upCrcMismatch);
    EXPECT_EQ(ToHex(RefusalBody(request, 5)), "01 02 07 FF 05");
}

} // namespace
