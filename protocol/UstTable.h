#pragma once
// The setpoint items: how each is typed, scaled, shown, read and written.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/DeviceTypes.h"
#include "ports/Request.h"
#include "protocol/Codecs.h"

namespace tovik {

enum TUstItemType : uint8_t {
    UstU8 = 0,
    UstU16 = 1,
    UstU32 = 2,
    UstFloat = 3,
    UstDate = 4,      // day, month, year - 2000
    UstDateTime = 5,  // hour, minute, second, day, month, year - 2000
};

struct TTovikUstCell {
    uint8_t ItemType = UstU8;
    int32_t Precision = 10;
    float Scale = 1.0f;  // raw units per displayed unit
    int32_t Decimals = 0;
    bool ScalesWithKtr = false;
    bool ZeroAllowed = false;
    const char* ItemName = "";
    TCommandDescriptor ReadCommand;   // Param1 offset, Param2 size
    TCommandDescriptor WriteCommand;  // Param2 is also the number of data bytes
};

inline constexpr int kUstCellCount = 25;
inline constexpr int kUstModelRow = 19;
inline constexpr int kUstAutoRow = 18;
inline constexpr int kUstKtrRow = 6;
// The factory items (model, date of manufacture, serial number): only the
// service level writes them.
inline constexpr int kUstFirstFactoryRow = 19;
inline constexpr int kUstLastFactoryRow = 21;

inline constexpr int kUstTszRow = 13;  // delayed start time, see UstVariantTszLimits
inline constexpr int kUstModelCount = 8;

extern const std::array<TTovikUstCell, kUstCellCount> UstCells;

TUstRaw MakeUstRaw(uint64_t Value);
// The low `Bytes` bytes (at most 8) as an unsigned number.
uint64_t UstRawValue(const TUstRaw& Raw, int Bytes);

struct TUstLimits {
    TUstRaw Min{};
    TUstRaw Max{};
};

// [model code = model byte & 7][row]. Model code 0 (no model) pins every
// item to 0 except the model byte itself and the date of manufacture.
extern const std::array<std::array<TUstLimits, kUstCellCount>, kUstModelCount> UstLimits;
// Replaces row 13's limits on relays whose variant byte is not 0.
extern const TUstLimits UstVariantTszLimits;

// Task log time stamps and the calibration current: items of the same kind
// outside the setpoint block (their commands are not used).
extern const TTovikUstCell UstCellDateTime;
extern const TUstLimits UstDateTimeLimits;
extern const TTovikUstCell UstCellCalCurrent;
extern const TUstLimits UstCalCurrentLimits;

// The limits that apply to a row for a model byte and variant byte; all
// zero for a row out of range.
TUstLimits UstCellLimits(uint8_t ModelByte, int Row, uint8_t VariantByte);

// Empty for a row out of range.
std::string UstCellName(int Row);

// Display text of a raw value of an item. Multiplier 0 = none; it scales
// only 32-bit items.
std::string FormatUstItem(const TUstRaw& Raw, const TTovikUstCell& Cell, uint32_t Multiplier,
                          const TLocaleFormat& Locale);
// The same for a row of the table; the model row shows the model name.
std::string FormatUstValue(const TUstRaw& Raw, int Row, uint32_t Multiplier, uint8_t DeviceKind,
                           const TLocaleFormat& Locale);

// Texts of the "мин" and "макс" columns. Ktr scales the rows that scale
// with it. Empty for the model row and rows out of range.
std::string UstMinText(uint8_t ModelByte, int Row, uint32_t Ktr, uint8_t DeviceKind, uint8_t VariantByte,
                       const TLocaleFormat& Locale);
std::string UstMaxText(uint8_t ModelByte, int Row, uint32_t Ktr, uint8_t DeviceKind, uint8_t VariantByte,
                       const TLocaleFormat& Locale);

// A typed value brought into an item's raw form: rounded as the grid shows
// it, scaled, and held within the limits (0 stays 0 where the item allows
// it). Text that is not a number becomes 0 before those rules, which can
// switch a protection off: `Numeric` is false then (for date items: the
// text was not a date), so a writer can refuse it.
struct TUstParse {
    TUstRaw Raw{};
    bool Numeric = false;
};

// Multiplier scales the limits of 32-bit items; 0 counts as 1.
TUstParse ParseUstValue(std::string_view Text, const TTovikUstCell& Cell, const TUstLimits& Limits,
                        uint32_t Multiplier, const TLocaleFormat& Locale);
// One of the table's items, with the limits for the model and variant
// bytes. For rows that scale with Ktr, pass Ktr as the multiplier: the
// result is then the relay-side value (the typed value divided by Ktr, to
// the nearest step).
TUstParse ParseUstCell(std::string_view Text, uint8_t ModelByte, int Row, uint8_t VariantByte,
                       uint32_t Multiplier, const TLocaleFormat& Locale);

}  // namespace tovik
