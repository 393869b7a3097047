// A real temporary library directory for tests (mkdtemp), removed with
// everything in it when the object goes away, and little helpers to put
// files into it and read them back byte for byte.
#pragma once

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velmar::test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/velmar_lib_XXXXXX";
    const char* p = ::mkdtemp(pattern);
    if (p != nullptr) path_ = p;
  }
  ~TempDir() {
    if (!path_.empty())
      ::nftw(path_.c_str(), &RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Exists(const std::string& name) const {
    struct stat st;
    return ::stat(File(name).c_str(), &st) == 0;
  }
  // Names of the entries of the directory (no "." and "..").
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path_.c_str())) {
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      ::closedir(d);
    }
    return names;
  }

 private:
  static int RemoveEntry(const char* p, const struct stat*, int, struct FTW*) {
    ::remove(p);
    return 0;
  }
  std::string path_;
};

// Little-endian byte builder for hand-made library files.
class Bytes {
 public:
  Bytes& U16(uint16_t v) { return Put(&v, 2); }
  Bytes& I32(int32_t v) { return Put(&v, 4); }
  Bytes& U32(uint32_t v) { return Put(&v, 4); }
  Bytes& F64(double v) { return Put(&v, 8); }
  const std::string& str() const { return s_; }

 private:
  Bytes& Put(const void* p, size_t n) {
    s_.append(static_cast<const char*>(p), n);  // the host is little-endian
    return *this;
  }
  std::string s_;
};

}  // namespace velmar::test

#include <sys/resource.h>

#include <csignal>

namespace velmar::test {

// Limits the size of every file this process writes (RLIMIT_FSIZE) while
// the object lives: a write past the limit fails with EFBIG instead of
// raising SIGXFSZ. Lets tests make a write fail half-way, also as root.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    struct rlimit r = old_;
    r.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &r);
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
