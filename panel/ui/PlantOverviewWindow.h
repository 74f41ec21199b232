#pragma once
// "Обзор установок": the plant overview's window (panel/PlantOverview.h).
// One row per configured device, sortable by every column; a click on a
// row acknowledges its mark, a double click selects the device in the main
// window and opens its panel. New marks go to the main window's status
// bar and sound the beep. Closing the window stops the overview's traffic
// at once; its column widths and sort order are kept for the next time.
#include <QAbstractTableModel>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "base/ui/WakeUp.h"
#include "panel/PlantOverview.h"

class QLabel;
class QSortFilterProxyModel;
class QTableView;
class QTimer;

namespace tovik {

class TProtoPortList;

// What the main window gives the overview.
struct TOverviewHost {
    const TDeviceList* Devices = nullptr;
    TProtoPortList* Ports = nullptr;
    // Selects the device at this index of the list and opens its panel.
    std::function<void(int Index)> OpenDevice;
    // The main window's status bar: the newest mark still standing; empty
    // when none stands (or the window closed).
    std::function<void(const QString& Text)> ShowStatus;
    // Where the layout is kept; empty: only while the program runs.
    std::string LayoutPath;
};

// The overview's rows as the table shows them: one row per device, the
// marked rows coloured.
class TOverviewTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TOverviewTableModel(const TPlantOverview& Overview, QObject* Parent = nullptr);
    int rowCount(const QModelIndex& Parent = {}) const override;
    int columnCount(const QModelIndex& Parent = {}) const override;
    QVariant data(const QModelIndex& Index, int Role) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
    // Takes the overview's rows: the rows that changed, or all when rows
    // came or went.
    void Refresh();

private:
    const TPlantOverview& Overview;
    std::vector<std::pair<uint64_t, uint32_t>> Drawn;  // row id and revision, in row order
};

class TPlantOverviewForm : public QWidget {
    Q_OBJECT
public:
    explicit TPlantOverviewForm(TOverviewHost Host, QWidget* Parent = nullptr);
    // Stops the overview, keeps the layout and empties the status bar.
    ~TPlantOverviewForm() override;

    TPlantOverview& Model() { return *Overview; }
    // The overview's row shown in a row of the table.
    const TOverviewRow* RowAt(int ViewRow) const;
    TOverviewLayout Layout() const;
    void ApplyLayout(const TOverviewLayout& Layout);

    // ---- the handlers ----
    // The overview's tick and the drawing; new marks told and sounded.
    void RefreshTimerTimer();
    void RowClicked(const QModelIndex& Index);
    void RowDoubleClicked(const QModelIndex& Index);

    QTableView* RowsGrid = nullptr;
    QLabel* SummaryLabel = nullptr;
    QTimer* RefreshTimer = nullptr;

protected:
    bool event(QEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

private:
    void Redraw();
    void Finish();

    TOverviewHost Host;
    std::unique_ptr<TPlantOverview> Overview;
    TOverviewTableModel* Table = nullptr;
    QSortFilterProxyModel* Sorted = nullptr;
    uint32_t DrawnRevision = 0;
    QString ShownStatus;
    TOverviewLayout LoadedLayout;
    bool Finished = false;

    // The workers' wake-up: a queued call of the tick, at most one waiting.
    std::shared_ptr<TWakeUp> Wake;
};

}  // namespace tovik
