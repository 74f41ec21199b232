// The program's ways out on POSIX: sigaction for the ending and the fatal
// signals, atexit for an exit that skips the destructors.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "base/Signals.h"

namespace tovik {

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kFatalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

struct sigaction g_previous[kFatalCount];

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

}  // namespace

void InstallLastRiteHooks() {
    for (size_t i = 0; i < kFatalCount; ++i) {
        struct sigaction sa {};
        sa.sa_sigaction = OnFatal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigaction(kFatalSignals[i], &sa, &g_previous[i]);
    }
    std::atexit(RunLastRites);
}

void InstallEndSignals(TEndHandler Handler) {
    struct sigaction sa {};
    sa.sa_handler = Handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int signal : kEndSignals) sigaction(signal, &sa, nullptr);
}

namespace {

// The signal handler only writes a byte; a thread of its own, asleep in
// read() until then, gives the notice.
int g_noticePipe[2] = {-1, -1};

void WriteNotice(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_noticePipe[1], &c, 1);
}

void ReadNotices() {
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(g_noticePipe[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        GiveEndNotice();
    }
}

}  // namespace

void StartEndNotices() {
    if (::pipe2(g_noticePipe, O_CLOEXEC) != 0) return;
    std::thread(ReadNotices).detach();
    InstallEndSignals(WriteNotice);
}

}  // namespace tovik
