// Point-list editing: purging, collinear removal, simplification, splitting
// off open chains, ring and chain copies, rings from circle vertex arrays.
#include "geometry/point_list_edit.h"

#include <cmath>
#include <cstdlib>

#include "foundation/error.h"
#include "geometry/point_list_order.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

constexpr uint16_t kVisited = PSPointFlags::Visited;
constexpr uint16_t kDeleted = PSPointFlags::Deleted;

// A new vertex (x, y), flags 0, no ring links, pushed at the head of list.
inline PSPoint* PushCopy(PSList& list, const PSPoint* src) {
  return PushPoint(list, src->x, src->y);
}

// Appends vertices to the tail of a list, each linked after the one
// before; Close links the last back to the first.
struct RingAppender {
  PSList& list;
  PSPoint* first = nullptr;
  PSPoint* last = nullptr;

  void Add(int32_t x, int32_t y) {
    PSPoint* p = AppendPoint(list, x, y);
    if (!first) first = p;
    LinkPoints(last, p);
    last = p;
  }
  void Close() { LinkPoints(last, first); }
};

// Distance of q from the line p -> r, rounded half away from zero, as a
// magnitude. When p and r coincide the line is undefined and the distance
// from q to p is used.
long double RoundedDistance(const PSPoint* p, const PSPoint* q,
                            const PSPoint* r) {
  if (p->x == r->x && p->y == r->y) {
    long double dx = static_cast<long double>(q->x) - p->x;
    long double dy = static_cast<long double>(q->y) - p->y;
    return RoundHalfAway(std::sqrt(dx * dx + dy * dy));
  }
  Box line(p->x, p->y, r->x, r->y);
  return std::fabs(RoundHalfAway(SignedDistance(line, q->x, q->y)));
}

inline bool SharesCoordinate(const PSPoint* q, const PSPoint* a) {
  return q->x == a->x || q->y == a->y;
}

// Copies the ring or open chain through q into dst, every copy pushed at the
// head of dst with flags 0, and marks the source vertices visited. A ring is
// copied from q around and closed. For a chain, q and the vertices after it
// are copied first, then the vertices from the chain's first vertex up to q,
// so the copy runs from the same first to the same last vertex as its
// source. Returns true for a ring.
bool CopyWalk(PSPoint* q, PSList& dst) {
  PSPoint* qc = PushCopy(dst, q);
  q->flags |= kVisited;
  PSPoint* lastCopy = qc;
  PSPoint* s = q->next;
  while (s && s != q) {
    PSPoint* c = PushCopy(dst, s);
    s->flags |= kVisited;
    LinkPoints(lastCopy, c);
    lastCopy = c;
    s = s->next;
  }
  if (s == q) {
    LinkPoints(lastCopy, qc);
    return true;
  }
  // Open chain: find its first vertex (stopping at anything already
  // visited, so inconsistent links cannot loop), then copy up to q.
  PSPoint* first = q;
  while (first->prev && !(first->prev->flags & kVisited)) first = first->prev;
  if (first != q) {
    PSPoint* prevCopy = nullptr;
    for (PSPoint* t = first; t != q; t = t->next) {
      PSPoint* c = PushCopy(dst, t);
      t->flags |= kVisited;
      LinkPoints(prevCopy, c);
      prevCopy = c;
    }
    LinkPoints(prevCopy, qc);
  }
  return false;
}

// Validates the circle's array and an arc start .. e - 1; returns e.
int32_t ArcEnd(const Circle& circle, int32_t start, int32_t end) {
  const int32_t n = circle.count;
  if (n <= 0 || !circle.vertices)
    throw Error("Circle has no vertices", "DRC", 0);
  if (start < 0 || start >= n || end < 0)
    throw Error("Circle arc index out of range", "DRC", 0);
  int32_t e = end % n;
  if (e == 0) e = n;
  if (start >= e) throw Error("Circle arc index out of range", "DRC", 0);
  return e;
}

}  // namespace

int32_t PurgeDeleted(PSList& list) {
  int32_t removed = 0;
  PSPoint* last = nullptr;  // last surviving vertex
  PSPoint* p = list.head;
  while (p) {
    PSPoint* nextLink = p->link;
    if (p->flags & kDeleted) {
      if (last)
        last->link = nextLink;
      else
        list.head = nextLink;
      FreePoint(p);
      ++removed;
    } else {
      last = p;
    }
    p = nextLink;
  }
  list.tail = last;
  list.pointCount -= removed;
  return removed;
}

void MarkRingDeleted(PSPoint* p) {
  PSPoint* q = p;
  do {
    q->flags |= kDeleted;
    q = q->next;
  } while (q && q != p);
}

bool MarkRingsWithoutArea(PSList& list) {
  bool marked = false;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & (kDeleted | PSPointFlags::Visited) || !p->next) continue;
    __int128 area2 = 0;
    PSPoint* q = p;
    do {
      q->flags |= PSPointFlags::Visited;
      area2 += __int128(q->x) * q->next->y - __int128(q->next->x) * q->y;
      q = q->next;
    } while (q != p);
    if (area2 == 0) {
      MarkRingDeleted(p);
      --list.ringCount;
      marked = true;
    }
  }
  MaskFlags(list, ~int(PSPointFlags::Visited));
  return marked;
}

void RemoveCollinear(PSList& list) {
  PSPoint* last = nullptr;  // last vertex kept on the link chain
  PSPoint* q = list.head;
  while (q) {
    PSPoint* nextLink = q->link;
    PSPoint* r = q->prev;
    PSPoint* s = q->next;
    if (r && s && Cross(r, q, s) == 0) {
      r->next = s;
      s->prev = r;
      if (last)
        last->link = nextLink;
      else
        list.head = nextLink;
      if (list.tail == q) list.tail = last;
      FreePoint(q);
      --list.pointCount;
    } else {
      last = q;
    }
    q = nextLink;
  }
}

int32_t SimplifyRingAt(PSPoint* p, int32_t tolerance) {
  PSPoint* q = p->next;
  PSPoint* r = q->next;
  if (p == q || p == r) return -1;

  if (tolerance <= 0) {
    int32_t removed = 0;
    while (Cross(p, q, r) == 0) {
      q->flags |= kDeleted;
      LinkPoints(p, r);
      ++removed;
      q = r;
      r = r->next;
      if (r == p) return ~removed;
    }
    return removed;
  }

  // How many vertices after p can go: the run p .. r grows while every
  // vertex strictly between p and r lies within the tolerance of p -> r.
  // A vertex off the line by a non-zero amount must not share x or y with
  // p or r: it may be a manhattan corner.
  // onLine: every vertex between p and r lies exactly on the line p -> r
  // (p and r distinct). Then, when the next end lies on that same line too,
  // every distance stays exactly 0 and the run grows without a rescan, so
  // long straight runs cost linear time.
  int32_t count = 0;
  bool onLine = false;
  PSPoint* tested = nullptr;  // end for which the vertices before it passed
  for (;;) {
    bool pass = true;
    const bool distinct = p->x != r->x || p->y != r->y;
    if (onLine && tested && distinct && Cross(p, tested, r) == 0) {
      // The old end and everything before it are on the unchanged line.
    } else {
      onLine = distinct;
      for (PSPoint* v = p->next; v != r; v = v->next) {
        long double d = RoundedDistance(p, v, r);
        if (d > tolerance ||
            (d != 0 && (SharesCoordinate(v, p) || SharesCoordinate(v, r)))) {
          pass = false;
          break;
        }
        if (onLine && Cross(p, v, r) != 0) onLine = false;
      }
    }
    if (!pass) break;
    ++count;
    tested = r;
    r = r->next;
    if (r == p) break;
  }
  if (count == 0) return 0;

  PSPoint* s = p->next;
  for (int32_t i = 0; i < count; ++i) {
    s->flags |= kDeleted;
    s = s->next;
  }
  LinkPoints(p, s);
  if (p == s || p == s->next) return ~count;
  return count;
}

int32_t Simplify(PSList& list, int32_t tolerance) {
  int32_t total = 0;
  for (;;) {
    int32_t sum = 0;
    PSPoint* last = nullptr;
    PSPoint* p = list.head;
    // The ring neighbours of a vertex lie anywhere in memory: they are
    // asked for some vertices ahead on the link chain (its next one, and
    // nearer by, that one's next), so that the misses overlap instead of
    // following one another.
    constexpr int kAhead = 16;
    PSPoint* far = list.head;
    PSPoint* near = list.head;
    for (int i = 0; far && i < kAhead; ++i) {
      __builtin_prefetch(far->next);
      far = far->link;
    }
    for (int i = 0; near && i < kAhead / 2; ++i) near = near->link;
    ChainLead lead(list.head);
    while (p) {
      lead.Step();
      if (far) {
        __builtin_prefetch(far->next);
        far = far->link;
      }
      if (near) {
        const PSPoint* q = near->next;
        if (q && !(near->flags & kDeleted)) __builtin_prefetch(q->next);
        near = near->link;
      }
      PSPoint* nextLink = p->link;
      if (p->flags & kDeleted) {
        // Already unlinked from its ring: take it off the list now.
        if (last)
          last->link = nextLink;
        else
          list.head = nextLink;
        if (list.tail == p) list.tail = last;
        FreePoint(p);
        --list.pointCount;
      } else {
        int32_t r = SimplifyRingAt(p, tolerance);
        if (r >= 0) {
          sum += r;
        } else {
          // The ring collapsed to one or two vertices: it goes entirely.
          int32_t n = -r;
          if (p->next != p) ++n;
          MarkRingDeleted(p);
          --list.ringCount;
          sum += n;
        }
        last = p;
      }
      p = nextLink;
    }
    total += sum;
    if (sum == 0) return total;
    PurgeDeleted(list);
    // After a pass that changed something, exact passes repeat until one
    // removes nothing.
    tolerance = 0;
  }
}

void SplitOffOpenChains(PSList& list, PSList& out) {
  MovePointsIf(list, out, [](const PSPoint* p) { return !p->next || !p->prev; });
}

void SplitOffWholeChains(PSList& list, PSList& out) {
  for (PSPoint* p = list.head; p; p = p->link)
    if (!p->prev)
      for (PSPoint* q = p; q; q = q->next) q->flags |= kVisited;
  MovePointsIf(list, out, [](PSPoint* p) {
    if (!(p->flags & kVisited)) return false;
    p->flags &= ~kVisited;
    return true;
  });
}

PSPoint* CopyRing(PSList& dst, PSPoint* p) {
  PSPoint* first = PushCopy(dst, p);
  p->flags |= kVisited;
  PSPoint* lastCopy = first;
  for (PSPoint* s = p->next; s != p; s = s->next) {
    PSPoint* c = PushCopy(dst, s);
    s->flags |= kVisited;
    LinkPoints(lastCopy, c);
    lastCopy = c;
  }
  LinkPoints(lastCopy, first);
  return first;
}

void AppendRingCopy(const PSPoint* p, PSList& dst) {
  PSPoint* first = PushCopy(dst, p);
  PSPoint* lastCopy = first;
  for (const PSPoint* s = p->next; s != p; s = s->next) {
    PSPoint* c = PushCopy(dst, s);
    LinkPoints(lastCopy, c);
    lastCopy = c;
  }
  LinkPoints(lastCopy, first);
  ++dst.ringCount;
}

int32_t CopyPointList(PSList& src, PSList& dst) {
  int32_t rings = 0;
  for (PSPoint* p = src.head; p; p = p->link) {
    if (p->flags & kVisited) continue;
    if (CopyWalk(p, dst)) ++rings;
  }
  MaskFlags(src, -2);
  dst.ringCount += src.ringCount;
  return rings;
}

int32_t CopyFlaggedRings(PSList& src, PSList& dst) {
  int32_t copied = 0;
  for (PSPoint* q = src.head; q; q = q->link) {
    if (q->flags & kVisited) continue;
    bool marked = false;
    PSPoint* s = q;
    do {
      if (s->flags & PSPointFlags::Marker) marked = true;
      s = s->next;
    } while (s && s != q);
    if (!s) {
      // Open chain: the part before q counts as well.
      for (PSPoint* t = q->prev; t && !(t->flags & kVisited); t = t->prev)
        if (t->flags & PSPointFlags::Marker) marked = true;
    }
    if (marked) {
      CopyWalk(q, dst);
      ++copied;
    } else {
      // Mark the whole ring or chain visited without copying it.
      PSPoint* t = q;
      do {
        t->flags |= kVisited;
        t = t->next;
      } while (t && t != q);
      for (t = q->prev; t && !(t->flags & kVisited); t = t->prev)
        t->flags |= kVisited;
    }
  }
  MaskFlags(src, -2);
  dst.ringCount += copied;
  return copied;
}

void RingFromVertexArray(PSList& list, const Circle& circle, int32_t start,
                         int32_t end) {
  const int32_t n = circle.count;
  const int32_t e = ArcEnd(circle, start, end);
  const Point* v = circle.vertices.get();
  RingAppender ring{list};
  for (int32_t i = start; i < e; ++i) ring.Add(v[i].x, v[i].y);
  if (!(start == 0 && e == n)) {
    ring.Add(v[e % n].x, v[e % n].y);
    ring.Add(circle.cx, circle.cy);
  }
  ring.Close();
}

void RingFromTwoVertexArrays(PSList& list, const Circle& outer,
                             const Circle& inner, int32_t start, int32_t end) {
  const int32_t n = outer.count;
  const int32_t e = ArcEnd(outer, start, end);
  if (inner.count != n || !inner.vertices)
    throw Error("Inner and outer circle differ in vertex count", "DRC", 0);
  const Point* vo = outer.vertices.get();
  const Point* vi = inner.vertices.get();
  RingAppender ring{list};
  for (int32_t i = start; i < e; ++i) ring.Add(vo[i].x, vo[i].y);
  ring.Add(vo[e % n].x, vo[e % n].y);
  ring.Add(vi[e % n].x, vi[e % n].y);
  for (int32_t i = e - 1; i >= start; --i) ring.Add(vi[i].x, vi[i].y);
  ring.Close();
}

}  // namespace velmar
