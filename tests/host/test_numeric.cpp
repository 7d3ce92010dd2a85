// Doubles into integers without undefined behaviour: saturating where the drive saturates,
// refused where only an exact whole number will do.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "host/zel_numeric.h"
#include "tests/support/non_finite.h"

namespace {

constexpr double k2Pow63 = 9223372036854775808.0;

TEST(SaturatingCast, TruncatesWithinRangeAndHoldsTheEnds) {
  using L = std::numeric_limits<long long>;
  const std::pair<double, long long> to_i64[] = {
      {3.9, 3},         {-3.9, -3},         {kNaN, 0},           {1e300, L::max()},
      {-1e300, L::min()}, {kInf, L::max()}, {-kInf, L::min()},   {k2Pow63, L::max()},
      {-k2Pow63, L::min()}, {5e-324, 0},    {9.2e18, 9200000000000000000LL}};
  for (const auto& [in, out] : to_i64) EXPECT_EQ(ZelSaturatingCast<long long>(in), out) << in;

  const std::pair<double, std::uint16_t> to_u16[] = {
      {-1.0, 0}, {65535.9, 65535}, {65536.0, 65535}, {1e9, 65535}, {kNaN, 0}};
  for (const auto& [in, out] : to_u16) EXPECT_EQ(ZelSaturatingCast<std::uint16_t>(in), out) << in;

  EXPECT_EQ(ZelSaturatingCast<std::int16_t>(-32769.0), -32768);
  EXPECT_EQ(ZelSaturatingRound<std::int16_t>(2.5), 3);
  EXPECT_EQ(ZelSaturatingRound<std::int16_t>(-2.5), -3);
  EXPECT_EQ(ZelSaturatingRound<std::uint32_t>(4294967295.4), 4294967295u);
}

TEST(ExactInteger, OnlyAWholeNumberThatTheTypeHolds) {
  EXPECT_EQ(ZelExactInteger<int>(7.0), 7);
  EXPECT_EQ(ZelExactInteger<int>(-2147483648.0), -2147483647 - 1);
  EXPECT_EQ(ZelExactInteger<std::uint16_t>(65535.0), 65535);
  for (double refused : {2.5, 2147483648.0, kNaN, kInf, -kInf, 5e-324})
    EXPECT_FALSE(ZelExactInteger<int>(refused).has_value()) << refused;
  EXPECT_FALSE(ZelExactInteger<std::uint16_t>(-1.0).has_value());
  EXPECT_FALSE(ZelExactInteger<long long>(k2Pow63).has_value());
}

}  // namespace
