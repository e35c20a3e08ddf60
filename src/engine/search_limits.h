// Search limits: what keeps one search from taking the server.
//
// SearchClock is the deadline and the stop flag of one search. The parts
// that may work long (the term-list walks of the expansions, PositionalSource
// and the match itself) ask it whether to go on; once it says no they end
// early and the search is answered with the hits found so far.
//
// HeavySearchGate lets one heavy search (one whose compiled query stands for
// many terms) run per index at a time, so that a few of them cannot occupy
// every processor and every search thread: the others wait a short while for
// their turn and are cut (answered without hits) when it does not come.
//
// Thread safety: a SearchClock belongs to the thread running its search (the
// stop flag it reads is atomic); a part of the search run on another thread
// reads a Twin of it. HeavySearchGate may be used from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "platform/mutex.h"

namespace vantrel {

class SearchClock {
 public:
  using Clock = std::chrono::steady_clock;

  // `stop` may be null (no stop flag).
  SearchClock(Clock::time_point deadline, const std::atomic<bool>* stop)
      : deadline_(deadline), stop_(stop) {}

  // True once the deadline passed or the stop flag is set; stays true. Reads
  // the clock on every 32nd call only, so that it may be asked per document.
  bool Expired() {
    if (expired_) return true;
    if ((++calls_ & 31) != 0) return false;
    return CheckNow();
  }
  // Reads the clock now.
  bool CheckNow() {
    if (!expired_) {
      expired_ = (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) ||
                 Clock::now() >= deadline_;
    }
    return expired_;
  }
  // A clock with the same deadline and stop flag, not yet expired, for a
  // part of the search run on another thread.
  SearchClock Twin() const { return SearchClock(deadline_, stop_); }
  bool expired() const { return expired_; }
  bool stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }
  Clock::time_point deadline() const { return deadline_; }

 private:
  Clock::time_point deadline_;
  const std::atomic<bool>* stop_;
  uint32_t calls_ = 0;
  bool expired_ = false;
};

// After a part of a search ran on its own `twin` clock: once the twin has
// run out, the search's `clock` reads the time (the deadline stays passed and
// the stop flag set), so the search sees the cut that its part saw.
inline void PassExpiry(const SearchClock& twin, SearchClock* clock) {
  if (twin.expired()) clock->CheckNow();
}

class HeavySearchGate {
 public:
  // Takes the heavy slot of `folder`, waiting for it until `until` (or the
  // stop flag); false when it stayed taken.
  bool Enter(const std::string& folder, SearchClock::Clock::time_point until,
             const std::atomic<bool>& stop) EXCLUDES(mu_);
  void Leave(const std::string& folder) EXCLUDES(mu_);
  // Wakes every waiting search (the engine stops).
  void WakeAll() { freed_.SignalAll(); }
  // Heavy searches running now, over every folder.
  int running() const EXCLUDES(mu_);

 private:
  mutable Mutex mu_;
  CondVar freed_;
  std::map<std::string, bool> busy_ GUARDED_BY(mu_);
  int running_ GUARDED_BY(mu_) = 0;
};

// Holds a folder's heavy slot for one scope.
class HeavySlot {
 public:
  HeavySlot() = default;
  HeavySlot(const HeavySlot&) = delete;
  HeavySlot& operator=(const HeavySlot&) = delete;
  ~HeavySlot() {
    if (gate_ != nullptr) gate_->Leave(folder_);
  }
  void Hold(HeavySearchGate* gate, const std::string& folder) {
    gate_ = gate;
    folder_ = folder;
  }

 private:
  HeavySearchGate* gate_ = nullptr;
  std::string folder_;
};

}  // namespace vantrel
