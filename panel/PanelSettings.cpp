// The settings tab: the port box, the bus number and the setpoint grid.
#include <algorithm>

#include "base/Clock.h"
#include "panel/SettingsView.h"
#include "panel/TovikPanel.h"
#include "panel/TovikPanelSend.h"
#include "ports/ProtoPortList.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {
constexpr int kDateItem = 20;
}

void TTovikPanel::TovikPortsComboBoxDropDown() {
    if (Access == TPanelAccess::ReadOnly) return;
    DroppedDown = true;
    PortBox.clear();
    PortBox.push_back({kPortNone, kPlaceholderPortId});
    if (Env.Line) PortBox.push_back({Env.Line->Name, Env.Line->Id});
    if (Env.Ports && !Env.Line)
        for (int i = 0; i < Env.Ports->Count(); ++i)
            if (const TProtoPort* port = Env.Ports->Items(i)) PortBox.push_back({port->Name, port->Id});
    PortSelected = -1;
    Touch(AreaPortBox);
}

void TTovikPanel::TovikPortsComboBoxCloseUp(int Index) {
    if (Access == TPanelAccess::ReadOnly) return;
    DroppedDown = false;
    Touch(AreaPortBox);
    if (!Dev) return;
    if (Index >= 0 && static_cast<size_t>(Index) < PortBox.size()) {
        PortSelected = Index;
        Dev->PortId = PortBox[static_cast<size_t>(Index)].PortId;
        Dev->RecordChanged();
        if (Dev->PortId == kPlaceholderPortId) return;
        // A new owner id on the chosen port; the one held before stays, so
        // jobs queued before the switch still complete.
        if (TProtoPort* port = DevicePort()) {
            RegisterOn(*port);
            PollNow();
        }
        return;
    }
    const TProtoPort* port = DevicePort();
    PortSelected = 0;
    if (port)
        for (size_t i = 1; i < PortBox.size(); ++i)
            if (PortBox[i].Text == port->Name) PortSelected = static_cast<int>(i);
}

void TTovikPanel::BusIDSEChange(int Value) {
    if (Access == TPanelAccess::ReadOnly || !Dev) return;
    Bus = std::clamp<int>(Value, kMinBusAddress, kMaxBusAddress);
    Dev->BusAddress = static_cast<uint8_t>(Bus);
    Dev->RecordChanged();
    Touch(AreaBus);
}

void TTovikPanel::TovikUstStringGridKeyPress(int Key, int Row, const std::string& Text) {
    if (Key != kEnterKey || !Dev) return;
    if (!CurrentPort()) return;
    const int item = Row - 1;
    if (item < 0 || static_cast<size_t>(Row) >= UstGrid.size()) return;
    const size_t row = static_cast<size_t>(Row);
    // The cell keeps what was typed unless it is replaced by the value that
    // will be written.
    SetCell(row, 4, Text);
    FlagReloadSettings = true;

    const bool mayWrite = SetpointWriteAllowed(Env.AccessLevel, item);
    const uint32_t multiplier = SetpointMultiplier(item, Labels.Ktr());
    const TUstParse parsed = ParseUstCell(Text, Model, item, Dev->VariantByte, multiplier, Env.Locale);
    if (!parsed.Numeric) {
        // Text that is not a number would be written as 0 and could switch
        // a protection off.
        if (mayWrite)
            Say("Уставка \"" + UstCellName(item) + "\": " +
                (item == kDateItem ? "ожидается дата" : "ожидается число") + ". Ничего не записано.");
        return;
    }
    EditValue = parsed.Raw;
    SetCell(row, 4, FormatUstValue(EditValue, item, multiplier, Dev->GetDeviceKind(), Env.Locale));
    if (!mayWrite) return;
    // Limits and Kтр come from the relay's setpoint block: without a whole
    // one the value would be bounded by no model (0) and scaled by nothing.
    if (!Labels.HasSetpoints()) {
        Say("Уставка \"" + UstCellName(item) +
            "\": уставки устройства ещё не прочитаны. Ничего не записано.");
        return;
    }
    Send(RequestWriteCell, nullptr, item, EditValue);
}

}  // namespace tovik
