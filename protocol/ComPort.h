// Serial link: lists the serial ports, opens one raw 8N1 at a chosen speed,
// writes frames, and reads what has arrived. It has no thread of its own:
// the thread that opened the port reads it, either while a command waits
// (WaitForData, then ReadPending) or, between commands, through that
// thread's event loop, which watches the port while it is open. Another
// thread may only read Opened and call Wake. Knows nothing about frames.
//
// The same interface on every system; ComPortPosix.cpp and ComPortWin.cpp
// hold the two implementations, PortList.cpp and PortListWin.cpp the lists.
#pragma once

#include "KkmTypes.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

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
    // The channel that wakes a waiting read cannot be made.
    prThreadFailed = 109,
    // The user lacks the right to open the device (not the same as busy).
    prAccessDenied = 110,
};

// Receiver of read bytes, called in the thread that reads the port. Data is
// the port's buffer (BufferSize bytes, zero after Count); the handler must
// take what it needs before it returns.
using TPortDataEvent =
    std::function<void(const TArrayOfByte& Data, std::int32_t Count, std::uint32_t Errors)>;
// Told once, in the same thread, when a read finds the device gone: it hung
// up, failed or reported its end. The port stays Opened until Close.
using TLineLostEvent = std::function<void()>;

// Line error flags reported with a read (bit values as the Windows CE_ flags).
enum TLineError : std::uint32_t {
    leOverrun = 0x0002,
    leParity = 0x0004,
    leFrame = 0x0008,
    leBreak = 0x0010,
};

class TComPort {
public:
    // A file descriptor, or a Windows handle's value; -1 is invalid on both.
    using THandle = std::intptr_t;
    static constexpr THandle InvalidHandle = -1;

    TComPort();
    ~TComPort();
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // Number at the end of the last opened port's name (COM7, /dev/ttyUSB7).
    std::uint8_t PortNumber = 1;
    THandle Handle = InvalidHandle;
    // Read by other threads (a window showing a worker's port).
    std::atomic<bool> Opened{false};
    std::int32_t BufferSize = 255;
    TPortDataEvent OnData;
    TLineLostEvent OnLineLost;

    // Name and speed of the port last opened.
    QString Name;
    std::uint32_t BaudRate = 0;

    // Fails with 109 when the wake-up channel could not be made: a wait
    // that Wake cannot end must not start.
    int Open(const QString& Name, std::uint32_t Baud);
    // Safe to call from inside OnData and OnLineLost. Puts back the
    // settings the device had before Open.
    void Close();
    // Hands the whole frame to the system; waits no longer than the line
    // needs for it and a second more, and not at all after Wake.
    int Write(const TArrayOfByte& Frame);
    // Bytes written but not yet sent on the line; 0 when closed or when the
    // device does not tell.
    int OutputQueued() const;
    // Replaces the system's count for OutputQueued: pseudo-terminals always
    // report an empty queue, so tests stand in for a slow line with this.
    std::function<int()> OutputQueueProbe;
#ifndef _WIN32
    // The driver's serial flags (TIOCGSERIAL / TIOCSSERIAL); tests stand in
    // for a USB adapter's driver with these. Each returns 0 or an errno.
    struct TSerialFlagsIo {
        std::function<int(int Fd, int& Flags)> Get;
        std::function<int(int Fd, int Flags)> Set;
    };
    TSerialFlagsIo SerialFlagsIo = DriverSerialFlags();
    static TSerialFlagsIo DriverSerialFlags();
    // The serial devices described under a sysfs tty class directory.
    static QStringList SerialDevices(const QString& SysClassTty);
#endif
    // True from the moment OnLineLost was told until Close or Open.
    bool LineLost() const { return lineLost_; }

    // The real serial ports: device paths sorted by kind and number, or
    // COM names sorted by number.
    static bool GetPortList(QStringList& List);
    // COMn names in port number order (COM2 before COM10); equal numbers
    // keep their order.
    static QStringList SortByPortNumber(QStringList Names);
    static void ResultText(int Code, QString& Text);
    static QString ResultText(int Code);

    // In the port's thread: waits until there is something to read (bytes,
    // or the device gone), Wake was called, or the time is up; true in the
    // first two cases. A waiting command takes an answer up the moment it
    // arrives instead of sleeping blindly.
    bool WaitForData(std::chrono::microseconds Limit);
    // In the port's thread: reads at most BufferSize bytes of what has
    // arrived and hands them to OnData; tells a lost line to OnLineLost.
    // Returns at once when nothing has arrived.
    void ReadPending();
    // From any thread: ends a WaitForData or a Write in progress at once,
    // or the next one to start.
    void Wake();
    // A wake-up no wait has taken is forgotten (the interruption is over).
    void ClearWake();

    // Seconds the line needs for one byte (start, 8 data, stop bits).
    double ByteTime() const { return BaudRate ? 10.0 / BaudRate : 0.0; }

private:
    // The system's side: descriptors or handles, saved settings, the
    // event loop's watch on the port.
    struct TSystem;
    void Watch(bool On);
    void TellLineLost();

    std::unique_ptr<TSystem> sys_;
    TArrayOfByte buffer_; // BufferSize bytes, zeroed before each read
    bool lineLost_ = false;
};
