#pragma once
// "Поиск устройств...": choose a port and a range of bus numbers, watch
// the scan, and add the relays found as devices in one step. The dialog
// knows no device list: the window that owns it says which relays are
// listed already and adds the chosen ones (TScanHost).
#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "protocol/BusScan.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace tovik {

class TProtoPort;
class TProtoPortList;

struct TScanHost {
    // Whether the device list holds a device on this port with this number.
    std::function<bool(int32_t PortId, uint8_t Address)> IsListed;
    // Adds a device of the kind on this port with this number.
    std::function<void(uint8_t Kind, int32_t PortId, uint8_t Address)> AddDevice;
};

class TBusScanForm : public QDialog {
    Q_OBJECT
public:
    enum TColumn { ColAdd, ColBus, ColFormat, ColModel, ColKind, ColNotes, ColumnCount };

    TBusScanForm(TProtoPortList& ports, TScanHost host, QWidget* parent = nullptr);
    ~TBusScanForm() override;

    // Fills the port choice from the port list and selects `port` (the
    // first port when it is null or not listed).
    void FillPorts(const TProtoPort* port = nullptr);
    // Ends the scan under way, if any, and lets go of its port: before the
    // port list goes.
    void StopScan();
    // The scan under way or the last one; null before the first.
    const TBusScan* Scan() const { return ScanJob.get(); }
    // The findings shown, one per table row.
    const std::vector<TScanFinding>& Shown() const { return Rows; }

    QComboBox* ScanPortCB = nullptr;
    QSpinBox* FromSE = nullptr;
    QSpinBox* ToSE = nullptr;
    QCheckBox* NativeCheckBox = nullptr;
    QCheckBox* ModbusCheckBox = nullptr;
    QSpinBox* TimeoutSE = nullptr;
    QPushButton* StartBtn = nullptr;
    QPushButton* StopBtn = nullptr;
    QProgressBar* ScanProgressBar = nullptr;
    QLabel* ScanStatusLabel = nullptr;
    QTableWidget* FoundGrid = nullptr;
    QPushButton* AddDevicesBtn = nullptr;
    QPushButton* CloseBtn = nullptr;
    QTimer* ScanTimer = nullptr;

public slots:
    void StartBtnClick();
    void StopBtnClick();
    void ScanTimerTimer();
    void AddDevicesBtnClick();

protected:
    void done(int result) override;

private:
    TProtoPort* ChosenPort() const;
    void ShowFindings();
    void MarkListed();
    void ShowRunning(bool running);
    void ShowEnd();

    TProtoPortList& Ports;
    TScanHost Host;
    std::unique_ptr<TBusScan> ScanJob;
    int32_t ScanPortId = 0;
    std::vector<TScanFinding> Rows;
};

}  // namespace tovik
