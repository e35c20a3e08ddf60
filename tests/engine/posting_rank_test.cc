// A ranked word, wildcard or pair of them matched by adding up postings
// must answer exactly as Xapian's ranked match of the combined database: the same hits in the
// same order, the same weights to the last bit (they become sort keys in the
// hit files) and the exact count, over one, two and three shards, with
// documents that weigh the same in different shards, deleted documents,
// terms missing from some shards and documents matched with wdf 0.
#include "engine/posting_rank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

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
  for (int d = 0; d < 3000; ++d) {
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
    index.shards.emplace_back(
        dir.Path("r" + std::to_string(shard_count) + "_" + std::to_string(s)));
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

Xapian::Query Op(Xapian::Query::op op, const Xapian::Query& a, const Xapian::Query& b) {
  return Xapian::Query(op, a, b);
}

TEST(PostingRankTest, AnswersAsXapiansRankedMatchOfTheCombinedDatabase) {
  using Q = Xapian::Query;
  TaskPool pool(2);
  TempDir dir;
  const std::vector<std::pair<const char*, Q>> queries = {
      {"large synonym", Synonym(0, 299, 3)},
      {"small synonym", Synonym(20, 29, 4)},
      {"term", Q("w007")},
      {"AND", Op(Q::OP_AND, Synonym(0, 59, 5), Synonym(200, 239, 6))},
      {"OR", Op(Q::OP_OR, Q("w003"), Synonym(100, 299, 7))},
      {"AND NOT", Op(Q::OP_AND_NOT, Synonym(0, 99, 8), Synonym(100, 119, 9))},
  };
  for (int shard_count : {1, 2, 3}) {
    const Index index = MakeIndex(dir, shard_count);
    std::vector<std::optional<LengthTable>> lengths;
    for (const auto& [label, query] : queries) {
      size_t zero = 0;
      for (Xapian::doccount limit : {1u, 25u, 300u, 5000u}) {
        SCOPED_TRACE(std::string(label) + ", " + std::to_string(shard_count) + " shards, limit " +
                     std::to_string(limit));
        SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
        const std::optional<WeighedHits> mine =
            RankByPostings(index.combined, index.shards, query, limit, &lengths, &clock, &pool);
        ASSERT_TRUE(mine.has_value());
        Xapian::Enquire enquire(index.combined);
        enquire.set_query(query);
        // Xapian may end a ranked match early (once no document left could
        // weigh enough) and estimate the count; this walk counts every match,
        // which is the count Xapian gives when told to check them all.
        const Xapian::MSet mset = enquire.get_mset(0, limit, index.combined.get_doccount());
        EXPECT_EQ(mine->matches, mset.get_matches_estimated());
        ASSERT_EQ(mine->hits.size(), mset.size());
        size_t k = 0;
        for (Xapian::MSetIterator it = mset.begin(); it != mset.end(); ++it, ++k) {
          EXPECT_EQ(mine->hits[k].id, *it) << k;
          EXPECT_EQ(mine->hits[k].weight, it.get_weight()) << k;
          if (it.get_weight() == 0) ++zero;
        }
        EXPECT_FALSE(clock.expired());
      }
      // Documents matched with wdf 0 are there and weigh 0.
      if (std::string(label) == "large synonym") {
        EXPECT_GT(zero, 0u);
      }
    }
  }
}

TEST(PostingRankTest, TakesOnlyWhatItWeighsAsXapianAndEndsWhenTheClockRunsOut) {
  using Q = Xapian::Query;
  TaskPool pool(2);
  TempDir dir;
  const Index index = MakeIndex(dir, 2);
  std::vector<std::optional<LengthTable>> lengths;
  SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
  const std::vector<Q> three = {Q("w001"), Q("w002"), Q("w003")};
  const std::vector<std::pair<const char*, Q>> others = {
      {"a term of wdf factor 2", Q("w001", 2)},
      {"three parts", Q(Q::OP_OR, three.begin(), three.end())},
      {"parts sharing a term", Op(Q::OP_AND, Synonym(0, 9, 1), Synonym(9, 19, 2))},
      {"nested", Op(Q::OP_OR, Op(Q::OP_AND, Q("w001"), Q("w002")), Q("w003"))},
      {"scaled", Q(Q::OP_SCALE_WEIGHT, Synonym(0, 99, 1), 2.0)},
      {"phrase", Op(Q::OP_PHRASE, Q("w001"), Q("w002"))},
  };
  for (const auto& [label, other] : others) {
    EXPECT_FALSE(RankByPostings(index.combined, index.shards, other, 10, &lengths, &clock, &pool))
        << label;
  }
  std::atomic<bool> stop{true};
  SearchClock stopped(SearchClock::Clock::now() + std::chrono::hours(1), &stop);
  const std::optional<WeighedHits> cut = RankByPostings(
      index.combined, index.shards, Synonym(0, 299, 3), 10, &lengths, &stopped, &pool);
  ASSERT_TRUE(cut.has_value());
  EXPECT_TRUE(stopped.expired());
  EXPECT_LT(cut->hits.size(), 10u);
}

}  // namespace
}  // namespace vantrel
