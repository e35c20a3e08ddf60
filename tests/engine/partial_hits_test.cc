// A match cut by its clock answers with the documents its spy saw. Over a
// database combining several shards Xapian hands the spy shard-local ids;
// the kept hits must still name the documents the match weighed.
#include "engine/partial_hits.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/document_indexer.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

TEST(PartialHitsTest, OverCombinedShardsTheKeptHitsAreTheDocumentsSeen) {
  TempDir dir;
  Xapian::Database combined;
  for (int s = 0; s < 3; ++s) {
    const std::string folder = dir.Path("shard" + std::to_string(s));
    Xapian::WritableDatabase db(folder, Xapian::DB_CREATE_OR_OVERWRITE);
    // Xapian walks the shards in turn: a small first shard lets the match
    // reach the others before the spy ends it (after 32 documents).
    for (int i = 0; i < (s == 0 ? 5 : 40); ++i) {
      const std::string name = "s" + std::to_string(s) + "/doc" + std::to_string(i);
      Xapian::Document doc;
      doc.add_value(kNameSlot, name);
      doc.add_boolean_term(IdTermForName(name));
      // Weights differ by shard and document, so every shard has kept hits.
      doc.add_term("harbour", static_cast<Xapian::termcount>(1 + (i * 7 + s * 3) % 11));
      doc.add_term("filler", static_cast<Xapian::termcount>(1 + i % 5));
      db.add_document(doc);
    }
    db.commit();
    combined.add_database(Xapian::Database(folder));
  }
  Xapian::Enquire enquire(combined);
  enquire.set_query(Xapian::Query("harbour"));
  // Expired from the start: the spy ends the match after its first checks.
  SearchClock clock(SearchClock::Clock::now() - std::chrono::seconds(1), nullptr);
  PartialHits spy(&clock, 20, /*newest_first=*/false, ShardPlace{}, /*by_name=*/true);
  enquire.add_matchspy(&spy);
  EXPECT_THROW(enquire.get_mset(0, 20), SearchCutOff);
  std::vector<Hit> hits = spy.Take();
  ASSERT_FALSE(hits.empty());
  GiveCombinedIds(combined, &hits);
  ASSERT_FALSE(hits.empty());
  bool beyond_first_shard = false;
  for (const Hit& h : hits) {
    EXPECT_EQ(combined.get_document(h.id).get_value(kNameSlot), h.name) << h.id;
    beyond_first_shard = beyond_first_shard || h.name.rfind("s0/", 0) != 0;
  }
  // A shard-local id names another document in the combined numbering for
  // every shard but the first.
  EXPECT_TRUE(beyond_first_shard);
}

// A spy that sees many more documents than it keeps, in no useful order,
// ends with exactly the best: newest first by time, then weight, then id;
// also when it reads the times later, in batches or all at the end (a
// document without a time counts as the oldest).
TEST(PartialHitsTest, KeepsExactlyTheBestOfManyDocuments) {
  TempDir dir;
  Xapian::WritableDatabase db(dir.Path("db"), Xapian::DB_CREATE_OR_OVERWRITE);
  struct Doc {
    std::string time;
    Xapian::docid id;
  };
  std::vector<Doc> docs;
  uint32_t state = 7;
  for (Xapian::docid id = 1; id <= 500; ++id) {
    state = state * 1103515245u + 12345u;
    // Few distinct times, so that ties fall to the id.
    std::string time(1, static_cast<char>('a' + (state >> 16) % 23));
    if (id % 50 == 0) time.clear();
    Xapian::Document doc;
    if (!time.empty()) doc.add_value(kTimeSlot, time);
    doc.add_term("harbour");
    db.add_document(doc);
    docs.push_back({time, id});
  }
  db.commit();
  std::sort(docs.begin(), docs.end(), [](const Doc& a, const Doc& b) {
    return a.time != b.time ? a.time > b.time : a.id < b.id;
  });
  for (size_t batch : {0u, 64u, 65536u}) {
    for (size_t keep : {1u, 7u, 30u, 499u, 600u}) {
      SCOPED_TRACE("batch " + std::to_string(batch));
      Xapian::Enquire enquire(db);
      enquire.set_query(Xapian::Query("harbour"));
      enquire.set_weighting_scheme(Xapian::BoolWeight());
      SearchClock clock(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
      PartialHits spy(&clock, keep, /*newest_first=*/true);
      if (batch > 0) spy.ReadTimesLater(&db, batch);
      enquire.add_matchspy(&spy);
      enquire.set_sort_by_value(kTimeSlot, true);
      enquire.get_mset(0, 10, db.get_doccount());  // every match seen
      const std::vector<Hit> hits = spy.Take();
      ASSERT_EQ(hits.size(), std::min(keep, docs.size())) << keep;
      for (size_t i = 0; i < hits.size(); ++i) EXPECT_EQ(hits[i].id, docs[i].id) << keep << " " << i;
      EXPECT_TRUE(spy.Take().empty());
    }
  }
}

}  // namespace
}  // namespace vantrel
