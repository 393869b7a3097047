// Script commands of the cell edits, the host queries and the job-server
// client.

#include "command/api.h"
#include "command/binding.h"

namespace velmar::binding {

void BindApiEdits(ClassBinding<API>& c) {
  c.Method("CreateCell", {{"cname", kCharPtr}},
           [](API& a, const char* cname) { return a.CreateCell(cname); });
  c.Method("RenameCell", {{"cname1", kCharPtr}, {"cname2", kCharPtr}},
           [](API& a, const char* cname1, const char* cname2) {
             return a.RenameCell(cname1, cname2);
           });
  c.Method("AddInstance",
           {{"cname", kCharPtr}, {"pname", kCharPtr}, {"x", kInt}, {"y", kInt},
            {"ori", kInt}},
           [](API& a, const char* cname, const char* pname, int x, int y,
              int ori) { return a.AddInstance(cname, pname, x, y, ori); });
  c.Method("ReplaceCell",
           {{"cname1", kCharPtr}, {"cname2", kCharPtr}, {"pname", kCharPtr}},
           [](API& a, const char* cname1, const char* cname2, const char* pname) {
             return a.ReplaceCell(cname1, cname2, pname);
           });
  c.Method("RemoveCell", {{"cname", kCharPtr}, {"pname", kCharPtr}},
           [](API& a, const char* cname, const char* pname) {
             return a.RemoveCell(cname, pname);
           });

  c.Method("HostName", {}, [](API& a) { return a.HostName(); });
  c.Method("GetIPAddress", {{"hname", kCharPtr}},
           [](API& a, const char* hname) { return a.GetIPAddress(hname); });
  c.Method("GetDPArea", {{"ipaddr", kCharPtr}},
           [](API& a, const char* ipaddr) { return a.GetDPArea(ipaddr); });
}

}  // namespace velmar::binding
