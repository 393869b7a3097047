// Hierarchical iterator and the helpers shared by the library's hierarchy
// walks.
#include "layoutdb/hier_iterator.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

#include "foundation/error.h"
#include "foundation/rounding.h"
#include "layoutdb/lib_db.h"

namespace velmar {

// ---------------------------------------------------------------------------
// Shared helpers

void LoadCellOnDemand(LibDB& lib, DBCell* cell, bool index) {
  if (cell->IsEmpty() && cell->dbFile != 0) lib.LoadCell(cell, index);
}

namespace {

// Turns (x, y) back by the inverse of orientation code c.
void TurnBack(uint8_t c, long double& x, long double& y) {
  const long double a = x, b = y;
  switch (c) {
    case 1: x = b; y = -a; break;    // inverse is code 3
    case 2: x = -a; y = -b; break;
    case 3: x = -b; y = a; break;    // inverse is code 1
    case 4: x = -a; y = b; break;
    case 5: x = -b; y = -a; break;
    case 6: x = a; y = -b; break;
    case 7: x = b; y = a; break;
    default: break;
  }
}

// floor(a / b) and ceil(a / b) for b != 0.
int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}
int64_t CeilDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) == (b < 0))) ++q;
  return q;
}

// The indices i of [0, n - 1] with lo < i * pitch < hi, as [*i0, *i1];
// false when there is none.
bool IndexRange(int64_t lo, int64_t hi, int32_t pitch, int32_t n, int32_t* i0,
                int32_t* i1) {
  int64_t a = 0, b = int64_t(n) - 1;
  if (pitch == 0) {
    if (!(lo < 0 && 0 < hi)) return false;
  } else if (pitch > 0) {
    a = std::max(a, FloorDiv(lo, pitch) + 1);
    b = std::min(b, CeilDiv(hi, pitch) - 1);
  } else {
    a = std::max(a, FloorDiv(hi, pitch) + 1);
    b = std::min(b, CeilDiv(lo, pitch) - 1);
  }
  if (a > b) return false;
  *i0 = int32_t(a);
  *i1 = int32_t(b);
  return true;
}

}  // namespace

Box ChildWindow(const Trans& e, const Box& window) {
  // A magnified placement maps the window to fractional coordinates: the
  // inverse transform would round them to the nearest unit, inward as
  // often as outward, and lose the edge of the window. Such windows are
  // mapped exactly below and rounded outward.
  if (!e.Magnified()) {
    try {
      Trans inverse = e;
      inverse.Invert();
      Box b = window;
      inverse.TransformBox(b);
      return b;
    } catch (const Error&) {
      // The mapped window leaves the coordinate range: map it exactly and
      // clamp it below.
    }
  }
  if (window.x1 > window.x2 || window.y1 > window.y2) return window;
  const bool magnified = e.Magnified();
  if (magnified && !(std::isfinite(e.mag) && e.mag != 0.0f))
    throw Error("Magnification cannot be inverted", "DB");
  long double xs[2], ys[2];
  const int32_t cx[2] = {window.x1, window.x2};
  const int32_t cy[2] = {window.y1, window.y2};
  for (int i = 0; i < 2; ++i) {
    long double x = (long double)cx[i] - e.x;
    long double y = (long double)cy[i] - e.y;
    TurnBack(e.orientation, x, y);
    if (magnified) {
      x /= e.mag;
      y /= e.mag;
    }
    xs[i] = x;
    ys[i] = y;
  }
  return Box(ClampToInt32(std::floor(std::min(xs[0], xs[1]))),
             ClampToInt32(std::floor(std::min(ys[0], ys[1]))),
             ClampToInt32(std::ceil(std::max(xs[0], xs[1]))),
             ClampToInt32(std::ceil(std::max(ys[0], ys[1]))));
}

DBCell* EnterableChild(const LibDB& lib, const SRef& ref) {
  const int32_t id = ref.CellId();
  if (size_t(id) >= lib.cells.size()) return nullptr;
  DBCell* child = lib.cells[size_t(id)];
  if (child == nullptr || !child->box.IsValid()) return nullptr;
  return child;
}

bool ArrayElementRange(const ARef& ref, const Box& childBox,
                       const Box& window, int32_t* c0, int32_t* c1,
                       int32_t* r0, int32_t* r1) {
  if (ref.columns < 1 || ref.rows < 1) return false;
  if (!childBox.IsValid() || !window.IsValid()) return false;
  Box first = childBox;  // element (0, 0)
  static_cast<const Trans&>(ref).TransformBox(first);
  // Element (a, b) is element (0, 0) moved by (a * columnPitch,
  // b * rowPitch), or (b * columnPitch, a * rowPitch) for odd orientations.
  const int64_t xlo = int64_t(window.x1) - first.x2;
  const int64_t xhi = int64_t(window.x2) - first.x1;
  const int64_t ylo = int64_t(window.y1) - first.y2;
  const int64_t yhi = int64_t(window.y2) - first.y1;
  const bool odd = ref.orientation < 8 && (ref.orientation & 1) != 0;
  if (!odd)
    return IndexRange(xlo, xhi, ref.columnPitch, ref.columns, c0, c1) &&
           IndexRange(ylo, yhi, ref.rowPitch, ref.rows, r0, r1);
  return IndexRange(ylo, yhi, ref.rowPitch, ref.columns, c0, c1) &&
         IndexRange(xlo, xhi, ref.columnPitch, ref.rows, r0, r1);
}

void ThrowPlacementCycle(const LibDB& lib, int32_t id) {
  std::string name;
  if (size_t(id) < lib.cells.size() && lib.cells[size_t(id)] != nullptr &&
      lib.cells[size_t(id)]->name != nullptr)
    name = *lib.cells[size_t(id)]->name;
  else
    name.append("#").append(std::to_string(id));
  throw Error("Cell " + name + " is placed inside itself", "DB");
}

// ---------------------------------------------------------------------------
// HierIterator

HierIterator::HierIterator(LibDB* library, DBCell* start, const Box* w,
                           const LayerKeySet* layerFilter, int32_t targetId)
    : lib(library),
      filter(layerFilter != nullptr && !layerFilter->empty() ? layerFilter
                                                             : nullptr),
      cell(start),
      window(*w),
      target(targetId) {}

DBSearchNode* HierIterator::First(Trans* outTrans, int32_t* layerKey,
                                  bool skipOwnShapes) {
  LayerPos pos = StartCell();
  if (skipOwnShapes) {
    pos = cell->indexedLayers.lower_bound(ReferenceKey);
    while (pos != cell->indexedLayers.end() && !IsReferenceLayer(pos->first))
      ++pos;
  }
  *layerKey = 0;
  return NextLayer(pos, outTrans, layerKey);
}

HierIterator::LayerPos HierIterator::StartCell() {
  LoadCellOnDemand(*lib, cell, true);
  if (!cell->rawLayers.empty() && !cell->IsIndexed()) cell->IndexLayers();
  return cell->indexedLayers.begin();
}

DBSearchNode* HierIterator::NextLayer(LayerPos pos, Trans* outTrans,
                                      int32_t* layerKey) {
  return Run(Step::Layers, pos, -1, -1, frames.size(), false, outTrans,
             layerKey);
}

bool HierIterator::Descend(LayerPos pos, Trans* work, int32_t* layerKey) {
  return Run(Step::Reference, pos, -1, -1, frames.size(), true, work,
             layerKey) != nullptr;
}

bool HierIterator::OnDescent(const DBCell* child, int32_t childId) const {
  if (child == cell) return true;
  if (frames.empty()) return false;
  if (frames.back().cell == child) return true;  // the start cell
  if (size_t(childId) >= depthOf_.size()) return false;
  const uint32_t d = depthOf_[size_t(childId)];
  return d != 0 && d <= frames.size() && frames[frames.size() - d].cell == child;
}

HierIterator::LayerPos HierIterator::Enter(DBCell* child, int32_t childId,
                                           const Trans& e, LayerPos pos,
                                           int32_t column, int32_t row) {
  // A cell on the descent (the current cell or a frame's cell) placed again
  // below itself would make the walk endless.
  // An environment reference may name the start cell itself (a twin
  // placement next to it): it is no cycle, as environment layers are not
  // walked below the start cell.
  if (pos->first == ReferenceKey && OnDescent(child, childId))
    ThrowPlacementCycle(*lib, childId);
  frames.push_front(HierFrame{trans, cell, window, pos, cursor, column, row});
  // Every frame the child pushes stands at this depth.
  if (size_t(childId) >= depthOf_.size())
    depthOf_.resize(size_t(childId) + 1, 0);
  depthOf_[size_t(childId)] = uint32_t(frames.size() + 1);
  window = ChildWindow(e, window);
  trans = Trans::Compose(e, trans);
  cell = child;
  return StartCell();
}

DBSearchNode* HierIterator::Run(Step step, LayerPos pos, int32_t column,
                                int32_t row, size_t floor, bool oneReference,
                                Trans* outTrans, int32_t* layerKey) {
  for (;;) {
    switch (step) {
      case Step::Layers: {
        // The current cell's layers from pos on: the first item of a shape
        // layer that passes the filter, or the start of a reference layer.
        for (; pos != cell->indexedLayers.end(); ++pos) {
          LayerTree& tree = pos->second;
          if (tree.IsEmpty()) continue;
          const LayerKey key = pos->first;
          if (IsReferenceLayer(key)) {
            // Environment references stand for the surroundings of the
            // start cell's placement: they are entered from the start cell
            // only. Below it they would lead back to placements around it,
            // the start cell's own among them.
            if (key != ReferenceKey && !frames.empty()) continue;
            cursor = DBSearchSystem::FirstInBox(tree, window);
            break;
          }
          if (filter != nullptr && filter->count(key & 0xFFFF) == 0) continue;
          DBSearchNode* node = DBSearchSystem::FirstInBox(tree, window);
          while (node != nullptr && node->item == nullptr)
            node = DBSearchSystem::NextInBox(node, window);
          if (node == nullptr) continue;
          cursor = node;
          frames.push_front(HierFrame{trans, cell, window, pos, cursor, -1, -1});
          *outTrans = trans;
          *layerKey = key;
          return cursor;
        }
        step = pos == cell->indexedLayers.end() ? Step::Climb : Step::Reference;
        break;
      }
      case Step::Reference: {
        // The reference at the cursor, or the next one of the layer.
        if (oneReference && frames.size() <= floor &&
            (cursor == nullptr || cursor->item == nullptr ||
             cursor->item == excluded))
          return nullptr;
        while (cursor != nullptr &&
               (cursor->item == nullptr || cursor->item == excluded))
          cursor = DBSearchSystem::NextInBox(cursor, window);
        if (cursor == nullptr) {
          ++pos;
          step = Step::Layers;
          break;
        }
        const SRef* ref = cursor->Item<const SRef>();
        const int32_t id = ref->CellId();
        if (target >= 0 && id == target) {
          frames.push_front(HierFrame{trans, cell, window, pos, cursor, -1, -1});
          *layerKey = pos->first;
          return cursor;
        }
        DBCell* child = EnterableChild(*lib, *ref);
        if (child == nullptr) {
          step = Step::NextReference;
        } else if (ref->IsArray()) {
          column = 0;
          row = 0;
          step = Step::Elements;
        } else {
          pos = Enter(child, id, *ref, pos, -1, -1);
          *layerKey = 0;
          step = Step::Layers;
        }
        break;
      }
      case Step::Elements: {
        // The array at the cursor, elements from (column, row) on in walk
        // order: the first whose placed child box meets the window.
        step = Step::NextReference;
        const ARef* ref = cursor->Item<const ARef>();
        const int32_t id = ref->CellId();
        DBCell* child = EnterableChild(*lib, *ref);
        int32_t c0, c1, r0, r1;
        if (child == nullptr ||
            !ArrayElementRange(*ref, child->box, window, &c0, &c1, &r0, &r1))
          break;
        bool entered = false;
        for (int32_t a = std::max(column, c0); a <= c1 && !entered; ++a) {
          for (int32_t b = std::max(a == column ? row : 0, r0); b <= r1; ++b) {
            const Trans e = ref->ElementTrans(a, b);
            Box placed = child->box;
            e.TransformBox(placed);
            if (!placed.Overlaps(window)) continue;
            pos = Enter(child, id, e, pos, a, b);
            *layerKey = 0;
            step = Step::Layers;
            entered = true;
            break;
          }
        }
        break;
      }
      case Step::NextReference:
        if (oneReference && frames.size() <= floor) return nullptr;
        cursor = DBSearchSystem::NextInBox(cursor, window);
        step = Step::Reference;
        break;
      case Step::Climb: {
        // The current cell is done: back to the placement that led into it,
        // then its array's further elements and the following references.
        if (frames.size() <= floor) return nullptr;
        const HierFrame f = frames.front();
        frames.pop_front();
        cell = f.cell;
        trans = f.trans;
        window = f.window;
        cursor = f.cursor;
        pos = f.layerPos;
        if (f.column >= 0) {
          column = f.column;
          row = f.row + 1;
          step = Step::Elements;
        } else {
          step = Step::NextReference;
        }
        break;
      }
    }
  }
}

DBSearchNode* HierIterator::Next(Trans* outTrans, int32_t* layerKey,
                                 bool resume) {
  if (frames.empty()) return nullptr;
  LayerPos pos = frames.front().layerPos;
  if (resume || IsReferenceLayer(pos->first)) {
    const HierFrame f = frames.front();
    frames.pop_front();
    *layerKey = 0;
    if (f.column >= 0) {
      // Left from inside an array element: the array's further elements
      // are placements of their own and still to be walked.
      cursor = f.cursor;
      return Run(Step::Elements, pos, f.column, f.row + 1, 0, false, outTrans,
                 layerKey);
    }
    return Run(Step::NextReference, pos, -1, -1, 0, false, outTrans, layerKey);
  }
  HierFrame& top = frames.front();
  DBSearchNode* node = DBSearchSystem::NextInBox(top.cursor, top.window);
  while (node != nullptr && node->item == nullptr)
    node = DBSearchSystem::NextInBox(node, top.window);
  if (node != nullptr) {
    top.cursor = node;
    cursor = node;
    *outTrans = top.trans;
    *layerKey = pos->first;
    return node;
  }
  frames.pop_front();
  return Run(Step::Layers, ++pos, -1, -1, 0, false, outTrans, layerKey);
}

}  // namespace velmar
