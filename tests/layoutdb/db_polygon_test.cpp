// Encoded polygons: every ring kind goes through Build, the polygon record
// and back through ToRing; the records themselves are checked byte by byte
// against records written by hand from the format.

#include "layoutdb/db_polygon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "geometry/clip_tile.h"
#include "geometry/point_system.h"
#include "shape_fixtures.h"

namespace velmar {
namespace {

using shape_test::AppendRing;
using shape_test::BoxOf;
using shape_test::Moved;
using shape_test::Ring;
using shape_test::RingFrom;
using shape_test::StartingAt;

// Octangular staircase: k steps of (+10, 0) then (+5, +5), up 10, back to
// x = 0, down to the start. 2k + 3 vertices.
Ring OctangularStaircase(int k) {
  Ring r{{0, 0}};
  int32_t x = 0, y = 0;
  for (int i = 0; i < k; ++i) {
    x += 10;
    r.push_back({x, y});
    x += 5;
    y += 5;
    r.push_back({x, y});
  }
  r.push_back({x, y + 10});
  r.push_back({0, y + 10});
  return r;
}

// General staircase: (0, 0), then for i = 1 .. m: (2i, i - 1), (2i, i); the
// closing edge runs from (2m, m) back to the origin with slope 1/2.
// 2m + 1 vertices.
Ring GeneralStaircase(int m) {
  Ring r{{0, 0}};
  r.reserve(size_t(2 * m + 1));
  for (int i = 1; i <= m; ++i) {
    r.push_back({2 * i, i - 1});
    r.push_back({2 * i, i});
  }
  return r;
}

// A 40-gon on a circle: edges of many directions, some axis-parallel.
Ring Circle40() {
  Ring r;
  for (int i = 0; i < 40; ++i) {
    const double a = 2 * M_PI * i / 40;
    r.push_back({int32_t(std::lround(1000 * std::cos(a))),
                 int32_t(std::lround(1000 * std::sin(a)))});
  }
  return r;
}

struct CodecCase {
  std::string name;
  Ring ring;                  // vertex order as handed to the encoder
  std::string error;          // expected Error message; empty: encodes
  PolygonKind kind = PolygonKind::Manhattan;
  bool extended = false;      // a DBPolygonExt
  uint32_t header = 0;        // exact header when not 0
  std::vector<int32_t> values;  // exact values when not empty
  Point origin;               // the final origin
  Ring decoded;               // decoded ring when it is not the input ring
};

// A case whose ring the encoder refuses with message.
CodecCase Refused(std::string name, Ring ring, std::string message) {
  CodecCase c;
  c.name = std::move(name);
  c.ring = std::move(ring);
  c.error = std::move(message);
  return c;
}

std::vector<CodecCase> CodecCases() {
  const uint32_t kGen = DBPolygon::kGeneralBits;
  std::vector<CodecCase> c;
  c.push_back({"square", {{0, 0}, {10, 0}, {10, 10}, {0, 10}}, "",
               PolygonKind::Manhattan, false, 3, {10}, {0, 0}, {}});
  c.push_back({"rectangle", {{0, 0}, {20, 0}, {20, 10}, {0, 10}}, "",
               PolygonKind::Manhattan, false, 4, {20, 10}, {0, 0}, {}});
  c.push_back({"rectangle listed from another corner",
               {{120, 110}, {100, 110}, {100, 100}, {120, 100}}, "",
               PolygonKind::Manhattan, false, 4, {20, 10}, {100, 100}, {}});
  // Squares and rectangles decode counter-clockwise whatever their input.
  c.push_back({"clockwise rectangle", {{0, 0}, {0, 10}, {20, 10}, {20, 0}},
               "", PolygonKind::Manhattan, false, 4, {20, 10}, {0, 0},
               {{0, 0}, {20, 0}, {20, 10}, {0, 10}}});
  c.push_back({"L-shape",
               {{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}}, "",
               PolygonKind::Manhattan, false, 6, {20, 10, -10, 10}, {0, 0},
               {}});
  // Clockwise: the lowest-left vertex starts with a vertical edge, so the
  // encoding starts one vertex on; the direction is kept.
  c.push_back({"clockwise L-shape",
               {{0, 0}, {0, 20}, {10, 20}, {10, 10}, {20, 10}, {20, 0}}, "",
               PolygonKind::Manhattan, false, 6, {10, -10, 10, -10},
               {0, 20}, {}});
  // Collinear vertices at odd edge positions: the manhattan form would
  // move them; the general form keeps them.
  c.push_back({"manhattan with collinear vertices",
               {{0, 0}, {10, 0}, {20, 0}, {30, 0}, {30, 10}, {0, 10}}, "",
               PolygonKind::General, true, 0, {}, {0, 0}, {}});
  c.push_back(Refused("odd manhattan",
               {{0, 0}, {10, 0}, {20, 0}, {20, 10}, {0, 10}},
               "Non compressed manhattan polygon"));
  c.push_back(Refused("manhattan vertical at an even position",
               {{0, 0}, {20, 0}, {20, 5}, {20, 10}, {0, 10}, {0, 5}},
               "Non compressed manhattan polygon"));
  c.push_back({"octangular triangle", {{0, 0}, {10, 0}, {0, 10}}, "",
               PolygonKind::Octangular, false, 0x40700003u, {10}, {0, 0}, {}});
  c.push_back({"octangular 6 vertices",
               {{0, 10}, {10, 0}, {20, 0}, {30, 10}, {20, 20}, {10, 20}}, "",
               PolygonKind::Octangular, false, 0, {}, {0, 10}, {}});
  c.push_back({"octangular 7 vertices",
               {{0, 0}, {20, 0}, {30, 10}, {30, 20}, {20, 30}, {10, 30},
                {0, 20}},
               "", PolygonKind::Octangular, true, 0x63600007u,
               {20, 10, 10, 10, -10}, {0, 0}, {}});
  c.push_back({"octangular collinear vertex inside",
               {{0, 0}, {10, 0}, {20, 0}, {30, 10}, {0, 10}}, "",
               PolygonKind::Octangular, false, 0, {}, {0, 0}, {}});
  // The last two edges in one direction: the octangular form cannot
  // recover vertex n - 1, the general form holds it.
  c.push_back({"octangular collinear last vertex",
               {{0, 0}, {10, 0}, {20, 10}, {10, 20}, {0, 20}, {0, 10}}, "",
               PolygonKind::General, true, 0, {}, {0, 0}, {}});
  c.push_back({"octangular staircase 43 vertices", OctangularStaircase(20),
               "", PolygonKind::Octangular, true, 0, {}, {0, 0}, {}});
  c.push_back({"general code-4 triangle", {{0, 0}, {3, 1}, {0, 2}}, "",
               PolygonKind::General, false, 0x80900003u, {3, 1, -3, 1},
               {0, 0}, {}});
  c.push_back({"general 5 vertices",
               {{0, 0}, {30, 10}, {40, 40}, {10, 30}, {5, 20}}, "",
               PolygonKind::General, false, 0, {}, {0, 0}, {}});
  c.push_back({"general 6 vertices",
               {{0, 0}, {30, 10}, {40, 40}, {20, 50}, {10, 30}, {5, 20}}, "",
               PolygonKind::General, true, 0, {}, {0, 0}, {}});
  c.push_back({"general 40-gon", Circle40(), "", PolygonKind::General, true,
               0, {}, {-1000, 0}, {}});
  c.push_back({"square at the coordinate limits",
               {{INT32_MAX - 10, INT32_MIN},
                {INT32_MAX, INT32_MIN},
                {INT32_MAX, INT32_MIN + 10},
                {INT32_MAX - 10, INT32_MIN + 10}},
               "", PolygonKind::Manhattan, false, 3, {10},
               {INT32_MAX - 10, INT32_MIN}, {}});
  c.push_back(Refused("rectangle wider than 32 bits",
               {{-2000000000, 0}, {2000000000, 0}, {2000000000, 10},
                {-2000000000, 10}},
               "Polygon exceeds coordinate range"));
  c.push_back(Refused("edge longer than 32 bits",
               {{0, 0}, {1, 2000000000}, {2, -2000000000}, {3, 0}},
               "Polygon exceeds coordinate range"));
  const int kMaxSteps = int(DBPolygon::kMaxVertices - 1) / 2;  // 2m+1 = max
  // Codes 0 1 0 1 of the first four edges in the header.
  c.push_back({"largest vertex count", GeneralStaircase(kMaxSteps), "",
               PolygonKind::General, true,
               DBPolygon::kMaxVertices | kGen | 1u << 21 | 1u << 27, {},
               {0, 0}, {}});
  Ring tooMany = GeneralStaircase(kMaxSteps);
  tooMany.push_back({-1, 0});
  c.push_back(
      Refused("one vertex more", tooMany, "Number of points exceeded limit"));
  return c;
}

TEST(DBPolygonCodec, BuildWriteReadToRingGiveTheRingBack) {
  for (const CodecCase& tc : CodecCases()) {
    SCOPED_TRACE(tc.name);
    PSList list;
    PSPoint* first = AppendRing(list, tc.ring);
    PSPoint* origin = LowestLeftPoint(first);

    if (!tc.error.empty()) {
      try {
        DBPolygon::Build(origin);
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_EQ(tc.error, e.Message());
        ASSERT_NE(nullptr, e.Unit());
        EXPECT_STREQ("DB", e.Unit());
      }
      ClearPointList(list);
      continue;
    }

    std::unique_ptr<DBPolygon> built = DBPolygon::Build(origin);
    ASSERT_NE(nullptr, built);
    for (const PSPoint* p = list.head; p; p = p->link) {
      EXPECT_TRUE(p->flags & PSPointFlags::Visited);
    }
    EXPECT_EQ(tc.origin, Point(origin->x, origin->y));
    EXPECT_EQ(tc.kind, built->Kind());
    EXPECT_EQ(tc.extended, dynamic_cast<DBPolygonExt*>(built.get()) != nullptr);
    EXPECT_EQ(tc.ring.size(), built->VertexCount());
    if (tc.header != 0) {
      EXPECT_EQ(tc.header, built->header);
    }
    if (!tc.values.empty()) {
      EXPECT_EQ(tc.values, built->values);
    }

    // Write the record and read it back as the cell data reader does.
    const std::string path = shape_test::TempPath("codec.bin");
    {
      BinaryStream out;
      out.path = path;
      out.write = true;
      ASSERT_TRUE(out.Open());
      DBPolygon::Write(*built, out);
      out.Close();
    }
    BinaryStream in;
    shape_test::OpenForReading(in, path);
    std::unique_ptr<DBPolygon> read = shape_test::ReadPolygonRecord(in);
    ASSERT_NE(nullptr, read);
    EXPECT_TRUE(in.AtEnd());
    in.Close();
    EXPECT_EQ(0, DBPolygonExt::Compare(built.get(), read.get()));
    EXPECT_EQ(tc.extended, dynamic_cast<DBPolygonExt*>(read.get()) != nullptr);

    // Decoded and placed at the origin: the input ring from the origin on.
    const Ring expected = StartingAt(
        tc.decoded.empty() ? tc.ring : tc.decoded, tc.origin);
    PSList decoded;
    PSPoint* v0 = read->ToRing(decoded);
    EXPECT_EQ(int32_t(tc.ring.size()), decoded.pointCount);
    EXPECT_EQ(1, decoded.ringCount);
    EXPECT_EQ(Point(0, 0), Point(v0->x, v0->y));
    EXPECT_EQ(expected, Moved(RingFrom(v0), origin->x, origin->y));

    // NextVertex walks the same vertices.
    if (tc.ring.size() < 100) {
      int cursor = 0;
      int32_t x = 0, y = 0;
      const PSPoint* v = v0->next;
      for (uint32_t i = 1; i < read->VertexCount(); ++i, v = v->next) {
        read->NextVertex(int(i), cursor, x, y);
        EXPECT_EQ(Point(v->x, v->y), Point(x, y)) << "vertex " << i;
      }
    }

    // The relative box placed at the origin is the ring's box.
    Box box = read->RelativeBox();
    const Box ringBox = BoxOf(tc.ring);
    EXPECT_EQ(ringBox, Box(int32_t(int64_t(box.x1) + origin->x),
                           int32_t(int64_t(box.y1) + origin->y),
                           int32_t(int64_t(box.x2) + origin->x),
                           int32_t(int64_t(box.y2) + origin->y)));
    ClearPointList(decoded);
    ClearPointList(list);
  }
}

// Random closed rings of each class, zero-length edges, collinear and
// repeated vertices included: the encoder either refuses a ring (manhattan
// rings it cannot alternate) or its record decodes to exactly that ring.
TEST(DBPolygonCodec, RandomRingsDecodeExactlyOrAreRefused) {
  std::mt19937 rng(20240611);
  const Point kOctDirs[8] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1},
                             {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  auto len = [&](int max) { return int32_t(rng() % uint32_t(max + 1)); };
  int encoded = 0, refused = 0, kinds[3] = {0, 0, 0};
  for (int iter = 0; iter < 3000; ++iter) {
    const int cls = iter % 3;  // 0 manhattan, 1 octilinear, 2 any angle
    Ring ring{{0, 0}};
    int32_t x = 0, y = 0;
    const int steps = 1 + int(rng() % 12);
    for (int s = 0; s < steps; ++s) {
      if (cls == 0) {
        // Mostly alternating, sometimes not.
        const bool horizontal = (s % 2 == 0) != (rng() % 10 == 0);
        const int32_t d = len(6) - 3;
        horizontal ? x += d : y += d;
      } else if (cls == 1) {
        const Point dir = kOctDirs[rng() % 8];
        const int32_t d = len(5);
        x += dir.x * d;
        y += dir.y * d;
      } else {
        x += len(40) - 20;
        y += len(40) - 20;
      }
      ring.push_back({x, y});
    }
    // Close with axis-parallel (manhattan) or octilinear steps.
    if (cls == 0) {
      ring.push_back({0, y});
    } else if (cls == 1) {
      // Two closing steps: a diagonal to x = 0 or y = 0, then the rest.
      if (rng() % 2) {
        const int32_t t = -x;
        x += t;
        y += (rng() % 2) ? t : -t;
      } else {
        const int32_t t = -y;
        y += t;
        x += (rng() % 2) ? t : -t;
      }
      ring.push_back({x, y});
    }
    if (ring.size() < 3) continue;

    PSList list;
    PSPoint* origin = LowestLeftPoint(AppendRing(list, ring));
    std::unique_ptr<DBPolygon> built;
    try {
      built = DBPolygon::Build(origin);
    } catch (const Error& e) {
      EXPECT_STREQ("DB", e.Unit());
      EXPECT_STREQ("Non compressed manhattan polygon", e.Message());
      bool manhattan = true;
      for (size_t i = 0; i < ring.size(); ++i) {
        const Point& a = ring[i];
        const Point& b = ring[(i + 1) % ring.size()];
        if (a.x != b.x && a.y != b.y) manhattan = false;
      }
      EXPECT_TRUE(manhattan) << "only manhattan rings may be refused";
      ++refused;
      ClearPointList(list);
      continue;
    }
    ++encoded;
    ++kinds[int(built->Kind())];
    // The compact forms are used wherever they hold the ring: manhattan
    // when the edges alternate from a horizontal one (rectangles: any
    // four-vertex box), octangular unless the two edges at the origin's
    // back lie on one line through a vertex other than the origin.
    {
      const Ring r = RingFrom(origin);
      const size_t n = r.size();
      auto edge = [&](size_t i) {
        const Point& a = r[i % n];
        const Point& b = r[(i + 1) % n];
        return Point(b.x - a.x, b.y - a.y);
      };
      auto code = [](Point d) {
        if (d.y == 0) return 0;
        if (d.x == 0) return 1;
        if (d.x == d.y) return 2;
        return d.x == -d.y ? 3 : 4;
      };
      bool manhattan = true, octilinear = true;
      for (size_t i = 0; i < n; ++i) {
        const int c = code(edge(i));
        if (c > 1) manhattan = false;
        if (c > 3) octilinear = false;
      }
      PolygonKind expected = PolygonKind::General;
      if (manhattan) {
        bool alternates = n % 2 == 0;
        for (size_t i = 0; i < n; ++i) {
          const Point d = edge(i);
          if (i % 2 == 0 ? d.y != 0 : d.x != 0) alternates = false;
        }
        const bool box =
            n == 4 && ((r[1] == Point(r[2].x, r[0].y) &&
                        r[3] == Point(r[0].x, r[2].y)) ||
                       (r[1] == Point(r[0].x, r[2].y) &&
                        r[3] == Point(r[2].x, r[0].y)));
        if (alternates || box) expected = PolygonKind::Manhattan;
      } else if (octilinear) {
        const bool parallel = code(edge(n - 2)) == code(edge(n - 1));
        if (!parallel || r[n - 1] == r[0]) expected = PolygonKind::Octangular;
      }
      EXPECT_EQ(expected, built->Kind()) << "iteration " << iter;

    }
    const std::vector<uint8_t> bytes = shape_test::WriteBytes(
        "random.bin", [&](BinaryStream& out) { DBPolygon::Write(*built, out); });
    BinaryStream in;
    shape_test::OpenForReading(in, shape_test::TempPath("random.bin"));
    std::unique_ptr<DBPolygon> read = shape_test::ReadPolygonRecord(in);
    ASSERT_NE(nullptr, read);
    EXPECT_TRUE(in.AtEnd());
    in.Close();

    PSList decoded;
    PSPoint* v0 = read->ToRing(decoded);
    Ring got = Moved(RingFrom(v0), origin->x, origin->y);
    const Ring want = RingFrom(origin);  // the input, from the origin on
    if (read->IsSquare() || read->IsRectangle()) {
      // Direction-free: compare against both directions.
      Ring reversed{want[0]};
      reversed.insert(reversed.end(), want.rbegin(), want.rend() - 1);
      EXPECT_TRUE(got == want || got == reversed) << "iteration " << iter;
    } else {
      EXPECT_EQ(want, got) << "iteration " << iter;
    }
    const Box box = read->RelativeBox();
    EXPECT_EQ(BoxOf(ring), Box(box.x1 + origin->x, box.y1 + origin->y,
                               box.x2 + origin->x, box.y2 + origin->y))
        << "iteration " << iter;
    ClearPointList(decoded);
    ClearPointList(list);
  }
  // Every class of encoding was exercised.
  EXPECT_GT(kinds[0], 100);
  EXPECT_GT(kinds[1], 100);
  EXPECT_GT(kinds[2], 500);
  EXPECT_GT(refused, 10);
  EXPECT_GT(encoded, 2000);
}

// Records written by hand from the format: int32 header (little-endian),
// the code words, values as signed chained integers (bit 0 of the first
// byte the sign, six magnitude bits, then seven per byte).
TEST(DBPolygonRecord, ByteExact) {
  struct RecordCase {
    const char* name;
    Ring ring;
    std::vector<uint8_t> bytes;
  };
  const std::vector<RecordCase> cases = {
      {"square 10", {{5, 5}, {15, 5}, {15, 15}, {5, 15}},
       {0x03, 0x00, 0x00, 0x00, 0x14}},
      {"rectangle 20 x 10", {{0, 0}, {20, 0}, {20, 10}, {0, 10}},
       {0x04, 0x00, 0x00, 0x00, 0x28, 0x14}},
      {"rectangle 100 x 64", {{0, 0}, {100, 0}, {100, 64}, {0, 64}},
       {0x04, 0x00, 0x00, 0x00, 0xC8, 0x01, 0x80, 0x01}},
      {"L-shape",
       {{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}},
       {0x06, 0x00, 0x00, 0x00, 0x28, 0x14, 0x15, 0x14}},
      // Codes 0, 3, 1 in header bits 18-23; one value.
      {"octangular triangle", {{0, 0}, {10, 0}, {0, 10}},
       {0x03, 0x00, 0x70, 0x40, 0x14}},
      // Codes 0 2 1 3 0 2 in the header, code 1 of edge 6 in one word.
      {"octangular 7",
       {{0, 0}, {20, 0}, {30, 10}, {30, 20}, {20, 30}, {10, 30}, {0, 20}},
       {0x07, 0x00, 0x60, 0x63, 0x01, 0x00, 0x00, 0x00, 0x28, 0x14, 0x14,
        0x14, 0x15}},
      // Two code-4 edges (bit 2 of each code), two values each.
      {"general triangle", {{0, 0}, {3, 1}, {0, 2}},
       {0x03, 0x00, 0x90, 0x80, 0x06, 0x02, 0x07, 0x02}},
  };
  for (const RecordCase& rc : cases) {
    SCOPED_TRACE(rc.name);
    PSList list;
    PSPoint* origin = LowestLeftPoint(AppendRing(list, rc.ring));
    std::unique_ptr<DBPolygon> p = DBPolygon::Build(origin);
    const std::vector<uint8_t> bytes = shape_test::WriteBytes(
        "record.bin", [&](BinaryStream& out) { DBPolygon::Write(*p, out); });
    EXPECT_EQ(rc.bytes, bytes);
    ClearPointList(list);
  }
}

TEST(DBPolygonCompare, OrderOfShapes) {
  auto build = [](const Ring& r) {
    PSList list;
    PSPoint* origin = LowestLeftPoint(AppendRing(list, r));
    std::unique_ptr<DBPolygon> p = DBPolygon::Build(origin);
    ClearPointList(list);
    return p;
  };
  auto square = build({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  auto rect1 = build({{0, 0}, {20, 0}, {20, 10}, {0, 10}});
  auto rect2 = build({{500, -7}, {520, -7}, {520, 3}, {500, 3}});
  auto lShape = build({{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}});
  auto notch = build({{0, 0}, {20, 0}, {20, 10}, {30, 10}, {30, 20}, {0, 20}});
  EXPECT_EQ(0, DBPolygonExt::Compare(rect1.get(), rect2.get()));
  EXPECT_EQ(-1, DBPolygonExt::Compare(square.get(), rect1.get()));
  EXPECT_EQ(1, DBPolygonExt::Compare(rect1.get(), square.get()));
  // Same header and count, values differing in one sign.
  EXPECT_EQ(-1, DBPolygonExt::Compare(lShape.get(), notch.get()));
  EXPECT_EQ(1, DBPolygonExt::Compare(notch.get(), lShape.get()));

  // Extended shapes that differ only in a code word.
  auto octa = build({{0, 0}, {20, 0}, {30, 10}, {30, 20}, {20, 30}, {10, 30},
                     {0, 20}});
  auto copy = DBPolygon::Copy(*octa);
  ASSERT_NE(nullptr, dynamic_cast<DBPolygonExt*>(copy.get()));
  EXPECT_EQ(0, DBPolygonExt::Compare(octa.get(), copy.get()));
  EXPECT_NE(static_cast<DBPolygonExt*>(octa.get())->codeBits,
            static_cast<DBPolygonExt*>(copy.get())->codeBits);
  copy->SetCodeBit(6, 1, 2, 1);  // code word 1 -> 3 (signed compare)
  EXPECT_EQ(-1, DBPolygonExt::Compare(octa.get(), copy.get()));
}

// Code bit b of edge a: header bit 18 + a*c + b for the first 12 / c
// edges, then bit c * (a - 12 / c) + b of the code words.
TEST(DBPolygonCodeBits, PositionsInHeaderAndWords) {
  const uint32_t header = 20u | DBPolygon::kGeneralBits;  // 45 word bits
  std::unique_ptr<DBPolygon> p = DBPolygon::New(header);
  auto* ext = dynamic_cast<DBPolygonExt*>(p.get());
  ASSERT_NE(nullptr, ext);
  ASSERT_EQ(2, DBPolygon::CodeWordCount(header));
  EXPECT_EQ(0u, ext->codeBits[0]);
  EXPECT_EQ(0u, ext->codeBits[1]);

  p->SetCodeBit(3, 2, 3, 1);  // header bit 18 + 9 + 2
  EXPECT_EQ(header | (1u << 29), p->header);
  // Edge 14: word bits 30, 31, 32 (across the word boundary).
  p->SetCodeBit(14, 0, 3, 1);
  p->SetCodeBit(14, 2, 3, 1);
  EXPECT_EQ(1u << 30, ext->codeBits[0]);
  EXPECT_EQ(1u, ext->codeBits[1]);
  EXPECT_EQ(5, p->EdgeCode(14));
  EXPECT_EQ(1, p->GetCodeBit(14, 2, 3));
  EXPECT_EQ(0, p->GetCodeBit(14, 1, 3));
  p->SetCodeBit(14, 0, 3, 0);  // bits are never cleared
  EXPECT_EQ(1, p->GetCodeBit(14, 0, 3));
  EXPECT_EQ(4, p->EdgeCode(3));
  // Edges 3 and 14 have code bit 2: two values more than n - 1.
  EXPECT_EQ(19 + 2, p->CountValues());
}

TEST(DBPolygonDecode, InconsistentDataIsRefusedNotRead) {
  // A manhattan header of 8 vertices with two of its six values.
  DBPolygon p(8, {10, 10});
  PSList list;
  EXPECT_THROW(p.ToRing(list), Error);
  ClearPointList(list);
  EXPECT_THROW(p.RelativeBox(), Error);
  // Writing refuses before a byte is written.
  const std::vector<uint8_t> bytes = shape_test::WriteBytes(
      "bad.bin", [&](BinaryStream& out) {
        EXPECT_THROW(DBPolygon::Write(p, out), Error);
      });
  EXPECT_TRUE(bytes.empty());
}

TEST(DBPolygonDecode, ToRingAppendsToAList) {
  DBPolygon square(DBPolygon::kSquareHeader, {7});
  PSList list;
  PushPoint(list, 100, 100);  // something already there
  PSPoint* v0 = square.ToRing(list);
  EXPECT_EQ(5, list.pointCount);
  EXPECT_EQ(1, list.ringCount);
  EXPECT_EQ(list.head, v0->prev);  // vertex 3 went in last, at the head
  EXPECT_EQ((Ring{{0, 0}, {7, 0}, {7, 7}, {0, 7}}), RingFrom(v0));
  int n = 0;
  for (const PSPoint* p = list.head; p; p = p->link) ++n;
  EXPECT_EQ(5, n);
  ClearPointList(list);
}

}  // namespace
}  // namespace velmar
