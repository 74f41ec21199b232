#include "ports/FrameTrace.h"

#include <utility>

namespace tovik {

void TFrameTraceQueue::OnFrame(const TFrameTraceRecord& Record) {
    std::lock_guard lock(Lock);
    if (Records.size() >= Limit) {
        Records.pop_front();
        ++Dropped;
    }
    Records.push_back(Record);
}

std::vector<TFrameTraceRecord> TFrameTraceQueue::Take() {
    std::deque<TFrameTraceRecord> taken;
    {
        std::lock_guard lock(Lock);
        taken.swap(Records);
    }
    return {std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end())};
}

size_t TFrameTraceQueue::TakeDropped() {
    std::lock_guard lock(Lock);
    return std::exchange(Dropped, 0);
}

}  // namespace tovik
