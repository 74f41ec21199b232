#include "panel/ui/PanelDialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace tovik {

namespace {

TFileDialogHook& DialogHook() {
    static TFileDialogHook hook;
    return hook;
}

TOpenFileHook& OpenHook() {
    static TOpenFileHook hook;
    return hook;
}

// The folder of the last file chosen, for the next dialog.
QString& LastFolder() {
    static QString folder;
    return folder;
}

struct TDialogInfo {
    const char* Name;
    const char* Caption;
    const char* Filter;
    const char* Suffix;
    bool Save;
};

TDialogInfo Info(TFileDialogKind kind) {
    switch (kind) {
        case TFileDialogKind::AlarmText:
            return {"AVListSaveDialog", "Сохранить журнал аварий", "Текстовые файлы (*.txt)", "txt", true};
        case TFileDialogKind::AlarmSheet:
            return {"ExcelSaveDialog", "Отправить в Excel", "Книга Excel (*.xlsx)", "xlsx", true};
        case TFileDialogKind::CalibrationSave:
            return {"SaveDialog", "Сохранить калибровочные данные", "Калибровочные параметры (*.CAL *.cal)",
                    "cal", true};
        case TFileDialogKind::CalibrationOpen:
            break;
    }
    return {"OpenDialog", "Загрузить калибровочные данные", "Калибровочные данные (*.CAL *.cal)", "cal",
            false};
}

QString StartFolder() {
    if (!LastFolder().isEmpty() && QFileInfo(LastFolder()).isDir()) return LastFolder();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
    return QDir::homePath();
}

}  // namespace

void SetFileDialogHook(TFileDialogHook hook) {
    DialogHook() = std::move(hook);
}

void SetOpenFileHook(TOpenFileHook hook) {
    OpenHook() = std::move(hook);
}

QString FileNameOf(const QString& text) {
    QString name = text.trimmed();
    for (QChar& c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 32)
            c = QLatin1Char('_');
    return name;
}

QString AskFileName(QWidget* parent, TFileDialogKind kind, const QString& suggestedName) {
    const QString suggested = QDir(StartFolder()).filePath(suggestedName);
    QString chosen;
    if (DialogHook()) {
        chosen = DialogHook()(kind, suggested);
    } else {
        const TDialogInfo info = Info(kind);
        QFileDialog dialog(parent, QString::fromUtf8(info.Caption), suggested,
                           QString::fromUtf8(info.Filter));
        dialog.setObjectName(QString::fromLatin1(info.Name));
        dialog.setDefaultSuffix(QString::fromLatin1(info.Suffix));
        // Save dialogs ask before overwriting (the dialog's default); the
        // open dialog takes only a file that exists.
        dialog.setAcceptMode(info.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(info.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (info.Save) dialog.selectFile(suggested);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().constFirst();
    }
    if (!chosen.isEmpty()) LastFolder() = QFileInfo(chosen).absolutePath();
    return chosen;
}

bool OpenWithDesktop(const QString& path) {
    if (OpenHook()) return OpenHook()(path);
    // The desktop's opener starts even when no program takes the type, and
    // says so only on its own output: ask the desktop's database first.
    const QString query = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (!query.isEmpty()) {
        QProcess process;
        process.start(query, {QStringLiteral("query"), QStringLiteral("default"),
                              QMimeDatabase().mimeTypeForFile(path).name()});
        if (!process.waitForFinished(5000) || process.exitCode() != 0 ||
            process.readAllStandardOutput().trimmed().isEmpty())
            return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace tovik
