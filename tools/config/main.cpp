// tovik-config: creates, inspects and edits configuration files
// ("application.cfg") through the application's own load and save code.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/Configuration.h"
#include "app/Device.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "base/Files.h"
#include "base/Program.h"
#include "base/Version.h"
#include "ports/ProtoUART.h"
#include "tools/common/Json.h"

namespace tovik::tool {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int32_t kMinMs = 100;
constexpr int32_t kMaxMs = 3600000;
constexpr int32_t kDefaultMs = 100;

struct TUsageError {
    std::string Text;
    std::string Help = "tovik-config --help";  // where to read more
};

std::optional<int64_t> ParseInt(const std::string& text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

int64_t ParseRange(const std::string& text, int64_t lo, int64_t hi, const char* what) {
    const auto value = ParseInt(text);
    if (!value || *value < lo || *value > hi)
        throw TUsageError{std::string(what) + " must be a number from " + std::to_string(lo) + " to " +
                          std::to_string(hi) + ": '" + text + "'"};
    return *value;
}

std::string TextProblem(const std::string& text, size_t maxChars, const char* what) {
    switch (CheckRecordText(text, maxChars)) {
        case TFieldTextCheck::Ok:
            return {};
        case TFieldTextCheck::TooLong:
            return std::string(what) + " is longer than " + std::to_string(maxChars) + " characters";
        case TFieldTextCheck::BadChar:
            return std::string(what) + " has characters outside Windows-1251";
    }
    return {};
}

// The configuration in memory.
struct TConfig {
    std::shared_ptr<TRequestStats> Stats = std::make_shared<TRequestStats>();
    TUsers Users;
    TProtoPortList Ports{Stats};
    TDeviceList Devices;
    TConfigLists Lists() { return {Users, Ports, Devices}; }
    // Held from the load to the save of a change.
    TFileLock Lock;
};

// Takes the file's lock for a change: a file that a running program holds
// is not changed, as the program would overwrite the change when it ends
// (and its changes would be lost to this one).
bool HoldForChange(TConfig& config, const std::string& path) {
    config.Lock = LockConfiguration(path);
    if (config.Lock.State() != TFileLock::TState::InUse) return true;
    std::cerr << "tovik-config: " << path << " is in use by a running program";
    if (config.Lock.Holder() > 0) std::cerr << " (process " << config.Lock.Holder() << ")";
    std::cerr << "; it is left unchanged. Close the program first.\n";
    return false;
}

// The system's reason, if any, belongs to the first message.
void PrintMessages(const std::vector<std::string>& messages, const std::string& reason) {
    for (size_t i = 0; i < messages.size(); ++i)
        std::cerr << "tovik-config: " << MessageWithReason(messages[i], i == 0 ? reason : std::string())
                  << '\n';
}

// Saves through the program's save code; the "app.cfg" copy is refreshed
// only when it exists and belongs to this file.
int Save(TConfig& config, const std::string& path) {
    const TConfigPlace place = ConfigPlaceOfFile(path);
    TSaveOptions options;
    options.Copy = place.Copy.empty() ? TCopyPolicy::Never : TCopyPolicy::IfExists;
    const auto result = SaveConfigurationFile(path, place.Copy, config.Lists(), options);
    PrintMessages(result.Messages, result.Reason);
    return result.Saved ? kOk : kFailed;
}

// Loads a file that is to be changed; only a clean load of a file no
// program holds may be changed.
bool LoadForChange(TConfig& config, const std::string& path) {
    if (!HoldForChange(config, path)) return false;
    const auto result = LoadConfigurationFile(path, config.Lists());
    if (result.Messages.empty()) return true;
    PrintMessages(result.Messages, result.Reason);
    std::cerr << "tovik-config: " << path << " did not load cleanly; it is left unchanged\n";
    return false;
}

// The decoded file as "show" prints it.
TJson ShowJson(const TLoadResult& result, TConfig& config) {
    TJson out;
    out["seed"] = result.Seed;
    out["messages"] = result.Messages;
    out["accounts"] = TJson::array();
    for (int i = 0; i < config.Users.Count(); ++i) {
        const TUser* u = config.Users.Get(i);
        out["accounts"].push_back({{"name", u->Name}, {"password", u->Password}, {"level", u->AccessLevel}});
    }
    out["ports"] = TJson::array();
    for (int i = 0; i < config.Ports.Count(); ++i) {
        const TProtoPort* p = config.Ports.Items(i);
        out["ports"].push_back({{"kind", p->Kind},
                                {"name", p->Name},
                                {"bus", p->Bus.load()},
                                {"reply_timeout", p->ReplyTimeout.load()},
                                {"request_interval", p->RequestInterval.load()},
                                {"id", p->Id}});
    }
    out["devices"] = TJson::array();
    for (int i = 0; i < config.Devices.Count(); ++i) {
        const auto* d = dynamic_cast<const TTovikDevice*>(config.Devices.GetDevice(i));
        if (!d) continue;
        TJson device = {{"kind_code", d->KindCode},
                        {"device_kind", d->GetDeviceKind()},
                        {"name", d->InstallationName},
                        {"port_id", d->PortId},
                        {"bus_address", d->BusAddress}};
        // Such records load, but nothing may be sent to the device.
        std::vector<std::string> problems;
        if (!d->HasKnownKind()) problems.push_back("unknown device kind");
        if (!IsValidBusAddress(d->BusAddress)) problems.push_back("bus number outside 1..250");
        if (!problems.empty()) device["problems"] = problems;
        device["layout"] = TJson::array();
        if (d->PanelLayout) {
            TMemoryStream block(d->PanelLayout->Bytes());
            for (int32_t value = 0; block.ReadI32(value);) device["layout"].push_back(value);
        }
        device["alarms"] = TJson::array();
        for (const auto& record : d->AlarmCache)
            device["alarms"].push_back(HexBytes(record.data(), record.size()));
        out["devices"].push_back(std::move(device));
    }
    return out;
}

// ---- the command line ----

// A command's words after the command itself.
struct TArgs {
    std::vector<std::string> Positional;
    std::map<std::string, std::string> Values;  // options with a value
    std::set<std::string> Flags;                // options without one
    bool Help = false;

    bool Flag(const std::string& name) const { return Flags.count(name) != 0; }
    std::optional<std::string> Value(const std::string& name) const {
        const auto it = Values.find(name);
        return it == Values.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
};

struct TCommand {
    const char* Name;
    const char* Synopsis;  // after "tovik-config "
    // The command's options: "--force", "--bus=" (a trailing "=" takes a value).
    std::initializer_list<const char*> Options;
    int (*Run)(const TArgs&);
    const char* Help;  // lines indented by six spaces in the help
};

// Options are recognised wherever they stand after the command, "--help"
// and "-h" too; "--" ends them, so "init -- --help" names a file "--help".
// An option's value that starts with "--" is given as --option=VALUE.
TArgs ParseArgs(const TCommand& command, const std::vector<std::string>& words) {
    TArgs args;
    bool onlyArguments = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        // A single dash starts no option: "-5" or "-x" is an argument.
        if (onlyArguments || (word.rfind("--", 0) != 0 && word != "-h")) {
            args.Positional.push_back(word);
            continue;
        }
        if (word == "--") {
            onlyArguments = true;
            continue;
        }
        // What follows the help option does not matter.
        if (word == "--help" || word == "-h") {
            args.Help = true;
            return args;
        }
        const size_t eq = word.find('=');
        const std::string name = word.substr(0, eq);
        std::optional<std::string> inlineValue;
        if (eq != std::string::npos) inlineValue = word.substr(eq + 1);
        std::optional<bool> takesValue;
        for (std::string_view option : command.Options) {
            const bool value = option.ends_with('=');
            if (option.substr(0, option.size() - (value ? 1 : 0)) == name) takesValue = value;
        }
        if (!takesValue) throw TUsageError{"unknown option '" + name + "' for " + command.Name};
        if (*takesValue) {
            if (inlineValue) {
                args.Values[name] = *inlineValue;
            } else if (i + 1 < words.size() && words[i + 1].rfind("--", 0) != 0) {
                args.Values[name] = words[++i];
            } else {
                throw TUsageError{name + " needs a value (one that starts with \"--\" as " + name +
                                  "=VALUE)"};
            }
        } else {
            if (inlineValue) throw TUsageError{name + " takes no value"};
            args.Flags.insert(name);
        }
    }
    return args;
}

// ---- the commands ----

int Show(const TArgs& a) {
    if (a.Positional.size() != 1) throw TUsageError{"show takes one FILE"};
    TConfig config;
    const auto result = LoadConfigurationFile(a.Positional[0], config.Lists());
    std::cout << JsonText(ShowJson(result, config), 2) << std::endl;
    if (result.Fatal) PrintMessages(result.Messages, result.Reason);
    return result.Fatal ? kFailed : kOk;
}

int Init(const TArgs& a) {
    if (a.Positional.size() != 1) throw TUsageError{"init takes one FILE"};
    const std::string& path = a.Positional[0];
    if (!a.Flag("--force") && FileKindOf(path) != TFileKind::Missing) {
        std::cerr << "tovik-config: " << path << " exists; use --force to replace it\n";
        return kFailed;
    }
    TConfig config;
    if (!HoldForChange(config, path)) return kFailed;
    config.Users.Add(std::make_unique<TUser>("default", kFullAccess, ""));
    return Save(config, path);
}

int AddAccount(const TArgs& a) {
    if (a.Positional.size() != 4) throw TUsageError{"add-account takes FILE NAME PASSWORD LEVEL"};
    const std::string &path = a.Positional[0], &name = a.Positional[1], &password = a.Positional[2];
    const auto level = static_cast<uint8_t>(ParseRange(a.Positional[3], 0, 2, "LEVEL"));
    std::string problem =
        name.empty() ? "the name is empty" : TextProblem(name, kMaxAccountTextLength, "the name");
    if (problem.empty()) problem = TextProblem(password, kMaxAccountTextLength, "the password");
    if (!problem.empty()) {
        std::cerr << "tovik-config: " << problem << '\n';
        return kFailed;
    }
    TConfig config;
    if (!LoadForChange(config, path)) return kFailed;
    if (config.Users.FindUser(name) >= 0) {
        std::cerr << "tovik-config: an account named '" << name << "' exists\n";
        return kFailed;
    }
    config.Users.Add(std::make_unique<TUser>(name, level, password));
    return Save(config, path);
}

int32_t Milliseconds(const TArgs& a, const std::string& option) {
    const auto value = a.Value(option);
    return value ? static_cast<int32_t>(ParseRange(*value, kMinMs, kMaxMs, option.c_str())) : kDefaultMs;
}

int AddPort(const TArgs& a) {
    if (a.Positional.size() != 2) throw TUsageError{"add-port takes FILE NAME"};
    const std::string &path = a.Positional[0], &name = a.Positional[1];
    const int32_t timeout = Milliseconds(a, "--reply-timeout");
    const int32_t interval = Milliseconds(a, "--interval");
    TConfig config;
    auto port = std::make_unique<TUartSettingsPort>(config.Stats);
    if (!port->SetPortName(name)) {
        std::cerr << "tovik-config: '" << name
                  << "' is not a serial line name (at most 9 characters: letters, digits, / _ - .)\n";
        return kFailed;
    }
    if (!LoadForChange(config, path)) return kFailed;
    if (config.Ports.ContainsId(port->Id)) {
        std::cerr << "tovik-config: the file already has the port '" << name
                  << "' (or one of the same identity)\n";
        return kFailed;
    }
    port->Bus = a.Flag("--bus");
    port->ReplyTimeout = timeout;
    port->RequestInterval = interval;
    config.Ports.Add(std::move(port));
    return Save(config, path);
}

uint8_t ParseKind(const std::string& text) {
    for (uint8_t k = 0; k < kDeviceKindCount; ++k)
        if (text == DeviceKindName(k)) return k;
    const auto value = ParseInt(text);
    if (value && *value >= 0 && *value < kDeviceKindCount) return static_cast<uint8_t>(*value);
    if (value && *value >= kFirstDeviceKindCode && *value < kFirstDeviceKindCode + kDeviceKindCount)
        return static_cast<uint8_t>(*value - kFirstDeviceKindCode);
    throw TUsageError{"unknown device kind '" + text + "'"};
}

int AddDevice(const TArgs& a) {
    const auto port = a.Value("--port"), name = a.Value("--name"), busText = a.Value("--bus");
    if (a.Positional.size() != 2 || !port || !busText)
        throw TUsageError{"add-device takes FILE KIND --port NAME --bus N"};
    const auto bus = static_cast<uint8_t>(ParseRange(*busText, kMinBusAddress, kMaxBusAddress, "--bus"));
    const std::string& path = a.Positional[0];
    const uint8_t kind = ParseKind(a.Positional[1]);
    auto device = std::make_unique<TTovikDevice>(kind);
    if (name) {
        const std::string problem = TextProblem(*name, kMaxInstallationNameLength, "the name");
        if (!problem.empty()) {
            std::cerr << "tovik-config: " << problem << '\n';
            return kFailed;
        }
        device->InstallationName = *name;
    }
    TConfig config;
    if (!LoadForChange(config, path)) return kFailed;
    if (!config.Ports.ContainsId(NameId(*port))) {
        std::cerr << "tovik-config: the file has no port '" << *port << "'\n";
        return kFailed;
    }
    device->PortId = NameId(*port);
    device->BusAddress = bus;
    config.Devices.Add(std::move(device));
    return Save(config, path);
}

// The last entry called `key`, else the entry at index `key`; -1 if none.
template <class TNameOf>
int Resolve(const std::string& key, int count, TNameOf nameOf) {
    for (int i = count - 1; i >= 0; --i)
        if (nameOf(i) == key) return i;
    const auto index = ParseInt(key);
    return index && *index >= 0 && *index < count ? static_cast<int>(*index) : -1;
}

int Remove(const std::string& what, const TArgs& a) {
    const auto& args = a.Positional;
    if (args.size() != 2) throw TUsageError{"remove-" + what + " takes FILE NAME|INDEX"};
    TConfig config;
    if (!LoadForChange(config, args[0])) return kFailed;
    int index = -1;
    if (what == "account") {
        index = Resolve(args[1], config.Users.Count(), [&](int i) { return config.Users.Get(i)->Name; });
        if (index >= 0 && config.Users.Count() == 1) {
            std::cerr << "tovik-config: Это последняя учётная запись и её удаление невозможно\n";
            return kFailed;
        }
        if (index >= 0) config.Users.Delete(index);
    } else if (what == "port") {
        index = Resolve(args[1], config.Ports.Count(), [&](int i) { return config.Ports.Items(i)->Name; });
        if (index >= 0) config.Ports.Delete(index);
    } else {
        index = Resolve(args[1], config.Devices.Count(),
                        [&](int i) { return config.Devices.GetDevice(i)->InstallationName; });
        if (index >= 0) config.Devices.DeleteDevice(index);
    }
    if (index < 0) {
        std::cerr << "tovik-config: no " << what << " '" << args[1] << "'\n";
        return kFailed;
    }
    return Save(config, args[0]);
}

int RemoveAccount(const TArgs& a) {
    return Remove("account", a);
}
int RemovePort(const TArgs& a) {
    return Remove("port", a);
}
int RemoveDevice(const TArgs& a) {
    return Remove("device", a);
}

constexpr const char* kRemoveHelp =
    "Removes the last entry with that name, or else the entry at that index\n"
    "(counting from 0, in the order \"show\" lists them). The last account\n"
    "cannot be removed.";

const TCommand kCommands[] = {
    {"show",
     "show FILE",
     {},
     Show,
     "Prints the file as JSON: {\"seed\", \"messages\", \"accounts\", \"ports\",\n"
     "\"devices\"}. \"messages\" are the program's load messages. A device with\n"
     "an unknown kind or a bus number outside 1..250 lists them under\n"
     "\"problems\": such a record loads, but nothing may be sent to it. Exits 1\n"
     "when the load was fatal."},
    {"init",
     "init FILE [--force]",
     {"--force"},
     Init,
     "Writes a new file with one account \"default\" (full access, empty\n"
     "password), no ports and no devices. Refuses to replace an existing\n"
     "file without --force."},
    {"add-account",
     "add-account FILE NAME PASSWORD LEVEL",
     {},
     AddAccount,
     "LEVEL: 0 service, 1 full access, 2 read-only. Name and password: at\n"
     "most 15 Windows-1251 characters; the name must not be empty or taken."},
    {"add-port",
     "add-port FILE NAME [--bus] [--reply-timeout MS] [--interval MS]",
     {"--bus", "--reply-timeout=", "--interval="},
     AddPort,
     "A serial port: NAME is the line under /dev (\"ttyS0\", \"ttyUSB0\"), at\n"
     "most 9 characters. --bus turns on bus mode (several relays on one\n"
     "RS-485 line). Reply time-out and request interval: 100..3600000 ms,\n"
     "100 when not given."},
    {"add-device",
     "add-device FILE KIND --port NAME --bus N [--name TEXT]",
     {"--port=", "--bus=", "--name="},
     AddDevice,
     "KIND: 0 \"Товик\", 1 \"Товик ModBus\", 2 \"ТовикМ\", 3 \"ТовикМ ModBus\" (or\n"
     "the kind code 193..196, or the name). The port must be in the file.\n"
     "N: bus number 1..250. TEXT: installation name, at most 40 Windows-1251\n"
     "characters; the kind's name when not given."},
    {"remove-account", "remove-account FILE NAME|INDEX", {}, RemoveAccount, kRemoveHelp},
    {"remove-port", "remove-port FILE NAME|INDEX", {}, RemovePort, kRemoveHelp},
    {"remove-device", "remove-device FILE NAME|INDEX", {}, RemoveDevice, kRemoveHelp},
};

const TCommand* FindCommand(const std::string& name) {
    for (const TCommand& c : kCommands)
        if (name == c.Name) return &c;
    return nullptr;
}

void AppendIndented(std::string& out, const char* text, size_t indent) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) out += std::string(indent, ' ') + line + '\n';
}

constexpr const char* kExitStatus = "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

std::string HelpText() {
    std::string out =
        "Usage: tovik-config COMMAND FILE [ARGUMENTS]\n"
        "\n"
        "Creates, inspects and edits configuration files of the Tovik service tool\n"
        "(\"application.cfg\" beside the program where it may write there, else in\n"
        "~/.config/tovik/; the About box names it). Changes are written exactly as\n"
        "the program writes them: a new file beside the old one, flushed to disk\n"
        "and renamed over it. When FILE is named \"application.cfg\" and an\n"
        "\"app.cfg\" copy exists beside it, the copy is refreshed too, because the\n"
        "program replaces \"application.cfg\" by \"app.cfg\" when it starts. A file\n"
        "that a running program holds is not changed: close the program first (it\n"
        "saves what it has). Serial lines are never opened.\n"
        "\n"
        "Commands:\n";
    for (const TCommand& c : kCommands) {
        out += std::string("  ") + c.Synopsis + '\n';
        // The three removals share one text, shown once after the last.
        if (c.Help == kRemoveHelp && &c != &kCommands[std::size(kCommands) - 1]) continue;
        AppendIndented(out, c.Help, 6);
    }
    out +=
        "\n"
        "Options may stand anywhere after the command. \"tovik-config COMMAND\n"
        "--help\" prints the command's help and does nothing else. A value that\n"
        "starts with \"--\" is given as --option=VALUE, and after \"--\" every word\n"
        "is an argument: \"tovik-config init -- --help\" makes a file \"--help\".\n"
        "\"tovik-config --version\" prints the version.\n"
        "\n"
        "A file whose load reported any message is not changed: fix it or start\n"
        "over with \"init --force\".\n"
        "\n";
    out += kExitStatus;
    out +=
        "\n"
        "First configuration:\n"
        "  tovik-config init application.cfg\n"
        "  tovik-config add-port application.cfg ttyUSB0 --bus\n"
        "  tovik-config add-device application.cfg 3 --port ttyUSB0 --bus 1 --name \"Насосная 1\"\n";
    return out;
}

std::string CommandHelp(const TCommand& c) {
    std::string out = std::string("Usage: tovik-config ") + c.Synopsis + "\n\n";
    AppendIndented(out, c.Help, 2);
    out += "\n";
    out += kExitStatus;
    out += "More: tovik-config --help.\n";
    return out;
}

int Run(int argc, char** argv) {
    UseUtf8Console();
    const std::vector<std::string> args = ProgramArguments(argc, argv);
    const std::vector<std::string> words(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (words.empty()) throw TUsageError{"no command"};
    const std::string& first = words[0];
    // "tovik-config --help [COMMAND]"
    if (first == "--help" || first == "-h" || first == "help") {
        if (words.size() < 2) {
            std::cout << HelpText();
            return kOk;
        }
        const TCommand* command = FindCommand(words[1]);
        if (!command) throw TUsageError{"unknown command '" + words[1] + "'"};
        std::cout << CommandHelp(*command);
        return kOk;
    }
    if (first == "--version") {
        std::cout << VersionLine("tovik-config");
        return kOk;
    }
    if (first.rfind("--", 0) == 0)
        throw TUsageError{"the command comes first, options after it: '" + first + "'"};
    const TCommand* command = FindCommand(first);
    if (!command) throw TUsageError{"unknown command '" + first + "'"};
    try {
        const TArgs args = ParseArgs(*command, {words.begin() + 1, words.end()});
        if (args.Help) {
            std::cout << CommandHelp(*command);
            return kOk;
        }
        RegisterBuiltInKinds();
        RegisterUartSettingsPortClass();  // never touch the machine's lines
        return command->Run(args);
    } catch (TUsageError& e) {
        e.Help = std::string("tovik-config ") + command->Name + " --help";
        throw;
    }
}

}  // namespace
}  // namespace tovik::tool

int main(int argc, char** argv) {
    try {
        return tovik::tool::Run(argc, argv);
    } catch (const tovik::tool::TUsageError& e) {
        std::cerr << "tovik-config: " << e.Text << "\nTry '" << e.Help << "'.\n";
        return tovik::tool::kUsage;
    } catch (const std::exception& e) {
        std::cerr << "tovik-config: " << e.what() << '\n';
        return tovik::tool::kFailed;
    }
}
