// Edge bias: every piece of every polygon edge moved sideways by its own
// signed amount, and the rings rebuilt from the moved pieces.
//
// The caller prepares a list of counter-clockwise rings whose input
// vertices carry PSPointFlags::BiasInputVertex (markers) and whose edges are
// cut into pieces; each piece's bias is stored in its start point's flags
// (magnitude in bits 3-14, BiasNegative for a negative bias). The pieces
// between two consecutive markers belong to one input edge and are
// collinear. With a corner guard the first and the last piece of every input
// edge are guard pieces: they neither absorb nor are absorbed by the merges
// and take their inner neighbours' biases at the end.
//
// Merge mode: 0 the minimum bias of the merged pieces, 1 the maximum, 2 or
// more the mean weighted by piece length (rounded half away from zero).
#pragma once

#include <cstdint>

#include "geometry/point_system.h"

namespace velmar {

// Largest bias magnitude a point can hold.
inline constexpr int32_t kMaxBias = 4095;

// The bias of the piece starting at p.
int32_t PointBias(const PSPoint* p);
// Writes the bias into p's flags, keeping visited, marker and deleted.
// Throws Error("Bias beyond 4095 database units", "DRC") beyond kMaxBias.
void SetPointBias(PSPoint* p, int32_t bias);
// p takes the bias of `from`.
void CopyPointBias(PSPoint* p, const PSPoint* from);

// The grid step (n, m) from the start of the slanted edge (dx, dy) to the
// point t of the way along it (0 <= t <= 1/2): of the four grid points
// around the exact point, the one nearest to the edge's line, then the one
// nearest to the exact point; it lies within half a unit of the line. The
// step stays within half the edge on each axis and points the edge's way;
// with keepCore it does not reach the middle on both axes at once, so that
// the stretch between the steps from the two ends keeps a length. The
// corner guard and the middle stretch of a short edge step in from their
// vertices this way.
void GuardStep(int64_t dx, int64_t dy, long double t, bool keepCore, int64_t& n, int64_t& m);

// The pieces from f up to l (l excluded) become one piece starting at f,
// with the maximum (max) or minimum bias, or the length-weighted mean; the
// points between are flagged deleted and unlinked (f->next = l). Return f.
PSPoint* MergeEdgesMinMax(PSList& list, PSPoint* f, PSPoint* l, bool max);
PSPoint* MergeEdgesMean(PSList& list, PSPoint* f, PSPoint* l);

// f absorbs the following pieces of its edge while their bias stays within
// tolerance of f's (re-read after every absorption); returns the number
// absorbed.
int32_t MergeBiasRun(PSList& list, PSPoint* f, int mode, int guard,
                     int32_t tolerance);
// MergeBiasRun over every piece start of the list that may absorb, then the
// deleted points are purged; returns the total absorbed.
int32_t MergeSimilarBiases(PSList& list, int mode, int guard,
                           int32_t tolerance);
// Every guard piece takes its inner neighbour's bias, then equal
// neighbours are joined (MergeSimilarBiases with no guard, tolerance 0).
int32_t PropagateMarkerBias(PSList& list, int mode);
// Every input edge shorter than 2·length becomes one piece; longer edges
// are cut into stretches at least length long (a shorter remainder joins
// the stretch before it), each one piece. Guard pieces excepted.
int32_t MergeShortEdges(PSList& list, int32_t length, int guard, int mode);

// Offsets the ring through `ring` piece by piece and appends the rebuilt,
// simplified ring to output (ring count + 1 unless it collapsed). The
// pieces between two markers lie on the line of their input edge moved by
// their bias; intersections are rounded half up; a coordinate beyond int32
// throws Error(..., "DRC"). A rebuilt ring with a slanted edge whose edges
// meet anywhere but at their shared vertices (different biases at a
// concave corner, a part narrower than its bias) is replaced by the simple
// rings of the region it winds around as drawn, the input ring's way
// (BooleanSweepAsDrawn merge; a hole is merged reversed and reversed back).
// Marks the ring's points visited.
void OffsetBiasedRing(PSList& list, PSPoint* ring, PSList& output);
// OffsetBiasedRing for every ring of the list; visited flags cleared after.
// Points of open chains are passed over.
void OffsetBiasedList(PSList& list, PSList& output);
// The steps of an edge bias on the cut pieces of list, in order:
// MergeSimilarBiases (tolerance 0), MergeShortEdges when minLength > 0,
// MergeSimilarBiases with the tolerance when it is not 0,
// PropagateMarkerBias when guard is not 0, then OffsetBiasedList onto
// output. The points the merges unlink stay on list's link chain, flagged
// deleted, and its points keep their visited flags: the caller clears list.
void BiasPiecesToRings(PSList& list, int mode, int guard, int32_t minLength,
                       int32_t tolerance, PSList& output);
// Every piece with a non-zero bias as a two-point chain (copies of its ends,
// flags 0) pushed onto output.
void EmitBiasedEdges(PSList& list, PSList& output);

// Every input edge cut into pieces becomes one piece of the length-weighted
// mean bias (guard pieces apart); then MergeSimilarBiases(list, 2, guard, 0).
int32_t MergeEdgeRunsMean(PSList& list, int guard);
// Every piece shorter than length joins a neighbour of its input edge: the
// first and the last piece grow to length from their marker (GrowFirstPiece,
// GrowLastPiece), any other joins the shorter of its two neighbours, which
// is cut first when the joined piece would otherwise reach 2·length. Joined
// pieces take the length-weighted mean; then MergeSimilarBiases(list, 2,
// guard, 0).
int32_t MergeShortPieces(PSList& list, int32_t length, int guard);
// The first piece of the input edge starting at marker grows to length: the
// pieces up to the first point at least length away merge by mean (a long
// piece there is cut so that the merged stretch is length long).
void GrowFirstPiece(PSList& list, PSPoint* marker, int32_t length, int guard);
// The mirror image for the last piece of the edge ending at marker; returns
// the start of the merged stretch.
PSPoint* GrowLastPiece(PSList& list, PSPoint* marker, int32_t length, int guard);
// Removes edges shorter than length that continue a neighbouring edge in
// line, keeping the bias of the longer neighbour; returns the number of
// points purged.
int32_t RemoveShortCollinearEdges(PSList& list, int32_t length);

}  // namespace velmar
