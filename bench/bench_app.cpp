// The application with a large configuration (50 ports, 250 devices with
// 255 alarm records each): start-up to the main window shown, and the
// program's CPU use while it idles with no panel open.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "base/ui/Messages.h"
#include "app/ui/main.h"

namespace fs = std::filesystem;
using namespace tovik;

namespace {

fs::path LargeConfigDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("tovik-bench-app-" + std::to_string(::getpid()));
        fs::create_directories(d);
        RegisterBuiltInKinds();
        TUsers users;
        TProtoPortList ports;
        TDeviceList devices;
        users.Add(std::make_unique<TUser>("default", 1, ""));
        // The record is the serial port's; these lines do not exist, so the
        // program's ports stay closed, as with unplugged adapters.
        for (int i = 0; i < 50; ++i) {
            auto port = std::make_unique<TUartSettingsPort>(ports.Stats());
            port->Name = "ttyNO" + std::to_string(i);
            port->Id = NameId(port->Name);
            ports.Add(std::move(port));
        }
        for (int i = 0; i < 250; ++i) {
            auto dev = std::make_unique<TTovikDevice>(static_cast<uint8_t>(i % 4));
            dev->InstallationName = "Установка " + std::to_string(i);
            dev->PortId = ports.Items(i % 50)->Id;
            dev->BusAddress = static_cast<uint8_t>(1 + i % 250);
            for (int r = 0; r < 255; ++r) {
                TAlarmRecord rec{};
                rec[0] = static_cast<uint8_t>(r % 24);
                rec[1] = static_cast<uint8_t>(r % 60);
                rec[3] = static_cast<uint8_t>(1 + r % 28);
                rec[4] = static_cast<uint8_t>(1 + r % 12);
                rec[5] = static_cast<uint8_t>(r);
                dev->AlarmCache.push_back(rec);
            }
            devices.Add(std::move(dev));
        }
        TSaveOptions options;
        options.Copy = TCopyPolicy::Never;
        SaveConfiguration(d.string(), {users, ports, devices}, options);
        ReleaseConfiguration({users, ports, devices});
        return d;
    }();
    return dir;
}

void BM_StartUpToWindowShown(benchmark::State& state) {
    const QString dir = QString::fromStdString(LargeConfigDir().string());
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        auto form = std::make_unique<TMainForm>(dir);
        form->show();
        while (!form->isVisible() || form->windowHandle() == nullptr || !form->windowHandle()->isExposed())
            QApplication::processEvents();
        state.SetIterationTime(static_cast<double>(t.nsecsElapsed()) / 1e9);
        state.counters["devices"] = form->Devices.Count();
        state.counters["ports"] = form->Ports.Count();
        form.reset();  // the shut-down (its save) is not part of the figure
    }
}
BENCHMARK(BM_StartUpToWindowShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The real program, idle for 10 s with no panel open.
void BM_IdleProgramCpu(benchmark::State& state) {
    const fs::path dir = LargeConfigDir();
    const fs::path exe = dir / "tovik";
    fs::copy_file(TOVIK_BIN_DIR "/tovik", exe, fs::copy_options::overwrite_existing);
    for (auto _ : state) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("TOVIK_MESSAGE_LOG", (dir / "messages.log").c_str(), 1);
            ::execl(exe.c_str(), exe.c_str(), nullptr);
            ::_exit(127);
        }
        auto cpuTicks = [pid] {
            std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
            std::string text((std::istreambuf_iterator<char>(in)), {});
            std::istringstream rest(text.substr(text.rfind(')') + 2));
            std::string field;
            long utime = 0, stime = 0;
            for (int i = 3; i <= 15 && rest >> field; ++i) {
                if (i == 14) utime = std::stol(field);
                if (i == 15) stime = std::stol(field);
            }
            return utime + stime;
        };
        std::this_thread::sleep_for(std::chrono::seconds(3));  // start-up done
        const long before = cpuTicks();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const long after = cpuTicks();
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        const double cpuSeconds = static_cast<double>(after - before) / static_cast<double>(::sysconf(_SC_CLK_TCK));
        state.counters["idle_cpu_percent_of_one_core"] = cpuSeconds / 10.0 * 100.0;
    }
}
BENCHMARK(BM_IdleProgramCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetMessageHook([](TMessageKind, const QString&) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(LargeConfigDir());
    return 0;
}
