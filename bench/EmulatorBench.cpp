// Prints how fast the emulator answers: the round trip unpaced, and how
// closely a paced line keeps to 10 bits a byte. Figures only; nothing here
// passes or fails.
#include "PtyClient.h"
#include "PtyRegister.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kkm;
using namespace kkm::emu;
using Clock = std::chrono::steady_clock;

namespace {

double Micro(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// Round trips of one request; returns the times in microseconds, sorted.
std::vector<double> RoundTrips(PtyClient& client, std::uint8_t code, const TArrayOfByte& payload, int count,
                               std::size_t& wireBytes)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        TArrayOfByte frame = payload;
        kkm::BuildFrame(2, 1, static_cast<std::uint8_t>(i), code, frame);
        const auto start = Clock::now();
        client.Write(frame);
        const auto answer = client.ReadFrame();
        const auto end = Clock::now();
        if (!answer) {
            std::fprintf(stderr, "no answer\n");
            break;
        }
        wireBytes = frame.size() + answer->size();
        times.push_back(Micro(end - start));
    }
    std::sort(times.begin(), times.end());
    return times;
}

void Report(const char* what, const std::vector<double>& t)
{
    if (t.empty())
        return;
    std::printf("%-44s n=%zu  median %8.1f us  p99 %8.1f us  max %8.1f us\n", what, t.size(), t[t.size() / 2],
                t[t.size() * 99 / 100], t.back());
}

} // namespace

int main()
{
    QTemporaryDir dir;
    PtyRegister reg;
    PtyOptions options;
    options.Publish = false;
    options.LogSink = [](const std::string&) {};
    QString error;
    if (!reg.Start(options, &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    PtyClient client(reg.SlavePath());
    std::size_t bytes = 0;
    RoundTrips(client, 2, {}, 10, bytes); // the emulator has seen the client

    Report("unpaced GetDeviceState round trip", RoundTrips(client, 2, {}, 5000, bytes));
    Report("unpaced ReadTableRecord 9/1 round trip", RoundTrips(client, 12, {9, 1, 0}, 5000, bytes));

    for (int baud : {9600, 115200}) {
        reg.SetBaud(baud);
        const auto t = RoundTrips(client, 12, {9, 1, 0}, baud == 9600 ? 50 : 300, bytes);
        const double line = bytes * 10.0 * 1e6 / baud;
        char what[64];
        std::snprintf(what, sizeof what, "%d baud ReadTableRecord 9/1 (%zu bytes)", baud, bytes);
        Report(what, t);
        if (!t.empty())
            std::printf("%-44s line time %8.1f us, median off by %+.1f us (%+.2f%%)\n", "", line,
                        t[t.size() / 2] - line, (t[t.size() / 2] - line) * 100 / line);
    }
    reg.SetBaud(0);
    reg.SetThinkTime(5);
    Report("unpaced, think time 5 ms", RoundTrips(client, 2, {}, 100, bytes));
    return 0;
}
