#include "server/console_config.h"

#include "platform/systemd_notify.h"

#include <cstdio>

#include "platform/local_time.h"
#include "server/console_state.h"

namespace vantrel {

ConfigSaver::Outcome ConsoleConfig::Save() {
  MutexLock lock(&mu_);
  config_.event_lines = log_->Lines();
  return saver_.Save(config_, NowUnix());
}

void SaveOrSay(ConsoleConfig& config, ConsoleState& state) {
  ConfigSaver::Outcome saved = config.Save();
  if (saved.status.ok() && saved.newly_diverted) {
    // The side file's name first: event lines are cut at 249 bytes.
    state.AddEvent("The configuration is saved as " + saved.side_path + ": " + config.path() +
                   " was changed by someone else after the server loaded it and is left as it is");
    saved = config.Save();  // the side file gets that line too
  }
  if (!saved.status.ok()) {
    WriteStandardErrorLine(LogPriority::kError,
                           "cannot save the configuration: " + saved.status.ToString());
  }
}

}  // namespace vantrel
