// The framed ModBus RTU exchange.
#include <algorithm>

#include "base/Clock.h"
#include "ports/ProtoPort.h"
#include "base/ModbusCrc.h"

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

enum class TReceive { Complete, TimedOut, Stopped };

// Gathers one reply. It ends at once when the reply reaches the length its
// header announces; a reply still shorter than that ends after a long
// silence, one of unknown layout after Gap.
TReceive ReceiveReply(TProtoPort& port, uint32_t timeout, uint32_t gap, TBuff& reply) {
    reply.clear();
    const uint32_t start = timeGetTime();
    uint32_t t = start;
    uint32_t lastByte = start;
    bool any = false;
    uint8_t chunk[256];
    while (ElapsedMs(start, t) < timeout) {
        if (port.StopRequested()) return TReceive::Stopped;
        const int expected = ModbusReplyLength(reply.data(), reply.size());
        int32_t want = sizeof chunk;
        if (expected > 0) want = std::max<int32_t>(1, expected - static_cast<int32_t>(reply.size()));
        const int32_t n = port.Read(chunk, want);
        t = timeGetTime();
        if (n > 0) {
            reply.insert(reply.end(), chunk, chunk + n);
            lastByte = t;
            any = true;
            const int full = ModbusReplyLength(reply.data(), reply.size());
            if (full > 0 && reply.size() >= static_cast<size_t>(full)) {
                reply.resize(static_cast<size_t>(full));
                return TReceive::Complete;
            }
        } else if (any) {
            const int full = ModbusReplyLength(reply.data(), reply.size());
            const uint32_t silence = full < 0 ? gap : std::max(gap, kShortReplySilenceMs);
            if (ElapsedMs(lastByte, t) > silence) return TReceive::Complete;
        }
    }
    return TReceive::TimedOut;
}

bool CrcMatches(const TBuff& reply) {
    if (reply.size() < 2) return false;  // a single byte always fails
    const uint16_t received = static_cast<uint16_t>(reply[reply.size() - 1] * 256 + reply[reply.size() - 2]);
    const uint16_t computed = reply.size() < 3 ? 0xFFFF : Crc16(reply.data(), reply.size() - 2);
    return received == computed;
}

}  // namespace

bool Exchange(TProtoPort& Port, const TBuff& Frame, int32_t Timeout, int32_t Gap, int32_t Tries,
              TBuff& Reply) {
    const uint32_t timeout = Timeout > 0 ? static_cast<uint32_t>(Timeout) : 0;
    const uint32_t gap = Gap > 0 ? static_cast<uint32_t>(Gap) : 0;
    if (Frame.size() < 4) return false;  // no address, function and CRC: nothing to send
    while (Tries > 0) {
        if (Port.StopRequested()) return false;
        Port.DiscardInput();
        const int32_t size = static_cast<int32_t>(Frame.size());
        if (Port.Write(Frame.data(), size) < size) return false;  // not sent: nothing counted
        Port.Stats().IncSent();
        --Tries;

        const TReceive r = ReceiveReply(Port, timeout, gap, Reply);
        if (r == TReceive::Stopped) return false;
        if (r == TReceive::TimedOut) continue;

        // A reply too short to hold address, function, one byte and the CRC
        // is as damaged as one with a wrong CRC.
        if (!CrcMatches(Reply) || Reply.size() < 5) {
            Port.Stats().IncError();
            continue;
        }
        const bool addressOk = Reply[0] == Frame[0] || !Port.Bus.load(std::memory_order_relaxed);
        if (!addressOk || Reply[1] != Frame[1]) {
            Port.Stats().IncError();
            return false;
        }
        Reply.erase(Reply.end() - 2, Reply.end());
        Reply.erase(Reply.begin(), Reply.begin() + 3);
        for (size_t i = 0; i + 1 < Reply.size(); i += 2) std::swap(Reply[i], Reply[i + 1]);
        Port.Stats().IncOk();
        return true;
    }
    return false;
}

}  // namespace tovik
