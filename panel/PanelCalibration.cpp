// The calibration tab: the relay's calibration information, the phases and
// points, the calibration file and the start of a run. Service level only.
#include "panel/Calibration.h"
#include "panel/PanelFiles.h"
#include "panel/TovikPanel.h"
#include "panel/TovikPanelSend.h"

namespace tovik {

void TTovikPanel::OnCalibrationInfo(bool Ok, const TBlock* Data) {
    std::optional<uint8_t> points;
    if (Ok && Data && !Data->empty()) points = (*Data)[0];
    if (points != CalPoints) CalPoints = points;
    if (!MayCalibrate()) return;
    Cal.OnInfo(points);
    SetButton(BtnStartCalibration, points.has_value());
    Touch(AreaCalibration);
}

void TTovikPanel::CalPhaseCBClick(int Phase, bool Checked) {
    if (!MayCalibrate() || !Cal.GroupEnabled() || Phase < 0 || Phase >= kCalPhaseCount) return;
    Cal.SetChecked(Phase, Checked);
    Touch(AreaCalibration);
}

void TTovikPanel::CalPointsChange(int Phase, int Value) {
    if (!MayCalibrate() || !Cal.PointsEnabled(Phase) || Phase < 0 || Phase >= kCalPhaseCount) return;
    Cal.SetPoints(Phase, Value);
    Touch(AreaCalibration);
}

void TTovikPanel::CalValSGEdited(int Row, int Column, const std::string& Text) {
    if (!MayCalibrate() || Row < 0 || Column < 0) return;
    Cal.SetCellText(static_cast<size_t>(Row), static_cast<size_t>(Column), Text);
}

void TTovikPanel::CalValSGKeyPress(int Key, int Row, int Column, const std::string& Text) {
    if (Key != kEnterKey || !MayCalibrate() || !Cal.GridEnabled() || Row < 0 || Column < 0) return;
    const auto row = static_cast<size_t>(Row);
    const auto column = static_cast<size_t>(Column);
    Cal.SetCellText(row, column, Text);
    // A text that is not a number stays as typed; the start names its phase.
    Cal.NormaliseCell(row, column);
    Touch(AreaCalibration);
}

bool TTovikPanel::CalSaveButtonClick(const std::string& Path) {
    if (!MayCalibrate() || !Cal.GroupEnabled()) return false;
    std::string bytes;
    std::string error;
    if (!EncodeCalFile(Cal.ToFile(), bytes, error)) {
        Say("Файл \"" + Path + "\" не записан: " + error + ".", false);
        return false;
    }
    std::string reason;
    if (ReplaceFileBytes(Path, bytes, reason)) return true;
    Say(FileErrorText("Не удалось записать файл", Path, reason));
    return false;
}

bool TTovikPanel::CalLoadButtonClick(const std::string& Path) {
    if (!MayCalibrate() || !Cal.GroupEnabled()) return false;
    std::string reason;
    // One byte more than the longest file tells a file that runs on.
    const auto bytes = ReadFileBytes(Path, kMaxCalFileSize + 1, reason);
    if (!bytes) {
        Say(FileErrorText("Не удалось открыть файл", Path, reason));
        return false;
    }
    TCalFile file;
    std::string error;
    if (!DecodeCalFile(*bytes, file, error)) {
        // Nothing of a damaged file reaches the tab.
        Say("Файл \"" + Path + "\" не загружен: " + error + ".");
        return false;
    }
    Cal.Apply(file);
    Touch(AreaCalibration);
    return true;
}

void TTovikPanel::StartCalButtonClick() {
    if (!MayCalibrate() || !ButtonEnabled(BtnStartCalibration) || !HasConnection()) return;
    const auto problem = Cal.Start();
    Touch(AreaCalibration);
    if (problem) return Say(*problem, false);
    // Nothing goes to the relay: its protocol has no calibration commands
    // beyond the information read. The tab shows the run's plan.
    SetButton(BtnStartCalibration, false);
}

}  // namespace tovik
