#include "protocol/Codecs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tovik {
namespace {

const TLocaleFormat kRu{",", ".", ":"};
const TLocaleFormat kUs{".", "/", ":"};

// Every code: bits 0 to 6 pick the text, bit 7 never changes it.
TEST(EventTextTest, EveryCode) {
    const char* const texts[] = {
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
        "Cбой уставок",
        "Сбой калибровки",
        "Сбой журнала заданий",
        "Сбой счётчиков аварийных отключений",
        "Сбой журнала событий",
    };
    for (int code = 0; code < 256; ++code) {
        const int event = code & 0x7F;
        const std::string expected = event < 15 ? texts[event] : "Неизвестное событие";
        EXPECT_EQ(EventText(static_cast<uint8_t>(code)), expected) << code;
    }
    // The settings failure text starts with a Latin C, the calibration one with a Cyrillic С.
    EXPECT_EQ(EventText(10)[0], 'C');
    EXPECT_NE(EventText(11)[0], 'C');
}

TEST(StateTextTest, AllCodes) {
    const std::vector<std::string> texts = {
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
    for (int code = 0; code < 256; ++code) {
        const std::string expected = code < 20 ? texts[static_cast<size_t>(code)] : "Неизвестно";
        EXPECT_EQ(StateText(static_cast<uint8_t>(code)), expected) << code;
    }
}

TEST(ModelNameTest, Table) {
    struct Case {
        uint8_t Byte;
        uint8_t Kind;
        const char* Name;
    };
    const Case cases[] = {
        {0x1B, 0, "Товик-25-M4"},
        {0x1B, 1, "Товик-25-M4"},
        {0x1B, 2, "ТовикМ-25-M4"},
        {0x1B, 3, "ТовикМ-25-M4"},
        {0x1B, 4, ""},
        {0x1B, 255, ""},
        {0x01, 0, "Товик-5-M1"},
        {0x02, 0, "Товик-10-M1"},
        {0x04, 2, "ТовикМ-60-M1"},
        {0x05, 0, "Товик-125-M1"},
        {0x06, 0, "Товик-250-M1"},
        {0x3F, 0, "Товик-625-M8"},
        {0xC1, 0, "Товик-5-M1"},  // bits 6 and 7 unused
        {0x00, 0, ""},
        {0x38, 2, ""},
        {0xF8, 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ModelName(c.Byte, c.Kind), c.Name) << int(c.Byte) << "/" << int(c.Kind);
    // The "M" is Latin.
    EXPECT_NE(ModelName(0x1B, 0).find("-M4"), std::string::npos);
}

// Every model code and modification number, on every kind.
TEST(ModelNameTest, EveryModelAndModification) {
    const char* const currents[] = {"5", "10", "25", "60", "125", "250", "625"};
    for (int kind = 0; kind < 5; ++kind) {
        for (int byte = 0; byte < 256; ++byte) {
            const int m = byte & 7, k = (byte >> 3) & 7;
            std::string expected;
            if (kind < 4 && m != 0)
                expected = std::string(kind < 2 ? "Товик-" : "ТовикМ-") + currents[m - 1] + "-M" +
                           std::to_string(k + 1);
            EXPECT_EQ(ModelName(static_cast<uint8_t>(byte), static_cast<uint8_t>(kind)), expected)
                << byte << "/" << kind;
        }
    }
}

TEST(ModelDescriptionTest, FullTexts) {
    EXPECT_EQ(ModelDescription(0x01, 0),
              "Товик-5-M1\r\nНоминальный ток 5А.\r\nПороговая величина тока 0,1А\r\n"
              "Имеется возможность регулировки коэффициента трансформации.\r\n");
    EXPECT_EQ(ModelDescription(0x1B, 0),
              "Товик-25-M4\r\nНоминальный ток 25А.\r\nПороговая величина тока 0,4А\r\n"
              "Модификация с измерителем сопротивления изоляции.\r\n"
              "Модификация с интерфейсом с ПК.\r\n"
              "Модификация с возможностью аварийной сигнализации.\r\n");
    EXPECT_EQ(ModelDescription(0x07, 3),
              "ТовикМ-625-M1\r\nНоминальный ток 625А.\r\nПороговая величина тока 10А\r\n"
              "Модификация с интерфейсом с ПК.\r\nМодификация с дискретным входом.\r\n"
              "Модификация с аварийной сигнализацией.\r\n");
    EXPECT_EQ(ModelDescription(0x32, 1),  // m = 2, k = 6
              "Товик-10-M7\r\nНоминальный ток 10А.\r\nПороговая величина тока 0,2А\r\n"
              "Имеется возможность регулировки коэффициента трансформации.\r\n"
              "Модификация с возможностью интерфейса с ПК.\r\nМодификация с дискретным входом.\r\n"
              "Модификация с аварийной сигнализацией.\r\n");
    EXPECT_EQ(ModelDescription(0x00, 0), "Неизвестно");
    EXPECT_EQ(ModelDescription(0x38, 3), "Неизвестно");
    EXPECT_EQ(ModelDescription(0x00, 4), "");
    EXPECT_EQ(ModelDescription(0x1B, 4), "");
}

// Modification lines for every k, both families, in display order.
TEST(ModelDescriptionTest, ModificationLines) {
    const char* I = "Модификация с измерителем сопротивления изоляции.";
    const char* P = "Модификация с интерфейсом с ПК.";
    const char* PO = "Модификация с возможностью интерфейса с ПК.";
    const char* D = "Модификация с дискретным входом.";
    const char* S = "Модификация с предпусковой сигнализацией.";
    const char* A = "Модификация с аварийной сигнализацией.";
    const char* AO = "Модификация с возможностью аварийной сигнализации.";
    const std::vector<std::vector<const char*>> tovik = {
        {}, {I, AO}, {P, AO}, {I, P, AO}, {I, PO, D, AO}, {PO, D, S, AO}, {PO, D, A}, {I, PO, D, S},
    };
    const std::vector<std::vector<const char*>> tovikM = {
        {P, D, A}, {I, P, D, S}, {P, D, S}, {I, P, D, A}, {P, D}, {I, P, D}, {P, D}, {I, P, D},
    };
    const std::string head = "Номинальный ток 60А.\r\nПороговая величина тока 0,8А\r\n";
    for (uint8_t kind = 0; kind < 4; ++kind) {
        const auto& table = kind < 2 ? tovik : tovikM;
        for (uint8_t k = 0; k < 8; ++k) {
            uint8_t byte = static_cast<uint8_t>(4 | (k << 3));
            std::string expected = ModelName(byte, kind) + "\r\n" + head;
            for (const char* line : table[k]) expected += std::string(line) + "\r\n";
            EXPECT_EQ(ModelDescription(byte, kind), expected) << "kind " << int(kind) << " k " << int(k);
        }
    }
}

struct NumberCase {
    int P;
    int D;
    double V;
    const char* Ru;
    const char* Us;
};

TEST(FormatNumberTest, Examples) {
    const NumberCase cases[] = {
        {3, 2, 5.0, "5,00", "5.00"},
        {3, 2, 12.345, "12,3", "12.3"},
        {3, 3, 1234.5, "1230", "1230"},
        {10, 1, 5.0, "5,0", "5.0"},
        {3, 2, 0.5, "0,5", "0.5"},
        {3, 2, 0.0, "0,00", "0.00"},
        {10, 0, 100.0, "100", "100"},
        {3, 3, 50.0, "50,0", "50.0"},
        {3, 3, 5.0, "5,00", "5.00"},
        {3, 3, 1.5, "1,50", "1.50"},
        {3, 3, 0.2, "0,2", "0.2"},
        {3, 3, 0.05, "0,05", "0.05"},
        {3, 3, 6250.0, "6250", "6250"},
        {10, 1, 1234.5, "1234,5", "1234.5"},
        {10, 1, 1300.0, "1300,0", "1300.0"},
        {10, 1, 2.37, "2,4", "2.4"},
        {3, 2, 9.996, "10,0", "10.0"},  // carry adds a digit
        {3, 2, 99.96, "100", "100"},    // carry reaches the precision
        {3, 2, 0.006, "0,01", "0.01"},  // rounds up into the last decimal
        {3, 2, 2.345, "2,35", "2.35"},  // a half rounds up as typed
        {10, 0, 39.9999994, "40", "40"},
        {10, 0, 0.4, "0", "0"},
        {3, 2, -5.0, "-5,00", "-5.00"},
        {3, 2, 0.004, "0,00", "0.00"},   // rounds to zero: no dangling separator
        {3, 2, -0.5, "-0,5", "-0.5"},    // keeps its own magnitude
        {3, 2, -0.001, "0,00", "0.00"},  // no sign on a zero
        {10, 0, -0.4, "0", "0"},
        {10, 8, 0.0000005, "0,0000005", "0.0000005"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatNumber(c.V, c.P, c.D, kRu), c.Ru) << c.P << "," << c.D << "," << c.V;
        EXPECT_EQ(FormatNumber(c.V, c.P, c.D, kUs), c.Us) << c.P << "," << c.D << "," << c.V;
    }
}

TEST(FormatNumberTest, MultiByteSeparatorCountsAsOneCharacter) {
    TLocaleFormat arabic{"٫", "/", ":"};
    EXPECT_EQ(FormatNumber(5.0, 3, 2, arabic), "5٫00");
    EXPECT_EQ(FormatNumber(12.345, 3, 2, arabic), "12٫3");
}

TEST(FormatNumberTest, ExtremeInputs) {
    EXPECT_EQ(FormatNumber(std::numeric_limits<double>::quiet_NaN(), 3, 2, kRu), "Н/Д");
    EXPECT_EQ(FormatNumber(std::numeric_limits<double>::infinity(), 3, 2, kRu), "Н/Д");
    EXPECT_EQ(FormatNumber(-std::numeric_limits<double>::infinity(), 3, 2, kRu), "Н/Д");
    std::string big = FormatNumber(1e300, 10, 1, kRu);
    EXPECT_EQ(big.size(), 301u);
    EXPECT_EQ(big.substr(0, 2), "10");
    EXPECT_EQ(FormatNumber(std::numeric_limits<double>::max(), 3, 3, kRu).size(), 309u);
    EXPECT_EQ(FormatNumber(std::numeric_limits<double>::denorm_min(), 10, 3, kRu), "0,00");
    // Out-of-range precision and decimals are brought into range.
    EXPECT_EQ(FormatNumber(5.5, 0, 1, kRu), "6");
    EXPECT_EQ(FormatNumber(5.5, -7, -3, kRu), "6");
    EXPECT_FALSE(FormatNumber(1.0 / 3, 1000, 1000, kRu).empty());
    // An empty separator falls back to the default.
    EXPECT_EQ(FormatNumber(5.0, 3, 2, TLocaleFormat{"", "", ""}), "5,00");
}

TEST(ParseNumberTest, Valid) {
    const std::vector<std::pair<std::string, double>> ru = {
        {"5", 5},       {"  7,9 ", 7.9}, {"-1,5e2", -150}, {"+3", 3},          {",5", 0.5},
        {"5,", 5},      {"1E3", 1000},   {"2,5e-1", 0.25}, {"007", 7},         {"\t12\r\n", 12},
        {"0e99999", 0}, {"1e-99999", 0}, {"-0", 0},        {"1234,5", 1234.5},
    };
    for (const auto& [text, value] : ru) {
        auto v = ParseNumber(text, kRu);
        ASSERT_TRUE(v.has_value()) << text;
        EXPECT_DOUBLE_EQ(*v, value) << text;
    }
    auto v = ParseNumber("1234.5", kUs);
    ASSERT_TRUE(v.has_value());
    EXPECT_DOUBLE_EQ(*v, 1234.5);
    v = ParseNumber("3٫25", TLocaleFormat{"٫", "/", ":"});
    ASSERT_TRUE(v.has_value());
    EXPECT_DOUBLE_EQ(*v, 3.25);
}

TEST(ParseNumberTest, Rejected) {
    const char* ru[] = {
        "",    " ",   "abc", "1.5", "1,2,3", "1e",       "e5",    "-",      "+",
        ",",   "nan", "NaN", "inf", "-inf",  "infinity", "0x10",  "1 000",  "12 34",
        "5 А", "1e+", "--1", "+-1", "1e5.5", "١٢",       "1e400", "-1e400", "1e99999999999999999999999"};
    for (const char* text : ru) EXPECT_FALSE(ParseNumber(text, kRu).has_value()) << text;
    EXPECT_FALSE(ParseNumber("1,5", kUs).has_value());
    EXPECT_FALSE(ParseNumber(std::string(400, '9'), kRu).has_value());
    EXPECT_FALSE(ParseNumber(std::string("1\0", 2), kRu).has_value());
    // Huge but fine: 0,000...1 with a big exponent back into range.
    auto v = ParseNumber("0," + std::string(400, '0') + "1e402", kRu);
    ASSERT_TRUE(v.has_value());
    EXPECT_DOUBLE_EQ(*v, 10.0);
}

TEST(FormatDateTest, Texts) {
    EXPECT_EQ(FormatDate(TRawDate{7, 3, 26}, kRu), "7.03.2026");
    EXPECT_EQ(FormatDate(TRawDate{7, 3, 0}, kRu), "7.03.2000");
    EXPECT_EQ(FormatDate(TRawDate{31, 12, 255}, kRu), "31.12.2255");
    EXPECT_EQ(FormatDate(TRawDate{7, 3, 26}, kUs), "7/03/2026");
    EXPECT_EQ(FormatDate(TRawDate{255, 255, 255}, kRu), "255.255.2255");
    EXPECT_EQ(FormatDateTime(TRawDateTime{9, 5, 0, 7, 3, 26}, kRu), "7.03.2026 09:05:00");
    EXPECT_EQ(FormatDateTime(TRawDateTime{23, 59, 59, 31, 12, 99}, kUs), "31/12/2099 23:59:59");
    EXPECT_EQ(FormatDateTime(TRawDateTime{255, 255, 255, 0, 0, 0}, kRu), "0.00.2000 255:255:255");
    TLocaleFormat fi{",", ".", "."};
    EXPECT_EQ(FormatDateTime(TRawDateTime{9, 5, 30, 7, 3, 26}, fi), "7.03.2026 09.05.30");
}

// Day without a leading zero, month with two digits, "2" and the year byte
// with three, for every day, month and year byte; the same text reads back.
TEST(FormatDateTest, EveryDateReadsBack) {
    const TLocaleFormat multi{"\u066B", "\u2013", "\u02D0"};
    for (const TLocaleFormat* l : {&kRu, &kUs, &multi}) {
        const std::string& sep = l->DateSeparator;
        for (int year = 0; year < 256; ++year) {
            const int fullYear = 2000 + year;
            const bool leap = fullYear % 4 == 0 && (fullYear % 100 != 0 || fullYear % 400 == 0);
            const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
            for (int month = 1; month <= 12; ++month) {
                for (int day = 1; day <= 31; ++day) {
                    const TRawDate raw{static_cast<uint8_t>(day), static_cast<uint8_t>(month),
                                       static_cast<uint8_t>(year)};
                    const std::string text = FormatDate(raw, *l);
                    const std::string expected = std::to_string(day) + sep + (month < 10 ? "0" : "") +
                                                 std::to_string(month) + sep + std::to_string(fullYear);
                    ASSERT_EQ(text, expected);
                    if (day > days[month - 1]) continue;
                    const TDateParse p = ParseDate(text, {1, 1, 0}, {31, 12, 255}, *l);
                    ASSERT_TRUE(p.Valid) << text;
                    ASSERT_EQ(p.Raw, raw) << text;
                }
            }
        }
    }
}

// Two digits each for hour, minute and second, for every time of day; the
// same text reads back.
TEST(FormatDateTimeTest, EveryTimeOfDayReadsBack) {
    const TLocaleFormat fi{",", ".", "."};
    const TLocaleFormat multi{"\u066B", "\u2013", "\u02D0"};
    auto two = [](int v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    for (const TLocaleFormat* l : {&kRu, &fi, &multi}) {
        const std::string& sep = l->TimeSeparator;
        const std::string date = FormatDate(TRawDate{29, 2, 24}, *l);
        for (int h = 0; h < 24; ++h) {
            for (int m = 0; m < 60; ++m) {
                for (int s = 0; s < 60; ++s) {
                    const TRawDateTime raw{
                        static_cast<uint8_t>(h), static_cast<uint8_t>(m), static_cast<uint8_t>(s), 29, 2, 24};
                    const std::string text = FormatDateTime(raw, *l);
                    ASSERT_EQ(text, date + " " + two(h) + sep + two(m) + sep + two(s));
                    const TDateTimeParse p =
                        ParseDateTime(text, {0, 0, 0, 1, 1, 0}, {23, 59, 59, 31, 12, 255}, *l);
                    ASSERT_TRUE(p.Valid) << text;
                    ASSERT_EQ(p.Raw, raw) << text;
                }
            }
        }
    }
}

const TRawDate kDateMin{1, 1, 0};
const TRawDate kDateMax{31, 12, 99};

TEST(ParseDateTest, Table) {
    struct Case {
        const char* Text;
        TRawDate Raw;
        bool Valid;
    };
    const Case ru[] = {
        {"7.03.2026", {7, 3, 26}, true},
        {"05.03.2026", {5, 3, 26}, true},
        {"5.3.2026", {5, 3, 26}, true},
        {"31.13.2026", {31, 12, 26}, true},  // clamped
        {"0.0.2026", {1, 1, 26}, true},
        {"7,9.03.2026", {7, 3, 26}, true},  // truncated after clamping
        {"7.03.26", {7, 3, 26}, true},
        {"7.03.1999", {7, 3, 99}, true},  // 999 clamps to 99
        {" 7 . 03 . 2026 ", {7, 3, 26}, true},
        {"-5.-3.-2026", {1, 1, 26}, true},  // only the year's last three characters count
        {"7.3.x026", {7, 3, 26}, true},
        {"31.02.2026", {28, 2, 26}, true},  // no 31 February
        {"29.02.2026", {28, 2, 26}, true},
        {"29.02.2024", {29, 2, 24}, true},
        {"31.04.2026", {30, 4, 26}, true},
        {"29.02.2000", {29, 2, 0}, true},
        {"5/3/2026", {1, 1, 0}, false},
        {"", {1, 1, 0}, false},
        {"7.03", {1, 1, 0}, false},
        {"7.03.2026.1", {1, 1, 0}, false},
        {"a.b.c", {1, 1, 0}, false},
        {"7..2026", {1, 1, 0}, false},
        {"7.03.", {1, 1, 0}, false},
        {"7.3.20x6", {1, 1, 0}, false},
        {"7.03.2026 9:05:00", {1, 1, 0}, false},
        {"nan.inf.2026", {1, 1, 0}, false},
        {"1e999.1.2026", {1, 1, 0}, false},
        {"1e2.1.2026", {31, 1, 26}, true},
        {"7.03.2д26", {1, 1, 0}, false},
    };
    for (const Case& c : ru) {
        TDateParse p = ParseDate(c.Text, kDateMin, kDateMax, kRu);
        EXPECT_EQ(p.Raw, c.Raw) << c.Text;
        EXPECT_EQ(p.Valid, c.Valid) << c.Text;
    }
    TDateParse us = ParseDate("7/03/2026", kDateMin, kDateMax, kUs);
    EXPECT_TRUE(us.Valid);
    EXPECT_EQ(us.Raw, (TRawDate{7, 3, 26}));
    us = ParseDate("7.9/03/2026", kDateMin, kDateMax, kUs);
    EXPECT_EQ(us.Raw, (TRawDate{7, 3, 26}));
    us = ParseDate("7.03.2026", kDateMin, kDateMax, kUs);
    EXPECT_FALSE(us.Valid);
    EXPECT_EQ(us.Raw, kDateMin);
}

TEST(ParseDateTest, LimitsWin) {
    // A relay without a model pins the date to 1.01.2000.
    TDateParse p = ParseDate("31.12.2050", {1, 1, 0}, {1, 1, 0}, kRu);
    EXPECT_TRUE(p.Valid);
    EXPECT_EQ(p.Raw, (TRawDate{1, 1, 0}));
    // Crossed limits do not crash; the maximum wins.
    p = ParseDate("15.6.2030", {20, 10, 50}, {10, 5, 40}, kRu);
    EXPECT_EQ(p.Raw, (TRawDate{10, 5, 40}));
}

const TRawDateTime kDtMin{0, 0, 0, 1, 1, 0};
const TRawDateTime kDtMax{23, 59, 59, 31, 12, 255};

TEST(ParseDateTimeTest, Table) {
    struct Case {
        const char* Text;
        TRawDateTime Raw;
        bool Valid;
    };
    const Case ru[] = {
        {"7.03.2026 9:5:30", {9, 5, 30, 7, 3, 26}, true},
        {"07.03.2026 09:05:30", {9, 5, 30, 7, 3, 26}, true},
        {"7.03.26 9:05:30", {9, 5, 30, 7, 3, 26}, true},
        {"7.03.2255 23:59:59", {23, 59, 59, 7, 3, 255}, true},
        {"32.13.2026 24:60:61", {23, 59, 59, 31, 12, 26}, true},
        {"31.02.2026 0:0:0", {0, 0, 0, 28, 2, 26}, true},
        {"7.03.2026  9:05:30,7", {9, 5, 30, 7, 3, 26}, true},
        {"7.03.2026", kDtMin, false},
        {"7.03.2026 9:05", kDtMin, false},
        {"7.03.2026 9:05:30:00", kDtMin, false},
        {"7.03.20269:05:30", kDtMin, false},
        {"7.03:2026 9.05:30", kDtMin, false},
        {"7.03.2026 a:b:c", kDtMin, false},
        {"7.03.2026 9:05:", kDtMin, false},
        {"", kDtMin, false},
        {"..  ::", kDtMin, false},
        {"7/03/2026 9:05:30", kDtMin, false},
    };
    for (const Case& c : ru) {
        TDateTimeParse p = ParseDateTime(c.Text, kDtMin, kDtMax, kRu);
        EXPECT_EQ(p.Raw, c.Raw) << c.Text;
        EXPECT_EQ(p.Valid, c.Valid) << c.Text;
    }
    TDateTimeParse us = ParseDateTime("7/03/2026 9:05:30", kDtMin, kDtMax, kUs);
    EXPECT_TRUE(us.Valid);
    EXPECT_EQ(us.Raw, (TRawDateTime{9, 5, 30, 7, 3, 26}));
    // Date and time separated by the same character.
    TLocaleFormat fi{",", ".", "."};
    TDateTimeParse p = ParseDateTime("7.03.2026 9.05.30", kDtMin, kDtMax, fi);
    EXPECT_TRUE(p.Valid);
    EXPECT_EQ(p.Raw, (TRawDateTime{9, 5, 30, 7, 3, 26}));
    EXPECT_FALSE(ParseDateTime("7.03.2026 9.05", kDtMin, kDtMax, fi).Valid);
    EXPECT_FALSE(ParseDateTime("7.03.2026.9.05.30", kDtMin, kDtMax, fi).Valid);
}

TEST(ParseDateTimeTest, FormatRoundTrip) {
    for (const TLocaleFormat* l : {&kRu, &kUs}) {
        for (TRawDateTime raw : {TRawDateTime{0, 0, 0, 1, 1, 0}, TRawDateTime{23, 59, 59, 31, 12, 255},
                                 TRawDateTime{9, 5, 30, 29, 2, 24}}) {
            TDateTimeParse p = ParseDateTime(FormatDateTime(raw, *l), kDtMin, kDtMax, *l);
            EXPECT_TRUE(p.Valid);
            EXPECT_EQ(p.Raw, raw);
        }
    }
}

}  // namespace
}  // namespace tovik
