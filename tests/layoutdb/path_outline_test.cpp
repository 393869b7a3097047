// Path outlines: caps, mitred joints, 45-degree and acute turns, checked
// against outlines derived by hand from the construction (offset lines moved
// by half the width, crossings rounded half up) and against the area of a
// band of the path's width along its centre line.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "foundation/error.h"
#include "geometry/point_list_edit.h"
#include "geometry/point_system.h"
#include "layoutdb/path_outline.h"

namespace velmar {
namespace {

// The ring that ToPolygon appended last, in build order: the list head is
// the last corner built, whose ring successor is the first.
std::vector<Point> LastRing(const PSList& list) {
  std::vector<Point> out;
  const PSPoint* first = list.head->next;
  const PSPoint* p = first;
  do {
    out.push_back(Point(p->x, p->y));
    p = p->next;
  } while (p != first && out.size() < 100000);
  return out;
}

// Twice the signed area (shoelace), exact in 64 bits for these sizes.
int64_t Area2(const std::vector<Point>& r) {
  int64_t s = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    const Point& a = r[i];
    const Point& b = r[(i + 1) % r.size()];
    s += int64_t(a.x) * b.y - int64_t(b.x) * a.y;
  }
  return s;
}

std::vector<Point> Outline(const Path& path) {
  PSList list;
  path.ToPolygon(&list);
  std::vector<Point> ring = LastRing(list);
  EXPECT_EQ(list.pointCount, int32_t(ring.size()));
  EXPECT_EQ(list.ringCount, 1);
  ClearPointList(list);
  return ring;
}

Path MakePath(std::vector<Point> pts, int32_t width, int16_t type,
              int32_t begin = 0, int32_t end = 0) {
  Path p;
  p.points = std::move(pts);
  p.width = width;
  p.pathType = type;
  p.beginExtension = begin;
  p.endExtension = end;
  return p;
}

struct OutlineCase {
  const char* what;
  Path path;
  std::vector<Point> want;
};

TEST(PathOutline, OutlinesDerivedByHand) {
  // Derivations, half = width >> 1:
  // - axis-parallel caps are the end points moved by (extension, half);
  // - an oblique segment (dx, dy) is moved right by (away(dy h / len),
  //   -away(dx h / len)); for 45 degrees and h = 10 that is (7, -7);
  // - a cap corner is the crossing of that line with the perpendicular at
  //   the end point moved out by the extension the same way;
  // - a joint is the crossing of the two moved lines, rounded half up.
  std::vector<OutlineCase> cases;
  cases.push_back({"flush", MakePath({{0, 0}, {100, 0}}, 10, 0),
                   {{0, -5}, {100, -5}, {100, 5}, {0, 5}}});
  for (int16_t type : {1, 2, 4, -1}) {
    cases.push_back({"half-width extensions",
                     MakePath({{0, 0}, {100, 0}}, 10, type),
                     {{-5, -5}, {105, -5}, {105, 5}, {-5, 5}}});
  }
  cases.push_back({"explicit extensions",
                   MakePath({{0, 0}, {100, 0}}, 10, 3, 2, 7),
                   {{-2, -5}, {107, -5}, {107, 5}, {-2, 5}}});
  cases.push_back({"odd width loses one unit",
                   MakePath({{0, 0}, {100, 0}}, 11, 0),
                   {{0, -5}, {100, -5}, {100, 5}, {0, 5}}});
  cases.push_back({"running -x", MakePath({{100, 0}, {0, 0}}, 10, 2),
                   {{105, 5}, {-5, 5}, {-5, -5}, {105, -5}}});
  cases.push_back({"running +y, explicit extensions",
                   MakePath({{0, 0}, {0, 50}}, 8, 3, 1, 3),
                   {{4, -1}, {4, 53}, {-4, 53}, {-4, -1}}});
  cases.push_back({"running -y", MakePath({{0, 50}, {0, 0}}, 8, 0),
                   {{-4, 50}, {-4, 0}, {4, 0}, {4, 50}}});
  cases.push_back({"mitred right angle",
                   MakePath({{0, 0}, {100, 0}, {100, 100}}, 10, 0),
                   {{0, -5}, {105, -5}, {105, 100}, {95, 100}, {95, 5},
                    {0, 5}}});
  cases.push_back({"mitred right angle turning right, extended",
                   MakePath({{0, 0}, {100, 0}, {100, -100}}, 10, 2),
                   {{-5, -5}, {95, -5}, {95, -105}, {105, -105}, {105, 5},
                    {-5, 5}}});
  cases.push_back({"collinear joint",
                   MakePath({{0, 0}, {50, 0}, {100, 0}}, 10, 0),
                   {{0, -5}, {50, -5}, {100, -5}, {100, 5}, {50, 5}, {0, 5}}});
  cases.push_back({"diagonal flush",
                   MakePath({{0, 0}, {100, 100}}, 20, 0),
                   {{7, -7}, {107, 93}, {93, 107}, {-7, 7}}});
  // Caps 10 beyond the ends: the perpendicular at (0, 0) moves to the line
  // x + y = -14, crossing y = x - 14 at (0, -14).
  cases.push_back({"diagonal extended",
                   MakePath({{0, 0}, {100, 100}}, 20, 2),
                   {{0, -14}, {114, 100}, {100, 114}, {-14, 0}}});
  // 45-degree turn: y = -10 meets y = x - 114 at x = 104 (outer); the
  // inner lines y = 10 and y = x - 86 meet at x = 96.
  cases.push_back({"45-degree turn",
                   MakePath({{0, 0}, {100, 0}, {200, 100}}, 20, 0),
                   {{0, -10}, {104, -10}, {207, 93}, {193, 107}, {96, 10},
                    {0, 10}}});
  // 135-degree turn (acute inside angle): y = -10 meets x + y = 114 at
  // x = 124; inside, x + y = 86 meets y = 10 at x = 76.
  cases.push_back({"acute turn",
                   MakePath({{0, 0}, {100, 0}, {0, 100}}, 20, 0),
                   {{0, -10}, {124, -10}, {7, 107}, {-7, 93}, {76, 10},
                    {0, 10}}});
  // Nearly turning back, no miter limit: the outer lines y = -10 and
  // y = 20.1 - 0.1 x meet 201 units beyond the vertex, the inner ones
  // y = 10 and y = -0.1 (x + 1) 101 units behind the start.
  cases.push_back({"sharp turn without miter limit",
                   MakePath({{0, 0}, {100, 0}, {0, 10}}, 20, 0),
                   {{0, -10}, {301, -10}, {1, 20}, {-1, 0}, {-101, 10},
                    {0, 10}}});
  // A repeated point contributes no joint of its own.
  cases.push_back({"repeated point at a corner",
                   MakePath({{0, 0}, {100, 0}, {100, 0}, {100, 100}}, 10, 0),
                   {{0, -5}, {105, -5}, {105, 100}, {95, 100}, {95, 5},
                    {0, 5}}});

  for (const OutlineCase& c : cases) {
    EXPECT_EQ(Outline(c.path), c.want) << c.what;
  }
}

TEST(PathOutline, CornerFunctionsOneByOne) {
  PSPoint out{};
  // Zero-length segments take the last axis-parallel case.
  Path::StartCap({5, 5}, {5, 5}, 3, 2, &out);
  EXPECT_EQ(Point(out.x, out.y), Point(2, 7));
  Path::EndCap({5, 5}, {5, 5}, 3, 2, &out);
  EXPECT_EQ(Point(out.x, out.y), Point(2, 3));
  // Parallel offset lines: Q moved right of P -> Q; turning back alike.
  Path::Joint({0, 0}, {10, 0}, {20, 0}, 4, &out);
  EXPECT_EQ(Point(out.x, out.y), Point(10, -4));
  Path::Joint({0, 0}, {10, 0}, {0, 0}, 4, &out);
  EXPECT_EQ(Point(out.x, out.y), Point(10, -4));
  // Repeated points on either side of the joint.
  Path::Joint({0, 0}, {10, 0}, {10, 0}, 4, &out);
  EXPECT_EQ(Point(out.x, out.y), Point(10, -4));
  Path::Joint({10, 0}, {10, 0}, {10, 30}, 4, &out);
  EXPECT_EQ(Point(out.x, out.y), Point(14, 0));
}

TEST(PathOutline, CrossingsRoundHalfUp) {
  // Incoming line y = 5 (running -x, right side is +y); outgoing segment
  // (-100, 0) -> (-200, 200) moved by (away(1000 / 223.6), -away(-500 /
  // 223.6)) = (4, 2): the line y = 2 - 2 (x + 96) meets y = 5 at -97.5,
  // which rounds up to -97 (away from zero would give -98).
  PSPoint out{};
  Path::Joint({0, 0}, {-100, 0}, {-200, 200}, 5, &out);
  EXPECT_EQ(Point(out.x, out.y), Point(-97, 5));
  // Mirrored to +x the crossing is at 102.5 and rounds to 103.
  Path::Joint({0, 0}, {100, 0}, {200, 200}, 5, &out);
  EXPECT_EQ(Point(out.x, out.y), Point(103, -5));
}

// Twice the area of a band of width 2 half along the centre line, with the
// extensions added at the ends (continuous mitred outline: the miter gained
// on the outside of a turn is lost on the inside).
long double BandArea2(const Path& p) {
  long double len = 0;
  for (size_t i = 1; i < p.points.size(); ++i)
    len += std::hypot((long double)p.points[i].x - p.points[i - 1].x,
                      (long double)p.points[i].y - p.points[i - 1].y);
  int32_t half = p.width >> 1;
  long double ext = p.pathType == 0   ? 0
                    : p.pathType == 3 ? p.beginExtension + p.endExtension
                                      : 2 * half;
  return 2 * (2.0L * half) * (len + ext);
}

Path RandomPath(std::mt19937& rng, int steps, bool fortyFive) {
  std::uniform_int_distribution<int> len(1, 400), turn(-1, 1), type(0, 3);
  std::uniform_int_distribution<int> width(100, 1000), ext(0, 300);
  static const int kDirs[8][2] = {{1, 0},  {1, 1},   {0, 1},  {-1, 1},
                                  {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  Path p;
  p.width = width(rng);
  p.pathType = int16_t(type(rng));
  p.beginExtension = ext(rng);
  p.endExtension = ext(rng);
  int dir = fortyFive ? int(rng() % 8) : int(rng() % 4) * 2;
  Point at(int32_t(rng() % 2001) - 1000, int32_t(rng() % 2001) - 1000);
  p.points.push_back(at);
  for (int i = 0; i < steps; ++i) {
    if (i > 0) dir = (dir + 8 + (fortyFive ? 1 : 2) * turn(rng)) % 8;
    int l = len(rng);
    at.x += kDirs[dir][0] * l;
    at.y += kDirs[dir][1] * l;
    p.points.push_back(at);
  }
  return p;
}

TEST(PathOutline, ManhattanOutlinesHaveExactlyTheBandArea) {
  std::mt19937 rng(2024);
  for (int k = 0; k < 300; ++k) {
    Path p = RandomPath(rng, 1 + k % 7, false);
    std::vector<Point> ring = Outline(p);
    ASSERT_EQ(ring.size(), 2 * p.points.size());
    EXPECT_EQ((long double)Area2(ring), BandArea2(p)) << "path " << k;
  }
}

TEST(PathOutline, FortyFiveDegreeOutlinesHaveTheBandAreaUpToRounding) {
  std::mt19937 rng(77);
  for (int k = 0; k < 300; ++k) {
    Path p = RandomPath(rng, 1 + k % 7, true);
    std::vector<Point> ring = Outline(p);
    // Each oblique offset line is off by under one unit and each corner by
    // under two: bound the area error by two units along the whole outline.
    long double perimeter = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
      const Point& a = ring[i];
      const Point& b = ring[(i + 1) % ring.size()];
      perimeter += std::hypot((long double)b.x - a.x, (long double)b.y - a.y);
    }
    long double got = Area2(ring), want = BandArea2(p);
    EXPECT_NEAR(double(got), double(want), double(2 * 2 * perimeter))
        << "path " << k;
    EXPECT_GT(got, 0) << "path " << k;
  }
}

TEST(PathOutline, RingLinksCountsAndAppending) {
  PSList list;
  PSPoint* before = PushPoint(list, 1, 2);  // something already in the list
  LinkPoints(before, before);
  list.ringCount = 1;

  Path p = MakePath({{0, 0}, {100, 0}, {100, 100}}, 10, 0);
  p.ToPolygon(&list);
  EXPECT_EQ(list.pointCount, 7);
  EXPECT_EQ(list.ringCount, 2);
  EXPECT_EQ(list.tail, before);
  // The head is the last corner built; the ring runs in build order and is
  // closed both ways.
  EXPECT_EQ(Point(list.head->x, list.head->y), Point(0, 5));
  int n = 0;
  for (PSPoint* q = list.head; n < 6; ++n) {
    EXPECT_EQ(q->flags, 0);
    EXPECT_EQ(q->next->prev, q);
    q = q->next;
    if (n == 5) {
      EXPECT_EQ(q, list.head);
    }
  }
  int linked = 0;
  for (PSPoint* q = list.head; q; q = q->link) ++linked;
  EXPECT_EQ(linked, 7);
  EXPECT_EQ(before->next, before);
  ClearPointList(list);
}

TEST(PathOutline, CollinearJointsSimplifyToTheStraightOutline) {
  PSList three, two;
  MakePath({{0, 0}, {50, 0}, {100, 0}}, 10, 0).ToPolygon(&three);
  MakePath({{0, 0}, {100, 0}}, 10, 0).ToPolygon(&two);
  Simplify(three, 0);
  std::vector<Point> a = LastRing(three), b = LastRing(two);
  ASSERT_EQ(a.size(), b.size());
  // Same corners, possibly starting elsewhere on the ring.
  size_t shift = 0;
  while (shift < a.size() && a[shift] != b[0]) ++shift;
  ASSERT_LT(shift, a.size());
  for (size_t i = 0; i < b.size(); ++i) EXPECT_EQ(a[(i + shift) % a.size()], b[i]);
  ClearPointList(three);
  ClearPointList(two);
}

TEST(PathOutline, RefusedPathsLeaveTheListUnchanged) {
  auto expectDB = [](const Path& p) {
    PSList list;
    try {
      p.ToPolygon(&list);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.Unit(), "DB");
    }
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.pointCount, 0);
    EXPECT_EQ(list.ringCount, 0);
  };
  expectDB(MakePath({}, 10, 0));
  expectDB(MakePath({{3, 3}}, 10, 0));
  // Corners beyond int32: extensions, width and oblique offsets.
  expectDB(MakePath({{0, 0}, {INT32_MAX - 10, 0}}, 10, 3, 0, 20));
  expectDB(MakePath({{0, INT32_MIN + 2}, {100, INT32_MIN + 2}}, 10, 0));
  expectDB(MakePath({{0, 0}, {100, 0}, {INT32_MAX, INT32_MAX}}, 1000, 2));
  // The perpendicular at an oblique end would leave int32.
  expectDB(MakePath({{-2000000000, 0}, {2000000000, 1000000000}}, 10, 0));
  // Near the limits but inside, a path is fine.
  Path ok = MakePath({{INT32_MIN + 5, 0}, {INT32_MAX - 5, 0}}, 10, 2);
  std::vector<Point> ring = Outline(ok);
  EXPECT_EQ(ring.front(), Point(INT32_MIN, -5));
  EXPECT_EQ(ring[1], Point(INT32_MAX, -5));
}

}  // namespace
}  // namespace velmar
