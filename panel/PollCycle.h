#pragma once
// The panel's poll cycle: when the tick queues the next state poll,
// what the state poll's answer makes the panel read and in which order, the
// panel's refresh flags, and what came of each read of a cycle. A cycle is
// the state poll and everything it started (setpoints, the task log chain,
// the alarm record fetch included); the cycles may overlap on the line (a
// poll goes out behind the last job of the batch before it), so each read
// counts for the cycle of the handler, or the poll, that queued it.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "panel/DeviceView.h"
#include "panel/RelayLink.h"

namespace tovik {

// The panel's refresh state; all clear at creation.
struct TPanelFlags {
    bool RefreshAll = false;       // read everything again (attached, failed poll or read, model change)
    bool ReloadSettings = false;   // read the setpoints with the next poll
    bool ReloadTaskLog = false;    // read the task log with the next poll
    bool TaskLogReading = false;   // a task log read chain runs
    bool PollOutstanding = false;  // a state poll is queued and not handled
};

// The reads a state poll's answer queues.
enum class TPollRead : uint8_t {
    Setpoints,
    CalibrationInfo,
    TaskLog,
    Currents,
    MaxCurrent,
    Timers,
    AlarmCounters,
    State,
    AlarmCount,
    Clock,
    Statistics,
};

// A read the relay did not answer, and how its request ended.
struct TFailedRead {
    std::string Name;
    TOutcome Outcome;
};
// The names alone, in order.
std::vector<std::string> ReadNames(const std::vector<TFailedRead>& Reads);

class TPollCycle {
public:
    explicit TPollCycle(TRelayLink& Link);

    // ---- the panel's record ----
    // The millisecond clock when the last state poll was queued.
    uint32_t LastPollTime() const { return LastPoll; }
    TPanelFlags& Flags() { return State; }
    const TPanelFlags& Flags() const { return State; }

    // ---- the tick's decisions ----
    // A poll or a chain whose port went away never completes: it no longer
    // holds the panel back.
    void ForgetLostPorts();
    // Whether the state poll is due on the port: none of the panel's jobs
    // waits in the port's queue, no completion waits in the result list, the
    // previous poll was handled, and the port's request interval has passed
    // since it was queued.
    bool Due(const TProtoPort& Port) const;
    // How long until the state poll is due on the port, by the same rules;
    // none while something else than time holds it back (a job of the panel
    // in the queue, a completion waiting, the previous poll unanswered).
    std::optional<uint32_t> MsUntilDue(const TProtoPort& Port) const;
    // The same, for a front end about to sleep: when the panel's jobs still
    // in the port's queue are what holds the poll back, the result list is
    // asked to wake it as the last of them is taken (the poll may follow).
    std::optional<uint32_t> NextPollInMs(const TProtoPort& Port);
    // Queues the state poll (the model item) with its completion; a cycle begins.
    void QueueStatePoll(TProtoPort& Port, TResultHandler OnStatePoll);
    // The state poll's completion, first of all.
    void StatePollDone() { State.PollOutstanding = false; }
    // The relay answered the poll: the flags the reply sets, and what to
    // read now, in order. `ModelMatches`: the model byte equals item 19 of
    // the last setpoint block.
    std::vector<TPollRead> Answered(const TStatePoll& Poll, bool ModelMatches, bool Service, uint8_t Kind);
    // The poll failed (or there is no device or port): everything is read again.
    void Unanswered() { State.RefreshAll = true; }
    // A task log chain started on the poll's port.
    void TaskChainStarted();
    // Makes the next tick queue a state poll if nothing else waits.
    void PollNow();
    // Whether ticks queue state polls (a front end may hold them while it
    // waits for an intent); on from construction.
    void SetPolling(bool On) { Polling = On; }

    // ---- reads and their cycles ----
    // Queues a read that counts for the running cycle: noted in
    // FailedReads() with its outcome when the relay did not answer, and as
    // Short when the answer brought fewer than `Need` bytes (what did not
    // arrive shows as unavailable). False when nothing was queued.
    template <class TBuilder, class... TArgs>
    bool Read(TBuilder Builder, const char* Name, size_t Need, TResultHandler Handler, TArgs&&... Args);
    // The running read was answered with something the panel cannot take.
    void NoteFailed(const char* Name, const TOutcome& Outcome);
    // Poll cycles finished: the state poll and everything it started handled.
    uint64_t CompletedCycles() const { return Cycles; }
    // Whether the state poll of the last finished cycle was answered.
    bool LastPollOk() const { return PollOk; }
    // The reads of the last finished cycle that failed, with how each ended,
    // in the order they completed: "state_poll", "setpoints",
    // "calibration_info", "task_log", "currents", "max_current", "timers",
    // "alarm_counters", "state", "alarm_count", "alarm_records", "clock",
    // "statistics". A read answered with less than its handler takes (a
    // reply cut short, a damaged or foreign task entry) has failed too.
    const std::vector<TFailedRead>& FailedReads() const { return Failures; }

private:
    struct TCycle {
        int Pending = 0;
        bool PollOk = false;
        std::vector<TFailedRead> Failed;
    };
    TResultHandler Track(const char* Name, size_t Need, TResultHandler Handler);
    void Untrack();
    void Note(uint64_t Cycle, const char* Name, const TOutcome& Outcome);

    TRelayLink& Link;
    uint32_t LastPoll = 0;
    TPanelFlags State;
    bool Polling = true;
    TProtoPort* PollPort = nullptr;
    TProtoPort* TaskChainPort = nullptr;

    std::map<uint64_t, TCycle> OpenCycles;
    uint64_t LastCycleId = 0;
    uint64_t HandlerCycle = 0;  // the cycle of the completion running now, 0 for none
    uint64_t Cycles = 0;
    bool PollOk = false;
    std::vector<TFailedRead> Failures;
};

template <class TBuilder, class... TArgs>
bool TPollCycle::Read(TBuilder Builder, const char* Name, size_t Need, TResultHandler Handler,
                      TArgs&&... Args) {
    if (Link.Send(Builder, Track(Name, Need, std::move(Handler)), std::forward<TArgs>(Args)...)) return true;
    Untrack();
    return false;
}

}  // namespace tovik
