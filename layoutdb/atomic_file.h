// Atomic replacement of a library directory file.
//
// The new content is written to a temporary file in the same directory;
// only when every byte has been written, flushed and synced is it renamed
// over the old file. A failure at any step removes the temporary file and
// leaves the old file as it was.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace velmar {

class AtomicFile {
 public:
  // Creates the temporary file beside path. When it cannot be created,
  // throws Error(openMessage, unit).
  AtomicFile(const std::string& path, const char* unit,
             const std::string& openMessage);
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  // Removes the temporary file unless Commit succeeded.
  ~AtomicFile();

  // Path of the temporary file, for writers that open it themselves (after
  // CloseDescriptor).
  const std::string& TempPath() const { return tempPath_; }
  // Closes this object's own handle on the temporary file so that another
  // writer can replace its content through TempPath.
  void CloseDescriptor();

  // Text output through this object's handle; failures are remembered and
  // reported by Commit (every write is checked).
  void Write(const char* data, std::size_t n);
  void Write(const std::string& s) { Write(s.data(), s.size()); }
  void Write(const char* s);
  void WriteInt(long long value);

  // Flushes, syncs and closes the temporary file, then renames it over the
  // target. Throws Error(writeMessage, unit) when any step fails; the old
  // file then stays untouched.
  void Commit(const std::string& writeMessage);

 private:
  std::string path_;
  std::string tempPath_;
  const char* unit_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  bool committed_ = false;
};

}  // namespace velmar
