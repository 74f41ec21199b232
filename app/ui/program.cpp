// The program: the main window on its configuration: beside the program
// where it may write there, else in the user's configuration folder, or the
// file "--config FILE" names.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/ui/ProgramFiles.h"
#include "app/ui/main.h"
#include "base/Signals.h"
#include "base/ui/Messages.h"
#include "ports/ProtoPort.h"

namespace {

void Beep() {
    QApplication::beep();
}

// "--config FILE" or "--config=FILE" among the arguments; false when the
// option has no file.
bool ConfigOption(const QStringList& args, std::optional<std::string>& file) {
    for (int i = 1; i < args.size(); ++i) {
        QString value;
        if (args[i] == QLatin1String("--config")) {
            if (i + 1 >= args.size()) return false;
            value = args[++i];
        } else if (args[i].startsWith(QLatin1String("--config="))) {
            value = args[i].mid(9);
        } else {
            continue;
        }
        if (value.isEmpty()) return false;
        file = QFileInfo(value).absoluteFilePath().toStdString();
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered = tovik::AnswerInformationOption(argc, argv)) return *answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tovik"));
    QApplication::setWindowIcon(tovik::ProgramIcon());
    QGuiApplication::setDesktopFileName(QString::fromLatin1(tovik::kDesktopId));
    tovik::SetBeepHook(&Beep);
    tovik::InstallAssertionBox();

    // Non-interactive runs (tests, scripted checks) may collect the message
    // boxes in a file instead of showing them.
    if (const QByteArray log = qgetenv("TOVIK_MESSAGE_LOG"); !log.isEmpty()) {
        const QString path = QString::fromLocal8Bit(log);
        tovik::SetMessageHook([path](tovik::TMessageKind, const QString& text) {
            QFile f(path);
            if (f.open(QIODevice::Append | QIODevice::Text)) f.write((text + "\n").toUtf8());
        });
    }

    std::optional<std::string> configFile;
    if (!ConfigOption(QCoreApplication::arguments(), configFile)) {
        std::fputs("tovik: --config needs a FILE\n", stderr);
        return 2;
    }
    auto form =
        std::make_unique<tovik::TMainForm>(tovik::FindConfiguration(tovik::DefaultConfigSearch(configFile)));
    if (form->FatalStartup) return 1;  // its message has been shown; the file stays untouched

    // The signals that would end the program (terminate, interrupt, hang-up,
    // quit, broken pipe; on Windows the console's events) close the window
    // like "Выход", so the configuration is saved and the lines are let go.
    const QPointer<tovik::TMainForm> window = form.get();
    tovik::InstallEndNotice([&app, window] {
        QMetaObject::invokeMethod(
            &app,
            [window] {
                if (window) window->close();
            },
            Qt::QueuedConnection);
    });

    form->show();
    const int rc = app.exec();
    tovik::InstallEndNotice({});
    form.reset();  // the shut-down
    return rc;
}
