// A library built from a model in a scratch directory, with the flattened
// drawn layers of its top taken before a pass, for the pass tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "layoutdb/lib_db.h"
#include "support/hier_fixtures.h"
#include "support/hier_oracle.h"
#include "support/stdout_capture.h"
#include "support/temp_dir.h"

namespace velmar::hier_test {

using test::StdoutCapture;

struct PassLibrary {
  test::TempDir dir;
  std::unique_ptr<LibDB> lib;

  explicit PassLibrary(const Model& m, double unitPerNm = 1.0) {
    lib = std::make_unique<LibDB>(dir.path().c_str(), 0);
    lib->unitPerNm = unitPerNm;
    lib->meterPerUnit = 1e-9 / unitPerNm;
    lib->libName = "passlib";
    lib->flags |= LibDB::InfoRead | LibDB::NamesRead;
    Build(*lib, m);
  }

  // Writes every cell and the directory files, then opens the library
  // again from disk with every cell loaded.
  void Reopen() {
    lib->SaveModified();
    lib->WriteInfo();
    lib->WriteNames();
    const double units = lib->unitPerNm;
    lib = std::make_unique<LibDB>(dir.path().c_str(), 0);
    lib->ReadTables();
    EXPECT_DOUBLE_EQ(lib->unitPerNm, units);
  }
};

// Every cell Modified, so that a save writes them all.
inline void TouchAll(LibDB& lib) {
  for (DBCell* c : lib.cells)
    if (c != nullptr) c->flags |= DBCell::Modified;
}

}  // namespace velmar::hier_test
