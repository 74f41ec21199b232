#pragma once
// The device panel in the main window's device area. It shows the selected
// relay's identity and its connection; polling and the tabs build on it.
#include <QPointer>
#include <QWidget>

#include "app/Device.h"

class QLabel;

namespace tovik {

class TProtoPortList;

class TTovikFrame : public IDevicePanel {
public:
    TTovikFrame(TDevice& device, TProtoPortList& ports, QLabel* statusPanel, QWidget* area);
    ~TTovikFrame() override;

    void RefreshPortSelection() override;
    QWidget* Widget() const { return Frame; }

private:
    TDevice& Device;
    TProtoPortList& Ports;
    QPointer<QLabel> StatusPanel;
    QPointer<QWidget> Frame;
    QLabel* Info = nullptr;
};

}  // namespace tovik
