// The text files of a library directory ("names", "parents", "texts") and
// the names of generated cells.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/error.h"
#include "support/stdout_capture.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/lib_test_dir.h"

namespace velmar {
namespace {

using test::StdoutCapture;
using test::TempDir;

std::string Unit(const Error& e) { return e.Unit() ? e.Unit() : ""; }

// A library of n unnamed cells, as "info" creates them.
void AddUnnamed(LibDB& lib, int n) {
  for (int i = 0; i < n; ++i) lib.AddCell(nullptr);
}

void ExpectNamesUntouched(const LibDB& lib) {
  EXPECT_EQ(lib.libName, "");
  EXPECT_TRUE(lib.cellIds.empty());
  for (const DBCell* c : lib.cells) {
    if (c != nullptr) {
      EXPECT_EQ(c->name, nullptr);
    }
  }
  EXPECT_EQ(lib.flags & LibDB::NamesRead, 0u);
}

TEST(LibNames, RemovedCellIsWrittenAsEmptyAndReadBackUnderThatName) {
  TempDir dir;
  {
    LibDB lib(dir.path().c_str(), 0);
    lib.libName = "my lib";
    for (const char* n : {"A", "B", "C"}) {
      DBCell* c = lib.cells[lib.AddCell(n)];
      c->box = Box(0, 0, 5, 5);
      c->dbFile = 1;
      c->startPos = 0;
      c->endPos = 4;
    }
    lib.cells.Free(1);
    lib.flags |= LibDB::NamesDirty;
    lib.WriteNames();
    EXPECT_EQ(lib.flags & LibDB::NamesDirty, 0u);
    EXPECT_NE(lib.flags & LibDB::NamesRead, 0u);
    StdoutCapture out;
    lib.WriteInfo();
  }
  EXPECT_EQ(dir.Read("names"), "my lib\nA\nempty\nC\n");

  LibDB back(dir.path().c_str(), 0);
  StdoutCapture out;
  back.ReadInfo();
  back.ReadNames();
  EXPECT_EQ(back.libName, "my lib");
  EXPECT_EQ(back.FindCellId("A"), 0);
  EXPECT_EQ(back.FindCellId("empty"), 1);
  EXPECT_EQ(back.FindCellId("C"), 2);
  EXPECT_EQ(back.FindCellId("B"), -1);
  EXPECT_EQ(back.FindCell("B"), nullptr);
  EXPECT_EQ(back.FindCell("C"), back.cells[2]);
  EXPECT_EQ(*back.cells[2]->name, "C");
  EXPECT_EQ(back.cells[2]->name, &back.cellIds.find("C")->first);
  EXPECT_NE(back.flags & LibDB::NamesRead, 0u);
}

TEST(LibNames, ShortFiles) {
  struct Case {
    const char* content;
    bool ok;
    std::vector<std::string> names;  // when ok
  } cases[] = {
      {"lib\nA\nB\nC\n", true, {"A", "B", "C"}},
      {"lib\nA\nB\nC", true, {"A", "B", "C"}},         // last line without "\n"
      {"lib\nA\nB\n", true, {"A", "B", ""}},           // one line short
      {"lib\nA\n", false, {}},                         // two lines short
      {"lib\nA\nB", false, {}},                        // short, no final "\n"
      {"", false, {}},
      {"lib\nA\nB\nC\nextra\nlines\n", true, {"A", "B", "C"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    TempDir dir;
    dir.Write("names", c.content);
    LibDB lib(dir.path().c_str(), 0);
    AddUnnamed(lib, 3);
    if (!c.ok) {
      try {
        lib.ReadNames();
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_STREQ(e.Message(), "Insufficient cell names");
        EXPECT_EQ(Unit(e), "LIBIN");
      }
      ExpectNamesUntouched(lib);
      continue;
    }
    lib.ReadNames();
    EXPECT_EQ(lib.libName, "lib");
    for (int i = 0; i < 3; ++i) {
      ASSERT_NE(lib.cells[i]->name, nullptr);
      EXPECT_EQ(*lib.cells[i]->name, c.names[i]);
    }
  }
}

TEST(LibNames, MissingFileIsReported) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  AddUnnamed(lib, 1);
  try {
    lib.ReadNames();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.Message(), "Cannot open file names");
    EXPECT_EQ(Unit(e), "LIBIN");
  }
  ExpectNamesUntouched(lib);
}

TEST(LibNames, LongNamesAndSpacesReadWhole) {
  TempDir dir;
  const std::string longName(5000, 'x');
  dir.Write("names", "lib\n" + longName + "\n a b \n");
  LibDB lib(dir.path().c_str(), 0);
  AddUnnamed(lib, 2);
  lib.ReadNames();
  EXPECT_EQ(*lib.cells[0]->name, longName);
  EXPECT_EQ(*lib.cells[1]->name, " a b ");
}

TEST(LibNames, DuplicateNamesShareOneKeyOfTheLowerId) {
  TempDir dir;
  dir.Write("names", "lib\nX\nY\nX\n");
  LibDB lib(dir.path().c_str(), 0);
  AddUnnamed(lib, 3);
  lib.ReadNames();
  EXPECT_EQ(lib.FindCellId("X"), 0);
  EXPECT_EQ(lib.cells[0]->name, lib.cells[2]->name);
  EXPECT_EQ(lib.cellIds.size(), 2u);
}

TEST(LibNames, NameWithNewlineIsRefusedAndOldFileKept) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  lib.libName = "lib";
  lib.AddCell("good");
  lib.WriteNames();
  const std::string before = dir.Read("names");
  lib.AddCell("bad\nname");
  lib.flags |= LibDB::NamesDirty;
  try {
    lib.WriteNames();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(Unit(e), "LIBOUT");
  }
  EXPECT_EQ(dir.Read("names"), before);
  EXPECT_NE(lib.flags & LibDB::NamesDirty, 0u);
}

TEST(LibNames, UnnamedCellIsWrittenAsEmptyLine) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  lib.libName = "L";
  lib.AddCell(nullptr);
  lib.AddCell("B");
  lib.WriteNames();
  EXPECT_EQ(dir.Read("names"), "L\n\nB\n");
}

TEST(LibNames, FailedRewriteKeepsTheOldFile) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  lib.libName = "lib";
  lib.AddCell("A");
  lib.WriteNames();
  const std::string before = dir.Read("names");
  const std::string longName(300, 'n');
  for (int i = 0; i < 100; ++i) lib.AddCell((longName + std::to_string(i)).c_str());
  {
    test::FileSizeLimit limit(4096);
    try {
      lib.WriteNames();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(Unit(e), "LIBOUT");
    }
  }
  EXPECT_EQ(dir.Read("names"), before);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"names"});
}

TEST(LibNames, ReplacedFileKeepsItsPermissions) {
  TempDir dir;
  dir.Write("names", "old\n");
  ASSERT_EQ(::chmod(dir.File("names").c_str(), 0640), 0);
  LibDB lib(dir.path().c_str(), 0);
  lib.libName = "new";
  lib.WriteNames();
  struct stat st;
  ASSERT_EQ(::stat(dir.File("names").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(dir.Read("names"), "new\n");
}

TEST(LibParents, ListsParentsInAscendingIdWithoutCounts) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  const char* names[] = {"c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7"};
  for (const char* n : names) lib.cells[lib.AddCell(n)]->box = Box(0, 0, 1, 1);
  lib.hierRecords.resize(lib.cells.size());
  lib.hierRecords[1].parents = {{7, 2}, {3, 1}};  // twice in 7, once in 3
  lib.hierRecords[2].parents = {{0, 1}};
  lib.cells[2]->box = Box();                      // no valid box: left out
  lib.hierRecords[5].parents = {{1, 4}};
  lib.WriteParents();
  EXPECT_EQ(dir.Read("parents"), "c1 2\n  c3\n  c7\nc5 1\n  c1\n");
}

TEST(LibTexts, RoundTripSharesEqualTexts) {
  TempDir dir;
  dir.Write("texts", "4\nalpha\nbeta gamma\nalpha\n\n");
  LibDB lib(dir.path().c_str(), 0);
  lib.ReadTexts();
  ASSERT_EQ(lib.texts.size(), 4u);
  EXPECT_EQ(*lib.texts[1], "beta gamma");
  EXPECT_EQ(lib.texts[0], lib.texts[2]);
  EXPECT_EQ(lib.textIds.at("alpha"), 0);
  EXPECT_EQ(*lib.texts[3], "");
  std::remove(dir.File("texts").c_str());
  lib.WriteTexts();
  EXPECT_EQ(dir.Read("texts"), "4\nalpha\nbeta gamma\nalpha\n\n");
}

TEST(LibTexts, NothingToWriteLeavesTheFileAlone) {
  TempDir dir;
  dir.Write("texts", "1\nkeep\n");
  LibDB lib(dir.path().c_str(), 0);
  lib.WriteTexts();
  EXPECT_EQ(dir.Read("texts"), "1\nkeep\n");
}

TEST(LibTexts, MissingFileChangesNothing) {
  TempDir dir;
  LibDB lib(dir.path().c_str(), 0);
  lib.ReadTexts();
  EXPECT_TRUE(lib.texts.empty());
  EXPECT_TRUE(lib.textIds.empty());
}

TEST(LibTexts, BadCountsAreRefused) {
  for (const char* content : {"", "abc\n", "-1\n", "3\na\n", "99999999999\n",
                              "2000000000\nonly one\n"}) {
    SCOPED_TRACE(content);
    TempDir dir;
    dir.Write("texts", content);
    LibDB lib(dir.path().c_str(), 0);
    try {
      lib.ReadTexts();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.Message(), "Insufficient texts");
      EXPECT_EQ(Unit(e), "LIBIN");
    }
    EXPECT_TRUE(lib.texts.empty());
    EXPECT_TRUE(lib.textIds.empty());
  }
}

TEST(MakeCellName, FormsUniqueNames) {
  struct Case {
    const char* base;
    const char* marker;
    int32_t number;
    std::vector<std::string> existing;
    const char* name;
    int32_t used;
  } cases[] = {
      {"TOP", "vlh", 0, {}, "TOP_vlh0", 0},
      {"TOP", "vlh", 0, {"TOP_vlh0", "TOP_vlh1"}, "TOP_vlh2", 2},
      {"TOP_", "vl", 9, {}, "TOP_vl9", 9},
      {"TOP_", "vl", 9, {"TOP_vl9"}, "TOP_vl10", 10},
      {"A", "vl", 199, {"A_vl199"}, "A_vl200", 200},
      {"A", "vl", 2, {"A_vl3"}, "A_vl2", 2},           // a gap is used
      {"A_", "vl", 1, {"A__vl1", "A_vl"}, "A_vl1", 1},  // one "_" only
      {"B2", "x", 5, {"B2_x5", "B2_x6", "B2_x7"}, "B2_x8", 8},
  };
  for (const Case& c : cases) {
    LibDB lib("/nonexistent", 0);
    for (const std::string& n : c.existing) lib.AddCell(n.c_str());
    std::string name = "junk";
    EXPECT_EQ(lib.MakeCellName(c.base, c.marker, c.number, name), c.used);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(lib.cells.size(), c.existing.size());  // the library is unchanged
  }
}

TEST(NextFreeCellName, CountsUpTheSuffixPastTakenNames) {
  struct Case {
    const char* name;
    std::vector<std::string> existing;
    const char* fresh;
  } cases[] = {
      {"CELL", {"CELL"}, "CELL1"},
      {"CELL", {"CELL", "CELL1", "CELL2"}, "CELL3"},
      {"A9", {"A9", "A11"}, "A10"},
      {"A9", {"A9", "A10"}, "A11"},
      {"12", {"12"}, "13"},
  };
  for (const Case& c : cases) {
    LibDB lib("/nonexistent", 0);
    for (const std::string& n : c.existing) lib.AddCell(n.c_str());
    EXPECT_EQ(lib.NextFreeCellName(c.name), c.fresh) << c.name;
    EXPECT_EQ(lib.cells.size(), c.existing.size());
  }
}

}  // namespace
}  // namespace velmar
