#pragma once
// Waits for a result list's next event, woken by the list's notifier: no
// polling, no sleeps.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "ports/ProtoPort.h"

namespace tovik::test {

// True when an event is waiting in `list` within `limit`. Uses the list's
// notifier for the time of the wait.
inline bool WaitForEvent(TResultEventsList& list, std::chrono::milliseconds limit) {
    struct TWake {
        std::mutex Lock;
        std::condition_variable Arrived;
    };
    auto wake = std::make_shared<TWake>();
    list.SetNotifier([wake] {
        std::lock_guard lock(wake->Lock);
        wake->Arrived.notify_all();
    });
    bool arrived = false;
    {
        std::unique_lock lock(wake->Lock);
        arrived = wake->Arrived.wait_for(lock, limit, [&] { return !list.IsEmpty(); });
    }
    list.SetNotifier({});
    return arrived;
}

}  // namespace tovik::test
