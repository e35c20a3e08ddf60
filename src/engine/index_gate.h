// IndexGate: what a search passes to open a reader of an index, and what the
// index's writers close while they make a change visible in every shard.
//
// The gate is held shared while a reader is opened and exclusively while the
// shards of an add job commit or an installed copy's shards are swapped in,
// so a search sees every shard before the change or every shard after.
//
// While an add job's shards commit, the gate remembers the state the shards
// had when it closed (the shard settings and every local shard's version): a
// search may take an idle reader of exactly that state instead of waiting
// for the commits. Xapian keeps the revision a reader opened intact while a
// writer commits the next one.
//
// Thread safety: every call may be made from any thread; Close and Open, and
// a hold of the mutex, on one thread.
#pragma once

#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "engine/index_files.h"
#include "engine/shard_layout.h"
#include "engine/shard_writer.h"
#include "platform/file_system.h"
#include "platform/mutex.h"

namespace vantrel {

// The state of an index's shards a reader was opened at.
struct IndexState {
  ShardSettings settings;
  std::vector<DatabaseVersion> versions;  // of the local shards, in order
};

// Reads the state of the index in `folder`; nothing when a part of it
// cannot be read (no index, a swap under way).
std::optional<IndexState> ReadIndexState(FileSystem* fs, const std::string& folder);

class IndexGate : public CommitGate {
 public:
  IndexGate(FileSystem* fs, std::string folder) : fs_(fs), folder_(std::move(folder)) {}

  // An add job's commits: closes the gate, then notes the state before them.
  void Close() override;
  void Open() override;

  // While an add job's shards commit, the state before them.
  std::optional<IndexState> StateBeforeCommit();

  // Held shared to open a reader, exclusively to swap shards in.
  std::shared_mutex& mutex() { return mutex_; }

 private:
  FileSystem* const fs_;
  const std::string folder_;
  std::shared_mutex mutex_;
  Mutex state_mu_;
  std::optional<IndexState> before_ GUARDED_BY(state_mu_);
};

}  // namespace vantrel
