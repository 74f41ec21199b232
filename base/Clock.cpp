#include "base/Clock.h"

#include <atomic>
#include <chrono>

namespace tovik {

namespace {
uint32_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
std::atomic<TClockSource> g_source{&SteadyMs};
}  // namespace

uint32_t timeGetTime() {
    return g_source.load(std::memory_order_relaxed)();
}

void SetClockSource(TClockSource source) {
    g_source.store(source ? source : &SteadyMs, std::memory_order_relaxed);
}

}  // namespace tovik
