#pragma once
// The native frame with its positional check bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/ModbusCrc.h"

namespace tovik {

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
