// Distributed processing: the job server that hands out work areas over TCP
// and the client through which a worker script asks for its next one, and
// the host queries that such scripts use to find addresses.
//
// Protocol: the client connects; the server accepts, writes one job and
// closes the connection. A job is five int32 values (cell id, x1, y1, x2,
// y2), 4 bytes each in the host's byte order, 20 bytes in all; nothing else
// is exchanged. Scripts always use port kJobPort; the port parameters exist
// so that tests can run a server on a free port.
#pragma once

#include <cstdint>

namespace velmar {

// The port of the job protocol.
constexpr int kJobPort = 55553;

// Bytes of one job on the wire.
constexpr int kJobBytes = 20;

// The client: one request per GetArea.
class dpc {
 public:
  dpc() = default;

  // Connects to the server at the dotted IPv4 address ipaddr and reads one
  // job. The destinations change only when all 20 bytes arrived; false
  // (destinations unchanged) when the address is not a dotted IPv4
  // address, nobody listens, or the server closes before a whole job.
  // No socket at all prints "dpc: socket error %d\n" and ends the process
  // with status 1.
  bool GetArea(const char* ipaddr, int32_t& id, int32_t& x1, int32_t& y1,
               int32_t& x2, int32_t& y2, int port = kJobPort);
};

// The job server: a listening socket and the jobs of one job file.
class dpm {
 public:
  // Creates the listening socket on every local address at port (0: a free
  // port chosen by the system, see Port), SO_REUSEADDR set, backlog 200.
  // A failure prints its message ("dpm: socket error %d\n", "dpm: set
  // socket opt error %d\n", "dpm: bind error\n", "dpm: listen error %d\n")
  // and ends the process with status 1.
  explicit dpm(int port = kJobPort);
  // Closes the listening socket when it is still open.
  ~dpm();
  dpm(const dpm&) = delete;
  dpm& operator=(const dpm&) = delete;

  // The port the server listens on; -1 once it is closed.
  int Port() const;

  // Serves the jobs of the job file (five whitespace-separated integers
  // per job) in file order, one per accepted connection, each exactly once:
  // a connection whose peer has gone, or whose write fails ("dpm: write
  // error %d\n"), is closed and the same job goes to the next connection.
  // A job is read whole before a connection is accepted for it: a missing,
  // non-integer or out-of-range value prints "Error: Job file %s has an
  // incomplete job !\n" and serves nothing more. An unopenable file prints
  // "Error: Job file %s could not be opened !\n". When it returns, the
  // listening socket is closed, so that waiting workers get no job rather
  // than waiting for ever. Always 0.
  int ServeJobs(const char* path);

  int sock = -1;  // the listening socket; -1 once closed
};

// Writes the host name into buffer (at least 128 bytes), at most 127
// characters and the terminator; returns its length (0 when unknown).
int QueryHostName(char* buffer);

// Writes the dotted IPv4 address of the host name into out (at least 16
// bytes); returns 1. An unknown name (a name with a label of more than 63
// characters is refused without a lookup) prints "GetHostAddress2:
// GetHostByName failed" and ends the process with status 1.
int GetHostAddress2(const char* name, char* out);

// The same for this host; its failure message is "GetHostAddress:
// GetHostByName failed".
int GetHostAddress(char* out);

}  // namespace velmar
