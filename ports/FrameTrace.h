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

#include "ports/ProtoPort.h"

namespace tovik {

enum class TTraceDirection : uint8_t { Sent, Received };

enum class TTraceOutcome : uint8_t {
    Ok,            // sent whole, or a reply that passed every check
    NoAnswer,      // nothing complete came within the time allowed
    BadCheck,      // bad CRC (ModBus) or bad check byte (native)
    WrongAddress,  // a reply from another device on the bus
    ForeignReply,  // another function or command, or a write echo of other registers
    Exception,     // a ModBus exception reply; ExceptionCode holds its code
    WrongLength,   // a byte count, echo or frame of the wrong length
    NotSent,       // the frame did not go out whole
    Discarded,     // late bytes dropped while waiting for a quiet line
};

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
    TTraceOutcome Outcome = TTraceOutcome::Ok;
    uint8_t ExceptionCode = 0;  // Exception only
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

// The outcome as a short text ("принят", "нет ответа", "исключение ModBus 2", ...).
std::string TraceOutcomeText(const TFrameTraceRecord& Record);

// One record as one line of plain text: local time with milliseconds, port,
// direction (TX/RX), address, command, try, reply time, bytes in hex and
// the outcome, e.g.
//   12:04:05.120 pts/3 RX адр 1 ком 23 попытка 1 14 мс: 01 03 02 00 05 78 47 — принят
std::string FormatTraceRecord(const TFrameTraceRecord& Record);

}  // namespace tovik
