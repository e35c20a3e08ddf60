#include "search/search_worker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/config_file.h"
#include "core/list_lock_table.h"
#include "engine/query_compiler.h"
#include "engine/engine_test_util.h"
#include "platform/paths.h"
#include "search/hit_file.h"
#include "search/progress_file.h"
#include "search/request_file.h"
#include "search/request_names.h"
#include "search/search_statistics.h"
#include "support/hit_file_reader.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using engine_test::Caption;
using engine_test::ImageDoc;
using engine_test::TestDoc;
using engine_test::VectorSource;

constexpr uint32_t kNow = 0x60000000;
constexpr uint32_t kJpeg = 0x4A504547;  // "JPEG"

uint32_t U32At(const std::string& b, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

class SearchWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = dir_.Path("home");
    ASSERT_TRUE(DefaultFileSystem()->CreateFolders(home_).ok());
    ASSERT_TRUE(holder_.WriteFieldCatalogue(home_).ok());
    ASSERT_TRUE(holder_.Start(home_).ok());

    StatusOr<IndexDefinition> def = NewIndexDefinition("Pictures", dir_.Path("idx"));
    ASSERT_TRUE(def.ok());
    def->active = 1;
    DeriveIndexFolders(&*def);
    ASSERT_TRUE(DefaultFileSystem()->CreateFolders(def->search_folder).ok());
    search_folder_ = def->search_folder;
    engine_folder_ = def->engine_folder;

    TaskEnvironment env;
    env.fs = DefaultFileSystem();
    env.list_locks = &locks_;
    task_ = std::make_unique<TaskContext>(env);
    task_->config.indexes.push_back(*def);
    ASSERT_TRUE(task_->indexes[0].timelist.SetOrder(kOrderTime).ok());

    options_.sleep = [this](std::chrono::milliseconds ms) { slept_ms_ += ms.count(); };
    options_.now_stamp = [] { return kNow; };
    options_.today_key = [this] { return today_; };
    worker_ = std::make_unique<SearchWorker>(&holder_, &cache_, DefaultFileSystem(), options_);
  }

  // A new worker whose engine searches `run` answers.
  void UseStandInEngine(SearchJobRunner run) {
    options_.run_search_job = std::move(run);
    worker_ = std::make_unique<SearchWorker>(&holder_, &cache_, DefaultFileSystem(), options_);
  }

  // Indexes documents and lists them in TIMELIST.
  void AddDocs(const std::vector<TestDoc>& docs, bool in_timelist = true) {
    VectorSource source(docs);
    IndexJob job;
    job.index_folder = engine_folder_;
    job.create = true;
    job.add = true;
    job.data_source = source.source();
    ASSERT_TRUE(holder_.engine()->RunIndexJob(job).ok());
    if (!in_timelist) return;
    for (const TestDoc& d : docs) {
      std::optional<DecodedDocumentName> name = DecodeDocumentName(d.name);
      ASSERT_TRUE(name);
      ASSERT_TRUE(
          task_->indexes[0].timelist.Add(name->file_key, name->time_stamp, kJpeg, kNoExtra).ok());
    }
  }

  // One picture captioned with `words` (keywords), stamped `time`.
  static TestDoc Pic(uint32_t time, const std::string& name, const std::string& words) {
    return ImageDoc(time, "01Sport\\" + name, Caption(25, {words}));
  }

  std::string InSearch(const std::string& name) const { return search_folder_ + "/" + name; }

  HitFileView Serve(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(DefaultFileSystem()->WriteFile(InSearch(name), bytes).ok());
    worker_->ServeRequest(*task_, 0, name);
    return ReadHitFile(InSearch(HitFileName(name)));
  }

  HitFileView ServeShort(const std::string& name, const ShortSearchRequest& r) {
    StatusOr<std::string> bytes = EncodeShortSearchRequest(r);
    EXPECT_TRUE(bytes.ok());
    return Serve(name, *bytes);
  }
  // A short form request of `term` alone.
  HitFileView ServeTerm(const std::string& name, const std::string& term) {
    ShortSearchRequest r;
    r.first_term = term;
    return ServeShort(name, r);
  }
  HitFileView ServeLong(const std::string& name, const LongSearchRequest& r,
                        size_t size = kLongRequestMaxSize) {
    StatusOr<std::string> bytes = EncodeLongSearchRequest(r, size);
    EXPECT_TRUE(bytes.ok());
    return Serve(name, *bytes);
  }
  HitFileView ServeQuery(const std::string& name, const QueryRequest& r) {
    StatusOr<std::string> bytes = EncodeQueryRequest(r);
    EXPECT_TRUE(bytes.ok());
    return Serve(name, *bytes);
  }

  std::vector<StatusMessage> Messages() {
    std::vector<StatusMessage> out;
    while (std::optional<StatusMessage> m = task_->status_queue.Pop()) out.push_back(*m);
    return out;
  }
  std::vector<std::string> TextsOf(uint32_t code) {
    std::vector<std::string> out;
    for (const StatusMessage& m : Messages()) {
      if (m.code == code) out.push_back(m.data);
    }
    return out;
  }

  TempDir dir_;
  std::string home_;
  std::string search_folder_;
  std::string engine_folder_;
  EngineHolder holder_;
  ResultCache cache_;
  ListLockTable locks_;
  std::unique_ptr<TaskContext> task_;
  SearchWorkerOptions options_;
  std::unique_ptr<SearchWorker> worker_;
  int64_t slept_ms_ = 0;
  uint32_t today_ = 126000;
};

TEST_F(SearchWorkerTest, ShortFormAnswersInTimeOrderFromTimeList) {
  AddDocs({Pic(kNow - 30, "a.jpg", "harbour boat"), Pic(kNow - 10, "b.jpg", "boat"),
           Pic(kNow - 20, "c.jpg", "boats moored"), Pic(kNow - 5, "d.jpg", "car")});
  // A file changed since it was indexed: its TIMELIST stamp differs.
  AddDocs({Pic(kNow - 40, "e.jpg", "boat")}, false);
  ASSERT_TRUE(task_->indexes[0].timelist.Add("01Sport\\e.jpg", kNow - 1, kJpeg, kNoExtra).ok());

  HitFileView hit = ServeTerm("S1.REQ", "Boat");
  ASSERT_TRUE(hit.present);
  EXPECT_FALSE(DefaultFileSystem()->Exists(InSearch("S1.REQ")));
  EXPECT_EQ(hit.count, 3u);
  EXPECT_EQ(hit.found, 3u);
  EXPECT_EQ(hit.keys(),
            (std::vector<std::string>{"01Sport\\b.jpg", "01Sport\\c.jpg", "01Sport\\a.jpg"}));
  // TIMELIST (newest first): e(-1) d(-5) b(-10) c(-20) a(-30); numbers are
  // positions plus 10.
  EXPECT_EQ(hit.records[0].number, 12u);
  EXPECT_EQ(hit.records[1].number, 13u);
  EXPECT_EQ(hit.records[2].number, 14u);
  EXPECT_EQ(hit.records[0].time, kNow - 10);
  EXPECT_EQ(hit.records[0].type, kJpeg);

  std::vector<StatusMessage> messages = Messages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages[0].code, kStatusOperation);
  EXPECT_TRUE(messages[0].has_number);
  EXPECT_EQ(messages[0].number, 0u);
  EXPECT_EQ(messages[1].code, kStatusLastSearch);
  EXPECT_EQ(messages[1].data.rfind("Boat  3 Hits found in  0.", 0), 0u) << messages[1].data;
  EXPECT_TRUE(messages[1].data.ends_with(" Seconds")) << messages[1].data;
}

// No hit gives the bare 408-byte file; an older, larger hit file keeps its
// bytes beyond the new records.
TEST_F(SearchWorkerTest, NoHitGivesTheBare408ByteFileAndAnOlderLargerFileKeepsItsTail) {
  AddDocs({Pic(kNow - 30, "a.jpg", "boat")});
  std::string expected(408, '\0');
  expected[8] = static_cast<char>(408 & 0xFF);
  expected[9] = static_cast<char>(408 >> 8);
  EXPECT_EQ(ServeTerm("NONE.REQ", "zebra").bytes, expected);

  std::string old(5000, 'x');
  ASSERT_TRUE(DefaultFileSystem()->WriteFile(InSearch("OLD.HIT"), old).ok());
  HitFileView hit = ServeTerm("OLD.REQ", "boat");
  ASSERT_EQ(hit.bytes.size(), 5000u);
  EXPECT_EQ(hit.count, 1u);
  ASSERT_EQ(hit.records.size(), 1u);
  size_t used = 408 + 16 + hit.records[0].key.size() + 1;
  EXPECT_EQ(hit.bytes.substr(used), old.substr(used));
}

TEST_F(SearchWorkerTest, EveryRequestForm) {
  AddDocs({Pic(kNow - 30, "a.jpg", "harbour boat"), Pic(kNow - 10, "b.jpg", "boat"),
           Pic(kNow - 20, "c.jpg", "harbour")});
  // Short form with the implicit operator and the name order flag.
  ShortSearchRequest s;
  s.first_term = "harbour OR boat";
  s.name_order_flag = 1;
  EXPECT_EQ(ServeShort("F1.REQ", s).keys(),
            (std::vector<std::string>{"01Sport\\a.jpg", "01Sport\\b.jpg", "01Sport\\c.jpg"}));

  // Long form of 521 bytes: query text and the hit limit byte.
  LongSearchRequest l;
  l.query_text = "harbour AND boat";
  EXPECT_EQ(ServeLong("F2.REQ", l, 521).keys(), std::vector<std::string>{"01Sport\\a.jpg"});
  // Long form with a hit limit of 1000 and a field.
  l.query_text = "harb";
  l.field_selector = kFieldKeywords;
  l.hit_limit_thousands = 1;
  EXPECT_EQ(ServeLong("F3.REQ", l).keys(),
            (std::vector<std::string>{"01Sport\\c.jpg", "01Sport\\a.jpg"}));

  // Query request with name order.
  QueryRequest q;
  q.query_text = "boat";
  q.option_bits = 0x10;
  q.sort_order = 2;
  HitFileView hit = ServeQuery("F4.QRY", q);
  EXPECT_EQ(hit.keys(), (std::vector<std::string>{"01Sport\\a.jpg", "01Sport\\b.jpg"}));
  EXPECT_FALSE(DefaultFileSystem()->Exists(InSearch("F4.QRY")));
  // Query request with an empty text: deleted, never answered.
  q.query_text.clear();
  EXPECT_FALSE(ServeQuery("F5.QRY", q).present);
  EXPECT_FALSE(DefaultFileSystem()->Exists(InSearch("F5.QRY")));

  // No-op request: deleted, no answer, no status.
  Messages();
  EXPECT_FALSE(Serve("NOOP.REQ", EncodeNoOpRequest()).present);
  EXPECT_FALSE(DefaultFileSystem()->Exists(InSearch("NOOP.REQ")));
  EXPECT_TRUE(Messages().empty());

  // A request in a sub-folder is answered there.
  ASSERT_TRUE(DefaultFileSystem()->CreateFolders(InSearch("client7")).ok());
  s.first_term = "harbour";
  s.name_order_flag = 0;
  ASSERT_TRUE(DefaultFileSystem()
                  ->WriteFile(InSearch("client7/F6.REQ"), *EncodeShortSearchRequest(s))
                  .ok());
  worker_->ServeRequest(*task_, 0, "client7\\F6.REQ");
  EXPECT_EQ(ReadHitFile(InSearch("client7/F6.HIT")).count, 2u);
}

TEST_F(SearchWorkerTest, ShortRequestsAndLockedFilesStayWithoutAnswer) {
  // Never reaches 520 bytes: waited for, reported, left in place.
  ASSERT_TRUE(DefaultFileSystem()->WriteFile(InSearch("SMALL.REQ"), std::string(100, 'a')).ok());
  worker_->ServeRequest(*task_, 0, "SMALL.REQ");
  EXPECT_TRUE(DefaultFileSystem()->Exists(InSearch("SMALL.REQ")));
  EXPECT_FALSE(DefaultFileSystem()->Exists(InSearch("SMALL.HIT")));
  EXPECT_EQ(slept_ms_, 101 * 50);
  EXPECT_EQ(TextsOf(kStatusLastSearch),
            std::vector<std::string>{"Failed to get size " + InSearch("SMALL.REQ")});

  // A query request too short: no message at all.
  slept_ms_ = 0;
  ASSERT_TRUE(DefaultFileSystem()->WriteFile(InSearch("SMALL.QRY"), std::string(3099, 'a')).ok());
  worker_->ServeRequest(*task_, 0, "SMALL.QRY");
  EXPECT_TRUE(DefaultFileSystem()->Exists(InSearch("SMALL.QRY")));
  EXPECT_EQ(slept_ms_, 101 * 30);
  EXPECT_TRUE(Messages().empty());

  // Names that do not lie in the search folder are not served.
  for (const char* name : {"..\\idx.REQ", "", "a\\\\b.REQ", "sub\\..\\x.REQ", "a/b.REQ"}) {
    worker_->ServeRequest(*task_, 0, name);
  }
  EXPECT_TRUE(Messages().empty());
  // Nor indexes that do not exist.
  worker_->ServeRequest(*task_, 5, "SMALL.REQ");
  worker_->ServeRequest(*task_, -1, "SMALL.REQ");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SearchWorkerTest, ManyHitsAreCutByTheLimitButCounted) {
  std::vector<TestDoc> docs;
  for (int i = 0; i < 2500; ++i) {
    docs.push_back(Pic(kNow - 10000 + i, "p" + std::to_string(i) + ".jpg", "boat"));
  }
  AddDocs(docs);
  ShortSearchRequest s;
  s.first_term = "boat";
  HitFileView hit = ServeShort("MANY.REQ", s);
  EXPECT_EQ(hit.count, 2000u);
  EXPECT_EQ(hit.found, 2500u);
  ASSERT_EQ(hit.records.size(), 2000u);
  EXPECT_EQ(hit.records[0].key, "01Sport\\p2499.jpg");  // newest first
  // The skip table points at record 1024.
  size_t at = 408;
  for (int i = 0; i < 1024; ++i) at += 16 + U32At(hit.bytes, at);
  EXPECT_EQ(U32At(hit.bytes, 8 + 4), at);

  // Query request without a limit: every hit, and a progress file.
  QueryRequest q;
  q.query_text = "boat";
  q.option_bits = 0x10;
  q.sort_order = 1;
  HitFileView all = ServeQuery("MANY.QRY", q);
  EXPECT_EQ(all.count, 2500u);
  EXPECT_EQ(all.found, 2500u);
  StatusOr<std::string> progress = DefaultFileSystem()->ReadFile(InSearch("MANY.PRG"));
  ASSERT_TRUE(progress.ok());
  EXPECT_EQ(DecodeProgressFile(*progress), 2500u);

  // The query request of 2500 hits asked for every hit: kept in the cache,
  // the same query again does not reach the engine.
  uint64_t searches = worker_->engine_searches();
  HitFileView again = ServeQuery("MANY2.QRY", q);
  EXPECT_EQ(worker_->engine_searches(), searches);
  EXPECT_EQ(again.keys(), all.keys());

  // With a merge list no progress file is written. (MANY.HIT now holds the
  // query's answer; a short form answer holds 2000.)
  ASSERT_EQ(ServeShort("FEW.REQ", s).count, 2000u);
  q.list_options = 1;
  q.merge_file = "FEW.HIT";
  HitFileView merged = ServeQuery("MERGED.QRY", q);
  EXPECT_EQ(merged.count, 2500u);
  EXPECT_EQ(merged.found, 500u);  // the hits beyond the 2000 of MANY.HIT
  EXPECT_FALSE(DefaultFileSystem()->Exists(InSearch("MERGED.PRG")));
}

// With a date filter the engine delivers every match, best first; the answer
// still holds the newest 2000, whatever their scores. A search without words
// walks TIMELIST for them.
TEST_F(SearchWorkerTest, AFilteredSearchAnswersTheNewestOfManyHits) {
  std::vector<std::string> keys;
  for (uint32_t i = 0; i < 2500; ++i) {
    keys.push_back("01Sport\\p" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(
        task_->indexes[0].timelist.Add(keys.back(), kNow - 10000 + i, kJpeg, kNoExtra).ok());
  }
  UseStandInEngine([&keys](const SearchJob& job) -> StatusOr<SearchOutcome> {
    // The older files score higher.
    for (uint32_t i = 0; i < keys.size(); ++i) {
      const std::string name = FormatDocumentName(kNow - 10000 + i, keys[i]);
      EngineMessage m;
      m.code = kMessageFoundDocument;
      m.name = name;
      m.score = static_cast<int32_t>(keys.size() - i);
      job.message_callback(m);
    }
    SearchOutcome outcome;
    outcome.matches = keys.size();
    outcome.delivered = keys.size();
    return outcome;
  });
  LongSearchRequest dated;
  dated.query_text = "boat";
  dated.date_mode = 1;
  dated.date_period = 1;
  dated.hit_limit_thousands = 2;
  HitFileView hit = ServeLong("DATED.REQ", dated);
  EXPECT_EQ(hit.found, 2500u);
  ASSERT_EQ(hit.records.size(), 2000u);
  EXPECT_EQ(hit.records.front().key, keys[2499]);
  EXPECT_EQ(hit.records.back().key, keys[500]);

  // Without words: TIMELIST walked, newest first or by name.
  dated.query_text.clear();
  HitFileView walked = ServeLong("WALKED.REQ", dated);
  EXPECT_EQ(walked.found, 2500u);
  ASSERT_EQ(walked.records.size(), 2000u);
  EXPECT_EQ(walked.records.front().key, keys[2499]);
  EXPECT_EQ(walked.records.back().key, keys[500]);
  dated.name_order_flag = 1;
  HitFileView by_name = ServeLong("BYNAME.REQ", dated);
  EXPECT_EQ(by_name.found, 2500u);
  ASSERT_EQ(by_name.records.size(), 2000u);
  EXPECT_EQ(by_name.records.front().key, keys[0]);  // "p0.jpg" sorts first
}

TEST_F(SearchWorkerTest, DateFilters) {
  AddDocs({Pic(kNow - 100, "hour.jpg", "boat"), Pic(kNow - 2 * 86400, "days.jpg", "boat"),
           Pic(kNow - 40 * 86400, "old.jpg", "boat"), Pic(kNow - 50, "car.jpg", "car")});
  struct Case {
    const char* term;
    uint8_t mode, period;
    std::vector<std::string> keys;
  };
  const std::vector<Case> cases = {
      // The thresholds of each mode and period are pinned by the date
      // filter's own table; here: the request's fields reach it.
      {"boat", 0, 0, {"01Sport\\hour.jpg", "01Sport\\days.jpg", "01Sport\\old.jpg"}},
      {"boat", 1, 2, {"01Sport\\hour.jpg", "01Sport\\days.jpg"}},
      {"boat", 2, 3, {"01Sport\\old.jpg"}},
      // No words: every file of TIMELIST that passes.
      {"", 1, 1, {"01Sport\\car.jpg", "01Sport\\hour.jpg"}},
      {"", 2, 1, {"01Sport\\days.jpg", "01Sport\\old.jpg"}},
      {"", 7, 1, {}},
  };
  int n = 0;
  for (const Case& c : cases) {
    ShortSearchRequest s;
    s.first_term = c.term;
    s.date_mode = c.mode;
    s.date_period = c.period;
    HitFileView hit = ServeShort("D" + std::to_string(n++) + ".REQ", s);
    EXPECT_EQ(hit.keys(), c.keys) << c.term << " mode " << int(c.mode) << " period "
                                  << int(c.period);
  }
  // The date search shows "Date search" on the console.
  std::vector<std::string> lines = TextsOf(kStatusLastSearch);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("Date search  0 Hits found in ", 0), 0u) << lines.back();
}

TEST_F(SearchWorkerTest, MergeAndRestrict) {
  AddDocs({Pic(kNow - 10, "a.jpg", "boat"), Pic(kNow - 20, "b.jpg", "boat harbour"),
           Pic(kNow - 30, "c.jpg", "harbour"), Pic(kNow - 40, "d.jpg", "car")});
  ShortSearchRequest s;
  s.first_term = "boat";
  ASSERT_EQ(ServeShort("BOAT.REQ", s).count, 2u);

  // Restrict: harbour hits that were boat hits too, with the numbers of the
  // restrict file.
  s.first_term = "harbour";
  s.list_file = "BOAT.HIT";
  s.restrict_flag = 1;
  HitFileView restricted = ServeShort("R.REQ", s);
  EXPECT_EQ(restricted.keys(), std::vector<std::string>{"01Sport\\b.jpg"});
  EXPECT_EQ(restricted.found, 1u);
  EXPECT_EQ(restricted.records[0].number, 11u);  // as BOAT.HIT gave it

  // Merge: the boat hits plus the new harbour hit; found counts the new one.
  s.restrict_flag = 0;
  s.merge_flag = 1;
  HitFileView merged = ServeShort("M.REQ", s);
  EXPECT_EQ(merged.keys(),
            (std::vector<std::string>{"01Sport\\a.jpg", "01Sport\\b.jpg", "01Sport\\c.jpg"}));
  EXPECT_EQ(merged.found, 1u);

  // Long form: both at once, each with its own file.
  LongSearchRequest l;
  l.query_text = "harbour OR car";
  l.restrict_file = "M.HIT";
  l.restrict_flag = 1;
  l.merge_file = "BOAT.HIT";
  l.merge_flag = 1;
  EXPECT_EQ(ServeLong("LM.REQ", l).keys(),
            (std::vector<std::string>{"01Sport\\a.jpg", "01Sport\\b.jpg", "01Sport\\c.jpg"}));

  // Names that leave the search folder are empty lists: a restrict to
  // nothing finds nothing, a merge adds nothing.
  ASSERT_TRUE(dir_.WriteFile("idx/BOAT.HIT", *DefaultFileSystem()->ReadFile(InSearch("BOAT.HIT"))));
  const std::vector<std::string> bad_names = {"../BOAT.HIT", "..\\BOAT.HIT",
                                              search_folder_ + "/BOAT.HIT", "MISSING.HIT", ".."};
  for (const std::string& bad : bad_names) {
    ShortSearchRequest r;
    r.first_term = "harbour";
    r.list_file = bad;
    r.restrict_flag = 1;
    HitFileView none = ServeShort("BAD1.REQ", r);
    EXPECT_TRUE(none.present) << bad;
    EXPECT_EQ(none.count, 0u) << bad;
    r.restrict_flag = 0;
    r.merge_flag = 1;
    EXPECT_EQ(ServeShort("BAD2.REQ", r).keys(),
              (std::vector<std::string>{"01Sport\\b.jpg", "01Sport\\c.jpg"}))
        << bad;
  }
}

// Clients may plant symbolic links in the search folder. The server runs as
// root: it must neither write an answer through a link nor read a request or
// a list file through one.
TEST_F(SearchWorkerTest, PlantedLinksAreNeverWrittenOrReadThrough) {
  AddDocs({Pic(kNow - 10, "a.jpg", "boat"), Pic(kNow - 20, "b.jpg", "boat harbour")});
  ASSERT_TRUE(dir_.WriteFile("outside/precious", "root only"));
  const std::string precious = dir_.Path("outside/precious");
  ShortSearchRequest s;
  s.first_term = "boat";
  ASSERT_EQ(::symlink(precious.c_str(), InSearch("A.HIT").c_str()), 0);
  HitFileView answer = ServeShort("A.REQ", s);
  EXPECT_EQ(answer.count, 2u);
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(precious), "root only");
  struct stat st;
  ASSERT_EQ(::lstat(InSearch("A.HIT").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0664u);  // the clients' group may delete it

  // A request that is a link to a request elsewhere is not served.
  StatusOr<std::string> request = EncodeShortSearchRequest(s);
  ASSERT_TRUE(request.ok());
  ASSERT_TRUE(dir_.WriteFile("outside/B.REQ", *request));
  ASSERT_EQ(::symlink(dir_.Path("outside/B.REQ").c_str(), InSearch("B.REQ").c_str()), 0);
  Messages();
  worker_->ServeRequest(*task_, 0, "B.REQ");
  EXPECT_FALSE(DefaultFileSystem()->Exists(InSearch("B.HIT")));
  EXPECT_EQ(TextsOf(kStatusLastSearch).size(), 1u);
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(dir_.Path("outside/B.REQ")), *request);

  // A request in a sub-folder that is a link to a folder elsewhere is neither
  // read, deleted nor answered there.
  ASSERT_TRUE(dir_.WriteFile("outside/C.REQ", *request));
  ASSERT_EQ(::symlink(dir_.Path("outside").c_str(), InSearch("SUB").c_str()), 0);
  worker_->ServeRequest(*task_, 0, "SUB\\C.REQ");
  EXPECT_FALSE(DefaultFileSystem()->Exists(dir_.Path("outside/C.HIT")));
  EXPECT_TRUE(DefaultFileSystem()->Exists(dir_.Path("outside/C.REQ")));

  // A list file that is a link to a list elsewhere counts as an empty list.
  ASSERT_TRUE(dir_.WriteFile("outside/BOAT.HIT", *DefaultFileSystem()->ReadFile(InSearch("A.HIT"))));
  ASSERT_EQ(::symlink(dir_.Path("outside/BOAT.HIT").c_str(), InSearch("LINK.HIT").c_str()), 0);
  s.first_term = "harbour";
  s.list_file = "LINK.HIT";
  s.restrict_flag = 1;
  EXPECT_EQ(ServeShort("R.REQ", s).count, 0u);
  s.restrict_flag = 0;
  s.merge_flag = 1;
  EXPECT_EQ(ServeShort("M.REQ", s).keys(), std::vector<std::string>{"01Sport\\b.jpg"});
}

TEST_F(SearchWorkerTest, QuerySortOrders) {
  // Documents whose texts give different scores for "boat".
  AddDocs({Pic(kNow - 10, "one.jpg", "boat"), Pic(kNow - 20, "three.jpg", "boat boat boat"),
           Pic(kNow - 30, "two.jpg", "boat boat"), Pic(kNow - 40, "also.jpg", "boat")});
  // The engine's own scores decide the relevance order.
  std::map<std::string, int32_t> score;
  SearchJob job;
  job.query = "boat";
  job.index_folder = engine_folder_;
  job.message_callback = [&](const EngineMessage& m) {
    if (m.code != kMessageFoundDocument) return;
    score[std::string(DecodeDocumentName(m.name)->file_key)] = m.score;
  };
  ASSERT_TRUE(holder_.engine()->RunSearchJob(job).ok());
  ASSERT_EQ(score.size(), 4u);
  std::vector<std::string> by_relevance;
  for (const auto& [k, v] : score) by_relevance.push_back(k);
  std::stable_sort(by_relevance.begin(), by_relevance.end(),
                   [&](const std::string& a, const std::string& b) { return score[a] > score[b]; });
  ASSERT_GT(score["01Sport\\three.jpg"], score["01Sport\\one.jpg"]);

  QueryRequest q;
  q.query_text = "boat";
  q.sort_order = 3;
  HitFileView hit = ServeQuery("REL.QRY", q);
  ASSERT_EQ(hit.records.size(), 4u);
  std::vector<std::string> keys = hit.keys();
  for (size_t i = 1; i < keys.size(); ++i) {
    EXPECT_GE(score[keys[i - 1]], score[keys[i]]) << i;
    if (score[keys[i - 1]] == score[keys[i]]) {
      // Equal scores by name.
      EXPECT_LT(LastComponent(keys[i - 1], '\\'), LastComponent(keys[i], '\\'));
    }
  }
  EXPECT_EQ(keys.front(), "01Sport\\three.jpg");

  // A wide result asking for every hit is kept with its scores: the cached
  // answer has the same relevance order.
  q.option_bits = 0x10;
  q.wide_flags = 1;
  std::vector<std::string> first = ServeQuery("REL1.QRY", q).keys();
  EXPECT_EQ(first.front(), "01Sport\\three.jpg");
  uint64_t searches = worker_->engine_searches();
  EXPECT_EQ(ServeQuery("REL2.QRY", q).keys(), first);
  EXPECT_EQ(worker_->engine_searches(), searches);

  q.sort_order = 1;
  EXPECT_EQ(ServeQuery("TIME.QRY", q).keys(),
            (std::vector<std::string>{"01Sport\\one.jpg", "01Sport\\three.jpg", "01Sport\\two.jpg",
                                      "01Sport\\also.jpg"}));

  // An answer with room for fewer hits than were found holds the first ones
  // of its order, and counts them all.
  for (uint32_t order : {1u, 2u, 3u}) {
    QueryRequest whole;
    whole.query_text = "boat";
    whole.sort_order = order;
    const std::vector<std::string> all =
        ServeQuery("ALL" + std::to_string(order) + ".QRY", whole).keys();
    ASSERT_EQ(all.size(), 4u);
    QueryRequest cut = whole;
    cut.hit_limit = 2;
    HitFileView two = ServeQuery("CUT" + std::to_string(order) + ".QRY", cut);
    EXPECT_EQ(two.keys(), (std::vector<std::string>{all[0], all[1]})) << order;
    EXPECT_EQ(two.found, 4u) << order;
  }
}

TEST_F(SearchWorkerTest, CachedAnswersAndFiltersOfTheFirstSearch) {
  std::vector<TestDoc> docs;
  for (int i = 0; i < 300; ++i) {
    // Half of them are two days old.
    uint32_t t = i % 2 == 0 ? kNow - 100 - i : kNow - 2 * 86400 - i;
    docs.push_back(Pic(t, "c" + std::to_string(i) + ".jpg", "sail"));
  }
  AddDocs(docs);
  // First search (option bit 0x10 always set in the long form) with a date
  // filter: 150 accepted, but every engine hit is kept for the cache.
  LongSearchRequest l;
  l.query_text = "sail";
  l.date_mode = 1;
  l.date_period = 1;
  EXPECT_EQ(ServeLong("C1.REQ", l).found, 150u);
  EXPECT_EQ(worker_->engine_searches(), 1u);
  // The same query without the filter, engine stopped: answered from the
  // cache, with every hit.
  holder_.Stop();
  l.date_mode = 0;
  HitFileView cached = ServeLong("C2.REQ", l);
  EXPECT_EQ(cached.found, 300u);
  EXPECT_EQ(worker_->engine_searches(), 1u);
  // Another query is not in the cache: no engine, no hits, still answered.
  l.query_text = "boat";
  HitFileView none = ServeLong("C3.REQ", l);
  EXPECT_TRUE(none.present);
  EXPECT_EQ(none.count, 0u);
}

TEST_F(SearchWorkerTest, RefreshFromASmallBatchKeepsTheCachedAnswerCurrent) {
  std::vector<TestDoc> docs;
  for (int i = 0; i < 250; ++i)
    docs.push_back(Pic(kNow - 1000 - i, "k" + std::to_string(i) + ".jpg", "kite"));
  AddDocs(docs);
  LongSearchRequest l;
  l.query_text = "kite";
  ASSERT_EQ(ServeLong("K1.REQ", l).found, 250u);
  ASSERT_EQ(worker_->engine_searches(), 1u);

  // A batch of new documents: in the index, in TIMELIST, and in a temporary
  // index of its own, which the refresh searches.
  std::vector<TestDoc> batch;
  for (int i = 0; i < 8; ++i)
    batch.push_back(Pic(kNow - i, "new" + std::to_string(i) + ".jpg", i % 2 ? "kite" : "car"));
  AddDocs(batch);
  const std::string temp = dir_.Path("batch");
  VectorSource source(batch);
  IndexJob job;
  job.index_folder = temp;
  job.create = true;
  job.add = true;
  job.data_source = source.source();
  ASSERT_TRUE(holder_.engine()->RunIndexJob(job).ok());
  {
    MutexLock held(&cache_.engine_lock());
    cache_.Refresh(engine_folder_, ResultCache::BatchSearch(holder_.engine(), temp));
  }
  HitFileView hit = ServeLong("K2.REQ", l);
  EXPECT_EQ(worker_->engine_searches(), 1u);  // from the cache
  EXPECT_EQ(hit.found, 254u);
  EXPECT_EQ(hit.records[0].key, "01Sport\\new1.jpg");

  // A larger batch drops the index's results: the engine is asked again.
  {
    MutexLock held(&cache_.engine_lock());
    cache_.Drop(engine_folder_);
  }
  EXPECT_EQ(ServeLong("K3.REQ", l).found, 254u);
  EXPECT_EQ(worker_->engine_searches(), 2u);
}

TEST_F(SearchWorkerTest, EventLogLinesUnderTheOption) {
  AddDocs({Pic(kNow - 10, "a.jpg", "boat")});
  ServeTerm("L1.REQ", "boat");
  EXPECT_TRUE(TextsOf(kStatusLogLine).empty());

  task_->log_flags = kLogSearches;
  ServeTerm("L2.REQ", "boat");
  std::vector<std::string> lines = TextsOf(kStatusLogLine);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Search boat* 18 0 0 0 0   1 Hits found in  0.", 0), 0u) << lines[0];

  // A translation beyond 255 characters goes to the engine whole: 64 words
  // of one letter become "b* AND c* AND ..." (over 500 characters).
  LongSearchRequest l;
  std::string expected;
  for (int i = 0; i < 64; ++i) {
    char letter = static_cast<char>('b' + i % 24);
    l.query_text += std::string(i ? " " : "") + letter;
    expected += std::string(i ? " AND " : "") + letter + "*";
  }
  l.query_text.pop_back();
  l.query_text.pop_back();  // 127 characters: the last word is cut to nothing
  ASSERT_EQ(l.query_text.size(), 125u);
  expected.resize(expected.rfind(" AND "));
  ServeLong("L4.REQ", l);
  lines = TextsOf(kStatusLogLine);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_GT(expected.size(), 255u);
  EXPECT_EQ(lines[0].rfind("Search " + expected + " 10 ", 0), 0u) << lines[0];

  QueryRequest q;
  q.query_text = "boat OR " + std::string(100, 'x');
  ServeQuery("L3.QRY", q);
  lines = TextsOf(kStatusLogLine);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Search boat OR xxxxxxxxxxxxxxxxxxxxxxxx  1 Hits found in  0.", 0), 0u)
      << lines[0];
}

TEST_F(SearchWorkerTest, ConcurrentWorkersCountEverySearch) {
  AddDocs({Pic(kNow - 10, "a.jpg", "boat"), Pic(kNow - 20, "b.jpg", "boat")});
  constexpr int kThreads = 8;
  constexpr int kEach = 12;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string name = "T" + std::to_string(t) + "_" + std::to_string(i) + ".REQ";
        ShortSearchRequest s;
        s.first_term = i % 2 == 0 ? "boat" : "zebra";
        DefaultFileSystem()->WriteFile(InSearch(name), *EncodeShortSearchRequest(s)).IgnoreError();
        worker_->ServeRequest(*task_, 0, name);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  SearchStatistics stats = worker_->statistics().Get(0);
  EXPECT_EQ(stats.searches, uint32_t{kThreads * kEach});
  EXPECT_EQ(stats.hits, uint32_t{kThreads * kEach / 2 * 2});
  EXPECT_EQ(stats.days, 1u);
  EXPECT_EQ(stats.last_day, today_);

  // The console's copy, fed by the posted records, ends up the same.
  Configuration console;
  console.indexes.push_back(task_->config.indexes[0]);
  int records = 0;
  for (const std::string& data : TextsOf(kStatusSearchRecorded)) {
    std::optional<SearchRecord> r = DecodeSearchRecord(data);
    ASSERT_TRUE(r);
    ASSERT_TRUE(ApplySearchRecord(&console, *r));
    ++records;
  }
  EXPECT_EQ(records, kThreads * kEach);
  EXPECT_EQ(console.indexes[0].statistics.searches, stats.searches);
  EXPECT_EQ(console.indexes[0].statistics.hits, stats.hits);
  EXPECT_EQ(console.indexes[0].statistics.days, 1u);
  EXPECT_EQ(worker_->answered(), uint64_t{kThreads * kEach});
}

TEST_F(SearchWorkerTest, QueryProgressGrowsWhileTheHitsArrive) {
  // The engine delivers in bursts, each as large as all before it: the
  // collector filters in chunks that double, so each burst completes one.
  constexpr int kChunks = 4;
  constexpr int kTotal = 1500 * 15;  // bursts of 1,500, 3,000, 6,000 and 12,000
  auto burst_end = [](int c) { return 1500 * ((2 << c) - 1); };
  for (int i = 0; i < kTotal; ++i) {
    ASSERT_TRUE(task_->indexes[0]
                    .timelist.Add("01Sport\\p" + std::to_string(i) + ".jpg", kNow - i, kJpeg,
                                  kNoExtra)
                    .ok());
  }
  const std::string progress_path = InSearch("PROG.PRG");
  const std::string hit_path = InSearch("PROG.HIT");
  std::vector<uint32_t> seen;  // the progress count after each chunk
  bool hit_file_early = false;
  // Every full chunk at once; the wait between chunks that the server's
  // default adds is the collector's own test.
  options_.query_progress_interval = std::chrono::milliseconds(0);
  UseStandInEngine([&](const SearchJob& job) -> StatusOr<SearchOutcome> {
    SearchOutcome outcome;
    for (int c = 0; c < kChunks; ++c) {
      for (int i = c == 0 ? 0 : burst_end(c - 1); i < burst_end(c); ++i) {
        const std::string name =
            FormatDocumentName(kNow - i, "01Sport\\p" + std::to_string(i) + ".jpg");
        EngineMessage m;
        m.code = kMessageFoundDocument;
        m.name = name;
        m.score = 1;
        job.message_callback(m);
        ++outcome.delivered;
      }
      StatusOr<std::string> bytes = DefaultFileSystem()->ReadFile(progress_path);
      std::optional<uint32_t> count = bytes.ok() ? DecodeProgressFile(*bytes) : std::nullopt;
      seen.push_back(count.value_or(0));
      hit_file_early = hit_file_early || DefaultFileSystem()->Exists(hit_path);
    }
    outcome.matches = outcome.delivered;
    return outcome;
  });
  QueryRequest q;
  q.query_text = "p*";
  HitFileView hit = ServeQuery("PROG.QRY", q);
  EXPECT_FALSE(hit_file_early);
  ASSERT_EQ(seen.size(), static_cast<size_t>(kChunks));
  EXPECT_GT(seen[0], 0u);
  for (size_t c = 1; c < seen.size(); ++c) EXPECT_GT(seen[c], seen[c - 1]) << c;
  EXPECT_EQ(hit.found, uint32_t{kTotal});
  StatusOr<std::string> last = DefaultFileSystem()->ReadFile(progress_path);
  ASSERT_TRUE(last.ok());
  EXPECT_EQ(DecodeProgressFile(*last), std::optional<uint32_t>(kTotal));
}

TEST_F(SearchWorkerTest, EngineFailuresAreAnsweredLoggedAndCounted) {
  // No index was ever built, and a query the engine cannot read.
  QueryRequest q;
  q.query_text = "boat";
  HitFileView hit = ServeQuery("F1.QRY", q);
  EXPECT_TRUE(hit.present);
  EXPECT_EQ(hit.found, 0u);
  AddDocs({Pic(kNow - 10, "a.jpg", "boat")});
  q.query_text = "(a AND b) W/3 c";
  EXPECT_TRUE(ServeQuery("F2.QRY", q).present);

  // One event-log line a minute per index, naming the index, the request and
  // the reason; every failure counted and posted.
  std::vector<std::string> lines;
  std::vector<EngineFailureRecord> records;
  for (const StatusMessage& m : Messages()) {
    if (m.code == kStatusLogLine) lines.push_back(m.data);
    if (m.code == kStatusEngineFailure) records.push_back(*DecodeEngineFailureRecord(m.data));
  }
  std::vector<std::string> failure_lines;
  for (const std::string& l : lines) {
    if (l.find("engine failed") != std::string::npos) failure_lines.push_back(l);
  }
  ASSERT_EQ(failure_lines.size(), 1u);
  EXPECT_NE(failure_lines[0].find("index Pictures, request F1.QRY: "), std::string::npos)
      << failure_lines[0];
  EXPECT_NE(failure_lines[0].find("no index"), std::string::npos) << failure_lines[0];
  EXPECT_EQ(records, (std::vector<EngineFailureRecord>{{0, 1}, {0, 2}}));
  EXPECT_EQ(worker_->statistics().EngineFailures(0), 2u);
  const std::string& index_folder = task_->config.indexes[0].index_folder;
  EXPECT_EQ(ReadEngineFailures(DefaultFileSystem(), index_folder), 2u);

  // A worker of a later run counts on from the side file.
  UseStandInEngine([](const SearchJob&) -> StatusOr<SearchOutcome> {
    return Status::Unavailable("the index is locked");
  });
  ServeQuery("F3.QRY", q);
  EXPECT_EQ(worker_->statistics().EngineFailures(0), 3u);
  EXPECT_EQ(ReadEngineFailures(DefaultFileSystem(), index_folder), 3u);
  // A search that succeeds is no failure.
  UseStandInEngine([](const SearchJob&) -> StatusOr<SearchOutcome> { return SearchOutcome{}; });
  ServeQuery("F4.QRY", q);
  EXPECT_EQ(ReadEngineFailures(DefaultFileSystem(), index_folder), 3u);
}

TEST_F(SearchWorkerTest, SearchCutShortIsAnsweredWithItsHitsAndLogged) {
  ASSERT_TRUE(task_->indexes[0].timelist.Add("01Sport\\a.jpg", kNow, kJpeg, kNoExtra).ok());
  UseStandInEngine([](const SearchJob& job) -> StatusOr<SearchOutcome> {
    const std::string name = FormatDocumentName(kNow, "01Sport\\a.jpg");
    EngineMessage m;
    m.code = kMessageFoundDocument;
    m.name = name;
    m.score = 1;
    job.message_callback(m);
    SearchOutcome outcome;
    outcome.cut_off = true;
    outcome.cut_reason = "the search ran longer than its 10 s deadline";
    return outcome;
  });
  QueryRequest q;
  q.query_text = "f* PRE/9 f*";
  EXPECT_EQ(ServeQuery("CUT.QRY", q).found, 1u);
  std::vector<std::string> lines = TextsOf(kStatusLogLine);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0],
            "Search CUT.QRY of index Pictures was cut short: the search ran longer than its 10 s "
            "deadline");
  EXPECT_EQ(worker_->statistics().EngineFailures(0), 0u);
}

// The search forms are answered in time or name order: without a filter the
// engine is asked for the newest matches the answer holds, and the matches it
// left out still count as found. A date filter (or a list) needs every
// match, and so does a query request, whose order may be relevance.
TEST_F(SearchWorkerTest, BrowseFormsAskTheEngineForTheNewestMatchesOnly) {
  ASSERT_TRUE(task_->indexes[0].timelist.Add("01Sport\\a.jpg", kNow, kJpeg, kNoExtra).ok());
  std::vector<SearchJob> jobs;
  UseStandInEngine([&jobs](const SearchJob& job) -> StatusOr<SearchOutcome> {
    jobs.push_back(job);
    const std::string name = FormatDocumentName(kNow, "01Sport\\a.jpg");
    EngineMessage m;
    m.code = kMessageFoundDocument;
    m.name = name;
    m.score = 7;
    job.message_callback(m);
    SearchOutcome outcome;
    outcome.matches = 5000;
    outcome.delivered = 1;
    return outcome;
  });
  HitFileView browse = ServeTerm("B1.REQ", "boat");
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].max_hits, 2000);
  EXPECT_NE(jobs[0].flags & kSearchNewestFirst, 0u);
  EXPECT_EQ(browse.count, 1u);
  EXPECT_EQ(browse.found, 5000u);

  LongSearchRequest dated;
  dated.query_text = "boat";
  dated.date_mode = 1;
  dated.date_period = 1;
  ServeLong("B2.REQ", dated);
  QueryRequest q;
  q.query_text = "boat";
  q.option_bits = 0x10;
  ServeQuery("B3.QRY", q);
  ASSERT_EQ(jobs.size(), 3u);
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(jobs[i].max_hits, -1) << i;
    EXPECT_EQ(jobs[i].flags & kSearchNewestFirst, 0u) << i;
  }
}

}  // namespace
}  // namespace vantrel
