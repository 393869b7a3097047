// Ring connection of edge chains: plain vertices, rings touching at a
// point, failures, and the tolerant form.
#include "geometry/ring_connect.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/boolean_oracle.h"
#include "foundation/error.h"
#include "geometry/point_list_order.h"
#include "geometry/scan_sweep.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using oracle::OwnedList;

// Adds every edge of the polygon as its own 2-point chain.
void AddEdges(PSList& list, const std::vector<Point>& pts) {
  for (size_t i = 0; i < pts.size(); ++i)
    test::AddChain(list, {pts[i], pts[(i + 1) % pts.size()]});
}

TEST(RingConnect, SquareChainsBecomeOneRing) {
  OwnedList l;
  AddEdges(l.list, oracle::Rect(0, 0, 10, 10));
  ReconnectPolygons(l.list, true);
  EXPECT_EQ(l.list.pointCount, 4);
  auto rings = oracle::ResultRings(l.list);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(oracle::Area2(rings[0]) == 200);
}

TEST(RingConnect, RingsTouchingAtOnePointStayApart) {
  struct Case {
    const char* name;
    std::vector<std::vector<Point>> polys;
  };
  const std::vector<Case> cases = {
      {"bow tie", {oracle::Rect(0, 0, 10, 10), oracle::Rect(10, 10, 20, 20)}},
      {"bow tie, other diagonal", {oracle::Rect(10, 0, 20, 10), oracle::Rect(0, 10, 10, 20)}},
      {"three wedges",
       {{{0, 0}, {100, 0}, {100, 40}}, {{0, 0}, {-30, 100}, {-90, 70}}, {{0, 0}, {-80, -60}, {10, -100}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedList l;
    for (const auto& p : c.polys) AddEdges(l.list, p);
    ReconnectPolygons(l.list, true);
    auto rings = oracle::ResultRings(l.list);
    ASSERT_EQ(rings.size(), c.polys.size());
    // Each ring is closed on itself: its area is one of the input areas.
    std::vector<oracle::i128> want, got;
    for (const auto& p : c.polys) want.push_back(oracle::Area2(p));
    for (const auto& r : rings) got.push_back(oracle::Area2(r));
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_TRUE(want == got);
  }
}

TEST(RingConnect, ClosedRingsPassUnchanged) {
  OwnedList l;
  test::AddRing(l.list, oracle::Rect(0, 0, 10, 10));
  test::AddRing(l.list, oracle::Rect(10, 10, 20, 20));  // touching at (10, 10)
  ConnectPolygons(l.list);
  EXPECT_EQ(l.list.pointCount, 8);
  EXPECT_NO_THROW(CheckConnectivity(l.list));
  OwnedList empty;
  ConnectPolygons(empty.list);
  ReconnectPolygons(empty.list, true);
  EXPECT_TRUE(empty.list.IsEmpty());
}

TEST(RingConnect, UnpairedChainsFailAndTheTolerantFormLeavesThemOpen) {
  struct Case {
    const char* name;
    std::vector<std::vector<Point>> chains;
  };
  const std::vector<Case> cases = {
      {"lone start", {{{0, 0}, {10, 0}}, {{10, 0}, {10, 10}}}},
      {"two starts, one end", {{{0, 0}, {5, 5}}, {{5, 5}, {10, 0}}, {{5, 5}, {10, 10}}}},
      // Three chains end and three start at one point, but the ends all
      // come from one side and the starts all leave to the other: around
      // the point the edges do not alternate, so no end can be paired with
      // a start that bounds the same inside.
      {"three ends beside each other",
       {{{10, 0}, {0, 0}},
        {{10, 1}, {0, 0}},
        {{10, 2}, {0, 0}},
        {{0, 0}, {-10, 0}},
        {{0, 0}, {-10, 1}},
        {{0, 0}, {-10, 2}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      OwnedList l;
      for (const auto& ch : c.chains) test::AddChain(l.list, ch);
      const int32_t n = l.list.pointCount;
      SortPoints(l.list, ComparePointChain);
      try {
        ConnectPolygons(l.list);
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_STREQ(e.Message(), "Polygon connection failed");
        EXPECT_STREQ(e.Unit(), "DRC");
      }
      // The list is still whole: every point on the link chain.
      int32_t count = 0;
      for (PSPoint* p = l.list.head; p; p = p->link) ++count;
      EXPECT_EQ(count, l.list.pointCount);
      EXPECT_LE(l.list.pointCount, n);
    }
    {
      OwnedList l;
      for (const auto& ch : c.chains) test::AddChain(l.list, ch);
      EXPECT_NO_THROW(MergeTouchingRings(l.list));
      EXPECT_TRUE(HasOpenChains(l.list));
    }
  }
}

TEST(RingConnect, TolerantFormJoinsWhatPairsUp) {
  OwnedList l;
  // A square given as two open halves, plus a stray chain elsewhere.
  test::AddChain(l.list, {{0, 0}, {10, 0}, {10, 10}});
  test::AddChain(l.list, {{10, 10}, {5, 10}, {0, 10}, {0, 0}});
  test::AddChain(l.list, {{50, 50}, {60, 60}});
  MergeTouchingRings(l.list);
  // The square closes and its collinear vertex (5, 10) goes; the stray
  // chain stays open.
  EXPECT_EQ(l.list.pointCount, 6);
  EXPECT_TRUE(HasOpenChains(l.list));
}

}  // namespace
}  // namespace velmar
