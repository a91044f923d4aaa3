// kkm-cli run as a program against register emulators in this process,
// paced at a line rate. Prints:
//   - the goods list read into a CSV file: elapsed time over the time the
//     bytes of its requests and answers need on the line, for the whole
//     command (start of the process to its end) and for the transfer alone
//     (first request to the last answer);
//   - for comparison, the same exchanges sent straight through the protocol
//     component in this process, without the program, its jobs and its file;
//   - a goods write to each of four registers alone, then to all four at
//     once: the fleet's time over the slowest single one.
// Figures only; nothing passes or fails.
//
//   cli_bench [READ_RANGE] [WRITE_RANGE] [BAUD]   (default 1..9999 1..2000 115200)
#include "Cp1251.h"
#include "OmvekCP.h"
#include "BenchSupport.h"
#include "PtyRegister.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace kkm::emu;
using namespace kkm::bench;

namespace {

// Runs kkm-cli; the elapsed seconds, or a negative value when it failed.
double RunCli(const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(KKM_CLI_PATH), args + QStringList{"--timeout", "5000"});
    if (!process.waitForStarted(30000))
        return -1;
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "kkm-cli %s: exit %d\n%s", qPrintable(args.join(' ')), process.exitCode(),
                     process.readAllStandardError().constData());
        return -1;
    }
    return seconds;
}

struct TLine {
    double Seconds = 0; // line time of every request and answer
    double Transfer = 0; // first request's start to the last answer's end
    std::size_t Exchanges = 0;
    // The client's share: from the last byte of an answer on the line to
    // the next request's first byte, summed, and its median per exchange.
    double ClientIdle = 0;
    double ClientIdleMedianUs = 0;
};

TLine LineOf(const PtyRegister& reg, int baud)
{
    TLine line;
    const auto log = reg.Requests();
    if (log.empty())
        return line;
    std::size_t bytes = 0;
    for (const RequestRecord& r : log)
        bytes += r.Wire.size() + r.Answer.size();
    line.Exchanges = log.size();
    line.Seconds = static_cast<double>(bytes) * 10.0 / baud;
    const double lastAnswer = static_cast<double>(log.back().Answer.size()) * 10.0 / baud;
    line.Transfer =
        std::chrono::duration<double>(log.back().When - log.front().Started).count() + lastAnswer;
    std::vector<double> gaps;
    for (const RequestRecord& r : log)
        if (r.LineQuietSince)
            gaps.push_back(std::chrono::duration<double>(r.Started - *r.LineQuietSince).count());
    for (double g : gaps)
        line.ClientIdle += g;
    if (!gaps.empty()) {
        std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2), gaps.end());
        line.ClientIdleMedianUs = gaps[gaps.size() / 2] * 1e6;
    }
    return line;
}

QByteArray GoodsFile(const TRange& range)
{
    QByteArray bytes;
    for (int item = range.First; item <= range.Last; ++item)
        bytes += ToCp1251(QStringLiteral("%1;Товар номер %1;46%2;%3;%4.%5;%6;0")
                              .arg(item)
                              .arg(item, 11, 10, QLatin1Char('0'))
                              .arg(item % 17)
                              .arg(item * 3)
                              .arg(item % 100, 2, 10, QLatin1Char('0'))
                              .arg(item % 2 ? QStringLiteral("НЕТ") : QStringLiteral("ДА"))) +
                 "\r\n";
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const TRange readRange = ParseRange(argc > 1 ? argv[1] : "", {1, 9999});
    const TRange writeRange = ParseRange(argc > 2 ? argv[2] : "", {1, 2000});
    const int baud = argc > 3 ? std::atoi(argv[3]) : 115200;
    QTemporaryDir dir;
    std::printf("load average at the start: %s\n", qPrintable(LoadAverage()));

    {
        auto reg = StartRegister(baud, 1001);
        const double elapsed = RunCli({"goods", "read", "-p", reg->SlavePath(), "-b", QString::number(baud), "-r",
                                       readRange.Text(), "-o", dir.filePath("read.csv")});
        const TLine line = LineOf(*reg, baud);
        if (elapsed < 0 || line.Exchanges == 0)
            return 1;
        std::printf("goods read %s at %d baud through kkm-cli: %zu exchanges, line time %.3f s; "
                    "whole command %.3f s, ratio %.4f; transfer %.3f s, ratio %.4f\n",
                    qPrintable(readRange.Text()), baud, line.Exchanges, line.Seconds, elapsed,
                    elapsed / line.Seconds, line.Transfer, line.Transfer / line.Seconds);
        // What is left of the transfer beyond the line time and the
        // client's gaps is the emulator's own lateness in pacing.
        std::printf("  client idle between answer and next request: %.3f s in all (%.2f %% of the line time), "
                    "median %.0f us per exchange; the rest, %.3f s, is the emulator's pacing\n",
                    line.ClientIdle, 100.0 * line.ClientIdle / line.Seconds, line.ClientIdleMedianUs,
                    line.Transfer - line.Seconds - line.ClientIdle);
    }

    {
        auto reg = StartRegister(baud, 1001);
        TOmvekCP protokol;
        protokol.setTimeOut(5000);
        if (protokol.Port.Open(reg->SlavePath(), static_cast<std::uint32_t>(baud)) != 0 ||
            protokol.Connect(2, 1, 5, 5) != 0)
            return 1;
        reg->ClearRequests();
        QElapsedTimer clock;
        clock.start();
        for (int item = readRange.First; item <= readRange.Last; ++item) {
            TArrayOfByte record;
            TCurrency sales;
            if (protokol.ReadTableRecord(2, 1, 1, static_cast<std::uint16_t>(item), record) != 0 ||
                protokol.ReadGoodsSales(2, 1, static_cast<std::uint16_t>(item), sales) != 0)
                return 1;
        }
        const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        const TLine line = LineOf(*reg, baud);
        std::printf("the same exchanges, protocol alone: %zu exchanges, line time %.3f s; elapsed %.3f s, ratio %.4f\n",
                    line.Exchanges, line.Seconds, elapsed, elapsed / line.Seconds);
        std::printf("  client idle between answer and next request: %.3f s in all (%.2f %% of the line time), "
                    "median %.0f us per exchange\n",
                    line.ClientIdle, 100.0 * line.ClientIdle / line.Seconds, line.ClientIdleMedianUs);
    }

    const QString csv = dir.filePath("write.csv");
    {
        QFile f(csv);
        if (!f.open(QIODevice::WriteOnly) || f.write(GoodsFile(writeRange)) < 0)
            return 1;
    }
    std::vector<std::unique_ptr<PtyRegister>> regs;
    QStringList fleet;
    for (int i = 0; i < 4; ++i) {
        regs.push_back(StartRegister(baud, 2001 + i));
        fleet << "-p" << regs.back()->SlavePath();
    }
    const QStringList write{"goods", "write", "-b", QString::number(baud), "-u", "1", "-w", "-", "--zero-sales", csv};
    double slowest = 0;
    QStringList alone;
    for (auto& reg : regs) {
        reg->ClearRequests();
        const double s = RunCli(write + QStringList{"-p", reg->SlavePath()}, "1\n");
        if (s < 0)
            return 1;
        slowest = std::max(slowest, s);
        alone << QString::number(s, 'f', 3);
    }
    const double lineTime = LineOf(*regs.front(), baud).Seconds;
    for (auto& reg : regs)
        reg->ClearRequests();
    const double together = RunCli(write + fleet, "1\n");
    if (together < 0)
        return 1;
    std::printf("goods write %s at %d baud, line time %.3f s each: alone %s s (slowest %.3f s); "
                "four at once %.3f s, ratio to the slowest alone %.4f\n",
                qPrintable(writeRange.Text()), baud, lineTime, qPrintable(alone.join(QStringLiteral(" / "))),
                slowest, together, together / slowest);
    std::printf("load average at the end: %s\n", qPrintable(LoadAverage()));
    return 0;
}
