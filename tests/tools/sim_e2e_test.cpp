// Every request builder against tovik-sim, through the whole engine: the
// builder queues the job on a serial port opened on the simulator's
// pseudo-terminal, the port's worker runs the executor, and the completion
// is dispatched here as the panel would. What went over the line is read
// back from the simulator's request log: the native frames are decoded
// here on their own, the ModBus steps are compared with the translation
// each command must make, and the reshaped ModBus reply blocks must equal
// the native blocks of a twin relay in the same state. The engine's clock
// moves only while a line is settled (support/LineClock.h), as the log tells.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"
#include "protocol/UstTable.h"
#include "support/ChildProcess.h"
#include "support/LineClock.h"
#include "support/TempDir.h"
#include "support/TraceRecorder.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

const char* const kSimBinary = TOVIK_BINARY_DIR "/bin/tovik-sim";
constexpr int32_t kReplyTimeoutMs = 1000;

// ---- The request log ----

// The raw text of one field of a log line (strings without their quotes).
std::optional<std::string> Field(const std::string& line, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    const size_t at = line.find(tag);
    if (at == std::string::npos) return std::nullopt;
    size_t begin = at + tag.size();
    if (line[begin] == '"') {
        const size_t end = line.find('"', begin + 1);
        return line.substr(begin + 1, end - begin - 1);
    }
    const size_t end = line[begin] == '[' ? line.find(']', begin) + 1 : line.find_first_of(",}", begin);
    return line.substr(begin, end - begin);
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<int> Numbers(const std::string& array) {
    std::vector<int> out;
    std::string text = array;
    for (char& c : text)
        if (c == '[' || c == ']' || c == ',') c = ' ';
    std::istringstream in(text);
    for (int v; in >> v;) out.push_back(v);
    return out;
}

struct LogEntry {
    std::string Line;
    Bytes Request;
    Bytes Reply;
    bool Answered = false;
    int Function = -1;
    int Register = -1;
    int Count = -1;
    std::vector<int> Values;
};

LogEntry ParseLog(const std::string& line) {
    LogEntry e;
    e.Line = line;
    e.Request = FromHex(Field(line, "bytes").value_or(""));
    e.Reply = FromHex(Field(line, "reply").value_or(""));
    e.Answered = Field(line, "answered").value_or("") == "true";
    auto number = [&](const char* key) {
        const auto f = Field(line, key);
        return f ? std::stoi(*f) : -1;
    };
    e.Function = number("function");
    e.Register = number("register");
    e.Count = number("count");
    e.Values = Numbers(Field(line, "values").value_or(""));
    return e;
}

// The payload of a native frame, checked here on its own (length bytes and
// every positional check byte); nullopt for a damaged frame.
std::optional<Bytes> NativePayload(const Bytes& f) {
    if (f.size() < 4 || f[0] != f.size() || f[1] != f.size() - 1) return std::nullopt;
    uint8_t sum = 0;
    Bytes payload;
    for (size_t i = 0; i < f.size(); ++i) {
        const size_t pos = i + 1;
        sum = static_cast<uint8_t>(sum + f[i] + pos);
        if (pos % 4 == 0 || pos == f.size()) {
            if (sum != 0) return std::nullopt;
            sum = 0;
        } else if (pos >= 3) {
            payload.push_back(f[i]);
        }
    }
    return payload;
}

// What the simulator has done, from its log: one line per request it dealt
// with, written before its reply, which the line names byte for byte.
class LogTally {
public:
    explicit LogTally(std::string path) : Path(std::move(path)) {}
    test::PtyResponder::TTally operator()() {
        std::ifstream f(Path);
        f.seekg(static_cast<std::streamoff>(Offset));
        for (std::string line; std::getline(f, line);) {
            if (f.eof()) break;  // a line still being written
            Offset += line.size() + 1;
            const LogEntry e = ParseLog(line);
            ++Tally.Answered;
            Tally.BytesSent += e.Reply.size();
        }
        return Tally;
    }

private:
    std::string Path;
    size_t Offset = 0;
    test::PtyResponder::TTally Tally;
};

// ---- A line: the simulator and the engine's port on its pseudo-terminal ----

class SimLine {
public:
    // The simulator logs into `logPath` and announces its line in `announceDir`;
    // its relays' time moves only with "advance", the engine's with `clock`.
    SimLine(const std::vector<std::string>& relays, const std::string& logPath,
            const std::string& announceDir, test::ManualClock& clock)
        : LogPath(logPath) {
        std::vector<std::string> args = {"--baud",         "0",         "--log",         logPath,
                                         "--announce-dir", announceDir, "--manual-clock"};
        for (const auto& r : relays) args.insert(args.end(), {"--relay", r});
        Sim = std::make_unique<test::TSimProcess>(kSimBinary, args);  // its errors go to the test's output
        if (Sim->Port().empty()) return;
        PortName = Sim->Port();
        Port = std::make_unique<test::TWatchedUART>(std::make_shared<TRequestStats>());
        Clock = std::make_unique<test::LineClock>(clock, *Port, LogTally(logPath));
        Port->ReplyTimeout = kReplyTimeoutMs;
        Port->Bus = true;
        Port->SetPortName(PortName);
        Port->SetFrameTrace(Trace);
        Owner = Port->RegisterOwner();
    }
    ~SimLine() {
        if (Port) Port->StopWorker();
    }

    // Log lines written since the last call.
    std::vector<LogEntry> NewLog() {
        std::ifstream f(LogPath);
        f.seekg(static_cast<std::streamoff>(LogOffset));
        std::vector<LogEntry> out;
        for (std::string line; std::getline(f, line);) {
            if (f.eof()) break;  // a line still being written
            LogOffset += line.size() + 1;
            out.push_back(ParseLog(line));
        }
        return out;
    }
    TStatsSnapshot Stats() const { return Port->Stats().GetStats(); }

    std::unique_ptr<test::TSimProcess> Sim;
    std::string LogPath;
    size_t LogOffset = 0;
    std::string PortName;
    std::unique_ptr<test::TWatchedUART> Port;
    std::unique_ptr<test::LineClock> Clock;
    std::shared_ptr<test::TraceRecorder> Trace = std::make_shared<test::TraceRecorder>();
    int32_t Owner = 0;
    TEvents Results = std::make_shared<TResultEventsList>();
};

using TBuild = std::function<bool(TProtoPort&, uint8_t, int32_t, uint8_t, TEvents, TResultHandler)>;

struct Outcome {
    bool Delivered = false;
    bool Ok = false;
    std::optional<Bytes> Data;  // none: the handler got no block
};

// Queues one request with a builder and dispatches its completion here, as
// the panel's timer does.
Outcome RunRequest(SimLine& line, uint8_t address, uint8_t kind, const TBuild& build) {
    Outcome out;
    const bool queued =
        build(*line.Port, address, line.Owner, kind, line.Results, [&out](const TReply& reply) {
            out.Delivered = true;
            out.Ok = reply.Ok();
            if (reply.Data) out.Data = *reply.Data;
        });
    EXPECT_TRUE(queued);
    EXPECT_TRUE(line.Clock->RunUntil([&] { return !line.Results->IsEmpty(); }));
    line.Results->DispatchOne();
    EXPECT_TRUE(out.Delivered) << "no completion";
    return out;
}

// Builders with their own argument bound.
template <typename F, typename... A>
TBuild Bind(F f, A... extra) {
    return [=](TProtoPort& p, uint8_t a, int32_t o, uint8_t k, TEvents r, TResultHandler h) {
        return f(p, a, o, k, std::move(r), std::move(h), extra...);
    };
}
TBuild Cell(int row) {
    return Bind(RequestReadCell, row);
}
TBuild WriteCell(int row, uint64_t value) {
    return Bind(RequestWriteCell, row, MakeUstRaw(value));
}
TBuild SetClock(const TLocalTime& t) {
    return [t](TProtoPort& p, uint8_t a, int32_t o, uint8_t k, TEvents r, TResultHandler h) {
        return RequestSetClock(p, a, o, k, std::move(r), std::move(h), t);
    };
}

uint16_t U16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t U32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                 static_cast<uint32_t>(b[at + 3]) << 24);
}
float F32(const Bytes& b, size_t at) {
    const uint32_t u = U32(b, at);
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}
Bytes Le(std::initializer_list<uint64_t> values, size_t width) {
    Bytes out;
    for (uint64_t v : values)
        for (size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- The relays ----

// Twins share address and state: the native line carries kinds 0 and 2,
// the ModBus line kinds 1 and 3 at the same addresses, so a reshaped ModBus
// block must equal the native block of its twin.
constexpr uint8_t kAddrTovik = 5;   // kinds 0 and 1
constexpr uint8_t kAddrTovikM = 9;  // kinds 2 and 3
constexpr uint8_t kAllKinds[] = {0, 1, 2, 3};

uint8_t AddressOf(uint8_t kind) {
    return kind == 0 || kind == 1 ? kAddrTovik : kAddrTovikM;
}
uint8_t NativeTwin(uint8_t kind) {
    return kind == 1 ? 0 : 2;
}

struct MbStep {
    int Function;
    int Register;
    int Count;
    std::vector<int> Values;  // of a write
};

// What one relay's request looked like and produced.
struct Result {
    uint8_t Kind = 0;
    Outcome Out;
    std::vector<LogEntry> Log;
};

struct Step {
    const char* Name;
    std::vector<uint8_t> Kinds;  // the device kinds that have the command
    TBuild Build;
    size_t RxLength = 0;  // 0: the handler gets no block
    Bytes Native;         // native request payload after the address: code, params, data
    std::function<Bytes(uint8_t kind)> NativeOf;  // instead of Native, when it depends on the kind
    std::function<std::vector<MbStep>(uint8_t kind)> Modbus;
    // Bytes of the ModBus block not compared with the native twin (values
    // that move with time, or items only one kind holds).
    std::vector<size_t> TwinSkip;
    std::function<void(const Result&)> Check;
    // Instead of a request: a command to both simulators.
    std::string SimCommand;
};

Step Req(const char* name, std::vector<uint8_t> kinds, TBuild build, size_t rxLength, Bytes native,
         std::function<std::vector<MbStep>(uint8_t kind)> modbus, std::vector<size_t> twinSkip = {},
         std::function<void(const Result&)> check = {}) {
    Step s{};
    s.Name = name;
    s.Kinds = std::move(kinds);
    s.Build = std::move(build);
    s.RxLength = rxLength;
    s.Native = std::move(native);
    s.Modbus = std::move(modbus);
    s.TwinSkip = std::move(twinSkip);
    s.Check = std::move(check);
    return s;
}

Step SimCommand(const char* command) {
    Step s{};
    s.Name = command;
    s.SimCommand = command;
    return s;
}

std::function<std::vector<MbStep>(uint8_t)> Steps(std::vector<MbStep> steps) {
    return [steps](uint8_t) { return steps; };
}

class SimEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Temp.Path.empty());
        const std::string& dir = Temp.Path;
        Native = std::make_unique<SimLine>(
            std::vector<std::string>{"0:" + std::to_string(kAddrTovik), "2:" + std::to_string(kAddrTovikM)},
            dir + "/native.log", dir + "/announce", Clock);
        Modbus = std::make_unique<SimLine>(
            std::vector<std::string>{"1:" + std::to_string(kAddrTovik), "3:" + std::to_string(kAddrTovikM)},
            dir + "/modbus.log", dir + "/announce", Clock);
        ASSERT_FALSE(Native->PortName.empty());
        ASSERT_FALSE(Modbus->PortName.empty());
    }
    void TearDown() override {
        Native.reset();
        Modbus.reset();
    }
    SimLine& LineOf(uint8_t kind) { return IsModbusKind(kind) ? *Modbus : *Native; }

    Result RunOn(uint8_t kind, const TBuild& build) {
        SimLine& line = LineOf(kind);
        line.NewLog();
        Result r;
        r.Kind = kind;
        r.Out = RunRequest(line, AddressOf(kind), kind, build);
        r.Log = line.NewLog();
        return r;
    }

    // Runs a step on every kind that has it and checks the wire and the block.
    void RunStep(const Step& s) {
        SCOPED_TRACE(s.Name);
        if (!s.SimCommand.empty()) {
            ASSERT_EQ(Native->Sim->Command(s.SimCommand), "ok");
            ASSERT_EQ(Modbus->Sim->Command(s.SimCommand), "ok");
        }
        if (!s.Build) return;
        std::map<uint8_t, Result> results;
        for (uint8_t kind : s.Kinds) {
            SCOPED_TRACE("kind " + std::to_string(kind));
            Result r = RunOn(kind, s.Build);
            const uint8_t address = AddressOf(kind);
            EXPECT_TRUE(r.Out.Ok);
            if (s.RxLength == 0) {
                EXPECT_FALSE(r.Out.Data.has_value());
            } else {
                ASSERT_TRUE(r.Out.Data.has_value());
                // The block ends where the reply did: an item's own bytes, 16
                // timer bytes over ModBus.
                ASSERT_GT(r.Out.Data->size(), 0u);
                ASSERT_LE(r.Out.Data->size(), s.RxLength);
            }
            if (!IsModbusKind(kind)) {
                // One request frame with the expected payload, one reply whose data is the block.
                ASSERT_EQ(r.Log.size(), 1u);
                const auto request = NativePayload(r.Log[0].Request);
                ASSERT_TRUE(request.has_value()) << r.Log[0].Line;
                const Bytes native = s.NativeOf ? s.NativeOf(kind) : s.Native;
                EXPECT_EQ(*request, Cat({address}, native)) << r.Log[0].Line;
                ASSERT_TRUE(r.Log[0].Answered) << r.Log[0].Line;
                const auto reply = NativePayload(r.Log[0].Reply);
                ASSERT_TRUE(reply.has_value()) << r.Log[0].Line;
                ASSERT_GE(reply->size(), 2u);
                EXPECT_EQ((*reply)[0], address);
                EXPECT_EQ((*reply)[1], native[0]);
                if (r.Out.Data) {
                    const size_t n = std::min(s.RxLength, reply->size() - 2);
                    EXPECT_EQ(Bytes(r.Out.Data->begin(), r.Out.Data->begin() + static_cast<long>(n)),
                              Bytes(reply->begin() + 2, reply->begin() + 2 + static_cast<long>(n)));
                }
            } else {
                const auto expected = s.Modbus(kind);
                ASSERT_EQ(r.Log.size(), expected.size()) << (r.Log.empty() ? "" : r.Log[0].Line);
                for (size_t i = 0; i < expected.size(); ++i) {
                    const auto& e = r.Log[i];
                    SCOPED_TRACE(e.Line);
                    EXPECT_TRUE(e.Answered);
                    EXPECT_EQ(e.Request.at(0), address);
                    EXPECT_EQ(e.Function, expected[i].Function);
                    EXPECT_EQ(e.Register, expected[i].Register);
                    EXPECT_EQ(e.Count, expected[i].Count);
                    if (expected[i].Function == 16) {
                        EXPECT_EQ(e.Values, expected[i].Values);
                    }
                }
            }
            if (s.Check) s.Check(r);
            results[kind] = std::move(r);
        }
        // A reshaped ModBus block equals its native twin's block.
        for (uint8_t kind : {1, 3}) {
            if (!results.count(kind) || !results.count(NativeTwin(kind))) continue;
            const auto& mb = results[kind].Out.Data;
            const auto& nat = results[NativeTwin(kind)].Out.Data;
            if (!mb || !nat) continue;
            for (size_t i = 0; i < std::min(mb->size(), nat->size()); ++i) {
                if (std::find(s.TwinSkip.begin(), s.TwinSkip.end(), i) != s.TwinSkip.end()) continue;
                EXPECT_EQ(int((*mb)[i]), int((*nat)[i])) << "kind " << int(kind) << " byte " << i;
            }
        }
    }

    test::ManualClock Clock;
    test::TempDir Temp{"tovik-e2e"};
    std::unique_ptr<SimLine> Native;
    std::unique_ptr<SimLine> Modbus;
};

// The setpoint block every relay starts with (a 25 A model), by kind.
void CheckInitialBlock(const Result& r) {
    const Bytes& b = *r.Out.Data;
    EXPECT_EQ(U32(b, 0), 400u);     // Iпор
    EXPECT_EQ(U32(b, 8), 25000u);   // Inom
    EXPECT_EQ(U32(b, 20), 75000u);  // Iотс
    EXPECT_EQ(U16(b, 24), 1u);      // Ktr
    EXPECT_EQ(U16(b, 40), 15u);     // Tсз
    EXPECT_EQ(b[46], AddressOf(r.Kind));
    EXPECT_EQ(b[49], r.Kind >= 2 ? 0x0B : 0x13);
    EXPECT_EQ(Bytes(b.begin() + 50, b.begin() + 53), (Bytes{15, 6, 24}));
    EXPECT_EQ(U16(b, 53), 1000u + AddressOf(r.Kind));
    EXPECT_EQ(U16(b, 55), r.Kind >= 2 ? 100u : 0u);  // Tпс, TovikM only
    if (r.Kind == 3) {
        EXPECT_EQ(b[27], 5);  // Tотс, from register 45
        EXPECT_EQ(b[26], 0);  // discrete input protocol, from register 63
    } else {
        EXPECT_EQ(U16(b, 26), 0u);  // the high half of the 32-bit ratio (kind 2: no items 23, 24)
    }
}

std::function<std::vector<MbStep>(uint8_t)> UstRead() {
    return [](uint8_t kind) { return std::vector<MbStep>{{3, 32, kind == 3 ? 32 : 31, {}}}; };
}

// Read descriptor of each setpoint row as the builder must send it, and its registers.
struct CellWire {
    int Row;
    uint8_t Offset;
    uint8_t Size;
    int Register;
    int Count;  // on "Товик ModBus"; row 6 has one register less on "ТовикМ ModBus"
};
constexpr CellWire kCells[] = {
    {0, 0, 4, 32, 2},   {1, 4, 4, 34, 2},   {2, 8, 4, 36, 2},   {3, 12, 4, 38, 2},  {4, 16, 4, 40, 2},
    {5, 20, 4, 42, 2},  {6, 24, 4, 44, 2},  {7, 28, 2, 46, 1},  {8, 30, 2, 47, 1},  {9, 32, 2, 48, 1},
    {10, 34, 2, 49, 1}, {11, 36, 2, 50, 1}, {12, 38, 2, 51, 1}, {13, 40, 2, 52, 1}, {14, 42, 2, 53, 1},
    {15, 44, 2, 54, 1}, {16, 46, 1, 55, 1}, {17, 47, 1, 56, 1}, {18, 48, 1, 57, 1}, {20, 50, 3, 59, 2},
    {21, 53, 2, 61, 1}, {22, 55, 2, 62, 1},
};

// A task entry from 6:30:00 to 18:45:30 on 7.03.2026.
const TTaskEntry kTask = {6, 30, 0, 7, 3, 26, 18, 45, 30, 7, 3, 26};
const TTaskEntry kTask2 = {1, 2, 3, 4, 5, 26, 5, 6, 7, 8, 9, 26};
std::vector<int> TaskWords(const TTaskEntry& e) {
    std::vector<int> out;
    for (size_t i = 0; i < e.size(); i += 2) out.push_back(e[i] | e[i + 1] << 8);
    return out;
}

TEST_F(SimEndToEnd, EveryBuilderOnEveryKindThatHasIt) {
    const std::vector<uint8_t> all(std::begin(kAllKinds), std::end(kAllKinds));
    Bytes ust[4];  // the setpoint block of each kind, as first read
    std::vector<Step> steps;

    steps.push_back(
        Req("read setpoints", all, RequestReadUst, 57, {3}, UstRead(), {26, 27}, [&](const Result& r) {
            CheckInitialBlock(r);
            ust[r.Kind] = *r.Out.Data;
        }));
    steps.push_back(SimCommand("variant * 3"));
    // Every setpoint row the relays hold, one request each: the block's bytes.
    for (const auto& c : kCells) {
        std::vector<uint8_t> kinds = all;
        if (c.Row == 22) kinds = {2, 3};  // Tпс: TovikM only
        const CellWire cell = c;
        auto wire = [cell](uint8_t kind) {
            return std::vector<MbStep>{{3, cell.Register, cell.Row == 6 && kind == 3 ? 1 : cell.Count, {}}};
        };
        auto check = [&ust, cell](const Result& r) {
            SCOPED_TRACE("row " + std::to_string(cell.Row));
            const Bytes& b = *r.Out.Data;
            // "ТовикМ ModBus" holds only the 16-bit ratio in the field's register.
            const long n = cell.Row == 6 && r.Kind == 3 ? 2 : cell.Size;
            ASSERT_GE(b.size(), static_cast<size_t>(n));
            const auto from = ust[r.Kind].begin() + cell.Offset;
            EXPECT_EQ(Bytes(b.begin(), b.begin() + n), Bytes(from, from + n));
            for (size_t i = static_cast<size_t>(n); i < b.size(); ++i) EXPECT_EQ(b[i], 0) << "byte " << i;
        };
        steps.push_back(Req("read cell", kinds, Cell(c.Row), 8, {4, c.Offset, c.Size}, wire, {}, check));
    }
    // The state poll: model, the two change marks, the variant byte.
    auto poll = [&](uint8_t settingsMark, uint8_t taskMark) {
        return Req("state poll", all, Cell(kUstModelRow), 8, {4, 49, 1},
                   Steps({{3, 58, 1, {}}, {3, 6, 1, {}}, {3, 17, 1, {}}}), {},
                   [&ust, settingsMark, taskMark](const Result& r) {
                       EXPECT_EQ(*r.Out.Data, (Bytes{ust[r.Kind][49], settingsMark, taskMark, 3}));
                   });
    };
    steps.push_back(poll(0, 0));
    // Every row written back with the value it holds: the wire form of each offset.
    for (const auto& c : kCells) {
        std::vector<uint8_t> kinds = all;
        if (c.Row == 22) kinds = {2, 3};
        const CellWire cell = c;
        auto value = [&ust, cell](uint8_t kind) {
            return Bytes(ust[kind].begin() + cell.Offset, ust[kind].begin() + cell.Offset + cell.Size);
        };
        auto build = [value, cell](TProtoPort& p, uint8_t a, int32_t o, uint8_t k, TEvents r,
                                   TResultHandler h) {
            TUstRaw raw{};
            const Bytes v = value(k);
            std::copy(v.begin(), v.end(), raw.begin());
            return RequestWriteCell(p, a, o, k, std::move(r), std::move(h), cell.Row, raw);
        };
        // Two registers carry the two little-endian words (the date's second
        // word holds one byte); one register carries the item's word or byte.
        auto wire = [value, cell](uint8_t kind) {
            const Bytes v = value(kind);
            const bool two = cell.Count == 2 && !(cell.Row == 6 && kind == 3);
            std::vector<int> words = {v[0] | (v.size() > 1 ? v[1] << 8 : 0)};
            if (two) words.push_back(v[2] | (v.size() > 3 ? v[3] << 8 : 0));
            return std::vector<MbStep>{{16, cell.Register, two ? 2 : 1, words}};
        };
        Step s = Req("write cell back", kinds, build, 0, {}, wire);
        s.NativeOf = [value, cell](uint8_t kind) { return Cat({6, cell.Offset, cell.Size}, value(kind)); };
        steps.push_back(s);
    }
    steps.push_back(poll(1, 0));
    steps.push_back(Req("read setpoints after writing them back", all, RequestReadUst, 57, {3}, UstRead(),
                        {26, 27}, [&](const Result& r) { EXPECT_EQ(*r.Out.Data, ust[r.Kind]); }));

    // Setpoint writes; the next state poll reports the change once, and the block holds the values.
    steps.push_back(Req("write Inom", all, WriteCell(2, 24000), 0, Cat({6, 8, 4}, Le({24000}, 4)),
                        Steps({{16, 36, 2, {24000, 0}}})));
    steps.push_back(Req("write date of manufacture", all, WriteCell(20, 0x190201), 0, {6, 50, 3, 1, 2, 25},
                        Steps({{16, 59, 2, {1 + 2 * 256, 25}}})));
    steps.push_back(
        Req("write Tпс", {2, 3}, WriteCell(22, 150), 0, {6, 55, 2, 150, 0}, Steps({{16, 62, 1, {150}}})));
    steps.push_back(Req("write Tотс", {3}, WriteCell(23, 7), 0, {}, Steps({{16, 45, 1, {7}}})));
    steps.push_back(
        Req("write discrete input protocol", {3}, WriteCell(24, 2), 0, {}, Steps({{16, 63, 1, {2}}})));
    steps.push_back(poll(1, 0));
    steps.push_back(poll(0, 0));
    steps.push_back(Req("read setpoints after the writes", all, RequestReadUst, 57, {3}, UstRead(), {26, 27},
                        [](const Result& r) {
                            const Bytes& b = *r.Out.Data;
                            EXPECT_EQ(U32(b, 8), 24000u);
                            EXPECT_EQ(Bytes(b.begin() + 50, b.begin() + 53), (Bytes{1, 2, 25}));
                            EXPECT_EQ(b[46], AddressOf(r.Kind));  // the one-byte items keep their places
                            EXPECT_EQ(b[49], r.Kind >= 2 ? 0x0B : 0x13);
                            if (r.Kind >= 2) {
                                EXPECT_EQ(U16(b, 55), 150u);
                            }
                            if (r.Kind == 3) {
                                EXPECT_EQ(b[27], 7);  // item 23
                                EXPECT_EQ(b[26], 2);  // item 24
                            }
                        }));

    // Readings of a stopped relay.
    auto zeros = [](const Result& r) {
        for (size_t i = 0; i < r.Out.Data->size(); ++i) EXPECT_EQ((*r.Out.Data)[i], 0) << "byte " << i;
    };
    auto state = [&](uint8_t code) {
        return Req("state", all, RequestReadState, 4, {23}, Steps({{3, 6, 1, {}}}), {},
                   [code](const Result& r) {
                       EXPECT_EQ(*r.Out.Data, (Bytes{0, 0, 0, code}));
                   });
    };
    steps.push_back(state(0));  // "СТОП"
    steps.push_back(Req("timers", all, RequestReadTimers, 17, {7}, Steps({{3, 352, 8, {}}}), {}, zeros));
    steps.push_back(Req("currents", all, RequestReadCurrents, 12, {14}, Steps({{3, 0, 6, {}}}), {}, zeros));
    steps.push_back(Req("maximum current", all, RequestReadImax, 4, {17}, Steps({{3, 8, 2, {}}}), {}, zeros));
    steps.push_back(
        Req("calibration information", {0, 2}, RequestReadCalInfo, 3, {26}, {}, {}, [](const Result& r) {
            EXPECT_EQ(*r.Out.Data, (Bytes{6, 7, 1}));
        }));

    // Start: the delayed start, then running with currents around the 20 A load.
    steps.push_back(Req("start", all, RequestStart, 0, {1}, Steps({{16, 16, 1, {1}}})));
    steps.push_back(state(17));                  // "ОТЛОЖЕННЫЙ ПУСК"
    steps.push_back(SimCommand("advance 900"));  // past Tсз and Tп
    steps.push_back(state(1));                   // "РАБОТА"
    auto nearLoad = [](float v) { return v > 19000.0f && v < 21000.0f; };
    steps.push_back(Req("currents while running", all, RequestReadCurrents, 12, {14}, Steps({{3, 0, 6, {}}}),
                        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, [&](const Result& r) {
                            for (size_t i = 0; i < 3; ++i)
                                EXPECT_PRED1(nearLoad, F32(*r.Out.Data, 4 * i)) << "phase " << i;
                        }));
    steps.push_back(Req("maximum current while running", all, RequestReadImax, 4, {17},
                        Steps({{3, 8, 2, {}}}), {0, 1, 2, 3},
                        [&](const Result& r) { EXPECT_PRED1(nearLoad, float(U32(*r.Out.Data, 0))); }));
    steps.push_back(Req("stop", all, RequestStop, 0, {2}, Steps({{16, 16, 1, {0}}})));
    steps.push_back(state(0));
    steps.push_back(Req("operating statistics", {3}, RequestReadStatistics, 24, {}, Steps({{3, 400, 12, {}}}),
                        {}, [](const Result& r) {
                            EXPECT_EQ(U32(*r.Out.Data, 16), 1u);  // switched on once
                            EXPECT_EQ(U32(*r.Out.Data, 20), 0u);  // running seconds: 0.6 s
                        }));

    // Alarms: a forced trip makes a record, a counter and a new journal marker.
    uint8_t marker[4] = {};
    steps.push_back(Req("alarm count", all, RequestReadAlarmCount, 2, {11}, Steps({{3, 7, 1, {}}}), {},
                        [&](const Result& r) {
                            EXPECT_EQ((*r.Out.Data)[0], 0);
                            marker[r.Kind] = (*r.Out.Data)[1];
                        }));
    steps.push_back(SimCommand("trip * 4"));
    steps.push_back(state(18));  // "АВАРИЯ"
    steps.push_back(Req("alarm count after the trip", all, RequestReadAlarmCount, 2, {11},
                        Steps({{3, 7, 1, {}}}), {}, [&](const Result& r) {
                            EXPECT_EQ((*r.Out.Data)[0], 1);
                            EXPECT_NE((*r.Out.Data)[1], marker[r.Kind]);
                        }));
    steps.push_back(Req("alarm record", all, Bind(RequestReadAlarm, uint8_t{0}), 19, {12, 0},
                        Steps({{16, 128, 1, {0}}, {3, 129, 10, {}}}), {0, 1, 2, 3, 4, 5},
                        [](const Result& r) {
                            const Bytes& b = *r.Out.Data;
                            EXPECT_EQ(b[6], 4);  // "Короткое замыкание"
                            for (size_t i = 0; i < 3; ++i)
                                EXPECT_EQ(U32(b, 7 + 4 * i), 20000u) << "phase " << i;
                            EXPECT_LT(b[0], 24);
                            EXPECT_GE(b[3], 1);
                        }));
    steps.push_back(Req("alarm counters", all, RequestReadAlarmCounters, 14, {21}, Steps({{3, 384, 7, {}}}),
                        {}, [](const Result& r) {
                            // The cut-off trip counts in word 4 ("Nотс").
                            EXPECT_EQ(*r.Out.Data, Le({0, 0, 0, 0, 1, 0, 0}, 2));
                        }));
    steps.push_back(Req("reset alarm counters", all, RequestResetAlarmCounters, 0, Cat({22}, Bytes(14, 0)),
                        Steps({{16, 256, 1, {2}}})));
    steps.push_back(Req("alarm counters after the reset", all, RequestReadAlarmCounters, 14, {21},
                        Steps({{3, 384, 7, {}}}), {}, zeros));
    steps.push_back(Req("operating statistics after the reset", {3}, RequestReadStatistics, 24, {},
                        Steps({{3, 400, 12, {}}}), {},
                        [](const Result& r) { EXPECT_EQ(U32(*r.Out.Data, 16), 0u); }));
    steps.push_back(Req("clear alarms", all, RequestClearAlarms, 0, {13}, Steps({{16, 256, 1, {1}}})));
    steps.push_back(Req("alarm count after clearing", all, RequestReadAlarmCount, 2, {11},
                        Steps({{3, 7, 1, {}}}), {}, [](const Result& r) { EXPECT_EQ((*r.Out.Data)[0], 0); }));

    // Clock: 7 March 2026, 14:05:09; the year travels modulo 1000.
    const TLocalTime when{14, 5, 9, 7, 3, 2026};
    steps.push_back(Req("set clock", all, SetClock(when), 0, {25, 14, 5, 9, 7, 3, 26},
                        Steps({{16, 112, 4, {14 + 5 * 256, 9, 7 + 3 * 256, 26}}})));
    steps.push_back(
        Req("read clock", all, RequestReadClock, 6, {24}, Steps({{3, 112, 4, {}}}), {2}, [](const Result& r) {
            const Bytes& b = *r.Out.Data;
            EXPECT_EQ(Bytes(b.begin(), b.begin() + 3), (Bytes{14, 5, 9}));  // the relays' time stood still
            EXPECT_EQ(Bytes(b.begin() + 3, b.end()), (Bytes{7, 3, 26}));
        }));

    // Task log: two entries to start with, capacity 16.
    auto task = [&](uint8_t entry, std::optional<TTaskEntry> content, uint8_t count) {
        return Req("read task", all, Bind(RequestReadTask, entry), 15, {19, entry},
                   Steps({{3, 304, 1, {}}, {16, 304, 1, {entry}}, {3, 305, 6, {}}}), {},
                   [entry, content, count](const Result& r) {
                       const Bytes& b = *r.Out.Data;
                       if (content) {
                           EXPECT_EQ(Bytes(b.begin(), b.begin() + 12),
                                     Bytes(content->begin(), content->end()));
                       }
                       EXPECT_EQ(b[12], entry);
                       EXPECT_EQ(b[13], count);
                       EXPECT_EQ(b[14], 16);
                   });
    };
    steps.push_back(task(0, std::nullopt, 2));
    steps.push_back(task(7, TTaskEntry{}, 2));  // beyond the log: an empty entry
    steps.push_back(Req("write task", all, Bind(RequestWriteTask, uint8_t{1}, kTask), 0,
                        Cat({20, 1}, Bytes(kTask.begin(), kTask.end())),
                        Steps({{16, 304, 1, {1}}, {16, 305, 6, TaskWords(kTask)}, {16, 311, 1, {0}}})));
    steps.push_back(task(1, kTask, 2));
    steps.push_back(Req("add task", all, Bind(RequestAddTask, uint8_t{2}, kTask2), 0,
                        Cat({31, 2}, Bytes(kTask2.begin(), kTask2.end())),
                        Steps({{16, 305, 6, TaskWords(kTask2)}, {16, 311, 1, {1}}})));
    steps.push_back(task(2, kTask2, 3));
    steps.push_back(Req("delete task", all, Bind(RequestDeleteTask, uint8_t{0}, uint8_t{3}), 0, {30, 0, 3},
                        Steps({{16, 304, 1, {0}}, {16, 311, 1, {2}}})));
    steps.push_back(task(0, kTask, 2));
    steps.push_back(poll(0, 1));
    steps.push_back(Req("clear tasks", all, RequestClearTasks, 0, {32}, Steps({{16, 311, 1, {3}}})));
    steps.push_back(task(0, TTaskEntry{}, 0));

    for (const auto& s : steps) {
        RunStep(s);
        if (HasFatalFailure()) return;
    }
    // Every exchange was answered and accepted on the first try.
    for (SimLine* line : {Native.get(), Modbus.get()}) {
        const auto st = line->Stats();
        EXPECT_GT(st.SentCount, 0);
        EXPECT_EQ(st.OkCount, st.SentCount);
        EXPECT_EQ(st.ErrorCount, 0);
    }
}

// Commands a ModBus kind cannot translate fail at once: nothing on the line.
TEST_F(SimEndToEnd, UntranslatableCommandsFailWithoutAnExchange) {
    struct Case {
        const char* Name;
        TBuild Build;
    };
    const std::vector<Case> cases = {
        {"calibration information", RequestReadCalInfo},
        {"read Tотс", Cell(23)},
        {"read discrete input protocol", Cell(24)},
    };
    for (uint8_t kind : {1, 3}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.Name) + " on kind " + std::to_string(kind));
            const auto before = Modbus->Stats();
            const Result r = RunOn(kind, c.Build);
            EXPECT_FALSE(r.Out.Ok);
            EXPECT_EQ(Modbus->Stats().SentCount, before.SentCount);
            // A request that is answered afterwards is the first the relay hears.
            const Outcome probe = RunRequest(*Modbus, AddressOf(kind), kind, RequestReadState);
            EXPECT_TRUE(probe.Ok);
            const auto log = Modbus->NewLog();
            ASSERT_EQ(log.size(), 1u) << (log.empty() ? "" : log.front().Line);
            EXPECT_EQ(log[0].Register, 6);
        }
    }
    // Statistics exist on "ТовикМ ModBus" only: the other relay refuses the registers.
    const Result r = RunOn(1, RequestReadStatistics);
    EXPECT_FALSE(r.Out.Ok);
    ASSERT_EQ(r.Log.size(), 1u);
    EXPECT_NE(r.Log[0].Line.find("\"exception\":2"), std::string::npos) << r.Log[0].Line;
}

// Line faults from the simulator's command input, on every kind.
TEST_F(SimEndToEnd, FaultsOnTheLine) {
    struct Case {
        const char* Name;
        const char* Command;  // before the request; "speak" is sent after it
        std::vector<uint8_t> Kinds;
        bool Bus;
        bool Ok;
        int Sent, Accepted, Errors;  // statistics deltas; Errors -1: not checked
        size_t Requests;             // requests the simulator received
    };
    const std::vector<Case> cases = {
        {"no answer", "ignore 3", {0, 1, 2, 3}, true, false, 3, 0, 0, 3},
        {"silent relay", "silent", {0, 3}, true, false, 3, 0, 0, 3},
        {"bad check byte or CRC, then good", "corrupt 1", {0, 1, 2, 3}, true, true, 2, 1, 1, 2},
        // The noise byte is taken as a length byte: the frame behind it is lost
        // for the try, whatever the receiver makes of the rest.
        {"noise byte first", "noise 1", {0, 2}, true, true, 2, 1, -1, 2},
        {"noise byte first", "noise 1", {1, 3}, true, true, 2, 1, 1, 2},
        // Native: rejected, the next try is answered. ModBus: rejected at once.
        {"wrong address in bus mode", "wrong-address 1", {0, 2}, true, true, 2, 1, 1, 2},
        {"wrong address in bus mode", "wrong-address 1", {1, 3}, true, false, 1, 0, 1, 1},
        {"wrong address, single relay mode", "wrong-address 1", {0, 1, 2, 3}, false, true, 1, 1, 0, 1},
    };
    for (const auto& c : cases) {
        for (uint8_t kind : c.Kinds) {
            SCOPED_TRACE(std::string(c.Name) + " on kind " + std::to_string(kind));
            SimLine& line = LineOf(kind);
            line.Port->Bus = c.Bus;
            ASSERT_EQ(line.Sim->Command(c.Command), "ok");
            // Tries that must go unanswered wait only the request's own time.
            if (c.Sent == 3) line.Port->ReplyTimeout = 0;
            const auto before = line.Stats();
            line.Trace->Clear();
            const Result r = RunOn(kind, RequestReadClock);
            if (std::string(c.Command) == "silent") {
                EXPECT_EQ(line.Sim->Command("speak"), "ok");
            }
            line.Port->Bus = true;
            line.Port->ReplyTimeout = kReplyTimeoutMs;
            const auto after = line.Stats();
            EXPECT_EQ(r.Out.Ok, c.Ok);
            EXPECT_EQ(after.SentCount - before.SentCount, c.Sent);
            EXPECT_EQ(after.OkCount - before.OkCount, c.Accepted);
            if (c.Errors >= 0) {
                EXPECT_EQ(after.ErrorCount - before.ErrorCount, c.Errors);
            }
            EXPECT_EQ(r.Log.size(), c.Requests) << (r.Log.empty() ? "" : r.Log.back().Line);
            ASSERT_TRUE(r.Out.Data.has_value());
            const Bytes& b = *r.Out.Data;
            if (c.Ok) {
                EXPECT_LT(b[0], 24);  // a real time of day and date
                EXPECT_GE(b[3], 1);
                EXPECT_GE(b[4], 1);
            } else {
                EXPECT_TRUE(b.empty());  // nothing arrived
            }
            // No answer: three tries, each waiting the request's whole time.
            if (c.Sent == 3) {
                size_t waited = 0;
                for (const TFrameTraceRecord& t : line.Trace->Snapshot()) {
                    if (t.Outcome.Status != TReplyStatus::NoAnswer) continue;
                    EXPECT_GE(t.ReplyMs, kExtraShort);
                    ++waited;
                }
                EXPECT_EQ(waited, 3u);
                for (const auto& e : r.Log) EXPECT_FALSE(e.Answered) << e.Line;
            }
        }
    }
}

}  // namespace
}  // namespace tovik
