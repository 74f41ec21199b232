#pragma once
// The calibration tab (service level only): the relay's calibration
// information, the phases and their points, the point currents, the
// calibration file and the start of a run.
#include <cstdint>
#include <optional>
#include <string>

#include "panel/Calibration.h"
#include "panel/Intent.h"
#include "panel/PanelControls.h"
#include "panel/PollCycle.h"
#include "panel/RelayLink.h"

namespace tovik {

class TCalibrationTab {
public:
    TCalibrationTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll);

    // ---- what the tab shows ----
    // Moves with anything of the tab; the grid's cells have revisions of their own.
    uint32_t Revision() const { return Rev; }
    const TCalibration& State() const { return Cal; }
    // The largest number of points per phase of the last information read;
    // none before a read or after a failed one.
    std::optional<uint8_t> Points() const;
    // The last information reply (3 bytes), none before a read or after a failed one.
    const std::optional<TBlock>& Information() const { return Info; }
    // "Начать калибровку...".
    bool StartEnabled() const { return StartOn; }

    // ---- the operator's intents ----
    TIntentResult CheckPhase(int Phase, bool On);
    TIntentResult SetPointCount(int Phase, int Count);
    // What the operator typed for point `Point` (1 is the fixed 0 A point) of a phase.
    TIntentResult EditCell(int Phase, int Point, const std::string& Text);
    // Enter on that cell: the current shown as it will be taken.
    TIntentResult EnterCell(int Phase, int Point, const std::string& Text);
    // After the save or open dialog chose `Path`.
    TIntentResult SaveFile(const std::string& Path);
    TIntentResult LoadFile(const std::string& Path);
    TIntentResult Start();
    // Reads the relay's calibration information (a read: every level may).
    TIntentResult ReadInformation();

    // ---- for the panel ----
    // The read that follows every setpoint read at the service level.
    void Read();
    void SetupForKind();
    void SetCommandsUp(bool On);

private:
    void OnInformation(const TReply& Reply);
    // The access rule, and a run not started.
    std::optional<TIntentResult> Refusal() const;
    void SetStart(bool On);

    const TPanelEnvironment& Env;
    const TPanelAccess Access;
    TRelayLink& Link;
    TPollCycle& Poll;

    uint32_t Rev = 1;
    TCalibration Cal;
    std::optional<TBlock> Info;
    bool StartOn = false;
};

}  // namespace tovik
