// One full poll cycle of a relay against tovik-sim, through the whole
// engine: the state poll, and from its completion the batch the panel
// queues (setpoints, currents, Imax, timers, alarm counters, state, alarm
// count, clock, and the operating statistics on "ТовикМ ModBus").
//
// Paced at 19200 baud the cycle is compared with the line's floor: every
// byte that crossed the line in either direction (10 bits each), plus the
// simulator's response delay once per exchange. Bytes and exchanges are
// counted from the simulator's request log. Without pacing: exchanges per
// second through one port.
//
// The same cycle driven by the panel's model (every hop from the worker to
// the thread that runs the panel counted: the result list wakes it), by
// tovik-cli watch (a process of its own), and by a plain synchronous ModBus
// client (libmodbus) reading the same registers on the same simulated line.
//
// The simulator is the program built next to this one (bin/tovik-sim);
// TOVIK_SIM names another.
#include <benchmark/benchmark.h>
#include <modbus.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PollClient.h"
#include "SimTraffic.h"
#include "app/TovikDevice.h"
#include "panel/TovikPanel.h"
#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"
#include "protocol/UstTable.h"
#include "support/ChildProcess.h"

using namespace tovik;

namespace {

constexpr int kBaud = 19200;
constexpr int kDelayMs = 5;  // the simulator's response delay in the paced runs

using bench::LogNumber;
using bench::LogReader;
using bench::Traffic;
using test::SimBinaryBesideThisProgram;
using test::TSimProcess;

// One ModBus read of the simulator's log: register and count (function 3).
struct RegisterRead {
    int Register = 0;
    int Count = 0;
};
// A port on the simulator's line with one owner and its result list, and
// the panel's poll cycle over it.
using bench::Client;
using bench::kAddress;
using bench::PollCycle;

// range(0): device kind (3 "ТовикМ ModBus" or 0 "Товик"). Paced at 19200
// baud with the simulator's response delay kDelayMs.
void BM_PollCycle(benchmark::State& state) {
    const auto kind = static_cast<uint8_t>(state.range(0));
    const std::string log = bench::TempLog("tovik-bench-poll");
    TSimProcess sim(SimBinaryBesideThisProgram(),
                    {"--relay", std::to_string(kind) + ":" + std::to_string(kAddress), "--baud",
                     std::to_string(kBaud), "--delay-ms", std::to_string(kDelayMs), "--log", log});
    if (sim.Port().empty()) {
        state.SkipWithError(("tovik-sim did not start: " + SimBinaryBesideThisProgram()).c_str());
        std::remove(log.c_str());
        return;
    }
    Client client(sim.Port());
    LogReader reader(log);
    PollCycle(client, kind);  // warm-up: the line opened, the relay's first poll
    reader.Next();
    double measuredMs = 0, floorMs = 0, worstRatio = 0;
    long exchanges = 0, bytes = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = PollCycle(client, kind);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(ms / 1000.0);
        // The log line of the last exchange is written before its reply goes out.
        const Traffic t = reader.Next();
        if (!ok || t.Unanswered) {
            state.SkipWithError("a request of the cycle failed");
            break;
        }
        const double floor = static_cast<double>(t.Bytes) * 10.0 * 1000.0 / kBaud +
                             static_cast<double>(t.Exchanges) * kDelayMs;
        measuredMs += ms;
        floorMs += floor;
        worstRatio = std::max(worstRatio, ms / floor);
        exchanges += t.Exchanges;
        bytes += t.Bytes;
    }
    const double n = static_cast<double>(state.iterations());
    if (n > 0 && floorMs > 0) {
        state.counters["cycle_ms"] = measuredMs / n;
        state.counters["floor_ms"] = floorMs / n;
        state.counters["ratio"] = measuredMs / floorMs;
        state.counters["worst_ratio"] = worstRatio;
        state.counters["exchanges"] = static_cast<double>(exchanges) / n;
        state.counters["line_bytes"] = static_cast<double>(bytes) / n;
    }
    std::remove(log.c_str());
}
BENCHMARK(BM_PollCycle)
    ->Arg(kKindTovikMModbus)
    ->Arg(kKindTovik)
    ->ArgName("kind")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// Without pacing or delay: one poll cycle, and single-exchange requests
// (the clock read) queued 100 at a time, as exchanges per second.
void BM_PollCycleUnpaced(benchmark::State& state) {
    const auto kind = static_cast<uint8_t>(state.range(0));
    TSimProcess sim(SimBinaryBesideThisProgram(),
                    {"--relay", std::to_string(kind) + ":" + std::to_string(kAddress), "--baud", "0"});
    if (sim.Port().empty()) {
        state.SkipWithError(("tovik-sim did not start: " + SimBinaryBesideThisProgram()).c_str());
        return;
    }
    Client client(sim.Port());
    PollCycle(client, kind);
    for (auto _ : state) {
        if (!PollCycle(client, kind)) {
            state.SkipWithError("a request of the cycle failed");
            break;
        }
    }
}
BENCHMARK(BM_PollCycleUnpaced)
    ->Arg(kKindTovikMModbus)
    ->Arg(kKindTovik)
    ->ArgName("kind")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

void BM_ExchangesUnpaced(benchmark::State& state) {
    const auto kind = static_cast<uint8_t>(state.range(0));
    TSimProcess sim(SimBinaryBesideThisProgram(),
                    {"--relay", std::to_string(kind) + ":" + std::to_string(kAddress), "--baud", "0"});
    if (sim.Port().empty()) {
        state.SkipWithError(("tovik-sim did not start: " + SimBinaryBesideThisProgram()).c_str());
        return;
    }
    Client client(sim.Port());
    constexpr int kBatch = 100;
    int64_t exchanges = 0;
    for (auto _ : state) {
        int pending = kBatch;
        bool allOk = true;
        for (int i = 0; i < kBatch; ++i)
            RequestReadClock(client.Port, kAddress, client.Owner, kind, client.Results,
                             [&](const TReply& reply) {
                                 allOk = allOk && reply.Ok();
                                 --pending;
                             });
        if (!client.DispatchUntil(pending) || !allOk) {
            state.SkipWithError("a clock read failed");
            break;
        }
        exchanges += kBatch;
    }
    state.SetItemsProcessed(exchanges);
    state.counters["exchanges_per_s"] =
        benchmark::Counter(static_cast<double>(exchanges), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExchangesUnpaced)
    ->Arg(kKindTovikMModbus)
    ->Arg(kKindTovik)
    ->ArgName("kind")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

// ---- the panel's model, tovik-cli watch and a synchronous ModBus client ----

double FloorMs(const Traffic& t) {
    return bench::FloorMs(t, kBaud, kDelayMs);
}

void ReportCycles(benchmark::State& state, double measuredMs, double floorMs, double worst, long exchanges,
                  long bytes, long cycles) {
    if (cycles <= 0 || floorMs <= 0) return;
    const double n = static_cast<double>(cycles);
    state.counters["cycle_ms"] = measuredMs / n;
    state.counters["floor_ms"] = floorMs / n;
    state.counters["ratio"] = measuredMs / floorMs;
    if (worst > 0) state.counters["worst_ratio"] = worst;
    state.counters["exchanges"] = static_cast<double>(exchanges) / n;
    state.counters["line_bytes"] = static_cast<double>(bytes) / n;
}

// The panel's model on the simulator's line, run the way tovik-cli runs it:
// its tick here, at the model's next deadline or at once when the result
// list's notifier says a completion arrived. Each cycle is
// started on its own (the request interval is long), so one cycle is the
// state poll queued to its last completion handled.
class ModelClient {
public:
    ModelClient(const std::string& portName, uint8_t kind) : Device(kind) {
        Port.ReplyTimeout = 100;
        Port.Bus = true;
        Port.RequestInterval = 1000000;
        Port.SetPortName(portName);
        Device.PortId = Port.Id;
        TPanelEnvironment env;
        env.Line = &Port;
        env.AccessLevel = 2;
        Panel = std::make_unique<TTovikPanel>(std::move(env));
        Panel->Link().Results()->SetNotifier([this] {
            {
                std::lock_guard guard(Lock);
                Pending = true;
            }
            Arrived.notify_one();
        });
        Panel->AttachDevice(&Device);
        Panel->FillPortBox();
    }
    ~ModelClient() {
        Panel->Link().Results()->SetNotifier(nullptr);
        Panel.reset();
        Port.StopWorker();
    }

    // One whole cycle; false when a read failed or it took far too long.
    bool Cycle() {
        const uint64_t next = Panel->Poll().CompletedCycles() + 1;
        Panel->Poll().PollNow();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            const bool waiting = !Panel->Link().Results()->IsEmpty();
            Panel->Tick();
            if (Panel->Poll().CompletedCycles() >= next)
                return Panel->Poll().LastPollOk() && Panel->Poll().FailedReads().empty();
            if (waiting) continue;
            if (std::chrono::steady_clock::now() > end) return false;
            const uint32_t due = Panel->NextTickInMs();
            std::unique_lock lock(Lock);
            Arrived.wait_for(lock, std::chrono::milliseconds(due), [this] { return Pending; });
            Pending = false;
        }
    }

private:
    TProtoUART Port;
    TTovikDevice Device;
    std::unique_ptr<TTovikPanel> Panel;
    std::mutex Lock;
    std::condition_variable Arrived;
    bool Pending = false;
};

// range(0): device kind. Paced at 19200 baud with the simulator's delay.
void BM_PanelModelCycle(benchmark::State& state) {
    const auto kind = static_cast<uint8_t>(state.range(0));
    const std::string log = bench::TempLog("tovik-bench-poll");
    TSimProcess sim(SimBinaryBesideThisProgram(),
                    {"--relay", std::to_string(kind) + ":" + std::to_string(kAddress), "--baud",
                     std::to_string(kBaud), "--delay-ms", std::to_string(kDelayMs), "--log", log});
    if (sim.Port().empty()) {
        state.SkipWithError("tovik-sim did not start");
        std::remove(log.c_str());
        return;
    }
    LogReader reader(log);
    {
        ModelClient client(sim.Port(), kind);
        client.Cycle();  // the first cycle also reads the setpoints and the task log
        reader.Next();
        double measuredMs = 0, floorMs = 0, worst = 0;
        long exchanges = 0, bytes = 0;
        for (auto _ : state) {
            const auto t0 = std::chrono::steady_clock::now();
            const bool ok = client.Cycle();
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            state.SetIterationTime(ms / 1000.0);
            const Traffic t = reader.Next();
            if (!ok || t.Unanswered) {
                state.SkipWithError("a read of the cycle failed");
                break;
            }
            measuredMs += ms;
            floorMs += FloorMs(t);
            worst = std::max(worst, ms / FloorMs(t));
            exchanges += t.Exchanges;
            bytes += t.Bytes;
        }
        ReportCycles(state, measuredMs, floorMs, worst, exchanges, bytes,
                     static_cast<long>(state.iterations()));
    }
    std::remove(log.c_str());
}
BENCHMARK(BM_PanelModelCycle)
    ->Arg(kKindTovikMModbus)
    ->Arg(kKindTovikModbus)
    ->Arg(kKindTovik)
    ->ArgName("kind")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// Whether a log line starts a poll cycle: the native state poll (command 4)
// or the first register the ModBus one reads (58).
bool StartsCycle(const std::string& line) {
    const auto command = LogNumber(line, "command");
    if (command) return *command == 4;
    return LogNumber(line, "function") == 3 && LogNumber(line, "register") == 58;
}

// tovik-cli watch --interval 0 as a process: each cycle's poll goes out
// behind the last job of the cycle before, so consecutive cycles follow each
// other on the line; the time between two cycles' lines on its standard
// output against the line's floor for the exchanges between them.
void BM_CliWatch(benchmark::State& state) {
    const auto kind = static_cast<uint8_t>(state.range(0));
    constexpr int kCycles = 20;
    const std::string log = bench::TempLog("tovik-bench-poll");
    TSimProcess sim(SimBinaryBesideThisProgram(),
                    {"--relay", std::to_string(kind) + ":" + std::to_string(kAddress), "--baud",
                     std::to_string(kBaud), "--delay-ms", std::to_string(kDelayMs), "--log", log});
    if (sim.Port().empty()) {
        state.SkipWithError("tovik-sim did not start");
        std::remove(log.c_str());
        return;
    }
    const std::string cli =
        SimBinaryBesideThisProgram().substr(0, SimBinaryBesideThisProgram().rfind('/') + 1) + "tovik-cli";
    for (auto _ : state) {
        test::TChildProcess watch(
            cli,
            {"--port", sim.Port(), "--kind", std::to_string(kind), "--bus", std::to_string(kAddress),
             "--bus-mode", "--reply-timeout", "100", "--interval", "0", "--json", "watch", "--count",
             std::to_string(kCycles + 1)},
            test::TChildProcess::EStderr::Discard);
        std::vector<std::chrono::steady_clock::time_point> done;
        while (auto line = watch.ReadLine(20000)) done.push_back(std::chrono::steady_clock::now());
        if (watch.Wait(20000) != 0 || done.size() != kCycles + 1) {
            state.SkipWithError("tovik-cli watch failed");
            break;
        }
        const double ms = std::chrono::duration<double, std::milli>(done.back() - done.front()).count();
        state.SetIterationTime(ms / 1000.0);
        // Cycles 2 .. kCycles + 1: from the second poll to the one after the last.
        Traffic window;
        int polls = 0;
        for (const std::string& line : LogReader(log).Next().Lines) {
            if (StartsCycle(line)) ++polls;
            if (polls < 2 || polls > kCycles + 1) continue;
            LogReader::Add(line, window);
        }
        ReportCycles(state, ms, FloorMs(window), 0, window.Exchanges, window.Bytes, kCycles);
    }
    std::remove(log.c_str());
}
BENCHMARK(BM_CliWatch)
    ->Arg(kKindTovikMModbus)
    ->Arg(kKindTovikModbus)
    ->Arg(kKindTovik)
    ->ArgName("kind")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A plain synchronous ModBus client (libmodbus) reading, one after the
// other, the registers a steady poll cycle of the panel reads, on the same
// simulated line. range(0): device kind (ModBus kinds only).
void BM_ModbusSyncCycle(benchmark::State& state) {
    const auto kind = static_cast<uint8_t>(state.range(0));
    const std::string log = bench::TempLog("tovik-bench-poll");
    TSimProcess sim(SimBinaryBesideThisProgram(),
                    {"--relay", std::to_string(kind) + ":" + std::to_string(kAddress), "--baud",
                     std::to_string(kBaud), "--delay-ms", std::to_string(kDelayMs), "--log", log});
    if (sim.Port().empty()) {
        state.SkipWithError("tovik-sim did not start");
        std::remove(log.c_str());
        return;
    }
    LogReader reader(log);
    // The registers of one steady cycle, as the panel reads them.
    std::vector<RegisterRead> reads;
    {
        ModelClient client(sim.Port(), kind);
        client.Cycle();
        reader.Next();
        client.Cycle();
        for (const std::string& line : reader.Next().Lines)
            if (LogNumber(line, "function") == 3)
                reads.push_back({static_cast<int>(*LogNumber(line, "register")),
                                 static_cast<int>(*LogNumber(line, "count"))});
    }
    modbus_t* ctx = modbus_new_rtu(("/dev/" + sim.Port()).c_str(), kBaud, 'N', 8, 1);
    if (!ctx || modbus_set_slave(ctx, kAddress) != 0 || modbus_connect(ctx) != 0) {
        state.SkipWithError("libmodbus could not open the line");
        if (ctx) modbus_free(ctx);
        std::remove(log.c_str());
        return;
    }
    modbus_set_response_timeout(ctx, 0, 500000);
    double measuredMs = 0, floorMs = 0, worst = 0;
    long exchanges = 0, bytes = 0;
    uint16_t registers[128];
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        bool ok = true;
        for (const RegisterRead& r : reads)
            ok = ok && modbus_read_registers(ctx, r.Register, r.Count, registers) == r.Count;
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(ms / 1000.0);
        const Traffic t = reader.Next();
        if (!ok || t.Unanswered) {
            state.SkipWithError("a libmodbus read failed");
            break;
        }
        measuredMs += ms;
        floorMs += FloorMs(t);
        worst = std::max(worst, ms / FloorMs(t));
        exchanges += t.Exchanges;
        bytes += t.Bytes;
    }
    modbus_close(ctx);
    modbus_free(ctx);
    ReportCycles(state, measuredMs, floorMs, worst, exchanges, bytes, static_cast<long>(state.iterations()));
    state.counters["reads"] = static_cast<double>(reads.size());
    std::remove(log.c_str());
}
BENCHMARK(BM_ModbusSyncCycle)
    ->Arg(kKindTovikMModbus)
    ->Arg(kKindTovikModbus)
    ->ArgName("kind")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
