// gdspy as an oracle for GDSII files: runs a Python script under an
// interpreter that can import gdspy and returns what it printed. Tests that
// need it skip with a message when no such interpreter is installed.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

namespace velmar::test {

// The first of "python3" and "/usr/bin/python3" that imports gdspy; "" when
// none does. Asked once per process.
inline const std::string& GdspyPython() {
  static const std::string found = [] {
    for (const char* python : {"python3", "/usr/bin/python3"}) {
      const std::string command =
          std::string(python) + " -c 'import gdspy' >/dev/null 2>&1";
      if (std::system(command.c_str()) == 0) return std::string(python);
    }
    return std::string();
  }();
  return found;
}

// Runs a shell command; its standard output and error. ok is false when it
// exits with another status than 0.
inline std::string CommandOutput(const std::string& command, bool& ok) {
  std::string text;
  ok = false;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return text;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) text.append(buf.data(), n);
  const int status = ::pclose(pipe);
  ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return text;
}

// Runs script (the text of a Python program) with the given arguments and
// returns its standard output; ok is false when it exits with another
// status than 0.
inline std::string RunGdspy(const std::string& scriptPath, const std::string& script,
                            const std::string& args, bool& ok) {
  {
    std::ofstream out(scriptPath);
    out << script;
  }
  return CommandOutput(GdspyPython() + " " + scriptPath + " " + args, ok);
}

// Runs tests/support/gdspy_layers.py (per-layer views of GDSII files as
// gdspy reads them) with the given arguments; its standard output.
inline std::string RunGdspyLayers(const std::string& args, bool& ok) {
  return CommandOutput(GdspyPython() + " " VELMAR_TEST_SUPPORT_DIR "/gdspy_layers.py " + args,
                       ok);
}

}  // namespace velmar::test

#define VELMAR_REQUIRE_GDSPY()                                               \
  do {                                                                       \
    if (::velmar::test::GdspyPython().empty())                               \
      GTEST_SKIP() << "python3 with gdspy is not installed (python3-gdspy)"; \
  } while (0)
