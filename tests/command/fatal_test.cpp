// Ending the process on a failure: the message goes out exactly as
// PrintMessage would print it (including where a long text is cut), to
// standard output and the log, and the status is 1.

#include "command/fatal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "foundation/error.h"
#include "support/stdout_capture.h"
#include "support/temp_dir.h"

namespace velmar {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(FatalDeathTest, PrintsAsPrintMessageAndExitsWithStatusOne) {
  // Forked, not run again: the child writes into the parent's temporary
  // folder.
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::string longText(3 * kMessageBufferSize, 'x');
  struct Case {
    const char* what;
    std::function<void()> fail;   // ends the process
    std::function<void()> print;  // prints what fail should print
  };
  const Case cases[] = {
      {"plain text",
       [] { ExitWithMessage("ERROR: Library not assigned\n"); },
       [] { PrintMessage("ERROR: Library not assigned\n"); }},
      {"formatted",
       [] { ExitWithMessage("ERROR: Layer {%d %d} is bad\n", 3, -1); },
       [] { PrintMessage("ERROR: Layer {%d %d} is bad\n", 3, -1); }},
      {"a text longer than the message buffer is cut where PrintMessage cuts",
       [&] { ExitWithMessage("ERROR: %s\n", longText.c_str()); },
       [&] { PrintMessage("ERROR: %s\n", longText.c_str()); }},
      {"an Error with its unit",
       [] { ExitOnError(Error("Unknown boolean operation", "DRC")); },
       [] { PrintMessage("ERROR: DRC: Unknown boolean operation\n"); }},
      {"an Error without a unit",
       [] { ExitOnError(Error("no unit")); },
       [] { PrintMessage("ERROR: : no unit\n"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const std::string out = dir.File("stdout");
    const std::string log = dir.File("log");
    EXPECT_EXIT(
        {
          const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          ::dup2(fd, 1);
          std::ofstream logStream(log);
          SetLogStream(&logStream);
          c.fail();
        },
        ::testing::ExitedWithCode(1), "");
    test::StdoutCapture capture;
    c.print();
    const std::string expected = capture.Stop();
    EXPECT_EQ(ReadFile(out), expected);
    EXPECT_EQ(ReadFile(log), expected);
  }
}

}  // namespace
}  // namespace velmar
