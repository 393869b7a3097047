// Runs of the SPACE and WIDTH engines on test rings and the comparison of
// their region unions on a raster: the sweeps of both kinds (axis-parallel
// and 45-degree, the indexed SPACE sweep) and the edge-band checks, each fed
// the layer merged the way the command layer feeds it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/box.h"
#include "geometry/edge_index.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/space_sweep.h"
#include "geometry/space_sweep_indexed.h"
#include "support/boolean_oracle.h"
#include "support/distance_oracle.h"
#include "support/random_shapes.h"

namespace velmar::distance_runs {

using distance_oracle::Rings;

enum class Engine {
  SpaceManhattan,  // SweepSpaceManhattan
  WidthManhattan,  // SweepWidthManhattan
  Space45,         // SweepSpace45
  Width45,         // SweepWidthAnyAngle
  SpaceIndexed,    // SweepSpaceIndexed
  SpaceBands,      // CheckSpaceEdges over the layer's own edge index
  WidthBands,      // CheckWidthEdges over the layer's own edge index
};

inline bool IsWidth(Engine e) {
  return e == Engine::WidthManhattan || e == Engine::Width45 || e == Engine::WidthBands;
}

inline const char* NameOf(Engine e) {
  switch (e) {
    case Engine::SpaceManhattan: return "SweepSpaceManhattan";
    case Engine::WidthManhattan: return "SweepWidthManhattan";
    case Engine::Space45: return "SweepSpace45";
    case Engine::Width45: return "SweepWidthAnyAngle";
    case Engine::SpaceIndexed: return "SweepSpaceIndexed";
    case Engine::SpaceBands: return "CheckSpaceEdges";
    case Engine::WidthBands: return "CheckWidthEdges";
  }
  return "?";
}

// The merged layer (one operand) as rings.
inline Rings MergedLayer(const std::vector<oracle::Ring>& rings) {
  ScratchList merged;
  test::MergeRings(rings, merged.list);
  return oracle::ResultRings(merged.list);
}

// Merges the rings (all one layer), sorts them for the sweeps and runs the
// engine with rule d (positive; WIDTH sweeps get it negated); returns the
// violation rings.
inline Rings RunEngine(Engine e, const std::vector<oracle::Ring>& rings, int32_t d, int kind,
                       int32_t unit = 1) {
  ScratchList list, out;
  test::MergeRings(rings, list.list);
  if (list.list.IsEmpty()) return {};
  if (e == Engine::SpaceBands || e == Engine::WidthBands) {
    const Box b = ListBBox(list.list);
    EdgeIndex index(list.list, Box(b.x1 - d - 1, b.y1 - d - 1, b.x2 + d + 1, b.y2 + d + 1));
    if (e == Engine::SpaceBands)
      CheckSpaceEdges(list.list, index.tree, out.list, d, unit, kind);
    else
      CheckWidthEdges(list.list, index.tree, out.list, d, unit, kind);
  } else {
    SortPoints(list.list, ComparePointLess);
    switch (e) {
      case Engine::SpaceManhattan:
        SweepSpaceManhattan(list.list, out.list, d, unit, 1, kind, false);
        break;
      case Engine::WidthManhattan:
        SweepWidthManhattan(list.list, out.list, -d, unit, 1, kind);
        break;
      case Engine::Space45: SweepSpace45(list.list, out.list, d, unit, 1, kind, false); break;
      case Engine::Width45: SweepWidthAnyAngle(list.list, out.list, -d, unit, 1, kind); break;
      case Engine::SpaceIndexed:
        SweepSpaceIndexed(list.list, ListBBox(list.list), out.list, d, unit, 1, kind);
        break;
      default: break;
    }
  }
  EXPECT_EQ(CountLinkPoints(out.list), out.list.pointCount) << NameOf(e);
  return oracle::ResultRings(out.list);
}

// The bounding box of every point of the ring sets.
inline Box FrameOf(std::initializer_list<const Rings*> sets) {
  Box b;
  for (const Rings* r : sets)
    for (const auto& ring : *r)
      for (const Point& p : ring) b.Extend(p.x, p.y);
  return b;
}

// Which cells a union comparison looks at.
enum class Cells { Outside, Inside, All };

// Compares the unions of two region sets cell by cell over the layer's
// bounding box widened by `margin`, on the cells outside the layer, inside
// it, or all; "" when they agree, else the first differing cells
// ("reported" where `a` has a cell that `b` lacks, "missed" the reverse).
// With `excessOnly`, only cells of `a`'s union are compared: "" when a's
// union lies within b's on the chosen cells.
inline std::string UnionDiff(const Rings& a, const Rings& b, const Rings& layer, Cells where,
                             int32_t margin, bool excessOnly = false) {
  const Box frame = distance_oracle::Widened(FrameOf({&layer, &a, &b}), margin);
  distance_oracle::Raster labels(frame), ra(frame), rb(frame);
  distance_oracle::PaintLayer(labels, layer, 1);
  distance_oracle::PaintUnion(ra, a);
  distance_oracle::PaintUnion(rb, b);
  return distance_oracle::RasterDiff(ra, rb, [&](int32_t x, int32_t y) {
    if (excessOnly && ra.At(x, y) == 0) return false;
    if (where == Cells::All) return true;
    return (labels.At(x, y) == 1) == (where == Cells::Inside);
  });
}

// Cells of `a`'s union that `b`'s union lacks.
inline std::string UnionExcess(const Rings& a, const Rings& b, const Rings& layer, Cells where,
                               int32_t margin) {
  return UnionDiff(a, b, layer, where, margin, true);
}

}  // namespace velmar::distance_runs
