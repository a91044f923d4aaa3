// Serial link: lists the serial ports, opens one raw 8N1 at a chosen speed,
// writes frames, and runs one reader thread per open port that hands every
// received chunk to the thread that constructed the port object,
// synchronously and in order: either to a caller waiting in
// WaitForHandover, which then takes it with DeliverPending, or through that
// thread's event loop. Knows nothing about frames.
#pragma once

#include "KkmTypes.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <termios.h>
#endif

class QSocketNotifier;
class TComPort;

// Port result codes.
enum TPortResult : int {
    prOk = 0,
    prUnknown = 1,
    prAlreadyOpen = 101,
    prNoSuchPort = 102,
    prBusy = 103,
    prGetSettings = 104,
    prApplySettings = 105,
    prNotOpen = 106,
    prNoMemory = 107,
    prEmptyFrame = 108,
    prThreadFailed = 109,
    // The user lacks the right to open the device (not the same as busy).
    prAccessDenied = 110,
};

// Receiver of read bytes, called in the thread that constructed the port.
// Data is the reader's buffer (BufferSize bytes, zero after Count); the
// handler must take what it needs before it returns.
using TPortDataEvent =
    std::function<void(const TArrayOfByte& Data, std::int32_t Count, std::uint32_t Errors)>;
// Told once, in the same thread, when the reader has ended on its own: the
// device hung up, failed (EIO) or reported its end. The port stays Opened
// until Close.
using TLineLostEvent = std::function<void()>;

// Line error flags reported with a read (bit values as the Windows CE_ flags).
enum TLineError : std::uint32_t {
    leOverrun = 0x0002,
    leParity = 0x0004,
    leFrame = 0x0008,
    leBreak = 0x0010,
};

// One reader per open port. It waits on the port and on a wake-up channel,
// reads at most BufferSize bytes and blocks until the port's thread has taken
// them. It uses only its own fd copy and fields, so Close can end it at any
// moment; an unplugged device (EIO, hang-up, end of file) ends it, and the
// port then reports the line lost.
class TReadThread {
public:
    TReadThread(TComPort* Port, int Fd, int NotifyFd);
    ~TReadThread();
    TReadThread(const TReadThread&) = delete;
    TReadThread& operator=(const TReadThread&) = delete;

    TComPort* const Port;
    TArrayOfByte Buffer;
    std::uint32_t Errors = 0;
    std::uint32_t Count = 0;

    // Asks the thread to end and wakes it from any wait; does not block.
    void Terminate();
    // Waits for the thread to end; only quick after Terminate.
    void Join();
    bool Finished() const { return finished_.load(); }
    // Ended on its own because the device went away, not because it was
    // told to stop.
    bool Lost() const { return lost_.load(); }

private:
    friend class TComPort;
    void Execute();
    // Publishes the chunk and waits until the port's thread is done with it;
    // false when terminated meanwhile.
    bool HandOver();
    std::uint32_t ReadLineErrors();

    const int fd_;
    const int notifyFd_;
    int stopFd_ = -1;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> lost_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool pending_ = false; // a chunk waits for the port's thread
    bool done_ = false;    // the port's thread has handled it
    struct IcountSnapshot {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
        bool valid = false;
    } icount_;
    std::thread thread_;
};

class TComPort {
public:
    TComPort();
    ~TComPort();
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // Number at the end of the last opened port's name (COM7, /dev/ttyUSB7).
    std::uint8_t PortNumber = 1;
    int Handle = -1;
    // Read by other threads (a window showing a worker's port).
    std::atomic<bool> Opened{false};
    std::shared_ptr<TReadThread> ReadThread;
    std::int32_t BufferSize = 255;
#ifndef _WIN32
    struct termios DCB {};
#endif
    TPortDataEvent OnData;
    TLineLostEvent OnLineLost;

    // Name and speed of the port last opened.
    QString Name;
    std::uint32_t BaudRate = 0;

    // Fails with 109 when the hand-over channel to this thread cannot be
    // made: a port that never delivers must not look open.
    int Open(const QString& Name, std::uint32_t Baud);
    // Never waits for a hand-over in progress: it wakes the reader, which
    // then ends at once; safe to call from inside OnData and OnLineLost.
    // Puts back the terminal settings the device had before Open.
    void Close();
    // Hands the whole frame to the system without waiting for it to leave
    // the line (see OutputQueued).
    int Write(const TArrayOfByte& Frame);
    // Bytes written but not yet sent on the line; 0 when closed or when the
    // device does not tell.
    int OutputQueued() const;
    // Replaces the system's count for OutputQueued: pseudo-terminals always
    // report an empty queue, so tests stand in for a slow line with this.
    std::function<int()> OutputQueueProbe;
    // The driver's serial flags (TIOCGSERIAL / TIOCSSERIAL); tests stand in
    // for a USB adapter's driver with these. Each returns 0 or an errno.
    struct TSerialFlagsIo {
        std::function<int(int Fd, int& Flags)> Get;
        std::function<int(int Fd, int Flags)> Set;
    };
    TSerialFlagsIo SerialFlagsIo = DriverSerialFlags();
    static TSerialFlagsIo DriverSerialFlags();
    // True from the moment OnLineLost was told until Close or Open.
    bool LineLost() const { return lineLost_; }

    // Device paths of the real serial ports, sorted by kind and number.
    static bool GetPortList(QStringList& List);
    // The serial devices described under a sysfs tty class directory.
    static QStringList SerialDevices(const QString& SysClassTty);
    static void ResultText(int Code, QString& Text);
    static QString ResultText(int Code);

    // Waits until the reader has a chunk (or has ended), Wake was called,
    // or the time is up; true in the first two cases. Lets a waiting
    // command take up an answer at once instead of sleeping blindly.
    bool WaitForHandover(std::chrono::microseconds Limit) const;
    // Hands the reader's pending chunk to OnData and tells a lost line to
    // OnLineLost, in the calling thread (the port's own).
    void DeliverPending();
    // From any thread: ends a WaitForHandover in progress at once.
    void Wake();

    // Seconds the line needs for one byte (start, 8 data, stop bits).
    double ByteTime() const { return BaudRate ? 10.0 / BaudRate : 0.0; }

private:
    void RequestLowLatency(int Fd, const QString& Name);

    int notifyFd_ = -1; // eventfd: the reader signals a pending chunk or its end
    std::unique_ptr<QSocketNotifier> notifier_;
#ifndef _WIN32
    struct termios saved_ {}; // the device's settings before Open
#endif
    int savedSerialFlags_ = 0;
    bool restoreSerialFlags_ = false; // low latency was asked of the driver
    bool lineLost_ = false;
};
