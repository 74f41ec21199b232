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

}  // namespace
}  // namespace tovik
