#include "formats/polygon_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/binary_stream.h"
#include "foundation/box.h"
#include "foundation/error.h"

namespace velmar {
namespace {

// Problems of one kind reported in detail before only the total is given.
constexpr int64_t kDetailLimit = 20;
constexpr size_t kTextBufferSize = size_t(1) << 16;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a text file for reading; null when it cannot be opened or is a
// directory (which some systems let fopen open).
FilePtr OpenTextInput(const std::string& path) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return file;
  struct stat st;
  if (::fstat(fileno(file.get()), &st) != 0 || S_ISDIR(st.st_mode)) file.reset();
  return file;
}

// True when both paths name one existing file (the same inode): writing the
// output would destroy the input before it is read.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// One polygon record as a file holds it.
struct FilePolygon {
  int32_t count = 0;          // as stored; 0 is a box
  std::vector<Point> points;  // the count vertices, or a box's two corners

  int64_t VertexCount() const { return count == 0 ? 4 : count; }

  // Calls f(x, y) for every vertex in file order, a box as its four corners
  // (x1, y1), (x2, y1), (x2, y2), (x1, y2).
  template <typename F>
  void ForEachVertex(F&& f) const {
    if (count == 0) {
      const Point a = points[0], b = points[1];
      f(a.x, a.y);
      f(b.x, a.y);
      f(b.x, b.y);
      f(a.x, b.y);
      return;
    }
    for (const Point& p : points) f(p.x, p.y);
  }
};

// Warnings on damaged and degenerate polygons of one input file.
class ProblemReport {
 public:
  explicit ProblemReport(const std::string& path) : path_(path) {}

  // A polygon record whose count cannot make a ring.
  void Skipped(int64_t index, int32_t count) {
    ++skipped_;
    if (skipped_ > kDetailLimit) return;
    PrintMessage("Warning: polygon %lld in %s has the vertex count %d, skipped\n",
                 static_cast<long long>(index), path_.c_str(), count);
    if (skipped_ == kDetailLimit) {
      PrintMessage("Same warning will not be shown any more\n");
    }
  }

  // The polygon whose values ran out; reading stops after it.
  void CutOff(int64_t index, bool atEnd) {
    PrintMessage(atEnd ? "Warning: polygon %lld in %s is cut off by the end of "
                         "the file, discarded\n"
                       : "Warning: polygon %lld in %s is cut off by a word "
                         "that is not a number, discarded\n",
                 static_cast<long long>(index), path_.c_str());
  }

  // Totals, printed after the caller's own totals.
  void Summary() const {
    if (skipped_ == 0) return;
    PrintMessage("  %lld polygons with a vertex count below 3 skipped\n",
                 static_cast<long long>(skipped_));
    if (skipped_ > kDetailLimit) {
      PrintMessage("  Detailed problem reports are limited to %d cases\n",
                   static_cast<int>(kDetailLimit));
    }
  }

 private:
  const std::string& path_;
  int64_t skipped_ = 0;
};

// Pairs that follow a count: n for a polygon, two corners for a box, and one
// pair for a negative count (the framing the readers have always given it).
int64_t PairsAfterCount(int32_t count) {
  if (count == 0) return 2;
  if (count < 0) return 1;
  return count;
}

// --- Text input -------------------------------------------------------------

// Words of a text file: white-space separated, read through a large buffer.
// A number is an optional sign and decimal digits that fit 32 bits; any
// other word is "not a number". Tracks line starts for the "#" lines of the
// converter dialect.
class TextScanner {
 public:
  enum class Word { kNumber, kNotNumber, kEnd };

  TextScanner(std::FILE* file, const std::string& path)
      : file_(file), path_(path), buffer_(new char[kTextBufferSize]) {}

  Word NextInt(int32_t& value) {
    if (!SkipSpace()) return Word::kEnd;
    return ParseWord(value);
  }

  // NextInt that also passes over every line beginning with "#" met before
  // the word.
  Word NextIntAfterHashLines(int32_t& value) {
    for (;;) {
      if (!SkipSpace()) return Word::kEnd;
      if (!(atLineStart_ && buffer_[pos_] == '#')) return ParseWord(value);
      SkipRestOfLine();
    }
  }

  // Passes over the rest of the current line and then over lines until one
  // begins with "#", which is consumed too. False at the end of the text.
  bool SkipToHashLine() {
    for (;;) {
      if (pos_ == len_ && !Refill()) return false;
      const bool hash = atLineStart_ && buffer_[pos_] == '#';
      SkipRestOfLine();
      if (hash) return true;
    }
  }

 private:
  static bool IsSpace(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' ||
           c == '\f';
  }

  bool Refill() {
    if (eof_) return false;
    pos_ = 0;
    len_ = std::fread(buffer_.get(), 1, kTextBufferSize, file_);
    if (std::ferror(file_)) {
      throw Error("Cannot read file " + path_, kPolygonFileReadUnit);
    }
    if (len_ == 0) {
      eof_ = true;
      return false;
    }
    return true;
  }

  // Moves to the next non-space character; false at the end of the text.
  bool SkipSpace() {
    for (;;) {
      if (pos_ == len_ && !Refill()) return false;
      const char c = buffer_[pos_];
      if (!IsSpace(c)) return true;
      atLineStart_ = c == '\n';
      ++pos_;
    }
  }

  // Consumes through the next line end (or the end of the text).
  void SkipRestOfLine() {
    for (;;) {
      if (pos_ == len_ && !Refill()) break;
      const void* nl = std::memchr(buffer_.get() + pos_, '\n', len_ - pos_);
      if (nl) {
        pos_ = size_t(static_cast<const char*>(nl) - buffer_.get()) + 1;
        break;
      }
      pos_ = len_;
    }
    atLineStart_ = true;
  }

  // Consumes the word at the current (non-space) position.
  Word ParseWord(int32_t& value) {
    atLineStart_ = false;
    bool negative = false, digits = false, valid = true, first = true;
    uint64_t magnitude = 0;  // stops growing once past 2^31
    for (;;) {
      if (pos_ == len_ && !Refill()) break;
      const char c = buffer_[pos_];
      if (IsSpace(c)) break;
      ++pos_;
      if (first && (c == '-' || c == '+')) {
        negative = c == '-';
      } else if (c >= '0' && c <= '9') {
        digits = true;
        if (magnitude <= (uint64_t(1) << 31)) {
          magnitude = magnitude * 10 + uint64_t(c - '0');
        }
      } else {
        valid = false;
      }
      first = false;
    }
    const uint64_t limit = negative ? (uint64_t(1) << 31) : INT32_MAX;
    if (!valid || !digits || magnitude > limit) return Word::kNotNumber;
    value = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
    return Word::kNumber;
  }

  std::FILE* file_;
  const std::string& path_;
  std::unique_ptr<char[]> buffer_;
  size_t pos_ = 0;
  size_t len_ = 0;
  bool eof_ = false;
  bool atLineStart_ = true;
};

using Word = TextScanner::Word;

// Reads `pairs` x y pairs into polygon; false (reported) when they run out.
bool ReadTextPairs(TextScanner& scanner, int64_t pairs, int64_t index,
                   FilePolygon& polygon, ProblemReport& report) {
  polygon.points.clear();
  for (int64_t i = 0; i < pairs; ++i) {
    int32_t x = 0, y = 0;
    Word w = scanner.NextInt(x);
    if (w == Word::kNumber) w = scanner.NextInt(y);
    if (w != Word::kNumber) {
      report.CutOff(index, w == Word::kEnd);
      polygon.points.clear();
      return false;
    }
    polygon.points.emplace_back(x, y);
  }
  return true;
}

// Polygons of a polygon text file.
class TextPolygonReader {
 public:
  TextPolygonReader(std::FILE* file, const std::string& path)
      : scanner_(file, path), report_(path) {}

  // The next polygon of count 0 or at least 3; false at the end of the
  // polygons (the end of the text, a count that is not a number, or a cut-off
  // polygon).
  bool Next(FilePolygon& polygon) {
    for (;;) {
      int32_t n = 0;
      if (scanner_.NextInt(n) != Word::kNumber) return false;
      ++index_;
      polygon.count = n;
      if (!ReadTextPairs(scanner_, PairsAfterCount(n), index_, polygon, report_)) {
        return false;
      }
      if (n == 0 || n >= 3) return true;
      report_.Skipped(index_, n);
    }
  }

  const ProblemReport& Report() const { return report_; }

 private:
  TextScanner scanner_;
  ProblemReport report_;
  int64_t index_ = 0;
};

// Polygons of the converter dialect: each after a line beginning with "#".
class DialectPolygonReader {
 public:
  DialectPolygonReader(std::FILE* file, const std::string& path)
      : scanner_(file, path), report_(path) {}

  // The next polygon of at least 3 vertices; false at the end.
  bool Next(FilePolygon& polygon) {
    for (;;) {
      if (!scanner_.SkipToHashLine()) return false;
      int32_t n = 0;
      if (scanner_.NextIntAfterHashLines(n) != Word::kNumber) return false;
      ++index_;
      if (n < 3) {  // the box form is not part of the dialect
        report_.Skipped(index_, n);
        continue;
      }
      polygon.count = n;
      return ReadTextPairs(scanner_, n, index_, polygon, report_);
    }
  }

  const ProblemReport& Report() const { return report_; }

 private:
  TextScanner scanner_;
  ProblemReport report_;
  int64_t index_ = 0;
};

// --- Binary input -----------------------------------------------------------

class BinaryPolygonReader {
 public:
  BinaryPolygonReader(BinaryStream& in, const std::string& path)
      : in_(in), report_(path) {}

  bool Next(FilePolygon& polygon) {
    for (;;) {
      if (in_.AtEnd()) return false;
      int32_t n = 0;
      if (!in_.GetInt32(n)) {  // a count cut short
        report_.CutOff(index_ + 1, true);
        return false;
      }
      ++index_;
      polygon.count = n;
      polygon.points.clear();
      const int64_t pairs = PairsAfterCount(n);
      for (int64_t i = 0; i < pairs; ++i) {
        int32_t x = 0, y = 0;
        if (!in_.GetInt32(x) || !in_.GetInt32(y)) {
          report_.CutOff(index_, true);
          polygon.points.clear();
          return false;
        }
        polygon.points.emplace_back(x, y);
      }
      if (n == 0 || n >= 3) return true;
      report_.Skipped(index_, n);
    }
  }

  const ProblemReport& Report() const { return report_; }

 private:
  BinaryStream& in_;
  ProblemReport report_;
  int64_t index_ = 0;
};

// Opens a binary polygon file for reading; false when it cannot be opened.
bool OpenBinaryInput(BinaryStream& in, const std::string& path, bool gzip) {
  in.path = path;
  in.write = false;
  in.gzip = gzip;
  in.openMode = 0;
  return in.Open();
}

// --- Output -----------------------------------------------------------------

// A text file written through a large buffer. Every write and the close are
// checked; a failure cuts a regular file back to its length before the
// writer began and throws. A writer dropped without Finish (an error
// elsewhere) cuts the file back the same way.
class TextOutput {
 public:
  explicit TextOutput(const std::string& path) : path_(path) {}
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;
  ~TextOutput() {
    if (file_) Abandon();
  }

  bool Open(bool append) {
    file_ = std::fopen(path_.c_str(), append ? "ab" : "wb");
    if (!file_) return false;
    struct stat st;
    if (::fstat(fileno(file_), &st) != 0) {
      std::fclose(file_);
      file_ = nullptr;
      return false;
    }
    regular_ = S_ISREG(st.st_mode);
    startSize_ = append && regular_ ? st.st_size : 0;
    std::setvbuf(file_, nullptr, _IONBF, 0);  // our buffer does the buffering
    buffer_.reset(new char[kTextBufferSize]);
    return true;
  }

  // "n\n"
  void PutCount(int64_t n) {
    char* q = Room();
    q = Format(q, n);
    *q++ = '\n';
    used_ = size_t(q - buffer_.get());
  }

  // "x\ty\n"
  void PutPoint(int32_t x, int32_t y) {
    char* q = Room();
    q = Format(q, x);
    *q++ = '\t';
    q = Format(q, y);
    *q++ = '\n';
    used_ = size_t(q - buffer_.get());
  }

  // Writes out the buffer and closes the file; throws when that fails.
  void Finish() {
    Flush();
    if (std::fflush(file_) != 0) Fail("Cannot write file", errno);
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) {
      const int err = errno;
      if (regular_) (void)::truncate(path_.c_str(), startSize_);
      Throw("Cannot close file", err);
    }
  }

 private:
  static constexpr size_t kLineRoom = 48;  // longest line: two numbers, 2 chars

  // Writes v in decimal at q (at most 20 characters); returns the end.
  // Two digits a step, from a table of the pairs 00 to 99.
  static char* Format(char* q, int64_t v) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    uint64_t m = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
    if (v < 0) *q++ = '-';
    char digits[20];
    int n = 20;
    while (m >= 100) {
      const size_t r = size_t(m % 100) * 2;
      m /= 100;
      digits[--n] = kPairs[r + 1];
      digits[--n] = kPairs[r];
    }
    if (m >= 10) {
      digits[--n] = kPairs[m * 2 + 1];
      digits[--n] = kPairs[m * 2];
    } else {
      digits[--n] = char('0' + m);
    }
    std::memcpy(q, digits + n, size_t(20 - n));
    return q + (20 - n);
  }

  // The buffer's free end, with room for one line.
  char* Room() {
    if (used_ + kLineRoom > kTextBufferSize) Flush();
    return buffer_.get() + used_;
  }

  void Flush() {
    if (used_ == 0) return;
    if (std::fwrite(buffer_.get(), 1, used_, file_) != used_) {
      Fail("Cannot write file", errno);
    }
    used_ = 0;
  }

  void Abandon() {
    if (regular_) (void)::ftruncate(fileno(file_), startSize_);
    std::fclose(file_);
    file_ = nullptr;
  }

  [[noreturn]] void Fail(const char* what, int err) {
    Abandon();
    Throw(what, err);
  }

  [[noreturn]] void Throw(const char* what, int err) const {
    std::string message = std::string(what) + " " + path_;
    if (err != 0) message += std::string(": ") + std::strerror(err);
    throw Error(message, kPolygonFileWriteUnit);
  }

  const std::string& path_;
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  bool regular_ = false;
  off_t startSize_ = 0;
};

// A binary polygon file written from its start. Write failures throw (from
// the stream); Finish closes and throws when that fails. On any failure, or
// when dropped without Finish, a regular file is cut back to empty.
class BinaryOutput {
 public:
  BinaryOutput(const std::string& path, bool gzip) {
    stream_.path = path;
    stream_.write = true;
    stream_.gzip = gzip;
    stream_.openMode = 0;
    stream_.unit = kPolygonFileWriteUnit;
  }
  BinaryOutput(const BinaryOutput&) = delete;
  BinaryOutput& operator=(const BinaryOutput&) = delete;
  ~BinaryOutput() {
    if (!open_) return;
    try {
      stream_.Close();
    } catch (const Error&) {
      // Already failing; the file is cut back below.
    }
    CutBack();
  }

  bool Open() {
    open_ = stream_.Open();
    if (open_) {
      struct stat st;
      regular_ = ::stat(stream_.path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }
    return open_;
  }

  BinaryStream& Stream() { return stream_; }

  void Finish() {
    open_ = false;
    try {
      stream_.Close();
    } catch (const Error&) {
      CutBack();
      throw;
    }
  }

 private:
  void CutBack() {
    if (regular_) (void)::truncate(stream_.path.c_str(), 0);
  }

  BinaryStream stream_;
  bool open_ = false;
  bool regular_ = false;
};

void PutBinaryPolygon(BinaryStream& out, const FilePolygon& polygon) {
  out.PutInt32(polygon.count);
  for (const Point& p : polygon.points) {
    out.PutInt32(p.x);
    out.PutInt32(p.y);
  }
}

void PutTextPolygon(TextOutput& out, const FilePolygon& polygon) {
  out.PutCount(polygon.VertexCount());
  polygon.ForEachVertex([&](int32_t x, int32_t y) { out.PutPoint(x, y); });
}

// --- Reading into a list ----------------------------------------------------

// Reads every polygon of reader as a ring. The rings are built on a list of
// their own and put in front of the caller's list only when reading ended
// without an Error, so a failing read leaves the list as it was.
template <typename Reader>
void ReadRings(Reader& reader, PSList& list, const std::string& path,
               bool mark) {
  const uint16_t flags = mark ? PSPointFlags::SecondLayer : 0;
  PSList fresh;
  try {
    FilePolygon polygon;
    while (reader.Next(polygon)) {
      if (int64_t(list.pointCount) + fresh.pointCount + polygon.VertexCount() >
          INT32_MAX) {
        throw Error("Polygon file " + path +
                        " holds more vertices than one polygon set can take",
                    kPolygonFileReadUnit);
      }
      PSPoint* first = nullptr;
      PSPoint* last = nullptr;
      polygon.ForEachVertex([&](int32_t x, int32_t y) {
        PSPoint* p = PushPoint(fresh, x, y);
        p->flags = flags;
        LinkPoints(last, p);
        if (!first) first = p;
        last = p;
      });
      LinkPoints(last, first);
      ++fresh.ringCount;
    }
  } catch (...) {
    ClearPointList(fresh);
    throw;
  }
  PrintMessage("  %d polygons with %d vertices read\n", fresh.ringCount,
               fresh.pointCount);
  reader.Report().Summary();
  if (fresh.IsEmpty()) return;
  // Put the new points in front of the list's own (as pushing at its head
  // would), keeping the list's other header words.
  fresh.tail->link = list.head;
  list.head = fresh.head;
  if (!list.tail) list.tail = fresh.tail;
  list.pointCount += fresh.pointCount;
  list.ringCount += fresh.ringCount;
}

// Rectangle test of the converter: every edge of the four-point polygon, the
// closing edge included, keeps its x or its y.
bool IsRectangle(const std::vector<Point>& p) {
  for (size_t i = 0; i < 4; ++i) {
    const Point& a = p[i];
    const Point& b = p[(i + 1) % 4];
    if (a.x != b.x && a.y != b.y) return false;
  }
  return true;
}

// Passes every polygon of the binary file in to put, finishes out, closes
// in and reports what was converted.
template <typename Output, typename Put>
void CopyBinaryPolygons(BinaryStream& in, const std::string& path,
                        Output& out, Put put) {
  BinaryPolygonReader reader(in, path);
  int64_t polygons = 0, vertices = 0;
  FilePolygon polygon;
  while (reader.Next(polygon)) {
    put(polygon);
    ++polygons;
    vertices += polygon.VertexCount();
  }
  out.Finish();
  in.Close();
  PrintMessage("  %lld polygons with %lld vertices converted\n",
               static_cast<long long>(polygons),
               static_cast<long long>(vertices));
  reader.Report().Summary();
}

}  // namespace

bool ReadPolygonFile(PSList& list, const std::string& path, bool mark) {
  FilePtr file = OpenTextInput(path);
  if (!file) {
    PrintMessage("Error: Input file could not be opened !\n");
    return false;
  }
  PrintMessage("Reading %s\n", path.c_str());
  TextPolygonReader reader(file.get(), path);
  ReadRings(reader, list, path, mark);
  return true;
}

bool ReadBinaryPolygonFile(PSList& list, const std::string& path, bool mark,
                           bool gzip) {
  BinaryStream in;
  if (!OpenBinaryInput(in, path, gzip)) {
    PrintMessage("Error: Input file %s could not be opened !\n", path.c_str());
    return false;
  }
  PrintMessage("Reading %s\n", path.c_str());
  BinaryPolygonReader reader(in, path);
  ReadRings(reader, list, path, mark);
  in.Close();
  return true;
}

bool WritePolygonFile(PSList& list, const std::string& path, bool append) {
  TextOutput out(path);
  if (!out.Open(append)) {
    PrintMessage("Error: Output file %s could not be opened !\n", path.c_str());
    return false;
  }
  // The ring walk marks vertices visited; they are clear on entry and again
  // on every way out.
  struct VisitedClear {
    PSList& list;
    void Clear() {
      for (PSPoint* p = list.head; p; p = p->link) {
        p->flags &= uint16_t(~PSPointFlags::Visited);
      }
    }
    ~VisitedClear() { Clear(); }
  } visited{list};
  visited.Clear();

  int64_t rings = 0, points = 0, openChains = 0;
  // The vertices of the ring in hand, read in the walk that counts them:
  // a second walk along the links would miss the cache at every vertex of
  // a large ring again.
  std::vector<Point> ring;
  for (PSPoint* start = list.head; start; start = start->link) {
    if (start->flags & PSPointFlags::Visited) continue;
    ring.clear();
    PSPoint* p = start;
    do {
      p->flags |= PSPointFlags::Visited;
      ring.push_back(Point(p->x, p->y));
      p = p->next;
    } while (p && !(p->flags & PSPointFlags::Visited));
    const int64_t n = int64_t(ring.size());
    if (p != start) {
      // An open chain (or links that never come back to the start): mark
      // the part behind the start as well, so the chain is counted once.
      for (PSPoint* q = start->prev; q && !(q->flags & PSPointFlags::Visited);
           q = q->prev) {
        q->flags |= PSPointFlags::Visited;
      }
      ++openChains;
      continue;
    }
    if (n <= 2) continue;
    out.PutCount(n);
    for (const Point& v : ring) out.PutPoint(v.x, v.y);
    ++rings;
    points += n;
  }
  out.Finish();
  list.ringCount = int32_t(rings);
  list.pointCount = int32_t(points);
  if (openChains > 0) {
    PrintMessage("Warning: %lld open chains not written to %s\n",
                 static_cast<long long>(openChains), path.c_str());
  }
  return true;
}

bool WritePolygonFile(PSList& list, const ListRings& rings,
                      const std::string& path, bool append) {
  TextOutput out(path);
  if (!out.Open(append)) {
    PrintMessage("Error: Output file %s could not be opened !\n", path.c_str());
    return false;
  }
  int64_t written = 0, points = 0;
  const Point* v = rings.points.data();
  for (const int32_t n : rings.sizes) {
    if (n > 2) {
      out.PutCount(n);
      for (int32_t i = 0; i < n; ++i) out.PutPoint(v[i].x, v[i].y);
      ++written;
      points += n;
    }
    v += n;
  }
  out.Finish();
  list.ringCount = int32_t(written);
  list.pointCount = int32_t(points);
  return true;
}

bool WriteLineFile(const PSList& list, const std::string& path) {
  TextOutput out(path);
  if (!out.Open(false)) {
    PrintMessage("Error: Output file could not be opened !\n");
    return false;
  }
  PrintMessage("Saving lines into %s\n", path.c_str());
  for (const PSPoint* p = list.head; p; p = p->link) {
    if (!p->next) continue;
    out.PutCount(2);
    out.PutPoint(p->x, p->y);
    out.PutPoint(p->next->x, p->next->y);
  }
  out.Finish();
  return true;
}

bool ConvertTextToBinary(const std::string& textPath,
                         const std::string& binaryPath, bool gzip) {
  FilePtr text = OpenTextInput(textPath);
  if (!text) {
    PrintMessage("Error: Input file %s cannot be opened !\n", textPath.c_str());
    return false;
  }
  PrintMessage("Converting %s into binary file\n", textPath.c_str());
  BinaryOutput out(binaryPath, gzip);
  if (SameFile(textPath, binaryPath) || !out.Open()) {
    PrintMessage("Error: Output file %s cannot be opened !\n",
                 binaryPath.c_str());
    return false;
  }
  DialectPolygonReader reader(text.get(), textPath);
  BinaryStream& s = out.Stream();
  int64_t polygons = 0, boxes = 0, vertices = 0;
  FilePolygon polygon;
  while (reader.Next(polygon)) {
    if (polygon.count == 4 && IsRectangle(polygon.points)) {
      Box box;
      for (const Point& p : polygon.points) box.Extend(p.x, p.y);
      s.PutInt32(0);
      s.PutInt32(box.x1);
      s.PutInt32(box.y1);
      s.PutInt32(box.x2);
      s.PutInt32(box.y2);
      ++boxes;
    } else {
      PutBinaryPolygon(s, polygon);
    }
    ++polygons;
    vertices += polygon.count;
  }
  out.Finish();
  PrintMessage("  %lld polygons (%lld boxes) with %lld vertices converted\n",
               static_cast<long long>(polygons), static_cast<long long>(boxes),
               static_cast<long long>(vertices));
  reader.Report().Summary();
  return true;
}

bool ConvertBinaryToText(const std::string& binaryPath,
                         const std::string& textPath, bool gzip) {
  BinaryStream in;
  if (!OpenBinaryInput(in, binaryPath, gzip)) {
    PrintMessage("Error: Input file %s cannot be opened !\n", binaryPath.c_str());
    return false;
  }
  PrintMessage("Converting %s into Ascii file %s\n", binaryPath.c_str(),
               textPath.c_str());
  TextOutput out(textPath);
  if (SameFile(binaryPath, textPath) || !out.Open(false)) {
    PrintMessage("Error: Output file %s cannot be opened !\n", textPath.c_str());
    return false;
  }
  CopyBinaryPolygons(in, binaryPath, out,
                     [&](const FilePolygon& p) { PutTextPolygon(out, p); });
  return true;
}

bool CopyBinaryPolygonFile(const std::string& inputPath,
                           const std::string& outputPath, bool gzip) {
  BinaryStream in;
  if (!OpenBinaryInput(in, inputPath, gzip)) {
    PrintMessage("Error: Input file %s cannot be opened !\n", inputPath.c_str());
    return false;
  }
  BinaryOutput out(outputPath, gzip);
  if (SameFile(inputPath, outputPath) || !out.Open()) {
    PrintMessage("Error: Output file %s cannot be opened !\n",
                 outputPath.c_str());
    return false;
  }
  PrintMessage("Converting %s into binary file %s\n", inputPath.c_str(),
               outputPath.c_str());
  CopyBinaryPolygons(in, inputPath, out, [&](const FilePolygon& p) {
    PutBinaryPolygon(out.Stream(), p);
  });
  return true;
}

}  // namespace velmar
