// The one exception type of the system, the message path every module
// prints through, and a few small process utilities.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace velmar {

// Data errors are thrown by value with a unit tag naming the module that
// raised them ("GDSIN", "GDSOUT", "OASISIN", "OASISOUT", "LIBIN", "LIBOUT",
// "DB", "DRC", "BinaryIn", "Hierarhy Handler"); only the command layer
// catches them and prints "ERROR: %s: %s\n" (unit tag, then message).
class Error {
 public:
  // message null: "Not Specified"; unit null: no unit tag (Unit() is null).
  Error(const char* message = nullptr, const char* unit = nullptr,
        int32_t code = 0);
  Error(const std::string& message, const char* unit = nullptr,
        int32_t code = 0);

  Error(const Error&) = default;
  Error& operator=(const Error&) = default;
  Error(Error&&) noexcept = default;
  Error& operator=(Error&&) noexcept = default;
  ~Error() = default;

  // Never null.
  const char* Message() const { return message_.c_str(); }
  // Null when the error was raised without a unit tag.
  const char* Unit() const { return hasUnit_ ? unit_.c_str() : nullptr; }
  int32_t Code() const { return code_; }

 private:
  std::string message_;
  std::string unit_;
  bool hasUnit_ = false;
  int32_t code_ = 0;
};

// Size of the one message buffer shared by PrintMessage and PrintToStream;
// longer messages are cut to its size - 1 characters.
constexpr std::size_t kMessageBufferSize = 1024;

// printf-style message: written to the registered log stream (and flushed)
// when there is one, then to standard output (and flushed). No newline is
// added: a format without "\n" is continued by the next message.
void PrintMessage(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// Formats like PrintMessage and writes the text to stream (flushed); with
// echo set also to standard output (flushed). A null stream writes nothing.
// The log stream is not involved.
void PrintToStream(std::ostream* stream, int echo, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Registers the stream that PrintMessage also writes to (the last
// registration wins; null unregisters). The caller keeps ownership and must
// keep the stream alive while it is registered.
void SetLogStream(std::ostream* stream);
std::ostream* GetLogStream();

// Prints "Total Memory = %d MBytes\n" with the virtual size of the process
// (kilobytes / 1024); prints nothing when the size cannot be read.
void ReportProcessMemory();

// Creates the directory and every missing parent ("mkdir -p"). True when
// the directory exists afterwards.
bool MakeDirectory(const std::string& path);

// Adds one to the decimal counter that occupies name from position start to
// its end: "cell99" (start 4) -> "cell100", "cell" (start 4) -> "cell1",
// "ab" (start 1) -> "ac". A start beyond the end of the name throws Error.
void IncrementNameSuffix(std::string& name, std::size_t start);

}  // namespace velmar
