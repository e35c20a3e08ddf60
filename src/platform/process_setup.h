// Process-wide set-up that the server does once at start.
//
// Thread safety: call from main() before other threads start.
#pragma once

#include <string>

#include "platform/status.h"

namespace vantrel {

// The current directory (the server's start directory).
StatusOr<std::string> CurrentDirectory();

// The id of this process.
int CurrentProcessId();

// Sets the signals that must neither end nor disturb the server: SIGPIPE is
// ignored (a write to a pipe whose reader is gone fails with EPIPE instead
// of ending the process, e.g. standard error piped into a pager that was
// closed), and SIGUSR1 and SIGUSR2 are ignored (they mean nothing to the
// server; by default they would end it without a clean stop). SIGQUIT keeps
// its default action (a core dump, as a service manager expects). Call from
// main() before other threads start; child processes get the defaults back.
void IgnoreNuisanceSignals();

// Lets the C library's allocator keep what index jobs free and grow its heap
// in large steps: an index job allocates and frees millions of small blocks
// (the engine's per-term posting and position maps), and a heap that shrinks
// after each job and grows again page by page spends measurable time in the
// kernel. Sets a heap growth step of 64 MiB, keeps up to 256 MiB of free heap
// top, and serves blocks below 32 MiB from the heap. Call from main() before
// other threads start.
void TuneMemoryAllocator();

// Takes the locale for dates and times (and character classes) from the
// environment (LC_ALL, LC_TIME, LANG), so date and time texts follow the
// machine's settings.
void UseEnvironmentLocale();

}  // namespace vantrel
