#pragma once
// Wire framing shared by the engine, the executor and the simulator:
// the ModBus RTU CRC and the native frame with its positional check bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tovik {

// ModBus RTU CRC-16 (reflected 0xA001, initial 0xFFFF, no final XOR) over
// the given bytes.
uint16_t Crc16(const uint8_t* data, size_t length);
inline uint16_t Crc16(const std::vector<uint8_t>& data) { return Crc16(data.data(), data.size()); }

// Appends the CRC of everything in the frame, low byte first.
void AppendCrc(std::vector<uint8_t>& frame);

// Total length of the native frame that carries `payloadLength` bytes
// (1..189), check bytes included; 0 for a length that does not fit.
int NativeFrameLength(size_t payloadLength);

inline constexpr size_t kMaxNativePayload = 189;

// Builds the native frame around a payload; empty when it does not fit.
std::vector<uint8_t> BuildNativeFrame(const uint8_t* payload, size_t length);
inline std::vector<uint8_t> BuildNativeFrame(const std::vector<uint8_t>& payload) {
    return BuildNativeFrame(payload.data(), payload.size());
}

}  // namespace tovik
