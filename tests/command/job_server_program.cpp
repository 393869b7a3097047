// A job server for tests: no command starts one, so worker scripts are
// tested against this program.
//
//   velmar_job_server JOBFILE [PORT]
//
// Listens on PORT (55553 when not given), prints "listening on PORT" once
// the socket listens (a connection made to probe it would take a job),
// serves the jobs of JOBFILE, prints "served" and ends with the result of
// serving (0).
#include <cstdio>
#include <cstdlib>

#include "command/job_server.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s JOBFILE [PORT]\n", argv[0]);
    return 2;
  }
  const int port = argc == 3 ? std::atoi(argv[2]) : velmar::kJobPort;
  velmar::dpm server(port);
  std::printf("listening on %d\n", server.Port());
  std::fflush(stdout);
  const int result = server.ServeJobs(argv[1]);
  std::printf("served\n");
  std::fflush(stdout);
  return result;
}
