// Reading OASIS fixtures into a scratch library the way the command layer
// does (library load, new cell data file, head, body), for the reader
// tests.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/oasis_file.h"
#include "layoutdb/lib_db.h"

namespace velmar::test {

struct OasisReadResult {
  bool ok = false;
  std::string error;   // Error message when it threw
  std::string unit;    // its unit tag
  std::string output;  // everything printed (the memory line removed)
  OasisCounters counters;
  int32_t badLayers = 0;
};

struct OasisReadOptions {
  std::set<int32_t> filter;
  std::map<int32_t, int32_t> map;
  std::string prefix;
  int64_t maxInstances = int64_t(1) << 26;
};

// Writes bytes to a file in dir and reads it into lib inside a LibraryLoad
// (rolled back when the read fails).
OasisReadResult ReadOasisInto(LibDB& lib, const std::string& dir,
                              const std::vector<uint8_t>& bytes,
                              const OasisReadOptions& options = {});
// The same for a file.
OasisReadResult ReadOasisFileInto(LibDB& lib, const std::string& path,
                                  const OasisReadOptions& options = {});

}  // namespace velmar::test
