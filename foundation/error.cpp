// Error, the message path and the small process utilities.

#include "foundation/error.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>

namespace velmar {

Error::Error(const char* message, const char* unit, int32_t code)
    : message_(message != nullptr ? message : "Not Specified"),
      unit_(unit != nullptr ? unit : ""),
      hasUnit_(unit != nullptr),
      code_(code) {}

Error::Error(const std::string& message, const char* unit, int32_t code)
    : Error(message.c_str(), unit, code) {}

namespace {

// The one message buffer of the process, shared by PrintMessage and
// PrintToStream. Formatting is bounded: longer texts are cut.
char MessageBuffer[kMessageBufferSize];

std::ostream* LogStream = nullptr;

// Formats into MessageBuffer; returns the number of characters stored.
std::size_t FormatMessage(const char* format, va_list args) {
  int n = std::vsnprintf(MessageBuffer, sizeof MessageBuffer, format, args);
  if (n < 0) {
    MessageBuffer[0] = '\0';
    return 0;
  }
  if (static_cast<std::size_t>(n) >= sizeof MessageBuffer)
    return sizeof MessageBuffer - 1;
  return static_cast<std::size_t>(n);
}

void WriteStandardOutput(std::size_t length) {
  std::fwrite(MessageBuffer, 1, length, stdout);
  std::fflush(stdout);
}

void WriteStream(std::ostream& stream, std::size_t length) {
  stream.write(MessageBuffer, static_cast<std::streamsize>(length));
  stream.flush();
}

}  // namespace

void PrintMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::size_t length = FormatMessage(format, args);
  va_end(args);
  if (LogStream != nullptr) WriteStream(*LogStream, length);
  WriteStandardOutput(length);
}

void PrintToStream(std::ostream* stream, int echo, const char* format, ...) {
  if (stream == nullptr) return;
  va_list args;
  va_start(args, format);
  std::size_t length = FormatMessage(format, args);
  va_end(args);
  WriteStream(*stream, length);
  if (echo != 0) WriteStandardOutput(length);
}

void SetLogStream(std::ostream* stream) { LogStream = stream; }

std::ostream* GetLogStream() { return LogStream; }

void ReportProcessMemory() {
  // The kernel's own record of the process: "VmSize:   123456 kB".
  std::ifstream status("/proc/self/status");
  if (!status) return;
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 7, "VmSize:") != 0) continue;
    char* end = nullptr;
    errno = 0;
    long long kilobytes = std::strtoll(line.c_str() + 7, &end, 10);
    if (end == line.c_str() + 7 || errno != 0 || kilobytes < 0) return;
    PrintMessage("Total Memory = %d MBytes\n",
                 static_cast<int>(kilobytes / 1024));
    return;
  }
}

bool MakeDirectory(const std::string& path) {
  if (path.empty()) return false;
  // Create each component in turn; an existing one is fine.
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (part.empty() || part.back() == '/') continue;  // "//" or root
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void IncrementNameSuffix(std::string& name, std::size_t start) {
  if (start > name.size())
    throw Error("Name counter starts beyond the end of the name", "DB");
  for (std::size_t i = name.size(); i > start; --i) {
    char& c = name[i - 1];
    if (c != '9') {
      c = static_cast<char>(c + 1);
      return;
    }
    c = '0';
  }
  // Every counter digit was '9' (or there was no counter): one more digit.
  name.insert(start, 1, '1');
}

}  // namespace velmar
