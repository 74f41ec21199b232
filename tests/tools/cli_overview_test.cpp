// tovik-cli overview: every relay of the configuration file on two
// simulated lines, the exit status a monitoring system reads, and --watch.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/PlantLines.h"
#include "support/ToolRun.h"

namespace tovik {
namespace {

using test::kPlantRelays;
using test::Lines;
using Json = nlohmann::json;

const char* const kCli = TOVIK_BINARY_DIR "/bin/tovik-cli";

test::TToolRun Cli(const std::string& config, std::vector<std::string> args) {
    args.insert(args.begin(), {"--config", config});
    return test::RunTool(kCli, args);
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        out.push_back(line.substr(start, tab - start));
    out.push_back(line.substr(start));
    return out;
}

TEST(CliOverview, EveryRelayOfTheFileAndTheExitStatus) {
    test::TPlantLines plant;
    plant.Start();
    ASSERT_FALSE(HasFatalFailure());
    const std::string config = plant.WriteConfig(kReadOnlyAccess, 3000, 0);

    test::TToolRun r = Cli(config, {"overview"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 5u) << r.Out;
    EXPECT_EQ(Cells(lines[0]),
              (std::vector<std::string>{"Установка", "Тип", "Порт", "Номер", "Связь", "Состояние", "Ia", "Ib",
                                        "Ic", "Аварий", "Последний ответ", "Отметка"}));
    for (size_t i = 0; i < 4; ++i) {
        const auto cells = Cells(lines[i + 1]);
        ASSERT_EQ(cells.size(), 12u) << lines[i + 1];
        EXPECT_EQ(cells[0], kPlantRelays[i].Name);
        EXPECT_EQ(cells[2], plant.Port(kPlantRelays[i].Line));
        EXPECT_EQ(cells[4], "да");
        EXPECT_EQ(cells[5], "СТОП");
        EXPECT_EQ(cells[6], "0,00 A");
        EXPECT_EQ(cells[9], "0");
    }

    // A tripped relay: a monitoring system sees it in the status.
    ASSERT_EQ(plant.Command(1, "trip 4 4"), "ok");
    r = Cli(config, {"--json", "overview"});
    EXPECT_EQ(r.Code, 1) << r.Err;
    Json out = Json::parse(r.Out);
    EXPECT_EQ(out["ok"], false);
    ASSERT_EQ(out["devices"].size(), 4u);
    const Json& tripped = out["devices"][3];
    EXPECT_EQ(tripped["name"], "Вентиляция 2");
    EXPECT_EQ(tripped["answers"], true);
    EXPECT_EQ(tripped["alarm"], true);
    EXPECT_EQ(tripped["state_code"], 18);
    EXPECT_EQ(tripped["alarm_count"], 1);
    EXPECT_EQ(out["devices"][0]["alarm"], false);

    // Watching: an object per round.
    ASSERT_EQ(plant.Command(0, "trip 1 2"), "ok");
    r = Cli(config, {"overview", "--json", "--watch", "--interval", "0", "--count", "2"});
    EXPECT_EQ(r.Code, 1) << r.Err;
    const auto rounds = Lines(r.Out);
    ASSERT_EQ(rounds.size(), 2u) << r.Out;
    EXPECT_EQ(Json::parse(rounds[1])["round"], 2);
    EXPECT_EQ(Json::parse(rounds[1])["devices"][0]["state_code"], 18);
}

TEST(CliOverview, OptionsOfOneRelayOrWithoutWatchAreRefused) {
    test::TempDir dir;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"overview", "--device", "0"},
                                                 {"overview", "--port", "pts/1"},
                                                 {"overview", "--interval", "100"},
                                                 {"overview", "--count", "2"},
                                                 {"poll", "--watch"}}) {
        const test::TToolRun r = Cli(dir.File("application.cfg"), args);
        EXPECT_EQ(r.Code, 2) << args[1] << ": " << r.Err;
    }
    const test::TToolRun help = test::RunTool(kCli, {"overview", "--help"});
    EXPECT_EQ(help.Code, 0);
    EXPECT_NE(help.Out.find("Usage: tovik-cli [--config FILE] [--json] overview [--watch"), std::string::npos)
        << help.Out;
}

}  // namespace
}  // namespace tovik
