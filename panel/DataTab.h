#pragma once
// The device data tab: the relay's values as its labels show them, its
// state in the status bar, the model memo, the installation name, and the
// control commands (start, stop, reset of the alarm counters, the clock,
// the automatic mode).
#include <array>
#include <cstdint>
#include <string>

#include "panel/CurrentTrend.h"
#include "panel/DeviceView.h"
#include "panel/Intent.h"
#include "panel/PanelControls.h"
#include "panel/PollCycle.h"
#include "panel/RelayLink.h"

namespace tovik {

class TAlarmLogTab;

// The name box: its text, whether it is being edited, its group's caption.
struct TNameBox {
    std::string Text = kNewDeviceName;
    bool ReadOnly = true;
    std::string Caption = kNameCaption;
    bool Editable = false;  // the access level lets it be edited at all
};

class TDataTab {
public:
    TDataTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll, TDeviceView& View,
             TAlarmLogTab& Alarms);

    // ---- what the tab shows ----
    // Moves when the status, the caption, the memo, the name box or a
    // button changed; the labels have revisions of their own (View()).
    uint32_t Revision() const { return Rev; }
    const TDeviceView& View() const { return Labels; }
    const std::string& StatusText() const { return Status; }
    const std::string& Caption() const { return DataCaption; }
    const std::string& ModelMemo() const { return Memo; }
    const TNameBox& NameBox() const { return Name; }
    // "Пуск", "Стоп", "Сбросить", "Синхронизация часов" and the automation switch.
    bool ButtonEnabled(TPanelButton Button) const { return Buttons.Enabled(Button); }
    const char* AutomationCaption() const { return AutomationOnCaption ? kAutomationOn : kAutomationOff; }
    // Ia, Ib, Ic and Di of every current read.
    const TCurrentTrend& Trend() const { return CurrentTrend; }

    // ---- the operator's intents ----
    TIntentResult Start();
    TIntentResult Stop();
    // "ТовикМ ModBus" resets its counters with its alarm journal.
    TIntentResult ResetCounters();
    TIntentResult SyncClock();
    // The opposite of what the relay reports, as the button's caption says.
    TIntentResult SwitchAutomation();
    TIntentResult SetAutomation(bool On);
    // A double click on the name box: editing begins, or ends and stores `Text`.
    TIntentResult NameDoubleClicked(const std::string& Text);
    // Enter in the name box: as a double click, but an empty text is refused.
    TIntentResult NameEntered(const std::string& Text);

    // ---- the 1500 ms after a start, by the millisecond clock ----
    void EnPuskTimerTimer();
    bool EnPuskTimerRunning() const { return EnPuskRunning; }
    // The milliseconds left of the 1500; none when it does not run.
    std::optional<uint32_t> EnPuskMsLeft() const;

    // ---- the record ----
    // The last clock payload sent, and the last automation command byte.
    const std::array<uint8_t, 6>& ClockPayload() const { return Clock; }
    uint8_t AutomationCommand() const { return AutoCommand; }
    // A whole setpoint block read since the last failed poll: the relay is
    // known to answer and its settings are known.
    bool CommandsUp() const { return Up; }

    // ---- for the panel ----
    void SetupForKind();
    void Read(TPollRead Read);
    // Every value the poll cycle reads shown as unavailable; the status bar
    // says why (`Why`: how the state poll ended).
    void Blank(const TOutcome& Why = TOutcome{});
    void SetCommandsUp(bool On);
    void ShowStatus(std::string Text);
    // The alarm cache changed: the state text names the newest alarm.
    void AlarmsChanged();

private:
    void OnCurrents(const TReply& Reply);
    void OnMaxCurrent(const TReply& Reply);
    void OnProtectionTimers(const TReply& Reply);
    void OnAlarmCounters(const TReply& Reply);
    void OnDeviceState(const TReply& Reply);
    void OnDeviceClock(const TReply& Reply);
    void OnStatistics(const TReply& Reply);
    // The access rule, the button, the connection.
    std::optional<TIntentResult> Refusal(TIntent Intent, TPanelButton Button) const;
    void SetButton(TPanelButton Button, bool On);
    void Touch() { ++Rev; }

    const TPanelEnvironment& Env;
    const TPanelAccess Access;
    TRelayLink& Link;
    TPollCycle& Poll;
    TDeviceView& Labels;
    TAlarmLogTab& Alarms;

    uint32_t Rev = 1;
    std::string Status;
    std::string DataCaption;
    std::string Memo;
    TNameBox Name;
    TButtonSet<BtnPusk, BtnAutomation> Buttons;
    bool AutomationOnCaption = true;  // "Включить"
    bool Up = false;
    bool EnPuskRunning = false;
    uint32_t EnPuskStart = 0;
    std::array<uint8_t, 6> Clock{};
    uint8_t AutoCommand = 0;
    TCurrentTrend CurrentTrend;
};

}  // namespace tovik
