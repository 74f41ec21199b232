// The simulator's own wire code against fixed frames worked out by hand
// from the protocol's rules, so that a slip in it (or in the tool's code,
// which the other tests compare it with) cannot agree with itself.
#include <gtest/gtest.h>

#include "tools/sim/SimLine.h"
#include "tools/sim/SimWire.h"

namespace tovik::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithoutLast(const Bytes& b, size_t n) {
    return Bytes(b.begin(), b.end() - static_cast<long>(n));
}

// Frames with their CRC: the first two are the protocol's own examples, the
// last the ModBus documentation's read of three registers from 107 at 17.
const Bytes kCrcFrames[] = {
    {0x01, 0x03, 0x00, 0x20, 0x00, 0x1F, 0x05, 0xC8},
    {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD},
    {0x05, 0x03, 0x00, 0x3A, 0x00, 0x01, 0xA5, 0x83},
    {0x05, 0x03, 0x02, 0x00, 0x13, 0x08, 0x49},
    {0x05, 0x10, 0x00, 0x39, 0x00, 0x01, 0x01, 0x00, 0x01, 0xA0, 0x39},
    {0x05, 0x10, 0x00, 0x39, 0x00, 0x01, 0xD0, 0x40},
    {0x05, 0x90, 0x03, 0x4D, 0xC0},
    {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03, 0x76, 0x87},
};

TEST(SimWire, CrcOfKnownFrames) {
    for (const Bytes& frame : kCrcFrames) {
        SCOPED_TRACE(testing::PrintToString(frame));
        Bytes body = WithoutLast(frame, 2);
        EXPECT_EQ(ModbusCrc(body.data(), body.size()), frame[frame.size() - 2] | frame.back() << 8);
        AppendModbusCrc(body);
        EXPECT_EQ(body, frame);
        EXPECT_TRUE(ModbusCrcMatches(frame));
        // Any single flipped bit in any byte, CRC bytes included, is caught.
        for (size_t i = 0; i < frame.size(); ++i) {
            for (int bit = 0; bit < 8; ++bit) {
                Bytes broken = frame;
                broken[i] ^= static_cast<uint8_t>(1 << bit);
                EXPECT_FALSE(ModbusCrcMatches(broken)) << "byte " << i << " bit " << bit;
            }
        }
    }
    // Nothing to check without a byte before the CRC.
    const uint8_t none = 0;
    EXPECT_EQ(ModbusCrc(&none, 0), 0xFFFF);
    EXPECT_FALSE(ModbusCrcMatches({0xFF, 0xFF}));
    EXPECT_FALSE(ModbusCrcMatches({}));
}

// Payloads and their frames: one byte, a check byte inside, the last payload
// byte just before a multiple of 4, one after it, and the longest request.
struct NativeCase {
    Bytes Payload;
    Bytes Frame;
};
const NativeCase kNativeFrames[] = {
    {{0x05}, {0x04, 0x03, 0x05, 0xEA}},
    {{0x01, 0x03}, {0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2}},
    {{0x01, 0x04, 0x31, 0x01}, {0x08, 0x07, 0x01, 0xE6, 0x04, 0x31, 0x01, 0xB0}},
    {{0x09, 0x04, 0x0B, 0x00, 0x00, 0x00},
     {0x0B, 0x0A, 0x09, 0xD8, 0x04, 0x0B, 0x00, 0xD7, 0x00, 0x00, 0xE2}},
    {{0x01, 0x02, 0x03, 0x04, 0x05}, {0x0A, 0x09, 0x01, 0xE2, 0x02, 0x03, 0x04, 0xDD, 0x05, 0xE8}},
    {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
     {0x17, 0x16, 0x01, 0xC8, 0x02, 0x03, 0x04, 0xDD, 0x05, 0x06, 0x07, 0xC4,
      0x08, 0x09, 0x0A, 0xAB, 0x0B, 0x0C, 0x0D, 0x92, 0x0E, 0x0F, 0xA1}},
};

TEST(SimWire, NativeFramesOfKnownPayloads) {
    for (const auto& c : kNativeFrames) {
        SCOPED_TRACE(testing::PrintToString(c.Payload));
        EXPECT_EQ(MakeNativeFrame(c.Payload), c.Frame);
        std::string why;
        EXPECT_EQ(ParseNativeFrame(c.Frame, why), c.Payload) << why;
        // Every byte of the frame is covered: changing any one breaks it.
        for (size_t i = 0; i < c.Frame.size(); ++i) {
            Bytes broken = c.Frame;
            broken[i] ^= 0x21;
            EXPECT_FALSE(ParseNativeFrame(broken, why).has_value()) << "byte " << i;
        }
    }
}

TEST(SimWire, NativeFrameLengthForEveryPayloadLength) {
    EXPECT_EQ(NativeFrameSize(0), 0u);
    EXPECT_EQ(NativeFrameSize(1), 4u);
    for (size_t l = 2; l <= kMaxNativePayload; ++l) EXPECT_EQ(NativeFrameSize(l), l + 4 + (l - 2) / 3) << l;
    EXPECT_EQ(NativeFrameSize(kMaxNativePayload), 255u);
    EXPECT_EQ(NativeFrameSize(kMaxNativePayload + 1), 0u);
    EXPECT_TRUE(MakeNativeFrame(Bytes(kMaxNativePayload + 1, 1)).empty());
    for (size_t l = 1; l <= kMaxNativePayload; ++l) {
        Bytes payload(l);
        for (size_t i = 0; i < l; ++i) payload[i] = static_cast<uint8_t>(i * 37 + l);
        const Bytes frame = MakeNativeFrame(payload);
        ASSERT_EQ(frame.size(), NativeFrameSize(l));
        // Check bytes at the multiples of 4 and at the end, never two in a row.
        const size_t last = frame.size();
        EXPECT_NE((last - 1) % 4, 0u) << "two check bytes in a row for " << l;
        std::string why;
        EXPECT_EQ(ParseNativeFrame(frame, why), payload) << l << ": " << why;
    }
}

TEST(SimWire, DamagedNativeFramesSayWhy) {
    const std::vector<std::pair<Bytes, const char*>> bad = {
        {{0x06, 0x05, 0x01, 0xEB, 0x03, 0xF2}, "check byte at position 4"},
        {{0x06, 0x05, 0x01, 0xEA, 0x03, 0xF3}, "check byte at position 6"},
        {{0x06, 0x04, 0x01, 0xEA, 0x03, 0xF2}, "second byte"},
        {{0x07, 0x05, 0x01, 0xEA, 0x03, 0xF2}, "length byte"},
        {{0x02}, "length byte"},
        {{}, "length byte"},
    };
    for (const auto& [frame, reason] : bad) {
        std::string why;
        EXPECT_FALSE(ParseNativeFrame(frame, why).has_value());
        EXPECT_NE(why.find(reason), std::string::npos) << why;
    }
    // A 9-byte frame would put two check bytes in a row: no sender makes it.
    Bytes nine = {9, 8, 1, 0, 4, 49, 1, 0, 0};
    unsigned s = 0;
    for (size_t i = 0; i < 3; ++i) s += nine[i] + i + 1;
    nine[3] = static_cast<uint8_t>(0 - s - 4);
    s = 0;
    for (size_t i = 4; i < 7; ++i) s += nine[i] + i + 1;
    nine[7] = static_cast<uint8_t>(0 - s - 8);
    nine[8] = static_cast<uint8_t>(0 - 9);
    std::string why;
    EXPECT_FALSE(ParseNativeFrame(nine, why).has_value());
    EXPECT_NE(why.find("impossible length"), std::string::npos) << why;
}

TEST(SimWire, ModbusRequestsAndReplies) {
    TModbusRequest r;
    std::string note;
    EXPECT_EQ(DecodeModbusRequest(kCrcFrames[0], r, note), 0) << note;
    EXPECT_EQ(r.Address, 1);
    EXPECT_EQ(r.Function, kReadHolding);
    EXPECT_EQ(r.First, 32);
    EXPECT_EQ(r.Count, 31);
    EXPECT_EQ(DecodeModbusRequest(kCrcFrames[4], r, note), 0) << note;
    EXPECT_EQ(r.Function, kWriteMultiple);
    EXPECT_EQ(r.First, 57);
    EXPECT_EQ(r.Values, (std::vector<uint16_t>{1}));
    // Big-endian registers, in order.
    Bytes clock = {1, 16, 0, 112, 0, 4, 4, 0x05, 0x0E, 0, 9, 0x03, 0x07, 0, 26};
    AppendModbusCrc(clock);
    EXPECT_EQ(DecodeModbusRequest(clock, r, note), 0) << note;
    EXPECT_EQ(r.Values, (std::vector<uint16_t>{0x050E, 9, 0x0307, 26}));

    const std::vector<std::pair<Bytes, uint8_t>> refused = {
        {{1, 4, 0, 0, 0, 1}, kIllegalFunction},
        {{1, 3, 0, 0}, kIllegalValue},                      // too short
        {{1, 3, 0, 0, 0, 1, 0}, kIllegalValue},             // a read of 9 bytes
        {{1, 16, 0, 57, 0, 1, 2, 0, 1}, kIllegalValue},     // count byte = data bytes
        {{1, 16, 0, 57, 0, 2, 2, 0, 1}, kIllegalValue},     // fewer values than registers
        {{1, 16, 0, 57, 0, 1, 1, 0, 1, 0}, kIllegalValue},  // more bytes than registers
    };
    for (const auto& [body, code] : refused) {
        Bytes frame = body;
        AppendModbusCrc(frame);
        EXPECT_EQ(DecodeModbusRequest(frame, r, note), code) << testing::PrintToString(body);
        EXPECT_FALSE(note.empty());
    }

    Bytes reply = ModbusReadReply(5, {0x0013});
    AppendModbusCrc(reply);
    EXPECT_EQ(reply, kCrcFrames[3]);
    reply = ModbusWriteReply(5, 57, 1);
    AppendModbusCrc(reply);
    EXPECT_EQ(reply, kCrcFrames[5]);
    reply = ModbusExceptionReply(5, kWriteMultiple, kIllegalValue);
    AppendModbusCrc(reply);
    EXPECT_EQ(reply, kCrcFrames[6]);

    // Request sizes for splitting the received bytes.
    EXPECT_EQ(ModbusRequestSize({1}), 0);
    EXPECT_EQ(ModbusRequestSize({1, 3}), 8);
    EXPECT_EQ(ModbusRequestSize({1, 16, 0, 112, 0}), 0);
    EXPECT_EQ(ModbusRequestSize({1, 16, 0, 112, 0, 4, 4}), 17);
    EXPECT_EQ(ModbusRequestSize({1, 16, 0, 112, 0, 124, 248}), -1);
    EXPECT_EQ(ModbusRequestSize({1, 7}), -1);
}

// Every setpoint item's registers, by kind, as the tool's translation
// addresses them.
TEST(SimWire, SetpointRegisterMap) {
    struct Row {
        int Row;
        uint8_t Offset;
        uint16_t Register;
        uint8_t Registers;
    };
    const Row rows[] = {
        {0, 0, 32, 2},   {1, 4, 34, 2},   {2, 8, 36, 2},   {3, 12, 38, 2},  {4, 16, 40, 2},  {5, 20, 42, 2},
        {6, 24, 44, 2},  {7, 28, 46, 1},  {8, 30, 47, 1},  {9, 32, 48, 1},  {10, 34, 49, 1}, {11, 36, 50, 1},
        {12, 38, 51, 1}, {13, 40, 52, 1}, {14, 42, 53, 1}, {15, 44, 54, 1}, {16, 46, 55, 1}, {17, 47, 56, 1},
        {18, 48, 57, 1}, {19, 49, 58, 1}, {20, 50, 59, 2}, {21, 53, 61, 1}, {22, 55, 62, 1},
    };
    for (uint8_t kind = 0; kind < 4; ++kind) {
        for (const Row& row : rows) {
            SCOPED_TRACE("kind " + std::to_string(kind) + " row " + std::to_string(row.Row));
            const bool held = row.Row != 22 || IsTovikM(kind);
            const TSetpointItem* byOffset = SetpointItemAtOffset(kind, row.Offset);
            const TSetpointItem* byRegister = SetpointItemAtRegister(kind, row.Register);
            ASSERT_EQ(byOffset != nullptr, held);
            ASSERT_EQ(byRegister != nullptr, held);
            if (!held) continue;
            EXPECT_EQ(byOffset->Row, row.Row);
            EXPECT_EQ(byRegister->Row, row.Row);
            EXPECT_EQ(byOffset->Register, row.Register);
            // The ratio keeps one register on "ТовикМ ModBus".
            EXPECT_EQ(byRegister->Registers, row.Row == 6 && kind == 3 ? 1 : row.Registers);
        }
        // Items 23 and 24 in registers 45 and 63, on "ТовикМ ModBus" only.
        const TSetpointItem* cutoff = SetpointItemAtRegister(kind, reg::CutoffTime);
        const TSetpointItem* input = SetpointItemAtRegister(kind, reg::DiscreteInput);
        ASSERT_EQ(cutoff != nullptr, kind == 3);
        ASSERT_EQ(input != nullptr, kind == 3);
        if (kind == 3) {
            EXPECT_EQ(cutoff->Row, 23);
            EXPECT_EQ(cutoff->Offset, 27);
            EXPECT_EQ(input->Row, 24);
            EXPECT_EQ(input->Offset, 26);
        }
        EXPECT_EQ(SetpointItemAtOffset(kind, 9), nullptr);
        EXPECT_EQ(SetpointItemAtRegister(kind, 60), nullptr);  // the date's second register
    }
}

// Whole exchanges with the line in fixed bytes: a wrong CRC or check byte on
// either side shows here even when both sides share the mistake.
TEST(SimWire, LineAnswersKnownFramesWithKnownFrames) {
    constexpr int64_t kT0 = 1000000;
    const int64_t clock = *DeviceTimeToSeconds({14, 5, 9, 7, 3, 26});
    TSimLine modbus(true);
    ASSERT_TRUE(modbus.AddRelay(1, 5, kT0, clock));
    EXPECT_EQ(modbus.HandleFrame(kCrcFrames[2], kT0).Reply, kCrcFrames[3]);  // the model register
    EXPECT_EQ(modbus.HandleFrame(kCrcFrames[4], kT0).Reply, kCrcFrames[5]);  // АВТОМАТ on
    EXPECT_EQ(
        modbus.HandleFrame({0x05, 0x10, 0x00, 0x39, 0x00, 0x01, 0x02, 0x00, 0x01, 0x50, 0x39}, kT0).Reply,
        kCrcFrames[6]);  // the count byte counts bytes: refused
    EXPECT_EQ(modbus.HandleFrame({0x05, 0x04, 0x00, 0x00, 0x00, 0x01, 0x30, 0x4E}, kT0).Reply,
              (Bytes{0x05, 0x84, 0x01, 0xC3, 0x01}));

    TSimLine native(false);
    ASSERT_TRUE(native.AddRelay(2, 9, kT0, clock));
    EXPECT_EQ(native.HandleFrame({0x08, 0x07, 0x09, 0xDE, 0x04, 0x31, 0x01, 0xB0}, kT0).Reply,
              kNativeFrames[3].Frame);
}

}  // namespace
}  // namespace tovik::sim
