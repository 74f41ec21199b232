// Which serial lines exist: the machine's serial ports from a sysfs tree,
// and the lines that running simulators announce. The announcing process
// here is the test itself (or a child it forks), holding pseudo-terminals
// of its own; every test has its own folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ports/SerialLines.h"
#include "support/Wait.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;

// A folder of its own for each test, removed with its files.
struct TempDir {
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "tovik-lines-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) Path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!Path.empty()) fs::remove_all(Path, ec);
    }
    std::string Path;
};

// ---- sysfs ----

struct FakeSysfs {
    TempDir Dir;
    fs::path Root = fs::path(Dir.Path);
    FakeSysfs() {
        fs::create_directories(Root / "tty");
        fs::create_directories(Root / "drivers" / "serial8250");
        fs::create_directories(Root / "drivers" / "ftdi_sio");
    }
    std::string Tty() const { return (Root / "tty").string(); }
    // A terminal; `driver` empty means no device behind it.
    void Add(const std::string& name, const std::string& driver, const std::string& type = "4") {
        const fs::path dir = Root / "tty" / name;
        fs::create_directories(dir);
        std::ofstream(dir / "type") << type << "\n";
        if (driver.empty()) return;
        fs::create_directories(dir / "device");
        fs::create_directory_symlink(Root / "drivers" / driver, dir / "device" / "driver");
    }
};

TEST(SerialPorts, RealPortsOnlyInNaturalOrder) {
    FakeSysfs sys;
    ASSERT_FALSE(sys.Dir.Path.empty());
    sys.Add("tty0", "");  // virtual console
    sys.Add("console", "");
    sys.Add("ttyS0", "serial8250", "4");  // a real 16550A
    sys.Add("ttyS1", "serial8250", "0");  // legacy slot without hardware
    sys.Add("ttyS10", "serial8250", "4");
    sys.Add("ttyS2", "serial8250", "4");
    sys.Add("ttyUSB0", "ftdi_sio");
    sys.Add("ttyVeryLongName0", "ftdi_sio");  // does not fit a port record
    EXPECT_EQ(ListSerialPorts(sys.Tty()), (std::vector<std::string>{"ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}));
}

TEST(SerialPorts, MissingTreeGivesNothing) {
    TempDir dir;
    EXPECT_TRUE(ListSerialPorts(dir.Path + "/missing").empty());
}

// ---- The announcement text ----

TAnnouncedLine Sample() {
    TAnnouncedLine line;
    line.Port = "pts/17";
    line.Pid = 4711;
    line.StartTicks = 123456789;
    line.Device = 34833;
    line.Relays = {{1, 5}, {3, 250}};
    return line;
}

TEST(Announcement, FormatAndParseRoundTrip) {
    const TAnnouncedLine line = Sample();
    const std::string text = FormatAnnouncement(line);
    EXPECT_EQ(text, "port=pts/17\npid=4711\nstart=123456789\ndevice=34833\nrelay=1:5\nrelay=3:250\n");
    EXPECT_EQ(ParseAnnouncement(text), line);
    // Keys in any order; keys of later versions are passed over.
    const auto reordered = ParseAnnouncement(
        "relay=1:5\ndevice=34833\nbaud-rate=19200\nstart=123456789\nrelay=3:250\npid=4711\nport=pts/17\n");
    EXPECT_EQ(reordered, line);
}

TEST(Announcement, AnythingElseIsNotOne) {
    const std::string good = FormatAnnouncement(Sample());
    auto without = [&](const std::string& row) {
        std::string t = good;
        t.erase(t.find(row), row.size());
        return t;
    };
    auto with = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::vector<std::string> bad = {
        "",
        good.substr(0, good.size() - 1),  // cut short: no final line end
        good.substr(0, good.size() / 2),
        without("port=pts/17\n"),
        without("pid=4711\n"),
        without("start=123456789\n"),
        without("device=34833\n"),
        without("relay=1:5\nrelay=3:250\n"),  // no relay
        good + "port=pts/18\n",               // a key twice
        good + "pid=4711\n",
        good + "relay=1:5\n",  // a bus number twice
        good + "\n",           // an empty row
        good + "relay\n",
        good + "=1\n",
        good + "Relay=1:6\n",  // not a key
        with("pts/17", "ttyS0"),
        with("pts/17", "pts/../sda"),
        with("pts/17", "/dev/pts/17"),
        with("pts/17", "pts/"),
        with("pts/17", "pts/123456"),  // does not fit a port record
        with("pts/17", "pts/1a"),
        with("pts/17", "pts/17 "),
        with("pid=4711", "pid=0"),
        with("pid=4711", "pid=-1"),
        with("pid=4711", "pid=+4711"),
        with("pid=4711", "pid=99999999999"),
        with("pid=4711", "pid=4711\r"),
        with("start=123456789", "start="),
        with("start=123456789", "start=18446744073709551616"),  // beyond 64 bits
        with("device=34833", "device=0x8811"),
        with("relay=1:5", "relay=4:5"),
        with("relay=1:5", "relay=1:0"),
        with("relay=1:5", "relay=1:251"),
        with("relay=1:5", "relay=1-5"),
        with("relay=1:5", "relay=1:5:1"),
        with("relay=1:5", "relay=:5"),
        with("relay=1:5", "relay=0:5"),  // a native relay on a ModBus line
        with("port=pts/17\n", std::string("port=pts/17\0\n", 13)),
    };
    for (const auto& text : bad) EXPECT_FALSE(ParseAnnouncement(text).has_value()) << text;
    // One relay per bus number at most, and nothing beyond the size limit.
    std::string many = "port=pts/1\npid=1\nstart=1\ndevice=1\n";
    for (int a = 1; a <= 250; ++a) many += "relay=0:" + std::to_string(a) + "\n";
    ASSERT_LE(many.size(), kMaxAnnouncementSize);
    EXPECT_EQ(ParseAnnouncement(many)->Relays.size(), 250u);
    EXPECT_FALSE(ParseAnnouncement(many + std::string(kMaxAnnouncementSize, 'x') + "=1\n").has_value());
}

// ---- Lines of running processes (AnnouncingProcesses: of children this
// test starts) ----

// A pseudo-terminal whose master this process holds.
class Pty {
public:
    Pty() {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0 ||
            ::ptsname_r(Master, name, sizeof name) != 0)
            return;
        Port = std::string(name).substr(5);  // without "/dev/"
    }
    ~Pty() { Close(); }
    void Close() {
        if (Master >= 0) ::close(Master);
        Master = -1;
    }
    int Master = -1;
    std::string Port;
};

// The announcement this process would make for a line.
TAnnouncedLine Own(const std::string& port) {
    TAnnouncedLine line;
    std::string why;
    EXPECT_TRUE(DescribeOwnLine(port, {{0, 1}, {2, 9}}, line, why)) << why;
    return line;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string AnnouncementFile(const std::string& dir, int pid) {
    return dir + "/" + std::to_string(pid);
}

TEST(AnnouncedLines, AProcessHoldingItsLineIsListed) {
    TempDir dir, sysfs;
    Pty pty;
    ASSERT_FALSE(pty.Port.empty());
    const TAnnouncedLine line = Own(pty.Port);
    EXPECT_EQ(line.Pid, ::getpid());
    EXPECT_EQ(line.StartTicks, ProcessStartTicks(::getpid()));
    std::string why;
    // The folder is made on the first announcement, private to this user.
    const std::string folder = dir.Path + "/announce";
    ASSERT_TRUE(WriteAnnouncement(folder, line, why)) << why;
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(CheckAnnouncedLine(line), TAnnouncedLineState::Live);
    EXPECT_EQ(ListAnnouncedLines(folder), std::vector<TAnnouncedLine>{line});
    EXPECT_EQ(ListSerialLines(sysfs.Path, folder), std::vector<std::string>{pty.Port});
    // A later announcement of the same process replaces the earlier one.
    TAnnouncedLine changed = line;
    changed.Relays = {{0, 7}};
    ASSERT_TRUE(WriteAnnouncement(folder, changed, why)) << why;
    EXPECT_EQ(ListAnnouncedLines(folder), std::vector<TAnnouncedLine>{changed});
    RemoveAnnouncement(folder, ::getpid());
    EXPECT_FALSE(Exists(AnnouncementFile(folder, ::getpid())));
    EXPECT_TRUE(ListSerialLines(sysfs.Path, folder).empty());
}

// A child that has ended and been collected; its id is free.
int EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(AnnouncingProcesses, AnnouncementsOfEndedProcessesAreDroppedAndRemoved) {
    TempDir dir;
    Pty pty;
    ASSERT_FALSE(pty.Port.empty());
    std::string why;
    // A process that ended; this process under a start time it never had
    // (its id used again); and a zombie, ended but not yet collected.
    TAnnouncedLine ended = Own(pty.Port);
    ended.Pid = EndedProcess();
    TAnnouncedLine reused = Own(pty.Port);
    reused.StartTicks += 1;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t zombie = ::fork();
    if (zombie == 0) {
        ::close(pipeFds[1]);
        char c;
        [[maybe_unused]] const ssize_t n = ::read(pipeFds[0], &c, 1);
        ::_exit(0);
    }
    TAnnouncedLine dead = Own(pty.Port);
    dead.Pid = zombie;
    dead.StartTicks = ProcessStartTicks(zombie).value_or(0);
    EXPECT_NE(dead.StartTicks, 0u);
    ::close(pipeFds[1]);  // the child reads the end and exits
    ::close(pipeFds[0]);
    // Ended: a zombie until collected below.
    EXPECT_TRUE(test::WaitUntil([&] { return !ProcessStartTicks(zombie).has_value(); }));

    for (const TAnnouncedLine& line : {ended, reused, dead}) {
        SCOPED_TRACE(line.Pid);
        ASSERT_TRUE(WriteAnnouncement(dir.Path, line, why)) << why;
        EXPECT_EQ(CheckAnnouncedLine(line), TAnnouncedLineState::ProcessGone);
        EXPECT_TRUE(ListAnnouncedLines(dir.Path).empty());
        EXPECT_FALSE(Exists(AnnouncementFile(dir.Path, line.Pid))) << "a stale announcement stayed";
    }
    ::waitpid(zombie, nullptr, 0);
}

TEST(AnnouncingProcesses, ALineHeldByAnotherProcessIsDroppedButKept) {
    TempDir dir;
    Pty pty;
    ASSERT_FALSE(pty.Port.empty());
    // A child takes over the line's master; this process lets go of it.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::close(pipeFds[1]);
        char c;
        [[maybe_unused]] const ssize_t n = ::read(pipeFds[0], &c, 1);  // holds the master until the test ends
        ::_exit(0);
    }
    ::close(pipeFds[0]);
    pty.Close();
    const TAnnouncedLine line = Own(pty.Port);
    std::string why;
    ASSERT_TRUE(WriteAnnouncement(dir.Path, line, why)) << why;
    EXPECT_EQ(CheckAnnouncedLine(line), TAnnouncedLineState::LineChanged);
    EXPECT_TRUE(ListAnnouncedLines(dir.Path).empty());
    // The announcing process runs: its file is its own to remove.
    EXPECT_TRUE(Exists(AnnouncementFile(dir.Path, ::getpid())));
    ::close(pipeFds[1]);
    ::waitpid(holder, nullptr, 0);
}

TEST(AnnouncedLines, ALineThatIsNoLongerTheSameDeviceIsDropped) {
    TempDir dir;
    Pty pty, other;
    ASSERT_FALSE(pty.Port.empty());
    ASSERT_FALSE(other.Port.empty());
    std::string why;
    TAnnouncedLine line = Own(pty.Port);
    line.Device += 1;
    ASSERT_TRUE(WriteAnnouncement(dir.Path, line, why)) << why;
    EXPECT_EQ(CheckAnnouncedLine(line), TAnnouncedLineState::LineChanged);
    EXPECT_TRUE(ListAnnouncedLines(dir.Path).empty());
    // The device of a line this process holds, under another line's name.
    line = Own(other.Port);
    line.Port = pty.Port;
    EXPECT_EQ(CheckAnnouncedLine(line), TAnnouncedLineState::LineChanged);
    other.Close();
    line = Own(pty.Port);
    line.Port = "pts/99999";  // no such line
    EXPECT_EQ(CheckAnnouncedLine(line), TAnnouncedLineState::LineChanged);
}

TEST(AnnouncingProcesses, OnlyPrivateFoldersAndRegularFilesOfThisUserAreRead) {
    TempDir dir;
    Pty pty;
    ASSERT_FALSE(pty.Port.empty());
    const TAnnouncedLine line = Own(pty.Port);
    std::string why;
    ASSERT_TRUE(WriteAnnouncement(dir.Path, line, why)) << why;
    ASSERT_EQ(ListAnnouncedLines(dir.Path).size(), 1u);
    // Others may write into the folder: nothing in it is believed or written.
    ASSERT_EQ(::chmod(dir.Path.c_str(), 0777), 0);
    EXPECT_TRUE(ListAnnouncedLines(dir.Path).empty());
    EXPECT_FALSE(WriteAnnouncement(dir.Path, line, why));
    EXPECT_NE(why.find("not a private folder"), std::string::npos) << why;
    ASSERT_EQ(::chmod(dir.Path.c_str(), 0700), 0);
    // A link to the folder is not the folder.
    const std::string link = dir.Path + "-link";
    ASSERT_EQ(::symlink(dir.Path.c_str(), link.c_str()), 0);
    EXPECT_TRUE(ListAnnouncedLines(link).empty());
    EXPECT_FALSE(WriteAnnouncement(link, line, why));
    ::unlink(link.c_str());
    EXPECT_FALSE(WriteAnnouncement(dir.Path + "/missing/deeper", line, why));
    EXPECT_FALSE(why.empty());

    // Names that are no process id, a FIFO (never waited on), a file too
    // long to be an announcement, and damaged text: all passed over.
    const std::string fifo = AnnouncementFile(dir.Path, 1);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(dir.Path + "/notapid") << FormatAnnouncement(line);
    std::ofstream(dir.Path + "/0") << FormatAnnouncement(line);
    std::ofstream(AnnouncementFile(dir.Path, 2)) << FormatAnnouncement(line) << std::string(5000, '#');
    EXPECT_EQ(ListAnnouncedLines(dir.Path), std::vector<TAnnouncedLine>{line});
    // This process's file with its text broken: unreadable, but its writer runs.
    std::ofstream(AnnouncementFile(dir.Path, ::getpid()), std::ios::trunc) << "port=pts/";
    EXPECT_TRUE(ListAnnouncedLines(dir.Path).empty());
    EXPECT_TRUE(Exists(AnnouncementFile(dir.Path, ::getpid())));
    // Broken text or a half-written temporary file of an ended writer: removed.
    const int ended = EndedProcess();
    std::ofstream(AnnouncementFile(dir.Path, ended)) << "port=pts/";
    const std::string halfWritten =
        dir.Path + "/." + std::to_string(ended) + "." + std::to_string(ended) + "-0";
    std::ofstream(halfWritten) << "port=pts/";
    ListAnnouncedLines(dir.Path);
    EXPECT_FALSE(Exists(AnnouncementFile(dir.Path, ended)));
    EXPECT_FALSE(Exists(halfWritten));
    // A file naming another process than its own name says is passed over.
    TAnnouncedLine misnamed = line;
    misnamed.Pid = ::getppid();
    std::ofstream(AnnouncementFile(dir.Path, ::getpid()), std::ios::trunc) << FormatAnnouncement(misnamed);
    EXPECT_TRUE(ListAnnouncedLines(dir.Path).empty());
}

TEST(AnnouncedLines, AnnouncedLinesFollowTheSerialPortsOnce) {
    FakeSysfs sys;
    sys.Add("ttyS0", "serial8250", "4");
    TempDir dir;
    Pty pty;
    ASSERT_FALSE(pty.Port.empty());
    std::string why;
    ASSERT_TRUE(WriteAnnouncement(dir.Path, Own(pty.Port), why)) << why;
    EXPECT_EQ(ListSerialLines(sys.Tty(), dir.Path), (std::vector<std::string>{"ttyS0", pty.Port}));
    // Without a readable folder only the serial ports remain.
    EXPECT_EQ(ListSerialLines(sys.Tty(), dir.Path + "/missing"), std::vector<std::string>{"ttyS0"});
}

TEST(AnnouncedLines, TheDefaultFolderIsTheUsersRuntimeFolder) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(DefaultAnnounceDir(), "/run/user/4242/tovik-sim");
    ::setenv("XDG_RUNTIME_DIR", "relative", 1);  // not a folder to trust
    EXPECT_EQ(DefaultAnnounceDir(), "/tmp/tovik-sim-" + std::to_string(::getuid()));
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(DefaultAnnounceDir(), "/tmp/tovik-sim-" + std::to_string(::getuid()));
    if (saved) ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

}  // namespace
}  // namespace tovik
