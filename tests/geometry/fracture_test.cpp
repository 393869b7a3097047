// Vertical fracturing: pieces checked against the input's area and winding
// numbers, and for vertical monotonicity.
#include "geometry/fracture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "foundation/error.h"
#include "geometry/point_list_order.h"
#include "support/point_list_fixtures.h"
#include "support/random_shapes.h"

namespace velmar {
namespace {

using oracle::OwnedList;
using oracle::ResultRings;
using oracle::TotalArea2;
using Rings = std::vector<std::vector<Point>>;

// Number of times the boundary turns back in x along the ring (vertical
// edges carry no direction). A vertically monotone piece turns back exactly
// twice: at its left and at its right end.
int TurnsInX(const std::vector<Point>& ring) {
  int first = 0, last = 0, turns = 0;
  const size_t n = ring.size();
  for (size_t i = 0; i < n; ++i) {
    const int64_t dx = int64_t(ring[(i + 1) % n].x) - ring[i].x;
    const int s = (dx > 0) - (dx < 0);
    if (s == 0) continue;
    if (first == 0) first = s;
    if (last != 0 && s != last) ++turns;
    last = s;
  }
  if (first != 0 && last != first) ++turns;
  return turns;
}

// The lobes of a ring that passes more than once through a position: the
// ring is cut at every repeated position into the loops between.
Rings Lobes(const std::vector<Point>& ring) {
  Rings out;
  std::vector<Point> open;
  for (const Point& p : ring) {
    auto it = std::find(open.begin(), open.end(), p);
    if (it == open.end()) {
      open.push_back(p);
      continue;
    }
    out.emplace_back(it, open.end());
    open.erase(it + 1, open.end());
  }
  out.push_back(open);
  return out;
}

// Every piece counter-clockwise and vertically monotone, the pieces' area
// the input's area, and every sample point of the input in exactly one
// piece (quarter-unit samples stay off the octilinear edges). With byLobe,
// a piece may touch itself at a vertex where input rings touched (the
// boolean engine's own form of touching regions): each of its lobes must
// then be monotone.
void ExpectFractured(const Rings& input, PSList& result, bool byLobe = false) {
  test::ExpectConsistent(result);
  const Rings pieces = ResultRings(result);
  Box bb;
  for (const auto& piece : pieces) {
    for (const auto& part : byLobe ? Lobes(piece) : Rings{piece}) {
      EXPECT_GT(oracle::Area2(part), 0) << "piece not counter-clockwise";
      EXPECT_EQ(TurnsInX(part), 2) << "piece not vertically monotone";
    }
    for (const Point& p : piece) bb.Extend(p.x, p.y);
  }
  EXPECT_EQ(oracle::ToString(TotalArea2(pieces)),
            oracle::ToString(TotalArea2(input)));
  oracle::ExpectSameCover(input, pieces, bb, 3, 2);
}

TEST(FractureVertical, RectangleIsNotMarked) {
  OwnedList l;
  test::PushRing(l.list, oracle::Rect(0, 0, 10, 5));
  EXPECT_EQ(FractureVertical(l.list, 1), 0);
  EXPECT_EQ(l.list.pointCount, 4);
  EXPECT_TRUE(test::SameCycle(ResultRings(l.list)[0], oracle::Rect(0, 0, 10, 5)));
}

TEST(FractureVertical, EmptyListAndBadForm) {
  OwnedList l;
  EXPECT_EQ(FractureVertical(l.list, 1), 0);
  test::PushRing(l.list, oracle::Rect(0, 0, 10, 5));
  EXPECT_THROW(FractureVertical(l.list, 2), Error);
}

struct ShapeCase {
  const char* name;
  std::vector<Point> ring;
  int n;
  Rings pieces;
};

TEST(FractureVertical, Shapes) {
  const std::vector<Point> ell = {{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}};
  const std::vector<Point> u = {{0, 0},   {30, 0},  {30, 20}, {20, 20},
                                {20, 10}, {10, 10}, {10, 20}, {0, 20}};
  // The vertex (5, 0) reaches the top edge, which is joined to it through
  // its previous vertex (0, 10), while its outgoing edge is horizontal.
  const std::vector<Point> wedge = {{5, 0}, {20, 0}, {20, 10}, {0, 10}};
  // Notches from below and from above meet at x = 10: the lower tip (10, 5)
  // is joined straight to the upper tip (10, 15).
  const std::vector<Point> notches = {{0, 0},   {8, 0},   {10, 5},  {12, 0},
                                      {20, 0},  {20, 20}, {12, 20}, {10, 15},
                                      {8, 20},  {0, 20}};
  const std::vector<ShapeCase> cases = {
      {"L cut at its reflex corner", ell, 1,
       {oracle::Rect(0, 0, 10, 20), oracle::Rect(10, 0, 20, 10)}},
      {"U cut at both inner corners", u, 1,
       {oracle::Rect(0, 0, 10, 20), oracle::Rect(10, 0, 20, 10),
        oracle::Rect(20, 0, 30, 20)}},
      {"code 31 skips the cut to a joined horizontal edge", wedge, 1, {wedge}},
      {"code 30 cuts it", wedge, 0,
       {{{0, 10}, {5, 0}, {5, 10}}, oracle::Rect(5, 0, 20, 10)}},
      // Every vertex on a chain gets its cut: (8, 0) and (12, 0) up to the
      // top, (8, 20) and (12, 20) down to the bottom.
      {"facing tips joined directly", notches, 1,
       {oracle::Rect(0, 0, 8, 20),
        {{8, 0}, {10, 5}, {10, 15}, {8, 20}},
        {{10, 5}, {12, 0}, {12, 20}, {10, 15}},
        oracle::Rect(12, 0, 20, 20)}},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedList l;
    test::PushRing(l.list, c.ring);
    EXPECT_EQ(FractureVertical(l.list, c.n), 1);
    test::ExpectConsistent(l.list);
    for (PSPoint* p = l.list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
    Rings got = ResultRings(l.list);
    ASSERT_EQ(got.size(), c.pieces.size());
    for (const auto& want : c.pieces) {
      bool found = false;
      for (const auto& g : got) found = found || test::SameCycle(g, want);
      EXPECT_TRUE(found) << "missing piece starting at (" << want[0].x << ", "
                         << want[0].y << ")";
    }
  }
}

TEST(MarkMonotoneChains, SplitsReflexTurnsInX) {
  // A notch from the right: (5, 5) turns back at the left and is split.
  OwnedList l;
  test::PushRing(l.list, {{0, 0}, {10, 0}, {10, 3}, {5, 5}, {10, 7}, {10, 10}, {0, 10}});
  SortPoints(l.list, ComparePointLess);
  // Only (5, 5) needs a mark: it is split into an upper-chain vertex (cut
  // down) and a lower-chain vertex (cut up). The arms' corners at x = 10
  // are convex turns in x.
  EXPECT_EQ(MarkMonotoneChains(l.list), 2);
  EXPECT_EQ(l.list.pointCount, 8);
  int lower = 0, upper = 0;
  for (PSPoint* p = l.list.head; p; p = p->link) {
    const bool l1 = p->flags & PSPointFlags::LowerChain;
    const bool u1 = p->flags & PSPointFlags::UpperChain;
    lower += l1;
    upper += u1;
    EXPECT_EQ(l1 || u1, p->x == 5 && p->y == 5);
  }
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 1);
  EXPECT_TRUE(IsSortedBy(l.list.head, ComparePoint));
  test::ExpectConsistent(l.list);
}

// A reflex turn in x is told by the turn of its two edges, not by which
// neighbour lies higher: here the notch tip (0, 0) has its far previous
// vertex above its near next vertex, yet the ring turns back into the notch.
TEST(FractureVertical, ReflexTurnWithHigherFarNeighbour) {
  const std::vector<Point> ring = {{-50, -50}, {200, -50}, {200, 80}, {100, 90},
                                   {0, 0},     {10, 20},   {10, 200}, {-50, 200}};
  ASSERT_GT(oracle::Area2(ring), 0);
  OwnedList l;
  test::PushRing(l.list, ring);
  EXPECT_EQ(FractureVertical(l.list, 1), 1);
  test::ExpectConsistent(l.list);
  const Rings pieces = ResultRings(l.list);
  for (const auto& piece : pieces) {
    EXPECT_GT(oracle::Area2(piece), 0);
    EXPECT_EQ(TurnsInX(piece), 2);
  }
  // Cut ends on slanted edges are rounded to the grid.
  EXPECT_NEAR((long double)TotalArea2(pieces), (long double)oracle::Area2(ring),
              2.0L * 8 * 300);
}

// A reflex vertex is split into two coincident vertices; the zero-length
// edge between them is not the "horizontal edge" of the degenerate-cut rule,
// so code 31 still cuts (88, -28) up to the horizontal edge above it.
TEST(FractureVertical, SplitVertexBelowHorizontalEdgeIsCut) {
  const std::vector<Point> ring = {{84, -24}, {88, -28}, {58, -58},
                                   {114, -58}, {114, -2}, {92, -24}};
  ASSERT_GT(oracle::Area2(ring), 0);
  OwnedList l;
  test::PushRing(l.list, ring);
  EXPECT_EQ(FractureVertical(l.list, 1), 1);
  ExpectFractured({ring}, l.list);
}

// Unmerged input: below the L's inner corner lies the top edge of another
// ring, not the L's own lower boundary. That cut is refused instead of
// re-linking the two rings into each other; the rings stay whole and their
// signed areas add up as before.
TEST(FractureVertical, OverlappingInputIsNotRelinkedAcrossRings) {
  const std::vector<Point> ell = {{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}};
  const std::vector<Point> box = oracle::Rect(5, 3, 15, 6);
  OwnedList l;
  test::PushRing(l.list, ell);
  test::PushRing(l.list, box);
  FractureVertical(l.list, 0);
  test::ExpectConsistent(l.list);
  EXPECT_NO_THROW(CheckConnectivity(l.list));
  EXPECT_EQ(oracle::ToString(TotalArea2(ResultRings(l.list))),
            oracle::ToString(oracle::Area2(ell) + oracle::Area2(box)));
}

// Random merged octilinear sets with holes: every cut ends on the grid, so
// the pieces cover the input exactly.
TEST(FractureVertical, RandomOctilinearSetsCoverExactly) {
  std::mt19937 rng(8086);
  for (int iter = 0; iter < 60; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    OwnedList l;
    test::MergeRings(test::RandomOctilinearRings(rng, 12, 240, iter % 4 != 0),
                     l.list);
    const Rings input = ResultRings(l.list);
    if (input.empty()) continue;
    FractureVertical(l.list, iter % 2);
    ExpectFractured(input, l.list);
  }
}

// Merged sets where shapes touch at vertices, as merging leaves them: two
// triangles tip to tip (a lower-chain vertex of one on an upper-chain vertex
// of the other), a hole touching its outer ring, a cut that ends exactly on
// a vertex of the boundary above. The touching rings stay apart: no cut of
// zero length ties them together, and a boundary used up by a cut leaves the
// sweep.
TEST(FractureVertical, ShapesTouchingAtVertices) {
  const Rings tips = {{{0, 0}, {20, 0}, {10, 10}}, {{10, 10}, {20, 20}, {0, 20}}};
  const Rings holeTip = {{{0, 0}, {40, 0}, {40, 40}, {20, 30}, {0, 40}},
                         {{20, 30}, {30, 20}, {10, 20}}};
  // The cut up from (33, 6) ends on (33, 8), the right end of the edge above.
  const Rings chain = {{{32, 6}, {33, 4}, {34, 6}, {33, 8}},
                       {{33, 8}, {36, 12}, {33, 10}},
                       {{36, 10}, {38, 12}, {36, 12}},
                       {{37, 14}, {38, 12}, {39, 12}}};
  for (const Rings* input : {&tips, &holeTip, &chain}) {
    for (int n = 0; n < 2; ++n) {
      // Either order of the rings in the list.
      for (int reversed = 0; reversed < 2; ++reversed) {
        SCOPED_TRACE("set " + std::to_string(input - &tips) + " form " +
                     std::to_string(n) + " order " + std::to_string(reversed));
        OwnedList l;
        Rings rings = *input;
        if (reversed) std::reverse(rings.begin(), rings.end());
        for (const auto& r : rings) test::PushRing(l.list, r);
        ASSERT_NO_THROW(FractureVertical(l.list, n));
        ExpectFractured(*input, l.list);
      }
    }
  }
  // The tips each get their own cuts: four triangles with code 30.
  OwnedList l;
  for (const auto& r : tips) test::PushRing(l.list, r);
  FractureVertical(l.list, 0);
  EXPECT_EQ(ResultRings(l.list).size(), 4u);
}

// Merged octilinear sets on a small grid, where shapes touch each other at
// vertices and along edges all the time.
TEST(FractureVertical, DenseSetsWithTouchingShapesCoverExactly) {
  std::mt19937 rng(1170);
  for (int iter = 0; iter < 300; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    OwnedList l;
    test::MergeRings(
        test::RandomOctilinearRings(rng, 4 + iter % 20, 20 + iter % 5 * 10, true),
        l.list);
    const Rings input = ResultRings(l.list);
    if (input.empty()) continue;
    ASSERT_NO_THROW(FractureVertical(l.list, iter % 2));
    ExpectFractured(input, l.list, true);
  }
}

// Rings at any angle: cut ends are rounded, so only points well away from
// the input's edges are sampled, and the area agrees to the rounding.
TEST(FractureVertical, RandomStarsAreMonotone) {
  std::mt19937 rng(2718);
  for (int iter = 0; iter < 40; ++iter) {
    SCOPED_TRACE("iteration " + std::to_string(iter));
    const std::vector<Point> star = test::RandomStarRing(rng, 500, 500, 480, 16);
    OwnedList l;
    test::PushRing(l.list, star);
    FractureVertical(l.list, 1);
    test::ExpectConsistent(l.list);
    const Rings pieces = ResultRings(l.list);
    for (const auto& piece : pieces) {
      EXPECT_GT(oracle::Area2(piece), 0);
      EXPECT_EQ(TurnsInX(piece), 2);
    }
    const long double want = (long double)oracle::Area2(star);
    const long double got = (long double)TotalArea2(pieces);
    EXPECT_NEAR(got, want, 2.0L * 16 * 1000);  // half a unit per cut end
    for (int32_t x = 30; x < 1000; x += 23)
      for (int32_t y = 31; y < 1000; y += 29) {
        if (oracle::NearRing(x, y, star)) continue;
        ASSERT_EQ(oracle::ResultWinding(pieces, 2 * x, 2 * y),
                  oracle::Winding(star, 2 * x, 2 * y) > 0 ? 1 : 0)
            << "at (" << x << ", " << y << ")";
      }
  }
}

}  // namespace
}  // namespace velmar
