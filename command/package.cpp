// Start-up of the velmar Tcl package.
#include "command/package.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command/binding.h"
#include "command/command_table.h"

namespace velmar {

const char* const kProductText =
    "velmar - mask layout processing engine by the velmar developers";
const char* const kCopyRightText =
    "Copyright (c) 2007 the velmar developers. All rights reserved.";
const char* const kVersionText = "1.5.4";
const char* const kBuildDateText = "Oct 2, 2007";
const char* const kTypeTableVariable = "swig_runtime_data_type_pointer2";

namespace {

// The descriptors of every bound command, built once per process.
binding::Registry& TheRegistry() {
  static binding::Registry* registry = [] {
    auto* r = new binding::Registry();
    try {
      binding::BindTech(*r);
      binding::BindApi(*r);
    } catch (const binding::BindingMismatch& e) {
      std::fprintf(stderr, "velmar: command binding error: %s\n",
                   e.what.c_str());
      std::abort();
    }
    return r;
  }();
  return *registry;
}

// Read-only variables: a read stores the fixed text, a write fails.
struct LinkedVariable {
  const char* name;
  const char* const* text;
};

const LinkedVariable kLinkedVariables[] = {
    {"Product", &kProductText},
    {"CopyRight", &kCopyRightText},
    {"Version", &kVersionText},
    {"BuildDate", &kBuildDateText},
};

const char* FixedText(const char* name) {
  for (const LinkedVariable& v : kLinkedVariables) {
    if (std::strcmp(v.name, name) == 0) return *v.text;
  }
  return "";
}

char* ReadLinked(ClientData, Tcl_Interp* interp, const char* name1,
                 const char* name2, int flags) {
  Tcl_SetVar2(interp, name1, name2, FixedText(name1),
              flags & (TCL_GLOBAL_ONLY | TCL_NAMESPACE_ONLY));
  return nullptr;
}

char* WriteLinked(ClientData, Tcl_Interp*, const char*, const char*, int) {
  return const_cast<char*>("Variable is read-only");
}

// The type list's address: two lowercase hex digits per byte, memory order.
std::string TypeTableAddress() {
  uintptr_t value = reinterpret_cast<uintptr_t>(&binding::kTypeList);
  unsigned char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (unsigned char b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

}  // namespace

std::vector<std::string> BoundCommandsOutsideTable() {
  std::vector<std::string> outside;
  const auto& table = CommandTable();
  for (const auto& [name, command] : TheRegistry().All()) {
    bool found = false;
    for (const char* row : table) found = found || name == row;
    if (!found) outside.push_back(name);
  }
  return outside;
}

int PackageInit(Tcl_Interp* interp) {
  if (interp == nullptr) return TCL_ERROR;
  Tcl_PkgProvide(interp, "velmar", "0.0");
  Tcl_SetVar(interp, kTypeTableVariable, TypeTableAddress().c_str(),
             TCL_GLOBAL_ONLY);
  binding::InstallCommands(interp, TheRegistry(), CommandTableNames());
  for (const LinkedVariable& v : kLinkedVariables) {
    Tcl_SetVar(interp, v.name, "", TCL_GLOBAL_ONLY);
    Tcl_TraceVar(interp, v.name, TCL_TRACE_READS | TCL_GLOBAL_ONLY, ReadLinked,
                 nullptr);
    Tcl_TraceVar(interp, v.name, TCL_TRACE_WRITES | TCL_GLOBAL_ONLY,
                 WriteLinked, nullptr);
  }
  return TCL_OK;
}

}  // namespace velmar
