// Window clipping and tiling: fitting polygon sets to rectangular limits and
// cutting large rings into tiles small enough to store.
//
// - ClipToWindow clamps every ring of a list to a closed window: vertices
//   outside are moved onto the window's sides, edges that cross a side get a
//   vertex on it, and the flattened runs collapse under Simplify.
// - ChopIntoTiles cuts rings into pieces on a grid of square tiles; every
//   stored result goes through it.
// - LowestLeftPoint gives the vertex from which a ring is encoded.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/box.h"
#include "geometry/point_system.h"

namespace velmar {

// Clips every ring and chain of the list to the closed window, in place.
// An edge that crosses a side gets a new vertex on that side (the other
// coordinate interpolated, rounded half up), vertices outside are moved onto
// the sides; when anything moved, the list is simplified at tolerance 0, so
// a ring with no area inside disappears. With removeWindowRuns set the
// boundary runs that the clamping laid along one side in opposite directions
// are separated afterwards (RemoveWindowVertices on both axes).
void ClipToWindow(PSList& list, const Box& window, bool removeWindowRuns);

// Re-links the boundary runs lying on the low and high sides of the window
// for one axis (0: the sides x = x1 and x = x2; 1: y = y1 and y = y2) so that
// pieces laid along a side in opposite directions no longer join rings
// across it; simplifies at tolerance 0 when anything was re-linked.
void RemoveWindowVertices(PSList& list, const Box& window, int axis);

// Cuts the rings of list into pieces on a grid of size x size tiles laid from
// each ring's lower-left bounding-box corner: a ring inside one tile is copied
// whole, others are intersected with the tiles (two checkerboard passes of
// AND, whose pieces are counter-clockwise rings and clockwise holes). A ring
// without area that spans more than one tile yields nothing. The pieces are
// appended to out; list keeps its rings (its visited marks are cleared at
// the end). Rings only. Throws Error (unit "DRC") when size is below 1.
void ChopIntoTiles(PSList& list, PSList& out, int32_t size);

// A ring of a list read once: its first vertex on the list's link chain and
// its vertices in ring order from there.
struct GatheredRing {
  PSPoint* start = nullptr;
  std::vector<Point> vertices;
};

// ChopIntoTiles of rings already read off their list (in the order the
// list's link chain meets them): the same pieces in the same order, without
// walking the rings again. The rings' points must stay on their list until
// this returns (a ring the axis-parallel path refuses is copied from it);
// their flags are not touched.
void ChopGatheredRings(const std::vector<GatheredRing>& rings, PSList& out,
                       int32_t size);

// Cuts the whole list on a grid of tileWidth x tileHeight tiles laid from
// (box.x1, box.y1). With a single tile the list is moved to out whole (list
// left empty); otherwise the pieces are appended to out and list is kept.
// Throws Error (unit "DRC") when a tile side is below 1.
void ChopIntoTilesInBox(PSList& list, PSList& out, const Box& box,
                        int32_t tileWidth, int32_t tileHeight);

// The vertex of the ring with the smallest x, ties the smallest y. Rings only.
PSPoint* LowestLeftPoint(PSPoint* ring);

}  // namespace velmar
