// Environment records of hierarchy processing.
//
// When a child is placed in a parent, level-by-level processing works out
// what surrounds that placement: neighbouring placements (kept as
// references) and neighbouring geometry (brought into the child's
// coordinates). A HierWorkRecord holds one such environment in canonical
// form, so that two placements with the same surroundings give records that
// compare equal without any geometric comparison:
// - references sorted by SRef::Compare, duplicates dropped;
// - per drawn layer key (ascending) the shapes encoded relative to their
//   lowest-left vertex, sorted by CPgonList::CompareShapes, equal shapes
//   merged into one shape with several placements.
//
// A VariantSet collects the distinct environments of one cell; each record
// names the cell (the base cell or a generated variant) that holds that
// environment.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "layoutdb/db_cell.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/trans.h"

namespace velmar {

// One layer of environment geometry: a drawn layer key and its shapes
// (owned; released with the record).
struct LayerShapes {
  LayerKey key = 0;
  RawLayer shapes;
};

// The environment of one placement.
struct HierWorkRecord {
  // The cell holding this environment.
  int32_t variantId = -1;
  // Neighbouring placements, in the child's coordinates; sorted and free of
  // duplicates once there is more than one.
  std::vector<std::unique_ptr<SRef>> refs;
  // Environment geometry per drawn layer, ascending keys.
  std::vector<std::unique_ptr<LayerShapes>> layers;
};

// Three-way orders (-1, 0, 1 at the first difference).
int CompareIntPair(int32_t a1, int32_t a2, int32_t b1, int32_t b2);
// {key, shape count}, then the shapes pairwise (CPgonList::CompareShapes).
int CompareLayerShapes(const LayerShapes& a, const LayerShapes& b);
// Reference count, layer count, references pairwise (SRef::Compare), layers
// pairwise (CompareLayerShapes).
int CompareCellRecords(const HierWorkRecord& a, const HierWorkRecord& b);

struct HierWorkRecordOrder {
  bool operator()(const std::unique_ptr<HierWorkRecord>& a,
                  const std::unique_ptr<HierWorkRecord>& b) const {
    return CompareCellRecords(*a, *b) < 0;
  }
};

// The distinct environments of one cell, hung on the cell's hierarchy
// record (HierCellRecord::variants) and owned through it by hierarchy
// processing.
struct VariantSet {
  // 1 for the base cell, raised by one for every generated variant.
  int32_t counter = 1;
  std::set<std::unique_ptr<HierWorkRecord>, HierWorkRecordOrder> records;
};

// For every layer of source: its rings oriented and merged; a non-empty
// result gets its holes cut open and is appended to target under the same
// key. The source lists are emptied.
void MergeLayerGeometry(LayerRings& source, LayerRings& target);

// In a list sorted by SRef::Compare: drops (and deletes) every reference
// equal to its predecessor. Returns the number dropped.
int UniqueRefs(std::vector<std::unique_ptr<SRef>>& refs);

// Sorts the references by SRef::Compare (stable).
void SortRefs(std::vector<std::unique_ptr<SRef>>& refs);

// Sorts the references by SRef::Compare and drops duplicates.
void SortUniqueRefs(std::vector<std::unique_ptr<SRef>>& refs);

// Releases the references and shapes of a record.
void FreeWorkRecord(HierWorkRecord& record);

}  // namespace velmar
