#include "panel/ui/TaskLogPage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "panel/TaskLog.h"
#include "panel/ui/TovikFrame.h"

namespace tovik {

namespace {

constexpr int kColumnWidths[] = {32, 110, 110};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

bool IsEnterKey(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

TTaskLogPage::TTaskLogPage(QWidget* page, TTovikPanel& model, std::array<QPushButton*, kButtonCount>& buttons,
                           std::function<void(const TIntentResult&)> acted)
    : QObject(page), Model(model), Acted(std::move(acted)) {
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);

    TW_SG = new QTableWidget(page);
    TW_SG->setObjectName("TW_SG");
    TW_SG->setColumnCount(3);
    TW_SG->verticalHeader()->hide();
    TW_SG->setShowGrid(true);
    TW_SG->setWordWrap(false);
    TW_SG->setSelectionMode(QAbstractItemView::ContiguousSelection);
    TW_SG->setSelectionBehavior(QAbstractItemView::SelectItems);
    // The widest time stamp fits whatever the font; never narrower than
    // the grid's own widths.
    const QFontMetrics metrics(TW_SG->font());
    const int stamp = metrics.horizontalAdvance(QStringLiteral("31.12.2099 23:59:59")) + 12;
    for (int c = 0; c < 3; ++c)
        TW_SG->setColumnWidth(c, c == 0 ? kColumnWidths[0] : std::max(kColumnWidths[c], stamp));
    TW_SG->verticalHeader()->setDefaultSectionSize(std::max(16, metrics.height() + 5));
    TW_SG->horizontalHeader()->setStretchLastSection(false);
    TW_SG->setEnabled(false);
    auto* delegate = new TEnterDelegate(TW_SG);
    TW_SG->setItemDelegate(delegate);
    if (Model.TaskLog().Editable()) {
        TW_SG->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::AnyKeyPressed);
        connect(delegate, &TEnterDelegate::EnterPressed, this, [this] { TW_SGKeyPress(Qt::Key_Return); });
        TW_SG->installEventFilter(this);
    } else {
        TW_SG->setEditTriggers(QAbstractItemView::NoEditTriggers);
    }
    layout->addWidget(TW_SG, 1);

    auto* column = new QVBoxLayout;
    auto makeButton = [&](TPanelButton b) { return MakePanelButton(b, page, column, buttons); };
    QPushButton* automation = makeButton(BtnAutomation);
    column->addSpacing(12);
    QPushButton* add = makeButton(BtnTaskAdd);
    QPushButton* del = makeButton(BtnTaskDelete);
    QPushButton* clear = makeButton(BtnTaskClear);
    column->addStretch();
    layout->addLayout(column);

    // Read-only access: the buttons have no action at all.
    if (Model.Access() == TPanelAccess::ReadOnly) return;
    connect(automation, &QPushButton::clicked, this, &TTaskLogPage::OnOffAvtomatBtnClick);
    connect(add, &QPushButton::clicked, this, &TTaskLogPage::TWNewBtnClick);
    connect(del, &QPushButton::clicked, this, &TTaskLogPage::TWDelBtnClick);
    connect(clear, &QPushButton::clicked, this, &TTaskLogPage::TWClrBtnClick);
}

bool TTaskLogPage::eventFilter(QObject* watched, QEvent* event) {
    // Keys reach the grid only while no cell is being edited (the editor
    // passes its Enter on through the delegate).
    if (watched == TW_SG && IsEnterKey(event)) {
        TW_SGKeyPress(static_cast<const QKeyEvent*>(event)->key());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TTaskLogPage::OnOffAvtomatBtnClick() {
    Acted(Model.Data().SwitchAutomation());
}

void TTaskLogPage::TWNewBtnClick() {
    Acted(Model.TaskLog().Add());
}

void TTaskLogPage::TWDelBtnClick() {
    // Row r of the grid is entry r; none chosen: no row.
    const int row = TW_SG->currentRow();
    Acted(Model.TaskLog().Delete(row >= 0 ? std::optional<size_t>(static_cast<size_t>(row)) : std::nullopt));
}

void TTaskLogPage::TWClrBtnClick() {
    Acted(Model.TaskLog().Clear());
}

void TTaskLogPage::TW_SGKeyPress(int Key) {
    if (Key != Qt::Key_Return && Key != Qt::Key_Enter) return;
    const int row = TW_SG->currentRow();
    const int column = TW_SG->currentColumn();
    // Column 1 is the start, column 2 the end; the number column takes no edit.
    if (row < 0 || (column != 1 && column != 2)) return;
    auto text = [&](int c) {
        const QTableWidgetItem* item = TW_SG->item(row, c);
        return item ? item->text().toStdString() : std::string();
    };
    Acted(Model.TaskLog().EditEntry(static_cast<size_t>(row),
                                    column == 1 ? TTaskField::Start : TTaskField::End, text(1), text(2)));
}

void TTaskLogPage::Redraw() {
    const TTaskLogTab& tasks = Model.TaskLog();
    const TTextGrid& grid = tasks.Grid();
    const int rows = std::max(static_cast<int>(grid.size()) - 1, 0);
    if (TW_SG->rowCount() != rows || Drawn.empty()) {
        TW_SG->setRowCount(rows);
        Drawn.assign(grid.size(), {0, 0, 0});
        QStringList header;
        if (!grid.empty())
            for (const std::string& h : grid[0]) header << Q(h);
        TW_SG->setHorizontalHeaderLabels(header);
        const QBrush fixed = TW_SG->palette().brush(QPalette::Button);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < 3; ++c) {
                if (TW_SG->item(r, c)) continue;
                auto* item = new QTableWidgetItem;
                Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
                if (c > 0 && tasks.Editable()) flags |= Qt::ItemIsEditable;
                item->setFlags(flags);
                if (c == 0) {
                    item->setBackground(fixed);
                    item->setTextAlignment(Qt::AlignCenter);
                }
                TW_SG->setItem(r, c, item);
            }
    }
    for (size_t r = 1; r < grid.size(); ++r)
        for (size_t c = 0; c < 3; ++c) {
            const uint32_t rev = tasks.CellRevision(r, c);
            if (Drawn[r][c] == rev) continue;
            Drawn[r][c] = rev;
            TW_SG->item(static_cast<int>(r - 1), static_cast<int>(c))->setText(Q(grid[r][c]));
        }
    // An empty log has one row and nothing to edit in it.
    const bool empty = tasks.Log().Count() == 0;
    for (int c = 1; c < 3 && rows > 0; ++c) {
        QTableWidgetItem* item = TW_SG->item(0, c);
        Qt::ItemFlags flags = item->flags();
        const bool editable = !empty && tasks.Editable();
        item->setFlags(editable ? flags | Qt::ItemIsEditable : flags & ~Qt::ItemIsEditable);
    }
    TW_SG->setEnabled(tasks.GridEnabled());
}

}  // namespace tovik
