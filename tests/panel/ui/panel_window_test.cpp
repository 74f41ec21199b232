// The device panel in the main window, against tovik-sim: what it shows of
// each kind of relay and what reaches the line, read back from the
// simulator's request log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "app/ui/main.h"
#include "base/Clock.h"
#include "base/ui/Messages.h"
#include "panel/ui/TovikFrame.h"
#include "ports/ui/MonitorUnit.h"
#include "support/PanelApp.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;

using Request = test::TLoggedRequest;
using test::TMessageLog;
using test::Until;

// The engine's clock: the steady clock plus what the test adds.
std::atomic<uint32_t> g_clockOffset{0};
uint32_t OffsetClock() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
               duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count()) +
           g_clockOffset.load();
}
struct OffsetClockScope {
    OffsetClockScope() {
        g_clockOffset = 0;
        SetClockSource(&OffsetClock);
    }
    ~OffsetClockScope() { SetClockSource(nullptr); }
};

// ---- the simulator's request log ----

// A request that changes nothing on the relay: a native read, a ModBus
// read, or the record selection a ModBus alarm or task read writes first.
bool IsRead(const Request& r) {
    if (r.Command) {
        for (long c : {3, 4, 7, 11, 12, 14, 17, 19, 21, 23, 24, 26, 33})
            if (*r.Command == c) return true;
        return false;
    }
    if (r.Function == 3) return true;
    return r.Function == 16 && (r.Register == 128 || r.Register == 304);
}

bool IsSetpointRead(const Request& r) {
    return r.Command ? *r.Command == 3 : (r.Function == 3 && r.Register == 32);
}

bool IsWrite(const Request& r) {
    return !IsRead(r);
}

// ---- the application on one simulated line ----

class PanelWindow : public ::testing::Test, protected test::TPanelApp {
protected:
    // A line with relays of one kind at `addresses`, the program's
    // configuration with two devices on it, and the main window on the first.
    void Start(uint8_t kind, uint8_t access, std::vector<int> addresses = {1}) {
        test::TPanelApp::Start(kind, access, addresses, {"Насосная 1", "Насосная 2"});
    }

    // The visible labels the relay has not filled (empty: every one filled
    // and the setpoints read).
    std::string Unfilled() const {
        TTTovikFrame* f = Frame();
        if (!f) return "no panel";
        std::string out;
        for (int i = 0; i < kLabelCount; ++i) {
            const QLabel* l = f->Label(static_cast<TLabelId>(i));
            if (!l->isHidden() && l->text().endsWith(QStringLiteral("Н/Д")))
                out += l->text().toStdString() + "; ";
        }
        if (!f->Model().Data().View().HasSetpoints()) out += "no setpoints";
        if (!out.empty()) {
            out += " / status: " + Form->StatusPanel->text().toStdString();
            for (const QString& m : Messages.Items) out += " / message: " + m.toStdString();
            const auto log = Log();
            out += " / " + std::to_string(log.size()) + " requests";
            for (size_t i = log.size() > 3 ? log.size() - 3 : 0; i < log.size(); ++i)
                out += "\n" + log[i].Line;
        }
        return out;
    }
    bool Filled() const { return Unfilled().empty(); }

    // Waits until the log holds a request after `from` that `match` accepts.
    bool LogShows(size_t from, const std::function<bool(const Request&)>& match) {
        return Until([&] {
            const auto log = Log();
            for (size_t i = from; i < log.size(); ++i)
                if (match(log[i])) return true;
            return false;
        });
    }

    bool Modbus() const { return IsModbusKind(Kind); }

    TMessageLog Messages;

    void TearDown() override {
        Form.reset();
        QLocale::setDefault(QLocale::system());
    }
};

TEST_F(PanelWindow, OpeningEachKindFillsEveryLabelWithReadsOnly) {
    for (uint8_t kind = 0; kind < kDeviceKindCount; ++kind) {
        SCOPED_TRACE(int(kind));
        ASSERT_NO_FATAL_FAILURE(Start(kind, 1));
        TTTovikFrame* f = Frame();
        ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
        EXPECT_EQ(f->TovikControl->tabText(0), QString::fromStdString(DataTabCaption(kind)));
        EXPECT_EQ(f->TovikControl->count(), 4);  // no calibration tab below the service level
        EXPECT_EQ(f->TovikControl->tabText(1), "Уставки");
        EXPECT_EQ(f->TovikControl->tabText(2), "Журнал заданий");
        EXPECT_EQ(f->TovikControl->tabText(3), "Журнал аварий");
        for (TLabelId id : {LabelUstEditDateTime, LabelStartRstDateTime, LabelMoto, LabelOnCount})
            EXPECT_EQ(f->Label(id)->isHidden(), kind != kKindTovikMModbus);
        EXPECT_EQ(f->Label(LabelKtr)->text(), "Kтр = 1");
        EXPECT_TRUE(f->Label(LabelDateTime)->text().startsWith("Текущее время: 7.03.2026 12:0"));
        EXPECT_EQ(Form->StatusPanel->text(), "СТОП");
        EXPECT_FALSE(f->TovikModelInfoMemo->toPlainText().isEmpty());
        EXPECT_EQ(f->TovikAgreName->text(), "Насосная 1");
        // 22, 23 or 25 setpoint rows, "сейчас" filled.
        const int rows = kind == 3 ? 25 : kind == 2 ? 23 : 22;
        ASSERT_EQ(f->TovikUstStringGrid->rowCount(), rows);
        EXPECT_EQ(f->TovikUstStringGrid->horizontalHeaderItem(4)->text(), "новое");
        ASSERT_TRUE(Until([&] { return f->TovikUstStringGrid->item(0, 3)->text() != "Н/Д"; }));
        if (kind == 3) {
            EXPECT_EQ(f->TovikUstStringGrid->item(24, 3)->text(), "0");  // item 24 as an integer
        }
        // The grid's columns as wide as their texts + 7.
        const QFontMetrics metrics(f->TovikUstStringGrid->font());
        int widest = 0;
        for (int r = 0; r < rows; ++r)
            widest = std::max(widest, metrics.horizontalAdvance(f->TovikUstStringGrid->item(r, 0)->text()));
        ASSERT_TRUE(Until([&] { return f->TovikUstStringGrid->columnWidth(0) == widest + 7; }))
            << f->TovikUstStringGrid->columnWidth(0);
        for (TPanelButton b : {BtnPusk, BtnStop, BtnResetCounters, BtnSyncTime, BtnAutomation})
            EXPECT_TRUE(f->Button(b)->isEnabled()) << ButtonInfo(b).Name;
        for (const Request& r : Log()) EXPECT_TRUE(IsRead(r)) << r.Line;
    }
}

TEST_F(PanelWindow, ReadOnlyAccessSendsOnlyReadsWhateverIsClickedOrTyped) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovikMModbus, 2));
    TTTovikFrame* f = Frame();
    ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
    for (int b = 0; b < kButtonCount; ++b)
        if (QPushButton* button = f->Button(static_cast<TPanelButton>(b))) {
            EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
            QTest::mouseClick(button, Qt::LeftButton);
        }
    EXPECT_FALSE(f->TovikPortsComboBox->isEnabled());
    EXPECT_FALSE(f->BusIDSE->isEnabled());
    EXPECT_EQ(f->TovikUstStringGrid->editTriggers(), QAbstractItemView::NoEditTriggers);
    // Typed anyway, Enter pressed, forwarded straight to the model.
    f->TovikUstStringGrid->item(2, 4)->setText("12");
    f->TovikUstStringGrid->setCurrentCell(2, 4);
    QTest::keyClick(f->TovikUstStringGrid, Qt::Key_Return);
    EXPECT_EQ(f->TovikUstStringGrid->item(2, 4)->text(), "12,0");  // normalised
    QTest::mouseDClick(f->TovikAgreName, Qt::LeftButton);
    EXPECT_TRUE(f->TovikAgreName->isReadOnly());
    f->Model().Data().Start();
    f->Model().Data().ResetCounters();
    f->Model().Data().SwitchAutomation();
    f->Model().Settings().ChooseBus(9);
    // A setpoint read follows the Enter, and still nothing but reads.
    const size_t from = Log().size();
    EXPECT_TRUE(LogShows(from, IsSetpointRead));
    for (const Request& r : Log()) EXPECT_TRUE(IsRead(r)) << r.Line;
    EXPECT_EQ(Device()->BusAddress, 1);
}

TEST_F(PanelWindow, EnterOnTheDateOfManufactureAtFullAccessSendsNothingAndRereads) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovik, 1));
    TTTovikFrame* f = Frame();
    ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
    f->TovikControl->setCurrentIndex(1);
    const size_t from = Log().size();
    f->TovikUstStringGrid->item(20, 4)->setText("3.4.2021");  // item 20
    f->TovikUstStringGrid->setCurrentCell(20, 4);
    QTest::keyClick(f->TovikUstStringGrid, Qt::Key_Return);
    EXPECT_EQ(f->TovikUstStringGrid->item(20, 4)->text(), "3.04.2021");
    EXPECT_TRUE(LogShows(from, IsSetpointRead));
    for (const Request& r : Log()) EXPECT_FALSE(IsWrite(r)) << r.Line;
    EXPECT_TRUE(Messages.Items.empty());
}

TEST_F(PanelWindow, SetpointWrittenAndReadBack) {
    for (uint8_t kind : {kKindTovikModbus, kKindTovikM}) {
        SCOPED_TRACE(int(kind));
        ASSERT_NO_FATAL_FAILURE(Start(kind, 1));
        TTTovikFrame* f = Frame();
        ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
        f->TovikControl->setCurrentIndex(1);
        // Inom through the cell editor, as typed.
        f->TovikUstStringGrid->setCurrentCell(2, 4);
        f->TovikUstStringGrid->editItem(f->TovikUstStringGrid->item(2, 4));
        auto* editor = f->TovikUstStringGrid->viewport()->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        QTest::keyClicks(editor, "12");
        QTest::keyClick(editor, Qt::Key_Return);
        ASSERT_TRUE(Until([&] { return f->TovikUstStringGrid->item(2, 4)->text() == "12,0"; }));
        ASSERT_TRUE(Until([&] { return f->TovikUstStringGrid->item(2, 3)->text() == "12,0"; }))
            << f->TovikUstStringGrid->item(2, 3)->text().toStdString();
        const auto log = Log();
        EXPECT_EQ(std::count_if(log.begin(), log.end(), IsWrite), 1);
        // Text that is not a number: a message, nothing written, the text kept.
        f->TovikUstStringGrid->item(1, 4)->setText("много");
        f->TovikUstStringGrid->setCurrentCell(1, 4);
        QTest::keyClick(f->TovikUstStringGrid, Qt::Key_Return);
        ASSERT_EQ(Messages.Items.size(), 1u);
        EXPECT_EQ(Messages.Items[0],
                  "Уставка \"минимальный ток нагрузки Imin, A\": ожидается число. Ничего не записано.");
        EXPECT_EQ(f->TovikUstStringGrid->item(1, 4)->text(), "много");
        const size_t from = Log().size();
        EXPECT_TRUE(LogShows(from, IsSetpointRead));
        const auto after = Log();
        EXPECT_EQ(std::count_if(after.begin(), after.end(), IsWrite), 1);
        Messages.Items.clear();
    }
}

TEST_F(PanelWindow, NoPortShowsNoConnectionWithinOneTick) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovikModbus, 1));
    TTTovikFrame* f = Frame();
    ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
    f->RefreshTimer->stop();
    f->TovikPortsComboBox->showPopup();
    ASSERT_EQ(f->TovikPortsComboBox->count(), 2);
    EXPECT_EQ(f->TovikPortsComboBox->itemText(0), "Нет");
    f->TovikPortsComboBox->setCurrentIndex(0);
    f->TovikPortsComboBox->hidePopup();
    f->RefreshTimerTimer();
    EXPECT_EQ(Form->StatusPanel->text(), "Не настроено подключение.");
    EXPECT_EQ(Device()->PortId, 0);
    EXPECT_EQ(f->Label(LabelTokA)->text(), "Ia = Н/Д");
    EXPECT_EQ(f->TovikPortsComboBox->currentText(), "Нет");
    // Back on the line: polled again.
    f->RefreshTimer->start();
    f->TovikPortsComboBox->showPopup();
    f->TovikPortsComboBox->setCurrentIndex(1);
    f->TovikPortsComboBox->hidePopup();
    ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();

    // The wheel shows no other port; an arrow key chooses one, and it applies.
    f->TovikControl->setCurrentIndex(1);
    QWheelEvent wheel(QPointF(5, 5), f->TovikPortsComboBox->mapToGlobal(QPointF(5, 5)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(f->TovikPortsComboBox, &wheel);
    EXPECT_EQ(f->TovikPortsComboBox->currentIndex(), 1);
    f->TovikPortsComboBox->setFocus();
    QTest::keyClick(f->TovikPortsComboBox, Qt::Key_Up);
    EXPECT_EQ(f->TovikPortsComboBox->currentText(), "Нет");
    ASSERT_TRUE(Until([&] { return Form->StatusPanel->text() == QString("Не настроено подключение."); }));
    EXPECT_EQ(Device()->PortId, 0);
}

// At the usual 990 pixels, with the vertical scroll bar shown, the setpoint
// grid's columns fit its width in both views, "новое" included: no
// horizontal scroll bar. The names give way first; each shows whole as
// its tooltip.
TEST_F(PanelWindow, TheSetpointGridFitsTheUsualWindowInBothViews) {
    for (uint8_t kind : {kKindTovik, kKindTovikMModbus}) {
        SCOPED_TRACE(int(kind));
        ASSERT_NO_FATAL_FAILURE(Start(kind, 1));
        Form->resize(990, 700);
        ASSERT_TRUE(SetpointsRead());
        TTTovikFrame* f = Frame();
        QTableWidget* grid = f->TovikUstStringGrid;
        f->TovikControl->setCurrentIndex(1);
        auto fits = [&] {
            const QHeaderView* header = grid->horizontalHeader();
            return grid->verticalScrollBar()->isVisible() && !grid->horizontalScrollBar()->isVisible() &&
                   header->length() <= grid->viewport()->width() &&
                   header->sectionViewportPosition(header->logicalIndex(header->count() - 1)) +
                           header->sectionSize(header->logicalIndex(header->count() - 1)) <=
                       grid->viewport()->width();
        };
        ASSERT_TRUE(Until(fits)) << grid->horizontalHeader()->length() << " > " << grid->viewport()->width();
        const QString file = QString::fromStdString(Dir->Path + "/fit.ust");
        ASSERT_TRUE(f->SaveSetpointsTo(file));
        ASSERT_TRUE(f->CompareWithFileAt(file));
        ASSERT_EQ(grid->columnCount(), 6);
        ASSERT_TRUE(Until(fits)) << grid->horizontalHeader()->length() << " > " << grid->viewport()->width();
        for (int r = 0; r < grid->rowCount(); ++r)
            EXPECT_EQ(grid->item(r, 0)->toolTip(), grid->item(r, 0)->text());
        Stop();
    }
}

TEST_F(PanelWindow, MonitorOfTheDevicesLineShowsThePanelsTrafficDecoded) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovikMModbus, 1));
    TTTovikFrame* f = Frame();
    ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
    ASSERT_TRUE(f->MonitorButton->isEnabled());
    TProtoPort* port = f->Model().Link().DevicePort();
    ASSERT_NE(port, nullptr);
    QTest::mouseClick(f->MonitorButton, Qt::LeftButton);
    TMonitorForm* monitor = FindMonitor(*port);
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->isVisible());
    // The panel's own polls, to this relay only, sent and answered.
    ASSERT_TRUE(Until([&] {
        monitor->MonitorTimerTimer();
        return monitor->Buffer().Size() >= 4;
    }));
    for (size_t i = 0; i < monitor->Buffer().Size(); ++i)
        EXPECT_TRUE(monitor->Buffer().Row(i).Matches(1)) << monitor->Buffer().Row(i).Line;
    // A second click raises the same window.
    QTest::mouseClick(f->MonitorButton, Qt::LeftButton);
    EXPECT_EQ(FindMonitor(*port), monitor);
    CloseMonitor(*port);
    EXPECT_EQ(FindMonitor(*port), nullptr);

    // Without a port there is no line to watch.
    f->RefreshTimer->stop();
    f->TovikPortsComboBox->showPopup();
    f->TovikPortsComboBox->setCurrentIndex(0);
    f->TovikPortsComboBox->hidePopup();
    f->RefreshTimerTimer();
    EXPECT_FALSE(f->MonitorButton->isEnabled());
    EXPECT_EQ(f->ShowMonitor(), nullptr);
}

TEST_F(PanelWindow, BusNumberOneToFiveSendsTheNextPollToFive) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovikM, 1, {1, 5}));
    TTTovikFrame* f = Frame();
    ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
    const size_t from = Log().size();
    f->BusIDSE->stepBy(4);
    EXPECT_EQ(f->BusIDSE->value(), 5);
    EXPECT_EQ(Device()->BusAddress, 5);
    // The polls go to 5: a state poll reaches it. (A state poll of 1 answered
    // just after the change may still open its cycle's reads on 5.)
    EXPECT_TRUE(LogShows(from, [](const Request& r) { return r.Address == 5 && r.Command == 4; }));
    // From the first request to 5 on, nothing goes to 1.
    const auto log = Log();
    size_t first = from;
    while (log[first].Address != 5) ++first;
    for (size_t i = first; i < log.size(); ++i) EXPECT_EQ(log[i].Address, 5) << log[i].Line;
}

TEST_F(PanelWindow, PuskComesBackAfter1500msOfThePanelsClock) {
    OffsetClockScope clock;
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovikMModbus, 1));
    TTTovikFrame* f = Frame();
    ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
    f->RefreshTimer->stop();
    QPushButton* pusk = f->Button(BtnPusk);
    QTest::mouseClick(pusk, Qt::LeftButton);
    EXPECT_FALSE(pusk->isEnabled());
    EXPECT_TRUE(f->Button(BtnStop)->isEnabled());
    f->RefreshTimerTimer();
    EXPECT_FALSE(pusk->isEnabled());
    g_clockOffset += 1500;
    f->RefreshTimerTimer();
    EXPECT_TRUE(pusk->isEnabled());
    f->RefreshTimer->start();
    EXPECT_TRUE(LogShows(0, IsWrite));  // the start command
}

TEST_F(PanelWindow, ARelayThatStopsAnsweringBlanksThePanelAndRecovers) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovik, 1));
    TTTovikFrame* f = Frame();
    ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
    ASSERT_EQ(Sim->Command("silent"), "ok");
    ASSERT_TRUE(Until([&] { return Form->StatusPanel->text() == QString("Недоступно: нет ответа"); }))
        << Form->StatusPanel->text().toStdString();
    ASSERT_TRUE(Until([&] { return f->Label(LabelTokA)->text() == QString("Ia = Н/Д"); }))
        << f->Label(LabelTokA)->text().toStdString();
    // The batch's own reads may fail first; the commands go down with the
    // state poll's failure, which takes its tries.
    ASSERT_TRUE(Until([&] { return !f->Button(BtnPusk)->isEnabled(); }));
    EXPECT_FALSE(f->Button(BtnSyncTime)->isEnabled());
    EXPECT_EQ(f->TovikUstStringGrid->item(0, 3)->text(), "Н/Д");
    ASSERT_EQ(Sim->Command("speak"), "ok");
    ASSERT_TRUE(Until([&] { return Filled(); })) << Unfilled();
    ASSERT_TRUE(Until([&] { return f->Button(BtnPusk)->isEnabled(); }));
    EXPECT_EQ(Form->StatusPanel->text(), "СТОП");
}

TEST_F(PanelWindow, LayoutAndNameSurviveCloseAndReopen) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovikModbus, 1));
    TTTovikFrame* f = Frame();
    ASSERT_TRUE(Until([&] { return f->StatsPanel->width() > 0; }));
    const int total = f->StatsPanel->width();
    f->StatsPanel->setSizes({200, total - 200 - 190, 190});
    f->TovikControl->setCurrentIndex(2);
    const QList<int> sizes = f->StatsPanel->sizes();
    // The name, edited: double-click, type, Enter; the device list follows.
    QTest::mouseDClick(f->TovikAgreName, Qt::LeftButton);
    EXPECT_FALSE(f->TovikAgreName->isReadOnly());
    EXPECT_EQ(f->TovikAgreNameGroupBox->title(), "Введите имя электроустановки:");
    f->TovikAgreName->selectAll();
    f->TovikAgreName->insert("Вентиляция 7");
    QTest::keyClick(f->TovikAgreName, Qt::Key_Return);
    EXPECT_TRUE(f->TovikAgreName->isReadOnly());
    EXPECT_EQ(Form->DevList->item(0)->text(), "Вентиляция 7");

    ASSERT_NO_FATAL_FAILURE(OpenDevice(1));  // closes the first panel
    ASSERT_NE(Form->Devices.GetDevice(0)->PanelLayout, nullptr);
    const auto stored = ReadPanelLayout(*Form->Devices.GetDevice(0)->PanelLayout);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->ModelGroupWidth, sizes[0]);
    EXPECT_EQ(stored->PuskStopWidth, sizes[2]);
    EXPECT_EQ(stored->ActivePage, 2);
    ASSERT_NO_FATAL_FAILURE(OpenDevice(0));
    f = Frame();
    ASSERT_TRUE(Until([&] { return f->StatsPanel->sizes().value(0) == sizes[0]; }))
        << f->StatsPanel->sizes().value(0);
    EXPECT_EQ(f->StatsPanel->sizes().value(2), sizes[2]);
    EXPECT_EQ(f->TovikControl->currentIndex(), 2);
    EXPECT_EQ(f->TovikAgreName->text(), "Вентиляция 7");

    // And through the configuration file.
    Form.reset();
    RegisterBuiltInKinds();
    TUsers users;
    TProtoPortList ports;
    TDeviceList devices;
    ASSERT_FALSE(LoadConfigurationFile(Dir->Path + "/application.cfg", {users, ports, devices}).Fatal);
    ASSERT_EQ(devices.Count(), 2);
    EXPECT_EQ(devices.GetDevice(0)->InstallationName, "Вентиляция 7");
    const auto saved = ReadPanelLayout(*devices.GetDevice(0)->PanelLayout);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->ModelGroupWidth, sizes[0]);
    ReleaseConfiguration({users, ports, devices});
}

}  // namespace
}  // namespace tovik
