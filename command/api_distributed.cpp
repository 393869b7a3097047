// API: the host queries and the job-server client of distributed
// processing (command/job_server.h).

#include <string>

#include "command/api.h"
#include "command/job_server.h"

namespace velmar {

std::string API::HostName() {
  QueryHostName(hostName);
  return hostName;
}

std::string API::GetIPAddress(const char* hname) {
  GetHostAddress2(hname, ipaddr);
  return ipaddr;
}

int API::GetDPArea(const char* serverAddress) {
  return GetDPArea(serverAddress, kJobPort);
}

int API::GetDPArea(const char* serverAddress, int port) {
  dpc client;
  return client.GetArea(serverAddress, workingCell, area.x1, area.y1, area.x2,
                        area.y2, port)
             ? 1
             : 0;
}

}  // namespace velmar
