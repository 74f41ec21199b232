// The task log tab: the read chain, the grid and the task commands.
#include "panel/TaskLog.h"
#include "panel/TovikPanel.h"
#include "panel/TovikPanelSend.h"

namespace tovik {

// ---- the read chain ----

void TTovikPanel::OnTaskEntry(bool Ok, const TBlock* Data) {
    const auto next = Tasks.OnTaskEntry(Ok, Data);
    if (Tasks.ReadFailed()) {
        // An answer cut short, or an entry outside the log it reports, is as
        // good as no answer: nothing of it is stored. The cycle notes it
        // as answered with less (a short reply already is, by Track).
        if (Ok && Data && Data->size() >= kTaskReplySize) NoteRead(HandlerCycle, "task_log", false);
        // A failed or damaged read ends the chain; what was read stays.
        FlagTaskLogReading = false;
        if (TaskGridOn) {
            TaskGridOn = false;
            Touch(AreaTaskLog);
        }
        FillTaskGrid();
        return;
    }
    if (next && HasConnection() &&
        Send(RequestReadTask, Track("task_log", kTaskReplySize, &TTovikPanel::OnTaskEntry), *next)) {
        // the chain goes on
    } else {
        FlagTaskLogReading = false;
    }
    ShowTaskLog();
}

void TTovikPanel::SetTaskCell(size_t Row, size_t Column, const std::string& Text) {
    if (Row >= TaskCells.size() || Column >= TaskCells[Row].size()) return;
    // What the panel writes replaces whatever the cell shows.
    TaskCells[Row][Column] = Text;
    ++TaskRevs[Row][Column];
    Touch(AreaTaskLog);
}

uint32_t TTovikPanel::TaskCellRevision(size_t Row, size_t Column) const {
    return Row < TaskRevs.size() && Column < 3 ? TaskRevs[Row][Column] : 0;
}

void TTovikPanel::FillTaskGrid() {
    const TTextGrid grid = Tasks.Grid(Env.Locale);
    if (TaskCells.size() != grid.size()) {
        TaskCells.resize(grid.size(), TTextRow(kTaskGridHeader.size()));
        TaskRevs.resize(grid.size(), {1, 1, 1});
        Touch(AreaTaskLog);
    }
    for (size_t r = 0; r < grid.size(); ++r)
        for (size_t c = 0; c < kTaskGridHeader.size(); ++c) SetTaskCell(r, c, grid[r][c]);
}

void TTovikPanel::ShowTaskLog() {
    FillTaskGrid();
    if (FlagTaskLogReading) {
        SetButton(BtnTaskAdd, false);
        SetButton(BtnTaskDelete, false);
        SetButton(BtnTaskClear, false);
        return;
    }
    if (Access != TPanelAccess::ReadOnly) {
        if (Tasks.Count() < Tasks.Capacity()) SetButton(BtnTaskAdd, true);
        SetButton(BtnTaskDelete, Tasks.Count() > 0);
        SetButton(BtnTaskClear, Tasks.Count() > 0);
    }
    if (!TaskGridOn) {
        TaskGridOn = true;
        Touch(AreaTaskLog);
    }
}

// ---- editing an entry ----

void TTovikPanel::TW_SGKeyPress(int Key, int Row, int Column, const std::string& StartText,
                                const std::string& EndText) {
    if (Key != kEnterKey || Access == TPanelAccess::ReadOnly || Tasks.Count() == 0 || !TaskGridOn) return;
    if (Column != 1 && Column != 2) return;
    if (Row < 1 || static_cast<size_t>(Row) > Tasks.Count()) return;
    const auto row = static_cast<size_t>(Row);
    // The grid holds what was typed until the panel writes a cell.
    TaskCells[row][1] = StartText;
    TaskCells[row][2] = EndText;
    const TTaskEdit edit = ParseTaskEdit(StartText, EndText, Env.Locale);
    if (!edit.Error.empty()) {
        // A text that is not a time stamp would be written as the earliest one.
        return Say("Задание " + std::to_string(Row) + ": " + edit.Error, false);
    }
    if (Column == 1)
        SetTaskCell(row, 1, edit.StartText);
    else
        SetTaskCell(row, 2, edit.EndText);
    const auto index = static_cast<uint8_t>(Row - 1);
    Tasks.SetEntry(index, edit.Entry);
    if (HasConnection())
        Send(RequestWriteTask, Track("task_write", 0, &TTovikPanel::OnTaskWritten), index, edit.Entry);
}

// ---- the buttons ----

void TTovikPanel::TWNewBtnClick() {
    if (Access == TPanelAccess::ReadOnly || !ButtonEnabled(BtnTaskAdd)) return;
    // Refused even without a connection.
    if (Tasks.IsFull()) return Say(kMsgTaskLogFull, false);
    if (!HasConnection()) return;
    const TLocalTime now = LocalNow();
    if (Send(RequestAddTask, Track("task_add", 0, &TTovikPanel::OnTaskAdded),
             static_cast<uint8_t>(Tasks.Count()), MakeTaskEntry(now, now)))
        SetButton(BtnTaskAdd, false);
}

void TTovikPanel::TWDelBtnClick(int Row) {
    if (Access == TPanelAccess::ReadOnly || !ButtonEnabled(BtnTaskDelete)) return;
    if (!TaskRowSelected(Row, Tasks.Count())) return Say(kMsgSelectTaskRow, false);
    if (!HasConnection()) return;
    if (Send(RequestDeleteTask, Track("task_delete", 0, &TTovikPanel::OnTaskDeleted),
             static_cast<uint8_t>(Row - 1), static_cast<uint8_t>(Tasks.Count()))) {
        SetButton(BtnTaskDelete, false);
        SetButton(BtnTaskClear, false);
    }
}

void TTovikPanel::TWClrBtnClick() {
    if (Access == TPanelAccess::ReadOnly || !ButtonEnabled(BtnTaskClear) || !HasConnection()) return;
    if (Send(RequestClearTasks, Track("task_clear", 0, &TTovikPanel::OnTasksCleared))) {
        SetButton(BtnTaskDelete, false);
        SetButton(BtnTaskClear, false);
    }
}

// ---- their completions ----

void TTovikPanel::AfterTaskCommand(bool Ok, const char* Failure) {
    if (!Ok) Say(Failure);
    // Read back whatever happened: a command whose answer was lost may still
    // have changed the log, and an edit the relay refused must not stay
    // in the grid as if it held it.
    FlagReloadTaskLog = true;
}

void TTovikPanel::OnTaskWritten(bool Ok, const TBlock*) {
    if (!Ok) AfterTaskCommand(false, kMsgTaskWriteFailed);
}

void TTovikPanel::OnTaskAdded(bool Ok, const TBlock*) {
    AfterTaskCommand(Ok, kMsgTaskAddFailed);
}

void TTovikPanel::OnTaskDeleted(bool Ok, const TBlock*) {
    AfterTaskCommand(Ok, kMsgTaskDeleteFailed);
}

void TTovikPanel::OnTasksCleared(bool Ok, const TBlock*) {
    AfterTaskCommand(Ok, kMsgTaskClearFailed);
}

}  // namespace tovik
