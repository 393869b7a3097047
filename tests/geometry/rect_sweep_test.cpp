// The axis-parallel boolean path against the general scan-line sweep and a
// grid oracle. On random Manhattan layouts (touching and coincident edges,
// duplicates, nested holes, reversed rings, rings that touch themselves,
// collinear and repeated vertices) every code must give the general sweep's
// output list exactly: the same vertices in the same link order, each with
// the same ring neighbours; and the area the oracle finds. Input that is
// not for the path is refused and left untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support/boolean_oracle.h"
#include "support/list_snapshot.h"
#include "foundation/error.h"
#include "support/stdout_capture.h"
#include "geometry/boolean_sweep.h"
#include "geometry/rect_sweep.h"

namespace velmar {
namespace {

using oracle::i128;
using oracle::Ring;

constexpr int kCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

using test::Describe;
using test::Snap;
using test::Snapshot;

std::string DescribeInput(const std::vector<Ring>& rings) {
  if (rings.size() > 40) return std::to_string(rings.size()) + " rings";
  std::string t;
  for (const Ring& r : rings) {
    t += "L";
    t += std::to_string(r.layer);
    t += "{";
    for (const Point& p : r.pts) {
      t += " ";
      t += std::to_string(p.x);
      t += ",";
      t += std::to_string(p.y);
    }
    t += " } ";
  }
  return t;
}

// Random Manhattan shapes on a coarse grid, so that edges coincide, corners
// touch and shapes repeat.
std::vector<Ring> RandomLayout(std::mt19937& rng, int grid, int maxShapes) {
  std::uniform_int_distribution<int> count(1, maxShapes);
  std::uniform_int_distribution<int> coord(0, grid);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int> layer(1, 2);
  auto box = [&](int& x1, int& y1, int& x2, int& y2) {
    x1 = coord(rng), x2 = coord(rng), y1 = coord(rng), y2 = coord(rng);
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    if (x1 == x2) ++x2;
    if (y1 == y2) ++y2;
  };
  std::vector<Ring> rings;
  const int n = count(rng);
  for (int i = 0; i < n; ++i) {
    int x1, y1, x2, y2;
    box(x1, y1, x2, y2);
    Ring r;
    r.layer = layer(rng);
    switch (kind(rng)) {
      case 0:  // reversed: a hole on its own, a negative count
        r.pts = oracle::Reversed(oracle::Rect(x1, y1, x2, y2));
        break;
      case 1: {  // a rectangle with a hole nested inside
        r.pts = oracle::Rect(x1, y1, x2 + 4, y2 + 4);
        rings.push_back(r);
        const int hx = x1 + 1 + int(rng() % 2), hy = y1 + 1 + int(rng() % 2);
        r.pts = oracle::Reversed(oracle::Rect(hx, hy, x2 + 2 + int(rng() % 2), y2 + 3));
        break;
      }
      case 2: {  // an L shape
        const int mx = x1 + (x2 - x1 + 1) / 2, my = y1 + (y2 - y1 + 1) / 2;
        r.pts = {{x1, y1}, {x2 + 1, y1}, {x2 + 1, my}, {mx, my}, {mx, y2 + 1}, {x1, y2 + 1}};
        break;
      }
      case 3:  // collinear and repeated vertices on the boundary
        r.pts = {{x1, y1}, {x2, y1}, {x2, y1}, {x2, y2}, {x1 + (x2 - x1) / 2, y2}, {x1, y2}};
        break;
      case 4:  // a ring that touches itself at one corner
        r.pts = {{x1, y1}, {x1 + 2, y1}, {x1 + 2, y1 + 2}, {x1 + 4, y1 + 2},
                 {x1 + 4, y1 + 4}, {x1 + 2, y1 + 4}, {x1 + 2, y1 + 2}, {x1, y1 + 2}};
        break;
      case 5:  // a copy of an earlier shape, on either layer
        if (!rings.empty()) {
          r.pts = rings[rng() % rings.size()].pts;
          break;
        }
        [[fallthrough]];
      default:
        r.pts = oracle::Rect(x1, y1, x2, y2);
        break;
    }
    // Rings start at any of their vertices.
    std::rotate(r.pts.begin(), r.pts.begin() + int(rng() % r.pts.size()), r.pts.end());
    rings.push_back(r);
  }
  return rings;
}

// Axis-parallel rings that cross or touch themselves, with lobes of either
// sense: figure eights, rings wound twice, lobes touching at a vertex, and
// random closed walks through a few grid points (horizontal then vertical
// from each point to the next), which cross themselves, run back along
// themselves and wind in any way.
std::vector<Point> SelfCrossingRing(std::mt19937& rng, int grid) {
  std::uniform_int_distribution<int> coord(0, grid);
  std::uniform_int_distribution<int> size(1, std::max(2, grid / 3));
  const int x = coord(rng), y = coord(rng), a = size(rng), b = size(rng), c = size(rng);
  std::vector<Point> pts;
  switch (rng() % 5) {
    case 0:  // a figure eight: lower-left lobe counter-clockwise, upper-right clockwise
      pts = {{x, y}, {x + a, y}, {x + a, y + a + b}, {x + a + c, y + a + b},
             {x + a + c, y + b}, {x, y + b}};
      break;
    case 1:  // wound twice: around a rectangle, then around a smaller one inside
      pts = {{x, y}, {x + a + 2, y}, {x + a + 2, y + b + 2}, {x, y + b + 2},
             {x, y + 1}, {x + a + 1, y + 1}, {x + a + 1, y + b + 1}, {x + 1, y + b + 1},
             {x + 1, y}};
      break;
    case 2:  // two lobes of opposite senses touching at one vertex
      pts = {{x, y}, {x + a, y}, {x + a, y + a}, {x + a, y + a + b}, {x + a + b, y + a + b},
             {x + a + b, y + a}, {x + a, y + a}, {x, y + a}};
      break;
    default: {  // a closed walk through random grid points
      const int n = 2 + int(rng() % 4);
      std::vector<Point> at;
      for (int i = 0; i < n; ++i) at.push_back({coord(rng), coord(rng)});
      for (int i = 0; i < n; ++i) {
        const Point& p = at[size_t(i)];
        const Point& q = at[size_t((i + 1) % n)];
        pts.push_back(p);
        pts.push_back({q.x, p.y});
      }
      break;
    }
  }
  if (rng() % 2) pts = oracle::Reversed(pts);
  std::rotate(pts.begin(), pts.begin() + int(rng() % pts.size()), pts.end());
  return pts;
}

// The general sweep's output for the rings, or its error message.
struct Outcome {
  Snapshot snap;
  std::string error;
};

Outcome General(const std::vector<Ring>& rings, int code, PSList* keep = nullptr) {
  EnableRectilinearBoolean(false);
  Outcome o;
  oracle::OwnedList in, out;
  oracle::BuildList(in.list, rings);
  try {
    BooleanSweep(in.list, &out.list, static_cast<BooleanOpCode>(code), false);
  } catch (const Error& e) {
    o.error = e.Message();
  }
  EnableRectilinearBoolean(true);
  o.snap = Snap(out.list);
  if (keep) SpliceList(*keep, out.list);
  return o;
}

// Runs both paths on one layout and every code; returns how many results
// the axis-parallel path gave itself.
int CompareOnLayout(const std::vector<Ring>& rings) {
  int taken = 0;
  for (int code : kCodes) {
    std::string trace = "code ";
    trace += std::to_string(code);
    trace += ", input ";
    trace += DescribeInput(rings);
    SCOPED_TRACE(trace);
    oracle::OwnedList out;
    // Negative counts included: DIFF reads them as covering nothing on
    // both paths.
    const Outcome general = General(rings, code, &out.list);

    oracle::OwnedList in, rect;
    oracle::BuildList(in.list, rings);
    const Snapshot before = Snap(in.list);
    const bool took = RectilinearBoolean(in.list, rect.list, static_cast<BooleanOpCode>(code));
    EXPECT_TRUE(Snap(in.list) == before) << "the input list was changed";
    EXPECT_TRUE(took);
    if (!took) continue;
    ++taken;
    EXPECT_EQ(general.error, "");
    const Snapshot got = Snap(rect.list);
    EXPECT_TRUE(got == general.snap) << "axis-parallel: " << Describe(got, general.snap)
                                     << "\ngeneral:       " << Describe(general.snap, got);
    // The area of the result against the grid oracle, and its cover cell
    // by cell.
    const auto resultRings = oracle::ResultRings(rect.list);
    EXPECT_EQ(oracle::ToString(oracle::TotalArea2(resultRings)),
              oracle::ToString(2 * oracle::ManhattanArea(rings, code)));
    EXPECT_EQ(oracle::ManhattanCoverFault(rings, code, resultRings), "");
  }
  return taken;
}

TEST(RectilinearBoolean, SameListAsTheGeneralSweepOnRandomManhattanLayouts) {
  std::mt19937 rng(20261210);
  int taken = 0, cases = 0;
  for (int round = 0; round < 1500 && !HasFailure(); ++round) {
    const int grid = round % 3 == 0 ? 6 : (round % 3 == 1 ? 12 : 40);
    taken += CompareOnLayout(RandomLayout(rng, grid, 1 + round % 12));
    cases += int(std::size(kCodes));
  }
  // Only DIFF on layouts with negative counts may go to the general sweep.
  EXPECT_GT(taken, cases * 9 / 10);
}

TEST(RectilinearBoolean, SelfCrossingRingsCountEveryLobeOnRandomLayouts) {
  // Random layouts with one to three self-crossing rings on either operand:
  // the same list as the general sweep, the area and cover of the grid
  // oracle, where a ring that winds both ways covers each of its lobes.
  std::mt19937 rng(20261211);
  int taken = 0, cases = 0, bowTies = 0;
  for (int round = 0; round < 1500 && !HasFailure(); ++round) {
    const int grid = round % 3 == 0 ? 6 : (round % 3 == 1 ? 12 : 40);
    std::vector<Ring> rings;
    if (round % 6 != 0) rings = RandomLayout(rng, grid, round % 6);
    const int extra = 1 + round % 3;
    for (int k = 0; k < extra; ++k) {
      Ring r{SelfCrossingRing(rng, grid), 1 + int(rng() % 2)};
      bowTies += oracle::WindsBothWays(r.pts) ? 1 : 0;
      rings.insert(rings.begin() + int(rng() % (rings.size() + 1)), r);
    }
    taken += CompareOnLayout(rings);
    cases += int(std::size(kCodes));
  }
  EXPECT_GT(taken, cases * 9 / 10);
  EXPECT_GT(bowTies, 500);  // the cases hold many rings whose lobes wind both ways
}

TEST(RectilinearBoolean, LongRingsThatMeetThemselvesOrNot) {
  // Rings of more than 32 straight runs are searched by a sweep rather than
  // pair by pair: closed walks through 20 random grid points (crossing
  // themselves many times), a comb that never meets itself, and the comb
  // with its last tooth folded back across the first.
  std::mt19937 rng(1211);
  std::uniform_int_distribution<int> coord(0, 40);
  auto comb = [](bool folded) {
    std::vector<Point> pts = {{0, 0}, {40, 0}, {40, 3}};
    for (int i = 19; i >= 0; --i) {
      pts.push_back({2 * i + 2, 3});
      pts.push_back({2 * i + 2, 6});
      pts.push_back({2 * i + 1, 6});
      pts.push_back({2 * i + 1, 3});
    }
    pts.push_back({0, 3});
    if (folded) {
      pts.back() = {0, 8};  // up past the teeth, across them, and down
      pts.insert(pts.end() - 1, {{1, 3}, {1, 8}});
      pts.push_back({5, 8});
      pts.push_back({5, -2});
      pts.push_back({0, -2});
    }
    return pts;
  };
  for (int round = 0; round < 60 && !HasFailure(); ++round) {
    std::vector<Point> at, walk;
    for (int i = 0; i < 20; ++i) at.push_back({coord(rng), coord(rng)});
    for (size_t i = 0; i < at.size(); ++i) {
      walk.push_back(at[i]);
      walk.push_back({at[(i + 1) % at.size()].x, at[i].y});
    }
    std::vector<Ring> rings = {{walk, 1 + round % 2}, {comb(round % 3 == 0), 2 - round % 2},
                               {oracle::Rect(coord(rng), 2, 30, 20), 1 + round % 2}};
    EXPECT_EQ(CompareOnLayout(rings), int(std::size(kCodes)));
  }
}

TEST(RectilinearBoolean, SameListOnALargeDenseLayout) {
  // Hundreds of rectangles on a small grid: many touching corners,
  // coincident edges and holes formed by the union.
  std::mt19937 rng(77);
  std::uniform_int_distribution<int> coord(0, 60);
  std::uniform_int_distribution<int> side(1, 8);
  std::vector<Ring> rings;
  for (int i = 0; i < 600; ++i) {
    const int x = coord(rng), y = coord(rng);
    rings.push_back({oracle::Rect(x, y, x + side(rng), y + side(rng)), 1 + i % 2});
  }
  EXPECT_EQ(CompareOnLayout(rings), int(std::size(kCodes)));
}

TEST(RectilinearBoolean, FixedCases) {
  // Corners touching on both diagonals, inside one ring (a hole touching
  // its outer boundary) and between rings of either operand.
  const std::vector<std::vector<Ring>> layouts = {
      {{oracle::Rect(0, 0, 2, 2), 1}, {oracle::Rect(2, 2, 4, 4), 1}},
      {{oracle::Rect(0, 2, 2, 4), 1}, {oracle::Rect(2, 0, 4, 2), 2}},
      {{oracle::Rect(0, 0, 6, 6), 1},
       {oracle::Reversed(oracle::Rect(1, 1, 3, 3)), 1},
       {oracle::Reversed(oracle::Rect(3, 3, 5, 5)), 1}},
      {{oracle::Rect(0, 0, 4, 4), 1}, {oracle::Rect(0, 0, 4, 4), 2}},
      {{oracle::Rect(0, 0, 4, 4), 1}, {oracle::Rect(4, 0, 8, 4), 2},
       {oracle::Rect(0, 4, 4, 8), 2}, {oracle::Rect(4, 4, 8, 8), 1}},
      // The ends of the coordinate range.
      {{oracle::Rect(INT32_MIN, INT32_MIN, INT32_MAX, 0), 1},
       {oracle::Rect(-5, INT32_MIN + 1, INT32_MAX, INT32_MAX), 2},
       {oracle::Rect(INT32_MIN, -7, 3, INT32_MAX), 1}},
  };
  for (const auto& rings : layouts) EXPECT_EQ(CompareOnLayout(rings), int(std::size(kCodes)));
}

TEST(RectilinearBoolean, BooleanSweepTakesThePathForAxisParallelInput) {
  // A lone first-operand square: the dispatch leaves its input unsorted
  // (the general sweep sorts it by position before sweeping).
  oracle::OwnedList in, out;
  oracle::BuildList(in.list, {{oracle::Rect(0, 0, 4, 4), 1}});
  const Snapshot before = Snap(in.list);
  BooleanSweep(in.list, &out.list, BooleanOpCode::Or, false);
  EXPECT_TRUE(Snap(in.list) == before);
  EXPECT_EQ(out.list.pointCount, 4);
}

TEST(RectilinearBoolean, RefusesInputThatIsNotForIt) {
  struct Case {
    const char* what;
    std::vector<Point> pts;
    bool open;
    uint16_t flags;     // of every vertex
    uint16_t oneFlag;   // of the first vertex only
  };
  const std::vector<Case> cases = {
      {"a diagonal edge", {{0, 0}, {4, 0}, {4, 4}, {1, 3}}, false, 0, 0},
      {"an open chain", {{0, 0}, {4, 0}, {4, 4}, {0, 4}}, true, 0, 0},
      {"an edge-class bit", {{0, 0}, {4, 0}, {4, 4}, {0, 4}}, false, 0, 0x02},
      {"a ring in both operands", {{0, 0}, {4, 0}, {4, 4}, {0, 4}}, false, 0,
       PSPointFlags::SecondLayer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    oracle::OwnedList in, out;
    test::AddRing(in.list, oracle::Rect(10, 10, 20, 20));
    if (c.open)
      test::AddChain(in.list, c.pts, c.flags);
    else
      test::AddRing(in.list, c.pts, c.flags);
    in.list.head->flags |= c.oneFlag;
    PushPoint(out.list, 7, 7);
    const Snapshot before = Snap(in.list);
    const Snapshot outBefore = Snap(out.list);
    EXPECT_FALSE(RectilinearBoolean(in.list, out.list, BooleanOpCode::Or));
    EXPECT_TRUE(Snap(in.list) == before);
    EXPECT_TRUE(Snap(out.list) == outBefore);
  }
  // Codes that are not booleans.
  oracle::OwnedList in, out;
  test::AddRing(in.list, oracle::Rect(0, 0, 4, 4));
  for (BooleanOpCode code : {BooleanOpCode::CutHoles, BooleanOpCode::Fracture,
                             BooleanOpCode::FractureCommand, BooleanOpCode::CrossingPass})
    EXPECT_FALSE(RectilinearBoolean(in.list, out.list, code));
}

TEST(RectilinearBoolean, AppendsBehindWhatTheOutputHolds) {
  const std::vector<Ring> rings = {{oracle::Rect(0, 0, 4, 4), 1}, {oracle::Rect(2, 2, 6, 6), 2}};
  oracle::OwnedList general, rect;
  for (PSList* l : {&general.list, &rect.list}) {
    test::AddRing(*l, oracle::Rect(100, 100, 101, 101));
  }
  {
    EnableRectilinearBoolean(false);
    oracle::OwnedList in;
    oracle::BuildList(in.list, rings);
    BooleanSweep(in.list, &general.list, BooleanOpCode::Xor, false);
    EnableRectilinearBoolean(true);
  }
  oracle::OwnedList in;
  oracle::BuildList(in.list, rings);
  ASSERT_TRUE(RectilinearBoolean(in.list, rect.list, BooleanOpCode::Xor));
  EXPECT_TRUE(Snap(rect.list) == Snap(general.list)) << Describe(Snap(rect.list), Snap(general.list));
}

}  // namespace
}  // namespace velmar
