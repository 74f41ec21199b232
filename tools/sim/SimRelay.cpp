#include "tools/sim/SimRelay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iterator>
#include <numbers>

namespace tovik::sim {

const char* StateName(uint8_t code) {
    static const char* const names[] = {
        "СТОП",
        "РАБОТА",
        "РАБОТА С БЛОКИРОВКОЙ ЗАЩИТ",
        "ПРОБЛЕМА МИН ТОКА",
        "ПРОБЛЕМА НОМ ТОКА",
        "ПРОБЛЕМА МАКС ТОКА",
        "ПРОБЛЕМА ДИСБ ТОКОВ",
        "ПРОБЛЕМА ФАЗ",
        "АВТО ПРОБЛЕМА МИН ТОКА",
        "АВТО ПРОБЛЕМА НОМ ТОКА",
        "АВТО ПРОБЛЕМА МАКС ТОКА",
        "АВТО ПРОБЛЕМА ДИСБ ТОКОВ",
        "АВТО ПРОБЛЕМА ФАЗ",
        "АВТО РАБОТА",
        "АВТО РАБОТА С БЛОКИРОВКОЙ ЗАЩИТ",
        "АВТО ПЕРЕРЫВ",
        "АВТО САМОЗАПУСК",
        "ОТЛОЖЕННЫЙ ПУСК",
        "АВАРИЯ",
        "АВАРИЙНЫЙ АВТОВОЗВРАТ",
    };
    return code < std::size(names) ? names[code] : "?";
}

// ---- Calendar ----

namespace {

bool IsLeap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// Days since 1.01.1970 of a civil date (proleptic Gregorian).
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr int64_t kEpoch2000 = DaysFromCivil(2000, 1, 1);

}  // namespace

std::optional<int64_t> DeviceTimeToSeconds(const TDeviceTime& t) {
    const int64_t year = 2000 + t[5];
    if (t[0] > 23 || t[1] > 59 || t[2] > 59 || t[4] < 1 || t[4] > 12) return std::nullopt;
    if (t[3] < 1 || t[3] > DaysInMonth(year, t[4])) return std::nullopt;
    const int64_t days = DaysFromCivil(year, t[4], t[3]) - kEpoch2000;
    return days * 86400 + t[0] * 3600 + t[1] * 60 + t[2];
}

TDeviceTime SecondsToDeviceTime(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    int64_t days = seconds / 86400 + kEpoch2000;
    const int64_t rest = seconds % 86400;
    // Civil date from days since 1970.
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    const int64_t yearByte = std::clamp<int64_t>(y - 2000, 0, 255);
    return {static_cast<uint8_t>(rest / 3600), static_cast<uint8_t>(rest / 60 % 60),
            static_cast<uint8_t>(rest % 60),   static_cast<uint8_t>(d),
            static_cast<uint8_t>(m),           static_cast<uint8_t>(yearByte)};
}

int64_t LocalClockSeconds() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    TDeviceTime t{static_cast<uint8_t>(tm.tm_hour),
                  static_cast<uint8_t>(tm.tm_min),
                  static_cast<uint8_t>(std::min(tm.tm_sec, 59)),
                  static_cast<uint8_t>(tm.tm_mday),
                  static_cast<uint8_t>(tm.tm_mon + 1),
                  static_cast<uint8_t>(std::clamp(tm.tm_year - 100, 0, 255))};
    return DeviceTimeToSeconds(t).value_or(0);
}

// ---- Model limits ----

namespace {

// By model code m (bits 0..2 of the model byte); m = 0 is never held.
constexpr uint32_t kThresholdMin[8] = {0, 50, 100, 200, 400, 1000, 2000, 5000};
constexpr uint32_t kCurrentMin[8] = {0, 200, 800, 1600, 3000, 6000, 10000, 30000};
constexpr uint32_t kImbalanceMin[8] = {0, 10, 50, 100, 200, 500, 1000, 2000};
constexpr uint32_t kCurrentMax[8] = {0, 50000, 100000, 250000, 600000, 1250000, 2500000, 6250000};
constexpr uint32_t kRatioMax[8] = {0, 1998, 999, 1, 1, 1, 1, 1};

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void AppendU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void AppendFloat(std::vector<uint8_t>& out, float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    AppendU32(out, bits);
}
std::vector<uint8_t> WordsToBytes(const std::vector<uint16_t>& words) {
    std::vector<uint8_t> out;
    for (uint16_t w : words) AppendU16(out, w);
    return out;
}
uint32_t CurrentToRaw(float mA) {
    if (!(mA > 0)) return 0;
    if (mA >= static_cast<float>(kOverflowCurrent)) return kOverflowCurrent;
    return static_cast<uint32_t>(std::lround(mA));
}

}  // namespace

// ---- Construction ----

TSimRelay::TSimRelay(uint8_t kind, uint8_t address, int64_t nowMs, int64_t clockSeconds)
    : DeviceKind(kind), LastUpdate(nowMs), ClockBase(clockSeconds), ClockBaseMs(nowMs) {
    uint8_t* b = Setpoints.data();
    // A 25 A relay; "Товик" with the PC interface (k = 2), "ТовикМ" k = 1.
    PutU32(b + 0, 400);     // Iпор
    PutU32(b + 4, 2000);    // Imin
    PutU32(b + 8, 25000);   // Inom
    PutU32(b + 12, 30000);  // Imax
    PutU32(b + 16, 5000);   // Iдисб
    PutU32(b + 20, 75000);  // Iотс
    PutU16(b + 24, 1);      // Kтр
    PutU16(b + 28, 500);    // Tmin 10 s
    PutU16(b + 30, 1500);   // Tnom 30 s
    PutU16(b + 32, 250);    // Tmax 5 s
    PutU16(b + 34, 500);    // Tдисб 10 s
    PutU16(b + 36, 100);    // Tфаз 2 s
    PutU16(b + 38, 25);     // Tп 0.5 s
    PutU16(b + 40, 15);     // Tсз 0.3 s
    PutU16(b + 42, 500);    // Tапв 10 s
    PutU16(b + 44, 0);      // Nапв
    b[46] = address;
    b[47] = 0;
    b[48] = 0;
    b[49] = IsTovikM(kind) ? 0x0B : 0x13;
    b[50] = 15;  // made 15.06.2024
    b[51] = 6;
    b[52] = 24;
    PutU16(b + 53, static_cast<uint16_t>(1000 + address));
    if (IsTovikM(kind)) PutU16(b + 55, 100);  // Tпс 2 s
    if (kind == 3) {
        b[27] = 5;  // Tотс 100 ms
        b[26] = 0;  // no discrete input protocol
    }
    Load = {20000, 20000, 20000};
    StampTime(StatsResetTime, nowMs);
    StampTime(SetpointChangeTime, nowMs);
    // Two tasks on the relay's first day: a morning and an afternoon shift.
    TDeviceTime today = Clock(nowMs);
    std::array<uint8_t, kTaskEntrySize> e{};
    const uint8_t shifts[2][2] = {{8, 12}, {13, 17}};
    for (const auto& s : shifts) {
        e = {s[0], 0, 0, today[3], today[4], today[5], s[1], 0, 0, today[3], today[4], today[5]};
        Tasks.push_back(e);
    }
}

uint32_t TSimRelay::U32(size_t offset) const {
    return GetU32(Setpoints.data() + offset);
}
uint16_t TSimRelay::U16(size_t offset) const {
    return GetU16(Setpoints.data() + offset);
}

TDeviceTime TSimRelay::Clock(int64_t nowMs) const {
    const int64_t elapsed = nowMs >= ClockBaseMs ? (nowMs - ClockBaseMs) / 1000 : 0;
    return SecondsToDeviceTime(ClockBase + elapsed);
}

void TSimRelay::StampTime(std::array<uint8_t, 8>& stamp, int64_t nowMs) const {
    const TDeviceTime t = Clock(nowMs);
    stamp = {t[0], t[1], t[2], 0, t[3], t[4], t[5], 0};
}

// ---- Running ----

void TSimRelay::Update(int64_t nowMs) {
    if (nowMs <= LastUpdate) return;
    const int64_t dt = nowMs - LastUpdate;
    LastUpdate = nowMs;
    const bool automat = Setpoints[48] != 0;
    if (!Running) {
        Measured = {0, 0, 0};
        return;
    }
    if (nowMs < StartAt) {
        StateCode = StateDelayedStart;
        Measured = {0, 0, 0};
        return;
    }
    RunningMs += std::min(dt, nowMs - StartAt);

    // Currents drift a few per cent around the load, each phase on its own.
    const double t = static_cast<double>(nowMs) / 1000.0;
    const double twoPi = 2 * std::numbers::pi;
    for (size_t i = 0; i < 3; ++i) {
        const double f = 1.0 + 0.02 * std::sin(twoPi * t / 7.0 + 2.1 * static_cast<double>(i)) +
                         0.01 * std::sin(twoPi * t / 1.3 + 1.3 * static_cast<double>(i));
        Measured[i] = static_cast<float>(Load[i] * f);
        Imax = std::max(Imax, CurrentToRaw(Measured[i]));
    }
    const float hi = *std::max_element(Measured.begin(), Measured.end());
    const float lo = *std::min_element(Measured.begin(), Measured.end());
    auto above = [&](size_t offset) { return U32(offset) != 0 && hi > static_cast<float>(U32(offset)); };

    // Conditions in the order of Pending: Tmin, Tnom, Tmax, Tдисб, Tфаз, Tотс.
    const bool blocked = nowMs < BlockingUntil;
    std::array<bool, 6> cond{};
    cond[5] = above(20);
    if (!blocked) {
        cond[0] = U32(4) != 0 && hi < static_cast<float>(U32(4));
        cond[1] = above(8);
        cond[2] = above(12);
        cond[3] = U32(16) != 0 && hi - lo > static_cast<float>(U32(16));
        const float threshold = static_cast<float>(U32(0));
        cond[4] = lo < threshold && hi >= threshold;
    }
    const int64_t cutoffMs = DeviceKind == 3 ? Setpoints[27] * 20 : 0;
    const std::array<int64_t, 6> limitMs = {U16(28) * 20, U16(30) * 20, U16(32) * 20,
                                            U16(34) * 20, U16(36) * 20, cutoffMs};
    const uint8_t causes[6] = {CauseIdle,      CauseNominal,   CauseMaximum,
                               CauseImbalance, CausePhaseLoss, CauseShortCircuit};
    for (size_t i = 0; i < 6; ++i) Pending[i] = cond[i] ? Pending[i] + dt : 0;
    // When several protections are due at once, the one the display shows
    // trips: the cut-off, then the larger currents, then a lost phase (which
    // is also an imbalance, but the more telling cause), then underload.
    const size_t order[6] = {5, 2, 1, 4, 3, 0};
    for (size_t i : order) {
        if (cond[i] && Pending[i] >= limitMs[i]) {
            Trip(causes[i], nowMs);
            return;
        }
    }
    uint8_t state = StateRun;
    if (blocked)
        state = StateRunBlocked;
    else if (cond[2])
        state = StateProblemMax;
    else if (cond[1])
        state = StateProblemNom;
    else if (cond[4])
        state = StateProblemPhase;  // a lost phase is also an imbalance
    else if (cond[3])
        state = StateProblemDisb;
    else if (cond[0])
        state = StateProblemMin;
    // In automatic mode the running states have their "АВТО" twins (1 -> 13, 2 -> 14, 3..7 -> 8..12).
    if (automat)
        state = state == StateRun ? StateAutoRun : state == StateRunBlocked ? StateAutoRunBlocked : state + 5;
    StateCode = state;
}

void TSimRelay::Start(int64_t nowMs) {
    Update(nowMs);
    if (Running) return;
    Running = true;
    StartAt = nowMs + U16(40) * 20;
    BlockingUntil = StartAt + U16(38) * 20;
    ++SwitchOns;
    Imax = 0;
    Pending = {};
    StateCode = StartAt > nowMs ? StateDelayedStart : Setpoints[48] ? StateAutoRunBlocked : StateRunBlocked;
}

void TSimRelay::Stop(int64_t nowMs) {
    Update(nowMs);
    Running = false;
    Pending = {};
    Measured = {0, 0, 0};
    StateCode = StateStop;
}

void TSimRelay::SetLoad(uint32_t a, uint32_t b, uint32_t c, int64_t nowMs) {
    Update(nowMs);
    Load = {a, b, c};
    // A new load takes effect at once: a current beyond the cut-off trips
    // on the next update, as a short circuit would.
    Update(nowMs + 1);
}

void TSimRelay::Trip(uint8_t cause, int64_t nowMs) {
    std::array<uint8_t, kAlarmRecordSize> rec{};
    const TDeviceTime t = Clock(nowMs);
    std::copy(t.begin(), t.end(), rec.begin());
    rec[6] = cause;
    // The currents at the moment of the trip; a forced trip of an idle relay
    // records the load it was set to.
    for (size_t i = 0; i < 3; ++i) {
        const float current = Running ? Measured[i] : static_cast<float>(Load[i]);
        PutU32(rec.data() + 7 + 4 * i, CurrentToRaw(current));
    }
    if (Alarms.size() >= kAlarmCapacity) Alarms.pop_front();
    Alarms.push_back(rec);
    ChangeJournal();
    static const int counterOf[7] = {CountMin,    CountNom,   CountMax,       CountDisb,
                                     CountCutoff, CountPhase, CountInsulation};
    const int counter = cause < 7 ? counterOf[cause] : CountInsulation;
    if (Counters[static_cast<size_t>(counter)] < 0xFFFF) ++Counters[static_cast<size_t>(counter)];
    Running = false;
    Pending = {};
    Measured = {0, 0, 0};
    StateCode = StateAlarm;
}

void TSimRelay::SetClock(int64_t seconds, int64_t nowMs) {
    ClockBase = seconds;
    ClockBaseMs = nowMs;
}

// ---- Setpoints ----

bool TSimRelay::ItemInLimits(int row, const std::array<uint8_t, kSetpointSize>& block,
                             std::string& why) const {
    const uint8_t m = block[49] & 7;
    auto u32 = [&](size_t o) { return GetU32(block.data() + o); };
    auto u16 = [&](size_t o) { return GetU16(block.data() + o); };
    auto range = [&](uint32_t v, uint32_t lo, uint32_t hi, bool zeroAllowed) {
        if ((v >= lo && v <= hi) || (zeroAllowed && v == 0)) return true;
        why = "item " + std::to_string(row) + " value " + std::to_string(v) + " outside " +
              std::to_string(lo) + ".." + std::to_string(hi);
        return false;
    };
    if (m == 0) {
        why = "model code 0";
        return false;
    }
    switch (row) {
        case 0:
            return range(u32(0), kThresholdMin[m], kCurrentMax[m], false);
        case 1:
        case 2:
        case 3:
        case 5:
            return range(u32(static_cast<size_t>(row) * 4), kCurrentMin[m], kCurrentMax[m], true);
        case 4:
            return range(u32(16), kImbalanceMin[m], kCurrentMax[m], true);
        case 6:
            // Tovik relays hold the ratio in a 32-bit field.
            return range(IsTovikM(DeviceKind) ? u16(24) : u32(24), 1, kRatioMax[m], false);
        case 7:
        case 8:
        case 9:
        case 10:
        case 11:
        case 12:
            return range(u16(28 + 2 * static_cast<size_t>(row - 7)), 5, 65000, false);
        case 13:
            return range(u16(40), Variant ? 0 : 15, 65000, false);
        case 14:
            return range(u16(42), 50, 65000, false);
        case 15:
            return range(u16(44), 0, 65000, true);
        case 16:
            return range(block[46], 1, 250, false);
        case 17:
            return range(block[47], 0, 1, true);
        case 18:
            return range(block[48], 0, 1, true);
        case 19:
            return true;
        case 20:
            if (block[50] == 0 && block[51] == 0 && block[52] == 0) return true;
            return range(block[50], 1, 31, false) && range(block[51], 1, 12, false) &&
                   range(block[52], 0, 99, false);
        case 21:
            return true;
        case 22:
            return range(u16(55), 5, 65000, false);
        case 23:
            return range(block[27], 0, 25, false);
        case 24:
            return range(block[26], 0, 3, false);
    }
    return false;
}

void TSimRelay::ClampToModel() {
    const uint8_t m = Setpoints[49] & 7;
    uint8_t* b = Setpoints.data();
    auto clamp32 = [&](size_t o, uint32_t lo, uint32_t hi, bool zeroAllowed) {
        const uint32_t v = GetU32(b + o);
        if (zeroAllowed && v == 0) return;
        PutU32(b + o, std::clamp(v, lo, hi));
    };
    clamp32(0, kThresholdMin[m], kCurrentMax[m], false);
    for (size_t o : {4u, 8u, 12u, 20u}) clamp32(o, kCurrentMin[m], kCurrentMax[m], true);
    clamp32(16, kImbalanceMin[m], kCurrentMax[m], true);
    const uint16_t ratio = std::clamp<uint16_t>(U16(24), 1, static_cast<uint16_t>(kRatioMax[m]));
    PutU16(b + 24, ratio);
    if (!IsTovikM(DeviceKind)) PutU16(b + 26, 0);
}

bool TSimRelay::WriteItem(const TSetpointItem& item, const std::vector<uint8_t>& bytes, int64_t nowMs,
                          std::string& why) {
    std::array<uint8_t, kSetpointSize> block = Setpoints;
    switch (item.Row) {
        case 6:
            // "ТовикМ": the ratio is the low half; the high half holds items 24 and 23.
            if (IsTovikM(DeviceKind)) {
                std::copy_n(bytes.begin(), 2, block.begin() + 24);
            } else {
                std::copy_n(bytes.begin(), 4, block.begin() + 24);
            }
            break;
        case 23:
            block[27] = bytes[0];
            break;
        case 24:
            if (bytes[1] != 0) {
                why = "item 24 value above 255";
                return false;
            }
            block[26] = bytes[0];
            break;
        default:
            std::copy_n(bytes.begin(), item.Size, block.begin() + item.Offset);
            break;
    }
    if (item.Row == 19 && (block[49] & 7) == 0) {
        why = "model code 0";
        return false;
    }
    if (item.Row != 19 && !ItemInLimits(item.Row, block, why)) return false;
    if (item.Row == 16 && block[46] != Setpoints[46] && CanTakeAddress && !CanTakeAddress(block[46])) {
        why = "address " + std::to_string(block[46]) + " is taken on this line";
        return false;
    }
    Setpoints = block;
    if (item.Row == 19) ClampToModel();
    SettingsChanged = true;
    StampTime(SetpointChangeTime, nowMs);
    return true;
}

// ---- Replies ----

std::vector<uint8_t> TSimRelay::CurrentsReply() const {
    std::vector<uint8_t> out;
    for (float f : Measured) AppendFloat(out, f);
    return out;
}

std::vector<uint8_t> TSimRelay::TimersReply() const {
    std::vector<uint8_t> out;
    auto ticks = [](int64_t ms) { return static_cast<uint16_t>(std::clamp<int64_t>(ms / 20, 0, 0xFFFF)); };
    for (size_t i = 0; i < 5; ++i) AppendU16(out, ticks(Pending[i]));
    const int64_t now = LastUpdate;
    AppendU16(out, ticks(Running && now < BlockingUntil ? BlockingUntil - std::max(now, StartAt) : 0));
    AppendU16(out, ticks(Running && now < StartAt ? StartAt - now : 0));
    AppendU16(out, 0);  // automatic returns so far
    out.push_back(0);
    return out;
}

std::vector<uint8_t> TSimRelay::CountersReply() const {
    std::vector<uint8_t> out;
    for (uint16_t c : Counters) AppendU16(out, c);
    return out;
}

std::vector<uint8_t> TSimRelay::StatisticsReply() const {
    std::vector<uint8_t> out(StatsResetTime.begin(), StatsResetTime.end());
    out.insert(out.end(), SetpointChangeTime.begin(), SetpointChangeTime.end());
    AppendU32(out, SwitchOns);
    AppendU32(out, static_cast<uint32_t>(RunningMs / 1000));
    return out;
}

std::vector<uint8_t> TSimRelay::TaskReply(uint8_t index) const {
    std::vector<uint8_t> out(kTaskEntrySize, 0);
    if (index < Tasks.size()) std::copy(Tasks[index].begin(), Tasks[index].end(), out.begin());
    out.push_back(index);
    out.push_back(static_cast<uint8_t>(Tasks.size()));
    out.push_back(static_cast<uint8_t>(kTaskCapacity));
    return out;
}

bool TSimRelay::SetTaskEntry(size_t index, const uint8_t* bytes, std::string& why) {
    TDeviceTime start, end;
    std::copy_n(bytes, 6, start.begin());
    std::copy_n(bytes + 6, 6, end.begin());
    if (!DeviceTimeToSeconds(start) || !DeviceTimeToSeconds(end)) {
        why = "task entry with an impossible time";
        return false;
    }
    if (index == Tasks.size()) Tasks.emplace_back();
    std::copy_n(bytes, kTaskEntrySize, Tasks[index].begin());
    TaskLogChanged = true;
    return true;
}

// ---- Native commands ----

TNativeResult TSimRelay::HandleNative(const std::vector<uint8_t>& payload, int64_t nowMs) {
    Update(nowMs);
    TNativeResult r;
    if (payload.size() < 2) {
        r.Note = "payload too short";
        return r;
    }
    const uint8_t cmd = payload[1];
    const std::vector<uint8_t> args(payload.begin() + 2, payload.end());
    auto need = [&](size_t n) {
        if (args.size() == n) return true;
        r.Note = "command " + std::to_string(cmd) + " with " + std::to_string(args.size()) +
                 " bytes, expected " + std::to_string(n);
        return false;
    };
    auto answer = [&](std::vector<uint8_t> data = {}) {
        r.Answered = true;
        r.Data = std::move(data);
        return r;
    };
    switch (cmd) {
        case 1:
            if (!need(0)) return r;
            Start(nowMs);
            return answer();
        case 2:
            if (!need(0)) return r;
            Stop(nowMs);
            return answer();
        case 3:
            if (!need(0)) return r;
            return answer({Setpoints.begin(), Setpoints.end()});
        case 4: {
            if (!need(2)) return r;
            const uint8_t offset = args[0], size = args[1];
            if (offset == 49) {
                if (size != 1) {
                    r.Note = "model item read with size " + std::to_string(size);
                    return r;
                }
                // The state poll: delivering the change marks clears them.
                std::vector<uint8_t> d = {Setpoints[49], SettingsChanged, TaskLogChanged, Variant};
                SettingsChanged = TaskLogChanged = false;
                return answer(d);
            }
            if (size == 0 || offset + size > static_cast<int>(kSetpointSize)) {
                r.Note = "read outside the setpoint memory";
                return r;
            }
            return answer({Setpoints.begin() + offset, Setpoints.begin() + offset + size});
        }
        case 6: {
            if (args.size() < 2) {
                need(2);
                return r;
            }
            const TSetpointItem* item = SetpointItemAtOffset(DeviceKind, args[0]);
            if (!item || item->Size != args[1]) {
                r.Note =
                    "no item at offset " + std::to_string(args[0]) + " with size " + std::to_string(args[1]);
                return r;
            }
            if (!need(2u + item->Size)) return r;
            if (!WriteItem(*item, {args.begin() + 2, args.end()}, nowMs, r.Note)) return r;
            return answer();
        }
        case 7:
            if (!need(0)) return r;
            return answer(TimersReply());
        case 11:
            if (!need(0)) return r;
            return answer({static_cast<uint8_t>(Alarms.size()), JournalMarker});
        case 12:
            if (!need(1)) return r;
            if (args[0] >= Alarms.size()) {
                r.Note = "no alarm record " + std::to_string(args[0]);
                return r;
            }
            return answer({Alarms[args[0]].begin(), Alarms[args[0]].end()});
        case 13:
            if (!need(0)) return r;
            Alarms.clear();
            ChangeJournal();
            return answer();
        case 14:
            if (!need(0)) return r;
            return answer(CurrentsReply());
        case 17: {
            if (!need(0)) return r;
            std::vector<uint8_t> d;
            AppendU32(d, Imax);
            return answer(d);
        }
        case 19:
            if (!need(1)) return r;
            return answer(TaskReply(args[0]));
        case 20:
            if (!need(1 + kTaskEntrySize)) return r;
            if (args[0] >= Tasks.size()) {
                r.Note = "no task entry " + std::to_string(args[0]);
                return r;
            }
            if (!SetTaskEntry(args[0], args.data() + 1, r.Note)) return r;
            return answer();
        case 21:
            if (!need(0)) return r;
            return answer(CountersReply());
        case 22:
            if (!need(14)) return r;
            for (size_t i = 0; i < 7; ++i) Counters[i] = GetU16(args.data() + 2 * i);
            return answer();
        case 23:
            if (!need(0)) return r;
            return answer({0, 0, 0, StateCode});
        case 24: {
            if (!need(0)) return r;
            const TDeviceTime t = Clock(nowMs);
            return answer({t.begin(), t.end()});
        }
        case 25: {
            if (!need(6)) return r;
            TDeviceTime t;
            std::copy_n(args.begin(), 6, t.begin());
            const auto seconds = DeviceTimeToSeconds(t);
            if (!seconds) {
                r.Note = "impossible clock time";
                return r;
            }
            SetClock(*seconds, nowMs);
            return answer();
        }
        case 26:
            if (!need(0)) return r;
            // Points per phase, the calibrated phases A, B, C, and the table version.
            return answer({kCalibrationPoints, 0x07, 1});
        case 30:
            if (!need(2)) return r;
            // The sender's count guards against deleting from a log that
            // changed since it was read.
            if (args[1] != Tasks.size() || args[0] >= Tasks.size()) {
                r.Note = "delete of entry " + std::to_string(args[0]) + " of " + std::to_string(args[1]) +
                         ", the log holds " + std::to_string(Tasks.size());
                return r;
            }
            Tasks.erase(Tasks.begin() + args[0]);
            TaskLogChanged = true;
            return answer();
        case 31:
            if (!need(1 + kTaskEntrySize)) return r;
            if (Tasks.size() >= kTaskCapacity || args[0] != Tasks.size()) {
                r.Note = Tasks.size() >= kTaskCapacity
                             ? "task log full"
                             : "new entry index " + std::to_string(args[0]) + ", the log holds " +
                                   std::to_string(Tasks.size());
                return r;
            }
            if (!SetTaskEntry(Tasks.size(), args.data() + 1, r.Note)) return r;
            return answer();
        case 32:
            if (!need(0)) return r;
            Tasks.clear();
            TaskLogChanged = true;
            return answer();
        default:
            r.Note = "command " + std::to_string(cmd) + " unknown to this relay";
            return r;
    }
}

// ---- ModBus registers ----

std::optional<uint16_t> TSimRelay::Register(uint16_t r, int64_t nowMs) const {
    if (r >= reg::Currents && r < reg::Currents + 6) {
        // Primary currents: the measured current times the ratio.
        std::vector<uint8_t> bytes;
        for (float f : Measured) AppendFloat(bytes, f * static_cast<float>(U16(24)));
        return GetU16(bytes.data() + 2 * (r - reg::Currents));
    }
    if (r == reg::State)
        return static_cast<uint16_t>(StateCode | (SettingsChanged ? 0x100 : 0) |
                                     (TaskLogChanged ? 0x200 : 0));
    if (r == reg::AlarmHeader) return static_cast<uint16_t>(Alarms.size() | JournalMarker << 8);
    if (r == reg::MaxCurrent) return static_cast<uint16_t>(Imax & 0xFFFF);
    if (r == reg::MaxCurrent + 1) return static_cast<uint16_t>(Imax >> 16);
    if (r >= reg::Reserved && r < reg::Run) return 0;
    if (r == reg::Run) return Running ? 1 : 0;
    if (r == reg::Variant) return Variant;
    const uint16_t lastSetpoint = DeviceKind == 3 ? reg::DiscreteInput : reg::DiscreteInput - 1;
    if (r >= reg::Setpoints && r <= lastSetpoint) {
        // The register image of the setpoint memory: one-byte items and the
        // date take whole registers; on "ТовикМ ModBus" item 23 sits in 45
        // and item 24 in 63.
        std::array<uint8_t, 64> img{};
        const uint8_t* b = Setpoints.data();
        std::copy(b, b + 24, img.begin());
        if (DeviceKind == 3) {
            img[24] = b[24];
            img[25] = b[25];
            img[2 * (reg::CutoffTime - reg::Setpoints)] = b[27];
            img[2 * (reg::DiscreteInput - reg::Setpoints)] = b[26];
        } else {
            std::copy(b + 24, b + 28, img.begin() + 24);
        }
        std::copy(b + 28, b + 46, img.begin() + 28);
        img[46] = b[46];
        img[48] = b[47];
        img[50] = b[48];
        img[52] = b[49];
        std::copy(b + 50, b + 53, img.begin() + 54);
        std::copy(b + 53, b + 57, img.begin() + 58);
        return GetU16(img.data() + 2u * (r - reg::Setpoints));
    }
    if (r >= reg::Clock && r < reg::Clock + 4) {
        const TDeviceTime t = Clock(nowMs);
        const uint16_t words[4] = {static_cast<uint16_t>(t[0] | t[1] << 8), t[2],
                                   static_cast<uint16_t>(t[3] | t[4] << 8), t[5]};
        return words[r - reg::Clock];
    }
    if (r == reg::AlarmSelect) return AlarmIndex;
    if (r >= reg::AlarmRecord && r < reg::AlarmRecord + 10) {
        if (AlarmIndex >= Alarms.size()) return std::nullopt;
        std::array<uint8_t, 20> rec{};
        std::copy(Alarms[AlarmIndex].begin(), Alarms[AlarmIndex].end(), rec.begin());
        return GetU16(rec.data() + 2 * (r - reg::AlarmRecord));
    }
    if (r == reg::Command) return 0;
    if (r == reg::TaskSelect) return static_cast<uint16_t>(Tasks.size() | kTaskCapacity << 8);
    if (r >= reg::TaskEntry && r < reg::TaskEntry + 6) {
        const auto entry = TaskReply(static_cast<uint8_t>(std::min<uint16_t>(TaskIndex, 255)));
        return GetU16(entry.data() + 2 * (r - reg::TaskEntry));
    }
    if (r == reg::TaskCommand) return 0;
    if (r >= reg::Timers && r < reg::Timers + 8) return GetU16(TimersReply().data() + 2 * (r - reg::Timers));
    if (r >= reg::Counters && r < reg::Counters + 7) return Counters[r - reg::Counters];
    if (r >= reg::Statistics && r < reg::Statistics + 12 && DeviceKind == 3)
        return GetU16(StatisticsReply().data() + 2 * (r - reg::Statistics));
    return std::nullopt;
}

TModbusResult TSimRelay::ReadRegisters(uint16_t first, uint16_t count, int64_t nowMs) {
    Update(nowMs);
    TModbusResult r;
    if (count < 1 || count > kMaxReadRegisters) {
        r.Exception = kIllegalValue;
        r.Note = "register count " + std::to_string(count);
        return r;
    }
    for (uint32_t reg = first; reg < static_cast<uint32_t>(first) + count; ++reg) {
        const auto v = Register(static_cast<uint16_t>(reg), nowMs);
        if (!v) {
            r.Exception = kIllegalAddress;
            r.Values.clear();
            r.Note = "register " + std::to_string(reg) + " not readable";
            return r;
        }
        r.Values.push_back(*v);
    }
    // The state poll reads the model register and then register 6: that
    // delivers the change marks, so they are cleared. Other reads of
    // register 6 (the device state) leave them for the next poll.
    if (first == reg::State && count == 1 && LastReadRegister == reg::Model)
        SettingsChanged = TaskLogChanged = false;
    LastReadRegister = first;
    return r;
}

TModbusResult TSimRelay::WriteRegisters(uint16_t first, const std::vector<uint16_t>& values, int64_t nowMs) {
    Update(nowMs);
    LastReadRegister = 0xFFFF;
    TModbusResult r;
    const size_t n = values.size();
    auto refuse = [&](uint8_t code, std::string note) {
        r.Exception = code;
        r.Note = std::move(note);
        return r;
    };
    auto single = [&] { return n == 1; };
    if (n == 0) return refuse(kIllegalValue, "no registers");
    if (first == reg::Run && single()) {
        if (values[0] > 1) return refuse(kIllegalValue, "start/stop value " + std::to_string(values[0]));
        values[0] ? Start(nowMs) : Stop(nowMs);
        return r;
    }
    if (const TSetpointItem* item = SetpointItemAtRegister(DeviceKind, first)) {
        if (n != item->Registers)
            return refuse(kIllegalAddress, "item " + std::to_string(item->Row) + " takes " +
                                               std::to_string(item->Registers) + " registers");
        std::vector<uint8_t> bytes = WordsToBytes(values);
        // One-byte items and the date's fourth byte leave a high byte that must be empty.
        const bool byteItem = (item->Row >= 16 && item->Row <= 19) || item->Row == 23;
        if ((byteItem && bytes[1] != 0) || (item->Row == 20 && bytes[3] != 0))
            return refuse(kIllegalValue, "item " + std::to_string(item->Row) + " value too large");
        if (!WriteItem(*item, bytes, nowMs, r.Note)) return refuse(kIllegalValue, r.Note);
        return r;
    }
    if (first == reg::Clock && n == 4) {
        const TDeviceTime t = {static_cast<uint8_t>(values[0]),      static_cast<uint8_t>(values[0] >> 8),
                               static_cast<uint8_t>(values[1]),      static_cast<uint8_t>(values[2]),
                               static_cast<uint8_t>(values[2] >> 8), static_cast<uint8_t>(values[3])};
        const auto seconds = DeviceTimeToSeconds(t);
        if (!seconds || values[1] > 0xFF || values[3] > 0xFF)
            return refuse(kIllegalValue, "impossible clock time");
        SetClock(*seconds, nowMs);
        return r;
    }
    if (first == reg::AlarmSelect && single()) {
        if (values[0] >= Alarms.size())
            return refuse(kIllegalValue, "no alarm record " + std::to_string(values[0]));
        AlarmIndex = values[0];
        return r;
    }
    if (first == reg::Command && single()) {
        if (values[0] == 1) {
            Alarms.clear();
            ChangeJournal();
        } else if (values[0] == 2) {
            Counters = {};
            // "ТовикМ ModBus" restarts its operating statistics with the counters.
            if (DeviceKind == 3) {
                SwitchOns = 0;
                RunningMs = 0;
                StampTime(StatsResetTime, nowMs);
            }
        } else {
            return refuse(kIllegalValue, "command value " + std::to_string(values[0]));
        }
        return r;
    }
    if (first == reg::TaskSelect && single()) {
        if (values[0] >= kTaskCapacity)
            return refuse(kIllegalValue, "task index " + std::to_string(values[0]));
        TaskIndex = values[0];
        return r;
    }
    if (first == reg::TaskEntry && n == 6) {
        const auto bytes = WordsToBytes(values);
        std::copy(bytes.begin(), bytes.end(), TaskBuffer.begin());
        return r;
    }
    if (first == reg::TaskCommand && single()) {
        switch (values[0]) {
            case 0:  // store the buffer as the selected entry
                if (TaskIndex >= Tasks.size())
                    return refuse(kIllegalValue, "no task entry " + std::to_string(TaskIndex));
                if (!SetTaskEntry(TaskIndex, TaskBuffer.data(), r.Note)) return refuse(kIllegalValue, r.Note);
                return r;
            case 1:  // append the buffer
                if (Tasks.size() >= kTaskCapacity) return refuse(kIllegalValue, "task log full");
                if (!SetTaskEntry(Tasks.size(), TaskBuffer.data(), r.Note))
                    return refuse(kIllegalValue, r.Note);
                return r;
            case 2:  // delete the selected entry
                if (TaskIndex >= Tasks.size())
                    return refuse(kIllegalValue, "no task entry " + std::to_string(TaskIndex));
                Tasks.erase(Tasks.begin() + TaskIndex);
                TaskLogChanged = true;
                return r;
            case 3:
                Tasks.clear();
                TaskLogChanged = true;
                return r;
            default:
                return refuse(kIllegalValue, "task command " + std::to_string(values[0]));
        }
    }
    return refuse(kIllegalAddress,
                  "no writable registers at " + std::to_string(first) + " (" + std::to_string(n) + ")");
}

}  // namespace tovik::sim
