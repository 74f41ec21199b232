#pragma once
// What the device panel shows of a relay: the texts of its data labels,
// the model description and the state text for the status bar, made from
// the reply blocks of the poll cycle. Front ends (the panel, the command
// line client) feed it the completions and show its texts.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ports/Request.h"
#include "protocol/Codecs.h"

namespace tovik {

// The data labels in the panel's order.
enum TLabelId : int {
    LabelTokA,              // ToviktokALabel
    LabelTokB,              // ToviktokBLabel
    LabelTokC,              // ToviktokCLabel
    LabelDisb,              // TovikdisbLabel
    LabelImax,              // ImaxLabel
    LabelKtr,               // KtrLabel
    LabelMinLoadT,          // MinLoadTLabel
    LabelNomLoadT,          // NomLoadTLabel
    LabelMaxLoadT,          // MaxLoadTLabel
    LabelDisbLoadT,         // DisbLoadTLabel
    LabelPhaLoadT,          // PhaLoadTLabel
    LabelTpLoadT,           // TpLoadTLabel
    LabelSzLoadT,           // SzLoadTLabel
    LabelAvszN,             // AVSZLoadNLabel
    LabelDateTime,          // TovikDateTimeLabel
    LabelUstEditDateTime,   // TovikUstEditDateTimeLabel ("ТовикМ ModBus" only)
    LabelStartRstDateTime,  // TovikStartRstDateTimeLabel ("ТовикМ ModBus" only)
    LabelMoto,              // ToviktMotoLabel ("ТовикМ ModBus" only)
    LabelOnCount,           // TovikonCntLabel ("ТовикМ ModBus" only)
    LabelAvnMin,            // TovikAVNminLabel
    LabelAvnNom,            // TovikAVNnomLabel
    LabelAvnMax,            // TovikAVNmaxLabel
    LabelAvnDis,            // TovikAVNdisLabel
    LabelAvnPha,            // TovikAVNphaLabel
    LabelAvnOts,            // TovikAVNotsLabel
    LabelAvnRizo,           // TovikAVNrizoLabel
    kLabelCount
};

struct TLabelInfo {
    const char* Name;    // the control's name
    const char* Prefix;  // the caption before the value; the unavailable text is Prefix + "Н/Д"
};

const TLabelInfo& LabelInfo(TLabelId id);
// The four labels that only "ТовикМ ModBus" relays fill.
bool IsStatisticsLabel(TLabelId id);

// State text while the relay's state cannot be read.
inline constexpr const char* kStateUnavailableText = "Недоступно";
// A current too large for the relay to measure.
inline constexpr uint32_t kAlarmCurrentOverflow = 100000000;

// One alarm current: "^^^^" for the overflow mark, else raw × Kтр (an
// unsigned 32-bit product) in amperes, 3 significant digits, 2 decimals.
std::string FormatAlarmCurrent(uint32_t Raw, uint32_t Ktr, const TLocaleFormat& Locale);

// "Ia=" A " Ib=" B " Ic=" C of a 19-byte alarm record. The relay stores
// secondary currents: without Kтр (none) there is no value, and each shows "Н/Д".
std::string AlarmCurrentsText(std::span<const uint8_t, kAlarmRecordSize> Record, std::optional<uint32_t> Ktr,
                              const TLocaleFormat& Locale);

// The four bytes of the state poll reply.
struct TStatePoll {
    uint8_t ModelByte = 0;
    bool SettingsChanged = false;
    bool TaskLogChanged = false;
    uint8_t VariantByte = 0;
};

// The state poll reply; none when the poll failed or its block is short.
// The state poll's reply: model byte, the two change marks, variant byte.
inline constexpr size_t kStatePollReplySize = 4;
std::optional<TStatePoll> DecodeStatePoll(bool Ok, const TBlock* Data);

class TDeviceView {
public:
    TDeviceView(uint8_t DeviceKind, TLocaleFormat Locale);

    // Every label back to its unavailable caption, the status text empty.
    void Reset();
    // The device kind whose values are shown (before any reading).
    void SetDeviceKind(uint8_t DeviceKind) { Kind = DeviceKind; }

    // Completions of the poll cycle. The block holds only the bytes the
    // reply brought: a value whose bytes did not arrive shows "Н/Д", as do
    // all of a handler's values when Ok is false or the block is missing.
    void OnStatePoll(const TStatePoll& Poll);
    void OnSetpoints(bool Ok, const TBlock* Data);
    void OnCurrents(bool Ok, const TBlock* Data);
    void OnMaxCurrent(bool Ok, const TBlock* Data);
    void OnProtectionTimers(bool Ok, const TBlock* Data);
    void OnAlarmCounters(bool Ok, const TBlock* Data);
    // LastAlarm: the newest cached alarm record, shown beside "АВАРИЯ".
    void OnDeviceState(bool Ok, const TBlock* Data, const std::optional<TAlarmRecord>& LastAlarm);
    void OnDeviceClock(bool Ok, const TBlock* Data);
    void OnStatistics(bool Ok, const TBlock* Data);
    // A failed state poll: every reading shown as unavailable.
    void OnPollFailed();

    // Re-makes the state text from the last state reply (after the alarm
    // cache changed); nothing when no state reply has been taken.
    void RefreshStateText(const std::optional<TAlarmRecord>& LastAlarm);

    const std::string& Label(TLabelId id) const { return Labels[static_cast<size_t>(id)]; }
    // Moves on each time the label's text changes (not when a handler
    // writes the text it already shows), so a window redraws only what
    // changed. Revision() moves with any label.
    uint32_t LabelRevision(TLabelId id) const { return LabelRevs[static_cast<size_t>(id)]; }
    uint32_t Revision() const { return Rev; }
    bool LabelVisible(TLabelId id) const;
    // The visible labels in the panel's order.
    std::vector<TLabelId> VisibleLabels() const;

    const std::string& StateStatusText() const { return StatusText; }
    // The model memo: ModelDescription of the last polled model byte.
    std::string ModelText() const;

    uint8_t DeviceKind() const { return Kind; }
    uint8_t ModelByte() const { return Model; }
    uint8_t VariantByte() const { return Variant; }
    // Kтр: item 6 of the last setpoint block, 0 while its bytes have not
    // arrived (KtrKnown false). Values scaled by it are then unavailable.
    uint16_t Ktr() const;
    bool KtrKnown() const;
    // Kтр, none while it is not known.
    std::optional<uint32_t> KnownKtr() const;
    // The last setpoint block arrived whole.
    bool HasSetpoints() const { return SetpointsRead; }
    // The last setpoint block; only its first SetpointBytes() bytes arrived
    // (a short reply), the rest reads 0 and is no value.
    const TSetpointBlock& SetpointBlock() const { return Setpoints; }
    size_t SetpointBytes() const { return SetpointCount; }
    // The last state reply's state code, if any.
    std::optional<uint8_t> StateCode() const { return State; }
    // Ia, Ib, Ic and Di in amperes as the labels show them; NaN for a value
    // the last current read did not bring.
    const std::array<double, 4>& CurrentsAmps() const { return Amps; }

private:
    void SetUnavailable(TLabelId id);
    void SetValue(TLabelId id, const std::string& value);
    void SetText(TLabelId id, std::string text);

    uint8_t Kind;
    TLocaleFormat Locale;
    std::array<std::string, kLabelCount> Labels;
    std::array<uint32_t, kLabelCount> LabelRevs{};
    uint32_t Rev = 0;
    std::string StatusText;
    uint8_t Model = 0;
    uint8_t Variant = 0;
    bool SetpointsRead = false;
    size_t SetpointCount = 0;
    TSetpointBlock Setpoints{};
    std::optional<uint8_t> State;
    std::array<double, 4> Amps{};
};

}  // namespace tovik
