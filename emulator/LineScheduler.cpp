#include "LineScheduler.h"

#include <algorithm>

namespace kkm::emu {

namespace {
constexpr std::int64_t kNsPerTenBits = 10'000'000'000LL; // 10 bits at 1 baud
} // namespace

std::chrono::nanoseconds LineScheduler::LineTime(std::size_t n, int baud)
{
    if (baud <= 0)
        return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(static_cast<std::int64_t>(n) * kNsPerTenBits / baud);
}

LineScheduler::TimePoint LineScheduler::Schedule(TArrayOfByte bytes, TimePoint earliest, Placement placement)
{
    // The queue is kept in order of due time and chunks never overlap on the
    // line. Answers queue behind everything, as the register answers one
    // request after the other; unasked bytes take the first gap between two
    // frames, so a message can go out while an answer is still being thought
    // about, but never inside a split answer.
    const Clock::duration length = LineTime(bytes.size(), baud_);
    TimePoint start = std::max(earliest, now_());
    auto at = queue_.begin();
    for (; at != queue_.end(); ++at) {
        if (placement == Placement::FirstGap && at->Sent == 0 && at->OpensFrame && start + length < at->Due)
            break;
        start = std::max(start, at->Due + LineTime(at->Bytes.size(), at->Baud));
    }
    queue_.insert(at, {start, std::move(bytes), 0, baud_, placement != Placement::Piece});
    return start + length;
}

LineScheduler::Next LineScheduler::Flush(const Writer& write)
{
    while (!queue_.empty()) {
        Chunk& c = queue_.front();
        const TimePoint now = now_();
        // A byte is there once its stop bit is through; its deadline counts
        // from the chunk's start, not from the byte before.
        const TimePoint due = c.Due + LineTime(c.Sent + 1, c.Baud);
        if (now < due)
            return {due, c.Baud <= 0 || c.Sent + 1 == c.Bytes.size()};
        std::size_t ready = c.Bytes.size();
        const std::int64_t elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - c.Due).count();
        if (elapsed < LineTime(ready, c.Baud).count()) {
            // The bytes k with LineTime(k) <= elapsed, LineTime rounding down:
            // at each deadline it returned, its byte is ready.
            ready = static_cast<std::size_t>(((elapsed + 1) * c.Baud - 1) / kNsPerTenBits);
        }
        const std::ptrdiff_t n = write(c.Bytes.data() + c.Sent, ready - c.Sent);
        if (n == kBusy || n == 0)
            return {now + kRetry, false}; // the client is not reading: try again shortly
        if (n < 0) {
            queue_.clear();
            break;
        }
        c.Sent += static_cast<std::size_t>(n);
        if (c.Sent == c.Bytes.size())
            queue_.pop_front();
    }
    return {};
}

} // namespace kkm::emu
