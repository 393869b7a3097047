// API: exporting the current library as a layout file.

#include <map>
#include <memory>
#include <string>

#include "command/api.h"
#include "command/api_library_support.h"
#include "command/layout_export.h"
#include "formats/gds_writer.h"
#include "foundation/error.h"
#include "layoutdb/lib_db.h"

namespace velmar {

using namespace api_support;

namespace {

// GDSII output: the writer is made (its file created) at once.
class GdsExport : public LayoutExport {
 public:
  GdsExport(std::string path, bool gzip, int vertexLimit)
      : path_(std::move(path)), gzip_(gzip), vertexLimit_(vertexLimit) {}
  void Create(const LayerKeySet* filter,
              const std::map<LayerKey, LayerKey>* map) override {
    writer_ = std::make_unique<GdsWriter>(path_, gzip_);
    writer_->SetVertexLimit(vertexLimit_);
    writer_->layerFilter = filter;
    writer_->layerMap = map;
  }
  void Write(LibDB& lib) override {
    writer_->WriteLibrary(&lib);
    writer_->Finish();
  }

 private:
  std::string path_;
  bool gzip_;
  int vertexLimit_;
  std::unique_ptr<GdsWriter> writer_;
};

// True when some key of the set is in the library's layer table.
bool AnyLayerPresent(const LibDB& lib, const std::set<int>& keys) {
  for (int key : keys)
    if (lib.layers.count(key) != 0) return true;
  return false;
}

}  // namespace

int API::ExportLibrary(const char* echo, const char* fname,
                       const char* skipMessage, LayoutExport& out) {
  PrintMessage(echo, API::DateText(), fname);
  RequireLibrary();
  LibDB& lib = *currentLib;
  const LayerKeySet* filter = opLayers.empty() ? nullptr : &opLayers;
  const std::map<LayerKey, LayerKey>* map = layerMap.empty() ? nullptr : &layerMap;
  try {
    if (out.createsBeforeUpdate) out.Create(filter, map);
    UpdateLibrary();
    if (!lib.HasFlags(LibDB::InfoRead)) lib.ReadInfo();
    if (!opLayers.empty() && !AnyLayerPresent(lib, opLayers)) {
      PrintMessage("%s", skipMessage);
      return 1;
    }
    if (!lib.HasFlags(LibDB::NamesRead)) lib.ReadNames();
    if (!out.createsBeforeUpdate) out.Create(filter, map);
    out.Write(lib);
    return 1;
  } catch (const Error& e) {
    PrintError(e);
    return 0;
  }
}

int API::WriteGds(const char* gdsName, int gz) {
  GdsExport out(gdsName != nullptr ? gdsName : "", gz != 0, tech.maxVertice);
  return ExportLibrary("\n%sWriting GDS %s\n", gdsName,
                       "No defined layers exist, skipping GDSOut\n", out);
}

}  // namespace velmar
