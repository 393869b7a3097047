// Small services shared by the library, storing and loading methods of API:
// reading a library's tables, cell look-ups, additions to the layer table,
// cell data files and error lines. (The preconditions, the date line and the rounding of lengths are
// API members, see api.h.)
#pragma once

#include <cstdint>
#include <string>

namespace velmar {

class DBCell;
class Error;
class LibDB;

namespace api_support {

// Reads the library's info file and then its names file, each only when it
// has not been read (or written) yet.
void ReadTables(LibDB& lib);

// The cell named cname, or the first root when cname is empty (printing
// "  Cell adjusted to %s\n"). Null after "ERROR: Cell %s is not defined"
// (no newline, as the library commands print it) or, for an empty name,
// after "ERROR: Library has no root cell\n".
DBCell* FindCellOrFirstRoot(LibDB& lib, const char* cname);

// Loads a stored cell that holds nothing in memory (without search trees),
// so that what is added to it joins its stored contents instead of
// replacing them.
void LoadIfStored(LibDB& lib, DBCell* cell);

// Adds key to the library's layer table (setting its info-dirty flag) when
// it is not there yet.
void AddLayerKey(LibDB& lib, int32_t key);

// Opens cell data file number for writing as the library's open data file
// (openMode as BinaryStream takes it); false, with nothing open, when the
// file cannot be opened.
bool OpenDataFileForWriting(LibDB& lib, uint16_t number, int32_t openMode);

// Drops what a cell holds in memory (shapes, trees, references) and its
// Modified and Loaded flags; it is read again from its data file when
// needed.
void UnloadCell(DBCell* cell);

// Prints "ERROR: <unit>: <message>\n" for an Error that ends an operation.
void PrintError(const Error& e);

}  // namespace api_support
}  // namespace velmar
