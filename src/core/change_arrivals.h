// ChangeArrivals: tells the task's main loop that image-folder changes have
// arrived, so that it can start an update job early instead of finishing its
// 500 ms sleeps.
//
// The loop does not start at the first change: it waits until the changes
// have been quiet for a short while (a saved picture arrives as a few
// notifications) but never longer than a bound after the first one (a bulk
// copy still arrives in large batches, not one file at a time).
//
// Thread safety: Note from any thread (the change watcher); SleepUnlessBatch
// from one thread (the task thread).
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>

#include "platform/mutex.h"

namespace vantrel {

class ChangeArrivals {
 public:
  using Clock = std::chrono::steady_clock;

  // Quiet period and bound; tests shorten them.
  explicit ChangeArrivals(std::chrono::milliseconds quiet = std::chrono::milliseconds(300),
                          std::chrono::milliseconds bound = std::chrono::milliseconds(2000))
      : quiet_(quiet), bound_(bound) {}

  // A change was queued.
  void Note() {
    MutexLock lock(&mu_);
    Clock::time_point now = Clock::now();
    if (!pending_) first_ = now;
    pending_ = true;
    last_ = now;
    cv_.SignalAll();
  }

  // Sleeps up to `period`. Returns true early when changes are pending and
  // either have been quiet for the quiet period or the first one is older
  // than the bound; the pending mark is then cleared. Also returns (false)
  // when `stop` becomes true (checked at least every 50 ms).
  bool SleepUnlessBatch(std::chrono::milliseconds period, const std::atomic<bool>& stop) {
    const Clock::time_point deadline = Clock::now() + period;
    MutexLock lock(&mu_);
    for (;;) {
      Clock::time_point now = Clock::now();
      if (pending_ && (now - last_ >= quiet_ || now - first_ >= bound_)) {
        pending_ = false;
        return true;
      }
      if (now >= deadline || stop.load()) return false;
      Clock::time_point wake = deadline;
      if (pending_) wake = std::min({wake, last_ + quiet_, first_ + bound_});
      auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now) +
                  std::chrono::milliseconds(1);
      cv_.WaitFor(&mu_, std::min(wait, std::chrono::milliseconds(50)));
    }
  }

  // Forgets pending changes (an update job is about to take them anyway).
  void Clear() {
    MutexLock lock(&mu_);
    pending_ = false;
  }

 private:
  const std::chrono::milliseconds quiet_;
  const std::chrono::milliseconds bound_;
  Mutex mu_;
  CondVar cv_;
  bool pending_ GUARDED_BY(mu_) = false;
  Clock::time_point first_ GUARDED_BY(mu_);
  Clock::time_point last_ GUARDED_BY(mu_);
};

}  // namespace vantrel
