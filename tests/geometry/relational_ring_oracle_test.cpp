// Ring selections (codes 10..23) judged ring by ring against the other
// operand, checked against a brute-force oracle that knows nothing of the
// sweep: for every ring it rasterises the ring's area inside and outside
// the other operand and walks its boundary in unit steps, looking at both
// sides of every step.
//
// The selection rules come from the meaning of each code:
//   SIN      every piece of the ring's boundary lies inside the other
//            operand (covered on both sides);
//   TIN      inside with touching allowed (no boundary piece outside or
//            abutting from outside) and some boundary piece on the other
//            operand's boundary from inside;
//   INSIDE   inside with touching allowed;
//   SOUT     no area shared with the other operand and no boundary piece
//            against it (every piece uncovered on both sides);
//   TOUT     no area shared, and some boundary piece abutting the other
//            operand from outside;
//   OUTSIDE  no area shared (abutting and corner touching allowed);
//   OVER     some area shared.
// Even codes judge the rings of the first operand against the second, odd
// codes the rings of the second against the first; negation takes every
// other ring of the same operand. Rings of the judged operand that abut or
// overlap each other never change one another's result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "foundation/error.h"
#include "geometry/relational.h"
#include "support/point_list_fixtures.h"
#include "support/random_shapes.h"

namespace velmar {
namespace {

using oracle::Rect;
using test::ListGuard;

// ---------------------------------------------------------------------------
// Oracle

// What the oracle knows of one ring against the other operand: atomic
// area pieces (quarter-cell triangles) inside and outside it, and unit
// boundary steps by the coverage of their two sides.
struct RingFacts {
  int areaIn = 0;
  int areaOut = 0;
  int edgeIn = 0;     // covered on both sides
  int edgeOut = 0;    // covered on neither side
  int edgeTouch = 0;  // covered on the ring's inner side only
  int edgeAbut = 0;   // covered on the ring's outer side only
};

bool OracleSelects(int code, const RingFacts& f) {
  const bool inside = f.edgeOut == 0 && f.edgeAbut == 0;
  const bool outside = f.areaIn == 0;
  switch (code & ~1) {
    case 10: return inside && f.edgeTouch == 0;
    case 12: return outside && f.edgeAbut == 0;
    case 14: return inside && f.edgeTouch > 0;
    case 16: return outside && f.edgeAbut > 0;
    case 18: return f.areaIn > 0;
    case 20: return inside;
    case 22: return outside;
  }
  ADD_FAILURE() << "no rule for code " << code;
  return false;
}

// Sample points in quarter units. Every vertex lies on the integer grid and
// every 45-degree line has an even intercept (x - y or x + y even), so two
// edges meet only at grid points; the samples below lie on no such line.
// Each unit cell is cut by both diagonals into four triangles, none of
// which any edge crosses: one sample in each.
constexpr int kCellSamples[4][2] = {{2, 1}, {3, 2}, {2, 3}, {1, 2}};

int WindingOf(const std::vector<std::vector<Point>>& rings, int64_t x4,
              int64_t y4) {
  int w = 0;
  for (const auto& r : rings) w += oracle::WindingScaled(r, x4, y4, 4);
  return w;
}

Box Bounds(const std::vector<Point>& pts) {
  Box b;
  for (const Point& p : pts) {
    b.x1 = std::min(b.x1, p.x);
    b.y1 = std::min(b.y1, p.y);
    b.x2 = std::max(b.x2, p.x);
    b.y2 = std::max(b.y2, p.y);
  }
  return b;
}

RingFacts Judge(const std::vector<Point>& ring,
                const std::vector<std::vector<Point>>& other) {
  RingFacts f;
  const Box b = Bounds(ring);
  for (int32_t cx = b.x1; cx < b.x2; ++cx)
    for (int32_t cy = b.y1; cy < b.y2; ++cy)
      for (const auto& s : kCellSamples) {
        const int64_t x4 = 4 * int64_t(cx) + s[0], y4 = 4 * int64_t(cy) + s[1];
        if (oracle::WindingScaled(ring, x4, y4, 4) < 1) continue;
        (WindingOf(other, x4, y4) >= 1 ? f.areaIn : f.areaOut) += 1;
      }
  // Boundary in unit steps (one grid step along an axis or a diagonal),
  // sampled a quarter unit to the left (the inside of a counter-clockwise
  // ring) and to the right of the step's middle.
  const size_t n = ring.size();
  for (size_t i = 0; i < n; ++i) {
    const Point& a = ring[i];
    const Point& c = ring[(i + 1) % n];
    const int32_t dx = c.x - a.x, dy = c.y - a.y;
    const int32_t steps = std::max(std::abs(dx), std::abs(dy));
    const int sx = (dx > 0) - (dx < 0), sy = (dy > 0) - (dy < 0);
    for (int32_t k = 0; k < steps; ++k) {
      const int64_t mx = 4 * (int64_t(a.x) + int64_t(k) * sx) + 2 * sx;
      const int64_t my = 4 * (int64_t(a.y) + int64_t(k) * sy) + 2 * sy;
      const bool left = WindingOf(other, mx - sy, my + sx) >= 1;
      const bool right = WindingOf(other, mx + sy, my - sx) >= 1;
      if (left && right)
        ++f.edgeIn;
      else if (left)
        ++f.edgeTouch;
      else if (right)
        ++f.edgeAbut;
      else
        ++f.edgeOut;
    }
  }
  return f;
}

// ---------------------------------------------------------------------------
// Running the engine

struct Layout {
  std::vector<std::vector<Point>> rings[2];  // [0] first operand, [1] second
};

void Build(PSList& list, const Layout& l) {
  for (int k = 0; k < 2; ++k)
    for (const auto& r : l.rings[k])
      test::AddRing(list, r, k ? PSPointFlags::SecondLayer : 0);
}

std::vector<std::vector<Point>> OutputRings(const PSList& out) {
  std::vector<std::vector<Point>> rings;
  std::set<const PSPoint*> seen;
  for (const PSPoint* p = out.head; p; p = p->link) {
    if (seen.count(p)) continue;
    const PSPoint* end;
    rings.push_back(test::WalkRing(p, seen, end));
    EXPECT_EQ(end, p) << "open chain in a ring selection";
  }
  return rings;
}

// Indices of the judged operand's rings that the output holds, each output
// ring matched to an input ring with the same vertex cycle; -1 for an output
// ring that is no input ring.
std::multiset<int> Matched(const std::vector<std::vector<Point>>& got,
                           const std::vector<std::vector<Point>>& input) {
  std::multiset<int> ids;
  std::vector<bool> used(input.size(), false);
  for (const auto& g : got) {
    int id = -1;
    for (size_t i = 0; i < input.size() && id < 0; ++i)
      if (!used[i] && test::SameCycle(g, input[i])) id = int(i);
    if (id >= 0) used[size_t(id)] = true;
    ids.insert(id);
  }
  return ids;
}

std::string Describe(const Layout& l) {
  std::string s;
  for (int k = 0; k < 2; ++k) {
    s += k ? "\nlayer 2:" : "layer 1:";
    for (const auto& r : l.rings[k]) {
      s += " {";
      for (const Point& p : r) s += " (" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
      s += " }";
    }
  }
  return s;
}

// Classifies the layout once and checks every ring code, plain and
// negated, against the oracle. Returns false after the first mismatch.
bool CheckAllCodes(const Layout& l) {
  RingFacts facts[2][16];
  for (int k = 0; k < 2; ++k)
    for (size_t i = 0; i < l.rings[k].size(); ++i) {
      // A clockwise ring is judged by the area it encloses; as the other
      // operand it counts with its own (negative) winding.
      const auto& r = l.rings[k][i];
      facts[k][i] = Judge(test::ShoelaceArea2(r) < 0 ? oracle::Reversed(r) : r,
                          l.rings[1 - k]);
    }
  PSList list;
  ListGuard g{list};
  Build(list, l);
  ClassifyPoints(list);
  for (int code = 10; code <= 23; ++code) {
    const int k = code & 1;
    for (bool negate : {false, true}) {
      std::multiset<int> want;
      for (size_t i = 0; i < l.rings[k].size(); ++i)
        if (OracleSelects(code, facts[k][i]) != negate) want.insert(int(i));
      PSList out;
      ListGuard go{out};
      RelationalSelect(list, out, RelationalCode(code), negate);
      const std::multiset<int> got = Matched(OutputRings(out), l.rings[k]);
      if (got != want) {
        std::string w, h;
        for (int i : want) w += " " + std::to_string(i);
        for (int i : got) h += " " + std::to_string(i);
        ADD_FAILURE() << "code " << code << (negate ? " negated" : "")
                      << ": want {" << w << " }, got {" << h << " }\n"
                      << Describe(l);
        return false;
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Random layouts: few small shapes on a coarse grid, so that shapes of one
// layer abut and overlap each other and meet the other layer's edges.

constexpr int32_t kSpan = 16;

std::vector<Point> RandomManhattanRing(std::mt19937& rng, bool coarse) {
  const int32_t g = coarse ? 2 : 1;
  std::uniform_int_distribution<int32_t> pos(0, kSpan / g - 2);
  std::uniform_int_distribution<int32_t> len(1, 5);
  std::uniform_int_distribution<int> kind(0, 5);
  const int32_t x = g * pos(rng), y = g * pos(rng);
  const int32_t a = g * len(rng), b = g * len(rng);
  switch (kind(rng)) {
    case 0:
    case 1:
    case 2:
      return Rect(x, y, x + a, y + b);
    case 3: {  // L: the top right corner cut away
      const int32_t w = std::max<int32_t>(g, a), h = std::max<int32_t>(g, b);
      return {{x, y}, {x + w + g, y}, {x + w + g, y + h}, {x + g, y + h},
              {x + g, y + h + g}, {x, y + h + g}};
    }
    case 4: {  // C opening to the right: two intervals in the same column
      return {{x, y}, {x + a + g, y}, {x + a + g, y + g}, {x + g, y + g},
              {x + g, y + 2 * g}, {x + a + g, y + 2 * g}, {x + a + g, y + 3 * g},
              {x, y + 3 * g}};
    }
    default: {  // C opening downwards
      return {{x, y}, {x + g, y}, {x + g, y + b + g}, {x + 2 * g, y + b + g},
              {x + 2 * g, y}, {x + 3 * g, y}, {x + 3 * g, y + b + 2 * g},
              {x, y + b + 2 * g}};
    }
  }
}

// In some layouts part of the first operand's rings run clockwise.
Layout RandomManhattan(std::mt19937& rng) {
  std::uniform_int_distribution<int> count(1, 5);
  std::bernoulli_distribution coarse(0.6), someClockwise(0.25), half(0.5);
  Layout l;
  const bool c = coarse(rng);
  const bool cw = someClockwise(rng);
  for (int k = 0; k < 2; ++k) {
    const int n = count(rng);
    for (int i = 0; i < n; ++i) {
      auto r = RandomManhattanRing(rng, c);
      if (k == 0 && cw && half(rng)) r = oracle::Reversed(r);
      l.rings[k].push_back(r);
    }
  }
  return l;
}

Layout RandomOctilinear(std::mt19937& rng) {
  std::uniform_int_distribution<int> count(1, 5);
  Layout l;
  for (int k = 0; k < 2; ++k)
    for (auto& r : test::RandomOctilinearRings(rng, count(rng), kSpan, true))
      l.rings[k].push_back(r.pts);
  return l;
}

TEST(RingSelectionOracle, ManhattanLayoutsEveryCode) {
  std::mt19937 rng(22);
  for (int iter = 0; iter < 6000; ++iter) {
    SCOPED_TRACE("manhattan case " + std::to_string(iter));
    if (!CheckAllCodes(RandomManhattan(rng))) break;
  }
}

TEST(RingSelectionOracle, FortyFiveDegreeLayoutsEveryCode) {
  std::mt19937 rng(45);
  for (int iter = 0; iter < 6000; ++iter) {
    SCOPED_TRACE("45-degree case " + std::to_string(iter));
    if (!CheckAllCodes(RandomOctilinear(rng))) break;
  }
}

// ---------------------------------------------------------------------------
// The two layouts reported from use, with the results expected there.

struct Named {
  std::string name;
  std::vector<Point> pts;
};

struct FixtureCase {
  const char* what;
  std::vector<Named> layer1;
  std::vector<std::vector<Point>> layer2;
  RelationalCode code;
  std::set<std::string> expected;
};

std::set<std::string> SelectNamed(const FixtureCase& c) {
  PSList list;
  ListGuard g{list};
  for (const Named& s : c.layer1) test::AddRing(list, s.pts);
  for (const auto& r : c.layer2) test::AddRing(list, r, PSPointFlags::SecondLayer);
  ClassifyPoints(list);
  PSList out;
  ListGuard go{out};
  RelationalSelect(list, out, c.code, false);
  std::set<std::string> names;
  for (const auto& ring : OutputRings(out)) {
    std::string found = "?";
    for (const Named& s : c.layer1)
      if (test::SameCycle(ring, s.pts)) found = s.name;
    names.insert(found);
  }
  return names;
}

TEST(RingSelectionOracle, ShapesOfOneLayerDoNotChangeEachOthersRelation) {
  const Named p{"P", Rect(40, 10, 60, 30)};
  const Named n1{"N1", Rect(40, 0, 70, 10)};
  const Named n2{"N2", Rect(60, 10, 70, 40)};
  const std::vector<std::vector<Point>> l2a = {
      Rect(0, 20, 60, 60), Rect(10, 10, 50, 20), Rect(30, 0, 60, 10),
      Rect(60, 10, 80, 50)};
  const Named q{"Q", Rect(0, 20, 10, 30)};
  const Named r{"R", Rect(10, 10, 30, 40)};
  const std::vector<std::vector<Point>> l2b = {Rect(10, 20, 60, 30)};
  const FixtureCase cases[] = {
      // P's part (50..60, 10..20) is not covered: P is not inside, whether
      // or not N1 and N2 lie against it. N2 lies inside, on the boundary.
      {"P with N1 and N2", {p, n1, n2}, l2a, RelationalCode::Inside, {"N2"}},
      {"P alone", {p}, l2a, RelationalCode::Inside, {}},
      // Q only abuts layer 2 from outside; R (against Q along x = 10)
      // overlaps it.
      {"Q and R", {q, r}, l2b, RelationalCode::Outside, {"Q"}},
      {"Q and R", {q, r}, l2b, RelationalCode::TOut, {"Q"}},
      {"Q and R", {q, r}, l2b, RelationalCode::Over, {"R"}},
  };
  for (const FixtureCase& c : cases)
    EXPECT_EQ(SelectNamed(c), c.expected) << c.what << ", code " << int(c.code);
}

TEST(RingSelectionOracle, EnclosingRingOverlapsThroughAnOverlappingNeighbour) {
  // A encloses the layer-2 island without touching it; B overlaps A and
  // reaches above it. In the island's columns A's interval ends inside B,
  // where layer 1 as a whole is not left: A must still count as
  // overlapping, and B as outside.
  const Named a{"A", Rect(0, 0, 100, 100)};
  const Named b{"B", Rect(40, 80, 60, 150)};
  const std::vector<std::vector<Point>> island = {Rect(45, 45, 55, 55)};
  const FixtureCase cases[] = {
      {"A and B", {a, b}, island, RelationalCode::Over, {"A"}},
      {"A and B", {a, b}, island, RelationalCode::SOut, {"B"}},
      {"A and B", {a, b}, island, RelationalCode::Outside, {"B"}},
  };
  for (const FixtureCase& c : cases)
    EXPECT_EQ(SelectNamed(c), c.expected) << c.what << ", code " << int(c.code);
}

// ---------------------------------------------------------------------------
// Selected rings are the input rings, vertex for vertex, also where the
// classification split their edges at crossing points rounded to the grid.

TEST(RingSelectionOracle, CopiesAreTheInputRingsAtAnyAngle) {
  std::mt19937 rng(2207);
  std::uniform_int_distribution<int32_t> centre(20, 80);
  std::uniform_int_distribution<int> vertices(3, 7);
  for (int iter = 0; iter < 300; ++iter) {
    SCOPED_TRACE("case " + std::to_string(iter));
    Layout l;
    for (int k = 0; k < 2; ++k)
      for (int i = 0; i < 3; ++i) {
        auto r = test::RandomStarRing(rng, centre(rng), centre(rng), 30, vertices(rng));
        if (r.size() >= 3 && test::ShoelaceArea2(r) > 0) l.rings[k].push_back(r);
      }
    PSList list;
    ListGuard g{list};
    Build(list, l);
    ASSERT_NO_THROW(ClassifyPoints(list));
    for (int code = 10; code <= 23; ++code) {
      const auto& input = l.rings[code & 1];
      std::multiset<int> all;
      for (bool negate : {false, true}) {
        PSList out;
        ListGuard go{out};
        RelationalSelect(list, out, RelationalCode(code), negate);
        for (int id : Matched(OutputRings(out), input)) all.insert(id);
      }
      // Selected and left-out rings together: every input ring once, and
      // nothing that is not an input ring.
      std::multiset<int> want;
      for (size_t i = 0; i < input.size(); ++i) want.insert(int(i));
      ASSERT_EQ(all, want) << "code " << code << "\n" << Describe(l);
    }
  }
}

TEST(RingSelectionOracle, RoundedSplitVerticesStayOutOfTheCopy) {
  // The hypotenuse x + y = 11 meets layer 2's edge y = x at (5.5, 5.5),
  // which the classification rounds to the grid.
  const std::vector<Point> tri = {{0, 0}, {11, 0}, {0, 11}};
  PSList list;
  ListGuard g{list};
  test::AddRing(list, tri);
  test::AddRing(list, {{0, 0}, {20, 20}, {0, 20}}, PSPointFlags::SecondLayer);
  const int32_t before = list.pointCount;
  ClassifyPoints(list);
  ASSERT_GT(list.pointCount, before);  // the edges were split
  PSList out;
  ListGuard go{out};
  RelationalSelect(list, out, RelationalCode::Over, false);
  const auto rings = OutputRings(out);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(test::SameCycle(rings[0], tri));
  EXPECT_EQ(out.pointCount, 3);
  EXPECT_EQ(out.ringCount, 1);
}

}  // namespace
}  // namespace velmar
