// The bus scan on real lines. An empty line (a pseudo-terminal nobody
// answers on): a full scan of 250 numbers should take about 250 times the
// scan's time-out per wire format, even on a port whose own reply time-out
// is longer (the scan's probes do not wait for a quiet line after each
// other). tovik-sim lines with four relays, paced at 19200 baud: every relay
// is found with its model.
//
// The simulator is the program built next to this one (bin/tovik-sim);
// TOVIK_SIM names another.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ports/ProtoUART.h"
#include "protocol/BusScan.h"
#include "support/ChildProcess.h"
#include "support/PtyResponder.h"

using namespace tovik;

namespace {

constexpr int32_t kScanTimeout = kScanDefaultTimeoutMs;

struct ScanRun {
    double Ms = 0;
    std::vector<TScanFinding> Found;
    bool Finished = false;
};

ScanRun RunScan(TProtoPort& port, const TScanOptions& options) {
    ScanRun run;
    TBusScan scan(port, options);
    const auto t0 = std::chrono::steady_clock::now();
    if (!scan.Start()) return run;
    // As the dialog's timer does, but without its 20 ms period.
    while (scan.Running()) {
        scan.WaitForOutcome(1000);
        scan.Pump();
    }
    run.Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    run.Found = scan.Findings();
    run.Finished = scan.Finished();
    return run;
}

std::unique_ptr<TProtoUART> OpenPort(const std::string& name) {
    auto port = std::make_unique<TProtoUART>(std::make_shared<TRequestStats>());
    port->ReplyTimeout = 200;  // the demo's lines
    port->Bus = true;
    port->SetPortName(name);
    return port;
}

// range(0): 1 native only, 3 both wire formats.
void BM_ScanEmptyLine(benchmark::State& state) {
    test::PtyResponder nobody([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; });
    auto port = OpenPort(nobody.PortName());
    TScanOptions options;
    options.Modbus = state.range(0) == 3;
    options.TimeoutMs = kScanTimeout;
    const int probes = 250 * (options.Modbus ? 2 : 1);
    double ms = 0;
    for (auto _ : state) {
        const ScanRun run = RunScan(*port, options);
        if (!run.Finished || !run.Found.empty()) {
            state.SkipWithError("the scan did not end empty");
            break;
        }
        state.SetIterationTime(run.Ms / 1000.0);
        ms += run.Ms;
    }
    const double n = static_cast<double>(state.iterations());
    if (n > 0) {
        state.counters["scan_s"] = ms / n / 1000.0;
        state.counters["per_probe_ms"] = ms / n / probes;
        state.counters["ratio_to_timeouts"] = ms / n / (probes * kScanTimeout);
    }
    port->StopWorker();
}
BENCHMARK(BM_ScanEmptyLine)
    ->Arg(1)
    ->Arg(3)
    ->ArgName("formats")
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// range(0): 0 a native line, 1 a ModBus line; four relays of both
// families on each, scanned in both wire formats over the whole range.
void BM_ScanSimLine(benchmark::State& state) {
    const bool modbus = state.range(0) == 1;
    const std::vector<std::pair<uint8_t, uint8_t>> relays = {
        {modbus ? 1 : 0, 1}, {modbus ? 3 : 2, 7}, {modbus ? 1 : 0, 100}, {modbus ? 3 : 2, 250}};
    std::vector<std::string> args = {"--baud", "19200"};
    for (const auto& [kind, address] : relays)
        args.insert(args.end(), {"--relay", std::to_string(kind) + ":" + std::to_string(address)});
    test::TSimProcess sim(test::SimBinaryBesideThisProgram(), args);
    if (sim.Port().empty()) {
        state.SkipWithError(("tovik-sim did not start: " + test::SimBinaryBesideThisProgram()).c_str());
        return;
    }
    auto port = OpenPort(sim.Port());
    TScanOptions options;
    options.TimeoutMs = kScanTimeout;
    double ms = 0;
    int found = 0;
    for (auto _ : state) {
        const ScanRun run = RunScan(*port, options);
        bool all = run.Finished && run.Found.size() == relays.size();
        for (size_t i = 0; all && i < relays.size(); ++i) {
            const TScanFinding& f = run.Found[i];
            all = f.Address == relays[i].second && f.ProposedKind == relays[i].first && f.HasModel &&
                  (modbus ? f.Modbus : f.Native) && !FindingModelText(f).empty();
        }
        if (!all) {
            state.SkipWithError("the scan did not find the four relays with their models and kinds");
            break;
        }
        found = static_cast<int>(run.Found.size());
        state.SetIterationTime(run.Ms / 1000.0);
        ms += run.Ms;
    }
    const double n = static_cast<double>(state.iterations());
    if (n > 0) {
        state.counters["scan_s"] = ms / n / 1000.0;
        state.counters["found"] = found;
    }
    port->StopWorker();
}
BENCHMARK(BM_ScanSimLine)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("modbus")
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
