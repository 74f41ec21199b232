#include "protocol/Executor.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/Clock.h"
#include "ports/FrameTrace.h"
#include "ports/ProtoPort.h"
#include "protocol/Commands.h"
#include "protocol/Frame.h"
#include "protocol/Modbus.h"

namespace tovik {

namespace {

// Silence that ends a ModBus reply of unknown length.
constexpr int32_t kModbusGapMs = 2;
// No native frame is shorter than a length byte, its complement, one
// payload byte and the final check byte.
constexpr uint8_t kMinNativeFrame = 4;

TBuff NativePayload(uint8_t address, const TCommandDescriptor& command, const TBuff& data) {
    TBuff p{address, command.Code};
    if (command.Param1 != -1) {
        p.push_back(static_cast<uint8_t>(command.Param1 & 0xFF));
        if (command.Param2 != -1) p.push_back(static_cast<uint8_t>(command.Param2 & 0xFF));
    }
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

// The request's outgoing bytes: TxLength of them, never past the block.
TBuff RequestData(const TProtoRequest& request) {
    if (!request.TxData || request.TxLength <= 0) return {};
    const size_t n = std::min(static_cast<size_t>(request.TxLength), request.TxData->size());
    return TBuff(request.TxData->begin(), request.TxData->begin() + static_cast<std::ptrdiff_t>(n));
}

void TraceNative(TProtoPort& port, const TProtoRequest& r, TTraceDirection direction, const TBuff& bytes,
                 int32_t attempt, int32_t replyMs, TOutcome outcome) {
    if (!port.Tracing()) return;
    TFrameTraceRecord rec;
    rec.Direction = direction;
    rec.Bytes = bytes;
    rec.Address = r.Address;
    rec.DeviceKind = r.DeviceKind;
    rec.Command = r.Command;
    rec.Try = attempt;
    rec.ReplyMs = replyMs;
    rec.Outcome = outcome;
    port.TraceFrame(rec);
}

// What a complete, intact native frame is to the request: its answer, the
// answer to the request before it (the same address, that request's
// command), or a frame for something or someone else.
TReplyStatus CheckNativeReply(const TBuff& reply, const TProtoRequest& r, bool bus,
                              const std::optional<TBuff>& earlier) {
    if (reply.size() < 2) return TReplyStatus::Foreign;
    if (bus && reply[0] != r.Address) return TReplyStatus::Foreign;
    if (reply[1] == r.Command.Code) return TReplyStatus::Answered;
    if (earlier && earlier->size() >= 2 && (*earlier)[1] != r.Command.Code && reply[1] == (*earlier)[1] &&
        (!bus || reply[0] == (*earlier)[0]))
        return TReplyStatus::Late;
    return TReplyStatus::Foreign;
}

TOutcome NativeExchange(TProtoRequest& r, const TBuff& payload, uint32_t timeout) {
    TProtoPort& port = *r.Port;
    TRequestStats& stats = port.Stats();
    const TBuff frame = BuildNativeFrame(payload);
    // No frame can carry it, or no try: nothing goes on the line.
    if (frame.empty() || r.Tries <= 0) return {TReplyStatus::NotSent};
    if (port.TakeLineUnsettled() && !AwaitQuietLine(port, r.Address, {r.DeviceKind, r.Command}))
        return {TReplyStatus::Stopped};
    port.NoteRequestFrame(frame);
    const std::optional<TBuff> earlier = NativeFramePayload(port.EarlierFrame());
    const bool bus = port.Bus.load();
    bool wentOut = false;
    TOutcome outcome;  // NoAnswer until a try brings something
    // After a failure a reply to this request may still come: the next
    // request waits for a quiet line.
    auto fail = [&](TOutcome last) {
        if (wentOut) port.MarkLineUnsettled();
        return last;
    };
    const auto size = static_cast<int32_t>(frame.size());
    TReceiver receiver;
    TBuff wire;  // the bytes of this try as they came, for the trace
    int32_t attempt = 0;
    while (r.Tries > 0) {
        if (port.StopRequested()) return fail({TReplyStatus::Stopped});
        --r.Tries;
        ++attempt;
        receiver.Reset();
        port.DiscardInput();  // a late reply to an earlier try is not this one's
        const int32_t written = port.Write(frame.data(), size);
        if (written > 0) wentOut = true;
        // A frame that did not go out whole was not sent: the line is down,
        // and waiting for a reply would only waste the time-out.
        if (written != size) {
            const TOutcome unsent = UnsentOutcome(port);
            TraceNative(port, r, TTraceDirection::Sent, frame, attempt, -1, unsent);
            return fail(unsent);
        }
        TraceNative(port, r, TTraceDirection::Sent, frame, attempt, -1, kAnswered);
        stats.IncSent();

        const uint32_t t0 = timeGetTime();
        uint32_t t = t0;
        wire.clear();
        // The receiver counts bad final check bytes; a try is counted once,
        // by its outcome.
        TRequestStats scratch;
        TReplyStatus status = TReplyStatus::NoAnswer;
        bool complete = false;
        bool lost = false;
        while (!complete) {
            if (port.StopRequested()) return fail({TReplyStatus::Stopped});
            uint8_t chunk[256];
            const int32_t n = port.Read(chunk, receiver.Wanted());
            for (int32_t i = 0; i < n && !complete; ++i) {
                const uint8_t b = chunk[i];
                const bool wasIdle = receiver.Idle();
                wire.push_back(b);
                complete = receiver.Push(b, scratch);
                if (!complete && !wasIdle && receiver.Idle()) {
                    // A frame dropped on a length, check or final check byte.
                    status = TReplyStatus::Damaged;
                    TraceNative(port, r, TTraceDirection::Received, wire, attempt,
                                static_cast<int32_t>(ElapsedMs(t0, timeGetTime())), {status});
                    wire.clear();
                }
            }
            t = timeGetTime();
            if (complete) break;
            if (n <= 0 && !port.IsOpen()) {
                lost = true;
                break;
            }
            if (ElapsedMs(t0, t) > timeout) break;
        }
        const auto took = static_cast<int32_t>(ElapsedMs(t0, t));
        if (lost) {
            const TOutcome gone = UnsentOutcome(port);
            TraceNative(port, r, TTraceDirection::Received, wire, attempt, took, gone);
            return fail(gone);
        }
        if (complete) {
            const TBuff& reply = receiver.Data();
            status = CheckNativeReply(reply, r, bus, earlier);
            TraceNative(port, r, TTraceDirection::Received, wire, attempt, took, {status});
            if (status == TReplyStatus::Answered) {
                if (r.RxBuffer && r.RxLength > 0) {
                    // Older relays may send shorter blocks: take what came and
                    // say how much.
                    const size_t n = std::min(static_cast<size_t>(r.RxLength), reply.size() - 2);
                    std::memcpy(r.RxBuffer, reply.data() + 2, n);
                    r.RxReceived = static_cast<int32_t>(n);
                }
                stats.IncOk();
                // The answer to an earlier try may still be on its way.
                if (attempt > 1) port.MarkLineUnsettled();
                return kAnswered;
            }
        } else {
            // What is left when the time ran out: a frame cut short, bytes
            // that make none, or nothing at all.
            if (!receiver.Idle())
                status = TReplyStatus::Short;
            else if (!wire.empty())
                status = TReplyStatus::Damaged;
            if (status == TReplyStatus::NoAnswer || !wire.empty())
                TraceNative(port, r, TTraceDirection::Received, wire, attempt, took, {status});
        }
        if (status != TReplyStatus::NoAnswer) {
            stats.IncError();
            outcome = {status};
        }
    }
    return fail(outcome);
}

TOutcome ModbusExchange(TProtoRequest& r, const TBuff& data, uint32_t timeout) {
    const auto steps = TranslateCommand(r.DeviceKind, r.Command, data.data(), data.size());
    if (!steps) return {TReplyStatus::NotSent};  // nothing goes on the line
    TProtoPort& port = *r.Port;
    const TFrameContext context{r.DeviceKind, r.Command};
    TBuff reply;
    for (const TModbusStep& step : *steps) {
        const TBuff frame = BuildModbusRequest(r.Address, step);
        const TOutcome outcome =
            Exchange(port, frame, static_cast<int32_t>(timeout), kModbusGapMs, r.Tries, reply, context);
        if (!outcome.Ok()) return outcome;
        size_t end = 0;
        const bool placed = PlaceStepReply(r.DeviceKind, step, reply, r.RxBuffer, r.RxLength, &end);
        r.RxReceived = std::max(r.RxReceived, static_cast<int32_t>(end));
        if (!placed) return {TReplyStatus::Short};
    }
    return kAnswered;
}

}  // namespace

TBuff BuildNativePayload(const TProtoRequest& request) {
    return NativePayload(request.Address, request.Command, RequestData(request));
}

bool SendNativeFrame(TProtoPort& Port, const TBuff& Payload) {
    const TBuff frame = BuildNativeFrame(Payload);
    if (frame.empty()) return false;
    const auto size = static_cast<int32_t>(frame.size());
    return Port.Write(frame.data(), size) == size;
}

void TReceiver::Reset() {
    Payload.clear();
    Remaining = 0;
}

void TReceiver::Fail() {
    Payload.clear();
    Remaining = 0;
}

bool TReceiver::Poll(TProtoPort& Port) {
    uint8_t b = 0;
    if (Port.Read(&b, 1) != 1) return false;
    return Push(b, Port.Stats());
}

bool TReceiver::Push(uint8_t b, TRequestStats& stats) {
    Sum = static_cast<uint8_t>(Sum + b + Position);
    if (Remaining == 0) {
        // A length byte too small for any frame is noise: stay idle, so
        // that the byte count cannot wrap around.
        if (b < kMinNativeFrame) return false;
        Remaining = b;
        SecondExpected = static_cast<uint8_t>(b - 1);
        Sum = static_cast<uint8_t>(b + 1);
        Position = 1;
    } else if (Remaining == SecondExpected) {
        if (b != SecondExpected) {
            Fail();
            return false;
        }
    } else if (Remaining == 1) {
        if (Sum == 0) return true;
        stats.IncError();
        Fail();
        return false;
    } else if (Position % 4 == 0) {
        if (Sum != 0) {
            Fail();
            return false;
        }
    } else {
        Payload.push_back(b);
    }
    ++Position;
    --Remaining;
    return false;
}

TOutcome ExecuteRequest(TProtoRequest& Request) {
    Request.RxReceived = 0;
    if (!Request.Port) return TOutcome{TReplyStatus::NotSent};
    const TBuff data = RequestData(Request);
    Request.TxData.reset();  // copied: the block is not needed any more
    const auto total = static_cast<int64_t>(Request.Port->ReplyTimeout.load()) + Request.ExtraTimeout;
    const auto timeout = static_cast<uint32_t>(std::clamp<int64_t>(total, 0, INT32_MAX));
    switch (Request.DeviceKind) {
        case kKindTovik:
        case kKindTovikM:
            return NativeExchange(Request, NativePayload(Request.Address, Request.Command, data), timeout);
        case kKindTovikModbus:
        case kKindTovikMModbus:
            return ModbusExchange(Request, data, timeout);
        default:
            return TOutcome{TReplyStatus::NotSent};
    }
}

}  // namespace tovik
