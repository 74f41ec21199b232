#pragma once
// The relay's side of the wire: the ModBus RTU CRC, the native frame with
// its positional check bytes, the ModBus requests a relay accepts and the
// replies it sends, and the holding-register map. The simulator keeps its
// own copy of these rules, apart from the tool's, so that a test between
// the two compares two implementations of one protocol.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovik::sim {

// Device kinds 1 and 3 speak ModBus, 0 and 2 the native frames.
inline bool IsModbusKind(uint8_t kind) {
    return kind == 1 || kind == 3;
}
// TovikM relays (kinds 2 and 3) have item 22; kind 3 also items 23 and 24.
inline bool IsTovikM(uint8_t kind) {
    return kind == 2 || kind == 3;
}

// ---- ModBus RTU CRC-16 ----

// Polynomial 0xA001 (reflected), initial value 0xFFFF, no final inversion.
uint16_t ModbusCrc(const uint8_t* data, size_t count);
// Appends the CRC of the whole frame, low byte first.
void AppendModbusCrc(std::vector<uint8_t>& frame);
// Whether the last two bytes are the CRC of the bytes before them.
bool ModbusCrcMatches(const std::vector<uint8_t>& frame);

// ---- Native frames ----

// Longest payload a frame can carry (its length byte is one byte).
inline constexpr size_t kMaxNativePayload = 189;

// Bytes of the frame around a payload of `payload` bytes; 0 when none fits.
size_t NativeFrameSize(size_t payload);
// The frame around a payload; empty when it does not fit.
std::vector<uint8_t> MakeNativeFrame(const std::vector<uint8_t>& payload);
// A received frame's payload, or the reason it is damaged.
std::optional<std::vector<uint8_t>> ParseNativeFrame(const std::vector<uint8_t>& frame, std::string& why);
// Parameter bytes that follow a native command code.
size_t NativeParamCount(uint8_t command);

// ---- ModBus requests and replies ----

inline constexpr uint8_t kReadHolding = 3;
inline constexpr uint8_t kWriteMultiple = 16;
inline constexpr uint8_t kExceptionFlag = 0x80;
inline constexpr uint8_t kIllegalFunction = 1;
inline constexpr uint8_t kIllegalAddress = 2;
inline constexpr uint8_t kIllegalValue = 3;
// Registers one request may read or write.
inline constexpr uint16_t kMaxReadRegisters = 125;
inline constexpr uint16_t kMaxWriteRegisters = 123;

struct TModbusRequest {
    uint8_t Address = 0;
    uint8_t Function = 0;
    uint16_t First = 0;
    uint16_t Count = 0;
    std::vector<uint16_t> Values;  // of a write
};

// Decodes a request whose CRC matched. Returns 0, or the exception code the
// relay answers with (and why in `note`); address and function are set
// whenever the frame has them.
uint8_t DecodeModbusRequest(const std::vector<uint8_t>& frame, TModbusRequest& request, std::string& note);
// Bytes of the request at the start of `buffer`: 0 while that is not known
// yet, -1 when only a silence can end it (an unknown function).
long ModbusRequestSize(const std::vector<uint8_t>& buffer);

// Replies without their CRC (faults may still change them).
std::vector<uint8_t> ModbusReadReply(uint8_t address, const std::vector<uint16_t>& values);
std::vector<uint8_t> ModbusWriteReply(uint8_t address, uint16_t first, uint16_t count);
std::vector<uint8_t> ModbusExceptionReply(uint8_t address, uint8_t function, uint8_t code);

// ---- The holding-register map ----

namespace reg {
inline constexpr uint16_t Currents = 0;        // 0..5: Ia, Ib, Ic, primary, as floats
inline constexpr uint16_t State = 6;           // state code; bit 8 setpoints changed, bit 9 task log changed
inline constexpr uint16_t AlarmHeader = 7;     // record count | journal marker << 8
inline constexpr uint16_t MaxCurrent = 8;      // 8..9: Imax in mA, low word first
inline constexpr uint16_t Reserved = 10;       // 10..15: read as 0
inline constexpr uint16_t Run = 16;            // 1 start, 0 stop
inline constexpr uint16_t Variant = 17;        // the variant byte
inline constexpr uint16_t Setpoints = 32;      // 32..62 (63 on "ТовикМ ModBus"): the setpoint memory
inline constexpr uint16_t CutoffTime = 45;     // item 23 on "ТовикМ ModBus"
inline constexpr uint16_t Model = 58;          // item 19
inline constexpr uint16_t DiscreteInput = 63;  // item 24 on "ТовикМ ModBus"
inline constexpr uint16_t Clock = 112;         // 112..115: hour | minute << 8, second, day | month << 8, year
inline constexpr uint16_t AlarmSelect = 128;   // the record that 129..138 show
inline constexpr uint16_t AlarmRecord = 129;   // 129..138: the 19-byte record and a pad byte
inline constexpr uint16_t Command = 256;       // 1 clears the journal, 2 resets the counters
inline constexpr uint16_t TaskSelect = 304;    // read: count | capacity << 8; write: the selected entry
inline constexpr uint16_t TaskEntry = 305;     // 305..310: the selected entry, or the entry to store
inline constexpr uint16_t TaskCommand = 311;   // 0 store, 1 append, 2 delete, 3 clear
inline constexpr uint16_t Timers = 352;        // 352..359: the protection timers block
inline constexpr uint16_t Counters = 384;      // 384..390: the alarm counters
inline constexpr uint16_t Statistics = 400;    // 400..411: operating statistics ("ТовикМ ModBus")
}  // namespace reg

// One setpoint item of the relay's memory with its registers.
struct TSetpointItem {
    int Row;
    uint8_t Offset;
    uint8_t Size;       // bytes a write carries
    uint8_t Registers;  // registers of the item
    uint16_t Register;  // first register
};

// The item at a memory offset as native writes address it; items 23 and 24
// have their own commands and no offset of their own. Null when none.
const TSetpointItem* SetpointItemAtOffset(uint8_t kind, uint8_t offset);
// The item whose first register is `reg` on a relay of `kind`; null when none.
const TSetpointItem* SetpointItemAtRegister(uint8_t kind, uint16_t reg);

}  // namespace tovik::sim
