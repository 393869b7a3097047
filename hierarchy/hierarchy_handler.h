// Hierarchy handler: one run of hierarchical processing over a library.
//
// A run loads every cell, reshapes the library with the restructuring and
// explode passes, insists on a single top cell, and then walks the cells
// top-down, each before the cells it places. For every placement of a child
// it works out the child's environment: the geometry of the other
// placements within the interaction distance (margin) of the child's
// layer-set-1 geometry. Geometry brought in is stored in the child on work
// layers (drawn key | 0x10000); neighbours left as references go on the
// environment reference layer (key 0x400001). Placements with different
// environments get different variant cells, named base_vlN.
//
// In inverse mode (the hierarchical inverse) the same walk stores into every
// cell, on the result key, the part of the cell's box that its shapes,
// placements and received environment leave free.
//
// The handler lives for one command; everything it changes belongs to the
// library.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/box.h"
#include "geometry/point_system.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"

namespace velmar {

class DBCell;
struct HierWorkRecord;

// The environment reference layer: placements of neighbours kept as
// references next to the reference layer.
inline constexpr LayerKey EnvReferenceKey = ReferenceKey + 1;

class HierarchyHandler {
 public:
  // Rates in percent, as the rule record holds them.
  int32_t explodeRate = 0;
  int32_t sparseRate = 0;
  int32_t overlapRate = 0;
  int32_t geoLevel = 0;  // carried, not consulted
  // Sizes in database units.
  int32_t flattenSize = 0;
  int32_t splitSize = 0;
  // Interaction distance in database units (>= 0), or a mode:
  // -1 restructure, report and write the parents file; below -1 report only.
  int32_t margin = 0;
  LayerKeySet layers1;  // the child's own geometry (empty: all layers)
  LayerKeySet layers2;  // the surroundings (empty: all layers)
  std::string marker = "vl";
  LibDB* lib = nullptr;
  // Cell-table size once the library has been restructured.
  int32_t cellCountBefore = 0;
  // 0: hierarchy handling; otherwise 1 + the inverse command's mode (a
  // value of 1 or less subtracts the cell's own shapes as well).
  int32_t inverseMode = 0;
  LayerKey resultKey = 0;  // layer of the inverse
  bool layersDiffer = false;
  // Cells whose box was set for the run only (the hierarchical inverse's
  // working cell bounded by the working area): each box is grown back over
  // the given box before the directory files are written.
  std::vector<std::pair<int32_t, Box>> growBack;

  HierarchyHandler() = default;
  // Frees variant sets a failed run left on the library's records.
  ~HierarchyHandler();
  HierarchyHandler(const HierarchyHandler&) = delete;
  HierarchyHandler& operator=(const HierarchyHandler&) = delete;

  // Takes the keys of the two operation-layer sets; layersDiffer is set
  // unless they hold the same keys.
  void SetLayers(const std::set<int>& set1, const std::set<int>& set2);

  // The whole run (restructure, report, process, save). Throws Error.
  void Run();

  // --- Level-by-level processing --------------------------------------------
  // Origin ids and the layer-set boxes of every cell's hierarchy.
  void Prepare();
  // The top-down walk over the cell order.
  void ProcessLevels();
  // Works out the environment of every placement in cell parentId and
  // gives each its variant.
  void ProcessCell(int32_t parentId);
  // The neighbouring placements of childRef inside window (coordinates of
  // parentId), as new references relative to the parent.
  void CollectEnvironmentRefs(int32_t parentId, const Box& window,
                              const SRef& childRef,
                              std::vector<std::unique_ptr<SRef>>& out);
  // Whether the neighbour's geometry is brought into the child.
  bool ShouldBringIn(int32_t childId, const SRef& childRef,
                     int32_t neighbourId, const SRef& neighbourRef,
                     const Box& window);
  // The free part of the cell's box (inverse mode).
  void CellInverse(int32_t cellId, PSList& out);

  // --- Environment variants --------------------------------------------------
  // Turns the environment geometry into the record's canonical layers.
  void EncodeEnvironment(int32_t childId, LayerRings& env,
                         HierWorkRecord& record);
  // The environment of a leaf child cut to the reach of its own geometry,
  // minus its own shapes: out[k] = (R & env[k]) - own[k], R being the
  // child's own geometry widened by margin (computed once per child).
  void CombineGeometry(int32_t childId, LayerRings& env, LayerRings& out);
  // Gives the placement the variant of its environment (pending redirect);
  // returns the cell the placement takes.
  int32_t AssignVariant(int32_t parentId, int32_t childId, SRef* childRef,
                     std::unique_ptr<HierWorkRecord> record,
                     std::vector<std::pair<SRef*, int32_t>>& pending);
  // Processes the cell at pos and its variants (inserted right after it);
  // pos ends on the last cell processed.
  void ProcessVariants(std::list<int32_t>::iterator& pos);
  // Moves the record's references and shapes into the variant cell.
  void InstallEnvironment(HierWorkRecord& record, int32_t variantId);
  // Merges variants of non-leaf cells that ended up equal; returns the
  // cells removed.
  int32_t Finish();

 private:
  // The own geometry of a leaf child on layer set 1 and that geometry
  // widened by margin (gaps below 4 * margin filled).
  // Rings are listed with their boxes, so that each placement copies only
  // the rings near its environment.
  struct OwnGeometry {
    LayerRings own;
    PSList reach;
    std::vector<std::pair<PSPoint*, Box>> reachRings;
    std::map<uint32_t, std::vector<std::pair<PSPoint*, Box>>> ownRings;
    OwnGeometry() = default;
    ~OwnGeometry() { ClearPointList(reach); }
    OwnGeometry(const OwnGeometry&) = delete;
    OwnGeometry& operator=(const OwnGeometry&) = delete;
  };
  std::map<int32_t, std::unique_ptr<OwnGeometry>> ownGeometry_;
  OwnGeometry& OwnGeometryOf(int32_t childId);

  // Loads (indexed) a cell that holds nothing; builds its trees when only
  // raw layers are in memory.
  DBCell* Ready(int32_t id);
  // After processing: stores a modified cell, widens its box by its work
  // layers (hierarchy handling) and releases it.
  void StoreAndRelease(int32_t id);
  // The processing of one cell (inverse, environment of its children,
  // vertex count), shared by the level walk and the variant walk.
  void ProcessOne(int32_t id, bool variant);
  void FreeVariantSets();
};

}  // namespace velmar
