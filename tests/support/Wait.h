#pragma once
// Waiting for something another thread or process does in its own time.
// The limit only ends a test that would otherwise hang; it never decides
// a pass, so it is far above anything a loaded machine needs.
#include <chrono>
#include <thread>

namespace tovik::test {

inline constexpr int kHangLimitMs = 60000;

// Polls `done` until it holds; false when the limit passed first.
template <class TDone>
bool WaitUntil(TDone done, int limitMs = kHangLimitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tovik::test
