// The framed ModBus RTU exchange.
#include <algorithm>

#include "base/Clock.h"
#include "base/ModbusCrc.h"
#include "ports/FrameTrace.h"
#include "ports/ProtoPort.h"

namespace tovik {

int ModbusReplyLength(const uint8_t* bytes, size_t count) {
    if (count < 2) return 0;
    const uint8_t function = bytes[1];
    if (function & 0x80) return 5;  // exception reply
    if (function == 16) return 8;
    if (function == 3) return count < 3 ? 0 : 5 + bytes[2];
    return -1;
}

namespace {

constexpr uint8_t kFunctionRead = 3;
constexpr uint8_t kFunctionWrite = 16;
constexpr uint8_t kExceptionBit = 0x80;
constexpr int32_t kModbusHeaderBytes = 3;  // address, function, byte count or code

enum class TReceive { Complete, TimedOut, Stopped };

// Gathers one reply. It ends at once when the reply reaches the length its
// header announces; a reply still shorter than that ends after a long
// silence, one of unknown layout after Gap. `took` is the time from the
// start to the end of the reply (or to giving up).
TReceive ReceiveReply(TProtoPort& port, uint32_t timeout, uint32_t gap, TBuff& reply, uint32_t& took) {
    reply.clear();
    const uint32_t start = timeGetTime();
    uint32_t t = start;
    uint32_t lastByte = start;
    bool any = false;
    uint8_t chunk[256];
    while (ElapsedMs(start, t) < timeout) {
        if (port.StopRequested()) return TReceive::Stopped;
        const int expected = ModbusReplyLength(reply.data(), reply.size());
        // Ask for exactly what the reply still lacks (the header first), so
        // that the line can bring it in one read.
        int32_t want = sizeof chunk;
        if (expected > 0)
            want = std::max<int32_t>(1, expected - static_cast<int32_t>(reply.size()));
        else if (expected == 0)
            want = std::max<int32_t>(1, kModbusHeaderBytes - static_cast<int32_t>(reply.size()));
        // A byte count of 255 announces more than one chunk holds.
        want = std::min<int32_t>(want, sizeof chunk);
        const int32_t n = port.Read(chunk, want);
        t = timeGetTime();
        if (n > 0) {
            reply.insert(reply.end(), chunk, chunk + n);
            lastByte = t;
            any = true;
            const int full = ModbusReplyLength(reply.data(), reply.size());
            if (full > 0 && reply.size() >= static_cast<size_t>(full)) {
                reply.resize(static_cast<size_t>(full));
                took = ElapsedMs(start, t);
                return TReceive::Complete;
            }
        } else if (any) {
            const int full = ModbusReplyLength(reply.data(), reply.size());
            const uint32_t silence = full < 0 ? gap : std::max(gap, kShortReplySilenceMs);
            if (ElapsedMs(lastByte, t) > silence) {
                took = ElapsedMs(start, lastByte);
                return TReceive::Complete;
            }
        }
    }
    took = ElapsedMs(start, t);
    return TReceive::TimedOut;
}

bool CrcMatches(const TBuff& reply) {
    if (reply.size() < 2) return false;  // a single byte always fails
    const uint16_t received = static_cast<uint16_t>(reply[reply.size() - 1] * 256 + reply[reply.size() - 2]);
    const uint16_t computed = reply.size() < 3 ? 0xFFFF : Crc16(reply.data(), reply.size() - 2);
    return received == computed;
}

struct TCheck {
    TTraceOutcome Outcome = TTraceOutcome::Ok;
    uint8_t Code = 0;
};

// Whether a complete reply answers this request. Without a transaction
// number the only proof is that the reply has the shape of this request's
// answer: a late reply to an earlier request of another size, function or
// register fails here.
TCheck CheckReply(const TBuff& frame, const TBuff& reply, bool bus) {
    if (!CrcMatches(reply)) return {TTraceOutcome::BadCheck};
    // Too short to hold address, function, one byte and the CRC: as damaged
    // as a wrong CRC.
    if (reply.size() < 5) return {TTraceOutcome::WrongLength};
    if (bus && reply[0] != frame[0]) return {TTraceOutcome::WrongAddress};
    if (reply[1] == (frame[1] | kExceptionBit)) return {TTraceOutcome::Exception, reply[2]};
    if (reply[1] != frame[1]) return {TTraceOutcome::ForeignReply};
    if (frame[1] == kFunctionRead && frame.size() >= 8) {
        const size_t count = static_cast<size_t>(frame[4] << 8 | frame[5]);
        if (reply[2] != 2 * count || reply.size() != 5 + 2 * count) return {TTraceOutcome::WrongLength};
    } else if (frame[1] == kFunctionWrite && frame.size() >= 8) {
        if (reply.size() != 8) return {TTraceOutcome::WrongLength};
        if (!std::equal(frame.begin() + 2, frame.begin() + 6, reply.begin() + 2))
            return {TTraceOutcome::ForeignReply};
    }
    return {};
}

// A damaged reply is worth another try; a foreign one is not.
bool WorthRetry(const TCheck& check, const TBuff& reply) {
    return check.Outcome == TTraceOutcome::BadCheck ||
           (check.Outcome == TTraceOutcome::WrongLength && reply.size() < 5);
}

void Trace(TProtoPort& port, const TFrameContext& context, uint8_t address, TTraceDirection direction,
           const TBuff& bytes, int32_t attempt, int32_t replyMs, TCheck check) {
    if (!port.Tracing()) return;
    TFrameTraceRecord r;
    r.Direction = direction;
    r.Bytes = bytes;
    r.Address = address;
    r.DeviceKind = context.DeviceKind;
    r.Command = context.Command;
    r.Try = attempt;
    r.ReplyMs = replyMs;
    r.Outcome = check.Outcome;
    r.ExceptionCode = check.Code;
    port.TraceFrame(r);
}

}  // namespace

bool AwaitQuietLine(TProtoPort& Port, uint8_t Address, const TFrameContext& Context) {
    const int32_t replyTimeout = Port.ReplyTimeout.load(std::memory_order_relaxed);
    if (replyTimeout <= 0) return !Port.StopRequested();
    const auto quiet = static_cast<uint32_t>(replyTimeout);
    const uint64_t limit = static_cast<uint64_t>(quiet) * kQuietWaitLimitFactor;
    const uint32_t start = timeGetTime();
    uint32_t lastByte = start;
    TBuff dropped;
    auto flush = [&] {
        if (dropped.empty()) return;
        Trace(Port, Context, Address, TTraceDirection::Received, dropped, 0, -1, {TTraceOutcome::Discarded});
        dropped.clear();
    };
    uint8_t chunk[256];
    for (;;) {
        if (Port.StopRequested()) return false;
        const int32_t n = Port.Read(chunk, sizeof chunk);
        const uint32_t t = timeGetTime();
        if (n > 0) {
            if (Port.Tracing()) dropped.insert(dropped.end(), chunk, chunk + n);
            lastByte = t;
        } else {
            flush();  // one record per burst
            if (ElapsedMs(lastByte, t) >= quiet) return true;
        }
        // A line that never goes quiet must not hold the worker: the reply
        // checks still guard the next exchange.
        if (ElapsedMs(start, t) >= limit) {
            flush();
            return true;
        }
    }
}

bool Exchange(TProtoPort& Port, const TBuff& Frame, int32_t Timeout, int32_t Gap, int32_t Tries,
              TBuff& Reply) {
    return Exchange(Port, Frame, Timeout, Gap, Tries, Reply, TFrameContext{});
}

bool Exchange(TProtoPort& Port, const TBuff& Frame, int32_t Timeout, int32_t Gap, int32_t Tries, TBuff& Reply,
              const TFrameContext& Context) {
    const uint32_t timeout = Timeout > 0 ? static_cast<uint32_t>(Timeout) : 0;
    const uint32_t gap = Gap > 0 ? static_cast<uint32_t>(Gap) : 0;
    if (Frame.size() < 4) return false;  // no address, function and CRC: nothing to send
    if (Tries <= 0) return false;
    const uint8_t address = Frame[0];
    if (Port.TakeLineUnsettled() && !AwaitQuietLine(Port, address, Context)) return false;
    bool wentOut = false;
    // A failure leaves nothing that could be taken for data, and the line
    // unsettled: a reply to this frame may still come.
    auto fail = [&] {
        Reply.clear();
        if (wentOut) Port.MarkLineUnsettled();
        return false;
    };
    int32_t attempt = 0;
    while (Tries > 0) {
        if (Port.StopRequested()) return fail();
        Port.DiscardInput();
        ++attempt;
        const int32_t size = static_cast<int32_t>(Frame.size());
        const int32_t written = Port.Write(Frame.data(), size);
        if (written > 0) wentOut = true;
        if (written < size) {  // not sent: nothing counted
            Trace(Port, Context, address, TTraceDirection::Sent, Frame, attempt, -1,
                  {TTraceOutcome::NotSent});
            return fail();
        }
        Trace(Port, Context, address, TTraceDirection::Sent, Frame, attempt, -1, {});
        Port.Stats().IncSent();
        --Tries;

        uint32_t took = 0;
        const TReceive r = ReceiveReply(Port, timeout, gap, Reply, took);
        if (r == TReceive::Stopped) return fail();
        if (r == TReceive::TimedOut) {
            Trace(Port, Context, address, TTraceDirection::Received, Reply, attempt,
                  static_cast<int32_t>(took), {TTraceOutcome::NoAnswer});
            continue;
        }

        const TCheck check = CheckReply(Frame, Reply, Port.Bus.load(std::memory_order_relaxed));
        Trace(Port, Context, address, TTraceDirection::Received, Reply, attempt, static_cast<int32_t>(took),
              check);
        if (check.Outcome != TTraceOutcome::Ok) {
            Port.Stats().IncError();
            if (WorthRetry(check, Reply)) continue;
            return fail();
        }
        Reply.erase(Reply.end() - 2, Reply.end());
        Reply.erase(Reply.begin(), Reply.begin() + 3);
        for (size_t i = 0; i + 1 < Reply.size(); i += 2) std::swap(Reply[i], Reply[i + 1]);
        Port.Stats().IncOk();
        return true;
    }
    return fail();
}

}  // namespace tovik
