#pragma once
// Where the program finds the files it ships with (the manual, its icon):
// beside its own folder, in <prefix>/share, the same in a build tree
// (build/plain/bin and build/plain/share) as when installed (/usr/bin and
// /usr/share). Also the program's answers to --help and --version, given
// before any window exists.
#include <QIcon>
#include <QString>
#include <optional>

namespace tovik {

// The desktop entry's name, without ".desktop", and the icon's name.
inline constexpr const char* kDesktopId = "ru.tovik.Tovik";

// <program folder>/../share/tovik
QString ShareDir();
// The user manual's folder: ShareDir()/manual.
QString ManualDir();
// The program's icon from <program folder>/../share/icons/hicolor, every
// size there is; the theme's when none is found.
QIcon ProgramIcon();

// "--help" and "--version" as the only argument are answered on standard
// output; the program then ends with the code returned. Any other command
// line is left to the program (nullopt).
std::optional<int> AnswerInformationOption(int argc, char** argv);

}  // namespace tovik
