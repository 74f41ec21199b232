// The control commands of the data tab and the installation name.
#include <algorithm>

#include "base/Clock.h"
#include "base/Cp1251.h"
#include "panel/TovikPanel.h"
#include "panel/TovikPanelSend.h"
#include "protocol/Commands.h"
#include "protocol/UstTable.h"

namespace tovik {

bool TTovikPanel::MayCommand(TPanelButton Button) {
    // Whatever a front end forwards: read-only access sends no command, and
    // a disabled button stands for a command that is not available now.
    if (Access == TPanelAccess::ReadOnly || !ButtonEnabled(Button)) return false;
    return HasConnection();
}

void TTovikPanel::TovikPuskButtonClick() {
    if (!MayCommand(BtnPusk)) return;
    Send(RequestStart, nullptr);
    EnPuskRunning = true;
    EnPuskStart = timeGetTime();
    SetButton(BtnPusk, false);
}

void TTovikPanel::EnPuskTimerTimer() {
    if (!EnPuskRunning || ElapsedMs(EnPuskStart, timeGetTime()) < kEnPuskTimerMs) return;
    EnPuskRunning = false;
    // After a failed poll the commands stay off until the relay answers again.
    if (CommandsUp) SetButton(BtnPusk, true);
}

void TTovikPanel::TovikStopButtonClick() {
    if (!MayCommand(BtnStop)) return;
    Send(RequestStop, nullptr);
}

void TTovikPanel::ResetAVCountersBtnClick() {
    if (!MayCommand(BtnResetCounters)) return;
    // "ТовикМ ModBus" resets its counters with its alarm journal.
    if (Dev->GetDeviceKind() == kKindTovikMModbus) return ClearAlarmJournal();
    Send(RequestResetAlarmCounters, nullptr);
}

void TTovikPanel::SyncTimeBtnClick() {
    if (!MayCommand(BtnSyncTime)) return;
    const TLocalTime now = LocalNow();
    auto byte = [](int v) { return static_cast<uint8_t>(v); };
    Clock = {byte(now.Hour), byte(now.Minute), byte(now.Second),
             byte(now.Day),  byte(now.Month),  byte(now.Year % 1000)};
    Send(static_cast<bool (*)(TProtoPort&, uint8_t, int32_t, uint8_t, TEvents, TResultHandler,
                              const TLocalTime&)>(RequestSetClock),
         nullptr, now);
}

void TTovikPanel::OnOffAvtomatBtnClick() {
    if (!MayCommand(BtnAutomation)) return;
    SetButton(BtnAutomation, false);
    // The opposite of what the relay reports, as the caption says: a relay
    // that reports any non-zero mode is switched off.
    AutoCommand = Labels.SetpointBlock()[kSetpointFields[kUstAutoRow].Offset] != 0 ? 0 : 1;
    Send(RequestWriteCell, nullptr, kUstAutoRow, MakeUstRaw(AutoCommand));
    FlagReloadSettings = true;
}

// ---- the installation name ----

void TTovikPanel::TovikAgreNameDblClick(const std::string& Text) {
    if (Access == TPanelAccess::ReadOnly || !Dev) return;
    if (NameLocked) {
        NameLocked = false;
        NameCaption = kNameEditCaption;
        Name = Text;
        Touch(AreaNameBox);
        return;
    }
    // The name is stored in a 40-character Windows-1251 field: a text that
    // does not fit would fail the whole save. It stays in the box to be corrected.
    switch (CheckFieldText(Text, kMaxInstallationNameLength)) {
        case TTextCheck::Ok:
            break;
        case TTextCheck::TooLong:
            return Say("Имя электроустановки длиннее " + std::to_string(kMaxInstallationNameLength) +
                       " символов.");
        case TTextCheck::BadChar:
            return Say("Имя электроустановки содержит символ, которого нет в кодировке Windows-1251.");
    }
    NameLocked = true;
    NameCaption = kNameCaption;
    Name = Text;
    Touch(AreaNameBox);
    Dev->InstallationName = Text;
    if (Env.DeviceRenamed) Env.DeviceRenamed(*Dev);
}

void TTovikPanel::TovikAgreNameKeyPress(int Key, const std::string& Text) {
    if (Key != kEnterKey || Access == TPanelAccess::ReadOnly || !Dev) return;
    if (Text.empty()) return Say(kMsgNameEmpty);
    TovikAgreNameDblClick(Text);
}

}  // namespace tovik
