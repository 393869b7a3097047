// Segment geometry: crossings, interpolation, clipping, shifting and
// circles, checked against hand-derived values and against independent
// long double computations of the same definitions.
#include "geometry/segment_geometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <optional>
#include <random>
#include <vector>

#include "foundation/error.h"

namespace velmar {
namespace {

using LD = long double;

LD HalfUp(LD v) { return std::floor(v + 0.5L); }
LD Away(LD v) { return v < 0 ? std::trunc(v - 0.5L) : std::trunc(v + 0.5L); }

// ---------------------------------------------------------------------------
// Rounding rules

TEST(SegmentRounding, HalfUpAndAwayDifferOnNegativeTies) {
  struct Case { LD v; LD away; LD halfup; };
  const Case cases[] = {
      {2.5L, 3, 3}, {-2.5L, -3, -2}, {-0.5L, -1, 0}, {0.5L, 1, 1},
      {-0.3L, 0, 0}, {1.49L, 1, 1}, {-1.51L, -2, -2}, {0, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundHalfAway(c.v), c.away) << double(c.v);
    EXPECT_EQ(RoundHalfUp(c.v), c.halfup) << double(c.v);
  }
}

TEST(SegmentRounding, ToCoordRefusesValuesOutsideInt32) {
  EXPECT_EQ(ToCoord(int64_t(INT32_MAX)), INT32_MAX);
  EXPECT_EQ(ToCoord(int64_t(INT32_MIN)), INT32_MIN);
  EXPECT_THROW(ToCoord(int64_t(INT32_MAX) + 1), Error);
  EXPECT_THROW(ToCoord(LD(INT32_MIN) - 1), Error);
  EXPECT_THROW(ToCoord(LD(NAN)), Error);
}

// ---------------------------------------------------------------------------
// YAt

TEST(SegmentYAt, TableOfAbscissae) {
  struct Case { Box s; int32_t x; int32_t y; };
  const Case cases[] = {
      {{0, 0, 10, 5}, 3, 2},      // 1.5 rounds up
      {{0, 0, 10, 5}, 1, 1},      // 0.5 rounds up
      {{0, 0, 10, -5}, 3, -1},    // -1.5 half up is -1, not -2
      {{0, 0, 10, -5}, 1, 0},     // -0.5 half up is 0
      {{0, 0, 10, -5}, 9, -4},    // -4.5 -> -4
      {{10, 5, 0, 0}, 3, 2},      // direction does not matter
      {{0, 7, 10, 7}, 42, 7},     // horizontal: y1 anywhere
      {{0, 0, 10, 5}, 0, 0},      // at x1
      {{0, 0, 10, 5}, 10, 5},     // at x2
      {{3, 1, 3, 9}, 3, 1},       // vertical asked at x1
      {{0, 0, 3, 1}, 1, 0},       // 1/3
      {{0, 0, 3, 2}, 1, 1},       // 2/3
      {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, 0, 0},
      {{INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN}, 0, -1},  // exactly -1
  };
  for (const Case& c : cases) {
    EXPECT_EQ(YAt(c.s, c.x), c.y) << c.s.x1 << "," << c.s.y1 << " " << c.s.x2
                                 << "," << c.s.y2 << " at " << c.x;
  }
}

TEST(SegmentYAt, MatchesExactRationalOnRandomSegments) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int32_t> coord(-(1 << 30), 1 << 30);
  for (int i = 0; i < 20000; ++i) {
    Box s(coord(rng), coord(rng), coord(rng), coord(rng));
    if (s.x1 == s.x2) continue;
    int32_t lo = std::min(s.x1, s.x2), hi = std::max(s.x1, s.x2);
    int32_t x = std::uniform_int_distribution<int32_t>(lo, hi)(rng);
    // Numerator below 2^62 is exact in long double; one division rounds
    // correctly, so a true tie k + 1/2 stays a tie.
    LD num = LD(int64_t(s.y1) * (int64_t(s.x2) - s.x1) +
                (int64_t(s.y2) - s.y1) * (int64_t(x) - s.x1));
    LD expect = s.y1 == s.y2 ? s.y1 : HalfUp(num / LD(int64_t(s.x2) - s.x1));
    ASSERT_EQ(YAt(s, x), int32_t(expect)) << i;
  }
}

// ---------------------------------------------------------------------------
// SegmentCrossing

struct CrossCase {
  Box a, b;
  int result;
  int32_t x, y;
};

TEST(SegmentCrossing, TableOfCases) {
  const CrossCase cases[] = {
      {{0, 0, 10, 0}, {5, -5, 5, 5}, 1, 5, 0},
      {{0, 0, 10, 0}, {10, 0, 20, 0}, 0, 0, 0},     // collinear
      {{0, 0, 10, 0}, {11, -1, 11, 1}, -1, 0, 0},   // boxes apart
      {{0, 0, 10, 0}, {10, 0, 10, 5}, 1, 10, 0},    // touching at an end
      {{0, 0, 10, 0}, {3, 2, 7, 5}, -1, 0, 0},      // same side
      {{0, 0, 10, 10}, {0, 10, 10, 0}, 1, 5, 5},
      {{0, 0, 3, 1}, {0, 1, 3, 0}, 1, 2, 1},        // (1.5, 0.5) half up
      {{0, 0, -3, -1}, {0, -1, -3, 0}, 1, -1, 0},   // (-1.5, -0.5) half up
      {{0, 0, 10, 0}, {0, -1, 3, 2}, 1, 1, 0},      // A horizontal, B oblique
      {{0, 0, 0, 10}, {-1, 0, 2, 3}, 1, 0, 1},      // A vertical, B oblique
      {{0, 0, 0, 10}, {-2, 5, 2, 5}, 1, 0, 5},      // A vertical, B horizontal
      {{0, 0, 10, 10}, {3, 3, 20, 0}, 1, 3, 3},     // B's start on A
      {{0, 0, 4, 2}, {1, 0, 2, 3}, 1, 1, 1},        // (1.2, 0.6) -> (1, 1)
      {{0, 0, 4, 4}, {5, 5, 4, 0}, -1, 0, 0},       // B's start on A's line beyond A
      // Diagonals over the whole int32 range cross at (-0.5, -0.5): no
      // overflow, and half up gives (0, 0).
      {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
       {INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN}, 1, 0, 0},
  };
  for (const CrossCase& c : cases) {
    int32_t x = 12345, y = 12345;
    int r = SegmentCrossing(c.a, c.b, x, y);
    EXPECT_EQ(r, c.result) << c.a.x1 << "," << c.a.y1 << "-" << c.a.x2 << ","
                           << c.a.y2 << " x " << c.b.x1 << "," << c.b.y1 << "-"
                           << c.b.x2 << "," << c.b.y2;
    if (r == 1 && c.result == 1) {
      EXPECT_EQ(x, c.x);
      EXPECT_EQ(y, c.y);
    }
    if (r == 0) {
      EXPECT_EQ(x, 12345);  // collinear writes no point
    }
  }
}

// The definition computed independently in long double (exact for the
// coordinate range used: every product stays far below 2^64).
int OracleCrossing(const Box& a, const Box& b, int32_t& x, int32_t& y) {
  auto inBox = [](const Box& s, LD px, LD py, LD tol) {
    return px + tol >= std::min(s.x1, s.x2) && px - tol <= std::max(s.x1, s.x2) &&
           py + tol >= std::min(s.y1, s.y2) && py - tol <= std::max(s.y1, s.y2);
  };
  Box na = Normalized(a), nb = Normalized(b);
  if (na.x1 > nb.x2 || nb.x1 > na.x2 || na.y1 > nb.y2 || nb.y1 > na.y2) return -1;
  LD dax = a.x2 - a.x1, day = a.y2 - a.y1, dbx = b.x2 - b.x1, dby = b.y2 - b.y1;
  LD c1 = dax * (b.y1 - a.y1) - day * (b.x1 - a.x1);
  LD c2 = dax * (b.y2 - a.y1) - day * (b.x2 - a.x1);
  if (c1 == 0 && c2 == 0) return 0;
  if ((c1 == 0) != (c2 == 0)) {
    LD ex = c1 == 0 ? b.x1 : b.x2, ey = c1 == 0 ? b.y1 : b.y2;
    if (inBox(a, ex, ey, 0)) { x = int32_t(ex); y = int32_t(ey); return 1; }
  } else if ((c1 > 0) == (c2 > 0)) {
    return -1;
  }
  LD den = dbx * day - dby * dax;
  LD tn = (b.y1 - a.y1) * dbx - (b.x1 - a.x1) * dby;
  LD X = (a.x1 * den + dax * tn) / den, Y = (a.y1 * den + day * tn) / den;
  if (a.y1 == a.y2 || a.x1 == a.x2) {
    // Axis-parallel A: the rounded point is tested against the boxes.
    LD rx = a.y1 == a.y2 ? HalfUp(X) : a.x1, ry = a.y1 == a.y2 ? a.y1 : HalfUp(Y);
    if ((a.y1 == a.y2 && b.x1 == b.x2) || (a.x1 == a.x2 && b.y1 == b.y2)) {
      x = int32_t(rx); y = int32_t(ry); return 1;
    }
    if (!inBox(a, rx, ry, 0) || !inBox(b, rx, ry, 0)) return -1;
    x = int32_t(rx); y = int32_t(ry); return 1;
  }
  const LD tol = 1.1920928955078125e-07L;
  if (!inBox(a, X, Y, tol) || !inBox(b, X, Y, tol)) return -1;
  x = int32_t(HalfUp(X)); y = int32_t(HalfUp(Y));
  return 1;
}

TEST(SegmentCrossing, MatchesLongDoubleOracleOnRandomSegments) {
  std::mt19937 rng(777);
  std::uniform_int_distribution<int32_t> coord(-40, 40);
  int met = 0;
  for (int i = 0; i < 40000; ++i) {
    Box a(coord(rng), coord(rng), coord(rng), coord(rng));
    Box b(coord(rng), coord(rng), coord(rng), coord(rng));
    if (i % 5 == 0) b.y2 = b.y1;  // plenty of axis-parallel partners
    if (i % 7 == 0) a.x2 = a.x1;
    int32_t x = 0, y = 0, ox = 0, oy = 0;
    int r = SegmentCrossing(a, b, x, y);
    int o = OracleCrossing(a, b, ox, oy);
    ASSERT_EQ(r, o) << i;
    if (r == 1) {
      ++met;
      ASSERT_EQ(x, ox) << i;
      ASSERT_EQ(y, oy) << i;
    }
  }
  EXPECT_GT(met, 1000);
}

TEST(SegmentCrossing, ObliqueToleranceAcceptsOnlyTinyOvershoot) {
  // A oblique, B's crossing with A's line lies 1/den outside A's end. With a
  // small denominator that is far beyond 2^-23: no meeting.
  int32_t x, y;
  EXPECT_EQ(SegmentCrossing(Box(0, 0, 2, 1), Box(3, 0, 1, 3), x, y), -1);
  // Large coordinates: A from (0, 0) to (2^30, 2^30 - 1); the long, steep B
  // passes 1 / |B| from A's end point, so its line crosses A's line about
  // 4.7e-10 beyond that end: within the tolerance, the crossing is accepted
  // and rounded onto the end point. Mirrored, it crosses just before the
  // end, inside A.
  const int32_t m = 1 << 30;
  Box a(0, 0, m, m - 1);
  for (Box b : {Box(m - 1, 0, m + 1, 2147483645), Box(m + 1, 2147483645, m - 1, 0),
                Box(m - 1, 1, m + 1, 2147483646)}) {
    x = y = 0;
    ASSERT_EQ(SegmentCrossing(a, b, x, y), 1);
    EXPECT_EQ(x, m);
    EXPECT_EQ(y, m - 1);
  }
  // The same B against a shorter A (ending 1 unit earlier) misses.
  EXPECT_EQ(SegmentCrossing(Box(0, 0, m - 1, m - 2), Box(m - 1, 0, m + 1, 2147483645), x, y), -1);
}

// ---------------------------------------------------------------------------
// SegmentIntersect (lines)

TEST(SegmentIntersect, LinesCrossingPoint) {
  double x = -1, y = -1;
  ASSERT_TRUE(SegmentIntersect(Box(0, 0, 10, 0), Box(5, -3, 5, 7), x, y));
  EXPECT_EQ(x, 5.0);
  EXPECT_EQ(y, 0.0);
  x = y = -1;
  EXPECT_FALSE(SegmentIntersect(Box(0, 0, 10, 0), Box(0, 3, 10, 3), x, y));
  EXPECT_FALSE(SegmentIntersect(Box(0, 0, 4, 2), Box(1, 1, 9, 5), x, y));
  EXPECT_EQ(x, -1.0);  // untouched when parallel
  // Lines, not segments: the crossing may lie beyond both.
  ASSERT_TRUE(SegmentIntersect(Box(0, 0, 1, 1), Box(10, 0, 11, -1), x, y));
  EXPECT_DOUBLE_EQ(x, 5.0);
  EXPECT_DOUBLE_EQ(y, 5.0);
  // Non-integer point is not rounded.
  ASSERT_TRUE(SegmentIntersect(Box(0, 0, 3, 1), Box(0, 1, 3, 0), x, y));
  EXPECT_DOUBLE_EQ(x, 1.5);
  EXPECT_DOUBLE_EQ(y, 0.5);
  // A zero-length segment has no line: reported as parallel, never a NaN.
  EXPECT_FALSE(SegmentIntersect(Box(2, 2, 2, 2), Box(0, 0, 0, 9), x, y));
  // Large coordinates: the slope-intercept form would cancel badly.
  ASSERT_TRUE(SegmentIntersect(Box(2000000000, 2000000000, 2000000010, 2000000001), Box(2000000000, 2000000001, 2000000010,
                                        2000000000), x, y));
  EXPECT_DOUBLE_EQ(x, 2000000005.0);
  EXPECT_DOUBLE_EQ(y, 2000000000.5);
}

// ---------------------------------------------------------------------------
// Distances, feet, side

TEST(SegmentDistance, DistanceSquaredAndFoot) {
  Box s(0, 0, 10, 0);
  EXPECT_EQ(DistanceSquared(s, 5, 3), 9);
  EXPECT_EQ(DistanceSquared(s, 15, 3), 34);
  EXPECT_EQ(DistanceSquared(s, -5, 0), 25);
  EXPECT_EQ(DistanceSquared(Box(0, 0, 0, 10), 4, 12), 20);
  // Oblique: foot of (0, 10) on (0,0)-(10,10) is (5, 5).
  EXPECT_EQ(DistanceSquared(Box(0, 0, 10, 10), 0, 10), 50);
  // Foot rounding: (3, 0) on (0,0)-(4,2): t = 12/20, offsets 2.4, 1.2 -> (2, 1).
  EXPECT_EQ(SegmentFoot(Box(0, 0, 4, 2), 3, 0), Point(2, 1));
  // Away from zero: (-3, 0) on the same line: offsets -2.4, -1.2 -> (-2, -1);
  // (0, -5) on (0,0)-(2,2)... t = -10/8: offsets -2.5 -> -3 (not -2).
  EXPECT_EQ(SegmentFoot(Box(0, 0, 4, 2), -3, 0), Point(-2, -1));
  EXPECT_EQ(SegmentFoot(Box(0, 0, 2, 2), 0, -5), Point(-3, -3));
  // Squared distances beyond 2^53 are formed without overflow.
  LD far = DistanceSquared(Box(INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN + 1), INT32_MAX, INT32_MAX);
  LD span = LD(INT32_MAX) - INT32_MIN;
  EXPECT_EQ(far, span * span + (span - 1) * (span - 1));
}

TEST(SegmentDistance, ObliqueMatchesOracle) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int32_t> coord(-1000, 1000);
  for (int i = 0; i < 5000; ++i) {
    Box s(coord(rng), coord(rng), coord(rng), coord(rng));
    if (s.x1 == s.x2 || s.y1 == s.y2) continue;
    int32_t px = coord(rng), py = coord(rng);
    LD dx = s.x2 - s.x1, dy = s.y2 - s.y1;
    LD num = (LD(px) - s.x1) * dx + (LD(py) - s.y1) * dy, den = dx * dx + dy * dy;
    LD fx = s.x1 + Away(dx * num / den), fy = s.y1 + Away(dy * num / den);
    Point f = SegmentFoot(s, px, py);
    ASSERT_EQ(f.x, int32_t(fx)) << i;
    ASSERT_EQ(f.y, int32_t(fy)) << i;
    LD expect;
    if (fx >= std::min(s.x1, s.x2) && fx <= std::max(s.x1, s.x2) &&
        fy >= std::min(s.y1, s.y2) && fy <= std::max(s.y1, s.y2)) {
      expect = (px - fx) * (px - fx) + (py - fy) * (py - fy);
    } else {
      LD a = LD(px - s.x1) * (px - s.x1) + LD(py - s.y1) * (py - s.y1);
      LD b = LD(px - s.x2) * (px - s.x2) + LD(py - s.y2) * (py - s.y2);
      expect = std::min(a, b);
    }
    ASSERT_EQ(DistanceSquared(s, px, py), expect) << i;
    // Signed distance: right-hand side positive.
    LD sd = ((LD(px) - s.x1) * dy - (LD(py) - s.y1) * dx) / std::sqrt(den);
    ASSERT_NEAR(double(SignedDistance(s, px, py)), double(sd), 1e-9) << i;
  }
}

TEST(SegmentDistance, SignedDistanceAxisParallel) {
  EXPECT_EQ(SignedDistance(Box(0, 0, 10, 0), 3, -4), 4);   // right of eastward
  EXPECT_EQ(SignedDistance(Box(10, 0, 0, 0), 3, -4), -4);
  EXPECT_EQ(SignedDistance(Box(0, 0, 0, 10), 3, 4), 3);    // right of northward
  EXPECT_EQ(SignedDistance(Box(0, 10, 0, 0), 3, 4), -3);
  EXPECT_EQ(SignedDistance(Box(0, 0, 3, 4), 4, -3), 5);
  EXPECT_EQ(SignedDistance(Box(0, 0, 0, 0), 2, 7), 7);     // horizontal branch, dx = 0
}

TEST(SegmentDistance, Side) {
  Box s(0, 0, 10, 0);
  EXPECT_EQ(Side(s, Point(5, 3)), 1);    // left, projection before the end
  EXPECT_EQ(Side(s, Point(5, -3)), -1);
  EXPECT_EQ(Side(s, Point(5, 0)), 0);    // on the line
  EXPECT_EQ(Side(s, Point(10, 3)), 0);   // projection at the end
  EXPECT_EQ(Side(s, Point(12, 3)), 0);   // beyond the end
  EXPECT_EQ(Side(s, Point(-5, 3)), 1);   // the start is not tested
}

// ---------------------------------------------------------------------------
// Points along, beyond and beside

TEST(SegmentMoves, PointAlongAndOffsetPoint) {
  struct Case { Box s; int32_t d; Point along, beyondEnd, beforeStart; };
  const Case cases[] = {
      {{0, 0, 10, 0}, 3, {3, 0}, {13, 0}, {-3, 0}},
      {{10, 0, 0, 0}, 3, {7, 0}, {-3, 0}, {13, 0}},
      {{0, 0, 0, 10}, 3, {0, 3}, {0, 13}, {0, -3}},
      {{0, 10, 0, 0}, -3, {0, 13}, {0, 3}, {0, 7}},
      {{0, 0, 10, 10}, 10, {7, 7}, {17, 17}, {-7, -7}},
      {{0, 0, -10, -10}, 10, {-7, -7}, {-17, -17}, {7, 7}},
      {{0, 0, 10, -10}, 10, {7, -7}, {17, -17}, {-7, 7}},
      {{0, 0, 3, 4}, 5, {3, 4}, {6, 8}, {-3, -4}},
      {{0, 0, 3, 4}, 2, {1, 2}, {4, 6}, {-1, -2}},     // 1.2, 1.6
      {{0, 0, -3, -4}, 2, {-1, -2}, {-4, -6}, {1, 2}},  // away from zero
      // Zero length: PointAlong horizontal branch, OffsetPoint vertical.
      {{4, 4, 4, 4}, 2, {2, 4}, {4, 2}, {4, 6}},
  };
  for (const Case& c : cases) {
    Point p;
    PointAlong(c.s, c.d, p.x, p.y);
    EXPECT_EQ(p, c.along) << c.s.x1 << "," << c.s.y1 << "-" << c.s.x2 << "," << c.s.y2;
    OffsetPoint(c.s, c.d, true, p.x, p.y);
    EXPECT_EQ(p, c.beyondEnd) << c.s.x1 << "," << c.s.y1 << "-" << c.s.x2 << "," << c.s.y2;
    OffsetPoint(c.s, c.d, false, p.x, p.y);
    EXPECT_EQ(p, c.beforeStart) << c.s.x1 << "," << c.s.y1 << "-" << c.s.x2 << "," << c.s.y2;
  }
}

TEST(SegmentMoves, PointAlongObliqueMatchesOracle) {
  std::mt19937 rng(4242);
  std::uniform_int_distribution<int32_t> coord(-100000, 100000);
  std::uniform_int_distribution<int32_t> dist(-5000, 5000);
  for (int i = 0; i < 5000; ++i) {
    Box s(coord(rng), coord(rng), coord(rng), coord(rng));
    LD dx = s.x2 - s.x1, dy = s.y2 - s.y1;
    if (dx == 0 || dy == 0 || std::fabs(dx) == std::fabs(dy)) continue;
    int32_t d = dist(rng);
    LD len = std::sqrt(dx * dx + dy * dy);
    Point p;
    PointAlong(s, d, p.x, p.y);
    // Exactly on the rule: away(x1 + s dx). Allow only the tie-free result.
    ASSERT_EQ(p.x, int32_t(Away(s.x1 + d / len * dx))) << i;
    ASSERT_EQ(p.y, int32_t(Away(s.y1 + d / len * dy))) << i;
    // The point lies d from the start within rounding.
    LD got = std::hypot(LD(p.x - s.x1), LD(p.y - s.y1));
    ASSERT_LE(std::fabs(got - std::fabs(LD(d))), 1.0L) << i;
  }
}

TEST(SegmentMoves, LengthenTable) {
  struct Case { Box s; int32_t d; Box out; };
  const Case cases[] = {
      {{0, 0, 10, 0}, 2, {-2, 0, 12, 0}},
      {{10, 0, 0, 0}, 2, {12, 0, -2, 0}},
      {{0, 0, 0, 10}, 2, {0, -2, 0, 12}},
      {{0, 10, 0, 0}, 2, {0, 12, 0, -2}},
      {{5, 5, 5, 5}, 3, {5, 8, 5, 2}},          // zero length: vertical branch
      {{0, 0, 10, 10}, 10, {-7, -7, 17, 17}},
      {{0, 0, 10, -10}, 10, {-7, 7, 17, -17}},
      {{0, 0, 3, 4}, 5, {-3, -4, 6, 8}},
      {{0, 0, 3, 4}, -2, {1, 2, 2, 2}},          // shortening: mx = away(-1.2)
  };
  for (const Case& c : cases) {
    Box s = c.s;
    Lengthen(s, c.d);
    EXPECT_EQ(s, c.out) << c.s.x1 << "," << c.s.y1 << "-" << c.s.x2 << "," << c.s.y2;
  }
  Box edge(0, 0, INT32_MAX - 1, 0);
  EXPECT_THROW(Lengthen(edge, 5), Error);  // no silent wrap
}

TEST(SegmentMoves, ShiftPerpendicularTable) {
  struct Case { Box s; int32_t d; Box out; };
  const Case cases[] = {
      {{0, 0, 10, 0}, 5, {0, -5, 10, -5}},
      {{0, 0, 0, 10}, 5, {5, 0, 5, 10}},
      {{10, 0, 0, 0}, 5, {10, 5, 0, 5}},
      {{0, 10, 0, 0}, 5, {-5, 10, -5, 0}},
      {{0, 0, 3, 4}, 1, {1, -1, 4, 3}},        // (away(4/5), -away(3/5))
      {{0, 0, 3, 4}, 5, {4, -3, 7, 1}},
      {{0, 0, -3, -4}, 5, {-4, 3, -7, -1}},
      {{0, 0, 10, 10}, 10, {7, -7, 17, 3}},    // 45 degrees, general branch
  };
  for (const Case& c : cases) {
    Box s = c.s;
    ShiftPerpendicular(s, c.d);
    EXPECT_EQ(s, c.out) << c.s.x1 << "," << c.s.y1 << "-" << c.s.x2 << "," << c.s.y2;
    EXPECT_EQ(Shifted(c.s, c.d), c.out);
    // The shift moves to the right-hand side: the signed distance of the
    // shifted start from the original line has the sign of d.
    EXPECT_GT(SignedDistance(c.s, s.x1, s.y1) * c.d, 0);
  }
}

// The moves beside and beyond an oblique segment are defined in long double:
// len = sqrt(dx^2 + dy^2); the shift is (RoundHalfAway(dy d / len),
// RoundHalfAway(d dx / len)); the point beyond the end is
// RoundHalfAway(x2 + d / len * dx) (and so on). Whatever shortcut the
// library takes, it must give exactly these values, also where the value
// lies within a few units in the last place of a half-integer, where a
// double evaluation rounds the other way.
struct LongDoubleMoves {
  static LD RoundAway(LD v) { return v < 0 ? -std::floor(0.5L - v) : std::floor(v + 0.5L); }
  static LD Len(const Box& s) {
    LD dx = int64_t(s.x2) - s.x1, dy = int64_t(s.y2) - s.y1;
    return std::sqrt(dx * dx + dy * dy);
  }
  // Nothing when a coordinate leaves int32.
  static bool Fits(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }
  static std::optional<Box> Shift(const Box& s, int32_t d) {
    const int64_t dx = int64_t(s.x2) - s.x1, dy = int64_t(s.y2) - s.y1;
    const LD len = Len(s);
    const int64_t mx = int64_t(RoundAway(dy * (LD)d / len));
    const int64_t my = int64_t(RoundAway((LD)d * dx / len));
    const int64_t v[4] = {s.x1 + mx, s.y1 - my, s.x2 + mx, s.y2 - my};
    for (int64_t c : v) if (!Fits(c)) return std::nullopt;
    return Box(int32_t(v[0]), int32_t(v[1]), int32_t(v[2]), int32_t(v[3]));
  }
  static std::optional<Point> Offset(const Box& s, int32_t d, bool atEnd) {
    const int64_t dx = int64_t(s.x2) - s.x1, dy = int64_t(s.y2) - s.y1;
    const LD k = d / Len(s);
    const LD x = atEnd ? RoundAway(s.x2 + k * dx) : RoundAway(s.x1 - k * dx);
    const LD y = atEnd ? RoundAway(s.y2 + k * dy) : RoundAway(s.y1 - k * dy);
    if (!(x >= INT32_MIN && x <= INT32_MAX && y >= INT32_MIN && y <= INT32_MAX))
      return std::nullopt;
    return Point(int32_t(x), int32_t(y));
  }
  // Whether RoundHalfAway of the double evaluation of v = a * b / len
  // differs from the long double one: such a case needs the careful path.
  static bool DoubleDisagrees(int64_t a, int64_t b, const Box& s) {
    const double dx = double(int64_t(s.x2) - s.x1), dy = double(int64_t(s.y2) - s.y1);
    const double v = double(a) * double(b) / std::sqrt(dx * dx + dy * dy);
    const double r = v < 0 ? -std::floor(0.5 - v) : std::floor(v + 0.5);
    return LD(r) != RoundAway(LD(a) * LD(b) / Len(s));
  }
};

TEST(SegmentMoves, ObliqueMovesRoundAsInLongDouble) {
  struct Input { Box s; int32_t d; };
  std::vector<Input> inputs;
  // Every reflection of a segment and both signs of d, so that each sign
  // of each product is taken.
  auto add = [&](int64_t x0, int64_t y0, int64_t dx, int64_t dy, int64_t d) {
    for (int flip = 0; flip < 8; ++flip) {
      int64_t ex = (flip & 1) ? -dx : dx, ey = (flip & 2) ? -dy : dy;
      if (flip & 4) std::swap(ex, ey);
      const int64_t x2 = x0 + ex, y2 = y0 + ey;
      if (!LongDoubleMoves::Fits(x2) || !LongDoubleMoves::Fits(y2)) continue;
      if (ex == 0 || ey == 0 || !LongDoubleMoves::Fits(d) || !LongDoubleMoves::Fits(-d)) continue;
      const Box s{int32_t(x0), int32_t(y0), int32_t(x2), int32_t(y2)};
      inputs.push_back({s, int32_t(d)});
      inputs.push_back({s, int32_t(-d)});
    }
  };
  // Random segments, small and spanning the whole coordinate range, with
  // distances small and large.
  std::mt19937_64 rng(0xb0a7d);
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  std::uniform_int_distribution<int32_t> small(-3000, 3000);
  for (int i = 0; i < 20000; ++i) {
    const bool wide = i % 2 == 0;
    const int64_t x0 = wide ? any(rng) : small(rng), y0 = wide ? any(rng) : small(rng);
    const int64_t dx = wide ? int64_t(any(rng)) - x0 : small(rng);
    const int64_t dy = wide ? int64_t(any(rng)) - y0 : small(rng);
    const int64_t d = i % 3 == 0 ? any(rng) : small(rng);
    add(x0, y0, dx, dy, d);
  }
  // Near half-integers. dx = m dy and d = m^2 + j: d dx / len is
  // m^2 + j - 1/2 + (3/8 - j/2) / m^2 + ..., as close to a half-integer as
  // the last bits of a double (m near 2^13) or of a long double (m near
  // 46000); the point d beyond the end has the same term in x.
  for (int64_t m : {3000, 5000, 8191, 8192, 9000, 12000, 30000, 46000, 46340}) {
    for (int64_t k = 0; k < 40; ++k) {
      const int64_t mm = m + k, dy = 1 + (k % 4) * 37;
      for (int64_t j : {0, 1}) {
        add(0, 0, mm * dy, dy, mm * mm + j);
        add(INT32_MAX - mm * dy - 3, INT32_MIN + 1, mm * dy, dy, mm * mm + j);
      }
    }
  }
  // dy = 1, dx even and d = (2k + 1) dx / 2: dy d / len is
  // (k + 1/2)(1 - 1/(2 dx^2) + ...), which a double sees as the tie k + 1/2
  // for dx from about 2^27; beyond the end of a segment whose end lies far
  // out, even the long double sum x2 + (k + 1/2 - tiny) is the tie itself.
  for (int64_t dx : {int64_t(1) << 25, int64_t(1) << 26, int64_t(1) << 27,
                     int64_t(1) << 28, (int64_t(1) << 29) + 2, int64_t(1) << 30}) {
    for (int64_t k = 0; (2 * k + 1) * (dx / 2) <= INT32_MAX; ++k) {
      add(0, 0, dx, 1, (2 * k + 1) * (dx / 2));
      add(INT32_MIN + 2, (int64_t(1) << 30) + k, dx, 1, (2 * k + 1) * (dx / 2));
    }
  }

  int checked = 0, sharp = 0, ties = 0;
  for (const Input& in : inputs) {
    const Box& s = in.s;
    const int64_t dx = int64_t(s.x2) - s.x1, dy = int64_t(s.y2) - s.y1;
    if (LongDoubleMoves::DoubleDisagrees(dy, in.d, s) ||
        LongDoubleMoves::DoubleDisagrees(in.d, dx, s))
      ++sharp;
    const std::optional<Box> want = LongDoubleMoves::Shift(s, in.d);
    std::optional<Box> got;
    try {
      got = Shifted(s, in.d);
    } catch (const Error&) {
    }
    ASSERT_EQ(got, want) << s.x1 << "," << s.y1 << " -> " << s.x2 << "," << s.y2
                         << " d " << in.d;
    if (dx == dy || dx == -dy) continue;  // OffsetPoint has its own 45-degree rule
    for (bool atEnd : {true, false}) {
      const LD k = in.d / LongDoubleMoves::Len(s);
      const LD y = atEnd ? s.y2 + k * dy : s.y1 - k * dy;
      if (y - std::floor(y) == 0.5L) ++ties;
      const std::optional<Point> wantPoint = LongDoubleMoves::Offset(s, in.d, atEnd);
      std::optional<Point> gotPoint;
      try {
        Point p;
        OffsetPoint(s, in.d, atEnd, p.x, p.y);
        gotPoint = p;
      } catch (const Error&) {
      }
      ASSERT_EQ(gotPoint, wantPoint)
          << s.x1 << "," << s.y1 << " -> " << s.x2 << "," << s.y2 << " d "
          << in.d << (atEnd ? " beyond the end" : " before the start");
    }
    ++checked;
  }
  // The set holds values where a plain double evaluation rounds the other
  // way, and exact long double ties.
  EXPECT_GT(sharp, 1000);
  EXPECT_GT(ties, 10);
  EXPECT_GT(checked, 100000);
}

// ---------------------------------------------------------------------------
// Clipping to a window and to a quadrilateral

TEST(SegmentClip, MeetsBoxTable) {
  const Box w(0, 0, 10, 10);
  struct Case { Box s; bool meets; Box out; };
  const Case cases[] = {
      {{-5, 5, 15, 5}, true, {0, 5, 10, 5}},
      {{15, 5, -5, 5}, true, {10, 5, 0, 5}},
      {{0, -5, 0, 15}, false, {}},      // along the left side
      {{-5, -5, 0, 0}, false, {}},      // touches a corner
      {{2, 2, 3, 3}, true, {2, 2, 3, 3}},
      {{-5, 0, 15, 10}, true, {0, 3, 10, 8}},  // 2.5 -> 3, then 7.67 -> 8
      {{5, -5, 5, 15}, true, {5, 0, 5, 10}},
      {{5, 15, 5, -5}, true, {5, 10, 5, 0}},
      {{-5, 8, 8, 15}, false, {}},      // passes above the corner
      {{-4, 12, 12, -4}, true, {0, 8, 8, 0}},
      {{3, 10, 8, 10}, false, {}},      // on the top side
      {{20, 20, 30, 30}, false, {}},
  };
  for (const Case& c : cases) {
    Box s = c.s;
    bool r = MeetsBox(s, w);
    EXPECT_EQ(r, c.meets) << c.s.x1 << "," << c.s.y1 << "-" << c.s.x2 << "," << c.s.y2;
    if (r && c.meets) {
      EXPECT_EQ(s, c.out);
    }
  }
}

TEST(SegmentClip, QuadContains) {
  Quad q{{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
  EXPECT_EQ(q.Contains(5, 5), 2);
  EXPECT_EQ(q.Contains(10, 5), 1);
  EXPECT_EQ(q.Contains(0, 0), 1);
  EXPECT_EQ(q.Contains(11, 5), 0);
  EXPECT_EQ(q.Contains(5, -1), 0);
  Quad big{{{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MIN},
            {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MAX}}};
  EXPECT_EQ(big.Contains(0, 0), 2);                 // products beyond int64
  EXPECT_EQ(big.Contains(INT32_MAX, 0), 1);
}

TEST(SegmentClip, ClipSegmentToQuadTable) {
  const Quad sq{{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
  // Diamond, counter-clockwise.
  const Quad dia{{{0, -10}, {10, 0}, {0, 10}, {-10, 0}}};
  struct Case { Quad q; Box s; bool ok; Box out; };
  const Case cases[] = {
      {sq, {-5, 5, 15, 5}, true, {0, 5, 10, 5}},
      {sq, {15, 5, -5, 5}, true, {10, 5, 0, 5}},    // direction kept
      {sq, {2, 2, 8, 8}, true, {2, 2, 8, 8}},        // wholly inside
      {sq, {0, -5, 0, 15}, false, {0, -5, 0, 15}},   // along an edge line
      {sq, {5, 5, 5, 20}, true, {5, 5, 5, 10}},      // one end inside
      {sq, {5, 20, 5, 5}, true, {5, 10, 5, 5}},
      {sq, {20, 0, 30, 10}, false, {20, 0, 30, 10}}, // misses
      {sq, {10, 10, 15, 15}, false, {10, 10, 15, 15}},  // touches a corner
      {dia, {-20, 0, 20, 0}, true, {-10, 0, 10, 0}},    // through two vertices
      {dia, {-20, 3, 20, 3}, true, {-7, 3, 7, 3}},
      {dia, {-20, 1, 20, 2}, true, {-9, 1, 8, 2}},  // (-8.72, 1.28), (8.29, 1.71)
      // Through V0 and out through the opposite side: V0 is found by its
      // two edges; the true exit is kept (not replaced by V0 again).
      {sq, {-5, -5, 15, 15}, true, {0, 0, 10, 10}},
      {sq, {-1, -1, 20, 5}, true, {3, 0, 10, 2}},   // (2.5, 0) and (10, 2.14)
  };
  for (const Case& c : cases) {
    Box s = c.s;
    bool r = ClipSegmentToQuad(c.q, s);
    EXPECT_EQ(r, c.ok) << c.s.x1 << "," << c.s.y1 << "-" << c.s.x2 << "," << c.s.y2;
    EXPECT_EQ(s, c.out) << c.s.x1 << "," << c.s.y1 << "-" << c.s.x2 << "," << c.s.y2;
  }
}

TEST(SegmentClip, ClippedPieceLiesInsideAndOnTheSegment) {
  // Random oblique quads (bands of random segments) and random segments:
  // every clipped piece has its ends in the closed quad (within rounding)
  // and near the original segment's line, and keeps its direction.
  std::mt19937 rng(2024);
  std::uniform_int_distribution<int32_t> coord(-500, 500);
  std::uniform_int_distribution<int32_t> dist(5, 200);
  int clipped = 0;
  for (int i = 0; i < 5000; ++i) {
    Box e(coord(rng), coord(rng), coord(rng), coord(rng));
    if (e.x1 == e.x2 && e.y1 == e.y2) continue;
    int32_t d = dist(rng);
    Box sh = Shifted(e, d);
    Quad q{{{e.x2, e.y2}, {e.x1, e.y1}, {sh.x1, sh.y1}, {sh.x2, sh.y2}}};
    Box s(coord(rng), coord(rng), coord(rng), coord(rng));
    Box c = s;
    if (!ClipSegmentToQuad(q, c)) {
      EXPECT_EQ(c, s);
      continue;
    }
    ++clipped;
    for (Point p : {Point(c.x1, c.y1), Point(c.x2, c.y2)}) {
      // Distance from the segment's line at most a rounding step.
      LD dx = s.x2 - s.x1, dy = s.y2 - s.y1;
      LD off = std::fabs((LD(p.x) - s.x1) * dy - (LD(p.y) - s.y1) * dx) /
               std::sqrt(dx * dx + dy * dy);
      ASSERT_LE(off, 1.0L) << i;
      // Inside the quad up to rounding (of the point, and of the shifted
      // side, which lies up to 0.71 off the exact distance d).
      LD sd = SignedDistance(e, p.x, p.y);
      ASSERT_GE(sd, -1.0L) << i;
      ASSERT_LE(sd, d + 1.5L) << i;
    }
    // Direction kept.
    LD dot = LD(c.x2 - c.x1) * (s.x2 - s.x1) + LD(c.y2 - c.y1) * (s.y2 - s.y1);
    ASSERT_GT(dot, 0) << i;
  }
  EXPECT_GT(clipped, 200);
}

// ---------------------------------------------------------------------------
// Circle crossings

TEST(SegmentCircle, CircleCrossings) {
  int32_t xa, ya, xb, yb;
  ASSERT_EQ(CircleCrossings(Box(-10, 0, 10, 0), 0, 0, 5, xa, ya, xb, yb), 1);
  EXPECT_EQ(Point(xa, ya), Point(5, 0));
  EXPECT_EQ(Point(xb, yb), Point(-5, 0));
  EXPECT_EQ(CircleCrossings(Box(-10, 0, 10, 0), 0, 0, 0, xa, ya, xb, yb), 0);
  EXPECT_EQ(CircleCrossings(Box(-10, 5, 10, 5), 0, 0, 5, xa, ya, xb, yb), 0);  // tangent
  // Oblique line through the centre of a circle of radius 10 at (100, 200).
  ASSERT_EQ(CircleCrossings(Box(100, 200, 103, 204), 100, 200, 10, xa, ya, xb, yb), 1);
  EXPECT_EQ(Point(xa, ya), Point(106, 208));
  EXPECT_EQ(Point(xb, yb), Point(94, 192));
}

// ---------------------------------------------------------------------------
// Circles as polygons

TEST(SegmentCircle, RoundedVertexCounts) {
  const std::pair<int32_t, int32_t> cases[] = {
      {-5, 3}, {0, 3}, {2, 3}, {3, 3}, {4, 4}, {5, 6}, {7, 8}, {9, 12},
      {13, 16}, {17, 24}, {25, 32}, {32, 32}, {33, 48}, {65, 96}, {100, 128},
  };
  for (auto [n, count] : cases) EXPECT_EQ(RoundedCircleCount(n), count) << n;
  EXPECT_THROW(RoundedCircleCount(INT32_MAX), Error);
}

// Checks the polygon of a circle: the count, the start vertex, every vertex
// on the circle within rounding, and increasing polar angle (strictly unless
// repeated vertices are allowed): counter-clockwise and simple.
void CheckCirclePolygon(int32_t cx, int32_t cy, int32_t r, int32_t n,
                        int32_t expectCount, LD radialTolerance,
                        bool allowRepeats = false) {
  Circle c;
  c.cx = cx;
  c.cy = cy;
  c.radius = r;
  c.count = n;
  c.ToPolygon();
  ASSERT_EQ(c.count, expectCount);
  ASSERT_NE(c.vertices, nullptr);
  EXPECT_EQ(c.vertices[0], Point(cx + r, cy));
  LD prevAngle = -1;
  LD area2 = 0;
  for (int32_t i = 0; i < c.count; ++i) {
    const Point& p = c.vertices[i];
    const Point& q = c.vertices[(i + 1) % c.count];
    LD dist = std::hypot(LD(p.x - cx), LD(p.y - cy));
    EXPECT_NEAR(double(dist), r, double(radialTolerance)) << "vertex " << i;
    LD ang = std::atan2(LD(p.y - cy), LD(p.x - cx));
    if (ang < 0) ang += 2 * M_PIl;
    if (allowRepeats && i > 0 && p == c.vertices[i - 1]) continue;
    EXPECT_GT(ang, prevAngle) << "vertex " << i;
    prevAngle = ang;
    area2 += LD(p.x) * q.y - LD(q.x) * p.y;
  }
  EXPECT_GT(area2, 0);
}

TEST(SegmentCircle, ToPolygonShapes) {
  Circle four;
  four.radius = 100;
  four.count = 4;
  four.ToPolygon();
  ASSERT_EQ(four.count, 4);
  const Point expect[] = {{100, 0}, {0, 100}, {-100, 0}, {0, -100}};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(four.vertices[i], expect[i]);

  // Triangle seed: directions (-1, 2) and (-1, -2), 100 / sqrt(5) = 44.72.
  Circle tri;
  tri.radius = 100;
  tri.count = 3;
  tri.ToPolygon();
  ASSERT_EQ(tri.count, 3);
  EXPECT_EQ(tri.vertices[1], Point(-45, 89));
  EXPECT_EQ(tri.vertices[2], Point(-45, -89));

  CheckCirclePolygon(0, 0, 100, 32, 32, 1.0L);
  CheckCirclePolygon(1000, -2000, 5000, 6, 6, 1.0L);
  CheckCirclePolygon(-7, 3, 12345, 100, 128, 1.0L);
  CheckCirclePolygon(50, 50, 100000, 17, 24, 1.0L);
  // Each doubling inserts the point in the direction of the chord's
  // midpoint: count 8 from the square has the 45-degree points.
  Circle oct;
  oct.radius = 100;
  oct.count = 8;
  oct.ToPolygon();
  EXPECT_EQ(oct.vertices[1], Point(71, 71));
  EXPECT_EQ(oct.vertices[5], Point(-71, -71));
}

TEST(SegmentCircle, TinyRadiusStaysSimple) {
  // Radius 1: the shift midpoint of (1, 0) and (0, 1) is the centre itself;
  // the new vertex must still lie between its neighbours, not be thrown to
  // the far side of the circle. (Other shift midpoints of so small a circle
  // give repeated vertices, which simplification removes.)
  CheckCirclePolygon(0, 0, 1, 8, 8, 0.5L, true);
  CheckCirclePolygon(10, 10, 1, 8, 8, 0.5L, true);
  CheckCirclePolygon(-3, 7, 1, 16, 16, 0.5L, true);
}

}  // namespace
}  // namespace velmar
