// Start-up of the velmar Tcl package: commands, type table and the
// read-only variables that describe the build.
#pragma once

#include <tcl.h>

#include <string>
#include <vector>

namespace velmar {

// Registers the package "velmar" "0.0" with its commands, the type-table
// variable and the read-only variables Product, CopyRight, Version and
// BuildDate. TCL_ERROR for a null interpreter, else TCL_OK.
int PackageInit(Tcl_Interp* interp);

// Names of bound commands that the command table does not hold (such a
// command is never registered: a binding error).
std::vector<std::string> BoundCommandsOutsideTable();

// The texts of the read-only variables.
extern const char* const kProductText;
extern const char* const kCopyRightText;
extern const char* const kVersionText;
extern const char* const kBuildDateText;

// Name of the global variable holding the address of the type list.
extern const char* const kTypeTableVariable;

}  // namespace velmar
