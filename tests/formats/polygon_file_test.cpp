// Polygon text, binary and line files and their converters.
#include "formats/polygon_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "geometry/point_system.h"
#include "support/point_list_fixtures.h"

namespace velmar {
namespace {

using Ring = std::vector<Point>;

// --- Builders and independent readers ------------------------------------

using test::AddChain;
using test::AddRing;

// The rings of a list filled by the readers, in file order, each from the
// vertex read first. A reader pushes a polygon's points at the head of the
// list in file order and links the last back to the first, so the first
// vertex of a ring met on the link chain is the polygon's last one. Checks
// the links on the way (prev mirrors next, every ring closes).
std::vector<Ring> RingsInFileOrder(const PSList& list) {
  std::vector<Ring> rings;
  std::set<const PSPoint*> seen;
  int64_t points = 0;
  for (const PSPoint* p = list.head; p; p = p->link) {
    ++points;
    if (seen.count(p)) continue;
    const PSPoint* start = p->next;
    Ring ring;
    const PSPoint* q = start;
    do {
      EXPECT_NE(q, nullptr);
      if (!q) return rings;
      EXPECT_EQ(q->next->prev, q);
      seen.insert(q);
      ring.emplace_back(q->x, q->y);
      q = q->next;
      if (ring.size() > size_t(list.pointCount) + 1) {
        ADD_FAILURE() << "ring does not close";
        return rings;
      }
    } while (q != start);
    rings.push_back(ring);
  }
  EXPECT_EQ(points, list.pointCount);
  EXPECT_EQ(int64_t(rings.size()), list.ringCount);
  std::reverse(rings.begin(), rings.end());
  return rings;
}

// Rotation to the smallest vertex (x, then y), direction kept.
Ring Canonical(Ring r) {
  auto it = std::min_element(r.begin(), r.end(), [](Point a, Point b) {
    return a.x != b.x ? a.x < b.x : a.y < b.y;
  });
  std::rotate(r.begin(), it, r.end());
  return r;
}

std::vector<Ring> SortedCanonical(const std::vector<Ring>& rings) {
  std::vector<Ring> out;
  for (const Ring& r : rings) out.push_back(Canonical(r));
  std::sort(out.begin(), out.end(), [](const Ring& a, const Ring& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [](Point p, Point q) {
          return p.x != q.x ? p.x < q.x : p.y < q.y;
        });
  });
  return out;
}

std::string LittleEndian(const std::vector<int32_t>& values) {
  std::string bytes;
  for (int32_t v : values) {
    const uint32_t u = uint32_t(v);
    for (int i = 0; i < 4; ++i) bytes.push_back(char((u >> (8 * i)) & 0xff));
  }
  return bytes;
}

std::vector<int32_t> FromLittleEndian(const std::string& bytes) {
  EXPECT_EQ(bytes.size() % 4, 0u);
  std::vector<int32_t> values;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    uint32_t u = 0;
    for (int k = 0; k < 4; ++k) u |= uint32_t(uint8_t(bytes[i + k])) << (8 * k);
    values.push_back(int32_t(u));
  }
  return values;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << content;
  ASSERT_TRUE(f.good());
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// gzip through zlib directly, independent of the stream the code uses.
void WriteGzip(const std::string& path, const std::string& content) {
  gzFile f = gzopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(gzwrite(f, content.data(), unsigned(content.size())),
            int(content.size()));
  ASSERT_EQ(gzclose(f), Z_OK);
}

std::string ReadGzip(const std::string& path) {
  gzFile f = gzopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr);
  if (!f) return {};
  std::string out;
  char buf[4096];
  int n;
  while ((n = gzread(f, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  EXPECT_EQ(n, 0);
  gzclose(f);
  return out;
}

void WriteBinary(const std::string& path, const std::vector<int32_t>& values,
                 bool gzip) {
  if (gzip) {
    WriteGzip(path, LittleEndian(values));
  } else {
    WriteFile(path, LittleEndian(values));
  }
}

std::vector<int32_t> ReadBinary(const std::string& path, bool gzip) {
  return FromLittleEndian(gzip ? ReadGzip(path) : ReadFile(path));
}

bool HasDevFull() { return ::access("/dev/full", W_OK) == 0; }

const Ring kBox100x50 = {{0, 0}, {100, 0}, {100, 50}, {0, 50}};
const Ring kTriangle = {{0, 0}, {10, 0}, {0, 10}};

class PolygonFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/velmar_polygon_file_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    SetLogStream(&log_);
  }
  void TearDown() override {
    SetLogStream(nullptr);
    ClearPointList(list_);
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Messages printed since the last call.
  std::string Messages() {
    std::string s = log_.str();
    log_.str("");
    return s;
  }

  std::string dir_;
  std::ostringstream log_;
  PSList list_;
};

// --- Reading ---------------------------------------------------------------

struct ReadCase {
  const char* name;
  std::string text;               // polygon text file
  std::vector<int32_t> binary;    // the same as a binary file (empty: none)
  std::vector<Ring> rings;        // in file order
  std::string totals;             // "  %d polygons with %d vertices read\n"
  std::vector<std::string> warnings;  // expected substrings ("": none)
  std::vector<std::string> absent = {};  // substrings that must not appear
};

std::vector<ReadCase> ReadCases() {
  std::string manyText;
  std::vector<int32_t> manyBinary;
  for (int i = 0; i < 21; ++i) {
    manyText += "1 0 0\n";
    manyBinary.insert(manyBinary.end(), {1, 0, 0});
  }
  manyText += "3 0 0 10 0 0 10\n";
  manyBinary.insert(manyBinary.end(), {3, 0, 0, 10, 0, 0, 10});
  return {
      {"report limit", manyText, manyBinary, {kTriangle},
       "  1 polygons with 3 vertices read\n",
       {"polygon 20 in", "Same warning will not be shown any more\n",
        "  21 polygons with a vertex count below 3 skipped\n",
        "  Detailed problem reports are limited to 20 cases\n"},
       {"polygon 21 in"}},
      {"box form", "0 0 0 100 50", {0, 0, 0, 100, 50}, {kBox100x50},
       "  1 polygons with 4 vertices read\n", {}},
      {"trailing word", "3 0 0 10 0 0 10 end", {}, {kTriangle},
       "  1 polygons with 3 vertices read\n", {}},
      {"degenerate counts skipped",
       "1 5 5\n3 0 0 10 0 0 10\n2 1 1 2 2\n-7 9 9\n0 -5 -5 5 5\n",
       {1, 5, 5, 3, 0, 0, 10, 0, 0, 10, 2, 1, 1, 2, 2, -7, 9, 9, 0, -5, -5, 5,
        5},
       {kTriangle, {{-5, -5}, {5, -5}, {5, 5}, {-5, 5}}},
       "  2 polygons with 7 vertices read\n",
       {"polygon 1 in", "vertex count 1, skipped", "polygon 3 in",
        "vertex count 2, skipped", "polygon 4 in", "vertex count -7, skipped",
        "  3 polygons with a vertex count below 3 skipped\n"}},
      {"cut off by the end", "3 0 0 10 0 0 10\n4 0 0 1 0 1",
       {3, 0, 0, 10, 0, 0, 10, 4, 0, 0, 1, 0, 1}, {kTriangle},
       "  1 polygons with 3 vertices read\n",
       {"polygon 2 in", "cut off by the end of the file, discarded"}},
      {"count alone at the end", "3 0 0 10 0 0 10 5",
       {3, 0, 0, 10, 0, 0, 10, 5}, {kTriangle},
       "  1 polygons with 3 vertices read\n",
       {"polygon 2 in", "cut off by the end of the file"}},
      {"cut off by a word", "3 0 0 10 x 0 10", {}, {},
       "  0 polygons with 0 vertices read\n",
       {"polygon 1 in", "cut off by a word that is not a number"}},
      {"value beyond 32 bits", "3 0 0 2147483648 0 0 1", {}, {},
       "  0 polygons with 0 vertices read\n",
       {"cut off by a word that is not a number"}},
      {"extremes, tabs, CRLF, plus sign",
       "3\t-2147483648 2147483647\r\n+10 0\r\n0 -10\r\n",
       {3, INT32_MIN, INT32_MAX, 10, 0, 0, -10},
       {{{INT32_MIN, INT32_MAX}, {10, 0}, {0, -10}}},
       "  1 polygons with 3 vertices read\n", {}},
      {"empty file", "", {}, {}, "  0 polygons with 0 vertices read\n", {}},
      {"count not a number", "12abc 0 0 3 0 0 10 0 0 10", {}, {},
       "  0 polygons with 0 vertices read\n", {}},
  };
}

void ExpectMessages(const std::string& messages, const ReadCase& c) {
  EXPECT_NE(messages.find(c.totals), std::string::npos) << messages;
  for (const std::string& w : c.warnings) {
    EXPECT_NE(messages.find(w), std::string::npos) << w << "\n" << messages;
  }
  for (const std::string& a : c.absent) {
    EXPECT_EQ(messages.find(a), std::string::npos) << a << "\n" << messages;
  }
  if (c.warnings.empty()) {
    EXPECT_EQ(messages.find("Warning"), std::string::npos) << messages;
  }
}

TEST_F(PolygonFileTest, TextReaderCases) {
  for (const ReadCase& c : ReadCases()) {
    SCOPED_TRACE(c.name);
    const std::string path = Path("in.txt");
    WriteFile(path, c.text);
    ClearPointList(list_);
    Messages();
    ASSERT_TRUE(ReadPolygonFile(list_, path, false));
    EXPECT_EQ(RingsInFileOrder(list_), c.rings);
    const std::string messages = Messages();
    EXPECT_EQ(messages.rfind("Reading " + path + "\n", 0), 0u) << messages;
    ExpectMessages(messages, c);
  }
}

TEST_F(PolygonFileTest, BinaryReaderCasesPlainAndGzip) {
  for (bool gzip : {false, true}) {
    for (const ReadCase& c : ReadCases()) {
      if (c.binary.empty() && !c.text.empty()) continue;
      SCOPED_TRACE(std::string(c.name) + (gzip ? " (gzip)" : " (plain)"));
      const std::string path = Path("in.bin");
      WriteBinary(path, c.binary, gzip);
      ClearPointList(list_);
      Messages();
      ASSERT_TRUE(ReadBinaryPolygonFile(list_, path, false, gzip));
      EXPECT_EQ(RingsInFileOrder(list_), c.rings);
      ExpectMessages(Messages(), c);
    }
  }
}

// A binary file cut at every byte: the whole polygons before the cut are
// read, a polygon the cut goes through is reported and dropped.
TEST_F(PolygonFileTest, BinaryFileCutAtEveryByte) {
  const std::vector<int32_t> values = {0, 0, 0, 100, 50, 3, 0, 0, 10, 0, 0, 10,
                                       5, 0, 0, 4, 0, 4, 4, 2, 6, 0, 4};
  const std::vector<Ring> all = {
      kBox100x50, kTriangle, {{0, 0}, {4, 0}, {4, 4}, {2, 6}, {0, 4}}};
  const std::vector<size_t> ends = {5 * 4, 12 * 4, 23 * 4};  // polygon ends
  const std::string bytes = LittleEndian(values);
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    const std::string path = Path("cut.bin");
    WriteFile(path, bytes.substr(0, cut));
    ClearPointList(list_);
    Messages();
    ASSERT_TRUE(ReadBinaryPolygonFile(list_, path, false, false));
    size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= cut) ++whole;
    EXPECT_EQ(RingsInFileOrder(list_),
              std::vector<Ring>(all.begin(), all.begin() + long(whole)));
    const bool onBoundary = cut == 0 || std::count(ends.begin(), ends.end(), cut);
    EXPECT_EQ(Messages().find("cut off by the end of the file") !=
                  std::string::npos,
              !onBoundary);
  }
}

// Points get the second-operand mark on request; new rings go in front of
// the list's own, which stay intact.
TEST_F(PolygonFileTest, ReadAddsMarkedRingsInFrontOfExistingOnes) {
  BoxToRing(list_, Box(-10, -10, -5, -5), false);
  PSPoint* oldHead = list_.head;
  PSPoint* oldTail = list_.tail;
  list_.words[4] = 7;
  const std::string path = Path("in.txt");
  WriteFile(path, "3 0 0 10 0 0 10 0 0 0 100 50");
  ASSERT_TRUE(ReadPolygonFile(list_, path, true));
  EXPECT_EQ(list_.ringCount, 3);
  EXPECT_EQ(list_.pointCount, 11);
  EXPECT_EQ(list_.tail, oldTail);
  EXPECT_EQ(list_.words[4], 7);
  int marked = 0;
  for (PSPoint* p = list_.head; p != oldHead; p = p->link) {
    EXPECT_EQ(p->flags, PSPointFlags::SecondLayer);
    ++marked;
  }
  EXPECT_EQ(marked, 7);
  for (PSPoint* p = oldHead; p; p = p->link) EXPECT_EQ(p->flags, 0);
  const std::vector<Ring> rings = RingsInFileOrder(list_);
  ASSERT_EQ(rings.size(), 3u);
  EXPECT_EQ(rings[1], kTriangle);
  EXPECT_EQ(rings[2], kBox100x50);
}

TEST_F(PolygonFileTest, UnopenableInputsAreReported) {
  EXPECT_FALSE(ReadPolygonFile(list_, Path("missing.txt"), false));
  EXPECT_EQ(Messages(), "Error: Input file could not be opened !\n");
  EXPECT_FALSE(ReadPolygonFile(list_, dir_, false));
  EXPECT_EQ(Messages(), "Error: Input file could not be opened !\n");
  for (bool gzip : {false, true}) {
    EXPECT_FALSE(ReadBinaryPolygonFile(list_, Path("missing.bin"), false, gzip));
    EXPECT_EQ(Messages(),
              "Error: Input file " + Path("missing.bin") + " could not be opened !\n");
  }
  EXPECT_TRUE(list_.IsEmpty());
}

// Damaged gzip data is an error, and the list keeps only what it held.
TEST_F(PolygonFileTest, DamagedGzipThrowsAndLeavesListAsItWas) {
  std::vector<int32_t> values;
  std::mt19937 rng(7);
  for (int i = 0; i < 4000; ++i) {
    values.insert(values.end(), {3, int32_t(rng()), int32_t(rng()),
                                 int32_t(rng()), int32_t(rng()), int32_t(rng()),
                                 int32_t(rng())});
  }
  const std::string path = Path("damaged.gz");
  WriteGzip(path, LittleEndian(values));
  std::string bytes = ReadFile(path);
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] ^= 0x5a;
  WriteFile(path, bytes);
  BoxToRing(list_, Box(0, 0, 1, 1), false);
  PSPoint* head = list_.head;
  try {
    ReadBinaryPolygonFile(list_, path, false, true);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Unit(), kPolygonFileReadUnit);
  }
  EXPECT_EQ(list_.head, head);
  EXPECT_EQ(list_.pointCount, 4);
  EXPECT_EQ(list_.ringCount, 1);
}

// --- Writing ---------------------------------------------------------------

// One four-point ring and one closed two-point ring: only the four-point
// ring is written, from its first point on the link chain; the counts then
// count it alone.
TEST_F(PolygonFileTest, WriteSkipsTwoPointRingsAndRecountsTheList) {
  BoxToRing(list_, Box(0, 0, 100, 50), false);  // head: (0, 50)
  AddRing(list_, {{5, 5}, {6, 6}});
  const std::string path = Path("out.txt");
  ASSERT_TRUE(WritePolygonFile(list_, path, false));
  EXPECT_EQ(ReadFile(path), "4\n0\t50\n0\t0\n100\t0\n100\t50\n");
  EXPECT_EQ(list_.ringCount, 1);
  EXPECT_EQ(list_.pointCount, 4);
  for (PSPoint* p = list_.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
}

// Rings read beforehand (as the count before storing reads them) are
// written as the list walk writes them: the same bytes, rings of one or two
// vertices left out, and the same counts afterwards.
TEST_F(PolygonFileTest, WriteFromReadRingsGivesTheListWalksFile) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> coord(-1000000, 1000000);
  for (int i = 0; i < 200; ++i) {
    Ring r(1 + rng() % 12);
    for (Point& p : r) p = Point(coord(rng), coord(rng));
    AddRing(list_, r);
  }
  ListRings read;
  for (PSPoint* p = list_.head; p; p = p->link) {
    if (p->flags & PSPointFlags::Visited) continue;
    int32_t n = 0;
    PSPoint* q = p;
    do {
      q->flags |= PSPointFlags::Visited;
      read.points.push_back(Point(q->x, q->y));
      ++n;
      q = q->next;
    } while (q != p);
    read.sizes.push_back(n);
  }
  for (PSPoint* p = list_.head; p; p = p->link) p->flags = 0;
  const std::string walked = Path("walked.txt"), fromRead = Path("read.txt");
  WriteFile(fromRead, "3\n0\t0\n10\t0\n0\t10\n");
  ASSERT_TRUE(WritePolygonFile(list_, read, fromRead, true));
  const int32_t rings = list_.ringCount, points = list_.pointCount;
  ASSERT_TRUE(WritePolygonFile(list_, walked, false));
  EXPECT_EQ(ReadFile(fromRead), "3\n0\t0\n10\t0\n0\t10\n" + ReadFile(walked));
  EXPECT_EQ(rings, list_.ringCount);
  EXPECT_EQ(points, list_.pointCount);
  EXPECT_LT(list_.ringCount, 200);  // short rings were left out
}

TEST_F(PolygonFileTest, WriteAppendKeepsExistingContent) {
  const std::string path = Path("out.txt");
  WriteFile(path, "3\n0\t0\n10\t0\n0\t10\n");
  AddRing(list_, kBox100x50);  // head: (0, 50)
  ASSERT_TRUE(WritePolygonFile(list_, path, true));
  EXPECT_EQ(ReadFile(path),
            "3\n0\t0\n10\t0\n0\t10\n4\n0\t50\n0\t0\n100\t0\n100\t50\n");
  ASSERT_TRUE(WritePolygonFile(list_, path, false));
  EXPECT_EQ(ReadFile(path), "4\n0\t50\n0\t0\n100\t0\n100\t50\n");
}

// Edge layers hold open chains: they are skipped and counted, whichever of
// their points the link chain meets first; a stale visited bit loses no ring.
TEST_F(PolygonFileTest, WriteSkipsAndCountsOpenChains) {
  AddChain(list_, {{0, 0}, {5, 0}});
  AddRing(list_, kTriangle);
  AddChain(list_, {{1, 1}, {2, 2}, {3, 3}});
  // Move the chain's middle point to the head of the link chain.
  PSPoint* middle = list_.head->link;
  list_.head->link = middle->link;
  middle->link = list_.head;
  list_.head = middle;
  AddRing(list_, kBox100x50)->flags |= PSPointFlags::Visited;
  const std::string path = Path("out.txt");
  ASSERT_TRUE(WritePolygonFile(list_, path, false));
  EXPECT_NE(Messages().find("Warning: 2 open chains not written to " + path),
            std::string::npos);
  EXPECT_EQ(list_.ringCount, 2);
  EXPECT_EQ(list_.pointCount, 7);
  for (PSPoint* p = list_.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
  PSList back;
  ASSERT_TRUE(ReadPolygonFile(back, path, false));
  EXPECT_EQ(SortedCanonical(RingsInFileOrder(back)),
            SortedCanonical({kTriangle, kBox100x50}));
  ClearPointList(back);
}

// Rings written and read back are the same rings, extreme coordinates too.
TEST_F(PolygonFileTest, WriteThenReadGivesTheSameRings) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int32_t> coord(INT32_MIN, INT32_MAX);
  std::vector<Ring> written;
  for (int i = 0; i < 300; ++i) {
    Ring r(3 + rng() % 30);
    for (Point& p : r) p = Point(coord(rng), coord(rng));
    AddRing(list_, r);
    written.push_back(r);
  }
  AddRing(list_, {{1, 2}, {3, 4}});
  const std::string path = Path("out.txt");
  ASSERT_TRUE(WritePolygonFile(list_, path, false));
  PSList back;
  ASSERT_TRUE(ReadPolygonFile(back, path, false));
  EXPECT_EQ(SortedCanonical(RingsInFileOrder(back)), SortedCanonical(written));
  EXPECT_EQ(Messages().find("Warning"), std::string::npos);
  ClearPointList(back);
}

// Every number is written as std::to_string writes it: values at each
// change of digit count, both signs, and the ends of the int32 range.
TEST_F(PolygonFileTest, WrittenNumbersAreExactDecimals) {
  std::vector<int32_t> values = {0, INT32_MIN, INT32_MAX, INT32_MIN + 1};
  for (int64_t p = 1; p <= 1000000000; p *= 10)
    for (int64_t v : {p - 1, p, p + 1, 2 * p - 1, 5 * p})
      if (v <= INT32_MAX) {
        values.push_back(int32_t(v));
        values.push_back(int32_t(-v));
      }
  std::vector<std::string> want;
  Ring r;
  for (size_t i = 0; i + 1 < values.size(); i += 2) {
    r.push_back(Point(values[i], values[i + 1]));
    want.push_back(std::to_string(values[i]) + "\t" + std::to_string(values[i + 1]));
  }
  want.push_back(std::to_string(r.size()));
  AddRing(list_, r);
  const std::string path = Path("numbers.txt");
  ASSERT_TRUE(WritePolygonFile(list_, path, false));
  // The ring may start at any of its vertices: lines are compared as sets.
  std::vector<std::string> got;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) got.push_back(line);
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
}

TEST_F(PolygonFileTest, UnopenableOutputsAreReportedNotThrown) {
  AddRing(list_, kTriangle);
  const std::string path = Path("no/such/dir.txt");
  EXPECT_FALSE(WritePolygonFile(list_, path, false));
  EXPECT_EQ(Messages(), "Error: Output file " + path + " could not be opened !\n");
  EXPECT_FALSE(WriteLineFile(list_, path));
  EXPECT_EQ(Messages(), "Error: Output file could not be opened !\n");
  EXPECT_EQ(list_.pointCount, 3);
}

// A full disk is an error, not success with a truncated file.
TEST_F(PolygonFileTest, WritersReportAFullDevice) {
  if (!HasDevFull()) GTEST_SKIP() << "no /dev/full";
  AddRing(list_, kTriangle);
  AddChain(list_, {{0, 0}, {1, 1}});
  for (bool append : {false, true}) {
    try {
      WritePolygonFile(list_, "/dev/full", append);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.Unit(), kPolygonFileWriteUnit);
      EXPECT_NE(std::string(e.Message()).find("/dev/full"), std::string::npos);
    }
    EXPECT_EQ(list_.pointCount, 5);  // counts unchanged on failure
    for (PSPoint* p = list_.head; p; p = p->link) EXPECT_EQ(p->flags, 0);
  }
  EXPECT_THROW(WriteLineFile(list_, "/dev/full"), Error);

  const std::string text = Path("in.txt");
  const std::string binary = Path("in.bin");
  WriteFile(text, "# p\n3 0 0 10 0 0 10\n");
  WriteBinary(binary, {3, 0, 0, 10, 0, 0, 10}, false);
  for (bool gzip : {false, true}) {
    EXPECT_THROW(ConvertTextToBinary(text, "/dev/full", gzip), Error);
  }
  EXPECT_THROW(ConvertBinaryToText(binary, "/dev/full", false), Error);
  EXPECT_THROW(CopyBinaryPolygonFile(binary, "/dev/full", false), Error);
}

// A write that fails part-way into a regular file leaves no half-written
// polygons: an appended file keeps exactly its old content, a replaced one
// is left empty.
TEST_F(PolygonFileTest, FailedWriteCutsTheFileBack) {
  Ring big(60000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = Point(int32_t(i), int32_t(i * 7));
  AddRing(list_, big);
  const std::string old = "3\n0\t0\n10\t0\n0\t10\n";
  const std::string path = Path("out.txt");
  for (bool append : {true, false}) {
    WriteFile(path, old);
    bool threw = false;
    {
      test::FileSizeLimit limit(64 * 1024);
      try {
        WritePolygonFile(list_, path, append);
      } catch (const Error& e) {
        threw = true;
        EXPECT_STREQ(e.Unit(), kPolygonFileWriteUnit);
      }
    }
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadFile(path), append ? old : "");
  }

  // The same for a converter's binary output.
  std::string dialect;
  for (int i = 0; i < 20000; ++i) dialect += "#\n3 0 0 1000000 0 0 1000000\n";
  WriteFile(Path("in.txt"), dialect);
  bool threw = false;
  {
    test::FileSizeLimit limit(64 * 1024);
    try {
      ConvertTextToBinary(Path("in.txt"), Path("out.bin"), false);
    } catch (const Error&) {
      threw = true;
    }
  }
  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadFile(Path("out.bin")), "");
}

// Every edge of a ring and every two-point chain is one segment; the list
// is not changed.
TEST_F(PolygonFileTest, LineFileHoldsOneSegmentPerEdge) {
  AddRing(list_, kTriangle);
  AddChain(list_, {{7, 8}, {9, -1}});
  const std::string path = Path("lines.txt");
  ASSERT_TRUE(WriteLineFile(list_, path));
  EXPECT_EQ(Messages(), "Saving lines into " + path + "\n");
  EXPECT_EQ(list_.pointCount, 5);
  EXPECT_EQ(list_.ringCount, 1);
  std::istringstream in(ReadFile(path));
  std::set<std::vector<int>> segments;
  int two;
  while (in >> two) {
    EXPECT_EQ(two, 2);
    std::vector<int> s(4);
    in >> s[0] >> s[1] >> s[2] >> s[3];
    segments.insert(s);
  }
  EXPECT_EQ(segments, (std::set<std::vector<int>>{{0, 0, 10, 0},
                                                  {10, 0, 0, 10},
                                                  {0, 10, 0, 0},
                                                  {7, 8, 9, -1}}));
  EXPECT_NE(ReadFile(path).find("2\n7\t8\n9\t-1\n"), std::string::npos);
}

// --- Converters --------------------------------------------------------------

struct ConvertCase {
  const char* name;
  std::string dialect;
  std::vector<int32_t> binary;
  std::string totals;
  std::vector<std::string> warnings;
};

TEST_F(PolygonFileTest, TextToBinaryCases) {
  const std::vector<ConvertCase> cases = {
      {"rectangle becomes a box", "# one\n4 0 0 10 0 10 20 0 20\n",
       {0, 0, 0, 10, 20}, "  1 polygons (1 boxes) with 4 vertices converted\n",
       {}},
      {"other four-point polygon", "# one\n4 0 0 10 5 10 20 0 20\n",
       {4, 0, 0, 10, 5, 10, 20, 0, 20},
       "  1 polygons (0 boxes) with 4 vertices converted\n", {}},
      {"clockwise rectangle from another corner",
       "#\n4 10 20 10 0 0 0 0 20\n", {0, 0, 0, 10, 20},
       "  1 polygons (1 boxes) with 4 vertices converted\n", {}},
      {"lines before the # lines are passed over",
       "header 1 2 3\n" + std::string(300, '7') + "\n# a\n# b\n\n3 0 0 10 0\n"
       "0 10\n99 99 99\n# c\n5 0 0 4 0 4 4 2 6 0 4",
       {3, 0, 0, 10, 0, 0, 10, 5, 0, 0, 4, 0, 4, 4, 2, 6, 0, 4},
       "  2 polygons (0 boxes) with 8 vertices converted\n", {}},
      {"counts below 3 skipped",
       "#\n0 0 0 10 10\n#\n1 4 4\n#\n3 0 0 10 0 0 10\n#\n2 0 0 1 1\n#\n-3\n",
       {3, 0, 0, 10, 0, 0, 10},
       "  1 polygons (0 boxes) with 3 vertices converted\n",
       {"polygon 1 in", "vertex count 0, skipped", "vertex count 1, skipped",
        "vertex count 2, skipped", "polygon 5 in", "vertex count -3, skipped",
        "  4 polygons with a vertex count below 3 skipped\n"}},
      {"last polygon cut off", "#\n3 0 0 10 0 0 10\n#\n4 0 0 1 0\n",
       {3, 0, 0, 10, 0, 0, 10},
       "  1 polygons (0 boxes) with 3 vertices converted\n",
       {"polygon 2 in", "cut off by the end of the file, discarded"}},
  };
  for (bool gzip : {false, true}) {
    for (const ConvertCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (gzip ? " (gzip)" : " (plain)"));
      WriteFile(Path("in.txt"), c.dialect);
      Messages();
      ASSERT_TRUE(ConvertTextToBinary(Path("in.txt"), Path("out.bin"), gzip));
      EXPECT_EQ(ReadBinary(Path("out.bin"), gzip), c.binary);
      const std::string messages = Messages();
      EXPECT_EQ(messages.rfind("Converting " + Path("in.txt") + " into binary file\n", 0),
                0u);
      EXPECT_NE(messages.find(c.totals), std::string::npos) << messages;
      for (const std::string& w : c.warnings) {
        EXPECT_NE(messages.find(w), std::string::npos) << w << "\n" << messages;
      }
      if (c.warnings.empty()) {
        EXPECT_EQ(messages.find("Warning"), std::string::npos) << messages;
      }
    }
  }
}

// Text -> binary -> text gives the same polygons: every polygon as given,
// except that a rectangle comes back as its box, counter-clockwise from the
// lower left corner.
TEST_F(PolygonFileTest, TextToBinaryToTextGivesTheSamePolygons) {
  std::mt19937 rng(2024);
  std::uniform_int_distribution<int32_t> coord(INT32_MIN, INT32_MAX);
  std::string dialect = "polygons for the round trip\n";
  std::vector<Ring> expected;
  int boxes = 0;
  for (int i = 0; i < 500; ++i) {
    Ring r;
    if (i % 3 == 0) {
      int32_t x1 = coord(rng), x2 = coord(rng), y1 = coord(rng), y2 = coord(rng);
      if (x1 > x2) std::swap(x1, x2);
      if (y1 > y2) std::swap(y1, y2);
      r = {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
      if (rng() % 2) std::reverse(r.begin(), r.end());
      std::rotate(r.begin(), r.begin() + rng() % 4, r.end());
      expected.push_back({{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}});
      ++boxes;
    } else {
      r.resize(3 + rng() % 12);
      for (Point& p : r) p = Point(coord(rng), coord(rng));
      expected.push_back(r);
    }
    dialect += "# polygon " + std::to_string(i) + "\n" + std::to_string(r.size());
    for (const Point& p : r) {
      dialect += rng() % 2 ? '\n' : ' ';
      dialect += std::to_string(p.x);
      dialect += ' ';
      dialect += std::to_string(p.y);
    }
    dialect += "\n";
  }
  WriteFile(Path("in.txt"), dialect);
  for (bool gzip : {false, true}) {
    SCOPED_TRACE(gzip ? "gzip" : "plain");
    Messages();
    ASSERT_TRUE(ConvertTextToBinary(Path("in.txt"), Path("mid.bin"), gzip));
    EXPECT_NE(Messages().find("  500 polygons (" + std::to_string(boxes) +
                              " boxes) with "),
              std::string::npos);
    ASSERT_TRUE(ConvertBinaryToText(Path("mid.bin"), Path("out.txt"), gzip));
    EXPECT_EQ(Messages().rfind("Converting " + Path("mid.bin") +
                                   " into Ascii file " + Path("out.txt") + "\n",
                               0),
              0u);
    ClearPointList(list_);
    ASSERT_TRUE(ReadPolygonFile(list_, Path("out.txt"), false));
    EXPECT_EQ(RingsInFileOrder(list_), expected);
  }
}

// The text written holds every polygon as the polygon writer writes it, a
// box as its four vertices; degenerate counts are dropped.
TEST_F(PolygonFileTest, BinaryToTextWritesThePolygonTextFormat) {
  WriteBinary(Path("in.bin"), {0, 0, 0, 100, 50, 2, 1, 1, 2, 2, 3, 0, 0, 10, 0, 0, 10},
              false);
  ASSERT_TRUE(ConvertBinaryToText(Path("in.bin"), Path("out.txt"), false));
  EXPECT_EQ(ReadFile(Path("out.txt")),
            "4\n0\t0\n100\t0\n100\t50\n0\t50\n3\n0\t0\n10\t0\n0\t10\n");
  const std::string messages = Messages();
  EXPECT_NE(messages.find("  2 polygons with 7 vertices converted\n"),
            std::string::npos);
  EXPECT_NE(messages.find("vertex count 2, skipped"), std::string::npos);
}

TEST_F(PolygonFileTest, CopyKeepsBoxesAndDropsDegenerateCounts) {
  const std::vector<int32_t> clean = {0, -5, -5, 5, 5, 3, 0, 0, 10, 0, 0, 10};
  std::vector<int32_t> input = clean;
  input.insert(input.begin() + 5, {1, 9, 9, -2, 8, 8});
  input.insert(input.end(), {4, 0, 0});  // cut off
  for (bool gzip : {false, true}) {
    SCOPED_TRACE(gzip ? "gzip" : "plain");
    WriteBinary(Path("in.bin"), input, gzip);
    Messages();
    ASSERT_TRUE(CopyBinaryPolygonFile(Path("in.bin"), Path("out.bin"), gzip));
    EXPECT_EQ(ReadBinary(Path("out.bin"), gzip), clean);
    const std::string messages = Messages();
    EXPECT_EQ(messages.find("Converting " + Path("in.bin") + " into binary file " +
                            Path("out.bin") + "\n"),
              0u)
        << messages;
    EXPECT_NE(messages.find("  2 polygons with 7 vertices converted\n"),
              std::string::npos);
    EXPECT_NE(messages.find("  2 polygons with a vertex count below 3 skipped\n"),
              std::string::npos);
    EXPECT_NE(messages.find("polygon 5 in"), std::string::npos);
    EXPECT_NE(messages.find("cut off by the end of the file"), std::string::npos);
  }
}

// Converters refuse missing inputs, unopenable outputs, and an output that
// is the input file (which opening would destroy).
TEST_F(PolygonFileTest, ConvertersRefuseFilesTheyCannotUse) {
  const std::string missing = Path("missing");
  const std::string noDir = Path("no/such/out");
  EXPECT_FALSE(ConvertTextToBinary(missing, Path("out.bin"), false));
  EXPECT_EQ(Messages(), "Error: Input file " + missing + " cannot be opened !\n");
  EXPECT_FALSE(ConvertBinaryToText(missing, Path("out.txt"), false));
  EXPECT_EQ(Messages(), "Error: Input file " + missing + " cannot be opened !\n");
  EXPECT_FALSE(CopyBinaryPolygonFile(missing, Path("out.bin"), false));
  EXPECT_EQ(Messages(), "Error: Input file " + missing + " cannot be opened !\n");

  const std::string text = Path("in.txt");
  const std::string binary = Path("in.bin");
  WriteFile(text, "#\n3 0 0 10 0 0 10\n");
  WriteBinary(binary, {3, 0, 0, 10, 0, 0, 10}, false);
  const std::string binaryBytes = ReadFile(binary);
  EXPECT_FALSE(ConvertTextToBinary(text, noDir, false));
  EXPECT_NE(Messages().find("Error: Output file " + noDir + " cannot be opened !\n"),
            std::string::npos);
  EXPECT_FALSE(ConvertBinaryToText(binary, noDir, false));
  EXPECT_NE(Messages().find("Error: Output file " + noDir + " cannot be opened !\n"),
            std::string::npos);
  EXPECT_FALSE(CopyBinaryPolygonFile(binary, noDir, false));
  EXPECT_NE(Messages().find("Error: Output file " + noDir + " cannot be opened !\n"),
            std::string::npos);

  EXPECT_FALSE(ConvertTextToBinary(text, text, false));
  EXPECT_FALSE(ConvertBinaryToText(binary, binary, false));
  EXPECT_FALSE(CopyBinaryPolygonFile(binary, binary, false));
  EXPECT_EQ(ReadFile(text), "#\n3 0 0 10 0 0 10\n");
  EXPECT_EQ(ReadFile(binary), binaryBytes);
}

}  // namespace
}  // namespace velmar
