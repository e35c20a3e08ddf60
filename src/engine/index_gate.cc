#include "engine/index_gate.h"

#include <utility>

namespace vantrel {

std::optional<IndexState> ReadIndexState(FileSystem* fs, const std::string& folder) {
  StatusOr<ShardSettings> settings = ReadShardSettings(fs, folder);
  if (!settings.ok()) return std::nullopt;
  IndexState state;
  for (const std::string& shard : LocalShardFolders(*settings, folder)) {
    StatusOr<DatabaseVersion> version = ReadDatabaseVersion(fs, shard);
    if (!version.ok()) return std::nullopt;
    state.versions.push_back(*version);
  }
  state.settings = std::move(*settings);
  return state;
}

void IndexGate::Close() {
  mutex_.lock();
  // No writer changes the index while its gate is closed: the state read
  // now is the one before the commits.
  std::optional<IndexState> state = ReadIndexState(fs_, folder_);
  MutexLock lock(&state_mu_);
  before_ = std::move(state);
}

void IndexGate::Open() {
  {
    MutexLock lock(&state_mu_);
    before_.reset();
  }
  mutex_.unlock();
}

std::optional<IndexState> IndexGate::StateBeforeCommit() {
  MutexLock lock(&state_mu_);
  return before_;
}

}  // namespace vantrel
