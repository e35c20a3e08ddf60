#include "core/change_arrivals.h"

#include <gtest/gtest.h>

#include <thread>

namespace vantrel {
namespace {

using std::chrono::milliseconds;

TEST(ChangeArrivalsTest, SleepsThroughWhenNothingArrives) {
  ChangeArrivals arrivals(milliseconds(5), milliseconds(20));
  std::atomic<bool> stop{false};
  EXPECT_FALSE(arrivals.SleepUnlessBatch(milliseconds(30), stop));
}

TEST(ChangeArrivalsTest, EndsTheSleepOnceChangesSettled) {
  ChangeArrivals arrivals(milliseconds(5), milliseconds(1000));
  std::atomic<bool> stop{false};
  arrivals.Note();
  // The period is far longer than the quiet time: only the settled batch
  // can end the sleep with true.
  EXPECT_TRUE(arrivals.SleepUnlessBatch(milliseconds(60000), stop));
  // The mark is taken: the next sleep runs its course.
  EXPECT_FALSE(arrivals.SleepUnlessBatch(milliseconds(20), stop));
}

TEST(ChangeArrivalsTest, AStreamOfChangesStillEndsTheSleepAtTheBound) {
  ChangeArrivals arrivals(milliseconds(200), milliseconds(50));
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::thread writer([&] {
    while (!done) {
      arrivals.Note();
      std::this_thread::sleep_for(milliseconds(2));
    }
  });
  // Never quiet for 200 ms; the 50 ms bound ends it.
  EXPECT_TRUE(arrivals.SleepUnlessBatch(milliseconds(60000), stop));
  done = true;
  writer.join();
}

TEST(ChangeArrivalsTest, StopEndsTheSleep) {
  ChangeArrivals arrivals;
  std::atomic<bool> stop{true};
  EXPECT_FALSE(arrivals.SleepUnlessBatch(milliseconds(60000), stop));
  arrivals.Note();
  arrivals.Clear();
  stop = false;
  EXPECT_FALSE(arrivals.SleepUnlessBatch(milliseconds(10), stop));
}

}  // namespace
}  // namespace vantrel
