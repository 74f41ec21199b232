#include "ports/ui/MonitorUnit.h"

#include <QBrush>
#include <QColor>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "base/DeviceTypes.h"
#include "base/ui/Messages.h"
#include "ports/FrameTrace.h"
#include "ports/ProtoPortList.h"

namespace tovik {

namespace {

constexpr int kTimerMs = 100;
// Frames the queue keeps while the window is paused or busy.
constexpr size_t kQueueCapacity = 10000;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The open monitors; the user-interface thread alone touches them.
std::vector<TMonitorForm*>& Monitors() {
    static std::vector<TMonitorForm*> list;
    return list;
}

}  // namespace

// ---- the table ----

TMonitorModel::TMonitorModel(const TMonitorBuffer& buffer, QObject* parent)
    : QAbstractTableModel(parent), Buffer(buffer) {}

int TMonitorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Visible.size());
}

int TMonitorModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const TMonitorRow* TMonitorModel::RowAt(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= Visible.size()) return nullptr;
    return Buffer.Find(Visible[static_cast<size_t>(row)]);
}

QVariant TMonitorModel::data(const QModelIndex& index, int role) const {
    const TMonitorRow* r = RowAt(index.row());
    if (!r) return {};
    const TFrameColumns& c = r->Columns;
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
            case ColTime:
                return Q(c.Time);
            case ColDirection:
                return Q(c.Direction);
            case ColBus:
                return c.Address >= 0 ? QVariant(c.Address) : QVariant();
            case ColBytes:
                return Q(c.Hex);
            case ColMeaning:
                return Q(c.Meaning);
            case ColReply:
                return Q(c.ReplyTime);
            case ColProblem:
                return Q(c.Problem);
            default:
                return {};
        }
    }
    if (role == Qt::ForegroundRole && !c.Problem.empty() && c.Problem.rfind("попытка", 0) != 0)
        return QBrush(QColor(0xB0, 0x00, 0x00));
    if (role == Qt::TextAlignmentRole && (index.column() == ColBus || index.column() == ColReply))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TMonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kTitles[ColumnCount] = {"Время",    "Направление", "Номер", "Байты",
                                                     "Значение", "Ответ",       "Ошибка"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(kTitles[section]) : QVariant();
}

void TMonitorModel::Sync() {
    size_t gone = 0;
    while (gone < Visible.size() && !Buffer.Find(Visible[gone])) ++gone;
    if (gone) {
        beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
        Visible.erase(Visible.begin(), Visible.begin() + static_cast<std::ptrdiff_t>(gone));
        endRemoveRows();
    }
    std::vector<uint64_t> added;
    if (Buffer.Size()) {
        for (uint64_t s = std::max(Seen, Buffer.Row(0).Serial); s < Buffer.NextSerial(); ++s)
            if (const TMonitorRow* r = Buffer.Find(s); r && r->Matches(Bus)) added.push_back(s);
    }
    Seen = Buffer.NextSerial();
    if (added.empty()) return;
    const int first = static_cast<int>(Visible.size());
    beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
    Visible.insert(Visible.end(), added.begin(), added.end());
    endInsertRows();
}

void TMonitorModel::SetFilter(int bus) {
    beginResetModel();
    Bus = bus;
    Visible.clear();
    for (size_t i = 0; i < Buffer.Size(); ++i)
        if (Buffer.Row(i).Matches(Bus)) Visible.push_back(Buffer.Row(i).Serial);
    Seen = Buffer.NextSerial();
    endResetModel();
}

// ---- the window ----

TMonitorForm::TMonitorForm(TProtoPortList& ports, TProtoPort& port, QWidget* parent)
    : QWidget(parent, Qt::Window),
      Ports(ports),
      PortRef(&port),
      PortName(Q(port.Name)),
      Queue(std::make_shared<TFrameTraceQueue>(kQueueCapacity)) {
    setObjectName("MonitorForm");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Монитор обмена"));
    resize(900, 480);

    PortLabel = new QLabel(QStringLiteral("Порт: ") + PortName, this);
    PortLabel->setObjectName("PortLabel");
    auto* filterLabel = new QLabel(QStringLiteral("Номер устройства:"), this);
    BusFilterSE = new QSpinBox(this);
    BusFilterSE->setObjectName("BusFilterSE");
    BusFilterSE->setRange(0, kMaxBusAddress);
    BusFilterSE->setSpecialValueText(QStringLiteral("все"));
    filterLabel->setBuddy(BusFilterSE);
    PauseBtn = new QPushButton(QStringLiteral("Пауза"), this);
    PauseBtn->setObjectName("PauseBtn");
    PauseBtn->setCheckable(true);
    ClearBtn = new QPushButton(QStringLiteral("Очистить"), this);
    ClearBtn->setObjectName("ClearBtn");
    SaveBtn = new QPushButton(QStringLiteral("Сохранить..."), this);
    SaveBtn->setObjectName("SaveBtn");
    auto* top = new QHBoxLayout;
    top->addWidget(PortLabel);
    top->addSpacing(16);
    top->addWidget(filterLabel);
    top->addWidget(BusFilterSE);
    top->addStretch();
    top->addWidget(PauseBtn);
    top->addWidget(ClearBtn);
    top->addWidget(SaveBtn);

    ModelRef = new TMonitorModel(List, this);
    MonitorGrid = new QTableView(this);
    MonitorGrid->setObjectName("MonitorGrid");
    MonitorGrid->setModel(ModelRef);
    MonitorGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    MonitorGrid->setWordWrap(false);
    MonitorGrid->verticalHeader()->hide();
    MonitorGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    MonitorGrid->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    const int widths[] = {90, 95, 55, 230, 330, 55, 140};
    for (int c = 0; c < TMonitorModel::ColumnCount; ++c) MonitorGrid->setColumnWidth(c, widths[c]);
    MonitorGrid->horizontalHeader()->setStretchLastSection(true);

    CountLabel = new QLabel(this);
    CountLabel->setObjectName("CountLabel");
    DroppedLabel = new QLabel(this);
    DroppedLabel->setObjectName("DroppedLabel");
    CloseBtn = new QPushButton(QStringLiteral("Закрыть"), this);
    CloseBtn->setObjectName("CloseBtn");
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(CountLabel);
    bottom->addSpacing(16);
    bottom->addWidget(DroppedLabel);
    bottom->addStretch();
    bottom->addWidget(CloseBtn);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(MonitorGrid, 1);
    layout->addLayout(bottom);

    MonitorTimer = new QTimer(this);
    MonitorTimer->setObjectName("MonitorTimer");
    MonitorTimer->setInterval(kTimerMs);
    connect(MonitorTimer, &QTimer::timeout, this, &TMonitorForm::MonitorTimerTimer);
    connect(PauseBtn, &QPushButton::clicked, this, &TMonitorForm::PauseBtnClick);
    connect(ClearBtn, &QPushButton::clicked, this, &TMonitorForm::ClearBtnClick);
    connect(SaveBtn, &QPushButton::clicked, this, &TMonitorForm::SaveBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &QWidget::close);
    connect(BusFilterSE, &QSpinBox::valueChanged, this, &TMonitorForm::BusFilterSEChange);

    AskSaveFileName = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить список"),
                                            QStringLiteral("обмен.txt"),
                                            QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*)"));
    };

    Monitors().push_back(this);
    port.SetFrameTrace(Queue);
    MonitorTimer->start();
    ShowCounts();
}

TMonitorForm::~TMonitorForm() {
    Detach();
    auto& list = Monitors();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TMonitorForm::Detach() {
    if (!PortRef) return;
    // A port deleted behind the window's back is not touched.
    if (Ports.IndexOf(PortRef) >= 0) PortRef->SetFrameTrace(nullptr);
    PortRef = nullptr;
}

void TMonitorForm::MonitorTimerTimer() {
    // Paused: the queue keeps the newest frames (and counts the ones it
    // drops) until the window takes them again.
    if (PauseBtn->isChecked()) return;
    std::vector<TFrameTraceRecord> records = Queue->Take();
    const size_t lost = Queue->TakeDropped();
    if (records.empty() && !lost) return;
    QScrollBar* bar = MonitorGrid->verticalScrollBar();
    const bool follow = bar->value() == bar->maximum();
    List.Append(records);
    List.CountDropped(lost);
    ModelRef->Sync();
    if (follow) MonitorGrid->scrollToBottom();
    ShowCounts();
}

void TMonitorForm::PauseBtnClick() {
    PauseBtn->setText(PauseBtn->isChecked() ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    if (!PauseBtn->isChecked()) MonitorTimerTimer();
}

void TMonitorForm::ClearBtnClick() {
    // What is waiting in the queue goes too: the list starts afresh.
    Queue->Take();
    Queue->TakeDropped();
    List.Clear();
    ModelRef->Sync();
    ShowCounts();
}

void TMonitorForm::BusFilterSEChange() {
    ModelRef->SetFilter(BusFilterSE->value());
    MonitorGrid->scrollToBottom();
    ShowCounts();
}

void TMonitorForm::SaveBtnClick() {
    const QString path = AskSaveFileName ? AskSaveFileName() : QString();
    if (path.isEmpty()) return;
    std::string error;
    const std::string text = List.Text(ModelRef->Filter(), PortName.toStdString());
    if (!SaveMonitorText(path.toStdString(), text, error))
        ShowMessage(this, QStringLiteral("Не удалось сохранить список.\n") + Q(error), TMessageKind::Error);
}

void TMonitorForm::ShowCounts() {
    CountLabel->setText(QStringLiteral("Кадров: %1").arg(ModelRef->rowCount()));
    DroppedLabel->setText(QStringLiteral("Пропущено кадров: %1").arg(List.Dropped()));
}

// ---- one window per port ----

TMonitorForm* FindMonitor(const TProtoPort& port) {
    for (TMonitorForm* m : Monitors())
        if (m->Port() == &port) return m;
    return nullptr;
}

TMonitorForm* OpenMonitor(TProtoPortList& ports, TProtoPort& port, QWidget* parent) {
    TMonitorForm* form = FindMonitor(port);
    if (!form) form = new TMonitorForm(ports, port, parent);
    form->show();
    form->raise();
    form->activateWindow();
    return form;
}

void CloseMonitor(const TProtoPort& port) {
    if (TMonitorForm* form = FindMonitor(port)) {
        form->Detach();
        delete form;
    }
}

void CloseAllMonitors() {
    while (!Monitors().empty()) {
        TMonitorForm* form = Monitors().back();
        form->Detach();
        delete form;
    }
}

}  // namespace tovik
