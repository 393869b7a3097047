// Measurement filters of API: rings by area and vertex count, edges by
// length, rectangles by side lengths, each against a brute force over the
// input; the echo of every condition mode, counters, clipping, the
// hierarchical step and the missing condition.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/layer_op_fixture.h"
#include "geometry/point_list_order.h"

namespace velmar::api_test {
namespace {

// Condition set 1 (or 2) of Tech as one record; -1: not given.
struct Conditions {
  int eq = -1, neq = -1, less = -1, lesseq = -1, greater = -1, greatereq = -1;
  void SetFirst(Tech& t) const {
    t.eq = eq, t.neq = neq, t.less = less, t.lesseq = lesseq;
    t.greater = greater, t.greatereq = greatereq;
  }
  void SetSecond(Tech& t) const {
    t.eq2 = eq, t.neq2 = neq, t.less2 = less, t.lesseq2 = lesseq;
    t.greater2 = greater, t.greatereq2 = greatereq;
  }
};

// One condition mode with the test it stands for on a measurement m whose
// thresholds are the values times k, and the echo it prints.
struct Mode {
  const char* what;
  Conditions c;
  std::function<bool(long double m, long double k)> passes;
  const char* echo;  // AREA's condition text
};

const long double kTol = 1.1920928955078125e-7L;

std::vector<Mode> Modes() {
  Conditions greater, less, both, range, eq, neq, eqNeq, minus2;
  greater.greater = 100;
  less.less = 100;
  both.lesseq = 10, both.less = 20;
  range.greatereq = 50, range.lesseq = 300;
  eq.eq = 200;
  neq.neq = 200;
  eqNeq.eq = 200, eqNeq.neq = 100;
  minus2.eq = -2;
  return {
      {"greater 100", greater, [](long double m, long double k) { return m > 100 * k; },
       "> 100 }\n"},
      {"less 100", less, [](long double m, long double k) { return m < 100 * k; },
       "< 100 }\n"},
      {"lesseq 10 echoed, less 20 tested", both,
       [](long double m, long double k) { return m < 20 * k; }, "<= 10 }\n"},
      {"greatereq 50 and lesseq 300", range,
       [](long double m, long double k) { return m >= 50 * k && m <= 300 * k; },
       "<= 300 >= 50 }\n"},
      {"eq 200", eq,
       [](long double m, long double k) { return std::fabs(m - 200 * k) <= kTol; },
       "== 200 }\n"},
      {"neq 200", neq,
       [](long double m, long double k) { return std::fabs(m - 200 * k) > kTol; },
       "!= 200 }\n"},
      {"eq wins over neq", eqNeq,
       [](long double m, long double k) { return std::fabs(m - 200 * k) <= kTol; },
       "== 200 }\n"},
      {"eq -2: no mode, everything passes", minus2,
       [](long double, long double) { return true; }, "}\n"},
  };
}

// Random rings on a small grid: rectangles, triangles, some turned
// clockwise (holes of a temporary layer), and open chains.
struct RandomLayer {
  std::vector<Points> rings, chains;
  RandomLayer(std::mt19937& rng, int n) {
    std::uniform_int_distribution<int32_t> c(-40, 40), len(1, 25), kind(0, 5);
    for (int i = 0; i < n; ++i) {
      const int32_t x = c(rng), y = c(rng), a = len(rng), b = len(rng);
      Points r;
      switch (kind(rng)) {
        case 0: r = {{x, y}, {x + a, y}, {x, y + b}}; break;
        case 1: r = {{x, y}, {x + a, y + 1}, {x + a, y + b}, {x - 2, y + b + 3}, {x, y + 2}}; break;
        default: r = Rect(x, y, x + a, y + b);
      }
      if (kind(rng) == 0) r = oracle::Reversed(r);
      rings.push_back(r);
    }
    chains.push_back({{c(rng), c(rng)}, {c(rng), c(rng)}, {c(rng), c(rng)}});
  }
  void Fill(PSList& l) const {
    for (const Points& r : rings) test::AddRing(l, r);
    for (const Points& ch : chains) test::AddChain(l, ch);
  }
};

bool HasRing(const std::vector<Points>& rings, const Points& r) {
  for (const Points& s : rings)
    if (test::SameCycle(s, r)) return true;
  return false;
}

void ExpectSameRings(const std::vector<Points>& got, const std::vector<Points>& want) {
  EXPECT_EQ(got.size(), want.size());
  for (const Points& r : want) EXPECT_TRUE(HasRing(got, r));
}

using FilterTest = LayerOpTest;

TEST_F(FilterTest, AreaSelectsRingsByTheirSignedArea) {
  std::mt19937 rng(117);
  for (double scale : {1.0, 2.0}) {
    UseRings({Rect(-50, -50, 50, 50)}, scale);
    for (const Mode& mode : Modes()) {
      SCOPED_TRACE(mode.what);
      mode.c.SetFirst(api.tech);
      const RandomLayer layer(rng, 12);
      const int in = TempLayer([&](PSList& l) { layer.Fill(l); });
      std::vector<Points> want;
      for (const Points& r : layer.rings)
        if (mode.passes(test::ShoelaceArea2(r) / 2.0L, scale * scale)) want.push_back(r);
      const int out = api.AREA(in, 1);
      ExpectSameRings(RingsOf(out), want);
      // Every copy keeps its ring's direction.
      for (const Points& r : RingsOf(out)) EXPECT_TRUE(HasRing(layer.rings, r));
    }
  }
}

TEST_F(FilterTest, NPointsSelectsOuterRingsByVertexCount) {
  std::mt19937 rng(4);
  UseRings({Rect(-50, -50, 50, 50)});
  for (const Mode& mode : Modes()) {
    SCOPED_TRACE(mode.what);
    Conditions c = mode.c;  // counts: values scaled down to vertex counts
    for (int* v : {&c.eq, &c.neq, &c.less, &c.lesseq, &c.greater, &c.greatereq})
      if (*v > 0) *v = *v % 7 + 1;
    c.SetFirst(api.tech);
    const RandomLayer layer(rng, 12);
    const int in = TempLayer([&](PSList& l) { layer.Fill(l); });
    std::vector<Points> want;
    for (const Points& r : layer.rings) {
      if (test::ShoelaceArea2(r) < 0) continue;  // a hole
      const int64_t m = int64_t(r.size());
      bool pass;
      if (c.eq >= 0) pass = m == c.eq;
      else if (c.neq >= 0) pass = m != c.neq;
      else
        pass = (c.less >= 0 ? m < c.less : c.lesseq < 0 || m <= c.lesseq) &&
               (c.greater >= 0 ? m > c.greater : c.greatereq < 0 || m >= c.greatereq);
      if (pass) want.push_back(r);
    }
    ExpectSameRings(RingsOf(api.NPoints(in, 0)), want);
  }
}

TEST_F(FilterTest, LengthSelectsEdgesInTheAreaByLength) {
  std::mt19937 rng(50);
  for (const Mode& mode : Modes()) {
    SCOPED_TRACE(mode.what);
    Conditions c = mode.c;
    for (int* v : {&c.eq, &c.neq, &c.less, &c.lesseq, &c.greater, &c.greatereq})
      if (*v > 0) *v /= 10;  // lengths of a few tens
    for (double scale : {1.0, 0.5}) {
      // The area cuts through the layer: edges on or reaching into it count.
      hier_test::Model m(1);
      m[0].shapes[kLayer1] = {Rect(-50, -50, 50, 50)};
      Use(m, scale, Box(-20, -15, 25, 30));
      c.SetFirst(api.tech);
      const RandomLayer layer(rng, 10);
      const int in = TempLayer([&](PSList& l) { layer.Fill(l); });
      const Box& w = api.area;
      std::vector<Edge> want;
      auto consider = [&](const Point& p, const Point& n) {
        const bool outside =
            (std::max(p.x, n.x) <= w.x1 && std::min(p.x, n.x) < w.x1) ||
            (std::max(p.y, n.y) <= w.y1 && std::min(p.y, n.y) < w.y1) ||
            (std::min(p.x, n.x) >= w.x2 && std::max(p.x, n.x) > w.x2) ||
            (std::min(p.y, n.y) >= w.y2 && std::max(p.y, n.y) > w.y2);
        const long double len = std::hypot((long double)(n.x - p.x), (long double)(n.y - p.y));
        if (!outside && mode.passes(len * 10, scale)) want.emplace_back(p.x, p.y, n.x, n.y);
      };
      for (const Points& r : layer.rings)
        for (size_t i = 0; i < r.size(); ++i) consider(r[i], r[(i + 1) % r.size()]);
      for (const Points& ch : layer.chains)
        for (size_t i = 0; i + 1 < ch.size(); ++i) consider(ch[i], ch[i + 1]);
      const int before = api.lengthViolations;
      const int out = api.Length(in, 0, 0);
      EXPECT_EQ(ChainsOf(Temp(out)), Sorted(want));
      EXPECT_EQ(api.lengthViolations - before, int(2 * want.size()));
    }
  }
}

TEST_F(FilterTest, LengthCasesBoxesAndClipping) {
  UseRings({Rect(0, 0, 100, 50)});
  api.tech.eq = 50;
  // (30, 40) is 50 long; (49, 10) about 50.01.
  const int in = EdgeLayer({{0, 0, 50, 0}, {0, 0, 30, 40}, {0, 0, 49, 10}});
  EXPECT_EQ(ChainsOf(Temp(api.Length(in, 0, 0))),
            (std::vector<Edge>{{0, 0, 30, 40}, {0, 0, 50, 0}}));
  // Amount 5: the edge's box grown by 5.
  api.tech.eq = 100;
  auto boxes = RingsOf(api.Length(EdgeLayer({{0, 0, 100, 0}}), 0, 5));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(test::SameCycle(boxes[0], Rect(-5, -5, 105, 5)));
  // With areaMargin the boxes are clipped to the area; without they are not.
  api.tech.areaMargin = 10;
  boxes = RingsOf(api.Length(1, 0, 5));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(oracle::TotalArea2(boxes), 2 * (2 * 100 * 5));
  for (const Points& r : boxes) {
    const Box b = ring_test::BoxOf(r);
    EXPECT_TRUE(b.x1 >= 0 && b.y1 >= 0 && b.x2 <= 100 && b.y2 <= 50);
  }
  api.tech.areaMargin = 0;
  boxes = RingsOf(api.Length(1, 0, 5));
  EXPECT_EQ(oracle::TotalArea2(boxes), 2 * (2 * 110 * 10));
}

// The line-end test written out: the corner at a, between the edges to b
// and to c, is a right angle that a counter-clockwise ring turns left at.
bool LeftRightAngle(const Point& a, const Point& b, const Point& c) {
  const long double ux = b.x - a.x, uy = b.y - a.y, vx = c.x - a.x, vy = c.y - a.y;
  return ux * vx + uy * vy == 0 && ux * vy - uy * vx > 0;
}

TEST_F(FilterTest, LineEndsAgainstBruteForce) {
  std::mt19937 rng(5115);
  std::uniform_int_distribution<int32_t> c(-60, 60), len(2, 40), kind(0, 3);
  for (const Mode& mode : Modes()) {
    SCOPED_TRACE(mode.what);
    Conditions cond = mode.c;
    for (int* v : {&cond.eq, &cond.neq, &cond.less, &cond.lesseq, &cond.greater,
                   &cond.greatereq})
      if (*v > 0) *v /= 10;
    for (int endcap : {0, 15}) {
      // Rectangles, L shapes (a concave corner) and clockwise rings; the
      // area cuts through them.
      std::vector<Points> rings;
      for (int i = 0; i < 10; ++i) {
        const int32_t x = c(rng), y = c(rng), a = len(rng), b = len(rng);
        switch (kind(rng)) {
          case 0: rings.push_back({{x, y}, {x + a, y}, {x + a, y + 3}, {x + 3, y + 3},
                                   {x + 3, y + b}, {x, y + b}}); break;
          case 1: rings.push_back(oracle::Reversed(Rect(x, y, x + a, y + b))); break;
          default: rings.push_back(Rect(x, y, x + a, y + b));
        }
      }
      hier_test::Model m(1);
      m[0].shapes[kLayer1] = {Rect(-50, -50, 50, 50)};
      Use(m, 1.0, Box(-40, -35, 45, 50));
      cond.SetFirst(api.tech);
      api.tech.endcapMinLength = endcap;
      const long double d = cond.eq >= 0 ? cond.eq : cond.neq >= 0 ? cond.neq
                           : cond.less >= 0 ? cond.less : std::max(cond.lesseq, 0);
      const long double f = cond.eq >= 0 || cond.neq >= 0 ? 0
                           : cond.greater >= 0 ? cond.greater : std::max(cond.greatereq, 0);
      const int64_t limit = endcap != 0 ? endcap : int64_t(std::max(d, f) + 0.5L);
      const Box& w = api.area;
      std::vector<Edge> want, wantSides;
      for (const Points& r : rings) {
        const size_t k = r.size();
        for (size_t i = 0; i < k; ++i) {
          const Point& pr = r[(i + k - 1) % k];
          const Point& p = r[i];
          const Point& n = r[(i + 1) % k];
          const Point& nn = r[(i + 2) % k];
          const bool outside =
              (std::max(p.x, n.x) <= w.x1 && std::min(p.x, n.x) < w.x1) ||
              (std::max(p.y, n.y) <= w.y1 && std::min(p.y, n.y) < w.y1) ||
              (std::min(p.x, n.x) >= w.x2 && std::max(p.x, n.x) > w.x2) ||
              (std::min(p.y, n.y) >= w.y2 && std::max(p.y, n.y) > w.y2);
          const long double l2 = (long double)limit * limit;
          auto sq = [](const Point& a, const Point& b) {
            return (long double)(a.x - b.x) * (a.x - b.x) +
                   (long double)(a.y - b.y) * (a.y - b.y);
          };
          if (outside || sq(pr, p) < l2 || sq(nn, n) < l2) continue;
          if (!LeftRightAngle(p, n, pr) || !LeftRightAngle(n, nn, p)) continue;
          if (!mode.passes(std::sqrt(sq(p, n)) * 10, 1)) continue;
          want.emplace_back(p.x, p.y, n.x, n.y);
          // Sides: 4 beyond the end to min(limit, 9) along (axis-parallel).
          const int32_t s = int32_t(std::min<int64_t>(limit, 9));
          const int32_t ux = (nn.x > n.x) - (nn.x < n.x), uy = (nn.y > n.y) - (nn.y < n.y);
          const Point p1(n.x - 4 * ux, n.y - 4 * uy), p2(n.x + s * ux, n.y + s * uy);
          const int32_t dx = p.x - n.x, dy = p.y - n.y;
          wantSides.emplace_back(p1.x, p1.y, p2.x, p2.y);
          wantSides.emplace_back(p2.x + dx, p2.y + dy, p1.x + dx, p1.y + dy);
        }
      }
      const int in = TempLayer([&](PSList& l) {
        for (const Points& r : rings) test::AddRing(l, r);
      });
      EXPECT_EQ(ChainsOf(Temp(api.LineEnd(in, 1))), Sorted(want));
      EXPECT_EQ(ChainsOf(Temp(api.LineEndSide(in, 0, 9, 4))), Sorted(wantSides));
    }
  }
}

TEST_F(FilterTest, LineEndCasesOfARectangle) {
  UseRings({Rect(0, 0, 100, 10)});
  api.tech.less = 20;
  EXPECT_EQ(ChainsOf(Temp(api.LineEnd(1, 0))),
            (std::vector<Edge>{{0, 10, 0, 0}, {100, 0, 100, 10}}));
  EXPECT_EQ(ChainsOf(Temp(api.LineEndSide(1, 0, 15, 3))),
            Sorted({{103, 10, 85, 10}, {85, 0, 103, 0}, {-3, 0, 15, 0},
                    {15, 10, -3, 10}}));
  // greater 5: L = 5, and the long sides (beside 10-long ends) are line
  // ends too; endcapMinLength 20 (nm, scale 1) leaves only the short ends,
  // which greater 5 passes.
  api.tech.less = -1;
  api.tech.greater = 5;
  EXPECT_EQ(Temp(api.LineEnd(1, 0)).pointCount, 8);
  api.tech.endcapMinLength = 20;
  EXPECT_EQ(ChainsOf(Temp(api.LineEnd(1, 0))),
            (std::vector<Edge>{{0, 10, 0, 0}, {100, 0, 100, 10}}));
  // Reports.
  api.tech.reportDegree = 1;
  int r = 0;
  std::string printed = Printed([&] { r = api.LineEnd(1, 0); });
  EXPECT_EQ(printed, "\n<DATE>\nLineEnd {1 0} { > 5 }\n  Total input vertices = 4\n"
                     "  LineEnd edges = 2\nResulting layer is {" +
                         std::to_string(r) + " 0}\n");
  api.tech.greater = -1;
  api.tech.eq = 10;
  printed = Printed([&] { r = api.LineEndSide(1, 0, 15, 3); });
  EXPECT_EQ(printed, "\n<DATE>\nLineEndSide {1 0} { == 10 \n} 15 3\n"
                     "  Total input vertices = 4\n  LineEndSide edges = 4\n"
                     "Resulting layer is {" + std::to_string(r) + " 0}\n");
  api.tech.eq = -1;
  api.tech.lesseq = 12;
  printed = Printed([&] { r = api.LineEndSide(1, 0, 15, 3); });
  EXPECT_EQ(printed.substr(0, 48), "\n<DATE>\nLineEndSide {1 0} { <= 12 } 15 3\n  Total");
}

TEST_F(FilterTest, RectangleSelectsBySideLengthsAgainstTheIntervals) {
  std::mt19937 rng(5117);
  UseRings({Rect(-50, -50, 50, 50)});
  std::uniform_int_distribution<int> pick(0, 9), value(1, 24);
  auto randomSet = [&]() {
    Conditions c;
    switch (pick(rng) % 5) {
      case 0: c.eq = value(rng); break;
      case 1: c.neq = value(rng); break;
      case 2: c.less = value(rng), c.greatereq = value(rng) / 3; break;
      case 3: c.lesseq = value(rng), c.greater = value(rng) / 3; break;
      default: break;  // not given
    }
    return c;
  };
  auto passes = [](const Conditions& c, int64_t l) {
    if (c.eq >= 0) return l == c.eq;
    if (c.neq >= 0) return l != c.neq;
    return (c.less >= 0 ? l < c.less : c.lesseq < 0 || l <= c.lesseq) &&
           (c.greater >= 0 ? l > c.greater : c.greatereq < 0 || l >= c.greatereq);
  };
  auto given = [](const Conditions& c) {
    return c.eq != -1 || c.neq != -1 || c.less != -1 || c.lesseq != -1 ||
           c.greater != -1 || c.greatereq != -1;
  };
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const Conditions first = randomSet(), second = randomSet();
    first.SetFirst(api.tech);
    second.SetSecond(api.tech);
    const RandomLayer layer(rng, 12);
    std::vector<Points> want;
    for (const Points& r : layer.rings) {
      if (r.size() != 4) continue;
      bool axis = true;
      for (size_t i = 0; i < 4; ++i)
        axis = axis && (r[i].x == r[(i + 1) % 4].x || r[i].y == r[(i + 1) % 4].y);
      if (!axis) continue;
      const Box b = ring_test::BoxOf(r);
      const int64_t w = b.x2 - b.x1, h = b.y2 - b.y1;
      bool take;
      if (!given(first)) take = true;
      else if (!given(second)) take = passes(first, w) || passes(first, h);
      else take = (passes(first, w) && passes(second, h)) ||
                  (passes(first, h) && passes(second, w));
      if (take) want.push_back(r);
    }
    const int in = TempLayer([&](PSList& l) { layer.Fill(l); });
    ExpectSameRings(RingsOf(api.Rectangle(in, 0)), want);
  }
  // A condition no length meets selects nothing: less 0, or a lower bound
  // above the upper one, in either set.
  Conditions less0, crossed, none, neq10;
  less0.less = 0;
  crossed.less = 5, crossed.greatereq = 7;
  neq10.neq = 10;
  for (const Conditions* c : {&less0, &crossed}) {
    const RandomLayer layer(rng, 12);
    c->SetFirst(api.tech);
    none.SetSecond(api.tech);
    EXPECT_TRUE(Temp(api.Rectangle(TempLayer([&](PSList& l) { layer.Fill(l); }), 0)).IsEmpty());
    neq10.SetFirst(api.tech);
    c->SetSecond(api.tech);
    EXPECT_TRUE(Temp(api.Rectangle(TempLayer([&](PSList& l) { layer.Fill(l); }), 0)).IsEmpty());
  }
  // neq 10 keeps every rectangle but the 10 x 10 square; set 2 is not read
  // without set 1.
  const auto squares = [&] {
    return TempLayer([&](PSList& l) {
      test::AddRing(l, Rect(0, 0, 10, 10));
      test::AddRing(l, Rect(0, 0, 10, 12));
    });
  };
  neq10.SetFirst(api.tech);
  none.SetSecond(api.tech);
  EXPECT_EQ(RingsOf(api.Rectangle(squares(), 0)).size(), 1u);
  none.SetFirst(api.tech);
  neq10.SetSecond(api.tech);
  EXPECT_EQ(RingsOf(api.Rectangle(squares(), 0)).size(), 2u);
}

TEST_F(FilterTest, EchoOfEveryConditionMode) {
  UseRings({Rect(0, 0, 10, 10)});
  api.tech.reportDegree = 1;
  for (const Mode& mode : Modes()) {
    SCOPED_TRACE(mode.what);
    mode.c.SetFirst(api.tech);
    int r = 0;
    const std::string printed = Printed([&] { r = api.AREA(1, 0); });
    EXPECT_EQ(printed,
              std::string("\n<DATE>\nAREA {1 0} { ") + mode.echo +
                  "  Total input vertices = 4\n<DATE>\nProcess starts\n"
                  "Resulting layer is {" + std::to_string(r) + " 0}\n");
    // Length and NPoints put their numbers in the same texts.
    const std::string echo = mode.echo;
    const std::string lengthEcho = "\n<DATE>\nLength {1 0} { " +
                                   echo.substr(0, echo.size() - 1) + " 7\n";
    EXPECT_EQ(Printed([&] { api.Length(1, 0, 7); }).substr(0, lengthEcho.size()),
              lengthEcho);
    const std::string countEcho = "\n<DATE>\nNPoints {1 0}\n" + echo;
    EXPECT_EQ(Printed([&] { api.NPoints(1, 0); }).substr(0, countEcho.size()),
              countEcho);
  }
  // Rectangle: both sets in braces; nothing at all without reportDegree.
  Conditions first, second;
  first.eq = 10;
  second.less = 20, second.greatereq = 5;
  first.SetFirst(api.tech);
  second.SetSecond(api.tech);
  int r = 0;
  const std::string printed = Printed([&] { r = api.Rectangle(1, 0); });
  EXPECT_EQ(printed,
            "\n<DATE>\nRectangle {1 0} { == 10 } { < 20 >= 5 } \n"
            "  Total input vertices = 4\n<DATE>\nProcess starts\n"
            "  Total output vertices = 4\nResulting layer is {" +
                std::to_string(r) + " 0}\n");
  api.tech.reportDegree = 0;
  EXPECT_EQ(Printed([&] { api.Rectangle(1, 0); }), "");
  EXPECT_EQ(Printed([&] { api.AREA(1, 0); }), "");
}

TEST_F(FilterTest, LengthReportsAndCounts) {
  UseRings({Rect(0, 0, 10, 10)});
  api.tech.reportDegree = 1;
  api.tech.greatereq = 10;
  int r = 0;
  std::string printed = Printed([&] { r = api.Length(1, 0, 0); });
  EXPECT_EQ(printed,
            "\n<DATE>\nLength {1 0} { >= 10 } 0\n  Total input vertices = 4\n"
            "  Length violation vertices = 8\nResulting layer is {" +
                std::to_string(r) + " 0}\n");
  EXPECT_EQ(api.lengthViolations, 8);
  api.tech.greatereq = 11;
  printed = Printed([&] { r = api.Length(1, 0, 0); });
  EXPECT_EQ(printed,
            "\n<DATE>\nLength {1 0} { >= 11 } 0\n  Total input vertices = 4\n"
            "Resulting layer is {" + std::to_string(r) + " 0}\n");
  EXPECT_EQ(api.lengthViolations, 8);
  api.tech.reportDegree = 0;
  const std::string summary = Printed([&] { api.ReportCount(); });
  EXPECT_NE(summary.find("  Total Length violation vertices = 8\n"), std::string::npos);
}

TEST_F(FilterTest, HierarchicalStepsKeepWhatLiesOnTheGrownOperationLayers) {
  hier_test::Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 40, 30), Rect(60, 10, 70, 50),
                          {{80, 0}, {95, 0}, {80, 9}}};
  m[0].shapes[kLayer2] = {Rect(10, -20, 30, 20), Rect(62, 40, 90, 45)};
  Use(m);
  api.tech.greater = 20;
  ExpectHierarchicalIsFlatOnOpLayers([&] { return api.Length(1, 0, 4); },
                                     m[0].shapes[kLayer2], 4);
  api.tech.greater = -1;
  api.tech.less = 1000;
  ExpectHierarchicalIsFlatOnOpLayers([&] { return api.AREA(1, 0); },
                                     m[0].shapes[kLayer2], 0);
}

// Edges (amount 0) are not regions: the hierarchical run keeps the same
// edges as the flat one instead of intersecting their outline.
TEST_F(FilterTest, HierarchicalLengthKeepsEdges) {
  hier_test::Model m(1);
  m[0].shapes[kLayer1] = {Rect(0, 0, 40, 30), Rect(60, 10, 70, 50)};
  m[0].shapes[kLayer2] = {Rect(10, -20, 30, 20)};
  Use(m);
  api.tech.greater = 5;
  const int flat = api.Length(1, 0, 0);
  api.hierarchical = 1;
  api.AddOpLayer(2, 0);
  const int hier = api.Length(1, 0, 0);
  EXPECT_EQ(ChainsOf(Temp(flat)).size(), 8u);
  EXPECT_EQ(ChainsOf(Temp(hier)), ChainsOf(Temp(flat)));
}

using FilterDeathTest = FilterTest;

TEST_F(FilterDeathTest, MissingConditionEndsTheProcessWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  UseRings({Rect(0, 0, 10, 10)});
  const std::function<void(API&)> ops[] = {
      [](API& a) { a.AREA(1, 0); },
      [](API& a) { a.Length(1, 0, 0); },
      [](API& a) { a.NPoints(1, 0); },
      [](API& a) { a.LineEnd(1, 0); },
      [](API& a) { a.LineEndSide(1, 0, 5, 5); },
  };
  for (const auto& op : ops) {
    EXPECT_EXIT(WithStdoutOnStderr([&] { op(api); }),
                ::testing::ExitedWithCode(1),
                Literal("\nError: missing condition\n"));
  }
}

}  // namespace
}  // namespace velmar::api_test
