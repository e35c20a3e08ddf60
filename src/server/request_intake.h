// RequestIntake: decides when a request file in a search folder is whole and
// may be handed to the search dispatcher.
//
// A client writes its request in one or more writes and then closes the file.
// Reading it before the close would answer the part written so far (a long
// form read as a shorter one, a merge or restrict name lost) and delete the
// file, so the client's real request would never be answered. So:
//   - a file closed by its writer, or renamed into place, is taken at once
//     (the change watcher says so: RequestNotice::kComplete);
//   - a file that was only seen changing (made or written, or found by
//     listing a search folder that cannot be watched) is kept here and taken
//     once its size and modification time stayed the same for the quiet
//     period (1 s) and it holds at least a whole record (520 bytes for a
//     search request, 3,100 for a query request). This serves writers whose
//     close is not reported, and the polled folders.
//   - a file taken and not changed since is not taken again while it stays
//     in the folder (one that could not be served stays until it changes).
//
// Names are the code-page names relative to the search folder; `path` is the
// file's native path. The intake only looks at sizes and times (Stat); the
// search worker reads the file.
//
// Thread safety: every method may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace vantrel {

struct RequestIntakeOptions {
  FileSystem* fs = nullptr;  // not owned; required
  std::chrono::milliseconds quiet{1000};
  // How often files already taken are checked for whether they are gone.
  std::chrono::milliseconds sweep_period{5000};
  // The clock; steady_clock::now when empty.
  std::function<std::chrono::steady_clock::time_point()> now;
};

// A request the intake has judged whole.
struct TakenRequest {
  int index = 0;
  std::string name;
  bool operator==(const TakenRequest&) const = default;
};

class RequestIntake {
 public:
  explicit RequestIntake(RequestIntakeOptions options);

  // The file is whole (closed by its writer or renamed into place): true
  // when it is to be served now. It is then remembered as taken.
  bool NoteComplete(int index, const std::string& name, const std::string& path) EXCLUDES(mu_);
  // The file was seen changing, or was found by listing: watched until it
  // is closed or has been quiet for the quiet period.
  void NoteChanging(int index, const std::string& name, const std::string& path) EXCLUDES(mu_);
  // The file was found by listing a folder that cannot be watched: like
  // NoteChanging, but the quiet period runs on from the last change of size
  // or time that the intake saw.
  void NoteListed(int index, const std::string& name, const std::string& path) EXCLUDES(mu_);
  // Looks at every file seen changing: returns those that have been quiet
  // long enough and hold a whole record, remembered as taken from then on.
  // Forgets files that are gone (taken ones once per sweep period).
  std::vector<TakenRequest> TakeQuietFiles() EXCLUDES(mu_);
  // Forgets everything (the task stops).
  void Clear() EXCLUDES(mu_);

  // The fewest bytes a whole request of this name holds.
  static uint64_t WholeRecordSize(const std::string& name);

 private:
  using Key = std::pair<int, std::string>;
  struct Seen {
    std::string path;
    uint64_t size = 0;
    WinFileTime modified = 0;
    bool present = false;
    std::chrono::steady_clock::time_point since;  // size and time unchanged since
    bool taken = false;  // handed on, and unchanged since
  };

  std::chrono::steady_clock::time_point Now() const;
  // Re-reads size and time; true when the file is there.
  bool Refresh(Seen* seen, std::chrono::steady_clock::time_point now);

  const RequestIntakeOptions options_;
  Mutex mu_;
  std::map<Key, Seen> seen_ GUARDED_BY(mu_);
  std::chrono::steady_clock::time_point last_sweep_ GUARDED_BY(mu_);
};

}  // namespace vantrel
