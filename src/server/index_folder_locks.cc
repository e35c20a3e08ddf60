// Locks of the served index folders (see index_folder_locks.h).

#include "server/index_folder_locks.h"

#include <set>

#include "core/file_names.h"
#include "platform/process_setup.h"

namespace vantrel {
namespace {

std::string IndexLabel(const IndexDefinition& def) {
  return "Index " + def.name + " (" + def.index_folder + ")";
}

}  // namespace

std::string IndexFolderLocks::OwnerText(const std::string& start_dir) {
  return "pid " + std::to_string(CurrentProcessId()) + ", start directory " + start_dir;
}

void IndexFolderLocks::LockServedIndexes(Configuration* config,
                                         const std::function<void(const std::string&)>& log) {
  std::map<std::string, InstanceLock> kept;
  std::set<std::string> claimed;
  for (IndexDefinition& def : config->indexes) {
    if (!def.active) continue;
    const std::string& folder = def.index_folder;
    if (!claimed.insert(folder).second) {
      log(IndexLabel(def) + " is not served: another index of this server uses the same folder");
      def.active = 0;
      continue;
    }
    auto held = held_.find(folder);
    if (held != held_.end() && held->second.StillLinked()) {
      kept.emplace(folder, std::move(held->second));
      continue;
    }
    if (held != held_.end()) held_.erase(held);  // its file was deleted: lock the new one
    std::string holder;
    StatusOr<InstanceLock> lock = InstanceLock::AcquireBelow(folder, names::kDataFolder,
                                                             names::kIndexLockFile, owner_, &holder);
    if (lock.ok()) {
      kept.emplace(folder, std::move(lock.value()));
    } else if (lock.status().code() == StatusCode::kNotFound) {
      continue;  // no such folder: the folder checks say so and stop the index
    } else if (lock.status().code() == StatusCode::kFailedPrecondition) {
      log(IndexLabel(def) + " is not served: another Vantrel server serves it (" +
          (holder.empty() ? std::string("holder unknown") : holder) + ")");
      def.active = 0;
    } else {
      log(IndexLabel(def) + " is not served: cannot lock its folder: " + lock.status().ToString());
      def.active = 0;
    }
  }
  held_ = std::move(kept);  // the locks of folders no longer served are dropped
}

}  // namespace vantrel
