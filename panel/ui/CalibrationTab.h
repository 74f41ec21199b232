#pragma once
// The calibration tab of the device panel (service level only): the phases
// and their point counts, the grid of point currents, the calibration file,
// the start of a run and the run's plan.
#include <QObject>
#include <array>
#include <functional>
#include <vector>

#include "panel/TovikPanel.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QWidget;

namespace tovik {

class TCalibrationTab : public QObject {
    Q_OBJECT
public:
    TCalibrationTab(QWidget* page, TTovikPanel& model, std::array<QPushButton*, kButtonCount>& buttons,
                    std::function<void()> acted);

    // Everything on the tab from the model's calibration state.
    void Redraw();

    QGroupBox* CalGB = nullptr;
    std::array<QCheckBox*, kCalPhaseCount> PhaseCB{};  // IaCB, IbCB, IcCB
    std::array<QSpinBox*, kCalPhaseCount> PhaseSE{};   // IaSE, IbSE, IcSE
    QPushButton* CalSaveButton = nullptr;
    QPushButton* CalLoadButton = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    QTableWidget* CalValSG = nullptr;
    QLabel* CalStepInfoLabel = nullptr;
    // The run's plan: each current and the point it is for each phase.
    QGroupBox* CalPlanGroupBox = nullptr;
    QTableWidget* CalPlanSG = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void GridEnter();
    void Save();
    void Load();

    QWidget* Page;
    TTovikPanel& Model;
    std::function<void()> Acted;
    std::vector<std::vector<uint32_t>> Drawn;
    bool Drawing = false;
};

}  // namespace tovik
