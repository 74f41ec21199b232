#pragma once
// A small plant on two simulated lines, for the plant overview's tests:
// line 0 native ("Товик" at 1, "ТовикМ" at 2), line 1 ModBus ("Товик
// ModBus" at 3, "ТовикМ ModBus" at 4), each tovik-sim with its request log
// and its clock at 12:00:00 on 7 March 2026; the ports and devices on them,
// in memory or in a configuration file of its own.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "support/ChildProcess.h"
#include "support/RequestLog.h"
#include "support/TempDir.h"

namespace tovik::test {

struct TPlantRelay {
    uint8_t Kind;
    int Line;
    uint8_t Bus;
    const char* Name;
};
inline constexpr TPlantRelay kPlantRelays[] = {
    {kKindTovik, 0, 1, "Насосная 1"},
    {kKindTovikM, 0, 2, "Насосная 2"},
    {kKindTovikModbus, 1, 3, "Вентиляция 1"},
    {kKindTovikMModbus, 1, 4, "Вентиляция 2"},
};

class TPlantLines {
public:
    // Both lines; a failed assertion when a simulator did not start.
    void Start() {
        Dir = std::make_unique<TempDir>("tovik-plant");
        ASSERT_FALSE(Dir->Path.empty());
        for (int line = 0; line < 2; ++line) {
            LogPaths[line] = Dir->File(line ? "line-b.log" : "line-a.log");
            std::vector<std::string> args = {"--baud", "0", "--log", LogPaths[line]};
            for (const TPlantRelay& r : kPlantRelays) {
                if (r.Line != line) continue;
                args.push_back("--relay");
                args.push_back(std::to_string(r.Kind) + ":" + std::to_string(r.Bus));
            }
            Sims[line] = std::make_unique<TSimProcess>(TOVIK_BINARY_DIR "/bin/tovik-sim", args,
                                                       TChildProcess::EStderr::Discard);
            ASSERT_FALSE(Sims[line]->Port().empty());
            ASSERT_EQ(Sims[line]->Command("clock * 12:00:00 07.03.2026"), "ok");
        }
    }

    const std::string& Port(int line) const { return Sims[line]->Port(); }
    // A command on the simulator's standard input; its answer.
    std::string Command(int line, const std::string& text) { return Sims[line]->Command(text); }
    std::vector<TLoggedRequest> Log(int line) const { return ReadRequestLog(LogPaths[line]); }

    // The two lines as ports of `TPort` (the serial port, or the record
    // without a line for a configuration file), in bus mode.
    template <class TPort>
    void AddPorts(TProtoPortList& ports, int32_t replyTimeout, int32_t interval) const {
        for (int line = 0; line < 2; ++line) {
            auto port = std::make_unique<TPort>(ports.Stats());
            ASSERT_TRUE(port->SetPortName(Port(line)));
            port->Bus = true;
            port->ReplyTimeout = replyTimeout;
            port->RequestInterval = interval;
            ports.Add(std::move(port));
        }
    }
    // One device per relay, on the ports AddPorts made (the first two of the list).
    static void AddDevices(TDeviceList& devices, const TProtoPortList& ports) {
        for (const TPlantRelay& r : kPlantRelays) {
            auto device = std::make_unique<TTovikDevice>(r.Kind);
            device->PortId = ports.Items(r.Line)->Id;
            device->BusAddress = r.Bus;
            device->InstallationName = r.Name;
            devices.Add(std::move(device));
        }
    }
    // "application.cfg" in the plant's folder: the account "default" at
    // `access`, the two ports and the four devices.
    std::string WriteConfig(uint8_t access, int32_t replyTimeout, int32_t interval) const {
        RegisterBuiltInKinds();
        TUsers users;
        users.Add(std::make_unique<TUser>("default", access, ""));
        TProtoPortList ports(std::make_shared<TRequestStats>());
        AddPorts<TUartSettingsPort>(ports, replyTimeout, interval);
        TDeviceList devices;
        AddDevices(devices, ports);
        TSaveOptions options;
        options.Copy = TCopyPolicy::Never;
        EXPECT_TRUE(SaveConfiguration(Dir->Path, {users, ports, devices}, options).Saved);
        ReleaseConfiguration({users, ports, devices});
        return Dir->File("application.cfg");
    }

    std::unique_ptr<TempDir> Dir;

private:
    std::unique_ptr<TSimProcess> Sims[2];
    std::string LogPaths[2];
};

}  // namespace tovik::test
