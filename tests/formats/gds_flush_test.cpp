// Large-cell flushing of the GDSII reader, with the vertex threshold
// lowered: generated cell names, single-cell and tiled flushes, the final
// flush of a structure, and names that collide with structures of the file.
// Stored geometry is read back and compared with the input by area and
// vertex sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/gds_read_helpers.h"
#include "formats/gds_reader.h"
#include "support/gds_builder.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {
namespace {

using test::BoxRing;
using test::GdsBuilder;
using test::GdsReadOptions;
using test::GdsReadResult;
using test::Placement;
using test::Ring;
using test::ScratchLibrary;
using test::StoredLibrary;

constexpr int32_t kLayer1 = 256;  // layer 1, datatype 0

// The rings of cell name and of every cell generated under it (placed by
// identity references; other references are left out).
std::vector<Ring> FlattenedRings(StoredLibrary& lib, const std::string& name,
                                 int32_t key = kLayer1) {
  std::vector<Ring> out;
  auto own = lib.Shapes(name);
  out.insert(out.end(), own[key].begin(), own[key].end());
  for (const Placement& p : lib.Placements(name)) {
    if (p.child.find("vlh") == std::string::npos) continue;
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.orientation, 0);
    auto child = lib.Shapes(p.child);
    out.insert(out.end(), child[key].begin(), child[key].end());
  }
  std::sort(out.begin(), out.end(), [](const Ring& a, const Ring& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](const Point& u, const Point& v) {
                                          return u.x != v.x ? u.x < v.x : u.y < v.y;
                                        });
  });
  return out;
}

Box BoundingBox(const Ring& ring) {
  Box box(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN);
  for (const Point& p : ring)
    box = Box(std::min(box.x1, p.x), std::min(box.y1, p.y),
              std::max(box.x2, p.x), std::max(box.y2, p.y));
  return box;
}

int64_t TotalTwiceArea(const std::vector<Ring>& rings) {
  int64_t sum = 0;
  for (const Ring& r : rings) sum += test::TwiceArea(r);
  return sum;
}

TEST(GdsFlush, DefaultThresholdIsFiftyMillionVertices) {
  test::TempDir dir;
  GdsBuilder b;
  b.BeginLib().EndLib();
  b.WriteFile(dir.File("x.gds"));
  GdsReader reader(dir.File("x.gds"), false);
  EXPECT_EQ(reader.flushThreshold, 50000000);
  EXPECT_EQ(reader.flushTileSize, 200000);
  GdsReader low(dir.File("x.gds"), false, 0);
  EXPECT_EQ(low.flushThreshold, 1);
}

TEST(GdsFlush, SingleCellFlushesAndTheFinalFlush) {
  struct Case {
    int rects;
    std::vector<std::string> generated;
  } cases[] = {
      {24, {}},                        // 96 vertices: never flushed
      {25, {"A_vlh1"}},                // 100: flushed once, nothing after
      {30, {"A_vlh1", "A_vlh2"}},      // flushed at 100 and at the end
      {55, {"A_vlh1", "A_vlh2", "A_vlh3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rects);
    GdsBuilder b;
    b.BeginLib().BeginStr("C").Rect(2, 0, 0, 0, 5, 5).EndStr().BeginStr("A");
    std::vector<Ring> expected;
    for (int i = 0; i < c.rects; ++i) {
      b.Rect(1, 0, 20 * i, 0, 20 * i + 10, 10 + i);
      expected.push_back(BoxRing(20 * i, 0, 20 * i + 10, 10 + i));
    }
    b.SRef("C", {7, 7}).EndStr().EndLib();
    GdsReadOptions o;
    o.flushThreshold = 100;
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(b.Bytes(), o);
    ASSERT_TRUE(r.ok) << r.error;
    StoredLibrary stored(lib.Dir(), false);
    std::vector<std::string> names = stored.CellNames();
    std::vector<std::string> generated;
    for (const std::string& n : names) {
      if (n.rfind("A_vlh", 0) == 0) generated.push_back(n);
    }
    EXPECT_EQ(generated, c.generated);
    if (c.generated.empty()) {
      EXPECT_EQ(r.output.find("Created"), std::string::npos);
    } else {
      EXPECT_NE(r.output.find("Created " + std::to_string(c.generated.size()) +
                              " cells under A\n"),
                std::string::npos)
          << r.output;
      // The flushed cell holds references only.
      EXPECT_TRUE(stored.Shapes("A").empty());
    }
    for (const std::string& g : generated) {
      const DBCell* cell = stored.Lib().FindCell(g);
      EXPECT_TRUE(cell->flags & DBCell::Leaf);
      EXPECT_TRUE(cell->box.IsValid());
      EXPECT_TRUE(stored.Placements(g).empty());
    }
    EXPECT_EQ(FlattenedRings(stored, "A"), expected);
    // The reference read from the file is kept beside the generated ones.
    auto placements = stored.Placements("A");
    EXPECT_EQ(std::count_if(placements.begin(), placements.end(),
                            [](const Placement& p) { return p.child == "C"; }),
              1);
    EXPECT_EQ(stored.Lib().FindCell("A")->box, Box(0, 0, 20 * (c.rects - 1) + 10, 10 + c.rects - 1));
  }
}

TEST(GdsFlush, PathsCountTowardsTheThreshold) {
  GdsBuilder b;
  b.BeginLib().BeginStr("P");
  for (int i = 0; i < 13; ++i) b.Path(1, 0, {{0, 10 * i}, {100, 10 * i}}, 4);
  b.EndStr().EndLib();
  GdsReadOptions o;
  o.flushThreshold = 48;  // 12 outlines of 4 vertices
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes(), o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_NE(r.output.find("Created 2 cells under P\n"), std::string::npos);
  StoredLibrary stored(lib.Dir(), false);
  EXPECT_EQ(FlattenedRings(stored, "P").size(), 13u);
}

// Rectangles spread over a wide box are tiled on the 100 nm grid; the
// geometry of every tile cell lies inside its tile, rectangles crossing a
// tile edge are cut there, and the total area is kept.
TEST(GdsFlush, TiledFlushKeepsTheGeometry) {
  struct Case {
    const char* what;
    int32_t width;              // box width (the box starts at x = 0)
    bool crossing;              // a rectangle across the first tile edge
    int32_t step;               // expected tile step
    std::vector<int> tiles;     // tiles expected to make cells
  } cases[] = {
      {"450000 wide, empty middle tile", 450000, false, 150000, {0, 2}},
      {"450000 wide, crossing rectangle", 450000, true, 150000, {0, 1, 2}},
      {"400010 wide, step rounded up to the grid", 400010, true, 133400, {0, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GdsBuilder b;
    b.BeginLib().BeginStr("BIG_");
    std::vector<Ring> input;
    auto rect = [&](int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
      b.Rect(1, 0, x1, y1, x2, y2);
      input.push_back(BoxRing(x1, y1, x2, y2));
    };
    for (int i = 0; i < 12; ++i) rect(1000 * i, 0, 1000 * i + 500, 500);           // tile 0
    for (int i = 0; i < 12; ++i) rect(c.width - 1000 * i - 500, 99500, c.width - 1000 * i, 100000);
    if (c.crossing) rect(c.step - 300, 50000, c.step + 700, 51000);
    rect(0, 0, 10, 100000);  // pins the box's left and full height
    b.EndStr().EndLib();
    GdsReadOptions o;
    o.flushThreshold = 4 * int64_t(input.size());  // flush after the last
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(b.Bytes(), o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(r.output.find("Created " + std::to_string(c.tiles.size()) + " cells under BIG_\n"),
              std::string::npos)
        << r.output;
    StoredLibrary stored(lib.Dir(), false);
    auto placements = stored.Placements("BIG_");
    ASSERT_EQ(placements.size(), c.tiles.size());
    for (size_t k = 0; k < placements.size(); ++k) {
      // A name ending in "_" gets no second "_".
      EXPECT_EQ(placements[k].child, "BIG_vlh" + std::to_string(k + 1));
      const int tile = c.tiles[k];
      const Box box = stored.Lib().FindCell(placements[k].child)->box;
      EXPECT_GE(box.x1, tile * c.step);
      EXPECT_LE(box.x2, (tile + 1) * c.step);
    }
    std::vector<Ring> stored_rings = FlattenedRings(stored, "BIG_");
    EXPECT_EQ(TotalTwiceArea(stored_rings), TotalTwiceArea(input));
    EXPECT_EQ(stored_rings.size(), input.size() + (c.crossing ? 1 : 0));
    EXPECT_EQ(stored.Lib().FindCell("BIG_")->box, Box(0, 0, c.width, 100000));
  }
}

// A coarse database unit (1 micrometre): the 100-nanometre tile grid is
// below one unit and becomes one unit; the 200,000-nanometre tile is 200
// units.
TEST(GdsFlush, CoarseUnitsTileOnAGridOfOneUnit) {
  GdsBuilder b;
  b.BeginLib("COARSE", 1.0, 1e-6).BeginStr("BIG");
  std::vector<Ring> input;
  auto rect = [&](int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    b.Rect(1, 0, x1, y1, x2, y2);
    input.push_back(BoxRing(x1, y1, x2, y2));
  };
  for (int i = 0; i < 4; ++i) rect(0, 20 * i, 10, 20 * i + 10);      // tile 0
  for (int i = 0; i < 4; ++i) rect(440, 20 * i, 450, 20 * i + 10);  // tile 2
  rect(149, 90, 151, 100);  // across the edge of tiles 0 and 1 (step 150)
  b.EndStr().EndLib();
  GdsReadOptions o;
  o.flushThreshold = 4 * int64_t(input.size());
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes(), o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_NE(r.output.find("Created 3 cells under BIG\n"), std::string::npos) << r.output;
  StoredLibrary stored(lib.Dir(), false);
  const auto placements = stored.Placements("BIG");
  ASSERT_EQ(placements.size(), 3u);
  const int tiles[] = {0, 1, 2};
  for (size_t k = 0; k < placements.size(); ++k) {
    const Box box = stored.Lib().FindCell(placements[k].child)->box;
    EXPECT_GE(box.x1, tiles[k] * 150);
    EXPECT_LE(box.x2, (tiles[k] + 1) * 150);
  }
  const std::vector<Ring> rings = FlattenedRings(stored, "BIG");
  EXPECT_EQ(TotalTwiceArea(rings), TotalTwiceArea(input));
  EXPECT_EQ(rings.size(), input.size() + 1);
}

// A box far larger than its geometry, and a database unit so coarse that
// the tile is one unit: the flush makes at most kMaxFlushTiles tiles (the
// tiles grow) instead of one per tile edge over the whole box, and every
// shape still lands exactly once: the pieces of each input rectangle lie
// inside it and add up to its area.
TEST(GdsFlush, SparseBoxesAndCoarseUnitsMakeABoundedNumberOfTiles) {
  struct Case {
    const char* what;
    double metersPerUnit;
    int32_t extent;  // the box is (0, 0)-(extent, extent)
    bool huge;       // one rectangle on layer 2 covers the whole box
  } cases[] = {
      {"(0,0)-(2e9,2e9) covered by one shape, 1 nm units", 1e-9, 2000000000, true},
      {"sparse shapes, 1 mm units: a tile of one unit", 1e-3, 1000000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GdsBuilder b;
    b.BeginLib("SPARSE", 1.0, c.metersPerUnit).BeginStr("BIG");
    // Small rectangles on layer 1, one in each cell of a 20 x 20 grid at a
    // seeded random offset and size (so they are disjoint), and two that
    // pin the corners of the box.
    std::vector<Box> small;
    uint64_t seed = 12345;
    auto next = [&seed](int64_t n) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      return int64_t((seed >> 33) % uint64_t(n));
    };
    const int64_t cellSize = c.extent / 20;
    for (int i = 0; i < 20; ++i) {
      for (int j = 0; j < 20; ++j) {
        if (next(3) == 0) continue;
        const int64_t w = 1 + next(cellSize / 4), h = 1 + next(cellSize / 4);
        const int64_t x = i * cellSize + 1 + next(cellSize - w - 2);
        const int64_t y = j * cellSize + 1 + next(cellSize - h - 2);
        small.push_back(Box(int32_t(x), int32_t(y), int32_t(x + w), int32_t(y + h)));
      }
    }
    small.push_back(Box(0, 0, 1, 1));
    small.push_back(Box(c.extent - 1, c.extent - 1, c.extent, c.extent));
    for (const Box& r : small) b.Rect(1, 0, r.x1, r.y1, r.x2, r.y2);
    if (c.huge) b.Rect(2, 0, 0, 0, c.extent, c.extent);
    b.EndStr().EndLib();

    GdsReadOptions o;
    o.flushThreshold = 4 * int64_t(small.size() + (c.huge ? 1 : 0));
    ScratchLibrary lib;
    GdsReadResult r = lib.Read(b.Bytes(), o);
    ASSERT_TRUE(r.ok) << r.error;
    StoredLibrary stored(lib.Dir(), false);
    const auto placements = stored.Placements("BIG");
    ASSERT_FALSE(placements.empty());
    EXPECT_LE(int64_t(placements.size()), GdsReader::kMaxFlushTiles);

    // Every piece of a small rectangle lies inside one input rectangle;
    // the pieces of each add up to its area.
    std::vector<int64_t> covered(small.size(), 0);
    for (const Ring& piece : FlattenedRings(stored, "BIG", 256)) {
      const Box box = BoundingBox(piece);
      size_t k = 0;
      while (k < small.size() && !small[k].Contains(box)) ++k;
      ASSERT_LT(k, small.size()) << "a piece at (" << box.x1 << " " << box.y1
                                 << ") belongs to no input rectangle";
      covered[k] += test::TwiceArea(piece) / 2;
    }
    for (size_t k = 0; k < small.size(); ++k)
      EXPECT_EQ(covered[k], small[k].Width() * small[k].Height()) << "rectangle " << k;

    if (!c.huge) continue;
    // The huge rectangle is cut into rectangular pieces, one per tile
    // (distinct corners), inside the box, adding up to its area.
    int64_t area = 0;
    std::set<std::pair<int32_t, int32_t>> corners;
    const std::vector<Ring> pieces = FlattenedRings(stored, "BIG", 512);
    for (const Ring& piece : pieces) {
      ASSERT_EQ(piece.size(), 4u);
      const Box box = BoundingBox(piece);
      EXPECT_TRUE(Box(0, 0, c.extent, c.extent).Contains(box));
      area += box.Width() * box.Height();
      corners.insert({box.x1, box.y1});
    }
    EXPECT_EQ(corners.size(), pieces.size());
    EXPECT_EQ(area, int64_t(c.extent) * c.extent);
  }
}

TEST(GdsFlush, GeneratedNamesNeverTakeAStructureOfTheFile) {
  GdsBuilder b;
  b.BeginLib();
  // A structure of the file already holds the first generated name.
  b.BeginStr("A_vlh1").Rect(3, 0, 0, 0, 7, 7).EndStr();
  b.BeginStr("A");
  for (int i = 0; i < 6; ++i) b.Rect(1, 0, 20 * i, 0, 20 * i + 10, 10);
  b.EndStr();
  // Later structures name cells the reader has generated meanwhile: the
  // generated cell moves to a free name, the file's structure is its own.
  b.BeginStr("A_vlh2").Rect(9, 0, 0, 0, 3, 3).EndStr();
  b.BeginStr("TOP").SRef("A_vlh3", {50, 50}).SRef("A", {0, 0}).EndStr();
  b.BeginStr("A_vlh3").Rect(8, 0, 0, 0, 4, 4).EndStr();
  b.EndLib();
  GdsReadOptions o;
  o.flushThreshold = 12;
  ScratchLibrary lib;
  GdsReadResult r = lib.Read(b.Bytes(), o);
  ASSERT_TRUE(r.ok) << r.error;
  StoredLibrary stored(lib.Dir(), false);
  // The file's cells keep their own contents.
  EXPECT_EQ(stored.Shapes("A_vlh1")[3 * 256], std::vector<Ring>{BoxRing(0, 0, 7, 7)});
  EXPECT_EQ(stored.Shapes("A_vlh2")[9 * 256], std::vector<Ring>{BoxRing(0, 0, 3, 3)});
  EXPECT_EQ(stored.Shapes("A_vlh3")[8 * 256], std::vector<Ring>{BoxRing(0, 0, 4, 4)});
  EXPECT_EQ(stored.Placements("TOP"),
            (std::vector<Placement>{{"A", 0, 0, 1.0f, 0}, {"A_vlh3", 50, 50, 1.0f, 0}}));
  // A's geometry went into two generated cells, under free names.
  std::vector<Ring> expected;
  for (int i = 0; i < 6; ++i) expected.push_back(BoxRing(20 * i, 0, 20 * i + 10, 10));
  EXPECT_EQ(FlattenedRings(stored, "A"), expected);
  for (const Placement& p : stored.Placements("A")) {
    EXPECT_NE(p.child, "A_vlh1");
    EXPECT_NE(p.child, "A_vlh2");
    EXPECT_NE(p.child, "A_vlh3");
    EXPECT_TRUE(stored.Lib().FindCell(p.child)->flags & DBCell::Leaf);
  }
  // No two cells share a name.
  std::vector<std::string> names = stored.CellNames();
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
  EXPECT_EQ(names.size(), 7u);
}

}  // namespace
}  // namespace velmar
