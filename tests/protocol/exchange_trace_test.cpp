// The frame trace of the ModBus exchange over a pseudo-terminal: what each
// record carries, for good, silent and damaged replies and a frame that did
// not go out, and a sink swapped while the worker runs. (Which status each
// reply gets: outcome_test.cpp.) The engine's clock moves only while the
// line is settled (support/LineClock.h).
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "ports/FrameTrace.h"
#include "ports/ProtoUART.h"
#include "protocol/Modbus.h"
#include "support/LineClock.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/TraceRecorder.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using test::ModbusFrame;
using test::PtyResponder;
using test::TraceRecorder;
using Bytes = std::vector<uint8_t>;

Bytes Read(uint16_t reg, uint8_t count, uint8_t address = 1) {
    Bytes f{address, 3, static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg), 0, count};
    AppendCrc(f);
    return f;
}

// The request a ModBus step of "read the device state" serves.
const TFrameContext kStateRead{3, {23, -1, -1}};

struct FrameTrace : ::testing::Test {
    test::ManualClock clock;
    PtyResponder dev;
    std::shared_ptr<TRequestStats> stats = std::make_shared<TRequestStats>();
    test::TWatchedUART port{stats};
    test::LineClock line{clock, port, dev};
    std::shared_ptr<TraceRecorder> trace = std::make_shared<TraceRecorder>();
    void SetUp() override {
        ASSERT_TRUE(port.SetPortName(dev.PortName()));
        port.SetFrameTrace(trace);
    }
    bool Run(const Bytes& frame, int32_t timeout, int32_t tries, TBuff& data,
             const TFrameContext& context = {}) {
        return line.Run([&] { return Exchange(port, frame, timeout, 2, tries, data, context).Ok(); });
    }
    void ExpectRequest(const TFrameTraceRecord& r, int attempt) const {
        EXPECT_EQ(r.Address, 1);
        EXPECT_EQ(r.DeviceKind, 3);
        EXPECT_EQ(r.Command.Code, 23);
        EXPECT_EQ(r.Command.Param1, -1);
        EXPECT_EQ(r.PortName, dev.PortName());
        EXPECT_EQ(r.Try, attempt);
    }
};

TEST_F(FrameTrace, GoodExchangeIsTheFrameAndItsReply) {
    const Bytes reply = ModbusFrame(1, 3, {2, 0, 5});
    dev.SetHandler([reply](const Bytes&) { return reply; });
    TBuff data;
    ASSERT_TRUE(Run(Read(6, 1), 500, 3, data, kStateRead));
    const auto records = trace->Snapshot();
    ASSERT_EQ(records.size(), 2u);

    EXPECT_EQ(records[0].Direction, TTraceDirection::Sent);
    EXPECT_EQ(records[0].Bytes, Read(6, 1));
    EXPECT_EQ(records[0].Outcome.Status, TReplyStatus::Answered);
    EXPECT_EQ(records[0].ReplyMs, -1);
    ExpectRequest(records[0], 1);

    EXPECT_EQ(records[1].Direction, TTraceDirection::Received);
    EXPECT_EQ(records[1].Bytes, reply);  // as it came over the line, CRC included
    EXPECT_EQ(records[1].Outcome.Status, TReplyStatus::Answered);
    EXPECT_GE(records[1].ReplyMs, 0);
    ExpectRequest(records[1], 1);
    // The engine's clock, which runs forward from the transmission to the
    // reply, and the time of day.
    EXPECT_GE(records[0].ClockMs, 1000u);
    EXPECT_GE(records[1].ClockMs, records[0].ClockMs);
    EXPECT_LE(records[1].ClockMs, clock.Value());
    EXPECT_GT(records[0].WallMs, 1600000000000);  // a date of this century, in ms

    // The plain Exchange still traces, without a request to name.
    trace->Clear();
    ASSERT_TRUE(Run(Read(6, 1), 500, 3, data));
    ASSERT_EQ(trace->Count(), 2u);
    EXPECT_EQ(trace->Snapshot()[0].DeviceKind, kTraceKindUnknown);
}

TEST_F(FrameTrace, TimeoutThenAnswerOnTheRetry) {
    auto n = std::make_shared<std::atomic<int>>(0);
    dev.SetHandler([n](const Bytes&) { return (*n)++ == 0 ? Bytes{} : ModbusFrame(1, 3, {2, 0, 7}); });
    // The first try's time runs out; the next one is answered.
    TBuff data;
    ASSERT_TRUE(Run(Read(6, 1), 300, 3, data, kStateRead));

    const auto records = trace->Snapshot();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].Direction, TTraceDirection::Received);
    EXPECT_EQ(records[1].Outcome.Status, TReplyStatus::NoAnswer);
    EXPECT_TRUE(records[1].Bytes.empty());
    EXPECT_GE(records[1].ReplyMs, 300);  // how long it waited
    ExpectRequest(records[1], 1);
    EXPECT_EQ(records[2].Direction, TTraceDirection::Sent);
    ExpectRequest(records[2], 2);
    EXPECT_EQ(records[3].Outcome.Status, TReplyStatus::Answered);
    EXPECT_EQ(records[3].Bytes, ModbusFrame(1, 3, {2, 0, 7}));
    ExpectRequest(records[3], 2);
}

TEST_F(FrameTrace, BadCrcIsTracedAndRetried) {
    auto n = std::make_shared<std::atomic<int>>(0);
    dev.SetHandler([n](const Bytes&) {
        Bytes r = ModbusFrame(1, 3, {2, 0, 7});
        if ((*n)++ == 0) r.back() ^= 0xFF;
        return r;
    });
    TBuff data;
    ASSERT_TRUE(Run(Read(6, 1), 500, 3, data, kStateRead));
    const auto records = trace->Snapshot();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].Outcome.Status, TReplyStatus::Damaged);
    EXPECT_EQ(records[1].Bytes.size(), 7u);
    ExpectRequest(records[1], 1);
    EXPECT_EQ(records[2].Direction, TTraceDirection::Sent);
    ExpectRequest(records[2], 2);
    EXPECT_EQ(records[3].Outcome.Status, TReplyStatus::Answered);
}

TEST(FrameTraceLine, WriteThatDidNotGoOut) {
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName("ttyNONE6"));
    auto trace = std::make_shared<TraceRecorder>();
    port.SetFrameTrace(trace);
    TBuff data;
    EXPECT_EQ(Exchange(port, Read(6, 1), 100, 2, 3, data, kStateRead).Status, TReplyStatus::NoLine);
    const auto records = trace->Snapshot();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Direction, TTraceDirection::Sent);
    EXPECT_EQ(records[0].Outcome.Status, TReplyStatus::NoLine);
    EXPECT_EQ(records[0].PortName, "ttyNONE6");
}

// The sink is set, swapped and cleared by another thread while the worker
// exchanges frames (run under ThreadSanitizer): every record reaches a sink
// whole, and once cleared nothing more is traced. The clock stands still:
// no reply misses its try.
TEST(FrameTraceSwap, SinkSwappedWhileTheWorkerRuns) {
    test::ManualClock clock;
    PtyResponder dev([](const Bytes& request) { return ModbusFrame(request.at(0), 3, {2, 0x12, 0x34}); });
    auto stats = std::make_shared<TRequestStats>();
    TProtoUART port(stats);
    ASSERT_TRUE(port.SetPortName(dev.PortName()));
    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    constexpr int kJobs = 150;
    for (int i = 0; i < kJobs; ++i) {
        auto req = MakeRequest(&port, 1, 3, {23, -1, -1}, nullptr, 0, nullptr, 0, 500, 3);
        port.PutJob(MakeJob(std::move(req), nullptr, nullptr, owner, list,
                            [](TProtoRequest& r) -> TOutcome {
                                TBuff data;
                                return Exchange(*r.Port, Read(6, 1), r.ExtraTimeout, 2, r.Tries, data,
                                                {r.DeviceKind, r.Command});
                            },
                            {}));
    }
    std::shared_ptr<TraceRecorder> sinks[2] = {std::make_shared<TraceRecorder>(),
                                               std::make_shared<TraceRecorder>()};
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(test::kHangLimitMs);
    for (size_t round = 0; list->Count() < kJobs && std::chrono::steady_clock::now() < end; ++round) {
        switch (round % 3) {
            case 0:
                port.SetFrameTrace(sinks[0]);
                break;
            case 1:
                port.SetFrameTrace(sinks[1]);
                break;
            default:
                port.SetFrameTrace(nullptr);
                break;
        }
        EXPECT_EQ(port.Tracing(), round % 3 != 2);
        std::this_thread::yield();
    }
    ASSERT_EQ(list->Count(), static_cast<size_t>(kJobs));
    port.SetFrameTrace(nullptr);
    const size_t before = sinks[0]->Count() + sinks[1]->Count();
    TBuff data;
    ASSERT_TRUE(Exchange(port, Read(6, 1), 500, 2, 3, data).Ok());
    EXPECT_EQ(sinks[0]->Count() + sinks[1]->Count(), before);

    const Bytes reply = ModbusFrame(1, 3, {2, 0x12, 0x34});
    for (const auto& sink : sinks) {
        for (const TFrameTraceRecord& r : sink->Snapshot()) {
            EXPECT_EQ(r.Bytes, r.Direction == TTraceDirection::Sent ? Read(6, 1) : reply);
            EXPECT_EQ(r.Outcome.Status, TReplyStatus::Answered);
            EXPECT_EQ(r.Command.Code, 23);
            EXPECT_EQ(r.PortName, dev.PortName());
        }
    }
    EXPECT_LE(before, 2u * kJobs);
    EXPECT_EQ(stats->GetStats().OkCount, kJobs + 1);
}

}  // namespace
}  // namespace tovik
