#pragma once
// The ModBus RTU CRC-16, used by the exchange and the frame builders.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tovik {

// ModBus RTU CRC-16 (reflected 0xA001, initial 0xFFFF, no final XOR) over
// the given bytes.
uint16_t Crc16(const uint8_t* data, size_t length);
inline uint16_t Crc16(const std::vector<uint8_t>& data) {
    return Crc16(data.data(), data.size());
}

// Appends the CRC of everything in the frame, low byte first.
void AppendCrc(std::vector<uint8_t>& frame);

}  // namespace tovik
