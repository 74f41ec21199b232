// tools/cli/SystemLocale.h on Windows: the user's regional settings.
#include <windows.h>

#include "base/Cp1251.h"
#include "tools/cli/SystemLocale.h"

namespace tovik::cli {

namespace {

std::string LocaleText(LCTYPE what) {
    wchar_t text[LOCALE_NAME_MAX_LENGTH * 2] = {};
    const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, what, text, sizeof text / sizeof text[0]);
    if (n <= 1) return {};
    return Utf16ToUtf8(
               std::u16string_view(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(n - 1)))
        .value_or("");
}

}  // namespace

TLocaleFormat SystemLocaleFormat() {
    return LocaleFormatOf(LocaleText(LOCALE_SDECIMAL), LocaleText(LOCALE_SSHORTDATE),
                          LocaleText(LOCALE_SSHORTTIME));
}

}  // namespace tovik::cli
