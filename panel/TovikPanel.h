#pragma once
// The device panel without its window: the panel's state, the polling
// cycle it drives from its 10 ms timer, every completion handler and every
// action of the data and settings tabs, and everything the window shows
// (label texts, status bar, captions, grid cells, which buttons are
// enabled). The Qt panel and tovik-cli both run on it; neither holds a
// rule of its own.
//
// Driven by Tick() (the 10 ms timer), by the actions, and by what the
// environment gives it: the port list, the operator's access level, the
// locale, the PC's local time; the millisecond clock is base/Clock.h.
// Everything runs in one thread (the user-interface thread); the port
// workers reach it only through its result list.
//
// Change notification: each display area has a revision that moves only
// when something in it changed (labels each have their own), so a view
// redraws only what changed.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/TovikDevice.h"
#include "panel/Calibration.h"
#include "panel/CurrentTrend.h"
#include "panel/DeviceView.h"
#include "panel/SetpointReport.h"
#include "panel/SetpointRestore.h"
#include "panel/TaskLog.h"
#include "panel/TextGrid.h"
#include "ports/ProtoPort.h"
#include "protocol/Builders.h"
#include "protocol/Codecs.h"

namespace tovik {

class TProtoPortList;

// The owner id of a panel that holds none on its port.
inline constexpr int32_t kNoOwner = 268435455;
inline constexpr uint32_t kRefreshTimerMs = 10;
inline constexpr uint32_t kEnPuskTimerMs = 1500;
inline constexpr int32_t kPlaceholderPortId = -1;
inline constexpr int kEnterKey = 13;

inline constexpr const char* kMsgNoConnection = "Не настроено подключение.";
inline constexpr const char* kMsgNameEmpty = "Необходима не пустая строка.";
inline constexpr const char* kPortNone = "Нет";
inline constexpr const char* kNameCaption = "Имя электроустановки";
inline constexpr const char* kNameEditCaption = "Введите имя электроустановки:";
inline constexpr const char* kNewDeviceName = "Вентиляция";
inline constexpr const char* kAutomationOn = "Включить";
inline constexpr const char* kAutomationOff = "Отключить";

// Access levels of an account: 0 service, 2 read-only, any other full.
enum class TPanelAccess { Service, Full, ReadOnly };
TPanelAccess PanelAccess(uint8_t Level);

// The command buttons of every tab, in the order of their tabs.
enum TPanelButton : int {
    BtnPusk,              // TovikPuskButton "Пуск"
    BtnStop,              // TovikStopButton "Стоп"
    BtnResetCounters,     // ResetAVCountersBtn "Сбросить"
    BtnSyncTime,          // SyncTimeBtn "Синхронизация часов"
    BtnAutomation,        // OnOffAvtomatBtn "Включить" / "Отключить"
    BtnTaskAdd,           // TWNewBtn "Добавить задание"
    BtnTaskDelete,        // TWDelBtn "Удалить задание"
    BtnTaskClear,         // TWClrBtn "Очистить журнал"
    BtnAlarmClear,        // ClearAVbtn "Очистить"
    BtnAlarmExcel,        // saveBtn "Отправить в Excel"
    BtnAlarmSave,         // saveAVListBtn "Сохранить..."
    BtnStartCalibration,  // StartCalButton "Начать калибровку..."
    kButtonCount
};
struct TButtonInfo {
    const char* Name;
    const char* Caption;  // the automation button's first caption
};
const TButtonInfo& ButtonInfo(TPanelButton Button);

// The tabs, by the index they have when all five are there.
enum TPanelTab : int { TabData, TabSettings, TabTaskLog, TabAlarms, TabCalibration, kTabCount };
struct TTabInfo {
    const char* Name;
    const char* Caption;  // tab 0's caption changes with the device kind
};
const TTabInfo& TabInfo(TPanelTab Tab);
// Tab 0's caption for a device kind.
std::string DataTabCaption(uint8_t DeviceKind);

// What can change, for the view to redraw.
enum TPanelArea : int {
    AreaLabels,  // the data labels (each has its own revision too)
    AreaStatus,  // the main window's status bar text
    AreaKind,    // tab 0 caption, which labels are shown
    AreaModelMemo,
    AreaNameBox,       // text, read-only, group caption
    AreaButtons,       // enabled and captions
    AreaPortBox,       // items and selection
    AreaBus,           // BusIDSE value
    AreaSetpointGrid,  // any cell
    AreaTaskLog,       // entries, grid enabled
    AreaAlarms,        // the alarm grid
    AreaCalibration,   // calibration information
    AreaMessages,      // a message waits to be shown
    kAreaCount
};

// A message box for the front end to show, with its exact text.
struct TPanelMessage {
    std::string Text;
    bool Error = true;
};

// One item of the port box: its text and the Id of the port it stands for
// ("Нет" stands for the placeholder port, Id -1, which is never in the list).
struct TPortBoxItem {
    std::string Text;
    int32_t PortId = kPlaceholderPortId;
};

struct TPanelEnvironment {
    TProtoPortList* Ports = nullptr;  // where CurrentPort looks; none: no port ever
    // Instead of a list, one line that is the only port there is (tovik-cli).
    TProtoPort* Line = nullptr;
    uint8_t AccessLevel = 2;  // the logged-in account's level; fixed for the panel
    TLocaleFormat Locale;
    // The PC's local date and time; empty: the system's.
    std::function<TLocalTime()> LocalTime;
    // The device's installation name changed: its item in the device list
    // gets the new text.
    std::function<void(TDevice&)> DeviceRenamed;
    // The logged-in account's name, for setpoint files and reports.
    std::string Account;
    // The current trend's wall clock (ms since 1970); empty: the system's.
    std::function<int64_t()> WallClockMs;
};

class TTovikPanel {
public:
    // Construction: the access rules applied, the five flags clear, the
    // result list made, no device; the status bar emptied.
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

    // ---- timers ----
    // RefreshTimerTimer after the grid's auto-size: either queues a state
    // poll or hands at most one completion to its handler. Also ends the
    // 1500 ms of a disabled "Пуск".
    void Tick();
    void EnPuskTimerTimer();
    bool EnPuskTimerRunning() const { return EnPuskRunning; }

    // ---- commands (data tab, settings tab, task log tab) ----
    void TovikPuskButtonClick();
    void TovikStopButtonClick();
    void ResetAVCountersBtnClick();
    void SyncTimeBtnClick();
    void OnOffAvtomatBtnClick();
    void ClearAVbtnClick();
    // The name box; `Text` is what the box holds now.
    void TovikAgreNameDblClick(const std::string& Text);
    void TovikAgreNameKeyPress(int Key, const std::string& Text);

    // ---- settings tab ----
    void TovikPortsComboBoxDropDown();
    // Index of the item chosen, -1 for none.
    void TovikPortsComboBoxCloseUp(int Index);
    void BusIDSEChange(int Value);
    // A key in the setpoint grid: Row is the grid's current row (1 = item
    // 0), Text what its "новое" cell holds.
    void TovikUstStringGridKeyPress(int Key, int Row, const std::string& Text);

    // Reads the relay's alarm journal header and every record of it into
    // the device's cache (a read, allowed at every level).
    void ReadAlarmJournal();

    // ---- task log tab (PanelTaskLog.cpp) ----
    // A key in the task grid: Row and Column are the grid's current cell
    // (row 1 = entry 0), the texts those of the row's columns 1 and 2.
    void TW_SGKeyPress(int Key, int Row, int Column, const std::string& StartText,
                       const std::string& EndText);
    void TWNewBtnClick();
    // Row: the grid's current row (0: none).
    void TWDelBtnClick(int Row);
    void TWClrBtnClick();

    // ---- alarm log tab (PanelAlarms.cpp) ----
    // "Сохранить..." once the save dialog chose `Path`: the grid as the
    // fixed-width text file. False (and a message) when it was not written.
    bool saveAVListBtnClick(const std::string& Path);
    // "Отправить в Excel": the grid as a workbook at `Path`, for the
    // desktop's spreadsheet program to open. False (and a message) when it
    // was not written.
    bool sendExcelBtnClick(const std::string& Path);
    // The workbook was written but nothing on the desktop opens it.
    void ExcelNotOpened(const std::string& Path);

    // ---- calibration tab (PanelCalibration.cpp), service level only ----
    void CalPhaseCBClick(int Phase, bool Checked);  // IaCBClick, IbCBClick, IcCBClick
    void CalPointsChange(int Phase, int Value);     // IaSE, IbSE, IcSE
    // What the operator typed into a cell of CalValSG.
    void CalValSGEdited(int Row, int Column, const std::string& Text);
    void CalValSGKeyPress(int Key, int Row, int Column, const std::string& Text);
    // After the save or open dialog chose `Path`; false (and a message)
    // when nothing was written or loaded.
    bool CalSaveButtonClick(const std::string& Path);
    bool CalLoadButtonClick(const std::string& Path);
    void StartCalButtonClick();

    // ---- what the window shows ----
    uint32_t Revision(TPanelArea Area) const { return Revs[static_cast<size_t>(Area)]; }
    const TDeviceView& View() const { return Labels; }
    bool LabelVisible(TLabelId Id) const { return Labels.LabelVisible(Id); }
    const std::string& StatusText() const { return Status; }
    const std::string& Tab0Caption() const { return DataCaption; }
    bool HasCalibrationTab() const { return Access == TPanelAccess::Service; }
    const std::string& ModelMemo() const { return Memo; }
    const std::string& NameText() const { return Name; }
    bool NameReadOnly() const { return NameLocked; }
    const std::string& NameGroupCaption() const { return NameCaption; }
    bool NameEditable() const { return Access != TPanelAccess::ReadOnly; }
    bool ButtonEnabled(TPanelButton Button) const { return Enabled[static_cast<size_t>(Button)]; }
    std::string ButtonCaption(TPanelButton Button) const;
    const std::vector<TPortBoxItem>& PortItems() const { return PortBox; }
    int PortIndex() const { return PortSelected; }
    bool PortBoxEnabled() const { return Access != TPanelAccess::ReadOnly; }
    bool PortBoxDroppedDown() const { return DroppedDown; }
    int BusValue() const { return Bus; }
    bool BusEnabled() const { return Access != TPanelAccess::ReadOnly; }
    // Header row, then one row per item shown: name, "мин", "макс",
    // "сейчас", "новое".
    const TTextGrid& SetpointGrid() const { return UstGrid; }
    // Moves each time the panel writes that cell (also when it writes the
    // text the cell had): a view replaces what the operator typed in the
    // "новое" column only then.
    uint32_t SetpointCellRevision(size_t Row, size_t Column) const;
    bool SetpointGridEditable() const { return Access != TPanelAccess::ReadOnly; }
    const TTaskLog& TaskLog() const { return Tasks; }
    // Header row, then "№", "Начало", "Окончание" per entry.
    const TTextGrid& TaskGrid() const { return TaskCells; }
    // Moves each time the panel writes that cell: a view replaces what the
    // operator typed only then.
    uint32_t TaskCellRevision(size_t Row, size_t Column) const;
    bool TaskGridEnabled() const { return TaskGridOn; }
    bool TaskGridEditable() const { return Access != TPanelAccess::ReadOnly; }
    const TTextGrid& AlarmGrid() const { return Alarms; }
    // The calibration information of the last read (service level): the
    // largest number of points per phase, none before a read or after a
    // failed one.
    std::optional<uint8_t> CalibrationPoints() const { return CalPoints; }
    // The calibration tab (service level).
    const TCalibration& Calibration() const { return Cal; }
    // Message boxes waiting to be shown, oldest first; taking them empties the list.
    std::vector<TPanelMessage> TakeMessages();
    const std::vector<TPanelMessage>& PendingMessages() const { return Messages; }

    // ---- the panel's record, for the views and the tests ----
    TPanelAccess AccessRights() const { return Access; }
    TTovikDevice* Device() const { return Dev; }
    uint32_t LastPollTime() const { return LastPoll; }
    int32_t OwnerId() const { return Owner; }
    uint8_t ModelByte() const { return Model; }
    bool RefreshAll() const { return FlagRefreshAll; }
    bool ReloadSettings() const { return FlagReloadSettings; }
    bool ReloadTaskLog() const { return FlagReloadTaskLog; }
    bool TaskLogReading() const { return FlagTaskLogReading; }
    bool PollOutstanding() const { return FlagPollOutstanding; }
    const std::array<uint8_t, 2>& AlarmHeader() const { return Header; }
    const std::array<uint8_t, 2>& LastAlarmHeader() const { return LastHeader; }
    uint8_t AlarmFetchIndex() const { return FetchIndex; }
    // The last clock payload sent, and the last automation command byte.
    const std::array<uint8_t, 6>& ClockPayload() const { return Clock; }
    uint8_t AutomationCommand() const { return AutoCommand; }
    // The last value an Enter in the setpoint grid parsed.
    const TUstRaw& SetpointEditValue() const { return EditValue; }
    const std::shared_ptr<TResultEventsList>& Results() const { return ResultList; }

    // CurrentPort of the panel: the device's port, or none (then every
    // display is blanked, "Не настроено подключение." shown and the device
    // detached from the port). HasConnection: a device is bound, its port
    // found, and its kind and bus number can be addressed.
    TProtoPort* CurrentPort();
    bool HasConnection();

    // ---- the poll cycle, for front ends that wait for it ----
    // Completions queued by the panel that have not run yet.
    int Outstanding() const { return OutstandingCount; }
    // Poll cycles finished: the state poll and everything it started handled.
    uint64_t CompletedCycles() const { return Cycles; }
    // Whether the last state poll was answered.
    bool LastPollOk() const { return PollOk; }
    // The reads of the current (or last) cycle the relay did not answer, in
    // the order they completed: "state_poll", "setpoints",
    // "calibration_info", "task_log", "currents", "max_current", "timers",
    // "alarm_counters", "state", "alarm_count", "alarm_records", "clock",
    // "statistics".
    const std::vector<std::string>& FailedReads() const { return Failures; }
    // The reads of the cycle that were answered with less than their handler
    // shows (a reply cut short, a damaged task entry): what did not arrive
    // shows as unavailable.
    const std::vector<std::string>& IncompleteReads() const { return Incomplete; }
    // Alarm records the last journal read added to the device's cache.
    int AddedAlarms() const { return Added; }
    bool AlarmFetchFailed() const { return FetchFailed; }
    // Makes the next Tick queue a state poll if nothing else waits.
    void PollNow();

    // The line the communication monitor of this panel watches: the
    // device's port; none while the device has no port.
    TProtoPort* MonitorPort() const { return DevicePort(); }

    // ---- setpoint files, the report and the current trend (PanelSetpointFiles.cpp) ----
    // The relay as the last whole setpoint read left it; none before one.
    std::optional<TRelaySetpoints> RelaySetpoints() const;
    // What "Сохранить уставки в файл..." writes; none before a whole setpoint read.
    std::optional<TSetpointFile> SetpointFileNow() const;
    // "Сравнить с файлом...": the grid's items set against the file from
    // now on, also after every later setpoint read. The comparison's
    // Notice says what differs in kind or model.
    const TSetpointComparison* CompareWithFile(TSetpointFile File);
    void EndCompare();
    const std::optional<TSetpointComparison>& Comparison() const { return Compared; }
    // "Записать из файла...": what would be written, with the panel's
    // access level, against the last setpoint read.
    TRestorePlan PlanRestoreFromFile(const TSetpointFile& File) const;
    // Writes the plan's items through the panel's own requests, then reads
    // the setpoints back; the report follows as a message and in
    // LastRestore(). False (and a message) when refused; nothing is sent then.
    bool RestoreFromFile(const TSetpointFile& File);
    bool RestoreRunning() const { return Restoring.has_value(); }
    const std::optional<TRestoreReport>& LastRestore() const { return RestoreDone; }
    // Saving, comparing and the report need a whole setpoint read; restoring
    // also needs the commands up and no restore running.
    bool SetpointFileReady() const { return Labels.HasSetpoints(); }
    bool RestoreReady() const;
    // Moves with the comparison, a restore's start and end.
    uint32_t SetpointFileRevision() const { return FileRev; }
    // "Отчёт об уставках...": none before a whole setpoint read.
    std::optional<TSetpointReport> SetpointReport() const;
    // Ia, Ib, Ic and Di of every current read.
    const TCurrentTrend& Trend() const { return CurrentTrend; }
    // Whether Tick queues state polls (a front end that only reads the
    // alarm journal turns them off meanwhile); on from construction.
    void SetPolling(bool On) { Polling = On; }

private:
    // Handlers of the completions (Ok, Data), also called with Ok false to blank.
    void OnStatePoll(bool Ok, const TBlock* Data);
    void OnSetpoints(bool Ok, const TBlock* Data);
    void OnCurrents(bool Ok, const TBlock* Data);
    void OnMaxCurrent(bool Ok, const TBlock* Data);
    void OnProtectionTimers(bool Ok, const TBlock* Data);
    void OnAlarmCounters(bool Ok, const TBlock* Data);
    void OnDeviceState(bool Ok, const TBlock* Data);
    void OnDeviceClock(bool Ok, const TBlock* Data);
    void OnStatistics(bool Ok, const TBlock* Data);
    void OnTaskEntry(bool Ok, const TBlock* Data);
    void OnAlarmCount(bool Ok, const TBlock* Data);
    void OnAlarmRecord(bool Ok, const TBlock* Data);
    void OnCalibrationInfo(bool Ok, const TBlock* Data);
    void OnAlarmsCleared(bool Ok, const TBlock* Data);
    void OnTaskWritten(bool Ok, const TBlock* Data);
    void OnTaskAdded(bool Ok, const TBlock* Data);
    void OnTaskDeleted(bool Ok, const TBlock* Data);
    void OnTasksCleared(bool Ok, const TBlock* Data);
    // After a task-log command: read the log again, whatever the outcome,
    // or say that it failed (`Failure`).
    void AfterTaskCommand(bool Ok, const char* Failure);
    void SetTaskCell(size_t Row, size_t Column, const std::string& Text);
    // The task grid's texts from the panel's copy of the log.
    void FillTaskGrid();
    // The calibration tab may be used: service level, a run not started.
    bool MayCalibrate() const { return Access == TPanelAccess::Service && !Cal.Started(); }
    void OnRestoreRead(bool Ok, const TBlock* Data);
    void RefreshComparison();

    using THandler = void (TTovikPanel::*)(bool, const TBlock*);
    // A completion that counts towards Outstanding and the cycle, and is
    // noted in FailedReads when it failed, in IncompleteReads when it
    // brought fewer than `Need` bytes.
    TResultHandler Track(const char* Name, size_t Need, THandler Handler);
    // A tracked request that was not queued after all.
    void Untrack();
    // Notes a read outcome for the cycle of the running completion.
    void NoteRead(uint64_t Cycle, const char* Name, bool Failed);
    // Queues a request on the device's port with the panel's bus number,
    // kind, owner id and result list; false when nothing was queued.
    template <class TBuilder, class... TArgs>
    bool Send(TBuilder Builder, TResultHandler OnResult, TArgs&&... Args);

    void StatePoll(TProtoPort& Port);
    void SetupForKind();
    void SetupSetpointGrid();
    void FillSetpointGrid(const TSetpointBlock* Block, size_t Received);
    void ShowAlarms();
    void ShowTaskLog();
    void ClearAlarmJournal();
    void BlankDisplays();
    void SetStatus(std::string Text);
    void SetButton(TPanelButton Button, bool On);
    void SetCell(size_t Row, size_t Column, const std::string& Text);
    void EnableCommandButtons();
    void DisableCommandButtons();
    void Touch(TPanelArea Area) { ++Revs[static_cast<size_t>(Area)]; }
    // A message box; `Error` false for a plain one (wrong input).
    void Say(std::string Text, bool Error = true);
    // The command a button stands for may be sent: not read-only, the
    // button enabled, and a connection.
    bool MayCommand(TPanelButton Button);
    // Registers a fresh owner id on the port when the panel holds none
    // there (a port that disappeared and came back, a new port object).
    void EnsureOwner(TProtoPort& Port);
    void RegisterOn(TProtoPort& Port);
    bool PortStillListed(const TProtoPort* Port) const;
    // The port with this Id among the environment's ports, or none.
    TProtoPort* FindPort(int32_t Id) const;
    // The device's port, without CurrentPort's consequences.
    TProtoPort* DevicePort() const { return Dev ? FindPort(Dev->PortId) : nullptr; }
    // Why the device cannot be reached, or empty.
    std::string AddressProblem() const;
    std::optional<TAlarmRecord> LastAlarm() const;
    TLocalTime LocalNow() const;

    TPanelEnvironment Env;
    TPanelAccess Access;

    // The panel's record.
    uint32_t LastPoll = 0;
    int32_t Owner = 0;
    TTovikDevice* Dev = nullptr;
    uint8_t AutoCommand = 0;
    uint8_t Model = 0;
    TUstRaw EditValue{};
    std::array<uint8_t, 6> Clock{};
    std::shared_ptr<TResultEventsList> ResultList;
    TTaskLog Tasks;
    std::array<uint8_t, 2> Header{};
    std::array<uint8_t, 2> LastHeader{};
    uint8_t FetchIndex = 0;
    bool FlagRefreshAll = false;
    bool FlagReloadSettings = false;
    bool FlagReloadTaskLog = false;
    bool FlagTaskLogReading = false;
    bool FlagPollOutstanding = false;

    // Where the owner ids live: the port this panel polls on, and every
    // registration it made (released at destruction).
    TProtoPort* OwnerPort = nullptr;
    std::vector<std::pair<TProtoPort*, int32_t>> Registrations;
    TProtoPort* PollPort = nullptr;
    TProtoPort* TaskChainPort = nullptr;

    // What the window shows.
    std::array<uint32_t, kAreaCount> Revs{};
    TDeviceView Labels;
    std::string Status;
    std::string DataCaption;
    std::string Memo;
    std::string Name = kNewDeviceName;
    bool NameLocked = true;
    std::string NameCaption = kNameCaption;
    std::array<bool, kButtonCount> Enabled{};
    bool AutomationOnCaption = true;  // "Включить"
    bool CommandsUp = false;          // a whole setpoint block read since the last failed poll
    std::vector<TPortBoxItem> PortBox;
    int PortSelected = -1;
    bool DroppedDown = false;
    int Bus = kMinBusAddress;
    TTextGrid UstGrid;
    std::vector<std::array<uint32_t, 5>> UstRevs;
    bool TaskGridOn = false;
    TTextGrid TaskCells;
    std::vector<std::array<uint32_t, 3>> TaskRevs;
    TTextGrid Alarms;
    std::optional<uint8_t> CalPoints;
    TCalibration Cal{Env.Locale};
    std::vector<TPanelMessage> Messages;
    bool NoPortShown = false;

    std::function<TPanelLayout()> ReadLayout;
    std::function<void(const TPanelLayout&)> ApplyLayout;

    bool Polling = true;
    bool EnPuskRunning = false;
    uint32_t EnPuskStart = 0;

    // The cycle, for front ends that wait for it.
    // Cycles overlap: a poll may go out behind the last job of the batch
    // before it, so each request counts for the cycle of the handler (or
    // the poll) that queued it, 0 for none.
    struct TCycle {
        int Pending = 0;
        bool PollOk = false;
        std::vector<std::string> Failed;
        std::vector<std::string> Incomplete;
    };
    std::map<uint64_t, TCycle> OpenCycles;
    uint64_t LastCycleId = 0;
    uint64_t HandlerCycle = 0;  // the cycle of the completion running now
    int OutstandingCount = 0;
    uint64_t Cycles = 0;
    // Of the last cycle that ended (or of the last journal read).
    bool PollOk = false;
    std::vector<std::string> Failures;
    std::vector<std::string> Incomplete;
    int Added = 0;
    bool FetchFailed = false;

    // Setpoint files and the trend.
    std::optional<TSetpointFile> CompareFile;
    std::optional<TSetpointComparison> Compared;
    struct TRestoreRun {
        TRestorePlan Plan;
    };
    std::optional<TRestoreRun> Restoring;
    std::optional<TRestoreReport> RestoreDone;
    uint32_t FileRev = 0;
    TCurrentTrend CurrentTrend;
};

}  // namespace tovik
