// The text files of the library directory ("names", "parents", "texts")
// and the names of generated cells.
//
// "names":   library name, then one line per cell id: its name, or "empty"
//            for a removed cell. The cell count comes from "info".
// "parents": per cell with a valid box and at least one parent: its name,
//            one space and the number of parents, then per parent (ascending
//            id) two spaces and the parent's name. Never read back.
// "texts":   the number of texts, then one text per line.
// Every line ends with "\n"; a line is everything before its newline.

#include <algorithm>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "layoutdb/atomic_file.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"

namespace velmar {

namespace {

// A name is written as one line: it must not hold a line break.
void CheckLine(const std::string& text, const char* what) {
  if (text.find('\n') != std::string::npos)
    throw Error(std::string(what) + " holds a newline: " +
                    text.substr(0, text.find('\n')) + "...",
                "LIBOUT");
}

}  // namespace

void LibDB::ReadNames() {
  std::ifstream in(dirPath + "/names");
  if (!in.is_open()) throw Error("Cannot open file names", "LIBIN");
  std::string name;
  std::getline(in, name);
  // Every line is read before any name enters the library, so that a short
  // file leaves the library as it was.
  std::vector<std::string> lines(cells.size());
  for (size_t i = 0; i < cells.size(); ++i) {
    if (!in.good()) throw Error("Insufficient cell names", "LIBIN");
    std::getline(in, lines[i]);
  }
  if (in.bad()) throw Error("Insufficient cell names", "LIBIN");

  libName = std::move(name);
  for (size_t i = 0; i < cells.size(); ++i) {
    DBCell* cell = cells[i];
    if (cell == nullptr) continue;
    auto it = cellIds.emplace(std::move(lines[i]), static_cast<int32_t>(i)).first;
    cell->name = &it->first;
  }
  flags |= NamesRead;
}

void LibDB::WriteNames() {
  NoteIndexWrite();
  CheckLine(libName, "Library name");
  for (const DBCell* cell : cells)
    if (cell != nullptr && cell->name != nullptr) CheckLine(*cell->name, "Cell name");

  AtomicFile file(dirPath + "/names", "LIBOUT", "Cannot open file names");
  file.Write(libName);
  file.Write("\n", 1);
  for (const DBCell* cell : cells) {
    if (cell == nullptr) {
      file.Write("empty\n", 6);
      continue;
    }
    // A cell that a stream reader knows by number only has no name yet: it
    // is written as an empty line.
    if (cell->name != nullptr) file.Write(*cell->name);
    file.Write("\n", 1);
  }
  file.Commit("Cannot write file names");
  flags &= ~NamesDirty;
  flags |= NamesRead;
}

void LibDB::WriteParents() {
  NoteIndexWrite();
  // The name of a cell as it appears in the file.
  auto nameOf = [this](int32_t id) -> const std::string* {
    static const std::string kEmpty = "empty";
    static const std::string kNone;
    if (id < 0 || static_cast<size_t>(id) >= cells.size() || cells[id] == nullptr)
      return &kEmpty;
    return cells[id]->name != nullptr ? cells[id]->name : &kNone;
  };

  AtomicFile file(dirPath + "/parents", "LIBOUT", "Cannot open file parents");
  size_t count = std::min(cells.size(), hierRecords.size());
  for (size_t id = 0; id < count; ++id) {
    const DBCell* cell = cells[id];
    const HierCellRecord& record = hierRecords[id];
    if (cell == nullptr || !cell->box.IsValid() || record.parents.empty()) continue;
    file.Write(*nameOf(static_cast<int32_t>(id)));
    file.Write(" ", 1);
    file.WriteInt(static_cast<long long>(record.parents.size()));
    file.Write("\n", 1);
    for (const auto& entry : record.parents) {
      file.Write("  ", 2);
      file.Write(*nameOf(entry.first));
      file.Write("\n", 1);
    }
  }
  file.Commit("Cannot write file parents");
}

void LibDB::ReadTexts() {
  std::ifstream in(dirPath + "/texts");
  if (!in.is_open()) return;
  long long count = 0;
  if (!(in >> count) || count < 0 || count > std::numeric_limits<int32_t>::max())
    throw Error("Insufficient texts", "LIBIN");
  std::string rest;
  std::getline(in, rest);
  // Read everything first: the lists grow only as lines actually arrive,
  // and a short file changes nothing.
  std::vector<std::string> lines;
  for (long long i = 0; i < count; ++i) {
    if (!in.good()) throw Error("Insufficient texts", "LIBIN");
    lines.emplace_back();
    std::getline(in, lines.back());
  }
  if (in.bad()) throw Error("Insufficient texts", "LIBIN");

  texts.resize(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    auto it = textIds.emplace(std::move(lines[i]), static_cast<int32_t>(i)).first;
    texts[i] = &it->first;
  }
}

void LibDB::WriteTexts() {
  if (texts.empty()) return;
  for (const std::string* text : texts)
    if (text != nullptr) CheckLine(*text, "Text");
  AtomicFile file(dirPath + "/texts", "LIBOUT", "Cannot open file texts");
  file.WriteInt(static_cast<long long>(texts.size()));
  file.Write("\n", 1);
  for (const std::string* text : texts) {
    if (text != nullptr) file.Write(*text);
    file.Write("\n", 1);
  }
  file.Commit("Cannot write file texts");
}

std::string LibDB::NextFreeCellName(const std::string& name) const {
  std::string fresh = name;
  const size_t last = fresh.find_last_not_of("0123456789");
  const size_t start = last == std::string::npos ? 0 : last + 1;
  do {
    IncrementNameSuffix(fresh, start);
  } while (cellIds.count(fresh) != 0);
  return fresh;
}

int32_t LibDB::MakeCellName(const char* base, const std::string& marker,
                            int32_t number, std::string& name) const {
  if (number < 0) throw Error("Negative number for a generated cell name", "DB");
  name = base != nullptr ? base : "";
  if (name.empty() || name.back() != '_') name += '_';
  name += marker;
  size_t digits = name.size();
  name += std::to_string(number);
  int64_t used = number;
  while (cellIds.count(name) != 0) {
    IncrementNameSuffix(name, digits);
    ++used;
  }
  return used > std::numeric_limits<int32_t>::max()
             ? std::numeric_limits<int32_t>::max()
             : static_cast<int32_t>(used);
}

}  // namespace velmar
