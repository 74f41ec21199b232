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
// The simulator is the program built next to this one (bin/tovik-sim);
// TOVIK_SIM names another.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"
#include "protocol/UstTable.h"
#include "support/ChildProcess.h"

using namespace tovik;

namespace {

constexpr int kBaud = 19200;
constexpr int kDelayMs = 5;  // the simulator's response delay in the paced runs

using test::SimBinaryBesideThisProgram;
using test::TSimProcess;

// What crossed the line, from the simulator's log lines since the last call.
struct Traffic {
    long Exchanges = 0;
    long Bytes = 0;
    long Unanswered = 0;
};

class LogReader {
public:
    explicit LogReader(std::string path) : Path(std::move(path)) {}
    Traffic Next() {
        Traffic t;
        std::ifstream f(Path);
        f.seekg(static_cast<std::streamoff>(Offset));
        for (std::string line; std::getline(f, line);) {
            if (f.eof()) break;  // still being written
            Offset += line.size() + 1;
            ++t.Exchanges;
            t.Bytes += HexLength(line, "\"bytes\":\"");
            const long reply = HexLength(line, "\"reply\":\"");
            if (line.find("\"answered\":true") == std::string::npos) ++t.Unanswered;
            t.Bytes += reply;
        }
        return t;
    }

private:
    static long HexLength(const std::string& line, const std::string& tag) {
        const size_t at = line.find(tag);
        if (at == std::string::npos) return 0;
        const size_t begin = at + tag.size();
        return static_cast<long>((line.find('"', begin) - begin) / 2);
    }
    std::string Path;
    size_t Offset = 0;
};

// A port on the simulator's line with one owner and its result list.
struct Client {
    explicit Client(const std::string& portName) {
        Port.ReplyTimeout = 100;
        Port.Bus = true;
        Port.SetPortName(portName);
        Owner = Port.RegisterOwner();
    }
    ~Client() { Port.StopWorker(); }

    // Dispatches completions until `pending` reaches zero; false on time-out.
    bool DispatchUntil(const int& pending, int timeoutMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pending > 0) {
            if (Results->IsEmpty()) {
                if (std::chrono::steady_clock::now() > end) return false;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                continue;
            }
            Results->DispatchOne();
        }
        return true;
    }

    TProtoUART Port;
    int32_t Owner = 0;
    TEvents Results = std::make_shared<TResultEventsList>();
};

constexpr uint8_t kAddress = 1;

// One poll cycle as the panel runs it; false when a request failed.
bool PollCycle(Client& c, uint8_t kind) {
    int pending = 1;
    bool allOk = true;
    auto done = [&](uint8_t ok, const TBlock*) {
        allOk = allOk && ok;
        --pending;
    };
    auto onPoll = [&](uint8_t ok, const TBlock* data) {
        done(ok, data);
        if (!ok) return;
        TProtoPort& p = c.Port;
        const auto& r = c.Results;
        RequestReadUst(p, kAddress, c.Owner, kind, r, done);
        RequestReadCurrents(p, kAddress, c.Owner, kind, r, done);
        RequestReadImax(p, kAddress, c.Owner, kind, r, done);
        RequestReadTimers(p, kAddress, c.Owner, kind, r, done);
        RequestReadAlarmCounters(p, kAddress, c.Owner, kind, r, done);
        RequestReadState(p, kAddress, c.Owner, kind, r, done);
        RequestReadAlarmCount(p, kAddress, c.Owner, kind, r, done);
        RequestReadClock(p, kAddress, c.Owner, kind, r, done);
        pending += 8;
        if (kind == kKindTovikMModbus) {
            RequestReadStatistics(p, kAddress, c.Owner, kind, r, done);
            ++pending;
        }
    };
    RequestReadCell(c.Port, kAddress, c.Owner, kind, c.Results, onPoll, kUstModelRow);
    return c.DispatchUntil(pending) && allOk;
}

std::string TempLog() {
    char tmpl[] = "/tmp/tovik-bench-poll-XXXXXX";
    const int fd = ::mkstemp(tmpl);
    if (fd >= 0) ::close(fd);
    return tmpl;
}

// range(0): device kind (3 "ТовикМ ModBus" or 0 "Товик"). Paced at 19200
// baud with the simulator's response delay kDelayMs.
void BM_PollCycle(benchmark::State& state) {
    const auto kind = static_cast<uint8_t>(state.range(0));
    const std::string log = TempLog();
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
                             [&](uint8_t ok, const TBlock*) {
                                 allOk = allOk && ok;
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

}  // namespace

BENCHMARK_MAIN();
