// ChangeSink: what the change watcher hands its findings to.
//
// The watcher only drains the kernel's notifications; the sink (supplied by
// the server) puts image-folder changes into the folder's change queue and
// request files into the index's request list, under the task's locks.
//
// Thread safety: called from the change watcher's thread only.
#pragma once

#include <cstdint>
#include <string>

#include "core/change_queue.h"

namespace vantrel {

// What the watcher knows of a request file when it hands the name on.
enum class RequestNotice {
  // The writer has closed the file, or it was renamed into place: it is
  // whole and may be read.
  kComplete,
  // It was made or written and may still be open for writing: a hint to look
  // at it again until it is closed or stops changing.
  kChanging,
};

class ChangeSink {
 public:
  virtual ~ChangeSink() = default;
  // A file or folder changed below image folder `slot` of index `index`.
  virtual void OnImageFolderChange(int index, int slot, ChangeEntry entry) = 0;
  // A request file was made, written or completed in the search folder of
  // index `index`. `name` is the code-page name relative to the search folder.
  virtual void OnSearchRequest(int index, const std::string& name, RequestNotice notice) = 0;
  // Notifications of this image folder may have been lost (queue overflow, a
  // watch limit, a root that vanished): the folder should be re-listed soon.
  // `watch_lost`: the folder itself was deleted, moved or unmounted, so its
  // watch is gone and only polls find its changes from now on.
  virtual void OnFolderNeedsRelisting(int index, int slot, bool watch_lost) = 0;
};

}  // namespace vantrel
