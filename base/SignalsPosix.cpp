// The program's ways out on POSIX: sigaction for the ending and the fatal
// signals, atexit for an exit that skips the destructors.
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "base/Signals.h"

namespace tovik {

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kFatalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

std::atomic<TLastRite> g_rites[kMaxLastRites];
struct sigaction g_previous[kFatalCount];

void RunLastRites() {
    for (auto& rite : g_rites)
        if (const TLastRite f = rite.load()) f();
}

// A fatal signal: the rites, then whatever handled the signal before (the
// default ends the program; a sanitizer reports first). A fault happens
// again when the handler returns; a signal that was sent (kill, abort) is
// raised again.
void OnFatal(int signal, siginfo_t* info, void*) {
    RunLastRites();
    for (size_t i = 0; i < kFatalCount; ++i)
        if (kFatalSignals[i] == signal) sigaction(signal, &g_previous[i], nullptr);
    if (info == nullptr || info->si_code <= 0) raise(signal);
}

void InstallLastRites() {
    for (size_t i = 0; i < kFatalCount; ++i) {
        struct sigaction sa {};
        sa.sa_sigaction = OnFatal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigaction(kFatalSignals[i], &sa, &g_previous[i]);
    }
    std::atexit(RunLastRites);
}

}  // namespace

void InstallEndSignals(TEndHandler Handler) {
    struct sigaction sa {};
    sa.sa_handler = Handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int signal : kEndSignals) sigaction(signal, &sa, nullptr);
}

void AddLastRite(TLastRite Rite) {
    static std::once_flag installed;
    std::call_once(installed, InstallLastRites);
    for (auto& rite : g_rites) {
        TLastRite expected = nullptr;
        if (rite.compare_exchange_strong(expected, Rite) || expected == Rite) return;
    }
}

}  // namespace tovik
