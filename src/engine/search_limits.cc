#include "engine/search_limits.h"

#include <algorithm>

namespace vantrel {

bool HeavySearchGate::Enter(const std::string& folder, SearchClock::Clock::time_point until,
                            const std::atomic<bool>& stop) {
  MutexLock lock(&mu_);
  while (busy_[folder]) {
    if (stop.load()) return false;
    const auto now = SearchClock::Clock::now();
    if (now >= until) return false;
    // Short waits, so that a stop is noticed even without a wake-up.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
    freed_.WaitFor(&mu_, std::clamp(left, std::chrono::milliseconds(1),
                                    std::chrono::milliseconds(50)));
  }
  busy_[folder] = true;
  ++running_;
  return true;
}

void HeavySearchGate::Leave(const std::string& folder) {
  {
    MutexLock lock(&mu_);
    busy_.erase(folder);
    --running_;
  }
  freed_.SignalAll();
}

int HeavySearchGate::running() const {
  MutexLock lock(&mu_);
  return running_;
}

}  // namespace vantrel
