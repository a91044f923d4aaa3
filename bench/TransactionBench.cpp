// PC-side cost of one command exchange against a peer on a pseudo-terminal
// that answers at once. Prints the median and the 99th percentile of the
// round trip, and how it splits into the request leg (call to the peer's
// receipt of the end marker) and the answer leg (peer's reply to return).
#include "OmvekCP.h"
#include "PtyPeer.h"
#include "PtyRegister.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    return v[i];
}

double Micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

void Report(benchmark::State& state, const std::vector<double>& total,
            const std::vector<double>& request, const std::vector<double>& answer)
{
    state.counters["median_us"] = Percentile(total, 0.5);
    state.counters["p99_us"] = Percentile(total, 0.99);
    state.counters["req_leg_med_us"] = Percentile(request, 0.5);
    state.counters["ans_leg_med_us"] = Percentile(answer, 0.5);
    state.counters["exchanges"] = static_cast<double>(total.size());
}

// One exchange per iteration; `command` runs it and must return 0.
template <class Command>
void RunExchanges(benchmark::State& state, const TArrayOfByte& answerPayload, Command command)
{
    PtyPeer peer;
    std::atomic<std::int64_t> peerSaw{0};
    peer.SetScript([&](const TArrayOfByte& req) {
        peerSaw = Clock::now().time_since_epoch().count();
        return PtyPeer::Reply{PtyPeer::Response(req, 0x00, answerPayload)};
    });
    TOmvekCP proto;
    proto.setTimeOut(200);
    if (proto.Port.Open(peer.SlavePath(), 115200) != prOk) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    std::vector<double> total, request, answer;
    total.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const std::int32_t r = command(proto);
        const auto t1 = Clock::now();
        if (r != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
        const Clock::time_point saw{Clock::duration(peerSaw.load())};
        total.push_back(Micros(t1 - t0));
        request.push_back(Micros(saw - t0));
        answer.push_back(Micros(t1 - saw));
    }
    Report(state, total, request, answer);
}

void BM_Connect(benchmark::State& state)
{
    RunExchanges(state, {}, [](TOmvekCP& p) { return p.Connect(2, 1, 5, 5); });
}

void BM_ReadGoodsRecord(benchmark::State& state)
{
    TArrayOfByte data;
    RunExchanges(state, TArrayOfByte(46, 0x41),
                 [&](TOmvekCP& p) { return p.ReadTableRecord(2, 1, 1, 1, data); });
}

// The whole goods list as the goods read does it: record and sales quantity
// of items 1 to 9999, 19 998 exchanges, against the unpaced emulator.
void BM_GoodsListRead(benchmark::State& state)
{
    kkm::emu::PtyRegister reg;
    kkm::emu::PtyOptions options;
    options.Publish = false;
    if (!reg.Start(options)) {
        state.SkipWithError("cannot start the emulator");
        return;
    }
    TOmvekCP proto;
    proto.setTimeOut(200);
    if (proto.Port.Open(reg.SlavePath(), 115200) != prOk || proto.Connect(2, 1, 5, 5) != 0) {
        state.SkipWithError("cannot reach the emulator");
        return;
    }
    TArrayOfByte record;
    TCurrency sales;
    for (auto _ : state) {
        for (std::uint16_t item = 1; item <= 9999; ++item) {
            if (proto.ReadTableRecord(2, 1, 1, item, record) != 0
                || proto.ReadGoodsSales(2, 1, item, sales) != 0) {
                state.SkipWithError("exchange failed");
                return;
            }
        }
    }
    state.counters["exchanges"] = 19998;
}

} // namespace

BENCHMARK(BM_GoodsListRead)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Connect)->Iterations(20000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ReadGoodsRecord)->Iterations(20000)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
