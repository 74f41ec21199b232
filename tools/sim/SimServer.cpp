#include "tools/sim/SimServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include "ports/SerialLines.h"
#include "tools/sim/SimLine.h"

namespace tovik::sim {

// ---- Options ----

std::string HelpText() {
    return "Usage: tovik-sim --relay KIND:ADDRESS [--relay KIND:ADDRESS ...] [options]\n"
           "\n"
           "Plays one RS-485 line with Tovik relays on a pseudo-terminal. The first line of\n"
           "standard output is the port name relative to /dev (for example pts/5); open it like\n"
           "any serial port. Before that line is printed, the line is announced to port dialogs\n"
           "in $XDG_RUNTIME_DIR/tovik-sim/PID (or /tmp/tovik-sim-UID/PID): port, process and\n"
           "relays. SIGINT, SIGTERM or SIGHUP end it and remove the announcement; the end of\n"
           "standard input does not.\n"
           "\n"
           "Options:\n"
           "  --relay KIND:ADDRESS  a relay; KIND 0 \"Товик\", 1 \"Товик ModBus\", 2 \"ТовикМ\",\n"
           "                        3 \"ТовикМ ModBus\"; ADDRESS 1..250. Repeatable. All relays of a\n"
           "                        line share one wire format: kinds 0 and 2 (native frames) or\n"
           "                        1 and 3 (ModBus RTU). Only their addresses are answered.\n"
           "  --baud N              line rate (10 bits per byte), default 19200. Requests count as\n"
           "                        received when their bytes would have crossed the line, and\n"
           "                        replies go out byte by byte at this rate. 0: no pacing.\n"
           "  --delay-ms N          response delay before each reply, default 0 (0..60000).\n"
           "  --load MA             load current of every phase in mA (default 20000).\n"
           "  --log FILE            appends one JSON line per request received: time, bytes (hex),\n"
           "                        address, command and params/data (native) or function,\n"
           "                        register, count and values (ModBus), exception, answered,\n"
           "                        reply (hex) and a note on refusals and faults.\n"
           "  --ignore N            leave the next N requests to our relays unanswered.\n"
           "  --corrupt N           break the CRC or final check byte of the next N replies.\n"
           "  --wrong-address N     send the next N replies from another address.\n"
           "  --noise N             send a stray byte (0xA5) before each of the next N replies.\n"
           "  --silent              start without answering (command \"speak\" ends it).\n"
           "  --announce-dir DIR    announce the line in DIR instead of the runtime folder.\n"
           "  --manual-clock        relay time stands still except for the command \"advance\".\n"
           "  --help                this text.\n"
           "  --version             the version.\n"
           "\n"
           "Each relay runs: start and stop (\"СТОП\", \"ОТЛОЖЕННЫЙ ПУСК\", \"РАБОТА С БЛОКИРОВКОЙ\n"
           "ЗАЩИТ\", \"РАБОТА\"), phase currents drifting around the load, protections that trip to\n"
           "\"АВАРИЯ\" with an alarm record and counter when a current stays beyond its setpoint\n"
           "(beyond the cut-off current at once), an alarm journal of 20 records, a task log of 16\n"
           "entries, a clock, calibration information and, on \"ТовикМ ModBus\", operating\n"
           "statistics. Setpoint writes are checked against the model's limits; writes raise the\n"
           "change marks reported by the next state poll. Requests a relay refuses get no\n"
           "answer (native) or a ModBus exception.\n"
           "\n" +
           TSimLine::CommandHelp() +
           "\n"
           "Exit codes: 0 after a signal, 1 when the line cannot be set up, 2 for bad options.\n";
}

std::string ParseOptions(const std::vector<std::string>& args, TSimOptions& o) {
    std::set<uint8_t> addresses;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool hasValue = false;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        // The next word is never taken as the value when it looks like an
        // option ("--log --relay 0:1"); such a value is given as --log=--x.
        auto take = [&](std::string& out) {
            if (hasValue) {
                out = value;
                return true;
            }
            if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) return false;
            out = args[++i];
            return true;
        };
        auto number = [&](int& field, int lo, int hi) -> std::string {
            std::string text;
            if (!take(text)) return name + " needs a value";
            if (!ParseWhole(text, field, lo, hi))
                return "bad value \"" + text + "\" for " + name + " (" + std::to_string(lo) + ".." +
                       std::to_string(hi) + ")";
            return "";
        };
        std::string err;
        if (name == "--help" || name == "-h") {
            o.Help = true;
        } else if (name == "--version" && !hasValue) {
            o.Version = true;
        } else if (name == "--relay") {
            std::string text;
            if (!take(text)) return "--relay needs KIND:ADDRESS";
            const size_t colon = text.find(':');
            int kind = -1, address = 0;
            if (colon == std::string::npos || !ParseWhole(text.substr(0, colon), kind, 0, 3) ||
                !ParseWhole(text.substr(colon + 1), address, 1, 250))
                return "bad relay \"" + text + "\": KIND 0..3 and ADDRESS 1..250 expected, as in 0:1";
            if (!addresses.insert(static_cast<uint8_t>(address)).second)
                return "address " + std::to_string(address) + " is given twice";
            o.Relays.emplace_back(static_cast<uint8_t>(kind), static_cast<uint8_t>(address));
        } else if (name == "--baud") {
            err = number(o.Baud, 0, 4000000);
        } else if (name == "--delay-ms") {
            err = number(o.DelayMs, 0, 60000);
        } else if (name == "--load") {
            int load = 0;
            err = number(load, 0, static_cast<int>(kOverflowCurrent));
            if (err.empty()) o.LoadMa = static_cast<uint32_t>(load);
        } else if (name == "--log") {
            if (!take(o.LogPath) || o.LogPath.empty()) return "--log needs a file name";
        } else if (name == "--ignore") {
            err = number(o.Faults.Ignore, 0, 1000000);
        } else if (name == "--corrupt") {
            err = number(o.Faults.Corrupt, 0, 1000000);
        } else if (name == "--wrong-address") {
            err = number(o.Faults.WrongAddress, 0, 1000000);
        } else if (name == "--noise") {
            err = number(o.Faults.Noise, 0, 1000000);
        } else if (name == "--silent" && !hasValue) {
            o.Faults.Silent = true;
        } else if (name == "--manual-clock" && !hasValue) {
            o.ManualClock = true;
        } else if (name == "--announce-dir") {
            if (!take(o.AnnounceDir) || o.AnnounceDir.empty()) return "--announce-dir needs a folder";
        } else {
            return "unknown option \"" + args[i] + "\"";
        }
        if (!err.empty()) return err;
    }
    if (o.Help || o.Version) return "";
    if (o.Relays.empty()) return "at least one --relay KIND:ADDRESS is needed";
    for (const auto& r : o.Relays) {
        if (IsModbusKind(r.first) != IsModbusKind(o.Relays[0].first))
            return "relays of one line share one wire format: kind " + std::to_string(o.Relays[0].first) +
                   " and kind " + std::to_string(r.first) +
                   " cannot be mixed (0 and 2 native, 1 and 3 ModBus)";
    }
    return "";
}

// ---- Server ----

namespace {

volatile sig_atomic_t g_signal = 0;
void OnSignal(int sig) {
    g_signal = sig;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class TAnnouncement {
public:
    explicit TAnnouncement(std::string dir) : Dir(dir.empty() ? DefaultAnnounceDir() : std::move(dir)) {}
    void Write(const std::string& port, const std::vector<std::pair<uint8_t, uint8_t>>& relays) {
        TAnnouncedLine line;
        std::string why;
        if (!DescribeOwnLine(port, relays, line, why) || !WriteAnnouncement(Dir, line, why)) {
            if (!Warned) std::fprintf(stderr, "tovik-sim: line not announced: %s\n", why.c_str());
            Warned = true;
            return;
        }
        Written = true;
    }
    void Remove() {
        if (Written) RemoveAnnouncement(Dir, ::getpid());
        Written = false;
    }
    ~TAnnouncement() { Remove(); }

private:
    std::string Dir;
    bool Written = false;
    bool Warned = false;
};

// Whether a process other than this one has `path` open.
bool OthersHoldOpen(const std::string& path) {
    DIR* proc = ::opendir("/proc");
    if (!proc) return true;
    const std::string self = std::to_string(::getpid());
    bool found = false;
    while (const dirent* p = ::readdir(proc)) {
        const std::string pid = p->d_name;
        if (pid == self || pid.empty() ||
            !std::all_of(pid.begin(), pid.end(), [](unsigned char c) { return c >= '0' && c <= '9'; }))
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds) continue;
        while (const dirent* f = ::readdir(fds)) {
            char target[256];
            const ssize_t n = ::readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) {
                found = true;
                break;
            }
        }
        ::closedir(fds);
        if (found) break;
    }
    ::closedir(proc);
    return found;
}

class TServer {
public:
    TServer(const TSimOptions& o)
        : Options(o), Line(IsModbusKind(o.Relays[0].first)), Frames(Line.Modbus()), Announce(o.AnnounceDir) {}
    ~TServer() {
        Announce.Remove();
        for (int fd : {Master, Slave, Watch}) {
            if (fd >= 0) ::close(fd);
        }
        if (Log) std::fclose(Log);
    }

    int Run(const sigset_t& waitMask) {
        Line.ManualClock = Options.ManualClock;
        ClockStartMs = NowMs();
        const int64_t now = RelayMs();
        const int64_t clock = LocalClockSeconds();
        for (const auto& [kind, address] : Options.Relays) Line.AddRelay(kind, address, now, clock);
        if (Options.LoadMa)
            for (const auto& r : Line.Relays())
                r->SetLoad(*Options.LoadMa, *Options.LoadMa, *Options.LoadMa, now);
        Line.Faults = Options.Faults;
        Line.Baud = Options.Baud;
        Line.DelayMs = Options.DelayMs;
        if (!Options.LogPath.empty()) {
            Log = std::fopen(Options.LogPath.c_str(), "a");
            if (!Log) return Fail("cannot open the log " + Options.LogPath + ": " + std::strerror(errno));
        }
        if (!OpenPty()) return 1;
        // Announced first: whoever reads the port name finds the line listed.
        Described = Line.Describe();
        Announce.Write(Port, Relays());
        std::printf("%s\n", Port.c_str());
        std::fflush(stdout);

        bool stdinOpen = true;
        std::string input;
        while (!g_signal) {
            int timeout = 20;
            if (Frames.Pending())
                timeout = static_cast<int>(
                    std::clamp<int64_t>(Frames.GapMs() - (NowMs() - Frames.LastByteMs()), 0, 20));
            pollfd fds[3] = {{Master, POLLIN, 0}, {Watch, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
            const timespec ts{0, static_cast<long>(timeout) * 1000000L};
            const int r = ::ppoll(fds, 3, &ts, &waitMask);
            if (r < 0 && errno != EINTR) return Fail(std::string("poll: ") + std::strerror(errno));
            Line.Update(RelayMs());
            if (r > 0 && (fds[0].revents & POLLIN))
                ReadLine();
            else if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR)))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            while (auto frame = Frames.Next()) Serve(*frame);
            if (Frames.Pending() && NowMs() - Frames.LastByteMs() >= Frames.GapMs())
                Serve(Frames.TakePending());
            if (r > 0 && (fds[1].revents & POLLIN)) WatchEvents();
            if (r > 0 && stdinOpen && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)))
                stdinOpen = ReadCommands(input);
            if (Line.Describe() != Described) {
                Described = Line.Describe();
                Announce.Write(Port, Relays());
            }
        }
        return 0;
    }

private:
    // Time as the relays see it.
    int64_t RelayMs() const { return (Line.ManualClock ? ClockStartMs : NowMs()) + Line.AdvancedMs; }

    std::vector<std::pair<uint8_t, uint8_t>> Relays() const {
        std::vector<std::pair<uint8_t, uint8_t>> out;
        for (const auto& r : Line.Relays()) out.emplace_back(r->Kind(), r->Address());
        return out;
    }

    int Fail(const std::string& why) {
        std::fprintf(stderr, "tovik-sim: %s\n", why.c_str());
        return 1;
    }

    bool OpenPty() {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0)
            return Fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno)), false;
        char name[128];
        if (::ptsname_r(Master, name, sizeof name) != 0) return Fail("ptsname failed"), false;
        SlavePath = name;
        // Our own slave keeps the line up between clients: without it the
        // master reads EIO whenever the last client closes.
        Slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Slave < 0) return Fail(std::string("cannot open ") + name + ": " + std::strerror(errno)), false;
        termios tio{};
        if (::tcgetattr(Slave, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::cfsetispeed(&tio, B19200);
            ::cfsetospeed(&tio, B19200);
            ::tcsetattr(Slave, TCSANOW, &tio);
        }
        ::fcntl(Master, F_SETFL, ::fcntl(Master, F_GETFL) | O_NONBLOCK);
        // Clients take the line exclusively (TIOCEXCL); since our slave keeps
        // the terminal open, that mark would outlive them and lock every later
        // client out. Closes are watched to lift it when the last one leaves.
        Watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (Watch >= 0) ::inotify_add_watch(Watch, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
        Port = SlavePath.rfind("/dev/", 0) == 0 ? SlavePath.substr(5) : SlavePath;
        return true;
    }

    void ReadLine() {
        uint8_t buf[512];
        for (;;) {
            const ssize_t n = ::read(Master, buf, sizeof buf);
            if (n <= 0) break;
            if (!Frames.Pending()) FrameStart = std::chrono::steady_clock::now();
            Frames.Add(buf, static_cast<size_t>(n), NowMs());
        }
    }

    std::chrono::microseconds ByteTime() const {
        return Line.Baud > 0 ? std::chrono::microseconds(10000000LL / Line.Baud)
                             : std::chrono::microseconds(0);
    }

    void Serve(const std::vector<uint8_t>& frame) {
        // The request is complete once its bytes have crossed the line.
        if (Line.Baud > 0)
            std::this_thread::sleep_until(FrameStart + ByteTime() * static_cast<long>(frame.size()));
        const auto outcome = Line.HandleFrame(frame, RelayMs());
        FrameStart = std::chrono::steady_clock::now();
        if (Log) {
            std::fprintf(Log, "%s\n", outcome.Log.c_str());
            std::fflush(Log);
        }
        if (outcome.Reply.empty()) return;
        if (Line.DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(Line.DelayMs));
        if (Line.Baud == 0) {
            Send(outcome.Reply.data(), outcome.Reply.size());
            return;
        }
        auto next = std::chrono::steady_clock::now();
        for (uint8_t b : outcome.Reply) {
            std::this_thread::sleep_until(next);
            Send(&b, 1);
            next += ByteTime();
        }
        std::this_thread::sleep_until(next);  // the last byte is on the line until then
        FrameStart = std::chrono::steady_clock::now();
    }

    void Send(const uint8_t* data, size_t count) {
        size_t done = 0;
        int waits = 0;
        while (done < count) {
            const ssize_t n = ::write(Master, data + done, count - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            // Nobody reads the line and its buffer is full: drop the rest.
            if (n < 0 && errno != EAGAIN) return;
            if (++waits > 5) return;
            pollfd pfd{Master, POLLOUT, 0};
            ::poll(&pfd, 1, 20);
        }
    }

    bool ReadCommands(std::string& input) {
        char buf[1024];
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return false;  // the input ended
        if (n < 0) return true;
        input.append(buf, static_cast<size_t>(n));
        for (size_t eol; (eol = input.find('\n')) != std::string::npos;) {
            const std::string cmd = input.substr(0, eol);
            input.erase(0, eol + 1);
            const std::string answer = Line.Command(cmd, RelayMs());
            if (!answer.empty()) {
                std::printf("%s\n", answer.c_str());
                std::fflush(stdout);
            }
        }
        if (input.size() > 4096) input.clear();  // a line that never ends
        return true;
    }

    void WatchEvents() {
        alignas(inotify_event) char buf[4096];
        bool closed = false;
        while (::read(Watch, buf, sizeof buf) > 0) closed = true;
        if (closed && !OthersHoldOpen(SlavePath)) ::ioctl(Slave, TIOCNXCL);
    }

    const TSimOptions& Options;
    TSimLine Line;
    TFrameAssembler Frames;
    FILE* Log = nullptr;
    int Master = -1, Slave = -1, Watch = -1;
    std::string SlavePath, Port;
    std::vector<std::string> Described;
    TAnnouncement Announce;
    int64_t ClockStartMs = 0;
    std::chrono::steady_clock::time_point FrameStart{};
};

}  // namespace

int RunSimulator(const TSimOptions& options) {
    if (options.Relays.empty()) return 2;
    // The signals that end us are blocked except while waiting, so that none
    // is lost between a check and the wait.
    sigset_t block, waitMask;
    sigemptyset(&block);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, s);
    sigprocmask(SIG_BLOCK, &block, &waitMask);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&waitMask, s);
    g_signal = 0;
    int code;
    {
        TServer server(options);
        code = server.Run(waitMask);
    }
    return code;
}

}  // namespace tovik::sim
