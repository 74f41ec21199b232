// The plant overview: its rows, its queue of reads per line, what each
// reply means for a row, and the marks.
#include "panel/PlantOverview.h"

#include <algorithm>
#include <deque>
#include <limits>

#include "app/DeviceList.h"
#include "app/TovikDevice.h"
#include "base/Clock.h"
#include "base/Files.h"
#include "panel/AlarmJournal.h"
#include "panel/RelayLink.h"
#include "panel/TovikPanel.h"
#include "protocol/Outcome.h"

namespace tovik {

namespace {
constexpr uint8_t kStateAlarm = 18;
// Far more columns than the window has; a file beyond it is no layout.
constexpr int32_t kMaxLayoutColumns = 64;
constexpr int32_t kMaxColumnWidth = 10000;
constexpr uint8_t kStateAlarmAutoReturn = 19;
constexpr TLabelId kCurrentLabels[3] = {LabelTokA, LabelTokB, LabelTokC};
}  // namespace

bool IsAlarmState(uint8_t Code) {
    return Code == kStateAlarm || Code == kStateAlarmAutoReturn;
}

std::optional<TOverviewLayout> LoadOverviewLayout(const std::string& Path) {
    std::string reason;
    const auto bytes = ReadFileBytes(Path, 4 * (kMaxLayoutColumns + 3), reason);
    if (!bytes) return std::nullopt;
    TMemoryStream in(std::vector<uint8_t>(bytes->begin(), bytes->end()));
    TOverviewLayout layout;
    int32_t count = 0, order = 0;
    if (!in.ReadI32(count) || count < 0 || count > kMaxLayoutColumns) return std::nullopt;
    for (int32_t i = 0; i < count; ++i) {
        int32_t width = 0;
        if (!in.ReadI32(width) || width < 0 || width > kMaxColumnWidth) return std::nullopt;
        layout.Widths.push_back(width);
    }
    if (!in.ReadI32(layout.SortColumn) || !in.ReadI32(order) || in.Remaining() != 0) return std::nullopt;
    if (layout.SortColumn < -1 || layout.SortColumn >= count || (order != 0 && order != 1))
        return std::nullopt;
    layout.Descending = order == 1;
    return layout;
}

bool SaveOverviewLayout(const std::string& Path, const TOverviewLayout& Layout, std::string& Reason) {
    TMemoryStream out;
    out.WriteI32(static_cast<int32_t>(Layout.Widths.size()));
    for (int32_t w : Layout.Widths) out.WriteI32(w);
    out.WriteI32(Layout.SortColumn);
    out.WriteI32(Layout.Descending ? 1 : 0);
    const auto& b = out.Bytes();
    return ReplaceFileBytes(Path, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()),
                            Reason);
}

const char* OverviewColumnTitle(int Column) {
    static constexpr const char* kTitles[kOverviewColumnCount] = {
        "Установка", "Тип", "Порт", "Номер",  "Связь",           "Состояние",
        "Ia",        "Ib",  "Ic",   "Аварий", "Последний ответ", "Отметка"};
    return Column >= 0 && Column < kOverviewColumnCount ? kTitles[Column] : "";
}

std::string OverviewCellText(const TOverviewRow& Row, int Column) {
    switch (Column) {
        case ColName:
            return Row.Name;
        case ColKind:
            return Row.KindName;
        case ColPort:
            return Row.PortName;
        case ColBus:
            return std::to_string(Row.Bus);
        case ColAnswer:
            return Row.Answer == TAnswer::Yes ? "да" : Row.Answer == TAnswer::No ? Row.Reason : "";
        case ColState:
            return Row.State;
        case ColIa:
        case ColIb:
        case ColIc:
            return Row.Currents[static_cast<size_t>(Column - ColIa)];
        case ColAlarmCount:
            return Row.AlarmCount ? std::to_string(*Row.AlarmCount) : std::string();
        case ColLastAnswer:
            return Row.LastAnswer;
        case ColMarks: {
            std::string text = Row.Marks & kMarkAlarm ? "авария" : "";
            if (Row.Marks & kMarkSilent) text += text.empty() ? "нет связи" : ", нет связи";
            return text;
        }
        default:
            return "";
    }
}

// One row and what the overview knows of its relay besides what it shows.
struct TPlantOverview::TRowState {
    TRowState(uint8_t Kind, const TLocaleFormat& Locale) : View(Kind, Locale) {}

    TOverviewRow Row;
    int32_t PortId = 0;
    bool Readable = false;  // a port, a known kind and an address the relay can have
    // The relay as read, in the panel's words.
    TDeviceView View;
    bool NeedSetpoints = true;
    std::optional<std::array<uint8_t, 2>> Header;  // the journal's last header
    std::optional<TAlarmRecord> LastAlarm;         // its newest record
    std::optional<uint8_t> LastKnownCode;          // the last state read, kept while silent
    // Seen in this pass over the relay, told when its reads are done.
    bool EnteredAlarm = false;
    bool JournalGrew = false;
    std::string MarkText;
    uint64_t MarkOrder = 0;
};

// One port and the overview's reads on it.
struct TPlantOverview::TLine {
    int32_t PortId = 0;
    TProtoPort* Port = nullptr;  // as found when the owner id was taken
    int32_t Owner = 0;
    bool HasOwner = false;
    bool Busy = false;    // a request of the overview is queued or on the line
    uint64_t Serial = 0;  // of that request
    bool EverDone = false;
    uint32_t LastDone = 0;  // clock when the last request ended
    // The device being read and the reads left for it.
    uint64_t RowId = 0;
    std::deque<TStep> Steps;
    // The round: the next row to look at, when it began.
    size_t Next = 0;
    bool RoundOpen = false;
    bool SentInRound = false;
    uint32_t RoundStart = 0;
    uint64_t Rounds = 0;
    // Waiting for the open panel's cycle to end, since its cycle count was this.
    bool Blocked = false;
    uint64_t BlockedAt = 0;
};

TPlantOverview::TPlantOverview(TOverviewEnvironment Environment)
    : Env(std::move(Environment)), ResultList(std::make_shared<TResultEventsList>()) {}

TPlantOverview::~TPlantOverview() {
    Stop();
}

void TPlantOverview::Start() {
    IsRunning = true;
}

void TPlantOverview::Stop() {
    IsRunning = false;
    for (auto& line : Lines) {
        TProtoPort* port = Env.FindPort ? Env.FindPort(line->PortId) : nullptr;
        // A port that went took its registrations with it.
        if (line->HasOwner && port && port == line->Port) port->UnregisterOwner(line->Owner);
        line->HasOwner = false;
        line->Busy = false;
        line->Steps.clear();
        line->RoundOpen = false;
    }
}

const TOverviewRow* TPlantOverview::Row(uint64_t Id) const {
    for (const TOverviewRow& r : RowView)
        if (r.Id == Id) return &r;
    return nullptr;
}

TPlantOverview::TRowState* TPlantOverview::FindRow(uint64_t Id) {
    for (auto& r : State)
        if (r->Row.Id == Id) return r.get();
    return nullptr;
}

TPlantOverview::TLine* TPlantOverview::FindLine(int32_t PortId) {
    for (auto& l : Lines)
        if (l->PortId == PortId) return l.get();
    return nullptr;
}

std::string TPlantOverview::Now() const {
    const TLocalTime t = Env.LocalTime ? Env.LocalTime() : LocalTimeNow();
    auto b = [](int v) { return static_cast<uint8_t>(v); };
    const uint8_t raw[6] = {b(t.Hour), b(t.Minute), b(t.Second), b(t.Day), b(t.Month), b(t.Year - 2000)};
    return FormatDateTime(raw, Env.Locale);
}

// ---- the rows ----

void TPlantOverview::SyncRows() {
    std::vector<std::unique_ptr<TRowState>> next;
    bool changed = false;
    const int count = Env.Devices ? Env.Devices->Count() : 0;
    for (int i = 0; i < count; ++i) {
        const auto* dev = dynamic_cast<const TTovikDevice*>(Env.Devices->GetDevice(i));
        if (!dev) continue;
        // Mostly the row is where it was.
        auto same = [dev](const std::unique_ptr<TRowState>& r) { return r && r->Row.Device == dev; };
        const size_t at = next.size();
        auto it = at < State.size() && same(State[at]) ? State.begin() + static_cast<ptrdiff_t>(at)
                                                       : std::find_if(State.begin(), State.end(), same);
        std::unique_ptr<TRowState> row;
        if (it != State.end() && (*it)->PortId == dev->PortId && (*it)->Row.Bus == dev->BusAddress &&
            (*it)->Row.Kind == dev->GetDeviceKind())
            row = std::move(*it);
        if (!row) {
            // Another relay: read from the start.
            row = std::make_unique<TRowState>(dev->GetDeviceKind(), Env.Locale);
            row->Row.Id = ++LastRowId;
            row->Row.Device = dev;
            row->PortId = dev->PortId;
            row->Row.Bus = dev->BusAddress;
            row->Row.Kind = dev->GetDeviceKind();
            const char* kind = DeviceKindName(dev->GetDeviceKind());
            row->Row.KindName = kind ? kind : std::to_string(dev->GetDeviceKind());
            for (size_t p = 0; p < 3; ++p) row->Row.Currents[p] = kNotAvailableText;
            row->Row.Amps.fill(std::numeric_limits<double>::quiet_NaN());
            changed = true;
        }
        TOverviewRow& r = row->Row;
        const TProtoPort* port = Env.FindPort ? Env.FindPort(dev->PortId) : nullptr;
        std::string problem = AddressProblem(dev);
        if (problem.empty() && !port) problem = kMsgNoConnection;
        const std::string portName = port ? port->Name : std::string();
        if (r.Index != i || r.Name != dev->InstallationName || r.PortName != portName) {
            r.Index = i;
            r.Name = dev->InstallationName;
            r.PortName = portName;
            ++r.Revision;
            changed = true;
        }
        row->Readable = problem.empty();
        if (!row->Readable && (r.Answer != TAnswer::No || r.Reason != problem)) {
            r.Answer = TAnswer::No;
            r.Reason = problem;
            ++r.Revision;
            changed = true;
        }
        next.push_back(std::move(row));
    }
    if (next.size() != State.size()) changed = true;
    State = std::move(next);

    // A line per port that has a relay to read.
    std::vector<std::unique_ptr<TLine>> lines;
    for (const auto& row : State) {
        if (!row->Readable) continue;
        const bool listed =
            std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l->PortId == row->PortId; });
        if (listed) continue;
        auto it = std::find_if(Lines.begin(), Lines.end(),
                               [&](const auto& l) { return l && l->PortId == row->PortId; });
        if (it != Lines.end()) {
            lines.push_back(std::move(*it));
        } else {
            lines.push_back(std::make_unique<TLine>());
            lines.back()->PortId = row->PortId;
        }
    }
    // A line with nothing left to read lets its port go.
    for (auto& gone : Lines) {
        if (!gone) continue;
        TProtoPort* port = Env.FindPort ? Env.FindPort(gone->PortId) : nullptr;
        if (gone->HasOwner && port && port == gone->Port) port->UnregisterOwner(gone->Owner);
    }
    Lines = std::move(lines);
    if (changed) Publish(nullptr);
}

void TPlantOverview::Publish(TRowState* Row) {
    if (Row) {
        TOverviewRow& r = Row->Row;
        for (size_t p = 0; p < 3; ++p) {
            const std::string& label = Row->View.Label(kCurrentLabels[p]);
            const std::string prefix = LabelInfo(kCurrentLabels[p]).Prefix;
            r.Currents[p] = label.rfind(prefix, 0) == 0 ? label.substr(prefix.size()) : label;
            r.Amps[p] = Row->View.CurrentsAmps()[p];
        }
        ++r.Revision;
    }
    RowView.clear();
    RowView.reserve(State.size());
    for (const auto& s : State) RowView.push_back(s->Row);
    ++Rev;
}

// ---- the tick ----

void TPlantOverview::Tick() {
    SyncRows();
    while (!ResultList->IsEmpty()) ResultList->DispatchOne();

    const TTovikPanel* panel = Env.OpenPanel ? Env.OpenPanel() : nullptr;
    const TTovikDevice* panelDevice = panel ? panel->Device() : nullptr;
    if (panel != SeenPanel) {
        // A panel newly opened: its first finished cycle is the first to take.
        SeenPanel = panel;
        SeenCycles = 0;
    }
    for (auto& row : State) {
        const bool fromPanel = panelDevice && row->Row.Device == panelDevice;
        if (fromPanel != row->Row.FromPanel) {
            row->Row.FromPanel = fromPanel;
            Publish(row.get());
        }
        if (fromPanel && row->Readable) FillFromPanel(*panel, *row);
    }
    if (!IsRunning) return;
    if (Lines.empty()) ++IdleRounds;
    for (auto& line : Lines) Pace(*line, panel);
}

// ---- the open panel's row ----

void TPlantOverview::FillFromPanel(const TTovikPanel& Panel, TRowState& Row) {
    const uint64_t cycles = Panel.Poll().CompletedCycles();
    if (cycles == SeenCycles) return;
    SeenCycles = cycles;
    if (!Panel.Poll().LastPollOk()) {
        std::string reason = OutcomeText(TOutcome{});
        for (const TFailedRead& f : Panel.Poll().FailedReads())
            if (f.Name == "state_poll") reason = OutcomeText(f.Outcome);
        Unanswered(Row, reason);
        Publish(&Row);
        return;
    }
    Answered(Row);
    // The panel's reading, in its own words.
    Row.View = Panel.Data().View();
    Row.NeedSetpoints = !Row.View.HasSetpoints();
    const std::vector<std::string> failed = ReadNames(Panel.Poll().FailedReads());
    const auto failedRead = [&](const char* name) {
        return std::find(failed.begin(), failed.end(), name) != failed.end();
    };
    if (const TTovikDevice* dev = Panel.Device(); dev && !dev->AlarmCache.empty())
        Row.LastAlarm = dev->AlarmCache.back();
    if (!failedRead("alarm_count")) TakeHeader(Row, Panel.Alarms().AlarmHeader(), nullptr);
    TakeState(Row);
    Judge(Row);
    Publish(&Row);
}

// ---- the reads of a line ----

void TPlantOverview::Pace(TLine& Line, const TTovikPanel* Panel) {
    TProtoPort* port = Env.FindPort ? Env.FindPort(Line.PortId) : nullptr;
    if (port != Line.Port) {
        // Gone, or replaced under the same Id: what was on the old one is lost.
        Line.Port = port;
        Line.HasOwner = false;
        Line.Busy = false;
        Line.Steps.clear();
    }
    if (!port) return;
    if (!Line.HasOwner || !port->IsOwnerRegistered(Line.Owner)) {
        Line.Owner = port->RegisterOwner();
        Line.HasOwner = true;
        Line.Busy = false;
    }
    if (Line.Busy) return;
    const uint32_t interval = static_cast<uint32_t>(std::max(port->RequestInterval.load(), 0));
    if (Line.EverDone && ElapsedMs(Line.LastDone, timeGetTime()) < interval) return;
    if (Panel && Panel->Link().DevicePort() == port && Panel->Link().Outstanding() > 0) {
        // On the open panel's line, between its poll cycles. A panel that
        // polls again at once leaves no such moment: after one whole cycle
        // of waiting, the request goes behind the last job of a cycle (none
        // waiting in the queue, the state poll answered), before the next poll.
        const uint64_t cycles = Panel->Poll().CompletedCycles();
        if (!Line.Blocked) {
            Line.Blocked = true;
            Line.BlockedAt = cycles;
            return;
        }
        if (cycles == Line.BlockedAt || Panel->Poll().Flags().PollOutstanding ||
            !port->IsOwnerIdle(Panel->Link().OwnerId()))
            return;
    }
    Line.Blocked = false;
    const TTovikDevice* panelDevice = Panel ? Panel->Device() : nullptr;
    TRowState* row = FindRow(Line.RowId);
    // A relay whose panel opened in the middle of its pass is the panel's now.
    if (!row || (panelDevice && row->Row.Device == panelDevice)) Line.Steps.clear();
    if (Line.Steps.empty()) {
        if (!NextDevice(Line, panelDevice)) return;
        row = FindRow(Line.RowId);
    }
    if (row) Send(Line, *row);
}

bool TPlantOverview::NextDevice(TLine& Line, const TTovikDevice* PanelDevice) {
    const uint32_t now = timeGetTime();
    for (;;) {
        if (!Line.RoundOpen) {
            if (RoundIntervalMs > 0 && Line.Rounds > 0 && ElapsedMs(Line.RoundStart, now) < RoundIntervalMs)
                return false;
            Line.RoundOpen = true;
            Line.RoundStart = now;
            Line.Next = 0;
            Line.SentInRound = false;
        }
        while (Line.Next < State.size()) {
            TRowState& row = *State[Line.Next++];
            if (row.PortId != Line.PortId || !row.Readable || row.Row.Device == PanelDevice) continue;
            Line.RowId = row.Row.Id;
            Line.Steps.clear();
            if (row.NeedSetpoints) Line.Steps.push_back(TStep::Setpoints);
            for (TStep s : {TStep::State, TStep::AlarmCount, TStep::Currents}) Line.Steps.push_back(s);
            return true;
        }
        Line.RoundOpen = false;
        ++Line.Rounds;
        // A line with nothing of its own to read finishes one round per tick.
        if (!Line.SentInRound) return false;
    }
}

void TPlantOverview::Send(TLine& Line, TRowState& Row) {
    const TStep step = Line.Steps.front();
    Line.Steps.pop_front();
    const uint64_t serial = ++LastSerial;
    TResultHandler done = [this, port = Line.PortId, serial, step](const TReply& reply) {
        Done(port, serial, step, reply);
    };
    TProtoPort& port = *Line.Port;
    const uint8_t bus = static_cast<uint8_t>(Row.Row.Bus);
    const uint8_t kind = Row.Row.Kind;
    bool sent = false;
    switch (step) {
        case TStep::Setpoints:
            sent = RequestReadUst(port, bus, Line.Owner, kind, ResultList, std::move(done));
            break;
        case TStep::AlarmCount:
            sent = RequestReadAlarmCount(port, bus, Line.Owner, kind, ResultList, std::move(done));
            break;
        case TStep::LastAlarm:
            sent = RequestReadAlarm(port, bus, Line.Owner, kind, ResultList, std::move(done),
                                    static_cast<uint8_t>((*Row.Header)[0] - 1));
            break;
        case TStep::State:
            sent = RequestReadState(port, bus, Line.Owner, kind, ResultList, std::move(done));
            break;
        case TStep::Currents:
            sent = RequestReadCurrents(port, bus, Line.Owner, kind, ResultList, std::move(done));
            break;
    }
    if (!sent) {
        Line.Steps.clear();
        return;
    }
    Line.Busy = true;
    Line.Serial = serial;
    Line.SentInRound = true;
}

void TPlantOverview::Done(int32_t PortId, uint64_t Serial, TStep Step, const TReply& Reply) {
    TLine* line = FindLine(PortId);
    // A request of a line that was stopped or let go of: nothing of it counts.
    if (!line || !line->Busy || line->Serial != Serial) return;
    line->Busy = false;
    line->EverDone = true;
    line->LastDone = timeGetTime();
    TRowState* row = FindRow(line->RowId);
    if (!row) {
        line->Steps.clear();
        return;
    }
    if (!Reply.Ok()) {
        // The rest of this relay's reads wait for the next round.
        line->Steps.clear();
        Unanswered(*row, OutcomeText(Reply.Outcome));
        Publish(row);
        return;
    }
    Answered(*row);
    const TBlock* data = Reply.Data;
    switch (Step) {
        case TStep::Setpoints:
            row->View.OnSetpoints(true, data);
            row->NeedSetpoints = !row->View.HasSetpoints();
            row->View.RefreshStateText(row->LastAlarm);
            break;
        case TStep::AlarmCount:
            if (data && data->size() >= kAlarmCountReplySize)
                TakeHeader(*row, {(*data)[0], (*data)[1]}, line);
            break;
        case TStep::LastAlarm:
            if (const auto record = AlarmRecordFromReply(true, data)) {
                row->LastAlarm = record;
                row->View.RefreshStateText(record);
            }
            break;
        case TStep::State:
            row->View.OnDeviceState(true, data, row->LastAlarm);
            TakeState(*row);
            break;
        case TStep::Currents:
            row->View.OnCurrents(true, data);
            break;
    }
    row->Row.State = row->View.StateStatusText();
    // The relay's reads of this pass are done: what they showed is told.
    if (line->Steps.empty()) Judge(*row);
    Publish(row);
}

// ---- what a reply means for a row ----

void TPlantOverview::Answered(TRowState& Row) {
    Row.Row.Answer = TAnswer::Yes;
    Row.Row.Reason.clear();
    Row.Row.LastAnswer = Now();
}

void TPlantOverview::Unanswered(TRowState& Row, const std::string& Reason) {
    const bool answered = Row.Row.Answer == TAnswer::Yes;
    Row.Row.Answer = TAnswer::No;
    Row.Row.Reason = Reason;
    // Nothing shown stays current, as on the panel; the relay may come back
    // as another one, so its settings are read again.
    Row.View.OnPollFailed();
    Row.NeedSetpoints = true;
    Row.Row.State = Row.View.StateStatusText();
    Row.Row.StateCode.reset();
    Row.Row.AlarmCount.reset();
    if (answered) Mark(Row, kMarkSilent, "Нет связи: «" + Row.Row.Name + "» — " + Reason);
}

void TPlantOverview::TakeHeader(TRowState& Row, const std::array<uint8_t, 2>& Header, TLine* Line) {
    const bool known = Row.Header.has_value();
    const bool changed = !known || *Row.Header != Header;
    Row.Header = Header;
    Row.Row.AlarmCount = Header[0];
    if (Header[0] == 0) {
        Row.LastAlarm.reset();
        return;
    }
    if (!changed) return;
    // A new record: the newest one is read next; the state text names it.
    if (Line) Line->Steps.push_front(TStep::LastAlarm);
    if (known) Row.JournalGrew = true;
}

void TPlantOverview::TakeState(TRowState& Row) {
    const std::optional<uint8_t> code = Row.View.StateCode();
    Row.Row.StateCode = code;
    Row.Row.State = Row.View.StateStatusText();
    if (!code) return;
    if (IsAlarmState(*code) && Row.LastKnownCode && !IsAlarmState(*Row.LastKnownCode))
        Row.EnteredAlarm = true;
    Row.LastKnownCode = code;
}

void TPlantOverview::Judge(TRowState& Row) {
    if (!Row.EnteredAlarm && !Row.JournalGrew) return;
    std::string what = Row.Row.State;
    if (!Row.Row.InAlarm()) {
        what = "новая запись в журнале аварий";
        if (Row.LastAlarm)
            what += ": " + FormatDateTime(std::span<const uint8_t, 6>(Row.LastAlarm->data(), 6), Env.Locale) +
                    " " + EventText((*Row.LastAlarm)[6]);
    }
    Row.EnteredAlarm = false;
    Row.JournalGrew = false;
    Mark(Row, kMarkAlarm, "Авария: «" + Row.Row.Name + "» — " + what);
}

void TPlantOverview::Mark(TRowState& Row, TOverviewMark Mark, std::string Text) {
    // A mark that stands is told once, until it is acknowledged.
    if (!(Row.Row.Marks & Mark)) News.push_back({Row.Row.Id, Mark, Text});
    Row.Row.Marks |= Mark;
    Row.MarkText = std::move(Text);
    Row.MarkOrder = ++LastSerial;
}

bool TPlantOverview::Acknowledge(uint64_t RowId) {
    TRowState* row = FindRow(RowId);
    if (!row || row->Row.Marks == kMarkNone) return false;
    row->Row.Marks = kMarkNone;
    row->MarkText.clear();
    Publish(row);
    return true;
}

std::vector<TOverviewNews> TPlantOverview::TakeNews() {
    std::vector<TOverviewNews> out;
    out.swap(News);
    return out;
}

std::string TPlantOverview::StandingNews() const {
    const TRowState* newest = nullptr;
    for (const auto& r : State)
        if (r->Row.Marks != kMarkNone && (!newest || r->MarkOrder > newest->MarkOrder)) newest = r.get();
    return newest ? newest->MarkText : std::string();
}

// ---- the whole plant ----

uint64_t TPlantOverview::CompletedRounds() const {
    // Nothing to read on any line: every tick is a round.
    if (Lines.empty()) return IdleRounds;
    uint64_t least = std::numeric_limits<uint64_t>::max();
    for (const auto& l : Lines) least = std::min(least, l->Rounds);
    return least;
}

bool TPlantOverview::AllWell() const {
    return std::all_of(State.begin(), State.end(),
                       [](const auto& r) { return r->Row.Answer == TAnswer::Yes && !r->Row.InAlarm(); });
}

}  // namespace tovik
