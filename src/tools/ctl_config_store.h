// The configuration data file of a start directory, as vantrelctl reads and
// changes it.
//
// Changing the file is only allowed while no server runs in that directory:
// ConfigEdit takes the server's instance lock (the lock file in the start
// directory) for as long as it lives, so a server cannot start half-way
// through a change, and a running server makes the change fail. Loading a
// file whose content cannot be used (unknown magic, unreadable) refuses the
// change rather than replacing the file with defaults. Saving is atomic, and
// refused when the file changed on disk since it was loaded.
//
// Thread safety: one object per command.
#pragma once

#include <optional>
#include <string>

#include "core/config_file.h"
#include "platform/instance_lock.h"
#include "tools/ctl_context.h"

namespace vantrel {

// Path of the configuration data file in `dir`.
std::string ConfigPathIn(const std::string& dir);

// Loads the configuration for reading. Prints load warnings to env.err.
// Returns nothing (after printing why) when the file cannot be used.
std::optional<Configuration> ReadConfig(const CtlEnv& env, const std::string& dir);

class ConfigEdit {
 public:
  // Takes the instance lock and loads the file. On failure prints why to
  // env.err and returns nothing; `exit_code` receives the exit status to use.
  static std::optional<ConfigEdit> Open(const CtlEnv& env, const std::string& dir, int* exit_code);

  Configuration& config() { return config_; }

  // Saves atomically; prints the failure to env.err. Returns an exit status.
  int Save(const CtlEnv& env);

 private:
  ConfigEdit(InstanceLock lock, std::string path, Configuration config, ConfigFileStamp loaded)
      : lock_(std::move(lock)),
        path_(std::move(path)),
        config_(std::move(config)),
        loaded_(loaded) {}

  InstanceLock lock_;
  std::string path_;
  Configuration config_;
  ConfigFileStamp loaded_;  // the file as loaded; Save refuses when it changed since
};

}  // namespace vantrel
