// Decoding traced frames into what they mean. Fixed frames pin the texts;
// then every request the builders make, on a native and a ModBus line of
// tovik-sim, is decoded from the trace and compared with what the
// simulator's own parser logged for the same frame.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"
#include "protocol/Frame.h"
#include "protocol/FrameDecoder.h"
#include "protocol/Modbus.h"
#include "protocol/UstTable.h"
#include "support/ChildProcess.h"
#include "support/EventWait.h"
#include "support/TraceRecorder.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;

TFrameTraceRecord Record(TTraceDirection direction, Bytes bytes, uint8_t kind, TCommandDescriptor command,
                         TReplyStatus outcome = TReplyStatus::Answered) {
    TFrameTraceRecord r;
    r.Direction = direction;
    r.Bytes = std::move(bytes);
    r.DeviceKind = kind;
    r.Command = command;
    r.Address = 1;
    r.Try = 1;
    r.Outcome = {outcome};
    r.PortName = "pts/9";
    return r;
}
const auto Sent = TTraceDirection::Sent;
const auto Received = TTraceDirection::Received;

Bytes WithCrc(Bytes b) {
    AppendCrc(b);
    return b;
}

// ---- fixed frames ----

TEST(FrameDecoder, NativeRequestsShowTheCommandAndItsParameters) {
    const auto readUst =
        DecodeFrame(Record(Sent, {0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2}, kKindTovik, {3, -1, 0}));
    EXPECT_EQ(readUst.Format, TWireFormat::Native);
    EXPECT_TRUE(readUst.Intact);
    EXPECT_EQ(readUst.Address, 1);
    EXPECT_EQ(readUst.Code, 3);
    EXPECT_EQ(readUst.Param1, -1);
    EXPECT_EQ(readUst.Meaning, "чтение уставок");

    const auto poll =
        DecodeFrame(Record(Sent, {0x08, 0x07, 0x01, 0xE6, 0x04, 0x31, 0x01, 0xB0}, kKindTovikM, {4, 49, 1}));
    EXPECT_EQ(poll.Code, 4);
    EXPECT_EQ(poll.Param1, 49);
    EXPECT_EQ(poll.Param2, 1);
    EXPECT_TRUE(poll.Data.empty());
    EXPECT_EQ(poll.Meaning, "чтение уставки «модель» (смещение 49, размер 1)");

    const auto clock = DecodeFrame(
        Record(Sent, BuildNativeFrame(Bytes{7, 25, 14, 5, 9, 7, 3, 26}), kKindTovik, {25, -1, 0}));
    EXPECT_EQ(clock.Address, 7);
    EXPECT_EQ(clock.Data, (Bytes{14, 5, 9, 7, 3, 26}));
    EXPECT_EQ(clock.Meaning, "установка часов: 14:05:09 07.03.26");

    const auto task = DecodeFrame(Record(Sent, BuildNativeFrame(Bytes{2, 19, 5}), kKindTovik, {19, 5, -1}));
    EXPECT_EQ(task.Param1, 5);
    EXPECT_EQ(task.Meaning, "чтение задания № 5");

    const auto write =
        DecodeFrame(Record(Sent, BuildNativeFrame(Bytes{2, 6, 48, 1, 1}), kKindTovik, {6, 48, 1}));
    EXPECT_EQ(write.Meaning, "запись уставки «АВТОМАТ» (смещение 48, размер 1): значение 1");
}

TEST(FrameDecoder, NativeRepliesShowWhatTheRelaySaid) {
    TFrameTraceRecord poll =
        Record(Received, BuildNativeFrame(Bytes{2, 4, 0x0B, 1, 0, 0}), kKindTovikM, {4, 49, 1});
    EXPECT_EQ(
        DecodeFrame(poll).Meaning,
        "ответ на «чтение уставки»: модель 0x0B (ТовикМ-25-M2), изменены уставки: да, журнал заданий: нет, "
        "вариант 0");
    // Configured as "Товик", but the modification is one only "ТовикМ" has.
    poll.DeviceKind = kKindTovik;
    EXPECT_NE(DecodeFrame(poll).Meaning.find("(ТовикМ-25-M2)"), std::string::npos);

    const auto clock = DecodeFrame(
        Record(Received, BuildNativeFrame(Bytes{2, 24, 9, 5, 0, 7, 3, 26}), kKindTovik, {24, -1, 0}));
    EXPECT_EQ(clock.Meaning, "ответ на «чтение часов»: 09:05:00 07.03.2026");
    const auto start = DecodeFrame(Record(Received, BuildNativeFrame(Bytes{2, 1}), kKindTovik, {1, -1, 0}));
    EXPECT_EQ(start.Meaning, "ответ на «пуск»: выполнено");
}

TEST(FrameDecoder, ModbusFramesShowRegistersAndTheNativeCommandTheyServe) {
    const auto read = DecodeFrame(
        Record(Sent, {0x01, 0x03, 0x00, 0x20, 0x00, 0x1F, 0x05, 0xC8}, kKindTovikModbus, {3, -1, 0}));
    EXPECT_EQ(read.Format, TWireFormat::Modbus);
    EXPECT_TRUE(read.Intact);
    EXPECT_EQ(read.Function, 3);
    EXPECT_EQ(read.Register, 32);
    EXPECT_EQ(read.Count, 31);
    EXPECT_EQ(read.Meaning, "ModBus 3: чтение, регистры 32–62 (31 шт.) — для «чтение уставок»");

    const auto write =
        DecodeFrame(Record(Sent, WithCrc({4, 16, 0, 16, 0, 1, 1, 0, 1}), kKindTovikMModbus, {1, -1, 0}));
    EXPECT_EQ(write.Function, 16);
    EXPECT_EQ(write.Register, 16);
    EXPECT_EQ(write.Values, (std::vector<uint16_t>{1}));
    EXPECT_EQ(write.Meaning, "ModBus 16: запись, регистры 16 (1 шт.) = 0x0001 — для «пуск»");

    const auto reply =
        DecodeFrame(Record(Received, WithCrc({4, 3, 2, 0, 0x13}), kKindTovikModbus, {4, 49, 1}));
    EXPECT_EQ(reply.Values, (std::vector<uint16_t>{0x13}));
    EXPECT_EQ(reply.Meaning,
              "ModBus 3: ответ, 1 рег.: 0x0013 — для «чтение уставки «модель» (смещение 49, размер 1)»");

    const auto refused = DecodeFrame(Record(Received, WithCrc({4, 0x83, 2}), kKindTovikModbus, {3, -1, 0}));
    EXPECT_EQ(refused.Function, 3);
    EXPECT_EQ(refused.ExceptionCode, 2);
    EXPECT_EQ(refused.Meaning.rfind("ModBus 3: исключение 2 (недопустимый адрес данных)", 0), 0u);
}

TEST(FrameDecoder, DamagedAndUnknownFramesAreNeverShownAsMeaningSomething) {
    Bytes frame = {0x08, 0x07, 0x01, 0xE6, 0x04, 0x31, 0x01, 0xB0};
    frame[5] ^= 1;  // the offset, covered by the final check byte
    const auto native = DecodeFrame(Record(Received, frame, kKindTovik, {4, 49, 1}, TReplyStatus::Damaged));
    EXPECT_FALSE(native.Intact);
    EXPECT_EQ(native.Code, -1);
    EXPECT_EQ(native.Address, -1);
    EXPECT_EQ(native.Meaning, "кадр повреждён");

    Bytes modbus = WithCrc({4, 3, 2, 0, 0x13});
    modbus.back() ^= 0x5A;
    const auto crc =
        DecodeFrame(Record(Received, modbus, kKindTovikModbus, {4, 49, 1}, TReplyStatus::Damaged));
    EXPECT_FALSE(crc.Intact);
    EXPECT_EQ(crc.Meaning, "кадр повреждён");

    // No device kind: the bytes decide.
    EXPECT_EQ(DecodeFrame(Record(Sent, {0x06, 0x05, 0x01, 0xEA, 0x03, 0xF2}, kTraceKindUnknown, {})).Format,
              TWireFormat::Native);
    EXPECT_EQ(DecodeFrame(Record(Sent, WithCrc({1, 3, 0, 0, 0, 10}), kTraceKindUnknown, {})).Format,
              TWireFormat::Modbus);
    const auto noise = DecodeFrame(Record(Received, {0xA5, 0x00}, kTraceKindUnknown, {}));
    EXPECT_EQ(noise.Format, TWireFormat::Unknown);
    EXPECT_FALSE(noise.Intact);
    EXPECT_EQ(noise.Meaning, "кадр не распознан");

    EXPECT_EQ(DecodeFrame(Record(Received, {}, kKindTovik, {23, -1, 0}, TReplyStatus::NoAnswer)).Meaning, "");
    // Too short to hold even a length byte pair.
    EXPECT_FALSE(DecodeFrame(Record(Received, {0x04}, kKindTovik, {23, -1, 0})).Intact);
}

TEST(FrameDecoder, ColumnsAndLinesSayWhatWentWrong) {
    TFrameTraceRecord r = Record(Received, BuildNativeFrame(Bytes{6, 23, 0, 0, 0, 5}), kKindTovik,
                                 {23, -1, 0}, TReplyStatus::Foreign);
    r.Address = 5;
    r.Try = 2;
    r.ReplyMs = 14;
    r.WallMs = 1000;
    const TFrameColumns c = FrameColumns(r);
    EXPECT_EQ(c.Direction, "приём");
    EXPECT_EQ(c.Address, 6);
    EXPECT_EQ(c.ReplyTime, "14 мс");
    EXPECT_EQ(c.Problem, "чужой ответ: №6 вместо №5, попытка 2");
    EXPECT_EQ(c.Hex.substr(0, 8), "0B 0A 06");
    EXPECT_EQ(c.Time.size(), 12u);

    const std::string line = DecodedTraceLine(r);
    EXPECT_NE(line.find(" pts/9 RX №6 попытка 2 14 мс: 0B 0A 06 "), std::string::npos) << line;
    EXPECT_NE(line.find(" — ответ на «чтение состояния»: "), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - std::string(" — чужой ответ: №6 вместо №5").size()),
              " — чужой ответ: №6 вместо №5");

    TFrameTraceRecord silent = Record(Received, {}, kKindTovikModbus, {23, -1, 0}, TReplyStatus::NoAnswer);
    silent.Address = 3;
    silent.ReplyMs = 250;
    EXPECT_EQ(FrameColumns(silent).Address, 3);
    EXPECT_EQ(FrameColumns(silent).Problem, "нет ответа");
    const std::string quiet = DecodedTraceLine(silent);
    EXPECT_NE(quiet.find(" RX №3 попытка 1 250 мс: — нет ответа"), std::string::npos) << quiet;

    TFrameTraceRecord retry = Record(Sent, BuildNativeFrame(Bytes{1, 23}), kKindTovik, {23, -1, 0});
    retry.Try = 3;
    EXPECT_EQ(FrameColumns(retry).Problem, "попытка 3");
    const std::string again = DecodedTraceLine(retry);
    EXPECT_NE(again.find(" TX №1 попытка 3: 06 05 01 "), std::string::npos) << again;
    EXPECT_EQ(again.substr(again.size() - std::string(" — чтение состояния — передан").size()),
              " — чтение состояния — передан");
}

// ---- every request against the simulator's request log ----

std::optional<std::string> Field(const std::string& line, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    const size_t at = line.find(tag);
    if (at == std::string::npos) return std::nullopt;
    const size_t begin = at + tag.size();
    if (line[begin] == '"') return line.substr(begin + 1, line.find('"', begin + 1) - begin - 1);
    const size_t end = line[begin] == '[' ? line.find(']', begin) + 1 : line.find_first_of(",}", begin);
    return line.substr(begin, end - begin);
}

int Number(const std::string& line, const std::string& key) {
    const auto f = Field(line, key);
    return f ? std::stoi(*f) : -1;
}

std::vector<int> Ints(const std::string& line, const std::string& key) {
    std::string text = Field(line, key).value_or("");
    for (char& ch : text)
        if (ch == '[' || ch == ']' || ch == ',') ch = ' ';
    std::istringstream in(text);
    std::vector<int> out;
    for (int v; in >> v;) out.push_back(v);
    return out;
}

std::string Hex(const Bytes& b) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (uint8_t v : b) s += {d[v >> 4], d[v & 15]};
    return s;
}

std::string Lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

using TBuild = std::function<bool(TProtoPort&, uint8_t, int32_t, uint8_t, TEvents, TResultHandler)>;

template <typename F, typename... A>
TBuild Bind(F f, A... extra) {
    return [=](TProtoPort& p, uint8_t a, int32_t o, uint8_t k, TEvents r, TResultHandler h) {
        return f(p, a, o, k, std::move(r), std::move(h), extra...);
    };
}

struct Step {
    std::string Name;
    std::vector<uint8_t> Kinds;
    TBuild Build;
    std::string SimCommand;  // instead of a request
};

std::vector<Step> EveryRequest() {
    const std::vector<uint8_t> all = {0, 1, 2, 3};
    const TTaskEntry task = {6, 30, 0, 7, 3, 26, 18, 45, 30, 7, 3, 26};
    const TTaskEntry task2 = {1, 2, 3, 4, 5, 26, 5, 6, 7, 8, 9, 26};
    const TLocalTime when{14, 5, 9, 7, 3, 2026};
    std::vector<Step> s = {
        {"model poll", all, Bind(RequestReadCell, kUstModelRow), ""},
        {"read item 0", all, Bind(RequestReadCell, 0), ""},
        {"read date", all, Bind(RequestReadCell, 20), ""},
        {"write АВТОМАТ", all, Bind(RequestWriteCell, kUstAutoRow, MakeUstRaw(0)), ""},
        {"write Tотс", {3}, Bind(RequestWriteCell, 23, MakeUstRaw(5)), ""},
        {"write din protocol", {3}, Bind(RequestWriteCell, 24, MakeUstRaw(0)), ""},
        {"read setpoints", all, RequestReadUst, ""},
        {"read timers", all, RequestReadTimers, ""},
        {"read currents", all, RequestReadCurrents, ""},
        {"read Imax", all, RequestReadImax, ""},
        {"read counters", all, RequestReadAlarmCounters, ""},
        {"read state", all, RequestReadState, ""},
        {"read clock", all, RequestReadClock, ""},
        {"set clock", all,
         [when](TProtoPort& p, uint8_t a, int32_t o, uint8_t k, TEvents r, TResultHandler h) {
             return RequestSetClock(p, a, o, k, std::move(r), std::move(h), when);
         },
         ""},
        {"read calibration", {0, 2}, RequestReadCalInfo, ""},
        {"read statistics", {3}, RequestReadStatistics, ""},
        {"read task", all, Bind(RequestReadTask, uint8_t{0}), ""},
        {"write task", all, Bind(RequestWriteTask, uint8_t{0}, task), ""},
        {"add task", all, Bind(RequestAddTask, uint8_t{2}, task2), ""},
        {"delete task", all, Bind(RequestDeleteTask, uint8_t{2}, uint8_t{3}), ""},
        {"clear tasks", all, RequestClearTasks, ""},
        {"trip", {}, {}, "trip * 4"},
        {"read alarm count", all, RequestReadAlarmCount, ""},
        {"read alarm", all, Bind(RequestReadAlarm, uint8_t{0}), ""},
        {"clear alarms", all, RequestClearAlarms, ""},
        {"reset counters", all, RequestResetAlarmCounters, ""},
        {"start", all, RequestStart, ""},
        {"stop", all, RequestStop, ""},
    };
    return s;
}

class DecoderAgainstSim : public ::testing::TestWithParam<bool> {};

TEST_P(DecoderAgainstSim, EveryRequestDecodesAsTheSimulatorParsedIt) {
    const bool modbus = GetParam();
    char tmpl[] = "/tmp/tovik-decode-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string log = dir + "/requests.log";
    // Relays of both families: "Товик" at 5, "ТовикМ" at 9.
    const std::vector<uint8_t> kinds = modbus ? std::vector<uint8_t>{1, 3} : std::vector<uint8_t>{0, 2};
    auto sim = std::make_unique<test::TSimProcess>(
        TOVIK_BINARY_DIR "/bin/tovik-sim",
        std::vector<std::string>{"--baud", "0", "--log", log, "--announce-dir", dir + "/announce",
                                 "--manual-clock", "--relay", std::to_string(kinds[0]) + ":5", "--relay",
                                 std::to_string(kinds[1]) + ":9"});
    ASSERT_FALSE(sim->Port().empty());
    TProtoUART port(std::make_shared<TRequestStats>());
    port.ReplyTimeout = 1000;  // an answer that must come never misses its try
    port.Bus = true;
    port.SetPortName(sim->Port());
    auto trace = std::make_shared<test::TraceRecorder>();
    port.SetFrameTrace(trace);
    const int32_t owner = port.RegisterOwner();
    auto events = std::make_shared<TResultEventsList>();

    for (const Step& step : EveryRequest()) {
        if (!step.SimCommand.empty()) {
            ASSERT_EQ(sim->Command(step.SimCommand), "ok") << step.Name;
            continue;
        }
        for (uint8_t kind : kinds) {
            if (std::find(step.Kinds.begin(), step.Kinds.end(), kind) == step.Kinds.end()) continue;
            const uint8_t address = IsTovikMKind(kind) ? 9 : 5;
            bool ok = false;
            ASSERT_TRUE(step.Build(port, address, owner, kind, events, [&](const TReply& r) { ok = r.Ok(); }))
                << step.Name;
            ASSERT_TRUE(test::WaitForEvent(*events, std::chrono::seconds(30))) << step.Name;
            events->DispatchOne();
            EXPECT_TRUE(ok) << step.Name << " on kind " << int(kind);
        }
    }
    port.StopWorker();

    std::vector<std::string> lines;
    {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    const auto records = trace->Snapshot();
    std::vector<TFrameTraceRecord> sent, answers;
    for (const auto& r : records) {
        if (r.Direction == TTraceDirection::Sent) sent.push_back(r);
        if (r.Direction == TTraceDirection::Received && r.Outcome.Status == TReplyStatus::Answered)
            answers.push_back(r);
    }
    ASSERT_EQ(sent.size(), lines.size());
    ASSERT_GT(sent.size(), 40u);
    std::set<int> commands;
    size_t answer = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        const std::string& line = lines[i];
        const TDecodedFrame f = DecodeFrame(sent[i]);
        SCOPED_TRACE(line);
        ASSERT_TRUE(f.Intact);
        EXPECT_EQ(f.Address, Number(line, "address"));
        commands.insert(sent[i].Command.Code);
        if (modbus) {
            EXPECT_EQ(f.Format, TWireFormat::Modbus);
            EXPECT_EQ(f.Function, Number(line, "function"));
            EXPECT_EQ(f.Register, Number(line, "register"));
            EXPECT_EQ(f.Count, Number(line, "count"));
            std::vector<int> values(f.Values.begin(), f.Values.end());
            EXPECT_EQ(values, Ints(line, "values"));
            // Which native command the step serves, by its name.
            EXPECT_NE(f.Meaning.find("для «" + NativeCommandName(sent[i].Command.Code)), std::string::npos)
                << f.Meaning;
        } else {
            EXPECT_EQ(f.Format, TWireFormat::Native);
            EXPECT_EQ(f.Code, Number(line, "command"));
            std::vector<int> params;
            if (f.Param1 >= 0) params.push_back(f.Param1);
            if (f.Param2 >= 0) params.push_back(f.Param2);
            EXPECT_EQ(params, Ints(line, "params"));
            EXPECT_EQ(Hex(f.Data), Lower(Field(line, "data").value_or("")));
            EXPECT_EQ(f.Meaning.rfind(NativeCommandName(static_cast<uint8_t>(f.Code)), 0), 0u) << f.Meaning;
        }
        // The answer traced is the one the simulator sent, and reads whole.
        if (Field(line, "answered").value_or("") == "true") {
            ASSERT_LT(answer, answers.size());
            const TFrameTraceRecord& reply = answers[answer++];
            EXPECT_EQ(Hex(reply.Bytes), Lower(Field(line, "reply").value_or("")));
            const TDecodedFrame r = DecodeFrame(reply);
            EXPECT_TRUE(r.Intact);
            EXPECT_EQ(r.Address, f.Address);
            EXPECT_FALSE(r.Meaning.empty());
        }
    }
    EXPECT_EQ(answer, answers.size());
    // Every command of the table that the relays serve went out.
    const std::set<int> expected = modbus ? std::set<int>{1,  2,  3,  4,  6,  7,  11, 12, 13, 14, 17, 19,
                                                          20, 21, 22, 23, 24, 25, 30, 31, 32, 33, 35, 37}
                                          : std::set<int>{1,  2,  3,  4,  6,  7,  11, 12, 13, 14, 17,
                                                          19, 20, 21, 22, 23, 24, 25, 26, 30, 31, 32};
    EXPECT_EQ(commands, expected);
    sim.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

INSTANTIATE_TEST_SUITE_P(Lines, DecoderAgainstSim, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Modbus" : "Native"; });

}  // namespace
}  // namespace tovik
