// Redirects the process's standard output (file descriptor 1) into a
// temporary file for the life of the object, so tests can read back exactly
// what was written there, byte for byte.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace velmar::test {

class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    char path[] = "/tmp/velmar_stdout_XXXXXX";
    fd_ = ::mkstemp(path);
    path_ = path;
    saved_ = ::dup(1);
    ::dup2(fd_, 1);
  }
  ~StdoutCapture() { Stop(); ::unlink(path_.c_str()); }

  // Bytes that reached file descriptor 1 so far (without flushing stdio).
  long long BytesWritten() const {
    struct stat st;
    ::fstat(fd_, &st);
    return st.st_size;
  }

  // Restores standard output and returns everything captured.
  std::string Stop() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      ::dup2(saved_, 1);
      ::close(saved_);
      saved_ = -1;
      std::string text;
      ::lseek(fd_, 0, SEEK_SET);
      char buf[4096];
      ssize_t n;
      while ((n = ::read(fd_, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
      ::close(fd_);
      text_ = text;
    }
    return text_;
  }

 private:
  int fd_ = -1;
  int saved_ = -1;
  std::string path_;
  std::string text_;
};

// Stops capture and returns what was captured without the "Total Memory = "
// report line of a read: the process size varies from run to run.
inline std::string StopWithoutMemoryLine(StdoutCapture& capture) {
  std::string output = capture.Stop();
  const size_t memory = output.find("Total Memory = ");
  if (memory != std::string::npos) {
    const size_t end = output.find(" MBytes\n", memory);
    if (end != std::string::npos) output.erase(memory, end + 8 - memory);
  }
  return output;
}

}  // namespace velmar::test
