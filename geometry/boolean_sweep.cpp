// Entry point of the scan-line boolean engine, and hole selection.
#include "geometry/boolean_sweep.h"

#include <vector>

#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/rect_sweep.h"
#include "geometry/ring_connect.h"
#include "geometry/scan_sweep.h"
#include "geometry/snap_round.h"

namespace velmar {

namespace {

// HoleStart that also tells whether the walk went round a closed ring.
PSPoint* HoleStartOf(PSPoint* p, bool& closed) {
  PSPoint* v = p;
  PSPoint* q = p;
  do {
    q->flags |= PSPointFlags::Visited;
    if (q->x < v->x || (q->x == v->x && q->y > v->y)) v = q;
    q = q->next;
  } while (q && q != p);
  closed = q != nullptr;
  if (!closed) {
    // An open chain: mark the part before p as well, so that the chain is
    // visited once.
    for (q = p->prev; q && q != p; q = q->prev) q->flags |= PSPointFlags::Visited;
    return nullptr;
  }
  // Clockwise turn at the leftmost vertex: the ring is a hole.
  return Cross(v, v->next, v->prev) < 0 ? v : nullptr;
}

}  // namespace

void SettleCrossings(PSList& list) {
  // Axis-parallel edges cross and touch only at grid points, where the
  // classifying sweep's own splits are exact.
  if (!list.head || !list.head->link || ClassifyList(list) == 0) return;
  SnapRoundCrossings(list);
  if (!IsSortedBy(list.head, ComparePoint)) SortPointsByPosition(list, false);
  ScanSweep(list, nullptr, BooleanOpCode::CrossingPass, true);
}

PSPoint* HoleStart(PSPoint* p) {
  bool closed = false;
  return HoleStartOf(p, closed);
}

int32_t SelectHoles(PSList& list, PSList* out, bool invert) {
  int32_t holes = 0;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    bool closed = false;
    PSPoint* h = HoleStartOf(p, closed);
    if (h) {
      ++holes;
      if (!out)
        h->flags |= PSPointFlags::HoleStart;
      else if (!invert)
        AppendRingCopy(p, *out);
    } else if (closed && out && invert) {
      AppendRingCopy(p, *out);
    }
  }
  MaskFlags(list, ~int(PSPointFlags::Visited));
  return holes;
}

void BooleanSweep(PSList& list, PSList* out, BooleanOpCode code,
                  bool edgesOnly) {
  if (!list.head) return;
  // Axis-parallel input: interval counts, no splitting (same result).
  if (out && !edgesOnly && RectilinearBoolean(list, *out, code)) return;
  if (code == BooleanOpCode::CutHoles && SelectHoles(list, nullptr, false) == 0)
    return;
  const bool keep = code != BooleanOpCode::CutHoles &&
                    code != BooleanOpCode::Fracture &&
                    code != BooleanOpCode::FractureCommand;
  if (keep && code != BooleanOpCode::CrossingPass)
    SettleCrossings(list);
  else if (keep)
    SnapRoundCrossings(list);
  if (list.head->link && !IsSortedBy(list.head, ComparePoint))
    SortPointsByPosition(list, false);
  ScratchList work;
  if (out && !edgesOnly && keep && code != BooleanOpCode::CrossingPass) {
    // Rings: the sweep records its output so that joining it into rings
    // need not read the points back (the same result as ReconnectPolygons).
    std::vector<PositionItem> emitted;
    ScanSweepRecorded(list, work.list, code, emitted);
    if (work.list.head) {
      ReconnectRecorded(work.list, emitted);
      SpliceList(*out, work.list);
    }
    return;
  }
  ScanSweep(list, &work.list, code, keep);
  if (edgesOnly && out) {
    SpliceList(*out, work.list);
  } else if (code == BooleanOpCode::CutHoles) {
    // The cut list is the result, whether or not an output list was given.
    Simplify(list, 0);
  }
}

}  // namespace velmar
