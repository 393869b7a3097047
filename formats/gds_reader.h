// GDSII reader: reads one GDSII Stream file, plain or gzip-compressed, into
// a library.
//
// The file is read one structure at a time. The elements of a structure
// become shapes in the memory of its cell and references in the cell's
// definition (CellDef); at the end of the structure the cell record (layer
// blocks, then the reference section) is appended to the library's open cell
// data file and the shapes are dropped from memory. A structure whose stored
// geometry grows past flushThreshold vertices has that geometry moved into
// generated child cells while it is read ("large-cell flushing"), so that the
// memory for one structure stays bounded. After the last structure the
// library's hierarchy tables are rebuilt and its directory files written.
//
// TEXT, NODE, BOX and properties are read and counted but not stored. Round
// path ends become square ones; reference angles that are not right angles
// are snapped to right angles (reported).
//
// Use: construct on the file, set the options, open the library's cell data
// stream for writing (a new "db%d" file, whose number is the library's write
// and open file number), call Read once, drop the reader. A failed read
// leaves what it added in the library's memory; a caller that must keep the
// library as it was runs the read inside a LibraryLoad (lib_db.h).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "formats/gds_records.h"
#include "geometry/point_system.h"
#include "layoutdb/cell_record.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/trans.h"

namespace velmar {

class DBCell;
class LibDB;
struct CellDef;
struct Path;

class GdsReader : public GdsRecordReader {
 public:
  static constexpr int64_t kDefaultFlushThreshold = 50000000;
  static constexpr int32_t kDefaultFlushTileSize = 200000;  // nanometres
  // Largest number of tiles of one flush; beyond it the tiles grow.
  static constexpr int64_t kMaxFlushTiles = 65536;

  // Opens the input (gzip when gzip is set). Throws Error("Cannot open file
  // %s!", "GDSIN") when it cannot be opened. flushThreshold is the stored
  // vertex count of one structure at which its geometry is flushed into
  // generated cells (values below 1 are taken as 1).
  GdsReader(const std::string& path, bool gzip,
            int64_t flushThreshold = kDefaultFlushThreshold);
  ~GdsReader();

  // Reads the whole file into library, or throws Error (unit "GDSIN", or
  // the unit of a library service). On an error the structures completed so
  // far are in the cell data file and the directory files are not written.
  void Read(LibDB* library);
  // Read in two steps, as Read runs them: the library head (HEADER to
  // UNITS; a library that holds cells refuses a file in another database
  // unit here, before the cell data file is needed), then the structures
  // and the end of the read. The cell data stream must be open before
  // ReadLibraryBody.
  void ReadLibraryHead(LibDB* library);
  void ReadLibraryBody();

  // --- Options, set before Read ---------------------------------------------
  // Only these layer keys are read (BOUNDARY, PATH; TEXT counting); null:
  // every layer. Not owned.
  const LayerKeySet* layerFilter = nullptr;
  // Key replacement of stored shapes; null: none. Not owned.
  const std::map<LayerKey, LayerKey>* layerMap = nullptr;
  // TEXT elements are not counted.
  bool ignoreText = false;
  // Prepended to every cell name read (empty: none).
  std::string cellPrefix;

  // --- Counters of the read (zeroed by Read) ---------------------------------
  LibDB* library = nullptr;
  int32_t boundaries = 0;         // stored boundaries
  int32_t paths = 0;              // stored paths
  int32_t arbitraryPolygons = 0;  // polygons stored in the general form
                                  // (also the count of their reports)
  int32_t singleRefs = 0;
  int32_t arrayRefs = 0;
  int32_t duplicateRefs = 0;
  int32_t magnifiedRefs = 0;
  int32_t polygons45 = 0;  // polygons stored in the octangular form
  int32_t texts = 0;
  int32_t nodes = 0;
  int32_t boxes = 0;
  int32_t properties = 0;
  // Elements skipped because their layer or datatype lies outside 0..255 (or
  // their mapped key outside the drawn layers).
  int32_t badLayerElements = 0;

  // --- Problem reports --------------------------------------------------------
  int32_t pendingAngle = 0;       // non-right STRANS angle not reported yet
  int32_t refAngleReports = 0;    // arbitrary reference angles
  int32_t problemPolygons = 0;    // problems of the current structure
  int32_t pointLineReports = 0;   // point/line polygons and single points
  int32_t redefined = 0;          // structures that redefined a cell

  // --- Large-cell flushing -------------------------------------------------
  int64_t vertexCount = 0;     // vertices stored since the structure began
                               // or since the last flush
  int64_t flushThreshold;
  int32_t generatedCells = 0;  // generated in the current structure
  int32_t flushTileSize = kDefaultFlushTileSize;

  double lastProgress = 0.0;  // fraction of the input reported last

  // --- Steps of Read (public for tests) ---------------------------------------
  void ReadBgnLib();
  void ReadLibrarySettings();
  void ReadLibName();
  void ReadUnits();
  bool ReadStructure();
  bool ReadElement(CellDef* def);
  void ReadProperties();
  bool ReadBoundary();
  bool ReadPath();
  bool ReadSRef(CellDef* def);
  bool ReadARef(CellDef* def);
  bool ReadText();
  void ReadTextBody();
  bool ReadNode();
  bool ReadBox();
  // Reads the XY record just taken as one ring into work (closed: the last
  // point must repeat the first and is dropped; otherwise it is dropped
  // too). Returns the number of points of the record.
  int32_t ReadXY(bool closed);
  // The ring of the n points of an XY record already in xy_, into work (as
  // ReadXY, with its reports and errors).
  void RingFromXY(int32_t n, bool closed);
  // Reads an optional STRANS (with MAG and ANGLE) into t; false when no
  // STRANS comes next.
  bool ReadStrans(Trans& t);
  // Appends the cell's raw layers as layer blocks to the cell record being
  // written (LibDB::MoveLayersToRecord): adds their keys to the layer table
  // and empties the cell's raw layers.
  void StoreCellGeometry(DBCell* cell);

  // Large-cell flushing of the current structure's stored geometry into
  // generated cells, each placed once by an identity reference.
  void FlushGeometry(CellDef* def, DBCell* cell);
  void TileCell(CellDef* def, DBCell* cell, int32_t tile);
  // A new cell with its own (empty) definition; returns it, id in id.
  DBCell* NewCell(const std::string& name, int32_t& id);

 private:
  // Reads a name record (STRNAME, SNAME) just taken: the string with
  // cellPrefix in front.
  std::string ReadCellName();
  // The id of the named cell, or -1. A cell generated by flushing that
  // holds the name gives it up first: the generated cell takes the next free
  // name, so that a structure of the file never lands on it.
  int32_t FindFileCell(const std::string& name);
  // The id of the cell a reference (SREF or AREF, named by kind in the
  // report) places, the cell added when it is new. Reports a magnified
  // reference and an arbitrary angle snapped by ReadStrans (pendingAngle,
  // then cleared); t holds the reference's origin.
  int32_t ReferencedCell(const char* kind, const std::string& name,
                         const Trans& t);
  // The key of a BOUNDARY or PATH: layer * 256 + datatype, replaced by the
  // layer map. False when the element is not stored: silently when the
  // layer filter excludes it; reported and counted when the layer or
  // datatype lies outside 0..255 or the map gives a key outside the drawn
  // layers (the key would alias another layer, a work layer or the
  // reference store). The report position is work's head.
  bool TakeLayer(int16_t layer, int16_t datatype, LayerKey& key);
  // Stores the ring in work as a shape of key in the current cell, with the
  // reports of its kind; the report position is work's head.
  void StoreRing(LayerKey key, bool isPath);
  // Point/line report and problem count at (x, y) database units.
  void ReportPointLine(int32_t x, int32_t y, LayerKey key);
  // Flushes when the vertex count has reached the threshold.
  void FlushIfFull();
  // A BOUNDARY whose XY record (n points, in xy_) is a closed square or
  // rectangle of a storable key, kept in rectangles_ (the cell's box, the
  // counts and the flush check as StoreRing). False when it is anything
  // else: the caller takes the general road.
  bool StageRectangle(int16_t layer, int16_t datatype, int32_t n);
  // Turns the rectangles kept for the current cell into shapes of its raw
  // layers, in the order they were read: before any other shape joins the
  // cell, and before a flush, so that the cell holds what the general road
  // would have made.
  void RectanglesToShapes();
  // Progress line when the input fraction moved on by more than 0.1.
  void ReportProgress();
  double InputFraction();
  // floor(v / d + 0.5): database units to nanometres for reports.
  int32_t Nm(int32_t v) const;
  void PrintReport(size_t definitionsBefore);

  std::optional<std::string> fileLibName_;  // LIBNAME read, not yet taken
  PSList work_;                // rings of the element being read
  DBCell* cell_ = nullptr;     // cell of the structure being read
  CellDef* def_ = nullptr;     // its definition
  std::string cellName_;       // its name
  std::vector<uint8_t> xy_;    // payload of an XY record
  // Squares and rectangles of the current cell not (yet) made shapes.
  std::vector<PlacedRectangle> rectangles_;
  std::vector<char> generated_;  // by cell id: generated by flushing
  int32_t badLayerReports_ = 0;
  int64_t compressedSize_ = 0;  // size of a gzip input file
};

}  // namespace velmar
