// Replies that come late, or answer another request: ModBus RTU carries no
// transaction number, so only the shape of a reply and a quiet line between
// requests keep a late answer from being taken for the next request's.
// (The native requests share the quiet line.)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>

#include "ports/FrameTrace.h"
#include "ports/ProtoUART.h"
#include "protocol/Commands.h"
#include "protocol/Executor.h"
#include "protocol/Frame.h"
#include "protocol/Modbus.h"
#include "protocol/Outcome.h"
#include "support/LineClock.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/TraceRecorder.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using test::ManualClock;
using test::ModbusFrame;
using test::PtyResponder;
using test::TraceRecorder;
using Bytes = std::vector<uint8_t>;

// How long a test waits for an event before it moves the clock again.
constexpr std::chrono::milliseconds kStep{20};

Bytes Read(uint16_t reg, uint16_t count) {
    Bytes f{1,
            3,
            static_cast<uint8_t>(reg >> 8),
            static_cast<uint8_t>(reg),
            static_cast<uint8_t>(count >> 8),
            static_cast<uint8_t>(count)};
    AppendCrc(f);
    return f;
}

Bytes Write(uint16_t reg, std::vector<uint16_t> values) {
    const auto n = static_cast<uint8_t>(values.size());
    Bytes f{1, 16, static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg), 0, n, n};
    for (uint16_t v : values) {
        f.push_back(static_cast<uint8_t>(v >> 8));
        f.push_back(static_cast<uint8_t>(v));
    }
    AppendCrc(f);
    return f;
}

// The relay's answer to a read of `count` registers, every word `value`.
Bytes ReadReply(uint16_t count, uint16_t value) {
    Bytes payload{static_cast<uint8_t>(2 * count)};
    for (uint16_t i = 0; i < count; ++i) {
        payload.push_back(static_cast<uint8_t>(value >> 8));
        payload.push_back(static_cast<uint8_t>(value));
    }
    return ModbusFrame(1, 3, payload);
}

// The engine's clock stands still unless a test moves it.
struct LateReply : ::testing::Test {
    ManualClock clock;
    PtyResponder dev;
    std::shared_ptr<TRequestStats> stats = std::make_shared<TRequestStats>();
    test::TWatchedUART port{stats};
    test::LineClock line{clock, port, dev};
    std::shared_ptr<TraceRecorder> trace = std::make_shared<TraceRecorder>();
    void SetUp() override {
        ASSERT_TRUE(port.SetPortName(dev.PortName()));
        port.SetFrameTrace(trace);
    }
    TStatsSnapshot Stats() const { return stats->GetStats(); }
};

// Every read size the relays are asked for, answered with every other size:
// only the reply of the size asked for is data.
TEST_F(LateReply, ReadRepliesOfAnotherSizeAreNeverData) {
    const uint16_t sizes[] = {1, 2, 4, 6, 7, 8, 10, 12, 31, 32};
    for (uint16_t asked : sizes) {
        for (uint16_t answered : sizes) {
            stats->ResetStats();
            dev.SetHandler([answered](const Bytes&) { return ReadReply(answered, 0x0102); });
            TBuff data{0xEE};
            const bool ok = line.Run([&] { return Exchange(port, Read(100, asked), 500, 2, 3, data).Ok(); });
            if (asked == answered) {
                EXPECT_TRUE(ok) << asked;
                EXPECT_EQ(data.size(), 2u * asked);
                continue;
            }
            EXPECT_FALSE(ok) << asked << " answered with " << answered;
            EXPECT_TRUE(data.empty()) << asked << " answered with " << answered;
            // Counted as an error and not tried again: it answers something else.
            EXPECT_EQ(Stats().SentCount, 1) << asked << " answered with " << answered;
            EXPECT_EQ(Stats().ErrorCount, 1) << asked << " answered with " << answered;
        }
    }
}

TEST_F(LateReply, WriteRepliesMustEchoTheRegisterAndCount) {
    const Bytes request = Write(16, {1});
    const std::pair<Bytes, bool> replies[] = {
        {ModbusFrame(1, 16, {0, 16, 0, 1}), true},   // the echo
        {ModbusFrame(1, 16, {0, 17, 0, 1}), false},  // another register
        {ModbusFrame(1, 16, {0, 16, 0, 2}), false},  // another count
        {ModbusFrame(1, 16, {1, 16, 0, 1}), false},  // high byte of the register
        {ReadReply(1, 0x0010), false},               // a read's answer
        {ModbusFrame(1, 0x90, {4}), false},          // an exception
    };
    for (const auto& [reply, accepted] : replies) {
        dev.SetHandler([reply](const Bytes&) { return reply; });
        TBuff data;
        EXPECT_EQ(line.Run([&] { return Exchange(port, request, 500, 2, 3, data).Ok(); }), accepted)
            << int(reply[2]) << " " << int(reply[3]);
    }
}

// An exception reply is five bytes: it is complete at its fifth byte even
// when more bytes follow at once, counted as an error without another try,
// and never taken as data. The clock stands still, so waiting for a silence
// would never end.
TEST_F(LateReply, ExceptionReplyEndsAtItsFifthByte) {
    for (uint8_t function : {uint8_t{3}, uint8_t{16}}) {
        trace->Clear();
        stats->ResetStats();
        const Bytes exception = ModbusFrame(1, static_cast<uint8_t>(function | 0x80), {2});
        Bytes stream = exception;
        for (int i = 0; i < 3; ++i) stream.insert(stream.end(), exception.begin(), exception.end());
        dev.SetHandler([stream](const Bytes&) { return stream; });
        const Bytes request = function == 3 ? Read(6, 1) : Write(16, {1});
        auto done = std::async(std::launch::async, [&] {
            TBuff data{1, 2, 3};
            const TOutcome outcome = Exchange(port, request, 500, 2, 3, data);
            return std::make_pair(outcome, data);
        });
        if (done.wait_for(std::chrono::milliseconds(test::kHangLimitMs)) != std::future_status::ready) {
            // Let every try run out, then fail.
            while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
                clock.Advance(100000);
            FAIL() << "the exception reply waited for a silence";
        }
        const auto [outcome, data] = done.get();
        EXPECT_EQ(outcome, (TOutcome{TReplyStatus::Exception, 2}));
        EXPECT_TRUE(data.empty());
        EXPECT_EQ(Stats().SentCount, 1);
        EXPECT_EQ(Stats().ErrorCount, 1);
        EXPECT_EQ(Stats().OkCount, 0);
        const auto records = trace->Snapshot();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[1].Bytes, exception);
        EXPECT_EQ(records[1].Outcome.Status, TReplyStatus::Exception);
        EXPECT_EQ(records[1].Outcome.ExceptionCode, 2);
    }
}

// The next read after a failed one waits for a quiet line: a late reply of
// the same size that comes during that wait is dropped, not taken for the
// next read's answer.
TEST_F(LateReply, LateReplyWithinTheQuietWaitIsDiscarded) {
    port.ReplyTimeout = 100;
    // The relay does not answer the first read in time; the second it answers.
    dev.SetHandler(
        [](const Bytes& request) { return request == Read(7, 1) ? ReadReply(1, 0x0002) : Bytes{}; });
    auto first = std::async(std::launch::async, [this] {
        TBuff data;
        return Exchange(port, Read(6, 1), 200, 2, 1, data).Ok();
    });
    clock.AdvanceUntil(201, [&] { return first.wait_for(kStep) == std::future_status::ready; });
    ASSERT_FALSE(first.get());

    auto second = std::async(std::launch::async, [this] {
        TBuff data;
        const bool ok = Exchange(port, Read(7, 1), 100000, 2, 1, data).Ok();
        return std::make_pair(ok, data);
    });
    // Now the first read's answer comes, late.
    const Bytes late = ReadReply(1, 0x0001);
    dev.Inject(late);
    // It is dropped before the second read goes out.
    auto secondSent = [](const TraceRecorder::Records& records) {
        return std::any_of(records.begin(), records.end(), [](const TFrameTraceRecord& r) {
            return r.Direction == TTraceDirection::Sent && r.Bytes == Read(7, 1);
        });
    };
    ASSERT_TRUE(trace->WaitFor([&](const TraceRecorder::Records& records) {
        Bytes dropped;
        for (const auto& r : records)
            if (r.Outcome.Status == TReplyStatus::Late)
                dropped.insert(dropped.end(), r.Bytes.begin(), r.Bytes.end());
        return dropped == late || secondSent(records);
    }));
    ASSERT_FALSE(secondSent(trace->Snapshot())) << "the second read went out before the line was quiet";
    // The line has been quiet for the reply time-out.
    clock.AdvanceUntil(101, [&] { return second.wait_for(kStep) == std::future_status::ready; });
    const auto [ok, data] = second.get();
    ASSERT_TRUE(ok);
    EXPECT_EQ(data, (Bytes{2, 0}));  // the second read's own answer
    EXPECT_EQ(dev.RequestCount(), 2u);
    EXPECT_EQ(stats->GetStats().OkCount, 1);
}

// The relay answers every request late: the first try of a read runs out,
// the second is answered, and the answer to the first comes after that.
// The next request of the same size must not take it for its own (a ModBus
// reply carries no request number; a native one carries its command, so
// there the next request would lose a try to it): after an answer that
// needed more than one try, the next request waits for a quiet line.
TEST_F(LateReply, AnswerOnASecondTryLeavesTheLineToFallQuiet) {
    for (const bool modbus : {false, true}) {
        SCOPED_TRACE(modbus ? "ModBus" : "native");
        trace->Clear();
        port.ReplyTimeout = 100;
        const uint8_t kind = modbus ? kKindTovikModbus : kKindTovik;
        // The state (register 6, command 23) and the alarm count (register
        // 7, command 11): one register each.
        const Bytes state =
            modbus ? ReadReply(1, 0x0005) : BuildNativeFrame(Bytes{1, CmdReadState, 0, 0, 0, 5});
        const Bytes count =
            modbus ? ReadReply(1, 0x0009) : BuildNativeFrame(Bytes{1, CmdReadAlarmCount, 9, 0});
        auto stateAsked = std::make_shared<std::atomic<int>>(0);
        dev.SetHandler([=](const Bytes& request) -> Bytes {
            const bool isState = modbus
                                     ? request.size() > 3 && request[3] == 6
                                     : NativeFramePayload(request).value_or(Bytes{0, 0})[1] == CmdReadState;
            if (isState) return (*stateAsked)++ == 0 ? Bytes{} : state;
            return count;
        });
        auto run = [&](uint8_t code, int32_t tries) {
            TBlock block(4, 0);
            auto request =
                MakeRequest(&port, 1, kind, {code, -1, -1}, nullptr, 0, block.data(), 4, 100, tries);
            const TOutcome outcome = ExecuteRequest(*request);
            block.resize(static_cast<size_t>(std::max(request->RxReceived, 0)));
            return std::make_pair(outcome, block);
        };
        const auto first = line.Run([&] { return run(CmdReadState, 2); });
        ASSERT_TRUE(first.first.Ok());
        ASSERT_EQ(*stateAsked, 2);

        auto second = std::async(std::launch::async, [&] { return run(CmdReadAlarmCount, 1); });
        // The answer to the first try comes now.
        dev.Inject(state);
        auto countSent = [&](const TraceRecorder::Records& records) {
            return std::any_of(records.begin(), records.end(), [&](const TFrameTraceRecord& r) {
                return r.Direction == TTraceDirection::Sent && r.Command.Code == CmdReadAlarmCount;
            });
        };
        ASSERT_TRUE(trace->WaitFor([&](const TraceRecorder::Records& records) {
            Bytes dropped;
            for (const auto& r : records)
                if (r.Outcome.Status == TReplyStatus::Late && r.Try == 0)
                    dropped.insert(dropped.end(), r.Bytes.begin(), r.Bytes.end());
            return dropped == state || countSent(records);
        }));
        ASSERT_FALSE(countSent(trace->Snapshot())) << "the next request went out before the line was quiet";
        clock.AdvanceUntil(101, [&] { return second.wait_for(kStep) == std::future_status::ready; });
        const auto [outcome, data] = second.get();
        EXPECT_TRUE(outcome.Ok()) << OutcomeText(outcome);
        ASSERT_FALSE(data.empty());
        EXPECT_EQ(data[0], 9);  // its own answer, not the state's
    }
}

// Bytes that never stop do not hold the worker: after a bounded wait the
// next frame goes out anyway.
TEST_F(LateReply, LineThatNeverGoesQuietIsGivenUpOn) {
    port.ReplyTimeout = 100;
    dev.SetHandler(
        [](const Bytes& request) { return request == Read(7, 1) ? ReadReply(1, 0x0003) : Bytes{}; });
    auto first = std::async(std::launch::async, [this] {
        TBuff data;
        return Exchange(port, Read(6, 1), 200, 2, 1, data).Ok();
    });
    clock.AdvanceUntil(201, [&] { return first.wait_for(kStep) == std::future_status::ready; });
    ASSERT_FALSE(first.get());
    trace->Clear();

    auto second = std::async(std::launch::async, [this] {
        TBuff data;
        return Exchange(port, Read(7, 1), 100000, 2, 1, data).Ok();
    });
    // A byte every half reply time-out: the line never stays quiet long enough.
    const uint32_t steps = kQuietWaitLimitFactor * 2;
    for (uint32_t i = 1; i <= steps; ++i) {
        dev.Inject({0x55});
        ASSERT_TRUE(trace->WaitFor([i](const TraceRecorder::Records& records) {
            size_t dropped = 0;
            for (const auto& r : records)
                if (r.Outcome.Status == TReplyStatus::Late) dropped += r.Bytes.size();
            return dropped >= i;
        }));
        EXPECT_EQ(dev.RequestCount(), 1u) << "sent after " << i << " bytes";
        clock.Advance(50);
    }
    // kQuietWaitLimitFactor reply time-outs have passed: the frame goes out.
    ASSERT_TRUE(second.get());
    EXPECT_EQ(dev.RequestCount(), 2u);
}

// Stopping the worker ends a quiet wait at once, without a result.
TEST_F(LateReply, StopEndsTheQuietWait) {
    // The clock stands still: the wait would never end by itself.
    port.ReplyTimeout = 100;
    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    std::promise<bool> firstDone;
    auto queue = [&](std::function<void(bool)> after) {
        auto req = MakeRequest(&port, 1, 1, {}, nullptr, 0, nullptr, 0, 200, 1);
        port.PutJob(MakeJob(std::move(req), nullptr, nullptr, owner, list,
                            [after](TProtoRequest& r) -> TOutcome {
                                TBuff data;
                                const TOutcome outcome =
                                    Exchange(*r.Port, Read(6, 1), r.ExtraTimeout, 2, r.Tries, data);
                                if (after) after(outcome.Ok());
                                return outcome;
                            },
                            {}));
    };
    auto first = firstDone.get_future();
    queue([&](bool ok) { firstDone.set_value(ok); });
    clock.AdvanceUntil(201, [&] { return first.wait_for(kStep) == std::future_status::ready; });
    ASSERT_FALSE(first.get());
    queue({});
    dev.Inject({0x55});  // shows the worker is waiting for a quiet line
    ASSERT_TRUE(trace->WaitFor([](const TraceRecorder::Records& records) {
        return !records.empty() && records.back().Outcome.Status == TReplyStatus::Late;
    }));
    port.StopWorker();
    EXPECT_FALSE(port.HasWorker());
    EXPECT_EQ(dev.RequestCount(), 1u);
    EXPECT_EQ(list->Count(), 1u);  // only the first job's result
}

}  // namespace
}  // namespace tovik
