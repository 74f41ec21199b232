// tovik-cli: every relay operation of the service tool from the command line.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "panel/AlarmJournal.h"
#include "app/Configuration.h"
#include "panel/TaskLog.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "panel/DeviceView.h"
#include "panel/SettingsView.h"
#include "protocol/UstTable.h"
#include "tools/cli/CliOptions.h"
#include "tools/cli/CliSession.h"
#include "tools/cli/PanelCycle.h"
#include "tools/cli/SystemLocale.h"
#include "tools/config/Json.h"

namespace tovik::cli {
namespace {

using tool::JsonString;

constexpr const char* kMsgNoAnswer = "Устройство не отвечает.";
constexpr const char* kMsgNoConnection = "Не настроено подключение.";
constexpr const char* kMsgBadLogin = "Неверное имя пользователя или пароль.";
constexpr const char* kMsgCommandFailed = "Команда не выполнена: устройство не подтвердило её.";

// Ends the command with a message and an exit code.
struct TExit {
    int Code;
    std::string Message;
};

void Say(const std::string& text) {
    std::cerr << "tovik-cli: " << text << '\n';
}

std::string ProgramDir() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return ".";
    const std::string path(buf.data(), static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

// Lines of a text with CR LF line ends, without the ends.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string JsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + JsonString(items[i]);
    return out + "]";
}

std::string JsonGrid(const TTextGrid& grid) {
    std::string out = "[";
    for (size_t i = 0; i < grid.size(); ++i) out += (i ? "," : "") + JsonArray(grid[i]);
    return out + "]";
}

std::string Tsv(const TTextRow& row) {
    std::string out;
    for (size_t i = 0; i < row.size(); ++i) out += (i ? "\t" : "") + row[i];
    return out;
}

// ---- the command's surroundings ----

struct TContext {
    TCliOptions Options;
    TLocaleFormat Locale;

    std::shared_ptr<TRequestStats> Stats = std::make_shared<TRequestStats>();
    TUsers Users;
    TProtoPortList Ports{Stats};
    TDeviceList Devices;
    bool ConfigLoaded = false;

    std::unique_ptr<TTovikDevice> OwnDevice;
    TTovikDevice* Device = nullptr;
    TLineSettings Line;
    uint8_t AccessLevel = kReadOnlyAccess;

    uint8_t Kind() const { return Line.Kind; }
};

void LoadConfig(TContext& ctx) {
    if (ctx.ConfigLoaded) return;
    const std::string path = ctx.Options.ConfigPath.value_or(JoinPath(ProgramDir(), kConfigFileName));
    const TLoadResult result = LoadConfigurationFile(path, {ctx.Users, ctx.Ports, ctx.Devices});
    if (result.Fatal) {
        std::string text = path + ":";
        for (size_t i = 0; i < result.Messages.size(); ++i)
            text += " " + MessageWithReason(result.Messages[i], i == 0 ? result.Reason : std::string());
        throw TExit{kExitUsage, text};
    }
    for (const auto& m : result.Messages) Say(path + ": " + m);
    ctx.ConfigLoaded = true;
}

void ResolveLine(TContext& ctx) {
    const TCliOptions& o = ctx.Options;
    if (o.DeviceIndex) {
        LoadConfig(ctx);
        TDevice* d = ctx.Devices.GetDevice(*o.DeviceIndex);
        auto* device = dynamic_cast<TTovikDevice*>(d);
        if (!device)
            throw TExit{kExitUsage, "в файле конфигурации нет устройства " + std::to_string(*o.DeviceIndex)};
        ctx.Device = device;
        ctx.Line.Address = device->BusAddress;
        ctx.Line.Kind = device->GetDeviceKind();
        if (!o.Kind && !device->HasKnownKind())
            throw TExit{kExitUsage, "устройство " + std::to_string(*o.DeviceIndex) +
                                        ": неизвестный тип устройства " + std::to_string(ctx.Line.Kind) +
                                        " в файле конфигурации; ему ничего не отправляется"};
        if (const TProtoPort* port = ctx.Ports.FindById(device->PortId)) {
            ctx.Line.PortName = port->Name;
            ctx.Line.BusMode = port->Bus.load();
            ctx.Line.ReplyTimeout = port->ReplyTimeout.load();
            ctx.Line.RequestInterval = port->RequestInterval.load();
        } else if (!o.PortName) {
            throw TExit{kExitUsage, kMsgNoConnection};
        }
        if (o.Kind && *o.Kind != ctx.Line.Kind) device->SetDeviceKind(static_cast<uint8_t>(*o.Kind));
    } else {
        if (!o.PortName || !o.Kind || !o.Bus)
            throw TExit{kExitUsage, "нужны --device INDEX или --port NAME --kind K --bus N"};
        ctx.OwnDevice = std::make_unique<TTovikDevice>(static_cast<uint8_t>(*o.Kind));
        ctx.Device = ctx.OwnDevice.get();
    }
    if (o.PortName) ctx.Line.PortName = *o.PortName;
    if (o.Kind) ctx.Line.Kind = static_cast<uint8_t>(*o.Kind);
    if (o.Bus) ctx.Line.Address = static_cast<uint8_t>(*o.Bus);
    if (o.BusMode) ctx.Line.BusMode = true;
    ctx.Line.Trace = o.Trace;
    if (o.ReplyTimeout) ctx.Line.ReplyTimeout = *o.ReplyTimeout;
    if (o.RequestInterval) ctx.Line.RequestInterval = *o.RequestInterval;
    if (CheckPortName(ctx.Line.PortName) != TPortNameCheck::Ok)
        throw TExit{kExitUsage, "недопустимое имя порта \"" + ctx.Line.PortName + "\""};
}

// Checked before anything is sent: a refused command sends nothing.
void RequireChangeAccess(TContext& ctx) {
    const TCliOptions& o = ctx.Options;
    if (!o.User || !o.Password)
        throw TExit{kExitRefused, "команда изменяет устройство: нужны --user и --password"};
    LoadConfig(ctx);
    const int index = ctx.Users.FindUser(*o.User);
    const TUser* user = index >= 0 ? ctx.Users.Get(index) : nullptr;
    if (!user || user->Password != *o.Password) throw TExit{kExitRefused, kMsgBadLogin};
    ctx.AccessLevel = user->AccessLevel;
    if (!user->HasFullRights())
        throw TExit{kExitRefused,
                    "учётная запись \"" + user->Name + "\" только для чтения (\"Только чтение\")"};
}

void RequireItemAccess(const TContext& ctx, int item) {
    if (!SetpointWriteAllowed(ctx.AccessLevel, item))
        throw TExit{kExitRefused, "уставка " + std::to_string(item) + " (\"" + UstCellName(item) +
                                      "\") записывается только на сервисном уровне доступа"};
}

std::unique_ptr<TCliSession> OpenSession(const TContext& ctx) {
    auto session = std::make_unique<TCliSession>(ctx.Line);
    std::string error;
    if (!session->Open(error)) throw TExit{kExitFailed, error};
    return session;
}

// Runs one request and waits for it; true when the relay confirmed it.
template <class TBuilder, class... TArgs>
bool RunOne(TCliSession& session, TBuilder builder, TResultHandler handler, TArgs&&... args) {
    bool ok = false;
    session.Send(
        builder,
        [&ok, handler = std::move(handler)](uint8_t success, const TBlock* data) {
            ok = success != 0;
            if (handler) handler(success, data);
        },
        std::forward<TArgs>(args)...);
    if (!session.Drain()) return false;
    return ok;
}

// The state poll and the setpoint read, as the settings tab needs them.
void ReadStateAndSetpoints(TCliSession& session, TDeviceView& view, TTovikDevice& device) {
    std::optional<TStatePoll> poll;
    RunOne(
        session, RequestReadCell, [&](uint8_t ok, const TBlock* d) { poll = DecodeStatePoll(ok, d); },
        kUstModelRow);
    if (!poll) throw TExit{kExitFailed, kMsgNoAnswer};
    view.OnStatePoll(*poll);
    device.VariantByte = poll->VariantByte;
    RunOne(session, RequestReadUst, [&](uint8_t ok, const TBlock* d) { view.OnSetpoints(ok != 0, d); });
    if (!view.HasSetpoints()) throw TExit{kExitFailed, kMsgNoAnswer};
}

void ReadSetpointsOnly(TCliSession& session, TDeviceView& view) {
    RunOne(session, RequestReadUst, [&](uint8_t ok, const TBlock* d) { view.OnSetpoints(ok != 0, d); });
    if (!view.HasSetpoints()) throw TExit{kExitFailed, kMsgNoAnswer};
}

// ---- poll and watch ----

void NoArguments(const TContext& ctx) {
    if (!ctx.Options.Args.empty()) throw TExit{kExitUsage, ctx.Options.Command + " не принимает аргументов"};
}

std::string LabelsJson(const TDeviceView& view, const std::vector<TLabelId>& ids) {
    std::string out = "[";
    for (size_t i = 0; i < ids.size(); ++i)
        out += std::string(i ? "," : "") + "{\"name\":" + JsonString(LabelInfo(ids[i]).Name) +
               ",\"text\":" + JsonString(view.Label(ids[i])) + "}";
    return out + "]";
}

void PrintFullView(const TContext& ctx, const TPanelCycle& cycle) {
    const TDeviceView& view = cycle.View();
    if (ctx.Options.Json) {
        std::cout << "{\"kind\":" << int(ctx.Kind())
                  << ",\"kind_name\":" << JsonString(DeviceKindName(ctx.Kind()))
                  << ",\"ok\":" << (cycle.LastPollOk() ? "true" : "false")
                  << ",\"model\":" << JsonArray(SplitLines(view.ModelText()))
                  << ",\"labels\":" << LabelsJson(view, view.VisibleLabels())
                  << ",\"status\":" << JsonString(view.StateStatusText()) << "}\n";
        return;
    }
    for (const auto& line : SplitLines(view.ModelText())) std::cout << line << '\n';
    std::cout << '\n';
    for (TLabelId id : view.VisibleLabels()) std::cout << view.Label(id) << '\n';
    std::cout << '\n' << view.StateStatusText() << '\n';
}

int Poll(TContext& ctx) {
    NoArguments(ctx);
    auto session = OpenSession(ctx);
    TPanelCycle cycle(*session, *ctx.Device, ctx.Locale);
    const bool ok = cycle.Run();
    if (Interrupted.load()) return kExitFailed;
    PrintFullView(ctx, cycle);
    std::cout.flush();
    if (!ok) throw TExit{kExitFailed, kMsgNoAnswer};
    return kExitOk;
}

int Watch(TContext& ctx) {
    NoArguments(ctx);
    auto session = OpenSession(ctx);
    TPanelCycle cycle(*session, *ctx.Device, ctx.Locale);
    std::map<TLabelId, std::string> shown;
    std::string shownStatus, shownModel;
    bool lastOk = false;
    using Clock = std::chrono::steady_clock;
    for (long n = 0; !ctx.Options.Count || n < *ctx.Options.Count; ++n) {
        const auto started = Clock::now();
        const bool ok = cycle.Run();
        if (Interrupted.load()) break;
        lastOk = ok;
        const TDeviceView& view = cycle.View();
        if (n == 0) {
            PrintFullView(ctx, cycle);
        } else {
            std::vector<TLabelId> changed;
            for (TLabelId id : view.VisibleLabels())
                if (shown[id] != view.Label(id)) changed.push_back(id);
            const bool statusChanged = view.StateStatusText() != shownStatus;
            const bool modelChanged = view.ModelText() != shownModel;
            if (ctx.Options.Json) {
                std::cout << "{\"cycle\":" << n + 1 << ",\"ok\":" << (ok ? "true" : "false");
                if (modelChanged) std::cout << ",\"model\":" << JsonArray(SplitLines(view.ModelText()));
                std::cout << ",\"labels\":" << LabelsJson(view, changed);
                if (statusChanged) std::cout << ",\"status\":" << JsonString(view.StateStatusText());
                std::cout << "}\n";
            } else {
                if (modelChanged)
                    for (const auto& line : SplitLines(view.ModelText())) std::cout << line << '\n';
                for (TLabelId id : changed) std::cout << view.Label(id) << '\n';
                if (statusChanged) std::cout << view.StateStatusText() << '\n';
            }
        }
        std::cout.flush();
        for (TLabelId id : view.VisibleLabels()) shown[id] = view.Label(id);
        shownStatus = view.StateStatusText();
        shownModel = view.ModelText();
        if (ctx.Options.Count && n + 1 >= *ctx.Options.Count) break;
        // The next poll waits for the request interval, counted from the
        // previous one.
        const auto due = started + std::chrono::milliseconds(ctx.Line.RequestInterval);
        while (Clock::now() < due && !Interrupted.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (Interrupted.load()) break;
    }
    // Ctrl+C is the ordinary end of an endless watch.
    if (!lastOk && !Interrupted.load()) throw TExit{kExitFailed, kMsgNoAnswer};
    return kExitOk;
}

// ---- settings ----

int ItemArgument(const TContext& ctx, const std::string& text) {
    const int count = SetpointItemCount(ctx.Kind());
    int item = -1;
    try {
        size_t used = 0;
        item = std::stoi(text, &used);
        if (used != text.size()) item = -1;
    } catch (const std::exception&) {
        item = -1;
    }
    if (item < 0 || item >= count)
        throw TExit{kExitUsage, "номер уставки \"" + text + "\" вне 0.." + std::to_string(count - 1) +
                                    " для \"" + DeviceKindName(ctx.Kind()) + "\""};
    return item;
}

void PrintSetpointRows(const TContext& ctx, const TDeviceView& view, const std::vector<int>& items,
                       const std::optional<std::string>& newText) {
    const auto* block = view.HasSetpoints() ? &view.SetpointBlock() : nullptr;
    if (ctx.Options.Json) {
        std::cout << "{\"kind\":" << int(ctx.Kind())
                  << ",\"model\":" << JsonString(ModelName(view.ModelByte(), ctx.Kind()))
                  << ",\"ktr\":" << view.Ktr() << ",\"rows\":[";
        for (size_t i = 0; i < items.size(); ++i) {
            const TSetpointRow r = SetpointRow(items[i], ctx.Kind(), view.ModelByte(),
                                               ctx.Device->VariantByte, block, ctx.Locale);
            std::cout << (i ? "," : "") << "{\"item\":" << items[i] << ",\"name\":" << JsonString(r.Name)
                      << ",\"min\":" << JsonString(r.Min) << ",\"max\":" << JsonString(r.Max)
                      << ",\"now\":" << JsonString(r.Now);
            if (newText) std::cout << ",\"new\":" << JsonString(*newText);
            std::cout << "}";
        }
        std::cout << "]}\n";
        return;
    }
    TTextRow header = {"№", kSetpointGridHeader[0], kSetpointGridHeader[1], kSetpointGridHeader[2],
                       kSetpointGridHeader[3]};
    if (newText) header.push_back(kSetpointGridHeader[4]);
    std::cout << Tsv(header) << '\n';
    for (int item : items) {
        const TSetpointRow r =
            SetpointRow(item, ctx.Kind(), view.ModelByte(), ctx.Device->VariantByte, block, ctx.Locale);
        TTextRow row = {std::to_string(item), r.Name, r.Min, r.Max, r.Now};
        if (newText) row.push_back(*newText);
        std::cout << Tsv(row) << '\n';
    }
}

int Setpoints(TContext& ctx) {
    NoArguments(ctx);
    auto session = OpenSession(ctx);
    TDeviceView view(ctx.Kind(), ctx.Locale);
    ReadStateAndSetpoints(*session, view, *ctx.Device);
    std::vector<int> items;
    for (int i = 0; i < SetpointItemCount(ctx.Kind()); ++i) items.push_back(i);
    PrintSetpointRows(ctx, view, items, std::nullopt);
    return kExitOk;
}

// Writes one item and shows its row as the relay holds it afterwards.
int WriteItem(TContext& ctx, TCliSession& session, TDeviceView& view, int item, const TUstRaw& raw) {
    const bool written = RunOne(session, RequestWriteCell, nullptr, item, raw);
    const std::string newText =
        FormatUstValue(raw, item, SetpointMultiplier(item, view.Ktr()), ctx.Kind(), ctx.Locale);
    ReadSetpointsOnly(session, view);
    PrintSetpointRows(ctx, view, {item}, newText);
    if (!written)
        throw TExit{kExitFailed,
                    "уставка " + std::to_string(item) + " не записана: устройство не подтвердило запись"};
    return kExitOk;
}

int Set(TContext& ctx) {
    if (ctx.Options.Args.size() != 2) throw TExit{kExitUsage, "set требует ITEM и TEXT"};
    const int item = ItemArgument(ctx, ctx.Options.Args[0]);
    const std::string& text = ctx.Options.Args[1];
    RequireChangeAccess(ctx);
    RequireItemAccess(ctx, item);
    // The grid would take text that is not a number as 0, which switches
    // protections off: refused before anything is sent.
    if (!ParseUstCell(text, 1, item, 0, 0, ctx.Locale).Numeric)
        throw TExit{kExitUsage, "\"" + text + "\" не " + (item == 20 ? "дата" : "число") + "; уставка " +
                                    std::to_string(item) + " не записана"};
    auto session = OpenSession(ctx);
    TDeviceView view(ctx.Kind(), ctx.Locale);
    ReadStateAndSetpoints(*session, view, *ctx.Device);
    const TUstParse parsed = ParseUstCell(text, view.ModelByte(), item, ctx.Device->VariantByte,
                                          SetpointMultiplier(item, view.Ktr()), ctx.Locale);
    if (!parsed.Numeric) throw TExit{kExitUsage, "\"" + text + "\" не число; уставка не записана"};
    return WriteItem(ctx, *session, view, item, parsed.Raw);
}

int Auto(TContext& ctx) {
    if (ctx.Options.Args.size() != 1 || (ctx.Options.Args[0] != "on" && ctx.Options.Args[0] != "off"))
        throw TExit{kExitUsage, "auto требует on или off"};
    RequireChangeAccess(ctx);
    RequireItemAccess(ctx, kUstAutoRow);
    auto session = OpenSession(ctx);
    TDeviceView view(ctx.Kind(), ctx.Locale);
    ReadStateAndSetpoints(*session, view, *ctx.Device);
    return WriteItem(ctx, *session, view, kUstAutoRow, MakeUstRaw(ctx.Options.Args[0] == "on" ? 1 : 0));
}

// ---- control commands ----

void PrintDone(const TContext& ctx, const std::string& extra = "") {
    if (ctx.Options.Json)
        std::cout << "{\"command\":" << JsonString(ctx.Options.Command) << ",\"ok\":true" << extra << "}\n";
}

template <class TBuilder, class... TArgs>
int Control(TContext& ctx, TBuilder builder, TArgs&&... args) {
    NoArguments(ctx);
    RequireChangeAccess(ctx);
    auto session = OpenSession(ctx);
    if (!RunOne(*session, builder, nullptr, std::forward<TArgs>(args)...))
        throw TExit{kExitFailed, kMsgCommandFailed};
    PrintDone(ctx);
    return kExitOk;
}

int ClearAlarms(TContext& ctx) {
    NoArguments(ctx);
    RequireChangeAccess(ctx);
    auto session = OpenSession(ctx);
    const bool ok = RunOne(*session, RequestClearAlarms, nullptr);
    // The cache goes whether or not the relay confirmed: records still in its
    // journal come back with the next fetch.
    ctx.Device->AlarmCache.clear();
    if (!ok) throw TExit{kExitFailed, kMsgCommandFailed};
    PrintDone(ctx);
    return kExitOk;
}

int ResetCounters(TContext& ctx) {
    if (ctx.Kind() == kKindTovikMModbus) return ClearAlarms(ctx);
    return Control(ctx, RequestResetAlarmCounters);
}

int SyncClock(TContext& ctx) {
    NoArguments(ctx);
    RequireChangeAccess(ctx);
    auto session = OpenSession(ctx);
    const TLocalTime now = LocalTimeNow();
    if (!RunOne(*session,
                static_cast<bool (*)(TProtoPort&, uint8_t, int32_t, uint8_t, TEvents, TResultHandler,
                                     const TLocalTime&)>(RequestSetClock),
                nullptr, now))
        throw TExit{kExitFailed, kMsgCommandFailed};
    const std::array<uint8_t, 6> t = {
        static_cast<uint8_t>(now.Hour),   static_cast<uint8_t>(now.Minute),
        static_cast<uint8_t>(now.Second), static_cast<uint8_t>(now.Day),
        static_cast<uint8_t>(now.Month),  static_cast<uint8_t>(std::clamp(now.Year - 2000, 0, 255))};
    const std::string text = FormatDateTime(t, ctx.Locale);
    if (ctx.Options.Json)
        PrintDone(ctx, ",\"time\":" + JsonString(text));
    else
        std::cout << text << '\n';
    return kExitOk;
}

// ---- alarm journal ----

int Alarms(TContext& ctx) {
    NoArguments(ctx);
    auto session = OpenSession(ctx);
    TPanelCycle cycle(*session, *ctx.Device, ctx.Locale);
    TDeviceView view(ctx.Kind(), ctx.Locale);
    ReadSetpointsOnly(*session, view);  // the currents are shown with Kтр
    const bool fetched = cycle.FetchAlarms();
    const TTextGrid grid = AlarmGrid(ctx.Device->AlarmCache, view.Ktr(), ctx.Locale);
    const int relayCount = cycle.AlarmHeader()[0];
    if (ctx.Options.Json) {
        std::cout << "{\"relay_records\":" << relayCount << ",\"added\":" << cycle.AddedAlarms()
                  << ",\"complete\":" << (fetched ? "true" : "false") << ",\"grid\":" << JsonGrid(grid)
                  << "}\n";
    } else {
        std::cout << Tsv(grid[0]) << '\n';
        for (size_t r = 1; r <= ctx.Device->AlarmCache.size(); ++r) std::cout << Tsv(grid[r]) << '\n';
    }
    std::cout.flush();
    std::string error;
    if (ctx.Options.TextFile && !SaveAlarmTextFile(grid, *ctx.Options.TextFile, error))
        throw TExit{kExitFailed, error};
    if (ctx.Options.SheetFile &&
        !ExportGridToExcel(grid, {kAlarmColumnPixels.begin(), kAlarmColumnPixels.end()}, kAlarmSheetTitle,
                           *ctx.Options.SheetFile, error))
        throw TExit{kExitFailed, error};
    if (!fetched)
        throw TExit{kExitFailed, "журнал аварий прочитан не полностью: " + std::string(kMsgNoAnswer)};
    return kExitOk;
}

// ---- task log ----

bool ReadTaskLog(TCliSession& session, TTaskLog& log) {
    log.BeginRead();
    std::function<void(uint8_t, const TBlock*)> onEntry = [&](uint8_t ok, const TBlock* d) {
        if (const auto next = log.OnTaskEntry(ok != 0, d)) session.Send(RequestReadTask, onEntry, *next);
    };
    session.Send(RequestReadTask, onEntry, uint8_t{0});
    return session.Drain() && !log.ReadFailed();
}

void ReadTaskLogOrFail(TCliSession& session, TTaskLog& log) {
    if (!ReadTaskLog(session, log)) throw TExit{kExitFailed, kMsgNoAnswer};
}

void PrintTaskLog(const TContext& ctx, const TTaskLog& log) {
    const TTextGrid grid = log.Grid(ctx.Locale);
    if (ctx.Options.Json) {
        std::cout << "{\"count\":" << log.Count() << ",\"capacity\":" << int(log.Capacity())
                  << ",\"grid\":" << JsonGrid(grid) << "}\n";
        return;
    }
    std::cout << Tsv(grid[0]) << '\n';
    for (size_t r = 1; r <= log.Count(); ++r) std::cout << Tsv(grid[r]) << '\n';
    std::cout << "Заданий: " << log.Count() << " из " << int(log.Capacity()) << '\n';
}

int Tasks(TContext& ctx) {
    NoArguments(ctx);
    auto session = OpenSession(ctx);
    TTaskLog log;
    ReadTaskLogOrFail(*session, log);
    PrintTaskLog(ctx, log);
    return kExitOk;
}

// Task number N (from 1) of the argument; checked against the log later.
int TaskNumber(const std::string& text) {
    try {
        size_t used = 0;
        const int n = std::stoi(text, &used);
        if (used == text.size()) return n;
    } catch (const std::exception&) {
    }
    throw TExit{kExitUsage, kMsgSelectTaskRow};
}

// Re-reads and prints the log after a change; the change's own outcome decides.
int AfterTaskChange(const TContext& ctx, TCliSession& session, bool ok, const char* failMessage) {
    TTaskLog log;
    const bool read = ReadTaskLog(session, log);
    if (read) PrintTaskLog(ctx, log);
    if (!ok) throw TExit{kExitFailed, failMessage};
    if (!read) throw TExit{kExitFailed, kMsgNoAnswer};
    return kExitOk;
}

int TaskAdd(TContext& ctx) {
    NoArguments(ctx);
    RequireChangeAccess(ctx);
    auto session = OpenSession(ctx);
    TTaskLog log;
    ReadTaskLogOrFail(*session, log);
    if (log.IsFull()) throw TExit{kExitFailed, kMsgTaskLogFull};
    const TLocalTime now = LocalTimeNow();
    const bool ok =
        RunOne(*session, RequestAddTask, nullptr, static_cast<uint8_t>(log.Count()), MakeTaskEntry(now, now));
    return AfterTaskChange(ctx, *session, ok, kMsgTaskAddFailed);
}

int TaskDelete(TContext& ctx) {
    if (ctx.Options.Args.size() != 1) throw TExit{kExitUsage, "task-delete требует N"};
    const int n = TaskNumber(ctx.Options.Args[0]);
    RequireChangeAccess(ctx);
    auto session = OpenSession(ctx);
    TTaskLog log;
    ReadTaskLogOrFail(*session, log);
    if (n < 1 || static_cast<size_t>(n) > log.Count()) throw TExit{kExitUsage, kMsgSelectTaskRow};
    const bool ok = RunOne(*session, RequestDeleteTask, nullptr, static_cast<uint8_t>(n - 1),
                           static_cast<uint8_t>(log.Count()));
    return AfterTaskChange(ctx, *session, ok, kMsgTaskDeleteFailed);
}

int TaskClear(TContext& ctx) {
    NoArguments(ctx);
    RequireChangeAccess(ctx);
    auto session = OpenSession(ctx);
    const bool ok = RunOne(*session, RequestClearTasks, nullptr);
    return AfterTaskChange(ctx, *session, ok, kMsgTaskClearFailed);
}

int TaskSet(TContext& ctx) {
    if (ctx.Options.Args.size() != 3) throw TExit{kExitUsage, "task-set требует N START END"};
    const int n = TaskNumber(ctx.Options.Args[0]);
    RequireChangeAccess(ctx);
    // Text that is not a date and time would become the earliest time stamp.
    std::array<TUstParse, 2> times;
    for (size_t i = 0; i < 2; ++i) {
        times[i] = ParseUstValue(ctx.Options.Args[1 + i], UstCellDateTime, UstDateTimeLimits, 1, ctx.Locale);
        if (!times[i].Numeric)
            throw TExit{kExitUsage,
                        "\"" + ctx.Options.Args[1 + i] + "\" не дата и время; задание не записано"};
    }
    auto session = OpenSession(ctx);
    TTaskLog log;
    ReadTaskLogOrFail(*session, log);
    if (n < 1 || static_cast<size_t>(n) > log.Count())
        throw TExit{kExitUsage,
                    "нет задания " + std::to_string(n) + " (заданий: " + std::to_string(log.Count()) + ")"};
    const TTaskEntry entry = TaskEntryFromTimes(std::span<const uint8_t, 6>(times[0].Raw.data(), 6),
                                                std::span<const uint8_t, 6>(times[1].Raw.data(), 6));
    const bool ok = RunOne(*session, RequestWriteTask, nullptr, static_cast<uint8_t>(n - 1), entry);
    return AfterTaskChange(ctx, *session, ok, kMsgTaskWriteFailed);
}

// ---- calibration ----

int CalInfo(TContext& ctx) {
    NoArguments(ctx);
    if (IsModbusKind(ctx.Kind()))
        throw TExit{kExitFailed, "информация о калибровке не читается по ModBus"};
    auto session = OpenSession(ctx);
    TBlock reply;
    const bool ok = RunOne(*session, RequestReadCalInfo, [&](uint8_t, const TBlock* d) {
        if (d) reply = *d;
    });
    if (!ok || reply.size() < 3) throw TExit{kExitFailed, kMsgNoAnswer};
    if (ctx.Options.Json)
        std::cout << "{\"points\":" << int(reply[0])
                  << ",\"bytes\":" << JsonString(tool::HexBytes(reply.data(), 3)) << "}\n";
    else
        std::cout << "Точек калибровки на фазу: " << int(reply[0]) << '\n';
    return kExitOk;
}

// ---- dispatch ----

int RunCommand(TContext& ctx) {
    const std::string& c = ctx.Options.Command;
    if (c == "poll") return Poll(ctx);
    if (c == "watch") return Watch(ctx);
    if (c == "setpoints") return Setpoints(ctx);
    if (c == "set") return Set(ctx);
    if (c == "start") return Control(ctx, RequestStart);
    if (c == "stop") return Control(ctx, RequestStop);
    if (c == "reset-counters") return ResetCounters(ctx);
    if (c == "sync-clock") return SyncClock(ctx);
    if (c == "auto") return Auto(ctx);
    if (c == "alarms") return Alarms(ctx);
    if (c == "alarms-clear") return ClearAlarms(ctx);
    if (c == "tasks") return Tasks(ctx);
    if (c == "task-add") return TaskAdd(ctx);
    if (c == "task-delete") return TaskDelete(ctx);
    if (c == "task-clear") return TaskClear(ctx);
    if (c == "task-set") return TaskSet(ctx);
    if (c == "cal-info") return CalInfo(ctx);
    throw TExit{kExitUsage, "неизвестная команда \"" + c + "\" (см. tovik-cli --help)"};
}

bool KnownCommand(const std::string& c) {
    static const char* const known[] = {
        "poll",           "watch",       "setpoints",  "set",      "start",        "stop",
        "reset-counters", "sync-clock",  "auto",       "alarms",   "alarms-clear", "tasks",
        "task-add",       "task-delete", "task-clear", "task-set", "cal-info"};
    for (const char* k : known)
        if (c == k) return true;
    return false;
}

int Main(int argc, char** argv) {
    TContext ctx;
    const std::string error = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), ctx.Options);
    if (!error.empty()) throw TExit{kExitUsage, error + " (см. tovik-cli --help)"};
    if (ctx.Options.Help) {
        std::cout << CliHelpText();
        return kExitOk;
    }
    if (ctx.Options.Command.empty()) throw TExit{kExitUsage, "нет команды (см. tovik-cli --help)"};
    if (!KnownCommand(ctx.Options.Command)) return RunCommand(ctx);
    const bool watching = ctx.Options.Command == "watch";
    if (ctx.Options.Count && !watching) throw TExit{kExitUsage, "--count только для watch"};
    if ((ctx.Options.TextFile || ctx.Options.SheetFile) && ctx.Options.Command != "alarms")
        throw TExit{kExitUsage, "--txt и --xlsx только для alarms"};
    RegisterBuiltInKinds();
    RegisterUartSettingsPortClass();  // the file's ports never open a line
    ctx.Locale = SystemLocaleFormat();
    ResolveLine(ctx);
    InstallInterruptHandlers();
    return RunCommand(ctx);
}

}  // namespace
}  // namespace tovik::cli

int main(int argc, char** argv) {
    try {
        return tovik::cli::Main(argc, argv);
    } catch (const tovik::cli::TExit& e) {
        if (!e.Message.empty()) tovik::cli::Say(e.Message);
        return e.Code;
    } catch (const std::exception& e) {
        tovik::cli::Say(e.what());
        return tovik::cli::kExitFailed;
    }
}
