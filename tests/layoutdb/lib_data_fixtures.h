// Builders and checks for the tests of cell data files and of saving and
// loading whole libraries: an independent encoder of cell records (chained
// integers written by hand, not through BinaryStream), cells filled with
// shapes and references, a canonical snapshot of what a cell holds, and a
// check that a loaded cell's search trees match its contents.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/box.h"
#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "support/cell_fixtures.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/shape_list.h"
#include "layoutdb/trans.h"

namespace velmar::data_test {

using cell_test::Ring;

inline std::string UnitOf(const Error& e) { return e.Unit() ? e.Unit() : ""; }

// ---------------------------------------------------------------------------
// Hand-made cell records.

class Record {
 public:
  Record& U8(uint8_t v) { s_.push_back(char(v)); return *this; }
  Record& U16(uint16_t v) { return U8(uint8_t(v)).U8(uint8_t(v >> 8)); }
  Record& I32(int32_t v) {
    const uint32_t u = uint32_t(v);
    return U8(uint8_t(u)).U8(uint8_t(u >> 8)).U8(uint8_t(u >> 16)).U8(uint8_t(u >> 24));
  }
  Record& F32(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return I32(int32_t(u));
  }
  // Unsigned chained: 7 bits per byte, low group first, bit 7 = more.
  Record& UC(uint32_t v) {
    while (v > 127) {
      U8(uint8_t((v & 0x7f) | 0x80));
      v >>= 7;
    }
    return U8(uint8_t(v));
  }
  // Signed chained: first byte sign in bit 0, 6 magnitude bits; then 7 bits
  // per byte.
  Record& SC(int32_t v) {
    const bool neg = v < 0;
    uint64_t m = neg ? uint64_t(-int64_t(v)) : uint64_t(v);
    uint8_t first = uint8_t(((m & 0x3f) << 1) | (neg ? 1 : 0));
    m >>= 6;
    if (m == 0) return U8(first);
    U8(uint8_t(first | 0x80));
    while (m > 127) {
      U8(uint8_t((m & 0x7f) | 0x80));
      m >>= 7;
    }
    return U8(uint8_t(m));
  }
  Record& Raw(const std::string& bytes) { s_ += bytes; return *this; }
  const std::string& str() const { return s_; }
  size_t size() const { return s_.size(); }

 private:
  std::string s_;
};

// Writes bytes as a gzip file (one member).
inline void WriteGzip(const std::string& path, const std::string& bytes) {
  gzFile f = gzopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  if (!bytes.empty()) gzwrite(f, bytes.data(), unsigned(bytes.size()));
  gzclose(f);
}

// The uncompressed content of a gzip file (all members).
inline std::string ReadGzip(const std::string& path) {
  std::string out;
  gzFile f = gzopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buf[4096];
  int n;
  while ((n = gzread(f, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  gzclose(f);
  return out;
}

// ---------------------------------------------------------------------------
// Filling cells.

inline Ring Square(int32_t x, int32_t y, int32_t s) {
  return {{x, y}, {x + s, y}, {x + s, y + s}, {x, y + s}};
}
inline Ring Rect(int32_t x, int32_t y, int32_t w, int32_t h) {
  return {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
}

// Adds the rings as shared shapes of key (equal rings merge into one shape).
inline void AddRings(DBCell& cell, LayerKey key, const std::vector<Ring>& rings) {
  PSList list;
  for (const Ring& r : rings) cell_test::AppendRing(list, r);
  cell.InsertPolygons(list, key, false);
  ClearPointList(list);
}

// Adds a reference to child (the item box from the child's box, as every
// reference layer holds it) and grows the parent's box by it.
inline SRef* AddRef(LibDB& lib, DBCell& parent, SRef* ref) {
  const Box childBox = lib.cells[ref->CellId()]->box;
  const Box placed = ref->GetBox(childBox);
  LayerTree& tree = parent.FindOrCreateTree(ReferenceKey, placed);
  DBSearchSystem::Insert(tree, placed, ref);
  parent.box.Merge(placed);
  parent.flags |= DBCell::Modified;
  return ref;
}

inline SRef* NewSRef(int32_t id, int32_t x, int32_t y, uint8_t orientation = 0,
                     float mag = 1.0f) {
  return new SRef(Trans(x, y, mag, orientation), id);
}

inline ARef* NewARef(int32_t id, int32_t x, int32_t y, uint8_t orientation,
                     int16_t cols, int16_t rows, int32_t cp, int32_t rp,
                     float mag = 1.0f) {
  return new ARef(Trans(x, y, mag, orientation), id, cols, rows, cp, rp);
}

// ---------------------------------------------------------------------------
// Snapshots.

struct ShapeSnap {
  uint32_t header;
  std::vector<uint32_t> codes;
  std::vector<int32_t> values;
  std::vector<std::pair<int32_t, int32_t>> placements;
  friend bool operator==(const ShapeSnap&, const ShapeSnap&) = default;
};

struct RefSnap {
  int32_t cellIdWord, x, y;
  float mag;
  int orientation;
  int columns, rows, columnPitch, rowPitch;
  auto Key() const {
    return std::tie(cellIdWord, x, y, orientation, mag, columns, rows,
                    columnPitch, rowPitch);
  }
  friend bool operator==(const RefSnap& a, const RefSnap& b) {
    return a.Key() == b.Key();
  }
  friend bool operator<(const RefSnap& a, const RefSnap& b) {
    return a.Key() < b.Key();
  }
};

inline std::ostream& operator<<(std::ostream& os, const RefSnap& r) {
  return os << "ref{" << r.cellIdWord << " @" << r.x << "," << r.y << " mag "
            << r.mag << " o" << r.orientation << " " << r.columns << "x"
            << r.rows << " " << r.columnPitch << "/" << r.rowPitch << "}";
}
inline std::ostream& operator<<(std::ostream& os, const ShapeSnap& s) {
  os << "shape{h=" << s.header << " n=" << s.values.size() << " @";
  for (auto& p : s.placements) os << "(" << p.first << "," << p.second << ")";
  return os << "}";
}

struct CellSnap {
  std::map<LayerKey, std::vector<ShapeSnap>> layers;
  std::vector<RefSnap> refs;  // sorted
  friend bool operator==(const CellSnap&, const CellSnap&) = default;
};

inline RefSnap SnapRef(const SRef& r) {
  RefSnap s{r.cellId, r.x, r.y, r.mag, r.orientation, 0, 0, 0, 0};
  if (r.IsArray()) {
    const ARef& a = static_cast<const ARef&>(r);
    s.columns = a.columns;
    s.rows = a.rows;
    s.columnPitch = a.columnPitch;
    s.rowPitch = a.rowPitch;
  }
  return s;
}

// What the cell holds: non-empty raw layers shape by shape in list order
// (placements in list order), and its references as a sorted list.
inline CellSnap Snap(const DBCell& cell) {
  CellSnap snap;
  for (const auto& [key, layer] : cell.rawLayers) {
    std::vector<ShapeSnap> shapes;
    for (const CPgonListNode* s = layer.first; s; s = s->next) {
      if (s->placements.count == 0) continue;
      ShapeSnap ss{s->polygon->header, {}, s->polygon->values, {}};
      if (const uint32_t* w = s->polygon->CodeWords())
        ss.codes.assign(w, w + s->polygon->CodeWordCount());
      for (const LocListNode* p = s->placements.first; p; p = p->next)
        ss.placements.emplace_back(p->x, p->y);
      shapes.push_back(ss);
    }
    if (!shapes.empty()) snap.layers[key] = shapes;
  }
  auto it = cell.indexedLayers.find(ReferenceKey);
  if (it != cell.indexedLayers.end()) {
    for (DBSearchNode* n = DBSearchSystem::First(it->second); n;
         n = DBSearchSystem::Next(n))
      if (n->IsData() && n->item)
        snap.refs.push_back(SnapRef(*static_cast<const SRef*>(n->item)));
  }
  std::sort(snap.refs.begin(), snap.refs.end());
  return snap;
}

inline std::ostream& operator<<(std::ostream& os, const CellSnap& c) {
  for (const auto& [key, shapes] : c.layers) {
    os << "[" << (key >> 8) << "/" << (key & 0xFF) << ":";
    for (const ShapeSnap& s : shapes) os << " " << s;
    os << "]";
  }
  for (const RefSnap& r : c.refs) os << " " << r;
  return os;
}

// Every tree of a loaded cell holds exactly its placements, and every
// reference item has the box its placement gives the child.
inline void ExpectIndexed(const LibDB& lib, const DBCell& cell) {
  for (const auto& [key, layer] : cell.rawLayers)
    cell_test::ExpectTreeMatchesLayer(cell, key);
  auto it = cell.indexedLayers.find(ReferenceKey);
  if (it == cell.indexedLayers.end()) return;
  for (DBSearchNode* n = DBSearchSystem::First(it->second); n;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData()) continue;
    const SRef* r = static_cast<const SRef*>(n->item);
    EXPECT_EQ(n->box, r->GetBox(lib.cells[r->CellId()]->box));
  }
}

// Frees what the cell holds in memory (trees first).
inline void Unload(DBCell& cell) {
  cell.indexedLayers.clear();
  cell.rawLayers.clear();
}

}  // namespace velmar::data_test
