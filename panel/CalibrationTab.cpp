// The calibration tab: the relay's calibration information, the phases and
// points, the calibration file and the start of a run. Service level only.
#include "panel/CalibrationTab.h"

#include "panel/PanelFiles.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"

namespace tovik {

namespace {
constexpr size_t kNeedCalInfo = 1;
}

TCalibrationTab::TCalibrationTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll)
    : Env(Environment),
      Access(PanelAccess(Environment.AccessLevel)),
      Link(Link),
      Poll(Poll),
      Cal(Env.Locale) {}

std::optional<uint8_t> TCalibrationTab::Points() const {
    if (!Info || Info->empty()) return std::nullopt;
    return (*Info)[0];
}

std::optional<TIntentResult> TCalibrationTab::Refusal() const {
    if (auto refused = AccessRefusal(Access, TIntent::Calibrate)) return refused;
    // A run uses the tab up for the panel's life.
    if (Cal.Started()) return IntentRefused(TRefusalReason::NotNow);
    return std::nullopt;
}

void TCalibrationTab::SetStart(bool On) {
    // A started run keeps the start off.
    if (On && (Access != TPanelAccess::Service || Cal.Started())) return;
    if (StartOn == On) return;
    StartOn = On;
    ++Rev;
}

void TCalibrationTab::SetCommandsUp(bool On) {
    SetStart(On);
}

void TCalibrationTab::SetupForKind() {
    if (Access != TPanelAccess::Service || Cal.Started()) return;
    Cal.SetupFixed();
    ++Rev;
}

// ---- the relay's information ----

void TCalibrationTab::Read() {
    Poll.Read(RequestReadCalInfo, "calibration_info", kNeedCalInfo,
              [this](const TReply& r) { OnInformation(r); });
}

TIntentResult TCalibrationTab::ReadInformation() {
    const TTovikDevice* dev = Link.Device();
    // A kind whose protocol has no such command: nothing is sent.
    if (dev && IsModbusKind(dev->GetDeviceKind()) &&
        !TranslateCommand(dev->GetDeviceKind(), {CmdReadCalInfo, -1, 0}, nullptr, 0))
        return IntentRefused(TRefusalReason::NotOnThisKind, "информация о калибровке не читается по ModBus");
    return Link.Command(RequestReadCalInfo, [this](const TReply& r) { OnInformation(r); });
}

void TCalibrationTab::OnInformation(const TReply& Reply) {
    if (Reply.Ok() && Reply.Data && !Reply.Data->empty())
        Info = *Reply.Data;
    else
        Info.reset();
    if (Access != TPanelAccess::Service || Cal.Started()) return;
    const auto points = Points();
    Cal.OnInfo(points);
    SetStart(points.has_value());
    ++Rev;
}

// ---- the entries ----

TIntentResult TCalibrationTab::CheckPhase(int Phase, bool On) {
    if (auto refused = Refusal()) return *refused;
    if (!Cal.GroupEnabled() || Phase < 0 || Phase >= kCalPhaseCount)
        return IntentRefused(TRefusalReason::NotNow);
    Cal.SetChecked(Phase, On);
    ++Rev;
    return IntentDone();
}

TIntentResult TCalibrationTab::SetPointCount(int Phase, int Count) {
    if (auto refused = Refusal()) return *refused;
    if (Phase < 0 || Phase >= kCalPhaseCount || !Cal.PointsEnabled(Phase))
        return IntentRefused(TRefusalReason::NotNow);
    Cal.SetPoints(Phase, Count);
    ++Rev;
    return IntentDone();
}

TIntentResult TCalibrationTab::EditCell(int Phase, int Point, const std::string& Text) {
    if (auto refused = Refusal()) return *refused;
    if (Phase < 0 || Phase >= kCalPhaseCount || Point < 1) return IntentRefused(TRefusalReason::NoSelection);
    Cal.SetCellText(static_cast<size_t>(Phase) + 1, static_cast<size_t>(Point), Text);
    return IntentDone();
}

TIntentResult TCalibrationTab::EnterCell(int Phase, int Point, const std::string& Text) {
    if (auto refused = Refusal()) return *refused;
    if (!Cal.GridEnabled()) return IntentRefused(TRefusalReason::NotNow);
    if (Phase < 0 || Phase >= kCalPhaseCount || Point < 1) return IntentRefused(TRefusalReason::NoSelection);
    const auto row = static_cast<size_t>(Phase) + 1;
    const auto column = static_cast<size_t>(Point);
    Cal.SetCellText(row, column, Text);
    // A text that is not a number stays as typed; the start names its phase.
    Cal.NormaliseCell(row, column);
    ++Rev;
    return IntentDone();
}

// ---- the file ----

TIntentResult TCalibrationTab::SaveFile(const std::string& Path) {
    if (auto refused = Refusal()) return *refused;
    if (!Cal.GroupEnabled()) return IntentRefused(TRefusalReason::NotNow);
    std::string bytes;
    std::string error;
    if (!EncodeCalFile(Cal.ToFile(), bytes, error))
        return IntentFailed("Файл \"" + Path + "\" не записан: " + error + ".", true);
    std::string reason;
    if (ReplaceFileBytes(Path, bytes, reason)) return IntentDone();
    return IntentFailed(FileErrorText("Не удалось записать файл", Path, reason));
}

TIntentResult TCalibrationTab::LoadFile(const std::string& Path) {
    if (auto refused = Refusal()) return *refused;
    if (!Cal.GroupEnabled()) return IntentRefused(TRefusalReason::NotNow);
    std::string reason;
    // One byte more than the longest file tells a file that runs on.
    const auto bytes = ReadFileBytes(Path, kMaxCalFileSize + 1, reason);
    if (!bytes) return IntentFailed(FileErrorText("Не удалось открыть файл", Path, reason));
    TCalFile file;
    std::string error;
    // Nothing of a damaged file reaches the tab.
    if (!DecodeCalFile(*bytes, file, error))
        return IntentFailed("Файл \"" + Path + "\" не загружен: " + error + ".");
    Cal.Apply(file);
    ++Rev;
    return IntentDone();
}

// ---- the run ----

TIntentResult TCalibrationTab::Start() {
    if (auto refused = Refusal()) return *refused;
    if (!StartOn) return IntentRefused(TRefusalReason::NotNow);
    if (!Link.Reachable()) return IntentRefused(TRefusalReason::NoConnection);
    const auto problem = Cal.Start();
    ++Rev;
    if (problem) return IntentRefused(TRefusalReason::BadInput, *problem, true);
    // Nothing goes to the relay: its protocol has no calibration commands
    // beyond the information read. The tab shows the run's plan.
    SetStart(false);
    return IntentDone();
}

}  // namespace tovik
