// Clamping to the coordinate range and rounding half away from zero at the
// edges that matter: the int32 limits, NaN, negative ties and the argument's
// own precision.
#include "foundation/rounding.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace velmar {
namespace {

TEST(Rounding, ClampToInt32HoldsBothOverloadsToTheRange) {
  struct Case { int64_t v; int32_t out; };
  const Case ints[] = {
      {0, 0}, {-7, -7}, {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN},
      {int64_t(INT32_MAX) + 1, INT32_MAX}, {int64_t(INT32_MIN) - 1, INT32_MIN},
      {INT64_MAX, INT32_MAX}, {INT64_MIN, INT32_MIN},
  };
  for (const Case& c : ints) EXPECT_EQ(ClampToInt32(c.v), c.out) << c.v;

  struct RealCase { long double v; int32_t out; };
  const RealCase reals[] = {
      {2.9L, 2}, {-2.9L, -2}, {4294967296.0L, INT32_MAX},
      {-4294967296.0L, INT32_MIN}, {std::numeric_limits<long double>::infinity(), INT32_MAX},
      {std::numeric_limits<long double>::quiet_NaN(), INT32_MIN},
  };
  for (const RealCase& c : reals) EXPECT_EQ(ClampToInt32(c.v), c.out) << double(c.v);
}

TEST(Rounding, RoundHalfAwayTakesTiesAwayFromZeroInItsOwnPrecision) {
  struct Case { double v; double out; };
  const Case cases[] = {
      {2.5, 3}, {-2.5, -3}, {0.5, 1}, {-0.5, -1}, {-0.3, 0}, {1.49, 1}, {-1.51, -2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundHalfAway(c.v), c.out) << c.v;
    EXPECT_EQ(RoundHalfAway((long double)c.v), (long double)c.out) << c.v;
  }
  // The largest double below one half: 0.5 + v rounds up to 1 in double
  // arithmetic, so the double form gives 1 where long double gives 0. The
  // callers pick the precision they were written for.
  const double below = std::nextafter(0.5, 0.0);
  EXPECT_EQ(RoundHalfAway(below), 1.0);
  EXPECT_EQ(RoundHalfAway((long double)below), 0.0L);
}

}  // namespace
}  // namespace velmar
