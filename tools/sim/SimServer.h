#pragma once
// The simulator program: its options and the line server that plays the
// relays on a pseudo-terminal.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/sim/SimLine.h"

namespace tovik::sim {

struct TSimOptions {
    std::vector<std::pair<uint8_t, uint8_t>> Relays;  // kind, address
    int Baud = kDefaultBaud;
    int DelayMs = 0;
    std::string LogPath;
    std::string AnnounceDir;  // empty: the user's runtime folder
    bool ManualClock = false;
    std::optional<uint32_t> LoadMa;
    TFaults Faults;
    bool Help = false;
    bool Version = false;
};

// Reads the command line (without the program name). Returns an empty
// string on success, else the message to show.
std::string ParseOptions(const std::vector<std::string>& args, TSimOptions& options);
std::string HelpText();

// Runs the simulator until SIGINT, SIGTERM or SIGHUP; returns the exit code.
int RunSimulator(const TSimOptions& options);

}  // namespace tovik::sim
