// Cell data files: the exact bytes of a cell record, reading records back
// (references to empty cells dropped without breaking the delta chain),
// refusal of corrupt and truncated records without leaving anything
// half-read, refusal to write what could not be read back, the roll-over to
// the next data file at the size limit (sparse files), stored positions
// that would not fit 32 bits, layer keys and their stored form, and the
// records that layout readers write for the cells they build.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "layoutdb/lib_data_fixtures.h"
#include "layoutdb/lib_test_dir.h"

namespace velmar {
namespace {

using data_test::AddRef;
using data_test::AddRings;
using data_test::NewARef;
using data_test::NewSRef;
using data_test::Record;
using data_test::Rect;
using data_test::Snap;
using data_test::Square;
using data_test::UnitOf;
using data_test::Unload;
using test::TempDir;
using Ring = cell_test::Ring;

// Octangular, 8 vertices: carries code words.
Ring Chamfered(int32_t x, int32_t y) {
  return {{x + 5, y},       {x + 25, y},      {x + 30, y + 5}, {x + 30, y + 15},
          {x + 25, y + 20}, {x + 5, y + 20},  {x, y + 15},     {x, y + 5}};
}
// General, 6 vertices: carries code words and two values per slanted edge.
Ring Hexagon(int32_t x, int32_t y) {
  return cell_test::Moved({{0, 0}, {10, 1}, {20, 5}, {22, 15}, {8, 20}, {-3, 9}},
                          x, y);
}

DBCell* NewCell(LibDB& lib, const char* name, Box box = Box()) {
  DBCell* c = lib.cells[lib.AddCell(name)];
  c->box = box;
  return c;
}

void SetPositions(DBCell* c, uint16_t file, int32_t start, int32_t ref, int32_t end) {
  c->dbFile = file;
  c->startPos = start;
  c->refPos = ref;
  c->endPos = end;
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

// A sparse file of the given size (nothing but a hole after prefix).
void MakeSparse(const std::string& path, int64_t size,
                const std::string& prefix = "") {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  if (!prefix.empty()) {
    ASSERT_EQ(::write(fd, prefix.data(), prefix.size()), ssize_t(prefix.size()));
  }
  ASSERT_EQ(::ftruncate(fd, off_t(size)), 0);
  ::close(fd);
}

// Writes one cell the way every writer does.
void WriteCell(LibDB& lib, DBCell* c) {
  lib.OpenCellFile(c);
  lib.WriteCellLayers(c);
  lib.WriteCellReferences(c);
  lib.CloseDataFile();
}

// ---------------------------------------------------------------------------

TEST(CellRecord, WritesTheDocumentedBytes) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  NewCell(lib, "B", Box(0, 0, 4, 4));
  DBCell* a = NewCell(lib, "A");
  // Datatype 200: the byte is unsigned. Two equal squares: one shape.
  AddRings(*a, 1 * 256 + 200, {Square(15, -3, 10), Square(5, -3, 10)});
  AddRings(*a, 3 * 256, {Rect(-4, 6, 20, 7)});
  AddRef(lib, *a, NewSRef(0, 100, 50, 3));
  lib.SaveModified();

  Record want;
  want.U16(1).U8(200).UC(1);                   // layer 1/200, one shape
  want.I32(3).SC(10);                          // square, side 10
  want.UC(2).SC(5).SC(-3).SC(10).SC(0);        // (5,-3) then (15,-3)
  want.U16(3).U8(0).UC(1);                     // layer 3/0
  want.I32(4).SC(20).SC(7).UC(1).SC(-4).SC(6); // rectangle at (-4,6)
  const int32_t marker = int32_t(want.size());
  want.U16(0x4000).U8(3).UC(0).SC(100).SC(50);
  EXPECT_EQ(dir.Read("db1"), want.str());
  EXPECT_EQ(a->dbFile, 1);
  EXPECT_EQ(a->startPos, 0);
  EXPECT_EQ(a->refPos, marker);
  EXPECT_EQ(a->endPos, int32_t(want.size()));
  EXPECT_EQ(lib.writeDb, 1);
  EXPECT_EQ(a->flags & DBCell::Modified, 0);
}

TEST(CellRecord, ReferenceRecordsAreDeltaCodedAndReadBack) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  for (const char* n : {"c0", "c1", "c2"}) NewCell(lib, n, Box(0, 0, 5, 5));
  DBCell* holder = NewCell(lib, "holder");

  std::vector<std::unique_ptr<SRef>> refs;
  refs.emplace_back(NewSRef(2, 100, 50, 3));
  refs.emplace_back(NewARef(2, 110, 40, 5, 3, 2, 20, -7, 2.5f));
  // Code 9 places like 0; a magnification within 2^-23 of 1 is none.
  refs.emplace_back(NewSRef(1, 0, 0, 9, float(1.0 + std::ldexp(1.0, -23))));
  // Differences beyond 31 bits are taken modulo 2^32.
  refs.emplace_back(NewSRef(1, INT32_MIN, INT32_MAX, 7));
  refs.emplace_back(NewSRef(0, 2000000000, -2000000000, 6));

  lib.OpenCellFile(holder);
  SRef* previous = nullptr;
  for (auto& r : refs) lib.WriteReference(r.get(), previous);
  EXPECT_EQ(previous, refs.back().get());
  lib.CloseDataFile();

  Record want;
  want.U8(0x03).UC(2).SC(100).SC(50);
  want.U8(0x3D).F32(2.5f).SC(10).SC(-10).UC(3).UC(2).SC(20).SC(-7);
  want.U8(0x00).UC(1).SC(-110).SC(-40);
  want.U8(0x27).SC(INT32_MIN).SC(INT32_MAX);
  want.U8(0x06).UC(0).SC(int32_t(uint32_t(2000000000) - uint32_t(INT32_MIN)))
      .SC(int32_t(uint32_t(-2000000000) - uint32_t(INT32_MAX)));
  ASSERT_EQ(dir.Read("db1"), want.str());

  SetPositions(holder, 1, 0, -1, int32_t(want.size()));
  lib.SeekCellData(holder);
  int32_t previousId = -1;
  velmar::Point origin(0, 0);
  const int32_t wantX[] = {100, 110, 0, INT32_MIN, 2000000000};
  const int32_t wantY[] = {50, 40, 0, INT32_MAX, -2000000000};
  const uint8_t wantO[] = {3, 5, 0, 7, 6};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    std::unique_ptr<SRef> r(lib.ReadReference(previousId, origin));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->CellId(), refs[size_t(i)]->CellId());
    EXPECT_EQ(r->x, wantX[i]);
    EXPECT_EQ(r->y, wantY[i]);
    EXPECT_EQ(r->orientation, wantO[i]);
    EXPECT_EQ(r->mag, i == 1 ? 2.5f : 1.0f);
    EXPECT_EQ(r->IsArray(), i == 1);
    if (i == 1) {
      const ARef& a = static_cast<const ARef&>(*r);
      EXPECT_EQ(a.columns, 3);
      EXPECT_EQ(a.rows, 2);
      EXPECT_EQ(a.columnPitch, 20);
      EXPECT_EQ(a.rowPitch, -7);
    }
  }
}

TEST(CellRecord, ReferencesToEmptyCellsAreDroppedWithoutBreakingTheChain) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  NewCell(lib, "empty");                        // id 0: no box
  NewCell(lib, "b", Box(0, 0, 10, 10));         // id 1
  DBCell* p = NewCell(lib, "p", Box(0, 0, 100, 100));
  Record r;
  r.U16(0x4000);
  r.U8(0x00).UC(0).SC(10).SC(10);        // empty cell at (10,10): dropped
  r.U8(0x28).F32(3.0f).SC(1).SC(2);      // same (empty) cell, magnified: dropped
  r.U8(0x01).UC(1).SC(3).SC(4);          // b at (14,16)
  r.U8(0x30).SC(1).SC(1).UC(2).UC(1).SC(5).SC(0);  // b again, an array
  dir.Write("db1", r.str());
  SetPositions(p, 1, 0, 0, int32_t(r.size()));

  lib.LoadCell(p, true);
  const auto snap = Snap(*p);
  ASSERT_EQ(snap.refs.size(), 2u);
  // Arrays sort first (cell id word with bit 31).
  EXPECT_EQ(snap.refs[0].cellIdWord, int32_t(1u | 0x80000000u));
  EXPECT_EQ(snap.refs[0].x, 15);
  EXPECT_EQ(snap.refs[0].y, 17);
  EXPECT_EQ(snap.refs[0].columns, 2);
  EXPECT_EQ(snap.refs[1].cellIdWord, 1);
  EXPECT_EQ(snap.refs[1].x, 14);
  EXPECT_EQ(snap.refs[1].y, 16);
  EXPECT_EQ(snap.refs[1].orientation, 1);
  data_test::ExpectIndexed(lib, *p);
}

TEST(CellRecord, EmptyAndReferenceOnlyRecords) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  DBCell* leaf = NewCell(lib, "leaf");
  AddRings(*leaf, 7, {Square(0, 0, 3)});
  DBCell* refsOnly = NewCell(lib, "refs");
  AddRef(lib, *refsOnly, NewSRef(0, 5, 5, 1));
  DBCell* empty = NewCell(lib, "empty", Box(0, 0, 9, 9));
  empty->flags |= DBCell::Modified;
  lib.SaveModified();

  EXPECT_EQ(refsOnly->refPos, refsOnly->startPos);
  EXPECT_GT(refsOnly->endPos, refsOnly->startPos);
  EXPECT_EQ(empty->startPos, empty->endPos);
  EXPECT_EQ(empty->refPos, -1);
  EXPECT_EQ(empty->dbFile, 1);

  for (DBCell* c : {leaf, refsOnly, empty}) {
    const auto before = Snap(*c);
    Unload(*c);
    lib.LoadCell(c, true);
    EXPECT_EQ(Snap(*c), before);
    data_test::ExpectIndexed(lib, *c);
  }
  EXPECT_TRUE(empty->IsEmpty());

  // Only the references: the shapes stay on disk.
  Unload(*refsOnly);
  Unload(*leaf);
  lib.LoadReferences(leaf);  // no reference section: nothing
  EXPECT_TRUE(leaf->IsEmpty());
  lib.LoadReferences(refsOnly);
  EXPECT_EQ(Snap(*refsOnly).refs.size(), 1u);
  EXPECT_TRUE(refsOnly->rawLayers.empty());
}

// ---------------------------------------------------------------------------
// Corrupt records.

struct CorruptCase {
  const char* name;
  Record body;          // follows a valid layer block
  int32_t refOffset;    // offset of the reference section in body, or -1
  int32_t endCut;       // bytes of body beyond the stored end position
  const char* message;
};

Record Ref(uint8_t flags) { return Record().U16(0x4000).U8(flags); }

std::vector<CorruptCase> CorruptCases() {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  auto square = [](Record r) { return r.I32(3).SC(10).UC(1).SC(0).SC(0); };
  auto block = [](uint16_t layer, uint32_t shapes) {
    return Record().U16(layer).U8(0).UC(shapes);
  };
  return {
      {"layer word 0x5000", square(block(0x5000, 1)), -1, 0, "Wrong layer format"},
      {"layer word 0x4001", square(block(0x4001, 1)), -1, 0, "Wrong layer format"},
      {"no shapes", block(2, 0), -1, 0, "Wrong layer format"},
      {"huge shape count", square(block(2, 0x7FFFFFFF)), -1, 0, "Wrong layer format"},
      {"shape count 2^31", square(block(2, 0x80000000u)), -1, 0, "Wrong layer format"},
      {"no placements", block(2, 1).I32(3).SC(10).UC(0).SC(0).SC(0), -1, 0, "Wrong format"},
      {"huge placement count", block(2, 1).I32(3).SC(10).UC(0x7FFFFFF0).SC(0).SC(0), -1, 0,
       "Wrong format"},
      {"polygon of two vertices", block(2, 1).I32(2).SC(1).UC(1).SC(0).SC(0), -1, 0,
       "Wrong polygon format"},
      {"octangular of two vertices", block(2, 1).I32(0x40000002).SC(0).UC(1).SC(0).SC(0), -1, 0,
       "Wrong polygon format"},
      {"general of one vertex", block(2, 1).I32(int32_t(0x80000001u)).SC(0).UC(1).SC(0).SC(0), -1,
       0, "Wrong polygon format"},
      {"square of negative side", block(2, 1).I32(3).SC(-10).UC(1).SC(0).SC(0), -1, 0,
       "Wrong polygon format"},
      {"rectangle of negative height", block(2, 1).I32(4).SC(10).SC(-5).UC(1).SC(0).SC(0), -1,
       0, "Wrong polygon format"},
      {"manhattan of five vertices", block(2, 1).I32(5).SC(1).SC(1).SC(1).UC(1).SC(0).SC(0),
       -1, 0, "Wrong polygon format"},
      {"polygon cut short", block(2, 1).I32(int32_t(0x80000000u | 0x3FFFF)).I32(0).I32(0), -1,
       0, "Insufficient Polygon Data"},
      {"over-long chained integer", block(2, 1).I32(3).Raw("\x80\x80\x80\x80\x80\x01"), -1, 0,
       "Wrong Chained Integer format"},
      {"block past the record end", square(block(2, 1)), -1, 2, "Wrong layer format"},
      {"placement past the record end", block(2, 1).I32(3).SC(10).UC(1).SC(300).SC(300), -1,
       1, "Insufficient Cell Data"},
      {"zero columns", Ref(0x10).UC(0).SC(0).SC(0).UC(0).UC(1).SC(9).SC(9), 0, 0,
       "Wrong reference format"},
      {"zero rows", Ref(0x10).UC(0).SC(0).SC(0).UC(2).UC(0).SC(9).SC(9), 0, 0,
       "Wrong reference format"},
      {"negative columns", Ref(0x10).UC(0).SC(0).SC(0).UC(uint32_t(-3)).UC(1).SC(9).SC(9), 0,
       0, "Wrong reference format"},
      {"NaN magnification", Ref(0x08).UC(0).F32(nan).SC(0).SC(0), 0, 0,
       "Wrong reference format"},
      {"infinite magnification", Ref(0x08).UC(0).F32(inf).SC(0).SC(0), 0, 0,
       "Wrong reference format"},
      {"negative magnification", Ref(0x08).UC(0).F32(-2.0f).SC(0).SC(0), 0, 0,
       "Wrong reference format"},
      {"zero magnification", Ref(0x08).UC(0).F32(0.0f).SC(0).SC(0), 0, 0,
       "Wrong reference format"},
      {"unused flag bits", Ref(0x40).UC(0).SC(0).SC(0), 0, 0, "Wrong reference format"},
      {"cell id out of range", Ref(0x00).UC(2).SC(0).SC(0), 0, 0, "Cell id invalid"},
      {"first record repeats a cell", Ref(0x20).SC(0).SC(0), 0, 0, "Cell id invalid"},
      {"reference past the record end", Ref(0x00).UC(0).SC(300).SC(300), 0, 1,
       "Insufficient Reference Data"},
      {"reference section outside the record", square(block(2, 1)), 40, 0,
       "Cell file position invalid"},
  };
}

TEST(CellRecordCorrupt, EveryCaseIsRefusedAndLeavesTheCellEmpty) {
  const Record valid = Record().U16(1).U8(0).UC(1).I32(3).SC(10).UC(1).SC(0).SC(0);
  for (bool index : {false, true}) {
    for (const CorruptCase& c : CorruptCases()) {
      SCOPED_TRACE(std::string(c.name) + (index ? " (indexed)" : ""));
      TempDir dir;
      LibDB lib(dir.path().c_str(), 0);
      NewCell(lib, "child", Box(0, 0, 10, 10));
      DBCell* p = NewCell(lib, "p", Box(0, 0, 100, 100));
      const std::string bytes = valid.str() + c.body.str();
      dir.Write("db1", bytes);
      SetPositions(p, 1, 0, c.refOffset < 0 ? -1 : int32_t(valid.size()) + c.refOffset,
            int32_t(bytes.size()) - c.endCut);
      try {
        lib.LoadCell(p, index);
        ADD_FAILURE() << "loaded";
      } catch (const Error& e) {
        EXPECT_EQ(UnitOf(e), "LIBIN");
        EXPECT_STREQ(e.Message(), c.message);
      }
      EXPECT_TRUE(p->IsEmpty());
    }
  }
}

TEST(CellRecordCorrupt, DamagedReferenceSectionKeepsReferencesAlreadyHeld) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  NewCell(lib, "child", Box(0, 0, 10, 10));
  DBCell* p = NewCell(lib, "p", Box(0, 0, 100, 100));
  AddRef(lib, *p, NewSRef(0, 1, 1));
  const std::string bytes =
      Ref(0x00).UC(0).SC(20).SC(20).U8(0x08).UC(0).F32(-1.0f).SC(0).SC(0).str();
  dir.Write("db1", bytes);
  SetPositions(p, 1, 0, 0, int32_t(bytes.size()));
  EXPECT_THROW(lib.LoadReferences(p), Error);
  const auto snap = Snap(*p);
  ASSERT_EQ(snap.refs.size(), 1u);
  EXPECT_EQ(snap.refs[0].x, 1);

  // Without a tree before, none is left behind.
  DBCell* q = NewCell(lib, "q", Box(0, 0, 100, 100));
  SetPositions(q, 1, 0, 0, int32_t(bytes.size()));
  EXPECT_THROW(lib.LoadReferences(q), Error);
  EXPECT_TRUE(q->IsEmpty());
}

TEST(CellRecordCorrupt, LoadingIntoACellThatHoldsContentsIsRefused) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  DBCell* c = NewCell(lib, "c");
  AddRings(*c, 1, {Square(0, 0, 5)});
  lib.SaveModified();
  try {
    lib.LoadCell(c, false);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(UnitOf(e), "LIBIN");
  }
  EXPECT_EQ(Snap(*c).layers.at(1).size(), 1u);
}

// A record with every kind of content, stored by the library.
struct RichCell {
  TempDir dir;
  std::unique_ptr<LibDB> lib;
  DBCell* cell = nullptr;
  data_test::CellSnap snap;
  int32_t start = 0, ref = 0, end = 0;

  explicit RichCell(bool gz) {
    lib = std::make_unique<LibDB>(dir.path().c_str(), gz);
    NewCell(*lib, "child", Box(-5, -5, 5, 5));
    cell = NewCell(*lib, "rich");
    AddRings(*cell, 1 * 256, {Square(0, 0, 10), Square(40, 0, 10), Rect(0, 30, 70, 5)});
    AddRings(*cell, 2 * 256 + 200, {Chamfered(100, 0), {{0, 0}, {10, 0}, {0, 10}}});
    AddRings(*cell, 63 * 256 + 255, {Hexagon(-50, -50)});
    AddRef(*lib, *cell, NewSRef(0, 300, 300, 5, 1.5f));
    AddRef(*lib, *cell, NewARef(0, -300, 10, 2, 4, 3, 25, -30));
    lib->SaveModified();
    snap = Snap(*cell);
    start = cell->startPos;
    ref = cell->refPos;
    end = cell->endPos;
  }
};

TEST(CellRecordCorrupt, RecordCutAtEveryOffsetIsRefused) {
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "gzip" : "plain");
    RichCell rc(gz);
    const std::string name = gz ? "db1.gz" : "db1";
    const std::string bytes = rc.dir.Read(name);
    ASSERT_GT(bytes.size(), 20u);
    size_t loaded = 0;
    for (size_t k = 0; k <= bytes.size(); ++k) {
      SCOPED_TRACE(k);
      rc.lib->CloseDataFile();
      rc.dir.Write(name, bytes.substr(0, k));
      Unload(*rc.cell);
      SetPositions(rc.cell, 1, rc.start, rc.ref, rc.end);
      try {
        rc.lib->LoadCell(rc.cell, true);
        // A gzip file cut inside its trailer still holds the whole record.
        EXPECT_TRUE(k == bytes.size() || gz);
        EXPECT_EQ(Snap(*rc.cell), rc.snap);
        ++loaded;
      } catch (const Error& e) {
        EXPECT_EQ(UnitOf(e), "LIBIN") << e.Message();
        EXPECT_NE(k, bytes.size());
        EXPECT_TRUE(rc.cell->IsEmpty());
      }
    }
    EXPECT_GE(loaded, 1u);
  }
}

// ---------------------------------------------------------------------------
// Writing.

TEST(CellRecordWrite, RefusesWhatCouldNotBeReadBack) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  NewCell(lib, "child", Box(0, 0, 5, 5));
  DBCell* holder = NewCell(lib, "holder");
  lib.OpenCellFile(holder);
  const int64_t at = lib.dbStream.Tell();
  struct Bad {
    const char* name;
    std::unique_ptr<SRef> ref;
    const char* message;
  };
  std::vector<Bad> bad;
  bad.push_back({"unknown cell", std::unique_ptr<SRef>(NewSRef(7, 0, 0)), "Cell id invalid"});
  bad.push_back({"NaN magnification",
                 std::unique_ptr<SRef>(NewSRef(0, 0, 0, 0, std::nanf(""))),
                 "Wrong reference format"});
  bad.push_back({"negative magnification",
                 std::unique_ptr<SRef>(NewSRef(0, 0, 0, 0, -1.0f)),
                 "Wrong reference format"});
  bad.push_back({"no columns", std::unique_ptr<SRef>(NewARef(0, 0, 0, 0, 0, 2, 1, 1)),
                 "Wrong reference format"});
  for (Bad& b : bad) {
    SCOPED_TRACE(b.name);
    SRef* previous = nullptr;
    try {
      lib.WriteReference(b.ref.get(), previous);
      ADD_FAILURE();
    } catch (const Error& e) {
      EXPECT_EQ(UnitOf(e), "LIBOUT");
      EXPECT_STREQ(e.Message(), b.message);
    }
    EXPECT_EQ(previous, nullptr);
    EXPECT_EQ(lib.dbStream.Tell(), at);
  }
  lib.CloseDataFile();
  EXPECT_EQ(dir.Read("db1"), "");
}

TEST(CellRecordWrite, ShapesWithoutPlacementsAreNotStored) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  DBCell* c = NewCell(lib, "c");
  AddRings(*c, 1, {Square(0, 0, 5)});
  // A shape that lost its placements, and a layer that holds only such.
  CPgonList::Append(c->rawLayers.at(1), std::make_unique<DBPolygon>(4u, std::vector<int32_t>{3, 4}));
  CPgonList::Append(c->FindOrCreateRawLayer(9), std::make_unique<DBPolygon>(3u, std::vector<int32_t>{2}));
  const auto before = Snap(*c);
  lib.SaveModified();
  Unload(*c);
  lib.LoadCell(c, false);
  EXPECT_EQ(Snap(*c), before);
  EXPECT_EQ(c->rawLayers.count(9), 0u);
}

// Degenerate boxes (a side of 0) are stored and read back; a square or
// rectangle of negative side, which the reader refuses, is never written.
TEST(CellRecordWrite, BoxesOfZeroSideAreKeptNegativeSidesRefused) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  DBCell* c = NewCell(lib, "c");
  AddRings(*c, 1, {Square(0, 0, 10)});
  CPgonListNode* shape = nullptr;
  c->AddBox(Box(5, 5, 5, 9), 1, shape);
  c->AddBox(Box(3, 3, 3, 3), 1, shape);
  const auto before = Snap(*c);
  lib.SaveModified();
  Unload(*c);
  lib.LoadCell(c, false);
  EXPECT_EQ(Snap(*c), before);

  DBCell* bad = NewCell(lib, "bad");
  CPgonListNode* s = CPgonList::Append(
      bad->FindOrCreateRawLayer(1), std::make_unique<DBPolygon>(4u, std::vector<int32_t>{3, -4}));
  LocList::Append(s->placements, s, 0, 0);
  bad->box = Box(0, -4, 3, 0);
  bad->flags |= DBCell::Modified;
  try {
    lib.SaveModified();
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(UnitOf(e), "LIBOUT");
    EXPECT_STREQ(e.Message(), "Wrong polygon format");
  }
  EXPECT_EQ(bad->dbFile, 0);
  EXPECT_NE(bad->flags & DBCell::Modified, 0);
}

TEST(CellRecordWrite, ReferenceLayerWithoutLiveItemsWritesNoSection) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  NewCell(lib, "child", Box(0, 0, 5, 5));
  DBCell* c = NewCell(lib, "c");
  AddRings(*c, 1, {Square(0, 0, 5)});
  AddRef(lib, *c, NewSRef(0, 9, 9));
  DBCell::FreeTreeItems(c->indexedLayers.at(ReferenceKey));
  lib.SaveModified();
  EXPECT_EQ(c->refPos, -1);
  Unload(*c);
  lib.LoadCell(c, true);
  EXPECT_TRUE(Snap(*c).refs.empty());
  EXPECT_EQ(Snap(*c).layers.size(), 1u);
}

TEST(CellRecordWrite, ARecordMustBeStartedAndItsFileOpen) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  DBCell* c = NewCell(lib, "c");
  AddRings(*c, 1, {Square(0, 0, 5)});
  try {
    lib.WriteCellReferences(c);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(UnitOf(e), "LIBOUT");
  }
  c->dbFile = 4;
  try {
    lib.WriteCellLayers(c);  // no data file open
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(UnitOf(e), "LIBOUT");
  }
  EXPECT_EQ(c->dbFile, 4);
  EXPECT_EQ(c->startPos, -1);
}

TEST(CellRecordWrite, FileOpenForReadingIsReopenedForAppending) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 1);
  DBCell* a = NewCell(lib, "a");
  AddRings(*a, 1, {Square(0, 0, 5)});
  DBCell* b = NewCell(lib, "b");
  AddRings(*b, 1, {Square(0, 0, 6)});
  lib.SaveModified();
  Unload(*a);
  lib.LoadCell(a, false);
  ASSERT_EQ(lib.openDb, 1);
  ASSERT_FALSE(lib.dbStream.IsWriting());
  AddRings(*b, 2, {Rect(0, 0, 6, 2)});
  const auto want = Snap(*b);
  const int32_t oldEnd = b->endPos;
  WriteCell(lib, b);
  EXPECT_EQ(b->dbFile, 1);
  EXPECT_GE(b->startPos, oldEnd);
  Unload(*a);
  Unload(*b);
  lib.LoadCell(b, false);
  lib.LoadCell(a, false);
  EXPECT_EQ(Snap(*b), want);
  EXPECT_EQ(Snap(*a).layers.at(1).size(), 1u);
}

TEST(CellRecordWrite, DataFileThatCannotBeCreatedIsReported) {
  TempDir dir;
  dir.Write("file", "x");
  // A "directory" below a regular file: nothing can be created in it.
  LibDB lib(dir.File("file").c_str(), 0);
  DBCell* c = NewCell(lib, "c");
  AddRings(*c, 1, {Square(0, 0, 5)});
  try {
    lib.SaveModified();
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(UnitOf(e), "LIBOUT");
  }
  EXPECT_EQ(c->dbFile, 0);
  EXPECT_EQ(c->startPos, -1);
  EXPECT_NE(c->flags & DBCell::Modified, 0);
  EXPECT_EQ(lib.openDb, 0);
}

// ---------------------------------------------------------------------------
// Roll-over at the size limit, with sparse files.

struct RollCase {
  const char* name;
  std::vector<std::pair<uint16_t, int64_t>> files;  // number, size
  uint16_t cellFile, writeDb;
  uint16_t wantFile, wantWriteDb;
  int64_t wantStart;
};

TEST(CellFileRollOver, AppendsUpToTheLimitThenMovesOnWithoutShorteningFiles) {
  constexpr int64_t kLimit = 999999999;
  const std::vector<RollCase> cases = {
      {"new library starts with file 1", {}, 0, 0, 1, 1, 0},
      {"own file at the limit keeps the cell", {{1, kLimit}}, 1, 1, 1, 1, kLimit},
      {"own file past the limit: the write file", {{1, kLimit + 1}, {2, 10}}, 1, 2, 2, 2, 10},
      {"new cell: the write file", {{2, 10}}, 0, 2, 2, 2, 10},
      {"full write file: a new file", {{1, kLimit + 1}}, 0, 1, 2, 2, 0},
      {"existing next file is appended to", {{1, kLimit + 1}, {2, kLimit + 1}, {3, 4}}, 1, 2,
       3, 3, 4},
      {"full files are passed", {{1, kLimit + 1}, {2, kLimit + 1}, {3, kLimit + 5}}, 0, 1, 4,
       4, 0},
  };
  for (const RollCase& rc : cases) {
    SCOPED_TRACE(rc.name);
    TempDir dir;
    for (const auto& [n, size] : rc.files)
      MakeSparse(dir.File("db" + std::to_string(n)), size, "keep");
    LibDB lib(dir.path().c_str(), 0);
    lib.writeDb = rc.writeDb;
    DBCell* c = NewCell(lib, "c");
    AddRings(*c, 1, {Square(0, 0, 5), Rect(10, 0, 4, 9)});
    AddRef(lib, *c, NewSRef(0, 3, 3, 1));  // a reference to itself: fine on disk
    c->dbFile = rc.cellFile;
    const auto before = Snap(*c);

    WriteCell(lib, c);
    EXPECT_EQ(c->dbFile, rc.wantFile);
    EXPECT_EQ(lib.writeDb, rc.wantWriteDb);
    EXPECT_EQ(c->startPos, rc.wantStart);
    for (const auto& [n, size] : rc.files) {
      const std::string path = dir.File("db" + std::to_string(n));
      EXPECT_GE(FileSize(path), size) << path;
      std::string head(4, '\0');
      const int fd = ::open(path.c_str(), O_RDONLY);
      ASSERT_EQ(::read(fd, head.data(), 4), 4);
      ::close(fd);
      EXPECT_EQ(head, "keep") << path;
    }
    Unload(*c);
    lib.LoadCell(c, true);
    EXPECT_EQ(Snap(*c), before);
  }
}

TEST(CellFileRollOver, PositionsBeyond32BitsAreRefused) {
  for (int64_t size : {int64_t(INT32_MAX) - 3, int64_t(INT32_MAX) + 1}) {
    SCOPED_TRACE(size);
    TempDir dir;
    MakeSparse(dir.File("db1"), size);
    LibDB lib(dir.path().c_str(), 0);
    DBCell* c = NewCell(lib, "c");
    AddRings(*c, 1, {Square(0, 0, 5)});
    lib.dbStream.path = dir.File("db1");
    lib.dbStream.write = true;
    lib.dbStream.openMode = BinaryStream::kAppend;
    lib.dbStream.unit = "LIBOUT";
    ASSERT_TRUE(lib.dbStream.Open());
    lib.openDb = 1;
    try {
      lib.SaveAllTo(1);
      ADD_FAILURE();
    } catch (const Error& e) {
      EXPECT_EQ(UnitOf(e), "LIBOUT");
      EXPECT_STREQ(e.Message(), "Cell file position invalid");
    }
    EXPECT_EQ(c->dbFile, 0);
    EXPECT_EQ(c->startPos, -1);
    EXPECT_EQ(c->endPos, -1);
    EXPECT_NE(c->flags & DBCell::Modified, 0);
    lib.CloseDataFile();
  }
}


// ---------------------------------------------------------------------------
// Layer keys and their stored form.

TEST(LayerKeys, PairsKeysAndStoredFormAgree) {
  struct Case {
    int32_t layer, datatype;
    bool libraryPair;
    LayerKey key;
  };
  const std::vector<Case> cases = {
      {0, 0, true, 0},           {1, 200, true, 0x1C8},
      {255, 255, true, 0xFFFF},  {256, 0, false, 0x10000},
      {0x4000, 0, false, ReferenceKey},
      {3, -1, false, 0x2FF},  // aliases 2/255: not a library pair
      {-1, 0, false, -256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.layer) + "/" + std::to_string(c.datatype));
    const LayerKey key = MakeLayerKey(c.layer, c.datatype);
    EXPECT_EQ(key, c.key);
    EXPECT_EQ(IsLibraryPair(c.layer, c.datatype), c.libraryPair);
    EXPECT_EQ(LibraryLayerKey(c.layer, c.datatype), c.libraryPair ? c.key : NoLayerKey);
    if (c.libraryPair) {
      EXPECT_TRUE(IsDrawnLayerKey(key));
      EXPECT_EQ(LayerOf(key), c.layer);
      EXPECT_EQ(DatatypeOf(key), c.datatype);
      // The stored layer word and datatype byte give the key back, and no
      // library layer stores the reference marker.
      EXPECT_EQ(KeyFromStored(StoredLayerWord(key), StoredDatatype(key)), key);
      EXPECT_FALSE(IsReferenceMarker(StoredLayerWord(key)));
    }
  }
  EXPECT_FALSE(IsDrawnLayerKey(WorkLayerKey));
  EXPECT_TRUE(IsReferenceMarker(StoredLayerWord(ReferenceKey)));
  EXPECT_TRUE(IsReferenceLayer(ReferenceKey + 1));
  EXPECT_FALSE(IsReferenceLayer(ReferenceKey - 1));
}

TEST(LayerKeys, LayerTableKeepsUnsignedOrder) {
  // Keys read from an index file are 32-bit words: one with bit 31 set
  // sorts after every proper key, as the index file lists them.
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  for (LayerKey key : {LayerKey(0x80000100u), ReferenceKey, 0x101, 0})
    EXPECT_TRUE(lib.AddLayerKey(key));
  EXPECT_FALSE(lib.AddLayerKey(0x101));
  std::vector<LayerKey> order;
  for (const auto& [key, info] : lib.layers) order.push_back(key);
  EXPECT_EQ(order, (std::vector<LayerKey>{0, 0x101, ReferenceKey,
                                          LayerKey(0x80000100u)}));
  EXPECT_TRUE(lib.HasFlags(LibDB::InfoDirty));
}

// ---------------------------------------------------------------------------
// Records written by a layout reader: the cell is built in memory as a
// reader builds it (shapes in file order, equal shapes not yet merged), its
// references come as a list.

TEST(ReaderRecord, WritesTheDocumentedBytesAndLoadsBack) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  NewCell(lib, "B", Box(0, 0, 4, 4));
  DBCell* a = NewCell(lib, "A");
  CPgonListNode* shape = nullptr;
  a->AddBox(Box(15, -3, 25, 7), 1 * 256 + 200, shape);
  a->AddBox(Box(-4, 6, 16, 13), 3 * 256, shape);
  a->AddBox(Box(5, -3, 15, 7), 1 * 256 + 200, shape);
  std::vector<ARef> refs;
  refs.emplace_back(Trans(100, 50, 1.0f, 3), 0, 1, 1, 0, 0);
  refs.back().cellId = 0;  // a single reference
  refs.emplace_back(Trans(90, 50, 1.0f, 0), 0, 2, 3, 7, -8);

  ASSERT_TRUE(lib.OpenDataFileForWriting(1, 0));
  lib.BeginReadRecord(a);
  lib.MoveLayersToRecord(a);
  lib.WriteReadReferences(a, refs);
  lib.EndReadRecord(a);
  lib.CloseDataFile();

  Record want;
  want.U16(1).U8(200).UC(1);                    // equal squares: one shape
  want.I32(3).SC(10).UC(2).SC(5).SC(-3).SC(10).SC(0);
  want.U16(3).U8(0).UC(1);
  want.I32(4).SC(20).SC(7).UC(1).SC(-4).SC(6);
  const int32_t marker = int32_t(want.size());
  want.U16(0x4000);
  want.U8(3).UC(0).SC(100).SC(50);              // single reference
  want.U8(0x10 | 0x20).SC(-10).SC(0).UC(2).UC(3).SC(7).SC(-8);  // same cell
  EXPECT_EQ(dir.Read("db1"), want.str());
  EXPECT_EQ(a->dbFile, 1);
  EXPECT_EQ(a->startPos, 0);
  EXPECT_EQ(a->refPos, marker);
  EXPECT_EQ(a->endPos, int32_t(want.size()));
  EXPECT_TRUE(a->IsEmpty());
  EXPECT_EQ(lib.layers.count(1 * 256 + 200), 1u);
  EXPECT_EQ(lib.layers.count(3 * 256), 1u);

  lib.LoadCell(a, true);
  const auto snap = Snap(*a);
  ASSERT_EQ(snap.layers.size(), 2u);
  EXPECT_EQ(snap.layers.at(1 * 256 + 200)[0].placements,
            (std::vector<std::pair<int32_t, int32_t>>{{5, -3}, {15, -3}}));
  ASSERT_EQ(snap.refs.size(), 2u);
  EXPECT_EQ(snap.refs[0].x, 90);
  EXPECT_EQ(snap.refs[0].columns, 2);
  EXPECT_EQ(snap.refs[1].x, 100);
  EXPECT_EQ(snap.refs[1].orientation, 3);
}

TEST(ReaderRecord, RollsOverToTheNextFileNumberPastTheLimit) {
  constexpr int64_t kLimit = 999999999;
  TempDir dir;
  MakeSparse(dir.File("db1"), kLimit + 1, "keep");
  MakeSparse(dir.File("db2"), 10, "keep");
  LibDB lib(dir.path().c_str(), 0);
  DBCell* c = NewCell(lib, "c");
  lib.writeDb = 1;
  ASSERT_TRUE(lib.OpenDataFileForWriting(1, BinaryStream::kAppend));
  lib.BeginReadRecord(c);
  EXPECT_EQ(lib.writeDb, 2);
  EXPECT_EQ(lib.openDb, 2);
  EXPECT_EQ(c->dbFile, 2);
  EXPECT_EQ(c->startPos, 10);  // appended to, never replaced
  EXPECT_EQ(c->refPos, -1);
  lib.EndReadRecord(c);
  EXPECT_EQ(c->endPos, 10);
  lib.CloseDataFile();
  EXPECT_EQ(FileSize(dir.File("db1")), kLimit + 1);

  // No number left after the last one.
  LibDB full(dir.path().c_str(), 0);
  DBCell* d = NewCell(full, "d");
  full.writeDb = UINT16_MAX;
  ASSERT_TRUE(full.OpenDataFileForWriting(1, BinaryStream::kAppend));
  try {
    full.BeginReadRecord(d);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(UnitOf(e), "LIBOUT");
    EXPECT_STREQ(e.Message(), "Too many cell data files");
  }
  EXPECT_EQ(full.openDb, 0);
}

}  // namespace
}  // namespace velmar
