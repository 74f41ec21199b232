// Wire-level pieces without a line: native frames and their receiver, the
// ModBus request frames, the command translation and the setpoint block
// reshaping.
#include <gtest/gtest.h>

#include <numeric>

#include "ports/ProtoPort.h"
#include "protocol/Commands.h"
#include "protocol/Executor.h"
#include "protocol/Frame.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- native frames ----

struct NativeCase {
    Bytes Payload;
    Bytes Frame;
};

class NativeFrameExamples : public ::testing::TestWithParam<NativeCase> {};

TEST_P(NativeFrameExamples, BuildsTheFrame) {
    EXPECT_EQ(BuildNativeFrame(GetParam().Payload), GetParam().Frame);
}

TEST_P(NativeFrameExamples, ReceiverGathersThePayload) {
    TRequestStats stats;
    TReceiver r;
    r.Reset();
    const Bytes& f = GetParam().Frame;
    for (size_t i = 0; i < f.size(); ++i) {
        const bool done = r.Push(f[i], stats);
        EXPECT_EQ(done, i + 1 == f.size()) << "byte " << i;
    }
    EXPECT_EQ(r.Data(), GetParam().Payload);
    EXPECT_EQ(stats.GetStats().ErrorCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Examples, NativeFrameExamples,
                         ::testing::Values(NativeCase{{0x05}, {0x04, 0x03, 0x05, 0xEA}},
                                           NativeCase{{0x01, 0x03}, {0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2}},
                                           NativeCase{{0x01, 0x04, 0x31, 0x01},
                                                      {0x08, 0x07, 0x01, 0xE6, 0x04, 0x31, 0x01, 0xB0}}));

TEST(NativeFrame, LengthFollowsThePayload) {
    const std::pair<size_t, int> cases[] = {{1, 4}, {2, 6}, {4, 8}, {5, 10}, {15, 23}, {189, 255}, {190, 0}};
    for (auto [l, n] : cases) EXPECT_EQ(NativeFrameLength(l), n) << "payload " << l;
    // Every payload length: 4 for one byte, L + 4 + (L - 2) div 3 up to 189
    // bytes, and no frame for none or more.
    for (size_t l = 0; l <= 300; ++l) {
        const int expected = l == 0 || l > 189 ? 0 : l == 1 ? 4 : static_cast<int>(l + 4 + (l - 2) / 3);
        EXPECT_EQ(NativeFrameLength(l), expected) << "payload " << l;
    }
}

// Every payload size a frame can carry: the layout of its check bytes, and
// the receiver completing it at its last byte, not before, with the payload
// whole.
TEST(NativeFrame, EveryLengthRoundTrips) {
    TRequestStats stats;
    for (size_t l = 1; l <= kMaxNativePayload; ++l) {
        Bytes payload(l);
        for (size_t i = 0; i < l; ++i) payload[i] = static_cast<uint8_t>(i * 37 + l);
        const Bytes frame = BuildNativeFrame(payload);
        ASSERT_EQ(frame.size(), static_cast<size_t>(NativeFrameLength(l)));
        const size_t n = frame.size();
        EXPECT_EQ(frame[0], n);
        EXPECT_EQ(frame[1], n - 1);
        // Payload bytes fill positions 3..N-1 except the multiples of 4; each
        // group of (value + position) sums to zero at its check byte.
        Bytes carried;
        uint8_t sum = 0;
        for (size_t pos = 1; pos <= n; ++pos) {
            sum = static_cast<uint8_t>(sum + frame[pos - 1] + pos);
            if (pos == n || pos % 4 == 0) {
                EXPECT_EQ(sum, 0) << "payload " << l << " position " << pos;
                sum = 0;
            } else if (pos >= 3) {
                carried.push_back(frame[pos - 1]);
            }
        }
        EXPECT_EQ(carried, payload) << "payload " << l;
        EXPECT_NE((n - 1) % 4, 0u) << "two check bytes in a row, payload " << l;

        TReceiver r;
        r.Reset();
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(r.Push(frame[i], stats), i + 1 == n) << "payload " << l << " byte " << i;
        EXPECT_EQ(r.Data(), payload);
    }
    EXPECT_EQ(stats.GetStats().ErrorCount, 0);
}

// The receiver's length rule for every first byte: below 4 it is noise and
// skipped; from 4 on it is the length, and a second byte other than one
// less drops the frame, leaving the receiver ready for the next one.
TEST(NativeFrame, ReceiverLengthRuleForEveryFirstByte) {
    const Bytes valid = {0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2};
    for (int first = 0; first < 256; ++first) {
        TRequestStats stats;
        TReceiver r;
        r.Reset();
        EXPECT_FALSE(r.Push(static_cast<uint8_t>(first), stats));
        EXPECT_EQ(r.Idle(), first < 4) << first;
        if (first >= 4) {
            EXPECT_FALSE(r.Push(static_cast<uint8_t>(first - 2), stats)) << first;
        }
        EXPECT_TRUE(r.Idle()) << first;
        bool done = false;
        for (size_t i = 0; i < valid.size(); ++i) {
            done = r.Push(valid[i], stats);
            ASSERT_EQ(done, i + 1 == valid.size()) << first;
        }
        EXPECT_EQ(r.Data(), (Bytes{0x01, 0x03})) << first;
        EXPECT_EQ(stats.GetStats().ErrorCount, 0) << first;
    }
}

// ---- receiver faults ----

struct ReceiverCase {
    const char* Name;
    Bytes Stream;
    bool Complete;
    Bytes Payload;  // when complete
    int Errors;
};

class ReceiverFaults : public ::testing::TestWithParam<ReceiverCase> {};

TEST_P(ReceiverFaults, Stream) {
    const ReceiverCase& c = GetParam();
    TRequestStats stats;
    TReceiver r;
    r.Reset();
    bool done = false;
    for (uint8_t b : c.Stream) {
        ASSERT_FALSE(done) << "bytes after a complete frame";
        done = r.Push(b, stats);
    }
    EXPECT_EQ(done, c.Complete);
    if (c.Complete) {
        EXPECT_EQ(r.Data(), c.Payload);
    }
    EXPECT_EQ(stats.GetStats().ErrorCount, c.Errors);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceiverFaults,
    ::testing::Values(
        ReceiverCase{"valid", {0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2}, true, {0x01, 0x03}, 0},
        ReceiverCase{"wrong_second_byte", {0x06, 0x04, 0x01, 0xEA, 0x03, 0xF2}, false, {}, 0},
        ReceiverCase{"bad_inner_check_byte", {0x06, 0x05, 0x01, 0xEB, 0x03, 0xF2}, false, {}, 0},
        ReceiverCase{"damaged_payload_byte", {0x06, 0x05, 0x02, 0xEA, 0x03, 0xF2}, false, {}, 0},
        ReceiverCase{"bad_final_check_byte", {0x06, 0x05, 0x01, 0xEA, 0x03, 0xF3}, false, {}, 1},
        ReceiverCase{"damaged_last_payload_byte", {0x06, 0x05, 0x01, 0xEA, 0x04, 0xF2}, false, {}, 1},
        // A dropped frame leaves the receiver idle: the next frame is taken.
        ReceiverCase{
            "resync_after_error", {0x06, 0x04, 0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2}, true, {0x01, 0x03}, 0},
        ReceiverCase{"resync_after_bad_final",
                     {0x04, 0x03, 0x05, 0xEB, 0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2},
                     true,
                     {0x01, 0x03},
                     1},
        // A length byte too small for any frame is skipped, not counted down.
        ReceiverCase{"short_length_skipped",
                     {0x00, 0x01, 0x03, 0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2},
                     true,
                     {0x01, 0x03},
                     0},
        // A noise byte is taken as a length and swallows the frame after it.
        ReceiverCase{"noise_before_frame", {0x55, 0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2}, false, {}, 0},
        ReceiverCase{"truncated", {0x08, 0x07, 0x01, 0xE6, 0x04, 0x31, 0x01}, false, {}, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Receiver, ResetDropsAPartialFrame) {
    TRequestStats stats;
    TReceiver r;
    r.Reset();
    for (uint8_t b : {0x08, 0x07, 0x01, 0xE6}) EXPECT_FALSE(r.Push(b, stats));
    r.Reset();
    bool done = false;
    for (uint8_t b : {0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2}) done = r.Push(b, stats);
    EXPECT_TRUE(done);
    EXPECT_EQ(r.Data(), (Bytes{0x01, 0x03}));
}

TEST(NativePayload, ParametersAndData) {
    auto payload = [](TCommandDescriptor c, Bytes data) {
        TProtoRequest r;
        r.Address = 7;
        r.Command = c;
        if (!data.empty()) r.TxData = std::make_unique<TBlock>(data);
        r.TxLength = static_cast<int32_t>(data.size());
        return BuildNativePayload(r);
    };
    EXPECT_EQ(payload({23, -1, 0}, {}), (Bytes{7, 23}));
    EXPECT_EQ(payload({19, 5, -1}, {}), (Bytes{7, 19, 5}));
    EXPECT_EQ(payload({4, 49, 1}, {}), (Bytes{7, 4, 49, 1}));
    EXPECT_EQ(payload({4, 0x1FF, 0x102}, {}), (Bytes{7, 4, 0xFF, 0x02}));  // low bytes only
    EXPECT_EQ(payload({25, -1, 0}, {1, 2, 3}), (Bytes{7, 25, 1, 2, 3}));
    // Param2 travels only with Param1.
    EXPECT_EQ(payload({30, -1, 9}, {4, 5}), (Bytes{7, 30, 4, 5}));

    // TxLength bounds the data, and so does the block itself.
    TProtoRequest r;
    r.Address = 1;
    r.Command = {6, 50, 3};
    r.TxData = std::make_unique<TBlock>(Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    r.TxLength = 3;
    EXPECT_EQ(BuildNativePayload(r), (Bytes{1, 6, 50, 3, 1, 2, 3}));
    r.TxLength = 40;
    EXPECT_EQ(BuildNativePayload(r).size(), 12u);
}

// ---- ModBus request frames ----

TEST(ModbusCrc, Examples) {
    struct {
        Bytes Data;
        uint8_t Lo, Hi;
    } cases[] = {{{0x01, 0x03, 0x00, 0x20, 0x00, 0x1F}, 0x05, 0xC8},
                 {{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, 0xC5, 0xCD}};
    for (auto& c : cases) {
        Bytes f = c.Data;
        AppendCrc(f);
        ASSERT_EQ(f.size(), c.Data.size() + 2);
        EXPECT_EQ(f[f.size() - 2], c.Lo);
        EXPECT_EQ(f[f.size() - 1], c.Hi);
    }
    EXPECT_EQ(Crc16(Bytes{}), 0xFFFF);
}

// The CRC rule as ModBus defines it, from outside the code: the catalogue's
// check value of CRC-16/MODBUS over "123456789" (start value 0xFFFF, the
// reflected polynomial 0xA001, no final inversion), and every length of a
// byte stream against a table-driven computation of the same rule.
TEST(ModbusCrc, EveryCaseOfTheRule) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    // Start value 0 would give 0xBB3D (CRC-16/ARC), a final inversion 0xB4C8.

    uint16_t table[256];
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i);
        for (int k = 0; k < 8; ++k) c = static_cast<uint16_t>(c & 1 ? (c >> 1) ^ 0xA001 : c >> 1);
        table[i] = c;
    }
    Bytes data;
    uint32_t seed = 12345;
    for (size_t length = 0; length <= 300; ++length) {
        uint16_t expected = 0xFFFF;
        for (uint8_t b : data)
            expected = static_cast<uint16_t>((expected >> 8) ^ table[(expected ^ b) & 0xFF]);
        ASSERT_EQ(Crc16(data), expected) << "length " << length;
        // The CRC travels low byte first, after the bytes it covers.
        Bytes framed = data;
        AppendCrc(framed);
        ASSERT_EQ(framed.size(), length + 2);
        EXPECT_EQ(framed[length], expected & 0xFF);
        EXPECT_EQ(framed[length + 1], expected >> 8);
        seed = seed * 1103515245 + 12345;
        data.push_back(static_cast<uint8_t>(seed >> 16));
    }
}

TEST(ModbusRequest, ReadAndWriteLayout) {
    const auto block = TranslateCommand(kKindTovikModbus, {CmdReadUst, -1, 0}, nullptr, 0);
    ASSERT_TRUE(block && block->size() == 1);
    EXPECT_EQ(BuildModbusRequest(1, block->front()), (Bytes{0x01, 0x03, 0x00, 0x20, 0x00, 0x1F, 0x05, 0xC8}));

    // The count byte of a write carries the number of registers.
    const uint8_t t[6] = {14, 5, 9, 7, 3, 26};
    const auto clock = TranslateCommand(kKindTovikMModbus, {CmdSetClock, -1, 0}, t, 6);
    ASSERT_TRUE(clock && clock->size() == 1);
    Bytes expected{0x05, 0x10, 0x00, 0x70, 0x00, 0x04, 0x04, 0x05, 0x0E, 0x00, 0x09, 0x03, 0x07, 0x00, 0x1A};
    AppendCrc(expected);
    EXPECT_EQ(BuildModbusRequest(5, clock->front()), expected);
}

// ---- translation table ----

struct Step {
    uint8_t Function;
    uint16_t Register;
    uint16_t Count;
    std::vector<uint16_t> Values;
};

struct TranslationCase {
    const char* Name;
    uint8_t Kind;
    TCommandDescriptor Command;
    Bytes Data;
    std::vector<Step> Steps;
};

class Translation : public ::testing::TestWithParam<TranslationCase> {};

TEST_P(Translation, Steps) {
    const auto& c = GetParam();
    const auto steps = TranslateCommand(c.Kind, c.Command, c.Data.data(), c.Data.size());
    ASSERT_TRUE(steps.has_value());
    ASSERT_EQ(steps->size(), c.Steps.size());
    for (size_t i = 0; i < c.Steps.size(); ++i) {
        const TModbusStep& s = (*steps)[i];
        EXPECT_EQ(s.Function, c.Steps[i].Function) << "step " << i;
        EXPECT_EQ(s.Register, c.Steps[i].Register) << "step " << i;
        EXPECT_EQ(s.Count, c.Steps[i].Count) << "step " << i;
        EXPECT_EQ(s.Values, c.Steps[i].Values) << "step " << i;
    }
}

constexpr uint8_t K1 = kKindTovikModbus;
constexpr uint8_t K3 = kKindTovikMModbus;
constexpr TCommandDescriptor P(uint8_t code) {
    return {code, -1, 0};
}

INSTANTIATE_TEST_SUITE_P(
    Table, Translation,
    ::testing::Values(
        TranslationCase{"ping", K1, P(0), {}, {{3, 0, 1, {}}}},
        TranslationCase{"start", K1, P(1), {}, {{16, 16, 1, {1}}}},
        TranslationCase{"stop", K3, P(2), {}, {{16, 16, 1, {0}}}},
        TranslationCase{"ust_tovik", K1, P(3), {}, {{3, 32, 31, {}}}},
        TranslationCase{"ust_tovikm", K3, P(3), {}, {{3, 32, 32, {}}}},
        TranslationCase{"read_ipor", K1, {4, 0, 4}, {}, {{3, 32, 2, {}}}},
        TranslationCase{"read_ktr_tovik", K1, {4, 24, 4}, {}, {{3, 44, 2, {}}}},
        TranslationCase{"read_ktr_tovikm", K3, {4, 24, 4}, {}, {{3, 44, 1, {}}}},
        TranslationCase{"read_tps", K3, {4, 55, 2}, {}, {{3, 62, 1, {}}}},
        TranslationCase{"read_model", K1, {4, 49, 1}, {}, {{3, 58, 1, {}}, {3, 6, 1, {}}, {3, 17, 1, {}}}},
        TranslationCase{
            "write_ipor", K1, {6, 0, 4}, {0x78, 0x56, 0x34, 0x12}, {{16, 32, 2, {0x5678, 0x1234}}}},
        TranslationCase{
            "write_ktr_tovik", K1, {6, 24, 4}, {0x10, 0x00, 0x02, 0x00}, {{16, 44, 2, {0x10, 0x02}}}},
        TranslationCase{"write_ktr_tovikm", K3, {6, 24, 4}, {0x10, 0x01, 0x02, 0x03}, {{16, 44, 1, {0x110}}}},
        TranslationCase{"write_tmin", K3, {6, 28, 2}, {0x34, 0x12}, {{16, 46, 1, {0x1234}}}},
        TranslationCase{"write_auto", K1, {6, 48, 1}, {1, 0xEE}, {{16, 57, 1, {1}}}},
        TranslationCase{"write_date", K1, {6, 50, 3}, {7, 3, 26, 0xEE}, {{16, 59, 2, {0x0307, 26}}}},
        TranslationCase{"write_serial", K3, {6, 53, 2}, {0x39, 0x30}, {{16, 61, 1, {0x3039}}}},
        TranslationCase{"timers", K1, P(7), {}, {{3, 352, 8, {}}}},
        TranslationCase{"alarm_count", K3, P(11), {}, {{3, 7, 1, {}}}},
        TranslationCase{"alarm", K1, {12, 4, -1}, {}, {{16, 128, 1, {4}}, {3, 129, 10, {}}}},
        TranslationCase{"clear_alarms", K1, P(13), {}, {{16, 256, 1, {1}}}},
        TranslationCase{"currents", K3, P(14), {}, {{3, 0, 6, {}}}},
        TranslationCase{"imax", K1, P(17), {}, {{3, 8, 2, {}}}},
        TranslationCase{
            "read_task", K1, {19, 9, -1}, {}, {{3, 304, 1, {}}, {16, 304, 1, {9}}, {3, 305, 6, {}}}},
        TranslationCase{"write_task",
                        K3,
                        {20, 2, -1},
                        {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                        {{16, 304, 1, {2}},
                         {16, 305, 6, {0x0201, 0x0403, 0x0605, 0x0807, 0x0A09, 0x0C0B}},
                         {16, 311, 1, {0}}}},
        TranslationCase{"counters", K1, P(21), {}, {{3, 384, 7, {}}}},
        TranslationCase{"reset_counters", K1, P(22), Bytes(14, 0), {{16, 256, 1, {2}}}},
        TranslationCase{"state", K3, P(23), {}, {{3, 6, 1, {}}}},
        TranslationCase{"clock", K1, P(24), {}, {{3, 112, 4, {}}}},
        TranslationCase{
            "set_clock", K1, P(25), {14, 5, 9, 7, 3, 26}, {{16, 112, 4, {0x050E, 9, 0x0307, 26}}}},
        TranslationCase{"delete_task", K1, P(30), {3, 8}, {{16, 304, 1, {3}}, {16, 311, 1, {2}}}},
        TranslationCase{"add_task",
                        K3,
                        P(31),
                        {5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                        {{16, 305, 6, {0x0201, 0x0403, 0x0605, 0x0807, 0x0A09, 0x0C0B}}, {16, 311, 1, {1}}}},
        TranslationCase{"clear_tasks", K1, P(32), {}, {{16, 311, 1, {3}}}},
        TranslationCase{"statistics", K3, P(33), {}, {{3, 400, 12, {}}}},
        TranslationCase{"write_tots", K3, {35, 27, 1}, {40}, {{16, 45, 1, {40}}}},
        TranslationCase{"write_din_protocol", K3, {37, 26, 2}, {3, 0}, {{16, 63, 1, {3}}}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Translation, CommandsWithoutTranslation) {
    std::vector<int> none = {5, 8, 9, 10, 15, 16, 18, 26, 27, 28, 29, 34, 36, 38, 100, 255};
    for (uint8_t kind : {K1, K3})
        for (int code : none)
            EXPECT_FALSE(TranslateCommand(kind, {static_cast<uint8_t>(code), -1, 0}, nullptr, 0))
                << "kind " << int(kind) << " command " << code;
    // Native kinds and unknown kinds have no ModBus steps at all.
    for (uint8_t kind : {0, 2, 4, 255}) EXPECT_FALSE(TranslateCommand(kind, P(23), nullptr, 0));
}

TEST(Translation, UnlistedOffsetsAndMissingInputFail) {
    const uint8_t data[8] = {};
    for (int offset : {-1, 1, 2, 25, 26, 27, 45, 51, 52, 54, 56, 57, 255})
        for (uint8_t kind : {K1, K3}) {
            EXPECT_FALSE(TranslateCommand(kind, {4, offset, 1}, nullptr, 0)) << offset;
            EXPECT_FALSE(TranslateCommand(kind, {6, offset, 1}, data, 8)) << offset;
        }
    // Writes without the bytes they carry.
    EXPECT_FALSE(TranslateCommand(K1, {6, 0, 4}, data, 3));
    EXPECT_FALSE(TranslateCommand(K1, {6, 50, 3}, data, 2));
    EXPECT_FALSE(TranslateCommand(K1, {20, 1, -1}, data, 8));
    EXPECT_FALSE(TranslateCommand(K1, P(25), data, 5));
    EXPECT_FALSE(TranslateCommand(K1, P(31), data, 8));
    EXPECT_FALSE(TranslateCommand(K3, {37, 26, 2}, data, 1));
    EXPECT_FALSE(TranslateCommand(K3, P(30), nullptr, 0));
    // Indexed commands without their index.
    EXPECT_FALSE(TranslateCommand(K1, {12, -1, 0}, nullptr, 0));
    EXPECT_FALSE(TranslateCommand(K1, {19, -1, 0}, nullptr, 0));
}

TEST(UstRegisterMap, EveryListedOffset) {
    const int offsets[] = {0,  4,  8,  12, 16, 20, 24, 28, 30, 32, 34, 36,
                           38, 40, 42, 44, 46, 47, 48, 49, 50, 53, 55};
    const int regs[] = {32, 34, 36, 38, 40, 42, 44, 46, 47, 48, 49, 50,
                        51, 52, 53, 54, 55, 56, 57, 58, 59, 61, 62};
    const int counts[] = {2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1};
    for (size_t i = 0; i < std::size(offsets); ++i)
        for (uint8_t kind : {K1, K3}) {
            const auto r = UstRegisters(kind, offsets[i]);
            ASSERT_TRUE(r) << offsets[i];
            EXPECT_EQ(r->Register, regs[i]) << offsets[i];
            const int count = offsets[i] == 24 && kind == K3 ? 1 : counts[i];
            EXPECT_EQ(r->Count, count) << offsets[i] << " kind " << int(kind);
        }
}

// ---- setpoint block fix-up ----

// The relay's register image of a setpoint block, as little-endian words.
Bytes RegisterImage(uint8_t kind, const Bytes& block) {
    Bytes w(kind == K1 ? 62 : 64, 0);
    std::copy(block.begin(), block.begin() + 46, w.begin());
    if (kind == K3) {
        w[26] = block[27];  // register 45: Tотс
        w[27] = 0;
        w[62] = block[26];  // register 63: discrete input protocol
    }
    w[46] = block[46];
    w[48] = block[47];
    w[50] = block[48];
    w[52] = block[49];
    w[54] = block[50];
    w[55] = block[51];
    w[56] = block[52];
    w[58] = block[53];
    w[59] = block[54];
    w[60] = block[55];
    w[61] = block[56];
    return w;
}

TEST(SetpointFixup, BothModbusKindsGiveTheDeviceBlock) {
    Bytes block(kSetpointBlockSize);
    std::iota(block.begin(), block.end(), uint8_t{100});
    for (uint8_t kind : {K1, K3}) {
        const auto fixed = FixupSetpointBlock(kind, RegisterImage(kind, block));
        ASSERT_TRUE(fixed) << int(kind);
        EXPECT_EQ(*fixed, block) << "kind " << int(kind);
    }
}

TEST(SetpointFixup, TovikMItemsLandInTheRatioField) {
    Bytes w(64, 0);
    w[24] = 0x10;  // register 44: ratio 16
    w[26] = 40;    // register 45: Tотс
    w[62] = 3;     // register 63: discrete input protocol
    w[52] = 0x21;  // register 58: model
    w[53] = 0xEE;  // its high byte is dropped
    const auto m = FixupSetpointBlock(K3, w);
    ASSERT_TRUE(m);
    EXPECT_EQ((*m)[24], 0x10);
    EXPECT_EQ((*m)[25], 0);
    EXPECT_EQ((*m)[26], 3);
    EXPECT_EQ((*m)[27], 40);
    EXPECT_EQ((*m)[49], 0x21);

    // On Tovik bytes 24 to 27 stay the 32-bit ratio.
    Bytes t(62, 0);
    t[24] = 0x78;
    t[25] = 0x56;
    t[26] = 0x34;
    t[27] = 0x12;
    const auto b = FixupSetpointBlock(K1, t);
    ASSERT_TRUE(b);
    EXPECT_EQ((Bytes{b->begin() + 24, b->begin() + 28}), (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST(SetpointFixup, ShortRegisterImageIsRefused) {
    EXPECT_FALSE(FixupSetpointBlock(K1, Bytes(61, 0)));
    EXPECT_FALSE(FixupSetpointBlock(K3, Bytes(62, 0)));  // a Tovik-sized image from a TovikM
    EXPECT_FALSE(FixupSetpointBlock(0, Bytes(64, 0)));
    EXPECT_TRUE(FixupSetpointBlock(K3, Bytes(64, 0)));
}

// ---- placing step replies ----

TEST(PlaceStepReply, ReshapesAndBounds) {
    auto place = [](TModbusStep s, Bytes data, size_t rxLen) {
        Bytes rx(rxLen + 2, 0xAA);  // two guard bytes past RxLength
        const bool ok = PlaceStepReply(K1, s, data, rx.data(), static_cast<int32_t>(rxLen));
        return std::make_pair(ok, rx);
    };
    const auto clock = TranslateCommand(K1, P(24), nullptr, 0)->front();
    auto [ok1, rx1] = place(clock, {14, 5, 9, 0, 7, 3, 26, 0}, 6);
    EXPECT_TRUE(ok1);
    EXPECT_EQ(rx1, (Bytes{14, 5, 9, 7, 3, 26, 0xAA, 0xAA}));

    const auto state = TranslateCommand(K1, P(23), nullptr, 0)->front();
    auto [ok2, rx2] = place(state, {0x07, 0x03}, 4);
    EXPECT_TRUE(ok2);
    EXPECT_EQ(rx2, (Bytes{0xAA, 0xAA, 0xAA, 0x07, 0xAA, 0xAA}));

    const auto model = *TranslateCommand(K1, {4, 49, 1}, nullptr, 0);
    auto [ok3, rx3] = place(model[1], {0x05, 0x02}, 8);  // only bit 1 of the high byte
    EXPECT_TRUE(ok3);
    EXPECT_EQ(rx3[1], 0);
    EXPECT_EQ(rx3[2], 1);

    // Cut to RxLength: 20 bytes of an alarm record into 19.
    const auto alarm = (*TranslateCommand(K1, {12, 0, -1}, nullptr, 0))[1];
    Bytes twenty(20);
    std::iota(twenty.begin(), twenty.end(), uint8_t{1});
    auto [ok4, rx4] = place(alarm, twenty, 19);
    EXPECT_TRUE(ok4);
    EXPECT_EQ(rx4[18], 19);
    EXPECT_EQ(rx4[19], 0xAA);

    // Fewer bytes than registers asked for.
    auto [ok5, rx5] = place(alarm, Bytes(18, 1), 19);
    EXPECT_FALSE(ok5);
    EXPECT_EQ(rx5, Bytes(21, 0xAA));

    // A reply block too small for a fixed position is left alone there.
    auto [ok6, rx6] = place(state, {0x07, 0x03}, 2);
    EXPECT_TRUE(ok6);
    EXPECT_EQ(rx6, Bytes(4, 0xAA));
}

}  // namespace
}  // namespace tovik
