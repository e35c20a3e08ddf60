// The figures of long work: the moving rate and the time left from the
// counters, with a fake clock.
#include "server/progress_board.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(ProgressArithmeticTest, TimeLeftNeedsATotalThatStillHoldsAndARate) {
  struct Case {
    uint64_t done;
    int64_t total;
    double rate;
    int64_t left;
  };
  for (const Case& c : {Case{100, 1000, 100, 9},                // 900 files at 100/s
                        Case{100, 1001, 100, 10},               // rounded up
                        Case{1000, 1000, 100, 0},               // all done
                        Case{5, kWorkTotalUnknown, 100, -1},    // the walk still counts
                        Case{5, 1000, 0, -1},                   // no rate yet
                        Case{1200, 1000, 100, -1}}) {           // more done than counted
    EXPECT_EQ(SecondsLeft(c.done, c.total, c.rate), c.left) << c.done << " of " << c.total;
  }
}

TEST(ProgressArithmeticTest, RateNeedsASecondOfSamplesAndGrowth) {
  EXPECT_EQ(MovingRate({}), 0);
  EXPECT_EQ(MovingRate({{10, 5}}), 0);
  EXPECT_EQ(MovingRate({{10, 5}, {10.5, 500}}), 0) << "half a second is too short";
  EXPECT_EQ(MovingRate({{10, 5}, {20, 5}}), 0) << "nothing done";
  EXPECT_DOUBLE_EQ(MovingRate({{10, 0}, {12, 50}, {14, 400}}), 100);
}

class ProgressBoardTest : public ::testing::Test {
 protected:
  ProgressBoard board_{ProgressBoard::Clock{[this] { return now_; }, [this] { return unix_; }}};
  WorkCounters& Index(int i) { return board_.counters()[i]; }
  // The figures of the only index at work.
  ProgressView Only() {
    std::vector<ProgressView> running = board_.Running();
    EXPECT_EQ(running.size(), 1u);
    return running.empty() ? ProgressView{} : running[0];
  }
  // `files` done over `seconds`, the board read every half second.
  void Work(WorkCounters& c, uint64_t files, int seconds) {
    for (int step = 0; step < seconds * 2; ++step) {
      c.done += files / static_cast<uint64_t>(seconds * 2);
      now_ += 0.5;
      board_.Running();
    }
  }
  double now_ = 1000;
  int64_t unix_ = 1700000000;
};

TEST_F(ProgressBoardTest, RateFollowsTheLastSecondsNotTheSlowStart) {
  EXPECT_TRUE(board_.Running().empty()) << "idle indexes are not shown";
  WorkCounters& c = Index(3);
  c.Begin(WorkKind::kRebuild);
  ProgressView first = Only();
  EXPECT_EQ(first.index, 3);
  EXPECT_EQ(first.kind, WorkKind::kRebuild);
  EXPECT_EQ(first.total, kWorkTotalUnknown);
  EXPECT_EQ(first.rate, 0) << "no rate from one sample";
  EXPECT_EQ(first.seconds_left, -1);
  EXPECT_EQ(first.started_unix, 1700000000);

  Work(c, 40, 20);     // 2 files/s while the engine opens
  Work(c, 2000, 10);   // then 200 files/s
  ProgressView v = Only();
  EXPECT_EQ(v.done, 2040u);
  EXPECT_NEAR(v.rate, 200, 1) << "the first 20 seconds no longer count";
  EXPECT_EQ(v.seconds_left, -1) << "the walk has not counted the files yet";

  c.SetTotal(4040);
  v = Only();
  EXPECT_EQ(v.total, 4040);
  EXPECT_NEAR(static_cast<double>(v.seconds_left), 10, 1);

  Work(c, 0, 5);  // stuck on a slow file: the rate falls, never below zero
  v = Only();
  EXPECT_GT(v.rate, 0);
  EXPECT_LT(v.rate, 200);
  Work(c, 0, 20);
  EXPECT_EQ(Only().rate, 0);
  EXPECT_EQ(Only().seconds_left, -1);

  c.done = 5000;  // files arrived after the count
  v = Only();
  EXPECT_EQ(v.total, kWorkTotalUnknown);
  EXPECT_EQ(v.seconds_left, -1);

  c.End();
  EXPECT_TRUE(board_.Running().empty());
}

TEST_F(ProgressBoardTest, ANewRunStartsItsOwnClockAndRate) {
  WorkCounters& c = Index(0);
  c.Begin(WorkKind::kCatchUp);
  Work(c, 1000, 10);
  c.End();
  unix_ += 60;
  now_ += 60;
  c.Begin(WorkKind::kRescan);
  ProgressView v = Only();
  EXPECT_EQ(v.kind, WorkKind::kRescan);
  EXPECT_EQ(v.done, 0u);
  EXPECT_EQ(v.rate, 0);
  EXPECT_EQ(v.started_unix, unix_);
}

}  // namespace
}  // namespace vantrel
