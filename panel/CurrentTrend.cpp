#include "panel/CurrentTrend.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "base/Clock.h"

namespace tovik {

namespace {

int64_t SystemWallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

TCurrentTrend::TCurrentTrend(std::function<int64_t()> WallClockMs, size_t Capacity)
    : WallClock(WallClockMs ? std::move(WallClockMs) : SystemWallMs), Ring(Capacity ? Capacity : 1) {}

void TCurrentTrend::Add(uint32_t ClockMs, const TCurrentValues& Amps) {
    int64_t wall;
    if (!Anchored) {
        Anchored = true;
        wall = AnchorWall = WallClock();
    } else {
        // Forward from the previous sample; the 32-bit clock wraps after 49.7
        // days, and a reading that went backwards counts as no time.
        const auto step = static_cast<int32_t>(ClockMs - LastClock);
        wall = LastWall + std::max<int32_t>(step, 0);
    }
    LastClock = ClockMs;
    LastWall = wall;
    Ring[Head] = {wall, Amps};
    Head = (Head + 1) % Ring.size();
    if (Count < Ring.size()) ++Count;
    ++Added;
}

void TCurrentTrend::Clear() {
    Head = Count = 0;
    Anchored = false;
    ++Added;
}

const TTrendSample& TCurrentTrend::Newest() const {
    return Ring[(Head + Ring.size() - 1) % Ring.size()];
}

std::vector<TTrendSample> TCurrentTrend::Samples(int64_t SpanMs) const {
    std::vector<TTrendSample> out;
    if (Count == 0) return out;
    const int64_t from = Newest().WallMs - SpanMs;
    // Walk back from the newest sample to the first one inside the span.
    size_t n = 0;
    while (n < Count && Ring[(Head + Ring.size() - 1 - n) % Ring.size()].WallMs >= from) ++n;
    out.reserve(n);
    for (size_t k = n; k > 0; --k) out.push_back(Ring[(Head + Ring.size() - k) % Ring.size()]);
    return out;
}

std::string TrendTimeText(int64_t WallMs, const TLocaleFormat& Locale) {
    const std::time_t seconds = static_cast<std::time_t>(WallMs >= 0 ? WallMs / 1000 : (WallMs - 999) / 1000);
    const int ms = static_cast<int>(WallMs - static_cast<int64_t>(seconds) * 1000);
    const std::tm t = LocalCalendarTime(seconds);
    char date[32], time[32], frac[8];
    std::snprintf(date, sizeof date, "%02d%s%02d%s%04d", t.tm_mday, Locale.DateSeparator.c_str(),
                  t.tm_mon + 1, Locale.DateSeparator.c_str(), t.tm_year + 1900);
    std::snprintf(time, sizeof time, "%02d%s%02d%s%02d", t.tm_hour, Locale.TimeSeparator.c_str(), t.tm_min,
                  Locale.TimeSeparator.c_str(), t.tm_sec);
    std::snprintf(frac, sizeof frac, "%03d", ms);
    return std::string(date) + " " + time + Locale.DecimalSeparator + frac;
}

std::string TrendCsvText(const std::vector<TTrendSample>& Samples, const TLocaleFormat& Locale) {
    std::string out = "\xEF\xBB\xBF";
    out += "Время;Ia, А;Ib, А;Ic, А;Di, А\r\n";
    for (const TTrendSample& s : Samples) {
        out += TrendTimeText(s.WallMs, Locale);
        for (const double a : s.Amps) {
            out += ';';
            if (!std::isfinite(a)) continue;
            // Milliamperes, the relay's own resolution, with the locale's separator.
            char number[48];
            std::snprintf(number, sizeof number, "%.3f", a);
            std::string text = number;
            if (const size_t dot = text.find('.'); dot != std::string::npos)
                text.replace(dot, 1, Locale.DecimalSeparator);
            out += text;
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace tovik
