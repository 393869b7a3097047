// The cell record: the stored form of one cell in a cell data file, and the
// one reader and writer of it.
//
// A cell record is a run of layer blocks (uint16 layer word, datatype byte,
// shape count, shapes) in ascending layer key order, followed, when the
// cell has references, by the marker word kReferenceMarker and the
// reference records. Counts, values and coordinates are chained integers;
// placements and reference origins are stored as differences to the
// previous one (modulo 2^32). The record has no header or terminator: the
// cell's start, reference and end positions say where it lies.
//
// Reading trusts nothing: every count, header and flag is checked against
// what a record can hold, and errors are thrown as "LIBIN". Writing refuses
// ("LIBOUT") what the reader would refuse, so a record once written can
// always be read back.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/binary_stream.h"
#include "layoutdb/layer_key.h"
#include "layoutdb/owned_vector.h"
#include "layoutdb/trans.h"

namespace velmar {

class DBCell;
class DBPolygon;
struct CPgonList;

// A stream position as a stored record offset: every position must fit
// int32, else Error("Cell file position invalid", unit).
int32_t StoredPosition(int64_t position, const char* unit);

// Reads the parts of a cell record from a stream, up to the record's end.
class CellRecordReader {
 public:
  // in is positioned inside a record that ends at end; cells is the
  // library's cell table (references name cells by id).
  CellRecordReader(BinaryStream& in, int64_t end,
                   const OwnedVector<DBCell>& cells)
      : in_(in), end_(end), cells_(cells) {}

  // Reads layer blocks into the cell's raw layers (with index also one
  // search tree per layer, region the cell's box) from the stream position
  // on. True when it stopped at the reference marker (the stream is then
  // just after it), false at the record's end.
  bool ReadLayers(DBCell& cell, bool index);
  // Reads reference records up to the record's end into the cell's
  // reference tree (created with the cell's box as region when absent).
  // References to missing or empty cells are dropped.
  void ReadReferences(DBCell& cell);
  // Reads one layer block from the stream position without keeping its
  // shapes: merges the placed box of every placement into box and returns
  // the block's key. Refuses (a reference marker included) what ReadLayers
  // refuses.
  LayerKey ScanLayer(Box& box);
  // Receives the shapes of one layer block as ReadLayerShapes streams them:
  // each polygon, then each of its placements.
  class ShapeSink {
   public:
    virtual void Shape(std::unique_ptr<DBPolygon> polygon) = 0;
    virtual void Placement(int32_t x, int32_t y) = 0;

   protected:
    ~ShapeSink() = default;
  };
  // Reads the head of the next part of the record from the stream position:
  // true with the key of a layer block (its shapes follow, see
  // ReadLayerShapes), false at the reference marker (the stream is then
  // just after it).
  bool ReadLayerHead(LayerKey& key);
  // Streams the shapes of the layer block whose head was just read to sink,
  // with the checks of ReadLayers; nothing of them is kept.
  void ReadLayerShapes(ShapeSink& sink);
  // One polygon record.
  std::unique_ptr<DBPolygon> ReadPolygon();
  // One reference record; null when it refers to a missing or empty cell.
  // previousId and previousOrigin carry the delta coding from one record
  // of a section to the next.
  std::unique_ptr<SRef> ReadReference(int32_t& previousId,
                                      Point& previousOrigin);

 private:
  BinaryStream& in_;
  int64_t end_;
  const OwnedVector<DBCell>& cells_;
};

// A square or rectangle of a layer as a layout reader meets it: its
// lower-left corner and its sides (both above 0). Held in an array rather
// than as a shape, so that a flat cell of millions of rectangles costs no
// allocation per shape.
struct PlacedRectangle {
  LayerKey key;
  int32_t x, y;
  int32_t width, height;
};

// Writes the parts of one cell record to a stream, in the record's order:
// layer blocks in ascending key order, then BeginReferences and the
// references.
class CellRecordWriter {
 public:
  // cellCount: the number of cells of the library (a reference must name
  // one of them).
  CellRecordWriter(BinaryStream& out, size_t cellCount)
      : out_(out), cellCount_(cellCount) {}

  // The layer block of the shapes of layer that have placements (a shape
  // without one is nothing to store); nothing when none has. A shape the
  // reader would refuse throws before anything of the block is written.
  void WriteLayer(LayerKey key, const CPgonList& layer);
  // Sorts the layer by polygon and merges equal shapes, then writes its
  // block, releasing each shape once written: the layer is empty
  // afterwards. Nothing is written for an empty layer.
  void MoveLayer(LayerKey key, CPgonList& layer);
  // The layer blocks of a cell whose shapes are all squares and rectangles,
  // in ascending key order, exactly as MoveLayer writes them for the same
  // rectangles held as shapes: equal shapes of a layer merged, placements
  // sorted (x, then y) and each placement kept once. Sorts rectangles.
  void WriteRectangles(std::vector<PlacedRectangle>& rectangles);
  // Writes the marker that starts the reference section.
  void BeginReferences();
  // One reference record, delta-coded against the previous one written
  // since BeginReferences.
  void WriteReference(const SRef& ref);
  // The same with the previous reference kept by the caller (null for the
  // first of a section); previous then points at ref.
  void WriteReference(const SRef& ref, const SRef*& previous);

 private:
  BinaryStream& out_;
  size_t cellCount_;
  const SRef* previous_ = nullptr;
};

}  // namespace velmar
