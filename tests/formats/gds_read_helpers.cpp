#include "formats/gds_read_helpers.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <unordered_set>

#include "formats/gds_reader.h"
#include "foundation/error.h"
#include "foundation/search_tree.h"
#include "support/stdout_capture.h"
#include "geometry/point_system.h"
#include "layoutdb/db_cell.h"
#include "layoutdb/lib_db.h"
#include "layoutdb/shape_list.h"

namespace velmar::test {

bool operator<(const Placement& a, const Placement& b) {
  return std::tie(a.child, a.x, a.y, a.orientation, a.mag) <
         std::tie(b.child, b.x, b.y, b.orientation, b.mag);
}

bool operator==(const Placement& a, const Placement& b) {
  return std::tie(a.child, a.x, a.y, a.orientation, a.mag) ==
         std::tie(b.child, b.x, b.y, b.orientation, b.mag);
}

int64_t TwiceArea(const Ring& ring) {
  int64_t sum = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    const Point& a = ring[i];
    const Point& b = ring[(i + 1) % ring.size()];
    sum += int64_t(a.x) * b.y - int64_t(b.x) * a.y;
  }
  return sum;
}

Point Orient(int o, int64_t x, int64_t y) {
  switch (o) {
    case 1: return {int32_t(-y), int32_t(x)};
    case 2: return {int32_t(-x), int32_t(-y)};
    case 3: return {int32_t(y), int32_t(-x)};
    case 4: return {int32_t(-x), int32_t(y)};
    case 5: return {int32_t(-y), int32_t(-x)};
    case 6: return {int32_t(x), int32_t(-y)};
    case 7: return {int32_t(y), int32_t(x)};
    default: return {int32_t(x), int32_t(y)};
  }
}

Ring Canonical(Ring ring) {
  if (ring.empty()) return ring;
  if (TwiceArea(ring) < 0) std::reverse(ring.begin(), ring.end());
  auto low = std::min_element(ring.begin(), ring.end(), [](const Point& a, const Point& b) {
    return a.x != b.x ? a.x < b.x : a.y < b.y;
  });
  std::rotate(ring.begin(), low, ring.end());
  return ring;
}

Ring BoxRing(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return Canonical({{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}});
}

// --- ScratchLibrary -----------------------------------------------------------------

ScratchLibrary::ScratchLibrary(bool gz) : gz_(gz) {
  dir_ = temp_.File("lib");
  std::filesystem::create_directory(dir_);
  lib_ = std::make_unique<LibDB>(dir_.c_str(), gz ? 1 : 0);
}

GdsReadResult ScratchLibrary::Read(const std::vector<uint8_t>& gds,
                                   const GdsReadOptions& options) {
  const std::string path =
      temp_.File("in" + std::to_string(files_++) + (options.gzipInput ? ".gds.gz" : ".gds"));
  WriteBytes(path, gds, options.gzipInput);
  return ReadFile(path, options);
}

GdsReadResult ScratchLibrary::ReadFile(const std::string& path,
                                       const GdsReadOptions& options) {
  GdsReadResult result;
  StdoutCapture capture;
  try {
    GdsReader reader(path, options.gzipInput, options.flushThreshold);
    reader.flushTileSize = options.flushTileSize;
    LibDB& lib = *lib_;
    std::optional<LibraryLoad> load;
    if (options.asLoad) load.emplace(lib);
    // A new cell data file with the next number, as the command layer
    // prepares it.
    lib.writeDb = uint16_t(lib.writeDb + 1);
    char name[32];
    std::snprintf(name, sizeof name, lib.gz ? "db%d.gz" : "db%d", int(lib.writeDb));
    lib.openDb = lib.writeDb;
    lib.dbStream.path = lib.dirPath + "/" + name;
    lib.dbStream.write = true;
    lib.dbStream.gzip = lib.gz != 0;
    lib.dbStream.openMode = 0;
    if (!lib.dbStream.Open()) throw std::runtime_error("cannot open data file");
    if (options.dataFileStart > 0) lib.dbStream.Seek(options.dataFileStart);
    if (!options.filter.empty()) reader.layerFilter = &options.filter;
    if (!options.map.empty()) reader.layerMap = &options.map;
    reader.ignoreText = options.ignoreText;
    reader.cellPrefix = options.prefix;
    try {
      reader.Read(&lib);
      if (load) load->Commit();
      result.ok = true;
    } catch (const Error& e) {
      result.error = e.Message();
      result.unit = e.Unit() ? e.Unit() : "";
    }
    result.boundaries = reader.boundaries;
    result.paths = reader.paths;
    result.arbitrary = reader.arbitraryPolygons;
    result.polygons45 = reader.polygons45;
    result.singleRefs = reader.singleRefs;
    result.arrayRefs = reader.arrayRefs;
    result.duplicates = reader.duplicateRefs;
    result.magnified = reader.magnifiedRefs;
    result.texts = reader.texts;
    result.nodes = reader.nodes;
    result.boxes = reader.boxes;
    result.properties = reader.properties;
    result.badLayers = reader.badLayerElements;
  } catch (const Error& e) {
    result.error = e.Message();
    result.unit = e.Unit() ? e.Unit() : "";
  }
  result.output = StopWithoutMemoryLine(capture);
  return result;
}

// --- StoredLibrary ------------------------------------------------------------------

StoredLibrary::StoredLibrary(const std::string& dir, bool gz)
    : lib_(std::make_unique<LibDB>(dir.c_str(), gz ? 1 : 0)) {
  lib_->ReadInfo();
  lib_->ReadNames();
}

bool StoredLibrary::Has(const std::string& cell) const {
  return lib_->FindCell(cell) != nullptr;
}

std::vector<std::string> StoredLibrary::CellNames() const {
  std::vector<std::string> names;
  for (const DBCell* cell : lib_->cells) {
    if (cell != nullptr && cell->name != nullptr) names.push_back(*cell->name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

DBCell* StoredLibrary::Load(const std::string& name) {
  DBCell* cell = lib_->FindCell(name);
  if (cell == nullptr) throw std::runtime_error("no cell " + name);
  if (cell->IsEmpty() && cell->dbFile != 0) lib_->LoadCell(cell, false);
  return cell;
}

std::map<int32_t, std::vector<Ring>> StoredLibrary::Shapes(const std::string& name) {
  DBCell* cell = Load(name);
  std::map<int32_t, std::vector<Ring>> out;
  for (const auto& [key, layer] : cell->rawLayers) {
    PSList list;
    CPgonList::ToRings(layer, list);
    std::unordered_set<const PSPoint*> seen;
    std::vector<Ring>& rings = out[key];
    for (const PSPoint* p = list.head; p != nullptr; p = p->link) {
      if (seen.count(p)) continue;
      Ring ring;
      const PSPoint* q = p;
      do {
        seen.insert(q);
        ring.push_back({q->x, q->y});
        q = q->next;
      } while (q != nullptr && q != p);
      rings.push_back(Canonical(ring));
    }
    ClearPointList(list);
    std::sort(rings.begin(), rings.end(), [](const Ring& a, const Ring& b) {
      return std::lexicographical_compare(
          a.begin(), a.end(), b.begin(), b.end(),
          [](const Point& u, const Point& v) { return u.x != v.x ? u.x < v.x : u.y < v.y; });
    });
  }
  return out;
}

std::vector<StoredRef> StoredLibrary::References(const std::string& name) {
  DBCell* cell = Load(name);
  std::vector<StoredRef> out;
  auto it = cell->indexedLayers.find(ReferenceKey);
  if (it == cell->indexedLayers.end()) return out;
  for (DBSearchNode* n = DBSearchSystem::First(it->second); n != nullptr;
       n = DBSearchSystem::Next(n)) {
    if (!n->IsData() || n->item == nullptr) continue;
    const SRef* ref = static_cast<const SRef*>(n->item);
    StoredRef s;
    const DBCell* child = lib_->cells[ref->CellId()];
    s.child = child && child->name ? *child->name : "?";
    s.trans = *ref;
    if (ref->IsArray()) {
      const ARef* a = static_cast<const ARef*>(ref);
      s.array = true;
      s.columns = a->columns;
      s.rows = a->rows;
      s.columnPitch = a->columnPitch;
      s.rowPitch = a->rowPitch;
    }
    out.push_back(s);
  }
  return out;
}

std::vector<Placement> StoredLibrary::Placements(const std::string& name) {
  std::vector<Placement> out;
  for (const StoredRef& s : References(name)) {
    for (int c = 0; c < s.columns; ++c) {
      for (int r = 0; r < s.rows; ++r) {
        Trans t = s.trans;
        if (s.array) {
          ARef a(s.trans, 0, int16_t(s.columns), int16_t(s.rows), s.columnPitch,
                 s.rowPitch);
          t = a.ElementTrans(c, r);
        }
        out.push_back({s.child, t.x, t.y, t.mag, int(t.orientation)});
      }
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace velmar::test
