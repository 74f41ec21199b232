// The framed ModBus exchange over a real pseudo-terminal, with a scripted
// device on the other end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ports/ProtoUART.h"
#include "protocol/Frame.h"
#include "support/PtyResponder.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::ModbusFrame;
using test::PtyResponder;
using Bytes = std::vector<uint8_t>;

// Read `count` registers from register 6.
Bytes ReadRequest(uint8_t address = 1, uint8_t count = 2) {
    Bytes f{address, 3, 0, 6, 0, count};
    AppendCrc(f);
    return f;
}

struct ExchangeTest : ::testing::Test {
    PtyResponder dev;
    std::shared_ptr<TRequestStats> stats = std::make_shared<TRequestStats>();
    TProtoUART port{stats};
    void SetUp() override {
        ASSERT_TRUE(port.SetPortName(dev.PortName()));
        ASSERT_TRUE(port.IsOpen());
    }
    TStatsSnapshot Stats() const { return stats->GetStats(); }
};

TEST_F(ExchangeTest, AcceptedReplyHoldsSwappedDataWords) {
    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 3, {4, 0x12, 0x34, 0x56, 0x78}); });
    TBuff reply;
    ASSERT_TRUE(Exchange(port, ReadRequest(), 200, 2, 3, reply));
    EXPECT_EQ(reply, (Bytes{0x34, 0x12, 0x78, 0x56}));
    EXPECT_EQ(Stats().SentCount, 1);
    EXPECT_EQ(Stats().OkCount, 1);
    // What went on the line is exactly the frame.
    EXPECT_EQ(dev.Requests().at(0), ReadRequest());
}

TEST_F(ExchangeTest, SilentDeviceIsTriedThreeTimes) {
    TBuff reply;
    EXPECT_FALSE(Exchange(port, ReadRequest(), 60, 2, 3, reply));
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
    ASSERT_TRUE(Exchange(port, ReadRequest(1, 1), 200, 2, 3, reply));
    EXPECT_EQ(reply, (Bytes{7, 0}));
    EXPECT_EQ(Stats().SentCount, 2);
    EXPECT_EQ(Stats().ErrorCount, 1);
    EXPECT_EQ(Stats().OkCount, 1);
}

TEST_F(ExchangeTest, WrongAddressInBusModeIsRejectedWithoutRetry) {
    port.Bus = true;
    dev.SetHandler([](const Bytes&) { return ModbusFrame(2, 3, {2, 0, 7}); });
    TBuff reply;
    EXPECT_FALSE(Exchange(port, ReadRequest(1, 1), 200, 2, 3, reply));
    EXPECT_EQ(Stats().SentCount, 1);
    EXPECT_EQ(Stats().ErrorCount, 1);
    EXPECT_EQ(dev.RequestCount(), 1u);
}

TEST_F(ExchangeTest, OtherAddressAcceptedInSingleDeviceMode) {
    port.Bus = false;
    dev.SetHandler([](const Bytes&) { return ModbusFrame(9, 3, {2, 0, 7}); });
    TBuff reply;
    EXPECT_TRUE(Exchange(port, ReadRequest(1, 1), 200, 2, 3, reply));
    EXPECT_EQ(Stats().OkCount, 1);
}

TEST_F(ExchangeTest, WrongFunctionAndExceptionRepliesAreNotRetried) {
    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 0x83, {2}); });  // exception reply
    TBuff reply;
    EXPECT_FALSE(Exchange(port, ReadRequest(), 200, 2, 3, reply));
    EXPECT_EQ(Stats().SentCount, 1);
    EXPECT_EQ(Stats().ErrorCount, 1);

    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 16, {0, 6, 0, 1}); });
    EXPECT_FALSE(Exchange(port, ReadRequest(), 200, 2, 3, reply));
    EXPECT_EQ(Stats().SentCount, 2);
    EXPECT_EQ(Stats().ErrorCount, 2);
}

TEST_F(ExchangeTest, ReplyInBurstsIsNotCutByTheGap) {
    // USB adapters hand over a reply in pieces several milliseconds apart.
    Bytes data{64};
    for (int i = 0; i < 64; ++i) data.push_back(static_cast<uint8_t>(i));
    const Bytes full = ModbusFrame(1, 3, data);
    dev.SetHandler([this, full](const Bytes&) {
        dev.Inject(Bytes(full.begin(), full.begin() + 20));
        std::this_thread::sleep_for(8ms);
        dev.Inject(Bytes(full.begin() + 20, full.begin() + 45));
        std::this_thread::sleep_for(8ms);
        return Bytes(full.begin() + 45, full.end());
    });
    TBuff reply;
    ASSERT_TRUE(Exchange(port, ReadRequest(1, 32), 300, 2, 3, reply));
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
    ASSERT_TRUE(Exchange(port, ReadRequest(), 200, 2, 3, reply));
    EXPECT_EQ(Stats().SentCount, 2);
    EXPECT_EQ(Stats().ErrorCount, 1);
    EXPECT_EQ(Stats().OkCount, 1);
}

TEST_F(ExchangeTest, ShortReplyPassingItsCrcIsAnError) {
    // Four bytes with a valid CRC: no room for a byte count.
    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 0x03, {}); });
    TBuff reply;
    EXPECT_FALSE(Exchange(port, ReadRequest(), 80, 2, 2, reply));
    EXPECT_EQ(Stats().SentCount, 2);
    EXPECT_EQ(Stats().ErrorCount, 2);
    EXPECT_EQ(Stats().OkCount, 0);
}

TEST_F(ExchangeTest, StaleInputIsDiscardedBeforeSending) {
    dev.Inject({0x55, 0x01, 0x03});  // a late answer to something earlier
    std::this_thread::sleep_for(20ms);
    dev.SetHandler([](const Bytes&) { return ModbusFrame(1, 3, {2, 0, 1}); });
    TBuff reply;
    ASSERT_TRUE(Exchange(port, ReadRequest(1, 1), 200, 2, 1, reply));
    EXPECT_EQ(reply, (Bytes{1, 0}));
}

TEST_F(ExchangeTest, NoTriesSendsNothing) {
    TBuff reply;
    EXPECT_FALSE(Exchange(port, ReadRequest(), 100, 2, 0, reply));
    EXPECT_EQ(Stats().SentCount, 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(dev.RequestCount(), 0u);
}

TEST(ExchangeClosedLine, NothingCountedAndJobsComeBackFailed) {
    auto stats = std::make_shared<TRequestStats>();
    TProtoUART port(stats);
    ASSERT_TRUE(port.SetPortName("ttyNONE7"));
    EXPECT_FALSE(port.IsOpen());
    TBuff reply;
    EXPECT_FALSE(Exchange(port, ReadRequest(), 100, 2, 3, reply));

    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    std::vector<int> outcomes;
    for (int i = 0; i < 3; ++i) {
        auto result = std::make_unique<TBlock>(4);
        auto req = MakeRequest(&port, 1, 1, {}, nullptr, 0, result->data(), 4, 0, 3);
        port.PutJob(MakeJob(
            std::move(req), nullptr, std::move(result), owner, list,
            [](TProtoRequest& r) -> uint8_t {
                TBuff rep;
                return Exchange(*r.Port, ReadRequest(), 100, 2, r.Tries, rep);
            },
            [&](uint8_t ok, const TBlock* data) {
                outcomes.push_back(ok);
                EXPECT_NE(data, nullptr);
            }));
    }
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (list->Count() < 3 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
    ASSERT_EQ(list->Count(), 3u);
    for (int i = 0; i < 3; ++i) list->DispatchOne();
    EXPECT_EQ(outcomes, (std::vector<int>{0, 0, 0}));
    const auto s = stats->GetStats();
    EXPECT_EQ(s.SentCount + s.OkCount + s.ErrorCount, 0);
}

TEST(ExchangeStop, StopWorkerDuringAWaitReturnsPromptlyWithoutEvent) {
    PtyResponder dev;  // never answers
    auto stats = std::make_shared<TRequestStats>();
    auto port = std::make_unique<TProtoUART>(stats);
    ASSERT_TRUE(port->SetPortName(dev.PortName()));
    const int32_t owner = port->RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    auto result = std::make_unique<TBlock>(4);
    auto req = MakeRequest(port.get(), 1, 1, {}, nullptr, 0, result->data(), 4, 0, 3);
    port->PutJob(MakeJob(std::move(req), nullptr, std::move(result), owner, list,
                         [](TProtoRequest& r) -> uint8_t {
                             TBuff rep;
                             return Exchange(*r.Port, ReadRequest(), 10000, 2, r.Tries, rep);
                         },
                         {}));
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (dev.RequestCount() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(dev.RequestCount(), 1u);

    const auto t0 = std::chrono::steady_clock::now();
    port->StopWorker();
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, 500ms);  // one read wait, not the 10 s reply time
    EXPECT_FALSE(port->HasWorker());
    EXPECT_TRUE(list->IsEmpty());
    // Nothing stays locked.
    EXPECT_TRUE(port->IsOwnerIdle(owner));
    EXPECT_EQ(port->RegisterOwner(), owner + 1);
    EXPECT_EQ(stats->GetStats().SentCount, 1);
    stats->ResetStats();
    list->AddEvent({}, 1, nullptr);
    EXPECT_FALSE(list->IsEmpty());
    port.reset();
}

}  // namespace
}  // namespace tovik
