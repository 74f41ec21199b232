// How a request ended, for every kind of bytes that can come back: each
// request of the table runs through the executor on a real line, one try,
// and its outcome, the request statistics and the trace's last record must
// say the same thing. Then the operator's text for every outcome.
#include "protocol/Outcome.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "ports/FrameTrace.h"
#include "ports/ProtoUART.h"
#include "protocol/Commands.h"
#include "protocol/Executor.h"
#include "protocol/Frame.h"
#include "protocol/Modbus.h"
#include "support/LineClock.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/TraceRecorder.h"

namespace tovik {

// Failures name the outcome.
void PrintTo(const TOutcome& outcome, std::ostream* os) {
    *os << OutcomeText(outcome);
}
void PrintTo(TReplyStatus status, std::ostream* os) {
    *os << OutcomeText({status});
}

namespace {

using Bytes = std::vector<uint8_t>;
using test::ModbusFrame;
using S = TReplyStatus;

// The relay's answers: the state (native) or the current maximum (ModBus,
// registers 8 and 9) to the request under test, and the clock (native) or
// the state register (ModBus) to the request made before it.
const Bytes kNativeState = BuildNativeFrame(Bytes{1, CmdReadState, 0, 0, 0, 5});
const Bytes kNativeClock = BuildNativeFrame(Bytes{1, CmdReadClock, 14, 5, 9, 7, 3, 26});
const Bytes kModbusImax = ModbusFrame(1, 3, {4, 0, 1, 0, 2});
const Bytes kModbusState = ModbusFrame(1, 3, {2, 0, 2});

Bytes Cut(Bytes b, size_t n) {
    b.resize(n);
    return b;
}
Bytes Flip(Bytes b) {
    b.back() ^= 0x5A;  // the final check byte, or the CRC
    return b;
}

struct OutcomeCase {
    const char* Name;
    bool Modbus;
    bool Bus;
    bool Before;  // the other request is made first, and answered
    Bytes Reply;  // to the request under test
    TOutcome Expected;
};

const OutcomeCase kCases[] = {
    // name, ModBus, bus mode, request before, reply, outcome
    {"native_answer", false, false, false, kNativeState, kAnswered},
    {"native_silence", false, false, false, {}, {S::NoAnswer}},
    {"native_check_byte", false, false, false, Flip(kNativeState), {S::Damaged}},
    {"native_noise", false, false, false, {0x01, 0x02, 0x03}, {S::Damaged}},
    {"native_cut_short", false, false, false, Cut(kNativeState, 6), {S::Short}},
    {"native_other_command",
     false,
     false,
     false,
     BuildNativeFrame(Bytes{1, CmdReadImax, 1, 2, 3, 4}),
     {S::Foreign}},
    {"native_other_number_on_a_bus",
     false,
     true,
     false,
     BuildNativeFrame(Bytes{2, CmdReadState, 0, 0, 0, 5}),
     {S::Foreign}},
    {"native_answer_to_the_request_before", false, false, true, kNativeClock, {S::Late}},
    {"modbus_answer", true, false, false, kModbusImax, kAnswered},
    {"modbus_silence", true, false, false, {}, {S::NoAnswer}},
    {"modbus_crc", true, false, false, Flip(kModbusImax), {S::Damaged}},
    {"modbus_cut_short", true, false, false, Cut(kModbusImax, 5), {S::Short}},
    {"modbus_no_room_for_a_byte_count", true, false, false, ModbusFrame(1, 3, {}), {S::Short}},
    {"modbus_exception", true, false, false, ModbusFrame(1, 0x83, {2}), {S::Exception, 2}},
    {"modbus_other_function", true, false, false, ModbusFrame(1, 4, {4, 0, 1, 0, 2}), {S::Foreign}},
    {"modbus_other_byte_count", true, false, false, ModbusFrame(1, 3, {6, 0, 1, 0, 2, 0, 3}), {S::Foreign}},
    {"modbus_other_number_on_a_bus", true, true, false, ModbusFrame(2, 3, {4, 0, 1, 0, 2}), {S::Foreign}},
    {"modbus_answer_to_the_request_before", true, false, true, kModbusState, {S::Late}},
};

class Outcomes : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcomes, BytesOnTheLineGiveTheirStatus) {
    const OutcomeCase& c = GetParam();
    const bool modbus = c.Modbus;
    test::ManualClock clock;
    test::PtyResponder relay([&](const Bytes& request) -> Bytes {
        const bool before = modbus ? request.size() > 3 && request[3] == 6
                                   : NativeFramePayload(request).value_or(Bytes{0, 0})[1] == CmdReadClock;
        if (before) return modbus ? kModbusState : kNativeClock;
        return c.Reply;
    });
    auto stats = std::make_shared<TRequestStats>();
    test::TWatchedUART port(stats);
    test::LineClock line(clock, port, relay);
    ASSERT_TRUE(port.SetPortName(relay.PortName()));
    port.Bus = c.Bus;
    auto trace = std::make_shared<test::TraceRecorder>();
    port.SetFrameTrace(trace);
    const uint8_t kind = modbus ? kKindTovikModbus : kKindTovik;
    auto run = [&](TCommandDescriptor command) {
        TBlock block(8, 0);
        auto request = MakeRequest(&port, 1, kind, command, nullptr, 0, block.data(), 8, 300, 1);
        return line.Run([&] { return ExecuteRequest(*request); });
    };
    if (c.Before) {
        ASSERT_TRUE(
            run(modbus ? TCommandDescriptor{CmdReadState, -1, -1} : TCommandDescriptor{CmdReadClock, -1, -1})
                .Ok());
        stats->ResetStats();
        trace->Clear();
    }
    const TOutcome outcome = run({modbus ? CmdReadImax : CmdReadState, -1, -1});
    EXPECT_EQ(outcome.Status, c.Expected.Status);
    EXPECT_EQ(outcome.ExceptionCode, c.Expected.ExceptionCode);

    // One frame sent, counted once by what became of it.
    const TStatsSnapshot counts = stats->GetStats();
    EXPECT_EQ(counts.SentCount, 1);
    EXPECT_EQ(counts.OkCount, outcome.Ok() ? 1 : 0);
    EXPECT_EQ(counts.ErrorCount, outcome.Ok() || outcome.Status == S::NoAnswer ? 0 : 1);
    const auto records = trace->Snapshot();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records.front().Direction, TTraceDirection::Sent);
    EXPECT_EQ(records.back().Direction, TTraceDirection::Received);
    EXPECT_EQ(records.back().Outcome, outcome);
    EXPECT_EQ(records.back().Bytes, c.Reply);
}

INSTANTIATE_TEST_SUITE_P(Table, Outcomes, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Requests that never reach the line: nothing counted, and the reason.
TEST(OutcomesUnsent, NoFrameAndNoLine) {
    auto stats = std::make_shared<TRequestStats>();
    TProtoUART closed(stats);
    ASSERT_TRUE(closed.SetPortName("ttyNONE5"));
    auto trace = std::make_shared<test::TraceRecorder>();
    closed.SetFrameTrace(trace);
    auto run = [&](uint8_t kind, TCommandDescriptor command) {
        auto request = MakeRequest(&closed, 1, kind, command, nullptr, 0, nullptr, 0, 10, 3);
        return ExecuteRequest(*request);
    };
    // No ModBus exchange stands for the calibration read.
    EXPECT_EQ(run(kKindTovikModbus, {CmdReadCalInfo, -1, -1}).Status, S::NotSent);
    for (uint8_t kind : {kKindTovik, kKindTovikModbus}) {
        const TOutcome gone = run(kind, {CmdReadState, -1, -1});
        EXPECT_EQ(gone.Status, S::NoLine) << int(kind);
        EXPECT_EQ(gone.Line, (TOpenOutcome{TOpenError::NoSuchDevice, ENOENT})) << int(kind);
        ASSERT_FALSE(trace->Snapshot().empty());
        EXPECT_EQ(trace->Snapshot().back().Outcome, gone);
    }
    const TStatsSnapshot counts = stats->GetStats();
    EXPECT_EQ(counts.SentCount + counts.OkCount + counts.ErrorCount, 0);
}

TEST(OutcomeText, EveryStatusInTheOperatorsWords) {
    const std::pair<TOutcome, const char*> texts[] = {
        {kAnswered, "принят"},
        {{S::NoAnswer}, "нет ответа"},
        {{S::Damaged}, "ответ повреждён (контрольная сумма)"},
        {{S::Short}, "ответ короче ожидаемого"},
        {{S::Foreign}, "чужой ответ"},
        {{S::Late}, "запоздалый ответ"},
        {{S::Exception, 2}, "исключение ModBus 2: недопустимый адрес данных"},
        {{S::Exception, 77}, "исключение ModBus 77: код 77"},
        {{S::NotSent}, "запрос не передан"},
        {{S::NoLine}, "порт недоступен"},
        {{S::NoLine, 0, {TOpenError::Busy, 0}}, "порт недоступен: порт занят другой программой"},
        {{S::NoLine, 0, {TOpenError::Gone, EIO}},
         "порт недоступен: устройство отключено (Input/output error)"},
        {{S::Stopped}, "обмен прерван"},
    };
    for (const auto& [outcome, text] : texts) EXPECT_EQ(OutcomeText(outcome), text);
}

}  // namespace
}  // namespace tovik
