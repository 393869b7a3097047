// API: exporting the current library as a layout file.

#include <map>
#include <memory>
#include <string>

#include "command/api.h"
#include "command/api_library_support.h"
#include "command/layout_export.h"
#include "formats/gds_writer.h"
#include "formats/oasis_file.h"
#include "foundation/error.h"
#include "layoutdb/atomic_file.h"
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

// OASIS output: the file is created only after the library update, then
// written whole to a temporary file that replaces the target when complete.
class OasisExport : public LayoutExport {
 public:
  explicit OasisExport(std::string path) : path_(std::move(path)) {
    createsBeforeUpdate = false;
  }
  void Create(const LayerKeySet* filter,
              const std::map<LayerKey, LayerKey>* map) override {
    filter_ = filter;
    map_ = map;
    file_ = std::make_unique<AtomicFile>(path_, "OASISOUT",
                                         "Cannot open file " + path_ + "!");
    file_->CloseDescriptor();
  }
  void Write(LibDB& lib) override {
    WriteOasisFile(lib, file_->TempPath(), filter_, map_);
    file_->Commit("Cannot write file " + path_ + "!");
  }

 private:
  std::string path_;
  const LayerKeySet* filter_ = nullptr;
  const std::map<LayerKey, LayerKey>* map_ = nullptr;
  std::unique_ptr<AtomicFile> file_;  // removes its temporary file unless committed
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

int API::WriteOasis(const char* fname) {
  OasisExport out(fname != nullptr ? fname : "");
  return ExportLibrary("\n%sWriting OASIS %s\n", fname,
                       "No defined layers exist, skipping OASISOut\n", out);
}

}  // namespace velmar
