// All passes in the order a hierarchy run takes them, then the library
// written and opened again from disk: the flattened drawn layers of the
// top stay exactly, and the hierarchy is sound.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "pass_fixtures.h"

namespace velmar::hier_test {
namespace {

void RunAllPasses(LibDB& lib) {
  lib.RemoveEmptyCells();
  lib.ReplaceArefs();
  lib.Flatten(60);
  lib.Split(300);
  lib.CreateLeafCells();
  lib.Explode1(0.4f);
  lib.Explode2(0.3f);
  lib.Explode3(0.2f);
  lib.explodeCells = {2, 4};
  lib.ExplodeManual();
  lib.BuildParents();
  lib.OrderCells(false);
  lib.CollectRoots();
}

const StructureChecks kAfterRun{.oneRoot = true,
                                .noArrays = true,
                                .leavesSeparate = true,
                                .parentTables = true};

TEST(PassSequence, SmallHierarchiesRasterisedThroughAReopen) {
  for (uint32_t seed = 21; seed <= 26; ++seed) {
    std::mt19937 rng(seed);
    HierarchyShape shape;
    shape.levels = 3 + int(seed % 2);
    PassLibrary p(RandomHierarchy(rng, shape));
    const std::string what = "seed " + std::to_string(seed);
    const FlatRings before = FlattenLibrary(*p.lib, 0);
    StdoutCapture quiet;
    RunAllPasses(*p.lib);
    quiet.Stop();
    CheckStructure(*p.lib, kAfterRun, what);
    ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), what);
    p.Reopen();
    p.lib->LoadAll(false, false);
    p.lib->BuildParents();
    CheckStructure(*p.lib, kAfterRun, what + " reopened");
    ExpectSameCoverage(before, FlattenLibrary(*p.lib, 0), what + " reopened");
  }
}

TEST(PassSequence, LargerHierarchiesComparedByRegionAndArea) {
  for (uint32_t seed = 31; seed <= 33; ++seed) {
    std::mt19937 rng(seed);
    HierarchyShape shape;
    shape.levels = 4;
    shape.cellsPerLevel = 6;
    // Axis-parallel shapes: the engine's own union is then exact, so the
    // areas must agree to the unit.
    shape.manhattan = true;
    PassLibrary p(RandomHierarchy(rng, shape));
    const std::string what = "seed " + std::to_string(seed);
    const FlatRings before = FlattenLibrary(*p.lib, 0);
    StdoutCapture quiet;
    RunAllPasses(*p.lib);
    quiet.Stop();
    p.Reopen();
    ExpectSameRegion(before, FlattenLibrary(*p.lib, 0), what);
    CheckStructure(*p.lib, {.oneRoot = true, .noArrays = true}, what);
    p.lib->BuildParents();
    CheckStructure(*p.lib, kAfterRun, what);
  }
}

}  // namespace
}  // namespace velmar::hier_test
