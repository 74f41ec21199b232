// The settings tab's setpoint files (save, compare, restore) and the report.
#include "panel/SetpointFiles.h"

#include "panel/DataTab.h"
#include "panel/PanelControls.h"
#include "panel/SettingsView.h"
#include "protocol/Builders.h"
#include "protocol/UstTable.h"

namespace tovik {

TSetpointFiles::TSetpointFiles(const TPanelEnvironment& Environment, TRelayLink& Link,
                               const TDeviceView& View, const TDataTab& Data, TPanelMessages& Messages,
                               TResultHandler SetpointsRead)
    : Env(Environment),
      Access(PanelAccess(Environment.AccessLevel)),
      Link(Link),
      View(View),
      Data(Data),
      Messages(Messages),
      SetpointsRead(std::move(SetpointsRead)) {}

std::optional<TRelaySetpoints> TSetpointFiles::RelaySetpoints() const {
    const TTovikDevice* dev = Link.Device();
    if (!dev || !View.HasSetpoints()) return std::nullopt;
    return TRelaySetpoints{dev->GetDeviceKind(), View.ModelByte(), dev->VariantByte, View.SetpointBlock()};
}

std::optional<TSetpointFile> TSetpointFiles::FileNow() const {
    const auto relay = RelaySetpoints();
    if (!relay) return std::nullopt;
    return MakeSetpointFile(relay->Block, relay->DeviceKind, relay->ModelByte, relay->VariantByte,
                            Link.Device()->InstallationName, Env.LocalNow(), Env.Account, Env.Locale);
}

const TSetpointComparison* TSetpointFiles::Compare(TSetpointFile File) {
    CompareFile = std::move(File);
    RefreshComparison();
    return Compared ? &*Compared : nullptr;
}

void TSetpointFiles::EndCompare() {
    if (!CompareFile && !Compared) return;
    CompareFile.reset();
    Compared.reset();
    ++Rev;
}

void TSetpointFiles::RefreshComparison() {
    if (!CompareFile) return;
    const auto relay = RelaySetpoints();
    if (relay)
        Compared = CompareSetpoints(*CompareFile, *relay, Env.Locale);
    else
        Compared.reset();
    ++Rev;
}

TRestorePlan TSetpointFiles::PlanRestore(const TSetpointFile& File) const {
    const auto relay = RelaySetpoints();
    if (!relay) {
        TRestorePlan plan;
        plan.Refusal = "Уставки устройства ещё не прочитаны. Ничего не записано.";
        return plan;
    }
    return tovik::PlanRestore(File, *relay, Env.AccessLevel, Env.Locale);
}

bool TSetpointFiles::RestoreReady() const {
    return Access != TPanelAccess::ReadOnly && Data.CommandsUp() && View.HasSetpoints() && !Restoring;
}

TIntentResult TSetpointFiles::Restore(const TSetpointFile& File) {
    const auto relay = RelaySetpoints();
    TRestorePlan plan = PlanRestore(File);
    if (!plan.Refusal.empty()) {
        TRefusalReason why = TRefusalReason::NotReadYet;
        if (relay)
            why = AccessRefusal(Access, TIntent::RestoreSetpoints) ? TRefusalReason::ReadOnly
                  : File.DeviceKind != relay->DeviceKind           ? TRefusalReason::OtherKind
                                                                   : TRefusalReason::BadInput;
        return IntentRefused(why, plan.Refusal);
    }
    if (Restoring) return IntentRefused(TRefusalReason::NotNow, "Уставки уже записываются из файла.");
    // After a failed poll the relay is not known to answer: the setpoints
    // shown may no longer be its own.
    if (!Data.CommandsUp())
        return IntentRefused(TRefusalReason::NotNow, "Нет связи с устройством. Ничего не записано.");
    if (!Link.Reachable()) return IntentRefused(TRefusalReason::NoConnection, kMsgNoConnection);
    if (plan.ToWrite().empty()) {
        // Nothing differs that may be written: the report says why each
        // differing item stays, and the relay is left alone.
        RestoreDone = VerifyRestore(plan, relay, Env.Locale);
        ++Rev;
        return IntentDone();
    }
    for (const TRestoreItem& item : plan.Items)
        if (item.Action == TRestoreAction::Write)
            Link.Send(RequestWriteCell, nullptr, item.Item, item.FileRaw);
    // The read goes behind the writes on the same queue: it shows what they did.
    TIntentResult sent = Link.Command(RequestReadUst, [this](const TReply& r) { OnRestoreRead(r); });
    if (sent.Refused())
        return IntentFailed("Уставки не удалось прочитать после записи: результат неизвестен.");
    Restoring = std::move(plan);
    RestoreDone.reset();
    ++Rev;
    return sent;
}

void TSetpointFiles::OnRestoreRead(const TReply& Reply) {
    if (SetpointsRead) SetpointsRead(Reply);
    if (!Restoring) return;
    const TRestorePlan plan = std::move(*Restoring);
    Restoring.reset();
    const bool whole = Reply.Ok() && Reply.Data && Reply.Data->size() >= kSetpointBlockSize;
    RestoreDone = VerifyRestore(plan, whole ? RelaySetpoints() : std::nullopt, Env.Locale);
    RestoreDone->ReadBackOutcome = ReadOutcome(Reply, kSetpointBlockSize);
    Messages.Add(RestoreReportText(*RestoreDone), !RestoreDone->WrittenAllMatch());
    ++Rev;
}

std::optional<TSetpointReport> TSetpointFiles::Report() const {
    const auto relay = RelaySetpoints();
    if (!relay) return std::nullopt;
    const TTovikDevice* dev = Link.Device();
    TSetpointReport r;
    const TProtoPort* port = Link.DevicePort();
    const TLocalTime now = Env.LocalNow();
    const std::array<uint8_t, 6> stamp = {
        static_cast<uint8_t>(now.Hour),   static_cast<uint8_t>(now.Minute),
        static_cast<uint8_t>(now.Second), static_cast<uint8_t>(now.Day),
        static_cast<uint8_t>(now.Month),  static_cast<uint8_t>(now.Year - 2000)};
    std::string model = ModelDescription(relay->ModelByte, relay->DeviceKind);
    std::erase(model, '\r');
    while (!model.empty() && model.back() == '\n') model.pop_back();
    r.Fields = {
        {"Электроустановка", dev->InstallationName},
        {"Тип устройства", DeviceKindName(relay->DeviceKind)},
        {"Модель", model},
        {"Номер в магистрали", std::to_string(dev->BusAddress)},
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
