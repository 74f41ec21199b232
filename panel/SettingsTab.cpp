// The settings tab: the port box, the bus number and the setpoint grid.
#include "panel/SettingsTab.h"

#include <algorithm>

#include "panel/PanelControls.h"
#include "panel/SettingsView.h"
#include "protocol/Builders.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {
constexpr int kDateItem = 20;
}

TSettingsTab::TSettingsTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll,
                           const TDeviceView& View)
    : Env(Environment), Access(PanelAccess(Environment.AccessLevel)), Link(Link), Poll(Poll), View(View) {}

uint8_t TSettingsTab::Kind() const {
    return Link.Device() ? Link.Device()->GetDeviceKind() : kKindTovik;
}

// ---- the port and the bus number ----

bool TSettingsTab::FillPortBox() {
    const TTovikDevice* dev = Link.Device();
    PortBox.clear();
    PortBox.push_back({kPortNone, kPlaceholderPortId});
    Bus = dev ? std::clamp<int>(dev->BusAddress, kMinBusAddress, kMaxBusAddress) : kMinBusAddress;
    const TProtoPort* port = Link.DevicePort();
    if (port) PortBox.push_back({port->Name, port->Id});
    PortSelected = port ? 1 : 0;
    ++Rev;
    return port != nullptr;
}

void TSettingsTab::PortLost() {
    if (DroppedDown) return;
    if (PortSelected != 0) {
        PortSelected = 0;
        ++Rev;
    }
    if (TTovikDevice* dev = Link.Device()) dev->PortId = 0;
}

TIntentResult TSettingsTab::ListPorts() {
    if (auto refused = AccessRefusal(Access, TIntent::ChoosePort)) return *refused;
    DroppedDown = true;
    PortBox.clear();
    PortBox.push_back({kPortNone, kPlaceholderPortId});
    for (TPortBoxItem& item : Link.ListedPorts()) PortBox.push_back(std::move(item));
    PortSelected = -1;
    ++Rev;
    return IntentDone();
}

TIntentResult TSettingsTab::ChoosePort(int Index) {
    if (auto refused = AccessRefusal(Access, TIntent::ChoosePort)) return *refused;
    DroppedDown = false;
    ++Rev;
    TTovikDevice* dev = Link.Device();
    if (!dev) return IntentRefused(TRefusalReason::NoConnection);
    if (Index >= 0 && static_cast<size_t>(Index) < PortBox.size()) {
        PortSelected = Index;
        dev->PortId = PortBox[static_cast<size_t>(Index)].PortId;
        dev->RecordChanged();
        if (dev->PortId == kPlaceholderPortId) return IntentDone();
        // A new owner id on the chosen port; the one held before stays, so
        // jobs queued before the switch still complete.
        if (TProtoPort* port = Link.DevicePort()) {
            Link.RegisterOn(*port);
            Poll.PollNow();
        }
        return IntentDone();
    }
    const TProtoPort* port = Link.DevicePort();
    PortSelected = 0;
    if (port)
        for (size_t i = 1; i < PortBox.size(); ++i)
            if (PortBox[i].Text == port->Name) PortSelected = static_cast<int>(i);
    return IntentDone();
}

TIntentResult TSettingsTab::ChooseBus(int Value) {
    if (auto refused = AccessRefusal(Access, TIntent::ChooseBus)) return *refused;
    TTovikDevice* dev = Link.Device();
    if (!dev) return IntentRefused(TRefusalReason::NoConnection);
    Bus = std::clamp<int>(Value, kMinBusAddress, kMaxBusAddress);
    dev->BusAddress = static_cast<uint8_t>(Bus);
    dev->RecordChanged();
    ++Rev;
    return IntentDone();
}

// ---- the grid ----

void TSettingsTab::SetupGrid() {
    const size_t rows = static_cast<size_t>(SetpointItemCount(Kind())) + 1;
    if (UstGrid.size() == rows) return;
    // The "новое" column keeps what was typed in it.
    UstGrid.resize(rows, TTextRow(kSetpointGridHeader.size()));
    UstRevs.resize(rows, {1, 1, 1, 1, 1});
    for (size_t c = 0; c < kSetpointGridHeader.size(); ++c) UstGrid[0][c] = kSetpointGridHeader[c];
    for (size_t r = 1; r < rows; ++r) {
        UstGrid[r][0] = UstCellName(static_cast<int>(r - 1));
        for (size_t c = 1; c <= 3; ++c) UstGrid[r][c] = kNotAvailableText;
    }
    ++GridRev;
}

void TSettingsTab::Fill(const TSetpointBlock* Block, size_t Received) {
    const uint8_t variant = Link.Device() ? Link.Device()->VariantByte : 0;
    for (size_t r = 1; r < UstGrid.size(); ++r) {
        const TSetpointRow row = SetpointRow(static_cast<int>(r - 1), Kind(), View.ModelByte(), variant,
                                             Block, Received, Env.Locale);
        SetCell(r, 1, row.Min);
        SetCell(r, 2, row.Max);
        SetCell(r, 3, row.Now);
    }
}

void TSettingsTab::SetCell(size_t Row, size_t Column, const std::string& Text) {
    if (Row >= UstGrid.size() || Column >= UstGrid[Row].size()) return;
    // What the tab puts into "новое" replaces whatever the cell shows.
    if (UstGrid[Row][Column] == Text && Column != 4) return;
    UstGrid[Row][Column] = Text;
    ++UstRevs[Row][Column];
    ++GridRev;
}

uint32_t TSettingsTab::CellRevision(size_t Row, size_t Column) const {
    return Row < UstRevs.size() && Column < 5 ? UstRevs[Row][Column] : 0;
}

TIntentResult TSettingsTab::WriteSetpoint(int Item, const std::string& Text) {
    TTovikDevice* dev = Link.Device();
    if (!dev || !Link.DevicePort()) return IntentRefused(TRefusalReason::NoConnection);
    if (Item < 0 || static_cast<size_t>(Item) + 1 >= UstGrid.size())
        return IntentRefused(TRefusalReason::NoSelection);
    const size_t row = static_cast<size_t>(Item) + 1;
    // The cell keeps what was typed unless it is replaced by the value that
    // will be written; the setpoints are read again whatever happens.
    SetCell(row, 4, Text);
    Poll.Flags().ReloadSettings = true;

    const auto access = AccessRefusal(Access, TIntent::WriteSetpoint, Item);
    const uint32_t multiplier = SetpointMultiplier(Item, View.Ktr());
    const TUstParse parsed =
        ParseUstCell(Text, View.ModelByte(), Item, dev->VariantByte, multiplier, Env.Locale);
    if (!parsed.Numeric) {
        // Text that is not a number would be written as 0 and could switch
        // a protection off.
        if (access) return *access;
        return IntentRefused(TRefusalReason::BadInput,
                             "Уставка \"" + UstCellName(Item) +
                                 "\": " + (Item == kDateItem ? "ожидается дата" : "ожидается число") +
                                 ". Ничего не записано.");
    }
    Edited = parsed.Raw;
    SetCell(row, 4, FormatUstValue(Edited, Item, multiplier, dev->GetDeviceKind(), Env.Locale));
    if (access) return *access;
    // Limits and Kтр come from the relay's setpoint block: without a whole
    // one the value would be bounded by no model (0) and scaled by nothing.
    if (!View.HasSetpoints())
        return IntentRefused(TRefusalReason::NotReadYet,
                             "Уставка \"" + UstCellName(Item) +
                                 "\": уставки устройства ещё не прочитаны. Ничего не записано.");
    return Link.Command(RequestWriteCell, nullptr, Item, Edited);
}

}  // namespace tovik
