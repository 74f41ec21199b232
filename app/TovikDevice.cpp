#include "app/TovikDevice.h"

#include <algorithm>
#include <stdexcept>

#include "app/DeviceList.h"
#include "base/CRC.h"
#include "ports/ProtoPortList.h"

namespace tovik {

namespace {
constexpr const char* kKindNames[kDeviceKindCount] = {"Товик", "Товик ModBus", "ТовикМ", "ТовикМ ModBus"};
}

const char* DeviceKindName(uint8_t kind) {
    return kind < kDeviceKindCount ? kKindNames[kind] : "";
}

TTovikDevice::TTovikDevice(uint8_t kind) {
    if (kind >= kDeviceKindCount) throw std::out_of_range("device kind");
    DeviceKind = kind;
    KindCode = kFirstDeviceKindCode + kind;
    InstallationName = kKindNames[kind];
}

TTovikDevice::~TTovikDevice() {
    // The panel may look at this device's fields while it goes.
    if (PanelRef) HidePanel();
}

bool TTovikDevice::Load(TStream& stream, const TProtoPortList* ports) {
    if (!TDevice::Load(stream, ports)) return false;
    int32_t portId = 0;
    if (!stream.ReadI32(portId)) return false;
    PortId = ports && ports->ContainsId(portId) ? portId : 0;
    uint8_t name[kInstallationNameField];
    if (!stream.ReadU8(BusAddress) || !stream.ReadExact(name, sizeof name)) return false;
    InstallationNameRead = ReadFieldText(name, sizeof name);
    InstallationName = InstallationNameRead.Text;
    // Any kind byte loads and is kept; an unknown kind is refused where
    // requests are built.
    if (!stream.ReadU8(DeviceKind)) return false;
    int32_t count = 0;
    if (!stream.ReadI32(count) || count < 0) return false;
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream);
        memory && static_cast<uint64_t>(count) * kAlarmRecordSize > memory->Remaining())
        return false;
    std::vector<TAlarmRecord> cache;
    cache.reserve(std::min<size_t>(static_cast<size_t>(count), 4096));
    for (int32_t i = 0; i < count; ++i) {
        TAlarmRecord& record = cache.emplace_back();
        if (!stream.ReadExact(record.data(), static_cast<int32_t>(record.size()))) return false;
    }
    AlarmCache = std::move(cache);
    return true;
}

bool TTovikDevice::Save(TStream& stream) const {
    const auto name = WriteFieldText(InstallationName, InstallationNameRead, kInstallationNameField);
    if (!name || AlarmCache.size() > static_cast<size_t>(INT32_MAX / kAlarmRecordSize)) return false;
    if (!TDevice::Save(stream)) return false;
    if (!stream.WriteI32(PortId) || !stream.WriteU8(BusAddress) ||
        !stream.WriteExact(name->data(), static_cast<int32_t>(name->size())) || !stream.WriteU8(DeviceKind) ||
        !stream.WriteI32(static_cast<int32_t>(AlarmCache.size())))
        return false;
    for (const auto& record : AlarmCache)
        if (!stream.WriteExact(record.data(), static_cast<int32_t>(record.size()))) return false;
    return true;
}

void TTovikDevice::ShowPanel(IDevicePanelHost& host) {
    // One panel at a time in the whole program.
    if (TDevice* other = PanelOwner()) other->HidePanel();
    PanelRef = host.CreatePanel(*this);
    SetPanelOwner(this);
    if (PanelRef) PanelRef->RefreshPortSelection();
    TDevice::ShowPanel(host);
}

void TTovikDevice::HidePanel() {
    TDevice::HidePanel();
    PanelHandler = nullptr;
    auto panel = std::move(PanelRef);
    if (PanelOwner() == this) SetPanelOwner(nullptr);
    panel.reset();
}

bool TTovikDevice::OfferAlarmRecord(const TAlarmRecord& record) {
    const bool known = std::any_of(AlarmCache.begin(), AlarmCache.end(), [&](const TAlarmRecord& cached) {
        return std::equal(cached.begin(), cached.begin() + 6, record.begin());
    });
    if (known) return false;
    AlarmCache.push_back(record);
    return true;
}

void RegisterTovikDeviceKinds() {
    for (uint8_t kind = 0; kind < kDeviceKindCount; ++kind)
        RegisterDeviceKind(kFirstDeviceKindCode + kind,
                           [kind] { return std::make_unique<TTovikDevice>(kind); });
}

}  // namespace tovik
