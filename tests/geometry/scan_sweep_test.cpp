// Scan-line sweep details: the active-edge order, hole cutting (code 25),
// the crossing pass (code 32), refused and empty codes, edge output, hole
// selection.
#include "geometry/scan_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "support/boolean_oracle.h"
#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using oracle::i128;
using oracle::OwnedList;
using oracle::Rect;
using oracle::Reversed;
using oracle::Ring;

struct Pts {
  std::vector<PSPoint> p;
  explicit Pts(std::initializer_list<Point> pts) {
    for (const Point& q : pts) {
      PSPoint v{};
      v.x = q.x;
      v.y = q.y;
      p.push_back(v);
    }
  }
};

TEST(ScanSweep, ActiveEdgeOrderIsExact) {
  // n passes x = 32 at y = 22.525, half a unit below e's start (32, 23): a
  // rounded y would call them equal and order them by direction.
  Pts v({{32, 23}, {89, 10}, {20, 15}, {79, 52}});
  SweepEdge e{&v.p[0], &v.p[1], true};
  SweepEdge n{&v.p[2], &v.p[3], true};
  EXPECT_EQ(CompareActiveEdge(e, n, 32), 1);
  EXPECT_EQ(CompareActiveEdge(n, e, 32), -1);
  // Through one point: the smaller slope lies below.
  Pts w({{0, 0}, {10, 5}, {0, 0}, {10, -5}, {0, 0}, {0, 10}});
  SweepEdge up{&w.p[0], &w.p[1], true}, down{&w.p[2], &w.p[3], true};
  EXPECT_EQ(CompareActiveEdge(down, up, 0), -1);
  EXPECT_EQ(CompareActiveEdge(up, up, 0), 0);
  // A vertical edge never compares equal to a non-vertical one.
  SweepEdge vert{&w.p[4], &w.p[5], true};
  EXPECT_EQ(CompareActiveEdge(vert, up, 0), 1);
  EXPECT_EQ(CompareActiveEdge(up, vert, 0), -1);
}

TEST(ScanSweep, ChainOrderPutsStartsFirstAtOnePosition) {
  OwnedList l;
  PSPoint* end = test::AddChain(l.list, {{0, 0}, {5, 5}})->next;     // (5,5) end
  PSPoint* start = test::AddChain(l.list, {{5, 5}, {9, 9}});         // (5,5) start
  EXPECT_LT(ComparePointChain(start, end), 0);
  EXPECT_GT(ComparePointChain(end, start), 0);
  SortPointsByPosition(l.list, true);
  std::vector<std::pair<int, bool>> order;
  for (PSPoint* p = l.list.head; p; p = p->link) order.push_back({p->x, p->next != nullptr});
  EXPECT_EQ(order, (std::vector<std::pair<int, bool>>{{0, true}, {5, true}, {5, false}, {9, false}}));
  EXPECT_EQ(l.list.tail->x, 9);
}

// The position sort against a stable comparison sort of the same points:
// lists long enough for the digit passes, over narrow and full-width
// coordinate ranges (the packed keys and the full-width path), with many
// repeated positions so that stability shows; with chainOrder, points with
// a next vertex first at one position.
TEST(ScanSweep, PositionSortEqualsStableComparisonSort) {
  struct Range {
    int64_t lo, hi;
  };
  const std::vector<Range> ranges = {{0, 40}, {-3000000, 3000000}, {INT32_MIN, INT32_MAX}};
  for (int seed = 0; seed < 12; ++seed) {
    for (const Range& r : ranges) {
      for (const bool chainOrder : {false, true}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " range " << r.lo << ".."
                                        << r.hi << " chainOrder " << chainOrder);
        std::mt19937_64 rng(uint64_t(seed) * 7919 + 17);
        std::uniform_int_distribution<int64_t> coord(r.lo, r.hi);
        OwnedList l;
        std::vector<PSPoint*> points;
        const int count = 3000 + seed * 500;
        for (int i = 0; i < count; ++i) {
          // Every third point repeats an earlier position.
          int32_t x, y;
          if (i > 0 && rng() % 3 == 0) {
            const PSPoint* q = points[rng() % points.size()];
            x = q->x;
            y = q->y;
          } else {
            x = int32_t(coord(rng));
            y = int32_t(coord(rng));
          }
          PSPoint* p = AppendPoint(l.list, x, y);
          if (rng() % 2) p->next = p;  // only whether it has a next vertex counts
          points.push_back(p);
        }
        std::vector<PSPoint*> want = points;
        std::stable_sort(want.begin(), want.end(), [chainOrder](const PSPoint* a, const PSPoint* b) {
          if (a->x != b->x) return a->x < b->x;
          if (a->y != b->y) return a->y < b->y;
          return chainOrder && a->next && !b->next;
        });
        SortPointsByPosition(l.list, chainOrder);
        std::vector<PSPoint*> got;
        for (PSPoint* p = l.list.head; p; p = p->link) got.push_back(p);
        EXPECT_EQ(l.list.tail, got.back());
        EXPECT_TRUE(got == want);
        for (PSPoint* p : points) p->next = nullptr;
      }
    }
  }
}

// Number of rings, total twice-area and the rings of a cut list.
std::vector<std::vector<Point>> RingsOf(PSList& list) { return oracle::ResultRings(list); }

TEST(ScanSweep, CutHoleHangsTheHoleFromTheBoundaryAbove) {
  struct Case {
    std::string name;
    std::vector<Ring> rings;
    Point hook;  // a vertex the cut must create on the boundary above
  };
  const std::vector<Case> cases = {
      {"square hole", {{Rect(0, 0, 30, 30), 1}, {Reversed(Rect(10, 10, 20, 20)), 1}}, {10, 30}},
      {"holes side by side",
       {{Rect(0, 0, 50, 30), 1}, {Reversed(Rect(10, 10, 20, 20)), 1}, {Reversed(Rect(30, 5, 40, 25)), 1}},
       {30, 30}},
      {"hole below a hole",
       {{Rect(0, 0, 30, 50), 1}, {Reversed(Rect(10, 30, 20, 40)), 1}, {Reversed(Rect(12, 5, 25, 20)), 1}},
       {12, 30}},
      {"slanted boundary above",
       {{{{0, 0}, {40, 0}, {40, 20}, {0, 40}}, 1}, {Reversed({{10, 5}, {20, 5}, {15, 10}}), 1}},
       {10, 35}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedList l;
    oracle::BuildList(l.list, c.rings);
    i128 before = 0;
    for (const Ring& r : c.rings) before += oracle::Area2(r.pts);
    BooleanSweep(l.list, nullptr, BooleanOpCode::CutHoles, false);
    auto rings = RingsOf(l.list);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_TRUE(oracle::Area2(rings[0]) == before);
    bool hooked = false;
    for (const Point& p : rings[0]) hooked = hooked || p == c.hook;
    EXPECT_TRUE(hooked);
    for (PSPoint* p = l.list.head; p; p = p->link) EXPECT_FALSE(p->flags & PSPointFlags::HoleStart);
  }
}

TEST(ScanSweep, CutHolesLeavesAListWithoutHolesUntouched) {
  OwnedList l;
  // A collinear extra vertex would be removed by any simplification.
  test::AddRing(l.list, {{0, 0}, {5, 0}, {10, 0}, {10, 10}, {0, 10}});
  std::vector<PSPoint*> before;
  for (PSPoint* p = l.list.head; p; p = p->link) before.push_back(p);
  BooleanSweep(l.list, nullptr, BooleanOpCode::CutHoles, false);
  std::vector<PSPoint*> after;
  for (PSPoint* p = l.list.head; p; p = p->link) after.push_back(p);
  EXPECT_EQ(before, after);
}

TEST(ScanSweep, CrossingPassPutsAVertexAtEveryCrossing) {
  OwnedList l;
  BoxToRing(l.list, Box(0, 0, 10, 10), false);
  BoxToRing(l.list, Box(5, 5, 15, 15), false);
  BooleanSweep(l.list, nullptr, BooleanOpCode::CrossingPass, false);
  // Two crossings, each splitting two edges.
  EXPECT_EQ(l.list.pointCount, 12);
  int at = 0;
  for (PSPoint* p = l.list.head; p; p = p->link)
    if ((p->x == 10 && p->y == 5) || (p->x == 5 && p->y == 10)) ++at;
  EXPECT_EQ(at, 4);
  EXPECT_NO_THROW(CheckConnectivity(l.list));
}

// Codes 30 and 31 run the vertical fracturing step (geometry/fracture.h,
// tested there); a list without chain marks passes through unchanged.
TEST(ScanSweep, FracturingCodesLeaveUnmarkedRingsAlone) {
  for (BooleanOpCode code : {BooleanOpCode::Fracture, BooleanOpCode::FractureCommand}) {
    OwnedList l;
    BoxToRing(l.list, Box(0, 0, 10, 10), false);
    EXPECT_NO_THROW(BooleanSweep(l.list, nullptr, code, false));
    EXPECT_EQ(l.list.pointCount, 4);
    EXPECT_NO_THROW(CheckConnectivity(l.list));
  }
}

TEST(ScanSweep, EmptyInputsAndEmptyCodesGiveNothing) {
  OwnedList in, out;
  BooleanSweep(in.list, &out.list, BooleanOpCode::Or, false);
  EXPECT_TRUE(out.list.IsEmpty());
  for (int code : {1, 4, 7, 12}) {
    OwnedList l;
    BoxToRing(l.list, Box(0, 0, 10, 10), false);
    BoxToRing(l.list, Box(5, 5, 15, 15), true);
    BooleanSweep(l.list, &out.list, static_cast<BooleanOpCode>(code), false);
    EXPECT_TRUE(out.list.IsEmpty()) << code;
  }
  // One lone point: nothing, and no failure.
  OwnedList one;
  PushPoint(one.list, 3, 4);
  BooleanSweep(one.list, &out.list, BooleanOpCode::Or, false);
  EXPECT_TRUE(out.list.IsEmpty());
}

TEST(ScanSweep, EdgesOnlyGivesTheBoundaryAsCounterClockwiseEdges) {
  OwnedList in, out;
  BoxToRing(in.list, Box(0, 0, 10, 5), false);
  BooleanSweep(in.list, &out.list, BooleanOpCode::Or, true);
  EXPECT_EQ(out.list.pointCount, 8);
  int edges = 0;
  i128 area2 = 0;
  for (PSPoint* p = out.list.head; p; p = p->link) {
    if (!p->next) continue;
    ++edges;
    EXPECT_EQ(p->next->next, nullptr);
    area2 += i128(int64_t(p->y) + p->next->y) * (int64_t(p->x) - p->next->x);
  }
  EXPECT_EQ(edges, 4);
  EXPECT_TRUE(area2 == 2 * 50);  // counter-clockwise: positive
}

TEST(ScanSweep, ResultIsAppendedBehindExistingOutput) {
  OwnedList in, out;
  BoxToRing(out.list, Box(100, 100, 110, 110), false);
  PSPoint* oldHead = out.list.head;
  BoxToRing(in.list, Box(0, 0, 10, 10), false);
  BooleanSweep(in.list, &out.list, BooleanOpCode::Or, false);
  EXPECT_EQ(out.list.head, oldHead);
  EXPECT_EQ(out.list.pointCount, 8);
  EXPECT_EQ(oracle::ResultRings(out.list).size(), 2u);
}

TEST(ScanSweep, SortedInputIsNotResorted) {
  OwnedList in, out;
  // Pushed at the head in decreasing order: the chain is in (x, y) order
  // except for ties, which a sort would keep anyway; the chain order is kept.
  PSPoint* a = PushPoint(in.list, 10, 10);
  PSPoint* b = PushPoint(in.list, 10, 0);
  PSPoint* c = PushPoint(in.list, 0, 10);
  PSPoint* d = PushPoint(in.list, 0, 0);
  LinkPoints(d, b);
  LinkPoints(b, a);
  LinkPoints(a, c);
  LinkPoints(c, d);
  BooleanSweep(in.list, &out.list, BooleanOpCode::Or, false);
  std::vector<PSPoint*> order;
  for (PSPoint* p = in.list.head; p; p = p->link) order.push_back(p);
  EXPECT_EQ(order, (std::vector<PSPoint*>{d, c, b, a}));
}

TEST(HoleSelection, HoleStartAndSelectHoles) {
  OwnedList l;
  PSPoint* outer = test::AddRing(l.list, Rect(0, 0, 30, 30));
  PSPoint* hole = test::AddRing(l.list, Reversed(Rect(10, 10, 20, 20)));
  EXPECT_EQ(HoleStart(outer), nullptr);
  PSPoint* h = HoleStart(hole);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->x, 10);
  EXPECT_EQ(h->y, 20);  // leftmost, the larger y
  MaskFlags(l.list, ~int(PSPointFlags::Visited));

  OwnedList holes, outers;
  EXPECT_EQ(SelectHoles(l.list, &holes.list, false), 1);
  EXPECT_EQ(SelectHoles(l.list, &outers.list, true), 1);
  EXPECT_EQ(holes.list.ringCount, 1);
  EXPECT_TRUE(oracle::Area2(oracle::ResultRings(holes.list)[0]) == -2 * 100);
  EXPECT_EQ(outers.list.ringCount, 1);
  EXPECT_TRUE(oracle::Area2(oracle::ResultRings(outers.list)[0]) == 2 * 900);
  for (PSPoint* p = l.list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
}

}  // namespace
}  // namespace velmar
