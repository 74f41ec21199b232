// Runs the built tovik-config the way an operator would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "../app/ConfigTestUtil.h"
#include "app/Configuration.h"
#include "app/UartSettingsPort.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

struct Run {
    int Status = -1;
    std::string Out;
};

std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Run Tool(const std::vector<std::string>& args) {
    std::string cmd = Quote(TOVIK_BINARY_DIR "/bin/tovik-config");
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " 2>&1";
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
    EXPECT_NE(r.Out.find("\"messages\": []"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find(R"({"name": "default", "password": "", "level": 1})"), std::string::npos) << r.Out;

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
    const std::string id = std::to_string(NameId("ttyUSB0"));
    for (
        const std::string& piece :
        {std::string(R"({"name": "сервис", "password": "Пар\"оль\\", "level": 0})"),
         R"({"kind": 193, "name": "ttyUSB0", "bus": true, "reply_timeout": 250, "request_interval": 1000, "id": )" +
             id + "}",
         std::string(R"("name": "ttyS1", "bus": false, "reply_timeout": 100, "request_interval": 100)"),
         R"({"kind_code": 196, "device_kind": 3, "name": "Насосная №1", "port_id": )" + id +
             R"(, "bus_address": 17, "layout": [], "alarms": []})",
         std::string(R"("kind_code": 195, "device_kind": 2, "name": "ТовикМ")"),
         std::string(R"("kind_code": 193, "device_kind": 0, "name": "Товик")")})
        EXPECT_NE(r.Out.find(piece), std::string::npos) << piece << "\n" << r.Out;

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
         test::Section(test::Payload(3, test::Concat({test::DeviceRecord(193, {}, 0, 0, "a", 0, 0),
                                                      test::DeviceRecord(193, {}, 0, 7, "b", 9, 0),
                                                      test::DeviceRecord(193, {}, 0, 250, "c", 0, 0)})))});
    test::WriteBytes(File, test::FileBytes(body));
    const auto r = Tool({"show", File});
    EXPECT_EQ(r.Status, 0) << r.Out;
    for (const std::string piece :
         {R"("bus_address": 0, "problems": ["bus number outside 1..250"], "layout")",
          R"("bus_address": 7, "problems": ["unknown device kind"], "layout")",
          R"("bus_address": 250, "layout")"})
        EXPECT_NE(r.Out.find(piece), std::string::npos) << piece << "\n" << r.Out;

    const std::string fifo = Dir.File("fifo.cfg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto refused = Tool({"show", fifo});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Out.find("Невозможно открыть файл конфигурации.\nне обычный файл"), std::string::npos)
        << refused.Out;
}

}  // namespace
}  // namespace tovik
