#pragma once
// The relay: one class for the four device kinds, with its bus number,
// the variant byte of its last state poll and its cached alarm records.
#include <array>
#include <cstdint>
#include <vector>

#include "app/Cp1251.h"
#include "app/Device.h"
#include "protocol/Commands.h"  // kAlarmRecordSize

namespace tovik {

// 0 "Товик", 1 "Товик ModBus", 2 "ТовикМ", 3 "ТовикМ ModBus".
inline constexpr uint8_t kDeviceKindCount = 4;
inline constexpr uint32_t kFirstDeviceKindCode = 193;  // kind 0; kinds 1..3 follow
inline constexpr size_t kMaxInstallationNameLength = 40;
inline constexpr size_t kInstallationNameField = 41;
// Record length without layout block and alarm records.
inline constexpr size_t kDeviceRecordBaseSize = 59;

// Hour, minute, second, day, month, year - 2000, cause, three u32 currents.
using TAlarmRecord = std::array<uint8_t, kAlarmRecordSize>;

// The name given to a new device of the kind; empty for an unknown kind.
const char* DeviceKindName(uint8_t kind);
// Kinds 0..3. A file may hold any other byte: such a device is listed, and
// nothing is ever sent to it.
inline constexpr bool IsKnownDeviceKind(uint8_t kind) {
    return kind < kDeviceKindCount;
}
// Bus numbers a request may carry. A file may hold any byte; a device with
// another one is listed, and nothing is sent to it.
inline constexpr uint8_t kMinBusAddress = 1;
inline constexpr uint8_t kMaxBusAddress = 250;
inline constexpr bool IsValidBusAddress(uint8_t address) {
    return address >= kMinBusAddress && address <= kMaxBusAddress;
}

class TTovikDevice : public TDevice {
public:
    // kind 0..3; any other value throws std::out_of_range.
    explicit TTovikDevice(uint8_t kind);
    ~TTovikDevice() override;

    bool Load(TStream& stream, const TProtoPortList* ports) override;
    bool Save(TStream& stream) const override;
    void ShowPanel(IDevicePanelHost& host) override;
    void HidePanel() override;

    uint8_t GetDeviceKind() const { return DeviceKind; }
    bool HasKnownKind() const { return IsKnownDeviceKind(DeviceKind); }
    void SetDeviceKind(uint8_t kind) { DeviceKind = kind; }

    // Appends the record unless a cached one has the same six time-stamp
    // bytes. True when it was added.
    bool OfferAlarmRecord(const TAlarmRecord& record);

    uint8_t VariantByte = 0;
    uint8_t BusAddress = 1;
    std::vector<TAlarmRecord> AlarmCache;
    // The name field as read from the file.
    TFieldText InstallationNameRead;

private:
    uint8_t DeviceKind = 0;
};

// Registers the kind codes 193..196 with constructors of kinds 0..3.
void RegisterTovikDeviceKinds();

}  // namespace tovik
