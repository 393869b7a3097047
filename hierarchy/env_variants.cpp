// Environment records: canonical orders and the list helpers of
// level-by-level processing.
#include "hierarchy/env_variants.h"

#include <algorithm>

#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"

namespace velmar {

int CompareIntPair(int32_t a1, int32_t a2, int32_t b1, int32_t b2) {
  if (a1 != b1) return a1 < b1 ? -1 : 1;
  if (a2 != b2) return a2 < b2 ? -1 : 1;
  return 0;
}

int CompareLayerShapes(const LayerShapes& a, const LayerShapes& b) {
  int c = CompareIntPair(a.key, a.shapes.count, b.key, b.shapes.count);
  if (c != 0) return c;
  const CPgonListNode* p = a.shapes.first;
  const CPgonListNode* q = b.shapes.first;
  for (; p != nullptr && q != nullptr; p = p->next, q = q->next) {
    c = CPgonList::CompareShapes(p, q);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  return 0;
}

int CompareCellRecords(const HierWorkRecord& a, const HierWorkRecord& b) {
  int c = CompareIntPair(int32_t(a.refs.size()), int32_t(a.layers.size()),
                         int32_t(b.refs.size()), int32_t(b.layers.size()));
  if (c != 0) return c;
  for (size_t i = 0; i < a.refs.size(); ++i) {
    c = SRef::Compare(a.refs[i].get(), b.refs[i].get());
    if (c != 0) return c < 0 ? -1 : 1;
  }
  for (size_t i = 0; i < a.layers.size(); ++i) {
    c = CompareLayerShapes(*a.layers[i], *b.layers[i]);
    if (c != 0) return c;
  }
  return 0;
}

void MergeLayerGeometry(LayerRings& source, LayerRings& target) {
  for (auto& [key, list] : source) {
    if (list.head == nullptr) continue;
    OrientRings(list);
    ScratchList merged;
    BooleanSweep(list, &merged.list, BooleanOpCode::Merge, false);
    ClearPointList(list);
    if (merged.list.head == nullptr) continue;
    BooleanSweep(merged.list, nullptr, BooleanOpCode::CutHoles, false);
    SpliceList(target[key], merged.list);
  }
}

int UniqueRefs(std::vector<std::unique_ptr<SRef>>& refs) {
  if (refs.size() < 2) return 0;
  size_t kept = 1;
  for (size_t i = 1; i < refs.size(); ++i) {
    if (SRef::Compare(refs[kept - 1].get(), refs[i].get()) == 0) continue;
    refs[kept++] = std::move(refs[i]);
  }
  const int removed = int(refs.size() - kept);
  refs.resize(kept);  // the duplicates left behind are deleted here
  return removed;
}

void SortRefs(std::vector<std::unique_ptr<SRef>>& refs) {
  std::stable_sort(refs.begin(), refs.end(),
                   [](const std::unique_ptr<SRef>& a,
                      const std::unique_ptr<SRef>& b) {
                     return SRef::Compare(a.get(), b.get()) < 0;
                   });
}

void SortUniqueRefs(std::vector<std::unique_ptr<SRef>>& refs) {
  if (refs.size() < 2) return;
  SortRefs(refs);
  UniqueRefs(refs);
}

void FreeWorkRecord(HierWorkRecord& record) {
  record.refs.clear();
  record.layers.clear();
}

}  // namespace velmar
