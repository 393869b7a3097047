// Window clipping and tiling, checked against the boolean engine's AND and
// against winding numbers sampled from the input.
#include "geometry/clip_tile.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "support/point_list_fixtures.h"
#include "support/chop_reference.h"
#include "support/list_snapshot.h"
#include "support/random_shapes.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using oracle::ResultRings;
using oracle::TotalArea2;
using oracle::Winding4;
using Rings = std::vector<std::vector<Point>>;

bool InsideBox(const Box& b, int64_t px4, int64_t py4) {
  return px4 > 4 * int64_t(b.x1) && px4 < 4 * int64_t(b.x2) &&
         py4 > 4 * int64_t(b.y1) && py4 < 4 * int64_t(b.y2);
}

void CopyInto(PSList& src, PSList& dst) { CopyPointList(src, dst); }

Box RandomWindow(std::mt19937& rng, int32_t lo, int32_t hi) {
  std::uniform_int_distribution<int32_t> c(lo, hi);
  int32_t x1 = c(rng), x2 = c(rng), y1 = c(rng), y2 = c(rng);
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  return Box(x1, y1, x2 + 1, y2 + 1);
}

// ---------------------------------------------------------------------------
// ClipToWindow

struct ClipCase {
  const char* name;
  std::vector<Point> ring;
  Box window;
  Rings expected;
};

TEST(ClipToWindow, Cases) {
  const std::vector<ClipCase> cases = {
      {"inside stays", oracle::Rect(0, 0, 10, 10), Box(-5, -5, 20, 20),
       {oracle::Rect(0, 0, 10, 10)}},
      {"outside disappears", oracle::Rect(0, 0, 10, 10), Box(20, 20, 30, 30), {}},
      {"cut at the right side", oracle::Rect(0, 0, 10, 10), Box(-5, -5, 5, 20),
       {oracle::Rect(0, 0, 5, 10)}},
      {"corner moved onto the window", oracle::Rect(0, 0, 10, 10),
       Box(5, 5, 20, 20), {oracle::Rect(5, 5, 10, 10)}},
      // Crossings at y = 1.5 and 4.5 round half up to 2 and 5; the clamped
      // tip (5, 3) lies between them and goes.
      {"crossings round half up", {{0, 0}, {10, 3}, {0, 6}}, Box(-5, -5, 5, 20),
       {{{0, 0}, {5, 2}, {5, 5}, {0, 6}}}},
      // Negative halves: -4.5 -> -4 and -1.5 -> -1.
      {"negative halves round up", {{0, 0}, {0, -6}, {10, -3}},
       Box(-5, -20, 5, 20), {{{0, 0}, {0, -6}, {5, -4}, {5, -1}}}},
      // Crossing of the top side: x = 2.5 rounds to 3.
      {"top side interpolates x", {{0, 0}, {5, 0}, {5, 4}}, Box(-5, -5, 20, 2),
       {{{0, 0}, {5, 0}, {5, 2}, {3, 2}}}},
  };
  for (const ClipCase& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedList l;
    test::PushRing(l.list, c.ring);
    ClipToWindow(l.list, c.window, false);
    test::ExpectConsistent(l.list);
    Rings got = ResultRings(l.list);
    ASSERT_EQ(got.size(), c.expected.size());
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_TRUE(test::SameCycle(got[i], c.expected[i]));
    EXPECT_FALSE(HasPointOutside(l.list, c.window));
  }
}

// A window of no width or no height (or a single point) holds no area:
// every ring collapses onto it and goes, whichever side its vertices lie
// on, and nothing divides by zero (vertices above one another on one side
// of a line window were once taken for a crossing of it).
TEST(ClipToWindow, WindowWithoutAreaLeavesNoArea) {
  const std::vector<std::vector<Point>> rings = {
      oracle::Rect(-10, -10, 10, 10),     // across the window
      oracle::Rect(3, 3, 9, 9),           // beside it, above and right
      {{-7, -9}, {8, -2}, {1, 12}},       // slanted sides across it
      {{0, 0}, {6, 0}, {6, 6}, {0, 6}},   // a corner on it
  };
  const std::vector<Box> windows = {Box(0, -20, 0, 20), Box(-20, 0, 20, 0),
                                    Box(0, 0, 0, 0), Box(5, 5, 5, 5),
                                    Box(-3, 4, 7, 4)};
  std::mt19937 rng(5);
  for (const Box& w : windows) {
    for (int runs = 0; runs < 2; ++runs) {
      SCOPED_TRACE("window (" + std::to_string(w.x1) + ", " + std::to_string(w.y1) +
                   ") - (" + std::to_string(w.x2) + ", " + std::to_string(w.y2) +
                   "), runs " + std::to_string(runs));
      OwnedList l;
      for (const auto& r : rings) test::PushRing(l.list, r);
      // Random octilinear rings too, merged and not.
      for (const oracle::Ring& r : test::RandomOctilinearRings(rng, 12, 40, true))
        test::PushRing(l.list, r.pts);
      ASSERT_NO_THROW(ClipToWindow(l.list, w, runs != 0));
      test::ExpectConsistent(l.list);
      EXPECT_FALSE(HasPointOutside(l.list, w));
      EXPECT_EQ(TotalArea2(ResultRings(l.list)), 0);
    }
  }
}

TEST(ClipToWindow, InsideListIsNotTouched) {
  OwnedList l;
  PSPoint* a = test::PushRing(l.list, {{0, 0}, {5, 0}, {10, 0}, {10, 10}});
  ClipToWindow(l.list, Box(0, 0, 10, 10), true);
  // Nothing moved: not even the collinear vertex is simplified away.
  EXPECT_EQ(l.list.pointCount, 4);
  EXPECT_EQ(test::RingPoints(a).size(), 4u);
}

// A C-shaped ring whose back lies outside the window: clamping lays the
// back onto the side twice, in opposite directions, joining the two arms by
// a run of zero width. Removing window runs separates the arms. The shape
// is rotated onto each of the four sides.
TEST(ClipToWindow, WindowRunsSeparateArmsOnEverySide) {
  const std::vector<Point> c = {{10, 0}, {10, 2}, {-2, 2}, {-2, 6},
                                {10, 6}, {10, 8}, {-5, 8}, {-5, 0}};
  Box window(0, -10, 20, 20);
  std::vector<Point> ring = c;
  for (int side = 0; side < 4; ++side) {
    SCOPED_TRACE("rotation " + std::to_string(side));
    for (int flag = 0; flag < 2; ++flag) {
      OwnedList l;
      test::PushRing(l.list, ring);
      ClipToWindow(l.list, window, flag != 0);
      test::ExpectConsistent(l.list);
      Rings got = ResultRings(l.list);
      EXPECT_EQ(TotalArea2(got), 2 * 40);
      if (flag == 0) {
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].size(), 8u);
      } else {
        ASSERT_EQ(got.size(), 2u);
        for (const auto& r : got) {
          EXPECT_EQ(r.size(), 4u);
          EXPECT_EQ(oracle::Area2(r), 2 * 20);
        }
      }
    }
    // Rotate by 90 degrees counter-clockwise: (x, y) -> (-y, x).
    for (Point& p : ring) p = Point(-p.y, p.x);
    window = Box(-window.y2, window.x1, -window.y1, window.x2);
  }
}

// Random octilinear polygon sets (every crossing on the grid) against the
// boolean engine's AND with the window, and against winding numbers.
TEST(ClipToWindow, RandomOctilinearMatchesAnd) {
  std::mt19937 rng(20240611);
  for (int iter = 0; iter < 60; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    OwnedList merged;
    test::MergeRings(test::RandomOctilinearRings(rng, 10, 200, iter % 3 != 0),
                     merged.list);
    if (merged.list.IsEmpty()) continue;
    const Rings input = ResultRings(merged.list);
    const Box window = RandomWindow(rng, -60, 180);
    const bool runs = iter % 2 == 1;
    OwnedList clipped;
    CopyInto(merged.list, clipped.list);
    ClipToWindow(clipped.list, window, runs);
    test::ExpectConsistent(clipped.list);
    EXPECT_FALSE(HasPointOutside(clipped.list, window));
    const Rings got = ResultRings(clipped.list);
    EXPECT_EQ(oracle::ToString(TotalArea2(got)),
              oracle::ToString(test::AndArea2(merged.list, window)));
    for (int64_t x4 = -61 * 4 + 1; x4 < 182 * 4; x4 += 4 * 3)
      for (int64_t y4 = -61 * 4 + 2; y4 < 182 * 4; y4 += 4 * 3 + 4) {
        const bool in = Winding4(input, x4, y4) > 0 && InsideBox(window, x4, y4);
        ASSERT_EQ(Winding4(got, x4, y4), in ? 1 : 0)
            << "at (" << x4 / 4.0 << ", " << y4 / 4.0 << ")";
      }
  }
}

// Star-shaped rings at any angle: crossing points are rounded, so the check
// samples points at least 2 units away from every edge and window side.
TEST(ClipToWindow, RandomStarsBySampling) {
  std::mt19937 rng(77);
  for (int iter = 0; iter < 60; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    const std::vector<Point> star = test::RandomStarRing(rng, 100, 100, 90, 12);
    const Box window = RandomWindow(rng, 0, 200);
    OwnedList l;
    test::PushRing(l.list, star);
    ClipToWindow(l.list, window, iter % 2 == 1);
    test::ExpectConsistent(l.list);
    EXPECT_FALSE(HasPointOutside(l.list, window));
    const Rings got = ResultRings(l.list);
    for (const auto& r : got) EXPECT_GT(oracle::Area2(r), 0);
    const std::vector<Point> w = oracle::Rect(window.x1, window.y1, window.x2, window.y2);
    for (int32_t x = 1; x < 200; x += 3)
      for (int32_t y = 2; y < 200; y += 3) {
        if (oracle::NearRing(x, y, star) || oracle::NearRing(x, y, w)) continue;
        const bool in = oracle::Winding(star, 2 * x, 2 * y) > 0 &&
                        InsideBox(window, 4 * x, 4 * y);
        ASSERT_EQ(oracle::ResultWinding(got, 2 * x, 2 * y), in ? 1 : 0)
            << "at (" << x << ", " << y << ")";
      }
  }
}

TEST(ClipToWindow, OpenChainsAreClampedNotLost) {
  OwnedList l;
  test::AddChain(l.list, {{-10, 5}, {5, 5}, {5, 30}});
  test::PushRing(l.list, oracle::Rect(-10, 0, 10, 10));
  ClipToWindow(l.list, Box(0, 0, 20, 20), false);
  test::ExpectConsistent(l.list);
  EXPECT_FALSE(HasPointOutside(l.list, Box(0, 0, 20, 20)));
  int chainEnds = 0;
  for (PSPoint* p = l.list.head; p; p = p->link)
    if (!p->prev || !p->next) ++chainEnds;
  EXPECT_EQ(chainEnds, 2);
}

TEST(LowestLeftPoint, SmallestXThenSmallestY) {
  OwnedList l;
  PSPoint* a = test::PushRing(l.list, {{5, 5}, {0, 3}, {0, 1}, {4, 0}});
  PSPoint* p = LowestLeftPoint(a);
  EXPECT_EQ(p->x, 0);
  EXPECT_EQ(p->y, 1);
  PSPoint* s = test::PushRing(l.list, oracle::Rect(2, 3, 8, 9));
  EXPECT_EQ(LowestLeftPoint(s->next->next)->x, 2);
  EXPECT_EQ(LowestLeftPoint(s->next->next)->y, 3);
}

// ---------------------------------------------------------------------------
// ChopIntoTiles

// Checks the pieces of one ring cut on the grid laid from its bounding box:
// counter-clockwise, each inside one tile, areas summing to the ring's, and
// every sample point of the ring in exactly one piece.
void ExpectTiledRing(const std::vector<Point>& ring, const Rings& pieces,
                     int32_t size) {
  Box bb;
  for (const Point& p : ring) bb.Extend(p.x, p.y);
  __int128 sum = 0;
  for (const auto& piece : pieces) {
    const __int128 a = oracle::Area2(piece);
    EXPECT_GT(a, 0) << "piece not counter-clockwise";
    sum += a;
    Box pb;
    for (const Point& p : piece) pb.Extend(p.x, p.y);
    const int64_t i = (int64_t(pb.x1) - bb.x1) / size;
    const int64_t j = (int64_t(pb.y1) - bb.y1) / size;
    EXPECT_LE(int64_t(pb.x2), bb.x1 + (i + 1) * size) << "piece spans tiles";
    EXPECT_LE(int64_t(pb.y2), bb.y1 + (j + 1) * size) << "piece spans tiles";
  }
  EXPECT_EQ(oracle::ToString(sum), oracle::ToString(oracle::Area2(ring)));
  oracle::ExpectSameCover({ring}, pieces, bb, 2, 3);
}

TEST(ChopIntoTiles, TwoAndAHalfTilesGiveThreePieces) {
  OwnedList in, out;
  test::PushRing(in.list, oracle::Rect(0, 0, 25, 10));
  ChopIntoTiles(in.list, out.list, 10);
  const Rings pieces = ResultRings(out.list);
  ASSERT_EQ(pieces.size(), 3u);
  ExpectTiledRing(oracle::Rect(0, 0, 25, 10), pieces, 10);
}

TEST(ChopIntoTiles, RingInOneTileIsCopiedWhole) {
  OwnedList in, out;
  // Exactly one tile wide and high; the collinear vertex survives the copy.
  const std::vector<Point> ring = {{0, 0}, {5, 0}, {10, 0}, {10, 10}, {0, 10}};
  test::PushRing(in.list, ring);
  ChopIntoTiles(in.list, out.list, 10);
  const Rings pieces = ResultRings(out.list);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_TRUE(test::SameCycle(pieces[0], ring));
  EXPECT_EQ(out.list.ringCount, 1);
  // The input keeps its ring and has no visited marks left.
  EXPECT_EQ(in.list.pointCount, 5);
  for (PSPoint* p = in.list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
}

TEST(ChopIntoTiles, TileSizeBelowOneIsRefused) {
  for (int32_t size : {0, -5}) {
    OwnedList in, out;
    test::PushRing(in.list, oracle::Rect(0, 0, 25, 10));
    try {
      ChopIntoTiles(in.list, out.list, size);
      ADD_FAILURE() << "no error for size " << size;
    } catch (const Error& e) {
      EXPECT_STREQ(e.Unit(), "DRC");
    }
    EXPECT_TRUE(out.list.IsEmpty());
    EXPECT_EQ(in.list.pointCount, 4);
  }
  OwnedList in, out;
  test::PushRing(in.list, oracle::Rect(0, 0, 25, 10));
  EXPECT_THROW(ChopIntoTilesInBox(in.list, out.list, Box(0, 0, 30, 30), 10, 0),
               Error);
}

// The tile grid is computed in 64 bits: widths beyond the int32 range and
// tile edges past INT32_MAX.
TEST(ChopIntoTiles, GridNearTheCoordinateLimits) {
  struct Case {
    std::vector<Point> ring;
    int32_t size;
    size_t pieces;
  };
  const std::vector<Case> cases = {
      {oracle::Rect(-2000000000, 0, 2000000000, 1000), 1000000000, 4},
      {oracle::Rect(INT32_MAX - 600, 0, INT32_MAX - 1, 300), 250, 6},
      {oracle::Rect(INT32_MIN + 1, -1000, INT32_MIN + 1500, 1000), 1000, 4},
  };
  for (const Case& c : cases) {
    OwnedList in, out;
    test::PushRing(in.list, c.ring);
    ChopIntoTiles(in.list, out.list, c.size);
    const Rings pieces = ResultRings(out.list);
    EXPECT_EQ(pieces.size(), c.pieces);
    __int128 sum = 0;
    for (const auto& p : pieces) {
      EXPECT_GT(oracle::Area2(p), 0);
      sum += oracle::Area2(p);
    }
    EXPECT_EQ(oracle::ToString(sum), oracle::ToString(oracle::Area2(c.ring)));
  }
}

// Random merged octilinear rings without holes, each cut on its own grid.
TEST(ChopIntoTiles, RandomRingsCoverExactlyPerTile) {
  std::mt19937 rng(4242);
  std::uniform_int_distribution<int32_t> sizes(7, 90);
  for (int iter = 0; iter < 40; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    OwnedList merged, outers;
    test::MergeRings(test::RandomOctilinearRings(rng, 8, 240, true), merged.list);
    SelectHoles(merged.list, &outers.list, true);
    const int32_t size = sizes(rng);
    for (const auto& ring : ResultRings(outers.list)) {
      OwnedList in, out;
      test::PushRing(in.list, ring);
      ChopIntoTiles(in.list, out.list, size);
      test::ExpectConsistent(out.list);
      ExpectTiledRing(ring, ResultRings(out.list), size);
    }
  }
}

// Rings with their holes cut open (so their cut edges meet), an
// axis-parallel bow tie (read as its lobes), rings with 45-degree edges and
// crossing diagonals (the general path) and rings of four vertices, on grids from a few units to one tile per ring.
TEST(ChopIntoTiles, SameListAsChoppingThroughCopies) {
  std::mt19937 rng(2027);
  for (int iter = 0; iter < 60; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    OwnedList in;
    test::MergeRings(test::RandomOctilinearRings(rng, 30, 400, iter % 3 == 2),
                     in.list);
    BooleanSweep(in.list, nullptr, BooleanOpCode::CutHoles, false);
    if (iter % 5 == 0)  // crossing diagonals
      test::PushRing(in.list, {{0, 0}, {40, 40}, {40, 0}, {0, 40}});
    if (iter % 5 == 1)  // one lobe counter-clockwise, one clockwise
      test::PushRing(in.list, {{0, 0}, {20, 0}, {20, 40}, {40, 40}, {40, 20}, {0, 20}});
    if (iter % 5 == 2) test::PushRing(in.list, oracle::Rect(-30, -7, 61, 5));
    CountRings(in.list);
    const int32_t size = std::uniform_int_distribution<int32_t>(3, 260)(rng);
    OwnedList got, want;
    ChopIntoTiles(in.list, got.list, size);
    test::ChopByCopies(in.list, want.list, size);
    const test::Snapshot a = test::Snap(got.list), b = test::Snap(want.list);
    EXPECT_TRUE(a == b) << "size " << size << "\n  chopped: " << test::Describe(a, b)
                        << "\n  through copies: " << test::Describe(b, a);
    for (PSPoint* p = in.list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
  }
}

// The storing loop of the layout database: holes cut open, rings chopped,
// holes cut open again, the tile halved until no ring exceeds the vertex
// limit. The area never changes and the limit is met.
TEST(ChopIntoTiles, RepeatedChoppingMeetsVertexLimit) {
  std::mt19937 rng(99);
  const int32_t limit = 16;
  for (int iter = 0; iter < 10; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    OwnedList cur;
    test::MergeRings(test::RandomOctilinearRings(rng, 25, 300, true), cur.list);
    const __int128 area = TotalArea2(ResultRings(cur.list));
    BooleanSweep(cur.list, nullptr, BooleanOpCode::CutHoles, false);
    int32_t size = 256;
    int32_t largest = CountRings(cur.list);
    while (largest > limit) {
      ASSERT_GT(size, 0);
      OwnedList next;
      ChopIntoTiles(cur.list, next.list, size);
      BooleanSweep(next.list, nullptr, BooleanOpCode::CutHoles, false);
      std::swap(cur.list, next.list);
      largest = CountRings(cur.list);
      EXPECT_EQ(oracle::ToString(TotalArea2(ResultRings(cur.list))),
                oracle::ToString(area));
      size >>= 1;
    }
    for (const auto& r : ResultRings(cur.list))
      EXPECT_LE(r.size(), size_t(limit));
  }
}

TEST(ChopIntoTilesInBox, SingleTileMovesTheList) {
  OwnedList in, out;
  test::PushRing(out.list, oracle::Rect(100, 100, 110, 110));
  test::PushRing(in.list, oracle::Rect(0, 0, 5, 5));
  test::PushRing(in.list, oracle::Rect(3, 3, 8, 8));
  ChopIntoTilesInBox(in.list, out.list, Box(0, 0, 10, 10), 10, 10);
  EXPECT_TRUE(in.list.IsEmpty());
  EXPECT_EQ(in.list.pointCount, 0);
  EXPECT_EQ(out.list.pointCount, 12);
  EXPECT_EQ(out.list.ringCount, 3);
  test::ExpectConsistent(out.list);
}

TEST(ChopIntoTilesInBox, GridOverTheBoxMatchesAnd) {
  std::mt19937 rng(5);
  for (int iter = 0; iter < 20; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    OwnedList merged;
    test::MergeRings(test::RandomOctilinearRings(rng, 10, 200, true), merged.list);
    const Box box = RandomWindow(rng, -50, 200);
    const int32_t w = 10 + iter * 3, h = 25 - iter;
    OwnedList out;
    ChopIntoTilesInBox(merged.list, out.list, box, w, h);
    EXPECT_FALSE(merged.list.IsEmpty());
    const Rings pieces = ResultRings(out.list);
    // The grid covers whole tiles from the box's lower-left corner.
    const int64_t nx = (box.Width() + w - 1) / w, ny = (box.Height() + h - 1) / h;
    const Box grid(box.x1, box.y1, int32_t(box.x1 + nx * w),
                   int32_t(box.y1 + ny * h));
    EXPECT_EQ(oracle::ToString(TotalArea2(pieces)),
              oracle::ToString(test::AndArea2(merged.list, grid)));
    for (const auto& piece : pieces) {
      Box pb;
      for (const Point& p : piece) pb.Extend(p.x, p.y);
      const int64_t i = (int64_t(pb.x1) - box.x1) / w;
      const int64_t j = (int64_t(pb.y1) - box.y1) / h;
      EXPECT_LE(int64_t(pb.x2), box.x1 + (i + 1) * w);
      EXPECT_LE(int64_t(pb.y2), box.y1 + (j + 1) * h);
      EXPECT_GE(pb.x1, box.x1);
      EXPECT_GE(pb.y1, box.y1);
    }
  }
}

}  // namespace
}  // namespace velmar
