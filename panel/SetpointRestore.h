#pragma once
// A setpoint file against the relay: which items differ (the compare view),
// which of them may be written back and why the others may not (the
// restore plan), and what the relay holds after the writes (the restore
// report). Everything is decided on raw values; the texts are for people.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "panel/SetpointFile.h"
#include "ports/Request.h"

namespace tovik {

// What the relay is: its kind, the model and variant bytes of its last
// state poll, and its last whole setpoint block.
struct TRelaySetpoints {
    uint8_t DeviceKind = 0;
    uint8_t ModelByte = 0;
    uint8_t VariantByte = 0;
    TSetpointBlock Block{};
};

struct TSetpointDiff {
    int Item = 0;
    bool InFile = false;  // a file of another kind may lack the item
    bool Differs = false;
    std::string RelayText;
    std::string FileText;  // empty when the file lacks the item
};

struct TSetpointComparison {
    bool SameKind = true;
    bool SameModel = true;
    // What the operator must know before looking at the items (another kind
    // or model); empty when the file is of this relay's kind and model.
    std::string Notice;
    // Every item the relay's grid shows, in item order.
    std::vector<TSetpointDiff> Items;
    int Differing() const;
};

// The file's texts are made from its raw values with its own Kтр, so that
// they read as they did when it was saved.
TSetpointComparison CompareSetpoints(const TSetpointFile& File, const TRelaySetpoints& Relay,
                                     const TLocaleFormat& Locale);

// What happens to one item of a restore.
enum class TRestoreAction {
    Write,       // differs and may be written
    Equal,       // already as in the file
    Access,      // the operator's access level may not write it
    BusNumber,   // the relay's own bus number is never taken from a file
    OutOfLimits  // the file's value is outside the limits of the relay's model
};

struct TRestoreItem {
    int Item = 0;
    TRestoreAction Action = TRestoreAction::Equal;
    TUstRaw FileRaw{};
    std::string RelayText;
    std::string FileText;
};

struct TRestorePlan {
    // Refused as a whole (another kind, read-only access): nothing is written.
    std::string Refusal;
    std::vector<TRestoreItem> Items;  // every item of the kind
    std::vector<int> ToWrite() const;
};

TRestorePlan PlanRestore(const TSetpointFile& File, const TRelaySetpoints& Relay, uint8_t AccessLevel,
                         const TLocaleFormat& Locale);

// Whether a raw value lies within an item's limits for a model and variant
// byte (0 where the item allows it to switch a protection off).
bool UstRawWithinLimits(const TUstRaw& Raw, int Item, uint8_t ModelByte, uint8_t VariantByte);

struct TRestoreResult {
    int Item = 0;
    TRestoreAction Action = TRestoreAction::Equal;
    bool Matches = false;   // the relay holds the file's value now
    std::string FileText;   // the file's value
    std::string RelayText;  // what the relay holds after the restore
};

struct TRestoreReport {
    bool ReadBack = false;     // the setpoints were read after the writes
    TOutcome ReadBackOutcome;  // how that read ended when it failed
    int Written = 0;
    // Items that differed before the restore, in item order.
    std::vector<TRestoreResult> Items;
    int NotMatching() const;
    // Every item that was written now matches (items kept out by the
    // rules are reported but do not count).
    bool WrittenAllMatch() const;
};

// The plan's differing items against the block read after the writes
// (none: the read failed).
TRestoreReport VerifyRestore(const TRestorePlan& Plan, const std::optional<TRelaySetpoints>& After,
                             const TLocaleFormat& Locale);

// The report as the operator reads it: a summary line, then one line per item.
std::string RestoreReportText(const TRestoreReport& Report);
// Why an item was not written, or "записана".
std::string RestoreActionText(TRestoreAction Action);

}  // namespace tovik
