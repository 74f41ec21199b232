#include "ports/SerialLines.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/Files.h"
#include "ports/ProtoUART.h"

namespace tovik {

namespace fs = std::filesystem;

// ---- Serial ports in sysfs ----

namespace {

// "ttyS10" after "ttyS9": digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string ReadFirstLine(const fs::path& p) {
    std::ifstream in(p);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const std::string& sysfsTtyRoot) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysfsTtyRoot, ec)) {
        const fs::path dir = entry.path();
        const std::string name = dir.filename().string();
        std::error_code e2;
        if (!fs::exists(dir / "device", e2)) continue;  // virtual terminals, consoles
        const fs::path driver = fs::read_symlink(dir / "device" / "driver", e2);
        if (!e2 && driver.filename() == "serial8250" && ReadFirstLine(dir / "type") == "0") continue;
        if (CheckPortName(name) != TPortNameCheck::Ok) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

// ---- Announcement text ----

namespace {

constexpr std::string_view kPtsPrefix = "pts/";
constexpr size_t kMaxPtsDigits = 5;  // "pts/" and five digits fill a port record's name

template <typename T>
bool WholeNumber(std::string_view text, T& value) {
    if (text.empty() || text.front() == '-') return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
}

// The number N of "pts/N".
std::optional<unsigned> PtsIndex(std::string_view port) {
    if (port.substr(0, kPtsPrefix.size()) != kPtsPrefix) return std::nullopt;
    const std::string_view digits = port.substr(kPtsPrefix.size());
    unsigned index = 0;
    if (digits.size() > kMaxPtsDigits || !AllDigits(digits) || !WholeNumber(digits, index))
        return std::nullopt;
    return index;
}

}  // namespace

std::string DefaultAnnounceDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/') return std::string(runtime) + "/tovik-sim";
    return "/tmp/tovik-sim-" + std::to_string(::getuid());
}

std::string FormatAnnouncement(const TAnnouncedLine& line) {
    std::string text = "port=" + line.Port + "\npid=" + std::to_string(line.Pid) +
                       "\nstart=" + std::to_string(line.StartTicks) +
                       "\ndevice=" + std::to_string(line.Device) + "\n";
    for (const auto& [kind, address] : line.Relays)
        text += "relay=" + std::to_string(kind) + ":" + std::to_string(address) + "\n";
    return text;
}

std::optional<TAnnouncedLine> ParseAnnouncement(std::string_view text) {
    if (text.empty() || text.size() > kMaxAnnouncementSize || text.back() != '\n') return std::nullopt;
    TAnnouncedLine line;
    bool havePort = false, havePid = false, haveStart = false, haveDevice = false;
    bool seen[251] = {};
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        const std::string_view row = text.substr(0, eol);
        text.remove_prefix(eol + 1);
        const size_t eq = row.find('=');
        if (eq == std::string_view::npos || eq == 0) return std::nullopt;
        const std::string_view key = row.substr(0, eq), value = row.substr(eq + 1);
        if (key == "port") {
            if (havePort || !PtsIndex(value)) return std::nullopt;
            line.Port = std::string(value);
            havePort = true;
        } else if (key == "pid") {
            if (havePid || !AllDigits(value) || !WholeNumber(value, line.Pid) || line.Pid <= 0)
                return std::nullopt;
            havePid = true;
        } else if (key == "start") {
            if (haveStart || !AllDigits(value) || !WholeNumber(value, line.StartTicks)) return std::nullopt;
            haveStart = true;
        } else if (key == "device") {
            if (haveDevice || !AllDigits(value) || !WholeNumber(value, line.Device)) return std::nullopt;
            haveDevice = true;
        } else if (key == "relay") {
            const size_t colon = value.find(':');
            unsigned kind = 0, address = 0;
            if (colon == std::string_view::npos || !AllDigits(value.substr(0, colon)) ||
                !AllDigits(value.substr(colon + 1)) || !WholeNumber(value.substr(0, colon), kind) ||
                !WholeNumber(value.substr(colon + 1), address) || kind > 3 || address < 1 || address > 250 ||
                seen[address])
                return std::nullopt;
            // One line carries one wire format: kinds 0 and 2 native, 1 and 3 ModBus.
            if (!line.Relays.empty() && (line.Relays.front().first & 1) != (kind & 1)) return std::nullopt;
            seen[address] = true;
            line.Relays.emplace_back(static_cast<uint8_t>(kind), static_cast<uint8_t>(address));
        } else if (!std::all_of(key.begin(), key.end(),
                                [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; })) {
            return std::nullopt;
        }
        // Other keys belong to later simulators: they do not make the line unusable.
    }
    if (!havePort || !havePid || !haveStart || !haveDevice || line.Relays.empty()) return std::nullopt;
    return line;
}

// ---- Processes and lines ----

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
        if (!AllDigits(e->d_name)) continue;
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
        unsigned held = 0;
        if (WholeNumber(std::string_view(info).substr(p, q - p), held) && held == index) {
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
    uint64_t start = 0;
    if (!WholeNumber(fields[19], start)) return std::nullopt;
    return start;
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
        int pid = 0;
        if (name.size() > 9 || !AllDigits(name) || !WholeNumber(name, pid) || pid <= 0) continue;
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

std::vector<std::string> ListSerialLines(const std::string& sysfsTtyRoot, const std::string& announceDir) {
    std::vector<std::string> names = ListSerialPorts(sysfsTtyRoot);
    // Lines of running simulators, for training and tests without hardware.
    for (const auto& line : ListAnnouncedLines(announceDir)) {
        if (CheckPortName(line.Port) != TPortNameCheck::Ok) continue;
        if (std::find(names.begin(), names.end(), line.Port) == names.end()) names.push_back(line.Port);
    }
    return names;
}

}  // namespace tovik
