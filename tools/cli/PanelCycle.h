#pragma once
// The device panel's poll cycle without its window: the state poll, the
// setpoint read when needed, the batch of readings and the alarm journal
// fetch, all shown through a TDeviceView.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/TovikDevice.h"
#include "panel/DeviceView.h"
#include "tools/cli/CliSession.h"

namespace tovik::cli {

class TPanelCycle {
public:
    TPanelCycle(TCliSession& session, TTovikDevice& device, const TLocaleFormat& locale);

    // One whole cycle: queues the state poll and hands out every completion
    // of it, its batch and the alarm fetch it starts. False when the state
    // poll failed or the wait was interrupted.
    bool Run();
    // The reads of the last cycle (or fetch) the relay did not answer, in
    // the order they failed (a short reply is an answer: what did not arrive
    // shows as unavailable): "state_poll", "setpoints", "currents", "max_current", "timers",
    // "alarm_counters", "state", "alarm_count", "alarm_records", "clock",
    // "statistics".
    const std::vector<std::string>& FailedReads() const { return Failed; }

    const TDeviceView& View() const { return DeviceView; }
    bool LastPollOk() const { return PollOk; }
    // Whether the last cycle read the setpoints successfully.
    bool SetpointsOk() const { return SetpointsRead; }
    // Records the last fetch added to the device's cache.
    int AddedAlarms() const { return Added; }
    // The relay's journal header of the last count read.
    std::array<uint8_t, 2> AlarmHeader() const { return Header; }
    bool AlarmFetchFailed() const { return FetchFailed; }

    // Fetches the alarm journal alone, as the alarm tab does on a changed
    // header; false when a read failed.
    bool FetchAlarms();

private:
    void OnStatePoll(uint8_t ok, const TBlock* data);
    void OnSetpoints(uint8_t ok, const TBlock* data);
    void OnAlarmCount(uint8_t ok, const TBlock* data);
    void OnAlarmRecord(uint8_t ok, const TBlock* data);
    void OnDeviceState(uint8_t ok, const TBlock* data);
    std::optional<TAlarmRecord> LastAlarm() const;
    // A completion handler that records a failed read under `name`.
    TResultHandler Checked(const char* name, TResultHandler handler);

    TCliSession& Session;
    TTovikDevice& Device;
    TDeviceView DeviceView;
    bool RefreshAll = true;
    bool ReloadSettings = false;
    bool PollOk = false;
    bool SetpointsRead = false;
    std::array<uint8_t, 2> Header{};
    std::array<uint8_t, 2> LastHeader{};
    uint8_t FetchIndex = 0;
    int Added = 0;
    bool FetchFailed = false;
    std::vector<std::string> Failed;
};

}  // namespace tovik::cli
