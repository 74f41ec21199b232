// The user's separators, the part of every platform; the system's part is
// SystemLocaleQt.cpp (QtCore) or SystemLocaleWin32.cpp.
#include "tools/cli/SystemLocale.h"

#include <cctype>

namespace tovik::cli {

std::string FormatSeparator(const std::string& format) {
    // Skip the first field's letters, then take everything up to the next
    // field; quoted literals and blanks do not count as separators.
    size_t i = 0;
    while (i < format.size() && std::isalpha(static_cast<unsigned char>(format[i]))) ++i;
    const size_t start = i;
    while (i < format.size() && !std::isalpha(static_cast<unsigned char>(format[i]))) ++i;
    std::string sep = format.substr(start, i - start);
    if (sep.find('\'') != std::string::npos || sep.find(' ') != std::string::npos) return {};
    return sep;
}

TLocaleFormat LocaleFormatOf(const std::string& decimal, const std::string& dateFormat,
                             const std::string& timeFormat) {
    TLocaleFormat f;
    if (!decimal.empty()) f.DecimalSeparator = decimal;
    // The C locale has no numeric date ("d MMM yyyy"): its separators stay
    // the defaults.
    const std::string date = FormatSeparator(dateFormat);
    if (!date.empty() && date != f.DecimalSeparator) f.DateSeparator = date;
    const std::string time = FormatSeparator(timeFormat);
    if (!time.empty() && time != f.DateSeparator) f.TimeSeparator = time;
    return f;
}

}  // namespace tovik::cli
