#pragma once
// What every layer knows of a relay: the four device kinds, the sizes of
// the relay's reply blocks and records, and the raw value types they hold.
#include <array>
#include <cstddef>
#include <cstdint>

namespace tovik {

// ---- device kinds ----

inline constexpr uint8_t kKindTovik = 0;         // "Товик", native frames
inline constexpr uint8_t kKindTovikModbus = 1;   // "Товик ModBus"
inline constexpr uint8_t kKindTovikM = 2;        // "ТовикМ", native frames
inline constexpr uint8_t kKindTovikMModbus = 3;  // "ТовикМ ModBus"
inline constexpr uint8_t kMaxDeviceKind = 3;
inline constexpr uint8_t kDeviceKindCount = 4;
// Record kind code of kind 0 in the configuration; kinds 1..3 follow.
inline constexpr uint32_t kFirstDeviceKindCode = 193;

inline constexpr bool IsKnownKind(uint8_t kind) {
    return kind <= kMaxDeviceKind;
}
inline constexpr bool IsModbusKind(uint8_t kind) {
    return kind == kKindTovikModbus || kind == kKindTovikMModbus;
}
// "ТовикМ" relays hold items 22 to 24 and more; the ModBus one also keeps
// operating statistics.
inline constexpr bool IsTovikMKind(uint8_t kind) {
    return kind == kKindTovikM || kind == kKindTovikMModbus;
}
inline constexpr bool HasStatistics(uint8_t kind) {
    return kind == kKindTovikMModbus;
}

// ---- bus numbers ----

inline constexpr uint8_t kMinBusAddress = 1;
inline constexpr uint8_t kMaxBusAddress = 250;
inline constexpr bool IsValidBusAddress(int address) {
    return address >= kMinBusAddress && address <= kMaxBusAddress;
}

// ---- reply data sizes of the native commands (bytes after address and command) ----

inline constexpr size_t kSetpointBlockSize = 57;
inline constexpr size_t kUstBlockReplySize = kSetpointBlockSize;
inline constexpr size_t kTimersReplySize = 17;
inline constexpr size_t kAlarmCountReplySize = 2;
inline constexpr size_t kAlarmRecordSize = 19;
inline constexpr size_t kCurrentsReplySize = 12;
inline constexpr size_t kImaxReplySize = 4;
inline constexpr size_t kTaskReplySize = 15;
inline constexpr size_t kTaskEntrySize = 12;
inline constexpr size_t kAlarmCountersSize = 14;
inline constexpr size_t kStateReplySize = 4;
inline constexpr size_t kDeviceTimeSize = 6;
inline constexpr size_t kCalInfoReplySize = 3;
inline constexpr size_t kStatisticsReplySize = 24;
inline constexpr size_t kCellReplySize = 8;

// ---- raw values ----

using TSetpointBlock = std::array<uint8_t, kSetpointBlockSize>;
// Hour, minute, second, day, month, year - 2000.
using TRawDateTime = std::array<uint8_t, kDeviceTimeSize>;
// Day, month, year - 2000.
using TRawDate = std::array<uint8_t, 3>;
// A task: start and end, each a TRawDateTime.
using TTaskEntry = std::array<uint8_t, kTaskEntrySize>;
// Hour, minute, second, day, month, year - 2000, cause, three u32 currents.
using TAlarmRecord = std::array<uint8_t, kAlarmRecordSize>;
// A setpoint item's raw value: little-endian, only the bytes of the item's
// type count.
using TUstRaw = std::array<uint8_t, 8>;

}  // namespace tovik
