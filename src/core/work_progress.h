// WorkCounters: how far one index's long work has come (the start-up
// catch-up, a rebuild, a rescan), counted by the threads that do it and read
// by the console (server/progress_board.h turns the counts into a rate and
// the time left).
//
// The task thread marks the start and the end of a run (Begin, End) and
// counts every file it has handled (CountDone); the total is unknown until a
// walk has counted the files to do (SetTotal). Counting costs one relaxed
// atomic add per file.
//
// Thread safety: every member may be used from any thread. A reader may see
// the counts of a run mixed for a moment with the start of the next; `run`
// tells runs apart.
#pragma once

#include <atomic>
#include <cstdint>

namespace vantrel {

enum class WorkKind : uint32_t {
  kIdle = 0,
  kCatchUp = 1,  // the start-up catch-up (also after an edit or a relaunch)
  kRebuild = 2,  // the catch-up that follows a rebuild request
  kRescan = 3,   // the catch-up that follows a rescan request
};

inline constexpr int64_t kWorkTotalUnknown = -1;

struct WorkCounters {
  std::atomic<uint32_t> kind{0};  // a WorkKind
  std::atomic<uint64_t> done{0};
  std::atomic<int64_t> total{kWorkTotalUnknown};
  std::atomic<uint64_t> run{0};  // grows at every Begin

  void Begin(WorkKind what) {
    done.store(0);
    total.store(kWorkTotalUnknown);
    run.fetch_add(1);
    kind.store(static_cast<uint32_t>(what));
  }
  void CountDone() { done.fetch_add(1, std::memory_order_relaxed); }
  void SetTotal(uint64_t files) { total.store(static_cast<int64_t>(files)); }
  void End() { kind.store(static_cast<uint32_t>(WorkKind::kIdle)); }
};

}  // namespace vantrel
