#include "formats/oasis_read_helpers.h"

#include <fstream>
#include <optional>

#include "foundation/error.h"
#include "support/stdout_capture.h"

namespace velmar::test {

OasisReadResult ReadOasisInto(LibDB& lib, const std::string& dir,
                              const std::vector<uint8_t>& bytes,
                              const OasisReadOptions& options) {
  const std::string path = dir + "/input.oas";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  return ReadOasisFileInto(lib, path, options);
}

OasisReadResult ReadOasisFileInto(LibDB& lib, const std::string& path,
                                  const OasisReadOptions& options) {
  OasisReadResult result;
  StdoutCapture capture;
  OasisFile reader;
  reader.maxRepetitionInstances = options.maxInstances;
  try {
    reader.OpenInput(path);
    LibraryLoad load(lib);
    reader.ReadHead(&lib);
    if (!lib.OpenNewDataFile()) throw Error("cannot open data file", "TEST");
    if (!options.filter.empty()) reader.layerFilter = &options.filter;
    if (!options.map.empty()) reader.layerMap = &options.map;
    reader.cellPrefix = options.prefix;
    reader.ReadBody();
    load.Commit();
    result.ok = true;
  } catch (const Error& e) {
    result.error = e.Message();
    result.unit = e.Unit() ? e.Unit() : "";
  }
  result.counters = reader.counters;
  result.badLayers = reader.badLayerElements;
  result.output = StopWithoutMemoryLine(capture);
  return result;
}

}  // namespace velmar::test
