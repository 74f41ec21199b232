// tovik-sim as a program: started as a child process, reached through its
// pseudo-terminal with the serial port of the engine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "ports/ProtoUART.h"
#include "protocol/Frame.h"
#include "support/ChildProcess.h"
#include "ports/SimAnnounce.h"

namespace tovik::sim {
namespace {

const char* const kBinary = TOVIK_BINARY_DIR "/bin/tovik-sim";

// A temporary folder removed with its files.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tovik-sim-test-XXXXXX";
        Path = ::mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + Path + "'").c_str()); }
    std::string Path;
};

using test::TChildProcess;
using test::TSimProcess;

// The simulator announces its line under XDG_RUNTIME_DIR; without a folder
// given it keeps this process's own.
std::vector<std::string> RuntimeEnv(const std::string& runtimeDir) {
    if (runtimeDir.empty()) return {};
    return {"XDG_RUNTIME_DIR=" + runtimeDir};
}

std::vector<std::string> Unpaced(std::vector<std::string> args) {
    args.insert(args.end(), {"--baud", "0"});
    return args;
}

// A started simulator, without pacing, with its port opened in bus mode;
// its standard error is kept for the failure messages.
struct Line {
    explicit Line(const std::vector<std::string>& args, const std::string& runtimeDir = "")
        : Sim(kBinary, Unpaced(args), TChildProcess::EStderr::Capture, RuntimeEnv(runtimeDir)) {
        if (Sim.Port().empty()) return;
        PortName = Sim.Port();
        Port.SetPortName(PortName);
        Port.Bus = true;
    }
    TSimProcess Sim;
    std::string PortName;
    TProtoUART Port;
};

// Native exchange with the receiver rule of the executor, written out here
// so that the simulator's frames are checked independently of its code.
std::optional<std::vector<uint8_t>> NativeExchange(TProtoPort& port, const std::vector<uint8_t>& payload,
                                                   int timeoutMs = 300) {
    port.DiscardInput();
    const auto frame = BuildNativeFrame(payload);
    if (port.Write(frame.data(), static_cast<int32_t>(frame.size())) != static_cast<int32_t>(frame.size()))
        return std::nullopt;
    std::vector<uint8_t> data;
    uint8_t sum = 0, position = 0, remaining = 0, second = 0;
    const uint32_t start = timeGetTime();
    while (ElapsedMs(start, timeGetTime()) < static_cast<uint32_t>(timeoutMs)) {
        uint8_t b;
        if (port.Read(&b, 1) != 1) continue;
        sum = static_cast<uint8_t>(sum + b + position);
        bool error = false;
        if (remaining == 0) {
            remaining = b;
            second = static_cast<uint8_t>(b - 1);
            sum = static_cast<uint8_t>(b + 1);
            position = 1;
        } else if (remaining == second) {
            error = b != second;
        } else if (remaining == 1) {
            if (sum == 0) return data;
            error = true;
        } else if (position % 4 == 0) {
            error = sum != 0;
        } else {
            data.push_back(b);
        }
        if (error) {
            data.clear();
            remaining = 0;
            continue;
        }
        ++position;
        --remaining;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> Modbus(TProtoPort& port, std::vector<uint8_t> request, int tries = 1) {
    AppendCrc(request);
    TBuff reply;
    if (!Exchange(port, request, 300, 2, tries, reply)) return std::nullopt;
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
    // Start, then the state goes through the delayed start to running.
    ASSERT_TRUE(NativeExchange(line.Port, {1, 1}).has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const auto state = NativeExchange(line.Port, {1, 23});
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
    EXPECT_FALSE(Modbus(line.Port, {5, 3, 0, 6, 0, 1}).has_value());
}

TEST(SimProgram, LogHasOneJsonLinePerRequest) {
    TempDir dir;
    const std::string log = dir.Path + "/requests.log";
    Line line({"--relay", "1:1", "--log", log});
    ASSERT_FALSE(line.PortName.empty());
    ASSERT_TRUE(Modbus(line.Port, {1, 16, 0, 57, 0, 1, 1, 0, 1}).has_value());
    ASSERT_TRUE(Modbus(line.Port, {1, 3, 0, 0, 0, 10}).has_value());
    EXPECT_FALSE(Modbus(line.Port, {2, 3, 0, 0, 0, 10}).has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto lines = ReadLines(log);
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& l : lines) {
        EXPECT_EQ(l.front(), '{');
        EXPECT_EQ(l.back(), '}');
        EXPECT_NE(l.find("\"time\":\""), std::string::npos);
    }
    std::vector<uint8_t> write = {1, 16, 0, 57, 0, 1, 1, 0, 1};
    AppendCrc(write);
    char crc[8];
    std::snprintf(crc, sizeof crc, "%02x%02x", write[9], write[10]);
    EXPECT_NE(lines[0].find(std::string("\"bytes\":\"011000390001010001") + crc + "\""), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find("\"function\":16,\"register\":57,\"count\":1,\"values\":[1]"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find("\"answered\":true"), std::string::npos);
    EXPECT_NE(lines[1].find("\"register\":0,\"count\":10"), std::string::npos);
    EXPECT_NE(lines[2].find("\"address\":2"), std::string::npos);
    EXPECT_NE(lines[2].find("\"answered\":false"), std::string::npos);
}

TEST(SimProgram, FaultCommandsFromStandardInput) {
    Line line({"--relay", "0:1", "--noise", "1"});
    ASSERT_FALSE(line.PortName.empty());
    // A noise byte breaks the first reply for the receiver; the next is clean.
    EXPECT_FALSE(NativeExchange(line.Port, {1, 23}, 150).has_value());
    EXPECT_TRUE(NativeExchange(line.Port, {1, 23}).has_value());
    EXPECT_EQ(line.Sim.Command("ignore 1"), "ok");
    EXPECT_FALSE(NativeExchange(line.Port, {1, 23}, 150).has_value());
    EXPECT_TRUE(NativeExchange(line.Port, {1, 23}).has_value());
    EXPECT_EQ(line.Sim.Command("corrupt 1"), "ok");
    EXPECT_FALSE(NativeExchange(line.Port, {1, 23}, 150).has_value());
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
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past the delayed start
    EXPECT_EQ(line.Sim.Command("load 1 100000"), "ok");           // beyond the cut-off current
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
    EXPECT_EQ((*counters)[2 + 8], 1);  // Nотс, word 4
    EXPECT_EQ((*counters)[2 + 10], 0);  // Nфаз, word 5
}

TEST(SimProgram, EndOfInputDoesNotStopItAndSignalsEndItCleanly) {
    TempDir runtime;
    Line line({"--relay", "2:1", "--relay", "0:20"}, runtime.Path);
    ASSERT_FALSE(line.PortName.empty());
    const std::string file = runtime.Path + "/tovik-sim/" + std::to_string(line.Sim.Pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ReadLines(file), (std::vector<std::string>{line.PortName, "2:1", "0:20"}));
    const auto lines = ListAnnouncedLines(runtime.Path + "/tovik-sim");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Pid, line.Sim.Pid());
    EXPECT_EQ(lines[0].Port, line.PortName);
    EXPECT_EQ(lines[0].Relays, (std::vector<std::pair<uint8_t, uint8_t>>{{2, 1}, {0, 20}}));

    line.Sim.CloseInput();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(NativeExchange(line.Port, {20, 23}).has_value());
    ::kill(line.Sim.Pid(), SIGTERM);
    EXPECT_EQ(line.Sim.Wait(), 0);
    struct stat st {};
    EXPECT_NE(::stat(file.c_str(), &st), 0) << "announcement left behind";
    EXPECT_TRUE(ListAnnouncedLines(runtime.Path + "/tovik-sim").empty());
}

TEST(SimProgram, AnnouncementsOfDeadOrForeignProcessesAreSkipped) {
    TempDir runtime;
    const std::string dir = runtime.Path + "/tovik-sim";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    // This test process is alive but is not a simulator; pid 1 is not one either.
    std::ofstream(dir + "/" + std::to_string(::getpid())) << "pts/0\n0:1\n";
    std::ofstream(dir + "/1") << "pts/0\n0:1\n";
    std::ofstream(dir + "/notapid") << "pts/0\n0:1\n";
    EXPECT_TRUE(ListAnnouncedLines(dir).empty());
    TAnnouncedLine parsed;
    EXPECT_TRUE(ParseAnnouncement("pts/3\n1:5\n3:7\n", parsed));
    EXPECT_EQ(parsed.Relays.size(), 2u);
    for (const char* bad : {"", "pts/3\n", "pts/3\n4:1\n", "pts/3\n1:0\n", "pts/3\n1:251\n",
                            "/dev/pts/3\n1:1\n", "../x\n1:1\n", "pts/3\n1-1\n", "pts/3\n1:1 x\n"})
        EXPECT_FALSE(ParseAnnouncement(bad, parsed)) << bad;
}

TEST(SimProgram, ALaterClientCanOpenTheLineAgain) {
    Line line({"--relay", "0:1"});
    ASSERT_FALSE(line.PortName.empty());
    ASSERT_TRUE(NativeExchange(line.Port, {1, 23}).has_value());
    line.Port.Close();  // the client took the line exclusively; now it leaves
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int fd = ::open(("/dev/" + line.PortName).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    int exclusive = -1;
    ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the exclusive mark outlived the client";
    ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    TProtoUART again;
    again.SetPortName(line.PortName);
    EXPECT_TRUE(NativeExchange(again, {1, 23}).has_value());
}

TEST(SimProgram, PacingAndDelayHoldTheLineAtLeastThatLong) {
    TChildProcess sim(kBinary, {"--relay", "0:1", "--baud", "9600", "--delay-ms", "40"},
                      TChildProcess::EStderr::Capture);
    const auto name = sim.ReadLine();
    ASSERT_TRUE(name.has_value());
    TProtoUART port;
    port.SetPortName(*name);
    const auto t0 = std::chrono::steady_clock::now();
    const auto block = NativeExchange(port, {1, 3}, 1000);
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
         {"--relay KIND:ADDRESS", "--baud",    "--delay-ms",     "--log",     "--ignore",  "--corrupt",
          "--wrong-address",      "--noise",   "--silent",       "--load",    "ignore N",  "corrupt N",
          "wrong-address N",      "noise N",   "silent | speak", "load ADDR", "trip ADDR", "clock ADDR",
          "XDG_RUNTIME_DIR",      "Exit codes"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace tovik::sim
