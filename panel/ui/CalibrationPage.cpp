#include "panel/ui/CalibrationPage.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "panel/ui/PanelDialogs.h"
#include "panel/ui/TovikFrame.h"

namespace tovik {

namespace {

constexpr int kPhaseColumnWidth = 20;
constexpr int kPointColumnWidth = 38;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

TCalibrationPage::TCalibrationPage(QWidget* page, TTovikPanel& model,
                                   std::array<QPushButton*, kButtonCount>& buttons,
                                   std::function<void(const TIntentResult&)> acted)
    : QObject(page), Page(page), Model(model), Acted(std::move(acted)) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);

    CalGB = new QGroupBox(QStringLiteral("Задайте калибруемые каналы и количества точек в них"), page);
    CalGB->setObjectName("CalGB");
    auto* phases = new QHBoxLayout(CalGB);
    static constexpr const char* kBoxNames[] = {"IaCB", "IbCB", "IcCB"};
    static constexpr const char* kSpinNames[] = {"IaSE", "IbSE", "IcSE"};
    for (int p = 0; p < kCalPhaseCount; ++p) {
        auto* box = new QCheckBox(QString::fromUtf8(kCalPhaseNames[static_cast<size_t>(p)]), CalGB);
        box->setObjectName(kBoxNames[p]);
        auto* spin = new QSpinBox(CalGB);
        spin->setObjectName(kSpinNames[p]);
        spin->setRange(kCalMinPoints, kCalMinPoints);
        spin->setValue(kCalMinPoints);
        spin->setEnabled(false);
        PhaseCB[static_cast<size_t>(p)] = box;
        PhaseSE[static_cast<size_t>(p)] = spin;
        phases->addWidget(box);
        phases->addWidget(spin);
        phases->addSpacing(16);
        static constexpr void (TCalibrationPage::*kClicks[])() = {
            &TCalibrationPage::IaCBClick, &TCalibrationPage::IbCBClick, &TCalibrationPage::IcCBClick};
        connect(box, &QCheckBox::toggled, this, kClicks[p]);
        connect(spin, &QSpinBox::valueChanged, this, [this, p](int value) {
            if (Drawing) return;
            Acted(Model.Calibration().SetPointCount(p, value));
        });
    }
    phases->addStretch();
    CalSaveButton = new QPushButton(QStringLiteral("Сохранить данные..."), CalGB);
    CalSaveButton->setObjectName("CalSaveButton");
    CalLoadButton = new QPushButton(QStringLiteral("Загрузить данные..."), CalGB);
    CalLoadButton->setObjectName("CalLoadButton");
    phases->addWidget(CalSaveButton);
    phases->addWidget(CalLoadButton);
    connect(CalSaveButton, &QPushButton::clicked, this, &TCalibrationPage::CalSaveButtonClick);
    connect(CalLoadButton, &QPushButton::clicked, this, &TCalibrationPage::CalLoadButtonClick);
    layout->addWidget(CalGB);

    GroupBox5 = new QGroupBox(QStringLiteral("Укажите токи калибровочных точек, A"), page);
    GroupBox5->setObjectName("GroupBox5");
    CalValSG = new QTableWidget(kCalPhaseCount, 3, GroupBox5);
    CalValSG->setObjectName("CalValSG");
    CalValSG->verticalHeader()->hide();
    CalValSG->setWordWrap(false);
    const QFontMetrics metrics(CalValSG->font());
    CalValSG->verticalHeader()->setDefaultSectionSize(std::max(16, metrics.height() + 5));
    // Wide enough for "9999" or "0,010" in this font.
    CalValSG->horizontalHeader()->setDefaultSectionSize(
        std::max(kPointColumnWidth, metrics.horizontalAdvance(QStringLiteral("0,000")) + 14));
    CalValSG->horizontalHeader()->setMinimumSectionSize(kPhaseColumnWidth);
    CalValSG->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
    CalValSG->setEnabled(false);
    auto* delegate = new TEnterDelegate(CalValSG);
    CalValSG->setItemDelegate(delegate);
    connect(delegate, &TEnterDelegate::EnterPressed, this, [this] { CalValSGKeyPress(Qt::Key_Return); });
    CalValSG->installEventFilter(this);
    // Row r of the grid is phase r, column k its point k.
    connect(CalValSG, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (Drawing) return;
        Model.Calibration().EditCell(item->row(), item->column(), item->text().toStdString());
    });
    // As high as the header and the three phase rows (and a scroll bar for
    // many points): no empty grid area below the phases.
    CalValSG->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    CalValSG->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    CalValSG->setFixedHeight(CalValSG->horizontalHeader()->sizeHint().height() +
                             kCalPhaseCount * CalValSG->verticalHeader()->defaultSectionSize() +
                             2 * CalValSG->frameWidth() +
                             CalValSG->horizontalScrollBar()->sizeHint().height());
    auto* gridLayout = new QVBoxLayout(GroupBox5);
    gridLayout->addWidget(CalValSG);
    layout->addWidget(GroupBox5);

    auto* startRow = new QHBoxLayout;
    QPushButton* start = MakePanelButton(BtnStartCalibration, page, startRow, buttons);
    start->setDefault(true);
    CalStepInfoLabel = new QLabel(QString::fromUtf8(kCalStepReady), page);
    CalStepInfoLabel->setObjectName("CalStepInfoLabel");
    CalStepInfoLabel->setWordWrap(true);
    startRow->addWidget(CalStepInfoLabel, 1);
    layout->addLayout(startRow);
    connect(start, &QPushButton::clicked, this, &TCalibrationPage::StartCalButtonClick);

    CalPlanGroupBox = new QGroupBox(QStringLiteral("План калибровки"), page);
    CalPlanGroupBox->setObjectName("CalPlanGroupBox");
    CalPlanSG = new QTableWidget(0, 4, CalPlanGroupBox);
    CalPlanSG->setObjectName("CalPlanSG");
    CalPlanSG->verticalHeader()->hide();
    CalPlanSG->setEditTriggers(QAbstractItemView::NoEditTriggers);
    CalPlanSG->setSelectionMode(QAbstractItemView::NoSelection);
    CalPlanSG->verticalHeader()->setDefaultSectionSize(std::max(16, metrics.height() + 5));
    CalPlanSG->horizontalHeader()->setDefaultSectionSize(
        metrics.horizontalAdvance(QStringLiteral("точка 10")) + 24);
    (new QVBoxLayout(CalPlanGroupBox))->addWidget(CalPlanSG);
    CalPlanGroupBox->hide();
    layout->addWidget(CalPlanGroupBox, 1);
    layout->addStretch();
}

bool TCalibrationPage::eventFilter(QObject* watched, QEvent* event) {
    // Enter on a cell that is not being edited normalises it too (the
    // editor passes its own Enter on through the delegate).
    if (watched == CalValSG && event->type() == QEvent::KeyPress) {
        const int key = static_cast<const QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            CalValSGKeyPress(key);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TCalibrationPage::PhaseClick(int Phase) {
    if (Drawing) return;
    Acted(Model.Calibration().CheckPhase(Phase, PhaseCB[static_cast<size_t>(Phase)]->isChecked()));
}

void TCalibrationPage::IaCBClick() {
    PhaseClick(0);
}

void TCalibrationPage::IbCBClick() {
    PhaseClick(1);
}

void TCalibrationPage::IcCBClick() {
    PhaseClick(2);
}

void TCalibrationPage::CalValSGKeyPress(int Key) {
    if (Key != Qt::Key_Return && Key != Qt::Key_Enter) return;
    const int row = CalValSG->currentRow();
    const int column = CalValSG->currentColumn();
    if (row < 0 || column < 0) return;
    const QTableWidgetItem* item = CalValSG->item(row, column);
    Acted(Model.Calibration().EnterCell(row, column, item ? item->text().toStdString() : std::string()));
}

void TCalibrationPage::StartCalButtonClick() {
    Acted(Model.Calibration().Start());
}

void TCalibrationPage::CalSaveButtonClick() {
    QString name = QStringLiteral("Калибровка");
    if (const TTovikDevice* device = Model.Device(); device && !device->InstallationName.empty())
        name += QStringLiteral(" ") + Q(device->InstallationName);
    const QString path = AskFileName(Page->window(), TFileDialogKind::CalibrationSave,
                                     FileNameOf(name) + QStringLiteral(".cal"));
    Acted(path.isEmpty() ? IntentDone() : Model.Calibration().SaveFile(path.toStdString()));
}

void TCalibrationPage::CalLoadButtonClick() {
    const QString path = AskFileName(Page->window(), TFileDialogKind::CalibrationOpen, QString());
    Acted(path.isEmpty() ? IntentDone() : Model.Calibration().LoadFile(path.toStdString()));
}

void TCalibrationPage::Redraw() {
    const TCalibration& cal = Model.Calibration().State();
    Drawing = true;
    const QSignalBlocker blockGrid(CalValSG);
    const bool started = cal.Started();
    CalGB->setEnabled(cal.GroupEnabled());
    for (int p = 0; p < kCalPhaseCount; ++p) {
        QCheckBox* box = PhaseCB[static_cast<size_t>(p)];
        QSpinBox* spin = PhaseSE[static_cast<size_t>(p)];
        box->setChecked(cal.Checked(p));
        spin->setRange(kCalMinPoints, cal.PointsMax());
        spin->setValue(cal.Points(p));
        spin->setEnabled(cal.PointsEnabled(p));
    }

    const TTextGrid& grid = cal.Grid();
    const int rows = std::max(static_cast<int>(grid.size()) - 1, 0);
    const int columns = static_cast<int>(cal.Columns());
    if (CalValSG->rowCount() != rows || CalValSG->columnCount() != columns || Drawn.empty()) {
        CalValSG->setRowCount(rows);
        CalValSG->setColumnCount(columns);
        Drawn.assign(grid.size(), std::vector<uint32_t>(static_cast<size_t>(columns), 0));
        const QBrush fixed = CalValSG->palette().brush(QPalette::Button);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                if (CalValSG->item(r, c)) continue;
                auto* item = new QTableWidgetItem;
                // Columns 0 (the phase) and 1 (the 0 A point) are fixed.
                if (c < 2) {
                    item->setFlags(Qt::ItemIsEnabled);
                    item->setBackground(fixed);
                } else {
                    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
                }
                item->setTextAlignment(c == 0 ? Qt::AlignCenter : Qt::AlignRight | Qt::AlignVCenter);
                CalValSG->setItem(r, c, item);
            }
        CalValSG->setColumnWidth(0, kPhaseColumnWidth);
    }
    QStringList header;
    if (!grid.empty())
        for (const std::string& h : grid[0]) header << Q(h);
    CalValSG->setHorizontalHeaderLabels(header);
    for (size_t r = 1; r < grid.size(); ++r)
        for (size_t c = 0; c < grid[r].size(); ++c) {
            const uint32_t rev = cal.CellRevision(r, c);
            if (Drawn[r][c] == rev) continue;
            Drawn[r][c] = rev;
            CalValSG->item(static_cast<int>(r - 1), static_cast<int>(c))->setText(Q(grid[r][c]));
        }
    CalValSG->setEnabled(cal.GridEnabled());
    GroupBox5->setEnabled(!started);
    CalStepInfoLabel->setText(Q(cal.StepInfo()));

    // After a start the tab takes no more input; the plan stays readable.
    if (started && CalPlanSG->rowCount() == 0) {
        const TTextGrid plan = cal.PlanGrid();
        QStringList planHeader;
        for (const std::string& h : plan[0]) planHeader << Q(h);
        CalPlanSG->setHorizontalHeaderLabels(planHeader);
        CalPlanSG->setRowCount(static_cast<int>(plan.size()) - 1);
        for (size_t r = 1; r < plan.size(); ++r)
            for (size_t c = 0; c < plan[r].size(); ++c) {
                auto* item = new QTableWidgetItem(Q(plan[r][c]));
                item->setTextAlignment(c == 0 ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignCenter);
                CalPlanSG->setItem(static_cast<int>(r - 1), static_cast<int>(c), item);
            }
        CalPlanGroupBox->show();
    }
    Drawing = false;
}

}  // namespace tovik
