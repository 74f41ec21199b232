// The communication monitor and the device search dialog, driven like a
// user would: live frames of a port decoded in the monitor, pause, filter,
// clear, save and the bounded list; the search on a tovik-sim line with the
// engine's clock in the test's hand, and the chosen relays handed over.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "base/ui/Messages.h"
#include "ports/ProtoPortList.h"
#include "ports/ProtoUART.h"
#include "ports/ui/BusScanUnit.h"
#include "ports/ui/MonitorUnit.h"
#include "ports/ui/PortListUnit.h"
#include "ports/ui/UARTSelectUnit.h"
#include "protocol/Builders.h"
#include "protocol/Frame.h"
#include "protocol/FrameDecoder.h"
#include "support/ChildProcess.h"
#include "support/EventWait.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/ScanDriver.h"
#include "support/TraceRecorder.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename Pred>
bool WaitUntil(Pred pred, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(5);
    }
    return true;
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tovik-scanui-XXXXXX";
        if (::mkdtemp(tmpl)) Path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
    std::string Path;
};

struct MessageLog {
    std::vector<QString> Items;
    MessageLog() {
        SetMessageHook([this](TMessageKind, const QString& t) { Items.push_back(t); });
    }
    ~MessageLog() { SetMessageHook(nullptr); }
    bool HasPrefix(const QString& text) const {
        return std::any_of(Items.begin(), Items.end(), [&](const QString& i) { return i.startsWith(text); });
    }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A native relay at bus number 3 that answers the state read.
Bytes StateRelay(const Bytes& request) {
    const auto payload = NativeFramePayload(request);
    if (!payload || payload->size() < 2 || (*payload)[0] != 3 || (*payload)[1] != 23) return {};
    return BuildNativeFrame(Bytes{3, 23, 0, 0, 0, 5});
}

TFrameTraceRecord Frame(uint8_t bus) {
    TFrameTraceRecord r;
    r.Direction = TTraceDirection::Sent;
    r.Address = bus;
    r.DeviceKind = kKindTovik;
    r.Command = {24, -1, 0};
    r.Bytes = BuildNativeFrame(Bytes{bus, 24});
    r.Try = 1;
    return r;
}

QString Cell(const TMonitorForm& form, int row, int column) {
    return form.Model()->data(form.Model()->index(row, column), Qt::DisplayRole).toString();
}

// ---- the monitor ----

TEST(MonitorWindow, ShowsTheLiveTrafficDecodedAndControlsItsList) {
    test::PtyResponder relay(StateRelay);
    TProtoPortList ports;
    TProtoPort* port = ports.Items(ports.Add(std::make_unique<TProtoUART>(ports.Stats())));
    ASSERT_TRUE(static_cast<TProtoUART*>(port)->SetPortName(relay.PortName()));
    port->ReplyTimeout = 1000;
    const int32_t owner = port->RegisterOwner();
    auto events = std::make_shared<TResultEventsList>();
    auto readState = [&] {
        ASSERT_TRUE(RequestReadState(*port, 3, owner, kKindTovik, events, {}));
        ASSERT_TRUE(test::WaitForEvent(*events, std::chrono::seconds(20)));
        events->DispatchOne();
    };

    TMonitorForm* form = OpenMonitor(ports, *port, nullptr);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->windowTitle(), "Монитор обмена");
    EXPECT_EQ(OpenMonitor(ports, *port, nullptr), form);  // one window per port
    EXPECT_TRUE(port->Tracing());

    readState();
    ASSERT_TRUE(WaitUntil([&] { return form->Model()->rowCount() == 2; }));
    EXPECT_EQ(Cell(*form, 0, TMonitorModel::ColDirection), "передача");
    EXPECT_EQ(Cell(*form, 0, TMonitorModel::ColBus), "3");
    EXPECT_EQ(Cell(*form, 0, TMonitorModel::ColMeaning), "чтение состояния");
    EXPECT_EQ(Cell(*form, 0, TMonitorModel::ColBytes), "06 05 03 E8 17 DE");
    EXPECT_EQ(Cell(*form, 1, TMonitorModel::ColDirection), "приём");
    EXPECT_EQ(Cell(*form, 1, TMonitorModel::ColMeaning), "ответ на «чтение состояния»: ПРОБЛЕМА МАКС ТОКА");
    EXPECT_TRUE(Cell(*form, 1, TMonitorModel::ColReply).endsWith(" мс"));
    EXPECT_EQ(Cell(*form, 1, TMonitorModel::ColProblem), "");
    EXPECT_EQ(form->CountLabel->text(), "Кадров: 2");
    EXPECT_EQ(form->DroppedLabel->text(), "Пропущено кадров: 0");

    // Paused, the list stands still; resumed, it takes what came meanwhile.
    QTest::mouseClick(form->PauseBtn, Qt::LeftButton);
    EXPECT_EQ(form->PauseBtn->text(), "Продолжить");
    readState();
    form->MonitorTimerTimer();
    EXPECT_EQ(form->Model()->rowCount(), 2);
    QTest::mouseClick(form->PauseBtn, Qt::LeftButton);
    EXPECT_EQ(form->PauseBtn->text(), "Пауза");
    EXPECT_EQ(form->Model()->rowCount(), 4);

    // Filter by bus number.
    TFrameTraceRecord seven = Frame(7);
    port->TraceFrame(seven);
    ASSERT_TRUE(WaitUntil([&] { return form->Model()->rowCount() == 5; }));
    form->BusFilterSE->setValue(7);
    EXPECT_EQ(form->Model()->rowCount(), 1);
    EXPECT_EQ(Cell(*form, 0, TMonitorModel::ColBus), "7");
    form->BusFilterSE->setValue(3);
    EXPECT_EQ(form->Model()->rowCount(), 4);
    readState();  // new rows pass the filter as they come
    ASSERT_TRUE(WaitUntil([&] { return form->Model()->rowCount() == 6; }));

    // Save what is shown; a failed save says why.
    TempDir dir;
    const std::string path = dir.Path + "/обмен.txt";
    form->AskSaveFileName = [&] { return QString::fromStdString(path); };
    QTest::mouseClick(form->SaveBtn, Qt::LeftButton);
    const std::string saved = ReadFile(path);
    EXPECT_EQ(saved, form->Buffer().Text(3, port->Name));
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 7);  // heading and six rows
    {
        MessageLog log;
        form->AskSaveFileName = [&] { return QString::fromStdString(dir.Path + "/нет/обмен.txt"); };
        QTest::mouseClick(form->SaveBtn, Qt::LeftButton);
        EXPECT_TRUE(log.HasPrefix("Не удалось сохранить список.\n")) << log.Items.size();
    }
    form->BusFilterSE->setValue(0);

    // A flood while paused: the queue and the list keep the newest frames,
    // and the window says how many went.
    QTest::mouseClick(form->PauseBtn, Qt::LeftButton);
    const size_t before = form->Buffer().Size();
    constexpr size_t kFlood = 12000;
    for (size_t i = 0; i < kFlood; ++i) {
        TFrameTraceRecord r = Frame(static_cast<uint8_t>(i % 250 + 1));
        port->TraceFrame(r);
    }
    QTest::mouseClick(form->PauseBtn, Qt::LeftButton);
    EXPECT_EQ(form->Buffer().Size(), TMonitorBuffer::kDefaultCapacity);
    EXPECT_EQ(form->Model()->rowCount(), static_cast<int>(TMonitorBuffer::kDefaultCapacity));
    const size_t dropped = before + kFlood - TMonitorBuffer::kDefaultCapacity;
    EXPECT_EQ(form->DroppedLabel->text(), QString("Пропущено кадров: %1").arg(dropped));
    EXPECT_EQ(Cell(*form, form->Model()->rowCount() - 1, TMonitorModel::ColBus),
              QString::number((kFlood - 1) % 250 + 1));

    QTest::mouseClick(form->ClearBtn, Qt::LeftButton);
    EXPECT_EQ(form->Model()->rowCount(), 0);
    EXPECT_EQ(form->DroppedLabel->text(), "Пропущено кадров: 0");

    // Closing lets go of the port's trace.
    form->close();
    ASSERT_TRUE(WaitUntil([&] { return FindMonitor(*port) == nullptr; }));
    EXPECT_FALSE(port->Tracing());
}

TEST(MonitorWindow, DeletingAPortClosesItsMonitor) {
    test::PtyResponder line;
    TProtoPortList ports;
    auto uart = std::make_unique<TProtoUART>(ports.Stats());
    ASSERT_TRUE(uart->SetPortName(line.PortName()));
    ports.Add(std::move(uart));
    TUARTSelectForm select;
    TPortListForm list(ports, select);
    list.PortsListBox->setCurrentRow(0);
    list.MonitorPort1Click();
    TProtoPort* port = ports.Items(0);
    TMonitorForm* form = FindMonitor(*port);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->PortLabel->text(), "Порт: " + QString::fromStdString(line.PortName()));
    // Without a window that can add devices, the search is not offered.
    EXPECT_FALSE(static_cast<bool>(list.OnScanPort));
    list.DeletePort1Click();
    EXPECT_EQ(ports.Count(), 0);
    EXPECT_EQ(FindMonitor(*port), nullptr);
    CloseAllMonitors();
}

// ---- the device search ----

class DeviceSearch : public ::testing::Test {
protected:
    void SetUp() override {
        Sim = std::make_unique<test::TSimProcess>(
            TOVIK_BINARY_DIR "/bin/tovik-sim",
            std::vector<std::string>{"--baud", "0", "--announce-dir", Dir.Path + "/announce",
                                     "--manual-clock", "--relay", "0:1", "--relay", "2:2"});
        ASSERT_FALSE(Sim->Port().empty());
        auto uart = std::make_unique<TProtoUART>(Ports.Stats());
        ASSERT_TRUE(uart->SetPortName(Sim->Port()));
        Port = Ports.Items(Ports.Add(std::move(uart)));
        Port->SetFrameTrace(Trace);
        TScanHost host;
        host.IsListed = [this](int32_t id, uint8_t a) { return Listed.count({id, a}) > 0; };
        host.AddDevice = [this](uint8_t kind, int32_t id, uint8_t a) {
            Added.emplace_back(kind, id, a);
            Listed.insert({id, a});
        };
        Form = std::make_unique<TBusScanForm>(Ports, host);
        Form->FillPorts(Port);
        Form->show();
    }
    void TearDown() override {
        Form.reset();
        Ports.Clear();
    }

    // Starts the search and runs it; `onProbe` may stop it.
    ::testing::AssertionResult Search(int from, int to, std::function<void(uint8_t, bool)> onProbe = {}) {
        Form->FromSE->setValue(from);
        Form->ToSE->setValue(to);
        Form->ModbusCheckBox->setChecked(false);
        Form->TimeoutSE->setValue(kTimeout);
        Trace->Clear();  // only this search's frames
        QTest::mouseClick(Form->StartBtn, Qt::LeftButton);
        if (!Form->Scan()) return ::testing::AssertionFailure() << "the search did not start";
        test::ScanDriver driver{Clock,
                                *Trace,
                                kTimeout,
                                [](uint8_t a, bool) { return a == 1 || a == 2 ? 1 : 0; },
                                [this] { return Form->Scan() && Form->Scan()->Running(); },
                                [this] { return Form->Scan()->Progress().Done; },
                                [] { QTest::qWait(2); },
                                std::move(onProbe)};
        return driver.Run();
    }

    static constexpr int kTimeout = 40;
    TempDir Dir;
    test::ManualClock Clock;
    std::unique_ptr<test::TSimProcess> Sim;
    TProtoPortList Ports;
    TProtoPort* Port = nullptr;
    std::shared_ptr<test::TraceRecorder> Trace = std::make_shared<test::TraceRecorder>();
    std::set<std::pair<int32_t, uint8_t>> Listed;
    std::vector<std::tuple<uint8_t, int32_t, uint8_t>> Added;
    std::unique_ptr<TBusScanForm> Form;
};

TEST_F(DeviceSearch, FindsTheRelaysAndAddsTheChosenOnesWithTheKindChosen) {
    Listed.insert({Port->Id, 2});  // "ТовикМ" at 2 is in the device list already
    ASSERT_TRUE(Search(1, 3));
    ASSERT_TRUE(WaitUntil([&] { return !Form->StopBtn->isEnabled(); }));
    EXPECT_EQ(Form->ScanStatusLabel->text(), "Найдено устройств: 2.");
    EXPECT_EQ(Form->ScanProgressBar->value(), 3);
    EXPECT_EQ(Form->ScanProgressBar->maximum(), 3);
    QTableWidget* grid = Form->FoundGrid;
    ASSERT_EQ(grid->rowCount(), 2);
    auto kind = [&](int row) {
        return static_cast<QComboBox*>(grid->cellWidget(row, TBusScanForm::ColKind));
    };
    EXPECT_EQ(grid->item(0, TBusScanForm::ColBus)->text(), "1");
    EXPECT_EQ(grid->item(0, TBusScanForm::ColFormat)->text(), "собственный");
    EXPECT_EQ(grid->item(0, TBusScanForm::ColModel)->text(), "Товик-25-M3");
    EXPECT_TRUE(grid->item(0, TBusScanForm::ColModel)->toolTip().contains("Номинальный ток 25А."));
    EXPECT_EQ(kind(0)->currentText(), "Товик");
    EXPECT_EQ(grid->item(0, TBusScanForm::ColAdd)->checkState(), Qt::Checked);
    EXPECT_EQ(grid->item(1, TBusScanForm::ColModel)->text(), "ТовикМ-25-M2");
    EXPECT_EQ(kind(1)->currentText(), "ТовикМ");
    EXPECT_TRUE(grid->item(1, TBusScanForm::ColNotes)->text().startsWith("уже в списке"));
    EXPECT_EQ(grid->item(1, TBusScanForm::ColAdd)->checkState(), Qt::Unchecked);
    EXPECT_TRUE(Form->AddDevicesBtn->isEnabled());

    // The kind can be changed before adding.
    kind(0)->setCurrentIndex(kKindTovikModbus);
    QTest::mouseClick(Form->AddDevicesBtn, Qt::LeftButton);
    ASSERT_EQ(Added.size(), 1u);
    EXPECT_EQ(Added[0], std::make_tuple(kKindTovikModbus, Port->Id, uint8_t{1}));
    EXPECT_EQ(Form->ScanStatusLabel->text(), "Добавлено устройств: 1.");
    EXPECT_TRUE(grid->item(0, TBusScanForm::ColNotes)->text().startsWith("уже в списке"));
    // Pressed again, nothing is added twice.
    QTest::mouseClick(Form->AddDevicesBtn, Qt::LeftButton);
    EXPECT_EQ(Added.size(), 1u);
    // Opened again after the device at 2 was deleted: no longer marked.
    Listed.erase({Port->Id, 2});
    Form->FillPorts(Port);
    EXPECT_EQ(grid->item(1, TBusScanForm::ColNotes)->text(), "");
    EXPECT_TRUE(grid->item(0, TBusScanForm::ColNotes)->text().startsWith("уже в списке"));
}

TEST_F(DeviceSearch, StopEndsTheSearchWithWhatItFound) {
    ASSERT_TRUE(Search(1, 250, [&](uint8_t a, bool) {
        if (a == 4) QTest::mouseClick(Form->StopBtn, Qt::LeftButton);
    }));
    EXPECT_TRUE(Form->Scan()->Cancelled());
    EXPECT_EQ(Form->ScanStatusLabel->text(), "Поиск остановлен. Найдено устройств: 2.");
    EXPECT_TRUE(Form->StartBtn->isEnabled());
    EXPECT_FALSE(Form->StopBtn->isEnabled());
    EXPECT_EQ(Form->FoundGrid->rowCount(), 2);
    EXPECT_EQ(Form->ScanProgressBar->value(), 3);
}

TEST_F(DeviceSearch, WrongParametersAreRefusedBeforeAnythingIsSent) {
    MessageLog log;
    Form->FromSE->setValue(9);
    Form->ToSE->setValue(3);
    QTest::mouseClick(Form->StartBtn, Qt::LeftButton);
    Form->FromSE->setValue(1);
    Form->NativeCheckBox->setChecked(false);
    Form->ModbusCheckBox->setChecked(false);
    QTest::mouseClick(Form->StartBtn, Qt::LeftButton);
    ASSERT_EQ(log.Items.size(), 2u);
    EXPECT_EQ(log.Items[0], "Поиск невозможен: начальный номер больше конечного.");
    EXPECT_EQ(log.Items[1], "Поиск невозможен: не выбран ни один протокол обмена.");
    EXPECT_EQ(Form->Scan(), nullptr);
    EXPECT_EQ(Trace->Count(), 0u);
}

}  // namespace
}  // namespace tovik
