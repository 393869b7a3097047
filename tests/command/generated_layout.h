// A generated layout shared by the export and interop tests.
#pragma once

#include <string>

#include "support/gds_builder.h"
#include "support/ring_builders.h"

namespace velmar::store_test {

// A generated two-level layout: arrays in all 8 orientations with negative
// pitches, magnification, 45-degree and any-angle shapes; polygons over the
// vertex limit (a 5,000-vertex comb, an 8,000-vertex any-angle ring) and
// paths of types 0, 2 and 4, manhattan and at 45 degrees. The arrays of
// odd orientations step their columns along x; with turnedLattice along y,
// the lattice turned with the cell as readers that take the column step
// from the cell's turned x axis (gdspy) require.
inline void WriteGeneratedGds(const std::string& path, bool turnedLattice = false) {
  test::GdsBuilder b;
  b.BeginLib("GEN");
  b.BeginStr("leaf")
      .Rect(1, 0, 0, 0, 100, 40)
      .Boundary(2, 0, {{0, 0}, {50, 0}, {100, 50}, {100, 100}, {0, 100}})
      .Boundary(3, 5, {{0, 0}, {37, 11}, {23, 71}, {-5, 40}})
      .EndStr();
  b.BeginStr("mid").Rect(1, 0, -10, -10, 10, 10);
  for (int o = 0; o < 8; ++o) {
    test::GdsStrans s;
    s.reflect = o > 3;
    static const double kAngle[8] = {0, 90, 180, 270, 180, 270, 0, 90};
    if (kAngle[o] != 0) s.angle = kAngle[o];
    if (o % 3 == 1) s.mag = 2.0;
    const Point p0(o * 5000, 0);
    // Columns along x, rows along y in the file, pitches negative for odd o.
    const int32_t cp = o % 2 ? -300 : 300, rp = o % 2 ? -200 : 200;
    if (turnedLattice && o % 2 == 1)
      b.ARef("leaf", 3, 2, p0, Point(p0.x, p0.y + 3 * cp), Point(p0.x + 2 * rp, p0.y), s);
    else
      b.ARef("leaf", 3, 2, p0, Point(p0.x + 3 * cp, p0.y), Point(p0.x, p0.y + 2 * rp), s);
    b.SRef("leaf", Point(o * 5000, 20000), s);
  }
  b.EndStr();
  b.BeginStr("big")
      .Boundary(4, 0, ring_test::Comb(1249))
      .Boundary(5, 0, ring_test::Moved(ring_test::Star(8000, 1000000), 0, 1500000))
      .Path(6, 0, {{0, -5000}, {20000, -5000}, {20000, -20000}}, 400)
      .Path(6, 1, {{0, -30000}, {0, -40000}, {9000, -40000}}, 300, 2)
      .Path(6, 2, {{0, -50000}, {10000, -50000}}, 200, 4, 50, 120)
      .Path(7, 0, {{0, -70000}, {10000, -80000}, {30000, -80000}}, 400)
      .EndStr();
  b.BeginStr("top").SRef("mid", Point(0, 0)).SRef("mid", Point(100000, 7));
  b.SRef("big", Point(0, 200000));
  b.EndStr();
  b.EndLib();
  b.WriteFile(path);
}

}  // namespace velmar::store_test
