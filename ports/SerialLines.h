#pragma once
// Which serial lines exist on this machine: the terminals the kernel lists
// in sysfs, and the pseudo-terminals that running relay simulators announce.
// Port names are relative to /dev ("ttyS0", "ttyUSB0", "pts/5").
//
// A simulator announces its line with one file in the announcement folder,
// named by its process id, written whole (temporary file and rename):
//
//   port=pts/5          the line, relative to /dev; always a pseudo-terminal
//   pid=4711            the simulator's process
//   start=1234567       when that process started (/proc/PID/stat, clock ticks after boot)
//   device=34821        the line's device number when it was announced
//   relay=0:1           one per relay: device kind 0..3, bus number 1..250
//
// Lines are listed only while the very process that announced them runs and
// still holds the line: a process id or a pseudo-terminal number used again
// by someone else never shows a stale line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovik {

inline constexpr const char* kSysfsTtyRoot = "/sys/class/tty";

// Serial ports the kernel reports under `sysfsTtyRoot`: terminals backed by
// a device, leaving out legacy 8250 ports with no hardware behind them
// (type 0) and names that do not fit a port record; in natural order.
std::vector<std::string> ListSerialPorts(const std::string& sysfsTtyRoot = kSysfsTtyRoot);

struct TAnnouncedLine {
    std::string Port;
    int Pid = 0;
    uint64_t StartTicks = 0;
    uint64_t Device = 0;
    std::vector<std::pair<uint8_t, uint8_t>> Relays;  // kind, bus number
    bool operator==(const TAnnouncedLine&) const = default;
};

// Longest announcement text; a longer file is not one.
inline constexpr size_t kMaxAnnouncementSize = 4096;

// $XDG_RUNTIME_DIR/tovik-sim, or /tmp/tovik-sim-UID without a runtime folder.
std::string DefaultAnnounceDir();

std::string FormatAnnouncement(const TAnnouncedLine& line);
// The announcement a text holds; nullopt when it is not a whole, valid one.
std::optional<TAnnouncedLine> ParseAnnouncement(std::string_view text);

// When process `pid` started, in clock ticks after boot; nullopt when there
// is no such process or it cannot be read.
std::optional<uint64_t> ProcessStartTicks(int pid);

// The announcement of this process's line /dev/`port`; false (with the
// system's reason) when the line cannot be examined.
bool DescribeOwnLine(const std::string& port, const std::vector<std::pair<uint8_t, uint8_t>>& relays,
                     TAnnouncedLine& line, std::string& why);

// Writes the announcement into `dir` (created, mode 0700, when missing; it
// must be a folder of this user that nobody else may write into), replacing
// this process's earlier one. False with the reason when it cannot.
bool WriteAnnouncement(const std::string& dir, const TAnnouncedLine& line, std::string& why);
// Removes the announcement of process `pid` from `dir`, if there is one.
void RemoveAnnouncement(const std::string& dir, int pid);

enum class TAnnouncedLineState {
    Live,         // the announcing process runs and holds the line
    ProcessGone,  // that process ended (its id may now be someone else's)
    LineChanged,  // the process runs, but the line is no longer the one it announced
};
TAnnouncedLineState CheckAnnouncedLine(const TAnnouncedLine& line);

// The live announced lines in `dir`, ordered by process id. Announcements
// whose process is gone are deleted on the way.
std::vector<TAnnouncedLine> ListAnnouncedLines(const std::string& dir = DefaultAnnounceDir());

// What a port dialog offers: the serial ports, then the announced lines not
// among them.
std::vector<std::string> ListSerialLines(const std::string& sysfsTtyRoot = kSysfsTtyRoot,
                                         const std::string& announceDir = DefaultAnnounceDir());

}  // namespace tovik
