#pragma once
// The settings frame of one serial port, shown inside the port list window.
// Its editors write through to the port at once.
#include <QSpinBox>
#include <QWidget>

class QCheckBox;
class QPlainTextEdit;
class QStatusBar;

namespace tovik {

class TProtoUART;
class TProtoPort;

// Integer editor that stores what is typed as it is typed, and moves an
// out-of-range value to the nearest bound when it loses the focus.
class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);
    void fixup(QString& input) const override;
    // Shows a value (moved into the range) without counting it as an edit.
    void ShowValue(int value);
    // The value the text stands for right now: typed text that is not a
    // number gives the minimum.
    int TypedValue() const;
signals:
    void TypedValueChanged(int value);

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    void ReportIfChanged();
    QString ReportedText;
};

class TTUARTPortFrame : public QWidget {
    Q_OBJECT
public:
    TTUARTPortFrame(TProtoUART& port, QWidget* parent);
    ~TTUARTPortFrame() override;

    void FillFromPort();
    TProtoUART& Port() const { return PortRef; }

    QPlainTextEdit* UARTInfoMemo = nullptr;
    QCheckBox* UARTBusCheckBox = nullptr;
    TSpinEdit* SpinEdit1 = nullptr;
    TSpinEdit* IntervalSE = nullptr;
    QStatusBar* UARTPortStatusBar = nullptr;

public slots:
    void UARTBusCheckBoxClick();
    void SpinEdit1Change(int value);
    void IntervalSEChange(int value);

signals:
    // An editor changed the port's settings (the configuration keeps them).
    void SettingsChanged();

private:
    TProtoUART& PortRef;
};

// At most one serial settings frame exists at a time.
extern TTUARTPortFrame* CurrentUartFrame;

// The port's settings frame inside `parent`, replacing any other frame.
void ShowSettings(TProtoPort& port, QWidget* parent);
// Destroys the current settings frame, whichever port it belongs to.
void HideSettings();

}  // namespace tovik
