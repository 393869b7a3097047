// Hierarchy handler runs on stored libraries, checked against oracles of the
// test's own: the environment each leaf placement receives against a unit
// raster of the flattened layout, the hierarchical inverse against the
// working box minus the flattened drawn geometry, and the run's refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "foundation/error.h"
#include "hierarchy/env_variants.h"
#include "hierarchy/hierarchy_handler.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "support/hier_fixtures.h"
#include "support/hier_oracle.h"
#include "support/hier_run_fixtures.h"
#include "support/ring_builders.h"
#include "support/stdout_capture.h"
#include "support/temp_dir.h"

namespace velmar {
namespace {

using cell_test::Ring;
using hier_run_test::CellPaths;
using hier_run_test::Grown;
using hier_run_test::Open;
using hier_run_test::PlacedLayers;
using hier_run_test::Raster;
using hier_run_test::StoreModel;
using hier_test::FlatRings;
using hier_test::Model;
using hier_test::Ref;

constexpr LayerKey kL1 = MakeLayerKey(1, 0);
constexpr LayerKey kL2 = MakeLayerKey(2, 0);

Ring Rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return Ring{Point(x1, y1), Point(x2, y1), Point(x2, y2), Point(x1, y2)};
}

// A handler for the library with every rate and size off (only array
// replacement and leaf-cell creation restructure), margin m.
void Configure(HierarchyHandler& h, LibDB& lib, int32_t margin) {
  h.lib = &lib;
  h.margin = margin;
  h.explodeRate = h.sparseRate = h.overlapRate = 0;
  h.flattenSize = h.splitSize = 0;
  h.SetLayers({}, {});
}

// Runs the handler on the library stored on dir and returns what it printed.
std::string RunOn(const std::string& dir, int32_t margin, int32_t inverseMode = 0,
                  LayerKey resultKey = 0, const Box* area = nullptr) {
  auto lib = Open(dir);
  HierarchyHandler h;
  Configure(h, *lib, margin);
  h.inverseMode = inverseMode;
  h.resultKey = resultKey;
  if (area != nullptr) {
    const int32_t top = lib->roots.at(0);
    h.growBack.emplace_back(top, lib->cells[size_t(top)]->box);
    lib->cells[size_t(top)]->box = *area;
  }
  test::StdoutCapture capture;
  h.Run();
  return capture.Stop();
}

// A three-level Manhattan layout: leaves X and Y placed several times in two
// middle cells (one with a shape of its own) and in the top, in all eight
// orientations, close enough to overlap.
Model EnvModel(std::mt19937& rng) {
  std::uniform_int_distribution<int> pos(0, 40), size(4, 24), orient(0, 7),
      key(0, 1), off(-30, 30);
  auto rect = [&] {
    const int x = pos(rng), y = pos(rng);
    return Rect(x, y, x + size(rng), y + size(rng));
  };
  Model m(5);  // 0 top, 1 and 2 middle cells, 3 X, 4 Y
  for (int leaf : {3, 4})
    for (int i = 0; i < 3; ++i) m[size_t(leaf)].shapes[key(rng) ? kL2 : kL1].push_back(rect());
  m[1].shapes[kL1].push_back(rect());
  for (int mid : {1, 2}) {
    for (int i = 0; i < 3; ++i)
      m[size_t(mid)].refs.push_back(
          Ref(3 + i % 2, off(rng), off(rng), uint8_t(orient(rng))));
  }
  m[0].refs.push_back(Ref(1, 0, 0, uint8_t(orient(rng))));
  m[0].refs.push_back(Ref(1, 60 + off(rng), off(rng), uint8_t(orient(rng))));
  m[0].refs.push_back(Ref(2, off(rng), 60 + off(rng), uint8_t(orient(rng))));
  m[0].refs.push_back(Ref(3, 30 + off(rng), 30 + off(rng), uint8_t(orient(rng))));
  return m;
}

struct Path {
  int32_t cell;
  Trans t;
};

std::vector<Path> Paths(LibDB& lib, bool all) {
  std::vector<Path> out;
  CellPaths(lib, lib.roots.at(0), Trans(), all,
            [&](int32_t id, const Trans& t) { out.push_back({id, t}); });
  return out;
}

Box BoxOf(const FlatRings& f) { return hier_test::BoxOfFlat(f); }

// For every leaf placement path T of the processed library: with O the
// leaf's own geometry and Others the drawn geometry of every other path,
// the work layer of key k mapped by T lies between
// (Others_k & (O + margin)) - O_k and (Others_k & (O + 2 margin)) - O_k
// (square dilation); with margin 0 both bounds are (Others_k & O) - O_k.
void ExpectEnvironments(LibDB& lib, int32_t margin) {
  const std::vector<Path> paths = Paths(lib, false);
  std::vector<FlatRings> drawn, env;
  for (const Path& p : paths) {
    drawn.push_back(PlacedLayers(lib, p.cell, p.t, 0));
    env.push_back(PlacedLayers(lib, p.cell, p.t, 2));
  }
  int checked = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    const Box own = BoxOf(drawn[i]);
    if (!own.IsValid()) continue;
    const Box w = Grown(own, 2 * margin + 2);
    // Environment never reaches beyond the interaction window.
    const Box envBox = BoxOf(env[i]);
    if (envBox.IsValid()) {
      ASSERT_TRUE(Grown(own, 2 * margin).Contains(envBox))
          << "path " << i << " cell " << *lib.cells[size_t(paths[i].cell)]->name;
    }
    Raster O(w);
    for (const auto& [k, rings] : drawn[i]) O.Add(rings);
    const Raster lo = O.Dilated(margin), hi = O.Dilated(2 * margin);
    std::set<LayerKey> keys;
    for (size_t j = 0; j < paths.size(); ++j)
      for (const auto& [k, r] : drawn[j]) keys.insert(k);
    for (const auto& [k, r] : env[i]) keys.insert(k);
    for (LayerKey k : keys) {
      Raster others(w), ownK(w), got(w);
      for (size_t j = 0; j < paths.size(); ++j)
        if (j != i && drawn[j].count(k)) others.Add(drawn[j].at(k));
      if (drawn[i].count(k)) ownK.Add(drawn[i].at(k));
      if (env[i].count(k)) got.Add(env[i].at(k));
      for (int32_t x = w.x1; x < w.x2; ++x)
        for (int32_t y = w.y1; y < w.y2; ++y) {
          const bool base = others.In(x, y) && !ownK.In(x, y);
          const bool must = base && lo.In(x, y);
          const bool may = base && hi.In(x, y);
          const bool has = got.In(x, y);
          ASSERT_TRUE(!must || has) << "missing environment at " << x << "," << y
                                    << " layer " << k << " path " << i << " cell "
                                    << *lib.cells[size_t(paths[i].cell)]->name;
          ASSERT_TRUE(!has || may) << "stray environment at " << x << "," << y
                                   << " layer " << k << " path " << i << " cell "
                                   << *lib.cells[size_t(paths[i].cell)]->name;
        }
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

// The drawn layers of the whole layout, flattened by the test (model before,
// library after), agree pixel by pixel.
void ExpectSameDrawing(const Model& m, LibDB& lib) {
  const FlatRings before = hier_test::Flatten(m, 0);
  FlatRings after;
  for (const Path& p : Paths(lib, false))
    for (auto& [k, rings] : PlacedLayers(lib, p.cell, p.t, 0))
      after[k].insert(after[k].end(), rings.begin(), rings.end());
  Box w = BoxOf(before);
  w.Merge(BoxOf(after));
  for (LayerKey k : {kL1, kL2}) {
    Raster a(w), b(w);
    if (before.count(k)) a.Add(before.at(k));
    if (after.count(k)) b.Add(after.at(k));
    for (int32_t x = w.x1; x < w.x2; ++x)
      for (int32_t y = w.y1; y < w.y2; ++y)
        ASSERT_EQ(a.In(x, y), b.In(x, y)) << "layer " << k << " at " << x << "," << y;
  }
}

// No two cells of one base (name without its _vlN groups) that hold
// references hold equal ones.
void ExpectNoEqualVariants(LibDB& lib) {
  std::map<std::string, std::vector<std::vector<std::unique_ptr<SRef>>>> byBase;
  for (DBCell* c : lib.cells) {
    if (c == nullptr) continue;
    LoadCellOnDemand(lib, c, true);
    const LayerTree* tree = c->ReferenceTree();
    if (tree == nullptr || tree->IsEmpty()) continue;
    std::string base = *c->name;
    const size_t at = base.find("_vl");
    if (at != std::string::npos && base.compare(at, 4, "_vlh") != 0) base.resize(at);
    std::vector<std::unique_ptr<SRef>> refs;
    for (DBSearchNode* n = DBSearchSystem::First(*tree); n; n = DBSearchSystem::Next(n))
      if (n->IsData() && n->item) refs.push_back(std::make_unique<SRef>(*n->Item<SRef>()));
    SortRefs(refs);
    for (const auto& other : byBase[base]) {
      bool equal = other.size() == refs.size();
      for (size_t i = 0; equal && i < refs.size(); ++i)
        equal = SRef::Compare(other[i].get(), refs[i].get()) == 0;
      EXPECT_FALSE(equal) << "equal variants of " << base;
    }
    byBase[base].push_back(std::move(refs));
  }
}

TEST(HierarchyHandlerTest, LeafEnvironmentsMatchTheRasterisedLayout) {
  for (uint32_t seed = 1; seed <= 12; ++seed)
    for (int32_t margin : {0, 3}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " margin " + std::to_string(margin));
      std::mt19937 rng(seed);
      const Model m = EnvModel(rng);
      test::TempDir dir;
      StoreModel(dir.path(), m);
      RunOn(dir.path(), margin);
      auto lib = Open(dir.path());  // read back from disk
      ExpectSameDrawing(m, *lib);
      ExpectEnvironments(*lib, margin);
      ExpectNoEqualVariants(*lib);
      // No environment reference layer reaches the disk.
      for (DBCell* c : lib->cells)
        if (c != nullptr) {
          EXPECT_EQ(c->indexedLayers.count(EnvReferenceKey), 0u);
        }
    }
}

// The hierarchical inverse, both modes: the result layer flattened over
// every cell equals the working area minus the flattened drawn layers, the
// area being larger than the top cell; no work layer stays behind, and the
// top's stored box covers its contents again.
TEST(HierarchyHandlerTest, InverseFillsTheAreaLeftFreeByTheDrawing) {
  constexpr LayerKey kResult = MakeLayerKey(20, 0);
  for (uint32_t seed = 1; seed <= 8; ++seed)
    for (int32_t mode : {1, 2}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " mode " + std::to_string(mode));
      std::mt19937 rng(seed);
      const Model m = EnvModel(rng);
      const FlatRings flat = hier_test::Flatten(m, 0);
      const Box top = BoxOf(flat);
      const Box area = Grown(top, 7);
      test::TempDir dir;
      StoreModel(dir.path(), m);
      RunOn(dir.path(), 0, mode, kResult, &area);
      auto lib = Open(dir.path());
      EXPECT_TRUE(lib->cells[size_t(lib->roots.at(0))]->box.Contains(top));
      std::vector<Ring> result;
      for (const Path& p : Paths(*lib, true)) {
        FlatRings layers = PlacedLayers(*lib, p.cell, p.t, 0);
        if (layers.count(kResult))
          result.insert(result.end(), layers[kResult].begin(), layers[kResult].end());
        EXPECT_TRUE(PlacedLayers(*lib, p.cell, p.t, 2).empty());
      }
      const Box w = Grown(area, 2);
      Raster drawn(w), got(w);
      for (const auto& [k, rings] : flat) drawn.Add(rings);
      got.Add(result);
      for (int32_t x = w.x1; x < w.x2; ++x)
        for (int32_t y = w.y1; y < w.y2; ++y) {
          const bool inArea = x >= area.x1 && x < area.x2 && y >= area.y1 && y < area.y2;
          ASSERT_EQ(got.In(x, y), inArea && !drawn.In(x, y)) << "at " << x << "," << y;
        }
    }
}

// Every file of a directory with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    out[e.path().filename().string()] = bytes.str();
  }
  return out;
}

// A whole run over the random hierarchy of the shape and seed, every pass
// on, read back from disk: the flattened drawn layers are those of the
// model, and the hierarchy is sound with one root.
void ExpectWholeRunKeepsTheDrawing(const hier_test::HierarchyShape& shape,
                                   uint32_t seed) {
  const std::string what = "seed " + std::to_string(seed);
  std::mt19937 rng(seed);
  const Model m = hier_test::RandomHierarchy(rng, shape);
  test::TempDir dir;
  StoreModel(dir.path(), m);
  const FlatRings before = hier_test::Flatten(m, 0);
  {
    auto lib = Open(dir.path());
    HierarchyHandler h;
    Configure(h, *lib, 5);
    h.explodeRate = 40;
    h.sparseRate = 30;
    h.overlapRate = 20;
    h.flattenSize = 60;
    h.splitSize = 300;
    lib->explodeCells = {2, 4};
    test::StdoutCapture quiet;
    h.Run();
  }
  auto lib = Open(dir.path());
  test::StdoutCapture quiet;
  lib->LoadAll(false, false);
  quiet.Stop();
  lib->BuildParents();
  ASSERT_EQ(lib->roots.size(), 1u) << what;
  hier_test::CheckStructure(*lib,
                            {.oneRoot = true, .noArrays = true,
                             .leavesSeparate = true, .parentTables = true},
                            what);
  hier_test::ExpectSameCoverage(before, hier_test::FlattenLibrary(*lib, lib->roots[0]),
                                what);
}

// Whole runs on seeded random hierarchies (3-4 levels, shared children, all
// orientations, magnification 2, arrays with zero or negative pitch, tiny
// and wide cells; axis-parallel shapes, which keep the rasterised
// comparison exact and the run short).
TEST(HierarchyHandlerTest, WholeRunsKeepTheDrawingThroughAReopen) {
  for (uint32_t seed = 41; seed <= 44; ++seed) {
    hier_test::HierarchyShape shape;
    shape.levels = 3 + int(seed % 2);
    shape.cellsPerLevel = 2;
    shape.largeSide = 400;
    shape.manhattan = true;
    ExpectWholeRunKeepsTheDrawing(shape, seed);
  }
}

// Whole runs whose leaves hold triangles of any slope, placed in stacks:
// arrays of zero pitch and repeated placements nested level over level, so
// that the environments hold many exact copies of each edge.
TEST(HierarchyHandlerTest, WholeRunsOfStackedAnyAngleShapes) {
  for (uint32_t seed = 51; seed <= 54; ++seed) {
    hier_test::HierarchyShape shape;
    shape.levels = 3;
    shape.cellsPerLevel = 2;
    shape.largeSide = 400;
    shape.triangles = true;
    shape.stacked = true;
    ExpectWholeRunKeepsTheDrawing(shape, seed);
  }
}

// A leaf placed three times with the same surroundings and once with
// different ones: one record for the three, one generated cell c1_vl2 for
// the fourth, which its placement names once the parent is processed.
TEST(HierarchyHandlerTest, DifferentSurroundingsGetOneGeneratedVariant) {
  Model m(3);
  m[1].shapes[kL1] = {Rect(0, 0, 10, 10)};
  m[2].shapes[kL2] = {Rect(0, 0, 4, 4)};
  // Three placements of c1 each with c2 inside it, one with c2 over its
  // top right corner (and c2 alike the other way round).
  for (int i = 0; i < 3; ++i) {
    m[0].refs.push_back(Ref(1, 100 * i, 0));
    m[0].refs.push_back(Ref(2, 100 * i + 2, 3));
  }
  m[0].refs.push_back(Ref(1, 500, 0));
  m[0].refs.push_back(Ref(2, 508, 8));
  test::TempDir dir;
  StoreModel(dir.path(), m);
  const std::string out = RunOn(dir.path(), 0);
  auto lib = Open(dir.path());
  const int32_t v = lib->FindCellId("c1_vl2");
  ASSERT_GE(v, 0) << out;
  EXPECT_EQ(lib->FindCellId("c1_vl3"), -1);
  EXPECT_GE(lib->FindCellId("c2_vl2"), 0);
  EXPECT_EQ(lib->FindCellId("c2_vl3"), -1);
  std::map<int32_t, std::vector<Point>> placed;
  for (const Path& p : Paths(*lib, false)) placed[p.cell].push_back(Point(p.t.x, p.t.y));
  const int32_t c1 = lib->FindCellId("c1");
  ASSERT_EQ(placed[c1].size(), 3u);
  ASSERT_EQ(placed[v].size(), 1u);
  EXPECT_EQ(placed[v][0], Point(500, 0));
  EXPECT_NE(out.find("Total 5 cells (2 generated)"), std::string::npos) << out;
  // The environments themselves: c2's square inside c1, and its corner.
  const FlatRings base = PlacedLayers(*lib, c1, Trans(), 2);
  const FlatRings corner = PlacedLayers(*lib, v, Trans(), 2);
  ASSERT_EQ(base.count(kL2), 1u);
  ASSERT_EQ(corner.count(kL2), 1u);
  EXPECT_EQ(hier_test::BoxOfFlat(base), Box(2, 3, 6, 7));
  EXPECT_EQ(hier_test::BoxOfFlat(corner), Box(8, 8, 10, 10));
}

// Placements stacked at one spot share their surroundings: a stack of
// three c1 over c2's corner and a stack of two with c2 inside take one
// generated variant and the base cell, each stack whole.
TEST(HierarchyHandlerTest, StackedPlacementsTakeOneCellPerStack) {
  Model m(3);
  m[1].shapes[kL1] = {Rect(0, 0, 10, 10)};
  m[2].shapes[kL2] = {Rect(0, 0, 4, 4)};
  for (int i = 0; i < 2; ++i) m[0].refs.push_back(Ref(1, 0, 0));
  m[0].refs.push_back(Ref(2, 2, 3));
  for (int i = 0; i < 3; ++i) m[0].refs.push_back(Ref(1, 500, 0));
  m[0].refs.push_back(Ref(2, 508, 8));
  test::TempDir dir;
  StoreModel(dir.path(), m);
  const std::string out = RunOn(dir.path(), 0);
  auto lib = Open(dir.path());
  const int32_t c1 = lib->FindCellId("c1");
  const int32_t v = lib->FindCellId("c1_vl2");
  ASSERT_GE(v, 0) << out;
  EXPECT_EQ(lib->FindCellId("c1_vl3"), -1);
  std::map<int32_t, std::vector<Point>> placed;
  for (const Path& p : Paths(*lib, false)) placed[p.cell].push_back(Point(p.t.x, p.t.y));
  EXPECT_EQ(placed[c1], std::vector<Point>(2, Point(0, 0)));
  EXPECT_EQ(placed[v], std::vector<Point>(3, Point(500, 0)));
  const FlatRings corner = PlacedLayers(*lib, v, Trans(), 2);
  ASSERT_EQ(corner.count(kL2), 1u);
  EXPECT_EQ(hier_test::BoxOfFlat(corner), Box(8, 8, 10, 10));
}

// The bring-in decision: a leaf always takes its neighbours in (hierarchy
// handling) or takes in the larger one, the lower id on a tie (inverse); a
// cell that holds references takes in a neighbour 5 times its area or
// more, a generated leaf or tile cell, or one whose placed box covers it.
TEST(HierarchyHandlerTest, BringInDecision) {
  test::TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  auto cell = [&](const char* name, Box box, bool leaf) {
    const int32_t id = lib.AddCell(name);
    lib.cells[size_t(id)]->box = box;
    if (leaf) lib.cells[size_t(id)]->flags |= DBCell::Leaf;
    return id;
  };
  const int32_t K = cell("K", Box(0, 0, 10, 10), false);         // area 100
  const int32_t F5 = cell("F5", Box(0, 0, 50, 10), false);       // 500
  const int32_t F499 = cell("F499", Box(0, 0, 499, 1), false);   // 499
  const int32_t gen = cell("BLOCK_vlh3_vl2", Box(0, 0, 2, 2), true);
  const int32_t var = cell("BLOCK_vl2", Box(0, 0, 2, 2), true);
  const int32_t digits = cell("X123", Box(0, 0, 2, 2), true);
  const int32_t L = cell("L", Box(0, 0, 10, 10), true);
  const int32_t Lsame = cell("Lsame", Box(0, 0, 20, 5), true);
  const int32_t Lsmall = cell("Lsmall", Box(0, 0, 5, 5), true);
  const SRef far(Trans(1000, 1000), 0);
  const SRef over(Trans(-5, 4), 0);  // F499's placed box crosses K's
  const Box w(0, 0, 10, 10);  // K's placed layer-set-1 box, margin 0
  struct Case {
    const char* what;
    int32_t inverse, child, neighbour;
    const SRef* place;
    bool expected;
  } cases[] = {
      {"area exactly 5 times", 0, K, F5, &far, true},
      {"area 4.99 times, apart", 0, K, F499, &far, false},
      {"area 4.99 times, crossing", 0, K, F499, &over, false},
      {"generated leaf variant by name", 0, K, gen, &far, true},
      {"plain variant by name", 0, K, var, &far, false},
      {"digits only", 0, K, digits, &far, false},
      {"inverse mode 2: never", 2, K, F5, &far, false},
      {"inverse mode 1: by area", 1, K, F5, &far, true},
      {"leaf, hierarchy handling", 0, L, Lsmall, &far, true},
      {"leaf, inverse, larger neighbour", 1, Lsmall, L, &far, true},
      {"leaf, inverse, smaller neighbour", 1, L, Lsmall, &far, false},
      {"leaf, inverse, equal area, higher id", 1, L, Lsame, &far, true},
      {"leaf, inverse, equal area, lower id", 1, Lsame, L, &far, false},
  };
  for (const Case& c : cases) {
    HierarchyHandler h;
    Configure(h, lib, 0);
    h.inverseMode = c.inverse;
    const SRef child(Trans(), c.child);
    EXPECT_EQ(h.ShouldBringIn(c.child, child, c.neighbour, *c.place, w), c.expected)
        << c.what;
  }
  // Containment: a neighbour whose placed box covers the child's placed
  // layer-set-1 box (the window narrowed by the margin).
  HierarchyHandler h;
  Configure(h, lib, 2);
  const int32_t C = cell("C", Box(0, 0, 14, 14), false);  // 196 < 500
  const Box wm(-2, -2, 12, 12);                             // box 0..10 widened by 2
  EXPECT_TRUE(h.ShouldBringIn(K, SRef(Trans(), K), C, SRef(Trans(-2, -2), C), wm));
  EXPECT_FALSE(h.ShouldBringIn(K, SRef(Trans(), K), C, SRef(Trans(-1, -5), C), wm));
}

// A library with two top cells stops at the single-root error after its
// report, writing nothing; a library that places a cell inside itself stops
// before any pass runs, writing nothing either.
TEST(HierarchyHandlerTest, RefusalsWriteNothing) {
  {
    Model two(4);
    two[0].refs = {Ref(2, 0, 0)};
    two[1].refs = {Ref(3, 0, 0)};
    two[2].shapes[kL1] = {Rect(0, 0, 10, 10)};
    two[3].shapes[kL1] = {Rect(0, 0, 20, 20)};
    test::TempDir dir;
    StoreModel(dir.path(), two);
    const auto before = Snapshot(dir.path());
    auto lib = Open(dir.path());
    HierarchyHandler h;
    Configure(h, *lib, 0);
    test::StdoutCapture capture;
    try {
      h.Run();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.Message(), "There must be single root to process");
      EXPECT_STREQ(e.Unit(), "Hierarhy Handler");
    }
    const std::string out = capture.Stop();
    EXPECT_NE(out.find("  Root c0: (0 0) - (10 10) nm\n  Root c1: (0 0) - (20 20) nm\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(Snapshot(dir.path()), before);
  }
  {
    Model m(3);
    m[0].refs = {Ref(1, 0, 0)};
    m[1].shapes[kL1] = {Rect(0, 0, 10, 10)};
    m[1].refs = {Ref(2, 5, 5)};
    m[2].shapes[kL1] = {Rect(0, 0, 10, 10)};
    m[2].refs = {Ref(1, 3, 3)};
    test::TempDir dir;
    StoreModel(dir.path(), m);
    const auto before = Snapshot(dir.path());
    auto lib = Open(dir.path());
    HierarchyHandler h;
    Configure(h, *lib, 0);
    test::StdoutCapture capture;
    EXPECT_THROW(h.Run(), Error);
    const std::string out = capture.Stop();
    EXPECT_EQ(out.find("Creating leaf cells"), std::string::npos) << out;
    EXPECT_EQ(Snapshot(dir.path()), before);
  }
}

}  // namespace
}  // namespace velmar
