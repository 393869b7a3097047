// Window clipping and tiling.
#include "geometry/clip_tile.h"

#include <climits>
#include <cstdint>
#include <vector>

#include "foundation/error.h"
#include "geometry/boolean_sweep.h"
#include "geometry/op_codes.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/rect_sweep.h"
#include "geometry/segment_geometry.h"

namespace velmar {

namespace {

constexpr uint16_t kVisited = PSPointFlags::Visited;

// Coordinate access by axis: axis 0 clips x (the along-side coordinate is
// y), axis 1 clips y (along x).
inline int32_t& Across(PSPoint* p, int axis) { return axis == 0 ? p->x : p->y; }
inline int32_t Across(const PSPoint* p, int axis) {
  return axis == 0 ? p->x : p->y;
}
inline int32_t Along(const PSPoint* p, int axis) {
  return axis == 0 ? p->y : p->x;
}

// A new vertex (flags 0) on the side c, pushed at the head of the list and
// linked between a and b (a->next was b).
void InsertBetween(PSList& list, PSPoint* a, PSPoint* b, int axis, int32_t c,
                   int32_t along) {
  PSPoint* n = axis == 0 ? PushPoint(list, c, along) : PushPoint(list, along, c);
  LinkPoints(a, n);
  LinkPoints(n, b);
}

// One clamping pass for one axis over the link chain; true when a vertex
// was moved. The vertices the pass pushes lie on the window and are not
// visited (they go in front of the walk).
bool ClampAxis(PSList& list, int axis, int32_t lo, int32_t hi) {
  bool moved = false;
  for (PSPoint* p = list.head; p; p = p->link) {
    const int32_t u = Across(p, axis);
    if (u >= lo && u <= hi) continue;
    const bool below = u < lo;
    const int32_t c = below ? lo : hi;
    // A neighbour beyond c towards the window: the edge crosses the side
    // strictly between the two vertices. The side is told by p's own
    // position, not by c, which is ambiguous for a window of no width
    // (lo == hi).
    auto inner = [&](const PSPoint* q) {
      if (!q) return false;
      const int32_t qu = Across(q, axis);
      return below ? qu > lo : qu < hi;
    };
    PSPoint* prev = p->prev;
    PSPoint* next = p->next;
    if (inner(prev) && Along(prev, axis) != Along(p, axis)) {
      const int32_t v = InterpolateHalfUp(Across(prev, axis), Along(prev, axis),
                                          u, Along(p, axis), c);
      InsertBetween(list, prev, p, axis, c, v);
    }
    if (inner(next) && Along(next, axis) != Along(p, axis)) {
      const int32_t v = InterpolateHalfUp(u, Along(p, axis), Across(next, axis),
                                          Along(next, axis), c);
      InsertBetween(list, p, next, axis, c, v);
    }
    Across(p, axis) = c;
    moved = true;
  }
  return moved;
}

// Moves the vertices selected by take off the list's link chain to the tail
// of out (link order kept).
template <class Take>
void MoveOut(PSList& list, PSList& out, Take take) {
  PSPoint* last = nullptr;
  for (PSPoint* p = list.head; p;) {
    PSPoint* following = p->link;
    if (take(p)) {
      if (last)
        last->link = following;
      else
        list.head = following;
      --list.pointCount;
      p->link = nullptr;
      if (out.tail)
        out.tail->link = p;
      else
        out.head = p;
      out.tail = p;
      ++out.pointCount;
    } else {
      last = p;
    }
    p = following;
  }
  list.tail = last;
}

// Simplify at tolerance 0 for a list that may also hold open chains:
// Simplify walks rings only, so the chains are set aside meanwhile and put
// back at the tail unchanged.
// Removes the rings of a list of rings whose signed area is zero: clamping
// a thin sloped ring can fold it into a figure eight of two equal lobes, in
// which no vertex is in line with its neighbours.
void DropRingsWithoutArea(PSList& list) {
  if (MarkRingsWithoutArea(list)) PurgeDeleted(list);
}

void SimplifyRings(PSList& list) {
  if (!HasOpenChains(list)) {
    Simplify(list, 0);
    DropRingsWithoutArea(list);
    return;
  }
  // Mark every chain vertex, walking each chain from its first vertex.
  for (PSPoint* p = list.head; p; p = p->link) {
    if ((p->next && p->prev) || (p->flags & kVisited)) continue;
    PSPoint* s = p;
    while (s->prev && !(s->prev->flags & kVisited)) s = s->prev;
    for (PSPoint* t = s; t && !(t->flags & kVisited); t = t->next)
      t->flags |= kVisited;
  }
  PSList chains;
  MoveOut(list, chains, [](const PSPoint* p) { return p->flags & kVisited; });
  MaskFlags(chains, -2);
  if (list.head) {
    Simplify(list, 0);
    DropRingsWithoutArea(list);
  }
  const int32_t rings = list.ringCount;
  SpliceList(list, chains);
  list.ringCount = rings;
}

// Re-links the runs of one side. The side's vertices are sorted along it;
// for consecutive r, s two patterns separate runs that the clamping laid
// along the side in opposite directions:
//   pattern A (sides x = x1 and y = y2): P = r.prev and N = s.next on the
//     side, s < P and N < P along it, r.next and s.prev off the side:
//     s -> r and P -> N;
//   pattern B (sides x = x2 and y = y1): P = s.prev and N = r.next on the
//     side, s < N and P < N along it, r.prev and s.next off the side:
//     r -> s and P -> N.
// (Exchanging x and y mirrors the plane and so reverses the rings: that is
// why x = x1 and y = y2 share a pattern.) Returns the number of re-linked
// pairs.
int RelinkSide(PSList& side, int axis, int32_t c, bool patternA) {
  if (!side.head) return 0;
  SortPoints(side, ComparePointLess);
  auto onSide = [&](const PSPoint* q) { return q && Across(q, axis) == c; };
  auto offSide = [&](const PSPoint* q) { return q && Across(q, axis) != c; };
  int relinked = 0;
  PSPoint* r = side.head;
  while (r && r->link) {
    PSPoint* s = r->link;
    bool done = false;
    if (patternA) {
      PSPoint* P = r->prev;
      PSPoint* N = s->next;
      if (onSide(P) && onSide(N) && Along(s, axis) < Along(P, axis) &&
          Along(N, axis) < Along(P, axis) && offSide(r->next) &&
          offSide(s->prev)) {
        LinkPoints(s, r);
        LinkPoints(P, N);
        done = true;
      }
    } else {
      PSPoint* P = s->prev;
      PSPoint* N = r->next;
      if (onSide(P) && onSide(N) && Along(s, axis) < Along(N, axis) &&
          Along(P, axis) < Along(N, axis) && offSide(r->prev) &&
          offSide(s->next)) {
        LinkPoints(r, s);
        LinkPoints(P, N);
        done = true;
      }
    }
    if (done) {
      ++relinked;
      r = s->link;
    } else {
      r = s;
    }
  }
  return relinked;
}

// ceil(extent / size) for a positive size; an extent of 0 or less gives 0.
int64_t TileCount(int64_t extent, int64_t size) {
  if (extent <= 0) return 0;
  return (extent + size - 1) / size;
}

// Tile edge origin + i * size, limited to the coordinate range.
int32_t TileEdge(int64_t origin, int64_t i, int64_t size) {
  const int64_t v = origin + i * size;
  return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

// The tiles (i, j), i < nx, j < ny, with (i + j) mod 2 = k, column by
// column. Tiles of one colour never share an edge.
void CheckerTiles(int32_t x0, int32_t y0, int64_t nx, int64_t ny, int64_t w,
                  int64_t h, int k, std::vector<Box>& tiles) {
  tiles.clear();
  for (int64_t i = 0; i < nx; ++i) {
    const int32_t tx1 = TileEdge(x0, i, w);
    const int32_t tx2 = TileEdge(x0, i + 1, w);
    for (int64_t j = (i + k) & 1; j < ny; j += 2)
      tiles.push_back(Box(tx1, TileEdge(y0, j, h), tx2, TileEdge(y0, j + 1, h)));
  }
}

// Adds the tiles (i, j), i < nx, j < ny, with (i + j) mod 2 = k, as rings
// of the second operand.
void AddCheckerTiles(PSList& work, int32_t x0, int32_t y0, int64_t nx,
                     int64_t ny, int64_t w, int64_t h, int k) {
  std::vector<Box> tiles;
  CheckerTiles(x0, y0, nx, ny, w, h, k, tiles);
  for (const Box& t : tiles) BoxToRing(work, t, true);
}

// AND of the work list (operand rings plus one colour of tiles) into out;
// the work list is released also when the sweep fails.
void AndIntoOut(PSList& work, PSList& out) {
  try {
    BooleanSweep(work, &out, BooleanOpCode::And, false);
  } catch (...) {
    ClearPointList(work);
    throw;
  }
  ClearPointList(work);
}

void CheckTileSide(int64_t side) {
  if (side < 1) throw Error("Tile size must be at least 1", "DRC");
}

}  // namespace

void ClipToWindow(PSList& list, const Box& window, bool removeWindowRuns) {
  bool moved = ClampAxis(list, 0, window.x1, window.x2);
  moved = ClampAxis(list, 1, window.y1, window.y2) || moved;
  if (!moved) return;
  SimplifyRings(list);
  if (removeWindowRuns) {
    RemoveWindowVertices(list, window, 0);
    RemoveWindowVertices(list, window, 1);
  }
}

void RemoveWindowVertices(PSList& list, const Box& window, int axis) {
  const int32_t lo = axis == 0 ? window.x1 : window.y1;
  const int32_t hi = axis == 0 ? window.x2 : window.y2;
  auto runVertex = [&](const PSPoint* p, int32_t c) {
    auto on = [&](const PSPoint* q) { return q && Across(q, axis) == c; };
    return on(p) && (on(p->next) || on(p->prev));
  };
  PSList low, high;
  MoveOut(list, low, [&](const PSPoint* p) { return runVertex(p, lo); });
  MoveOut(list, high, [&](const PSPoint* p) { return runVertex(p, hi); });
  int relinked = RelinkSide(low, axis, lo, axis == 0);
  relinked += RelinkSide(high, axis, hi, axis != 0);
  const int32_t rings = list.ringCount;
  SpliceList(list, low);
  SpliceList(list, high);
  list.ringCount = rings;
  if (relinked) SimplifyRings(list);
}

void ChopIntoTiles(PSList& list, PSList& out, int32_t size) {
  CheckTileSide(size);
  std::vector<GatheredRing> rings;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & kVisited) continue;
    GatheredRing& r = rings.emplace_back();
    r.start = p;
    PSPoint* q = p;
    do {
      r.vertices.push_back(Point(q->x, q->y));
      q->flags |= kVisited;
      q = q->next;
    } while (q != p);
  }
  MaskFlags(list, -2);
  ChopGatheredRings(rings, out, size);
}

void ChopGatheredRings(const std::vector<GatheredRing>& rings, PSList& out,
                       int32_t size) {
  CheckTileSide(size);
  std::vector<Box> tiles[2];
  for (const GatheredRing& r : rings) {
    Box bb;
    for (const Point& v : r.vertices) bb.Extend(v.x, v.y);
    const int64_t nx = TileCount(bb.Width(), size);
    const int64_t ny = TileCount(bb.Height(), size);
    if (nx == 1 && ny == 1) {
      AppendRingCopy(r.start, out);
      continue;
    }
    // A ring without extent on an axis has no area: no tile keeps it.
    if (nx == 0 || ny == 0) continue;
    // Axis-parallel rings are read once for both colours; what that path
    // refuses goes through a copy of the ring and the general boolean.
    for (int k = 0; k < 2; ++k)
      CheckerTiles(bb.x1, bb.y1, nx, ny, size, size, k, tiles[k]);
    for (int k = RectilinearChopRing(r.vertices, tiles, out); k < 2; ++k) {
      PSList work;
      AppendRingCopy(r.start, work);
      for (const Box& t : tiles[k]) BoxToRing(work, t, true);
      AndIntoOut(work, out);
    }
  }
}

void ChopIntoTilesInBox(PSList& list, PSList& out, const Box& box,
                        int32_t tileWidth, int32_t tileHeight) {
  CheckTileSide(tileWidth);
  CheckTileSide(tileHeight);
  const int64_t nx = TileCount(box.Width(), tileWidth);
  const int64_t ny = TileCount(box.Height(), tileHeight);
  if (nx == 1 && ny == 1) {
    SpliceList(out, list);
    return;
  }
  if (!list.head || nx == 0 || ny == 0) return;
  for (int k = 0; k < 2; ++k) {
    PSList work;
    CopyPointList(list, work);
    AddCheckerTiles(work, box.x1, box.y1, nx, ny, tileWidth, tileHeight, k);
    AndIntoOut(work, out);
  }
}

PSPoint* LowestLeftPoint(PSPoint* ring) {
  PSPoint* best = ring;
  for (PSPoint* q = ring->next; q != ring; q = q->next) {
    if (q->x < best->x || (q->x == best->x && q->y < best->y)) best = q;
  }
  return best;
}

}  // namespace velmar
