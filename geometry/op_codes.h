// Operation codes of the polygon booleans, the relational codes (a separate
// numbering), and the edge classes that the scan-line sweep writes into the
// flags of an edge's left end.
//
// Winding counts: every region has count1 (first operand, points without
// PSPointFlags::SecondLayer) and count2 (second operand). Crossing an edge
// upward adds +1 to its operand's count for a forward edge (its ring runs from
// its left end to its right end, left = smaller in (x, then y) order) and -1
// for a backward edge; a counter-clockwise ring has count +1 inside. For a
// vertical edge "below" is its east side and "above" its west side.
#pragma once

#include <cstdint>

namespace velmar {

// Codes of BooleanSweep. Values outside the named ones (and 1, 4, 7) give an
// empty result.
enum class BooleanOpCode : int32_t {
  Merge = 0,            // "OR1": merge one layer
  Empty1 = 1,           // no region is inside
  Or = 2,               // "OR": count1 + count2 > 0
  Overlap = 3,          // "AND1": count1 >= 2 (overlap within one layer)
  Empty4 = 4,           // no region is inside
  And = 5,              // "AND": count1 > 0 and count2 > 0
  Diff = 6,             // "DIFF": count1 > 0 and count2 == 0 (three-valued)
  Empty7 = 7,           // no region is inside
  Xor = 8,              // "XOR": exactly one of count1 > 0, count2 > 0
  NegativeWinding = 9,  // count1 < 0 (quick width check)
  CutHoles = 25,        // cut every hole open to its enclosing ring, in place
  Fracture = 30,        // vertical fracturing, in place
  FractureCommand = 31, // vertical fracturing, the form of the fracture command
  CrossingPass = 32,    // a vertex at every crossing and overlap, in place
};

// Codes of the relational selections (SelectEdges 0..8, RelationalSelect and
// RelationalSelectEdges 10..23). Not interchangeable with BooleanOpCode.
enum class RelationalCode : int32_t {
  ROr1 = 0,
  ROr2 = 1,
  ROr = 2,
  RAnd1 = 3,
  RAnd2 = 4,
  RAnd = 5,
  RDiff = 6,
  RDiff2 = 7,
  RXor = 8,
  SIn = 10,
  SIn2 = 11,
  SOut = 12,
  SOut2 = 13,
  TIn = 14,
  TIn2 = 15,
  TOut = 16,
  TOut2 = 17,
  Over = 18,
  Over2 = 19,
  Inside = 20,
  Inside2 = 21,
  Outside = 22,
  Outside2 = 23,
};

// Edge classes written into the flags of an edge's left end. Forward edges
// use bits 0x02/0x04 and backward edges 0x08/0x10, so the two edges sharing a
// left end never overwrite each other's class.
struct EdgeClass {
  static constexpr uint16_t Dropped = 0x00;           // no output
  static constexpr uint16_t KeptForward = 0x02;       // above inside: left -> right
  static constexpr uint16_t ReversedForward = 0x06;   // below inside: right -> left
  static constexpr uint16_t KeptBackward = 0x08;      // below inside: right -> left
  static constexpr uint16_t ReversedBackward = 0x18;  // above inside: left -> right
  static constexpr uint16_t ForwardMask = 0x06;
  static constexpr uint16_t BackwardMask = 0x18;
  static constexpr uint16_t ForwardBit = 0x02;   // "emit" bit of a forward edge
  static constexpr uint16_t BackwardBit = 0x08;  // "emit" bit of a backward edge
};

// Class of an edge (or of a group of coincident edges, by its representative)
// for a boolean code and the winding counts below and above it: one of the
// EdgeClass values. Codes 2, 3, 5, 8, 9 use the inside rules above; code 6
// outputs an edge only when one side is inside and the other outside (a side
// with count1 < 0, or count1 > 0 and count2 < 0, is neither); every other
// code gives Dropped.
uint16_t EdgeClassDecision(BooleanOpCode code, bool forward, int32_t count1Below,
                           int32_t count1Above, int32_t count2Below,
                           int32_t count2Above);

}  // namespace velmar
