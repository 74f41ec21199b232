#include "panel/Intent.h"

#include "panel/SettingsView.h"
#include "protocol/Outcome.h"

namespace tovik {

std::string ReasonText(const TOutcome& Outcome, const std::string& PortName) {
    if (Outcome.Status != TReplyStatus::NoLine || PortName.empty()) return OutcomeText(Outcome);
    const std::string reason = OpenErrorText(Outcome.Line);
    return "порт " + PortName + " недоступен" + (reason.empty() ? "" : ": " + reason);
}

std::string MessageWithReason(const std::string& Message, const TOutcome& Outcome) {
    return Message + "\n" + OutcomeText(Outcome);
}

TOutcome ReadOutcome(const TReply& Reply, size_t Need) {
    if (!Reply.Ok()) return Reply.Outcome;
    if (!Reply.Data || Reply.Data->size() < Need) return TOutcome{TReplyStatus::Short};
    return kAnswered;
}

TPanelAccess PanelAccess(uint8_t Level) {
    if (Level == 0) return TPanelAccess::Service;
    if (Level == 2) return TPanelAccess::ReadOnly;
    return TPanelAccess::Full;
}

std::optional<TIntentResult> AccessRefusal(TPanelAccess Access, TIntent Intent, int Item) {
    if (Access == TPanelAccess::ReadOnly) return IntentRefused(TRefusalReason::ReadOnly);
    if (Intent == TIntent::Calibrate && Access != TPanelAccess::Service)
        return IntentRefused(TRefusalReason::ServiceOnly);
    if (Intent == TIntent::WriteSetpoint) {
        const uint8_t level = Access == TPanelAccess::Service ? 0 : 1;
        if (!SetpointWriteAllowed(level, Item)) return IntentRefused(TRefusalReason::ServiceOnly);
    }
    return std::nullopt;
}

}  // namespace tovik
