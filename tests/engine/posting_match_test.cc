// The posting-list match must give exactly what Xapian's unranked match
// sorted by the time value gives: the same documents in the same order and
// the same count, over one database and over several shards, with equal
// times, deleted documents and nested operators.
#include "engine/posting_match.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/document_indexer.h"
#include "engine/document_scores.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

const char* const kWords[] = {"sun", "sunset", "sunny", "beach", "harbour", "boat", "town", "old"};

std::string TimeValue(uint32_t t) {
  return std::string{static_cast<char>(t >> 24), static_cast<char>(t >> 16),
                     static_cast<char>(t >> 8), static_cast<char>(t)};
}

// An index of `shards` databases, and the databases on their own.
struct Index {
  Xapian::Database combined;
  std::vector<Xapian::Database> shards;
};

// `shards` databases of random documents; times drawn from a few values so
// that many documents share one; every seventh document deleted again.
Index MakeIndex(const TempDir& dir, int shards) {
  std::mt19937 rng(7);
  Index index;
  for (int s = 0; s < shards; ++s) {
    const std::string folder = dir.Path("shard" + std::to_string(s));
    Xapian::WritableDatabase db(folder, Xapian::DB_CREATE_OR_OVERWRITE);
    for (int i = 0; i < 300; ++i) {
      Xapian::Document doc;
      doc.add_value(kTimeSlot, TimeValue(1000 + rng() % 40));
      for (const char* w : kWords) {
        if (rng() % 3 == 0) doc.add_term(w);
      }
      const Xapian::docid id = db.add_document(doc);
      if (id % 7 == 0) db.delete_document(id);
    }
    db.commit();
    index.shards.emplace_back(folder);
    index.combined.add_database(index.shards.back());
  }
  return index;
}

struct Answer {
  std::vector<Xapian::docid> ids;
  Xapian::doccount matches = 0;
};

Answer XapianNewest(const Xapian::Database& db, const Xapian::Query& q, size_t limit) {
  Xapian::Enquire enquire(db);
  enquire.set_query(q);
  enquire.set_weighting_scheme(Xapian::BoolWeight());
  enquire.set_sort_by_value(kTimeSlot, true);
  Xapian::MSet mset = enquire.get_mset(0, static_cast<Xapian::doccount>(limit), db.get_doccount());
  Answer a;
  a.matches = mset.get_matches_estimated();
  for (Xapian::MSetIterator it = mset.begin(); it != mset.end(); ++it) a.ids.push_back(*it);
  return a;
}

Xapian::Query T(const char* t) { return Xapian::Query(t); }
Xapian::Query Op(Xapian::Query::op op, std::vector<Xapian::Query> parts) {
  return Xapian::Query(op, parts.begin(), parts.end());
}

TEST(PostingMatchTest, GivesXapiansNewestDocumentsAndCountForEveryOperator) {
  TaskPool pool(2);
  using Q = Xapian::Query;
  const std::vector<std::pair<const char*, Q>> queries = {
      {"term", T("beach")},
      {"absent term", T("nowhere")},
      {"synonym", Op(Q::OP_SYNONYM, {T("sun"), T("sunset"), T("sunny")})},
      {"or", Op(Q::OP_OR, {T("beach"), T("boat")})},
      {"and", Op(Q::OP_AND, {T("beach"), T("boat"), T("town")})},
      {"and not", Op(Q::OP_AND_NOT, {T("harbour"), T("old")})},
      {"not alone", Op(Q::OP_AND_NOT, {Q::MatchAll, T("old")})},
      {"every document", Q::MatchAll},
      {"nested", Op(Q::OP_AND, {Op(Q::OP_SYNONYM, {T("sun"), T("sunny")}),
                                Op(Q::OP_OR, {T("boat"), Op(Q::OP_AND_NOT, {T("town"), T("old")})})})},
      {"scaled", Q(Q::OP_SCALE_WEIGHT, T("boat"), 0.0)},
  };
  TempDir dir;
  for (int shards : {1, 3}) {
    const Index index = MakeIndex(dir, shards);
    std::vector<std::optional<TimeTable>> times;
    for (const auto& [label, query] : queries) {
      for (size_t limit : {1, 25, 400, 2000}) {
        SCOPED_TRACE(std::string(label) + ", " + std::to_string(shards) + " shards, limit " +
                     std::to_string(limit));
        SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
        const std::optional<NewestMatch> mine =
            MatchNewestByPostings(index.shards, query, limit, &times, &clock, &pool);
        ASSERT_TRUE(mine.has_value());
        const Answer xapian = XapianNewest(index.combined, query, limit);
        EXPECT_EQ(mine->kept, xapian.ids);
        EXPECT_EQ(mine->matches, xapian.matches);
        EXPECT_FALSE(clock.expired());
      }
    }
  }
}

// Shards of documents over the words "v000".."v119" (skewed differently in
// each shard, wdf 1 to 3), with times drawn from a few values.
Index MakeWordIndex(const TempDir& dir, int shards) {
  std::mt19937 rng(11);
  Index index;
  for (int s = 0; s < shards; ++s) {
    const std::string folder = dir.Path("words" + std::to_string(shards) + "_" + std::to_string(s));
    Xapian::WritableDatabase db(folder, Xapian::DB_CREATE_OR_OVERWRITE);
    for (int i = 0; i < 250 + 30 * s; ++i) {
      Xapian::Document doc;
      doc.add_value(kTimeSlot, TimeValue(1000 + rng() % 60));
      for (int k = 0; k < 2 + static_cast<int>(rng() % 8); ++k) {
        int w = static_cast<int>((rng() % 120) * (rng() % 120) / 120);
        if (s % 2 == 1) w = 119 - w;
        char word[8];
        std::snprintf(word, sizeof word, "v%03d", w);
        doc.add_term(word, 1 + rng() % 3);
      }
      doc.add_term("other", 1 + rng() % 4);
      const Xapian::docid id = db.add_document(doc);
      if (id % 11 == 0) db.delete_document(id);
    }
    db.commit();
    index.shards.emplace_back(folder);
    index.combined.add_database(index.shards.back());
  }
  return index;
}

// The walk of a large synonym counts its terms and reads its kept
// documents, and the weights computed from that are Xapian's own.
TEST(PostingMatchTest, WeighsTheKeptDocumentsOfALargeSynonymAsXapianDoes) {
  TaskPool pool(2);
  TempDir dir;
  std::vector<std::string> words;
  for (int w = 119; w >= 0; --w) {
    char word[8];
    std::snprintf(word, sizeof word, "v%03d", w);
    words.push_back(word);
  }
  const Xapian::Query synonym(Xapian::Query::OP_SYNONYM, words.begin(), words.end());
  for (int shards : {1, 3}) {
    const Index index = MakeWordIndex(dir, shards);
    const std::vector<std::string> uuids = *ShardUuids(index.combined);
    std::vector<std::optional<TimeTable>> times;
    for (size_t limit : {7, 200}) {
      SCOPED_TRACE(std::to_string(shards) + " shards, limit " + std::to_string(limit));
      SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
      const std::optional<NewestMatch> mine =
          MatchNewestByPostings(index.shards, synonym, limit, &times, &clock, &pool);
      ASSERT_TRUE(mine.has_value());
      ASSERT_TRUE(mine->synonym.has_value());
      EXPECT_EQ(mine->kept, XapianNewest(index.combined, synonym, limit).ids);
      for (int s = 0; s < shards; ++s) {
        for (size_t i = 0; i < words.size(); ++i) {
          EXPECT_EQ(mine->synonym->frequencies[s][i], index.shards[s].get_termfreq(words[i]));
        }
      }
      const std::vector<double> weights =
          ScoreSynonymWithStats(index.combined, index.shards, *mine->synonym, mine->kept);
      const std::vector<double> xapian = ScoreDocuments(index.combined, uuids, synonym, mine->kept);
      ASSERT_EQ(weights.size(), mine->kept.size());
      for (size_t k = 0; k < weights.size(); ++k) {
        EXPECT_GT(weights[k], 0) << mine->kept[k];
        EXPECT_EQ(weights[k], xapian[k]) << mine->kept[k];
      }
    }
    // A walk cut short counts no statistics to weigh with.
    std::atomic<bool> stop{true};
    SearchClock stopped(SearchClock::Clock::now() + std::chrono::hours(1), &stop);
    const std::optional<NewestMatch> cut =
        MatchNewestByPostings(index.shards, synonym, 10, &times, &stopped, &pool);
    ASSERT_TRUE(cut.has_value());
    EXPECT_FALSE(cut->synonym.has_value());
  }
  // Smaller synonyms are weighed by Xapian.
  const Index index = MakeWordIndex(dir, 2);
  std::vector<std::optional<TimeTable>> times;
  SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
  const Xapian::Query small(Xapian::Query::OP_SYNONYM, words.begin(), words.begin() + 10);
  const std::optional<NewestMatch> match =
      MatchNewestByPostings(index.shards, small, 10, &times, &clock, &pool);
  ASSERT_TRUE(match.has_value());
  EXPECT_FALSE(match->synonym.has_value());
}

TEST(PostingMatchTest, LeavesToXapianWhatItCannotWalkAndStopsWhenTheClockRunsOut) {
  TaskPool pool(2);
  using Q = Xapian::Query;
  TempDir dir;
  const Index index = MakeIndex(dir, 2);
  std::vector<std::optional<TimeTable>> times;
  SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
  for (const Q& positional : {Op(Q::OP_PHRASE, {T("old"), T("town")}),
                              Op(Q::OP_AND, {T("beach"), Op(Q::OP_NEAR, {T("old"), T("town")})}),
                              Q(Q::OP_VALUE_GE, kTimeSlot, TimeValue(1010))}) {
    EXPECT_FALSE(PostingMatchable(positional)) << positional.get_description();
    EXPECT_FALSE(
        MatchNewestByPostings(index.shards, positional, 10, &times, &clock, &pool).has_value());
  }
  // Ids far sparser than the documents would make a huge bitmap.
  {
    Xapian::WritableDatabase sparse(dir.Path("sparse"), Xapian::DB_CREATE_OR_OVERWRITE);
    Xapian::Document doc;
    doc.add_term("beach");
    sparse.replace_document(40'000'000, doc);
    sparse.commit();
  }
  std::vector<std::optional<TimeTable>> sparse_times;
  EXPECT_FALSE(MatchNewestByPostings({Xapian::Database(dir.Path("sparse"))}, T("beach"), 10,
                                     &sparse_times, &clock, &pool)
                   .has_value());

  // A stop ends every shard's walk, and the caller's clock says so.
  std::atomic<bool> stop{true};
  SearchClock stopped(SearchClock::Clock::now() + std::chrono::hours(1), &stop);
  const std::optional<NewestMatch> cut =
      MatchNewestByPostings(index.shards, Op(Q::OP_OR, {T("beach"), T("boat")}), 10, &times,
                            &stopped, &pool);
  ASSERT_TRUE(cut.has_value());
  EXPECT_TRUE(stopped.expired());
  EXPECT_TRUE(cut->kept.empty());
  EXPECT_EQ(cut->matches, 0u);
}

}  // namespace
}  // namespace vantrel
