// Process-wide set-up that the server does once at start.
//
// Thread safety: call from main() before other threads start.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The GLIBC_TUNABLES value that makes the C library's allocator ask the
// kernel for transparent huge pages for its heaps (glibc.malloc.hugetlb=1),
// given the current value (null when unset) and the kernel's huge page mode
// as /sys/kernel/mm/transparent_hugepage/enabled shows it ("always [madvise]
// never"). nullopt when nothing is to change: the kernel gives huge pages
// to every mapping already ("[always]") or to none ("[never]", an empty or
// unknown text), or the value already holds an allocator huge page setting
// (the operator's choice, or this process after its restart).
std::optional<std::string> TunablesForHugePageHeap(const char* current, std::string_view thp_mode);

// Starts this program again in place, with the same process id, arguments,
// descriptors and start directory, when TunablesForHugePageHeap has a value
// for its environment: the allocator reads its settings only when a process
// starts. A server's heaps grow to hundreds of MiB; backed by 2 MiB pages
// they cost one page fault per 2 MiB instead of 512, and on virtual
// machines a fault can cost 10 us. Returns when nothing was to change or the
// restart failed (the process then goes on as it is). Call from main()
// before other threads start and before anything is opened or locked.
void RestartWithHugePageHeap(const std::vector<std::string>& args);

// RestartWithHugePageHeap, then TuneMemoryAllocator: the server's allocator
// set-up, which the benchmarks copy so that they measure the same.
void SetUpMemoryAllocator(const std::vector<std::string>& args);

// Takes the locale for dates and times (and character classes) from the
// environment (LC_ALL, LC_TIME, LANG), so date and time texts follow the
// machine's settings.
void UseEnvironmentLocale();

}  // namespace vantrel
