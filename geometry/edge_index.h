// Edge index and edge-band checks: the SPACE, WIDTH and ENC distance checks
// for edges at any angle.
//
// Every edge of the partner layer goes into a 2-D search tree (the edge
// index): the item is the edge's start vertex, the edge runs to its next
// vertex, the item box is the bounding box of the two. Every edge of the
// tested layer then looks for partner pieces inside its distance band (the
// strip between the edge and its copy moved sideways by d: right-hand side
// for d > 0, left for d < 0). A partner piece that runs the way the check
// asks yields a violation region: the quadrilateral between the piece and
// its projection onto the tested edge's line. At convex (SPACE, ENC) or
// concave (WIDTH) vertices a vertex test looks into the band of the edge's
// extension beyond the vertex and reports a box between the vertex and the
// nearest partner point.
//
// The index refers to the vertices of the indexed list: the list must not
// change while the index is in use, and the caller clears the index
// (DBSearchSystem::Clear) before it clears the list.
//
// Squares of distances are formed in 64 bits, so rules of 46341 units and
// more work; a coordinate derived from a distance that leaves the int32
// range throws Error(..., "DRC").
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/box.h"
#include "foundation/search_tree.h"
#include "geometry/point_system.h"
#include "geometry/segment_geometry.h"

namespace velmar {

// Direction rule of a band walk: which partner pieces count.
enum class BandMode : int {
  kWidth = 0,  // pieces running against the tested edge (m2 < m1)
  kSpace = 1,  // the same, with the region ring written from the piece's end
  kEnc = 2,    // pieces running the same way as the tested edge (m1 < m2)
  kAll = 3,    // every piece (3 and above)
};

// Inserts every edge of the list into the tree: for each vertex p on the
// link chain the item p with the bounding box of p and p->next. A vertex
// without a next vertex (the end of an open chain) has no edge and is left
// out.
void IndexEdges(const PSList& list, DBSearchSystem& tree);

// An edge index of a list over a region that clears its tree when it goes
// out of scope. The items point at the list's vertices: declare it after
// the list, so that it goes first.
struct EdgeIndex {
  DBSearchSystem tree;
  EdgeIndex(const PSList& list, const Box& region) : tree(region) { IndexEdges(list, tree); }
  ~EdgeIndex() { DBSearchSystem::Clear(tree); }
  EdgeIndex(const EdgeIndex&) = delete;
  EdgeIndex& operator=(const EdgeIndex&) = delete;
};

// Appends to out, in the tree's traversal order, every indexed edge whose
// box overlaps the query box (open overlap) and returns how many it
// appended. An edge equal to exclude (both ends, in order) is skipped. An
// edge whose box lies inside the query box (bounds included) is appended
// whole; any other is clipped to the query box (MeetsBox) and skipped when
// nothing of it remains beyond touching.
int32_t CollectEdges(const DBSearchSystem& tree, const Box& query,
                     const Box& exclude, std::vector<Box>& out);

// A read-only copy of an edge index laid out for the band walks of long
// edge lists. The region-halving tree splits its main levels in x only, so
// a thin band query there passes every edge whose x range it meets; this
// copy holds the edges in a packed bounding-box hierarchy: the edges along
// a Hilbert curve through their centres, sixteen consecutive edges a leaf,
// 32 consecutive nodes under each node above, a node's child boxes (and a
// leaf's edge boxes) held coordinate by coordinate so that a query tests
// them four at a time. A query finds the edges the tree
// would find, in the copy's order: taken from a tree built by IndexEdges,
// that is the tree's traversal order; taken straight from a list, the
// list's link order. The copy holds the edges' coordinates, so it stays
// valid while the tree and the list are cleared; it does not see later
// changes.
class EdgeBandIndex {
 public:
  // Every edge of the tree, ordered as the tree's traversal. The item box
  // of each edge must be the bounding box of its two ends (IndexEdges).
  explicit EdgeBandIndex(const DBSearchSystem& tree);
  // Every edge p -> p->next of the list, as IndexEdges takes them, in link
  // order: for queries whose answer does not depend on the order of the
  // edges found.
  explicit EdgeBandIndex(const PSList& list);
  // Every edge p -> p->next of the list in the order of the tree that
  // EdgeIndex(list, region) builds: the copy that tree would give, without
  // building it.
  EdgeBandIndex(const PSList& list, const Box& region);
  EdgeBandIndex(const EdgeBandIndex&) = delete;
  EdgeBandIndex& operator=(const EdgeBandIndex&) = delete;

  bool IsEmpty() const { return count_ == 0; }
  int32_t Size() const { return int32_t(count_); }

  // As CollectEdges of the tree over the same edges, in the copy's order.
  int32_t CollectEdges(const Box& query, const Box& exclude,
                       std::vector<Box>& out) const;
  // Two such queries answered through one walk of the hierarchy (over the
  // bounding box of both): out1 and out2 get what CollectEdges gives for
  // query1 and query2.
  void CollectEdges(const Box& query1, const Box& query2, const Box& exclude,
                    std::vector<Box>& out1, std::vector<Box>& out2) const;
  // The same with an excluded edge for each query: out1 and out2 get what
  // CollectEdges gives for (query1, exclude1) and (query2, exclude2).
  void CollectEdges(const Box& query1, const Box& exclude1, const Box& query2,
                    const Box& exclude2, std::vector<Box>& out1,
                    std::vector<Box>& out2) const;

  // The arrays of one copy. They come from a process-wide reserve that
  // keeps their capacity from copy to copy, as the node pools keep their
  // blocks: a check over millions of edges does not fault fresh pages in
  // for every copy.
  struct Storage;

 private:
  struct StorageReturn {
    void operator()(Storage* s) const;
  };
  // Lays out the edges, given in the copy's order in the storage's
  // scratch list.
  void Layout();
  // Fills the storage's hits with the edges whose bounding boxes overlap q
  // (open overlap), in the copy's order, but for an edge equal to exclude
  // (none when exclude is null).
  void Find(const Box& q, const Box* exclude) const;

  std::unique_ptr<Storage, StorageReturn> store_;
  size_t count_ = 0;
};

// The band of a tested edge for the distance d as a counter-clockwise quad:
// d > 0: (E, A, S.A, S.E); d <= 0: (A, E, S.E, S.A), with A -> E the edge
// and S its copy shifted by d.
Quad EdgeBandQuad(const Box& edge, int32_t d);

// One partner piece in the band of a tested edge A -> E.
struct BandPiece {
  Box piece;       // the partner piece, direction kept
  Point foot;      // F: foot of the piece's start on the edge's line
  Point footEnd;   // F': foot of the piece's end
  int64_t m1 = 0;  // |A - F| in the Manhattan metric
  int64_t m2 = 0;  // |A - F'| in the Manhattan metric
};

// The band walk of an edge shared by CheckEdgeBand, NearestPartnerDistance
// and the edge-partner query: collects the indexed edges meeting the band's
// bounding box (the edge itself excluded), clips each to the band quad when
// the edge is neither horizontal nor vertical (a piece whose clip fails is
// dropped) and gives each kept piece with its feet and their distances
// from A, in collection order. Replaces the contents of pieces; returns
// their number. No direction rule is applied.
int32_t CollectBandPieces(const DBSearchSystem& tree, const Box& edge,
                          int32_t d, std::vector<BandPiece>& pieces);
int32_t CollectBandPieces(const EdgeBandIndex& index, const Box& edge,
                          int32_t d, std::vector<BandPiece>& pieces);
// The pieces of two bands of one edge (the distances d1 and d2) through one
// query of the index: pieces1 and pieces2 get what
// CollectBandPieces gives for d1 and for d2.
void CollectBandPieces(const EdgeBandIndex& index, const Box& edge,
                       int32_t d1, int32_t d2, std::vector<BandPiece>& pieces1,
                       std::vector<BandPiece>& pieces2);

// Whether the direction rule of mode keeps the piece. Modes 0 to 2 drop a
// piece whose projection is a single point (m1 = m2).
bool BandModeKeeps(const BandPiece& piece, int mode);

// The edge-band test of one edge A -> E: for every partner piece of its
// band that the direction rule keeps (kind 3: only pieces parallel to the
// edge) one closed four-point ring is added to out (point count + 4, ring
// count + 1): mode 1 piece end -> piece start -> F -> F'; other modes piece
// start -> piece end -> F' -> F. The rings of the pieces that modes 0 to 2
// keep run counter-clockwise.
void CheckEdgeBand(const Box& edge, int32_t d, const DBSearchSystem& tree,
                   PSList& out, int kind, int mode);
void CheckEdgeBand(const Box& edge, int32_t d, const EdgeBandIndex& index,
                   PSList& out, int kind, int mode);

// The vertex test for the extension V -> W beyond the ring vertex V: the
// nearest partner point (foot of V on a piece's line when it lies on the
// piece, else the piece's ends) strictly closer than sqrt(dd) within the
// extension's band gives the bounding box of V and that point, widened by
// unit on each axis where it is narrower than unit, as one
// counter-clockwise ring.
void CheckCornerBand(const Box& ext, int32_t d, int64_t dd,
                     const DBSearchSystem& tree, PSList& out, int32_t unit,
                     int mode);
void CheckCornerBand(const Box& ext, int32_t d, int64_t dd,
                     const EdgeBandIndex& index, PSList& out, int32_t unit,
                     int mode);

// The three list checks over every edge p -> q of the tested list (p a
// vertex with a next vertex q); d is the positive rule distance. Unless
// kind = 1 each edge gets the edge-band test; when kind <= 1 and q has a
// next vertex r, the vertex test at q for the turn p -> q -> r of the check
// (SPACE and ENC: left; WIDTH: right) with the extension from q to the
// point d beyond q along p -> q. ENC tests the vertex only when the edge's
// band test added no ring; its band test also reports every stretch where
// a partner edge lies on the tested edge's line running its way (margin 0,
// which the band only touches) as the box of that stretch, widened by unit
// on each axis where it is narrower than unit. kind 3 keeps only parallel
// partners. The walks query a band copy of the tree (EdgeBandIndex) taken
// on entry.
void CheckSpaceEdges(const PSList& list, const DBSearchSystem& tree,
                     PSList& out, int32_t d, int32_t unit, int kind);
void CheckWidthEdges(const PSList& list, const DBSearchSystem& tree,
                     PSList& out, int32_t d, int32_t unit, int kind);
void CheckEncEdges(const PSList& list, const DBSearchSystem& tree,
                   PSList& out, int32_t d, int32_t unit, int kind);
// The same checks against the edges of partners as EdgeIndex(partners,
// region) would index them: the same results, in the same order, from a
// band copy taken straight from the list (no tree is built).
void CheckSpaceEdges(const PSList& list, const PSList& partners,
                     const Box& region, PSList& out, int32_t d, int32_t unit,
                     int kind);
void CheckWidthEdges(const PSList& list, const PSList& partners,
                     const Box& region, PSList& out, int32_t d, int32_t unit,
                     int kind);
void CheckEncEdges(const PSList& list, const PSList& partners,
                   const Box& region, PSList& out, int32_t d, int32_t unit,
                   int kind);

// No partner in the band.
inline constexpr int32_t kNoPartnerDistance = 2147483646;

// The distance (truncated square root of the smallest squared distance
// between a facing piece's ends and their feet) of the nearest partner
// piece facing the edge (m2 < m1) in its band of width d, or
// kNoPartnerDistance when there is none.
int32_t NearestPartnerDistance(const DBSearchSystem& tree, const Box& edge,
                               int32_t d);
int32_t NearestPartnerDistance(const EdgeBandIndex& index, const Box& edge,
                               int32_t d);

}  // namespace velmar
