// GDSII writer: writes GDSII Stream files, plain or gzip-compressed, from a
// library.
//
// Three ways produce structures: WriteCell streams one cell's stored record
// from the library's cell data file to the output, one placement at a time,
// without building the cell in memory (WriteLibrary writes a whole library
// so); WriteCellWindow writes what of an in-memory cell meets a window; and
// WriteBoundary writes polygon sets as boundaries. Rings with more vertices
// than the vertex limit are cut on square tiles into pieces that fit.
// Coordinates are multiplied by the library's output scale on the way out.
//
// The file is written to a temporary file beside the target and renamed
// over it by Finish, once every byte is out: a writer dropped without
// Finish (after any Error) leaves the target untouched and removes the
// temporary file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "formats/gds_records.h"
#include "foundation/box.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/trans.h"

namespace velmar {

class AtomicFile;
class DBCell;
class DBPolygon;
class LibDB;
struct PSList;
struct PSPoint;
struct Path;

// A text element for WriteText.
struct GdsText {
  Trans trans;  // position, magnification, orientation
  int16_t layer = 0;
  int16_t textType = 0;
  std::string text;
  uint16_t presentation = 0;
  int16_t pathType = 0;
  int32_t width = 0;
};

class GdsWriter : public GdsRecordWriter {
 public:
  static constexpr int32_t kDefaultVertexLimit = 4096;
  // 8,191 points (the vertices and the closing one) fill a 65,532-byte XY
  // record: no boundary can have more vertices.
  static constexpr int32_t kMaxVertexLimit = 8190;
  // The smallest ring that can be cut into pieces: a triangle cut by a tile
  // side may give a four-vertex piece.
  static constexpr int32_t kMinVertexLimit = 4;

  // Creates the temporary file beside path and opens the output on it
  // (gzip at level 1 when gzip is set). Throws Error("Cannot open file
  // <path>!", "GDSOUT") when that fails.
  GdsWriter(const std::string& path, bool gzip);
  // Without Finish: closes and removes the temporary file; the target is
  // left as it was.
  ~GdsWriter();
  GdsWriter(const GdsWriter&) = delete;
  GdsWriter& operator=(const GdsWriter&) = delete;

  // Closes the output and renames the temporary file over the target.
  // Throws Error (unit "GDSOUT") when writing, closing or renaming fails;
  // the target then stays untouched.
  void Finish();

  // --- Settings --------------------------------------------------------------
  // Largest vertex count of one boundary. A limit above kMaxVertexLimit or
  // below kMinVertexLimit is taken as that bound, with one warning line.
  void SetVertexLimit(int32_t limit);
  int32_t VertexLimit() const { return vertexLimit_; }
  // Only these keys are written; null or empty: every key. Not owned.
  const LayerKeySet* layerFilter = nullptr;
  // Key replacement on output; null or empty: none. Not owned.
  const std::map<LayerKey, LayerKey>* layerMap = nullptr;
  // The library whose head was written last.
  LibDB* library = nullptr;

  // --- Whole files and structures -----------------------------------------
  // Head, every stored cell with a valid box in id order, ENDLIB.
  void WriteLibrary(LibDB* lib);
  // HEADER, BGNLIB, LIBNAME, UNITS. The user unit is the one a GDSII file
  // read in this process gave the library, else metres per database unit
  // x 1e6 (a micron user unit). Refuses an output scale that is not finite
  // and above 0 ("GDSOUT").
  void WriteLibraryHead(LibDB* lib);
  // BGNSTR, STRNAME.
  void WriteCellHead(const DBCell* cell);
  // One structure from the cell's stored record; the library's cell data
  // stream stands at the cell's start. ENDSTR included.
  void WriteCell(DBCell* cell);
  // One structure of what of the in-memory cell meets the window (loaded
  // from its record when it holds nothing): shapes on the filter's layers
  // (empty: all) that meet it, written whole; references whose placed box
  // meets it, arrays cut down to the rows and columns hit. With
  // onlyMarkedChildren, references to cells without the Marked flag are
  // left out. ENDSTR included.
  void WriteCellWindow(DBCell* cell, const Box& window,
                       const LayerKeySet& filter,
                       const std::map<LayerKey, LayerKey>* map,
                       bool onlyMarkedChildren = false);
  // ENDSTR, ENDLIB.
  void WriteEndStructure();
  void WriteEndLibrary();

  // --- Elements -------------------------------------------------------------
  // The polygon placed with its origin vertex at (ox, oy): one BOUNDARY, or
  // several when it has more vertices than the limit.
  void WritePolygon(const DBPolygon& polygon, int32_t ox, int32_t oy,
                    int16_t layer, int16_t datatype);
  // One BOUNDARY per ring of the list (rings above the limit cut into
  // pieces, rings of fewer than 3 vertices left out). The list is not
  // changed (its visited marks are cleared at the end).
  void WriteBoundary(PSList& list, int16_t layer, int16_t datatype);
  void WriteStrans(const Trans& t);
  void WriteSRef(const SRef& ref);
  void WriteARef(const ARef& ref);
  void WriteText(const GdsText& text);
  void WriteBox(const Box& box, int16_t layer, int16_t boxType);
  // Path types 0, 1 and 2 as they are; type 3 (explicit extensions) as
  // type 4 with BGNEXTN and ENDEXTN.
  void WritePath(const Path& path, int16_t layer, int16_t datatype);
  void WriteRectangle(const Box& box, int16_t layer, int16_t datatype);

  // --- Coordinates ---------------------------------------------------------
  // A coordinate as written: v at output scale 1, else floor(s v + 0.5);
  // Error "GDSOUT" outside the int32 range.
  int32_t OutputCoordinate(int64_t v) const;

 private:
  // The ring through start, placed at (dx, dy), as one BOUNDARY of n
  // vertices (walked along next).
  void WriteRing(const PSPoint* start, int32_t n, int64_t dx, int64_t dy,
                 int16_t layer, int16_t datatype);
  // Cuts the rings of list (relative to (dx, dy)) until no ring has more
  // vertices than the limit and writes the pieces. The list is consumed.
  void CutAndWrite(PSList& list, int32_t vertices, int64_t dx, int64_t dy,
                   int16_t layer, int16_t datatype);
  // Layer and datatype of a key after the map; false when the filter
  // leaves the key out.
  bool OutputLayer(LayerKey key, const LayerKeySet* filter,
                   const std::map<LayerKey, LayerKey>* map, int16_t& layer,
                   int16_t& datatype) const;
  void WriteInt16Record(uint8_t type, int16_t value);
  void WriteName(uint8_t type, const std::string& name);
  void WriteRefName(const SRef& ref);
  void PutPoint(int64_t x, int64_t y);

  std::string target_;
  std::unique_ptr<AtomicFile> file_;
  int32_t vertexLimit_ = kDefaultVertexLimit;
  double scale_ = 1.0;  // output scale of the library
  bool finished_ = false;
};

// The columns [c0, c1] and rows [r0, r1] of the array's elements whose
// placed child boxes overlap the window (open overlap); the hit elements
// are exactly these ranges' product. False when no element is hit.
bool ArrayHitRange(const ARef& ref, const Box& childBox, const Box& window,
                   int32_t& c0, int32_t& c1, int32_t& r0, int32_t& r1);

}  // namespace velmar
