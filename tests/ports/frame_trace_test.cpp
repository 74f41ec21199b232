// The frame trace of the ModBus exchange over a pseudo-terminal: what each
// record carries, for good, silent, damaged and foreign replies, and a sink
// swapped while the worker runs. The engine's clock moves only while the
// line is settled (support/LineClock.h).
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <future>

#include "ports/FrameTrace.h"
#include "ports/ProtoUART.h"
#include "protocol/Frame.h"
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
        return line.Run([&] { return Exchange(port, frame, timeout, 2, tries, data, context); });
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
    EXPECT_EQ(records[0].Outcome, TTraceOutcome::Ok);
    EXPECT_EQ(records[0].ReplyMs, -1);
    ExpectRequest(records[0], 1);

    EXPECT_EQ(records[1].Direction, TTraceDirection::Received);
    EXPECT_EQ(records[1].Bytes, reply);  // as it came over the line, CRC included
    EXPECT_EQ(records[1].Outcome, TTraceOutcome::Ok);
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
    EXPECT_EQ(records[1].Outcome, TTraceOutcome::NoAnswer);
    EXPECT_TRUE(records[1].Bytes.empty());
    EXPECT_GE(records[1].ReplyMs, 300);  // how long it waited
    ExpectRequest(records[1], 1);
    EXPECT_EQ(records[2].Direction, TTraceDirection::Sent);
    ExpectRequest(records[2], 2);
    EXPECT_EQ(records[3].Outcome, TTraceOutcome::Ok);
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
    EXPECT_EQ(records[1].Outcome, TTraceOutcome::BadCheck);
    EXPECT_EQ(records[1].Bytes.size(), 7u);
    ExpectRequest(records[1], 1);
    EXPECT_EQ(records[2].Direction, TTraceDirection::Sent);
    ExpectRequest(records[2], 2);
    EXPECT_EQ(records[3].Outcome, TTraceOutcome::Ok);
}

TEST_F(FrameTrace, ForeignRepliesAreNamed) {
    struct Case {
        const char* Name;
        bool Bus;
        Bytes Request;
        Bytes Reply;
        TTraceOutcome Outcome;
        uint8_t Code;
    };
    Bytes write{1, 16, 0, 16, 0, 1, 1, 0, 1};
    AppendCrc(write);
    const Case cases[] = {
        {"other device", true, Read(6, 1), ModbusFrame(2, 3, {2, 0, 7}), TTraceOutcome::WrongAddress, 0},
        {"other function", false, Read(6, 1), ModbusFrame(1, 4, {2, 0, 7}), TTraceOutcome::ForeignReply, 0},
        {"exception", false, Read(6, 1), ModbusFrame(1, 0x83, {2}), TTraceOutcome::Exception, 2},
        {"byte count", false, Read(6, 1), ModbusFrame(1, 3, {4, 0, 7, 0, 8}), TTraceOutcome::WrongLength, 0},
        {"other register", false, write, ModbusFrame(1, 16, {0, 17, 0, 1}), TTraceOutcome::ForeignReply, 0},
    };
    for (const Case& c : cases) {
        trace->Clear();
        port.Bus = c.Bus;
        dev.SetHandler([reply = c.Reply](const Bytes&) { return reply; });
        TBuff data;
        EXPECT_FALSE(Run(c.Request, 500, 3, data, kStateRead)) << c.Name;
        const auto records = trace->Snapshot();
        ASSERT_EQ(records.size(), 2u) << c.Name;  // not tried again
        EXPECT_EQ(records[1].Bytes, c.Reply) << c.Name;
        EXPECT_EQ(records[1].Outcome, c.Outcome) << c.Name;
        EXPECT_EQ(records[1].ExceptionCode, c.Code) << c.Name;
    }
}

TEST(FrameTraceLine, WriteThatDidNotGoOut) {
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName("ttyNONE6"));
    auto trace = std::make_shared<TraceRecorder>();
    port.SetFrameTrace(trace);
    TBuff data;
    EXPECT_FALSE(Exchange(port, Read(6, 1), 100, 2, 3, data, kStateRead));
    const auto records = trace->Snapshot();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Direction, TTraceDirection::Sent);
    EXPECT_EQ(records[0].Outcome, TTraceOutcome::NotSent);
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
                                                {r.DeviceKind, r.Command})
                                           ? kAnswered
                                           : TOutcome{};
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
    ASSERT_TRUE(Exchange(port, Read(6, 1), 500, 2, 3, data));
    EXPECT_EQ(sinks[0]->Count() + sinks[1]->Count(), before);

    const Bytes reply = ModbusFrame(1, 3, {2, 0x12, 0x34});
    for (const auto& sink : sinks) {
        for (const TFrameTraceRecord& r : sink->Snapshot()) {
            EXPECT_EQ(r.Bytes, r.Direction == TTraceDirection::Sent ? Read(6, 1) : reply);
            EXPECT_EQ(r.Outcome, TTraceOutcome::Ok);
            EXPECT_EQ(r.Command.Code, 23);
            EXPECT_EQ(r.PortName, dev.PortName());
        }
    }
    EXPECT_LE(before, 2u * kJobs);
    EXPECT_EQ(stats->GetStats().OkCount, kJobs + 1);
}

// ---- the text of a record and the queue ----

TEST(FrameTraceText, OneLinePerRecord) {
    TFrameTraceRecord r;
    r.WallMs = 1760000000000 + 45 * 1000 + 120;  // some day, second 20 + 45, ms 120
    r.Direction = TTraceDirection::Received;
    r.Bytes = {0x01, 0x03, 0x02, 0x00, 0x05, 0x78, 0x47};
    r.PortName = "pts/3";
    r.Address = 1;
    r.Command = {4, 49, 1};
    r.Try = 2;
    r.ReplyMs = 14;
    r.Outcome = TTraceOutcome::Ok;
    // The hour and minute follow the local time zone; seconds and ms do not.
    const std::string text = FormatTraceRecord(r);
    ASSERT_GT(text.size(), 12u);
    const std::string stamp = text.substr(0, 12);
    for (size_t i : {0, 1, 3, 4}) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[i]))) << text;
    EXPECT_EQ(stamp[2], ':') << text;
    EXPECT_EQ(stamp.substr(5), ":05.120") << text;
    EXPECT_EQ(text.substr(12), " pts/3 RX адр 1 ком 4(49,1) попытка 2 14 мс: 01 03 02 00 05 78 47 — принят");

    r.Direction = TTraceDirection::Sent;
    r.Command = {23, -1, -1};
    r.Bytes = {0x0A};
    const std::string sent = FormatTraceRecord(r);
    EXPECT_NE(sent.find(" TX адр 1 ком 23 попытка 2: 0A — передан"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("мс"), std::string::npos);  // a transmission has no reply time

    const std::pair<TTraceOutcome, const char*> texts[] = {
        {TTraceOutcome::NoAnswer, "нет ответа"},
        {TTraceOutcome::BadCheck, "ошибка контрольной суммы"},
        {TTraceOutcome::WrongAddress, "чужой адрес"},
        {TTraceOutcome::ForeignReply, "чужой ответ"},
        {TTraceOutcome::Exception, "исключение ModBus 3"},
        {TTraceOutcome::WrongLength, "неверная длина"},
        {TTraceOutcome::NotSent, "передан не полностью"},
        {TTraceOutcome::Discarded, "отброшен (поздний ответ)"},
    };
    r.Direction = TTraceDirection::Received;
    r.ExceptionCode = 3;
    for (const auto& [outcome, text] : texts) {
        r.Outcome = outcome;
        EXPECT_EQ(TraceOutcomeText(r), text);
        const std::string formatted = FormatTraceRecord(r);
        EXPECT_EQ(formatted.substr(formatted.size() - std::string(text).size()), text);
    }
}

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
