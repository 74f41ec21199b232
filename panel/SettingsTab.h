#pragma once
// The settings tab: the port and the bus number that reach the relay, and
// the setpoint grid with the writing of an edited setpoint.
#include <cstdint>
#include <string>
#include <vector>

#include "panel/DeviceView.h"
#include "panel/Intent.h"
#include "panel/PollCycle.h"
#include "panel/RelayLink.h"
#include "panel/TextGrid.h"

namespace tovik {

class TSettingsTab {
public:
    TSettingsTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll,
                 const TDeviceView& View);

    // ---- what the tab shows ----
    // Moves with the port box and the bus number.
    uint32_t Revision() const { return Rev; }
    const std::vector<TPortBoxItem>& PortItems() const { return PortBox; }
    int PortIndex() const { return PortSelected; }
    bool PortBoxDroppedDown() const { return DroppedDown; }
    int BusValue() const { return Bus; }
    // The port box, the bus number and the grid's "новое" column take input.
    bool Editable() const { return Access != TPanelAccess::ReadOnly; }
    // Header row, then one row per item shown: name, "мин", "макс",
    // "сейчас", "новое" (item i in row i + 1).
    const TTextGrid& Grid() const { return UstGrid; }
    // Moves with any cell of the grid; each cell has a revision of its own too.
    uint32_t GridRevision() const { return GridRev; }
    // Moves each time the tab writes that cell (also when it writes the
    // text the cell had): a view replaces what the operator typed in the
    // "новое" column only then.
    uint32_t CellRevision(size_t Row, size_t Column) const;
    // The last value an edit of the "новое" column parsed.
    const TUstRaw& EditValue() const { return Edited; }

    // ---- the operator's intents ----
    // The port box drops down: every port of the environment after "Нет".
    TIntentResult ListPorts();
    // The port box closes up on item `Index`, or on none (-1).
    TIntentResult ChoosePort(int Index);
    TIntentResult ChooseBus(int Value);
    // The text typed into the "новое" cell of item `Item`: shown as it will
    // be written, written where the access level allows, and the setpoints
    // read again whatever came of it.
    TIntentResult WriteSetpoint(int Item, const std::string& Text);

    // ---- for the panel ----
    // The port box and the bus number from the device; whether its port was found.
    bool FillPortBox();
    // The device's port is gone: "Нет" chosen, the device detached from it
    // (unless the box is dropped down).
    void PortLost();
    void SetupGrid();
    // "мин", "макс" and "сейчас" from a block of which the first `Received`
    // bytes arrived; none: "Н/Д".
    void Fill(const TSetpointBlock* Block, size_t Received);

private:
    void SetCell(size_t Row, size_t Column, const std::string& Text);
    uint8_t Kind() const;

    const TPanelEnvironment& Env;
    const TPanelAccess Access;
    TRelayLink& Link;
    TPollCycle& Poll;
    const TDeviceView& View;

    uint32_t Rev = 1;
    uint32_t GridRev = 1;
    std::vector<TPortBoxItem> PortBox;
    int PortSelected = -1;
    bool DroppedDown = false;
    int Bus = kMinBusAddress;
    TTextGrid UstGrid;
    std::vector<std::array<uint32_t, 5>> UstRevs;
    TUstRaw Edited{};
};

}  // namespace tovik
