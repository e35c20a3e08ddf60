// Searches that could take the server: many wildcards in one proximity chain
// over a few thousand documents. They are bounded in terms, cut at their
// deadline with the hits found so far, run one at a time per index, and end
// when the engine stops; a one-word search stays fast meanwhile.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <xapian.h>

#include "engine/query_compiler.h"
#include "engine_test_util.h"
#include "support/eventually.h"

namespace vantrel {
namespace {

using engine_test::Caption;
using engine_test::EngineFixture;
using engine_test::ImageDoc;
using engine_test::TestDoc;
using Clock = std::chrono::steady_clock;

constexpr int kDocs = 3000;
constexpr int kVocabulary = 300;  // distinct words starting with "f"

std::string FWord(int n) {
  std::string w = "f";
  for (int i = 0; i < 3; ++i, n /= 26) w.push_back(static_cast<char>('a' + n % 26));
  return w;
}

// Fifty wildcard words chained by a proximity operator with a huge distance.
std::string HeavyQuery() {
  std::string q = "f*";
  for (int i = 1; i < 50; ++i) q += " PRE/99999999999999999999 f*";
  return q;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The documents are indexed once for every test, each test has its own
// engine.
class EngineSearchLimitsTest : public EngineFixture {
 protected:
  static void SetUpTestSuite() {
    data_ = new TempDir();
    ASSERT_TRUE(data_->WriteFile("Fields.Dat", FieldCatalogue::StandardText()));
    EngineStartOptions options;
    options.home_folder = data_->path();
    StatusOr<std::unique_ptr<Engine>> engine = Engine::Start(options);
    ASSERT_TRUE(engine.ok());
    std::vector<TestDoc> docs;
    docs.reserve(kDocs);
    for (int i = 0; i < kDocs; ++i) {
      std::vector<std::string> words;
      for (int k = 0; k < 150; ++k) words.push_back(FWord((i * 7919 + k * 104729) % kVocabulary));
      if (i % 10 == 0) words.push_back("harbour");
      char key[32];
      std::snprintf(key, sizeof key, "01Pics\\f%05d.jpg", i);
      docs.push_back(ImageDoc(1000 + i, key, Caption(120, words)));
    }
    engine_test::VectorSource source(std::move(docs));
    IndexJob job;
    job.index_folder = Index();
    job.create = true;
    job.add = true;
    job.data_source = source.source();
    ASSERT_TRUE((*engine)->RunIndexJob(job).ok());
  }
  static void TearDownTestSuite() {
    delete data_;
    data_ = nullptr;
  }
  static std::string Index() { return data_->Path("idx"); }

  void SetSearchSeconds(double seconds) {
    EngineOptions options = engine_->GetOptions();
    options.search_seconds = seconds;
    engine_->SetOptions(options);
  }

  StatusOr<SearchOutcome> Run(const std::string& query, size_t* hits = nullptr) {
    SearchJob job;
    job.query = query;
    job.index_folder = Index();
    job.message_callback = [hits](const EngineMessage& m) {
      if (hits != nullptr && m.code == kMessageFoundDocument) ++*hits;
    };
    return engine_->RunSearchJob(job);
  }

  // Waits up to a minute until a heavy search runs.
  bool HeavySearchRuns() {
    return Eventually([&] { return engine_->RunningHeavySearches() > 0; }, std::chrono::seconds(60));
  }

  static TempDir* data_;
};

TempDir* EngineSearchLimitsTest::data_ = nullptr;

TEST_F(EngineSearchLimitsTest, ExpandedWordsShareTheQuerysTermBudget) {
  Xapian::Database db(Index());
  const FieldCatalogue catalogue = FieldCatalogue::Parse(FieldCatalogue::StandardText());
  ParsedQuery parsed = ParseQuery(HeavyQuery(), CharTable::Default(), catalogue);
  ASSERT_EQ(parsed.error, "");
  CompileSettings settings;
  settings.max_query_terms = 1000;
  CompileStats cost;
  CompileQuery(*parsed.root, catalogue, settings, db, &cost);
  EXPECT_TRUE(cost.positional);
  EXPECT_EQ(cost.terms, 1000u);  // 20 for each of the 50 words
  EXPECT_EQ(cost.bounded_at, 20u);
  // One wildcard alone may take the whole budget; a word within it is not
  // bounded.
  ParsedQuery one = ParseQuery("f*", CharTable::Default(), catalogue);
  CompileQuery(*one.root, catalogue, settings, db, &cost);
  EXPECT_EQ(cost.terms, 1000u);
  EXPECT_EQ(cost.bounded_at, 1000u);
  ParsedQuery word = ParseQuery("harbour", CharTable::Default(), catalogue);
  CompileQuery(*word.root, catalogue, settings, db, &cost);
  EXPECT_EQ(cost.bounded_at, 0u);

  // A search whose wildcard was bounded says so: its answer is marked cut
  // short, with the bound.
  EngineOptions options = engine_->GetOptions();
  options.max_expansion = 100;
  engine_->SetOptions(options);
  size_t hits = 0;
  StatusOr<SearchOutcome> out = Run("f*", &hits);
  ASSERT_TRUE(out.ok());
  EXPECT_TRUE(out->cut_off);
  EXPECT_EQ(out->cut_reason,
            "a wildcard matched more words than its bound: the 100 most frequent were searched");
  EXPECT_GT(hits, 0u);
}

TEST_F(EngineSearchLimitsTest, HeavyQueryEndsAtItsDeadlineWithTheHitsFoundSoFar) {
  // How many hits a heavy query finds before its deadline depends on the
  // build and the machine, so the deadline grows until a cut search has
  // delivered some: every search must end near its deadline, cut, and with
  // fewer hits than an unbounded search would find.
  bool cut_with_hits = false;
  for (double deadline = 0.5; deadline <= 16.0 && !cut_with_hits; deadline *= 2) {
    SCOPED_TRACE(deadline);
    SetSearchSeconds(deadline);
    size_t hits = 0;
    const Clock::time_point start = Clock::now();
    StatusOr<SearchOutcome> out = Run(HeavyQuery(), &hits);
    const double seconds = SecondsSince(start);
    ASSERT_TRUE(out.ok()) << out.status().ToString();
    ASSERT_TRUE(out->cut_off) << "finished within " << seconds << " s";
    EXPECT_NE(out->cut_reason.find("deadline"), std::string::npos) << out->cut_reason;
    EXPECT_LT(hits, static_cast<size_t>(kDocs));
    EXPECT_EQ(out->delivered, hits);
    EXPECT_LT(seconds, deadline + 6.0);  // a loaded machine's margin; unbounded: minutes
    cut_with_hits = hits > 0;
  }
  EXPECT_TRUE(cut_with_hits);
  // An ordinary search is not cut.
  size_t hits = 0;
  StatusOr<SearchOutcome> out = Run("harbour", &hits);
  ASSERT_TRUE(out.ok());
  EXPECT_FALSE(out->cut_off);
}

TEST_F(EngineSearchLimitsTest, OneWordSearchStaysFastWhileHeavySearchesRun) {
  SetSearchSeconds(5);
  std::atomic<bool> done{false};
  std::atomic<int> turned_away{0};
  std::vector<std::thread> heavy;
  for (int t = 0; t < 4; ++t) {
    heavy.emplace_back([&] {
      while (!done) {
        StatusOr<SearchOutcome> out = Run(HeavyQuery());
        if (out.ok() && out->cut_reason.find("another heavy") != std::string::npos) ++turned_away;
      }
    });
  }
  ASSERT_TRUE(HeavySearchRuns());
  std::vector<double> latencies;
  int overlapped = 0;
  for (int i = 0; i < 20; ++i) {
    size_t hits = 0;
    const Clock::time_point start = Clock::now();
    StatusOr<SearchOutcome> out = Run("harbour", &hits);
    latencies.push_back(SecondsSince(start));
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(hits, static_cast<size_t>(kDocs / 10));
    if (engine_->RunningHeavySearches() > 0) ++overlapped;
  }
  done = true;
  for (std::thread& t : heavy) t.join();
  std::sort(latencies.begin(), latencies.end());
  EXPECT_LT(latencies[latencies.size() / 2], 0.1) << "median of one-word searches";
  EXPECT_GT(overlapped, 10);
  EXPECT_GT(turned_away.load(), 0);
}

TEST_F(EngineSearchLimitsTest, StopEndsARunningHeavySearch) {
  SetSearchSeconds(600);
  StatusOr<SearchOutcome> out = Status::Internal("not run");
  std::thread heavy([&] { out = Run(HeavyQuery()); });
  ASSERT_TRUE(HeavySearchRuns());
  const Clock::time_point start = Clock::now();
  engine_->Stop();
  const double seconds = SecondsSince(start);
  heavy.join();
  EXPECT_LT(seconds, 5.0);
  ASSERT_TRUE(out.ok()) << out.status().ToString();
  EXPECT_TRUE(out->cut_off);
  EXPECT_EQ(out->cut_reason, "the engine is stopping");
}

}  // namespace
}  // namespace vantrel
