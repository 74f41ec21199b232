#pragma once
// The phase currents and their imbalance over the last minutes, as the
// panel's own polls bring them (no request of its own): a ring of a fixed
// number of samples, so memory stays bounded however long the panel runs.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/Codecs.h"

namespace tovik {

// Ia, Ib, Ic, Di in amperes; NaN where the poll brought no value.
using TCurrentValues = std::array<double, 4>;

struct TTrendSample {
    int64_t WallMs = 0;  // milliseconds since 1970 (UTC)
    TCurrentValues Amps{};
};

inline constexpr size_t kTrendCapacity = 8192;
// The spans the trend window offers, in minutes.
inline constexpr std::array<int, 4> kTrendSpansMinutes = {1, 5, 15, 30};
inline constexpr std::array<const char*, 4> kTrendSeriesNames = {"Ia", "Ib", "Ic", "Di"};

class TCurrentTrend {
public:
    // The wall clock (ms since 1970) is read once, at the first sample;
    // later samples are placed by the millisecond clock from there, so a
    // change of the PC's clock never folds the trend back on itself.
    explicit TCurrentTrend(std::function<int64_t()> WallClockMs = nullptr, size_t Capacity = kTrendCapacity);

    // A poll's values at the millisecond clock reading ClockMs.
    void Add(uint32_t ClockMs, const TCurrentValues& Amps);
    void Clear();

    size_t Size() const { return Count; }
    size_t Capacity() const { return Ring.size(); }
    // Moves with every sample.
    uint64_t Revision() const { return Added; }
    // The samples of the last SpanMs before the newest one, oldest first.
    std::vector<TTrendSample> Samples(int64_t SpanMs) const;
    const TTrendSample& Newest() const;

private:
    std::function<int64_t()> WallClock;
    std::vector<TTrendSample> Ring;
    size_t Head = 0;  // where the next sample goes
    size_t Count = 0;
    uint64_t Added = 0;
    bool Anchored = false;
    int64_t AnchorWall = 0;
    uint32_t LastClock = 0;
    int64_t LastWall = 0;
};

// The samples as CSV for a spreadsheet: UTF-8 with a byte order mark,
// ";" between fields, the locale's decimal separator, local time stamps
// with milliseconds; an empty field where a value is missing.
std::string TrendCsvText(const std::vector<TTrendSample>& Samples, const TLocaleFormat& Locale);

// A local time stamp "7.03.2026 12:00:01,250" of a sample, with the
// locale's separators.
std::string TrendTimeText(int64_t WallMs, const TLocaleFormat& Locale);

}  // namespace tovik
