// tovik-cli as a program, against tovik-sim as a child process, on every
// device kind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/ConfigTestUtil.h"
#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "base/Cp1251.h"
#include "panel/XlsxTestUtil.h"
#include "protocol/Frame.h"
#include "support/ChildProcess.h"
#include "support/PtyResponder.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace tovik::cli {
namespace {

using Json = nlohmann::json;

const char* const kCli = TOVIK_BINARY_DIR "/bin/tovik-cli";
const char* const kSim = TOVIK_BINARY_DIR "/bin/tovik-sim";

using test::Lines;
using test::ReadFile;
using test::TempDir;
using CliResult = test::TToolRun;

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Runs tovik-cli with the arguments under a locale.
CliResult RunCli(const std::vector<std::string>& args, const std::string& locale = "ru_RU.UTF-8") {
    return test::RunTool(kCli, args, locale);
}

// Windows-1251 bytes of a UTF-8 text padded with spaces to `width`.
std::string Field(const std::string& utf8, size_t width) {
    std::string bytes = Utf8ToCp1251(utf8).value();
    bytes.resize(width, ' ');
    return bytes;
}

// A request of the simulator's log that changes nothing on the relay: a
// native read command, or a ModBus read (with the record selection that
// reading an alarm record or a task entry takes).
bool IsReadRequest(const std::string& logLine) {
    for (int command : {3, 4, 7, 11, 12, 14, 17, 19, 21, 23, 24, 26, 33, 34, 36})
        if (logLine.find("\"command\":" + std::to_string(command) + ",") != std::string::npos) return true;
    if (logLine.find("\"function\":3,") != std::string::npos) return true;
    return logLine.find("\"function\":16,\"register\":128,") != std::string::npos ||
           logLine.find("\"function\":16,\"register\":304,") != std::string::npos;
}

class CliTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        Kind = static_cast<uint8_t>(GetParam());
        LogPath = Dir.Path + "/requests.log";
        const std::vector<std::string> args = {"--relay", std::to_string(Kind) + ":1", "--baud", "0", "--log",
                                               LogPath};
        Sim = std::make_unique<test::TSimProcess>(kSim, args, test::TChildProcess::EStderr::Discard);
        ASSERT_FALSE(Sim->Port().empty());
        ASSERT_EQ(Sim->Command("clock * 12:00:00 07.03.2026"), "ok");
        WriteConfig();
    }

    // Accounts of every level, the simulator's line and one device on it.
    void WriteConfig() {
        ConfigPath = Dir.Path + "/application.cfg";
        auto stats = std::make_shared<TRequestStats>();
        TUsers users;
        users.Add(std::make_unique<TUser>("service", kServiceAccess, "sv"));
        users.Add(std::make_unique<TUser>("admin", kFullAccess, "pw"));
        users.Add(std::make_unique<TUser>("viewer", kReadOnlyAccess, "ro"));
        TProtoPortList ports(stats);
        auto port = std::make_unique<TUartSettingsPort>(stats);
        ASSERT_TRUE(port->SetPortName(Sim->Port()));
        port->ReplyTimeout = 100;
        port->RequestInterval = 100;
        const int32_t portId = port->Id;
        ports.Add(std::move(port));
        TDeviceList devices;
        auto device = std::make_unique<TTovikDevice>(Kind);
        device->PortId = portId;
        device->BusAddress = 1;
        device->InstallationName = "Насосная";
        devices.Add(std::move(device));
        TSaveOptions options;
        options.Copy = TCopyPolicy::Never;
        const auto result = SaveConfigurationFile(ConfigPath, "", {users, ports, devices}, options);
        ASSERT_TRUE(result.Saved);
    }

    // The simulator answers every request, but under load (a sanitizer
    // build on a busy machine) its reply may come after a short time-out and
    // be taken for the next read of the same size (a ModBus RTU reply names
    // no request): a time-out that a loaded machine never reaches. A test
    // of silence gives its own, later on the command line.
    std::vector<std::string> Line() const {
        return {"--port", Sim->Port(), "--kind",          std::to_string(Kind),
                "--bus",  "1",         "--reply-timeout", "60000"};
    }
    CliResult Cli(std::vector<std::string> args, const std::string& locale = "ru_RU.UTF-8") {
        std::vector<std::string> all = Line();
        all.insert(all.end(), args.begin(), args.end());
        return RunCli(all, locale);
    }
    CliResult As(const std::string& user, const std::string& password, std::vector<std::string> args) {
        std::vector<std::string> all = {"--config", ConfigPath, "--user", user, "--password", password};
        all.insert(all.end(), args.begin(), args.end());
        return Cli(all);
    }
    std::vector<std::string> LogLines() const { return Lines(ReadFile(LogPath)); }

    bool TovikM() const { return Kind == 2 || Kind == 3; }
    bool Modbus() const { return Kind == 1 || Kind == 3; }

    TempDir Dir{"tovik-cli-test"};
    uint8_t Kind = 0;
    std::string LogPath;
    std::string ConfigPath;
    std::unique_ptr<test::TSimProcess> Sim;
};

// The sections of poll's output: model, labels, state.
struct PollOutput {
    std::vector<std::string> Model, Labels;
    std::string State;
};
PollOutput SplitPoll(const std::string& out) {
    PollOutput p;
    int section = 0;
    for (const auto& line : Lines(out)) {
        if (line.empty()) {
            ++section;
            continue;
        }
        if (section == 0) p.Model.push_back(line);
        if (section == 1) p.Labels.push_back(line);
        if (section == 2) p.State = line;
    }
    return p;
}

TEST_P(CliTest, PollShowsThePanelLabels) {
    ASSERT_EQ(Sim->Command("trip 1 2"), "ok");  // an idle relay records its 20 A load
    const CliResult r = Cli({"poll"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const PollOutput p = SplitPoll(r.Out);
    ASSERT_FALSE(p.Model.empty());
    EXPECT_EQ(p.Model[0], TovikM() ? "ТовикМ-25-M2" : "Товик-25-M3");
    EXPECT_EQ(p.Model[1], "Номинальный ток 25А.");

    std::vector<std::string> expected = {
        "Ia = 0,00 A",
        "Ib = 0,00 A",
        "Ic = 0,00 A",
        "Di = 0,00 A",
        "Imax = 0,00 A",
        "Kтр = 1",
        "Недогрузка по Imin = 0,00 сек",
        "Превышение Inom = 0,00 сек",
        "Перегрузка по Imax = 0,00 сек",
        "Превышение по Di = 0,00 сек",
        "Пропадание фаз Tфаз = 0,00 сек",
        "Блокировка защит Tп = 0,00 сек",
        "Время до самозапуска Tсз = 0,00 сек",
        "Автовозвратов защиты Nапв = 0",
        "Текущее время: 7.03.2026 12:00:0",
    };
    if (Kind == 3) {
        expected.push_back("Время последнего изменения уставок: ");
        expected.push_back("Время последнего сброса статистики: ");
        expected.push_back("Tмото (чч:мм:сс): 0:0:0");
        expected.push_back("Nвкл = 0");
    }
    for (const char* c :
         {"Nmin = 0", "Nnom = 0", "Nmax = 1", "Nдисб = 0", "Nфаз = 0", "Nотс = 0", "N Rиз = 0"})
        expected.push_back(c);
    ASSERT_EQ(p.Labels.size(), expected.size()) << r.Out;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(StartsWith(p.Labels[i], expected[i])) << p.Labels[i] << " / " << expected[i];
        EXPECT_EQ(p.Labels[i].find("Н/Д"), std::string::npos) << p.Labels[i];
    }
    EXPECT_TRUE(StartsWith(p.State, "АВАРИЯ 7.03.2026 12:00:0")) << p.State;
    EXPECT_NE(p.State.find(" Превышение максимального тока Ia=20,0 Ib=20,0 Ic=20,0"), std::string::npos)
        << p.State;

    // The poll reads only.
    const auto log = LogLines();
    EXPECT_FALSE(log.empty());
    for (const auto& line : log) EXPECT_TRUE(IsReadRequest(line)) << line;
}

TEST_P(CliTest, FailedPollShowsUnavailable) {
    ASSERT_EQ(Sim->Command("ignore 3"), "ok");  // every try of the state poll
    const CliResult r = Cli({"--reply-timeout", "50", "poll"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("Устройство не отвечает."), std::string::npos) << r.Err;
    const PollOutput p = SplitPoll(r.Out);
    EXPECT_EQ(p.Model, std::vector<std::string>{"Неизвестно"});
    ASSERT_EQ(p.Labels.size(), Kind == 3 ? 26u : 22u);
    for (const auto& label : p.Labels)
        EXPECT_TRUE(label.ends_with(" Н/Д") || label.ends_with(": Н/Д")) << label;
    EXPECT_EQ(p.Labels[0], "Ia = Н/Д");
    EXPECT_EQ(p.Labels[5], "Kтр = Н/Д");
    EXPECT_EQ(p.State, "Недоступно: нет ответа");
}

TEST_P(CliTest, SetpointWriteAndReadBack) {
    CliResult r = As("admin", "pw", {"set", "2", "12"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 2u) << r.Out;
    EXPECT_EQ(lines[0], "№\tФункция/наименование\tмин\tмакс\tсейчас\tновое");
    EXPECT_EQ(lines[1], "2\tноминальный ток нагрузки Inom, A\t0;1,60\t250\t12,0\t12,0");

    // Held within the model's limits, rounded as the grid shows it.
    r = As("admin", "pw", {"set", "7", "2,37"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Lines(r.Out).at(1).ends_with("\t2,4\t2,4")) << r.Out;
    r = As("admin", "pw", {"set", "0", "100000"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Lines(r.Out).at(1).ends_with("\t250\t250")) << r.Out;

    r = Cli({"setpoints"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto rows = Lines(r.Out);
    ASSERT_EQ(rows.size(), 1u + (Kind == 3 ? 25u : Kind == 2 ? 23u : 22u));
    EXPECT_TRUE(StartsWith(rows[3], "2\tноминальный ток нагрузки Inom, A\t")) << rows[3];
    EXPECT_TRUE(rows[3].ends_with("\t12,0")) << rows[3];
    EXPECT_TRUE(rows[8].ends_with("\t2,4")) << rows[8];

    // The locale's decimal separator, on input and output.
    r = As("admin", "pw", {"--json", "set", "2", "-5"});
    EXPECT_EQ(r.Code, 0) << r.Err;  // below the minimum: the minimum
    EXPECT_NE(r.Out.find("\"now\":\"1,60\""), std::string::npos) << r.Out;
    std::vector<std::string> us = {"--config", ConfigPath, "--user", "admin", "--password",
                                   "pw",       "set",      "2",      "13.5"};
    r = Cli(us, "en_US.UTF-8");
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Lines(r.Out).at(1).ends_with("\t13.5\t13.5")) << r.Out;
}

TEST_P(CliTest, NonNumericSetpointIsRefusedAndNothingSent) {
    for (const char* text : {"abc", "", "12 A", "1,2,3"}) {
        const CliResult r = As("admin", "pw", {"set", "2", text});
        EXPECT_EQ(r.Code, 2) << text;
        EXPECT_NE(r.Err.find("не число"), std::string::npos) << r.Err;
    }
    const CliResult date = As("service", "sv", {"set", "20", "15/06/2024"});
    EXPECT_EQ(date.Code, 2);
    EXPECT_NE(date.Err.find("не дата"), std::string::npos) << date.Err;
    EXPECT_TRUE(LogLines().empty()) << ReadFile(LogPath);
}

TEST_P(CliTest, AccessRulesRefuseBeforeSending) {
    ASSERT_EQ(Cli({"poll"}).Code, 0);
    const size_t reads = LogLines().size();
    ASSERT_GT(reads, 0u);

    struct Case {
        std::string user, password;
        std::vector<std::string> command;
    };
    const std::vector<Case> refused = {
        {"viewer", "ro", {"set", "2", "12"}},
        {"viewer", "ro", {"start"}},
        {"viewer", "ro", {"stop"}},
        {"viewer", "ro", {"reset-counters"}},
        {"viewer", "ro", {"sync-clock"}},
        {"viewer", "ro", {"auto", "on"}},
        {"viewer", "ro", {"alarms-clear"}},
        {"viewer", "ro", {"task-add"}},
        {"viewer", "ro", {"task-delete", "1"}},
        {"viewer", "ro", {"task-set", "1", "7.03.2026 09:05:00", "7.03.2026 10:00:00"}},
        {"viewer", "ro", {"task-clear"}},
        {"admin", "wrong", {"start"}},
        {"nobody", "pw", {"start"}},
        {"admin", "pw", {"set", "19", "3"}},  // model, date and serial number: service level only
        {"admin", "pw", {"set", "20", "1.01.2025"}},
        {"admin", "pw", {"set", "21", "7"}},
    };
    for (const auto& c : refused) {
        const CliResult r = As(c.user, c.password, c.command);
        EXPECT_EQ(r.Code, 3) << c.user << " " << c.command[0] << ": " << r.Err;
    }
    const CliResult anonymous = Cli({"start"});
    EXPECT_EQ(anonymous.Code, 3);
    // Nothing but the poll's reads reached the relay.
    const auto log = LogLines();
    EXPECT_EQ(log.size(), reads) << ReadFile(LogPath);
    for (const auto& line : log) EXPECT_TRUE(IsReadRequest(line)) << line;

    const CliResult service = As("service", "sv", {"set", "21", "1234"});
    ASSERT_EQ(service.Code, 0) << service.Err;
    EXPECT_TRUE(Lines(service.Out).at(1).ends_with("\t1234\t1234")) << service.Out;
}

TEST_P(CliTest, AlarmJournalWithoutDuplicatesAndItsFiles) {
    // An empty journal: the header line and a line of 78 spaces.
    const std::string emptyTxt = Dir.Path + "/empty.txt";
    CliResult r = Cli({"alarms", "--txt", emptyTxt});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "Дата/время\tпричина аварии\tтоки\n");
    const std::string header =
        Field("Дата/время", 21) + Field("причина аварии", 32) + Field("токи", 25) + "\r\n";
    EXPECT_EQ(ReadFile(emptyTxt), header + std::string(78, ' ') + "\r\n");

    // Two trips within one second carry the same time stamp: the second is kept out.
    ASSERT_EQ(Sim->Command("clock * 12:00:00 07.03.2026"), "ok");
    ASSERT_EQ(Sim->Command("trip 1 2"), "ok");
    ASSERT_EQ(Sim->Command("trip 1 4"), "ok");
    ASSERT_EQ(Sim->Command("load 1 1500 2500 3500"), "ok");
    ASSERT_EQ(Sim->Command("clock * 13:15:00 08.03.2026"), "ok");
    ASSERT_EQ(Sim->Command("trip 1 5"), "ok");

    const std::string txt = Dir.Path + "/journal.txt";
    const std::string xlsx = Dir.Path + "/journal.xlsx";
    r = Cli({"alarms", "--txt", txt, "--xlsx", xlsx});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 3u) << r.Out;
    EXPECT_EQ(lines[1], "7.03.2026 12:00:00\tПревышение максимального тока\tIa=20,0 Ib=20,0 Ic=20,0");
    EXPECT_EQ(lines[2], "8.03.2026 13:15:00\tОбрыв фазы\tIa=1,50 Ib=2,50 Ic=3,50");

    const std::string expectedTxt =
        header + Field("7.03.2026 12:00:00", 21) + Field("Превышение максимального тока", 32) +
        Field("Ia=20,0 Ib=20,0 Ic=20,0", 25) + "\r\n" + Field("8.03.2026 13:15:00", 21) +
        Field("Обрыв фазы", 32) + Field("Ia=1,50 Ib=2,50 Ic=3,50", 25) + "\r\n";
    EXPECT_EQ(ReadFile(txt), expectedTxt);

    const std::string workbook = test::XlsxPart(xlsx, "xl/workbook.xml");
    EXPECT_NE(workbook.find("<sheet name=\"Аварийные отключения\""), std::string::npos) << workbook;
    const std::string strings = test::XlsxPart(xlsx, "xl/sharedStrings.xml");
    for (const char* text : {"Дата/время", "причина аварии", "токи", "7.03.2026 12:00:00",
                             "Превышение максимального тока", "Ia=20,0 Ib=20,0 Ic=20,0", "Обрыв фазы"})
        EXPECT_NE(strings.find(std::string("<t>") + text + "</t>"), std::string::npos) << text;
    const std::string sheet = test::XlsxPart(xlsx, "xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet.find("<c r=\"A1\" s=\"2\" t=\"s\"><v>0</v></c>"), std::string::npos) << sheet;
    EXPECT_EQ(test::CountOf(sheet, "<c r="), 9u);
    EXPECT_EQ(test::CountOf(sheet, "s=\"2\""), 9u);
    EXPECT_NE(sheet.find("<col min=\"1\" max=\"1\" width=\"18."), std::string::npos);
    EXPECT_NE(sheet.find("<col min=\"2\" max=\"2\" width=\"33."), std::string::npos);
    EXPECT_NE(sheet.find("<col min=\"3\" max=\"3\" width=\"26."), std::string::npos);
    const std::string styles = test::XlsxPart(xlsx, "xl/styles.xml");
    EXPECT_NE(styles.find("<font><b/>"), std::string::npos);
    EXPECT_NE(styles.find(
                  "fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\" applyAlignment=\"1\">"
                  "<alignment horizontal=\"left\"/>"),
              std::string::npos)
        << styles;

    r = Cli({"--json", "alarms"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_NE(r.Out.find("\"relay_records\":3,\"added\":2,"), std::string::npos) << r.Out;

    ASSERT_EQ(As("admin", "pw", {"alarms-clear"}).Code, 0);
    r = Cli({"alarms"});
    EXPECT_EQ(r.Out, "Дата/время\tпричина аварии\tтоки\n");
}

TEST_P(CliTest, TaskLogCommands) {
    CliResult r = Cli({"tasks"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 4u) << r.Out;
    EXPECT_EQ(lines[0], "№\tНачало\tОкончание");
    // The simulator's two shifts on its first day.
    EXPECT_TRUE(StartsWith(lines[1], "1\t")) << lines[1];
    EXPECT_NE(lines[1].find(" 08:00:00\t"), std::string::npos) << lines[1];
    EXPECT_TRUE(lines[2].ends_with(" 17:00:00")) << lines[2];
    EXPECT_EQ(lines[3], "Заданий: 2 из 16");

    r = As("admin", "pw", {"task-add"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out).back(), "Заданий: 3 из 16");
    r = As("admin", "pw", {"task-set", "3", "7.03.2026 9:5:0", "7.03.2026 10:00:00"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out).at(3), "3\t7.03.2026 09:05:00\t7.03.2026 10:00:00");
    r = As("admin", "pw", {"task-set", "3", "soon", "7.03.2026 10:00:00"});
    EXPECT_EQ(r.Code, 2);
    r = As("admin", "pw", {"task-delete", "1"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    lines = Lines(r.Out);
    EXPECT_EQ(lines.at(2), "2\t7.03.2026 09:05:00\t7.03.2026 10:00:00");
    r = As("admin", "pw", {"task-delete", "5"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("Выберите ячейку строки удаляемого задания."), std::string::npos);
    r = As("admin", "pw", {"task-clear"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out).back(), "Заданий: 0 из 16");
}

TEST_P(CliTest, ControlCommands) {
    ASSERT_EQ(As("admin", "pw", {"start"}).Code, 0);
    EXPECT_EQ(Sim->Command("status").find("state 0 "), std::string::npos);
    ASSERT_EQ(As("admin", "pw", {"stop"}).Code, 0);
    EXPECT_NE(Sim->Command("status").find("state 0 "), std::string::npos);

    CliResult r = As("admin", "pw", {"auto", "on"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Lines(r.Out).at(1).ends_with("\t1\t1")) << r.Out;
    r = As("admin", "pw", {"auto", "off"});
    EXPECT_TRUE(Lines(r.Out).at(1).ends_with("\t0\t0")) << r.Out;

    ASSERT_EQ(As("admin", "pw", {"sync-clock"}).Code, 0);
    r = Cli({"poll"});
    EXPECT_EQ(r.Out.find("Текущее время: 7.03.2026"), std::string::npos);  // the PC's time now

    ASSERT_EQ(Sim->Command("trip 1 2"), "ok");
    r = As("admin", "pw", {"reset-counters"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = Cli({"poll"});
    // "ТовикМ ModBus" clears the journal instead of the counters.
    EXPECT_NE(r.Out.find(Kind == 3 ? "Nmax = 1" : "Nmax = 0"), std::string::npos) << r.Out;
    EXPECT_NE(Sim->Command("status").find(Kind == 3 ? "alarms 0" : "alarms 1"), std::string::npos);

    r = Cli({"cal-info"});
    if (Modbus()) {
        EXPECT_EQ(r.Code, 1);
    } else {
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(r.Out, "Точек калибровки на фазу: 6\n");
    }
}

TEST_P(CliTest, WatchAndDeviceFromConfiguration) {
    CliResult r = RunCli({"--config", ConfigPath, "--device", "0", "--json", "watch", "--count", "2"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 2u) << r.Out;
    const Json first = Json::parse(lines[0]);
    EXPECT_EQ(first["kind"], Kind);
    EXPECT_EQ(first["ok"], true);
    EXPECT_EQ(first["failed"], Json::array());
    EXPECT_EQ(first["labels"][0], (Json{{"name", "ToviktokALabel"}, {"text", "Ia = 0,00 A"}}));
    EXPECT_EQ(first["status"], "СТОП");
    const Json second = Json::parse(lines[1]);
    EXPECT_EQ(second["cycle"], 2);
    EXPECT_EQ(second["ok"], true);
    EXPECT_EQ(second["failed"], Json::array());
    EXPECT_EQ(lines[1].find("Ia = "), std::string::npos) << lines[1];  // unchanged labels are left out
}

// Options are recognised after the command too; "--help" there prints that
// command's help and does nothing else, "--" ends the options.
TEST_P(CliTest, OptionsAfterTheCommand) {
    const std::string before = Sim->Command("status");
    for (const char* command : {"poll", "start", "stop", "set", "task-clear", "alarms-clear", "sync-clock"}) {
        const CliResult r = Cli({command, "--help"});
        EXPECT_EQ(r.Code, 0) << command << ": " << r.Err;
        EXPECT_TRUE(StartsWith(r.Out, "Usage: tovik-cli ")) << r.Out;
        EXPECT_NE(r.Out.find(std::string(" ") + command), std::string::npos) << r.Out;
        EXPECT_EQ(r.Out.find("Reading commands:"), std::string::npos) << command;  // not the whole help
        EXPECT_TRUE(r.Err.empty()) << r.Err;
    }
    EXPECT_EQ(As("admin", "pw", {"start", "-h"}).Code, 0);
    // Nothing reached the relay.
    EXPECT_TRUE(LogLines().empty()) << ReadFile(LogPath);
    EXPECT_EQ(Sim->Command("status"), before);

    // After "--", "--help" and "-h" are the setpoint text, refused as not a number.
    CliResult r = As("admin", "pw", {"set", "--", "2", "--help"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("\"--help\" не число"), std::string::npos) << r.Err;
    r = As("admin", "pw", {"set", "--", "2", "-h"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("\"-h\" не число"), std::string::npos) << r.Err;
    // A word that looks like an option is never taken as a value.
    r = Cli({"--config", ConfigPath, "--user", "--password", "pw", "start"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("--user requires a value"), std::string::npos) << r.Err;
    r = Cli({"poll", "--verbose"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("unknown option --verbose"), std::string::npos) << r.Err;
    r = Cli({"poll", "--count", "2"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("--count не для команды poll"), std::string::npos) << r.Err;
    r = As("admin", "pw", {"start", "now"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("start не принимает аргументов"), std::string::npos) << r.Err;
    EXPECT_TRUE(LogLines().empty()) << ReadFile(LogPath);

    // An option after the command takes effect.
    r = Cli({"poll", "--json"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Json::parse(r.Out)["ok"], true);
}

// The writes the simulator logged after the first `from` lines.
std::vector<std::string> WritesAfter(const std::vector<std::string>& log, size_t from) {
    std::vector<std::string> out;
    for (size_t i = from; i < log.size(); ++i)
        if (!log[i].empty() && !IsReadRequest(log[i])) out.push_back(log[i]);
    return out;
}

TEST_P(CliTest, SetpointFileSaveCompareAndRestore) {
    const std::string file = Dir.Path + "/relay.ust";
    // The device of the configuration file, with its installation name.
    CliResult r = As("admin", "pw", {"--device", "0", "setpoints", "--save", file});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string text = ReadFile(file);
    EXPECT_TRUE(StartsWith(text, "TOVIK-SETPOINTS\t1\nkind\t" + std::to_string(Kind) + "\t")) << text;
    EXPECT_NE(text.find("\naccount\tadmin\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ninstallation\tНасосная\n"), std::string::npos) << text;
    for (const std::string& line : LogLines()) EXPECT_TRUE(line.empty() || IsReadRequest(line)) << line;
    // A wrong password names no account; a relay given by its line alone has no installation name.
    EXPECT_EQ(As("admin", "xx", {"setpoints", "--save", file}).Code, 3);
    const std::string bare = Dir.Path + "/bare.ust";
    ASSERT_EQ(Cli({"setpoints", "--save", bare}).Code, 0);
    EXPECT_NE(ReadFile(bare).find("\ninstallation\t\n"), std::string::npos) << ReadFile(bare);
    EXPECT_NE(ReadFile(bare).find("\naccount\t\n"), std::string::npos) << ReadFile(bare);

    r = Cli({"setpoints", "--compare", file});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out).size(), 1u) << r.Out;  // the header only

    // Item 2's text as saved.
    const size_t item2 = text.find("\nitem\t2\t");
    ASSERT_NE(item2, std::string::npos);
    const size_t textAt = text.find('\t', item2 + 8) + 1;
    const std::string savedText = text.substr(textAt, text.find('\t', textAt) - textAt);
    ASSERT_EQ(As("admin", "pw", {"set", "2", "15"}).Code, 0);
    r = Cli({"setpoints", "--compare", file});
    EXPECT_EQ(r.Code, 1) << r.Err;
    ASSERT_EQ(Lines(r.Out).size(), 2u) << r.Out;
    EXPECT_EQ(Lines(r.Out)[1], "2\tноминальный ток нагрузки Inom, A\t15,0\t" + savedText) << r.Out;
    r = Cli({"--json", "setpoints", "--compare", file});
    EXPECT_EQ(r.Code, 1);
    const Json compared = Json::parse(r.Out);
    EXPECT_FALSE(compared["equal"].get<bool>());
    ASSERT_EQ(compared["differences"].size(), 1u);
    EXPECT_EQ(compared["differences"][0]["file"], savedText);

    // Read-only accounts are refused before anything is sent.
    size_t from = LogLines().size();
    r = As("viewer", "ro", {"restore", file});
    EXPECT_EQ(r.Code, 3);
    EXPECT_EQ(LogLines().size(), from);

    // Restored: the one differing item written, read back, matching.
    from = LogLines().size();
    r = As("admin", "pw", {"restore", file});
    ASSERT_EQ(r.Code, 0) << r.Err << r.Out;
    EXPECT_TRUE(StartsWith(r.Out, "Записано уставок: 1. Все уставки совпадают с файлом.\n")) << r.Out;
    const auto writes = WritesAfter(LogLines(), from);
    ASSERT_EQ(writes.size(), 1u) << ReadFile(LogPath);
    EXPECT_NE(writes[0].find(Modbus() ? "\"register\":36," : "\"params\":[8,4]"), std::string::npos)
        << writes[0];
    EXPECT_EQ(Cli({"setpoints", "--compare", file}).Code, 0);

    // Kept out: the serial number below the service level, the bus number
    // always, a value beyond every model's limits; reported, not written.
    std::string keptOut = text;
    const auto setRaw = [&](int item, const std::string& raw) {
        const std::string head = "item\t" + std::to_string(item) + "\t";
        const size_t at = keptOut.find("\n" + head) + 1;
        keptOut.replace(at, keptOut.find('\t', at + head.size()) - at, head + raw);
    };
    setRaw(21, "4242");
    setRaw(16, "7");
    setRaw(0, "7000000");
    const std::string keptOutFile = Dir.Path + "/kept-out.ust";
    std::ofstream(keptOutFile, std::ios::binary) << keptOut;
    from = LogLines().size();
    // The value out of limits leaves the relay unlike the file: exit 1.
    r = As("admin", "pw", {"restore", keptOutFile});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_NE(r.Out.find("(не записана: только на сервисном уровне доступа)"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("(не записана: номер в магистрали из файла не переносится)"), std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("(не записана: значение вне пределов модели устройства)"), std::string::npos)
        << r.Out;
    EXPECT_TRUE(WritesAfter(LogLines(), from).empty());
    // The service level writes the serial number, and only that.
    r = As("service", "sv", {"--json", "restore", keptOutFile});
    ASSERT_EQ(r.Code, 1) << r.Err;
    const Json restored = Json::parse(r.Out);
    EXPECT_EQ(restored["written"], 1);
    EXPECT_EQ(restored["items"].size(), 3u);
    for (const Json& item : restored["items"])
        EXPECT_EQ(item["matches"].get<bool>(), item["item"] == 21) << item;
    const auto serialWrites = WritesAfter(LogLines(), from);
    ASSERT_EQ(serialWrites.size(), 1u);
    EXPECT_NE(serialWrites[0].find(Modbus() ? "\"register\":61,\"count\":1,\"values\":[4242]"
                                            : "\"params\":[53,2]"),
              std::string::npos)
        << serialWrites[0];

    // Damaged files and files of another kind send nothing.
    const std::string damaged = Dir.Path + "/damaged.ust";
    std::ofstream(damaged, std::ios::binary) << text.substr(0, text.size() / 2);
    from = LogLines().size();
    r = As("admin", "pw", {"restore", damaged});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("файл уставок не прочитан"), std::string::npos) << r.Err;
    EXPECT_EQ(Cli({"setpoints", "--compare", damaged}).Code, 2);
    std::string other = text;
    const uint8_t otherKind = Kind == 0 ? 1 : 0;  // the same 22 items when the kind has them
    if (Kind < 2) {
        const std::string kindLine = "kind\t" + std::to_string(Kind) + "\t" + DeviceKindName(Kind) + "\n";
        other.replace(other.find(kindLine), kindLine.size(),
                      "kind\t" + std::to_string(otherKind) + "\t" + DeviceKindName(otherKind) + "\n");
        const std::string otherFile = Dir.Path + "/other.ust";
        std::ofstream(otherFile, std::ios::binary) << other;
        r = As("service", "sv", {"restore", otherFile});
        EXPECT_EQ(r.Code, 2);
        EXPECT_NE(r.Err.find("другого типа"), std::string::npos) << r.Err;
        r = Cli({"setpoints", "--compare", otherFile});
        EXPECT_EQ(r.Code, 1);
        EXPECT_NE(r.Err.find("другого типа"), std::string::npos) << r.Err;
    }
    EXPECT_TRUE(WritesAfter(LogLines(), from).empty());
    // Options meant for setpoints only.
    EXPECT_EQ(Cli({"poll", "--save", file}).Code, 2);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, CliTest, ::testing::Values(0, 1, 2, 3),
                         [](const auto& info) { return "Kind" + std::to_string(info.param); });

TEST(CliProgramTest, HelpAndUsageErrors) {
    CliResult r = RunCli({"--help"});
    ASSERT_EQ(r.Code, 0);
    for (const char* c :
         {"poll", "watch", "setpoints", "set ITEM TEXT", "start", "stop", "reset-counters", "sync-clock",
          "auto on|off", "alarms [--txt FILE] [--xlsx FILE]", "alarms-clear", "tasks", "task-add",
          "task-delete N", "task-clear", "task-set N START END", "cal-info", "--json", "Exit status"})
        EXPECT_NE(r.Out.find(c), std::string::npos) << c;
    // Every command has its own help, in the section of what it does; the
    // help of a command that changes the relay says that it needs an account.
    const size_t changing = r.Out.find("Commands that change the relay:");
    ASSERT_NE(changing, std::string::npos);
    for (const char* c : {"poll", "watch", "setpoints", "alarms", "tasks", "cal-info", "set", "start", "stop",
                          "reset-counters", "sync-clock", "auto", "alarms-clear", "task-add", "task-delete",
                          "task-set", "task-clear"}) {
        const CliResult help = RunCli({"--port", "nosuchtt", "--kind", "0", "--bus", "1", c, "--help"});
        EXPECT_EQ(help.Code, 0) << c;
        const bool changes = r.Out.find("\n  " + std::string(c) + " ", changing) != std::string::npos;
        EXPECT_EQ(help.Out.find("--user NAME --password PW") != std::string::npos, changes) << help.Out;
        EXPECT_TRUE(StartsWith(help.Out, "Usage: tovik-cli RELAY ")) << help.Out;
        EXPECT_NE(Lines(help.Out).at(0).find(" " + std::string(c)), std::string::npos) << help.Out;
    }
    EXPECT_EQ(RunCli({"frobnicate", "--help"}).Code, 2);
    // Help is shown whatever follows it.
    r = RunCli({"poll", "--help", "--frobnicate", "--bus", "0"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(StartsWith(r.Out, "Usage: tovik-cli RELAY [--json] poll\n")) << r.Out;
    EXPECT_EQ(RunCli({}).Code, 2);
    EXPECT_EQ(RunCli({"--port", "pts/0", "--kind", "0", "--bus", "1", "frobnicate"}).Code, 2);
    EXPECT_EQ(RunCli({"--port", "pts/0", "--bus", "1", "poll"}).Code, 2);  // no kind
    EXPECT_EQ(RunCli({"--port", "pts/0", "--kind", "7", "--bus", "1", "poll"}).Code, 2);
    EXPECT_EQ(RunCli({"--port", "pts/0", "--kind", "0", "--bus", "0", "poll"}).Code, 2);
    EXPECT_EQ(RunCli({"--port", "../etc", "--kind", "0", "--bus", "1", "poll"}).Code, 2);
    EXPECT_EQ(RunCli({"--port", "nosuchtt", "--kind", "0", "--bus", "1", "poll"}).Code, 1);
    EXPECT_EQ(RunCli({"--config", "/nonexistent/application.cfg", "--device", "0", "poll"}).Code, 2);
    EXPECT_EQ(RunCli({"--port", "pts/0", "--kind", "0", "--bus", "1", "set", "99", "1"}).Code, 2);
}

// A device whose bus number in the file is outside 1..250 (0 is the ModBus
// broadcast) loads, but nothing is sent to it, whatever the command; --bus
// outside 1..250 is refused the same way, and a valid --bus overrides it.
TEST(CliProgramTest, BusNumbersOutsideTheBusAreNeverSentTo) {
    TempDir dir;
    const std::string log = dir.Path + "/requests.log";
    test::TSimProcess sim(kSim, {"--relay", "1:1", "--baud", "0", "--log", log},
                          test::TChildProcess::EStderr::Discard);
    ASSERT_FALSE(sim.Port().empty());
    const std::string config = dir.Path + "/application.cfg";
    const int32_t portId = NameId(sim.Port());
    test::Bytes devices;
    for (uint8_t bus : {0, 251, 255})
        devices = test::Concat({devices, test::DeviceRecord(194, {}, portId, bus, "a", 1, 0)});
    const test::Bytes body =
        test::Concat({test::Section(test::Payload(1, test::AccountRecord("admin", "pw", 1))),
                      test::Section(test::Payload(1, test::UartRecord(sim.Port(), 0, 100, 100))),
                      test::Section(test::Payload(3, devices))});
    test::WriteBytes(config, test::FileBytes(body));

    const std::vector<std::string> access = {"--config", config, "--user", "admin", "--password", "pw"};
    for (int device = 0; device < 3; ++device) {
        for (const char* command : {"start", "poll", "alarms-clear"}) {
            std::vector<std::string> args = access;
            args.insert(args.end(), {"--device", std::to_string(device), command});
            const CliResult r = RunCli(args);
            EXPECT_EQ(r.Code, 2) << device << " " << command;
            EXPECT_NE(r.Err.find("вне 1..250; ему ничего не отправляется"), std::string::npos) << r.Err;
        }
    }
    for (const char* bus : {"0", "251", "255"}) {
        const CliResult r = RunCli({"--port", sim.Port(), "--kind", "1", "--bus", bus, "poll"});
        EXPECT_EQ(r.Code, 2) << bus;
        EXPECT_NE(r.Err.find("for --bus (1..250)"), std::string::npos) << r.Err;
    }
    EXPECT_EQ(ReadFile(log), "");
    EXPECT_EQ(RunCli({"--config", config, "--device", "0", "--bus", "1", "poll"}).Code, 0);
    EXPECT_NE(ReadFile(log), "");
}

// A native relay at bus number 1 scripted on a pseudo-terminal: it answers
// every read of the poll cycle (model 3, everything else zero) but the
// commands it is told to leave unanswered. Its task log is empty, or holds 5
// entries whose replies name the entry `taskIndex` gives for the one asked.
class ScriptedRelay {
public:
    explicit ScriptedRelay(std::set<uint8_t> muted, int (*taskIndex)(int asked) = nullptr)
        : Muted(std::move(muted)),
          TaskIndex(taskIndex),
          Pty([this](const test::Bytes& f) { return Answer(f); }) {}
    const std::string& Port() const { return Pty.PortName(); }
    int TaskReads() const { return TaskReadCount.load(); }

private:
    test::Bytes Answer(const test::Bytes& f) const {
        // The payload without the length bytes and the check byte of every
        // fourth position.
        test::Bytes payload;
        for (size_t pos = 3; pos <= f.size(); ++pos)
            if (pos % 4 != 0 && pos != f.size()) payload.push_back(f[pos - 1]);
        if (f.size() < 4 || f[0] != f.size() || payload.size() < 2 || payload[0] != 1) return {};
        const uint8_t command = payload[1];
        // Command 19 (a task entry): an empty log.
        static const std::map<uint8_t, size_t> kSizes = {{3, 57}, {4, 8},   {7, 17},  {11, 2}, {14, 12},
                                                         {17, 4}, {19, 15}, {21, 14}, {23, 4}, {24, 6}};
        const auto size = kSizes.find(command);
        if (size == kSizes.end() || Muted.count(command)) return {};
        test::Bytes reply{1, command};
        reply.resize(2 + size->second, 0);
        if (command == 4) reply[2] = 3;  // the model byte of the state poll
        if (command == 3) reply[2 + 49] = 3;
        if (command == 19) ++TaskReadCount;
        if (command == 19 && TaskIndex) {
            reply[2 + 12] = static_cast<uint8_t>(TaskIndex(payload.size() > 2 ? payload[2] : 0));
            reply[2 + 13] = 5;
            reply[2 + 14] = 16;
        }
        return BuildNativeFrame(reply);
    }

    const std::set<uint8_t> Muted;
    int (*const TaskIndex)(int asked);
    mutable std::atomic<int> TaskReadCount{0};
    test::PtyResponder Pty;
};

// A relay whose task replies name entry 0 whatever is asked, or the entry
// before the one asked: the chain ends with a message at the first such
// reply instead of asking again and again.
TEST(CliProgramTest, ATaskChainEndsOnAReplyThatNamesAnotherEntry) {
    for (int (*index)(int) : {+[](int) { return 0; }, +[](int asked) { return asked > 0 ? asked - 1 : 0; }}) {
        ScriptedRelay relay({}, index);
        const CliResult r = RunCli({"--port", relay.Port(), "--kind", "0", "--bus", "1", "tasks"});
        EXPECT_EQ(r.Code, 1);
        EXPECT_NE(r.Err.find("Журнал заданий прочитан не полностью: на запрос задания 2 устройство ответило "
                             "заданием 1."),
                  std::string::npos)
            << r.Err;
        EXPECT_EQ(relay.TaskReads(), 2);
    }
}

// The state poll answers, but not every read after it: poll exits 1 and
// names the reads that failed, and so does every cycle of watch.
TEST(CliProgramTest, PollFailsWhenAReadOfTheCycleFails) {
    constexpr uint8_t kReadCurrents = 14, kReadClock = 24;
    {
        ScriptedRelay relay({});
        const CliResult r = RunCli({"--port", relay.Port(), "--kind", "0", "--bus", "1", "--json", "poll"});
        ASSERT_EQ(r.Code, 0) << r.Err;
        const Json out = Json::parse(r.Out);
        EXPECT_EQ(out["ok"], true);
        EXPECT_EQ(out["failed"], Json::array());
    }
    {
        ScriptedRelay relay({kReadCurrents, kReadClock});
        CliResult r = RunCli({"--port", relay.Port(), "--kind", "0", "--bus", "1", "--json", "poll"});
        EXPECT_EQ(r.Code, 1);
        const Json out = Json::parse(r.Out);
        EXPECT_EQ(out["ok"], false);
        EXPECT_EQ(out["failed"], Json::array({"currents", "clock"}));
        EXPECT_EQ(out["reasons"], Json({{"currents", "нет ответа"}, {"clock", "нет ответа"}}));
        EXPECT_EQ(out["labels"][0]["text"], "Ia = Н/Д");
        EXPECT_TRUE(StartsWith(out["labels"][4]["text"], "Imax = 0,00 A")) << out["labels"][4];
        EXPECT_NE(r.Err.find("нет ответа на чтение: токи фаз (currents), часы (clock)"), std::string::npos)
            << r.Err;
    }
    ScriptedRelay relay({kReadClock});
    CliResult r = RunCli({"--port", relay.Port(), "--kind", "0", "--bus", "1", "poll"});
    EXPECT_EQ(r.Code, 1);
    const PollOutput p = SplitPoll(r.Out);
    EXPECT_EQ(p.Labels.at(0), "Ia = 0,00 A");
    EXPECT_NE(r.Err.find("нет ответа на чтение: часы (clock)"), std::string::npos) << r.Err;

    r = RunCli({"--port", relay.Port(), "--kind", "0", "--bus", "1", "--interval", "0", "--json", "watch",
                "--count", "2"});
    EXPECT_EQ(r.Code, 1);
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 2u) << r.Out;
    for (const auto& line : lines) {
        const Json cycle = Json::parse(line);
        EXPECT_EQ(cycle["ok"], false) << line;
        EXPECT_EQ(cycle["failed"], Json::array({"clock"})) << line;
    }
    EXPECT_NE(r.Err.find("цикл 1: нет ответа на чтение: часы (clock)"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("цикл 2: нет ответа на чтение: часы (clock)"), std::string::npos) << r.Err;
}

// A device of a kind the program does not know is listed in the file, but
// nothing is sent to it; a FIFO as the file is refused at once.
TEST(CliProgramTest, UnknownDeviceKindAndFifoConfigurationAreRefused) {
    TempDir dir;
    const std::string config = dir.Path + "/application.cfg";
    const test::Bytes body = test::Concat(
        {test::Section(test::Payload(1, test::AccountRecord("default", "", 1))),
         test::Section(test::Payload(1, test::UartRecord("ttyNONE7", 0, 100, 100))),
         test::Section(test::Payload(1, test::DeviceRecord(193, {}, NameId("ttyNONE7"), 1, "a", 9, 0)))});
    test::WriteBytes(config, test::FileBytes(body));
    CliResult r = RunCli({"--config", config, "--device", "0", "poll"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("неизвестный тип устройства 9"), std::string::npos) << r.Err;

    const std::string fifo = dir.Path + "/fifo.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    r = RunCli({"--config", fifo, "--device", "0", "poll"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("Невозможно открыть файл конфигурации.\nэто не обычный файл, а канал (FIFO)"),
              std::string::npos)
        << r.Err;
}

}  // namespace
}  // namespace tovik::cli
