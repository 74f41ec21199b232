#include "tools/sim/SimWire.h"

#include <array>

namespace tovik::sim {

// ---- CRC ----

namespace {

// The CRC of each byte value run through eight shifts from 0.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned crc = v;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xA001u : crc >> 1;
        table[v] = static_cast<uint16_t>(crc);
    }
    return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint16_t ModbusCrc(const uint8_t* data, size_t count) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

void AppendModbusCrc(std::vector<uint8_t>& frame) {
    const uint16_t crc = ModbusCrc(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool ModbusCrcMatches(const std::vector<uint8_t>& frame) {
    if (frame.size() < 3) return false;
    const size_t n = frame.size() - 2;
    return ModbusCrc(frame.data(), n) == (frame[n] | frame[n + 1] << 8);
}

// ---- Native frames ----

// Position 1 holds the length, 2 the length less one; payload bytes fill
// positions 3, 5, 6, 7, 9, ... and every multiple of 4 between them is a
// check byte; the frame ends with one check byte right after the payload.

size_t NativeFrameSize(size_t payload) {
    if (payload == 0 || payload > kMaxNativePayload) return 0;
    size_t position = 2;
    for (size_t placed = 0; placed < payload; ++placed) {
        ++position;
        if (position % 4 == 0) ++position;
    }
    return position + 1;
}

std::vector<uint8_t> MakeNativeFrame(const std::vector<uint8_t>& payload) {
    const size_t n = NativeFrameSize(payload.size());
    if (n == 0) return {};
    std::vector<uint8_t> frame(n);
    // Each check byte brings the sum of value + position over its group to 0.
    unsigned sum = 0;
    size_t next = 0;
    for (size_t position = 1; position <= n; ++position) {
        uint8_t& b = frame[position - 1];
        if (position == 1) {
            b = static_cast<uint8_t>(n);
        } else if (position == 2) {
            b = static_cast<uint8_t>(n - 1);
        } else if (position % 4 == 0 || position == n) {
            b = static_cast<uint8_t>(256 - (sum + position) % 256);
            sum = 0;
            continue;
        } else {
            b = payload[next++];
        }
        sum += b + position;
    }
    return frame;
}

std::optional<std::vector<uint8_t>> ParseNativeFrame(const std::vector<uint8_t>& frame, std::string& why) {
    const size_t n = frame.size();
    if (n < 4 || frame[0] != n) {
        why = "damaged frame: length byte";
        return std::nullopt;
    }
    if (frame[1] != n - 1) {
        why = "damaged frame: second byte";
        return std::nullopt;
    }
    std::vector<uint8_t> payload;
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const size_t position = i + 1;
        sum = static_cast<uint8_t>(sum + frame[i] + position);
        if (position <= 2) continue;
        if (position % 4 == 0 || position == n) {
            if (sum != 0) {
                why = "damaged frame: check byte at position " + std::to_string(position);
                return std::nullopt;
            }
            continue;
        }
        payload.push_back(frame[i]);
    }
    // Check bytes never follow each other: a length no sender makes is damage.
    if (payload.empty() || NativeFrameSize(payload.size()) != n) {
        why = "damaged frame: impossible length";
        return std::nullopt;
    }
    return payload;
}

size_t NativeParamCount(uint8_t command) {
    switch (command) {
        case 4:   // read an item: offset, size
        case 6:   // write an item: offset, size
        case 34:  // items 23 and 24 of "ТовикМ"
        case 35:
        case 36:
        case 37:
            return 2;
        case 12:  // alarm record index
        case 19:  // task entry index
        case 20:
            return 1;
        default:
            return 0;
    }
}

// ---- ModBus requests and replies ----

namespace {
uint16_t Word(const std::vector<uint8_t>& f, size_t at) {
    return static_cast<uint16_t>(f[at] << 8 | f[at + 1]);
}
}  // namespace

uint8_t DecodeModbusRequest(const std::vector<uint8_t>& frame, TModbusRequest& request, std::string& note) {
    request = {};
    if (frame.size() < 4) {
        note = "request too short";
        return kIllegalValue;
    }
    request.Address = frame[0];
    request.Function = frame[1];
    if (request.Function != kReadHolding && request.Function != kWriteMultiple) {
        note = "function " + std::to_string(request.Function) + " not supported";
        return kIllegalFunction;
    }
    // Address, function, first register, count, CRC.
    if (frame.size() < 8) {
        note = "request too short";
        return kIllegalValue;
    }
    request.First = Word(frame, 2);
    request.Count = Word(frame, 4);
    if (request.Function == kReadHolding) {
        if (frame.size() != 8) {
            note = "read request of " + std::to_string(frame.size()) + " bytes";
            return kIllegalValue;
        }
        return 0;
    }
    // The count byte carries the number of registers, not of data bytes.
    if (frame.size() != 9u + 2u * request.Count || frame[6] != request.Count) {
        note =
            "count byte " + std::to_string(frame[6]) + " for " + std::to_string(request.Count) + " registers";
        return kIllegalValue;
    }
    for (size_t i = 0; i < request.Count; ++i) request.Values.push_back(Word(frame, 7 + 2 * i));
    return 0;
}

long ModbusRequestSize(const std::vector<uint8_t>& buffer) {
    if (buffer.size() < 2) return 0;
    if (buffer[1] == kReadHolding) return 8;
    if (buffer[1] == kWriteMultiple) {
        if (buffer.size() < 7) return 0;
        const long registers = buffer[4] << 8 | buffer[5];
        return registers <= kMaxWriteRegisters ? 9 + 2 * registers : -1;
    }
    return -1;
}

std::vector<uint8_t> ModbusReadReply(uint8_t address, const std::vector<uint16_t>& values) {
    std::vector<uint8_t> reply = {address, kReadHolding, static_cast<uint8_t>(2 * values.size())};
    for (uint16_t v : values) {
        reply.push_back(static_cast<uint8_t>(v >> 8));
        reply.push_back(static_cast<uint8_t>(v));
    }
    return reply;
}

std::vector<uint8_t> ModbusWriteReply(uint8_t address, uint16_t first, uint16_t count) {
    return {address,
            kWriteMultiple,
            static_cast<uint8_t>(first >> 8),
            static_cast<uint8_t>(first),
            static_cast<uint8_t>(count >> 8),
            static_cast<uint8_t>(count)};
}

std::vector<uint8_t> ModbusExceptionReply(uint8_t address, uint8_t function, uint8_t code) {
    return {address, static_cast<uint8_t>(function | kExceptionFlag), code};
}

// ---- Setpoint items ----

namespace {

// Rows 0..22 in memory order of their rows, then 23 and 24. Row 6 (the
// transformation ratio) has two registers on "Товик ModBus" and one on
// "ТовикМ ModBus", whose register 45 holds item 23.
constexpr TSetpointItem kItems[25] = {
    {0, 0, 4, 2, 32},   {1, 4, 4, 2, 34},   {2, 8, 4, 2, 36},   {3, 12, 4, 2, 38},  {4, 16, 4, 2, 40},
    {5, 20, 4, 2, 42},  {6, 24, 4, 2, 44},  {7, 28, 2, 1, 46},  {8, 30, 2, 1, 47},  {9, 32, 2, 1, 48},
    {10, 34, 2, 1, 49}, {11, 36, 2, 1, 50}, {12, 38, 2, 1, 51}, {13, 40, 2, 1, 52}, {14, 42, 2, 1, 53},
    {15, 44, 2, 1, 54}, {16, 46, 1, 1, 55}, {17, 47, 1, 1, 56}, {18, 48, 1, 1, 57}, {19, 49, 1, 1, 58},
    {20, 50, 3, 2, 59}, {21, 53, 2, 1, 61}, {22, 55, 2, 1, 62}, {23, 27, 1, 1, 45}, {24, 26, 2, 1, 63},
};
constexpr TSetpointItem kRatioOneRegister = {6, 24, 2, 1, 44};

}  // namespace

const TSetpointItem* SetpointItemAtOffset(uint8_t kind, uint8_t offset) {
    for (size_t i = 0; i <= 22; ++i) {
        if (kItems[i].Offset != offset) continue;
        if (i == 22 && !IsTovikM(kind)) return nullptr;
        return &kItems[i];
    }
    return nullptr;
}

const TSetpointItem* SetpointItemAtRegister(uint8_t kind, uint16_t reg) {
    for (size_t i = 0; i < 25; ++i) {
        if (kItems[i].Register != reg) continue;
        if (i == 22 && !IsTovikM(kind)) return nullptr;
        if ((i == 23 || i == 24) && kind != 3) return nullptr;
        if (i == 6 && kind == 3) return &kRatioOneRegister;
        return &kItems[i];
    }
    return nullptr;
}

}  // namespace tovik::sim
