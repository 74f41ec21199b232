// The device data tab: its reads, its labels and status, the installation
// name, and the control commands.
#include "panel/DataTab.h"

#include "base/Clock.h"
#include "base/Cp1251.h"
#include "panel/AlarmLogTab.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"
#include "protocol/Outcome.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {
// The protection timers' handler shows seven timers and Nапв; the 17th byte is not shown.
constexpr size_t kNeedTimers = 16;
}  // namespace

TDataTab::TDataTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll,
                   TDeviceView& View, TAlarmLogTab& Alarms)
    : Env(Environment),
      Access(PanelAccess(Environment.AccessLevel)),
      Link(Link),
      Poll(Poll),
      Labels(View),
      Alarms(Alarms),
      DataCaption(DataTabCaption(kKindTovik)),
      Memo(ModelDescription(0, kKindTovik)),
      Buttons(Access == TPanelAccess::ReadOnly),
      CurrentTrend(Environment.WallClockMs) {
    // Every command button waits for the first setpoint read; with
    // read-only access none is ever enabled.
    Name.Editable = Access != TPanelAccess::ReadOnly;
}

void TDataTab::SetButton(TPanelButton Button, bool On) {
    if (Buttons.Set(Button, On)) Touch();
}

void TDataTab::ShowStatus(std::string Text) {
    if (Text == Status) return;
    Status = std::move(Text);
    Touch();
}

// ---- set-up and the reads ----

void TDataTab::SetupForKind() {
    const TTovikDevice* dev = Link.Device();
    const uint8_t kind = dev ? dev->GetDeviceKind() : kKindTovik;
    if (kind != Labels.DeviceKind()) {
        Labels.SetDeviceKind(kind);
        Touch();
    }
    const std::string caption = DataTabCaption(kind);
    if (caption != DataCaption) {
        DataCaption = caption;
        Touch();
    }
    const std::string memo = ModelDescription(Labels.ModelByte(), kind);
    if (memo != Memo) {
        Memo = memo;
        Touch();
    }
    // The stored name goes back into the box, but not over what the
    // operator is typing.
    if (dev && Name.ReadOnly && Name.Text != dev->InstallationName) {
        Name.Text = dev->InstallationName;
        Touch();
    }
}

void TDataTab::Read(TPollRead Read) {
    auto handler = [this](void (TDataTab::*on)(const TReply&)) {
        return [this, on](const TReply& reply) { (this->*on)(reply); };
    };
    switch (Read) {
        case TPollRead::Currents:
            Poll.Read(RequestReadCurrents, "currents", kCurrentsReplySize, handler(&TDataTab::OnCurrents));
            break;
        case TPollRead::MaxCurrent:
            Poll.Read(RequestReadImax, "max_current", kImaxReplySize, handler(&TDataTab::OnMaxCurrent));
            break;
        case TPollRead::Timers:
            Poll.Read(RequestReadTimers, "timers", kNeedTimers, handler(&TDataTab::OnProtectionTimers));
            break;
        case TPollRead::AlarmCounters:
            Poll.Read(RequestReadAlarmCounters, "alarm_counters", kAlarmCountersSize,
                      handler(&TDataTab::OnAlarmCounters));
            break;
        case TPollRead::State:
            Poll.Read(RequestReadState, "state", kStateReplySize, handler(&TDataTab::OnDeviceState));
            break;
        case TPollRead::Clock:
            Poll.Read(RequestReadClock, "clock", kDeviceTimeSize, handler(&TDataTab::OnDeviceClock));
            break;
        case TPollRead::Statistics:
            Poll.Read(RequestReadStatistics, "statistics", kStatisticsReplySize,
                      handler(&TDataTab::OnStatistics));
            break;
        default:
            break;
    }
}

void TDataTab::Blank(const TOutcome& Why) {
    const TReply none{Why};
    OnCurrents(none);
    OnMaxCurrent(none);
    OnProtectionTimers(none);
    OnAlarmCounters(none);
    OnDeviceState(none);
    OnStatistics(none);
}

void TDataTab::OnCurrents(const TReply& Reply) {
    Labels.OnCurrents(Reply.Ok(), Reply.Data);
    // The trend takes what the poll brought; a failed read leaves a gap.
    CurrentTrend.Add(timeGetTime(), Labels.CurrentsAmps());
}

void TDataTab::OnMaxCurrent(const TReply& Reply) {
    Labels.OnMaxCurrent(Reply.Ok(), Reply.Data);
}

void TDataTab::OnProtectionTimers(const TReply& Reply) {
    Labels.OnProtectionTimers(Reply.Ok(), Reply.Data);
}

void TDataTab::OnAlarmCounters(const TReply& Reply) {
    Labels.OnAlarmCounters(Reply.Ok(), Reply.Data);
}

void TDataTab::OnDeviceState(const TReply& Reply) {
    const TTovikDevice* dev = Link.Device();
    std::optional<TAlarmRecord> last;
    if (dev && !dev->AlarmCache.empty()) last = dev->AlarmCache.back();
    Labels.OnDeviceState(Reply.Ok(), Reply.Data, last);
    // "Недоступно" says why: no answer, a damaged reply, the line gone, ...
    if (!Labels.StateCode()) {
        const TProtoPort* port = Link.DevicePort();
        ShowStatus(Labels.StateStatusText() + ": " +
                   ReasonText(ReadOutcome(Reply, kStateReplySize), port ? port->Name : std::string()));
    } else
        ShowStatus(Labels.StateStatusText());
}

void TDataTab::OnDeviceClock(const TReply& Reply) {
    Labels.OnDeviceClock(Reply.Ok(), Reply.Data);
}

void TDataTab::OnStatistics(const TReply& Reply) {
    Labels.OnStatistics(Reply.Ok(), Reply.Data);
}

void TDataTab::AlarmsChanged() {
    const TTovikDevice* dev = Link.Device();
    std::optional<TAlarmRecord> last;
    if (dev && !dev->AlarmCache.empty()) last = dev->AlarmCache.back();
    Labels.RefreshStateText(last);
    // The status bar names the newest alarm as soon as it is known.
    if (Labels.StateCode()) ShowStatus(Labels.StateStatusText());
}

void TDataTab::SetCommandsUp(bool On) {
    Up = On;
    for (TPanelButton b : {BtnPusk, BtnStop, BtnResetCounters, BtnSyncTime, BtnAutomation}) SetButton(b, On);
    if (!On) return;
    const bool automation = Labels.SetpointBlock()[kSetpointFields[kUstAutoRow].Offset] != 0;
    if (AutomationOnCaption == automation) {
        AutomationOnCaption = !automation;
        Touch();
    }
}

// ---- the control commands ----

std::optional<TIntentResult> TDataTab::Refusal(TIntent Intent, TPanelButton Button) const {
    if (auto refused = AccessRefusal(Access, Intent)) return refused;
    // A disabled button stands for a command that is not available now.
    if (!ButtonEnabled(Button)) return IntentRefused(TRefusalReason::NotNow);
    if (!Link.Reachable()) return IntentRefused(TRefusalReason::NoConnection);
    return std::nullopt;
}

TIntentResult TDataTab::Start() {
    if (auto refused = Refusal(TIntent::Start, BtnPusk)) return *refused;
    const TIntentResult sent = Link.Command(RequestStart, nullptr);
    EnPuskRunning = true;
    EnPuskStart = timeGetTime();
    SetButton(BtnPusk, false);
    return sent;
}

void TDataTab::EnPuskTimerTimer() {
    if (!EnPuskRunning || ElapsedMs(EnPuskStart, timeGetTime()) < kEnPuskTimerMs) return;
    EnPuskRunning = false;
    // After a failed poll the commands stay off until the relay answers again.
    if (Up) SetButton(BtnPusk, true);
}

std::optional<uint32_t> TDataTab::EnPuskMsLeft() const {
    if (!EnPuskRunning) return std::nullopt;
    const uint32_t elapsed = ElapsedMs(EnPuskStart, timeGetTime());
    return elapsed >= kEnPuskTimerMs ? 0 : kEnPuskTimerMs - elapsed;
}

TIntentResult TDataTab::Stop() {
    if (auto refused = Refusal(TIntent::Stop, BtnStop)) return *refused;
    return Link.Command(RequestStop, nullptr);
}

TIntentResult TDataTab::ResetCounters() {
    if (auto refused = Refusal(TIntent::ResetCounters, BtnResetCounters)) return *refused;
    if (Link.Device()->GetDeviceKind() == kKindTovikMModbus) return Alarms.ClearJournal();
    return Link.Command(RequestResetAlarmCounters, nullptr);
}

TIntentResult TDataTab::SyncClock() {
    if (auto refused = Refusal(TIntent::SyncClock, BtnSyncTime)) return *refused;
    const TLocalTime now = Env.LocalNow();
    auto byte = [](int v) { return static_cast<uint8_t>(v); };
    Clock = {byte(now.Hour), byte(now.Minute), byte(now.Second),
             byte(now.Day),  byte(now.Month),  byte(now.Year % 1000)};
    return Link.Command(static_cast<bool (*)(TProtoPort&, uint8_t, int32_t, uint8_t, TEvents, TResultHandler,
                                             const TLocalTime&)>(RequestSetClock),
                        nullptr, now);
}

TIntentResult TDataTab::SwitchAutomation() {
    // A relay that reports any non-zero mode is switched off.
    return SetAutomation(Labels.SetpointBlock()[kSetpointFields[kUstAutoRow].Offset] == 0);
}

TIntentResult TDataTab::SetAutomation(bool On) {
    if (auto refused = Refusal(TIntent::Automation, BtnAutomation)) return *refused;
    SetButton(BtnAutomation, false);
    AutoCommand = On ? 1 : 0;
    const TIntentResult sent = Link.Command(RequestWriteCell, nullptr, kUstAutoRow, MakeUstRaw(AutoCommand));
    Poll.Flags().ReloadSettings = true;
    return sent;
}

// ---- the installation name ----

TIntentResult TDataTab::NameDoubleClicked(const std::string& Text) {
    if (auto refused = AccessRefusal(Access, TIntent::Rename)) return *refused;
    TTovikDevice* dev = Link.Device();
    if (!dev) return IntentRefused(TRefusalReason::NoConnection);
    if (Name.ReadOnly) {
        Name.ReadOnly = false;
        Name.Caption = kNameEditCaption;
        Name.Text = Text;
        Touch();
        return IntentDone();
    }
    // The name is stored in a 40-character Windows-1251 field: a text that
    // does not fit would fail the whole save. It stays in the box to be corrected.
    switch (CheckFieldText(Text, kMaxInstallationNameLength)) {
        case TTextCheck::Ok:
            break;
        case TTextCheck::TooLong:
            return IntentRefused(
                TRefusalReason::BadInput,
                "Имя электроустановки длиннее " + std::to_string(kMaxInstallationNameLength) + " символов.");
        case TTextCheck::BadChar:
            return IntentRefused(
                TRefusalReason::BadInput,
                "Имя электроустановки содержит символ, которого нет в кодировке Windows-1251.");
    }
    Name.ReadOnly = true;
    Name.Caption = kNameCaption;
    Name.Text = Text;
    Touch();
    dev->InstallationName = Text;
    if (Env.DeviceRenamed) Env.DeviceRenamed(*dev);
    return IntentDone();
}

TIntentResult TDataTab::NameEntered(const std::string& Text) {
    if (auto refused = AccessRefusal(Access, TIntent::Rename)) return *refused;
    if (!Link.Device()) return IntentRefused(TRefusalReason::NoConnection);
    // Wrong input: a plain message box.
    if (Text.empty()) return IntentRefused(TRefusalReason::BadInput, kMsgNameEmpty, true);
    return NameDoubleClicked(Text);
}

}  // namespace tovik
