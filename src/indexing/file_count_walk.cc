#include "indexing/file_count_walk.h"

#include "core/browse_list.h"
#include "core/list_lock_table.h"
#include "platform/mutex.h"
#include "platform/process.h"
#include "scan/folder_scanner.h"

namespace vantrel {

FileCountWalk::FileCountWalk(FileSystem* fs, const CodePage& cp,
                             std::vector<std::pair<int, std::string>> roots,
                             WorkCounters* counters, const std::atomic<bool>* stop)
    : fs_(fs), cp_(cp), roots_(std::move(roots)), counters_(counters), stop_(stop) {
  thread_ = std::thread([this] { Run(); });
}

FileCountWalk::~FileCountWalk() {
  cancel_ = true;
  thread_.join();
}

void FileCountWalk::Run() {
  SetThreadName("vt-count");
  FolderScanner scanner(fs_, cp_);
  Mutex scratch_lock;
  uint64_t files = 0;
  for (const auto& [slot, root] : roots_) {
    BrowseList scratch;
    const bool whole = scanner.FullListing(slot, root, LockedBrowseList(&scratch_lock, &scratch),
                                           [&](const ScannedEntry&) {
                                             ++files;
                                             return !cancel_.load() && !stop_->load();
                                           });
    if (!whole) return;
  }
  counters_->SetTotal(files);
}

}  // namespace vantrel
