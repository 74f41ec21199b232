#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/UstTable.h"

namespace tovik {
namespace {

const TLocaleFormat kRu{",", ".", ":"};
const TLocaleFormat kUs{".", "/", ":"};

int TypeWidth(uint8_t type) {
    switch (type) {
        case UstU8:
            return 1;
        case UstU16:
            return 2;
        case UstU32:
            return 4;
        case UstDate:
            return 3;
        default:
            return 0;
    }
}

uint32_t U32(const TUstRaw& raw) {
    return static_cast<uint32_t>(UstRawValue(raw, 4));
}

// Every item lies inside the 57-byte setpoint block and is read with at
// least as many bytes as its type holds; only the transformation ratio's
// field is shared (with items 23 and 24 on TovikM relays).
TEST(UstCellsTest, LayoutFitsTheSetpointBlock) {
    std::vector<int> owner(57, -1);
    for (int row = 0; row < kUstCellCount; ++row) {
        const TTovikUstCell& c = UstCells[row];
        SCOPED_TRACE(row);
        EXPECT_GE(c.ReadCommand.Param1, 0);
        EXPECT_LE(c.ReadCommand.Param1 + c.ReadCommand.Param2, 57);
        EXPECT_EQ(c.ReadCommand.Param1, c.WriteCommand.Param1);
        EXPECT_GE(c.ReadCommand.Param2, TypeWidth(c.ItemType));
        EXPECT_NE(c.ItemType, UstFloat);
        EXPECT_NE(std::string(c.ItemName), "");
        if (row == 23 || row == 24) continue;
        EXPECT_EQ(c.ReadCommand.Code, 4);
        EXPECT_EQ(c.WriteCommand.Code, 6);
        EXPECT_EQ(c.ReadCommand.Param2, c.WriteCommand.Param2);
        for (int i = 0; i < c.ReadCommand.Param2; ++i) {
            EXPECT_EQ(owner[c.ReadCommand.Param1 + i], -1) << "byte " << c.ReadCommand.Param1 + i;
            owner[c.ReadCommand.Param1 + i] = row;
        }
    }
    EXPECT_EQ(std::count(owner.begin(), owner.end(), -1), 0);
    // Commands of the two TovikM-only items.
    EXPECT_EQ(UstCells[23].ReadCommand.Code, 34);
    EXPECT_EQ(UstCells[23].WriteCommand.Code, 35);
    EXPECT_EQ(UstCells[23].WriteCommand.Param2, 1);
    EXPECT_EQ(UstCells[24].ReadCommand.Code, 36);
    EXPECT_EQ(UstCells[24].WriteCommand.Code, 37);
    EXPECT_EQ(owner[UstCells[23].ReadCommand.Param1], kUstKtrRow);
    EXPECT_EQ(owner[UstCells[24].ReadCommand.Param1], kUstKtrRow);
    EXPECT_EQ(UstCells[kUstModelRow].ReadCommand.Param1, 49);
    EXPECT_EQ(UstCells[kUstAutoRow].ReadCommand.Param1, 48);
    EXPECT_EQ(UstCells[kUstKtrRow].ReadCommand.Param1, 24);
}

TEST(UstCellsTest, Names) {
    EXPECT_EQ(UstCellName(0), "пороговый ток нагрузки Iпор, A");
    EXPECT_EQ(UstCellName(19), "модель");
    EXPECT_EQ(UstCellName(24), "протокол дискретного входа (0-нет;1-при выкл.;2-при вкл.;3-оба)");
    EXPECT_EQ(UstCellName(-1), "");
    EXPECT_EQ(UstCellName(25), "");
    EXPECT_EQ(std::string(UstCellDateTime.ItemName), "дата/время");
    EXPECT_EQ(std::string(UstCellCalCurrent.ItemName), "ток калибровки");
}

// ---- the item table as the relay's documentation gives it ----

struct DocumentedRow {
    const char* Name;
    uint8_t Type;
    int32_t Precision;
    float Scale;
    int32_t Decimals;
    bool Ktr;
    bool Zero;
    TCommandDescriptor Read;
    TCommandDescriptor Write;
};

// clang-format off
const DocumentedRow kDocumented[kUstCellCount] = {
    {"пороговый ток нагрузки Iпор, A", 2, 3, 1000, 3, true, false, {4, 0, 4}, {6, 0, 4}},
    {"минимальный ток нагрузки Imin, A", 2, 3, 1000, 3, true, true, {4, 4, 4}, {6, 4, 4}},
    {"номинальный ток нагрузки Inom, A", 2, 3, 1000, 3, true, true, {4, 8, 4}, {6, 8, 4}},
    {"максимальный ток нагрузки Imax, A", 2, 3, 1000, 3, true, true, {4, 12, 4}, {6, 12, 4}},
    {"максимальный дисбаланс токов фаз Iдисб, A", 2, 3, 1000, 3, true, true, {4, 16, 4}, {6, 16, 4}},
    {"ток отсечки нагрузки Iотс, A", 2, 3, 1000, 3, true, true, {4, 20, 4}, {6, 20, 4}},
    {"коэффициент трансформации", 1, 10, 1, 0, false, false, {4, 24, 4}, {6, 24, 4}},
    {"максимальное время недогрузки по минимальному току Tmin, с", 1, 10, 50, 1, false, false, {4, 28, 2}, {6, 28, 2}},
    {"максимальное время перегрузки по номинальному току Tnom, с", 1, 10, 50, 1, false, false, {4, 30, 2}, {6, 30, 2}},
    {"максимальное время перегрузки по максимальному току Tmax, с", 1, 10, 50, 1, false, false, {4, 32, 2}, {6, 32, 2}},
    {"максимальное время превышения дисбалланса токов Tдисб, с", 1, 10, 50, 1, false, false, {4, 34, 2}, {6, 34, 2}},
    {"максимальное время пропадания фазы Tфаз, с", 1, 10, 50, 1, false, false, {4, 36, 2}, {6, 36, 2}},
    {"время блокировки срабатывания защит при пуске Tп, с", 1, 10, 50, 1, false, false, {4, 38, 2}, {6, 38, 2}},
    {"время отложенного пуска Tсз, с", 1, 10, 50, 1, false, false, {4, 40, 2}, {6, 40, 2}},
    {"время до автоматического возврата защиты Tапв, с", 1, 10, 50, 1, false, false, {4, 42, 2}, {6, 42, 2}},
    {"число программируемых циклов автоматического возврата защиты Nапв", 1, 10, 1, 0, false, true, {4, 44, 2}, {6, 44, 2}},
    {"идентификатор устройства в магистрали", 0, 10, 1, 0, false, false, {4, 46, 1}, {6, 46, 1}},
    {"НЗК=1; НРК=0", 0, 10, 1, 0, false, true, {4, 47, 1}, {6, 47, 1}},
    {"режим АВТОМАТ (0-выкл,1-вкл)", 0, 10, 1, 0, false, true, {4, 48, 1}, {6, 48, 1}},
    {"модель", 0, 10, 1, 0, false, false, {4, 49, 1}, {6, 49, 1}},
    {"дата изготовления", 4, 10, 1, 0, false, true, {4, 50, 3}, {6, 50, 3}},
    {"серийный номер контроллера", 1, 10, 1, 0, false, true, {4, 53, 2}, {6, 53, 2}},
    {"время предпусковой сигнализации Tпс, с", 1, 10, 50, 1, false, false, {4, 55, 2}, {6, 55, 2}},
    {"максимальное время превышения тока отсечки Tотс(кратно 20), мс", 0, 10, 0.05f, 0, false, false, {34, 27, 2}, {35, 27, 1}},
    {"протокол дискретного входа (0-нет;1-при выкл.;2-при вкл.;3-оба)", 1, 1, 1, 0, false, false, {36, 26, 2}, {37, 26, 2}},
};
// clang-format on

struct Range {
    uint64_t Min, Max;
};

// Model-dependent rows 0 to 6 by model code 1..7: the threshold current's
// minimum, the minimum of rows 1, 2, 3 and 5, row 4's minimum, the maximum
// of rows 0 to 5 (mA), and the transformation ratio's maximum.
struct ModelRow {
    uint64_t ThresholdMin, CurrentMin, ImbalanceMin, CurrentMax, KtrMax;
};
const ModelRow kModelRows[8] = {
    {0, 0, 0, 0, 0},
    {50, 200, 10, 50000, 1998},
    {100, 800, 50, 100000, 999},
    {200, 1600, 100, 250000, 1},
    {400, 3000, 200, 600000, 1},
    {1000, 6000, 500, 1250000, 1},
    {2000, 10000, 1000, 2500000, 1},
    {5000, 30000, 2000, 6250000, 1},
};

// The documented limits of a numeric row (not the date row) for model code m.
Range DocumentedRange(int m, int row) {
    if (m == 0) return row == kUstModelRow ? Range{0, 255} : Range{0, 0};
    const ModelRow& r = kModelRows[m];
    switch (row) {
        case 0:
            return {r.ThresholdMin, r.CurrentMax};
        case 1:
        case 2:
        case 3:
        case 5:
            return {r.CurrentMin, r.CurrentMax};
        case 4:
            return {r.ImbalanceMin, r.CurrentMax};
        case 6:
            return {1, r.KtrMax};
        case 13:
            return {15, 65000};
        case 14:
            return {50, 65000};
        case 15:
            return {0, 65000};
        case 16:
            return {1, 250};
        case 17:
        case 18:
            return {0, 1};
        case 19:
            return {1, 255};
        case 21:
            return {0, 65535};
        case 23:
            return {0, 25};
        case 24:
            return {0, 3};
        default:  // 7 to 12 and 22
            return {5, 65000};
    }
}

const TUstRaw kDateMinAll{1, 1, 0};
const TUstRaw kDateMaxModel{31, 12, 99};

TEST(UstCellsTest, EveryRowAsDocumented) {
    for (int row = 0; row < kUstCellCount; ++row) {
        const TTovikUstCell& c = UstCells[row];
        const DocumentedRow& d = kDocumented[row];
        SCOPED_TRACE("row " + std::to_string(row));
        EXPECT_EQ(std::string(c.ItemName), d.Name);
        EXPECT_EQ(UstCellName(row), d.Name);
        EXPECT_EQ(c.ItemType, d.Type);
        EXPECT_EQ(c.Precision, d.Precision);
        EXPECT_FLOAT_EQ(c.Scale, d.Scale);
        EXPECT_EQ(c.Decimals, d.Decimals);
        EXPECT_EQ(c.ScalesWithKtr, d.Ktr);
        EXPECT_EQ(c.ZeroAllowed, d.Zero);
        EXPECT_EQ(c.ReadCommand.Code, d.Read.Code);
        EXPECT_EQ(c.ReadCommand.Param1, d.Read.Param1);
        EXPECT_EQ(c.ReadCommand.Param2, d.Read.Param2);
        EXPECT_EQ(c.WriteCommand.Code, d.Write.Code);
        EXPECT_EQ(c.WriteCommand.Param1, d.Write.Param1);
        EXPECT_EQ(c.WriteCommand.Param2, d.Write.Param2);
    }
    // The two items outside the table.
    EXPECT_EQ(UstCellDateTime.ItemType, UstDateTime);
    EXPECT_EQ(UstCellDateTime.Precision, 10);
    EXPECT_FLOAT_EQ(UstCellDateTime.Scale, 1);
    EXPECT_EQ(UstCellDateTime.Decimals, 0);
    EXPECT_TRUE(UstCellDateTime.ZeroAllowed);
    EXPECT_EQ(UstCellCalCurrent.ItemType, UstU32);
    EXPECT_EQ(UstCellCalCurrent.Precision, 3);
    EXPECT_FLOAT_EQ(UstCellCalCurrent.Scale, 1000);
    EXPECT_EQ(UstCellCalCurrent.Decimals, 3);
    EXPECT_EQ(U32(UstCalCurrentLimits.Min), 10u);
    EXPECT_EQ(U32(UstCalCurrentLimits.Max), 9999000u);
    EXPECT_EQ(UstDateTimeLimits.Min, (TUstRaw{0, 0, 0, 1, 1, 0}));
    EXPECT_EQ(UstDateTimeLimits.Max, (TUstRaw{23, 59, 59, 31, 12, 255}));
}

TEST(UstLimitsTest, EveryModelEveryRowAsDocumented) {
    for (int m = 0; m < kUstModelCount; ++m) {
        for (int row = 0; row < kUstCellCount; ++row) {
            SCOPED_TRACE("model " + std::to_string(m) + " row " + std::to_string(row));
            const TUstLimits& l = UstLimits[m][row];
            if (row == 20) {
                EXPECT_EQ(l.Min, kDateMinAll);
                EXPECT_EQ(l.Max, m == 0 ? kDateMinAll : kDateMaxModel);
                continue;
            }
            const Range r = DocumentedRange(m, row);
            EXPECT_EQ(l.Min, MakeUstRaw(r.Min));
            EXPECT_EQ(l.Max, MakeUstRaw(r.Max));
            // Only bits 0 to 2 of the model byte pick the limits; a relay
            // whose variant byte is not 0 may delay its start by 0 to 65000.
            for (uint8_t k : {0, 3, 7, 31}) {
                const auto modelByte = static_cast<uint8_t>(m | k << 3);
                const TUstLimits v = UstCellLimits(modelByte, row, 1);
                EXPECT_EQ(UstCellLimits(modelByte, row, 0).Min, l.Min);
                EXPECT_EQ(v.Min, row == 13 ? MakeUstRaw(0) : l.Min);
                EXPECT_EQ(v.Max, row == 13 ? MakeUstRaw(65000) : l.Max);
            }
        }
    }
}

// One value per row, with the text the row's scale, precision and decimals
// give it.
TEST(UstRowTest, EachRowShowsItsScaleAndDecimals) {
    struct Probe {
        int Row;
        uint64_t Raw;
        uint32_t Mul;
        const char* Ru;
    };
    const Probe probes[] = {
        {0, 1234, 0, "1,23"},
        {0, 1234, 10, "12,3"},
        {1, 56, 0, "0,056"},
        {2, 5000, 10, "50,0"},
        {3, 5000, 0, "5,00"},
        {4, 10, 0, "0,01"},
        {5, 6250000, 0, "6250"},
        {6, 1998, 0, "1998"},
        {7, 61725, 0, "1234,5"},
        {8, 120, 0, "2,4"},
        {9, 5, 0, "0,1"},
        {10, 65000, 0, "1300,0"},
        {11, 61726, 0, "1234,5"},
        {12, 32502, 0, "650,0"},
        {13, 15, 0, "0,3"},
        {14, 50, 0, "1,0"},
        {15, 65000, 0, "65000"},
        {16, 250, 0, "250"},
        {17, 1, 0, "1"},
        {18, 0, 0, "0"},
        {19, 0x1B, 0, "Товик-25-M4"},
        {20, 0x1A0307, 0, "7.03.2026"},
        {21, 65535, 0, "65535"},
        {22, 7, 0, "0,1"},
        {23, 2, 0, "40"},
        {23, 25, 0, "500"},
        {24, 3, 0, "3"},
    };
    std::vector<bool> seen(kUstCellCount, false);
    for (const Probe& p : probes) {
        EXPECT_EQ(FormatUstValue(MakeUstRaw(p.Raw), p.Row, p.Mul, kKindTovik, kRu), p.Ru) << "row " << p.Row;
        seen[p.Row] = true;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0);
}

// Whether the grid shows a raw value of a row exactly: its displayed value
// fits the row's decimals and significant digits.
bool ShownExactly(int row, uint64_t raw) {
    const DocumentedRow& d = kDocumented[row];
    const double units = static_cast<double>(raw) * std::pow(10.0, d.Decimals) / d.Scale;
    const double whole = std::round(units);
    if (std::fabs(units - whole) > 1e-4) return false;  // the scale is a float
    auto digits = static_cast<uint64_t>(whole);
    while (digits >= 10 && digits % 10 == 0) digits /= 10;
    return std::to_string(digits).size() <= static_cast<size_t>(d.Precision);
}

// The limits and a middle value of every row, on every model, as the grid
// shows them, read back as the same raw value.
TEST(UstRowTest, LimitsAndMiddleReadBackOnEveryModel) {
    for (const TLocaleFormat* l : {&kRu, &kUs}) {
        for (int m = 0; m < kUstModelCount; ++m) {
            const auto modelByte = static_cast<uint8_t>(m | (m << 3));  // modification bits vary too
            for (int row = 0; row < kUstCellCount; ++row) {
                SCOPED_TRACE("model " + std::to_string(m) + " row " + std::to_string(row));
                const uint32_t ktr = kDocumented[row].Ktr ? 1 : 0;
                std::vector<TUstRaw> values;
                if (row == 20) {
                    values = {kDateMinAll, m == 0 ? kDateMinAll : TUstRaw{15, 6, 49},
                              m == 0 ? kDateMinAll : kDateMaxModel};
                } else {
                    const Range r = DocumentedRange(m, row);
                    uint64_t mid = (r.Min + r.Max) / 2;
                    while (mid > r.Min && !ShownExactly(row, mid)) --mid;
                    ASSERT_TRUE(ShownExactly(row, r.Min) && ShownExactly(row, mid) &&
                                ShownExactly(row, r.Max));
                    values = {MakeUstRaw(r.Min), MakeUstRaw(mid), MakeUstRaw(r.Max)};
                }
                for (const TUstRaw& raw : values) {
                    // The model row shows the model's name; its number is typed.
                    const std::string text = row == kUstModelRow
                                                 ? std::to_string(raw[0])
                                                 : FormatUstValue(raw, row, ktr, kKindTovikMModbus, *l);
                    const TUstParse p = ParseUstCell(text, modelByte, row, 0, ktr, *l);
                    EXPECT_TRUE(p.Numeric) << text;
                    EXPECT_EQ(p.Raw, raw) << text;
                }
            }
        }
    }
}

// Typed values beyond a row's limits stop at them, on every model.
TEST(UstRowTest, TypedValuesStopAtTheLimitsOnEveryModel) {
    for (int m = 0; m < kUstModelCount; ++m) {
        for (int row = 0; row < kUstCellCount; ++row) {
            if (row == 20) continue;
            SCOPED_TRACE("model " + std::to_string(m) + " row " + std::to_string(row));
            const Range r = DocumentedRange(m, row);
            const uint32_t ktr = kDocumented[row].Ktr ? 1 : 0;
            const auto m8 = static_cast<uint8_t>(m);
            EXPECT_EQ(ParseUstCell("1e9", m8, row, 0, ktr, kRu).Raw, MakeUstRaw(r.Max));
            EXPECT_EQ(ParseUstCell("-1", m8, row, 0, ktr, kRu).Raw, MakeUstRaw(r.Min));
            const uint64_t zero = kDocumented[row].Zero ? 0 : r.Min;
            EXPECT_EQ(ParseUstCell("0", m8, row, 0, ktr, kRu).Raw, MakeUstRaw(zero));
        }
        // The date of manufacture.
        const TUstRaw hi = m == 0 ? kDateMinAll : kDateMaxModel;
        EXPECT_EQ(ParseUstCell("99.99.2999", static_cast<uint8_t>(m), 20, 0, 0, kRu).Raw, hi);
        EXPECT_EQ(ParseUstCell("0.0.2000", static_cast<uint8_t>(m), 20, 0, 0, kRu).Raw, kDateMinAll);
    }
}

// With a transformation ratio the grid shows the primary side to three
// digits; saving the shown value again must not move the setting.
TEST(ParseUstCellTest, RatioScaledValueReadsBackAsShown) {
    // 600 A over a ratio of 1997 is 300 mA at the relay, shown as 599 A.
    TUstParse p = ParseUstCell("600", 0x01, 1, 0, 1997, kRu);
    EXPECT_EQ(p.Raw, MakeUstRaw(300));
    EXPECT_EQ(FormatUstValue(p.Raw, 1, 1997, kKindTovik, kRu), "599");
    EXPECT_EQ(ParseUstCell("599", 0x01, 1, 0, 1997, kRu).Raw, MakeUstRaw(300));
    // Every current row, every ratio the relay allows: the shown text is
    // stable after one save.
    for (int row = 0; row <= 5; ++row) {
        for (uint32_t ktr : {2u, 7u, 10u, 131u, 999u, 1997u, 1998u}) {
            for (const char* typed : {"0,1", "1", "12,3", "150", "599", "600", "5555", "99900"}) {
                const TUstParse first = ParseUstCell(typed, 0x01, row, 0, ktr, kRu);
                const std::string shown = FormatUstValue(first.Raw, row, ktr, kKindTovik, kRu);
                const TUstParse again = ParseUstCell(shown, 0x01, row, 0, ktr, kRu);
                EXPECT_EQ(FormatUstValue(again.Raw, row, ktr, kKindTovik, kRu), shown)
                    << "row " << row << " ratio " << ktr << " typed " << typed;
                EXPECT_EQ(again.Raw, first.Raw) << "row " << row << " ratio " << ktr << " typed " << typed;
            }
        }
    }
}

TEST(FormatUstValueTest, Table) {
    struct Case {
        uint64_t Raw;
        int Row;
        uint32_t Mul;
        uint8_t Kind;
        const char* Ru;
        const char* Us;
    };
    const Case cases[] = {
        {5000, 2, 10, 0, "50,0", "50.0"},
        {5000, 2, 0, 0, "5,00", "5.00"},
        {5000, 2, 1, 0, "5,00", "5.00"},
        {12345, 0, 0, 0, "12,3", "12.3"},
        {0, 1, 0, 0, "0,00", "0.00"},
        {50, 0, 0, 0, "0,05", "0.05"},
        {120, 7, 0, 0, "2,4", "2.4"},
        {65000, 7, 0, 0, "1300,0", "1300.0"},
        {1998, 6, 0, 0, "1998", "1998"},
        {2, 23, 0, 3, "40", "40"},
        {25, 23, 0, 3, "500", "500"},
        {3, 24, 0, 3, "3", "3"},
        {0x1B, 19, 0, 0, "Товик-25-M4", "Товик-25-M4"},
        {0x1B, 19, 0, 2, "ТовикМ-25-M4", "ТовикМ-25-M4"},
        {0, 19, 0, 0, "", ""},
        {0x1A0307, 20, 0, 0, "7.03.2026", "7/03/2026"},
        {0xFFFFFFFFFFFFFFFFull, 21, 0, 0, "65535", "65535"},  // bytes beyond the item are ignored
        {0xFFFFFFFFull, 0, 65535, 0, "281000000000", "281000000000"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatUstValue(MakeUstRaw(c.Raw), c.Row, c.Mul, c.Kind, kRu), c.Ru)
            << c.Row << " " << c.Raw;
        EXPECT_EQ(FormatUstValue(MakeUstRaw(c.Raw), c.Row, c.Mul, c.Kind, kUs), c.Us)
            << c.Row << " " << c.Raw;
    }
    EXPECT_EQ(FormatUstValue(MakeUstRaw(5), -1, 0, 0, kRu), "");
    EXPECT_EQ(FormatUstValue(MakeUstRaw(5), 25, 0, 0, kRu), "");
    EXPECT_EQ(FormatUstItem(MakeUstRaw(1234), UstCellCalCurrent, 0, kRu), "1,23");
    EXPECT_EQ(FormatUstItem(TUstRaw{9, 5, 30, 7, 3, 26}, UstCellDateTime, 0, kRu), "7.03.2026 09:05:30");
}

TEST(UstLimitTextTest, Table) {
    struct Case {
        uint8_t Model;
        int Row;
        uint32_t Ktr;
        uint8_t Variant;
        const char* MinRu;
        const char* MaxRu;
        const char* MinUs;
    };
    const Case cases[] = {
        {0x01, 0, 1, 0, "0,05", "50,0", "0.05"},
        {0x01, 1, 1, 0, "0;0,2", "50,0", "0;0.2"},
        {0x01, 2, 10, 0, "0;2,00", "500", "0;2.00"},
        {0x01, 4, 1, 0, "0;0,01", "50,0", "0;0.01"},
        {0x01, 5, 1, 0, "0,2", "50,0", "0.2"},
        {0x07, 3, 1, 0, "0;30,0", "6250", "0;30.0"},
        {0x01, 6, 0, 0, "1", "1998", "1"},
        {0x01, 7, 0, 0, "0,1", "1300,0", "0.1"},
        {0x01, 13, 0, 0, "0,3", "1300,0", "0.3"},
        {0x01, 13, 0, 5, "0,0", "1300,0", "0.0"},
        {0x01, 14, 0, 0, "1,0", "1300,0", "1.0"},
        {0x01, 19, 0, 0, "", "", ""},
        {0x01, 20, 0, 0, "1.01.2000", "31.12.2099", "1/01/2000"},
        {0x00, 20, 0, 0, "1.01.2000", "1.01.2000", "1/01/2000"},
        {0x00, 19, 0, 0, "", "", ""},
        {0x00, 1, 0, 0, "0;0,00", "0,00", "0;0.00"},
        {0x01, 23, 0, 0, "0", "500", "0"},
        {0x01, 24, 0, 0, "0", "3", "0"},
        {0x01, 25, 0, 0, "", "", ""},
        {0x01, -1, 0, 0, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Model) + "/" + std::to_string(c.Row));
        EXPECT_EQ(UstMinText(c.Model, c.Row, c.Ktr, 0, c.Variant, kRu), c.MinRu);
        EXPECT_EQ(UstMaxText(c.Model, c.Row, c.Ktr, 0, c.Variant, kRu), c.MaxRu);
        EXPECT_EQ(UstMinText(c.Model, c.Row, c.Ktr, 0, c.Variant, kUs), c.MinUs);
    }
    // Ktr scales only the current rows.
    EXPECT_EQ(UstMaxText(0x01, 7, 10, 0, 0, kRu), "1300,0");
}

struct CellCase {
    const char* Text;
    uint8_t Model;
    int Row;
    uint8_t Variant;
    uint32_t Mul;
    uint64_t Raw;
    bool Numeric;
};

TEST(ParseUstCellTest, Table) {
    const CellCase cases[] = {
        {"150", 0x01, 2, 0, 10, 15000, true},  // 150 A on a ratio of 10 is 15 A at the relay
        {"0", 0x01, 1, 0, 1, 0, true},         // zero switches the protection off
        {"0", 0x01, 0, 0, 1, 50, true},        // the threshold cannot be off
        {"-5", 0x01, 1, 0, 1, 200, true},      // negative is the minimum, not 0
        {"-0,0001", 0x01, 1, 0, 1, 0, true},
        {"abc", 0x01, 1, 0, 1, 0, false},
        {"abc", 0x01, 0, 0, 1, 50, false},
        {"", 0x01, 2, 0, 0, 0, false},
        {"1234,5", 0x01, 7, 0, 0, 61725, true},
        {"2,37", 0x01, 7, 0, 0, 120, true},
        {"33", 0x01, 23, 0, 0, 2, true},  // 1,65 rounds to 2 (40 ms)
        {"10", 0x01, 23, 0, 0, 1, true},
        {"1000", 0x01, 23, 0, 0, 25, true},
        {"5", 0x00, 7, 0, 0, 0, true},  // no model: forced to 0
        {"200", 0x00, 19, 0, 0, 200, true},
        {"300", 0x00, 19, 0, 0, 255, true},
        {"0", 0x01, 19, 0, 0, 1, true},
        {"0", 0x01, 13, 1, 0, 0, true},
        {"0", 0x01, 13, 0, 0, 15, true},
        {"1e300", 0x01, 7, 0, 0, 65000, true},
        {"-1e300", 0x01, 7, 0, 0, 5, true},
        {"1e99999", 0x01, 7, 0, 0, 5, false},  // not a number: 0, then the minimum
        {"1e99999", 0x01, 15, 0, 0, 0, false},
        {"nan", 0x01, 1, 0, 1, 0, false},
        {"inf", 0x01, 3, 0, 1, 0, false},
        {"251", 0x01, 16, 0, 0, 250, true},
        {"0", 0x01, 16, 0, 0, 1, true},
        {"0,6", 0x01, 18, 0, 0, 1, true},  // shown with no decimals, so written as 1
        {"4", 0x01, 24, 0, 0, 3, true},
        {"2,6", 0x01, 24, 0, 0, 3, true},
        {"70000", 0x01, 21, 0, 0, 65535, true},
        {"1999", 0x01, 6, 0, 0, 1998, true},
        {"5", 0x03, 6, 0, 0, 1, true},
        {"1", 0x01, 2, 0, 3, 333, true},         // 1000 mA over a ratio of 3, truncated
        {"12,345", 0x01, 0, 0, 0, 12300, true},  // three significant digits
        {"0,0004", 0x01, 0, 0, 0, 50, true},
        {"1e12", 0x07, 3, 0, 65535, 6250000, true},  // a product beyond 32 bits still ends at the maximum
        {"7", 0x01, 25, 0, 0, 0, false},
        {"7", 0x01, -1, 0, 0, 0, false},
    };
    for (const CellCase& c : cases) {
        SCOPED_TRACE(std::string(c.Text) + " row " + std::to_string(c.Row) + " model " +
                     std::to_string(c.Model));
        TUstParse p = ParseUstCell(c.Text, c.Model, c.Row, c.Variant, c.Mul, kRu);
        EXPECT_EQ(p.Raw, MakeUstRaw(c.Raw));
        EXPECT_EQ(p.Numeric, c.Numeric);
    }
}

TEST(ParseUstCellTest, DotLocale) {
    EXPECT_EQ(ParseUstCell("1234.5", 0x01, 7, 0, 0, kUs).Raw, MakeUstRaw(61725));
    EXPECT_EQ(ParseUstCell("2.37", 0x01, 7, 0, 0, kUs).Raw, MakeUstRaw(120));
    TUstParse p = ParseUstCell("2,37", 0x01, 7, 0, 0, kUs);
    EXPECT_FALSE(p.Numeric);
    EXPECT_EQ(p.Raw, MakeUstRaw(5));
    p = ParseUstCell("7/03/2026", 0x01, 20, 0, 0, kUs);
    EXPECT_TRUE(p.Numeric);
    EXPECT_EQ(p.Raw, (TUstRaw{7, 3, 26}));
}

TEST(ParseUstCellTest, Dates) {
    TUstParse p = ParseUstCell("31.13.2026", 0x01, 20, 0, 0, kRu);
    EXPECT_TRUE(p.Numeric);
    EXPECT_EQ(p.Raw, (TUstRaw{31, 12, 26}));
    p = ParseUstCell("вчера", 0x01, 20, 0, 0, kRu);
    EXPECT_FALSE(p.Numeric);
    EXPECT_EQ(p.Raw, (TUstRaw{1, 1, 0}));
    p = ParseUstCell("7.03.2026", 0x00, 20, 0, 0, kRu);
    EXPECT_EQ(p.Raw, (TUstRaw{1, 1, 0}));
}

// What the grid shows for a limit must read back as that limit.
TEST(ParseUstCellTest, LimitsRoundTrip) {
    for (const TLocaleFormat* l : {&kRu, &kUs}) {
        for (uint8_t m = 1; m < 8; ++m) {
            for (int row = 0; row < kUstCellCount; ++row) {
                if (row == kUstModelRow) continue;
                uint32_t ktr = UstCells[row].ScalesWithKtr ? 1 : 0;
                for (const TUstRaw& raw : {UstLimits[m][row].Min, UstLimits[m][row].Max}) {
                    std::string text = FormatUstValue(raw, row, ktr, 3, *l);
                    TUstParse p = ParseUstCell(text, m, row, 0, ktr, *l);
                    EXPECT_TRUE(p.Numeric) << text;
                    EXPECT_EQ(p.Raw, raw) << "model " << int(m) << " row " << row << " text " << text;
                }
            }
        }
    }
}

TEST(ParseUstCellTest, ZeroRulePerRow) {
    for (int row = 0; row < kUstCellCount; ++row) {
        if (row == kUstModelRow || row == 20) continue;
        TUstParse p = ParseUstCell("0", 0x01, row, 0, UstCells[row].ScalesWithKtr ? 1 : 0, kRu);
        TUstRaw expected = UstCells[row].ZeroAllowed ? TUstRaw{} : UstLimits[1][row].Min;
        EXPECT_EQ(p.Raw, expected) << row;
    }
}

TEST(ParseUstValueTest, AuxiliaryItems) {
    TUstParse p = ParseUstValue("7.03.2026 9:5:30", UstCellDateTime, UstDateTimeLimits, 1, kRu);
    EXPECT_TRUE(p.Numeric);
    EXPECT_EQ(p.Raw, (TUstRaw{9, 5, 30, 7, 3, 26}));
    p = ParseUstValue("31.12.2255 23:59:59", UstCellDateTime, UstDateTimeLimits, 1, kRu);
    EXPECT_EQ(p.Raw, (TUstRaw{23, 59, 59, 31, 12, 255}));
    p = ParseUstValue("7.03.2026", UstCellDateTime, UstDateTimeLimits, 1, kRu);
    EXPECT_FALSE(p.Numeric);
    EXPECT_EQ(p.Raw, (TUstRaw{0, 0, 0, 1, 1, 0}));

    const std::vector<std::pair<const char*, uint32_t>> cal = {
        {"5", 5000},        {"0", 10},  {"0,01", 10},     {"0,0123", 12},
        {"10000", 9999000}, {"-3", 10}, {"12,34", 12300},
    };
    for (const auto& [text, raw] : cal) {
        EXPECT_EQ(ParseUstValue(text, UstCellCalCurrent, UstCalCurrentLimits, 1, kRu).Raw, MakeUstRaw(raw))
            << text;
        // A multiplier of 0 means none.
        EXPECT_EQ(ParseUstValue(text, UstCellCalCurrent, UstCalCurrentLimits, 0, kRu).Raw, MakeUstRaw(raw))
            << text;
    }
    // Multiplier scales the limits of 32-bit items only.
    EXPECT_EQ(ParseUstValue("100", UstCells[2], UstLimits[1][2], 10, kRu).Raw, MakeUstRaw(100000));
    EXPECT_EQ(ParseUstValue("100", UstCells[2], UstLimits[1][2], 1, kRu).Raw, MakeUstRaw(50000));
    EXPECT_EQ(ParseUstValue("2000", UstCells[6], UstLimits[1][6], 10, kRu).Raw, MakeUstRaw(1998));
}

TEST(ParseUstValueTest, FloatItem) {
    TTovikUstCell cell{UstFloat, 10, 1.0f, 2, false, true, "f", {}, {}};
    float lo = 1.0f, hi = 100.0f;
    TUstLimits limits;
    std::memcpy(limits.Min.data(), &lo, 4);
    std::memcpy(limits.Max.data(), &hi, 4);
    auto value = [](const TUstRaw& raw) {
        float f;
        std::memcpy(&f, raw.data(), 4);
        return f;
    };
    EXPECT_FLOAT_EQ(value(ParseUstValue("42,4", cell, limits, 0, kRu).Raw), 42.0f);
    EXPECT_FLOAT_EQ(value(ParseUstValue("1e9", cell, limits, 0, kRu).Raw), 100.0f);
    EXPECT_FLOAT_EQ(value(ParseUstValue("0", cell, limits, 0, kRu).Raw), 0.0f);
    EXPECT_FLOAT_EQ(value(ParseUstValue("-7", cell, limits, 0, kRu).Raw), 1.0f);
    EXPECT_EQ(FormatUstItem(MakeUstRaw(0x7FC00000), cell, 0, kRu), "Н/Д");  // a NaN from the relay
}

TEST(ParseUstCellTest, GarbageNeverCrashes) {
    const std::string texts[] = {"",
                                 "\xff\xfe",
                                 std::string(10000, '9'),
                                 std::string(10000, ','),
                                 "٫٫٫",
                                 "1e-400",
                                 "0x1p3",
                                 "1,5e+308",
                                 "\0",
                                 "..",
                                 "31.12.2099 23:59:59",
                                 "9" + std::string(400, '0')};
    for (const auto& text : texts) {
        for (int row = -1; row <= kUstCellCount; ++row) {
            for (uint8_t m : {0, 1, 7, 255}) {
                TUstParse p = ParseUstCell(text, m, row, m, 65535, kRu);
                if (row >= 0 && row < kUstCellCount && row != 20) {
                    TUstLimits l = UstCellLimits(m, row, m);
                    uint64_t v = UstRawValue(p.Raw, 8);
                    int w = TypeWidth(UstCells[row].ItemType);
                    uint64_t lo = UstRawValue(l.Min, w), hi = UstRawValue(l.Max, w);
                    EXPECT_TRUE(v <= hi && (v >= lo || (v == 0 && UstCells[row].ZeroAllowed)))
                        << "row " << row << " model " << int(m) << " value " << v;
                }
            }
        }
    }
}

}  // namespace
}  // namespace tovik
