// Annotated mutex, scoped lock and condition variable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace vantrel {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mu_.lock(); }
  void Unlock() RELEASE() { mu_.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mu_.try_lock(); }
  // Documents (and, under clang, tells the analysis) that the caller holds it.
  void AssertHeld() const ASSERT_CAPABILITY(this) {}

  std::mutex& native() { return mu_; }

 private:
  std::mutex mu_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mu) ACQUIRE(mu) : mu_(mu) { mu_->Lock(); }
  ~MutexLock() RELEASE() { mu_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mu_;
};

// Condition variable bound to a vantrel::Mutex that the caller holds.
class CondVar {
 public:
  void Wait(Mutex* mu) REQUIRES(mu) {
    std::unique_lock<std::mutex> lock(mu->native(), std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  // Returns false on time-out.
  bool WaitFor(Mutex* mu, std::chrono::milliseconds timeout) REQUIRES(mu) {
    std::unique_lock<std::mutex> lock(mu->native(), std::adopt_lock);
    bool woken = cv_.wait_for(lock, timeout) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  void Signal() { cv_.notify_one(); }
  void SignalAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

}  // namespace vantrel
