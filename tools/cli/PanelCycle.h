#pragma once
// The device panel's poll cycle on the command line: the panel model
// (panel/TovikPanel.h) on the session's line, its 10 ms tick run here and
// woken at once when a completion arrives. One cycle is the state poll and
// everything it starts (setpoints, task log and alarm journal reads
// included), exactly as the panel runs it.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/TovikDevice.h"
#include "panel/TovikPanel.h"
#include "tools/cli/CliSession.h"

namespace tovik::cli {

class TPanelCycle {
public:
    // The device takes the session's line, bus number and kind.
    TPanelCycle(TCliSession& session, TTovikDevice& device, const TLocaleFormat& locale);
    ~TPanelCycle();
    TPanelCycle(const TPanelCycle&) = delete;
    TPanelCycle& operator=(const TPanelCycle&) = delete;

    // Runs the panel until its next poll cycle is over; the next poll goes
    // out when the line's request interval has passed since the previous
    // one. False when the state poll failed or the wait was interrupted.
    bool Run();
    // The reads of the last cycle (or fetch) the relay did not answer, in
    // the order they failed (a short reply is an answer: what did not arrive
    // shows as unavailable): "state_poll", "setpoints", "task_log",
    // "currents", "max_current", "timers", "alarm_counters", "state",
    // "alarm_count", "alarm_records", "clock", "statistics".
    const std::vector<std::string>& FailedReads() const { return Panel->FailedReads(); }

    const TDeviceView& View() const { return Panel->View(); }
    const TTovikPanel& Model() const { return *Panel; }
    bool LastPollOk() const { return Panel->LastPollOk(); }
    // Whether the setpoints have been read whole.
    bool SetpointsOk() const { return Panel->View().HasSetpoints(); }
    // Records the last fetch added to the device's cache.
    int AddedAlarms() const { return Panel->AddedAlarms(); }
    // The relay's journal header of the last count read.
    std::array<uint8_t, 2> AlarmHeader() const { return Panel->AlarmHeader(); }
    bool AlarmFetchFailed() const { return Panel->AlarmFetchFailed(); }

    // Fetches the whole alarm journal alone; false when a read failed.
    bool FetchAlarms();

private:
    // Ticks the panel until `done` holds; false when interrupted or when
    // nothing arrived far beyond every time-out the requests allow.
    template <class TDone>
    bool RunUntil(TDone done);

    struct TSignal {
        std::mutex Lock;
        std::condition_variable Arrived;
        bool Pending = false;
    };

    TCliSession& Session;
    std::shared_ptr<TSignal> Signal = std::make_shared<TSignal>();
    std::unique_ptr<TTovikPanel> Panel;
};

}  // namespace tovik::cli
