#include "base/Assert.h"

#include <gtest/gtest.h>

#include <string>

namespace tovik {
namespace {

std::string g_report;
void Collect(const std::string& report) {
    g_report = report;
}

TEST(Assert, FailedCheckIsReportedThroughTheHookAndExecutionGoesOn) {
    SetAssertHook(&Collect);
    g_report.clear();
    const unsigned before = AssertionCount();
    int reached = 0;
    TOVIK_ASSERT(1 + 1 == 3);
    reached = 1;
    SetAssertHook(nullptr);
    EXPECT_EQ(reached, 1);
    EXPECT_EQ(AssertionCount(), before + 1);
    EXPECT_EQ(g_report.rfind("1 + 1 == 3 (", 0), 0u) << g_report;
    EXPECT_NE(g_report.find("assert_test.cpp, line "), std::string::npos) << g_report;
    EXPECT_NE(g_report.find(", address $"), std::string::npos) << g_report;
}

TEST(Assert, PassingCheckReportsNothing) {
    SetAssertHook(&Collect);
    g_report.clear();
    const unsigned before = AssertionCount();
    TOVIK_ASSERT(2 > 1);
    SetAssertHook(nullptr);
    EXPECT_EQ(AssertionCount(), before);
    EXPECT_TRUE(g_report.empty());
}

TEST(Assert, ReportTextHasTheLineAndTheAddressInHex) {
    EXPECT_EQ(AssertionText("x", "f.cpp", 12, reinterpret_cast<const void*>(0x1001)),
              "x (f.cpp, line 12, address $1000)");
    EXPECT_EQ(AssertionText("x", "f.cpp", 1, nullptr), "x (f.cpp, line 1, address $0)");
}

}  // namespace
}  // namespace tovik
