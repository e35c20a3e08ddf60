#include "scan/skip_log.h"

namespace vantrel {

void SkipLog::Skipped(const std::string& path, std::string_view what, const Writer& write) {
  {
    MutexLock lock(&mu_);
    if (logged_.contains(path)) return;
    if (logged_.size() >= kMaxRemembered) logged_.clear();
    logged_.insert(path);
  }
  if (write) write(std::string(what) + ": " + path);
}

void SkipLog::Taken(const std::string& path) {
  MutexLock lock(&mu_);
  if (!logged_.empty()) logged_.erase(path);
}

void SkipReporter::Skipped(const std::string& path, std::string_view what) const {
  if (log != nullptr) {
    log->Skipped(path, what, write);
  } else if (write) {
    write(std::string(what) + ": " + path);
  }
}

void SkipReporter::Taken(const std::string& path) const {
  if (log != nullptr) log->Taken(path);
}

}  // namespace vantrel
