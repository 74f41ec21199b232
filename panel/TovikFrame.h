#pragma once
// The device panel in the main window's device area. It shows the selected
// relay's identity and its connection; polling and the tabs build on it.
#include <QPointer>
#include <QWidget>

#include "app/Device.h"

class QLabel;

namespace tovik {

class TMainForm;

class TTovikFrame : public IDevicePanel {
public:
    TTovikFrame(TDevice& device, TMainForm& main, QWidget* area);
    ~TTovikFrame() override;

    void RefreshPortSelection() override;
    QWidget* Widget() const { return Frame; }

private:
    TDevice& Device;
    TMainForm& Main;
    QPointer<QWidget> Frame;
    QLabel* Info = nullptr;
};

}  // namespace tovik
