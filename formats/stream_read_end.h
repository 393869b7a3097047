// What the layout stream readers (GDSII, OASIS) share around the elements
// they read: the layer check of an element with its counted warning, the
// limit on detailed problem reports, progress lines, storing the references
// of a finished cell, and the end of a read (report, magnified count, cycle
// check, hierarchy tables, directory files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "layoutdb/layer_key.h"
#include "layoutdb/trans.h"

namespace velmar {

class DBCell;
class LibDB;

// Detailed reports of one kind of problem are printed for the first limit
// occurrences only.
inline constexpr int32_t kProblemReportLimit = 20;

// True while count (occurrences so far) is below limit: the next one is
// reported in detail.
inline bool ProblemReportable(int32_t count, int32_t limit = kProblemReportLimit) {
  return count < limit;
}
// Counts one occurrence; after the last detailed one (count limit - 1) it
// prints "Same warning will not be shown any more\n".
void CountProblemReport(int32_t& count, int32_t limit = kProblemReportLimit);

// Database units of lib (null: 1 per nanometre) to nanometres for reports:
// floor(v / units + 0.5), clamped to int32.
int32_t ReportNm(const LibDB* lib, int64_t v);

// Prints "%d%% read\n" when fraction (of the input read) has moved on by
// more than 0.1 since last and lies below 0.99; last takes it then.
void ReportReadProgress(double fraction, double& last);

// The layer of an element, as read from a file.
enum class ElementLayer {
  Keep,        // stored under key
  Filtered,    // not in the layer filter: dropped silently
  OutOfRange,  // layer or datatype (or the mapped pair) outside 0..255
};
// Checks layer and datatype: pairs outside 0..255 would alias another
// layer's key (or a work or reference layer); the filter is tested with the
// key as read, the map then gives the stored key (which must also name a
// drawn layer). For OutOfRange, shownLayer and shownDatatype give the pair
// to report.
ElementLayer TakeElementLayer(int64_t layer, int64_t datatype,
                              const LayerKeySet* filter,
                              const std::map<LayerKey, LayerKey>* map,
                              LayerKey& key, int64_t& shownLayer,
                              int64_t& shownDatatype);
// The counted warning of an element skipped for its layer: "Warning: layer
// (%d %d) out of range 0..255 at (%d, %d)nm on cell %s, skip\n", printed
// within the report limit; reports and skipped grow by 1.
void ReportLayerOutOfRange(int32_t& reports, int32_t& skipped, int64_t layer,
                           int64_t datatype, int32_t xNm, int32_t yNm,
                           const std::string& cellName);

// Stores the references of a finished cell into the record being written
// (between LibDB::BeginReadRecord and LibDB::EndReadRecord): 1 x 1 arrays
// become single references, the references are sorted (SRef::Compare) and
// each one equal to its predecessor is dropped. refs keeps the stored
// references. Without references the cell gets the leaf flag. Returns the
// number dropped.
int32_t StoreReadReferences(LibDB& lib, DBCell* cell, std::vector<ARef>& refs);

// Counts of the reference line and the closing lines of a read's report.
struct ReadReportTail {
  int32_t singleRefs = 0;
  int32_t arrayRefs = 0;
  int32_t duplicateRefs = 0;
  int32_t magnifiedRefs = 0;
  int32_t badLayerElements = 0;  // skipped for their layer
  bool overLimit = false;        // some problem kind passed the report limit
};

// First lines of the report: the defined layers, the number of cells and
// the definitions made by this read (definitionsBefore: the definition
// count when it began) with the redefined count.
void PrintReadReportHead(const LibDB& lib, size_t definitionsBefore,
                         int32_t redefined);
// Last lines: references, skipped layers, the report-limit note.
void PrintReadReportTail(const ReadReportTail& tail);

// Throws Error("Reference cycle: cell %s is placed inside itself", unit)
// when the definitions of the library place a cell inside itself.
void CheckReferenceCycles(const LibDB& lib, const char* unit);

// The end of a read, after its report: adds magnifiedRefs to the library's
// magnified count, refuses reference cycles, rebuilds the hierarchy tables
// and boxes, prints "Hierarchy depth = %d\n" and the root lines, closes the
// cell data file and writes the directory files.
void FinishStreamRead(LibDB& lib, int32_t magnifiedRefs, const char* unit);

}  // namespace velmar
