#include "layoutdb/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/error.h"

namespace velmar {

namespace {

// Mode of the replaced file: the old file's permission bits, or the usual
// 0666 less the process's umask for a new file (mkstemp creates 0600).
mode_t TargetMode(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Syncs the directory holding path so that the rename itself is durable.
// Best effort: some file systems refuse to sync a directory.
void SyncDirectory(const std::string& path) {
  std::string dir = ".";
  std::size_t slash = path.rfind('/');
  if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path, const char* unit,
                       const std::string& openMessage)
    : path_(path), unit_(unit) {
  std::string dir;
  std::string name = path;
  std::size_t slash = path.rfind('/');
  if (slash != std::string::npos) {
    dir = path.substr(0, slash + 1);
    name = path.substr(slash + 1);
  }
  std::string pattern = dir + "." + name + ".XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  if (fd < 0) throw Error(openMessage, unit_);
  tempPath_.assign(buf.data());
  fchmod(fd, TargetMode(path_));
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    close(fd);
    unlink(tempPath_.c_str());
    throw Error(openMessage, unit_);
  }
}

AtomicFile::~AtomicFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_) unlink(tempPath_.c_str());
}

void AtomicFile::CloseDescriptor() {
  if (file_ == nullptr) return;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
}

void AtomicFile::Write(const char* data, std::size_t n) {
  if (failed_ || n == 0) return;
  if (file_ == nullptr || std::fwrite(data, 1, n, file_) != n) failed_ = true;
}

void AtomicFile::Write(const char* s) { Write(s, std::strlen(s)); }

void AtomicFile::WriteInt(long long value) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%lld", value);
  Write(buf, static_cast<std::size_t>(n));
}

void AtomicFile::Commit(const std::string& writeMessage) {
  bool ok = !failed_;
  if (file_ != nullptr) {
    if (std::fflush(file_) != 0 || std::ferror(file_)) ok = false;
    if (ok && fsync(fileno(file_)) != 0 && errno != EINVAL) ok = false;
    if (std::fclose(file_) != 0) ok = false;
    file_ = nullptr;
  } else if (ok) {
    // Written by another writer through TempPath: sync what it wrote.
    int fd = open(tempPath_.c_str(), O_RDONLY);
    if (fd < 0) {
      ok = false;
    } else {
      if (fsync(fd) != 0 && errno != EINVAL) ok = false;
      close(fd);
    }
  }
  if (ok && std::rename(tempPath_.c_str(), path_.c_str()) != 0) ok = false;
  if (!ok) {
    unlink(tempPath_.c_str());
    committed_ = true;  // nothing left to remove
    throw Error(writeMessage, unit_);
  }
  committed_ = true;
  SyncDirectory(path_);
}

}  // namespace velmar
