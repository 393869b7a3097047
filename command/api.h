// API: the scripted working-state object.
//
// A script creates one and drives every layout operation through its
// methods. The object holds all state that lives between two commands: its
// Tech record, ten library slots (one current, each with its working cell),
// the working area, the operation-layer sets and the layer map, the
// temporary layers, the temporary-database stream, the log, twelve counters
// of stored polygons and rule violations, and the fields of host-name lookup
// and distributed processing.
//
// The class is declared here in full; its methods are defined over several
// source files by topic (api.cpp: object, slots, log and counters).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "command/tech.h"
#include "foundation/binary_stream.h"
#include "foundation/box.h"
#include "geometry/op_codes.h"

namespace velmar {

class LayoutExport;
class LibDB;
class DBCell;
class DBSearchSystemKD;
struct PSList;
struct PSPoint;

// Size of the distributed-processing file name field.
constexpr std::size_t MAX_STRING = 1024;

// Number of library slots.
constexpr int kLibrarySlots = 10;

class API {
 public:
  // --- Attributes that scripts read and write (cget/configure, _get/_set);
  // the command binding sets them through these members.
  Tech tech;                  // rule and setting values; built first
  char _dpFile[MAX_STRING];   // distributed-processing file name (scripts)
  char hostName[128];         // filled by HostName
  char ipaddr[16];            // dotted IPv4 address, filled by GetIPAddress
  int _not = 0;               // relational selections take the complement
  int _edge = 0;              // booleans deliver boundary pieces
  int hierarchical = 0;       // hierarchical gathering and storing
  int areaIter = 0;           // area counter kept by the script
  int areaReportIter = 1;     // SetArea reports every areaReportIter-th area
  int dpId = 0;               // distributed-processing id (scripts)

  API();
  // Frees the object's own members: the temporary layers with their points,
  // the temporary-database stream (an open file is closed), the layer sets
  // and map, the rule tables and the Tech with its rule lists. Closes no
  // library (they stay open, unchanged, until CloseLog or the end of the
  // process frees them); the log stays registered with PrintMessage.
  ~API();
  API(const API&) = delete;
  API& operator=(const API&) = delete;

  // --- Log ----------------------------------------------------------------
  // Opens (truncates) the log file and registers it with PrintMessage for
  // the whole process; records the start time. 0 and a message when the
  // file cannot be opened (the previous registration stays).
  int OpenLog(const char* log);
  // Pool reports and releases, the date, the elapsed time since OpenLog;
  // then closes the log file. The last call of a run: every pooled element
  // (temporary layers, search trees, rule lists, shapes) is released, and
  // every open library of every API object is closed first (unsaved
  // changes are dropped, as CloseLibrary drops them).
  void CloseLog();
  // Prints msg as it is; only "%%" becomes "%".
  void Print(const char* msg);

  // --- Library slots ------------------------------------------------------
  // Slot lid (0..9) becomes current, with its library and working cell.
  // Another number prints an error and changes nothing.
  void SetLibrary(int lid);
  // 1 when slot lid holds a library, else 0 (also for lid outside 0..9).
  int ExistLibrary(int lid) const;

  // --- Counters -----------------------------------------------------------
  // Prints every counter that is not 0 with its line.
  void ReportCount();
  // Sets every counter to 0 (as the summary of an update does).
  void ResetCounts();

  // The library of the current slot; null when the slot is empty.
  LibDB* CurrentLibrary() const { return currentLib; }

  // Empties the temporary-layer headers of every live API object without
  // touching their points: call right after the point pool was released.
  static void ForgetPooledPoints();

  // ======== Working cell, area and layer operations ====================

  // --- Working cell and area (api_area.cpp) -------------------------------
  // Chooses the working cell (by name; "" = the first root) in every
  // library slot from 0 up to the first empty one and in the current slot,
  // and the working area in nanometres (an improper box: the cell's box).
  // 1 on success; 0 after a reported failure (unknown cell, unreadable
  // library file, area beyond the coordinate range).
  int SetArea(const char* cname, int x1, int y1, int x2, int y2);
  std::string GetWorkingCell();      // "" when the id names no cell
  int GetCellId(const char* cname);  // -1 when unknown
  // The area in nanometres, rounded outward (x1, y1 down; x2, y2 up).
  int GetAreaX1();
  int GetAreaY1();
  int GetAreaX2();
  int GetAreaY2();
  // The area in database units.
  int GetPureAreaX1();
  int GetPureAreaY1();
  int GetPureAreaX2();
  int GetPureAreaY2();
  int TotalCell();  // cell ids, free ids included
  int TotalRoot();
  int TotalLeaf();
  std::string GetCellName(int i);  // "" for a free or unknown id
  std::string GetRootName(int i);  // "" outside the roots
  std::string GetFirstLeaf();      // "" when there is none
  std::string GetNextLeaf();       // first leaf after the working cell
  int LayerExist(int layer, int datatype);
  void AddOpLayer(int layer, int datatype);
  void AddOpLayer2(int layer, int datatype);
  void ResetOpLayers();
  void ResetOpLayers2();
  // Maps {layer1 datatype1} to {layer2 datatype2}; a mapping of the first
  // pair that exists is kept.
  void AddLayerMap(int layer1, int datatype1, int layer2, int datatype2);
  void ResetLayerMap();

  // --- Cell edits (api_cell_edits.cpp) -------------------------------------
  // Each needs a current library and ends the process with status 1 on a
  // failure (unknown cell, name taken or not storable, orientation outside
  // 0..7, a placement of a cell inside itself or beyond the coordinate
  // range, an Error of the library).
  // A new empty cell; returns its id (the former TotalCell).
  int CreateCell(const char* cname);
  // Renames cell cname1 to cname2; 1.
  int RenameCell(const char* cname1, const char* cname2);
  // Places cell cname into cell pname at (x, y) database units with
  // orientation ori (0..7); 1.
  int AddInstance(const char* cname, const char* pname, int x, int y, int ori);
  // Points every reference to cname1 in pname and below it at cname2; 1.
  int ReplaceCell(const char* cname1, const char* cname2, const char* pname);
  // Removes the references to cname in pname and below it; with pname ""
  // from every cell, and the cell itself goes; 1.
  int RemoveCell(const char* cname, const char* pname);

  // --- Host queries and the job client (api_distributed.cpp) -------------
  // The host name (at most 127 characters), also stored in hostName.
  std::string HostName();
  // The dotted IPv4 address of host hname, also stored in ipaddr; an
  // unknown host ends the process with status 1.
  std::string GetIPAddress(const char* hname);
  // Takes the next job from the job server at the dotted address: the
  // working cell id and the area in database units of the current library,
  // unconverted. 1 when a whole job arrived; 0 (cell and area unchanged)
  // when the server cannot be reached or closes before a whole job.
  int GetDPArea(const char* serverAddress);
  // The same on another port than kJobPort (tests).
  int GetDPArea(const char* serverAddress, int port);

  // --- Density check and polygon repairs (api_repairs.cpp) ---------------
  // Appends to the report file fname (truncated when areaIter is 1) the
  // line "X1 Y1 X2 Y2 D": the working area in nanometres (rounded outward)
  // and the area of the layer's rings inside the working area (overlaps
  // counted twice) divided by the area's. Nothing is written when the layer
  // has nothing there; an unopenable file prints a message and returns.
  void Density(int layer1, int datatype1, const char* fname);
  // The layer cut into vertical pieces, as a new temporary layer; returns
  // its number.
  int FractureV(int layer1, int datatype1);
  // Library-wide repairs of the stored shapes of every cell of the current
  // library: each cell is loaded, repaired, stored anew when it changed (or
  // always, for FixSmallAcute) or held unsaved changes, and unloaded; then
  // "info" is rewritten. A layer outside 0..255 or an Error ends the
  // process with status 1.
  // Shapes of {layer1 datatype1} with acute vertices trimmed by 1 nm, into
  // {layer2 datatype2}.
  void FixSmallAcute(int layer1, int datatype1, int layer2, int datatype2);
  // Squares of half side amount (nm, at least one database unit) on the
  // self-touching vertices of every shape, into {layer datatype}.
  void FindSelfCross(int layer, int datatype, int amount);
  // Every shape that touches itself split into its rings.
  void FixSelfCross();
  // Shapes of {layer1 datatype1} grown by amount (nm, not negative: a
  // negative amount ends the process before the library is tested), into
  // {layer2 datatype2}.
  void SizeUp(int layer1, int datatype1, int layer2, int datatype2, int amount);

  // --- Operation frame and temporary layers (api_frame.cpp) ----------------
  // Numbers of the temporary layers: index i is layer kTempLayerBase - i;
  // the lowest number a temporary layer can have is kLowestTempLayer, so
  // that no temporary layer is ever taken for a library layer (0..255).
  static constexpr int kTempLayerBase = 16384;
  static constexpr int kLowestTempLayer = 256;
  // Appends a new empty temporary layer and returns its index (its number
  // is kTempLayerBase - index). Ends the process with a message when every
  // number is taken.
  int GetTempLayer();
  // Frees the points of the temporary layer; the newest layer also leaves
  // the vector. Ends the process for a number that names no layer.
  void ResetTempLayer(int layer);
  // Frees every temporary layer; the next new layer is kTempLayerBase.
  void ResetTempLayers();
  // Appends the named layers of the working area to list: library layers
  // (layer 0..255) from the working cell's hierarchy inside the area
  // widened by areaMargin, temporary layers moved (datatype 0) or copied.
  // layer2 < 0: one layer only; the second layer's points carry the
  // SecondLayer flag. Throws the library's Error.
  void CollectLayers(PSList& list, int layer1, int datatype1, int layer2,
                     int datatype2);
  // Replaces list by its intersection with the geometry of opLayers inside
  // the working area; with a non-zero size (database units) that geometry
  // is merged and then sized first.
  void GatherAreaLayers(int size, PSList& list);

  // Building blocks of every layer operation.
  // Prints "\n" and the date line as ctime writes it.
  static void PrintDateLine();
  // The current date as ctime writes it (ends with a newline).
  static const char* DateText();
  // Exits with "ERROR: Library not assigned\n" without a current library.
  void RequireLibrary() const;
  // RequireLibrary; then exits with "ERROR: Areas not assigned\n" unless
  // workingCell names a cell of the current library.
  void RequireWorkingArea() const;
  // The working cell (RequireWorkingArea first).
  DBCell* WorkingCellPtr() const;
  // A length in nanometres in database units of the current library,
  // rounded half away from zero; Error "DB" beyond the int32 range.
  int32_t ToDatabaseUnits(double nm) const;
  // The temporary layer of a number, or null when none has that number.
  PSList* FindTempLayer(int number);
  // The same; a number that names no temporary layer ends the process with
  // "ERROR: Temporary layer %d does not exist\n".
  PSList& RequireTempLayer(int number);
  // Refuses, ending the process with status 1, a layer argument of a layer
  // operation that names neither a library layer (layer and datatype
  // 0..255) nor an existing temporary layer: a negative layer number is a
  // temporary layer that does not exist, like one above the last; a library
  // layer with a datatype outside 0..255 prints "ERROR: Layer {%d %d} is not
  // a library layer: datatype must lie in 0..255\n".
  void RequireLayerArgument(int layer, int datatype);
  // An Error that ends a layer operation ends the process through
  // ExitOnError (command/fatal.h).

  // --- Boolean and relational operations (api_boolean.cpp) ----------------
  // Boolean code op (Merge .. NegativeWinding, 0..9) on one layer
  // (layer2 < 0) or two; returns the number of the new temporary layer.
  // Another code ends the process.
  int BooleanOp(BooleanOpCode op, int layer1, int datatype1, int layer2,
                int datatype2);
  // Classifies the two layers against each other into a new temporary
  // layer, the relational database; returns its number.
  int Relate(int layer1, int datatype1, int layer2, int datatype2);
  // Selection code (0..8, 10..23) from the relational database layer1 into
  // a new temporary layer; the database is left as it was.
  int RelationOp(int code, int layer1, int datatype1);
  // --- Sizing (api_sizing.cpp) ----------------------------------------------
  // Grows (amount > 0, nanometres) or shrinks the layer's merged polygons
  // into a new temporary layer; returns its number.
  int SIZING(int layer1, int datatype1, int amount);

  // --- Distance checks (api_checks.cpp) --------------------------------------
  // Each writes the places where the rule is broken (closed rings) into a
  // new temporary layer, adds their vertex count to its counter and returns
  // the layer's number. amount: the rule in nanometres (not negative);
  // kind: 1 corner markers only, 2 and above edge-pair regions only, else
  // both.
  // Gaps in one layer, or between layer 1 and layer 2.
  int SPACE(int layer1, int datatype1, int amount, int kind);
  int SPACE(int layer1, int datatype1, int layer2, int datatype2, int amount,
            int kind);
  // Places where the layer is narrower than amount.
  int WIDTH(int layer1, int datatype1, int amount, int kind);
  // Places where layer 2 encloses layer 1 by less than amount, and the
  // shapes of layer 1 not inside layer 2, whole.
  int Enc(int layer1, int datatype1, int layer2, int datatype2, int amount,
          int kind);

  // --- Rule checks by sizing and by edge projection (api_checks_qc.cpp) -----
  // Amounts in nanometres (not negative: a negative amount ends the
  // process); each returns the number of its new violation layer and adds
  // its point count to its counter. QSPACE and QWIDTH work with half the
  // amount (amount >> 1). In the two-layer forms layer 2 encloses layer 1.
  // Spacing: overlaps of the boundary bands grown by half the rule, and
  // markers at narrow notches.
  int QSPACE(int layer1, int datatype1, int amount);
  // Width: the parts that turn inside out when shrunk by half the rule, and
  // markers at spikes.
  int QWIDTH(int layer1, int datatype1, int amount);
  // Enclosure: the bands grown by the rule that are not inside layer 2.
  int QENC(int layer1, int datatype1, int layer2, int datatype2, int amount);
  // Spacing, width and enclosure by the edge-band checks (edge pairs only):
  // regions between each tested edge and the partner pieces in its band.
  // CENC also reports the polygons of layer 1 not inside layer 2, whole.
  int CSPACE(int layer1, int datatype1, int amount);
  int CWIDTH(int layer1, int datatype1, int amount);
  int CENC(int layer1, int datatype1, int layer2, int datatype2, int amount);

  // --- Reshaping a layer (api_reshape.cpp) ----------------------------------
  // Each returns the number of its new temporary layer.
  // The working area box minus the union of the layer's polygons (their
  // holes belong to the result); an empty layer gives the area box.
  int Inverse(int layer1, int datatype1);
  // The holes of the layer's (merged) polygons as counter-clockwise rings.
  int Holes(int layer1, int datatype1);
  // The outlines of the layer's (merged) polygons, holes filled.
  int FillHoles(int layer1, int datatype1);
  // The union of the first operation-layer set (every layer when it is
  // empty) of the working cell inside the area widened by areaMargin.
  int MergeLayers();

  // Moves temporary layer2 onto the end of temporary layer1; returns layer1.
  int Append(int layer1, int datatype1, int layer2, int datatype2);
  // Simplifies the layer with the tolerance amount (nanometres) into a new
  // temporary layer (a library layer is merged first).
  int Compress(int layer1, int datatype1, int amount);
  // True when the temporary layer of the index holds a relational database
  // as Relate left it.
  bool IsRelationalDB(int index) const;

  // ===== Libraries, storing and loading (api_library.cpp, api_store.cpp,
  // api_load.cpp) ==========================================================

  // --- Opening and closing libraries (api_library.cpp) ---------------------
  // A new library on the directory libName (gz: compressed data and info
  // files) in the current slot, made current; reads and creates no file. A
  // library the slot already held is closed first (as CloseLibrary does,
  // without the memory report). Always 1.
  int OpenLibrary(const char* libName, int gz);
  // Prints the process size, then closes the current library (its buffered
  // cell data is written; changes not written by UpdateLibrary are lost).
  void CloseLibrary();
  // Prints the process size, then closes the library of every slot.
  void CloseLibraries();
  // The directory of the library in slot lid; "" for an empty slot or a
  // number outside 0..9.
  std::string GetLibraryPath(int lid) const;
  // Closes every library of every API object, live or deleted, without a
  // message: the pool release of CloseLog and the end of the process call
  // it first, as libraries hold pooled shapes, placements and search-tree
  // nodes.
  static void CloseEveryLibrary();

  // --- Storing results and the temporary database (api_store.cpp) ----------
  // Stores temporary layer layer1 under library layer {layer2 datatype2}:
  // into the working cell with hierarchical set, else into the temporary
  // database. 1 on success (the source is then empty), 0 after a reported
  // failure.
  int SaveDB(int layer1, int datatype1, int layer2, int datatype2);
  // Clips (outside hierarchical mode), cuts holes open, chops rings above
  // the vertex limit and stores the list under layer * 256 + datatype; the
  // list is then empty. 1; 0 after a reported failure (an Error, or a
  // temporary database that is not open), which leaves the result, as far
  // as it was prepared, in the list: a failed store loses nothing, and no
  // part of its record stays in the temporary database.
  int StorePolygons(PSList& list, int layer, int datatype);
  // Writes temporary layer layer1 to the polygon text file fname (appended
  // to when savedPolygonsText is not 0); the layer is then empty. An empty
  // layer still writes the file, with no polygon. 1; 0 after a reported
  // failure, which keeps the result in the layer.
  int SavePoly(int layer1, int datatype1, const char* fname);
  // Names the temporary database (a plain file, created anew when opened).
  void SetTempDB(const char* fname);
  void OpenTempDB();
  // Writes pending bytes and closes the temporary database.
  void CloseTempDB();
  // Appends every complete record of the temporary database to the stored
  // record of cell cname ("" = the first root).
  void CopyTempDB(const char* cname);
  // Appends the bytes of file fname2 to file fname1.
  void AppendBinaries(const char* fname1, const char* fname2);

  // --- Loading layouts and library maintenance (api_load.cpp) --------------
  // Reads a GDSII file into the current library. 1; 0 after a reported
  // failure, which leaves the library in memory as it was (LibraryLoad). A
  // library that holds cells refuses a file in another database unit.
  int LoadGds(const char* gdsName, int gz, const char* prefix);
  // Reads an OASIS file into the current library, as LoadGds does.
  int LoadOasis(const char* fname, const char* prefix);
  int LoadPoly(const char* fname, const char* cname, int layer, int datatype);
  int LoadLibraryInfo();
  int LoadLibraryInfos();
  int LoadLibraryAll(int db);
  // Writes the changed library files, prints the summary of the counters
  // and sets them to 0.
  void UpdateLibrary();
  void UpdateLibraries();
  // unit: nanometres per database unit (above 0).
  void ChangeDBUnit(double unit);
  void ScaleOut(double sf);
  // Unloads every unmodified cell of the current library except the working
  // cell; they are read again from their data files when needed.
  void ClearMemory();

  // --- Exporting layouts (api_export.cpp) ---------------------------------
  // Writes the current library as a GDSII file (gz: gzip-compressed) after
  // updating it. 1; 1 without a file when no operation layer is in the
  // library; 0 after a reported failure. The target is replaced only by a
  // complete file.
  int WriteGds(const char* gdsName, int gz);
  // The same as an OASIS file; its file is created after the update.
  int WriteOasis(const char* fname);
  // The frame of every layout writer: prints echo (a format with the date
  // and fname), checks the library, creates the output (before or after the
  // update, as the export says), updates the library, reads its tables, skips
  // with skipMessage when no operation layer is in the library, writes.
  int ExportLibrary(const char* echo, const char* fname,
                    const char* skipMessage, LayoutExport& out);

  // --- Area extraction to files (api_extract.cpp) --------------------------
  // The operation layers (every layer when none) of the working area,
  // written to a file. 1; 0 after a reported failure, which leaves the
  // target untouched. Without library or working area the process ends.
  // Every layer flattened into a polygon text file (none for an empty area).
  int ExtractPoly(const char* fname);
  // Every layer flattened into a GDSII file with one cell.
  int ExtractFlatGds(const char* fname, int gz);
  // Every layer merged into {layer datatype}, cut to the area and into
  // tiles of maxSize, into a GDSII file with one cell.
  int ExtractMergedGds(int layer, int datatype, const char* fname, int gz);
  // Every cell the area reaches, clipped to its part of the area, with the
  // hierarchy kept.
  int ExtractHierGds(const char* fname, int gz);
  // The merged, tiled geometry of an area of at most 100 nm as a mask text
  // file.
  int ExtractMsk(int polygonTag, const char* fname);

 protected:
  // --- Working state: set by the methods above only. (A test fixture may
  // derive from API to set up and inspect it.) ----------------------------
  // The last log file opened. The process keeps every log file open until
  // it ends or the file is no longer written (PrintMessage may still write
  // to it after this object is gone); this is not its owner.
  std::ofstream* logFile = nullptr;
  LibDB* currentLib = nullptr;       // library of the current slot
  int workingCell = -1;              // working cell id in currentLib
  int currentSlot = 0;               // 0..9
  std::unique_ptr<LibDB> libs[kLibrarySlots];  // the library slots
  int savedWorkingCells[kLibrarySlots];  // working cell per slot (SetArea)
  Box area;                          // working area, database units
  std::set<int> opLayers;            // layer keys (layer * 256 + datatype)
  std::set<int> opLayers2;
  // Counters: every operation adds to its counter; UpdateLibrary prints the
  // summary and sets them to 0.
  int savedPolygonsDB = 0;
  int savedPolygonsText = 0;
  int lengthViolations = 0;
  int acuteViolations = 0;
  int spaceViolations = 0;
  int widthViolations = 0;
  int encViolations = 0;
  int sspaceViolations = 0;
  int swidthViolations = 0;
  int sencViolations = 0;
  int offgridViolations = 0;
  int non45Violations = 0;
  time_t startTime = 0;              // set by OpenLog
  std::map<int, int> layerMap;       // layer key -> layer key
  BinaryStream tempDB;               // temporary database file (plain)
  // Temporary layer i is number kTempLayerBase - i; the headers are owned
  // here, their points come from the point pool.
  std::vector<std::unique_ptr<PSList>> tempLayers;
  std::unique_ptr<DBSearchSystemKD> biasTable;    // prepared bias rules
  std::unique_ptr<DBSearchSystemKD> endcapTable;  // prepared end-cap rules
  int maxBias = 0;
  int maxEndcap = 0;

 private:
  // The counters with the lines ReportCount prints, in its order.
  struct CounterLine {
    int API::*counter;
    const char* format;
  };
  static const CounterLine kCounterLines[12];

  // The loop of the library-wide repairs: perCell(cell) on every cell with
  // a proper box, the cell stored anew as said there, unloaded; then the
  // layer key addedKey (unless negative) joins the layer table and the
  // index files are rewritten. Returns the sum of perCell's results.
  template <class PerCell>
  int RepairCells(PerCell perCell, bool alwaysStore, int32_t addedKey);

  // The course of a one-layer-gathering rule check after its echo:
  // BeginCheck (name in its message), layer 1 gathered, the new temporary
  // layer, the empty-input warning; then engine(input, violations) returns
  // the size of the hierarchical gathering, and FinishCheck cuts, reports
  // with violationLine, counts into counter and stores.
  using CheckEngine = std::function<int32_t(PSList& input, PSList& violations)>;
  int RunCheck(const char* name, int amount, int layer1, int datatype1,
               const char* violationLine, int API::*counter,
               const CheckEngine& engine);

  // The course of Holes (holes set) and FillHoles under the echo name.
  int SelectHoleRings(const char* name, int layer1, int datatype1,
                      bool holes);

  // Destroys the library of slot and empties the slot (and currentLib when
  // it was the current one).
  void CloseSlot(int slot);

  // The distance checks' shared steps (api_checks.cpp): the preconditions
  // and the refusal of a negative amount ("ERROR: %s takes no negative
  // amount\n" with the echo name, exit 1); the working area widened by
  // areaMargin; the violations cut back to the area (or to the operation
  // layers sized by hierSize), reported with line, counted and moved into
  // out.
  void BeginCheck(const char* name, int amount);
  Box CheckWindow() const;
  void FinishCheck(PSList& violations, PSList& out, int32_t hierSize,
                   const char* line, int API::*counter);

  // Chain of the live API objects (ForgetPooledPoints).
  API* livePrev_ = nullptr;
  API* liveNext_ = nullptr;

  // Relational databases among the temporary layers: index -> the
  // head and point count Relate left; a layer whose header no longer shows
  // them has been consumed or changed since.
  struct RelationalMark {
    const PSPoint* head = nullptr;
    int32_t pointCount = 0;
  };
  std::map<int, RelationalMark> relationalLayers_;
  // Sets the working cell of slot k from cname; false after the
  // "not defined" message.
  bool PickSlotCell(int k, const char* cname);
};

}  // namespace velmar
