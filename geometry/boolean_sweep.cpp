// Entry point of the scan-line boolean engine, and hole selection.
#include "geometry/boolean_sweep.h"

#include <cstddef>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/box.h"
#include "foundation/error.h"
#include "geometry/axis_hole_cut.h"
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
           bool byParts, bool settled = false, bool asDrawn = false,
           bool scratch = false);

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

// Rings of at most this many vertices are searched pair by pair for edges
// that meet, before they are merged by parts.
constexpr size_t kSearchedRing = 8;

using i128 = __int128;

inline int SignOf(i128 v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

inline i128 Turn(const Point& a, const Point& b, const Point& c) {
  return i128(int64_t(b.x) - a.x) * (int64_t(c.y) - a.y) -
         i128(int64_t(c.x) - a.x) * (int64_t(b.y) - a.y);
}

inline bool SamePoint(const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; }

// Whether the closed segments a-b and c-d share a point.
bool SegmentsMeet(const Point& a, const Point& b, const Point& c, const Point& d) {
  if (std::max(a.x, b.x) < std::min(c.x, d.x) || std::max(c.x, d.x) < std::min(a.x, b.x) ||
      std::max(a.y, b.y) < std::min(c.y, d.y) || std::max(c.y, d.y) < std::min(a.y, b.y))
    return false;
  const int o1 = SignOf(Turn(a, b, c)), o2 = SignOf(Turn(a, b, d));
  const int o3 = SignOf(Turn(c, d, a)), o4 = SignOf(Turn(c, d, b));
  if (o1 * o2 < 0 && o3 * o4 < 0) return true;
  // Touching or in line: some end lies on the other segment (the boxes of
  // the two already overlap, so an end in line lies within the other's box
  // only when it is on it).
  auto onSegment = [](const Point& p, const Point& q, const Point& r) {
    return std::min(p.x, q.x) <= r.x && r.x <= std::max(p.x, q.x) &&
           std::min(p.y, q.y) <= r.y && r.y <= std::max(p.y, q.y);
  };
  return (o1 == 0 && onSegment(a, b, c)) || (o2 == 0 && onSegment(a, b, d)) ||
         (o3 == 0 && onSegment(c, d, a)) || (o4 == 0 && onSegment(c, d, b));
}

// Whether the segments a-b and c-d cross at one point inside both.
bool SegmentsCross(const Point& a, const Point& b, const Point& c, const Point& d) {
  const int o1 = SignOf(Turn(a, b, c)), o2 = SignOf(Turn(a, b, d));
  const int o3 = SignOf(Turn(c, d, a)), o4 = SignOf(Turn(c, d, b));
  return o1 * o2 < 0 && o3 * o4 < 0;
}

// How the edges of a closed ring meet each other, other than neighbours at
// their common vertex.
enum class RingContact { None, OneCrossing, Other };

// The contacts of ring r; with OneCrossing, ea < eb are the two edges
// (edge k runs from r[k] to r[k + 1], the last one back to r[0]) that
// cross at one point inside both, and no other edges meet.
RingContact ContactsOf(const std::vector<Point>& r, size_t& ea, size_t& eb) {
  const size_t n = r.size();
  if (n < 3) return RingContact::Other;
  RingContact found = RingContact::None;
  for (size_t i = 0; i < n; ++i) {
    const Point& a = r[i];
    const Point& b = r[(i + 1) % n];
    if (SamePoint(a, b)) return RingContact::Other;
    for (size_t j = i + 1; j < n; ++j) {
      const Point& c = r[j];
      const Point& d = r[(j + 1) % n];
      if (j == i + 1 || (i == 0 && j == n - 1)) {
        // Neighbours: they meet beyond their common vertex only when the
        // ring turns straight back.
        const Point& common = j == i + 1 ? b : a;
        const Point& u = j == i + 1 ? a : b;
        const Point& w = j == i + 1 ? d : c;
        if (Turn(common, u, w) == 0 &&
            i128(int64_t(u.x) - common.x) * (int64_t(w.x) - common.x) +
                    i128(int64_t(u.y) - common.y) * (int64_t(w.y) - common.y) >
                0)
          return RingContact::Other;
        continue;
      }
      if (!SegmentsMeet(a, b, c, d)) continue;
      if (found != RingContact::None || !SegmentsCross(a, b, c, d)) return RingContact::Other;
      found = RingContact::OneCrossing;
      ea = i;
      eb = j;
    }
  }
  return found;
}

// Twice the signed area of the ring.
i128 RingArea2Of(const std::vector<Point>& r) {
  i128 a = 0;
  for (size_t k = 0; k < r.size(); ++k) {
    const Point& p = r[k];
    const Point& q = r[(k + 1) % r.size()];
    a += i128(p.x) * q.y - i128(q.x) * p.y;
  }
  return a;
}

// Whether p, on no edge of ring r, lies inside it (an odd number of its
// edges cross the ray from p to the east).
bool InsideRing(const Point& p, const std::vector<Point>& r) {
  bool inside = false;
  for (size_t k = 0; k < r.size(); ++k) {
    const Point& a = r[k];
    const Point& b = r[(k + 1) % r.size()];
    if ((a.y > p.y) == (b.y > p.y)) continue;
    const i128 t = Turn(a, b, p);
    if (b.y > a.y ? t > 0 : t < 0) inside = !inside;
  }
  return inside;
}

// n / d rounded half up, d > 0.
int32_t RoundedQuotient(i128 n, i128 d) {
  const i128 num = 2 * n + d, den = 2 * d;
  i128 q = num / den;
  if (num % den != 0 && num < 0) --q;
  return static_cast<int32_t>(q);
}

// The two lobes of a ring whose only contact is the crossing of edges ea
// and eb, meeting at the crossing rounded to the grid, each turning
// counter-clockwise; false when the rounded lobes are not two simple rings
// that wind in opposite senses, meet only at the rounded crossing and lie
// outside each other (a lobe narrower than the rounding, or a loop inside
// the other lobe).
bool BowTieLobes(const std::vector<Point>& r, size_t ea, size_t eb, std::vector<Point>& lobe1,
                 std::vector<Point>& lobe2) {
  const size_t n = r.size();
  const Point& a = r[ea];
  const Point& b = r[ea + 1];
  const Point& c = r[eb];
  const Point& d = r[(eb + 1) % n];
  const int64_t adx = int64_t(b.x) - a.x, ady = int64_t(b.y) - a.y;
  const int64_t cdx = int64_t(d.x) - c.x, cdy = int64_t(d.y) - c.y;
  i128 den = i128(adx) * cdy - i128(ady) * cdx;
  i128 t = i128(int64_t(c.x) - a.x) * cdy - i128(int64_t(c.y) - a.y) * cdx;
  if (den < 0) {
    den = -den;
    t = -t;
  }
  const Point cross(RoundedQuotient(i128(a.x) * den + t * adx, den),
                    RoundedQuotient(i128(a.y) * den + t * ady, den));
  lobe1.assign(1, cross);
  for (size_t k = ea + 1; k <= eb; ++k) lobe1.push_back(r[k]);
  lobe2.assign(1, cross);
  for (size_t k = eb + 1; k < n; ++k) lobe2.push_back(r[k]);
  for (size_t k = 0; k <= ea; ++k) lobe2.push_back(r[k]);
  size_t u, v;
  if (ContactsOf(lobe1, u, v) != RingContact::None || ContactsOf(lobe2, u, v) != RingContact::None)
    return false;
  // The lobes meet nowhere but at the rounded crossing (lobe[0]), where two
  // edges of each end: those may not run along each other.
  for (size_t i = 0; i < lobe1.size(); ++i) {
    const Point& p = lobe1[i];
    const Point& q = lobe1[(i + 1) % lobe1.size()];
    for (size_t j = 0; j < lobe2.size(); ++j) {
      const Point& s = lobe2[j];
      const Point& w = lobe2[(j + 1) % lobe2.size()];
      const bool pEnd = i == 0 || i + 1 == lobe1.size();
      const bool sEnd = j == 0 || j + 1 == lobe2.size();
      if (pEnd && sEnd) {
        const Point& far1 = i == 0 ? q : p;
        const Point& far2 = j == 0 ? w : s;
        if (Turn(cross, far1, far2) == 0 &&
            i128(int64_t(far1.x) - cross.x) * (int64_t(far2.x) - cross.x) +
                    i128(int64_t(far1.y) - cross.y) * (int64_t(far2.y) - cross.y) >
                0)
          return false;
      } else if (SegmentsMeet(p, q, s, w)) {
        return false;
      }
    }
  }
  const i128 area1 = RingArea2Of(lobe1), area2 = RingArea2Of(lobe2);
  if ((area1 > 0) == (area2 > 0)) return false;
  if (InsideRing(lobe1[1], lobe2) || InsideRing(lobe2[1], lobe1)) return false;
  if (area1 < 0) std::reverse(lobe1.begin(), lobe1.end());
  if (area2 < 0) std::reverse(lobe2.begin(), lobe2.end());
  return true;
}

// Appends the ring through start to dst as rings that each wind one way
// (counter-clockwise everywhere, or clockwise everywhere): as it is when no
// two of its edges meet but neighbours at their common vertex, as its two
// lobes when it is a small bow tie whose edges cross once. Any other ring
// (a long one, one that touches itself, or crosses itself more than once)
// is appended as it is and false returned: it may wind both ways.
bool AppendOneWayRings(const PSPoint* start, PSList& dst, std::vector<Point>& ring,
                       std::vector<Point>& lobe1, std::vector<Point>& lobe2) {
  ring.clear();
  const PSPoint* q = start;
  do {
    ring.push_back(Point(q->x, q->y));
    q = q->next;
  } while (q != start && ring.size() <= kSearchedRing);
  if (q == start) {
    size_t ea = 0, eb = 0;
    const RingContact contact = ContactsOf(ring, ea, eb);
    if (contact == RingContact::None) {
      PushRing(dst, ring.data(), ring.size());
      return true;
    }
    if (contact == RingContact::OneCrossing && BowTieLobes(ring, ea, eb, lobe1, lobe2)) {
      PushRing(dst, lobe1.data(), lobe1.size());
      PushRing(dst, lobe2.data(), lobe2.size());
      return true;
    }
  }
  AppendRingCopy(start, dst);
  return false;
}

struct PartRing {
  PSPoint* start;  // leftmost vertex (ties: the lowest)
  uint64_t key;    // its position, ordered as (x, then y)
};

// The merges of the small lists of a union by parts, remembered by shape.
// A layout that places one cell in an array gives groups of rings that are
// copies of a few patterns moved by whole units. Every test of the sweep
// and of snap rounding is exact and commutes with such a move (a crossing
// rounds half up to the moved grid point), so the merge of a copy is the
// remembered merge, moved: the same points, flags, ring links and link
// order. A list is known by its points in link order, each relative to the
// first, with its flags and the places of its ring neighbours.
class MergeMemo {
 public:
  // Appends to out, which must be empty, the merge of list remembered for
  // its shape and asDrawn, and returns true; else false, and a following
  // Keep stores the merge that the caller then puts into out.
  bool Recall(const PSList& list, bool asDrawn, PSList& out) {
    pending_ = false;
    if (out.head || !list.head || list.pointCount > kPoints || bytes_ > kBytes) return false;
    key_.assign(1, '\1');  // a list (rings are keyed after '\2')
    if (!Encode(list, key_, list.head->x, list.head->y)) return false;
    key_.push_back(asDrawn ? '\1' : '\0');
    return Find(list.head->x, list.head->y, out);
  }

  // The same for the merge of the closed rings [lo, hi) of a union by parts
  // (MergePart), known by their points from their starts.
  bool Recall(const std::vector<PartRing>& rings, size_t lo, size_t hi, PSList& out) {
    pending_ = false;
    if (out.head || lo == hi || bytes_ > kBytes) return false;
    const int32_t ox = rings[lo].start->x, oy = rings[lo].start->y;
    key_.clear();
    key_.push_back('\2');
    int32_t points = 0;
    for (size_t i = lo; i < hi; ++i) {
      const PSPoint* q = rings[i].start;
      int32_t n = 0;
      do {
        if (!Near(q, ox, oy) || ++points > kPoints) return false;
        AppendRaw(key_, int32_t(q->x - ox));
        AppendRaw(key_, int32_t(q->y - oy));
        ++n;
        q = q->next;
      } while (q != rings[i].start);
      AppendRaw(key_, n);
    }
    return Find(ox, oy, out);
  }

  // Stores out, the merge of the list last given to a Recall that found
  // nothing.
  void Keep(const PSList& out) {
    if (!pending_) return;
    pending_ = false;
    std::string value;
    if (out.head && !Encode(out, value, originX_, originY_)) return;
    AppendRaw(value, out.ringCount);
    AppendRaw(value, out.words);
    bytes_ += key_.size() + value.size() + 64;
    entries_.emplace(std::move(key_), std::move(value));
  }

 private:
  // Lists of at most this many points are remembered, up to about this
  // many bytes in all.
  static constexpr int32_t kPoints = 256;
  static constexpr size_t kBytes = size_t(64) << 20;
  // Offsets beyond this are not moved (kept far from overflow).
  static constexpr int64_t kReach = int64_t(1) << 29;

  struct Packed {
    int32_t dx, dy;
    int32_t next, prev;  // link-order places, -1 for none
    uint16_t flags;
  };

  template <typename T>
  static void AppendRaw(std::string& s, const T& v) {
    s.append(reinterpret_cast<const char*>(&v), sizeof(T));
  }

  // Whether p lies close enough to (ox, oy), and to the origin, to be
  // moved without overflow.
  static bool Near(const PSPoint* p, int32_t ox, int32_t oy) {
    const int64_t dx = int64_t(p->x) - ox, dy = int64_t(p->y) - oy;
    return dx >= -kReach && dx <= kReach && dy >= -kReach && dy <= kReach &&
           p->x >= -2 * kReach && p->x <= 2 * kReach && p->y >= -2 * kReach &&
           p->y <= 2 * kReach;
  }

  // The result remembered under key_ moved to (ox, oy) into out; else
  // false, and Keep stores the next result under key_.
  bool Find(int32_t ox, int32_t oy, PSList& out) {
    const auto it = entries_.find(key_);
    if (it == entries_.end()) {
      pending_ = true;
      originX_ = ox;
      originY_ = oy;
      return false;
    }
    Decode(it->second, ox, oy, out);
    return true;
  }

  // Appends to s the points of list in link order relative to (ox, oy);
  // false when one lies too far off or a ring neighbour is not on the list.
  bool Encode(const PSList& list, std::string& s, int32_t ox, int32_t oy) {
    // Link-order places of the points, in an open-addressed table.
    size_t size = 16;
    while (size < 2 * size_t(list.pointCount) + 2) size *= 2;
    table_.assign(size, Place{nullptr, -1});
    auto slot = [&](const PSPoint* q) {
      size_t h = (reinterpret_cast<uintptr_t>(q) >> 4) * 0x9E3779B97F4A7C15ull;
      for (h >>= 20;; ++h) {
        Place& e = table_[h & (size - 1)];
        if (!e.p || e.p == q) return &e;
      }
    };
    int32_t n = 0;
    for (const PSPoint* p = list.head; p; p = p->link) {
      if (n >= int32_t(size / 2)) return false;
      *slot(p) = Place{p, n++};
    }
    auto place = [&](const PSPoint* q, int32_t& at) {
      if (!q) {
        at = -1;
        return true;
      }
      const Place* e = slot(q);
      at = e->at;
      return e->p != nullptr;
    };
    AppendRaw(s, list.pointCount);
    AppendRaw(s, list.ringCount);
    AppendRaw(s, list.words);
    for (const PSPoint* p = list.head; p; p = p->link) {
      if (!Near(p, ox, oy)) return false;
      Packed k{int32_t(p->x - ox), int32_t(p->y - oy), -1, -1, p->flags};
      if (!place(p->next, k.next) || !place(p->prev, k.prev)) return false;
      AppendRaw(s, k.dx);
      AppendRaw(s, k.dy);
      AppendRaw(s, k.next);
      AppendRaw(s, k.prev);
      AppendRaw(s, k.flags);
    }
    return true;
  }

  void Decode(const std::string& s, int32_t ox, int32_t oy, PSList& out) {
    constexpr size_t kHead = 2 * sizeof(int32_t) + sizeof(PSList::words);
    constexpr size_t kPoint = 4 * sizeof(int32_t) + sizeof(uint16_t);
    const size_t tail = sizeof(int32_t) + sizeof(PSList::words);
    const char* c = s.data();
    points_.clear();
    if (s.size() > tail) {
      c += kHead;  // the count fields of the merged list (kept below)
      const size_t n = (s.size() - kHead - tail) / kPoint;
      for (size_t i = 0; i < n; ++i, c += kPoint) {
        int32_t dx, dy;
        std::memcpy(&dx, c, 4);
        std::memcpy(&dy, c + 4, 4);
        points_.push_back(AppendPoint(out, ox + dx, oy + dy));
      }
      c = s.data() + kHead;
      for (size_t i = 0; i < n; ++i, c += kPoint) {
        int32_t next, prev;
        uint16_t flags;
        std::memcpy(&next, c + 8, 4);
        std::memcpy(&prev, c + 12, 4);
        std::memcpy(&flags, c + 16, 2);
        points_[i]->next = next < 0 ? nullptr : points_[size_t(next)];
        points_[i]->prev = prev < 0 ? nullptr : points_[size_t(prev)];
        points_[i]->flags = flags;
      }
    }
    c = s.data() + s.size() - tail;
    std::memcpy(&out.ringCount, c, sizeof(int32_t));
    std::memcpy(out.words, c + sizeof(int32_t), sizeof(PSList::words));
  }

  struct Place {
    const PSPoint* p;
    int32_t at;
  };
  std::unordered_map<std::string, std::string> entries_;
  std::string key_;
  std::vector<Place> table_;
  std::vector<PSPoint*> points_;
  size_t bytes_ = 0;
  bool pending_ = false;
  int32_t originX_ = 0, originY_ = 0;
};

// Sweep of a merge by parts (asDrawn as in Sweep), through the memo.
void MergeSmall(PSList& list, PSList& out, bool asDrawn, MergeMemo& memo) {
  if (memo.Recall(list, asDrawn, out)) return;
  Sweep(list, &out, BooleanOpCode::Merge, false, false, false, asDrawn, true);
  memo.Keep(out);
}

// Merges rings [lo, hi) into out (every ring taken as first operand).
void MergePart(const std::vector<PartRing>& rings, size_t lo, size_t hi,
               PSList& out, MergeMemo& memo) {
  ScratchList work;
  if (hi - lo <= kPartRings) {
    // Small rings that cross themselves once come in as their lobes, found
    // here directly rather than by sweeping each ring alone: when every ring
    // winds one way, nothing needs searching after the crossings are
    // rounded.
    if (memo.Recall(rings, lo, hi, out)) return;
    std::vector<Point> ring, lobe1, lobe2;
    bool oneWay = true;
    for (size_t i = lo; i < hi; ++i)
      oneWay = AppendOneWayRings(rings[i].start, work.list, ring, lobe1, lobe2) && oneWay;
    if (work.list.head) {
      MarkOperand(work.list, false);
      Sweep(work.list, &out, BooleanOpCode::Merge, false, false, false, oneWay, true);
    }
    memo.Keep(out);
    return;
  }
  const size_t mid = lo + (hi - lo) / 2;
  MergePart(rings, lo, mid, work.list, memo);
  ScratchList right;
  MergePart(rings, mid, hi, right.list, memo);
  SpliceList(work.list, right.list);
  if (!work.list.head) return;
  MarkOperand(work.list, false);
  // Merged parts are outer rings and their holes, each winding one way
  // (snap rounding keeps it so): as drawn they wind as their lobes would,
  // and nothing needs searching for rings that meet themselves.
  MergeSmall(work.list, out, true, memo);
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
    rings.push_back(PartRing{left, (uint64_t(uint32_t(left->x) ^ 0x80000000u) << 32) |
                                       (uint32_t(left->y) ^ 0x80000000u)});
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
  // By the positions kept with the rings: the same order as ComparePoint
  // on their starts, without reading the points.
  std::sort(rings.begin(), rings.end(),
            [](const PartRing& a, const PartRing& b) { return a.key < b.key; });
  MergeMemo memo;
  MergePart(rings, 0, rings.size(), out, memo);
  return true;
}

// Which cells of a coarse grid over a box some box of a set covers: a box
// that meets one of the set (closed boxes) covers a cell it shares with it,
// so a box that covers only free cells meets none of them. Two prefix-sum
// passes: the cost is that of the boxes and the cells, however large the
// boxes.
class BoxCover {
 public:
  BoxCover(const Box& all, size_t boxes) : all_(all) {
    const int64_t g = std::clamp<int64_t>(
        int64_t(std::ceil(std::sqrt(double(std::max<size_t>(boxes, 1))))), 1, 1024);
    const int64_t w = int64_t(all.x2) - all.x1 + 1, h = int64_t(all.y2) - all.y1 + 1;
    cw_ = std::max<int64_t>(1, (w + g - 1) / g);
    ch_ = std::max<int64_t>(1, (h + g - 1) / g);
    nx_ = (w + cw_ - 1) / cw_;
    ny_ = (h + ch_ - 1) / ch_;
    sum_.assign(size_t((nx_ + 1) * (ny_ + 1)), 0);
  }

  void Add(const Box& b) {
    const int64_t x1 = Cx(b.x1), x2 = Cx(b.x2) + 1, y1 = Cy(b.y1), y2 = Cy(b.y2) + 1;
    sum_[At(x1, y1)] += 1;
    sum_[At(x2, y1)] -= 1;
    sum_[At(x1, y2)] -= 1;
    sum_[At(x2, y2)] += 1;
  }

  // After the last Add: the boxes counted per cell, then the covered cells
  // summed from the origin (cell (i, j) at (i + 1, j + 1)).
  void Finish() {
    for (int64_t y = 0; y < ny_; ++y)
      for (int64_t x = 0; x < nx_; ++x) {
        int32_t& c = sum_[At(x, y)];
        if (x > 0) c += sum_[At(x - 1, y)];
        if (y > 0) c += sum_[At(x, y - 1)];
        if (x > 0 && y > 0) c -= sum_[At(x - 1, y - 1)];
      }
    std::vector<int32_t> covered(sum_.size(), 0);
    for (int64_t y = 0; y < ny_; ++y)
      for (int64_t x = 0; x < nx_; ++x)
        covered[At(x + 1, y + 1)] = (sum_[At(x, y)] > 0 ? 1 : 0) +
                                    covered[At(x, y + 1)] + covered[At(x + 1, y)] -
                                    covered[At(x, y)];
    sum_.swap(covered);
  }

  bool Meets(const Box& b) const {
    const int64_t x1 = Cx(b.x1), x2 = Cx(b.x2) + 1, y1 = Cy(b.y1), y2 = Cy(b.y2) + 1;
    return sum_[At(x2, y2)] - sum_[At(x1, y2)] - sum_[At(x2, y1)] + sum_[At(x1, y1)] > 0;
  }

 private:
  int64_t Cx(int32_t x) const {
    return std::clamp<int64_t>((int64_t(x) - all_.x1) / cw_, 0, nx_ - 1);
  }
  int64_t Cy(int32_t y) const {
    return std::clamp<int64_t>((int64_t(y) - all_.y1) / ch_, 0, ny_ - 1);
  }
  size_t At(int64_t x, int64_t y) const { return size_t(y * (nx_ + 1) + x); }

  Box all_;
  int64_t cw_ = 1, ch_ = 1, nx_ = 1, ny_ = 1;
  std::vector<int32_t> sum_;  // (nx + 1) x (ny + 1)
};

// An intersection or a difference is empty wherever its first operand winds
// around nothing, and a ring winds around nothing outside its box. Snapping
// keeps a ring inside its box too (a hot pixel that an edge touches lies in
// the edge's box). So a second-operand ring whose box meets the box of no
// first-operand ring (for And, also a first-operand ring whose box meets no
// second-operand box) borders nothing of the result: in the environment of
// a small shape, thousands of rings crossing each other far from it would
// otherwise be split at every crossing and swept. Marks those rings Deleted
// and returns their number; none when the list holds an open chain.
int32_t MarkFarRings(PSList& list, BooleanOpCode code) {
  struct RingBox {
    PSPoint* start;
    Box box;
    bool second;
  };
  std::vector<RingBox> rings;
  Box all;
  size_t firsts = 0;
  bool closed = true;
  for (PSPoint* p = list.head; p && closed; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    RingBox r{p, Box(), (p->flags & PSPointFlags::SecondLayer) != 0};
    PSPoint* q = p;
    do {
      q->flags |= PSPointFlags::Visited;
      r.box.Extend(q->x, q->y);
      q = q->next;
    } while (q && q != p);
    closed = q != nullptr;
    all.Extend(r.box.x1, r.box.y1);
    all.Extend(r.box.x2, r.box.y2);
    firsts += !r.second;
    rings.push_back(r);
  }
  MaskFlags(list, ~int(PSPointFlags::Visited));
  if (!closed || firsts == 0 || firsts == rings.size()) return 0;
  BoxCover first(all, rings.size()), second(all, rings.size());
  for (const RingBox& r : rings) (r.second ? second : first).Add(r.box);
  first.Finish();
  if (code == BooleanOpCode::And) second.Finish();
  int32_t marked = 0;
  for (const RingBox& r : rings) {
    const bool far = r.second ? !first.Meets(r.box)
                              : code == BooleanOpCode::And && !second.Meets(r.box);
    if (!far) continue;
    MarkRingDeleted(r.start);
    ++marked;
  }
  return marked;
}

// Clears the marks of the rings set aside and links them back onto the list.
void PutBack(PSList& list, PSList& aside) {
  if (!aside.head) return;
  MaskFlags(aside, ~int(PSPointFlags::Deleted));
  SpliceList(list, aside);
}

// Takes the vertices marked Deleted off the list into aside, in link order.
void MoveDeleted(PSList& list, PSList& aside) {
  PSPoint* last = nullptr;
  int32_t moved = 0;
  for (PSPoint* p = list.head; p;) {
    PSPoint* nextLink = p->link;
    if (p->flags & PSPointFlags::Deleted) {
      (last ? last->link : list.head) = nextLink;
      p->link = nullptr;
      (aside.tail ? aside.tail->link : aside.head) = p;
      aside.tail = p;
      ++moved;
    } else {
      last = p;
    }
    p = nextLink;
  }
  list.tail = last;
  list.pointCount -= moved;
  aside.pointCount += moved;
}

// SettleCrossings of a list whose far rings (MarkFarRings) count only as
// hot pixels: when some crossing lies off the grid, the other rings are
// snapped as in the whole list and the far rings go into aside (marks
// kept); otherwise the marks are cleared and the whole list is settled.
// Returns whether the whole list would have changed: an off-grid crossing
// gives a vertex to at least one of its two edges.
bool SettleNearRings(PSList& list, PSList& aside, int32_t farRings) {
  const int32_t before = list.pointCount;
  bool offGrid = false;
  if (list.head && list.head->link && ClassifyList(list) != 0)
    SnapRoundCrossings(list, &offGrid, true);
  if (!offGrid) {
    MaskFlags(list, ~int(PSPointFlags::Deleted));
    SettleCrossings(list);
    return list.pointCount != before;
  }
  MoveDeleted(list, aside);
  list.ringCount -= farRings;
  aside.ringCount += farRings;
  if (list.head && list.head->link) {
    if (!IsSortedBy(list.head, ComparePoint)) SortPointsByPosition(list, false);
    ScanSweep(list, nullptr, BooleanOpCode::CrossingPass, true);
  }
  return true;
}

// Copies the list into dst exactly: the same positions, flags, ring links
// and link order, dst's counts those of list.
void CopyListExactly(PSList& list, PSList& dst) {
  static thread_local std::vector<PSPoint*> links;
  links.clear();
  for (PSPoint* p = list.head; p; p = links.back()) {
    PSPoint* c = AppendPoint(dst, p->x, p->y);
    c->flags = p->flags;
    c->next = p->next;
    c->prev = p->prev;
    links.push_back(p->link);
    p->link = c;  // the copy of p, until the ring links are mapped
  }
  for (PSPoint* c = dst.head; c; c = c->link) {
    if (c->next) c->next = c->next->link;
    if (c->prev) c->prev = c->prev->link;
  }
  size_t i = 0;
  for (PSPoint* p = list.head; p; p = links[i++]) p->link = links[i];
  dst.ringCount = list.ringCount;
}

}  // namespace

namespace {

// SettleCrossings, except that with deferPass the crossing pass is left out
// when snap rounding moved some crossing onto the grid: every edge then
// holds a vertex at each hot pixel it passes through, and the crossing pass
// finds nothing to split. Returns whether it was left out; the caller's
// classifying sweep then checks that it splits nothing (see Sweep).
bool SettleOrDefer(PSList& list, bool deferPass) {
  if (!list.head || !list.head->link || ClassifyList(list) == 0) return false;
  bool offGrid = false;
  SnapRoundCrossings(list, &offGrid);
  if (!IsSortedBy(list.head, ComparePoint)) SortPointsByPosition(list, false);
  if (deferPass && offGrid) return true;
  ScanSweep(list, nullptr, BooleanOpCode::CrossingPass, true);
  return false;
}

}  // namespace

void SettleCrossings(PSList& list) {
  // Axis-parallel edges cross and touch only at grid points, where the
  // classifying sweep's own splits are exact.
  SettleOrDefer(list, false);
}

PSPoint* HoleStart(PSPoint* p) {
  bool closed = false;
  return HoleStartOf(p, closed);
}

int32_t SelectHoles(PSList& list, PSList* out, bool invert) {
  int32_t holes = 0;
  ChainLead lead(list.head);
  for (PSPoint* p = list.head; p; p = p->link) {
    lead.Step();
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
           bool byParts, bool settled, bool asDrawn, bool scratch) {
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
  // Rings far from an intersection or difference (MarkFarRings), back on
  // the list when the sweep is done.
  ScratchList aside;
  const bool keep = code != BooleanOpCode::CutHoles &&
                    code != BooleanOpCode::Fracture &&
                    code != BooleanOpCode::FractureCommand;
  const bool rings = out && !edgesOnly && keep && code != BooleanOpCode::CrossingPass;
  // The crossing pass after snap rounding may be left to the classifying
  // sweep's check when the list is the caller's scratch (its points may be
  // replaced by a copy) and its rings are read as drawn (no search for
  // rings that meet themselves reads the settled list first).
  bool deferred = false;
  if (settled) {
    // Nothing to snap or split: the caller's list was settled as a whole.
  } else if (keep && code != BooleanOpCode::CrossingPass) {
    const int32_t before = list.pointCount;
    int32_t far = 0;
    if (out && !edgesOnly && (code == BooleanOpCode::And || code == BooleanOpCode::Diff))
      far = MarkFarRings(list, code);
    const bool changed =
        far > 0 ? SettleNearRings(list, aside.list, far)
                : (deferred = SettleOrDefer(list, rings && scratch && asDrawn),
                   list.pointCount != before);
    if (!list.head) {
      PutBack(list, aside.list);
      return;
    }
    // Only a crossing pass that split edges can have found a ring crossing
    // itself; other input is not searched.
    if (changed) {
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
  if (rings) {
    // Rings: the sweep records its output so that joining it into rings
    // need not read the points back (the same result as ReconnectPolygons).
    std::vector<PositionItem> emitted;
    if (deferred) {
      // Without the crossing pass the classifying sweep meets the same
      // neighbours in the same order; it is kept when it splits nothing, as
      // the crossing pass then would not have either. Otherwise the list
      // as it was is settled in full and swept again.
      ScratchList before;
      CopyListExactly(list, before.list);
      const int32_t points = list.pointCount;
      bool clean = false;
      try {
        ScanSweepRecorded(list, work.list, code, emitted);
        clean = list.pointCount == points;
      } catch (const Error&) {
      }
      if (!clean) {
        ClearPointList(work.list);
        emitted.clear();
        ClearPointList(list);
        SpliceList(list, before.list);
        ScanSweep(list, nullptr, BooleanOpCode::CrossingPass, true);
        if (list.head->link && !IsSortedBy(list.head, ComparePoint))
          SortPointsByPosition(list, false);
        ScanSweepRecorded(list, work.list, code, emitted);
      }
    } else {
      ScanSweepRecorded(list, work.list, code, emitted);
    }
    if (work.list.head) {
      ReconnectRecorded(work.list, emitted);
      SpliceList(*out, work.list);
    }
    PutBack(list, aside.list);
    return;
  }
  // Axis-parallel holes are hung by the heights of the edges alone; the
  // sweep cuts the others, and those where the two could differ.
  if (code != BooleanOpCode::CutHoles || !CutAxisParallelHolesOpen(list))
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
