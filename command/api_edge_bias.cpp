// Rule-driven edge operations: the bias and end-cap rule tables, edge
// extraction, edge bias, line ends and hammer heads.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "command/api.h"
#include "command/fatal.h"
#include "command/layer_operation.h"
#include "foundation/error.h"
#include "foundation/rounding.h"
#include "foundation/search_tree_kd.h"
#include "geometry/boolean_sweep.h"
#include "geometry/edge_bias.h"
#include "geometry/edge_index.h"
#include "geometry/edge_segments.h"
#include "geometry/line_end.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/segment_geometry.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

constexpr double kUnitScaleTolerance = 1.1920928955078125e-7;  // 2^-23

// A rule value in nanometres in database units, half away from zero.
int32_t ConvertValue(double scale, int32_t v) {
  const double r = RoundHalfAway(scale * double(v));
  if (!(r >= double(INT32_MIN) && r <= double(INT32_MAX))) {
    throw Error("Rule value beyond the coordinate range", "DB");
  }
  return int32_t(r);
}

// Builds a rule table from copies of the rules, converted to database
// units, and raises maxValue to the largest value of any rule.
void PrepareRuleTable(const SList& rules, double scale,
                      std::unique_ptr<DBSearchSystemKD>& table,
                      std::vector<std::unique_ptr<BiasRule>>& copies,
                      int& maxValue) {
  std::vector<std::unique_ptr<BiasRule>> fresh;
  KDBox region;
  region.min.assign(BiasRule::kDimensions, 0);
  region.max.assign(BiasRule::kDimensions, 0);
  KDBox::Reset(region);
  const bool convert = std::fabs(scale - 1.0) > kUnitScaleTolerance;
  for (const SListNode* n = rules.head; n; n = n->next) {
    auto rule = std::make_unique<BiasRule>(*n->Item<BiasRule>());
    for (int i = 0; i < rule->valueCount; ++i) {
      if (convert) rule->bias[i] = ConvertValue(scale, rule->bias[i]);
      maxValue = std::max(maxValue, int(rule->bias[i]));
    }
    rule->Scale(scale);
    for (int i = 0; i < BiasRule::kDimensions; ++i) {
      int32_t h = 0;
      if (rule->min[i] != INT_MAX && rule->min[i] > 0) h = rule->min[i];
      if (rule->max[i] != INT_MAX && rule->max[i] > h) h = rule->max[i];
      region.min[i] = 0;
      region.max[i] = std::max(region.max[i], h + 1);
    }
    fresh.push_back(std::move(rule));
  }
  if (table) DBSearchSystemKD::Clear(*table);
  table = std::make_unique<DBSearchSystemKD>();
  DBSearchSystemKD::Init(*table, region);
  for (auto& rule : fresh) {
    for (int i = 0; i < BiasRule::kDimensions; ++i) {
      if (rule->min[i] == INT_MAX) rule->min[i] = 0;
      if (rule->max[i] == INT_MIN) rule->max[i] = INT_MAX;
    }
    DBSearchSystemKD::Insert(*table, *rule, rule->bias);
  }
  copies = std::move(fresh);
}

// [v - 1, v + 1] in dimension i, held to the int32 range.
void SetQuery(KDBox& q, int i, int64_t v) {
  q.min[i] = ClampToInt32(v - 1);
  q.max[i] = ClampToInt32(v + 1);
}

KDBox NewQuery() {
  KDBox q;
  q.min.assign(BiasRule::kDimensions, 0);
  q.max.assign(BiasRule::kDimensions, 1);
  return q;
}

// The values of the first rule the table finds for the query, or null.
const int32_t* Lookup(const DBSearchSystemKD& table, const KDBox& q,
                      const DBSearchNodeKD** node = nullptr) {
  const DBSearchNodeKD* n = DBSearchSystemKD::FirstInBox(table, q);
  if (node) *node = n;
  return n ? static_cast<const int32_t*>(n->item) : nullptr;
}

// The vertices of the working copy of an edge operation (the rings, their
// guard points and cuts). They are handed out in order from blocks that are
// kept for the whole process, never from the point pool: the copy's link
// chain and the cuts of each edge then run through memory in sequence for
// the many walks over the copy, and a later run faults in no fresh pages.
// The copy is never given to the pool; its vertices go back all at once when
// the arena is rewound (at the end of the work, also when an Error is thrown).
class WorkPoints {
 public:
  WorkPoints() : store_(Take()) {}
  ~WorkPoints() { Give(store_); }
  WorkPoints(const WorkPoints&) = delete;
  WorkPoints& operator=(const WorkPoints&) = delete;

  // PushPoint with a vertex of the arena.
  PSPoint* Push(PSList& list, int32_t x, int32_t y) {
    Store& s = *store_;
    if (s.used == kBlock) {
      ++s.block;
      s.used = 0;
    }
    if (s.block == s.blocks.size()) s.blocks.emplace_back(new PSPoint[kBlock]);
    return PushPointAt(list, &s.blocks[s.block][s.used++], x, y);
  }

 private:
  static constexpr size_t kBlock = 1 << 15;
  struct Store {
    std::vector<std::unique_ptr<PSPoint[]>> blocks;
    size_t block = 0, used = 0;
  };
  // Arenas given back, blocks kept (one edge operation runs at a time; a
  // few are kept should one ever run inside another).
  static std::vector<std::unique_ptr<Store>>& Spares() {
    static std::vector<std::unique_ptr<Store>> spares;
    return spares;
  }
  static Store* Take() {
    auto& spares = Spares();
    if (spares.empty()) return new Store;
    Store* s = spares.back().release();
    spares.pop_back();
    return s;
  }
  static void Give(Store* s) {
    s->block = s->used = 0;
    auto& spares = Spares();
    if (spares.size() < 2) spares.emplace_back(s); else delete s;
  }
  Store* store_;
};

// Frees the pieces of the lists of one edge.
struct ProfileLists {
  AttrSegmentList inside, outside, scratch, scratch2;
  ~ProfileLists() { Free(); }
  void Free() {
    FreeSegmentList(inside);
    FreeSegmentList(outside);
    FreeSegmentList(scratch);
    FreeSegmentList(scratch2);
  }
};

// The distance profile of the edge: inside distances (channel 0) against
// the inside index within limit li, outside distances (channel 1) against
// the outside index within lo; stretches without a partner get the limit.
// Returns false, and builds no list, when no partner faces an edge of some
// length in either band: its profile is then the one piece PlainPiece.
bool EdgeProfile(const EdgeBandIndex& insideIndex,
                 const EdgeBandIndex& outsideIndex, const Box& edge,
                 int32_t li, int32_t lo, ProfileLists& l) {
  l.Free();
  OrderAlongEdge(l.inside, edge);
  OrderAlongEdge(l.outside, edge);
  OrderAlongEdge(l.scratch, edge);
  OrderAlongEdge(l.scratch2, edge);
  if (&insideIndex == &outsideIndex && li >= 2 && lo >= 2) {
    // One layer on both sides: one query for the two bands.
    EdgePartners(insideIndex, edge, -li, l.scratch, 0, lo, l.scratch2, 1);
  } else {
    if (li >= 2) EdgePartners(insideIndex, edge, -li, l.scratch, 0);
    if (lo >= 2) EdgePartners(outsideIndex, edge, lo, l.scratch2, 1);
  }
  if (l.scratch.count == 0 && l.scratch2.count == 0 &&
      (edge.x1 != edge.x2 || edge.y1 != edge.y2)) {
    return false;
  }
  if (l.scratch.count > 0) MergeSegmentList(l.scratch, l.inside, 0);
  AddPathSegments(l.inside, edge, li, 0);
  if (l.scratch2.count > 0) MergeSegmentList(l.scratch2, l.outside, 1);
  AddPathSegments(l.outside, edge, lo, 1);
  FreeSegmentList(l.scratch);
  FreeSegmentList(l.scratch2);
  OverlaySegments(l.inside, l.outside, 0, 1);
  return true;
}

// The profile of an edge that no partner faces: the limits in channels 0
// and 1 from end to end (its ends do not matter to the rule tables).
AttrSegment PlainPiece(int32_t li, int32_t lo) {
  AttrSegment s;
  s.startValue[0] = s.endValue[0] = li;
  s.startValue[1] = s.endValue[1] = lo;
  return s;
}

// The bias rule of a piece: the one whose first two ranges hold the means
// of its two channels (formed in 64 bits).
const int32_t* PieceRule(const DBSearchSystemKD& table, KDBox& q,
                         const AttrSegment& s) {
  SetQuery(q, 0, (int64_t(s.startValue[0]) + s.endValue[0]) >> 1);
  SetQuery(q, 1, (int64_t(s.startValue[1]) + s.endValue[1]) >> 1);
  return Lookup(table, q);
}

// The first and the last piece of a profile to cut an edge into. With
// trimEnds a first or last piece of at most a diagonal unit is left out
// (its neighbour reaches the edge's end instead): on a slanted edge the ends
// of the facing stretches are rounded to the grid, and a stretch that the
// rounding leaves between one of them and the edge's end is no stretch of
// the edge's own.
struct PieceRange {
  const SListNode* first = nullptr;
  const SListNode* last = nullptr;
};
PieceRange ProfilePieces(const AttrSegmentList& pieces, bool trimEnds) {
  PieceRange r;
  r.first = pieces.head;
  for (const SListNode* n = r.first; n; n = n->next) r.last = n;
  auto sliver = [](const SListNode* n) {
    const AttrSegment& s = *n->Item<AttrSegment>();
    const int64_t dx = int64_t(s.x2) - s.x1, dy = int64_t(s.y2) - s.y1;
    return dx * dx + dy * dy <= 2;
  };
  if (!trimEnds || r.first == r.last) return r;
  if (sliver(r.first)) r.first = r.first->next;
  if (r.first != r.last && sliver(r.last)) {
    const SListNode* n = r.first;
    while (n->next != r.last) n = n->next;
    r.last = n;
  }
  return r;
}

// Cuts the edge from cur to end into the pieces first to last: every piece
// but the last gets a new point at its end (push(x, y) makes it); each
// piece's start gets the bias value(piece).
template <class Push, class ValueOf>
void CutEdge(PSPoint* cur, PSPoint* end, PieceRange range, Push push, ValueOf value) {
  const SListNode* first = range.first;
  const SListNode* last = range.last;
  for (const SListNode* n = first; n; n = n->next) {
    const AttrSegment& s = *n->Item<AttrSegment>();
    if (n == last) {
      SetPointBias(cur, value(s));
      break;
    }
    PSPoint* p = (s.x2 == end->x && s.y2 == end->y) ? end : push(s.x2, s.y2);
    LinkPoints(cur, p);
    SetPointBias(cur, value(s));
    cur = p;
  }
  if (cur != end) LinkPoints(cur, end);
}

int32_t CheckedCoord(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) throw Error("Coordinate beyond the int32 range", "DRC");
  return int32_t(v);
}

}  // namespace

void API::PrepareBiasRules() {
  RequireLibrary();
  try {
    PrepareRuleTable(tech.biasRules, currentLib->unitPerNm, biasTable, biasTableRules, maxBias);
  } catch (const Error& e) {
    ExitOnError(e);
  }
}

void API::PrepareEndcapRules() {
  RequireLibrary();
  try {
    PrepareRuleTable(tech.endcapRules, currentLib->unitPerNm, endcapTable, endcapTableRules, maxEndcap);
  } catch (const Error& e) {
    ExitOnError(e);
  }
}

namespace {

// For the walks over a merged list, whose rings lie scattered along its
// link chain: a cursor some points ahead on the link chain asks for the
// ring successor of each point before the walk reaches it, so that these
// reads overlap instead of waiting on memory one by one.
class PrefetchAhead {
 public:
  explicit PrefetchAhead(const PSList& list) : at_(list.head) {
    for (int i = 0; i < kDistance && at_; ++i) at_ = at_->link;
  }
  void Step() {
    if (at_ == nullptr) return;
    if (at_->next) __builtin_prefetch(at_->next);
    at_ = at_->link;
  }

 private:
  static constexpr int kDistance = 32;  // points; farther ahead gained nothing
  const PSPoint* at_;
};

// Whether every edge of the list runs along an axis. The facing pieces of
// such a layer keep one distance along their length, and the lower
// envelope that an edge profile merges from pieces of one value each does
// not depend on the order in which the band walk finds them: its band copy
// may then be taken from the list in link order, without building the tree
// whose traversal order the pieces of slanted layers follow.
bool AxisParallelOnly(const PSList& list) {
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (p->next && p->x != p->next->x && p->y != p->next->y) return false;
  }
  return true;
}

// Frees every vertex of every open chain (a chain has no inside to bias);
// the rings keep their link order and lose their visited flags. Returns
// AxisParallelOnly of the rings left. A list of rings only is walked once.
bool DropOpenChains(PSList& list) {
  bool open = false, slanted = false;
  PrefetchAhead ahead(list);
  for (PSPoint* p = list.head; p; p = p->link) {
    ahead.Step();
    p->flags &= uint16_t(~PSPointFlags::Visited);
    const PSPoint* n = p->next;
    if (n == nullptr || p->prev == nullptr) {
      open = true;
    } else if (p->x != n->x && p->y != n->y) {
      slanted = true;
    }
  }
  if (!open) return !slanted;
  ScratchList chains;
  SplitOffWholeChains(list, chains.list);
  return AxisParallelOnly(list);
}

// CopyPointList of a list of rings without visited flags, every copy
// flagged as an input vertex of the bias. The source rings keep their
// visited flags (the caller clears the source).
void CopyRingsAsBiasInput(PSList& src, WorkPoints& points, PSList& dst) {
  PrefetchAhead ahead(src);
  for (PSPoint* p = src.head; p; p = p->link) {
    ahead.Step();
    if (p->flags & PSPointFlags::Visited) continue;
    PSPoint* first = points.Push(dst, p->x, p->y);
    first->flags = PSPointFlags::BiasInputVertex;
    p->flags |= PSPointFlags::Visited;
    PSPoint* last = first;
    for (PSPoint* s = p->next; s != p; s = s->next) {
      PSPoint* c = points.Push(dst, s->x, s->y);
      c->flags = PSPointFlags::BiasInputVertex;
      s->flags |= PSPointFlags::Visited;
      LinkPoints(last, c);
      last = c;
    }
    LinkPoints(last, first);
  }
  dst.ringCount += src.ringCount;
}

// CopyPointList (rings and open chains alike, copies with flags 0) into
// vertices of the arena. The source's visited flags are cleared after.
void CopyPointList(PSList& src, WorkPoints& points, PSList& dst) {
  for (PSPoint* q = src.head; q; q = q->link) {
    if (q->flags & PSPointFlags::Visited) continue;
    PSPoint* qc = points.Push(dst, q->x, q->y);
    q->flags |= PSPointFlags::Visited;
    PSPoint* lastCopy = qc;
    PSPoint* s = q->next;
    while (s && s != q) {
      PSPoint* c = points.Push(dst, s->x, s->y);
      s->flags |= PSPointFlags::Visited;
      LinkPoints(lastCopy, c);
      lastCopy = c;
      s = s->next;
    }
    if (s == q) {
      LinkPoints(lastCopy, qc);
      continue;
    }
    // An open chain: the vertices from its first one up to q come next,
    // so that the copy runs from the same first to the same last vertex.
    PSPoint* first = q;
    while (first->prev && !(first->prev->flags & PSPointFlags::Visited)) first = first->prev;
    if (first == q) continue;
    PSPoint* prevCopy = nullptr;
    for (PSPoint* t = first; t != q; t = t->next) {
      PSPoint* c = points.Push(dst, t->x, t->y);
      t->flags |= PSPointFlags::Visited;
      LinkPoints(prevCopy, c);
      prevCopy = c;
    }
    LinkPoints(prevCopy, qc);
  }
  MaskFlags(src, -2);
  dst.ringCount += src.ringCount;
}

// The working area widened by the margin: the region of the edge indexes.
Box IndexRegion(const Box& area, int32_t margin) {
  if (margin == 0) return area;
  return Box(ClampToInt32(int64_t(area.x1) - margin), ClampToInt32(int64_t(area.y1) - margin),
             ClampToInt32(int64_t(area.x2) + margin), ClampToInt32(int64_t(area.y2) + margin));
}

// The measures of a line end n -> p2 (s before n, p4 after p2).
struct LineEndMeasures {
  int32_t w = 0;                        // width
  int32_t front = kNoPartnerDistance;   // free distance ahead
  int32_t sideN = kNoPartnerDistance;   // beside the corner at n
  int32_t sideP = kNoPartnerDistance;   // beside the corner at p2
};

LineEndMeasures MeasureLineEnd(const EdgeBandIndex& index, const PSPoint* n,
                               int32_t tf, int32_t ts) {
  const PSPoint* s = n->prev;
  const PSPoint* p2 = n->next;
  const PSPoint* p4 = p2->next;
  LineEndMeasures m;
  m.w = int32_t(RoundHalfAway(std::sqrt((long double)SquaredDistance(n, p2))));
  const Box edge(n->x, n->y, p2->x, p2->y);
  if (tf >= 2) {
    const int32_t k = tf >> 1;
    Box ext = edge;
    PointAlong(edge, -k, ext.x1, ext.y1);
    OffsetPoint(edge, k, true, ext.x2, ext.y2);
    m.front = NearestPartnerDistance(index, ext, tf);
  }
  if (ts >= 2) {
    const int32_t k = ts >> 1;
    Box sp(p2->x, p2->y, 0, 0);
    PointAlong(Box(p2->x, p2->y, p4->x, p4->y), k, sp.x2, sp.y2);
    PointAlong(Box(p2->x, p2->y, sp.x2, sp.y2), -k, sp.x1, sp.y1);
    m.sideP = NearestPartnerDistance(index, sp, ts);
    Box sn(0, 0, n->x, n->y);
    OffsetPoint(Box(s->x, s->y, n->x, n->y), -k, true, sn.x1, sn.y1);
    OffsetPoint(Box(sn.x1, sn.y1, n->x, n->y), k, true, sn.x2, sn.y2);
    m.sideN = NearestPartnerDistance(index, sn, ts);
  }
  return m;
}

// The line-end walk shared by ExtractLineEnds and HammerHead: every vertex
// n whose edge to its next vertex is a line end no wider than the table's
// width limit, with its measures.
template <class Visit>
void ForEachLineEnd(PSList& input, const DBSearchSystemKD& table,
                    int32_t minSideConverted, const EdgeBandIndex& index,
                    Visit visit) {
  const int32_t wm = table.region.max[0];
  const int32_t tf = table.region.max[1];
  const int32_t ts = table.region.max[2];
  if (wm < 0) return;  // a table without rules selects no line end
  const int64_t minSide = minSideConverted != 0 ? minSideConverted : wm;
  const __int128 wm2 = __int128(wm) * wm;
  for (PSPoint* n = input.head; n; n = n->link) {
    if (!IsLineEnd(n, minSide)) continue;
    if (SquaredDistance(n, n->next) > wm2) continue;
    visit(n, MeasureLineEnd(index, n, tf, ts));
  }
}

}  // namespace

int API::ExtractEdges(int layer, int datatype) {
  const bool report = tech.reportDegree != 0;
  if (report) PrintMessage("\n%sExtractEdges {%d %d}\n", DateText(), layer, datatype);
  return RunOneLayerOperation(
      *this, layer, datatype,
      [&] { if (!biasTable) ExitWithMessage("ERROR: Bias rules not prepared\n"); },
      [&](PSList& input, PSList& out) {
        MergeLibraryLayer(input, layer);
        const Box region = IndexRegion(area, ToDatabaseUnits(double(tech.areaMargin)));
        WorkPoints points;
        PSList copy;
        ScratchList result;
        CopyPointList(input, points, copy);
        auto push = [&](int32_t x, int32_t y) { return points.Push(copy, x, y); };
        const int32_t li = biasTable->region.max[0], lo = biasTable->region.max[1];
        KDBox q = NewQuery();
        auto valueOf = [&](const AttrSegment& s) { return PieceRule(*biasTable, q, s) ? 1 : 0; };
        const int32_t plainValue = valueOf(PlainPiece(li, lo));
        ProfileLists pl;
        {
          // On an axis-parallel layer the band copy comes straight from the
          // working copy: the same edges in another link order, which the
          // profiles of such a layer do not depend on, read from memory in
          // sequence. Otherwise it takes the edge index's order.
          const EdgeBandIndex tree =
              AxisParallelOnly(copy) ? EdgeBandIndex(copy) : EdgeBandIndex(input, region);
          for (PSPoint* p = copy.head; p; p = p->link) {
            PSPoint* nx = p->next;
            if (nx == nullptr) continue;
            if (!EdgeProfile(tree, tree, Box(p->x, p->y, nx->x, nx->y), li, lo, pl)) {
              SetPointBias(p, plainValue);
              continue;
            }
            CutEdge(p, nx, ProfilePieces(pl.inside, false), push, valueOf);
          }
        }
        ClearPointList(input);
        EmitBiasedEdges(copy, result.list);
        SpliceList(out, result.list);
        if (report) ReportPointSystemMemory(false);
      });
}

int API::ExtractEdges(int layer1, int datatype1, int layer2, int datatype2,
                      int layer3, int datatype3) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintMessage("\n%sExtractEdges {%d %d} {%d %d} {%d %d}\n", DateText(), layer1,
                 datatype1, layer2, datatype2, layer3, datatype3);
  }
  return RunOneLayerOperation(
      *this, layer1, datatype1,
      [&] { if (!biasTable) ExitWithMessage("ERROR: Bias rules not prepared\n"); },
      [&](PSList& input, PSList& out) {
        ScratchList insideLayer, outsideLayer;
        if (layer2 >= 0) CollectLayers(insideLayer.list, layer2, datatype2, -1, 0);
        if (layer3 >= 0) CollectLayers(outsideLayer.list, layer3, datatype3, -1, 0);
        MergeLibraryLayer(input, layer1);
        if (layer2 >= 0) MergeLibraryLayer(insideLayer.list, layer2);
        if (layer3 >= 0) MergeLibraryLayer(outsideLayer.list, layer3);
        const Box region = IndexRegion(area, ToDatabaseUnits(double(tech.areaMargin)));
        const int32_t li = biasTable->region.max[0], lo = biasTable->region.max[1];
        KDBox q = NewQuery();
        auto valueOf = [&](const AttrSegment& s) { return PieceRule(*biasTable, q, s) ? 1 : 0; };
        const int32_t plainValue = valueOf(PlainPiece(li, lo));
        ProfileLists pl;
        auto push = [&](int32_t x, int32_t y) { return PushPoint(input, x, y); };
        {
          const EdgeBandIndex inside(insideLayer.list, region);
          const EdgeBandIndex outside(outsideLayer.list, region);
          for (PSPoint* p = input.head; p; p = p->link) {
            PSPoint* nx = p->next;
            if (nx == nullptr) continue;
            if (!EdgeProfile(inside, outside, Box(p->x, p->y, nx->x, nx->y), li, lo, pl)) {
              SetPointBias(p, plainValue);
              continue;
            }
            CutEdge(p, nx, ProfilePieces(pl.inside, false), push, valueOf);
          }
        }
        ClearPointList(insideLayer.list);
        ClearPointList(outsideLayer.list);
        ScratchList result;
        EmitBiasedEdges(input, result.list);
        ClearPointList(input);
        SpliceList(out, result.list);
        if (report) ReportPointSystemMemory(false);
      });
}

int API::EdgeBias(int layer, int datatype) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintMessage("\n%s", DateText());
    PrintMessage("EdgeBias {%d %d}\n", layer, datatype);
  }
  return RunOneLayerOperation(
      *this, layer, datatype,
      [&] { if (!biasTable) ExitWithMessage("ERROR: Bias rules not prepared\n"); },
      [&](PSList& input, PSList& out) {
        MergeLibraryLayer(input, layer);
        const bool axisParallel = DropOpenChains(input);
        const Box region = IndexRegion(area, ToDatabaseUnits(double(tech.areaMargin)));
        WorkPoints points;
        PSList copy;
        ScratchList result;
        CopyRingsAsBiasInput(input, points, copy);
        auto push = [&](int32_t x, int32_t y) { return points.Push(copy, x, y); };
        const int32_t minLength = ToDatabaseUnits(double(tech.biasMinLength));
        const int32_t guard = ToDatabaseUnits(double(tech.biasCornerGuard));
        const int32_t tolerance = ToDatabaseUnits(double(std::max(tech.biasDiff - 1, 0)));
        const int32_t li = biasTable->region.max[0], lo = biasTable->region.max[1];
        KDBox q = NewQuery();
        ProfileLists pl;
        auto biasOf = [&](const AttrSegment& s) {
          const int32_t* rule = PieceRule(*biasTable, q, s);
          return rule ? rule[0] : 0;
        };
        const int32_t plainBias = biasOf(PlainPiece(li, lo));
        {
          // On an axis-parallel layer the band copy comes straight from the
          // working copy (taken before any edge is cut): the same edges in
          // another link order, which the profiles of such a layer do not
          // depend on, read from memory in sequence. Otherwise it takes the
          // edge index's order.
          const EdgeBandIndex tree =
              axisParallel ? EdgeBandIndex(copy) : EdgeBandIndex(input, region);
          for (PSPoint* p = copy.head; p; p = p->link) {
            PSPoint* nx = p->next;
            if (nx == nullptr) continue;
            const Box edge(p->x, p->y, nx->x, nx->y);
            const bool slanted = edge.x1 != edge.x2 && edge.y1 != edge.y2;
            if (guard == 0) {
              if (EdgeProfile(tree, tree, edge, li, lo, pl)) {
                CutEdge(p, nx, ProfilePieces(pl.inside, slanted), push, biasOf);
              } else {
                SetPointBias(p, plainBias);
              }
              continue;
            }
            const int64_t dx = int64_t(nx->x) - p->x, dy = int64_t(nx->y) - p->y;
            int64_t n = 0, m = 0;
            bool shortEdge;
            if (dx == 0 || dy == 0) {
              // Along an axis the length and the guard's steps are exact.
              const int64_t len = dx == 0 ? std::llabs(dy) : std::llabs(dx);
              shortEdge = len < 2 * int64_t(guard);
              if (!shortEdge) {
                n = dx == 0 ? 0 : dx > 0 ? guard : -int64_t(guard);
                m = dy == 0 ? 0 : dy > 0 ? guard : -int64_t(guard);
                shortEdge = dx - 2 * n == 0 && dy - 2 * m == 0;
              }
            } else {
              const long double len = std::sqrt((long double)dx * dx + (long double)dy * dy);
              shortEdge = int64_t(len) < 2 * int64_t(guard);
              if (!shortEdge) {
                GuardStep(dx, dy, (long double)guard / len, false, n, m);
                // A core of no length (an edge about twice the guard) is short.
                shortEdge = dx - 2 * n == 0 && dy - 2 * m == 0;
              }
            }
            if (shortEdge) {
              if (tech.biasShortMode == 0) continue;  // kept on its line, bias 0
              if (dx == 0 || dy == 0) {
                auto towardsZero = [](int64_t v) { return v > 0 ? v - 1 : v < 0 ? v + 1 : 0; };
                n = towardsZero(dx / 2);
                m = towardsZero(dy / 2);
              } else {
                // The middle stretch: a unit either side of the middle.
                const long double len = std::sqrt((long double)dx * dx + (long double)dy * dy);
                GuardStep(dx, dy, std::max(len / 2 - 1, 0.0L) / len, true, n, m);
              }
            }
            const Box core(CheckedCoord(p->x + n), CheckedCoord(p->y + m),
                           CheckedCoord(nx->x - n), CheckedCoord(nx->y - m));
            const bool cut = EdgeProfile(tree, tree, core, li, lo, pl);
            const PieceRange pieces = cut ? ProfilePieces(pl.inside, slanted) : PieceRange();
            const bool guardA = core.x1 != p->x || core.y1 != p->y;
            const bool guardB = core.x2 != nx->x || core.y2 != nx->y;
            if (guardA && guardB) {
              // A core of pieces of one bias between two guard pieces: the
              // first merge joins the core into one piece, no later merge
              // takes or gives the bias of a guard piece, and at the end both
              // take the core's bias and the three pieces join into one. The
              // edge stays whole with that bias from the start.
              int32_t bias = plainBias;
              bool uniform = true;
              if (cut) {
                const SListNode* n = pieces.first;
                uniform = n != nullptr;
                if (uniform) bias = biasOf(*n->Item<AttrSegment>());
                for (; n != pieces.last && uniform;) {
                  n = n->next;
                  uniform = biasOf(*n->Item<AttrSegment>()) == bias;
                }
              }
              if (uniform) {
                SetPointBias(p, bias);
                continue;
              }
            }
            // The guard pieces p -> A and B -> nx (none where the core reaches
            // the vertex).
            PSPoint* a = p;
            PSPoint* b = nx;
            if (guardA) {
              a = push(core.x1, core.y1);
              LinkPoints(p, a);
            }
            if (guardB) {
              b = push(core.x2, core.y2);
              LinkPoints(b, nx);
            }
            LinkPoints(a, b);
            if (cut) {
              CutEdge(a, b, pieces, push, biasOf);
            } else {
              SetPointBias(a, plainBias);
            }
          }
        }
        ClearPointList(input);
        BiasPiecesToRings(copy, tech.biasMergeMode, guard, minLength, tolerance, result.list);
        if (!result.list.IsEmpty() && hierarchical != 0) GatherAreaLayers(maxBias, result.list);
        SpliceList(out, result.list);
        if (report) ReportPointSystemMemory(false);
      });
}

int API::ExtractLineEnds(int layer, int datatype) {
  const bool report = tech.reportDegree != 0;
  if (report) PrintMessage("\n%sExtractLineEnds {%d %d}\n", DateText(), layer, datatype);
  return RunOneLayerOperation(
      *this, layer, datatype,
      [&] { if (!endcapTable) ExitWithMessage("ERROR: End-cap rules not prepared\n"); },
      [&](PSList& input, PSList& out) {
        MergeLibraryLayer(input, layer);
        ScratchList result;
        KDBox q = NewQuery();
        {
          // Only nearest distances are asked: the edges in list order.
          const EdgeBandIndex tree(input);
          ForEachLineEnd(input, *endcapTable, ToDatabaseUnits(double(tech.endcapMinLength)),
                         tree, [&](PSPoint* n, const LineEndMeasures& m) {
            SetQuery(q, 0, m.w);
            SetQuery(q, 1, m.front);
            SetQuery(q, 2, m.sideN);
            const DBSearchNodeKD* node = nullptr;
            if (!Lookup(*endcapTable, q, &node)) return;
            if (!(node->min[2] <= m.sideP && m.sideP <= node->max[2])) return;
            PSPoint* a = PushPoint(result.list, n->x, n->y);
            PSPoint* b = PushPoint(result.list, n->next->x, n->next->y);
            LinkPoints(a, b);
          });
        }
        ClearPointList(input);
        SpliceList(out, result.list);
        if (report) ReportPointSystemMemory(false);
      });
}

int API::HammerHead(int layer, int datatype) {
  const bool report = tech.reportDegree != 0;
  if (report) {
    PrintMessage("\n%s", DateText());
    PrintMessage("HammerHead {%d %d}\n", layer, datatype);
  }
  return RunOneLayerOperation(
      *this, layer, datatype,
      [&] { if (!endcapTable) ExitWithMessage("ERROR: End-cap rules not prepared\n"); },
      [&](PSList& input, PSList& out) {
        if (report) PrintMessage("%sProcess starts\n", DateText());
        MergeLibraryLayer(input, layer);
        ScratchList result;
        KDBox q = NewQuery();
        const bool adjust = tech.hammerSideAdjust != 0;
        {
          // Only nearest distances are asked: the edges in list order.
          const EdgeBandIndex tree(input);
          ForEachLineEnd(input, *endcapTable, ToDatabaseUnits(double(tech.endcapMinLength)),
                         tree, [&](PSPoint* n, const LineEndMeasures& m) {
            SetQuery(q, 0, m.w);
            SetQuery(q, 1, m.front);
            q.min[2] = INT_MAX - 1;
            q.max[2] = INT_MAX;
            bool triedN = false, triedP = false;
            const int32_t* rule = Lookup(*endcapTable, q);
            if (!rule && m.sideN < kNoPartnerDistance) {
              SetQuery(q, 2, m.sideN);
              rule = Lookup(*endcapTable, q);
              triedN = true;
            }
            if (!rule && m.sideP < kNoPartnerDistance) {
              SetQuery(q, 2, m.sideP);
              rule = Lookup(*endcapTable, q);
              triedP = true;
            }
            if (!rule) return;
            const int64_t h = rule[0], t = rule[1], e = rule[2];
            int64_t dN = h - t, dP = h - t, eN = e, eP = e;
            const int64_t product = e * h;
            // A side with a neighbour takes the side extension of its own rule;
            // with the side adjustment its depth keeps the head's area.
            auto side = [&](int32_t dist, int64_t& depth, int64_t& ext) {
              SetQuery(q, 2, dist);
              const int32_t* r = Lookup(*endcapTable, q);
              if (!r) return false;
              ext = r[2];
              if (ext != e && adjust && ext != 0) depth = product / ext - t;
              return true;
            };
            if (!triedN && m.sideN < kNoPartnerDistance && !side(m.sideN, dN, eN)) return;
            if (!triedP && m.sideP < kNoPartnerDistance && !side(m.sideP, dP, eP)) return;
            const Box edge(n->x, n->y, n->next->x, n->next->y);
            Box span;
            OffsetPoint(edge, CheckedCoord(eN), false, span.x1, span.y1);
            OffsetPoint(edge, CheckedCoord(eP), true, span.x2, span.y2);
            Box outer = span, inner = span;
            ShiftPerpendicular(outer, CheckedCoord(t));
            ShiftPerpendicular(inner, CheckedCoord(-std::min(dN, dP)));
            const Point band[4] = {Point(inner.x2, inner.y2), Point(inner.x1, inner.y1),
                                   Point(outer.x1, outer.y1), Point(outer.x2, outer.y2)};
            PushRing(result.list, band, 4);
            if (dN == dP) return;
            Box deep = inner;
            int64_t k;
            if (dP > dN) {
              OffsetPoint(inner, CheckedCoord(-eP), true, deep.x1, deep.y1);
              k = dP - dN;
            } else {
              PointAlong(inner, CheckedCoord(eN), deep.x2, deep.y2);
              k = dN - dP;
            }
            Box below = deep;
            ShiftPerpendicular(below, CheckedCoord(-k));
            const Point step[4] = {Point(deep.x1, deep.y1), Point(deep.x2, deep.y2),
                                   Point(below.x2, below.y2), Point(below.x1, below.y1)};
            PushRing(result.list, step, 4);
          });
        }
        ClearPointList(input);
        if (!result.list.IsEmpty() && hierarchical != 0) GatherAreaLayers(maxEndcap, result.list);
        SpliceList(out, result.list);
        if (report) ReportPointSystemMemory(false);
      });
}

}  // namespace velmar
