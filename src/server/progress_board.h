// ProgressBoard: the long work of every index (start-up catch-up, rebuild,
// rescan) as the console shows it: files done and to do, the rate, the time
// left and when the run began.
//
// The task's threads count into the board's WorkCounters (core/work_progress.h,
// handed to the task through TaskEnvironment::progress); the board turns the
// counts into figures when the console reads them. The rate is a moving one:
// files done over the last kRateWindowSeconds (from the samples the reads
// took), so a slow start (the engine opening, a cold disk) does not weigh on
// it for the whole run.
//
// Thread safety: Running() may be called from any thread; the counters are
// atomics.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "core/task_context.h"
#include "core/work_progress.h"
#include "platform/mutex.h"

namespace vantrel {

// One index at work.
struct ProgressView {
  int index = 0;  // counted from 0
  WorkKind kind = WorkKind::kIdle;
  uint64_t done = 0;
  int64_t total = kWorkTotalUnknown;  // unknown while the walk still counts
  double rate = 0;                    // files per second; 0 until known
  int64_t seconds_left = -1;          // -1: unknown (no total, or no rate)
  int64_t started_unix = 0;           // when the board first saw the run
};

// The moving rate and the time left, as plain arithmetic.
inline constexpr double kRateWindowSeconds = 10;
inline constexpr double kRateMinSpanSeconds = 1;
struct ProgressSample {
  double seconds = 0;  // steady clock
  uint64_t done = 0;
};
// Files per second from the oldest to the newest sample; 0 when they span
// less than kRateMinSpanSeconds or the count did not grow.
double MovingRate(const std::deque<ProgressSample>& samples);
// Whole seconds until `total` files are done at `rate` (rounded up); -1 when
// the total is unknown, smaller than `done` (the count is out of date) or
// the rate is 0.
int64_t SecondsLeft(uint64_t done, int64_t total, double rate);

// What the console reads.
class ProgressSource {
 public:
  virtual ~ProgressSource() = default;
  // The indexes at work now, by index number.
  virtual std::vector<ProgressView> Running() = 0;
};

class ProgressBoard final : public ProgressSource {
 public:
  struct Clock {
    std::function<double()> steady_seconds;  // empty: steady_clock
    std::function<int64_t()> unix_seconds;   // empty: the system clock
  };
  explicit ProgressBoard(Clock clock = {}) : clock_(std::move(clock)) {}

  // kMaxIndexes counters, for TaskEnvironment::progress.
  WorkCounters* counters() { return counters_.data(); }

  // Takes a sample of every index at work and returns their figures.
  std::vector<ProgressView> Running() override EXCLUDES(mu_);

 private:
  struct Track {
    uint64_t run = 0;
    int64_t started_unix = 0;
    std::deque<ProgressSample> samples;
  };
  double SteadyNow() const;
  int64_t UnixNow() const;
  // Adds a sample at `now` (samples closer than a quarter second are merged)
  // and drops those the window no longer needs.
  static void Sample(Track* track, double now, uint64_t done);

  const Clock clock_;
  std::array<WorkCounters, kMaxIndexes> counters_;
  Mutex mu_;
  std::array<Track, kMaxIndexes> tracks_ GUARDED_BY(mu_);
};

}  // namespace vantrel
