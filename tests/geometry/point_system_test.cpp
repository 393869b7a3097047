// Point pool, free list, elementary list operations and BoxToRing.
#include "geometry/point_system.h"

#include <gtest/gtest.h>

#include <string>

#include "support/point_list_fixtures.h"
#include "geometry/point_list_order.h"

namespace velmar {
namespace {

using test::ExpectConsistent;

TEST(PointSystem, PushPointAddsAtHeadWithNullLinks) {
  PSList list;
  test::ListGuard guard{list};
  PSPoint* a = PushPoint(list, 1, 2);
  EXPECT_EQ(list.head, a);
  EXPECT_EQ(list.tail, a);
  PSPoint* b = PushPoint(list, -3, 4);
  EXPECT_EQ(list.head, b);
  EXPECT_EQ(list.tail, a);
  EXPECT_EQ(b->link, a);
  EXPECT_EQ(a->link, nullptr);
  EXPECT_EQ(list.pointCount, 2);
  EXPECT_EQ(list.ringCount, 0);
  EXPECT_EQ(b->x, -3);
  EXPECT_EQ(b->y, 4);
  EXPECT_EQ(b->next, nullptr);
  EXPECT_EQ(b->prev, nullptr);
  EXPECT_EQ(b->flags, 0);
}

TEST(PointSystem, ClearedVerticesAreReusedHeadFirst) {
  PSList list;
  for (int i = 0; i < 5; ++i) PushPoint(list, i, i);
  std::vector<const PSPoint*> order = test::LinkOrder(list);
  list.ringCount = 3;
  list.words[4] = 9;
  ClearPointList(list);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.pointCount, 0);
  EXPECT_EQ(list.ringCount, 0);
  for (int32_t w : list.words) EXPECT_EQ(w, 0);

  // Reused in the cleared list's link order, before the pool grows.
  for (const PSPoint* expected : order) EXPECT_EQ(AllocPoint(), expected);
  PSPoint* fresh = AllocPoint();
  for (const PSPoint* p : order) EXPECT_NE(fresh, p);
  for (const PSPoint* p : order) FreePoint(const_cast<PSPoint*>(p));
  FreePoint(fresh);
  // FreePoint pushes: the last freed comes back first.
  EXPECT_EQ(AllocPoint(), fresh);
  FreePoint(fresh);
}

TEST(PointSystem, ClearOfEmptyListKeepsFreeList) {
  PSList a;
  PushPoint(a, 0, 0);
  const PSPoint* freed = a.head;
  ClearPointList(a);
  PSList empty;
  empty.ringCount = 2;  // stale header words are zeroed too
  empty.words[0] = 7;
  ClearPointList(empty);
  EXPECT_EQ(empty.ringCount, 0);
  EXPECT_EQ(empty.words[0], 0);
  EXPECT_EQ(PointFreeList().head, freed);
}

TEST(PointSystem, ClearingTheFreeListReleasesThePool) {
  PSList list;
  PushPoint(list, 0, 0);
  ClearPointList(list);
  EXPECT_GT(ReportPointSystemMemory(true), 0);
  ClearPointList(PointFreeList());
  EXPECT_EQ(ReportPointSystemMemory(true), 0);
  EXPECT_EQ(PointFreeList().head, nullptr);

  // One block again after the reset: 50000 vertices.
  PushPoint(list, 1, 1);
  const int32_t kb =
      static_cast<int32_t>(kPointsPerBlock * sizeof(PSPoint) / 1024);
  EXPECT_EQ(ReportPointSystemMemory(true), kb);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReportPointSystemMemory(false), kb);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::to_string(kb) + " kbytes allocated for Point System\n");

  ClearPointList(list);
  ResetPointPool();
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReportPointSystemMemory(false), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(PointSystem, ListsLargerThanABlockTakeTwoBlocks) {
  ResetPointPool();
  PSList list;
  test::ListGuard guard{list};
  for (int i = 0; i < kPointsPerBlock + 1; ++i) PushPoint(list, i, -i);
  EXPECT_EQ(ReportPointSystemMemory(true),
            static_cast<int32_t>(2 * kPointsPerBlock * sizeof(PSPoint) / 1024));
  EXPECT_EQ(list.pointCount, kPointsPerBlock + 1);
  // Every vertex still holds its own coordinates (no overlap in the pool).
  int i = kPointsPerBlock;
  for (const PSPoint* p = list.head; p; p = p->link, --i) {
    ASSERT_EQ(p->x, i);
    ASSERT_EQ(p->y, -i);
  }
}

TEST(PointSystem, BoxToRingIsCounterClockwiseWithDocumentedLinkOrder) {
  PSList list;
  test::ListGuard guard{list};
  BoxToRing(list, Box(0, 0, 10, 5), false);
  EXPECT_EQ(list.pointCount, 4);
  EXPECT_EQ(list.ringCount, 1);
  ExpectConsistent(list);
  // Link chain: (x1,y2), (x2,y2), (x2,y1), (x1,y1).
  std::vector<Point> link;
  for (const PSPoint* p = list.head; p; p = p->link) link.emplace_back(p->x, p->y);
  EXPECT_EQ(link, (std::vector<Point>{{0, 5}, {10, 5}, {10, 0}, {0, 0}}));
  // Ring from (x1,y1): (0,0) -> (10,0) -> (10,5) -> (0,5).
  EXPECT_EQ(test::RingPoints(list.tail),
            (std::vector<Point>{{0, 0}, {10, 0}, {10, 5}, {0, 5}}));
  EXPECT_EQ(RingArea2(list.head), 100);
  EXPECT_EQ(test::ShoelaceArea2(test::RingPoints(list.head)), 100);
  for (const PSPoint* p = list.head; p; p = p->link) EXPECT_EQ(p->flags, 0);

  BoxToRing(list, Box(-4, -4, -2, -1), true);
  EXPECT_EQ(list.pointCount, 8);
  EXPECT_EQ(list.ringCount, 2);
  int marked = 0;
  for (const PSPoint* p = list.head; p; p = p->link)
    if (p->flags == PSPointFlags::SecondLayer) ++marked;
  EXPECT_EQ(marked, 4);
  ExpectConsistent(list);
}

TEST(PointSystem, SpliceListMovesOrAppends) {
  PSList a, b, c;
  BoxToRing(b, Box(0, 0, 1, 1), false);
  b.words[4] = 3;
  const PSPoint* bHead = b.head;
  SpliceList(a, b);  // into an empty list: the whole header
  EXPECT_EQ(a.head, bHead);
  EXPECT_EQ(a.pointCount, 4);
  EXPECT_EQ(a.ringCount, 1);
  EXPECT_EQ(a.words[4], 3);
  EXPECT_EQ(b.head, nullptr);
  EXPECT_EQ(b.pointCount, 0);
  EXPECT_EQ(b.words[4], 0);

  BoxToRing(c, Box(5, 5, 6, 7), false);
  const PSPoint* cTail = c.tail;
  SpliceList(a, c);  // onto a non-empty list: behind its tail
  EXPECT_EQ(a.head, bHead);
  EXPECT_EQ(a.tail, cTail);
  EXPECT_EQ(a.pointCount, 8);
  EXPECT_EQ(a.ringCount, 2);
  EXPECT_EQ(c.head, nullptr);
  ExpectConsistent(a);

  SpliceList(a, c);  // an empty source changes nothing
  EXPECT_EQ(a.pointCount, 8);
  ClearPointList(a);
}

TEST(PointSystem, BoxExtendAndMerge) {
  Box b;
  b.Extend(3, 4);
  EXPECT_EQ(b, Box(3, 4, 3, 4));
  b.Extend(1, 7);
  EXPECT_EQ(b, Box(1, 4, 3, 7));

  Box valid(0, 0, 10, 10);
  valid.Merge(Box(20, 0, 20, 30));  // zero width: not valid
  EXPECT_EQ(valid, Box(0, 0, 10, 10));
  Box empty;
  empty.Merge(valid);
  EXPECT_EQ(empty, valid);
}

}  // namespace
}  // namespace velmar
