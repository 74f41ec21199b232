// tovik-cli.exe, the Windows program, under Wine against tovik-sim: the
// simulator's pseudo-terminals are COM ports of a Wine prefix of the test's
// own, so the Windows serial line, file seam, arguments and locale run
// end to end on a native and a ModBus relay.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "base/Cp1251.h"
#include "panel/XlsxTestUtil.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;

const char* const kSim = TOVIK_BINARY_DIR "/bin/tovik-sim";
const char* const kWineRun = TOVIK_SOURCE_DIR "/scripts/wine-run";
const char* const kCliExe = TOVIK_WINE_CLI;

// Windows-1251 bytes of a UTF-8 text padded with spaces to `width`.
std::string Field(const std::string& utf8, size_t width) {
    std::string bytes = Utf8ToCp1251(utf8).value();
    bytes.resize(width, ' ');
    return bytes;
}

// The lines of a program's output, whose line ends are CR LF on Windows.
std::vector<std::string> OutLines(const std::string& text) {
    std::vector<std::string> lines = test::Lines(text);
    for (auto& line : lines)
        if (!line.empty() && line.back() == '\r') line.pop_back();
    return lines;
}

// One relay on a simulator of its own, seen by Wine as `com`.
struct TRelayLine {
    int Kind;
    int Bus;
    std::string Com;
    std::unique_ptr<test::TSimProcess> Sim;
};

class CliUnderWine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Dir.Path.empty());
        Prefix = Dir.Path + "/prefix";
        ::setenv("WINEPREFIX", Prefix.c_str(), 1);
        // The prefix's server runs from the start to the end (a start costs
        // seconds), then the prefix is made.
        fs::create_directories(Prefix);
        // (A server that outlives a line writes its objects to its standard
        // error when the line hangs up: not into the test's output.)
        ASSERT_EQ(std::system("wineserver -p 2>/dev/null"), 0);
        ASSERT_EQ(Wine({"cmd", "/c", "exit"}).Code, 0);
        // The user's regional settings: Russian separators, which the
        // program takes from Windows, not from the machine running Wine.
        const std::string reg = Dir.Path + "/international.reg";
        std::ofstream(reg) << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\International]\r\n"
                              "\"sDecimal\"=\",\"\r\n\"sShortDate\"=\"dd.MM.yyyy\"\r\n"
                              "\"sShortTime\"=\"HH:mm\"\r\n\"sTimeFormat\"=\"HH:mm:ss\"\r\n";
        ASSERT_EQ(Wine({"reg", "import", "Z:" + reg}).Code, 0);
        WriteAccounts();
    }
    void TearDown() override {
        // The server holds the lines: it goes first, so that the simulators'
        // hang-up reaches nobody.
        [[maybe_unused]] const int killed = std::system("wineserver -k");
        ::unsetenv("WINEPREFIX");
    }

    test::TToolRun Wine(std::vector<std::string> args) { return test::RunTool(kWineRun, args, "C.UTF-8"); }

    void WriteAccounts() {
        ConfigPath = Dir.Path + "/application.cfg";
        auto stats = std::make_shared<TRequestStats>();
        TUsers users;
        users.Add(std::make_unique<TUser>("admin", kFullAccess, "pw"));
        TProtoPortList ports(stats);
        TDeviceList devices;
        TSaveOptions options;
        options.Copy = TCopyPolicy::Never;
        ASSERT_TRUE(SaveConfigurationFile(ConfigPath, "", {users, ports, devices}, options).Saved);
    }

    // A simulator whose pseudo-terminal the prefix maps to COM`number`. It
    // ends after the prefix's server (TearDown), so that no line hangs up
    // under a running server.
    const TRelayLine& Plug(int kind, int bus, int number) {
        TRelayLine& line =
            Relays.emplace_back(TRelayLine{kind, bus, "COM" + std::to_string(number), nullptr});
        const std::vector<std::string> args = {"--relay", std::to_string(kind) + ":" + std::to_string(bus),
                                               "--baud", "0", "--manual-clock"};
        line.Sim = std::make_unique<test::TSimProcess>(kSim, args, test::TChildProcess::EStderr::Discard);
        EXPECT_FALSE(line.Sim->Port().empty());
        std::error_code ec;
        fs::create_symlink("/dev/" + line.Sim->Port(), Prefix + "/dosdevices/com" + std::to_string(number),
                           ec);
        EXPECT_FALSE(ec) << ec.message();
        return line;
    }

    test::TToolRun Cli(const TRelayLine& line, std::vector<std::string> args) {
        std::vector<std::string> all = {kCliExe,
                                        "--port",
                                        line.Com,
                                        "--kind",
                                        std::to_string(line.Kind),
                                        "--bus",
                                        std::to_string(line.Bus)};
        all.insert(all.end(), args.begin(), args.end());
        return Wine(all);
    }

    void PollWriteAndJournal(const TRelayLine& line, const std::string& name) {
        SCOPED_TRACE(name);
        test::TToolRun r = Cli(line, {"--json", "poll"});
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_NE(r.Out.find("\"ok\":true"), std::string::npos) << r.Out;
        EXPECT_NE(r.Out.find("\"failed\":[]"), std::string::npos) << r.Out;

        // A setpoint written with the locale's separator and read back.
        r = Cli(line,
                {"--config", "Z:" + ConfigPath, "--user", "admin", "--password", "pw", "set", "2", "12,5"});
        ASSERT_EQ(r.Code, 0) << r.Err;
        ASSERT_EQ(OutLines(r.Out).size(), 2u) << r.Out;
        EXPECT_EQ(OutLines(r.Out)[1], "2\tноминальный ток нагрузки Inom, A\t0;1,60\t250\t12,5\t12,5");
        r = Cli(line, {"setpoints"});
        ASSERT_EQ(r.Code, 0) << r.Err;
        ASSERT_GT(OutLines(r.Out).size(), 3u) << r.Out;
        EXPECT_TRUE(OutLines(r.Out)[3].ends_with("\t12,5")) << r.Out;

        // The alarm journal into files with Cyrillic names.
        ASSERT_EQ(line.Sim->Command("clock * 12:00:00 07.03.2026"), "ok");
        ASSERT_EQ(line.Sim->Command("trip " + std::to_string(line.Bus) + " 5"), "ok");
        const std::string txt = Dir.Path + "/журнал " + name + ".txt";
        const std::string xlsx = Dir.Path + "/журнал " + name + ".xlsx";
        r = Cli(line, {"alarms", "--txt", "Z:" + txt, "--xlsx", "Z:" + xlsx});
        ASSERT_EQ(r.Code, 0) << r.Err;
        ASSERT_EQ(OutLines(r.Out).size(), 2u) << r.Out;
        const std::string record = "7.03.2026 12:00:00\tОбрыв фазы\t";
        EXPECT_EQ(OutLines(r.Out)[1].rfind(record, 0), 0u) << r.Out;
        const std::string text = test::ReadFile(txt);
        const std::string header =
            Field("Дата/время", 21) + Field("причина аварии", 32) + Field("токи", 25) + "\r\n";
        EXPECT_EQ(text.rfind(header + Field("7.03.2026 12:00:00", 21) + Field("Обрыв фазы", 32), 0), 0u)
            << text;
        EXPECT_EQ(text.size(), 2 * 80u) << text;
        EXPECT_NE(test::XlsxPart(xlsx, "xl/workbook.xml").find("<sheet name=\"Аварийные отключения\""),
                  std::string::npos);
        EXPECT_NE(test::XlsxPart(xlsx, "xl/sharedStrings.xml").find("<t>Обрыв фазы</t>"), std::string::npos);
    }

    test::TempDir Dir{"tovik-wine"};
    std::deque<TRelayLine> Relays;
    std::string Prefix;
    std::string ConfigPath;
};

TEST_F(CliUnderWine, PollSetpointAndJournalOnANativeAndAModbusRelay) {
    const TRelayLine& native = Plug(0, 1, 41);
    const TRelayLine& modbus = Plug(3, 4, 42);
    PollWriteAndJournal(native, "Товик");
    PollWriteAndJournal(modbus, "ТовикМ ModBus");
}

}  // namespace
}  // namespace tovik
