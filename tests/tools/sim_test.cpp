// tovik-sim as a program: started as a child process, reached through its
// pseudo-terminal with the serial port of the engine. Every simulator runs
// on a manual clock (time moves with "advance") and announces its line in a
// folder of its test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "ports/ProtoUART.h"
#include "ports/SerialLines.h"
#include "protocol/Frame.h"
#include "protocol/Modbus.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace tovik::sim {
namespace {

const char* const kBinary = TOVIK_BINARY_DIR "/bin/tovik-sim";

using test::TChildProcess;
using test::TSimProcess;

std::vector<std::string> Unpaced(std::vector<std::string> args) {
    args.insert(args.end(), {"--baud", "0"});
    return args;
}

// The simulator's line announced in a folder of the test, its relays on a
// clock that moves only when told.
std::vector<std::string> Private(std::vector<std::string> args, const std::string& dir) {
    args.insert(args.end(), {"--announce-dir", dir, "--manual-clock"});
    return args;
}

// A started simulator, without pacing, with its port opened in bus mode;
// its standard error is kept for the failure messages.
struct Line {
    explicit Line(const std::vector<std::string>& args)
        : Sim(kBinary, Private(Unpaced(args), Dir.Path + "/announce"), TChildProcess::EStderr::Capture) {
        if (Sim.Port().empty()) return;
        PortName = Sim.Port();
        Port.SetPortName(PortName);
        Port.Bus = true;
    }
    std::string AnnounceDir() const { return Dir.Path + "/announce"; }
    test::TempDir Dir{"tovik-sim-test"};
    TSimProcess Sim;
    std::string PortName;
    TProtoUART Port;
};

// Waits for what a peer process does in its own time; the limit only ends
// a test whose peer never does it.
constexpr int kPatienceMs = test::kHangLimitMs;

template <typename Pred>
bool Eventually(Pred pred) {
    return test::WaitUntil(pred);
}

// The receiver rule of the executor, written out here so that the
// simulator's frames are checked independently of its code: the payload of
// the first valid frame in `bytes`.
class Receiver {
public:
    std::optional<std::vector<uint8_t>> Add(uint8_t b) {
        Sum = static_cast<uint8_t>(Sum + b + Position);
        bool error = false;
        if (Remaining == 0) {
            Remaining = b;
            Second = static_cast<uint8_t>(b - 1);
            Sum = static_cast<uint8_t>(b + 1);
            Position = 1;
        } else if (Remaining == Second) {
            error = b != Second;
        } else if (Remaining == 1) {
            if (Sum == 0) return Data;
            error = true;
        } else if (Position % 4 == 0) {
            error = Sum != 0;
        } else {
            Data.push_back(b);
        }
        if (error) {
            Data.clear();
            Remaining = 0;
            return std::nullopt;
        }
        ++Position;
        --Remaining;
        return std::nullopt;
    }

private:
    std::vector<uint8_t> Data;
    uint8_t Sum = 0, Position = 0, Remaining = 0, Second = 0;
};

std::optional<std::vector<uint8_t>> Receive(const std::vector<uint8_t>& bytes) {
    Receiver r;
    for (uint8_t b : bytes)
        if (auto payload = r.Add(b)) return payload;
    return std::nullopt;
}

bool Send(TProtoPort& port, const std::vector<uint8_t>& payload) {
    port.DiscardInput();
    const auto frame = BuildNativeFrame(payload);
    return port.Write(frame.data(), static_cast<int32_t>(frame.size())) == static_cast<int32_t>(frame.size());
}

// One native request and the payload of its reply. A reply that must come
// gets all the time it needs; a short `timeoutMs` is for requests that must
// stay unanswered.
std::optional<std::vector<uint8_t>> NativeExchange(TProtoPort& port, const std::vector<uint8_t>& payload,
                                                   int timeoutMs = kPatienceMs) {
    if (!Send(port, payload)) return std::nullopt;
    Receiver r;
    const uint32_t start = timeGetTime();
    while (ElapsedMs(start, timeGetTime()) < static_cast<uint32_t>(timeoutMs)) {
        uint8_t b;
        if (port.Read(&b, 1) != 1) continue;
        if (auto reply = r.Add(b)) return reply;
    }
    return std::nullopt;
}

// The raw bytes answering a native request, once `count` of them are in.
std::vector<uint8_t> RawReply(TProtoPort& port, const std::vector<uint8_t>& payload, size_t count) {
    std::vector<uint8_t> bytes;
    if (!Send(port, payload)) return bytes;
    const uint32_t start = timeGetTime();
    while (bytes.size() < count && ElapsedMs(start, timeGetTime()) < static_cast<uint32_t>(kPatienceMs)) {
        uint8_t b;
        if (port.Read(&b, 1) == 1) bytes.push_back(b);
    }
    return bytes;
}

std::optional<std::vector<uint8_t>> Modbus(TProtoPort& port, std::vector<uint8_t> request, int tries = 1,
                                           int timeoutMs = kPatienceMs) {
    AppendCrc(request);
    TBuff reply;
    if (!Exchange(port, request, timeoutMs, 2, tries, reply).Ok()) return std::nullopt;
    return reply;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream f(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(f, l);) lines.push_back(l);
    return lines;
}

TEST(SimProgram, NativeRelaysAnswerTheirCommands) {
    Line line({"--relay", "0:1", "--relay", "2:9"});
    ASSERT_FALSE(line.PortName.empty()) << line.Sim.ErrorText();
    EXPECT_EQ(line.PortName.rfind("pts/", 0), 0u);
    for (uint8_t address : {1, 9}) {
        const auto block = NativeExchange(line.Port, {address, 3});
        ASSERT_TRUE(block.has_value()) << int(address);
        ASSERT_EQ(block->size(), 2 + 57u);
        EXPECT_EQ((*block)[0], address);
        EXPECT_EQ((*block)[1], 3);
        EXPECT_EQ((*block)[2 + 46], address);  // bus identifier
        EXPECT_NE((*block)[2 + 49] & 7, 0);    // a model
        const auto poll = NativeExchange(line.Port, {address, 4, 49, 1});
        ASSERT_TRUE(poll.has_value());
        EXPECT_EQ(poll->size(), 2 + 4u);
        EXPECT_EQ((*poll)[2], (*block)[2 + 49]);
        const auto currents = NativeExchange(line.Port, {address, 14});
        ASSERT_TRUE(currents.has_value());
        EXPECT_EQ(currents->size(), 2 + 12u);
        const auto clock = NativeExchange(line.Port, {address, 24});
        ASSERT_TRUE(clock.has_value());
        ASSERT_EQ(clock->size(), 2 + 6u);
        EXPECT_LT((*clock)[2], 24);
        EXPECT_GE((*clock)[6], 1);
        const auto cal = NativeExchange(line.Port, {address, 26});
        ASSERT_TRUE(cal.has_value());
        EXPECT_EQ(cal->size(), 2 + 3u);
        EXPECT_GE((*cal)[2], 2);
    }
    // Start: the delayed start (0.3 s), the blocking (0.5 s), then running.
    ASSERT_TRUE(NativeExchange(line.Port, {1, 1}).has_value());
    auto state = NativeExchange(line.Port, {1, 23});
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->at(5), 17);  // "ОТЛОЖЕННЫЙ ПУСК"
    EXPECT_EQ(line.Sim.Command("advance 400"), "ok");
    state = NativeExchange(line.Port, {1, 23});
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->at(5), 2);  // "РАБОТА С БЛОКИРОВКОЙ ЗАЩИТ"
    EXPECT_EQ(line.Sim.Command("advance 600"), "ok");
    state = NativeExchange(line.Port, {1, 23});
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->at(5), 1);  // "РАБОТА"
    // Not our address, and a command the relay does not know.
    EXPECT_FALSE(NativeExchange(line.Port, {2, 3}, 150).has_value());
    EXPECT_FALSE(NativeExchange(line.Port, {1, 33}, 150).has_value());
}

TEST(SimProgram, ModbusRelaysServeTheRegisterMap) {
    Line line({"--relay", "1:3", "--relay", "3:4"});
    ASSERT_FALSE(line.PortName.empty()) << line.Sim.ErrorText();
    const auto plain = Modbus(line.Port, {3, 3, 0, 32, 0, 31});
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(plain->size(), 62u);
    const auto m = Modbus(line.Port, {4, 3, 0, 32, 0, 32});
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->size(), 64u);
    EXPECT_EQ((*m)[46], 4);  // register 55, the bus identifier
    // Statistics only on "ТовикМ ModBus".
    const auto stats = Modbus(line.Port, {4, 3, 1, 0x90, 0, 12});
    ASSERT_TRUE(stats.has_value());
    EXPECT_EQ(stats->size(), 24u);
    EXPECT_FALSE(Modbus(line.Port, {3, 3, 1, 0x90, 0, 12}).has_value());
    // A write: start, and the state poll sees the relay working.
    ASSERT_TRUE(Modbus(line.Port, {3, 16, 0, 16, 0, 1, 1, 0, 1}).has_value());
    const auto state = Modbus(line.Port, {3, 3, 0, 6, 0, 1});
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ((*state)[0], 17);  // "ОТЛОЖЕННЫЙ ПУСК"
    // Other addresses stay silent.
    EXPECT_FALSE(Modbus(line.Port, {5, 3, 0, 6, 0, 1}, 1, 150).has_value());
}

TEST(SimProgram, LogHasOneJsonLinePerRequest) {
    test::TempDir dir{"tovik-sim-test"};
    const std::string log = dir.Path + "/requests.log";
    Line line({"--relay", "1:1", "--log", log});
    ASSERT_FALSE(line.PortName.empty());
    ASSERT_TRUE(Modbus(line.Port, {1, 16, 0, 57, 0, 1, 1, 0, 1}).has_value());
    ASSERT_TRUE(Modbus(line.Port, {1, 3, 0, 0, 0, 10}).has_value());
    EXPECT_FALSE(Modbus(line.Port, {2, 3, 0, 0, 0, 10}, 1, 150).has_value());
    // The unanswered request is logged whenever the simulator gets to it.
    ASSERT_TRUE(Eventually([&] { return ReadLines(log).size() >= 3; }));
    const auto lines = ReadLines(log);
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& l : lines) {
        EXPECT_EQ(l.front(), '{');
        EXPECT_EQ(l.back(), '}');
        EXPECT_NE(l.find("\"time\":\""), std::string::npos);
    }
    EXPECT_NE(lines[0].find("\"bytes\":\"01100039000101000192f9\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"function\":16,\"register\":57,\"count\":1,\"values\":[1]"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find("\"answered\":true,\"reply\":\"011000390001d1c4\""), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("\"register\":0,\"count\":10"), std::string::npos);
    EXPECT_NE(lines[2].find("\"address\":2"), std::string::npos);
    EXPECT_NE(lines[2].find("\"answered\":false"), std::string::npos);
}

// The reply to a state request is an 11-byte frame (a 6-byte payload).
constexpr size_t kStateFrameSize = 11;

TEST(SimProgram, FaultCommandsFromStandardInput) {
    Line line({"--relay", "0:1", "--noise", "1"});
    ASSERT_FALSE(line.PortName.empty());
    // A noise byte, taken as a length byte, hides the frame behind it.
    auto raw = RawReply(line.Port, {1, 23}, 1 + kStateFrameSize);
    ASSERT_EQ(raw.size(), 1 + kStateFrameSize);
    EXPECT_EQ(raw[0], 0xA5);
    EXPECT_FALSE(Receive(raw).has_value());
    EXPECT_TRUE(Receive({raw.begin() + 1, raw.end()}).has_value());
    EXPECT_TRUE(NativeExchange(line.Port, {1, 23}).has_value());

    EXPECT_EQ(line.Sim.Command("ignore 1"), "ok");
    EXPECT_FALSE(NativeExchange(line.Port, {1, 23}, 150).has_value());
    EXPECT_TRUE(NativeExchange(line.Port, {1, 23}).has_value());
    EXPECT_EQ(line.Sim.Command("corrupt 1"), "ok");
    raw = RawReply(line.Port, {1, 23}, kStateFrameSize);
    ASSERT_EQ(raw.size(), kStateFrameSize);
    EXPECT_FALSE(Receive(raw).has_value());
    EXPECT_TRUE(NativeExchange(line.Port, {1, 23}).has_value());
    EXPECT_EQ(line.Sim.Command("wrong-address 1"), "ok");
    const auto wrong = NativeExchange(line.Port, {1, 23});
    ASSERT_TRUE(wrong.has_value());
    EXPECT_EQ((*wrong)[0], 2);
    EXPECT_EQ(line.Sim.Command("silent"), "ok");
    EXPECT_FALSE(NativeExchange(line.Port, {1, 23}, 150).has_value());
    EXPECT_EQ(line.Sim.Command("speak"), "ok");
    EXPECT_TRUE(NativeExchange(line.Port, {1, 23}).has_value());
    EXPECT_EQ(line.Sim.Command("frobnicate").rfind("error: ", 0), 0u);
}

TEST(SimProgram, ModbusFaultsAsTheExchangeSeesThem) {
    Line line({"--relay", "3:7"});
    ASSERT_FALSE(line.PortName.empty());
    const std::vector<uint8_t> read = {7, 3, 0, 58, 0, 1};
    EXPECT_EQ(line.Sim.Command("corrupt 1"), "ok");
    auto before = line.Port.Stats().GetStats();
    EXPECT_TRUE(Modbus(line.Port, read, 2).has_value());  // bad CRC, then good on the second try
    auto after = line.Port.Stats().GetStats();
    EXPECT_EQ(after.SentCount - before.SentCount, 2);
    EXPECT_EQ(after.ErrorCount - before.ErrorCount, 1);
    EXPECT_EQ(line.Sim.Command("wrong-address 1"), "ok");
    EXPECT_FALSE(Modbus(line.Port, read).has_value());  // refused in bus mode
    EXPECT_TRUE(Modbus(line.Port, read).has_value());
}

TEST(SimProgram, TripFromTheLoadCommandReachesTheJournal) {
    Line line({"--relay", "0:1"});
    ASSERT_FALSE(line.PortName.empty());
    const auto header = NativeExchange(line.Port, {1, 11});
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(line.Sim.Command("start 1"), "ok");
    EXPECT_EQ(line.Sim.Command("advance 500"), "ok");    // past the delayed start
    EXPECT_EQ(line.Sim.Command("load 1 100000"), "ok");  // beyond the cut-off current
    const auto state = NativeExchange(line.Port, {1, 23});
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->at(5), 18);  // "АВАРИЯ"
    const auto header2 = NativeExchange(line.Port, {1, 11});
    ASSERT_TRUE(header2.has_value());
    EXPECT_EQ((*header2)[2], (*header)[2] + 1);
    EXPECT_NE((*header2)[3], (*header)[3]);
    const auto record = NativeExchange(line.Port, {1, 12, 0});
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->size(), 2 + 19u);
    EXPECT_EQ((*record)[2 + 6], 4);  // "Короткое замыкание"
    const auto counters = NativeExchange(line.Port, {1, 21});
    ASSERT_TRUE(counters.has_value());
    EXPECT_EQ((*counters)[2 + 8], 1);   // Nотс, word 4
    EXPECT_EQ((*counters)[2 + 10], 0);  // Nфаз, word 5
}

TEST(SimProgram, ManualClockMovesOnlyWhenAdvanced) {
    Line line({"--relay", "2:1"});
    ASSERT_FALSE(line.PortName.empty());
    EXPECT_EQ(line.Sim.Command("clock 1 23:59:58 31.12.2025"), "ok");
    const auto before = NativeExchange(line.Port, {1, 24});
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(*before, (std::vector<uint8_t>{1, 24, 23, 59, 58, 31, 12, 25}));
    EXPECT_EQ(line.Sim.Command("advance 3000"), "ok");
    EXPECT_EQ(NativeExchange(line.Port, {1, 24}), (std::vector<uint8_t>{1, 24, 0, 0, 1, 1, 1, 26}));
    EXPECT_EQ(line.Sim.Command("advance -1").rfind("error: ", 0), 0u);
}

TEST(SimProgram, AnnouncesItsLineBeforeNamingItAndRemovesItAtTheEnd) {
    Line line({"--relay", "2:1", "--relay", "0:20"});
    ASSERT_FALSE(line.PortName.empty());
    const std::string file = line.AnnounceDir() + "/" + std::to_string(line.Sim.Pid());
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const auto announced = ParseAnnouncement(text.str());
    ASSERT_TRUE(announced.has_value()) << text.str();
    EXPECT_EQ(announced->Port, line.PortName);
    EXPECT_EQ(announced->Pid, line.Sim.Pid());
    EXPECT_EQ(announced->StartTicks, ProcessStartTicks(line.Sim.Pid()));
    struct stat st {};
    ASSERT_EQ(::stat(("/dev/" + line.PortName).c_str(), &st), 0);
    EXPECT_EQ(announced->Device, static_cast<uint64_t>(st.st_rdev));
    EXPECT_EQ(announced->Relays, (std::vector<std::pair<uint8_t, uint8_t>>{{2, 1}, {0, 20}}));
    EXPECT_EQ(ListAnnouncedLines(line.AnnounceDir()), std::vector<TAnnouncedLine>{*announced});

    // The end of its input does not end it: after the input closed, a
    // request is read in a later round than the end of the input.
    line.Sim.CloseInput();
    EXPECT_TRUE(NativeExchange(line.Port, {20, 23}).has_value());
    EXPECT_TRUE(NativeExchange(line.Port, {20, 23}).has_value());
    ::kill(line.Sim.Pid(), SIGTERM);
    EXPECT_EQ(line.Sim.Wait(kPatienceMs), 0);
    EXPECT_NE(::stat(file.c_str(), &st), 0) << "announcement left behind";
    EXPECT_TRUE(ListAnnouncedLines(line.AnnounceDir()).empty());
}

TEST(SimProgram, AKilledSimulatorsAnnouncementIsDroppedAndRemoved) {
    Line line({"--relay", "0:1"});
    ASSERT_FALSE(line.PortName.empty());
    ASSERT_EQ(ListAnnouncedLines(line.AnnounceDir()).size(), 1u);
    const std::string file = line.AnnounceDir() + "/" + std::to_string(line.Sim.Pid());
    ::kill(line.Sim.Pid(), SIGKILL);
    EXPECT_EQ(line.Sim.Wait(kPatienceMs), -1);  // killed: no exit code
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0) << "a killed simulator cannot clean up";
    EXPECT_TRUE(ListAnnouncedLines(line.AnnounceDir()).empty());
    EXPECT_NE(::stat(file.c_str(), &st), 0) << "the stale announcement stayed";
}

TEST(SimProgram, AnAnnouncedLineNowHeldByAnotherIsDropped) {
    Line line({"--relay", "0:1"});
    Line other({"--relay", "0:2"});
    ASSERT_FALSE(line.PortName.empty());
    ASSERT_FALSE(other.PortName.empty());
    auto announced = ListAnnouncedLines(line.AnnounceDir());
    ASSERT_EQ(announced.size(), 1u);
    // The first simulator's announcement now names the other one's line,
    // as if its pseudo-terminal number had gone to someone else.
    TAnnouncedLine moved = announced[0];
    moved.Port = other.PortName;
    struct stat st {};
    ASSERT_EQ(::stat(("/dev/" + other.PortName).c_str(), &st), 0);
    moved.Device = static_cast<uint64_t>(st.st_rdev);
    std::string why;
    ASSERT_TRUE(WriteAnnouncement(line.AnnounceDir(), moved, why)) << why;
    EXPECT_EQ(CheckAnnouncedLine(moved), TAnnouncedLineState::LineChanged);
    EXPECT_TRUE(ListAnnouncedLines(line.AnnounceDir()).empty());
    // Its simulator still runs: the file is its own to remove.
    EXPECT_EQ(::stat((line.AnnounceDir() + "/" + std::to_string(line.Sim.Pid())).c_str(), &st), 0);
    // The other simulator's own announcement is still good.
    EXPECT_EQ(ListAnnouncedLines(other.AnnounceDir()).size(), 1u);
}

TEST(SimProgram, ALaterClientCanOpenTheLineAgain) {
    Line line({"--relay", "0:1"});
    ASSERT_FALSE(line.PortName.empty());
    ASSERT_TRUE(NativeExchange(line.Port, {1, 23}).has_value());
    line.Port.Close();  // the client took the line exclusively; now it leaves
    // The simulator sees the close and lifts the exclusive mark.
    const std::string path = "/dev/" + line.PortName;
    int exclusive = -1;
    EXPECT_TRUE(Eventually([&] {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) return false;
        const bool read = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0;
        ::close(fd);
        return read && exclusive == 0;
    })) << "the exclusive mark outlived the client";
    TProtoUART again;
    again.SetPortName(line.PortName);
    EXPECT_TRUE(NativeExchange(again, {1, 23}).has_value());
}

// Pacing only ever makes a reply later, so its lower bound holds on any
// machine, however loaded.
TEST(SimProgram, PacingAndDelayHoldTheLineAtLeastThatLong) {
    test::TempDir dir{"tovik-sim-test"};
    TChildProcess sim(kBinary, Private({"--relay", "0:1", "--baud", "9600", "--delay-ms", "40"}, dir.Path),
                      TChildProcess::EStderr::Capture);
    const auto name = sim.ReadLine();
    ASSERT_TRUE(name.has_value());
    TProtoUART port;
    port.SetPortName(*name);
    const auto t0 = std::chrono::steady_clock::now();
    const auto block = NativeExchange(port, {1, 3});
    const auto spent = std::chrono::steady_clock::now() - t0;
    ASSERT_TRUE(block.has_value());
    // 6 request bytes and 82 reply bytes at 1.04 ms each, and the delay.
    EXPECT_GE(spent, std::chrono::milliseconds(88 + 40));
}

TEST(SimProgram, BadOptionsAreRefused) {
    struct Case {
        std::vector<std::string> Args;
        const char* Message;
    };
    const std::vector<Case> cases = {
        {{}, "at least one --relay"},
        {{"--relay", "0:1", "--relay", "1:2"}, "cannot be mixed"},
        {{"--relay", "2:1", "--relay", "3:2"}, "cannot be mixed"},
        {{"--relay", "0:1", "--relay", "2:1"}, "address 1 is given twice"},
        {{"--relay", "4:1"}, "bad relay \"4:1\""},
        {{"--relay", "0:0"}, "bad relay"},
        {{"--relay", "0:251"}, "bad relay"},
        {{"--relay", "0"}, "bad relay"},
        {{"--relay", "0:1x"}, "bad relay"},
        {{"--relay"}, "--relay needs"},
        {{"--relay", "0:1", "--baud", "fast"}, "bad value \"fast\" for --baud"},
        {{"--relay", "0:1", "--baud", "-1"}, "for --baud"},
        {{"--relay", "0:1", "--delay-ms", "70000"}, "for --delay-ms"},
        {{"--relay", "0:1", "--log"}, "--log needs"},
        // A word that looks like an option is never taken as a value.
        {{"--relay", "0:1", "--log", "--silent"}, "--log needs"},
        {{"--relay", "--log", "x.log"}, "--relay needs"},
        {{"--relay", "0:1", "--baud", "--silent"}, "--baud needs a value"},
        {{"--relay", "0:1", "--verbose"}, "unknown option \"--verbose\""},
        {{"--relay=0:1", "--silent=yes"}, "unknown option"},
        {{"--relay", "0:1", "--announce-dir"}, "--announce-dir needs"},
        {{"--relay", "0:1", "--announce-dir="}, "--announce-dir needs"},
        {{"--relay", "0:1", "--manual-clock=1"}, "unknown option"},
    };
    for (const auto& c : cases) {
        TChildProcess sim(kBinary, c.Args, TChildProcess::EStderr::Capture);
        EXPECT_EQ(sim.Wait(), 2) << testing::PrintToString(c.Args);
        const std::string err = sim.ErrorText();
        EXPECT_NE(err.find(c.Message), std::string::npos) << testing::PrintToString(c.Args) << ": " << err;
        EXPECT_TRUE(sim.Stdout().empty());
    }
}

TEST(SimProgram, HelpDocumentsOptionsAndCommands) {
    TChildProcess sim(kBinary, {"--help"}, TChildProcess::EStderr::Capture);
    EXPECT_EQ(sim.Wait(), 0);
    const std::string text = sim.Stdout();
    for (const char* word :
         {"--relay KIND:ADDRESS", "--baud",     "--delay-ms",     "--log",          "--ignore",  "--corrupt",
          "--wrong-address",      "--noise",    "--silent",       "--load",         "ignore N",  "corrupt N",
          "wrong-address N",      "noise N",    "silent | speak", "load ADDR",      "trip ADDR", "clock ADDR",
          "XDG_RUNTIME_DIR",      "Exit codes", "--announce-dir", "--manual-clock", "advance MS"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace tovik::sim
