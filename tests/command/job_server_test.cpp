// The job server and client over real TCP sockets on 127.0.0.1, on a port
// the system chooses: the server runs in the test process, workers are
// forked processes that take jobs until the server has none, and report
// what they received through a pipe. Peers that misbehave (a worker that
// resets its connection, servers that send too little or too much) are
// plain sockets of the test.

#include "command/job_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/stdout_capture.h"
#include "support/temp_dir.h"

namespace velmar {
namespace {

using Job = std::vector<int32_t>;  // cell id, x1, y1, x2, y2

// Forked workers that each take jobs until GetArea gives false and write
// every job they receive (20 bytes, atomically) into one pipe.
class Workers {
 public:
  Workers(int count, int port, int listeningSocket) {
    EXPECT_EQ(::pipe(pipe_), 0);
    for (int w = 0; w < count; ++w) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(listeningSocket);  // the server's, inherited
        ::close(pipe_[0]);
        dpc client;
        int32_t v[5] = {0, 0, 0, 0, 0};
        while (client.GetArea("127.0.0.1", v[0], v[1], v[2], v[3], v[4], port)) {
          if (::write(pipe_[1], v, sizeof v) != ssize_t(sizeof v)) ::_exit(3);
        }
        ::_exit(0);
      }
      pids_.push_back(pid);
    }
    ::close(pipe_[1]);
  }

  // Waits for every worker; true when all ended with status 0. The jobs
  // received, in the order they reached the pipe.
  bool Finish(std::vector<Job>& jobs) {
    bool ok = true;
    for (pid_t pid : pids_) {
      int status = 0;
      if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
          WEXITSTATUS(status) != 0)
        ok = false;
    }
    int32_t v[5];
    while (::read(pipe_[0], v, sizeof v) == ssize_t(sizeof v))
      jobs.push_back(Job(v, v + 5));
    ::close(pipe_[0]);
    return ok;
  }

 private:
  int pipe_[2];
  std::vector<pid_t> pids_;
};

std::string JobText(const std::vector<Job>& jobs) {
  std::ostringstream s;
  for (const Job& j : jobs) {
    for (int32_t v : j) s << v << ' ';
    s << '\n';
  }
  return s.str();
}

// Serves the job file text to `workers` forked workers; returns the jobs
// they received (sorted), what the server printed, and whether every worker
// ended well.
struct Served {
  std::vector<Job> jobs;
  std::string printed;
  bool workersEnded = false;
  int result = -1;
};
Served Serve(const std::string& fileText, int workers, bool writeFile = true) {
  test::TempDir dir;
  if (writeFile) dir.Write("jobs", fileText);
  Served s;
  dpm server(0);
  const int port = server.Port();
  Workers w(workers, port, server.sock);
  {
    test::StdoutCapture capture;
    s.result = server.ServeJobs(dir.File("jobs").c_str());
    s.printed = capture.Stop();
  }
  EXPECT_EQ(server.sock, -1) << "the listening socket stays open";
  s.workersEnded = w.Finish(s.jobs);
  std::sort(s.jobs.begin(), s.jobs.end());
  return s;
}

TEST(JobServer, ServesTheTwoJobsOfTheFileInOrderThenRefuses) {
  test::TempDir dir;
  dir.Write("jobs", "3 0 0 1000 1000 3 1000 0 2000 1000\n");
  dpm server(0);
  const int port = server.Port();
  ASSERT_GT(port, 0);
  // One worker asking three times in a row.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(server.sock);
    dpc client;
    for (int i = 0; i < 3; ++i) {
      int32_t v[5] = {-7, -7, -7, -7, -7};
      const int32_t ok = client.GetArea("127.0.0.1", v[0], v[1], v[2], v[3], v[4], port);
      if (::write(fds[1], &ok, 4) != 4 || ::write(fds[1], v, sizeof v) != sizeof v)
        ::_exit(3);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  EXPECT_EQ(server.ServeJobs(dir.File("jobs").c_str()), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const int32_t expected[3][6] = {{1, 3, 0, 0, 1000, 1000},
                                  {1, 3, 1000, 0, 2000, 1000},
                                  {0, -7, -7, -7, -7, -7}};
  for (const auto& e : expected) {
    int32_t got[6];
    ASSERT_EQ(::read(fds[0], got, sizeof got), ssize_t(sizeof got));
    EXPECT_EQ(std::vector<int32_t>(got, got + 6), std::vector<int32_t>(e, e + 6));
  }
  ::close(fds[0]);
}

TEST(JobServer, TwoHundredJobsAmongEightWorkersEachExactlyOnce) {
  std::mt19937 rng(21);
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  std::vector<Job> jobs;
  for (int i = 0; i < 200; ++i) {
    // Each job distinct (the first value counts), the rest any int32.
    jobs.push_back({i, any(rng), any(rng), any(rng), any(rng)});
  }
  jobs[7] = {7, INT32_MIN, INT32_MAX, -1, 0};
  const Served s = Serve(JobText(jobs), 8);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.printed, "");
  EXPECT_TRUE(s.workersEnded);
  std::sort(jobs.begin(), jobs.end());
  EXPECT_EQ(s.jobs, jobs);
}

TEST(JobServer, AWorkerThatResetsItsConnectionCostsNoJob) {
  test::TempDir dir;
  dir.Write("jobs", "5 1 2 3 4\n6 -1 -2 -3 -4\n");
  dpm server(0);
  const int port = server.Port();
  // While the server is held back (not accepting), a worker connects and
  // resets the connection.
  const int bad = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(bad, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  linger l{1, 0};
  ASSERT_EQ(::setsockopt(bad, SOL_SOCKET, SO_LINGER, &l, sizeof l), 0);
  ::close(bad);
  // Then a good worker.
  Workers good(1, port, server.sock);
  std::vector<Job> got;
  {
    test::StdoutCapture capture;
    EXPECT_EQ(server.ServeJobs(dir.File("jobs").c_str()), 0);
    const std::string printed = capture.Stop();
    // A reset seen at the write is reported; one seen before is not.
    EXPECT_TRUE(printed.empty() || printed.rfind("dpm: write error ", 0) == 0) << printed;
  }
  EXPECT_TRUE(good.Finish(got));
  EXPECT_EQ(got, (std::vector<Job>{{5, 1, 2, 3, 4}, {6, -1, -2, -3, -4}}));
}

// A peer server on a free port that answers one connection with the given
// bytes, sent in pieces of `piece` bytes, then closes.
class PeerServer {
 public:
  PeerServer(std::string bytes, size_t piece) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::listen(fd_, 4), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, bytes, piece] {
      const int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      const int on = 1;
      ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      for (size_t i = 0; i < bytes.size(); i += piece) {
        const size_t n = std::min(piece, bytes.size() - i);
        if (::send(c, bytes.data() + i, n, MSG_NOSIGNAL) != ssize_t(n)) break;
        if (piece < bytes.size()) ::usleep(2000);
      }
      ::close(c);
    });
  }
  ~PeerServer() {
    thread_.join();
    ::close(fd_);
  }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

std::string JobBytes(const std::vector<int32_t>& values) {
  std::string s(values.size() * 4, '\0');
  std::memcpy(s.data(), values.data(), s.size());
  return s;
}

TEST(JobClient, TakesAJobOnlyWhenAllTwentyBytesArrive) {
  const std::string job = JobBytes({9, -5, INT32_MIN, INT32_MAX, -1});
  struct Case {
    const char* name;
    std::string bytes;
    size_t piece;
    bool taken;
  } cases[] = {
      {"nothing", "", 1, false},
      {"7 bytes", job.substr(0, 7), 7, false},
      {"19 bytes", job.substr(0, 19), 19, false},
      {"20 bytes one at a time", job, 1, true},
      {"24 bytes", job + JobBytes({77}), 24, true},
  };
  for (const Case& c : cases) {
    PeerServer peer(c.bytes, c.piece);
    int32_t v[5] = {1, 2, 3, 4, 5};
    dpc client;
    EXPECT_EQ(client.GetArea("127.0.0.1", v[0], v[1], v[2], v[3], v[4], peer.port()),
              c.taken)
        << c.name;
    const std::vector<int32_t> expected =
        c.taken ? std::vector<int32_t>{9, -5, INT32_MIN, INT32_MAX, -1}
                : std::vector<int32_t>{1, 2, 3, 4, 5};
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), expected) << c.name;
  }
}

TEST(JobClient, NoServerOrNoAddressGivesFalseAndChangesNothing) {
  int port;
  {
    dpm closed(0);  // a port that was free a moment ago and has no listener
    port = closed.Port();
  }
  for (const char* address : {"127.0.0.1", "not-an-address", "127.0.0", ""}) {
    int32_t v[5] = {1, 2, 3, 4, 5};
    dpc client;
    EXPECT_FALSE(client.GetArea(address, v[0], v[1], v[2], v[3], v[4], port)) << address;
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  }
}

TEST(JobServer, JobFilesWithABadJobServeExactlyTheJobsBeforeIt) {
  struct Case {
    const char* name;
    std::string text;
    size_t served;  // jobs served before the bad one
    bool message;   // "has an incomplete job"
  } cases[] = {
      {"empty", "", 0, false},
      {"white space only", " \n\t\n", 0, false},
      {"trailing incomplete job", "1 2 3 4 5\n6 7 8 9 10\n11 12 13\n", 2, true},
      {"non-integer word", "1 2 3 4 5\n6 7 x 9 10\n11 12 13 14 15\n", 1, true},
      {"number with letters", "1 2 3 4 5z\n", 0, true},
      {"value beyond int32", "1 2 3 4 5\n6 7 2147483648 9 10\n", 1, true},
      {"value below int32", "-2147483649 2 3 4 5\n", 0, true},
      {"extremes are values", "-2147483648 2147483647 0 -0 +7\n", 1, false},
  };
  for (const Case& c : cases) {
    const Served s = Serve(c.text, 2);
    EXPECT_EQ(s.result, 0) << c.name;
    EXPECT_TRUE(s.workersEnded) << c.name;
    ASSERT_EQ(s.jobs.size(), c.served) << c.name;
    // The jobs served are the first ones of the file, unchanged.
    std::istringstream in(c.text);
    for (size_t i = 0; i < c.served; ++i) {
      Job j(5);
      for (int32_t& v : j) in >> v;
      EXPECT_EQ(s.jobs[i], j) << c.name;
    }
    if (c.message) {
      EXPECT_NE(s.printed.find("Error: Job file "), std::string::npos) << c.name;
      EXPECT_NE(s.printed.find(" has an incomplete job !\n"), std::string::npos) << c.name;
    } else {
      EXPECT_EQ(s.printed, "") << c.name;
    }
  }
}

TEST(JobServer, AMissingJobFileIsReportedAndServesNothing) {
  const Served s = Serve("", 2, /*writeFile=*/false);
  EXPECT_EQ(s.result, 0);
  EXPECT_TRUE(s.workersEnded);
  EXPECT_TRUE(s.jobs.empty());
  EXPECT_NE(s.printed.find("Error: Job file "), std::string::npos);
  EXPECT_NE(s.printed.find("/jobs could not be opened !\n"), std::string::npos);
}

// Interrupts the calling process every half millisecond with a signal
// whose handler does nothing and does not restart calls: blocking calls
// return EINTR again and again.
void InterruptOften() {
  struct sigaction sa {};
  sa.sa_handler = [](int) {};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART
  ::sigaction(SIGALRM, &sa, nullptr);
  itimerval t{{0, 500}, {0, 500}};
  ::setitimer(ITIMER_REAL, &t, nullptr);
}

TEST(JobServer, InterruptedCallsAreRetriedOnBothSides) {
  test::TempDir dir;
  dir.Write("jobs", "1 2 3 4 5\n6 7 8 9 10\n");
  dpm server(0);
  const int port = server.Port();
  // The server, interrupted while it waits in accept, in a process of its
  // own.
  const pid_t serverPid = ::fork();
  if (serverPid == 0) {
    InterruptOften();
    ::_exit(server.ServeJobs(dir.File("jobs").c_str()) == 0 ? 0 : 5);
  }
  ::close(server.sock);
  server.sock = -1;
  ::usleep(20000);  // the server waits (and is interrupted) meanwhile
  // A worker interrupted while it reads a job that arrives byte by byte.
  const std::string job = JobBytes({-3, 1, INT32_MIN, INT32_MAX, 0});
  PeerServer peer(job, 1);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t workerPid = ::fork();
  if (workerPid == 0) {
    InterruptOften();
    dpc client;
    int32_t v[10];
    const bool a = client.GetArea("127.0.0.1", v[0], v[1], v[2], v[3], v[4], peer.port());
    const bool b = client.GetArea("127.0.0.1", v[5], v[6], v[7], v[8], v[9], port);
    ::write(fds[1], v, sizeof v);
    ::_exit(a && b ? 0 : 6);
  }
  ::close(fds[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(workerPid, &status, 0), workerPid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  int32_t v[10];
  ASSERT_EQ(::read(fds[0], v, sizeof v), ssize_t(sizeof v));
  ::close(fds[0]);
  EXPECT_EQ(std::vector<int32_t>(v, v + 10),
            (std::vector<int32_t>{-3, 1, INT32_MIN, INT32_MAX, 0, 1, 2, 3, 4, 5}));
  // The second job goes to a plain worker; then the server ends well.
  dpc client;
  int32_t w[5];
  EXPECT_TRUE(client.GetArea("127.0.0.1", w[0], w[1], w[2], w[3], w[4], port));
  EXPECT_EQ(std::vector<int32_t>(w, w + 5), (std::vector<int32_t>{6, 7, 8, 9, 10}));
  ASSERT_EQ(::waitpid(serverPid, &status, 0), serverPid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(HostQueries, HostNameIsTheSystemsFirstWordBoundedTo127Characters) {
  char buffer[128];
  std::memset(buffer, 'x', sizeof buffer);
  const int n = QueryHostName(buffer);
  char expected[256] = {};
  ASSERT_EQ(::gethostname(expected, sizeof expected - 1), 0);
  EXPECT_EQ(std::string(buffer), std::string(expected).substr(0, 127));
  EXPECT_EQ(n, int(std::strlen(buffer)));
}

TEST(HostQueries, LocalhostIsTheLoopbackAddress) {
  char out[16];
  EXPECT_EQ(GetHostAddress2("localhost", out), 1);
  EXPECT_STREQ(out, "127.0.0.1");
  EXPECT_EQ(GetHostAddress2("127.0.0.1", out), 1);
  EXPECT_STREQ(out, "127.0.0.1");
}

}  // namespace
}  // namespace velmar
