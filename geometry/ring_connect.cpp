// Ring connection of edge chains at coincident vertices.
#include "geometry/ring_connect.h"

#include <algorithm>
#include <vector>

#include "foundation/error.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/scan_sweep.h"

namespace velmar {

namespace {

using i128 = __int128;

inline bool IsStart(const PSPoint* p) { return p->next && !p->prev; }
inline bool IsEnd(const PSPoint* p) { return p->prev && !p->next; }

// Direction from position (px, py) to q.
struct Direction {
  int64_t dx;
  int64_t dy;
  bool start;  // the outgoing edge of a chain start, else an incoming edge
  PSPoint* point;
};

// Upper half-plane (angle in [0, pi)) first, then counter-clockwise.
inline int HalfOf(const Direction& d) {
  return (d.dy > 0 || (d.dy == 0 && d.dx > 0)) ? 0 : 1;
}

inline i128 Cross(int64_t ax, int64_t ay, int64_t bx, int64_t by) {
  return i128(ax) * by - i128(ay) * bx;
}

[[noreturn]] void FailAt(int32_t x, int32_t y, size_t open, bool lone) {
  if (lone || open == 1)
    PrintMessage("Program Error: lost connection at (%d, %d)\n", x, y);
  else
    PrintMessage("Program Error: wrong connection condition at (%d, %d)\n", x, y);
  throw Error("Polygon connection failed", "DRC");
}

// Pairs every end with a start at one position and links them: ends[i]'s
// previous vertex is linked to the start chosen for it. Returns false (and
// links nothing) when the starts and ends cannot be paired.
bool PairAtPosition(std::vector<PSPoint*>& starts, std::vector<PSPoint*>& ends,
                    std::vector<Direction>& dirs) {
  const size_t k = starts.size();
  if (k != ends.size()) return false;
  if (k == 0) return true;
  if (k == 1) {
    LinkPoints(ends[0]->prev, starts[0]);
    return true;
  }
  const int64_t px = starts[0]->x, py = starts[0]->y;
  if (k == 2) {
    // Two rings touching at one point: the turn from q's next vertex to s's
    // previous vertex decides which start each end joins.
    PSPoint* q = starts[0];
    PSPoint* r = starts[1];
    PSPoint* s = ends[0];
    PSPoint* t = ends[1];
    const PSPoint* a = q->next;
    const PSPoint* b = s->prev;
    const i128 c = Cross(a->x - px, a->y - py, b->x - px, b->y - py);
    PSPoint* sp = s->prev;
    PSPoint* tp = t->prev;
    if (c > 0) {
      LinkPoints(sp, q);
      LinkPoints(tp, r);
    } else {
      LinkPoints(sp, r);
      LinkPoints(tp, q);
    }
    return true;
  }
  // Three or more rings at one point: around the point the outgoing and the
  // incoming edges must alternate; each end joins the start just clockwise
  // of its incoming edge, which bounds the same piece of inside.
  dirs.clear();
  for (PSPoint* s : starts)
    dirs.push_back(Direction{s->next->x - px, s->next->y - py, true, s});
  for (PSPoint* e : ends)
    dirs.push_back(Direction{e->prev->x - px, e->prev->y - py, false, e});
  std::sort(dirs.begin(), dirs.end(), [](const Direction& a, const Direction& b) {
    int ha = HalfOf(a), hb = HalfOf(b);
    if (ha != hb) return ha < hb;
    return Cross(a.dx, a.dy, b.dx, b.dy) > 0;
  });
  const size_t n = dirs.size();
  for (size_t i = 0; i < n; ++i) {
    const Direction& a = dirs[i];
    const Direction& b = dirs[(i + 1) % n];
    if (a.start == b.start) return false;
    if (HalfOf(a) == HalfOf(b) && Cross(a.dx, a.dy, b.dx, b.dy) == 0)
      return false;  // two edges leave in one direction
  }
  for (size_t i = 0; i < n; ++i) {
    if (dirs[i].start) continue;
    const Direction& s = dirs[(i + n - 1) % n];
    LinkPoints(dirs[i].point->prev, s.point);
  }
  return true;
}

// Joins the chains of a list sorted by position, group by group. With
// strict set a group that cannot be joined fails; otherwise it is left open.
void JoinSortedChains(PSList& list, bool strict) {
  if (!list.head) return;
  std::vector<PSPoint*> group, starts, ends;
  std::vector<Direction> dirs;
  PSPoint** slot = &list.head;
  PSPoint* last = nullptr;
  PSPoint* q = list.head;
  while (q) {
    group.clear();
    starts.clear();
    ends.clear();
    bool lone = false;
    PSPoint* r = q;
    for (; r && r->x == q->x && r->y == q->y; r = r->link) {
      group.push_back(r);
      if (IsStart(r))
        starts.push_back(r);
      else if (IsEnd(r))
        ends.push_back(r);
      else if (!r->next && !r->prev)
        lone = true;
    }
    bool joined = false;
    if (!lone && starts.size() == ends.size()) {
      joined = PairAtPosition(starts, ends, dirs);
    }
    if (!joined && strict) {
      *slot = q;  // the rest of the chain, untouched, keeps the old tail
      FailAt(q->x, q->y, starts.size() + ends.size(), lone);
    }
    for (PSPoint* p : group) {
      if (joined && IsEnd(p) && std::find(ends.begin(), ends.end(), p) != ends.end())
        continue;
      *slot = p;
      slot = &p->link;
      last = p;
    }
    if (joined) {
      for (PSPoint* e : ends) {
        e->prev = nullptr;
        FreePoint(e);
        --list.pointCount;
      }
    }
    q = r;
  }
  *slot = nullptr;
  list.tail = last;
}

}  // namespace

void ConnectPolygons(PSList& list) { JoinSortedChains(list, true); }

void ReconnectRecorded(PSList& list, std::vector<PositionItem>& emitted) {
  if (emitted.empty()) return;
  // The link chain runs from the last point pushed to the first; sorting in
  // that order keeps ties as a sort of the list would.
  std::reverse(emitted.begin(), emitted.end());
  SortPositionItems(emitted, true);
  std::vector<PSPoint*> starts, ends;
  std::vector<Direction> dirs;
  const size_t n = emitted.size();
  constexpr uint32_t kFreed = 2;
  // First pass: join at every position; the link chain is left alone, so a
  // failure leaves the list whole.
  for (size_t i = 0; i < n;) {
    size_t j = i;
    starts.clear();
    ends.clear();
    for (; j < n && emitted[j].key == emitted[i].key; ++j)
      (emitted[j].start ? starts : ends).push_back(emitted[j].point);
    if (starts.size() == 1 && ends.size() == 1) {
      PSPoint* st = starts[0];
      PSPoint* en = ends[0];
      PSPoint* a = en->prev;
      PSPoint* b = st->next;
      const int64_t ux = int64_t(st->x) - a->x, uy = int64_t(st->y) - a->y;
      const int64_t vx = int64_t(b->x) - st->x, vy = int64_t(b->y) - st->y;
      if (Cross(ux, uy, vx, vy) == 0 && i128(ux) * vx + i128(uy) * vy > 0) {
        // Straight through: the vertex goes, as Simplify would take it.
        LinkPoints(a, b);
        for (size_t k = i; k < j; ++k) emitted[k].start = kFreed;
      } else {
        LinkPoints(a, st);
        for (size_t k = i; k < j; ++k)
          if (emitted[k].point == en) emitted[k].start = kFreed;
      }
    } else if (starts.size() == ends.size() && PairAtPosition(starts, ends, dirs)) {
      for (size_t k = i; k < j; ++k)
        if (!emitted[k].start) emitted[k].start = kFreed;
    } else {
      FailAt(emitted[i].point->x, emitted[i].point->y, starts.size() + ends.size(), false);
    }
    i = j;
  }
  // Second pass: the link chain in position order without the freed points.
  PSPoint** slot = &list.head;
  PSPoint* last = nullptr;
  for (const PositionItem& it : emitted) {
    if (it.start == kFreed) {
      FreePoint(it.point);
      --list.pointCount;
      continue;
    }
    *slot = it.point;
    slot = &it.point->link;
    last = it.point;
  }
  *slot = nullptr;
  list.tail = last;
  emitted.clear();
  Simplify(list, 0);
}

void ReconnectPolygons(PSList& list, bool check) {
  SortPointsByPosition(list, true);
  ConnectPolygons(list);
  if (check) CheckConnectivity(list);
  Simplify(list, 0);
}

void MergeTouchingRings(PSList& list) {
  SortPointsByPosition(list, true);
  JoinSortedChains(list, false);
  RemoveCollinear(list);
}

}  // namespace velmar
