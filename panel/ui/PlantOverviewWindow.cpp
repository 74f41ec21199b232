#include "panel/ui/PlantOverviewWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <cmath>
#include <mutex>

#include "panel/ui/TovikFrame.h"
#include "ports/ProtoPortList.h"

namespace tovik {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The panel open in the main window, if any.
const TTovikPanel* OpenTovikPanel() {
    TDevice* owner = TDevice::PanelOwner();
    const auto* panel = owner ? dynamic_cast<const TTovikFramePanel*>(owner->Panel()) : nullptr;
    TTTovikFrame* frame = panel ? panel->Frame() : nullptr;
    return frame ? &frame->Model() : nullptr;
}

constexpr int kDefaultWidths[kOverviewColumnCount] = {125, 115, 55, 55, 100, 315, 60, 60, 60, 55, 140, 70};
const QColor kAlarmMarkColor(255, 200, 200);
const QColor kSilentMarkColor(255, 232, 170);
const QColor kAlarmStateColor(170, 0, 0);
const QColor kNoAnswerColor(110, 110, 110);

}  // namespace

// ---- the table ----

TOverviewTableModel::TOverviewTableModel(const TPlantOverview& Overview, QObject* Parent)
    : QAbstractTableModel(Parent), Overview(Overview) {}

int TOverviewTableModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : static_cast<int>(Drawn.size());
}

int TOverviewTableModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : kOverviewColumnCount;
}

QVariant TOverviewTableModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole) return {};
    return QString::fromUtf8(OverviewColumnTitle(Section));
}

QVariant TOverviewTableModel::data(const QModelIndex& Index, int Role) const {
    const auto& rows = Overview.Rows();
    if (!Index.isValid() || Index.row() >= static_cast<int>(rows.size())) return {};
    const TOverviewRow& r = rows[static_cast<size_t>(Index.row())];
    const int column = Index.column();
    switch (Role) {
        case Qt::DisplayRole:
            return Q(OverviewCellText(r, column));
        case Qt::ToolTipRole:
            return column == ColState || column == ColAnswer ? Q(OverviewCellText(r, column)) : QVariant();
        case Qt::UserRole: {
            // Numbers sort as numbers; a value not known sorts first.
            const double none = -1e300;
            switch (column) {
                case ColBus:
                    return r.Bus;
                case ColIa:
                case ColIb:
                case ColIc: {
                    const double a = r.Amps[static_cast<size_t>(column - ColIa)];
                    return std::isnan(a) ? none : a;
                }
                case ColAlarmCount:
                    return r.AlarmCount ? static_cast<double>(*r.AlarmCount) : none;
                case ColMarks:
                    return static_cast<int>(r.Marks);
                default:
                    return Q(OverviewCellText(r, column));
            }
        }
        case Qt::BackgroundRole:
            if (r.Marks & kMarkAlarm) return kAlarmMarkColor;
            if (r.Marks & kMarkSilent) return kSilentMarkColor;
            return {};
        case Qt::ForegroundRole:
            if (column == ColState && r.InAlarm()) return kAlarmStateColor;
            if (column == ColAnswer && r.Answer == TAnswer::No) return kNoAnswerColor;
            return {};
        case Qt::FontRole:
            if (r.Marks == kMarkNone) return {};
            {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
        case Qt::TextAlignmentRole:
            if (column == ColBus || column == ColAlarmCount || (column >= ColIa && column <= ColIc))
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        default:
            return {};
    }
}

void TOverviewTableModel::Refresh() {
    const auto& rows = Overview.Rows();
    bool same = rows.size() == Drawn.size();
    for (size_t i = 0; same && i < rows.size(); ++i) same = rows[i].Id == Drawn[i].first;
    if (!same) {
        beginResetModel();
        Drawn.clear();
        for (const TOverviewRow& r : rows) Drawn.emplace_back(r.Id, r.Revision);
        endResetModel();
        return;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].Revision == Drawn[i].second) continue;
        Drawn[i].second = rows[i].Revision;
        const int row = static_cast<int>(i);
        emit dataChanged(index(row, 0), index(row, kOverviewColumnCount - 1));
    }
}

// ---- the window ----

TPlantOverviewForm::TPlantOverviewForm(TOverviewHost TheHost, QWidget* Parent)
    : QWidget(Parent, Qt::Window), Host(std::move(TheHost)), Wake(std::make_shared<TWakeUp>()) {
    setObjectName("PlantOverviewForm");
    setWindowTitle(QStringLiteral("Обзор установок"));
    resize(1220, 420);

    TOverviewEnvironment env;
    env.Devices = Host.Devices;
    env.FindPort = [ports = Host.Ports](int32_t id) { return ports ? ports->FindById(id) : nullptr; };
    env.OpenPanel = &OpenTovikPanel;
    env.Locale = PanelLocaleFormat();
    Overview = std::make_unique<TPlantOverview>(std::move(env));

    Table = new TOverviewTableModel(*Overview, this);
    Sorted = new QSortFilterProxyModel(this);
    Sorted->setSourceModel(Table);
    Sorted->setSortRole(Qt::UserRole);
    Sorted->setDynamicSortFilter(true);
    RowsGrid = new QTableView(this);
    RowsGrid->setObjectName("RowsGrid");
    RowsGrid->setModel(Sorted);
    RowsGrid->setSortingEnabled(true);
    RowsGrid->sortByColumn(-1, Qt::AscendingOrder);  // the list's order until a column is chosen
    RowsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    RowsGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    RowsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    RowsGrid->setWordWrap(false);
    RowsGrid->verticalHeader()->hide();
    RowsGrid->horizontalHeader()->setStretchLastSection(true);
    RowsGrid->horizontalHeader()->setSectionsMovable(false);
    for (int c = 0; c < kOverviewColumnCount; ++c) RowsGrid->setColumnWidth(c, kDefaultWidths[c]);
    connect(RowsGrid, &QTableView::clicked, this, &TPlantOverviewForm::RowClicked);
    connect(RowsGrid, &QTableView::doubleClicked, this, &TPlantOverviewForm::RowDoubleClicked);

    SummaryLabel = new QLabel(this);
    SummaryLabel->setObjectName("SummaryLabel");
    auto* hint =
        new QLabel(QStringLiteral("Щелчок по строке снимает отметку, двойной щелчок открывает панель "
                                  "устройства в главном окне."),
                   this);
    hint->setObjectName("HintLabel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(RowsGrid, 1);
    layout->addWidget(SummaryLabel);
    layout->addWidget(hint);

    if (!Host.LayoutPath.empty())
        if (const auto kept = LoadOverviewLayout(Host.LayoutPath)) {
            ApplyLayout(*kept);
            LoadedLayout = *kept;
        }

    RefreshTimer = new QTimer(this);
    RefreshTimer->setObjectName("RefreshTimer");
    RefreshTimer->setInterval(static_cast<int>(TPlantOverview::kTickMs));
    connect(RefreshTimer, &QTimer::timeout, this, &TPlantOverviewForm::RefreshTimerTimer);
    {
        std::lock_guard guard(Wake->Lock);
        Wake->Target = this;
    }
    Overview->Results()->SetNotifier([wake = Wake] { wake->Post(); });
    Overview->Start();
    RefreshTimerTimer();
    RefreshTimer->start();
}

TPlantOverviewForm::~TPlantOverviewForm() {
    Finish();
    Overview->Results()->SetNotifier(nullptr);
}

void TPlantOverviewForm::Finish() {
    if (Finished) return;
    Finished = true;
    RefreshTimer->stop();
    {
        std::lock_guard guard(Wake->Lock);
        Wake->Target = nullptr;
    }
    Overview->Stop();
    if (Host.ShowStatus) Host.ShowStatus(QString());
    // Only a layout the operator changed is written.
    const TOverviewLayout layout = Layout();
    std::string reason;
    if (!Host.LayoutPath.empty() && !(layout == LoadedLayout) &&
        SaveOverviewLayout(Host.LayoutPath, layout, reason))
        LoadedLayout = layout;
}

void TPlantOverviewForm::closeEvent(QCloseEvent* Event) {
    Finish();
    QWidget::closeEvent(Event);
}

bool TPlantOverviewForm::event(QEvent* Event) {
    if (Event->type() != WakeUpEvent()) return QWidget::event(Event);
    Wake->Pending.store(false);
    if (!Finished) RefreshTimerTimer();
    return true;
}

TOverviewLayout TPlantOverviewForm::Layout() const {
    TOverviewLayout layout;
    for (int c = 0; c < kOverviewColumnCount; ++c) layout.Widths.push_back(RowsGrid->columnWidth(c));
    const QHeaderView* header = RowsGrid->horizontalHeader();
    layout.SortColumn =
        header->sortIndicatorSection() < kOverviewColumnCount ? header->sortIndicatorSection() : -1;
    layout.Descending = header->sortIndicatorOrder() == Qt::DescendingOrder;
    return layout;
}

void TPlantOverviewForm::ApplyLayout(const TOverviewLayout& Layout) {
    const int count =
        std::min(static_cast<int>(Layout.Widths.size()), static_cast<int>(kOverviewColumnCount));
    for (int c = 0; c < count; ++c)
        if (Layout.Widths[static_cast<size_t>(c)] > 0)
            RowsGrid->setColumnWidth(c, Layout.Widths[static_cast<size_t>(c)]);
    RowsGrid->sortByColumn(Layout.SortColumn < kOverviewColumnCount ? Layout.SortColumn : -1,
                           Layout.Descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

const TOverviewRow* TPlantOverviewForm::RowAt(int ViewRow) const {
    const QModelIndex source = Sorted->mapToSource(Sorted->index(ViewRow, 0));
    const auto& rows = Overview->Rows();
    if (!source.isValid() || source.row() >= static_cast<int>(rows.size())) return nullptr;
    return &rows[static_cast<size_t>(source.row())];
}

// ---- the handlers ----

void TPlantOverviewForm::RefreshTimerTimer() {
    Overview->Tick();
    Redraw();
}

void TPlantOverviewForm::Redraw() {
    if (Overview->Revision() != DrawnRevision) {
        DrawnRevision = Overview->Revision();
        Table->Refresh();
        int answered = 0, alarms = 0, marked = 0;
        for (const TOverviewRow& r : Overview->Rows()) {
            answered += r.Answer == TAnswer::Yes;
            alarms += r.InAlarm();
            marked += r.Marks != kMarkNone;
        }
        SummaryLabel->setText(
            QStringLiteral("Устройств: %1, отвечают: %2, в аварийном состоянии: %3, отмечено: %4")
                .arg(Overview->Rows().size())
                .arg(answered)
                .arg(alarms)
                .arg(marked));
    }
    // Every new mark sounds; the status bar names the newest one standing.
    if (!Overview->TakeNews().empty()) SoundBeep();
    const QString status = Q(Overview->StandingNews());
    if (status != ShownStatus) {
        ShownStatus = status;
        if (Host.ShowStatus) Host.ShowStatus(status);
    }
}

void TPlantOverviewForm::RowClicked(const QModelIndex& Index) {
    if (const TOverviewRow* row = RowAt(Index.row())) Overview->Acknowledge(row->Id);
    Redraw();
}

void TPlantOverviewForm::RowDoubleClicked(const QModelIndex& Index) {
    const TOverviewRow* row = RowAt(Index.row());
    if (!row || !Host.OpenDevice) return;
    const int device = row->Index;
    Host.OpenDevice(device);
}

}  // namespace tovik
