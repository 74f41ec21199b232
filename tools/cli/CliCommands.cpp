#include "tools/cli/CliCommands.h"

#include <sstream>

namespace tovik::cli {

namespace {

constexpr size_t kHelpColumn = 22;

std::string Synopsis(const TCliCommand& c) {
    std::string s = c.Name;
    if (*c.Arguments) s += std::string(" ") + c.Arguments;
    return s;
}

// The help's lines, each indented to `indent`.
void AppendHelpLines(std::string& out, const char* help, size_t indent, bool firstIndented) {
    std::istringstream lines(help);
    bool first = true;
    for (std::string line; std::getline(lines, line); first = false) {
        if (!first || firstIndented) out.append(indent, ' ');
        out += line + '\n';
    }
}

}  // namespace

const TCliCommand* FindCliCommand(std::string_view name) {
    for (const TCliCommand& c : CliCommands())
        if (name == c.Name) return &c;
    return nullptr;
}

std::string CliCommandList(bool changesRelay) {
    std::string out;
    for (const TCliCommand& c : CliCommands()) {
        if (c.ChangesRelay != changesRelay) continue;
        const std::string synopsis = "  " + Synopsis(c);
        // A short synopsis shares its line with the first line of the help.
        if (synopsis.size() + 2 <= kHelpColumn) {
            out += synopsis + std::string(kHelpColumn - synopsis.size(), ' ');
            AppendHelpLines(out, c.Help, kHelpColumn, false);
        } else {
            out += synopsis + '\n';
            AppendHelpLines(out, c.Help, kHelpColumn, true);
        }
    }
    return out;
}

std::string CliCommandHelp(const TCliCommand& c) {
    const bool line = c.Options & kLineOnly;
    const bool plant = c.Options & kWholePlant;
    std::string out = plant  ? "Usage: tovik-cli [--config FILE] "
                      : line ? "Usage: tovik-cli LINE "
                             : "Usage: tovik-cli RELAY ";
    if (c.ChangesRelay) out += "--user NAME --password PW ";
    out += "[--json] " + Synopsis(c) + "\n\n";
    AppendHelpLines(out, c.Help, 2, true);
    out += "\n";
    if (c.ChangesRelay)
        out +=
            "Changes the relay: needs --user and --password of an account with full\n"
            "access; a refused command sends nothing.\n";
    else
        out += "Reads only; needs no account.\n";
    if (plant)
        out +=
            "Exit status: 0 every relay answered and none is in an alarm state;\n"
            "1 otherwise; 2 wrong usage or configuration. More: tovik-cli --help.\n";
    else if (line)
        out +=
            "LINE: --port NAME, or --device INDEX [--config FILE] for its port.\n"
            "Exit status: 0 a relay answered; 1 none did, or the search was\n"
            "interrupted; 2 wrong usage or configuration. More: tovik-cli --help.\n";
    else
        out +=
            "RELAY: --device INDEX [--config FILE], or --port NAME --kind K --bus N.\n"
            "Exit status: 0 done; 1 the relay did not answer or a command failed;\n"
            "2 wrong usage or configuration; 3 access refused. More: tovik-cli --help.\n";
    return out;
}

}  // namespace tovik::cli
