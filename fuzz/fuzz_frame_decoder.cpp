// Feeds arbitrary frames, with any device kind, direction, outcome and
// request context, to the decoding the monitor and the trace show. It must
// never show a damaged frame as meaning something: a frame read as intact
// is one the wire format's own check accepts, rebuilt from what was decoded
// it gives back the very bytes, and every text is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "protocol/Frame.h"
#include "protocol/FrameDecoder.h"
#include "protocol/Modbus.h"
#include "protocol/MonitorBuffer.h"

using namespace tovik;

namespace {

bool ValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    TFrameTraceRecord r;
    const uint8_t kinds[] = {0, 1, 2, 3, kTraceKindUnknown};
    r.DeviceKind = kinds[data[0] % 5];
    r.Direction = (data[1] & 1) ? TTraceDirection::Received : TTraceDirection::Sent;
    r.Outcome.Status = static_cast<TReplyStatus>((data[1] >> 1) % 10);
    r.Try = (data[1] >> 5) & 3;
    r.ReplyMs = (data[1] & 0x80) ? data[2] : -1;
    r.Command = {data[2], data[3] == 0xFF ? -1 : data[3], data[4] == 0xFF ? -1 : data[4]};
    r.Address = data[3];
    r.Outcome.ExceptionCode = data[4];
    r.Outcome.Line = {static_cast<TOpenError>(data[4] % 8), data[4] >> 3};
    r.WallMs = static_cast<int64_t>(data[2]) * 1000003;
    r.PortName = "pts/1";
    r.Bytes.assign(data + 5, data + size);

    const TDecodedFrame f = DecodeFrame(r);
    CHECK(ValidUtf8(f.Meaning));
    if (r.Bytes.empty()) CHECK(f.Meaning.empty() && !f.Intact);
    if (f.Intact && f.Format == TWireFormat::Native) {
        std::vector<uint8_t> payload = {static_cast<uint8_t>(f.Address), static_cast<uint8_t>(f.Code)};
        if (f.Param1 >= 0) payload.push_back(static_cast<uint8_t>(f.Param1));
        if (f.Param2 >= 0) payload.push_back(static_cast<uint8_t>(f.Param2));
        payload.insert(payload.end(), f.Data.begin(), f.Data.end());
        CHECK(BuildNativeFrame(payload) == r.Bytes);
        CHECK(NativeFramePayload(r.Bytes).has_value());
    }
    if (f.Intact && f.Format == TWireFormat::Modbus) {
        const size_t n = r.Bytes.size();
        CHECK(n >= 4);
        CHECK(Crc16(r.Bytes.data(), n - 2) == (r.Bytes[n - 2] | r.Bytes[n - 1] << 8));
        CHECK(f.Address == r.Bytes[0]);
    }
    if (!f.Intact) CHECK(f.Code == -1 && f.Function == -1 && f.Values.empty());

    const TFrameColumns c = FrameColumns(r);
    for (const std::string* s : {&c.Time, &c.Direction, &c.Hex, &c.Meaning, &c.ReplyTime, &c.Problem})
        CHECK(ValidUtf8(*s));
    CHECK(c.Hex.size() == (r.Bytes.empty() ? 0 : r.Bytes.size() * 3 - 1));
    const std::string line = DecodedTraceLine(r, c);
    CHECK(ValidUtf8(line));
    CHECK(line.find('\n') == std::string::npos);

    TMonitorBuffer buffer(2);
    buffer.Append({r, r, r});
    CHECK(buffer.Size() == 2 && buffer.Dropped() == 1);
    CHECK(buffer.Row(1).Line == line);
    return 0;
}
