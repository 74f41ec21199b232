#include "app/Device.h"

#include <algorithm>
#include <cstring>

namespace tovik {

namespace {
TDevice* g_panelOwner = nullptr;

int32_t GetI32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                uint32_t(p[3]) << 24);
}
}  // namespace

std::optional<TPanelLayout> ReadPanelLayout(const TMemoryStream& block) {
    if (block.Size() < static_cast<size_t>(kPanelLayoutSize)) return std::nullopt;
    const uint8_t* p = block.Bytes().data();
    return TPanelLayout{GetI32(p), GetI32(p + 4), GetI32(p + 8), GetI32(p + 12)};
}

void WritePanelLayout(TMemoryStream& block, const TPanelLayout& layout) {
    block.Clear();
    block.WriteI32(layout.ModelGroupWidth);
    block.WriteI32(layout.PuskStopWidth);
    block.WriteI32(layout.StatsWidth);
    block.WriteI32(layout.ActivePage);
    block.Seek(0);
}

TDevice::~TDevice() {
    // A device deleted with its panel open takes the panel with it.
    if (g_panelOwner == this) g_panelOwner = nullptr;
}

TDevice* TDevice::PanelOwner() {
    return g_panelOwner;
}

bool TDevice::Load(TStream& stream, const TProtoPortList* /*ports*/) {
    int32_t size = 0;
    if (!stream.ReadI32(size)) return false;
    if (size <= 0) {
        PanelLayout.reset();
        return true;
    }
    // Never allocate more than the stream can still deliver: a memory stream
    // is checked at once, any other is read in pieces.
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream);
        memory && static_cast<size_t>(size) > memory->Remaining())
        return false;
    auto block = std::make_unique<TMemoryStream>();
    auto& bytes = block->Bytes();
    for (int32_t left = size; left > 0;) {
        const int32_t piece = std::min<int32_t>(left, 1 << 16);
        const size_t at = bytes.size();
        bytes.resize(at + static_cast<size_t>(piece));
        if (!stream.ReadExact(bytes.data() + at, piece)) return false;
        left -= piece;
    }
    PanelLayout = std::move(block);
    return true;
}

bool TDevice::Save(TStream& stream) const {
    const size_t size = PanelLayout ? PanelLayout->Size() : 0;
    if (size > static_cast<size_t>(INT32_MAX)) return false;
    if (!stream.WriteU32(KindCode) || !stream.WriteI32(static_cast<int32_t>(size))) return false;
    return size == 0 || stream.WriteExact(PanelLayout->Bytes().data(), static_cast<int32_t>(size));
}

void TDevice::SetPanelHandler(TPanelLayoutHandler handler) {
    if (!PanelLayout) PanelLayout = std::make_unique<TMemoryStream>();
    PanelHandler = std::move(handler);
}

void TDevice::ShowPanel(IDevicePanelHost& /*host*/) {
    if (PanelHandler && PanelLayout) {
        PanelLayout->Seek(0);
        PanelHandler(*PanelLayout, true);
    }
}

void TDevice::HidePanel() {
    if (PanelHandler && PanelLayout) {
        PanelLayout->Seek(0);
        PanelHandler(*PanelLayout, false);
    }
}

void TDevice::SetPanelOwner(TDevice* device) {
    g_panelOwner = device;
}

}  // namespace tovik
