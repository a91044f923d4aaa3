// When the emulator's bytes go on the line: the queue of what is to be sent,
// paced at the line's speed, with answers one after the other and
// unsolicited bytes in the first gap between two frames. The clock and the
// writer are passed in, so it runs as well on a fake clock as on a pty.
#pragma once

#include "KkmTypes.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

namespace kkm::emu {

class LineScheduler {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // A client that takes nothing (or unpaced output it took only part of)
    // is tried again this often.
    static constexpr std::chrono::milliseconds kRetry{1};

    // What a writer returns besides a count of bytes taken.
    static constexpr std::ptrdiff_t kBusy = -1; // nothing taken now, try again shortly
    static constexpr std::ptrdiff_t kGone = -2; // nobody on the line: drop the queue
    using Writer = std::function<std::ptrdiff_t(const std::uint8_t* data, std::size_t size)>;

    explicit LineScheduler(std::function<TimePoint()> now = &Clock::now) : now_(std::move(now)) {}

    // Time n bytes take at baud (a start and a stop bit each); 0 when unpaced.
    static std::chrono::nanoseconds LineTime(std::size_t n, int baud);

    // New chunks are paced at this speed; 0: as fast as they are taken.
    void SetBaud(int baud) { baud_ = baud; }
    int Baud() const { return baud_; }

    enum class Placement {
        Last,     // an answer, or its first piece: behind everything queued
        Piece,    // a further piece of the frame queued just before
        FirstGap, // unasked bytes: the first gap between two frames
    };
    // Queues bytes to start no earlier than earliest; returns when they end.
    TimePoint Schedule(TArrayOfByte bytes, TimePoint earliest, Placement placement);

    // When Flush has something to write next. A client times a frame by its
    // last byte, so the write that ends a chunk is flagged: worth being on
    // time for to the microsecond, where the bytes before it only need to
    // keep their order.
    struct Next {
        TimePoint At = TimePoint::max(); // max(): nothing queued
        bool EndsChunk = false;
    };
    // Writes every byte whose stop bit is through, counted from the start of
    // its chunk, so a late call delays only the bytes due by then.
    Next Flush(const Writer& write);

    void Clear() { queue_.clear(); }
    bool Empty() const { return queue_.empty(); }
    TimePoint Now() const { return now_(); }

private:
    struct Chunk {
        TimePoint Due; // when its first byte may start
        TArrayOfByte Bytes;
        std::size_t Sent = 0;
        int Baud = 0;
        bool OpensFrame = true; // false for the later pieces of a split answer
    };

    std::function<TimePoint()> now_;
    std::deque<Chunk> queue_;
    int baud_ = 0;
};

} // namespace kkm::emu
