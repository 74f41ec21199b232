#pragma once
// The task log tab: the relay's task log read entry by entry, the task grid,
// and the editing, adding, deleting and clearing of tasks.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "panel/Intent.h"
#include "panel/PanelControls.h"
#include "panel/PollCycle.h"
#include "panel/RelayLink.h"
#include "panel/TaskLog.h"

namespace tovik {

// The column of an entry being edited.
enum class TTaskField : uint8_t { Start, End };

class TTaskLogTab {
public:
    TTaskLogTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll,
                TPanelMessages& Messages);

    // ---- what the tab shows ----
    // Moves with any cell, the grid's state or a button.
    uint32_t Revision() const { return Rev; }
    const TTaskLog& Log() const { return Tasks; }
    // Header row, then "№", "Начало", "Окончание" per entry.
    const TTextGrid& Grid() const { return Cells; }
    // Moves each time the tab writes that cell: a view replaces what the
    // operator typed only then.
    uint32_t CellRevision(size_t Row, size_t Column) const;
    bool GridEnabled() const { return GridOn; }
    bool Editable() const { return Access != TPanelAccess::ReadOnly; }
    // "Добавить задание", "Удалить задание" and "Очистить журнал".
    bool ButtonEnabled(TPanelButton Button) const { return Buttons.Enabled(Button); }

    // ---- the operator's intents ----
    // An entry's start and end as typed; `Field` is the one whose text is
    // shown again as it will be stored. The panel's copy changes at once.
    TIntentResult EditEntry(size_t Entry, TTaskField Field, const std::string& Start, const std::string& End);
    // A task starting and ending at the PC's time now.
    TIntentResult Add();
    // `Entry`: the entry chosen in the grid, none when no row is.
    TIntentResult Delete(std::optional<size_t> Entry);
    TIntentResult Clear();

    // ---- for the panel ----
    // The chain of the state poll: entry 0, then each next one.
    void StartRead();
    // The state poll failed: the chain ends (a reply of it still on its way
    // is not taken) and the grid is disabled.
    void PollFailed();
    // The relay is not known to answer: the three buttons go off.
    void CommandsDown();
    void SetupForKind();

private:
    // Queues the read of entry `Index` of the running chain.
    bool ReadEntry(uint8_t Index);
    // The reply to the read of entry `Asked` of chain `Chain`.
    void OnTaskEntry(const TReply& Reply, uint8_t Asked, uint64_t Chain);
    // The chain ends where it is: a failed, damaged or foreign reply.
    void ChainFailed();
    // After a task command: read the log again, whatever the outcome, and
    // say that it failed (`Failure`).
    TResultHandler AfterCommand(const char* Failure, bool ReloadOnSuccess = true);
    void SetCell(size_t Row, size_t Column, const std::string& Text);
    void FillGrid();
    void ShowLog();
    void SetButton(TPanelButton Button, bool On);
    void SetGridOn(bool On);

    const TPanelEnvironment& Env;
    const TPanelAccess Access;
    TRelayLink& Link;
    TPollCycle& Poll;
    TPanelMessages& Messages;

    uint32_t Rev = 1;
    TTaskLog Tasks;
    // The running read chain; a reply of another one is not taken.
    uint64_t Chain = 0;
    // A chain ended on a reply that named another entry, and the operator
    // was told; until a chain reads the log to its end.
    bool ProblemShown = false;
    TTextGrid Cells;
    std::vector<std::array<uint32_t, 3>> CellRevs;
    bool GridOn = false;
    TButtonSet<BtnTaskAdd, BtnTaskClear> Buttons;
};

}  // namespace tovik
