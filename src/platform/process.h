// Process-level services: the server's own executable, self-relaunch, thread
// priorities and names, the stop signals, and the inotify check at start-up.
//
// Thread safety: every function may be called from any thread. StopSignals is
// installed once by the main thread before any other thread starts (see
// below); its Wait() is for one thread, its RequestStop() for any.
#pragma once

#include <signal.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vantrel {

// The absolute path of the running executable (read from /proc/self/exe).
// kIoError when the link cannot be read; a deleted executable keeps the
// " (deleted)" suffix the kernel adds, which makes a relaunch fail visibly.
StatusOr<std::string> SelfExecutablePath();

// Starts `exe` afresh in place of this process: changes the current directory
// to `start_dir`, then execv()s `exe` with argv[0] = `exe` followed by `args`
// (the caller passes "-VS" or "-VSR"). The environment is kept; descriptors
// opened close-on-exec (the instance lock among them) are released, and the
// signal mask is cleared so that the new image starts like a fresh process.
// Other threads vanish with the old image, so the caller saves what must be
// kept first. Returns only on failure: kInvalidArgument for an empty `exe`,
// kIoError when the directory cannot be entered or execv fails; the process is
// then unchanged except for its current directory.
Status RelaunchSelf(const std::string& exe, const std::string& start_dir,
                    const std::vector<std::string>& args);

// Lowers the calling thread to the lowest priority: SCHED_IDLE, or nice 19
// when SCHED_IDLE is refused. Only the calling thread changes; threads it
// starts afterwards inherit the setting.
Status SetCurrentThreadLowestPriority();

// Returns the calling thread to SCHED_OTHER at nice 0. Leaving nice 19 or
// SCHED_IDLE needs CAP_SYS_NICE or a permissive RLIMIT_NICE; without them
// this fails with kUnavailable and the thread keeps its low priority. The
// "highest" and "time-critical" threads of the server simply stay at the
// normal priority they were started with.
Status SetCurrentThreadNormalPriority();

// True when the calling thread runs at the lowest priority (SCHED_IDLE or a
// nice value of 19).
bool CurrentThreadHasLowestPriority();

// Names the calling thread for ps/top/gdb. Names longer than the kernel's
// 15 bytes are cut at a UTF-8 character boundary.
void SetThreadName(std::string_view name);

// The calling thread's name as the kernel holds it ("" when unreadable).
std::string CurrentThreadName();

// True when the kernel offers inotify (the start-up check that replaces the
// operating system version check). A temporary lack of descriptors counts as
// "offered": only ENOSYS means no inotify.
bool KernelHasInotify();

// SIGINT, SIGTERM and SIGHUP as a polite request to stop.
//
// Install() blocks the three signals in the calling thread; every thread started
// afterwards inherits the blocked mask, so call it from main() before any
// other thread exists. The signals then stay pending until one thread takes
// them with Wait(). RequestStop() wakes that thread the same way from code (a
// programmatic stop, and tests).
//
// Destroying the object restores the calling thread's previous signal mask
// (only that thread's: threads started meanwhile keep theirs).
class StopSignals {
 public:
  // Why Wait() returned.
  struct Reason {
    int signal = 0;          // SIGINT, SIGTERM or SIGHUP, 0 when not a signal
    bool requested = false;  // RequestStop() was called
  };

  // kIoError when the descriptors cannot be made.
  static StatusOr<std::unique_ptr<StopSignals>> Install();

  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Blocks until a stop signal arrives or RequestStop() is called, without
  // limit when `timeout` is empty. Returns nothing on time-out. A request or
  // signal that came before the call is returned at once; each is returned
  // once (a second RequestStop() before the next Wait() is merged with the
  // first). One thread at a time may wait.
  std::optional<Reason> Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

  // Wakes the waiting thread (or the next Wait()). Any thread; async-signal-safe.
  void RequestStop();

  // Runs `action` unless Wait() has already taken a stop (signal or
  // request); true when it ran. Wait() cannot take one while `action` runs,
  // so an action that replaces the process (a relaunch) never swallows a stop
  // that Wait() took: a signal that comes meanwhile stays pending for the
  // process that follows, and a stop taken before makes the action stand down.
  bool RunUnlessStopTaken(const std::function<void()>& action);

 private:
  StopSignals() = default;

  int signal_fd_ = -1;
  int wake_fd_ = -1;
  std::mutex take_mu_;  // held while a stop is read and marked taken
  bool stop_taken_ = false;
  bool mask_saved_ = false;
  sigset_t old_mask_{};  // of the installing thread
};

}  // namespace vantrel
