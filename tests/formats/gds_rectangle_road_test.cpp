// GDSII reader: boundaries that are plain squares and rectangles are kept in
// an array while their structure is read instead of as shapes. The cell
// data they give must be byte for byte what the general road gives, which
// these tests reach by writing every rectangle once more with a repeated
// corner (the reader then builds the ring, simplifies and encodes it). The
// stored rectangles are also checked against the rectangles written.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "formats/gds_read_helpers.h"
#include "support/gds_builder.h"

namespace velmar {
namespace {

using test::BoxRing;
using test::GdsBuilder;
using test::GdsReadOptions;
using test::GdsReadResult;
using test::Ring;
using test::ScratchLibrary;
using test::StoredLibrary;

constexpr int32_t Key(int layer, int datatype) { return layer * 256 + datatype; }

struct Rect {
  int16_t layer, datatype;
  int32_t x1, y1, x2, y2;
};

// Seeded rectangles over three layers: squares and rectangles, shapes
// repeated at several places, exact duplicates, negative coordinates and
// placements far apart. With hugeSides the far placements get sides of up
// to 10^9 units.
std::vector<Rect> RandomRects(uint32_t seed, int count, bool hugeSides = false) {
  std::mt19937 rng(seed);
  const std::array<std::array<int16_t, 2>, 3> layers{{{1, 0}, {2, 0}, {3, 5}}};
  std::uniform_int_distribution<int32_t> pos(-2000000000, 2000000000);
  std::uniform_int_distribution<int32_t> near(-3000, 3000);
  std::uniform_int_distribution<int32_t> side(1, 40);
  std::uniform_int_distribution<int> pick(0, 9);
  std::vector<Rect> out;
  for (int i = 0; i < count; ++i) {
    const auto& l = layers[size_t(pick(rng)) % layers.size()];
    const int kind = pick(rng);
    if (kind == 0 && !out.empty()) {  // an exact duplicate
      out.push_back(out[std::uniform_int_distribution<size_t>(0, out.size() - 1)(rng)]);
      continue;
    }
    const int32_t x = kind == 1 ? pos(rng) / 2 : near(rng);
    const int32_t y = kind == 1 ? pos(rng) / 2 : near(rng);
    int32_t w = side(rng) % 4 + 1;  // few sizes: shared shapes
    int32_t h = kind < 5 ? w : side(rng) % 5 + 1;
    if (hugeSides && kind == 1) {
      w = std::uniform_int_distribution<int32_t>(1, 1000000000)(rng);
      h = pick(rng) < 5 ? w : std::uniform_int_distribution<int32_t>(1, 1000000000)(rng);
    }
    out.push_back(Rect{l[0], l[1], x, y, x + w, y + h});
  }
  return out;
}

// The corners of r from corner start (0..3), counter-clockwise or not.
std::vector<Point> Corners(const Rect& r, int start, bool ccw) {
  std::vector<Point> c{{r.x1, r.y1}, {r.x2, r.y1}, {r.x2, r.y2}, {r.x1, r.y2}};
  if (!ccw) std::reverse(c.begin(), c.end());
  std::rotate(c.begin(), c.begin() + start, c.end());
  return c;
}

// One structure TOP of the rectangles; with repeatCorner every rectangle
// carries its first corner twice. A triangle on layer 1 is written before
// the rectangle numbered triangleAt (none when negative).
std::vector<uint8_t> Layout(const std::vector<Rect>& rects, bool repeatCorner,
                            int triangleAt = -1) {
  GdsBuilder b;
  b.BeginLib("LIB", 0.001, 1e-9).BeginStr("TOP");
  for (size_t i = 0; i < rects.size(); ++i) {
    if (int(i) == triangleAt) b.Boundary(1, 0, {{0, 0}, {50, 0}, {0, 70}});
    std::vector<Point> c = Corners(rects[i], int(i % 4), i % 3 != 0);
    if (repeatCorner) c.insert(c.begin(), c.front());
    b.Boundary(rects[i].layer, rects[i].datatype, c);
  }
  b.EndStr().EndLib();
  return b.Bytes();
}

bool RingBefore(const Ring& a, const Ring& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](const Point& p, const Point& q) { return p.x != q.x ? p.x < q.x : p.y < q.y; });
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reads the layout into a new library; returns the cell data written.
std::string StoredData(ScratchLibrary& lib, const std::vector<uint8_t>& gds,
                       const GdsReadOptions& options, std::string& output) {
  const GdsReadResult r = lib.Read(gds, options);
  EXPECT_TRUE(r.ok) << r.error;
  output = r.output;
  return FileBytes(lib.Dir() + "/db1");
}

TEST(GdsRectangleRoad, CellDataAsTheGeneralRoadWritesIt) {
  struct Case {
    const char* name;
    int count;
    int triangleAt;          // -1: rectangles only
    int64_t flushThreshold;  // vertices before geometry moves to cells
    bool mapAndFilter;       // 2/0 stored as 7/0, 3/5 filtered out
    bool hugeSides = false;  // far rectangles up to 10^9 across
  };
  const Case cases[] = {
      {"rectangles only", 3000, -1, 50000000, false},
      {"a triangle among them", 3000, 1700, 50000000, false},
      {"a triangle first", 500, 0, 50000000, false},
      {"flushed into generated cells", 3000, -1, 2000, false},
      {"flushed with a triangle", 3000, 2500, 2000, false},
      {"layer map and filter", 3000, -1, 50000000, true},
      // The order of the placements packed into a sort key: sides and
      // places spanning most of 32 bits need more than a key holds.
      {"sides and places over the whole range", 3000, -1, 50000000, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Rect> rects = RandomRects(uint32_t(c.count * 7 + c.triangleAt), c.count, c.hugeSides);
    GdsReadOptions options;
    options.flushThreshold = c.flushThreshold;
    options.flushTileSize = 1000;
    if (c.mapAndFilter) {
      options.filter = {Key(1, 0), Key(2, 0)};
      options.map = {{Key(2, 0), Key(7, 0)}};
    }
    ScratchLibrary fast, general;
    std::string fastOut, generalOut;
    const std::string a =
        StoredData(fast, Layout(rects, false, c.triangleAt), options, fastOut);
    const std::string b =
        StoredData(general, Layout(rects, true, c.triangleAt), options, generalOut);
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == b) << "cell data differ (" << a.size() << " and " << b.size()
                        << " bytes)";
    EXPECT_EQ(fastOut, generalOut);
  }
}

TEST(GdsRectangleRoad, StoredShapesAreTheRectanglesWritten) {
  const std::vector<Rect> rects = RandomRects(42, 2000);
  ScratchLibrary lib;
  const GdsReadResult r = lib.Read(Layout(rects, false));
  ASSERT_TRUE(r.ok) << r.error;
  std::map<int32_t, std::vector<Ring>> expected;
  for (const Rect& q : rects)
    expected[Key(q.layer, q.datatype)].push_back(BoxRing(q.x1, q.y1, q.x2, q.y2));
  for (auto& [key, rings] : expected) {
    std::sort(rings.begin(), rings.end(), RingBefore);
    rings.erase(std::unique(rings.begin(), rings.end()), rings.end());
  }
  StoredLibrary stored(lib.Dir(), false);
  std::map<int32_t, std::vector<Ring>> shapes = stored.Shapes("TOP");
  for (auto& [key, rings] : shapes) std::sort(rings.begin(), rings.end(), RingBefore);
  EXPECT_EQ(shapes, expected);
}

}  // namespace
}  // namespace velmar
