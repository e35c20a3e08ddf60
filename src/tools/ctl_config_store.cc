// Reading and changing the configuration data file for vantrelctl (see
// ctl_config_store.h).

#include "tools/ctl_config_store.h"

#include "core/config_guard.h"
#include "core/file_names.h"

namespace vantrel {
namespace {

std::string JoinDir(const std::string& dir, const char* name) {
  return (dir == "/" ? dir : dir + "/") + name;
}

// Loads and reports. Nothing when the file exists but cannot be used.
std::optional<ConfigLoad> LoadAndReport(const CtlEnv& env, const std::string& path) {
  ConfigLoad load = LoadConfiguration(*env.fs, path, *env.namer);
  for (const std::string& w : load.warnings) *env.err << "warning: " << w << "\n";
  if (!load.status.ok()) {
    *env.err << "error: " << load.status.message() << "\n"
             << "error: the file " << path
             << " is left as it is; move it away to start with a new configuration\n";
    return std::nullopt;
  }
  return load;
}

}  // namespace

std::string ConfigPathIn(const std::string& dir) { return JoinDir(dir, names::kConfigurationFile); }

std::optional<Configuration> ReadConfig(const CtlEnv& env, const std::string& dir) {
  std::optional<ConfigLoad> load = LoadAndReport(env, ConfigPathIn(dir));
  if (!load) return std::nullopt;
  return std::move(load->config);
}

std::optional<ConfigEdit> ConfigEdit::Open(const CtlEnv& env, const std::string& dir,
                                           int* exit_code) {
  *exit_code = kCtlFailed;
  StatusOr<InstanceLock> lock = InstanceLock::Acquire(JoinDir(dir, names::kInstanceLockFile),
                                                      "vantrelctl is changing the configuration");
  if (!lock.ok()) {
    if (lock.status().code() == StatusCode::kFailedPrecondition) {
      *env.err << "error: a Vantrel server is running in " << dir
               << "; stop it before changing the configuration (" << lock.status().message()
               << ")\n";
    } else {
      *env.err << "error: cannot take the lock of " << dir << ": " << lock.status().message()
               << "\n";
    }
    return std::nullopt;
  }
  std::string path = ConfigPathIn(dir);
  std::optional<ConfigLoad> load = LoadAndReport(env, path);
  if (!load) return std::nullopt;
  *exit_code = kCtlOk;
  return ConfigEdit(std::move(*lock), std::move(path), std::move(load->config), load->stamp);
}

int ConfigEdit::Save(const CtlEnv& env) {
  // The lock keeps servers and other vantrelctl commands out, but not an
  // editor, nor anybody who deleted the lock file: never undo their change.
  StatusOr<ConfigFileStamp> now = ReadConfigFileStamp(*env.fs, path_);
  if (!now.ok() || (now->exists && !(*now == loaded_))) {
    *env.err << "error: " << path_
             << (now.ok() ? std::string(" was changed by someone else while this command ran")
                          : ": " + now.status().message())
             << "; nothing was saved, run the command again\n";
    return kCtlFailed;
  }
  Status s = SaveConfiguration(*env.fs, config_, path_);
  if (!s.ok()) {
    *env.err << "error: cannot save " << path_ << ": " << s.message()
             << " (the file was not changed)\n";
    return kCtlFailed;
  }
  return kCtlOk;
}

}  // namespace vantrel
