#include "panel/ui/TovikFrame.h"

#include <QLabel>
#include <QLayout>
#include <QVBoxLayout>

#include "app/TovikDevice.h"
#include "ports/ProtoPortList.h"

namespace tovik {

TTovikFrame::TTovikFrame(TDevice& device, TProtoPortList& ports, QLabel* statusPanel, QWidget* area)
    : Device(device), Ports(ports), StatusPanel(statusPanel) {
    Frame = new QWidget(area);
    Frame->setObjectName("TovikFrame");
    Info = new QLabel(Frame);
    Info->setObjectName("TovikInfoLabel");
    Info->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    (new QVBoxLayout(Frame))->addWidget(Info);
    if (area && area->layout()) area->layout()->addWidget(Frame);
    Frame->show();
}

TTovikFrame::~TTovikFrame() {
    if (StatusPanel) StatusPanel->clear();
    delete Frame.data();
}

void TTovikFrame::RefreshPortSelection() {
    auto* tovik = dynamic_cast<TTovikDevice*>(&Device);
    TProtoPort* port = Device.PortId ? Ports.FindById(Device.PortId) : nullptr;
    QString text = QStringLiteral("<b>%1</b><br>").arg(QString::fromStdString(Device.InstallationName).toHtmlEscaped());
    if (tovik) {
        text += QString::fromUtf8(DeviceKindName(tovik->GetDeviceKind()));
        text += QStringLiteral("<br>Адрес в магистрали: %1").arg(tovik->BusAddress);
    }
    if (port) text += QStringLiteral("<br>Порт: %1").arg(QString::fromStdString(port->Name).toHtmlEscaped());
    Info->setText(text);
    if (StatusPanel) StatusPanel->setText(port ? QString() : QStringLiteral("Не настроено подключение."));
}

}  // namespace tovik
