// The application with a large configuration (50 ports, 250 devices with
// 255 alarm records each): start-up to the main window shown, and the
// program's CPU use while it idles with no panel open. Then the application
// with a panel polling a "ТовикМ ModBus" relay on tovik-sim at 19200 baud
// (with and without its current trend open), and the cost of the setpoint grid's auto-size pass.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <QWindow>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "app/ui/main.h"
#include "base/ui/Messages.h"
#include "panel/GridAutoSize.h"
#include "panel/TovikPanel.h"
#include "panel/ui/TovikFrame.h"
#include "panel/ui/TrendWindow.h"
#include "support/ChildProcess.h"

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
        const double cpuSeconds =
            static_cast<double>(after - before) / static_cast<double>(::sysconf(_SC_CLK_TCK));
        state.counters["idle_cpu_percent_of_one_core"] = cpuSeconds / 10.0 * 100.0;
    }
}
BENCHMARK(BM_IdleProgramCpu)->Iterations(1)->Unit(benchmark::kSecond);

// CPU time of the user-interface thread (this one) so far, in seconds.
double MainThreadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU time of this whole process (every thread) so far, in seconds.
double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// How often each thread of this process went to sleep and woke again (its
// voluntary context switches), by thread id, with the thread's name.
struct TThreadSleeps {
    std::string Name;
    long Sleeps = 0;
    long CpuTicks = 0;  // user and system time, in clock ticks
};
std::map<long, TThreadSleeps> ThreadSleeps() {
    std::map<long, TThreadSleeps> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/task", ec)) {
        TThreadSleeps t;
        std::ifstream(entry.path() / "comm") >> t.Name;
        std::ifstream status(entry.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) t.Sleeps = std::stol(line.substr(24));
        std::ifstream stat(entry.path() / "stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream rest(text.substr(text.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 15 && rest >> field; ++i)
            if (i == 14 || i == 15) t.CpuTicks += std::stol(field);
        out[std::stol(entry.path().filename().string())] = t;
    }
    return out;
}

// The wake-ups per second over `seconds` between two readings: of the
// user-interface thread, of the threads named like the program (the port
// workers), and of the rest (Qt's own).
void ReportWakeUps(benchmark::State& state, const std::map<long, TThreadSleeps>& before,
                   const std::map<long, TThreadSleeps>& after, double seconds) {
    const long ui = static_cast<long>(::gettid());
    const std::string program = after.count(ui) ? after.at(ui).Name : std::string();
    double uiWakes = 0, workerWakes = 0, otherWakes = 0, workerTicks = 0, otherTicks = 0;
    for (const auto& [tid, t] : after) {
        const auto was = before.find(tid);
        const bool known = was != before.end();
        const double woke = static_cast<double>(t.Sleeps - (known ? was->second.Sleeps : 0));
        const double ticks = static_cast<double>(t.CpuTicks - (known ? was->second.CpuTicks : 0));
        (tid == ui ? uiWakes : t.Name == program ? workerWakes : otherWakes) += woke;
        if (tid != ui) (t.Name == program ? workerTicks : otherTicks) += ticks;
    }
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    state.counters["worker_cpu_percent"] = workerTicks / tick / seconds * 100.0;
    state.counters["qt_threads_cpu_percent"] = otherTicks / tick / seconds * 100.0;
    state.counters["ui_wakeups_per_s"] = uiWakes / seconds;
    state.counters["worker_wakeups_per_s"] = workerWakes / seconds;
    state.counters["qt_threads_wakeups_per_s"] = otherWakes / seconds;
}

// The application with the panel of a "ТовикМ ModBus" relay open, polling it
// on tovik-sim at 19200 baud with request interval 100 (the port's worker
// included): CPU over 20 s of polling, with the current trend window closed
// (trend:0) and open, redrawing from the polls (trend:1).
void BM_PanelPollingCpu(benchmark::State& state) {
    const bool withTrend = state.range(0) != 0;
    const fs::path dir = fs::temp_directory_path() / ("tovik-bench-panel-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string log = (dir / "requests.log").string();
    test::TSimProcess sim(TOVIK_BIN_DIR "/tovik-sim", {"--relay", "3:1", "--baud", "19200", "--log", log},
                          test::TChildProcess::EStderr::Discard);
    if (sim.Port().empty()) {
        state.SkipWithError("tovik-sim did not start");
        return;
    }
    {
        RegisterBuiltInKinds();
        TUsers users;
        TProtoPortList ports;
        TDeviceList devices;
        users.Add(std::make_unique<TUser>("default", 1, ""));
        auto port = std::make_unique<TUartSettingsPort>(ports.Stats());
        port->SetPortName(sim.Port());
        port->Bus = true;
        port->ReplyTimeout = 200;
        port->RequestInterval = 100;
        auto device = std::make_unique<TTovikDevice>(kKindTovikMModbus);
        device->PortId = port->Id;
        ports.Add(std::move(port));
        devices.Add(std::move(device));
        TSaveOptions options;
        options.Copy = TCopyPolicy::Never;
        SaveConfiguration(dir.string(), {users, ports, devices}, options);
        ReleaseConfiguration({users, ports, devices});
    }
    constexpr int kSeconds = 20;
    for (auto _ : state) {
        TMainForm form(QString::fromStdString(dir.string()));
        form.show();
        form.DevList->setCurrentRow(0);
        form.DevListClick();
        auto* frame = form.PanelArea->findChild<TTTovikFrame*>("TTovikFrame");
        // Settled: the first cycles (setpoints, task log) are done.
        {
            QEventLoop settle;
            QTimer::singleShot(3000, &settle, &QEventLoop::quit);
            settle.exec();
        }
        TTrendWindow* trend = frame && withTrend ? frame->ShowTrend() : nullptr;
        const uint64_t redrawsBefore = trend ? trend->Redraws() : 0;
        const long linesBefore = [&] {
            std::ifstream in(log);
            return static_cast<long>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
        }();
        const uint64_t wakesBefore = frame ? frame->WakeUps() : 0;
        const auto sleepsBefore = ThreadSleeps();
        const double cpu0 = ProcessCpuSeconds();
        const double ui0 = MainThreadCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QEventLoop loop;
        QTimer::singleShot(kSeconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
        const double cpu = ProcessCpuSeconds() - cpu0;
        const double ui = MainThreadCpuSeconds() - ui0;
        ReportWakeUps(state, sleepsBefore, ThreadSleeps(), seconds);
        state.counters["ui_thread_cpu_percent"] = ui / seconds * 100.0;
        // What crossed the line meanwhile: 10 bits a byte at 19200 baud is the
        // time the line was busy at the least.
        long lines = 0, lineBytes = 0;
        {
            std::ifstream in(log);
            for (std::string line; std::getline(in, line); ++lines) {
                if (lines < linesBefore) continue;
                for (const char* tag : {"\"bytes\":\"", "\"reply\":\""})
                    if (const size_t at = line.find(tag); at != std::string::npos) {
                        const size_t begin = at + std::strlen(tag);
                        lineBytes += static_cast<long>((line.find('"', begin) - begin) / 2);
                    }
            }
        }
        const double floorSeconds = static_cast<double>(lineBytes) * 10.0 / 19200.0;
        if (floorSeconds > 0) state.counters["wall_to_line_floor"] = seconds / floorSeconds;
        state.counters["cpu_percent_of_one_core"] = cpu / seconds * 100.0;
        state.counters["exchanges_per_s"] = static_cast<double>(lines - linesBefore) / seconds;
        // CPU time per exchange: what the load of other programs on the
        // machine does not stretch the way it stretches the seconds.
        const double exchanges = std::max(static_cast<double>(lines - linesBefore), 1.0);
        state.counters["cpu_us_per_exchange"] = cpu * 1e6 / exchanges;
        state.counters["ui_cpu_us_per_exchange"] = ui * 1e6 / exchanges;
        state.counters["wakeups_per_s"] =
            frame ? static_cast<double>(frame->WakeUps() - wakesBefore) / seconds : 0.0;
        state.counters["status_ok"] = form.StatusPanel->text() == QStringLiteral("СТОП") ? 1 : 0;
        if (trend) {
            state.counters["trend_redraws_per_s"] =
                static_cast<double>(trend->Redraws() - redrawsBefore) / seconds;
            state.counters["trend_points_drawn"] = trend->PointsDrawn();
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_PanelPollingCpu)->ArgName("trend")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// The setpoint grid of a "ТовикМ ModBus" relay (25 items) as the panel fills
// it, measured in the application's font.
TTextGrid SampleGrid() {
    TPanelEnvironment env;
    TTovikPanel panel(env);
    TTovikDevice device(kKindTovikMModbus);
    panel.AttachDevice(&device);
    TTextGrid grid = panel.Settings().Grid();
    for (size_t r = 1; r < grid.size(); ++r) {
        grid[r][1] = "0;0,200";
        grid[r][2] = "62500,0";
        grid[r][3] = std::to_string(r) + ",00";
    }
    return grid;
}

TGridAutoSize MakeSizer(const TTextGrid& grid) {
    const QFontMetrics metrics(QApplication::font());
    TGridAutoSize sizer([metrics](const std::string& text) {
        return TTextSize{metrics.horizontalAdvance(QString::fromStdString(text)), metrics.height()};
    });
    std::vector<std::string> names;
    for (size_t r = 1; r < grid.size(); ++r) names.push_back(grid[r][0]);
    sizer.SetUp(static_cast<int>(grid.size()), 5, names);
    sizer.Pass(grid);
    return sizer;
}

// range(0): 0 nothing changed, 1 one cell changed, 2 every cell measured
// again (a new font; the cost every tick would have without the cache).
void BM_GridAutoSizePass(benchmark::State& state) {
    TTextGrid grid = SampleGrid();
    TGridAutoSize sizer = MakeSizer(grid);
    const uint64_t measured = sizer.Measured();
    int flip = 0;
    for (auto _ : state) {
        if (state.range(0) == 1) grid[5][3] = (++flip & 1) ? "12,5" : "12,0";
        if (state.range(0) == 2) sizer.FontChanged();
        benchmark::DoNotOptimize(sizer.Pass(grid));
    }
    state.counters["texts_measured_per_pass"] =
        static_cast<double>(sizer.Measured() - measured) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_GridAutoSizePass)->Arg(0)->Arg(1)->Arg(2)->ArgName("changed")->Unit(benchmark::kMicrosecond);

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
