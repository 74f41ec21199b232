#pragma once
// The setpoint files of the settings tab: the file of the relay's setpoints
// as last read, the compare of the grid with a file, the restore of a file
// onto the relay, and the commissioning report.
#include <cstdint>
#include <functional>
#include <optional>

#include "panel/DeviceView.h"
#include "panel/Intent.h"
#include "panel/RelayLink.h"
#include "panel/SetpointFile.h"
#include "panel/SetpointReport.h"
#include "panel/SetpointRestore.h"

namespace tovik {

class TDataTab;

class TSetpointFiles {
public:
    // `SetpointsRead` takes the setpoint block read back after a restore,
    // as every setpoint read of the panel.
    TSetpointFiles(const TPanelEnvironment& Environment, TRelayLink& Link, const TDeviceView& View,
                   const TDataTab& Data, TPanelMessages& Messages, TResultHandler SetpointsRead);

    // Moves with the comparison, a restore's start and end.
    uint32_t Revision() const { return Rev; }
    // The relay as the last whole setpoint read left it; none before one.
    std::optional<TRelaySetpoints> RelaySetpoints() const;
    // Saving, comparing and the report need a whole setpoint read; restoring
    // also needs the commands up and no restore running.
    bool Ready() const { return View.HasSetpoints(); }
    bool RestoreReady() const;

    // ---- the operator's intents ----
    // What "Сохранить уставки в файл..." writes; none before a whole setpoint read.
    std::optional<TSetpointFile> FileNow() const;
    // "Сравнить с файлом...": the grid's items set against the file from
    // now on, also after every later setpoint read. The comparison's
    // Notice says what differs in kind or model.
    const TSetpointComparison* Compare(TSetpointFile File);
    void EndCompare();
    const std::optional<TSetpointComparison>& Comparison() const { return Compared; }
    // "Записать из файла...": what would be written, with the panel's
    // access level, against the last setpoint read.
    TRestorePlan PlanRestore(const TSetpointFile& File) const;
    // Writes the plan's items through the panel's own requests, then reads
    // the setpoints back; the report follows as a message and in
    // LastRestore(). A plan with nothing to write is reported at once
    // against the setpoints read, and nothing is sent.
    TIntentResult Restore(const TSetpointFile& File);
    bool RestoreRunning() const { return Restoring.has_value(); }
    const std::optional<TRestoreReport>& LastRestore() const { return RestoreDone; }
    // "Отчёт об уставках...": none before a whole setpoint read.
    std::optional<TSetpointReport> Report() const;

    // ---- for the panel ----
    // After every whole setpoint read.
    void RefreshComparison();

private:
    void OnRestoreRead(const TReply& Reply);

    const TPanelEnvironment& Env;
    const TPanelAccess Access;
    TRelayLink& Link;
    const TDeviceView& View;
    const TDataTab& Data;
    TPanelMessages& Messages;
    TResultHandler SetpointsRead;

    uint32_t Rev = 1;
    std::optional<TSetpointFile> CompareFile;
    std::optional<TSetpointComparison> Compared;
    std::optional<TRestorePlan> Restoring;
    std::optional<TRestoreReport> RestoreDone;
};

}  // namespace tovik
