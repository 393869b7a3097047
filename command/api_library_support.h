// Small services shared by the library, storing and loading methods of API:
// cell look-ups and error lines. (The preconditions, the date line and the
// rounding of lengths are API members, see api.h; reading a library's
// tables, loading and unloading a cell, the layer table and the cell data
// files are LibDB and DBCell members.)
#pragma once

#include <cstdint>
#include <string>

namespace velmar {

class DBCell;
class Error;
class LibDB;

namespace api_support {

// The cell named cname, or the first root when cname is empty (printing
// "  Cell adjusted to %s\n"). Null after "ERROR: Cell %s is not defined"
// (no newline, as the library commands print it) or, for an empty name,
// after "ERROR: Library has no root cell\n".
DBCell* FindCellOrFirstRoot(LibDB& lib, const char* cname);

// True for a layer and datatype pair that can be stored in a cell (a
// library pair); otherwise prints "ERROR: Layer {%d %d} cannot be stored:
// layer and datatype must lie in 0..255\n" and returns false.
bool CheckStorableLayer(int layer, int datatype);

// Prints "ERROR: <unit>: <message>\n" for an Error that ends an operation.
void PrintError(const Error& e);

}  // namespace api_support
}  // namespace velmar
