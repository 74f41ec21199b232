#include "protocol/Frame.h"

namespace tovik {

int NativeFrameLength(size_t payloadLength) {
    if (payloadLength == 0 || payloadLength > kMaxNativePayload) return 0;
    if (payloadLength == 1) return 4;
    const size_t l = payloadLength;
    return static_cast<int>(l + 4 + (l - 2) / 3);
}

std::vector<uint8_t> BuildNativeFrame(const uint8_t* payload, size_t length) {
    const int n = NativeFrameLength(length);
    if (n == 0) return {};
    std::vector<uint8_t> frame;
    frame.reserve(static_cast<size_t>(n));
    frame.push_back(static_cast<uint8_t>(n));
    frame.push_back(static_cast<uint8_t>(n - 1));
    uint8_t sum = static_cast<uint8_t>(2 * n + 2);
    uint8_t pos = 3;
    size_t i = 0;
    while (i < length) {
        if (pos % 4 == 0) {
            frame.push_back(static_cast<uint8_t>(-sum - pos));
            sum = 0;
        } else {
            sum = static_cast<uint8_t>(sum + payload[i] + pos);
            frame.push_back(payload[i]);
            ++i;
        }
        ++pos;
    }
    frame.push_back(static_cast<uint8_t>(-sum - pos));
    return frame;
}

std::optional<std::vector<uint8_t>> NativeFramePayload(const uint8_t* bytes, size_t count) {
    if (count < 4 || count > 255 || bytes[0] != count || bytes[1] != count - 1) return std::nullopt;
    uint8_t sum = 0;
    std::vector<uint8_t> payload;
    for (size_t i = 0; i < count; ++i) {
        const size_t pos = i + 1;
        sum = static_cast<uint8_t>(sum + bytes[i] + pos);
        if (pos % 4 == 0 || pos == count) {
            if (sum != 0) return std::nullopt;
            sum = 0;
        } else if (pos >= 3) {
            payload.push_back(bytes[i]);
        }
    }
    return payload;
}

}  // namespace tovik
