// The request engine without a line: queue order, owners, dropped jobs,
// result delivery and block ownership.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ports/ProtoPort.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;

// A port whose line does nothing: the engine tests need only the queue.
class TNullPort : public TProtoPort {
public:
    TNullPort() : TProtoPort(nullptr) {}
    ~TNullPort() override { StopWorker(); }
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t count) override { return count; }
    void Open() override {}
    void Close() override {}
    bool IsOpen() const override { return true; }
    void DiscardInput() override {}
    bool LoadSettings(TStream&) override { return true; }
    bool SaveSettings(TStream&) override { return true; }
};

// Counts live instances so tests can see every block released.
struct TTracked {
    static inline std::atomic<int> Live{0};
    TTracked() { ++Live; }
    TTracked(const TTracked&) { ++Live; }
    ~TTracked() { --Live; }
};

using test::WaitUntil;

std::unique_ptr<TProtoJob> Job(TProtoPort& port, int32_t owner, std::shared_ptr<TResultEventsList> list,
                               TExecutor exec, TResultHandler handler, int rx = 4) {
    auto result = rx > 0 ? std::make_unique<TBlock>(static_cast<size_t>(rx)) : nullptr;
    uint8_t* rxp = result ? result->data() : nullptr;
    auto tx = std::make_unique<TBlock>(TBlock{1, 2, 3});
    const TBlock* txRef = tx.get();
    auto req = MakeRequest(&port, 1, 0, TCommandDescriptor{23, -1, 0}, std::move(tx), 3, rxp, rx, 0, 3);
    return MakeJob(std::move(req), txRef, std::move(result), owner, std::move(list), std::move(exec),
                   std::move(handler));
}

TEST(OwnerIds, AreSequentialAndNeverReused) {
    TNullPort port;
    EXPECT_EQ(port.RegisterOwner(), 0);
    EXPECT_EQ(port.RegisterOwner(), 1);
    EXPECT_TRUE(port.UnregisterOwner(0));
    EXPECT_FALSE(port.UnregisterOwner(0));  // "ses no found"; the list stays usable
    EXPECT_EQ(port.RegisterOwner(), 2);
    EXPECT_FALSE(port.IsOwnerRegistered(0));
    EXPECT_TRUE(port.IsOwnerRegistered(1));
    EXPECT_STREQ(kOwnerNotFound, "ses no found");
}

TEST(OwnerIds, IdleOnlyWhenRegisteredAndNothingQueued) {
    TNullPort port;
    EXPECT_FALSE(port.IsOwnerIdle(7));  // never registered, queue empty
    const int32_t owner = port.RegisterOwner();
    EXPECT_TRUE(port.IsOwnerIdle(owner));

    // While the worker executes the owner's only job, the owner is idle.
    std::atomic<bool> inside{false}, release{false};
    auto list = std::make_shared<TResultEventsList>();
    port.PutJob(Job(port, owner, list,
                    [&](TProtoRequest&) -> TOutcome {
                        inside = true;
                        while (!release) std::this_thread::sleep_for(1ms);
                        return kAnswered;
                    },
                    {}));
    ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
    EXPECT_TRUE(port.IsOwnerIdle(owner));
    // A second job waiting in the queue makes it busy.
    port.PutJob(Job(port, owner, list, [](TProtoRequest&) -> TOutcome { return kAnswered; }, {}));
    EXPECT_FALSE(port.IsOwnerIdle(owner));
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return list->Count() == 2; }));
    EXPECT_TRUE(port.IsOwnerIdle(owner));
}

TEST(Queue, ExecutesInOrderOneAtATime) {
    TNullPort port;
    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    std::vector<int> order;
    std::mutex m;
    std::atomic<int> running{0}, maxRunning{0};
    for (int i = 0; i < 3; ++i) {
        port.PutJob(Job(port, owner, list,
                        [&, i](TProtoRequest&) -> TOutcome {
                            const int now = ++running;
                            maxRunning = std::max(maxRunning.load(), now);
                            std::this_thread::sleep_for(
                                5ms);  // room for an overlap to show, if there were one
                            {
                                std::lock_guard lock(m);
                                order.push_back(i);
                            }
                            --running;
                            return kAnswered;
                        },
                        {}));
    }
    ASSERT_TRUE(WaitUntil([&] { return list->Count() == 3; }));
    std::lock_guard lock(m);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(maxRunning.load(), 1);
}

TEST(Queue, JobOfUnknownOwnerIsDroppedWithoutExecutionAndReleased) {
    TTracked::Live = 0;
    {
        TNullPort port;
        auto list = std::make_shared<TResultEventsList>();
        std::atomic<int> executed{0};
        auto tracked = std::make_shared<TTracked>();
        port.PutJob(Job(
            port, 42, list,
            [&, tracked](TProtoRequest&) -> TOutcome {
                ++executed;
                return kAnswered;
            },
            [tracked](const TReply&) {}));
        tracked.reset();
        // Once the worker has taken and dropped it, the closures are gone.
        ASSERT_TRUE(WaitUntil([] { return TTracked::Live == 0; }));
        EXPECT_EQ(port.QueueLength(), 0u);
        EXPECT_EQ(executed.load(), 0);
        EXPECT_TRUE(list->IsEmpty());
    }
}

TEST(Queue, OwnerUnregisteredDuringExecutionGetsNoEvent) {
    TNullPort port;
    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    std::atomic<bool> inside{false}, release{false};
    port.PutJob(Job(port, owner, list,
                    [&](TProtoRequest&) -> TOutcome {
                        inside = true;
                        while (!release) std::this_thread::sleep_for(1ms);
                        return kAnswered;
                    },
                    {}));
    ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
    EXPECT_TRUE(port.UnregisterOwner(owner));
    // Another owner's job behind it: once its result is in, the first job's
    // would have been delivered before it.
    const int32_t other = port.RegisterOwner();
    bool otherDelivered = false;
    port.PutJob(Job(
        port, other, list, [](TProtoRequest&) -> TOutcome { return kAnswered; },
        [&](const TReply&) { otherDelivered = true; }));
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return !list->IsEmpty(); }));
    EXPECT_EQ(list->Count(), 1u);
    list->DispatchOne();
    EXPECT_TRUE(otherDelivered);
    EXPECT_TRUE(list->IsEmpty());
}

TEST(Queue, ExecutorSeesRequestFieldsAndHandlerGetsItsBlock) {
    TNullPort port;
    port.ReplyTimeout = 100;
    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    port.PutJob(Job(port, owner, list,
                    [&](TProtoRequest& r) -> TOutcome {
                        EXPECT_EQ(r.Port, &port);
                        EXPECT_EQ(r.Command.Code, 23);
                        EXPECT_EQ(r.TxLength, 3);
                        EXPECT_EQ(*r.TxData, (TBlock{1, 2, 3}));
                        r.TxData.reset();  // the executor releases it once copied
                        r.RxBuffer[3] = 9;
                        return kAnswered;
                    },
                    {}));
    ASSERT_TRUE(WaitUntil([&] { return !list->IsEmpty(); }));
    // The handler is only called by DispatchOne, in the calling thread.
    int calls = 0;
    list->AddEvent([&](const TReply&) { ++calls; }, TOutcome{}, nullptr);
    list->DispatchOne();  // the job's event: no handler, removed silently
    EXPECT_EQ(calls, 0);
    list->DispatchOne();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(list->IsEmpty());
}

TEST(ResultEvents, DispatchedInOrderAndCallbackSeesOnlyTheRest) {
    auto list = std::make_shared<TResultEventsList>();
    std::vector<int> seen;
    bool emptyInsideSecond = false;
    list->AddEvent(
        [&](const TReply& r) {
            seen.push_back(r.Ok());
            ASSERT_NE(r.Data, nullptr);
            EXPECT_EQ((*r.Data)[0], 5);
            EXPECT_FALSE(list->IsEmpty());
        },
        kAnswered, std::make_unique<TBlock>(TBlock{5}));
    list->AddEvent(
        [&](const TReply& r) {
            seen.push_back(r.Ok());
            EXPECT_EQ(r.Data, nullptr);
            emptyInsideSecond = list->IsEmpty();
        },
        TOutcome{}, nullptr);
    list->DispatchOne();
    list->DispatchOne();
    list->DispatchOne();  // empty: nothing happens
    EXPECT_EQ(seen, (std::vector<int>{1, 0}));
    EXPECT_TRUE(emptyInsideSecond);
}

TEST(ResultEvents, DestroyedListCallsNothingAndReleasesEverything) {
    TTracked::Live = 0;
    bool called = false;
    {
        TResultEventsList list;
        auto t = std::make_shared<TTracked>();
        list.AddEvent([&called, t](const TReply&) { called = true; }, kAnswered,
                      std::make_unique<TBlock>(19));
        list.AddEvent([&called, t](const TReply&) { called = true; }, kAnswered, nullptr);
    }
    EXPECT_FALSE(called);
    EXPECT_EQ(TTracked::Live.load(), 0);
}

TEST(ResultEvents, CallbackMayQueueAndReenter) {
    auto list = std::make_shared<TResultEventsList>();
    int inner = 0;
    list->AddEvent(
        [&](const TReply&) {
            list->AddEvent([&](const TReply&) { ++inner; }, kAnswered, nullptr);
            list->DispatchOne();  // re-entered from a callback, as a modal box would
        },
        kAnswered, nullptr);
    list->DispatchOne();
    EXPECT_EQ(inner, 1);
}

TEST(PortLifetime, DestroyedWithQueuedJobsReleasesThemWithoutEvents) {
    TTracked::Live = 0;
    auto list = std::make_shared<TResultEventsList>();
    {
        TNullPort port;
        const int32_t owner = port.RegisterOwner();
        std::atomic<bool> inside{false};
        auto t = std::make_shared<TTracked>();
        // The first job blocks the worker until the stop; the rest wait.
        port.PutJob(Job(
            port, owner, list,
            [&port, &inside, t](TProtoRequest&) -> TOutcome {
                inside = true;
                while (!port.StopRequested()) std::this_thread::sleep_for(1ms);
                return kAnswered;
            },
            [t](const TReply&) {}));
        for (int i = 0; i < 5; ++i)
            port.PutJob(Job(
                port, owner, list, [t](TProtoRequest&) -> TOutcome { return kAnswered; },
                [t](const TReply&) {}));
        t.reset();
        ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
    }
    EXPECT_EQ(TTracked::Live.load(), 0);
    EXPECT_TRUE(list->IsEmpty());  // the abandoned job gets no event
}

TEST(PortLifetime, StopWorkerTwiceAndQueueAfterStop) {
    TNullPort port;
    port.StopWorker();
    EXPECT_FALSE(port.HasWorker());
    port.StopWorker();
    const int32_t owner = port.RegisterOwner();
    port.PutJob(Job(port, owner, std::make_shared<TResultEventsList>(),
                    [](TProtoRequest&) -> TOutcome { return kAnswered; }, {}));
    EXPECT_EQ(port.QueueLength(), 1u);  // nobody serves it; released with the port
}

// No jobs, no wake-ups: the worker waits on its signal, not a timer. Only
// watching it for a while can show that; a loaded machine makes the while
// longer and the check stricter, never a sound worker fail.
TEST(PortLifetime, IdleWorkerSleeps) {
    TNullPort port;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(port.WorkerWakeUps(), 0u);
    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    port.PutJob(Job(port, owner, list, [](TProtoRequest&) -> TOutcome { return kAnswered; }, {}));
    ASSERT_TRUE(WaitUntil([&] { return !list->IsEmpty(); }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(port.WorkerWakeUps(), 1u);
}

TEST(Beep, EmptyTakeSoundsTheHookOnce) {
    static std::atomic<int> beeps{0};
    beeps = 0;
    SetBeepHook([] { ++beeps; });
    TNullPort port;
    port.StopWorker();
    TProtoJob slot;
    EXPECT_FALSE(port.TakeJob(slot));
    EXPECT_EQ(beeps.load(), 1);
    SetBeepHook(nullptr);
    EXPECT_FALSE(port.TakeJob(slot));
    EXPECT_EQ(beeps.load(), 1);
}

TEST(Stats, CountersAndReset) {
    TRequestStats s;
    s.IncSent();
    s.IncSent();
    s.IncSent();
    s.IncOk();
    s.IncError();
    auto v = s.GetStats();
    EXPECT_EQ(v.SentCount, 3);
    EXPECT_EQ(v.OkCount, 1);
    EXPECT_EQ(v.ErrorCount, 1);
    EXPECT_EQ(v.NoAnswer(), 1);
    s.ResetStats();
    v = s.GetStats();
    EXPECT_EQ(v.SentCount + v.OkCount + v.ErrorCount, 0);
}

TEST(NameIdentity, FoldsBytesIntoFour) {
    EXPECT_EQ(NameId("COM1"), 0x314D4F43);
    EXPECT_EQ(NameId("COM10"), 0x314D4F73);
    EXPECT_EQ(NameId(""), 0);
    EXPECT_EQ(NameId("pts/3"), NameId("pts/3"));
    EXPECT_NE(NameId("ttyUSB0"), NameId("ttyUSB1"));
}

}  // namespace
}  // namespace tovik
