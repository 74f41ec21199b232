#pragma once
// The panel's file dialogs and the desktop's program for a file. Both go
// through here, so that a test (or a non-interactive run) can answer them.
#include <QString>
#include <functional>

class QWidget;

namespace tovik {

enum class TFileDialogKind {
    AlarmText,        // AVListSaveDialog: "Сохранить..." of the alarm log
    AlarmSheet,       // "Отправить в Excel": where the workbook goes
    CalibrationSave,  // SaveDialog of the calibration tab
    CalibrationOpen,  // OpenDialog of the calibration tab
};

// Answers the dialogs instead of the operator: the chosen file, or an empty
// text for "Отмена". nullptr restores the dialogs.
using TFileDialogHook = std::function<QString(TFileDialogKind, const QString& suggested)>;
void SetFileDialogHook(TFileDialogHook hook);

// Runs the dialog of that kind, starting at `suggested` (a file name in the
// folder the operator used last, else in the documents folder). Save dialogs
// add the default extension and ask before overwriting; the open dialog takes
// only a file that exists. Empty when cancelled.
QString AskFileName(QWidget* parent, TFileDialogKind kind, const QString& suggestedName);

// Opens a file in the program the desktop associates with its type; false
// when there is none (or nothing could be started).
using TOpenFileHook = std::function<bool(const QString& path)>;
void SetOpenFileHook(TOpenFileHook hook);
bool OpenWithDesktop(const QString& path);

// A file name made of a text: characters a file name cannot hold replaced.
QString FileNameOf(const QString& text);

}  // namespace tovik
