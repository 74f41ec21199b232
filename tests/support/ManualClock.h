#pragma once
// The engine's millisecond clock in a test's hand: it stands still until the
// test moves it, so time-outs and quiet waits end exactly when the test says.
#include <atomic>
#include <cstdint>

#include "base/Clock.h"

namespace tovik::test {

class ManualClock {
public:
    explicit ManualClock(uint32_t start = 1000) {
        Now().store(start);
        SetClockSource(&Read);
    }
    ~ManualClock() { SetClockSource(nullptr); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    void Advance(uint32_t ms) { Now().fetch_add(ms); }
    uint32_t Value() const { return Now().load(); }

    // Moves the clock on by `step` until `happened` (a wait for an event of
    // at most a few milliseconds) reports the event. A step that lands
    // before the engine first reads the clock is simply followed by another,
    // so the test never depends on when the engine's thread runs.
    template <class TWait>
    void AdvanceUntil(uint32_t step, TWait happened) {
        do Advance(step);
        while (!happened());
    }

private:
    static std::atomic<uint32_t>& Now() {
        static std::atomic<uint32_t> now{0};
        return now;
    }
    static uint32_t Read() { return Now().load(); }
};

}  // namespace tovik::test
