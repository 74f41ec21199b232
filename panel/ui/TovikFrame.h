#pragma once
// The device panel's window: the five tabs in the main window's device
// area. It builds the controls, turns clicks and keys into the intents of the
// panel's session (panel/TovikPanel.h), shows what came of them, runs its two
// timers and draws what the session shows; it keeps no rule of its own. Its
// handlers carry the names of the controls and their events.
#include <QComboBox>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "app/Device.h"
#include "base/ui/WakeUp.h"
#include "panel/GridAutoSize.h"
#include "panel/TovikPanel.h"
#include "panel/ui/TrendWindow.h"

class QBoxLayout;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTabWidget;
class QTableWidget;
class QTimer;

namespace tovik {

class TAlarmLogPage;
class TCalibrationPage;
class TTaskLogPage;

class TProtoPortList;
class TTovikDevice;

// What the main window gives its device panel.
struct TPanelContext {
    QWidget* Area = nullptr;          // the device area the panel fills
    QLabel* StatusPanel = nullptr;    // the status bar's first panel
    TProtoPortList* Ports = nullptr;  // the program's port list
    uint8_t AccessLevel = 2;          // of the logged-in account
    // Renames the device's item in the device list.
    std::function<void(TDevice&)> DeviceRenamed;
    // The logged-in account's name (setpoint files, the report).
    std::string Account;
};

// The files the setpoint buttons ask for.
enum class TFileQuestion { SaveSetpoints, CompareSetpoints, RestoreSetpoints, SaveReportPdf };

// The user's decimal, date and time separators.
TLocaleFormat PanelLocaleFormat();

// A command button with its name and caption, off until the session enables
// it, added to `Into` and kept in `Buttons` for the drawing.
QPushButton* MakePanelButton(TPanelButton Button, QWidget* Parent, QBoxLayout* Into,
                             std::array<QPushButton*, kButtonCount>& Buttons);

// The port box: tells when its list drops down and when it closes up.
class TDropDownComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;
    void hidePopup() override;
signals:
    void DropDown();
    void CloseUp();
};

// The setpoint grid's editor: Enter commits the cell and is passed on.
class TEnterDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool eventFilter(QObject* editor, QEvent* event) override;
signals:
    void EnterPressed();
};

class TTTovikFrame : public QWidget {
    Q_OBJECT
public:
    // Construction and AttachDevice.
    TTTovikFrame(TTovikDevice& device, const TPanelContext& context);
    // Stops the timers, releases the model (its owner ids) and empties the status bar.
    ~TTTovikFrame() override;

    // FillPortBox.
    void RefreshPortSelection();
    TTovikPanel& Model() { return *Panel; }
    // Draws what changed in the session.
    void Redraw();
    // What came of an intent: its message, if any, then the drawing.
    void Acted(const TIntentResult& Result);

    // ---- the handlers: each turns its event into an intent ----
    // One tick of RefreshTimer, which runs when the session has something to
    // do: the grid's auto-size, the session's tick, the drawing.
    void RefreshTimerTimer();
    void EnPuskTimerTimer();
    void TovikPuskButtonClick();
    void TovikStopButtonClick();
    void ResetAVCountersBtnClick();
    void SyncTimeBtnClick();
    void TovikAgreNameDblClick();
    // Only Enter counts.
    void TovikAgreNameKeyPress(int Key);
    void TovikPortsComboBoxDropDown();
    void TovikPortsComboBoxCloseUp();
    void BusIDSEChange(int Value);
    // Only Enter counts: the grid's current row is the item, its "новое" cell the text.
    void TovikUstStringGridKeyPress(int Key);

    // The controls, named as the panel's record names them.
    QTabWidget* TovikControl = nullptr;
    std::array<QWidget*, kTabCount> Tabs{};  // TovikMainTS .. TovikCalibTS (none: removed)
    QGroupBox* TovikAgreNameGroupBox = nullptr;
    QLineEdit* TovikAgreName = nullptr;
    QSplitter* StatsPanel = nullptr;
    QGroupBox* TovikModelGroupBox = nullptr;
    QPlainTextEdit* TovikModelInfoMemo = nullptr;
    QWidget* PuskStopPanel = nullptr;
    std::array<QLabel*, kLabelCount> Labels{};
    std::array<QPushButton*, kButtonCount> Buttons{};
    TDropDownComboBox* TovikPortsComboBox = nullptr;
    QSpinBox* BusIDSE = nullptr;
    QTableWidget* TovikUstStringGrid = nullptr;
    QTimer* RefreshTimer = nullptr;
    QTimer* EnPuskTimer = nullptr;
    // The task log, alarm log and calibration pages (the last: none below
    // the service level).
    TTaskLogPage* TaskLogPage = nullptr;
    TAlarmLogPage* AlarmLogPage = nullptr;
    TCalibrationPage* CalibrationPage = nullptr;

    QLabel* Label(TLabelId id) const { return Labels[static_cast<size_t>(id)]; }
    QPushButton* Button(TPanelButton b) const { return Buttons[static_cast<size_t>(b)]; }
    // Wake-ups handled since construction (completions that arrived between ticks).
    uint64_t WakeUps() const { return WakeCount; }

    // ---- setpoint files, the report and the trend (TovikFrameSetpointFiles.cpp) ----
    QPushButton* SaveUstButton = nullptr;     // "Сохранить уставки в файл..."
    QPushButton* CompareUstButton = nullptr;  // "Сравнить с файлом..."
    QPushButton* RestoreUstButton = nullptr;  // "Записать из файла..."
    QPushButton* ReportUstButton = nullptr;   // "Отчёт об уставках..."
    QPushButton* EndCompareButton = nullptr;  // "Закончить сравнение"
    QLabel* CompareLabel = nullptr;
    QPushButton* TrendButton = nullptr;    // "Тренд токов..."
    QPushButton* MonitorButton = nullptr;  // "Монитор обмена...": the device's line
    // Opens (or raises) the communication monitor of the device's line;
    // none while the device has no port.
    QWidget* ShowMonitor();
    // What the buttons do once they have their file; false after a message.
    bool SaveSetpointsTo(const QString& path);
    bool CompareWithFileAt(const QString& path);
    bool RestoreFromFileAt(const QString& path);
    bool SaveReportTo(const QString& path);
    void PrintReportWithDialog();
    TTrendWindow* ShowTrend();
    TTrendWindow* Trend() const { return TrendWin; }
    // Where the buttons ask for a file (empty: cancelled) and for a yes;
    // tests answer them.
    std::function<QString(TFileQuestion)> AskPath;
    std::function<bool(const QString&)> Confirm;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildDataTab(QWidget* tab);
    void BuildSettingsTab(QWidget* tab);
    void AutoSizeGrid();
    // The ticks that are due now, the drawing, and RefreshTimer for the next deadline.
    void RunTicks();
    // Starts RefreshTimer for the session's next deadline.
    void Reschedule();
    // The setpoint grid's columns within its width.
    void FitGridColumns();
    void RedrawData();
    void RedrawSettings();
    void RedrawButtons();
    TPanelLayout ReadLayout() const;
    void ApplyLayout(const TPanelLayout& layout);
    void BuildSetpointFileButtons(QWidget* parent, QBoxLayout* into);
    void BuildTrendButton(QWidget* parent, QGridLayout* into);
    void RedrawSetpointFiles();

    std::unique_ptr<TTovikPanel> Panel;
    TProtoPortList* PortList = nullptr;  // the program's port list, for the monitor
    QPointer<QLabel> StatusPanel;
    TGridAutoSize GridSizer;
    int GridRows = -1;
    bool GridFontChanged = true;
    uint32_t GridSizedRevision = 0;

    // What was drawn, by revision.
    uint32_t DrawnData = 0;
    uint32_t DrawnView = ~0u;
    std::array<uint32_t, kLabelCount> DrawnLabels{};
    uint32_t DrawnKind = ~0u;
    QString DrawnMemo;
    TNameBox DrawnName{"", false, "", false};
    uint32_t DrawnSettings = 0;
    uint32_t DrawnGrid = 0;
    std::vector<std::array<uint32_t, 5>> DrawnCells;
    std::array<uint32_t, 4> DrawnButtons{};
    uint32_t DrawnTasks = 0;
    uint32_t DrawnAlarms = 0;
    uint32_t DrawnCalibration = 0;
    uint32_t DrawnMessages = 0;
    bool Drawing = false;

    // The worker's wake-up: a queued call of the tick, at most one waiting.
    std::shared_ptr<TWakeUp> Wake;
    uint64_t WakeCount = 0;

    QPointer<TTrendWindow> TrendWin;
    uint32_t DrawnFileRev = ~0u;
    uint32_t DrawnFileGridRev = ~0u;
};

// The panel as the device record holds it: releases the window when the
// device lets it go, and never a window its parent already took down.
class TTovikFramePanel : public IDevicePanel {
public:
    TTovikFramePanel(TTovikDevice& device, const TPanelContext& context);
    ~TTovikFramePanel() override;
    void RefreshPortSelection() override;
    TTTovikFrame* Frame() const { return FrameRef; }

private:
    QPointer<TTTovikFrame> FrameRef;
};

}  // namespace tovik
