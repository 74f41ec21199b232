#pragma once
// The application on one simulated line, for the window tests: tovik-sim
// with relays of one kind and its request log, a configuration of its own
// (one account, the devices on the line) and the main window on it; the
// event loop run until something holds; the message boxes the program shows.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QString>
#include <QTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "app/ui/main.h"
#include "base/ui/Messages.h"
#include "panel/ui/TovikFrame.h"
#include "support/ChildProcess.h"
#include "support/RequestLog.h"
#include "support/TempDir.h"

namespace tovik::test {

inline constexpr int kWindowWaitMs = 30000;  // only ends a hung test; never decides a pass

// Runs the event loop until `done` holds; false after kWindowWaitMs.
template <class F>
bool Until(F done) {
    return QTest::qWaitFor(done, kWindowWaitMs);
}

// The message boxes shown while it lives, instead of showing them.
struct TMessageLog {
    std::vector<QString> Items;
    TMessageLog() {
        SetMessageHook([this](TMessageKind, const QString& t) { Items.push_back(t); });
    }
    ~TMessageLog() { SetMessageHook(nullptr); }
    TMessageLog(const TMessageLog&) = delete;
    TMessageLog& operator=(const TMessageLog&) = delete;
};

class TPanelApp {
public:
    // A line with relays of `kind` at `addresses` (their clock at 12:00:00 on
    // 7 March 2026), a configuration of its own with the account "default"
    // at `access` and one device of that kind on the line per name, and the
    // main window on it with the first device's panel open.
    void Start(uint8_t kind, uint8_t access, const std::vector<int>& addresses = {1},
               const std::vector<std::string>& names = {"Насосная 1"}) {
        Stop();
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Kind = kind;
        Dir = std::make_unique<TempDir>("tovik-panel");
        ASSERT_FALSE(Dir->Path.empty());
        LogPath = Dir->Path + "/requests.log";
        std::vector<std::string> args = {"--baud", "0", "--log", LogPath};
        for (int a : addresses) {
            args.push_back("--relay");
            args.push_back(std::to_string(kind) + ":" + std::to_string(a));
        }
        Sim = std::make_unique<TSimProcess>(TOVIK_BINARY_DIR "/bin/tovik-sim", args,
                                            TChildProcess::EStderr::Discard);
        ASSERT_FALSE(Sim->Port().empty());
        ASSERT_EQ(Sim->Command("clock * 12:00:00 07.03.2026"), "ok");

        RegisterBuiltInKinds();
        auto stats = std::make_shared<TRequestStats>();
        TUsers users;
        users.Add(std::make_unique<TUser>("default", access, ""));
        TProtoPortList ports(stats);
        auto port = std::make_unique<TUartSettingsPort>(stats);
        ASSERT_TRUE(port->SetPortName(Sim->Port()));
        port->Bus = true;
        port->ReplyTimeout = 150;
        port->RequestInterval = 100;
        const int32_t portId = port->Id;
        ports.Add(std::move(port));
        TDeviceList devices;
        for (const std::string& name : names) {
            auto device = std::make_unique<TTovikDevice>(kind);
            device->PortId = portId;
            device->InstallationName = name;
            devices.Add(std::move(device));
        }
        TSaveOptions options;
        options.Copy = TCopyPolicy::Never;
        ASSERT_TRUE(SaveConfiguration(Dir->Path, {users, ports, devices}, options).Saved);
        ReleaseConfiguration({users, ports, devices});

        Form = std::make_unique<TMainForm>(QString::fromStdString(Dir->Path));
        Form->resize(1000, 700);
        Form->show();
        OpenDevice(0);
    }

    // Ends the window first, then the line.
    void Stop() {
        Form.reset();
        Sim.reset();
    }

    void OpenDevice(int row) {
        Form->DevList->setCurrentRow(row);
        Form->DevListClick();
        ASSERT_NE(Frame(), nullptr);
    }

    TTTovikFrame* Frame() const { return Form->PanelArea->findChild<TTTovikFrame*>("TTovikFrame"); }
    TTovikDevice* Device() const { return dynamic_cast<TTovikDevice*>(Form->CurrentDevice); }
    std::vector<TLoggedRequest> Log() const { return ReadRequestLog(LogPath); }
    // Waits until the panel has read the relay's setpoints.
    bool SetpointsRead() const {
        return Until([&] { return Frame() && Frame()->Model().Data().View().HasSetpoints(); });
    }

    std::unique_ptr<TempDir> Dir;
    std::string LogPath;
    uint8_t Kind = 0;
    std::unique_ptr<TSimProcess> Sim;
    std::unique_ptr<TMainForm> Form;
};

}  // namespace tovik::test
