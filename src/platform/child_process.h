// Running a helper program in a child process with limits: its standard output
// is captured into a string, its address space and wall-clock time are capped,
// and it cannot take the server down with it.
//
// Used for work on untrusted files that may crash, hang or exhaust memory (the
// PDF text helper). The child gets /dev/null as standard input, standard error
// discarded or captured, no other descriptors, an empty signal mask, no core
// dumps, and its own process group, so that a time-out kills the helper
// together with anything it started.
//
// Thread safety: RunChildProcess may be called from several threads at once;
// each call owns its child and descriptors. It reaps its child by process id,
// so the process must not reap children with waitpid(-1) or set SIGCHLD to
// SIG_IGN (the child's status would be lost and it would count as ended
// abnormally).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace vantrel {

struct ChildProcessOptions {
  // Wall-clock limit from the start; the child's process group is killed with
  // SIGKILL when it passes. Zero or negative: no limit.
  std::chrono::milliseconds time_limit{60000};
  // Address-space limit (RLIMIT_AS) of the child, in bytes. 0: no limit.
  uint64_t memory_limit_bytes = 0;
  // At most this many bytes of standard output are kept; when more arrive the
  // child is killed (output_truncated says so).
  size_t max_output_bytes = size_t{64} << 20;
  // Standard error: discarded unless captured (then at most
  // max_error_bytes are kept; the rest is read and dropped).
  bool capture_stderr = false;
  size_t max_error_bytes = size_t{64} << 10;
  // The child's standard input: this descriptor (the caller's, left open)
  // when not negative, else /dev/null.
  int stdin_fd = -1;
  // When it becomes true the child's process group is killed (looked at
  // every 50 ms) and the call returns with `cancelled` set. May be null.
  const std::atomic<bool>* cancel = nullptr;
};

struct ChildProcessResult {
  bool exited = false;  // ended by exit(); exit_code is valid
  int exit_code = -1;
  int signal = 0;                 // the signal that ended it (SIGKILL after a time-out)
  bool timed_out = false;         // killed because time_limit passed
  bool output_truncated = false;  // killed because max_output_bytes was reached
  bool cancelled = false;         // killed because options.cancel became true
  std::string output;             // standard output as read
  std::string error_output;       // standard error when captured

  // Ended by itself with exit code 0.
  bool Succeeded() const {
    return exited && exit_code == 0 && !timed_out && !output_truncated && !cancelled;
  }
};

// Starts argv[0] (a path; no PATH search, no shell) with `argv` as its
// arguments and the current environment, waits until it ends or a limit is
// reached, and returns how it ended and what it wrote (also what it wrote
// before a limit stopped it or before it crashed). The child is always
// reaped before this returns. Descendants that the child leaves behind in its
// process group are killed when it ends.
//
// Fails (and no child is left behind) with kInvalidArgument for an empty
// argv, kNotFound when the program does not exist, kIoError when descriptors
// cannot be made, the process cannot be forked, a limit cannot be set or the
// program cannot be executed.
StatusOr<ChildProcessResult> RunChildProcess(const std::vector<std::string>& argv,
                                             const ChildProcessOptions& options);

}  // namespace vantrel
