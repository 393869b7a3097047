// Fixtures of the API operation tests: a library built in memory from a
// hierarchy model, and captured output made comparable (date lines masked,
// pool reports dropped).
#pragma once

#include <time.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "layoutdb/lib_db.h"
#include "support/hier_fixtures.h"

namespace velmar::api_test {

// A library built in memory from a model (cell i named "c<i>", cell 0 the
// root), its info and names taken as read, every layer of the model in its
// layer table.
inline std::unique_ptr<LibDB> MakeLibrary(const hier_test::Model& m,
                                          double unitPerNm = 1.0) {
  auto lib = std::make_unique<LibDB>("/nonexistent/velmar-ops-test", 0);
  hier_test::Build(*lib, m);
  lib->roots = {0};
  for (const hier_test::ModelCell& c : m)
    for (const auto& [key, rings] : c.shapes)
      lib->layers.emplace(uint32_t(key), LayerInfo());
  lib->flags |= LibDB::InfoRead | LibDB::NamesRead;
  lib->unitPerNm = unitPerNm;
  return lib;
}

// The lines of text, each with its newline.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    out.push_back(text.substr(start, end - start));
    start = end;
  }
  return out;
}

// Text with every ctime date line replaced by "<DATE>".
inline std::string MaskDates(const std::string& text) {
  std::string out;
  for (const std::string& line : Lines(text)) {
    std::tm tm{};
    const char* end = ::strptime(line.c_str(), "%a %b %e %H:%M:%S %Y", &tm);
    out += (end != nullptr && std::string(end) == "\n") ? "<DATE>\n" : line;
  }
  return out;
}

// Text without the pool report lines, whose values depend on what the
// process holds.
inline std::string DropPoolReports(const std::string& text) {
  std::string out;
  for (const std::string& line : Lines(text))
    if (line.find(" kbytes allocated for ") == std::string::npos) out += line;
  return out;
}

// Runs body with standard output sent to standard error, where the death
// test looks for the message.
inline void WithStdoutOnStderr(const std::function<void()>& body) {
  ::dup2(2, 1);
  body();
}

// A regular expression that matches the text literally.
inline std::string Literal(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (std::string("\\^$.|?*+()[]{}").find(ch) != std::string::npos)
      out.push_back('\\');
    out.push_back(ch);
  }
  return out;
}

}  // namespace velmar::api_test
