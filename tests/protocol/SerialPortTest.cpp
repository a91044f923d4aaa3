// The serial link over a real pseudo-terminal: result codes, hand-over of
// received bytes, unplugging, and opening and closing under load.
#include "ComPort.h"
#include "PtyPeer.h"
#include "TestWait.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

#include <fcntl.h>
#include <sys/ioctl.h>
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
    EXPECT_EQ(cfgetospeed(&port.DCB), B115200);
    EXPECT_EQ(port.DCB.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(port.DCB.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    const int handle = port.Handle;
    EXPECT_EQ(port.Open(peer.SlavePath(), 9600), prAlreadyOpen);
    EXPECT_EQ(port.Handle, handle);

    // Held by this program: a second opener is refused until it is closed.
    TComPort other;
    EXPECT_EQ(other.Open(peer.SlavePath(), 9600), prBusy);
    port.Close();
    EXPECT_EQ(other.Open(peer.SlavePath(), 9600), prOk);
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
    // More than the terminal buffers: the sender blocks until the reader
    // has handed over, so it needs a thread of its own.
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
    // The reader must still take it, or it would reach the next handler.
    ASSERT_TRUE(port.WaitForHandover(10s));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    Received got;
    port.OnData = got.Handler();
    peer.Send({4, 5});
    ASSERT_TRUE(WaitUntil([&] { return got.bytes.size() >= 2; }));
    EXPECT_EQ(got.bytes, (TArrayOfByte{4, 5}));
}

TEST(SerialPort, UnplugEndsTheReaderQuietly)
{
    PtyPeer peer;
    TComPort port;
    Received got;
    port.OnData = got.Handler();
    ASSERT_EQ(port.Open(peer.SlavePath(), 9600), prOk);
    peer.Send({0x41});
    ASSERT_TRUE(WaitUntil([&] { return !got.bytes.empty(); }));

    std::shared_ptr<TReadThread> reader = port.ReadThread;
    peer.HangUp();
    // Ended, not spinning on a descriptor that stays readable.
    ASSERT_TRUE(WaitUntil([&] { return reader->Finished(); }));
    EXPECT_TRUE(port.Opened); // the window learns of it from the next command
    EXPECT_EQ(port.Write({0xFD, 0x01, 0xFE}), prUnknown);
    port.Close();
    EXPECT_FALSE(port.Opened);
}

TEST(SerialPort, CloseFromInsideTheHandOver)
{
    PtyPeer peer;
    TComPort port;
    int calls = 0;
    std::uint8_t seen = 0;
    port.OnData = [&](const TArrayOfByte& data, std::int32_t count, std::uint32_t) {
        ++calls;
        port.Close();
        // The buffer stays valid for the rest of the call.
        seen = data[static_cast<std::size_t>(count) - 1];
    };
    ASSERT_EQ(port.Open(peer.SlavePath(), 9600), prOk);
    peer.StartFlood(32);
    ASSERT_TRUE(WaitUntil([&] { return calls > 0; }));
    peer.StopFlood();
    EXPECT_FALSE(port.Opened);
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    (void)seen;
    EXPECT_EQ(port.Open(peer.SlavePath(), 9600), prOk);
}

// Opens and closes the port many times while the peer floods it, with and
// without hand-overs in flight. Run under ThreadSanitizer and
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
            // Close while the reader waits for its hand-over to be taken.
            ASSERT_TRUE(port.WaitForHandover(10s)) << round;
        }
        port.Close();
        ASSERT_FALSE(port.Opened);
        ASSERT_FALSE(port.ReadThread);
    }
    peer.StopFlood();
    for (int i = 0; i < 20; ++i) // stale wake-ups must find nothing to hand over
        QCoreApplication::processEvents();
    EXPECT_GT(total, 0u);
}

TEST(SerialPort, DestroyWhileReaderWaits)
{
    PtyPeer peer;
    peer.StartFlood(100);
    for (int round = 0; round < 50; ++round) {
        auto port = std::make_unique<TComPort>();
        port->OnData = [](const TArrayOfByte&, std::int32_t, std::uint32_t) {};
        ASSERT_EQ(port->Open(peer.SlavePath(), 9600), prOk);
        ASSERT_TRUE(port->WaitForHandover(10s));
        port.reset();
    }
    peer.StopFlood();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
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
