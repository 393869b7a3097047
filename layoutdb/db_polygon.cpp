// Encoded polygons: building from a ring, decoding, order, copying and the
// polygon record of the cell data files.

#include "layoutdb/db_polygon.h"

#include <cstdlib>
#include <cstring>

#include "foundation/binary_stream.h"
#include "foundation/error.h"
#include "foundation/pool_allocator.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"

namespace velmar {

namespace {

constexpr const char* kUnit = "DB";

[[noreturn]] void ThrowNonCompressed() {
  throw Error("Non compressed manhattan polygon", kUnit);
}
[[noreturn]] void ThrowRange() {
  throw Error("Polygon exceeds coordinate range", kUnit);
}
[[noreturn]] void ThrowCorrupt() {
  throw Error("Inconsistent polygon data", kUnit);
}

// A relative coordinate or edge value; refused when it does not fit 32 bits.
inline int32_t Fit(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) ThrowRange();
  return int32_t(v);
}

// Code of an edge from its direction: horizontal first (a zero-length edge
// is horizontal), then vertical, then the two diagonals, else 4.
inline unsigned DirectionCode(int64_t dx, int64_t dy) {
  if (dy == 0) return 0;
  if (dx == 0) return 1;
  if (dx == dy) return 2;
  if (dx == -dy) return 3;
  return 4;
}

// Code of edge a read from the header and the code words (null: none).
inline unsigned CodeOf(uint32_t header, const uint32_t* words, int a, int c) {
  const int inHeader = DBPolygon::kHeaderCodeBits / c;
  if (a < inHeader) {
    return (header >> (DBPolygon::kHeaderCodeShift + a * c)) & ((1u << c) - 1);
  }
  if (words == nullptr) return 0;
  const int64_t j = int64_t(c) * (a - inHeader);
  unsigned code = 0;
  for (int b = 0; b < c; ++b) {
    const int64_t bit = j + b;
    code |= ((words[bit >> 5] >> (bit & 31)) & 1u) << b;
  }
  return code;
}

// Stores the code of edge a (the bits were zero).
inline void PutCode(uint32_t& header, uint32_t* words, int a, int c,
                    unsigned code) {
  const int inHeader = DBPolygon::kHeaderCodeBits / c;
  if (a < inHeader) {
    header |= code << (DBPolygon::kHeaderCodeShift + a * c);
    return;
  }
  const int64_t j = int64_t(c) * (a - inHeader);
  for (int b = 0; b < c; ++b) {
    if ((code >> b) & 1u) {
      const int64_t bit = j + b;
      words[bit >> 5] |= 1u << (bit & 31);
    }
  }
}

// Vertex n - 1 of an octangular shape: on the line from vertex n - 2 at
// (x, y) in direction p and on the line through the origin in direction q.
// When both lines have the same direction the result is the origin.
inline void LastOctangularVertex(unsigned p, unsigned q, int64_t x, int64_t y,
                                 int64_t& rx, int64_t& ry) {
  if (p == 0) {
    if (q == 1) { rx = 0; ry = y; }
    else if (q == 2) { rx = y; ry = y; }
    else { rx = -y; ry = y; }  // q 0 or 3
    return;
  }
  if (p == 1) {
    if (q == 0) { rx = x; ry = 0; }
    else if (q == 2) { rx = x; ry = x; }
    else { rx = x; ry = -x; }  // q 1 or 3
    return;
  }
  // p is a diagonal (2 or 3).
  if (q == 0) {
    rx = p == 2 ? x - y : x + y;
    ry = 0;
    return;
  }
  if (q == 1) {
    rx = 0;
    ry = p == 2 ? y - x : y + x;
    return;
  }
  // Both diagonal: the foot of the perpendicular from the origin onto the
  // line through (x, y) with direction (1, dy), dy = 1 for p = 2, -1 for
  // p = 3: t = -(x + dy * y) / 2, rounded half away from zero.
  const int64_t dy = p == 2 ? 1 : -1;
  const int64_t num = -(x + dy * y);
  // num / 2 rounded half away from zero (division truncates toward zero).
  const int64_t r = (num >= 0 ? num + 1 : num - 1) / 2;
  rx = x + r;
  ry = y + dy * r;
}

// The decoding walk of one polygon, in 64-bit coordinates.
class Decoder {
 public:
  explicit Decoder(const DBPolygon& p)
      : header_(p.header),
        n_(int64_t(DBPolygon::VertexCount(p.header))),
        kind_(DBPolygon::Kind(p.header)),
        c_(DBPolygon::CodeBitsPerEdge(p.header)),
        words_(p.CodeWords()),
        values_(p.values.data()),
        valueCount_(int64_t(p.values.size())) {
    if (c_ > 0 && DBPolygon::CodeWordCount(header_) > 0 && words_ == nullptr)
      ThrowCorrupt();
  }

  int64_t VertexCount() const { return n_; }

  // From vertex i - 1 at (x, y) to vertex i.
  void Step(int64_t i, int& cursor, int64_t& x, int64_t& y) const {
    if (header_ == DBPolygon::kSquareHeader) {
      if (i == 1) { x += Value(0); cursor = 1; }
      else if (i == 2) { y += Value(0); cursor -= 1; }
      else x = 0;
      return;
    }
    if (kind_ == PolygonKind::Manhattan) {  // rectangle and manhattan
      if (i >= n_ - 1) { x = 0; return; }
      if (i & 1) x += Value(cursor);
      else y += Value(cursor);
      ++cursor;
      return;
    }
    if (kind_ == PolygonKind::Octangular && i == n_ - 1) {
      const unsigned p = CodeOf(header_, words_, int(n_ - 2), c_);
      const unsigned q = CodeOf(header_, words_, int(n_ - 1), c_);
      int64_t rx, ry;
      LastOctangularVertex(p, q, x, y, rx, ry);
      x = rx;
      y = ry;
      return;
    }
    const unsigned code = CodeOf(header_, words_, int(i - 1), c_);
    if (code == 4) {
      x += Value(cursor);
      y += Value(cursor + 1);
      cursor += 2;
      return;
    }
    const int64_t v = Value(cursor);
    ++cursor;
    switch (code) {
      case 0: x += v; break;
      case 1: y += v; break;
      case 2: x += v; y += v; break;
      case 3: x -= v; y += v; break;
      default: ThrowCorrupt();  // codes 5..7 exist in no encoding
    }
  }

 private:
  int64_t Value(int k) const {
    if (k < 0 || k >= valueCount_) ThrowCorrupt();
    return values_[k];
  }

  uint32_t header_;
  int64_t n_;
  PolygonKind kind_;
  int c_;
  const uint32_t* words_;
  const int32_t* values_;
  int64_t valueCount_;
};

// Coordinates of v relative to origin, each fitting 32 bits.
inline void Relative(const PSPoint* origin, const PSPoint* v, int64_t& x,
                     int64_t& y) {
  x = Fit(int64_t(v->x) - origin->x);
  y = Fit(int64_t(v->y) - origin->y);
}

// --- Builders -----------------------------------------------------------------

// Four-vertex manhattan ring: a square or rectangle when the ring is one
// (either direction round), else null.
std::unique_ptr<DBPolygon> BuildRectangle(const PSPoint* o) {
  const PSPoint* v1 = o->next;
  const PSPoint* v2 = v1->next;
  const PSPoint* v3 = v2->next;
  const bool ccw = v1->y == o->y && v1->x == v2->x && v3->x == o->x &&
                   v3->y == v2->y;
  const bool cw = v1->x == o->x && v1->y == v2->y && v3->y == o->y &&
                  v3->x == v2->x;
  if (!ccw && !cw) return nullptr;
  const int32_t dx = Fit(int64_t(v2->x) - o->x);
  const int32_t dy = Fit(int64_t(v2->y) - o->y);
  if (dx == dy) {
    return std::make_unique<DBPolygon>(DBPolygon::kSquareHeader,
                                       std::vector<int32_t>{dx});
  }
  return std::make_unique<DBPolygon>(DBPolygon::kRectangleHeader,
                                     std::vector<int32_t>{dx, dy});
}

// Manhattan ring of n != 4 vertices. Returns the vertex to encode from, or
// null when the manhattan form cannot hold the ring exactly (a collinear
// vertex). Throws where the ring cannot alternate from a horizontal edge.
PSPoint* ManhattanStart(PSPoint* origin, int64_t n) {
  PSPoint* start = origin;
  if (start->next->y != start->y) {  // first edge vertical: one vertex on
    start = start->next;
    if (start->next->y != start->y) ThrowNonCompressed();
  }
  if (n & 1) ThrowNonCompressed();
  bool exact = true;
  const PSPoint* v = start;
  for (int64_t k = 0; k < n; k += 2) {
    // Edge k must be horizontal, edge k + 1 vertical (zero-length edges
    // fit both). A vertical edge at the even positions 0 .. n - 4 is
    // refused; any other misfit falls back to the general form.
    if (v->next->y != v->y) {
      if (k < n - 2) ThrowNonCompressed();
      exact = false;
    }
    const PSPoint* w = v->next;
    if (w->next->x != w->x) exact = false;
    v = w->next;
  }
  return exact ? start : nullptr;
}

std::unique_ptr<DBPolygon> BuildManhattan(const PSPoint* start, int64_t n) {
  auto polygon = std::make_unique<DBPolygon>(uint32_t(n));
  polygon->values.resize(size_t(n - 2));
  int32_t* out = polygon->values.data();
  int64_t px = 0, py = 0;  // vertex k relative to start
  const PSPoint* v = start;
  for (int64_t k = 0; k < n - 2; k += 2) {
    const PSPoint* w = v->next->next;
    int64_t x, y;
    Relative(start, w, x, y);
    out[k] = Fit(x - px);
    out[k + 1] = Fit(y - py);
    px = x;
    py = y;
    v = w;
  }
  return polygon;
}

// Octangular ring: true when the octangular form recovers vertex n - 1
// (it does not when the last two edges run in the same direction).
bool OctangularExact(const PSPoint* origin, const PSPoint* beforeLast,
                     const PSPoint* last) {
  int64_t x, y, lx, ly;
  Relative(origin, beforeLast, x, y);
  Relative(origin, last, lx, ly);
  const unsigned p = DirectionCode(lx - x, ly - y);
  const unsigned q = DirectionCode(-lx, -ly);
  int64_t rx, ry;
  LastOctangularVertex(p, q, x, y, rx, ry);
  return rx == lx && ry == ly;
}

std::unique_ptr<DBPolygon> BuildOctangular(const PSPoint* origin, int64_t n) {
  const uint32_t header = uint32_t(n) | DBPolygon::kOctangularBits;
  std::unique_ptr<DBPolygon> polygon = DBPolygon::New(header);
  uint32_t* words = const_cast<uint32_t*>(polygon->CodeWords());
  polygon->values.resize(size_t(n - 2));
  int32_t* out = polygon->values.data();
  uint32_t h = header;
  int64_t x = 0, y = 0;
  const PSPoint* v = origin;
  for (int64_t i = 0; i < n; ++i) {
    int64_t nx, ny;
    Relative(origin, v->next, nx, ny);
    const int64_t dx = nx - x, dy = ny - y;
    const unsigned code = DirectionCode(dx, dy);
    PutCode(h, words, int(i), 2, code);
    if (i < n - 2) out[i] = Fit(code == 0 ? dx : dy);
    x = nx;
    y = ny;
    v = v->next;
  }
  polygon->header = h;
  return polygon;
}

std::unique_ptr<DBPolygon> BuildGeneral(const PSPoint* origin, int64_t n) {
  const uint32_t header = uint32_t(n) | DBPolygon::kGeneralBits;
  // Count the values: one per edge 0 .. n - 2, two for a code-4 edge.
  int64_t count = n - 1;
  {
    const PSPoint* v = origin;
    for (int64_t i = 0; i < n - 1; ++i) {
      const PSPoint* w = v->next;
      if (DirectionCode(int64_t(w->x) - v->x, int64_t(w->y) - v->y) == 4)
        ++count;
      v = w;
    }
  }
  std::unique_ptr<DBPolygon> polygon = DBPolygon::New(header);
  uint32_t* words = const_cast<uint32_t*>(polygon->CodeWords());
  polygon->values.resize(size_t(count));
  int32_t* out = polygon->values.data();
  uint32_t h = header;
  int64_t x = 0, y = 0;
  size_t k = 0;
  const PSPoint* v = origin;
  for (int64_t i = 0; i < n - 1; ++i) {
    int64_t nx, ny;
    Relative(origin, v->next, nx, ny);
    const int64_t dx = nx - x, dy = ny - y;
    const unsigned code = DirectionCode(dx, dy);
    PutCode(h, words, int(i), 3, code);
    switch (code) {
      case 0: out[k++] = Fit(dx); break;
      case 4: out[k++] = Fit(dx); out[k++] = Fit(dy); break;
      default: out[k++] = Fit(dy); break;
    }
    x = nx;
    y = ny;
    v = v->next;
  }
  polygon->header = h;
  return polygon;
}

}  // namespace

// --- Header ---------------------------------------------------------------------

int DBPolygon::CodeBitsPerEdge(uint32_t header) {
  switch (Kind(header)) {
    case PolygonKind::Manhattan: return 0;
    case PolygonKind::Octangular: return 2;
    default: return 3;
  }
}

int32_t DBPolygon::CodeWordCount(uint32_t header) {
  const int64_t n = header & kCountMask;
  int64_t bits = 0;
  switch (Kind(header)) {
    case PolygonKind::Manhattan: return 0;
    case PolygonKind::Octangular: bits = 2 * n - 12; break;
    default: bits = 3 * n - 15; break;
  }
  return bits <= 0 ? 0 : int32_t((bits + 31) / 32);
}

int DBPolygon::GetCodeBit(int a, int b, int c) const {
  const int pos = kHeaderCodeShift + a * c + b;
  if (a < 0 || b < 0 || pos >= kHeaderCodeShift + kHeaderCodeBits) return 0;
  return int((header >> pos) & 1u);
}

void DBPolygon::SetCodeBit(int a, int b, int c, uint8_t value) {
  const int pos = kHeaderCodeShift + a * c + b;
  if (a < 0 || b < 0 || pos >= kHeaderCodeShift + kHeaderCodeBits)
    throw Error("Code bit outside the polygon header", kUnit);
  header |= uint32_t(value & 1u) << pos;
}

int DBPolygon::EdgeCode(int a) const {
  const int c = CodeBitsPerEdge(header);
  if (c == 0 || a < 0 || uint32_t(a) >= VertexCount()) return 0;
  return int(CodeOf(header, CodeWords(), a, c));
}

int32_t DBPolygon::CountValues() const {
  if (header == kSquareHeader) return 1;
  if (header == kRectangleHeader) return 2;
  const int64_t n = header & kCountMask;
  switch (Kind(header)) {
    case PolygonKind::Manhattan:
    case PolygonKind::Octangular:
      return int32_t(n >= 2 ? n - 2 : 0);
    default: break;
  }
  if (n < 1) return 0;
  int64_t count = n - 1;
  const uint32_t* words = CodeWords();
  for (int64_t a = 0; a < n - 1; ++a) {
    if (CodeOf(header, words, int(a), 3) & 4u) ++count;
  }
  return int32_t(count);
}

// --- Building -------------------------------------------------------------------

std::unique_ptr<DBPolygon> DBPolygon::New(uint32_t header) {
  if (CodeWordCount(header) > 0) return std::make_unique<DBPolygonExt>(header);
  return std::make_unique<DBPolygon>(header);
}

std::unique_ptr<DBPolygon> DBPolygon::Copy(const DBPolygon& polygon) {
  if (const auto* ext = dynamic_cast<const DBPolygonExt*>(&polygon)) {
    return std::make_unique<DBPolygonExt>(*ext);
  }
  return std::make_unique<DBPolygon>(polygon.header, polygon.values);
}

std::unique_ptr<DBPolygon> DBPolygon::Build(PSPoint*& origin) {
  int64_t n = 0;
  const PSPoint* last = nullptr;
  const PSPoint* beforeLast = nullptr;
  PSPoint* v = origin;
  do {
    beforeLast = last;
    last = v;
    ++n;
    v = v->next;
    if (v == nullptr) throw Error("Polygon ring is not closed", kUnit);
  } while (v != origin);
  if (n > int64_t(kMaxVertices)) {
    throw Error("Number of points exceeded limit", kUnit);
  }
  do {
    v->flags |= PSPointFlags::Visited;
    v = v->next;
  } while (v != origin);

  if (IsRingManhattan(origin)) {
    if (n == 4) {
      if (auto rectangle = BuildRectangle(origin)) return rectangle;
      return BuildGeneral(origin, n);
    }
    if (PSPoint* start = ManhattanStart(origin, n)) {
      auto polygon = BuildManhattan(start, n);
      origin = start;
      return polygon;
    }
    return BuildGeneral(origin, n);
  }
  if (IsRingOctilinear(origin) && OctangularExact(origin, beforeLast, last)) {
    return BuildOctangular(origin, n);
  }
  return BuildGeneral(origin, n);
}

// --- Decoding -------------------------------------------------------------------

void DBPolygon::NextVertex(int i, int& cursor, int32_t& x, int32_t& y) const {
  Decoder decoder(*this);
  int64_t wx = x, wy = y;
  decoder.Step(i, cursor, wx, wy);
  x = Fit(wx);
  y = Fit(wy);
}

PSPoint* DBPolygon::ToRing(PSList& list) const {
  Decoder decoder(*this);
  const int64_t n = decoder.VertexCount();
  if (n < 1) ThrowCorrupt();
  PSPoint* first = PushPoint(list, 0, 0);
  PSPoint* previous = first;
  int cursor = 0;
  int64_t x = 0, y = 0;
  for (int64_t i = 1; i < n; ++i) {
    decoder.Step(i, cursor, x, y);
    PSPoint* p = PushPoint(list, Fit(x), Fit(y));
    LinkPoints(previous, p);
    previous = p;
  }
  LinkPoints(previous, first);
  ++list.ringCount;
  return first;
}

Box DBPolygon::DecodedBox(const DBPolygon& polygon) {
  Decoder decoder(polygon);
  const int64_t n = decoder.VertexCount();
  Box box;
  box.Extend(0, 0);
  int cursor = 0;
  int64_t x = 0, y = 0;
  for (int64_t i = 1; i < n; ++i) {
    decoder.Step(i, cursor, x, y);
    box.Extend(Fit(x), Fit(y));
  }
  return box;
}

Box DBPolygon::RelativeBox() const {
  if (header == kSquareHeader || header == kRectangleHeader) {
    if (values.size() < (header == kSquareHeader ? 1u : 2u)) ThrowCorrupt();
    const int32_t w = values[0];
    const int32_t h = header == kSquareHeader ? values[0] : values[1];
    Box box(0, 0, 0, 0);
    box.Extend(w, h);
    return box;
  }
  if (Kind() != PolygonKind::Manhattan) return DecodedBox(*this);
  // The running sums of the value pairs visit vertices 2, 4, ..., n - 2;
  // every other vertex shares its x with one of them and its y with another.
  if (int64_t(values.size()) < CountValues()) ThrowCorrupt();
  Box box(0, 0, 0, 0);
  int64_t x = 0, y = 0;
  for (size_t k = 0; k + 1 < values.size(); k += 2) {
    x += values[k];
    y += values[k + 1];
    box.Extend(Fit(x), Fit(y));
  }
  return box;
}

// --- Record -----------------------------------------------------------------------

void DBPolygon::Write(const DBPolygon& polygon, BinaryStream& out) {
  const int32_t words = CodeWordCount(polygon.header);
  const uint32_t* codes = polygon.CodeWords();
  if ((words > 0 && codes == nullptr) ||
      int64_t(polygon.values.size()) != polygon.CountValues()) {
    ThrowCorrupt();
  }
  out.PutInt32(int32_t(polygon.header));
  for (int32_t i = 0; i < words; ++i) out.PutInt32(int32_t(codes[i]));
  for (int32_t v : polygon.values) out.PutSignedChained(v);
}

// --- Extended polygons -----------------------------------------------------------

DBPolygonExt::DBPolygonExt(uint32_t h) : DBPolygon(h) {
  const int32_t words = CodeWordCount(h);
  if (words > 0) {
    codeBits = static_cast<uint32_t*>(std::calloc(size_t(words), 4));
    if (codeBits == nullptr) OutOfMemory();
  }
}

DBPolygonExt::DBPolygonExt(const DBPolygonExt& other) : DBPolygon(other) {
  const int32_t words = CodeWordCount(header);
  if (words > 0) {
    codeBits = static_cast<uint32_t*>(std::calloc(size_t(words), 4));
    if (codeBits == nullptr) OutOfMemory();
    if (other.codeBits != nullptr) {
      std::memcpy(codeBits, other.codeBits, size_t(words) * 4);
    }
  }
}

DBPolygonExt::~DBPolygonExt() { std::free(codeBits); }

int DBPolygonExt::GetCodeBit(int a, int b, int c) const {
  if (c <= 0) return 0;
  const int inHeader = kHeaderCodeBits / c;
  if (a < inHeader) return DBPolygon::GetCodeBit(a, b, c);
  const int64_t j = int64_t(c) * (a - inHeader) + b;
  if (codeBits == nullptr || b < 0 || (j >> 5) >= CodeWordCount(header))
    return 0;
  return int((codeBits[j >> 5] >> (j & 31)) & 1u);
}

void DBPolygonExt::SetCodeBit(int a, int b, int c, uint8_t value) {
  if (c <= 0) throw Error("Code bit outside the polygon's code words", "DB");
  const int inHeader = kHeaderCodeBits / c;
  if (a < inHeader) {
    DBPolygon::SetCodeBit(a, b, c, value);
    return;
  }
  const int64_t j = int64_t(c) * (a - inHeader) + b;
  if (codeBits == nullptr || b < 0 || (j >> 5) >= CodeWordCount(header))
    throw Error("Code bit outside the polygon's code words", "DB");
  codeBits[j >> 5] |= uint32_t(value & 1u) << (j & 31);
}

Box DBPolygonExt::RelativeBox() const { return DecodedBox(*this); }

int DBPolygonExt::Compare(const DBPolygon* a, const DBPolygon* b) {
  if (a->header != b->header) return a->header < b->header ? -1 : 1;
  if (a->values.size() != b->values.size())
    return a->values.size() < b->values.size() ? -1 : 1;
  const int32_t words = CodeWordCount(a->header);
  const uint32_t* wa = words > 0 ? a->CodeWords() : nullptr;
  const uint32_t* wb = words > 0 ? b->CodeWords() : nullptr;
  if (wa != nullptr && wb != nullptr) {
    for (int32_t i = 0; i < words; ++i) {
      const int32_t x = int32_t(wa[i]), y = int32_t(wb[i]);
      if (x != y) return x < y ? -1 : 1;
    }
  }
  const size_t n = a->values.size();
  const int32_t* va = a->values.data();
  const int32_t* vb = b->values.data();
  for (size_t i = 0; i < n; ++i) {
    if (va[i] != vb[i]) return va[i] < vb[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace velmar
