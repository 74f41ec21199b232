// The alarm log tab: the journal fetch into the device's cache, the grid,
// "Очистить", and the journal's two files.
#include "panel/AlarmLogTab.h"

#include "panel/AlarmJournal.h"
#include "protocol/Builders.h"

namespace tovik {

TAlarmLogTab::TAlarmLogTab(const TPanelEnvironment& Environment, TRelayLink& Link, TPollCycle& Poll,
                           const TDeviceView& View, std::function<void()> AlarmsChanged)
    : Env(Environment),
      Access(PanelAccess(Environment.AccessLevel)),
      Link(Link),
      Poll(Poll),
      View(View),
      Changed(std::move(AlarmsChanged)),
      Buttons(Access == TPanelAccess::ReadOnly) {}

void TAlarmLogTab::SetButton(TPanelButton Button, bool On) {
    if (Buttons.Set(Button, On)) ++Rev;
}

void TAlarmLogTab::SetCommandsUp(bool On) {
    for (TPanelButton b : {BtnAlarmClear, BtnAlarmExcel, BtnAlarmSave}) SetButton(b, On);
}

void TAlarmLogTab::Show() {
    static const std::vector<TAlarmRecord> kNone;
    const TTovikDevice* dev = Link.Device();
    // Before Kтр is known the currents have no value, as on the labels.
    TTextGrid grid = AlarmGrid(dev ? dev->AlarmCache : kNone, View.KnownKtr(), Env.Locale);
    if (grid == Alarms) return;
    Alarms = std::move(grid);
    ++Rev;
}

// ---- the fetch ----

void TAlarmLogTab::ReadCount() {
    Poll.Read(RequestReadAlarmCount, "alarm_count", kAlarmCountReplySize,
              [this](const TReply& r) { OnAlarmCount(r); });
}

void TAlarmLogTab::OnAlarmCount(const TReply& Reply) {
    if (!Reply.Ok() || !Reply.Data || Reply.Data->size() < kAlarmCountReplySize) {
        Failed = true;
        return;
    }
    Failed = false;
    Header = {(*Reply.Data)[0], (*Reply.Data)[1]};
    if (Header[0] == 0 || Header == LastHeader) return;
    LastHeader = Header;
    FetchIndex = 0;
    Added = 0;
    Poll.Read(
        RequestReadAlarm, "alarm_records", kAlarmRecordSize, [this](const TReply& r) { OnAlarmRecord(r); },
        FetchIndex);
}

void TAlarmLogTab::OnAlarmRecord(const TReply& Reply) {
    // A failed read, or a record that did not arrive whole, ends the fetch
    // until the relay's header changes; nothing of it is stored.
    const auto record = AlarmRecordFromReply(Reply.Ok(), Reply.Data);
    TTovikDevice* dev = Link.Device();
    if (!record) {
        Failed = true;
        if (dev) dev->RecordChanged();  // the fetch ends: what it brought is kept
        return;
    }
    if (dev && dev->OfferAlarmRecord(*record)) {
        ++Added;
        Show();
        if (Changed) Changed();
    }
    ++FetchIndex;
    if (FetchIndex < Header[0] && Link.Reachable())
        Poll.Read(
            RequestReadAlarm, "alarm_records", kAlarmRecordSize,
            [this](const TReply& r) { OnAlarmRecord(r); }, FetchIndex);
    else if (dev)
        dev->RecordChanged();  // the fetch ends: what it brought is kept
}

// ---- clearing ----

std::optional<TIntentResult> TAlarmLogTab::Refusal(TIntent Intent, TPanelButton Button) const {
    if (auto refused = AccessRefusal(Access, Intent)) return refused;
    if (!ButtonEnabled(Button)) return IntentRefused(TRefusalReason::NotNow);
    return std::nullopt;
}

TIntentResult TAlarmLogTab::Clear() {
    if (auto refused = Refusal(TIntent::ClearAlarms, BtnAlarmClear)) return *refused;
    return ClearJournal();
}

TIntentResult TAlarmLogTab::ClearJournal() {
    if (!Link.Reachable()) return IntentRefused(TRefusalReason::NoConnection);
    return Link.Command(RequestClearAlarms, [this](const TReply&) { OnCleared(); });
}

void TAlarmLogTab::OnCleared() {
    // Whether or not the relay confirmed: what is still in its journal
    // comes back with the next fetch.
    Header = {0, 0};
    LastHeader = {0, 0};
    if (TTovikDevice* dev = Link.Device()) {
        dev->AlarmCache.clear();
        dev->RecordChanged();
    }
    Show();
}

// ---- the files ----

TIntentResult TAlarmLogTab::SaveText(const std::string& Path) {
    if (auto refused = Refusal(TIntent::SaveAlarms, BtnAlarmSave)) return *refused;
    std::string error;
    if (SaveAlarmTextFile(Alarms, Path, error)) return IntentDone();
    return IntentFailed(error);
}

TIntentResult TAlarmLogTab::ExportWorkbook(const std::string& Path) {
    if (auto refused = Refusal(TIntent::ExportAlarms, BtnAlarmExcel)) return *refused;
    std::string error;
    if (ExportGridToExcel(Alarms, {kAlarmColumnPixels.begin(), kAlarmColumnPixels.end()}, kAlarmSheetTitle,
                          Path, error))
        return IntentDone();
    return IntentFailed(error);
}

}  // namespace tovik
