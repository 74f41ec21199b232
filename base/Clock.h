#pragma once
// The millisecond clock of the request engine: a 32-bit counter that wraps
// after about 49.7 days. Tests may replace its source. Also the calendar
// time of the system's time zone (ClockPosix.cpp, ClockWin32.cpp).
#include <cstdint>
#include <ctime>

namespace tovik {

using TClockSource = uint32_t (*)();

// Milliseconds from a steady clock, truncated to 32 bits.
uint32_t timeGetTime();

// Replaces the clock source; nullptr restores the steady clock.
void SetClockSource(TClockSource source);

// Elapsed time between two readings, correct across the 32-bit wrap.
inline uint32_t ElapsedMs(uint32_t from, uint32_t to) {
    const int32_t d = static_cast<int32_t>(to - from);
    return d < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(d)) : static_cast<uint32_t>(d);
}

// The local calendar time of a moment, in the system's time zone (TZ where
// it is set); all fields zero when the system cannot tell it.
std::tm LocalCalendarTime(std::time_t seconds);

}  // namespace tovik
