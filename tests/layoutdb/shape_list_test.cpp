// Shape lists: shared shapes keep one polygon with all their placements,
// rings come back from the shapes exactly, records match the format, and
// the pools reuse and release nodes exactly once (run under the sanitizers).

#include "layoutdb/shape_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "foundation/error.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "shape_fixtures.h"

namespace velmar {
namespace {

using shape_test::AppendRing;
using shape_test::Moved;
using shape_test::Ring;
using shape_test::RingFrom;

const Ring kRect{{0, 0}, {20, 0}, {20, 10}, {0, 10}};
const Ring kSquare{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
const Ring kL{{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}};
// Same header and value count as kL; one value differs in sign.
const Ring kNotch{{0, 0}, {20, 0}, {20, 10}, {30, 10}, {30, 20}, {0, 20}};
const Ring kOct7{{0, 0}, {20, 0}, {30, 10}, {30, 20}, {20, 30}, {10, 30},
                 {0, 20}};
const Ring kGeneral{{0, 0}, {30, 10}, {40, 40}, {20, 50}, {10, 30}, {5, 20}};

// Owns a shape list for one test and releases it at the end.
struct ShapeListFixture : ::testing::Test {
  CPgonList shapes;
  PSList rings;
  ~ShapeListFixture() override {
    CPgonList::Release(shapes);
    ClearPointList(rings);
  }
  void Add(const Ring& r, int32_t dx, int32_t dy) {
    AppendRing(rings, Moved(r, dx, dy));
  }
  // Checks the list invariants: links, counts, owners, order by polygon,
  // no two equal shapes, placements of shared shapes sorted and unique.
  void ExpectConsistent() {
    int32_t n = 0;
    const CPgonListNode* prev = nullptr;
    for (const CPgonListNode* s = shapes.first; s; s = s->next, ++n) {
      EXPECT_EQ(prev, s->prev);
      ASSERT_NE(nullptr, s->polygon);
      if (prev) {
        EXPECT_LT(CPgonList::ComparePolygons(prev, s), 0);
      }
      int32_t m = 0;
      const LocListNode* pp = nullptr;
      for (const LocListNode* p = s->placements.first; p; p = p->next, ++m) {
        EXPECT_EQ(s, p->owner);
        EXPECT_EQ(pp, p->prev);
        if (pp) {
          EXPECT_LT(LocList::ComparePlacements(pp, p), 0);
        }
        pp = p;
      }
      EXPECT_EQ(m, s->placements.count);
      EXPECT_EQ(pp, s->placements.last);
      prev = s;
    }
    EXPECT_EQ(n, shapes.count);
    EXPECT_EQ(prev, shapes.last);
  }
};

using ShapeLists = ShapeListFixture;

TEST_F(ShapeLists, EqualRectanglesShareOnePolygon) {
  Add(kRect, 100, 0);
  Add(kRect, 0, 0);
  EXPECT_EQ(0, CPgonList::AddRings(shapes, rings));
  ExpectConsistent();
  ASSERT_EQ(1, shapes.count);
  const LocList& at = shapes.first->placements;
  ASSERT_EQ(2, at.count);
  EXPECT_EQ(0, at.first->x);
  EXPECT_EQ(100, at.last->x);
  // Every ring vertex is left marked.
  for (const PSPoint* p = rings.head; p; p = p->link) {
    EXPECT_TRUE(p->flags & PSPointFlags::Visited);
  }
}

TEST_F(ShapeLists, SameRingTwiceAtOnePlaceKeepsOnePlacement) {
  Add(kL, 5, 5);
  Add(kSquare, 0, 0);
  Add(kL, 5, 5);
  EXPECT_EQ(1, CPgonList::AddRings(shapes, rings));
  ExpectConsistent();
  EXPECT_EQ(2, shapes.count);
  EXPECT_EQ(1, shapes.first->placements.count);
  EXPECT_EQ(1, shapes.last->placements.count);
}

TEST_F(ShapeLists, ShapesDifferingInOneSignStaySeparate) {
  Add(kL, 0, 0);
  Add(kNotch, 0, 0);
  EXPECT_EQ(0, CPgonList::AddRings(shapes, rings));
  ExpectConsistent();
  EXPECT_EQ(2, shapes.count);
}

TEST_F(ShapeLists, MarksOfAnEarlierWalkHideNoRing) {
  Add(kSquare, 0, 0);
  Add(kRect, 50, 0);
  SetFlags(rings, PSPointFlags::Visited);
  CPgonList::AddRings(shapes, rings);
  EXPECT_EQ(2, shapes.count);
}

// Random layouts from a few shapes at few positions (so that many repeat):
// the shapes are exactly the distinct polygons, the placements exactly the
// distinct placed rings, and ToRings gives those rings back.
TEST_F(ShapeLists, RandomLayoutMergesToDistinctShapesAndPlacements) {
  const std::vector<Ring> kinds = {kRect, kSquare, kL, kNotch, kOct7,
                                   kGeneral};
  std::mt19937 rng(7);
  const int kRings = 2000;
  std::vector<std::pair<int, Point>> placed;
  for (int i = 0; i < kRings; ++i) {
    const int kind = int(rng() % kinds.size());
    const Point at(int32_t(rng() % 12) * 100 - 600, int32_t(rng() % 12) * 70);
    Add(kinds[kind], at.x, at.y);
    placed.push_back({kind, at});
  }
  std::set<std::vector<int32_t>> distinctRings;  // (kind, x, y)
  std::set<int> distinctKinds;
  for (auto& [kind, at] : placed) {
    distinctRings.insert({kind, at.x, at.y});
    distinctKinds.insert(kind);
  }

  const int removed = CPgonList::AddRings(shapes, rings);
  ExpectConsistent();
  EXPECT_EQ(int(kRings - distinctRings.size()), removed);
  EXPECT_EQ(int(distinctKinds.size()), shapes.count);
  int placements = 0;
  for (const CPgonListNode* s = shapes.first; s; s = s->next)
    placements += s->placements.count;
  EXPECT_EQ(int(distinctRings.size()), placements);

  // The rings of the shapes are the distinct input rings.
  auto canonical = [](Ring r) {
    auto it = std::min_element(r.begin(), r.end(), [](Point a, Point b) {
      return a.x != b.x ? a.x < b.x : a.y < b.y;
    });
    std::rotate(r.begin(), it, r.end());
    std::vector<int32_t> flat;
    for (const Point& p : r) {
      flat.push_back(p.x);
      flat.push_back(p.y);
    }
    return flat;
  };
  std::multiset<std::vector<int32_t>> want;
  for (const auto& key : distinctRings) {
    want.insert(canonical(Moved(kinds[size_t(key[0])], key[1], key[2])));
  }
  PSList out;
  CPgonList::ToRings(shapes, out);
  std::multiset<std::vector<int32_t>> got;
  int pointsSeen = 0;
  for (PSPoint* p = out.head; p; p = p->link) {
    ++pointsSeen;
    EXPECT_EQ(0, p->flags);
  }
  // Walk each ring once via a marker on its vertices.
  for (PSPoint* p = out.head; p; p = p->link) {
    if (p->flags) continue;
    Ring r = RingFrom(p);
    for (PSPoint* q = p;;) {
      q->flags = 1;
      q = q->next;
      if (q == p) break;
    }
    got.insert(canonical(r));
  }
  EXPECT_EQ(want, got);
  EXPECT_EQ(pointsSeen, out.pointCount);
  EXPECT_EQ(int(distinctRings.size()), out.ringCount);
  ClearPointList(out);
}

TEST_F(ShapeLists, ToRingsMovesEachPlacementAndAppends) {
  Add(kOct7, 10, 20);
  Add(kOct7, -5, 7);
  Add(kOct7, 300, 0);
  CPgonList::AddRings(shapes, rings);
  ASSERT_EQ(1, shapes.count);
  PSList out;
  PushPoint(out, 1, 1);  // an open vertex already there stays
  out.words[4] = 42;
  CPgonList::ToRings(shapes, out);
  EXPECT_EQ(1 + 3 * 7, out.pointCount);
  EXPECT_EQ(3, out.ringCount);
  EXPECT_EQ(42, out.words[4]);
  std::vector<Ring> got;
  for (PSPoint* p = out.head; p; p = p->link) {
    if (p->next && p->flags == 0) {
      got.push_back(RingFrom(p));
      for (PSPoint* q = p;;) {
        q->flags = 1;
        q = q->next;
        if (q == p) break;
      }
    }
  }
  ASSERT_EQ(3u, got.size());
  std::vector<Ring> want = {Moved(kOct7, -5, 7), Moved(kOct7, 10, 20),
                            Moved(kOct7, 300, 0)};
  for (Ring& r : got) r = shape_test::StartingAt(r, *std::min_element(
      r.begin(), r.end(), [](Point a, Point b) {
        return a.x != b.x ? a.x < b.x : a.y < b.y;
      }));
  std::sort(got.begin(), got.end(), [](const Ring& a, const Ring& b) {
    return a[0].x < b[0].x;
  });
  EXPECT_EQ(want, got);
  ClearPointList(out);
}

TEST_F(ShapeLists, ToRingsRefusesPlacementsBeyond32Bits) {
  Add(kRect, 0, 0);
  CPgonList::AddRings(shapes, rings);
  shapes.first->placements.first->x = INT32_MAX - 5;  // width 20 overflows
  PSList out;
  EXPECT_THROW(CPgonList::ToRings(shapes, out), Error);
  EXPECT_EQ(0, out.pointCount);
  ClearPointList(out);
}

TEST_F(ShapeLists, MergeKeepsTheFirstOfEqualPlacements) {
  // Placements that an index may already point at come first; merging
  // removes the later equal ones.
  CPgonListNode* a = CPgonList::Append(
      shapes, std::make_unique<DBPolygon>(DBPolygon::kSquareHeader,
                                          std::vector<int32_t>{5}));
  LocListNode* kept = LocList::Append(a->placements, a, 10, 10);
  CPgonListNode* b = CPgonList::Append(
      shapes, std::make_unique<DBPolygon>(DBPolygon::kSquareHeader,
                                          std::vector<int32_t>{5}));
  LocList::Append(b->placements, b, 10, 10);
  LocList::Append(b->placements, b, 0, 0);
  EXPECT_EQ(1, CPgonList::MergeEqualShapes(shapes));
  ExpectConsistent();
  ASSERT_EQ(1, shapes.count);
  EXPECT_EQ(2, a->placements.count);
  EXPECT_EQ(kept, a->placements.last);
}

TEST_F(ShapeLists, CompareShapesAndLowerBound) {
  Add(kSquare, 0, 0);
  Add(kRect, 0, 0);
  Add(kRect, 50, 0);
  Add(kL, 0, 0);
  CPgonList::AddRings(shapes, rings);
  ASSERT_EQ(3, shapes.count);
  const CPgonListNode* square = shapes.first;
  const CPgonListNode* rect = square->next;
  const CPgonListNode* lShape = rect->next;
  EXPECT_EQ(3u, square->polygon->header);
  EXPECT_EQ(4u, rect->polygon->header);

  PSList one;
  AppendRing(one, kRect);
  PSPoint* origin = one.head;
  std::unique_ptr<DBPolygon> probe = DBPolygon::Build(origin);
  EXPECT_EQ(rect, CPgonList::LowerBound(shapes, *probe));
  DBPolygon none(0xffffffffu, {});
  EXPECT_EQ(nullptr, CPgonList::LowerBound(shapes, none));
  EXPECT_EQ(square, CPgonList::LowerBound(shapes, DBPolygon(0, {})));
  ClearPointList(one);

  // Equal polygons: fewer placements first, then placements pairwise.
  CPgonList copy;
  CPgonList::CopyShapes(shapes, copy);
  CPgonListNode* rectCopy = copy.first->next;
  EXPECT_EQ(0, CPgonList::CompareShapes(rect, rectCopy));
  LocList::Append(rectCopy->placements, rectCopy, 90, 0);
  EXPECT_EQ(-1, CPgonList::CompareShapes(rect, rectCopy));  // 2 vs 3
  LocList::Remove(rectCopy->placements, rectCopy->placements.last);
  rectCopy->placements.last->x = 40;  // (0, 0) (50, 0) vs (0, 0) (40, 0)
  EXPECT_EQ(1, CPgonList::CompareShapes(rect, rectCopy));
  EXPECT_EQ(-1, CPgonList::CompareShapes(rect, lShape));
  CPgonList::Release(copy);
}

TEST_F(ShapeLists, CopyShapesIsDeep) {
  Add(kOct7, 0, 0);
  Add(kOct7, 40, 0);
  Add(kGeneral, 0, 100);
  CPgonList::AddRings(shapes, rings);
  CPgonList copy;
  CPgonList::CopyShapes(shapes, copy);
  ASSERT_EQ(shapes.count, copy.count);
  for (const CPgonListNode *s = shapes.first, *c = copy.first; s;
       s = s->next, c = c->next) {
    EXPECT_EQ(0, CPgonList::CompareShapes(s, c));
    EXPECT_NE(s->polygon.get(), c->polygon.get());
    EXPECT_EQ(c, c->placements.first->owner);
  }
  CPgonList::Release(shapes);  // the copy lives on by itself
  PSList out;
  CPgonList::ToRings(copy, out);
  EXPECT_EQ(3, out.ringCount);
  ClearPointList(out);
  CPgonList::Release(copy);
}

// Record of one shape list: shape count, then per shape its polygon record,
// placement count and (dx, dy) from the previous placement.
TEST_F(ShapeLists, WriteByteExact) {
  Add(kSquare, 40, 25);
  Add(kSquare, 10, 20);
  Add(kSquare, 10, 25);
  CPgonList::AddRings(shapes, rings);
  const std::vector<uint8_t> bytes = shape_test::WriteBytes(
      "shapes.bin",
      [&](BinaryStream& out) { CPgonList::Write(shapes, out); });
  // 1 shape; square 10; 3 placements; (10, 20) (0, 5) (30, 0).
  const std::vector<uint8_t> want = {0x01, 0x03, 0x00, 0x00, 0x00, 0x14,
                                     0x03, 0x14, 0x28, 0x00, 0x0A, 0x3C,
                                     0x00};
  EXPECT_EQ(want, bytes);
}

TEST_F(ShapeLists, PlacementsFarApartAreWrittenExactly) {
  CPgonListNode* s = CPgonList::Append(
      shapes, std::make_unique<DBPolygon>(DBPolygon::kSquareHeader,
                                          std::vector<int32_t>{1}));
  const int32_t xs[] = {-2000000000, 2000000000, INT32_MIN, INT32_MAX};
  for (int32_t x : xs) LocList::Append(s->placements, s, x, -(x / 2));
  shape_test::WriteBytes("far.bin", [&](BinaryStream& out) {
    CPgonList::WriteShape(*s, out);
  });
  // Read back as the cell data reader does: a running origin from (0, 0).
  BinaryStream in;
  shape_test::OpenForReading(in, shape_test::TempPath("far.bin"));
  ASSERT_NE(nullptr, shape_test::ReadPolygonRecord(in));
  ASSERT_EQ(4u, in.GetUnsignedChained());
  uint32_t x = 0, y = 0;
  for (int32_t want : xs) {
    x += uint32_t(in.GetSignedChained());
    y += uint32_t(in.GetSignedChained());
    EXPECT_EQ(want, int32_t(x));
    EXPECT_EQ(-(want / 2), int32_t(y));
  }
  EXPECT_TRUE(in.AtEnd());
  in.Close();
}

// --- Pools ---------------------------------------------------------------------

TEST(ShapePools, ReleasedNodesAreReused) {
  // Warm the pools, then a second round of the same size takes every node
  // from the free lists: no pool grows.
  auto round = [](std::set<const void*>* seen) {
    CPgonList list;
    for (int i = 0; i < 300; ++i) {
      CPgonListNode* s = CPgonList::Append(
          list, std::make_unique<DBPolygon>(DBPolygon::kSquareHeader,
                                            std::vector<int32_t>{i + 1}));
      for (int k = 0; k < 3; ++k) {
        LocListNode* p = LocList::Append(s->placements, s, k, i);
        if (seen) seen->insert(p);
      }
      if (seen) seen->insert(s);
    }
    CPgonList::Release(list);
    EXPECT_EQ(nullptr, list.first);
    EXPECT_EQ(0, list.count);
  };
  std::set<const void*> first, second;
  round(&first);
  const int locKb = LocList::ReportPool(true);
  const int shapeKb = CPgonList::ReportPool(true);
  EXPECT_GT(locKb, 0);
  EXPECT_GT(shapeKb, 0);
  round(&second);
  EXPECT_EQ(locKb, LocList::ReportPool(true));
  EXPECT_EQ(shapeKb, CPgonList::ReportPool(true));
  EXPECT_EQ(first, second);  // the very same nodes came back
}

TEST(ShapePools, RemoveAndFreeNodes) {
  CPgonList list;
  CPgonListNode* s = CPgonList::Append(
      list, std::make_unique<DBPolygon>(DBPolygon::kSquareHeader,
                                        std::vector<int32_t>{3}));
  LocListNode* a = LocList::Append(s->placements, s, 1, 1);
  LocListNode* b = LocList::Append(s->placements, s, 2, 2);
  // Removing the last placement returns null while one remains.
  EXPECT_EQ(nullptr, LocList::Remove(s->placements, b));
  EXPECT_EQ(1, s->placements.count);
  EXPECT_EQ(a, s->placements.last);
  EXPECT_EQ(nullptr, a->next);
  EXPECT_EQ(b, LocList::NewNode());  // the freed node is the next one out
  LocList::FreeNode(b);

  // A polygon moved out of a shape survives its removal; one left in the
  // shape goes with it.
  CPgonListNode* t = CPgonList::Append(
      list, std::make_unique<DBPolygon>(DBPolygon::kRectangleHeader,
                                        std::vector<int32_t>{3, 4}));
  LocList::Append(t->placements, t, 0, 0);
  std::unique_ptr<DBPolygon> kept = std::move(s->polygon);
  EXPECT_EQ(t, CPgonList::Remove(list, s));
  EXPECT_EQ(t, list.first);
  EXPECT_EQ(nullptr, t->prev);
  EXPECT_EQ(1, list.count);
  EXPECT_EQ(3, kept->values[0]);
  EXPECT_EQ(nullptr, CPgonList::Remove(list, t));
  EXPECT_EQ(nullptr, list.first);
  EXPECT_EQ(nullptr, list.last);
  EXPECT_EQ(0, list.count);
  // Removed nodes come back owning nothing.
  CPgonListNode* again = CPgonList::NewNode();
  EXPECT_EQ(nullptr, again->polygon);
  EXPECT_EQ(nullptr, again->placements.first);
  EXPECT_EQ(0, again->placements.count);
  CPgonList::FreeNode(again);
}

// A square polygon that counts the live instances.
struct CountedSquare : DBPolygon {
  static inline int live = 0;
  explicit CountedSquare(int32_t side)
      : DBPolygon(kSquareHeader, {side}) { ++live; }
  ~CountedSquare() override { --live; }
};

// n shapes of sides 1 .. n (each side twice when twice is set), each with
// two placements.
void FillCounted(CPgonList& list, int n, bool twice) {
  for (int i = 0; i < n * (twice ? 2 : 1); ++i) {
    CPgonListNode* s =
        CPgonList::Append(list, std::make_unique<CountedSquare>(1 + i % n));
    LocList::Append(s->placements, s, i, 0);
    LocList::Append(s->placements, s, i, 1);
  }
}

// Each polygon is deleted exactly once whichever way its owner lets go (a
// second deletion would also stop the sanitizers).
TEST(ShapePools, ReleaseDeletesEachPolygonOnce) {
  ASSERT_EQ(0, CountedSquare::live);
  // The owner deletes the polygons and releases the placements first.
  CPgonList a;
  FillCounted(a, 100, false);
  EXPECT_EQ(100, CountedSquare::live);
  for (CPgonListNode* s = a.first; s; s = s->next) {
    s->polygon.reset();
    LocList::Release(s->placements);
  }
  EXPECT_EQ(0, CountedSquare::live);
  CPgonList::Release(a);
  EXPECT_EQ(0, CountedSquare::live);
  // The owner only releases the list.
  CPgonList b;
  FillCounted(b, 100, false);
  CPgonList::Release(b);
  EXPECT_EQ(0, CountedSquare::live);
  CPgonList::Release(b);  // an empty list: nothing happens
  // Nodes freed either way come back owning nothing.
  for (int i = 0; i < 200; ++i) {
    CPgonListNode* n = CPgonList::NewNode();
    EXPECT_EQ(nullptr, n->polygon);
    EXPECT_EQ(0, n->placements.count);
    CPgonList::FreeNode(n);
  }
  // Merging deletes the polygons of the shapes it folds in, once.
  CPgonList c;
  FillCounted(c, 50, true);
  EXPECT_EQ(100, CountedSquare::live);
  CPgonList::SortByPolygon(c);
  EXPECT_EQ(0, CPgonList::MergeEqualShapes(c));
  EXPECT_EQ(50, c.count);
  EXPECT_EQ(50, CountedSquare::live);
  for (const CPgonListNode* s = c.first; s; s = s->next) {
    EXPECT_EQ(4, s->placements.count);
  }
  // Removing a shape deletes the polygon it still holds.
  CPgonList::Remove(c, c.first);
  EXPECT_EQ(49, CountedSquare::live);
  CPgonList::Release(c);
  EXPECT_EQ(0, CountedSquare::live);
}

// Equal shapes built from rings merge however often the same rings come.
TEST(ShapePools, AddingTheSameRingsAgainAddsNoShape) {
  auto fill = [](CPgonList& list) -> int {
    PSList rings;
    for (int i = 0; i < 50; ++i) {
      AppendRing(rings, Moved(kOct7, 100 * i, 0));
      AppendRing(rings, Moved(kGeneral, 0, 100 * i));
      AppendRing(rings, Moved(kL, 100 * i, 100 * i));
    }
    const int removed = CPgonList::AddRings(list, rings);
    ClearPointList(rings);
    return removed;
  };
  CPgonList c;
  EXPECT_EQ(0, fill(c));
  EXPECT_EQ(150, fill(c));
  EXPECT_EQ(3, c.count);
  CPgonList::Release(c);
}

// Resetting the pools (the last call of a run) frees every block and the
// polygons still held; new nodes afterwards come from fresh blocks.
TEST(ShapePools, ResetReleasesEverything) {
  CPgonList list;
  PSList rings;
  AppendRing(rings, kOct7);
  CPgonList::AddRings(list, rings);
  ClearPointList(rings);
  EXPECT_GT(CPgonList::ReportPool(true), 0);
  CPgonList::Release(CPgonList::FreeList());  // the free list: a reset
  LocList::Release(LocList::FreeList());
  EXPECT_EQ(0, CPgonList::ReportPool(true));
  EXPECT_EQ(0, LocList::ReportPool(true));
  EXPECT_EQ(nullptr, CPgonList::FreeList().first);
  EXPECT_EQ(nullptr, LocList::FreeList().first);
  // The pools work again after a reset.
  CPgonList fresh;
  CPgonListNode* s = CPgonList::Append(
      fresh, std::make_unique<DBPolygon>(DBPolygon::kSquareHeader,
                                         std::vector<int32_t>{1}));
  LocList::Append(s->placements, s, 0, 0);
  EXPECT_GT(CPgonList::ReportPool(true), 0);
  CPgonList::Release(fresh);
}

// Random polygons of every encoding, drawn from small value ranges so that
// headers, value counts, code words and values tie often: the list sort must
// give exactly the order of a plain stable insertion sort by ComparePolygons.
std::unique_ptr<DBPolygon> RandomEncodedPolygon(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  uint32_t header = 0;
  switch (pick(0, 4)) {
    case 0: header = DBPolygon::kSquareHeader; break;
    case 1: header = DBPolygon::kRectangleHeader; break;
    case 2: header = uint32_t(2 * pick(3, 5)); break;  // manhattan, 6..10
    case 3: header = uint32_t(pick(5, 12)) | DBPolygon::kOctangularBits; break;
    default: header = uint32_t(pick(4, 9)) | DBPolygon::kGeneralBits; break;
  }
  std::unique_ptr<DBPolygon> p = DBPolygon::New(header);
  const int c = DBPolygon::CodeBitsPerEdge(header);
  const int n = int(DBPolygon::VertexCount(header));
  // A few code bits, mostly the same ones, so code words tie as well.
  for (int a = 0; c > 0 && a < n - 1; ++a) {
    if (pick(0, 3) == 0) p->SetCodeBit(a, pick(0, c - 1), c, 1);
  }
  p->values.resize(size_t(p->CountValues()));
  for (int32_t& v : p->values) v = pick(-2, 2);
  return p;
}

TEST(ShapeSort, SameOrderAsAStableReferenceSort) {
  std::mt19937 rng(1515);
  for (int round = 0; round < 60; ++round) {
    const int count = round < 10 ? round : 50 + round * 40;
    CPgonList list;
    std::vector<CPgonListNode*> expected;
    for (int i = 0; i < count; ++i) {
      expected.push_back(CPgonList::Append(list, RandomEncodedPolygon(rng)));
    }
    // Stable insertion sort as the reference.
    for (size_t i = 1; i < expected.size(); ++i) {
      for (size_t j = i; j > 0 &&
                         CPgonList::ComparePolygons(expected[j - 1],
                                                    expected[j]) > 0;
           --j) {
        std::swap(expected[j - 1], expected[j]);
      }
    }
    CPgonList::SortByPolygon(list);
    std::vector<CPgonListNode*> got;
    const CPgonListNode* prev = nullptr;
    for (CPgonListNode* s = list.first; s; s = s->next) {
      ASSERT_EQ(prev, s->prev) << "round " << round;
      got.push_back(s);
      prev = s;
    }
    EXPECT_EQ(prev, list.last);
    EXPECT_EQ(count, list.count);
    ASSERT_EQ(expected, got) << "round " << round << ", " << count
                             << " shapes";
    CPgonList::Release(list);
  }
}

// Sorting and merging in one step must leave exactly the list that sorting,
// then merging, leaves: the same polygons in the same order, each with the
// same placements, and the same count of dropped duplicate placements.
TEST(ShapeSort, SortAndMergeMatchesSortThenMerge) {
  std::mt19937 rng(2626);
  auto pick = [&](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  for (int round = 0; round < 40; ++round) {
    const int count = round < 5 ? round : 30 + round * 50;
    CPgonList a;
    for (int i = 0; i < count; ++i) {
      CPgonListNode* shape = CPgonList::Append(a, RandomEncodedPolygon(rng));
      for (int j = pick(1, 3); j > 0; --j) {
        LocList::Append(shape->placements, shape, pick(0, 3), pick(0, 3));
      }
    }
    CPgonList b;
    CPgonList::CopyShapes(a, b);
    CPgonList::SortByPolygon(a);
    const int removedA = CPgonList::MergeEqualShapes(a);
    const int removedB = CPgonList::SortAndMergeEqualShapes(b);
    EXPECT_EQ(removedA, removedB) << "round " << round;
    ASSERT_EQ(a.count, b.count) << "round " << round;
    const CPgonListNode* prev = nullptr;
    for (const CPgonListNode *s = a.first, *t = b.first; s || t;
         s = s->next, prev = t, t = t->next) {
      ASSERT_TRUE(s && t) << "round " << round;
      ASSERT_EQ(prev, t->prev);
      ASSERT_EQ(0, DBPolygonExt::Compare(s->polygon.get(), t->polygon.get()))
          << "round " << round;
      ASSERT_EQ(s->placements.count, t->placements.count);
      for (const LocListNode *p = s->placements.first,
                             *q = t->placements.first;
           p || q; p = p->next, q = q->next) {
        ASSERT_TRUE(p && q);
        EXPECT_EQ(t, q->owner);
        EXPECT_EQ(p->x, q->x);
        EXPECT_EQ(p->y, q->y);
      }
    }
    EXPECT_EQ(prev, b.last);
    CPgonList::Release(a);
    CPgonList::Release(b);
  }
}

}  // namespace
}  // namespace velmar
