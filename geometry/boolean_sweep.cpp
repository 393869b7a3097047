// Entry point of the scan-line boolean engine, and hole selection.
#include "geometry/boolean_sweep.h"

#include <cstddef>
#include <algorithm>
#include <vector>

#include "foundation/box.h"
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


// Sets the operand mark of every vertex of the list to that of second.
void MarkOperand(PSList& list, bool second) {
  const uint16_t f = second ? PSPointFlags::SecondLayer : 0;
  for (PSPoint* p = list.head; p; p = p->link) p->flags = f;
}

void Sweep(PSList& list, PSList* out, BooleanOpCode code, bool edgesOnly,
           bool byParts, bool settled = false, bool asDrawn = false);

// Runs code over a copy of the rings in src (as the first operand). The
// rings come from a settled list: every crossing is a vertex already.
void SweepSettledCopy(PSList& src, PSList& out, BooleanOpCode code) {
  ScratchList copy;
  CopyPointList(src, copy.list);
  Sweep(copy.list, &out, code, false, false, true);
}

// Whether the ring through a comes back to a's position before it comes
// back to a: 1 yes, 0 no (or an open chain), -1 not told within a short walk
// (a long ring).
int MeetsItselfNear(const PSPoint* a) {
  constexpr int kSteps = 64;
  const PSPoint* q = a->next;
  for (int i = 0; i < kSteps; ++i) {
    if (!q || q == a) return 0;
    if (q->x == a->x && q->y == a->y) return 1;
    q = q->next;
  }
  return -1;
}

// Whether the closed ring through a passes twice through one position; sets
// Visited on its vertices.
bool RingMeetsItself(PSPoint* a, std::vector<Point>& scratch) {
  scratch.clear();
  PSPoint* q = a;
  do {
    q->flags |= PSPointFlags::Visited;
    scratch.push_back(Point(q->x, q->y));
    q = q->next;
  } while (q && q != a);
  if (!q) return false;
  std::sort(scratch.begin(), scratch.end(), [](const Point& u, const Point& v) {
    return u.x != v.x ? u.x < v.x : u.y < v.y;
  });
  for (size_t i = 1; i < scratch.size(); ++i)
    if (scratch[i].x == scratch[i - 1].x && scratch[i].y == scratch[i - 1].y) return true;
  return false;
}

// Rings of the sorted list that pass twice through one point. Short rings
// are told by a walk from each point of a shared position; a long ring is
// read whole once.
std::vector<PSPoint*> SelfMeetingRings(PSList& list) {
  std::vector<PSPoint*> rings, hard;
  for (PSPoint* p = list.head; p;) {
    PSPoint* q = p->link;
    while (q && q->x == p->x && q->y == p->y) q = q->link;
    if (p->link != q)
      for (PSPoint* a = p; a != q; a = a->link) {
        if (a->flags & PSPointFlags::Visited) continue;
        const int meets = MeetsItselfNear(a);
        if (meets < 0) {
          hard.push_back(a);
        } else if (meets > 0) {
          // Mark the ring so that it is taken once.
          PSPoint* r = a;
          do {
            r->flags |= PSPointFlags::Visited;
            r = r->next;
          } while (r != a);
          rings.push_back(a);
        }
      }
    p = q;
  }
  std::vector<Point> scratch;
  for (PSPoint* a : hard)
    if (!(a->flags & PSPointFlags::Visited) && RingMeetsItself(a, scratch)) rings.push_back(a);
  MaskFlags(list, ~int(PSPointFlags::Visited));
  return rings;
}

// Replaces every ring of rings (first vertices of rings that meet
// themselves) that winds around regions in both turning senses
// (a "bow tie") by its lobes, each turning counter-clockwise: every region
// the ring winds around, either way, counts once for its operand. A ring
// that only touches itself, or winds one way only, stays as drawn (a
// clockwise ring is a hole). Returns whether the list changed.
bool SplitBowTies(PSList& list, const std::vector<PSPoint*>& rings) {
  bool changed = false;
  for (PSPoint* r : rings) {
    if (r->flags & PSPointFlags::Deleted) continue;  // split already
    ScratchList ring, neg, pos;
    AppendRingCopy(r, ring.list);
    SweepSettledCopy(ring.list, neg.list, BooleanOpCode::NegativeWinding);
    if (!neg.list.head) continue;
    SweepSettledCopy(ring.list, pos.list, BooleanOpCode::Or);
    if (!pos.list.head) continue;
    const bool second = r->flags & PSPointFlags::SecondLayer;
    MarkRingDeleted(r);
    --list.ringCount;
    MarkOperand(pos.list, second);
    MarkOperand(neg.list, second);
    SpliceList(pos.list, neg.list);
    SpliceList(list, pos.list);
    changed = true;
  }
  if (changed) PurgeDeleted(list);
  return changed;
}

// A union whose rings overlap many deep (thousands of thin rings stacked on
// each other) has far more crossings than edges, and nearly all of them lie
// deep inside the result. Merging the rings a few at a time (in order of
// their leftmost vertices), then the merged parts two by two, drops the covered edges early: every later sweep
// sees only the outlines of its two parts. Lists below this size, or with
// at most this many crossings per edge, are merged in one sweep.
constexpr int32_t kPartsMinPoints = 4096;
constexpr size_t kCrossingsPerEdge = 4;
constexpr size_t kPartRings = 4;
constexpr long double kBoxDepth = 4;
constexpr size_t kCrossingSampleEdges = size_t(1) << 18;
constexpr size_t kMaxCrossingStride = 16;

struct PartRing {
  PSPoint* start;  // leftmost vertex (ties: the lowest)
};

// Merges rings [lo, hi) into out (every ring taken as first operand).
void MergePart(const std::vector<PartRing>& rings, size_t lo, size_t hi,
               PSList& out) {
  ScratchList work;
  if (hi - lo <= kPartRings) {
    for (size_t i = lo; i < hi; ++i) AppendRingCopy(rings[i].start, work.list);
  } else {
    const size_t mid = lo + (hi - lo) / 2;
    MergePart(rings, lo, mid, work.list);
    ScratchList right;
    MergePart(rings, mid, hi, right.list);
    SpliceList(work.list, right.list);
  }
  if (!work.list.head) return;
  MarkOperand(work.list, false);
  Sweep(work.list, &out, BooleanOpCode::Merge, false, false);
}

// The union (Merge, Or) of a large list whose edges cross far more often
// than they number, merged by parts; false (list untouched) when the list
// is not of that kind, or holds a ring that is open or winds clockwise
// overall (a hole must be merged together with the ring around it).
bool UnionByParts(PSList& list, PSList& out) {
  if (list.pointCount < kPartsMinPoints) return false;
  std::vector<PartRing> rings;
  bool fit = true;
  long double boxes = 0;  // total area of the rings' boxes
  Box all;
  for (PSPoint* p = list.head; p && fit; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    PSPoint* left = p;
    __int128 area2 = 0;
    Box ringBox;
    PSPoint* q = p;
    do {
      q->flags |= PSPointFlags::Visited;
      ringBox.Extend(q->x, q->y);
      PSPoint* n = q->next;
      if (!n) break;
      area2 += __int128(q->x) * n->y - __int128(n->x) * q->y;
      if (n->x < left->x || (n->x == left->x && n->y < left->y)) left = n;
      q = n;
    } while (q != p);
    if (q != p || area2 <= 0) fit = false;
    rings.push_back(PartRing{left});
    boxes += (long double)(ringBox.x2 - int64_t(ringBox.x1)) * (ringBox.y2 - int64_t(ringBox.y1));
    all.Extend(ringBox.x1, ringBox.y1);
    all.Extend(ringBox.x2, ringBox.y2);
  }
  MaskFlags(list, ~int(PSPointFlags::Visited));
  if (!fit || rings.size() <= kPartRings) return false;
  // The boxes of the rings cover their common box several times over, or
  // the crossings cannot be many: a cheap test before counting them.
  if (boxes < kBoxDepth * (long double)(all.x2 - int64_t(all.x1)) * (all.y2 - int64_t(all.y1)))
    return false;
  // Crossings of a large list are counted among every stride-th ring only:
  // a sample of 1/stride of the rings holds about 1/stride^2 of the
  // crossings and 1/stride of the edges, so the list has more than
  // kCrossingsPerEdge crossings per edge when the sample has more than
  // kCrossingsPerEdge / stride per sampled edge. Counting up to the limit on
  // the whole list took seconds for a few million edges.
  const size_t stride = std::min<size_t>(
      kMaxCrossingStride, std::max<size_t>(1, size_t(list.pointCount) / kCrossingSampleEdges));
  if (stride == 1) {
    if (!CrossingsExceed(list, kCrossingsPerEdge * size_t(list.pointCount))) return false;
  } else {
    ScratchList sample;
    for (size_t i = 0; i < rings.size(); i += stride) AppendRingCopy(rings[i].start, sample.list);
    if (!CrossingsExceed(sample.list, kCrossingsPerEdge * size_t(sample.list.pointCount) / stride))
      return false;
  }
  std::sort(rings.begin(), rings.end(), [](const PartRing& a, const PartRing& b) {
    return ComparePoint(a.start, b.start) < 0;
  });
  MergePart(rings, 0, rings.size(), out);
  return true;
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

namespace {

void Sweep(PSList& list, PSList* out, BooleanOpCode code, bool edgesOnly,
           bool byParts, bool settled, bool asDrawn) {
  if (!list.head) return;
  // Axis-parallel input: interval counts, no splitting (same result).
  if (out && !edgesOnly && RectilinearBoolean(list, *out, code, !asDrawn)) return;
  // Merging by parts adds up regions: it needs rings that wind one way.
  if (byParts && !asDrawn && out && !edgesOnly &&
      (code == BooleanOpCode::Merge || code == BooleanOpCode::Or) &&
      UnionByParts(list, *out))
    return;

  if (code == BooleanOpCode::CutHoles && SelectHoles(list, nullptr, false) == 0)
    return;
  const bool keep = code != BooleanOpCode::CutHoles &&
                    code != BooleanOpCode::Fracture &&
                    code != BooleanOpCode::FractureCommand;
  if (settled) {
    // Nothing to snap or split: the caller's list was settled as a whole.
  } else if (keep && code != BooleanOpCode::CrossingPass) {
    const int32_t before = list.pointCount;
    SettleCrossings(list);
    // Only a crossing pass that split edges can have found a ring crossing
    // itself; other input is not searched.
    if (list.pointCount != before) {
      if (list.head->link && !IsSortedBy(list.head, ComparePoint))
        SortPointsByPosition(list, false);
      if (!asDrawn && SplitBowTies(list, SelfMeetingRings(list))) SettleCrossings(list);
    } else if (!asDrawn && IsListManhattan(list)) {
      // Axis-parallel rings cross on the grid without a crossing pass; the
      // ones that meet themselves are found by their straight runs.
      SplitBowTies(list, AxisParallelSelfMeetingRings(list));
    }
  } else if (keep) {
    SnapRoundCrossings(list);
  }
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

}  // namespace

void BooleanSweep(PSList& list, PSList* out, BooleanOpCode code,
                  bool edgesOnly) {
  Sweep(list, out, code, edgesOnly, true);
}

void BooleanSweepAsDrawn(PSList& list, PSList* out, BooleanOpCode code) {
  Sweep(list, out, code, false, false, false, true);
}

}  // namespace velmar
