// The serial link on Windows: a COM port opened for overlapped I/O, read by
// the thread that opened it. A waiting read waits on the port's
// character-received event and on a wake-up event at once; between
// commands the thread's event loop watches the same port event.
// A port whose driver cannot wait for characters (Wine's serial layer on a
// pseudo-terminal cancels every such wait: it cannot read the modem lines)
// still answers queue queries: its queue is polled instead.
#include "ComPort.h"
#include "PortName.h"

#include <QLoggingCategory>
#include <QTimer>
#include <QWinEventNotifier>

#include <algorithm>
#include <functional>
#include <utility>

#include <windows.h>

// Why the serial code failed, with the system's code and message; off unless
// turned on, e.g. QT_LOGGING_RULES="kkm.serial=true".
Q_LOGGING_CATEGORY(lcSerial, "kkm.serial", QtFatalMsg)

namespace {

QString SystemMessage(DWORD err)
{
    wchar_t* text = nullptr;
    const DWORD size = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = size && text ? QString::fromWCharArray(text, static_cast<qsizetype>(size)).trimmed()
                                   : QString();
    if (text)
        ::LocalFree(text);
    return QStringLiteral("%1 (%2)").arg(message).arg(err);
}

// The errors of a device that went away under an open port (an unplugged
// USB adapter): the line is lost, nothing is retried.
bool DeviceGone(DWORD err)
{
    switch (err) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY: // Wine's answer on a line hung up (EIO)
        return true;
    default:
        return false;
    }
}

bool KnownSpeed(std::uint32_t baud)
{
    switch (baud) {
    case 1200: case 2400: case 4800: case 9600:
    case 19200: case 38400: case 57600: case 115200:
        return true;
    default:
        return false;
    }
}

int OpenErrorResult(DWORD err)
{
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return prNoSuchPort;
    case ERROR_ACCESS_DENIED: // held by another program: no sharing
    case ERROR_SHARING_VIOLATION:
        return prBusy;
    default:
        return prGetSettings;
    }
}

DWORD Milliseconds(std::chrono::microseconds limit)
{
    if (limit.count() <= 0)
        return 0;
    // Rounded up: a wait of half a millisecond still waits.
    const auto ms = (limit.count() + 999) / 1000;
    return ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
}

HANDLE AsHandle(TComPort::THandle h)
{
    return reinterpret_cast<HANDLE>(h);
}

} // namespace

struct TComPort::TSystem {
    HANDLE wake = nullptr; // manual reset: Wake ends the wait that is in progress
    // A named object held while the port is open, so that another of this
    // system's programs is told the port is busy even where the driver lets
    // a second program open it (Wine does, for any device).
    HANDLE claim = nullptr;
    void Unclaim()
    {
        if (claim)
            ::CloseHandle(claim);
        claim = nullptr;
    }
    // The character-received wait (WaitCommEvent), kept pending while the
    // port is open so that both a command's wait and the event loop see it.
    OVERLAPPED commOv{};
    DWORD commEvents = 0;
    bool commArmed = false;
    OVERLAPPED readOv{};
    OVERLAPPED writeOv{};
    DCB saved{};
    COMMTIMEOUTS savedTimeouts{};
    bool lossPending = false; // a wait saw the device go; the next read tells
    // Line errors that ClearCommError reported (and cleared) since the last
    // read: every caller asks it, only the read reports them.
    mutable DWORD lineErrors = 0;
    std::unique_ptr<QWinEventNotifier> watch;
    // The last watch, switched off: it may be the very notifier whose signal
    // is being handled (a handler closes the port), so it goes only at the
    // next Open or with the port.
    std::unique_ptr<QWinEventNotifier> retired;
    // The driver cancels every character-received wait although the device
    // is there: the queue is polled, by the waits and, between commands, by
    // a timer of the thread's event loop.
    bool polled = false;
    std::unique_ptr<QTimer> pollTimer;
    std::function<void()> onWatch; // what the event loop does when characters may have come

    // Starts the character-received wait unless one is pending; false when
    // the device is gone.
    bool Arm(HANDLE port, const QString& name);
    // Takes the outcome of a completed character-received wait.
    void Settle(HANDLE port, const QString& name);
    // True, and the port polled from now on, when a wait ended with ERR
    // because the driver cannot wait for characters on this device.
    bool WaitUnsupported(HANDLE port, const QString& name, DWORD err);
    // The event loop's watch by the timer.
    void StartPolling();
    // WaitForData on a polled port.
    bool PollForData(HANDLE port, const QString& name, std::chrono::microseconds limit);
    // The queued counts (ClearCommError), keeping its line errors for the
    // next read; false with the system's error when it fails.
    bool Status(HANDLE port, COMSTAT& stat, DWORD& err) const;
};

bool TComPort::TSystem::Status(HANDLE port, COMSTAT& stat, DWORD& err) const
{
    DWORD errors = 0;
    if (!::ClearCommError(port, &errors, &stat)) {
        err = ::GetLastError();
        return false;
    }
    lineErrors |= errors;
    err = ERROR_SUCCESS;
    return true;
}

bool TComPort::TSystem::Arm(HANDLE port, const QString& name)
{
    if (commArmed || polled)
        return true;
    ::ResetEvent(commOv.hEvent);
    commEvents = 0;
    if (::WaitCommEvent(port, &commEvents, &commOv)) {
        // Done at once: the event is set, the watch and the wait see it.
        ::SetEvent(commOv.hEvent);
        commArmed = true;
        return true;
    }
    const DWORD err = ::GetLastError();
    if (err == ERROR_IO_PENDING) {
        commArmed = true;
        return true;
    }
    if (WaitUnsupported(port, name, err))
        return true;
    qCWarning(lcSerial) << "wait for characters on" << name << ":" << SystemMessage(err);
    if (DeviceGone(err))
        lossPending = true;
    return false;
}

bool TComPort::TSystem::WaitUnsupported(HANDLE port, const QString& name, DWORD err)
{
    // A wait cancelled by nobody on a device that still answers: the driver
    // cannot wait for characters on it.
    if (err != ERROR_OPERATION_ABORTED)
        return false;
    COMSTAT stat{};
    DWORD statusErr = 0;
    if (!Status(port, stat, statusErr))
        return false;
    if (!polled)
        qCInfo(lcSerial) << "the driver of" << name << "cancels every wait for characters; its queue is polled";
    polled = true;
    return true;
}

void TComPort::TSystem::Settle(HANDLE port, const QString& name)
{
    if (!commArmed || !HasOverlappedIoCompleted(&commOv))
        return;
    commArmed = false;
    DWORD unused = 0;
    if (!::GetOverlappedResult(port, &commOv, &unused, FALSE)) {
        const DWORD err = ::GetLastError();
        if (WaitUnsupported(port, name, err))
            return;
        qCWarning(lcSerial) << "wait for characters on" << name << ":" << SystemMessage(err);
        if (DeviceGone(err))
            lossPending = true;
    }
}

TComPort::TComPort() : sys_(std::make_unique<TSystem>())
{
    sys_->wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    sys_->commOv.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    sys_->readOv.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    sys_->writeOv.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!sys_->wake || !sys_->commOv.hEvent || !sys_->readOv.hEvent || !sys_->writeOv.hEvent)
        qCWarning(lcSerial) << "no wake-up or wait events (CreateEvent):" << SystemMessage(::GetLastError());
}

TComPort::~TComPort()
{
    Close();
    sys_->retired.reset();
    for (HANDLE h : {sys_->wake, sys_->commOv.hEvent, sys_->readOv.hEvent, sys_->writeOv.hEvent}) {
        if (h)
            ::CloseHandle(h);
    }
}

int TComPort::Open(const QString& name, std::uint32_t baud)
{
    if (Opened)
        return prAlreadyOpen;
    PortNumber = static_cast<std::uint8_t>(std::max(0, kkm::SplitPortName(name).number));
    if (!sys_->wake || !sys_->commOv.hEvent || !sys_->readOv.hEvent || !sys_->writeOv.hEvent) {
        qCWarning(lcSerial) << "open" << name << ": no wake-up or wait events, a wait could not be ended";
        return prThreadFailed;
    }
    auto log = [&name](const char* what, DWORD err) {
        qCWarning(lcSerial).nospace() << "open " << name << ": " << what << ": " << SystemMessage(err);
    };

    // COM10 and above are only reachable through the device namespace; the
    // whole name is used, so a number above 255 still names its own port.
    const QString path = name.startsWith(QLatin1String("\\\\")) ? name : QStringLiteral("\\\\.\\") + name;
    // One name for every spelling of the port (com5, \\.\COM5), in the
    // global namespace: the port is the machine's, not the session's.
    const QString claimName = QStringLiteral("Global\\kkm-configurator-port-")
        + path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1).toUpper();
    sys_->claim = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(claimName.utf16()));
    const DWORD claimErr = ::GetLastError();
    if ((sys_->claim && claimErr == ERROR_ALREADY_EXISTS) || (!sys_->claim && claimErr == ERROR_ACCESS_DENIED)) {
        // Held by another program of this system (of another user, when access is denied).
        sys_->Unclaim();
        log("claim", ERROR_SHARING_VIOLATION);
        return prBusy;
    }
    const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                   0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                                   nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        sys_->Unclaim();
        log("open", err);
        return OpenErrorResult(err);
    }

    bool restore = false; // the device's own settings were changed
    auto fail = [&](const char* what, DWORD err, int result) {
        log(what, err);
        if (restore) {
            ::SetCommState(h, &sys_->saved);
            ::SetCommTimeouts(h, &sys_->savedTimeouts);
        }
        ::CloseHandle(h);
        sys_->Unclaim();
        return result;
    };
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb))
        return fail("read settings", ::GetLastError(), prGetSettings);
    sys_->saved = dcb;
    if (!::GetCommTimeouts(h, &sys_->savedTimeouts))
        return fail("read time-outs", ::GetLastError(), prGetSettings);
    if (!KnownSpeed(baud))
        return fail("speed", ERROR_INVALID_PARAMETER, prApplySettings);

    // 8N1 at the speed, binary, no flow control of either kind; DTR and RTS
    // stay as the port had them, only a handshake on them becomes a plain
    // raised line (the register has no handshake lines to answer).
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    // Line errors are reported with the read, never by failing it.
    dcb.fAbortOnError = FALSE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    restore = true;
    if (!::SetCommState(h, &dcb))
        return fail("apply settings", ::GetLastError(), prApplySettings);
    // A read returns at once with what has arrived, even nothing; the wait
    // for characters is the character-received event's.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!::SetCommTimeouts(h, &timeouts))
        return fail("apply time-outs", ::GetLastError(), prApplySettings);
    if (!::SetCommMask(h, EV_RXCHAR))
        return fail("event mask", ::GetLastError(), prApplySettings);
    if (!::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT))
        log("purge", ::GetLastError()); // stale bytes only; the port works
    ClearWake();

    buffer_.assign(static_cast<std::size_t>(std::max(1, BufferSize)), 0);
    Handle = reinterpret_cast<THandle>(h);
    Name = name;
    BaudRate = baud;
    sys_->commArmed = false;
    sys_->lossPending = false;
    sys_->lineErrors = 0;
    sys_->polled = false;
    Opened = true;
    lineLost_ = false;
    sys_->Arm(h, name);
    Watch(true);
    return prOk;
}

void TComPort::Watch(bool on)
{
    if (!on) {
        if (sys_->watch) {
            sys_->watch->setEnabled(false);
            sys_->retired = std::move(sys_->watch);
        }
        if (sys_->pollTimer)
            sys_->pollTimer->stop();
        return;
    }
    sys_->retired.reset();
    // Between commands the thread's event loop reads the port: unsolicited
    // messages and a lost line arrive that way. A command's own wait reads
    // it directly, and the loop does not run meanwhile.
    sys_->onWatch = [this] {
        const HANDLE h = AsHandle(Handle);
        if (!Opened || lineLost_)
            return;
        sys_->Settle(h, Name);
        if (sys_->polled && sys_->watch && sys_->watch->isEnabled()) {
            // The cancelled wait's event stays set: the timer takes over.
            sys_->watch->setEnabled(false);
            sys_->StartPolling();
        }
        // The event tells of new characters only: take all that is queued,
        // a chunk at a time, and wait again.
        while (Opened && !lineLost_) {
            COMSTAT stat{};
            DWORD err = 0;
            if (!sys_->lossPending && sys_->Status(h, stat, err) && stat.cbInQue == 0)
                break;
            ReadPending();
        }
        if (Opened && !lineLost_ && !sys_->Arm(h, Name))
            ReadPending(); // tells the loss
    };
    if (sys_->polled) {
        sys_->StartPolling();
        return;
    }
    sys_->watch = std::make_unique<QWinEventNotifier>(sys_->commOv.hEvent);
    QObject::connect(sys_->watch.get(), &QWinEventNotifier::activated, sys_->watch.get(),
                     [this] { sys_->onWatch(); });
}

void TComPort::TSystem::StartPolling()
{
    if (!pollTimer) {
        // Often enough for unsolicited messages and a lost line; a command's
        // own wait polls far more often.
        pollTimer = std::make_unique<QTimer>();
        pollTimer->setInterval(10);
        QObject::connect(pollTimer.get(), &QTimer::timeout, pollTimer.get(), [this] { onWatch(); });
    }
    pollTimer->start();
}

void TComPort::Close()
{
    if (!Opened)
        return;
    Watch(false);
    const HANDLE h = AsHandle(Handle);
    if (h != INVALID_HANDLE_VALUE) {
        // Ends the pending character-received wait; its record must not be
        // written after the handle is gone.
        ::SetCommMask(h, 0);
        if (sys_->commArmed) {
            ::CancelIoEx(h, &sys_->commOv);
            DWORD unused = 0;
            ::GetOverlappedResult(h, &sys_->commOv, &unused, TRUE);
            sys_->commArmed = false;
        }
        // A device that has gone away refuses; there is nothing to put back.
        if (!::SetCommState(h, &sys_->saved))
            qCWarning(lcSerial) << "close" << Name << ": settings not restored:" << SystemMessage(::GetLastError());
        if (!::SetCommTimeouts(h, &sys_->savedTimeouts))
            qCWarning(lcSerial) << "close" << Name << ": time-outs not restored:" << SystemMessage(::GetLastError());
        ::CloseHandle(h);
    }
    sys_->Unclaim();
    Handle = InvalidHandle;
    Opened = false;
    lineLost_ = false;
    sys_->lossPending = false;
}

int TComPort::Write(const TArrayOfByte& frame)
{
    if (!Opened)
        return prNotOpen;
    if (frame.empty())
        return prEmptyFrame;
    const HANDLE h = AsHandle(Handle);
    OVERLAPPED& ov = sys_->writeOv;
    ::ResetEvent(ov.hEvent);
    ov.Offset = ov.OffsetHigh = 0;
    const DWORD size = static_cast<DWORD>(frame.size());
    if (!::WriteFile(h, frame.data(), size, nullptr, &ov)) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_IO_PENDING) {
            qCWarning(lcSerial) << "write" << Name << ":" << SystemMessage(err);
            return prUnknown;
        }
        // The frame's line time and a second more, so that a wedged adapter
        // cannot hang the thread; a wake-up ends the wait at once.
        const auto limit = std::chrono::seconds(1)
            + std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::duration<double>(ByteTime() * frame.size()));
        const HANDLE waits[2] = {ov.hEvent, sys_->wake};
        const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, Milliseconds(limit));
        if (waited != WAIT_OBJECT_0) {
            if (waited == WAIT_OBJECT_0 + 1)
                qCInfo(lcSerial) << "write" << Name << ": woken before the frame was sent";
            else if (waited == WAIT_TIMEOUT)
                qCWarning(lcSerial) << "write" << Name << ": the device took nothing in time";
            else
                qCWarning(lcSerial) << "write" << Name << ": wait:" << SystemMessage(::GetLastError());
            // The wake-up stays set for the read wait that follows.
            ::CancelIoEx(h, &ov);
            DWORD unused = 0;
            ::GetOverlappedResult(h, &ov, &unused, TRUE);
            return prUnknown;
        }
    }
    // Done when the system says so, whatever count it reports.
    DWORD written = 0;
    if (!::GetOverlappedResult(h, &ov, &written, FALSE)) {
        qCWarning(lcSerial) << "write" << Name << ":" << SystemMessage(::GetLastError());
        return prUnknown;
    }
    return prOk;
}

int TComPort::OutputQueued() const
{
    if (!Opened || Handle == InvalidHandle)
        return 0;
    if (OutputQueueProbe)
        return OutputQueueProbe();
    COMSTAT stat{};
    DWORD err = 0;
    if (!sys_->Status(AsHandle(Handle), stat, err))
        return 0; // no count to wait on: take it as sent
    return static_cast<int>(stat.cbOutQue);
}

bool TComPort::WaitForData(std::chrono::microseconds limit)
{
    if (!sys_->wake)
        return false;
    if (!Opened || lineLost_) {
        // A lost line has nothing more to give; only a wake-up ends the wait.
        if (::WaitForSingleObject(sys_->wake, Milliseconds(limit)) != WAIT_OBJECT_0)
            return false;
        ::ResetEvent(sys_->wake);
        return true;
    }
    const HANDLE h = AsHandle(Handle);
    sys_->Settle(h, Name);
    if (sys_->lossPending || !sys_->Arm(h, Name))
        return true; // the read tells the loss
    // Characters queued before the wait began raise no event of their own.
    COMSTAT stat{};
    DWORD err = 0;
    if (!sys_->Status(h, stat, err)) {
        qCWarning(lcSerial) << "queue of" << Name << ":" << SystemMessage(err);
        if (DeviceGone(err)) {
            sys_->lossPending = true;
            return true;
        }
    } else if (stat.cbInQue > 0) {
        return true;
    }
    if (sys_->polled)
        return sys_->PollForData(h, Name, limit);
    const HANDLE waits[2] = {sys_->commOv.hEvent, sys_->wake};
    const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, Milliseconds(limit));
    if (waited == WAIT_OBJECT_0) {
        sys_->Settle(h, Name);
        return true;
    }
    if (waited == WAIT_OBJECT_0 + 1) {
        ::ResetEvent(sys_->wake);
        return true;
    }
    if (waited == WAIT_FAILED)
        qCWarning(lcSerial) << "wait on" << Name << ":" << SystemMessage(::GetLastError());
    return false;
}

bool TComPort::TSystem::PollForData(HANDLE h, const QString& name, std::chrono::microseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        COMSTAT stat{};
        DWORD err = 0;
        if (!Status(h, stat, err)) {
            qCWarning(lcSerial) << "queue of" << name << ":" << SystemMessage(err);
            if (DeviceGone(err)) {
                lossPending = true;
                return true;
            }
        } else if (stat.cbInQue > 0) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        // A millisecond at a time: a byte takes 87 us at 115200 baud, an
        // answer a good part of a millisecond.
        const DWORD waited = ::WaitForSingleObject(wake,
                                                   std::min<DWORD>(1, Milliseconds(left)));
        if (waited == WAIT_OBJECT_0) {
            ::ResetEvent(wake);
            return true;
        }
        if (waited == WAIT_FAILED) {
            qCWarning(lcSerial) << "wait on" << name << ":" << SystemMessage(::GetLastError());
            return false;
        }
    }
}

void TComPort::Wake()
{
    if (sys_->wake)
        ::SetEvent(sys_->wake);
}

void TComPort::ClearWake()
{
    if (sys_->wake)
        ::ResetEvent(sys_->wake);
}

void TComPort::ReadPending()
{
    if (!Opened || lineLost_)
        return;
    if (sys_->lossPending) {
        TellLineLost();
        return;
    }
    const HANDLE h = AsHandle(Handle);
    sys_->Settle(h, Name);
    if (sys_->lossPending) {
        TellLineLost();
        return;
    }
    COMSTAT stat{};
    DWORD statusErr = 0;
    if (!sys_->Status(h, stat, statusErr)) {
        qCWarning(lcSerial) << "queue of" << Name << ":" << SystemMessage(statusErr);
        if (DeviceGone(statusErr))
            TellLineLost();
        return;
    }
    const DWORD wanted = std::min<DWORD>(stat.cbInQue, static_cast<DWORD>(buffer_.size()));
    if (wanted == 0) {
        // Nothing there: make sure the next character raises the event.
        if (!sys_->Arm(h, Name))
            TellLineLost();
        return;
    }
    std::fill(buffer_.begin(), buffer_.end(), 0);
    OVERLAPPED& ov = sys_->readOv;
    ::ResetEvent(ov.hEvent);
    ov.Offset = ov.OffsetHigh = 0;
    DWORD got = 0;
    // The time-outs make the read return at once with what is queued.
    if (!::ReadFile(h, buffer_.data(), wanted, nullptr, &ov)) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_IO_PENDING) {
            qCWarning(lcSerial) << "read" << Name << ":" << SystemMessage(err);
            if (DeviceGone(err))
                TellLineLost();
            return;
        }
    }
    if (!::GetOverlappedResult(h, &ov, &got, TRUE)) {
        const DWORD err = ::GetLastError();
        qCWarning(lcSerial) << "read" << Name << ":" << SystemMessage(err);
        if (DeviceGone(err))
            TellLineLost();
        return;
    }
    if (got == 0)
        return;
    const DWORD errors = std::exchange(sys_->lineErrors, 0);
    std::uint32_t flags = errors & (leOverrun | leParity | leFrame | leBreak);
    if (errors & CE_RXOVER)
        flags |= leOverrun;
    // Armed before the handler, which may close the port.
    sys_->Arm(h, Name);
    if (OnData)
        OnData(buffer_, static_cast<std::int32_t>(got), flags);
}

void TComPort::TellLineLost()
{
    // Stop watching a port that has nothing more to give, and tell the
    // owner once; closing is the owner's decision.
    Watch(false);
    lineLost_ = true;
    if (OnLineLost)
        OnLineLost();
}
