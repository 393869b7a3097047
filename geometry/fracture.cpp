// Vertical fracturing.
#include "geometry/fracture.h"

#include <algorithm>

#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/op_codes.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"

namespace velmar {

namespace {

constexpr uint16_t kLower = PSPointFlags::LowerChain;
constexpr uint16_t kUpper = PSPointFlags::UpperChain;

// A new vertex with q's coordinates (flags 0) put into the link chain right
// after q.
PSPoint* InsertAfterInChain(PSList& list, PSPoint* q) {
  PSPoint* g = AllocPoint();
  g->x = q->x;
  g->y = q->y;
  g->next = nullptr;
  g->prev = nullptr;
  g->flags = 0;
  g->link = q->link;
  q->link = g;
  if (list.tail == q) list.tail = g;
  ++list.pointCount;
  return g;
}

inline bool IsHorizontal(const SweepEdge& t) { return t.left->y == t.right->y; }

// The ring neighbours of p, looking through the coincident twin that a
// split at a reflex turn put next to it: the edge between the twins has no
// length and no direction.
inline PSPoint* NextDistinct(PSPoint* p) {
  PSPoint* n = p->next;
  return n->x == p->x && n->y == p->y ? n->next : n;
}
inline PSPoint* PrevDistinct(PSPoint* p) {
  PSPoint* v = p->prev;
  return v->x == p->x && v->y == p->y ? v->prev : v;
}

// The edge between a and b as the active list holds edges: left end the
// smaller in (x, then y) order.
inline SweepEdge EdgeOf(PSPoint* a, PSPoint* b) {
  return ComparePoint(a, b) <= 0 ? SweepEdge{a, b, true} : SweepEdge{b, a, false};
}

// True when the edge runs exactly through p's position: an edge of another
// ring (or of p's own ring elsewhere) that only touches p there. A cut from p
// to such an edge would have no length and would tie the rings together.
inline bool PassesThrough(const SweepEdge& t, const PSPoint* p) {
  if (p->x < t.left->x || p->x > t.right->x) return false;
  const int64_t dx = int64_t(t.right->x) - t.left->x;
  const int64_t dy = int64_t(t.right->y) - t.left->y;
  if (dx == 0) return p->y >= std::min(t.left->y, t.right->y) &&
                      p->y <= std::max(t.left->y, t.right->y);
  return __int128(dx) * (int64_t(p->y) - t.left->y) ==
         __int128(dy) * (int64_t(p->x) - t.left->x);
}

// Lower-chain vertex p: the region above p is cut up to the boundary T above
// it, or p is joined to the upper-chain vertex e straight above it.
bool CutUpward(PSList& list, PSPoint* p, PSPoint* e, FractureView& active,
               bool skipDegenerate) {
  PSPoint* pn = p->next;
  PSPoint* pp = p->prev;
  if (!pn || !pp) return false;
  ActiveEdge* at = active.Locate(EdgeOf(p, pn), p->x);
  if (!active.IsSentinel(at) && active.Edge(at).left == p) at = active.Above(at);
  // Edges of touching rings that meet p's position lie between p and its
  // boundary in the active order; the boundary is the first edge above them.
  while (!active.IsSentinel(at) && PassesThrough(active.Edge(at), p))
    at = active.Above(at);
  if (active.IsSentinel(at)) return false;
  SweepEdge& t = active.Edge(at);
  // The boundary above the inside must run right to left. Anything else
  // (overlapping input) is left uncut rather than re-linked across rings.
  if (t.forward || t.right->next != t.left) return false;
  const int32_t y = EdgeYAt(t, p->x);

  if (e && e->x == p->x && e->y > p->y && e->y <= y && (e->flags & kUpper)) {
    // Facing pair: one segment from p up to e splits the ring.
    PSPoint* p2 = PushPoint(list, p->x, p->y);
    PSPoint* e2 = InsertAfterInChain(list, e);
    PSPoint* ep = e->prev;
    LinkPoints(pp, p2);
    LinkPoints(p2, e);
    LinkPoints(ep, e2);
    LinkPoints(e2, p);
    e->flags &= static_cast<uint16_t>(~kUpper);
    p->flags &= static_cast<uint16_t>(~kLower);
    active.InsertBelow(SweepEdge{p, e2, false}, at);
    active.InsertBelow(SweepEdge{p2, e, true}, at);
    return true;
  }

  PSPoint* tl = t.left;
  PSPoint* tr = t.right;
  if (skipDegenerate && IsHorizontal(t)) {
    PSPoint* dn = NextDistinct(p);
    PSPoint* dp = PrevDistinct(p);
    if ((dp == tl && dn == tr) || (dn->y == p->y && dp == tl) ||
        (dp->y == p->y && dn == tr))
      return false;
  }

  PSPoint* a = PushPoint(list, p->x, y);
  PSPoint* b = PushPoint(list, p->x, y);
  PSPoint* p2 = PushPoint(list, p->x, p->y);
  LinkPoints(tr, a);
  LinkPoints(a, p);
  LinkPoints(pp, p2);
  LinkPoints(p2, b);
  LinkPoints(b, tl);
  // A cut that ends on T's right end uses T up: T would be left with no
  // length, and no later event removes it.
  if (tr->x == p->x)
    active.Remove(at);
  else
    t.left = a;
  return true;
}

// Upper-chain vertex p: the region below p is cut down to the boundary T
// below it.
bool CutDownward(PSList& list, PSPoint* p, FractureView& active,
                 bool skipDegenerate) {
  PSPoint* pn = p->next;
  PSPoint* pp = p->prev;
  if (!pn || !pp) return false;
  // The edge to the previous vertex places p; when that vertex is p's twin
  // from a split, the edge before it does.
  SweepEdge q = EdgeOf(p, pp);
  if (pp->x == p->x && pp->y == p->y) {
    if (!pp->prev) return false;
    q = EdgeOf(pp->prev, pp);
  }
  ActiveEdge* at = active.Below(active.Locate(q, p->x));
  while (!active.IsSentinel(at) && PassesThrough(active.Edge(at), p))
    at = active.Below(at);
  if (active.IsSentinel(at)) return false;
  SweepEdge& t = active.Edge(at);
  // The boundary below the inside must run left to right.
  if (!t.forward || t.left->next != t.right) return false;
  const int32_t y = EdgeYAt(t, p->x);

  PSPoint* tl = t.left;
  PSPoint* tr = t.right;
  if (skipDegenerate && IsHorizontal(t)) {
    PSPoint* dn = NextDistinct(p);
    PSPoint* dp = PrevDistinct(p);
    if ((dn == tl && dp == tr) || (dp->y == p->y && dn == tl) ||
        (dn->y == p->y && dp == tr))
      return false;
  }

  PSPoint* a = PushPoint(list, p->x, y);
  PSPoint* b = PushPoint(list, p->x, y);
  PSPoint* p2 = PushPoint(list, p->x, p->y);
  LinkPoints(p, a);
  LinkPoints(a, tr);
  LinkPoints(tl, b);
  LinkPoints(b, p2);
  LinkPoints(p2, pn);
  if (tr->x == p->x)
    active.Remove(at);
  else
    t.left = a;
  return true;
}

}  // namespace

// True when, seen from q, the ray to s lies counter-clockwise of the ray to
// p (exact). With both neighbours on one side of q in x this tells a reflex
// turn in x: s above p when both lie to the right, below p when both lie to
// the left.
inline bool TurnsBack(const PSPoint* p, const PSPoint* q, const PSPoint* s) {
  return Cross(q, p, s) > 0;
}

int MarkMonotoneChains(PSList& list) {
  int marks = 0;
  for (PSPoint* q = list.head; q; q = q->link) {
    PSPoint* p = q->prev;
    PSPoint* s = q->next;
    if (!p || !s) continue;
    if (p->x < q->x) {
      if (q->x < s->x || (s->x == q->x && s->y < q->y)) {
        q->flags |= kLower;
        ++marks;
      } else if (s->x < q->x && TurnsBack(p, q, s)) {
        // Reflex turn at the right: p -> g -> q -> s.
        PSPoint* g = InsertAfterInChain(list, q);
        LinkPoints(p, g);
        LinkPoints(g, q);
        q->flags |= kUpper;
        g->flags |= kLower;
        marks += 2;
        q = g;
      }
    } else if (p->x == q->x) {
      if (p->y < q->y && q->x < s->x) {
        q->flags |= kLower;
        ++marks;
      } else if (q->y < p->y && s->x < q->x) {
        q->flags |= kUpper;
        ++marks;
      }
    } else {
      if (s->x < q->x || (s->x == q->x && q->y < s->y)) {
        q->flags |= kUpper;
        ++marks;
      } else if (q->x < s->x && TurnsBack(p, q, s)) {
        // Reflex turn at the left: p -> q -> g -> s.
        PSPoint* g = InsertAfterInChain(list, q);
        LinkPoints(q, g);
        LinkPoints(g, s);
        q->flags |= kUpper;
        g->flags |= kLower;
        marks += 2;
        q = g;
      }
    }
  }
  return marks;
}

bool FractureStep(PSList& list, PSPoint* p, PSPoint* e, FractureView& active,
                  bool skipDegenerate) {
  if (p->flags & kLower) return CutUpward(list, p, e, active, skipDegenerate);
  if (p->flags & kUpper) return CutDownward(list, p, active, skipDegenerate);
  return false;
}

int FractureVertical(PSList& list, int n) {
  if (n != 0 && n != 1)
    throw Error("Unknown vertical fracturing form", "DRC");
  if (!list.head) return 0;
  SortPoints(list, ComparePointLess);
  MaskFlags(list, ~int(kLower | kUpper));
  if (MarkMonotoneChains(list) == 0) return 0;
  BooleanSweep(list, nullptr, static_cast<BooleanOpCode>(30 + n), false);
  MaskFlags(list, 0);
  Simplify(list, 0);
  return 1;
}

}  // namespace velmar
