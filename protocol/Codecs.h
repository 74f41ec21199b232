#pragma once
// Texts for the relay's codes (events, states, model byte), number
// formatting for display, and the date and date/time text forms. Every
// function is pure; the separators come in with the caller's locale.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/DeviceTypes.h"

namespace tovik {

// The user's number, date and time separators (UTF-8, any length). Front
// ends fill it from the system locale; an empty member falls back to the
// default shown here.
struct TLocaleFormat {
    std::string DecimalSeparator = ",";
    std::string DateSeparator = ".";
    std::string TimeSeparator = ":";
};

// The mark for a value that cannot be shown.
inline constexpr const char* kNotAvailableText = "Н/Д";

// Bits 0-6 select the event; bit 7 does not change the text.
std::string EventText(uint8_t Code);
std::string StateText(uint8_t Code);

// Model byte: bits 0-2 model code (0 = none), bits 3-5 modification.
// Empty for no model or an unknown device kind.
std::string ModelName(uint8_t ModelByte, uint8_t DeviceKind);
// Name, rated data and modification lines, each ending in "\r\n";
// "Неизвестно" for no model, empty for an unknown device kind.
std::string ModelDescription(uint8_t ModelByte, uint8_t DeviceKind);

// The kind to propose for a relay that answered in one wire format with a
// model byte. The modification bits tell the family where they can: a
// "Товик" without the PC interface (modifications 1 and 2) cannot answer,
// so those answer only as "ТовикМ", which has modifications 1 to 4 only.
// Modifications 3 and 4 exist in both families: "Товик" is proposed and
// `Certain` is false.
uint8_t ProposeKind(bool Modbus, uint8_t ModelByte, bool* Certain = nullptr);

// At most `Precision` significant digits and `Decimals` digits after the
// separator, padded with zeros as the settings grid shows them. A value that
// is not finite gives "Н/Д".
std::string FormatNumber(double Value, int Precision, int Decimals, const TLocaleFormat& Locale);

// 7.03.2026 for day 7, month 3, year byte 26 (with separator ".").
std::string FormatDate(std::span<const uint8_t, 3> Raw, const TLocaleFormat& Locale);
// 7.03.2026 09:05:00; the bytes are hour, minute, second, day, month, year.
std::string FormatDateTime(std::span<const uint8_t, 6> Raw, const TLocaleFormat& Locale);

// A real number written with the locale's decimal separator: optional sign,
// digits, optional fraction and exponent, blanks around allowed. No digit
// grouping, no "inf"/"nan". nullopt for anything else, including values
// too large for a double; values too small for one read as zero.
std::optional<double> ParseNumber(std::string_view Text, const TLocaleFormat& Locale);

// Parsed date or date/time. `Valid` is false when the text did not have the
// shape of a date (separator counts) or a part was not a number; `Raw` is
// then the minimum of the limits.
struct TDateParse {
    TRawDate Raw{};
    bool Valid = false;
};
struct TDateTimeParse {
    TRawDateTime Raw{};
    bool Valid = false;
};

// Day, month and the year's last three digits, each clamped into the
// limits and truncated; a day beyond the month's length becomes its last day.
TDateParse ParseDate(std::string_view Text, const TRawDate& Min, const TRawDate& Max,
                     const TLocaleFormat& Locale);
// "d.mm.yyyy h:m:s"; each part clamped into the limits and truncated.
TDateTimeParse ParseDateTime(std::string_view Text, const TRawDateTime& Min, const TRawDateTime& Max,
                             const TLocaleFormat& Locale);

}  // namespace tovik
