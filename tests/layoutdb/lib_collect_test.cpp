// Collecting geometry below a cell inside a window: LibDB::CollectPolygons
// (recursion over cells) and LibDB::CollectWindowPolygons (through the
// hierarchical iterator), checked against each other and against a
// brute-force flattener that places every vertex level by level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <string>

#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "support/hier_fixtures.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/lib_test_dir.h"

namespace velmar {
namespace {

using hier_test::Canonical;
using hier_test::FlatRings;
using hier_test::Model;
using hier_test::ModelRef;
using hier_test::RingsOf;
using Ring = cell_test::Ring;

const Trans kIdentity;
const LayerKeySet kAll;

FlatRings Collect(LibDB& lib, int32_t id, const Box& window,
                  const LayerKeySet& filter = kAll, int clipMode = 0) {
  LayerRings out;
  lib.CollectPolygons(lib.cells[size_t(id)], &window, &kIdentity, &filter,
                      &out, clipMode);
  return RingsOf(out);
}

FlatRings CollectByIterator(LibDB& lib, int32_t id, const Box& window,
                            const LayerKeySet& filter = kAll,
                            const SRef* excluded = nullptr) {
  LayerRings out;
  lib.CollectWindowPolygons(lib.cells[size_t(id)], &window, &filter, &out,
                            excluded, 0);
  return RingsOf(out);
}

Box Widened(const Box& b, int32_t d) {
  return Box(b.x1 - d, b.y1 - d, b.x2 + d, b.y2 + d);
}

__int128 TotalArea2(const std::vector<Ring>& rings) {
  __int128 s = 0;
  for (const Ring& r : rings) s += cell_test::Area2(r);
  return s;
}

// Every layer of got covers the window like the brute-force rings: the
// summed winding numbers agree at sample points inside the window shrunk by
// margin, away from the brute-force edges.
void ExpectSameCoverage(const FlatRings& got, const FlatRings& brute,
                        const Box& window, int32_t margin, std::mt19937& rng,
                        const std::string& what) {
  const Box inner(window.x1 + margin, window.y1 + margin, window.x2 - margin,
                  window.y2 - margin);
  if (!inner.IsValid()) return;
  std::uniform_int_distribution<int32_t> ux(inner.x1, inner.x2 - 1);
  std::uniform_int_distribution<int32_t> uy(inner.y1, inner.y2 - 1);
  std::set<LayerKey> keys;
  for (const auto& e : got) keys.insert(e.first);
  for (const auto& e : brute) keys.insert(e.first);
  const std::vector<Ring> none;
  for (LayerKey key : keys) {
    const auto g = got.find(key);
    const auto b = brute.find(key);
    const std::vector<Ring>& gr = g == got.end() ? none : g->second;
    const std::vector<Ring>& br = b == brute.end() ? none : b->second;
    // Half the points anywhere in the window, half close to the vertices of
    // the brute-force rings (where the shapes are).
    std::uniform_int_distribution<int32_t> near(-12, 12);
    for (int i = 0; i < 400; ++i) {
      int32_t x = ux(rng), y = uy(rng);
      if (i % 2 == 1 && !br.empty()) {
        const Ring& r = br[rng() % br.size()];
        const Point& v = r[rng() % r.size()];
        x = v.x + near(rng);
        y = v.y + near(rng);
        if (x < inner.x1 || x >= inner.x2 || y < inner.y1 || y >= inner.y2)
          continue;
      }
      // Off every integer line and every 45-degree line through integers.
      const double px = x + 0.25, py = y + 0.5;
      if (hier_test::NearestEdge(br, px, py) < 1.5) continue;
      ASSERT_EQ(hier_test::WindingSum(gr, px, py),
                hier_test::WindingSum(br, px, py))
          << what << " layer " << key << " at (" << px << ", " << py << ")";
    }
  }
}

// Random hierarchies with arrays, every orientation, layer 64/0, shared
// shapes and (in some) magnification 2: both collectors give the same rings;
// a window holding the whole cell gives exactly the brute-force rings, and a
// window cutting it the same coverage (and, without magnification or
// arbitrary slopes, the same area as clipping every brute-force ring).
struct RandomCase {
  uint32_t seed;
  int cells;
  bool general;
  bool magnify;
};

class CollectRandomTest : public ::testing::TestWithParam<RandomCase> {};

TEST_P(CollectRandomTest, CollectorsAgreeWithBruteForce) {
  const RandomCase c = GetParam();
  std::mt19937 rng(c.seed);
  const Model m = hier_test::RandomModel(rng, c.cells, c.general, c.magnify);
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  const FlatRings brute = hier_test::Flatten(m, 0);
  const Box top = lib.cells[0]->box;
  ASSERT_EQ(top, hier_test::BoxOfFlat(brute));

  // The whole cell, then windows cutting it.
  std::vector<Box> windows{Widened(top, 5), top};
  std::uniform_int_distribution<int32_t> fx(0, int32_t(top.Width()));
  std::uniform_int_distribution<int32_t> fy(0, int32_t(top.Height()));
  for (int i = 0; i < 6; ++i) {
    int32_t a = top.x1 + fx(rng), b = top.x1 + fx(rng);
    int32_t d = top.y1 + fy(rng), e = top.y1 + fy(rng);
    if (a == b) ++b;
    if (d == e) ++e;
    windows.push_back(Box(std::min(a, b), std::min(d, e), std::max(a, b),
                          std::max(d, e)));
  }

  for (const Box& w : windows) {
    SCOPED_TRACE(::testing::Message() << "window " << w.x1 << " " << w.y1
                                      << " " << w.x2 << " " << w.y2);
    const FlatRings byRecursion = Collect(lib, 0, w);
    const FlatRings byIterator = CollectByIterator(lib, 0, w);
    EXPECT_EQ(Canonical(byRecursion), Canonical(byIterator));

    if (w.x1 <= top.x1 && top.x2 <= w.x2 && w.y1 <= top.y1 &&
        top.y2 <= w.y2) {
      EXPECT_EQ(Canonical(byRecursion), Canonical(brute));
      continue;
    }
    // Magnified placements included, the geometry is clipped to the window
    // itself, however the window rounds as it is mapped into each child.
    ExpectSameCoverage(byRecursion, brute, w, 1, rng, "recursion");
    if (c.general || c.magnify) continue;
    for (const auto& [key, rings] : brute) {
      std::vector<Ring> clipped;
      for (const Ring& r : rings) clipped.push_back(cell_test::ClipRing(r, w));
      const auto g = byRecursion.find(key);
      const __int128 got = g == byRecursion.end() ? 0 : TotalArea2(g->second);
      EXPECT_TRUE(got == TotalArea2(clipped)) << "area of layer " << key;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hierarchies, CollectRandomTest,
    ::testing::Values(RandomCase{1, 4, false, false},
                      RandomCase{2, 6, false, false},
                      RandomCase{3, 7, false, false},
                      RandomCase{4, 5, true, false},
                      RandomCase{5, 6, true, false},
                      RandomCase{6, 5, false, true},
                      RandomCase{7, 6, false, true},
                      RandomCase{8, 7, true, true},
                      RandomCase{9, 3, false, false},
                      RandomCase{10, 8, true, true},
                      RandomCase{11, 6, false, false},
                      RandomCase{12, 6, true, true}));

// Filters select layers in every cell; a layer outside the filter is never
// collected.
TEST(CollectPolygonsTest, FilterSelectsLayersInEveryCell) {
  std::mt19937 rng(77);
  const Model m = hier_test::RandomModel(rng, 6, false, false);
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  FlatRings brute = hier_test::Flatten(m, 0);
  const Box w = Widened(lib.cells[0]->box, 1);
  for (LayerKey key : {LayerKey(0x4000), LayerKey(0x0A80)}) {
    const LayerKeySet filter{key};
    FlatRings expected;
    if (brute.count(key)) expected[key] = brute[key];
    EXPECT_EQ(Canonical(Collect(lib, 0, w, filter)), Canonical(expected));
    EXPECT_EQ(Canonical(CollectByIterator(lib, 0, w, filter)),
              Canonical(expected));
  }
  const LayerKeySet absent{0x0707};
  EXPECT_TRUE(Collect(lib, 0, w, absent).empty());
  EXPECT_TRUE(CollectByIterator(lib, 0, w, absent).empty());
}

// Shapes and placements that only touch the window are not collected; a
// rectangle crossing it comes out as exactly its part inside.
TEST(CollectPolygonsTest, TouchingCountsForNothingAndRectanglesAreCut) {
  Model m(2);
  m[0].shapes[0x0100] = {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
  m[1].shapes[0x0100] = {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
  ModelRef r;
  r.child = 1;
  r.x = 20;
  m[0].refs.push_back(r);
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);

  const Box between(10, 0, 20, 10);
  EXPECT_TRUE(Collect(lib, 0, between).empty());
  EXPECT_TRUE(CollectByIterator(lib, 0, between).empty());

  const Box across(5, 2, 25, 8);
  FlatRings expected;
  expected[0x0100] = {{{5, 2}, {10, 2}, {10, 8}, {5, 8}},
                      {{20, 2}, {25, 2}, {25, 8}, {20, 8}}};
  EXPECT_EQ(Canonical(Collect(lib, 0, across)), Canonical(expected));
  EXPECT_EQ(Canonical(CollectByIterator(lib, 0, across)), Canonical(expected));
}

// A shared shape placed many times under a magnification of 1.5: every
// placement is placed from its own mapped origin, so no ring strays more
// than one unit from the exactly mapped one, however many placements come
// before it (rounding each placement difference would let the error grow by
// half a unit per placement here).
TEST(CollectPolygonsTest, MagnifiedPlacementsDoNotAccumulateRounding) {
  LibDB lib("/nonexistent", 0);
  const int32_t top = lib.AddCell("top");
  const int32_t leaf = lib.AddCell("leaf");
  const Ring square{{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  const Ring chevron{{0, 0}, {6, 0}, {6, 6}, {3, 3}, {0, 6}};
  PSList rings;
  for (int i = 0; i < 200; ++i) {
    cell_test::AppendRing(rings, cell_test::Moved(square, 7 * i, 0));
    cell_test::AppendRing(rings, cell_test::Moved(chevron, 7 * i, 20));
  }
  lib.cells[size_t(leaf)]->InsertPolygons(rings, 0x0100, false);
  ClearPointList(rings);
  ASSERT_EQ(lib.cells[size_t(leaf)]->rawLayers.at(0x0100).count, 2);
  SRef* ref = new SRef(Trans(1000, -50, 1.5f, 3), leaf);
  hier_test::AddRef(lib, top, ref);
  lib.cells[size_t(top)]->box = ref->GetBox(lib.cells[size_t(leaf)]->box);

  const Trans placement(1000, -50, 1.5f, 3);
  auto check = [&](const FlatRings& got) {
    ASSERT_EQ(got.size(), 1u);
    const std::vector<Ring>& out = got.begin()->second;
    ASSERT_EQ(out.size(), 400u);
    // Each output ring is matched to the exactly mapped ring of its
    // placement: same vertex count, every vertex within one unit.
    std::vector<Ring> exact;
    for (int i = 0; i < 200; ++i)
      for (int s = 0; s < 2; ++s) {
        Ring e;
        for (Point p : cell_test::Moved(s == 0 ? square : chevron, 7 * i,
                                        s == 0 ? 0 : 20)) {
          placement.Apply(p.x, p.y);
          e.push_back(p);
        }
        exact.push_back(e);
      }
    for (const Ring& r : out) {
      const Box rb = cell_test::BoxOf(r);
      bool matched = false;
      for (const Ring& e : exact) {
        if (e.size() != r.size()) continue;
        const Box eb = cell_test::BoxOf(e);
        if (std::abs(eb.x1 - rb.x1) > 1 || std::abs(eb.y1 - rb.y1) > 1) continue;
        const auto ce = Canonical(e);
        const auto cr = Canonical(r);
        bool close = true;
        for (size_t i = 0; i < ce.size() && close; ++i)
          close = std::abs(ce[i].first - cr[i].first) <= 1 &&
                  std::abs(ce[i].second - cr[i].second) <= 1;
        if (close) {
          matched = true;
          break;
        }
      }
      EXPECT_TRUE(matched) << "ring at " << rb.x1 << ", " << rb.y1;
    }
  };
  const Box w = Widened(lib.cells[size_t(top)]->box, 10);
  check(Collect(lib, top, w));
  check(CollectByIterator(lib, top, w));
}

// An empty filter also collects work layers: the recursion keeps their own
// key, the iterator files them under the drawn key they derive from.
TEST(CollectPolygonsTest, EmptyFilterCollectsWorkLayers) {
  LibDB lib("/nonexistent", 0);
  const int32_t id = lib.AddCell("top");
  PSList rings;
  cell_test::AppendRing(rings, {{0, 0}, {5, 0}, {5, 5}, {0, 5}});
  lib.cells[size_t(id)]->InsertPolygons(rings, 0x10100, false);
  ClearPointList(rings);
  const Box w(-10, -10, 10, 10);
  const FlatRings a = Collect(lib, id, w);
  const FlatRings b = CollectByIterator(lib, id, w);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a.begin()->first, 0x10100);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b.begin()->first, 0x0100);
  EXPECT_EQ(Canonical(a.begin()->second[0]), Canonical(b.begin()->second[0]));
}

// The excluded reference is not entered by CollectWindowPolygons.
TEST(CollectWindowPolygonsTest, ExcludedReferenceIsSkipped) {
  Model m(2);
  m[1].shapes[0x0100] = {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
  ModelRef a, b;
  a.child = b.child = 1;
  b.x = 100;
  m[0].refs = {a, b};
  LibDB lib("/nonexistent", 0);
  hier_test::Build(lib, m);
  LayerTree& refs = lib.cells[0]->indexedLayers.at(ReferenceKey);
  const SRef* second = nullptr;
  for (DBSearchNode* n = DBSearchSystem::First(refs); n;
       n = DBSearchSystem::Next(n))
    if (n->IsData() && static_cast<const SRef*>(n->item)->x == 100)
      second = static_cast<const SRef*>(n->item);
  ASSERT_NE(second, nullptr);
  const Box w(-5, -5, 200, 20);
  FlatRings expected;
  expected[0x0100] = {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}};
  EXPECT_EQ(Canonical(CollectByIterator(lib, 0, w, kAll, second)),
            Canonical(expected));
}

// Cells stored in a real library directory are loaded on demand by both
// collectors; collecting again from the cells loaded by the first run gives
// the same rings in the same order.
TEST(CollectPolygonsTest, LoadsStoredCellsOnDemand) {
  test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::mt19937 rng(4242);
  const Model m = hier_test::RandomModel(rng, 6, true, false);
  {
    LibDB lib(dir.path().c_str(), 0);
    hier_test::Build(lib, m);
    for (DBCell* c : lib.cells) c->flags |= DBCell::Modified;
    lib.SaveModified();
    lib.WriteInfo();
    lib.WriteNames();
  }
  const FlatRings brute = hier_test::Flatten(m, 0);
  for (int mode = 0; mode < 2; ++mode) {
    LibDB lib(dir.path().c_str(), 0);
    lib.ReadInfo();
    lib.ReadNames();
    for (DBCell* c : lib.cells) ASSERT_TRUE(c->IsEmpty());
    const Box top = lib.cells[0]->box;
    const Box w = Widened(top, 3);
    const Box part(top.x1, top.y1, top.x1 + int32_t(top.Width() / 2),
                   top.y1 + int32_t(top.Height() / 2));
    if (mode == 0) {
      LayerRings first, second;
      lib.CollectPolygons(lib.cells[0], &part, &kIdentity, &kAll, &first, 0);
      lib.CollectPolygons(lib.cells[0], &part, &kIdentity, &kAll, &second, 0);
      EXPECT_EQ(RingsOf(first), RingsOf(second));
      EXPECT_EQ(Canonical(Collect(lib, 0, w)), Canonical(brute));
    } else {
      EXPECT_EQ(Canonical(CollectByIterator(lib, 0, w)), Canonical(brute));
    }
  }
}

}  // namespace
}  // namespace velmar
