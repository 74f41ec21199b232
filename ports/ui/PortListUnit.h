#pragma once
// The port list window: add and delete serial ports, and edit the selected
// port's settings in its frame.
#include <QDialog>
#include <functional>

class QGroupBox;
class QListWidget;
class QMenu;
class QPushButton;
class QAction;

namespace tovik {

class TProtoPort;
class TProtoPortList;
class TUARTSelectForm;

class TPortListForm : public QDialog {
    Q_OBJECT
public:
    TPortListForm(TProtoPortList& ports, TUARTSelectForm& selectForm, QWidget* parent = nullptr);
    ~TPortListForm() override;

    void FormCreate();

    QGroupBox* PortsListGroupBox = nullptr;
    QListWidget* PortsListBox = nullptr;
    QPushButton* UARTCloseForm = nullptr;
    QMenu* PortListPopupMenu = nullptr;
    QAction* AddNewUARTPort1 = nullptr;
    QAction* DeletePort1 = nullptr;
    QAction* ScanPort1 = nullptr;     // "Поиск устройств..." on the selected port
    QAction* MonitorPort1 = nullptr;  // "Монитор обмена" of the selected port
    QWidget* SettingsArea = nullptr;  // the selected port's settings frame lives here
    TProtoPort* SelectedPort = nullptr;

    // Runs the device search on a port; set by the window that can add
    // devices. Without it "Поиск устройств..." is not offered.
    std::function<void(TProtoPort&)> OnScanPort;

signals:
    // A port was added or deleted, or a port's settings changed.
    void PortsChanged();

public slots:
    void PortsListBoxClick();
    void AddNewUARTPort1Click();
    void DeletePort1Click();
    void UARTCloseFormClick();
    void ScanPort1Click();
    void MonitorPort1Click();

private:
    TProtoPortList& Ports;
    TUARTSelectForm& SelectForm;
};

}  // namespace tovik
