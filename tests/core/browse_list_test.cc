#include "core/browse_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "platform/text_compare.h"

namespace vantrel {
namespace {

std::vector<std::string> Names(const BrowseList& list) {
  std::vector<std::string> out;
  for (size_t i = 0; i < list.Count(); ++i) out.push_back(list.EntryAt(i)->name);
  return out;
}

std::vector<BrowseEntry> Entries(const BrowseList& list) {
  std::vector<BrowseEntry> out;
  for (size_t i = 0; i < list.Count(); ++i) out.push_back(*list.EntryAt(i));
  return out;
}

// The list's rules, written out plainly: names compare rotated (last
// component first), ties of equal rotated forms by last-component length.
std::string Rotated(const std::string& name) {
  size_t slash = name.rfind('\\');
  if (slash == std::string::npos) return name;
  return name.substr(slash + 1) + name.substr(0, slash + 1);
}
size_t LastLen(const std::string& name) {
  size_t slash = name.rfind('\\');
  return slash == std::string::npos ? name.size() : name.size() - slash - 1;
}
int RefNameCompare(const std::string& a, const std::string& b) {
  int c = CompareNoCase(Rotated(a), Rotated(b));
  if (c != 0) return c;
  return (LastLen(a) > LastLen(b)) - (LastLen(a) < LastLen(b));
}
bool RefLess(int order, const BrowseEntry& a, const BrowseEntry& b) {
  if (order == kOrderTime && a.time != b.time) return a.time > b.time;
  if (order == kOrderSortKey && a.sort_key != b.sort_key) return a.sort_key > b.sort_key;
  return RefNameCompare(a.name, b.name) < 0;
}

// Keys like the server's: folder number, folders, file name; small pools so
// that equal file names, equal times and equal sort keys are common.
BrowseEntry RandomEntry(std::mt19937& rng) {
  static const char* kFolders[] = {"Sport\\", "sport\\", "Sport\\2024\\", "News\\", "", "A\\",
                                   "B\\",     "Zoo\\b\\"};
  static const char* kFiles[] = {"img.jpg", "IMG.JPG", "a.tif", "Zebra.eps", "x", "ämter.jpg"};
  BrowseEntry e;
  e.name = "0" + std::to_string(rng() % 3) + kFolders[rng() % 8] + kFiles[rng() % 6] +
           (rng() % 2 ? std::to_string(rng() % 50) : "");
  e.time = (rng() % 4 == 0) ? 0xFFFFFFF0u + rng() % 16 : rng() % 40;
  e.value = rng();
  e.extra = rng() % 2 ? kNoExtra : rng() % 100;
  e.sort_key = rng() % 10;
  return e;
}

// Names "01n100" .. "01n199" and a batch of new entries that views them.
struct HundredNewEntries {
  HundredNewEntries() {
    for (int i = 100; i < 200; ++i) names.push_back("01n" + std::to_string(i));
    for (const std::string& n : names) batch.push_back({n, 1, 0, kNoExtra, 0});
  }
  HundredNewEntries(const HundredNewEntries&) = delete;  // the views point into `names`
  std::vector<std::string> names;
  std::vector<NewBrowseEntry> batch;
};

// The three orders on small lists written out by hand (the random test
// below checks them at scale against a plain model).
TEST(BrowseListTest, EachOrderOnAFewEntries) {
  BrowseList names;
  ASSERT_TRUE(names.SetOrder(kOrderName).ok());
  for (const char* n : {"03B\\img.jpg", "03Sport\\zz.jpg", "03A\\img.jpg", "03aa.jpg"}) {
    ASSERT_TRUE(names.Add(n, 1, 0, kNoExtra).ok());
  }
  // Stored forms: "img.jpg03B\", "zz.jpg03Sport\", "img.jpg03A\", "03aa.jpg".
  EXPECT_EQ(Names(names), (std::vector<std::string>{"03aa.jpg", "03A\\img.jpg", "03B\\img.jpg",
                                                    "03Sport\\zz.jpg"}));

  // Time: larger first, unsigned, ties by name.
  BrowseList times;
  ASSERT_TRUE(times.SetOrder(kOrderTime).ok());
  for (auto [n, t] : std::vector<std::pair<const char*, uint32_t>>{
           {"01b.jpg", 5}, {"01a.jpg", 5}, {"01old.jpg", 1}, {"01high.jpg", 0x80000000u},
           {"01c.jpg", 5}}) {
    ASSERT_TRUE(times.Add(n, t, 0, kNoExtra).ok());
  }
  EXPECT_EQ(Names(times), (std::vector<std::string>{"01high.jpg", "01a.jpg", "01b.jpg",
                                                    "01c.jpg", "01old.jpg"}));

  // Sort key: larger first, kept on later adds.
  BrowseList keys;
  ASSERT_TRUE(keys.Add("01b", 0, 0, kNoExtra, 7).ok());
  ASSERT_TRUE(keys.Add("01a", 0, 0, kNoExtra, 3).ok());
  ASSERT_TRUE(keys.SetOrder(kOrderSortKey).ok());
  ASSERT_TRUE(keys.Add("01c", 0, 0, kNoExtra, 9).ok());
  ASSERT_TRUE(keys.Add("01aa", 0, 0, kNoExtra, 3).ok());
  EXPECT_EQ(Names(keys), (std::vector<std::string>{"01c", "01b", "01a", "01aa"}));

  EXPECT_EQ(keys.SetOrder(4).code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(keys.SetOrder(-1).code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(keys.order(), kOrderSortKey);
}

TEST(BrowseListTest, ExpandedEntryKeepsAllFields) {
  BrowseList list;
  ASSERT_TRUE(list.Add("07Sport\\2024\\img.jpg", 11, 22, 33, 44).ok());
  ASSERT_TRUE(list.Add("07", 1, 2, kNoExtra).ok());
  ASSERT_TRUE(list.Add("", 1, 2, kNoExtra).ok());  // volume lists list empty names too
  EXPECT_EQ(*list.EntryAt(2), (BrowseEntry{"07Sport\\2024\\img.jpg", 11, 22, 33, 44}));
  EXPECT_EQ(list.EntryAt(0)->name, "");
  EXPECT_EQ(list.EntryAt(1)->name, "07");
  EXPECT_FALSE(list.EntryAt(3).has_value());
  BrowseEntryView v = *list.ViewAt(2);
  EXPECT_EQ(v.last, "img.jpg");
  EXPECT_EQ(v.folder, "07Sport\\2024\\");
}

TEST(BrowseListTest, RefusesNamesItCannotHoldAndStaysUnchanged) {
  BrowseList list;
  std::string longest = "01" + std::string(253, 'x');
  ASSERT_TRUE(list.Add(longest, 1, 0, kNoExtra).ok());
  Status too_long = list.Add(longest + "y", 1, 0, kNoExtra);
  EXPECT_EQ(too_long.code(), StatusCode::kInvalidArgument);
  Status nul = list.Add(std::string("01a\0b", 5), 1, 0, kNoExtra);
  EXPECT_EQ(nul.code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.EntryAt(0)->name, longest);
  EXPECT_FALSE(list.Lookup(longest + "y", 0).has_value());

  // A batch stops at the first refused name.
  BrowseList batched;
  HundredNewEntries many;
  const std::string overlong(256, 'x');
  many.batch[70].name = overlong;
  EXPECT_EQ(batched.AddBatch(many.batch).code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(batched.Count(), 70u);
}

TEST(BrowseListTest, CapacityStepsOfTheServerEndAtTheListMaximum) {
  const CapacitySteps& s = CapacitySteps::Default();
  EXPECT_EQ(s.CapacityFor(1), 10'000u);
  EXPECT_EQ(s.CapacityFor(10'001), 100'000u);
  EXPECT_EQ(s.CapacityFor(2'000'000), 2'000'000u);
  EXPECT_EQ(s.CapacityFor(2'000'001), 0u);
  EXPECT_EQ(s.NextCapacity(2'000'000), 0u);
  EXPECT_EQ(s.max_entries(), kMaxListEntries);
}

TEST(BrowseListTest, GrowsInStepsAndRefusesBeyondTheLastOne) {
  CapacitySteps steps({2, 4});
  BrowseList list(&steps);
  EXPECT_EQ(list.capacity(), 0u);
  ASSERT_TRUE(list.Add("01a", 1, 0, kNoExtra).ok());
  EXPECT_EQ(list.capacity(), 2u);
  ASSERT_TRUE(list.Add("01b", 2, 0, kNoExtra).ok());
  ASSERT_TRUE(list.Add("01c", 3, 0, kNoExtra).ok());
  EXPECT_EQ(list.capacity(), 4u);
  ASSERT_TRUE(list.Add("01d", 4, 0, kNoExtra).ok());
  Status full = list.Add("01e", 5, 0, kNoExtra);
  EXPECT_EQ(full.code(), StatusCode::kResourceExhausted);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"01a", "01b", "01c", "01d"}));
  // After a removal there is room again.
  ASSERT_TRUE(list.Remove("01a", 0).has_value());
  EXPECT_TRUE(list.Add("01e", 5, 0, kNoExtra).ok());

  // A batch stops at the limit and says so.
  BrowseList batch(&steps);
  HundredNewEntries many;
  EXPECT_EQ(batch.AddBatch(many.batch).code(), StatusCode::kResourceExhausted);
  EXPECT_EQ(Names(batch), (std::vector<std::string>{"01n100", "01n101", "01n102", "01n103"}));
}

TEST(BrowseListTest, RemovedCharListTimeRemovesTheRightTimeListEntry) {
  BrowseList charlist, timelist;
  ASSERT_TRUE(timelist.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(charlist.SetOrder(kOrderName).ok());
  struct File {
    const char* key;
    uint32_t time;
  } files[] = {{"01A\\img.jpg", 500}, {"01B\\img.jpg", 500}, {"01A\\x.jpg", 700}};
  for (const File& f : files) {
    ASSERT_TRUE(timelist.Add(f.key, f.time, 0, kNoExtra).ok());
    ASSERT_TRUE(charlist.Add(f.key, f.time, 0, kNoExtra).ok());
  }
  // A time-ordered list needs the time: the name alone does not match.
  EXPECT_FALSE(timelist.Remove("01B\\img.jpg", 0).has_value());
  EXPECT_FALSE(timelist.Remove("01B\\img.jpg", 501).has_value());
  std::optional<uint32_t> old_time = charlist.Remove("01B\\img.jpg", 0);
  ASSERT_EQ(old_time, 500u);
  EXPECT_EQ(timelist.Remove("01B\\img.jpg", *old_time), 500u);
  EXPECT_EQ(Names(timelist), (std::vector<std::string>{"01A\\x.jpg", "01A\\img.jpg"}));
  EXPECT_EQ(Names(charlist), (std::vector<std::string>{"01A\\img.jpg", "01A\\x.jpg"}));
}

TEST(BrowseListTest, RemovingTheLastEntryReleasesButKeepsTheOrder) {
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(list.Add("01a", 1, 0, kNoExtra).ok());
  ASSERT_TRUE(list.Remove("01a", 1).has_value());
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.capacity(), 0u);
  EXPECT_EQ(list.order(), kOrderTime);
  ASSERT_TRUE(list.Add("01a", 1, 0, kNoExtra).ok());
  ASSERT_TRUE(list.Add("01b", 9, 0, kNoExtra).ok());
  EXPECT_EQ(Names(list), (std::vector<std::string>{"01b", "01a"}));
  list.Release();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.order(), kOrderNone);
  EXPECT_FALSE(list.TakeLast().has_value());

  // TakeLast empties a list from the back.
  ASSERT_TRUE(list.SetOrder(kOrderName).ok());
  for (const char* n : {"01b", "01c", "01a"}) ASSERT_TRUE(list.Add(n, 1, 2, 3).ok());
  EXPECT_EQ(*list.TakeLast(), (BrowseEntry{"01c", 1, 2, 3, 0}));
  EXPECT_EQ(list.TakeLast()->name, "01b");
  EXPECT_EQ(list.TakeLast()->name, "01a");
  EXPECT_FALSE(list.TakeLast().has_value());
}

TEST(BrowseListTest, RemoveBelowTakesTheFolderAndEverythingUnderIt) {
  BrowseList list;
  for (const char* n : {"03Sport", "03Sport\\a.jpg", "03Sport\\x\\b.jpg", "03Sports\\c.jpg",
                        "03sport\\d.jpg", "03News\\Sport\\e.jpg", "04Sport\\f.jpg"}) {
    ASSERT_TRUE(list.Add(n, 1, 0, kNoExtra).ok());
  }
  EXPECT_EQ(list.RemoveBelow("03Sport"), 3u);
  std::vector<std::string> left = Names(list);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"03News\\Sport\\e.jpg", "03Sports\\c.jpg",
                                            "03sport\\d.jpg", "04Sport\\f.jpg"}));
  EXPECT_EQ(list.RemoveBelow("03News\\"), 1u);
  EXPECT_EQ(list.RemoveBelow("05"), 0u);
  EXPECT_EQ(list.Count(), 3u);
}

TEST(BrowseListTest, LookupByNameAndTime) {
  BrowseList list;
  ASSERT_TRUE(list.Add("01a\\img.jpg", 10, 100, 1).ok());
  ASSERT_TRUE(list.Add("01b\\img.jpg", 20, 200, 2).ok());
  ASSERT_TRUE(list.Add("01c.jpg", 20, 300, kNoExtra).ok());
  EXPECT_EQ(list.order(), kOrderNone);
  // A time stamp sorts an unordered list by time first.
  std::optional<BrowseLookup> hit = list.Lookup("01b\\img.jpg", 20);
  ASSERT_TRUE(hit.has_value());
  EXPECT_EQ(list.order(), kOrderTime);
  EXPECT_EQ(hit->value, 200u);
  EXPECT_EQ(hit->extra, 2u);
  // Time 20: "01c.jpg" comes before "img.jpg01b\" (the stored form), time 10 last.
  EXPECT_EQ(hit->position, 1u);
  EXPECT_EQ(list.EntryAt(hit->position)->name, "01b\\img.jpg");
  EXPECT_FALSE(list.Lookup("01b\\img.jpg", 21).has_value());
  EXPECT_FALSE(list.Lookup("01B\\img.jpg", 20).has_value());  // names are exact bytes
  // Time 0 matches by name alone, also in a time-ordered list.
  hit = list.Lookup("01a\\img.jpg", 0);
  ASSERT_TRUE(hit.has_value());
  EXPECT_EQ(hit->time, 10u);
  EXPECT_EQ(hit->position, 2u);

  BrowseList fresh;
  ASSERT_TRUE(fresh.Add("01z", 5, 0, kNoExtra).ok());
  ASSERT_TRUE(fresh.Lookup("01z", 0).has_value());
  EXPECT_EQ(fresh.order(), kOrderName);
  EXPECT_FALSE(BrowseList().Lookup("01z", 0).has_value());
}

TEST(BrowseListTest, LookupInNameOrderFindsTheEntryWithTheTimeAmongEqualNames) {
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderName).ok());
  for (uint32_t t : {30u, 10u, 20u}) ASSERT_TRUE(list.Add("01same.jpg", t, t * 10, kNoExtra).ok());
  ASSERT_TRUE(list.Add("01other.jpg", 10, 0, kNoExtra).ok());
  EXPECT_EQ(list.Lookup("01same.jpg", 20)->value, 200u);
  EXPECT_EQ(list.Lookup("01same.jpg", 0)->value, 300u);  // the first one added
  EXPECT_FALSE(list.Lookup("01same.jpg", 40).has_value());
  ASSERT_TRUE(list.SetOrder(kOrderSortKey).ok());
  EXPECT_EQ(list.Lookup("01same.jpg", 10)->value, 100u);
}

TEST(BrowseListTest, RotatedFormsThatCollideStayTwoNames) {
  // Both are stored as "x1205a\": "05a\x12" (file x12) and "1205a\x" (file x).
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderName).ok());
  ASSERT_TRUE(list.Add("05a\\x12", 1, 111, kNoExtra).ok());
  ASSERT_TRUE(list.Add("1205a\\x", 2, 222, kNoExtra).ok());
  EXPECT_EQ(list.Lookup("05a\\x12", 0)->value, 111u);
  EXPECT_EQ(list.Lookup("1205a\\x", 0)->value, 222u);
  EXPECT_EQ(list.Remove("05a\\x12", 0), 1u);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"1205a\\x"}));
}

TEST(BrowseListTest, FindByNameExactOrPrefix) {
  BrowseList list;
  for (const char* n : {"02Sport", "02Sport\\2024", "02Spo"}) {
    ASSERT_TRUE(list.Add(n, 1, 0, kNoExtra).ok());
  }
  std::optional<size_t> at = list.FindByName("02Sport", false);
  ASSERT_TRUE(at.has_value());
  EXPECT_EQ(list.EntryAt(*at)->name, "02Sport");
  at = list.FindByName("02Sport", true);  // longer names only
  ASSERT_TRUE(at.has_value());
  EXPECT_EQ(list.EntryAt(*at)->name, "02Sport\\2024");
  EXPECT_FALSE(list.FindByName("02Sport\\2024", true).has_value());
  EXPECT_FALSE(list.FindByName("02sport", false).has_value());
  EXPECT_FALSE(list.FindByName("02Sp", false).has_value());
}

// Many random adds and removes (enough to split and merge chunks) against a
// plain sorted vector, in every order.
TEST(BrowseListTest, MatchesAPlainSortedVectorUnderRandomAddsAndRemoves) {
  for (int order : {kOrderNone, kOrderTime, kOrderName, kOrderSortKey}) {
    SCOPED_TRACE(order);
    std::mt19937 rng(1234 + order);
    BrowseList list;
    ASSERT_TRUE(list.SetOrder(order).ok());
    std::vector<BrowseEntry> ref;
    auto ref_insert = [&](const BrowseEntry& e) {
      auto it = std::upper_bound(ref.begin(), ref.end(), e, [&](const auto& a, const auto& b) {
        return RefLess(order, a, b);
      });
      ref.insert(it, e);
    };
    for (int step = 0; step < 12000; ++step) {
      if (rng() % 4 != 0 || ref.empty()) {
        BrowseEntry e = RandomEntry(rng);
        ASSERT_TRUE(list.Add(e.name, e.time, e.value, e.extra, e.sort_key).ok());
        ref_insert(e);
      } else {
        // Remove the entry at a random position by its name (and time).
        const BrowseEntry victim = ref[rng() % ref.size()];
        std::optional<uint32_t> t = list.Remove(victim.name, victim.time);
        ASSERT_TRUE(t.has_value());
        // The list removes the first match of its rule.
        auto it = std::find_if(ref.begin(), ref.end(), [&](const BrowseEntry& r) {
          return r.name == victim.name && (order != kOrderTime || r.time == victim.time);
        });
        EXPECT_EQ(*t, it->time);
        ref.erase(it);
      }
    }
    ASSERT_EQ(Entries(list), ref);
    // Look-ups find what the reference holds, at its position.
    for (int i = 0; i < 300; ++i) {
      const BrowseEntry& want = ref[rng() % ref.size()];
      std::optional<BrowseLookup> got = list.Lookup(want.name, want.time);
      ASSERT_TRUE(got.has_value()) << want.name;
      EXPECT_EQ(list.EntryAt(got->position)->name, want.name);
      if (want.time != 0) {  // 0 matches by name alone
        EXPECT_EQ(got->time, want.time);
      }
    }
    // Look-ups in the list's order and against it, as the hit filters make
    // them, find every entry too.
    for (bool backwards : {false, true}) {
      for (size_t k = 0; k < ref.size(); k += 3) {
        const BrowseEntry& want = ref[backwards ? ref.size() - 1 - k : k];
        std::optional<BrowseLookup> got = list.Lookup(want.name, want.time);
        ASSERT_TRUE(got.has_value()) << want.name;
        EXPECT_EQ(list.EntryAt(got->position)->name, want.name);
      }
    }
    // Re-sorting into every other order and back agrees with the reference.
    for (int other : {kOrderTime, kOrderName, kOrderSortKey, order}) {
      ASSERT_TRUE(list.SetOrder(other).ok());
      std::vector<BrowseEntry> want = ref;
      std::stable_sort(want.begin(), want.end(),
                       [&](const auto& a, const auto& b) { return RefLess(other, a, b); });
      ASSERT_EQ(Entries(list), want) << "order " << other;
      ref = want;
    }
    while (list.Count() > 0) ASSERT_TRUE(list.TakeLast().has_value());
  }
}

// Short names, case partners and bytes that fold: the order must be
// CompareNoCase's exactly, also where names end within their first 16 bytes.
TEST(BrowseListTest, NameOrderIsCompareNoCaseForShortAndFoldedNames) {
  const char kAlphabet[] = {'a', 'A', 'b', '\x01', '\xC0', '\xE0', '\xFF', '~'};
  std::mt19937 rng(5);
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderName).ok());
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) {
    // Some names share their first 16 bytes (up to case), so that the
    // comparison has to look past them.
    static const char* kStarts[] = {"", "abababab", "abababababababab", "ABABABABABABABAb"};
    std::string name = kStarts[rng() % 4];
    for (size_t len = rng() % 21; len > 0; --len) name.push_back(kAlphabet[rng() % 8]);
    names.push_back(name);
    ASSERT_TRUE(list.Add(name, 1, 0, kNoExtra).ok());
  }
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return CompareNoCase(a, b) < 0;
  });
  EXPECT_EQ(Names(list), names);
  for (const std::string& n : names) ASSERT_TRUE(list.Lookup(n, 0).has_value());
}

// Name order outside a list, as the hit filters settle ties with it: the
// prefix and the comparison agree with where a name-ordered list puts the
// names (folders, case partners, folding bytes, rotated forms that are
// equal), and tell every two different names apart.
TEST(BrowseListTest, NameOrderOutsideAListIsTheListsOwn) {
  const char kAlphabet[] = {'a', 'A', 'b', '\x01', '\xC0', '\xE0', '\\', '~'};
  std::mt19937 rng(8);
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderName).ok());
  for (int i = 0; i < 2000; ++i) {
    static const char* kStarts[] = {"", "01Sport\\", "05a\\x12", "1205a\\x", "abababababababab"};
    std::string name = kStarts[rng() % 5];
    for (size_t len = rng() % 24; len > 0; --len) name.push_back(kAlphabet[rng() % 8]);
    if (name.empty()) continue;
    ASSERT_TRUE(list.Add(name, 1, 0, kNoExtra).ok());
  }
  const std::vector<std::string> ordered = Names(list);
  for (int k = 0; k < 20000; ++k) {
    size_t i = rng() % ordered.size(), j = rng() % ordered.size();
    if (i > j) std::swap(i, j);
    const std::string& a = ordered[i];
    const std::string& b = ordered[j];
    const int c = BrowseList::CompareInNameOrder(a, b);
    if (a == b) {
      EXPECT_EQ(c, 0) << a;
      continue;
    }
    EXPECT_LT(c, 0) << a << " | " << b;
    EXPECT_GT(BrowseList::CompareInNameOrder(b, a), 0) << a << " | " << b;
    const NameOrderPrefix pa = BrowseList::NameOrderPrefixOf(a);
    const NameOrderPrefix pb = BrowseList::NameOrderPrefixOf(b);
    EXPECT_LE(pa, pb) << a << " | " << b;
  }
}

TEST(BrowseListTest, AddBatchEqualsOneAddPerEntry) {
  for (int order : {kOrderNone, kOrderTime, kOrderName, kOrderSortKey}) {
    SCOPED_TRACE(order);
    std::mt19937 rng(99 + order);
    BrowseList one_by_one, batched;
    ASSERT_TRUE(one_by_one.SetOrder(order).ok());
    ASSERT_TRUE(batched.SetOrder(order).ok());
    for (int round = 0; round < 3; ++round) {
      std::vector<BrowseEntry> fresh;
      for (int i = 0; i < 3000; ++i) fresh.push_back(RandomEntry(rng));
      std::vector<NewBrowseEntry> batch;
      for (const BrowseEntry& e : fresh) {
        ASSERT_TRUE(one_by_one.Add(e.name, e.time, e.value, e.extra, e.sort_key).ok());
        batch.push_back({e.name, e.time, e.value, e.extra, e.sort_key});
      }
      ASSERT_TRUE(batched.AddBatch(batch).ok());
      ASSERT_EQ(Entries(batched), Entries(one_by_one)) << "round " << round;
    }
  }
}

// Many look-ups at once answer what one look-up each answers: in every
// order, for names that are there, with another time, in other letter case
// or missing; in the list's order, against it and at random. Long file
// names that share their first 16 bytes, in runs of one time stamp longer
// than a chunk, make the names themselves decide.
TEST(BrowseListTest, LookupManyEqualsOneLookupEach) {
  std::mt19937 rng(4711);
  std::vector<BrowseEntry> entries;
  for (int i = 0; i < 4000; ++i) {
    BrowseEntry e = RandomEntry(rng);
    if (i % 2 == 0) {
      e.name = "0" + std::to_string(rng() % 3) + "F" + std::to_string(rng() % 900) +
               "\\Photograph_of_the_harbour_" + std::to_string(rng() % 4) + ".JPG";
      e.time = 7 + rng() % 2;
    }
    entries.push_back(e);
  }
  for (int order : {kOrderNone, kOrderTime, kOrderName, kOrderSortKey}) {
    SCOPED_TRACE(order);
    BrowseList list;
    ASSERT_TRUE(list.SetOrder(order).ok());
    for (const BrowseEntry& e : entries) {
      ASSERT_TRUE(list.Add(e.name, e.time, e.value, e.extra, e.sort_key).ok());
    }
    std::vector<std::string> names;
    std::vector<uint32_t> times;
    for (size_t k = 0; k < list.Count(); k += 2) {
      const BrowseEntry e = *list.EntryAt(k);
      names.push_back(e.name);
      times.push_back(e.time);
      switch (k % 10) {
        case 2: names.push_back(e.name); times.push_back(e.time + 1); break;
        case 4: names.push_back(e.name); times.push_back(0); break;
        case 6:
          names.push_back(e.name);
          std::transform(names.back().begin(), names.back().end(), names.back().begin(),
                         [](char c) { return static_cast<char>(std::toupper(c)); });
          times.push_back(e.time);
          break;
        case 8: names.push_back(e.name + "x"); times.push_back(e.time); break;
      }
    }
    names.push_back(std::string(300, 'a'));
    times.push_back(1);
    names.push_back(std::string("01a\\b\0c", 7));
    times.push_back(1);
    // Newer than every entry, and older.
    names.push_back(names.front());
    times.push_back(0xFFFFFFFFu);
    names.push_back(names.front());
    times.push_back(1);
    std::vector<size_t> in_order(names.size()), backwards(names.size()), shuffled, sparse;
    for (size_t k = 0; k < names.size(); ++k) in_order[k] = backwards[names.size() - 1 - k] = k;
    shuffled = in_order;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    // In order, far apart: each look-up lands in another chunk.
    for (size_t k = 0; k < names.size(); k += 1 + rng() % 400) sparse.push_back(k);
    for (const std::vector<size_t>* picks : {&in_order, &backwards, &shuffled, &sparse}) {
      std::vector<TimedName> wanted;
      for (size_t k : *picks) wanted.push_back(TimedName{names[k], times[k]});
      std::vector<std::optional<BrowseLookup>> many(wanted.size(), BrowseLookup{});
      list.LookupMany(wanted, many);
      size_t found = 0;
      for (size_t k = 0; k < wanted.size(); ++k) {
        std::optional<BrowseLookup> one = list.Lookup(wanted[k].name, wanted[k].time);
        ASSERT_EQ(many[k].has_value(), one.has_value()) << wanted[k].name << " " << wanted[k].time;
        if (!one) continue;
        ++found;
        EXPECT_EQ(many[k]->position, one->position) << wanted[k].name;
        EXPECT_EQ(many[k]->time, one->time);
        EXPECT_EQ(many[k]->value, one->value);
        EXPECT_EQ(many[k]->extra, one->extra);
      }
      EXPECT_GT(found, picks == &sparse ? picks->size() / 3 : list.Count() / 2);
    }
  }
}

// Keeping the first entries of a new order leaves what sorting the whole
// list and cutting it would: equal entries (same sort key and name, other
// time) keep the order they had.
TEST(BrowseListTest, KeepingTheFirstOfAnOrderEqualsSortingAndCutting) {
  std::mt19937 rng(7);
  std::vector<BrowseEntry> fresh;
  for (int i = 0; i < 2500; ++i) fresh.push_back(RandomEntry(rng));
  for (int from : {kOrderTime, kOrderName}) {
    for (int to : {kOrderTime, kOrderName, kOrderSortKey}) {
      for (size_t keep : {size_t{1}, size_t{7}, size_t{600}, size_t{2499}, size_t{2500},
                          size_t{0}}) {
        SCOPED_TRACE(testing::Message() << from << " to " << to << " keeping " << keep);
        BrowseList whole, cut;
        for (BrowseList* list : {&whole, &cut}) {
          ASSERT_TRUE(list->SetOrder(from).ok());
          for (const BrowseEntry& e : fresh) {
            ASSERT_TRUE(list->Add(e.name, e.time, e.value, e.extra, e.sort_key).ok());
          }
        }
        ASSERT_TRUE(whole.SetOrder(to).ok());
        ASSERT_TRUE(cut.SetOrderKeepingFirst(to, keep).ok());
        std::vector<BrowseEntry> want = Entries(whole);
        if (keep != 0) want.resize(std::min(want.size(), keep));
        ASSERT_EQ(Entries(cut), want);
        EXPECT_EQ(cut.order(), to);
        // The cut list goes on working: it takes entries in its order.
        ASSERT_TRUE(cut.Add("09new\\entry.jpg", 5, 1, kNoExtra, 5).ok());
        EXPECT_TRUE(cut.Lookup("09new\\entry.jpg", 5).has_value());
      }
    }
  }
  BrowseList list;
  EXPECT_FALSE(list.SetOrderKeepingFirst(9, 1).ok());
}

TEST(BrowseListTest, ManyRemovalsReclaimNameStorage) {
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderName).ok());
  std::string pad(200, 'p');
  for (int i = 0; i < 20000; ++i) {
    ASSERT_TRUE(list.Add("01" + pad + std::to_string(i), 1, 0, kNoExtra).ok());
  }
  size_t full = list.MemoryBytes();
  for (int i = 0; i < 19900; ++i) {
    ASSERT_TRUE(list.Remove("01" + pad + std::to_string(i), 0).has_value());
  }
  EXPECT_LT(list.MemoryBytes(), full / 4);
  EXPECT_EQ(list.Count(), 100u);
  EXPECT_EQ(list.Lookup("01" + pad + "19950", 0)->time, 1u);
}

}  // namespace
}  // namespace vantrel
