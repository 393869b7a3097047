// Cutting holes open (code 25): every hole is hung from the boundary above
// it, so that each outer ring with its holes becomes one closed ring that
// covers exactly what the outer ring and its holes covered. Checked on
// stacked holes, where a later hole hangs from an earlier hole's cut, and
// on many random merged results against the cover and area of the list
// before the cut and the exact area of the original operands.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "support/random_shapes.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using oracle::Rect;
using oracle::Reversed;
using oracle::Ring;

// Bounding box of a set of rings.
Box BoxOf(const std::vector<std::vector<Point>>& rings) {
  Box b;
  for (const auto& r : rings)
    for (const Point& p : r) b.Extend(p.x, p.y);
  return b;
}

// Cuts the holes of list open and checks the result against the rings the
// list held before: every ring closed (a corrupt ring throws instead of
// looping), links consistent, one ring per outer ring, the same total area
// exactly, the same cover at sample points stepping `step` units.
void CutAndCheck(PSList& list, int step) {
  const auto before = oracle::ResultRings(list);
  int outers = 0;
  for (const auto& r : before)
    if (oracle::Area2(r) > 0) ++outers;
  BooleanSweep(list, nullptr, BooleanOpCode::CutHoles, false);
  ASSERT_NO_THROW(CountRings(list));
  ASSERT_NO_THROW(CheckConnectivity(list));
  const auto after = oracle::ResultRings(list);
  EXPECT_EQ(int(after.size()), outers);
  for (const auto& r : after) EXPECT_GT(oracle::Area2(r), 0);
  EXPECT_TRUE(oracle::TotalArea2(after) == oracle::TotalArea2(before))
      << oracle::ToString(oracle::TotalArea2(after)) << " after, "
      << oracle::ToString(oracle::TotalArea2(before)) << " before";
  for (PSPoint* p = list.head; p; p = p->link)
    EXPECT_FALSE(p->flags & PSPointFlags::HoleStart);
  if (!before.empty())
    oracle::ExpectSameCover(before, after, BoxOf(before), step, step);
}

TEST(HoleCut, StackedHolesHangFromTheCutsAboveThem) {
  // Holes are clockwise. The upper hole starts at H = (10, 40) and its
  // lower side runs slanted from H to (30, 30): cutting it gives that side a new left end at H's
  // place. The holes below hang from that side, at a later column or at
  // H's own column.
  const std::vector<Point> slanted = {{10, 40}, {30, 50}, {40, 40}, {30, 30}};
  struct Case {
    std::string name;
    std::vector<Ring> rings;
  };
  const std::vector<Case> cases = {
      {"hole below a slanted lower side, later column",
       {{Rect(0, 0, 60, 60), 1}, {slanted, 1}, {Reversed(Rect(12, 5, 25, 20)), 1}}},
      {"hole below a slanted lower side, same column",
       {{Rect(0, 0, 60, 60), 1}, {slanted, 1}, {Reversed(Rect(10, 5, 25, 20)), 1}}},
      {"three holes stacked, each below the previous one's slanted side",
       {{Rect(0, 0, 80, 80), 1},
        {{{10, 70}, {30, 75}, {40, 70}, {30, 60}}, 1},
        {{{14, 55}, {30, 58}, {40, 50}, {32, 40}}, 1},
        {{{20, 30}, {40, 35}, {50, 20}, {40, 10}}, 1}}},
      {"two holes below one slanted side, side by side",
       {{Rect(0, 0, 60, 60), 1},
        {{{5, 50}, {30, 55}, {55, 50}, {30, 25}}, 1},
        {Reversed(Rect(8, 30, 14, 40)), 1},
        {Reversed(Rect(20, 5, 26, 20)), 1}}},
      {"holes hung from edges cut in earlier columns",
       {{Rect(0, 0, 60, 60), 1},
        {{{20, 50}, {30, 55}, {40, 50}, {30, 40}}, 1},
        {{{10, 30}, {30, 35}, {40, 30}, {30, 20}}, 1},
        {Reversed(Rect(22, 5, 26, 15)), 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedList l;
    oracle::BuildList(l.list, c.rings);
    CutAndCheck(l.list, 1);
  }
}

// Random rectangles and 45-degree triangles with even coordinates, so that
// every crossing lies on the grid and merging is exact.
std::vector<Ring> RandomShapes(std::mt19937& rng, int count, int32_t lo,
                               int32_t hi, int layer) {
  using Range = std::uniform_int_distribution<int32_t>;
  return test::RandomOctilinearShapes(rng, count, Range(lo / 2, hi / 2),
                                      Range(1, (hi - lo) / 16 + 1), 0, true, layer);
}

// Merged results with many holes, islands in holes and holes touching
// other holes: a few large first-operand shapes with small ones, minus many
// small second-operand shapes (DIFF). Manhattan and 45-degree variants.
TEST(HoleCut, RandomMergedResultsBecomeOneClosedRingPerOuterRing) {
  int holes = 0;
  for (int seed = 1; seed <= 150; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const bool manhattan = seed % 3 == 0;
    std::vector<Ring> rings = {{Rect(0, 0, 400, 400), 1}};
    if (seed % 2) rings.push_back({Rect(500, 100, 800, 300), 1});
    for (Ring& r : RandomShapes(rng, 15, 0, 800, 1)) rings.push_back(r);
    for (Ring& r : RandomShapes(rng, 50, 20, 760, 2)) rings.push_back(r);
    if (manhattan)
      for (Ring& r : rings) {
        if (r.pts.size() == 3) {
          Box b;
          for (const Point& p : r.pts) b.Extend(p.x, p.y);
          r.pts = Rect(b.x1, b.y1, b.x2, b.y2);
        }
      }
    OwnedList diff;
    const auto merged = oracle::RunBoolean(rings, 6, diff.list);
    const long double exact = oracle::SlabArea(rings, 6);
    ASSERT_NEAR(double(oracle::TotalArea2(merged)) / 2, double(exact), 1e-3);
    for (const auto& r : merged)
      if (oracle::Area2(r) < 0) ++holes;
    CutAndCheck(diff.list, 7);
    if (HasFailure()) break;
  }
  // The sets must really hold many holes to test anything.
  EXPECT_GT(holes, 1000);
}

}  // namespace
}  // namespace velmar
