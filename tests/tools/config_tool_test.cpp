// Runs the built tovik-config the way an operator would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "app/ConfigTestUtil.h"
#include "app/Configuration.h"
#include "app/UartSettingsPort.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using Json = nlohmann::json;

struct Run {
    int Status = -1;
    std::string Out;
};

std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A shell command's exit status and output.
Run Shell(const std::string& cmd) {
    Run r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.Out.append(buf, n);
    const int status = ::pclose(p);
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// Runs the tool in `dir` (the current directory when empty), with its
// standard error after its output.
Run Tool(const std::vector<std::string>& args, const std::string& dir = "") {
    std::string cmd = dir.empty() ? "" : "cd " + Quote(dir) + " && ";
    cmd += Quote(TOVIK_BINARY_DIR "/bin/tovik-config");
    for (const auto& a : args) cmd += " " + Quote(a);
    return Shell(cmd + " 2>&1");
}

class ConfigTool : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterBuiltInKinds();
        RegisterUartSettingsPortClass();  // reading a file here never opens a line
        File = Dir.File(kConfigFileName);
    }
    test::TempDir Dir;
    std::string File;
};

TEST_F(ConfigTool, HelpDocumentsEveryCommand) {
    const auto r = Tool({"--help"});
    EXPECT_EQ(r.Status, 0);
    for (const char* c :
         {"show", "init", "add-account", "add-port", "add-device", "remove-account", "remove-port",
          "remove-device", "--force", "--reply-timeout", "--interval", "--name", "app.cfg"})
        EXPECT_NE(r.Out.find(c), std::string::npos) << c;
    EXPECT_EQ(Tool({}).Status, 2);
    EXPECT_EQ(Tool({"frobnicate", File}).Status, 2);
}

TEST_F(ConfigTool, InitShowAndEdit) {
    ASSERT_EQ(Tool({"init", File}).Status, 0);
    EXPECT_EQ(Tool({"init", File}).Status, 1);  // no overwrite without --force
    EXPECT_EQ(Tool({"init", File, "--force"}).Status, 0);

    auto r = Tool({"show", File});
    EXPECT_EQ(r.Status, 0);
    Json shown = Json::parse(r.Out);
    EXPECT_EQ(shown["messages"], Json::array());
    EXPECT_EQ(shown["accounts"], Json::array({{{"name", "default"}, {"password", ""}, {"level", 1}}}));
    EXPECT_EQ(shown["ports"], Json::array());
    EXPECT_EQ(shown["devices"], Json::array());
    EXPECT_TRUE(shown["seed"].is_number_integer());

    ASSERT_EQ(Tool({"add-account", File, "сервис", "Пар\"оль\\", "0"}).Status, 0);
    ASSERT_EQ(
        Tool({"add-port", File, "ttyUSB0", "--bus", "--reply-timeout", "250", "--interval", "1000"}).Status,
        0);
    ASSERT_EQ(Tool({"add-port", File, "ttyS1"}).Status, 0);
    ASSERT_EQ(
        Tool({"add-device", File, "3", "--port", "ttyUSB0", "--bus", "17", "--name", "Насосная №1"}).Status,
        0);
    ASSERT_EQ(Tool({"add-device", File, "ТовикМ", "--port", "ttyS1", "--bus", "2"}).Status, 0);
    ASSERT_EQ(Tool({"add-device", File, "193", "--port", "ttyS1", "--bus", "250"}).Status, 0);

    r = Tool({"show", File});
    EXPECT_EQ(r.Status, 0);
    // The texts as UTF-8, quotes and backslashes escaped as JSON has them.
    EXPECT_NE(r.Out.find(R"("password": "Пар\"оль\\")"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("\"name\": \"Насосная №1\""), std::string::npos) << r.Out;
    shown = Json::parse(r.Out);
    EXPECT_EQ(shown["accounts"][1], (Json{{"name", "сервис"}, {"password", "Пар\"оль\\"}, {"level", 0}}));
    const int32_t usb = NameId("ttyUSB0"), s1 = NameId("ttyS1");
    EXPECT_EQ(shown["ports"], Json::array({{{"kind", 193},
                                            {"name", "ttyUSB0"},
                                            {"bus", true},
                                            {"reply_timeout", 250},
                                            {"request_interval", 1000},
                                            {"id", usb}},
                                           {{"kind", 193},
                                            {"name", "ttyS1"},
                                            {"bus", false},
                                            {"reply_timeout", 100},
                                            {"request_interval", 100},
                                            {"id", s1}}}));
    const auto device = [](int code, int kind, const char* name, int32_t port, int bus) {
        return Json{{"kind_code", code},      {"device_kind", kind}, {"name", name},
                    {"port_id", port},        {"bus_address", bus},  {"layout", Json::array()},
                    {"alarms", Json::array()}};
    };
    EXPECT_EQ(shown["devices"],
              Json::array({device(196, 3, "Насосная №1", usb, 17), device(195, 2, "ТовикМ", s1, 2),
                           device(193, 0, "Товик", s1, 250)}));
    // The members keep their order.
    EXPECT_LT(r.Out.find("\"kind_code\""), r.Out.find("\"device_kind\""));
    EXPECT_LT(r.Out.find("\"seed\""), r.Out.find("\"messages\""));

    // Removal by name, then by index.
    EXPECT_EQ(Tool({"remove-device", File, "Насосная №1"}).Status, 0);
    EXPECT_EQ(Tool({"remove-device", File, "1"}).Status, 0);
    EXPECT_EQ(Tool({"remove-port", File, "ttyUSB0"}).Status, 0);
    EXPECT_EQ(Tool({"remove-account", File, "0"}).Status, 0);
    EXPECT_EQ(Tool({"remove-account", File, "сервис"}).Status, 1);  // the last account stays
    EXPECT_EQ(Tool({"remove-device", File, "nothing"}).Status, 1);

    test::Config c;
    EXPECT_TRUE(LoadConfigurationFile(File, c.Lists()).Messages.empty());
    ASSERT_EQ(c.Users.Count(), 1);
    EXPECT_EQ(c.Users.Get(0)->Name, "сервис");
    ASSERT_EQ(c.Ports.Count(), 1);
    EXPECT_EQ(c.Ports.Items(0)->Name, "ttyS1");
    ASSERT_EQ(c.Devices.Count(), 1);
    EXPECT_EQ(c.Devices.GetDevice(0)->InstallationName, "ТовикМ");
}

TEST_F(ConfigTool, RefusedInputLeavesTheFileAsItWas) {
    ASSERT_EQ(Tool({"init", File}).Status, 0);
    ASSERT_EQ(Tool({"add-port", File, "ttyS0"}).Status, 0);
    const Bytes before = test::ReadBytes(File);
    const std::vector<std::vector<std::string>> refused = {
        {"add-account", File, "шестнадцатьбукв!", "", "1"},  // 16 characters
        {"add-account", File, "user", std::string(16, 'p'), "1"},
        {"add-account", File, "emoji😀", "", "1"},
        {"add-account", File, "", "", "1"},
        {"add-account", File, "default", "x", "1"},  // taken
        {"add-account", File, "user", "", "3"},
        {"add-port", File, "ttyUSB01234"},  // ten characters
        {"add-port", File, "../sda"},
        {"add-port", File, "ttyS0"},  // already there
        {"add-port", File, "ttyS5", "--interval", "99"},
        {"add-device", File, "4", "--port", "ttyS0", "--bus", "1"},
        {"add-device", File, "0", "--port", "ttyS9", "--bus", "1"},
        {"add-device", File, "0", "--port", "ttyS0", "--bus", "251"},
        {"add-device", File, "0", "--port", "ttyS0", "--bus", "1", "--name", std::string(41, 'x')},
        {"add-device", File, "0", "--port", "ttyS0", "--bus", "1", "--name", "Ω-насос"},
        {"add-device", File, "0", "--bus", "1"},
    };
    for (const auto& args : refused) {
        const auto r = Tool(args);
        EXPECT_NE(r.Status, 0) << args[1] << " " << args[2];
        EXPECT_EQ(test::ReadBytes(File), before) << args[2];
    }
}

TEST_F(ConfigTool, DamagedFilesAreShownButNeverChanged) {
    EXPECT_EQ(Tool({"show", File}).Status, 1);  // missing
    EXPECT_NE(Tool({"show", File}).Out.find(kMsgConfigCannotOpen), std::string::npos);

    test::WriteBytes(File, {0x80, 0x95, 0x43, 0x8B, 0, 0, 0, 0});
    auto r = Tool({"show", File});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Out.find(kMsgConfigDamaged), std::string::npos);
    EXPECT_EQ(Tool({"add-port", File, "ttyS0"}).Status, 1);
    EXPECT_EQ(test::ReadBytes(File).size(), 8u);

    // A failed ports section is not fatal, but a change would drop the ports.
    const Bytes body = test::Concat({test::Section(test::Payload(1, test::AccountRecord("default", "", 1))),
                                     test::Section(test::Payload(1, test::UartRecord("ttyS0", 0, 1, 1)), 1),
                                     test::Section(test::Payload(0))});
    test::WriteBytes(File, test::FileBytes(body));
    r = Tool({"show", File});
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Out.find(kMsgPortsLoadFailed), std::string::npos);
    EXPECT_EQ(Tool({"add-account", File, "x", "", "1"}).Status, 1);
    EXPECT_EQ(test::ReadBytes(File), test::FileBytes(body));
}

// The program replaces "application.cfg" by "app.cfg" when it starts, so a
// change must reach an existing copy too; without a copy none is made.
TEST_F(ConfigTool, ChangesReachAnExistingAppCfg) {
    ASSERT_EQ(Tool({"init", File}).Status, 0);
    EXPECT_FALSE(fs::exists(Dir.File(kConfigCopyName)));

    fs::copy_file(File, Dir.File(kConfigCopyName));
    ASSERT_EQ(Tool({"add-port", File, "ttyS2"}).Status, 0);
    EXPECT_EQ(test::ReadBytes(Dir.File(kConfigCopyName)), test::ReadBytes(File));

    // What the next start sees.
    EXPECT_TRUE(MigratePreviousConfiguration(Dir.Path).TookOver);
    test::Config c;
    EXPECT_TRUE(LoadConfiguration(Dir.Path, c.Lists()).Messages.empty());
    ASSERT_EQ(c.Ports.Count(), 1);
    EXPECT_EQ(c.Ports.Items(0)->Name, "ttyS2");

    // A file of another name has no such copy.
    const std::string other = Dir.File("other.cfg");
    ASSERT_EQ(Tool({"init", other}).Status, 0);
    fs::copy_file(File, Dir.File(kConfigCopyName));
    const Bytes copy = test::ReadBytes(Dir.File(kConfigCopyName));
    ASSERT_EQ(Tool({"add-port", other, "ttyS3"}).Status, 0);
    EXPECT_EQ(test::ReadBytes(Dir.File(kConfigCopyName)), copy);
}

// Records that load but may not be sent to are flagged; a FIFO given as the
// file is refused at once, with the reason.
TEST_F(ConfigTool, ShowFlagsDevicesAndRefusesAFifo) {
    const Bytes body = test::Concat(
        {test::Section(test::Payload(1, test::AccountRecord("default", "", 1))),
         test::Section(test::Payload(0)),
         test::Section(test::Payload(6, test::Concat({test::DeviceRecord(193, {}, 0, 0, "a", 0, 0),
                                                      test::DeviceRecord(193, {}, 0, 7, "b", 9, 0),
                                                      test::DeviceRecord(193, {}, 0, 250, "c", 0, 0),
                                                      test::DeviceRecord(193, {}, 0, 251, "d", 0, 0),
                                                      test::DeviceRecord(193, {}, 0, 255, "e", 9, 0),
                                                      test::DeviceRecord(193, {}, 0, 1, "f", 0, 0)})))});
    test::WriteBytes(File, test::FileBytes(body));
    const auto r = Tool({"show", File});
    EXPECT_EQ(r.Status, 0) << r.Out;
    const Json devices = Json::parse(r.Out)["devices"];
    ASSERT_EQ(devices.size(), 6u) << r.Out;
    const Json bus = Json::array({"bus number outside 1..250"});
    const std::vector<std::pair<int, Json>> expected = {
        {0, bus},
        {7, Json::array({"unknown device kind"})},
        {250, nullptr},
        {251, bus},
        {255, Json::array({"unknown device kind", "bus number outside 1..250"})},
        {1, nullptr},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(devices[i]["bus_address"], expected[i].first);
        if (expected[i].second.is_null())
            EXPECT_FALSE(devices[i].contains("problems")) << devices[i];
        else
            EXPECT_EQ(devices[i]["problems"], expected[i].second) << devices[i];
    }

    const std::string fifo = Dir.File("fifo.cfg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto refused = Tool({"show", fifo});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Out.find("Невозможно открыть файл конфигурации.\nэто не обычный файл, а канал (FIFO)"),
              std::string::npos)
        << refused.Out;
}

// Options are recognised anywhere after the command: "--help" prints the
// command's help and does nothing, an unknown option is a usage error, and
// "--" ends the options so that a file may be called "--help".
TEST_F(ConfigTool, OptionsAfterTheCommand) {
    auto r = Tool({"init", "--help"}, Dir.Path);
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(r.Out.rfind("Usage: tovik-config init FILE [--force]\n", 0), 0u) << r.Out;
    EXPECT_EQ(r.Out.find("add-account"), std::string::npos) << r.Out;  // not the whole help
    EXPECT_TRUE(fs::is_empty(Dir.Path));

    for (const char* command : {"show", "init", "add-account", "add-port", "add-device", "remove-account",
                                "remove-port", "remove-device"}) {
        for (const std::vector<std::string>& args : {std::vector<std::string>{command, File, "-h"},
                                                     {command, "--help", File, "x", "--unknown"},
                                                     {"--help", command}}) {
            r = Tool(args, Dir.Path);
            EXPECT_EQ(r.Status, 0) << command;
            EXPECT_EQ(r.Out.rfind(std::string("Usage: tovik-config ") + command + " ", 0), 0u) << r.Out;
        }
    }
    EXPECT_TRUE(fs::is_empty(Dir.Path));

    r = Tool({"init", File, "--forse"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Out.find("unknown option '--forse' for init"), std::string::npos) << r.Out;
    EXPECT_FALSE(fs::exists(File));
    r = Tool({"--force", "init", File});
    EXPECT_EQ(r.Status, 2);
    EXPECT_FALSE(fs::exists(File));

    ASSERT_EQ(Tool({"init", "--", "--help"}, Dir.Path).Status, 0);
    test::Config made;
    EXPECT_TRUE(LoadConfigurationFile(Dir.File("--help"), made.Lists()).Messages.empty());

    // Options before, between and after the arguments; a word that looks
    // like an option is never a value, unless given with "=".
    ASSERT_EQ(Tool({"init", "--force", File}).Status, 0);
    ASSERT_EQ(Tool({"add-port", "--reply-timeout", "300", File, "--bus", "ttyS0"}).Status, 0);
    const Bytes before = test::ReadBytes(File);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"add-port", File, "ttyS1", "--reply-timeout", "--bus"},
          {"add-device", File, "0", "--port", "ttyS0", "--bus", "1", "--name", "--x"},
          {"add-device", File, "0", "--port", "ttyS0", "--bus", "1", "--bogus"},
          {"add-port", File, "ttyS1", "--bus=yes"},
          {"show", File, "--force"}}) {
        r = Tool(args);
        EXPECT_EQ(r.Status, 2) << args.back() << ": " << r.Out;
        EXPECT_EQ(test::ReadBytes(File), before);
    }
    ASSERT_EQ(Tool({"add-device", File, "--bus=1", "0", "--name=--x", "--port", "ttyS0"}).Status, 0);
    // A single dash starts no option.
    ASSERT_EQ(Tool({"add-account", File, "-u", "-p", "2"}).Status, 0);
    test::Config c;
    ASSERT_TRUE(LoadConfigurationFile(File, c.Lists()).Messages.empty());
    ASSERT_EQ(c.Ports.Count(), 1);
    EXPECT_TRUE(c.Ports.Items(0)->Bus.load());
    EXPECT_EQ(c.Ports.Items(0)->ReplyTimeout.load(), 300);
    ASSERT_EQ(c.Devices.Count(), 1);
    EXPECT_EQ(c.Devices.GetDevice(0)->InstallationName, "--x");
    ASSERT_EQ(c.Users.Count(), 2);
    EXPECT_EQ(c.Users.Get(1)->Name, "-u");
    EXPECT_EQ(c.Users.Get(1)->Password, "-p");
}

// The configuration tool and the simulator need no Qt; tovik-cli takes only
// QtCore, for the user's locale.
TEST(ToolLinks, NoWidgetsInTheTools) {
    const auto libraries = [](const std::string& program) {
        return Shell("ldd " + Quote(TOVIK_BINARY_DIR "/bin/" + program)).Out;
    };
    for (const char* program : {"tovik-config", "tovik-sim"}) {
        const std::string libs = libraries(program);
        ASSERT_NE(libs.find("libc.so"), std::string::npos) << program << ": " << libs;
        EXPECT_EQ(libs.find("libQt"), std::string::npos) << program << ": " << libs;
    }
    const std::string cli = libraries("tovik-cli");
    ASSERT_NE(cli.find("libQt6Core.so"), std::string::npos) << cli;
    for (const char* qt : {"libQt6Gui", "libQt6Widgets", "libQt6Network"})
        EXPECT_EQ(cli.find(qt), std::string::npos) << qt;
}

}  // namespace
}  // namespace tovik
