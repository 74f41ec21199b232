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
#include "panel/ui/AlarmLogTab.h"
#include "panel/ui/CalibrationTab.h"
#include "panel/ui/TaskLogTab.h"
#include "ports/ui/MonitorUnit.h"

namespace tovik {

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

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

// ---- the wake-up ----

struct TTTovikFrame::TWake {
    std::mutex Lock;
    QObject* Target = nullptr;  // under Lock
    std::atomic<bool> Pending{false};

    // From any thread; never more than one wake-up waits in the event queue.
    void Post() {
        if (Pending.exchange(true)) return;
        std::lock_guard guard(Lock);
        if (Target) QCoreApplication::postEvent(Target, new QEvent(kWakeEvent));
    }
};

// ---- construction ----

TTTovikFrame::TTTovikFrame(TTovikDevice& device, const TPanelContext& context)
    : QWidget(context.Area),
      StatusPanel(context.StatusPanel),
      GridSizer([this](const std::string& text) {
          const QFontMetrics metrics(TovikUstStringGrid->font());
          return TTextSize{metrics.horizontalAdvance(Q(text)), metrics.height()};
      }),
      Wake(std::make_shared<TWake>()) {
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
        if (tab == TabCalibration && !Panel->HasCalibrationTab()) continue;
        auto* page = new QWidget;
        page->setObjectName(TabInfo(tab).Name);
        Tabs[static_cast<size_t>(t)] = page;
        TovikControl->addTab(page, QString::fromUtf8(TabInfo(tab).Caption));
    }
    BuildDataTab(Tabs[TabData]);
    BuildSettingsTab(Tabs[TabSettings]);
    TaskLogTab = new TTaskLogTab(Tabs[TabTaskLog], *Panel, Buttons, [this] { Acted(); });
    AlarmLogTab = new TAlarmLogTab(Tabs[TabAlarms], *Panel, Buttons, [this] { Acted(); });
    if (Tabs[TabCalibration])
        CalibrationTab = new TCalibrationTab(Tabs[TabCalibration], *Panel, Buttons, [this] { Acted(); });

    RefreshTimer = new QTimer(this);
    RefreshTimer->setObjectName("RefreshTimer");
    RefreshTimer->setInterval(static_cast<int>(kRefreshTimerMs));
    connect(RefreshTimer, &QTimer::timeout, this, &TTTovikFrame::RefreshTimerTimer);
    EnPuskTimer = new QTimer(this);
    EnPuskTimer->setObjectName("EnPuskTimer");
    EnPuskTimer->setInterval(static_cast<int>(kEnPuskTimerMs));
    EnPuskTimer->setSingleShot(true);
    connect(EnPuskTimer, &QTimer::timeout, this, [this] {
        Panel->EnPuskTimerTimer();
        // Still running by the panel's clock: the tick ends it.
        Redraw();
    });

    Panel->SetLayoutView([this] { return ReadLayout(); }, [this](const TPanelLayout& l) { ApplyLayout(l); });
    {
        std::lock_guard guard(Wake->Lock);
        Wake->Target = this;
    }
    Panel->Results()->SetNotifier([wake = Wake] { wake->Post(); });

    Panel->AttachDevice(&device);
    if (context.Area && context.Area->layout()) context.Area->layout()->addWidget(this);
    Redraw();
    RefreshTimer->start();
    show();
}

TTTovikFrame::~TTTovikFrame() {
    RefreshTimer->stop();
    EnPuskTimer->stop();
    {
        std::lock_guard guard(Wake->Lock);
        Wake->Target = nullptr;
    }
    Panel->Results()->SetNotifier(nullptr);
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
    if (Panel->NameEditable()) TovikAgreName->installEventFilter(this);

    StatsPanel = new QSplitter(Qt::Horizontal, tab);
    StatsPanel->setObjectName("StatsPanel");
    StatsPanel->setChildrenCollapsible(false);
    layout->addWidget(StatsPanel, 1);

    auto makeLabel = [this](TLabelId id, QWidget* parent, QLayout* into) {
        auto* l = new QLabel(QString::fromUtf8(LabelInfo(id).Prefix) + QString::fromUtf8(kNotAvailableText),
                             parent);
        l->setObjectName(LabelInfo(id).Name);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        Labels[static_cast<size_t>(id)] = l;
        into->addWidget(l);
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
    auto makeButton = [this](TPanelButton b, QWidget* parent, QBoxLayout* into) {
        auto* button = new QPushButton(QString::fromUtf8(ButtonInfo(b).Caption), parent);
        button->setObjectName(ButtonInfo(b).Name);
        button->setEnabled(false);
        Buttons[static_cast<size_t>(b)] = button;
        into->addWidget(button);
        return button;
    };
    makeButton(BtnPusk, control, controlLayout);
    makeButton(BtnStop, control, controlLayout);
    puskLayout->addWidget(control);
    auto* alarms = Group("TovikAVCountersGroupBox", "Аварийные счётчики", PuskStopPanel);
    auto* alarmsLayout = new QVBoxLayout(alarms);
    alarmsLayout->setSpacing(2);
    for (TLabelId id : kAlarmLabels) makeLabel(id, alarms, alarmsLayout);
    makeButton(BtnResetCounters, alarms, alarmsLayout);
    puskLayout->addWidget(alarms);
    puskLayout->addStretch();
    StatsPanel->addWidget(PuskStopPanel);
    StatsPanel->setStretchFactor(0, 0);
    StatsPanel->setStretchFactor(1, 1);
    StatsPanel->setStretchFactor(2, 0);

    if (Panel->AccessRights() == TPanelAccess::ReadOnly) return;
    connect(Button(BtnPusk), &QPushButton::clicked, this, [this] {
        Panel->TovikPuskButtonClick();
        if (Panel->EnPuskTimerRunning()) EnPuskTimer->start();
        Acted();
    });
    connect(Button(BtnStop), &QPushButton::clicked, this, [this] {
        Panel->TovikStopButtonClick();
        Acted();
    });
    connect(Button(BtnResetCounters), &QPushButton::clicked, this, [this] {
        Panel->ResetAVCountersBtnClick();
        Acted();
    });
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
    auto* sync = new QPushButton(QString::fromUtf8(ButtonInfo(BtnSyncTime).Caption), connection);
    sync->setObjectName(ButtonInfo(BtnSyncTime).Name);
    sync->setEnabled(false);
    Buttons[BtnSyncTime] = sync;
    row->addWidget(sync);
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
    TovikUstStringGrid->horizontalHeader()->setStretchLastSection(true);
    TovikUstStringGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    TovikUstStringGrid->horizontalHeader()->setDefaultSectionSize(kGridDefaultColumnWidth);
    TovikUstStringGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    TovikUstStringGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
    TovikUstStringGrid->setShowGrid(true);
    TovikUstStringGrid->setWordWrap(false);
    auto* delegate = new TEnterDelegate(TovikUstStringGrid);
    TovikUstStringGrid->setItemDelegate(delegate);
    TovikUstStringGrid->installEventFilter(this);
    if (Panel->SetpointGridEditable())
        TovikUstStringGrid->setEditTriggers(QAbstractItemView::DoubleClicked |
                                            QAbstractItemView::EditKeyPressed |
                                            QAbstractItemView::AnyKeyPressed);
    else
        TovikUstStringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(delegate, &TEnterDelegate::EnterPressed, this, &TTTovikFrame::GridEnter);
    auto* setpointsLayout = new QVBoxLayout(setpoints);
    BuildSetpointFileButtons(setpoints, setpointsLayout);
    setpointsLayout->addWidget(TovikUstStringGrid);
    layout->addWidget(setpoints, 1);

    if (Panel->AccessRights() == TPanelAccess::ReadOnly) {
        TovikPortsComboBox->setEnabled(false);
        BusIDSE->setEnabled(false);
        return;
    }
    connect(TovikPortsComboBox, &TDropDownComboBox::DropDown, this, [this] {
        Panel->TovikPortsComboBoxDropDown();
        Redraw();
    });
    connect(TovikPortsComboBox, &TDropDownComboBox::CloseUp, this, [this] {
        Panel->TovikPortsComboBoxCloseUp(TovikPortsComboBox->currentIndex());
        Acted();
    });
    connect(BusIDSE, &QSpinBox::valueChanged, this, [this](int value) {
        if (Drawing) return;
        Panel->BusIDSEChange(value);
        Acted();
    });
    connect(sync, &QPushButton::clicked, this, [this] {
        Panel->SyncTimeBtnClick();
        Acted();
    });
}

// ---- set-up from the device ----

void TTTovikFrame::RefreshPortSelection() {
    Panel->FillPortBox();
    Redraw();
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
    AutoSizeGrid();
    Panel->Tick();
    if (Panel->EnPuskTimerRunning() && !EnPuskTimer->isActive()) EnPuskTimer->start();
    Redraw();
}

bool TTTovikFrame::event(QEvent* event) {
    if (event->type() != kWakeEvent) return QWidget::event(event);
    Wake->Pending.store(false);
    ++WakeCount;
    // A completion arrived: handle it now rather than on the next tick.
    Panel->Tick();
    if (!Panel->Results()->IsEmpty())
        Wake->Post();
    else
        Panel->Tick();  // the next poll, when it is already due
    Redraw();
    return true;
}

bool TTTovikFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TovikAgreName) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            Panel->TovikAgreNameDblClick(TovikAgreName->text().toStdString());
            Acted();
            return true;
        }
        if (IsEnter(event)) {
            Panel->TovikAgreNameKeyPress(kEnterKey, TovikAgreName->text().toStdString());
            Acted();
            return true;
        }
    } else if (watched == TovikUstStringGrid) {
        if (event->type() == QEvent::FontChange) GridFontChanged = true;
        // Keys reach the grid only while no cell is being edited (the editor
        // passes its Enter on through the delegate).
        if (IsEnter(event)) {
            GridEnter();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TTTovikFrame::GridEnter() {
    const int row = TovikUstStringGrid->currentRow();
    if (row < 0) return;
    const QTableWidgetItem* item = TovikUstStringGrid->item(row, 4);
    Panel->TovikUstStringGridKeyPress(kEnterKey, row + 1, item ? item->text().toStdString() : std::string());
    Acted();
}

void TTTovikFrame::AutoSizeGrid() {
    const TTextGrid& grid = Panel->SetpointGrid();
    const int rows = static_cast<int>(grid.size());
    bool run = GridFontChanged || Panel->Revision(AreaSetpointGrid) != GridSizedRevision;
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
    GridSizedRevision = Panel->Revision(AreaSetpointGrid);
    GridSizer.Pass(grid);
    const auto& widths = GridSizer.ColumnWidths();
    const auto& heights = GridSizer.RowHeights();
    for (int c = 0; c + 1 < static_cast<int>(widths.size()); ++c)
        if (TovikUstStringGrid->columnWidth(c) != widths[static_cast<size_t>(c)])
            TovikUstStringGrid->setColumnWidth(c, widths[static_cast<size_t>(c)]);
    if (!heights.empty()) TovikUstStringGrid->horizontalHeader()->setFixedHeight(heights[0]);
    for (int r = 1; r < static_cast<int>(heights.size()) && r - 1 < TovikUstStringGrid->rowCount(); ++r)
        if (TovikUstStringGrid->rowHeight(r - 1) != heights[static_cast<size_t>(r)])
            TovikUstStringGrid->setRowHeight(r - 1, heights[static_cast<size_t>(r)]);
}

// ---- drawing ----

void TTTovikFrame::Acted() {
    Redraw();
}

QWidget* TTTovikFrame::ShowMonitor() {
    TProtoPort* port = Panel ? Panel->MonitorPort() : nullptr;
    if (!port || !PortList) return nullptr;
    return OpenMonitor(*PortList, *port, window());
}

void TTTovikFrame::Redraw() {
    if (!Panel) return;
    const TTovikPanel& m = *Panel;
    auto changed = [&](TPanelArea a) {
        const uint32_t rev = m.Revision(a);
        if (Drawn[static_cast<size_t>(a)] == rev) return false;
        Drawn[static_cast<size_t>(a)] = rev;
        return true;
    };
    Drawing = true;
    if (changed(AreaLabels)) {
        for (int i = 0; i < kLabelCount; ++i) {
            const auto id = static_cast<TLabelId>(i);
            const uint32_t rev = m.View().LabelRevision(id) + 1;  // never the 0 of "not drawn"
            if (DrawnLabels[static_cast<size_t>(i)] == rev) continue;
            DrawnLabels[static_cast<size_t>(i)] = rev;
            Labels[static_cast<size_t>(i)]->setText(Q(m.View().Label(id)));
        }
    }
    if (changed(AreaStatus) && StatusPanel) StatusPanel->setText(Q(m.StatusText()));
    if (changed(AreaKind)) {
        TovikControl->setTabText(TovikControl->indexOf(Tabs[TabData]), Q(m.Tab0Caption()));
        for (int i = 0; i < kLabelCount; ++i)
            Labels[static_cast<size_t>(i)]->setVisible(m.LabelVisible(static_cast<TLabelId>(i)));
    }
    if (changed(AreaModelMemo)) {
        QString memo = Q(m.ModelMemo());
        memo.remove(QLatin1Char('\r'));
        if (memo.endsWith(QLatin1Char('\n'))) memo.chop(1);
        TovikModelInfoMemo->setPlainText(memo);
    }
    if (changed(AreaNameBox)) {
        if (TovikAgreName->text() != Q(m.NameText())) TovikAgreName->setText(Q(m.NameText()));
        TovikAgreName->setReadOnly(m.NameReadOnly());
        TovikAgreNameGroupBox->setTitle(Q(m.NameGroupCaption()));
        if (!m.NameReadOnly()) TovikAgreName->setFocus();
    }
    if (changed(AreaButtons)) {
        for (int b = 0; b < kButtonCount; ++b) {
            QPushButton* button = Buttons[static_cast<size_t>(b)];
            if (!button) continue;
            button->setEnabled(m.ButtonEnabled(static_cast<TPanelButton>(b)));
            const QString caption = Q(m.ButtonCaption(static_cast<TPanelButton>(b)));
            if (button->text() != caption) button->setText(caption);
        }
    }
    if (changed(AreaPortBox)) {
        if (MonitorButton) MonitorButton->setEnabled(m.MonitorPort() != nullptr && PortList);
        const QSignalBlocker block(TovikPortsComboBox);
        TovikPortsComboBox->clear();
        for (const TPortBoxItem& item : m.PortItems()) TovikPortsComboBox->addItem(Q(item.Text), item.PortId);
        TovikPortsComboBox->setCurrentIndex(m.PortIndex());
    }
    if (changed(AreaBus)) {
        const QSignalBlocker block(BusIDSE);
        BusIDSE->setValue(m.BusValue());
    }
    if (changed(AreaSetpointGrid)) {
        const TTextGrid& grid = m.SetpointGrid();
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
                    if (c == 4 && m.SetpointGridEditable()) flags |= Qt::ItemIsEditable;
                    item->setFlags(flags);
                    if (c < 4) item->setBackground(fixed);
                    TovikUstStringGrid->setItem(r, c, item);
                }
        }
        for (size_t r = 1; r < grid.size(); ++r)
            for (size_t c = 0; c < 5; ++c) {
                const uint32_t rev = m.SetpointCellRevision(r, c);
                if (DrawnCells[r][c] == rev) continue;
                DrawnCells[r][c] = rev;
                TovikUstStringGrid->item(static_cast<int>(r - 1), static_cast<int>(c))
                    ->setText(Q(grid[r][c]));
            }
    }
    if (changed(AreaTaskLog)) TaskLogTab->Redraw();
    if (changed(AreaAlarms)) AlarmLogTab->Redraw();
    if (changed(AreaCalibration) && CalibrationTab) CalibrationTab->Redraw();
    RedrawSetpointFiles();
    Drawing = false;
    if (changed(AreaMessages)) {
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
