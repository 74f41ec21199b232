// One ModBus exchange over a pseudo-terminal: how long after the reply's
// last byte does Exchange return? And what does an idle port cost?
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "ports/ProtoUART.h"
#include "protocol/Modbus.h"
#include "support/PtyResponder.h"

using namespace tovik;
using Bytes = std::vector<uint8_t>;

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

// state.range(0): data bytes in the reply; range(1): pace at 19200 baud.
void BM_Exchange(benchmark::State& state) {
    const int dataBytes = static_cast<int>(state.range(0));
    Bytes data{static_cast<uint8_t>(dataBytes)};
    for (int i = 0; i < dataBytes; ++i) data.push_back(static_cast<uint8_t>(i));
    const Bytes reply = test::ModbusFrame(1, 3, data);
    test::PtyResponder dev([reply](const Bytes&) { return reply; });
    if (state.range(1)) dev.SetBytePacingUs(521);  // 10 bits at 19200 baud
    TProtoUART port;
    port.SetPortName(dev.PortName());
    Bytes frame{1, 3, 0, 32, 0, static_cast<uint8_t>(dataBytes / 2)};
    AppendCrc(frame);
    std::vector<double> afterLastByteMs;
    TBuff out;
    for (auto _ : state) {
        const bool ok = Exchange(port, frame, 500, 2, 1, out).Ok();
        const int64_t end = NowNs();
        if (!ok) {
            state.SkipWithError("exchange failed");
            break;
        }
        afterLastByteMs.push_back(static_cast<double>(end - dev.LastReplyEndNs()) / 1e6);
    }
    state.counters["after_last_byte_median_ms"] = Percentile(afterLastByteMs, 0.5);
    state.counters["after_last_byte_p95_ms"] = Percentile(afterLastByteMs, 0.95);
    state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(BM_Exchange)
    ->ArgsProduct({{4, 64}, {0, 1}})
    ->ArgNames({"data", "paced"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

// A port with an empty queue: its worker sleeps on the queue signal.
void BM_IdlePort(benchmark::State& state) {
    for (auto _ : state) {
        TProtoUART port;
        port.SetPortName("ttyNONE9");
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        getrusage(RUSAGE_SELF, &after);
        auto us = [](const rusage& r) {
            return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e6 + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
        };
        state.counters["cpu_ms_over_10s"] = (us(after) - us(before)) / 1000.0;
        state.counters["worker_wakeups"] = static_cast<double>(port.WorkerWakeUps());
    }
}
BENCHMARK(BM_IdlePort)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
