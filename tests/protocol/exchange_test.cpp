// The framed ModBus exchange over a real pseudo-terminal, with a scripted
// device on the other end. The engine's clock moves only while the line is
// settled (support/LineClock.h).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "ports/ProtoUART.h"
#include "protocol/Modbus.h"
#include "support/LineClock.h"
#include "support/PtyResponder.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::ModbusFrame;
using test::PtyResponder;
using test::WaitUntil;
using Bytes = std::vector<uint8_t>;

// Read `count` registers from register 6.
Bytes ReadRequest(uint8_t address = 1, uint8_t count = 2) {
    Bytes f{address, 3, 0, 6, 0, count};
    AppendCrc(f);
    return f;
}

struct ExchangeTest : ::testing::Test {
    test::ManualClock clock;
    PtyResponder dev;
    std::shared_ptr<TRequestStats> stats = std::make_shared<TRequestStats>();
    test::TWatchedUART port{stats};
    test::LineClock line{clock, port, dev};
    void SetUp() override {
        ASSERT_TRUE(port.SetPortName(dev.PortName()));
        ASSERT_TRUE(port.IsOpen());
    }
    TStatsSnapshot Stats() const { return stats->GetStats(); }
    bool Run(const Bytes& frame, int32_t timeout, int32_t gap, int32_t tries, TBuff& reply) {
        return line.Run([&] { return Exchange(port, frame, timeout, gap, tries, reply).Ok(); });
    }
};

TEST_F(ExchangeTest, AcceptedReplyHoldsSwappedDataWords) {
    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 3, {4, 0x12, 0x34, 0x56, 0x78}); });
    TBuff reply;
    ASSERT_TRUE(Run(ReadRequest(), 200, 2, 3, reply));
    EXPECT_EQ(reply, (Bytes{0x34, 0x12, 0x78, 0x56}));
    EXPECT_EQ(Stats().SentCount, 1);
    EXPECT_EQ(Stats().OkCount, 1);
    // What went on the line is exactly the frame.
    EXPECT_EQ(dev.Requests().at(0), ReadRequest());
}

TEST_F(ExchangeTest, SilentDeviceIsTriedThreeTimes) {
    TBuff reply;
    EXPECT_FALSE(Run(ReadRequest(), 60, 2, 3, reply));
    EXPECT_EQ(Stats().SentCount, 3);
    EXPECT_EQ(Stats().OkCount, 0);
    EXPECT_EQ(Stats().ErrorCount, 0);
    EXPECT_EQ(Stats().NoAnswer(), 3);
    EXPECT_EQ(dev.RequestCount(), 3u);
}

TEST_F(ExchangeTest, BadCrcThenGoodReply) {
    // Shared with the responder thread, which may outlive this scope.
    auto n = std::make_shared<std::atomic<int>>(0);
    dev.SetHandler([n](const Bytes&) {
        Bytes r = ModbusFrame(1, 3, {2, 0, 7});
        if ((*n)++ == 0) r.back() ^= 0xFF;
        return r;
    });
    TBuff reply;
    ASSERT_TRUE(Run(ReadRequest(1, 1), 200, 2, 3, reply));
    EXPECT_EQ(reply, (Bytes{7, 0}));
    EXPECT_EQ(Stats().SentCount, 2);
    EXPECT_EQ(Stats().ErrorCount, 1);
    EXPECT_EQ(Stats().OkCount, 1);
}

TEST_F(ExchangeTest, WrongAddressInBusModeIsRejectedWithoutRetry) {
    port.Bus = true;
    dev.SetHandler([](const Bytes&) { return ModbusFrame(2, 3, {2, 0, 7}); });
    TBuff reply;
    EXPECT_FALSE(Run(ReadRequest(1, 1), 200, 2, 3, reply));
    EXPECT_EQ(Stats().SentCount, 1);
    EXPECT_EQ(Stats().ErrorCount, 1);
    EXPECT_EQ(dev.RequestCount(), 1u);
}

TEST_F(ExchangeTest, OtherAddressAcceptedInSingleDeviceMode) {
    port.Bus = false;
    dev.SetHandler([](const Bytes&) { return ModbusFrame(9, 3, {2, 0, 7}); });
    TBuff reply;
    EXPECT_TRUE(Run(ReadRequest(1, 1), 200, 2, 3, reply));
    EXPECT_EQ(Stats().OkCount, 1);
}

TEST_F(ExchangeTest, WrongFunctionAndExceptionRepliesAreNotRetried) {
    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 0x83, {2}); });  // exception reply
    TBuff reply;
    EXPECT_FALSE(Run(ReadRequest(), 200, 2, 3, reply));
    EXPECT_EQ(Stats().SentCount, 1);
    EXPECT_EQ(Stats().ErrorCount, 1);

    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 16, {0, 6, 0, 1}); });
    EXPECT_FALSE(Run(ReadRequest(), 200, 2, 3, reply));
    EXPECT_EQ(Stats().SentCount, 2);
    EXPECT_EQ(Stats().ErrorCount, 2);
}

// USB adapters hand over a reply in pieces some milliseconds apart: a reply
// whose header gives its length waits for the rest over pauses longer than
// the gap.
TEST_F(ExchangeTest, ReplyInBurstsIsNotCutByTheGap) {
    Bytes data{64};
    for (int i = 0; i < 64; ++i) data.push_back(static_cast<uint8_t>(i));
    const Bytes full = ModbusFrame(1, 3, data);
    // The device sends each piece when the test says (shared with its thread,
    // which may outlive this scope).
    struct Pieces {
        std::promise<void> Second, Third;
    };
    auto pieces = std::make_shared<Pieces>();
    std::shared_future<void> second = pieces->Second.get_future(), third = pieces->Third.get_future();
    dev.SetHandler([this, full, second, third](const Bytes&) {
        dev.Inject(Bytes(full.begin(), full.begin() + 20));
        second.wait();
        dev.Inject(Bytes(full.begin() + 20, full.begin() + 45));
        third.wait();
        return Bytes(full.begin() + 45, full.end());
    });
    struct Release {  // the device never stays blocked, whatever fails
        std::shared_ptr<Pieces> P;
        bool SecondSent = false, ThirdSent = false;
        void Second() {
            if (!std::exchange(SecondSent, true)) P->Second.set_value();
        }
        void Third() {
            if (!std::exchange(ThirdSent, true)) P->Third.set_value();
        }
        ~Release() {
            Second();
            Third();
        }
    } release{pieces};

    auto done = std::async(std::launch::async, [this] {
        TBuff reply;
        const bool ok = Exchange(port, ReadRequest(1, 32), 60000, 2, 3, reply).Ok();
        return std::make_pair(ok, reply);
    });
    auto finished = [&] { return done.wait_for(0s) == std::future_status::ready; };
    // Once the engine has a piece, the clock moves on by more than the gap
    // but less than the silence that ends a reply; the engine looks at it
    // before the next piece comes.
    auto pause = [&](uint64_t bytes) {
        EXPECT_TRUE(WaitUntil([&] { return port.BytesRead() >= bytes || finished(); }));
        clock.Advance(kShortReplySilenceMs / 2);
        const uint64_t reads = port.ReadCalls();
        EXPECT_TRUE(WaitUntil([&] { return port.ReadCalls() >= reads + 2 || finished(); }));
    };
    static_assert(kShortReplySilenceMs / 2 > 2);
    pause(20);
    release.Second();
    pause(45);
    release.Third();
    ASSERT_TRUE(WaitUntil(finished));
    const auto [ok, reply] = done.get();
    EXPECT_TRUE(ok);
    EXPECT_EQ(reply.size(), 64u);
    EXPECT_EQ(Stats().SentCount, 1);
}

TEST_F(ExchangeTest, TruncatedReplyCountsAsErrorAndIsRetried) {
    // Shared with the responder thread, which may outlive this scope.
    auto n = std::make_shared<std::atomic<int>>(0);
    dev.SetHandler([n](const Bytes&) {
        Bytes r = ModbusFrame(1, 3, {4, 1, 2, 3, 4});
        if ((*n)++ == 0) r.resize(6);  // the rest never comes
        return r;
    });
    TBuff reply;
    // The silence after the cut reply ends it, long before the time-out.
    ASSERT_TRUE(Run(ReadRequest(), 60000, 2, 3, reply));
    EXPECT_EQ(Stats().SentCount, 2);
    EXPECT_EQ(Stats().ErrorCount, 1);
    EXPECT_EQ(Stats().OkCount, 1);
}

TEST_F(ExchangeTest, ALongestReplyToASmallReadIsTakenWholeAndRefused) {
    // Byte count 255: the whole reply (260 bytes) is longer than one read's
    // chunk and is taken in pieces, then refused for its size, as the answer
    // of another request. The next request is answered as usual.
    auto n = std::make_shared<std::atomic<int>>(0);
    dev.SetHandler([n](const Bytes&) {
        if ((*n)++ == 0) {
            Bytes data(256, 0x5A);
            data[0] = 255;
            return ModbusFrame(1, 3, data);
        }
        return ModbusFrame(1, 3, {4, 1, 2, 3, 4});
    });
    TBuff reply;
    EXPECT_FALSE(Run(ReadRequest(), 60000, 2, 3, reply));
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(Stats().SentCount, 1);
    EXPECT_EQ(Stats().ErrorCount, 1);
    ASSERT_TRUE(Run(ReadRequest(), 60000, 2, 3, reply));
    EXPECT_EQ(reply, (TBuff{2, 1, 4, 3}));
}

TEST_F(ExchangeTest, ShortReplyPassingItsCrcIsAnError) {
    // Four bytes with a valid CRC: no room for a byte count. The silence
    // after them ends each reply, long before the time-out.
    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 0x03, {}); });
    TBuff reply;
    EXPECT_FALSE(Run(ReadRequest(), 60000, 2, 2, reply));
    EXPECT_EQ(Stats().SentCount, 2);
    EXPECT_EQ(Stats().ErrorCount, 2);
    EXPECT_EQ(Stats().OkCount, 0);
}

TEST_F(ExchangeTest, StaleInputIsDiscardedBeforeSending) {
    dev.Inject({0x55, 0x01, 0x03});  // a late answer to something earlier
    ASSERT_TRUE(WaitUntil([&] { return dev.WaitingAtPort() == 3; }));
    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 3, {2, 0, 1}); });
    TBuff reply;
    ASSERT_TRUE(Run(ReadRequest(1, 1), 200, 2, 1, reply));
    EXPECT_EQ(reply, (Bytes{1, 0}));
}

TEST_F(ExchangeTest, NoTriesSendsNothing) {
    TBuff reply;
    EXPECT_FALSE(Run(ReadRequest(), 100, 2, 0, reply));
    EXPECT_EQ(Stats().SentCount, 0);
    // The next request is the first the device hears.
    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 3, {2, 0, 1}); });
    ASSERT_TRUE(Run(ReadRequest(1, 1), 100, 2, 1, reply));
    EXPECT_EQ(dev.Requests(), std::vector<Bytes>{ReadRequest(1, 1)});
}

TEST(ExchangeClosedLine, NothingCountedAndJobsComeBackFailed) {
    auto stats = std::make_shared<TRequestStats>();
    TProtoUART port(stats);
    ASSERT_TRUE(port.SetPortName("ttyNONE7"));
    EXPECT_FALSE(port.IsOpen());
    TBuff reply;
    EXPECT_EQ(Exchange(port, ReadRequest(), 100, 2, 3, reply).Status, TReplyStatus::NoLine);

    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    std::vector<TReplyStatus> outcomes;
    for (int i = 0; i < 3; ++i) {
        auto result = std::make_unique<TBlock>(4);
        auto req = MakeRequest(&port, 1, 1, {}, nullptr, 0, result->data(), 4, 0, 3);
        port.PutJob(MakeJob(
            std::move(req), nullptr, std::move(result), owner, list,
            [](TProtoRequest& r) -> TOutcome {
                TBuff rep;
                return Exchange(*r.Port, ReadRequest(), 100, 2, r.Tries, rep);
            },
            [&](const TReply& reply) {
                outcomes.push_back(reply.Outcome.Status);
                EXPECT_NE(reply.Data, nullptr);
            }));
    }
    ASSERT_TRUE(WaitUntil([&] { return list->Count() == 3; }));
    for (int i = 0; i < 3; ++i) list->DispatchOne();
    EXPECT_EQ(outcomes, std::vector<TReplyStatus>(3, TReplyStatus::NoLine));
    const auto s = stats->GetStats();
    EXPECT_EQ(s.SentCount + s.OkCount + s.ErrorCount, 0);
}

// The clock stands still: only the stop can end the wait for the reply.
TEST(ExchangeStop, StopWorkerEndsAWaitWithoutEvent) {
    test::ManualClock clock;
    PtyResponder dev;  // never answers
    auto stats = std::make_shared<TRequestStats>();
    auto port = std::make_unique<TProtoUART>(stats);
    ASSERT_TRUE(port->SetPortName(dev.PortName()));
    const int32_t owner = port->RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    auto result = std::make_unique<TBlock>(4);
    auto req = MakeRequest(port.get(), 1, 1, {}, nullptr, 0, result->data(), 4, 0, 3);
    port->PutJob(MakeJob(std::move(req), nullptr, std::move(result), owner, list,
                         [](TProtoRequest& r) -> TOutcome {
                             TBuff rep;
                             return Exchange(*r.Port, ReadRequest(), 10000, 2, r.Tries, rep);
                         },
                         {}));
    ASSERT_TRUE(dev.WaitForRequests(1));
    EXPECT_EQ(dev.RequestCount(), 1u);

    auto stopped = std::async(std::launch::async, [&] { port->StopWorker(); });
    if (!WaitUntil([&] { return stopped.wait_for(0s) == std::future_status::ready; })) {
        ADD_FAILURE() << "the stop did not end the wait";
        while (stopped.wait_for(10ms) != std::future_status::ready) clock.Advance(1000000);
    }
    EXPECT_FALSE(port->HasWorker());
    EXPECT_TRUE(list->IsEmpty());
    // Nothing stays locked.
    EXPECT_TRUE(port->IsOwnerIdle(owner));
    EXPECT_EQ(port->RegisterOwner(), owner + 1);
    EXPECT_EQ(stats->GetStats().SentCount, 1);
    stats->ResetStats();
    list->AddEvent({}, kAnswered, nullptr);
    EXPECT_FALSE(list->IsEmpty());
    port.reset();
}

}  // namespace
}  // namespace tovik
