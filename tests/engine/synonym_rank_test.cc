// A ranked wildcard matched by adding up its postings must answer exactly
// as Xapian's ranked match of the combined database: the same hits in the
// same order, the same weights to the last bit (they become sort keys in the
// hit files) and the exact count, over one, two and three shards, with
// documents that weigh the same in different shards, deleted documents,
// terms missing from some shards and documents matched with wdf 0.
#include "engine/synonym_rank.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace vantrel {
namespace {

std::string Word(int i) {
  char text[8];
  std::snprintf(text, sizeof text, "w%03d", i);
  return text;
}

struct Index {
  Xapian::Database combined;
  std::vector<Xapian::Database> shards;
};

// Words w000..w299, skewed differently per shard; words from 240 on only in
// the first shard. Every sixth document is added twice (a copy weighs the
// same, in the next shard or the same one), every tenth is deleted, and
// every thirteenth holds one word with wdf 0 and nothing else of the words.
Index MakeIndex(const TempDir& dir, int shard_count) {
  std::mt19937 rng(5);
  Index index;
  std::vector<Xapian::WritableDatabase> writers;
  for (int s = 0; s < shard_count; ++s) {
    writers.emplace_back(dir.Path("r" + std::to_string(shard_count) + "_" + std::to_string(s)),
                         Xapian::DB_CREATE_OR_OVERWRITE);
  }
  for (int d = 0; d < 900; ++d) {
    const int s = d % shard_count;
    Xapian::Document doc;
    if (d % 13 == 0) {
      doc.add_boolean_term(Word(static_cast<int>(rng() % 240)));
    } else {
      const int range = s == 0 ? 300 : 240;
      for (int k = 0; k < 1 + static_cast<int>(rng() % 6); ++k) {
        int w = static_cast<int>((rng() % range) * (rng() % range) / range);
        if (s % 2 == 1) w = range - 1 - w;
        doc.add_term(Word(w), 1 + rng() % 3);
      }
    }
    for (int k = 0; k < static_cast<int>(rng() % 5); ++k) {
      doc.add_term("z" + std::to_string(rng() % 30), 1 + rng() % 4);
    }
    const Xapian::docid id = writers[s].add_document(doc);
    if (d % 6 == 0) writers[(s + 1) % shard_count].add_document(doc);
    if (d % 10 == 0) writers[s].delete_document(id);
  }
  for (int s = 0; s < shard_count; ++s) {
    writers[s].commit();
    index.shards.emplace_back(dir.Path("r" + std::to_string(shard_count) + "_" + std::to_string(s)));
    index.combined.add_database(index.shards.back());
  }
  return index;
}

Xapian::Query Synonym(int first, int last, unsigned seed) {
  std::vector<std::string> words;
  for (int w = first; w <= last; ++w) words.push_back(Word(w));
  std::shuffle(words.begin(), words.end(), std::mt19937(seed));
  return Xapian::Query(Xapian::Query::OP_SYNONYM, words.begin(), words.end());
}

TEST(SynonymRankTest, AnswersAsXapiansRankedMatchOfTheCombinedDatabase) {
  TaskPool pool(2);
  TempDir dir;
  const Xapian::Query query = Synonym(0, 299, 3);
  for (int shard_count : {1, 2, 3}) {
    const Index index = MakeIndex(dir, shard_count);
    for (Xapian::doccount limit : {1u, 25u, 300u, 5000u}) {
      SCOPED_TRACE(std::to_string(shard_count) + " shards, limit " + std::to_string(limit));
      SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
      const std::optional<RankedHits> mine =
          RankSynonymByPostings(index.combined, index.shards, query, limit, &clock, &pool);
      ASSERT_TRUE(mine.has_value());
      Xapian::Enquire enquire(index.combined);
      enquire.set_query(query);
      // Xapian may end a ranked match early (once no document left could
      // weigh enough) and estimate the count; this walk counts every match,
      // which is the count Xapian gives when told to check them all.
      const Xapian::MSet mset = enquire.get_mset(0, limit, index.combined.get_doccount());
      EXPECT_EQ(mine->matches, mset.get_matches_estimated());
      ASSERT_EQ(mine->hits.size(), mset.size());
      size_t k = 0, zero = 0;
      for (Xapian::MSetIterator it = mset.begin(); it != mset.end(); ++it, ++k) {
        EXPECT_EQ(mine->hits[k].id, *it) << k;
        EXPECT_EQ(mine->hits[k].weight, it.get_weight()) << k;
        if (it.get_weight() == 0) ++zero;
      }
      // The cases that make the order hard are there.
      if (limit == 5000u) {
        EXPECT_GT(zero, 0u);
      }
      EXPECT_FALSE(clock.expired());
    }
  }
}

TEST(SynonymRankTest, TakesOnlyLargeSynonymsAndEndsWhenTheClockRunsOut) {
  TaskPool pool(2);
  TempDir dir;
  const Index index = MakeIndex(dir, 2);
  SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
  for (const Xapian::Query& other :
       {Synonym(0, 9, 1), Xapian::Query("w001"),
        Xapian::Query(Xapian::Query::OP_OR, Synonym(0, 99, 1), Xapian::Query("z1"))}) {
    EXPECT_FALSE(RankSynonymByPostings(index.combined, index.shards, other, 10, &clock, &pool))
        << other.get_description();
  }
  std::atomic<bool> stop{true};
  SearchClock stopped(SearchClock::Clock::now() + std::chrono::hours(1), &stop);
  const std::optional<RankedHits> cut =
      RankSynonymByPostings(index.combined, index.shards, Synonym(0, 299, 3), 10, &stopped, &pool);
  ASSERT_TRUE(cut.has_value());
  EXPECT_TRUE(stopped.expired());
  EXPECT_LT(cut->hits.size(), 10u);
}

}  // namespace
}  // namespace vantrel
