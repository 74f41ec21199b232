#pragma once
// Which serial lines exist on this machine: the serial ports the system
// lists (the terminals in sysfs; on Windows the registry's serial
// communications map), and the pseudo-terminals that running relay
// simulators announce (POSIX systems only: Windows has no pseudo-terminals,
// and none is ever announced there). Port names are relative to /dev
// ("ttyS0", "ttyUSB0", "pts/5"), or the COM names of Windows ("COM3").
// The system's part is chosen by CMake (SerialLinesPosix.cpp,
// SerialLinesWin32.cpp).
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

// Where the system lists its serial ports: the sysfs folder of terminals
// ("/sys/class/tty"), or the registry key of the serial communications map
// ("HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM"). Tests name a
// list of their own.
std::string SystemPortListSource();

// The serial ports listed at `source` (the system's part): in sysfs the
// terminals backed by a device, leaving out legacy 8250 ports with no
// hardware behind them (type 0); in the registry the values of the key
// (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER).
std::vector<std::string> ReadSystemPortList(const std::string& source);

// The serial ports listed at `source`, leaving out names that do not fit a
// port record, each once, in natural order ("COM10" after "COM9").
std::vector<std::string> ListSerialPorts(const std::string& source = SystemPortListSource());

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

// $XDG_RUNTIME_DIR/tovik-sim, or /tmp/tovik-sim-UID without a runtime
// folder; empty on Windows.
std::string DefaultAnnounceDir();

std::string FormatAnnouncement(const TAnnouncedLine& line);
// The announcement a text holds; nullopt when it is not a whole, valid one.
std::optional<TAnnouncedLine> ParseAnnouncement(std::string_view text);
// The number N of "pts/N".
std::optional<unsigned> PtsIndex(std::string_view port);
// The value of a text of decimal digits only; none for anything else.
std::optional<uint64_t> DigitsValue(std::string_view text);

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
std::vector<std::string> ListSerialLines(const std::string& source = SystemPortListSource(),
                                         const std::string& announceDir = DefaultAnnounceDir());

}  // namespace tovik
