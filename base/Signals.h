#pragma once
// The ways a program ends other than its own shut-down, behind one seam:
// the POSIX signals (SignalsPosix.cpp), the console's events on Windows
// (SignalsWin32.cpp: Ctrl+C, Ctrl+Break, the console closed, log-off,
// shut-down).
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
#include <functional>

namespace tovik {

// Runs in signal context: it may only set an atomic flag or write to a
// pipe. Gets the signal's number.
using TEndHandler = void (*)(int Signal);

// Installs `Handler` for every ending signal (replacing an earlier one).
void InstallEndSignals(TEndHandler Handler);

// Installs the ending signals so that `Notice` runs for each in an ordinary
// thread of the seam's own, outside signal context, where it may post to a
// front end's event loop. An empty function takes the notice back: once
// that returns, no call of the earlier one is under way or to come.
using TEndNotice = std::function<void()>;
void InstallEndNotice(TEndNotice Notice);

// Adds a function to the last rites; the same function is added once. At
// most kMaxLastRites of them. Safe from any thread.
using TLastRite = void (*)();
inline constexpr size_t kMaxLastRites = 8;
void AddLastRite(TLastRite Rite);

// ---- the system's part (SignalsPosix.cpp, SignalsWin32.cpp) ----

// Runs every last rite; async-signal-safe.
void RunLastRites();
// Makes the fatal signals (Windows: an unhandled exception, abort) and an
// exit past the destructors run the last rites. Called once, by the first
// AddLastRite.
void InstallLastRiteHooks();
// Installs the ending signals so that each leads to GiveEndNotice outside
// signal context. Called once, by the first InstallEndNotice.
void StartEndNotices();
// Calls the notice installed, if any.
void GiveEndNotice();

}  // namespace tovik
