// Relational classification and selection on fixtures of two layers.
//
// The expected selections are derived from the meaning of each code
// (inside, outside, touching, abutting, overlapping, enclosing), and the
// edge and polygon results are checked against point sampling of the input
// shapes, never against numbers taken from the engine's own output.
#include "geometry/relational.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/error.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using test::ListGuard;
using test::RingPoints;

// ---------------------------------------------------------------------------
// Fixture shapes: closed counter-clockwise polygons of one layer.

struct Shape {
  std::string name;
  std::vector<Point> pts;
};

std::vector<Point> Rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
}

// Coordinates are doubled so that every vertex and every crossing lies on
// even coordinates and sample points at odd coordinates never touch an edge.
std::vector<Point> Scaled(std::vector<Point> pts) {
  for (Point& p : pts) p = Point(2 * p.x, 2 * p.y);
  return pts;
}

void AddShapes(PSList& list, const std::vector<Shape>& shapes, bool second) {
  for (const Shape& s : shapes)
    test::AddRing(list, Scaled(s.pts), second ? PSPointFlags::SecondLayer : 0);
}

// Winding number of a closed polygon around (px, py) (px, py not on it).
int Winding(const std::vector<Point>& poly, double px, double py) {
  int w = 0;
  for (size_t i = 0; i < poly.size(); ++i) {
    const Point& a = poly[i];
    const Point& b = poly[(i + 1) % poly.size()];
    const double cross = (double(b.x) - a.x) * (py - a.y) - (px - a.x) * (double(b.y) - a.y);
    if (a.y <= py) {
      if (b.y > py && cross > 0) ++w;
    } else if (b.y <= py && cross < 0) {
      --w;
    }
  }
  return w;
}

int Coverage(const std::vector<Shape>& shapes, double px, double py) {
  int c = 0;
  for (const Shape& s : shapes) c += Winding(Scaled(s.pts), px, py);
  return c;
}

// Every ring of a result list (every vertex must have both neighbours).
std::vector<std::vector<Point>> Rings(const PSList& list) {
  std::vector<std::vector<Point>> rings;
  std::set<const PSPoint*> seen;
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (seen.count(p)) continue;
    EXPECT_NE(p->next, nullptr);
    EXPECT_NE(p->prev, nullptr);
    if (!p->next || !p->prev) return rings;
    const PSPoint* end;
    rings.push_back(test::WalkRing(p, seen, end));
  }
  return rings;
}

// ---------------------------------------------------------------------------
// Ring selection truth table (codes 10..23)

// Layer 2: a large square, a square enclosed by a layer-1 shape, a square
// touched at one corner only, a square identical to a layer-1 shape.
const std::vector<Shape> kLayer2 = {
    {"L2a", Rect(0, 0, 100, 100)},
    {"L2b", Rect(200, 0, 300, 100)},
    {"L2c", Rect(400, 0, 450, 50)},
    {"L2d", Rect(600, 0, 650, 50)},
};

// Layer 1, one shape per relation to layer 2.
const std::vector<Shape> kLayer1 = {
    {"In", Rect(20, 20, 40, 40)},             // strictly inside L2a
    {"Tri", {{30, 60}, {50, 60}, {40, 80}}},  // oblique, strictly inside L2a
    {"Out", Rect(500, 500, 520, 520)},        // far outside
    {"TouchIn", Rect(0, 50, 20, 70)},         // inside, on L2a's left side
    {"Abut", Rect(100, 20, 120, 40)},         // outside, against L2a's right side
    {"Over", Rect(80, 80, 130, 130)},         // across L2a's corner
    {"Encl", Rect(180, -20, 320, 120)},       // encloses L2b
    {"Corner", Rect(450, 50, 470, 70)},       // touches L2c at one point
    {"Ident", Rect(600, 0, 650, 50)},         // identical to L2d
};

// Which layer-1 shapes each code selects, from the definitions:
//   SIN: every edge strictly inside layer 2;
//   SOUT: every edge strictly outside, and no layer-2 shape inside it;
//   TIN: inside, with at least one edge on layer 2's boundary (same side);
//   TOUT: outside, with at least one edge abutting layer 2 from outside;
//   OVER: sharing area with layer 2;
//   INSIDE / OUTSIDE: inside / outside with touching allowed.
const std::map<RelationalCode, std::set<std::string>> kExpectedRings = {
    {RelationalCode::SIn, {"In", "Tri"}},
    {RelationalCode::SOut, {"Out", "Corner"}},
    {RelationalCode::TIn, {"TouchIn", "Ident"}},
    {RelationalCode::TOut, {"Abut"}},
    {RelationalCode::Over, {"In", "Tri", "TouchIn", "Over", "Encl", "Ident"}},
    {RelationalCode::Inside, {"In", "Tri", "TouchIn", "Ident"}},
    {RelationalCode::Outside, {"Out", "Abut", "Corner"}},
};

// Names of the selected shapes: each output ring is matched to the fixture
// shape with the same vertex cycle; every ring must match one shape.
std::multiset<std::string> SelectedNames(const PSList& out,
                                         const std::vector<Shape>& shapes) {
  std::multiset<std::string> names;
  for (const auto& ring : Rings(out)) {
    std::string found;
    for (const Shape& s : shapes)
      if (test::SameCycle(ring, Scaled(s.pts))) found = s.name;
    EXPECT_FALSE(found.empty()) << "output ring matches no input shape";
    names.insert(found);
  }
  return names;
}

struct RingCase {
  RelationalCode code;
  bool negate;
};

// Builds the fixture with the operand roles chosen, classifies it, and
// returns the list; the selected operand is `subject`.
void BuildClassified(PSList& list, bool subjectIsSecond) {
  AddShapes(list, kLayer1, subjectIsSecond);
  AddShapes(list, kLayer2, !subjectIsSecond);
  ClassifyPoints(list);
}

RelationalCode Mirror(RelationalCode c) { return RelationalCode(int(c) + 1); }

TEST(RelationalSelect, TruthTableWithAndWithoutNegation) {
  for (bool second : {false, true}) {
    PSList list;
    ListGuard g{list};
    BuildClassified(list, second);
    const int32_t pointsAfterClassify = list.pointCount;
    for (const auto& [code, expected] : kExpectedRings) {
      for (bool negate : {false, true}) {
        // Even codes judge the first operand; the odd twin judges the
        // second, so the same shapes are expected with the roles swapped.
        const RelationalCode c = second ? Mirror(code) : code;
        std::set<std::string> want;
        for (const Shape& s : kLayer1)
          if (expected.count(s.name) != negate) want.insert(s.name);
        PSList out;
        ListGuard go{out};
        RelationalSelect(list, out, c, negate);
        std::multiset<std::string> got = SelectedNames(out, kLayer1);
        EXPECT_EQ(got, std::multiset<std::string>(want.begin(), want.end()))
            << "code " << int(c) << (negate ? " negated" : "");
        EXPECT_EQ(out.ringCount, int32_t(want.size()));
        // Copies carry no flags; the classified list is left as it was.
        for (const PSPoint* p = out.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
        EXPECT_EQ(list.pointCount, pointsAfterClassify);
        for (const PSPoint* p = list.head; p; p = p->link)
          ASSERT_EQ(p->flags & PSPointFlags::Visited, 0);
      }
    }
  }
}

TEST(RelationalSelect, AppendsToANonEmptyOutput) {
  PSList list;
  ListGuard g{list};
  BuildClassified(list, false);
  PSList out;
  ListGuard go{out};
  BoxToRing(out, Box(-1000, -1000, -990, -990), false);
  RelationalSelect(list, out, RelationalCode::SIn, false);
  EXPECT_EQ(out.ringCount, 3);
  EXPECT_EQ(out.pointCount, 4 + 4 + 3);
  test::ExpectConsistent(out);
}

TEST(RelationalSelect, RefusesCodesOutsideItsRange) {
  PSList list;
  ListGuard g{list};
  BuildClassified(list, false);
  PSList out;
  ListGuard go{out};
  EXPECT_THROW(RelationalSelect(list, out, RelationalCode::RXor, false), Error);
  EXPECT_THROW(RelationalSelect(list, out, RelationalCode(24), false), Error);
  EXPECT_THROW(RelationalSelectEdges(list, out, RelationalCode::ROr, false), Error);
  EXPECT_THROW(SelectEdges(list, out, RelationalCode::SIn, false), Error);
  EXPECT_EQ(out.pointCount, 0);
}

// Selecting by code copies `rings` rings of `points` vertices in all; the
// negated selection copies nothing.
void ExpectSelectsRings(PSList& list, RelationalCode code, int rings, int points) {
  for (bool negate : {false, true}) {
    SCOPED_TRACE(negate ? "negated" : "plain");
    PSList out;
    ListGuard go{out};
    RelationalSelect(list, out, code, negate);
    EXPECT_EQ(out.ringCount, negate ? 0 : rings);
    EXPECT_EQ(out.pointCount, negate ? 0 : points);
  }
}

TEST(RelationalSelect, AnOverlappingRingIsCopiedOnce) {
  // The OVER walk stops at the first edge inside layer 2; the rest of the
  // ring must still count as judged, or a later vertex of the same ring
  // would start a second walk and a second copy.
  PSList list;
  ListGuard g{list};
  test::AddRing(list, Scaled(Rect(50, 10, 150, 30)));
  test::AddRing(list, Scaled(Rect(60, 50, 150, 60)));
  test::AddRing(list, Scaled(Rect(0, 0, 100, 100)), PSPointFlags::SecondLayer);
  ClassifyPoints(list);
  ExpectSelectsRings(list, RelationalCode::Over, 2, 8);
}

TEST(RelationalSelect, OpenChainsAreNotTakenForRings) {
  // An open chain of the first operand inside layer 2 is no ring: the ring
  // walk must stop at its end instead of running off it, and it is neither
  // copied nor counted.
  PSList list;
  ListGuard g{list};
  test::AddChain(list, Scaled({{10, 10}, {20, 10}, {20, 20}}));
  test::AddRing(list, Scaled(Rect(30, 30, 40, 40)));
  test::AddRing(list, Scaled(Rect(0, 0, 100, 100)), PSPointFlags::SecondLayer);
  ClassifyPoints(list);
  ExpectSelectsRings(list, RelationalCode::SIn, 1, 4);
  PSList edges;
  ListGuard ge{edges};
  RelationalSelectEdges(list, edges, RelationalCode::SIn, false);
  EXPECT_EQ(edges.pointCount, 2 * (2 + 4));  // the chain's two edges too
}

// ---------------------------------------------------------------------------
// Edge selection (codes 10..23, edge mode) against point sampling.

struct EdgeKey {
  int32_t x1, y1, x2, y2;
  auto operator<=>(const EdgeKey&) const = default;
};

// The layer-2 state on both sides of the edge p -> p.next, by sampling
// 1/4 unit to its left and right at its midpoint.
void SampleSides(const PSPoint* p, const std::vector<Shape>& other, bool& inLeft,
                 bool& inRight) {
  const double mx = (double(p->x) + p->next->x) / 2, my = (double(p->y) + p->next->y) / 2;
  const double dx = double(p->next->x) - p->x, dy = double(p->next->y) - p->y;
  const double len = std::sqrt(dx * dx + dy * dy);
  const double nx = -dy / len * 0.25, ny = dx / len * 0.25;  // unit-ish left normal
  inLeft = Coverage(other, mx + nx, my + ny) > 0;
  inRight = Coverage(other, mx - nx, my - ny) > 0;
}

// The decision of the edge-mode selection derived from the samples: F2 from
// the two sides, abutting when layer 2 lies on the edge's outer (right)
// side only. Overlap codes are left out (their bit is set by the walk).
int OracleEdgeDecision(RelationalCode code, bool inLeft, bool inRight) {
  const bool both = inLeft && inRight, none = !inLeft && !inRight;
  const bool abut = inRight && !inLeft;
  const bool sameSide = inLeft && !inRight;
  switch (int(code) & ~1) {
    case 10: return both;
    case 12: return none;
    case 14: return sameSide ? 2 : both;
    case 16: return abut ? 2 : none;
    case 20: return both || sameSide;
    case 22: return none || abut;
  }
  return -1;
}

TEST(RelationalSelectEdges, MatchesSampledSidesForEveryCode) {
  const RelationalCode codes[] = {
      RelationalCode::SIn, RelationalCode::SOut, RelationalCode::TIn,
      RelationalCode::TOut, RelationalCode::Inside, RelationalCode::Outside};
  for (bool second : {false, true}) {
    PSList list;
    ListGuard g{list};
    BuildClassified(list, second);
    for (RelationalCode base : codes) {
      for (bool negate : {false, true}) {
        const RelationalCode code = second ? Mirror(base) : base;
        std::multiset<EdgeKey> want;
        for (const PSPoint* p = list.head; p; p = p->link) {
          if (((p->flags & PSPointFlags::SecondLayer) != 0) != second) continue;
          bool l, r;
          SampleSides(p, kLayer2, l, r);
          const int d = OracleEdgeDecision(base, l, r);
          const bool take = (int(base) >= 14 && int(base) <= 19) ? d > 1 : d != 0;
          if (take != negate) want.insert({p->x, p->y, p->next->x, p->next->y});
        }
        PSList out;
        ListGuard go{out};
        RelationalSelectEdges(list, out, code, negate);
        std::multiset<EdgeKey> got;
        for (const PSPoint* p = out.head; p; p = p->link) {
          if (!p->next) continue;
          EXPECT_EQ(p->next->next, nullptr);
          EXPECT_EQ(p->prev, nullptr);
          got.insert({p->x, p->y, p->next->x, p->next->y});
        }
        EXPECT_EQ(out.pointCount, int32_t(2 * got.size()));
        EXPECT_EQ(got, want) << "code " << int(code) << (negate ? " negated" : "");
      }
    }
  }
}

TEST(RelationalSelectEdges, OverTakesEdgesInsideOrOfOverlappingRegions) {
  // A layer-1 square enclosing a layer-2 square: its edges all lie outside
  // layer 2, but the region below its top edge overlapped layer 2, so OVER
  // takes that edge (and SOUT in ring mode refuses the ring).
  PSList list;
  ListGuard g{list};
  test::AddRing(list, Scaled(Rect(0, 0, 100, 100)));
  test::AddRing(list, Scaled(Rect(40, 40, 60, 60)), PSPointFlags::SecondLayer);
  ClassifyPoints(list);
  PSList over;
  ListGuard go{over};
  RelationalSelectEdges(list, over, RelationalCode::Over, false);
  EXPECT_GE(over.pointCount, 2);
  for (const PSPoint* p = over.head; p; p = p->link) EXPECT_EQ(p->y, 200);  // top edge
  PSList sout;
  ListGuard gs{sout};
  RelationalSelect(list, sout, RelationalCode::SOut, false);
  EXPECT_EQ(sout.pointCount, 0);
  PSList soutEdges;
  ListGuard ge{soutEdges};
  RelationalSelectEdges(list, soutEdges, RelationalCode::SOut, false);
  EXPECT_EQ(soutEdges.pointCount, 8);  // edge mode ignores the overlap bit
}

// ---------------------------------------------------------------------------
// Polygon selection (codes 0..8) against point sampling.

// Layer 1 overlaps itself, touches itself at a corner, abuts layer 2 along
// a side, equals a layer-2 square, and has an oblique triangle crossing a
// layer-2 rectangle (all crossings on integer points).
const std::vector<Shape> kBoolA = {
    {"A1", Rect(0, 0, 40, 40)},
    {"A2", Rect(20, 20, 60, 60)},
    {"A3", Rect(60, 0, 80, 20)},
    {"A4", Rect(100, 0, 120, 20)},
    {"A5", Rect(200, 0, 220, 20)},
    {"T1", {{0, 100}, {60, 100}, {30, 130}}},
};
const std::vector<Shape> kBoolB = {
    {"B1", Rect(30, 10, 50, 70)},
    {"B2", Rect(10, 30, 15, 35)},
    {"B3", Rect(120, 0, 140, 20)},
    {"B4", Rect(200, 0, 220, 20)},
    {"B5", Rect(10, 90, 44, 115)},
    {"B6", Rect(300, 0, 320, 20)},
    {"B7", Rect(310, 10, 330, 30)},
};

bool ExpectedInside(RelationalCode code, int c1, int c2) {
  const bool in1 = c1 >= 1, in2 = c2 >= 1;
  switch (code) {
    case RelationalCode::ROr1: return in1;
    case RelationalCode::ROr2: return in2;
    case RelationalCode::ROr: return in1 || in2;
    case RelationalCode::RAnd1: return c1 >= 2;
    case RelationalCode::RAnd2: return c2 >= 2;
    case RelationalCode::RAnd: return in1 && in2;
    case RelationalCode::RDiff: return in1 && !in2;
    case RelationalCode::RDiff2: return in2 && !in1;
    case RelationalCode::RXor: return in1 != in2;
    default: return false;
  }
}

TEST(SelectEdges, PolygonsMatchSampledSetOperations) {
  for (int c = 0; c <= 8; ++c) {
    const RelationalCode code = RelationalCode(c);
    PSList list;
    ListGuard g{list};
    AddShapes(list, kBoolA, false);
    AddShapes(list, kBoolB, true);
    ClassifyPoints(list);
    PSList out;
    ListGuard go{out};
    SelectEdges(list, out, code, false);
    const auto rings = Rings(out);
    int mismatches = 0;
    for (int32_t y = -9; y < 2 * 135; y += 2) {
      for (int32_t x = -9; x < 2 * 335; x += 2) {
        // Half-unit off the odd lattice: on no axis-parallel or 45-degree
        // line through even coordinates.
        const double px = x + 0.5;
        const bool want =
            ExpectedInside(code, Coverage(kBoolA, px, y), Coverage(kBoolB, px, y));
        int w = 0;
        for (const auto& r : rings) w += Winding(r, px, y);
        if (w != (want ? 1 : 0) && ++mismatches <= 5)
          ADD_FAILURE() << "code " << c << " at (" << x << ", " << y << "): winding " << w
                        << ", expected " << want;
      }
    }
    EXPECT_EQ(mismatches, 0) << "code " << c;
    // No repeated or collinear vertex survives the simplification.
    for (const auto& r : rings) {
      for (size_t i = 0; i < r.size(); ++i) {
        const Point& a = r[(i + r.size() - 1) % r.size()];
        const Point& b = r[i];
        const Point& n = r[(i + 1) % r.size()];
        const int64_t cross = (int64_t(b.x) - a.x) * (int64_t(n.y) - a.y) -
                              (int64_t(n.x) - a.x) * (int64_t(b.y) - a.y);
        EXPECT_NE(cross, 0) << "code " << c;
      }
    }
  }
}

// Triangles at any angle: the classification splits edges at rounded
// crossing points, which move pieces of edges. The selected edges must
// still close into rings ("Polygon connection failed" must not occur), and
// away from the edges the result must match the sampled set operation. The
// overlap codes 3 and 4 are left out: they re-merge chains of selected
// edges, which rounding can leave open.
TEST(SelectEdges, GeneralAngleTrianglesGiveClosedRings) {
  std::mt19937 rng(1618);
  std::uniform_int_distribution<int32_t> coord(0, 300);
  auto triangle = [&] {
    for (;;) {
      std::vector<Point> t = {{coord(rng), coord(rng)}, {coord(rng), coord(rng)},
                              {coord(rng), coord(rng)}};
      const int64_t a = (int64_t(t[1].x) - t[0].x) * (int64_t(t[2].y) - t[0].y) -
                        (int64_t(t[2].x) - t[0].x) * (int64_t(t[1].y) - t[0].y);
      if (a == 0) continue;
      if (a < 0) std::swap(t[1], t[2]);
      return t;
    }
  };
  for (int iter = 0; iter < 300; ++iter) {
    SCOPED_TRACE("case " + std::to_string(iter));
    std::vector<std::vector<Point>> a, b;
    for (int i = 0; i < 3; ++i) a.push_back(triangle());
    for (int i = 0; i < 3; ++i) b.push_back(triangle());
    for (int c : {0, 1, 2, 5, 6, 7, 8}) {
      const RelationalCode code = RelationalCode(c);
      PSList list, out;
      ListGuard g{list}, go{out};
      for (const auto& t : a) test::AddRing(list, t);
      for (const auto& t : b) test::AddRing(list, t, PSPointFlags::SecondLayer);
      try {
        ClassifyPoints(list);
        SelectEdges(list, out, code, false);
      } catch (const Error& e) {
        FAIL() << "code " << c << ": " << e.Message();
      }
      const auto rings = Rings(out);
      for (int32_t y = 5; y < 300; y += 15)
        for (int32_t x = 5; x < 300; x += 15) {
          bool near = false;
          for (const auto* set : {&a, &b})
            for (const auto& t : *set)
              for (size_t k = 0; k < 3 && !near; ++k) {
                const Point& p = t[k];
                const Point& q = t[(k + 1) % 3];
                const double dx = double(q.x) - p.x, dy = double(q.y) - p.y;
                const double u = std::clamp(((x - p.x) * dx + (y - p.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
                near = std::hypot(p.x + u * dx - x, p.y + u * dy - y) < 2;
              }
          if (near) continue;
          int c1 = 0, c2 = 0;
          for (const auto& t : a) c1 += Winding(t, x, y);
          for (const auto& t : b) c2 += Winding(t, x, y);
          int w = 0;
          for (const auto& r : rings) w += Winding(r, x, y);
          ASSERT_EQ(w, ExpectedInside(code, c1, c2) ? 1 : 0)
              << "code " << c << " at (" << x << ", " << y << ")";
        }
    }
  }
}

TEST(SelectEdges, IdenticalSquaresOfBothOperands) {
  struct Case { RelationalCode code; int rings; };
  const Case cases[] = {
      {RelationalCode::ROr, 1}, {RelationalCode::RAnd, 1},
      {RelationalCode::RDiff, 0}, {RelationalCode::RDiff2, 0},
      {RelationalCode::RXor, 0},
  };
  for (const Case& k : cases) {
    PSList list;
    ListGuard g{list};
    BoxToRing(list, Box(0, 0, 10, 10), false);
    BoxToRing(list, Box(0, 0, 10, 10), true);
    ClassifyPoints(list);
    PSList out;
    ListGuard go{out};
    SelectEdges(list, out, k.code, false);
    const auto rings = Rings(out);
    ASSERT_EQ(int(rings.size()), k.rings) << int(k.code);
    if (k.rings == 1) {
      EXPECT_TRUE(test::SameCycle(rings[0], Rect(0, 0, 10, 10))) << int(k.code);
    }
  }
}

TEST(SelectEdges, EdgesOnlyGivesOrientedTwoPointChains) {
  PSList list;
  ListGuard g{list};
  BoxToRing(list, Box(0, 0, 10, 10), false);
  ClassifyPoints(list);
  PSList out;
  ListGuard go{out};
  SelectEdges(list, out, RelationalCode::ROr1, true);
  EXPECT_EQ(out.pointCount, 8);
  std::set<EdgeKey> got;
  for (const PSPoint* p = out.head; p; p = p->link)
    if (p->next) got.insert({p->x, p->y, p->next->x, p->next->y});
  const std::set<EdgeKey> want = {{0, 0, 10, 0}, {10, 0, 10, 10}, {10, 10, 0, 10}, {0, 10, 0, 0}};
  EXPECT_EQ(got, want);
}

// A lone square is selected whole and comes out closed: no open chain is
// left to join, and the empty join must simply return.
TEST(SelectEdges, IsolatedSquareComesOutClosedWithoutJoining) {
  PSList list;
  ListGuard g{list};
  BoxToRing(list, Box(0, 0, 10, 10), false);
  ClassifyPoints(list);
  PSList out;
  ListGuard go{out};
  SelectEdges(list, out, RelationalCode::ROr1, false);
  const auto rings = Rings(out);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(test::SameCycle(rings[0], Rect(0, 0, 10, 10)));
  EXPECT_EQ(out.ringCount, 1);
  EXPECT_EQ(out.pointCount, 4);
}

TEST(SelectEdges, AbuttingSquaresOfOneLayerMergeWithoutTheSharedEdge) {
  PSList list;
  ListGuard g{list};
  BoxToRing(list, Box(0, 0, 10, 10), false);
  BoxToRing(list, Box(10, 0, 20, 10), false);
  BoxToRing(list, Box(0, 0, 10, 10), false);  // duplicate: output once
  ClassifyPoints(list);
  PSList out;
  ListGuard go{out};
  SelectEdges(list, out, RelationalCode::ROr1, false);
  const auto rings = Rings(out);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(test::SameCycle(rings[0], Rect(0, 0, 20, 10)));
  EXPECT_EQ(out.ringCount, 1);
}

// ---------------------------------------------------------------------------
// Classification of a single edge (no sweep).

TEST(ClassifyEdge, FieldsGoToTheStartPointAndOwnBoundaryFollowsDirection) {
  EXPECT_EQ(ClassificationField(0, 0), 0);
  EXPECT_EQ(ClassificationField(-1, 0), 0);
  EXPECT_EQ(ClassificationField(0, 1), 1);
  EXPECT_EQ(ClassificationField(1, 0), 1);
  EXPECT_EQ(ClassificationField(0, 2), 3);
  EXPECT_EQ(ClassificationField(-1, 1), 3);
  EXPECT_EQ(ClassificationField(1, 2), 2);

  PSList list;
  ListGuard g{list};
  PSPoint* a = PushPoint(list, 0, 0);
  PSPoint* b = PushPoint(list, 10, 0);
  // Forward edge a -> b of the first operand entering layer 1, with layer 2
  // inside on both sides.
  LinkPoints(a, b);
  EXPECT_TRUE(ClassifyEdge(a, b, 0, 1, 1, 1));
  EXPECT_EQ(a->flags, (1 << 1) | (2 << 3));
  EXPECT_EQ(b->flags, 0);
  // Backward edge (b -> a in ring order) of the second operand leaving
  // layer 2: the start point is the right end.
  a->next = nullptr;
  b->prev = nullptr;
  a->flags = b->flags = PSPointFlags::SecondLayer;
  LinkPoints(b, a);
  EXPECT_TRUE(ClassifyEdge(a, b, 0, 0, 1, 0));
  EXPECT_EQ(b->flags, PSPointFlags::SecondLayer | (1 << 3));
  EXPECT_EQ(a->flags, PSPointFlags::SecondLayer);
  // The same backward edge entering layer 2 upward is not its own boundary.
  EXPECT_FALSE(ClassifyEdge(a, b, 0, 0, 0, 1));
}

}  // namespace
}  // namespace velmar
