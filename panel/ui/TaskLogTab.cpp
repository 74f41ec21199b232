#include "panel/ui/TaskLogTab.h"

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

TTaskLogTab::TTaskLogTab(QWidget* page, TTovikPanel& model, std::array<QPushButton*, kButtonCount>& buttons,
                         std::function<void()> acted)
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
    if (Model.TaskGridEditable()) {
        TW_SG->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::AnyKeyPressed);
        connect(delegate, &TEnterDelegate::EnterPressed, this, &TTaskLogTab::GridEnter);
        TW_SG->installEventFilter(this);
    } else {
        TW_SG->setEditTriggers(QAbstractItemView::NoEditTriggers);
    }
    layout->addWidget(TW_SG, 1);

    auto* column = new QVBoxLayout;
    auto makeButton = [&](TPanelButton b) {
        auto* button = new QPushButton(QString::fromUtf8(ButtonInfo(b).Caption), page);
        button->setObjectName(ButtonInfo(b).Name);
        button->setEnabled(false);
        buttons[static_cast<size_t>(b)] = button;
        column->addWidget(button);
        return button;
    };
    QPushButton* automation = makeButton(BtnAutomation);
    column->addSpacing(12);
    QPushButton* add = makeButton(BtnTaskAdd);
    QPushButton* del = makeButton(BtnTaskDelete);
    QPushButton* clear = makeButton(BtnTaskClear);
    column->addStretch();
    layout->addLayout(column);

    // Read-only access: the buttons have no action at all.
    if (Model.AccessRights() == TPanelAccess::ReadOnly) return;
    connect(automation, &QPushButton::clicked, this, [this] {
        Model.OnOffAvtomatBtnClick();
        Acted();
    });
    connect(add, &QPushButton::clicked, this, [this] {
        Model.TWNewBtnClick();
        Acted();
    });
    connect(del, &QPushButton::clicked, this, [this] {
        Model.TWDelBtnClick(TW_SG->currentRow() + 1);
        Acted();
    });
    connect(clear, &QPushButton::clicked, this, [this] {
        Model.TWClrBtnClick();
        Acted();
    });
}

bool TTaskLogTab::eventFilter(QObject* watched, QEvent* event) {
    // Keys reach the grid only while no cell is being edited (the editor
    // passes its Enter on through the delegate).
    if (watched == TW_SG && IsEnterKey(event)) {
        GridEnter();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TTaskLogTab::GridEnter() {
    const int row = TW_SG->currentRow();
    const int column = TW_SG->currentColumn();
    if (row < 0) return;
    auto text = [&](int c) {
        const QTableWidgetItem* item = TW_SG->item(row, c);
        return item ? item->text().toStdString() : std::string();
    };
    Model.TW_SGKeyPress(kEnterKey, row + 1, column, text(1), text(2));
    Acted();
}

void TTaskLogTab::Redraw() {
    const TTextGrid& grid = Model.TaskGrid();
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
                if (c > 0 && Model.TaskGridEditable()) flags |= Qt::ItemIsEditable;
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
            const uint32_t rev = Model.TaskCellRevision(r, c);
            if (Drawn[r][c] == rev) continue;
            Drawn[r][c] = rev;
            TW_SG->item(static_cast<int>(r - 1), static_cast<int>(c))->setText(Q(grid[r][c]));
        }
    // An empty log has one row and nothing to edit in it.
    const bool empty = Model.TaskLog().Count() == 0;
    for (int c = 1; c < 3 && rows > 0; ++c) {
        QTableWidgetItem* item = TW_SG->item(0, c);
        Qt::ItemFlags flags = item->flags();
        const bool editable = !empty && Model.TaskGridEditable();
        item->setFlags(editable ? flags | Qt::ItemIsEditable : flags & ~Qt::ItemIsEditable);
    }
    TW_SG->setEnabled(Model.TaskGridEnabled());
}

}  // namespace tovik
