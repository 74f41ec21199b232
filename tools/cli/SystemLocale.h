#pragma once
// The user's number, date and time separators.
#include <string>

#include "protocol/Codecs.h"

namespace tovik::cli {

// From the system locale (LC_ALL, LC_NUMERIC/LC_TIME, LANG; on Windows the
// user's regional settings). A separator the locale does not give keeps the
// default of TLocaleFormat. The system's part: SystemLocaleQt.cpp,
// SystemLocaleWin32.cpp.
TLocaleFormat SystemLocaleFormat();

// The separators of a locale's decimal point and its short date and time
// formats ("dd.MM.yyyy", "HH:mm").
TLocaleFormat LocaleFormatOf(const std::string& decimal, const std::string& dateFormat,
                             const std::string& timeFormat);

// The first separator of a date or time format ("dd.MM.yyyy" gives "."):
// the text between the first field and the next one; empty when there is none.
std::string FormatSeparator(const std::string& format);

}  // namespace tovik::cli
