// What the communication monitor costs the poll cycle. The same cycle as
// bench_poll (the state poll and the batch it starts) runs against
// tovik-sim alternately without and with a monitor on the port: the frame
// trace into the monitor's bounded queue, and another thread taking the
// frames every 100 ms into the monitor's list, decoded, as the window's
// timer does. Alternating the two keeps the machine's drift out of the
// comparison. Target: under 5 % longer with the monitor.
//
// The simulator is the program built next to this one (bin/tovik-sim);
// TOVIK_SIM names another.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "PollClient.h"
#include "ports/FrameTrace.h"
#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/MonitorBuffer.h"
#include "protocol/UstTable.h"
#include "support/ChildProcess.h"
#include "support/EventWait.h"

using namespace tovik;

namespace {

using bench::Client;
using bench::kAddress;
using bench::PollCycle;

// The monitor window's part: the queue on the port, and its timer taking
// the frames into the decoded list every 100 ms.
class Monitor {
public:
    explicit Monitor(TProtoPort& port) : Port(port) {
        Port.SetFrameTrace(Queue);
        Thread = std::thread([this] {
            std::unique_lock lock(Lock);
            while (!Stop) {
                Wake.wait_for(lock, std::chrono::milliseconds(100));
                List.Append(Queue->Take());
                List.CountDropped(Queue->TakeDropped());
            }
        });
    }
    ~Monitor() {
        Port.SetFrameTrace(nullptr);
        {
            std::lock_guard lock(Lock);
            Stop = true;
        }
        Wake.notify_all();
        Thread.join();
    }

private:
    TProtoPort& Port;
    std::shared_ptr<TFrameTraceQueue> Queue = std::make_shared<TFrameTraceQueue>(10000);
    TMonitorBuffer List;
    std::mutex Lock;
    std::condition_variable Wake;
    bool Stop = false;
    std::thread Thread;
};

// range(0): 19200 baud with a 5 ms response delay (as bench_poll), or 0:
// no pacing, where the engine's own work is all there is.
void BM_PollCycleWithMonitor(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    const uint8_t kind = kKindTovikMModbus;
    test::TSimProcess sim(test::SimBinaryBesideThisProgram(),
                          {"--relay", std::to_string(kind) + ":" + std::to_string(kAddress), "--baud",
                           std::to_string(baud), "--delay-ms", baud ? "5" : "0"});
    if (sim.Port().empty()) {
        state.SkipWithError(("tovik-sim did not start: " + test::SimBinaryBesideThisProgram()).c_str());
        return;
    }
    Client client(sim.Port());
    PollCycle(client, kind);  // warm-up
    auto timed = [&](double& total) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = PollCycle(client, kind);
        total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        return ok;
    };
    // The monitor stays open over a run of cycles, as a window would.
    const int kRun = baud ? 5 : 50;
    double plain = 0, monitored = 0;
    long cycles = 0;
    for (auto _ : state) {
        bool ok = true;
        for (int i = 0; i < kRun && ok; ++i) ok = timed(plain);
        {
            Monitor monitor(client.Port);
            for (int i = 0; i < kRun && ok; ++i) ok = timed(monitored);
        }
        if (!ok) {
            state.SkipWithError("a request of the cycle failed");
            break;
        }
        cycles += kRun;
    }
    if (cycles > 0) {
        state.counters["cycle_ms"] = plain / static_cast<double>(cycles);
        state.counters["cycle_monitored_ms"] = monitored / static_cast<double>(cycles);
        state.counters["cost_percent"] = (monitored - plain) / plain * 100.0;
    }
}
BENCHMARK(BM_PollCycleWithMonitor)
    ->Arg(19200)
    ->Arg(0)
    ->ArgName("baud")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
