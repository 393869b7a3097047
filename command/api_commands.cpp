// Script commands of the API object: its attribute commands, new_API,
// delete_API, the class command API, and the methods of the object, the
// log, the library slots and the counters.

#include "command/api.h"
#include "command/binding.h"

namespace velmar::binding {

// Commands of the working area, temporary layers and layer operations
// (api_ops_commands.cpp).
void BindApiOps(ClassBinding<API>& c);
// Commands of libraries, loading and storing (api_store_commands.cpp).
void BindApiStore(ClassBinding<API>& c);
// Commands of the cell edits, host queries and job client
// (api_edit_commands.cpp).
void BindApiEdits(ClassBinding<API>& c);
// Hierarchy commands (api_hierarchy.cpp).
void BindApiHierarchy(ClassBinding<API>& c);

void BindApi(Registry& registry) {
  ClassBinding<API> c(registry);
  // Setting tech copies the given record, rule lists included.
  c.Attribute("tech", kTechPtr, &API::tech);
  c.Attribute("_dpFile", CharArray(MAX_STRING, "char [MAX_STRING]"),
              &API::_dpFile);
  c.Attribute("hostName", CharArray(128, "char [128]"), &API::hostName);
  c.Attribute("ipaddr", CharArray(16, "char [16]"), &API::ipaddr);
  c.Attribute("_not", kInt, &API::_not);
  c.Attribute("_edge", kInt, &API::_edge);
  c.Attribute("hierarchical", kInt, &API::hierarchical);
  c.Attribute("areaIter", kInt, &API::areaIter);
  c.Attribute("areaReportIter", kInt, &API::areaReportIter);
  c.Attribute("dpId", kInt, &API::dpId);

  c.Method("ReportCount", {}, [](API& a) { a.ReportCount(); });
  c.Method("OpenLog", {{"log", kCharPtr}},
           [](API& a, const char* log) { return a.OpenLog(log); });
  c.Method("CloseLog", {}, [](API& a) { a.CloseLog(); });
  c.Method("Print", {{"msg", kCharPtr}},
           [](API& a, const char* msg) { a.Print(msg); });
  c.Method("ExistLibrary", {{"lid", kInt}},
           [](API& a, int lid) { return a.ExistLibrary(lid); });
  c.Method("SetLibrary", {{"lid", kInt}},
           [](API& a, int lid) { a.SetLibrary(lid); });
  BindApiOps(c);
  BindApiStore(c);
  BindApiEdits(c);
  BindApiHierarchy(c);
}

}  // namespace velmar::binding
