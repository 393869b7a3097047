// Point-list editing: purge, collinear removal, simplification, splitting,
// copies and rings from circle vertex arrays.
#include "geometry/point_list_edit.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "foundation/error.h"
#include "support/point_list_fixtures.h"
#include "geometry/point_list_order.h"
#include "geometry/segment_geometry.h"

namespace velmar {
namespace {

using test::AddChain;
using test::AddRing;
using test::ExpectConsistent;
using test::ListGuard;
using test::RingPoints;
using test::SameCycle;
using test::ShoelaceArea2;

// Rings of the list (one walk per vertex not yet seen), as point cycles.
std::vector<std::vector<Point>> Rings(const PSList& list) {
  std::vector<std::vector<Point>> out;
  std::vector<const PSPoint*> seen;
  for (const PSPoint* p = list.head; p; p = p->link) {
    bool done = false;
    for (const PSPoint* s : seen) done = done || s == p;
    if (done) continue;
    const PSPoint* q = p;
    do {
      seen.push_back(q);
      q = q->next;
    } while (q && q != p);
    out.push_back(RingPoints(p));
  }
  return out;
}

// ---------------------------------------------------------------- purge

TEST(PointListEdit, PurgeDeletedKeepsHeadAndTailOnSurvivors) {
  PSList list;
  ListGuard guard{list};
  for (int i = 0; i < 6; ++i) PushPoint(list, i, 0);
  // Link order: 5 4 3 2 1 0; delete head, tail and one in the middle.
  for (PSPoint* p = list.head; p; p = p->link)
    if (p->x == 5 || p->x == 0 || p->x == 2) p->flags = PSPointFlags::Deleted;
  const PSPoint* reused = list.head;
  EXPECT_EQ(PurgeDeleted(list), 3);
  EXPECT_EQ(list.head->x, 4);
  EXPECT_EQ(list.tail->x, 1);
  ExpectConsistent(list);
  // Freed vertices went to the free list.
  PSPoint* p = AllocPoint();
  EXPECT_EQ(p->x, 0);  // the last one freed comes back first
  EXPECT_NE(p, reused);
  FreePoint(p);

  for (PSPoint* q = list.head; q; q = q->link) q->flags = PSPointFlags::Deleted;
  EXPECT_EQ(PurgeDeleted(list), 3);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.pointCount, 0);
}

// ---------------------------------------------------- collinear removal

TEST(PointListEdit, RemoveCollinearDropsMidpointsAndRepeats) {
  PSList list;
  ListGuard guard{list};
  const std::vector<Point> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  AddRing(list, {{0, 0}, {5, 0}, {10, 0}, {10, 10}, {10, 10}, {0, 10},
                 {0, 4}});
  AddRing(list, {{20, 0}, {25, 5}, {30, 10}});
  RemoveCollinear(list);
  ExpectConsistent(list);
  EXPECT_EQ(list.pointCount, 4);  // the all-collinear ring lost everything
  auto rings = Rings(list);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(SameCycle(rings[0], square));
  EXPECT_EQ(list.ringCount, 2);  // not touched
}

// ---------------------------------------------------------- simplify

TEST(PointListEdit, SimplifyExactRemovesOnlyCollinearVertices) {
  PSList list;
  ListGuard guard{list};
  const std::vector<Point> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  AddRing(list, {{0, 0}, {10, 0}, {10, 5}, {10, 10}, {0, 10}});
  EXPECT_EQ(Simplify(list, 0), 1);
  ExpectConsistent(list);
  EXPECT_EQ(list.pointCount, 4);
  EXPECT_EQ(list.ringCount, 1);
  ASSERT_EQ(Rings(list).size(), 1u);
  EXPECT_TRUE(SameCycle(Rings(list)[0], square));

  EXPECT_EQ(Simplify(list, 0), 0);  // nothing more to do
  EXPECT_EQ(list.pointCount, 4);
  EXPECT_TRUE(SameCycle(Rings(list)[0], square));
}

TEST(PointListEdit, SimplifyRemovesLongCollinearRunsAndKeepsArea) {
  // A 12 x 8 rectangle with every unit step of its boundary as a vertex.
  std::vector<Point> ring;
  for (int x = 0; x < 12; ++x) ring.emplace_back(x, 0);
  for (int y = 0; y < 8; ++y) ring.emplace_back(12, y);
  for (int x = 12; x > 0; --x) ring.emplace_back(x, 8);
  for (int y = 8; y > 0; --y) ring.emplace_back(0, y);
  PSList list;
  ListGuard guard{list};
  AddRing(list, ring);
  const long double area = ListArea(list);
  EXPECT_EQ(Simplify(list, 0), static_cast<int32_t>(ring.size()) - 4);
  ExpectConsistent(list);
  EXPECT_EQ(list.pointCount, 4);
  EXPECT_EQ(ListArea(list), area);
  EXPECT_TRUE(
      SameCycle(Rings(list)[0], {{0, 0}, {12, 0}, {12, 8}, {0, 8}}));
}

TEST(PointListEdit, SimplifyWithToleranceCollapsesLongStraightRuns) {
  // 2000 collinear vertices per side of a triangle, plus one
  // vertex 0.83 off the bottom side (it shares no coordinate with any other
  // vertex); tolerance 2.
  std::vector<Point> ring;
  const int n = 2000;
  for (int i = 0; i < n; ++i) ring.emplace_back(3 * i, 2 * i);
  for (int i = 0; i < n; ++i) ring.emplace_back(3 * n - 2 * i, 2 * n + 4 * i);
  for (int i = 0; i < n; ++i) ring.emplace_back(n - i, 6 * n - 5 * i);
  ring[n / 2].y += 1;  // (3000, 2001)
  PSList list;
  ListGuard guard{list};
  AddRing(list, ring);
  const int32_t removed = Simplify(list, 2);
  ExpectConsistent(list);
  EXPECT_EQ(list.pointCount + removed, static_cast<int32_t>(ring.size()));
  auto rings = Rings(list);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_EQ(list.pointCount, 3);
  // The corners stay.
  for (Point corner : {Point(0, 0), Point(3 * n, 2 * n), Point(n, 6 * n)}) {
    bool found = false;
    for (const Point& p : rings[0]) found = found || p == corner;
    EXPECT_TRUE(found) << corner.x << "," << corner.y;
  }
}

TEST(PointListEdit, SimplifyWithToleranceSparesManhattanCorners) {
  {
    // (50, 51) is 0.71 off the diagonal between (100, 100) and (0, 0).
    PSList list;
    ListGuard guard{list};
    AddRing(list, {{0, 0}, {100, 0}, {100, 100}, {50, 51}});
    EXPECT_EQ(Simplify(list, 1), 1);
    ExpectConsistent(list);
    EXPECT_TRUE(
        SameCycle(Rings(list)[0], {{0, 0}, {100, 0}, {100, 100}}));
  }
  {
    // A 100 x 1 sliver: every corner is within 1 of the line through its
    // neighbours, but shares x or y with them: nothing goes.
    PSList list;
    ListGuard guard{list};
    const std::vector<Point> sliver = {{0, 0}, {100, 0}, {100, 1}, {0, 1}};
    AddRing(list, sliver);
    EXPECT_EQ(Simplify(list, 1), 0);
    EXPECT_EQ(list.pointCount, 4);
    EXPECT_TRUE(SameCycle(Rings(list)[0], sliver));
  }
  {
    // Beyond the tolerance: (50, 53) is 2.1 off the diagonal.
    PSList list;
    ListGuard guard{list};
    AddRing(list, {{0, 0}, {100, 0}, {100, 100}, {50, 53}});
    EXPECT_EQ(Simplify(list, 1), 0);
    EXPECT_EQ(Simplify(list, 2), 1);
  }
}

TEST(PointListEdit, CollapsedRingVanishesAndCountsAllItsVertices) {
  PSList list;
  ListGuard guard{list};
  const std::vector<Point> keep = {{100, 0}, {110, 0}, {110, 10}, {100, 10}};
  AddRing(list, keep);
  AddRing(list, {{0, 0}, {5, 0}, {10, 0}, {5, 0}});  // zero-area spike
  EXPECT_EQ(Simplify(list, 0), 4);
  ExpectConsistent(list);
  EXPECT_EQ(list.pointCount, 4);
  EXPECT_EQ(list.ringCount, 1);
  ASSERT_EQ(Rings(list).size(), 1u);
  EXPECT_TRUE(SameCycle(Rings(list)[0], keep));

  // A lone two-vertex ring goes as well; the list ends up empty.
  PSList pair;
  ListGuard g2{pair};
  AddRing(pair, {{0, 0}, {3, 4}});
  EXPECT_EQ(Simplify(pair, 0), 2);
  EXPECT_EQ(pair.head, nullptr);
  EXPECT_EQ(pair.tail, nullptr);
  EXPECT_EQ(pair.pointCount, 0);
  EXPECT_EQ(pair.ringCount, 0);
}

TEST(PointListEdit, SimplifyRingAtResults) {
  PSList list;
  ListGuard guard{list};
  PSPoint* one = AddRing(list, {{0, 0}});
  EXPECT_EQ(SimplifyRingAt(one, 0), -1);
  PSPoint* two = AddRing(list, {{0, 0}, {1, 1}});
  EXPECT_EQ(SimplifyRingAt(two, 5), -1);
  // p -> a -> b all on one line, then back: down to two vertices.
  PSPoint* p = AddRing(list, {{0, 0}, {1, 0}, {2, 0}, {7, 0}});
  EXPECT_EQ(SimplifyRingAt(p, 0), ~2);
  EXPECT_EQ(p->next->x, 7);
  EXPECT_EQ(p->next->next, p);

  // With a tolerance: a run may span several vertices; those removed carry
  // the deleted flag and are bypassed.
  // (30,11), (60,21), (90,31) lie 1 above the line y = x / 3; every chord
  // from (0,0) up to (120,40) passes within rounding distance 1 of them.
  PSPoint* q = AddRing(list, {{0, 0}, {30, 11}, {60, 21}, {90, 31}, {120, 40},
                              {120, 120}});
  EXPECT_EQ(SimplifyRingAt(q, 1), 3);
  EXPECT_EQ(q->next->x, 120);
  EXPECT_EQ(q->next->y, 40);
  EXPECT_EQ(q->next->prev, q);
  int deleted = 0;
  for (PSPoint* v = list.head; v; v = v->link)
    if (v->flags & PSPointFlags::Deleted) ++deleted;
  EXPECT_EQ(deleted, 2 + 3);
}

TEST(PointListEdit, SimplifyWithCoincidentEndsUsesDistanceToStart) {
  // p (0,0), q, r (0,0) again: the line p -> r is undefined and q's
  // distance from p decides. (1,1) is 1.41 from p: within tolerance 1; the
  // run then goes on to (0,5) and stops before it.
  PSList list;
  ListGuard guard{list};
  PSPoint* p = AddRing(list, {{0, 0}, {1, 1}, {0, 0}, {0, 5}, {-5, 5}});
  EXPECT_EQ(SimplifyRingAt(p, 1), 2);
  EXPECT_EQ(p->next->x, 0);
  EXPECT_EQ(p->next->y, 5);

  // (3,1) is 3.16 from p: it stays, although its y differs from p's by 1.
  PSList far;
  ListGuard g2{far};
  PSPoint* f = AddRing(far, {{0, 0}, {3, 1}, {0, 0}, {0, 5}, {-5, 5}});
  EXPECT_EQ(SimplifyRingAt(f, 1), 0);
  EXPECT_EQ(SimplifyRingAt(f, 3), 2);  // (3,1) and the repeated (0,0)
}

// ------------------------------------------------------------ splitting

TEST(PointListEdit, SplitOffOpenChains) {
  {
    PSList list, out;
    ListGuard g1{list}, g2{out};
    AddRing(list, {{0, 0}, {1, 0}, {1, 1}});
    SplitOffOpenChains(list, out);
    EXPECT_EQ(list.pointCount, 3);
    EXPECT_EQ(out.pointCount, 0);
    EXPECT_EQ(out.head, nullptr);
  }
  {
    PSList list, out;
    ListGuard g1{list}, g2{out};
    AddChain(list, {{0, 0}, {1, 0}});
    AddChain(list, {{5, 5}, {6, 6}});
    SplitOffOpenChains(list, out);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(list.pointCount, 0);
    EXPECT_EQ(out.pointCount, 4);
    ExpectConsistent(out);
  }
  {
    // Mixed: the inner vertex of a three-vertex chain stays; the ring
    // stays in link order and the tail is its last vertex.
    PSList list, out;
    ListGuard g1{list}, g2{out};
    AddRing(list, {{0, 0}, {1, 0}, {1, 1}});
    PSPoint* c = AddChain(list, {{5, 5}, {6, 6}, {7, 5}});
    PushPoint(out, 99, 99);
    SplitOffOpenChains(list, out);
    EXPECT_EQ(list.pointCount, 4);
    EXPECT_EQ(out.pointCount, 3);
    EXPECT_EQ(out.tail->x, 99);
    EXPECT_EQ(list.tail->x, 0);  // first ring vertex pushed = last on chain
    EXPECT_EQ(list.head, c->next);
    EXPECT_EQ(test::LinkOrder(list).size(), 4u);
    EXPECT_EQ(test::LinkOrder(out).size(), 3u);
  }
}

// -------------------------------------------------------------- copies

TEST(PointListEdit, CopyPointListCopiesRingsAndChains) {
  PSList src, dst;
  ListGuard g1{src}, g2{dst};
  const std::vector<Point> ring = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  const std::vector<Point> chain = {{20, 0}, {25, 5}, {30, 0}};
  AddRing(src, ring, PSPointFlags::SecondLayer);
  PSPoint* c = AddChain(src, chain, 0x0100);
  // Put the chain's middle vertex first on the link chain.
  PSPoint* mid = c->next;
  PSPoint* before = src.head;
  while (before->link != mid) before = before->link;
  before->link = mid->link;
  if (src.tail == mid) src.tail = before;
  mid->link = src.head;
  src.head = mid;

  EXPECT_EQ(CopyPointList(src, dst), 1);
  EXPECT_EQ(dst.pointCount, 7);
  EXPECT_EQ(dst.ringCount, 1);
  ExpectConsistent(dst);
  int chains = 0, rings = 0;
  std::vector<const PSPoint*> seen;
  for (const PSPoint* p = dst.head; p; p = p->link) {
    EXPECT_EQ(p->flags, 0);
    if (!p->prev) {
      ++chains;
      EXPECT_EQ(test::ChainPoints(p), chain);
    }
  }
  for (const auto& r : Rings(dst))
    if (r.size() == 4) {
      ++rings;
      EXPECT_TRUE(SameCycle(r, ring));
    }
  EXPECT_EQ(chains, 1);
  EXPECT_EQ(rings, 1);
  // Source untouched, visited bits cleared.
  for (const PSPoint* p = src.head; p; p = p->link)
    EXPECT_TRUE(p->flags == PSPointFlags::SecondLayer || p->flags == 0x0100);
  EXPECT_EQ(test::ChainPoints(c), chain);
}

TEST(PointListEdit, CopyPointListOfTwoVertexChainReversesTheirListOrder) {
  PSList src, dst;
  ListGuard g1{src}, g2{dst};
  PSPoint* a = PushPoint(src, 1, 1);  // pushed first: last on the chain
  PSPoint* b = PushPoint(src, 2, 2);
  LinkPoints(a, b);                   // chain a -> b, b first in list order
  CopyPointList(src, dst);
  ASSERT_EQ(dst.pointCount, 2);
  // b is copied first, then a; both pushed at the head: a's copy first.
  EXPECT_EQ(dst.head->x, 1);
  EXPECT_EQ(dst.head->next, dst.tail);
  EXPECT_EQ(dst.tail->x, 2);
}

TEST(PointListEdit, CopyRingAndAppendRingCopy) {
  PSList src, dst;
  ListGuard g1{src}, g2{dst};
  const std::vector<Point> tri = {{0, 0}, {4, 0}, {0, 3}};
  PSPoint* r = AddRing(src, tri, 0x0040);
  PSPoint* copy = CopyRing(dst, r);
  EXPECT_EQ(RingPoints(copy), tri);
  EXPECT_EQ(dst.pointCount, 3);
  EXPECT_EQ(dst.ringCount, 0);
  for (const PSPoint* p = src.head; p; p = p->link)
    EXPECT_EQ(p->flags, 0x0041);  // visited added; the caller clears it
  MaskFlags(src, -2);
  for (const PSPoint* p = dst.head; p; p = p->link) EXPECT_EQ(p->flags, 0);

  AppendRingCopy(r, dst);
  EXPECT_EQ(dst.pointCount, 6);
  EXPECT_EQ(dst.ringCount, 1);
  for (const PSPoint* p = src.head; p; p = p->link) EXPECT_EQ(p->flags, 0x0040);
  // Both copies are in the same direction as the source: positive area.
  EXPECT_EQ(ListArea(dst), static_cast<long double>(ShoelaceArea2(tri)));

  PSList single;
  ListGuard g3{single};
  PSPoint* lone = AddRing(src, {{7, 7}});
  PSPoint* lc = CopyRing(single, lone);
  EXPECT_EQ(lc->next, lc);
  EXPECT_EQ(lc->prev, lc);
}

TEST(PointListEdit, CopyFlaggedRings) {
  PSList src, dst;
  ListGuard g1{src}, g2{dst};
  AddRing(src, {{0, 0}, {1, 0}, {1, 1}});
  PSPoint* marked = AddRing(src, {{5, 0}, {6, 0}, {6, 1}, {5, 1}});
  marked->next->next->flags |= PSPointFlags::Marker;
  PSPoint* chain = AddChain(src, {{10, 0}, {11, 0}, {12, 0}});
  chain->flags |= PSPointFlags::Marker;  // the chain's first vertex, which
                                         // comes last of it on the link chain
  AddChain(src, {{20, 0}, {21, 0}});     // unmarked
  dst.ringCount = 5;
  EXPECT_EQ(CopyFlaggedRings(src, dst), 2);
  EXPECT_EQ(dst.ringCount, 7);
  EXPECT_EQ(dst.pointCount, 7);
  ExpectConsistent(dst);
  int chains = 0;
  for (const PSPoint* p = dst.head; p; p = p->link) {
    EXPECT_EQ(p->flags, 0);
    if (!p->prev) {
      ++chains;
      EXPECT_EQ(test::ChainPoints(p),
                (std::vector<Point>{{10, 0}, {11, 0}, {12, 0}}));
    }
  }
  EXPECT_EQ(chains, 1);
  for (const PSPoint* p = src.head; p; p = p->link)
    EXPECT_EQ(p->flags & PSPointFlags::Visited, 0);
}

// ------------------------------------------------- rings from circles

Circle MakeCircle(int32_t n) {
  Circle c;
  c.cx = 1000;
  c.cy = -1000;
  c.radius = 100;
  c.count = n;
  c.vertices = std::make_unique<Point[]>(n);
  for (int32_t i = 0; i < n; ++i) c.vertices[i] = Point(i, 10 * i);
  return c;
}

TEST(PointListEdit, RingFromVertexArray) {
  const Circle c = MakeCircle(32);
  PSList list;
  ListGuard guard{list};
  PSPoint* before = PushPoint(list, -1, -1);
  RingFromVertexArray(list, c, 0, 0);
  EXPECT_EQ(list.pointCount, 33);
  EXPECT_EQ(list.ringCount, 0);
  EXPECT_EQ(list.head, before);  // appended at the tail
  PSPoint* first = before->link;
  std::vector<Point> expected;
  for (int i = 0; i < 32; ++i) expected.push_back(c.vertices[i]);
  EXPECT_EQ(RingPoints(first), expected);
  EXPECT_EQ(first->prev, list.tail);
  ExpectConsistent(list);

  ClearPointList(list);
  RingFromVertexArray(list, c, 0, 8);  // a sector
  EXPECT_EQ(list.pointCount, 10);
  expected.assign(c.vertices.get(), c.vertices.get() + 9);
  expected.push_back(Point(1000, -1000));
  EXPECT_EQ(RingPoints(list.head), expected);

  ClearPointList(list);
  RingFromVertexArray(list, c, 24, 32);  // the last quarter: e = n
  EXPECT_EQ(list.pointCount, 10);
  EXPECT_EQ(RingPoints(list.head)[8], c.vertices[0]);
}

TEST(PointListEdit, RingFromVertexArrayRejectsBadInput) {
  PSList list;
  ListGuard guard{list};
  Circle empty;
  EXPECT_THROW(RingFromVertexArray(list, empty, 0, 0), Error);
  const Circle c = MakeCircle(8);
  EXPECT_THROW(RingFromVertexArray(list, c, -1, 0), Error);
  EXPECT_THROW(RingFromVertexArray(list, c, 8, 0), Error);
  EXPECT_THROW(RingFromVertexArray(list, c, 0, -3), Error);
  EXPECT_THROW(RingFromVertexArray(list, c, 5, 3), Error);
  EXPECT_THROW(RingFromVertexArray(list, c, 6, 8 + 2), Error);  // wraps
  EXPECT_EQ(list.pointCount, 0);
  try {
    RingFromVertexArray(list, empty, 0, 0);
  } catch (const Error& e) {
    ASSERT_NE(e.Unit(), nullptr);
    EXPECT_STREQ(e.Unit(), "DRC");
  }
}

TEST(PointListEdit, RingFromTwoVertexArrays) {
  const Circle outer = MakeCircle(8);
  Circle inner = MakeCircle(8);
  for (int i = 0; i < 8; ++i) inner.vertices[i] = Point(-i, -10 * i);
  PSList list;
  ListGuard guard{list};
  RingFromTwoVertexArrays(list, outer, inner, 1, 3);
  EXPECT_EQ(RingPoints(list.head),
            (std::vector<Point>{{1, 10}, {2, 20}, {3, 30}, {-3, -30},
                                {-2, -20}, {-1, -10}}));
  ExpectConsistent(list);
}

}  // namespace
}  // namespace velmar
