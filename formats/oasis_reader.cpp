// OASIS reader: the file frame, name records, cells, placements, geometry
// records and their repetitions, into a library through the cell-record
// writer of the layout database.

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>

#include "formats/oasis_file.h"
#include "formats/stream_read_end.h"
#include "foundation/error.h"
#include "geometry/point_list_edit.h"
#include "geometry/segment_geometry.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/db_polygon.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/path_outline.h"
#include "layoutdb/shape_list.h"

namespace velmar {

namespace {

constexpr const char* kUnit = "OASISIN";
constexpr const char* kMagic = "%SEMI-OASIS\r\n";
constexpr int32_t kMaxArrayCount = 32767;  // columns and rows are int16

[[noreturn]] void Fail(const std::string& message) { throw Error(message, kUnit); }

// Record ids.
enum : uint64_t {
  kPad = 0, kStart = 1, kEnd = 2, kCellNameImplicit = 3, kCellNameExplicit = 4,
  kTextStringImplicit = 5, kTextStringExplicit = 6, kPropNameImplicit = 7,
  kPropNameExplicit = 8, kPropStringImplicit = 9, kPropStringExplicit = 10,
  kLayerName = 11, kTextLayerName = 12, kCellByNumber = 13, kCellByName = 14,
  kXyAbsolute = 15, kXyRelative = 16, kPlacement = 17, kPlacementMag = 18,
  kText = 19, kRectangle = 20, kPolygon = 21, kPath = 22, kTrapezoid = 23,
  kTrapezoidA = 24, kTrapezoidB = 25, kCTrapezoid = 26, kCircle = 27,
  kProperty = 28, kPropertyRepeat = 29, kXName = 30, kXNameExplicit = 31,
  kXElement = 32, kXGeometry = 33, kCBlock = 34,
};

enum ShapeKind { kRect = 0, kPoly = 1, kPathShape = 2, kTrap = 3, kCTrap = 4, kCirc = 5 };

const char* const kKindWord[] = {"rectangle", "polygon", "path", "trapezoid", "ctrapezoid",
                                 "circle"};
const char* const kAngleWord[] = {"", "", " path", " trapezoid", " ctrapezoid", ""};

// Rounds half away from zero.
double RoundHalfAway(double v) { return v < 0 ? -std::floor(0.5 - v) : std::floor(v + 0.5); }

// A value that must fit int32 (a dimension, half-width or extension).
int32_t Int32Field(int64_t v, const char* what) {
  if (v < INT32_MIN || v > INT32_MAX) Fail(std::string(what) + " out of range");
  return int32_t(v);
}

// The vertices of CTRAPEZOID type t with width w and height h, relative to
// its position, in SEMI P39 order (2 * w and 2 * h fit int64).
int CTrapezoidRing(int t, int64_t w, int64_t h, int64_t (*out)[2]) {
  struct V { int64_t x, y; };
  auto set = [&](std::initializer_list<V> vs) {
    int n = 0;
    for (const V& v : vs) {
      out[n][0] = v.x;
      out[n][1] = v.y;
      ++n;
    }
    return n;
  };
  switch (t) {
    case 0: return set({{0, 0}, {w, 0}, {w - h, h}, {0, h}});
    case 1: return set({{0, 0}, {w - h, 0}, {w, h}, {0, h}});
    case 2: return set({{0, 0}, {w, 0}, {w, h}, {h, h}});
    case 3: return set({{h, 0}, {w, 0}, {w, h}, {0, h}});
    case 4: return set({{0, 0}, {w, 0}, {w - h, h}, {h, h}});
    case 5: return set({{h, 0}, {w - h, 0}, {w, h}, {0, h}});
    case 6: return set({{0, 0}, {w - h, 0}, {w, h}, {h, h}});
    case 7: return set({{h, 0}, {w, 0}, {w - h, h}, {0, h}});
    case 8: return set({{0, 0}, {w, 0}, {w, h - w}, {0, h}});
    case 9: return set({{0, 0}, {w, 0}, {w, h}, {0, h - w}});
    case 10: return set({{0, 0}, {w, w}, {w, h}, {0, h}});
    case 11: return set({{0, w}, {w, 0}, {w, h}, {0, h}});
    case 12: return set({{0, 0}, {w, w}, {w, h - w}, {0, h}});
    case 13: return set({{0, w}, {w, 0}, {w, h}, {0, h - w}});
    case 14: return set({{0, 0}, {w, w}, {w, h}, {0, h - w}});
    case 15: return set({{0, w}, {w, 0}, {w, h - w}, {0, h}});
    case 16: return set({{0, 0}, {w, 0}, {0, w}});
    case 17: return set({{0, 0}, {w, w}, {0, w}});
    case 18: return set({{0, 0}, {w, 0}, {w, w}});
    case 19: return set({{0, w}, {w, 0}, {w, w}});
    case 20: return set({{0, 0}, {2 * h, 0}, {h, h}});
    case 21: return set({{0, h}, {h, 0}, {2 * h, h}});
    case 22: return set({{0, 0}, {w, w}, {0, 2 * w}});
    case 23: return set({{0, w}, {w, 0}, {w, 2 * w}});
    case 24: return set({{0, 0}, {w, 0}, {w, h}, {0, h}});
    default: return set({{0, 0}, {w, 0}, {w, w}, {0, w}});  // 25
  }
}

// CTRAPEZOID types that take the width / the height.
bool CTrapezoidUsesWidth(int t) { return t != 20 && t != 21; }
bool CTrapezoidUsesHeight(int t) {
  return !((t >= 16 && t <= 19) || t == 22 || t == 23 || t == 25);
}

// A modal field of a record: when the record carries it (present), read
// stores it and the modal variable counts as set; otherwise the value in force
// is used, which must have been set when the record needs it (required).
template <typename ReadField>
void ModalField(OasisFile& file, bool present, OasisModal variable, const char* record,
                ReadField read, bool required = true) {
  if (present) {
    read();
    file.SetModal(variable);
  } else if (required) {
    file.RequireModal(variable, record);
  }
}

}  // namespace

// --- The file ----------------------------------------------------------------------

void OasisFile::Read(const std::string& path, LibDB* lib) {
  OpenInput(path);
  ReadHead(lib);
  ReadBody();
}

void OasisFile::ReadHead(LibDB* lib) {
  library = lib;
  stream.unit = kUnit;
  char magic[13];
  if (stream.GetBlock(magic, sizeof magic) != sizeof magic ||
      std::string_view(magic, sizeof magic) != kMagic) {
    Fail("Invalid Magic");
  }
  if (ReadUnsigned64() != kStart) Fail("Invalid Start");
  SkipString();  // version
  const double unit = ReadReal();
  if (!(unit > 0) || !std::isfinite(unit) || !std::isfinite(1e-6 / unit) ||
      !(1e-6 / unit > 0) || !std::isfinite(1e-9 / (1e-6 / unit))) {
    char message[96];
    std::snprintf(message, sizeof message, "Invalid database unit %g per micron", unit);
    Fail(message);
  }
  const uint64_t flag = ReadUnsigned64();
  if (flag > 1) Fail("Invalid table offset flag");
  tableOffsetFlag = int32_t(flag);
  if (tableOffsetFlag == 0) {
    for (int i = 0; i < 12; ++i) ReadUnsigned64();
  }
  const double meters = 1e-6 / unit;
  PrintMessage("DB unit=%e meter\n", meters);
  // A library that holds cells refuses a file in another unit.
  library->TakeFileUnits(1.0 / unit, meters, kUnit);
}

void OasisFile::ReadBody() {
  counters = OasisCounters();
  implicitCellNames = implicitTextStrings = 0;
  explicitCellNames_ = explicitTextStrings_ = 0;
  badLayerElements = badLayerReports = refAngleReports = 0;
  referenceCells.clear();
  nameCells_.clear();
  named_.clear();
  firstReadId_ = int32_t(library->cells.size());
  currentDefinition = nullptr;
  cell_ = nullptr;
  cellId_ = -1;
  progress = 0.0;
  definitionsBefore_ = library->cellDefs.size();

  ReadTopRecords();

  // Every cell of the file must have a name by now.
  for (size_t i = 0; i < named_.size(); ++i) {
    if (named_[i]) continue;
    uint64_t number = 0;
    for (const auto& [n, id] : referenceCells) {
      if (id == firstReadId_ + int32_t(i)) number = n;
    }
    Fail("Cell with reference number " + std::to_string(number) + " has no name");
  }

  ReportProcessMemory();
  PrintReadReportHead(*library, definitionsBefore_, counters.redefinedCells);
  PrintMessage("  %d texts, %d circle, %d properties\n", counters.texts, counters.circles,
               counters.properties);
  PrintMessage("  %d polygon, %d path, %d box, %d trapezoid, %d 45, %d arbitrary angles\n",
               counters.polygons, counters.paths, counters.boxes, counters.trapezoids,
               counters.polygons45, counters.arbitraryAngles);
  ReadReportTail tail;
  tail.singleRefs = counters.singleRefs;
  tail.arrayRefs = counters.arrayRefs;
  tail.duplicateRefs = counters.duplicateRefs;
  tail.magnifiedRefs = counters.magnifiedRefs;
  tail.badLayerElements = badLayerElements;
  tail.overLimit = counters.arbitraryAngles > problemReportLimit ||
                   counters.pointLineWarnings > problemReportLimit ||
                   badLayerReports > problemReportLimit || refAngleReports > problemReportLimit;
  PrintReadReportTail(tail);
  FinishStreamRead(*library, counters.magnifiedRefs, kUnit);
}

void OasisFile::ReadTopRecords() {
  uint64_t id = ReadUnsigned64();
  for (;;) {
    switch (id) {
      case kPad:
      case kPropertyRepeat:
        break;
      case kEnd:
        ReadEnd();
        return;
      case kCellNameImplicit:
      case kCellNameExplicit:
        ReadCellName(id == kCellNameExplicit);
        break;
      case kTextStringImplicit:
        if (explicitTextStrings_ > 0) Fail("TEXTSTRING without reference number after explicit ones");
        SkipString();
        ++implicitTextStrings;
        break;
      case kTextStringExplicit:
        if (implicitTextStrings > 0) Fail("TEXTSTRING with reference number after implicit ones");
        SkipString();
        ReadUnsigned64();
        ++explicitTextStrings_;
        break;
      case kPropNameImplicit:
      case kPropStringImplicit:
        SkipString();
        break;
      case kPropNameExplicit:
        SkipString();
        ReadUnsigned64();
        ++counters.properties;
        break;
      case kPropStringExplicit:
        SkipString();
        ReadUnsigned64();
        break;
      case kLayerName:
      case kTextLayerName:
        ReadLayerName();
        break;
      case kXName:
      case kXNameExplicit:
        ReadUnsigned64();
        SkipString();
        if (id == kXNameExplicit) ReadUnsigned64();
        break;
      case kProperty:
        ReadProperty();
        break;
      case kCBlock:
        Fail("CBlock not supported yet");
      case kCellByNumber:
      case kCellByName: {
        int32_t cell;
        if (id == kCellByNumber) {
          cell = CellByNumber(ReadUnsigned64());
        } else {
          cell = CellByName(ReadCellNameString());
        }
        BeginCell(cell);
        id = ReadCellElements();
        FinishCell();
        continue;  // the record that ended the cell is handled next
      }
      default:
        Fail("Unknown Record ID");
    }
    id = ReadUnsigned64();
  }
}

void OasisFile::ReadEnd() {
  if (tableOffsetFlag != 0) {
    for (int i = 0; i < 12; ++i) ReadUnsigned64();
  }
  SkipString();  // padding
  const uint64_t scheme = ReadUnsigned64();
  if (scheme > 2) Fail("Unknown validation scheme");
  // The signature is read, not checked.
  if (scheme != 0) {
    for (int i = 0; i < 4; ++i) ReadByte();
  }
}

void OasisFile::ReadLayerName() {
  SkipString();
  for (int interval = 0; interval < 2; ++interval) {
    const uint64_t type = ReadUnsigned64();
    if (type > 4) Fail("Error in LayerName");
    if (type >= 1) ReadUnsigned64();
    if (type == 4) ReadUnsigned64();
  }
}

void OasisFile::ReadProperty() {
  const uint8_t info = ReadByte();
  if (info & 0x04) {
    if (info & 0x02) {
      ReadUnsigned64();
    } else {
      SkipString();
    }
  }
  if (info & 0x08) return;  // the last value list again
  uint64_t count = info >> 4;
  if (count == 15) count = ReadUnsigned64();
  for (uint64_t i = 0; i < count; ++i) ReadPropertyValue();
}

// --- Names and cells ----------------------------------------------------------------

std::string OasisFile::ReadCellNameString() {
  std::string name = cellPrefix;
  name += ReadString();
  if (name.find('\n') != std::string::npos || name.find('\0') != std::string::npos) {
    Fail("Cell name holds a line break or NUL: " + name.substr(0, name.find_first_of("\n", 0)));
  }
  return name;
}

void OasisFile::ClaimName(const std::string& name) {
  const int32_t old = library->FindCellId(name);
  if (old < 0) return;
  if (library->cells[old] == nullptr) {
    // The name of a removed cell is free again.
    library->ReleaseCellName(name);
    return;
  }
  // A cell from before the read holds the name: it moves to the next free
  // name (it is placed by id, so its parents keep placing it).
  const std::string fresh = library->NextFreeCellName(name);
  PrintMessage("Warning: cell %s of the library renamed %s\n", name.c_str(), fresh.c_str());
  library->RenameCell(old, fresh);
}

int32_t OasisFile::CellByName(const std::string& name) {
  auto it = nameCells_.find(name);
  if (it != nameCells_.end()) return it->second;
  ClaimName(name);
  const int32_t id = library->AddCell(name.c_str());
  nameCells_.emplace(name, id);
  named_.push_back(1);
  return id;
}

int32_t OasisFile::CellByNumber(uint64_t number) {
  auto it = referenceCells.find(number);
  if (it != referenceCells.end()) return it->second;
  const int32_t id = library->AddCell(nullptr);
  referenceCells.emplace(number, id);
  named_.push_back(0);
  return id;
}

void OasisFile::ReadCellName(bool explicitNumber) {
  const std::string name = ReadCellNameString();
  uint64_t number;
  if (explicitNumber) {
    if (implicitCellNames > 0) Fail("CELLNAME with reference number after implicit ones");
    number = ReadUnsigned64();
    ++explicitCellNames_;
  } else {
    if (explicitCellNames_ > 0) Fail("CELLNAME without reference number after explicit ones");
    number = uint64_t(implicitCellNames++);
  }
  auto byNumber = referenceCells.find(number);
  auto byName = nameCells_.find(name);
  if (byNumber == referenceCells.end()) {
    if (byName != nameCells_.end()) {
      // A cell met by name takes the number, unless it has another.
      for (const auto& [n, id] : referenceCells) {
        if (id == byName->second) {
          Fail("Cell " + name + " has two reference numbers");
        }
      }
      referenceCells.emplace(number, byName->second);
      return;
    }
    const int32_t id = CellByName(name);
    referenceCells.emplace(number, id);
    return;
  }
  const int32_t id = byNumber->second;
  char& isNamed = named_[size_t(id - firstReadId_)];
  if (isNamed) {
    if (byName != nameCells_.end() && byName->second == id) return;  // the same again
    Fail("CELLNAME reference number " + std::to_string(number) + " given twice");
  }
  if (byName != nameCells_.end()) {
    Fail("Cell " + name + " met by name and by reference number " + std::to_string(number) +
         " before its CELLNAME");
  }
  ClaimName(name);
  library->RenameCell(id, name);
  nameCells_.emplace(name, id);
  isNamed = 1;
}

void OasisFile::BeginCell(int32_t id) {
  ResetModal();
  placementCellId_ = -1;
  cellId_ = id;
  cell_ = library->cells[id];
  CellDef* def = library->DefinitionOf(id);
  if (def != nullptr) {
    // A second CELL record for a cell of this read replaces the first.
    library->ClearForRedefinition(id);
    cell_->box.SetEmpty();
    cell_->flags &= uint16_t(~(DBCell::Leaf | DBCell::Modified | DBCell::Loaded));
    def->refs.clear();
    ++counters.redefinedCells;
  } else {
    def = library->AddDefinition(id);
  }
  currentDefinition = def;
  ReportProgress();
}

void OasisFile::FinishCell() {
  DBCell* cell = cell_;
  library->BeginReadRecord(cell);
  library->MoveLayersToRecord(cell);
  counters.duplicateRefs += StoreReadReferences(*library, cell, currentDefinition->refs);
  library->EndReadRecord(cell);
  cell->flags &= uint16_t(~DBCell::Modified);
  cell_ = nullptr;
  cellId_ = -1;
  currentDefinition = nullptr;
}

void OasisFile::ReportProgress() {
  const double f = stream.fileSize > 0 ? double(stream.Tell()) / double(stream.fileSize) : 0.0;
  ReportReadProgress(f, progress);
}

std::string OasisFile::CellLabel() const {
  if (cell_ != nullptr && cell_->name != nullptr) return *cell_->name;
  std::string label(1, '#');
  label.append(std::to_string(cellId_));
  return label;
}

uint64_t OasisFile::ReadCellElements() {
  for (;;) {
    const uint64_t id = ReadUnsigned64();
    switch (id) {
      case kPad:
      case kPropertyRepeat:
        break;
      case kXyAbsolute: xyAbsolute = 1; break;
      case kXyRelative: xyAbsolute = 0; break;
      case kPlacement:
      case kPlacementMag:
        ReadPlacement(id == kPlacementMag);
        break;
      case kText: ReadText(); break;
      case kRectangle: ReadRectangle(); break;
      case kPolygon: ReadPolygon(); break;
      case kPath: ReadPath(); break;
      case kTrapezoid:
      case kTrapezoidA:
      case kTrapezoidB:
        ReadTrapezoid(id);
        break;
      case kCTrapezoid: ReadCTrapezoid(); break;
      case kCircle: ReadCircle(); break;
      case kProperty: ReadProperty(); break;
      case kXElement:
        ReadUnsigned64();
        SkipString();
        break;
      case kXGeometry: ReadXGeometry(); break;
      case kCBlock: Fail("CBlock not supported yet");
      default:
        if (id > kCBlock) Fail("Unknown Record ID");
        return id;  // 1-14, 30, 31 end the cell
    }
  }
}

// --- Placements ---------------------------------------------------------------------

void OasisFile::ReadPlacement(bool withMagnification) {
  const char* record = "PLACEMENT";
  const uint8_t info = ReadByte();
  ModalField(*this, info & 0x80, kModalPlacementCell, record, [&] {
    if (info & 0x40) {
      const uint64_t number = ReadUnsigned64();
      placementCellReference = int64_t(number & INT64_MAX);
      placementCellId_ = CellByNumber(number);
    } else {
      placementCellReference = -1;
      placementCellId_ = CellByName(ReadCellNameString());
    }
  });
  double mag = 1.0;
  double angle = 0.0;
  if (withMagnification) {
    if (info & 0x04) mag = ReadReal();
    if (info & 0x02) angle = ReadReal();
  } else {
    angle = 90.0 * ((info >> 1) & 3);
  }
  if (!(mag > 0) || !std::isfinite(mag) || !std::isfinite(float(mag)) || !(float(mag) > 0)) {
    char message[96];
    std::snprintf(message, sizeof message, "Invalid placement magnification %g", mag);
    Fail(message);
  }
  if (std::fabs(mag - 1.0) <= 0x1p-23) mag = 1.0;
  if (!std::isfinite(angle)) Fail("Invalid placement angle");
  placementMagnification = mag;
  placementAngle = angle;
  placementFlip = info & 1;
  if (info & 0x20) {
    const int32_t v = ReadSigned();
    placementX = xyAbsolute ? v : Place(placementX, v);
  }
  if (info & 0x10) {
    const int32_t v = ReadSigned();
    placementY = xyAbsolute ? v : Place(placementY, v);
  }
  const bool repeated = (info & 0x08) != 0;
  if (repeated) ReadRepetition(record);

  // Angle to orientation: right angles only; others are snapped (reported).
  double e = std::fmod(RoundHalfAway(angle), 360.0);
  if (e < 0) e += 360.0;
  const int degrees = std::clamp(int(e), 0, 359);
  int quarter = 0;
  if (degrees >= 46 && degrees <= 135) {
    quarter = 1;
  } else if (degrees >= 136 && degrees <= 215) {
    quarter = 2;
  } else if (degrees >= 216 && degrees <= 315) {
    quarter = 3;
  }
  if (degrees % 90 >= 2) {
    if (ProblemReportable(refAngleReports, problemReportLimit)) {
      const DBCell* child = library->cells[placementCellId_];
      std::string childLabel(1, '#');
      if (child->name != nullptr) {
        childLabel = *child->name;
      } else {
        childLabel.append(std::to_string(placementCellId_));
      }
      PrintMessage("Warning: Arbitrary angle %d changed to manhattan angle\n", degrees);
      PrintMessage("  cell %s under cell %s at (%d, %d)nm\n", childLabel.c_str(),
                   CellLabel().c_str(), ReportNm(library, placementX),
                   ReportNm(library, placementY));
    }
    CountProblemReport(refAngleReports, problemReportLimit);
  }
  static constexpr uint8_t kFlipped[4] = {6, 7, 4, 5};
  Trans t(placementX, placementY, float(mag),
          placementFlip ? kFlipped[quarter] : uint8_t(quarter));
  EmitPlacements(t, repeated);
}

void OasisFile::CheckInstances(int64_t count, const char* record) const {
  if (count > maxRepetitionInstances) {
    Fail(std::string(record) + " repetition of " + std::to_string(count) +
         " instances is too large");
  }
}

void OasisFile::AddReference(const Trans& t, int16_t columns, int16_t rows,
                             int32_t columnPitch, int32_t rowPitch) {
  std::vector<ARef>& refs = currentDefinition->refs;
  if (columns == 1 && rows == 1) {
    ARef single;
    static_cast<Trans&>(single) = t;
    single.cellId = placementCellId_ & SRef::kIdMask;
    refs.push_back(single);
    ++counters.singleRefs;
  } else {
    refs.emplace_back(t, placementCellId_, columns, rows, columnPitch, rowPitch);
    ++counters.arrayRefs;
  }
  if (t.Magnified()) ++counters.magnifiedRefs;
}

void OasisFile::EmitGrid(const Trans& t, int64_t nx, int64_t sx, int64_t ny, int64_t sy) {
  // The origin is the lowest element; a single row or column has step 0.
  if (nx == 1) sx = 0;
  if (ny == 1) sy = 0;
  int32_t x0 = t.x, y0 = t.y;
  if (sx < 0) {
    x0 = Place(x0, (nx - 1) * sx);
    sx = -sx;
  }
  if (sy < 0) {
    y0 = Place(y0, (ny - 1) * sy);
    sy = -sy;
  }
  Place(x0, (nx - 1) * sx);  // every element within the coordinate range
  Place(y0, (ny - 1) * sy);
  const bool odd = (t.orientation & 1) != 0;
  if (sx > INT32_MAX || sy > INT32_MAX) {
    // Steps beyond a stored pitch: single references.
    CheckInstances(nx * ny, "PLACEMENT");
    for (int64_t i = 0; i < nx; ++i) {
      for (int64_t j = 0; j < ny; ++j) {
        Trans e = t;
        e.x = Place(x0, i * sx);
        e.y = Place(y0, j * sy);
        AddReference(e, 1, 1, 0, 0);
      }
    }
    return;
  }
  // Blocks of at most kMaxArrayCount along each axis, each one array with
  // the same elements.
  for (int64_t i = 0; i < nx; i += kMaxArrayCount) {
    const int64_t cx = std::min<int64_t>(kMaxArrayCount, nx - i);
    for (int64_t j = 0; j < ny; j += kMaxArrayCount) {
      const int64_t cy = std::min<int64_t>(kMaxArrayCount, ny - j);
      Trans e = t;
      e.x = Place(x0, i * sx);
      e.y = Place(y0, j * sy);
      const int32_t px = cx > 1 ? int32_t(sx) : 0;
      const int32_t py = cy > 1 ? int32_t(sy) : 0;
      // Even orientations step columns along x; odd ones rows along x.
      if (odd) {
        AddReference(e, int16_t(cy), int16_t(cx), px, py);
      } else {
        AddReference(e, int16_t(cx), int16_t(cy), px, py);
      }
    }
  }
}

void OasisFile::EmitPlacements(const Trans& t, bool repeated) {
  if (!repeated) {
    AddReference(t, 1, 1, 0, 0);
    return;
  }
  switch (repetitionType) {
    case 1: EmitGrid(t, xDimension, xSpace, yDimension, ySpace); return;
    case 2: EmitGrid(t, xDimension, xSpace, 1, 0); return;
    case 3: EmitGrid(t, 1, 0, yDimension, ySpace); return;
    case 8: {
      const OasisDelta& a = nDisplacement;
      const OasisDelta& b = mDisplacement;
      if (a.y == 0 && b.x == 0) {
        EmitGrid(t, nDimension, a.x, mDimension, b.y);
        return;
      }
      if (a.x == 0 && b.y == 0) {
        EmitGrid(t, mDimension, b.x, nDimension, a.y);
        return;
      }
      break;
    }
    case 9:
      if (nDisplacement.y == 0) {
        EmitGrid(t, nDimension, nDisplacement.x, 1, 0);
        return;
      }
      if (nDisplacement.x == 0) {
        EmitGrid(t, 1, 0, nDimension, nDisplacement.y);
        return;
      }
      break;
    default:
      break;
  }
  const int64_t count = RepetitionCount();
  CheckInstances(count, "PLACEMENT");
  for (int64_t i = 0; i < count; ++i) {
    const OasisDelta d = RepetitionOffset(i);
    Trans e = t;
    e.x = Place(t.x, d.x);
    e.y = Place(t.y, d.y);
    AddReference(e, 1, 1, 0, 0);
  }
}

// --- Geometry records -----------------------------------------------------------------

void OasisFile::ReadLayerFields(uint8_t info, const char* record) {
  ModalField(*this, info & 0x01, kModalLayer, record, [&] { layer = ReadUnsigned(); });
  ModalField(*this, info & 0x02, kModalDatatype, record, [&] { datatype = ReadUnsigned(); });
}

void OasisFile::ReadGeometryXY(uint8_t info) {
  if (info & 0x10) {
    const int32_t v = ReadSigned();
    geometryX = xyAbsolute ? v : Place(geometryX, v);
  }
  if (info & 0x08) {
    const int32_t v = ReadSigned();
    geometryY = xyAbsolute ? v : Place(geometryY, v);
  }
}

int64_t OasisFile::ReadDimension() { return ReadNonNegative(); }

void OasisFile::ReadText() {
  const char* record = "TEXT";
  const uint8_t info = ReadByte();
  ModalField(*this, info & 0x40, kModalTextString, record, [&] {
    if (info & 0x20) {
      textStringReference = int64_t(ReadUnsigned64() & INT64_MAX);
      textString.clear();
    } else {
      textString = ReadString();
      textStringReference = -1;
    }
  });
  ModalField(*this, info & 0x01, kModalTextlayer, record, [&] { textlayer = ReadUnsigned(); });
  ModalField(*this, info & 0x02, kModalTexttype, record, [&] { texttype = ReadUnsigned(); });
  if (info & 0x10) {
    const int32_t v = ReadSigned();
    textX = xyAbsolute ? v : Place(textX, v);
  }
  if (info & 0x08) {
    const int32_t v = ReadSigned();
    textY = xyAbsolute ? v : Place(textY, v);
  }
  int64_t count = 1;
  if (info & 0x04) {
    ReadRepetition(record);
    count = RepetitionCount();
  }
  counters.texts = int32_t(std::min<int64_t>(int64_t(counters.texts) + count, INT32_MAX));
}

void OasisFile::ReadRectangle() {
  const char* record = "RECTANGLE";
  const uint8_t info = ReadByte();
  ReadLayerFields(info, record);
  const bool square = (info & 0x80) != 0;
  ModalField(*this, info & 0x40, kModalGeometryW, record, [&] { geometryW = ReadDimension(); });
  if (square && (info & 0x20)) Fail("RECTANGLE of a square gives a height");
  ModalField(*this, info & 0x20, kModalGeometryH, record, [&] { geometryH = ReadDimension(); },
             !square);
  if (square) {
    geometryH = geometryW;
    SetModal(kModalGeometryH);
  }
  ReadGeometryXY(info);
  const bool repeated = (info & 0x04) != 0;
  if (repeated) ReadRepetition(record);
  EmitShape(kRect, repeated);
}

void OasisFile::ReadPolygon() {
  const char* record = "POLYGON";
  const uint8_t info = ReadByte();
  ReadLayerFields(info, record);
  ModalField(*this, info & 0x20, kModalPolygonPointList, record,
             [&] { ReadPointList(polygonPoints, false); });
  ReadGeometryXY(info);
  const bool repeated = (info & 0x04) != 0;
  if (repeated) ReadRepetition(record);
  EmitShape(kPoly, repeated);
}

void OasisFile::ReadPath() {
  const char* record = "PATH";
  const uint8_t info = ReadByte();
  ReadLayerFields(info, record);
  ModalField(*this, info & 0x40, kModalPathHalfwidth, record, [&] {
    const int64_t half = ReadDimension();
    if (half > INT32_MAX / 2) Fail("PATH half-width out of range");
    pathHalfwidth = half;
  });
  if (info & 0x80) {
    const uint64_t scheme = ReadUnsigned64();
    if (scheme > 15) Fail("Invalid path extension scheme");
    // Start side (bits 2-3) first, then the end side (bits 0-1): 1 flush,
    // 2 the half-width, 3 an explicit value, 0 the extension in force.
    auto side = [&](uint64_t bits, int64_t& extension, OasisModal variable) {
      switch (bits) {
        case 0: RequireModal(variable, record); return;
        case 1: extension = 0; break;
        case 2: extension = pathHalfwidth; break;
        default: extension = Int32Field(ReadSigned64(), "PATH extension"); break;
      }
      SetModal(variable);
    };
    side((scheme >> 2) & 3, startExtension, kModalPathStartExtension);
    side(scheme & 3, endExtension, kModalPathEndExtension);
  } else {
    RequireModal(kModalPathStartExtension, record);
    RequireModal(kModalPathEndExtension, record);
  }
  ModalField(*this, info & 0x20, kModalPathPointList, record,
             [&] { ReadPointList(pathPoints, true); });
  ReadGeometryXY(info);
  const bool repeated = (info & 0x04) != 0;
  if (repeated) ReadRepetition(record);
  if (pathPoints.size() < 2) Fail("Too few points in Path.");
  EmitShape(kPathShape, repeated);
}

void OasisFile::ReadTrapezoid(uint64_t id) {
  const char* record = "TRAPEZOID";
  const uint8_t info = ReadByte();
  ReadLayerFields(info, record);
  ModalField(*this, info & 0x40, kModalGeometryW, record, [&] { geometryW = ReadDimension(); });
  ModalField(*this, info & 0x20, kModalGeometryH, record, [&] { geometryH = ReadDimension(); });
  deltaA = deltaB = 0;
  if (id != kTrapezoidB) deltaA = Int32Field(ReadSigned64(), "TRAPEZOID delta");
  if (id != kTrapezoidA) deltaB = Int32Field(ReadSigned64(), "TRAPEZOID delta");
  trapezoidVertical = (info & 0x80) ? 1 : 0;
  ReadGeometryXY(info);
  const bool repeated = (info & 0x04) != 0;
  if (repeated) ReadRepetition(record);
  EmitShape(kTrap, repeated);
}

void OasisFile::ReadCTrapezoid() {
  const char* record = "CTRAPEZOID";
  const uint8_t info = ReadByte();
  ReadLayerFields(info, record);
  ModalField(*this, info & 0x80, kModalCtrapezoidType, record, [&] {
    const uint64_t type = ReadUnsigned64();
    if (type > 25) Fail("CTRAPEZOID type " + std::to_string(type) + " unknown");
    ctrapezoidType = int32_t(type);
  });
  ModalField(*this, info & 0x40, kModalGeometryW, record, [&] { geometryW = ReadDimension(); },
             CTrapezoidUsesWidth(ctrapezoidType));
  ModalField(*this, info & 0x20, kModalGeometryH, record, [&] { geometryH = ReadDimension(); },
             CTrapezoidUsesHeight(ctrapezoidType));
  ReadGeometryXY(info);
  const bool repeated = (info & 0x04) != 0;
  if (repeated) ReadRepetition(record);
  EmitShape(kCTrap, repeated);
}

void OasisFile::ReadCircle() {
  const char* record = "CIRCLE";
  const uint8_t info = ReadByte();
  ReadLayerFields(info, record);
  ModalField(*this, info & 0x20, kModalCircleRadius, record,
             [&] { circleRadius = ReadDimension(); });
  ReadGeometryXY(info);
  const bool repeated = (info & 0x04) != 0;
  if (repeated) ReadRepetition(record);
  EmitShape(kCirc, repeated);
}

void OasisFile::ReadXGeometry() {
  const uint8_t info = ReadByte();
  ReadUnsigned64();  // attribute
  if (info & 0x01) {
    layer = ReadUnsigned();
    SetModal(kModalLayer);
  }
  if (info & 0x02) {
    datatype = ReadUnsigned();
    SetModal(kModalDatatype);
  }
  SkipString();
  ReadGeometryXY(info);
  if (info & 0x04) ReadRepetition("XGEOMETRY");
}

// --- Storing shapes -------------------------------------------------------------------

void OasisFile::ReportPointLine(int kind, int32_t x, int32_t y) {
  if (ProblemReportable(counters.pointLineWarnings, problemReportLimit)) {
    PrintMessage("Warning: point/line %s at (%d, %d)nm on layer (%d %d) & cell ",
                 kKindWord[kind], ReportNm(library, x), ReportNm(library, y), int(layer),
                 int(datatype));
    PrintMessage("%s, skip\n", CellLabel().c_str());
  }
  CountProblemReport(counters.pointLineWarnings, problemReportLimit);
  ++counters.skipped;
  ClearPointList(workList);
}

bool OasisFile::StoreRing(int kind, LayerKey key, CPgonListNode*& shape, Box& box) {
  const int32_t px = workList.head->x, py = workList.head->y;
  if (workList.pointCount < 3) {
    ReportPointLine(kind, px, py);
    return false;
  }
  Simplify(workList, 0);
  if (workList.head == nullptr || workList.pointCount < 3) {
    ReportPointLine(kind, px, py);
    return false;
  }
  int count = 0;
  const int k = cell_->AddPolygon(workList, key, shape, box, count);
  ClearPointList(workList);
  if (kind == kCirc) return true;
  if (k == int(PolygonKind::General)) {
    if (ProblemReportable(counters.arbitraryAngles, problemReportLimit)) {
      PrintMessage("  Arbitrary angle%s at (%d, %d)nm on layer (%d %d) & cell %s\n",
                   kAngleWord[kind], ReportNm(library, px), ReportNm(library, py), int(layer),
                   int(datatype), CellLabel().c_str());
    }
    CountProblemReport(counters.arbitraryAngles, problemReportLimit);
  } else if (k == int(PolygonKind::Octangular)) {
    ++counters.polygons45;
  }
  return true;
}

namespace {

// Appends a closed ring of n vertices to list.
void PushRing(PSList& list, const std::array<int32_t, 2>* v, size_t n) {
  PSPoint* first = nullptr;
  PSPoint* previous = nullptr;
  for (size_t i = 0; i < n; ++i) {
    PSPoint* point = PushPoint(list, v[i][0], v[i][1]);
    LinkPoints(previous, point);
    if (first == nullptr) first = point;
    previous = point;
  }
  LinkPoints(previous, first);
  list.ringCount += 1;
}

}  // namespace

bool OasisFile::StoreShape(int kind, CPgonListNode*& shape, Box& box) {
  const int32_t x = geometryX, y = geometryY;
  ClearPointList(workList);
  switch (kind) {
    case kRect: {
      const Box b(x, y, Place(x, geometryW), Place(y, geometryH));
      cell_->AddBox(b, key_, shape);
      box = b;
      return true;
    }
    case kPoly: {
      std::vector<std::array<int32_t, 2>> v(polygonPoints.size());
      for (size_t i = 0; i < polygonPoints.size(); ++i) {
        v[i][0] = Place(x, polygonPoints[i].x);
        v[i][1] = Place(y, polygonPoints[i].y);
      }
      PushRing(workList, v.data(), v.size());
      return StoreRing(kind, key_, shape, box);
    }
    case kPathShape: {
      Path path;
      path.points.reserve(pathPoints.size());
      for (const OasisDelta& p : pathPoints) {
        path.points.emplace_back(Place(x, p.x), Place(y, p.y));
      }
      path.width = int32_t(2 * pathHalfwidth);
      path.pathType = 3;
      path.beginExtension = int32_t(startExtension);
      path.endExtension = int32_t(endExtension);
      path.ToPolygon(&workList);
      return StoreRing(kind, key_, shape, box);
    }
    case kTrap:
    case kCTrap: {
      const int64_t w = geometryW, h = geometryH;
      int64_t r[4][2];
      int n = 4;
      if (kind == kCTrap) {
        n = CTrapezoidRing(ctrapezoidType, w, h, r);
      } else if (trapezoidVertical == 0) {
        const int64_t a = deltaA, b = deltaB;
        const int64_t ring[4][2] = {{std::max<int64_t>(0, -a), 0},
                                    {w - std::max<int64_t>(0, b), 0},
                                    {w + std::min<int64_t>(0, b), h},
                                    {std::max<int64_t>(0, a), h}};
        std::copy(&ring[0][0], &ring[0][0] + 8, &r[0][0]);
      } else {
        const int64_t a = deltaA, b = deltaB;
        const int64_t ring[4][2] = {{0, std::max<int64_t>(0, a)},
                                    {w, std::max<int64_t>(0, -a)},
                                    {w, h - std::max<int64_t>(0, b)},
                                    {0, h + std::min<int64_t>(0, b)}};
        std::copy(&ring[0][0], &ring[0][0] + 8, &r[0][0]);
      }
      std::array<int32_t, 2> v[4];
      for (int i = 0; i < n; ++i) {
        v[i][0] = Place(x, r[i][0]);
        v[i][1] = Place(y, r[i][1]);
      }
      PushRing(workList, v, size_t(n));
      return StoreRing(kind, key_, shape, box);
    }
    default: {  // circle
      const int64_t radius = circleRadius;
      if (radius <= 0) Fail("Circle radius not provided");
      Place(x, radius);
      Place(x, -radius);
      Place(y, radius);
      Place(y, -radius);
      Circle circle;
      circle.cx = x;
      circle.cy = y;
      circle.radius = int32_t(radius);
      circle.count = 32;
      circle.ToPolygon();
      RingFromVertexArray(workList, circle, 0, circle.count);
      workList.ringCount += 1;
      return StoreRing(kind, key_, shape, box);
    }
  }
}

void OasisFile::EmitShape(int kind, bool repeated) {
  int64_t shownLayer = 0, shownDatatype = 0;
  switch (TakeElementLayer(layer, datatype, layerFilter, layerMap, key_, shownLayer,
                           shownDatatype)) {
    case ElementLayer::Keep: break;
    case ElementLayer::Filtered: return;
    case ElementLayer::OutOfRange:
      ReportLayerOutOfRange(badLayerReports, badLayerElements, shownLayer, shownDatatype,
                            ReportNm(library, geometryX), ReportNm(library, geometryY),
                            CellLabel());
      return;
  }
  const int64_t count = repeated ? RepetitionCount() : 1;
  if (repeated) CheckInstances(count, kKindWord[kind]);
  CPgonListNode* shape = nullptr;
  Box box;
  if (!StoreShape(kind, shape, box)) return;
  // Every further instance is another placement of the same shape.
  const int32_t fx = shape->placements.first->x, fy = shape->placements.first->y;
  for (int64_t i = 1; i < count; ++i) {
    const OasisDelta d = RepetitionOffset(i);
    LocList::Append(shape->placements, shape, Place(fx, d.x), Place(fy, d.y));
    const Box moved(Place(box.x1, d.x), Place(box.y1, d.y), Place(box.x2, d.x),
                    Place(box.y2, d.y));
    cell_->box.Merge(moved);
  }
  int32_t* counter = nullptr;
  switch (kind) {
    case kRect: counter = &counters.boxes; break;
    case kPoly: counter = &counters.polygons; break;
    case kPathShape: counter = &counters.paths; break;
    case kTrap:
    case kCTrap: counter = &counters.trapezoids; break;
    default: counter = &counters.circles; break;
  }
  *counter = int32_t(std::min<int64_t>(int64_t(*counter) + count, INT32_MAX));
}

}  // namespace velmar
