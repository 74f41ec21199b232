#pragma once
// The native command set every caller speaks, the relay's setpoint memory
// layout, and the translation of each native command into ModBus holding
// register exchanges for the ModBus device kinds.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/DeviceTypes.h"
#include "ports/Request.h"
#include "protocol/Modbus.h"

namespace tovik {

// ---- native commands ----

enum TCommandCode : uint8_t {
    CmdPing = 0,  // ModBus translation only
    CmdStart = 1,
    CmdStop = 2,
    CmdReadUst = 3,
    CmdReadCell = 4,
    CmdWriteCell = 6,
    CmdReadTimers = 7,
    CmdReadAlarmCount = 11,
    CmdReadAlarm = 12,
    CmdClearAlarms = 13,
    CmdReadCurrents = 14,
    CmdReadImax = 17,
    CmdReadTask = 19,
    CmdWriteTask = 20,
    CmdReadAlarmCounters = 21,
    CmdResetAlarmCounters = 22,
    CmdReadState = 23,
    CmdReadClock = 24,
    CmdSetClock = 25,
    CmdReadCalInfo = 26,
    CmdDeleteTask = 30,
    CmdAddTask = 31,
    CmdClearTasks = 32,
    CmdReadStatistics = 33,
    CmdReadTots = 34,
    CmdWriteTots = 35,
    CmdReadDinProtocol = 36,
    CmdWriteDinProtocol = 37,
};

// Fixed positions inside reply blocks.
inline constexpr size_t kTaskIndexByte = 12;     // command 19: the entry index
inline constexpr size_t kTaskCountByte = 13;     // command 19: number of entries
inline constexpr size_t kTaskCapacityByte = 14;  // command 19: capacity of the task log
inline constexpr size_t kStateCodeByte = 3;      // command 23: the device state code

// ---- SetpointBlock ----

struct TSetpointField {
    uint8_t Offset = 0;
    uint8_t Size = 0;
};

// Where each setpoint item lives in the block, by item number. Items 23 and
// 24 exist on TovikM only; on Tovik their bytes belong to item 6's field.
inline constexpr std::array<TSetpointField, 25> kSetpointFields = {{
    {0, 4},  {4, 4},  {8, 4},  {12, 4}, {16, 4}, {20, 4}, {24, 4}, {28, 2}, {30, 2},
    {32, 2}, {34, 2}, {36, 2}, {38, 2}, {40, 2}, {42, 2}, {44, 2}, {46, 1}, {47, 1},
    {48, 1}, {49, 1}, {50, 3}, {53, 2}, {55, 2}, {27, 1}, {26, 1},
}};

inline constexpr uint8_t kUstOffsetKtr = 24;
inline constexpr uint8_t kUstOffsetDinProtocol = 26;
inline constexpr uint8_t kUstOffsetTots = 27;
inline constexpr uint8_t kUstOffsetModel = 49;
inline constexpr uint8_t kUstOffsetDate = 50;

// ---- ModBus register map of the setpoints ----

struct TUstRegisters {
    uint16_t Register = 0;
    uint8_t Count = 0;      // registers
    uint8_t DataBytes = 0;  // bytes of item data a write carries
};

// Registers of a setpoint offset on a ModBus kind; none for an offset the
// map does not list (or a kind that is not ModBus).
std::optional<TUstRegisters> UstRegisters(uint8_t kind, int32_t offset);

// Registers of the TovikM-only items on "ТовикМ ModBus".
inline constexpr uint16_t kRegTots = 45;
inline constexpr uint16_t kRegDinProtocol = 63;
// The setpoint block as registers: 31 on "Товик ModBus", 32 on "ТовикМ ModBus".
inline constexpr uint16_t kRegUstFirst = 32;

// ---- ModBus translation ----

// Where the data of a read step goes in the reply block.
enum class TStepPlace : uint8_t {
    None,           // nothing is kept (write steps, command 0)
    Copy,           // the data bytes from Dest on
    LowByte,        // the register's low byte into Dest
    ModelFlags,     // bits 0 and 1 of the register's high byte into bytes 1 and 2
    DropFourth,     // the data without its 4th byte (the device clock)
    SetpointBlock,  // the setpoint block, reshaped into device memory order
};

struct TModbusStep {
    uint8_t Function = kModbusRead;
    uint16_t Register = 0;
    uint16_t Count = 0;            // registers read or written
    std::vector<uint16_t> Values;  // register values of a write
    TStepPlace Place = TStepPlace::None;
    uint8_t Dest = 0;
};

// The ModBus steps of one native command on a ModBus kind, run in order.
// None when the command has no translation, or when its parameters or data
// cannot be translated (an unlisted setpoint offset, a missing index, too
// few data bytes): such a request fails without touching the line.
std::optional<std::vector<TModbusStep>> TranslateCommand(uint8_t kind, const TCommandDescriptor& command,
                                                         const uint8_t* data, size_t length);

// The request frame of one step, CRC included.
TBuff BuildModbusRequest(uint8_t address, const TModbusStep& step);

// Places the little-endian data of a successful read step into the reply
// block, never past rxLength. False when the data is shorter than the
// registers asked for: a reply that cannot fill its place is damaged.
// `end`, when given, receives the end of the bytes placed (0 for none).
bool PlaceStepReply(uint8_t kind, const TModbusStep& step, const TBuff& data, uint8_t* rx, int32_t rxLength,
                    size_t* end = nullptr);

// Reshapes the setpoint registers (as little-endian words) into the
// 57-byte SetpointBlock. None when fewer bytes than the kind's register
// count arrived.
std::optional<TBuff> FixupSetpointBlock(uint8_t kind, const TBuff& words);

}  // namespace tovik
