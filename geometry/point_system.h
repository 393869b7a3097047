// Point System: the polygon model of the geometry engine.
//
// A polygon set is a PSList: a header over pooled vertex records (PSPoint).
// Every vertex sits on the list's link chain (all vertices of the set, in list
// order) and, through next/prev, on one ring (closed boundary) or one open
// chain (edges, line ends, markers). Vertices come from the process-wide point
// pool; a cleared list returns its vertices to the point free list in one
// splice.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/box.h"

namespace velmar {

// Vertex record. Natural alignment: the pool keeps these in blocks of 50000.
struct PSPoint {
  int32_t x;        // database units
  int32_t y;
  PSPoint* link;    // next vertex on the owning list's link chain (null at the
                    // tail); also the chaining of the point free list
  PSPoint* next;    // next vertex of its ring or chain (null at a chain end)
  PSPoint* prev;    // previous vertex of its ring or chain (null at a start)
  uint16_t flags;   // PSPointFlags; meaning depends on the running algorithm
};

// A pointer some thousand points ahead of a walk along a list's link chain,
// stepped with it. The points of a list made in chain order (as the sweeps
// make them) lie in memory about in that order, and most ring neighbours of
// a point lie on the chain a little ahead of it: the lead draws them into
// the cache before the walk's ring steps ask for them, instead of one miss
// after another along a ring.
class ChainLead {
 public:
  static constexpr int kLead = 4096;
  explicit ChainLead(PSPoint* head) : p_(head) {
    for (int i = 0; p_ && i < kLead; ++i) p_ = p_->link;
  }
  void Step() {
    if (p_) {
      __builtin_prefetch(p_->link);
      p_ = p_->link;
    }
  }

 private:
  PSPoint* p_;
};

// Meaning of the flag bits of a PSPoint. Several bits are reused by different
// algorithms; each algorithm leaves the bits as the next one expects.
struct PSPointFlags {
  // Set by every ring walk that must not visit a ring twice; the walk clears
  // it at its end (MaskFlags with -2).
  static constexpr uint16_t Visited = 0x0001;
  // Marker point: CopyFlaggedRings copies the ring or chain holding it. In
  // edge bias: a vertex of the input polygon.
  static constexpr uint16_t Marker = 0x0002;

  // Boolean sweep: output class of the edge starting at the point (see
  // EdgeClass in geometry/op_codes.h); bits 0x0002..0x0010.
  static constexpr uint16_t EdgeClassMask = 0x001E;

  // Relational classification of the point's outgoing edge.
  static constexpr uint16_t Layer1Field = 0x0006;  // value (flags >> 1) & 3
  static constexpr int Layer1Shift = 1;
  static constexpr uint16_t Layer2Field = 0x0018;  // value (flags >> 3) & 3
  static constexpr int Layer2Shift = 3;
  static constexpr uint16_t OwnBoundary = 0x0020;
  static constexpr uint16_t Abutting = 0x0040;
  static constexpr uint16_t Overlap = 0x0080;
  // The other operand lies along the edge on the outer side of the edge's
  // own ring only: the ring abuts it there (judged for that ring alone,
  // whatever other rings of its operand lie on either side).
  static constexpr uint16_t RingAbutting = 0x0100;
  // A vertex that the classification inserted into an input ring where
  // edges cross or overlap; ring copies leave it out.
  static constexpr uint16_t SplitVertex = 0x0200;

  // Edge bias: 0x0002 input vertex (Marker), 0x0004 sign of the bias (set for
  // a negative bias), bits 3-14 its magnitude (0..4095 database units).
  static constexpr uint16_t BiasInputVertex = 0x0002;
  static constexpr uint16_t BiasNegative = 0x0004;
  static constexpr uint16_t BiasMagnitudeMask = 0x7FF8;
  static constexpr int BiasMagnitudeShift = 3;

  // Vertical fracturing: upper and lower monotone chains.
  static constexpr uint16_t UpperChain = 0x0800;
  static constexpr uint16_t LowerChain = 0x1000;
  // Start vertex of a hole ring that is to be cut open.
  static constexpr uint16_t HoleStart = 0x2000;
  // Layer mark: the vertex belongs to the marked (second) of two input layers.
  static constexpr uint16_t SecondLayer = 0x4000;
  // The vertex is to be taken off its list by PurgeDeleted.
  static constexpr uint16_t Deleted = 0x8000;
};

// Polygon set header. A list owns its vertices: ClearPointList returns them to
// the point pool. Stored rings run counter-clockwise. The header is a plain
// record: moving a list copies the header and zeroes the source (SpliceList).
struct PSList {
  PSPoint* head = nullptr;  // first vertex of the link chain (null when empty)
  PSPoint* tail = nullptr;  // last vertex of the link chain
  int32_t pointCount = 0;   // vertices on the link chain
  int32_t ringCount = 0;    // rings (operations say whether they count chains)
  int32_t words[5] = {0, 0, 0, 0, 0};  // zero in every new or cleared list;
                                       // CompareLists reads words[4]

  bool IsEmpty() const { return head == nullptr; }
};

// Vertices per block of the point pool.
constexpr int32_t kPointsPerBlock = 50000;

// One vertex from the point pool: the most recently freed vertex first, else a
// new pool element. No field is set: the caller sets x, y, the links, flags.
// Exhausted memory ends the process ("Error: Out of memory").
PSPoint* AllocPoint();

// Pushes one vertex on the point free list.
void FreePoint(PSPoint* p);

// New vertex (x, y) with null links and flags 0 at the head of the link chain
// (also the tail when the list was empty); point count + 1, ring count kept.
PSPoint* PushPoint(PSList& list, int32_t x, int32_t y);

// PushPoint with the storage p of the vertex given (a vertex not of the
// pool, which the caller gives back itself).
inline PSPoint* PushPointAt(PSList& list, PSPoint* p, int32_t x, int32_t y) {
  p->x = x;
  p->y = y;
  p->next = nullptr;
  p->prev = nullptr;
  p->flags = 0;
  p->link = list.head;
  list.head = p;
  if (!list.tail) list.tail = p;
  ++list.pointCount;
  return p;
}

// New vertex (x, y) with null links and flags 0 at the tail of the link chain
// (also the head when the list was empty); point count + 1, ring count kept.
PSPoint* AppendPoint(PSList& list, int32_t x, int32_t y);

// True when a and b lie at the same position.
inline bool SamePosition(const PSPoint* a, const PSPoint* b) {
  return a->x == b->x && a->y == b->y;
}

// Exact cross product (b - a) x (c - a); positive when a -> b -> c turns
// counter-clockwise. Each difference needs 33 bits, each product up to 66.
inline __int128 Cross(const PSPoint* a, const PSPoint* b, const PSPoint* c) {
  return static_cast<__int128>(int64_t(b->x) - a->x) * (int64_t(c->y) - a->y) -
         static_cast<__int128>(int64_t(c->x) - a->x) * (int64_t(b->y) - a->y);
}

// a->next = b when a is not null; b->prev = a when b is not null.
inline void LinkPoints(PSPoint* a, PSPoint* b) {
  if (a) a->next = b;
  if (b) b->prev = a;
}

// Pushes the n points, in order, as one new closed ring (flags 0) at the head
// of the link chain; point count + n, ring count + 1.
void PushRing(PSList& list, const Point* pts, size_t n);

// Returns every vertex of the list to the point free list in one splice and
// zeroes the whole header (the five further words too). Given the point free
// list itself, resets the point pool (ResetPointPool).
void ClearPointList(PSList& list);

// The point free list (head = most recently freed vertex, chained through
// link; only its head is maintained). Clearing it resets the pool.
PSList& PointFreeList();

// A point list that gives its points back to the pool when it goes out of
// scope, however the work ends (also when an Error is thrown), unless they
// were handed on before (splicing them away empties it).
struct ScratchList {
  PSList list;
  ScratchList() = default;
  ScratchList(const ScratchList&) = delete;
  ScratchList& operator=(const ScratchList&) = delete;
  ~ScratchList() { ClearPointList(list); }
};

// Empties the point free list and releases every block of the point pool.
// Every vertex of every list becomes invalid.
void ResetPointPool();

// Kilobytes held by the point pool; unless quiet, prints
// "%d kbytes allocated for Point System\n" when that is at least 1.
int32_t ReportPointSystemMemory(bool quiet);

// Moves src onto dst: into an empty dst the whole header is copied; onto a
// non-empty dst src's chain is linked behind dst's tail, dst takes over src's
// tail and both counts are added. src's header is zeroed either way.
void SpliceList(PSList& dst, PSList& src);

// Adds the box as one closed ring (x1,y1) -> (x2,y1) -> (x2,y2) -> (x1,y2)
// (counter-clockwise for a valid box), each vertex pushed at the head of the
// link chain in that order; point count + 4, ring count + 1; every vertex
// gets flags SecondLayer when second is set, else 0.
void BoxToRing(PSList& list, const Box& box, bool second);

}  // namespace velmar
