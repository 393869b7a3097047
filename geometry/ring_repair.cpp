// Self-crossing and acute-angle repairs.
#include "geometry/ring_repair.h"

#include <climits>
#include <cstdint>
#include <algorithm>
#include <vector>

#include "geometry/boolean_sweep.h"
#include "geometry/op_codes.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

// Sorts the list by position, runs the crossing pass on it and moves the
// vertices the pass created (also those of snap rounding) into created,
// sorted by position; the list keeps its own vertices in position order.
// The rings of the list still run through the created vertices. The list
// must not be empty.
void RunCrossingPass(PSList& list, PSList& created) {
  SortPoints(list, ComparePointLess);
  std::vector<const PSPoint*> own;
  own.reserve(size_t(list.pointCount));
  for (const PSPoint* p = list.head; p; p = p->link) own.push_back(p);
  std::sort(own.begin(), own.end());
  BooleanSweep(list, nullptr, BooleanOpCode::CrossingPass, false);
  if (list.pointCount == int32_t(own.size())) return;
  PSList kept;
  for (PSPoint* p = list.head; p;) {
    PSPoint* n = p->link;
    p->link = nullptr;
    PSList& to = std::binary_search(own.begin(), own.end(), p) ? kept : created;
    if (to.tail)
      to.tail->link = p;
    else
      to.head = p;
    to.tail = p;
    ++to.pointCount;
    p = n;
  }
  kept.ringCount = list.ringCount;
  list.head = kept.head;
  list.tail = kept.tail;
  list.pointCount = kept.pointCount;
  SortPoints(created, ComparePointLess);
}

// Turn at q: dot and cross products of u = n - q and v = p - q, exact.
struct Turn {
  __int128 dot;
  __int128 cross;
};

inline Turn TurnAt(int32_t qx, int32_t qy, int32_t nx, int32_t ny, int32_t px,
                   int32_t py) {
  const int64_t ux = int64_t(nx) - qx, uy = int64_t(ny) - qy;
  const int64_t vx = int64_t(px) - qx, vy = int64_t(py) - qy;
  return Turn{static_cast<__int128>(ux) * vx + static_cast<__int128>(uy) * vy,
              static_cast<__int128>(ux) * vy - static_cast<__int128>(uy) * vx};
}

inline int32_t Saturate(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Judges one vertex for MarkAcute and adds its marker; true when kept.
bool MarkVertex(const PSPoint* q, PSList* out, int mode, int32_t size) {
  if (!q->next || !q->prev) return false;
  const Turn t =
      TurnAt(q->x, q->y, q->next->x, q->next->y, q->prev->x, q->prev->y);
  if (t.dot <= 0) return false;
  if (mode == 0 && t.cross <= 0) return false;
  if (mode == 1 && t.cross >= 0) return false;
  if (out) {
    if (size != 0) {
      const int64_t h = size >> 1;
      BoxToRing(*out,
                Box(Saturate(q->x - h), Saturate(q->y - h), Saturate(q->x + h),
                    Saturate(q->y + h)),
                false);
    } else {
      PushPoint(*out, q->x, q->y);
    }
  }
  return true;
}

// Tries to open the acute angle at q by moving it along its edge towards
// `along`; `other` is its neighbour on the other side. The edge is shortened
// by length at both ends; q moves to the new start when the angle there,
// between the directions to other and to the edge's new end, is no longer
// acute.
bool TryTrim(PSPoint* q, const PSPoint* along, const PSPoint* other,
             int32_t length) {
  Box seg(q->x, q->y, along->x, along->y);
  Lengthen(seg, -length);
  const Turn t = TurnAt(seg.x1, seg.y1, seg.x2, seg.y2, other->x, other->y);
  if (t.dot > 0) return false;
  q->x = seg.x1;
  q->y = seg.y1;
  return true;
}

}  // namespace

bool HasSelfTouch(PSList& list) {
  if (!list.head) return false;
  // The work rings still run through the created vertices: both lists go
  // whole (created first, then work), however the work ends.
  ScratchList work;
  ScratchList created;
  CopyPointList(list, work.list);
  RunCrossingPass(work.list, created.list);
  for (const PSPoint* p = created.list.head; p && p->link; p = p->link) {
    if (SamePosition(p, p->link)) return true;
  }
  return false;
}

bool CollectSelfTouch(PSList& list, PSList& out) {
  if (!list.head) return false;
  PSList created;
  RunCrossingPass(list, created);
  bool found = false;
  for (PSPoint* p = created.head; p && p->link;) {
    PSPoint* q = p->link;
    if (!SamePosition(p, q)) {
      p = q;
      continue;
    }
    AppendPoint(out, p->x, p->y);
    found = true;
    p = q->link;
  }
  // Every created vertex sits between two ring neighbours: taking it out
  // again restores the original edges before it is freed.
  for (PSPoint* p = created.head; p; p = p->link) LinkPoints(p->prev, p->next);
  ClearPointList(created);
  return found;
}

namespace {

// One crossing pass and the re-linking at its coincident pairs.
bool SplitSelfTouchOnce(PSList& list) {
  if (!list.head) return false;
  PSList created;
  RunCrossingPass(list, created);
  MaskFlags(list, 0);
  if (!created.head) return false;
  MaskFlags(created, 0);
  bool relinked = false;
  for (PSPoint* a = created.head; a && a->link;) {
    PSPoint* b = a->link;
    if (!SamePosition(a, b)) {
      a = b;
      continue;
    }
    // Exchange the successors: the two boundaries only touch here now.
    PSPoint* an = a->next;
    PSPoint* bn = b->next;
    LinkPoints(a, bn);
    LinkPoints(b, an);
    relinked = true;
    a = b->link;
  }
  SpliceList(list, created);
  Simplify(list, 0);
  return relinked;
}

}  // namespace

bool SplitSelfTouch(PSList& list) {
  // Crossings that round onto one grid point, or onto a vertex, create a
  // vertex that pairs with nothing in one pass; the ring still crosses
  // there. Passes repeat until none re-links (each re-linking removes a
  // crossing; the bound only guards against a snapping cycle).
  if (!SplitSelfTouchOnce(list)) return false;
  for (int round = 0; round < 32 && SplitSelfTouchOnce(list); ++round) {
  }
  return true;
}

bool MarkAcute(PSList& list, PSList* out, int mode, int32_t size,
               const Box* window) {
  bool any = false;
  for (const PSPoint* q = list.head; q; q = q->link) {
    if (window && (q->x < window->x1 || q->x > window->x2 ||
                   q->y < window->y1 || q->y > window->y2))
      continue;
    if (MarkVertex(q, out, mode, size)) any = true;
  }
  return any;
}

bool MarkAcuteRing(PSPoint* ring, PSList* out, int mode, int32_t size) {
  bool any = false;
  const PSPoint* q = ring;
  do {
    if (MarkVertex(q, out, mode, size)) any = true;
    q = q->next;
  } while (q && q != ring);
  return any;
}

int32_t TrimAcute(PSList& list, int32_t length) {
  int32_t moved = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (PSPoint* q = list.head; q; q = q->link) {
      PSPoint* n = q->next;
      PSPoint* p = q->prev;
      if (!n || !p) continue;  // an end of an open chain has no angle
      const Turn t = TurnAt(q->x, q->y, n->x, n->y, p->x, p->y);
      if (t.dot <= 0) continue;
      if (pass == 0 ? t.cross <= 0 : t.cross >= 0) continue;
      // Left turns try the edge to the next vertex first, right turns the
      // edge to the previous vertex.
      const PSPoint* first = pass == 0 ? n : p;
      const PSPoint* second = pass == 0 ? p : n;
      if (TryTrim(q, first, second, length) || TryTrim(q, second, first, length))
        ++moved;
    }
  }
  return moved;
}

}  // namespace velmar
