// Scratch files for tests: a real temporary directory (mkdtemp), removed
// with everything in it when the object goes away, with little helpers to
// put files into it and read them back byte for byte.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace velmar::test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/velmar_test_XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Path of a file inside the directory.
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
  std::string path_;
};

}  // namespace velmar::test
