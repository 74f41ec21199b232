// tovik-cli scan against tovik-sim lines: the relays found with their
// models and the kinds proposed, the exit status, JSON, the decoded trace,
// and the options checked before anything is sent.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/Modbus.h"
#include "support/ChildProcess.h"
#include "support/PtyResponder.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;

const char* const kCli = TOVIK_BINARY_DIR "/bin/tovik-cli";
const char* const kSim = TOVIK_BINARY_DIR "/bin/tovik-sim";

using test::Lines;
using test::TempDir;
using CliRun = test::TToolRun;

CliRun RunCli(const std::vector<std::string>& args) {
    return test::RunTool(kCli, args);
}

// Every probe listens for its whole time-out: a long one lets a loaded
// machine answer in time, and a short range keeps the run short.
constexpr const char* kPatient = "1000";

TEST(CliScan, PrintsTheRelaysFoundAndTheKindsProposed) {
    TempDir dir;
    test::TSimProcess sim(kSim,
                          {"--relay", "0:1", "--relay", "2:3", "--baud", "0", "--announce-dir", dir.Path},
                          test::TChildProcess::EStderr::Discard);
    ASSERT_FALSE(sim.Port().empty());
    const CliRun r = RunCli({"--port", sim.Port(), "scan", "--to", "3", "--native", "--timeout", kPatient});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const std::vector<std::string> expected = {
        "Номер\tПротокол\tМодель\tТип\tПримечание",
        "1\tсобственный\tТовик-25-M3\tТовик\tтип по модели не определить",
        "3\tсобственный\tТовикМ-25-M2\tТовикМ\t",
    };
    EXPECT_EQ(Lines(r.Out), expected);
}

TEST(CliScan, JsonAndTheDecodedTrace) {
    TempDir dir;
    test::TSimProcess sim(kSim, {"--relay", "3:2", "--baud", "0", "--announce-dir", dir.Path},
                          test::TChildProcess::EStderr::Discard);
    ASSERT_FALSE(sim.Port().empty());
    const CliRun r = RunCli({"--port", sim.Port(), "--json", "--trace", "scan", "--from", "2", "--to", "2",
                             "--modbus", "--timeout", kPatient});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto out = nlohmann::json::parse(r.Out);
    EXPECT_EQ(out["port"], sim.Port());
    EXPECT_EQ(out["native"], false);
    EXPECT_EQ(out["modbus"], true);
    EXPECT_EQ(out["probes"], 1);
    EXPECT_EQ(out["complete"], true);
    EXPECT_EQ(out["answered"], 1);
    ASSERT_EQ(out["found"].size(), 1u);
    const auto& relay = out["found"][0];
    EXPECT_EQ(relay["bus"], 2);
    EXPECT_EQ(relay["modbus"], true);
    EXPECT_EQ(relay["model_byte"], 0x0B);
    EXPECT_EQ(relay["model"], "ТовикМ-25-M2");
    EXPECT_EQ(relay["kind"], 3);
    EXPECT_EQ(relay["kind_name"], "ТовикМ ModBus");
    EXPECT_EQ(relay["kind_certain"], true);
    EXPECT_EQ(relay["flags"].size(), 0u);
    EXPECT_EQ(relay["description"][0], "ТовикМ-25-M2");

    // The probe and its answer, decoded.
    const auto trace = Lines(r.Err);
    ASSERT_EQ(trace.size(), 2u) << r.Err;
    EXPECT_NE(trace[0].find(" TX №2 попытка 1: 02 03 00 3A 00 01 "), std::string::npos) << trace[0];
    EXPECT_NE(trace[0].find("— ModBus 3: чтение, регистры 58 (1 шт.) — для «чтение уставки «модель»"),
              std::string::npos)
        << trace[0];
    EXPECT_NE(trace[1].find(" RX №2 попытка 1 "), std::string::npos) << trace[1];
    EXPECT_NE(trace[1].find("— ModBus 3: ответ, 1 рег.: 0x000B — "), std::string::npos) << trace[1];
    EXPECT_EQ(trace[1].substr(trace[1].size() - std::string(" — принят").size()), " — принят");
}

TEST(CliScan, NoRelayAnsweredExitsOne) {
    test::PtyResponder nobody([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; });
    const CliRun r =
        RunCli({"--port", nobody.PortName(), "scan", "--from", "7", "--to", "8", "--timeout", "10"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_NE(r.Err.find("устройства не найдены"), std::string::npos) << r.Err;
    // Both wire formats by default: the four probes reach the peer. It tells
    // requests apart by a silence, so when its thread runs late two probes
    // are one request to it: the bytes are what to wait for.
    Bytes modbus7 = {7, 3, 0, 58, 0, 1}, modbus8 = {8, 3, 0, 58, 0, 1};
    AppendCrc(modbus7);
    AppendCrc(modbus8);
    Bytes probes;
    for (const Bytes& f :
         {BuildNativeFrame(Bytes{7, 4, 49, 1}), BuildNativeFrame(Bytes{8, 4, 49, 1}), modbus7, modbus8})
        probes.insert(probes.end(), f.begin(), f.end());
    EXPECT_TRUE(test::WaitUntil([&] {
        Bytes received;
        for (const Bytes& request : nobody.Requests())
            received.insert(received.end(), request.begin(), request.end());
        return received == probes;
    }));
}

TEST(CliScan, WrongOptionsSendNothing) {
    test::PtyResponder line([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; });
    const std::vector<std::vector<std::string>> wrong = {
        {"--port", line.PortName(), "scan", "--from", "9", "--to", "3"},
        {"--port", line.PortName(), "scan", "--from", "0"},
        {"--port", line.PortName(), "scan", "--to", "251"},
        {"--port", line.PortName(), "scan", "--timeout", "5"},
        {"--port", line.PortName(), "--kind", "0", "--bus", "1", "scan"},
        {"--port", line.PortName(), "--kind", "0", "--bus", "1", "poll", "--from", "3"},
        {"scan"},
    };
    for (const auto& args : wrong) {
        const CliRun r = RunCli(args);
        EXPECT_EQ(r.Code, 2) << args.back() << ": " << r.Err;
        EXPECT_FALSE(r.Err.empty());
    }
    EXPECT_EQ(line.RequestCount(), 0u);
    const CliRun help = RunCli({"scan", "--help"});
    EXPECT_EQ(help.Code, 0);
    EXPECT_EQ(
        help.Out.rfind("Usage: tovik-cli LINE [--json] scan [--from N] [--to N] [--native|--modbus]", 0), 0u)
        << help.Out;
}

}  // namespace
}  // namespace tovik
