#include "tools/cli/CliOptions.h"

#include <charconv>

#include "base/Version.h"
#include "tools/cli/CliCommands.h"

namespace tovik::cli {

namespace {

bool ParseInt(const std::string& text, long lo, long hi, long& out) {
    long v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

std::string ParseCliOptions(const std::vector<std::string>& args, TCliOptions& o) {
    bool onlyArguments = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string word = args[i];
        if (onlyArguments || word.rfind("--", 0) != 0 || word == "-h") {
            if (word == "-h" && !onlyArguments) {
                o.Help = true;
            } else if (o.Command.empty()) {
                o.Command = word;
            } else {
                o.Args.push_back(word);
            }
            continue;
        }
        if (word == "--") {
            onlyArguments = true;
            continue;
        }
        std::string name = word, value;
        bool inlineValue = false;
        if (const size_t eq = word.find('='); eq != std::string::npos) {
            name = word.substr(0, eq);
            value = word.substr(eq + 1);
            inlineValue = true;
        }
        // A following word that looks like an option is never taken as the
        // value: "--user --help" is a mistake, not a user named "--help".
        // Such a value is given as --user=--help.
        auto take = [&](std::string& out) {
            if (inlineValue) {
                out = value;
                return true;
            }
            if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) return false;
            out = args[++i];
            return true;
        };
        auto number = [&](long lo, long hi, long& out) -> std::string {
            std::string text;
            if (!take(text)) return name + " requires a value";
            if (!ParseInt(text, lo, hi, out))
                return "bad value \"" + text + "\" for " + name + " (" + std::to_string(lo) + ".." +
                       std::to_string(hi) + ")";
            return "";
        };
        auto text = [&](std::optional<std::string>& field) -> std::string {
            std::string t;
            if (!take(t)) return name + " requires a value";
            field = t;
            return "";
        };
        auto flag = [&](bool& field) -> std::string {
            if (inlineValue) return name + " takes no value";
            field = true;
            return "";
        };
        long n = 0;
        std::string err;
        if (name == "--help") {
            err = flag(o.Help);
        } else if (name == "--version") {
            err = flag(o.Version);
        } else if (name == "--json") {
            err = flag(o.Json);
        } else if (name == "--trace") {
            err = flag(o.Trace);
        } else if (name == "--bus-mode") {
            err = flag(o.BusMode);
        } else if (name == "--config") {
            err = text(o.ConfigPath);
        } else if (name == "--port") {
            err = text(o.PortName);
        } else if (name == "--user") {
            err = text(o.User);
        } else if (name == "--password") {
            err = text(o.Password);
        } else if (name == "--txt") {
            err = text(o.TextFile);
        } else if (name == "--xlsx") {
            err = text(o.SheetFile);
        } else if (name == "--save") {
            err = text(o.SaveFile);
        } else if (name == "--compare") {
            err = text(o.CompareFile);
        } else if (name == "--device") {
            if ((err = number(0, 1000000, n)).empty()) o.DeviceIndex = static_cast<int>(n);
        } else if (name == "--kind") {
            if ((err = number(0, 3, n)).empty()) o.Kind = static_cast<int>(n);
        } else if (name == "--bus") {
            if ((err = number(1, 250, n)).empty()) o.Bus = static_cast<int>(n);
        } else if (name == "--reply-timeout") {
            if ((err = number(1, 3600000, n)).empty()) o.ReplyTimeout = static_cast<int>(n);
        } else if (name == "--interval") {
            if ((err = number(0, 3600000, n)).empty()) o.RequestInterval = static_cast<int>(n);
        } else if (name == "--from") {
            if ((err = number(1, 250, n)).empty()) o.ScanFrom = static_cast<int>(n);
        } else if (name == "--to") {
            if ((err = number(1, 250, n)).empty()) o.ScanTo = static_cast<int>(n);
        } else if (name == "--native") {
            err = flag(o.ScanNative);
        } else if (name == "--modbus") {
            err = flag(o.ScanModbus);
        } else if (name == "--timeout") {
            if ((err = number(10, 2000, n)).empty()) o.ScanTimeout = static_cast<int>(n);
        } else if (name == "--count") {
            if ((err = number(1, 1000000000, n)).empty()) o.Count = n;
        } else {
            err = "unknown option " + name;
        }
        // Help (and the version) is shown whatever else the line holds.
        if (!err.empty() && !o.Help && !o.Version) return err;
    }
    return "";
}

std::string CliHelpText() {
    return std::string(R"(Usage: tovik-cli [--config FILE] (--device INDEX | --port NAME --kind K --bus N
                 [--bus-mode] [--reply-timeout MS] [--interval MS])
                 [--user NAME --password PW] [--json] [--trace] COMMAND [ARGS]
       tovik-cli (--port NAME | --device INDEX) [--json] [--trace] scan
                 [--from N] [--to N] [--native|--modbus] [--timeout MS]

Runs the service tool's relay operations from the command line, through the
same request engine, protocol, codecs and access rules as the application.

The relay:
  --device INDEX      port, kind and bus number of device INDEX (from 0, in
                      the order "tovik-config show" lists them) of the
                      configuration file; also its port's bus mode, reply
                      time-out and request interval, and its alarm cache.
  --config FILE       the configuration file; default "application.cfg"
                      beside the program. Read only, never written.
  --port NAME         the serial line under /dev ("ttyUSB0", "pts/3").
  --kind K            0 "Товик", 1 "Товик ModBus", 2 "ТовикМ", 3 "ТовикМ ModBus".
  --bus N             bus number 1..250.
  --bus-mode          only replies from the bus number count (RS-485 with
                      several relays).
  --reply-timeout MS  reply time-out, default 100.
  --interval MS       request interval between polls (watch), default 100.
  --port, --kind, --bus, --bus-mode, --reply-timeout and --interval also
  override what --device takes from the file.

Access:
  Reading needs no account. Every command that changes the relay needs
  --user and --password of an account of the configuration file; read-only
  accounts are refused, and the model, the date of manufacture and the serial
  number (setpoint items 19 to 21) are written only at the service level.
  A refused command sends nothing.

Reading commands:
)") + CliCommandList(false) +
           R"(
Commands that change the relay:
)" + CliCommandList(true) +
           R"(
Output:
  --json              the same results as one JSON object (watch: one object
                      per cycle and line). Messages go to standard error.
  --trace             every frame sent and received, one line each on
                      standard error: time, port, TX/RX, bus number, try,
                      reply time, the bytes in hex, what they mean (the
                      command and its parameters; for ModBus the function,
                      registers and the command they serve) and the outcome.
  Decimal, date and time separators follow the locale (LC_ALL, LANG).

Command line:
  Options may come before or after the command. "tovik-cli COMMAND --help"
  prints the command's help and does nothing else. A value that starts with
  "--" is given as --option=VALUE; after "--" every word is an argument.
  "tovik-cli --version" prints the version.

Exit status: 0 done; 1 the relay did not answer, a read of poll or watch
failed, or a command failed (scan: no relay answered; setpoints --compare:
the relay differs from the file; restore: an item written does not match, or
a value of the file lies outside the model's limits); 2 wrong usage or
configuration (a damaged setpoint file too); 3 access refused.

Against the simulator:
  tovik-sim --relay 3:1                      # prints its line, e.g. pts/5
  tovik-cli --port pts/5 --kind 3 --bus 1 watch
)";
}

std::string CliVersionText() {
    return VersionLine("tovik-cli");
}

}  // namespace tovik::cli
