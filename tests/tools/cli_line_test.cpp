// tovik-cli and its serial line: why a line could not be opened, the frame
// trace on standard error, values whose bytes did not arrive, and the line
// let go on an interrupted watch.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ports/ProtoUART.h"
#include "protocol/Frame.h"
#include "protocol/Modbus.h"
#include "support/ChildProcess.h"
#include "support/PtyResponder.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;

const char* const kCli = TOVIK_BINARY_DIR "/bin/tovik-cli";
const char* const kSim = TOVIK_BINARY_DIR "/bin/tovik-sim";

using test::Lines;
using CliRun = test::TToolRun;

// Runs tovik-cli to its end under a Russian locale; as an unprivileged user
// when `asNobody` is set and this process is root.
CliRun RunCli(const std::vector<std::string>& args, bool asNobody = false) {
    return test::RunTool(kCli, args, "ru_RU.UTF-8", asNobody);
}

std::vector<std::string> Line(const std::string& port, int kind) {
    return {"--port", port, "--kind", std::to_string(kind), "--bus", "1"};
}

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A relay here answers every request, but the tool's clock is its own: a
// reply time-out long enough that a loaded machine never makes one late.
std::vector<std::string> PatientLine(const std::string& port, int kind) {
    return With(Line(port, kind), {"--reply-timeout", "60000"});
}

// ---- why the line could not be opened ----

TEST(CliLine, OpenFailureNamesTheReason) {
    CliRun r = RunCli(With(Line("ttyNONE9", 0), {"poll"}));
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("не удалось открыть порт /dev/ttyNONE9: нет такого устройства ("), std::string::npos)
        << r.Err;

    test::PtyResponder line;
    TProtoUART holder;  // another program has the line
    ASSERT_TRUE(holder.SetPortName(line.PortName()));
    ASSERT_TRUE(holder.IsOpen());
    r = RunCli(With(Line(line.PortName(), 0), {"poll"}));
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(
        r.Err.find("не удалось открыть порт /dev/" + line.PortName() + ": порт занят другой программой"),
        std::string::npos)
        << r.Err;

    r = RunCli(With(Line("null", 0), {"poll"}));
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find(": не последовательный порт"), std::string::npos) << r.Err;
}

TEST(CliLine, PermissionDeniedIsNamed) {
    test::PtyResponder line;
    const std::string path = "/dev/" + line.PortName();
    // A terminal of another user (root's, group tty): an ordinary user may not open it.
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    }
    CliRun r = RunCli(With(Line(line.PortName(), 0), {"poll"}), true);
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("не удалось открыть порт " + path + ": нет прав доступа ("), std::string::npos)
        << r.Err;
    // Its group may not read it: joining that group would not help, so no advice.
    EXPECT_EQ(r.Err.find("групп"), std::string::npos) << r.Err;

    // A line of the group "dialout", as /dev/ttyS* and /dev/ttyUSB* are: the
    // message says to join the group and log in again. Only root can hand
    // the line to that group.
    if (::geteuid() != 0) return;
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    ASSERT_EQ(::chown(path.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0660), 0);
    r = RunCli(With(Line(line.PortName(), 0), {"poll"}), true);
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find(": нет прав доступа ("), std::string::npos) << r.Err;
    EXPECT_NE(
        r.Err.find(")\nПорт открывают только участники группы «dialout». Добавьте свою учётную запись в "
                   "эту группу: sudo adduser $USER dialout — и войдите в систему заново"),
        std::string::npos)
        << r.Err;
}

// ---- the frame trace ----

// One trace line: "hh:mm:ss.mmm PORT TX|RX REST: HEX BYTES — MEANING — OUTCOME".
struct TraceLine {
    bool Valid = false;
    std::string Port, Direction, Rest, Meaning, Outcome;
};

TraceLine ParseTraceLine(const std::string& l) {
    TraceLine t;
    if (l.size() < 13 || l[2] != ':' || l[5] != ':' || l[8] != '.' || l[12] != ' ') return t;
    for (size_t i : {0, 1, 3, 4, 6, 7, 9, 10, 11})
        if (!std::isdigit(static_cast<unsigned char>(l[i]))) return t;
    std::istringstream in(l.substr(13));
    in >> t.Port >> t.Direction;
    if (t.Direction != "TX" && t.Direction != "RX") return t;
    std::getline(in >> std::ws, t.Rest);
    const std::string dashText = " — ";
    const size_t colon = t.Rest.find(": ");
    const size_t dash = t.Rest.find(dashText);
    const size_t last = t.Rest.rfind(dashText);
    if (colon == std::string::npos || dash == std::string::npos || dash < colon || last == dash) return t;
    std::istringstream hex(t.Rest.substr(colon + 2, dash - colon - 2));
    size_t bytes = 0;
    for (std::string b; hex >> b; ++bytes)
        if (b.size() != 2 || !std::isxdigit(static_cast<unsigned char>(b[0])) ||
            !std::isxdigit(static_cast<unsigned char>(b[1])))
            return t;
    t.Meaning = t.Rest.substr(dash + dashText.size(), last - dash - dashText.size());
    t.Outcome = t.Rest.substr(last + dashText.size());
    t.Rest = t.Rest.substr(0, colon);
    t.Valid = bytes > 0;
    return t;
}

TEST(CliLine, TraceShowsEveryFrameOnStandardError) {
    for (int kind : {0, 3}) {
        test::TempDir announce("tovik-cli-line");  // the simulator's line is listed nowhere else
        test::TSimProcess sim(
            kSim, {"--relay", std::to_string(kind) + ":1", "--baud", "0", "--announce-dir", announce.Path},
            test::TChildProcess::EStderr::Discard);
        ASSERT_FALSE(sim.Port().empty());
        const CliRun plain = RunCli(With(PatientLine(sim.Port(), kind), {"poll"}));
        ASSERT_EQ(plain.Code, 0) << plain.Err;
        EXPECT_TRUE(plain.Err.empty()) << plain.Err;  // no trace unless asked for

        const CliRun traced = RunCli(With(PatientLine(sim.Port(), kind), {"--trace", "poll"}));
        ASSERT_EQ(traced.Code, 0) << traced.Err;
        EXPECT_EQ(Lines(traced.Out).size(), Lines(plain.Out).size());  // standard output as without it
        size_t sent = 0, received = 0;
        for (const std::string& l : Lines(traced.Err)) {
            const TraceLine t = ParseTraceLine(l);
            ASSERT_TRUE(t.Valid) << l;
            EXPECT_EQ(t.Port, sim.Port()) << l;
            EXPECT_EQ(t.Rest.rfind("№1 попытка 1", 0), 0u) << l;
            // Decoded: the command, or the ModBus step and the command it serves.
            EXPECT_FALSE(t.Meaning.empty()) << l;
            if (kind == 3) {
                EXPECT_EQ(t.Meaning.rfind("ModBus ", 0), 0u) << l;
                EXPECT_NE(t.Meaning.find(" — для «"), std::string::npos) << l;
            }
            if (t.Direction == "TX") {
                ++sent;
                EXPECT_EQ(t.Outcome, "передан") << l;
            } else {
                ++received;
                EXPECT_EQ(t.Outcome, "принят") << l;
                EXPECT_NE(t.Rest.find(" мс"), std::string::npos) << "a reply names its time: " << l;
            }
        }
        // The state poll, the setpoints and the batch of readings.
        EXPECT_GE(sent, 9u) << kind;
        EXPECT_EQ(sent, received) << kind;
    }
}

// ---- values whose bytes did not arrive ----

// The payload of a native request frame.
std::optional<Bytes> NativePayload(const Bytes& f) {
    if (f.size() < 4 || f[0] != f.size() || f[1] != f.size() - 1) return std::nullopt;
    Bytes payload;
    for (size_t pos = 3; pos < f.size(); ++pos)
        if (pos % 4 != 0) payload.push_back(f[pos - 1]);
    return payload;
}

// A native relay whose replies to the currents, the timers and the alarm
// record are cut short.
Bytes ShortReplies(const Bytes& frame) {
    const auto p = NativePayload(frame);
    if (!p || p->size() < 2) return {};
    Bytes data;
    switch ((*p)[1]) {
        case 4:  // the model item: model, no changes, variant
            data = {0x13, 0, 0, 0};
            break;
        case 3:  // the setpoint block, Kтр 1
            data.assign(57, 0);
            data[24] = 1;
            data[49] = 0x13;
            break;
        case 14: {  // Ia and Ib only
            const float amps[2] = {1000, 2000};
            data.resize(8);
            std::memcpy(data.data(), amps, sizeof amps);
            break;
        }
        case 17:
            data = {0, 0, 0, 0};
            break;
        case 7:  // five timers of seven
            data.assign(10, 0);
            break;
        case 21:
            data.assign(14, 0);
            break;
        case 23:
            data = {0, 0, 0, 0};
            break;
        case 11:  // one alarm record
            data = {1, 7};
            break;
        case 12:  // the record, one byte short
            data = {14, 30, 5, 7, 3, 26, 0x84};
            data.resize(18, 0);
            break;
        case 24:
            data = {9, 5, 0, 7, 3, 26};
            break;
        case 19:  // an empty task log
            data.assign(15, 0);
            break;
        default:
            return {};
    }
    Bytes reply{(*p)[0], (*p)[1]};
    reply.insert(reply.end(), data.begin(), data.end());
    return BuildNativeFrame(reply);
}

TEST(CliLine, ShortRepliesShowUnavailableAndStoreNothing) {
    test::PtyResponder relay(ShortReplies);
    // A read answered with less has failed, though what arrived is shown.
    CliRun r = RunCli(With(PatientLine(relay.PortName(), 0), {"--json", "poll"}));
    EXPECT_EQ(r.Code, 1) << r.Err;
    const std::string json = r.Out;
    EXPECT_NE(json.find("\"ok\":false"), std::string::npos) << json;
    EXPECT_NE(json.find("\"failed\":[\"currents\",\"timers\",\"alarm_records\"]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"currents\":\"ответ короче ожидаемого\""), std::string::npos) << json;
    EXPECT_NE(r.Err.find("чтение токи фаз (currents): ответ короче ожидаемого"), std::string::npos) << r.Err;
    r = RunCli(With(PatientLine(relay.PortName(), 0), {"poll"}));
    EXPECT_EQ(r.Code, 1) << r.Err;
    const auto lines = Lines(r.Out);
    auto shown = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    };
    EXPECT_TRUE(shown("Ia = 1,00 A")) << r.Out;
    EXPECT_TRUE(shown("Ic = Н/Д")) << r.Out;
    EXPECT_TRUE(shown("Di = Н/Д")) << r.Out;
    EXPECT_TRUE(shown("Пропадание фаз Tфаз = 0,00 сек")) << r.Out;
    EXPECT_TRUE(shown("Блокировка защит Tп = Н/Д")) << r.Out;
    EXPECT_TRUE(shown("Автовозвратов защиты Nапв = Н/Д")) << r.Out;

    // The alarm record that did not arrive whole is not taken into the journal.
    r = RunCli(With(PatientLine(relay.PortName(), 0), {"alarms"}));
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("журнал аварий прочитан не полностью"), std::string::npos) << r.Err;
    EXPECT_EQ(Lines(r.Out).size(), 1u) << r.Out;  // the header only
}

// ---- the line let go ----

bool ExclusiveMark(const std::string& port) {
    const int fd = ::open(("/dev/" + port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;
    int marked = -1;
    const int r = ::ioctl(fd, TIOCGEXCL, &marked);
    ::close(fd);
    return r != 0 || marked != 0;
}

// A ModBus relay that answers every read with zeros of the size asked for.
Bytes ZeroRegisters(const Bytes& f) {
    if (f.size() < 8 || f[1] != 3) return {};
    const size_t count = static_cast<size_t>(f[4] << 8 | f[5]);
    Bytes reply{f[0], 3, static_cast<uint8_t>(2 * count)};
    reply.resize(3 + 2 * count, 0);
    AppendCrc(reply);
    return reply;
}

// The line hung up under a watch, as when its device is unplugged: the
// cycle says that the port is unavailable, not that the relay is silent.
TEST(CliLine, AWatchSaysWhenItsLineIsGone) {
    test::PtyResponder relay(ZeroRegisters);
    test::TChildProcess cli(kCli,
                            With(Line(relay.PortName(), 1), {"--interval", "300", "watch", "--count", "3"}),
                            test::TChildProcess::EStderr::Capture, {"LC_ALL=ru_RU.UTF-8"});
    ASSERT_TRUE(cli.ReadLine().has_value()) << cli.ErrorText();  // the first cycle is shown
    // The watch holds the line for itself; only a privileged process gets in to hang it up.
    const int line = ::open(("/dev/" + relay.PortName()).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line < 0 || ::ioctl(line, TIOCVHANGUP) != 0) {
        if (line >= 0) ::close(line);
        cli.Wait();
        GTEST_SKIP() << "hanging up a line needs privileges: " << std::strerror(errno);
    }
    ::close(line);
    cli.Wait();
    const std::string said = cli.ErrorText();
    EXPECT_NE(said.find("цикл 2: порт " + relay.PortName() + " недоступен"), std::string::npos) << said;
    EXPECT_EQ(said.find("цикл 2: нет ответа"), std::string::npos) << said;
}

// Every signal that ends the watch lets the line go: the ones that would
// end it on the spot (the terminal closed, quit, a broken pipe) end it as an
// interrupt does, and an abort (as a crash) still lifts the mark on its way.
TEST(CliLine, InterruptedWatchLetsTheLineGo) {
    // The abort leaves no core file behind.
    rlimit core{}, none{};
    ::getrlimit(RLIMIT_CORE, &core);
    ::setrlimit(RLIMIT_CORE, &none);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGABRT}) {
        SCOPED_TRACE(strsignal(signal));
        test::PtyResponder relay(ZeroRegisters);
        test::TChildProcess cli(kCli, With(Line(relay.PortName(), 1), {"watch"}),
                                test::TChildProcess::EStderr::Capture, {"LC_ALL=ru_RU.UTF-8"});
        ASSERT_TRUE(cli.ReadLine().has_value()) << cli.ErrorText();  // the first cycle is shown
        ASSERT_TRUE(ExclusiveMark(relay.PortName()));                // the watch holds the line
        ASSERT_EQ(::kill(cli.Pid(), signal), 0);
        EXPECT_EQ(cli.Wait(), signal == SIGABRT ? -1 : 0) << cli.ErrorText();
        EXPECT_FALSE(ExclusiveMark(relay.PortName())) << "the exclusive-use mark outlived the watch";
        TProtoUART next;
        ASSERT_TRUE(next.SetPortName(relay.PortName()));
        EXPECT_TRUE(next.IsOpen());
    }
    ::setrlimit(RLIMIT_CORE, &core);
}

}  // namespace
}  // namespace tovik
