// ServerServices: the subsystems a running server plugs into its database
// process task: the full-text engine, the index pipeline (with the PDF text
// extractor and the volume lists) and the search service, with the result
// cache they share.
//
// Thread safety: built once before the task starts and destroyed after it
// ended; the objects themselves say how their methods may be called.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/task_services.h"
#include "indexing/engine_holder.h"
#include "indexing/index_pipeline.h"
#include "indexing/result_cache.h"

namespace vantrel {

struct ServerServicesOptions {
  FileSystem* fs = nullptr;  // DefaultFileSystem() when null
  // Lines for the event log from subsystems outside the task's threads (the
  // PDF text extractor's reports). May be empty.
  std::function<void(const std::string& line)> log;
  // The start directory: the renderer's socket lives there.
  std::string start_dir = ".";
  // Reader threads of the start-up catch-up (PipelineOptions).
  int document_readers = kDefaultDocumentReaders;
};

class ServerServices {
 public:
  explicit ServerServices(ServerServicesOptions options);
  ~ServerServices();
  ServerServices(const ServerServices&) = delete;
  ServerServices& operator=(const ServerServices&) = delete;

  // The set to hand to the task.
  TaskServices services();

  EngineHolder& engine() { return engine_; }
  ResultCache& cache() { return cache_; }

 private:
  struct Extras;
  ServerServicesOptions options_;
  EngineHolder engine_;
  ResultCache cache_;
  std::unique_ptr<Extras> extras_;
  std::unique_ptr<Pipeline> pipeline_;
  std::unique_ptr<SearchService> search_;
};

}  // namespace vantrel
