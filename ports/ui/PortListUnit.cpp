#include "ports/ui/PortListUnit.h"

#include <QAction>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/ui/Messages.h"
#include "ports/ProtoPortList.h"
#include "ports/ProtoUART.h"
#include "ports/ui/MonitorUnit.h"
#include "ports/ui/UARTPortFrame.h"
#include "ports/ui/UARTSelectUnit.h"

namespace tovik {

TPortListForm::TPortListForm(TProtoPortList& ports, TUARTSelectForm& selectForm, QWidget* parent)
    : QDialog(parent), Ports(ports), SelectForm(selectForm) {
    setObjectName("PortListForm");
    setWindowTitle(QStringLiteral("Операции с портами подключений к контроллерам"));
    setMinimumSize(510, 330);

    PortsListGroupBox = new QGroupBox(QStringLiteral("Назначенные порты:"), this);
    PortsListGroupBox->setObjectName("PortsListGroupBox");
    PortsListBox = new QListWidget(PortsListGroupBox);
    PortsListBox->setObjectName("PortsListBox");
    PortsListBox->setContextMenuPolicy(Qt::CustomContextMenu);
    UARTCloseForm = new QPushButton(QStringLiteral("Закрыть"), PortsListGroupBox);
    UARTCloseForm->setObjectName("UARTCloseForm");
    UARTCloseForm->setAutoDefault(false);
    auto* left = new QVBoxLayout(PortsListGroupBox);
    left->addWidget(PortsListBox);
    left->addWidget(UARTCloseForm);

    PortListPopupMenu = new QMenu(this);
    PortListPopupMenu->setObjectName("PortListPopupMenu");
    AddNewUARTPort1 = PortListPopupMenu->addAction(QStringLiteral("Добавить UART COM порт"));
    AddNewUARTPort1->setObjectName("AddNewUARTPort1");
    DeletePort1 = PortListPopupMenu->addAction(QStringLiteral("Удалить порт"));
    DeletePort1->setObjectName("DeletePort1");
    PortListPopupMenu->addSeparator();
    ScanPort1 = PortListPopupMenu->addAction(QStringLiteral("Поиск устройств..."));
    ScanPort1->setObjectName("ScanPort1");
    MonitorPort1 = PortListPopupMenu->addAction(QStringLiteral("Монитор обмена"));
    MonitorPort1->setObjectName("MonitorPort1");

    SettingsArea = new QWidget(this);
    SettingsArea->setObjectName("SettingsArea");
    new QVBoxLayout(SettingsArea);
    SettingsArea->layout()->setContentsMargins(0, 0, 0, 0);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(PortsListGroupBox);
    layout->addWidget(SettingsArea, 1);

    connect(PortsListBox, &QListWidget::itemClicked, this, &TPortListForm::PortsListBoxClick);
    connect(PortsListBox, &QListWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // The port actions need a port under the pointer.
        const bool onPort = PortsListBox->itemAt(pos) != nullptr;
        ScanPort1->setVisible(static_cast<bool>(OnScanPort));
        ScanPort1->setEnabled(onPort);
        MonitorPort1->setEnabled(onPort);
        PortListPopupMenu->popup(PortsListBox->viewport()->mapToGlobal(pos));
    });
    connect(AddNewUARTPort1, &QAction::triggered, this, &TPortListForm::AddNewUARTPort1Click);
    connect(DeletePort1, &QAction::triggered, this, &TPortListForm::DeletePort1Click);
    connect(UARTCloseForm, &QPushButton::clicked, this, &TPortListForm::UARTCloseFormClick);
    connect(ScanPort1, &QAction::triggered, this, &TPortListForm::ScanPort1Click);
    connect(MonitorPort1, &QAction::triggered, this, &TPortListForm::MonitorPort1Click);
    FormCreate();
}

TPortListForm::~TPortListForm() {
    if (CurrentUartFrame && CurrentUartFrame->parentWidget() == SettingsArea) HideSettings();
}

void TPortListForm::FormCreate() {
    PortsListBox->clear();
    for (int i = 0; i < Ports.Count(); ++i)
        PortsListBox->addItem(QString::fromStdString(Ports.Items(i)->Name));
}

void TPortListForm::PortsListBoxClick() {
    const int row = PortsListBox->currentRow();
    if (row < 0 || row >= Ports.Count()) return;
    if (SelectedPort) HideSettings();
    SelectedPort = Ports.Items(row);
    ShowSettings(*SelectedPort, SettingsArea);
    if (CurrentUartFrame)
        connect(CurrentUartFrame, &TTUARTPortFrame::SettingsChanged, this, &TPortListForm::PortsChanged);
}

void TPortListForm::AddNewUARTPort1Click() {
    if (SelectForm.exec() != QDialog::Accepted) return;
    const std::string name = SelectForm.PortCB->currentText().toStdString();
    if (name.empty()) {
        ShowMessage(this, QStringLiteral("Необходимо выбрать порт."));
        return;
    }
    if (Ports.ContainsId(NameId(name))) {
        ShowMessage(this, QStringLiteral("Выбранный порт нельзя добавить, выберите другой."));
        return;
    }
    auto port = std::make_unique<TProtoUART>(Ports.Stats());
    TOpenOutcome failure{TOpenError::NameRefused, 0};
    if (port->SetPortName(name)) {
        port->Bus = false;
        port->Open();
        failure = port->LastOpenError();
    }
    if (!port->IsOpen()) {
        port.reset();
        // The system's reason goes on a line of its own below the message.
        QString text = QStringLiteral("Ошибка открытия выбранного порта.");
        const std::string reason = OpenErrorText(failure);
        if (!reason.empty()) text += QStringLiteral("\n") + QString::fromStdString(reason);
        ShowMessage(this, text);
        return;
    }
    const QString shown = QString::fromStdString(port->Name);
    Ports.Add(std::move(port));
    PortsListBox->addItem(shown);
    emit PortsChanged();
}

void TPortListForm::DeletePort1Click() {
    const int row = PortsListBox->currentRow();
    if (row < 0 || row >= Ports.Count()) return;
    if (SelectedPort) HideSettings();
    CloseMonitor(*Ports.Items(row));
    Ports.Delete(row);
    delete PortsListBox->takeItem(row);
    SelectedPort = nullptr;
    emit PortsChanged();
}

void TPortListForm::UARTCloseFormClick() {
    close();
}

void TPortListForm::ScanPort1Click() {
    const int row = PortsListBox->currentRow();
    if (row < 0 || row >= Ports.Count() || !OnScanPort) return;
    OnScanPort(*Ports.Items(row));
}

void TPortListForm::MonitorPort1Click() {
    const int row = PortsListBox->currentRow();
    if (row < 0 || row >= Ports.Count()) return;
    // Owned by this window, so that it stays usable while this one is open.
    OpenMonitor(Ports, *Ports.Items(row), this);
}

}  // namespace tovik
