#pragma once
// ModBus RTU on the wire: the CRC, the request frames, the length of a
// reply from its first bytes, the checks that tell this request's answer
// from anything else, and the exchange with its tries. The port underneath
// only moves bytes and keeps time.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ports/Request.h"

namespace tovik {

class TProtoPort;
struct TFrameContext;

inline constexpr uint8_t kModbusRead = 3;    // read holding registers
inline constexpr uint8_t kModbusWrite = 16;  // write multiple registers
inline constexpr uint8_t kModbusExceptionBit = 0x80;

// ModBus RTU CRC-16 (reflected 0xA001, initial 0xFFFF, no final XOR) over
// the given bytes.
uint16_t Crc16(const uint8_t* data, size_t length);
inline uint16_t Crc16(const std::vector<uint8_t>& data) {
    return Crc16(data.data(), data.size());
}
// Appends the CRC of everything in the frame, low byte first.
void AppendCrc(std::vector<uint8_t>& frame);
// The last two bytes are the CRC of the ones before them (at least two).
bool CrcMatches(const uint8_t* frame, size_t length);
inline bool CrcMatches(const std::vector<uint8_t>& frame) {
    return CrcMatches(frame.data(), frame.size());
}

// A request frame, CRC included: a read of `count` registers from `reg`,
// or a write of `values` from `reg` (the count byte carries the number of
// registers, as the relays expect).
TBuff ModbusReadRequest(uint8_t address, uint16_t reg, uint16_t count);
TBuff ModbusWriteRequest(uint8_t address, uint16_t reg, const std::vector<uint16_t>& values);

// Expected total length of a reply from its first bytes: 0 while the
// header is still incomplete, -1 for a function code of unknown layout.
int ModbusReplyLength(const uint8_t* bytes, size_t count);

// What a complete reply is to the request `frame`. ModBus RTU carries no
// transaction number, so the shape of the reply is the only proof that it
// answers this request: the address (on a bus), the function, for a read
// the byte count of the registers asked for, for a write the echo of the
// register and count written. A reply that ends before its length does is
// Short; a wrong CRC Damaged; an exception to this function Exception; a
// reply shaped as the answer to `earlier` (the request before this one)
// Late; anything else Foreign.
TOutcome CheckModbusReply(const TBuff& frame, const TBuff& reply, bool bus, const TBuff& earlier = {});

// Silence that ends a reply still shorter than its header announces: USB
// adapters deliver bursts several milliseconds apart.
inline constexpr uint32_t kShortReplySilenceMs = 20;

// One exchange: Frame holds the request with its CRC. Timeout is the time
// allowed for each reply, Gap the silence that ends a reply of unknown
// length. When answered, Reply holds the data field with every 16-bit word
// turned little-endian; otherwise it is empty.
//
// A damaged or short reply is tried again while tries remain; a foreign or
// late reply and an exception are not. The request's outcome is the last
// try's, or the last one that brought anything. Every frame sent is counted
// once in the statistics (answered, rejected or unanswered) and traced
// with its outcome. After a failure, or an answer that needed more than one
// try, the port's next frame waits for a quiet line (AwaitQuietLine): the
// answer to an earlier try may still come, and nothing in a ModBus reply
// says which request it answers.
TOutcome Exchange(TProtoPort& Port, const TBuff& Frame, int32_t Timeout, int32_t Gap, int32_t Tries,
                  TBuff& Reply);
TOutcome Exchange(TProtoPort& Port, const TBuff& Frame, int32_t Timeout, int32_t Gap, int32_t Tries,
                  TBuff& Reply, const TFrameContext& Context);

}  // namespace tovik
