#pragma once
// The statistics window: the request counters of all ports.
#include <QDialog>
#include <memory>

#include "ports/ProtoPort.h"

class QLabel;
class QPushButton;
class QTimer;

namespace tovik {

class TOptForm : public QDialog {
    Q_OBJECT
public:
    TOptForm(std::shared_ptr<TRequestStats> stats, QWidget* parent = nullptr);

    QLabel* sended_lab = nullptr;
    QLabel* recok_lab = nullptr;
    QLabel* recerr_lab = nullptr;
    QLabel* noack_lab = nullptr;
    // How the last request that failed ended; empty while none has.
    QLabel* lasterr_lab = nullptr;
    QPushButton* rst_btn = nullptr;
    QPushButton* Button1 = nullptr;
    QTimer* StatUpdTimer = nullptr;

public slots:
    void StatUpdTimerTimer();
    void rst_btnClick();
    void Button1Click();

private:
    std::shared_ptr<TRequestStats> Stats;
};

}  // namespace tovik
