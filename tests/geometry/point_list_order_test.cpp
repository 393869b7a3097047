// Order, shape class, measures, orientation, flags and validation of PSLists.
#include "geometry/point_list_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using test::AddChain;
using test::AddRing;
using test::ListGuard;
using test::RingPoints;
using test::ShoelaceArea2;

// ---------------------------------------------------------------- order

// Random points with many duplicates; flags hold the push index so that the
// stability of each sort can be checked against std::stable_sort.
std::vector<PSPoint*> FillRandom(PSList& list, int n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> coord(-3, 3);
  std::vector<PSPoint*> pushed;
  for (int i = 0; i < n; ++i) {
    PSPoint* p = PushPoint(list, coord(rng), coord(rng));
    p->flags = static_cast<uint16_t>(i);
    pushed.push_back(p);
  }
  return pushed;
}

std::vector<PSPoint*> StableReference(const PSList& list) {
  std::vector<PSPoint*> v;
  for (PSPoint* p = list.head; p; p = p->link) v.push_back(p);
  std::stable_sort(v.begin(), v.end(), [](const PSPoint* a, const PSPoint* b) {
    return ComparePoint(a, b) < 0;
  });
  return v;
}

void ExpectChainIs(const PSList& list, const std::vector<PSPoint*>& expected) {
  std::vector<PSPoint*> got;
  for (PSPoint* p = list.head; p; p = p->link) got.push_back(p);
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(list.tail, expected.back());
  EXPECT_EQ(list.tail->link, nullptr);
}

TEST(PointListOrder, Comparators) {
  PSPoint a{1, 5, nullptr, nullptr, nullptr, 0};
  PSPoint b{2, 0, nullptr, nullptr, nullptr, 0};
  PSPoint c{1, 6, nullptr, nullptr, nullptr, 0};
  EXPECT_LT(ComparePoint(&a, &b), 0);
  EXPECT_GT(ComparePoint(&b, &a), 0);
  EXPECT_LT(ComparePoint(&a, &c), 0);
  EXPECT_EQ(ComparePoint(&a, &a), 0);
  EXPECT_EQ(ComparePointLess(&a, &b), -1);
  EXPECT_EQ(ComparePointLess(&b, &a), 0);
  EXPECT_EQ(ComparePointLess(&a, &a), 0);
  // Extreme coordinates must not overflow a subtraction.
  PSPoint lo{INT_MIN, 0, nullptr, nullptr, nullptr, 0};
  PSPoint hi{INT_MAX, 0, nullptr, nullptr, nullptr, 0};
  EXPECT_LT(ComparePoint(&lo, &hi), 0);
  EXPECT_EQ(ComparePointLess(&lo, &hi), -1);
}

TEST(PointListOrder, AllThreeSortsAreStableAndAgree) {
  for (int n : {2, 3, 7, 64, 1000}) {
    for (uint32_t seed : {1u, 2u}) {
      PSList list;
      ListGuard guard{list};
      FillRandom(list, n, seed);
      std::vector<PSPoint*> ref = StableReference(list);

      SortPoints(list, ComparePointLess);
      ExpectChainIs(list, ref);
      EXPECT_TRUE(IsSortedBy(list.head, ComparePoint));
      EXPECT_EQ(list.pointCount, n);

      ClearPointList(list);
      FillRandom(list, n, seed);
      ref = StableReference(list);
      MergeSortPoints(list, ComparePoint);
      ExpectChainIs(list, ref);

      ClearPointList(list);
      FillRandom(list, n, seed);
      ref = StableReference(list);
      QuickSortPoints(list.head, list.tail, ComparePoint);
      ExpectChainIs(list, ref);
    }
  }
}

TEST(PointListOrder, SortKeepsOrderUnderAllEqualComparator) {
  PSList list;
  ListGuard guard{list};
  std::vector<PSPoint*> pushed = FillRandom(list, 100, 7);
  std::vector<PSPoint*> before;
  for (PSPoint* p = list.head; p; p = p->link) before.push_back(p);
  SortPoints(list, [](const PSPoint*, const PSPoint*) { return 0; });
  ExpectChainIs(list, before);
}

TEST(PointListOrder, SortOfTinyListsAndRingLinks) {
  PSList list;
  ListGuard guard{list};
  SortPoints(list, ComparePointLess);  // empty
  EXPECT_EQ(list.head, nullptr);
  PSPoint* only = PushPoint(list, 5, 5);
  SortPoints(list, ComparePointLess);
  EXPECT_EQ(list.head, only);
  EXPECT_EQ(list.tail, only);

  // Ring links and counts are left alone.
  ClearPointList(list);
  PSPoint* first = AddRing(list, {{0, 0}, {4, 0}, {4, 4}, {0, 4}});
  SortPoints(list, ComparePointLess);
  EXPECT_TRUE(IsSortedBy(list.head, ComparePoint));
  EXPECT_EQ(RingPoints(first),
            (std::vector<Point>{{0, 0}, {4, 0}, {4, 4}, {0, 4}}));
  EXPECT_EQ(list.pointCount, 4);
  EXPECT_EQ(list.ringCount, 1);
}

TEST(PointListOrder, IsSortedByNeedsTheThreeWayComparator) {
  PSList list;
  ListGuard guard{list};
  PushPoint(list, 1, 0);
  PushPoint(list, 2, 0);  // head (2,0) before (1,0): not sorted
  EXPECT_FALSE(IsSortedBy(list.head, ComparePoint));
  EXPECT_TRUE(IsSortedBy(list.tail, ComparePoint));  // one vertex
  EXPECT_TRUE(IsSortedBy(nullptr, ComparePoint));
}

TEST(PointListOrder, CompareLists) {
  PSList a, b;
  ListGuard ga{a}, gb{b};
  BoxToRing(a, Box(0, 0, 2, 2), false);
  BoxToRing(b, Box(0, 0, 2, 2), false);
  EXPECT_EQ(CompareLists(a, b), 0);
  b.head->x = 1;  // first link vertex (0,2) becomes (1,2)
  EXPECT_LT(CompareLists(a, b), 0);
  b.words[4] = -1;
  EXPECT_GT(CompareLists(a, b), 0);
  b.words[4] = 0;
  b.ringCount = 2;
  EXPECT_LT(CompareLists(a, b), 0);
}

// ---------------------------------------------------------- shape class

struct ClassCase {
  const char* name;
  std::vector<std::vector<Point>> rings;
  int expected;
  bool manhattan;  // of the last ring
};

TEST(PointListOrder, ClassifyList) {
  // Rings are pushed, so the link chain visits a ring's points in reverse
  // push order; the last point's edge (back to the first) comes first.
  const std::vector<ClassCase> cases = {
      {"axis-parallel", {{{0, 0}, {10, 0}, {10, 5}, {0, 5}}}, 0, true},
      {"one 45-degree edge",
       {{{0, 0}, {10, 0}, {10, 5}, {5, 10}, {0, 10}}},
       1,
       false},
      {"slope 3 after a 45-degree edge",
       {{{0, 0}, {20, 0}, {12, 16}, {10, 10}}},
       2,
       false},
      {"repeated vertex",
       {{{0, 0}, {10, 0}, {10, 0}, {10, 5}, {0, 5}}},
       1,
       true},
      {"second ring general",
       {{{0, 0}, {10, 0}, {10, 5}, {0, 5}}, {{20, 0}, {23, 1}, {20, 1}}},
       2,
       false},
  };
  for (const ClassCase& c : cases) {
    SCOPED_TRACE(c.name);
    PSList list;
    ListGuard guard{list};
    PSPoint* last = nullptr;
    for (const auto& r : c.rings) last = AddRing(list, r);
    EXPECT_EQ(ClassifyList(list), c.expected);
    EXPECT_EQ(IsRingManhattan(last), c.manhattan);
    EXPECT_EQ(IsListOctilinear(list), c.expected != 2);
    if (c.rings.size() == 1) {
      EXPECT_EQ(ClassifyRing(last), c.expected);
      EXPECT_EQ(IsRingOctilinear(last), c.expected != 2);
      EXPECT_EQ(IsListManhattan(list), c.manhattan);
    }
  }
}

TEST(PointListOrder, OpenChainsAndPointsOutside) {
  PSList list;
  ListGuard guard{list};
  EXPECT_FALSE(HasOpenChains(list));
  EXPECT_FALSE(HasPointOutside(list, Box(0, 0, 1, 1)));
  AddRing(list, {{0, 0}, {10, 0}, {10, 10}});
  EXPECT_FALSE(HasOpenChains(list));
  EXPECT_FALSE(HasPointOutside(list, Box(0, 0, 10, 10)));  // on the border
  EXPECT_TRUE(HasPointOutside(list, Box(0, 0, 10, 9)));
  EXPECT_TRUE(HasPointOutside(list, Box(1, 0, 10, 10)));
  AddChain(list, {{3, 3}, {4, 4}});
  EXPECT_TRUE(HasOpenChains(list));
}

// ------------------------------------------------------------- measures

TEST(PointListOrder, CountRingsRecountsAndReturnsLargest) {
  PSList list;
  ListGuard guard{list};
  EXPECT_EQ(CountRings(list), 0);
  AddRing(list, {{0, 0}, {1, 0}, {1, 1}, {0, 1}});
  PSPoint* seven =
      AddRing(list, {{5, 0}, {6, 0}, {7, 1}, {7, 2}, {6, 3}, {5, 3}, {4, 1}});
  list.pointCount = 99;
  list.ringCount = 0;
  EXPECT_EQ(CountRings(list), 7);
  EXPECT_EQ(list.pointCount, 11);
  EXPECT_EQ(list.ringCount, 2);
  EXPECT_EQ(CountRingPoints(seven), 7);
  EXPECT_EQ(CountLinkPoints(list), 11);
  for (const PSPoint* p = list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
}

TEST(PointListOrder, BoundingBoxes) {
  PSList list;
  ListGuard guard{list};
  EXPECT_EQ(ListBBox(list), Box::Empty());
  PSPoint* r = AddRing(list, {{-5, 2}, {7, -1}, {3, 9}});
  AddRing(list, {{100, 100}, {101, 100}, {101, 101}});
  EXPECT_EQ(RingBBox(r), Box(-5, -1, 7, 9));
  EXPECT_EQ(ListBBox(list), Box(-5, -1, 101, 101));
}

// Cell-centre raster of a ring set: number of unit cells whose centre has a
// non-zero winding number. Exact area for axis-parallel rings.
int64_t RasterArea(const std::vector<std::vector<Point>>& rings, Box bb) {
  int64_t cells = 0;
  for (int32_t y = bb.y1; y < bb.y2; ++y) {
    for (int32_t x = bb.x1; x < bb.x2; ++x) {
      double px = x + 0.5, py = y + 0.5;
      int wind = 0;
      for (const auto& r : rings) {
        for (size_t i = 0; i < r.size(); ++i) {
          const Point& a = r[i];
          const Point& b = r[(i + 1) % r.size()];
          if ((a.y <= py) != (b.y <= py)) {
            double xc = a.x + (py - a.y) * (b.x - a.x) / double(b.y - a.y);
            if (xc > px) wind += b.y > a.y ? 1 : -1;
          }
        }
      }
      if (wind != 0) ++cells;
    }
  }
  return cells;
}

TEST(PointListOrder, AreasMatchRasterAndShoelace) {
  // An L-shape with a clockwise hole, and a second separate square.
  const std::vector<Point> outer = {{0, 0}, {30, 0}, {30, 10}, {12, 10},
                                    {12, 25}, {0, 25}};
  const std::vector<Point> hole = {{3, 3}, {3, 8}, {9, 8}, {9, 3}};
  const std::vector<Point> square = {{40, 40}, {47, 40}, {47, 47}, {40, 47}};
  PSList list;
  ListGuard guard{list};
  PSPoint* o = AddRing(list, outer);
  PSPoint* h = AddRing(list, hole);
  PSPoint* s = AddRing(list, square);
  EXPECT_EQ(RingArea2(o), static_cast<long double>(ShoelaceArea2(outer)));
  EXPECT_EQ(RingArea2(h), static_cast<long double>(ShoelaceArea2(hole)));
  EXPECT_LT(RingArea2(h), 0);
  EXPECT_EQ(RingArea2(s), 98);
  const int64_t raster = RasterArea({outer, hole, square}, Box(0, 0, 50, 50));
  EXPECT_EQ(ListArea(list), static_cast<long double>(raster));
  EXPECT_EQ(raster, 30 * 10 + 12 * 15 - 6 * 5 + 49);
}

TEST(PointListOrder, AreaIsExactAtFullCoordinateRange) {
  // Differences of 2^32 - 1 and sums beyond 2^31: 32-bit or even 64-bit
  // products of the terms would overflow.
  const std::vector<std::vector<Point>> rings = {
      {{INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}, {INT_MAX, INT_MAX},
       {INT_MIN, INT_MAX}},
      {{INT_MAX, INT_MAX}, {INT_MIN, INT_MAX - 1}, {INT_MIN + 3, INT_MIN}},
      {{-2000000000, 2000000000}, {2000000000, -2000000000},
       {2000000000, 2000000000}},
  };
  for (const auto& r : rings) {
    PSList list;
    ListGuard guard{list};
    PSPoint* p = AddRing(list, r);
    const __int128 expected = ShoelaceArea2(r);
    EXPECT_EQ(RingArea2(p), static_cast<long double>(expected));
    EXPECT_EQ(ListArea(list) * 2, static_cast<long double>(expected));
  }
  PSList list;
  ListGuard guard{list};
  PSPoint* full = AddRing(list, rings[0]);
  const long double side = 4294967295.0L;
  EXPECT_EQ(RingArea2(full), 2 * side * side);
}

TEST(PointListOrder, UnitSquareArea) {
  PSList list;
  ListGuard guard{list};
  PSPoint* p = AddRing(list, {{0, 0}, {1, 0}, {1, 1}, {0, 1}});
  EXPECT_EQ(RingArea2(p), 2);
  EXPECT_EQ(ListArea(list), 1);
}

// ----------------------------------------------------------- orientation

TEST(PointListOrder, OrientRingsReversesOnlyNegativeRings) {
  PSList list;
  ListGuard guard{list};
  PSPoint* cw = AddRing(list, {{0, 0}, {0, 4}, {4, 4}, {4, 0}});
  PSPoint* ccw = AddRing(list, {{10, 0}, {14, 0}, {14, 4}});
  PSPoint* flat = AddRing(list, {{20, 0}, {25, 0}, {22, 0}});  // zero area
  const std::vector<Point> flatBefore = RingPoints(flat);
  list.ringCount = 17;
  OrientRings(list);
  EXPECT_EQ(list.ringCount, 3);
  EXPECT_GT(RingArea2(cw), 0);
  EXPECT_EQ(RingPoints(cw), (std::vector<Point>{{0, 0}, {4, 0}, {4, 4}, {0, 4}}));
  EXPECT_EQ(RingPoints(ccw), (std::vector<Point>{{10, 0}, {14, 0}, {14, 4}}));
  EXPECT_EQ(RingPoints(flat), flatBefore);
  test::ExpectConsistent(list);
  for (const PSPoint* p = list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
}

TEST(PointListOrder, ReverseRingAndList) {
  PSList list;
  ListGuard guard{list};
  PSPoint* r = AddRing(list, {{0, 0}, {4, 0}, {4, 4}});
  PSPoint* c = AddChain(list, {{9, 9}, {10, 9}, {11, 9}});
  ReverseRing(r);
  EXPECT_EQ(RingPoints(r), (std::vector<Point>{{0, 0}, {4, 4}, {4, 0}}));
  ReverseList(list);
  EXPECT_EQ(RingPoints(r), (std::vector<Point>{{0, 0}, {4, 0}, {4, 4}}));
  EXPECT_EQ(c->next, nullptr);  // former start is now the end
  EXPECT_EQ(test::ChainPoints(c),
            (std::vector<Point>{{11, 9}, {10, 9}, {9, 9}}));
  test::ExpectConsistent(list);
}

TEST(PointListOrder, ReverseChainsTurnsEndFirstChainsOnce) {
  PSList list;
  ListGuard guard{list};
  // Start pushed first: the end comes first on the link chain.
  PSPoint* s1 = AddChain(list, {{0, 0}, {5, 0}});
  PSPoint* s2 = AddChain(list, {{0, 1}, {0, 7}});
  ReverseChains(list);
  EXPECT_EQ(test::ChainPoints(s1), (std::vector<Point>{{5, 0}, {0, 0}}));
  EXPECT_EQ(test::ChainPoints(s2), (std::vector<Point>{{0, 7}, {0, 1}}));

  // A chain whose start comes first is turned twice: unchanged.
  PSList other;
  ListGuard g2{other};
  PSPoint* b = PushPoint(other, 3, 3);
  PSPoint* a = PushPoint(other, 1, 1);
  LinkPoints(a, b);
  ReverseChains(other);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->prev, a);
  EXPECT_EQ(a->prev, nullptr);
  EXPECT_EQ(b->next, nullptr);
}

// ------------------------------------------------------ flags, validation

TEST(PointListOrder, SetAndMaskFlags) {
  PSList list;
  ListGuard guard{list};
  AddRing(list, {{0, 0}, {1, 0}, {1, 1}}, PSPointFlags::Visited | 0x0100);
  SetFlags(list, PSPointFlags::SecondLayer);
  for (const PSPoint* p = list.head; p; p = p->link)
    EXPECT_EQ(p->flags, 0x4101);
  MaskFlags(list, -2);
  for (const PSPoint* p = list.head; p; p = p->link)
    EXPECT_EQ(p->flags, 0x4100);
  MaskFlags(list, 0);
  for (const PSPoint* p = list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
}

void ExpectDrcError(PSList& list, const std::string& message) {
  try {
    CheckConnectivity(list);
    ADD_FAILURE() << "no error for " << message;
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.Message()), message);
    ASSERT_NE(e.Unit(), nullptr);
    EXPECT_EQ(std::string(e.Unit()), "DRC");
    EXPECT_EQ(e.Code(), 0);
  }
}

TEST(PointListOrder, CheckConnectivity) {
  {
    PSList list;
    ListGuard guard{list};
    AddRing(list, {{0, 0}, {1, 0}, {1, 1}});
    AddRing(list, {{5, 0}, {6, 0}, {6, 1}, {5, 1}});
    EXPECT_NO_THROW(CheckConnectivity(list));
    for (const PSPoint* p = list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
  }
  {
    PSList list;
    ListGuard guard{list};
    // The walk starts at the head of the link chain; its prev is lost.
    AddRing(list, {{0, 0}, {1, 0}, {1, 1}});
    list.head->prev = nullptr;
    ExpectDrcError(list, "Polygon lost connectivity");
  }
  {
    PSList list;
    ListGuard guard{list};
    PSPoint* p = AddRing(list, {{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    p->next->prev = p->next->next;  // names another vertex
    ExpectDrcError(list, "Polygon lost backward connectivity");
  }
  {
    // A vertex that is already marked visited when the walk reaches it: the
    // walk would run in a loop. (With consistent prev links a walk cannot
    // otherwise come back to a visited vertex before its start.)
    PSList list;
    ListGuard guard{list};
    PSPoint* a = AddRing(list, {{0, 0}, {1, 0}, {1, 1}});
    a->next->flags |= PSPointFlags::Visited;
    ExpectDrcError(list, "Polygon is in loop");
    EXPECT_TRUE(a->flags & PSPointFlags::Visited);  // left set after a throw
  }
}

TEST(PointListOrder, SnapPointsToGrid) {
  PSList list;
  ListGuard guard{list};
  PSPoint* p = PushPoint(list, 14, -14);
  PSPoint* q = PushPoint(list, 15, -15);
  PSPoint* r = PushPoint(list, 20, -16);
  SnapPointsToGrid(list, 10);
  EXPECT_EQ(p->x, 10);
  EXPECT_EQ(p->y, -10);
  EXPECT_EQ(q->x, 20);   // half up
  EXPECT_EQ(q->y, -10);  // floor(-1.5 + 0.5) = -1
  EXPECT_EQ(r->x, 20);
  EXPECT_EQ(r->y, -20);
  EXPECT_THROW(SnapPointsToGrid(list, 0), Error);
}

TEST(PointListOrder, PrintRing) {
  PSList list;
  ListGuard guard{list};
  PSPoint* p = AddRing(list, {{1, 2}, {3, 4}}, 0x10);
  testing::internal::CaptureStdout();
  PrintRing(p, 10);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "(1, 2, 10)\n(3, 4, 10)\n\n");
  PSPoint* c = AddChain(list, {{7, 8}});
  testing::internal::CaptureStdout();
  PrintRing(c, 10);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "(7, 8, 0)\nNULL\n");
}

}  // namespace
}  // namespace velmar
