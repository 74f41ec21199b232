#pragma once
// The device base: the record's kind code, the installation name, the port
// that reaches the device and the layout block of its panel.
//
// The panel itself lives in the front end. The core reaches it only through
// IDevicePanel and IDevicePanelHost, so nothing here depends on a toolkit.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Stream.h"

namespace tovik {

class TDevice;
class TProtoPortList;

// Installed by the bound panel. With `restore` set it applies the layout
// from the block (an empty block changes nothing); with it clear it gives
// the layout back into the block.
using TPanelLayoutHandler = std::function<void(TMemoryStream& layout, bool restore)>;

// A device's panel, as the core sees it.
class IDevicePanel {
public:
    virtual ~IDevicePanel() = default;
    // Re-reads the port list into the panel's port selection.
    virtual void RefreshPortSelection() = 0;
};

// The window that shows device panels. CreatePanel makes the panel on that
// window and binds the device to it: the panel installs its layout handler
// with SetPanelHandler and fills its controls from the device.
class IDevicePanelHost {
public:
    virtual ~IDevicePanelHost() = default;
    virtual std::unique_ptr<IDevicePanel> CreatePanel(TDevice& device) = 0;
};

// The layout block's contents: four i32 values.
struct TPanelLayout {
    int32_t ModelGroupWidth = 0;  // TovikModelGroupBox
    int32_t PuskStopWidth = 0;    // PuskStopPanel
    int32_t StatsWidth = 0;       // StatsPanel
    int32_t ActivePage = 0;       // TovikControl
};
inline constexpr int32_t kPanelLayoutSize = 16;

// The four values from the start of a block; nullopt for a block shorter
// than 16 bytes, which is ignored.
std::optional<TPanelLayout> ReadPanelLayout(const TMemoryStream& block);
// Replaces the block's contents by the four values.
void WritePanelLayout(TMemoryStream& block, const TPanelLayout& layout);

class TDevice {
public:
    TDevice() = default;
    virtual ~TDevice();
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    // Reads the record after its kind code. `ports` is the loaded port list
    // that PortId is resolved against (null: no port matches).
    virtual bool Load(TStream& stream, const TProtoPortList* ports);
    // Writes the whole record, kind code first.
    virtual bool Save(TStream& stream) const;
    // Creates the panel on the host and restores its layout.
    virtual void ShowPanel(IDevicePanelHost& host);
    // Lets the panel give back its layout and releases the panel.
    virtual void HidePanel();

    // Makes sure a layout block exists and installs the handler.
    void SetPanelHandler(TPanelLayoutHandler handler);

    // Tells whoever keeps the configuration that what the record stores has
    // changed: the port or bus number chosen on the panel, the alarm cache
    // at the end of a journal fetch or after "Очистить". The program saves
    // its configuration then, so a crash loses none of it. (Not for each
    // record a fetch brings: once when it ends.)
    void RecordChanged() {
        if (OnRecordChanged) OnRecordChanged(*this);
    }
    std::function<void(TDevice&)> OnRecordChanged;

    IDevicePanel* Panel() const { return PanelRef.get(); }
    // The device whose panel is shown, if any: there is at most one.
    static TDevice* PanelOwner();

    uint32_t KindCode = 0;
    std::string InstallationName;  // UTF-8, at most 40 characters
    int32_t PortId = 0;            // 0: no port
    std::unique_ptr<TMemoryStream> PanelLayout;
    TPanelLayoutHandler PanelHandler;

protected:
    static void SetPanelOwner(TDevice* device);

    std::unique_ptr<IDevicePanel> PanelRef;
};

}  // namespace tovik
