#include "server/console_state.h"

#include <gtest/gtest.h>

#include "core/status_message.h"
#include "search/search_statistics.h"

namespace vantrel {
namespace {

// The engine failure counts the search workers post are kept by index, for
// the console; damaged records change nothing and other codes still reach
// the other handler.
TEST(ConsoleState, KeepsEngineFailureCountsByIndex) {
  EventLog log(EventLog::Options{});
  ConsoleState state(&log, false);
  int others = 0;
  state.SetOtherStatusHandler([&others](const StatusMessage&) { ++others; });
  auto post = [&](const std::string& data) {
    state.OnStatus(StatusMessage::Text(kStatusEngineFailure, data));
  };
  post(EncodeEngineFailureRecord({2, 5}));
  post(EncodeEngineFailureRecord({2, 4}));  // a late, older count
  post(EncodeEngineFailureRecord({0, 1}));
  post("garbage");
  post(EncodeEngineFailureRecord({40, 9}));
  EXPECT_EQ(state.Snapshot().engine_failures, (std::vector<uint32_t>{1, 0, 5}));
  EXPECT_EQ(others, 0);
  state.OnStatus(StatusMessage::Text(kStatusSearchRecorded, "x"));
  EXPECT_EQ(others, 1);
}

}  // namespace
}  // namespace vantrel
