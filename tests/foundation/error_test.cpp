// Error, the message path and the process utilities.

#include "foundation/error.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>

#include "foundation/pool_allocator.h"
#include "support/stdout_capture.h"

namespace velmar {
namespace {

using test::StdoutCapture;

TEST(ErrorTest, KeepsMessageUnitAndCodeThroughCopies) {
  Error plain;
  EXPECT_STREQ(plain.Message(), "Not Specified");
  EXPECT_EQ(plain.Unit(), nullptr);
  EXPECT_EQ(plain.Code(), 0);

  Error noUnit("bad record", nullptr);
  Error copy(noUnit);
  EXPECT_STREQ(copy.Message(), "bad record");
  EXPECT_EQ(copy.Unit(), nullptr);

  try {
    std::string text = "Wrong Chained Integer format";
    throw Error(text, "BinaryIn", 7);
  } catch (const Error& e) {
    EXPECT_STREQ(e.Message(), "Wrong Chained Integer format");
    EXPECT_STREQ(e.Unit(), "BinaryIn");
    EXPECT_EQ(e.Code(), 7);
  }

  // The copy owns its own texts.
  Error original(std::string("first").c_str(), "DRC");
  Error assigned;
  assigned = original;
  original = Error("second", "DB");
  EXPECT_STREQ(assigned.Message(), "first");
  EXPECT_STREQ(assigned.Unit(), "DRC");
}

// Records, at each flush of the log, how many bytes standard output had
// received by then.
class FlushProbe : public std::stringbuf {
 public:
  explicit FlushProbe(const StdoutCapture& out) : out_(out) {}
  std::vector<std::pair<std::string, long long>> flushes;

 protected:
  int sync() override {
    flushes.emplace_back(str(), out_.BytesWritten());
    return 0;
  }

 private:
  const StdoutCapture& out_;
};

TEST(PrintMessageTest, WritesLogFlushedBeforeStandardOutputWithoutNewline) {
  StdoutCapture out;
  PrintMessage("alone ");  // no log registered yet
  std::fflush(stdout);
  const long long before = out.BytesWritten();

  FlushProbe probe(out);
  std::ostream log(&probe);
  SetLogStream(&log);
  EXPECT_EQ(GetLogStream(), &log);
  PrintMessage("%d kbytes allocated for %s", 12, "SList");
  PrintMessage(" and more\n");
  SetLogStream(nullptr);
  PrintMessage("after");
  const std::string text = out.Stop();

  EXPECT_EQ(text, "alone 12 kbytes allocated for SList and more\nafter");
  EXPECT_EQ(probe.str(), "12 kbytes allocated for SList and more\n");
  // Each log flush happened before the same text reached standard output.
  ASSERT_EQ(probe.flushes.size(), 2u);
  EXPECT_EQ(probe.flushes[0].first, "12 kbytes allocated for SList");
  EXPECT_EQ(probe.flushes[0].second, before);
  EXPECT_EQ(probe.flushes[1].second,
            before + static_cast<long long>(probe.flushes[0].first.size()));
}

TEST(PrintMessageTest, TruncatesLongMessagesToTheBuffer) {
  const std::string longText(3000, 'x');
  std::ostringstream log;
  StdoutCapture out;
  SetLogStream(&log);
  PrintMessage("<%s>", longText.c_str());
  SetLogStream(nullptr);
  PrintMessage("|next");
  const std::string text = out.Stop();

  const std::string expected = "<" + longText.substr(0, kMessageBufferSize - 2);
  EXPECT_EQ(log.str(), expected);
  EXPECT_EQ(text, expected + "|next");
}

TEST(PrintToStreamTest, WritesOnlyToItsStreamAndEchoes) {
  std::ostringstream log;
  std::ostringstream file;
  StdoutCapture out;
  SetLogStream(&log);
  PrintToStream(nullptr, 1, "nothing %d", 1);
  PrintToStream(&file, 0, "quiet %d\n", 2);
  PrintToStream(&file, 1, "echoed %s", "text");
  SetLogStream(nullptr);
  const std::string text = out.Stop();

  EXPECT_EQ(file.str(), "quiet 2\nechoed text");
  EXPECT_EQ(text, "echoed text");
  EXPECT_EQ(log.str(), "");
}

TEST(IncrementNameSuffixTest, CountsUpTheDecimalSuffix) {
  struct Case {
    const char* name;
    std::size_t start;
    const char* expected;
  };
  const Case cases[] = {
      {"a09", 1, "a10"},       {"a9", 1, "a10"},
      {"ab", 1, "ac"},         {"cell99", 4, "cell100"},
      {"cell", 4, "cell1"},    {"top_vlh0", 7, "top_vlh1"},
      {"x999", 1, "x1000"},    {"x1999", 1, "x2000"},
      {"9", 0, "10"},          {"", 0, "1"},
      {"abc_vlh12", 7, "abc_vlh13"},
  };
  for (const Case& c : cases) {
    std::string name = c.name;
    IncrementNameSuffix(name, c.start);
    EXPECT_EQ(name, c.expected) << c.name << " from " << c.start;
  }

  // Repeated increments grow the name without limit.
  std::string name = "c";
  for (int i = 0; i < 1000; ++i) IncrementNameSuffix(name, 1);
  EXPECT_EQ(name, "c1000");

  std::string shortName = "ab";
  EXPECT_THROW(IncrementNameSuffix(shortName, 3), Error);
  EXPECT_EQ(shortName, "ab");
}

class MakeDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velmar_mkdir_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    base_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(base_); }
  std::string base_;
};

TEST_F(MakeDirectoryTest, CreatesNestedMissingComponents) {
  const std::string path = base_ + "/lib one/db//cells/";
  EXPECT_TRUE(MakeDirectory(path));
  EXPECT_TRUE(std::filesystem::is_directory(base_ + "/lib one/db/cells"));
  EXPECT_TRUE(MakeDirectory(path));  // already there

  // A long path, well beyond any fixed command buffer.
  std::string deep = base_;
  for (int i = 0; i < 40; ++i) deep += "/level" + std::to_string(i);
  EXPECT_TRUE(MakeDirectory(deep));
  EXPECT_TRUE(std::filesystem::is_directory(deep));
}

TEST_F(MakeDirectoryTest, FailsWhereAFileIsInTheWay) {
  std::ofstream(base_ + "/plain") << "x";
  EXPECT_FALSE(MakeDirectory(base_ + "/plain"));
  EXPECT_FALSE(MakeDirectory(base_ + "/plain/sub"));
  EXPECT_FALSE(MakeDirectory(""));
  // The path is taken as a name, never as shell text.
  EXPECT_TRUE(MakeDirectory(base_ + "/a;touch " + base_ + "/pwned"));
  EXPECT_FALSE(std::filesystem::exists(base_ + "/pwned"));
}

TEST(ReportProcessMemoryTest, PrintsTheVirtualSizeInMegabytes) {
  // Independent reading of the size through the process's statm record
  // (pages), to compare against the printed megabytes.
  long long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const long long kilobytes = pages * (::sysconf(_SC_PAGESIZE) / 1024);

  StdoutCapture out;
  ReportProcessMemory();
  const std::string text = out.Stop();

  long long printed = -1;
  ASSERT_EQ(std::sscanf(text.c_str(), "Total Memory = %lld", &printed), 1)
      << text;
  EXPECT_EQ(text, "Total Memory = " + std::to_string(printed) + " MBytes\n");
  EXPECT_GT(printed, 0);
  EXPECT_NEAR(printed, kilobytes / 1024, 64);
}

TEST(OutOfMemoryTest, PrintsAndEndsWithStatusOne) {
  EXPECT_EXIT(OutOfMemory(), ::testing::ExitedWithCode(1),
              "^Error: Out of memory\n$");
}

}  // namespace
}  // namespace velmar
