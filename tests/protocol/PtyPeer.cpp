#include "PtyPeer.h"

#include "FrameCodec.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = QString::fromLocal8Bit(::ptsname(master_));
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave_, TCSANOW, &tio);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread(&PtyPeer::Run, this);
}

PtyPeer::~PtyPeer()
{
    StopFlood();
    const std::uint64_t one = 1;
    (void)!::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(stopFd_);
    ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

void PtyPeer::SetScript(Script script)
{
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

std::vector<TArrayOfByte> PtyPeer::Frames() const
{
    std::lock_guard lock(mutex_);
    return frames_;
}

std::size_t PtyPeer::FrameCount() const
{
    std::lock_guard lock(mutex_);
    return frames_.size();
}

bool PtyPeer::WaitForFrames(std::size_t n, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return frames_.size() >= n; });
}

void PtyPeer::WriteAll(const std::uint8_t* data, std::size_t size, const std::atomic<bool>* keepGoing)
{
    std::lock_guard lock(writeMutex_);
    while (size > 0 && master_ >= 0) {
        const ssize_t n = ::write(master_, data, size);
        if (n >= 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (errno != EINTR && errno != EAGAIN)
            return;
        // Full: nobody reads the other end. Wait in slices so that a flood
        // can be stopped while the port is closed.
        if (keepGoing && !*keepGoing)
            return;
        pollfd pfd{master_, POLLOUT, 0};
        ::poll(&pfd, 1, 10);
    }
}

void PtyPeer::Send(const TArrayOfByte& bytes)
{
    WriteAll(bytes.data(), bytes.size());
}

void PtyPeer::HangUp()
{
    StopFlood();
    std::lock_guard wlock(writeMutex_);
    std::lock_guard lock(mutex_);
    hungUp_ = true;
    // The slave side only sees the hang-up once no one else holds it open.
    ::close(slave_);
    slave_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int m = master_;
    master_ = -1;
    ::close(m);
    const std::uint64_t one = 1;
    (void)!::write(stopFd_, &one, sizeof one);
}

void PtyPeer::StartFlood(std::size_t chunk)
{
    flooding_ = true;
    flood_ = std::thread([this, chunk] {
        TArrayOfByte noise(chunk);
        std::uint8_t v = 0;
        while (flooding_) {
            for (auto& b : noise)
                b = v++ % 0xF0; // no markers: pure load
            WriteAll(noise.data(), noise.size(), &flooding_);
        }
    });
}

void PtyPeer::StopFlood()
{
    flooding_ = false;
    if (flood_.joinable())
        flood_.join();
}

void PtyPeer::Run()
{
    kkm::FrameCollector collector;
    std::uint8_t buf[512];
    for (;;) {
        int master;
        {
            std::lock_guard lock(mutex_);
            if (hungUp_)
                return;
            master = master_;
        }
        pollfd fds[2] = {{master, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            return; // hung up
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            return;
        }
        bytesReceived_ += static_cast<std::size_t>(n);
        for (ssize_t i = 0; i < n; ++i) {
            if (collector.Push(buf[i]) != kkm::FrameCollector::Complete)
                continue;
            const TArrayOfByte frame = collector.FrameCopy();
            Script script;
            {
                std::lock_guard lock(mutex_);
                frames_.push_back(frame);
                script = script_;
            }
            cv_.notify_all();
            if (!script)
                continue;
            const Reply reply = script(frame);
            if (reply.delay.count() > 0)
                std::this_thread::sleep_for(reply.delay);
            if (reply.baud == 0) {
                Send(reply.bytes);
                continue;
            }
            // Line rate: byte k leaves at start + k * 10 / baud seconds.
            const auto start = std::chrono::steady_clock::now();
            const std::chrono::duration<double> perByte(10.0 / reply.baud);
            for (std::size_t k = 0; k < reply.bytes.size(); ++k) {
                std::this_thread::sleep_until(
                    start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                perByte * static_cast<double>(k + 1)));
                WriteAll(&reply.bytes[k], 1);
            }
        }
    }
}

TArrayOfByte PtyPeer::Frame(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
                            std::uint8_t code, const TArrayOfByte& payload)
{
    TArrayOfByte frame = payload;
    kkm::BuildFrame(AR, AT, PID, code, frame);
    return frame;
}

TArrayOfByte PtyPeer::Response(const TArrayOfByte& request, std::uint8_t code,
                               const TArrayOfByte& payload)
{
    TArrayOfByte body = request;
    if (kkm::UnpackFrame(body) != kkm::upOk || body.size() < 4)
        return {};
    return Frame(body[1], body[0], body[2], code, payload);
}
