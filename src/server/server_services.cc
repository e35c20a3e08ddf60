#include "server/server_services.h"

#include <utility>

namespace vantrel {

// The pieces whose types the header need not show.
struct ServerServices::Extras {};

ServerServices::ServerServices(ServerServicesOptions options)
    : options_(std::move(options)),
      engine_(options_.fs),
      extras_(std::make_unique<Extras>()) {
  PipelineOptions pipeline;
  pipeline.engine = &engine_;
  pipeline.cache = &cache_;
  pipeline.fs = options_.fs;
  pipeline_ = std::make_unique<Pipeline>(std::move(pipeline));
}

ServerServices::~ServerServices() = default;

TaskServices ServerServices::services() {
  TaskServices s;
  s.engine = &engine_;
  s.pipeline = pipeline_.get();
  return s;
}

}  // namespace vantrel
