// API object: construction, library slots, counters, messages, the log and
// the release of the pools at the end of a run.

#include "command/api.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "command/inspectable_api.h"
#include "foundation/error.h"
#include "foundation/slist.h"
#include "support/stdout_capture.h"
#include "geometry/point_system.h"

namespace velmar {
namespace {

using test::InspectableApi;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A file name in the temporary directory, removed at the end of the test.
class TempPath {
 public:
  explicit TempPath(const char* stem)
      : path_(std::string("/tmp/velmar_api_test_") + stem + "_" +
              std::to_string(::getpid())) {}
  ~TempPath() { std::remove(path_.c_str()); }
  const std::string& str() const { return path_; }
  const char* c_str() const { return path_.c_str(); }

 private:
  std::string path_;
};

// Every test leaves the process without a registered log stream.
class ApiTest : public ::testing::Test {
 protected:
  void TearDown() override { SetLogStream(nullptr); }
};

TEST_F(ApiTest, FreshObject) {
  InspectableApi api;
  EXPECT_EQ(api.tech.splitSize, 50000);  // the Tech defaults
  EXPECT_EQ(api.tech.less, -1);
  EXPECT_EQ(api._dpFile[0], 0);
  EXPECT_EQ(api._dpFile[MAX_STRING - 1], 0);
  EXPECT_EQ(api.hostName[127], 0);
  EXPECT_EQ(api.ipaddr[15], 0);
  EXPECT_EQ(api._not, 0);
  EXPECT_EQ(api._edge, 0);
  EXPECT_EQ(api.hierarchical, 0);
  EXPECT_EQ(api.areaIter, 0);
  EXPECT_EQ(api.areaReportIter, 1);
  EXPECT_EQ(api.dpId, 0);
  EXPECT_EQ(api.logFile, nullptr);
  EXPECT_EQ(api.currentLib, nullptr);
  EXPECT_EQ(api.workingCell, -1);
  EXPECT_EQ(api.currentSlot, 0);
  for (int i = 0; i < kLibrarySlots; ++i) {
    EXPECT_EQ(api.libs[i], nullptr);
    EXPECT_EQ(api.savedWorkingCells[i], -1);
  }
  EXPECT_TRUE(api.area.IsEmpty());
  EXPECT_TRUE(api.opLayers.empty());
  EXPECT_TRUE(api.opLayers2.empty());
  EXPECT_TRUE(api.layerMap.empty());
  EXPECT_FALSE(api.tempDB.IsOpen());
  EXPECT_FALSE(api.tempDB.gzip);
  EXPECT_TRUE(api.tempLayers.empty());
  EXPECT_GE(api.tempLayers.capacity(), 100u);
  EXPECT_EQ(api.biasTable, nullptr);
  EXPECT_EQ(api.endcapTable, nullptr);
  EXPECT_EQ(api.maxBias, 0);
  EXPECT_EQ(api.maxEndcap, 0);

  test::StdoutCapture out;
  api.ReportCount();
  EXPECT_EQ(out.Stop(), "");
}

TEST_F(ApiTest, LibrarySlots) {
  InspectableApi api;
  for (int lid : {-1, 0, 5, 9, 10, 1000}) EXPECT_EQ(api.ExistLibrary(lid), 0);

  api.savedWorkingCells[3] = 7;
  api.workingCell = 2;
  api.SetLibrary(3);
  EXPECT_EQ(api.currentSlot, 3);
  EXPECT_EQ(api.currentLib, nullptr);
  EXPECT_EQ(api.workingCell, 7);
  // The working cell of the slot left behind is not saved here.
  EXPECT_EQ(api.savedWorkingCells[0], -1);
  api.SetLibrary(1);  // an empty slot: no current library
  EXPECT_EQ(api.currentSlot, 1);
  EXPECT_EQ(api.workingCell, -1);

  // A slot number outside 0..9 is refused and changes nothing.
  api.workingCell = 4;
  for (int lid : {-1, 10}) {
    test::StdoutCapture out;
    api.SetLibrary(lid);
    EXPECT_EQ(out.Stop(), "Error: library slot " + std::to_string(lid) +
                              " is outside 0..9\n");
    EXPECT_EQ(api.currentSlot, 1);
    EXPECT_EQ(api.workingCell, 4);
  }
}

TEST_F(ApiTest, ReportCountPrintsTheNonZeroCountersInItsOrder) {
  InspectableApi api;
  api.savedPolygonsDB = 3;
  api.savedPolygonsDB += 4;  // counters add up
  api.lengthViolations = 1;
  api.acuteViolations = 2;
  api.spaceViolations = 3;
  api.widthViolations = 4;
  api.encViolations = 5;
  api.sspaceViolations = 6;
  api.swidthViolations = 7;
  api.sencViolations = 8;
  api.offgridViolations = 9;
  api.non45Violations = 10;
  api.savedPolygonsText = 11;
  {
    test::StdoutCapture out;
    api.ReportCount();
    EXPECT_EQ(out.Stop(),
              "  Total saved polygons in DB = 7\n"
              "  Total saved polygons in text = 11\n"
              "  Total ENC violation vertices = 5\n"
              "  Total SPACE violation vertices = 3\n"
              "  Total WIDTH violation vertices = 4\n"
              "  Total SENC violation vertices = 8\n"
              "  Total SSPACE violation vertices = 6\n"
              "  Total SWIDTH violation vertices = 7\n"
              "  Total Acute violation vertices = 2\n"
              "  Total Offgrid violation vertices = 9\n"
              "  Total Non45 violation segments = 10\n"
              "  Total Length violation vertices = 1\n");
  }
  api.savedPolygonsDB = 0;
  api.savedPolygonsText = 0;
  api.encViolations = 0;
  api.spaceViolations = 0;
  api.widthViolations = 0;
  api.sencViolations = 0;
  api.sspaceViolations = 0;
  api.swidthViolations = 0;
  api.acuteViolations = 0;
  api.offgridViolations = 0;
  api.lengthViolations = 0;
  api.non45Violations = -2;  // any value but 0 is printed
  test::StdoutCapture out;
  api.ReportCount();
  EXPECT_EQ(out.Stop(), "  Total Non45 violation segments = -2\n");
}

TEST_F(ApiTest, PrintWritesTheTextLiterally) {
  struct Case {
    const char* msg;
    const char* printed;
  };
  const Case cases[] = {
      {"100%% done\n", "100% done\n"},
      {"a%%%%b", "a%%b"},
      {"%d %s %n %x %", "%d %s %n %x %"},  // never a format
      {"", ""},
      {"no newline", "no newline"},
  };
  InspectableApi api;
  for (const Case& c : cases) {
    test::StdoutCapture out;
    api.Print(c.msg);
    EXPECT_EQ(out.Stop(), c.printed) << c.msg;
  }
  // A text longer than a message buffer arrives whole.
  std::string longText;
  for (int i = 0; i < 700; ++i) longText += std::to_string(i) + "%%,";
  std::string expected = longText;
  for (size_t at = 0; (at = expected.find("%%", at)) != std::string::npos; ++at)
    expected.erase(at, 1);
  test::StdoutCapture out;
  api.Print(longText.c_str());
  EXPECT_EQ(out.Stop(), expected);
}

TEST_F(ApiTest, LogFileReceivesExactlyWhatStandardOutputGets) {
  TempPath log("log");
  InspectableApi api;
  test::StdoutCapture out;
  ASSERT_EQ(api.OpenLog(log.c_str()), 1);
  EXPECT_EQ(GetLogStream(), api.logFile);
  api.Print("first line\n");
  PrintMessage("value %d\n", 42);
  api.tech.CreateBiasRule();
  api.tempLayers.push_back(std::make_unique<PSList>());
  BoxToRing(*api.tempLayers.back(), Box(0, 0, 10, 10), false);
  api.CloseLog();
  std::string printed = out.Stop();
  EXPECT_FALSE(api.logFile->is_open());
  EXPECT_EQ(ReadFile(log.str()), printed);
  EXPECT_EQ(printed.rfind("first line\nvalue 42\n\n", 0), 0u) << printed;
  EXPECT_NE(printed.find("kbytes allocated for Point System\n"),
            std::string::npos);
  EXPECT_NE(printed.find("kbytes allocated for SList\n"), std::string::npos);

  // The log stays registered but closed: later messages reach standard
  // output only.
  test::StdoutCapture after;
  api.Print("later\n");
  EXPECT_EQ(after.Stop(), "later\n");
  EXPECT_EQ(ReadFile(log.str()), printed);
}

TEST_F(ApiTest, OpenLogTruncatesAndALaterOpenWins) {
  TempPath first("first");
  TempPath second("second");
  {
    std::ofstream old(first.str());
    old << "old contents\n";
  }
  InspectableApi a;
  InspectableApi b;
  test::StdoutCapture out;
  ASSERT_EQ(a.OpenLog(first.c_str()), 1);
  a.Print("one\n");
  ASSERT_EQ(b.OpenLog(second.c_str()), 1);  // process-wide: b wins
  a.Print("two\n");
  ASSERT_EQ(a.OpenLog(first.c_str()), 1);  // a again, truncated again
  a.Print("three\n");
  out.Stop();
  EXPECT_EQ(ReadFile(first.str()), "three\n");
  EXPECT_EQ(ReadFile(second.str()), "two\n");
}

TEST_F(ApiTest, OpenLogFailureKeepsThePreviousLog) {
  TempPath good("good");
  InspectableApi api;
  test::StdoutCapture out;
  ASSERT_EQ(api.OpenLog(good.c_str()), 1);
  std::ostream* registered = GetLogStream();
  const char* bad = "/nonexistent_velmar_dir/x.log";
  EXPECT_EQ(api.OpenLog(bad), 0);
  EXPECT_EQ(GetLogStream(), registered);
  api.Print("still logged\n");
  std::string printed = out.Stop();
  EXPECT_EQ(printed,
            "Error: Log file /nonexistent_velmar_dir/x.log could not be "
            "opened !\nstill logged\n");
  EXPECT_EQ(ReadFile(good.str()), printed);
}

// "Www Mmm dd hh:mm:ss yyyy\n", as ctime formats a date.
bool IsCtimeLine(const std::string& s) {
  if (s.size() != 25 || s[24] != '\n') return false;
  for (std::size_t i = 0; i < 24; ++i) {
    char ch = s[i];
    bool ok;
    if (i == 3 || i == 7 || i == 10 || i == 19) {
      ok = ch == ' ';
    } else if (i == 13 || i == 16) {
      ok = ch == ':';
    } else if (i < 3 || (i > 3 && i < 7)) {
      ok = std::isalpha(static_cast<unsigned char>(ch)) != 0;
    } else if (i == 8) {
      ok = ch == ' ' || std::isdigit(static_cast<unsigned char>(ch));
    } else {
      ok = std::isdigit(static_cast<unsigned char>(ch)) != 0;
    }
    if (!ok) return false;
  }
  return true;
}

TEST_F(ApiTest, CloseLogPrintsDateAndElapsedTime) {
  // The clock may tick between setting the start and closing: each case
  // accepts the line one second later too.
  struct Case {
    int elapsed;
    const char* line;
    const char* lineOneLater;
  };
  const Case cases[] = {
      {3725, "Elapsed total 1 hour 2 min 5 seconds\n",
       "Elapsed total 1 hour 2 min 6 seconds\n"},
      {3600, "Elapsed total 1 hour 0 seconds\n",
       "Elapsed total 1 hour 1 seconds\n"},
      {58, "Elapsed total 58 seconds\n", "Elapsed total 59 seconds\n"},
      {7260, "Elapsed total 2 hour 1 min 0 seconds\n",
       "Elapsed total 2 hour 1 min 1 seconds\n"},
  };
  for (const Case& c : cases) {
    InspectableApi api;  // no log: CloseLog only prints
    api.startTime = std::time(nullptr) - c.elapsed;
    test::StdoutCapture out;
    api.CloseLog();
    std::string printed = out.Stop();
    // The output ends with the date as ctime gives it and the elapsed line.
    std::size_t last = printed.rfind("Elapsed total ");
    ASSERT_NE(last, std::string::npos) << printed;
    std::string line = printed.substr(last);
    EXPECT_TRUE(line == c.line || line == c.lineOneLater) << line;
    ASSERT_GE(last, 26u);
    EXPECT_TRUE(IsCtimeLine(printed.substr(last - 25, 25)))
        << printed.substr(last - 25, 25);
  }
}

TEST_F(ApiTest, CloseLogReleasesPoolsAndEveryHolderForgetsItsElements) {
  auto a = std::make_unique<InspectableApi>();
  auto b = std::make_unique<InspectableApi>();
  Tech free;
  free.CreateHammerRule();
  a->tech.CreateBiasRule();
  b->tech.CreateBiasRule();
  for (InspectableApi* api : {a.get(), b.get()}) {
    api->tempLayers.push_back(std::make_unique<PSList>());
    BoxToRing(*api->tempLayers.back(), Box(0, 0, 5, 5), false);
  }
  test::StdoutCapture out;
  a->CloseLog();
  out.Stop();
  EXPECT_EQ(ReportPointSystemMemory(true), 0);
  EXPECT_EQ(ReportSListMemory(true), 0);
  for (InspectableApi* api : {a.get(), b.get()}) {
    EXPECT_TRUE(api->tempLayers.back()->IsEmpty());
    EXPECT_EQ(api->tempLayers.back()->pointCount, 0);
    EXPECT_EQ(api->tech.biasRules.count, 0);
  }
  EXPECT_EQ(free.endcapRules.head, nullptr);
  // Destruction afterwards touches no released element (sanitizer build).
  a.reset();
  b.reset();
}

int FreePointCount() {
  int n = 0;
  for (PSPoint* p = PointFreeList().head; p != nullptr; p = p->link) ++n;
  return n;
}

TEST_F(ApiTest, DestructionReturnsTemporaryLayersAndClosesTheTemporaryDB) {
  TempPath db("tempdb");
  int freeBefore = FreePointCount();
  {
    InspectableApi api;
    api.tempLayers.push_back(std::make_unique<PSList>());
    BoxToRing(*api.tempLayers.back(), Box(0, 0, 5, 5), false);
    api.tempLayers.push_back(std::make_unique<PSList>());  // an empty layer
    api.tempDB.path = db.str();
    api.tempDB.write = true;
    ASSERT_TRUE(api.tempDB.Open());
    for (uint8_t c : {1, 2, 3}) api.tempDB.PutChar(c);
  }
  // The buffered bytes were written when the object went.
  EXPECT_EQ(ReadFile(db.str()), std::string("\x01\x02\x03", 3));
  // The four vertices went back to the free list.
  EXPECT_EQ(FreePointCount() - freeBefore, 4);
}

TEST_F(ApiTest, SettingTechCopiesTheRecordWithItsRules) {
  auto t = std::make_unique<Tech>();
  t->splitSize = 7;
  t->CreateBiasRule();
  t->SetBias(11);
  InspectableApi api;
  api.tech.CreateHammerRule();
  api.tech = *t;
  EXPECT_EQ(api.tech.splitSize, 7);
  EXPECT_EQ(api.tech.endcapRules.count, 0);
  ASSERT_EQ(api.tech.biasRules.count, 1);
  EXPECT_NE(api.tech.biasRules.head, t->biasRules.head);
  t.reset();  // the copy's rules live on
  EXPECT_EQ(static_cast<BiasRule*>(api.tech.biasRules.head->item)->bias[0], 11);
}

}  // namespace
}  // namespace velmar
