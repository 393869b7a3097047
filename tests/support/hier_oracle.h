// Oracles for passes that reshape a library's hierarchy:
// - a flattener that walks the cells' raw layers and reference trees itself
//   (arrays element by element, every placement by the orientation table),
//   independent of the library's own collection code;
// - a rasteriser at unit resolution (pixel centres, nonzero winding per
//   ring, union over rings) that compares two flattened layouts without the
//   boolean engine;
// - a structural checker of a library after a pass or a run;
// - seeded random hierarchies of a few levels with the placements that
//   the passes must keep exactly.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "foundation/box.h"
#include "foundation/search_tree.h"
#include "geometry/boolean_sweep.h"
#include "geometry/op_codes.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/shape_list.h"
#include "layoutdb/trans.h"
#include "support/cell_fixtures.h"
#include "support/hier_fixtures.h"
#include "support/point_list_fixtures.h"

namespace velmar::hier_test {

// ---------------------------------------------------------------------------
// Flattening a library

namespace detail {

// Own shapes of a cell: every placement of every shape of its raw layers
// (drawn layers only unless work is set), as rings in the cell.
inline void OwnRings(const DBCell& cell, bool work, FlatRings& out) {
  for (const auto& [key, layer] : cell.rawLayers) {
    if (!work && key >= WorkLayerKey) continue;
    PSList list;
    CPgonList::ToRings(layer, list);
    for (Ring& r : cell_test::RingsOf(list)) out[key].push_back(std::move(r));
    ClearPointList(list);
  }
}

inline int32_t IntegerMag(float mag) {
  const int32_t m = int32_t(std::lround(mag));
  EXPECT_EQ(float(m), mag) << "the flattener takes integer magnifications";
  return m;
}

}  // namespace detail

// Every drawn shape of cell id and of everything below it, placed into
// cell id. Cells that hold nothing in memory are read from the library's
// data files first.
class LibraryFlattener {
 public:
  explicit LibraryFlattener(LibDB& lib, bool work = false)
      : lib_(lib), work_(work) {}

  const FlatRings& Of(int32_t id, int depth = 0) {
    auto it = memo_.find(id);
    if (it != memo_.end()) return it->second;
    FlatRings out;
    DBCell* cell = lib_.cells[size_t(id)];
    if (cell == nullptr) {
      ADD_FAILURE() << "reference to destroyed cell " << id;
      return memo_[id];
    }
    if (depth > 64) {
      ADD_FAILURE() << "placement cycle through cell " << id;
      return memo_[id];
    }
    if (cell->IsEmpty() && cell->dbFile != 0) lib_.LoadCell(cell, false);
    detail::OwnRings(*cell, work_, out);
    const LayerTree* refs = cell->ReferenceTree();
    if (refs != nullptr) {
      for (const DBSearchNode* n = DBSearchSystem::First(*refs); n != nullptr;
           n = DBSearchSystem::Next(n)) {
        if (!n->IsData() || n->item == nullptr) continue;
        const SRef* r = n->Item<const SRef>();
        const int32_t mag = detail::IntegerMag(r->mag);
        const FlatRings& child = Of(r->CellId(), depth + 1);
        std::vector<Point> origins;
        if (!r->IsArray()) {
          origins.push_back(Point(r->x, r->y));
        } else {
          const ARef& a = *static_cast<const ARef*>(r);
          ModelRef m;
          m.x = a.x;
          m.y = a.y;
          m.orientation = a.orientation;
          m.columnPitch = a.columnPitch;
          m.rowPitch = a.rowPitch;
          for (int32_t c = 0; c < std::max<int32_t>(1, a.columns); ++c)
            for (int32_t w = 0; w < std::max<int32_t>(1, a.rows); ++w)
              origins.push_back(ElementOrigin(m, c, w));
        }
        for (const Point& o : origins)
          for (const auto& [key, rings] : child)
            for (const Ring& ring : rings) {
              Ring placed;
              placed.reserve(ring.size());
              for (const Point& p : ring)
                placed.push_back(Place(o.x, o.y, r->orientation, mag, p));
              out[key].push_back(std::move(placed));
            }
      }
    }
    return memo_[id] = std::move(out);
  }

 private:
  LibDB& lib_;
  bool work_;
  std::map<int32_t, FlatRings> memo_;
};

inline FlatRings FlattenLibrary(LibDB& lib, int32_t top, bool work = false) {
  LibraryFlattener f(lib, work);
  return f.Of(top);
}

// ---------------------------------------------------------------------------
// Unit-resolution rasters

// Pixel (x, y) stands for the unit square with centre (x + 0.5, y + 0.5).
struct Raster {
  Box bounds;  // pixels x1 .. x2 - 1, y1 .. y2 - 1
  std::map<LayerKey, std::vector<bool>> layers;

  size_t Index(int32_t x, int32_t y) const {
    return size_t(int64_t(y - bounds.y1) * bounds.Width() + (x - bounds.x1));
  }
};

// Sets the pixels whose centres lie inside the ring (nonzero winding).
inline void FillRing(const Ring& ring, const Box& bounds,
                     std::vector<bool>& bits) {
  if (ring.size() < 3) return;
  int32_t ylo = INT32_MAX, yhi = INT32_MIN;
  for (const Point& p : ring) {
    ylo = std::min(ylo, p.y);
    yhi = std::max(yhi, p.y);
  }
  std::vector<std::pair<double, int>> crossings;
  for (int32_t y = std::max(ylo, bounds.y1); y < std::min(yhi, bounds.y2);
       ++y) {
    const double yc = y + 0.5;
    crossings.clear();
    for (size_t i = 0; i < ring.size(); ++i) {
      const Point& a = ring[i];
      const Point& b = ring[(i + 1) % ring.size()];
      if ((a.y <= yc) == (b.y <= yc)) continue;
      const double x = a.x + (yc - a.y) * (double(b.x) - a.x) / (double(b.y) - a.y);
      crossings.emplace_back(x, b.y > a.y ? 1 : -1);
    }
    std::sort(crossings.begin(), crossings.end());
    int w = 0;
    for (size_t i = 0; i + 1 < crossings.size(); ++i) {
      w += crossings[i].second;
      if (w == 0) continue;
      // Pixels whose centre lies in [from, to).
      const int64_t from = int64_t(std::ceil(crossings[i].first - 0.5));
      const int64_t to = int64_t(std::ceil(crossings[i + 1].first - 0.5));
      for (int64_t x = std::max<int64_t>(from, bounds.x1);
           x < std::min<int64_t>(to, bounds.x2); ++x)
        bits[size_t((int64_t(y) - bounds.y1) * bounds.Width() +
                    (x - bounds.x1))] = true;
    }
  }
}

inline Raster Rasterise(const FlatRings& flat, const Box& bounds) {
  Raster r;
  r.bounds = bounds;
  const size_t n = size_t(bounds.Width() * bounds.Height());
  for (const auto& [key, rings] : flat) {
    std::vector<bool>& bits = r.layers[key];
    bits.assign(n, false);
    for (const Ring& ring : rings) FillRing(ring, bounds, bits);
  }
  return r;
}

// Expects both flattened layouts to cover the same pixels on every layer
// (a layer missing on one side counts as empty).
inline void ExpectSameCoverage(const FlatRings& before, const FlatRings& after,
                               const std::string& what) {
  Box bounds = BoxOfFlat(before);
  bounds.Merge(BoxOfFlat(after));
  if (!bounds.IsValid()) return;
  ASSERT_LE(bounds.Width() * bounds.Height(), int64_t(64) << 20)
      << what << ": too large to rasterise";
  const Raster a = Rasterise(before, bounds), b = Rasterise(after, bounds);
  std::set<LayerKey> keys;
  for (const auto& [k, v] : a.layers) keys.insert(k);
  for (const auto& [k, v] : b.layers) keys.insert(k);
  const std::vector<bool> none(size_t(bounds.Width() * bounds.Height()), false);
  for (LayerKey k : keys) {
    auto ia = a.layers.find(k), ib = b.layers.find(k);
    const std::vector<bool>& va = ia == a.layers.end() ? none : ia->second;
    const std::vector<bool>& vb = ib == b.layers.end() ? none : ib->second;
    if (va == vb) continue;  // the common case, far faster than the count below
    int64_t differ = 0, firstX = 0, firstY = 0, covered = 0;
    for (size_t i = 0; i < va.size(); ++i) {
      covered += va[i];
      if (va[i] == vb[i]) continue;
      if (differ++ == 0) {
        firstX = bounds.x1 + int64_t(i) % bounds.Width();
        firstY = bounds.y1 + int64_t(i) / bounds.Width();
      }
    }
    EXPECT_EQ(differ, 0) << what << ": layer " << k << " differs in "
                         << differ << " of " << covered
                         << " covered pixels, first at (" << firstX << ", "
                         << firstY << ")";
  }
}

// ---------------------------------------------------------------------------
// Larger layouts: the region of each layer compared through the boolean
// engine, held to its own accounts: the XOR of both sides is empty, and the
// merged areas of either side and of both together are equal.

namespace detail {

// Appends the rings counter-clockwise (a mirrored placement turns a ring
// over) with the operand flag.
inline void AppendOperand(PSList& list, const std::vector<Ring>& rings,
                          uint16_t flags) {
  for (const Ring& r : rings) {
    if (r.size() < 3) continue;
    if (cell_test::Area2(r) < 0)
      test::AddRing(list, std::vector<Point>(r.rbegin(), r.rend()), flags);
    else
      test::AddRing(list, r, flags);
  }
}

inline __int128 MergedArea2(const std::vector<Ring>* a,
                            const std::vector<Ring>* b, BooleanOpCode code) {
  PSList in, out;
  if (a != nullptr) AppendOperand(in, *a, 0);
  if (b != nullptr) AppendOperand(in, *b, PSPointFlags::SecondLayer);
  BooleanSweep(in, &out, code, false);
  const __int128 area = cell_test::ListArea2(out);
  ClearPointList(in);
  ClearPointList(out);
  return area;
}

}  // namespace detail

inline void ExpectSameRegion(const FlatRings& before, const FlatRings& after,
                             const std::string& what) {
  std::set<LayerKey> keys;
  for (const auto& [k, v] : before) keys.insert(k);
  for (const auto& [k, v] : after) keys.insert(k);
  const std::vector<Ring> none;
  for (LayerKey k : keys) {
    auto ia = before.find(k), ib = after.find(k);
    const std::vector<Ring>& a = ia == before.end() ? none : ia->second;
    const std::vector<Ring>& b = ib == after.end() ? none : ib->second;
    const __int128 xorArea = detail::MergedArea2(&a, &b, BooleanOpCode::Xor);
    const __int128 areaA = detail::MergedArea2(&a, nullptr, BooleanOpCode::Or);
    const __int128 areaB = detail::MergedArea2(nullptr, &b, BooleanOpCode::Or);
    const __int128 both = detail::MergedArea2(&a, &b, BooleanOpCode::Or);
    EXPECT_EQ(int64_t(xorArea), 0) << what << ": layer " << k;
    EXPECT_EQ(int64_t(areaA), int64_t(both)) << what << ": layer " << k;
    EXPECT_EQ(int64_t(areaB), int64_t(both)) << what << ": layer " << k;
  }
}

// ---------------------------------------------------------------------------
// Structural checks

struct StructureChecks {
  bool oneRoot = false;        // exactly one cell without parents
  bool noArrays = false;       // no ARef anywhere
  bool leavesSeparate = false; // no cell holds shapes and references; Leaf
                               // exactly on the cells without references
  bool parentTables = false;   // hierRecords equal a recount
};

// Checks every live cell (loading cells that hold nothing): references name
// live cells; no placement cycle; boxes cover own shapes and placed
// children; every reference item's box equals the placed box recomputed
// from the child's box; names are unique and the name map points at their
// cells; no cell is left marked; plus the optional checks.
inline void CheckStructure(LibDB& lib, const StructureChecks& want,
                           const std::string& what) {
  const size_t n = lib.cells.size();
  std::vector<std::map<int32_t, int32_t>> parents(n);
  std::set<std::string> names;
  // A slot of a removed cell, as a library read back from disk holds it: no
  // box, nothing stored. It takes part in nothing.
  auto removed = [&](size_t id) {
    const DBCell* c = lib.cells[id];
    return c == nullptr || (!c->box.IsValid() && c->IsEmpty() && c->dbFile == 0);
  };
  for (size_t id = 0; id < n; ++id) {
    DBCell* cell = lib.cells[id];
    if (removed(id)) continue;
    if (cell->IsEmpty() && cell->dbFile != 0) lib.LoadCell(cell, false);
    EXPECT_FALSE(cell->flags & DBCell::Marked) << what << ": cell " << id
                                               << " left marked";
    ASSERT_NE(cell->name, nullptr) << what << ": cell " << id << " unnamed";
    EXPECT_TRUE(names.insert(*cell->name).second)
        << what << ": name " << *cell->name << " twice";
    EXPECT_EQ(lib.FindCellId(*cell->name), int32_t(id))
        << what << ": name map of " << *cell->name;
    bool shapes = false;
    for (const auto& [key, layer] : cell->rawLayers) {
      if (key >= WorkLayerKey || layer.first == nullptr) continue;
      shapes = true;
      for (const LocListNode* p : cell_test::Placements(layer))
        EXPECT_TRUE(cell->box.Contains(cell_test::DecodedPlacedBox(p)))
            << what << ": shape outside box of " << *cell->name;
    }
    int32_t refCount = 0;
    if (const LayerTree* refs = cell->ReferenceTree()) {
      for (const DBSearchNode* m = DBSearchSystem::First(*refs); m != nullptr;
           m = DBSearchSystem::Next(m)) {
        if (!m->IsData() || m->item == nullptr) continue;
        const SRef* r = m->Item<const SRef>();
        ++refCount;
        const int32_t child = r->CellId();
        const bool live = size_t(child) < n && !removed(size_t(child));
        EXPECT_TRUE(live) << what << ": " << *cell->name
                          << " places destroyed cell " << child;
        if (!live) continue;
        if (want.noArrays) {
          EXPECT_FALSE(r->IsArray()) << what << ": array left in " << *cell->name;
        }
        const int32_t count =
            r->IsArray() ? std::max(1, int(static_cast<const ARef*>(r)->columns)) *
                               std::max(1, int(static_cast<const ARef*>(r)->rows))
                         : 1;
        parents[size_t(child)][int32_t(id)] += count;
        const Box placed = r->GetBox(lib.cells[size_t(child)]->box);
        EXPECT_EQ(m->box, placed) << what << ": item box in " << *cell->name;
        EXPECT_TRUE(cell->box.Contains(placed))
            << what << ": placement outside box of " << *cell->name;
      }
    }
    if (want.leavesSeparate) {
      EXPECT_FALSE(shapes && refCount > 0)
          << what << ": " << *cell->name << " holds shapes and references";
      EXPECT_EQ((cell->flags & DBCell::Leaf) != 0, refCount == 0)
          << what << ": leaf flag of " << *cell->name;
    }
  }
  // No cycle: repeatedly drop cells that place nothing left.
  std::vector<int32_t> pending(n, 0);
  std::vector<std::vector<int32_t>> placedIn(n);
  for (size_t c = 0; c < n; ++c)
    for (const auto& [p, k] : parents[c]) {
      ++pending[size_t(p)];
      placedIn[c].push_back(p);
    }
  std::vector<size_t> ready;
  size_t done = 0, live = 0;
  for (size_t id = 0; id < n; ++id) {
    if (removed(id)) continue;
    ++live;
    if (pending[id] == 0) ready.push_back(id);
  }
  while (!ready.empty()) {
    const size_t c = ready.back();
    ready.pop_back();
    ++done;
    for (int32_t p : placedIn[c])
      if (--pending[size_t(p)] == 0) ready.push_back(size_t(p));
  }
  EXPECT_EQ(done, live) << what << ": placement cycle";
  if (want.oneRoot) {
    int roots = 0;
    for (size_t id = 0; id < n; ++id)
      if (!removed(id) && parents[id].empty()) ++roots;
    EXPECT_EQ(roots, 1) << what << ": cells without parents";
  }
  if (want.parentTables) {
    ASSERT_GE(lib.hierRecords.size(), n) << what;
    for (size_t id = 0; id < n; ++id) {
      if (!removed(id)) {
        EXPECT_EQ(lib.hierRecords[id].parents, parents[id])
            << what << ": parents of cell " << id;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Random hierarchies

struct HierarchyShape {
  int levels = 3;              // levels below the top (3 or 4 cells deep)
  int cellsPerLevel = 3;
  bool magnify = true;         // some placements at magnification 2
  bool general = false;        // triangles with arbitrary slopes too
  bool manhattan = false;      // axis-parallel shapes only
  int32_t smallSide = 40;      // some leaves at most this wide
  int32_t largeSide = 1300;    // some leaves wider than this
  bool triangles = false;      // any-angle triangles only (no other shape)
  bool stacked = false;        // placements stacked on each other: arrays
                               // of zero pitch and placements repeated at
                               // one spot, in a few orientations
};

// A triangle with arbitrary slopes, counter-clockwise, in a box of side
// up to 60 at the origin.
inline Ring RandomTriangle(std::mt19937& rng) {
  std::uniform_int_distribution<int> c(0, 60);
  for (;;) {
    Ring r{{c(rng), c(rng)}, {c(rng), c(rng)}, {c(rng), c(rng)}};
    const __int128 a2 = cell_test::Area2(r);
    if (a2 == 0) continue;
    if (a2 < 0) std::swap(r[1], r[2]);
    return r;
  }
}

// Cell 0 is the only top; cells of level l place cells of level l + 1
// (shared: a cell is placed by several parents and several times), every
// cell of a level is placed at least once. Shapes on layers 1/0, 64/0 and
// 5/3; every orientation; arrays with zero, negative and odd-orientation
// pitches; a few tiny cells and a few very wide ones at the bottom. Stacked:
// every placement is an array of zero pitch or is repeated at its spot,
// spots and orientations drawn from a few, so that copies of a shape lie
// exactly on each other, level over level.
inline Model RandomHierarchy(std::mt19937& rng, const HierarchyShape& s) {
  static const LayerKey kKeys[] = {0x0100, 0x4000, 0x0503};
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> pos(-60, 60);
  std::uniform_int_distribution<int> orient(0, 7);
  std::uniform_int_distribution<int> pitch(20, 90);
  std::vector<std::vector<int32_t>> level(size_t(s.levels) + 1);
  Model m;
  m.emplace_back();
  level[0].push_back(0);
  for (int l = 1; l <= s.levels; ++l)
    for (int i = 0; i < s.cellsPerLevel; ++i) {
      level[size_t(l)].push_back(int32_t(m.size()));
      m.emplace_back();
    }
  auto shape = [&]() {
    if (s.triangles) return RandomTriangle(rng);
    for (;;) {
      Ring r = cell_test::RandomShape(rng, s.general);
      bool axisParallel = true;
      for (size_t k = 0; k < r.size(); ++k) {
        const Point& a = r[k];
        const Point& b = r[(k + 1) % r.size()];
        axisParallel = axisParallel && (a.x == b.x || a.y == b.y);
      }
      if (axisParallel || !s.manhattan) return r;
    }
  };
  auto addShapes = [&](ModelCell& c, int count) {
    for (int k = 0; k < count; ++k)
      c.shapes[kKeys[percent(rng) % 3]].push_back(
          cell_test::Moved(shape(), pos(rng), pos(rng)));
  };
  for (int l = 0; l <= s.levels; ++l) {
    for (size_t i = 0; i < level[size_t(l)].size(); ++i) {
      ModelCell& c = m[size_t(level[size_t(l)][i])];
      const bool bottom = l == s.levels;
      if (bottom && i == 0) {
        // Tiny: below any flatten size of the tests.
        c.shapes[0x4000].push_back(
            {{0, 0}, {s.smallSide, 0}, {s.smallSide, 7}, {0, 7}});
      } else if (bottom && i == 1) {
        // Wide: above the split size, shapes spread along x.
        for (int32_t x = 0; x < s.largeSide; x += 150 + percent(rng))
          c.shapes[kKeys[percent(rng) % 3]].push_back(
              cell_test::Moved(shape(), x, pos(rng)));
        c.shapes[0x0100].push_back(
            {{0, -80}, {s.largeSide + 20, -80}, {s.largeSide + 20, -70}, {0, -70}});
      } else {
        addShapes(c, bottom ? 2 + percent(rng) % 3 : percent(rng) % 3);
      }
      if (bottom) continue;
      const auto& below = level[size_t(l) + 1];
      // Every cell of the level below is placed by someone on this level.
      std::vector<int32_t> children;
      for (size_t k = i; k < below.size(); k += level[size_t(l)].size())
        children.push_back(below[k]);
      const int extra = 1 + percent(rng) % 3;
      for (int k = 0; k < extra; ++k)
        children.push_back(below[size_t(percent(rng)) % below.size()]);
      for (int32_t child : children) {
        ModelRef r;
        r.child = child;
        if (s.stacked) {
          static const uint8_t kOrient[] = {0, 3, 6};
          r.x = 30 * (percent(rng) % 3);
          r.y = 30 * (percent(rng) % 3);
          r.orientation = kOrient[percent(rng) % 3];
          auto& refs = m[size_t(level[size_t(l)][i])].refs;
          if (percent(rng) < 50) {
            r.array = true;
            r.columns = int16_t(1 + percent(rng) % 3);
            r.rows = int16_t(2 + percent(rng) % 2);
            refs.push_back(r);
          } else {
            for (int k = 2 + percent(rng) % 2; k > 0; --k) refs.push_back(r);
          }
          continue;
        }
        r.x = pos(rng) * 4;
        r.y = pos(rng) * 4;
        r.orientation = uint8_t(orient(rng));
        r.mag = s.magnify && l == 0 && percent(rng) < 35 ? 2 : 1;
        const int kind = percent(rng);
        if (kind < 35) {
          r.array = true;
          r.columns = int16_t(1 + percent(rng) % 3);
          r.rows = int16_t(1 + percent(rng) % 3);
          r.columnPitch = kind < 8 ? 0 : pitch(rng) * (kind % 3 == 0 ? -1 : 1);
          r.rowPitch = kind < 12 ? 0 : pitch(rng) * (kind % 2 == 0 ? -1 : 1);
        }
        m[size_t(level[size_t(l)][i])].refs.push_back(r);
      }
    }
  }
  return m;
}

}  // namespace velmar::hier_test
