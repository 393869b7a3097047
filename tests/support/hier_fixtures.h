// Hierarchies for the tests of the hierarchical iterator, geometry
// collection and reference edits: a plain description of cells (rings per
// layer, references), a builder that loads it into a LibDB, a brute-force
// flattener that places every ring through every level on its own, and ring
// comparisons.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "foundation/box.h"
#include "geometry/point_system.h"
#include "support/cell_fixtures.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"

namespace velmar::hier_test {

using cell_test::Ring;

// A placement as the test describes it; the magnification is an integer, so
// that placing a point level by level is exact.
struct ModelRef {
  int32_t child = 0;
  int32_t x = 0, y = 0;
  uint8_t orientation = 0;
  int32_t mag = 1;
  bool array = false;
  int16_t columns = 1, rows = 1;
  int32_t columnPitch = 0, rowPitch = 0;
};

// One placement of child at (x, y).
inline ModelRef Ref(int32_t child, int32_t x, int32_t y,
                    uint8_t orientation = 0) {
  ModelRef r;
  r.child = child;
  r.x = x;
  r.y = y;
  r.orientation = orientation;
  return r;
}

// An array of cols x rows placements of child from (x, y), column pitch cp
// and row pitch rp.
inline ModelRef Array(int32_t child, int32_t x, int32_t y, int16_t cols,
                      int16_t rows, int32_t cp, int32_t rp) {
  ModelRef r = Ref(child, x, y);
  r.array = true;
  r.columns = cols;
  r.rows = rows;
  r.columnPitch = cp;
  r.rowPitch = rp;
  return r;
}

struct ModelCell {
  std::map<LayerKey, std::vector<Ring>> shapes;
  std::vector<ModelRef> refs;
};

using Model = std::vector<ModelCell>;  // cell id -> cell; children after parents
using FlatRings = std::map<LayerKey, std::vector<Ring>>;

// A child point placed in the parent: scaled, turned, moved. Written from
// the orientation table: 0 (x, y) 1 (-y, x) 2 (-x, -y) 3 (y, -x)
// 4 (-x, y) 5 (-y, -x) 6 (x, -y) 7 (y, x).
inline Point Place(int32_t ox, int32_t oy, uint8_t orientation, int32_t mag,
                   Point p) {
  const int64_t x = int64_t(p.x) * mag, y = int64_t(p.y) * mag;
  int64_t u = x, v = y;
  switch (orientation) {
    case 1: u = -y; v = x; break;
    case 2: u = -x; v = -y; break;
    case 3: u = y; v = -x; break;
    case 4: u = -x; v = y; break;
    case 5: u = -y; v = -x; break;
    case 6: u = x; v = -y; break;
    case 7: u = y; v = x; break;
    default: break;
  }
  return Point(int32_t(u + ox), int32_t(v + oy));
}

// Offset of array element (column a, row b): columns step along parent x
// (along parent y for odd orientations).
inline Point ElementOrigin(const ModelRef& r, int32_t a, int32_t b) {
  if (r.orientation & 1)
    return Point(r.x + b * r.columnPitch, r.y + a * r.rowPitch);
  return Point(r.x + a * r.columnPitch, r.y + b * r.rowPitch);
}

// Every ring of cell id and below, each vertex placed level by level.
inline void Flatten(const Model& m, int32_t id,
                    const std::function<Point(Point)>& place, FlatRings& out) {
  for (const auto& [key, rings] : m[size_t(id)].shapes)
    for (const Ring& r : rings) {
      Ring placed;
      for (const Point& p : r) placed.push_back(place(p));
      out[key].push_back(placed);
    }
  for (const ModelRef& r : m[size_t(id)].refs) {
    const int32_t cols = r.array ? r.columns : 1;
    const int32_t rows = r.array ? r.rows : 1;
    for (int32_t a = 0; a < cols; ++a)
      for (int32_t b = 0; b < rows; ++b) {
        const Point o = ElementOrigin(r, a, b);
        Flatten(m, r.child,
                [&, o](Point p) {
                  return place(Place(o.x, o.y, r.orientation, r.mag, p));
                },
                out);
      }
  }
}

inline FlatRings Flatten(const Model& m, int32_t id) {
  FlatRings out;
  Flatten(m, id, [](Point p) { return p; }, out);
  return out;
}

inline Box BoxOfFlat(const FlatRings& flat) {
  Box b;
  for (const auto& [key, rings] : flat)
    for (const Ring& r : rings) b.Merge(cell_test::BoxOf(r));
  return b;
}

// Loads the model into an empty library: cell i is named "c<i>"; shapes go
// in as shared shapes, references with their placed boxes, boxes bottom-up.
// Every flag is left clear.
inline void Build(LibDB& lib, const Model& m) {
  for (size_t i = 0; i < m.size(); ++i) {
    std::string name("c");
    name.append(std::to_string(i));
    lib.AddCell(name.c_str());
  }
  for (size_t i = m.size(); i-- > 0;) {
    DBCell* cell = lib.cells[i];
    for (const auto& [key, rings] : m[i].shapes) {
      if (rings.empty()) continue;
      PSList list;
      for (const Ring& r : rings) cell_test::AppendRing(list, r);
      cell->InsertPolygons(list, key, false);
      ClearPointList(list);
    }
    std::vector<SRef*> refs;
    Box box = cell->box;
    for (const ModelRef& r : m[i].refs) {
      const Trans t(r.x, r.y, float(r.mag), r.orientation);
      SRef* ref = r.array ? new ARef(t, r.child, r.columns, r.rows,
                                     r.columnPitch, r.rowPitch)
                          : new SRef(t, r.child);
      box.Merge(ref->GetBox(lib.cells[size_t(r.child)]->box));
      refs.push_back(ref);
    }
    cell->box = box;
    if (!refs.empty()) {
      LayerTree& tree = cell->FindOrCreateTree(ReferenceKey, box);
      for (SRef* ref : refs)
        DBSearchSystem::Insert(tree,
                               ref->GetBox(lib.cells[size_t(ref->CellId())]->box),
                               ref);
    }
    cell->flags = 0;
  }
}

// Adds one reference to a built cell (tree created when missing; the cell's
// box is left alone).
inline SRef* AddRef(LibDB& lib, int32_t parent, SRef* ref) {
  DBCell* cell = lib.cells[size_t(parent)];
  LayerTree& tree = cell->FindOrCreateTree(ReferenceKey, cell->box);
  DBSearchSystem::Insert(tree, ref->GetBox(lib.cells[size_t(ref->CellId())]->box),
                         ref);
  return ref;
}

// A ring rotated to start at its smallest vertex (x, then y); direction
// kept.
inline std::vector<std::pair<int32_t, int32_t>> Canonical(const Ring& r) {
  size_t k = 0;
  for (size_t i = 1; i < r.size(); ++i)
    if (r[i].x < r[k].x || (r[i].x == r[k].x && r[i].y < r[k].y)) k = i;
  std::vector<std::pair<int32_t, int32_t>> out;
  for (size_t i = 0; i < r.size(); ++i) {
    const Point& p = r[(k + i) % r.size()];
    out.emplace_back(p.x, p.y);
  }
  return out;
}

using RingSet = std::map<LayerKey, std::vector<std::vector<std::pair<int32_t, int32_t>>>>;

inline RingSet Canonical(const FlatRings& flat) {
  RingSet out;
  for (const auto& [key, rings] : flat) {
    auto& v = out[key];
    for (const Ring& r : rings) v.push_back(Canonical(r));
    std::sort(v.begin(), v.end());
  }
  return out;
}

inline FlatRings RingsOf(const LayerRings& rings) {
  FlatRings out;
  for (const auto& [key, list] : rings) {
    if (list.head == nullptr) continue;
    out[LayerKey(key)] = cell_test::RingsOf(list);
  }
  return out;
}

// Winding number of the ring around (px, py) (a point never on an edge).
inline int Winding(const Ring& r, double px, double py) {
  int w = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    const Point& a = r[i];
    const Point& b = r[(i + 1) % r.size()];
    const double cross =
        (double(b.x) - a.x) * (py - a.y) - (px - a.x) * (double(b.y) - a.y);
    if (a.y <= py) {
      if (b.y > py && cross > 0) ++w;
    } else if (b.y <= py && cross < 0) {
      --w;
    }
  }
  return w;
}

inline int WindingSum(const std::vector<Ring>& rings, double px, double py) {
  int w = 0;
  for (const Ring& r : rings) w += Winding(r, px, py);
  return w;
}

// Distance from (px, py) to the nearest edge of the rings.
inline double NearestEdge(const std::vector<Ring>& rings, double px,
                          double py) {
  double best = 1e300;
  for (const Ring& r : rings)
    for (size_t i = 0; i < r.size(); ++i) {
      const double ax = r[i].x, ay = r[i].y;
      const double bx = r[(i + 1) % r.size()].x, by = r[(i + 1) % r.size()].y;
      const double dx = bx - ax, dy = by - ay;
      const double len2 = dx * dx + dy * dy;
      double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
      t = std::clamp(t, 0.0, 1.0);
      const double ex = ax + t * dx - px, ey = ay + t * dy - py;
      best = std::min(best, ex * ex + ey * ey);
    }
  return std::sqrt(best);
}

// Random hierarchy: cell 0 on top, cell i places only cells above i, so the
// placement graph has no cycle. Layers include 64/0 (key 0x4000) and a
// datatype above 127. Magnifications are 1 or (with magnify) 2.
inline Model RandomModel(std::mt19937& rng, int cells, bool general,
                         bool magnify) {
  static const LayerKey kKeys[] = {0x0100, 0x4000, 0x0A80, 0x0005};
  std::uniform_int_distribution<int> keyPick(0, 3);
  std::uniform_int_distribution<int> pos(-150, 150);
  std::uniform_int_distribution<int> orient(0, 7);
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> count(1, 4);
  std::uniform_int_distribution<int> pitch(30, 160);
  Model m(static_cast<size_t>(cells));
  for (int i = 0; i < cells; ++i) {
    const int shapes = 1 + percent(rng) % 5;
    for (int s = 0; s < shapes; ++s) {
      const Ring r = cell_test::Moved(cell_test::RandomShape(rng, general),
                                      pos(rng), pos(rng));
      const LayerKey key = kKeys[keyPick(rng)];
      m[size_t(i)].shapes[key].push_back(r);
      // A shape repeated elsewhere becomes one shared shape with two
      // placements.
      if (percent(rng) < 30)
        m[size_t(i)].shapes[key].push_back(
            cell_test::Moved(r, pos(rng), pos(rng)));
    }
    if (i + 1 >= cells) continue;
    const int refs = i == 0 ? 3 : percent(rng) % 3;
    for (int k = 0; k < refs; ++k) {
      ModelRef r;
      r.child = i + 1 + int(rng() % unsigned(cells - i - 1));
      r.x = pos(rng) * 3;
      r.y = pos(rng) * 3;
      r.orientation = uint8_t(orient(rng));
      r.mag = magnify && percent(rng) < 25 ? 2 : 1;
      if (percent(rng) < 40) {
        r.array = true;
        r.columns = int16_t(count(rng));
        r.rows = int16_t(count(rng));
        r.columnPitch = pitch(rng) * (percent(rng) < 30 ? -1 : 1);
        r.rowPitch = pitch(rng) * (percent(rng) < 30 ? -1 : 1);
      }
      m[size_t(i)].refs.push_back(r);
    }
  }
  return m;
}

}  // namespace velmar::hier_test
