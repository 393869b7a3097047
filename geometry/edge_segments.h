// Edge-attribute segments: a profile along one polygon edge, cut into pieces
// that each carry up to four attribute channels at their two ends, linear in
// between. Edge extraction and edge bias hold the distance to the nearest
// facing edge inside the polygon in channel 0 and outside it in channel 1.
//
// The pieces of one list lie on one edge's line in the edge's direction,
// ordered by their start points: by x the way the edge runs in x, points of
// one x by y the way the edge runs in y (an edge along an axis, or one that
// runs towards larger x and y or smaller x and y, orders lexicographically,
// ascending or descending). A point rounded onto the edge's line never lies
// before one rounded onto the line farther back, so feet on the line keep
// their order along the edge, at any angle.
//
// Channels hold 32-bit values: distances and search limits of any size a
// rule can name fit, and channel means are formed in 64 bits by the users.
#pragma once

#include <cstdint>

#include "foundation/box.h"
#include "foundation/search_tree.h"
#include "foundation/slist.h"

namespace velmar {

class EdgeBandIndex;

struct AttrSegment {
  int32_t x1 = 0, y1 = 0;  // start point
  int32_t x2 = 0, y2 = 0;  // end point
  int32_t startValue[4] = {0, 0, 0, 0};
  int32_t endValue[4] = {0, 0, 0, 0};
};

// An SList of AttrSegment records. The list owns its nodes and the records
// they point to; a record that moves to another list leaves a null pointer
// in its old node. FreeSegmentList deletes the records still referenced and
// clears the list.
struct AttrSegmentList : SList {
  uint8_t descending = 0;  // 1: ordered by decreasing x (y at equal x)
  uint8_t crossed = 0;     // 1: y at equal x ordered against the x order
};

// Sets the list's order to the one along the edge (x1, y1) -> (x2, y2).
void OrderAlongEdge(AttrSegmentList& list, const Box& edge);

void FreeSegmentList(AttrSegmentList& list);

// Appends a record at the tail through a new node.
void AppendSegment(AttrSegmentList& list, AttrSegment* seg);

// -1 when a's piece starts before (Ascending) or after (Descending) b's,
// else 0; never positive.
int CompareSegmentsAscending(const SListNode* a, const SListNode* b);
int CompareSegmentsDescending(const SListNode* a, const SListNode* b);

// Value of channel c at (x, y) on the piece: the start value plus the
// difference times the distance from the start over the piece's length,
// the correction rounded half away from zero; the start value itself when
// both ends agree. Formed in 64 bits.
int32_t SegmentValueAt(const AttrSegment& s, int c, int32_t x, int32_t y);

// Prints every piece: "(%d,%d) - (%d,%d):\n", then "\t%d %d" per channel
// (start and end value), "\n" per piece and one more "\n" at the end.
void PrintSegmentList(const AttrSegmentList& list);

// Fills every gap of the list along the span (x1, y1) -> (x2, y2) with a
// new piece carrying value at both ends of channel c. An empty list gets one
// piece over the whole span. No piece of zero length is made.
void AddPathSegments(AttrSegmentList& list, const Box& span, int32_t value,
                     int c);

// Joins consecutive pieces that meet and continue each other linearly in
// channel c (the joined piece keeps only channel c; the others become 0).
void CoalesceSegments(AttrSegmentList& list, int c);

// Inserts the source node's piece into the profile dst at or after the
// cursor, keeping the lower value of channel c where pieces overlap (decided
// at the common start point). The cursor moves with the insertion. A piece
// that is placed whole moves its record into dst (the source node's item
// becomes null); parts of it are copied; a dropped piece stays with the
// source.
void InsertSegment(AttrSegmentList& dst, SListNode*& cursor, SListNode* node,
                   int c);

// Sorts src (by its order) and merges all its pieces into dst, which takes
// src's order, as a lower envelope of channel c, then coalesces dst. src
// must hold at least one piece.
void MergeSegmentList(AttrSegmentList& src, AttrSegmentList& dst, int c);

// Both lists cover the same span in the same order: cuts target's pieces at
// source's breakpoints and copies source's channel sc into target's channel
// sc (target's channel tc is interpolated at the new cuts). source is cut in
// place.
void OverlaySegments(AttrSegmentList& target, AttrSegmentList& source, int tc,
                     int sc);

// Appends to out one piece per partner piece in the band of the edge of
// width |d| (right-hand side for d > 0, left for d < 0) that faces the edge
// (runs against it): from the foot of its end to the foot of its start on
// the edge's line (in the edge's direction), with the perpendicular
// distances of its end and start, rounded half away from zero, in channel
// `channel`. A foot that rounds beyond an end of the edge (a slanted edge's
// band clips a partner to rounded points) is taken back to that end, and a
// piece left without length is passed over: the pieces lie on the edge.
// True when out then holds any piece.
bool EdgePartners(const DBSearchSystem& tree, const Box& edge, int32_t d,
                  AttrSegmentList& out, int channel);
bool EdgePartners(const EdgeBandIndex& index, const Box& edge, int32_t d,
                  AttrSegmentList& out, int channel);
// EdgePartners of one edge for two bands (d1 into out1's channel1, d2 into
// out2's channel2) through one query of the index.
void EdgePartners(const EdgeBandIndex& index, const Box& edge, int32_t d1,
                  AttrSegmentList& out1, int channel1, int32_t d2,
                  AttrSegmentList& out2, int channel2);

}  // namespace velmar
