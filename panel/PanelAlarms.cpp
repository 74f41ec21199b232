// The alarm log tab: the journal fetch into the device's cache, the grid,
// "Очистить", and the journal's two files.
#include "panel/AlarmJournal.h"
#include "panel/TovikPanel.h"
#include "panel/TovikPanelSend.h"

namespace tovik {

// ---- the fetch ----

void TTovikPanel::ShowAlarms() {
    static const std::vector<TAlarmRecord> kNone;
    TTextGrid grid = tovik::AlarmGrid(Dev ? Dev->AlarmCache : kNone, Labels.Ktr(), Env.Locale);
    if (grid != Alarms) {
        Alarms = std::move(grid);
        Touch(AreaAlarms);
    }
}

void TTovikPanel::OnAlarmCount(bool Ok, const TBlock* Data) {
    if (!Ok || !Data || Data->size() < kAlarmCountReplySize) {
        FetchFailed = true;
        return;
    }
    Header = {(*Data)[0], (*Data)[1]};
    if (Header[0] == 0 || Header == LastHeader) return;
    LastHeader = Header;
    FetchIndex = 0;
    Send(RequestReadAlarm, Track("alarm_records", kAlarmRecordSize, &TTovikPanel::OnAlarmRecord), FetchIndex);
}

void TTovikPanel::OnAlarmRecord(bool Ok, const TBlock* Data) {
    // A failed read, or a record that did not arrive whole, ends the fetch
    // until the relay's header changes; nothing of it is stored.
    const auto record = AlarmRecordFromReply(Ok, Data);
    if (!record) {
        FetchFailed = true;
        if (Dev) Dev->RecordChanged();  // the fetch ends: what it brought is kept
        return;
    }
    if (Dev && Dev->OfferAlarmRecord(*record)) {
        ++Added;
        ShowAlarms();
        // The status bar names the newest alarm as soon as it is known.
        Labels.RefreshStateText(LastAlarm());
        if (Labels.StateCode()) SetStatus(Labels.StateStatusText());
    }
    ++FetchIndex;
    if (FetchIndex < Header[0] && HasConnection())
        Send(RequestReadAlarm, Track("alarm_records", kAlarmRecordSize, &TTovikPanel::OnAlarmRecord),
             FetchIndex);
    else if (Dev)
        Dev->RecordChanged();  // the fetch ends: what it brought is kept
}

void TTovikPanel::ReadAlarmJournal() {
    Added = 0;
    FetchFailed = false;
    Failures.clear();
    Incomplete.clear();
    LastHeader = {0, 0};  // every record of the journal, whatever the header
    if (HasConnection())
        Send(RequestReadAlarmCount, Track("alarm_count", kAlarmCountReplySize, &TTovikPanel::OnAlarmCount));
}

void TTovikPanel::ClearAVbtnClick() {
    if (!MayCommand(BtnAlarmClear)) return;
    ClearAlarmJournal();
}

void TTovikPanel::ClearAlarmJournal() {
    if (!HasConnection()) return;
    Send(RequestClearAlarms, Track("alarm_clear", 0, &TTovikPanel::OnAlarmsCleared));
}

void TTovikPanel::OnAlarmsCleared(bool, const TBlock*) {
    // Whether or not the relay confirmed: what is still in its journal
    // comes back with the next fetch.
    Header = {0, 0};
    LastHeader = {0, 0};
    if (Dev) {
        Dev->AlarmCache.clear();
        Dev->RecordChanged();
    }
    ShowAlarms();
}

// ---- the files ----

bool TTovikPanel::saveAVListBtnClick(const std::string& Path) {
    if (Access == TPanelAccess::ReadOnly || !ButtonEnabled(BtnAlarmSave)) return false;
    std::string error;
    if (SaveAlarmTextFile(Alarms, Path, error)) return true;
    Say(error);
    return false;
}

bool TTovikPanel::sendExcelBtnClick(const std::string& Path) {
    if (Access == TPanelAccess::ReadOnly || !ButtonEnabled(BtnAlarmExcel)) return false;
    std::string error;
    if (ExportGridToExcel(Alarms, {kAlarmColumnPixels.begin(), kAlarmColumnPixels.end()}, kAlarmSheetTitle,
                          Path, error))
        return true;
    Say(error);
    return false;
}

void TTovikPanel::ExcelNotOpened(const std::string& Path) {
    Say(ExcelNotOpenedText(Path), false);
}

}  // namespace tovik
