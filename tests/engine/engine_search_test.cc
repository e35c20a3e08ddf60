// Searches over a small index of image documents: every construct of the
// query language, the search flags and the hit limit.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/query_compiler.h"
#include "engine_test_util.h"

namespace vantrel {
namespace {

using engine_test::Attr;
using engine_test::Caption;
using engine_test::EngineFixture;
using engine_test::ImageDoc;
using engine_test::TestDoc;

const std::string kA = FormatDocumentName(1000, "03Sport\\img001.jpg");
const std::string kB = FormatDocumentName(2000, "01Nature\\beach.tif");
const std::string kC = FormatDocumentName(3000, "00Misc\\photo.eps");
const std::string kD = FormatDocumentName(4000, "02City\\street.jpg");

using Names = std::vector<std::string>;

Names S(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

class EngineSearchTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    ASSERT_TRUE(home_.WriteFile("THESAUR.DAT", "# ships\r\nboat, ship, sailing vessel\r\n"));
    StartEngine();
    std::vector<TestDoc> docs = {
        ImageDoc(1000, "03Sport\\img001.jpg",
                 Caption(15, {"SPO"}) + Caption(25, {"boat", "harbour"}) +
                     Caption(120, {"Old town harbour at sunset, taken 12/31/98 by the Caf\xC9 Nord"})),
        ImageDoc(2000, "01Nature\\beach.tif",
                 Caption(25, {"beach", "sun"}) + Caption(120, {"Sunny beach with palm trees"}),
                 "PORTRAIT"),
        ImageDoc(3000, "00Misc\\photo.eps", ""),
        ImageDoc(4000, "02City\\street.jpg",
                 Caption(25, {"xnoword"}) + Caption(120, {"The old harbour town street"})),
    };
    ASSERT_TRUE(Add(docs).ok());
  }

  Names Find(const std::string& q, uint32_t flags = 0, int fuzziness = 0) {
    Result r = Search(q, flags, fuzziness);
    EXPECT_EQ(r.error, "") << q;
    return r.names;
  }
};

TEST_F(EngineSearchTest, WordsAndMarkerWordsInTheWholeText) {
  EXPECT_EQ(Find("harbour"), S({kA, kD}));
  EXPECT_EQ(Find("HARBOUR"), S({kA, kD}));
  EXPECT_EQ(Find("xnocap"), S({kC}));
  EXPECT_EQ(Find("QxQB5002"), S({kA, kB, kC, kD}));
  EXPECT_EQ(Find("zqz"), S({kA, kB, kC, kD}));
  EXPECT_EQ(Find("offline"), S({kC}));
  EXPECT_EQ(Find("caf\xE9"), S({kA}));  // é found by É
  EXPECT_EQ(Find("nothing"), S({}));
}

TEST_F(EngineSearchTest, FieldsSearchOnlyTheirGroups) {
  EXPECT_EQ(Find("IPTC025 contains (harbour)"), S({kA}));
  EXPECT_EQ(Find("IPTC120 contains (harbour)"), S({kA, kD}));
  EXPECT_EQ(Find("IPTC025 contains (xnoword)"), S({kD}));
  EXPECT_EQ(Find("IPTC015 contains (spo)"), S({kA}));
  EXPECT_EQ(Find("IPTC120 contains (spo)"), S({}));
  // ZRVFT has two start markers: the type code and the orientation.
  EXPECT_EQ(Find("ZRVFT contains (jpeg)"), S({kA, kB, kC, kD}));
  EXPECT_EQ(Find("ZRVFT contains (portrait)"), S({kB}));
  EXPECT_EQ(Find("ZRVIC contains (portrait)"), S({}));
  EXPECT_EQ(Find("ZRVOL contains (offline)"), S({kC}));
  EXPECT_EQ(Find("ZRVFN contains (img001)"), S({kA}));
  EXPECT_EQ(Find("ZRVFN contains (img001 jpg)"), S({kA}));
  EXPECT_EQ(Find("ZRVFP contains (pictures sport)"), S({kA}));
  // The marker and closing words are not part of the field.
  EXPECT_EQ(Find("ZRVFN contains (zqz)"), S({}));
  EXPECT_EQ(Find("IPTC120 contains (old town) AND IPTC025 contains (boat)"), S({kA}));
  EXPECT_EQ(Find("IPTC120 contains (old W/2 town)"), S({kA, kD}));
  EXPECT_EQ(Find("IPTC120 contains (harb*)"), S({kA, kD}));
}

TEST_F(EngineSearchTest, PhrasesAndDates) {
  EXPECT_EQ(Find("old town"), S({kA}));
  EXPECT_EQ(Find("town old"), S({}));
  EXPECT_EQ(Find("12_31_98"), S({kA}));
  EXPECT_EQ(Find("12/31/98"), S({kA}));
  EXPECT_EQ(Find("31_12_98"), S({}));
  EXPECT_EQ(Find("old tow*"), S({kA}));
  // A wildcard with many expansions inside a phrase.
  EXPECT_EQ(Find("old t*"), S({kA}));
  EXPECT_EQ(Find("old *"), S({kA, kD}));
}

TEST_F(EngineSearchTest, Wildcards) {
  EXPECT_EQ(Find("harb*"), S({kA, kD}));
  EXPECT_EQ(Find("h?rbour"), S({kA, kD}));
  EXPECT_EQ(Find("s*set"), S({kA}));
  EXPECT_EQ(Find("*ach"), S({kB}));
  EXPECT_EQ(Find("sunn?"), S({kB}));  // sunny
  EXPECT_EQ(Find("sun?"), S({}));     // no four-letter word
  EXPECT_EQ(Find("qxq12?"), S({kA, kB, kD}));
  EXPECT_EQ(Find("zz*"), S({}));
}

TEST_F(EngineSearchTest, BooleanOperators) {
  EXPECT_EQ(Find("harbour AND beach"), S({}));
  EXPECT_EQ(Find("harbour OR beach"), S({kA, kB, kD}));
  EXPECT_EQ(Find("harbour NOT street"), S({kA}));
  EXPECT_EQ(Find("harbour AND NOT street"), S({kA}));
  EXPECT_EQ(Find("NOT harbour"), S({kB, kC}));
  EXPECT_EQ(Find("(harbour OR beach) AND old"), S({kA, kD}));
  EXPECT_EQ(Find("harbour OR beach AND palm"), S({kA, kB, kD}));
  EXPECT_EQ(Find("xnocap OR beach AND NOT palm"), S({kC}));
}

TEST_F(EngineSearchTest, Proximity) {
  EXPECT_EQ(Find("old W/1 town"), S({kA}));
  EXPECT_EQ(Find("old W/2 town"), S({kA, kD}));
  EXPECT_EQ(Find("town W/2 old"), S({kA, kD}));
  EXPECT_EQ(Find("old PRE/3 town"), S({kA, kD}));
  EXPECT_EQ(Find("town PRE/3 old"), S({}));
  EXPECT_EQ(Find("old town W/3 sunset"), S({kA}));  // "old town harbour at sunset"
  EXPECT_EQ(Find("old town W/2 sunset"), S({}));
  EXPECT_EQ(Find("(boat OR street) W/3 qxq025"), S({kA}));
  EXPECT_EQ(Find("harb* W/1 town"), S({kA, kD}));
  EXPECT_EQ(Find("harbour W/2 s*"), S({kA, kD}));
  // "sport" stands in two fields (folder name and path): both are near.
  EXPECT_EQ(Find("pictures W/1 sport"), S({kA}));
  EXPECT_EQ(Find("pictures PRE/1 sport"), S({kA}));
  EXPECT_EQ(Find("sport PRE/2 pictures"), S({}));
  EXPECT_EQ(Find("d pictures sport"), S({kA}));
  EXPECT_EQ(Find("sport zqz qxqk5011 sport"), S({kA}));  // across groups
}

TEST_F(EngineSearchTest, FirstAndLastWord) {
  EXPECT_EQ(Find("xlastword"), S({kA, kB, kC, kD}));
  EXPECT_EQ(Find("xfirstword"), S({kA, kB, kC, kD}));
  EXPECT_EQ(Find("xfirstword W/1 qxqb5002"), S({kA, kB, kC, kD}));
  EXPECT_EQ(Find("xfirstword W/1 jpeg"), S({}));
  EXPECT_EQ(Find("sport W/2 xlastword"), S({kA, kB, kC, kD}));
  EXPECT_EQ(Find("xlastword NOT xnocap"), S({kA, kB, kD}));
  // With a limit the same query goes through matching.
  EXPECT_EQ(Search("xlastword", 0, 0, 10).names, S({kA, kB, kC, kD}));
}

TEST_F(EngineSearchTest, FuzzySearchCountsDifferentLetters) {
  EXPECT_EQ(Find("harbur"), S({}));
  EXPECT_EQ(Find("harbur", kSearchFuzzy, 1), S({kA, kD}));
  EXPECT_EQ(Find("hrbur", kSearchFuzzy, 1), S({}));
  EXPECT_EQ(Find("hrbur", kSearchFuzzy, 3), S({kA, kD}));
  EXPECT_EQ(Find("haarboouur", kSearchFuzzy, 3), S({}));
  EXPECT_EQ(Find("haarboouur", kSearchFuzzy, 6), S({kA, kD}));
  // Fuzziness without the flag does nothing.
  EXPECT_EQ(Find("harbur", 0, 6), S({}));
  EXPECT_EQ(Find("IPTC025 contains (harbur)", kSearchFuzzy, 1), S({kA}));
}

TEST_F(EngineSearchTest, SoundAlikeAndStemming) {
  EXPECT_EQ(Find("harbor"), S({}));
  EXPECT_EQ(Find("harbor", kSearchSoundAlike), S({kA, kD}));
  EXPECT_EQ(Find("tree"), S({}));
  EXPECT_EQ(Find("tree", kSearchStemming), S({kB}));
  EXPECT_EQ(Find("harbours", kSearchStemming), S({kA, kD}));
  EXPECT_EQ(Find("palm trees", kSearchStemming), S({kB}));
}

TEST_F(EngineSearchTest, SynonymsFromTheThesaurus) {
  ASSERT_TRUE(engine_->thesaurus_found());
  EXPECT_FALSE(engine_->wordnet_found());
  EXPECT_EQ(Find("ship"), S({}));
  EXPECT_EQ(Find("ship", kSearchSynonyms), S({kA}));
  EXPECT_EQ(Find("ship", 0x30), S({kA}));
  EXPECT_EQ(Find("vessel", kSearchSynonyms), S({}));  // only "sailing vessel" is an entry
  EXPECT_EQ(Find("IPTC120 contains (ship)", kSearchSynonyms), S({}));
  EXPECT_EQ(Find("IPTC025 contains (ship)", kSearchSynonyms), S({kA}));
}

TEST_F(EngineSearchTest, UnreadableQueriesReportAnErrorAndNoHits) {
  std::vector<std::string> errors;
  SearchJob job;
  job.index_folder = Folder();
  job.message_callback = [&](const EngineMessage& m) {
    EXPECT_NE(m.code, kMessageFoundDocument);
    if (m.code == kMessageQueryError) errors.emplace_back(m.text);
  };
  for (const char* q : {"", "()", "AND OR", "(a AND b) W/2 c"}) {
    job.query = q;
    StatusOr<SearchOutcome> out = engine_->RunSearchJob(job);
    ASSERT_TRUE(out.ok());
    EXPECT_NE(out->error, "");
    EXPECT_EQ(out->delivered, 0u);
  }
  EXPECT_EQ(errors.size(), 4u);
}

TEST_F(EngineSearchTest, UnknownIndexIsNotFound) {
  SearchJob job;
  job.query = "harbour";
  job.index_folder = home_.Path("missing");
  EXPECT_TRUE(engine_->RunSearchJob(job).status().IsNotFound());
  EXPECT_TRUE(engine_->GetIndexInfo(home_.Path("missing")).status().IsNotFound());
  StatusOr<IndexInfo> info = engine_->GetIndexInfo(Folder());
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->document_count, 4u);
}

class EngineScoreTest : public EngineFixture {};

TEST_F(EngineScoreTest, BetterMatchesScoreHigher) {
  ASSERT_TRUE(Add({{FormatDocumentName(1, "01a"), "sunset sunset sunset over sea"},
                   {FormatDocumentName(2, "01b"), "a long text about many things and one sunset "
                                                  "in the middle of many other words here"},
                   {FormatDocumentName(3, "01c"), "nothing"}})
                  .ok());
  Result r = Search("sunset");
  ASSERT_EQ(r.hits.size(), 2u);
  EXPECT_EQ(r.hits[0].first, FormatDocumentName(1, "01a"));
  EXPECT_GT(r.hits[0].second, r.hits[1].second);
  EXPECT_GE(r.hits[1].second, 1);
}

TEST_F(EngineScoreTest, HitLimitWithNewestFirstKeepsTheNewestDocuments) {
  std::vector<TestDoc> docs;
  // Older documents match better (more occurrences), newer ones worse.
  for (uint32_t t = 1; t <= 10; ++t) {
    std::string text;
    for (uint32_t k = 0; k < 12 - t; ++k) text += "tide ";
    docs.push_back({FormatDocumentName(t * 100, "01doc" + std::to_string(t)), text + "end"});
  }
  ASSERT_TRUE(Add(docs).ok());
  Result newest = Search("tide", kSearchNewestFirst, 0, 3);
  EXPECT_EQ(newest.names, S({FormatDocumentName(1000, "01doc10"),
                                 FormatDocumentName(800, "01doc8"),
                                 FormatDocumentName(900, "01doc9")}));
  Result best = Search("tide", 0, 0, 3);
  EXPECT_EQ(best.names, S({FormatDocumentName(100, "01doc1"), FormatDocumentName(200, "01doc2"),
                               FormatDocumentName(300, "01doc3")}));
  // Without a limit every document comes, with either flag.
  EXPECT_EQ(Search("tide", kSearchNewestFirst).names.size(), 10u);
  EXPECT_EQ(Search("tide", kSearchNewestFirst, 0, 0).names.size(), 0u);
}

}  // namespace
}  // namespace vantrel
