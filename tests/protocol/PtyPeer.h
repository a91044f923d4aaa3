// A small scripted peer on a pseudo-terminal: the far end of the line for
// the serial link and transaction tests. It collects the frames it receives
// and answers each with whatever the script returns, optionally at a given
// line rate.
#pragma once

#include "KkmTypes.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class PtyPeer {
public:
    struct Reply {
        TArrayOfByte bytes;
        std::chrono::milliseconds delay{0}; // before the first byte
        std::uint32_t baud = 0;             // 0: all at once, else one byte per 10/baud s
    };
    // Called on the peer's thread for every complete frame (markers included).
    using Script = std::function<Reply(const TArrayOfByte& frame)>;

    PtyPeer();
    ~PtyPeer();

    QString SlavePath() const { return slavePath_; }
    void SetScript(Script script);

    std::vector<TArrayOfByte> Frames() const;
    std::size_t FrameCount() const;
    bool WaitForFrames(std::size_t n, std::chrono::milliseconds limit) const;
    // All bytes received, frames or not.
    std::size_t BytesReceived() const { return bytesReceived_.load(); }

    // Sends bytes from any thread, at once.
    void Send(const TArrayOfByte& bytes);
    // Closes the master side, as an unplugged cable.
    void HangUp();
    // Keeps sending noise until stopped, to load the port's reads.
    void StartFlood(std::size_t chunk = 64);
    void StopFlood();

    // Answer helpers: a response frame with the given code and payload to the
    // request frame, addresses swapped and its PID repeated.
    static TArrayOfByte Response(const TArrayOfByte& request, std::uint8_t code,
                                 const TArrayOfByte& payload = {});
    static TArrayOfByte Frame(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
                              std::uint8_t code, const TArrayOfByte& payload = {});

private:
    void Run();
    void WriteAll(const std::uint8_t* data, std::size_t size,
                  const std::atomic<bool>* keepGoing = nullptr);

    int master_ = -1;
    int slave_ = -1; // kept open so the master never sees a hang-up between clients
    int stopFd_ = -1;
    QString slavePath_;
    std::thread thread_;
    std::thread flood_;
    std::atomic<bool> flooding_{false};
    std::atomic<std::size_t> bytesReceived_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::mutex writeMutex_;
    Script script_;
    std::vector<TArrayOfByte> frames_;
    bool hungUp_ = false;
};
