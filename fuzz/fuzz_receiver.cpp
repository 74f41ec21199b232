// Feeds arbitrary bytes to the native receiver, one at a time, as the line
// delivers them. Every frame it reports complete must be a frame the check
// rule accepts, ending at that byte, whose payload is exactly what the
// receiver hands on; and a well-formed frame after a reset is always taken.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "FuzzCheck.h"
#include "ports/ProtoPort.h"
#include "protocol/Executor.h"
#include "protocol/Frame.h"

using namespace tovik;

namespace {

// The frame of `length` bytes ending at the end of `line`, checked position
// by position: length byte, its complement, check bytes at every multiple
// of 4 and at the end, each closing its group's sum to 0. On success
// `payload` holds the bytes at the other positions.
bool ValidFrameAtEnd(const std::vector<uint8_t>& line, size_t length, std::vector<uint8_t>& payload) {
    if (length < 4 || length > line.size()) return false;
    const uint8_t* f = line.data() + line.size() - length;
    if (f[0] != length || f[1] != static_cast<uint8_t>(length - 1)) return false;
    payload.clear();
    unsigned sum = 0;
    for (size_t pos = 1; pos <= length; ++pos) {
        const uint8_t b = f[pos - 1];
        sum = (sum + b + pos) & 0xFF;
        const bool check = pos == length || (pos >= 4 && pos % 4 == 0);
        if (check) {
            if (sum != 0) return false;
        } else if (pos >= 3) {
            payload.push_back(b);
        }
    }
    return !payload.empty();
}

// Some frame ending at the newest byte carries exactly `data`.
bool CompletedFrameMatches(const std::vector<uint8_t>& line, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> payload;
    for (size_t length = 4; length <= 255 && length <= line.size(); ++length) {
        if (ValidFrameAtEnd(line, length, payload) && payload == data) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TRequestStats stats;
    TReceiver receiver;
    receiver.Reset();
    std::vector<uint8_t> line;  // bytes since the last reset
    for (size_t i = 0; i < size; ++i) {
        line.push_back(data[i]);
        if (!receiver.Push(data[i], stats)) continue;
        const TBuff& payload = receiver.Data();
        CHECK(!payload.empty() && payload.size() <= kMaxNativePayload);
        CHECK(CompletedFrameMatches(line, payload));
        // The executor stops at a complete frame; the next try starts afresh.
        receiver.Reset();
        line.clear();
    }
    // Only a bad final check byte counts as an error reply, at most once per
    // byte.
    const TStatsSnapshot counts = stats.GetStats();
    CHECK(counts.ErrorCount >= 0 && static_cast<size_t>(counts.ErrorCount) <= size);
    CHECK(counts.SentCount == 0 && counts.OkCount == 0);

    // Whatever came before, a reset receiver takes the next well-formed
    // frame, and only at its last byte.
    if (size == 0) return 0;
    const size_t length = size < kMaxNativePayload ? size : kMaxNativePayload;
    const std::vector<uint8_t> payload(data, data + length);
    const std::vector<uint8_t> frame = BuildNativeFrame(payload);
    CHECK(frame.size() == static_cast<size_t>(NativeFrameLength(length)));
    receiver.Reset();
    for (size_t i = 0; i < frame.size(); ++i) {
        const bool complete = receiver.Push(frame[i], stats);
        CHECK(complete == (i + 1 == frame.size()));
    }
    CHECK(receiver.Data() == payload);
    return 0;
}
