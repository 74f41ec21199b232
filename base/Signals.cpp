// The ways out's part of every platform: the table of last rites and the
// end notice; the system's part is SignalsPosix.cpp or SignalsWin32.cpp.
#include "base/Signals.h"

#include <atomic>
#include <mutex>

namespace tovik {

namespace {
std::atomic<TLastRite> g_rites[kMaxLastRites];
std::mutex g_noticeLock;
TEndNotice g_notice;  // under g_noticeLock
}  // namespace

void RunLastRites() {
    for (auto& rite : g_rites)
        if (const TLastRite f = rite.load()) f();
}

void AddLastRite(TLastRite Rite) {
    static std::once_flag installed;
    std::call_once(installed, InstallLastRiteHooks);
    for (auto& rite : g_rites) {
        TLastRite expected = nullptr;
        if (rite.compare_exchange_strong(expected, Rite) || expected == Rite) return;
    }
}

void InstallEndNotice(TEndNotice Notice) {
    {
        std::lock_guard lock(g_noticeLock);
        g_notice = std::move(Notice);
    }
    static std::once_flag started;
    std::call_once(started, StartEndNotices);
}

void GiveEndNotice() {
    std::lock_guard lock(g_noticeLock);
    if (g_notice) g_notice();
}

}  // namespace tovik
