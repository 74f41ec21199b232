#pragma once
// The relay: one class for the four device kinds, with its bus number,
// the variant byte of its last state poll and its cached alarm records.
#include <array>
#include <cstdint>
#include <vector>

#include "app/Device.h"
#include "base/Cp1251.h"
#include "base/DeviceTypes.h"

namespace tovik {

inline constexpr size_t kMaxInstallationNameLength = 40;
inline constexpr size_t kInstallationNameField = 41;
// Record length without layout block and alarm records.
inline constexpr size_t kDeviceRecordBaseSize = 59;

// The name given to a new device of the kind; empty for an unknown kind.
const char* DeviceKindName(uint8_t kind);
// A file may hold any kind byte and any bus number: such a device is
// listed, and nothing is ever sent to it (IsKnownKind, IsValidBusAddress).

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
    bool HasKnownKind() const { return IsKnownKind(DeviceKind); }
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
