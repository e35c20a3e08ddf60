#include "indexing/engine_holder.h"

#include "core/file_names.h"
#include "engine/field_catalogue.h"
#include "platform/paths.h"

namespace vantrel {

EngineHolder::EngineHolder(FileSystem* fs) : fs_(fs ? fs : DefaultFileSystem()) {}

EngineHolder::~EngineHolder() { Stop(); }

Status EngineHolder::WriteFieldCatalogue(const std::string& start_dir) {
  // Written whole each time, so nothing of an older catalogue survives.
  return fs_->WriteFileAtomic(JoinNative(start_dir, names::kFieldCatalogue),
                              FieldCatalogue::StandardText());
}

Status EngineHolder::Start(const std::string& home) {
  Stop();
  EngineStartOptions options;
  options.home_folder = home;
  options.fs = fs_;
  VANTREL_ASSIGN_OR_RETURN(engine_, Engine::Start(options));
  // New indexes get a shard per core (unless their shard settings say
  // otherwise), so that an index job writes on every core.
  EngineOptions engine_options = engine_->GetOptions();
  engine_options.new_index_shards = 0;
  engine_->SetOptions(engine_options);
  current_ = engine_.get();
  return Status::Ok();
}

void EngineHolder::Stop() {
  current_ = nullptr;
  if (engine_) {
    engine_->Stop();
    engine_.reset();
  }
}

}  // namespace vantrel
