#pragma once
// One relay's serial line for the client: the port with its worker and the
// frame trace. The panel's session (tools/cli/SessionDriver.h) sends every
// request on it.
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

// The longest a request may take: every try of every ModBus step at the
// full time-out, with room to spare.
int64_t SilenceLimitMs(int32_t replyTimeout);

// Prints the frames traced so far, decoded, on standard error; nothing
// without a queue.
void PrintTrace(TFrameTraceQueue* Queue);

struct TLineSettings {
    std::string PortName;  // relative to /dev (DefaultDeviceFolder)
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

    const TLineSettings& Line() const { return Settings; }
    // The open line's port (none before Open).
    TProtoPort* LinePort() const { return Port.get(); }
    // Prints the frames traced so far, decoded; in this thread, so that a
    // slow standard error never holds up the worker.
    void FlushTrace();
    TRequestStats& Stats() const { return *StatsRef; }

private:
    TLineSettings Settings;
    std::shared_ptr<TRequestStats> StatsRef;
    std::unique_ptr<TProtoPort> Port;
    std::shared_ptr<TFrameTraceQueue> TraceQueue;
};

}  // namespace tovik::cli
