// Per-cell work record of hierarchy processing.
//
// A library keeps one record per cell id (LibDB::hierRecords). The layout
// database builds and reads the parent and child tables and the level; the
// remaining fields belong to hierarchy processing, which fills them while it
// walks the cell tree level by level.
#pragma once

#include <cstdint>
#include <map>
#include <set>

#include "foundation/box.h"

namespace velmar {

// Environment variants of a cell. Defined and owned by hierarchy processing
// (the record only carries the pointer, which hierarchy processing frees);
// declared here so the record can hold it without the layout database
// depending on the upper subsystem.
struct VariantSet;

struct HierCellRecord {
  // Id of the cell this cell derives from: the cell itself, or the base cell
  // of a variant. The library tables leave it unset (-1).
  int32_t originId = -1;
  // Ids of the cells that this cell places.
  std::set<int32_t> children;
  // Parent cell id -> number of placements of this cell in that parent (an
  // array reference counts columns x rows).
  std::map<int32_t, int32_t> parents;
  // Box of the layer-set-1 geometry of the cell's hierarchy; while cells are
  // marked for an edit or an explode pass, the union of the windows for
  // which the cell was marked.
  Box box1;
  // Box of the layer-set-2 geometry of the cell's hierarchy.
  Box box2;
  // The cell's environment variants, or null (owned by hierarchy processing).
  VariantSet* variants = nullptr;
  // Vertex count of the cell's own shapes.
  int32_t vertexCount = 0;
  // Vertex count recorded once the cell has been processed.
  int32_t processedVertexCount = 0;
  // Level in the cell order: 0 for top cells. Held in 32 bits: a legal file
  // may nest cells far deeper than 32,767 levels.
  int32_t level = 0;
};

}  // namespace velmar
