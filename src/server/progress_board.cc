#include "server/progress_board.h"

#include <chrono>
#include <cmath>

#include "platform/local_time.h"

namespace vantrel {

double MovingRate(const std::deque<ProgressSample>& samples) {
  if (samples.size() < 2) return 0;
  const ProgressSample& first = samples.front();
  const ProgressSample& last = samples.back();
  const double span = last.seconds - first.seconds;
  if (span < kRateMinSpanSeconds || last.done <= first.done) return 0;
  return static_cast<double>(last.done - first.done) / span;
}

int64_t SecondsLeft(uint64_t done, int64_t total, double rate) {
  if (total < 0 || static_cast<uint64_t>(total) < done || !(rate > 0)) return -1;
  const double left = static_cast<double>(static_cast<uint64_t>(total) - done) / rate;
  return static_cast<int64_t>(std::ceil(left));
}

double ProgressBoard::SteadyNow() const {
  if (clock_.steady_seconds) return clock_.steady_seconds();
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t ProgressBoard::UnixNow() const {
  return clock_.unix_seconds ? clock_.unix_seconds() : NowUnix();
}

void ProgressBoard::Sample(Track* track, double now, uint64_t done) {
  std::deque<ProgressSample>& s = track->samples;
  if (s.size() >= 2 && now - s[s.size() - 2].seconds < 0.25) {
    s.back() = ProgressSample{now, done};
  } else {
    s.push_back(ProgressSample{now, done});
  }
  // The oldest sample kept is the last one at or before the window's start.
  while (s.size() > 2 && s[1].seconds <= now - kRateWindowSeconds) s.pop_front();
}

std::vector<ProgressView> ProgressBoard::Running() {
  std::vector<ProgressView> out;
  const double now = SteadyNow();
  MutexLock lock(&mu_);
  for (int i = 0; i < kMaxIndexes; ++i) {
    WorkCounters& c = counters_[static_cast<size_t>(i)];
    const auto kind = static_cast<WorkKind>(c.kind.load());
    if (kind == WorkKind::kIdle) continue;
    const uint64_t run = c.run.load();
    const uint64_t done = c.done.load();
    int64_t total = c.total.load();
    Track& track = tracks_[static_cast<size_t>(i)];
    if (track.run != run) track = Track{run, UnixNow(), {}};
    Sample(&track, now, done);
    ProgressView v;
    v.index = i;
    v.kind = kind;
    v.done = done;
    // More files done than counted: the count is out of date.
    v.total = total >= 0 && static_cast<uint64_t>(total) >= done ? total : kWorkTotalUnknown;
    v.rate = MovingRate(track.samples);
    v.seconds_left = SecondsLeft(done, v.total, v.rate);
    v.started_unix = track.started_unix;
    out.push_back(v);
  }
  return out;
}

}  // namespace vantrel
