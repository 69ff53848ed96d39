#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/foundation/NRDDecimalRounding.h"

using nrd::DecimalRound;
using nrd::DecimalRoundDouble;

TEST(NRDDecimalRounding, TenModes) {
  // Columns: modes 1..10 for each value at 0 digits.
  struct Row {
    double value;
    double expect[10];
  };
  const Row rows[] = {
      {2.5, {2, 3, 2, 2, 3, 2, 3, 2, 3, 2}},
      {3.5, {4, 4, 3, 3, 4, 3, 4, 3, 4, 4}},
      {-2.5, {-2, -2, -3, -2, -3, -3, -2, -2, -3, -2}},
      {2.4, {2, 2, 2, 2, 2, 2, 3, 2, 3, 2}},
      {-2.6, {-3, -3, -3, -3, -3, -3, -2, -2, -3, -3}},
      {7.0, {7, 7, 7, 7, 7, 7, 7, 7, 7, 7}},
  };
  for (const Row& r : rows)
    for (int mode = 1; mode <= 10; ++mode)
      EXPECT_EQ(static_cast<double>(DecimalRoundDouble(r.value, 0, static_cast<std::uint8_t>(mode))), r.expect[mode - 1])
          << r.value << " mode " << mode;
}

TEST(NRDDecimalRounding, DigitsAndRepresentationError) {
  EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRoundDouble(2.675, 2, 1)), 2.68);
  EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRoundDouble(1.005, 2, 5)), 1.01);
  EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRoundDouble(-1.005, 2, 5)), -1.01);
  EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRoundDouble(0.1 + 0.2, 1, 7)), 0.3);  // no spurious ceiling
  EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRoundDouble(1234.5, -2, 1)), 1200);
  EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRoundDouble(1250, -2, 1)), 1200);
  EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRoundDouble(1350, -2, 1)), 1400);
  EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRoundDouble(-1234.5, -2, 9)), -1300);
  EXPECT_EQ(DecimalRoundDouble(2.567, 1, 0), static_cast<long double>(2.567));  // mode 0
  EXPECT_TRUE(std::isnan(static_cast<double>(DecimalRoundDouble(NAN, 2, 1))));
  EXPECT_TRUE(std::isinf(static_cast<double>(DecimalRoundDouble(INFINITY, 2, 5))));
  // Digits beyond the exponent range; values integral beyond 2^63.
  EXPECT_EQ(DecimalRoundDouble(1.5, 6000, 1), 1.5L);
  EXPECT_EQ(DecimalRoundDouble(1.5, -6000, 1), 0.0L);
  EXPECT_EQ(DecimalRoundDouble(1e19, 0, 1), 1e19L);
  EXPECT_EQ(DecimalRoundDouble(-1e300, 2, 7), static_cast<long double>(-1e300));
  EXPECT_EQ(DecimalRoundDouble(1e300, -5, 1), static_cast<long double>(1e300));
  EXPECT_EQ(DecimalRound(1e4000L, 10, 0, 1), 1e4000L);
}
