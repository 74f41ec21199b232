// The program: the main window on the configuration beside the executable.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QSocketNotifier>
#include <memory>

#include "app/ui/ProgramFiles.h"
#include "app/ui/main.h"
#include "base/Signals.h"
#include "base/ui/Messages.h"
#include "ports/ProtoPort.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &c, 1);
}

void Beep() {
    QApplication::beep();
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

    auto form = std::make_unique<tovik::TMainForm>(QCoreApplication::applicationDirPath());
    if (form->FatalStartup) return 1;  // its message has been shown; the file stays untouched

    // The signals that would end the program (terminate, interrupt, hang-up,
    // quit, broken pipe) close the window like "Выход", so the configuration
    // is saved and the lines are let go.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, form.get(), [&form] {
            char c;
            [[maybe_unused]] auto n = ::read(g_signalPipe[0], &c, 1);
            form->close();
        });
        tovik::InstallEndSignals(OnSignal);
    }

    form->show();
    const int rc = app.exec();
    form.reset();  // the shut-down
    return rc;
}
