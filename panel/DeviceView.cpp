#include "panel/DeviceView.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "protocol/Commands.h"

namespace tovik {

namespace {

constexpr std::array<TLabelInfo, kLabelCount> kLabels = {{
    {"ToviktokALabel", "Ia = "},
    {"ToviktokBLabel", "Ib = "},
    {"ToviktokCLabel", "Ic = "},
    {"TovikdisbLabel", "Di = "},
    {"ImaxLabel", "Imax = "},
    {"KtrLabel", "Kтр = "},
    {"MinLoadTLabel", "Недогрузка по Imin = "},
    {"NomLoadTLabel", "Превышение Inom = "},
    {"MaxLoadTLabel", "Перегрузка по Imax = "},
    {"DisbLoadTLabel", "Превышение по Di = "},
    {"PhaLoadTLabel", "Пропадание фаз Tфаз = "},
    {"TpLoadTLabel", "Блокировка защит Tп = "},
    {"SzLoadTLabel", "Время до самозапуска Tсз = "},
    {"AVSZLoadNLabel", "Автовозвратов защиты Nапв = "},
    {"TovikDateTimeLabel", "Текущее время: "},
    {"TovikUstEditDateTimeLabel", "Время последнего изменения уставок: "},
    {"TovikStartRstDateTimeLabel", "Время последнего сброса статистики: "},
    {"ToviktMotoLabel", "Tмото (чч:мм:сс): "},
    {"TovikonCntLabel", "Nвкл = "},
    {"TovikAVNminLabel", "Nmin = "},
    {"TovikAVNnomLabel", "Nnom = "},
    {"TovikAVNmaxLabel", "Nmax = "},
    {"TovikAVNdisLabel", "Nдисб = "},
    {"TovikAVNphaLabel", "Nфаз = "},
    {"TovikAVNotsLabel", "Nотс = "},
    {"TovikAVNrizoLabel", "N Rиз = "},
}};

constexpr const char* kAmps = " A";  // Latin A, as the panel writes it
constexpr const char* kSeconds = " сек";
constexpr uint8_t kAlarmStateCode = 18;

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
float F32(const uint8_t* p) {
    const uint32_t bits = U32(p);
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// The block of a completion when it is usable: Ok, present and long enough.
const uint8_t* Usable(bool ok, const TBlock* data, size_t size) {
    if (!ok || data == nullptr || data->size() < size) return nullptr;
    return data->data();
}

// The bytes a completion brought: the block is cut to what the reply
// carried, so a value whose bytes lie past its end did not arrive.
struct TArrived {
    const uint8_t* Bytes = nullptr;
    size_t Size = 0;
    bool Has(size_t offset, size_t size) const { return Bytes && offset + size <= Size; }
};
TArrived Arrived(bool ok, const TBlock* data) {
    if (!ok || data == nullptr) return {};
    return {data->data(), data->size()};
}

std::string TimeStampText(const uint8_t* bytes, const TLocaleFormat& locale) {
    return FormatDateTime(std::span<const uint8_t, 6>(bytes, 6), locale);
}

}  // namespace

const TLabelInfo& LabelInfo(TLabelId id) {
    return kLabels[static_cast<size_t>(id)];
}

bool IsStatisticsLabel(TLabelId id) {
    return id == LabelUstEditDateTime || id == LabelStartRstDateTime || id == LabelMoto || id == LabelOnCount;
}

std::string FormatAlarmCurrent(uint32_t Raw, uint32_t Ktr, const TLocaleFormat& Locale) {
    if (Raw == kAlarmCurrentOverflow) return "^^^^";
    // A 64-bit product: large currents of a high ratio must not wrap around.
    const uint64_t product = static_cast<uint64_t>(Raw) * Ktr;
    return FormatNumber(static_cast<double>(product) / 1000.0, 3, 2, Locale);
}

std::string AlarmCurrentsText(std::span<const uint8_t, kAlarmRecordSize> Record, std::optional<uint32_t> Ktr,
                              const TLocaleFormat& Locale) {
    auto current = [&](size_t at) {
        return Ktr ? FormatAlarmCurrent(U32(&Record[at]), *Ktr, Locale) : std::string(kNotAvailableText);
    };
    return "Ia=" + current(7) + " Ib=" + current(11) + " Ic=" + current(15);
}

std::optional<TStatePoll> DecodeStatePoll(bool Ok, const TBlock* Data) {
    const uint8_t* d = Usable(Ok, Data, kStatePollReplySize);
    if (!d) return std::nullopt;
    return TStatePoll{d[0], d[1] != 0, d[2] != 0, d[3]};
}

TDeviceView::TDeviceView(uint8_t DeviceKind, TLocaleFormat Locale)
    : Kind(DeviceKind), Locale(std::move(Locale)) {
    Reset();
}

void TDeviceView::Reset() {
    for (int i = 0; i < kLabelCount; ++i) SetUnavailable(static_cast<TLabelId>(i));
    StatusText.clear();
    State.reset();
}

void TDeviceView::SetText(TLabelId id, std::string text) {
    std::string& label = Labels[static_cast<size_t>(id)];
    if (label == text) return;
    label = std::move(text);
    ++LabelRevs[static_cast<size_t>(id)];
    ++Rev;
}

void TDeviceView::SetUnavailable(TLabelId id) {
    SetText(id, std::string(LabelInfo(id).Prefix) + kNotAvailableText);
}

void TDeviceView::SetValue(TLabelId id, const std::string& value) {
    SetText(id, LabelInfo(id).Prefix + value);
}

bool TDeviceView::LabelVisible(TLabelId id) const {
    return !IsStatisticsLabel(id) || Kind == kKindTovikMModbus;
}

std::vector<TLabelId> TDeviceView::VisibleLabels() const {
    std::vector<TLabelId> out;
    for (int i = 0; i < kLabelCount; ++i)
        if (LabelVisible(static_cast<TLabelId>(i))) out.push_back(static_cast<TLabelId>(i));
    return out;
}

std::string TDeviceView::ModelText() const {
    return ModelDescription(Model, Kind);
}

uint16_t TDeviceView::Ktr() const {
    return KtrKnown() ? U16(&Setpoints[kUstOffsetKtr]) : 0;
}

std::optional<uint32_t> TDeviceView::KnownKtr() const {
    if (!KtrKnown()) return std::nullopt;
    return Ktr();
}

bool TDeviceView::KtrKnown() const {
    return SetpointCount >= kUstOffsetKtr + 2u;
}

void TDeviceView::OnStatePoll(const TStatePoll& Poll) {
    Model = Poll.ModelByte;
    Variant = Poll.VariantByte;
}

void TDeviceView::OnSetpoints(bool Ok, const TBlock* Data) {
    const TArrived d = Arrived(Ok, Data);
    if (d.Size == 0) return;  // the label keeps its text; the grid shows "Н/Д"
    // A short block replaces the last one too: what did not come now is not
    // shown from an older reading.
    SetpointCount = std::min(d.Size, kSetpointBlockSize);
    Setpoints.fill(0);
    std::copy_n(d.Bytes, SetpointCount, Setpoints.begin());
    SetpointsRead = SetpointCount == kSetpointBlockSize;
    if (KtrKnown())
        SetValue(LabelKtr, std::to_string(Ktr()));
    else
        SetUnavailable(LabelKtr);
}

void TDeviceView::OnCurrents(bool Ok, const TBlock* Data) {
    const TArrived d = Arrived(Ok, Data);
    constexpr TLabelId ids[4] = {LabelTokA, LabelTokB, LabelTokC, LabelDisb};
    // Native relays report the secondary side: without Kтр there is no value.
    const bool scaleKnown = IsModbusKind(Kind) || KtrKnown();
    std::array<float, 3> raw{};
    size_t count = 0;  // currents that arrived
    while (count < 3 && d.Has(4 * count, 4)) {
        raw[count] = F32(d.Bytes + 4 * count);
        ++count;
    }
    // A value the relay cannot have (not finite) marks the block damaged.
    const bool valid =
        scaleKnown && std::all_of(raw.begin(), raw.begin() + count, [](float f) { return std::isfinite(f); });
    if (!valid) count = 0;
    // ModBus relays report currents already on the primary side.
    const double scale = IsModbusKind(Kind) ? 1.0 / 1000.0 : static_cast<double>(Ktr()) / 1000.0;
    Amps.fill(std::numeric_limits<double>::quiet_NaN());
    for (size_t i = 0; i < 3; ++i) {
        if (i < count) {
            Amps[i] = raw[i] * scale;
            SetValue(ids[i], FormatNumber(Amps[i], 3, 2, Locale) + kAmps);
        } else {
            SetUnavailable(ids[i]);
        }
    }
    if (count < 3) return SetUnavailable(LabelDisb);
    const auto [lo, hi] = std::minmax_element(raw.begin(), raw.end());
    const double di = (static_cast<double>(*hi) - static_cast<double>(*lo)) * scale;
    Amps[3] = di;
    SetValue(LabelDisb, FormatNumber(di, 3, 2, Locale) + kAmps);
}

void TDeviceView::OnMaxCurrent(bool Ok, const TBlock* Data) {
    const uint8_t* d = Usable(Ok, Data, kImaxReplySize);
    if (!d || !KtrKnown()) return SetUnavailable(LabelImax);
    const double value = static_cast<double>(U32(d)) / 1000.0 * Ktr();
    SetValue(LabelImax, FormatNumber(value, 3, 2, Locale) + kAmps);
}

void TDeviceView::OnProtectionTimers(bool Ok, const TBlock* Data) {
    constexpr TLabelId timers[7] = {LabelMinLoadT, LabelNomLoadT, LabelMaxLoadT, LabelDisbLoadT,
                                    LabelPhaLoadT, LabelTpLoadT,  LabelSzLoadT};
    const TArrived d = Arrived(Ok, Data);  // the 17th byte is not shown
    if (d.Size == 0) {
        for (TLabelId id : timers) SetUnavailable(id);
        SetUnavailable(LabelAvszN);
        SetUnavailable(LabelDateTime);
        return;
    }
    for (size_t i = 0; i < 7; ++i) {
        if (d.Has(2 * i, 2))
            SetValue(timers[i], FormatNumber(U16(d.Bytes + 2 * i) / 50.0, 3, 1, Locale) + kSeconds);
        else
            SetUnavailable(timers[i]);
    }
    if (d.Has(14, 2))
        SetValue(LabelAvszN, std::to_string(U16(d.Bytes + 14)));
    else
        SetUnavailable(LabelAvszN);
}

void TDeviceView::OnAlarmCounters(bool Ok, const TBlock* Data) {
    // Words in reply order; word 4 is the cut-off counter and word 5 the
    // phase counter as the panel labels them.
    constexpr TLabelId words[7] = {LabelAvnMin, LabelAvnNom, LabelAvnMax, LabelAvnDis,
                                   LabelAvnOts, LabelAvnPha, LabelAvnRizo};
    const TArrived d = Arrived(Ok, Data);
    for (size_t i = 0; i < 7; ++i) {
        if (d.Has(2 * i, 2))
            SetValue(words[i], std::to_string(U16(d.Bytes + 2 * i)));
        else
            SetUnavailable(words[i]);
    }
}

void TDeviceView::OnDeviceState(bool Ok, const TBlock* Data, const std::optional<TAlarmRecord>& LastAlarm) {
    const uint8_t* d = Usable(Ok, Data, kStateReplySize);
    if (!d) {
        SetUnavailable(LabelKtr);
        StatusText = kStateUnavailableText;
        State.reset();
        return;
    }
    State = d[kStateCodeByte];
    // Kтр is blanked with a failed state read; the setpoints it comes from
    // are still the relay's, so it shows again once the relay answers.
    if (KtrKnown()) SetValue(LabelKtr, std::to_string(Ktr()));
    RefreshStateText(LastAlarm);
}

void TDeviceView::RefreshStateText(const std::optional<TAlarmRecord>& LastAlarm) {
    if (!State) return;
    StatusText = StateText(*State);
    if (*State != kAlarmStateCode || !LastAlarm) return;
    const auto& rec = *LastAlarm;
    StatusText += " " + TimeStampText(rec.data(), Locale) + " " + EventText(rec[6]) + " " +
                  AlarmCurrentsText(rec, KnownKtr(), Locale);
}

void TDeviceView::OnDeviceClock(bool Ok, const TBlock* Data) {
    if (!Ok || !Data) return;  // the last time shown stays
    // An answer without the whole time stamp has no time to show.
    const uint8_t* d = Usable(Ok, Data, kDeviceTimeSize);
    if (!d) return SetUnavailable(LabelDateTime);
    SetValue(LabelDateTime, TimeStampText(d, Locale));
}

void TDeviceView::OnStatistics(bool Ok, const TBlock* Data) {
    const TArrived a = Arrived(Ok, Data);
    const uint8_t* d = a.Bytes;
    // Each time stamp takes 8 bytes; bytes 3 and 7 of it are not part of the time.
    auto stamp = [&](TLabelId id, size_t at) {
        if (!a.Has(at, 7)) return SetUnavailable(id);
        const uint8_t t[6] = {d[at], d[at + 1], d[at + 2], d[at + 4], d[at + 5], d[at + 6]};
        SetValue(id, TimeStampText(t, Locale));
    };
    stamp(LabelStartRstDateTime, 0);
    stamp(LabelUstEditDateTime, 8);
    if (a.Has(16, 4))
        SetValue(LabelOnCount, std::to_string(U32(d + 16)));
    else
        SetUnavailable(LabelOnCount);
    if (!a.Has(20, 4)) return SetUnavailable(LabelMoto);
    const uint32_t t = U32(d + 20);
    SetValue(LabelMoto,
             std::to_string(t / 3600) + ":" + std::to_string(t / 60 % 60) + ":" + std::to_string(t % 60));
}

void TDeviceView::OnPollFailed() {
    OnCurrents(false, nullptr);
    OnMaxCurrent(false, nullptr);
    OnProtectionTimers(false, nullptr);
    OnAlarmCounters(false, nullptr);
    OnDeviceState(false, nullptr, std::nullopt);
    OnSetpoints(false, nullptr);
    OnStatistics(false, nullptr);
}

}  // namespace tovik
