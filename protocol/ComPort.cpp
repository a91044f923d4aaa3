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

} // namespace

// ---------------------------------------------------------------------------
// TReadThread

TReadThread::TReadThread(TComPort* port, int fd, int notifyFd)
    : Port(port), Buffer(static_cast<std::size_t>(port->BufferSize), 0), fd_(fd),
      notifyFd_(notifyFd)
{
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    ReadLineErrors(); // first snapshot: only changes after the open count
    try {
        thread_ = std::thread(&TReadThread::Execute, this);
    } catch (...) {
        ::close(stopFd_);
        throw;
    }
}

TReadThread::~TReadThread()
{
    Terminate();
    Join();
    ::close(stopFd_);
    Buffer.clear();
}

void TReadThread::Terminate()
{
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    }
    cv_.notify_all();
    Signal(stopFd_);
}

void TReadThread::Join()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void TReadThread::Execute()
{
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    while (!terminated_) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            qCWarning(lcSerial) << "reader: poll failed:" << SystemMessage(errno);
            lost_ = true;
            break;
        }
        if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL))
            break;
        if (fds[0].revents == 0)
            continue;
        std::fill(Buffer.begin(), Buffer.end(), 0);
        const ssize_t n = ::read(fd_, Buffer.data(), Buffer.size());
        const int err = errno;
        if (n > 0) {
            Count = static_cast<std::uint32_t>(n);
            Errors = ReadLineErrors();
            if (!HandOver())
                break;
            continue;
        }
        if (n < 0 && (err == EAGAIN || err == EINTR) && !(fds[0].revents & (POLLHUP | POLLERR)))
            continue;
        // EOF, EIO or a hang-up: the device is gone. End rather than spin on
        // a descriptor that stays readable, and let the port tell its owner.
        if (n == 0)
            qCWarning(lcSerial) << "reader: the device reported its end";
        else if (n < 0 && err != EAGAIN && err != EINTR)
            qCWarning(lcSerial) << "reader: read failed:" << SystemMessage(err);
        else
            qCWarning(lcSerial) << "reader: the device hung up";
        lost_ = true;
        break;
    }
    finished_ = true;
    if (lost_ && !terminated_)
        Signal(notifyFd_);
}

bool TReadThread::HandOver()
{
    std::unique_lock lock(mutex_);
    if (terminated_)
        return false;
    pending_ = true;
    done_ = false;
    lock.unlock();
    Signal(notifyFd_);
    lock.lock();
    cv_.wait(lock, [this] { return done_ || terminated_; });
    pending_ = false;
    return !terminated_;
}

std::uint32_t TReadThread::ReadLineErrors()
{
    serial_icounter_struct now{};
    if (::ioctl(fd_, TIOCGICOUNT, &now) != 0)
        return 0; // pseudo-terminals and some adapters keep no counters
    std::uint32_t flags = 0;
    if (icount_.valid) {
        if (now.frame != icount_.frame)
            flags |= leFrame;
        if (now.overrun != icount_.overrun || now.buf_overrun != icount_.bufOverrun)
            flags |= leOverrun;
        if (now.parity != icount_.parity)
            flags |= leParity;
        if (now.brk != icount_.brk)
            flags |= leBreak;
    }
    icount_ = {now.frame, now.overrun, now.parity, now.brk, now.buf_overrun, true};
    return flags;
}

// ---------------------------------------------------------------------------
// TComPort

TComPort::TComPort()
{
    notifyFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (notifyFd_ < 0)
        qCWarning(lcSerial) << "no hand-over channel (eventfd):" << SystemMessage(errno);
    if (notifyFd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(notifyFd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { DeliverPending(); });
    }
}

TComPort::~TComPort()
{
    Close();
    notifier_.reset();
    if (notifyFd_ >= 0)
        ::close(notifyFd_);
}

int TComPort::Open(const QString& name, std::uint32_t baud)
{
    if (Opened)
        return prAlreadyOpen;
    PortNumber = static_cast<std::uint8_t>(std::max(0, kkm::SplitPortName(name).number));
    if (notifyFd_ < 0) {
        qCWarning(lcSerial) << "open" << name << ": no hand-over channel, nothing could be delivered";
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

    bool restore = false; // the device's own settings were changed
    auto fail = [&](const char* what, int err, int result) {
        log(what, err);
        if (restore)
            ::tcsetattr(fd, TCSANOW, &saved_);
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

    if (::tcgetattr(fd, &DCB) != 0)
        return fail("read settings", errno, prGetSettings);
    saved_ = DCB;
    const speed_t speed = SpeedConstant(baud);
    if (speed == B0)
        return fail("speed", EINVAL, prApplySettings);
    termios tio = DCB;
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
    DCB = applied;
    ::tcflush(fd, TCIFLUSH);
    RequestLowLatency(fd, name);

    Handle = fd;
    Name = name;
    BaudRate = baud;
    Opened = true;
    lineLost_ = false;
    if (!ReadThread) {
        try {
            ReadThread = std::make_shared<TReadThread>(this, Handle, notifyFd_);
        } catch (const std::exception& e) {
            qCWarning(lcSerial) << "open" << name << ": no reader:" << e.what();
            ReadThread.reset();
            return prThreadFailed;
        }
    }
    return prOk;
}

void TComPort::Close()
{
    if (!Opened)
        return;
    if (ReadThread) {
        // The reader waits on nothing that needs this thread once told to
        // stop, so joining takes microseconds even from inside a hand-over.
        ReadThread->Terminate();
        ReadThread->Join();
        ReadThread.reset();
    }
    if (Handle >= 0) {
        if (restoreSerialFlags_ && SerialFlagsIo.Set) {
            if (const int err = SerialFlagsIo.Set(Handle, savedSerialFlags_); err != 0)
                qCWarning(lcSerial) << "close" << Name << ": serial flags not restored:" << SystemMessage(err);
        }
        // A device that has gone away refuses; there is nothing to put back.
        if (::tcsetattr(Handle, TCSANOW, &saved_) != 0)
            qCWarning(lcSerial) << "close" << Name << ": settings not restored:" << SystemMessage(errno);
        ::ioctl(Handle, TIOCNXCL);
        ::close(Handle);
    }
    Handle = -1;
    Opened = false;
    lineLost_ = false;
    restoreSerialFlags_ = false;
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

void TComPort::RequestLowLatency(int fd, const QString& name)
{
    // USB adapters (FTDI and the like) otherwise hold received bytes up to
    // 16 ms before passing them on: several times a short answer's line
    // time. Drivers without the setting (pseudo-terminals) simply go without.
    restoreSerialFlags_ = false;
    if (!SerialFlagsIo.Get || !SerialFlagsIo.Set)
        return;
    int flags = 0;
    if (const int err = SerialFlagsIo.Get(fd, flags); err != 0) {
        qCInfo(lcSerial) << "open" << name << ": no serial flags to ask for low latency:" << SystemMessage(err);
        return;
    }
    if (flags & ASYNC_LOW_LATENCY)
        return;
    if (const int err = SerialFlagsIo.Set(fd, flags | ASYNC_LOW_LATENCY); err != 0) {
        qCInfo(lcSerial) << "open" << name << ": low latency refused:" << SystemMessage(err);
        return;
    }
    savedSerialFlags_ = flags;
    restoreSerialFlags_ = true;
}

int TComPort::Write(const TArrayOfByte& frame)
{
    if (!Opened)
        return prNotOpen;
    if (frame.empty())
        return prEmptyFrame;
    // Allow the line time of the frame plus a second before giving up on a
    // stalled device, so that a wedged adapter cannot hang the window.
    const auto lineTime = std::chrono::duration<double>(ByteTime() * frame.size());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1)
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(lineTime);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::write(Handle, frame.data() + sent, frame.size() - sent);
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
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            qCWarning(lcSerial) << "write" << Name << ": the device took" << sent << "of"
                                << frame.size() << "bytes in time";
            return prUnknown;
        }
        pollfd pfd{Handle, POLLOUT, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            qCWarning(lcSerial) << "write" << Name << ": poll:" << SystemMessage(errno);
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
    if (::ioctl(Handle, TIOCOUTQ, &queued) != 0)
        return 0; // no count to wait on: take it as sent
    return queued;
}

bool TComPort::WaitForHandover(std::chrono::microseconds limit) const
{
    if (notifyFd_ < 0)
        return false;
    pollfd pfd{notifyFd_, POLLIN, 0};
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(limit);
    const timespec ts{static_cast<time_t>(secs.count()),
                      static_cast<long>((limit - secs).count() * 1000)};
    int ready;
    do {
        ready = ::ppoll(&pfd, 1, &ts, nullptr);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

void TComPort::Wake()
{
    if (notifyFd_ >= 0)
        Signal(notifyFd_);
}

void TComPort::DeliverPending()
{
    Drain(notifyFd_);
    // Hold the reader for the whole call: the handler may close the port,
    // and the buffer it was given must outlive that.
    std::shared_ptr<TReadThread> reader = ReadThread;
    if (!reader)
        return;
    bool chunk;
    {
        std::lock_guard lock(reader->mutex_);
        chunk = reader->pending_ && !reader->done_ && !reader->terminated_;
    }
    if (chunk) {
        if (OnData)
            OnData(reader->Buffer, static_cast<std::int32_t>(reader->Count), reader->Errors);
        {
            std::lock_guard lock(reader->mutex_);
            reader->done_ = true;
        }
        reader->cv_.notify_all();
    }
    // The reader has ended on its own (after its last chunk, which has been
    // delivered): tell the owner once, unless the port was closed meanwhile.
    if (reader->Lost() && reader->Finished() && ReadThread == reader && !lineLost_) {
        lineLost_ = true;
        if (OnLineLost)
            OnLineLost();
    }
}

void TComPort::ResultText(int code, QString& text)
{
    text = ResultText(code);
}

QString TComPort::ResultText(int code)
{
    switch (code) {
    case prOk: return QStringLiteral("Порт открыт успешно.");
    case prAlreadyOpen: return QStringLiteral("Cоединение уже установленно.");
    case prNoSuchPort: return QStringLiteral("Попытка открыть несуществующий порт.");
    case prBusy: return QStringLiteral("Порт занят другой программой.");
    case prGetSettings: return QStringLiteral("Ошибка получения страндартных настроек.");
    case prApplySettings: return QStringLiteral("Ошибка применеия настроек.");
    case prNotOpen: return QStringLiteral("Соединение не установленно.");
    case prNoMemory: return QStringLiteral("Ошибка выделения памяти");
    case prEmptyFrame: return QStringLiteral("Ошибка выполнения команды.");
    case prThreadFailed: return QStringLiteral("Ошибка создания читающего потока.");
    case prAccessDenied:
        return QStringLiteral("Нет доступа к порту. Пользователь должен входить в группу "
                              "dialout (или иметь права на устройство).");
    default: return QStringLiteral("Неизвестная ошибка.");
    }
}
