// The API object with its working state open to the tests that set it up
// and inspect it (slots, working cell and area, layer sets, counters, the
// temporary layers and database, the log, the rule tables).
#pragma once

#include <memory>
#include <utility>

#include "command/api.h"
#include "geometry/point_system.h"
#include "layoutdb/lib_db.h"

namespace velmar::test {

class InspectableApi : public API {
 public:
  using API::area;
  using API::biasTable;
  using API::currentLib;
  using API::currentSlot;
  using API::endcapTable;
  using API::layerMap;
  using API::libs;
  using API::logFile;
  using API::maxBias;
  using API::maxEndcap;
  using API::opLayers;
  using API::opLayers2;
  using API::savedWorkingCells;
  using API::startTime;
  using API::tempDB;
  using API::tempLayers;
  using API::workingCell;

  using API::acuteViolations;
  using API::encViolations;
  using API::lengthViolations;
  using API::non45Violations;
  using API::offgridViolations;
  using API::savedPolygonsDB;
  using API::savedPolygonsText;
  using API::sencViolations;
  using API::spaceViolations;
  using API::sspaceViolations;
  using API::swidthViolations;
  using API::widthViolations;

  // Puts lib into slot k, as OpenLibrary would (the current library when k
  // is the current slot); a library the slot held is closed first.
  void InstallLibrary(int k, std::unique_ptr<LibDB> lib) {
    libs[k] = std::move(lib);
    if (k == currentSlot) currentLib = libs[k].get();
  }
};

}  // namespace velmar::test
