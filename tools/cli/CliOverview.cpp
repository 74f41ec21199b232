#include "tools/cli/CliOverview.h"

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>

#include "app/TovikDevice.h"
#include "panel/PlantOverview.h"
#include "ports/FrameTrace.h"
#include "ports/ProtoUART.h"
#include "tools/cli/CliOptions.h"
#include "tools/cli/CliSession.h"
#include "tools/common/Json.h"

namespace tovik::cli {

namespace {

using tool::JsonText;
using tool::TJson;

std::vector<std::string> MarkNames(unsigned marks) {
    std::vector<std::string> out;
    if (marks & kMarkAlarm) out.push_back("alarm");
    if (marks & kMarkSilent) out.push_back("silent");
    return out;
}

// Tab-separated, with the window's column titles as the header.
void PrintTable(const std::vector<TOverviewRow>& rows) {
    for (int c = 0; c < kOverviewColumnCount; ++c) std::cout << (c ? "\t" : "") << OverviewColumnTitle(c);
    std::cout << '\n';
    for (const TOverviewRow& r : rows) {
        for (int c = 0; c < kOverviewColumnCount; ++c) std::cout << (c ? "\t" : "") << OverviewCellText(r, c);
        std::cout << '\n';
    }
}

TJson RowJson(const TOverviewRow& r) {
    TJson row = {{"device", r.Index},
                 {"name", r.Name},
                 {"kind", r.Kind},
                 {"kind_name", r.KindName},
                 {"port", r.PortName},
                 {"bus", r.Bus},
                 {"answers", r.Answer == TAnswer::Yes}};
    if (r.Answer == TAnswer::No) row["reason"] = r.Reason;
    row["state"] = r.State;
    if (r.StateCode) row["state_code"] = *r.StateCode;
    row["alarm"] = r.InAlarm();
    TJson currents = TJson::array();
    for (size_t i = 0; i < 3; ++i)
        currents.push_back(r.Amps[i] == r.Amps[i] ? TJson(r.Amps[i]) : TJson(nullptr));  // NaN: unknown
    row["currents"] = currents;
    row["currents_text"] = r.Currents;
    if (r.AlarmCount) row["alarm_count"] = *r.AlarmCount;
    if (!r.LastAnswer.empty()) row["last_answer"] = r.LastAnswer;
    row["marks"] = MarkNames(r.Marks);
    return row;
}

// The lines of the configuration's ports that hold a device, made from
// their records as the program makes them.
std::map<int32_t, std::unique_ptr<TProtoPort>> OpenLines(TProtoPortList& ports, const TDeviceList& devices,
                                                         const std::shared_ptr<TFrameTraceQueue>& trace) {
    auto stats = std::make_shared<TRequestStats>();
    std::map<int32_t, std::unique_ptr<TProtoPort>> lines;
    for (int i = 0; i < devices.Count(); ++i) {
        const int32_t id = devices.GetDevice(i)->PortId;
        TProtoPort* settings = ports.FindById(id);
        if (!settings || lines.count(id)) continue;
        // The record starts with the port's kind code, which loading skips.
        TMemoryStream record;
        int32_t kind = 0;
        if (!settings->SaveSettings(record)) continue;
        record.Seek(0);
        auto line = std::make_unique<TProtoUART>(stats);
        // A name no line can have stays closed; its requests say why.
        if (!record.ReadI32(kind) || !line->LoadSettings(record)) continue;
        line->Id = id;
        if (trace) line->SetFrameTrace(trace);
        lines[id] = std::move(line);
    }
    return lines;
}

}  // namespace

int RunOverview(const TOverviewOptions& Options, const TLocaleFormat& Locale, TProtoPortList& Ports,
                const TDeviceList& Devices) {
    const auto trace = Options.Trace ? std::make_shared<TFrameTraceQueue>() : nullptr;
    std::map<int32_t, std::unique_ptr<TProtoPort>> lines = OpenLines(Ports, Devices, trace);

    TOverviewEnvironment env;
    env.Devices = &Devices;
    env.FindPort = [&lines](int32_t id) -> TProtoPort* {
        const auto it = lines.find(id);
        return it == lines.end() ? nullptr : it->second.get();
    };
    env.Locale = Locale;
    TPlantOverview overview(std::move(env));
    overview.SetRoundInterval(Options.Watch ? static_cast<uint32_t>(Options.IntervalMs) : 0);

    // The loop sleeps until a completion arrives, or 10 ms at most.
    struct TSignal {
        std::mutex Lock;
        std::condition_variable Arrived;
        bool Pending = false;
    };
    auto signal = std::make_shared<TSignal>();
    overview.Results()->SetNotifier([signal] {
        {
            std::lock_guard guard(signal->Lock);
            signal->Pending = true;
        }
        signal->Arrived.notify_one();
    });

    overview.Start();
    uint64_t printed = 0;
    long rounds = 0;
    bool well = false;
    while (!Interrupted.load()) {
        overview.Tick();
        PrintTrace(trace.get());
        if (overview.CompletedRounds() > printed) {
            printed = overview.CompletedRounds();
            ++rounds;
            well = overview.AllWell();
            if (Options.Json) {
                TJson devices = TJson::array();
                for (const TOverviewRow& r : overview.Rows()) devices.push_back(RowJson(r));
                std::cout << JsonText({{"round", rounds}, {"ok", well}, {"devices", devices}}) << '\n';
            } else {
                if (rounds > 1) std::cout << '\n';
                PrintTable(overview.Rows());
            }
            std::cout.flush();
            if (!Options.Watch || (Options.Count && rounds >= *Options.Count)) break;
        }
        std::unique_lock lock(signal->Lock);
        signal->Arrived.wait_for(lock, std::chrono::milliseconds(10), [&] { return signal->Pending; });
        signal->Pending = false;
    }
    overview.Stop();
    overview.Results()->SetNotifier(nullptr);
    for (auto& [id, line] : lines) line->StopWorker();
    PrintTrace(trace.get());
    return rounds > 0 && well ? kExitOk : kExitFailed;
}

}  // namespace tovik::cli
