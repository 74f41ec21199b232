#pragma once
// The dialog that picks a serial port of this machine for a new port.
#include <QComboBox>
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QPushButton;

namespace tovik {

// A drop-down that fills its list each time it opens.
class TPortComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;
signals:
    void DropDown();
};

class TUARTSelectForm : public QDialog {
    Q_OBJECT
public:
    // Where the names come from (by default the machine's serial lines,
    // ListSerialLines); tests replace it.
    using TPortSource = std::function<std::vector<std::string>()>;

    explicit TUARTSelectForm(QWidget* parent = nullptr, TPortSource source = {});

    TPortComboBox* PortCB = nullptr;
    QPushButton* OKBut = nullptr;
    QPushButton* CancelBut = nullptr;

public slots:
    void FormShow();
    void PortCBDropDown();
    void PortCBSelect();

protected:
    void showEvent(QShowEvent* event) override;

private:
    TPortSource Source;
};

}  // namespace tovik
