#include "panel/PollCycle.h"

#include <algorithm>

#include "base/Clock.h"
#include "protocol/Builders.h"
#include "protocol/UstTable.h"

namespace tovik {

std::vector<std::string> ReadNames(const std::vector<TFailedRead>& Reads) {
    std::vector<std::string> out;
    for (const TFailedRead& r : Reads) out.push_back(r.Name);
    return out;
}

TPollCycle::TPollCycle(TRelayLink& Link) : Link(Link) {}

void TPollCycle::ForgetLostPorts() {
    if (State.PollOutstanding && !Link.PortStillListed(PollPort)) State.PollOutstanding = false;
    if (State.TaskLogReading && !Link.PortStillListed(TaskChainPort)) State.TaskLogReading = false;
}

bool TPollCycle::Due(const TProtoPort& Port) const {
    const auto wait = MsUntilDue(Port);
    return wait && *wait == 0;
}

std::optional<uint32_t> TPollCycle::MsUntilDue(const TProtoPort& Port) const {
    if (!Polling || State.PollOutstanding) return std::nullopt;
    if (!Port.IsOwnerIdle(Link.OwnerId()) || !Link.Results()->IsEmpty()) return std::nullopt;
    // The interval counts from the previous poll; a signed 32-bit
    // difference, so the clock's wrap after 49.7 days changes nothing.
    const auto interval = static_cast<uint32_t>(std::max(Port.RequestInterval.load(), 0));
    const uint32_t elapsed = ElapsedMs(LastPoll, timeGetTime());
    return elapsed >= interval ? 0 : interval - elapsed;
}

std::optional<uint32_t> TPollCycle::NextPollInMs(const TProtoPort& Port) {
    if (const auto due = MsUntilDue(Port)) return due;
    if (!Polling || State.PollOutstanding || Port.IsOwnerIdle(Link.OwnerId())) return std::nullopt;
    Link.Results()->WakeWhenIdle(Link.OwnerId());
    // The last job may have been taken before the list was asked.
    return MsUntilDue(Port);
}

void TPollCycle::QueueStatePoll(TProtoPort& Port, TResultHandler OnStatePoll) {
    LastPoll = timeGetTime();
    State.PollOutstanding = true;
    PollPort = &Port;
    const uint64_t outer = HandlerCycle;
    HandlerCycle = ++LastCycleId;
    OpenCycles[HandlerCycle] = {};
    if (!Read(RequestReadCell, "state_poll", kStatePollReplySize, std::move(OnStatePoll), kUstModelRow))
        State.PollOutstanding = false;
    HandlerCycle = outer;
}

std::vector<TPollRead> TPollCycle::Answered(const TStatePoll& Poll, bool ModelMatches, bool Service,
                                            uint8_t Kind) {
    if (const auto it = OpenCycles.find(HandlerCycle); it != OpenCycles.end()) it->second.PollOk = true;
    if (Poll.SettingsChanged) State.ReloadSettings = true;
    if (Poll.TaskLogChanged) State.ReloadTaskLog = true;
    if (!ModelMatches) State.RefreshAll = true;
    if (State.RefreshAll) {
        State.RefreshAll = false;
        State.ReloadSettings = true;
        if (!State.TaskLogReading) State.ReloadTaskLog = true;
    }
    std::vector<TPollRead> reads;
    if (State.ReloadSettings) {
        State.ReloadSettings = false;
        reads.push_back(TPollRead::Setpoints);
        if (Service) reads.push_back(TPollRead::CalibrationInfo);
    }
    if (State.ReloadTaskLog && !State.TaskLogReading) {
        State.ReloadTaskLog = false;
        reads.push_back(TPollRead::TaskLog);
    }
    for (TPollRead r : {TPollRead::Currents, TPollRead::MaxCurrent, TPollRead::Timers,
                        TPollRead::AlarmCounters, TPollRead::State, TPollRead::AlarmCount, TPollRead::Clock})
        reads.push_back(r);
    if (HasStatistics(Kind)) reads.push_back(TPollRead::Statistics);
    return reads;
}

void TPollCycle::TaskChainStarted() {
    State.TaskLogReading = true;
    TaskChainPort = PollPort;
}

void TPollCycle::PollNow() {
    const TProtoPort* port = Link.DevicePort();
    LastPoll = timeGetTime() - static_cast<uint32_t>(port ? port->RequestInterval.load() : 0);
}

TResultHandler TPollCycle::Track(const char* Name, size_t Need, TResultHandler Handler) {
    const uint64_t cycle = HandlerCycle;
    if (cycle) ++OpenCycles[cycle].Pending;
    return [this, Name, Need, cycle, handler = std::move(Handler)](const TReply& reply) {
        if (!reply.Ok())
            Note(cycle, Name, reply.Outcome);
        else if (Need > 0 && (!reply.Data || reply.Data->size() < Need))
            Note(cycle, Name, TOutcome{TReplyStatus::Short});
        // What this handler queues belongs to the same cycle.
        const uint64_t outer = HandlerCycle;
        HandlerCycle = cycle;
        if (handler) handler(reply);
        HandlerCycle = outer;
        const auto it = OpenCycles.find(cycle);
        if (it == OpenCycles.end() || --it->second.Pending > 0) return;
        // The poll and everything it started have run: the cycle is over.
        Cycles = cycle;
        PollOk = it->second.PollOk;
        Failures = std::move(it->second.Failed);
        OpenCycles.erase(it);
    };
}

void TPollCycle::Untrack() {
    const auto it = OpenCycles.find(HandlerCycle);
    if (it != OpenCycles.end() && --it->second.Pending <= 0) OpenCycles.erase(it);
}

void TPollCycle::NoteFailed(const char* Name, const TOutcome& Outcome) {
    Note(HandlerCycle, Name, Outcome);
}

void TPollCycle::Note(uint64_t Cycle, const char* Name, const TOutcome& Outcome) {
    const auto it = OpenCycles.find(Cycle);
    // A read of no cycle (one a front end asked for) is noted at once.
    (it == OpenCycles.end() ? Failures : it->second.Failed).push_back({Name, Outcome});
}

}  // namespace tovik
