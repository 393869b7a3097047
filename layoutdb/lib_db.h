// One open library: the in-memory tables of a hierarchical layout bound to
// a library directory on disk, with the one cell data file through which
// cell geometry is read and appended.
//
// The library directory holds:
//   "names"            library name, then one cell name per cell id
//   "info" / "info.gz" units, write file number, depth, roots, layer keys,
//                      per cell its box and data positions (binary)
//   "db%d" / "db%d.gz" cell data files, numbered from 1
//   "parents"          each cell's parent cells (for people, never read)
//   "texts"            a count, then one text per line
//   "opt"              option words ("MAGNIFIED")
// The directory must exist; the library never creates it. "names", "info",
// "parents", "texts" and "opt" are replaced atomically: a new file is
// written next to the old one and renamed over it only once every byte of
// it has been written, so a failed write leaves the old file intact.
//
// The methods are defined across several files of this folder, one per
// topic (see the section comments below).
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "foundation/binary_stream.h"
#include "foundation/box.h"
#include "layoutdb/hier_cell_record.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/owned_vector.h"
#include "layoutdb/trans.h"

namespace velmar {

class DBCell;
class DBPolygon;
class LayerTree;
class LayerRings;
struct LoadCheckpoint;
struct PlacedRectangle;
struct SList;

// Snaps a derived unit ratio (database units per nanometre) to 1, 10, 0.1,
// 2 or 0.5 (tested in this order) when it lies within 2^-23 of one of
// them; any other value (NaN included) is returned unchanged.
double SnapUnit(double value);

// One entry of the library's layer table. Only the keys of the table carry
// meaning; every insertion stores zeros and empty strings.
struct LayerInfo {
  int32_t layer = 0;
  int32_t datatype = 0;
  std::string name;
  std::string purpose;
};

// The library's layer table: keys in ascending unsigned order.
using LayerTable = std::map<LayerKey, LayerInfo, LayerTableOrder>;

// A cell definition gathered by the GDSII and OASIS readers: the cell id and
// the references read for that cell (a single reference is held as an ARef
// without the array bit in its cell id).
struct CellDef {
  int32_t cellId = -1;
  std::vector<ARef> refs;
};

class LibDB {
 public:
  // Bits of flags.
  static constexpr uint32_t InfoDirty = 0x80000000u;   // "info" must be rewritten
  static constexpr uint32_t InfoRead = 0x40000000u;    // "info" read or written
  static constexpr uint32_t NamesDirty = 0x20000000u;  // "names" must be rewritten
  static constexpr uint32_t NamesRead = 0x10000000u;   // "names" read or written
  static constexpr uint32_t DataDirty = 0x08000000u;   // cells hold unstored changes

  // Largest data file size (bytes) that still takes another cell.
  static constexpr int64_t kDataFileLimit = 999999999;

  // ---- Fields ------------------------------------------------------------
  // Other folders read these; they change the flags, the data stream, the
  // layer table, cell names and definitions through the members below.
  std::string libName;          // first line of "names"
  std::string dirPath;          // library directory, used unchanged
  int32_t gz = 0;               // "info" and data files are gzip (".gz")
  BinaryStream dbStream;        // the one open cell data file
  int32_t openDb = 0;           // number of the file open in dbStream; 0 none
  uint32_t flags = 0;           // InfoDirty ... DataDirty
  uint16_t version = 0;         // library format version (stored in "info")
  uint16_t writeDb = 0;         // file receiving newly stored cells; 0 none yet
  double userUnit = 0.001;      // user units per database unit (not stored)
  bool userUnitFromGds = false; // userUnit was taken from a GDSII file read
  double meterPerUnit = 1e-9;   // metres per database unit (stored in "info")
  double outScale = 1.0;        // scale of the layout writers (not stored)
  double unitPerNm = 1.0;       // database units per nanometre
  int32_t magnified = 0;        // non-zero: the library holds magnified refs
  OwnedVector<DBCell> cells;    // cell by id; null = removed cell; owned
  std::map<std::string, int32_t> cellIds;  // cell name -> id (first holder)
  std::map<std::string, int32_t> textIds;  // text -> index of first occurrence
  std::vector<const std::string*> texts;   // text by index: keys of textIds
  std::vector<int32_t> roots;              // ids of the top cells
  std::vector<HierCellRecord> hierRecords; // one per cell id while built
  int32_t depth = 0;                       // largest cell level
  uint8_t hierChanged = 0;                 // references changed since built
  std::list<int32_t> cellOrder;            // cell ids top-down
  LayerTable layers;                       // every layer of the library
  OwnedVector<CellDef> cellDefs;           // reader definitions; owned
  std::vector<int32_t> cellDefIndex;       // cell id -> index into cellDefs
  std::set<int32_t> excludeCells;          // excluded from hierarchy processing
  std::set<int32_t> explodeCells;          // to explode
  std::set<int32_t> flattenCells;          // to flatten

  // ---- Library object and directory (lib_db.cpp) ---------------------------
  // An empty library on directory path with the compressed flag gz; reads
  // nothing from the directory.
  LibDB(const char* path, int gz);
  // Releases cells, definitions and the open data file. Writes no directory
  // file and stores no cell.
  ~LibDB();
  LibDB(const LibDB&) = delete;
  LibDB& operator=(const LibDB&) = delete;

  // Id of the cell named name, or -1.
  int32_t FindCellId(const std::string& name) const;
  // The cell named name, or null (also for a removed cell).
  DBCell* FindCell(const std::string& name) const;
  // Makes dbStream read the cell's stored data from its first byte, opening
  // the cell's data file when another (or none) is open. Throws
  // Error("Cell file id invalid", "LIBIN") for a cell without stored data
  // and a "LIBIN" error when the data file cannot be opened.
  void SeekCellData(DBCell* cell);
  // Path of cell data file number: "<dirPath>/db<number>", ".gz" appended
  // when gz is set.
  std::string DataFilePath(uint16_t number) const;

  // ---- State flags and the layer table (lib_db.cpp) ------------------------
  // True when every bit of bits is set in flags.
  bool HasFlags(uint32_t bits) const { return (flags & bits) == bits; }
  // Sets bits in flags.
  void SetFlags(uint32_t bits) { flags |= bits; }
  // Reads "info" and then "names", each only when it has not been read (or
  // written) yet.
  void ReadTables();
  // Adds key to the layer table when it is not there yet, setting
  // InfoDirty; true when it was added.
  bool AddLayerKey(LayerKey key);

  // ---- Directory text files and generated cell names (lib_text_files.cpp)
  // Reads "names": library name and the name of every existing cell.
  void ReadNames();
  // Rewrites "names" from libName and cells; clears NamesDirty.
  void WriteNames();
  // Reads "texts"; a missing file leaves the texts unchanged.
  void ReadTexts();
  // Rewrites "texts"; does nothing when there is no text.
  void WriteTexts();
  // Rewrites "parents" from cells and hierRecords.
  void WriteParents();
  // Writes into name "base[_]marker<number>" with the number raised until no
  // cell of the library has that name; returns the number used. The library
  // is not changed.
  int32_t MakeCellName(const char* base, const std::string& marker,
                       int32_t number, std::string& name) const;
  // The name with its decimal suffix counted up (one appended after a name
  // without digits) until no cell of the library has it. The library is
  // not changed.
  std::string NextFreeCellName(const std::string& name) const;

  // ---- Library info and option files (lib_info.cpp) ------------------------
  // Reads "info" (or "info.gz") into a library without cells: units, write
  // file number, depth, roots, layer keys and one cell per id. On failure
  // the library is left as it was.
  void ReadInfo();
  // Rewrites "info" (compressed when gz is set); clears InfoDirty.
  void WriteInfo();
  // Reads "opt": sets magnified when it holds "MAGNIFIED".
  void ReadOptions();
  // Rewrites "opt" from magnified.
  void WriteOptions();

  // ---- Cell data files (lib_cell_data.cpp) --------------------------------
  // Reads the cell's whole record: raw layers (with index also one search
  // tree per layer) and references. The cell must hold nothing in memory
  // (else "LIBIN" error). A truncated or corrupt record throws "LIBIN" and
  // leaves the cell holding nothing.
  void LoadCell(DBCell* cell, bool index);
  // Reads only the cell's reference section into its reference tree; a
  // corrupt section throws "LIBIN" and adds nothing.
  void LoadReferences(DBCell* cell);
  // Reads reference records from the stream position up to the cell's end.
  void ReadReferences(DBCell* cell);
  // Reads one reference record; null when it refers to a missing or empty
  // cell. The caller owns the result.
  SRef* ReadReference(int32_t& previousId, Point& previousOrigin);
  // Reads one polygon record; the caller owns the result.
  DBPolygon* ReadPolygon();
  // Writes one reference record, delta-coded against previous (null for the
  // first of a cell), and makes previous point at ref.
  void WriteReference(SRef* ref, SRef*& previous);
  // Makes dbStream the data file the cell is appended to, at its end, and
  // sets the cell's file number (restored when the record then fails).
  void OpenCellFile(DBCell* cell);
  // Writes the cell's layer blocks; the start position is committed with
  // the rest of the record by WriteCellReferences.
  void WriteCellLayers(DBCell* cell);
  // Writes the reference section (when the cell has references) and
  // commits the cell's start, reference and end positions.
  void WriteCellReferences(DBCell* cell);
  // Opens cell data file number for writing as the library's open data
  // file (openMode as BinaryStream takes it: 0 creates it empty,
  // BinaryStream::kAppend appends); false, with nothing open, when the file
  // cannot be opened.
  bool OpenDataFileForWriting(uint16_t number, int32_t openMode);

  // For a record started by OpenCellFile that would not fit behind the
  // records of its file: closes that file and makes the next file number
  // (writeDb + 1, appended to when it exists, never replaced) the cell's
  // and the open one. Throws "LIBOUT" when no number is left or the file
  // cannot be opened.
  void MoveRecordToNextDataFile(DBCell* cell);
  // Appends n bytes of layer blocks read from in (checked beforehand, e.g.
  // by CellRecordReader::ScanLayer) to the record being written, between
  // WriteCellLayers and WriteCellReferences. Throws Error(endedEarly,
  // "LIBIN") when in ends before.
  void CopyLayerBlocks(BinaryStream& in, int64_t n, const char* endedEarly);

  // ---- Cell records of the layout readers (lib_cell_data.cpp) --------------
  // Before a read: closes the open data file and opens a new one, created
  // empty, with the next number past writeDb whose file does not exist (a
  // data file that no index knows of, left by a failed run, is kept);
  // writeDb and openDb take that number. False when it cannot be opened;
  // "LIBOUT" when no number is left.
  bool OpenNewDataFile();
  // A layout reader (GDSII, OASIS) builds one cell at a time in memory and
  // appends it as one record to the data file opened for it
  // (OpenNewDataFile), without knowing the record's bytes:
  //   BeginReadRecord(cell)               where the record starts
  //   MoveLayersToRecord(source)          layer blocks, zero or more calls
  //   or MoveRectanglesToRecord(list)     (a cell of rectangles only)
  //   WriteReadReferences(cell, refs)     the reference section, if any
  //   EndReadRecord(cell)                 where it ends
  // Sets the cell's data file number and start position (reference
  // position -1). A data file grown past kDataFileLimit is closed first and
  // the next file number (writeDb + 1, appended to when it exists) becomes
  // the open file. Throws "LIBOUT" when no number is left, the file cannot
  // be opened or the position exceeds the stored range.
  void BeginReadRecord(DBCell* cell);
  // Appends the raw layers of source (the record's cell or one whose
  // geometry goes into it) as layer blocks, each sorted by polygon with
  // equal shapes merged; adds their keys to the layer table; empties
  // source's layers.
  void MoveLayersToRecord(DBCell* source);
  // Appends rectangles (squares and rectangles of a cell that holds no
  // other shape) as the layer blocks MoveLayersToRecord would write for
  // them; adds their keys to the layer table; empties rectangles.
  void MoveRectanglesToRecord(std::vector<PlacedRectangle>& rectangles);
  // Appends the reference section of refs, in the given order, and sets
  // the cell's reference position; nothing when refs is empty.
  void WriteReadReferences(DBCell* cell, const std::vector<ARef>& refs);
  // Sets the cell's end position at the end of what was written.
  void EndReadRecord(DBCell* cell);

  // ---- Library tables (lib_tables.cpp) -------------------------------------
  // Appends a new empty cell named name (null: no name yet); returns its id.
  int32_t AddCell(const char* name);
  // Gives cell id the name newName, which no cell holds; the name map
  // entry of its old name goes.
  void RenameCell(int32_t id, std::string newName);
  // Drops the name map entry of name (the name of a removed cell), so that
  // a new cell can take it.
  void ReleaseCellName(const std::string& name);
  // Records the references of cell id in the parent and child tables.
  void AddParentLinks(int32_t id);
  // Rebuilds hierRecords from every cell's reference tree.
  void BuildParents();
  // The definition of cell id (the latest one made for it), or null.
  CellDef* DefinitionOf(int32_t id) const;
  // Appends a new empty definition of cell id and makes it the one of id
  // in cellDefIndex (grown as needed, -1 for ids without one); returns it.
  CellDef* AddDefinition(int32_t id);
  // Rebuilds hierRecords from cellDefs (after a stream read).
  void BuildParentsAfterRead();
  // Fills cellOrder (top-down), the levels and depth; with leafLast the
  // leaf cells are moved behind all others.
  void OrderCells(bool leafLast);
  // Fills roots with the leading level-0 cells of cellOrder.
  void CollectRoots();
  // After a read, enlarges every cell box by its children's placed boxes,
  // children first.
  void PropagateBoxes();
  // Recomputes the boxes of cells that hold references; true when one
  // changed.
  bool UpdateRefBoxes();
  // Box of a cell's raw drawn layers and its references.
  Box ComputeCellBox(DBCell* cell);
  // Recomputes the placed boxes of all references from their children's
  // current boxes and enlarges cell boxes to cover them; true when a cell
  // box grew.
  bool RefreshRefBoxes();
  // Rebuilds parents, cell order, roots and the boxes of cells holding
  // references after references or cell boxes changed. The references of
  // cells not in memory are read for it and dropped again. Marks "info"
  // dirty when a box or the depth changed and clears hierChanged.
  void RebuildHierarchy();

  // ---- Loading and saving cells (lib_load_save.cpp) ------------------------
  // Loads every stored cell that holds nothing in memory (with
  // referencesOnly only its references), then closes the data file.
  void LoadAll(bool referencesOnly, bool index);
  // Writes every modified cell to the data files; clears DataDirty, sets
  // InfoDirty. When a write (or the final flush) fails, every cell keeps
  // its old record and its Modified flag, and the error passes on.
  void SaveModified();
  // Writes every cell with a proper box through the open dbStream as
  // records of data file fileNumber. Refuses ("LIBOUT", nothing written)
  // when a stored cell is not in memory.
  void SaveAllTo(uint16_t fileNumber);
  // Closes the open data file (a file open for writing writes out its
  // buffered bytes first; a failure throws "LIBOUT"); openDb becomes 0.
  void CloseDataFile();
  // Appends the cell's record to the data file it goes to (OpenCellFile,
  // WriteCellLayers, WriteCellReferences) and clears its Modified flag. The
  // data file stays open for the next cell; the record counts as stored
  // once the caller has closed it (CloseDataFile).
  void StoreCell(DBCell* cell);
  // Loads a stored cell that holds nothing in memory (without search
  // trees), so that what is added to it joins its stored contents instead
  // of replacing them. Other cells are left alone.
  void LoadIfStored(DBCell* cell);

  // ---- Hierarchy processing records (hierarchy/) ---------------------------
  // Vertex statistics over the cell order: total = the sum of every cell's
  // own vertex count (recomputed from the cells when recompute is set),
  // flattened = the vertices of the first cell of the order with every
  // placement counted. Sums are 64-bit.
  void VertexStatistics(int64_t& total, double& flattened, bool recompute);
  // True when the hierarchy of cell holds a shape of the filter's layers
  // (empty: all) that lies in window: a square or rectangle meeting it, or
  // any shape of which something remains once clipped to it.
  bool HasGeometryInWindow(DBCell* cell, const Box& window,
                           const LayerKeySet& filter);
  // Moves one placement link of parent from cell from to cell to (a new
  // record for to takes from's boxes, level and vertex count).
  void CopyHierRecord(int32_t parent, int32_t from, int32_t to);

  // ---- Layout loads (lib_load_checkpoint.cpp) ------------------------------
  // A layout load (a GDSII or OASIS read) changes the library only when it
  // completes. BeginLoad records the library's state in memory; CommitLoad
  // keeps what the load did; RollBackLoad puts back the cells (their
  // fields and contents), names, definitions, layer table, hierarchy
  // tables, roots, units and file numbers as they were, and closes the data
  // file. Data files the load appended stay on disk, referenced by nothing;
  // the next load skips their numbers. Index files the load wrote before it
  // failed are written again from the restored state. One load at a time; the LibraryLoad
  // guard below pairs the calls.
  void BeginLoad();
  void CommitLoad();
  void RollBackLoad();
  bool LoadInProgress() const { return load_ != nullptr; }
  // Before a reader redefines cell id: empties the cell's contents in
  // memory and the references of its definition; while a load is in
  // progress they are kept for a rollback.
  void ClearForRedefinition(int32_t id);
  // True when the library holds at least one cell (removed cells aside).
  bool HoldsCells() const;
  // Takes the units of a layout file: user units and metres per database
  // unit. A library that holds cells keeps its own: a file whose unit
  // differs throws Error("Database unit %e differs from the library's %e",
  // unitTag), file's unit first, and nothing changes. An empty library
  // takes the file's units.
  void TakeFileUnits(double userUnits, double meters, const char* unitTag);

  // ---- Collecting geometry (lib_collect.cpp) -------------------------------
  // Appends to out the rings of the filtered layers (null or empty filter:
  // all drawn layers) of cell and of everything it places inside window
  // (cell coordinates), mapped by trans.
  void CollectPolygons(DBCell* cell, const Box* window, const Trans* trans,
                       const std::set<int32_t>* filter, LayerRings* out,
                       int clipMode);
  // The same through a HierIterator; excluded is a reference that is not
  // entered (null: none).
  void CollectWindowPolygons(DBCell* cell, const Box* window,
                             const std::set<int32_t>* filter, LayerRings* out,
                             const SRef* excluded, int clipMode);

  // ---- Marking cells and editing references (lib_mark_edit.cpp) ------------
  // Marks cell id and every cell placed below it whose placement meets
  // window (coordinates of cell id), loading cells on demand.
  void MarkCellsInWindow(int32_t id, const Box* window);
  // Points every reference to oldId below parentId at newId; returns the
  // number changed.
  int32_t ReplaceReferences(int32_t parentId, int32_t oldId, int32_t newId);
  // Removes every reference to cellId below parentId; returns the number
  // removed.
  int32_t RemoveReferences(int32_t parentId, int32_t cellId);
  // Removes every reference to cellId from every cell of the library (cells
  // whose stored record holds references are loaded first), printing a line
  // per reference as RemoveReferences does; returns the number removed.
  int32_t RemoveReferencesEverywhere(int32_t cellId);
  // Throws Error (unit "DB"), changing nothing, when placing cell childId
  // into cell parentId would place a cell inside itself: the parent is the
  // child or lies below it. Loads the cells below the child on demand.
  void RefusePlacement(int32_t childId, int32_t parentId);
  // Deletes cell id with everything it holds in memory (reference objects,
  // shapes, placements, search trees) and frees its id, which is never
  // reused. Its name no longer names a cell, and it leaves the roots and
  // the cell order. References to it in other cells are the caller's.
  void DestroyCell(int32_t id);
  // DestroyCell for many cells at once, with one sweep of the roots and the
  // cell order (every id must name a live cell; repeats count once).
  void DestroyCells(const std::vector<int32_t>& ids);
  // Drops the definitions kept from stream reads: after the references of
  // cells were edited they no longer describe the hierarchy, and the next
  // read rebuilds them from the cells.
  void ForgetDefinitions();
  // Pushes every reference to targetId below cell inside window at the
  // front of out; with mark the cells holding one get Modified.
  void CollectTargetReferences(DBCell* cell, const Box* window,
                               int32_t targetId, SList* out, bool mark);

  // ---- Restructuring the hierarchy (hierarchy/restructure_passes.cpp) ------
  // Library-wide passes that reshape the cell tree in memory before level
  // processing. Each loads a cell that holds nothing before it works on it
  // and writes nothing to disk; the hierarchy tables are stale afterwards
  // until the caller rebuilds them. Sizes are database units.
  //
  // Destroys every cell whose box is not valid, and removes every
  // reference to a destroyed cell from the cells left (they become
  // Modified). Returns the empty slots plus the cells destroyed.
  int32_t RemoveEmptyCells();
  // Replaces every array reference by its elements as single references
  // (an element equal to a reference already in the tree is dropped).
  void ReplaceArefs();
  // The arrays of one cell: the elements are appended to out (owned by the
  // caller), the arrays removed from the tree; tree is the cell's reference
  // tree when an array was removed. Returns the number of arrays removed.
  int32_t ReplaceArefsInCell(DBCell* cell, std::vector<SRef*>& out,
                             LayerTree*& tree);
  // Flattens every placement of a cell at most size wide or high into its
  // parents and destroys such cells. Returns the cells destroyed.
  int32_t Flatten(int32_t size);
  // Flattens the small children of one cell into it; returns the number of
  // placements flattened.
  int32_t FlattenSmallInstances(DBCell* cell, int32_t size);
  // Flattens every placement of the cells of flattenCells and destroys
  // those cells.
  void FlattenGivenCells();
  // Flattens the listed children of one cell into it; returns the number
  // of placements flattened.
  int32_t FlattenGivenInstances(DBCell* cell);
  // Cuts every cell whose drawn geometry exceeds size into tile cells.
  void Split(int32_t size);
  // Cuts one cell's shapes into tile cells on a grid, placed back by
  // identity references; with store every tile is written to the data
  // files at once and released. Returns the tiles made (0: unchanged).
  int32_t SplitCell(DBCell* cell, int32_t size, bool store = false);
  // Splits every stored cell wider or taller than size (loading and
  // releasing cells as needed); returns the tiles made.
  int32_t SplitLargeCells(int32_t size);
  // Moves the shapes of every cell that also holds references into a new
  // leaf cell placed back by an identity reference.
  void CreateLeafCells();
  // Does so for one cell; true when a leaf cell was made.
  bool MakeLeafCell(DBCell* cell);

  // ---- Explode passes (hierarchy/explode_passes.cpp) -----------------------
  // Replace placements of a child by the child's own placements, composed
  // with the placement removed, then destroy the cells nothing places any
  // more. Rates are fractions. Each returns the number of cells removed.
  int32_t Explode1(float rate);
  // Explodes the children of cell whose placed box covers at least rate of
  // its box; returns the references exploded.
  int32_t Explode1Cell(DBCell* cell, float rate);
  int32_t Explode2(float rate);
  // Marks cell when its references cover less than rate of its box.
  bool Explode2Candidate(DBCell* cell, float rate);
  // Explodes every reference of cell to a marked cell; returns the number.
  int32_t ExplodeMarkedRefs(DBCell* cell);
  int32_t Explode3(float rate);
  // Explodes groups of references of cell that overlap each other by more
  // than rate; returns the references exploded.
  int32_t Explode3Cell(DBCell* cell, float rate);
  // Explodes every placement of the cells of explodeCells.
  int32_t ExplodeManual();

 private:
  // The cell record being written, from OpenCellFile or WriteCellLayers to
  // WriteCellReferences: the cell, the start position to commit, and the
  // file number the cell had before (put back when the record fails).
  struct PendingRecord {
    DBCell* cell = nullptr;
    int32_t start = -1;
    uint16_t oldFile = 0;
  };
  PendingRecord pendingRecord_;
  // Data files found past the size limit; files never shrink, so they are
  // not opened again to take a cell.
  std::set<uint16_t> fullDataFiles_;
  // The state before the load in progress; null when none.
  std::unique_ptr<LoadCheckpoint> load_;
  // Called by the writers of "names", "info" and "parents": a load that
  // wrote them and then fails writes them again from the restored state.
  void NoteIndexWrite();
};

// Scope of one layout load: begins it on construction; rolls it back on
// destruction unless Commit was called (also when an exception leaves the
// scope).
class LibraryLoad {
 public:
  explicit LibraryLoad(LibDB& lib) : lib_(lib) { lib_.BeginLoad(); }
  ~LibraryLoad() {
    if (!committed_) lib_.RollBackLoad();
  }
  LibraryLoad(const LibraryLoad&) = delete;
  LibraryLoad& operator=(const LibraryLoad&) = delete;
  void Commit() {
    lib_.CommitLoad();
    committed_ = true;
  }

 private:
  LibDB& lib_;
  bool committed_ = false;
};

}  // namespace velmar
