#pragma once
// The calibration page of the device panel (service level only): the phases
// and their point counts, the grid of point currents, the calibration file,
// the start of a run and the run's plan. Its handlers turn the clicks, the
// edits and Enter into the session's intents.
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

class TCalibrationPage : public QObject {
    Q_OBJECT
public:
    TCalibrationPage(QWidget* page, TTovikPanel& model, std::array<QPushButton*, kButtonCount>& buttons,
                     std::function<void(const TIntentResult&)> acted);

    // Everything on the page from the session's calibration tab.
    void Redraw();

    // The handlers.
    void IaCBClick();
    void IbCBClick();
    void IcCBClick();
    // Only Enter counts: the grid's current cell is the phase and the point.
    void CalValSGKeyPress(int Key);
    void CalSaveButtonClick();
    void CalLoadButtonClick();
    void StartCalButtonClick();

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
    void PhaseClick(int Phase);

    QWidget* Page;
    TTovikPanel& Model;
    std::function<void(const TIntentResult&)> Acted;
    std::vector<std::vector<uint32_t>> Drawn;
    bool Drawing = false;
};

}  // namespace tovik
