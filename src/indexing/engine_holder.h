// EngineHolder: the server's one full-text engine, started and stopped by the
// database process task and used by the index pipeline and the search
// service.
//
// The task thread calls Start and Stop (through EngineService); other threads
// call engine() while the task serves. Between Start and Stop the engine
// pointer does not change; engine() is null before a successful Start and
// after Stop.
//
// Thread safety: engine() may be called from any thread; Start, Stop and
// WriteFieldCatalogue from the task thread only.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "core/task_services.h"
#include "engine/engine.h"
#include "platform/file_system.h"

namespace vantrel {

class EngineHolder final : public EngineService {
 public:
  explicit EngineHolder(FileSystem* fs = nullptr);
  ~EngineHolder() override;

  // Writes Fields.Dat into `start_dir`.
  Status WriteFieldCatalogue(const std::string& start_dir) override;
  // Starts the engine with `home` as its home folder; indexes it creates
  // get a shard per core (EngineOptions::new_index_shards).
  Status Start(const std::string& home) override;
  void Stop() override;

  // The running engine, or null.
  Engine* engine() const { return current_.load(); }

 private:
  FileSystem* fs_;
  std::unique_ptr<Engine> engine_;
  std::atomic<Engine*> current_{nullptr};
};

}  // namespace vantrel
