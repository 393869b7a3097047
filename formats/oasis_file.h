// OASIS stream files (SEMI P39): the OasisFile object that the OASIS reader
// and writer share, and the encodings below the record level in both
// directions: unsigned and signed integers, reals, strings, the four kinds
// of displacement (1-, 2-, 3- and g-deltas), point lists, repetitions and
// the skipping of property values.
//
// Every value is decoded in 64 bits, whatever number of bytes its encoding
// takes (writers pad with long zero integers). A value that does not fit the
// field it is read into throws Error (unit "OASISIN"); so does the file
// ending inside a value ("Unexpected end of file"). Positions stay int32:
// displacements, point-list vertices and repetition offsets are kept in 64
// bits (the difference of two int32 coordinates needs 33), and every sum of
// a position and such an offset goes through Place, which refuses a result
// outside int32 instead of wrapping it.
//
// Writers also work in 64 bits and write through the stream, whose write
// failures throw Error (unit "OASISOUT"); values that an encoding cannot
// hold throw Error (unit "OASISOUT") before anything is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/binary_stream.h"
#include "foundation/box.h"
#include "geometry/point_system.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/trans.h"

namespace velmar {

class DBCell;
class LibDB;
struct CellDef;
struct CPgonListNode;

// A displacement, a point-list vertex relative to its record's position, or
// a repetition offset.
struct OasisDelta {
  int64_t x = 0;
  int64_t y = 0;
  friend constexpr bool operator==(const OasisDelta&, const OasisDelta&) = default;
};

// Vertices of a point list relative to the record's position; the first is
// (0, 0).
using OasisPoints = std::vector<OasisDelta>;

// Largest magnitude of a relative vertex or repetition offset: adding it to
// an int32 position can still give an int32 coordinate (2^32 - 1).
inline constexpr int64_t kOasisMaxOffset = 0xFFFFFFFFll;

// Modal variables that a record may take from earlier records of the same
// cell (the names SEMI P39 gives them); bits of OasisFile::modalSet. The
// positions and xy-mode always have a value (reset at every cell).
enum OasisModal : uint32_t {
  kModalRepetition = 1u << 0,
  kModalPlacementCell = 1u << 1,
  kModalLayer = 1u << 2,
  kModalDatatype = 1u << 3,
  kModalTextlayer = 1u << 4,
  kModalTexttype = 1u << 5,
  kModalTextString = 1u << 6,
  kModalGeometryW = 1u << 7,
  kModalGeometryH = 1u << 8,
  kModalPolygonPointList = 1u << 9,
  kModalPathHalfwidth = 1u << 10,
  kModalPathPointList = 1u << 11,
  kModalPathStartExtension = 1u << 12,
  kModalPathEndExtension = 1u << 13,
  kModalCtrapezoidType = 1u << 14,
  kModalCircleRadius = 1u << 15,
  kModalLastPropertyName = 1u << 16,
  kModalLastValueList = 1u << 17,
};

// The variable's name as SEMI P39 gives it ("repetition", "layer", ...).
const char* OasisModalName(OasisModal variable);

// Statistics of one read, printed in its report.
struct OasisCounters {
  int32_t polygons = 0;
  int32_t paths = 0;
  int32_t boxes = 0;
  int32_t trapezoids = 0;  // TRAPEZOID and CTRAPEZOID
  int32_t arbitraryAngles = 0;
  int32_t singleRefs = 0;
  int32_t arrayRefs = 0;
  int32_t duplicateRefs = 0;
  int32_t magnifiedRefs = 0;
  int32_t polygons45 = 0;
  int32_t texts = 0;
  int32_t circles = 0;
  int32_t properties = 0;
  int32_t skipped = 0;
  int32_t pointLineWarnings = 0;
  int32_t redefinedCells = 0;
};

class OasisFile {
 public:
  // Highest repetition type.
  static constexpr int32_t kRepetitionLast = 11;

  OasisFile();
  ~OasisFile();  // gives the work list's points back
  OasisFile(const OasisFile&) = delete;
  OasisFile& operator=(const OasisFile&) = delete;

  // --- The file ---------------------------------------------------------------
  // Every access goes through it; OASIS files are always plain files.
  BinaryStream stream;
  // The string read last (ReadString), of any length; may hold NUL bytes.
  std::string text;

  // Opens path as a plain file for reading; throws Error("Cannot open file
  // %s!", "OASISIN") when it cannot be opened.
  void OpenInput(const std::string& path);
  // Opens path as a plain file for writing, replacing an existing file;
  // throws Error("Cannot open file %s!", "OASISOUT") when it cannot be
  // opened.
  void OpenOutput(const std::string& path);

  // --- Reading ----------------------------------------------------------------
  // Unsigned integer: 7 bits per byte, low group first, bit 7 set when
  // another byte follows; any number of bytes. A value above 64 bits throws
  // "Integer too large".
  uint64_t ReadUnsigned64();
  // Signed integer: the unsigned encoding of (magnitude << 1) | sign, the
  // sign 1 for a negative value. Magnitudes up to 2^63 - 1.
  int64_t ReadSigned64();
  // The same, for fields of 32 bits: a value outside uint32 (int32 for the
  // signed form, 0..INT32_MAX for ReadNonNegative) throws "Integer too large
  // for its field".
  uint32_t ReadUnsigned();
  int32_t ReadSigned();
  int32_t ReadNonNegative();
  // Real: an unsigned type 0-7 and its data (u, -u, 1/u, -1/u, u/v, -u/v,
  // IEEE single, IEEE double, little-endian). The quotients are computed
  // without a test of the divisor (1/0 is infinite); callers that need a
  // finite value check it. A type above 7 throws "Unkown Real Format".
  double ReadReal();
  // String: an unsigned length and that many bytes, into text; returns
  // text. Any length; the bytes are read in blocks as they arrive, so a
  // length larger than the file allocates no more than the file holds.
  const std::string& ReadString();
  // Passes over one string without keeping it.
  void SkipString();
  // Reads one property value (an unsigned type and its data) and drops it.
  // A type above 15 throws Error(nullptr, "OASISIN") ("Not Specified").
  void ReadPropertyValue();

  // Displacements. 1-delta: a signed integer, along x, or along y when
  // vertical is set. 2-delta: direction u & 3 (east, north, west, south),
  // magnitude u >> 2. 3-delta: direction u & 7 (the four of the 2-delta,
  // then north-east, north-west, south-west, south-east), magnitude u >> 3.
  // g-delta: bit 0 clear: direction (u >> 1) & 7 as for the 3-delta,
  // magnitude u >> 4; bit 0 set: dx of magnitude u >> 2, negative when bit 1
  // is set, then an unsigned w giving dy of magnitude w >> 1, negative when
  // bit 0 of w is set.
  OasisDelta ReadDelta1(bool vertical);
  OasisDelta ReadDelta2();
  OasisDelta ReadDelta3();
  OasisDelta ReadDeltaG();

  // Point list: an unsigned type and an unsigned count of deltas that
  // follow; points becomes (0, 0) and each further vertex the previous one
  // plus the next delta: type 0 1-deltas alternating horizontal and
  // vertical (horizontal first), type 1 the same vertical first, type 2
  // 2-deltas, type 3 3-deltas, type 4 g-deltas, type 5 g-deltas added to a
  // running displacement that is added to the previous vertex. Unless open
  // (a path), a type-0 list gets the vertex (0, y of the last) and a type-1
  // list (x of the last, 0); the ring closes from the last vertex back to
  // the first. Throws "Unknown point list type" for a type above 5, "Point
  // list count too large" for a count from 2^31, and "Point list leaves the
  // coordinate range" for a vertex farther than kOasisMaxOffset from the
  // first. The list grows as deltas arrive: a count larger than the file
  // allocates no more than the file holds.
  void ReadPointList(OasisPoints& points, bool open);

  // Repetition: an unsigned type and its fields (below), into the
  // repetition state. Type 0 repeats the repetition last read in the cell;
  // without one it throws the unset-modal error for record (RequireModal).
  // Types 1-3 and 8-9 are kept as their counts and steps (never expanded
  // here), types 4-7 and 10-11 as their offsets. The instance count along
  // each dimension (the stored field + 2) must fit int32 ("Repetition count
  // too large"); the product of two may not, and callers that expand a
  // repetition bound it themselves. Every offset must lie within
  // kOasisMaxOffset of the first instance ("Repetition leaves the
  // coordinate range"); a type above 11 throws "Unknown Repetition ".
  //   1  x-dimension, y-dimension, x-space, y-space
  //   2  x-dimension, x-space        3  y-dimension, y-space
  //   4  n, n + 1 x-spacings         5  n, grid, n + 1 x-spacings (x grid)
  //   6  n, n + 1 y-spacings         7  n, grid, n + 1 y-spacings (x grid)
  //   8  n, m, n-displacement, m-displacement (g-deltas)
  //   9  n, displacement (g-delta)
  //   10 n, n + 1 g-deltas           11 n, grid, n + 1 g-deltas (x grid)
  void ReadRepetition(const char* record);
  // Instances of the current repetition, and the offset of instance i from
  // the first (0 <= i < RepetitionCount()), in the order of SEMI P39: types
  // 1 and 8 column by column (the x or n index outer, the y or m index
  // inner), the listed types in list order.
  int64_t RepetitionCount() const;
  OasisDelta RepetitionOffset(int64_t i) const;

  // --- Modal state ------------------------------------------------------------
  // Start of a cell: positions 0, xy-absolute 1, every other modal variable
  // unset (repetition type 0).
  void ResetModal();
  // Throws Error("%s record uses modal variable %s not set in this cell",
  // "OASISIN") with the record name and the variable's name unless the
  // variable is set.
  void RequireModal(OasisModal variable, const char* record) const;
  void SetModal(OasisModal variable) { modalSet |= variable; }
  bool IsModalSet(OasisModal variable) const { return (modalSet & variable) != 0; }

  // base + offset as a coordinate; throws Error("Coordinate out of range",
  // "OASISIN") when the sum leaves int32.
  static int32_t Place(int32_t base, int64_t offset);

  // --- Writing ----------------------------------------------------------------
  void WriteUnsigned(uint64_t value);
  // Magnitudes up to 2^63 - 1 (INT64_MIN throws).
  void WriteSigned(int64_t value);
  // Length, then the bytes.
  void WriteString(std::string_view s);
  // With v's magnitude rounded half away from zero to r: type 0 (v >= 0) or
  // 1 and r when v is not zero-rounded and lies within 2^-23 of r; else,
  // with q = 1/|v| rounded to s >= 1, type 2 or 3 and s when q lies within
  // 2^-23 of s; else type 7 and the 8 bytes of v. Zero is type 0, 0; no
  // other value is ever written as 0. A value that is not finite throws
  // Error("Real value is not finite", "OASISOUT").
  void WriteReal(double value);
  // The x (or, when vertical, the y) of d as a signed integer.
  void WriteDelta1(OasisDelta d, bool vertical);
  // d along an axis (a zero displacement is written as south, 0); any other
  // displacement throws Error("Displacement not along an axis", "OASISOUT").
  void WriteDelta2(OasisDelta d);
  // d along an axis or a diagonal; any other displacement throws
  // Error("Displacement not along an axis or diagonal", "OASISOUT").
  void WriteDelta3(OasisDelta d);
  // Along an axis or a diagonal the one-integer form (a zero displacement
  // counting as east), otherwise the two-integer form.
  void WriteDeltaG(OasisDelta d);
  // Type-10 repetition through the placements (at least two), in order: 10,
  // the count less 2, then the g-delta from each placement to the next.
  void WriteRepetitionList(std::span<const Point> placements);

  // --- Modal variables (reset at every cell, ResetModal) ----------------------
  uint32_t modalSet = 0;  // OasisModal bits of the variables set
  int32_t repetitionType = 0;  // 0: none read in this cell
  int32_t placementX = 0, placementY = 0;
  int32_t geometryX = 0, geometryY = 0;
  int32_t textX = 0, textY = 0;
  uint8_t xyAbsolute = 1;  // 1 absolute, 0 relative coordinates
  int64_t geometryW = 0, geometryH = 0;
  std::string placementCell;            // by name (with the cell-name prefix)
  int64_t placementCellReference = -1;  // by number; -1 when given by name
  uint32_t layer = 0, datatype = 0;
  uint32_t textlayer = 0, texttype = 0;
  std::string textString;
  int64_t textStringReference = -1;  // -1 when given as a string
  int64_t pathHalfwidth = 0;
  // Path extensions in force: 0 (flush), the half-width of their record, or
  // the value given.
  int64_t startExtension = 0, endExtension = 0;
  int32_t ctrapezoidType = -1;
  int64_t circleRadius = 0;
  // The two point lists, relative to their record's position.
  OasisPoints polygonPoints;
  OasisPoints pathPoints;

  // --- The repetition last read --------------------------------------------------
  int32_t xDimension = 0, yDimension = 0;  // types 1-3: instance counts
  int64_t xSpace = 0, ySpace = 0;          // types 1-3: spacing
  int32_t nDimension = 0, mDimension = 0;  // types 8-9: instance counts
  OasisDelta nDisplacement, mDisplacement;  // types 8-9
  // Types 4-7, 10, 11: one offset per instance, the first (0, 0).
  std::vector<OasisDelta> repetitionOffsets;

  // --- The record being read ---------------------------------------------------
  double placementMagnification = 1.0;
  double placementAngle = 0.0;  // degrees
  uint8_t placementFlip = 0;
  int64_t deltaA = 0, deltaB = 0;  // TRAPEZOID
  uint8_t trapezoidVertical = 0;   // O bit of TRAPEZOID

  // --- Reader and writer frame --------------------------------------------------
  LibDB* library = nullptr;
  const std::set<int32_t>* layerFilter = nullptr;     // null: keep all
  const std::map<int32_t, int32_t>* layerMap = nullptr;  // null: none
  std::string cellPrefix;          // reader: prepended to every cell name
  int32_t tableOffsetFlag = 0;     // reader: offset-flag of START
  CellDef* currentDefinition = nullptr;  // reader: the cell being read
  // Reader: OASIS cell reference number -> library cell id.
  std::unordered_map<uint64_t, int32_t> referenceCells;
  int32_t implicitCellNames = 0;    // reader: CELLNAME with implicit number
  int32_t implicitTextStrings = 0;  // reader: TEXTSTRING with implicit number
  // Writer: per cell id its reference number, -1 for cells not written.
  std::vector<int64_t> writerReferenceNumbers;
  PSList workList;  // reader: ring under construction
  OasisCounters counters;
  double progress = 0.0;  // reader: fraction of the file last reported
  int32_t problemReportLimit = 20;

  // --- Reading a file (oasis_reader.cpp) ----------------------------------------
  // Reads the OASIS file at path into lib: OpenInput, ReadHead, ReadBody.
  // The library's cell data stream must be open for writing (a new "db%d"
  // file) before.
  void Read(const std::string& path, LibDB* lib);
  // The file's head: magic and START. The library takes the file's unit
  // (LibDB::TakeFileUnits: a library holding cells refuses another unit);
  // the START unit must be finite and above 0.
  void ReadHead(LibDB* lib);
  // The records up to END, then the report and the end of the read
  // (FinishStreamRead): hierarchy tables and directory files.
  //
  // Cells: OASIS reference numbers and names are resolved through maps of
  // the read, never used as library ids: every cell the file names or
  // references becomes a new library cell (LibDB::AddCell). A name that a
  // cell from before the read holds moves that older cell to the next free
  // name (reported). A cell still without name at END, or one met by name
  // and by another reference number before its CELLNAME, is refused.
  // Modal variables are reset at each CELL; a record that uses one not set
  // in the cell is refused. CBLOCK is refused ("CBlock not supported yet").
  // Layers or datatypes outside 0..255 are skipped with a counted warning.
  void ReadBody();

  // Ignored: texts are never stored (kept for the caller's settings).
  bool ignoreText = false;
  // Largest number of instances one repetition may expand into (single
  // references or shape placements); more is refused. Regular arrays of
  // placements are stored as array references and not limited.
  int64_t maxRepetitionInstances = int64_t(1) << 26;
  // --- Writing a file (oasis_writer.cpp) ----------------------------------------
  // Writes the whole library (OpenOutput first): START, a CELLNAME table,
  // one CELL per cell with a proper box, its shapes and references read
  // back from the library's cell data files, END (256 bytes). Layers pass
  // the layer filter and map; references to cells not written are left
  // out. A cell without name throws Error (unit "OASISOUT"). The library's
  // cell data stream is left closed.
  void Write();
  // Writes the elements of cell (in memory, with its search trees) that lie
  // in window: everything when the cell's box lies inside it; otherwise the
  // placements its trees find in the window, each as its own record, and
  // the references whose placed children overlap it (of an array, the
  // smallest sub-array holding the elements that do; an array none of whose
  // elements does is left out). An empty filter keeps every layer. The
  // caller writes the CELL record first.
  void WriteCellWindow(DBCell* cell, const Box& window, const LayerKeySet& filter,
                       const std::map<LayerKey, LayerKey>& map);

  // Elements skipped for their layer, and their reports.
  int32_t badLayerElements = 0;
  int32_t badLayerReports = 0;
  int32_t refAngleReports = 0;

 private:
  // Reader steps.
  void ReadTopRecords();
  // Reads the elements of the cell just begun; returns the record id that
  // ended it.
  uint64_t ReadCellElements();
  void BeginCell(int32_t id);
  void FinishCell();
  void ReadEnd();
  void ReadCellName(bool explicitNumber);
  void ReadLayerName();
  void ReadProperty();
  void ReadPlacement(bool withMagnification);
  void ReadText();
  void ReadRectangle();
  void ReadPolygon();
  void ReadPath();
  void ReadTrapezoid(uint64_t id);
  void ReadCTrapezoid();
  void ReadCircle();
  void ReadXGeometry();
  // Shared fields of the geometry records.
  void ReadLayerFields(uint8_t info, const char* record);
  void ReadGeometryXY(uint8_t info);
  int64_t ReadDimension();
  std::string ReadCellNameString();
  // Cells of the read.
  int32_t CellByNumber(uint64_t number);
  int32_t CellByName(const std::string& name);
  void ClaimName(const std::string& name);
  // Shape elements: kind 0 rectangle, 1 polygon, 2 path, 3 trapezoid,
  // 4 ctrapezoid, 5 circle. Emits the element at the geometry position,
  // and with a repetition every further instance as another placement of
  // the same stored shape.
  void EmitShape(int kind, bool repeated);
  bool StoreShape(int kind, CPgonListNode*& shape, Box& box);
  bool StoreRing(int kind, LayerKey key, CPgonListNode*& shape, Box& box);
  void ReportPointLine(int kind, int32_t x, int32_t y);
  // Placements.
  void EmitPlacements(const Trans& t, bool repeated);
  void EmitGrid(const Trans& t, int64_t nx, int64_t sx, int64_t ny, int64_t sy);
  void AddReference(const Trans& t, int16_t columns, int16_t rows, int32_t columnPitch,
                    int32_t rowPitch);
  void CheckInstances(int64_t count, const char* record) const;
  std::string CellLabel() const;
  void ReportProgress();

  // Writer steps.
  void WriteCellRecord(DBCell* cell);
  bool WriterKeeps(LayerKey key) const;
  LayerKey WriterKey(LayerKey key) const;
  // One shape: its ring relative to the origin vertex and its placements
  // (the origin vertex's positions); with repeat and two or more
  // placements one record with a type-10 repetition, else one record at
  // the first placement.
  void WriteShape(const std::vector<Point>& ring, int kind, const std::vector<Point>& at,
                  LayerKey key, bool repeat);
  void WriteLayerFields(uint8_t& info, LayerKey key);
  void WriteXYFields(uint8_t& info, int32_t x, int32_t y);
  void WriteReference(const SRef& ref, int32_t number);
  void WriteRepetitionOf(const std::vector<Point>& at, bool repeat);
  const std::map<LayerKey, LayerKey>* windowMap_ = nullptr;

  // Reader state.
  std::unordered_map<std::string, int32_t> nameCells_;  // name -> id, this read
  std::vector<char> named_;          // by id - firstReadId_: named in the file
  int32_t firstReadId_ = 0;          // the first cell id of this read
  int32_t placementCellId_ = -1;     // library id of the modal placement cell
  int32_t explicitCellNames_ = 0;
  int32_t explicitTextStrings_ = 0;
  DBCell* cell_ = nullptr;           // the cell being read
  int32_t cellId_ = -1;
  size_t definitionsBefore_ = 0;
  LayerKey key_ = 0;                 // stored key of the element being read
  uint64_t recordLayer_ = 0, recordDatatype_ = 0;  // as read, for reports

  uint8_t ReadByte();
  void SkipInteger();
  void SkipBytes(uint64_t n);
};

// The OASIS part of exporting a library: writes lib (its names read, its
// cell data files current) to path through OasisFile::Write with the layer
// filter and map (null or empty: none) and closes the file. Throws Error
// ("OASISOUT", or "LIBIN" for the library's own data); the file is then
// incomplete, so callers write to a temporary file renamed over the target
// only when this returns.
void WriteOasisFile(LibDB& lib, const std::string& path, const LayerKeySet* filter,
                    const std::map<LayerKey, LayerKey>* map);

}  // namespace velmar
