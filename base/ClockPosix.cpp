// base/Clock.h on POSIX systems: the calendar time.
#include <time.h>

#include "base/Clock.h"

namespace tovik {

std::tm LocalCalendarTime(std::time_t seconds) {
    std::tm tm{};
    if (!::localtime_r(&seconds, &tm)) tm = std::tm{};
    return tm;
}

}  // namespace tovik
