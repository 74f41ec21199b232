// The current trend's store: bounded, placed in time by the millisecond
// clock, cut to a span, and written as CSV.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "panel/CurrentTrend.h"
#include "support/TimeZone.h"

namespace tovik {
namespace {

const TLocaleFormat kRu{",", ".", ":"};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(CurrentTrend, HoldsAFixedNumberOfSamplesNewestLast) {
    TCurrentTrend trend([] { return int64_t{1000000}; }, 100);
    for (uint32_t i = 0; i < 350; ++i) trend.Add(5000 + 100 * i, {double(i), 0, 0, 0});
    EXPECT_EQ(trend.Size(), 100u);
    EXPECT_EQ(trend.Capacity(), 100u);
    EXPECT_EQ(trend.Revision(), 350u);
    const auto all = trend.Samples(int64_t{1} << 40);
    ASSERT_EQ(all.size(), 100u);
    EXPECT_EQ(all.front().Amps[0], 250.0);
    EXPECT_EQ(all.back().Amps[0], 349.0);
    EXPECT_EQ(all.back().WallMs, 1000000 + 349 * 100);
    // The last 2 s: the newest sample and the 20 before it.
    const auto span = trend.Samples(2000);
    ASSERT_EQ(span.size(), 21u);
    EXPECT_EQ(span.front().Amps[0], 329.0);
    trend.Clear();
    EXPECT_EQ(trend.Size(), 0u);
    EXPECT_TRUE(trend.Samples(1000).empty());
}

TEST(CurrentTrend, TimeGoesOnAcrossTheClocksWrapAndNeverBack) {
    int calls = 0;
    TCurrentTrend trend([&] {
        ++calls;
        return int64_t{5000};
    });
    trend.Add(0xFFFFFF00u, {1, 1, 1, 0});
    trend.Add(0x00000100u, {2, 2, 2, 0});  // 512 ms later, across the wrap
    trend.Add(0x000000F0u, {3, 3, 3, 0});  // a reading that went backwards
    const auto s = trend.Samples(10000);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[1].WallMs, 5512);
    EXPECT_EQ(s[2].WallMs, 5512);
    EXPECT_EQ(calls, 1);  // the wall clock is read once
}

TEST(CurrentTrend, CsvForASpreadsheet) {
    const test::ScopedTimeZone utc("UTC0");
    TCurrentTrend trend([] { return int64_t{1772886005250}; });  // 7.03.2026 12:20:05,250 UTC
    trend.Add(100, {12.5, 12.25, 11.875, 0.625});
    trend.Add(350, {kNaN, kNaN, kNaN, kNaN});
    const std::string csv = TrendCsvText(trend.Samples(60000), kRu);
    EXPECT_EQ(csv,
              "\xEF\xBB\xBF"
              "Время;Ia, А;Ib, А;Ic, А;Di, А\r\n"
              "07.03.2026 12:20:05,250;12,500;12,250;11,875;0,625\r\n"
              "07.03.2026 12:20:05,500;;;;\r\n");
}

}  // namespace
}  // namespace tovik
