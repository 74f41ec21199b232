#pragma once
// The user's number, date and time separators.
#include <string>

#include "protocol/Codecs.h"

namespace tovik::cli {

// From the system locale (LC_ALL, LC_NUMERIC/LC_TIME, LANG). A separator
// the locale does not give keeps the default of TLocaleFormat.
TLocaleFormat SystemLocaleFormat();

// The first separator of a date or time format ("dd.MM.yyyy" gives "."):
// the text between the first field and the next one; empty when there is none.
std::string FormatSeparator(const std::string& format);

}  // namespace tovik::cli
