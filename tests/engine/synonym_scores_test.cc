// The weights computed from a synonym's statistics must be exactly Xapian's:
// they become sort keys in the hit files. Every document of one, two and
// three shards is weighed both ways, for synonyms whose terms share a start
// and whose terms do not, in sorted and in shuffled order, with frequencies
// that tie (the OR tree's heap order) and terms missing from some shards.
#include "engine/synonym_scores.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/document_scores.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

// Words "w000".."w398" (even numbers) and 40 others; words from 300 on go
// only to the first shard.
struct Index {
  Xapian::Database combined;
  std::vector<Xapian::Database> shards;
};

std::string Word(int i) {
  char text[8];
  std::snprintf(text, sizeof text, "w%03d", i);
  return text;
}

Index MakeIndex(const TempDir& dir, int shard_count, unsigned seed) {
  std::mt19937 rng(seed);
  Index index;
  for (int s = 0; s < shard_count; ++s) {
    const std::string folder =
        dir.Path("s" + std::to_string(shard_count) + "_" + std::to_string(s));
    Xapian::WritableDatabase db(folder, Xapian::DB_CREATE_OR_OVERWRITE);
    const int docs = 150 + 40 * s;
    for (int d = 0; d < docs; ++d) {
      Xapian::Document doc;
      const int words = 3 + static_cast<int>(rng() % 12);
      for (int k = 0; k < words; ++k) {
        // Skewed towards the low words in even shards and towards the high
        // ones in odd shards, so that the shards order the terms unlike the
        // whole index; words taken in pairs, so that frequencies tie.
        const int range = s == 0 ? 400 : 300;
        int w = static_cast<int>((rng() % range) * (rng() % range) / range);
        if (s % 2 == 1) w = range - 1 - w;
        doc.add_term(Word(w - w % 2), 1 + rng() % 3);
      }
      for (int k = 0; k < 4; ++k) doc.add_term("z" + std::to_string(rng() % 40), 1 + rng() % 5);
      const Xapian::docid id = db.add_document(doc);
      if (id % 9 == 0) db.delete_document(id);
    }
    db.commit();
    index.shards.emplace_back(folder);
    index.combined.add_database(index.shards.back());
  }
  return index;
}

Xapian::Query Synonym(const std::vector<std::string>& terms) {
  return Xapian::Query(Xapian::Query::OP_SYNONYM, terms.begin(), terms.end());
}

std::vector<Xapian::docid> EveryId(const Xapian::Database& db) {
  std::vector<Xapian::docid> ids;
  for (Xapian::docid id = 1; id <= db.get_lastdocid(); ++id) ids.push_back(id);
  return ids;
}

TEST(SynonymScoresTest, WeightsAreXapiansToTheLastBit) {
  TempDir dir;
  std::mt19937 shuffle(5);
  for (int shard_count : {1, 2, 3}) {
    const Index index = MakeIndex(dir, shard_count, 17u + static_cast<unsigned>(shard_count));
    const std::vector<std::string> uuids = *ShardUuids(index.combined);
    const std::vector<Xapian::docid> ids = EveryId(index.combined);
    std::vector<std::string> all_w;
    for (int i = 0; i < 400; ++i) all_w.push_back(Word(i));
    std::vector<std::string> mixed;  // no common start: looked up term by term
    for (int i = 0; i < 400; i += 5) mixed.push_back(Word(i));
    for (int i = 0; i < 40; ++i) mixed.push_back("z" + std::to_string(i));
    std::sort(mixed.begin(), mixed.end());
    std::vector<std::string> shuffled = all_w;
    std::shuffle(shuffled.begin(), shuffled.end(), shuffle);
    const std::vector<std::string> low(all_w.begin(), all_w.begin() + 100);
    const std::vector<std::string> high(all_w.begin() + 300, all_w.end());  // first shard only
    for (const auto& terms : {all_w, mixed, shuffled, low, high}) {
      const Xapian::Query q = Synonym(terms);
      const std::vector<double> xapian = ScoreDocuments(index.combined, uuids, q, ids);
      const std::optional<std::vector<double>> direct =
          ScoreSynonymDirectly(index.combined, index.shards, q, ids);
      ASSERT_TRUE(direct.has_value());
      size_t matched = 0;
      for (size_t k = 0; k < ids.size(); ++k) {
        EXPECT_EQ((*direct)[k], xapian[k])
            << "shards " << shard_count << " id " << ids[k] << " terms " << terms.size();
        if (xapian[k] > 0) ++matched;
      }
      EXPECT_GT(matched, 10u);
    }
  }
}

TEST(SynonymScoresTest, OtherQueriesAreLeftToXapian) {
  TempDir dir;
  const Index index = MakeIndex(dir, 2, 3);
  std::vector<std::string> terms;
  for (int i = 0; i < 100; ++i) terms.push_back(Word(i));
  const std::vector<std::string> too_few(terms.begin(), terms.begin() + kDirectSynonymTerms - 1);
  std::vector<std::string> twice = terms;
  twice.push_back(terms[7]);
  const Xapian::Query scaled(Xapian::Query::OP_SCALE_WEIGHT, Synonym(terms), 2.0);
  const Xapian::Query anded(Xapian::Query::OP_AND, Synonym(terms), Xapian::Query("z1"));
  for (const Xapian::Query& q : {Synonym(too_few), Synonym(twice), scaled, anded}) {
    EXPECT_FALSE(ScoreSynonymDirectly(index.combined, index.shards, q, {1, 2}).has_value())
        << q.get_description();
  }
}

}  // namespace
}  // namespace vantrel
