// The posting-list match must give exactly what Xapian's unranked match
// sorted by the time value gives: the same documents in the same order and
// the same count, over one database and over several shards, with equal
// times, deleted documents and nested operators.
#include "engine/posting_match.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/document_indexer.h"
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
