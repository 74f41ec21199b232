#pragma once
// Lines that running simulators announce, so that port dialogs can offer
// them. Each simulator writes one file named by its process id into the
// announcement folder: the port name (relative to /dev) on the first line,
// then one "KIND:ADDRESS" line per relay. The file goes away when the
// simulator ends; a file left by a simulator that died is skipped.
//
// Header only, without Qt, so that any front end can include it.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tovik::sim {

struct TAnnouncedLine {
    int Pid = 0;
    std::string Port;                                 // relative to /dev, e.g. "pts/5"
    std::vector<std::pair<uint8_t, uint8_t>> Relays;  // kind, address
};

// $XDG_RUNTIME_DIR/tovik-sim, or /tmp/tovik-sim-UID without a runtime folder.
inline std::string AnnounceDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/') return std::string(runtime) + "/tovik-sim";
    return "/tmp/tovik-sim-" + std::to_string(::getuid());
}

// True when `dir` is a real folder of ours that nobody else may write into
// (the fallback lives in the shared /tmp).
inline bool IsPrivateDir(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Parses the text of one announcement; false when it is not one.
inline bool ParseAnnouncement(const std::string& text, TAnnouncedLine& line) {
    std::istringstream in(text);
    std::string port;
    if (!std::getline(in, port) || port.empty() || port.size() > 64 || port.find("..") != std::string::npos ||
        port.front() == '/')
        return false;
    line.Port = port;
    line.Relays.clear();
    for (std::string row; std::getline(in, row);) {
        if (row.empty()) continue;
        unsigned kind = 0, address = 0;
        char colon = 0, extra = 0;
        std::istringstream r(row);
        if (!(r >> kind >> colon >> address) || colon != ':' || (r >> extra) || kind > 3 || address < 1 ||
            address > 250)
            return false;
        line.Relays.emplace_back(static_cast<uint8_t>(kind), static_cast<uint8_t>(address));
    }
    return !line.Relays.empty();
}

// Whether process `pid` is a running simulator.
inline bool SimulatorAlive(int pid) {
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM)) return false;
    // Guard against a reused process id where the process table can tell.
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (comm && std::getline(comm, name)) return name == "tovik-sim";
    return true;
}

// The announced lines whose simulator still runs and whose port exists,
// ordered by process id.
inline std::vector<TAnnouncedLine> ListAnnouncedLines(const std::string& dir = AnnounceDir()) {
    std::vector<TAnnouncedLine> out;
    if (!IsPrivateDir(dir)) return out;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return out;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.empty() || name.size() > 9 ||
            !std::all_of(name.begin(), name.end(), [](unsigned char c) { return c >= '0' && c <= '9'; }))
            continue;
        TAnnouncedLine line;
        line.Pid = std::atoi(name.c_str());
        if (!SimulatorAlive(line.Pid)) continue;
        std::ifstream f(dir + "/" + name);
        std::stringstream text;
        text << f.rdbuf();
        if (!f || !ParseAnnouncement(text.str(), line)) continue;
        struct stat st {};
        if (::stat(("/dev/" + line.Port).c_str(), &st) != 0) continue;
        out.push_back(std::move(line));
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.Pid < b.Pid; });
    return out;
}

}  // namespace tovik::sim
