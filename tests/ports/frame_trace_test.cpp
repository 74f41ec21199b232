// The frame trace's queue: the sink a monitor or a command-line loop reads
// from another thread. (The records an exchange traces: tests/protocol.)
#include <gtest/gtest.h>

#include "ports/FrameTrace.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(FrameTraceText, QueueKeepsTheNewestAndCountsTheDropped) {
    TFrameTraceQueue queue(2);
    for (uint8_t i = 1; i <= 3; ++i) {
        TFrameTraceRecord r;
        r.Bytes = {i};
        queue.OnFrame(r);
    }
    const auto taken = queue.Take();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].Bytes, Bytes{2});
    EXPECT_EQ(taken[1].Bytes, Bytes{3});
    EXPECT_EQ(queue.TakeDropped(), 1u);
    EXPECT_EQ(queue.TakeDropped(), 0u);
    EXPECT_TRUE(queue.Take().empty());
}

}  // namespace
}  // namespace tovik
