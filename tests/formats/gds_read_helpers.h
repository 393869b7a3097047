// Reading GDSII fixtures into a scratch library and reading the stored
// library back (directory files and cell data), for the reader tests.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/gds_builder.h"
#include "foundation/box.h"
#include "layoutdb/lib_db.h"

namespace velmar::test {

// Outcome of one read.
struct GdsReadResult {
  bool ok = false;        // Read returned
  std::string error;      // Error message when it threw
  std::string unit;       // its unit tag
  std::string output;     // everything printed (the memory line removed)
  // Counters of the reader.
  int32_t boundaries = 0, paths = 0, arbitrary = 0, polygons45 = 0;
  int32_t singleRefs = 0, arrayRefs = 0, duplicates = 0, magnified = 0;
  int32_t texts = 0, nodes = 0, boxes = 0, properties = 0, badLayers = 0;
};

struct GdsReadOptions {
  std::set<int32_t> filter;        // empty: none
  std::map<int32_t, int32_t> map;  // empty: none
  bool ignoreText = false;
  std::string prefix;
  int64_t flushThreshold = 50000000;
  int32_t flushTileSize = 200000;
  bool gzipInput = false;
  // The new cell data file is written from this offset on (a plain file
  // grows sparsely), to reach its roll-over size without writing it.
  int64_t dataFileStart = 0;
  // The read runs as a library load (LibraryLoad): committed when it
  // completes, rolled back when it fails.
  bool asLoad = false;
};

// A placed element of a reference (arrays expanded), by child name.
struct Placement {
  std::string child;
  int32_t x = 0, y = 0;
  float mag = 1.0f;
  int orientation = 0;
  friend bool operator<(const Placement& a, const Placement& b);
  friend bool operator==(const Placement& a, const Placement& b);
};

// A stored reference.
struct StoredRef {
  std::string child;
  Trans trans;
  bool array = false;
  int columns = 1, rows = 1;
  int32_t columnPitch = 0, rowPitch = 0;
};

// A ring as a vertex list, brought to a canonical form: counter-clockwise,
// starting at its lowest-left vertex.
using Ring = std::vector<Point>;
Ring Canonical(Ring ring);
// The ring of a box, canonical.
Ring BoxRing(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// Twice the signed area of a ring (64-bit exact).
int64_t TwiceArea(const Ring& ring);
// The point (x, y) turned by an orientation of the placement rule (0-3:
// rotations by 0, 90, 180 and 270 degrees; 4-7: mirror images), from a
// table written independently of the code.
Point Orient(int orientation, int64_t x, int64_t y);

// A library directory with a library object on it.
class ScratchLibrary {
 public:
  explicit ScratchLibrary(bool gz = false);
  const std::string& Dir() const { return dir_; }
  LibDB& Lib() { return *lib_; }
  // Reads the GDSII bytes into the library the way the command layer does
  // (a new cell data file, then GdsReader::Read), capturing the output.
  GdsReadResult Read(const std::vector<uint8_t>& gds,
                     const GdsReadOptions& options = {});
  GdsReadResult ReadFile(const std::string& path,
                         const GdsReadOptions& options = {});

 private:
  TempDir temp_;
  std::string dir_;
  bool gz_;
  std::unique_ptr<LibDB> lib_;
  int files_ = 0;
};

// The stored library, read back from its directory files and cell data.
class StoredLibrary {
 public:
  StoredLibrary(const std::string& dir, bool gz);
  LibDB& Lib() { return *lib_; }
  bool Has(const std::string& cell) const;
  // Canonical rings of the cell's shapes per layer key, sorted.
  std::map<int32_t, std::vector<Ring>> Shapes(const std::string& cell);
  // The cell's placements (arrays expanded), sorted.
  std::vector<Placement> Placements(const std::string& cell);
  // The stored references as they are (not expanded), in stored order.
  std::vector<StoredRef> References(const std::string& cell);
  std::vector<std::string> CellNames() const;

 private:
  DBCell* Load(const std::string& cell);
  std::unique_ptr<LibDB> lib_;
};

}  // namespace velmar::test
