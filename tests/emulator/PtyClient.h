// The PC's end of the line in plain POSIX calls: opens the emulator's port,
// sends request frames and reads whole frames back, each wait bounded.
#pragma once

#include "FrameCodec.h"

#include <QFile>
#include <QString>

#include <chrono>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

class PtyClient {
public:
    static constexpr std::chrono::milliseconds kLimit{5000};

    explicit PtyClient(const QString& path, bool makeRaw = true)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0 && makeRaw) {
            termios t{};
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~PtyClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    bool Write(const TArrayOfByte& bytes) const
    {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // A request frame built the usual way.
    bool Send(std::uint8_t pid, std::uint8_t code, TArrayOfByte payload = {}, std::uint8_t ar = 2,
              std::uint8_t at = 1) const
    {
        kkm::BuildFrame(ar, at, pid, code, payload);
        return Write(payload);
    }

    // The next complete frame (markers included, bytes outside frames
    // skipped), or nothing within the limit.
    std::optional<TArrayOfByte> ReadFrame(std::chrono::milliseconds limit = kLimit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            while (pos_ < buffered_.size()) {
                if (collector_.Push(buffered_[pos_++]) == kkm::FrameCollector::Complete)
                    return collector_.FrameCopy();
            }
            buffered_.clear();
            pos_ = 0;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN))
                return std::nullopt;
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                return std::nullopt;
            buffered_.assign(buf, buf + n);
        }
    }

    // The unpacked body (AR AT PID Code payload) of the next frame.
    std::optional<TArrayOfByte> ReadBody(std::chrono::milliseconds limit = kLimit)
    {
        auto frame = ReadFrame(limit);
        if (!frame || kkm::UnpackFrame(*frame) != kkm::upOk)
            return std::nullopt;
        return frame;
    }

    // Every byte that arrives within the limit until `count` have come.
    TArrayOfByte ReadBytes(std::size_t count, std::chrono::milliseconds limit = kLimit)
    {
        TArrayOfByte out(buffered_.begin() + static_cast<std::ptrdiff_t>(pos_), buffered_.end());
        buffered_.clear();
        pos_ = 0;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN))
                break;
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

private:
    int fd_ = -1;
    kkm::FrameCollector collector_;
    TArrayOfByte buffered_;
    std::size_t pos_ = 0;
};
