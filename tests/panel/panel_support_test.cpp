// The setpoint grid's sizing rule and the result list's wake-up.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "PanelTestRig.h"
#include "panel/GridAutoSize.h"

namespace tovik {
namespace {

// 7 pixels per byte, 12 high: easy to check by hand.
TTextSize FakeMeasure(const std::string& text) {
    return {static_cast<int>(text.size()) * 7, 12};
}

TEST(GridAutoSize, SizesAsTheGridRuleSays) {
    int measured = 0;
    TGridAutoSize sizer([&](const std::string& t) {
        ++measured;
        return FakeMeasure(t);
    });
    sizer.SetUp(3, 5, {"abc", "abcdefgh"});
    EXPECT_EQ(sizer.ColumnWidths(), (std::vector<int>{8 * 7 + 4, 60, 60, 60, 60}));
    EXPECT_EQ(sizer.RowHeights(), (std::vector<int>{16, 16, 16}));
    TTextGrid cells = {{"Функция", "мин", "макс", "сейчас", "новое с очень длинным текстом"},
                       {"abc", "1", "2", "3", ""},
                       {"abcdefgh", "0;0,200", "50,0", "25,0", ""}};
    ASSERT_TRUE(sizer.Pass(cells));
    // Widest text + 7 ("Функция" is 14 bytes, "макс" 8, "сейчас" 12); the
    // last column untouched.
    EXPECT_EQ(sizer.ColumnWidths(), (std::vector<int>{14 * 7 + 7, 60, 8 * 7 + 7, 12 * 7 + 7, 60}));
    EXPECT_EQ(sizer.RowHeights(), (std::vector<int>{17, 17, 17}));

    // Nothing changed: no text is measured again, no size changes.
    const int before = measured;
    EXPECT_FALSE(sizer.Pass(cells));
    EXPECT_EQ(measured, before);
    // One cell changed: only it is measured; columns only grow.
    cells[1][3] = "1234567890123";
    EXPECT_TRUE(sizer.Pass(cells));
    EXPECT_EQ(measured, before + 1);
    EXPECT_EQ(sizer.ColumnWidths()[3], 13 * 7 + 7);
    cells[1][3] = "1";
    EXPECT_FALSE(sizer.Pass(cells));
    EXPECT_EQ(sizer.ColumnWidths()[3], 13 * 7 + 7);
    // A new font: everything measured once more.
    sizer.FontChanged();
    sizer.Pass(cells);
    EXPECT_EQ(measured, before + 2 + 12);
}

class TLivePort : public TProtoPort {
public:
    TLivePort() : TProtoPort(nullptr) {}
    ~TLivePort() override { StopWorker(); }
    void Open() override {}
    void Close() override {}
    bool IsOpen() const override { return true; }
    void DiscardInput() override {}
    bool LoadSettings(TStream&) override { return true; }
    bool SaveSettings(TStream&) override { return true; }
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t count) override { return count; }
};

TEST(ResultNotifier, CalledAfterEachEventOutsideTheListLock) {
    TLivePort port;
    const int32_t owner = port.RegisterOwner();
    auto results = std::make_shared<TResultEventsList>();
    std::mutex lock;
    std::condition_variable woken;
    int calls = 0;
    bool sawEvent = false;
    // IsEmpty takes the list's lock: a notifier called under it would hang here.
    results->SetNotifier([&] {
        const bool has = !results->IsEmpty();
        std::lock_guard g(lock);
        sawEvent = sawEvent || has;
        ++calls;
        woken.notify_all();
    });
    for (int i = 0; i < 3; ++i)
        port.PutJob(MakeJob(
            MakeRequest(&port, 1, 0, {}, nullptr, 0, nullptr, 0, 0, 1), nullptr, nullptr, owner, results,
            [](TProtoRequest&) -> TOutcome { return kAnswered; }, [](const TReply&) {}));
    {
        std::unique_lock g(lock);
        ASSERT_TRUE(woken.wait_for(g, std::chrono::seconds(30), [&] { return calls == 3; }));
        EXPECT_TRUE(sawEvent);
    }
    EXPECT_EQ(results->Count(), 3u);
    // Removed: later events arrive without a call.
    results->SetNotifier(nullptr);
    port.PutJob(MakeJob(
        MakeRequest(&port, 1, 0, {}, nullptr, 0, nullptr, 0, 0, 1), nullptr, nullptr, owner, results,
        [](TProtoRequest&) -> TOutcome { return kAnswered; }, [](const TReply&) {}));
    for (int i = 0; i < 3000 && results->Count() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(results->Count(), 4u);
    std::lock_guard g(lock);
    EXPECT_EQ(calls, 3);
}

// A list that holds events back: the notifier waits for the event after
// which no job for the list is queued, and a wake asked for an owner comes
// as its last queued job is taken, before that job has run.
TEST(ResultNotifier, HeldWhileJobsAreQueuedAndWokenAsTheLastIsTaken) {
    TLivePort port;
    const int32_t owner = port.RegisterOwner();
    auto results = std::make_shared<TResultEventsList>();
    results->SetHoldWhileQueued(true);
    std::mutex lock;
    std::condition_variable changed;
    int calls = 0, started = 0, released = 0;
    results->SetNotifier([&] {
        std::lock_guard g(lock);
        ++calls;
        changed.notify_all();
    });
    // Each job runs when the test lets it, after saying that it started.
    auto gated = [&](TProtoRequest&) -> TOutcome {
        std::unique_lock g(lock);
        const int me = ++started;
        changed.notify_all();
        changed.wait(g, [&] { return released >= me; });
        return kAnswered;
    };
    auto waitFor = [&](auto done) {
        std::unique_lock g(lock);
        return changed.wait_for(g, std::chrono::seconds(30), done);
    };
    auto release = [&] {
        std::lock_guard g(lock);
        ++released;
        changed.notify_all();
    };
    auto notified = [&] {
        std::lock_guard g(lock);
        return calls;
    };
    for (int i = 0; i < 3; ++i)
        port.PutJob(MakeJob(MakeRequest(&port, 1, 0, {}, nullptr, 0, nullptr, 0, 0, 1), nullptr, nullptr,
                            owner, results, gated, [](const TReply&) {}));
    // Asked once the jobs are queued, as the panel asks: the first may have
    // been taken before the others were queued, with none after it then.
    results->WakeWhenIdle(owner);
    ASSERT_TRUE(waitFor([&] { return started == 1; }));
    release();
    // The second job has started: the first one's event is in, unannounced.
    ASSERT_TRUE(waitFor([&] { return started == 2; }));
    EXPECT_EQ(results->Count(), 1u);
    EXPECT_EQ(notified(), 0);
    release();
    // The last one taken: one wake, while it still runs.
    ASSERT_TRUE(waitFor([&] { return started == 3 && calls == 1; }));
    EXPECT_EQ(results->Count(), 2u);
    release();
    // Its event ends the run: announced, the two before it with it.
    ASSERT_TRUE(waitFor([&] { return calls == 2; }));
    EXPECT_EQ(results->Count(), 3u);
    results->SetNotifier(nullptr);
}

}  // namespace
}  // namespace tovik
