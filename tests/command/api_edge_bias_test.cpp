// Edge extraction, edge bias, line ends and hammer heads of API on
// libraries built in memory: rule preparation, uniform bias against sizing
// and a rasterised dilation, width- and space-keyed rules, the corner guard,
// line ends and hammer heads against boxes worked out from the rules, the
// report lines, and the failures that end the process.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/inspectable_api.h"
#include "foundation/search_tree_kd.h"
#include "geometry/edge_bias.h"
#include "geometry/op_codes.h"
#include "geometry/point_system.h"
#include "layoutdb/lib_db.h"
#include "support/api_fixtures.h"
#include "support/cell_fixtures.h"
#include "support/hier_fixtures.h"
#include "support/point_list_fixtures.h"
#include "support/stdout_capture.h"

namespace velmar {
namespace {

using api_test::DropPoolReports;
using api_test::Literal;
using api_test::MakeLibrary;
using api_test::MaskDates;
using api_test::WithStdoutOnStderr;
using cell_test::Ring;
using hier_test::Model;
using test::InspectableApi;

constexpr LayerKey kLayer1 = 1 * 256;  // {1 0}
constexpr LayerKey kLayer2 = 2 * 256;  // {2 0}
constexpr LayerKey kLayer3 = 3 * 256;  // {3 0}

Ring Rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return {Point(x1, y1), Point(x2, y1), Point(x2, y2), Point(x1, y2)};
}

// Ranges of a rule: {min, max}; kUnset leaves a dimension as the script
// leaves it when it never sets it.
constexpr int32_t kUnset = -1;
struct Range {
  int32_t min = kUnset, max = kUnset;
};

class EdgeOpsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    api.ResetTempLayers();
    for (std::unique_ptr<LibDB>& lib : api.libs) lib.reset();
    api.currentLib = nullptr;
  }

  // One cell "c0" with the given shapes, scale 1, area (-10000, -10000) to
  // (10000, 10000); reports off.
  void Setup(const std::map<LayerKey, std::vector<Ring>>& shapes, double scale = 1.0) {
    Model m(1);
    for (const auto& [k, rings] : shapes) m[0].shapes[k] = rings;
    api.InstallLibrary(0, MakeLibrary(m, scale));
    test::StdoutCapture out;
    api.SetArea("c0", -10000, -10000, 10000, 10000);
    api.tech.reportDegree = 0;
  }

  // Starts a run of the bias rules over again on the given shapes: the
  // previous run's library and temporary layers gone, no bias rules.
  void SetupAgain(const std::map<LayerKey, std::vector<Ring>>& shapes, double scale = 1.0) {
    TearDown();
    api.tech.ResetBiasRules();
    Setup(shapes, scale);
  }

  // A new rule at the head of the list with the ranges of dimensions 0..3
  // and its values.
  static void AddRule(SList& list, bool endcap, std::vector<Range> ranges,
                      std::vector<int32_t> values, Tech& tech) {
    if (endcap) tech.CreateHammerRule(); else tech.CreateBiasRule();
    BiasRule& r = *list.head->Item<BiasRule>();
    ranges.resize(4);
    for (int i = 0; i < 4; ++i) {
      if (ranges[i].min != kUnset) r.min[i] = ranges[i].min;
      if (ranges[i].max != kUnset) r.max[i] = ranges[i].max;
    }
    for (size_t i = 0; i < values.size(); ++i) r.bias[i] = values[i];
  }
  void BiasRuleOf(std::vector<Range> ranges, int32_t bias) {
    AddRule(api.tech.biasRules, false, ranges, {bias}, api.tech);
  }
  void EndcapRule(std::vector<Range> ranges, int32_t h, int32_t t, int32_t e) {
    AddRule(api.tech.endcapRules, true, ranges, {h, t, e}, api.tech);
  }

  std::vector<Ring> Rings(int number) { return cell_test::RingsOf(*api.FindTempLayer(number)); }

  // The open 2-point chains of a layer as (start, end) pairs, sorted.
  std::vector<std::pair<Point, Point>> Chains(int number) {
    std::vector<std::pair<Point, Point>> out;
    for (const PSPoint* p = api.FindTempLayer(number)->head; p; p = p->link) {
      if (p->prev == nullptr && p->next != nullptr) {
        EXPECT_EQ(p->next->next, nullptr);
        out.push_back({Point(p->x, p->y), Point(p->next->x, p->next->y)});
      }
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
      auto k = [](const auto& c) { return std::make_tuple(c.first.x, c.first.y, c.second.x, c.second.y); };
      return k(a) < k(b);
    });
    return out;
  }

  InspectableApi api;
};

// Bounding boxes of rings, sorted: the results here are rectangles.
std::vector<Box> Boxes(const std::vector<Ring>& rings) {
  std::vector<Box> out;
  for (const Ring& r : rings) {
    EXPECT_EQ(r.size(), 4u);
    EXPECT_GT(cell_test::Area2(r), 0) << "clockwise ring";
    Box b;
    for (const Point& p : r) b.Extend(p.x, p.y);
    out.push_back(b);
  }
  std::sort(out.begin(), out.end(), [](const Box& a, const Box& b) {
    return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
  });
  return out;
}

// --- Rule preparation -------------------------------------------------------

TEST_F(EdgeOpsTest, PreparationConvertsCopiesAndKeepsTheRules) {
  for (double scale : {1.0, 10.0}) {
    SCOPED_TRACE(scale);
    SetupAgain({{kLayer1, {Rect(0, 0, 10, 10)}}}, scale);
    BiasRuleOf({{5, 50}, {kUnset, 30}}, 7);
    api.PrepareBiasRules();
    api.PrepareBiasRules();  // twice: the same table
    const BiasRule& rule = *api.tech.biasRules.head->Item<BiasRule>();
    EXPECT_EQ(rule.bias[0], 7);  // the Tech rule keeps its nanometres
    EXPECT_EQ(rule.min[0], 5);
    EXPECT_EQ(rule.max[1], 30);
    const int s = int(scale);
    EXPECT_EQ(api.maxBias, 7 * s);
    ASSERT_TRUE(api.biasTable);
    EXPECT_EQ(api.biasTable->itemCount, 1);
    // Region: 0 to 1 + the largest finite bound per dimension.
    EXPECT_EQ(api.biasTable->region.max[0], 50 * s + 1);
    EXPECT_EQ(api.biasTable->region.max[1], 30 * s + 1);
    EXPECT_EQ(api.biasTable->region.max[2], 1);
    // The table's rule: converted, unset bounds opened.
    const DBSearchNodeKD* n = DBSearchSystemKD::First(*api.biasTable);
    while (n && !n->IsData()) n = DBSearchSystemKD::Next(n);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(static_cast<const int32_t*>(n->item)[0], 7 * s);
    EXPECT_EQ(n->min, (std::vector<int32_t>{5 * s, 0, 0, 0}));
    EXPECT_EQ(n->max, (std::vector<int32_t>{50 * s, 30 * s, INT_MAX, INT_MAX}));
  }
}

TEST_F(EdgeOpsTest, MaxValuesOnlyGrowAndATableWithoutRulesHasNoRegion) {
  Setup({{kLayer1, {Rect(0, 0, 10, 10)}}});
  EndcapRule({}, 60, 20, 90);
  api.PrepareEndcapRules();
  EXPECT_EQ(api.maxEndcap, 90);
  api.tech.ResetHammerRules();
  api.PrepareEndcapRules();
  EXPECT_EQ(api.maxEndcap, 90);
  EXPECT_EQ(api.endcapTable->region.max[0], INT_MIN);
  // No rule: nothing is a line end.
  EXPECT_TRUE(api.FindTempLayer(api.ExtractLineEnds(1, 0))->IsEmpty());
  EXPECT_TRUE(api.FindTempLayer(api.HammerHead(1, 0))->IsEmpty());
}

// --- Edge bias --------------------------------------------------------------

// Cells of a w x h unit grid from origin covered by the rings (winding > 0 at
// the cell centre).
std::vector<char> Raster(const std::vector<Ring>& rings, int32_t ox, int32_t oy, int w, int h) {
  std::vector<char> g(size_t(w) * h, 0);
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i)
      g[size_t(j) * w + i] = hier_test::WindingSum(rings, ox + i + 0.5, oy + j + 0.5) > 0;
  return g;
}

TEST_F(EdgeOpsTest, UniformBiasEqualsSizingAndDilation) {
  std::mt19937 rng(1715);
  std::uniform_int_distribution<int32_t> cell(0, 9), span(1, 3);
  const int32_t b = 3;
  for (int trial = 0; trial < 25; ++trial) {
    SCOPED_TRACE(trial);
    TearDown();
    api.tech.ResetBiasRules();
    // Rectangles on a grid of 10: gaps are at least 10 > 2b, so no gap closes.
    std::vector<Ring> rects;
    for (int k = 0; k < 8; ++k) {
      const int32_t x = cell(rng) * 10, y = cell(rng) * 10;
      rects.push_back(Rect(x, y, x + span(rng) * 10, y + span(rng) * 10));
    }
    Setup({{kLayer1, rects}});
    api.tech.biasCornerGuard = 0;
    api.tech.biasMinLength = 0;
    BiasRuleOf({}, b);
    api.PrepareBiasRules();
    const int biased = api.EdgeBias(1, 0);
    const int merged = api.BooleanOp(BooleanOpCode::Merge, biased, 0, -1, 0);
    const int sized = api.SIZING(1, 0, b);
    const int32_t o = -10, n = 150;
    const std::vector<char> got = Raster(Rings(merged), o, o, n, n);
    const std::vector<char> want = Raster(Rings(sized), o, o, n, n);
    // Dilation of the input raster by b cells in every direction.
    const std::vector<char> in = Raster(rects, o, o, n, n);
    std::vector<char> dil(in.size(), 0);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i)
        for (int dj = -b; dj <= b && !dil[size_t(j) * n + i]; ++dj)
          for (int di = -b; di <= b; ++di) {
            const int ii = i + di, jj = j + dj;
            if (ii >= 0 && jj >= 0 && ii < n && jj < n && in[size_t(jj) * n + ii]) {
              dil[size_t(j) * n + i] = 1;
              break;
            }
          }
    EXPECT_TRUE(got == want);
    EXPECT_TRUE(got == dil);
  }
}

TEST_F(EdgeOpsTest, WidthKeyedRuleGrowsTheLongSidesOfNarrowLines) {
  Setup({{kLayer1, {Rect(0, 0, 20, 200), Rect(500, 0, 600, 200)}}});
  api.tech.biasCornerGuard = 0;
  api.tech.biasMinLength = 0;
  BiasRuleOf({{0, 50}}, 5);  // inside distance up to 50
  api.PrepareBiasRules();
  const int out = api.EdgeBias(1, 0);
  EXPECT_EQ(Boxes(Rings(out)), (std::vector<Box>{Box(-5, 0, 25, 200), Box(500, 0, 600, 200)}));
}

TEST_F(EdgeOpsTest, CornerGuardAndShortMode) {
  // 150 x 1000: the short sides are shorter than twice the guard of 100.
  struct Case { int shortMode; Box want; };
  const Case cases[] = {
      {0, Box(-5, 0, 155, 1000)},   // short sides stay on their lines
      {1, Box(-5, -5, 155, 1005)},  // they take the bias at their middle
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shortMode);
    SetupAgain({{kLayer1, {Rect(0, 0, 150, 1000)}}});
    api.tech.biasCornerGuard = 100;
    api.tech.biasMinLength = 0;
    api.tech.biasShortMode = c.shortMode;
    BiasRuleOf({}, 5);
    api.PrepareBiasRules();
    EXPECT_EQ(Boxes(Rings(api.EdgeBias(1, 0))), (std::vector<Box>{c.want}));
  }
}

TEST_F(EdgeOpsTest, ShortModeOnEdgesOfAFewUnits) {
  // Sides of 1 to 4 units: the middle stretch may reach a vertex, where no
  // guard point is made; every ring stays closed and takes the bias.
  for (int32_t w : {1, 2, 3, 4}) {
    SCOPED_TRACE(w);
    SetupAgain({{kLayer1, {Rect(0, 0, w, 1000)}}});
    api.tech.biasCornerGuard = 100;
    api.tech.biasMinLength = 0;
    api.tech.biasShortMode = 1;
    BiasRuleOf({}, 5);
    api.PrepareBiasRules();
    EXPECT_EQ(Boxes(Rings(api.EdgeBias(1, 0))), (std::vector<Box>{Box(-5, -5, w + 5, 1005)}));
  }
}

TEST_F(EdgeOpsTest, SpaceKeyedBiasWithMinimumLengthAndTolerance) {
  // A 400-long line beside a 100-long neighbour 30 away over its middle: the
  // facing stretch of the line's right side has space 30, the rest none.
  // Space up to 40 biases by -4 (pull back), open space by +2.
  Setup({{kLayer1, {Rect(0, 0, 50, 400), Rect(80, 150, 180, 250)}}});
  api.tech.biasCornerGuard = 0;
  api.tech.biasMergeMode = 2;
  BiasRuleOf({{}, {0, 40}}, -4);
  BiasRuleOf({{}, {41, kUnset}}, 2);
  // Minimum length 300: the right side (400 < 600) becomes one piece of the
  // mean bias (300 * 2 + 100 * -4) / 400 = 0.5 -> 1.
  api.tech.biasMinLength = 300;
  api.PrepareBiasRules();
  const std::vector<Ring> rings = Rings(api.EdgeBias(1, 0));
  // Every side but the right one moves out by 2, the right one by 1; the
  // neighbour (its left side faces the line) moves its left side by -4 and
  // the others by 2.
  EXPECT_EQ(Boxes(rings), (std::vector<Box>{Box(-2, -2, 51, 402), Box(84, 148, 182, 252)}));
  // Without a minimum length the right side steps: -4 over the facing
  // stretch, 2 elsewhere.
  api.tech.biasMinLength = 0;
  const std::vector<Ring> stepped = Rings(api.EdgeBias(1, 0));
  ASSERT_EQ(stepped.size(), 2u);
  std::multiset<std::pair<int32_t, int32_t>> pts;
  for (const Ring& r : stepped)
    if (r.size() == 8)
      for (const Point& p : r) pts.insert({p.x, p.y});
  EXPECT_EQ(pts, (std::multiset<std::pair<int32_t, int32_t>>{
                     {-2, -2}, {52, -2}, {52, 150}, {46, 150}, {46, 250}, {52, 250},
                     {52, 402}, {-2, 402}}));
  // A tolerance of 9 (biasDiff 10) joins -4 and 2 along the right side by
  // their running mean: (150*2 + 100*-4) / 250 = -0.4 -> 0, then
  // (250*0 + 150*2) / 400 = 0.75 -> 1, as with the minimum length.
  api.tech.biasDiff = 10;
  EXPECT_EQ(Boxes(Rings(api.EdgeBias(1, 0))),
            (std::vector<Box>{Box(-2, -2, 51, 402), Box(84, 148, 182, 252)}));
  // A tolerance of 5 leaves the step.
  api.tech.biasDiff = 6;
  const std::vector<Ring> kept = Rings(api.EdgeBias(1, 0));
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(std::max(kept[0].size(), kept[1].size()), 8u);
}

// --- Edge bias at any angle ---------------------------------------------------

// Every ring of a result list closes: each point has both neighbours, the
// walk along next from any point comes back to it within the list's point
// count, and next and prev agree. Returns the number of rings.
int ClosedRings(const PSList& list) {
  int rings = 0;
  std::set<const PSPoint*> seen;
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (seen.count(p)) continue;
    const PSPoint* q = p;
    int32_t steps = 0;
    do {
      EXPECT_NE(q->next, nullptr);
      EXPECT_NE(q->prev, nullptr);
      if (!q->next || !q->prev || q->next->prev != q) return -1;
      seen.insert(q);
      q = q->next;
    } while (q != p && ++steps <= list.pointCount);
    EXPECT_EQ(q, p) << "a ring that does not come back to its start";
    if (q != p) return -1;
    ++rings;
  }
  return rings;
}

// The settings of the corner guard, the minimum length, the tolerance, the
// short-edge mode and the merge mode the any-angle tests run under.
struct BiasSettings { int guard, minLength, diff, shortMode, mergeMode; };
constexpr BiasSettings kBiasSettings[] = {
    {100, 1000, 2, 1, 2}, {0, 0, 0, 1, 0}, {100, 0, 5, 0, 1}, {0, 1000, 2, 1, 2}, {300, 500, 1, 1, 0}};

void Apply(API& api, const BiasSettings& set) {
  api.tech.biasCornerGuard = set.guard;
  api.tech.biasMinLength = set.minLength;
  api.tech.biasDiff = set.diff;
  api.tech.biasShortMode = set.shortMode;
  api.tech.biasMergeMode = set.mergeMode;
}

// A convex counter-clockwise polygon moved out by b: the crossings of its
// sides' lines shifted by b, in doubles, one per vertex.
std::vector<std::pair<double, double>> GrownConvex(const Ring& r, double b) {
  const size_t n = r.size();
  std::vector<std::pair<double, double>> out;
  auto line = [&](size_t i, double& px, double& py, double& dx, double& dy) {
    const Point& a = r[i];
    const Point& c = r[(i + 1) % n];
    dx = double(c.x) - a.x, dy = double(c.y) - a.y;
    const double len = std::hypot(dx, dy);
    px = a.x + b * dy / len, py = a.y - b * dx / len;  // to the right: outwards
  };
  for (size_t i = 0; i < n; ++i) {
    double ax, ay, adx, ady, bx, by, bdx, bdy;
    line((i + n - 1) % n, ax, ay, adx, ady);
    line(i, bx, by, bdx, bdy);
    const double t = ((bx - ax) * bdy - (by - ay) * bdx) / (adx * bdy - ady * bdx);
    out.push_back({ax + t * adx, ay + t * ady});
  }
  return out;
}

// Slanted convex polygons whose band pieces round past the ends of their
// edges: a quadrilateral and a triangle on which the bias once cut a ring
// apart and never returned, and polygons of random angles far apart. A rule
// keyed to an inside distance that every part of them has (so that every
// edge is cut into its profile's pieces) gives each side the bias b: the
// result is one closed ring per polygon under every setting and, unless a
// corner guard leaves its short sides in place, the polygon grown by b.
TEST_F(EdgeOpsTest, SlantedConvexPolygonsGrowLikeTheirShiftedSides) {
  std::vector<Ring> polys = {{{384, 668}, {92, 578}, {192, 93}, {477, 113}},
                             {{2023, 10}, {2016, 33}, {2019, 5}}};
  std::mt19937 rng(4417);
  for (int k = 0; k < 12; ++k) {
    const double cx = -7000 + 3500 * (k % 5), cy = -6000 + 4000 * (k / 5);
    const int corners = 3 + int(rng() % 6);
    const double rad = 100 + rng() % 1300;
    Ring r;
    for (int j = 0; j < corners; ++j) {
      const double a = 2 * 3.14159265358979 * (j + 0.6 * (rng() % 100) / 100.0) / corners;
      r.push_back(Point(int32_t(cx + rad * std::cos(a)), int32_t(cy + rad * std::sin(a))));
    }
    polys.push_back(r);
  }
  const int32_t b = 5;
  for (const BiasSettings& set : kBiasSettings) {
    SCOPED_TRACE(set.guard * 1000 + set.minLength);
    SetupAgain({{kLayer1, polys}});
    Apply(api, set);
    BiasRuleOf({{0, 4000}}, b);
    api.PrepareBiasRules();
    const int result = api.EdgeBias(1, 0);
    ASSERT_EQ(ClosedRings(*api.FindTempLayer(result)), int(polys.size()));
    // With a corner guard and the short-edge mode 0 the sides shorter than
    // twice the guard stay on their lines; under every other setting every
    // piece of every side, guard pieces and middle stretches included, has
    // the bias b.
    if (set.guard != 0 && set.shortMode == 0) continue;
    // Each result ring is one polygon grown: every vertex lies near the
    // outline of the crossings of its shifted side lines, off it by no more
    // than the rounding of a crossing to the grid.
    for (const Ring& g : Rings(result)) {
      ASSERT_GE(g.size(), 3u);
      EXPECT_GT(cell_test::Area2(g), 0);
      // The polygon it comes from: the one with the vertex nearest to its
      // first vertex (the polygons lie far apart).
      const Ring* match = nullptr;
      double nearest = 1e18;
      for (const Ring& r : polys)
        for (const Point& v : r) {
          const double d = std::hypot(double(v.x) - g[0].x, double(v.y) - g[0].y);
          if (d < nearest) nearest = d, match = &r;
        }
      const auto grown = GrownConvex(*match, b);
      const size_t n = grown.size();
      for (const Point& v : g) {
        double best = 1e18;
        for (size_t i = 0; i < n; ++i) {
          const auto [ax, ay] = grown[i];
          const auto [cx, cy] = grown[(i + 1) % n];
          const double dx = cx - ax, dy = cy - ay;
          const double t = std::clamp(((v.x - ax) * dx + (v.y - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
          best = std::min(best, std::hypot(v.x - (ax + t * dx), v.y - (ay + t * dy)));
        }
        EXPECT_LE(best, 1.0) << v.x << "," << v.y << " off the grown polygon";
      }
    }
  }
}

// Whether a ring crosses itself: two of its edges that are not neighbours
// cross at a point inside both, or two of its edges overlap along a stretch
// (neighbours too: a spike that runs back along itself). Brute force over
// every pair of edges; a ring that only touches itself at a point passes.
bool CrossesItself(const Ring& r) {
  const size_t n = r.size();
  auto orient = [](const Point& a, const Point& b, const Point& c) {
    const __int128 v = __int128(int64_t(b.x) - a.x) * (int64_t(c.y) - a.y) -
                       __int128(int64_t(b.y) - a.y) * (int64_t(c.x) - a.x);
    return v > 0 ? 1 : v < 0 ? -1 : 0;
  };
  // Collinear a-b and c-d share more than a point.
  auto overlap = [](const Point& a, const Point& b, const Point& c, const Point& d) {
    const bool useX = a.x != b.x || c.x != d.x;
    const int64_t a1 = useX ? a.x : a.y, a2 = useX ? b.x : b.y;
    const int64_t c1 = useX ? c.x : c.y, c2 = useX ? d.x : d.y;
    return std::max(std::min(a1, a2), std::min(c1, c2)) < std::min(std::max(a1, a2), std::max(c1, c2));
  };
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = i + 1; j < n; ++j) {
      const Point &a = r[i], &b = r[(i + 1) % n], &c = r[j], &d = r[(j + 1) % n];
      const int o1 = orient(a, b, c), o2 = orient(a, b, d);
      if (o1 == 0 && o2 == 0 && (a.x != b.x || a.y != b.y) && overlap(a, b, c, d)) return true;
      if (j == i + 1 || (i == 0 && j == n - 1)) continue;
      if (o1 * o2 < 0 && orient(c, d, a) * orient(c, d, b) < 0) return true;
    }
  }
  return false;
}

// Seeded random small layers at any angle: convex polygons, stars
// (concave), octagons of 45-degree sides, polygons touching at a corner or
// along a side, from a few units to a few thousand across, under the
// two-rule table (inside distance up to 1000: +5; outside up to 500: -3)
// and every setting: the bias returns, with closed rings only.
TEST_F(EdgeOpsTest, RandomAnyAngleLayersGiveClosedRings) {
  std::mt19937 rng(9203);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  for (int layer = 0; layer < 80; ++layer) {
    SCOPED_TRACE(layer);
    std::vector<Ring> polys;
    for (int k = 0, count = 1 + int(rng() % 5); k < count; ++k) {
      const double cx = uniform(-6000, 6000), cy = uniform(-6000, 6000);
      const double rad = std::vector<double>{6, 30, 150, 700, 2500}[rng() % 5];
      const int kind = int(rng() % 4), corners = 3 + int(rng() % 6);
      Ring r;
      if (kind == 0 || kind == 1) {  // convex, or a star
        const int m = kind == 0 ? corners : 2 * corners;
        for (int j = 0; j < m; ++j) {
          const double a = 2 * 3.14159265358979 * (j + (kind == 0 ? uniform(0, 0.6) : 0)) / m;
          const double rr = kind == 1 && j % 2 ? rad * uniform(0.3, 0.7) : rad;
          r.push_back(Point(int32_t(cx + rr * std::cos(a)), int32_t(cy + rr * std::sin(a))));
        }
      } else if (kind == 2) {  // an octagon of 45-degree sides
        const int32_t w = 4 + int32_t(rad), c = 1 + int32_t(rng() % uint32_t(w / 2 - 1));
        const int32_t x = int32_t(cx), y = int32_t(cy);
        r = {{x + c, y}, {x + w - c, y}, {x + w, y + c}, {x + w, y + w - c},
             {x + w - c, y + w}, {x + c, y + w}, {x, y + w - c}, {x, y + c}};
      } else {  // a triangle touching the previous polygon at a vertex or along a side
        if (polys.empty()) continue;
        const Ring& o = polys.back();
        const Point a = o[0], b = o[1 % o.size()];
        const bool side = rng() % 2;
        const Point c(int32_t(a.x + uniform(-rad, rad)), int32_t(a.y + uniform(-rad, rad)));
        r = side ? Ring{b, a, c} : Ring{a, c, Point(c.x + int32_t(rad / 2) + 1, c.y - int32_t(rad / 3))};
      }
      Ring sorted = r;
      std::sort(sorted.begin(), sorted.end(),
                [](const Point& p, const Point& q) { return std::tie(p.x, p.y) < std::tie(q.x, q.y); });
      if (std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) polys.push_back(r);
    }
    if (polys.empty()) continue;
    for (const BiasSettings& set : kBiasSettings) {
      SCOPED_TRACE(set.guard * 1000 + set.minLength);
      SetupAgain({{kLayer1, polys}});
      Apply(api, set);
      BiasRuleOf({{0, 1000}}, 5);
      BiasRuleOf({{}, {0, 500}}, -3);
      api.PrepareBiasRules();
      const int result = api.EdgeBias(1, 0);
      EXPECT_GE(ClosedRings(*api.FindTempLayer(result)), 0);
      for (const Ring& g : Rings(result)) EXPECT_FALSE(CrossesItself(g)) << g.size() << "-point ring";
    }
  }
}

// A square with a hole: a slanted square of side 800 with an arm 100 wide
// and 600 long, every edge biased by 80. The arm is narrower than twice the
// bias, so that the hole's ring turns over itself there. The hole must stay
// a hole, less the arm: the layer covers the square outside the hole, the
// hole within 78 of its sides, and not the hole farther than 81 from every
// side (but near the two concave corners, where the moved sides meet
// beyond that distance).
TEST_F(EdgeOpsTest, AHoleThatTurnsOverItselfStaysAHole) {
  const double c = std::cos(3.14159265358979 / 6), s = std::sin(3.14159265358979 / 6);
  const double uv[8][2] = {{0, 0},      {800, 0},    {800, 350}, {1400, 350},
                           {1400, 450}, {800, 450},  {800, 800}, {0, 800}};
  Ring hole;  // counter-clockwise
  for (const auto& [u, v] : uv) {
    hole.push_back(Point(int32_t(std::lround(700 + u * c - v * s)),
                         int32_t(std::lround(300 + u * s + v * c))));
  }
  // The square and the hole as one ring: a cut from the square's right side
  // to the arm's end, the hole clockwise, and back along the cut.
  const Point tip = hole[4];
  Ring keyhole{{0, 0}, {2000, 0}, {2000, tip.y}};
  for (int k = 0; k <= 8; ++k) keyhole.push_back(hole[(4 - k + 8) % 8]);
  keyhole.insert(keyhole.end(), {{2000, tip.y}, {2000, 2000}, {0, 2000}});
  Setup({{kLayer1, {keyhole}}});
  api.tech.biasCornerGuard = 0;
  api.tech.biasMinLength = 0;
  BiasRuleOf({}, 80);
  api.PrepareBiasRules();
  const std::vector<Ring> rings = Rings(api.EdgeBias(1, 0));
  for (const Ring& g : rings) EXPECT_FALSE(CrossesItself(g));
  auto distance = [&](double x, double y) {
    double best = 1e18;
    for (size_t i = 0; i < hole.size(); ++i) {
      const Point &a = hole[i], &b = hole[(i + 1) % hole.size()];
      const double dx = b.x - a.x, dy = b.y - a.y;
      const double t = std::clamp(((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
      best = std::min(best, std::hypot(x - (a.x + t * dx), y - (a.y + t * dy)));
    }
    return best;
  };
  int open = 0;
  for (int y = 5; y < 2000; y += 10) {
    for (int x = 5; x < 2000; x += 10) {
      const bool inHole = hier_test::WindingSum({hole}, x, y) != 0;
      const bool covered = hier_test::WindingSum(rings, x, y) > 0;
      const double d = inHole ? distance(x, y) : 0;
      const bool nearConcave = std::hypot(x - hole[2].x, y - hole[2].y) < 150 ||
                               std::hypot(x - hole[5].x, y - hole[5].y) < 150;
      if (!inHole || d < 78) {
        EXPECT_TRUE(covered) << x << "," << y;
      } else if (d > 81 && !nearConcave) {
        ++open;
        EXPECT_FALSE(covered) << x << "," << y;
      }
    }
  }
  EXPECT_GT(open, 1000);
}

// Slanted convex polygons whose sides are cut at points rounded to the grid
// into pieces, offset directly: a few units from either end of every side
// a cut between two pieces of one bias, and in the middle part steps
// between pieces of other biases. Every vertex of the result lies on the
// exact line of an input side moved by the bias of one of its pieces, off
// it by no more than its rounding to the grid (half a diagonal unit). A
// piece moved along its own direction, which the rounding of its ends
// tilts, strays from that line by units, most where a short piece by a
// corner meets the next side.
TEST(EdgeBiasPieces, PiecesOfASlantedSideStayOnItsShiftedLines) {
  std::mt19937 rng(5309);
  const int32_t biases[] = {-7, 0, 3, 12, 40};
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    // A convex polygon of 3 to 6 corners, sides several hundred long.
    const int corners = 3 + int(rng() % 4);
    const double rad = 400 + rng() % 800, turn = (rng() % 1000) / 1000.0;
    std::vector<Point> poly;
    for (int j = 0; j < corners; ++j) {
      const double a = 2 * 3.14159265358979 * (j + turn + 0.3 * (rng() % 100) / 100.0) / corners;
      poly.push_back(Point(int32_t(rad * std::cos(a)), int32_t(rad * std::sin(a))));
    }
    PSList list, out;
    PSPoint* first = nullptr;
    PSPoint* last = nullptr;
    auto add = [&](int32_t x, int32_t y, bool marker, int32_t bias) {
      PSPoint* p = AppendPoint(list, x, y);
      p->flags = marker ? PSPointFlags::BiasInputVertex : 0;
      SetPointBias(p, bias);
      if (!first) first = p;
      LinkPoints(last, p);
      last = p;
    };
    std::vector<std::vector<int32_t>> sideBiases(poly.size());
    for (size_t i = 0; i < poly.size(); ++i) {
      const Point a = poly[i], c = poly[(i + 1) % poly.size()];
      const double len = std::hypot(double(c.x) - a.x, double(c.y) - a.y);
      std::vector<double> inner;
      for (int k = int(rng() % 3); k > 0; --k) inner.push_back(0.2 + (rng() % 600) / 1000.0);
      std::sort(inner.begin(), inner.end());
      // The middle part's biases, neighbours apart; the corner pieces
      // take the bias of the piece next to them.
      std::vector<int32_t> mid{biases[rng() % 5]};
      for (size_t k = 0; k < inner.size(); ++k) {
        int32_t b;
        do {
          b = biases[rng() % 5];
        } while (b == mid.back());
        mid.push_back(b);
      }
      std::vector<std::pair<double, int32_t>> cuts{{0, mid.front()}, {(1 + rng() % 4) / len, mid.front()}};
      for (size_t k = 0; k < inner.size(); ++k) cuts.push_back({inner[k], mid[k + 1]});
      cuts.push_back({1 - (1 + rng() % 4) / len, mid.back()});
      for (const auto& [t, b] : cuts) {
        add(int32_t(std::lround(a.x + t * (c.x - a.x))), int32_t(std::lround(a.y + t * (c.y - a.y))),
            t == 0, b);
      }
      sideBiases[i] = mid;
    }
    LinkPoints(last, first);
    ++list.ringCount;
    OffsetBiasedList(list, out);
    ASSERT_GT(out.pointCount, 0);
    for (const PSPoint* v = out.head; v; v = v->link) {
      double best = 1e18;
      for (size_t i = 0; i < poly.size(); ++i) {
        const Point a = poly[i], c = poly[(i + 1) % poly.size()];
        const double dx = double(c.x) - a.x, dy = double(c.y) - a.y, len = std::hypot(dx, dy);
        // Signed distance to the right of the side, less the bias.
        const double sd = ((v->x - a.x) * dy - (v->y - a.y) * dx) / len;
        for (int32_t b : sideBiases[i]) best = std::min(best, std::fabs(sd - b));
      }
      EXPECT_LE(best, 0.7072) << v->x << "," << v->y;
    }
    ClearPointList(list);
    ClearPointList(out);
  }
}

// The corner guard's step and the step to a short edge's middle stretch
// along slanted edges: one grid point within half a unit of the edge's line
// near the exact point, within half the edge and the edge's way, the middle
// stretch never of no length. The first two are steps that rounding x and
// y apart put off the line: the middle stretch of (7, 3) at (2, 0), 0.79
// off, and a guard of 3 on (4, 7) at (1, 3), 0.62 off. Then edges about
// twice the guard or the middle stretch, and random edges and fractions.
TEST(EdgeBiasGuardStep, OneGridPointNearTheLine) {
  struct Case { int64_t dx, dy; long double t; bool keepCore; };
  std::vector<Case> cases = {{7, 3, (std::sqrt(58.0L) / 2 - 1) / std::sqrt(58.0L), true},
                             {4, 7, 3 / std::sqrt(65.0L), false},
                             {-9, 4, 0.5L, true},
                             {3, -3, 0.5L, false},
                             {2, 2, 0.5L, true},
                             {1, 1, 0.0L, true}};
  std::mt19937 rng(7713);
  std::uniform_int_distribution<int64_t> d(-400, 400);
  std::uniform_real_distribution<double> frac(0, 0.5);
  for (int k = 0; k < 20000; ++k) {
    const int64_t dx = d(rng), dy = d(rng);
    if (dx != 0 && dy != 0) cases.push_back({dx, dy, frac(rng), k % 2 == 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dx) + "," + std::to_string(c.dy) + " t " +
                 std::to_string(double(c.t)) + (c.keepCore ? " core" : ""));
    int64_t n = -1, m = -1;
    GuardStep(c.dx, c.dy, c.t, c.keepCore, n, m);
    const double len = std::hypot(double(c.dx), double(c.dy));
    EXPECT_LE(std::fabs(double(n * c.dy - m * c.dx)) / len, 0.5 + 1e-12) << n << "," << m;
    EXPECT_LE(std::hypot(n - double(c.t) * c.dx, m - double(c.t) * c.dy), std::sqrt(2.0) + 1e-12);
    EXPECT_TRUE(2 * std::llabs(n) <= std::llabs(c.dx) && 2 * std::llabs(m) <= std::llabs(c.dy));
    EXPECT_TRUE(n * c.dx >= 0 && m * c.dy >= 0);
    if (c.keepCore) {
      EXPECT_FALSE(2 * n == c.dx && 2 * m == c.dy);
    }
  }
}

// --- Edge extraction ---------------------------------------------------------

TEST_F(EdgeOpsTest, ExtractEdgesOneLayer) {
  Setup({{kLayer1, {Rect(0, 0, 20, 200), Rect(500, 0, 600, 200)}}});
  BiasRuleOf({{0, 50}}, 0);  // a bias of 0 still selects
  api.PrepareBiasRules();
  using C = std::pair<Point, Point>;
  EXPECT_EQ(Chains(api.ExtractEdges(1, 0)),
            (std::vector<C>{{{0, 200}, {0, 0}}, {{20, 0}, {20, 200}}}));
  // A rule without ranges selects every edge.
  api.tech.ResetBiasRules();
  BiasRuleOf({}, 3);
  api.PrepareBiasRules();
  EXPECT_EQ(Chains(api.ExtractEdges(1, 0)).size(), 8u);
}

TEST_F(EdgeOpsTest, ExtractEdgesThreeLayers) {
  // Layer 1 a square; layer 3 a bar 30 to the right of it.
  Setup({{kLayer1, {Rect(0, 0, 100, 100)}}, {kLayer2, {Rect(2000, 0, 2100, 100)}},
         {kLayer3, {Rect(130, -50, 200, 150)}}});
  using C = std::pair<Point, Point>;
  BiasRuleOf({{}, {0, 40}}, 1);  // space up to 40
  api.PrepareBiasRules();
  EXPECT_EQ(Chains(api.ExtractEdges(1, 0, -1, 0, 3, 0)), (std::vector<C>{{{100, 0}, {100, 100}}}));
  // Layer 3 left out: the space is the limit (41) everywhere.
  EXPECT_TRUE(Chains(api.ExtractEdges(1, 0, 2, 0, -1, 0)).empty());
  // A rule for open inside distances: with layer 2 far away or left out,
  // every edge of layer 1 has the limit inside.
  api.tech.ResetBiasRules();
  BiasRuleOf({{41, kUnset}}, 1);
  BiasRuleOf({{0, 40}}, 0);
  api.PrepareBiasRules();
  EXPECT_EQ(Chains(api.ExtractEdges(1, 0, -1, 0, 3, 0)).size(), 4u);
  EXPECT_EQ(Chains(api.ExtractEdges(1, 0, 2, 0, 3, 0)).size(), 4u);
}

// --- Line ends and hammer heads ---------------------------------------------

TEST_F(EdgeOpsTest, LineEndsOfALine) {
  Setup({{kLayer1, {Rect(0, 0, 100, 1000)}}});
  EndcapRule({{90, 110}}, 60, 20, 10);
  api.PrepareEndcapRules();
  using C = std::pair<Point, Point>;
  EXPECT_EQ(Chains(api.ExtractLineEnds(1, 0)),
            (std::vector<C>{{{0, 0}, {100, 0}}, {{100, 1000}, {0, 1000}}}));
}

TEST_F(EdgeOpsTest, HammerHeads) {
  // An isolated line end of width 100: 120 x 60, 20 out and 40 in.
  Setup({{kLayer1, {Rect(0, 0, 100, 1000)}}});
  EndcapRule({{90, 110}}, 60, 20, 10);
  api.PrepareEndcapRules();
  EXPECT_EQ(Boxes(Rings(api.HammerHead(1, 0))),
            (std::vector<Box>{Box(-10, -20, 110, 40), Box(-10, 960, 110, 1020)}));
}

TEST_F(EdgeOpsTest, HammerHeadSideAdjustment) {
  // A neighbour 30 beside the bottom end's right corner. Rule A (no side
  // neighbour within 50): (60, 20, 10); rule B (side space up to 50):
  // (60, 20, 20). The right side takes E' = 20 and the depth 600 / 20 - 20
  // = 10; the left side keeps 40, so a second rectangle 10 wide and 30 deep
  // lies under the left end of the head.
  for (int adjust : {1, 0}) {
    SCOPED_TRACE(adjust);
    TearDown();
    api.tech.ResetHammerRules();
    Setup({{kLayer1, {Rect(0, 0, 100, 1000), Rect(130, -20, 200, 20)}}});
    api.tech.hammerSideAdjust = adjust;
    EndcapRule({{90, 110}, {}, {51, kUnset}}, 60, 20, 10);
    EndcapRule({{90, 110}, {}, {0, 50}}, 60, 20, 20);
    api.PrepareEndcapRules();
    const std::vector<Box> want =
        adjust ? std::vector<Box>{Box(-10, -20, 120, 10), Box(-10, 10, 0, 40), Box(-10, 960, 110, 1020)}
               : std::vector<Box>{Box(-10, -20, 120, 40), Box(-10, 960, 110, 1020)};
    EXPECT_EQ(Boxes(Rings(api.HammerHead(1, 0))), want);
  }
}

TEST_F(EdgeOpsTest, HammerHeadSideRuleWithoutExtension) {
  // A neighbour 30 beside one corner of the bottom end, whose side rule
  // (side space up to 50) has E' = 0: that side of the head gets no
  // extension and keeps the depth h - t = 40 with and without the side
  // adjustment (no depth from h * E / E'), so the head stays one rectangle.
  struct Case { const char* side; Ring neighbour; Box head; };
  const Case cases[] = {
      {"right (dP)", Rect(130, -20, 200, 20), Box(-10, -20, 100, 40)},
      {"left (dN)", Rect(-100, -20, -30, 20), Box(0, -20, 110, 40)},
  };
  for (const Case& c : cases) {
    for (int adjust : {1, 0}) {
      SCOPED_TRACE(std::string(c.side) + " adjust " + std::to_string(adjust));
      TearDown();
      api.tech.ResetHammerRules();
      Setup({{kLayer1, {Rect(0, 0, 100, 1000), c.neighbour}}});
      api.tech.hammerSideAdjust = adjust;
      EndcapRule({{90, 110}, {}, {51, kUnset}}, 60, 20, 10);
      EndcapRule({{90, 110}, {}, {0, 50}}, 60, 20, 0);
      api.PrepareEndcapRules();
      std::vector<Box> want{c.head, Box(-10, 960, 110, 1020)};
      std::sort(want.begin(), want.end(), [](const Box& a, const Box& b) {
        return std::tie(a.x1, a.y1, a.x2, a.y2) < std::tie(b.x1, b.y1, b.x2, b.y2);
      });
      EXPECT_EQ(Boxes(Rings(api.HammerHead(1, 0))), want);
    }
  }
}

// --- Temporary layers with open chains ---------------------------------------

TEST_F(EdgeOpsTest, OpenChainsOfATemporaryLayer) {
  Setup({{kLayer1, {Rect(0, 0, 10, 10)}}});
  api.tech.biasCornerGuard = 0;
  api.tech.biasMinLength = 0;
  BiasRuleOf({}, 5);
  EndcapRule({{90, 110}}, 60, 20, 10);
  api.PrepareBiasRules();
  api.PrepareEndcapRules();
  // A temporary layer (datatype 1: copied, kept for the next call) with a
  // 100 x 1000 line and two open chains: a 2-point edge and a U-shaped
  // walk whose middle edge looks like a line end.
  const int index = api.GetTempLayer();
  const int number = API::kTempLayerBase - index;
  PSList& layer = *api.tempLayers[size_t(index)];
  test::AddRing(layer, {{0, 0}, {100, 0}, {100, 1000}, {0, 1000}});
  test::AddChain(layer, {{500, 0}, {500, 700}});
  test::AddChain(layer, {{800, 1000}, {800, 0}, {900, 0}, {900, 1000}});
  // EdgeBias leaves the chains out and biases the ring.
  EXPECT_EQ(Boxes(Rings(api.EdgeBias(number, 1))), (std::vector<Box>{Box(-5, -5, 105, 1005)}));
  // ExtractEdges takes each edge of the chains as an edge of its own.
  using C = std::pair<Point, Point>;
  const std::vector<C> edges = Chains(api.ExtractEdges(number, 1));
  EXPECT_EQ(edges.size(), 4u + 1u + 3u);
  EXPECT_TRUE(std::count(edges.begin(), edges.end(), C{{500, 0}, {500, 700}}) == 1);
  // Line ends only where both corners have a neighbour: the ring's two
  // ends and the chain's middle edge, whose neighbours are both there.
  EXPECT_EQ(Chains(api.ExtractLineEnds(number, 1)),
            (std::vector<C>{{{0, 0}, {100, 0}}, {{100, 1000}, {0, 1000}}, {{800, 0}, {900, 0}}}));
}

// --- Hierarchical mode --------------------------------------------------------

TEST_F(EdgeOpsTest, HierarchicalResultIsTheFlatOneWithinTheSizedOperationLayers) {
  // Lines in the working cell; the operation layer {2 0} covers part of
  // them. In hierarchical mode the result is cut to the operation layers
  // grown by the largest value of the rules.
  const std::vector<Ring> lines{Rect(0, 0, 100, 1000), Rect(300, 0, 400, 1000),
                                Rect(600, 200, 700, 1200)};
  struct Case { const char* what; std::function<int(API&)> op; };
  const std::vector<Case> cases = {
      {"EdgeBias", [](API& a) { return a.EdgeBias(1, 0); }},
      {"HammerHead", [](API& a) { return a.HammerHead(1, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    api.tech.ResetBiasRules();
    api.tech.ResetHammerRules();
    Setup({{kLayer1, lines}, {kLayer2, {Rect(50, 500, 650, 1100)}}});
    api.opLayers = {kLayer2};
    api.tech.biasCornerGuard = 0;
    BiasRuleOf({{0, 200}}, 30);
    EndcapRule({{90, 110}}, 60, 20, 10);
    api.PrepareBiasRules();
    api.PrepareEndcapRules();
    api.hierarchical = 0;
    const int flat = c.op(api);
    api.hierarchical = 1;
    const std::vector<Ring> hier = Rings(c.op(api));
    api.hierarchical = 0;
    const int grow = c.what == std::string("EdgeBias") ? api.maxBias : api.maxEndcap;
    const int sized = api.SIZING(2, 0, grow);
    const std::vector<Ring> want = Rings(api.BooleanOp(BooleanOpCode::And, flat, 0, sized, 0));
    ASSERT_FALSE(want.empty());
    EXPECT_TRUE(Raster(hier, -100, -100, 900, 1400) == Raster(want, -100, -100, 900, 1400));
    // An operation layer that holds nothing leaves nothing.
    api.opLayers = {9 * 256};
    api.hierarchical = 1;
    EXPECT_TRUE(api.FindTempLayer(c.op(api))->IsEmpty());
    api.hierarchical = 0;
  }
}

// --- Reports and failures ------------------------------------------------------

TEST_F(EdgeOpsTest, ReportLines) {
  Setup({{kLayer1, {Rect(0, 0, 100, 1000)}}});
  BiasRuleOf({}, 1);
  EndcapRule({{90, 110}}, 60, 20, 10);
  api.PrepareBiasRules();
  api.PrepareEndcapRules();
  struct Case { const char* what; std::function<int(API&)> op; std::string text; };
  const std::vector<Case> cases = {
      {"ExtractEdges", [](API& a) { return a.ExtractEdges(1, 0); }, "\n<DATE>\nExtractEdges {1 0}\n  Total input vertices = 4\n"},
      {"ExtractEdges 3", [](API& a) { return a.ExtractEdges(1, 0, -1, 0, 2, 0); },
       "\n<DATE>\nExtractEdges {1 0} {-1 0} {2 0}\n  Total input vertices = 4\n"
       "Warning: no layer {2 0} exists\n  Total input vertices = 0\n"},
      {"EdgeBias", [](API& a) { return a.EdgeBias(1, 0); }, "\n<DATE>\nEdgeBias {1 0}\n  Total input vertices = 4\n"},
      {"ExtractLineEnds", [](API& a) { return a.ExtractLineEnds(1, 0); }, "\n<DATE>\nExtractLineEnds {1 0}\n  Total input vertices = 4\n"},
      {"HammerHead", [](API& a) { return a.HammerHead(1, 0); },
       "\n<DATE>\nHammerHead {1 0}\n  Total input vertices = 4\n<DATE>\nProcess starts\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int degree : {0, 1}) {
      api.tech.reportDegree = degree;
      test::StdoutCapture cap;
      const int layer = c.op(api);
      const std::string raw = cap.Stop();
      if (degree == 0) {
        EXPECT_EQ(raw, "");
        continue;
      }
      EXPECT_NE(raw.find(" kbytes allocated for Point System\n"), std::string::npos);
      EXPECT_EQ(DropPoolReports(MaskDates(raw)),
                c.text + "Resulting layer is {" + std::to_string(layer) + " 0}\n");
    }
  }
  // An empty input: the warning, no memory report.
  api.tech.reportDegree = 1;
  test::StdoutCapture cap;
  const int layer = api.EdgeBias(7, 0);
  EXPECT_EQ(MaskDates(cap.Stop()), "\n<DATE>\nEdgeBias {7 0}\nWarning: no layer {7 0} exists\n"
                                   "  Total input vertices = 0\nWarning: no input layer exists\n"
                                   "Resulting layer is {" + std::to_string(layer) + " 0}\n");
}

using EdgeOpsDeathTest = EdgeOpsTest;

TEST_F(EdgeOpsDeathTest, FailuresEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case { const char* what; bool library; std::function<void(InspectableApi&)> body; const char* message; };
  const std::vector<Case> cases = {
      {"bias rules without library", false, [](InspectableApi& a) { a.PrepareBiasRules(); },
       "ERROR: Library not assigned\n"},
      {"end-cap rules without library", false, [](InspectableApi& a) { a.PrepareEndcapRules(); },
       "ERROR: Library not assigned\n"},
      {"ExtractEdges unprepared", true, [](InspectableApi& a) { a.ExtractEdges(1, 0); },
       "ERROR: Bias rules not prepared\n"},
      {"ExtractEdges 3 unprepared", true, [](InspectableApi& a) { a.ExtractEdges(1, 0, 1, 0, 1, 0); },
       "ERROR: Bias rules not prepared\n"},
      {"EdgeBias unprepared", true, [](InspectableApi& a) { a.EdgeBias(1, 0); },
       "ERROR: Bias rules not prepared\n"},
      {"ExtractLineEnds unprepared", true, [](InspectableApi& a) { a.ExtractLineEnds(1, 0); },
       "ERROR: End-cap rules not prepared\n"},
      {"HammerHead unprepared", true, [](InspectableApi& a) { a.HammerHead(1, 0); },
       "ERROR: End-cap rules not prepared\n"},
      {"bias beyond 4095", true,
       [](InspectableApi& a) {
         a.tech.biasCornerGuard = 0;
         a.tech.CreateBiasRule();
         a.tech.biasRules.head->Item<BiasRule>()->bias[0] = 4096;
         a.PrepareBiasRules();
         a.EdgeBias(1, 0);
       },
       "ERROR: DRC: Bias beyond 4095 database units\n"},
      {"bias beyond the coordinate range", true,
       [](InspectableApi& a) {
         // A line at the right end of the coordinate range grown by 5.
         Model m(1);
         m[0].shapes[kLayer1] = {Rect(INT32_MAX - 300, 0, INT32_MAX, 1000)};
         a.InstallLibrary(0, MakeLibrary(m));
         a.SetArea("c0", INT32_MAX - 1000, -100, INT32_MAX, 1100);
         a.tech.biasCornerGuard = 0;
         a.tech.CreateBiasRule();
         a.tech.biasRules.head->Item<BiasRule>()->bias[0] = 5;
         a.PrepareBiasRules();
         a.EdgeBias(1, 0);
       },
       "ERROR: DRC: Coordinate out of range\n"},
      {"hammer head beyond the coordinate range", true,
       [](InspectableApi& a) {
         Model m(1);
         m[0].shapes[kLayer1] = {Rect(0, INT32_MAX - 1000, 100, INT32_MAX)};
         a.InstallLibrary(0, MakeLibrary(m));
         a.SetArea("c0", -100, INT32_MAX - 2000, 200, INT32_MAX);
         a.tech.CreateHammerRule();
         BiasRule& r = *a.tech.endcapRules.head->Item<BiasRule>();
         r.min[0] = 90, r.max[0] = 110;
         r.bias[0] = 60, r.bias[1] = 20, r.bias[2] = 10;
         a.PrepareEndcapRules();
         a.HammerHead(1, 0);
       },
       "ERROR: DRC: Coordinate out of range\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(
        {
          if (c.library) Setup({{kLayer1, {Rect(0, 0, 100, 1000)}}});
          WithStdoutOnStderr([&] { c.body(api); });
        },
        ::testing::ExitedWithCode(1), Literal(c.message));
  }
}

}  // namespace
}  // namespace velmar
