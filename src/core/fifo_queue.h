// FifoQueue: the first-in-first-out queue that carries task requests (console
// to task) and status messages (task to console).
//
// Thread safety: any thread may push and pop at any time. Pop never blocks; a
// consumer that finds the queue empty sleeps and polls again.
#pragma once

#include <deque>
#include <optional>
#include <utility>

#include "platform/mutex.h"

namespace vantrel {

template <typename T>
class FifoQueue {
 public:
  void Push(T item) EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    items_.push_back(std::move(item));
  }

  // The oldest item, or nothing when the queue is empty.
  std::optional<T> Pop() EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    if (items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    return item;
  }

  size_t Size() const EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    return items_.size();
  }
  bool Empty() const { return Size() == 0; }

 private:
  mutable Mutex mu_;
  std::deque<T> items_ GUARDED_BY(mu_);
};

}  // namespace vantrel
