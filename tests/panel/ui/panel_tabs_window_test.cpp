// The task log, alarm log and calibration tabs in the main window, against
// tovik-sim: what the grids show of the relay, the files they write, and what
// reaches the line, read back from the simulator's request log.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "app/ui/main.h"
#include "base/Cp1251.h"
#include "base/ui/Messages.h"
#include "panel/XlsxTestUtil.h"
#include "panel/ui/AlarmLogPage.h"
#include "panel/ui/CalibrationPage.h"
#include "panel/ui/PanelDialogs.h"
#include "panel/ui/TaskLogPage.h"
#include "panel/ui/TovikFrame.h"
#include "support/PanelApp.h"

namespace tovik {
namespace {

using Request = test::TLoggedRequest;
using test::ReadFile;
using test::Until;

// The native commands that change nothing on the relay.
bool IsRead(const Request& r) {
    for (long c : {3, 4, 7, 11, 12, 14, 17, 19, 21, 23, 24, 26, 33})
        if (r.Command == c) return true;
    return false;
}

// One line of the journal's text file as the relay's operator reads it:
// each field cut or padded to its width, Windows-1251, CR LF.
std::string FixedLine(const std::vector<QString>& texts) {
    static const int kWidths[] = {21, 32, 25};
    std::string line;
    for (size_t i = 0; i < 3; ++i) {
        QString t = texts[i].left(kWidths[i]);
        t = t.leftJustified(kWidths[i], QLatin1Char(' '));
        line += Utf8ToCp1251(t.toStdString()).value_or("?");
    }
    return line + "\r\n";
}

class PanelTabsWindow : public ::testing::Test, protected test::TPanelApp {
protected:
    // One "Товик" relay at bus number 1 and the main window on it, logged
    // in at `access`.
    void Start(uint8_t access) {
        test::TPanelApp::Start(kKindTovik, access);
        ASSERT_TRUE(SetpointsRead());
    }

    // The requests after `from` with that command.
    std::vector<Request> Sent(size_t from, long command) const {
        std::vector<Request> out;
        const auto log = Log();
        for (size_t i = from; i < log.size(); ++i)
            if (log[i].Command == command) out.push_back(log[i]);
        return out;
    }

    // Waits until `count` more state polls (the item read at offset 49)
    // went out after `from`: what the earlier replies started has been
    // handled by then.
    bool PollsPassed(size_t from, size_t count) {
        return Until([&] {
            const auto reads = Sent(from, 4);
            return static_cast<size_t>(std::count_if(reads.begin(), reads.end(), [](const Request& r) {
                       return r.Line.find("\"params\":[49,") != std::string::npos;
                   })) >= count;
        });
    }

    std::vector<QString> Row(QTableWidget* grid, int row) const {
        std::vector<QString> out;
        for (int c = 0; c < grid->columnCount(); ++c)
            out.push_back(grid->item(row, c) ? grid->item(row, c)->text() : QString());
        return out;
    }

    void TearDown() override {
        SetFileDialogHook(nullptr);
        SetOpenFileHook(nullptr);
        SetMessageHook(nullptr);
        Form.reset();
        QLocale::setDefault(QLocale::system());
    }

    std::vector<QString> Messages;
    void HookMessages() {
        SetMessageHook([this](TMessageKind, const QString& t) { Messages.push_back(t); });
    }
};

TEST_F(PanelTabsWindow, TasksAddedEditedDeletedAndClearedOnTheRelayWithTheGridFollowing) {
    HookMessages();
    ASSERT_NO_FATAL_FAILURE(Start(1));
    TTTovikFrame* f = Frame();
    f->TovikControl->setCurrentWidget(f->Tabs[TabTaskLog]);
    QTableWidget* grid = f->TaskLogPage->TW_SG;
    QPushButton* add = f->Button(BtnTaskAdd);
    QPushButton* del = f->Button(BtnTaskDelete);
    QPushButton* clear = f->Button(BtnTaskClear);
    // The relay's two shifts, read entry by entry.
    ASSERT_TRUE(
        Until([&] { return grid->rowCount() == 2 && !Row(grid, 1)[2].isEmpty() && clear->isEnabled(); }));
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "Начало");
    EXPECT_EQ(Row(grid, 1)[0], "2");
    EXPECT_TRUE(Row(grid, 1)[1].endsWith(" 13:00:00")) << Row(grid, 1)[1].toStdString();
    EXPECT_TRUE(add->isEnabled());
    EXPECT_TRUE(del->isEnabled());

    // Cleared: one empty row, only "Добавить задание".
    size_t from = Log().size();
    QTest::mouseClick(clear, Qt::LeftButton);
    ASSERT_TRUE(Until([&] { return grid->rowCount() == 1 && add->isEnabled() && !clear->isEnabled(); }));
    EXPECT_EQ(Sent(from, 32).size(), 1u);
    EXPECT_EQ(Row(grid, 0), (std::vector<QString>{"", "", ""}));
    EXPECT_FALSE(del->isEnabled());
    EXPECT_NE(Sim->Command("status").find("tasks 0"), std::string::npos);

    for (int n = 1; n <= 2; ++n) {
        from = Log().size();
        QTest::mouseClick(add, Qt::LeftButton);
        ASSERT_TRUE(Until(
            [&] { return grid->rowCount() == n && !Row(grid, n - 1)[1].isEmpty() && add->isEnabled(); }));
        const auto adds = Sent(from, 31);
        ASSERT_EQ(adds.size(), 1u);
        // The new entry's index, then the PC's time twice.
        ASSERT_EQ(adds[0].Data.size(), 2u * 13u) << adds[0].Line;
        EXPECT_EQ(adds[0].Data.substr(0, 2), n == 1 ? "00" : "01");
        EXPECT_EQ(adds[0].Data.substr(2, 12), adds[0].Data.substr(14, 12));
        EXPECT_EQ(Row(grid, n - 1)[0], QString::number(n));
    }
    ASSERT_TRUE(Until([&] { return del->isEnabled() && clear->isEnabled(); }));
    EXPECT_NE(Sim->Command("status").find("tasks 2"), std::string::npos);

    // Enter in the number column edits nothing.
    from = Log().size();
    grid->setCurrentCell(0, 0);
    QTest::keyClick(grid, Qt::Key_Return);
    ASSERT_TRUE(PollsPassed(from, 2));
    EXPECT_TRUE(Sent(from, 20).empty());

    // Entry 1 edited in column 1 with Enter: written as typed, the start
    // shown as the panel writes it.
    from = Log().size();
    grid->item(0, 1)->setText("1.2.2026 8:00:00");
    const QString end = grid->item(0, 2)->text();
    grid->setCurrentCell(0, 1);
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(grid->item(0, 1)->text(), "1.02.2026 08:00:00");
    EXPECT_EQ(grid->item(0, 2)->text(), end);
    ASSERT_TRUE(Until([&] { return !Sent(from, 20).empty(); }));
    const Request write = Sent(from, 20)[0];
    EXPECT_EQ(write.Line.find("\"params\":[0]") != std::string::npos, true) << write.Line;
    EXPECT_EQ(write.Data.substr(0, 12), "08000001021a") << write.Line;
    // The relay holds what was written: a new read chain shows it again.
    ASSERT_TRUE(PollsPassed(from, 3));
    EXPECT_EQ(grid->item(0, 1)->text(), "1.02.2026 08:00:00");
    EXPECT_EQ(grid->rowCount(), 2);

    // Row 2 deleted: the index and the count the panel knows.
    from = Log().size();
    grid->setCurrentCell(1, 0);
    QTest::mouseClick(del, Qt::LeftButton);
    ASSERT_TRUE(Until([&] { return grid->rowCount() == 1 && del->isEnabled(); }));
    const auto deletes = Sent(from, 30);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0].Data, "0102") << deletes[0].Line;
    EXPECT_EQ(grid->item(0, 1)->text(), "1.02.2026 08:00:00");
    EXPECT_NE(Sim->Command("status").find("tasks 1"), std::string::npos);

    EXPECT_TRUE(Messages.empty()) << (Messages.empty() ? "" : Messages[0].toStdString());
}

TEST_F(PanelTabsWindow, ATripShowsOnceAndGoesToBothFilesAndClearEmptiesGridAndCache) {
    HookMessages();
    ASSERT_NO_FATAL_FAILURE(Start(1));
    TTTovikFrame* f = Frame();
    f->TovikControl->setCurrentWidget(f->Tabs[TabAlarms]);
    QTableWidget* grid = f->AlarmLogPage->AvariesSG;
    ASSERT_TRUE(Until([&] { return f->Button(BtnAlarmClear)->isEnabled(); }));
    EXPECT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(Row(grid, 0), (std::vector<QString>{"", "", ""}));

    ASSERT_EQ(Sim->Command("load 1 40000"), "ok");
    ASSERT_EQ(Sim->Command("trip 1 2"), "ok");
    ASSERT_TRUE(Until([&] { return !Row(grid, 0)[0].isEmpty(); }));
    // Polls go on; the record is not taken twice.
    ASSERT_TRUE(PollsPassed(Log().size(), 3));
    EXPECT_EQ(grid->rowCount(), 1);
    ASSERT_EQ(Device()->AlarmCache.size(), 1u);
    const std::vector<QString> row = Row(grid, 0);
    EXPECT_TRUE(row[0].startsWith("7.03.2026 12:")) << row[0].toStdString();
    EXPECT_FALSE(row[1].isEmpty());
    EXPECT_TRUE(row[2].startsWith("Ia=")) << row[2].toStdString();

    // "Сохранить...": the fixed-width Windows-1251 file, byte for byte.
    std::vector<TFileDialogKind> asked;
    std::string answer;
    SetFileDialogHook([&](TFileDialogKind kind, const QString& suggested) {
        asked.push_back(kind);
        EXPECT_TRUE(suggested.contains("Насосная 1")) << suggested.toStdString();
        return QString::fromStdString(answer);
    });
    answer = Dir->Path + "/journal.txt";
    QTest::mouseClick(f->Button(BtnAlarmSave), Qt::LeftButton);
    ASSERT_EQ(asked, std::vector<TFileDialogKind>{TFileDialogKind::AlarmText});
    std::string expected = "\xc4\xe0\xf2\xe0/\xe2\xf0\xe5\xec\xff" + std::string(11, ' ') +  // "Дата/время"
                           "\xef\xf0\xe8\xf7\xe8\xed\xe0 \xe0\xe2\xe0\xf0\xe8\xe8" +
                           std::string(18, ' ') +  // "причина аварии"
                           "\xf2\xee\xea\xe8" + std::string(21, ' ') + "\r\n";  // "токи"
    expected += FixedLine(row);
    EXPECT_EQ(ReadFile(answer), expected);

    // "Отправить в Excel": the workbook, then the desktop's program; where
    // there is none, a message names the file.
    std::vector<QString> opened;
    SetOpenFileHook([&](const QString& path) {
        opened.push_back(path);
        return false;
    });
    answer = Dir->Path + "/journal.xlsx";
    QTest::mouseClick(f->Button(BtnAlarmExcel), Qt::LeftButton);
    ASSERT_EQ(opened, std::vector<QString>{QString::fromStdString(answer)});
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_TRUE(Messages[0].contains(QString::fromStdString(answer))) << Messages[0].toStdString();
    const std::string workbook = test::XlsxPart(answer, "xl/workbook.xml");
    EXPECT_NE(workbook.find("name=\"Аварийные отключения\""), std::string::npos) << workbook;
    const std::string strings = test::XlsxPart(answer, "xl/sharedStrings.xml");
    for (const QString& text :
         {QString("Дата/время"), QString("причина аварии"), QString("токи"), row[0], row[1], row[2]})
        EXPECT_NE(strings.find(">" + text.toStdString() + "<"), std::string::npos) << text.toStdString();
    const std::string sheet = test::XlsxPart(answer, "xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet.find("<c r=\"A1\""), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<c r=\"C2\""), std::string::npos) << sheet;
    EXPECT_EQ(sheet.find("<c r=\"A3\""), std::string::npos) << sheet;
    for (const char* width : {"width=\"18", "width=\"33", "width=\"26"})
        EXPECT_NE(sheet.find(width), std::string::npos) << width << "\n" << sheet;
    const std::string styles = test::XlsxPart(answer, "xl/styles.xml");
    EXPECT_NE(styles.find("<b/>"), std::string::npos) << styles;
    EXPECT_NE(styles.find("horizontal=\"left\""), std::string::npos) << styles;

    // "Очистить": the relay's journal, the grid and the device's cache.
    size_t from = Log().size();
    QTest::mouseClick(f->Button(BtnAlarmClear), Qt::LeftButton);
    ASSERT_TRUE(Until([&] { return Row(grid, 0)[0].isEmpty(); }));
    EXPECT_EQ(Sent(from, 13).size(), 1u);
    EXPECT_EQ(grid->rowCount(), 1);
    EXPECT_TRUE(Device()->AlarmCache.empty());
    ASSERT_TRUE(PollsPassed(Log().size(), 3));
    EXPECT_TRUE(Device()->AlarmCache.empty());
    EXPECT_TRUE(Row(grid, 0)[0].isEmpty());
    EXPECT_EQ(Messages.size(), 1u);
}

TEST_F(PanelTabsWindow, ReadOnlyAccessSendsNothingFromTheseTabsAndHasNoCalibration) {
    HookMessages();
    ASSERT_NO_FATAL_FAILURE(Start(2));
    TTTovikFrame* f = Frame();
    EXPECT_EQ(f->TovikControl->count(), 4);
    EXPECT_EQ(f->Tabs[TabCalibration], nullptr);
    EXPECT_EQ(f->CalibrationPage, nullptr);
    ASSERT_EQ(Sim->Command("load 1 40000"), "ok");
    ASSERT_EQ(Sim->Command("trip 1 2"), "ok");
    f->TovikControl->setCurrentWidget(f->Tabs[TabAlarms]);
    ASSERT_TRUE(Until([&] { return !Row(f->AlarmLogPage->AvariesSG, 0)[0].isEmpty(); }));

    int dialogs = 0;
    SetFileDialogHook([&](TFileDialogKind, const QString&) {
        ++dialogs;
        return QString::fromStdString(Dir->Path + "/any");
    });
    for (TPanelButton b :
         {BtnTaskAdd, BtnTaskDelete, BtnTaskClear, BtnAlarmClear, BtnAlarmExcel, BtnAlarmSave}) {
        QPushButton* button = f->Button(b);
        EXPECT_FALSE(button->isEnabled()) << ButtonInfo(b).Name;
        // Enabled by force, clicked: no action is connected at all.
        button->setEnabled(true);
        button->click();
    }
    f->TovikControl->setCurrentWidget(f->Tabs[TabTaskLog]);
    QTableWidget* tasks = f->TaskLogPage->TW_SG;
    EXPECT_EQ(tasks->editTriggers(), QAbstractItemView::NoEditTriggers);
    tasks->setCurrentCell(0, 1);
    QTest::keyClick(tasks, Qt::Key_Return);
    f->Model().TaskLog().Add();
    f->Model().TaskLog().Clear();
    f->Model().Alarms().Clear();
    EXPECT_TRUE(f->Model().Alarms().SaveText(Dir->Path + "/journal.txt").Refused());

    ASSERT_TRUE(PollsPassed(Log().size(), 3));
    for (const Request& r : Log()) EXPECT_TRUE(IsRead(r)) << r.Line;
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(Device()->AlarmCache.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(Dir->Path + "/journal.txt"));
    EXPECT_FALSE(std::filesystem::exists(Dir->Path + "/any"));
    EXPECT_TRUE(Messages.empty());
}

TEST_F(PanelTabsWindow, CalibrationAtTheServiceLevelSavedLoadedAndStartedWithoutSending) {
    HookMessages();
    ASSERT_NO_FATAL_FAILURE(Start(0));
    TTTovikFrame* f = Frame();
    ASSERT_EQ(f->TovikControl->count(), 5);
    ASSERT_NE(f->CalibrationPage, nullptr);
    EXPECT_EQ(f->TovikControl->tabText(4), "Калибровка");
    f->TovikControl->setCurrentWidget(f->Tabs[TabCalibration]);
    TCalibrationPage* tab = f->CalibrationPage;
    QTableWidget* grid = tab->CalValSG;
    // The relay supports 6 points a phase.
    ASSERT_TRUE(Until([&] { return grid->columnCount() == 7; }));
    EXPECT_EQ(tab->PhaseSE[0]->maximum(), 6);
    EXPECT_EQ(grid->horizontalHeaderItem(6)->text(), "6");
    for (int r = 0; r < 3; ++r) EXPECT_EQ(grid->item(r, 1)->text(), "0,00");
    EXPECT_FALSE(tab->PhaseSE[0]->isEnabled());

    // No phase chosen.
    QPushButton* start = f->Button(BtnStartCalibration);
    ASSERT_TRUE(start->isEnabled());
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0], "Выберите калибруемые токи.");

    // Phase A with 3 points, phase B with 2; Enter normalises a cell.
    QTest::mouseClick(tab->PhaseCB[0], Qt::LeftButton);
    QTest::mouseClick(tab->PhaseCB[1], Qt::LeftButton);
    EXPECT_TRUE(tab->PhaseSE[0]->isEnabled());
    EXPECT_FALSE(tab->PhaseSE[2]->isEnabled());
    EXPECT_TRUE(grid->isEnabled());
    tab->PhaseSE[0]->setValue(3);
    grid->item(0, 2)->setText("5");
    grid->setCurrentCell(0, 2);
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(grid->item(0, 2)->text(), "5,00");
    grid->item(0, 3)->setText("5");
    grid->item(1, 2)->setText("7");

    // Saved: the file's bytes as the tab holds them.
    std::string answer = Dir->Path + "/points.cal";
    SetFileDialogHook([&](TFileDialogKind, const QString&) { return QString::fromStdString(answer); });
    QTest::mouseClick(tab->CalSaveButton, Qt::LeftButton);
    std::string expected = std::string("\x01\x01\x00\x03\x02\x02\x06", 7);
    const std::vector<std::vector<std::string>> cells = {
        {"0,00", "5,00", "5", "", "", ""}, {"0,00", "7", "", "", "", ""}, {"0,00", "", "", "", "", ""}};
    for (const auto& phase : cells)
        for (const std::string& text : phase) expected += static_cast<char>(text.size()) + text;
    EXPECT_EQ(ReadFile(answer), expected);

    // Not rising in phase A.
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(Messages.size(), 2u);
    EXPECT_EQ(Messages[1], "Ошибка ввода калибровочных токов фазы A.");

    // A file that ends early changes nothing on the tab.
    {
        std::ofstream(Dir->Path + "/short.cal", std::ios::binary)
            << std::string("\x01\x01\x01\x02\x02\x02\x02", 7);
    }
    answer = Dir->Path + "/short.cal";
    QTest::mouseClick(tab->CalLoadButton, Qt::LeftButton);
    ASSERT_EQ(Messages.size(), 3u);
    EXPECT_FALSE(tab->PhaseCB[2]->isChecked());
    EXPECT_EQ(grid->item(0, 3)->text(), "5,00");  // as the failed start normalised it

    // A file with phase A 0, 5, 10 and B 0, 7 loaded, then the run's plan.
    std::string good = std::string("\x01\x01\x00\x03\x02\x02\x03", 7);
    for (const char* text : {"0,00", "5", "10", "0,00", "7", "", "0,00", "", ""})
        good += static_cast<char>(std::strlen(text)) + std::string(text);
    { std::ofstream(Dir->Path + "/good.cal", std::ios::binary) << good; }
    answer = Dir->Path + "/good.cal";
    QTest::mouseClick(tab->CalLoadButton, Qt::LeftButton);
    ASSERT_EQ(Messages.size(), 3u) << Messages.back().toStdString();
    EXPECT_EQ(grid->item(0, 3)->text(), "10");
    const size_t from = Log().size();
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(Messages.size(), 3u) << Messages.back().toStdString();
    EXPECT_EQ(grid->item(0, 3)->text(), "10,0");  // normalised by the start
    EXPECT_TRUE(tab->CalStepInfoLabel->text().startsWith("План калибровки: 4 тока, фазы A, B."))
        << tab->CalStepInfoLabel->text().toStdString();
    ASSERT_TRUE(tab->CalPlanGroupBox->isVisible());
    ASSERT_EQ(tab->CalPlanSG->rowCount(), 4);
    EXPECT_EQ(Row(tab->CalPlanSG, 2), (std::vector<QString>{"7,00", "—", "точка 2", "—"}));
    EXPECT_EQ(Row(tab->CalPlanSG, 3), (std::vector<QString>{"10,0", "точка 3", "—", "—"}));
    EXPECT_FALSE(tab->CalGB->isEnabled());
    EXPECT_FALSE(grid->isEnabled());
    EXPECT_FALSE(start->isEnabled());
    // The relay is only read, before and after.
    ASSERT_TRUE(PollsPassed(from, 2));
    for (const Request& r : Log()) EXPECT_TRUE(IsRead(r)) << r.Line;
    EXPECT_FALSE(start->isEnabled());
}

}  // namespace
}  // namespace tovik
