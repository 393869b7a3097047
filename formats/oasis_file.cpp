#include "formats/oasis_file.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/error.h"

namespace velmar {

namespace {

constexpr const char* kInUnit = "OASISIN";
constexpr const char* kOutUnit = "OASISOUT";

constexpr const char* kEndOfFile = "Unexpected end of file";
constexpr const char* kFieldTooLarge = "Integer too large for its field";
constexpr const char* kPointListRange = "Point list leaves the coordinate range";
constexpr const char* kRepetitionRange = "Repetition leaves the coordinate range";
constexpr const char* kRepetitionCount = "Repetition count too large";

[[noreturn]] void ThrowIn(const char* message) { throw Error(message, kInUnit); }
[[noreturn]] void ThrowOut(const char* message) { throw Error(message, kOutUnit); }

// Unit vectors of the eight directions: east, north, west, south, then
// north-east, north-west, south-west, south-east.
constexpr int kDirX[8] = {1, 0, -1, 0, 1, -1, -1, 1};
constexpr int kDirY[8] = {0, 1, 0, -1, 1, 1, -1, -1};

// magnitude is at most 2^62 (an unsigned shifted right by 2 or more).
OasisDelta Along(int direction, uint64_t magnitude) {
  const int64_t m = int64_t(magnitude);
  return {kDirX[direction] * m, kDirY[direction] * m};
}

uint64_t Magnitude(int64_t v) { return v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v); }

int64_t CheckedSum(int64_t a, int64_t b, const char* message) {
  int64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) ThrowIn(message);
  return sum;
}

bool WithinOffset(__int128 v) { return v >= -kOasisMaxOffset && v <= kOasisMaxOffset; }

// Instance count of one repetition dimension: the stored field + 2, which
// must fit int32.
int32_t Dimension(uint64_t stored) {
  if (stored > uint64_t(std::numeric_limits<int32_t>::max()) - 2) {
    ThrowIn(kRepetitionCount);
  }
  return int32_t(stored + 2);
}

// The direction and magnitude of d when it lies along an axis or a
// diagonal; false otherwise. A zero displacement gets zeroDirection.
bool Octant(OasisDelta d, int zeroDirection, int& direction, uint64_t& magnitude) {
  if (d.x == 0 && d.y == 0) {
    direction = zeroDirection;
    magnitude = 0;
    return true;
  }
  if (d.x == 0) {
    direction = d.y > 0 ? 1 : 3;
    magnitude = Magnitude(d.y);
  } else if (d.y == 0) {
    direction = d.x > 0 ? 0 : 2;
    magnitude = Magnitude(d.x);
  } else if (d.x == d.y) {
    direction = d.x > 0 ? 4 : 6;
    magnitude = Magnitude(d.x);
  } else if (d.x == -d.y) {
    direction = d.x > 0 ? 7 : 5;
    magnitude = Magnitude(d.x);
  } else {
    return false;
  }
  return true;
}

// value << shift, refused when bits would be lost.
uint64_t Shifted(uint64_t value, int shift) {
  if (value > (std::numeric_limits<uint64_t>::max() >> shift)) {
    ThrowOut("Displacement too large");
  }
  return value << shift;
}

}  // namespace

const char* OasisModalName(OasisModal variable) {
  switch (variable) {
    case kModalRepetition: return "repetition";
    case kModalPlacementCell: return "placement-cell";
    case kModalLayer: return "layer";
    case kModalDatatype: return "datatype";
    case kModalTextlayer: return "textlayer";
    case kModalTexttype: return "texttype";
    case kModalTextString: return "text-string";
    case kModalGeometryW: return "geometry-w";
    case kModalGeometryH: return "geometry-h";
    case kModalPolygonPointList: return "polygon-point-list";
    case kModalPathHalfwidth: return "path-halfwidth";
    case kModalPathPointList: return "path-point-list";
    case kModalPathStartExtension: return "path-start-extension";
    case kModalPathEndExtension: return "path-end-extension";
    case kModalCtrapezoidType: return "ctrapezoid-type";
    case kModalCircleRadius: return "circle-radius";
    case kModalLastPropertyName: return "last-property-name";
    case kModalLastValueList: return "last-value-list";
  }
  return "unknown";
}

OasisFile::OasisFile() {
  stream.unit = kOutUnit;
  ResetModal();
}

OasisFile::~OasisFile() { ClearPointList(workList); }

void OasisFile::OpenInput(const std::string& path) {
  stream.path = path;
  stream.write = false;
  stream.gzip = false;
  stream.openMode = 0;
  if (!stream.Open()) throw Error("Cannot open file " + path + "!", kInUnit);
}

void OasisFile::OpenOutput(const std::string& path) {
  stream.path = path;
  stream.write = true;
  stream.gzip = false;
  stream.openMode = 0;
  stream.unit = kOutUnit;
  if (!stream.Open()) throw Error("Cannot open file " + path + "!", kOutUnit);
}

// --- Modal state ----------------------------------------------------------------

void OasisFile::ResetModal() {
  modalSet = 0;
  repetitionType = 0;
  placementX = placementY = 0;
  geometryX = geometryY = 0;
  textX = textY = 0;
  xyAbsolute = 1;
  geometryW = geometryH = 0;
  placementCell.clear();
  placementCellReference = -1;
  layer = datatype = 0;
  textlayer = texttype = 0;
  textString.clear();
  textStringReference = -1;
  pathHalfwidth = 0;
  startExtension = endExtension = 0;
  ctrapezoidType = -1;
  circleRadius = 0;
}

void OasisFile::RequireModal(OasisModal variable, const char* record) const {
  if (IsModalSet(variable)) return;
  throw Error(std::string(record) + " record uses modal variable " +
                  OasisModalName(variable) + " not set in this cell",
              kInUnit);
}

int32_t OasisFile::Place(int32_t base, int64_t offset) {
  const __int128 sum = __int128(base) + offset;
  if (sum < std::numeric_limits<int32_t>::min() ||
      sum > std::numeric_limits<int32_t>::max()) {
    ThrowIn("Coordinate out of range");
  }
  return int32_t(sum);
}

// --- Reading: integers, reals, strings ----------------------------------------

uint8_t OasisFile::ReadByte() {
  uint8_t b;
  if (!stream.GetChar(b)) ThrowIn(kEndOfFile);
  return b;
}

uint64_t OasisFile::ReadUnsigned64() {
  uint64_t value = 0;
  int shift = 0;  // stays at 70 once past the 64 bits: only zero groups fit
  for (;;) {
    const uint8_t b = ReadByte();
    const uint64_t group = b & 0x7f;
    if (group != 0) {
      if (shift >= 64 || (shift > 57 && (group >> (64 - shift)) != 0)) {
        ThrowIn("Integer too large");
      }
      value |= group << shift;
    }
    if ((b & 0x80) == 0) return value;
    if (shift < 64) shift += 7;
  }
}

int64_t OasisFile::ReadSigned64() {
  const uint64_t raw = ReadUnsigned64();
  const int64_t magnitude = int64_t(raw >> 1);
  return (raw & 1) ? -magnitude : magnitude;
}

uint32_t OasisFile::ReadUnsigned() {
  const uint64_t v = ReadUnsigned64();
  if (v > std::numeric_limits<uint32_t>::max()) ThrowIn(kFieldTooLarge);
  return uint32_t(v);
}

int32_t OasisFile::ReadSigned() {
  const int64_t v = ReadSigned64();
  if (v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    ThrowIn(kFieldTooLarge);
  }
  return int32_t(v);
}

int32_t OasisFile::ReadNonNegative() {
  const uint64_t v = ReadUnsigned64();
  if (v > uint64_t(std::numeric_limits<int32_t>::max())) ThrowIn(kFieldTooLarge);
  return int32_t(v);
}

void OasisFile::SkipInteger() {
  while (ReadByte() & 0x80) {
  }
}

void OasisFile::SkipBytes(uint64_t n) {
  uint8_t chunk[4096];
  while (n > 0) {
    const size_t want = size_t(std::min<uint64_t>(n, sizeof chunk));
    if (stream.GetBlock(chunk, want) != want) ThrowIn(kEndOfFile);
    n -= want;
  }
}

double OasisFile::ReadReal() {
  switch (ReadUnsigned64()) {
    case 0: return double(ReadUnsigned64());
    case 1: return -double(ReadUnsigned64());
    case 2: return 1.0 / double(ReadUnsigned64());
    case 3: return -1.0 / double(ReadUnsigned64());
    case 4: {
      const double u = double(ReadUnsigned64());
      return u / double(ReadUnsigned64());
    }
    case 5: {
      const double u = double(ReadUnsigned64());
      return -u / double(ReadUnsigned64());
    }
    case 6: {
      float f;
      if (!stream.GetFloat(f)) ThrowIn(kEndOfFile);
      return f;
    }
    case 7: {
      double d;
      if (!stream.Get8Bytes(d)) ThrowIn(kEndOfFile);
      return d;
    }
    default: ThrowIn("Unkown Real Format");
  }
}

const std::string& OasisFile::ReadString() {
  uint64_t n = ReadUnsigned64();
  text.clear();
  // Grown block by block as the bytes arrive: a length beyond the end of
  // the file fails at the end of the file, not at an allocation.
  constexpr uint64_t kBlock = 1 << 16;
  while (n > 0) {
    const size_t want = size_t(std::min(n, kBlock));
    const size_t old = text.size();
    text.resize(old + want);
    const size_t got = stream.GetBlock(text.data() + old, want);
    if (got != want) {
      text.resize(old + got);
      ThrowIn(kEndOfFile);
    }
    n -= want;
  }
  return text;
}

void OasisFile::SkipString() { SkipBytes(ReadUnsigned64()); }

void OasisFile::ReadPropertyValue() {
  const uint64_t type = ReadUnsigned64();
  if (type <= 3 || type == 8 || type == 9 || (type >= 13 && type <= 15)) {
    SkipInteger();
  } else if (type <= 5) {
    SkipInteger();
    SkipInteger();
  } else if (type == 6) {
    SkipBytes(4);
  } else if (type == 7) {
    SkipBytes(8);
  } else if (type <= 12) {
    SkipString();
  } else {
    throw Error(nullptr, kInUnit);
  }
}

// --- Reading: displacements ---------------------------------------------------------

OasisDelta OasisFile::ReadDelta1(bool vertical) {
  const int64_t v = ReadSigned64();
  return vertical ? OasisDelta{0, v} : OasisDelta{v, 0};
}

OasisDelta OasisFile::ReadDelta2() {
  const uint64_t u = ReadUnsigned64();
  return Along(int(u & 3), u >> 2);
}

OasisDelta OasisFile::ReadDelta3() {
  const uint64_t u = ReadUnsigned64();
  return Along(int(u & 7), u >> 3);
}

OasisDelta OasisFile::ReadDeltaG() {
  const uint64_t u = ReadUnsigned64();
  if ((u & 1) == 0) return Along(int((u >> 1) & 7), u >> 4);
  const int64_t dx = int64_t(u >> 2);
  const uint64_t w = ReadUnsigned64();
  const int64_t dy = int64_t(w >> 1);
  return {(u & 2) ? -dx : dx, (w & 1) ? -dy : dy};
}

// --- Reading: point lists and repetitions ----------------------------------------

void OasisFile::ReadPointList(OasisPoints& points, bool open) {
  points.clear();
  const uint64_t type = ReadUnsigned64();
  if (type > 5) ThrowIn("Unknown point list type");
  const uint64_t count = ReadUnsigned64();
  if (count >= (uint64_t(1) << 31)) ThrowIn("Point list count too large");
  // Reserve for what a short list needs only; longer lists grow as their
  // deltas are read.
  points.reserve(size_t(std::min<uint64_t>(count + 2, 1024)));
  OasisDelta vertex;  // (0, 0)
  OasisDelta running;
  points.push_back(vertex);
  for (uint64_t i = 0; i < count; ++i) {
    OasisDelta d;
    switch (type) {
      case 0: d = ReadDelta1((i & 1) != 0); break;
      case 1: d = ReadDelta1((i & 1) == 0); break;
      case 2: d = ReadDelta2(); break;
      case 3: d = ReadDelta3(); break;
      case 4: d = ReadDeltaG(); break;
      default: {
        const OasisDelta g = ReadDeltaG();
        running.x = CheckedSum(running.x, g.x, kPointListRange);
        running.y = CheckedSum(running.y, g.y, kPointListRange);
        d = running;
      }
    }
    vertex.x = CheckedSum(vertex.x, d.x, kPointListRange);
    vertex.y = CheckedSum(vertex.y, d.y, kPointListRange);
    if (!WithinOffset(vertex.x) || !WithinOffset(vertex.y)) ThrowIn(kPointListRange);
    points.push_back(vertex);
  }
  if (!open && type == 0) points.push_back({0, vertex.y});
  if (!open && type == 1) points.push_back({vertex.x, 0});
}

void OasisFile::ReadRepetition(const char* record) {
  const uint64_t type = ReadUnsigned64();
  if (type == 0) {
    RequireModal(kModalRepetition, record);
    return;
  }
  if (type > uint64_t(kRepetitionLast)) ThrowIn("Unknown Repetition ");

  // Spacing of a regular repetition: the last instance must stay within
  // reach of the first.
  auto space = [](int32_t dimension, uint64_t s) {
    if ((unsigned __int128)(dimension - 1) * s > uint64_t(kOasisMaxOffset)) {
      ThrowIn(kRepetitionRange);
    }
    return int64_t(s);
  };
  switch (type) {
    case 1: {
      const int32_t nx = Dimension(ReadUnsigned64());
      const int32_t ny = Dimension(ReadUnsigned64());
      const int64_t sx = space(nx, ReadUnsigned64());
      const int64_t sy = space(ny, ReadUnsigned64());
      xDimension = nx;
      yDimension = ny;
      xSpace = sx;
      ySpace = sy;
      break;
    }
    case 2: {
      const int32_t nx = Dimension(ReadUnsigned64());
      xSpace = space(nx, ReadUnsigned64());
      xDimension = nx;
      break;
    }
    case 3: {
      const int32_t ny = Dimension(ReadUnsigned64());
      ySpace = space(ny, ReadUnsigned64());
      yDimension = ny;
      break;
    }
    case 4:
    case 5:
    case 6:
    case 7: {
      const int32_t n = Dimension(ReadUnsigned64());
      const uint64_t grid = (type == 5 || type == 7) ? ReadUnsigned64() : 1;
      const bool vertical = type >= 6;
      repetitionOffsets.clear();
      repetitionOffsets.push_back({});
      unsigned __int128 at = 0;
      for (int32_t i = 1; i < n; ++i) {
        at += (unsigned __int128)ReadUnsigned64() * grid;
        if (at > uint64_t(kOasisMaxOffset)) ThrowIn(kRepetitionRange);
        const int64_t v = int64_t(at);
        repetitionOffsets.push_back(vertical ? OasisDelta{0, v} : OasisDelta{v, 0});
      }
      break;
    }
    case 8:
    case 9: {
      const int32_t n = Dimension(ReadUnsigned64());
      const int32_t m = type == 8 ? Dimension(ReadUnsigned64()) : 1;
      const OasisDelta dn = ReadDeltaG();
      const OasisDelta dm = type == 8 ? ReadDeltaG() : OasisDelta{};
      // Offsets are linear in both indices: the four corners bound them.
      const __int128 ax = __int128(n - 1) * dn.x, ay = __int128(n - 1) * dn.y;
      const __int128 bx = __int128(m - 1) * dm.x, by = __int128(m - 1) * dm.y;
      if (!WithinOffset(ax) || !WithinOffset(ay) || !WithinOffset(bx) ||
          !WithinOffset(by) || !WithinOffset(ax + bx) || !WithinOffset(ay + by)) {
        ThrowIn(kRepetitionRange);
      }
      nDimension = n;
      mDimension = m;
      nDisplacement = dn;
      mDisplacement = dm;
      break;
    }
    default: {  // 10, 11
      const int32_t n = Dimension(ReadUnsigned64());
      const uint64_t grid = type == 11 ? ReadUnsigned64() : 1;
      repetitionOffsets.clear();
      repetitionOffsets.push_back({});
      __int128 x = 0, y = 0;
      for (int32_t i = 1; i < n; ++i) {
        const OasisDelta d = ReadDeltaG();
        x += __int128(d.x) * grid;
        y += __int128(d.y) * grid;
        if (!WithinOffset(x) || !WithinOffset(y)) ThrowIn(kRepetitionRange);
        repetitionOffsets.push_back({int64_t(x), int64_t(y)});
      }
    }
  }
  repetitionType = int32_t(type);
  SetModal(kModalRepetition);
}

int64_t OasisFile::RepetitionCount() const {
  switch (repetitionType) {
    case 0: return 0;
    case 1: return int64_t(xDimension) * yDimension;
    case 2: return xDimension;
    case 3: return yDimension;
    case 8:
    case 9: return int64_t(nDimension) * mDimension;
    default: return int64_t(repetitionOffsets.size());
  }
}

OasisDelta OasisFile::RepetitionOffset(int64_t i) const {
  switch (repetitionType) {
    case 1: return {(i / yDimension) * xSpace, (i % yDimension) * ySpace};
    case 2: return {i * xSpace, 0};
    case 3: return {0, i * ySpace};
    case 8:
    case 9: {
      const int64_t a = i / mDimension, b = i % mDimension;
      return {a * nDisplacement.x + b * mDisplacement.x,
              a * nDisplacement.y + b * mDisplacement.y};
    }
    default: return repetitionOffsets[size_t(i)];
  }
}

// --- Writing ------------------------------------------------------------------------

void OasisFile::WriteUnsigned(uint64_t value) {
  while (value >= 0x80) {
    stream.PutChar(uint8_t((value & 0x7f) | 0x80));
    value >>= 7;
  }
  stream.PutChar(uint8_t(value));
}

void OasisFile::WriteSigned(int64_t value) {
  if (value == std::numeric_limits<int64_t>::min()) ThrowOut("Integer too large");
  WriteUnsigned((Magnitude(value) << 1) | (value < 0 ? 1 : 0));
}

void OasisFile::WriteString(std::string_view s) {
  WriteUnsigned(s.size());
  if (!s.empty()) stream.PutBlock(s.data(), s.size());
}

void OasisFile::WriteReal(double value) {
  if (!std::isfinite(value)) ThrowOut("Real value is not finite");
  constexpr double kTolerance = 0x1p-23;
  constexpr double kLimit = 0x1p63;  // rounded values above do not fit
  const double a = std::fabs(value);
  const bool negative = value < 0;
  if (a < kLimit) {
    const double r = std::floor(a + 0.5);
    // A non-zero value close to 0 is not written as 0.
    if ((r != 0 || a == 0) && std::fabs(a - r) <= kTolerance) {
      WriteUnsigned(negative ? 1 : 0);
      WriteUnsigned(uint64_t(r));
      return;
    }
  }
  if (a != 0) {
    const double q = 1.0 / a;
    if (q < kLimit) {
      const double s = std::floor(q + 0.5);
      if (s != 0 && std::fabs(q - s) <= kTolerance) {
        WriteUnsigned(negative ? 3 : 2);
        WriteUnsigned(uint64_t(s));
        return;
      }
    }
  }
  WriteUnsigned(7);
  stream.Put8Bytes(value);
}

void OasisFile::WriteDelta1(OasisDelta d, bool vertical) {
  WriteSigned(vertical ? d.y : d.x);
}

void OasisFile::WriteDelta2(OasisDelta d) {
  if (d.x != 0 && d.y != 0) ThrowOut("Displacement not along an axis");
  int direction;
  uint64_t magnitude;
  Octant(d, 3, direction, magnitude);
  WriteUnsigned(Shifted(magnitude, 2) | uint64_t(direction));
}

void OasisFile::WriteDelta3(OasisDelta d) {
  int direction;
  uint64_t magnitude;
  if (!Octant(d, 3, direction, magnitude)) {
    ThrowOut("Displacement not along an axis or diagonal");
  }
  WriteUnsigned(Shifted(magnitude, 3) | uint64_t(direction));
}

void OasisFile::WriteDeltaG(OasisDelta d) {
  int direction;
  uint64_t magnitude;
  if (Octant(d, 0, direction, magnitude)) {
    WriteUnsigned(Shifted(magnitude, 4) | uint64_t(direction << 1));
    return;
  }
  const uint64_t first = Shifted(Magnitude(d.x), 2) | (d.x > 0 ? 1 : 3);
  const uint64_t second = Shifted(Magnitude(d.y), 1) | (d.y < 0 ? 1 : 0);
  WriteUnsigned(first);
  WriteUnsigned(second);
}

void OasisFile::WriteRepetitionList(std::span<const Point> placements) {
  if (placements.size() < 2) ThrowOut("Repetition needs two placements");
  WriteUnsigned(10);
  WriteUnsigned(placements.size() - 2);
  for (size_t i = 1; i < placements.size(); ++i) {
    WriteDeltaG({int64_t(placements[i].x) - placements[i - 1].x,
                 int64_t(placements[i].y) - placements[i - 1].y});
  }
}

}  // namespace velmar
