// FileCountWalk: counts the files of an index's image folders on a thread of
// its own while the start-up catch-up lists and builds them, so that the
// console can show how many files a full listing has to do. The count takes
// the same files as the listing (the scanner's key rules, a scratch DIRLIST,
// nothing logged) and becomes the total of the index's WorkCounters when the
// walk has gone through every image folder. Listing the folders only, it
// runs well ahead of the builder, which reads every file.
//
// Thread safety: one owner constructs and destroys it; the walk's thread
// touches only the file system and the counters.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/work_progress.h"
#include "platform/code_page.h"
#include "platform/file_system.h"

namespace vantrel {

class FileCountWalk {
 public:
  // Image folder slots and their roots. `fs`, `cp`, `counters` and `stop`
  // must outlive this object; the walk gives up when `stop` is set.
  FileCountWalk(FileSystem* fs, const CodePage& cp, std::vector<std::pair<int, std::string>> roots,
                WorkCounters* counters, const std::atomic<bool>* stop);
  // Ends the walk (setting no total when it had not finished) and joins it.
  ~FileCountWalk();
  FileCountWalk(const FileCountWalk&) = delete;
  FileCountWalk& operator=(const FileCountWalk&) = delete;

 private:
  void Run();

  FileSystem* const fs_;
  const CodePage& cp_;
  const std::vector<std::pair<int, std::string>> roots_;
  WorkCounters* const counters_;
  const std::atomic<bool>* const stop_;
  std::atomic<bool> cancel_{false};
  std::thread thread_;
};

}  // namespace vantrel
