#pragma once
// One simulated relay: its setpoint memory, protections, journals, clock and
// statistics, and its side of the native command set and of the ModBus
// register map. Time is passed in by the caller (milliseconds of a steady
// clock), so the model runs the same under a test as under the line server.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/sim/SimWire.h"

namespace tovik::sim {

inline constexpr size_t kSetpointSize = 57;
inline constexpr size_t kAlarmCapacity = 20;
inline constexpr size_t kTaskCapacity = 16;
inline constexpr size_t kAlarmRecordSize = 19;
inline constexpr size_t kTaskEntrySize = 12;
inline constexpr uint32_t kOverflowCurrent = 100000000;  // marks a current too large to measure
inline constexpr uint8_t kCalibrationPoints = 6;

// hour, minute, second, day, month, year - 2000
using TDeviceTime = std::array<uint8_t, 6>;

// Seconds since 1.01.2000 00:00:00; nullopt for a time that does not exist.
std::optional<int64_t> DeviceTimeToSeconds(const TDeviceTime& t);
TDeviceTime SecondsToDeviceTime(int64_t seconds);
// The host's local time, in seconds since 1.01.2000.
int64_t LocalClockSeconds();

enum TRelayStateCode : uint8_t {
    StateStop = 0,
    StateRun = 1,
    StateRunBlocked = 2,
    StateProblemMin = 3,
    StateProblemNom = 4,
    StateProblemMax = 5,
    StateProblemDisb = 6,
    StateProblemPhase = 7,
    StateAutoRun = 13,
    StateAutoRunBlocked = 14,
    StateDelayedStart = 17,
    StateAlarm = 18,
};

// The relay's name of a state code, as its display shows it.
const char* StateName(uint8_t code);

// Event codes of alarm records (trip causes).
enum TTripCause : uint8_t {
    CauseIdle = 0,          // underload (Imin)
    CauseNominal = 1,       // above Inom
    CauseMaximum = 2,       // above Imax
    CauseImbalance = 3,     // imbalance above Iдисб
    CauseShortCircuit = 4,  // above the cut-off current
    CausePhaseLoss = 5,
    CauseInsulation = 6,
};

// Alarm counter words, in reply order. The relay keeps the cut-off count in
// word 4 and the phase-loss count in word 5, which is how the panel labels
// them ("Nотс" then "Nфаз").
enum TAlarmCounter { CountMin = 0, CountNom, CountMax, CountDisb, CountCutoff, CountPhase, CountInsulation };

// Outcome of one ModBus request: exception code 0 is success.
struct TModbusResult {
    uint8_t Exception = 0;
    std::vector<uint16_t> Values;  // registers read
    std::string Note;              // why it was refused
};

// Outcome of one native request: the reply data (after address and command),
// or no answer with the reason.
struct TNativeResult {
    bool Answered = false;
    std::vector<uint8_t> Data;
    std::string Note;
};

class TSimRelay {
public:
    // `clockSeconds` is the relay clock at `nowMs`, in seconds since 1.01.2000.
    TSimRelay(uint8_t kind, uint8_t address, int64_t nowMs, int64_t clockSeconds);

    uint8_t Kind() const { return DeviceKind; }
    uint8_t Address() const { return Setpoints[46]; }

    // Runs the relay up to `nowMs`: currents, protections, statistics.
    void Update(int64_t nowMs);

    // The native request payload: address, command, parameters and data.
    TNativeResult HandleNative(const std::vector<uint8_t>& payload, int64_t nowMs);
    TModbusResult ReadRegisters(uint16_t first, uint16_t count, int64_t nowMs);
    TModbusResult WriteRegisters(uint16_t first, const std::vector<uint16_t>& values, int64_t nowMs);

    // Controls, also reachable from the simulator's command input.
    void Start(int64_t nowMs);
    void Stop(int64_t nowMs);
    // Load currents of the three phases in mA, as the relay measures them.
    void SetLoad(uint32_t a, uint32_t b, uint32_t c, int64_t nowMs);
    void Trip(uint8_t cause, int64_t nowMs);
    void SetClock(int64_t seconds, int64_t nowMs);
    void SetVariant(uint8_t variant) { Variant = variant; }

    // Asked before item 16 (the bus identifier) changes the relay's address.
    std::function<bool(uint8_t)> CanTakeAddress;

    // Inspection.
    uint8_t State() const { return StateCode; }
    const std::array<uint8_t, kSetpointSize>& SetpointBlock() const { return Setpoints; }
    size_t AlarmCount() const { return Alarms.size(); }
    uint8_t AlarmMarker() const { return JournalMarker; }
    const std::array<uint8_t, kAlarmRecordSize>& Alarm(size_t i) const { return Alarms[i]; }
    size_t TaskCount() const { return Tasks.size(); }
    uint16_t AlarmCounter(int which) const { return Counters[static_cast<size_t>(which)]; }
    std::array<float, 3> Currents() const { return Measured; }
    uint32_t MaxCurrent() const { return Imax; }
    bool SettingsChangedMark() const { return SettingsChanged; }
    bool TaskLogChangedMark() const { return TaskLogChanged; }
    TDeviceTime Clock(int64_t nowMs) const;
    uint8_t Model() const { return Setpoints[49]; }
    uint32_t SwitchOnCount() const { return SwitchOns; }

private:
    // Stores a setpoint item after checking it against the model's limits.
    bool WriteItem(const TSetpointItem& item, const std::vector<uint8_t>& bytes, int64_t nowMs,
                   std::string& why);
    bool ItemInLimits(int row, const std::array<uint8_t, kSetpointSize>& block, std::string& why) const;
    void ClampToModel();

    std::vector<uint8_t> CurrentsReply() const;
    std::vector<uint8_t> TimersReply() const;
    std::vector<uint8_t> CountersReply() const;
    std::vector<uint8_t> StatisticsReply() const;
    std::vector<uint8_t> TaskReply(uint8_t index) const;
    std::optional<uint16_t> Register(uint16_t r, int64_t nowMs) const;
    bool SetTaskEntry(size_t index, const uint8_t* bytes, std::string& why);
    void ChangeJournal() { ++JournalMarker; }
    void StampTime(std::array<uint8_t, 8>& stamp, int64_t nowMs) const;
    uint32_t U32(size_t offset) const;
    uint16_t U16(size_t offset) const;

    uint8_t DeviceKind;
    std::array<uint8_t, kSetpointSize> Setpoints{};
    uint8_t Variant = 0;
    uint8_t StateCode = StateStop;

    // Running state.
    bool Running = false;
    int64_t LastUpdate = 0;
    int64_t StartAt = 0;        // end of the delayed start
    int64_t BlockingUntil = 0;  // end of the start-up blocking of protections
    std::array<uint32_t, 3> Load{};
    std::array<float, 3> Measured{};
    uint32_t Imax = 0;
    // Protection timers in milliseconds: Tmin, Tnom, Tmax, Tдисб, Tфаз, Tотс.
    std::array<int64_t, 6> Pending{};

    // Journals and counters.
    std::deque<std::array<uint8_t, kAlarmRecordSize>> Alarms;
    uint8_t JournalMarker = 0;
    std::array<uint16_t, 7> Counters{};
    std::vector<std::array<uint8_t, kTaskEntrySize>> Tasks;
    bool SettingsChanged = false;
    bool TaskLogChanged = false;

    // Clock: seconds since 2000 at ClockBaseMs.
    int64_t ClockBase = 0;
    int64_t ClockBaseMs = 0;

    // Operating statistics.
    std::array<uint8_t, 8> StatsResetTime{};
    std::array<uint8_t, 8> SetpointChangeTime{};
    uint32_t SwitchOns = 0;
    int64_t RunningMs = 0;

    // ModBus selections.
    uint16_t AlarmIndex = 0;
    uint16_t TaskIndex = 0;
    std::array<uint8_t, kTaskEntrySize> TaskBuffer{};
    uint16_t LastReadRegister = 0xFFFF;  // first register of the previous read
};

}  // namespace tovik::sim
