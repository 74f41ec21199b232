#pragma once
// The device panel without its window: the session with one relay. It binds
// the device, runs the tick, and composes the parts of one concern each:
//   Link()        the way to the relay: port, owner id, result list, requests
//   Poll()        the poll cycle: the tick's decisions, the flags, the batch
//   Data()        the data tab: labels, status, name, the control commands
//   Settings()    the settings tab: port, bus number, setpoint grid and writes
//   TaskLog()     the task log tab
//   Alarms()      the alarm log tab
//   Calibration() the calibration tab (service level)
//   Files()       the setpoint files, the compare, the restore and the report
// Each part offers the operator's intents and says what came of each
// (panel/Intent.h), and exposes what its tab shows, with revisions that move
// only when something changed. The Qt panel and tovik-cli are front ends of
// this one session; neither holds a rule of its own.
//
// Driven by Tick() (when NextTickInMs() says, or when a completion
// arrives), by the intents, and by what the environment gives it (panel/PanelEnvironment.h); the millisecond
// clock is base/Clock.h. Everything runs in one thread (the user-interface thread); the port workers reach it
// only through its result list.
#include <functional>
#include <memory>
#include <vector>

#include "panel/AlarmLogTab.h"
#include "panel/CalibrationTab.h"
#include "panel/DataTab.h"
#include "panel/DeviceView.h"
#include "panel/Intent.h"
#include "panel/PanelControls.h"
#include "panel/PanelEnvironment.h"
#include "panel/PollCycle.h"
#include "panel/RelayLink.h"
#include "panel/SetpointFiles.h"
#include "panel/SettingsTab.h"
#include "panel/TaskLogTab.h"

namespace tovik {

class TTovikPanel {
public:
    // Construction: the access rules applied, the flags clear, the result
    // list made, no device; the status bar emptied.
    explicit TTovikPanel(TPanelEnvironment Environment);
    // Destruction: every owner id this panel registered is released on the
    // ports that still exist; completions still waiting are discarded.
    ~TTovikPanel();
    TTovikPanel(const TTovikPanel&) = delete;
    TTovikPanel& operator=(const TTovikPanel&) = delete;

    // ---- set-up ----
    void AttachDevice(TTovikDevice* Device);
    void FillPortBox();
    // Installed on the device. Restore: applies the four values of a block
    // of at least 16 bytes. Not restore: stores the view's current layout
    // in the block (the same four signed 32-bit values).
    void PanelLayoutHandler(TMemoryStream& Block, bool Restore);
    // The view's side of the layout: reading the four values, applying them.
    void SetLayoutView(std::function<TPanelLayout()> Read, std::function<void(const TPanelLayout&)> Apply);

    // RefreshTimerTimer after the grid's auto-size: either queues a state
    // poll or hands at most one completion to its handler. Also ends the
    // 1500 ms of a disabled "Пуск".
    void Tick();
    // How long a front end may sleep before the next tick: until the next
    // deadline of the tick's own decisions (the next state poll, the end of
    // the 1500 ms after a start), 0 while completions wait, and never longer
    // than kIdleTickMs, within which a port that went away or came back is
    // noticed. Completions, and the last of the panel's queued jobs taken
    // while it holds the poll back, wake the front end through the result
    // list's notifier.
    uint32_t NextTickInMs();

    TPanelAccess Access() const { return Rights; }
    TTovikDevice* Device() const { return Link().Device(); }
    // The command buttons of every tab, as the window draws them.
    bool ButtonEnabled(TPanelButton Button) const;
    std::string ButtonCaption(TPanelButton Button) const;
    // Message boxes that completions left for the front end, oldest first;
    // taking them empties the list.
    std::vector<TPanelMessage> TakeMessages() { return Messages.Take(); }
    uint32_t MessagesRevision() const { return Messages.Revision(); }

    // ---- the parts ----
    TRelayLink& Link() { return LinkPart; }
    const TRelayLink& Link() const { return LinkPart; }
    TPollCycle& Poll() { return PollPart; }
    const TPollCycle& Poll() const { return PollPart; }
    TDataTab& Data() { return DataPart; }
    const TDataTab& Data() const { return DataPart; }
    TSettingsTab& Settings() { return SettingsPart; }
    const TSettingsTab& Settings() const { return SettingsPart; }
    TTaskLogTab& TaskLog() { return TaskLogPart; }
    const TTaskLogTab& TaskLog() const { return TaskLogPart; }
    TAlarmLogTab& Alarms() { return AlarmsPart; }
    const TAlarmLogTab& Alarms() const { return AlarmsPart; }
    TCalibrationTab& Calibration() { return CalibrationPart; }
    const TCalibrationTab& Calibration() const { return CalibrationPart; }
    TSetpointFiles& Files() { return FilesPart; }
    const TSetpointFiles& Files() const { return FilesPart; }

private:
    // CurrentPort: the device's port, or none (then every display is
    // blanked, "Не настроено подключение." shown and the device detached
    // from the port). HasConnection: a device is bound, its port found, and
    // its kind and bus number can be addressed.
    TProtoPort* CurrentPort();
    bool HasConnection();
    void OnStatePoll(const TReply& Reply);
    void OnSetpoints(const TReply& Reply);
    void Read(TPollRead Read);
    void SetupForKind();
    void BlankDisplays();
    void SetCommandsUp(bool On);

    TPanelEnvironment Env;
    TPanelAccess Rights;
    TPanelMessages Messages;
    TRelayLink LinkPart;
    TPollCycle PollPart;
    // The relay as read: its labels' texts and the setpoint block every part reads.
    TDeviceView View;
    TAlarmLogTab AlarmsPart;
    TDataTab DataPart;
    TSettingsTab SettingsPart;
    TTaskLogTab TaskLogPart;
    TCalibrationTab CalibrationPart;
    TSetpointFiles FilesPart;
    bool NoPortShown = false;

    std::function<TPanelLayout()> ReadLayout;
    std::function<void(const TPanelLayout&)> ApplyLayout;
};

}  // namespace tovik
