#pragma once
// The alarm log tab: the relay's alarm journal fetched into the device's
// cache whenever its header changes, the alarm grid, the clearing of the
// journal, and the journal's text file and workbook.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "panel/DeviceView.h"
#include "panel/Intent.h"
#include "panel/PanelControls.h"
#include "panel/PollCycle.h"
#include "panel/RelayLink.h"
#include "panel/TextGrid.h"

namespace tovik {

class TAlarmLogTab {
public:
    // `AlarmsChanged` runs when a record was added to the device's cache.
    TAlarmLogTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll,
                 const TDeviceView& View, std::function<void()> AlarmsChanged);

    // ---- what the tab shows ----
    // Moves with the grid and the buttons.
    uint32_t Revision() const { return Rev; }
    // The header row, then one row per cached record.
    const TTextGrid& Grid() const { return Alarms; }
    // "Очистить", "Отправить в Excel" and "Сохранить...".
    bool ButtonEnabled(TPanelButton Button) const { return Buttons.Enabled(Button); }

    // ---- the record ----
    // The last journal header read, the one records were last fetched for,
    // and the index of the next record to fetch.
    const std::array<uint8_t, 2>& AlarmHeader() const { return Header; }
    const std::array<uint8_t, 2>& LastAlarmHeader() const { return LastHeader; }
    uint8_t AlarmFetchIndex() const { return FetchIndex; }
    // Records the last fetch added to the cache, and whether the last read
    // of the journal (its header, and the records it made the tab fetch) failed.
    int AddedAlarms() const { return Added; }
    bool FetchFailed() const { return Failed; }

    // ---- the operator's intents ----
    TIntentResult Clear();
    // "Сохранить..." and "Отправить в Excel" once the dialog chose `Path`.
    TIntentResult SaveText(const std::string& Path);
    TIntentResult ExportWorkbook(const std::string& Path);

    // ---- for the panel ----
    // The journal's header, read with every poll; a new one fetches every record.
    void ReadCount();
    // The relay's journal cleared; the cache and the grid emptied whatever it answered.
    TIntentResult ClearJournal();
    // The grid from the cache (its currents depend on Kтр).
    void Show();
    void SetCommandsUp(bool On);

private:
    void OnAlarmCount(const TReply& Reply);
    void OnAlarmRecord(const TReply& Reply);
    void OnCleared();
    void SetButton(TPanelButton Button, bool On);
    // The access rule and the button.
    std::optional<TIntentResult> Refusal(TIntent Intent, TPanelButton Button) const;

    const TPanelEnvironment& Env;
    const TPanelAccess Access;
    TRelayLink& Link;
    TPollCycle& Poll;
    const TDeviceView& View;
    std::function<void()> Changed;

    uint32_t Rev = 1;
    TTextGrid Alarms;
    TButtonSet<BtnAlarmClear, BtnAlarmSave> Buttons;
    std::array<uint8_t, 2> Header{};
    std::array<uint8_t, 2> LastHeader{};
    uint8_t FetchIndex = 0;
    int Added = 0;
    bool Failed = false;
};

}  // namespace tovik
