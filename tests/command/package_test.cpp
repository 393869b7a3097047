// Package start-up: which commands of the command table are registered.
//
// registered_commands.txt (next to this file) lists, in table order, every
// command that the package registers today; work that binds further
// operations adds their names there.
#include "command/package.h"

#include <gtest/gtest.h>
#include <tcl.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "command/command_table.h"

namespace velmar {
namespace {

std::vector<std::string> ExpectedRegistered() {
  std::string path = __FILE__;
  path = path.substr(0, path.find_last_of('/') + 1) + "registered_commands.txt";
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::vector<std::string> names;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] != '#') names.push_back(line);
  }
  return names;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Tcl_FindExecutable(nullptr);
    interp_ = Tcl_CreateInterp();
    ASSERT_EQ(PackageInit(interp_), TCL_OK);
  }
  void TearDown() override { Tcl_DeleteInterp(interp_); }
  Tcl_Interp* interp_ = nullptr;
};

TEST(CommandTableTest, ShapeOfTheTable) {
  const auto& table = CommandTable();
  std::set<std::string> unique(table.begin(), table.end());
  EXPECT_EQ(unique.size(), kCommandCount);
  int api = 0, tech = 0;
  for (const char* name : table) {
    std::string n = name;
    api += n.rfind("API_", 0) == 0;
    tech += n.rfind("Tech_", 0) == 0;
  }
  EXPECT_EQ(api, 129);
  EXPECT_EQ(tech, 84);
  EXPECT_STREQ(table[0], "Tech_reportDegree_set");
  EXPECT_STREQ(table[76], "new_Tech");
  EXPECT_STREQ(table[86], "Tech");
  EXPECT_STREQ(table[87], "API_tech_set");
  EXPECT_STREQ(table[107], "new_API");
  EXPECT_STREQ(table[108], "API_HostName");
  EXPECT_STREQ(table[216], "API_FlattenCells");
  EXPECT_STREQ(table[218], "API");
}

TEST(PackageInitTest, NullInterpreter) {
  EXPECT_EQ(PackageInit(nullptr), TCL_ERROR);
}

TEST(PackageInitTest, EveryBoundCommandIsInTheTable) {
  EXPECT_EQ(BoundCommandsOutsideTable(), std::vector<std::string>{});
}

TEST_F(PackageTest, RegisteredCommandsMatchTheList) {
  std::vector<std::string> registered;
  Tcl_CmdInfo info;
  for (const char* name : CommandTable()) {
    if (Tcl_GetCommandInfo(interp_, name, &info)) registered.push_back(name);
  }
  std::vector<std::string> expected = ExpectedRegistered();
  // Registered but not listed, and listed but not registered.
  std::vector<std::string> extra, missing;
  std::set<std::string> r(registered.begin(), registered.end());
  std::set<std::string> e(expected.begin(), expected.end());
  for (const auto& n : registered) {
    if (!e.count(n)) extra.push_back(n);
  }
  for (const auto& n : expected) {
    if (!r.count(n)) missing.push_back(n);
  }
  EXPECT_EQ(extra, std::vector<std::string>{});
  EXPECT_EQ(missing, std::vector<std::string>{});
  // The list keeps table order.
  EXPECT_EQ(registered, expected);
}

}  // namespace
}  // namespace velmar
