// The line scheduler on a fake clock: pacing at the line rate, answers one
// after the other, unasked bytes in the first gap and never inside a split
// answer, and a client that does not read.
#include "LineScheduler.h"

#include <gtest/gtest.h>

using namespace kkm;
using namespace kkm::emu;
using namespace std::chrono_literals;
using Placement = LineScheduler::Placement;

namespace {

class LineSchedulerTest : public ::testing::Test {
protected:
    LineScheduler::TimePoint t0 = LineScheduler::TimePoint() + 1h;
    LineScheduler::TimePoint now = t0;
    LineScheduler line{[this] { return now; }};
    TArrayOfByte written;
    bool busy = false;

    LineScheduler::TimePoint Flush()
    {
        return line.Flush([this](const std::uint8_t* data, std::size_t size) -> std::ptrdiff_t {
            if (busy)
                return LineScheduler::kBusy;
            written.insert(written.end(), data, data + size);
            return static_cast<std::ptrdiff_t>(size);
        });
    }
    // Flushes at every due time up to `until`, as the pty thread does.
    void RunUntil(LineScheduler::TimePoint until)
    {
        for (LineScheduler::TimePoint next = Flush(); next <= until; next = Flush())
            now = std::max(now, next);
        now = until;
    }
};

TEST_F(LineSchedulerTest, PacesBytesAtTheLineRate)
{
    line.SetBaud(1000); // 10 ms a byte
    EXPECT_EQ(line.Schedule({1, 2, 3, 4, 5}, t0, Placement::Last), t0 + 50ms);
    EXPECT_EQ(Flush(), t0 + 10ms); // the first byte is not through yet
    EXPECT_TRUE(written.empty());
    now = t0 + 25ms;
    EXPECT_EQ(Flush(), t0 + 30ms);
    EXPECT_EQ(written, TArrayOfByte({1, 2}));
    now = t0 + 60ms;
    EXPECT_EQ(Flush(), LineScheduler::TimePoint::max());
    EXPECT_EQ(written, TArrayOfByte({1, 2, 3, 4, 5}));

    // Unpaced: all at once.
    line.SetBaud(0);
    line.Schedule({6, 7}, now, Placement::Last);
    EXPECT_EQ(Flush(), LineScheduler::TimePoint::max());
    EXPECT_EQ(written.size(), 7u);
}

TEST_F(LineSchedulerTest, UnaskedBytesTakeTheFirstGapThatFits)
{
    line.SetBaud(1000);
    // An answer after 100 ms of thinking, then two messages: the short one
    // fits before it, the long one (100 ms of line) does not.
    EXPECT_EQ(line.Schedule({0xA1, 0xA2, 0xA3}, t0 + 100ms, Placement::Last), t0 + 130ms);
    EXPECT_EQ(line.Schedule({0xB1, 0xB2}, t0, Placement::FirstGap), t0 + 20ms);
    EXPECT_EQ(line.Schedule(TArrayOfByte(10, 0xC0), t0, Placement::FirstGap), t0 + 230ms);
    // A second answer queues behind everything.
    EXPECT_EQ(line.Schedule({0xD1}, t0, Placement::Last), t0 + 240ms);
    RunUntil(t0 + 1s);
    TArrayOfByte expected = {0xB1, 0xB2, 0xA1, 0xA2, 0xA3};
    expected.insert(expected.end(), 10, 0xC0);
    expected.push_back(0xD1);
    EXPECT_EQ(written, expected);
}

TEST_F(LineSchedulerTest, UnaskedBytesNeverGoInsideASplitAnswer)
{
    const auto firstEnd = line.Schedule({0xA1, 0xA2}, t0, Placement::Last);
    line.Schedule({0xA3, 0xA4}, firstEnd + 20ms, Placement::Piece);
    Flush();
    now = t0 + 1ms;
    line.Schedule({0xB1}, now, Placement::FirstGap);
    RunUntil(t0 + 1s);
    EXPECT_EQ(written, TArrayOfByte({0xA1, 0xA2, 0xA3, 0xA4, 0xB1}));
}

TEST_F(LineSchedulerTest, WaitsForAClientThatDoesNotReadAndDropsWhenItIsGone)
{
    line.Schedule({1, 2, 3}, t0, Placement::Last);
    busy = true;
    EXPECT_EQ(Flush(), t0 + LineScheduler::kBurst);
    busy = false;
    now += 5ms;
    EXPECT_EQ(Flush(), LineScheduler::TimePoint::max());
    EXPECT_EQ(written, TArrayOfByte({1, 2, 3}));

    line.Schedule({4, 5}, now, Placement::Last);
    EXPECT_EQ(line.Flush([](const std::uint8_t*, std::size_t) { return LineScheduler::kGone; }),
              LineScheduler::TimePoint::max());
    EXPECT_TRUE(line.Empty());
}

} // namespace
