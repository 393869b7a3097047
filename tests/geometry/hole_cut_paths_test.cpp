// Cutting holes open on axis-parallel lists without the general sweep must
// leave the list exactly as the general sweep leaves it: the same vertices
// in the same link order, each with the same ring neighbours and flags (what
// a polygon file is written from), and the ring figures CountRings gives.
// Checked on merged results full of holes on a coarse grid (holes sharing
// columns, edges cut several times, holes hung from holes) and on raw rings
// that cross, touch, overlap, repeat and wind either way, where the path
// must either cut like the general sweep or refuse and leave the list alone.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "support/list_snapshot.h"
#include "support/point_list_fixtures.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/rect_sweep.h"
#include "geometry/scan_sweep.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using oracle::Rect;
using oracle::Reversed;
using oracle::Ring;
using test::Describe;
using test::Snap;
using test::Snapshot;

// Builds the list twice: either the rings as given, or the result of code
// over them (from the axis-parallel boolean path).
void BuildTwice(const std::vector<Ring>& rings, int code, PSList& a, PSList& b) {
  for (PSList* l : {&a, &b}) {
    if (code < 0) {
      oracle::BuildList(*l, rings);
    } else {
      oracle::RunBoolean(rings, code, *l);
    }
  }
}

struct PathRun {
  bool taken = false;    // the axis-parallel path cut (or found no hole)
  int holes = 0;         // holes of the list before the cut
};

// Cuts a copy by each path and compares them; returns what the run saw.
PathRun CompareCut(const std::vector<Ring>& rings, int code) {
  PathRun run;
  OwnedList fast, general;
  BuildTwice(rings, code, fast.list, general.list);
  ScratchList holes;
  SelectHoles(general.list, &holes.list, false);
  run.holes = CountRings(holes.list) > 0 ? holes.list.ringCount : 0;

  const Snapshot before = Snap(fast.list);
  RingTally tally;
  run.taken = RectilinearCutHoles(fast.list, &tally);
  int32_t fastLargest = tally.largest;
  if (!run.taken) {
    // Refused: nothing changed but the order of the link chain.
    ScratchList sorted, spare;
    BuildTwice(rings, code, sorted.list, spare.list);
    SortPointsByPosition(sorted.list, false);
    const Snapshot now = Snap(fast.list);
    EXPECT_TRUE(now == before || now == Snap(sorted.list)) << Describe(now, before);
    fastLargest = CutHolesAndCount(fast.list);
  }

  EnableRectilinearBoolean(false);
  BooleanSweep(general.list, nullptr, BooleanOpCode::CutHoles, false);
  EnableRectilinearBoolean(true);
  const int32_t largest = CountRings(general.list);

  const Snapshot want = Snap(general.list), got = Snap(fast.list);
  EXPECT_TRUE(got == want) << "axis-parallel path: " << Describe(got, want)
                           << "\ngeneral sweep: " << Describe(want, got);
  EXPECT_EQ(fastLargest, largest);
  if (run.taken) {
    EXPECT_EQ(tally.rings, general.list.ringCount);
    EXPECT_EQ(tally.points, general.list.pointCount);
  }
  return run;
}

// Rectangles with corners on a grid of `step` inside [0, span].
std::vector<Ring> GridRects(std::mt19937& rng, int count, int32_t span, int32_t step,
                            int32_t maxSide, int layer) {
  std::uniform_int_distribution<int32_t> pos(0, span / step), side(1, maxSide / step);
  std::vector<Ring> rings;
  for (int i = 0; i < count; ++i) {
    const int32_t x = pos(rng) * step, y = pos(rng) * step;
    rings.push_back({Rect(x, y, x + side(rng) * step, y + side(rng) * step), layer});
  }
  return rings;
}

TEST(HoleCutPaths, MergedResultsWithManyHolesAreCutAlike) {
  int taken = 0, holes = 0, cases = 0;
  for (int seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    // A coarse grid makes holes share columns and lines with other holes
    // and with the edges they hang from.
    const int32_t step = seed % 3 == 0 ? 1 : (seed % 3 == 1 ? 10 : 40);
    std::vector<Ring> rings = GridRects(rng, 4, 400, step, 400, 1);
    for (Ring& r : GridRects(rng, 120, 600, step, 60, 2)) rings.push_back(r);
    for (Ring& r : GridRects(rng, 10, 800, step, 60, 1)) rings.push_back(r);
    for (int code : {6, 9, 2}) {  // DIFF, XOR, OR
      const PathRun run = CompareCut(rings, code);
      ++cases;
      if (run.taken) ++taken;
      if (run.taken) holes += run.holes;
      if (HasFailure()) return;
    }
  }
  // Merged results are for the axis-parallel path, and hold many holes.
  EXPECT_EQ(taken, cases);
  EXPECT_GT(holes, 2000) << holes;
}

TEST(HoleCutPaths, RawRingsAreCutAlikeOrRefused) {
  int taken = 0, refused = 0;
  for (int seed = 1; seed <= 400; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const int32_t step = seed % 2 ? 1 : 20;
    std::vector<Ring> rings = GridRects(rng, 3, 300, step, 300, 1);
    // Holes drawn as clockwise rings, some crossing each other or the outer
    // rings, some nested, some on both operands.
    for (Ring& r : GridRects(rng, 12, 400, step, 80, 1 + int(rng() % 2))) {
      r.pts = Reversed(r.pts);
      rings.push_back(r);
    }
    if (seed % 5 == 0) rings.push_back(rings[1]);  // a repeated ring
    if (seed % 7 == 0) {
      // A collinear vertex on an outer ring.
      std::vector<Point>& p = rings[0].pts;
      p.insert(p.begin() + 1, Point((p[0].x + p[1].x) / 2, p[0].y));
    }
    if (seed % 11 == 0) {
      // An L-shaped outer ring, so that a hole can hang from a concave side.
      rings.push_back({{{0, 500}, {300, 500}, {300, 560}, {60, 560}, {60, 800}, {0, 800}}, 1});
      rings.push_back({Reversed(Rect(20, 520, 40, 780)), 1});
    }
    const PathRun run = CompareCut(rings, -1);
    (run.taken ? taken : refused)++;
    if (HasFailure()) return;
  }
  // Both outcomes must really occur.
  EXPECT_GT(taken, 80) << refused;
  EXPECT_GT(refused, 80);
}

TEST(HoleCutPaths, HolesInOneColumnFollowTheSweepsOrder) {
  // Holes whose top-left vertices share a column, hung from one another,
  // from cut edges and from edges whose left end lies on the column; the
  // vertical edges of the column free active nodes that the holes' upper
  // edges take again.
  const std::vector<std::vector<Ring>> layouts = {
      {{Rect(0, 0, 100, 100), 1},
       {Reversed(Rect(10, 10, 30, 20)), 1},
       {Reversed(Rect(10, 30, 30, 40)), 1},
       {Reversed(Rect(10, 50, 30, 60)), 1},
       {Reversed(Rect(40, 5, 50, 90)), 1}},
      {{Rect(0, 0, 100, 100), 1},
       {Rect(200, 0, 300, 100), 1},
       {Reversed(Rect(10, 10, 30, 20)), 1},
       {Reversed(Rect(210, 10, 230, 20)), 1},
       {Reversed(Rect(10, 40, 30, 90)), 1},
       {Reversed(Rect(210, 40, 230, 90)), 1}},
      {{{{0, 0}, {100, 0}, {100, 100}, {10, 100}, {10, 80}, {0, 80}}, 1},
       {Reversed(Rect(10, 10, 20, 70)), 1},
       {Reversed(Rect(30, 10, 40, 95)), 1}},
  };
  for (size_t i = 0; i < layouts.size(); ++i) {
    SCOPED_TRACE("layout " + std::to_string(i));
    EXPECT_TRUE(CompareCut(layouts[i], -1).taken);
    EXPECT_TRUE(CompareCut(layouts[i], 0).taken);
  }
}

}  // namespace
}  // namespace velmar
