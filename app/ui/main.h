#pragma once
// The main window: owner of the accounts, ports, devices, the logged-in
// account and the request statistics. Its creation is the start-up, its
// destruction the shut-down.
#include <QMainWindow>
#include <QString>
#include <memory>

#include "app/Configuration.h"
#include "app/Device.h"
#include "app/DeviceList.h"
#include "app/UsersMod.h"
#include "ports/ProtoPortList.h"

class QAction;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QSplitter;
class QToolButton;

namespace tovik {

class TAboutForm;
class TAcessSelectForm;
class TBusScanForm;
class TOptForm;
class TPortListForm;
class TRegForm;
class TUARTSelectForm;

class TMainForm : public QMainWindow, public IDevicePanelHost {
    Q_OBJECT
public:
    // On the configuration `place` (FindConfiguration).
    explicit TMainForm(TConfigPlace place, QWidget* parent = nullptr);
    // On "application.cfg" and "app.cfg" in `configDir`.
    explicit TMainForm(const QString& configDir, QWidget* parent = nullptr);
    ~TMainForm() override;

    void SetCurrentUser(TUser* user);
    void AddDevice(std::unique_ptr<TDevice> device);
    void CloseCurrentPanel();
    void SetActionEnabled(const QString& name, bool enabled);
    // Runs the shut-down now (the destructor does it otherwise); only once.
    void ShutDown();
    // Saves the configuration after a change of accounts, ports or devices
    // (or of a device's alarm cache), so that a crash or a power cut loses
    // none of it. Nothing is written when nothing the file holds changed;
    // a failure is shown once until a save succeeds again. No "app.cfg"
    // copy: that is left at shut-down.
    void SaveAfterChange();
    const TConfigPlace& ConfigPlace() const { return Place; }

    std::unique_ptr<IDevicePanel> CreatePanel(TDevice& device) override;

    // Global state.
    std::shared_ptr<TRequestStats> Stats;
    TUsers Users;
    TProtoPortList Ports;
    TDeviceList Devices;
    TUser* CurrentUser = nullptr;
    TDevice* CurrentDevice = nullptr;
    bool FatalStartup = false;
    // Another copy of the program holds the file: this one ends at once and
    // writes nothing.
    bool ConfigInUse = false;

    // Window parts, named as people and tests know them.
    QWidget* Panel1 = nullptr;
    QToolButton* RegBut = nullptr;
    QToolButton* OptionsBut = nullptr;
    QToolButton* SettingsBut = nullptr;
    QToolButton* HelpBut = nullptr;
    QToolButton* AboutBut = nullptr;
    QGroupBox* DevsGroupBox = nullptr;
    QListWidget* DevList = nullptr;
    QSplitter* Splitter1 = nullptr;
    QWidget* PanelArea = nullptr;
    QLabel* StatusPanel = nullptr;  // the status bar's single panel
    QMenu* DevListPopupMenu = nullptr;
    QList<QAction*> ActionList;
    QAction* SettingsOpen = nullptr;
    QAction* ShowAbout = nullptr;
    QAction* RegistrateUser = nullptr;
    QAction* OptionsOpen = nullptr;
    QAction* HelpClick = nullptr;
    QAction* AddTovik = nullptr;
    QAction* DelDevice = nullptr;
    QAction* AddTovikMB = nullptr;
    QAction* AddTovikM = nullptr;
    QAction* AddTovikMMB = nullptr;
    QAction* ScanDevices = nullptr;  // "Поиск устройств..."

    // The windows created after the main window.
    TPortListForm* PortListForm = nullptr;
    TAboutForm* AboutForm = nullptr;
    TUARTSelectForm* UARTSelectForm = nullptr;
    TRegForm* RegForm = nullptr;
    TAcessSelectForm* AcessSelectForm = nullptr;
    TOptForm* OptForm = nullptr;
    TBusScanForm* BusScanForm = nullptr;

public slots:
    void DevListClick();
    void DelDeviceExecute();
    void AddDeviceOfKind(int kind);
    // "Поиск устройств...", on `port` when one is given.
    void ScanDevicesExecute(TProtoPort* port = nullptr);

private:
    void BuildWindow();
    void CreateWindows();
    void StartUp();
    // Each message about the file with the file's name below it; the system's
    // reason belongs to the first.
    void ShowMessages(const std::vector<std::string>& messages, const std::string& reason,
                      const std::string& path);
    TConfigLists Lists() { return {Users, Ports, Devices}; }

    TConfigPlace Place;
    TFileLock ConfigLock;
    std::vector<uint8_t> SavedBody;  // the plain body the file holds
    bool SaveFailing = false;
    bool ShutDownDone = false;
};

}  // namespace tovik
