// Encoded polygons: the compact, position-free form in which the layout
// database keeps every polygon of a cell, in memory and in the cell data
// files.
//
// A DBPolygon stores a ring relative to one of its vertices, the origin
// vertex (vertex 0, at (0, 0)): a header word, per-edge direction codes and a
// vector of edge values. Where the shape stands is kept apart, as placements
// in a shape list (layoutdb/shape_list.h), so that one shape is shared by all
// its placements in a layer.
//
// Header: bits 0-17 the vertex count n (at most 262,143), bits 18-29 the
// first 12 code bits, bits 30-31 the kind. The whole header 3 is a square
// (n = 4), the whole header 4 a rectangle.
//
//   kind         header          values
//   square       3               side s: (0,0) (s,0) (s,s) (0,s)
//   rectangle    4               w, h:   (0,0) (w,0) (w,h) (0,h)
//   manhattan    n (even)        n - 2: x-length of edge 2k, y-length of
//                                edge 2k+1; edges n-2, n-1 carry none
//   octangular   n | 1 << 30     n - 2: one value per edge 0..n-3; every
//                                edge has a 2-bit code
//   general      n | 2 << 30     n - 1 + one per code-4 edge; edges 0..n-2
//                                have a 3-bit code (the closing edge none)
//
// Edge codes (dx, dy = end - start): 0 horizontal (value dx), 1 vertical
// (dy), 2 diagonal dx = dy (dy), 3 diagonal dx = -dy (dy), 4 (general only)
// any other direction (dx, then dy). A header with kind bits 3 is read,
// written and decoded like a general one.
//
// Code bit b of edge a (c = 2 or 3 bits per edge) is header bit
// 18 + a * c + b while a < 12 / c; otherwise bit j = c * (a - 12 / c) + b of
// DBPolygonExt::codeBits (bit j & 31 of word j >> 5). A polygon carries such
// code words, and is then a DBPolygonExt, exactly when it is octangular with
// n > 6 or general with n > 5.
//
// Every encoding decodes to exactly the ring it was built from: where the
// compact manhattan or octangular form could only hold the ring approximately
// (a collinear vertex), Build stores it in the general form, which holds every
// vertex. Squares and rectangles always decode counter-clockwise from their
// lower-left corner, whatever the direction of the ring they came from.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "foundation/box.h"

namespace velmar {

class BinaryStream;
struct PSList;
struct PSPoint;

// Kind bits (header >> 30). Kind 3 is taken as General.
enum class PolygonKind : uint32_t {
  Manhattan = 0,   // squares and rectangles included
  Octangular = 1,  // horizontal, vertical and 45-degree edges
  General = 2,     // any direction
};

class DBPolygon {
 public:
  static constexpr uint32_t kMaxVertices = 0x3ffff;  // 262,143
  static constexpr uint32_t kCountMask = 0x3ffff;
  static constexpr uint32_t kSquareHeader = 3;
  static constexpr uint32_t kRectangleHeader = 4;
  static constexpr uint32_t kOctangularBits = 0x40000000u;
  static constexpr uint32_t kGeneralBits = 0x80000000u;
  static constexpr int kHeaderCodeShift = 18;  // first header code bit
  static constexpr int kHeaderCodeBits = 12;   // code bits in the header

  uint32_t header = 0;
  std::vector<int32_t> values;  // edge values, in edge order

  DBPolygon() = default;
  explicit DBPolygon(uint32_t h) : header(h) {}
  DBPolygon(uint32_t h, std::vector<int32_t> v)
      : header(h), values(std::move(v)) {}
  virtual ~DBPolygon() = default;
  DBPolygon& operator=(const DBPolygon&) = delete;

  // --- Header --------------------------------------------------------------
  // Vertex count: header & 0x3ffff, 4 for a square.
  static uint32_t VertexCount(uint32_t header) {
    return header == kSquareHeader ? 4u : header & kCountMask;
  }
  uint32_t VertexCount() const { return VertexCount(header); }
  static PolygonKind Kind(uint32_t header) {
    const uint32_t k = header >> 30;
    return k >= 2 ? PolygonKind::General : PolygonKind(k);
  }
  PolygonKind Kind() const { return Kind(header); }
  bool IsSquare() const { return header == kSquareHeader; }
  bool IsRectangle() const { return header == kRectangleHeader; }
  // Code bits per edge: 0 manhattan, 2 octangular, 3 general.
  static int CodeBitsPerEdge(uint32_t header);
  // Number of DBPolygonExt::codeBits words a polygon of this header carries:
  // ceil((2n - 12) / 32) octangular, ceil((3n - 15) / 32) general, never
  // below 0; 0 for manhattan.
  static int32_t CodeWordCount(uint32_t header);

  // --- Code bits (virtual: DBPolygonExt also addresses its code words) ----
  // Code bit b of edge a at c bits per edge; a plain polygon always reads
  // the header.
  virtual int GetCodeBit(int a, int b, int c) const;
  // ORs value (0 or 1) into that bit; bits are never cleared. A position
  // outside the header of a plain polygon throws Error (unit "DB").
  virtual void SetCodeBit(int a, int b, int c, uint8_t value);
  // Bounding box of the shape relative to its origin vertex.
  virtual Box RelativeBox() const;
  // The code words (null for a plain polygon) and their number.
  virtual const uint32_t* CodeWords() const { return nullptr; }
  int32_t CodeWordCount() const { return CodeWordCount(header); }
  // The code of edge a (0..4), from the header and the code words.
  int EdgeCode(int a) const;

  // Number of values the header and codes call for: 1 square, 2 rectangle,
  // n - 2 manhattan and octangular, n - 1 plus one per code-4 edge (code
  // bit 2 set among edges 0..n-2) general. Never below 0. A reader of a
  // polygon record needs it after the code words, before the values.
  int32_t CountValues() const;

  // --- Building -------------------------------------------------------------
  // A new polygon for the header with zeroed code words (a DBPolygonExt when
  // the header calls for code words) and no values.
  static std::unique_ptr<DBPolygon> New(uint32_t header);
  // Deep copy (a DBPolygonExt copies its code words).
  static std::unique_ptr<DBPolygon> Copy(const DBPolygon& polygon);

  // Encodes the closed ring through origin. Callers pass the ring's
  // LowestLeftPoint. For a manhattan ring whose first edge is vertical the
  // origin moves one vertex on; the caller places the shape at the final
  // origin's coordinates. Every vertex of the ring gets PSPointFlags::Visited
  // (left set; callers use it to find the next ring). Errors (unit "DB"):
  // "Number of points exceeded limit" (more than 262,143 vertices), "Non
  // compressed manhattan polygon" (a manhattan ring of more than four
  // vertices with an odd count, or whose edges do not alternate from a
  // horizontal one at the even positions), "Polygon exceeds coordinate
  // range" (a vertex or edge length relative to the origin that does not
  // fit 32 bits), "Polygon ring is not closed" (an open chain).
  static std::unique_ptr<DBPolygon> Build(PSPoint*& origin);

  // --- Decoding -------------------------------------------------------------
  // From vertex i - 1 at (x, y) to vertex i, consuming values from cursor.
  // Start at vertex 0 with x = y = 0, cursor = 0 and call it for
  // i = 1 .. n - 1. Inconsistent data (values missing, a coordinate beyond
  // 32 bits) throw Error (unit "DB").
  void NextVertex(int i, int& cursor, int32_t& x, int32_t& y) const;
  // Appends the shape as one closed ring relative to its origin: every new
  // vertex (flags 0) is pushed at the head of the link chain, the ring runs
  // in vertex order; point count + n, ring count + 1. Returns vertex 0.
  PSPoint* ToRing(PSList& list) const;
  // Bounding box of every vertex of the decoding walk (octangular and
  // general shapes).
  static Box DecodedBox(const DBPolygon& polygon);

  // Writes one polygon record: the header as int32, the code words (kinds
  // octangular and general, when there are any) as int32, the values as
  // signed chained integers. A polygon whose value count does not match its
  // header and codes throws Error (unit "DB") before anything is written.
  static void Write(const DBPolygon& polygon, BinaryStream& out);

 protected:
  DBPolygon(const DBPolygon&) = default;
};

class DBPolygonExt : public DBPolygon {
 public:
  // Polygon of the header with CodeWordCount(header) zeroed code words.
  explicit DBPolygonExt(uint32_t h);
  // Deep copy: header, code words, values.
  DBPolygonExt(const DBPolygonExt& other);
  DBPolygonExt& operator=(const DBPolygonExt&) = delete;
  ~DBPolygonExt() override;

  int GetCodeBit(int a, int b, int c) const override;
  void SetCodeBit(int a, int b, int c, uint8_t value) override;
  Box RelativeBox() const override;
  const uint32_t* CodeWords() const override { return codeBits; }

  // Total order of encoded shapes (plain and extended alike): header
  // (unsigned), number of values, code words (signed), values (signed).
  // -1, 0 or 1. Shapes that compare equal decode to the same ring.
  static int Compare(const DBPolygon* a, const DBPolygon* b);

  // The code bits beyond the header (zero-filled when made; owned).
  uint32_t* codeBits = nullptr;
};

}  // namespace velmar
