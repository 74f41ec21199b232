#include "protocol/Codecs.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

namespace tovik {

namespace {

constexpr std::array<const char*, 15> kEventTexts = {
    "Холостой ход",
    "Превышение номинального тока",
    "Превышение максимального тока",
    "Превышение перекоса токов фаз",
    "Короткое замыкание",
    "Обрыв фазы",
    "Низкое сопротивление изоляции",
    "Отключение электроустановки",
    "Включение электроустановки",
    "Электромагнитная совместимость",
    "Cбой уставок",  // the relay's own text starts with a Latin C
    "Сбой калибровки",
    "Сбой журнала заданий",
    "Сбой счётчиков аварийных отключений",
    "Сбой журнала событий",
};

constexpr std::array<const char*, 20> kStateTexts = {
    "СТОП",
    "РАБОТА",
    "РАБОТА С БЛОКИРОВКОЙ ЗАЩИТ",
    "ПРОБЛЕМА МИН ТОКА",
    "ПРОБЛЕМА НОМ ТОКА",
    "ПРОБЛЕМА МАКС ТОКА",
    "ПРОБЛЕМА ДИСБ ТОКОВ",
    "ПРОБЛЕМА ФАЗ",
    "АВТО ПРОБЛЕМА МИН ТОКА",
    "АВТО ПРОБЛЕМА НОМ ТОКА",
    "АВТО ПРОБЛЕМА МАКС ТОКА",
    "АВТО ПРОБЛЕМА ДИСБ ТОКОВ",
    "АВТО ПРОБЛЕМА ФАЗ",
    "АВТО РАБОТА",
    "АВТО РАБОТА С БЛОКИРОВКОЙ ЗАЩИТ",
    "АВТО ПЕРЕРЫВ",
    "АВТО САМОЗАПУСК",
    "ОТЛОЖЕННЫЙ ПУСК",
    "АВАРИЯ",
    "АВАРИЙНЫЙ АВТОВОЗВРАТ",
};

// Index = model code 1..7; entry 0 unused.
constexpr std::array<const char*, 8> kModelCurrents = {"", "5", "10", "25", "60", "125", "250", "625"};

constexpr const char* kRatioLine = "Имеется возможность регулировки коэффициента трансформации.";

struct TModelLines {
    const char* Rated;
    const char* Threshold;
    bool AdjustableRatio;
};
constexpr std::array<TModelLines, 8> kModelLines = {{
    {"", "", false},
    {"Номинальный ток 5А.", "Пороговая величина тока 0,1А", true},
    {"Номинальный ток 10А.", "Пороговая величина тока 0,2А", true},
    {"Номинальный ток 25А.", "Пороговая величина тока 0,4А", false},
    {"Номинальный ток 60А.", "Пороговая величина тока 0,8А", false},
    {"Номинальный ток 125А.", "Пороговая величина тока 2А", false},
    {"Номинальный ток 250А.", "Пороговая величина тока 4А", false},
    {"Номинальный ток 625А.", "Пороговая величина тока 10А", false},
}};

constexpr const char* kModInsulation = "Модификация с измерителем сопротивления изоляции.";
constexpr const char* kModPc = "Модификация с интерфейсом с ПК.";
constexpr const char* kModPcOption = "Модификация с возможностью интерфейса с ПК.";
constexpr const char* kModDiscreteInput = "Модификация с дискретным входом.";
constexpr const char* kModPrestart = "Модификация с предпусковой сигнализацией.";
constexpr const char* kModAlarm = "Модификация с аварийной сигнализацией.";
constexpr const char* kModAlarmOption = "Модификация с возможностью аварийной сигнализации.";

constexpr const char* kCrLf = "\r\n";

bool IsTovikM(uint8_t kind) {
    return IsTovikMKind(kind);
}

const std::string& OrDefault(const std::string& value, const std::string& fallback) {
    return value.empty() ? fallback : value;
}

const std::string& DecimalSep(const TLocaleFormat& l) {
    static const std::string fallback = ",";
    return OrDefault(l.DecimalSeparator, fallback);
}
const std::string& DateSep(const TLocaleFormat& l) {
    static const std::string fallback = ".";
    return OrDefault(l.DateSeparator, fallback);
}
const std::string& TimeSep(const TLocaleFormat& l) {
    static const std::string fallback = ":";
    return OrDefault(l.TimeSeparator, fallback);
}

// Significant digits of a non-negative value (no leading or trailing
// zeros) and the position of the decimal point: value = 0.Digits * 10^Exp.
// An empty digit string is zero.
struct TDecimal {
    std::string Digits;
    int Exp = 0;
};

TDecimal ToDecimal(double value, int precision, int decimals) {
    TDecimal d;
    if (value == 0.0) return d;
    // Shortest text that reads back as the same double, so a typed 12,345
    // rounds the way it reads rather than by its binary remainder.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::scientific);
    std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
    size_t ePos = text.find('e');
    std::string_view mantissa = text.substr(0, ePos);
    int exp10 = 0;
    std::from_chars(text.data() + ePos + 1 + (text[ePos + 1] == '+' ? 1 : 0), text.data() + text.size(),
                    exp10);
    for (char c : mantissa)
        if (c != '.') d.Digits += c;
    d.Exp = exp10 + 1;

    // Keep at most `precision` digits and none beyond `decimals` places.
    long keep = std::min<long>(precision, static_cast<long>(d.Exp) + decimals);
    if (keep < 0) return {};
    if (static_cast<size_t>(keep) < d.Digits.size()) {
        bool up = d.Digits[static_cast<size_t>(keep)] >= '5';
        d.Digits.resize(static_cast<size_t>(keep));
        if (up) {
            int i = static_cast<int>(keep) - 1;
            while (i >= 0 && d.Digits[static_cast<size_t>(i)] == '9')
                d.Digits[static_cast<size_t>(i--)] = '0';
            if (i >= 0) {
                ++d.Digits[static_cast<size_t>(i)];
            } else {
                d.Digits.insert(d.Digits.begin(), '1');
                ++d.Exp;
            }
        }
    }
    while (!d.Digits.empty() && d.Digits.back() == '0') d.Digits.pop_back();
    if (d.Digits.empty()) return {};
    return d;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal exponent of the leading digit of a well-formed ASCII number, used
// only to tell overflow from underflow; nullopt when every digit is zero.
std::optional<long long> LeadingOrder(std::string_view s) {
    size_t ePos = s.find_first_of("eE");
    std::string_view mant = s.substr(0, ePos);
    long long exp = 0;
    if (ePos != std::string_view::npos) {
        std::string_view e = s.substr(ePos + 1);
        bool neg = !e.empty() && e.front() == '-';
        if (!e.empty() && (e.front() == '-' || e.front() == '+')) e.remove_prefix(1);
        for (char c : e) {
            exp = std::min<long long>(exp * 10 + (c - '0'), 1'000'000'000LL);  // saturates
        }
        if (neg) exp = -exp;
    }
    size_t point = mant.find('.');
    size_t intLen = point == std::string_view::npos ? mant.size() : point;
    long long pos = 0;  // digit index, counted from the start of the integer part
    for (char c : mant) {
        if (c == '.') continue;
        if (c != '0') return exp + static_cast<long long>(intLen) - 1 - pos;
        ++pos;
    }
    return std::nullopt;
}

// Last `count` UTF-8 characters of a text.
std::string_view LastChars(std::string_view s, size_t count) {
    size_t pos = s.size();
    while (count > 0 && pos > 0) {
        --pos;
        while (pos > 0 && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) --pos;
        --count;
    }
    return s.substr(pos);
}

size_t CountOf(std::string_view text, std::string_view sep) {
    size_t n = 0;
    for (size_t pos = text.find(sep); pos != std::string_view::npos; pos = text.find(sep, pos + sep.size()))
        ++n;
    return n;
}

// Splits around the first occurrence of `sep`; false when there is none.
bool SplitFirst(std::string_view text, std::string_view sep, std::string_view& head, std::string_view& tail) {
    size_t pos = text.find(sep);
    if (pos == std::string_view::npos) return false;
    head = text.substr(0, pos);
    tail = text.substr(pos + sep.size());
    return true;
}

// A date or time part: a number, clamped into [lo, hi] (the maximum wins
// should the limits cross), truncated toward zero.
std::optional<uint8_t> ParsePart(std::string_view text, uint8_t lo, uint8_t hi, const TLocaleFormat& locale) {
    std::optional<double> v = ParseNumber(text, locale);
    if (!v) return std::nullopt;
    double x = *v;
    if (x < lo) x = lo;
    if (x > hi) x = hi;
    return static_cast<uint8_t>(std::trunc(x));
}

int DaysInMonth(int month, int year) {
    switch (month) {
        case 2:
            return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 29 : 28;
        case 4:
        case 6:
        case 9:
        case 11:
            return 30;
        default:
            return 31;
    }
}

// No 31 February: a day past the month's end becomes its last day, as
// long as the limits allow it.
uint8_t FitDay(uint8_t day, uint8_t month, uint8_t year, uint8_t minDay) {
    int last = DaysInMonth(month, 2000 + year);
    if (day > last) day = static_cast<uint8_t>(std::max<int>(last, minDay));
    return day;
}

void AppendTwoDigits(std::string& out, unsigned v) {
    char buf[8];
    int n = std::snprintf(buf, sizeof(buf), "%02u", v);
    out.append(buf, static_cast<size_t>(n));
}

}  // namespace

std::string EventText(uint8_t Code) {
    unsigned code = Code & 0x7Fu;
    return code < kEventTexts.size() ? kEventTexts[code] : "Неизвестное событие";
}

std::string StateText(uint8_t Code) {
    return Code < kStateTexts.size() ? kStateTexts[Code] : "Неизвестно";
}

std::string ModelName(uint8_t ModelByte, uint8_t DeviceKind) {
    unsigned m = ModelByte & 7u;
    unsigned k = (ModelByte >> 3) & 7u;
    if (DeviceKind > 3 || m == 0) return {};
    std::string name = IsTovikM(DeviceKind) ? "ТовикМ-" : "Товик-";
    name += kModelCurrents[m];
    name += "-M";
    name += std::to_string(k + 1);
    return name;
}

std::string ModelDescription(uint8_t ModelByte, uint8_t DeviceKind) {
    if (DeviceKind > 3) return {};
    unsigned m = ModelByte & 7u;
    unsigned k = (ModelByte >> 3) & 7u;
    if (m == 0) return "Неизвестно";

    std::string text = ModelName(ModelByte, DeviceKind) + kCrLf;
    auto line = [&text](const char* s) {
        text += s;
        text += kCrLf;
    };
    line(kModelLines[m].Rated);
    line(kModelLines[m].Threshold);
    if (kModelLines[m].AdjustableRatio) line(kRatioLine);

    if (IsTovikM(DeviceKind)) {
        if (k % 2 == 1) line(kModInsulation);
        line(kModPc);
        line(kModDiscreteInput);
        if (k == 1 || k == 2) line(kModPrestart);
        if (k == 0 || k == 3) line(kModAlarm);
    } else {
        if (k == 1 || k == 3 || k == 4 || k == 7) line(kModInsulation);
        bool pc = k == 2 || k == 3;
        if (pc) line(kModPc);
        if (!pc && k >= 4) line(kModPcOption);
        if (k >= 4) line(kModDiscreteInput);
        if (k == 5 || k == 7) line(kModPrestart);
        if (k == 6) line(kModAlarm);
        // The optional alarm output is offered on modifications 2 to 6, the
        // ones built without alarm signalling (never alongside the line
        // above).
        if (k >= 1 && k <= 5) line(kModAlarmOption);
    }
    return text;
}

std::string FormatNumber(double Value, int Precision, int Decimals, const TLocaleFormat& Locale) {
    if (!std::isfinite(Value)) return kNotAvailableText;
    int p = std::clamp(Precision, 1, 18);
    int d = std::clamp(Decimals, 0, 18);
    const std::string& sep = DecimalSep(Locale);

    TDecimal dec = ToDecimal(std::fabs(Value), p, d);
    std::string text;
    if (dec.Exp > 0) {
        size_t e = static_cast<size_t>(dec.Exp);
        std::string digits = dec.Digits;
        if (digits.size() < e) digits.append(e - digits.size(), '0');
        text = digits.substr(0, e);
        // Lengths count characters, the separator as one.
        int chars = static_cast<int>(e);
        int after = 0;
        bool hasSep = false;
        auto pad = [&] {
            while (chars < p + 1 && after < d) {
                text += '0';
                ++chars;
                ++after;
            }
        };
        if (digits.size() > e) {
            text += sep;
            text.append(digits, e);
            hasSep = true;
            after = static_cast<int>(digits.size() - e);
            chars += 1 + after;
            pad();
        }
        if (d > 0 && chars < p && !hasSep) {
            text += sep;
            ++chars;
            pad();
        }
    } else {
        if (d == 0) return "0";
        // A value that rounds to nothing shows as 0,00; anything else keeps
        // its own leading zeros.
        int e = dec.Digits.empty() ? -2 : dec.Exp;
        text = "0" + sep + std::string(static_cast<size_t>(-e), '0') + dec.Digits;
    }
    if (Value < 0 && !dec.Digits.empty()) text.insert(0, "-");
    return text;
}

std::string FormatDate(std::span<const uint8_t, 3> Raw, const TLocaleFormat& Locale) {
    const std::string& sep = DateSep(Locale);
    std::string text = std::to_string(Raw[0]);
    text += sep;
    AppendTwoDigits(text, Raw[1]);
    text += sep;
    char buf[8];
    int n = std::snprintf(buf, sizeof(buf), "2%03u", static_cast<unsigned>(Raw[2]));
    text.append(buf, static_cast<size_t>(n));
    return text;
}

std::string FormatDateTime(std::span<const uint8_t, 6> Raw, const TLocaleFormat& Locale) {
    const std::string& sep = TimeSep(Locale);
    std::string text = FormatDate(Raw.subspan<3, 3>(), Locale);
    text += ' ';
    AppendTwoDigits(text, Raw[0]);
    text += sep;
    AppendTwoDigits(text, Raw[1]);
    text += sep;
    AppendTwoDigits(text, Raw[2]);
    return text;
}

std::optional<double> ParseNumber(std::string_view Text, const TLocaleFormat& Locale) {
    std::string_view text = Trim(Text);
    const std::string& sep = DecimalSep(Locale);

    // Rewrite into plain ASCII with '.' as the point, checking the shape:
    // [sign] digits [point digits] [e [sign] digits], a digit on at least
    // one side of the point.
    std::string s;
    s.reserve(text.size());
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') s += '-';
        ++i;
    }
    int mantDigits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        s += text[i++];
        ++mantDigits;
    }
    if (text.substr(i).starts_with(sep)) {
        s += '.';
        i += sep.size();
        while (i < text.size() && IsDigit(text[i])) {
            s += text[i++];
            ++mantDigits;
        }
    }
    if (mantDigits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        s += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) s += text[i++];
        int expDigits = 0;
        while (i < text.size() && IsDigit(text[i])) {
            s += text[i++];
            ++expDigits;
        }
        if (expDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;

    double value = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (res.ptr != s.data() + s.size()) return std::nullopt;
    if (res.ec == std::errc::result_out_of_range) {
        std::optional<long long> order = LeadingOrder(s);
        if (order && *order > 0) return std::nullopt;  // too large for a double
        return s.front() == '-' ? -0.0 : 0.0;
    }
    if (res.ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

TDateParse ParseDate(std::string_view Text, const TRawDate& Min, const TRawDate& Max,
                     const TLocaleFormat& Locale) {
    TDateParse fail{Min, false};
    const std::string& sep = DateSep(Locale);
    if (CountOf(Text, sep) != 2) return fail;
    std::string_view dayText, rest, monthText, yearText;
    SplitFirst(Text, sep, dayText, rest);
    SplitFirst(rest, sep, monthText, yearText);
    // A typed 2026 counts as 026.
    yearText = LastChars(yearText, 3);

    auto day = ParsePart(dayText, Min[0], Max[0], Locale);
    auto month = ParsePart(monthText, Min[1], Max[1], Locale);
    auto year = ParsePart(yearText, Min[2], Max[2], Locale);
    if (!day || !month || !year) return fail;
    return {{FitDay(*day, *month, *year, Min[0]), *month, *year}, true};
}

TDateTimeParse ParseDateTime(std::string_view Text, const TRawDateTime& Min, const TRawDateTime& Max,
                             const TLocaleFormat& Locale) {
    TDateTimeParse fail{Min, false};
    const std::string& dsep = DateSep(Locale);
    const std::string& tsep = TimeSep(Locale);

    std::string_view dayText, rest, monthText, yearText, timeText;
    if (dsep != tsep) {
        if (CountOf(Text, dsep) != 2 || CountOf(Text, tsep) != 2) return fail;
        SplitFirst(Text, dsep, dayText, rest);
        SplitFirst(rest, dsep, monthText, rest);
        if (!SplitFirst(rest, " ", yearText, timeText)) return fail;
    } else {
        // One separator for both (e.g. 7.03.2026 9.05.30): the first space
        // tells the date from the time.
        std::string_view datePart;
        if (!SplitFirst(Text, " ", datePart, timeText)) return fail;
        if (CountOf(datePart, dsep) != 2 || CountOf(timeText, tsep) != 2) return fail;
        SplitFirst(datePart, dsep, dayText, rest);
        SplitFirst(rest, dsep, monthText, yearText);
    }
    yearText = LastChars(yearText, 3);

    std::string_view hourText, minuteText, secondText;
    if (!SplitFirst(timeText, tsep, hourText, rest) || !SplitFirst(rest, tsep, minuteText, secondText)) {
        return fail;
    }

    auto hour = ParsePart(hourText, Min[0], Max[0], Locale);
    auto minute = ParsePart(minuteText, Min[1], Max[1], Locale);
    auto second = ParsePart(secondText, Min[2], Max[2], Locale);
    auto day = ParsePart(dayText, Min[3], Max[3], Locale);
    auto month = ParsePart(monthText, Min[4], Max[4], Locale);
    auto year = ParsePart(yearText, Min[5], Max[5], Locale);
    if (!hour || !minute || !second || !day || !month || !year) return fail;
    return {{*hour, *minute, *second, FitDay(*day, *month, *year, Min[3]), *month, *year}, true};
}

uint8_t ProposeKind(bool Modbus, uint8_t ModelByte, bool* Certain) {
    const unsigned modification = (ModelByte >> 3) & 7u;
    const bool tovikM = modification <= 1;
    const bool certain = modification <= 1 || modification >= 4;
    if (Certain) *Certain = certain;
    if (Modbus) return tovikM ? kKindTovikMModbus : kKindTovikModbus;
    return tovikM ? kKindTovikM : kKindTovik;
}

}  // namespace tovik
