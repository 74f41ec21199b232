#pragma once
// The configured devices in the order of the main window's list, the
// registry of device kinds and the devices section of the configuration.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/Device.h"
#include "base/CRC.h"

namespace tovik {

class TProtoPortList;

using TDeviceConstructor = std::function<std::unique_ptr<TDevice>()>;

// Appends a kind to the program's registry (the later of two entries with
// one code wins).
void RegisterDeviceKind(uint32_t code, TDeviceConstructor constructor);
const TKindRegistry<TDeviceConstructor>& DeviceKindRegistry();

// Takes one loaded device.
using TDeviceLoadedHandler = std::function<void(std::unique_ptr<TDevice>)>;

class TDeviceList {
public:
    TDeviceList() = default;
    ~TDeviceList();
    TDeviceList(const TDeviceList&) = delete;
    TDeviceList& operator=(const TDeviceList&) = delete;

    int Add(std::unique_ptr<TDevice> device);
    TDevice* GetDevice(int index) const;
    // The last index holding the device, or -1.
    int IndexOfDevice(const TDevice* device) const;
    void DeleteDevice(int index);
    void Clear();
    int Count() const { return static_cast<int>(Devices.size()); }

    // Reads the devices section; port identifiers are resolved against
    // `ports`. Only when every record was read are the devices handed, in
    // record order, to OnDeviceLoaded (or appended here when it is not set).
    bool LoadFromStream(TMemoryStream& stream, const TProtoPortList* ports);
    bool SaveToStream(TStream& stream) const;

    TDeviceLoadedHandler OnDeviceLoaded;

private:
    std::vector<std::unique_ptr<TDevice>> Devices;
};

}  // namespace tovik
