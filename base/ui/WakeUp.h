#pragma once
// A window woken by a port's worker: the notifier of a result list posts an
// event to the window, which then takes what arrived in its own thread. The
// result still travels only through the list.
#include <QEvent>
#include <QObject>
#include <atomic>
#include <mutex>

namespace tovik {

// The event a wake-up posts.
QEvent::Type WakeUpEvent();

// Shared by the window and the notifier. The window sets Target (under
// Lock) when it is ready, clears it before it goes, and clears Pending when
// it handles the event.
struct TWakeUp {
    std::mutex Lock;
    QObject* Target = nullptr;  // under Lock
    std::atomic<bool> Pending{false};

    // From any thread; never more than one wake-up waits in the event queue.
    void Post();
};

}  // namespace tovik
