// Ranked matches in parts side by side: the hits, their order and their
// weights (to the last bit) are those of one Xapian match over the combined
// database, over two and three shards, with documents of equal weights in
// different shards and deleted documents; what a part throws reaches the
// caller, and a deadline on one part ends it with the hits it found.
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/char_table.h"
#include "engine/document_indexer.h"
#include "engine/document_scores.h"
#include "engine/field_catalogue.h"
#include "engine/query_compiler.h"
#include "engine/query_parser.h"
#include "engine/ranked_match.h"
#include "engine/shard_layout.h"
#include "engine/task_pool.h"
#include "engine_test_util.h"

namespace vantrel {
namespace {

using engine_test::Caption;
using engine_test::EngineFixture;
using engine_test::ImageDoc;
using engine_test::TestDoc;

// Captions of a few words, so that many documents weigh the same; every
// fifth document is indexed twice under another name (the copy, in
// another shard or the same one, weighs exactly as much).
std::vector<TestDoc> Corpus(int count) {
  static const char* const kWords[] = {"harbour", "boat",   "sunset", "beach", "old",
                                       "town",    "street", "sun",    "sunny", "ship"};
  std::mt19937 rng(11);
  auto word = [&] { return std::string(kWords[rng() % (sizeof kWords / sizeof *kWords)]); };
  std::vector<TestDoc> docs;
  for (int i = 0; i < count; ++i) {
    std::string caption;
    const int words = 2 + static_cast<int>(rng() % 5);
    for (int w = 0; w < words; ++w) caption += (w ? " " : "") + word();
    const std::string text = Caption(25, {word()}) + Caption(120, {caption});
    docs.push_back(ImageDoc(1000 + static_cast<uint32_t>(i), "01F\\a" + std::to_string(i), text));
    if (i % 5 == 0) {
      docs.push_back(ImageDoc(1000 + static_cast<uint32_t>(i), "01F\\b" + std::to_string(i), text));
    }
  }
  return docs;
}

class RankedMatchTest : public EngineFixture {
 protected:
  // An index of `count` shards in home_/name, with some documents deleted
  // from every shard (the shards' ids then have gaps).
  std::vector<std::string> Build(const std::string& name, uint32_t count) {
    EngineOptions options = engine_->GetOptions();
    options.new_index_shards = count;
    engine_->SetOptions(options);
    engine_test::VectorSource source(Corpus(360));
    IndexJob job;
    job.index_folder = home_.Path(name);
    job.create = true;
    job.add = true;
    job.data_source = source.source();
    EXPECT_TRUE(engine_->RunIndexJob(job).ok());
    StatusOr<ShardSettings> settings = ReadShardSettings(DefaultFileSystem(), job.index_folder);
    EXPECT_TRUE(settings.ok());
    const std::vector<std::string> shards = LocalShardFolders(*settings, job.index_folder);
    EXPECT_EQ(shards.size(), count);
    for (const std::string& shard : shards) {
      Xapian::WritableDatabase db(shard, Xapian::DB_OPEN | Xapian::DB_BACKEND_GLASS);
      for (Xapian::docid id = 3; id <= db.get_lastdocid(); id += 7) db.delete_document(id);
      db.commit();
    }
    return shards;
  }

  static Xapian::Database Combined(const std::vector<std::string>& shards) {
    Xapian::Database db;
    for (const std::string& shard : shards) db.add_database(Xapian::Database(shard));
    return db;
  }

  Xapian::Query Compile(const std::string& text, const Xapian::Database& db) {
    ParsedQuery parsed = ParseQuery(text, CharTable::Default(), catalogue_);
    EXPECT_EQ(parsed.error, "") << text;
    return CompileQuery(*parsed.root, catalogue_, CompileSettings{}, db);
  }

  // Every form of query, labelled.
  std::vector<std::pair<std::string, Xapian::Query>> Queries(const Xapian::Database& db) {
    const Xapian::Query harbour = Compile("harbour", db), beach = Compile("beach", db);
    return {
        {"harbour", harbour},
        {"field", Compile("IPTC025 contains (harbour)", db)},
        {"AND", Compile("harbour AND beach", db)},
        {"three ANDed", Compile("harbour AND beach AND sun", db)},
        {"OR", Compile("harbour OR beach OR ship", db)},
        {"AND NOT", Compile("harbour AND NOT beach", db)},
        {"phrase", Compile("old town", db)},
        {"W/n", Compile("boat W/3 harbour", db)},
        {"wildcard", Compile("sun*", db)},
        {"scaled",
         Xapian::Query(Xapian::Query::OP_OR,
                       Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, harbour, 2.5), beach)},
        {"MatchAll", Xapian::Query::MatchAll},
    };
  }

  const FieldCatalogue catalogue_ = FieldCatalogue::Parse(FieldCatalogue::StandardText());
};

struct Expected {
  std::vector<RankedHit> hits;
  Xapian::doccount matches;  // exact
};

// One Xapian match of the combined database: the answer the parts must give.
Expected CombinedMatch(const Xapian::Database& db, const Xapian::Query& query,
                       Xapian::doccount limit, bool newest_first = false) {
  Xapian::Enquire enquire(db);
  enquire.set_query(query);
  if (newest_first) enquire.set_sort_by_value(kTimeSlot, true);
  const Xapian::MSet mset = enquire.get_mset(0, limit, db.get_doccount());
  Expected out{{}, mset.get_matches_estimated()};
  for (auto it = mset.begin(); it != mset.end(); ++it) {
    out.hits.push_back({*it, it.get_weight(), newest_first ? it.get_sort_key() : std::string()});
  }
  return out;
}

TEST_F(RankedMatchTest, PartsGiveTheCombinedMatchsHitsOrderAndWeights) {
  TaskPool pool(2);
  for (const uint32_t shard_count : {2u, 3u}) {
    const std::vector<std::string> shards = Build("idx" + std::to_string(shard_count), shard_count);
    const Xapian::Database db = Combined(shards);
    // The views each part matches on, and each shard alone.
    std::vector<Xapian::Database> views, alone;
    for (uint32_t i = 0; i < shard_count; ++i) views.push_back(Combined(shards));
    for (const std::string& shard : shards) alone.emplace_back(shard);
    const std::vector<std::string> uuids = *ShardUuids(db);
    for (const auto& [label, query] : Queries(db)) {
      for (const auto& [limit, newest] : std::vector<std::pair<Xapian::doccount, bool>>{
               {1, false}, {25, false}, {2000, false}, {1, true}, {25, true}, {2000, true}}) {
        const Expected expected = CombinedMatch(db, query, limit, newest);
        const bool weightless = !expected.hits.empty() && expected.hits[0].weight == 0;
        if (newest && weightless) continue;  // newest first takes weighted queries only
        for (uint32_t parts = 2; parts <= shard_count; ++parts) {
          RankedParts match;
          match.weightless = weightless;
          match.newest_first = newest;
          for (uint32_t p = 0; p < (weightless ? shard_count : parts); ++p) {
            match.views.push_back(weightless ? &alone[p] : &views[p]);
          }
          match.uuids = uuids;
          match.query = &query;
          match.limit = limit;
          SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
          const RankedHits found = MatchRankedInParts(match, &clock, &pool);
          const std::string where = label + ", " + std::to_string(shard_count) + " shards, " +
                                    std::to_string(parts) + " parts, limit " +
                                    std::to_string(limit) + (newest ? ", newest" : "");
          ASSERT_EQ(found.hits.size(), expected.hits.size()) << where;
          for (size_t i = 0; i < found.hits.size(); ++i) {
            EXPECT_EQ(found.hits[i].id, expected.hits[i].id) << where << ", hit " << i;
            EXPECT_EQ(found.hits[i].weight, expected.hits[i].weight) << where << ", hit " << i;
            EXPECT_EQ(found.hits[i].time, expected.hits[i].time) << where << ", hit " << i;
          }
          // Every match considered (newest first, or the limit above the
          // count): exact; else Xapian's estimates, at least the hits found.
          if (newest || limit > expected.matches) {
            EXPECT_EQ(found.matches, expected.matches) << where;
          } else {
            EXPECT_GE(found.matches, found.hits.size()) << where;
          }
          if (weightless) break;  // one part per shard, whatever `parts` says
        }
      }
    }
  }
}

// Weighing chosen documents in parts gives each the weight one weighing
// over the combined database gives, whatever the order of the ids, with
// deleted documents, ids of no document and documents the query does not
// match among them.
TEST_F(RankedMatchTest, WeighingInPartsGivesTheCombinedWeights) {
  TaskPool pool(2);
  std::mt19937 rng(3);
  for (const uint32_t shard_count : {2u, 3u}) {
    const std::vector<std::string> shards = Build("w" + std::to_string(shard_count), shard_count);
    const Xapian::Database db = Combined(shards);
    std::vector<Xapian::Database> views;
    for (uint32_t i = 0; i < shard_count; ++i) views.push_back(Combined(shards));
    const std::vector<std::string> uuids = *ShardUuids(db);
    std::vector<Xapian::docid> ids;
    for (Xapian::docid id = 1; id <= db.get_lastdocid() + 2; id += 1 + rng() % 2) ids.push_back(id);
    std::shuffle(ids.begin(), ids.end(), rng);
    for (const auto& [label, query] : Queries(db)) {
      const std::vector<double> expected = ScoreDocuments(db, uuids, query, ids);
      // Proximity and every document weigh 0; every other form weighs.
      if (label != "W/n" && label != "MatchAll") {
        ASSERT_GT(std::count_if(expected.begin(), expected.end(), [](double w) { return w > 0; }), 0)
            << label;
      }
      for (uint32_t parts = 2; parts <= shard_count; ++parts) {
        std::vector<const Xapian::Database*> part_views;
        for (uint32_t p = 0; p < parts; ++p) part_views.push_back(&views[p]);
        SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
        const std::vector<double> found = ScoreInParts(part_views, uuids, query, ids, &clock, &pool);
        ASSERT_EQ(found.size(), ids.size());
        for (size_t k = 0; k < ids.size(); ++k) {
          EXPECT_EQ(found[k], expected[k]) << label << ", " << shard_count << " shards, " << parts
                                           << " parts, id " << ids[k];
        }
      }
    }
  }
}

// Three shards in two parts: part 0 matches shards 0 and 2, part 1 shard 1.
class RankedPartsTest : public RankedMatchTest {
 protected:
  void SetUp() override {
    RankedMatchTest::SetUp();
    shards_ = Build("idx", 3);
    db_ = Combined(shards_);
    views_ = {Combined(shards_), Combined(shards_)};
    match_.views = {&views_[0], &views_[1]};
    match_.uuids = *ShardUuids(db_);
    match_.query = &query_;
    match_.limit = db_.get_doccount();
  }

  std::vector<std::string> shards_;
  Xapian::Database db_;
  std::vector<Xapian::Database> views_;
  const Xapian::Query query_ = Xapian::Query::MatchAll;
  RankedParts match_;
  TaskPool pool_{2};
};

TEST_F(RankedPartsTest, WhatAPartThrowsReachesTheCaller) {
  struct Case {
    uint32_t part;
    std::function<void()> raise;
    std::string kind;
  };
  const Case cases[] = {
      {1, [] { throw Xapian::DatabaseModifiedError("changed"); }, "modified"},
      {0, [] { throw Xapian::NetworkError("gone"); }, "NetworkError"},
      {1, [] { throw std::bad_alloc(); }, "bad_alloc"},
      {9, [] {}, "nothing"},
  };
  for (const Case& c : cases) {
    match_.before_part = [&c](uint32_t part) {
      if (part == c.part) c.raise();
    };
    SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
    EXPECT_EQ(engine_test::Thrown([&] { MatchRankedInParts(match_, &clock, &pool_); }), c.kind)
        << c.part;
  }
}

// Part 1 starts after the deadline: its copy of the query's positional
// part then matches nothing; part 0 (given ample time) finds every match in its
// shards, and the search's clock reports the cut.
TEST_F(RankedPartsTest, ADeadlineOnOnePartEndsItWithTheHitsOfTheOthers) {
  const std::string text = "boat W/3 harbour";
  const Expected all = CombinedMatch(db_, Compile(text, db_), db_.get_doccount());
  const auto deadline = SearchClock::Clock::now() + std::chrono::seconds(3);
  SearchClock clock(deadline, nullptr);
  // Compiled with the search's clock, as the engine does.
  ParsedQuery parsed = ParseQuery(text, CharTable::Default(), catalogue_);
  CompileSettings settings;
  settings.clock = &clock;
  const Xapian::Query query = CompileQuery(*parsed.root, catalogue_, settings, db_);
  match_.query = &query;
  match_.before_part = [&](uint32_t part) {
    if (part != 1) return;
    while (SearchClock::Clock::now() < deadline + std::chrono::milliseconds(50)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  const RankedHits found = MatchRankedInParts(match_, &clock, &pool_);
  EXPECT_TRUE(clock.expired());
  // Every weight is 0: the hits are in document id order.
  std::vector<Xapian::docid> expected, found_ids, shard1;
  for (const RankedHit& h : all.hits) ((h.id - 1) % 3 == 1 ? shard1 : expected).push_back(h.id);
  std::vector<Xapian::docid> found_shard1;
  for (const RankedHit& h : found.hits) {
    ((h.id - 1) % 3 == 1 ? found_shard1 : found_ids).push_back(h.id);
  }
  ASSERT_GT(expected.size(), 0u);
  EXPECT_EQ(found_ids, expected);
  EXPECT_LT(found_shard1.size(), shard1.size());
  EXPECT_TRUE(std::is_sorted(found.hits.begin(), found.hits.end(),
                             [](const RankedHit& a, const RankedHit& b) { return a.id < b.id; }));
}

// Weighing in parts where only part 1 has documents to weigh and the
// deadline has passed: its copy of the query reads its own clock, which
// runs out, and the search's clock must then report the cut too.
TEST_F(RankedPartsTest, ACutWhileWeighingInPartsReachesTheSearchsClock) {
  const std::string text = "boat W/3 harbour";
  SearchClock clock(SearchClock::Clock::now() - std::chrono::seconds(1), nullptr);
  ParsedQuery parsed = ParseQuery(text, CharTable::Default(), catalogue_);
  CompileSettings settings;
  settings.clock = &clock;
  const Xapian::Query query = CompileQuery(*parsed.root, catalogue_, settings, db_);
  std::vector<Xapian::docid> ids;
  for (Xapian::docid id = 2; id <= db_.get_lastdocid(); id += 3) ids.push_back(id);  // shard 1
  ASSERT_FALSE(clock.expired());
  ScoreInParts(match_.views, match_.uuids, query, ids, &clock, &pool_);
  EXPECT_TRUE(clock.expired());
}

// Matches every document of its database while claiming at most `claimed`
// matches: a posting source whose bound is not one.
class UnderstatedSource : public Xapian::PostingSource {
 public:
  explicit UnderstatedSource(Xapian::doccount claimed) : claimed_(claimed) {}
  void init(const Xapian::Database& db) override {
    last_ = db.get_lastdocid();
    current_ = 0;
  }
  Xapian::doccount get_termfreq_min() const override { return 0; }
  Xapian::doccount get_termfreq_est() const override { return claimed_; }
  Xapian::doccount get_termfreq_max() const override { return claimed_; }
  void next(double) override { ++current_; }
  bool at_end() const override { return current_ > last_; }
  Xapian::docid get_docid() const override { return current_; }

 private:
  Xapian::doccount claimed_;
  Xapian::docid last_ = 0, current_ = 0;
};

// A limit cut to the matcher's bound gives the uncut match's hits, weights
// and order; a bound that understates the matches loses none.
TEST(MatchUpToLimitTest, AnswersAsTheWholeLimitEvenWhenTheBoundIsNoBound) {
  Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
  for (int i = 0; i < 40; ++i) {
    Xapian::Document doc;
    doc.add_term(i % 3 == 0 ? "red" : "blue", 1 + static_cast<Xapian::termcount>(i % 4));
    if (i % 5 == 0) doc.add_term("green");
    db.add_document(doc);
  }
  auto hits = [](const Xapian::MSet& mset) {
    std::vector<std::pair<Xapian::docid, double>> out;
    for (auto it = mset.begin(); it != mset.end(); ++it) out.emplace_back(*it, it.get_weight());
    return out;
  };
  Xapian::Enquire enquire(db);
  enquire.set_query(
      Xapian::Query(Xapian::Query::OP_OR, Xapian::Query("red"), Xapian::Query("green")));
  const auto whole = hits(enquire.get_mset(0, 1000));
  ASSERT_EQ(whole.size(), 19u);
  EXPECT_EQ(hits(MatchUpToLimit(enquire, 1000, 0, /*bounded_from=*/1)), whole);
  EXPECT_EQ(hits(MatchUpToLimit(enquire, 1000, 0)), whole);  // under the bounded sizes

  UnderstatedSource source(5);
  enquire.set_query(Xapian::Query(&source));
  EXPECT_EQ(MatchUpToLimit(enquire, 1000, 0, /*bounded_from=*/1).size(), 40u);
}

}  // namespace
}  // namespace vantrel
