#pragma once
// The port list window: add and delete serial ports, and edit the selected
// port's settings in its frame.
#include <QDialog>

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
    QWidget* SettingsArea = nullptr;  // the selected port's settings frame lives here
    TProtoPort* SelectedPort = nullptr;

public slots:
    void PortsListBoxClick();
    void AddNewUARTPort1Click();
    void DeletePort1Click();
    void UARTCloseFormClick();

private:
    TProtoPortList& Ports;
    TUARTSelectForm& SelectForm;
};

}  // namespace tovik
