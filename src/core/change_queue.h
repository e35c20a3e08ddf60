// ChangeQueue: the names that the change watcher saw change in one watched
// folder, waiting for their consumer (the index update job for an image
// folder, the search dispatcher for a search folder).
//
// One entry per name: a name that changes again replaces its entry, so the
// consumer sees only the latest action. Entries are kept in name order and
// taken from the end.
//
// Thread safety: none of its own. Every queue is guarded by a lock of the task
// context (the change-queue lock for image folders, the request lock for
// search folders); callers hold it for each call.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// Actions are the numbers of ChangeAction (platform/inotify_buffer.h); 0 marks
// an entry that a re-listing of the folder found, not a notification.
inline constexpr uint32_t kActionListed = 0;

struct ChangeEntry {
  std::string key;          // code-page name relative to the watched folder, '\' separated
  std::string native_name;  // the name as it is on disk: UTF-8, '/' separated
  uint32_t action = kActionListed;
};

class ChangeQueue {
 public:
  // Replaces an entry of the same key (compared without regard to case) or adds one.
  void Put(ChangeEntry entry);
  // Removes and returns the entry with the largest key in name order.
  std::optional<ChangeEntry> TakeLast();
  // The entry with this key, if any.
  const ChangeEntry* Find(std::string_view key) const;
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void Clear() { entries_.clear(); }

 private:
  struct NoCaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  std::map<std::string, ChangeEntry, NoCaseLess> entries_;
};

}  // namespace vantrel
