#include "check/units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using igxl::add_unit;

TEST(AddUnit, PicksFirstThresholdReached) {
    EXPECT_EQ(add_unit(2.5e-9), "2.500n");
    EXPECT_EQ(add_unit(100000000), "100.000M");
    EXPECT_EQ(add_unit(1500), "1.500K");
    EXPECT_EQ(add_unit(0.25), "250.000m");
    EXPECT_EQ(add_unit(1.5), "1500.000m");  // no unit letter for 1
    EXPECT_EQ(add_unit(1e9), "1.000G");
    EXPECT_EQ(add_unit(1e-12), "1.000p");
    EXPECT_EQ(add_unit(1e-6), "1.000u");
    EXPECT_EQ(add_unit(999.9999), "999999.900m");
    EXPECT_EQ(add_unit(1e-8), "10.000n");
    EXPECT_EQ(add_unit(1 / (10 * 0.000000001)), "100.000M");
    EXPECT_EQ(add_unit(2.5e12), "2500.000G");
}

TEST(AddUnit, RoundsLikePrintf) {
    EXPECT_EQ(add_unit(2062.5), "2.062K");   // exact binary half: to even
    EXPECT_EQ(add_unit(2063.5), "2.063K");   // 2.0635 is stored just below the half
    EXPECT_EQ(add_unit(0.0009999999), "1000.000u");  // rounds up past the letter's range
}

TEST(AddUnit, NothingBelowPicoOrForNonPositive) {
    EXPECT_EQ(add_unit(0), std::nullopt);
    EXPECT_EQ(add_unit(-1.0), std::nullopt);
    EXPECT_EQ(add_unit(9.99e-13), std::nullopt);
    EXPECT_EQ(add_unit(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
}

TEST(AddUnit, HugeValuesAreWrittenInFull) {
    auto s = add_unit(1e300);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->size(), 292u + 4u + 1u);  // 1e291 has 292 digits, then ".000G"
    EXPECT_EQ(s->substr(s->size() - 5), ".000G");
}

}  // namespace
