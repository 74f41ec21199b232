#pragma once
// The ways a program ends other than its own shut-down, behind one seam
// (the POSIX signals here; a Win32 file will map the console's events).
//
// Ending signals: interrupt (Ctrl+C), terminate, hang-up (the terminal
// closed), quit, and a broken pipe (its output's reader went away). Each of
// them would end the program on the spot; with a handler installed it runs
// its ordinary shut-down instead, which closes the lines and saves.
//
// Last rites: what must happen however the program ends, even without its
// shut-down: on a crash or an abort (a fatal signal) and on an exit that
// skips the destructors. They run in signal context: async-signal-safe
// calls only.
#include <cstddef>

namespace tovik {

// Runs in signal context: it may only set an atomic flag or write to a
// pipe. Gets the signal's number.
using TEndHandler = void (*)(int Signal);

// Installs `Handler` for every ending signal (replacing an earlier one).
void InstallEndSignals(TEndHandler Handler);

// Adds a function to the last rites; the same function is added once. At
// most kMaxLastRites of them. Safe from any thread.
using TLastRite = void (*)();
inline constexpr size_t kMaxLastRites = 8;
void AddLastRite(TLastRite Rite);

}  // namespace tovik
