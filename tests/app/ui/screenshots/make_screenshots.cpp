// Renders the main windows of the application for the documentation:
// make_screenshots CONFIG_DIR OUT_DIR [LINE_A_COMMANDS]. Run under a real X
// server (Xvfb, 1280 x 960). LINE_A_COMMANDS is where the first line's
// simulator reads its commands (a FIFO): a relay trips while the plant
// overview watches.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "app/TovikDevice.h"
#include "app/ui/AboutForm.h"
#include "app/ui/HelpForm.h"
#include "app/ui/main.h"
#include "app/ui/register.h"
#include "base/ui/Messages.h"
#include "panel/ui/CalibrationPage.h"
#include "panel/ui/PlantOverviewWindow.h"
#include "panel/ui/TovikFrame.h"
#include "panel/ui/TrendWindow.h"
#include "ports/ui/BusScanUnit.h"
#include "ports/ui/MonitorUnit.h"
#include "ports/ui/OptUnit.h"
#include "ports/ui/PortListUnit.h"

using namespace tovik;

namespace {
bool Save(QWidget* w, const QString& path) {
    w->show();
    w->raise();
    if (!QTest::qWaitForWindowExposed(w)) return false;
    QTest::qWait(300);
    // The whole window with its frame, as a person sees it.
    const QRect frame = w->frameGeometry();
    const QPixmap shot =
        QApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
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
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    TMainForm form(QString::fromLocal8Bit(argv[1]));
    // The size of a small laptop's screen, inside the virtual display.
    form.move(10, 10);
    form.resize(990, 700);
    form.DevList->setCurrentRow(3);
    form.DevListClick();
    // The panel polls its relay: wait for the setpoints and the readings.
    auto* frame = form.PanelArea->findChild<TTTovikFrame*>("TTovikFrame");
    const bool polled =
        frame && QTest::qWaitFor(
                     [&] {
                         return frame->Model().Data().View().HasSetpoints() &&
                                !frame->Label(LabelDateTime)->text().endsWith(QStringLiteral("Н/Д"));
                     },
                     20000);
    if (!polled) fprintf(stderr, "the panel did not fill\n");
    QTest::qWait(1500);
    bool ok = polled && Save(&form, out + "/main-window.png");
    frame->TovikControl->setCurrentIndex(1);
    QTest::qWait(500);
    ok = Save(&form, out + "/panel-settings.png") && ok;
    // The manual, as F1 opens it on the settings tab.
    form.HelpClick->trigger();
    if (auto* help = form.findChild<THelpForm*>("HelpForm")) {
        help->move(40, 40);
        help->resize(1060, 800);
        ok = Save(help, out + "/manual-window.png") && ok;
        help->close();
    } else {
        fprintf(stderr, "no manual window\n");
        ok = false;
    }
    frame->TovikControl->setCurrentIndex(0);

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

    // The About box names the configuration file in use.
    form.AboutForm->move(120, 120);
    ok = Save(form.AboutForm, out + "/about.png") && ok;
    form.AboutForm->hide();

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

    // The monitor of the second line: the traffic of the open panel.
    TProtoPort* line = form.Ports.Count() > 1 ? form.Ports.Items(1) : form.Ports.Items(0);
    TMonitorForm* monitor = OpenMonitor(form.Ports, *line, &form);
    monitor->move(8, 40);
    monitor->resize(1000, 560);
    QTest::qWait(3000);
    ok = Save(monitor, out + "/monitor.png") && ok;
    CloseAllMonitors();

    // The settings as commissioned, in a file; since then someone changed
    // Inom, Tnom and Tапв on the relay (here: the file stands for the old values).
    const QString work = QString::fromLocal8Bit(argv[1]);
    const QString ust = work + "/Вентиляция 2.ust";
    ok = frame->SaveSetpointsTo(ust) && ok;
    QFile file(ust);
    if (file.open(QIODevice::ReadOnly)) {
        QString text = QString::fromUtf8(file.readAll());
        file.close();
        for (const auto& [item, raw] : {std::pair{2, 20000}, std::pair{8, 1000}, std::pair{14, 750}})
            text.replace(QRegularExpression(QString("\\nitem\\t%1\\t\\d+\\t").arg(item)),
                         QString("\nitem\t%1\t%2\t").arg(item).arg(raw));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text.toUtf8());
        file.close();
    }
    ok = frame->CompareWithFileAt(ust) && ok;
    frame->TovikControl->setCurrentIndex(1);
    // The usual width: the columns fit it, "новое" included; tall enough for every item.
    form.resize(990, 900);
    QTest::qWait(800);
    ok = Save(&form, out + "/panel-compare.png") && ok;
    // The report as a PDF; scripts/screenshots renders its first page.
    ok = frame->SaveReportTo(work + "/setpoint-report.pdf") && ok;
    frame->TovikControl->setCurrentIndex(0);

    // The motor runs: its currents over the last minute.
    QTest::mouseClick(frame->Button(BtnPusk), Qt::LeftButton);
    TTrendWindow* trend = frame->ShowTrend();
    trend->SetSpanIndex(0);
    trend->move(60, 60);
    trend->resize(900, 560);
    QTest::qWait(40000);
    ok = Save(trend, out + "/trend.png") && ok;
    trend->close();
    form.resize(990, 700);

    // The task log, alarm log and calibration tabs of the first relay,
    // which has tripped twice, at the service level.
    const int service = form.Users.FindUser("service");
    if (service >= 0) form.SetCurrentUser(form.Users.Get(service));
    form.DevList->setCurrentRow(0);
    form.DevListClick();
    frame = form.PanelArea->findChild<TTTovikFrame*>("TTovikFrame");
    const bool journal = frame && QTest::qWaitFor(
                                      [&] {
                                          return frame->Model().Data().View().HasSetpoints() &&
                                                 !frame->Model().Poll().Flags().TaskLogReading &&
                                                 form.CurrentDevice &&
                                                 frame->Model().Alarms().Grid().size() > 2;
                                      },
                                      20000);
    if (!journal) {
        fprintf(stderr, "the journals did not fill\n");
        return 1;
    }
    QTest::qWait(1000);
    frame->TovikControl->setCurrentWidget(frame->Tabs[TabTaskLog]);
    ok = Save(&form, out + "/panel-task-log.png") && ok;
    frame->TovikControl->setCurrentWidget(frame->Tabs[TabAlarms]);
    ok = Save(&form, out + "/panel-alarm-log.png") && ok;
    if (TCalibrationPage* cal = frame->CalibrationPage) {
        frame->TovikControl->setCurrentWidget(frame->Tabs[TabCalibration]);
        if (!QTest::qWaitFor([&] { return cal->CalValSG->columnCount() > 3; }, 20000))
            fprintf(stderr, "no calibration information\n");
        cal->PhaseCB[0]->click();
        cal->PhaseCB[1]->click();
        cal->PhaseSE[0]->setValue(4);
        cal->PhaseSE[1]->setValue(3);
        const char* points[2][3] = {{"5", "10", "20"}, {"5", "15", ""}};
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c)
                if (*points[r][c]) {
                    cal->CalValSG->item(r, c + 2)->setText(QString::fromUtf8(points[r][c]));
                    cal->CalValSG->setCurrentCell(r, c + 2);
                    QTest::keyClick(cal->CalValSG, Qt::Key_Return);
                }
        cal->CalValSG->clearSelection();
        ok = Save(&form, out + "/panel-calibration.png") && ok;
        frame->Button(BtnStartCalibration)->click();
        ok = Save(&form, out + "/panel-calibration-plan.png") && ok;
    } else {
        fprintf(stderr, "no calibration tab\n");
        ok = false;
    }

    // The plant overview: a relay trips while it watches, and a device at a
    // bus number where no relay answers.
    auto spare = std::make_unique<TTovikDevice>(kKindTovik);
    spare->PortId = form.Ports.Items(0)->Id;
    spare->BusAddress = 7;
    spare->InstallationName = "Насосная 3";
    form.AddDevice(std::move(spare));
    form.PlantOverview->trigger();
    TPlantOverviewForm* overview = form.OverviewForm;
    overview->move(20, 40);
    overview->resize(1240, 300);
    overview->show();
    if (!QTest::qWaitFor([&] { return overview->Model().CompletedRounds() >= 1; }, 30000))
        fprintf(stderr, "the overview did not fill\n");
    if (argc > 3)
        if (FILE* commands = fopen(argv[3], "w")) {
            fputs("trip 2 4\n", commands);
            fclose(commands);
        }
    // Marked, and its newest journal record read: the state names its cause.
    const auto marked = [&] {
        for (const TOverviewRow& r : overview->Model().Rows())
            if ((r.Marks & kMarkAlarm) && r.AlarmCount.value_or(0) > 0 && r.State.size() > 20) return true;
        return false;
    };
    if (!QTest::qWaitFor(marked, 30000)) {
        fprintf(stderr, "no relay marked in the overview\n");
        ok = false;
    }
    ok = Save(overview, out + "/overview.png") && ok;
    // The main window's status bar tells the mark.
    overview->hide();
    frame->TovikControl->setCurrentIndex(0);
    ok = Save(&form, out + "/overview-status.png") && ok;
    return ok ? 0 : 1;
}
