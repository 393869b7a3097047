// The hole cut of axis-parallel lists must give what the scan sweep's hole
// cut gives, vertex for vertex: the same positions, links and link order
// (new vertices included), since the written polygon files start every ring
// at its first vertex on the link chain. Where the two could differ, or the
// shapes are not axis-parallel, it must refuse and leave the list alone.
#include "geometry/axis_hole_cut.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "support/list_snapshot.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/scan_sweep.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using oracle::Rect;
using oracle::Reversed;
using oracle::Ring;

// Flags the holes and sorts the list, as the boolean entry does before its
// hole cut; returns the number of holes.
int32_t Prepare(PSList& list) {
  const int32_t holes = SelectHoles(list, nullptr, false);
  if (list.head && list.head->link && !IsSortedBy(list.head, ComparePoint))
    SortPointsByPosition(list, false);
  return holes;
}

// Builds the list twice from build (which must be deterministic), cuts one
// with the sweep and one with the axis-parallel cut, and compares them.
// Returns the number of holes.
template <class Build>
int32_t CompareWithSweep(Build build) {
  OwnedList bySweep, byHeights;
  build(bySweep.list);
  build(byHeights.list);
  const int32_t holes = Prepare(bySweep.list);
  Prepare(byHeights.list);
  EXPECT_EQ(test::Snap(bySweep.list), test::Snap(byHeights.list));
  OwnedList unused;
  ScanSweep(bySweep.list, &unused.list, BooleanOpCode::CutHoles, false);
  EXPECT_TRUE(CutAxisParallelHolesOpen(byHeights.list));
  const test::Snapshot a = test::Snap(bySweep.list), b = test::Snap(byHeights.list);
  EXPECT_TRUE(a == b) << "sweep " << test::Describe(a, b) << "\nheights "
                      << test::Describe(b, a);
  return holes;
}

TEST(AxisHoleCut, HandPlacedHolesAreCutAsTheSweepCutsThem) {
  struct Case {
    std::string name;
    std::vector<Ring> rings;
  };
  const std::vector<Case> cases = {
      {"holes stacked in one column",
       {{Rect(0, 0, 100, 100), 1},
        {Reversed(Rect(10, 60, 30, 80)), 1},
        {Reversed(Rect(10, 20, 30, 40)), 1},
        {Reversed(Rect(10, 5, 20, 10)), 1}}},
      {"holes under one top edge, in later columns (the edge is cut before)",
       {{Rect(0, 0, 100, 100), 1},
        {Reversed(Rect(10, 60, 20, 80)), 1},
        {Reversed(Rect(40, 30, 50, 90)), 1},
        {Reversed(Rect(70, 10, 80, 95)), 1}}},
      {"hole under the lower side of a hole that starts further left",
       {{Rect(0, 0, 100, 100), 1},
        {Reversed(Rect(10, 50, 60, 80)), 1},
        {Reversed(Rect(30, 10, 40, 30)), 1},
        {Reversed(Rect(30, 35, 40, 45)), 1}}},
      {"island in a hole, with a hole of its own; a stray clockwise ring",
       {{Rect(0, 0, 100, 100), 1},
        {Reversed(Rect(10, 10, 90, 90)), 1},
        {Rect(20, 20, 80, 80), 1},
        {Reversed(Rect(30, 30, 40, 70)), 1},
        {Reversed(Rect(200, 0, 210, 10)), 1}}},
      {"two edges at the height above the hole: the later one is lower",
       {{Rect(0, 0, 100, 100), 1},
        {Reversed(Rect(10, 10, 30, 50)), 1},
        {Rect(5, 100, 200, 120), 1}}},
      {"two edges at the height above the hole, entered the other way round",
       {{Rect(5, 0, 100, 100), 1},
        {Reversed(Rect(10, 10, 30, 50)), 1},
        {Rect(0, 100, 200, 120), 1}}},
      {"L-shaped hole and two holes meeting at a corner",
       {{Rect(0, 0, 100, 100), 1},
        {Reversed({{10, 10}, {50, 10}, {50, 20}, {20, 20}, {20, 60}, {10, 60}}), 1},
        {Reversed(Rect(60, 60, 70, 70)), 1},
        {Reversed(Rect(70, 70, 80, 80)), 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CompareWithSweep([&](PSList& l) { oracle::BuildList(l, c.rings); });
  }
}

// Random rectangles of both operands in a 400-unit square (and a few to
// its right): DIFF or XOR of them holds many holes, holes in one column,
// islands in holes and holes meeting other holes at corners.
std::vector<Ring> RandomRects(int seed, int count) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> pos(0, 300), len(1, 40);
  std::vector<Ring> rings = {{Rect(0, 0, 400, 400), 1}};
  for (int i = 0; i < 10; ++i) {
    const int32_t x = pos(rng), y = pos(rng);
    rings.push_back({Rect(x + 400, y, x + 400 + 4 * len(rng), y + 4 * len(rng)), 1});
  }
  for (int i = 0; i < count; ++i) {
    // Coarse positions make edges share heights and columns.
    const int32_t x = 5 * (pos(rng) / 5), y = 5 * (pos(rng) / 5);
    rings.push_back({Rect(x, y, x + 5 * (len(rng) / 4 + 1), y + 5 * (len(rng) / 4 + 1)), 2});
  }
  return rings;
}

TEST(AxisHoleCut, RandomMergedResultsAreCutAsTheSweepCutsThem) {
  int32_t holes = 0;
  for (int seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    // AND keeps the holes within clusters of small rectangles; DIFF and XOR
    // of fewer ones punch holes into the large square.
    const BooleanOpCode codes[] = {BooleanOpCode::And, BooleanOpCode::Diff, BooleanOpCode::Xor};
    const BooleanOpCode code = codes[seed % 3];
    const std::vector<Ring> rings = RandomRects(seed, code == BooleanOpCode::And ? 400 : 100);
    holes += CompareWithSweep([&](PSList& l) { oracle::RunBoolean(rings, int(code), l); });
    if (HasFailure()) break;
  }
  EXPECT_GT(holes, 1000);  // the results must really hold many holes
}

// A merged result cut into tiles, as chopping leaves it: pieces that abut
// along the tile lines, with coincident vertical edges in a column and
// coincident horizontal edges at one height (a hole below a tile line hangs
// from whichever of the two the sweep holds lower).
TEST(AxisHoleCut, TiledPiecesAreCutAsTheSweepCutsThem) {
  int32_t holes = 0;
  for (int seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    OwnedList merged;
    std::vector<Ring> pieces;
    const int code = int(BooleanOpCode::Diff);
    for (const auto& r : oracle::RunBoolean(RandomRects(seed, 60), code, merged.list))
      pieces.push_back({r, 1});
    const int32_t tile = 50 + 25 * (seed % 3);
    auto build = [&](PSList& l) {
      for (int32_t x = 0; x < 800; x += tile)
        for (int32_t y = 0; y < 400; y += tile) {
          std::vector<Ring> rings = pieces;
          rings.push_back({Rect(x, y, x + tile, y + tile), 2});
          OwnedList in;
          oracle::BuildList(in.list, rings);
          BooleanSweep(in.list, &l, BooleanOpCode::And, false);
        }
    };
    holes += CompareWithSweep(build);
    if (HasFailure()) break;
  }
  EXPECT_GT(holes, 150);
}

TEST(AxisHoleCut, RefusesWhereTheSweepsOrderDecidesOrEdgesAreSlanted) {
  struct Case {
    std::string name;
    std::vector<Ring> rings;
  };
  const std::vector<Case> cases = {
      {"a slanted edge",
       {{Rect(0, 0, 100, 100), 1}, {Reversed({{10, 10}, {40, 10}, {10, 40}}), 1}}},
      {"another edge at the height of the hole's top",
       {{Rect(0, 0, 100, 100), 1},
        {Reversed(Rect(10, 10, 30, 50)), 1},
        {Rect(5, 50, 200, 60), 1}}},
      {"the edge above the hole's height leaves while two stay there",
       {{Rect(0, 0, 100, 100), 1},
        {Rect(5, 100, 200, 120), 1},
        {Rect(8, 100, 50, 110), 1},
        {Reversed(Rect(60, 10, 70, 50)), 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedList l;
    oracle::BuildList(l.list, c.rings);
    ASSERT_GT(Prepare(l.list), 0);
    const test::Snapshot before = test::Snap(l.list);
    EXPECT_FALSE(CutAxisParallelHolesOpen(l.list));
    EXPECT_EQ(test::Snap(l.list), before);
  }
}

}  // namespace
}  // namespace velmar
