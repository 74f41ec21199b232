// tovik-cli: every relay operation of the service tool from the command line.
// A front end of the device panel's session: each relay command opens the
// session on the line, lets it read the relay as a panel opened on it does,
// and turns the command line into the session's intents; the rules that
// decide (access, availability, input) are the session's.
#include <algorithm>
#include <array>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "base/Program.h"
#include "panel/AlarmJournal.h"
#include "panel/DeviceView.h"
#include "panel/SetpointFile.h"
#include "panel/SetpointRestore.h"
#include "panel/SettingsView.h"
#include "panel/TaskLog.h"
#include "ports/ProtoUART.h"
#include "protocol/BusScan.h"
#include "protocol/Codecs.h"
#include "protocol/Outcome.h"
#include "protocol/UstTable.h"
#include "tools/cli/CliCommands.h"
#include "tools/cli/CliOptions.h"
#include "tools/cli/CliOverview.h"
#include "tools/cli/CliSession.h"
#include "tools/cli/SessionDriver.h"
#include "tools/cli/SystemLocale.h"
#include "tools/common/Json.h"

namespace tovik::cli {
namespace {

using tool::JsonText;
using tool::TJson;

constexpr const char* kMsgNoAnswer = "Устройство не отвечает.";
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

// One JSON object a line.
void PrintJson(const TJson& value) {
    std::cout << JsonText(value) << '\n';
}

std::string Tsv(const TTextRow& row) {
    std::string out;
    for (size_t i = 0; i < row.size(); ++i) out += (i ? "\t" : "") + row[i];
    return out;
}

// A message and how the request behind it ended.
std::string WithReason(const std::string& message, const TOutcome& outcome) {
    return message + " (" + OutcomeText(outcome) + ")";
}

}  // namespace

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
    std::string Account;  // as the configuration file spells it

    uint8_t Kind() const { return Line.Kind; }
};

namespace {

void LoadConfig(TContext& ctx) {
    if (ctx.ConfigLoaded) return;
    const std::string path =
        ConfigurationToRead(FindConfiguration(DefaultConfigSearch(ctx.Options.ConfigPath)));
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
    // A file of another version may hold any bus number; 0 would reach every
    // relay on the line that acts on broadcasts. (--bus is checked when read.)
    if (!IsValidBusAddress(ctx.Line.Address))
        throw TExit{kExitUsage, "устройство " + std::to_string(o.DeviceIndex.value_or(-1)) +
                                    ": номер на шине " + std::to_string(ctx.Line.Address) +
                                    " в файле конфигурации вне 1..250; ему ничего не отправляется"};
    if (CheckPortName(ctx.Line.PortName) != TPortNameCheck::Ok)
        throw TExit{kExitUsage, "недопустимое имя порта \"" + ctx.Line.PortName + "\""};
}

// The line alone, for work on every bus number of it: --port, or the port
// of --device in the configuration file.
void ResolvePort(TContext& ctx) {
    const TCliOptions& o = ctx.Options;
    if (o.DeviceIndex) {
        LoadConfig(ctx);
        const TDevice* device = ctx.Devices.GetDevice(*o.DeviceIndex);
        if (!device)
            throw TExit{kExitUsage, "в файле конфигурации нет устройства " + std::to_string(*o.DeviceIndex)};
        if (const TProtoPort* port = ctx.Ports.FindById(device->PortId)) {
            ctx.Line.PortName = port->Name;
            ctx.Line.ReplyTimeout = port->ReplyTimeout.load();
        } else if (!o.PortName) {
            throw TExit{kExitUsage, kMsgNoConnection};
        }
    } else if (!o.PortName) {
        throw TExit{kExitUsage, "нужны --port NAME или --device INDEX"};
    }
    if (o.PortName) ctx.Line.PortName = *o.PortName;
    if (o.ReplyTimeout) ctx.Line.ReplyTimeout = *o.ReplyTimeout;
    ctx.Line.Trace = o.Trace;
    if (CheckPortName(ctx.Line.PortName) != TPortNameCheck::Ok)
        throw TExit{kExitUsage, "недопустимое имя порта \"" + ctx.Line.PortName + "\""};
}

// ---- the account ----

// The account --user names, checked with --password; none without --user.
// `missingPassword` is said when --user comes without --password.
const TUser* Login(TContext& ctx, const std::string& missingPassword) {
    const TCliOptions& o = ctx.Options;
    if (!o.User) return nullptr;
    if (!o.Password) throw TExit{kExitRefused, missingPassword};
    LoadConfig(ctx);
    const int index = ctx.Users.FindUser(*o.User);
    const TUser* user = index >= 0 ? ctx.Users.Get(index) : nullptr;
    if (!user || user->Password != *o.Password) throw TExit{kExitRefused, kMsgBadLogin};
    return user;
}

// Asked of the session before anything is sent: a refused command sends nothing.
void Permit(TContext& ctx, TIntent intent, int item = -1) {
    constexpr const char* kNeedsAccount = "команда изменяет устройство: нужны --user и --password";
    const TUser* user = Login(ctx, kNeedsAccount);
    if (user) {
        ctx.AccessLevel = user->AccessLevel;
        ctx.Account = user->Name;
    }
    const auto refused = AccessRefusal(PanelAccess(ctx.AccessLevel), intent, item);
    if (!refused) return;
    if (refused->Reason == TRefusalReason::ServiceOnly)
        throw TExit{kExitRefused, "уставка " + std::to_string(item) + " (\"" + UstCellName(item) +
                                      "\") записывается только на сервисном уровне доступа"};
    if (!user) throw TExit{kExitRefused, kNeedsAccount};
    throw TExit{kExitRefused, "учётная запись \"" + user->Name + "\" только для чтения (\"Только чтение\")"};
}

// ---- the session on the line ----

std::unique_ptr<TCliSession> OpenLine(const TContext& ctx) {
    auto line = std::make_unique<TCliSession>(ctx.Line);
    std::string error;
    if (!line->Open(error)) throw TExit{kExitFailed, error};
    return line;
}

// The panel's session on the command's line, with the command's account.
struct TRelay {
    std::unique_ptr<TCliSession> Line;
    std::unique_ptr<TSessionDriver> Driver;
    TTovikPanel& Panel() { return Driver->Panel(); }
};

TRelay OpenRelay(const TContext& ctx) {
    TRelay relay;
    relay.Line = OpenLine(ctx);
    relay.Driver =
        std::make_unique<TSessionDriver>(*relay.Line, *ctx.Device, ctx.Locale, ctx.AccessLevel, ctx.Account);
    return relay;
}

// How the last cycle's state poll ended, when it failed.
std::optional<TOutcome> PollFailure(const TTovikPanel& panel) {
    for (const TFailedRead& r : panel.Poll().FailedReads())
        if (r.Name == "state_poll") return r.Outcome;
    return std::nullopt;
}

// Why a request to the relay failed: no answer, its line gone, or an
// answer that was not taken.
std::string FailureText(const TContext& ctx, const TOutcome& why) {
    if (why.Status == TReplyStatus::NoAnswer) return kMsgNoAnswer;
    if (why.Status == TReplyStatus::NoLine) return ReasonText(why, ctx.Line.PortName);
    return "Запрос не выполнен: " + OutcomeText(why) + ".";
}

// Why the relay could not be read: how the last state poll ended.
std::string NoAnswerText(const TContext& ctx, const TTovikPanel& panel) {
    return FailureText(ctx, PollFailure(panel).value_or(TOutcome{}));
}

// The first poll cycle: the relay read as a panel opened on it reads it,
// its setpoints included.
TRelay ReadRelay(const TContext& ctx) {
    TRelay relay = OpenRelay(ctx);
    const bool answered = relay.Driver->Run();
    if (Interrupted.load()) throw TExit{kExitFailed, kMsgNoAnswer};
    if (!answered || !relay.Panel().Files().Ready())
        throw TExit{kExitFailed, NoAnswerText(ctx, relay.Panel())};
    return relay;
}

// The exit code of a refused intent.
int RefusalExit(TRefusalReason reason) {
    switch (reason) {
        case TRefusalReason::ReadOnly:
        case TRefusalReason::ServiceOnly:
            return kExitRefused;
        case TRefusalReason::BadInput:
        case TRefusalReason::NoSelection:
        case TRefusalReason::OtherKind:
            return kExitUsage;
        default:
            return kExitFailed;
    }
}

// Carries out an intent and waits for what came of it: refused, or sent and
// not answered, ends the command (`failed`: what a failure says).
TIntentResult Carry(TRelay& relay, const TIntentResult& intent,
                    const std::string& failed = kMsgCommandFailed) {
    const TIntentResult r = relay.Driver->Await(intent);
    switch (r.State) {
        case TIntentState::Refused:
            throw TExit{RefusalExit(r.Reason), r.Text.empty() ? kMsgNoAnswer : r.Text};
        case TIntentState::Sent:
            throw TExit{kExitFailed, kMsgNoAnswer};
        case TIntentState::Failed:
            if (!failed.empty())
                throw TExit{kExitFailed, r.Text.empty() ? WithReason(failed, r.Outcome) : r.Text};
            break;
        case TIntentState::Done:
            break;
    }
    return r;
}

// ---- poll and watch ----

// The reads of a cycle as the messages name them.
std::string ReadName(const std::string& name) {
    static const std::map<std::string, std::string> kNames = {
        {"state_poll", "опрос состояния"},
        {"setpoints", "уставки"},
        {"calibration_info", "калибровка"},
        {"task_log", "журнал заданий"},
        {"currents", "токи фаз"},
        {"max_current", "максимальный ток"},
        {"timers", "таймеры защит"},
        {"alarm_counters", "счётчики аварий"},
        {"state", "состояние"},
        {"alarm_count", "число аварий"},
        {"alarm_records", "записи журнала аварий"},
        {"clock", "часы"},
        {"statistics", "статистика"},
    };
    const auto it = kNames.find(name);
    return it != kNames.end() ? it->second + " (" + name + ")" : name;
}

// The reads of a cycle that failed and why: those the relay did not
// answer, those answered with something that was not taken, each with how
// it ended, and first of all a line that is gone.
std::string FailedReadsText(const TContext& ctx, const std::vector<TFailedRead>& failed) {
    std::string unanswered, lineGone;
    std::vector<std::string> parts;
    for (const TFailedRead& r : failed) {
        if (r.Outcome.Status == TReplyStatus::NoLine) {
            if (lineGone.empty()) lineGone = ReasonText(r.Outcome, ctx.Line.PortName);
        } else if (r.Outcome.Status == TReplyStatus::NoAnswer) {
            unanswered += (unanswered.empty() ? "" : ", ") + ReadName(r.Name);
        } else {
            parts.push_back("чтение " + ReadName(r.Name) + ": " + OutcomeText(r.Outcome));
        }
    }
    if (!unanswered.empty()) parts.insert(parts.begin(), "нет ответа на чтение: " + unanswered);
    if (!lineGone.empty()) parts.insert(parts.begin(), lineGone);
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

TJson LabelsJson(const TDeviceView& view, const std::vector<TLabelId>& ids) {
    TJson labels = TJson::array();
    for (TLabelId id : ids) labels.push_back({{"name", LabelInfo(id).Name}, {"text", view.Label(id)}});
    return labels;
}

std::vector<std::string> FailedReads(const TTovikPanel& panel) {
    return ReadNames(panel.Poll().FailedReads());
}

// Each failed read with how it ended.
TJson FailureReasons(const TTovikPanel& panel) {
    TJson reasons = TJson::object();
    for (const TFailedRead& r : panel.Poll().FailedReads()) reasons[r.Name] = OutcomeText(r.Outcome);
    return reasons;
}

// Every read of the cycle answered.
bool CycleComplete(bool answered, const TTovikPanel& panel) {
    return answered && panel.Poll().FailedReads().empty();
}

void PrintFullView(const TContext& ctx, const TTovikPanel& panel, bool answered) {
    const TDeviceView& view = panel.Data().View();
    if (ctx.Options.Json) {
        TJson out;
        out["kind"] = ctx.Kind();
        out["kind_name"] = DeviceKindName(ctx.Kind());
        out["ok"] = CycleComplete(answered, panel);
        out["failed"] = FailedReads(panel);
        out["reasons"] = FailureReasons(panel);
        out["model"] = SplitLines(view.ModelText());
        out["labels"] = LabelsJson(view, view.VisibleLabels());
        out["status"] = panel.Data().StatusText();
        PrintJson(out);
        return;
    }
    for (const auto& line : SplitLines(view.ModelText())) std::cout << line << '\n';
    std::cout << '\n';
    for (TLabelId id : view.VisibleLabels()) std::cout << view.Label(id) << '\n';
    std::cout << '\n' << panel.Data().StatusText() << '\n';
}

int Poll(TContext& ctx) {
    TRelay relay = OpenRelay(ctx);
    const bool answered = relay.Driver->Run();
    if (Interrupted.load()) return kExitFailed;
    PrintFullView(ctx, relay.Panel(), answered);
    std::cout.flush();
    if (!answered) throw TExit{kExitFailed, NoAnswerText(ctx, relay.Panel())};
    // Labels of reads that failed show "Н/Д": not a finished poll.
    if (!relay.Panel().Poll().FailedReads().empty())
        throw TExit{kExitFailed, FailedReadsText(ctx, relay.Panel().Poll().FailedReads())};
    return kExitOk;
}

int Watch(TContext& ctx) {
    TRelay relay = OpenRelay(ctx);
    const TTovikPanel& panel = relay.Panel();
    std::map<TLabelId, std::string> shown;
    std::string shownStatus, shownModel;
    bool lastAnswered = false, lastComplete = false;
    for (long n = 0; !ctx.Options.Count || n < *ctx.Options.Count; ++n) {
        const bool answered = relay.Driver->Run();
        if (Interrupted.load()) break;
        lastAnswered = answered;
        lastComplete = CycleComplete(answered, panel);
        const TDeviceView& view = panel.Data().View();
        if (n == 0) {
            PrintFullView(ctx, panel, answered);
        } else {
            std::vector<TLabelId> changed;
            for (TLabelId id : view.VisibleLabels())
                if (shown[id] != view.Label(id)) changed.push_back(id);
            const bool statusChanged = panel.Data().StatusText() != shownStatus;
            const bool modelChanged = view.ModelText() != shownModel;
            if (ctx.Options.Json) {
                TJson out;
                out["cycle"] = n + 1;
                out["ok"] = lastComplete;
                out["failed"] = FailedReads(panel);
                out["reasons"] = FailureReasons(panel);
                if (modelChanged) out["model"] = SplitLines(view.ModelText());
                out["labels"] = LabelsJson(view, changed);
                if (statusChanged) out["status"] = panel.Data().StatusText();
                PrintJson(out);
            } else {
                if (modelChanged)
                    for (const auto& line : SplitLines(view.ModelText())) std::cout << line << '\n';
                for (TLabelId id : changed) std::cout << view.Label(id) << '\n';
                if (statusChanged) std::cout << panel.Data().StatusText() << '\n';
            }
        }
        std::cout.flush();
        if (!panel.Poll().FailedReads().empty())
            Say("цикл " + std::to_string(n + 1) + ": " + FailedReadsText(ctx, panel.Poll().FailedReads()));
        for (TLabelId id : view.VisibleLabels()) shown[id] = view.Label(id);
        shownStatus = panel.Data().StatusText();
        shownModel = view.ModelText();
        // The panel sends the next poll when the request interval has passed
        // since the previous one.
        if (ctx.Options.Count && n + 1 >= *ctx.Options.Count) break;
    }
    // Ctrl+C is the ordinary end of an endless watch; otherwise the last
    // cycle decides.
    if (!lastComplete && !Interrupted.load())
        throw TExit{kExitFailed,
                    lastAnswered ? "последний цикл прочитан не полностью" : NoAnswerText(ctx, panel)};
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

// Rows of the settings grid as the session shows them; with `newText`, the
// "новое" column too.
void PrintSetpointRows(const TContext& ctx, const TTovikPanel& panel, const std::vector<int>& items,
                       const std::optional<std::string>& newText) {
    const TTextGrid& grid = panel.Settings().Grid();
    const TDeviceView& view = panel.Data().View();
    if (ctx.Options.Json) {
        TJson out;
        out["kind"] = ctx.Kind();
        out["model"] = ModelName(view.ModelByte(), ctx.Kind());
        out["ktr"] = view.Ktr();
        out["rows"] = TJson::array();
        for (int item : items) {
            const TTextRow& r = grid.at(static_cast<size_t>(item) + 1);
            TJson row = {{"item", item}, {"name", r[0]}, {"min", r[1]}, {"max", r[2]}, {"now", r[3]}};
            if (newText) row["new"] = *newText;
            out["rows"].push_back(std::move(row));
        }
        PrintJson(out);
        return;
    }
    TTextRow header = {"№", kSetpointGridHeader[0], kSetpointGridHeader[1], kSetpointGridHeader[2],
                       kSetpointGridHeader[3]};
    if (newText) header.push_back(kSetpointGridHeader[4]);
    std::cout << Tsv(header) << '\n';
    for (int item : items) {
        const TTextRow& r = grid.at(static_cast<size_t>(item) + 1);
        TTextRow row = {std::to_string(item), r[0], r[1], r[2], r[3]};
        if (newText) row.push_back(*newText);
        std::cout << Tsv(row) << '\n';
    }
}

// ---- setpoint files ----

// The account a setpoint file names: --user, checked with --password when
// given; none without --user.
std::string FileAccount(TContext& ctx) {
    const TUser* user = Login(ctx, "--user без --password");
    return user ? user->Name : std::string();
}

TSetpointFile LoadFileOrFail(const std::string& path) {
    TSetpointFileRead read = LoadSetpointFile(path);
    if (!read.File) throw TExit{kExitUsage, "файл уставок не прочитан: " + read.Error};
    return std::move(*read.File);
}

int SaveSetpoints(TContext& ctx) {
    ctx.Account = FileAccount(ctx);
    // A relay given by its line alone has no installation name.
    if (ctx.OwnDevice) ctx.Device->InstallationName.clear();
    TRelay relay = ReadRelay(ctx);
    const auto file = relay.Panel().Files().FileNow();
    if (!file) throw TExit{kExitFailed, kMsgNoAnswer};
    std::string error;
    if (!SaveSetpointFile(*ctx.Options.SaveFile, *file, error)) throw TExit{kExitFailed, error};
    if (ctx.Options.Json) PrintJson({{"saved", *ctx.Options.SaveFile}, {"items", file->Items.size()}});
    return kExitOk;
}

int CompareSetpointsWithFile(TContext& ctx) {
    const TSetpointFile file = LoadFileOrFail(*ctx.Options.CompareFile);
    TRelay relay = ReadRelay(ctx);
    const TSetpointComparison* c = relay.Panel().Files().Compare(file);
    if (!c) throw TExit{kExitFailed, kMsgNoAnswer};
    if (!c->Notice.empty()) Say(c->Notice);
    if (ctx.Options.Json) {
        TJson out;
        out["equal"] = c->Differing() == 0 && c->SameKind;
        out["same_kind"] = c->SameKind;
        out["same_model"] = c->SameModel;
        out["differences"] = TJson::array();
        for (const TSetpointDiff& d : c->Items)
            if (d.Differs)
                out["differences"].push_back({{"item", d.Item},
                                              {"name", UstCellName(d.Item)},
                                              {"relay", d.RelayText},
                                              {"file", d.InFile ? TJson(d.FileText) : TJson(nullptr)}});
        PrintJson(out);
    } else {
        std::cout << Tsv({"№", kSetpointGridHeader[0], "сейчас", "в файле"}) << '\n';
        for (const TSetpointDiff& d : c->Items)
            if (d.Differs)
                std::cout << Tsv({std::to_string(d.Item), UstCellName(d.Item), d.RelayText,
                                  d.InFile ? d.FileText : "нет в файле"})
                          << '\n';
    }
    std::cout.flush();
    // Equal only when the file is of this kind and every item matches.
    return c->Differing() == 0 && c->SameKind ? kExitOk : kExitFailed;
}

void CheckSetpoints(const TContext& ctx) {
    if (ctx.Options.SaveFile && ctx.Options.CompareFile)
        throw TExit{kExitUsage, "--save и --compare вместе не используются"};
}

void CheckRestore(const TContext& ctx) {
    LoadFileOrFail(ctx.Options.Args[0]);
}

int PrintRestoreReport(const TContext& ctx, const TRestoreReport& report) {
    if (ctx.Options.Json) {
        TJson out;
        out["written"] = report.Written;
        out["read_back"] = report.ReadBack;
        out["all_written_match"] = report.WrittenAllMatch();
        out["items"] = TJson::array();
        for (const TRestoreResult& r : report.Items)
            out["items"].push_back({{"item", r.Item},
                                    {"name", UstCellName(r.Item)},
                                    {"file", r.FileText},
                                    {"relay", r.RelayText},
                                    {"matches", r.Matches},
                                    {"action", RestoreActionText(r.Action)}});
        PrintJson(out);
    } else {
        std::string text = RestoreReportText(report);
        if (!text.empty() && text.back() != '\n') text += '\n';
        std::cout << text;
    }
    std::cout.flush();
    return report.WrittenAllMatch() ? kExitOk : kExitFailed;
}

int Restore(TContext& ctx) {
    Permit(ctx, TIntent::RestoreSetpoints);
    const TSetpointFile file = LoadFileOrFail(ctx.Options.Args[0]);
    TRelay relay = ReadRelay(ctx);
    TSetpointFiles& files = relay.Panel().Files();
    // Another kind, or nothing the rules let through: refused before anything is sent.
    const TIntentResult started = files.Restore(file);
    if (started.Refused()) throw TExit{RefusalExit(started.Reason), started.Text};
    if (file.ModelByte != relay.Panel().Data().View().ModelByte())
        Say("файл сохранён с устройства другой модели (" + std::to_string(file.ModelByte) +
            "); значения проверены по пределам модели этого устройства");
    Carry(relay, started, "");
    if (!files.LastRestore()) throw TExit{kExitFailed, kMsgNoAnswer};
    return PrintRestoreReport(ctx, *files.LastRestore());
}

int Setpoints(TContext& ctx) {
    if (ctx.Options.SaveFile) return SaveSetpoints(ctx);
    if (ctx.Options.CompareFile) return CompareSetpointsWithFile(ctx);
    TRelay relay = ReadRelay(ctx);
    std::vector<int> items;
    for (int i = 0; i < SetpointItemCount(ctx.Kind()); ++i) items.push_back(i);
    PrintSetpointRows(ctx, relay.Panel(), items, std::nullopt);
    return kExitOk;
}

// After a write of item `item`: the setpoints read again and the item's row
// shown as the relay holds it, with the value written.
int ShowWritten(const TContext& ctx, TRelay& relay, int item, const TIntentResult& written,
                const std::string& newText) {
    if (!relay.Driver->Run() || !relay.Panel().Files().Ready())
        throw TExit{kExitFailed, NoAnswerText(ctx, relay.Panel())};
    PrintSetpointRows(ctx, relay.Panel(), {item}, newText);
    if (written.State == TIntentState::Failed)
        throw TExit{kExitFailed, WithReason("уставка " + std::to_string(item) +
                                                " не записана: устройство не подтвердило запись",
                                            written.Outcome)};
    return kExitOk;
}

// The grid would take text that is not a number as 0, which switches
// protections off: refused before anything is sent.
void CheckSet(const TContext& ctx) {
    const int item = ItemArgument(ctx, ctx.Options.Args[0]);
    const std::string& text = ctx.Options.Args[1];
    if (!SetpointTextIsValue(item, text, ctx.Locale))
        throw TExit{kExitUsage, "\"" + text + "\" не " + (item == 20 ? "дата" : "число") + "; уставка " +
                                    std::to_string(item) + " не записана"};
}

int Set(TContext& ctx) {
    const int item = ItemArgument(ctx, ctx.Options.Args[0]);
    Permit(ctx, TIntent::WriteSetpoint, item);
    TRelay relay = ReadRelay(ctx);
    const TIntentResult written =
        Carry(relay, relay.Panel().Settings().WriteSetpoint(item, ctx.Options.Args[1]), "");
    const std::string newText = relay.Panel().Settings().Grid().at(static_cast<size_t>(item) + 1)[4];
    return ShowWritten(ctx, relay, item, written, newText);
}

void CheckAuto(const TContext& ctx) {
    if (ctx.Options.Args[0] != "on" && ctx.Options.Args[0] != "off")
        throw TExit{kExitUsage, "auto требует on или off"};
}

int Auto(TContext& ctx) {
    Permit(ctx, TIntent::Automation);
    TRelay relay = ReadRelay(ctx);
    const bool on = ctx.Options.Args[0] == "on";
    const TIntentResult written = Carry(relay, relay.Panel().Data().SetAutomation(on), "");
    return ShowWritten(ctx, relay, kUstAutoRow, written,
                       FormatUstValue(MakeUstRaw(on ? 1 : 0), kUstAutoRow, 0, ctx.Kind(), ctx.Locale));
}

// ---- control commands ----

void PrintDone(const TContext& ctx, const TJson& extra = TJson::object()) {
    if (!ctx.Options.Json) return;
    TJson out = {{"command", ctx.Options.Command}, {"ok", true}};
    for (const auto& [key, value] : extra.items()) out[key] = value;
    PrintJson(out);
}

// A command of the data tab (or the alarm log's "Очистить"), as its button does it.
int Control(TContext& ctx, TIntent intent, TIntentResult (*act)(TTovikPanel&)) {
    Permit(ctx, intent);
    TRelay relay = ReadRelay(ctx);
    Carry(relay, act(relay.Panel()));
    PrintDone(ctx);
    return kExitOk;
}

int Start(TContext& ctx) {
    return Control(ctx, TIntent::Start, [](TTovikPanel& p) { return p.Data().Start(); });
}

int Stop(TContext& ctx) {
    return Control(ctx, TIntent::Stop, [](TTovikPanel& p) { return p.Data().Stop(); });
}

int ClearAlarms(TContext& ctx) {
    return Control(ctx, TIntent::ClearAlarms, [](TTovikPanel& p) { return p.Alarms().Clear(); });
}

int ResetCounters(TContext& ctx) {
    return Control(ctx, TIntent::ResetCounters, [](TTovikPanel& p) { return p.Data().ResetCounters(); });
}

int SyncClock(TContext& ctx) {
    Permit(ctx, TIntent::SyncClock);
    TRelay relay = ReadRelay(ctx);
    Carry(relay, relay.Panel().Data().SyncClock());
    std::array<uint8_t, 6> t = relay.Panel().Data().ClockPayload();
    const std::string text = FormatDateTime(t, ctx.Locale);
    if (ctx.Options.Json)
        PrintDone(ctx, {{"time", text}});
    else
        std::cout << text << '\n';
    return kExitOk;
}

// ---- alarm journal ----

int Alarms(TContext& ctx) {
    // The first cycle fetches every record of a journal the panel has not
    // fetched yet; the currents are shown with Kтр.
    TRelay relay = ReadRelay(ctx);
    const TAlarmLogTab& alarms = relay.Panel().Alarms();
    const bool fetched = !alarms.FetchFailed();
    const TTextGrid& grid = alarms.Grid();
    const int relayCount = alarms.AlarmHeader()[0];
    if (ctx.Options.Json) {
        PrintJson({{"relay_records", relayCount},
                   {"added", alarms.AddedAlarms()},
                   {"complete", fetched},
                   {"grid", grid}});
    } else {
        std::cout << Tsv(grid[0]) << '\n';
        for (size_t r = 1; r <= ctx.Device->AlarmCache.size(); ++r) std::cout << Tsv(grid[r]) << '\n';
    }
    std::cout.flush();
    // The files need no account: the client reads only.
    std::string error;
    if (ctx.Options.TextFile && !SaveAlarmTextFile(grid, *ctx.Options.TextFile, error))
        throw TExit{kExitFailed, error};
    if (ctx.Options.SheetFile &&
        !ExportGridToExcel(grid, {kAlarmColumnPixels.begin(), kAlarmColumnPixels.end()}, kAlarmSheetTitle,
                           *ctx.Options.SheetFile, error))
        throw TExit{kExitFailed, error};
    if (!fetched) {
        const auto& failed = relay.Panel().Poll().FailedReads();
        throw TExit{kExitFailed,
                    "журнал аварий прочитан не полностью: " +
                        (failed.empty() ? std::string(kMsgNoAnswer) : FailedReadsText(ctx, failed))};
    }
    return kExitOk;
}

// ---- task log ----

// Whether the session's last read of the task log went to its end.
bool TaskLogRead(const TTovikPanel& panel) {
    const TTaskLog& log = panel.TaskLog().Log();
    return log.Known() && !log.ReadFailed() && !panel.Poll().Flags().TaskLogReading;
}

// Why the session's last read of the task log ended early: what it told
// the operator, or how the reads of the cycle failed.
std::string TaskLogProblem(const TContext& ctx, TTovikPanel& panel) {
    std::string why;
    for (const TPanelMessage& m : panel.TakeMessages()) why += (why.empty() ? "" : " ") + m.Text;
    if (!why.empty()) return why;
    const auto& failed = panel.Poll().FailedReads();
    return failed.empty() ? kMsgNoAnswer : FailedReadsText(ctx, failed);
}

TRelay ReadTaskLogOrFail(const TContext& ctx) {
    TRelay relay = ReadRelay(ctx);
    if (!TaskLogRead(relay.Panel())) throw TExit{kExitFailed, TaskLogProblem(ctx, relay.Panel())};
    return relay;
}

void PrintTaskLog(const TContext& ctx, const TTaskLog& log) {
    const TTextGrid grid = log.Grid(ctx.Locale);
    if (ctx.Options.Json) {
        PrintJson({{"count", log.Count()}, {"capacity", log.Capacity()}, {"grid", grid}});
        return;
    }
    std::cout << Tsv(grid[0]) << '\n';
    for (size_t r = 1; r <= log.Count(); ++r) std::cout << Tsv(grid[r]) << '\n';
    std::cout << "Заданий: " << log.Count() << " из " << int(log.Capacity()) << '\n';
}

int Tasks(TContext& ctx) {
    TRelay relay = ReadTaskLogOrFail(ctx);
    PrintTaskLog(ctx, relay.Panel().TaskLog().Log());
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

// The entry of task number N, none for a number below 1.
std::optional<size_t> TaskEntry(int n) {
    if (n < 1) return std::nullopt;
    return static_cast<size_t>(n - 1);
}

// After a task command: the log as the session reads it next, then the
// command's own outcome decides.
int AfterTaskChange(const TContext& ctx, TRelay& relay, const TIntentResult& change,
                    const char* failMessage) {
    const bool read = relay.Driver->Run() && TaskLogRead(relay.Panel());
    if (read) PrintTaskLog(ctx, relay.Panel().TaskLog().Log());
    if (change.State == TIntentState::Failed)
        throw TExit{kExitFailed, WithReason(failMessage, change.Outcome)};
    if (!read) throw TExit{kExitFailed, TaskLogProblem(ctx, relay.Panel())};
    return kExitOk;
}

int TaskAdd(TContext& ctx) {
    Permit(ctx, TIntent::AddTask);
    TRelay relay = ReadTaskLogOrFail(ctx);
    const TIntentResult added = Carry(relay, relay.Panel().TaskLog().Add(), "");
    return AfterTaskChange(ctx, relay, added, kMsgTaskAddFailed);
}

void CheckTaskDelete(const TContext& ctx) {
    TaskNumber(ctx.Options.Args[0]);
}

int TaskDelete(TContext& ctx) {
    const int n = TaskNumber(ctx.Options.Args[0]);
    Permit(ctx, TIntent::DeleteTask);
    TRelay relay = ReadTaskLogOrFail(ctx);
    const TIntentResult deleted = Carry(relay, relay.Panel().TaskLog().Delete(TaskEntry(n)), "");
    return AfterTaskChange(ctx, relay, deleted, kMsgTaskDeleteFailed);
}

int TaskClear(TContext& ctx) {
    Permit(ctx, TIntent::ClearTasks);
    TRelay relay = ReadTaskLogOrFail(ctx);
    const TIntentResult asked = relay.Panel().TaskLog().Clear();
    // An empty log is cleared already.
    if (asked.Refused() && asked.Reason == TRefusalReason::NothingToDo) {
        PrintTaskLog(ctx, relay.Panel().TaskLog().Log());
        return kExitOk;
    }
    const TIntentResult cleared = Carry(relay, asked, "");
    return AfterTaskChange(ctx, relay, cleared, kMsgTaskClearFailed);
}

// Text that is not a date and time would become the earliest time stamp:
// read as the panel's task grid reads an edited entry.
void CheckTaskSet(const TContext& ctx) {
    TaskNumber(ctx.Options.Args[0]);
    const TTaskEdit edit = ParseTaskEdit(ctx.Options.Args[1], ctx.Options.Args[2], ctx.Locale);
    if (!edit.Error.empty()) throw TExit{kExitUsage, edit.Error};
}

int TaskSet(TContext& ctx) {
    const int n = TaskNumber(ctx.Options.Args[0]);
    Permit(ctx, TIntent::EditTask);
    TRelay relay = ReadTaskLogOrFail(ctx);
    TTaskLogTab& tasks = relay.Panel().TaskLog();
    const TIntentResult asked = tasks.EditEntry(TaskEntry(n).value_or(std::numeric_limits<size_t>::max()),
                                                TTaskField::Start, ctx.Options.Args[1], ctx.Options.Args[2]);
    if (asked.Refused() && asked.Reason == TRefusalReason::NoSelection)
        throw TExit{kExitUsage, "нет задания " + std::to_string(n) +
                                    " (заданий: " + std::to_string(tasks.Log().Count()) + ")"};
    const TIntentResult written = Carry(relay, asked, "");
    return AfterTaskChange(ctx, relay, written, kMsgTaskWriteFailed);
}

// ---- calibration ----

int CalInfo(TContext& ctx) {
    TRelay relay = OpenRelay(ctx);
    const TCalibrationTab& cal = relay.Panel().Calibration();
    const TIntentResult read = Carry(relay, relay.Panel().Calibration().ReadInformation(), "");
    if (read.State == TIntentState::Failed) throw TExit{kExitFailed, FailureText(ctx, read.Outcome)};
    const auto& reply = cal.Information();
    if (!reply || reply->size() < kCalInfoReplySize) throw TExit{kExitFailed, kMsgNoAnswer};
    if (ctx.Options.Json)
        PrintJson({{"points", (*reply)[0]}, {"bytes", tool::HexBytes(reply->data(), kCalInfoReplySize)}});
    else
        std::cout << "Точек калибровки на фазу: " << int((*reply)[0]) << '\n';
    return kExitOk;
}

// ---- scan ----

TScanOptions ScanOptionsOf(const TCliOptions& o) {
    TScanOptions options;
    options.From = o.ScanFrom.value_or(kMinBusAddress);
    options.To = o.ScanTo.value_or(kMaxBusAddress);
    // Neither named: both wire formats.
    if (o.ScanNative || o.ScanModbus) {
        options.Native = o.ScanNative;
        options.Modbus = o.ScanModbus;
    }
    options.TimeoutMs = o.ScanTimeout.value_or(kScanDefaultTimeoutMs);
    return options;
}

void CheckScan(const TContext& ctx) {
    const std::string wrong = CheckScanOptions(ScanOptionsOf(ctx.Options));
    if (!wrong.empty()) throw TExit{kExitUsage, wrong + " (см. tovik-cli scan --help)"};
}

std::vector<std::string> FindingFlags(const TScanFinding& f) {
    static const std::pair<uint32_t, const char*> kNames[] = {
        {ScanBothFormats, "both_formats"},
        {ScanDisagree, "disagree"},
        {ScanExtraReply, "extra_reply"},
        {ScanDamaged, "damaged"},
        {ScanLate, "late"},
        {ScanForeignAddress, "foreign_address"},
        {ScanException, "exception"},
    };
    std::vector<std::string> out;
    for (const auto& [flag, name] : kNames)
        if (f.Flags & flag) out.push_back(name);
    return out;
}

int Scan(TContext& ctx) {
    auto session = OpenLine(ctx);
    const TScanOptions options = ScanOptionsOf(ctx.Options);
    TBusScan scan(*session->LinePort(), options);
    if (!scan.Start()) throw TExit{kExitUsage, CheckScanOptions(options)};
    while (scan.Running()) {
        if (Interrupted.load()) {
            scan.Cancel();
            break;
        }
        scan.WaitForOutcome(50);
        scan.Pump();
        session->FlushTrace();
    }
    session->FlushTrace();

    const std::vector<TScanFinding> found = scan.Findings();
    const TScanProgress progress = scan.Progress();
    const bool lineDown = progress.Done > 0 && progress.NotSent == progress.Done;
    if (ctx.Options.Json) {
        TJson list = TJson::array();
        for (const TScanFinding& f : found) {
            TJson item = {
                {"bus", f.Address}, {"answered", f.Answered()}, {"native", f.Native}, {"modbus", f.Modbus}};
            if (f.HasModel) {
                item["model_byte"] = f.ModelByte;
                item["model"] = FindingModelText(f);
                item["description"] = SplitLines(ModelDescription(f.ModelByte, f.ProposedKind));
            }
            if (f.Answered()) {
                item["kind"] = f.ProposedKind;
                item["kind_name"] = DeviceKindName(f.ProposedKind);
                item["kind_certain"] = f.KindCertain;
            }
            if (f.ReplyMs >= 0) item["reply_ms"] = f.ReplyMs;
            if (f.Flags & ScanException) item["exception"] = f.ExceptionCode;
            if (f.Flags & ScanForeignAddress) item["answered_as"] = f.ForeignAddress;
            item["flags"] = FindingFlags(f);
            item["notes"] = FindingNotesText(f);
            list.push_back(std::move(item));
        }
        PrintJson({{"port", ctx.Line.PortName},
                   {"from", options.From},
                   {"to", options.To},
                   {"native", options.Native},
                   {"modbus", options.Modbus},
                   {"timeout_ms", options.TimeoutMs},
                   {"probes", progress.Done},
                   {"complete", scan.Finished()},
                   {"answered", scan.AnsweredCount()},
                   {"found", list}});
    } else if (!found.empty()) {
        std::cout << Tsv({"Номер", "Протокол", "Модель", "Тип", "Примечание"}) << '\n';
        for (const TScanFinding& f : found)
            std::cout << Tsv({std::to_string(f.Address), FindingFormatText(f), FindingModelText(f),
                              f.Answered() ? DeviceKindName(f.ProposedKind) : "", FindingNotesText(f)})
                      << '\n';
    }
    if (lineDown) throw TExit{kExitFailed, "запросы не переданы: порт " + ctx.Line.PortName + " не открыт"};
    if (scan.Cancelled()) throw TExit{kExitFailed, "поиск прерван"};
    if (scan.AnsweredCount() == 0) throw TExit{kExitFailed, "устройства не найдены"};
    return kExitOk;
}

// ---- overview ----

void CheckOverview(const TContext& ctx) {
    if ((ctx.Options.RequestInterval || ctx.Options.Count) && !ctx.Options.Watch)
        throw TExit{kExitUsage,
                    "--interval и --count только вместе с --watch (см. tovik-cli overview --help)"};
}

int Overview(TContext& ctx) {
    LoadConfig(ctx);
    if (ctx.Devices.Count() == 0) throw TExit{kExitUsage, "в файле конфигурации нет устройств"};
    TOverviewOptions options;
    options.Json = ctx.Options.Json;
    options.Trace = ctx.Options.Trace;
    options.Watch = ctx.Options.Watch;
    options.Count = ctx.Options.Count;
    options.IntervalMs = ctx.Options.RequestInterval.value_or(options.IntervalMs);
    return RunOverview(options, ctx.Locale, ctx.Ports, ctx.Devices);
}

// ---- the commands ----

constexpr bool kReads = false;
constexpr bool kChanges = true;

constexpr TCliCommand kCommands[] = {
    {"poll", "", 0, 0, kReads, kNoCommandOptions, nullptr, Poll,
     "the panel's first cycle: state poll, setpoint read, then\n"
     "currents, maximum current, timers, counters, state, alarm\n"
     "count (and the new journal records), clock and, for\n"
     "\"ТовикМ ModBus\", the operating statistics. Prints the\n"
     "model description, an empty line, the data labels as\n"
     "the panel shows them, an empty line and the state text\n"
     "of the status bar. Exits 1 when any read of the cycle\n"
     "failed and names the reads and how each failed (--json:\n"
     "\"failed\", \"reasons\"); a line that is gone is named."},
    {"watch", "[--count N]", 0, 0, kReads, kTakesCount, nullptr, Watch,
     "poll cycles paced by the request interval, until Ctrl+C\n"
     "or N cycles; after the first cycle only the labels (and\n"
     "the state text) that changed are printed. A cycle with\n"
     "failed reads names them and why (--json: \"failed\",\n"
     "\"reasons\") and goes on, a line that is gone too; the\n"
     "exit status follows the last cycle."},
    {"setpoints", "[--save FILE | --compare FILE]", 0, 0, kReads, kTakesSetpointFiles, CheckSetpoints,
     Setpoints,
     "the settings grid, tab-separated: item, \"Функция/\n"
     "наименование\", \"мин\", \"макс\", \"сейчас\".\n"
     "--save writes the setpoint file (docs/setpoint-file.md;\n"
     "the account is --user, checked with --password).\n"
     "--compare prints the items that differ from the file\n"
     "(item, name, \"сейчас\", \"в файле\"); exit 0 when\n"
     "they are equal, 1 when they differ."},
    {"alarms", "[--txt FILE] [--xlsx FILE]", 0, 0, kReads, kTakesFiles, nullptr, Alarms,
     "fetches the alarm journal into the cache (records\n"
     "already cached are kept out) and prints the alarm grid,\n"
     "tab-separated with its header. --txt writes the\n"
     "fixed-width text file (Windows-1251, 78 characters and\n"
     "CR LF per line); --xlsx the spreadsheet with the sheet\n"
     "\"Аварийные отключения\"."},
    {"tasks", "", 0, 0, kReads, kNoCommandOptions, nullptr, Tasks,
     "the task log: \"№\", \"Начало\", \"Окончание\", then the\n"
     "number of entries and the capacity."},
    {"cal-info", "", 0, 0, kReads, kNoCommandOptions, nullptr, CalInfo,
     "the calibration information: points per phase (native\n"
     "relays only)."},
    {"set", "ITEM TEXT", 2, 2, kChanges, kNoCommandOptions, CheckSet, Set,
     "writes setpoint item ITEM (0..21, 0..22 on \"ТовикМ\",\n"
     "0..24 on \"ТовикМ ModBus\", as \"setpoints\" numbers them)\n"
     "from TEXT as the settings grid parses it (rounded, held\n"
     "within the model's limits), re-reads the setpoints and\n"
     "prints the row with the value written. Text that is not\n"
     "a number (for item 20: not a date) is refused and\n"
     "nothing is written."},
    {"start", "", 0, 0, kChanges, kNoCommandOptions, nullptr, Start, "starts the installation."},
    {"stop", "", 0, 0, kChanges, kNoCommandOptions, nullptr, Stop, "stops the installation."},
    {"reset-counters", "", 0, 0, kChanges, kNoCommandOptions, nullptr, ResetCounters,
     "resets the alarm counters; on \"ТовикМ ModBus\" it clears\n"
     "the alarm journal instead, as the panel's \"Сбросить\"."},
    {"sync-clock", "", 0, 0, kChanges, kNoCommandOptions, nullptr, SyncClock,
     "sets the relay clock to this computer's local time."},
    {"auto", "on|off", 1, 1, kChanges, kNoCommandOptions, CheckAuto, Auto,
     "switches the automatic mode (setpoint item 18)."},
    {"alarms-clear", "", 0, 0, kChanges, kNoCommandOptions, nullptr, ClearAlarms,
     "clears the relay's alarm journal."},
    {"task-add", "", 0, 0, kChanges, kNoCommandOptions, nullptr, TaskAdd,
     "adds a task starting and ending now."},
    {"task-delete", "N", 1, 1, kChanges, kNoCommandOptions, CheckTaskDelete, TaskDelete,
     "deletes task N (as \"tasks\" numbers them, from 1)."},
    {"task-set", "N START END", 3, 3, kChanges, kNoCommandOptions, CheckTaskSet, TaskSet,
     "sets task N's start and end (\"7.03.2026 09:05:00\" with\n"
     "the locale's separators); text that is not a date and\n"
     "time is refused."},
    {"task-clear", "", 0, 0, kChanges, kNoCommandOptions, nullptr, TaskClear, "clears the task log."},
    {"restore", "FILE", 1, 1, kChanges, kNoCommandOptions, CheckRestore, Restore,
     "writes the items of a setpoint file that differ from the\n"
     "relay, as the panel's \"Записать из файла...\": only\n"
     "items the account may write (19 to 21 at the service\n"
     "level only), never the bus number, each checked against\n"
     "the limits of the relay's model; then reads the\n"
     "setpoints back and reports item by item. A file of\n"
     "another kind is refused. Exit 0 when every item written\n"
     "matches, 1 when one does not or a value of the file lies\n"
     "outside the limits of the relay's model."},
    {"scan", "[--from N] [--to N] [--native|--modbus] [--timeout MS]", 0, 0, kReads, kTakesScan | kLineOnly,
     CheckScan, Scan,
     "finds the relays on the line: asks every bus number from\n"
     "N (default 1) to N (default 250) the state poll of each\n"
     "wire format (both unless one is named), one try each\n"
     "with its own time-out (default 50 ms, 10..2000), through\n"
     "the port's queue. Prints bus number, wire format, model,\n"
     "the kind it proposes and notes (answers in both formats\n"
     "or that disagree, damaged or late answers: possibly two\n"
     "relays with one number), tab-separated with a header.\n"
     "Exits 0 when a relay answered, 1 when none did."},
    {"overview", "[--watch [--interval MS] [--count N]]", 0, 0, kReads, kWholePlant | kTakesCount,
     CheckOverview, Overview,
     "every device of the configuration file, as the window\n"
     "\"Обзор установок\" shows them: each port read by its own\n"
     "worker (lines in parallel), one device after another,\n"
     "waiting the port's request interval; per device the\n"
     "alarm count (and the newest record when it changed),\n"
     "the state and the currents, the setpoints once for Kтр.\n"
     "Prints, tab-separated with a header: name, kind, port,\n"
     "bus number, whether it answers (or why not), the state\n"
     "in the status bar's words, Ia, Ib, Ic, the alarm count,\n"
     "the time of the last good answer and the marks (an alarm\n"
     "entered, stopped answering). --watch: a table (--json:\n"
     "an object) per round until Ctrl+C or N rounds, a round\n"
     "starting MS (default 1000) after the one before. Exits 0\n"
     "when every relay answered and none is in an alarm state."},
};

// ---- dispatch ----

// Options meant for another command are a usage error, not silently ignored.
void CheckCommandOptions(const TCliCommand& command, const TCliOptions& o) {
    const std::string see = " (см. tovik-cli " + std::string(command.Name) + " --help)";
    if (o.Watch && !(command.Options & kWholePlant))
        throw TExit{kExitUsage, "--watch не для команды " + std::string(command.Name) + see};
    if ((o.DeviceIndex || o.PortName || o.Kind || o.Bus || o.BusMode || o.ReplyTimeout) &&
        (command.Options & kWholePlant))
        throw TExit{kExitUsage,
                    "--device, --port, --kind, --bus, --bus-mode и --reply-timeout не для команды " +
                        std::string(command.Name) + ": она читает все устройства файла конфигурации" + see};
    if (o.Count && !(command.Options & kTakesCount))
        throw TExit{kExitUsage, "--count не для команды " + std::string(command.Name) + see};
    if ((o.ScanFrom || o.ScanTo || o.ScanNative || o.ScanModbus || o.ScanTimeout) &&
        !(command.Options & kTakesScan))
        throw TExit{kExitUsage, "--from, --to, --native, --modbus и --timeout не для команды " +
                                    std::string(command.Name) + see};
    if ((o.Kind || o.Bus) && (command.Options & kLineOnly))
        throw TExit{kExitUsage, "--kind и --bus не для команды " + std::string(command.Name) +
                                    ": она опрашивает все номера" + see};
    if ((o.TextFile || o.SheetFile) && !(command.Options & kTakesFiles))
        throw TExit{kExitUsage, "--txt и --xlsx не для команды " + std::string(command.Name) + see};
    if ((o.SaveFile || o.CompareFile) && !(command.Options & kTakesSetpointFiles))
        throw TExit{kExitUsage, "--save и --compare не для команды " + std::string(command.Name) + see};
    const int count = static_cast<int>(o.Args.size());
    if (count < command.MinArguments || count > command.MaxArguments) {
        const std::string usage =
            std::string(command.Name) + (*command.Arguments ? " " + std::string(command.Arguments) : "");
        throw TExit{kExitUsage, command.MaxArguments == 0
                                    ? std::string(command.Name) + " не принимает аргументов" + see
                                    : "нужно: " + usage + see};
    }
}

int Main(int argc, char** argv) {
    TContext ctx;
    UseUtf8Console();
    const std::vector<std::string> args = ProgramArguments(argc, argv);
    const std::string error = ParseCliOptions(
        std::vector<std::string>(args.begin() + (args.empty() ? 0 : 1), args.end()), ctx.Options);
    if (!error.empty()) throw TExit{kExitUsage, error + " (см. tovik-cli --help)"};
    if (ctx.Options.Version) {
        std::cout << CliVersionText();
        return kExitOk;
    }
    const TCliCommand* command = nullptr;
    if (!ctx.Options.Command.empty()) {
        command = FindCliCommand(ctx.Options.Command);
        if (!command)
            throw TExit{kExitUsage,
                        "неизвестная команда \"" + ctx.Options.Command + "\" (см. tovik-cli --help)"};
    }
    // Help, with or without a command, does nothing else.
    if (ctx.Options.Help) {
        std::cout << (command ? CliCommandHelp(*command) : CliHelpText());
        return kExitOk;
    }
    if (!command) throw TExit{kExitUsage, "нет команды (см. tovik-cli --help)"};
    CheckCommandOptions(*command, ctx.Options);
    RegisterBuiltInKinds();
    RegisterUartSettingsPortClass();  // the file's ports never open a line
    ctx.Locale = SystemLocaleFormat();
    if (command->Options & kLineOnly)
        ResolvePort(ctx);
    else if (!(command->Options & kWholePlant))
        ResolveLine(ctx);
    if (command->Check) command->Check(ctx);
    InstallInterruptHandlers();
    return command->Run(ctx);
}

}  // namespace

std::span<const TCliCommand> CliCommands() {
    return kCommands;
}

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
