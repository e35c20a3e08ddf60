// ChangeWatcher: automatic fast indexing. Watches every image folder and the
// search folder of every active index, and hands what changes to a ChangeSink:
// image-folder changes go to the folder's change queue (for the index update
// job), request files to the server's request intake, marked complete (closed
// by their writer or renamed into place) or still changing.
//
// One notifier and one thread (the change watcher) serve every watched folder
// of every index. The watcher only drains notifications; the consumers
// coalesce and read files.
//
// Completion keys: (index << 16) | (slot + 1) for image folder `slot`,
// (index << 16) | 0xFFFF for the search folder. Key 0 never occurs: a wake-up
// ends the watcher instead.
//
// A folder that cannot be watched (missing, on a network mount where other
// hosts' changes raise no events, or refused by the kernel) is left to the
// poll thread, which lists unwatched folders every 2 minutes instead of 4
// (and watches again a folder whose watch was lost, once it is back); a
// search folder that cannot be watched is listed by the server's request
// intake every 250 ms.
//
// Thread safety: Arm() is called by the task thread before the watcher thread
// starts; RunOnce()/Run() by the watcher thread; Stop() by any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/config_file.h"
#include "core/notices.h"
#include "platform/change_notifier.h"
#include "platform/file_system.h"
#include "platform/mutex.h"
#include "scan/change_sink.h"

namespace vantrel {

inline constexpr uint32_t kSearchFolderSlot = 0xFFFF;

inline uint32_t WatchKey(int index, int slot) {
  return (static_cast<uint32_t>(index) << 16) | static_cast<uint32_t>(slot + 1);
}
inline uint32_t SearchWatchKey(int index) {
  return (static_cast<uint32_t>(index) << 16) | kSearchFolderSlot;
}

// What arming found for one folder.
struct ArmedFolder {
  int index = 0;
  int slot = 0;  // -1 for the search folder
  std::string path;
  bool armed = false;
  std::string reason;  // why not armed ("" when armed or silently skipped)
};

// The arrival filter for request files: true when `name` (a code-page name of
// at most 255 characters) ends in "REQ" or "QRY", upper case exactly; a
// ".req" is never served.
bool IsRequestFileName(std::string_view name);

// Readies the search folder of an index for serving: requests left from an
// earlier run are deleted (they are never served) and so is "VTSTATUS".
void ClearSearchFolder(FileSystem* fs, const IndexDefinition& def);

class ChangeWatcher {
 public:
  struct Options {
    FileSystem* fs = nullptr;          // not owned
    NoticeSink* notices = nullptr;     // not owned
    ChangeSink* sink = nullptr;        // not owned
    // Texts of the notice for a folder that cannot be watched.
    std::string error_caption = "Error";
    std::string no_watch_text = "Could not set automatic fast indexing on folder";
    // Stands in for the notifier (tests); empty: a real one is made.
    std::unique_ptr<ChangeNotifier> notifier;
    // Checks whether a folder is on a network mount (tests); empty: the mount table.
    std::function<bool(const std::string&)> is_network_mount;
  };

  // kIoError when no notifier can be made.
  static StatusOr<std::unique_ptr<ChangeWatcher>> Create(Options options);

  // Arms the watches of every active index of `config`: empties each search
  // folder, watches each used image folder slot and the search folder, and
  // deletes the search folder's "VTSTATUS". Returns what became of each
  // folder. The index's search-folder watch is armed only when its folder
  // exists. May be called again (a later preparation pass): existing watches
  // are replaced.
  std::vector<ArmedFolder> Arm(const Configuration& config);

  // Waits for one batch of notifications and hands it to the sink. Returns
  // false once Stop() was called (after handing over what arrived with it).
  // A search folder that is deleted or moved away (a watch does not keep
  // clients from doing so) is made again where it was (in place of a link
  // put there) and watched again, and the requests already standing in it
  // are handed on as changing.
  bool RunOnce();
  // Watches image folder `slot` of `index` at `path` again, after its watch
  // was lost (the folder was deleted, moved or unmounted and is back). False
  // when it cannot be watched, or is back as a network mount. Any thread.
  bool RearmImageFolder(int index, int slot, const std::string& path);
  // RunOnce until Stop().
  void Run();
  // Ends Run(); the watcher's "key 0" packet. Any thread.
  void Stop();

  // Changes the index count below which packets are accepted (packets for a
  // higher index are ignored).
  void set_index_count(int count) { index_count_ = count; }

 private:
  explicit ChangeWatcher(Options options) : options_(std::move(options)) {}
  void Deliver(const ChangeEvent& event);
  void RearmSearchFolder(int index);

  Options options_;
  std::atomic<int> index_count_{0};
  Mutex mu_;
  // The search folder of each armed index, by index number.
  std::map<int, std::string> search_folders_ GUARDED_BY(mu_);
};

}  // namespace vantrel
