// The line scheduler on a fake clock: pacing at the line rate, each byte
// against its own deadline from the start of its chunk, answers one after
// the other, unasked bytes in the first gap and never inside a split answer,
// and a client that does not read.
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

    LineScheduler::TimePoint Flush() { return FlushNext().At; }
    LineScheduler::Next FlushNext()
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

    // Unpaced after some thinking: the whole chunk ends with one write.
    line.Schedule({8, 9}, now + 5ms, Placement::Last);
    const LineScheduler::Next next = FlushNext();
    EXPECT_EQ(next.At, now + 5ms);
    EXPECT_TRUE(next.EndsChunk);
    now += 5ms;
    EXPECT_EQ(Flush(), LineScheduler::TimePoint::max());
    EXPECT_EQ(written.size(), 9u);
}

// Flushes at the given times (as late or early as a real timer might wake);
// after each, how many bytes have been written and what is due next.
TEST_F(LineSchedulerTest, EachByteGoesOutWhenItsStopBitIsThroughCountedFromTheChunkStart)
{
    using std::chrono::nanoseconds;
    constexpr nanoseconds kNothing = nanoseconds::max();
    struct Step {
        nanoseconds At;    // since the chunk's start
        std::size_t Written;
        nanoseconds Next;  // since the chunk's start; kNothing: queue empty
        bool EndsChunk;
    };
    struct Case {
        const char* What;
        int Baud;
        std::size_t Size;
        std::vector<Step> Steps;
    };
    const Case cases[] = {
        {"on time: one byte at each deadline, the last one flagged",
         1000,
         4,
         {{0ms, 0, 10ms, false}, {10ms, 1, 20ms, false}, {20ms, 2, 30ms, false}, {30ms, 3, 40ms, true},
          {40ms, 4, kNothing, false}}},
        {"late calls do not push the later deadlines back",
         1000,
         4,
         {{17ms, 1, 20ms, false}, {35ms, 3, 40ms, true}, {41ms, 4, kNothing, false}}},
        {"a call a nanosecond early writes nothing",
         1000,
         2,
         {{10ms - 1ns, 0, 10ms, false}, {10ms, 1, 20ms, true}, {20ms - 1ns, 1, 20ms, true}}},
        {"long after the end: all of it at once", 1000, 3, {{1s, 3, kNothing, false}}},
        // 86805.5 ns a byte: the deadlines are rounded down, and a call at
        // one of them must write its byte, not wake again and again.
        {"115200 baud, deadlines that fall between nanoseconds",
         115200,
         3,
         {{86805ns, 1, 173611ns, false}, {173610ns, 1, 173611ns, false}, {173611ns, 2, 260416ns, true},
          {260416ns, 3, kNothing, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        line.Clear();
        written.clear();
        now = t0;
        line.SetBaud(c.Baud);
        EXPECT_EQ(line.Schedule(TArrayOfByte(c.Size, 0x55), t0, Placement::Last),
                  t0 + LineScheduler::LineTime(c.Size, c.Baud));
        for (const Step& step : c.Steps) {
            now = t0 + step.At;
            const LineScheduler::Next next = FlushNext();
            EXPECT_EQ(written.size(), step.Written) << "at " << step.At.count() << " ns";
            EXPECT_EQ(next.At, step.Next == kNothing ? LineScheduler::TimePoint::max() : t0 + step.Next)
                << "at " << step.At.count() << " ns";
            EXPECT_EQ(next.EndsChunk, step.EndsChunk) << "at " << step.At.count() << " ns";
        }
    }
}

TEST_F(LineSchedulerTest, AChunkAfterAnotherKeepsToTheSameGrid)
{
    // Written late, the first chunk's end still places the second one's
    // deadlines, as the line itself would.
    line.SetBaud(1000);
    const auto firstEnd = line.Schedule({1, 2}, t0, Placement::Last);
    line.Schedule({3, 4}, t0, Placement::Last);
    now = t0 + 35ms;
    EXPECT_EQ(Flush(), firstEnd + 20ms);
    EXPECT_EQ(written, TArrayOfByte({1, 2, 3}));
    now = t0 + 40ms;
    EXPECT_EQ(Flush(), LineScheduler::TimePoint::max());
    EXPECT_EQ(written, TArrayOfByte({1, 2, 3, 4}));
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
    EXPECT_EQ(Flush(), t0 + LineScheduler::kRetry);
    busy = false;
    now += 5ms;
    EXPECT_EQ(Flush(), LineScheduler::TimePoint::max());
    EXPECT_EQ(written, TArrayOfByte({1, 2, 3}));

    line.Schedule({4, 5}, now, Placement::Last);
    EXPECT_EQ(line.Flush([](const std::uint8_t*, std::size_t) { return LineScheduler::kGone; }).At,
              LineScheduler::TimePoint::max());
    EXPECT_TRUE(line.Empty());
}

} // namespace
