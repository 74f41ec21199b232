// Number, date and date/time texts under several locales, multi-byte
// separators among them: whatever is typed parses without harm and within
// its limits, and what the codecs write reads back as what they were given
// (numbers within the digits they show).
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "protocol/Codecs.h"

using namespace tovik;

namespace {

// Decimal, date and time separators as front ends pass them from real
// locales; empty members fall back to the defaults.
const TLocaleFormat kLocales[] = {
    {",", ".", ":"},                 // ru
    {".", "/", ":"},                 // en-US
    {",", ".", "."},                 // fi: one separator for date and time
    {"\u066B", "/", ":"},            // ar: the Arabic decimal separator (two bytes)
    {",", ". ", ":"},                // hr: a two-character date separator
    {".", "-", ":"},                 // ISO-like
    {"\u00B7", "\u2013", "\u02D0"},  // three multi-byte separators
    {"", "", ""},
};

bool IsLeap(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}
int DaysIn(int month, int year) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Digits before the decimal point of |v| (0 or less below 1).
int Order(double v) {
    return static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1;
}

void CheckNumber(double v, int precision, int decimals, const TLocaleFormat& locale) {
    const std::string text = FormatNumber(v, precision, decimals, locale);
    if (!std::isfinite(v)) {
        CHECK(text == kNotAvailableText);
        return;
    }
    const std::optional<double> back = ParseNumber(text, locale);
    // Rounding the largest doubles to fewer digits can step past the
    // largest double (1.7e308 shown as 2e308), which no double holds.
    if (std::fabs(v) > 1e307) return;
    CHECK(back.has_value());
    CHECK(std::isfinite(*back));
    // Off by at most half a unit of the last digit the rules keep.
    const int p = precision < 1 ? 1 : (precision > 18 ? 18 : precision);
    const int d = decimals < 0 ? 0 : (decimals > 18 ? 18 : decimals);
    if (v != 0) {
        const double byDecimals = 0.5 * std::pow(10.0, -d);
        const double byPrecision = 0.5 * std::pow(10.0, Order(v) - p);
        const double bound = std::max(byDecimals, byPrecision);
        CHECK(std::fabs(*back - v) <= bound * (1 + 1e-9) + std::fabs(v) * 1e-15);
    } else {
        CHECK(*back == 0);
    }
    // The shown text is a fixed point: formatting its value again gives it.
    CHECK(FormatNumber(*back, precision, decimals, locale) == text);
    // With room for every digit the value comes back exactly.
    if (p >= 17 && std::fabs(v) >= 1e-1 && std::fabs(v) < 1e17 && d >= 18) CHECK(*back == v);
}

void CheckTypedNumber(std::string_view text, const TLocaleFormat& locale) {
    const std::optional<double> v = ParseNumber(text, locale);
    if (!v) return;
    CHECK(std::isfinite(*v));
    // A number that reads is written the same way by the formatter.
    for (int p : {3, 10, 17}) CheckNumber(*v, p, 3, locale);
}

void CheckDate(FuzzedDataProvider& in, const TLocaleFormat& locale) {
    const TRawDate lo{in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint8_t>(),
                      in.ConsumeIntegral<uint8_t>()};
    const TRawDate hi{in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint8_t>(),
                      in.ConsumeIntegral<uint8_t>()};
    const std::string text = in.ConsumeRandomLengthString(64);
    const TDateParse p = ParseDate(text, lo, hi, locale);
    if (!p.Valid) {
        CHECK(p.Raw == lo);
    } else {
        for (int i = 0; i < 3; ++i) {
            if (lo[i] <= hi[i]) CHECK(p.Raw[i] >= lo[i] && p.Raw[i] <= hi[i]);
        }
    }

    // A date inside the calendar and the limits reads back from its text.
    const TRawDate wideLo{1, 1, 0}, wideHi{31, 12, 255};
    const uint8_t month = in.ConsumeIntegralInRange<uint8_t>(1, 12);
    const uint8_t year = in.ConsumeIntegral<uint8_t>();
    const uint8_t day =
        in.ConsumeIntegralInRange<uint8_t>(1, static_cast<uint8_t>(DaysIn(month, 2000 + year)));
    const TRawDate raw{day, month, year};
    const TDateParse back = ParseDate(FormatDate(raw, locale), wideLo, wideHi, locale);
    CHECK(back.Valid && back.Raw == raw);
}

void CheckDateTime(FuzzedDataProvider& in, const TLocaleFormat& locale) {
    TRawDateTime lo{}, hi{};
    for (auto& b : lo) b = in.ConsumeIntegral<uint8_t>();
    for (auto& b : hi) b = in.ConsumeIntegral<uint8_t>();
    const std::string text = in.ConsumeRandomLengthString(64);
    const TDateTimeParse p = ParseDateTime(text, lo, hi, locale);
    if (!p.Valid) {
        CHECK(p.Raw == lo);
    } else {
        for (int i = 0; i < 6; ++i) {
            if (lo[i] <= hi[i]) CHECK(p.Raw[i] >= lo[i] && p.Raw[i] <= hi[i]);
        }
    }

    const TRawDateTime wideLo{0, 0, 0, 1, 1, 0}, wideHi{23, 59, 59, 31, 12, 255};
    TRawDateTime raw{};
    raw[0] = in.ConsumeIntegralInRange<uint8_t>(0, 23);
    raw[1] = in.ConsumeIntegralInRange<uint8_t>(0, 59);
    raw[2] = in.ConsumeIntegralInRange<uint8_t>(0, 59);
    raw[4] = in.ConsumeIntegralInRange<uint8_t>(1, 12);
    raw[5] = in.ConsumeIntegral<uint8_t>();
    raw[3] = in.ConsumeIntegralInRange<uint8_t>(1, static_cast<uint8_t>(DaysIn(raw[4], 2000 + raw[5])));
    const TDateTimeParse back = ParseDateTime(FormatDateTime(raw, locale), wideLo, wideHi, locale);
    CHECK(back.Valid && back.Raw == raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const TLocaleFormat& locale = in.PickValueInArray(kLocales);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:  // typed text
            CheckTypedNumber(in.ConsumeRemainingBytesAsString(), locale);
            break;
        case 1: {  // any double, any precision and decimals
            const int precision = in.ConsumeIntegralInRange<int>(-2, 20);
            const int decimals = in.ConsumeIntegralInRange<int>(-2, 20);
            double v = 0;
            if (in.ConsumeBool()) {
                const uint64_t bits = in.ConsumeIntegral<uint64_t>();
                std::memcpy(&v, &bits, sizeof v);
            } else {
                v = in.ConsumeFloatingPointInRange<double>(-1e7, 1e7);
            }
            CheckNumber(v, precision, decimals, locale);
            break;
        }
        case 2:
            CheckDate(in, locale);
            break;
        default:
            CheckDateTime(in, locale);
            break;
    }
    return 0;
}
