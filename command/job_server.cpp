// The job server and client of distributed processing, and the host
// queries. Every read and write loops over partial transfers and retries
// when a signal interrupts it; the server writes with MSG_NOSIGNAL, so a
// worker that vanished can never end it with SIGPIPE.

#include "command/job_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "command/fatal.h"
#include "foundation/error.h"

namespace velmar {

namespace {

void CloseDescriptor(int fd) {
  // close is not retried on EINTR: on Linux the descriptor is gone anyway.
  if (fd >= 0) ::close(fd);
}

// Reads up to n bytes, as many as arrive before the peer closes; returns
// the count read (less than n at end of stream or on an error).
size_t ReadFully(int fd, unsigned char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, buf + got, n - got);
    if (r > 0) {
      got += size_t(r);
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return got;
}

// Writes all n bytes; false with errno set when a write fails.
bool WriteFully(int fd, const unsigned char* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::send(fd, buf + done, n - done, MSG_NOSIGNAL);
    if (w > 0) {
      done += size_t(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else {
      if (w == 0) errno = EPIPE;
      return false;
    }
  }
  return true;
}

// Connects fd to addr; a connect interrupted by a signal goes on in the
// background and is waited for.
bool ConnectRetrying(int fd, const sockaddr_in& addr) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
    return true;
  if (errno != EINTR && errno != EINPROGRESS) return false;
  pollfd p{fd, POLLOUT, 0};
  for (;;) {
    const int r = ::poll(&p, 1, -1);
    if (r > 0) break;
    if (r < 0 && errno != EINTR) return false;
  }
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return false;
  return error == 0;
}

// Has the kernel probe an idle connection after a second, every second,
// and reset it after three probes go unanswered or are refused. A worker
// waits on its connection for a job and never sends anything, so without
// probes it would wait for ever on a connection whose server end is gone
// without a reset: one that completed on the worker's side while the
// server closed its listening socket at the end of the job file (the
// server's half of the handshake is then dropped silently). A server that
// lives answers the probes, however long the worker waits for its turn.
void ProbeWhileWaiting(int fd) {
  const int on = 1, idle = 1, interval = 1, count = 3;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

// True when the peer of a connected socket has already closed or reset
// it, checked without blocking. A worker never sends anything, so a
// readable socket means end of stream or an error.
bool PeerGone(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  int r;
  do {
    r = ::poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return false;
  if (p.revents & (POLLERR | POLLHUP | POLLRDHUP | POLLNVAL)) return true;
  if (p.revents & POLLIN) {
    unsigned char c;
    const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
  }
  return false;
}

// Reads the next whitespace-separated word of the job file into value.
// Returns 1 for an int32 value, 0 at the end of the file, -1 for a word
// that is not a whole int32 number.
int ReadJobValue(std::ifstream& in, int32_t& value) {
  std::string word;
  if (!(in >> word)) return 0;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(word.c_str(), &end, 10);
  if (end == word.c_str() || *end != '\0' || errno == ERANGE || v < INT32_MIN ||
      v > INT32_MAX)
    return -1;
  value = int32_t(v);
  return 1;
}

}  // namespace

// --- Client ---------------------------------------------------------------------

bool dpc::GetArea(const char* ipaddr, int32_t& id, int32_t& x1, int32_t& y1,
                  int32_t& x2, int32_t& y2, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) ExitWithMessage("dpc: socket error %d\n", errno);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  if (::inet_pton(AF_INET, ipaddr, &addr.sin_addr) != 1 ||
      !ConnectRetrying(fd, addr)) {
    CloseDescriptor(fd);
    return false;
  }
  ProbeWhileWaiting(fd);
  unsigned char job[kJobBytes];
  const size_t got = ReadFully(fd, job, sizeof job);
  CloseDescriptor(fd);
  if (got != sizeof job) return false;
  int32_t v[5];
  std::memcpy(v, job, sizeof v);
  id = v[0];
  x1 = v[1];
  y1 = v[2];
  x2 = v[3];
  y2 = v[4];
  return true;
}

// --- Server ---------------------------------------------------------------------

dpm::dpm(int port) {
  sock = ::socket(AF_INET, SOCK_STREAM, 0);
  if (sock < 0) ExitWithMessage("dpm: socket error %d\n", errno);
  const int on = 1;
  if (::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
    ExitWithMessage("dpm: set socket opt error %d\n", errno);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(uint16_t(port));
  if (::bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    ExitWithMessage("dpm: bind error\n");
  if (::listen(sock, 200) != 0) ExitWithMessage("dpm: listen error %d\n", errno);
}

dpm::~dpm() {
  CloseDescriptor(sock);
  sock = -1;
}

int dpm::Port() const {
  if (sock < 0) return -1;
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
  return ntohs(addr.sin_port);
}

int dpm::ServeJobs(const char* path) {
  std::ifstream in(path);
  if (!in.is_open()) {
    PrintMessage("Error: Job file %s could not be opened !\n", path);
  } else {
    for (;;) {
      int32_t job[5];
      int r = ReadJobValue(in, job[0]);
      if (r == 0) break;  // no job left
      for (int i = 1; i < 5 && r == 1; ++i) r = ReadJobValue(in, job[i]);
      if (r != 1) {
        PrintMessage("Error: Job file %s has an incomplete job !\n", path);
        break;
      }
      unsigned char bytes[kJobBytes];
      std::memcpy(bytes, job, sizeof bytes);
      // The job goes to the first connection that takes all of it.
      for (;;) {
        const int conn = ::accept(sock, nullptr, nullptr);
        if (conn < 0) {
          if (errno == EINTR || errno == ECONNABORTED) continue;
          ExitWithMessage("dpm: accept error %d\n", errno);
        }
        if (PeerGone(conn)) {
          CloseDescriptor(conn);
          continue;
        }
        const bool written = WriteFully(conn, bytes, sizeof bytes);
        const int error = errno;
        CloseDescriptor(conn);
        if (written) break;
        PrintMessage("dpm: write error %d\n", error);
      }
    }
  }
  // Waiting workers get no job instead of waiting for ever.
  CloseDescriptor(sock);
  sock = -1;
  return 0;
}

// --- Host queries -----------------------------------------------------------------

int QueryHostName(char* buffer) {
  char name[256];
  std::memset(name, 0, sizeof name);
  if (::gethostname(name, sizeof name - 1) != 0) name[0] = '\0';
  // The first word, as a shell would hand it over, at most 127 characters.
  size_t n = 0;
  while (n < 127 && name[n] != '\0' && name[n] != ' ' && name[n] != '\t' &&
         name[n] != '\n')
    ++n;
  std::memcpy(buffer, name, n);
  buffer[n] = '\0';
  return int(n);
}

namespace {

// True when name can be a DNS host name: not empty, at most 253
// characters, no label empty (but a final dot) or longer than 63.
bool PlausibleHostName(const char* name) {
  const size_t n = std::strlen(name);
  if (n == 0 || n > 253) return false;
  size_t label = 0;
  for (size_t i = 0; i < n; ++i) {
    if (name[i] == '.') {
      if (label == 0) return false;
      label = 0;
    } else if (++label > 63) {
      return false;
    }
  }
  return true;
}

// The dotted IPv4 address of name into out (16 bytes); false when unknown.
bool LookUpIPv4(const char* name, char* out) {
  if (!PlausibleHostName(name)) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr)
    return false;
  const auto* a = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
  const bool ok = ::inet_ntop(AF_INET, &a->sin_addr, out, 16) != nullptr;
  ::freeaddrinfo(result);
  return ok;
}

}  // namespace

int GetHostAddress2(const char* name, char* out) {
  if (!LookUpIPv4(name, out))
    ExitWithMessage("GetHostAddress2: GetHostByName failed");
  return 1;
}

int GetHostAddress(char* out) {
  char name[128];
  std::memset(name, 0, sizeof name);
  QueryHostName(name);
  if (!LookUpIPv4(name, out)) ExitWithMessage("GetHostAddress: GetHostByName failed");
  return 1;
}

}  // namespace velmar
