// ConsoleConfig: the console's copy of the configuration and what saves it.
// The main thread, the web console's request threads and the task's relaunch
// (on the task thread) all change or save it, so it has a lock. Saves never
// replace a file that changed on disk since it was loaded (see
// core/config_guard.h).
//
// Thread safety: every method may be called from any thread.
#pragma once

#include <string>

#include "core/config_file.h"
#include "core/config_guard.h"
#include "core/event_log.h"
#include "platform/mutex.h"

namespace vantrel {

class ConsoleState;

class ConsoleConfig {
 public:
  ConsoleConfig(FileSystem* fs, const std::string& path, EventLog* log, ConfigFileStamp loaded)
      : path_(path), saver_(fs, path, loaded), log_(log) {}

  // Start-up only, before other threads share the copy.
  Configuration& config() NO_THREAD_SAFETY_ANALYSIS { return config_; }
  const std::string& path() const { return path_; }

  // Changes the copy under the lock that Save takes.
  template <typename Fn>
  auto Update(Fn&& fn) EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    return fn(config_);
  }
  Configuration Copy() const EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    return config_;
  }

  ConfigSaver::Outcome Save() EXCLUDES(mu_);

 private:
  const std::string path_;
  mutable Mutex mu_;
  ConfigSaver saver_ GUARDED_BY(mu_);
  EventLog* const log_;
  Configuration config_ GUARDED_BY(mu_);
};

// Saves, and tells the operator when the save failed or went to a side file.
void SaveOrSay(ConsoleConfig& config, ConsoleState& state);

}  // namespace vantrel
