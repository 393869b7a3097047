// Violation regions: vertex order and linking on small fixtures, and area
// and position against independent long double computations.
#include "geometry/violation_region.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "geometry/segment_geometry.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using test::ChainPoints;
using test::ExpectConsistent;
using test::ListGuard;
using test::RingPoints;
using test::ShoelaceArea2;
using LD = long double;

// The ring that starts at the vertex pushed first (the tail of the link
// chain when the list held nothing before).
std::vector<Point> FirstRing(const PSList& out) { return RingPoints(out.tail); }

TEST(ViolationRegion, SpaceRegionIsCounterClockwiseRing) {
  PSList out;
  ListGuard g{out};
  ASSERT_TRUE(BuildViolationRegion(Box(0, 0, 10, 0), Box(8, -3, 2, -3), 5, out, 1, 0));
  EXPECT_EQ(out.pointCount, 4);
  EXPECT_EQ(out.ringCount, 1);
  ExpectConsistent(out);
  const std::vector<Point> expect = {{2, -3}, {8, -3}, {8, 0}, {2, 0}};
  EXPECT_EQ(FirstRing(out), expect);
  // Pushed at the head in vertex order: the head is the last one added.
  EXPECT_EQ(Point(out.head->x, out.head->y), Point(2, 0));
  EXPECT_EQ(ShoelaceArea2(expect), 2 * 6 * 3);
}

TEST(ViolationRegion, WidthRegionWithNegativeDistance) {
  PSList out;
  ListGuard g{out};
  ASSERT_TRUE(BuildViolationRegion(Box(0, 0, 10, 0), Box(8, 3, 2, 3), -5, out, 1, 0));
  const std::vector<Point> expect = {{8, 3}, {2, 3}, {2, 0}, {8, 0}};
  EXPECT_EQ(FirstRing(out), expect);
  EXPECT_GT(ShoelaceArea2(expect), 0);
}

TEST(ViolationRegion, PartnerIsClippedToTheBandFirst) {
  PSList out;
  ListGuard g{out};
  ASSERT_TRUE(BuildViolationRegion(Box(0, 0, 10, 0), Box(12, -3, -2, -3), 5, out, 1, 0));
  const std::vector<Point> expect = {{0, -3}, {10, -3}, {10, 0}, {0, 0}};
  EXPECT_EQ(FirstRing(out), expect);
}

TEST(ViolationRegion, NoRegionOutsideTheBandOrAlongItsSides) {
  struct Case { Box partner; int32_t d; };
  const Case cases[] = {
      {{8, -7, 2, -7}, 5},     // beyond the band
      {{8, -5, 2, -5}, 5},     // on the band's far side: only touching
      {{8, 0, 2, 0}, 5},       // on the owner's own line
      {{8, 3, 2, 3}, 5},       // on the other side
      {{20, -3, 12, -3}, 5},   // past the owner's end
      {{8, -3, 2, -3}, 0},     // d = 0: empty band
  };
  for (const Case& c : cases) {
    PSList out;
    ListGuard g{out};
    EXPECT_FALSE(BuildViolationRegion(Box(0, 0, 10, 0), c.partner, c.d, out, 1, 1));
    EXPECT_EQ(out.pointCount, 0);
    EXPECT_EQ(out.ringCount, 0);
  }
}

TEST(ViolationRegion, OpenFormGivesTwoChains) {
  PSList out;
  ListGuard g{out};
  ASSERT_TRUE(BuildViolationRegion(Box(0, 0, 10, 0), Box(8, -3, 2, -3), 5, out, 0, 0));
  EXPECT_EQ(out.pointCount, 4);
  EXPECT_EQ(out.ringCount, 0);
  ExpectConsistent(out);
  // Vertices added (2,-3), (8,-3), (8,0), (2,0): the tail is the first.
  const std::vector<Point> first = {{2, -3}, {8, -3}};
  const std::vector<Point> second = {{8, 0}, {2, 0}};
  EXPECT_EQ(ChainPoints(out.tail), first);
  EXPECT_EQ(ChainPoints(out.head), second);
  EXPECT_EQ(out.head->next, nullptr);
  EXPECT_EQ(out.tail->prev, nullptr);
}

TEST(ViolationRegion, TwoWayPerpendicularBuildsOnlyTheForwardRegion) {
  PSList out;
  ListGuard g{out};
  ASSERT_TRUE(BuildViolationRegion(Box(0, 0, 10, 0), Box(5, -2, 5, -8), 5, out, 1, 1));
  EXPECT_EQ(out.pointCount, 4);
  EXPECT_EQ(out.ringCount, 1);
  const std::vector<Point> expect = {{5, -5}, {5, -2}, {5, 0}, {5, 0}};
  EXPECT_EQ(FirstRing(out), expect);
}

TEST(ViolationRegion, TwoWayBuildsBothRegionsOfConvergingEdges) {
  // A narrow wedge: owner along y = 0 eastward, partner coming back from
  // (100, -8) to (0, -2) (facing, not parallel). Each lies in the other's
  // band of 10.
  PSList out;
  ListGuard g{out};
  ASSERT_TRUE(BuildViolationRegion(Box(0, 0, 100, 0), Box(100, -8, 0, -2), 10, out, 1, 1));
  EXPECT_EQ(out.pointCount, 8);
  EXPECT_EQ(out.ringCount, 2);
  ExpectConsistent(out);
  // Both regions counter-clockwise and with the area of the trapezoid
  // between the two edges (100 long, gaps 2 and 8): 500, within rounding.
  std::vector<Point> forward = RingPoints(out.tail);
  std::vector<Point> reverse = RingPoints(out.head);
  EXPECT_EQ(ShoelaceArea2(forward), 2 * 500);
  LD reverseArea = LD(ShoelaceArea2(reverse)) / 2;
  EXPECT_GT(reverseArea, 0);
  EXPECT_NEAR(double(reverseArea), 500.0, 10.0);
  // Parallel segments never build a reverse region.
  PSList par;
  ListGuard gp{par};
  ASSERT_TRUE(BuildViolationRegion(Box(0, 0, 100, 0), Box(100, -3, 0, -3), 10, par, 1, 1));
  EXPECT_EQ(par.pointCount, 4);
  EXPECT_EQ(par.ringCount, 1);
}

TEST(ViolationRegion, SameDirectionPartnerGivesMirroredOrder) {
  PSList out;
  ListGuard g{out};
  ASSERT_TRUE(BuildViolationRegion(Box(0, 0, 10, 0), Box(2, -3, 8, -3), 5, out, 1, 0));
  EXPECT_LT(ShoelaceArea2(FirstRing(out)), 0);
}

// Facing oblique edges: owner from A to B, partner the owner moved sideways
// by g (to its right for d > 0, left for d < 0), reversed, and slid along by
// an offset. The region is the overlap of the partner's projection with the
// owner times the gap; checked against long double geometry.
TEST(ViolationRegion, ObliqueFacingEdgesAreaMatchesGeometry) {
  std::mt19937 rng(31337);
  std::uniform_int_distribution<int32_t> coord(-20000, 20000);
  std::uniform_int_distribution<int32_t> gapDist(3, 60);
  int built = 0;
  for (int i = 0; i < 2000; ++i) {
    Box owner(coord(rng), coord(rng), coord(rng), coord(rng));
    LD dx = owner.x2 - owner.x1, dy = owner.y2 - owner.y1;
    LD len = std::sqrt(dx * dx + dy * dy);
    if (len < 200) continue;
    int32_t gap = gapDist(rng);
    int32_t d = (i % 2) ? 100 : -100;
    int sign = d > 0 ? 1 : -1;
    // Unit normal to the right: (dy, -dx) / len.
    LD nx = dy / len * sign, ny = -dx / len * sign;
    LD slide = std::uniform_real_distribution<double>(-0.8, 0.8)(rng) * len;
    LD ux = dx / len, uy = dy / len;
    auto at = [&](LD t, LD off) {
      return Point(int32_t(std::llround(owner.x1 + ux * t + nx * off)),
                   int32_t(std::llround(owner.y1 + uy * t + ny * off)));
    };
    Point ps = at(len + slide, gap), pe = at(slide, gap);
    Box partner(ps.x, ps.y, pe.x, pe.y);
    PSList out;
    ListGuard g{out};
    bool made = BuildViolationRegion(owner, partner, d, out, 1, 0);
    LD overlap = std::min(len, len + slide) - std::max(LD(0), slide);
    if (overlap < 5) continue;  // rounding decides near-empty overlaps
    ASSERT_TRUE(made) << i;
    ++built;
    ASSERT_EQ(out.pointCount, 4);
    std::vector<Point> ring = FirstRing(out);
    LD area = LD(ShoelaceArea2(ring)) / 2;
    // Facing partner: counter-clockwise for either side.
    ASSERT_GT(area, 0) << i;
    // Exact region area is overlap * gap; the integer rounding of the
    // partner, the band and the feet moves each side by about a unit.
    LD expect = overlap * gap;
    ASSERT_NEAR(double(area), double(expect), double(2 * overlap + 4 * gap + 8)) << i;
    // Every vertex lies in the closed band (within rounding).
    for (const Point& p : ring) {
      LD sd = SignedDistance(owner, p.x, p.y) * sign;
      ASSERT_GE(sd, -1.0L) << i;
      ASSERT_LE(sd, gap + 1.5L) << i;
    }
  }
  EXPECT_GT(built, 500);
}

TEST(ViolationRegion, AxisParallelAreasAreExact) {
  // Facing horizontal and vertical edges: the region is the overlap
  // rectangle, exactly.
  struct Case { Box owner, partner; int32_t d; int64_t area; };
  const Case cases[] = {
      {{0, 0, 100, 0}, {150, -7, 40, -7}, 10, 60 * 7},
      {{0, 0, 0, 100}, {7, 120, 7, -20}, 10, 100 * 7},   // right of northward = east
      {{100, 0, 0, 0}, {-5, 4, 30, 4}, 10, 30 * 4},     // right of westward = north
      {{0, 0, 100, 0}, {80, 9, 20, 9}, -10, 60 * 9},     // WIDTH: left side
  };
  for (const Case& c : cases) {
    PSList out;
    ListGuard g{out};
    ASSERT_TRUE(BuildViolationRegion(c.owner, c.partner, c.d, out, 1, 0));
    EXPECT_EQ(ShoelaceArea2(FirstRing(out)), 2 * c.area);
  }
}

TEST(ViolationRegion, AppendsBehindExistingRings) {
  PSList out;
  ListGuard g{out};
  BoxToRing(out, Box(100, 100, 110, 110), false);
  ASSERT_TRUE(BuildViolationRegion(Box(0, 0, 10, 0), Box(8, -3, 2, -3), 5, out, 1, 0));
  EXPECT_EQ(out.pointCount, 8);
  EXPECT_EQ(out.ringCount, 2);
  ExpectConsistent(out);
  for (const PSPoint* p = out.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
}

// The region is decided by the clipping of the partner to the band, also
// when a quick look at the two bounding boxes settles it: on random short
// segments at any angle (many pairs near each other, many apart), in both
// band directions and both twoWay modes, a region is built exactly when
// the clipping keeps a piece of the partner in the owner's band (or, two
// ways, of the owner in the partner's), with the clipped piece's ends.
TEST(ViolationRegion, BuiltExactlyWhenTheClippingKeepsAPiece) {
  std::mt19937 rng(0x7e91);
  std::uniform_int_distribution<int32_t> pos(-40, 40), step(-25, 25), dist(1, 20);
  auto seg = [&] {
    const int32_t x = pos(rng), y = pos(rng);
    switch (rng() % 3) {
      case 0: return Box(x, y, x + step(rng), y);
      case 1: return Box(x, y, x, y + step(rng));
      default: return Box(x, y, x + step(rng), y + step(rng));
    }
  };
  auto keeps = [](const Box& owner, const Box& partner, int32_t d) {
    Box piece = partner;
    return ClipSegmentToQuad(SegmentBand(owner, d), piece);
  };
  int built = 0, apart = 0;
  for (int i = 0; i < 20000; ++i) {
    const Box owner = seg(), partner = seg();
    const int32_t d = (rng() & 1) ? dist(rng) : -dist(rng);
    const int twoWay = int(rng() & 1);
    PSList out;
    ListGuard g{out};
    const bool made = BuildViolationRegion(owner, partner, d, out, 1, twoWay);
    const bool one = keeps(owner, partner, d);
    const __int128 cross =
        __int128(int64_t(owner.y2) - owner.y1) * (int64_t(partner.x2) - partner.x1) -
        __int128(int64_t(owner.x2) - owner.x1) * (int64_t(partner.y2) - partner.y1);
    const bool other = twoWay && cross != 0 && keeps(partner, owner, d);
    ASSERT_EQ(made, one || other) << i;
    ASSERT_EQ(out.ringCount, int(one) + int(other)) << i;
    if (one) {
      // The first region starts with the clipped piece's ends.
      Box piece = partner;
      ClipSegmentToQuad(SegmentBand(owner, d), piece);
      const std::vector<Point> r = RingPoints(out.tail);
      ASSERT_EQ(r.size(), 4u);
      const Point a(piece.x1, piece.y1), b(piece.x2, piece.y2);
      EXPECT_TRUE((r[0] == a && r[1] == b) || (r[0] == b && r[1] == a)) << i;
    }
    built += made;
    apart += !made;
  }
  EXPECT_GT(built, 500);
  EXPECT_GT(apart, 1000);
}

}  // namespace
}  // namespace velmar
