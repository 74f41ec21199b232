#include "protocol/Commands.h"

#include <algorithm>

#include "protocol/Frame.h"

namespace tovik {

namespace {

struct TUstRegisterRow {
    uint8_t Offset;
    TUstRegisters Registers;
};

// Offset 24 is kind-dependent and handled apart.
constexpr TUstRegisterRow kUstRegisterRows[] = {
    {0, {32, 2, 4}},  {4, {34, 2, 4}},  {8, {36, 2, 4}},  {12, {38, 2, 4}}, {16, {40, 2, 4}},
    {20, {42, 2, 4}}, {28, {46, 1, 2}}, {30, {47, 1, 2}}, {32, {48, 1, 2}}, {34, {49, 1, 2}},
    {36, {50, 1, 2}}, {38, {51, 1, 2}}, {40, {52, 1, 2}}, {42, {53, 1, 2}}, {44, {54, 1, 2}},
    {46, {55, 1, 1}}, {47, {56, 1, 1}}, {48, {57, 1, 1}}, {49, {58, 1, 1}}, {50, {59, 2, 3}},
    {53, {61, 1, 2}}, {55, {62, 1, 2}},
};

// Registers holding the device state (low byte) and the change marks (bits
// 0 and 1 of the high byte), and the variant byte.
constexpr uint16_t kRegState = 6;
constexpr uint16_t kRegVariant = 17;

TModbusStep Read(uint16_t reg, uint16_t count, TStepPlace place = TStepPlace::Copy, uint8_t dest = 0) {
    TModbusStep s;
    s.Function = kModbusRead;
    s.Register = reg;
    s.Count = count;
    s.Place = place;
    s.Dest = dest;
    return s;
}

TModbusStep Write(uint16_t reg, std::vector<uint16_t> values) {
    TModbusStep s;
    s.Function = kModbusWrite;
    s.Register = reg;
    s.Count = static_cast<uint16_t>(values.size());
    s.Values = std::move(values);
    return s;
}

// The data bytes as little-endian 16-bit words; bytes past `used` count as 0.
std::vector<uint16_t> Words(const uint8_t* data, size_t used, size_t words) {
    std::vector<uint16_t> v(words, 0);
    for (size_t i = 0; i < used && i / 2 < words; ++i)
        v[i / 2] = static_cast<uint16_t>(v[i / 2] | data[i] << (i % 2 ? 8 : 0));
    return v;
}

}  // namespace

std::optional<TUstRegisters> UstRegisters(uint8_t kind, int32_t offset) {
    if (!IsModbusKind(kind)) return std::nullopt;
    if (offset == kUstOffsetKtr) {
        // The transformation ratio is 32 bits on Tovik; on TovikM its high
        // word holds items 23 and 24, which live in registers of their own.
        if (kind == kKindTovikModbus) return TUstRegisters{44, 2, 4};
        return TUstRegisters{44, 1, 2};
    }
    for (const auto& row : kUstRegisterRows)
        if (row.Offset == offset) return row.Registers;
    return std::nullopt;
}

std::optional<std::vector<TModbusStep>> TranslateCommand(uint8_t kind, const TCommandDescriptor& command,
                                                         const uint8_t* data, size_t length) {
    if (!IsModbusKind(kind)) return std::nullopt;
    if (!data) length = 0;
    const bool hasIndex = command.Param1 != -1;
    const auto index = static_cast<uint16_t>(command.Param1 & 0xFF);  // the byte the native frame carries
    std::vector<TModbusStep> s;
    switch (command.Code) {
        case CmdPing:
            s = {Read(0, 1, TStepPlace::None)};
            break;
        case CmdStart:
            s = {Write(16, {1})};
            break;
        case CmdStop:
            s = {Write(16, {0})};
            break;
        case CmdReadUst:
            s = {Read(kRegUstFirst, kind == kKindTovikModbus ? 31 : 32, TStepPlace::SetpointBlock)};
            break;
        case CmdReadCell: {
            const auto regs = UstRegisters(kind, command.Param1);
            if (!regs) return std::nullopt;
            if (command.Param1 == kUstOffsetModel) {
                // The model item is read together with the change marks and
                // the variant byte, as the native reply carries them.
                s = {Read(regs->Register, 1, TStepPlace::LowByte, 0),
                     Read(kRegState, 1, TStepPlace::ModelFlags),
                     Read(kRegVariant, 1, TStepPlace::LowByte, 3)};
            } else {
                s = {Read(regs->Register, regs->Count)};
            }
            break;
        }
        case CmdWriteCell: {
            const auto regs = UstRegisters(kind, command.Param1);
            if (!regs || length < regs->DataBytes) return std::nullopt;
            s = {Write(regs->Register, Words(data, regs->DataBytes, regs->Count))};
            break;
        }
        case CmdReadTimers:
            s = {Read(352, 8)};
            break;
        case CmdReadAlarmCount:
            s = {Read(7, 1)};
            break;
        case CmdReadAlarm:
            if (!hasIndex) return std::nullopt;
            s = {Write(128, {index}), Read(129, 10)};
            break;
        case CmdClearAlarms:
            s = {Write(256, {1})};
            break;
        case CmdReadCurrents:
            s = {Read(0, 6)};
            break;
        case CmdReadImax:
            s = {Read(8, 2)};
            break;
        case CmdReadTask:
            if (!hasIndex) return std::nullopt;
            s = {Read(304, 1, TStepPlace::Copy, static_cast<uint8_t>(kTaskCountByte)), Write(304, {index}),
                 Read(305, 6)};
            break;
        case CmdWriteTask:
            if (!hasIndex || length < kTaskEntrySize) return std::nullopt;
            s = {Write(304, {index}), Write(305, Words(data, kTaskEntrySize, 6)), Write(311, {0})};
            break;
        case CmdReadAlarmCounters:
            s = {Read(384, 7)};
            break;
        case CmdResetAlarmCounters:
            s = {Write(256, {2})};
            break;
        case CmdReadState:
            s = {Read(kRegState, 1, TStepPlace::LowByte, static_cast<uint8_t>(kStateCodeByte))};
            break;
        case CmdReadClock:
            s = {Read(112, 4, TStepPlace::DropFourth)};
            break;
        case CmdSetClock:
            if (length < kDeviceTimeSize) return std::nullopt;
            s = {Write(112, {static_cast<uint16_t>(data[0] | data[1] << 8), data[2],
                             static_cast<uint16_t>(data[3] | data[4] << 8), data[5]})};
            break;
        case CmdDeleteTask:
            if (length < 1) return std::nullopt;
            s = {Write(304, {data[0]}), Write(311, {2})};
            break;
        case CmdAddTask:
            if (length < 1 + kTaskEntrySize) return std::nullopt;
            s = {Write(305, Words(data + 1, kTaskEntrySize, 6)), Write(311, {1})};
            break;
        case CmdClearTasks:
            s = {Write(311, {3})};
            break;
        case CmdReadStatistics:
            s = {Read(400, 12)};
            break;
        case CmdWriteTots:
            if (length < 1) return std::nullopt;
            s = {Write(kRegTots, {data[0]})};
            break;
        case CmdWriteDinProtocol:
            if (length < 2) return std::nullopt;
            s = {Write(kRegDinProtocol, {static_cast<uint16_t>(data[0] | data[1] << 8)})};
            break;
        default:
            return std::nullopt;
    }
    return s;
}

TBuff BuildModbusRequest(uint8_t address, const TModbusStep& step) {
    if (step.Function == kModbusWrite) return ModbusWriteRequest(address, step.Register, step.Values);
    return ModbusReadRequest(address, step.Register, step.Count);
}

std::optional<TBuff> FixupSetpointBlock(uint8_t kind, const TBuff& words) {
    if (!IsModbusKind(kind)) return std::nullopt;
    const size_t expected = kind == kKindTovikModbus ? 62 : 64;
    if (words.size() < expected) return std::nullopt;
    TBuff b(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(expected));
    if (kind == kKindTovikMModbus) {
        // Items 23 (register 45) and 24 (register 63) go into the high half
        // of the transformation ratio field, where the TovikM keeps them.
        b[kUstOffsetTots] = b[26];
        b[kUstOffsetDinProtocol] = b[62];
    }
    // The high bytes of the one-byte items 16 to 19 and the date's fourth byte.
    for (size_t pos : {57, 53, 51, 49, 47}) b.erase(b.begin() + static_cast<std::ptrdiff_t>(pos));
    b.resize(kSetpointBlockSize);
    return b;
}

bool PlaceStepReply(uint8_t kind, const TModbusStep& step, const TBuff& data, uint8_t* rx, int32_t rxLength,
                    size_t* end) {
    size_t placed = 0;
    if (end) *end = 0;
    if (step.Function != kModbusRead) return true;
    if (data.size() < size_t{2} * step.Count) return false;
    const size_t cap = rx && rxLength > 0 ? static_cast<size_t>(rxLength) : 0;
    auto put = [&](size_t at, uint8_t v) {
        if (at >= cap) return;
        rx[at] = v;
        placed = std::max(placed, at + 1);
        if (end) *end = placed;
    };
    auto copy = [&](const uint8_t* from, size_t n, size_t at) {
        for (size_t i = 0; i < n; ++i) put(at + i, from[i]);
    };
    switch (step.Place) {
        case TStepPlace::None:
            break;
        case TStepPlace::Copy:
            copy(data.data(), data.size(), step.Dest);
            break;
        case TStepPlace::LowByte:
            put(step.Dest, data[0]);
            break;
        case TStepPlace::ModelFlags:
            put(1, data[1] & 1);
            put(2, (data[1] >> 1) & 1);
            break;
        case TStepPlace::DropFourth: {
            TBuff t = data;
            t.erase(t.begin() + 3);
            copy(t.data(), t.size(), 0);
            break;
        }
        case TStepPlace::SetpointBlock: {
            const auto block = FixupSetpointBlock(kind, data);
            if (!block) return false;
            copy(block->data(), block->size(), 0);
            break;
        }
    }
    return true;
}

}  // namespace tovik
