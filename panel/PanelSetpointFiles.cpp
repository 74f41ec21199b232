// The settings tab's setpoint files (save, compare, restore), the report,
// and the current trend's feed.
#include "base/Clock.h"
#include "panel/SettingsView.h"
#include "panel/TovikPanel.h"
#include "panel/TovikPanelSend.h"
#include "protocol/UstTable.h"

namespace tovik {

std::optional<TRelaySetpoints> TTovikPanel::RelaySetpoints() const {
    if (!Dev || !Labels.HasSetpoints()) return std::nullopt;
    return TRelaySetpoints{Dev->GetDeviceKind(), Model, Dev->VariantByte, Labels.SetpointBlock()};
}

std::optional<TSetpointFile> TTovikPanel::SetpointFileNow() const {
    const auto relay = RelaySetpoints();
    if (!relay) return std::nullopt;
    return MakeSetpointFile(relay->Block, relay->DeviceKind, relay->ModelByte, relay->VariantByte,
                            Dev->InstallationName, LocalNow(), Env.Account, Env.Locale);
}

const TSetpointComparison* TTovikPanel::CompareWithFile(TSetpointFile File) {
    CompareFile = std::move(File);
    RefreshComparison();
    return Compared ? &*Compared : nullptr;
}

void TTovikPanel::EndCompare() {
    if (!CompareFile && !Compared) return;
    CompareFile.reset();
    Compared.reset();
    ++FileRev;
}

void TTovikPanel::RefreshComparison() {
    if (!CompareFile) return;
    const auto relay = RelaySetpoints();
    if (relay)
        Compared = CompareSetpoints(*CompareFile, *relay, Env.Locale);
    else
        Compared.reset();
    ++FileRev;
}

TRestorePlan TTovikPanel::PlanRestoreFromFile(const TSetpointFile& File) const {
    const auto relay = RelaySetpoints();
    if (!relay) {
        TRestorePlan plan;
        plan.Refusal = "Уставки устройства ещё не прочитаны. Ничего не записано.";
        return plan;
    }
    return PlanRestore(File, *relay, Env.AccessLevel, Env.Locale);
}

bool TTovikPanel::RestoreReady() const {
    return Access != TPanelAccess::ReadOnly && CommandsUp && Labels.HasSetpoints() && !Restoring;
}

bool TTovikPanel::RestoreFromFile(const TSetpointFile& File) {
    TRestorePlan plan = PlanRestoreFromFile(File);
    if (plan.Refusal.empty() && Restoring) plan.Refusal = "Уставки уже записываются из файла.";
    // After a failed poll the relay is not known to answer: the setpoints
    // shown may no longer be its own.
    if (plan.Refusal.empty() && !CommandsUp) plan.Refusal = "Нет связи с устройством. Ничего не записано.";
    if (plan.Refusal.empty() && !HasConnection()) plan.Refusal = kMsgNoConnection;
    if (!plan.Refusal.empty()) {
        Say(plan.Refusal);
        return false;
    }
    for (const TRestoreItem& item : plan.Items)
        if (item.Action == TRestoreAction::Write) Send(RequestWriteCell, nullptr, item.Item, item.FileRaw);
    // The read goes behind the writes on the same queue: it shows what they did.
    if (!Send(RequestReadUst, Track("setpoints", kSetpointBlockSize, &TTovikPanel::OnRestoreRead))) {
        Say("Уставки не удалось прочитать после записи: результат неизвестен.");
        return false;
    }
    Restoring = TRestoreRun{std::move(plan)};
    RestoreDone.reset();
    ++FileRev;
    return true;
}

void TTovikPanel::OnRestoreRead(bool Ok, const TBlock* Data) {
    OnSetpoints(Ok, Data);
    if (!Restoring) return;
    const TRestoreRun run = std::move(*Restoring);
    Restoring.reset();
    const bool whole = Ok && Data && Data->size() >= kSetpointBlockSize;
    RestoreDone = VerifyRestore(run.Plan, whole ? RelaySetpoints() : std::nullopt, Env.Locale);
    Messages.push_back({RestoreReportText(*RestoreDone), !RestoreDone->WrittenAllMatch()});
    Touch(AreaMessages);
    ++FileRev;
}

std::optional<TSetpointReport> TTovikPanel::SetpointReport() const {
    const auto relay = RelaySetpoints();
    if (!relay) return std::nullopt;
    TSetpointReport r;
    const TProtoPort* port = DevicePort();
    const TLocalTime now = LocalNow();
    const std::array<uint8_t, 6> stamp = {
        static_cast<uint8_t>(now.Hour),   static_cast<uint8_t>(now.Minute),
        static_cast<uint8_t>(now.Second), static_cast<uint8_t>(now.Day),
        static_cast<uint8_t>(now.Month),  static_cast<uint8_t>(now.Year - 2000)};
    std::string model = ModelDescription(relay->ModelByte, relay->DeviceKind);
    std::erase(model, '\r');
    while (!model.empty() && model.back() == '\n') model.pop_back();
    r.Fields = {
        {"Электроустановка", Dev->InstallationName},
        {"Тип устройства", DeviceKindName(relay->DeviceKind)},
        {"Модель", model},
        {"Номер в магистрали", std::to_string(Dev->BusAddress)},
        {"Порт", port ? port->Name : std::string(kPortNone)},
        {"Дата", FormatDateTime(stamp, Env.Locale)},
        {"Учётная запись", Env.Account},
    };
    r.Table.push_back(
        {"№", kSetpointGridHeader[0], kSetpointGridHeader[1], kSetpointGridHeader[2], "значение"});
    for (int i = 0; i < SetpointItemCount(relay->DeviceKind); ++i) {
        const TSetpointRow row = SetpointRow(i, relay->DeviceKind, relay->ModelByte, relay->VariantByte,
                                             &relay->Block, Env.Locale);
        r.Table.push_back({std::to_string(i), row.Name, row.Min, row.Max, row.Now});
    }
    return r;
}

}  // namespace tovik
