#pragma once
// The frame trace: every frame a port sends and receives, with its time,
// the request it belongs to and what became of it. A port traces only while
// a sink is set on it (TProtoPort::SetFrameTrace); otherwise the engine
// pays one atomic load per frame.
//
// Sinks are called in the port's worker thread, one record at a time, and
// must never block it: no waiting on locks held for long, on the user, on a
// pipe or a file that may be full. A sink that has to show or write records
// queues them (TFrameTraceQueue does) and lets its own thread take them.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "ports/Request.h"

namespace tovik {

enum class TTraceDirection : uint8_t { Sent, Received };

struct TFrameTraceRecord {
    uint32_t ClockMs = 0;  // the engine's millisecond clock (timeGetTime)
    int64_t WallMs = 0;    // wall-clock time, ms since 1970-01-01 UTC
    TTraceDirection Direction = TTraceDirection::Sent;
    std::vector<uint8_t> Bytes;  // the frame as it went over the line
    std::string PortName;
    uint8_t Address = 0;         // the request's bus address
    uint8_t DeviceKind = 0;      // kTraceKindUnknown when the caller did not say
    TCommandDescriptor Command;  // the native command (a ModBus step serves one)
    int32_t Try = 0;             // 1 for the first transmission; 0 before it
    int32_t ReplyMs = -1;        // received: ms from sending to the reply (or to giving up)
    // Sent: Answered when the frame went out whole, NotSent or NoLine when
    // it did not. Received: what the bytes were found to be (Answered for
    // the valid reply); an empty NoAnswer record when nothing came; Late for
    // bytes dropped while the line was awaited to fall quiet (try 0).
    TOutcome Outcome{TReplyStatus::Answered};
};

inline constexpr uint8_t kTraceKindUnknown = 0xFF;

class TFrameTraceSink {
public:
    virtual ~TFrameTraceSink() = default;
    // Runs in the worker thread; must return at once (see above).
    virtual void OnFrame(const TFrameTraceRecord& Record) = 0;
};

// A sink that keeps records for another thread to take: a monitor window's
// timer or a command-line loop. It never blocks the worker for longer than
// a push; beyond Capacity records the oldest are dropped and counted.
class TFrameTraceQueue : public TFrameTraceSink {
public:
    explicit TFrameTraceQueue(size_t Capacity = 10000) : Limit(Capacity ? Capacity : 1) {}
    void OnFrame(const TFrameTraceRecord& Record) override;
    // Takes every waiting record, oldest first.
    std::vector<TFrameTraceRecord> Take();
    // Records dropped since the last call.
    size_t TakeDropped();

private:
    const size_t Limit;
    std::mutex Lock;
    std::deque<TFrameTraceRecord> Records;
    size_t Dropped = 0;
};

}  // namespace tovik
