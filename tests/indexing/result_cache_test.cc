#include "indexing/result_cache.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

constexpr char kFolder[] = "/srv/idx/VT_DATA/VT_INDEX";

// `n` hits with keys of growing length, some longer than a short string
// keeps in place, and scores that differ from their times.
CachedHits Hits(size_t n, uint32_t first_time = 1000) {
  CachedHits hits;
  for (size_t i = 0; i < n; ++i) {
    const std::string key = "01f" + std::to_string(i) + std::string(i % 40, 'k');
    hits.Add(first_time + static_cast<uint32_t>(i), key, static_cast<int32_t>(i) * 7 - 100);
  }
  return hits;
}

// `n` copies of one hit.
CachedHits Repeated(size_t n, uint32_t time, const std::string& key) {
  CachedHits hits;
  for (size_t i = 0; i < n; ++i) hits.Add(time, key, 0);
  return hits;
}

struct Got {
  uint32_t time;
  std::string file_key;
  int32_t score;
};

// Looks `query` up; returns the kept hits, or nothing when not answered.
std::optional<std::vector<Got>> Ask(ResultCache& cache, const std::string& query,
                                    uint32_t flags = 0x18, int fuzziness = 0,
                                    const std::string& folder = kFolder) {
  std::vector<Got> got;
  bool answered = cache.LookupScored(
      folder, query, flags, fuzziness, [&](std::string_view key, uint32_t time, int32_t score) {
        got.push_back(Got{time, std::string(key), score});
      });
  if (!answered) return std::nullopt;
  return got;
}

int SlotOf(const ResultCache& cache, const std::string& query) {
  for (int i = 0; i < kCacheSlots; ++i) {
    ResultCache::SlotInfo info = cache.InfoOf(i);
    if (info.count > 0 && info.query == query) return i;
  }
  return -1;
}

// The cache is off until the first lookup; then stored results answer.
TEST(ResultCacheTest, StoredResultsAnswerTheSameSearchInOrder) {
  ResultCache cache;
  EXPECT_FALSE(cache.enabled());
  EXPECT_FALSE(Ask(cache, "boat*"));
  EXPECT_TRUE(cache.enabled());
  cache.Store(kFolder, Hits(300), "boat*", 0x18, 0, false);
  std::optional<std::vector<Got>> got = Ask(cache, "boat*");
  ASSERT_TRUE(got);
  ASSERT_EQ(got->size(), 300u);
  EXPECT_EQ((*got)[0].file_key, "01f0");
  EXPECT_EQ((*got)[0].time, 1000u);
  EXPECT_EQ((*got)[0].score, -100);
  EXPECT_EQ((*got)[299].file_key, "01f299" + std::string(299 % 40, 'k'));
  EXPECT_EQ((*got)[299].time, 1299u);
  EXPECT_EQ((*got)[299].score, 299 * 7 - 100);
  int slot = SlotOf(cache, "boat*");
  ASSERT_GE(slot, 30);  // ordinary searches go to the upper slots
  EXPECT_EQ(cache.InfoOf(slot).use_count, 1u);
  ASSERT_TRUE(Ask(cache, "boat*"));
  EXPECT_EQ(cache.InfoOf(slot).use_count, 2u);
}

TEST(ResultCacheTest, KeyNeedsEveryPartEqual) {
  ResultCache cache;
  cache.Store(kFolder, Hits(250), "boat*", 0x18, 0, false);
  EXPECT_FALSE(Ask(cache, "Boat*"));                     // case matters
  EXPECT_FALSE(Ask(cache, "boat*", 0x10));               // option bits
  EXPECT_FALSE(Ask(cache, "boat*", 0x18, 1));            // fuzziness
  EXPECT_FALSE(Ask(cache, "boat*", 0x18, 0, "/other"));  // index
  EXPECT_TRUE(Ask(cache, "boat*"));
}

TEST(ResultCacheTest, FewHitsKeptOnlyWithWideFlagAndEmptyNeverFound) {
  ResultCache cache;
  cache.Store(kFolder, Hits(199), "few*", 0x18, 0, false);
  EXPECT_EQ(SlotOf(cache, "few*"), -1);
  EXPECT_FALSE(Ask(cache, "few*"));

  cache.Store(kFolder, Hits(3), "few*", 0x18, 0, true);
  int slot = SlotOf(cache, "few*");
  EXPECT_EQ(slot, 0);  // wide results may use every slot
  EXPECT_TRUE(Ask(cache, "few*"));

  // Zero hits with the wide flag: stored, but a slot with no results is free.
  cache.Store(kFolder, {}, "none*", 0x18, 0, true);
  EXPECT_FALSE(Ask(cache, "none*"));
}

TEST(ResultCacheTest, CaseDifferingQueriesTakeTwoSlots) {
  ResultCache cache;
  cache.Store(kFolder, Hits(200, 1), "Boat*", 0x18, 0, false);
  cache.Store(kFolder, Hits(201, 5000), "boat*", 0x18, 0, false);
  int a = SlotOf(cache, "Boat*");
  int b = SlotOf(cache, "boat*");
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(Ask(cache, "Boat*")->size(), 200u);
  EXPECT_EQ(Ask(cache, "boat*")->size(), 201u);
}

TEST(ResultCacheTest, OrdinarySearchesNeverTouchTheLowerSlots) {
  ResultCache cache;
  for (int i = 0; i < kCacheSlots; ++i) {
    cache.Store(kFolder, Hits(10), "wide" + std::to_string(i), 0x18, 0, true);
  }
  for (int i = 0; i < kCacheSlots; ++i) {
    ASSERT_EQ(cache.InfoOf(i).query, "wide" + std::to_string(i));
  }
  for (int i = 0; i < 40; ++i) {
    cache.Store(kFolder, Hits(300), "ord" + std::to_string(i), 0x18, 0, false);
  }
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(cache.InfoOf(i).query, "wide" + std::to_string(i)) << i;
  }
}

// Fills slots 30-49 with searches of the given result counts and use
// counts, stores one more ordinary search and returns the slot it took.
int Replaced(const std::vector<std::pair<size_t, int>>& slots) {
  ResultCache cache;
  for (int i = 0; i < 30; ++i) {
    cache.Store(kFolder, Hits(5), "low" + std::to_string(i), 0x18, 0, true);
  }
  for (size_t i = 0; i < slots.size(); ++i) {
    std::string q = "q" + std::to_string(i);
    cache.Store(kFolder, Hits(slots[i].first), q, 0x18, 0, true);
    for (int u = 0; u < slots[i].second; ++u) Ask(cache, q);
  }
  cache.Store(kFolder, Hits(300), "new", 0x18, 0, false);
  return SlotOf(cache, "new");
}

TEST(ResultCacheTest, ReplacementRules) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, std::pair<size_t, int>>> changes;  // slot offset -> (count, uses)
    int expected;
  };
  const std::vector<Case> cases = {
      {"u below 3 takes the least used", {{5, {100, 2}}, {7, {240, 1}}}, 37},
      {"u 3..9 with few results takes the fewest", {{5, {100, 5}}, {7, {240, 4}}}, 35},
      {"u 3..9, r at least 250: least used", {{5, {300, 5}}, {7, {260, 4}}}, 37},
      {"u 10+, r 250..499: fewest", {{5, {300, 12}}, {7, {260, 15}}}, 37},
      {"u 10+, r 500+: least used", {{5, {600, 11}}, {7, {550, 15}}}, 35},
      {"ties go to the lowest slot", {{3, {100, 1}}, {9, {100, 1}}}, 33},
  };
  for (const Case& c : cases) {
    // Slots 30-49: 1000 results and 20 uses unless the case says otherwise.
    std::vector<std::pair<size_t, int>> slots(20, {1000, 20});
    for (const auto& [offset, value] : c.changes) slots[offset] = value;
    EXPECT_EQ(Replaced(slots), c.expected) << c.what;
  }
}

TEST(ResultCacheTest, BusyEngineMeansNoAnswerAndNoStore) {
  ResultCache cache;
  cache.Store(kFolder, Hits(300), "boat*", 0x18, 0, false);
  {
    MutexLock held(&cache.engine_lock());
    // Look-up and Store run on another thread: they must not wait.
    std::thread other([&] {
      EXPECT_FALSE(Ask(cache, "boat*"));
      EXPECT_FALSE(cache.CollectionAllowed());
      cache.Store(kFolder, Hits(300), "ship*", 0x18, 0, false);
    });
    other.join();
  }
  EXPECT_EQ(SlotOf(cache, "ship*"), -1);
  EXPECT_TRUE(cache.CollectionAllowed());
  EXPECT_TRUE(Ask(cache, "boat*"));
}

TEST(ResultCacheTest, RefreshAppendsAndFreesStemmingAndSynonymSlots) {
  ResultCache cache;
  cache.Store(kFolder, Hits(200), "plain*", 0x10, 0, false);
  cache.Store(kFolder, Hits(200), "stem*", 0x14, 0, false);
  cache.Store(kFolder, Hits(200), "syn*", 0x18, 0, false);
  cache.Store("/other", Hits(200), "plain*", 0x10, 0, false);
  std::vector<std::string> searched;
  {
    MutexLock held(&cache.engine_lock());
    cache.Refresh(kFolder, [&](const std::string& q, uint32_t flags, int fuzz) {
      searched.push_back(q);
      EXPECT_EQ(flags, 0x10u);
      EXPECT_EQ(fuzz, 0);
      CachedHits added;
      added.Add(9000, "02new.jpg", 12);
      return added;
    });
  }
  EXPECT_EQ(searched, std::vector<std::string>{"plain*"});
  std::optional<std::vector<Got>> got = Ask(cache, "plain*", 0x10);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->size(), 201u);
  EXPECT_EQ((*got)[199].file_key, "01f199" + std::string(199 % 40, 'k'));
  EXPECT_EQ(got->back().file_key, "02new.jpg");
  EXPECT_EQ(got->back().time, 9000u);
  EXPECT_EQ(got->back().score, 12);
  EXPECT_FALSE(Ask(cache, "stem*", 0x14));
  EXPECT_FALSE(Ask(cache, "syn*", 0x18));
  EXPECT_EQ(Ask(cache, "plain*", 0x10, 0, "/other")->size(), 200u);
}

TEST(ResultCacheTest, RefreshDoesNotChangeAnAnswerInProgress) {
  ResultCache cache;
  cache.Store(kFolder, Hits(200), "plain*", 0x10, 0, false);
  size_t seen = 0;
  cache.Lookup(kFolder, "plain*", 0x10, 0, [&](std::string_view, uint32_t) {
    // The flush runs while this answer is being walked.
    if (seen++ == 0) {
      MutexLock held(&cache.engine_lock());
      cache.Refresh(kFolder, [](const std::string&, uint32_t, int) {
        return Repeated(500, 1, "03x");
      });
    }
  });
  EXPECT_EQ(seen, 200u);
  EXPECT_EQ(Ask(cache, "plain*", 0x10)->size(), 700u);
}

TEST(ResultCacheTest, DropFreesOnlyThatIndex) {
  ResultCache cache;
  cache.Store(kFolder, Hits(200), "a*", 0x10, 0, false);
  cache.Store(kFolder, Hits(200), "b*", 0x10, 0, true);
  cache.Store("/other", Hits(200), "a*", 0x10, 0, false);
  {
    MutexLock held(&cache.engine_lock());
    cache.Drop(kFolder);
  }
  EXPECT_FALSE(Ask(cache, "a*", 0x10));
  EXPECT_FALSE(Ask(cache, "b*", 0x10));
  EXPECT_TRUE(Ask(cache, "a*", 0x10, 0, "/other"));
}

TEST(ResultCacheTest, LongQueriesAreKeptWhole) {
  ResultCache cache;
  std::string base(200, 'x');
  cache.Store(kFolder, Hits(200), base + "a", 0x10, 0, false);
  EXPECT_FALSE(Ask(cache, base + "b", 0x10));
  EXPECT_TRUE(Ask(cache, base + "a", 0x10));
}

TEST(ResultCacheTest, EngineSettingsOfOptionBits) {
  struct Case {
    uint32_t bits, fuzziness;
    bool thesaurus, wordnet;
    uint32_t flags;
    int fuzz;
    int32_t max_hits;
  };
  const Case cases[] = {
      {0x00, 0, false, false, 0x108, 0, 500},
      {0x10, 0, false, false, 0x000, 0, -1},
      {0x12, 0, false, false, 0x004, 0, -1},  // stemming
      {0x14, 0, true, true, 0x002, 0, -1},    // sound-alike wins over synonyms
      {0x1C, 0, true, false, 0x002, 0, -1},
      {0x18, 0, true, false, 0x030, 0, -1},   // thesaurus synonyms
      {0x18, 0, false, true, 0x050, 0, -1},   // word-net synonyms
      {0x18, 0, false, false, 0x000, 0, -1},  // neither file: no synonyms
      {0x10, 1, false, false, 0x001, 1, -1},
      {0x10, 2, false, false, 0x001, 3, -1},
      {0x10, 3, false, false, 0x001, 6, -1},
      {0x10, 4, false, false, 0x000, 0, -1},
  };
  for (const Case& c : cases) {
    EngineSearchSettings s = SettingsFor(c.bits, c.fuzziness, c.thesaurus, c.wordnet);
    EXPECT_EQ(s.flags, c.flags) << std::hex << c.bits << " " << c.fuzziness;
    EXPECT_EQ(s.fuzziness, c.fuzz) << std::hex << c.bits << " " << c.fuzziness;
    EXPECT_EQ(s.max_hits, c.max_hits) << std::hex << c.bits;
  }
}

}  // namespace
}  // namespace vantrel
