// "Поиск устройств..." in the main window: offered only where devices may
// be added, reachable from the port list window too, and its relays join
// the device list the way the add actions add them, with their port and
// bus number filled in.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/ui/main.h"
#include "base/ui/Messages.h"
#include "ports/ProtoUART.h"
#include "ports/ui/BusScanUnit.h"
#include "ports/ui/PortListUnit.h"
#include "support/ChildProcess.h"
#include "support/ManualClock.h"
#include "support/ScanDriver.h"
#include "support/TraceRecorder.h"

namespace tovik {
namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tovik-search-XXXXXX";
        if (::mkdtemp(tmpl)) Path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
    std::string Path;
};

// A configuration with a full-access "default" (or a read-only one) and
// one port.
void WriteConfig(const std::string& dir, uint8_t level, const std::string& portName) {
    RegisterBuiltInKinds();
    TUsers users;
    TProtoPortList ports;
    TDeviceList devices;
    users.Add(std::make_unique<TUser>("default", level, ""));
    auto port = std::make_unique<TProtoUART>(ports.Stats());
    port->SetPortName(portName);
    ports.Add(std::move(port));
    TSaveOptions options;
    options.Copy = TCopyPolicy::Never;
    ASSERT_TRUE(SaveConfiguration(dir, {users, ports, devices}, options).Saved);
    ReleaseConfiguration({users, ports, devices});
}

struct Silence {
    Silence() {
        SetMessageHook([](TMessageKind, const QString&) {});
    }
    ~Silence() { SetMessageHook(nullptr); }
};

class MainDeviceSearch : public ::testing::Test {
protected:
    void SetUp() override {
        Sim = std::make_unique<test::TSimProcess>(
            TOVIK_BINARY_DIR "/bin/tovik-sim",
            std::vector<std::string>{"--baud", "0", "--announce-dir", Dir.Path + "/announce",
                                     "--manual-clock", "--relay", "0:1", "--relay", "2:2"});
        ASSERT_FALSE(Sim->Port().empty());
    }
    TempDir Dir;
    Silence Quiet;
    std::unique_ptr<test::TSimProcess> Sim;
};

TEST_F(MainDeviceSearch, OfferedOnlyWithFullAccess) {
    WriteConfig(Dir.Path, kReadOnlyAccess, Sim->Port());
    TMainForm form(QString::fromStdString(Dir.Path));
    ASSERT_NE(form.CurrentUser, nullptr);
    EXPECT_EQ(form.ScanDevices->text(), "Поиск устройств...");
    EXPECT_FALSE(form.ScanDevices->isEnabled());
    EXPECT_FALSE(form.AddTovik->isEnabled());
    // It is in the "Команды" menu.
    QMenu* commands = form.findChild<QMenu*>("Commands1");
    ASSERT_NE(commands, nullptr);
    EXPECT_TRUE(commands->actions().contains(form.ScanDevices));
    form.SetCurrentUser(nullptr);
    EXPECT_FALSE(form.ScanDevices->isEnabled());
}

TEST_F(MainDeviceSearch, TheRelaysFoundJoinTheDeviceList) {
    test::ManualClock clock;
    WriteConfig(Dir.Path, 1, Sim->Port());
    TMainForm form(QString::fromStdString(Dir.Path));
    ASSERT_TRUE(form.ScanDevices->isEnabled());
    ASSERT_EQ(form.Ports.Count(), 1);
    TProtoPort* port = form.Ports.Items(0);
    auto trace = std::make_shared<test::TraceRecorder>();
    port->SetFrameTrace(trace);
    // The port list window hands its port to the same search.
    ASSERT_TRUE(static_cast<bool>(form.PortListForm->OnScanPort));

    TBusScanForm& search = *form.BusScanForm;
    search.FillPorts(port);
    search.show();
    auto run = [&] {
        search.FromSE->setValue(1);
        search.ToSE->setValue(3);
        search.ModbusCheckBox->setChecked(false);
        search.TimeoutSE->setValue(40);
        trace->Clear();
        QTest::mouseClick(search.StartBtn, Qt::LeftButton);
        ASSERT_NE(search.Scan(), nullptr);
        test::ScanDriver driver{clock,
                                *trace,
                                40,
                                [](uint8_t a, bool) { return a == 1 || a == 2 ? 1 : 0; },
                                [&] { return search.Scan() && search.Scan()->Running(); },
                                [&] { return search.Scan()->Progress().Done; },
                                [] { QTest::qWait(2); }};
        ASSERT_TRUE(driver.Run());
    };
    run();
    ASSERT_EQ(search.FoundGrid->rowCount(), 2);
    QTest::mouseClick(search.AddDevicesBtn, Qt::LeftButton);

    ASSERT_EQ(form.Devices.Count(), 2);
    ASSERT_EQ(form.DevList->count(), 2);
    const uint8_t kinds[] = {kKindTovik, kKindTovikM};
    for (int i = 0; i < 2; ++i) {
        const auto* d = dynamic_cast<const TTovikDevice*>(form.Devices.GetDevice(i));
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->GetDeviceKind(), kinds[i]);
        EXPECT_EQ(d->BusAddress, i + 1);
        EXPECT_EQ(d->PortId, port->Id);
        EXPECT_EQ(form.DevList->item(i)->text(), QString::fromUtf8(DeviceKindName(kinds[i])));
    }

    // Searching again marks both as listed and offers neither.
    run();
    for (int row = 0; row < 2; ++row) {
        EXPECT_TRUE(search.FoundGrid->item(row, TBusScanForm::ColNotes)->text().startsWith("уже в списке"));
        EXPECT_EQ(search.FoundGrid->item(row, TBusScanForm::ColAdd)->checkState(), Qt::Unchecked);
    }
    QTest::mouseClick(search.AddDevicesBtn, Qt::LeftButton);
    EXPECT_EQ(form.Devices.Count(), 2);
    search.hide();
    form.ShutDown();
}

}  // namespace
}  // namespace tovik
