// A point list as plain values, for comparing two lists vertex for vertex:
// the header counts, then per vertex on the link chain its position, flags
// and the link-chain indexes of its ring neighbours.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <string>
#include <tuple>
#include <vector>

#include "geometry/point_system.h"

namespace velmar::test {

struct Snapshot {
  int32_t pointCount = 0;
  int32_t ringCount = 0;
  std::vector<std::tuple<int32_t, int32_t, int, int, int>> vertices;
  bool operator==(const Snapshot&) const = default;
};

inline Snapshot Snap(const PSList& list) {
  Snapshot s;
  s.pointCount = list.pointCount;
  s.ringCount = list.ringCount;
  std::unordered_map<const PSPoint*, int> index;
  index.reserve(size_t(list.pointCount > 0 ? list.pointCount : 0));
  for (const PSPoint* p = list.head; p; p = p->link) index.emplace(p, int(index.size()));
  auto at = [&](const PSPoint* q) {
    if (!q) return -1;
    auto it = index.find(q);
    return it == index.end() ? -2 : it->second;
  };
  for (const PSPoint* p = list.head; p; p = p->link)
    s.vertices.emplace_back(p->x, p->y, p->flags, at(p->next), at(p->prev));
  return s;
}

// The header and the vertices from the first one that differs from
// `other` on (a few of them).
inline std::string Describe(const Snapshot& s, const Snapshot& other) {
  std::string t = "points ";
  t += std::to_string(s.pointCount);
  t += ", rings ";
  t += std::to_string(s.ringCount);
  t += ":";
  size_t first = 0;
  while (first < s.vertices.size() && first < other.vertices.size() &&
         s.vertices[first] == other.vertices[first])
    ++first;
  for (size_t i = first; i < s.vertices.size() && i < first + 6; ++i) {
    const auto& [x, y, f, n, p] = s.vertices[i];
    for (const std::string& part :
         {std::string(" ["), std::to_string(i), std::string("] ("), std::to_string(x),
          std::string(","), std::to_string(y), std::string(" f"), std::to_string(f),
          std::string(" n"), std::to_string(n), std::string(" p"), std::to_string(p),
          std::string(")")})
      t += part;
  }
  return t;
}

}  // namespace velmar::test
