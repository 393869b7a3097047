// Hierarchy handler: parameters, the run, and the vertex statistics.
#include "hierarchy/hierarchy_handler.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "hierarchy/env_variants.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/hier_iterator.h"

namespace velmar {

namespace {

const char* Now() {
  const time_t now = std::time(nullptr);
  return std::ctime(&now);
}

// A vertex total as the statistics lines print it: in thousands (integer
// division) from 10000 on.
void PrintCount(const char* full, const char* thousands, int64_t n) {
  if (n >= 10000)
    PrintMessage(thousands, (long long)(n / 1000));
  else
    PrintMessage(full, (long long)n);
}

// Rounds half away from zero.
long long RoundHalfAway(double v) {
  return (long long)(v < 0 ? v - 0.5 : v + 0.5);
}

// A box coordinate in nanometres: floor(0.5 + v / d).
long long ToNm(int32_t v, double d) {
  return (long long)std::floor(0.5 + double(v) / d);
}

}  // namespace

HierarchyHandler::~HierarchyHandler() { FreeVariantSets(); }

void HierarchyHandler::FreeVariantSets() {
  if (lib == nullptr) return;
  for (HierCellRecord& r : lib->hierRecords) {
    delete r.variants;
    r.variants = nullptr;
  }
}

void HierarchyHandler::SetLayers(const std::set<int>& set1,
                                 const std::set<int>& set2) {
  layers1.insert(set1.begin(), set1.end());
  layers2.insert(set2.begin(), set2.end());
  // Both sets are ordered: walk them in step.
  auto a = layers1.begin();
  auto b = layers2.begin();
  layersDiffer = false;
  for (; a != layers1.end() && b != layers2.end(); ++a, ++b)
    if (*a != *b) {
      layersDiffer = true;
      return;
    }
  layersDiffer = a != layers1.end() || b != layers2.end();
}

void HierarchyHandler::Run() {
  LibDB& L = *lib;
  L.LoadAll(false, true);
  // The tables loaded from the directory may be stale: rebuild them, and
  // refuse a library that places a cell inside itself before any pass
  // changes a thing.
  L.BuildParents();
  L.OrderCells(false);
  L.CollectRoots();
  {
    std::vector<char> listed(L.cells.size(), 0);
    for (int32_t id : L.cellOrder) listed[size_t(id)] = 1;
    for (size_t id = 0; id < L.cells.size(); ++id)
      if (L.cells[id] != nullptr && !listed[id])
        ThrowPlacementCycle(L, int32_t(id));
  }

  int32_t removed = L.RemoveEmptyCells();
  if (margin >= -1) {
    L.ReplaceArefs();
    if (flattenSize >= 1) removed += L.Flatten(flattenSize);
    if (splitSize >= 1) L.Split(splitSize);
    L.CreateLeafCells();
    if (explodeRate >= 1) removed += L.Explode1(float(explodeRate * 0.01));
    if (sparseRate >= 1) removed += L.Explode2(float(sparseRate * 0.01));
    if (overlapRate >= 1) removed += L.Explode3(float(overlapRate * 0.01));
    if (!L.explodeCells.empty()) removed += L.ExplodeManual();
  }

  L.BuildParents();
  L.OrderCells(margin >= 0);
  L.CollectRoots();
  L.hierChanged = 0;
  cellCountBefore = int32_t(L.cells.size());

  const double d = L.unitPerNm;
  PrintMessage("\n%sTotal %d cells\n", Now(), int(L.cells.size()) - removed);
  PrintMessage("Hierarchy depth = %d\n", L.depth);
  for (int32_t id : L.roots) {
    const DBCell* c = L.cells[size_t(id)];
    PrintMessage("  Root %s: (%lld %lld) - (%lld %lld) nm\n",
                 c->name != nullptr ? c->name->c_str() : "",
                 ToNm(c->box.x1, d), ToNm(c->box.y1, d), ToNm(c->box.x2, d),
                 ToNm(c->box.y2, d));
  }
  if (L.roots.size() != 1)
    throw Error("There must be single root to process", "Hierarhy Handler", 0);

  int64_t n = 0;
  double flat = 0;
  L.VertexStatistics(n, flat, true);
  if (n >= 10000)
    PrintMessage("    Total vertice count = %lldk, total flattened count = %lldk\n",
                 (long long)(n / 1000), RoundHalfAway(flat / 1000));
  else
    PrintMessage("    Total vertice count = %lld, total flattened count = %lld\n",
                 (long long)n, RoundHalfAway(flat));
  PrintMessage("  Hierarchy compress ratio = %.1f\n", flat / double(n));

  if (margin < 0) {
    if (margin == -1) L.WriteParents();
    return;
  }

  Prepare();
  ProcessLevels();
  const int32_t finished = inverseMode == 0 ? Finish() : 0;
  const int32_t size = int32_t(L.cells.size());
  PrintMessage("%s", Now());
  PrintMessage("Total %d cells (%d generated)\n", size - finished - removed,
               size - cellCountBefore - finished);

  if (inverseMode == 0) {
    L.hierRecords.resize(L.cells.size());
    for (HierCellRecord& r : L.hierRecords) {
      r.children.clear();
      r.parents.clear();
    }
    for (int32_t id = 0; id < size; ++id) L.AddParentLinks(id);
    L.OrderCells(false);
    L.CollectRoots();
    L.hierChanged = 0;
    // Placed boxes of redirected references and boxes of cells whose
    // children grew by their environment.
    if (L.UpdateRefBoxes()) L.SetFlags(LibDB::InfoDirty);
  }

  int64_t m = 0;
  double unused = 0;
  L.VertexStatistics(m, unused, false);
  PrintCount("    Total vertice count = %lld\n", "    Total vertice count = %lldk\n", m);
  PrintMessage("  Hierarchy compress ratio = %.1f\n", flat / double(m));
  int64_t p = m;
  for (size_t id = 0; id < L.cells.size() && id < L.hierRecords.size(); ++id)
    if (L.cells[id] != nullptr) p += L.hierRecords[id].processedVertexCount;
  PrintCount("    Total processing vertice count = %lld\n",
             "    Total processing vertice count = %lldk\n", p);
  PrintMessage("  Hierarchy process ratio = %.1f\n", flat / double(p));

  // Every cell still modified is written (in an inverse run too: a cell
  // placed by a stored cell must be on disk), then the directory files.
  L.SaveModified();
  for (const auto& [id, box] : growBack) {
    if (id < 0 || size_t(id) >= L.cells.size() || L.cells[size_t(id)] == nullptr)
      continue;
    DBCell* c = L.cells[size_t(id)];
    const Box before = c->box;
    c->box.Merge(box);
    if (!(before == c->box)) L.SetFlags(LibDB::InfoDirty);
  }
  if (L.HasFlags(LibDB::InfoDirty)) {
    L.WriteInfo();
    L.WriteParents();
  }
  if (L.HasFlags(LibDB::NamesDirty)) L.WriteNames();
}

// ---------------------------------------------------------------------------
// Vertex statistics and hierarchy-record helpers of the library.

void LibDB::VertexStatistics(int64_t& total, double& flattened,
                             bool recompute) {
  total = 0;
  flattened = 0;
  if (hierRecords.size() < cells.size()) hierRecords.resize(cells.size());
  std::vector<double> w(cells.size(), 0.0);
  for (auto it = cellOrder.rbegin(); it != cellOrder.rend(); ++it) {
    const int32_t c = *it;
    DBCell* cell = cells[size_t(c)];
    if (cell == nullptr) continue;
    HierCellRecord& r = hierRecords[size_t(c)];
    if (recompute) {
      const int64_t v = cell->VertexCount(false);
      r.vertexCount = int32_t(std::min<int64_t>(v, INT32_MAX));
    }
    total += r.vertexCount;
    w[size_t(c)] += r.vertexCount;
    for (const auto& [parent, k] : r.parents)
      if (parent >= 0 && size_t(parent) < w.size())
        w[size_t(parent)] += w[size_t(c)] * double(k);
  }
  if (!cellOrder.empty()) flattened = w[size_t(cellOrder.front())];
}

void LibDB::CopyHierRecord(int32_t parent, int32_t from, int32_t to) {
  if (size_t(to) >= hierRecords.size()) {
    hierRecords.resize(size_t(to) + 1);
    const HierCellRecord& f = hierRecords[size_t(from)];
    HierCellRecord& t = hierRecords[size_t(to)];
    t.box1 = f.box1;
    t.box2 = f.box2;
    t.level = f.level;
    t.vertexCount = f.vertexCount;
  }
  HierCellRecord& t = hierRecords[size_t(to)];
  if (t.parents[parent]++ == 0) hierRecords[size_t(parent)].children.insert(to);
  HierCellRecord& f = hierRecords[size_t(from)];
  auto it = f.parents.find(parent);
  if (it != f.parents.end() && --it->second <= 0) {
    f.parents.erase(it);
    hierRecords[size_t(parent)].children.erase(from);
  }
}

}  // namespace velmar
