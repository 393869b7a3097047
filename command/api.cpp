// API object: construction and destruction, the log, library slots,
// counters and messages.

#include "command/api.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "foundation/avl_tree.h"
#include "foundation/dlist.h"
#include "foundation/error.h"
#include "foundation/leftist_heap.h"
#include "foundation/search_tree.h"
#include "foundation/search_tree_kd.h"
#include "foundation/slist.h"
#include "foundation/splay_tree.h"
#include "geometry/point_system.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

// The chain of live API objects: ForgetPooledPoints walks it.
constinit API* LiveApis = nullptr;

// Libraries and log files that outlive the API object that opened them:
// deleting an API closes neither its libraries nor its log. They, and those
// of the API objects still alive, are freed when the process exits, before
// the element pools that their shapes and trees use are released.
// (Never destroyed: the exit handler that reads them may run after the
// destructors of statics made later than its registration.)
std::vector<std::unique_ptr<LibDB>>& OrphanLibraries() {
  static auto& libraries = *new std::vector<std::unique_ptr<LibDB>>;
  return libraries;
}
// Every log file opened and not yet closed, whichever API object opened it.
std::vector<std::unique_ptr<std::ofstream>>& OpenLogs() {
  static auto& logs = *new std::vector<std::unique_ptr<std::ofstream>>;
  return logs;
}

void ReleaseAtExit() {
  API::CloseEveryLibrary();
  SetLogStream(nullptr);
  OpenLogs().clear();
}

void DeleteLog(const std::ofstream* log) {
  std::erase_if(OpenLogs(),
                [log](const auto& open) { return open.get() == log; });
}

}  // namespace

API::API() {
  // Registered after the pools came into being (they are built before
  // main), so it runs at exit before they are released.
  static const bool releaseAtExit = (std::atexit(ReleaseAtExit), true);
  (void)releaseAtExit;
  std::memset(_dpFile, 0, sizeof _dpFile);
  std::memset(hostName, 0, sizeof hostName);
  std::memset(ipaddr, 0, sizeof ipaddr);
  for (int& id : savedWorkingCells) id = -1;
  tempLayers.reserve(100);
  liveNext_ = LiveApis;
  if (LiveApis != nullptr) LiveApis->livePrev_ = this;
  LiveApis = this;
}

API::~API() {
  if (livePrev_ != nullptr) {
    livePrev_->liveNext_ = liveNext_;
  } else {
    LiveApis = liveNext_;
  }
  if (liveNext_ != nullptr) liveNext_->livePrev_ = livePrev_;

  // Temporary layers: their points go back to the pool (a layer emptied by
  // a pool release holds none); the headers go with the vector.
  for (const auto& layer : tempLayers) {
    if (layer != nullptr) ClearPointList(*layer);
  }
  // A log file that another object's OpenLog replaced in PrintMessage is
  // no longer written: free it. The registered one must stay alive.
  if (logFile != nullptr && GetLogStream() != logFile) DeleteLog(logFile);
  // The libraries stay open (nothing is dropped or written now) until the
  // process ends.
  for (std::unique_ptr<LibDB>& lib : libs) {
    if (lib != nullptr) OrphanLibraries().push_back(std::move(lib));
  }
  // The members free the rule tables; tempDB closes a file still open
  // through it (its buffered bytes are written); tech returns the nodes of
  // its rule lists.
}

void API::ForgetPooledPoints() {
  for (API* a = LiveApis; a != nullptr; a = a->liveNext_) {
    for (const auto& layer : a->tempLayers) {
      if (layer != nullptr) *layer = PSList{};
    }
  }
}

// --- Log ----------------------------------------------------------------------

int API::OpenLog(const char* log) {
  auto* stream = OpenLogs()
                     .emplace_back(std::make_unique<std::ofstream>(
                         log, std::ios::out | std::ios::trunc))
                     .get();
  std::ofstream* previous = logFile;
  logFile = stream;
  if (!stream->is_open()) {
    PrintMessage("Error: Log file %s could not be opened !\n", log);
    // The previous stream may still be registered: then it stays.
    if (previous != nullptr && GetLogStream() != previous) DeleteLog(previous);
    return 0;
  }
  SetLogStream(stream);
  startTime = std::time(nullptr);
  // The earlier log of this object is no longer written: close it.
  if (previous != nullptr) DeleteLog(previous);
  return 1;
}

void API::CloseEveryLibrary() {
  for (API* a = LiveApis; a != nullptr; a = a->liveNext_) {
    for (std::unique_ptr<LibDB>& lib : a->libs) lib.reset();
    a->currentLib = nullptr;
  }
  OrphanLibraries().clear();
}

void API::CloseLog() {
  // Open libraries hold pooled shapes, placements and search-tree nodes:
  // they are closed (silently, as the pools' owners) while the pools exist.
  CloseEveryLibrary();
  PrintMessage("\n");
  ReportPointSystemMemory(false);
  ResetPointPool();
  ForgetPooledPoints();
  ResetSearchSystemPool();
  ReportSListMemory(false);
  ResetSListPool();
  Tech::ForgetPooledRuleNodes();
  ResetDListPool();
  LocList::ResetPool();
  CPgonList::ResetPool();
  ReportLeftistMemory(false);
  ResetLeftistPool();
  ReportSplayMemory(false);
  ResetSplayPool();
  ReportAVLMemory(false);
  ResetAVLPool();

  time_t now = std::time(nullptr);
  PrintMessage("%s", std::ctime(&now));
  int seconds = static_cast<int>(std::difftime(now, startTime));
  int hours = seconds / 3600;
  if (hours != 0) seconds %= 3600;
  int minutes = seconds / 60;
  if (minutes != 0) seconds %= 60;
  PrintMessage("Elapsed total ");
  if (hours != 0) PrintMessage("%d hour ", hours);
  if (minutes != 0) PrintMessage("%d min ", minutes);
  PrintMessage("%d seconds\n", seconds);

  // A failed close sets the stream's fail state; later messages to it are
  // lost while standard output still gets them.
  if (logFile != nullptr) logFile->close();
}

void API::Print(const char* msg) {
  // The text is printed literally, never used as a format; only "%%"
  // becomes one percent sign.
  std::string text;
  for (const char* p = msg; *p != '\0'; ++p) {
    text.push_back(*p);
    if (p[0] == '%' && p[1] == '%') ++p;
  }
  // Messages are formatted into a buffer of 1024 bytes: a longer text goes
  // out in pieces, so that nothing of it is cut off.
  constexpr std::size_t kPiece = 1000;
  for (std::size_t at = 0; at < text.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, text.size() - at);
    PrintMessage("%.*s", int(n), text.data() + at);
  }
}

// --- Library slots --------------------------------------------------------------

void API::SetLibrary(int lid) {
  if (lid < 0 || lid >= kLibrarySlots) {
    PrintMessage("Error: library slot %d is outside 0..%d\n", lid,
                 kLibrarySlots - 1);
    return;
  }
  currentSlot = lid;
  currentLib = libs[lid].get();
  workingCell = savedWorkingCells[lid];
}

int API::ExistLibrary(int lid) const {
  if (lid < 0 || lid >= kLibrarySlots) return 0;
  return libs[lid] != nullptr ? 1 : 0;
}

// --- Counters ----------------------------------------------------------------

const API::CounterLine API::kCounterLines[12] = {
      {&API::savedPolygonsDB, "  Total saved polygons in DB = %d\n"},
      {&API::savedPolygonsText, "  Total saved polygons in text = %d\n"},
      {&API::encViolations, "  Total ENC violation vertices = %d\n"},
      {&API::spaceViolations, "  Total SPACE violation vertices = %d\n"},
      {&API::widthViolations, "  Total WIDTH violation vertices = %d\n"},
      {&API::sencViolations, "  Total SENC violation vertices = %d\n"},
      {&API::sspaceViolations, "  Total SSPACE violation vertices = %d\n"},
      {&API::swidthViolations, "  Total SWIDTH violation vertices = %d\n"},
      {&API::acuteViolations, "  Total Acute violation vertices = %d\n"},
      {&API::offgridViolations, "  Total Offgrid violation vertices = %d\n"},
      {&API::non45Violations, "  Total Non45 violation segments = %d\n"},
      {&API::lengthViolations, "  Total Length violation vertices = %d\n"},
};

void API::ReportCount() {
  for (const CounterLine& line : kCounterLines) {
    int value = this->*line.counter;
    if (value != 0) PrintMessage(line.format, value);
  }
}

void API::ResetCounts() {
  for (const CounterLine& line : kCounterLines) this->*line.counter = 0;
}

}  // namespace velmar
