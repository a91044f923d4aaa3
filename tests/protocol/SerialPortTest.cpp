// The serial link over a real pseudo-terminal: result codes, reading what
// arrives, waking a wait, unplugging, and opening and closing under load.
#include "ComPort.h"
#include "PtyPeer.h"
#include "TestWait.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

#include <linux/serial.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

struct Received {
    TArrayOfByte bytes;
    int chunks = 0;
    bool oversized = false;
    bool dirtyTail = false;

    TPortDataEvent Handler()
    {
        return [this](const TArrayOfByte& data, std::int32_t count, std::uint32_t) {
            ++chunks;
            oversized = oversized || count > 255 || data.size() != 255;
            for (std::size_t i = static_cast<std::size_t>(count); i < data.size(); ++i)
                dirtyTail = dirtyTail || data[i] != 0;
            bytes.insert(bytes.end(), data.begin(), data.begin() + count);
        };
    }
};

} // namespace

TEST(SerialPort, ResultTexts)
{
    const std::pair<int, const char*> cases[] = {
        {0, "Порт открыт успешно."},
        {1, "Неизвестная ошибка."},
        {101, "Cоединение уже установленно."},
        {102, "Попытка открыть несуществующий порт."},
        {103, "Порт занят другой программой."},
        {104, "Ошибка получения страндартных настроек."},
        {105, "Ошибка применеия настроек."},
        {106, "Соединение не установленно."},
        {107, "Ошибка выделения памяти"},
        {108, "Ошибка выполнения команды."},
        {109, "Ошибка создания читающего потока."},
        {111, "Неизвестная ошибка."},
        {-1, "Неизвестная ошибка."},
    };
    for (const auto& [code, text] : cases) {
        QString out;
        TComPort::ResultText(code, out);
        EXPECT_EQ(out, QString::fromUtf8(text)) << code;
    }
    // 101 starts with a Latin C.
    EXPECT_EQ(TComPort::ResultText(101).at(0), QLatin1Char('C'));
    EXPECT_TRUE(TComPort::ResultText(prAccessDenied).contains(QLatin1String("dialout")));
}

TEST(SerialPort, OpenResults)
{
    PtyPeer peer;
    TComPort port;
    EXPECT_EQ(port.Open(QStringLiteral("/dev/ttyNOSUCH99"), 9600), prNoSuchPort);
    EXPECT_FALSE(port.Opened);
    EXPECT_EQ(port.Open(QStringLiteral("/dev/null"), 9600), prGetSettings); // not a terminal
    EXPECT_FALSE(port.Opened);
    EXPECT_EQ(port.Open(peer.SlavePath(), 1234), prApplySettings);
    EXPECT_FALSE(port.Opened);
    EXPECT_EQ(port.Handle, -1);

    ASSERT_EQ(port.Open(peer.SlavePath(), 115200), prOk);
    EXPECT_TRUE(port.Opened);
    EXPECT_EQ(port.PortNumber, peer.SlavePath().section(QLatin1Char('/'), -1).toUInt() & 0xFF);
    termios dcb{};
    ASSERT_EQ(::tcgetattr(static_cast<int>(port.Handle), &dcb), 0);
    EXPECT_EQ(cfgetospeed(&dcb), B115200);
    EXPECT_EQ(dcb.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(dcb.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    const TComPort::THandle handle = port.Handle;
    EXPECT_EQ(port.Open(peer.SlavePath(), 9600), prAlreadyOpen);
    EXPECT_EQ(port.Handle, handle);

    // Held by this program: a second opener is refused until it is closed.
    TComPort other;
    EXPECT_EQ(other.Open(peer.SlavePath(), 9600), prBusy);
    port.Close();
    EXPECT_EQ(other.Open(peer.SlavePath(), 9600), prOk);
}

// The result codes say what failed, the log says why: the system's message,
// in the kkm.serial category, which is silent unless turned on.
TEST(SerialPort, FailuresLogTheSystemsMessage)
{
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& text) {
            logged << QString::fromLatin1(context.category) + QLatin1Char(' ') + text;
        });
    TComPort port;
    EXPECT_EQ(port.Open(QStringLiteral("/dev/ttyNOSUCH99"), 9600), prNoSuchPort);
    EXPECT_TRUE(logged.isEmpty()) << logged.join(QLatin1Char('\n')).toStdString();

    QLoggingCategory::setFilterRules(QStringLiteral("kkm.serial=true"));
    EXPECT_EQ(port.Open(QStringLiteral("/dev/ttyNOSUCH99"), 9600), prNoSuchPort);
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].startsWith(QLatin1String("kkm.serial "))) << logged[0].toStdString();
    EXPECT_TRUE(logged[0].contains(QString::fromLocal8Bit(std::strerror(ENOENT))))
        << logged[0].toStdString();
}

TEST(SerialPort, AccessDeniedIsNotBusy)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens any device";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("locked"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
    TComPort port;
    EXPECT_EQ(port.Open(path, 9600), prAccessDenied);
}

TEST(SerialPort, WriteResults)
{
    PtyPeer peer;
    TComPort port;
    EXPECT_EQ(port.Write({1, 2, 3}), prNotOpen);
    port.Close(); // closed: nothing happens
    ASSERT_EQ(port.Open(peer.SlavePath(), 9600), prOk);
    EXPECT_EQ(port.Write({}), prEmptyFrame);
    const TArrayOfByte frame{0xFD, 0x02, 0x01, 0x00, 0x01, 0x23, 0x0C, 0xFE};
    EXPECT_EQ(port.Write(frame), prOk);
    ASSERT_TRUE(peer.WaitForFrames(1, 10s));
    EXPECT_EQ(peer.Frames().front(), frame);
    port.Close();
    EXPECT_EQ(port.Write(frame), prNotOpen);
}

TEST(SerialPort, HandsOverEveryByteInOrder)
{
    PtyPeer peer;
    TComPort port;
    Received got;
    port.OnData = got.Handler();
    ASSERT_EQ(port.Open(peer.SlavePath(), 115200), prOk);

    std::mt19937 rng(7);
    TArrayOfByte sent(20000);
    for (auto& b : sent)
        b = static_cast<std::uint8_t>(rng());
    // More than the terminal buffers: the sender blocks until the port has
    // read, so it needs a thread of its own.
    std::thread sender([&] {
        for (std::size_t i = 0; i < sent.size(); i += 1000)
            peer.Send(TArrayOfByte(sent.begin() + i, sent.begin() + i + 1000));
    });
    const bool all = WaitUntil([&] { return got.bytes.size() >= sent.size(); });
    sender.join();
    ASSERT_TRUE(all);
    EXPECT_EQ(got.bytes, sent);
    EXPECT_GE(got.chunks, static_cast<int>(sent.size() / 255));
    EXPECT_FALSE(got.oversized);
    EXPECT_FALSE(got.dirtyTail) << "bytes after Count must be zero";
}

TEST(SerialPort, WithoutHandlerBytesAreDiscarded)
{
    PtyPeer peer;
    TComPort port;
    ASSERT_EQ(port.Open(peer.SlavePath(), 9600), prOk);
    peer.Send({1});
    // The port must still take it, or it would reach the next handler.
    ASSERT_TRUE(port.WaitForData(10s));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    Received got;
    port.OnData = got.Handler();
    peer.Send({4, 5});
    ASSERT_TRUE(WaitUntil([&] { return got.bytes.size() >= 2; }));
    EXPECT_EQ(got.bytes, (TArrayOfByte{4, 5}));
}

// A read that finds the device gone tells the owner once, after every byte
// that came before, in the port's own thread, and the port is no longer
// watched.
TEST(SerialPort, UnplugTellsTheOwnerOnce)
{
    PtyPeer peer;
    TComPort port;
    std::string events; // 'd' a chunk, 'L' the line lost
    int lost = 0;
    const std::thread::id self = std::this_thread::get_id();
    std::thread::id toldIn;
    port.OnData = [&](const TArrayOfByte&, std::int32_t, std::uint32_t) { events += 'd'; };
    port.OnLineLost = [&] {
        ++lost;
        events += 'L';
        toldIn = std::this_thread::get_id();
    };
    ASSERT_EQ(port.Open(peer.SlavePath(), 9600), prOk);
    peer.Send({0x41});
    ASSERT_TRUE(WaitUntil([&] { return !events.empty(); }));

    peer.HangUp();
    ASSERT_TRUE(WaitUntil([&] { return lost > 0; }));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(events, "dL");
    EXPECT_EQ(toldIn, self);
    EXPECT_TRUE(port.LineLost());
    EXPECT_TRUE(port.Opened) << "closing is the owner's decision";
    EXPECT_FALSE(port.WaitForData(0us)) << "a lost line is not waited on again";
    EXPECT_EQ(port.Write({0xFD, 0x01, 0xFE}), prUnknown);
    port.Close();
    EXPECT_FALSE(port.Opened);
    EXPECT_FALSE(port.LineLost());
}

// A port closed before the loss reaches the owner tells nothing: the owner
// has already let go of it.
TEST(SerialPort, NoLossToldAfterClose)
{
    PtyPeer peer;
    TComPort port;
    int lost = 0;
    port.OnLineLost = [&] { ++lost; };
    ASSERT_EQ(port.Open(peer.SlavePath(), 9600), prOk);
    peer.HangUp();
    // Without handling events, so the loss is still to be read.
    ASSERT_TRUE(port.WaitForData(10s));
    port.Close();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(lost, 0);
}

// Closing puts back what the device had before it was opened, as another
// program left it; the raw 8N1 settings are only ours while the port is open.
TEST(SerialPort, CloseRestoresTheTerminalSettings)
{
    PtyPeer peer;
    const int other = ::open(QFile::encodeName(peer.SlavePath()).constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    termios before{};
    ASSERT_EQ(::tcgetattr(other, &before), 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= IXON | ICRNL;
    before.c_cflag = (before.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
    ASSERT_EQ(::cfsetispeed(&before, B4800), 0);
    ASSERT_EQ(::cfsetospeed(&before, B4800), 0);
    ASSERT_EQ(::tcsetattr(other, TCSANOW, &before), 0);
    ASSERT_EQ(::tcgetattr(other, &before), 0);

    TComPort port;
    ASSERT_EQ(port.Open(peer.SlavePath(), 115200), prOk);
    termios during{};
    ASSERT_EQ(::tcgetattr(other, &during), 0);
    EXPECT_EQ(::cfgetospeed(&during), B115200);
    EXPECT_EQ(during.c_lflag & ICANON, 0u);
    port.Close();

    termios after{};
    ASSERT_EQ(::tcgetattr(other, &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
    EXPECT_EQ(::cfgetispeed(&after), ::cfgetispeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
    ::close(other);
}

// A USB adapter's driver is asked for low latency on Open, and its own
// flags are put back on Close; a driver that does not know the setting (or
// refuses it) leaves the port working as it is.
TEST(SerialPort, LowLatencyAskedAndRestored)
{
    constexpr int kOther = 0x1040; // flags the driver had beside low latency
    const struct {
        const char* name;
        int flags;     // the driver's flags before Open
        int getError;  // what asking for them gives
        int setError;  // what setting them gives
        int whileOpen; // the flags while the port is open
        int sets;      // calls of Set over Open and Close
    } cases[] = {
        {"adapter", kOther, 0, 0, kOther | ASYNC_LOW_LATENCY, 2},
        {"already low latency", kOther | ASYNC_LOW_LATENCY, 0, 0, kOther | ASYNC_LOW_LATENCY, 0},
        {"no serial flags (pseudo-terminal)", kOther, ENOTTY, 0, kOther, 0},
        {"setting refused", kOther, 0, EPERM, kOther, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPeer peer;
        TComPort port;
        int flags = c.flags;
        int sets = 0;
        // Asked of the port's own terminal while it is open (not after Close
        // has let go of it).
        port.SerialFlagsIo.Get = [&](int fd, int& out) {
            EXPECT_TRUE(::isatty(fd));
            out = flags;
            return c.getError;
        };
        port.SerialFlagsIo.Set = [&](int fd, int value) {
            EXPECT_TRUE(::isatty(fd));
            ++sets;
            if (c.setError == 0)
                flags = value;
            return c.setError;
        };
        ASSERT_EQ(port.Open(peer.SlavePath(), 115200), prOk);
        EXPECT_EQ(flags, c.whileOpen);
        port.Close();
        EXPECT_EQ(flags, c.flags) << "the driver's own flags are back";
        EXPECT_EQ(sets, c.sets);
    }

    // The real driver of a pseudo-terminal has no such flags: the port opens.
    PtyPeer peer;
    TComPort port;
    EXPECT_EQ(port.Open(peer.SlavePath(), 115200), prOk);
}

// Without the channel that wakes a waiting read nothing could end a wait
// from another thread: Open refuses instead of reporting success.
TEST(SerialPort, OpenFailsWithoutAWakeChannel)
{
    PtyPeer peer;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    // The lowest free descriptor becomes the limit: the next one fails.
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    ::close(probe);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(probe);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    auto port = std::make_unique<TComPort>();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_EQ(port->Open(peer.SlavePath(), 9600), prThreadFailed);
    EXPECT_FALSE(port->Opened);
    EXPECT_EQ(port->Handle, -1);
    TComPort other; // the device was not kept
    EXPECT_EQ(other.Open(peer.SlavePath(), 9600), prOk);
}

TEST(SerialPort, CloseFromInsideTheDataHandler)
{
    PtyPeer peer;
    TComPort port;
    int calls = 0;
    TArrayOfByte before, after;
    port.OnData = [&](const TArrayOfByte& data, std::int32_t count, std::uint32_t) {
        ++calls;
        before.assign(data.begin(), data.begin() + count);
        port.Close();
        // The buffer stays valid, and unchanged, for the rest of the call.
        after.assign(data.begin(), data.begin() + count);
    };
    ASSERT_EQ(port.Open(peer.SlavePath(), 9600), prOk);
    peer.StartFlood(32);
    ASSERT_TRUE(WaitUntil([&] { return calls > 0; }));
    peer.StopFlood();
    EXPECT_FALSE(port.Opened);
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(before.empty());
    EXPECT_EQ(after, before);
    EXPECT_EQ(port.Open(peer.SlavePath(), 9600), prOk);
}

// Opens and closes the port many times while the peer floods it, with and
// without unread bytes waiting. Run under ThreadSanitizer and
// AddressSanitizer by test.sh.
TEST(SerialPort, OpenCloseUnderLoad)
{
    PtyPeer peer;
    TComPort port;
    std::size_t total = 0;
    port.OnData = [&](const TArrayOfByte&, std::int32_t count, std::uint32_t) { total += count; };
    peer.StartFlood(200);
    for (int round = 0; round < 300; ++round) {
        ASSERT_EQ(port.Open(peer.SlavePath(), round % 2 ? 9600 : 115200), prOk) << round;
        if (round % 3 == 0) {
            const std::size_t before = total;
            ASSERT_TRUE(WaitUntil([&] { return total > before; })) << round;
        } else if (round % 3 == 1) {
            // Close with bytes waiting to be read.
            ASSERT_TRUE(port.WaitForData(10s)) << round;
        }
        port.Close();
        ASSERT_FALSE(port.Opened);
    }
    peer.StopFlood();
    for (int i = 0; i < 20; ++i) // the watches of closed ports must read nothing
        QCoreApplication::processEvents();
    EXPECT_GT(total, 0u);
}

// Destroying the port with bytes waiting lets go of the device, and the
// watch of the port it had read nothing afterwards.
TEST(SerialPort, DestroyWithBytesWaiting)
{
    PtyPeer peer;
    peer.StartFlood(100);
    int calls = 0;
    for (int round = 0; round < 50; ++round) {
        auto port = std::make_unique<TComPort>();
        port->OnData = [&calls](const TArrayOfByte&, std::int32_t, std::uint32_t) { ++calls; };
        ASSERT_EQ(port->Open(peer.SlavePath(), 9600), prOk) << round;
        ASSERT_TRUE(port->WaitForData(10s));
        port.reset();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(calls, 0);
    TComPort next;
    EXPECT_EQ(next.Open(peer.SlavePath(), 9600), prOk) << "the last port let go of the device";
    peer.StopFlood();
}

// Another thread ends the port's waits at once: a read wait on a silent
// line, and a write that waits for a device that takes nothing more (here
// the peer never reads, so the terminal's buffer fills up). A wake-up with
// no wait in progress ends the next one, unless it is cleared first.
TEST(SerialPort, WakeEndsTheWaits)
{
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    TComPort port;
    ASSERT_EQ(port.Open(QString::fromLocal8Bit(::ptsname(master)), 1200), prOk);

    auto wakeWhile = [&port](std::atomic<bool>& waiting) {
        return std::thread([&port, &waiting] {
            while (!waiting)
                std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(50ms); // into the wait, most likely
            port.Wake();
        });
    };
    using Clock = std::chrono::steady_clock;
    std::atomic<bool> waiting{false};
    std::thread waker = wakeWhile(waiting);
    auto start = Clock::now();
    waiting = true;
    EXPECT_TRUE(port.WaitForData(std::chrono::hours(1)));
    waker.join();
    EXPECT_LT(Clock::now() - start, 60s);

    // 1 MB at 1200 baud: a wait of hours, were it not woken.
    waiting = false;
    waker = wakeWhile(waiting);
    start = Clock::now();
    waiting = true;
    EXPECT_EQ(port.Write(TArrayOfByte(1 << 20, 0x55)), prUnknown);
    waker.join();
    EXPECT_LT(Clock::now() - start, 60s);
    port.ClearWake();

    port.Wake();
    EXPECT_TRUE(port.WaitForData(std::chrono::hours(1)));
    EXPECT_FALSE(port.WaitForData(1ms)) << "one wake-up ends one wait";
    port.Wake();
    port.ClearWake();
    EXPECT_FALSE(port.WaitForData(1ms));
    port.Close();
    ::close(master);
}

// The Windows port list comes from the registry in its own order; it is
// shown by port number.
TEST(PortList, SortedByPortNumber)
{
    const struct {
        QStringList in, out;
    } cases[] = {
        {{"COM10", "COM2", "COM1"}, {"COM1", "COM2", "COM10"}},
        {{"COM3", "COM256", "COM30", "COM3"}, {"COM3", "COM3", "COM30", "COM256"}},
        {{}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TComPort::SortByPortNumber(c.in), c.out) << c.in.join(QLatin1Char(' ')).toStdString();
}

// A made-up sysfs tree: devices with a driver are listed, sorted by kind and
// number; virtual terminals (no driver) and empty legacy UART slots are not.
TEST(PortList, SerialDevicesFromSysfs)
{
    QTemporaryDir sys;
    QDir root(sys.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("drivers/usbserial")));
    ASSERT_TRUE(root.mkpath(QStringLiteral("drivers/serial8250")));
    auto device = [&](const QString& name, const QString& driver, const char* type) {
        ASSERT_TRUE(root.mkpath(QStringLiteral("tty/%1/device").arg(name)));
        if (!driver.isEmpty()) {
            ASSERT_TRUE(QFile::link(root.filePath(QStringLiteral("drivers/") + driver),
                                    root.filePath(QStringLiteral("tty/%1/device/driver").arg(name))));
        }
        if (type) {
            QFile f(root.filePath(QStringLiteral("tty/%1/type").arg(name)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(type);
        }
    };
    device(QStringLiteral("ttyUSB10"), QStringLiteral("usbserial"), nullptr);
    device(QStringLiteral("ttyUSB2"), QStringLiteral("usbserial"), nullptr);
    device(QStringLiteral("ttyS1"), QStringLiteral("serial8250"), "4\n");
    device(QStringLiteral("ttyS0"), QStringLiteral("serial8250"), "0\n"); // no UART behind it
    device(QStringLiteral("ttyS10"), QStringLiteral("serial8250"), "4\n");
    device(QStringLiteral("tty1"), QString(), nullptr);
    device(QStringLiteral("ttyACM0"), QStringLiteral("usbserial"), nullptr);

    EXPECT_EQ(TComPort::SerialDevices(root.filePath(QStringLiteral("tty"))),
              (QStringList{QStringLiteral("/dev/ttyACM0"), QStringLiteral("/dev/ttyS1"),
                           QStringLiteral("/dev/ttyS10"), QStringLiteral("/dev/ttyUSB2"),
                           QStringLiteral("/dev/ttyUSB10")}));
}
