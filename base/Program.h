#pragma once
// The running program as the system sees it: its arguments, its console and
// the priority of its threads. The platform's part is chosen by CMake
// (ProgramPosix.cpp, ProgramWin32.cpp); nothing here names a platform.
#include <string>
#include <vector>

namespace tovik {

// The program's arguments in UTF-8, its own name first. POSIX systems hand
// them over as they are; Windows hands `argv` over in the ANSI code page,
// which spells no Cyrillic letter outside Russian systems, so there they are
// taken from the wide-character command line.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes a console that shows the program's output take it as UTF-8 (as
// terminals here do; Windows' console needs telling) until the program
// ends. Output into a file or a pipe passes as it is everywhere.
void UseUtf8Console();

// Puts the calling thread one step below normal priority, so that line work
// never starves the user-interface thread.
void LowerThreadPriority();

}  // namespace tovik
