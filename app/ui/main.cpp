#include "app/ui/main.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/ui/AboutForm.h"
#include "app/ui/AcessSelectorUnit.h"
#include "app/ui/HelpForm.h"
#include "app/ui/register.h"
#include "base/ui/Messages.h"
#include "panel/ui/TovikFrame.h"
#include "ports/ui/BusScanUnit.h"
#include "ports/ui/MonitorUnit.h"
#include "ports/ui/OptUnit.h"
#include "ports/ui/PortListUnit.h"
#include "ports/ui/UARTPortFrame.h"
#include "ports/ui/UARTSelectUnit.h"

namespace tovik {

namespace {
const QString kCaption = QStringLiteral("Товик/ТовикМ v2.1");
}

TMainForm::TMainForm(TConfigPlace place, QWidget* parent)
    : QMainWindow(parent), Stats(std::make_shared<TRequestStats>()), Ports(Stats), Place(std::move(place)) {
    BuildWindow();
    StartUp();
    CreateWindows();
}

TMainForm::TMainForm(const QString& configDir, QWidget* parent)
    : TMainForm(ConfigPlaceIn(configDir.toStdString()), parent) {}

TMainForm::~TMainForm() {
    ShutDown();
}

void TMainForm::BuildWindow() {
    setObjectName("MainForm");
    // The caption is the application's title too: on this desktop that is
    // the window title itself. (The application name stays a plain word: it
    // names files and folders.)
    setWindowTitle(kCaption);
    resize(784, 575);
    setMinimumSize(400, 300);
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Actions.
    auto makeAction = [this](const char* name, const QString& caption, const QKeySequence& key,
                             QStyle::StandardPixmap icon) {
        auto* a = new QAction(style()->standardIcon(icon), caption, this);
        a->setObjectName(name);
        if (!key.isEmpty()) a->setShortcut(key);
        addAction(a);
        ActionList.append(a);
        return a;
    };
    SettingsOpen = makeAction("SettingsOpen", QStringLiteral("Настройки"), QKeySequence("Ctrl+N"),
                              QStyle::SP_FileDialogDetailedView);
    ShowAbout = makeAction("ShowAbout", QStringLiteral("О программе"), QKeySequence(Qt::Key_F4),
                           QStyle::SP_MessageBoxInformation);
    RegistrateUser = makeAction("RegistrateUser", QStringLiteral("Регистрация"), QKeySequence("Ctrl+R"),
                                QStyle::SP_DialogApplyButton);
    OptionsOpen = makeAction("OptionsOpen", QStringLiteral("Статистика"), QKeySequence("Ctrl+O"),
                             QStyle::SP_FileDialogInfoView);
    HelpClick = makeAction("HelpClick", QStringLiteral("Помощь"), QKeySequence(Qt::Key_F1),
                           QStyle::SP_DialogHelpButton);
    AddTovik = makeAction("AddTovik", QStringLiteral("Добавить Товик"), {}, QStyle::SP_FileIcon);
    DelDevice = makeAction("DelDevice", QStringLiteral("Удалить устройство"), {}, QStyle::SP_TrashIcon);
    AddTovikMB = makeAction("AddTovikMB", QStringLiteral("Добавить Товик ModBus"), {}, QStyle::SP_FileIcon);
    AddTovikM = makeAction("AddTovikM", QStringLiteral("Добавить ТовикМ"), {}, QStyle::SP_FileIcon);
    AddTovikMMB =
        makeAction("AddTovikMMB", QStringLiteral("Добавить ТовикМ ModBus"), {}, QStyle::SP_FileIcon);
    ScanDevices = makeAction("ScanDevices", QStringLiteral("Поиск устройств..."), {},
                             QStyle::SP_FileDialogContentsView);

    connect(SettingsOpen, &QAction::triggered, this, [this] {
        if (PortListForm) PortListForm->exec();
    });
    connect(ShowAbout, &QAction::triggered, this, [this] {
        if (AboutForm) AboutForm->exec();
    });
    connect(RegistrateUser, &QAction::triggered, this, [this] {
        if (RegForm) RegForm->exec();
    });
    connect(OptionsOpen, &QAction::triggered, this, [this] {
        if (!OptForm) return;
        OptForm->show();
        OptForm->raise();
        OptForm->move(geometry().center() - OptForm->rect().center());
    });
    connect(AddTovik, &QAction::triggered, this, [this] { AddDeviceOfKind(0); });
    connect(AddTovikMB, &QAction::triggered, this, [this] { AddDeviceOfKind(1); });
    connect(AddTovikM, &QAction::triggered, this, [this] { AddDeviceOfKind(2); });
    connect(AddTovikMMB, &QAction::triggered, this, [this] { AddDeviceOfKind(3); });
    connect(DelDevice, &QAction::triggered, this, &TMainForm::DelDeviceExecute);
    connect(ScanDevices, &QAction::triggered, this, [this] { ScanDevicesExecute(); });
    // "Помощь" (F1): the manual, at the section of the panel's tab in view.
    connect(HelpClick, &QAction::triggered, this, [this] { OpenManual(this, HelpTopicFor(PanelArea)); });

    // Tool bar: flat buttons, picture above caption.
    Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(61);
    auto* bar = new QHBoxLayout(Panel1);
    bar->setContentsMargins(2, 2, 2, 2);
    auto makeButton = [this, bar](const char* name, QAction* action) {
        auto* b = new QToolButton(Panel1);
        b->setObjectName(name);
        b->setDefaultAction(action);
        b->setAutoRaise(true);
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setMinimumWidth(72);
        bar->addWidget(b);
        return b;
    };
    auto separator = [this, bar](const char* name) {
        auto* s = new QFrame(Panel1);
        s->setObjectName(name);
        s->setFrameShape(QFrame::VLine);
        s->setFrameShadow(QFrame::Sunken);
        bar->addWidget(s);
    };
    RegBut = makeButton("RegBut", RegistrateUser);
    separator("Panel3");
    OptionsBut = makeButton("OptionsBut", SettingsOpen);
    SettingsBut = makeButton("SettingsBut", OptionsOpen);
    separator("Panel4");
    HelpBut = makeButton("HelpBut", HelpClick);
    AboutBut = makeButton("AboutBut", ShowAbout);
    bar->addStretch();

    // Device list on the left, panel area on the right.
    DevsGroupBox = new QGroupBox(QStringLiteral("Устройства:"));
    DevsGroupBox->setObjectName("DevsGroupBox");
    DevList = new QListWidget(DevsGroupBox);
    DevList->setObjectName("DevList");
    DevList->setContextMenuPolicy(Qt::CustomContextMenu);
    (new QVBoxLayout(DevsGroupBox))->addWidget(DevList);
    DevsGroupBox->layout()->setContentsMargins(2, 2, 2, 2);
    PanelArea = new QWidget;
    PanelArea->setObjectName("PanelArea");
    (new QVBoxLayout(PanelArea))->setContentsMargins(0, 0, 0, 0);
    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->setObjectName("Splitter1");
    Splitter1->addWidget(DevsGroupBox);
    Splitter1->addWidget(PanelArea);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({129, 655});

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel1);
    layout->addWidget(Splitter1, 1);
    setCentralWidget(central);

    statusBar()->setObjectName("StatusBar");
    StatusPanel = new QLabel(statusBar());
    StatusPanel->setObjectName("StatusPanel");
    StatusPanel->setMinimumWidth(50);
    statusBar()->addWidget(StatusPanel, 1);

    // A double click counts as a click.
    connect(DevList, &QListWidget::itemClicked, this, &TMainForm::DevListClick);
    connect(DevList, &QListWidget::itemDoubleClicked, this, &TMainForm::DevListClick);

    // Main menu.
    menuBar()->setObjectName("MainMenu");
    QMenu* file = menuBar()->addMenu(QStringLiteral("Файл"));
    file->setObjectName("File1");
    QAction* exit = file->addAction(QStringLiteral("Выход"));
    exit->setObjectName("Exit1");
    exit->setShortcut(QKeySequence("Alt+F4"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu* commands = menuBar()->addMenu(QStringLiteral("Команды"));
    commands->setObjectName("Commands1");
    commands->addAction(RegistrateUser);
    commands->addSeparator();
    commands->addAction(SettingsOpen);
    commands->addAction(OptionsOpen);
    commands->addSeparator();
    commands->addAction(AddTovik);
    commands->addAction(AddTovikMB);
    commands->addAction(AddTovikM);
    commands->addAction(AddTovikMMB);
    commands->addAction(DelDevice);
    commands->addSeparator();
    commands->addAction(ScanDevices);
    QMenu* help = menuBar()->addMenu(QStringLiteral("Помощь"));
    help->setObjectName("Help1");
    help->addAction(HelpClick);
    help->addAction(ShowAbout);

    DevListPopupMenu = new QMenu(this);
    DevListPopupMenu->setObjectName("DevListPopupMenu");
    DevListPopupMenu->addAction(AddTovik);
    DevListPopupMenu->addAction(AddTovikMB);
    DevListPopupMenu->addAction(AddTovikM);
    DevListPopupMenu->addAction(AddTovikMMB);
    DevListPopupMenu->addAction(DelDevice);
    connect(DevList, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { DevListPopupMenu->popup(DevList->viewport()->mapToGlobal(pos)); });
}

void TMainForm::StartUp() {
    RegisterBuiltInKinds();
    auto fail = [this](const std::string& text) {
        ShowMessage(this, QString::fromStdString(text), TMessageKind::Error);
        FatalStartup = true;
        SetCurrentUser(nullptr);
    };
    // An installed program makes the user's folder at its first start.
    std::string reason;
    if (Place.Where == TConfigWhere::UserFolder && !MakeFolders(DirectoryOf(Place.File), reason))
        return fail(ConfigFileMessage(kMsgConfigCannotOpen, DirectoryOf(Place.File), reason));
    // One running copy per file: of two, the one that ends last would
    // overwrite what the other changed. The second one ends at once, before
    // it opens any port, and writes nothing.
    ConfigLock = LockConfiguration(Place.File);
    if (ConfigLock.State() == TFileLock::TState::InUse) {
        ConfigInUse = true;
        return fail(ConfigInUseMessage(Place.File, ConfigLock));
    }

    for (const auto& m : MigratePreviousConfiguration(Place).Messages)
        ShowMessage(this, QString::fromStdString(ConfigFileMessage(m, Place.Copy)), TMessageKind::Plain);

    Ports.PortsLoadedHandler = [this](std::unique_ptr<TProtoPort> port) { Ports.Add(std::move(port)); };
    CurrentDevice = nullptr;
    Devices.OnDeviceLoaded = [this](std::unique_ptr<TDevice> device) { AddDevice(std::move(device)); };
    const TLoadResult load = LoadConfigurationFile(Place.File, Lists());
    ShowMessages(load.Messages, load.Reason, Place.File);
    FatalStartup = load.Fatal;
    if (!FatalStartup) {
        TMemoryStream plain;
        if (BuildPlainBody(Lists(), plain)) SavedBody = std::move(plain.Bytes());
    }

    const int index = Users.FindUser("default");
    SetCurrentUser(index >= 0 ? Users.Get(index) : nullptr);
}

void TMainForm::ShowMessages(const std::vector<std::string>& messages, const std::string& reason,
                             const std::string& path) {
    for (size_t i = 0; i < messages.size(); ++i)
        ShowMessage(
            this,
            QString::fromStdString(ConfigFileMessage(messages[i], path, i == 0 ? reason : std::string())),
            TMessageKind::Error);
}

void TMainForm::CreateWindows() {
    UARTSelectForm = new TUARTSelectForm(this);
    PortListForm = new TPortListForm(Ports, *UARTSelectForm, this);
    AboutForm = new TAboutForm(QString::fromStdString(Place.File), this);
    AcessSelectForm = new TAcessSelectForm(this);
    RegForm = new TRegForm(Users,
                           {[this] { return CurrentUser; }, [this](TUser* u) { SetCurrentUser(u); },
                            [this] { SaveAfterChange(); }},
                           *AcessSelectForm, this);
    OptForm = new TOptForm(Stats, this);
    // The device search adds what it finds the way the add actions do.
    TScanHost host;
    host.IsListed = [this](int32_t portId, uint8_t address) {
        for (int i = 0; i < Devices.Count(); ++i) {
            const auto* d = dynamic_cast<const TTovikDevice*>(Devices.GetDevice(i));
            if (d && d->PortId == portId && d->BusAddress == address) return true;
        }
        return false;
    };
    host.AddDevice = [this](uint8_t kind, int32_t portId, uint8_t address) {
        auto device = std::make_unique<TTovikDevice>(kind);
        device->PortId = portId;
        device->BusAddress = address;
        AddDevice(std::move(device));
        SaveAfterChange();
    };
    BusScanForm = new TBusScanForm(Ports, std::move(host), this);
    PortListForm->OnScanPort = [this](TProtoPort& port) { ScanDevicesExecute(&port); };
    connect(PortListForm, &TPortListForm::PortsChanged, this, &TMainForm::SaveAfterChange);
}

void TMainForm::ScanDevicesExecute(TProtoPort* port) {
    if (!BusScanForm || !CurrentUser || !CurrentUser->HasFullRights()) return;
    BusScanForm->FillPorts(port);
    BusScanForm->exec();
}

void TMainForm::ShutDown() {
    if (ShutDownDone) return;
    ShutDownDone = true;
    CloseCurrentPanel();
    // After a fatal start-up the file on disk is left as it is, for
    // recovery, instead of being replaced by whatever could be loaded.
    if (!FatalStartup) {
        TSaveOptions options;
        options.Copy = Place.Copy.empty() ? TCopyPolicy::Never : TCopyPolicy::Always;
        options.ClosePanel = [this] { CloseCurrentPanel(); };
        const TSaveResult saved = SaveConfigurationFile(Place.File, Place.Copy, Lists(), options);
        ShowMessages(saved.Messages, saved.Reason, Place.File);
    }
    if (PortListForm) PortListForm->SelectedPort = nullptr;
    HideSettings();
    // Nothing may trace or scan a port once the list lets it go.
    CloseAllMonitors();
    if (BusScanForm) BusScanForm->StopScan();
    DevList->clear();
    ReleaseConfiguration(Lists());
    CurrentUser = nullptr;
    ConfigLock.Release();
}

void TMainForm::SaveAfterChange() {
    if (FatalStartup || ShutDownDone) return;
    TMemoryStream plain;
    if (BuildPlainBody(Lists(), plain) && plain.Bytes() == SavedBody) return;
    TSaveOptions options;
    options.Copy = TCopyPolicy::Never;
    const TSaveResult saved = SaveConfigurationFile(Place.File, {}, Lists(), options);
    if (saved.Saved) {
        SavedBody = std::move(plain.Bytes());
        SaveFailing = false;
        return;
    }
    // Once, not at every change while the disk stays full.
    if (!SaveFailing) ShowMessages(saved.Messages, saved.Reason, Place.File);
    SaveFailing = true;
}

void TMainForm::SetCurrentUser(TUser* user) {
    CurrentUser = user;
    CloseCurrentPanel();
    const bool any = user != nullptr;
    const bool full = user && user->HasFullRights();
    DevList->setEnabled(any);
    SetActionEnabled("SettingsOpen", full);
    SetActionEnabled("OptionsOpen", any);
    SetActionEnabled("AddTovik", full);
    SetActionEnabled("AddTovikMB", full);
    SetActionEnabled("AddTovikM", full);
    SetActionEnabled("AddTovikMMB", full);
    SetActionEnabled("DelDevice", full);
    SetActionEnabled("ScanDevices", full);
}

void TMainForm::SetActionEnabled(const QString& name, bool enabled) {
    QAction* match = nullptr;
    for (QAction* a : ActionList)
        if (a->objectName() == name) match = a;
    if (match) match->setEnabled(enabled);
}

void TMainForm::CloseCurrentPanel() {
    if (CurrentDevice) CurrentDevice->HidePanel();
    CurrentDevice = nullptr;
}

void TMainForm::AddDevice(std::unique_ptr<TDevice> device) {
    const QString name = QString::fromStdString(device->InstallationName);
    TDevice* raw = device.get();
    raw->OnRecordChanged = [this](TDevice&) { SaveAfterChange(); };
    Devices.Add(std::move(device));
    auto* item = new QListWidgetItem(name, DevList);
    item->setData(Qt::UserRole, QVariant::fromValue(static_cast<void*>(raw)));
}

void TMainForm::AddDeviceOfKind(int kind) {
    AddDevice(std::make_unique<TTovikDevice>(static_cast<uint8_t>(kind)));
    SaveAfterChange();
}

void TMainForm::DelDeviceExecute() {
    const int row = DevList->currentRow();
    if (row < 0 || DevList->selectedItems().isEmpty()) return;
    CloseCurrentPanel();
    Devices.DeleteDevice(row);
    delete DevList->takeItem(row);
    SaveAfterChange();
}

void TMainForm::DevListClick() {
    QListWidgetItem* item = DevList->currentItem();
    if (!item || !item->isSelected()) return;
    CloseCurrentPanel();
    CurrentDevice = static_cast<TDevice*>(item->data(Qt::UserRole).value<void*>());
    if (CurrentDevice) CurrentDevice->ShowPanel(*this);
}

std::unique_ptr<IDevicePanel> TMainForm::CreatePanel(TDevice& device) {
    auto* tovik = dynamic_cast<TTovikDevice*>(&device);
    if (!tovik) return nullptr;
    TPanelContext context;
    context.Area = PanelArea;
    context.StatusPanel = StatusPanel;
    context.Ports = &Ports;
    // A panel is open only while someone is logged in; without anyone it could only watch.
    context.AccessLevel = CurrentUser ? CurrentUser->AccessLevel : kReadOnlyAccess;
    context.Account = CurrentUser ? CurrentUser->Name : std::string();
    context.DeviceRenamed = [this](TDevice& renamed) {
        const int index = Devices.IndexOfDevice(&renamed);
        if (QListWidgetItem* item = index >= 0 ? DevList->item(index) : nullptr)
            item->setText(QString::fromStdString(renamed.InstallationName));
        SaveAfterChange();
    };
    return std::make_unique<TTovikFramePanel>(*tovik, context);
}

}  // namespace tovik
