// The distance checks SPACE (one layer or two), WIDTH and ENC: the input
// layers gathered in the working area and merged, the distance converted,
// the engine chosen by the edge angles (the plane sweep for axis-parallel
// input, the edge index with per-edge band checks for any other, 45-degree
// edges included: the 45-degree sweeps miss pairs that meet at an acute
// corner or face a diagonal from its right), the violations cut back to
// the area and counted.

#include <cstdint>
#include <memory>

#include "command/api.h"
#include "command/fatal.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "geometry/boolean_sweep.h"
#include "geometry/clip_tile.h"
#include "geometry/segment_geometry.h"
#include "geometry/edge_index.h"
#include "geometry/inside_split.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/scan_sweep.h"
#include "geometry/space_sweep.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

// Merges a library layer in place (its shapes come from many cells and may
// overlap); a temporary layer is used as it is. Flags left by earlier
// operations are cleared either way: the checks give them their own
// meaning.
void PrepareLayer(PSList& list, int layer) {
  MergeLibraryLayer(list, layer);
  MaskFlags(list, 0);
}

// Marks (Marker) every vertex of the rings with more vertices than a stored
// shape can hold; true when there is one. Rings only.
bool MarkLongRings(PSList& list) {
  bool any = false;
  for (PSPoint* p = list.head; p; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    int64_t n = 0;
    PSPoint* q = p;
    do {
      q->flags |= PSPointFlags::Visited;
      ++n;
      q = q->next;
    } while (q != p);
    if (n > int64_t(DBPolygon::kMaxVertices)) {
      any = true;
      do {
        q->flags |= PSPointFlags::Marker;
        q = q->next;
      } while (q != p);
    }
  }
  MaskFlags(list, ~int(PSPointFlags::Visited));
  return any;
}

// WIDTH with edge-pair regions only, on closed polygons: every distinct
// shape is checked once in its own coordinates and its violations are
// copied to each of its placements. A ring too long for a stored shape is
// checked where it lies.
void WidthPerShape(PSList& input, PSList& violations, int32_t distance, int32_t unit,
                   int kind) {
  BooleanSweep(input, nullptr, BooleanOpCode::CutHoles, false);
  ScratchList large;
  if (MarkLongRings(input)) {
    ScratchList small;
    CopyFlaggedRings(input, large.list);
    for (PSPoint* p = input.head; p; p = p->link) p->flags ^= PSPointFlags::Marker;
    CopyFlaggedRings(input, small.list);
    ClearPointList(input);
    SpliceList(input, small.list);
  }
  MaskFlags(input, 0);
  CPgonList shapes;
  try {
    CPgonList::AddRings(shapes, input);
    ClearPointList(input);
    for (CPgonListNode* shape = shapes.first; shape; shape = shape->next) {
      ScratchList ring, list, found;
      shape->polygon->ToRing(ring.list);
      // Merging separates the holes that cutting joined to their rings.
      BooleanSweep(ring.list, &list.list, BooleanOpCode::Merge, false);
      ClearPointList(ring.list);
      CheckWidthEdges(list.list, list.list, ListBBox(list.list), found.list, distance, unit,
                      kind);
      for (LocListNode* at = shape->placements.first; at; at = at->next) {
        ScratchList copy;
        CopyPointList(found.list, copy.list);
        for (PSPoint* p = copy.list.head; p; p = p->link) {
          p->x = ToCoord(int64_t(p->x) + at->x);
          p->y = ToCoord(int64_t(p->y) + at->y);
        }
        SpliceList(violations, copy.list);
      }
    }
  } catch (...) {
    CPgonList::Release(shapes);
    throw;
  }
  CPgonList::Release(shapes);
  if (!large.list.IsEmpty()) {
    ScratchList list;
    BooleanSweep(large.list, &list.list, BooleanOpCode::Merge, false);
    CheckWidthEdges(list.list, list.list, ListBBox(list.list), violations, distance, unit, kind);
  }
}

}  // namespace

// The steps every check shares once its engine has run: the violations cut
// back to the working area (or, in hierarchical mode, to the area's
// operation layers sized by hierSize), reported, counted and moved into the
// check's temporary layer.
void API::FinishCheck(PSList& violations, PSList& out, int32_t hierSize, const char* line,
                      int API::*counter) {
  const bool report = tech.reportDegree != 0;
  if (!violations.IsEmpty()) {
    if (hierarchical != 0) {
      GatherAreaLayers(hierSize, violations);
    } else if (tech.areaMargin != 0) {
      ClipToWindow(violations, area, false);
    }
  }
  if (!violations.IsEmpty()) {
    if (report) PrintMessage(line, violations.pointCount);
    this->*counter += violations.pointCount;
    SpliceList(out, violations);
  }
  if (report) ReportPointSystemMemory(false);
}

// Echo, preconditions and the refusal of a negative amount: a negative
// distance would turn the band to the other side of every edge.
void API::BeginCheck(const char* name, int amount) {
  RequireWorkingArea();
  if (amount < 0) ExitWithMessage("ERROR: %s takes no negative amount\n", name);
}

Box API::CheckWindow() const {
  const int64_t m = tech.areaMargin != 0 ? ToDatabaseUnits(double(tech.areaMargin)) : 0;
  return Box(ToCoord(int64_t(area.x1) - m), ToCoord(int64_t(area.y1) - m),
             ToCoord(int64_t(area.x2) + m), ToCoord(int64_t(area.y2) + m));
}

int API::SPACE(int layer1, int datatype1, int amount, int kind) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintMessage("\n%s", DateText());
    PrintMessage("SPACE {%d %d} %d\n", layer1, datatype1, amount);
  }
  return RunOneLayerOperation(
      *this, layer1, datatype1,
      [&] { BeginCheck("SPACE", amount); },
      [&](PSList& input, PSList& out) {
        if (report) PrintMessage("%sProcess starts\n", DateText());
        PrepareLayer(input, layer1);
        const int32_t distance = ToDatabaseUnits(double(amount));
        const int32_t unit = ToDatabaseUnits(1.0);
        ScratchList violations;
        if (ClassifyList(input) != 0) {
          // Edges off the axes: the band checks over the whole window.
          CheckSpaceEdges(input, input, CheckWindow(), violations.list, distance, unit, kind);
        } else {
          SortPointsByPosition(input, false);
          SweepSpaceManhattan(input, violations.list, distance, unit, 1, kind, false);
        }
        ClearPointList(input);
        FinishCheck(violations.list, out, distance, "  SPACE violation vertices = %d\n",
                    &API::spaceViolations);
      });
}

int API::SPACE(int layer1, int datatype1, int layer2, int datatype2, int amount, int kind) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintMessage("\n%s", DateText());
    PrintMessage("SPACE {%d %d} {%d %d} %d\n", layer1, datatype1, layer2, datatype2, amount);
  }
  BeginCheck("SPACE", amount);
  RequireLayerArgument(layer2, datatype2);
  int index = 0;
  try {
    ScratchList first, second;
    CollectLayers(first.list, layer1, datatype1, -1, 0);
    CollectLayers(second.list, layer2, datatype2, -1, 0);
    index = GetTempLayer();
    PSList& out = *tempLayers[size_t(index)];
    if (first.list.IsEmpty() || second.list.IsEmpty()) {
      if (report) PrintMessage("Warning: no input layer exists\n");
    } else {
      if (report) PrintMessage("%sProcess starts\n", DateText());
      PrepareLayer(first.list, layer1);
      PrepareLayer(second.list, layer2);
      const int32_t distance = ToDatabaseUnits(double(amount));
      const int32_t unit = ToDatabaseUnits(1.0);
      ScratchList violations;
      const int cls1 = ClassifyList(first.list), cls2 = ClassifyList(second.list);
      if (cls1 != 0 || cls2 != 0) {
        // Only the first layer's edges are tested, against the second's.
        CheckSpaceEdges(first.list, second.list, CheckWindow(), violations.list, distance, unit,
                        kind);
      } else {
        SetFlags(second.list, PSPointFlags::SecondLayer);
        SpliceList(first.list, second.list);
        SortPointsByPosition(first.list, false);
        SweepSpaceManhattan(first.list, violations.list, distance, unit, 1, kind, true);
      }
      ClearPointList(first.list);
      ClearPointList(second.list);
      FinishCheck(violations.list, out, distance, "  SPACE violation vertices = %d\n",
                  &API::spaceViolations);
    }
  } catch (const Error& e) {
    ExitOnError(e);
  }
  const int layer = kTempLayerBase - index;
  if (report) PrintMessage("Resulting layer is {%d 0}\n", layer);
  return layer;
}

int API::WIDTH(int layer1, int datatype1, int amount, int kind) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintMessage("\n%s", DateText());
    PrintMessage("WIDTH {%d %d} %d\n", layer1, datatype1, amount);
  }
  return RunOneLayerOperation(
      *this, layer1, datatype1,
      [&] { BeginCheck("WIDTH", amount); },
      [&](PSList& input, PSList& out) {
        if (report) PrintMessage("%sProcess starts\n", DateText());
        PrepareLayer(input, layer1);
        const bool open = HasOpenChains(input);
        const int32_t unit = ToDatabaseUnits(1.0);
        const int32_t distance = ToDatabaseUnits(double(amount));
        const int cls = ClassifyList(input);
        ScratchList violations;
        if (cls != 0 && (kind <= 1 || open)) {
          // Edges off the axes: the band checks over the whole window.
          CheckWidthEdges(input, input, CheckWindow(), violations.list, distance, unit, kind);
        } else if (kind <= 1) {
          SortPointsByPosition(input, false);
          SweepWidthManhattan(input, violations.list, -distance, unit, 1, kind);
        } else if (open) {
          CheckWidthEdges(input, input, CheckWindow(), violations.list, distance, unit, kind);
        } else {
          WidthPerShape(input, violations.list, distance, unit, kind);
        }
        ClearPointList(input);
        FinishCheck(violations.list, out, 0, "  WIDTH violation vertices = %d\n",
                    &API::widthViolations);
      });
}

int API::Enc(int layer1, int datatype1, int layer2, int datatype2, int amount, int kind) {
  const bool report = tech.reportDegree != 0;
  if (report)
    PrintMessage("\n%sENC {%d %d} {%d %d} %d\n", DateText(), layer1, datatype1, layer2,
                 datatype2, amount);
  return RunOneLayerOperation(
      *this, layer1, datatype1,
      [&] {
        BeginCheck("ENC", amount);
        RequireLayerArgument(layer2, datatype2);
      },
      [&](PSList& enclosed, PSList& out) {
        if (report) PrintMessage("%sProcess starts\n", DateText());
        PrepareLayer(enclosed, layer1);
        ScratchList enclosing;
        CollectLayers(enclosing.list, layer2, datatype2, -1, 0);
        PrepareLayer(enclosing.list, layer2);
        const int32_t distance = ToDatabaseUnits(double(amount));
        const int32_t unit = ToDatabaseUnits(1.0);
        ScratchList violations;
        if (amount > 0 && ClassifyList(enclosed) == 0 && ClassifyList(enclosing.list) == 0 &&
            !HasOpenChains(enclosed) && !HasOpenChains(enclosing.list)) {
          SetFlags(enclosing.list, PSPointFlags::SecondLayer);
          SpliceList(enclosing.list, enclosed);
          SortPointsByPosition(enclosing.list, false);
          SweepEnc(enclosing.list, violations.list, distance, unit, 1, kind);
        } else {
          ScratchList inside, outside;
          SplitInside(enclosed, enclosing.list, &inside.list, &outside.list);
          // Shapes not inside the enclosing layer are violations whole.
          if (!outside.list.IsEmpty())
            BooleanSweep(outside.list, &violations.list, BooleanOpCode::Merge, false);
          if (!inside.list.IsEmpty() && distance != 0) {
            CheckEncEdges(inside.list, enclosing.list, CheckWindow(), violations.list, distance,
                          unit, kind);
          }
        }
        ClearPointList(enclosing.list);
        ClearPointList(enclosed);
        FinishCheck(violations.list, out, distance, "  ENC violation vertices = %d\n",
                    &API::encViolations);
      });
}

}  // namespace velmar
