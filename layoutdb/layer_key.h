// Layer keys: one integer naming a layer and datatype pair, the key of a
// cell's layer maps, of the library's layer table and of the layer filters
// and maps of the readers and the command layer.
//
// A key is layer * 256 + datatype:
//  - drawn layers: layer 0..255, datatype 0..255 (keys 0 .. 0xFFFF), the
//    layers of the layout files ("library pairs");
//  - work layers: keys from WorkLayerKey (layer 256 and up), derived by the
//    command layer and hierarchy processing;
//  - ReferenceKey: the reference layer (layer 0x4000, datatype 0); keys
//    above it (hierarchy processing's environment references) hold
//    reference objects in the same way.
// Ordered containers of keys visit drawn, work and reference layers in this
// order.
//
// In a cell record a layer is stored as its layer word (uint16) and its
// datatype byte; the layer word of the reference layer is the marker that
// starts a record's reference section.
#pragma once

#include <cstdint>
#include <set>

namespace velmar {

using LayerKey = int32_t;

inline constexpr LayerKey WorkLayerKey = 0x10000;
inline constexpr LayerKey ReferenceKey = 0x400000;
// "No layer": a layer and datatype pair that names no library layer.
inline constexpr LayerKey NoLayerKey = -1;

// A set of layer keys used as a filter (empty or null: every key passes,
// unless an operation says otherwise).
using LayerKeySet = std::set<LayerKey>;

// The key of layer and datatype: layer * 256 + datatype.
constexpr LayerKey MakeLayerKey(int32_t layer, int32_t datatype) {
  return layer * 256 + datatype;
}
// The layer and datatype a key names.
constexpr int32_t LayerOf(LayerKey key) { return key >> 8; }
constexpr int32_t DatatypeOf(LayerKey key) { return key & 0xFF; }

// True when layer and datatype name a drawn layer of a library (both in
// 0..255); any other pair would alias another layer's key.
constexpr bool IsLibraryPair(int32_t layer, int32_t datatype) {
  return layer >= 0 && layer <= 255 && datatype >= 0 && datatype <= 255;
}
// The key of a library pair, or NoLayerKey for any other pair.
constexpr LayerKey LibraryLayerKey(int32_t layer, int32_t datatype) {
  return IsLibraryPair(layer, datatype) ? MakeLayerKey(layer, datatype)
                                        : NoLayerKey;
}
// True for the keys of drawn layers: 0 .. 0xFFFF.
constexpr bool IsDrawnLayerKey(LayerKey key) {
  return key >= 0 && key < WorkLayerKey;
}
// True for the keys a raw layer may have: 0 <= key < ReferenceKey.
constexpr bool IsShapeLayerKey(LayerKey key) {
  return key >= 0 && key < ReferenceKey;
}
// True for the layers whose items are reference objects: the reference
// layer and the environment reference layer (layer 0x4000).
constexpr bool IsReferenceLayer(LayerKey key) {
  return LayerOf(key) == LayerOf(ReferenceKey);
}

// True when key passes filter: null or empty lets every key pass.
inline bool PassesFilter(const LayerKeySet* filter, LayerKey key) {
  return filter == nullptr || filter->empty() || filter->count(key) != 0;
}

// --- Stored form in a cell record --------------------------------------------
// The layer word that starts a record's reference section (the layer of
// ReferenceKey); layer words of layer blocks lie below it.
inline constexpr uint16_t kReferenceMarker = uint16_t(LayerOf(ReferenceKey));
inline constexpr uint16_t kMaxStoredLayerWord = kReferenceMarker - 1;

constexpr bool IsReferenceMarker(uint16_t layerWord) {
  return layerWord == kReferenceMarker;
}
// The layer word and datatype byte a key is stored as.
constexpr uint16_t StoredLayerWord(LayerKey key) {
  return uint16_t(uint32_t(key) >> 8);
}
constexpr uint8_t StoredDatatype(LayerKey key) { return uint8_t(key & 0xFF); }
// The key of a stored layer word and datatype byte.
constexpr LayerKey KeyFromStored(uint16_t layerWord, uint8_t datatype) {
  return MakeLayerKey(int32_t(layerWord), int32_t(datatype));
}

// Order of the library's layer table: keys compared as unsigned 32-bit
// values (the order the info file lists them in).
struct LayerTableOrder {
  constexpr bool operator()(LayerKey a, LayerKey b) const {
    return uint32_t(a) < uint32_t(b);
  }
};

}  // namespace velmar
