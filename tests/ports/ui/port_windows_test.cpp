// The statistics window, the serial settings frame and the port selection
// dialog, driven like a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

#include "base/ui/Messages.h"
#include "ports/ProtoPortList.h"
#include "ports/ProtoUART.h"
#include "ports/SerialLines.h"
#include "ports/ui/OptUnit.h"
#include "ports/ui/PortListUnit.h"
#include "ports/ui/UARTPortFrame.h"
#include "ports/ui/UARTSelectUnit.h"
#include "protocol/Frame.h"
#include "protocol/Modbus.h"
#include "support/PtyResponder.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `pred` holds. The limit only ends a hung test.
template <typename Pred>
bool WaitUntil(Pred pred) {
    return QTest::qWaitFor(pred, test::kHangLimitMs);
}

TEST(StatisticsWindow, SilentRelayCountsThreeSendsAndThreeWithoutAnswer) {
    test::PtyResponder silent;
    auto stats = std::make_shared<TRequestStats>();
    TProtoUART port(stats);
    ASSERT_TRUE(port.SetPortName(silent.PortName()));
    port.ReplyTimeout = 30;
    TOptForm form(stats);
    form.show();
    EXPECT_EQ(form.sended_lab->text(), "0");

    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    auto request = [&] {
        auto req = MakeRequest(&port, 1, 1, {}, nullptr, 0, nullptr, 0, 0, 3);
        port.PutJob(MakeJob(std::move(req), nullptr, nullptr, owner, list,
                            [](TProtoRequest& r) -> TOutcome {
                                std::vector<uint8_t> f{1, 3, 0, 0, 0, 1};
                                AppendCrc(f);
                                TBuff reply;
                                return Exchange(*r.Port, f, r.Port->ReplyTimeout, 2, r.Tries, reply);
                            },
                            {}));
    };
    request();
    ASSERT_TRUE(WaitUntil([&] { return list->Count() == 1 && form.sended_lab->text() == "3"; }));
    EXPECT_EQ(form.noack_lab->text(), "3");
    EXPECT_EQ(form.recok_lab->text(), "0");
    EXPECT_EQ(form.recerr_lab->text(), "0");
    EXPECT_EQ(form.lasterr_lab->text(), "нет ответа");  // why the last request failed
    request();
    ASSERT_TRUE(WaitUntil([&] { return form.sended_lab->text() == "6"; }));
    EXPECT_EQ(form.noack_lab->text(), "6");

    // "Сбросить": zeros on the next refresh of the 500 ms timer.
    EXPECT_EQ(form.StatUpdTimer->interval(), 500);
    QTest::mouseClick(form.rst_btn, Qt::LeftButton);
    EXPECT_EQ(stats->GetStats().SentCount, 0);
    ASSERT_TRUE(WaitUntil([&] {
        return form.sended_lab->text() == "0" && form.noack_lab->text() == "0" &&
               form.lasterr_lab->text().isEmpty();
    }));
}

TEST(StatisticsWindow, CaptionsAndClose) {
    TOptForm form(std::make_shared<TRequestStats>());
    form.show();
    EXPECT_EQ(form.windowTitle(), "Статистика");
    EXPECT_EQ(form.rst_btn->text(), "Сбросить");
    EXPECT_EQ(form.Button1->text(), "Close");
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.StatUpdTimer->isActive());  // keeps running while hidden
}

struct SettingsFrameTest : ::testing::Test {
    test::PtyResponder line;
    TProtoUART port;
    QWidget host;
    void SetUp() override {
        new QVBoxLayout(&host);
        ASSERT_TRUE(port.SetPortName(line.PortName()));
        host.show();
        host.activateWindow();  // focus changes need an active window
        ASSERT_TRUE(QTest::qWaitForWindowActive(&host, test::kHangLimitMs));
    }
    void TearDown() override { HideSettings(); }
};

TEST_F(SettingsFrameTest, ShowsThePortAndKeepsZeroUntilEdited) {
    ShowSettings(port, &host);
    ASSERT_NE(CurrentUartFrame, nullptr);
    auto* f = CurrentUartFrame;
    EXPECT_EQ(f->SpinEdit1->value(), 100);
    EXPECT_EQ(f->IntervalSE->value(), 100);
    EXPECT_EQ(port.ReplyTimeout.load(), 0);  // shown as 100, kept as 0
    EXPECT_EQ(port.RequestInterval.load(), 0);
    EXPECT_EQ(f->UARTPortStatusBar->currentMessage(), "Порт открыт.");
    EXPECT_TRUE(f->UARTInfoMemo->toPlainText().startsWith(
        "    Последовательный COM порт обмена данными с одним или несколькими устройствами."));
    EXPECT_TRUE(f->UARTInfoMemo->toPlainText().contains(
        "галочка \"Магистральное подключение устройств\" была снята."));

    QTest::mouseClick(f->UARTBusCheckBox, Qt::LeftButton);
    EXPECT_TRUE(port.Bus.load());
    QTest::mouseClick(f->UARTBusCheckBox, Qt::LeftButton);
    EXPECT_FALSE(port.Bus.load());
}

TEST_F(SettingsFrameTest, TypedValueIsStoredAsTypedUntilTheEditorLosesFocus) {
    ShowSettings(port, &host);
    auto* f = CurrentUartFrame;
    f->SpinEdit1->setFocus();
    auto* edit = f->SpinEdit1->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClicks(edit, "50");
    EXPECT_EQ(port.ReplyTimeout.load(), 50);
    f->IntervalSE->setFocus();  // leaving the editor moves it to the bound
    QApplication::processEvents();
    EXPECT_EQ(port.ReplyTimeout.load(), 100);
    EXPECT_EQ(f->SpinEdit1->value(), 100);

    // Passing through an editor without typing writes nothing.
    port.ReplyTimeout = 0;
    f->SpinEdit1->setFocus();
    f->IntervalSE->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(port.ReplyTimeout.load(), 0);

    auto* interval = f->IntervalSE->findChild<QLineEdit*>();
    interval->selectAll();
    QTest::keyClicks(interval, "2500");
    EXPECT_EQ(port.RequestInterval.load(), 2500);
    interval->selectAll();
    QTest::keyClick(interval, Qt::Key_Backspace);  // empty text: the minimum
    EXPECT_EQ(port.RequestInterval.load(), 100);
}

TEST_F(SettingsFrameTest, OneFrameAtATimeAndClosedLineStatus) {
    TProtoUART other;
    ASSERT_TRUE(other.SetPortName("ttyNONE3"));
    other.ReplyTimeout = 5000000;  // above the editor's range: shown as the bound
    ShowSettings(port, &host);
    ShowSettings(other, &host);
    EXPECT_EQ(host.findChildren<TTUARTPortFrame*>().size(), 1);
    EXPECT_EQ(&CurrentUartFrame->Port(), &other);
    // The status names the system's reason.
    EXPECT_TRUE(CurrentUartFrame->UARTPortStatusBar->currentMessage().startsWith(
        QStringLiteral("Ошибка окрытия порта. нет такого устройства (")))
        << CurrentUartFrame->UARTPortStatusBar->currentMessage().toStdString();
    EXPECT_EQ(CurrentUartFrame->SpinEdit1->value(), 3600000);
    EXPECT_EQ(other.ReplyTimeout.load(), 5000000);
    HideSettings();
    EXPECT_EQ(CurrentUartFrame, nullptr);
    EXPECT_TRUE(host.findChildren<TTUARTPortFrame*>().isEmpty());
}

// The port list window's open failure names the system's reason on a line
// below its message.
TEST(PortListWindow, OpenFailureShowsTheReasonBelowTheMessage) {
    std::vector<QString> messages;
    SetMessageHook([&](TMessageKind, const QString& text) { messages.push_back(text); });
    TProtoPortList ports;
    TUARTSelectForm select(nullptr, [] { return std::vector<std::string>{}; });
    TPortListForm form(ports, select);
    auto add = [&](const std::string& name) {
        QTimer::singleShot(0, &select, [&select, name] {
            select.PortCB->addItem(QString::fromStdString(name));
            select.PortCB->setCurrentIndex(select.PortCB->count() - 1);
            select.PortCBSelect();
            select.accept();
        });
        form.AddNewUARTPort1Click();
    };

    test::PtyResponder line;
    TProtoUART holder;  // another user has the line
    ASSERT_TRUE(holder.SetPortName(line.PortName()));
    ASSERT_TRUE(holder.IsOpen());
    add(line.PortName());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Ошибка открытия выбранного порта.\nпорт занят другой программой");
    EXPECT_EQ(ports.Count(), 0);

    add("tty");  // a terminal, never a serial line
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "Ошибка открытия выбранного порта.\nнедопустимое имя порта");

    holder.Close();
    add(line.PortName());
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(ports.Count(), 1);
    SetMessageHook(nullptr);
}

TEST(PortSelection, ListFilledOnDropDownAndOkOnlyAfterAChoice) {
    int calls = 0;
    TUARTSelectForm form(nullptr, [&] {
        ++calls;
        return std::vector<std::string>{"ttyS0", "ttyUSB0", "pts/7"};
    });
    form.show();
    EXPECT_EQ(form.windowTitle(), "Выберите UART COM порт ПК");
    EXPECT_FALSE(form.OKBut->isEnabled());
    EXPECT_EQ(form.PortCB->count(), 0);
    form.PortCB->showPopup();
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(form.PortCB->count(), 3);
    form.PortCB->hidePopup();
    form.PortCB->setCurrentIndex(2);
    emit form.PortCB->activated(2);
    EXPECT_TRUE(form.OKBut->isEnabled());
    EXPECT_EQ(form.PortCB->currentText(), "pts/7");
    form.hide();
    form.show();  // shown again: cleared
    EXPECT_FALSE(form.OKBut->isEnabled());
    EXPECT_EQ(form.PortCB->currentText(), "");
}

}  // namespace
}  // namespace tovik

namespace tovik {
namespace {

// The dialog offers what the ports layer lists; here from a sysfs tree
// without ports and an announcement folder of this test alone.
TEST(PortSelection, OffersTheLinesOfRunningSimulators) {
    QTemporaryDir sysfs, announce;
    ASSERT_TRUE(sysfs.isValid() && announce.isValid());
    const std::string sysfsPath = sysfs.path().toStdString(), announcePath = announce.path().toStdString();
    TUARTSelectForm form(nullptr, [&] { return ListSerialLines(sysfsPath, announcePath); });
    form.show();
    auto offered = [&] {
        form.PortCB->showPopup();
        QStringList items;
        for (int i = 0; i < form.PortCB->count(); ++i) items << form.PortCB->itemText(i);
        form.PortCB->hidePopup();
        return items;
    };
    EXPECT_TRUE(offered().isEmpty());

    QProcess sim;
    sim.start(QStringLiteral(TOVIK_BINARY_DIR "/bin/tovik-sim"),
              {"--relay", "0:1", "--baud", "0", "--announce-dir", announce.path()});
    ASSERT_TRUE(sim.waitForStarted(test::kHangLimitMs));
    ASSERT_TRUE(WaitUntil([&] { return sim.canReadLine(); }));
    const QString port = QString::fromUtf8(sim.readLine()).trimmed();
    ASSERT_FALSE(port.isEmpty());
    // The line is announced before its name is printed.
    EXPECT_EQ(offered(), QStringList{port});
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(test::kHangLimitMs));
    EXPECT_TRUE(offered().isEmpty());
}

}  // namespace
}  // namespace tovik
