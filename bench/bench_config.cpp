// Load and save of a large configuration: 50 ports, 250 devices with 255
// alarm records each.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "ports/ProtoUART.h"

namespace tovik {
namespace {

struct Lists {
    TUsers Users;
    TProtoPortList Ports;
    TDeviceList Devices;
    TConfigLists Get() { return {Users, Ports, Devices}; }
};

void Fill(Lists& l) {
    l.Users.Add(std::make_unique<TUser>("default", 1, ""));
    l.Users.Add(std::make_unique<TUser>("сервис", 0, "пароль"));
    for (int p = 0; p < 50; ++p) {
        auto port = std::make_unique<TProtoUART>(l.Ports.Stats());
        port->SetPortName("ttyNO" + std::to_string(p));  // no such line: stays closed
        port->ReplyTimeout = 300;
        port->RequestInterval = 200;
        l.Ports.Add(std::move(port));
    }
    for (int d = 0; d < 250; ++d) {
        auto dev = std::make_unique<TTovikDevice>(static_cast<uint8_t>(d % 4));
        dev->InstallationName = "Установка " + std::to_string(d);
        dev->PortId = NameId("ttyNO" + std::to_string(d % 50));
        dev->BusAddress = static_cast<uint8_t>(1 + d % 250);
        dev->PanelLayout = std::make_unique<TMemoryStream>();
        WritePanelLayout(*dev->PanelLayout, {120, 130, 140, 2});
        TAlarmRecord r{};
        for (int a = 0; a < 255; ++a) {
            r[0] = static_cast<uint8_t>(a % 24);
            r[1] = static_cast<uint8_t>(a / 24);
            r[6] = static_cast<uint8_t>(a);
            dev->OfferAlarmRecord(r);
        }
        l.Devices.Add(std::move(dev));
    }
}

std::string BenchDir() {
    auto dir = std::filesystem::temp_directory_path() / ("tovik-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir.string();
}

void BM_SaveConfiguration(benchmark::State& state) {
    RegisterBuiltInKinds();
    Lists l;
    Fill(l);
    const std::string dir = BenchDir();
    for (auto _ : state) {
        const auto r = SaveConfiguration(dir, l.Get());
        if (!r.Saved) state.SkipWithError("save failed");
    }
    state.counters["file_bytes"] =
        static_cast<double>(std::filesystem::file_size(JoinPath(dir, kConfigFileName)));
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveConfiguration)->Unit(benchmark::kMillisecond);

void BM_LoadConfiguration(benchmark::State& state) {
    RegisterBuiltInKinds();
    const std::string dir = BenchDir();
    {
        Lists l;
        Fill(l);
        SaveConfiguration(dir, l.Get());
    }
    for (auto _ : state) {
        Lists l;
        const auto r = LoadConfiguration(dir, l.Get());
        if (!r.Messages.empty() || l.Devices.Count() != 250 || l.Ports.Count() != 50)
            state.SkipWithError("load failed");
        state.PauseTiming();  // stopping 50 workers is not part of the load
        ReleaseConfiguration(l.Get());
        state.ResumeTiming();
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoadConfiguration)->Unit(benchmark::kMillisecond);

// The body alone, without the disk and without the ports' lines and workers.
void BM_BuildAndScrambleBody(benchmark::State& state) {
    RegisterBuiltInKinds();
    Lists l;
    Fill(l);
    for (auto _ : state) {
        TMemoryStream plain, file;
        BuildPlainBody(l.Get(), plain);
        ScrambleBody(plain, file, 0x12345678);
        benchmark::DoNotOptimize(file.Bytes().data());
    }
}
BENCHMARK(BM_BuildAndScrambleBody)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tovik

BENCHMARK_MAIN();
