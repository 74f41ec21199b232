#pragma once
// A frame trace sink that keeps every record, for tests to wait on and read.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "ports/FrameTrace.h"
#include "support/Wait.h"

namespace tovik::test {

class TraceRecorder : public TFrameTraceSink {
public:
    using Records = std::vector<TFrameTraceRecord>;

    void OnFrame(const TFrameTraceRecord& Record) override {
        {
            std::lock_guard lock(Lock);
            Kept.push_back(Record);
        }
        Changed.notify_all();
    }
    Records Snapshot() const {
        std::lock_guard lock(Lock);
        return Kept;
    }
    size_t Count() const {
        std::lock_guard lock(Lock);
        return Kept.size();
    }
    void Clear() {
        std::lock_guard lock(Lock);
        Kept.clear();
    }
    // Waits until `done` holds for the records so far. The limit only guards
    // against a hang; false when it passed.
    bool WaitFor(const std::function<bool(const Records&)>& done, int limitMs = kHangLimitMs) const {
        std::unique_lock lock(Lock);
        return Changed.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return done(Kept); });
    }

private:
    mutable std::mutex Lock;
    mutable std::condition_variable Changed;
    Records Kept;
};

}  // namespace tovik::test
