// Newest-first matches over shards side by side: what a shard's thread
// throws reaches the caller, a cut on one shard ends the search with the
// hits every shard found, and the task pool runs every task once.
#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/document_indexer.h"
#include "engine/newest_match.h"
#include "engine/task_pool.h"
#include "engine_test_util.h"

namespace vantrel {
namespace {

constexpr uint32_t kShards = 3;
constexpr uint32_t kPerShard = 120;

std::string TimeValue(uint32_t t) {
  return std::string{static_cast<char>(t >> 24), static_cast<char>(t >> 16),
                     static_cast<char>(t >> 8), static_cast<char>(t)};
}

// Three in-memory shards; every document has the term "t" and one of a few
// times.
std::vector<Xapian::Database> Shards() {
  std::vector<Xapian::Database> shards;
  for (uint32_t s = 0; s < kShards; ++s) {
    Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
    for (uint32_t d = 0; d < kPerShard; ++d) {
      Xapian::Document doc;
      doc.add_term("t");
      doc.add_value(kNameSlot, std::to_string(s) + "/" + std::to_string(d));
      doc.add_value(kTimeSlot, TimeValue(1000 + (d * 7 + s) % 9));
      db.add_document(doc);
    }
    shards.push_back(db);
  }
  return shards;
}

TEST(NewestMatchTest, WhatAShardsMatchThrowsReachesTheCaller) {
  const std::vector<Xapian::Database> shards = Shards();
  const Xapian::Query query("t");
  TaskPool pool(2);
  struct Case {
    uint32_t shard;
    std::function<void()> raise;
    std::string kind;
  };
  const Case cases[] = {
      {2, [] { throw Xapian::DatabaseModifiedError("changed"); }, "modified"},
      {1, [] { throw Xapian::DatabaseCorruptError("damaged"); }, "DatabaseCorruptError"},
      {0, [] { throw Xapian::InvalidArgumentError("bad"); }, "InvalidArgumentError"},
      {1, [] { throw std::bad_alloc(); }, "bad_alloc"},
      {9, [] {}, "nothing"},
  };
  for (const Case& c : cases) {
    ShardedNewestMatch match;
    match.shards = &shards;
    match.query = &query;
    match.limit = 10;
    match.before_shard = [&c](uint32_t shard) {
      if (shard == c.shard) c.raise();
    };
    SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
    EXPECT_EQ(engine_test::Thrown([&] { MatchNewestInShards(match, &clock, &pool); }), c.kind) << c.shard;
  }
}

// Shard 1 starts its match after the deadline: its spy cuts it after a few
// documents; the others (given ample time) see all theirs. The answer holds
// every document of shards 0 and 2 and some of shard 1, newest first, and
// the search's clock reports the cut. Both ways of finding the newest: Xapian
// sorting by the time value, and the spy keeping them by the time tables.
TEST(NewestMatchTest, ACutOnOneShardEndsTheSearchWithTheHitsOfEveryShard) {
  const std::vector<Xapian::Database> shards = Shards();
  const Xapian::Query query("t");
  TaskPool pool(2);
  for (const bool tables : {false, true}) {
    std::vector<std::optional<TimeTable>> times;
    const auto deadline = SearchClock::Clock::now() + std::chrono::seconds(3);
    ShardedNewestMatch match;
    match.shards = &shards;
    match.query = &query;
    match.limit = kShards * kPerShard;
    match.watched = true;
    if (tables) match.times = &times;
    match.before_shard = [&](uint32_t shard) {
      if (shard != 1) return;
      while (SearchClock::Clock::now() < deadline + std::chrono::milliseconds(50)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    };
    SearchClock clock(deadline, nullptr);
    const NewestHits found = MatchNewestInShards(match, &clock, &pool);
    EXPECT_TRUE(clock.expired());
    EXPECT_EQ(found.matches, found.hits.size());
    EXPECT_EQ(times.size(), tables ? kShards : 0u);
    uint32_t per_shard[kShards] = {0, 0, 0};
    std::string last_time = "\xff\xff\xff\xff";
    Xapian::docid last_id = 0;
    Xapian::Database combined;
    for (const Xapian::Database& s : shards) combined.add_database(s);
    for (const Hit& h : found.hits) {
      ++per_shard[(h.id - 1) % kShards];
      const std::string time = combined.get_document(h.id).get_value(kTimeSlot);
      EXPECT_TRUE(time < last_time || (time == last_time && h.id > last_id)) << h.id;
      last_time = time;
      last_id = h.id;
    }
    EXPECT_EQ(per_shard[0], kPerShard) << tables;
    EXPECT_EQ(per_shard[2], kPerShard) << tables;
    EXPECT_GT(per_shard[1], 0u) << tables;
    EXPECT_LT(per_shard[1], kPerShard) << tables;
  }
}

TEST(TaskPoolTest, RunsEveryTaskOnceForManyCallersAndAfterStop) {
  TaskPool pool(3);
  std::atomic<int> runs[4][20] = {};
  auto call = [&](int caller) {
    for (int round = 0; round < 50; ++round) {
      std::vector<std::function<void()>> tasks;
      for (int t = 0; t < 20; ++t) tasks.push_back([&runs, caller, t] { ++runs[caller][t]; });
      pool.RunAll(tasks);
      for (int t = 0; t < 20; ++t) ASSERT_EQ(runs[caller][t].load(), round + 1);
    }
  };
  std::vector<std::thread> callers;
  for (int c = 0; c < 4; ++c) callers.emplace_back(call, c);
  for (std::thread& t : callers) t.join();
  pool.Stop();
  std::set<std::thread::id> ran_on;
  std::vector<std::function<void()>> tasks(5, [&ran_on] { ran_on.insert(std::this_thread::get_id()); });
  pool.RunAll(tasks);
  EXPECT_EQ(ran_on, std::set<std::thread::id>{std::this_thread::get_id()});
}

}  // namespace
}  // namespace vantrel
