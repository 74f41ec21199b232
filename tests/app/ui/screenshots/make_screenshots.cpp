// Renders the main windows of the application for the documentation:
// make_screenshots CONFIG_DIR OUT_DIR. Run under a real X server (Xvfb).
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "base/ui/Messages.h"
#include "app/ui/main.h"
#include "app/TovikDevice.h"
#include "app/ui/register.h"
#include "ports/ui/BusScanUnit.h"
#include "ports/ui/MonitorUnit.h"
#include "ports/ui/OptUnit.h"
#include "ports/ui/PortListUnit.h"
#include "protocol/Builders.h"
#include "protocol/UstTable.h"

using namespace tovik;

namespace {
bool Save(QWidget* w, const QString& path) {
    w->show();
    w->raise();
    if (!QTest::qWaitForWindowExposed(w)) return false;
    QTest::qWait(300);
    // The whole window with its frame, as a person sees it.
    const QRect frame = w->frameGeometry();
    const QPixmap shot = QApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                                    frame.height());
    return shot.save(path);
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        fprintf(stderr, "usage: make_screenshots CONFIG_DIR OUT_DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    SetMessageHook([](TMessageKind, const QString& t) { fprintf(stderr, "%s\n", qPrintable(t)); });
    TMainForm form(QString::fromLocal8Bit(argv[1]));
    form.move(40, 40);
    form.DevList->setCurrentRow(3);
    form.DevListClick();
    bool ok = Save(&form, out + "/main-window.png");

    form.RegForm->move(120, 120);
    ok = Save(form.RegForm, out + "/login-dialog.png") && ok;
    form.RegForm->hide();

    form.PortListForm->move(120, 120);
    form.PortListForm->PortsListBox->setCurrentRow(0);
    form.PortListForm->PortsListBoxClick();
    ok = Save(form.PortListForm, out + "/port-list.png") && ok;
    form.PortListForm->hide();

    form.OptForm->move(120, 120);
    QTest::qWait(600);  // a refresh of the counters
    ok = Save(form.OptForm, out + "/statistics.png") && ok;
    form.OptForm->hide();

    // The device search on the first line, its two relays already listed.
    TBusScanForm& search = *form.BusScanForm;
    search.FillPorts(form.Ports.Items(0));
    search.FromSE->setValue(1);
    search.ToSE->setValue(6);
    search.move(120, 80);
    search.resize(760, 460);
    search.show();
    QTest::mouseClick(search.StartBtn, Qt::LeftButton);
    QElapsedTimer waited;
    waited.start();
    while (search.Scan() && search.Scan()->Running() && waited.elapsed() < 20000) QTest::qWait(20);
    ok = Save(&search, out + "/device-search.png") && ok;
    search.hide();

    // The monitor of the second line while its relays are polled as a panel
    // polls them: the state poll, the state, the clock and the currents.
    TProtoPort* line = form.Ports.Count() > 1 ? form.Ports.Items(1) : form.Ports.Items(0);
    TMonitorForm* monitor = OpenMonitor(form.Ports, *line, &form);
    monitor->move(8, 40);
    monitor->resize(1000, 560);
    auto results = std::make_shared<TResultEventsList>();
    const int32_t owner = line->RegisterOwner();
    for (int round = 0; round < 2; ++round)
        for (int d = 0; d < form.Devices.Count(); ++d) {
            const auto* device = dynamic_cast<const TTovikDevice*>(form.Devices.GetDevice(d));
            if (!device || device->PortId != line->Id) continue;
            const uint8_t kind = device->GetDeviceKind(), bus = device->BusAddress;
            RequestReadCell(*line, bus, owner, kind, results, {}, kUstModelRow);
            RequestReadState(*line, bus, owner, kind, results, {});
            RequestReadClock(*line, bus, owner, kind, results, {});
            RequestReadCurrents(*line, bus, owner, kind, results, {});
        }
    QTest::qWait(2500);
    line->UnregisterOwner(owner);
    ok = Save(monitor, out + "/monitor.png") && ok;
    CloseAllMonitors();
    return ok ? 0 : 1;
}
