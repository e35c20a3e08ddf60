// AutoResetEvent on a mutex and a condition variable (see auto_reset_event.h).
#include "platform/auto_reset_event.h"

namespace vantrel {

void AutoResetEvent::Set() {
  MutexLock lock(&mu_);
  signalled_ = true;
  // One waiter is enough: whoever takes the signal resets it, so waking more
  // would only send the others back to sleep.
  cv_.Signal();
}

void AutoResetEvent::Wait() {
  MutexLock lock(&mu_);
  while (!signalled_) cv_.Wait(&mu_);
  signalled_ = false;
}

bool AutoResetEvent::WaitFor(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(&mu_);
  // Spurious wake-ups and a rival waiter that took the signal first both send
  // us round again with the time that is left.
  while (!signalled_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    cv_.WaitFor(&mu_, left);
  }
  signalled_ = false;
  return true;
}

bool AutoResetEvent::IsSet() {
  MutexLock lock(&mu_);
  return signalled_;
}

}  // namespace vantrel
