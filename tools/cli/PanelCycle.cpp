#include "tools/cli/PanelCycle.h"

#include <algorithm>

#include "panel/AlarmJournal.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"
#include "protocol/UstTable.h"

namespace tovik::cli {

TPanelCycle::TPanelCycle(TCliSession& session, TTovikDevice& device, const TLocaleFormat& locale)
    : Session(session), Device(device), DeviceView(device.GetDeviceKind(), locale) {}

std::optional<TAlarmRecord> TPanelCycle::LastAlarm() const {
    if (Device.AlarmCache.empty()) return std::nullopt;
    return Device.AlarmCache.back();
}

TResultHandler TPanelCycle::Checked(const char* name, TResultHandler handler) {
    return [this, name, handler = std::move(handler)](uint8_t ok, const TBlock* d) {
        if (!ok) Failed.emplace_back(name);
        handler(ok, d);
    };
}

bool TPanelCycle::Run() {
    Failed.clear();
    PollOk = false;
    SetpointsRead = false;
    Added = 0;
    FetchFailed = false;
    Session.Send(
        RequestReadCell, [this](uint8_t ok, const TBlock* d) { OnStatePoll(ok, d); }, kUstModelRow);
    const bool drained = Session.Drain();
    // The status bar as the next cycle shows it: with the records just fetched.
    if (Added > 0) DeviceView.RefreshStateText(LastAlarm());
    return drained && PollOk;
}

void TPanelCycle::OnStatePoll(uint8_t ok, const TBlock* data) {
    const auto poll = DecodeStatePoll(ok, data);
    if (!poll) {
        Failed.emplace_back("state_poll");
        DeviceView.OnPollFailed();
        RefreshAll = true;
        return;
    }
    PollOk = true;
    DeviceView.OnStatePoll(*poll);
    Device.VariantByte = poll->VariantByte;
    if (poll->SettingsChanged) ReloadSettings = true;
    if (DeviceView.SetpointBytes() <= kUstOffsetModel ||
        DeviceView.SetpointBlock()[kUstOffsetModel] != poll->ModelByte)
        RefreshAll = true;
    if (RefreshAll) {
        RefreshAll = false;
        ReloadSettings = true;
    }
    if (ReloadSettings) {
        ReloadSettings = false;
        Session.Send(RequestReadUst, [this](uint8_t ok, const TBlock* d) { OnSetpoints(ok, d); });
    }
    auto view = [this](const char* name, void (TDeviceView::*handler)(bool, const TBlock*)) {
        return Checked(name,
                       [this, handler](uint8_t ok, const TBlock* d) { (DeviceView.*handler)(ok != 0, d); });
    };
    Session.Send(RequestReadCurrents, view("currents", &TDeviceView::OnCurrents));
    Session.Send(RequestReadImax, view("max_current", &TDeviceView::OnMaxCurrent));
    Session.Send(RequestReadTimers, view("timers", &TDeviceView::OnProtectionTimers));
    Session.Send(RequestReadAlarmCounters, view("alarm_counters", &TDeviceView::OnAlarmCounters));
    Session.Send(RequestReadState,
                 Checked("state", [this](uint8_t ok, const TBlock* d) { OnDeviceState(ok, d); }));
    Session.Send(RequestReadAlarmCount, [this](uint8_t ok, const TBlock* d) { OnAlarmCount(ok, d); });
    Session.Send(RequestReadClock, view("clock", &TDeviceView::OnDeviceClock));
    if (HasStatistics(Device.GetDeviceKind()))
        Session.Send(RequestReadStatistics, view("statistics", &TDeviceView::OnStatistics));
}

void TPanelCycle::OnSetpoints(uint8_t ok, const TBlock* data) {
    DeviceView.OnSetpoints(ok != 0, data);
    if (!ok) Failed.emplace_back("setpoints");
    if (DeviceView.HasSetpoints() && ok) {
        SetpointsRead = true;
    } else {
        RefreshAll = true;
    }
}

void TPanelCycle::OnDeviceState(uint8_t ok, const TBlock* data) {
    DeviceView.OnDeviceState(ok != 0, data, LastAlarm());
}

void TPanelCycle::OnAlarmCount(uint8_t ok, const TBlock* data) {
    if (!ok) Failed.emplace_back("alarm_count");
    if (!ok || !data || data->size() < 2) {
        FetchFailed = true;
        return;
    }
    Header = {(*data)[0], (*data)[1]};
    if (Header[0] == 0) return;
    if (Header == LastHeader) return;
    LastHeader = Header;
    FetchIndex = 0;
    Session.Send(
        RequestReadAlarm, [this](uint8_t ok, const TBlock* d) { OnAlarmRecord(ok, d); }, FetchIndex);
}

void TPanelCycle::OnAlarmRecord(uint8_t ok, const TBlock* data) {
    // A failed read, or a record that did not arrive whole, ends the fetch
    // until the relay's header changes; nothing of it is stored.
    if (!ok) Failed.emplace_back("alarm_records");
    const auto record = AlarmRecordFromReply(ok != 0, data);
    if (!record) {
        FetchFailed = true;
        return;
    }
    if (Device.OfferAlarmRecord(*record)) ++Added;
    ++FetchIndex;
    if (FetchIndex < Header[0])
        Session.Send(
            RequestReadAlarm, [this](uint8_t ok, const TBlock* d) { OnAlarmRecord(ok, d); }, FetchIndex);
}

bool TPanelCycle::FetchAlarms() {
    Failed.clear();
    Added = 0;
    FetchFailed = false;
    LastHeader = {0, 0};  // always fetch: the command asks for the journal
    Session.Send(RequestReadAlarmCount, [this](uint8_t ok, const TBlock* d) { OnAlarmCount(ok, d); });
    const bool drained = Session.Drain();
    return drained && !FetchFailed;
}

}  // namespace tovik::cli
