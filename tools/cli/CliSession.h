#pragma once
// One relay reached through its serial line: the port with its worker, the
// client's owner id and result list, and the loop that hands completions
// to their handlers in this thread, as the panel's timer does.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "ports/FrameTrace.h"
#include "ports/ProtoPort.h"

namespace tovik::cli {

// Set by every signal that would end the program (base/Signals.h); every
// wait ends soon after.
extern std::atomic<bool> Interrupted;
void InstallInterruptHandlers();

struct TLineSettings {
    std::string PortName;  // relative to /dev
    uint8_t Address = 1;
    uint8_t Kind = 0;
    bool BusMode = false;
    int32_t ReplyTimeout = 100;     // ms
    int32_t RequestInterval = 100;  // ms
    bool Trace = false;             // frames to standard error
};

class TCliSession {
public:
    explicit TCliSession(const TLineSettings& settings);
    ~TCliSession();
    TCliSession(const TCliSession&) = delete;
    TCliSession& operator=(const TCliSession&) = delete;

    // Opens the line and starts its worker; false when the line cannot be opened.
    bool Open(std::string& error);

    // Queues one request through a builder: Send(RequestReadImax, handler)
    // or Send(RequestReadAlarm, handler, index).
    template <class TBuilder, class... TArgs>
    bool Send(TBuilder builder, TResultHandler handler, TArgs&&... args) {
        return builder(*Port, Settings.Address, OwnerId, Settings.Kind, Results, Track(std::move(handler)),
                       std::forward<TArgs>(args)...);
    }

    // Hands completions to their handlers until none is outstanding (a
    // handler may queue more). False when interrupted, or when the worker
    // stayed silent far beyond every time-out the requests allow.
    bool Drain();

    const TLineSettings& Line() const { return Settings; }
    // The open line's port (none before Open); a panel model may register on it too.
    TProtoPort* LinePort() const { return Port.get(); }
    // Prints the frames traced so far, decoded; in this thread, so that a
    // slow standard error never holds up the worker.
    void FlushTrace();
    TRequestStats& Stats() const { return *StatsRef; }

private:
    TResultHandler Track(TResultHandler handler);

    TLineSettings Settings;
    std::shared_ptr<TRequestStats> StatsRef;
    std::unique_ptr<TProtoPort> Port;
    std::shared_ptr<TResultEventsList> Results;
    std::shared_ptr<TFrameTraceQueue> TraceQueue;
    int32_t OwnerId = 0;
    int Outstanding = 0;
};

}  // namespace tovik::cli
