// The main window: start-up, access rules, devices, ports and shut-down,
// on configurations written into a temporary directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "app/ConfigTestUtil.h"
#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/ui/AboutForm.h"
#include "app/ui/AcessSelectorUnit.h"
#include "app/ui/HelpForm.h"
#include "app/ui/main.h"
#include "app/ui/register.h"
#include "base/Assert.h"
#include "base/ui/Messages.h"
#include "panel/ui/TovikFrame.h"
#include "ports/ProtoUART.h"
#include "ports/ui/PortListUnit.h"
#include "ports/ui/UARTPortFrame.h"
#include "ports/ui/UARTSelectUnit.h"
#include "support/PtyResponder.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;

// A directory of the test's own, never a name another run could hold.
struct TempDir {
    fs::path path = Make();
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
    static fs::path Make() {
        std::string tmpl = (fs::temp_directory_path() / "tovik-ui-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        return tmpl;
    }
};

// Writes a configuration with the given accounts (and optional ports and
// devices) through the same save code as the program.
void WriteConfig(const std::string& dir, std::vector<std::tuple<std::string, uint8_t, std::string>> accounts,
                 std::vector<std::string> ports = {}, std::vector<uint8_t> devices = {}) {
    RegisterBuiltInKinds();
    TUsers users;
    TProtoPortList portList;
    TDeviceList deviceList;
    for (auto& [name, level, password] : accounts) users.Add(std::make_unique<TUser>(name, level, password));
    for (auto& p : ports) {
        auto port = std::make_unique<TProtoUART>(portList.Stats());
        port->SetPortName(p);
        portList.Add(std::move(port));
    }
    for (uint8_t kind : devices) deviceList.Add(std::make_unique<TTovikDevice>(kind));
    TSaveOptions options;
    options.Copy = TCopyPolicy::Never;
    ASSERT_TRUE(SaveConfiguration(dir, {users, portList, deviceList}, options).Saved);
    ReleaseConfiguration({users, portList, deviceList});
}

struct MessageLog {
    std::vector<std::pair<TMessageKind, QString>> Items;
    MessageLog() {
        SetMessageHook([this](TMessageKind k, const QString& t) { Items.emplace_back(k, t); });
    }
    ~MessageLog() { SetMessageHook(nullptr); }
    bool Has(const QString& text) const {
        return std::any_of(Items.begin(), Items.end(), [&](const auto& i) { return i.second == text; });
    }
    bool HasPrefix(const QString& text) const {
        return std::any_of(Items.begin(), Items.end(),
                           [&](const auto& i) { return i.second.startsWith(text); });
    }
};

bool Governed(TMainForm& f, bool list, bool settings, bool stats, bool add) {
    return f.DevList->isEnabled() == list && f.SettingsOpen->isEnabled() == settings &&
           f.OptionsOpen->isEnabled() == stats && f.AddTovik->isEnabled() == add &&
           f.AddTovikMB->isEnabled() == add && f.AddTovikM->isEnabled() == add &&
           f.AddTovikMMB->isEnabled() == add && f.DelDevice->isEnabled() == add;
}

TEST(MainWindow, ReadOnlyDefaultAccountGovernsTheActions) {
    TempDir dir;
    WriteConfig(dir.str(), {{"default", 2, ""}, {"admin", 1, "x"}});
    MessageLog log;
    TMainForm form(QString::fromStdString(dir.str()));
    EXPECT_FALSE(form.FatalStartup);
    ASSERT_NE(form.CurrentUser, nullptr);
    EXPECT_EQ(form.CurrentUser->Name, "default");
    EXPECT_TRUE(Governed(form, true, false, true, false));
    // Never disabled.
    EXPECT_TRUE(form.RegistrateUser->isEnabled());
    EXPECT_TRUE(form.ShowAbout->isEnabled());
    EXPECT_TRUE(form.HelpClick->isEnabled());
    EXPECT_EQ(form.windowTitle(), "Товик/ТовикМ v2.1");
    // The application name names files and folders (temporary files among
    // them): the caption with its "/" must not become it.
    EXPECT_FALSE(QCoreApplication::applicationName().contains('/'));
    EXPECT_TRUE(log.Items.empty());
}

TEST(MainWindow, WithoutDefaultNobodyIsLoggedIn) {
    TempDir dir;
    WriteConfig(dir.str(), {{"Default", 1, ""}});  // case matters
    MessageLog log;
    TMainForm form(QString::fromStdString(dir.str()));
    EXPECT_EQ(form.CurrentUser, nullptr);
    EXPECT_TRUE(Governed(form, false, false, false, false));
    form.SetCurrentUser(form.Users.Get(0));
    EXPECT_TRUE(Governed(form, true, true, true, true));
}

TEST(MainWindow, MissingConfigurationIsFatalAndLeavesNoFile) {
    TempDir dir;
    MessageLog log;
    {
        TMainForm form(QString::fromStdString(dir.str()));
        EXPECT_TRUE(form.FatalStartup);
        EXPECT_TRUE(Governed(form, false, false, false, false));
    }
    EXPECT_TRUE(
        log.Has(QString::fromStdString("Невозможно открыть файл конфигурации.\n" + dir.str() +
                                       "/application.cfg\n" + std::generic_category().message(ENOENT))));
    EXPECT_FALSE(fs::exists(dir.path / "application.cfg"));  // nothing written over it
    EXPECT_FALSE(fs::exists(dir.path / "app.cfg"));
    EXPECT_FALSE(fs::exists(dir.path / "application.cfg.lock"));  // let go at the end
}

TEST(MainWindow, DevicesAddedAndDeletedInBothLists) {
    TempDir dir;
    WriteConfig(dir.str(), {{"default", 1, ""}}, {}, {0, 2});
    MessageLog log;
    TMainForm form(QString::fromStdString(dir.str()));
    ASSERT_EQ(form.DevList->count(), 2);
    form.AddTovikMMB->trigger();
    ASSERT_EQ(form.DevList->count(), 3);
    EXPECT_EQ(form.DevList->item(2)->text(), "ТовикМ ModBus");
    EXPECT_EQ(form.Devices.Count(), 3);
    EXPECT_EQ(form.CurrentDevice, nullptr);  // nothing opens

    // Open the first device's panel, then delete it: both lists lose it.
    form.DevList->setCurrentRow(0);
    form.DevListClick();
    ASSERT_NE(form.CurrentDevice, nullptr);
    EXPECT_EQ(form.CurrentDevice, form.Devices.GetDevice(0));
    EXPECT_EQ(form.StatusPanel->text(), "Не настроено подключение.");
    form.DelDevice->trigger();
    EXPECT_EQ(form.CurrentDevice, nullptr);
    ASSERT_EQ(form.DevList->count(), 2);
    EXPECT_EQ(form.Devices.Count(), 2);
    EXPECT_EQ(form.DevList->item(0)->text(), "ТовикМ");
    EXPECT_EQ(form.DevList->item(1)->text(), "ТовикМ ModBus");
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(form.DevList->item(i)->data(Qt::UserRole).value<void*>(), form.Devices.GetDevice(i));

    // Without a selection nothing happens.
    form.DevList->clearSelection();
    form.DelDevice->trigger();
    EXPECT_EQ(form.Devices.Count(), 2);
}

TEST(MainWindow, LoginOrLogoutClosesThePanel) {
    TempDir dir;
    WriteConfig(dir.str(), {{"default", 1, ""}}, {}, {1});
    MessageLog log;
    TMainForm form(QString::fromStdString(dir.str()));
    form.DevList->setCurrentRow(0);
    form.DevListClick();
    ASSERT_NE(form.CurrentDevice, nullptr);
    form.SetCurrentUser(nullptr);
    EXPECT_EQ(form.CurrentDevice, nullptr);
    EXPECT_EQ(form.DevList->currentRow(), 0);  // the selection stays
}

TEST(MainWindow, ShutDownSavesChangesAndLeavesTheCopy) {
    TempDir dir;
    WriteConfig(dir.str(), {{"default", 1, ""}});
    MessageLog log;
    {
        TMainForm form(QString::fromStdString(dir.str()));
        form.AddTovikM->trigger();
        form.Users.Add(std::make_unique<TUser>("service", 0, "pw"));
    }
    ASSERT_TRUE(fs::exists(dir.path / "app.cfg"));
    for (const char* name : {"application.cfg", "app.cfg"}) {
        TUsers users;
        TProtoPortList ports;
        TDeviceList devices;
        const auto r = LoadConfigurationFile((dir.path / name).string(), {users, ports, devices});
        EXPECT_FALSE(r.Fatal) << name;
        EXPECT_EQ(users.Count(), 2) << name;
        ASSERT_EQ(devices.Count(), 1) << name;
        EXPECT_EQ(devices.GetDevice(0)->InstallationName, "ТовикМ");
        ReleaseConfiguration({users, ports, devices});
    }
}

// Records other versions may have written: an account of level 7 (full
// rights), a device of an unknown kind (listed; its panel refuses) and one
// with bus number 0. None of them stops the start-up.
TEST(MainWindow, OddRecordsLoadAndAreRefusedOnlyWhereUsed) {
    TempDir dir;
    const test::Bytes body =
        test::Concat({test::Section(test::Payload(1, test::AccountRecord("default", "", 7))),
                      test::Section(test::Payload(0)),
                      test::Section(test::Payload(
                          2, test::Concat({test::DeviceRecord(193, {}, 0, 1, "Odd", 9, 0),
                                           test::DeviceRecord(194, {}, 0, 0, "Broadcast", 1, 0)})))});
    test::WriteBytes((dir.path / "application.cfg").string(), test::FileBytes(body));
    MessageLog log;
    test::Bytes layout;
    {
        TMainForm form(QString::fromStdString(dir.str()));
        EXPECT_FALSE(form.FatalStartup);
        EXPECT_TRUE(log.Items.empty());
        ASSERT_NE(form.CurrentUser, nullptr);
        EXPECT_TRUE(Governed(form, true, true, true, true));  // level 7: full rights
        ASSERT_EQ(form.DevList->count(), 2);
        EXPECT_EQ(form.DevList->item(0)->text(), "Odd");
        form.DevList->setCurrentRow(0);
        form.DevListClick();
        EXPECT_EQ(form.StatusPanel->text(), "Неизвестный тип устройства (9).");
        // The panel leaves its layout in the record; nothing else changes.
        form.CloseCurrentPanel();
        ASSERT_NE(form.Devices.GetDevice(0)->PanelLayout, nullptr);
        layout = form.Devices.GetDevice(0)->PanelLayout->Bytes();
        EXPECT_EQ(layout.size(), 16u);
    }
    EXPECT_TRUE(log.Items.empty());
    const test::Bytes saved =
        test::Concat({test::Section(test::Payload(1, test::AccountRecord("default", "", 7))),
                      test::Section(test::Payload(0)),
                      test::Section(test::Payload(
                          2, test::Concat({test::DeviceRecord(193, layout, 0, 1, "Odd", 9, 0),
                                           test::DeviceRecord(194, {}, 0, 0, "Broadcast", 1, 0)})))});
    EXPECT_EQ(test::PlainBodyOf(test::ReadBytes((dir.path / "application.cfg").string())), saved);
}

TEST(MainWindow, FifoConfigurationIsRefusedWithItsReason) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir.path / "application.cfg").c_str(), 0600), 0);
    MessageLog log;
    {
        TMainForm form(QString::fromStdString(dir.str()));
        EXPECT_TRUE(form.FatalStartup);
    }
    ASSERT_EQ(log.Items.size(), 1u);
    EXPECT_EQ(log.Items[0].first, TMessageKind::Error);
    // The message, the file and the reason, each on a line.
    EXPECT_EQ(log.Items[0].second.toStdString(), "Невозможно открыть файл конфигурации.\n" + dir.str() +
                                                     "/application.cfg\n" +
                                                     NotRegularFileReason(TFileKind::Fifo));
}

TEST(MainWindow, WriteProtectedConfigurationIsKeptAndTheReasonShown) {
    TempDir dir;
    WriteConfig(dir.str(), {{"default", 1, ""}});
    const std::string path = (dir.path / "application.cfg").string();
    const test::Bytes before = test::ReadBytes(path);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    MessageLog log;
    {
        TMainForm form(QString::fromStdString(dir.str()));
        form.AddTovik->trigger();   // saved at once: refused, and said
        form.AddTovikM->trigger();  // refused again, said no more
    }
    // The change, then the shut-down.
    const std::string text =
        "Ошибка создания файла конфигурации.\n" + path + "\n" + std::generic_category().message(EACCES);
    ASSERT_EQ(log.Items.size(), 2u);
    EXPECT_EQ(log.Items[0].second.toStdString(), text);
    EXPECT_EQ(log.Items[1].second.toStdString(), text);
    EXPECT_EQ(test::ReadBytes(path), before);
    EXPECT_FALSE(fs::exists(dir.path / "app.cfg"));
}

// Port list window: the selection dialog is answered by a timer, as a user would.
struct PortWindowTest : ::testing::Test {
    TempDir dir;
    MessageLog log;
    std::unique_ptr<TMainForm> form;
    void SetUp() override {
        WriteConfig(dir.str(), {{"default", 1, ""}});
        form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
    }
    // Adds a port as if the user chose `name` in the dialog.
    void AddPort(const std::string& name) {
        QTimer::singleShot(0, form->UARTSelectForm, [this, name] {
            form->UARTSelectForm->PortCB->addItem(QString::fromStdString(name));
            form->UARTSelectForm->PortCB->setCurrentIndex(form->UARTSelectForm->PortCB->count() - 1);
            form->UARTSelectForm->PortCBSelect();
            form->UARTSelectForm->accept();
        });
        form->PortListForm->AddNewUARTPort1Click();
    }
};

TEST_F(PortWindowTest, AddTwiceUnopenableAndDelete) {
    test::PtyResponder simA, simB;
    AddPort(simA.PortName());
    ASSERT_EQ(form->Ports.Count(), 1);
    EXPECT_EQ(form->PortListForm->PortsListBox->item(0)->text().toStdString(), simA.PortName());
    EXPECT_FALSE(form->Ports.Items(0)->Bus.load());
    EXPECT_EQ(form->Ports.Items(0)->ReplyTimeout.load(), 0);

    AddPort(simA.PortName());
    EXPECT_TRUE(log.Has("Выбранный порт нельзя добавить, выберите другой."));
    EXPECT_EQ(form->Ports.Count(), 1);

    AddPort("ttyNONE5");
    // The system's reason on a line of its own (its wording in parentheses follows the locale).
    EXPECT_TRUE(log.HasPrefix("Ошибка открытия выбранного порта.\nнет такого устройства ("));
    EXPECT_EQ(form->Ports.Count(), 1);

    AddPort(simB.PortName());
    ASSERT_EQ(form->Ports.Count(), 2);

    // Select the first port: its frame appears; delete it: frame, line and port go.
    form->PortListForm->PortsListBox->setCurrentRow(0);
    form->PortListForm->PortsListBoxClick();
    ASSERT_NE(CurrentUartFrame, nullptr);
    form->PortListForm->DeletePort1Click();
    EXPECT_EQ(CurrentUartFrame, nullptr);
    ASSERT_EQ(form->Ports.Count(), 1);
    ASSERT_EQ(form->PortListForm->PortsListBox->count(), 1);
    EXPECT_EQ(form->PortListForm->PortsListBox->item(0)->text().toStdString(), simB.PortName());
    EXPECT_EQ(form->Ports.Items(0)->Name, simB.PortName());
}

TEST_F(PortWindowTest, CancelledOrEmptyChoiceAddsNothing) {
    QTimer::singleShot(0, form->UARTSelectForm, [this] { form->UARTSelectForm->reject(); });
    form->PortListForm->AddNewUARTPort1Click();
    QTimer::singleShot(0, form->UARTSelectForm, [this] { form->UARTSelectForm->accept(); });
    form->PortListForm->AddNewUARTPort1Click();
    EXPECT_TRUE(log.Has("Необходимо выбрать порт."));
    EXPECT_EQ(form->Ports.Count(), 0);
}

// Every change of accounts, ports or devices is on the disk at once: a
// kill right after it loses nothing. Each step leaves the file holding
// exactly what the program holds.
TEST_F(PortWindowTest, EveryChangeIsOnTheDiskAtOnce) {
    test::PtyResponder line;
    const std::string file = dir.str() + "/application.cfg";
    auto plain = [this] {
        TMemoryStream body;
        EXPECT_TRUE(BuildPlainBody({form->Users, form->Ports, form->Devices}, body));
        return body.Bytes();
    };
    auto frame = [this] { return form->PanelArea->findChild<TTTovikFrame*>(); };
    struct Step {
        const char* What;
        std::function<void()> Act;
    };
    const Step steps[] = {
        {"a device added", [&] { form->AddTovikM->trigger(); }},
        {"a port added", [&] { AddPort(line.PortName()); }},
        {"the port's bus mode",
         [&] {
             form->PortListForm->PortsListBox->setCurrentRow(0);
             form->PortListForm->PortsListBoxClick();
             ASSERT_NE(CurrentUartFrame, nullptr);
             CurrentUartFrame->UARTBusCheckBox->click();
         }},
        {"an account added",
         [&] {
             form->RegForm->LoginEdit->setText("reader");
             form->RegForm->RefreshLoginState();
             QTimer::singleShot(0, form->AcessSelectForm, [this] {
                 form->AcessSelectForm->AcessTypeComboBox->setCurrentIndex(1);
                 form->AcessSelectForm->accept();
             });
             form->RegForm->AddUserButtonClick();
         }},
        {"the bus number on the panel",
         [&] {
             form->DevList->setCurrentRow(0);
             form->DevListClick();
             ASSERT_NE(frame(), nullptr);
             frame()->BusIDSE->setValue(17);
         }},
        {"the name on the panel",
         [&] {
             QTest::mouseDClick(frame()->TovikAgreName, Qt::LeftButton);
             frame()->TovikAgreName->setText("Насосная");
             QTest::keyClick(frame()->TovikAgreName, Qt::Key_Return);
         }},
        // What the panel does at the end of a journal fetch.
        {"the alarm cache",
         [&] {
             auto* device = static_cast<TTovikDevice*>(form->Devices.GetDevice(0));
             device->AlarmCache.push_back(TAlarmRecord{7});
             device->RecordChanged();
         }},
        {"the device deleted", [&] { form->DelDevice->trigger(); }},
    };
    test::Bytes before = plain();
    for (const Step& step : steps) {
        step.Act();
        const test::Bytes now = plain();
        EXPECT_NE(now, before) << step.What << ": nothing changed";
        EXPECT_EQ(test::PlainBodyOf(test::ReadBytes(file)), now) << step.What;
        before = now;
    }
    EXPECT_EQ(form->Users.Count(), 2);
    // A record that did not change writes nothing; there is no "app.cfg"
    // while the program runs.
    form->AddTovik->trigger();
    struct stat saved {};
    ASSERT_EQ(::stat(file.c_str(), &saved), 0);
    struct stat again {};
    form->Devices.GetDevice(0)->RecordChanged();
    ASSERT_EQ(::stat(file.c_str(), &again), 0);
    EXPECT_EQ(again.st_ino, saved.st_ino);
    EXPECT_FALSE(fs::exists(dir.path / "app.cfg"));
    EXPECT_TRUE(log.Items.empty());
}

// A second copy on the file a running one holds ends at once and writes
// nothing; tovik-config leaves the file alone while it is held.
TEST(MainWindow, ASecondCopyOnOneFileEndsAndTheToolWaitsForTheFirst) {
    TempDir dir;
    WriteConfig(dir.str(), {{"default", 1, ""}});
    const std::string path = dir.str() + "/application.cfg";
    MessageLog log;
    auto first = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
    EXPECT_EQ(first->AboutForm->findChild<QLabel*>("AboutConfig")->text().toStdString(),
              "Файл конфигурации: " + path);
    first->AddTovik->trigger();
    const test::Bytes held = test::ReadBytes(path);
    {
        TMainForm second(QString::fromStdString(dir.str()));
        EXPECT_TRUE(second.FatalStartup);
        EXPECT_TRUE(second.ConfigInUse);
        EXPECT_EQ(second.Devices.Count(), 0);  // nothing loaded, no port opened
        second.AddDeviceOfKind(2);
    }
    ASSERT_EQ(log.Items.size(), 1u);
    EXPECT_EQ(log.Items[0].second.toStdString(), std::string(kMsgConfigInUse) + "\n" + path + "\nПроцесс " +
                                                     std::to_string(::getpid()) + ".\n" + kMsgConfigInUseEnd);
    EXPECT_EQ(test::ReadBytes(path), held);
    EXPECT_FALSE(fs::exists(dir.path / "app.cfg"));

    auto addAccount = [&](int& code) {
        QProcess tool;
        tool.start(QStringLiteral(TOVIK_BINARY_DIR "/bin/tovik-config"),
                   {"add-account", QString::fromStdString(path), "reader", "pw", "2"});
        EXPECT_TRUE(tool.waitForFinished(120000));
        code = tool.exitCode();
        return QString::fromUtf8(tool.readAllStandardError()).toStdString();
    };
    int code = -1;
    const std::string refused = addAccount(code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(refused.find("is in use by a running program (process " + std::to_string(::getpid()) + ")"),
              std::string::npos)
        << refused;
    EXPECT_EQ(test::ReadBytes(path), held);
    first.reset();
    EXPECT_FALSE(fs::exists(path + ".lock"));
    addAccount(code);
    EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace tovik

namespace tovik {
namespace {

// "Помощь" (F1) opens the manual in one window: the contents, or with a
// device panel open the section of the tab in view, titled after that tab.
TEST(MainWindow, HelpOpensTheManualAtTheTabInView) {
    TempDir dir;
    WriteConfig(dir.str(), {{"default", 0, ""}}, {}, {3});  // the service level sees every tab
    MessageLog log;
    TMainForm form(QString::fromStdString(dir.str()));
    form.HelpClick->trigger();
    auto* help = form.findChild<THelpForm*>("HelpForm");
    ASSERT_NE(help, nullptr);
    ASSERT_TRUE(help->ManualFound());
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->HelpBrowser->source().fileName(), "index.html");

    form.DevList->setCurrentRow(0);
    form.DevListClick();
    auto* tabs = form.PanelArea->findChild<QTabWidget*>("TovikControl");
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 5);
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        form.HelpClick->trigger();
        // The data tab's caption names the kind: "Данные ТовикМ ModBus".
        const QString tab =
            tabs->tabText(i).startsWith("Данные") ? QStringLiteral("Данные") : tabs->tabText(i);
        EXPECT_EQ(help->HelpBrowser->documentTitle(), "Панель устройства: вкладка «" + tab + "»")
            << help->HelpBrowser->source().toString().toStdString();
    }
    EXPECT_EQ(form.findChildren<THelpForm*>().size(), 1);
    EXPECT_TRUE(log.Items.empty());
}

TEST(Assertions, FailedCheckIsReportedAndTheProgramGoesOn) {
    MessageLog log;
    InstallAssertionBox();
    int value = 2;
    TOVIK_ASSERT(value == 2);
    EXPECT_TRUE(log.Items.empty());
    TOVIK_ASSERT(value == 3);
    ASSERT_EQ(log.Items.size(), 1u);
    EXPECT_EQ(log.Items[0].first, TMessageKind::Error);
    const QRegularExpression format(
        R"(^value == 3 \(.*main_window_test\.cpp, line \d+, address \$[0-9a-f]+\)$)");
    EXPECT_TRUE(format.match(log.Items[0].second).hasMatch()) << log.Items[0].second.toStdString();
    SetAssertHook(nullptr);
}

}  // namespace
}  // namespace tovik
