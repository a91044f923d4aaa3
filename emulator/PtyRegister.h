// A RegisterModel behind a pseudo-terminal: the register as a serial port
// that the configurator (or a test) opens like any other.
//
// It runs its own thread, which waits with poll() on the pty master and
// answers every request as it arrives. It does not keep the slave side
// open itself, so a client's exclusive open works; while no client has the
// slave open it looks again every 25 ms.
//
// What it does with a request is planned by FaultPlan.h, when the bytes go
// out by LineScheduler.h; this is the pty, the thread and the log around
// them.
//
// Publishing (PortDirectory.h): in the port directory (kkm::EmulatorPortDir()
// unless given) it takes the first free ttyEMU<N> and points it at its
// /dev/pts/M. Stop() removes it. A hang-up creates a new pty and points the
// same link at it.
//
// Every method may be called from any thread.
//
//   kkm::emu::PtyRegister reg;
//   reg.Start({.Directory = dir});
//   reg.WithModel([](RegisterModel& m) { m.SetSales(1, 1500); });
//   ... open reg.PublishedPath(), send a request ...
//   ASSERT_TRUE(reg.WaitForRequests(1, std::chrono::seconds(5)));
//   reg.Requests()[0].Body   // 02 01 PID Code payload
#pragma once

#include "FaultPlan.h"
#include "FrameCodec.h"
#include "LineScheduler.h"
#include "Messages.h"
#include "PortDirectory.h"
#include "RegisterModel.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <optional>
#include <vector>

namespace kkm::emu {

struct RequestRecord {
    std::chrono::steady_clock::time_point When; // when its end marker arrived
    std::chrono::steady_clock::time_point Started; // when its start marker arrived
    // When the last byte of everything sent before it had been written, if
    // the line was quiet then: Started minus this is the client's idle gap.
    std::optional<std::chrono::steady_clock::time_point> LineQuietSince;
    TArrayOfByte Wire;   // as received, markers included
    TArrayOfByte Body;   // AR AT PID Code payload, when it could be unpacked
    bool Valid = false;  // passed the frame checks (markers, stuffing, CRC, addresses)
    std::string Problem; // why it got no answer, or the refusal, or empty
    TArrayOfByte Answer; // the answer as sent (faults included); empty: none
};

struct PtyOptions {
    bool Publish = true;
    QString Directory;                            // empty: kkm::EmulatorPortDir()
    QString BaseName = QStringLiteral("ttyEMU");  // link name without its number
    int Baud = 0;      // pace what it sends at 10 / Baud s per byte; 0: unpaced
    int ThinkMs = 0;   // extra time before each answer
    bool LogRequests = false;
    // Receives the request log lines (when LogRequests) and notices such
    // as a hang-up; default: stderr.
    std::function<void(const std::string&)> LogSink;
    QString LogoPath;  // each completed logo is written here as a PBM
};

class PtyRegister {
public:
    using Options = PtyOptions;

    PtyRegister();
    explicit PtyRegister(RegisterModel model);
    ~PtyRegister();
    PtyRegister(const PtyRegister&) = delete;
    PtyRegister& operator=(const PtyRegister&) = delete;

    bool Start(const Options& options = Options(), QString* error = nullptr);
    // Closes the port (a client sees a hang-up) and unpublishes it.
    void Stop();
    bool Running() const;

    QString SlavePath() const;     // /dev/pts/M
    QString PublishedPath() const; // the link, empty when not published

    // Runs f(RegisterModel&) under the lock and returns what it returns.
    template <class F>
    auto WithModel(F&& f)
    {
        std::lock_guard lock(mutex_);
        return f(model_);
    }

    // Pacing and logging can change while it runs.
    void SetBaud(int baud);
    void SetThinkTime(int ms);
    void SetRequestLogging(bool on);

    // The request log: every frame received since the last clear.
    std::vector<RequestRecord> Requests() const;
    std::size_t RequestCount() const;
    void ClearRequests();
    // Waits until at least n requests are in the log; false on time-out.
    bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;

    // How often a client that had the port open has closed it. A client
    // that opens and closes again between two looks (25 ms apart while
    // nobody is on the line) is not counted. A hang-up is not a close.
    std::uint64_t ClientCloses() const;
    bool WaitForClientCloses(std::uint64_t n, std::chrono::milliseconds timeout) const;
    // Waits until everything queued for the line has been written.
    bool WaitLineIdle(std::chrono::milliseconds timeout) const;

    // Faults (see Faults.h). AddFault returns an id for RemoveFault; an nth
    // fault counts from the moment it is added.
    int AddFault(const Fault& fault);
    bool RemoveFault(int id);
    void ClearFaults();
    std::vector<std::pair<int, Fault>> Faults() const;

    // Unsolicited messages: AR 1, AT 2, the PID from the emulator's own
    // counter (or the one given), sent as soon as the line is free.
    void SendMessage(const Message& message);
    void SendMessage(const Message& message, std::uint8_t pid);
    // A body (AR AT PID Code ...) sent with CRC, stuffing and markers added.
    void SendBody(const TArrayOfByte& body);
    // Bytes sent exactly as given.
    void SendRaw(const TArrayOfByte& wire);

    // Unplugs the cable: closes the pty master, so that a client sees
    // EIO / POLLHUP, then opens a new pty and points the published link at
    // it. Returns when the new port is there (false if that failed).
    bool HangUp();

private:
    void Run();
    bool OpenPty(QString* error);
    void ClosePty();
    void DoHangUp(std::vector<std::string>& notes);
    void Wake();
    // false when the client has closed the line
    bool ReadMaster(std::vector<std::string>& notes);
    void OnFrame(const TArrayOfByte& wire, std::vector<std::string>& notes);
    void AppendLog(RequestRecord record);
    void Emit(std::vector<std::string>& notes);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    RegisterModel model_;
    Options options_;
    std::thread thread_;
    bool running_ = false;
    bool stop_ = false;
    bool hangUpRequested_ = false;
    std::uint64_t hangUps_ = 0;
    bool hangUpOk_ = true;
    bool clientOn_ = false;
    std::uint64_t clientCloses_ = 0;

    int master_ = -1;
    int wake_ = -1;
    QString slavePath_;
    PublishedPort link_;

    std::deque<RequestRecord> log_;
    std::size_t logCount_ = 0; // since the last clear (the log keeps the newest)
    FaultList faults_;
    std::uint8_t messagePid_ = 0;
    std::uint64_t logosSaved_ = 0;

    FrameCollector collector_;
    TArrayOfByte current_; // the frame being collected, as received
    LineScheduler line_;
    std::chrono::steady_clock::time_point frameStarted_{};
    // When the output queue last ran empty; unset while something is due.
    std::optional<std::chrono::steady_clock::time_point> outputDone_;
    std::optional<std::chrono::steady_clock::time_point> quietAtFrameStart_;
};

} // namespace kkm::emu
