// The calibration file, the schedule of a run and the calibration tab's
// state, without a panel.
#include "panel/Calibration.h"

#include <gtest/gtest.h>

namespace tovik {
namespace {

const TLocaleFormat kRu{",", ".", ":"};

TCalFile Sample() {
    TCalFile file;
    file.Phases = {true, false, true};
    file.Points = {3, 2, 255};
    file.Texts = {std::vector<std::string>{"0,00", "5,00", "10,0"}, {"", "ток", "7"}, {"0,00", "", "Ёж"}};
    return file;
}

TEST(CalFile, LayoutByteForByteAndRoundTrip) {
    std::string bytes;
    std::string error;
    ASSERT_TRUE(EncodeCalFile(Sample(), bytes, error)) << error;
    // Counts, M, then length-prefixed Windows-1251 texts row by row.
    const std::string expected = std::string("\1\0\1\3\2\xFF\3", 7) +
                                 "\4"
                                 "0,00"
                                 "\4"
                                 "5,00"
                                 "\4"
                                 "10,0" +
                                 std::string("\0", 1) +
                                 "\3\xF2\xEE\xEA"
                                 "\1"
                                 "7"
                                 "\4"
                                 "0,00" +
                                 std::string("\0", 1) + "\2\xA8\xE6";
    EXPECT_EQ(bytes, expected);
    // 7 + 3 x M + the texts' lengths.
    EXPECT_EQ(bytes.size(), 7u + 3u * 3u + (4 + 4 + 4) + (0 + 3 + 1) + (4 + 0 + 2));
    TCalFile back;
    ASSERT_TRUE(DecodeCalFile(bytes, back, error)) << error;
    EXPECT_EQ(back.Phases, Sample().Phases);
    EXPECT_EQ(back.Points, Sample().Points);
    EXPECT_EQ(back.Texts, Sample().Texts);
    // Any non-zero choice byte chooses; M = 0 is a file of seven bytes.
    TCalFile empty;
    ASSERT_TRUE(DecodeCalFile(std::string("\7\0\0\2\2\2\0", 7), empty, error));
    EXPECT_EQ(empty.Phases, (std::array<bool, 3>{true, false, false}));
    EXPECT_TRUE(empty.Texts[0].empty());
}

TEST(CalFile, EveryFileThatEndsEarlyOrRunsOnIsRefusedAndChangesNothing) {
    std::string bytes;
    std::string error;
    ASSERT_TRUE(EncodeCalFile(Sample(), bytes, error));
    for (size_t size = 0; size < bytes.size(); ++size) {
        TCalFile file = Sample();
        file.Points[0] = 77;
        EXPECT_FALSE(DecodeCalFile(std::string_view(bytes).substr(0, size), file, error)) << size;
        EXPECT_EQ(error.rfind("файл короче своих данных", 0), 0u) << error;
        EXPECT_EQ(file.Points[0], 77) << size;
    }
    TCalFile file;
    EXPECT_FALSE(DecodeCalFile(bytes + std::string(1, '\0'), file, error));
    EXPECT_EQ(error, "файл длиннее своих данных (38 байт данных, в файле 39)");
    EXPECT_TRUE(file.Texts[0].empty());
}

TEST(CalFile, TextsTheFileCannotHoldAreRefused) {
    TCalFile file = Sample();
    std::string bytes = "unchanged";
    std::string error;
    file.Texts[2][1] = std::string(256, 'x');
    EXPECT_FALSE(EncodeCalFile(file, bytes, error));
    EXPECT_EQ(error, "точка 2 фазы C: текст длиннее 255 символов");
    file.Texts[2][1] = std::string(255, 'x');
    EXPECT_TRUE(EncodeCalFile(file, bytes, error));
    file.Texts[0][0] = "5 €";  // the euro sign is in Windows-1251
    EXPECT_TRUE(EncodeCalFile(file, bytes, error));
    file.Texts[0][0] = "5 ✓";
    bytes = "unchanged";
    EXPECT_FALSE(EncodeCalFile(file, bytes, error));
    EXPECT_EQ(error, "точка 1 фазы A: символ, которого нет в кодировке Windows-1251");
    EXPECT_EQ(bytes, "unchanged");
    // The byte Windows-1251 leaves undefined loads as a mark the start refuses.
    TCalFile loaded;
    ASSERT_TRUE(DecodeCalFile(std::string("\1\0\0\2\2\2\1\1\x98\0\0", 11), loaded, error)) << error;
    EXPECT_EQ(loaded.Texts[0][0], "\xEF\xBF\xBD");
}

TEST(CalSchedule, CurrentsOnceAscendingWithEachPhasesPositions) {
    const TCalibrationSchedule schedule = BuildCalibrationSchedule({{{0, 5, 10}, {0, 7}, {}}});
    ASSERT_EQ(schedule.size(), 4u);
    EXPECT_EQ(schedule[0], (TCalScheduleEntry{0, {0, 0, -1}}));
    EXPECT_EQ(schedule[1], (TCalScheduleEntry{5, {1, -1, -1}}));
    EXPECT_EQ(schedule[2], (TCalScheduleEntry{7, {-1, 1, -1}}));
    EXPECT_EQ(schedule[3], (TCalScheduleEntry{10, {2, -1, -1}}));
    // Phase C's points come first in the schedule when they are smaller.
    const TCalibrationSchedule mixed = BuildCalibrationSchedule({{{0, 20}, {0, 20}, {0, 0.5f, 20}}});
    ASSERT_EQ(mixed.size(), 3u);
    EXPECT_EQ(mixed[1], (TCalScheduleEntry{0.5f, {-1, -1, 1}}));
    EXPECT_EQ(mixed[2], (TCalScheduleEntry{20, {1, 1, 2}}));
}

TEST(CalCurrents, ReadAndNormalised) {
    EXPECT_EQ(ReadPhaseCurrents({"0,00", "2,5", "100"}, 3, kRu), (std::vector<float>{0, 2.5f, 100}));
    EXPECT_EQ(ReadPhaseCurrents({"0,00", "2,5", "x"}, 2, kRu), (std::vector<float>{0, 2.5f}));  // beyond n
    EXPECT_FALSE(ReadPhaseCurrents({"0,00", "2,5", ""}, 3, kRu));
    EXPECT_FALSE(ReadPhaseCurrents({"0,00", "2.5"}, 2, kRu));  // the locale's separator only
    EXPECT_FALSE(ReadPhaseCurrents({"0,00", "0"}, 2, kRu));    // not rising
    EXPECT_FALSE(ReadPhaseCurrents({"0,00", "-1"}, 2, kRu));
    EXPECT_FALSE(ReadPhaseCurrents({"0,00"}, 2, kRu));  // a point the grid does not have
    EXPECT_EQ(NormaliseCalCurrent("2,567", kRu), "2,57");
    EXPECT_EQ(NormaliseCalCurrent("20000", kRu), NormaliseCalCurrent("9999", kRu));  // held at 9999 A
    EXPECT_FALSE(NormaliseCalCurrent("", kRu));
    EXPECT_FALSE(NormaliseCalCurrent("2,5 A", kRu));
}

TEST(CalTab, PointsColumnsAndFileEntries) {
    TCalibration cal(kRu);
    EXPECT_EQ(cal.Columns(), 3u);
    EXPECT_EQ(cal.PointsMax(), 2);
    EXPECT_EQ(cal.StepInfo(), "Готово");
    cal.OnInfo(6);
    EXPECT_EQ(cal.Columns(), 7u);
    cal.SetChecked(1, true);
    cal.SetPoints(1, 9);
    EXPECT_EQ(cal.Points(1), 6);
    cal.SetCellText(2, 6, "3");
    // Fewer points later: the spin boxes and the grid follow.
    cal.OnInfo(3);
    EXPECT_EQ(cal.Points(1), 3);
    EXPECT_EQ(cal.Columns(), 4u);
    // A file with M = 5 into a grid of 4 columns: columns 1 to 3 filled.
    TCalFile file;
    file.Phases = {false, true, false};
    file.Points = {0, 200, 2};
    file.Texts = {std::vector<std::string>{"a", "b", "c", "d", "e"},
                  {"0,00", "1", "2", "3", "4"},
                  {"", "", "", "", ""}};
    cal.Apply(file);
    EXPECT_EQ(cal.Grid()[2], (TTextRow{"B", "0,00", "1", "2"}));
    EXPECT_EQ(cal.Grid()[1], (TTextRow{"A", "a", "b", "c"}));
    EXPECT_EQ(cal.Points(0), 2);
    EXPECT_EQ(cal.Points(1), 3);
    EXPECT_FALSE(cal.GridEnabled() && !cal.Checked(1));
    // The file saved again holds what the grid has.
    const TCalFile saved = cal.ToFile();
    EXPECT_EQ(saved.Texts[1], (std::vector<std::string>{"0,00", "1", "2"}));
    EXPECT_EQ(saved.Points, (std::array<uint8_t, 3>{2, 3, 2}));
    // A relay with no more than one point: nothing can be started.
    cal.OnInfo(1);
    EXPECT_EQ(cal.Columns(), 2u);
    EXPECT_EQ(cal.PointsMax(), 2);
    EXPECT_EQ(cal.Start(), CalPhaseErrorText(1));
}

}  // namespace
}  // namespace tovik
