// Polygon files: a polygon set (PSList) in and out of the system without a
// library.
//
// Polygon text file: decimal integers separated by any white space. Per
// polygon a count n, then n vertices as x y pairs. A count of 0 is a box by
// two corners x1 y1 x2 y2, standing for (x1, y1), (x2, y1), (x2, y2),
// (x1, y2). The writer puts the count alone on a line, then one line per
// vertex, x TAB y; it never writes the box form.
//
// Converter text dialect (input of ConvertTextToBinary only): the same
// polygons, each after a line that begins with "#"; lines before that line
// are passed over, and so are further "#" lines between it and the count.
// Lines may be of any length. The box form is not part of the dialect.
//
// Binary polygon file: 4-byte little-endian signed integers, plain or gzip,
// no header and no terminator. Per polygon the count n and n pairs x y; a
// count of 0 is followed by the four values x1 y1 x2 y2 of a box.
//
// Line file: per segment the line "2", then both end points, each on a line
// of its own as x TAB y.
//
// Damaged and degenerate input, the same in every reader and converter:
// - A count of 1 or 2 (followed by that many pairs) or below 0 (followed by
//   one pair) is not a polygon: it is skipped with a warning (the first 20
//   in detail, then a total) and reading goes on. In the converter dialect
//   every count below 3 (0 included) is skipped, and reading goes on at the
//   next "#" line.
// - A polygon cut off by the end of the file, or by a word that is not a
//   number, is discarded with a warning and reading stops there; the
//   polygons before it are kept.
// - A count that cannot be read (the end of the data, or a word that is not
//   a number) ends reading quietly.
// - A file that cannot be read (an I/O error, damaged gzip data) throws
//   Error (unit kPolygonFileReadUnit); a reader then leaves its list as it
//   was, a converter leaves its output empty.
//
// Writers check every write and the close: a failure (a full disk) throws
// Error (unit kPolygonFileWriteUnit) after cutting a regular output file
// back to the length it had before the call (empty for a file written from
// its start, the old content for one appended to), so no half-written
// polygons remain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/point_system.h"

namespace velmar {

inline constexpr const char* kPolygonFileReadUnit = "BinaryIn";
inline constexpr const char* kPolygonFileWriteUnit = "BinaryOut";

// Reads a polygon text file and adds each polygon as one ring: its points
// are pushed at the head of the list in file order, each linked as the
// successor of the one before and the last back to the first; every point
// gets the flags SecondLayer when mark is set, else 0. Ring and point counts
// grow accordingly. Prints "Reading %s\n" and the totals. False (after
// "Error: Input file could not be opened !\n") when the file cannot be
// opened.
bool ReadPolygonFile(PSList& list, const std::string& path, bool mark);

// The same for a binary polygon file, gzip-compressed when gzip is set.
bool ReadBinaryPolygonFile(PSList& list, const std::string& path, bool mark,
                           bool gzip);

// Writes every closed ring of more than two vertices to a polygon text file,
// appended to the file when append is set, else replacing it. A ring starts
// at its first point on the list's link chain. Rings of one or two vertices
// are left out; open chains (edge layers) are left out and counted in a
// warning. Afterwards the list's ring and point counts count the written
// rings only (recount before using the list further); the visited bits are
// clear. False (after "Error: Output file %s could not be opened !\n") when
// the file cannot be opened; throws Error when writing fails.
bool WritePolygonFile(PSList& list, const std::string& path, bool append);

// The vertices of every ring of a list in the order the polygon writer
// walks them (rings by their first point on the link chain, each from that
// point), read by a walk that visits every ring anyway: sizes[i] vertices
// of ring i follow those of ring i - 1 in points.
struct ListRings {
  std::vector<Point> points;
  std::vector<int32_t> sizes;
};

// WritePolygonFile of a list of closed rings whose vertices were read into
// rings (and have not changed since): the same file and the same counts
// afterwards, without walking the rings again.
bool WritePolygonFile(PSList& list, const ListRings& rings,
                      const std::string& path, bool append);

// Writes one segment per point that has a successor (each edge of a ring,
// each edge of an open chain) to a line file, replacing it. The list is not
// changed. False (after "Error: Output file could not be opened !\n") when
// the file cannot be opened; throws Error when writing fails.
bool WriteLineFile(const PSList& list, const std::string& path);

// Converts a file of the converter dialect into a binary polygon file (gzip
// when set). A four-point polygon whose four edges (the closing one
// included) are each horizontal or vertical is written as a box. False when
// either file cannot be opened or both paths name the same file.
bool ConvertTextToBinary(const std::string& textPath,
                         const std::string& binaryPath, bool gzip);

// Converts a binary polygon file (gzip when set) into a polygon text file as
// WritePolygonFile writes it, a box as its four vertices. False when either
// file cannot be opened or both paths name the same file.
bool ConvertBinaryToText(const std::string& binaryPath,
                         const std::string& textPath, bool gzip);

// Copies a binary polygon file into a new one, both gzip or both plain by
// the flag; boxes stay boxes, degenerate counts are dropped. False when
// either file cannot be opened or both paths name the same file.
bool CopyBinaryPolygonFile(const std::string& inputPath,
                           const std::string& outputPath, bool gzip);

}  // namespace velmar
