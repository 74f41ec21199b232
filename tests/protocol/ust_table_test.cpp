#include <gtest/gtest.h>

#include <algorithm>
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

TEST(UstLimitsTest, ModelDependentRows) {
    struct Row {
        int M;
        uint32_t ThresholdMin, CurrentMin, ImbalanceMin, CurrentMax, KtrMax;
    };
    const Row rows[] = {
        {1, 50, 200, 10, 50000, 1998},      {2, 100, 800, 50, 100000, 999},
        {3, 200, 1600, 100, 250000, 1},     {4, 400, 3000, 200, 600000, 1},
        {5, 1000, 6000, 500, 1250000, 1},   {6, 2000, 10000, 1000, 2500000, 1},
        {7, 5000, 30000, 2000, 6250000, 1},
    };
    for (const Row& r : rows) {
        const auto& l = UstLimits[r.M];
        SCOPED_TRACE(r.M);
        EXPECT_EQ(U32(l[0].Min), r.ThresholdMin);
        for (int row : {1, 2, 3, 5}) EXPECT_EQ(U32(l[row].Min), r.CurrentMin);
        EXPECT_EQ(U32(l[4].Min), r.ImbalanceMin);
        for (int row = 0; row <= 5; ++row) EXPECT_EQ(U32(l[row].Max), r.CurrentMax);
        EXPECT_EQ(U32(l[6].Min), 1u);
        EXPECT_EQ(U32(l[6].Max), r.KtrMax);
    }
}

TEST(UstLimitsTest, CommonRows) {
    struct Row {
        int R;
        uint32_t Min, Max;
    };
    const Row rows[] = {{7, 5, 65000},  {8, 5, 65000},   {9, 5, 65000},   {10, 5, 65000}, {11, 5, 65000},
                        {12, 5, 65000}, {13, 15, 65000}, {14, 50, 65000}, {15, 0, 65000}, {16, 1, 250},
                        {17, 0, 1},     {18, 0, 1},      {19, 1, 255},    {21, 0, 65535}, {22, 5, 65000},
                        {23, 0, 25},    {24, 0, 3}};
    for (int m = 1; m < 8; ++m) {
        for (const Row& r : rows) {
            EXPECT_EQ(U32(UstLimits[m][r.R].Min), r.Min) << m << "/" << r.R;
            EXPECT_EQ(U32(UstLimits[m][r.R].Max), r.Max) << m << "/" << r.R;
        }
        EXPECT_EQ(UstLimits[m][20].Min, (TUstRaw{1, 1, 0}));
        EXPECT_EQ(UstLimits[m][20].Max, (TUstRaw{31, 12, 99}));
    }
    for (int row = 0; row < kUstCellCount; ++row) {
        if (row == 19 || row == 20) continue;
        EXPECT_EQ(UstLimits[0][row].Min, TUstRaw{}) << row;
        EXPECT_EQ(UstLimits[0][row].Max, TUstRaw{}) << row;
    }
    EXPECT_EQ(U32(UstLimits[0][19].Max), 255u);
    EXPECT_EQ(UstLimits[0][20].Min, (TUstRaw{1, 1, 0}));
    EXPECT_EQ(UstLimits[0][20].Max, (TUstRaw{1, 1, 0}));
    EXPECT_EQ(U32(UstCellLimits(0x01, 13, 1).Min), 0u);
    EXPECT_EQ(U32(UstCellLimits(0x01, 13, 1).Max), 65000u);
    EXPECT_EQ(U32(UstCellLimits(0x09, 13, 0).Min), 15u);
    EXPECT_EQ(U32(UstCellLimits(0xF9, 0, 0).Min), 50u);  // only bits 0-2 pick the model
    EXPECT_EQ(UstCellLimits(0x01, 25, 0).Max, TUstRaw{});
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
