// The program's ways out on Windows: the console's control events (Ctrl+C,
// Ctrl+Break, the console window closed, log-off, shut-down) for the ending
// signals; an unhandled exception, abort() and an exit that skips the
// destructors for the last rites.
#include <windows.h>
// The C runtime's signal numbers (SIGINT, SIGTERM, SIGBREAK, SIGABRT).
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "base/Signals.h"

namespace tovik {

namespace {

std::atomic<TEndHandler> g_endHandler{nullptr};
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;

// Runs in a thread the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    const TEndHandler handler = g_endHandler.load();
    if (!handler) return FALSE;
    switch (event) {
        case CTRL_C_EVENT:
            handler(SIGINT);
            return TRUE;
        case CTRL_BREAK_EVENT:
            handler(SIGBREAK);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The process ends as soon as this returns: give the program's
            // own shut-down the few seconds the system allows, within which
            // its exit ends this thread too.
            handler(SIGTERM);
            ::Sleep(4000);
            return TRUE;
        default:
            return FALSE;
    }
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
    RunLastRites();
    return g_previousFilter ? g_previousFilter(info) : EXCEPTION_CONTINUE_SEARCH;
}

void OnAbort(int) {
    RunLastRites();
}

}  // namespace

void InstallLastRiteHooks() {
    g_previousFilter = ::SetUnhandledExceptionFilter(OnUnhandledException);
    ::signal(SIGABRT, OnAbort);
    std::atexit(RunLastRites);
}

void InstallEndSignals(TEndHandler Handler) {
    g_endHandler.store(Handler);
    static std::once_flag installed;
    std::call_once(installed, [] { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); });
}

void StartEndNotices() {
    // The console's events come in a thread the system starts for them.
    InstallEndSignals([](int) { GiveEndNotice(); });
}

}  // namespace tovik
