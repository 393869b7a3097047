// Placement transforms and cell references.
//
// A child cell is placed inside a parent by a Trans: an offset (where the
// child's origin lands), a magnification and one of eight orientations. A
// single placement is an SRef, a regular grid of placements an ARef. Both
// are the items of a cell's reference layer and are owned by it.
#pragma once

#include <cstdint>

#include "foundation/box.h"
#include "foundation/slist.h"

namespace velmar {

// Orientation codes: how a child point (x, y) is turned before the offset is
// added. 0..3 rotate counter-clockwise by 0, 90, 180, 270 degrees; 4..7
// mirror x to -x first and then rotate the same way. Codes above 7 map like
// code 0.
//   0 (x, y)   1 (-y, x)   2 (-x, -y)   3 (y, -x)
//   4 (-x, y)  5 (-y, -x)  6 (x, -y)    7 (y, x)
// Odd codes send the child's x axis onto the parent's y axis.

// Composition of orientations: entry [c][p] is the orientation of turning by
// code c first and then by code p (row = child placement, column = parent
// placement). Both indices must be 0..7.
inline constexpr uint8_t OrientationProduct[8][8] = {
    {0, 1, 2, 3, 4, 5, 6, 7},  //
    {1, 2, 3, 0, 7, 4, 5, 6},  //
    {2, 3, 0, 1, 6, 7, 4, 5},  //
    {3, 0, 1, 2, 5, 6, 7, 4},  //
    {4, 5, 6, 7, 0, 1, 2, 3},  //
    {5, 6, 7, 4, 3, 0, 1, 2},  //
    {6, 7, 4, 5, 2, 3, 0, 1},  //
    {7, 4, 5, 6, 1, 2, 3, 0},
};

// A magnification within 2^-23 of 1 (difference taken in double precision
// from the stored single-precision value) counts as none: coordinates are
// then left unscaled.
inline constexpr double kMagnificationTolerance = 1.1920928955078125e-07;
bool IsNoMagnification(float mag);

// Placement transform. The offset is the Point base.
//
// Every mapping computes in 64 bits (magnified values in extended precision)
// and throws Error (unit "DB") when a result does not fit into int32, rather
// than wrapping into a wrong coordinate.
struct Trans : Point {
  float mag = 1.0f;         // magnification (IEEE single)
  uint8_t orientation = 0;  // orientation code, see above

  constexpr Trans() = default;
  constexpr Trans(int32_t ox, int32_t oy, float m = 1.0f, uint8_t orient = 0)
      : Point(ox, oy), mag(m), orientation(orient) {}

  // True when the magnification is not none (see IsNoMagnification).
  bool Magnified() const { return !IsNoMagnification(mag); }

  // Maps a child point into the parent, in place: scale by the
  // magnification (floor(mag * v + 0.5), halves towards plus infinity) when
  // it is not none, turn by the orientation, add the offset.
  void Apply(int32_t& x, int32_t& y) const;

  // Replaces the transform by its inverse, in place. With a magnification,
  // the offset is first scaled by 1 / mag (rounded half up) and the
  // magnification becomes 1 / mag; then offset and code follow the inverse
  // turn. Applying the inverse after the transform gives every child point
  // back (exactly without magnification, up to rounding otherwise). A zero
  // or non-finite magnification cannot be inverted (Error "DB").
  void Invert();

  // Maps a box into the parent in place (both corners through Apply, then
  // re-normalised: smaller coordinates first). A box with x1 > x2 or
  // y1 > y2 (the empty box) stays as it is: placing nothing covers nothing.
  void TransformBox(Box& box) const;

  // The placement of a grandchild in the parent, from its placement inner in
  // the child and the child's placement outer in the parent: offset = inner
  // offset mapped by outer; orientation = OrientationProduct[inner][outer]
  // (codes above 7 read as 0); magnification = inner * outer as float32 when
  // outer is magnified, else inner's. Mapping a point by the result equals
  // mapping it by inner and then by outer (exactly without magnification).
  static Trans Compose(const Trans& inner, const Trans& outer);
};

// Single reference: a placement of one child cell. The class is
// polymorphic: GetBox is overridden by ARef. Objects are created with new
// and deleted through an SRef pointer by the owner of the reference layer.
struct SRef : Trans {
  // Bit 31 of cellId is set exactly when the object is an ARef.
  static constexpr int32_t kArrayBit = INT32_MIN;
  static constexpr int32_t kIdMask = INT32_MAX;

  // The referenced cell's id in bits 0-30; bit 31 marks an ARef. Compared
  // as a signed word, so array references sort first.
  int32_t cellId = 0;

  SRef() = default;
  SRef(const Trans& t, int32_t id) : Trans(t), cellId(id & kIdMask) {}
  // An SRef copy never carries the array bit: an ARef copied into an SRef
  // (sliced) is not taken for an array. Assigning to an SRef keeps the
  // target's own bit.
  SRef(const SRef& o) : Trans(o), cellId(o.cellId & kIdMask) {}
  SRef& operator=(const SRef& o) {
    Trans::operator=(o);
    SetCellId(o.cellId);
    return *this;
  }
  virtual ~SRef() = default;

  bool IsArray() const { return cellId < 0; }
  // The referenced cell's id without the array bit.
  int32_t CellId() const { return cellId & kIdMask; }
  // Sets the id bits, keeping the array bit.
  void SetCellId(int32_t id) { cellId = (cellId & kArrayBit) | (id & kIdMask); }

  // The box that the placed child covers in the parent, given the child
  // cell's box: both child corners mapped and joined. An empty child box
  // (x1 > x2 or y1 > y2) gives the empty box.
  virtual Box GetBox(const Box& childBox) const;

  // Total order of references for sorting and duplicate removal: cell id
  // word (signed), offset x, offset y, orientation; for arrays columns, rows,
  // column pitch, row pitch; finally the magnification. References that
  // differ in anything, magnification included, never compare equal, so
  // dropping equal neighbours never drops a real placement. -1, 0 or 1.
  static int Compare(const SRef* a, const SRef* b);
  // Compare on the SRef items of two list nodes (the comparator of sorted
  // reference lists, SList::Sort).
  static int CompareIndirect(const SListNode* a, const SListNode* b);
};

// Array reference: columns x rows placements of one child. Element (c, r)
// has the array's cell, magnification and orientation and the offset
//   (x + c * columnPitch, y + r * rowPitch) for even orientation codes
//   (and codes above 7, which map like 0),
//   (x + r * columnPitch, y + c * rowPitch) for odd codes 1, 3, 5, 7,
// (x, y) being the array's own offset: pitches are steps in parent x and y
// (possibly negative), and for odd codes the columns run along parent y.
// Element (0, 0) is the array's own placement.
struct ARef : SRef {
  int16_t columns = 1;
  int16_t rows = 1;
  int32_t columnPitch = 0;
  int32_t rowPitch = 0;

  ARef() { cellId = kArrayBit; }
  ARef(const Trans& t, int32_t id, int16_t cols, int16_t rws, int32_t colPitch,
       int32_t rwPitch)
      : SRef(t, id), columns(cols), rows(rws), columnPitch(colPitch),
        rowPitch(rwPitch) {
    cellId |= kArrayBit;
  }
  // Copies take the source's whole cell id word, array bit included: an
  // ARef value without the bit stands for a single reference (the reference
  // lists of the stream readers hold them so), and copying it, as a growing
  // or sorted std::vector<ARef> does, must not turn it into a 1 x 1 array.
  ARef(const ARef& o)
      : SRef(o), columns(o.columns), rows(o.rows), columnPitch(o.columnPitch),
        rowPitch(o.rowPitch) {
    cellId = o.cellId;
  }
  ARef& operator=(const ARef& o) {
    SRef::operator=(o);
    cellId = o.cellId;
    columns = o.columns;
    rows = o.rows;
    columnPitch = o.columnPitch;
    rowPitch = o.rowPitch;
    return *this;
  }

  // The placement of element (column, row) by the element rule above.
  Trans ElementTrans(int32_t column, int32_t row) const;

  // The box covering every element: the boxes of element (0, 0) and of the
  // far element (columns - 1, rows - 1) joined (the elements lie on a lattice
  // between them). An array whose array bit is clear is taken as a single
  // reference; a column or row count below 1 counts as 1.
  Box GetBox(const Box& childBox) const override;
};

}  // namespace velmar
