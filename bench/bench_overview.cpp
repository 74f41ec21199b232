// The plant overview against tovik-sim at 19200 baud (the simulator's
// response delay 5 ms), through the whole engine.
//
// BM_OverviewRound: one round (every relay read once: its journal header,
// state and currents) for 20 relays on one line and for 4 lines of 5 relays,
// against the line's floor: every byte that crossed it in either direction
// at 10 bits, plus the delay once per exchange; with several lines, the
// floor of the busiest one, since the lines are read in parallel.
//
// BM_PanelCycleWithOverview: the poll cycle of a device panel open on one
// relay of a line of 5, first alone, then with the overview reading the
// other 4: how much longer the cycle gets, in exchanges of the overview.
//
// Both run the way tovik-cli runs the models: the ticks here, woken at once
// by the result lists' notifiers. The simulator is the program built next
// to this one (bin/tovik-sim); TOVIK_SIM names another.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SimTraffic.h"
#include "app/DeviceList.h"
#include "app/TovikDevice.h"
#include "base/Clock.h"
#include "panel/PlantOverview.h"
#include "panel/TovikPanel.h"
#include "ports/ProtoPortList.h"
#include "ports/ProtoUART.h"
#include "support/ChildProcess.h"

using namespace tovik;

namespace {

constexpr int kBaud = 19200;
constexpr int kDelayMs = 5;

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Simulated lines with relays of one kind at bus numbers 1..N each, their
// ports (bus mode, 100 ms reply time-out, no request interval) and devices.
class Plant {
public:
    Plant(int lines, int relays, uint8_t kind) {
        for (int l = 0; l < lines; ++l) {
            Logs.push_back(bench::TempLog("tovik-bench-overview"));
            std::vector<std::string> args = {"--baud",     std::to_string(kBaud),
                                             "--delay-ms", std::to_string(kDelayMs),
                                             "--log",      Logs.back()};
            for (int r = 1; r <= relays; ++r) {
                args.push_back("--relay");
                args.push_back(std::to_string(kind) + ":" + std::to_string(r));
            }
            Sims.push_back(std::make_unique<test::TSimProcess>(test::SimBinaryBesideThisProgram(), args,
                                                               test::TChildProcess::EStderr::Discard));
            if (Sims.back()->Port().empty()) return;
            auto port = std::make_unique<TProtoUART>(Ports.Stats());
            port->SetPortName(Sims.back()->Port());
            port->Bus = true;
            port->ReplyTimeout = 100;
            const int32_t id = port->Id;
            Ports.Add(std::move(port));
            for (int r = 1; r <= relays; ++r) {
                auto device = std::make_unique<TTovikDevice>(kind);
                device->PortId = id;
                device->BusAddress = static_cast<uint8_t>(r);
                Devices.Add(std::move(device));
            }
            Readers.emplace_back(Logs.back());
        }
        Started = true;
    }
    ~Plant() {
        Devices.Clear();
        Ports.Clear();
        Sims.clear();
        for (const std::string& log : Logs) std::remove(log.c_str());
    }

    bool Started = false;
    TProtoPortList Ports{std::make_shared<TRequestStats>()};
    TDeviceList Devices;
    std::vector<bench::LogReader> Readers;

private:
    std::vector<std::unique_ptr<test::TSimProcess>> Sims;
    std::vector<std::string> Logs;
};

// Sleeps until a result list's notifier rings, or 10 ms (the window's timer).
struct Wake {
    std::mutex Lock;
    std::condition_variable Arrived;
    bool Pending = false;
    void Ring() {
        {
            std::lock_guard guard(Lock);
            Pending = true;
        }
        Arrived.notify_one();
    }
    void Wait() {
        std::unique_lock lock(Lock);
        Arrived.wait_for(lock, std::chrono::milliseconds(10), [this] { return Pending; });
        Pending = false;
    }
};

std::unique_ptr<TPlantOverview> MakeOverview(Plant& plant, std::function<const TTovikPanel*()> panel,
                                             Wake& wake) {
    TOverviewEnvironment env;
    env.Devices = &plant.Devices;
    env.FindPort = [&plant](int32_t id) { return plant.Ports.FindById(id); };
    env.OpenPanel = std::move(panel);
    auto overview = std::make_unique<TPlantOverview>(std::move(env));
    overview->Results()->SetNotifier([&wake] { wake.Ring(); });
    return overview;
}

// range(0) lines of range(1) relays of kind range(2).
void BM_OverviewRound(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    Plant plant(lines, static_cast<int>(state.range(1)), static_cast<uint8_t>(state.range(2)));
    if (!plant.Started) {
        state.SkipWithError("tovik-sim did not start");
        return;
    }
    Wake wake;
    auto overview = MakeOverview(plant, nullptr, wake);
    overview->Start();
    auto nextRound = [&] {
        const uint64_t next = overview->CompletedRounds() + 1;
        const auto end = Clock::now() + std::chrono::seconds(60);
        while (overview->CompletedRounds() < next && Clock::now() < end) {
            overview->Tick();
            wake.Wait();
        }
        return overview->CompletedRounds() >= next;
    };
    // The first round also reads every relay's setpoints.
    nextRound();
    for (auto& reader : plant.Readers) reader.Next();
    double measured = 0;
    std::vector<bench::Traffic> traffic(static_cast<size_t>(lines));
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!nextRound()) {
            state.SkipWithError("a round did not end");
            break;
        }
        const double ms = Ms(Clock::now() - t0);
        state.SetIterationTime(ms / 1000.0);
        measured += ms;
    }
    overview->Stop();
    for (int l = 0; l < lines; ++l)
        traffic[static_cast<size_t>(l)] = plant.Readers[static_cast<size_t>(l)].Next();
    const double n = static_cast<double>(state.iterations());
    double floor = 0, exchanges = 0, unanswered = 0;
    for (const bench::Traffic& t : traffic) {
        floor = std::max(floor, bench::FloorMs(t, kBaud, kDelayMs));
        exchanges += static_cast<double>(t.Exchanges);
        unanswered += static_cast<double>(t.Unanswered);
    }
    if (unanswered > 0) state.SkipWithError("a relay did not answer");
    if (n > 0 && floor > 0) {
        state.counters["round_ms"] = measured / n;
        state.counters["floor_ms"] = floor / n;
        state.counters["ratio"] = measured / floor;
        state.counters["exchanges"] = exchanges / n;
    }
}
BENCHMARK(BM_OverviewRound)
    ->Args({1, 20, kKindTovik})
    ->Args({4, 5, kKindTovik})
    ->Args({1, 20, kKindTovikMModbus})
    ->Args({4, 5, kKindTovikMModbus})
    ->ArgNames({"lines", "relays", "kind"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// A panel on relay 1 of a line of 5; range(0): the port's request interval.
// The panel's cycle, measured over 30 cycles alone and 30 with the overview.
// With no interval the cycles follow each other (the time between two
// ends); with one, a cycle is from its state poll queued to its end.
void BM_PanelCycleWithOverview(benchmark::State& state) {
    const int interval = static_cast<int>(state.range(0));
    Plant plant(1, 5, kKindTovik);
    if (!plant.Started) {
        state.SkipWithError("tovik-sim did not start");
        return;
    }
    plant.Ports.Items(0)->RequestInterval = interval;
    Wake wake;
    TPanelEnvironment env;
    env.Ports = &plant.Ports;
    auto panel = std::make_unique<TTovikPanel>(std::move(env));
    panel->Link().Results()->SetNotifier([&wake] { wake.Ring(); });
    panel->AttachDevice(dynamic_cast<TTovikDevice*>(plant.Devices.GetDevice(0)));
    panel->FillPortBox();
    auto overview = MakeOverview(
        plant, [&panel] { return panel.get(); }, wake);

    // The panel's window: a completion handled at once, then the next poll
    // when it is due; the overview's window ticks as well.
    constexpr int kCycles = 30;
    auto cycles = [&](bool withOverview) {
        double total = 0;
        uint64_t seen = panel->Poll().CompletedCycles();
        auto last = Clock::now();
        int counted = 0;
        const auto end = Clock::now() + std::chrono::seconds(120);
        while (counted < kCycles && Clock::now() < end) {
            if (withOverview) overview->Tick();
            panel->Tick();
            if (panel->Link().Results()->IsEmpty()) panel->Tick();
            if (panel->Poll().CompletedCycles() != seen) {
                seen = panel->Poll().CompletedCycles();
                const auto now = Clock::now();
                // The first cycle also reads the setpoints and the task log.
                if (seen > 2) {
                    total += interval > 0
                                 ? static_cast<double>(ElapsedMs(panel->Poll().LastPollTime(), timeGetTime()))
                                 : Ms(now - last);
                    ++counted;
                }
                last = now;
            }
            if (panel->Link().Results()->IsEmpty() && overview->Results()->IsEmpty()) wake.Wait();
        }
        return counted ? total / counted : 0.0;
    };
    for (auto _ : state) {
        const double alone = cycles(false);
        plant.Readers[0].Next();
        overview->Start();
        const double with = cycles(true);
        overview->Stop();
        const bench::Traffic t = plant.Readers[0].Next();
        state.SetIterationTime(with / 1000.0);
        // The overview's exchanges (relays 2 to 5) and their time on the line.
        bench::Traffic theirs;
        for (const std::string& line : t.Lines)
            if (bench::LogNumber(line, "address").value_or(1) != 1) bench::LogReader::Add(line, theirs);
        const double exchangeMs =
            theirs.Exchanges ? bench::FloorMs(theirs, kBaud, kDelayMs) / static_cast<double>(theirs.Exchanges)
                             : 0;
        state.counters["cycle_alone_ms"] = alone;
        state.counters["cycle_with_ms"] = with;
        state.counters["overview_exchange_ms"] = exchangeMs;
        state.counters["overview_exchanges_per_cycle"] = static_cast<double>(theirs.Exchanges) / kCycles;
        if (exchangeMs > 0) state.counters["extra_exchanges_per_cycle"] = (with - alone) / exchangeMs;
        if (t.Unanswered) state.SkipWithError("a relay did not answer");
    }
    overview.reset();
    panel->Link().Results()->SetNotifier(nullptr);
    panel.reset();
}
BENCHMARK(BM_PanelCycleWithOverview)
    ->Arg(0)
    ->Arg(250)
    ->ArgName("interval")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
