// ENC sweep: enclosing rectangles each holding one enclosed rectangle with
// margins below, at and above the distance, zero, partly or wholly outside,
// against the facing pairs worked out side by side; fixtures for corners,
// coincident edges and the once-per-pair report of horizontal pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "geometry/point_list_order.h"
#include "geometry/space_sweep.h"
#include "support/boolean_oracle.h"
#include "support/distance_oracle.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using distance_oracle::Raster;
using distance_oracle::Rings;
using oracle::Rect;

// Runs the sweep on enclosed rectangles (layer 1) and enclosing ones
// (layer 2, flagged SecondLayer), each layer given non-overlapping.
Rings RunEnc(const std::vector<Box>& enclosed, const std::vector<Box>& enclosing, int32_t d,
             int kind, int32_t unit = 1) {
  ScratchList list, out;
  for (const Box& b : enclosing) BoxToRing(list.list, b, true);
  for (const Box& b : enclosed) BoxToRing(list.list, b, false);
  SortPoints(list.list, ComparePointLess);
  SweepEnc(list.list, out.list, d, unit, 1, kind);
  return oracle::ResultRings(out.list);
}

void PaintBox(Raster& r, const Box& b) {
  for (int32_t y = std::max(b.y1, r.y0); y < std::min(b.y2, r.y0 + r.h); ++y)
    for (int32_t x = std::max(b.x1, r.x0); x < std::min(b.x2, r.x0 + r.w); ++x) r.At(x, y) = 1;
}

// The cells ENC reports for one enclosed rectangle i in enclosing e, side
// by side: every side of i faces the same side of e across margin m over
// the stretch where both run; 0 < m < d gives the strip between them, a
// horizontal side lying on e's gives that side of i widened by one unit
// above and below, a vertical side lying on e's the stretch both run along
// widened by one unit to the left and right; a rectangle not wholly inside
// e is reported whole.
void ExpectedEnc(Raster& r, const Box& i, const Box& e, int32_t d) {
  if (!e.Contains(i)) PaintBox(r, i);
  const int32_t ylo = std::max(i.y1, e.y1), yhi = std::min(i.y2, e.y2);
  const int32_t xlo = std::max(i.x1, e.x1), xhi = std::min(i.x2, e.x2);
  auto between = [d](int32_t m) { return m > 0 && m < d; };
  if (yhi > ylo) {
    if (between(i.x1 - e.x1)) PaintBox(r, Box(e.x1, ylo, i.x1, yhi));
    if (between(e.x2 - i.x2)) PaintBox(r, Box(i.x2, ylo, e.x2, yhi));
    if (i.x1 == e.x1) PaintBox(r, Box(i.x1 - 1, ylo, i.x1 + 1, yhi));
    if (i.x2 == e.x2) PaintBox(r, Box(i.x2 - 1, ylo, i.x2 + 1, yhi));
  }
  if (xhi > xlo) {
    if (between(i.y1 - e.y1)) PaintBox(r, Box(xlo, e.y1, xhi, i.y1));
    if (between(e.y2 - i.y2)) PaintBox(r, Box(xlo, i.y2, xhi, e.y2));
    if (i.y1 == e.y1) PaintBox(r, Box(i.x1, i.y1 - 1, i.x2, i.y1 + 1));
    if (i.y2 == e.y2) PaintBox(r, Box(i.x1, i.y2 - 1, i.x2, i.y2 + 1));
  }
}

TEST(EncSweep, RandomEnclosuresMatchFacingPairs) {
  for (int seed = 0; seed < 200; ++seed) {
    std::mt19937 rng(seed);
    const int32_t d = 3 + seed % 6;
    const std::vector<int32_t> margins = {-25, -3, -1, 0, 1, d - 1, d, d + 1, d + 4};
    std::uniform_int_distribution<size_t> pick(0, margins.size() - 1);
    std::uniform_int_distribution<int32_t> side(24, 40);
    std::vector<Box> enclosed, enclosing;
    for (int k = 0; k < 6; ++k) {
      const int32_t ox = 100 * (k % 3), oy = 100 * (k / 3);
      const Box e(ox, oy, ox + side(rng), oy + side(rng));
      Box i(e.x1 + margins[pick(rng)], e.y1 + margins[pick(rng)], e.x2 - margins[pick(rng)],
            e.y2 - margins[pick(rng)]);
      if (rng() % 8 == 0) i = Box(e.x2 + d + 3, e.y1, e.x2 + d + 13, e.y1 + 10);  // outside
      if (i.x2 <= i.x1) i.x2 = i.x1 + 2;
      if (i.y2 <= i.y1) i.y2 = i.y1 + 2;
      enclosing.push_back(e);
      enclosed.push_back(i);
    }
    const Rings got = RunEnc(enclosed, enclosing, d, 2);
    Raster want(Box(-40, -40, 340, 240)), reported(Box(-40, -40, 340, 240));
    for (size_t k = 0; k < enclosed.size(); ++k) ExpectedEnc(want, enclosed[k], enclosing[k], d);
    distance_oracle::PaintUnion(reported, got);
    EXPECT_EQ(distance_oracle::RasterDiff(reported, want, [](int32_t, int32_t) { return true; }),
              "")
        << "seed " << seed << " d " << d;
  }
}

// One region per side for margins below the distance: the horizontal pairs,
// adjacent over many columns, are reported once.
TEST(EncSweep, EachPairOnce) {
  const Rings got = RunEnc({Box(2, 3, 40, 36)}, {Box(0, 0, 44, 40)}, 5, 2);
  ASSERT_EQ(got.size(), 4u);
  std::vector<Box> boxes;
  for (const auto& r : got) boxes.push_back(distance_oracle::BoundsOf({r}));
  std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
    return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
  });
  EXPECT_EQ(boxes, (std::vector<Box>{Box(0, 3, 2, 36), Box(2, 0, 40, 3), Box(2, 36, 40, 40),
                                     Box(40, 3, 44, 36)}));
  // Margins at the distance: nothing.
  EXPECT_TRUE(RunEnc({Box(5, 5, 39, 35)}, {Box(0, 0, 44, 40)}, 5, 0).empty());
}

// An enclosed rectangle with no margin on a vertical side: that side,
// widened by one unit to either side, is reported (0 is below any rule), as
// for a horizontal side; left and right, whole sides and sides that share
// only part of the enclosing side (the rectangle then sticks out and is
// reported whole as well).
TEST(EncSweep, ZeroMarginOnAVerticalSide) {
  struct Case {
    const char* name;
    Box enclosed;
    std::vector<Box> want;  // cells reported, as boxes
  };
  const Box e(0, 0, 30, 40);
  const std::vector<Case> cases = {
      {"left", Box(0, 10, 12, 30), {Box(-1, 10, 1, 30)}},
      {"right", Box(18, 10, 30, 30), {Box(29, 10, 31, 30)}},
      {"left, sticking out below", Box(0, -6, 12, 20), {Box(-1, 0, 1, 20), Box(0, -6, 12, 20)}},
      {"right, sticking out above", Box(18, 25, 30, 48), {Box(29, 25, 31, 40), Box(18, 25, 30, 48)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rings got = RunEnc({c.enclosed}, {e}, 5, 2);
    Raster want(Box(-10, -10, 40, 50)), reported(Box(-10, -10, 40, 50));
    for (const Box& b : c.want) PaintBox(want, b);
    distance_oracle::PaintUnion(reported, got);
    EXPECT_EQ(distance_oracle::RasterDiff(reported, want, [](int32_t, int32_t) { return true; }),
              "");
  }
}

// Shapes outside the enclosing layer are copied whole, closed rings and
// open chains (an edge layer) alike, each once however many columns judge
// them; the input keeps its marks and loses no vertex.
TEST(EncSweep, OutsideRingsAndChainsCopiedWhole) {
  for (const bool withChain : {false, true}) {
    SCOPED_TRACE(withChain ? "ring and chain" : "rings");
    ScratchList list, out;
    BoxToRing(list.list, Box(0, 0, 40, 40), true);
    BoxToRing(list.list, Box(50, 5, 70, 30), false);   // outside, right
    BoxToRing(list.list, Box(10, 45, 30, 60), false);  // outside, above
    BoxToRing(list.list, Box(10, 10, 30, 30), false);  // inside, margin 10
    if (withChain) test::AddChain(list.list, {{-20, -10}, {-5, -10}, {-5, -30}}, 0);
    const int32_t inputPoints = list.list.pointCount;
    SortPoints(list.list, ComparePointLess);
    SweepEnc(list.list, out.list, 5, 1, 1, 2);
    EXPECT_EQ(list.list.pointCount, inputPoints);
    std::vector<std::vector<Point>> copied;
    for (PSPoint* p = out.list.head; p; p = p->link) p->flags &= uint16_t(~PSPointFlags::Visited);
    for (PSPoint* p = out.list.head; p; p = p->link) {
      if (p->flags & PSPointFlags::Visited) continue;
      PSPoint* first = p;
      while (first->prev && first->prev != p) first = first->prev;
      std::vector<Point> ring;
      PSPoint* q = first;
      do {
        q->flags |= PSPointFlags::Visited;
        ring.push_back(Point(q->x, q->y));
        q = q->next;
      } while (q && q != first);
      std::sort(ring.begin(), ring.end(),
                [](const Point& a, const Point& b) { return std::tie(a.x, a.y) < std::tie(b.x, b.y); });
      copied.push_back(ring);
    }
    std::sort(copied.begin(), copied.end(), [](const auto& a, const auto& b) {
      return std::tie(a[0].x, a[0].y) < std::tie(b[0].x, b[0].y);
    });
    std::vector<std::vector<Point>> want = {
        {Point(10, 45), Point(10, 60), Point(30, 45), Point(30, 60)},
        {Point(50, 5), Point(50, 30), Point(70, 5), Point(70, 30)}};
    if (withChain) want.insert(want.begin(), {Point(-20, -10), Point(-5, -30), Point(-5, -10)});
    EXPECT_EQ(copied, want);
    EXPECT_EQ(out.list.ringCount, withChain ? 3 : 2);
    for (PSPoint* p = list.list.head; p; p = p->link)
      EXPECT_FALSE(p->flags & PSPointFlags::Visited);
  }
}

// Corner boxes (kind 1): a convex corner of the enclosed layer against the
// concave corner of an L-shaped enclosing shape, strictly closer than the
// distance; kind 1 reports no shape for lying outside.
TEST(EncSweep, CornerBoxes) {
  auto run = [](const Box& inner, int kind) {
    ScratchList list, out;
    // L: (0,0)-(40,0)-(40,20)-(20,20)-(20,40)-(0,40), concave corner (20, 20).
    test::AddRing(list.list, {{0, 0}, {40, 0}, {40, 20}, {20, 20}, {20, 40}, {0, 40}},
                  PSPointFlags::SecondLayer);
    BoxToRing(list.list, inner, false);
    SortPoints(list.list, ComparePointLess);
    SweepEnc(list.list, out.list, 5, 1, 1, kind);
    return oracle::ResultRings(out.list);
  };
  Rings got = run(Box(5, 5, 17, 17), 1);  // its corner (17, 17): 3² + 3² < 5²
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(distance_oracle::BoundsOf(got), Box(17, 17, 20, 20));
  EXPECT_TRUE(run(Box(5, 5, 16, 16), 1).empty());    // 4² + 4² > 5²
  EXPECT_TRUE(run(Box(25, 25, 35, 35), 1).empty());  // outside, in the notch
  EXPECT_EQ(run(Box(25, 25, 35, 35), 0).size(), 1u);  // reported whole by kind 0
}

}  // namespace
}  // namespace velmar
