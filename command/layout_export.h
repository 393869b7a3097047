// The frame of the layout writers: what API::WriteGds (and the OASIS
// writer's API::WriteOasis) hand their writer and in which order.
//
// A format plugs in by implementing LayoutExport: Create makes its output
// (a temporary file beside the target) with the writer settings, Write
// writes the whole library and renames the file over the target. An export
// dropped before Write has completed leaves the target untouched.
#pragma once

#include <map>

#include "layoutdb/layer_key.h"

namespace velmar {

class LibDB;

class LayoutExport {
 public:
  virtual ~LayoutExport() = default;
  // The output is created before the library is updated (GDSII: a target
  // that cannot be created ends the export before the update) when set,
  // else only after the layer check, just before Write.
  bool createsBeforeUpdate = true;
  // Creates the output with the writer settings: the layer filter (null:
  // every layer) and the layer map (null: none). Throws Error.
  virtual void Create(const LayerKeySet* filter,
                      const std::map<LayerKey, LayerKey>* map) = 0;
  // Writes the library, closes the output and puts it in place. Throws
  // Error.
  virtual void Write(LibDB& lib) = 0;
};

}  // namespace velmar
