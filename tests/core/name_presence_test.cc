#include "core/name_presence.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "core/browse_list.h"

namespace vantrel {
namespace {

// Random inserts and removals, with repeats and fingerprints crowded into a
// few slots' neighbourhood, against a counted map: removal by shifting must
// never leave a fingerprint unreachable, through growth and wrap-around.
TEST(NamePresence, MatchesACountedSetThroughGrowthAndRemovals) {
  std::mt19937_64 rng(11);
  NamePresence presence;
  std::map<uint64_t, int> counts;
  std::vector<uint64_t> pool;
  for (int i = 0; i < 3000; ++i) {
    // Low values differ in the low bits only; high ones land near the end of
    // the table and wrap round.
    pool.push_back(i % 3 == 0 ? rng() | 1 : i % 3 == 1 ? uint64_t(i + 1) : ~uint64_t(i));
  }
  for (int step = 0; step < 60000; ++step) {
    const uint64_t f = pool[rng() % pool.size()];
    if (rng() % 3 != 0) {
      presence.Insert(f);
      ++counts[f];
    } else {
      const bool had = counts[f] > 0;
      EXPECT_EQ(presence.Erase(f), had);
      if (had) --counts[f];
    }
    if (step % 5000 == 0) {
      size_t total = 0, repeats = 0;
      for (uint64_t g : pool) {
        ASSERT_EQ(presence.Contains(g), counts[g] > 0) << "step " << step;
      }
      for (const auto& [g, n] : counts) {
        total += static_cast<size_t>(n);
        repeats += n > 1 ? static_cast<size_t>(n - 1) : 0;
      }
      ASSERT_EQ(presence.size(), total);
      ASSERT_EQ(presence.repeats(), repeats);
    }
  }
  std::vector<bool> expected;
  for (uint64_t g : pool) expected.push_back(counts[g] > 0);
  std::unique_ptr<bool[]> present(new bool[pool.size()]);
  presence.ContainsMany(pool, std::span(present.get(), pool.size()));
  for (size_t i = 0; i < pool.size(); ++i) EXPECT_EQ(present[i], expected[i]) << i;
  presence.Clear();
  EXPECT_FALSE(presence.Contains(pool[0]));
  EXPECT_EQ(presence.repeats(), 0u);
  presence.Insert(pool[0]);
  EXPECT_TRUE(presence.Contains(pool[0]));
}

TEST(NamePresence, FingerprintsTellNamesAndStampsApart) {
  const uint64_t f = ExpandedNameFingerprint("01Sport\\2024\\img.jpg", 500);
  EXPECT_EQ(f, NameFingerprint("img.jpg", "01Sport\\2024\\", 500));
  EXPECT_NE(f, ExpandedNameFingerprint("01Sport\\2024\\img.jpg", 501));
  EXPECT_NE(f, ExpandedNameFingerprint("01Sport\\2024\\IMG.jpg", 500));
  // The same bytes split differently are another name.
  EXPECT_NE(ExpandedNameFingerprint("05a\\x12", 1), NameFingerprint("x12", "", 1));
  EXPECT_NE(NameFingerprint("ab", "c\\", 1), NameFingerprint("a", "bc\\", 1));
  EXPECT_NE(ExpandedNameFingerprint("noslash", 0), 0u);
}

// Every byte of a name counts, whatever its length: names of every length
// up to a few blocks, each differing from the others in one byte at every
// position, and the prefixes of one name, all have fingerprints of their own.
TEST(NamePresence, EveryByteOfEveryLengthCounts) {
  std::set<uint64_t> seen;
  size_t made = 0;
  const std::string base = "07News\\2019\\Match 17\\IMG_0042917.JPG";
  for (size_t length = 0; length <= base.size(); ++length) {
    const std::string name = base.substr(0, length);
    seen.insert(ExpandedNameFingerprint(name, 7));
    ++made;
    for (size_t at = 0; at < length; ++at) {
      std::string other = name;
      other[at] = static_cast<char>(other[at] ^ 0x20);
      seen.insert(ExpandedNameFingerprint(other, 7));
      ++made;
    }
  }
  EXPECT_EQ(seen.size(), made);
}

bool Present(const BrowseList& list, const std::string& name, uint32_t time) {
  return list.presence()->Contains(ExpandedNameFingerprint(name, time));
}

// Every way a list gains or loses entries keeps its fingerprints those of
// its entries: adds one by one and in batches (repeats included), removals
// by name, by folder and from the end, an order that keeps only the first
// entries, and a release.
TEST(NamePresence, ABrowseListKeepsTheFingerprintsOfItsEntries) {
  std::mt19937 rng(5);
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(list.Add("01a\\before.jpg", 7, 0, kNoExtra).ok());
  list.KeepPresence();
  auto random_name = [&] {
    return "01" + std::string(1, static_cast<char>('a' + rng() % 4)) + "\\" +
           std::string(rng() % 2 ? "sub\\" : "") + "p" + std::to_string(rng() % 300) + ".jpg";
  };
  auto expect_matches = [&](const char* after) {
    SCOPED_TRACE(after);
    std::map<std::pair<std::string, uint32_t>, int> held;
    for (size_t i = 0; i < list.Count(); ++i) {
      const BrowseEntry e = *list.EntryAt(i);
      ++held[{e.name, e.time}];
    }
    size_t total = 0;
    for (const auto& [key, n] : held) {
      ASSERT_TRUE(Present(list, key.first, key.second)) << key.first << " " << key.second;
      total += static_cast<size_t>(n);
    }
    ASSERT_EQ(list.presence()->size(), total);
    ASSERT_EQ(list.presence()->repeats(), total - held.size());
  };
  for (int round = 0; round < 30; ++round) {
    for (int k = 0; k < 40; ++k) {
      ASSERT_TRUE(list.Add(random_name(), 100 + rng() % 20, 0, kNoExtra).ok());
    }
    std::vector<std::string> names;
    std::vector<NewBrowseEntry> batch;
    for (int k = 0; k < 100; ++k) names.push_back(random_name());
    for (const std::string& n : names) {
      batch.push_back(NewBrowseEntry{n, 100 + static_cast<uint32_t>(rng() % 20)});
    }
    ASSERT_TRUE(list.AddBatch(batch).ok());
    expect_matches("adds");
    for (int k = 0; k < 60; ++k) {
      const std::string name = random_name();
      const uint32_t time = 100 + rng() % 20;
      const bool held = list.Lookup(name, time).has_value();
      EXPECT_EQ(list.Remove(name, time).has_value(), held);
    }
    expect_matches("removals");
    list.RemoveBelow("01" + std::string(1, static_cast<char>('a' + rng() % 4)));
    expect_matches("a folder removed");
    for (int k = 0; k < 5; ++k) list.TakeLast();
    expect_matches("last entries taken");
  }
  const BrowseEntry first = *list.EntryAt(0);
  ASSERT_TRUE(list.SetOrderKeepingFirst(kOrderName, list.Count() / 2).ok());
  expect_matches("first half kept");
  list.Release();
  EXPECT_EQ(list.presence()->size(), 0u);
  EXPECT_FALSE(Present(list, first.name, first.time));
  ASSERT_TRUE(list.Add(first.name, first.time, 0, kNoExtra).ok());
  EXPECT_TRUE(Present(list, first.name, first.time));
}

}  // namespace
}  // namespace vantrel
