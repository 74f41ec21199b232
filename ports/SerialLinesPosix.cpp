// ports/SerialLines.h on POSIX systems: the serial ports sysfs lists, and
// the lines of running simulators (pseudo-terminals, /proc).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/Files.h"
#include "ports/SerialLines.h"

namespace tovik {

namespace fs = std::filesystem;

// ---- Serial ports in sysfs ----

namespace {

std::string ReadFirstLine(const fs::path& p) {
    std::ifstream in(p);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::string SystemPortListSource() {
    return "/sys/class/tty";
}

// The terminals of the sysfs folder `source` backed by a device, leaving out
// legacy 8250 ports with no hardware behind them (type 0).
std::vector<std::string> ReadSystemPortList(const std::string& source) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(source, ec)) {
        const fs::path dir = entry.path();
        const std::string name = dir.filename().string();
        std::error_code e2;
        if (!fs::exists(dir / "device", e2)) continue;  // virtual terminals, consoles
        const fs::path driver = fs::read_symlink(dir / "device" / "driver", e2);
        if (!e2 && driver.filename() == "serial8250" && ReadFirstLine(dir / "type") == "0") continue;
        names.push_back(name);
    }
    return names;
}

std::string DefaultAnnounceDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/') return std::string(runtime) + "/tovik-sim";
    return "/tmp/tovik-sim-" + std::to_string(::getuid());
}

// ---- Simulators' lines: processes and pseudo-terminals ----

namespace {

// Reads a small /proc file whole; empty when it cannot.
std::string ReadProcFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    char buf[1024];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0 && text.size() < 65536;)
        text.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

enum class THolds { Yes, No, Unknown };

// Whether process `pid` holds the master side of pseudo-terminal `index`.
// Unknown when it holds masters but the kernel does not tell their numbers.
THolds HoldsPtyMaster(int pid, unsigned index) {
    const std::string proc = "/proc/" + std::to_string(pid);
    DIR* fds = ::opendir((proc + "/fd").c_str());
    if (!fds) return THolds::No;
    bool masters = false, numbered = false, found = false;
    while (const dirent* e = ::readdir(fds)) {
        if (!DigitsValue(e->d_name)) continue;
        char target[64];
        const ssize_t n = ::readlink((proc + "/fd/" + e->d_name).c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        const std::string_view link(target, static_cast<size_t>(n));
        if (link != "/dev/ptmx" && link != "/dev/pts/ptmx") continue;
        masters = true;
        const std::string info = ReadProcFile(proc + "/fdinfo/" + e->d_name);
        const size_t at = info.find("tty-index:");
        if (at == std::string::npos) continue;
        numbered = true;
        size_t p = at + std::strlen("tty-index:");
        while (p < info.size() && (info[p] == ' ' || info[p] == '\t')) ++p;
        size_t q = p;
        while (q < info.size() && std::isdigit(static_cast<unsigned char>(info[q]))) ++q;
        if (DigitsValue(std::string_view(info).substr(p, q - p)) == index) {
            found = true;
            break;
        }
    }
    ::closedir(fds);
    if (found) return THolds::Yes;
    return masters && !numbered ? THolds::Unknown : THolds::No;
}

// A folder of ours that nobody else may write into (the fallback folder
// lives in the shared /tmp).
bool IsPrivateDir(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string AnnouncementPath(const std::string& dir, int pid) {
    return dir + "/" + std::to_string(pid);
}

}  // namespace

std::optional<uint64_t> ProcessStartTicks(int pid) {
    if (pid <= 0) return std::nullopt;
    const std::string stat = ReadProcFile("/proc/" + std::to_string(pid) + "/stat");
    // "PID (name) STATE PPID ...": the name may hold anything, so count
    // fields from the last ')'. The start time is field 22, the 20th after it.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::string_view rest = std::string_view(stat).substr(close + 1);
    std::vector<std::string_view> fields;
    while (!rest.empty() && fields.size() < 20) {
        const size_t begin = rest.find_first_not_of(' ');
        if (begin == std::string_view::npos) break;
        rest.remove_prefix(begin);
        const size_t end = std::min(rest.find(' '), rest.size());
        fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    // A zombie has ended: only its parent has not collected it yet.
    if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X") return std::nullopt;
    return DigitsValue(fields[19]);
}

bool DescribeOwnLine(const std::string& port, const std::vector<std::pair<uint8_t, uint8_t>>& relays,
                     TAnnouncedLine& line, std::string& why) {
    struct stat st {};
    if (::stat(("/dev/" + port).c_str(), &st) != 0) {
        why = "/dev/" + port + ": " + std::strerror(errno);
        return false;
    }
    const auto start = ProcessStartTicks(::getpid());
    if (!start) {
        why = "/proc/self/stat cannot be read";
        return false;
    }
    line = {};
    line.Port = port;
    line.Pid = ::getpid();
    line.StartTicks = *start;
    line.Device = static_cast<uint64_t>(st.st_rdev);
    line.Relays = relays;
    return true;
}

bool WriteAnnouncement(const std::string& dir, const TAnnouncedLine& line, std::string& why) {
    const std::string text = FormatAnnouncement(line);
    if (!ParseAnnouncement(text)) {
        why = "not a valid announcement";
        return false;
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        why = dir + ": " + std::strerror(errno);
        return false;
    }
    if (!IsPrivateDir(dir)) {
        why = dir + ": not a private folder of this user";
        return false;
    }
    const std::string path = AnnouncementPath(dir, line.Pid);
    std::string reason;
    if (!ReplaceFileBytes(path, text, reason)) {
        why = path + ": " + reason;
        return false;
    }
    return true;
}

void RemoveAnnouncement(const std::string& dir, int pid) {
    ::unlink(AnnouncementPath(dir, pid).c_str());
}

TAnnouncedLineState CheckAnnouncedLine(const TAnnouncedLine& line) {
    // A process id used again belongs to a process that started later.
    const auto start = ProcessStartTicks(line.Pid);
    if (!start || *start != line.StartTicks) return TAnnouncedLineState::ProcessGone;
    // A pseudo-terminal number used again is held by another master.
    const auto index = PtsIndex(line.Port);
    struct stat st {};
    if (!index || ::stat(("/dev/" + line.Port).c_str(), &st) != 0 || !S_ISCHR(st.st_mode) ||
        static_cast<uint64_t>(st.st_rdev) != line.Device)
        return TAnnouncedLineState::LineChanged;
    return HoldsPtyMaster(line.Pid, *index) == THolds::No ? TAnnouncedLineState::LineChanged
                                                          : TAnnouncedLineState::Live;
}

std::vector<TAnnouncedLine> ListAnnouncedLines(const std::string& dir) {
    std::vector<TAnnouncedLine> out;
    if (!IsPrivateDir(dir)) return out;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return out;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
    // New files of writers that died between writing and renaming.
    RemoveLeftoverNewFiles(dir);
    for (const std::string& name : names) {
        const auto number = name.size() <= 9 ? DigitsValue(name) : std::nullopt;
        if (!number || *number == 0) continue;
        const int pid = static_cast<int>(*number);
        const std::string path = dir + "/" + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        std::string text;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid()) {
            char buf[1024];
            for (ssize_t n; text.size() <= kMaxAnnouncementSize && (n = ::read(fd, buf, sizeof buf)) > 0;)
                text.append(buf, static_cast<size_t>(n));
        }
        ::close(fd);
        if (!S_ISREG(st.st_mode) || st.st_uid != ::getuid()) continue;
        const auto line = ParseAnnouncement(text);
        TAnnouncedLineState state = TAnnouncedLineState::ProcessGone;
        if (line && line->Pid == pid) {
            state = CheckAnnouncedLine(*line);
        } else if (ProcessStartTicks(pid)) {
            continue;  // not one we can read, and its writer still runs
        }
        if (state == TAnnouncedLineState::Live) {
            out.push_back(*line);
        } else if (state == TAnnouncedLineState::ProcessGone) {
            // Ours to remove: nobody will. Unless a new process of that id
            // has just put its own file in its place.
            struct stat now {};
            if (::lstat(path.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
                ::unlink(path.c_str());
        }
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.Pid < b.Pid; });
    return out;
}

}  // namespace tovik
