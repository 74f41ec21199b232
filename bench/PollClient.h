#pragma once
// A client of one relay on a port, as the benchmarks drive it: its own owner
// id and result list, and the panel's poll cycle built from the request
// builders (the state poll, then the batch it opens).
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/UstTable.h"
#include "support/EventWait.h"

namespace tovik::bench {

inline constexpr uint8_t kAddress = 1;

struct Client {
    explicit Client(const std::string& portName) {
        Port.ReplyTimeout = 100;
        Port.Bus = true;
        Port.SetPortName(portName);
        Owner = Port.RegisterOwner();
    }
    ~Client() { Port.StopWorker(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Dispatches completions until `pending` reaches zero; false when none
    // came within the time-out.
    bool DispatchUntil(const int& pending, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        while (pending > 0) {
            if (!test::WaitForEvent(*Results, timeout)) return false;
            Results->DispatchOne();
        }
        return true;
    }

    TProtoUART Port;
    int32_t Owner = 0;
    TEvents Results = std::make_shared<TResultEventsList>();
};

// One poll cycle as the panel runs it; false when a request failed.
inline bool PollCycle(Client& c, uint8_t kind) {
    int pending = 1;
    bool allOk = true;
    auto done = [&](const TReply& reply) {
        allOk = allOk && reply.Ok();
        --pending;
    };
    auto onPoll = [&](const TReply& reply) {
        done(reply);
        if (!reply.Ok()) return;
        TProtoPort& p = c.Port;
        const auto& r = c.Results;
        RequestReadUst(p, kAddress, c.Owner, kind, r, done);
        RequestReadCurrents(p, kAddress, c.Owner, kind, r, done);
        RequestReadImax(p, kAddress, c.Owner, kind, r, done);
        RequestReadTimers(p, kAddress, c.Owner, kind, r, done);
        RequestReadAlarmCounters(p, kAddress, c.Owner, kind, r, done);
        RequestReadState(p, kAddress, c.Owner, kind, r, done);
        RequestReadAlarmCount(p, kAddress, c.Owner, kind, r, done);
        RequestReadClock(p, kAddress, c.Owner, kind, r, done);
        pending += 8;
        if (kind == kKindTovikMModbus) {
            RequestReadStatistics(p, kAddress, c.Owner, kind, r, done);
            ++pending;
        }
    };
    RequestReadCell(c.Port, kAddress, c.Owner, kind, c.Results, onPoll, kUstModelRow);
    return c.DispatchUntil(pending) && allOk;
}

}  // namespace tovik::bench
