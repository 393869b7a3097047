// API: storing results into the working cell, the temporary database and
// polygon text files; copying and joining temporary databases.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "command/api.h"
#include "command/inspectable_api.h"
#include "command/store_fixtures.h"
#include "formats/polygon_file.h"
#include "layoutdb/db_polygon.h"
#include "support/chop_reference.h"
#include "support/file_size_limit.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using test::InspectableApi;

using store_test::Captured;
using store_test::LibraryDir;
using store_test::ReadFile;
using store_test::StoredArea;
using store_test::StoredBox;
using store_test::TempLayerOf;
using store_test::WriteStandardGds;

constexpr int32_t Key(int layer, int datatype) { return layer * 256 + datatype; }

class StoreTest : public ::testing::Test {
 protected:
  // A library loaded with the standard layout, open in api, with top as
  // the working cell and its whole box as the area.
  void SetUp() override {
    dir_ = LibraryDir(tmp_, "lib");
    const std::string gds = tmp_.File("std.gds");
    WriteStandardGds(gds);
    api_.OpenLibrary(dir_.c_str(), 0);
    Captured([&] {
      ASSERT_EQ(api_.LoadGds(gds.c_str(), 0, ""), 1);
      ASSERT_EQ(api_.SetArea("top", 0, 0, 0, 0), 1);
    });
  }
  void TearDown() override {
    Captured([&] { api_.CloseLibraries(); });
    SetLogStream(nullptr);
  }

  void OpenTempDB() {
    api_.SetTempDB(tempDB_.c_str());
    api_.OpenTempDB();
  }

  // Closes the temporary database, copies it into cell and writes the
  // library back.
  void CopyAndUpdate(const char* cell) {
    Captured([&] {
      api_.CloseTempDB();
      api_.CopyTempDB(cell);
      api_.UpdateLibrary();
    });
  }

  test::TempDir tmp_;
  std::string dir_;
  std::string tempDB_ = tmp_.File("temp.db");
  InspectableApi api_;
};

TEST_F(StoreTest, SaveDBAppendsOneFlushedRecordPerStore) {
  OpenTempDB();
  const int a = TempLayerOf(api_, {Box(100, 100, 300, 300)});
  const int b = TempLayerOf(api_, {Box(400, 100, 500, 200), Box(600, 100, 700, 200)});
  EXPECT_EQ(a, 16384);
  EXPECT_EQ(b, 16383);
  EXPECT_EQ(api_.SaveDB(a, 0, 5, 0), 1);
  // Flushed at once: the record is in the file while the stream is open.
  const std::string first = ReadFile(tempDB_);
  ASSERT_GE(first.size(), 4u);
  EXPECT_EQ(first.substr(0, 4), std::string("\x05\x00\x00\x01", 4));  // {5 0}, 1 shape
  EXPECT_EQ(api_.SaveDB(b, 0, 5, 7), 1);
  EXPECT_GT(ReadFile(tempDB_).size(), first.size());
  // The sources are consumed and keep their numbers.
  EXPECT_EQ(api_.tempLayers.size(), 2u);
  EXPECT_TRUE(api_.tempLayers[0]->IsEmpty());
  EXPECT_TRUE(api_.tempLayers[1]->IsEmpty());
  EXPECT_EQ(api_.savedPolygonsDB, 3);
  EXPECT_EQ(api_.currentLib->layers.count(Key(5, 7)), 1u);
  // An empty source stores nothing and succeeds.
  EXPECT_EQ(api_.SaveDB(a, 0, 5, 0), 1);
  EXPECT_EQ(api_.savedPolygonsDB, 3);

  CopyAndUpdate("top");
  EXPECT_EQ(StoredArea(dir_, "top", Key(5, 0)), 40000.0L);
  EXPECT_EQ(StoredArea(dir_, "top", Key(5, 7)), 20000.0L);
  // The cell's own layers stay in front of the copied records.
  EXPECT_EQ(StoredArea(dir_, "top", Key(1, 0)), 1010000.0L);
}

TEST_F(StoreTest, ReportsOfStoring) {
  OpenTempDB();
  api_.tech.reportDegree = 1;
  const int a = TempLayerOf(api_, {Box(100, 100, 300, 300), Box(400, 100, 500, 200)});
  const std::string out = Captured([&] { api_.SaveDB(a, 0, 5, 0); });
  // The date line, then the echo and the reports.
  const size_t echo = out.find("SaveDB {16384 0} {5 0}\n");
  ASSERT_NE(echo, std::string::npos) << out;
  EXPECT_EQ(out.substr(echo),
            "SaveDB {16384 0} {5 0}\n"
            "  Total output polygons = 2\n"
            "  Total output vertices = 8\n"
            "    Max no of vertices = 4\n"
            "\nTotal 2 polygons were added\n");
}

// A staircase ring of 2k + 2 vertices and area k (k + 1) / 2.
void Staircase(PSList& list, int32_t k) {
  std::vector<Point> pts;
  pts.emplace_back(0, 0);
  for (int32_t i = 0; i < k; ++i) {
    pts.emplace_back(k - i, i);
    pts.emplace_back(k - i, i + 1);
  }
  pts.emplace_back(0, k);
  test::AddRing(list, pts);
}

TEST_F(StoreTest, RefusedStoresKeepTheSource) {
  OpenTempDB();
  const int a = TempLayerOf(api_, {Box(0, 0, 10, 10)});
  struct Case {
    int layer1, layer2, datatype2;
    const char* message;
  };
  const Case cases[] = {
      {1, 5, 0, "ERROR: {1 0} is not a temporary layer\n"},
      {16000, 5, 0, "ERROR: Temporary layer 16000 does not exist\n"},
      {20000, 5, 0, "ERROR: Temporary layer 20000 does not exist\n"},
      {a, 256, 0, "ERROR: Layer {256 0} cannot be stored"},
      {a, 5, 256, "ERROR: Layer {5 256} cannot be stored"},
      {a, -1, 0, "ERROR: Layer {-1 0} cannot be stored"},
  };
  for (const Case& c : cases) {
    int result = -1;
    const std::string out =
        Captured([&] { result = api_.SaveDB(c.layer1, 0, c.layer2, c.datatype2); });
    EXPECT_EQ(result, 0) << c.message;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
  }
  // Storing into a temporary database that is not open would lose it.
  api_.CloseTempDB();
  int result = -1;
  std::string out = Captured([&] { result = api_.SaveDB(a, 0, 5, 0); });
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("ERROR: LIBOUT: Temporary database " + tempDB_ + " is not open\n"),
            std::string::npos) << out;
  EXPECT_EQ(api_.tempLayers[0]->pointCount, 4);
  EXPECT_EQ(api_.savedPolygonsDB, 0);
  // Opened again, the same layer stores.
  OpenTempDB();
  EXPECT_EQ(api_.SaveDB(a, 0, 5, 0), 1);
  EXPECT_TRUE(api_.tempLayers[0]->IsEmpty());
  // A failed store (here: chopping that cannot succeed) keeps the result.
  api_.tech.maxSize = 0;
  const int b = api_.GetTempLayer();
  Staircase(*api_.tempLayers[size_t(b)], 140000);
  out = Captured([&] { result = api_.SaveDB(API::kTempLayerBase - b, 0, 5, 0); });
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("ERROR: DB: Polygons cannot be chopped below the vertex limit\n"),
            std::string::npos) << out;
  PSList& kept = *api_.tempLayers[size_t(b)];
  EXPECT_EQ(kept.pointCount, 280002);
  EXPECT_EQ(ListArea(kept), 140000.0L * 140001 / 2);
}

// Boxes of distinct sizes, so that every one is a shape of its own in a
// record: count of them, 100 units apart on one row starting at y.
std::vector<Box> DistinctBoxes(int count, int32_t y) {
  std::vector<Box> boxes;
  for (int i = 0; i < count; ++i)
    boxes.emplace_back(100 * i, y, 100 * i + 10 + i % 80, y + 10 + i / 80);
  return boxes;
}

long double BoxesArea(const std::vector<Box>& boxes) {
  long double area = 0;
  for (const Box& b : boxes) area += (long double)(b.x2 - b.x1) * (b.y2 - b.y1);
  return area;
}

TEST_F(StoreTest, ARecordThatCannotBeWrittenLeavesNoPartOfItInTheFile) {
  OpenTempDB();
  const std::vector<Box> first = DistinctBoxes(400, 2000);
  const std::vector<Box> second = DistinctBoxes(400, 3000);
  ASSERT_EQ(api_.SaveDB(TempLayerOf(api_, first), 0, 5, 0), 1);
  const long long complete = (long long)ReadFile(tempDB_).size();
  ASSERT_GT(complete, 1000);

  // The file may grow by 32 bytes only: the second record is cut off.
  int b = -1, result = -1;
  std::string out;
  {
    test::FileSizeLimit limit(rlim_t(complete + 32));
    b = TempLayerOf(api_, second);
    out = Captured([&] { result = api_.SaveDB(b, 0, 6, 0); });
  }
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("ERROR: LIBOUT: "), std::string::npos) << out;
  // The file holds the complete first record only, and the result is kept.
  EXPECT_EQ((long long)ReadFile(tempDB_).size(), complete);
  EXPECT_EQ(api_.tempLayers[1]->pointCount, 1600);
  EXPECT_EQ(api_.savedPolygonsDB, 400);

  // Stored again, it follows the first record and both are copied.
  EXPECT_EQ(api_.SaveDB(b, 0, 6, 0), 1);
  std::string copied;
  Captured([&] { api_.CloseTempDB(); });
  copied = Captured([&] { api_.CopyTempDB("top"); });
  EXPECT_EQ(copied.find("damaged"), std::string::npos) << copied;
  Captured([&] { api_.UpdateLibrary(); });
  EXPECT_EQ(StoredArea(dir_, "top", Key(5, 0)), BoxesArea(first));
  EXPECT_EQ(StoredArea(dir_, "top", Key(6, 0)), BoxesArea(second));
}

TEST_F(StoreTest, ATemporaryDatabaseThatCannotBeCutBackIsClosed) {
  // A device that takes no byte and cannot be truncated.
  if (!store_test::Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  api_.SetTempDB("/dev/full");
  api_.OpenTempDB();
  const int a = TempLayerOf(api_, {Box(0, 0, 10, 10)});
  int result = -1;
  std::string out = Captured([&] { result = api_.SaveDB(a, 0, 5, 0); });
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("ERROR: LIBOUT: Temporary database /dev/full is closed"),
            std::string::npos) << out;
  // Later stores refuse and keep their result.
  out = Captured([&] { result = api_.SaveDB(a, 0, 5, 0); });
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("is not open"), std::string::npos) << out;
  EXPECT_EQ(api_.tempLayers[0]->pointCount, 4);
  EXPECT_EQ(api_.savedPolygonsDB, 0);
}

TEST_F(StoreTest, ResultsAreClippedBackToTheAreaExceptAtTheCellBorder) {
  // Margin 10 nm = 10 units, so sides on or within 20 of the cell's border
  // move out by 20. top's box is (0,0)-(2150,1000).
  api_.tech.areaMargin = 10;
  struct Case {
    Box area;
    Box result;
    long double stored;
  };
  const Case cases[] = {
      // wholly inside: unchanged
      {Box(500, 200, 1500, 800), Box(600, 300, 700, 400), 10000},
      // over an inner side: cut at the side
      {Box(500, 200, 1500, 800), Box(450, 300, 550, 400), 5000},
      {Box(500, 200, 1500, 800), Box(1450, 750, 1600, 900), 50 * 50},
      // over a side on the border: kept up to twice the margin
      {Box(0, 0, 1000, 1000), Box(-50, 300, 50, 400), 70 * 100},
      // near the border (within twice the margin): moved out as well
      {Box(500, 200, 2140, 990), Box(2100, 950, 2200, 1050), 60 * 60},
  };
  int layer = 10;
  for (const Case& c : cases) {
    OpenTempDB();
    api_.area = c.area;
    const int t = TempLayerOf(api_, {c.result});
    ASSERT_EQ(api_.SaveDB(t, 0, layer, 0), 1);
    CopyAndUpdate("top");
    EXPECT_EQ(StoredArea(dir_, "top", Key(layer, 0)), c.stored) << layer;
    ++layer;
  }
}

TEST_F(StoreTest, CopiedRecordsGrowTheReceivingCell) {
  // Stored while child is the working cell, copied into top: top's box must
  // cover the records, or a window query would miss them.
  Captured([&] { ASSERT_EQ(api_.SetArea("child", 0, 0, 0, 0), 1); });
  OpenTempDB();
  const int t = TempLayerOf(api_, {Box(5000, 5000, 5100, 5100)});
  ASSERT_EQ(api_.SaveDB(t, 0, 6, 0), 1);
  CopyAndUpdate("top");
  EXPECT_EQ(StoredBox(dir_, "top"), Box(0, 0, 5100, 5100));
  EXPECT_EQ(StoredArea(dir_, "top", Key(6, 0)), 10000.0L);
  EXPECT_EQ(StoredArea(dir_, "child", Key(6, 0)), 0.0L);
  LibDB reread(dir_.c_str(), 0);
  Captured([&] { reread.ReadInfo(); });
  EXPECT_EQ(reread.layers.count(Key(6, 0)), 1u);
}

TEST_F(StoreTest, HierarchicalStoreJoinsTheCellsStoredShapes) {
  // The library is fresh from the read: top holds nothing in memory.
  ASSERT_TRUE(api_.currentLib->FindCell("top")->IsEmpty());
  api_.hierarchical = 1;
  const int t = TempLayerOf(api_, {Box(1200, 0, 1300, 100)});
  ASSERT_EQ(api_.SaveDB(t, 0, 1, 0), 1);
  // A ring with a hole is stored as one ring cut open.
  const int h = api_.GetTempLayer();
  PSList& ring = *api_.tempLayers[size_t(h)];
  BoxToRing(ring, Box(0, 0, 300, 300), false);
  PSList hole;
  BoxToRing(hole, Box(100, 100, 200, 200), false);
  ReverseList(hole);
  SpliceList(ring, hole);
  ASSERT_EQ(api_.SaveDB(API::kTempLayerBase - h, 0, 7, 0), 1);
  const RawLayer& stored = api_.currentLib->FindCell("top")->rawLayers.at(Key(7, 0));
  EXPECT_EQ(stored.count, 1);
  Captured([&] { api_.UpdateLibrary(); });
  EXPECT_EQ(StoredArea(dir_, "top", Key(1, 0)), 1000000.0L + 10000 + 10000);
  EXPECT_EQ(StoredArea(dir_, "top", Key(7, 0)), 80000.0L);
}

// SavePoly needs no library unless it clips or chops; chopping a ring
// beyond the vertex limit needs the library's units and the working cell.
TEST(StoreDeathTest, SavePolyChoppingWithoutALibraryEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::TempDir tmp;
  const std::string small = tmp.File("small.txt");
  const std::string huge = tmp.File("huge.txt");
  EXPECT_EXIT(
      {
        InspectableApi a;
        const int s = TempLayerOf(a, {Box(0, 0, 10, 10)});
        if (a.SavePoly(s, 0, small.c_str()) != 1) std::exit(3);
        const int index = a.GetTempLayer();
        Staircase(*a.tempLayers[size_t(index)], 140000);
        ::dup2(2, 1);
        a.SavePoly(API::kTempLayerBase - index, 0, huge.c_str());
        std::exit(4);
      },
      ::testing::ExitedWithCode(1), "ERROR: Library not assigned\n");
}

TEST_F(StoreTest, RingsBeyondTheVertexLimitAreChopped) {
  constexpr int32_t k = 150000;  // 300,002 vertices
  api_.hierarchical = 1;
  api_.tech.reportDegree = 1;
  const int index = api_.GetTempLayer();
  Staircase(*api_.tempLayers[size_t(index)], k);
  int result = 0;
  const std::string out =
      Captured([&] { result = api_.SaveDB(API::kTempLayerBase - index, 0, 8, 0); });
  ASSERT_EQ(result, 1) << out;
  EXPECT_NE(out.find("    Max no of vertices = 300002\n"
                     "  Vertice count exceeds DB limit, chopping...to max "),
            std::string::npos) << out;
  const RawLayer& stored = api_.currentLib->FindCell("top")->rawLayers.at(Key(8, 0));
  LayerRings rings;
  api_.currentLib->FindCell("top")->RawLayersToRings({Key(8, 0)}, rings, 0);
  for (const CPgonListNode* s = stored.first; s != nullptr; s = s->next)
    EXPECT_LE(s->polygon->VertexCount(), DBPolygon::kMaxVertices);
  EXPECT_EQ(ListArea(rings[Key(8, 0)]), (long double)(k) * (k + 1) / 2);
}

// Only rings beyond the vertex limit are cut into tiles: a long box that
// spans many tiles beside such a ring is written whole.
TEST_F(StoreTest, ChoppingLeavesTheRingsWithinTheLimitWhole) {
  constexpr int32_t k = 150000;  // 300,002 vertices
  api_.hierarchical = 1;
  const int index = api_.GetTempLayer();
  PSList& layer = *api_.tempLayers[size_t(index)];
  Staircase(layer, k);
  const Box bar(0, 200000, 900000, 200010);
  BoxToRing(layer, bar, false);
  const std::string file = tmp_.File("chopped.txt");
  int result = 0;
  const std::string out =
      Captured([&] { result = api_.SavePoly(API::kTempLayerBase - index, 0, file.c_str()); });
  ASSERT_EQ(result, 1) << out;
  ScratchList read;
  ASSERT_TRUE(ReadPolygonFile(read.list, file, false));
  EXPECT_EQ(ListArea(read.list),
            (long double)(k) * (k + 1) / 2 + (long double)(bar.x2 - bar.x1) * (bar.y2 - bar.y1));
  int bars = 0;
  for (PSPoint* p = read.list.head; p; p = p->link) p->flags &= uint16_t(~PSPointFlags::Visited);
  for (PSPoint* p = read.list.head; p; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    int32_t n = 0;
    Box box;
    PSPoint* q = p;
    do {
      q->flags |= PSPointFlags::Visited;
      box.Extend(q->x, q->y);
      ++n;
      q = q->next;
    } while (q != p);
    EXPECT_LE(n, int32_t(DBPolygon::kMaxVertices));
    if (box.y1 >= bar.y1) {
      ++bars;
      EXPECT_EQ(n, 4);
      EXPECT_EQ(box, bar);
    }
  }
  EXPECT_EQ(bars, 1);
}

// The written file is the one the storing course gives when every ring
// over the limit is chopped through copies of it: a square with 50,176
// holes (one ring of about 330,000 vertices once they are cut open, over
// many tiles), a staircase within one tile (copied whole in the first round,
// chopped in the second), and rings within the limit on either side.
TEST_F(StoreTest, SavePolyWritesWhatChoppingThroughCopiesGives) {
  api_.hierarchical = 1;
  const int index = api_.GetTempLayer();
  PSList& layer = *api_.tempLayers[size_t(index)];
  BoxToRing(layer, Box(-5000, -5000, -4000, 2100000), false);
  for (int32_t i = 0; i < 224; ++i)
    for (int32_t j = 0; j < 224; ++j) {
      const int32_t x = 3000 + i * 8900 + (j % 7) * 100, y = 3000 + j * 8900;
      test::AddRing(layer, {{x, y}, {x, y + 1000}, {x + 1000, y + 1000}, {x + 1000, y}});
    }
  BoxToRing(layer, Box(0, 0, 2000000, 2000000), false);
  ScratchList stairs;
  Staircase(stairs.list, 140000);
  for (PSPoint* p = stairs.list.head; p; p = p->link) p->x += 2100000;
  SpliceList(layer, stairs.list);
  BoxToRing(layer, Box(2100000, 150000, 2500000, 150100), false);
  CountRings(layer);

  ScratchList reference;
  CopyPointList(layer, reference.list);
  const int64_t tile = 16 * int64_t(std::lround(api_.tech.maxSize * api_.currentLib->unitPerNm));
  ASSERT_EQ(tile, 160000);  // the staircase fits one tile of the first round
  test::StoreCourseByCopies(reference.list, int32_t(DBPolygon::kMaxVertices), tile);
  const std::string want = tmp_.File("reference.txt");
  Captured([&] { ASSERT_TRUE(WritePolygonFile(reference.list, want, false)); });

  const std::string file = tmp_.File("stored.txt");
  int result = 0;
  const std::string out =
      Captured([&] { result = api_.SavePoly(API::kTempLayerBase - index, 0, file.c_str()); });
  ASSERT_EQ(result, 1) << out;
  const std::string got = ReadFile(file), expected = ReadFile(want);
  EXPECT_GT(expected.size(), 4000000u);
  EXPECT_TRUE(got == expected) << "written " << got.size() << " bytes, reference "
                               << expected.size();
}

// A result with an open chain in it is written as the list walk writes it:
// its rings, not the chain (counted in a warning).
TEST_F(StoreTest, SavePolyLeavesOpenChainsOut) {
  api_.hierarchical = 1;
  const int index = api_.GetTempLayer();
  PSList& layer = *api_.tempLayers[size_t(index)];
  BoxToRing(layer, Box(0, 0, 100, 50), false);
  test::AddChain(layer, {{200, 0}, {300, 0}, {300, 80}, {250, 90}});
  // The chain's first point first on the link chain (the count walks a
  // chain from there).
  PSPoint* first = nullptr;
  for (PSPoint* p = layer.head; p->link; p = p->link)
    if (p->link->x == 200 && p->link->y == 0) {
      first = p->link;
      p->link = first->link;
      if (layer.tail == first) layer.tail = p;
      break;
    }
  if (first) {
    first->link = layer.head;
    layer.head = first;
  }
  ASSERT_EQ(layer.head->x, 200);
  const std::string file = tmp_.File("chain.txt");
  int result = 0;
  const std::string out =
      Captured([&] { result = api_.SavePoly(API::kTempLayerBase - index, 0, file.c_str()); });
  ASSERT_EQ(result, 1) << out;
  EXPECT_EQ(ReadFile(file), "4\n0\t50\n0\t0\n100\t0\n100\t50\n");
  EXPECT_NE(out.find("Warning: 1 open chains not written"), std::string::npos) << out;
}

// --- Polygon text files ------------------------------------------------------------

TEST_F(StoreTest, SavePolyStartsItsFileAfterEachLibraryUpdate) {
  const std::string file = tmp_.File("out.txt");
  const int a = TempLayerOf(api_, {Box(0, 0, 10, 10)});
  const int b = TempLayerOf(api_, {Box(20, 0, 30, 10)});
  api_.tech.reportDegree = 1;
  std::string out = Captured([&] { EXPECT_EQ(api_.SavePoly(a, 0, file.c_str()), 1); });
  EXPECT_NE(out.find("Report {16384 0}\n"), std::string::npos) << out;
  api_.tech.reportDegree = 0;
  const std::string first = ReadFile(file);
  // Each ring starts at its first point on the list (a box ring: (x1, y2)).
  EXPECT_EQ(first, "4\n0\t10\n0\t0\n10\t0\n10\t10\n");
  EXPECT_EQ(api_.SavePoly(b, 0, file.c_str()), 1);
  EXPECT_EQ(ReadFile(file), first + "4\n20\t10\n20\t0\n30\t0\n30\t10\n");
  EXPECT_EQ(api_.savedPolygonsText, 2);

  Captured([&] { api_.UpdateLibrary(); });
  const int c = TempLayerOf(api_, {Box(0, 0, 5, 5)});
  // A file that cannot be written: 0, and the counter stays, so the next
  // file starts anew too.
  out = Captured([&] {
    EXPECT_EQ(api_.SavePoly(c, 0, tmp_.File("no/dir/x.txt").c_str()), 0);
  });
  EXPECT_EQ(api_.savedPolygonsText, 0);
  EXPECT_EQ(api_.tempLayers[2]->pointCount, 4);  // the result is kept
  EXPECT_EQ(api_.SavePoly(c, 0, file.c_str()), 1);
  EXPECT_EQ(ReadFile(file), "4\n0\t5\n0\t0\n5\t0\n5\t5\n");
}

TEST_F(StoreTest, SavePolyClipsWithTheMarginInDatabaseUnits) {
  Captured([&] { api_.ChangeDBUnit(0.5); });  // 2 units per nanometre
  api_.tech.areaMargin = 10;                   // 20 units
  api_.area = Box(0, 0, 1000, 1000);           // x1 and y1 on top's border
  const std::string file = tmp_.File("clip.txt");
  const int a = TempLayerOf(api_, {Box(-100, 500, 1100, 600)});
  EXPECT_EQ(api_.SavePoly(a, 0, file.c_str()), 1);
  PSList read;
  Captured([&] { ReadPolygonFile(read, file, false); });
  EXPECT_EQ(ListBBox(read), Box(-20, 500, 1000, 600));
  ClearPointList(read);
}

// --- Copying and joining temporary databases ---------------------------------------

TEST_F(StoreTest, CopyTempDBTakesOnlyCompleteRecords) {
  OpenTempDB();
  const int a = TempLayerOf(api_, {Box(100, 100, 200, 200)});
  const int b = TempLayerOf(api_, {Box(300, 100, 400, 200)});
  ASSERT_EQ(api_.SaveDB(a, 0, 5, 0), 1);
  const size_t firstRecord = ReadFile(tempDB_).size();
  ASSERT_EQ(api_.SaveDB(b, 0, 6, 0), 1);
  api_.CloseTempDB();
  // A process killed while writing its second record.
  const std::string bytes = ReadFile(tempDB_);
  std::ofstream(tempDB_, std::ios::binary | std::ios::trunc)
      << bytes.substr(0, bytes.size() - 2);
  std::string out = Captured([&] {
    api_.CopyTempDB("");
    api_.UpdateLibrary();
  });
  EXPECT_NE(out.find("  Cell adjusted to top\n"), std::string::npos) << out;
  EXPECT_NE(out.find("after byte " + std::to_string(firstRecord) + ";"),
            std::string::npos) << out;
  EXPECT_EQ(StoredArea(dir_, "top", Key(5, 0)), 10000.0L);
  EXPECT_EQ(StoredArea(dir_, "top", Key(6, 0)), 0.0L);
  EXPECT_EQ(StoredArea(dir_, "top", Key(1, 0)), 1010000.0L);
}

TEST_F(StoreTest, CopyTempDBStopsAtARecordTheCellReaderWouldRefuse) {
  OpenTempDB();
  const int a = TempLayerOf(api_, {Box(100, 100, 200, 200)});
  ASSERT_EQ(api_.SaveDB(a, 0, 5, 0), 1);
  api_.CloseTempDB();
  const size_t firstRecord = ReadFile(tempDB_).size();
  // A complete record of layer 6/0: one square of side -10 (a clockwise
  // box, which no cell record may hold) placed at (100, 100).
  const unsigned char bad[] = {0x06, 0x00, 0x00, 0x01, 0x03, 0x00, 0x00,
                               0x00, 0x15, 0x01, 0xC8, 0x01, 0xC8, 0x01};
  std::ofstream(tempDB_, std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(bad), sizeof bad);
  const std::string out = Captured([&] {
    api_.CopyTempDB("top");
    api_.UpdateLibrary();
  });
  EXPECT_NE(out.find("after byte " + std::to_string(firstRecord) + ";"),
            std::string::npos) << out;
  // The cell stays readable, with the record before the refused one.
  EXPECT_EQ(StoredArea(dir_, "top", Key(5, 0)), 10000.0L);
  EXPECT_EQ(StoredArea(dir_, "top", Key(6, 0)), 0.0L);
  EXPECT_EQ(StoredArea(dir_, "top", Key(1, 0)), 1010000.0L);
}

TEST_F(StoreTest, ACopyThatCannotBeWrittenLeavesTheCellAsItWasStored) {
  OpenTempDB();
  const std::vector<Box> boxes = DistinctBoxes(300, 2000);
  ASSERT_EQ(api_.SaveDB(TempLayerOf(api_, boxes), 0, 5, 0), 1);
  Captured([&] { api_.CloseTempDB(); });
  const std::string db1 = dir_ + "/db1";
  const long long before = (long long)ReadFile(db1).size();

  // The data file may grow by 16 bytes only: the cell's new record fails.
  std::string out;
  {
    test::FileSizeLimit limit(rlim_t(before + 16));
    out = Captured([&] { api_.CopyTempDB("top"); });
  }
  EXPECT_NE(out.find("ERROR: LIBOUT: "), std::string::npos) << out;

  // The library still reads top from its old record.
  Captured([&] { api_.UpdateLibrary(); });
  EXPECT_EQ(StoredArea(dir_, "top", Key(1, 0)), 1010000.0L);
  EXPECT_EQ(StoredArea(dir_, "top", Key(5, 0)), 0.0L);
  // Copied again without the limit, the records arrive.
  Captured([&] {
    api_.CopyTempDB("top");
    api_.UpdateLibrary();
  });
  EXPECT_EQ(StoredArea(dir_, "top", Key(1, 0)), 1010000.0L);
  EXPECT_EQ(StoredArea(dir_, "top", Key(5, 0)), BoxesArea(boxes));
}

TEST_F(StoreTest, CopyTempDBWithNothingToCopy) {
  // Missing file: a warning.
  api_.SetTempDB(tmp_.File("missing.db").c_str());
  std::string out = Captured([&] { api_.CopyTempDB("top"); });
  EXPECT_NE(out.find("Warning: "), std::string::npos) << out;
  // Empty file: nothing at all.
  OpenTempDB();
  out = Captured([&] { api_.CopyTempDB("top"); });
  EXPECT_EQ(out, "");
  // Unknown cell: the message, nothing written.
  OpenTempDB();
  const int a = TempLayerOf(api_, {Box(0, 0, 10, 10)});
  ASSERT_EQ(api_.SaveDB(a, 0, 5, 0), 1);
  const std::string db1 = ReadFile(dir_ + "/db1");
  out = Captured([&] { api_.CopyTempDB("nope"); });
  EXPECT_EQ(out, "ERROR: Cell nope is not defined");
  EXPECT_EQ(ReadFile(dir_ + "/db1"), db1);
}

TEST_F(StoreTest, AppendBinaries) {
  const std::string a = tmp_.File("a.bin");
  const std::string b = tmp_.File("b.bin");
  std::ofstream(a, std::ios::binary) << "abc";
  std::ofstream(b, std::ios::binary) << std::string(5000, 'x');
  api_.AppendBinaries(a.c_str(), b.c_str());
  EXPECT_EQ(ReadFile(a), "abc" + std::string(5000, 'x'));
  std::string out = Captured([&] { api_.AppendBinaries(a.c_str(), a.c_str()); });
  EXPECT_NE(out.find("cannot be appended to itself"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(a).size(), 5003u);
  out = Captured([&] { api_.AppendBinaries(a.c_str(), tmp_.File("none").c_str()); });
  EXPECT_NE(out.find("ERROR: File "), std::string::npos) << out;
  EXPECT_EQ(ReadFile(a).size(), 5003u);

  // Two temporary databases joined and copied in one step.
  OpenTempDB();
  const int t = TempLayerOf(api_, {Box(100, 100, 200, 200)});
  ASSERT_EQ(api_.SaveDB(t, 0, 5, 0), 1);
  api_.CloseTempDB();
  const std::string other = tmp_.File("other.db");
  api_.SetTempDB(other.c_str());
  api_.OpenTempDB();
  const int u = TempLayerOf(api_, {Box(300, 100, 400, 200)});
  ASSERT_EQ(api_.SaveDB(u, 0, 5, 0), 1);
  api_.CloseTempDB();
  api_.AppendBinaries(tempDB_.c_str(), other.c_str());
  api_.SetTempDB(tempDB_.c_str());
  Captured([&] {
    api_.CopyTempDB("top");
    api_.UpdateLibrary();
  });
  EXPECT_EQ(StoredArea(dir_, "top", Key(5, 0)), 20000.0L);
}

}  // namespace
}  // namespace velmar
