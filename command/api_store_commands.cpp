// Script commands of the API methods that open and close libraries, load
// layouts, maintain libraries and store results.

#include <string>

#include "command/api.h"
#include "command/binding.h"

namespace velmar::binding {

void BindApiStore(ClassBinding<API>& c) {
  // Libraries.
  c.Method("GetLibraryPath", {{"lid", kInt}},
           [](API& a, int lid) { return a.GetLibraryPath(lid); });
  c.Method("OpenLibrary", {{"libName", kCharPtr}, {"gz", kInt}},
           [](API& a, const char* libName, int gz) {
             return a.OpenLibrary(libName, gz);
           });
  c.Method("CloseLibrary", {}, [](API& a) { a.CloseLibrary(); });
  c.Method("CloseLibraries", {}, [](API& a) { a.CloseLibraries(); });

  // Loading and library maintenance.
  c.Method("UpdateLibrary", {}, [](API& a) { a.UpdateLibrary(); });
  c.Method("UpdateLibraries", {}, [](API& a) { a.UpdateLibraries(); });
  c.Method("LoadLibraryInfo", {}, [](API& a) { return a.LoadLibraryInfo(); });
  c.Method("LoadLibraryInfos", {}, [](API& a) { return a.LoadLibraryInfos(); });
  c.Method("LoadLibraryAll", {{"db", kInt}},
           [](API& a, int db) { return a.LoadLibraryAll(db); });
  c.Method("ClearMemory", {}, [](API& a) { a.ClearMemory(); });
  c.Method("ChangeDBUnit", {{"unit", kDouble}},
           [](API& a, double unit) { a.ChangeDBUnit(unit); });
  c.Method("ScaleOut", {{"sf", kDouble}},
           [](API& a, double sf) { a.ScaleOut(sf); });
  c.Method("LoadGds", {{"gdsName", kCharPtr}, {"gz", kInt}, {"prefix", kCharPtr}},
           [](API& a, const char* gdsName, int gz, const char* prefix) {
             return a.LoadGds(gdsName, gz, prefix);
           });
  c.Method("LoadOasis", {{"fname", kCharPtr}, {"prefix", kCharPtr}},
           [](API& a, const char* fname, const char* prefix) {
             return a.LoadOasis(fname, prefix);
           });
  c.Method("LoadPoly",
           {{"fname", kCharPtr}, {"cname", kCharPtr}, {"layer", kInt},
            {"datatype", kInt}},
           [](API& a, const char* fname, const char* cname, int layer,
              int datatype) { return a.LoadPoly(fname, cname, layer, datatype); });

  // Storing results and the temporary database.
  c.Method("SetTempDB", {{"fname", kCharPtr}},
           [](API& a, const char* fname) { a.SetTempDB(fname); });
  c.Method("OpenTempDB", {}, [](API& a) { a.OpenTempDB(); });
  c.Method("CloseTempDB", {}, [](API& a) { a.CloseTempDB(); });
  c.Method("CopyTempDB", {{"cname", kCharPtr}},
           [](API& a, const char* cname) { a.CopyTempDB(cname); });
  c.Method("AppendBinaries", {{"fname1", kCharPtr}, {"fname2", kCharPtr}},
           [](API& a, const char* fname1, const char* fname2) {
             a.AppendBinaries(fname1, fname2);
           });
  c.Method("SaveDB",
           {{"layer1", kInt}, {"datatype1", kInt}, {"layer2", kInt},
            {"datatype2", kInt}},
           [](API& a, int layer1, int datatype1, int layer2, int datatype2) {
             return a.SaveDB(layer1, datatype1, layer2, datatype2);
           });
  c.Method("SavePoly",
           {{"layer1", kInt}, {"datatype1", kInt}, {"fname", kCharConstPtr}},
           [](API& a, int layer1, int datatype1, const char* fname) {
             return a.SavePoly(layer1, datatype1, fname);
           });
}

}  // namespace velmar::binding
