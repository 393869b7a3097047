// Fixtures for the tests of hierarchy processing runs: a model stored as a
// library directory and opened again, a walk over every leaf placement path
// of a library (the test's own, through the reference trees), and a unit
// raster of rings (winding numbers at pixel centres) for exact region
// comparisons of Manhattan geometry.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/box.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/hier_iterator.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"
#include "support/cell_fixtures.h"
#include "support/hier_fixtures.h"

namespace velmar::hier_run_test {

using cell_test::Ring;
using hier_test::FlatRings;
using hier_test::Model;

// Builds the model into a new library on dir and stores it there: every
// cell written, the index and names files written.
inline void StoreModel(const std::string& dir, const Model& m) {
  LibDB lib(dir.c_str(), 0);
  hier_test::Build(lib, m);
  for (DBCell* c : lib.cells) c->flags |= DBCell::Modified;
  lib.SaveModified();
  lib.BuildParents();
  lib.OrderCells(false);
  lib.CollectRoots();
  lib.WriteInfo();
  lib.WriteNames();
}

// The library stored on dir, its index and names read.
inline std::unique_ptr<LibDB> Open(const std::string& dir) {
  auto lib = std::make_unique<LibDB>(dir.c_str(), 0);
  lib->ReadTables();
  return lib;
}

// Every placement path from cell id down: fn(cell id, composed placement
// in the start cell) for the cells without references (leaves only) or for
// every cell on the way (all). Cells are loaded on demand.
inline void CellPaths(LibDB& lib, int32_t id, const Trans& t, bool all,
                      const std::function<void(int32_t, const Trans&)>& fn) {
  DBCell* c = lib.cells[size_t(id)];
  LoadCellOnDemand(lib, c, true);
  const LayerTree* tree = c->ReferenceTree();
  const bool leaf = tree == nullptr || tree->IsEmpty();
  if (leaf || all) fn(id, t);
  if (leaf) return;
  for (DBSearchNode* n = DBSearchSystem::First(*tree); n != nullptr;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData() || n->item == nullptr) continue;
    const SRef* r = n->Item<const SRef>();
    if (r->IsArray()) {
      const ARef* a = static_cast<const ARef*>(r);
      for (int32_t i = 0; i < a->columns; ++i)
        for (int32_t j = 0; j < a->rows; ++j)
          CellPaths(lib, r->CellId(), Trans::Compose(a->ElementTrans(i, j), t), all, fn);
    } else {
      CellPaths(lib, r->CellId(), Trans::Compose(*r, t), all, fn);
    }
  }
}

// The raw layers of a cell as rings mapped by t: drawn layers (mode 0) or
// work layers (mode 2, under their drawn key).
inline FlatRings PlacedLayers(LibDB& lib, int32_t id, const Trans& t, int mode) {
  DBCell* c = lib.cells[size_t(id)];
  LoadCellOnDemand(lib, c, true);
  LayerRings rings;
  c->RawLayersToRings(LayerKeySet(), rings, mode);
  FlatRings out;
  for (auto& [key, list] : rings) {
    if (list.head == nullptr) continue;
    for (Ring r : cell_test::RingsOf(list)) {
      for (Point& p : r) t.Apply(p.x, p.y);
      out[LayerKey(key)].push_back(r);
    }
  }
  return out;
}

// Unit pixels of a window: pixel (x, y) covers [x, x+1] x [y, y+1] and is
// inside a set of rings when a ring winds around its centre (either way:
// rings placed by a mirroring transform run clockwise). Rings are single
// outlines (holes cut open).
class Raster {
 public:
  explicit Raster(const Box& w)
      : w_(w), nx_(int64_t(w.x2) - w.x1), ny_(int64_t(w.y2) - w.y1),
        wind_(size_t(nx_ * ny_), 0) {}

  void Add(const std::vector<Ring>& rings) {
    for (const Ring& r : rings) {
      const Box b = cell_test::BoxOf(r);
      const int32_t x1 = std::max(b.x1, w_.x1), x2 = std::min(b.x2, w_.x2);
      const int32_t y1 = std::max(b.y1, w_.y1), y2 = std::min(b.y2, w_.y2);
      for (int32_t x = x1; x < x2; ++x)
        for (int32_t y = y1; y < y2; ++y)
          wind_[Index(x, y)] += std::abs(hier_test::Winding(r, x + 0.5, y + 0.5));
    }
  }
  bool In(int32_t x, int32_t y) const { return wind_[Index(x, y)] > 0; }
  const Box& window() const { return w_; }

  // Pixels within Chebyshev distance d of an inside pixel (square
  // dilation), over the same window.
  Raster Dilated(int32_t d) const {
    Raster out(w_);
    for (int32_t x = w_.x1; x < w_.x2; ++x)
      for (int32_t y = w_.y1; y < w_.y2; ++y) {
        if (!In(x, y)) continue;
        for (int32_t u = std::max(w_.x1, x - d); u < std::min(w_.x2, x + d + 1); ++u)
          for (int32_t v = std::max(w_.y1, y - d); v < std::min(w_.y2, y + d + 1); ++v)
            out.wind_[out.Index(u, v)] = 1;
      }
    return out;
  }

 private:
  size_t Index(int32_t x, int32_t y) const {
    return size_t((int64_t(x) - w_.x1) * ny_ + (int64_t(y) - w_.y1));
  }
  Box w_;
  int64_t nx_, ny_;
  std::vector<int32_t> wind_;
};

inline Box Grown(const Box& b, int32_t d) {
  return Box(b.x1 - d, b.y1 - d, b.x2 + d, b.y2 + d);
}

}  // namespace velmar::hier_run_test
