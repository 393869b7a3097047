// Fixtures of the tests of libraries, loading and storing through API: a
// small two-level layout written as GDSII, library directories in a
// scratch folder, temporary layers made from boxes, and the area a library
// stores for a layer, read back from its files by a library object of its
// own.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "command/api.h"
#include "support/gds_builder.h"
#include "foundation/box.h"
#include "foundation/error.h"
#include "support/stdout_capture.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/layer_rings.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/trans.h"

namespace velmar::store_test {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A new library directory inside the scratch folder.
inline std::string LibraryDir(const test::TempDir& dir, const std::string& name) {
  std::string path = dir.File(name);
  ::mkdir(path.c_str(), 0755);
  return path;
}

// The standard layout, 1 database unit per nanometre:
//   child: {1 0} (0,0)-(100,100), {2 0} (50,50)-(150,150)
//   top:   {1 0} (0,0)-(1000,1000), child placed at (2000,0)
//   other: {3 0} (0,0)-(10,10) (a second root)
// top's box is (0,0)-(2150,1000).
inline void WriteStandardGds(const std::string& path,
                             const std::string& prefix = "") {
  test::GdsBuilder b;
  b.BeginLib("LIB");
  b.BeginStr(prefix + "child").Rect(1, 0, 0, 0, 100, 100).Rect(2, 0, 50, 50, 150, 150).EndStr();
  b.BeginStr(prefix + "top").Rect(1, 0, 0, 0, 1000, 1000).SRef(prefix + "child", Point(2000, 0)).EndStr();
  b.BeginStr(prefix + "other").Rect(3, 0, 0, 0, 10, 10).EndStr();
  b.EndLib();
  b.WriteFile(path);
}

// Runs f with standard output captured; returns what it printed.
template <class F>
std::string Captured(F f) {
  test::StdoutCapture out;
  f();
  return out.Stop();
}

// A new temporary layer holding the boxes (counter-clockwise rings); its
// number.
inline int TempLayerOf(API& api, const std::vector<Box>& boxes) {
  const int number = API::kTempLayerBase - api.GetTempLayer();
  for (const Box& b : boxes) BoxToRing(api.RequireTempLayer(number), b, false);
  return number;
}

// The area that cell covers with layer key, its children included, read
// from the library directory by a library object of its own.
inline long double StoredArea(const std::string& dir, const char* cellName,
                              int32_t key) {
  LibDB lib(dir.c_str(), 0);
  lib.ReadInfo();
  lib.ReadNames();
  DBCell* cell = lib.FindCell(cellName);
  if (cell == nullptr || !cell->box.IsValid()) return -1;
  LayerRings rings;
  const std::set<int32_t> filter{key};
  const Trans identity;
  lib.CollectPolygons(cell, &cell->box, &identity, &filter, &rings, 0);
  PSList all;
  for (auto& entry : rings) SpliceList(all, entry.second);
  PSList merged;
  BooleanSweep(all, &merged, BooleanOpCode::Merge, false);
  const long double area = ListArea(merged);
  ClearPointList(all);
  ClearPointList(merged);
  return area;
}

// The box of a cell as the library directory stores it.
inline Box StoredBox(const std::string& dir, const char* cellName) {
  LibDB lib(dir.c_str(), 0);
  lib.ReadInfo();
  lib.ReadNames();
  DBCell* cell = lib.FindCell(cellName);
  return cell != nullptr ? cell->box : Box();
}

}  // namespace velmar::store_test
