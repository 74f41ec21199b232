#include "app/DeviceList.h"

#include "ports/ProtoPortList.h"

namespace tovik {

namespace {
TKindRegistry<TDeviceConstructor>& Registry() {
    static TKindRegistry<TDeviceConstructor> registry;
    return registry;
}
}  // namespace

void RegisterDeviceKind(uint32_t code, TDeviceConstructor constructor) {
    Registry().Register(code, std::move(constructor));
}

const TKindRegistry<TDeviceConstructor>& DeviceKindRegistry() {
    return Registry();
}

TDeviceList::~TDeviceList() {
    Clear();
}

int TDeviceList::Add(std::unique_ptr<TDevice> device) {
    Devices.push_back(std::move(device));
    return Count() - 1;
}

TDevice* TDeviceList::GetDevice(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return Devices[static_cast<size_t>(index)].get();
}

int TDeviceList::IndexOfDevice(const TDevice* device) const {
    for (int i = Count() - 1; i >= 0; --i)
        if (Devices[static_cast<size_t>(i)].get() == device) return i;
    return -1;
}

void TDeviceList::DeleteDevice(int index) {
    if (index < 0 || index >= Count()) return;
    auto device = std::move(Devices[static_cast<size_t>(index)]);
    Devices.erase(Devices.begin() + index);
    device.reset();
}

void TDeviceList::Clear() {
    while (!Devices.empty()) DeleteDevice(0);
}

bool TDeviceList::LoadFromStream(TMemoryStream& stream, const TProtoPortList* ports) {
    TCRCStream section;
    if (!ReadSection(section, stream)) return false;
    int32_t count = 0;
    if (!section.ReadI32(count)) return false;
    std::vector<std::unique_ptr<TDevice>> loaded;
    while (count > 0) {
        --count;
        uint32_t code = 0;
        if (!section.ReadU32(code)) return false;
        const TDeviceConstructor* make = DeviceKindRegistry().Find(code);
        if (!make) return false;
        auto device = (*make)();
        if (!device || !device->Load(section, ports)) return false;
        loaded.push_back(std::move(device));
    }
    for (auto& device : loaded) {
        if (OnDeviceLoaded)
            OnDeviceLoaded(std::move(device));
        else
            Add(std::move(device));
    }
    return true;
}

bool TDeviceList::SaveToStream(TStream& stream) const {
    TCRCStream section;
    if (!section.WriteI32(static_cast<int32_t>(Devices.size()))) return false;
    for (const auto& device : Devices)
        if (!device->Save(section)) return false;
    return WriteSection(section, stream);
}

}  // namespace tovik
