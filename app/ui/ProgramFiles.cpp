#include "app/ui/ProgramFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

#include "base/Version.h"

namespace tovik {

namespace {

QString ProgramShareRoot() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share"));
}

constexpr const char* kHelpText =
    "Usage: tovik [--help | --version]\n"
    "\n"
    "The service tool for the motor-protection relays \"Товик\", \"Товик ModBus\",\n"
    "\"ТовикМ\" and \"ТовикМ ModBus\" on a serial port (RS-232) or an RS-485 bus:\n"
    "currents, timers, counters, state and clock of the relay; start and stop of\n"
    "the installation; setpoints read, checked, written, saved to files and\n"
    "printed; the task log; the alarm journal and its export; calibration plans.\n"
    "Operators log in to accounts with access levels. The window is in Russian;\n"
    "F1 opens the user manual.\n"
    "\n"
    "Options:\n"
    "  --help     this text.\n"
    "  --version  the version.\n"
    "\n"
    "The serial lines /dev/ttyS* and /dev/ttyUSB* open only for members of the\n"
    "group \"dialout\" (sudo adduser $USER dialout, then log in again).\n";

}  // namespace

QString ShareDir() {
    return ProgramShareRoot() + QStringLiteral("/tovik");
}

QString ManualDir() {
    return ShareDir() + QStringLiteral("/manual");
}

QIcon ProgramIcon() {
    QIcon icon;
    const QDir hicolor(ProgramShareRoot() + QStringLiteral("/icons/hicolor"));
    const QString file = QStringLiteral("/apps/") + QString::fromLatin1(kDesktopId) + QStringLiteral(".png");
    for (const QString& size : hicolor.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString path = hicolor.filePath(size) + file;
        if (QFileInfo::exists(path)) icon.addFile(path);
    }
    return icon.isNull() ? QIcon::fromTheme(QString::fromLatin1(kDesktopId)) : icon;
}

std::optional<int> AnswerInformationOption(int argc, char** argv) {
    if (argc != 2) return std::nullopt;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kHelpText, stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::fputs(VersionLine("tovik").c_str(), stdout);
        return 0;
    }
    return std::nullopt;
}

}  // namespace tovik
