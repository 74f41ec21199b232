#pragma once
// The table of tovik-cli's commands. The help, the dispatch and the access
// check of the commands that change the relay all come from it.
#include <span>
#include <string>
#include <string_view>

namespace tovik::cli {

struct TContext;

// Options that belong to one command only.
enum TCommandOptions : unsigned {
    kNoCommandOptions = 0,
    kTakesCount = 1,           // --count
    kTakesFiles = 2,           // --txt, --xlsx
    kTakesScan = 4,            // --from, --to, --native, --modbus, --timeout
    kLineOnly = 8,             // needs a line (--port or --device's port), not a relay
    kTakesSetpointFiles = 16,  // --save, --compare
    kWholePlant = 32,          // every device of the configuration file: no --device or --port
};

struct TCliCommand {
    const char* Name;
    const char* Arguments;  // as the help shows them after the name; "" for none
    int MinArguments;
    int MaxArguments;
    // Needs --user and --password of an account with full rights; checked
    // before anything is sent.
    bool ChangesRelay;
    unsigned Options;
    // Checks the arguments before the access check (may be null): a wrong
    // argument is a usage error whoever asks.
    void (*Check)(const TContext&);
    int (*Run)(TContext&);
    const char* Help;  // lines of at most 56 characters
};

// Every command, in the order the help lists them (defined beside the
// handlers).
std::span<const TCliCommand> CliCommands();

const TCliCommand* FindCliCommand(std::string_view name);

// The help's list of the reading commands, or of those that change the relay.
std::string CliCommandList(bool changesRelay);

// What "tovik-cli COMMAND --help" prints.
std::string CliCommandHelp(const TCliCommand& command);

}  // namespace tovik::cli
