// IndexFolderLocks: one server per index folder.
//
// Two servers whose configurations name the same index folder would fight
// over its lists and both answer its requests. Before the task prepares its
// indexes it locks every served index folder (an InstanceLock on
// VT_DATA/.vantrel-index.lock, owner text "pid N, start directory D"); an
// index whose folder another server holds is not served by this one, with an
// event-log line naming the holder, and the other indexes work as usual. The
// same holds for two indexes of one configuration that name the same folder:
// the first one serves it.
//
// The locks are kept for the task's life, across its restart cycles, and
// dropped for indexes that are no longer served. A rebuild empties VT_DATA
// and so deletes the lock file; the next pass notices (StillLinked) and takes
// the lock afresh on the new file.
//
// Thread safety: used by the task thread only.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "core/config_file.h"
#include "platform/instance_lock.h"

namespace vantrel {

class IndexFolderLocks {
 public:
  // `owner_info` is written into every lock file this object takes.
  explicit IndexFolderLocks(std::string owner_info) : owner_(std::move(owner_info)) {}

  // Locks the folder of every active index of `config` and clears `active`
  // (in this copy only, which is never saved) for each index that cannot be
  // locked, telling `log` why. An index folder that does not exist is left
  // to the folder checks that follow.
  void LockServedIndexes(Configuration* config, const std::function<void(const std::string&)>& log);

  // The text each lock file carries for this process.
  static std::string OwnerText(const std::string& start_dir);

 private:
  std::string owner_;
  std::map<std::string, InstanceLock> held_;  // by index folder
};

}  // namespace vantrel
