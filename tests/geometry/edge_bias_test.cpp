// Edge bias: the bias field of a point, the merges of pieces along input
// edges (min, max, length-weighted mean, tolerance, guard pieces, short
// edges), and the offset of biased rings against boxes worked out by hand
// and random rectangles whose sides move by their own biases.
#include "geometry/edge_bias.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "foundation/error.h"
#include "geometry/point_list_order.h"
#include "support/list_snapshot.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

// One vertex of a fixture ring: position, input vertex (marker) or not, and
// the bias of the piece starting there.
struct V {
  int32_t x, y;
  bool marker;
  int32_t bias;
};

// The ring as a list in ring order (link order = ring order).
PSPoint* Build(PSList& list, const std::vector<V>& ring) {
  PSPoint* first = nullptr;
  PSPoint* last = nullptr;
  for (const V& v : ring) {
    PSPoint* p = AppendPoint(list, v.x, v.y);
    p->flags = v.marker ? PSPointFlags::BiasInputVertex : 0;
    SetPointBias(p, v.bias);
    if (!first) first = p;
    LinkPoints(last, p);
    last = p;
  }
  LinkPoints(last, first);
  ++list.ringCount;
  return first;
}

// The ring from first: positions and biases in ring order.
std::vector<V> Read(const PSPoint* first) {
  std::vector<V> out;
  const PSPoint* p = first;
  do {
    out.push_back({p->x, p->y, (p->flags & PSPointFlags::BiasInputVertex) != 0, PointBias(p)});
    p = p->next;
  } while (p != first);
  return out;
}

bool operator==(const V& a, const V& b) {
  return a.x == b.x && a.y == b.y && a.marker == b.marker && a.bias == b.bias;
}
std::ostream& operator<<(std::ostream& os, const V& v) {
  return os << "(" << v.x << "," << v.y << (v.marker ? " M" : "") << " b" << v.bias << ")";
}

TEST(EdgeBiasFlags, SignMagnitudeAndKeptBits) {
  PSPoint p{};
  p.flags = PSPointFlags::Deleted | PSPointFlags::BiasInputVertex | PSPointFlags::Visited;
  SetPointBias(&p, -3);
  EXPECT_EQ(p.flags, 0x8003 | (3 << 3) | 0x0004);
  EXPECT_EQ(PointBias(&p), -3);
  SetPointBias(&p, 0);
  EXPECT_EQ(p.flags, 0x8003);
  SetPointBias(&p, 4095);
  EXPECT_EQ(PointBias(&p), 4095);
  SetPointBias(&p, -4095);
  EXPECT_EQ(PointBias(&p), -4095);
  EXPECT_THROW(SetPointBias(&p, 4096), Error);
  EXPECT_THROW(SetPointBias(&p, -4096), Error);
  EXPECT_EQ(PointBias(&p), -4095);  // a refused bias leaves the flags alone
  PSPoint q{};
  q.flags = PSPointFlags::Deleted;
  CopyPointBias(&q, &p);
  EXPECT_EQ(q.flags, PSPointFlags::Deleted | (4095 << 3) | 0x0004);
}

// An input edge (0,0) -> (40,0) cut at 10: pieces of length 10 and 30 with
// biases 4 and 8, inside a 40 x 40 square of markers.
std::vector<V> TwoPieces(int32_t b1, int32_t b2) {
  return {{0, 0, true, b1}, {10, 0, false, b2}, {40, 0, true, 0},
          {40, 40, true, 0}, {0, 40, true, 0}};
}

TEST(EdgeBiasMerge, ModesOfTwoPieces) {
  struct Case { int mode; int32_t tol; int32_t b1, b2; int absorbed; int32_t result; };
  const Case cases[] = {
      {2, 4, 4, 8, 1, 7},   // (10*4 + 30*8) / 40
      {0, 4, 4, 8, 1, 4},
      {1, 4, 4, 8, 1, 8},
      {2, 1, 5, 6, 1, 6},   // (50 + 180) / 40 = 5.75
      {2, 1, 5, 7, 0, 5},   // beyond the tolerance
      {2, 0, 6, 6, 1, 6},   // equal biases always join
      {2, 4, -4, -8, 1, -7},
  };
  for (const Case& c : cases) {
    PSList list;
    PSPoint* first = Build(list, TwoPieces(c.b1, c.b2));
    EXPECT_EQ(MergeSimilarBiases(list, c.mode, 0, c.tol), c.absorbed) << c.mode << " " << c.b1 << " " << c.b2;
    std::vector<V> want = TwoPieces(c.result, 0);
    if (c.absorbed == 0) want = TwoPieces(c.b1, c.b2);
    else want.erase(want.begin() + 1);
    EXPECT_EQ(Read(first), want);
    EXPECT_EQ(list.pointCount, int32_t(want.size()));
    ClearPointList(list);
  }
}

// A stretch whose ends coincide (out to (10, 0) and back) has no length to
// weigh the mean by: the merged piece takes its first piece's bias, the
// points between go.
TEST(EdgeBiasMerge, MeanOverAStretchOfNoLengthTakesTheFirstBias) {
  for (int32_t first : {5, -7, 0}) {
    SCOPED_TRACE(first);
    PSList list;
    PSPoint* f = Build(list, {{0, 0, true, first}, {10, 0, false, 9}, {0, 0, false, -2},
                              {0, -10, true, 0}});
    PSPoint* between = f->next;
    PSPoint* l = between->next;
    EXPECT_EQ(MergeEdgesMean(list, f, l), f);
    EXPECT_EQ(PointBias(f), first);
    EXPECT_EQ(f->next, l);
    EXPECT_NE(between->flags & PSPointFlags::Deleted, 0);
    EXPECT_EQ(PointBias(l), -2);
    ClearPointList(list);
  }
}

TEST(EdgeBiasMerge, GuardPiecesStayApartThenTakeTheirNeighbours) {
  // Input edge (0,0) -> (100,0): guard pieces 0-10 and 90-100 (bias 0),
  // measured pieces 10-50 bias 6 and 50-90 bias 6.
  std::vector<V> ring{{0, 0, true, 0}, {10, 0, false, 6}, {50, 0, false, 6},
                      {90, 0, false, 0}, {100, 0, true, 0}, {100, 100, true, 0},
                      {0, 100, true, 0}};
  PSList list;
  PSPoint* first = Build(list, ring);
  EXPECT_EQ(MergeSimilarBiases(list, 2, 1, 0), 1);
  EXPECT_EQ(Read(first), (std::vector<V>{{0, 0, true, 0}, {10, 0, false, 6},
                                         {90, 0, false, 0}, {100, 0, true, 0},
                                         {100, 100, true, 0}, {0, 100, true, 0}}));
  // With a large tolerance the guard pieces still keep their own biases.
  EXPECT_EQ(MergeSimilarBiases(list, 2, 1, 100), 0);
  PropagateMarkerBias(list, 2);
  // The guards took 6 and joined the middle: one piece of bias 6.
  EXPECT_EQ(Read(first), (std::vector<V>{{0, 0, true, 6}, {100, 0, true, 0},
                                         {100, 100, true, 0}, {0, 100, true, 0}}));
  ClearPointList(list);
}

TEST(EdgeBiasMerge, ShortEdgesBecomeOnePieceLongOnesStretches) {
  struct Case {
    const char* what;
    int32_t length;
    std::vector<V> edge;  // pieces of the input edge from (0,0), then the square closes
    std::vector<V> want;
  };
  auto square = [](std::vector<V> e, int32_t side) {
    e.push_back({side, 0, true, 0});
    e.push_back({side, side, true, 0});
    e.push_back({0, side, true, 0});
    return e;
  };
  const Case cases[] = {
      // Edge 100 < 2 * 60: one piece, mean (20*2 + 50*4 + 30*9) / 100 = 5.1.
      {"short edge", 60, square({{0, 0, true, 2}, {20, 0, false, 4}, {70, 0, false, 9}}, 100),
       square({{0, 0, true, 5}}, 100)},
      // Edge 100, length 30, pieces every 10 with biases 1 to 10: stretches
      // 0-30, 30-60 and 60-90, and the remaining 10 joins the last.
      {"stretches of 30", 30,
       square({{0, 0, true, 1}, {10, 0, false, 2}, {20, 0, false, 3}, {30, 0, false, 4},
               {40, 0, false, 5}, {50, 0, false, 6}, {60, 0, false, 7}, {70, 0, false, 8},
               {80, 0, false, 9}, {90, 0, false, 10}}, 100),
       // 0-30: mean 2; 30-60: mean 5; 60-100 (the last 10 joins): 8.5 -> 9.
       square({{0, 0, true, 2}, {30, 0, false, 5}, {60, 0, false, 9}}, 100)},
  };
  for (const Case& c : cases) {
    PSList list;
    PSPoint* first = Build(list, c.edge);
    MergeShortEdges(list, c.length, 0, 2);
    EXPECT_EQ(Read(first), c.want) << c.what;
    ClearPointList(list);
  }
}

TEST(EdgeBiasMerge, RunsMeanAndShortCollinearEdges) {
  PSList list;
  PSPoint* first = Build(list, TwoPieces(4, 8));
  MergeEdgeRunsMean(list, 0);
  EXPECT_EQ(Read(first), (std::vector<V>{{0, 0, true, 7}, {40, 0, true, 0},
                                         {40, 40, true, 0}, {0, 40, true, 0}}));
  ClearPointList(list);

  struct Case { const char* what; std::vector<V> ring; int32_t len; std::vector<V> want; };
  const Case cases[] = {
      // Edge (40,0)-(45,0) of 5 between longer pieces on the same line.
      {"equal neighbours: the short piece goes",
       {{0, 0, true, 3}, {40, 0, true, 7}, {45, 0, true, 3}, {100, 0, true, 0},
        {100, 100, true, 0}, {0, 100, true, 0}}, 10,
       {{0, 0, true, 3}, {100, 0, true, 0}, {100, 100, true, 0}, {0, 100, true, 0}}},
      {"different neighbours: the longer one wins the stretch",
       {{0, 0, true, 3}, {40, 0, true, 7}, {45, 0, true, 5}, {100, 0, true, 0},
        {100, 100, true, 0}, {0, 100, true, 0}}, 10,
       // |Q - E| = 40 <= |M - S| = 55: Q (40,0) goes, its stretch joins E's.
       {{0, 0, true, 3}, {45, 0, true, 5}, {100, 0, true, 0}, {100, 100, true, 0},
        {0, 100, true, 0}}},
      {"long enough: kept",
       {{0, 0, true, 3}, {40, 0, true, 7}, {45, 0, true, 5}, {100, 0, true, 0},
        {100, 100, true, 0}, {0, 100, true, 0}}, 5,
       {{0, 0, true, 3}, {40, 0, true, 7}, {45, 0, true, 5}, {100, 0, true, 0},
        {100, 100, true, 0}, {0, 100, true, 0}}},
  };
  for (const Case& c : cases) {
    PSList l;
    PSPoint* f = Build(l, c.ring);
    RemoveShortCollinearEdges(l, c.len);
    EXPECT_EQ(Read(f), c.want) << c.what;
    EXPECT_EQ(l.pointCount, int32_t(c.want.size())) << c.what;
    ClearPointList(l);
  }
}

TEST(EdgeBiasMerge, ShortPiecesJoinTheirNeighbours) {
  auto square = [](std::vector<V> e) {
    e.push_back({100, 0, true, 0});
    e.push_back({100, 100, true, 0});
    e.push_back({0, 100, true, 0});
    return e;
  };
  struct Case { const char* what; std::vector<V> edge; std::vector<V> want; };
  const Case cases[] = {
      // 40-45 is short; the piece after it is longer, so it joins 0-40,
      // which is cut at 35 to leave a joined piece of 10: (5*2 + 5*8) / 10.
      {"middle piece", square({{0, 0, true, 2}, {40, 0, false, 8}, {45, 0, false, 4}}),
       square({{0, 0, true, 2}, {35, 0, false, 5}, {45, 0, false, 4}})},
      // The first piece 0-4 grows to 10 into 4-50, cut at 10: (4*1 + 6*3) / 10.
      {"first piece", square({{0, 0, true, 1}, {4, 0, false, 3}, {50, 0, false, 5}}),
       square({{0, 0, true, 2}, {10, 0, false, 3}, {50, 0, false, 5}})},
      // The last piece 96-100 grows back to 90: (6*3 + 4*1) / 10.
      {"last piece", square({{0, 0, true, 5}, {50, 0, false, 3}, {96, 0, false, 1}}),
       square({{0, 0, true, 5}, {50, 0, false, 3}, {90, 0, false, 2}})},
  };
  for (const Case& c : cases) {
    PSList list;
    PSPoint* first = Build(list, c.edge);
    MergeShortPieces(list, 10, 0);
    EXPECT_EQ(Read(first), c.want) << c.what;
    EXPECT_EQ(list.pointCount, int32_t(c.want.size())) << c.what;
    ClearPointList(list);
  }
}

std::vector<Point> Points(const PSList& out) {
  EXPECT_EQ(out.ringCount, 1);
  return test::RingPoints(out.head);
}

// The ring's vertices as a set starting anywhere: rotate to the smallest.
std::vector<Point> Canon(std::vector<Point> r) {
  auto it = std::min_element(r.begin(), r.end(), [](const Point& a, const Point& b) {
    return a.x < b.x || (a.x == b.x && a.y < b.y);
  });
  std::rotate(r.begin(), it, r.end());
  return r;
}

TEST(EdgeBiasOffset, CollinearVertexDroppedOrStepped) {
  struct Case { int32_t b1, b2; std::vector<Point> want; };
  const Case cases[] = {
      // Equal biases: the cut vertex (10,0) disappears.
      {2, 2, {{-2, -2}, {42, -2}, {42, 42}, {-2, 42}}},
      // Different biases on the bottom edge: a step at x = 10.
      {2, 5, {{-2, -2}, {10, -2}, {10, -5}, {42, -5}, {42, 42}, {-2, 42}}},
      // Zero everywhere: the ring as it was, less the collinear vertex.
      {0, 0, {{0, 0}, {40, 0}, {40, 40}, {0, 40}}},
  };
  for (const Case& c : cases) {
    PSList list, out;
    std::vector<V> ring{{0, 0, true, c.b1}, {10, 0, false, c.b2}, {40, 0, true, c.b1 ? 2 : 0},
                        {40, 40, true, c.b1 ? 2 : 0}, {0, 40, true, c.b1 ? 2 : 0}};
    Build(list, ring);
    OffsetBiasedList(list, out);
    EXPECT_EQ(Canon(Points(out)), Canon(c.want)) << c.b1 << " " << c.b2;
    for (PSPoint* p = list.head; p; p = p->link) EXPECT_EQ(p->flags & PSPointFlags::Visited, 0);
    ClearPointList(list);
    ClearPointList(out);
  }
}

// A vertex between two unbiased pieces goes when its distance from the line
// through its neighbours rounds to 0 (below one half), else it stays. The
// distances here are worked out by hand: from the line (0,0) -> (21,10)
// the distance is |10x - 21y| / sqrt(541), 11 / 23.26 = 0.473 and
// 12 / 23.26 = 0.516; from the line (0,0) -> (10^8, 1) of a vertex (x, 0) it
// is x / sqrt(10^16 + 1), just below one half for x = 5·10^7 and just above
// for one more.
TEST(EdgeBiasOffset, VertexNearTheLineOfItsNeighbours) {
  struct Case { Point v, n; bool kept; };
  const Case cases[] = {
      {{20, 9}, {21, 10}, false},
      {{3, 2}, {21, 10}, true},
      {{18, 8}, {21, 10}, true},
      {{50000000, 0}, {100000000, 1}, false},
      {{50000001, 0}, {100000000, 1}, true},
  };
  for (const Case& c : cases) {
    PSList list, out;
    Build(list, {{0, 0, true, 0}, {c.v.x, c.v.y, true, 0}, {c.n.x, c.n.y, true, 0}, {0, 1000, true, 0}});
    OffsetBiasedList(list, out);
    std::vector<Point> want{{0, 0}, {c.n.x, c.n.y}, {0, 1000}};
    if (c.kept) want.insert(want.begin() + 1, c.v);
    EXPECT_EQ(Canon(Points(out)), Canon(want)) << c.v.x << "," << c.v.y;
    ClearPointList(list);
    ClearPointList(out);
  }
}

// A cut of a slanted edge rounded off the edge's line (here by 0.54) is no
// corner: the edge steps there from one bias to the other. Taken as a
// corner, the two nearly parallel shifted lines crossed some 1700 units
// away, beyond the tip of the ring.
TEST(EdgeBiasOffset, CutOfASlantedEdgeIsAStepNotACorner) {
  PSList list, out;
  Build(list, {{2558, 4249, true, 5}, {2022, 4516, false, 0}, {1556, 4747, true, 0}, {2558, 4747, true, 0}});
  OffsetBiasedList(list, out);
  // Every point of the result lies within the bias (and a unit of
  // rounding) of the ring's sides.
  const std::vector<Point> sides{{2558, 4249}, {1556, 4747}, {2558, 4747}};
  for (const Point& v : Points(out)) {
    double best = 1e18;
    for (size_t i = 0; i < sides.size(); ++i) {
      const Point &a = sides[i], &c = sides[(i + 1) % sides.size()];
      const double dx = c.x - a.x, dy = c.y - a.y;
      const double t = std::clamp(((v.x - a.x) * dx + (v.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
      best = std::min(best, std::hypot(v.x - (a.x + t * dx), v.y - (a.y + t * dy)));
    }
    EXPECT_LE(best, 6.5) << v.x << "," << v.y;
  }
  ClearPointList(list);
  ClearPointList(out);
}

TEST(EdgeBiasOffset, RandomRectanglesMoveEachSideByItsBias) {
  std::mt19937 rng(2121);
  std::uniform_int_distribution<int32_t> pos(-1000, 1000), len(20, 500), bias(-9, 9);
  for (int trial = 0; trial < 500; ++trial) {
    const int32_t x1 = pos(rng), y1 = pos(rng), x2 = x1 + len(rng), y2 = y1 + len(rng);
    const int32_t bb = bias(rng), br = bias(rng), bt = bias(rng), bl = bias(rng);
    PSList list, out;
    Build(list, {{x1, y1, true, bb}, {x2, y1, true, br}, {x2, y2, true, bt}, {x1, y2, true, bl}});
    OffsetBiasedList(list, out);
    // A positive bias moves a side outwards (to the right of a
    // counter-clockwise ring's edge).
    const std::vector<Point> want{{x1 - bl, y1 - bb}, {x2 + br, y1 - bb},
                                  {x2 + br, y2 + bt}, {x1 - bl, y2 + bt}};
    EXPECT_EQ(Canon(Points(out)), Canon(want)) << trial;
    EXPECT_EQ(out.pointCount, 4);
    ClearPointList(list);
    ClearPointList(out);
  }
}

TEST(EdgeBiasOffset, EmitBiasedEdgesGivesTwoPointChains) {
  PSList list, out;
  Build(list, TwoPieces(0, 8));
  EmitBiasedEdges(list, out);
  ASSERT_EQ(out.pointCount, 2);
  EXPECT_EQ(out.ringCount, 0);
  const PSPoint* a = out.head->link;  // pushed first
  EXPECT_EQ(Point(a->x, a->y), Point(10, 0));
  ASSERT_NE(a->next, nullptr);
  EXPECT_EQ(Point(a->next->x, a->next->y), Point(40, 0));
  EXPECT_EQ(a->prev, nullptr);
  EXPECT_EQ(a->next->next, nullptr);
  ClearPointList(list);
  ClearPointList(out);
}

// The steps of an edge bias run together (deleted points purged only by the
// final clear) give the list the steps one by one give, vertex for vertex:
// random octagons with 45-degree sides cut into pieces of a few biases,
// their points on the link chain in a shuffled order, every merge mode,
// with and without guard, short-edge length and tolerance.
TEST(EdgeBiasOffset, StepsRunTogetherEqualTheStepsOneByOne) {
  std::mt19937 rng(3117);
  std::uniform_int_distribution<int32_t> side(0, 60), pos(-500, 500), cuts(0, 4);
  const int32_t biases[] = {-3, -2, 0, 0, 1, 2, 2, 5};
  std::uniform_int_distribution<int> pick(0, 7);
  for (int trial = 0; trial < 400; ++trial) {
    // Vertices of a few rings in ring order, with their biases.
    std::vector<std::vector<V>> rings;
    for (int r = 1 + trial % 3; r > 0; --r) {
      int32_t a, b, c, d, e, f, g, h;
      do {
        a = side(rng), b = side(rng), c = side(rng), d = side(rng), f = side(rng), h = side(rng);
        e = a + b - d - f + h;
        g = b + c + d - f - h;
      } while (e < 0 || g < 0 || a + c + e + g == 0);
      const int32_t dir[8][3] = {{1, 0, a},  {1, 1, b},   {0, 1, c},  {-1, 1, d},
                                 {-1, 0, e}, {-1, -1, f}, {0, -1, g}, {1, -1, h}};
      std::vector<V> ring;
      int32_t x = pos(rng), y = pos(rng);
      for (const auto& [ux, uy, n] : dir) {
        if (n == 0) continue;
        std::vector<int32_t> at{0};
        for (int k = cuts(rng); k > 0; --k) at.push_back(std::uniform_int_distribution<int32_t>(1, n)(rng));
        std::sort(at.begin(), at.end());
        at.erase(std::unique(at.begin(), at.end()), at.end());
        for (int32_t t : at) {
          if (t == n) continue;
          ring.push_back({x + ux * t, y + uy * t, t == 0, biases[pick(rng)]});
        }
        x += ux * n, y += uy * n;
      }
      rings.push_back(ring);
    }
    std::vector<std::pair<size_t, size_t>> order;
    for (size_t r = 0; r < rings.size(); ++r)
      for (size_t i = 0; i < rings[r].size(); ++i) order.emplace_back(r, i);
    std::shuffle(order.begin(), order.end(), rng);
    auto build = [&](PSList& list) {
      std::vector<std::vector<PSPoint*>> at(rings.size());
      for (size_t r = 0; r < rings.size(); ++r) at[r].resize(rings[r].size());
      for (const auto& [r, i] : order) {
        const V& v = rings[r][i];
        PSPoint* p = AppendPoint(list, v.x, v.y);
        p->flags = v.marker ? PSPointFlags::BiasInputVertex : 0;
        SetPointBias(p, v.bias);
        at[r][i] = p;
      }
      for (auto& ring : at) {
        for (size_t i = 0; i < ring.size(); ++i) LinkPoints(ring[i], ring[(i + 1) % ring.size()]);
        ++list.ringCount;
      }
    };
    const int mode = trial % 3, guard = (trial / 3) % 2 ? 3 : 0;
    const int32_t minLength = (trial / 6) % 2 ? 15 : 0, tolerance = (trial / 12) % 3;
    PSList one, oneOut, all, allOut;
    build(one);
    build(all);
    MergeSimilarBiases(one, mode, guard, 0);
    if (minLength > 0) MergeShortEdges(one, minLength, guard, mode);
    if (tolerance != 0) MergeSimilarBiases(one, mode, guard, tolerance);
    if (guard != 0) PropagateMarkerBias(one, mode);
    OffsetBiasedList(one, oneOut);
    BiasPiecesToRings(all, mode, guard, minLength, tolerance, allOut);
    const test::Snapshot want = test::Snap(oneOut), got = test::Snap(allOut);
    EXPECT_EQ(got, want) << trial << ": " << test::Describe(got, want);
    EXPECT_GT(want.ringCount, 0) << trial;
    for (PSList* l : {&one, &oneOut, &all, &allOut}) ClearPointList(*l);
  }
}

}  // namespace
}  // namespace velmar
