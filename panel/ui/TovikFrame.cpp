#include "panel/ui/TovikFrame.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>

#include "app/TovikDevice.h"
#include "base/ui/Messages.h"
#include "panel/ui/AlarmLogPage.h"
#include "panel/ui/CalibrationPage.h"
#include "panel/ui/TaskLogPage.h"
#include "ports/ui/MonitorUnit.h"

namespace tovik {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

bool IsEnter(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// The separator after a format's first field ("dd.MM.yyyy" gives ".").
std::string FormatSeparator(const QString& format) {
    const std::string f = format.toStdString();
    size_t i = 0;
    while (i < f.size() && std::isalpha(static_cast<unsigned char>(f[i]))) ++i;
    const size_t start = i;
    while (i < f.size() && !std::isalpha(static_cast<unsigned char>(f[i]))) ++i;
    const std::string sep = f.substr(start, i - start);
    if (sep.find('\'') != std::string::npos || sep.find(' ') != std::string::npos) return {};
    return sep;
}

// Where each data label sits: the currents, the protection counters, the
// alarm counters.
constexpr TLabelId kCurrentLabels[] = {LabelTokA, LabelTokB, LabelTokC, LabelDisb, LabelImax, LabelKtr};
constexpr TLabelId kTimerLabels[] = {
    LabelMinLoadT, LabelNomLoadT, LabelMaxLoadT, LabelDisbLoadT,       LabelPhaLoadT,         LabelTpLoadT,
    LabelSzLoadT,  LabelAvszN,    LabelDateTime, LabelUstEditDateTime, LabelStartRstDateTime, LabelMoto};
constexpr TLabelId kAlarmLabels[] = {LabelAvnMin, LabelAvnNom, LabelAvnMax,  LabelAvnDis,
                                     LabelAvnPha, LabelAvnOts, LabelAvnRizo, LabelOnCount};

// A value label keeps the size of its longest text so far: a new value of
// the same width changes its text alone, without laying out the window
// (and repainting all of it) again.
void ShowValue(QLabel* label, const QString& text) {
    label->setText(text);
    const QSize hint = label->sizeHint();
    if (label->minimumWidth() == label->maximumWidth() && hint.width() <= label->width() &&
        hint.height() <= label->height())
        return;
    label->setFixedSize(hint.expandedTo(label->minimumSize()));
}

QGroupBox* Group(const char* name, const char* title, QWidget* parent) {
    auto* g = new QGroupBox(QString::fromUtf8(title), parent);
    g->setObjectName(name);
    return g;
}

}  // namespace

TLocaleFormat PanelLocaleFormat() {
    const QLocale locale;
    TLocaleFormat f;
    const std::string decimal = QString(locale.decimalPoint()).toStdString();
    if (!decimal.empty()) f.DecimalSeparator = decimal;
    const std::string date = FormatSeparator(locale.dateFormat(QLocale::ShortFormat));
    if (!date.empty() && date != f.DecimalSeparator) f.DateSeparator = date;
    const std::string time = FormatSeparator(locale.timeFormat(QLocale::ShortFormat));
    if (!time.empty() && time != f.DateSeparator) f.TimeSeparator = time;
    return f;
}

QPushButton* MakePanelButton(TPanelButton Button, QWidget* Parent, QBoxLayout* Into,
                             std::array<QPushButton*, kButtonCount>& Buttons) {
    auto* button = new QPushButton(QString::fromUtf8(ButtonInfo(Button).Caption), Parent);
    button->setObjectName(ButtonInfo(Button).Name);
    button->setEnabled(false);
    Buttons[static_cast<size_t>(Button)] = button;
    if (Into) Into->addWidget(button);
    return button;
}

// ---- the port box and the grid's editor ----

void TDropDownComboBox::showPopup() {
    emit DropDown();
    QComboBox::showPopup();
}

void TDropDownComboBox::hidePopup() {
    QComboBox::hidePopup();
    emit CloseUp();
}

bool TEnterDelegate::eventFilter(QObject* editor, QEvent* event) {
    if (!IsEnter(event)) return QStyledItemDelegate::eventFilter(editor, event);
    // The editor commits its text to the cell in a queued call; the grid's
    // Enter is queued behind it, so that it sees the text. The key goes no
    // further: the grid must not take the same Enter a second time.
    QStyledItemDelegate::eventFilter(editor, event);
    QMetaObject::invokeMethod(
        this, [this] { emit EnterPressed(); }, Qt::QueuedConnection);
    return true;
}

// ---- construction ----

TTTovikFrame::TTTovikFrame(TTovikDevice& device, const TPanelContext& context)
    : QWidget(context.Area),
      StatusPanel(context.StatusPanel),
      GridSizer([this](const std::string& text) {
          const QFontMetrics metrics(TovikUstStringGrid->font());
          return TTextSize{metrics.horizontalAdvance(Q(text)), metrics.height()};
      }),
      Wake(std::make_shared<TWakeUp>()) {
    setObjectName("TTovikFrame");
    hide();
    if (StatusPanel) StatusPanel->clear();

    TPanelEnvironment env;
    env.Ports = context.Ports;
    PortList = context.Ports;
    env.AccessLevel = context.AccessLevel;
    env.Locale = PanelLocaleFormat();
    env.DeviceRenamed = context.DeviceRenamed;
    env.Account = context.Account;
    Panel = std::make_unique<TTovikPanel>(std::move(env));

    TovikControl = new QTabWidget(this);
    TovikControl->setObjectName("TovikControl");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(TovikControl);
    for (int t = 0; t < kTabCount; ++t) {
        const auto tab = static_cast<TPanelTab>(t);
        // Below the service level there is no calibration tab at all.
        if (tab == TabCalibration && Panel->Access() != TPanelAccess::Service) continue;
        auto* page = new QWidget;
        page->setObjectName(TabInfo(tab).Name);
        Tabs[static_cast<size_t>(t)] = page;
        TovikControl->addTab(page, QString::fromUtf8(TabInfo(tab).Caption));
    }
    BuildDataTab(Tabs[TabData]);
    BuildSettingsTab(Tabs[TabSettings]);
    const auto acted = [this](const TIntentResult& r) { Acted(r); };
    TaskLogPage = new TTaskLogPage(Tabs[TabTaskLog], *Panel, Buttons, acted);
    AlarmLogPage = new TAlarmLogPage(Tabs[TabAlarms], *Panel, Buttons, acted);
    if (Tabs[TabCalibration])
        CalibrationPage = new TCalibrationPage(Tabs[TabCalibration], *Panel, Buttons, acted);

    // The tick runs when it has something to do (Reschedule), not on a fixed period.
    RefreshTimer = new QTimer(this);
    RefreshTimer->setObjectName("RefreshTimer");
    RefreshTimer->setSingleShot(true);
    RefreshTimer->setTimerType(Qt::PreciseTimer);
    connect(RefreshTimer, &QTimer::timeout, this, &TTTovikFrame::RefreshTimerTimer);
    EnPuskTimer = new QTimer(this);
    EnPuskTimer->setObjectName("EnPuskTimer");
    EnPuskTimer->setInterval(static_cast<int>(kEnPuskTimerMs));
    EnPuskTimer->setSingleShot(true);
    connect(EnPuskTimer, &QTimer::timeout, this, &TTTovikFrame::EnPuskTimerTimer);

    Panel->SetLayoutView([this] { return ReadLayout(); }, [this](const TPanelLayout& l) { ApplyLayout(l); });
    {
        std::lock_guard guard(Wake->Lock);
        Wake->Target = this;
    }
    Panel->Link().Results()->SetNotifier([wake = Wake] { wake->Post(); });
    // The line does not wait for completions while more of the panel's jobs
    // are queued: those are handed over together, with the one after which
    // the line waits for the panel (or when the next poll may go out).
    Panel->Link().Results()->SetHoldWhileQueued(true);

    Panel->AttachDevice(&device);
    if (context.Area && context.Area->layout()) context.Area->layout()->addWidget(this);
    Redraw();
    Reschedule();
    show();
}

TTTovikFrame::~TTTovikFrame() {
    RefreshTimer->stop();
    EnPuskTimer->stop();
    {
        std::lock_guard guard(Wake->Lock);
        Wake->Target = nullptr;
    }
    Panel->Link().Results()->SetNotifier(nullptr);
    Panel.reset();
    if (StatusPanel) StatusPanel->clear();
}

void TTTovikFrame::BuildDataTab(QWidget* tab) {
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(4, 4, 4, 4);

    TovikAgreNameGroupBox = Group("TovikAgreNameGroupBox", kNameCaption, tab);
    TovikAgreName = new QLineEdit(TovikAgreNameGroupBox);
    TovikAgreName->setObjectName("TovikAgreName");
    TovikAgreName->setMaxLength(static_cast<int>(kMaxInstallationNameLength));
    TovikAgreName->setValidator(
        new TRecordTextValidator(static_cast<int>(kMaxInstallationNameLength), TovikAgreName));
    TovikAgreName->setReadOnly(true);
    // The box is the group's width - 16 (8 on each side).
    auto* nameLayout = new QHBoxLayout(TovikAgreNameGroupBox);
    nameLayout->setContentsMargins(8, 4, 8, 6);
    nameLayout->addWidget(TovikAgreName);
    layout->addWidget(TovikAgreNameGroupBox);
    if (Panel->Data().NameBox().Editable) TovikAgreName->installEventFilter(this);

    StatsPanel = new QSplitter(Qt::Horizontal, tab);
    StatsPanel->setObjectName("StatsPanel");
    StatsPanel->setChildrenCollapsible(false);
    layout->addWidget(StatsPanel, 1);

    auto makeLabel = [this](TLabelId id, QWidget* parent, QLayout* into) {
        auto* l = new QLabel(QString::fromUtf8(LabelInfo(id).Prefix) + QString::fromUtf8(kNotAvailableText),
                             parent);
        l->setObjectName(LabelInfo(id).Name);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setAutoFillBackground(true);
        Labels[static_cast<size_t>(id)] = l;
        into->addWidget(l);
        // Fixed to its text (ShowValue), it keeps to the left as a label that fills the row would.
        into->setAlignment(l, Qt::AlignLeft | Qt::AlignVCenter);
    };

    TovikModelGroupBox = Group("TovikModelGroupBox", "Модель", StatsPanel);
    TovikModelInfoMemo = new QPlainTextEdit(TovikModelGroupBox);
    TovikModelInfoMemo->setObjectName("TovikModelInfoMemo");
    TovikModelInfoMemo->setReadOnly(true);
    TovikModelInfoMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TovikModelInfoMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    (new QVBoxLayout(TovikModelGroupBox))->addWidget(TovikModelInfoMemo);
    StatsPanel->addWidget(TovikModelGroupBox);

    auto* state = Group("TovikStateGroupBox", "Состояние", StatsPanel);
    auto* stateLayout = new QVBoxLayout(state);
    auto* currents = Group("TovikTokGroupBox", "Токи", state);
    auto* currentsLayout = new QGridLayout(currents);
    currentsLayout->setHorizontalSpacing(16);
    for (size_t i = 0; i < std::size(kCurrentLabels); ++i) {
        auto* cell = new QVBoxLayout;
        makeLabel(kCurrentLabels[i], currents, cell);
        // Ia, Ib, Ic down the first column; Di, Imax, Kтр beside them.
        currentsLayout->addLayout(cell, static_cast<int>(i % 3), static_cast<int>(i / 3));
    }
    BuildTrendButton(currents, currentsLayout);
    stateLayout->addWidget(currents);
    auto* timers = Group("TovikTimersGroupBox", "Текущие счётчики защиты", state);
    auto* timersLayout = new QVBoxLayout(timers);
    timersLayout->setSpacing(2);
    for (TLabelId id : kTimerLabels) makeLabel(id, timers, timersLayout);
    stateLayout->addWidget(timers);
    stateLayout->addStretch();
    StatsPanel->addWidget(state);

    PuskStopPanel = new QWidget(StatsPanel);
    PuskStopPanel->setObjectName("PuskStopPanel");
    auto* puskLayout = new QVBoxLayout(PuskStopPanel);
    puskLayout->setContentsMargins(0, 0, 0, 0);
    auto* control = Group("TovikControlGroupBox", "Управление", PuskStopPanel);
    auto* controlLayout = new QHBoxLayout(control);
    MakePanelButton(BtnPusk, control, controlLayout, Buttons);
    MakePanelButton(BtnStop, control, controlLayout, Buttons);
    puskLayout->addWidget(control);
    auto* alarms = Group("TovikAVCountersGroupBox", "Аварийные счётчики", PuskStopPanel);
    auto* alarmsLayout = new QVBoxLayout(alarms);
    alarmsLayout->setSpacing(2);
    for (TLabelId id : kAlarmLabels) makeLabel(id, alarms, alarmsLayout);
    MakePanelButton(BtnResetCounters, alarms, alarmsLayout, Buttons);
    puskLayout->addWidget(alarms);
    puskLayout->addStretch();
    StatsPanel->addWidget(PuskStopPanel);
    StatsPanel->setStretchFactor(0, 0);
    StatsPanel->setStretchFactor(1, 1);
    StatsPanel->setStretchFactor(2, 0);

    if (Panel->Access() == TPanelAccess::ReadOnly) return;
    connect(Button(BtnPusk), &QPushButton::clicked, this, &TTTovikFrame::TovikPuskButtonClick);
    connect(Button(BtnStop), &QPushButton::clicked, this, &TTTovikFrame::TovikStopButtonClick);
    connect(Button(BtnResetCounters), &QPushButton::clicked, this, &TTTovikFrame::ResetAVCountersBtnClick);
}

void TTTovikFrame::BuildSettingsTab(QWidget* tab) {
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* connection = Group("TovikConnectGroupBox", "Подключение:", tab);
    auto* row = new QHBoxLayout(connection);
    TovikPortsComboBox = new TDropDownComboBox(connection);
    TovikPortsComboBox->setObjectName("TovikPortsComboBox");
    TovikPortsComboBox->setEditable(false);
    TovikPortsComboBox->setMinimumContentsLength(10);
    TovikPortsComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // The wheel passing over the box changes nothing: a port is chosen on purpose.
    TovikPortsComboBox->installEventFilter(this);
    row->addWidget(TovikPortsComboBox);
    row->addSpacing(12);
    auto* busLabel = new QLabel(QStringLiteral("Номер в магистрали:"), connection);
    busLabel->setObjectName("BusIDLabel");
    row->addWidget(busLabel);
    BusIDSE = new QSpinBox(connection);
    BusIDSE->setObjectName("BusIDSE");
    BusIDSE->setRange(kMinBusAddress, kMaxBusAddress);
    BusIDSE->setValue(1);
    // Arrows only: the number is never typed.
    if (auto* edit = BusIDSE->findChild<QLineEdit*>()) edit->setReadOnly(true);
    BusIDSE->setFocusPolicy(Qt::StrongFocus);
    row->addWidget(BusIDSE);
    row->addSpacing(12);
    QPushButton* sync = MakePanelButton(BtnSyncTime, connection, row, Buttons);
    row->addStretch();
    MonitorButton = new QPushButton(QStringLiteral("Монитор обмена..."), connection);
    MonitorButton->setObjectName("MonitorButton");
    MonitorButton->setToolTip(QStringLiteral("Каждый кадр на линии этого устройства, с расшифровкой"));
    MonitorButton->setEnabled(false);
    connect(MonitorButton, &QPushButton::clicked, this, [this] { ShowMonitor(); });
    row->addWidget(MonitorButton);
    layout->addWidget(connection);

    auto* setpoints = Group("TovikUstGroupBox", "Уставки:", tab);
    TovikUstStringGrid = new QTableWidget(setpoints);
    TovikUstStringGrid->setObjectName("TovikUstStringGrid");
    TovikUstStringGrid->setColumnCount(5);
    TovikUstStringGrid->verticalHeader()->hide();
    // The columns are fitted to the grid's width (FitGridColumns): no
    // horizontal scroll bar while they fit.
    TovikUstStringGrid->horizontalHeader()->setStretchLastSection(false);
    TovikUstStringGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    TovikUstStringGrid->viewport()->installEventFilter(this);
    TovikUstStringGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    TovikUstStringGrid->horizontalHeader()->setDefaultSectionSize(kGridDefaultColumnWidth);
    TovikUstStringGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    TovikUstStringGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
    TovikUstStringGrid->setShowGrid(true);
    TovikUstStringGrid->setWordWrap(false);
    auto* delegate = new TEnterDelegate(TovikUstStringGrid);
    TovikUstStringGrid->setItemDelegate(delegate);
    TovikUstStringGrid->installEventFilter(this);
    if (Panel->Settings().Editable())
        TovikUstStringGrid->setEditTriggers(QAbstractItemView::DoubleClicked |
                                            QAbstractItemView::EditKeyPressed |
                                            QAbstractItemView::AnyKeyPressed);
    else
        TovikUstStringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(delegate, &TEnterDelegate::EnterPressed, this,
            [this] { TovikUstStringGridKeyPress(Qt::Key_Return); });
    auto* setpointsLayout = new QVBoxLayout(setpoints);
    BuildSetpointFileButtons(setpoints, setpointsLayout);
    setpointsLayout->addWidget(TovikUstStringGrid);
    layout->addWidget(setpoints, 1);

    if (!Panel->Settings().Editable()) {
        TovikPortsComboBox->setEnabled(false);
        BusIDSE->setEnabled(false);
        return;
    }
    connect(TovikPortsComboBox, &TDropDownComboBox::DropDown, this,
            &TTTovikFrame::TovikPortsComboBoxDropDown);
    connect(TovikPortsComboBox, &TDropDownComboBox::CloseUp, this, &TTTovikFrame::TovikPortsComboBoxCloseUp);
    // A port chosen with the keys while the list is closed applies as one
    // chosen from the list. The list's own choice has applied on its
    // close-up, which comes first: the box then shows what the tab holds.
    connect(TovikPortsComboBox, &QComboBox::activated, this, [this](int index) {
        if (!Panel->Settings().PortBoxDroppedDown() && index != Panel->Settings().PortIndex())
            TovikPortsComboBoxCloseUp();
    });
    connect(BusIDSE, &QSpinBox::valueChanged, this, &TTTovikFrame::BusIDSEChange);
    connect(sync, &QPushButton::clicked, this, &TTTovikFrame::SyncTimeBtnClick);
}

// ---- the handlers ----

void TTTovikFrame::TovikPuskButtonClick() {
    const TIntentResult r = Panel->Data().Start();
    if (Panel->Data().EnPuskTimerRunning()) EnPuskTimer->start();
    Acted(r);
}

void TTTovikFrame::EnPuskTimerTimer() {
    Panel->Data().EnPuskTimerTimer();
    // Still running by the panel's clock: the tick ends it.
    Redraw();
    Reschedule();
}

void TTTovikFrame::TovikStopButtonClick() {
    Acted(Panel->Data().Stop());
}

void TTTovikFrame::ResetAVCountersBtnClick() {
    Acted(Panel->Data().ResetCounters());
}

void TTTovikFrame::SyncTimeBtnClick() {
    Acted(Panel->Data().SyncClock());
}

void TTTovikFrame::TovikAgreNameDblClick() {
    Acted(Panel->Data().NameDoubleClicked(TovikAgreName->text().toStdString()));
}

void TTTovikFrame::TovikAgreNameKeyPress(int Key) {
    if (Key != Qt::Key_Return && Key != Qt::Key_Enter) return;
    Acted(Panel->Data().NameEntered(TovikAgreName->text().toStdString()));
}

void TTTovikFrame::TovikPortsComboBoxDropDown() {
    Acted(Panel->Settings().ListPorts());
}

void TTTovikFrame::TovikPortsComboBoxCloseUp() {
    Acted(Panel->Settings().ChoosePort(TovikPortsComboBox->currentIndex()));
}

void TTTovikFrame::BusIDSEChange(int Value) {
    if (Drawing) return;
    Acted(Panel->Settings().ChooseBus(Value));
}

void TTTovikFrame::TovikUstStringGridKeyPress(int Key) {
    if (Key != Qt::Key_Return && Key != Qt::Key_Enter) return;
    // Row r of the grid is item r.
    const int row = TovikUstStringGrid->currentRow();
    if (row < 0) return;
    const QTableWidgetItem* item = TovikUstStringGrid->item(row, 4);
    Acted(Panel->Settings().WriteSetpoint(row, item ? item->text().toStdString() : std::string()));
}

// ---- set-up from the device ----

void TTTovikFrame::RefreshPortSelection() {
    Panel->FillPortBox();
    Redraw();
    Reschedule();
}

TPanelLayout TTTovikFrame::ReadLayout() const {
    const QList<int> sizes = StatsPanel->sizes();
    TPanelLayout l;
    l.ModelGroupWidth = sizes.value(0);
    l.PuskStopWidth = sizes.value(2);
    l.StatsWidth = StatsPanel->width();
    l.ActivePage = TovikControl->currentIndex();
    return l;
}

void TTTovikFrame::ApplyLayout(const TPanelLayout& l) {
    // Values another version (or a damaged file) left are taken only where
    // they make a layout at all.
    constexpr int kMaxWidth = 1 << 16;
    const auto usable = [](int32_t w) { return w > 0 && w < kMaxWidth; };
    if (usable(l.ModelGroupWidth) && usable(l.PuskStopWidth) && usable(l.StatsWidth)) {
        const int handles = 2 * StatsPanel->handleWidth();
        const int middle = std::max(l.StatsWidth - l.ModelGroupWidth - l.PuskStopWidth - handles, 1);
        StatsPanel->setSizes({l.ModelGroupWidth, middle, l.PuskStopWidth});
    }
    if (l.ActivePage >= 0 && l.ActivePage < TovikControl->count())
        TovikControl->setCurrentIndex(l.ActivePage);
}

// ---- timers and the wake-up ----

void TTTovikFrame::RefreshTimerTimer() {
    RunTicks();
}

void TTTovikFrame::RunTicks() {
    // The completions waiting, each in a tick of its own as one timer tick
    // after another would hand them over, then one tick more for the next
    // poll when it is due; drawn once. Those that arrive meanwhile wake the
    // window again.
    AutoSizeGrid();
    for (size_t waiting = Panel->Link().Results()->Count(); waiting > 0; --waiting) Panel->Tick();
    Panel->Tick();
    if (Panel->Data().EnPuskTimerRunning() && !EnPuskTimer->isActive()) EnPuskTimer->start();
    Redraw();
    Reschedule();
}

void TTTovikFrame::Reschedule() {
    // The thread sleeps until the tick has something to do; completions
    // wake it on their own.
    RefreshTimer->start(static_cast<int>(Panel->NextTickInMs()));
}

bool TTTovikFrame::event(QEvent* event) {
    if (event->type() != WakeUpEvent()) return QWidget::event(event);
    Wake->Pending.store(false);
    ++WakeCount;
    RunTicks();
    return true;
}

bool TTTovikFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TovikAgreName) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            TovikAgreNameDblClick();
            return true;
        }
        if (IsEnter(event)) {
            TovikAgreNameKeyPress(static_cast<const QKeyEvent*>(event)->key());
            return true;
        }
    } else if (TovikUstStringGrid && watched == TovikUstStringGrid->viewport()) {
        // Its width changed (the window, the vertical scroll bar): fit again.
        if (event->type() == QEvent::Resize) FitGridColumns();
    } else if (watched == TovikPortsComboBox) {
        if (event->type() == QEvent::Wheel) return true;
    } else if (watched == TovikUstStringGrid) {
        if (event->type() == QEvent::FontChange) GridFontChanged = true;
        // Keys reach the grid only while no cell is being edited (the editor
        // passes its Enter on through the delegate).
        if (IsEnter(event)) {
            TovikUstStringGridKeyPress(static_cast<const QKeyEvent*>(event)->key());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TTTovikFrame::AutoSizeGrid() {
    const TTextGrid& grid = Panel->Settings().Grid();
    const int rows = static_cast<int>(grid.size());
    bool run = GridFontChanged || Panel->Settings().GridRevision() != GridSizedRevision;
    if (rows != GridRows) {
        std::vector<std::string> names;
        for (int r = 1; r < rows; ++r) names.push_back(grid[static_cast<size_t>(r)][0]);
        GridSizer.SetUp(rows, 5, names);
        GridRows = rows;
        run = true;
    }
    if (GridFontChanged) GridSizer.FontChanged();
    GridFontChanged = false;
    if (!run) return;
    GridSizedRevision = Panel->Settings().GridRevision();
    GridSizer.Pass(grid);
    // The names column's full width first; the fit below may take from it.
    const auto& widths = GridSizer.ColumnWidths();
    const auto& heights = GridSizer.RowHeights();
    for (int c = 0; c + 1 < static_cast<int>(widths.size()); ++c)
        if (TovikUstStringGrid->columnWidth(c) != widths[static_cast<size_t>(c)])
            TovikUstStringGrid->setColumnWidth(c, widths[static_cast<size_t>(c)]);
    if (!heights.empty()) TovikUstStringGrid->horizontalHeader()->setFixedHeight(heights[0]);
    for (int r = 1; r < static_cast<int>(heights.size()) && r - 1 < TovikUstStringGrid->rowCount(); ++r)
        if (TovikUstStringGrid->rowHeight(r - 1) != heights[static_cast<size_t>(r)])
            TovikUstStringGrid->setRowHeight(r - 1, heights[static_cast<size_t>(r)]);
    FitGridColumns();
}

void TTTovikFrame::FitGridColumns() {
    QTableWidget* grid = TovikUstStringGrid;
    QHeaderView* header = grid->horizontalHeader();
    const int columns = header->count();
    // Hidden behind another tab the viewport has no width of its own: the
    // fit waits for it to be shown (its resize).
    if (!grid->isVisible() || columns < 2 || GridSizer.ColumnWidths().empty()) return;
    // "новое" is the last column wherever a compare column stands; it takes
    // what the others leave, and never less than its header needs.
    const int last = header->logicalIndex(columns - 1);
    const QFontMetrics metrics(header->font());
    const QTableWidgetItem* lastHeader = grid->horizontalHeaderItem(last);
    const int lastMin = std::max(kGridDefaultColumnWidth,
                                 metrics.horizontalAdvance(lastHeader ? lastHeader->text() : QString()) + 16);
    int others = 0;
    for (int c = 1; c < columns; ++c)
        if (c != last) others += header->sectionSize(c);
    // The names give up what the values need, down to a third of their
    // width; a name cut short shows whole as the cell's tooltip.
    const int available = grid->viewport()->width();
    const int names = GridSizer.ColumnWidths()[0];
    const int name = std::clamp(available - others - lastMin, names / 3, names);
    if (header->sectionSize(0) != name) header->resizeSection(0, name);
    const int rest = std::max(lastMin, available - others - name);
    if (header->sectionSize(last) != rest) header->resizeSection(last, rest);
}

// ---- drawing ----

void TTTovikFrame::Acted(const TIntentResult& Result) {
    if (!Result.Text.empty())
        ShowMessage(this, Q(Result.Text), Result.Plain ? TMessageKind::Plain : TMessageKind::Error);
    Redraw();
    // What the intent did may bring the next tick nearer (a port chosen).
    Reschedule();
}

QWidget* TTTovikFrame::ShowMonitor() {
    TProtoPort* port = Panel ? Panel->Link().DevicePort() : nullptr;
    if (!port || !PortList) return nullptr;
    return OpenMonitor(*PortList, *port, window());
}

void TTTovikFrame::RedrawData() {
    const TDataTab& data = Panel->Data();
    const TDeviceView& view = data.View();
    if (view.Revision() != DrawnView) {
        DrawnView = view.Revision();
        for (int i = 0; i < kLabelCount; ++i) {
            const auto id = static_cast<TLabelId>(i);
            const uint32_t rev = view.LabelRevision(id) + 1;  // never the 0 of "not drawn"
            if (DrawnLabels[static_cast<size_t>(i)] == rev) continue;
            DrawnLabels[static_cast<size_t>(i)] = rev;
            ShowValue(Labels[static_cast<size_t>(i)], Q(view.Label(id)));
        }
    }
    if (data.Revision() == DrawnData) return;
    DrawnData = data.Revision();
    if (StatusPanel && StatusPanel->text() != Q(data.StatusText()))
        StatusPanel->setText(Q(data.StatusText()));
    // The tab bar lays itself out again on any caption set: only a new one.
    const int dataTab = TovikControl->indexOf(Tabs[TabData]);
    if (TovikControl->tabText(dataTab) != Q(data.Caption()))
        TovikControl->setTabText(dataTab, Q(data.Caption()));
    if (DrawnKind != view.DeviceKind()) {
        DrawnKind = view.DeviceKind();
        for (int i = 0; i < kLabelCount; ++i)
            Labels[static_cast<size_t>(i)]->setVisible(view.LabelVisible(static_cast<TLabelId>(i)));
    }
    QString memo = Q(data.ModelMemo());
    memo.remove(QLatin1Char('\r'));
    if (memo.endsWith(QLatin1Char('\n'))) memo.chop(1);
    if (memo != DrawnMemo) {
        DrawnMemo = memo;
        TovikModelInfoMemo->setPlainText(memo);
    }
    const TNameBox& name = data.NameBox();
    if (name.Text != DrawnName.Text || name.ReadOnly != DrawnName.ReadOnly ||
        name.Caption != DrawnName.Caption) {
        DrawnName = name;
        if (TovikAgreName->text() != Q(name.Text)) TovikAgreName->setText(Q(name.Text));
        TovikAgreName->setReadOnly(name.ReadOnly);
        TovikAgreNameGroupBox->setTitle(Q(name.Caption));
        if (!name.ReadOnly) TovikAgreName->setFocus();
    }
}

void TTTovikFrame::RedrawButtons() {
    const TTovikPanel& m = *Panel;
    const std::array<uint32_t, 4> revs = {m.Data().Revision(), m.TaskLog().Revision(), m.Alarms().Revision(),
                                          m.Calibration().Revision()};
    if (revs == DrawnButtons) return;
    DrawnButtons = revs;
    for (int b = 0; b < kButtonCount; ++b) {
        QPushButton* button = Buttons[static_cast<size_t>(b)];
        if (!button) continue;
        button->setEnabled(m.ButtonEnabled(static_cast<TPanelButton>(b)));
        const QString caption = Q(m.ButtonCaption(static_cast<TPanelButton>(b)));
        if (button->text() != caption) button->setText(caption);
    }
}

void TTTovikFrame::RedrawSettings() {
    const TSettingsTab& settings = Panel->Settings();
    if (settings.Revision() != DrawnSettings) {
        DrawnSettings = settings.Revision();
        if (MonitorButton) MonitorButton->setEnabled(Panel->Link().DevicePort() != nullptr && PortList);
        const QSignalBlocker blockBox(TovikPortsComboBox);
        TovikPortsComboBox->clear();
        for (const TPortBoxItem& item : settings.PortItems())
            TovikPortsComboBox->addItem(Q(item.Text), item.PortId);
        TovikPortsComboBox->setCurrentIndex(settings.PortIndex());
        const QSignalBlocker blockBus(BusIDSE);
        BusIDSE->setValue(settings.BusValue());
    }
    if (settings.GridRevision() == DrawnGrid) return;
    DrawnGrid = settings.GridRevision();
    const TTextGrid& grid = settings.Grid();
    const int rows = std::max(static_cast<int>(grid.size()) - 1, 0);
    if (TovikUstStringGrid->rowCount() != rows) {
        TovikUstStringGrid->setRowCount(rows);
        DrawnCells.assign(grid.size(), {0, 0, 0, 0, 0});
        QStringList header;
        if (!grid.empty())
            for (const std::string& h : grid[0]) header << Q(h);
        TovikUstStringGrid->setHorizontalHeaderLabels(header);
        const QBrush fixed = palette().brush(QPalette::Button);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < 5; ++c) {
                auto* item = new QTableWidgetItem;
                Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
                if (c == 4 && settings.Editable()) flags |= Qt::ItemIsEditable;
                item->setFlags(flags);
                if (c < 4) item->setBackground(fixed);
                TovikUstStringGrid->setItem(r, c, item);
            }
    }
    for (size_t r = 1; r < grid.size(); ++r)
        for (size_t c = 0; c < 5; ++c) {
            const uint32_t rev = settings.CellRevision(r, c);
            if (DrawnCells[r][c] == rev) continue;
            DrawnCells[r][c] = rev;
            QTableWidgetItem* item = TovikUstStringGrid->item(static_cast<int>(r - 1), static_cast<int>(c));
            item->setText(Q(grid[r][c]));
            if (c == 0) item->setToolTip(Q(grid[r][c]));
        }
}

void TTTovikFrame::Redraw() {
    if (!Panel) return;
    const TTovikPanel& m = *Panel;
    Drawing = true;
    RedrawData();
    RedrawButtons();
    RedrawSettings();
    if (m.TaskLog().Revision() != DrawnTasks) {
        DrawnTasks = m.TaskLog().Revision();
        TaskLogPage->Redraw();
    }
    if (m.Alarms().Revision() != DrawnAlarms) {
        DrawnAlarms = m.Alarms().Revision();
        AlarmLogPage->Redraw();
    }
    if (CalibrationPage && m.Calibration().Revision() != DrawnCalibration) {
        DrawnCalibration = m.Calibration().Revision();
        CalibrationPage->Redraw();
    }
    RedrawSetpointFiles();
    Drawing = false;
    if (m.MessagesRevision() != DrawnMessages) {
        DrawnMessages = m.MessagesRevision();
        // Taken first: a box lets the timers run, and they must not show it twice.
        for (const TPanelMessage& message : Panel->TakeMessages())
            ShowMessage(this, Q(message.Text), message.Error ? TMessageKind::Error : TMessageKind::Plain);
    }
}

// ---- the device record's handle ----

TTovikFramePanel::TTovikFramePanel(TTovikDevice& device, const TPanelContext& context)
    : FrameRef(new TTTovikFrame(device, context)) {}

TTovikFramePanel::~TTovikFramePanel() {
    delete FrameRef.data();
}

void TTovikFramePanel::RefreshPortSelection() {
    if (FrameRef) FrameRef->RefreshPortSelection();
}

}  // namespace tovik
