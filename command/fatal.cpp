// Ending the process on a failure a command cannot recover from.

#include "command/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "foundation/error.h"

namespace velmar {

void ExitWithMessage(const char* format, ...) {
  // Formatted here as PrintMessage formats: into a buffer of its size, so
  // that a long text is cut at the same place.
  char text[kMessageBufferSize];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) text[0] = '\0';
  PrintMessage("%s", text);
  std::exit(1);
}

void ExitOnError(const Error& e) {
  ExitWithMessage("ERROR: %s: %s\n", e.Unit() != nullptr ? e.Unit() : "",
                  e.Message());
}

}  // namespace velmar
