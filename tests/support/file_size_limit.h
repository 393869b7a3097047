// A file-size limit for tests that make a write fail half-way.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <stdexcept>

namespace velmar::test {

// Limits the size of every file this process writes (RLIMIT_FSIZE) while
// the object lives: a write past the limit fails with EFBIG instead of
// raising SIGXFSZ. Lets tests make a write fail half-way, also as root.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    struct rlimit r;
    if (::getrlimit(RLIMIT_FSIZE, &old_) != 0) throw std::runtime_error("getrlimit failed");
    r = old_;
    r.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &r) != 0) throw std::runtime_error("setrlimit failed");
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  struct rlimit old_;
  void (*oldHandler_)(int) = SIG_DFL;
};

}  // namespace velmar::test
