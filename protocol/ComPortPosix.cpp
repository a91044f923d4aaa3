// The serial link on POSIX systems: a terminal device in raw mode, read by
// the thread that opened it with poll, beside an eventfd that wakes it.
#include "ComPort.h"
#include "PortName.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <linux/serial.h>

// Why the serial code failed, with the system's message; off unless turned
// on, e.g. QT_LOGGING_RULES="kkm.serial=true".
Q_LOGGING_CATEGORY(lcSerial, "kkm.serial", QtFatalMsg)

namespace {

QString SystemMessage(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

void Signal(int fd)
{
    const std::uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Drain(int fd)
{
    std::uint64_t value;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

speed_t SpeedConstant(std::uint32_t baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

int OpenErrorResult(int err)
{
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return prNoSuchPort;
    case EBUSY:
        return prBusy;
    case EACCES:
    case EPERM:
    case EROFS:
        return prAccessDenied;
    default:
        return prGetSettings;
    }
}

// poll on the given descriptors for at most Limit; EINTR goes on waiting.
int PollFor(pollfd* fds, nfds_t count, std::chrono::microseconds limit)
{
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(limit);
    const timespec ts{static_cast<time_t>(secs.count()),
                      static_cast<long>((limit - secs).count() * 1000)};
    int ready;
    do {
        ready = ::ppoll(fds, count, &ts, nullptr);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

} // namespace

struct TComPort::TSystem {
    int wakeFd = -1; // eventfd: Wake ends the wait that is in progress
    std::unique_ptr<QSocketNotifier> watch; // the event loop's eye on the port
    // The last watch, switched off: it may be the very notifier whose signal
    // is being handled (a handler closes the port), so it goes only at the
    // next Open or with the port.
    std::unique_ptr<QSocketNotifier> retired;
    termios saved{}; // the device's settings before Open
    int savedSerialFlags = 0;
    bool restoreSerialFlags = false; // low latency was asked of the driver
    struct {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
        bool valid = false;
    } icount;

    std::uint32_t ReadLineErrors(int fd);
    void RequestLowLatency(TComPort& port, int fd, const QString& name);
};

std::uint32_t TComPort::TSystem::ReadLineErrors(int fd)
{
    serial_icounter_struct now{};
    if (::ioctl(fd, TIOCGICOUNT, &now) != 0)
        return 0; // pseudo-terminals and some adapters keep no counters
    std::uint32_t flags = 0;
    if (icount.valid) {
        if (now.frame != icount.frame)
            flags |= leFrame;
        if (now.overrun != icount.overrun || now.buf_overrun != icount.bufOverrun)
            flags |= leOverrun;
        if (now.parity != icount.parity)
            flags |= leParity;
        if (now.brk != icount.brk)
            flags |= leBreak;
    }
    icount = {now.frame, now.overrun, now.parity, now.brk, now.buf_overrun, true};
    return flags;
}

void TComPort::TSystem::RequestLowLatency(TComPort& port, int fd, const QString& name)
{
    // USB adapters (FTDI and the like) otherwise hold received bytes up to
    // 16 ms before passing them on: several times a short answer's line
    // time. Drivers without the setting (pseudo-terminals) simply go without.
    restoreSerialFlags = false;
    if (!port.SerialFlagsIo.Get || !port.SerialFlagsIo.Set)
        return;
    int flags = 0;
    if (const int err = port.SerialFlagsIo.Get(fd, flags); err != 0) {
        qCInfo(lcSerial) << "open" << name << ": no serial flags to ask for low latency:" << SystemMessage(err);
        return;
    }
    if (flags & ASYNC_LOW_LATENCY)
        return;
    if (const int err = port.SerialFlagsIo.Set(fd, flags | ASYNC_LOW_LATENCY); err != 0) {
        qCInfo(lcSerial) << "open" << name << ": low latency refused:" << SystemMessage(err);
        return;
    }
    savedSerialFlags = flags;
    restoreSerialFlags = true;
}

TComPort::TComPort() : sys_(std::make_unique<TSystem>())
{
    sys_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (sys_->wakeFd < 0)
        qCWarning(lcSerial) << "no wake-up channel (eventfd):" << SystemMessage(errno);
}

TComPort::~TComPort()
{
    Close();
    if (sys_->wakeFd >= 0)
        ::close(sys_->wakeFd);
}

int TComPort::Open(const QString& name, std::uint32_t baud)
{
    if (Opened)
        return prAlreadyOpen;
    PortNumber = static_cast<std::uint8_t>(std::max(0, kkm::SplitPortName(name).number));
    if (sys_->wakeFd < 0) {
        qCWarning(lcSerial) << "open" << name << ": no wake-up channel, a wait could not be ended";
        return prThreadFailed;
    }

    auto log = [&name](const char* what, int err) {
        qCWarning(lcSerial).nospace() << "open " << name << ": " << what << ": " << SystemMessage(err);
    };
    const QByteArray path = QFile::encodeName(name);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        log("open", err);
        return OpenErrorResult(err);
    }

    termios& saved = sys_->saved;
    bool restore = false; // the device's own settings were changed
    auto fail = [&](const char* what, int err, int result) {
        log(what, err);
        if (restore)
            ::tcsetattr(fd, TCSANOW, &saved);
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return result;
    };
    // Exclusive: flock keeps out this program and other lockers, TIOCEXCL
    // keeps out plain openers without root rights.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        return fail("lock", err, err == EWOULDBLOCK ? prBusy : prGetSettings);
    }
    if (::ioctl(fd, TIOCEXCL) != 0 && errno == ENOTTY)
        return fail("exclusive use", ENOTTY, prGetSettings);

    if (::tcgetattr(fd, &saved) != 0)
        return fail("read settings", errno, prGetSettings);
    const speed_t speed = SpeedConstant(baud);
    if (speed == B0)
        return fail("speed", EINVAL, prApplySettings);
    termios tio = saved;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
        return fail("speed", errno, prApplySettings);
    restore = true;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return fail("apply settings", errno, prApplySettings);
    // tcsetattr succeeds when any setting took; check that the speed did.
    termios applied{};
    if (::tcgetattr(fd, &applied) != 0)
        return fail("read back settings", errno, prApplySettings);
    if (::cfgetospeed(&applied) != speed)
        return fail("speed not taken", EINVAL, prApplySettings);
    ::tcflush(fd, TCIFLUSH);
    sys_->RequestLowLatency(*this, fd, name);
    sys_->icount.valid = false;
    sys_->ReadLineErrors(fd); // first snapshot: only changes after the open count
    ClearWake();

    buffer_.assign(static_cast<std::size_t>(std::max(1, BufferSize)), 0);
    Handle = fd;
    Name = name;
    BaudRate = baud;
    Opened = true;
    lineLost_ = false;
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
        return;
    }
    sys_->retired.reset();
    // Between commands the thread's event loop reads the port: unsolicited
    // messages and a lost line arrive that way. A command's own wait reads
    // it directly, and the loop does not run meanwhile.
    sys_->watch = std::make_unique<QSocketNotifier>(static_cast<qintptr>(Handle), QSocketNotifier::Read);
    QObject::connect(sys_->watch.get(), &QSocketNotifier::activated, sys_->watch.get(),
                     [this] { ReadPending(); });
}

void TComPort::Close()
{
    if (!Opened)
        return;
    Watch(false);
    const int fd = static_cast<int>(Handle);
    if (fd >= 0) {
        if (sys_->restoreSerialFlags && SerialFlagsIo.Set) {
            if (const int err = SerialFlagsIo.Set(fd, sys_->savedSerialFlags); err != 0)
                qCWarning(lcSerial) << "close" << Name << ": serial flags not restored:" << SystemMessage(err);
        }
        // A device that has gone away refuses; there is nothing to put back.
        if (::tcsetattr(fd, TCSANOW, &sys_->saved) != 0)
            qCWarning(lcSerial) << "close" << Name << ": settings not restored:" << SystemMessage(errno);
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
    }
    Handle = InvalidHandle;
    Opened = false;
    lineLost_ = false;
    sys_->restoreSerialFlags = false;
}

TComPort::TSerialFlagsIo TComPort::DriverSerialFlags()
{
    TSerialFlagsIo io;
    io.Get = [](int fd, int& flags) {
        serial_struct info{};
        if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
            return errno;
        flags = info.flags;
        return 0;
    };
    io.Set = [](int fd, int flags) {
        serial_struct info{};
        if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
            return errno;
        info.flags = flags;
        return ::ioctl(fd, TIOCSSERIAL, &info) != 0 ? errno : 0;
    };
    return io;
}

int TComPort::Write(const TArrayOfByte& frame)
{
    if (!Opened)
        return prNotOpen;
    if (frame.empty())
        return prEmptyFrame;
    const int fd = static_cast<int>(Handle);
    // Allow the line time of the frame plus a second before giving up on a
    // stalled device, so that a wedged adapter cannot hang the window.
    const auto lineTime = std::chrono::duration<double>(ByteTime() * frame.size());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1)
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(lineTime);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::write(fd, frame.data() + sent, frame.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            qCWarning(lcSerial) << "write" << Name << ":" << SystemMessage(errno);
            return prUnknown;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            qCWarning(lcSerial) << "write" << Name << ": the device took" << sent << "of"
                                << frame.size() << "bytes in time";
            return prUnknown;
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {sys_->wakeFd, POLLIN, 0}};
        if (PollFor(fds, 2, left) < 0) {
            qCWarning(lcSerial) << "write" << Name << ": poll:" << SystemMessage(errno);
            return prUnknown;
        }
        if (fds[1].revents != 0) {
            // Left for the read wait that follows: it ends at once too.
            qCInfo(lcSerial) << "write" << Name << ": woken after" << sent << "of" << frame.size() << "bytes";
            return prUnknown;
        }
    }
    // The bytes may still be on their way out; the transaction waits for
    // that with OutputQueued.
    return prOk;
}

int TComPort::OutputQueued() const
{
    if (!Opened || Handle < 0)
        return 0;
    if (OutputQueueProbe)
        return OutputQueueProbe();
    int queued = 0;
    if (::ioctl(static_cast<int>(Handle), TIOCOUTQ, &queued) != 0)
        return 0; // no count to wait on: take it as sent
    return queued;
}

bool TComPort::WaitForData(std::chrono::microseconds limit)
{
    if (sys_->wakeFd < 0)
        return false;
    pollfd fds[2] = {{sys_->wakeFd, POLLIN, 0}, {-1, POLLIN, 0}};
    // A lost line has nothing more to give; only a wake-up ends the wait.
    if (Opened && !lineLost_)
        fds[1].fd = static_cast<int>(Handle);
    if (PollFor(fds, 2, limit) <= 0)
        return false;
    if (fds[0].revents != 0)
        Drain(sys_->wakeFd);
    return true;
}

void TComPort::Wake()
{
    if (sys_->wakeFd >= 0)
        Signal(sys_->wakeFd);
}

void TComPort::ClearWake()
{
    if (sys_->wakeFd < 0)
        return;
    std::uint64_t value;
    ::read(sys_->wakeFd, &value, sizeof value); // non-blocking: nothing pending is fine
}

void TComPort::ReadPending()
{
    if (!Opened || lineLost_)
        return;
    const int fd = static_cast<int>(Handle);
    std::fill(buffer_.begin(), buffer_.end(), 0);
    const ssize_t n = ::read(fd, buffer_.data(), buffer_.size());
    const int err = errno;
    if (n > 0) {
        const std::uint32_t errors = sys_->ReadLineErrors(fd);
        // The handler may close the port; the buffer stays as it was for
        // the rest of the call.
        if (OnData)
            OnData(buffer_, static_cast<std::int32_t>(n), errors);
        return;
    }
    if (n < 0 && err == EINTR)
        return;
    if (n < 0 && err == EAGAIN) {
        // Nothing there; unless the device has hung up, that is all.
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 0) <= 0 || !(pfd.revents & (POLLHUP | POLLERR)))
            return;
        qCWarning(lcSerial) << "read" << Name << ": the device hung up";
    } else if (n == 0) {
        qCWarning(lcSerial) << "read" << Name << ": the device reported its end";
    } else {
        qCWarning(lcSerial) << "read" << Name << ":" << SystemMessage(err);
    }
    TellLineLost();
}

void TComPort::TellLineLost()
{
    // Stop watching a descriptor that stays readable, and tell the owner
    // once; closing is the owner's decision.
    Watch(false);
    lineLost_ = true;
    if (OnLineLost)
        OnLineLost();
}
