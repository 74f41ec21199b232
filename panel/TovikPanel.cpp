// The panel's set-up, its polling cycle and the state display.
#include "panel/TovikPanel.h"

#include <algorithm>

#include "base/Clock.h"
#include "panel/AlarmJournal.h"
#include "panel/SettingsView.h"
#include "panel/TovikPanelSend.h"
#include "ports/ProtoPortList.h"
#include "protocol/Commands.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {

constexpr std::array<TButtonInfo, kButtonCount> kButtons = {{
    {"TovikPuskButton", "Пуск"},
    {"TovikStopButton", "Стоп"},
    {"ResetAVCountersBtn", "Сбросить"},
    {"SyncTimeBtn", "Синхронизация часов"},
    {"OnOffAvtomatBtn", kAutomationOn},
    {"TWNewBtn", "Добавить задание"},
    {"TWDelBtn", "Удалить задание"},
    {"TWClrBtn", "Очистить журнал"},
    {"ClearAVbtn", "Очистить"},
    {"saveBtn", "Отправить в Excel"},
    {"saveAVListBtn", "Сохранить..."},
    {"StartCalButton", "Начать калибровку..."},
}};

constexpr std::array<TTabInfo, kTabCount> kTabs = {{
    {"TovikMainTS", "Данные Товик"},
    {"TovikUstavkiTS", "Уставки"},
    {"TovikTimeWorksTS", "Журнал заданий"},
    {"TovikAvariesTS", "Журнал аварий"},
    {"TovikCalibTS", "Калибровка"},
}};

// What each read's handler takes from its block: a block shorter than
// this did not bring every value the handler shows.
constexpr size_t kNeedStatePoll = 4;
constexpr size_t kNeedTimers = 16;  // seven timers and Nапв; the 17th byte is not shown
constexpr size_t kNeedCalInfo = 1;

// The buttons a failed state poll disables and a setpoint read enables.
constexpr TPanelButton kCommandButtons[] = {BtnPusk,       BtnStop,       BtnResetCounters, BtnSyncTime,
                                            BtnAutomation, BtnAlarmClear, BtnAlarmExcel,    BtnAlarmSave};

}  // namespace

TPanelAccess PanelAccess(uint8_t Level) {
    if (Level == 0) return TPanelAccess::Service;
    if (Level == 2) return TPanelAccess::ReadOnly;
    return TPanelAccess::Full;
}

const TButtonInfo& ButtonInfo(TPanelButton Button) {
    return kButtons[static_cast<size_t>(Button)];
}

const TTabInfo& TabInfo(TPanelTab Tab) {
    return kTabs[static_cast<size_t>(Tab)];
}

std::string DataTabCaption(uint8_t DeviceKind) {
    if (!IsKnownKind(DeviceKind)) return "Данные";
    return std::string("Данные ") + DeviceKindName(DeviceKind);
}

// ---- construction and destruction ----

TTovikPanel::TTovikPanel(TPanelEnvironment Environment)
    : Env(std::move(Environment)),
      Access(PanelAccess(Env.AccessLevel)),
      ResultList(std::make_shared<TResultEventsList>()),
      Labels(kKindTovik, Env.Locale),
      DataCaption(DataTabCaption(kKindTovik)),
      CurrentTrend(Env.WallClockMs) {
    // Every command button waits for the first setpoint read; with
    // read-only access none is ever enabled (MayCommand refuses them too).
    Enabled.fill(false);
    Memo = ModelDescription(0, kKindTovik);
    SetStatus("");
    for (int a = 0; a < kAreaCount; ++a) Touch(static_cast<TPanelArea>(a));
}

TTovikPanel::~TTovikPanel() {
    // Every registration is given back, on the ports still listed: a port
    // that went away took its registrations with it.
    for (const auto& [port, id] : Registrations)
        if (PortStillListed(port)) port->UnregisterOwner(id);
    if (Dev) Dev->PanelHandler = nullptr;
}

bool TTovikPanel::PortStillListed(const TProtoPort* Port) const {
    if (!Port) return false;
    if (Env.Line) return Port == Env.Line;
    return Env.Ports && Env.Ports->IndexOf(Port) >= 0;
}

TProtoPort* TTovikPanel::FindPort(int32_t Id) const {
    if (Env.Line) return Env.Line->Id == Id ? Env.Line : nullptr;
    return Env.Ports ? Env.Ports->FindById(Id) : nullptr;
}

// ---- set-up ----

void TTovikPanel::AttachDevice(TTovikDevice* Device) {
    if (!Device) return;
    Dev = Device;
    Dev->SetPanelHandler([this](TMemoryStream& block, bool restore) { PanelLayoutHandler(block, restore); });
    Labels.SetDeviceKind(Dev->GetDeviceKind());
    Touch(AreaKind);
    SetupForKind();
    ShowAlarms();
    FlagRefreshAll = true;
    FlagReloadTaskLog = true;
    if (TProtoPort* port = CurrentPort()) EnsureOwner(*port);
}

void TTovikPanel::FillPortBox() {
    PortBox.clear();
    PortBox.push_back({kPortNone, kPlaceholderPortId});
    Bus = Dev ? std::clamp<int>(Dev->BusAddress, kMinBusAddress, kMaxBusAddress) : kMinBusAddress;
    Touch(AreaBus);
    TProtoPort* port = DevicePort();
    if (port) {
        PortBox.push_back({port->Name, port->Id});
        PortSelected = 1;
        // The first poll is due at once.
        LastPoll = timeGetTime() - static_cast<uint32_t>(port->RequestInterval.load());
    } else {
        PortSelected = 0;
    }
    Touch(AreaPortBox);
}

void TTovikPanel::SetLayoutView(std::function<TPanelLayout()> Read,
                                std::function<void(const TPanelLayout&)> Apply) {
    ReadLayout = std::move(Read);
    ApplyLayout = std::move(Apply);
}

void TTovikPanel::PanelLayoutHandler(TMemoryStream& Block, bool Restore) {
    if (Restore) {
        // A block of fewer than 16 bytes has no layout to apply.
        if (const auto layout = ReadPanelLayout(Block); layout && ApplyLayout) ApplyLayout(*layout);
        return;
    }
    // The layout the operator leaves is the one the next panel restores.
    if (ReadLayout)
        WritePanelLayout(Block, ReadLayout());
    else
        Block.Clear();
}

void TTovikPanel::SetupForKind() {
    const uint8_t kind = Dev ? Dev->GetDeviceKind() : kKindTovik;
    const std::string caption = DataTabCaption(kind);
    if (caption != DataCaption) {
        DataCaption = caption;
        Touch(AreaKind);
    }
    SetupSetpointGrid();
    const std::string memo = ModelDescription(Model, kind);
    if (memo != Memo) {
        Memo = memo;
        Touch(AreaModelMemo);
    }
    // The stored name goes back into the box, but not over what the
    // operator is typing.
    if (Dev && NameLocked && Name != Dev->InstallationName) {
        Name = Dev->InstallationName;
        Touch(AreaNameBox);
    }
    if (TaskCells.empty()) FillTaskGrid();
    if (Access == TPanelAccess::Service && !Cal.Started()) {
        Cal.SetupFixed();
        Touch(AreaCalibration);
    }
}

void TTovikPanel::SetupSetpointGrid() {
    const uint8_t kind = Dev ? Dev->GetDeviceKind() : kKindTovik;
    const size_t rows = static_cast<size_t>(SetpointItemCount(kind)) + 1;
    if (UstGrid.size() != rows) {
        // The "новое" column keeps what was typed in it.
        UstGrid.resize(rows, TTextRow(kSetpointGridHeader.size()));
        UstRevs.resize(rows, {1, 1, 1, 1, 1});
        for (size_t c = 0; c < kSetpointGridHeader.size(); ++c) UstGrid[0][c] = kSetpointGridHeader[c];
        for (size_t r = 1; r < rows; ++r) {
            UstGrid[r][0] = UstCellName(static_cast<int>(r - 1));
            for (size_t c = 1; c <= 3; ++c) UstGrid[r][c] = kNotAvailableText;
        }
        Touch(AreaSetpointGrid);
    }
}

void TTovikPanel::FillSetpointGrid(const TSetpointBlock* Block, size_t Received) {
    const uint8_t kind = Dev ? Dev->GetDeviceKind() : kKindTovik;
    const uint8_t variant = Dev ? Dev->VariantByte : 0;
    for (size_t r = 1; r < UstGrid.size(); ++r) {
        const TSetpointRow row =
            SetpointRow(static_cast<int>(r - 1), kind, Model, variant, Block, Received, Env.Locale);
        SetCell(r, 1, row.Min);
        SetCell(r, 2, row.Max);
        SetCell(r, 3, row.Now);
    }
}

void TTovikPanel::SetCell(size_t Row, size_t Column, const std::string& Text) {
    if (Row >= UstGrid.size() || Column >= UstGrid[Row].size()) return;
    // What the panel puts into "новое" replaces whatever the cell shows.
    if (UstGrid[Row][Column] == Text && Column != 4) return;
    UstGrid[Row][Column] = Text;
    ++UstRevs[Row][Column];
    Touch(AreaSetpointGrid);
}

uint32_t TTovikPanel::SetpointCellRevision(size_t Row, size_t Column) const {
    return Row < UstRevs.size() && Column < 5 ? UstRevs[Row][Column] : 0;
}

// ---- status, buttons, messages ----

void TTovikPanel::SetStatus(std::string Text) {
    if (Text == Status) return;
    Status = std::move(Text);
    Touch(AreaStatus);
}

void TTovikPanel::SetButton(TPanelButton Button, bool On) {
    // Read-only access never enables a command, and a calibration run uses
    // the calibration tab up.
    if (On && Access == TPanelAccess::ReadOnly) return;
    if (On && Button == BtnStartCalibration && Cal.Started()) return;
    bool& enabled = Enabled[static_cast<size_t>(Button)];
    if (enabled == On) return;
    enabled = On;
    Touch(AreaButtons);
}

std::string TTovikPanel::ButtonCaption(TPanelButton Button) const {
    if (Button == BtnAutomation) return AutomationOnCaption ? kAutomationOn : kAutomationOff;
    return ButtonInfo(Button).Caption;
}

void TTovikPanel::EnableCommandButtons() {
    CommandsUp = true;
    for (TPanelButton b : kCommandButtons) SetButton(b, true);
    if (Access == TPanelAccess::Service) SetButton(BtnStartCalibration, true);
}

void TTovikPanel::DisableCommandButtons() {
    CommandsUp = false;
    for (TPanelButton b : kCommandButtons) SetButton(b, false);
    SetButton(BtnTaskAdd, false);
    SetButton(BtnTaskDelete, false);
    SetButton(BtnTaskClear, false);
    if (Access == TPanelAccess::Service) SetButton(BtnStartCalibration, false);
}

void TTovikPanel::Say(std::string Text, bool Error) {
    Messages.push_back({std::move(Text), Error});
    Touch(AreaMessages);
}

std::vector<TPanelMessage> TTovikPanel::TakeMessages() {
    std::vector<TPanelMessage> out;
    out.swap(Messages);
    return out;
}

TLocalTime TTovikPanel::LocalNow() const {
    return Env.LocalTime ? Env.LocalTime() : LocalTimeNow();
}

std::optional<TAlarmRecord> TTovikPanel::LastAlarm() const {
    if (!Dev || Dev->AlarmCache.empty()) return std::nullopt;
    return Dev->AlarmCache.back();
}

// ---- the port ----

std::string TTovikPanel::AddressProblem() const {
    if (!Dev) return kMsgNoConnection;
    if (!Dev->HasKnownKind())
        return "Неизвестный тип устройства (" + std::to_string(Dev->GetDeviceKind()) + ").";
    if (!IsValidBusAddress(Dev->BusAddress))
        return "Недопустимый номер в магистрали (" + std::to_string(Dev->BusAddress) +
               "): выберите номер от 1 до 250.";
    return {};
}

void TTovikPanel::RegisterOn(TProtoPort& Port) {
    Owner = Port.RegisterOwner();
    OwnerPort = &Port;
    Registrations.emplace_back(&Port, Owner);
}

void TTovikPanel::EnsureOwner(TProtoPort& Port) {
    if (OwnerPort == &Port && Port.IsOwnerRegistered(Owner)) return;
    RegisterOn(Port);
}

TProtoPort* TTovikPanel::CurrentPort() {
    if (!Dev) return nullptr;
    if (TProtoPort* port = DevicePort()) {
        NoPortShown = false;
        // A port that went away and came back (or was replaced under the
        // same Id) gets a fresh registration, so that polling resumes.
        EnsureOwner(*port);
        return port;
    }
    Owner = kNoOwner;
    OwnerPort = nullptr;
    if (!DroppedDown) {
        if (PortSelected != 0) {
            PortSelected = 0;
            Touch(AreaPortBox);
        }
        Dev->PortId = 0;
    }
    // Nothing runs while there is no port, so what was blanked stays blank:
    // once is enough.
    if (!NoPortShown) {
        BlankDisplays();
        FlagReloadSettings = true;
        NoPortShown = true;
    }
    // An unknown kind is the first thing the operator must know about.
    SetStatus(Dev->HasKnownKind() ? std::string(kMsgNoConnection) : AddressProblem());
    return nullptr;
}

bool TTovikPanel::HasConnection() {
    return Dev && CurrentPort() && AddressProblem().empty();
}

void TTovikPanel::BlankDisplays() {
    OnCurrents(false, nullptr);
    OnMaxCurrent(false, nullptr);
    OnProtectionTimers(false, nullptr);
    OnAlarmCounters(false, nullptr);
    OnDeviceState(false, nullptr);
    OnSetpoints(false, nullptr);
    OnStatistics(false, nullptr);
}

// ---- sending ----

TResultHandler TTovikPanel::Track(const char* Name, size_t Need, THandler Handler) {
    ++OutstandingCount;
    const uint64_t cycle = HandlerCycle;
    if (cycle) ++OpenCycles[cycle].Pending;
    return [this, Name, Need, Handler, cycle](const TReply& reply) {
        --OutstandingCount;
        const bool ok = reply.Ok();
        const TBlock* data = reply.Data;
        if (!ok)
            NoteRead(cycle, Name, true);
        else if (Need > 0 && (!data || data->size() < Need))
            NoteRead(cycle, Name, false);
        // What this handler queues belongs to the same cycle.
        const uint64_t outer = HandlerCycle;
        HandlerCycle = cycle;
        (this->*Handler)(ok, data);
        HandlerCycle = outer;
        const auto it = OpenCycles.find(cycle);
        if (it == OpenCycles.end() || --it->second.Pending > 0) return;
        // The poll and everything it started have run: the cycle is over.
        Cycles = cycle;
        PollOk = it->second.PollOk;
        Failures = std::move(it->second.Failed);
        Incomplete = std::move(it->second.Incomplete);
        OpenCycles.erase(it);
    };
}

void TTovikPanel::Untrack() {
    --OutstandingCount;
    const auto it = OpenCycles.find(HandlerCycle);
    if (it != OpenCycles.end() && --it->second.Pending <= 0) OpenCycles.erase(it);
}

void TTovikPanel::NoteRead(uint64_t Cycle, const char* Name, bool Failed) {
    const auto it = OpenCycles.find(Cycle);
    if (it == OpenCycles.end()) {
        // A read of no cycle (the journal read of a front end).
        (Failed ? Failures : Incomplete).emplace_back(Name);
        return;
    }
    (Failed ? it->second.Failed : it->second.Incomplete).emplace_back(Name);
}

void TTovikPanel::PollNow() {
    const TProtoPort* port = DevicePort();
    LastPoll = timeGetTime() - static_cast<uint32_t>(port ? port->RequestInterval.load() : 0);
}

// ---- the timer ----

void TTovikPanel::Tick() {
    if (EnPuskRunning) EnPuskTimerTimer();
    // A poll whose port went away never completes: it no longer holds the panel back.
    if (FlagPollOutstanding && !PortStillListed(PollPort)) FlagPollOutstanding = false;
    if (FlagTaskLogReading && !PortStillListed(TaskChainPort)) FlagTaskLogReading = false;

    TProtoPort* port = CurrentPort();
    if (!port) return;
    if (const std::string problem = AddressProblem(); !problem.empty()) {
        SetStatus(problem);
        ResultList->DispatchOne();
        return;
    }
    if (port->IsOwnerIdle(Owner) && ResultList->IsEmpty()) {
        // The interval counts from the previous poll; a signed 32-bit
        // difference, so the clock's wrap after 49.7 days changes nothing.
        const uint32_t elapsed = ElapsedMs(LastPoll, timeGetTime());
        const auto interval = static_cast<uint32_t>(std::max(port->RequestInterval.load(), 0));
        if (elapsed < interval || FlagPollOutstanding || !Polling)
            ResultList->DispatchOne();
        else
            StatePoll(*port);
    } else {
        ResultList->DispatchOne();
    }
}

void TTovikPanel::StatePoll(TProtoPort& Port) {
    LastPoll = timeGetTime();
    FlagPollOutstanding = true;
    PollPort = &Port;
    const uint64_t outer = HandlerCycle;
    HandlerCycle = ++LastCycleId;
    OpenCycles[HandlerCycle] = {};
    if (!Send(RequestReadCell, Track("state_poll", kNeedStatePoll, &TTovikPanel::OnStatePoll), kUstModelRow))
        FlagPollOutstanding = false;
    HandlerCycle = outer;
}

// ---- completions ----

void TTovikPanel::OnStatePoll(bool Ok, const TBlock* Data) {
    FlagPollOutstanding = false;
    const auto poll = DecodeStatePoll(Ok, Data);
    if (poll && HasConnection()) {
        if (const auto it = OpenCycles.find(HandlerCycle); it != OpenCycles.end()) it->second.PollOk = true;
        Model = poll->ModelByte;
        Labels.OnStatePoll(*poll);
        if (poll->SettingsChanged) FlagReloadSettings = true;
        if (poll->TaskLogChanged) FlagReloadTaskLog = true;
        Dev->VariantByte = poll->VariantByte;
        // The model byte the last setpoint read holds (none when its byte
        // did not arrive).
        if (Labels.SetpointBytes() <= kUstOffsetModel || Labels.SetpointBlock()[kUstOffsetModel] != Model)
            FlagRefreshAll = true;
        if (FlagRefreshAll) {
            FlagRefreshAll = false;
            FlagReloadSettings = true;
            if (!FlagTaskLogReading) FlagReloadTaskLog = true;
        }
        if (FlagReloadSettings) {
            FlagReloadSettings = false;
            Send(RequestReadUst, Track("setpoints", kSetpointBlockSize, &TTovikPanel::OnSetpoints));
            if (Access == TPanelAccess::Service)
                Send(RequestReadCalInfo,
                     Track("calibration_info", kNeedCalInfo, &TTovikPanel::OnCalibrationInfo));
        }
        if (FlagReloadTaskLog && !FlagTaskLogReading) {
            FlagReloadTaskLog = false;
            Tasks.BeginRead();
            if (Send(RequestReadTask, Track("task_log", kTaskReplySize, &TTovikPanel::OnTaskEntry),
                     uint8_t{0})) {
                FlagTaskLogReading = true;
                TaskChainPort = PollPort;
            }
        }
        Send(RequestReadCurrents, Track("currents", kCurrentsReplySize, &TTovikPanel::OnCurrents));
        Send(RequestReadImax, Track("max_current", kImaxReplySize, &TTovikPanel::OnMaxCurrent));
        Send(RequestReadTimers, Track("timers", kNeedTimers, &TTovikPanel::OnProtectionTimers));
        Send(RequestReadAlarmCounters,
             Track("alarm_counters", kAlarmCountersSize, &TTovikPanel::OnAlarmCounters));
        Send(RequestReadState, Track("state", kStateReplySize, &TTovikPanel::OnDeviceState));
        Send(RequestReadAlarmCount, Track("alarm_count", kAlarmCountReplySize, &TTovikPanel::OnAlarmCount));
        Send(RequestReadClock, Track("clock", kDeviceTimeSize, &TTovikPanel::OnDeviceClock));
        if (HasStatistics(Dev->GetDeviceKind()))
            Send(RequestReadStatistics,
                 Track("statistics", kStatisticsReplySize, &TTovikPanel::OnStatistics));
        return;
    }
    // No answer (or no device or port): nothing shown is current any more.
    OnCurrents(false, nullptr);
    OnMaxCurrent(false, nullptr);
    OnProtectionTimers(false, nullptr);
    OnAlarmCounters(false, nullptr);
    OnDeviceState(false, nullptr);
    OnSetpoints(false, nullptr);
    OnTaskEntry(false, nullptr);
    OnStatistics(false, nullptr);
    DisableCommandButtons();
    FlagRefreshAll = true;
}

void TTovikPanel::OnSetpoints(bool Ok, const TBlock* Data) {
    Labels.OnSetpoints(Ok, Data);
    Touch(AreaLabels);
    const bool whole = Ok && Data && Data->size() >= kSetpointBlockSize;
    if (whole) {
        SetupForKind();
        ShowAlarms();
        FillSetpointGrid(&Labels.SetpointBlock(), kSetpointBlockSize);
        RefreshComparison();
        if (Access != TPanelAccess::ReadOnly) {
            EnableCommandButtons();
            const bool on = Labels.SetpointBlock()[kSetpointFields[kUstAutoRow].Offset] != 0;
            if (AutomationOnCaption == on) {
                AutomationOnCaption = !on;
                Touch(AreaButtons);
            }
        }
        return;
    }
    // A block cut short still shows the items whose bytes arrived; it is
    // read again with the next poll.
    if (Ok && Data && !Data->empty())
        FillSetpointGrid(&Labels.SetpointBlock(), Labels.SetpointBytes());
    else
        FillSetpointGrid(nullptr, 0);
    FlagRefreshAll = true;
}

void TTovikPanel::OnCurrents(bool Ok, const TBlock* Data) {
    Labels.OnCurrents(Ok, Data);
    Touch(AreaLabels);
    // The trend takes what the poll brought; a failed read leaves a gap.
    CurrentTrend.Add(timeGetTime(), Labels.CurrentsAmps());
}

void TTovikPanel::OnMaxCurrent(bool Ok, const TBlock* Data) {
    Labels.OnMaxCurrent(Ok, Data);
    Touch(AreaLabels);
}

void TTovikPanel::OnProtectionTimers(bool Ok, const TBlock* Data) {
    Labels.OnProtectionTimers(Ok, Data);
    Touch(AreaLabels);
}

void TTovikPanel::OnAlarmCounters(bool Ok, const TBlock* Data) {
    Labels.OnAlarmCounters(Ok, Data);
    Touch(AreaLabels);
}

void TTovikPanel::OnDeviceState(bool Ok, const TBlock* Data) {
    Labels.OnDeviceState(Ok, Data, LastAlarm());
    Touch(AreaLabels);
    SetStatus(Labels.StateStatusText());
}

void TTovikPanel::OnDeviceClock(bool Ok, const TBlock* Data) {
    Labels.OnDeviceClock(Ok, Data);
    Touch(AreaLabels);
}

void TTovikPanel::OnStatistics(bool Ok, const TBlock* Data) {
    Labels.OnStatistics(Ok, Data);
    Touch(AreaLabels);
}

}  // namespace tovik
