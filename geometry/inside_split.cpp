#include "geometry/inside_split.h"

#include "geometry/op_codes.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/relational.h"

namespace velmar {

void SplitInside(PSList& rings, PSList& enclosing, PSList* inside,
                 PSList* outside) {
  if (rings.IsEmpty()) {
    ClearPointList(rings);
    return;
  }
  // The enclosing layer is the second operand of the classification; a
  // copy is marked so that the caller's list keeps its flags.
  ScratchList both;
  CopyPointList(enclosing, both.list);
  SetFlags(both.list, PSPointFlags::SecondLayer);
  SpliceList(both.list, rings);
  ClassifyPoints(both.list);
  if (inside)
    RelationalSelect(both.list, *inside, RelationalCode::Inside, false);
  if (outside)
    RelationalSelect(both.list, *outside, RelationalCode::Inside, true);
}

}  // namespace velmar
