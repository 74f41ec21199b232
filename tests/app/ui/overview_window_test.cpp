// "Обзор установок" in the main window, on two simulated lines: opened by a
// read-only account, a trip marked, told in the status bar and sounded,
// acknowledged by a click; a double click opens the device's panel; the
// layout kept from one opening to the next; gone with the login.
#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "app/ui/main.h"
#include "panel/ui/PlantOverviewWindow.h"
#include "panel/ui/TovikFrame.h"
#include "support/PlantLines.h"

namespace tovik {
namespace {

int g_beeps = 0;

template <class F>
bool Until(F done) {
    return QTest::qWaitFor(done, 30000);
}

// The table's row showing the installation `name`.
int ViewRow(TPlantOverviewForm& w, const std::string& name) {
    for (int r = 0; r < w.RowsGrid->model()->rowCount(); ++r)
        if (w.RowAt(r) && w.RowAt(r)->Name == name) return r;
    return -1;
}

QPoint Cell(TPlantOverviewForm& w, int row) {
    return w.RowsGrid->visualRect(w.RowsGrid->model()->index(row, ColName)).center();
}

TEST(OverviewWindow, MarksAcknowledgesOpensPanelsAndKeepsItsLayout) {
    test::TPlantLines plant;
    plant.Start();
    ASSERT_FALSE(HasFatalFailure());
    plant.WriteConfig(kReadOnlyAccess, 3000, 0);
    SetBeepHook([] { ++g_beeps; });
    TMainForm form(QString::fromStdString(plant.Dir->Path));
    form.show();

    // Every access level may open it: from "Команды", the tool bar and Ctrl+Shift+O.
    ASSERT_TRUE(form.PlantOverview->isEnabled());
    EXPECT_TRUE(form.findChild<QMenu*>("Commands1")->actions().contains(form.PlantOverview));
    EXPECT_EQ(form.OverviewBut->defaultAction(), form.PlantOverview);
    EXPECT_EQ(form.PlantOverview->shortcut(), QKeySequence("Ctrl+Shift+O"));
    form.PlantOverview->trigger();
    ASSERT_FALSE(form.OverviewForm.isNull());
    TPlantOverviewForm& w = *form.OverviewForm;
    ASSERT_TRUE(Until([&] { return w.Model().CompletedRounds() >= 1 && w.Model().AllWell(); }));
    ASSERT_EQ(w.RowsGrid->model()->rowCount(), 4);
    EXPECT_EQ(w.RowsGrid->model()->index(0, ColAnswer).data().toString(), "да");

    // A trip: the row marked, the main window's status bar says so, a beep.
    g_beeps = 0;
    ASSERT_EQ(plant.Command(0, "trip 2 4"), "ok");
    ASSERT_TRUE(Until([&] { return form.OverviewStatus->toolTip().startsWith("Авария: «Насосная 2» — "); }));
    EXPECT_TRUE(form.OverviewStatus->isVisibleTo(&form));
    EXPECT_GE(g_beeps, 1);
    int row = ViewRow(w, "Насосная 2");
    EXPECT_EQ(w.RowsGrid->model()->index(row, ColMarks).data().toString(), "авария");
    EXPECT_TRUE(w.RowsGrid->model()->index(row, ColName).data(Qt::BackgroundRole).isValid());
    // A click acknowledges it.
    QTest::mouseClick(w.RowsGrid->viewport(), Qt::LeftButton, {}, Cell(w, row));
    ASSERT_TRUE(Until([&] { return form.OverviewStatus->text().isEmpty(); }));
    EXPECT_EQ(w.RowAt(row)->Marks, kMarkNone);

    // Sorted by name, downwards; a double click opens that device's panel.
    w.RowsGrid->sortByColumn(ColName, Qt::DescendingOrder);
    EXPECT_EQ(w.RowAt(0)->Name, "Насосная 2");
    row = ViewRow(w, "Вентиляция 2");
    QTest::mouseClick(w.RowsGrid->viewport(), Qt::LeftButton, {}, Cell(w, row));
    QTest::mouseDClick(w.RowsGrid->viewport(), Qt::LeftButton, {}, Cell(w, row));
    ASSERT_TRUE(Until([&] { return form.CurrentDevice == form.Devices.GetDevice(3); }));
    EXPECT_EQ(form.DevList->currentRow(), 3);
    ASSERT_TRUE(Until([&] { return w.RowAt(ViewRow(w, "Вентиляция 2"))->FromPanel; }));

    // Closed and opened again: the widths and the order as they were left.
    w.RowsGrid->setColumnWidth(ColState, 333);
    w.close();
    ASSERT_TRUE(Until([&] { return form.OverviewForm.isNull(); }));
    form.PlantOverview->trigger();
    ASSERT_FALSE(form.OverviewForm.isNull());
    EXPECT_EQ(form.OverviewForm->RowsGrid->columnWidth(ColState), 333);
    EXPECT_EQ(form.OverviewForm->RowsGrid->horizontalHeader()->sortIndicatorSection(), ColName);
    EXPECT_EQ(form.OverviewForm->RowsGrid->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    // Without an account it closes and cannot be opened.
    form.SetCurrentUser(nullptr);
    EXPECT_FALSE(form.PlantOverview->isEnabled());
    ASSERT_TRUE(Until([&] { return form.OverviewForm.isNull(); }));
    SetBeepHook(nullptr);
}

}  // namespace
}  // namespace tovik
