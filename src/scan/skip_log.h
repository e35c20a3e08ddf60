// SkipLog: the event-log lines for files and folders that a scan or change
// pass leaves out (a listing or read that failed, a key too long for the
// lists, a name whose key another file holds, a symbolic link).
//
// Each left-out path is logged once: again only after it was taken in
// between (listed or read successfully), so a folder that stays unreadable
// is not logged at every poll, while one that fails anew is.
//
// Thread safety: every method may be called from any thread (the task and
// poll threads share one SkipLog).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/mutex.h"

namespace vantrel {

class SkipLog {
 public:
  // Writes one event-log line.
  using Writer = std::function<void(const std::string& line)>;

  // Logs "<what>: <path>" through `write` unless `path` was logged before
  // and not taken since.
  void Skipped(const std::string& path, std::string_view what, const Writer& write);
  // `path` was listed or read: a later skip of it is logged again.
  void Taken(const std::string& path);

 private:
  // Remembered paths beyond this many are forgotten (and logged again).
  static constexpr size_t kMaxRemembered = 100'000;
  Mutex mu_;
  std::unordered_set<std::string> logged_ GUARDED_BY(mu_);
};

// What a walk or builder reports to: a SkipLog and the writer of the task at
// hand. Without a log every skip is written; without a writer nothing is.
struct SkipReporter {
  SkipLog* log = nullptr;
  SkipLog::Writer write;

  void Skipped(const std::string& path, std::string_view what) const;
  void Taken(const std::string& path) const;
};

}  // namespace vantrel
