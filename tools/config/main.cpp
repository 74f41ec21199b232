// tovik-config: creates, inspects and edits configuration files
// ("application.cfg") through the application's own load and save code.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Json.h"
#include "app/Configuration.h"
#include "app/Device.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "ports/ProtoUART.h"

namespace tovik::tool {
namespace {

constexpr const char* kHelp = R"(Usage: tovik-config COMMAND FILE [ARGUMENTS]

Creates, inspects and edits configuration files of the Tovik service tool
("application.cfg" beside the program). Changes are written exactly as the
program writes them at shut-down: a new file beside the old one, flushed to
disk and renamed over it. When FILE is named "application.cfg" and an
"app.cfg" copy exists beside it, the copy is refreshed too, because the
program replaces "application.cfg" by "app.cfg" when it starts. Edit the
file only while the program is not running: it rewrites the file when it
ends. Serial lines are never opened.

Commands:
  show FILE
      Prints the file as JSON: {"seed", "messages", "accounts", "ports",
      "devices"}. "messages" are the program's load messages. A device with
      an unknown kind or a bus number outside 1..250 lists them under
      "problems": such a record loads, but nothing may be sent to it. Exits 1
      when the load was fatal.
  init FILE [--force]
      Writes a new file with one account "default" (full access, empty
      password), no ports and no devices. Refuses to replace an existing
      file without --force.
  add-account FILE NAME PASSWORD LEVEL
      LEVEL: 0 service, 1 full access, 2 read-only. Name and password: at
      most 15 Windows-1251 characters; the name must not be empty or taken.
  add-port FILE NAME [--bus] [--reply-timeout MS] [--interval MS]
      A serial port: NAME is the line under /dev ("ttyS0", "ttyUSB0"), at
      most 9 characters. --bus turns on bus mode (several relays on one
      RS-485 line). Reply time-out and request interval: 100..3600000 ms,
      100 when not given.
  add-device FILE KIND --port NAME --bus N [--name TEXT]
      KIND: 0 "Товик", 1 "Товик ModBus", 2 "ТовикМ", 3 "ТовикМ ModBus" (or
      the kind code 193..196, or the name). The port must be in the file.
      N: bus number 1..250. TEXT: installation name, at most 40 Windows-1251
      characters; the kind's name when not given.
  remove-account FILE NAME|INDEX
  remove-port FILE NAME|INDEX
  remove-device FILE NAME|INDEX
      Removes the last entry with that name, or else the entry at that index
      (counting from 0, in the order "show" lists them). The last account
      cannot be removed.

A file whose load reported any message is not changed: fix it or start
over with "init --force".

Exit status: 0 success, 1 failure, 2 wrong usage.

First configuration:
  tovik-config init application.cfg
  tovik-config add-port application.cfg ttyUSB0 --bus
  tovik-config add-device application.cfg 3 --port ttyUSB0 --bus 1 --name "Насосная 1"
)";

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int32_t kMinMs = 100;
constexpr int32_t kMaxMs = 3600000;
constexpr int32_t kDefaultMs = 100;

struct TUsageError {
    std::string Text;
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

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
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
};

// The system's reason, if any, belongs to the first message.
void PrintMessages(const std::vector<std::string>& messages, const std::string& reason) {
    for (size_t i = 0; i < messages.size(); ++i)
        std::cerr << "tovik-config: " << MessageWithReason(messages[i], i == 0 ? reason : std::string())
                  << '\n';
}

// Saves through the program's save code; the "app.cfg" copy is refreshed
// only when it exists and belongs to this file.
int Save(TConfig& config, const std::string& path) {
    TSaveOptions options;
    options.Copy = BaseName(path) == kConfigFileName ? TCopyPolicy::IfExists : TCopyPolicy::Never;
    const auto result =
        SaveConfigurationFile(path, JoinPath(DirName(path), kConfigCopyName), config.Lists(), options);
    PrintMessages(result.Messages, result.Reason);
    return result.Saved ? kOk : kFailed;
}

// Loads a file that is to be changed; only a clean load may be changed.
bool LoadForChange(TConfig& config, const std::string& path) {
    const auto result = LoadConfigurationFile(path, config.Lists());
    if (result.Messages.empty()) return true;
    PrintMessages(result.Messages, result.Reason);
    std::cerr << "tovik-config: " << path << " did not load cleanly; it is left unchanged\n";
    return false;
}

void WriteJson(std::ostream& out, const TLoadResult& result, TConfig& config) {
    out << "{\n  \"seed\": " << result.Seed << ",\n  \"messages\": [";
    for (size_t i = 0; i < result.Messages.size(); ++i)
        out << (i ? ", " : "") << JsonString(result.Messages[i]);
    out << "],\n  \"accounts\": [";
    for (int i = 0; i < config.Users.Count(); ++i) {
        const TUser* u = config.Users.Get(i);
        out << (i ? "," : "") << "\n    {\"name\": " << JsonString(u->Name)
            << ", \"password\": " << JsonString(u->Password) << ", \"level\": " << int(u->AccessLevel) << "}";
    }
    out << (config.Users.Count() ? "\n  " : "") << "],\n  \"ports\": [";
    for (int i = 0; i < config.Ports.Count(); ++i) {
        const TProtoPort* p = config.Ports.Items(i);
        out << (i ? "," : "") << "\n    {\"kind\": " << p->Kind << ", \"name\": " << JsonString(p->Name)
            << ", \"bus\": " << (p->Bus.load() ? "true" : "false")
            << ", \"reply_timeout\": " << p->ReplyTimeout.load()
            << ", \"request_interval\": " << p->RequestInterval.load() << ", \"id\": " << p->Id << "}";
    }
    out << (config.Ports.Count() ? "\n  " : "") << "],\n  \"devices\": [";
    for (int i = 0; i < config.Devices.Count(); ++i) {
        const auto* d = dynamic_cast<const TTovikDevice*>(config.Devices.GetDevice(i));
        if (!d) continue;
        out << (i ? "," : "") << "\n    {\"kind_code\": " << d->KindCode
            << ", \"device_kind\": " << int(d->GetDeviceKind())
            << ", \"name\": " << JsonString(d->InstallationName) << ", \"port_id\": " << d->PortId
            << ", \"bus_address\": " << int(d->BusAddress);
        // Such records load, but nothing may be sent to the device.
        std::vector<std::string> problems;
        if (!d->HasKnownKind()) problems.push_back("unknown device kind");
        if (!IsValidBusAddress(d->BusAddress)) problems.push_back("bus number outside 1..250");
        if (!problems.empty()) {
            out << ", \"problems\": [";
            for (size_t k = 0; k < problems.size(); ++k) out << (k ? ", " : "") << JsonString(problems[k]);
            out << "]";
        }
        out << ", \"layout\": [";
        if (d->PanelLayout) {
            TMemoryStream block(d->PanelLayout->Bytes());
            int32_t value = 0;
            for (bool first = true; block.ReadI32(value); first = false) out << (first ? "" : ", ") << value;
        }
        out << "], \"alarms\": [";
        for (size_t k = 0; k < d->AlarmCache.size(); ++k)
            out << (k ? ", " : "") << '"' << HexBytes(d->AlarmCache[k].data(), d->AlarmCache[k].size())
                << '"';
        out << "]}";
    }
    out << (config.Devices.Count() ? "\n  " : "") << "]\n}\n";
}

int Show(const std::vector<std::string>& args) {
    if (args.size() != 1) throw TUsageError{"show takes one FILE"};
    TConfig config;
    const auto result = LoadConfigurationFile(args[0], config.Lists());
    std::ostringstream out;
    WriteJson(out, result, config);
    std::cout << out.str() << std::flush;
    if (result.Fatal) PrintMessages(result.Messages, result.Reason);
    return result.Fatal ? kFailed : kOk;
}

int Init(const std::vector<std::string>& args) {
    bool force = false;
    std::vector<std::string> positional;
    for (const auto& a : args) {
        if (a == "--force")
            force = true;
        else
            positional.push_back(a);
    }
    if (positional.size() != 1) throw TUsageError{"init takes one FILE"};
    const std::string& path = positional[0];
    if (!force && ::access(path.c_str(), F_OK) == 0) {
        std::cerr << "tovik-config: " << path << " exists; use --force to replace it\n";
        return kFailed;
    }
    TConfig config;
    config.Users.Add(std::make_unique<TUser>("default", kFullAccess, ""));
    return Save(config, path);
}

int AddAccount(const std::vector<std::string>& args) {
    if (args.size() != 4) throw TUsageError{"add-account takes FILE NAME PASSWORD LEVEL"};
    const std::string &path = args[0], &name = args[1], &password = args[2];
    const auto level = static_cast<uint8_t>(ParseRange(args[3], 0, 2, "LEVEL"));
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

int AddPort(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    bool bus = false;
    int32_t timeout = kDefaultMs, interval = kDefaultMs;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--bus") {
            bus = true;
        } else if (args[i] == "--reply-timeout" || args[i] == "--interval") {
            if (i + 1 >= args.size()) throw TUsageError{args[i] + " needs a value"};
            const auto value = static_cast<int32_t>(ParseRange(args[i + 1], kMinMs, kMaxMs, args[i].c_str()));
            (args[i] == "--interval" ? interval : timeout) = value;
            ++i;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) throw TUsageError{"add-port takes FILE NAME"};
    const std::string &path = positional[0], &name = positional[1];
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
    port->Bus = bus;
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

int AddDevice(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::optional<std::string> port, name;
    std::optional<uint8_t> bus;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--port" || a == "--bus" || a == "--name") {
            if (i + 1 >= args.size()) throw TUsageError{a + " needs a value"};
            const std::string& v = args[++i];
            if (a == "--port") port = v;
            if (a == "--name") name = v;
            if (a == "--bus") bus = static_cast<uint8_t>(ParseRange(v, 1, 250, "--bus"));
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2 || !port || !bus)
        throw TUsageError{"add-device takes FILE KIND --port NAME --bus N"};
    const uint8_t kind = ParseKind(positional[1]);
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
    if (!LoadForChange(config, positional[0])) return kFailed;
    if (!config.Ports.ContainsId(NameId(*port))) {
        std::cerr << "tovik-config: the file has no port '" << *port << "'\n";
        return kFailed;
    }
    device->PortId = NameId(*port);
    device->BusAddress = *bus;
    config.Devices.Add(std::move(device));
    return Save(config, positional[0]);
}

// The last entry called `key`, else the entry at index `key`; -1 if none.
template <class TNameOf>
int Resolve(const std::string& key, int count, TNameOf nameOf) {
    for (int i = count - 1; i >= 0; --i)
        if (nameOf(i) == key) return i;
    const auto index = ParseInt(key);
    return index && *index >= 0 && *index < count ? static_cast<int>(*index) : -1;
}

int Remove(const std::string& what, const std::vector<std::string>& args) {
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

int Run(int argc, char** argv) {
    if (argc < 2) throw TUsageError{"no command"};
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kHelp;
        return kOk;
    }
    const std::vector<std::string> args(argv + 2, argv + argc);
    RegisterBuiltInKinds();
    RegisterUartSettingsPortClass();  // never touch the machine's lines
    if (command == "show") return Show(args);
    if (command == "init") return Init(args);
    if (command == "add-account") return AddAccount(args);
    if (command == "add-port") return AddPort(args);
    if (command == "add-device") return AddDevice(args);
    if (command == "remove-account") return Remove("account", args);
    if (command == "remove-port") return Remove("port", args);
    if (command == "remove-device") return Remove("device", args);
    throw TUsageError{"unknown command '" + command + "'"};
}

}  // namespace
}  // namespace tovik::tool

int main(int argc, char** argv) {
    try {
        return tovik::tool::Run(argc, argv);
    } catch (const tovik::tool::TUsageError& e) {
        std::cerr << "tovik-config: " << e.Text << "\nTry 'tovik-config --help'.\n";
        return tovik::tool::kUsage;
    } catch (const std::exception& e) {
        std::cerr << "tovik-config: " << e.what() << '\n';
        return tovik::tool::kFailed;
    }
}
