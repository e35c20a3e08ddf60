#include "search/hit_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/mutex.h"

namespace vantrel {
namespace {

TEST(DateFilter, ModesPeriodsAndUnsignedThresholds) {
  const uint32_t now = 1'000'000;
  struct Case {
    uint8_t mode, period;
    uint32_t stamp;
    bool passes;
  } cases[] = {
      {0, 0, 0, true},
      {0, 9, 0xFFFFFFFF, true},
      {1, 0, now - 3600, true},      {1, 0, now - 3601, false},
      {1, 1, now - 86400, true},     {1, 1, now - 86401, false},
      {1, 2, now - 604800, true},    {1, 2, now - 604801, false},
      {1, 3, now - 2592000, true},   {1, 3, now - 2592001, false},
      {1, 4, now, true},             {1, 4, now - 1, false},
      {2, 1, now - 86400, true},     {2, 1, now - 86399, false},
      {2, 7, now, true},             {2, 7, now + 1, false},
      {3, 1, now, false},            {255, 0, 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeDateFilter(c.mode, c.period, now).Passes(c.stamp), c.passes)
        << int(c.mode) << " " << int(c.period) << " " << c.stamp;
  }
  // Early stamps wrap around: the threshold is computed modulo 2^32.
  DateFilter wrapped = MakeDateFilter(1, 3, 1000);
  EXPECT_EQ(wrapped.threshold, 1000u - 2592000u);
  EXPECT_FALSE(wrapped.Passes(999));
  EXPECT_TRUE(wrapped.Passes(0xFFFFFFF0u));
  EXPECT_EQ(DatePeriodSeconds(9), 0u);
}

// An index's TIMELIST: "01f<i>.jpg" with stamp 100 + i and type i.
class HitFiltersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(timelist_.SetOrder(kOrderTime).ok());
    for (uint32_t i = 0; i < 20; ++i) ASSERT_TRUE(timelist_.Add(Key(i), 100 + i, i, kNoExtra).ok());
  }
  static std::string Key(uint32_t i) { return "01f" + std::to_string(i) + ".jpg"; }
  // Entry number of file i: newest first, so file 19 is at position 0.
  static uint32_t Number(uint32_t i) { return 19 - i + 10; }
  LockedBrowseList Timelist() { return LockedBrowseList(&lock_, &timelist_); }
  std::vector<std::string> Names(const BrowseList& list) {
    std::vector<std::string> names;
    for (size_t p = 0; p < list.Count(); ++p) names.push_back(list.EntryAt(p)->name);
    return names;
  }

  Mutex lock_;
  BrowseList timelist_;
};

TEST_F(HitFiltersTest, HitsMustStandInTimelistWithTheirStamp) {
  BrowseList hits;
  HitCollector c(Timelist(), nullptr, &hits, {});
  c.Add(Key(3), 103, 50);
  c.Add(Key(4), 999, 50);        // changed since indexed
  c.Add("01gone.jpg", 100, 50);  // vanished
  c.Add(Key(3), 103, 60);        // a repeated hit counts once, with its first score
  c.Add(Key(5), 105, 7);
  c.Add(std::string(300, 'x'), 105, 7);  // a name no list can hold
  EXPECT_EQ(c.accepted(), 0u);
  c.Finish();
  EXPECT_EQ(c.accepted(), 2u);
  ASSERT_EQ(hits.Count(), 2u);
  std::optional<BrowseLookup> h = hits.Lookup(Key(3), 103);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->value, 3u);
  EXPECT_EQ(h->extra, Number(3));
  EXPECT_EQ(h->sort_key, 50u);
}

TEST_F(HitFiltersTest, RestrictListDecidesAndLendsTypeAndNumber) {
  BrowseList restrict_list;
  ASSERT_TRUE(restrict_list.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(restrict_list.Add(Key(2), 102, 0x50444620, 777).ok());
  ASSERT_TRUE(restrict_list.Add(Key(4), 999, 1, 1).ok());  // other stamp
  BrowseList hits;
  HitCollector c(Timelist(), &restrict_list, &hits, {});
  for (uint32_t i : {2, 3, 4}) c.Add(Key(i), 100 + i, 5);
  c.Finish();
  EXPECT_EQ(Names(hits), std::vector<std::string>{Key(2)});
  std::optional<BrowseLookup> h = hits.Lookup(Key(2), 102);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->value, 0x50444620u);
  EXPECT_EQ(h->extra, 777u);
}

TEST_F(HitFiltersTest, MergedHitsStayAndAreNotCounted) {
  BrowseList hits;
  ASSERT_TRUE(hits.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(hits.Add(Key(1), 101, 1, 3).ok());
  ASSERT_TRUE(hits.Add("01old.jpg", 50, 1, 4).ok());  // no longer in TIMELIST: kept
  std::vector<uint32_t> progress;
  HitCollectorOptions o;
  o.merged = true;
  o.progress = [&](uint32_t n) { progress.push_back(n); };
  HitCollector c(Timelist(), nullptr, &hits, o);
  c.Add(Key(1), 101, 9);
  c.Add(Key(2), 102, 9);
  c.Finish();
  EXPECT_EQ(c.accepted(), 1u);
  EXPECT_EQ(hits.Count(), 3u);
  EXPECT_EQ(hits.Lookup(Key(2), 102)->sort_key, 0u);  // no score with a merge list
  EXPECT_TRUE(progress.empty());
}

TEST(HitCollector, ProgressEveryFiveHundred) {
  Mutex lock;
  BrowseList timelist;
  ASSERT_TRUE(timelist.SetOrder(kOrderTime).ok());
  for (uint32_t i = 0; i < 1200; ++i) {
    ASSERT_TRUE(timelist.Add("02p" + std::to_string(i), 5000 + i, 0, kNoExtra).ok());
  }
  BrowseList hits;
  std::vector<uint32_t> progress;
  HitCollectorOptions o;
  o.progress = [&](uint32_t n) { progress.push_back(n); };
  HitCollector c(LockedBrowseList(&lock, &timelist), nullptr, &hits, o);
  for (uint32_t i = 0; i < 700; ++i) c.Add("02p" + std::to_string(i), 5000 + i, 1);
  c.Add("02p0", 5000, 1);  // a repeat is no progress
  c.Finish();
  EXPECT_EQ(progress, (std::vector<uint32_t>{500}));
  for (uint32_t i = 700; i < 1200; ++i) c.Add("02p" + std::to_string(i), 5000 + i, 1);
  c.Add("02p1", 5001, 1);  // already in the list from the first batch
  c.Finish();
  EXPECT_EQ(progress, (std::vector<uint32_t>{500, 1000}));
  EXPECT_EQ(c.accepted(), 1200u);
}

// With a progress interval, hits that arrive within it of the last
// filtering wait: a fast delivery is filtered once at the end, a slow one
// as each chunk is full and the interval has passed.
TEST(HitCollector, ChunksWaitForTheProgressInterval) {
  Mutex lock;
  BrowseList timelist;
  ASSERT_TRUE(timelist.SetOrder(kOrderTime).ok());
  constexpr uint32_t kHits = 6 * HitCollector::kFilterChunk;
  for (uint32_t i = 0; i < kHits; ++i) {
    ASSERT_TRUE(timelist.Add("02p" + std::to_string(i), 5000 + i, 0, kNoExtra).ok());
  }
  using Clock = std::chrono::steady_clock;
  Clock::time_point now{};
  std::vector<uint32_t> progress;
  HitCollectorOptions o;
  o.progress = [&](uint32_t n) { progress.push_back(n); };
  o.progress_interval = std::chrono::milliseconds(100);
  o.now = [&] { return now; };

  BrowseList fast_hits;
  HitCollector fast(LockedBrowseList(&lock, &timelist), nullptr, &fast_hits, o);
  for (uint32_t i = 0; i < kHits; ++i) fast.Add("02p" + std::to_string(i), 5000 + i, 1);
  EXPECT_TRUE(progress.empty());  // no time passed: nothing filtered yet
  fast.Finish();
  // Filtered at once: the file is written once, with the last multiple.
  EXPECT_EQ(progress, (std::vector<uint32_t>{kHits / kProgressInterval * kProgressInterval}));
  EXPECT_EQ(fast.accepted(), kHits);

  // The clock moves 60 ms per chunk's worth of hits: a chunk is due at the
  // second full chunk after the last filtering, no earlier.
  progress.clear();
  BrowseList slow_hits;
  HitCollector slow(LockedBrowseList(&lock, &timelist), nullptr, &slow_hits, o);
  std::vector<uint32_t> pending_at_progress;
  for (uint32_t i = 0; i < kHits; ++i) {
    if (i % HitCollector::kFilterChunk == 0) now += std::chrono::milliseconds(60);
    const size_t before = progress.size();
    slow.Add("02p" + std::to_string(i), 5000 + i, 1);
    if (progress.size() > before) pending_at_progress.push_back(i + 1);
  }
  EXPECT_EQ(pending_at_progress,
            (std::vector<uint32_t>{2 * HitCollector::kFilterChunk, 4 * HitCollector::kFilterChunk}));
  slow.Finish();
  EXPECT_EQ(slow.accepted(), kHits);
  EXPECT_EQ(progress.back(), kHits / kProgressInterval * kProgressInterval);
}

struct ArrivingHit {
  std::string name;
  uint32_t time;
  int32_t score;
};

// A collector told how many hits of which order its answer holds enters only
// those that can be among them: after sorting, the answer's first hits and
// the hits found are those of `expected` (the same hits collected without
// the bound), and so are the progress counts; whether or not TIMELIST keeps
// the fingerprints of its entries (it keeps them afterwards). Sorts
// `expected`.
void ExpectBoundedAnswerIsTheSame(int round, BrowseList& timelist, BrowseList* restrict_list,
                                  const std::vector<ArrivingHit>& arrivals, HitCollectorOptions o,
                                  const CapacitySteps* steps, BrowseList* expected,
                                  const std::vector<uint32_t>& expected_progress) {
  const uint32_t keeps[] = {1, 3, 40, 5000};
  const uint32_t keep = keeps[round % 4];
  const uint32_t sort_order = o.keep_arrival_order ? 0 : round % 2 ? 1 : 3;
  o.answer_order = QueryAnswerOrder(sort_order, false);
  o.answer_keep = keep;
  const uint32_t found = static_cast<uint32_t>(expected->Count());
  ASSERT_TRUE(SortQueryHits(expected, sort_order, found, o.keep_arrival_order, keep).ok());
  const size_t answer = std::min<size_t>(keep, found);
  for (bool fingerprints : {false, true}) {
    SCOPED_TRACE(fingerprints ? "with fingerprints" : "without fingerprints");
    if (fingerprints) timelist.KeepPresence();
    std::vector<uint32_t> progress;
    o.progress = [&](uint32_t n) { progress.push_back(n); };
    Mutex lock;
    BrowseList hits(steps);
    ASSERT_TRUE(hits.SetOrder(kOrderTime).ok());
    HitCollector c(LockedBrowseList(&lock, &timelist), restrict_list, &hits, o);
    for (const ArrivingHit& h : arrivals) c.Add(h.name, h.time, h.score);
    c.Finish();
    EXPECT_EQ(c.accepted(), found) << "round " << round;
    EXPECT_EQ(progress, expected_progress) << "round " << round;
    // Filtered at once (no chunk was due), all but the answer's hits and
    // their ties stay out.
    if (arrivals.size() < HitCollector::kFilterChunk && found > keep &&
        found <= steps->max_entries() / 2) {
      EXPECT_LT(hits.Count(), found) << "round " << round << ": nothing was left out";
    }
    ASSERT_TRUE(SortQueryHits(&hits, sort_order, c.accepted(), o.keep_arrival_order, keep).ok());
    ASSERT_GE(hits.Count(), answer) << "round " << round;
    for (size_t i = 0; i < answer; ++i) {
      EXPECT_EQ(*hits.EntryAt(i), *expected->EntryAt(i)) << "round " << round << " entry " << i;
    }
  }
}

// Many hits in random order, with repeats, stale stamps, unknown files,
// restrict and merge lists and a list that fills up: the batch gives exactly
// what taking the hits one at a time in arrival order gives, also when
// progress makes it filter in chunks as the hits arrive (3,000 hits). Every
// hit added, filtered out or not, is kept for the result cache in the order
// it came, across the chunks.
TEST(HitCollector, BatchEqualsOneAtATimeInArrivalOrder) {
  std::mt19937 rng(7);
  const CapacitySteps small({64, 300});
  for (int round = 0; round < 40; ++round) {
    Mutex lock;
    BrowseList timelist;
    ASSERT_TRUE(timelist.SetOrder(kOrderTime).ok());
    std::vector<std::pair<std::string, uint32_t>> files;
    for (uint32_t i = 0; i < 400; ++i) {
      // Few distinct stamps, and names that differ only in letter case. In
      // odd rounds the stamps share their two low bytes and differ above.
      std::string name = std::string(i % 2 ? "01a\\" : "01A\\") + "p" + std::to_string(i % 150) +
                         (i % 3 ? ".jpg" : ".JPG");
      uint32_t time = round % 2 ? 5 + (rng() % 40) * 0x01010000u : 1000 + rng() % 40;
      if (timelist.Add(name, time, i, kNoExtra).ok()) files.emplace_back(name, time);
    }
    HitCollectorOptions o;
    o.keep_arrival_order = round % 3 == 0;
    o.merged = round % 5 == 1;
    if (round % 4 == 2) o.date_filter = DateFilter{1, 1020};
    o.keep_arrivals = round % 2 == 0;
    std::vector<uint32_t> progress, expected_progress;
    o.progress = [&](uint32_t n) { progress.push_back(n); };
    BrowseList restrict_list;
    const bool restricted = round % 4 == 3;
    ASSERT_TRUE(restrict_list.SetOrder(kOrderTime).ok());
    for (const auto& [name, time] : files) {
      if (restricted && rng() % 2) {
        ASSERT_TRUE(restrict_list.Add(name, time, 7, rng() % 99).ok());
      }
    }
    const CapacitySteps* steps = round % 2 ? &small : &CapacitySteps::Default();
    BrowseList hits(steps), expected(steps);
    for (BrowseList* list : {&hits, &expected}) {
      ASSERT_TRUE(list->SetOrder(kOrderTime).ok());
      if (o.merged) {
        ASSERT_TRUE(list->Add(files[0].first, files[0].second, 1, 2).ok());
      }
    }
    using Hit = ArrivingHit;
    std::vector<Hit> arrivals;
    const int arriving = round % 3 == 1 ? 3000 : 500;
    for (int k = 0; k < arriving; ++k) {
      const auto& f = files[rng() % files.size()];
      uint32_t time = rng() % 10 ? f.second : f.second + 1;
      std::string name = rng() % 20 ? f.first : "01gone" + std::to_string(k);
      // Some rounds' scores are far larger than any stamp.
      const int32_t scale = round % 5 == 4 ? 10'000'000 : 1;
      arrivals.push_back(Hit{name, time, (static_cast<int32_t>(rng() % 200) - 10) * scale});
    }
    // One at a time, as the rules say.
    uint32_t accepted = 0;
    for (const Hit& h : arrivals) {
      if (!o.date_filter.Passes(h.time)) continue;
      std::optional<BrowseLookup> in_list = expected.Lookup(h.name, h.time);
      if (in_list && in_list->time == h.time) continue;
      std::optional<BrowseLookup> t = timelist.Lookup(h.name, h.time);
      if (!t || t->time != h.time) continue;
      uint32_t value = t->value, extra = static_cast<uint32_t>(t->position) + 10;
      if (restricted) {
        std::optional<BrowseLookup> r = restrict_list.Lookup(h.name, h.time);
        if (!r || r->time != h.time) continue;
        value = r->value;
        extra = r->extra;
      }
      uint32_t key = o.merged ? 0
                     : o.keep_arrival_order ? 0xFFFFFFFFu - accepted
                                            : static_cast<uint32_t>(std::max(h.score, 0));
      if (!expected.Add(h.name, h.time, value, extra, key).ok()) continue;
      ++accepted;
    }
    // One filtering at the end: one write, with the last multiple of 500.
    if (!o.merged && accepted >= 500) expected_progress.push_back(accepted / 500 * 500);
    HitCollector c(LockedBrowseList(&lock, &timelist), restricted ? &restrict_list : nullptr,
                   &hits, o);
    for (const Hit& h : arrivals) c.Add(h.name, h.time, h.score);
    c.Finish();
    EXPECT_EQ(c.accepted(), accepted) << "round " << round;
    ASSERT_EQ(hits.Count(), expected.Count()) << "round " << round;
    for (size_t i = 0; i < hits.Count(); ++i) {
      EXPECT_EQ(*hits.EntryAt(i), *expected.EntryAt(i)) << "round " << round << " entry " << i;
    }
    EXPECT_EQ(progress, expected_progress);
    if (o.keep_arrivals) {
      const CachedHits kept = c.TakeArrivals();
      ASSERT_EQ(kept.size(), arrivals.size()) << "round " << round;
      size_t k = 0;
      kept.ForEach([&](std::string_view key, uint32_t time, int32_t score) {
        EXPECT_EQ(key, arrivals[k].name) << "round " << round << " hit " << k;
        EXPECT_EQ(time, arrivals[k].time) << "round " << round << " hit " << k;
        EXPECT_EQ(score, arrivals[k].score) << "round " << round << " hit " << k;
        ++k;
      });
      EXPECT_TRUE(c.TakeArrivals().empty());
    }
    if (!o.merged) ExpectBoundedAnswerIsTheSame(round, timelist, restricted ? &restrict_list : nullptr,
                                                arrivals, o, steps, &expected, expected_progress);
  }
}

TEST_F(HitFiltersTest, OrdersOfTheAnswer) {
  BrowseList hits;
  HitCollector c(Timelist(), nullptr, &hits, {});
  // Arrival: 7 (score 5), 12 (score 9), 3 (score 9), 15 (score 1).
  c.Add(Key(7), 107, 5);
  c.Add(Key(12), 112, 9);
  c.Add(Key(3), 103, 9);
  c.Add(Key(15), 115, 1);
  c.Finish();
  ASSERT_TRUE(SortQueryHits(&hits, 3, c.accepted(), false).ok());
  // Relevance, equal scores by name.
  EXPECT_EQ(Names(hits), (std::vector<std::string>{Key(12), Key(3), Key(7), Key(15)}));
  ASSERT_TRUE(SortQueryHits(&hits, 1, c.accepted(), false).ok());
  EXPECT_EQ(Names(hits), (std::vector<std::string>{Key(15), Key(12), Key(7), Key(3)}));
  ASSERT_TRUE(SortQueryHits(&hits, 2, c.accepted(), false).ok());
  EXPECT_EQ(Names(hits), (std::vector<std::string>{Key(12), Key(15), Key(3), Key(7)}));
  ASSERT_TRUE(SortSearchHits(&hits, false).ok());
  EXPECT_EQ(Names(hits), (std::vector<std::string>{Key(15), Key(12), Key(7), Key(3)}));
  ASSERT_TRUE(SortSearchHits(&hits, true).ok());
  EXPECT_EQ(hits.order(), kOrderName);
  // No accepted hit: the list stays as it is.
  ASSERT_TRUE(SortQueryHits(&hits, 1, 0, false).ok());
  EXPECT_EQ(hits.order(), kOrderName);
}

TEST_F(HitFiltersTest, OtherSortOrdersKeepArrivalOrder) {
  BrowseList hits;
  HitCollectorOptions o;
  o.keep_arrival_order = true;
  HitCollector c(Timelist(), nullptr, &hits, o);
  for (uint32_t i : {7, 12, 3, 15}) c.Add(Key(i), 100 + i, 1);
  c.Finish();
  ASSERT_TRUE(SortQueryHits(&hits, 0, c.accepted(), true).ok());
  EXPECT_EQ(Names(hits), (std::vector<std::string>{Key(7), Key(12), Key(3), Key(15)}));
}

TEST_F(HitFiltersTest, NameOrderSortsByFileNameThenFolderIgnoringCase) {
  BrowseList timelist;
  ASSERT_TRUE(timelist.SetOrder(kOrderTime).ok());
  for (const char* k : {"01B\\img.jpg", "01a\\IMG.jpg", "01a\\zeta.jpg", "01a\\Alpha.jpg"}) {
    ASSERT_TRUE(timelist.Add(k, 1, 0, kNoExtra).ok());
  }
  BrowseList hits;
  HitCollector c(LockedBrowseList(&lock_, &timelist), nullptr, &hits, {});
  for (const char* k : {"01B\\img.jpg", "01a\\IMG.jpg", "01a\\zeta.jpg", "01a\\Alpha.jpg"}) {
    c.Add(k, 1, 1);
  }
  c.Finish();
  EXPECT_EQ(c.accepted(), 4u);
  ASSERT_TRUE(SortSearchHits(&hits, true).ok());
  EXPECT_EQ(Names(hits), (std::vector<std::string>{"01a\\Alpha.jpg", "01a\\IMG.jpg",
                                                   "01B\\img.jpg", "01a\\zeta.jpg"}));
}

TEST_F(HitFiltersTest, DateOnlyWalk) {
  BrowseList hits;
  // Files 12 to 19 are at or after 112.
  EXPECT_EQ(CollectDateOnly(Timelist(), DateFilter{1, 112}, nullptr, &hits), 8u);
  ASSERT_EQ(hits.Count(), 8u);
  EXPECT_EQ(hits.order(), kOrderTime);
  EXPECT_EQ(hits.EntryAt(0)->name, Key(19));
  EXPECT_EQ(hits.EntryAt(0)->extra, Number(19));
  EXPECT_EQ(hits.EntryAt(7)->extra, Number(12));
  EXPECT_EQ(hits.EntryAt(7)->value, 12u);

  BrowseList older;
  EXPECT_EQ(CollectDateOnly(Timelist(), DateFilter{2, 104}, nullptr, &older), 5u);
  BrowseList none;
  EXPECT_EQ(CollectDateOnly(Timelist(), DateFilter{3, 0}, nullptr, &none), 0u);
  EXPECT_EQ(none.Count(), 0u);

  // With a restrict list and a merge list.
  BrowseList restrict_list;
  ASSERT_TRUE(restrict_list.SetOrder(kOrderTime).ok());
  for (uint32_t i : {2, 5, 9}) ASSERT_TRUE(restrict_list.Add(Key(i), 100 + i, 99, 1000 + i).ok());
  BrowseList merged;
  ASSERT_TRUE(merged.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(merged.Add(Key(5), 105, 1, 1).ok());
  EXPECT_EQ(CollectDateOnly(Timelist(), DateFilter{0, 0}, &restrict_list, &merged), 2u);
  ASSERT_EQ(merged.Count(), 3u);
  EXPECT_EQ(merged.Lookup(Key(9), 109)->extra, 1009u);
  EXPECT_EQ(merged.Lookup(Key(9), 109)->value, 99u);
  EXPECT_EQ(merged.Lookup(Key(5), 105)->extra, 1u);
}

TEST(DateOnlyWalk, CrossesBatchBoundaries) {
  Mutex lock;
  BrowseList timelist;
  ASSERT_TRUE(timelist.SetOrder(kOrderTime).ok());
  for (uint32_t i = 0; i < 1300; ++i) {
    ASSERT_TRUE(timelist.Add("03x" + std::to_string(i), 10'000 + i, 0, kNoExtra).ok());
  }
  BrowseList hits;
  EXPECT_EQ(CollectDateOnly(LockedBrowseList(&lock, &timelist), DateFilter{0, 0}, nullptr, &hits),
            1300u);
  EXPECT_EQ(hits.EntryAt(1299)->extra, 1299u + 10u);
  BrowseList newest;
  EXPECT_EQ(CollectDateOnly(LockedBrowseList(&lock, &timelist), DateFilter{1, 10'000 + 700},
                            nullptr, &newest),
            600u);
}

// A run of equal entries longer than any batch of the walk (a list file
// written by something else than this server) ends, and counts once.
TEST(DateOnlyWalk, ALongRunOfEqualEntriesIsWalkedOnce) {
  Mutex lock;
  BrowseList timelist;
  ASSERT_TRUE(timelist.SetOrder(kOrderTime).ok());
  for (uint32_t i = 0; i < 50; ++i) ASSERT_TRUE(timelist.Add("03a" + std::to_string(i), 9'000 + i, 0, kNoExtra).ok());
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(timelist.Add("03same", 8'000, 0, kNoExtra).ok());
  for (uint32_t i = 0; i < 50; ++i) ASSERT_TRUE(timelist.Add("03z" + std::to_string(i), 7'000 + i, 0, kNoExtra).ok());
  BrowseList restrict_list;
  ASSERT_TRUE(restrict_list.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(restrict_list.Add("03same", 8'000, 1, 1).ok());
  for (uint32_t keep : {0u, 1u, 60u}) {
    for (BrowseList* restricted : {static_cast<BrowseList*>(nullptr), &restrict_list}) {
      BrowseList hits;
      const uint32_t found = CollectDateOnly(LockedBrowseList(&lock, &timelist), DateFilter{0, 0},
                                             restricted, &hits, keep);
      EXPECT_EQ(found, restricted ? 1u : 101u) << "keep " << keep;
    }
  }
}

// An answer in time order that holds `keep` hits: the walk enters only the
// newest `keep` and counts the rest, and answers and counts as the whole
// walk does: over batch boundaries, with repeated entries (counted once),
// restrict lists, both date filters and hit lists that fill up.
// Also when TIMELIST keeps fingerprints: without repeated entries the
// count after the answer is taken in one step, by stamp.
TEST(DateOnlyWalk, ABoundedWalkAnswersAndCountsAsTheWholeWalk) {
  std::mt19937 rng(11);
  for (int round = 0; round < 48; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Mutex lock;
    BrowseList timelist;
    ASSERT_TRUE(timelist.SetOrder(kOrderTime).ok());
    BrowseList restrict_list;
    ASSERT_TRUE(restrict_list.SetOrder(kOrderTime).ok());
    const bool repeats = rng() % 2;
    for (uint32_t i = 0; i < 1500; ++i) {
      // Folders whose files share their last names.
      const std::string name =
          "03f" + std::to_string(rng() % 3) + "\\y" + std::to_string(rng() % 250) + ".jpg";
      const uint32_t time = 20'000 + rng() % 300;
      if (!repeats && timelist.Lookup(name, time)) continue;
      const int copies = repeats && rng() % 8 == 0 ? 2 : 1;
      for (int c = 0; c < copies; ++c) ASSERT_TRUE(timelist.Add(name, time, i, kNoExtra).ok());
      if (rng() % 3 == 0) {
        ASSERT_TRUE(restrict_list.Add(name, time, 7, i).ok());
      }
    }
    const DateFilter filters[] = {{0, 0}, {1, 20'120}, {2, 20'200}, {2, 0xFFFFFFFFu}};
    const DateFilter filter = filters[rng() % 4];
    BrowseList* restricted = rng() % 2 ? &restrict_list : nullptr;
    const uint32_t keeps[] = {1, 7, 600, 5000};
    const uint32_t keep = keeps[rng() % 4];
    // Some rounds' hit lists fill up: the walk ends there, counted or not.
    const CapacitySteps small({64, 300});
    const CapacitySteps* steps = rng() % 2 ? &small : &CapacitySteps::Default();
    BrowseList whole(steps);
    const uint32_t found =
        CollectDateOnly(LockedBrowseList(&lock, &timelist), filter, restricted, &whole);
    ASSERT_TRUE(SortSearchHits(&whole, false).ok());
    for (bool fingerprints : {false, true}) {
      SCOPED_TRACE(fingerprints ? "with fingerprints" : "without fingerprints");
      if (fingerprints) timelist.KeepPresence();
      BrowseList bounded(steps);
      EXPECT_EQ(
          CollectDateOnly(LockedBrowseList(&lock, &timelist), filter, restricted, &bounded, keep),
          found);
      EXPECT_EQ(bounded.Count(), std::min(keep, found));
      ASSERT_TRUE(SortSearchHits(&bounded, false).ok());
      for (size_t i = 0; i < bounded.Count(); ++i) {
        EXPECT_EQ(*bounded.EntryAt(i), *whole.EntryAt(i)) << "entry " << i;
      }
    }
  }
}

}  // namespace
}  // namespace vantrel
