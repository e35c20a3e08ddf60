// AutoResetEvent: a wake-up signal that releases one waiter per Set().
//
// The search dispatcher sleeps on one of these ("VT_ACTION"); request arrival
// and the stop protocol set it. Setting an event that is already signalled does
// nothing more: several Set() calls before anybody waits release exactly one
// Wait(). A Set() with no waiter keeps the event signalled until the next
// Wait()/WaitFor() consumes it.
//
// Thread safety: every method may be called from any thread at any time.
#pragma once

#include <chrono>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace vantrel {

class AutoResetEvent {
 public:
  AutoResetEvent() = default;
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  // Signals the event: one current or future waiter returns, and the event
  // resets itself as that waiter leaves.
  void Set() EXCLUDES(mu_);

  // Blocks until the event is signalled, then resets it.
  void Wait() EXCLUDES(mu_);

  // As Wait(), but gives up after `timeout`. Returns true when the event was
  // signalled (and is now reset), false on time-out (the event is unchanged).
  bool WaitFor(std::chrono::milliseconds timeout) EXCLUDES(mu_);

  // True when the event is signalled right now. For tests and diagnostics;
  // the answer may be stale as soon as it is returned.
  bool IsSet() EXCLUDES(mu_);

 private:
  Mutex mu_;
  CondVar cv_;
  bool signalled_ GUARDED_BY(mu_) = false;
};

}  // namespace vantrel
