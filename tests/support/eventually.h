// Waiting for a condition in a test: `done` is polled until it holds or
// `limit` passes. The default is generous, as the tests share a loaded
// machine; a test that must see a condition stay false waits on its own.
#pragma once

#include <chrono>
#include <thread>

namespace vantrel {

template <typename Pred>
bool Eventually(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace vantrel
