// Edge index and band checks: the worked cases, then seeded random any-angle
// inputs against a brute-force pairing of every tested edge with every
// indexed edge.
#include "geometry/edge_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/point_list_order.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using test::AddRing;
using test::RingPoints;
using Ring = std::vector<Point>;

// An indexed list with its edge index; the index is cleared before the list.
struct Indexed {
  PSList list;
  DBSearchSystem tree;
  explicit Indexed(const std::vector<Ring>& rings) {
    for (const Ring& r : rings) AddRing(list, r);
    for (const Ring& r : rings)
      for (const Point& pt : r) tree.region.Extend(pt.x, pt.y);
    IndexEdges(list, tree);
  }
  ~Indexed() {
    DBSearchSystem::Clear(tree);
    ClearPointList(list);
  }
};

// The closed rings of a list, each once (the list is not changed).
std::vector<Ring> Rings(const PSList& out) {
  std::vector<Ring> rings;
  std::set<const PSPoint*> seen;
  for (const PSPoint* p = out.head; p; p = p->link) {
    if (seen.count(p)) continue;
    const PSPoint* end = nullptr;
    rings.push_back(test::WalkRing(p, seen, end));
  }
  return rings;
}

Box BoxOf(const Ring& r) {
  Box b;
  for (const Point& p : r) b.Extend(p.x, p.y);
  return b;
}

const Ring kSquare = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};

TEST(EdgeBandChecks, TwoLayerSpaceFindsTheFacingEdgeOnly) {
  Indexed partner({{{15, 0}, {25, 0}, {25, 10}, {15, 10}}});
  PSList tested, out;
  test::ListGuard g1{tested}, g2{out};
  AddRing(tested, kSquare);
  CheckSpaceEdges(tested, partner.tree, out, 10, 1, 2);
  std::vector<Ring> rings = Rings(out);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(test::SameCycle(rings[0], {{15, 0}, {15, 10}, {10, 10}, {10, 0}}));
  EXPECT_EQ(out.pointCount, 4);
  EXPECT_EQ(out.ringCount, 1);

  // A gap equal to the distance only touches the band: no region.
  PSList none;
  test::ListGuard g3{none};
  CheckSpaceEdges(tested, partner.tree, none, 5, 1, 2);
  EXPECT_EQ(none.pointCount, 0);
}

TEST(EdgeBandChecks, VertexBoxToTheNearestPartnerPoint) {
  Indexed partner({{{13, 13}, {23, 13}, {23, 23}, {13, 23}}});
  PSList tested, out;
  test::ListGuard g1{tested}, g2{out};
  AddRing(tested, kSquare);
  CheckSpaceEdges(tested, partner.tree, out, 5, 1, 1);
  std::vector<Ring> rings = Rings(out);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(test::SameCycle(rings[0], {{10, 10}, {13, 10}, {13, 13}, {10, 13}}));
}

TEST(EdgeBandChecks, VertexBoxOfZeroHeightIsWidenedByUnit) {
  // The partner's top edge runs back along the line of the bottom edge
  // beyond (10, 0): nearest point (13, 0).
  Indexed partner({{{13, -5}, {20, -5}, {20, 0}, {13, 0}}});
  PSList tested, out;
  test::ListGuard g1{tested}, g2{out};
  AddRing(tested, kSquare);
  CheckSpaceEdges(tested, partner.tree, out, 5, 2, 1);
  std::vector<Box> boxes;
  for (const Ring& r : Rings(out)) boxes.push_back(BoxOf(r));
  EXPECT_NE(std::find(boxes.begin(), boxes.end(), Box(10, -2, 13, 2)),
            boxes.end());
}

TEST(EdgeBandChecks, DirectionRuleByMode) {
  // The tested edge (0,0)->(10,0) and a partner edge 3 away, in the band
  // (below for d > 0, above for d < 0), running against the tested edge
  // (facing) or with it. The partner's side edges project to single points.
  struct Case {
    Ring partner;
    int32_t d;
    int mode;
    bool region;
  };
  const Ring belowAgainst = {{2, -8}, {8, -8}, {8, -3}, {2, -3}};
  const Ring belowAlong = {{2, -8}, {2, -3}, {8, -3}, {8, -8}};
  const Ring aboveAgainst = {{2, 3}, {2, 8}, {8, 8}, {8, 3}};
  const Ring aboveAlong = {{2, 3}, {8, 3}, {8, 8}, {2, 8}};
  const Case cases[] = {
      {aboveAgainst, -5, 0, true}, {aboveAlong, -5, 0, false},
      {belowAgainst, 5, 1, true},  {belowAlong, 5, 1, false},
      {belowAgainst, 5, 2, false}, {belowAlong, 5, 2, true},
      {belowAgainst, 5, 3, true},  {belowAlong, 5, 3, true},
  };
  for (const Case& c : cases) {
    Indexed partner({c.partner});
    PSList out;
    test::ListGuard g{out};
    CheckEdgeBand(Box(0, 0, 10, 0), c.d, partner.tree, out, 2, c.mode);
    const Box expected = c.d > 0 ? Box(2, -3, 8, 0) : Box(2, 0, 8, 3);
    size_t facing = 0;
    for (const Ring& r : Rings(out)) {
      if (BoxOf(r) == expected) {
        ++facing;
        // Kept by the rule of modes 0 to 2: counter-clockwise.
        if (c.mode < 3) {
          EXPECT_GT(test::ShoelaceArea2(r), 0) << "mode " << c.mode;
        }
      } else {
        EXPECT_EQ(c.mode, 3) << "only mode 3 keeps a point projection";
      }
    }
    EXPECT_EQ(facing, c.region ? 1u : 0u) << "mode " << c.mode;
  }
}

TEST(EdgeBandChecks, KindThreeKeepsParallelPartnersOnly) {
  // Against the edge (0,0)->(10,0): an oblique partner and a parallel one
  // below it.
  Indexed partner({{{3, -4}, {7, -1}, {1, -2}}, {{9, -3}, {5, -3}, {5, -4}}});
  PSList two, three;
  test::ListGuard g1{two}, g2{three};
  CheckEdgeBand(Box(0, 0, 10, 0), 5, partner.tree, two, 2, 1);
  CheckEdgeBand(Box(0, 0, 10, 0), 5, partner.tree, three, 3, 1);
  EXPECT_GT(Rings(two).size(), Rings(three).size());
  // The region of the parallel piece (9,-3)->(5,-3) only.
  ASSERT_EQ(Rings(three).size(), 1u);
  EXPECT_EQ(BoxOf(Rings(three)[0]), Box(5, -3, 9, 0));
}

// An enclosed rectangle one of whose sides lies on the enclosing
// rectangle's side (margin 0, less than any rule) is reported there: the
// box of the shared stretch, widened by unit across it; the other sides
// keep margins of at least d and report nothing. A side one unit in gives
// the band strip instead.
TEST(EdgeBandChecks, EncloseWithZeroMarginReportsTheSharedStretch) {
  const Ring enclosing = {{0, 0}, {40, 0}, {40, 40}, {0, 40}};
  struct Case { const char* what; Ring enclosed; int kind; std::vector<Box> want; };
  const std::vector<Case> cases = {
      {"right", {{20, 10}, {40, 10}, {40, 20}, {20, 20}}, 2, {Box(39, 10, 41, 20)}},
      {"left", {{0, 10}, {20, 10}, {20, 20}, {0, 20}}, 2, {Box(-1, 10, 1, 20)}},
      {"bottom", {{10, 0}, {20, 0}, {20, 20}, {10, 20}}, 2, {Box(10, -1, 20, 1)}},
      {"top", {{10, 20}, {20, 20}, {20, 40}, {10, 40}}, 0, {Box(10, 39, 20, 41)}},
      {"corner", {{30, 30}, {40, 30}, {40, 40}, {30, 40}}, 3,
       {Box(30, 39, 40, 41), Box(39, 30, 41, 40)}},
      // Kind 1: only the vertex test at (40, 20), whose nearest partner
      // point is the vertex itself.
      {"vertex tests only", {{20, 10}, {40, 10}, {40, 20}, {20, 20}}, 1, {Box(39, 19, 41, 21)}},
      {"one unit in", {{20, 10}, {39, 10}, {39, 20}, {20, 20}}, 2, {Box(39, 10, 40, 20)}},
  };
  Indexed partner({enclosing});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PSList tested, out;
    test::ListGuard g1{tested}, g2{out};
    AddRing(tested, c.enclosed);
    CheckEncEdges(tested, partner.tree, out, 8, 1, c.kind);
    std::vector<Box> got;
    for (const Ring& r : Rings(out)) {
      EXPECT_EQ(r.size(), 4u);
      got.push_back(BoxOf(r));
    }
    auto less = [](const Box& a, const Box& b) {
      return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
    };
    std::sort(got.begin(), got.end(), less);
    std::vector<Box> want = c.want;
    std::sort(want.begin(), want.end(), less);
    EXPECT_EQ(got, want);
  }
  // On a slanted side: the shared stretch (10, 10)-(20, 20) of the
  // enclosing triangle's diagonal, as its box.
  Indexed slanted({{{0, 0}, {40, 0}, {40, 40}}});
  PSList tested, out;
  test::ListGuard g1{tested}, g2{out};
  AddRing(tested, {{30, 10}, {20, 20}, {10, 10}});
  AddRing(tested, {{30, 4}, {34, 4}, {34, 8}, {30, 8}});
  CheckEncEdges(tested, slanted.tree, out, 3, 1, 2);
  std::vector<Ring> rings = Rings(out);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_EQ(BoxOf(rings[0]), Box(10, 10, 20, 20));
}

TEST(EdgeBandChecks, ZeroDistanceHasAnEmptyBand) {
  // An oblique partner crossing the oblique edge's line and an
  // axis-parallel one beside an axis-parallel edge: no band, no region.
  Indexed partner({{{2, 8}, {8, -2}, {9, 9}}, {{12, -3}, {20, -3}, {20, 3}, {12, 3}}});
  for (const Box& edge : {Box(0, 0, 10, 10), Box(10, 0, 10, 10)}) {
    PSList out;
    test::ListGuard g{out};
    CheckEdgeBand(edge, 0, partner.tree, out, 0, 3);
    EXPECT_EQ(out.pointCount, 0);
    EXPECT_EQ(NearestPartnerDistance(partner.tree, edge, 0), kNoPartnerDistance);
  }
}

TEST(EdgeIndex, CollectEdgesExcludesOnlyTheSameDirection) {
  Indexed idx({kSquare});
  std::vector<Box> out;
  Box q(-1, -1, 11, 11);
  EXPECT_EQ(CollectEdges(idx.tree, q, Box(0, 0, 10, 0), out), 3);
  out.clear();
  EXPECT_EQ(CollectEdges(idx.tree, q, Box(10, 0, 0, 0), out), 4);
  // Clipped to the query box unless wholly inside it.
  out.clear();
  ASSERT_EQ(CollectEdges(idx.tree, Box(2, -1, 5, 1), Box(), out), 1);
  EXPECT_EQ(out[0], Box(2, 0, 5, 0));
}

TEST(EdgeIndex, NearestPartnerDistance) {
  const Ring ccw = {{2, -8}, {8, -8}, {8, -3}, {2, -3}};
  const Ring cw = {{2, -3}, {8, -3}, {8, -8}, {2, -8}};
  Indexed a({ccw}), b({cw});
  EXPECT_EQ(NearestPartnerDistance(a.tree, Box(0, 0, 10, 0), 5), 3);
  EXPECT_EQ(NearestPartnerDistance(b.tree, Box(0, 0, 10, 0), 5), 2147483646);
  EXPECT_EQ(kNoPartnerDistance, 2147483646);
}

TEST(EdgeIndex, OpenChainsHaveNoEdgeAtTheirEnd) {
  PSList chain;
  test::ListGuard g{chain};
  test::AddChain(chain, {{0, 0}, {10, 0}, {10, 10}});
  DBSearchSystem tree(Box(-100, -100, 100, 100));
  IndexEdges(chain, tree);
  EXPECT_EQ(tree.itemCount, 2);
  // Width of an edge layer: the chain's missing neighbour is no edge.
  PSList out;
  test::ListGuard g2{out};
  CheckWidthEdges(chain, tree, out, 20, 1, 0);
  DBSearchSystem::Clear(tree);
  test::ExpectConsistent(out);
}

TEST(EdgeIndex, RulesBeyond46340Units) {
  // d * d does not fit into int32: the vertex test still finds a partner
  // point at distance 50000 < 60000 and none at 70000.
  const int32_t d = 60000;
  for (int32_t gap : {50000, 70000}) {
    Indexed partner({{{10 + gap, 10 + 1}, {10 + gap + 10, 10 + 1},
                      {10 + gap + 10, 10 + 20}, {10 + gap, 10 + 20}}});
    PSList tested, out;
    test::ListGuard g1{tested}, g2{out};
    AddRing(tested, kSquare);
    CheckSpaceEdges(tested, partner.tree, out, d, 1, 1);
    EXPECT_EQ(out.ringCount > 0, gap < d) << gap;
  }
}

// The band copy of an index against the tree it was taken from: the same
// edges, clipped the same way, in the same order, for boxes of every shape
// (thin bands, points, boxes on edge lines, boxes wider than the layer) and
// with and without an excluded edge; and the per-edge tests and list
// checks through either give the same regions in the same order.
TEST(EdgeBandIndex, AnswersAsTheTreeOnRandomLayers) {
  std::mt19937 rng(0x0ba4d);
  for (int round = 0; round < 60; ++round) {
    const int32_t span = round % 3 == 0 ? 60 : round % 3 == 1 ? 2000 : 2000000;
    const bool manhattan = round % 2 == 0;
    std::uniform_int_distribution<int32_t> coord(-span, span);
    std::uniform_int_distribution<int32_t> side(1, std::max(2, span / 8));
    std::vector<Ring> rings;
    const int ringCount = 1 + int(rng() % 120);
    for (int i = 0; i < ringCount; ++i) {
      const int32_t x = coord(rng), y = coord(rng);
      const int32_t w = side(rng), h = side(rng);
      if (manhattan) {
        Ring r = {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
        if (rng() % 3 == 0) std::reverse(r.begin(), r.end());
        rings.push_back(r);
      } else {
        Ring r;
        const int n = 3 + int(rng() % 5);
        for (int k = 0; k < n; ++k) r.push_back({x + int32_t(rng() % w), y + int32_t(rng() % h)});
        rings.push_back(r);
      }
    }
    Indexed idx(rings);
    const EdgeBandIndex band(idx.tree);
    ASSERT_EQ(band.Size(), idx.tree.itemCount);

    // Edges of the layer for exclusion and as tested edges.
    std::vector<Box> edges;
    for (const PSPoint* p = idx.list.head; p; p = p->link)
      edges.push_back(Box(p->x, p->y, p->next->x, p->next->y));

    for (int k = 0; k < 300; ++k) {
      Box q;
      switch (k % 4) {
        case 0: {  // any box
          q.Extend(coord(rng), coord(rng));
          q.Extend(coord(rng), coord(rng));
          break;
        }
        case 1: {  // a thin band along a layer edge
          const Box& e = edges[rng() % edges.size()];
          const int32_t d = int32_t(rng() % 3 == 0 ? 1 : 1 + rng() % std::max(2, span / 10));
          q.Extend(e.x1, e.y1);
          q.Extend(e.x2, e.y2);
          if (rng() % 2) q.x2 += d; else q.y2 += d;
          break;
        }
        case 2: {  // a point or a box of zero width
          const int32_t x = coord(rng), y = coord(rng);
          q = Box(x, y, x + (rng() % 2 ? 0 : side(rng)), y);
          break;
        }
        default:  // wider than the layer
          q = Box(-3 * span, -3 * span, 3 * span, 3 * span);
      }
      const Box exclude = rng() % 2 ? edges[rng() % edges.size()] : Box();
      std::vector<Box> fromTree, fromBand;
      const int32_t n1 = CollectEdges(idx.tree, q, exclude, fromTree);
      const int32_t n2 = band.CollectEdges(q, exclude, fromBand);
      ASSERT_EQ(n1, n2);
      ASSERT_EQ(fromTree, fromBand) << "round " << round << " query " << k;
    }

    // Per-edge tests with both signs of d and every mode.
    for (int k = 0; k < 100; ++k) {
      const Box& e = edges[rng() % edges.size()];
      const int32_t d = int32_t(1 + rng() % std::max(2, span / 5)) * (rng() % 2 ? 1 : -1);
      const int mode = int(rng() % 4), kind = int(rng() % 4);
      PSList a, b;
      test::ListGuard ga{a}, gb{b};
      CheckEdgeBand(e, d, idx.tree, a, kind, mode);
      CheckEdgeBand(e, d, band, b, kind, mode);
      Box ext;
      OffsetPoint(e, std::abs(d), true, ext.x2, ext.y2);
      ext.x1 = e.x2, ext.y1 = e.y2;
      CheckCornerBand(ext, d, int64_t(d) * d, idx.tree, a, 1, mode);
      CheckCornerBand(ext, d, int64_t(d) * d, band, b, 1, mode);
      ASSERT_EQ(a.pointCount, b.pointCount);
      for (const PSPoint *p = a.head, *r = b.head; p; p = p->link, r = r->link) {
        ASSERT_EQ(p->x, r->x);
        ASSERT_EQ(p->y, r->y);
        ASSERT_EQ(p->next->x, r->next->x);
        ASSERT_EQ(p->next->y, r->next->y);
      }
      EXPECT_EQ(NearestPartnerDistance(idx.tree, e, d), NearestPartnerDistance(band, e, d));
    }
  }
}

// The copy taken straight from a list holds the edges IndexEdges indexes
// (open chains without their end) and answers by brute force over them, in
// link order, with and without an excluded edge. The large layers give the
// hierarchy several node levels; their queries range from thin bands to
// boxes over the whole layer.
TEST(EdgeBandIndex, ListCopyAnswersAsBruteForce) {
  struct Layers {
    int rounds, minShapes, maxShapes;
    int32_t span, shapeSize;
  };
  const Layers cases[] = {{40, 1, 40, 300, 600}, {3, 6000, 9000, 400000, 3000}};
  std::mt19937 rng(0x11573);
  for (const Layers& c : cases) {
    std::uniform_int_distribution<int32_t> coord(-c.span, c.span);
    std::uniform_int_distribution<int32_t> near(-c.shapeSize / 2, c.shapeSize / 2);
    for (int round = 0; round < c.rounds; ++round) {
      PSList list;
      test::ListGuard g{list};
      const int shapes = c.minShapes + int(rng() % uint32_t(c.maxShapes - c.minShapes + 1));
      std::vector<Box> edges;
      for (int i = 0; i < shapes; ++i) {
        std::vector<Point> pts;
        const int32_t x = coord(rng), y = coord(rng);
        const int n = 2 + int(rng() % 5);
        for (int k = 0; k < n; ++k) pts.push_back({x + near(rng), y + near(rng)});
        if (rng() % 4 == 0) test::AddChain(list, pts);
        else AddRing(list, pts);
      }
      for (const PSPoint* p = list.head; p; p = p->link) {
        if (p->next) edges.push_back(Box(p->x, p->y, p->next->x, p->next->y));
      }
      const EdgeBandIndex band(list);
      ASSERT_EQ(band.Size(), int32_t(edges.size()));
      for (int k = 0; k < 200; ++k) {
        Box q;
        if (k % 2 == 0) {  // any box
          q.Extend(coord(rng), coord(rng));
          q.Extend(coord(rng), coord(rng));
        } else {  // a band along an edge of the layer
          const Box& e = edges[rng() % edges.size()];
          q.Extend(e.x1, e.y1);
          q.Extend(e.x2, e.y2);
          const int32_t d = 1 + int32_t(rng() % uint32_t(c.shapeSize));
          if (rng() % 2) q.x1 -= d; else q.y2 += d;
        }
        const Box exclude = rng() % 2 ? edges[rng() % edges.size()] : Box();
        std::vector<Box> want, got;
        for (Box e : edges) {
          if (e == exclude || !Normalized(e).Overlaps(q)) continue;
          if (!q.Contains(Normalized(e)) && !MeetsBox(e, q)) continue;
          want.push_back(e);
        }
        ASSERT_EQ(band.CollectEdges(q, exclude, got), int32_t(want.size()));
        ASSERT_EQ(got, want);
      }
    }
  }
}

// The copy taken from a list over a region holds the edges in the order of
// the tree IndexEdges builds over that region, so a check served from it
// reports the same rings in the same order. Layers of every make: spread
// and clustered (deep splits), many copies of one edge (chains that never
// split), thin slivers and points, open chains, shapes outside the region;
// regions: the layer's box, a wider window, one narrower than the split
// limit, and an invalid one (the tree keeps one chain).
TEST(EdgeBandIndex, RegionCopyHasTheTreesOrder) {
  std::mt19937 rng(0x7ee0d);
  const Box everything(-(1 << 30), -(1 << 30), 1 << 30, 1 << 30);
  for (int round = 0; round < 160; ++round) {
    PSList list;
    test::ListGuard g{list};
    const int32_t span = round % 4 == 0 ? 30 : round % 4 == 1 ? 3000 : 3000000;
    std::uniform_int_distribution<int32_t> coord(-span, span);
    const int shapes = 1 + int(rng() % (round % 5 == 0 ? 3000 : 200));
    for (int i = 0; i < shapes; ++i) {
      const int32_t x = coord(rng) / (round % 3 == 0 ? 50 : 1), y = coord(rng);
      const int32_t w = 1 + int32_t(rng() % uint32_t(std::max(2, span / 20)));
      std::vector<Point> pts;
      switch (rng() % 5) {
        case 0:  // the same square again and again
          pts = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
          break;
        case 1:  // a sliver or a point
          pts = {{x, y}, {x + w, y}, {x + w, y}};
          if (rng() % 2) pts = {{x, y}, {x, y}};
          break;
        default: {
          const int n = 2 + int(rng() % 5);
          for (int k = 0; k < n; ++k)
            pts.push_back({x + int32_t(rng() % uint32_t(w)), y + int32_t(rng() % uint32_t(w))});
        }
      }
      if (rng() % 5 == 0) test::AddChain(list, pts);
      else AddRing(list, pts);
    }
    const Box bbox = ListBBox(list);
    Box region;
    switch (round % 4) {
      case 0: region = bbox; break;
      case 1: region = Box(bbox.x1 - 7, bbox.y1 - 1000, bbox.x2 + 3 * span, bbox.y2 + 5); break;
      case 2: region = Box(-10, -10, 10, 10); break;  // narrower than many shapes
      default: region = round % 8 == 3 ? Box() : Box(bbox.x1, bbox.y1, bbox.x1, bbox.y2);
    }
    DBSearchSystem tree(region);
    IndexEdges(list, tree);
    std::vector<Box> fromTree, fromList;
    {
      const EdgeBandIndex viaTree(tree);
      viaTree.CollectEdges(everything, Box(), fromTree);
    }
    DBSearchSystem::Clear(tree);
    const EdgeBandIndex viaList(list, region);
    viaList.CollectEdges(everything, Box(), fromList);
    ASSERT_EQ(int32_t(fromTree.size()), viaList.Size()) << "round " << round;
    ASSERT_EQ(fromTree, fromList) << "round " << round;
  }
}

// The list checks served from the partner list give the tree's results,
// ring by ring, for every check and kind, on one layer and on two.
TEST(EdgeBandIndex, ChecksFromTheListMatchChecksFromTheTree) {
  std::mt19937 rng(0xc4ec5);
  using TreeCheck = void (*)(const PSList&, const DBSearchSystem&, PSList&, int32_t, int32_t, int);
  using ListCheck = void (*)(const PSList&, const PSList&, const Box&, PSList&, int32_t, int32_t, int);
  const std::pair<TreeCheck, ListCheck> checks[] = {
      {CheckSpaceEdges, CheckSpaceEdges},
      {CheckWidthEdges, CheckWidthEdges},
      {CheckEncEdges, CheckEncEdges}};
  int nonEmpty = 0;
  for (int round = 0; round < 24; ++round) {
    PSList tested, partners;
    test::ListGuard g1{tested}, g2{partners};
    std::uniform_int_distribution<int32_t> coord(0, 20000);
    for (PSList* l : {&tested, &partners}) {
      for (int i = 0; i < 300; ++i) {
        const int32_t x = coord(rng), y = coord(rng);
        std::vector<Point> pts;
        const int n = 3 + int(rng() % 4);
        for (int k = 0; k < n; ++k)
          pts.push_back({x + int32_t(rng() % 900), y + int32_t(rng() % 900)});
        AddRing(*l, pts);
      }
    }
    const bool twoLayers = round % 2 == 1;
    const PSList& partner = twoLayers ? partners : tested;
    const Box region = round % 4 < 2 ? ListBBox(partner) : Box(-500, -500, 30000, 25000);
    const auto& [treeCheck, listCheck] = checks[round % 3];
    const int kind = int(rng() % 4);
    const int32_t d = 50 + int32_t(rng() % 400);
    PSList a, b;
    test::ListGuard ga{a}, gb{b};
    {
      EdgeIndex index(partner, region);
      treeCheck(tested, index.tree, a, d, 1, kind);
    }
    listCheck(tested, partner, region, b, d, 1, kind);
    nonEmpty += a.pointCount > 0 ? 1 : 0;
    ASSERT_EQ(a.pointCount, b.pointCount) << "round " << round;
    for (const PSPoint *p = a.head, *r = b.head; p; p = p->link, r = r->link) {
      ASSERT_EQ(Point(p->x, p->y), Point(r->x, r->y)) << "round " << round;
      ASSERT_EQ(Point(p->next->x, p->next->y), Point(r->next->x, r->next->y)) << "round " << round;
    }
  }
  EXPECT_GT(nonEmpty, 16);
}

// SPACE and WIDTH over a list are, edge by edge in link order, the
// edge-band test and, at a convex (SPACE) or concave (WIDTH) vertex, the
// vertex test on the extension d beyond it; the list checks answer both
// tests of an edge through one walk of the index, and must give what the
// two tests give one after the other, ring by ring.
TEST(EdgeBandIndex, ListChecksAreTheirPerEdgeTests) {
  std::mt19937 rng(0x5e9a7);
  std::uniform_int_distribution<int32_t> coord(0, 12000);
  int rings = 0;
  for (int round = 0; round < 24; ++round) {
    PSList layer;
    test::ListGuard g{layer};
    for (int i = 0; i < 200; ++i) {
      const int32_t x = coord(rng), y = coord(rng);
      std::vector<Point> pts;
      const int n = 3 + int(rng() % 5);
      for (int k = 0; k < n; ++k) pts.push_back({x + int32_t(rng() % 700), y + int32_t(rng() % 700)});
      AddRing(layer, pts);
    }
    const bool space = round % 2 == 0;
    const int kind = round % 3 == 0 ? 0 : round % 3 == 1 ? 2 : 3;
    const int32_t d = 40 + int32_t(rng() % 300);
    EdgeIndex index(layer, ListBBox(layer));
    PSList got, want;
    test::ListGuard g1{got}, g2{want};
    if (space) CheckSpaceEdges(layer, index.tree, got, d, 1, kind);
    else CheckWidthEdges(layer, index.tree, got, d, 1, kind);
    const int32_t sd = space ? d : -d;
    for (const PSPoint* p = layer.head; p; p = p->link) {
      const PSPoint* q = p->next;
      const Box edge(p->x, p->y, q->x, q->y);
      CheckEdgeBand(edge, sd, index.tree, want, kind, space ? 1 : 0);
      const PSPoint* r = q->next;
      const __int128 turn = (__int128(q->x) - p->x) * (int64_t(r->y) - q->y) -
                            (__int128(q->y) - p->y) * (int64_t(r->x) - q->x);
      if (kind > 1 || (space ? turn <= 0 : turn >= 0)) continue;
      Box ext(q->x, q->y, 0, 0);
      OffsetPoint(edge, d, true, ext.x2, ext.y2);
      CheckCornerBand(ext, sd, int64_t(d) * d, index.tree, want, 1, space ? 1 : 0);
    }
    rings += want.ringCount;
    ASSERT_EQ(got.pointCount, want.pointCount) << "round " << round;
    for (const PSPoint *a = got.head, *b = want.head; a; a = a->link, b = b->link) {
      ASSERT_EQ(Point(a->x, a->y), Point(b->x, b->y)) << "round " << round;
      ASSERT_EQ(Point(a->next->x, a->next->y), Point(b->next->x, b->next->y)) << "round " << round;
    }
  }
  EXPECT_GT(rings, 1000);
  // An extension that leaves the coordinate range fails the check, as the
  // vertex test alone does, rather than being cut short.
  PSList edgeOfTheWorld;
  test::ListGuard g{edgeOfTheWorld};
  AddRing(edgeOfTheWorld, {{INT32_MAX - 30, 0}, {INT32_MAX - 10, 5}, {INT32_MAX - 30, 10}});
  EdgeIndex index(edgeOfTheWorld, ListBBox(edgeOfTheWorld));
  PSList out;
  test::ListGuard go{out};
  EXPECT_THROW(CheckSpaceEdges(edgeOfTheWorld, index.tree, out, 40, 1, 0), Error);
}

}  // namespace
}  // namespace velmar
