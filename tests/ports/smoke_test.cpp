#include <gtest/gtest.h>
#include "ports/ProtoPort.h"
TEST(Smoke, NameId) { EXPECT_EQ(tovik::NameId("COM1"), 0x314D4F43); }
