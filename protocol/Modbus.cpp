#include "protocol/Modbus.h"

#include <algorithm>

#include "base/Clock.h"
#include "ports/FrameTrace.h"
#include "ports/ProtoPort.h"

namespace tovik {

uint16_t Crc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

void AppendCrc(std::vector<uint8_t>& frame) {
    const uint16_t crc = Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool CrcMatches(const uint8_t* frame, size_t length) {
    if (length < 2) return false;
    const uint16_t received = static_cast<uint16_t>(frame[length - 1] << 8 | frame[length - 2]);
    return received == Crc16(frame, length - 2);
}

TBuff ModbusReadRequest(uint8_t address, uint16_t reg, uint16_t count) {
    TBuff f{address,
            kModbusRead,
            static_cast<uint8_t>(reg >> 8),
            static_cast<uint8_t>(reg & 0xFF),
            static_cast<uint8_t>(count >> 8),
            static_cast<uint8_t>(count & 0xFF)};
    AppendCrc(f);
    return f;
}

TBuff ModbusWriteRequest(uint8_t address, uint16_t reg, const std::vector<uint16_t>& values) {
    const auto count = static_cast<uint16_t>(values.size());
    TBuff f{address,
            kModbusWrite,
            static_cast<uint8_t>(reg >> 8),
            static_cast<uint8_t>(reg & 0xFF),
            static_cast<uint8_t>(count >> 8),
            static_cast<uint8_t>(count & 0xFF),
            static_cast<uint8_t>(count)};
    for (uint16_t v : values) {
        f.push_back(static_cast<uint8_t>(v >> 8));
        f.push_back(static_cast<uint8_t>(v & 0xFF));
    }
    AppendCrc(f);
    return f;
}

int ModbusReplyLength(const uint8_t* bytes, size_t count) {
    if (count < 2) return 0;
    const uint8_t function = bytes[1];
    if (function & kModbusExceptionBit) return 5;
    if (function == kModbusWrite) return 8;
    if (function == kModbusRead) return count < 3 ? 0 : 5 + bytes[2];
    return -1;
}

namespace {

// Address, function and the byte count or exception code.
constexpr int32_t kHeaderBytes = 3;
// The shortest reply: the header and the CRC.
constexpr size_t kShortestReply = 5;

// Whether a reply that passed its CRC and address checks has the shape of
// the answer to `frame`.
bool AnswersFrame(const TBuff& frame, const TBuff& reply) {
    if (frame.size() < 8 || reply[1] != frame[1]) return false;
    if (frame[1] == kModbusRead) {
        const size_t count = static_cast<size_t>(frame[4] << 8 | frame[5]);
        return reply[2] == 2 * count && reply.size() == kShortestReply + 2 * count;
    }
    if (frame[1] == kModbusWrite)
        return reply.size() == 8 && std::equal(frame.begin() + 2, frame.begin() + 6, reply.begin() + 2);
    return true;
}

// Retried: the relay may answer properly the next time.
bool WorthRetry(TReplyStatus status) {
    return status == TReplyStatus::Damaged || status == TReplyStatus::Short;
}

enum class TReceive { Complete, TimedOut, Stopped, LineLost };

// The length of the answer to `frame` as it asks for it; 0 when its layout
// is not known. (An exception reply is shorter.)
size_t AnswerLength(const TBuff& frame) {
    if (frame.size() < 8) return 0;
    if (frame[1] == kModbusRead) return kShortestReply + 2 * static_cast<size_t>(frame[4] << 8 | frame[5]);
    if (frame[1] == kModbusWrite) return 8;
    return 0;
}

// Gathers one reply. It ends at once when the reply reaches the length its
// header announces; a reply still shorter than that ends after a long
// silence, one of unknown layout after Gap. `took` is the time from the
// start to the end of the reply (or to giving up). `answer`: the length of
// the answer the request expects (0: not known), asked for at once so that
// the line can bring all of it in one read.
TReceive ReceiveReply(TProtoPort& port, uint32_t timeout, uint32_t gap, size_t answer, TBuff& reply,
                      uint32_t& took) {
    reply.clear();
    const uint32_t start = timeGetTime();
    uint32_t t = start;
    uint32_t lastByte = start;
    bool any = false;
    uint8_t chunk[256];
    const auto first = static_cast<int32_t>(answer > 0 ? std::min(answer, sizeof chunk) : kHeaderBytes);
    while (ElapsedMs(start, t) < timeout) {
        if (port.StopRequested()) return TReceive::Stopped;
        const int expected = ModbusReplyLength(reply.data(), reply.size());
        // Ask for exactly what the reply still lacks (the expected answer,
        // else the header first), so that the line can bring it in one read.
        int32_t want = sizeof chunk;
        if (expected > 0)
            want = std::max<int32_t>(1, expected - static_cast<int32_t>(reply.size()));
        else if (expected == 0)
            want = std::max<int32_t>(1, first - static_cast<int32_t>(reply.size()));
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
        } else if (!port.IsOpen()) {
            took = ElapsedMs(start, t);
            return TReceive::LineLost;
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

void Trace(TProtoPort& port, const TFrameContext& context, uint8_t address, TTraceDirection direction,
           const TBuff& bytes, int32_t attempt, int32_t replyMs, TOutcome outcome) {
    if (!port.Tracing()) return;
    TFrameTraceRecord r;
    r.Direction = direction;
    r.Bytes = bytes;
    r.Address = address;
    r.DeviceKind = context.DeviceKind;
    r.Command = context.Command;
    r.Try = attempt;
    r.ReplyMs = replyMs;
    r.Outcome = outcome;
    port.TraceFrame(r);
}

}  // namespace

TOutcome CheckModbusReply(const TBuff& frame, const TBuff& reply, bool bus, const TBuff& earlier) {
    const int expected = ModbusReplyLength(reply.data(), reply.size());
    if (expected == 0 || (expected > 0 && reply.size() < static_cast<size_t>(expected)))
        return {TReplyStatus::Short};
    if (!CrcMatches(reply)) return {TReplyStatus::Damaged};
    if (reply.size() < kShortestReply) return {TReplyStatus::Short};
    if (frame.size() < 2) return {TReplyStatus::Foreign};
    if (bus && reply[0] != frame[0]) return {TReplyStatus::Foreign};
    if (reply[1] == (frame[1] | kModbusExceptionBit)) return {TReplyStatus::Exception, reply[2]};
    if (AnswersFrame(frame, reply)) return kAnswered;
    if (!earlier.empty() && earlier != frame && (!bus || reply[0] == earlier[0]) &&
        AnswersFrame(earlier, reply))
        return {TReplyStatus::Late};
    return {TReplyStatus::Foreign};
}

TOutcome Exchange(TProtoPort& Port, const TBuff& Frame, int32_t Timeout, int32_t Gap, int32_t Tries,
                  TBuff& Reply) {
    return Exchange(Port, Frame, Timeout, Gap, Tries, Reply, TFrameContext{});
}

TOutcome Exchange(TProtoPort& Port, const TBuff& Frame, int32_t Timeout, int32_t Gap, int32_t Tries,
                  TBuff& Reply, const TFrameContext& Context) {
    Reply.clear();
    const uint32_t timeout = Timeout > 0 ? static_cast<uint32_t>(Timeout) : 0;
    const uint32_t gap = Gap > 0 ? static_cast<uint32_t>(Gap) : 0;
    // No address, function and CRC, or no try: nothing to send.
    if (Frame.size() < 4 || Tries <= 0) return {TReplyStatus::NotSent};
    const uint8_t address = Frame[0];
    if (Port.TakeLineUnsettled() && !AwaitQuietLine(Port, address, Context)) return {TReplyStatus::Stopped};
    Port.NoteRequestFrame(Frame);
    const TBuff earlier = Port.EarlierFrame();
    bool wentOut = false;
    TOutcome outcome;  // NoAnswer until a try brings something
    // A failure leaves nothing that could be taken for data, and the line
    // unsettled: a reply to this frame may still come.
    auto fail = [&](TOutcome last) {
        Reply.clear();
        if (wentOut) Port.MarkLineUnsettled();
        return last;
    };
    int32_t attempt = 0;
    while (Tries > 0) {
        if (Port.StopRequested()) return fail({TReplyStatus::Stopped});
        Port.DiscardInput();
        ++attempt;
        const int32_t size = static_cast<int32_t>(Frame.size());
        const int32_t written = Port.Write(Frame.data(), size);
        if (written > 0) wentOut = true;
        if (written < size) {  // not sent: nothing counted
            const TOutcome unsent = UnsentOutcome(Port);
            Trace(Port, Context, address, TTraceDirection::Sent, Frame, attempt, -1, unsent);
            return fail(unsent);
        }
        Trace(Port, Context, address, TTraceDirection::Sent, Frame, attempt, -1, kAnswered);
        Port.Stats().IncSent();
        --Tries;

        uint32_t took = 0;
        const TReceive r = ReceiveReply(Port, timeout, gap, AnswerLength(Frame), Reply, took);
        if (r == TReceive::Stopped) return fail({TReplyStatus::Stopped});
        TOutcome result;
        if (r == TReceive::LineLost) {
            result = UnsentOutcome(Port);
        } else if (r == TReceive::TimedOut) {
            result = {Reply.empty() ? TReplyStatus::NoAnswer : TReplyStatus::Short};
        } else {
            result = CheckModbusReply(Frame, Reply, Port.Bus.load(std::memory_order_relaxed), earlier);
        }
        Trace(Port, Context, address, TTraceDirection::Received, Reply, attempt, static_cast<int32_t>(took),
              result);
        if (result.Status == TReplyStatus::NoLine) return fail(result);
        if (result.Status != TReplyStatus::NoAnswer) outcome = result;
        if (result.Ok()) {
            // The answer to an earlier try may still be on its way.
            if (attempt > 1) Port.MarkLineUnsettled();
            Reply.erase(Reply.end() - 2, Reply.end());
            Reply.erase(Reply.begin(), Reply.begin() + kHeaderBytes);
            for (size_t i = 0; i + 1 < Reply.size(); i += 2) std::swap(Reply[i], Reply[i + 1]);
            Port.Stats().IncOk();
            return outcome;
        }
        if (result.Status != TReplyStatus::NoAnswer) Port.Stats().IncError();
        if (result.Status != TReplyStatus::NoAnswer && !WorthRetry(result.Status)) break;
    }
    return fail(outcome);
}

}  // namespace tovik
