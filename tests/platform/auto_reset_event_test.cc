#include "platform/auto_reset_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

using std::chrono::milliseconds;

// Polls `done` for up to 5 seconds; true when it came true.
template <typename F>
bool Eventually(F done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(AutoResetEventTest, SetWithoutWaiterStaysSignalledForOneWait) {
  AutoResetEvent event;
  EXPECT_FALSE(event.WaitFor(milliseconds(0)));
  event.Set();
  event.Set();  // setting a signalled event adds nothing
  EXPECT_TRUE(event.IsSet());
  event.Wait();  // returns at once
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(milliseconds(1)));
  event.Set();
  EXPECT_TRUE(event.WaitFor(milliseconds(0)));
  EXPECT_FALSE(event.IsSet());
}

TEST(AutoResetEventTest, EachSetReleasesOneWaiter) {
  AutoResetEvent event;
  std::atomic<int> released{0};
  std::atomic<int> started{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      ++started;
      event.Wait();
      ++released;
    });
  }
  ASSERT_TRUE(Eventually([&] { return started == 3; }));
  for (int expected = 1; expected <= 3; ++expected) {
    event.Set();
    ASSERT_TRUE(Eventually([&] { return released == expected; })) << expected;
    // The released waiter reset the event: it cannot release a second one.
    ASSERT_TRUE(Eventually([&] { return !event.IsSet(); }));
    EXPECT_EQ(released, expected);
  }
  for (auto& t : waiters) t.join();
  EXPECT_FALSE(event.IsSet());

  // A timed wait is woken the same way.
  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.WaitFor(std::chrono::seconds(5)));
  setter.join();
  EXPECT_FALSE(event.IsSet());
}

}  // namespace
}  // namespace vantrel
