#include "geometry/edge_segments.h"

#include <climits>
#include <cmath>
#include <utility>
#include <vector>

#include "foundation/error.h"
#include "foundation/rounding.h"
#include "geometry/edge_index.h"

namespace velmar {

namespace {

// Records the lists have let go of, kept for the next pieces: a profile
// over millions of edges makes and drops a few records per edge, and a
// small stack of spare records serves them without the heap.
struct SpareSegments {
  static constexpr int kCapacity = 1024;
  AttrSegment* records[kCapacity];
  int count = 0;
  ~SpareSegments() {
    while (count > 0) delete records[--count];
  }
};

SpareSegments& Spares() {
  static SpareSegments spares;
  return spares;
}

// A record with every field 0.
AttrSegment* NewSegment() {
  SpareSegments& spares = Spares();
  if (spares.count == 0) return new AttrSegment;
  AttrSegment* s = spares.records[--spares.count];
  *s = AttrSegment();
  return s;
}

void DropSegment(AttrSegment* s) {
  if (s == nullptr) return;
  SpareSegments& spares = Spares();
  if (spares.count < SpareSegments::kCapacity) {
    spares.records[spares.count++] = s;
  } else {
    delete s;
  }
}

AttrSegment* Seg(const SListNode* n) { return static_cast<AttrSegment*>(n->item); }

// Lexicographic order of positions (x, then y).
bool LexLess(int32_t ax, int32_t ay, int32_t bx, int32_t by) {
  return ax < bx || (ax == bx && ay < by);
}

// a lies before b in the order of a list with these flags.
bool Before(uint8_t descending, uint8_t crossed, int32_t ax, int32_t ay,
            int32_t bx, int32_t by) {
  if (ax != bx) return descending ? bx < ax : ax < bx;
  return descending != crossed ? by < ay : ay < by;
}

// The order flags of a list along the edge.
void EdgeOrder(const Box& edge, uint8_t& descending, uint8_t& crossed) {
  descending = (edge.x2 < edge.x1 || (edge.x2 == edge.x1 && edge.y2 < edge.y1)) ? 1 : 0;
  crossed = (edge.x1 != edge.x2 && edge.y1 != edge.y2 &&
             (edge.x2 < edge.x1) != (edge.y2 < edge.y1)) ? 1 : 0;
}

// a lies before b in the list's order.
bool Before(const AttrSegmentList& list, int32_t ax, int32_t ay, int32_t bx,
            int32_t by) {
  return Before(list.descending, list.crossed, ax, ay, bx, by);
}

bool StartsAt(const AttrSegment& s, int32_t x, int32_t y) {
  return s.x1 == x && s.y1 == y;
}
bool EndsAt(const AttrSegment& s, int32_t x, int32_t y) {
  return s.x2 == x && s.y2 == y;
}

// A new node after `after` (at the head when null) holding seg.
SListNode* InsertAfter(AttrSegmentList& list, SListNode* after,
                       AttrSegment* seg) {
  SListNode* n = SList::NewNode();
  n->item = seg;
  if (after == nullptr) {
    n->next = list.head;
    list.head = n;
    if (list.tail == nullptr) list.tail = n;
  } else {
    n->next = after->next;
    after->next = n;
    if (list.tail == after) list.tail = n;
  }
  ++list.count;
  return n;
}

// A piece from (x1, y1) to (x2, y2) carrying v at both ends of channel c.
AttrSegment* ConstantPiece(int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                           int32_t v, int c) {
  AttrSegment* s = NewSegment();
  s->x1 = x1, s->y1 = y1, s->x2 = x2, s->y2 = y2;
  s->startValue[c] = s->endValue[c] = v;
  return s;
}

// Cuts the piece to start at (x, y) with start value v in channel c.
void CutStart(AttrSegment& s, int c, int32_t x, int32_t y, int32_t v) {
  s.x1 = x, s.y1 = y;
  s.startValue[c] = v;
}

// Splits the piece at the cursor at (x, y) strictly inside it: the cursor
// piece ends there, a new piece (channel c only) runs on to the old end and
// is inserted after the cursor. Returns the new node.
SListNode* SplitAt(AttrSegmentList& list, SListNode* at, int c, int32_t x,
                   int32_t y) {
  AttrSegment& q = *Seg(at);
  const int32_t v = SegmentValueAt(q, c, x, y);
  AttrSegment* rest = NewSegment();
  rest->x1 = x, rest->y1 = y, rest->x2 = q.x2, rest->y2 = q.y2;
  rest->startValue[c] = v;
  rest->endValue[c] = q.endValue[c];
  q.x2 = x, q.y2 = y;
  q.endValue[c] = v;
  return InsertAfter(list, at, rest);
}

}  // namespace

void OrderAlongEdge(AttrSegmentList& list, const Box& edge) {
  EdgeOrder(edge, list.descending, list.crossed);
}

void FreeSegmentList(AttrSegmentList& list) {
  for (SListNode* n = list.head; n; n = n->next) DropSegment(Seg(n));
  SList::Clear(list);
}

void AppendSegment(AttrSegmentList& list, AttrSegment* seg) {
  InsertAfter(list, list.tail, seg);
}

int CompareSegmentsAscending(const SListNode* a, const SListNode* b) {
  const AttrSegment &p = *Seg(a), &q = *Seg(b);
  return LexLess(p.x1, p.y1, q.x1, q.y1) ? -1 : 0;
}

int CompareSegmentsDescending(const SListNode* a, const SListNode* b) {
  const AttrSegment &p = *Seg(a), &q = *Seg(b);
  return LexLess(q.x1, q.y1, p.x1, p.y1) ? -1 : 0;
}

int32_t SegmentValueAt(const AttrSegment& s, int c, int32_t x, int32_t y) {
  const int32_t a = s.startValue[c], b = s.endValue[c];
  if (a == b) return a;
  const long double len = std::hypot((long double)(int64_t(s.x2) - s.x1),
                                     (long double)(int64_t(s.y2) - s.y1));
  if (len == 0) return a;
  const long double dist = std::hypot((long double)(int64_t(x) - s.x1),
                                      (long double)(int64_t(y) - s.y1));
  const long double v = (long double)(int64_t(b) - a) * dist / len;
  return int32_t(int64_t(a) + int64_t(RoundHalfAway(v)));
}

void PrintSegmentList(const AttrSegmentList& list) {
  for (const SListNode* n = list.head; n; n = n->next) {
    const AttrSegment& s = *Seg(n);
    PrintMessage("(%d,%d) - (%d,%d):\n", s.x1, s.y1, s.x2, s.y2);
    for (int c = 0; c < 4; ++c) {
      PrintMessage("\t%d %d", s.startValue[c], s.endValue[c]);
    }
    PrintMessage("\n");
  }
  PrintMessage("\n");
}

void AddPathSegments(AttrSegmentList& list, const Box& span, int32_t value,
                     int c) {
  int32_t px = span.x1, py = span.y1;
  SListNode* prev = nullptr;
  for (SListNode* n = list.head; n; prev = n, n = n->next) {
    const AttrSegment& s = *Seg(n);
    if (s.x1 != px || s.y1 != py) {
      prev = InsertAfter(list, prev, ConstantPiece(px, py, s.x1, s.y1, value, c));
    }
    px = s.x2, py = s.y2;
  }
  if (px != span.x2 || py != span.y2) {
    InsertAfter(list, list.tail, ConstantPiece(px, py, span.x2, span.y2, value, c));
  }
}

void CoalesceSegments(AttrSegmentList& list, int c) {
  SListNode* sn = list.head;
  while (sn && sn->next) {
    AttrSegment& s = *Seg(sn);
    SListNode* rn = sn->next;
    const AttrSegment& r = *Seg(rn);
    if (StartsAt(r, s.x2, s.y2) && r.startValue[c] == s.endValue[c]) {
      AttrSegment cand;
      cand.x1 = s.x1, cand.y1 = s.y1, cand.x2 = r.x2, cand.y2 = r.y2;
      cand.startValue[c] = s.startValue[c];
      cand.endValue[c] = r.endValue[c];
      if (SegmentValueAt(cand, c, s.x2, s.y2) == s.endValue[c]) {
        s = cand;
        sn->next = rn->next;
        if (list.tail == rn) list.tail = sn;
        DropSegment(Seg(rn));
        SList::FreeNode(rn);
        --list.count;
        continue;  // S again with its new successor
      }
    }
    sn = rn;
  }
}

void InsertSegment(AttrSegmentList& dst, SListNode*& cursor, SListNode* node,
                   int c) {
  AttrSegment& r = *Seg(node);
  // The node where R's own start lands. The insertion ends with the cursor
  // there, not where R's far end took it: the next piece of a sorted source
  // starts at or after R's start but may start before R's end, and the walk
  // only goes forward.
  SListNode* startNode = nullptr;
  auto finish = [&] { cursor = startNode ? startNode : cursor; };
  for (;;) {
    AttrSegment& q = *Seg(cursor);
    if (StartsAt(r, q.x1, q.y1)) {
      if (startNode == nullptr) startNode = cursor;
      if (EndsAt(r, q.x2, q.y2)) {
        if (r.startValue[c] < q.startValue[c]) {
          q.startValue[c] = r.startValue[c];
          q.endValue[c] = r.endValue[c];
        }
        return finish();
      }
      if (Before(dst, r.x2, r.y2, q.x2, q.y2)) {
        if (r.startValue[c] >= q.startValue[c]) return finish();  // dropped
        // R in front, the rest of Q after it: R's record goes into the
        // list and the two records exchange contents so that the cursor
        // node holds R.
        CutStart(q, c, r.x2, r.y2, SegmentValueAt(q, c, r.x2, r.y2));
        AttrSegment* moved = Seg(node);
        node->item = nullptr;
        InsertAfter(dst, cursor, moved);
        std::swap(*Seg(cursor), *moved);
        return finish();
      }
      // R runs beyond Q's end.
      if (r.startValue[c] < q.startValue[c]) {
        if (cursor->next == nullptr) {
          q = r;
          return finish();
        }
        q.startValue[c] = r.startValue[c];
        q.endValue[c] = SegmentValueAt(r, c, q.x2, q.y2);
        CutStart(r, c, q.x2, q.y2, q.endValue[c]);
      } else {
        CutStart(r, c, q.x2, q.y2, SegmentValueAt(r, c, q.x2, q.y2));
      }
      continue;
    }
    if (!Before(dst, r.x1, r.y1, q.x2, q.y2)) {
      // Q ends at or before R's start: move on.
      SListNode* n = cursor;
      while (n && !Before(dst, r.x1, r.y1, Seg(n)->x2, Seg(n)->y2)) n = n->next;
      if (n == nullptr) {
        AttrSegment* moved = Seg(node);
        node->item = nullptr;
        cursor = InsertAfter(dst, dst.tail, moved);
        if (startNode == nullptr) startNode = cursor;
        return finish();
      }
      cursor = n;
      continue;
    }
    // R starts inside Q (the cursor never lies beyond R's start): split Q.
    cursor = SplitAt(dst, cursor, c, r.x1, r.y1);
  }
}

void MergeSegmentList(AttrSegmentList& src, AttrSegmentList& dst, int c) {
  dst.descending = src.descending;
  dst.crossed = src.crossed;
  if (src.crossed) {
    SList::Sort(src, [&src](const SListNode* a, const SListNode* b) {
      const AttrSegment &p = *Seg(a), &q = *Seg(b);
      return Before(src, p.x1, p.y1, q.x1, q.y1) ? -1 : 0;
    });
  } else if (src.descending) {
    SList::Sort(src, CompareSegmentsDescending);
  } else {
    SList::Sort(src, CompareSegmentsAscending);
  }
  SListNode* n = src.head;
  if (n == nullptr) return;
  SListNode* cursor = InsertAfter(dst, dst.tail, Seg(n));
  n->item = nullptr;
  for (n = n->next; n; n = n->next) InsertSegment(dst, cursor, n, c);
  CoalesceSegments(dst, c);
}

void OverlaySegments(AttrSegmentList& target, AttrSegmentList& source, int tc,
                     int sc) {
  SListNode* an = target.head;
  SListNode* bn = source.head;
  while (an && bn) {
    AttrSegment& a = *Seg(an);
    AttrSegment& b = *Seg(bn);
    if (a.x2 == b.x2 && a.y2 == b.y2) {
      a.startValue[sc] = b.startValue[sc];
      a.endValue[sc] = b.endValue[sc];
      an = an->next;
      bn = bn->next;
    } else if (Before(target, b.x2, b.y2, a.x2, a.y2)) {
      SListNode* rest = SplitAt(target, an, tc, b.x2, b.y2);
      a.startValue[sc] = b.startValue[sc];
      a.endValue[sc] = b.endValue[sc];
      an = rest;
      bn = bn->next;
    } else {
      a.startValue[sc] = b.startValue[sc];
      a.endValue[sc] = SegmentValueAt(b, sc, a.x2, a.y2);
      CutStart(b, sc, a.x2, a.y2, a.endValue[sc]);
      an = an->next;
    }
  }
}

namespace {

// Appends one piece per facing partner piece of the band of edge to out,
// its feet held to the edge.
bool AppendFacingPieces(const std::vector<BandPiece>& pieces, const Box& edge,
                        AttrSegmentList& out, int channel) {
  uint8_t desc, crossed;
  EdgeOrder(edge, desc, crossed);
  // A foot before the edge's start or beyond its end is taken to that end.
  auto onEdge = [&](const Point& f) {
    if (Before(desc, crossed, f.x, f.y, edge.x1, edge.y1)) return Point(edge.x1, edge.y1);
    if (Before(desc, crossed, edge.x2, edge.y2, f.x, f.y)) return Point(edge.x2, edge.y2);
    return f;
  };
  for (const BandPiece& p : pieces) {
    if (!(p.m2 < p.m1)) continue;  // facing pieces only
    const Point from = onEdge(p.footEnd), to = onEdge(p.foot);
    if (!Before(desc, crossed, from.x, from.y, to.x, to.y)) continue;  // no length left
    auto dist = [](int32_t ax, int32_t ay, int32_t bx, int32_t by) {
      const int64_t ix = int64_t(bx) - ax, iy = int64_t(by) - ay;
      // Along an axis the root is exact: the difference itself.
      if (ix == 0 && iy >= -INT32_MAX && iy <= INT32_MAX) return int32_t(iy < 0 ? -iy : iy);
      if (iy == 0 && ix >= -INT32_MAX && ix <= INT32_MAX) return int32_t(ix < 0 ? -ix : ix);
      const long double dx = (long double)ix, dy = (long double)iy;
      return int32_t(RoundHalfAway(std::sqrt(dx * dx + dy * dy)));
    };
    AttrSegment* s = NewSegment();
    s->x1 = from.x, s->y1 = from.y;
    s->x2 = to.x, s->y2 = to.y;
    s->startValue[channel] = dist(p.piece.x2, p.piece.y2, p.footEnd.x, p.footEnd.y);
    s->endValue[channel] = dist(p.piece.x1, p.piece.y1, p.foot.x, p.foot.y);
    AppendSegment(out, s);
  }
  return out.count > 0;
}

// The band pieces of one query, reused from edge to edge.
std::vector<BandPiece>& PartnerScratch() {
  static std::vector<BandPiece> pieces;
  return pieces;
}
std::vector<BandPiece>& SecondPartnerScratch() {
  static std::vector<BandPiece> pieces;
  return pieces;
}

}  // namespace

bool EdgePartners(const DBSearchSystem& tree, const Box& edge, int32_t d,
                  AttrSegmentList& out, int channel) {
  std::vector<BandPiece>& pieces = PartnerScratch();
  CollectBandPieces(tree, edge, d, pieces);
  return AppendFacingPieces(pieces, edge, out, channel);
}

bool EdgePartners(const EdgeBandIndex& index, const Box& edge, int32_t d,
                  AttrSegmentList& out, int channel) {
  std::vector<BandPiece>& pieces = PartnerScratch();
  CollectBandPieces(index, edge, d, pieces);
  return AppendFacingPieces(pieces, edge, out, channel);
}

void EdgePartners(const EdgeBandIndex& index, const Box& edge, int32_t d1,
                  AttrSegmentList& out1, int channel1, int32_t d2,
                  AttrSegmentList& out2, int channel2) {
  std::vector<BandPiece>& pieces1 = PartnerScratch();
  std::vector<BandPiece>& pieces2 = SecondPartnerScratch();
  CollectBandPieces(index, edge, d1, d2, pieces1, pieces2);
  AppendFacingPieces(pieces1, edge, out1, channel1);
  AppendFacingPieces(pieces2, edge, out2, channel2);
}

}  // namespace velmar
