// Single-layer marker checks: off-grid vertices, right-angle turns,
// axis-parallel and oblique edges, edges off the 45-degree directions, and
// rectangles by side length.
#include "geometry/marker_checks.h"

#include <cstdlib>

#include "foundation/error.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

inline bool InWindow(const PSPoint* p, const Box* window) {
  return window == nullptr || (p->x >= window->x1 && p->x <= window->x2 &&
                               p->y >= window->y1 && p->y <= window->y2);
}

// The square marker around p reaching size >> 1 to each side.
void PushVertexMarker(PSList& out, const PSPoint* p, int32_t size) {
  const int64_t h = size >> 1;
  BoxToRing(out,
            Box(ToCoord(int64_t(p->x) - h), ToCoord(int64_t(p->y) - h),
                ToCoord(int64_t(p->x) + h), ToCoord(int64_t(p->y) + h)),
            false);
}

// The edge q -> n as a two-point chain: q's copy pushed first, then n's, so
// the end stands ahead of the start in the list.
void PushEdgeMarker(PSList& out, const PSPoint* q, const PSPoint* n) {
  PSPoint* a = PushPoint(out, q->x, q->y);
  PSPoint* b = PushPoint(out, n->x, n->y);
  LinkPoints(a, b);
}

inline bool IsAxisParallel(const PSPoint* q, const PSPoint* n) {
  return q->y == n->y || q->x == n->x;
}

// Incoming edge p -> q and outgoing edge q -> n meet at a right angle.
bool Perpendicular(const PSPoint* p, const PSPoint* q, const PSPoint* n) {
  if (p->y == q->y) return q->x == n->x;
  if (p->x == q->x) return q->y == n->y;
  const __int128 dot =
      static_cast<__int128>(int64_t(q->x) - p->x) * (int64_t(n->x) - q->x) +
      static_cast<__int128>(int64_t(q->y) - p->y) * (int64_t(n->y) - q->y);
  return dot == 0;
}

}  // namespace

int MarkOffGrid(PSList& input, PSList& output, int32_t grid, int32_t size,
                const Box* window) {
  if (grid < 1)
    throw Error("Off-grid check needs a grid of at least one database unit",
                "DRC");
  int found = 0;
  for (const PSPoint* p = input.head; p; p = p->link) {
    if (!InWindow(p, window)) continue;
    if (p->x % grid == 0 && p->y % grid == 0) continue;
    PushVertexMarker(output, p, size);
    found = 1;
  }
  return found;
}

bool MarkTurn90(PSList& input, PSList& output) {
  bool found = false;
  for (const PSPoint* q = input.head; q; q = q->link) {
    if (!q->prev || !q->next) continue;
    if (!Perpendicular(q->prev, q, q->next)) continue;
    PushEdgeMarker(output, q, q->next);
    found = true;
  }
  return found;
}

bool SelectNon90Edges(PSList& input, PSList& output, int nonAxis) {
  bool found = false;
  for (const PSPoint* q = input.head; q; q = q->link) {
    if (!q->next) continue;
    if (IsAxisParallel(q, q->next) == (nonAxis != 0)) continue;
    PushEdgeMarker(output, q, q->next);
    found = true;
  }
  return found;
}

int MarkNon45(PSList& input, PSList& output, int32_t size, const Box* window) {
  int found = 0;
  for (const PSPoint* q = input.head; q; q = q->link) {
    const PSPoint* n = q->next;
    if (!n || !InWindow(q, window)) continue;
    if (IsAxisParallel(q, n)) continue;
    if (std::llabs(int64_t(n->x) - q->x) == std::llabs(int64_t(n->y) - q->y))
      continue;
    PushVertexMarker(output, q, size);
    found = 1;
  }
  return found;
}

void SelectRectangles(PSList& input, PSList& output, const LengthRange& first,
                      const LengthRange& second) {
  for (PSPoint* q = input.head; q; q = q->link) {
    if (q->flags & PSPointFlags::Visited) continue;
    const PSPoint* r = q->next;
    const PSPoint* s = r ? r->next : nullptr;
    const PSPoint* t = s ? s->next : nullptr;
    const bool candidate = r && s && t && r != q && s != q && t != q &&
                           t->next == q && IsAxisParallel(q, r) &&
                           IsAxisParallel(r, s) && IsAxisParallel(s, t) &&
                           IsAxisParallel(t, q);
    // The whole ring (or the chain from q on) is visited either way.
    for (PSPoint* v = q; v && !(v->flags & PSPointFlags::Visited); v = v->next)
      v->flags |= PSPointFlags::Visited;
    if (!candidate) continue;
    int64_t l, m;
    if (q->x != r->x) {
      l = std::llabs(int64_t(r->x) - q->x);
      m = std::llabs(int64_t(s->y) - r->y);
    } else {
      l = std::llabs(int64_t(r->y) - q->y);
      m = std::llabs(int64_t(s->x) - r->x);
    }
    bool selected;
    if (first.IsEmpty()) {
      selected = true;
    } else if (second.IsEmpty()) {
      selected = first.Passes(l) || first.Passes(m);
    } else {
      selected = (first.Passes(l) && second.Passes(m)) ||
                 (first.Passes(m) && second.Passes(l));
    }
    if (selected) AppendRingCopy(q, output);
  }
  MaskFlags(input, ~int(PSPointFlags::Visited));
}

}  // namespace velmar
