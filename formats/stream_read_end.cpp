#include "formats/stream_read_end.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "foundation/error.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {

void CountProblemReport(int32_t& count, int32_t limit) {
  if (count == limit - 1) PrintMessage("Same warning will not be shown any more\n");
  ++count;
}

int32_t ReportNm(const LibDB* lib, int64_t v) {
  const double d = lib != nullptr ? lib->unitPerNm : 1.0;
  const double nm = std::floor(double(v) / d + 0.5);
  if (!(nm > double(INT32_MIN))) return INT32_MIN;
  if (!(nm < double(INT32_MAX))) return INT32_MAX;
  return int32_t(nm);
}

void ReportReadProgress(double fraction, double& last) {
  if (fraction < 0.99 && fraction > last + 0.1) {
    PrintMessage("%d%% read\n", int(100.0 * fraction));
    last = fraction;
  }
}

ElementLayer TakeElementLayer(int64_t layer, int64_t datatype,
                              const LayerKeySet* filter,
                              const std::map<LayerKey, LayerKey>* map,
                              LayerKey& key, int64_t& shownLayer,
                              int64_t& shownDatatype) {
  shownLayer = layer;
  shownDatatype = datatype;
  if (!IsLibraryPair(int32_t(std::clamp<int64_t>(layer, -1, 256)),
                     int32_t(std::clamp<int64_t>(datatype, -1, 256)))) {
    return ElementLayer::OutOfRange;
  }
  key = MakeLayerKey(int32_t(layer), int32_t(datatype));
  if (filter != nullptr && filter->count(key) == 0) return ElementLayer::Filtered;
  if (map == nullptr) return ElementLayer::Keep;
  auto it = map->find(key);
  if (it == map->end()) return ElementLayer::Keep;
  if (IsDrawnLayerKey(it->second)) {
    key = it->second;
    return ElementLayer::Keep;
  }
  shownLayer = LayerOf(it->second);
  shownDatatype = DatatypeOf(it->second);
  return ElementLayer::OutOfRange;
}

void ReportLayerOutOfRange(int32_t& reports, int32_t& skipped, int64_t layer,
                           int64_t datatype, int32_t xNm, int32_t yNm,
                           const std::string& cellName) {
  if (ProblemReportable(reports)) {
    PrintMessage("Warning: layer (%lld %lld) out of range 0..255 at (%d, %d)nm on cell %s, skip\n",
                 (long long)layer, (long long)datatype, xNm, yNm, cellName.c_str());
  }
  CountProblemReport(reports);
  ++skipped;
}

int32_t StoreReadReferences(LibDB& lib, DBCell* cell, std::vector<ARef>& refs) {
  if (refs.empty()) {
    cell->flags |= DBCell::Leaf;
    return 0;
  }
  // A 1 x 1 array is a single placement. The list is sorted through
  // pointers; the kept references are copied in that order (ARef copies
  // keep the array bit of their source).
  for (ARef& r : refs) {
    if (r.columns == 1 && r.rows == 1) {
      r.cellId &= SRef::kIdMask;
      r.columnPitch = r.rowPitch = 0;
    }
  }
  std::vector<const ARef*> order;
  order.reserve(refs.size());
  for (const ARef& r : refs) order.push_back(&r);
  std::stable_sort(order.begin(), order.end(), [](const ARef* a, const ARef* b) {
    return SRef::Compare(a, b) < 0;
  });
  auto last = std::unique(order.begin(), order.end(), [](const ARef* a, const ARef* b) {
    return SRef::Compare(a, b) == 0;
  });
  const int32_t dropped = int32_t(order.end() - last);
  order.erase(last, order.end());

  std::vector<ARef> sorted;
  sorted.reserve(order.size());
  for (const ARef* r : order) sorted.push_back(*r);
  lib.WriteReadReferences(cell, sorted);
  refs.swap(sorted);
  return dropped;
}

void PrintReadReportHead(const LibDB& lib, size_t definitionsBefore, int32_t redefined) {
  PrintMessage("\nDefined Layers:\n");
  for (const auto& [key, info] : lib.layers) {
    PrintMessage("  %d %d\n", int(LayerOf(key)), int(DatatypeOf(key)));
  }
  PrintMessage("\nTotal %d cells:\n", int(lib.cells.size()));
  const int newly = int(lib.cellDefs.size() - definitionsBefore);
  if (redefined > 0) {
    PrintMessage("  Total %d cells newly defined and %d cells redefined\n", newly, redefined);
  } else {
    PrintMessage("  Total %d cells newly defined\n", newly);
  }
}

void PrintReadReportTail(const ReadReportTail& t) {
  PrintMessage("  %d single & %d arrary references (%d duplicates), %d magnifications\n",
               t.singleRefs, t.arrayRefs, t.duplicateRefs, t.magnifiedRefs);
  if (t.badLayerElements > 0) {
    PrintMessage("  %d elements on layers outside 0..255 skipped\n", t.badLayerElements);
  }
  if (t.overLimit) {
    PrintMessage("  Detailed problem reports are limited to %d cases\n", kProblemReportLimit);
  }
}

void CheckReferenceCycles(const LibDB& lib, const char* unit) {
  // Depth-first walk over the definitions' references; a reference to a
  // cell that is still on the walk's path closes a cycle.
  const size_t n = lib.cells.size();
  std::vector<uint8_t> state(n, 0);  // 0 unseen, 1 on the path, 2 done
  std::vector<std::pair<int32_t, size_t>> stack;
  for (const CellDef* start : lib.cellDefs) {
    if (start == nullptr || start->cellId < 0 || size_t(start->cellId) >= n ||
        state[start->cellId] != 0) {
      continue;
    }
    stack.emplace_back(start->cellId, 0);
    state[start->cellId] = 1;
    while (!stack.empty()) {
      auto& [id, next] = stack.back();
      const CellDef* def = lib.DefinitionOf(id);
      if (def == nullptr || next >= def->refs.size()) {
        state[id] = 2;
        stack.pop_back();
        continue;
      }
      const int32_t child = def->refs[next++].CellId();
      if (size_t(child) >= n) continue;
      if (state[child] == 1) {
        const DBCell* c = lib.cells[child];
        throw Error("Reference cycle: cell " +
                        (c && c->name ? *c->name : std::to_string(child)) +
                        " is placed inside itself",
                    unit);
      }
      if (state[child] == 0) {
        state[child] = 1;
        stack.emplace_back(child, 0);
      }
    }
  }
}

void FinishStreamRead(LibDB& lib, int32_t magnifiedRefs, const char* unit) {
  lib.magnified += magnifiedRefs;
  CheckReferenceCycles(lib, unit);

  lib.BuildParentsAfterRead();
  lib.OrderCells(false);
  lib.CollectRoots();
  lib.hierChanged = 0;
  lib.PropagateBoxes();
  PrintMessage("Hierarchy depth = %d\n", lib.depth);
  for (int32_t root : lib.roots) {
    const DBCell* cell = lib.cells[root];
    const Box& b = cell->box;
    PrintMessage("  Root %s: (%d %d) - (%d %d) nm\n", cell->name ? cell->name->c_str() : "",
                 ReportNm(&lib, b.x1), ReportNm(&lib, b.y1), ReportNm(&lib, b.x2),
                 ReportNm(&lib, b.y2));
  }

  lib.CloseDataFile();
  lib.WriteNames();
  lib.WriteInfo();
  lib.WriteParents();
}

}  // namespace velmar
