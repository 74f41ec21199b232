#pragma once
// The native frame with its positional check bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

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

// The payload of a native frame (address, command, the rest) when its
// length bytes and every check byte are right.
std::optional<std::vector<uint8_t>> NativeFramePayload(const uint8_t* bytes, size_t count);
inline std::optional<std::vector<uint8_t>> NativeFramePayload(const std::vector<uint8_t>& bytes) {
    return NativeFramePayload(bytes.data(), bytes.size());
}

}  // namespace tovik
