#pragma once
// tovik-cli's command line.
#include <optional>
#include <string>
#include <vector>

namespace tovik::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;   // the relay did not answer, or a command failed
inline constexpr int kExitUsage = 2;    // wrong usage or configuration
inline constexpr int kExitRefused = 3;  // access refused

struct TCliOptions {
    std::optional<std::string> ConfigPath;
    std::optional<int> DeviceIndex;
    std::optional<std::string> PortName;
    std::optional<int> Kind;
    std::optional<int> Bus;
    bool BusMode = false;
    std::optional<int> ReplyTimeout;
    std::optional<int> RequestInterval;
    std::optional<std::string> User;
    std::optional<std::string> Password;
    bool Json = false;
    bool Trace = false;  // every frame on the line to standard error
    bool Help = false;
    bool Version = false;                    // prints the version and does nothing else
    std::optional<long> Count;               // watch
    std::optional<std::string> TextFile;     // alarms --txt
    std::optional<std::string> SheetFile;    // alarms --xlsx
    std::optional<int> ScanFrom;             // scan --from
    std::optional<int> ScanTo;               // scan --to
    bool ScanNative = false;                 // scan --native
    bool ScanModbus = false;                 // scan --modbus
    std::optional<int> ScanTimeout;          // scan --timeout
    std::optional<std::string> SaveFile;     // setpoints --save
    std::optional<std::string> CompareFile;  // setpoints --compare
    std::string Command;
    std::vector<std::string> Args;
};

// Reads the arguments (without the program name). Options may come before
// or after the command; a word that starts with "--" is an option, any
// other word (a negative number too) an argument; after "--" every word is
// an argument. An option's value that starts with "--" must be given as
// --option=VALUE. Empty on success, else the message.
std::string ParseCliOptions(const std::vector<std::string>& args, TCliOptions& options);

std::string CliHelpText();
std::string CliVersionText();  // "tovik-cli 0.1.0"

}  // namespace tovik::cli
