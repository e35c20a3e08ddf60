#include "server/server_services.h"

#include <utility>

#include "catalogue/volume_lists.h"
#include "pdf/pdf_text.h"
#include "pdf/renderer_link.h"
#include "pdf/thumbnail_service.h"
#include "search/search_worker.h"

namespace vantrel {

// The pieces whose types the header need not show.
struct ServerServices::Extras {
  Extras(PdfTextOptions pdf, RendererLinkOptions render)
      : pdf_text(std::move(pdf)), renderer(std::move(render)), thumbnails(&renderer) {}
  PdfTextExtractor pdf_text;
  SocketRendererLink renderer;
  ThumbnailService thumbnails;
};

ServerServices::ServerServices(ServerServicesOptions options)
    : options_(std::move(options)), engine_(options_.fs) {
  FileSystem* fs = options_.fs ? options_.fs : DefaultFileSystem();
  PdfTextOptions pdf = PdfTextOptions::FromEnvironment();
  pdf.max_text_bytes = kMaxPdfTextBytes;
  pdf.log = options_.log;
  RendererLinkOptions render = RendererLinkOptions::ForStartDirectory(options_.start_dir);
  extras_ = std::make_unique<Extras>(std::move(pdf), std::move(render));

  PipelineOptions pipeline;
  pipeline.engine = &engine_;
  pipeline.cache = &cache_;
  pipeline.fs = fs;
  pipeline.document_readers = options_.document_readers;
  pipeline.pdf_text = [this](const std::string& path, const std::atomic<bool>* cancel) {
    return extras_->pdf_text.Extract(path, cancel);
  };
  pipeline.queue_thumbnail = [this](TaskContext& task, const ThumbnailRequest& request) {
    extras_->thumbnails.Queue(task, request);
  };
  pipeline.write_volume_lists = [fs, log = options_.log](const IndexDefinition& def) {
    fs->CreateFolders(def.lists_folder).IgnoreError();
    Status written = WriteVolumeLists(def, fs, def.lists_folder);
    if (!written.ok() && log) log("Cannot write the volume lists of " + def.index_folder + ": " +
                                  written.ToString());
  };
  pipeline_ = std::make_unique<Pipeline>(std::move(pipeline));
  search_ = std::make_unique<SearchWorker>(&engine_, &cache_, fs);
}

ServerServices::~ServerServices() = default;

TaskServices ServerServices::services() {
  TaskServices s;
  s.engine = &engine_;
  s.pipeline = pipeline_.get();
  s.search = search_.get();
  s.thumbnails = &extras_->thumbnails;
  return s;
}

}  // namespace vantrel
