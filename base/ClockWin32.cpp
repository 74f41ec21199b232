// base/Clock.h on Windows: the calendar time.
#include <time.h>

#include "base/Clock.h"

namespace tovik {

std::tm LocalCalendarTime(std::time_t seconds) {
    std::tm tm{};
    if (::localtime_s(&tm, &seconds) != 0) tm = std::tm{};
    return tm;
}

}  // namespace tovik
