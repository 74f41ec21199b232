#pragma once
// The plant overview: every configured relay on one screen, alive. One row
// per device of the device list; each port has its own queue of reads, one
// device after another, so the lines are read in parallel by their workers.
// Per device it reads only what a row shows: the state, the journal's
// header (the alarm count) and, when that changed, the newest record (the
// last alarm's time and cause), and the currents; the setpoint block once,
// for the transformation ratio. The state poll of the panel (the model item,
// which hands over and clears the relay's change marks) is never read here.
//
// Between two of its requests on a line it waits the port's request
// interval, and only one of its requests is on a line at a time. On the
// line of an open device panel it queues a request only while none of the
// panel's requests is outstanding, so its requests go between the panel's
// poll cycles and lengthen one by at most one exchange. The device whose
// panel is open is not read at all: the panel's completed cycles fill its
// row. Stop() ends its traffic at once: its owner ids are released, so a
// request still queued never reaches the line.
//
// A relay that enters an alarm state, or whose journal gets a new record,
// is marked; so is one that stops answering. A mark stays until it is
// acknowledged. The state words are the panel's (TDeviceView), with the
// newest alarm's time, cause and currents beside "АВАРИЯ".
//
// Without Qt; driven by Tick() in one thread (the user-interface thread of
// the window, tovik-cli's main thread). The workers reach it only through
// its result list, whose notifier a front end may set.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "panel/DeviceView.h"
#include "ports/ProtoPort.h"
#include "protocol/Builders.h"

namespace tovik {

class TDeviceList;
class TTovikDevice;
class TTovikPanel;

// The states a relay reports after a trip: "АВАРИЯ" and "АВАРИЙНЫЙ АВТОВОЗВРАТ".
bool IsAlarmState(uint8_t Code);

struct TOverviewEnvironment {
    const TDeviceList* Devices = nullptr;  // the configured devices, in the list's order
    // A device's port by its Id; none when no port has it.
    std::function<TProtoPort*(int32_t Id)> FindPort;
    // The device panel open now, if any.
    std::function<const TTovikPanel*()> OpenPanel;
    TLocaleFormat Locale;
    // The PC's local date and time; empty: the system's.
    std::function<TLocalTime()> LocalTime;
};

// Marks of a row, until acknowledged.
enum TOverviewMark : unsigned {
    kMarkNone = 0,
    kMarkAlarm = 1,   // entered an alarm state, or a new record in its journal
    kMarkSilent = 2,  // stopped answering
};

enum class TAnswer : uint8_t {
    Unknown,  // not read yet
    Yes,
    No,  // Reason says why
};

struct TOverviewRow {
    // Stays while the device is listed with the same port, bus number and
    // kind; a change of one of them is another relay, read afresh.
    uint64_t Id = 0;
    const TTovikDevice* Device = nullptr;
    int Index = 0;  // in the device list
    std::string Name;
    uint8_t Kind = 0;
    std::string KindName;
    std::string PortName;  // empty without a port
    int Bus = 0;
    TAnswer Answer = TAnswer::Unknown;
    std::string Reason;  // "нет ответа", "порт недоступен: ...", "Не настроено подключение.", ...
    // The state in the panel's status bar words; empty before the first
    // state reply, "Недоступно" while it cannot be read.
    std::string State;
    std::optional<uint8_t> StateCode;
    // Ia, Ib, Ic as the panel's labels show them without their prefix
    // ("12,5 A", "Н/Д"), and in amperes (NaN: unknown).
    std::array<std::string, 3> Currents;
    std::array<double, 3> Amps{};
    std::optional<int> AlarmCount;  // records in the relay's journal
    std::string LastAnswer;         // the PC's date and time of the last good answer; empty: never
    unsigned Marks = kMarkNone;
    bool FromPanel = false;  // filled by the open panel
    uint32_t Revision = 0;   // moves with anything the row shows

    bool InAlarm() const { return StateCode && IsAlarmState(*StateCode); }
};

// The columns of the overview's table, as the window and tovik-cli head them.
enum TOverviewColumn : int {
    ColName,
    ColKind,
    ColPort,
    ColBus,
    ColAnswer,
    ColState,
    ColIa,
    ColIb,
    ColIc,
    ColAlarmCount,
    ColLastAnswer,
    ColMarks,
    kOverviewColumnCount
};
const char* OverviewColumnTitle(int Column);
// A row's cell as text: "да" or the reason in the answer column, the
// marks as "авария", "нет связи" (both: "авария, нет связи").
std::string OverviewCellText(const TOverviewRow& Row, int Column);

// A mark as it was set: for the main window's status bar and the beep.
struct TOverviewNews {
    uint64_t RowId = 0;
    TOverviewMark Mark = kMarkNone;
    std::string Text;  // "Авария: «Насосная 2» — АВАРИЯ ...", "Нет связи: «Насосная 2» — нет ответа"
};

// The overview window's layout: its column widths, the sorted column and
// the order. Kept in a file of its own beside the configuration
// ("FILE.overview"): little-endian i32 values, the number of widths, the
// widths, the sorted column (-1: none) and 1 for a descending order.
struct TOverviewLayout {
    std::vector<int32_t> Widths;
    int32_t SortColumn = -1;
    bool Descending = false;
    bool operator==(const TOverviewLayout&) const = default;
};
// None when the file is missing, or is not such a layout (then it is
// ignored and replaced by the next save).
std::optional<TOverviewLayout> LoadOverviewLayout(const std::string& Path);
// Replaces the file whole or not at all; false with the system's reason.
bool SaveOverviewLayout(const std::string& Path, const TOverviewLayout& Layout, std::string& Reason);

class TPlantOverview {
public:
    explicit TPlantOverview(TOverviewEnvironment Environment);
    // Stop().
    ~TPlantOverview();
    TPlantOverview(const TPlantOverview&) = delete;
    TPlantOverview& operator=(const TPlantOverview&) = delete;

    // Reading begins with the next tick, each line from its first device.
    void Start();
    // No request of the overview reaches a line any more: the owner ids go
    // (a queued request is dropped, the one on the line brings nothing back).
    void Stop();
    bool Running() const { return IsRunning; }
    // A line starts its next round no sooner than this after its last round
    // began (0: at once).
    void SetRoundInterval(uint32_t Ms) { RoundIntervalMs = Ms; }

    // How often a front end runs Tick() while the overview is open: the
    // lines' pacing (the request interval between requests) is counted in
    // its steps.
    static constexpr uint32_t kTickMs = 10;

    // Takes the rows from the device list, hands the waiting completions to
    // their handlers, fills the open panel's row from its last cycle, and
    // queues the next read on every line that may take one.
    void Tick();

    const std::vector<TOverviewRow>& Rows() const { return RowView; }
    const TOverviewRow* Row(uint64_t Id) const;
    // Moves with any change of the rows.
    uint32_t Revision() const { return Rev; }
    // Clears the row's marks; false when it had none (or is gone).
    bool Acknowledge(uint64_t RowId);
    // Marks set since the last call, oldest first.
    std::vector<TOverviewNews> TakeNews();
    // The text of the newest mark still standing; empty when none stands.
    std::string StandingNews() const;

    // Rounds every line with a device to read has finished (each of its
    // devices read once, or found silent); the least of the lines.
    uint64_t CompletedRounds() const;
    // Every row has answered and none is in an alarm state.
    bool AllWell() const;

    const std::shared_ptr<TResultEventsList>& Results() const { return ResultList; }

private:
    enum class TStep : uint8_t { Setpoints, AlarmCount, LastAlarm, State, Currents };
    struct TRowState;
    struct TLine;

    void SyncRows();
    void FillFromPanel(const TTovikPanel& Panel, TRowState& Row);
    void Pace(TLine& Line, const TTovikPanel* Panel);
    bool NextDevice(TLine& Line, const TTovikDevice* PanelDevice);
    void Send(TLine& Line, TRowState& Row);
    void Done(int32_t PortId, uint64_t Serial, TStep Step, const TReply& Reply);
    void Answered(TRowState& Row);
    void Unanswered(TRowState& Row, const std::string& Reason);
    void TakeHeader(TRowState& Row, const std::array<uint8_t, 2>& Header, TLine* Line);
    void TakeState(TRowState& Row);
    // A pass over the relay is done: an alarm state entered or a new journal
    // record is marked, in the state's words.
    void Judge(TRowState& Row);
    void Mark(TRowState& Row, TOverviewMark Mark, std::string Text);
    // The row changed (none: the list did): the rows are made anew.
    void Publish(TRowState* Row);
    TRowState* FindRow(uint64_t Id);
    TLine* FindLine(int32_t PortId);
    std::string Now() const;

    TOverviewEnvironment Env;
    bool IsRunning = false;
    uint32_t RoundIntervalMs = 0;
    std::vector<std::unique_ptr<TRowState>> State;
    std::vector<TOverviewRow> RowView;
    std::vector<std::unique_ptr<TLine>> Lines;
    std::shared_ptr<TResultEventsList> ResultList;
    std::vector<TOverviewNews> News;
    uint64_t LastRowId = 0;
    uint64_t LastSerial = 0;
    uint64_t IdleRounds = 0;
    uint32_t Rev = 1;
    // The open panel last seen, and its cycles taken.
    const TTovikPanel* SeenPanel = nullptr;
    uint64_t SeenCycles = 0;
};

}  // namespace tovik
