// The goods list read (record and sales of every item) against a register
// emulator in this process paced at a line rate, three ways in one run:
//   - a minimal blocking client: a plain loop that writes a request, then
//     polls and reads the port until the answer frame is whole (no Qt, no
//     threads of its own);
//   - the protocol component alone, in this thread;
//   - through the session: one job on its worker, as the window and kkm-cli
//     run it.
// Each prints its elapsed time over the line time of its requests and
// answers, and the PC's idle gap (the answer's last byte on the line to the
// next request's first, from the emulator's timestamps): median and p99.
// The ways take turns, ROUNDS times, so that a change of load on the
// machine falls on all of them. Figures only; nothing passes or fails.
//
//   port_bench [FIRST..LAST] [BAUD] [ROUNDS]   (default 1..2000 115200 2)
#include "FrameCodec.h"
#include "BenchSupport.h"
#include "PtyRegister.h"
#include "RegisterCodes.h"
#include "Session.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace kkm::emu;
using namespace kkm::bench;
using Clock = std::chrono::steady_clock;

namespace {

struct TFigures {
    double Elapsed = 0;
    double Line = 0; // line time of every request and answer
    std::size_t Exchanges = 0;
    double IdleMedianUs = 0;
    double IdleP99Us = 0;
};

TFigures Measure(const PtyRegister& reg, int baud, double elapsed)
{
    TFigures f;
    f.Elapsed = elapsed;
    const auto log = reg.Requests();
    std::size_t bytes = 0;
    std::vector<double> gaps;
    for (const RequestRecord& r : log) {
        bytes += r.Wire.size() + r.Answer.size();
        if (r.LineQuietSince)
            gaps.push_back(std::chrono::duration<double>(r.Started - *r.LineQuietSince).count() * 1e6);
    }
    f.Exchanges = log.size();
    f.Line = static_cast<double>(bytes) * 10.0 / baud;
    if (!gaps.empty()) {
        std::sort(gaps.begin(), gaps.end());
        f.IdleMedianUs = gaps[gaps.size() / 2];
        f.IdleP99Us = gaps[std::min(gaps.size() - 1, gaps.size() * 99 / 100)];
    }
    return f;
}

// The two requests of one item, as the component builds them.
TArrayOfByte Request(std::uint8_t pid, std::uint8_t code, int item)
{
    TArrayOfByte payload;
    if (code == kkm::cmdReadTableRecord)
        payload.push_back(1); // the goods table
    payload.push_back(static_cast<std::uint8_t>(item & 0xFF));
    payload.push_back(static_cast<std::uint8_t>(item >> 8));
    kkm::BuildFrame(kkm::RegisterAddress, kkm::PcAddress, pid, code, payload);
    return payload;
}

// The minimal client: blocking writes, poll and read until the frame ends.
bool MinimalClient(const QString& path, int baud, const TRange& range)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    const speed_t speed = baud == 115200 ? B115200 : baud == 57600 ? B57600 : baud == 19200 ? B19200 : B9600;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    ::tcsetattr(fd, TCSANOW, &tio);
    kkm::FrameCollector collector;
    std::uint8_t pid = 0;
    std::uint8_t buffer[255];
    auto exchange = [&](const TArrayOfByte& request) {
        for (std::size_t sent = 0; sent < request.size();) {
            const ssize_t n = ::write(fd, request.data() + sent, request.size() - sent);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        for (;;) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 5000) <= 0)
                return false;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            for (ssize_t i = 0; i < n; ++i)
                if (collector.Push(buffer[i]) == kkm::FrameCollector::Complete)
                    return true;
        }
    };
    bool ok = true;
    for (int item = range.First; ok && item <= range.Last; ++item)
        ok = exchange(Request(pid++, kkm::cmdReadTableRecord, item))
            && exchange(Request(pid++, kkm::cmdReadGoodsSales, item));
    ::close(fd);
    return ok;
}

bool ReadGoods(TOmvekCP& p, const TRange& range)
{
    for (int item = range.First; item <= range.Last; ++item) {
        TArrayOfByte record;
        TCurrency sales;
        if (p.ReadTableRecord(2, 1, 1, static_cast<std::uint16_t>(item), record) != 0
            || p.ReadGoodsSales(2, 1, static_cast<std::uint16_t>(item), sales) != 0)
            return false;
    }
    return true;
}

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TFigures RunMinimal(int baud, const TRange& range)
{
    auto reg = StartRegister(baud);
    const auto start = Clock::now();
    if (!MinimalClient(reg->SlavePath(), baud, range)) {
        std::fprintf(stderr, "minimal client failed\n");
        std::exit(1);
    }
    return Measure(*reg, baud, Seconds(start));
}

TFigures RunComponent(int baud, const TRange& range)
{
    auto reg = StartRegister(baud);
    TOmvekCP p;
    p.setTimeOut(5000);
    if (p.Port.Open(reg->SlavePath(), static_cast<std::uint32_t>(baud)) != prOk) {
        std::fprintf(stderr, "component: port not opened\n");
        std::exit(1);
    }
    const auto start = Clock::now();
    if (!ReadGoods(p, range)) {
        std::fprintf(stderr, "component: read failed\n");
        std::exit(1);
    }
    const double elapsed = Seconds(start);
    return Measure(*reg, baud, elapsed);
}

TFigures RunSession(int baud, const TRange& range)
{
    auto reg = StartRegister(baud);
    kkm::TSession session;
    session.Protokol()->setTimeOut(5000);
    bool ok = false;
    double elapsed = 0;
    QEventLoop loop;
    const QString path = reg->SlavePath();
    session.Start(
        [&](kkm::TJobContext& job) {
            TOmvekCP& p = job.Protokol();
            if (p.Port.Open(path, static_cast<std::uint32_t>(baud)) != prOk)
                return;
            const auto start = Clock::now();
            ok = ReadGoods(p, range);
            elapsed = Seconds(start);
        },
        [&] { loop.quit(); });
    loop.exec();
    if (!ok) {
        std::fprintf(stderr, "session: read failed\n");
        std::exit(1);
    }
    return Measure(*reg, baud, elapsed);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const TRange range = ParseRange(argc > 1 ? argv[1] : "", {1, 2000});
    const int baud = argc > 2 ? std::atoi(argv[2]) : 115200;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
    std::printf("goods read %d..%d at %d baud, %d rounds; load average at the start: %s\n", range.First,
                range.Last, baud, rounds, qPrintable(LoadAverage()));
    std::printf("| way | round | exchanges | line time s | elapsed s | elapsed / line | vs minimal | "
                "idle gap median us | idle gap p99 us |\n|---|---|---|---|---|---|---|---|---|\n");
    const std::pair<const char*, std::function<TFigures()>> ways[] = {
        {"minimal blocking client", [&] { return RunMinimal(baud, range); }},
        {"protocol component alone", [&] { return RunComponent(baud, range); }},
        {"through the session", [&] { return RunSession(baud, range); }},
    };
    for (int round = 1; round <= rounds; ++round) {
        double minimal = 0;
        for (const auto& [name, run] : ways) {
            const TFigures f = run();
            if (minimal == 0)
                minimal = f.Elapsed;
            std::printf("| %s | %d | %zu | %.3f | %.3f | %.4f | %.4f | %.0f | %.0f |\n", name, round, f.Exchanges,
                        f.Line, f.Elapsed, f.Elapsed / f.Line, f.Elapsed / minimal, f.IdleMedianUs, f.IdleP99Us);
            std::fflush(stdout);
        }
    }
    std::printf("load average at the end: %s\n", qPrintable(LoadAverage()));
    return 0;
}
