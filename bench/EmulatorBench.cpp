// Prints how fast the emulator answers: the round trip unpaced, and how
// closely a paced line keeps to 10 bits a byte. Figures only; nothing here
// passes or fails.
//
// On a paced line the round trip of a trivial client should take the line
// time of the request and the answer; "off by" is how much longer it took.
// The split beside it uses the emulator's own timestamps: how long the
// request took to reach the emulator, how late the answer's last byte was
// written against its due time, and how long the client took to read it.
#include "PtyClient.h"
#include "PtyRegister.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace kkm;
using namespace kkm::emu;
using Clock = std::chrono::steady_clock;

namespace {

double Micro(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

struct Exchange {
    Clock::time_point Sent;     // before the client's write
    Clock::time_point Answered; // after the client has read the whole answer
    std::size_t WireBytes = 0;  // request and answer
};

std::vector<Exchange> Exchanges(PtyClient& client, std::uint8_t code, const TArrayOfByte& payload, int count)
{
    std::vector<Exchange> out;
    for (int i = 0; i < count; ++i) {
        TArrayOfByte frame = payload;
        kkm::BuildFrame(2, 1, static_cast<std::uint8_t>(i), code, frame);
        Exchange e;
        e.Sent = Clock::now();
        client.Write(frame);
        const auto answer = client.ReadFrame();
        e.Answered = Clock::now();
        if (!answer) {
            std::fprintf(stderr, "no answer\n");
            break;
        }
        e.WireBytes = frame.size() + answer->size();
        out.push_back(e);
    }
    return out;
}

std::vector<double> Sorted(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

double Median(const std::vector<double>& sorted)
{
    return sorted[sorted.size() / 2];
}

double P99(const std::vector<double>& sorted)
{
    return sorted[sorted.size() * 99 / 100];
}

std::vector<double> RoundTrips(const std::vector<Exchange>& exchanges)
{
    std::vector<double> t;
    for (const Exchange& e : exchanges)
        t.push_back(Micro(e.Answered - e.Sent));
    return Sorted(std::move(t));
}

void Report(const char* what, const std::vector<double>& t)
{
    if (t.empty())
        return;
    std::printf("%-44s n=%zu  median %8.1f us  p99 %8.1f us  max %8.1f us\n", what, t.size(), Median(t), P99(t),
                t.back());
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void ReportPaced(PtyRegister& reg, PtyClient& client, int baud, int count)
{
    reg.SetBaud(baud);
    reg.WaitLineIdle(std::chrono::seconds(5));
    reg.ClearRequests();
    const std::vector<Exchange> ex = Exchanges(client, 12, {9, 1, 0}, count);
    if (ex.empty())
        return;
    const auto t = RoundTrips(ex);
    const double line = ex.front().WireBytes * 10.0 * 1e6 / baud;
    char what[64];
    std::snprintf(what, sizeof what, "%d baud ReadTableRecord 9/1 (%zu bytes)", baud, ex.front().WireBytes);
    Report(what, t);
    std::printf("%-44s line time %8.1f us, median off by %+7.1f us (%+.2f%%), p99 off by %+8.1f us (%+.2f%%)\n", "",
                line, Median(t) - line, (Median(t) - line) * 100 / line, P99(t) - line, (P99(t) - line) * 100 / line);

    // The time the last answer byte was written is when the line went quiet
    // before the next request.
    const std::vector<RequestRecord> log = reg.Requests();
    std::vector<double> reach, late, read;
    for (std::size_t i = 0; i + 1 < ex.size() && i + 1 < log.size(); ++i) {
        if (!log[i + 1].LineQuietSince)
            continue;
        const Clock::time_point written = *log[i + 1].LineQuietSince;
        const auto due = log[i].Started + LineScheduler::LineTime(ex[i].WireBytes, baud);
        reach.push_back(Micro(log[i].Started - ex[i].Sent));
        late.push_back(Micro(written - due));
        read.push_back(Micro(ex[i].Answered - written));
    }
    if (!late.empty())
        std::printf("%-44s medians: request reached it %+6.1f us, last byte written %+6.1f us late, read %+6.1f us "
                    "later\n",
                    "", Median(Sorted(reach)), Median(Sorted(late)), Median(Sorted(read)));
}

} // namespace

int main()
{
    PtyRegister reg;
    PtyOptions options;
    options.Publish = false;
    options.LogSink = [](const std::string&) {};
    QString error;
    if (!reg.Start(options, &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("load average (1, 5, 15 min) at the start: %s\n", LoadAverage().c_str());
    PtyClient client(reg.SlavePath());
    Exchanges(client, 2, {}, 10); // the emulator has seen the client

    Report("unpaced GetDeviceState round trip", RoundTrips(Exchanges(client, 2, {}, 5000)));
    Report("unpaced ReadTableRecord 9/1 round trip", RoundTrips(Exchanges(client, 12, {9, 1, 0}, 5000)));

    ReportPaced(reg, client, 9600, 50);
    ReportPaced(reg, client, 57600, 300);
    ReportPaced(reg, client, 115200, 300);
    reg.SetBaud(0);
    reg.SetThinkTime(5);
    Report("unpaced, think time 5 ms", RoundTrips(Exchanges(client, 2, {}, 100)));
    std::printf("load average (1, 5, 15 min) at the end:   %s\n", LoadAverage().c_str());
    return 0;
}
