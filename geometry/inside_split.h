// The split of a layer's rings by whether each lies inside the polygons of
// an enclosing layer: the first step of the enclosure checks, whose rings
// outside the enclosing layer are violations as a whole.
#pragma once

#include "geometry/point_system.h"

namespace velmar {

// Copies every ring of `rings` that lies inside the polygons of
// `enclosing` (relational INSIDE) onto *inside and every other ring onto
// *outside (either may be null: those rings are dropped). `rings` is
// consumed (left empty); `enclosing` is left unchanged, unflagged, and may
// be empty (then every ring is outside). The copies are the input rings
// vertex for vertex, with flags 0.
void SplitInside(PSList& rings, PSList& enclosing, PSList* inside,
                 PSList* outside);

}  // namespace velmar
