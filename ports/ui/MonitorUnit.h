#pragma once
// The communication monitor of one port: every frame the port sends and
// receives, decoded, with its time, bus number, reply time and what went
// wrong. The port's worker hands the frames to a bounded queue and never
// waits for the window; the window takes them on its own timer into a
// bounded list (oldest first to go, the number lost shown).
//
// One window per port: OpenMonitor shows the port's window, creating it
// when there is none. A port that is about to be deleted must have its
// window closed first (CloseMonitor), and so must every port before the
// port list goes (CloseAllMonitors).
#include <QAbstractTableModel>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>

#include "protocol/MonitorBuffer.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace tovik {

class TFrameTraceQueue;
class TProtoPort;
class TProtoPortList;

// The rows of the list that pass the bus number filter, as a table.
class TMonitorModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { ColTime, ColDirection, ColBus, ColBytes, ColMeaning, ColReply, ColProblem, ColumnCount };

    explicit TMonitorModel(const TMonitorBuffer& buffer, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Follows the list after rows were appended and dropped.
    void Sync();
    // Shows only the rows of this bus number (0: all).
    void SetFilter(int bus);
    int Filter() const { return Bus; }
    const TMonitorRow* RowAt(int row) const;

private:
    const TMonitorBuffer& Buffer;
    std::deque<uint64_t> Visible;  // serial numbers of the rows shown
    uint64_t Seen = 0;             // the next serial not looked at yet
    int Bus = 0;
};

class TMonitorForm : public QWidget {
    Q_OBJECT
public:
    // The window starts tracing the port at once. `ports` tells whether the
    // port still exists when the window goes.
    TMonitorForm(TProtoPortList& ports, TProtoPort& port, QWidget* parent = nullptr);
    ~TMonitorForm() override;

    TProtoPort* Port() const { return PortRef; }
    // Stops tracing the port; the list stays.
    void Detach();
    const TMonitorBuffer& Buffer() const { return List; }
    TMonitorModel* Model() const { return ModelRef; }

    QLabel* PortLabel = nullptr;
    QTableView* MonitorGrid = nullptr;
    QPushButton* PauseBtn = nullptr;
    QPushButton* ClearBtn = nullptr;
    QSpinBox* BusFilterSE = nullptr;
    QPushButton* SaveBtn = nullptr;
    QPushButton* CloseBtn = nullptr;
    QLabel* CountLabel = nullptr;
    QLabel* DroppedLabel = nullptr;
    QTimer* MonitorTimer = nullptr;

    // Asks for the file to save into; empty: cancelled. A file dialog by
    // default; tests replace it.
    std::function<QString()> AskSaveFileName;

public slots:
    // Takes the frames that have come since the last call (unless paused).
    void MonitorTimerTimer();
    void PauseBtnClick();
    void ClearBtnClick();
    void BusFilterSEChange();
    void SaveBtnClick();

private:
    void ShowCounts();

    TProtoPortList& Ports;
    TProtoPort* PortRef = nullptr;
    QString PortName;
    std::shared_ptr<TFrameTraceQueue> Queue;
    TMonitorBuffer List;
    TMonitorModel* ModelRef = nullptr;
};

// Shows the port's monitor, creating it (with `parent` as its owner) when
// the port has none yet.
TMonitorForm* OpenMonitor(TProtoPortList& ports, TProtoPort& port, QWidget* parent);
// The port's monitor, or null.
TMonitorForm* FindMonitor(const TProtoPort& port);
// Closes and destroys the port's monitor, if it has one.
void CloseMonitor(const TProtoPort& port);
void CloseAllMonitors();

}  // namespace tovik
