// The task log tab: the read chain, the grid and the task commands.
#include "panel/TaskLogTab.h"

#include "protocol/Builders.h"

namespace tovik {

TTaskLogTab::TTaskLogTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll,
                         TPanelMessages& Messages)
    : Env(Environment),
      Access(PanelAccess(Environment.AccessLevel)),
      Link(Link),
      Poll(Poll),
      Messages(Messages),
      Buttons(Access == TPanelAccess::ReadOnly) {}

void TTaskLogTab::SetButton(TPanelButton Button, bool On) {
    if (Buttons.Set(Button, On)) ++Rev;
}

void TTaskLogTab::SetGridOn(bool On) {
    if (GridOn == On) return;
    GridOn = On;
    ++Rev;
}

void TTaskLogTab::CommandsDown() {
    SetButton(BtnTaskAdd, false);
    SetButton(BtnTaskDelete, false);
    SetButton(BtnTaskClear, false);
}

void TTaskLogTab::SetupForKind() {
    if (Cells.empty()) FillGrid();
}

// ---- the read chain ----

void TTaskLogTab::StartRead() {
    ++Chain;
    Tasks.BeginRead();
    if (ReadEntry(0)) Poll.TaskChainStarted();
}

bool TTaskLogTab::ReadEntry(uint8_t Index) {
    return Poll.Read(
        RequestReadTask, "task_log", kTaskReplySize,
        [this, Index, chain = Chain](const TReply& r) { OnTaskEntry(r, Index, chain); }, Index);
}

void TTaskLogTab::PollFailed() {
    ++Chain;
    ChainFailed();
}

void TTaskLogTab::ChainFailed() {
    // What was read stays; the next chain starts again at entry 0.
    Poll.Flags().TaskLogReading = false;
    SetGridOn(false);
    FillGrid();
}

void TTaskLogTab::OnTaskEntry(const TReply& Reply, uint8_t Asked, uint64_t ReplyChain) {
    // A chain that was ended (a failed poll) goes no further, so that it
    // never runs beside the next one.
    if (ReplyChain != Chain) return;
    const auto next = Tasks.OnTaskEntry(Reply.Ok(), Reply.Data, Asked);
    if (Tasks.ReadFailed()) {
        // An answer cut short, an entry outside the log it reports, or
        // another entry than the one asked is as good as no answer: nothing
        // of it is stored.
        if (Reply.Ok() && Reply.Data && Reply.Data->size() >= kTaskReplySize) {
            const bool foreign = !Tasks.Problem().empty();
            Poll.NoteFailed("task_log", TOutcome{foreign ? TReplyStatus::Foreign : TReplyStatus::Damaged});
            // Said once: a relay that answers so every time would otherwise
            // bring a box with every cycle.
            if (foreign && !ProblemShown) Messages.Add(Tasks.Problem());
            ProblemShown = ProblemShown || foreign;
        }
        ChainFailed();
        return;
    }
    if (!next || !Link.Reachable() || !ReadEntry(*next)) Poll.Flags().TaskLogReading = false;
    if (!next) ProblemShown = false;
    ShowLog();
}

void TTaskLogTab::SetCell(size_t Row, size_t Column, const std::string& Text) {
    if (Row >= Cells.size() || Column >= Cells[Row].size()) return;
    // What the tab writes replaces whatever the cell shows.
    Cells[Row][Column] = Text;
    ++CellRevs[Row][Column];
    ++Rev;
}

uint32_t TTaskLogTab::CellRevision(size_t Row, size_t Column) const {
    return Row < CellRevs.size() && Column < 3 ? CellRevs[Row][Column] : 0;
}

void TTaskLogTab::FillGrid() {
    const TTextGrid grid = Tasks.Grid(Env.Locale);
    if (Cells.size() != grid.size()) {
        Cells.resize(grid.size(), TTextRow(kTaskGridHeader.size()));
        CellRevs.resize(grid.size(), {1, 1, 1});
        ++Rev;
    }
    for (size_t r = 0; r < grid.size(); ++r)
        for (size_t c = 0; c < kTaskGridHeader.size(); ++c) SetCell(r, c, grid[r][c]);
}

void TTaskLogTab::ShowLog() {
    FillGrid();
    if (Poll.Flags().TaskLogReading) {
        CommandsDown();
        return;
    }
    if (Access != TPanelAccess::ReadOnly) {
        if (Tasks.Count() < Tasks.Capacity()) SetButton(BtnTaskAdd, true);
        SetButton(BtnTaskDelete, Tasks.Count() > 0);
        SetButton(BtnTaskClear, Tasks.Count() > 0);
    }
    SetGridOn(true);
}

// ---- the commands ----

TResultHandler TTaskLogTab::AfterCommand(const char* Failure, bool ReloadOnSuccess) {
    return [this, Failure, ReloadOnSuccess](const TReply& reply) {
        if (reply.Ok() && !ReloadOnSuccess) return;
        if (!reply.Ok()) Messages.Add(MessageWithReason(Failure, reply.Outcome));
        // Read back whatever happened: a command whose answer was lost may
        // still have changed the log, and an edit the relay refused must not
        // stay in the grid as if it held it.
        Poll.Flags().ReloadTaskLog = true;
    };
}

TIntentResult TTaskLogTab::EditEntry(size_t Entry, TTaskField Field, const std::string& Start,
                                     const std::string& End) {
    if (auto refused = AccessRefusal(Access, TIntent::EditTask)) return *refused;
    if (Tasks.Count() == 0 || !GridOn) return IntentRefused(TRefusalReason::NotNow);
    if (Entry >= Tasks.Count()) return IntentRefused(TRefusalReason::NoSelection);
    const size_t row = Entry + 1;
    // The grid holds what was typed until the tab writes a cell.
    Cells[row][1] = Start;
    Cells[row][2] = End;
    const TTaskEdit edit = ParseTaskEdit(Start, End, Env.Locale);
    // A text that is not a time stamp would be written as the earliest one.
    if (!edit.Error.empty())
        return IntentRefused(TRefusalReason::BadInput, "Задание " + std::to_string(row) + ": " + edit.Error,
                             true);
    if (Field == TTaskField::Start)
        SetCell(row, 1, edit.StartText);
    else
        SetCell(row, 2, edit.EndText);
    const auto index = static_cast<uint8_t>(Entry);
    Tasks.SetEntry(index, edit.Entry);
    if (!Link.Reachable()) return IntentRefused(TRefusalReason::NoConnection);
    return Link.Command(RequestWriteTask, AfterCommand(kMsgTaskWriteFailed, false), index, edit.Entry);
}

TIntentResult TTaskLogTab::Add() {
    if (auto refused = AccessRefusal(Access, TIntent::AddTask)) return *refused;
    // Refused even without a connection.
    if (Tasks.Known() && Tasks.IsFull()) return IntentRefused(TRefusalReason::NoRoom, kMsgTaskLogFull, true);
    if (!ButtonEnabled(BtnTaskAdd)) return IntentRefused(TRefusalReason::NotNow);
    if (!Link.Reachable()) return IntentRefused(TRefusalReason::NoConnection);
    const TLocalTime now = Env.LocalNow();
    const TIntentResult sent = Link.Command(RequestAddTask, AfterCommand(kMsgTaskAddFailed),
                                            static_cast<uint8_t>(Tasks.Count()), MakeTaskEntry(now, now));
    if (!sent.Refused()) SetButton(BtnTaskAdd, false);
    return sent;
}

TIntentResult TTaskLogTab::Delete(std::optional<size_t> Entry) {
    if (auto refused = AccessRefusal(Access, TIntent::DeleteTask)) return *refused;
    if (!Entry || *Entry >= Tasks.Count())
        return IntentRefused(TRefusalReason::NoSelection, kMsgSelectTaskRow, true);
    if (!ButtonEnabled(BtnTaskDelete)) return IntentRefused(TRefusalReason::NotNow);
    if (!Link.Reachable()) return IntentRefused(TRefusalReason::NoConnection);
    const TIntentResult sent =
        Link.Command(RequestDeleteTask, AfterCommand(kMsgTaskDeleteFailed), static_cast<uint8_t>(*Entry),
                     static_cast<uint8_t>(Tasks.Count()));
    if (!sent.Refused()) {
        SetButton(BtnTaskDelete, false);
        SetButton(BtnTaskClear, false);
    }
    return sent;
}

TIntentResult TTaskLogTab::Clear() {
    if (auto refused = AccessRefusal(Access, TIntent::ClearTasks)) return *refused;
    if (!ButtonEnabled(BtnTaskClear)) {
        const bool empty = Tasks.Known() && Tasks.Count() == 0 && !Poll.Flags().TaskLogReading;
        return IntentRefused(empty ? TRefusalReason::NothingToDo : TRefusalReason::NotNow);
    }
    if (!Link.Reachable()) return IntentRefused(TRefusalReason::NoConnection);
    const TIntentResult sent = Link.Command(RequestClearTasks, AfterCommand(kMsgTaskClearFailed));
    if (!sent.Refused()) {
        SetButton(BtnTaskDelete, false);
        SetButton(BtnTaskClear, false);
    }
    return sent;
}

}  // namespace tovik
