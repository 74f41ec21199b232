#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "protocol/UstTable.h"

namespace tovik {

namespace {

bool ValidRow(int row) {
    return row >= 0 && row < kUstCellCount;
}

// Meaningful bytes of an item type; 0 for the date types and unknown ones.
int IntegerWidth(uint8_t type) {
    switch (type) {
        case UstU8:
            return 1;
        case UstU16:
            return 2;
        case UstU32:
            return 4;
        default:
            return 0;
    }
}

float RawFloat(const TUstRaw& raw) {
    float f;
    std::memcpy(&f, raw.data(), sizeof f);
    return f;
}

TUstRaw FloatRaw(float f) {
    TUstRaw raw{};
    std::memcpy(raw.data(), &f, sizeof f);
    return raw;
}

// Nearest integer, halves to even, whatever the floating-point environment.
double RoundHalfEven(double x) {
    double f = std::floor(x);
    double diff = x - f;
    if (diff > 0.5) return f + 1;
    if (diff < 0.5) return f;
    return std::fmod(f, 2.0) == 0.0 ? f : f + 1;
}

// The typed value as the grid would show it, times the item's scale.
// Non-numbers read as 0.
double ScaledInput(std::string_view text, const TTovikUstCell& cell, const TLocaleFormat& locale,
                   bool& numeric) {
    std::optional<double> v = ParseNumber(text, locale);
    numeric = v.has_value();
    double x = v.value_or(0.0);
    // Normalise through the display form so the value written is the one
    // the cell will show.
    if (std::optional<double> shown =
            ParseNumber(FormatNumber(x, cell.Precision, cell.Decimals, locale), locale)) {
        x = *shown;
    }
    return RoundHalfEven(x * static_cast<double>(cell.Scale));
}

// Integer items: R held within [lo, hi], 0 kept where allowed. Computed in
// 64 bits so a large multiplier cannot wrap.
uint64_t ClampInteger(double r, uint64_t lo, uint64_t hi, bool zeroAllowed) {
    uint64_t v;
    if (r == 0.0) {
        v = (zeroAllowed || lo == 0) ? 0 : lo;
    } else if (!(r > 0.0)) {  // negative (always the minimum)
        v = lo;
    } else if (r >= 18446744073709551616.0) {
        v = std::numeric_limits<uint64_t>::max();
    } else {
        v = static_cast<uint64_t>(r);
        if (v < lo) v = lo;
    }
    if (v > hi) v = hi;
    return v;
}

struct TWideParse {
    uint64_t Value = 0;
    bool Numeric = false;
};

// An integer item before it is narrowed to its width.
TWideParse ParseInteger(std::string_view text, const TTovikUstCell& cell, const TUstLimits& limits,
                        uint32_t multiplier, const TLocaleFormat& locale) {
    int width = IntegerWidth(cell.ItemType);
    uint64_t lo = UstRawValue(limits.Min, width);
    uint64_t hi = UstRawValue(limits.Max, width);
    if (cell.ItemType == UstU32) {
        uint64_t mul = multiplier == 0 ? 1 : multiplier;
        lo *= mul;  // both factors below 2^32: no overflow
        hi *= mul;
    }
    TWideParse out;
    double r = ScaledInput(text, cell, locale, out.Numeric);
    out.Value = ClampInteger(r, lo, hi, cell.ZeroAllowed);
    return out;
}

std::string LimitText(uint8_t modelByte, int row, uint32_t ktr, uint8_t kind, bool minimum,
                      const TLocaleFormat& locale) {
    if (!ValidRow(row) || row == kUstModelRow) return {};
    const TUstLimits& pair = UstLimits[modelByte & 7u][static_cast<size_t>(row)];
    uint32_t multiplier = UstCells[static_cast<size_t>(row)].ScalesWithKtr ? ktr : 0;
    return FormatUstValue(minimum ? pair.Min : pair.Max, row, multiplier, kind, locale);
}

}  // namespace

TUstRaw MakeUstRaw(uint64_t Value) {
    TUstRaw r{};
    for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(Value >> (8 * i));
    return r;
}

uint64_t UstRawValue(const TUstRaw& Raw, int Bytes) {
    uint64_t v = 0;
    for (int i = std::min(Bytes, 8) - 1; i >= 0; --i) v = (v << 8) | Raw[static_cast<size_t>(i)];
    return v;
}

TUstLimits UstCellLimits(uint8_t ModelByte, int Row, uint8_t VariantByte) {
    if (!ValidRow(Row)) return {};
    if (Row == kUstTszRow && VariantByte != 0) return UstVariantTszLimits;
    return UstLimits[ModelByte & 7u][static_cast<size_t>(Row)];
}

std::string UstCellName(int Row) {
    return ValidRow(Row) ? UstCells[static_cast<size_t>(Row)].ItemName : "";
}

std::string FormatUstItem(const TUstRaw& Raw, const TTovikUstCell& Cell, uint32_t Multiplier,
                          const TLocaleFormat& Locale) {
    double value;
    switch (Cell.ItemType) {
        case UstU8:
        case UstU16:
        case UstU32:
            value = static_cast<double>(UstRawValue(Raw, IntegerWidth(Cell.ItemType)));
            break;
        case UstFloat:
            value = RawFloat(Raw);
            break;
        case UstDate:
            return FormatDate(std::span<const uint8_t, 3>(Raw.data(), 3), Locale);
        case UstDateTime:
            return FormatDateTime(std::span<const uint8_t, 6>(Raw.data(), 6), Locale);
        default:
            return kNotAvailableText;
    }
    value /= static_cast<double>(Cell.Scale);
    if (Cell.ItemType == UstU32 && Multiplier != 0) value *= Multiplier;
    return FormatNumber(value, Cell.Precision, Cell.Decimals, Locale);
}

std::string FormatUstValue(const TUstRaw& Raw, int Row, uint32_t Multiplier, uint8_t DeviceKind,
                           const TLocaleFormat& Locale) {
    if (!ValidRow(Row)) return {};
    if (Row == kUstModelRow) return ModelName(Raw[0], DeviceKind);
    return FormatUstItem(Raw, UstCells[static_cast<size_t>(Row)], Multiplier, Locale);
}

std::string UstMinText(uint8_t ModelByte, int Row, uint32_t Ktr, uint8_t DeviceKind, uint8_t VariantByte,
                       const TLocaleFormat& Locale) {
    if (!ValidRow(Row) || Row == kUstModelRow) return {};
    if (Row == kUstTszRow && VariantByte != 0) {
        const std::string& sep = Locale.DecimalSeparator.empty() ? std::string(",") : Locale.DecimalSeparator;
        return "0" + sep + "0";
    }
    std::string text = LimitText(ModelByte, Row, Ktr, DeviceKind, true, Locale);
    // These protections can also be switched off with 0.
    if (Row >= 1 && Row <= 4) text.insert(0, "0;");
    return text;
}

std::string UstMaxText(uint8_t ModelByte, int Row, uint32_t Ktr, uint8_t DeviceKind, uint8_t /*VariantByte*/,
                       const TLocaleFormat& Locale) {
    return LimitText(ModelByte, Row, Ktr, DeviceKind, false, Locale);
}

TUstParse ParseUstValue(std::string_view Text, const TTovikUstCell& Cell, const TUstLimits& Limits,
                        uint32_t Multiplier, const TLocaleFormat& Locale) {
    TUstParse out;
    switch (Cell.ItemType) {
        case UstDate: {
            TRawDate lo{Limits.Min[0], Limits.Min[1], Limits.Min[2]};
            TRawDate hi{Limits.Max[0], Limits.Max[1], Limits.Max[2]};
            TDateParse d = ParseDate(Text, lo, hi, Locale);
            std::copy(d.Raw.begin(), d.Raw.end(), out.Raw.begin());
            out.Numeric = d.Valid;
            return out;
        }
        case UstDateTime: {
            TRawDateTime lo, hi;
            std::copy_n(Limits.Min.begin(), 6, lo.begin());
            std::copy_n(Limits.Max.begin(), 6, hi.begin());
            TDateTimeParse d = ParseDateTime(Text, lo, hi, Locale);
            std::copy(d.Raw.begin(), d.Raw.end(), out.Raw.begin());
            out.Numeric = d.Valid;
            return out;
        }
        case UstFloat: {
            double r = ScaledInput(Text, Cell, Locale, out.Numeric);
            double lo = RawFloat(Limits.Min);
            double hi = RawFloat(Limits.Max);
            if (r < lo && !(r == 0.0 && Cell.ZeroAllowed)) r = lo;
            if (r > hi) r = hi;
            out.Raw = FloatRaw(static_cast<float>(r));
            return out;
        }
        case UstU8:
        case UstU16:
        case UstU32: {
            TWideParse w = ParseInteger(Text, Cell, Limits, Multiplier, Locale);
            int width = IntegerWidth(Cell.ItemType);
            out.Raw = MakeUstRaw(w.Value & (width == 4 ? 0xFFFFFFFFull : (1ull << (8 * width)) - 1));
            out.Numeric = w.Numeric;
            return out;
        }
        default:
            return out;
    }
}

TUstParse ParseUstCell(std::string_view Text, uint8_t ModelByte, int Row, uint8_t VariantByte,
                       uint32_t Multiplier, const TLocaleFormat& Locale) {
    if (!ValidRow(Row)) return {};
    const TTovikUstCell& cell = UstCells[static_cast<size_t>(Row)];
    TUstLimits limits = UstCellLimits(ModelByte, Row, VariantByte);
    if (cell.ItemType == UstU32 && Multiplier != 0) {
        // Divide before narrowing: the product can exceed 32 bits. To the
        // nearest step, not toward zero: the grid shows the product rounded,
        // and a truncated quotient would read that text back one step lower,
        // so every save of the shown value would lower the setting again.
        // The product lies within the limits times the ratio, so the
        // quotient stays within the limits.
        TWideParse w = ParseInteger(Text, cell, limits, Multiplier, Locale);
        const uint64_t raw = (w.Value + Multiplier / 2) / Multiplier;
        return {MakeUstRaw(raw & 0xFFFFFFFFull), w.Numeric};
    }
    return ParseUstValue(Text, cell, limits, 1, Locale);
}

}  // namespace tovik
