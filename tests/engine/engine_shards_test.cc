// Indexes kept in several shards: every search answers as over one
// database (names and scores), documents are replaced and removed in their
// shard, copies and restores carry every shard, and a job cut between two
// shard commits is repaired by indexing it again.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <iterator>
#include <map>
#include <set>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/database_copy.h"
#include "engine/document_indexer.h"
#include "engine/document_name.h"
#include "engine/index_segments.h"
#include "engine/partial_hits.h"
#include "engine/query_compiler.h"
#include "engine/shard_layout.h"
#include "engine_test_util.h"
#include "support/scoped_env.h"

namespace vantrel {
namespace {

using engine_test::Caption;
using engine_test::EngineFixture;
using engine_test::ImageDoc;
using engine_test::TestDoc;

// Generated documents: varied words, fields and times, so that scores
// differ and depend on the whole index's statistics.
std::vector<TestDoc> Corpus(int count, uint32_t seed) {
  static const char* const kWords[] = {
      "harbour", "boat", "sunset", "beach", "old", "town", "street", "palm", "trees", "sun",
      "sunny", "ship", "sailing", "vessel", "market", "bridge", "river", "night", "snow",
      "mountain", "city", "church", "tower", "sport", "football", "crowd", "portrait", "child"};
  std::mt19937 rng(seed);
  auto word = [&] { return std::string(kWords[rng() % (sizeof kWords / sizeof *kWords)]); };
  std::vector<TestDoc> docs;
  for (int i = 0; i < count; ++i) {
    std::vector<std::string> keywords{word(), word()};
    std::string caption;
    const int words = 3 + static_cast<int>(rng() % 12);
    for (int w = 0; w < words; ++w) caption += (w ? " " : "") + word();
    const std::string key = "0" + std::to_string(i % 4) + "Folder\\img" + std::to_string(i) + ".jpg";
    docs.push_back(ImageDoc(1000 + static_cast<uint32_t>(rng() % 5000), key,
                            Caption(25, keywords) + Caption(120, {caption})));
  }
  return docs;
}

struct Query {
  const char* text;
  uint32_t flags;
  int32_t max_hits;
  bool grouped = false;  // holds a group of more than three synonym terms
};

// The engine's query forms: words, fields, phrases, wildcards, proximity,
// Boolean operators, first and last word, flags and hit limits.
const Query kQueries[] = {
    {"harbour", 0, -1},
    {"HARBOUR", 0, -1},
    {"nothing", 0, -1},
    {"IPTC025 contains (harbour)", 0, -1},
    {"IPTC120 contains (old town)", 0, -1},
    {"IPTC120 contains (harb*)", 0, -1, true},
    {"ZRVFN contains (img1*)", 0, -1, true},
    {"old town", 0, -1},
    {"old tow*", 0, -1, true},
    {"sun*", 0, -1, true},
    {"s*", 0, -1, true},
    {"h?rbour", 0, -1, true},
    {"*ach", 0, -1, true},
    {"harbour AND beach", 0, -1},
    {"harbour OR beach", 0, -1},
    {"harbour AND NOT beach", 0, -1},
    {"NOT harbour", 0, -1},
    {"(harbour OR beach) AND old", 0, -1},
    {"boat W/5 harbour", 0, -1},
    {"old PRE/3 town", 0, -1},
    {"harb* W/2 s*", 0, -1, true},
    {"xlastword", 0, -1},
    {"xfirstword", 0, -1},
    {"xfirstword W/1 qxqb5002", 0, -1},
    {"sunset", 0, 7},
    {"sunset OR boat", kSearchNewestFirst, 9},
    {"harbur", kSearchFuzzy, -1, true},
    {"harbor", kSearchSoundAlike, -1, true},
    {"trees", kSearchStemming, -1, true},
    {"ship", kSearchSynonyms, -1, true},
};

class EngineShardsTest : public EngineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.WriteFile("THESAUR.DAT", "boat, ship, sailing vessel\r\n"));
    EngineFixture::SetUp();
  }

  void ExpectNewestFirstKeepsTheCombinedOrder(const std::vector<TestDoc>& docs, uint32_t count);

  void UseShards(uint32_t count) {
    EngineOptions options = engine_->GetOptions();
    options.new_index_shards = count;
    engine_->SetOptions(options);
  }

  struct Hits {
    std::string matches;  // the match count, or the query's error
    std::map<std::string, int32_t> scores;
  };
  Hits Answer(const Query& q, const std::string& folder) {
    Hits out;
    SearchJob job;
    job.query = q.text;
    job.index_folder = folder;
    job.flags = q.flags;
    job.fuzziness = 1;
    job.max_hits = q.max_hits;
    job.message_callback = [&](const EngineMessage& m) {
      if (m.code == kMessageFoundDocument) out.scores[std::string(m.name)] = m.score;
    };
    StatusOr<SearchOutcome> r = engine_->RunSearchJob(job);
    EXPECT_TRUE(r.ok()) << q.text;
    if (r.ok()) out.matches = std::to_string(r->matches) + r->error;
    return out;
  }

  // The `i`-th run of `size` documents of `docs`: the documents of job `i`.
  static std::vector<TestDoc> JobOf(const std::vector<TestDoc>& docs, size_t i, size_t size) {
    return std::vector<TestDoc>(docs.begin() + static_cast<long>(i * size),
                                docs.begin() + static_cast<long>((i + 1) * size));
  }

  // Every query answers the same over the indexes in `one` and `other`:
  // match counts, names and scores.
  void ExpectSameAnswers(const std::string& one, const std::string& other) {
    for (const Query& q : kQueries) {
      const Hits a = Answer(q, one), b = Answer(q, other);
      // A ranked search cut by its limit counts by Xapian's estimates, which
      // depend on the layout (ranked_match.h); every other count is exact.
      if (q.max_hits >= 0 && !(q.flags & kSearchNewestFirst)) {
        EXPECT_GE(std::stoul(b.matches), b.scores.size()) << q.text;
      } else {
        ASSERT_EQ(a.matches, b.matches) << q.text;
      }
      ASSERT_EQ(a.scores.size(), b.scores.size()) << q.text;
      for (const auto& [name, score] : a.scores) {
        auto it = b.scores.find(name);
        ASSERT_NE(it, b.scores.end()) << q.text << ": " << name;
        // Xapian estimates the frequency of a group of more than three
        // synonym terms (a wildcard's expansions, a word in many fields) per
        // shard, rounding to whole documents at each step: such scores may
        // differ by a few percent (here 5% at 111 terms). Every other score
        // is the same.
        if (q.grouped) {
          EXPECT_LE(std::abs(score - it->second), std::max(1, score / 20)) << q.text << ": " << name;
        } else {
          EXPECT_EQ(score, it->second) << q.text << ": " << name;
        }
      }
    }
  }

  Status AddTo(const std::string& folder, std::vector<TestDoc> docs, bool bulk = false) {
    return engine_test::AddDocuments(engine_.get(), folder, std::move(docs), bulk);
  }

  // `docs` indexed in the folders "one" (one shard) and "three" (three
  // shards), returned in that order.
  std::pair<std::string, std::string> IndexInOneAndThreeShards(const std::vector<TestDoc>& docs) {
    const std::string one = home_.Path("one");
    const std::string three = home_.Path("three");
    UseShards(1);
    EXPECT_TRUE(AddTo(one, docs).ok());
    UseShards(3);
    EXPECT_TRUE(AddTo(three, docs).ok());
    return {one, three};
  }

  bool Exists(const std::string& relative) { return DefaultFileSystem()->Exists(home_.Path(relative)); }

  // Every name of the index, each as often as it is stored.
  std::multiset<std::string> Names(const std::string& folder) {
    std::multiset<std::string> names;
    SearchJob job;
    job.query = "xlastword";
    job.index_folder = folder;
    job.message_callback = [&](const EngineMessage& m) {
      if (m.code == kMessageFoundDocument) names.insert(std::string(m.name));
    };
    EXPECT_TRUE(engine_->RunSearchJob(job).ok());
    return names;
  }

  uint32_t CountOf(const std::string& folder) {
    StatusOr<IndexInfo> info = engine_->GetIndexInfo(folder);
    return info.ok() ? info->document_count : 0;
  }
};

TEST(ShardLayoutTest, HashSettingsAndRemoteNames) {
  // FNV-1a 64 of the bytes: stable values that other tools can compute.
  EXPECT_EQ(ShardHash(""), 14695981039346656037ull);
  EXPECT_EQ(ShardHash("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(ShardOf("anything", 1), 0u);
  ShardSettings s;
  s.layout = 3;
  s.next_count = 5;
  s.remotes = {"tcp://archive-2.local:7000", "tcp://[::1]:7001"};
  StatusOr<ShardSettings> back = ParseShardSettings(FormatShardSettings(s));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, s);
  for (const char* bad : {"layout 0\n", "layout 9\n", "shards 99\n", "shards x\n",
                          "remote tcp://host\n", "remote tcp://h/x:1\n", "remote http://h:1\n",
                          "remote tcp://h:70000\n", "colour blue\n"}) {
    EXPECT_EQ(ParseShardSettings(bad).status().code(), StatusCode::kCorruption) << bad;
  }
}

TEST_F(EngineShardsTest, ThreeShardsAnswerEveryQueryAsOneDatabase) {
  const auto [one, three] = IndexInOneAndThreeShards(Corpus(400, 7));
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(Exists("three/" + std::to_string(i) + "/iamglass")) << i;
  }
  EXPECT_TRUE(Exists("one/iamglass"));  // one shard: the database in the folder itself
  EXPECT_EQ(CountOf(three), 400u);
  ExpectSameAnswers(one, three);
}

// Searches that deliver thousands of hits, over one shard and over three:
// every hit of frequent words ranked, and the newest 800 of them. Each hit
// comes once, in order, with its own name and the score the ranked search of
// one database gives it. (Their names are read in document order through a
// table by id, and each part's or shard's sorted hits are merged.)
TEST_F(EngineShardsTest, ManyHitsComeOnceInOrderWithTheirOwnNamesAndScores) {
  const auto [one, three] = IndexInOneAndThreeShards(Corpus(3000, 11));
  using Delivered = std::vector<std::pair<std::string, int32_t>>;
  auto deliver = [&](const char* query, int32_t max_hits, const std::string& folder) {
    Delivered out;
    SearchJob job;
    job.query = query;
    job.index_folder = folder;
    job.max_hits = max_hits;
    if (max_hits > 0) job.flags = kSearchNewestFirst;
    job.message_callback = [&](const EngineMessage& m) {
      if (m.code == kMessageFoundDocument) out.emplace_back(std::string(m.name), m.score);
    };
    StatusOr<SearchOutcome> r = engine_->RunSearchJob(job);
    EXPECT_TRUE(r.ok() && r->error.empty()) << query;
    return out;
  };
  auto time_of = [](const std::string& name) { return DecodeDocumentName(name)->time_stamp; };
  for (const char* query : {"harbour OR boat", "harbour OR boat OR sunset OR old", "city"}) {
    const Delivered ranked = deliver(query, -1, one);
    const std::map<std::string, int32_t> scores(ranked.begin(), ranked.end());
    ASSERT_EQ(scores.size(), ranked.size()) << query;  // no name twice
    ASSERT_GT(ranked.size(), 800u) << query;
    for (const int32_t max_hits : {-1, 800}) {
      for (const std::string& folder : {one, three}) {
        SCOPED_TRACE(std::string(query) + " " + std::to_string(max_hits) + " " + folder);
        const Delivered got = deliver(query, max_hits, folder);
        ASSERT_EQ(got.size(), max_hits < 0 ? ranked.size() : 800u);
        std::map<std::string, int32_t> kept;
        for (const auto& [name, score] : got) {
          auto it = scores.find(name);
          ASSERT_NE(it, scores.end()) << name;
          EXPECT_EQ(score, it->second) << name;
          EXPECT_TRUE(kept.emplace(name, score).second) << name;
        }
        for (size_t i = 1; i < got.size(); ++i) {
          if (max_hits < 0) {
            ASSERT_GE(got[i - 1].second, got[i].second) << i;
          } else {
            ASSERT_GE(time_of(got[i - 1].first), time_of(got[i].first)) << i;
          }
        }
        if (max_hits < 0) continue;
        // None left out is newer than the oldest kept.
        for (const auto& [name, score] : ranked) {
          if (kept.contains(name)) continue;
          ASSERT_LE(time_of(name), time_of(got.back().first)) << name;
        }
      }
    }
  }
}

// A bulk build answers every query as the same jobs run one by one, a name
// written by two of its jobs, or twice in one, included; its documents are
// found once it is merged, and no segment is left. Segments of 60
// documents, in one lane or three: jobs add to the group of segments the
// build's last job started until its first segment is full, so some jobs
// start a group and others add to one.
TEST_F(EngineShardsTest, ABulkBuildAnswersEveryQueryAsTheSameJobsOneByOne) {
  std::vector<TestDoc> docs = Corpus(400, 21);
  // The last job writes 40 names of the first again, with other texts, and
  // one of them twice.
  std::vector<TestDoc> again = Corpus(41, 22);
  for (size_t i = 0; i < 40; ++i) again[i].name = docs[i * 2].name;
  again[40].name = docs[0].name;
  for (const uint32_t lanes : {1u, 3u}) {
    EngineOptions options = engine_->GetOptions();
    options.segment_documents = 60;
    options.bulk_lanes = lanes;
    engine_->SetOptions(options);
    for (const uint32_t shards : {1u, 3u}) {
      const std::string tag = std::to_string(shards) + "-" + std::to_string(lanes);
      SCOPED_TRACE(std::to_string(shards) + " shard(s), " + std::to_string(lanes) + " lane(s)");
      const std::string by_job = home_.Path("jobs" + tag);
      const std::string bulk = home_.Path("bulk" + tag);
      UseShards(shards);
      for (size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(AddTo(by_job, JobOf(docs, i, 100)).ok());
        ASSERT_TRUE(AddTo(bulk, JobOf(docs, i, 100), /*bulk=*/true).ok());
      }
      ASSERT_TRUE(AddTo(by_job, again).ok());
      ASSERT_TRUE(AddTo(bulk, again, /*bulk=*/true).ok());
      // Nothing is found before the merge, and a search does not merge.
      EXPECT_EQ(CountOf(bulk), 0u);
      StatusOr<std::vector<uint32_t>> recorded = ReadSegmentRecord(DefaultFileSystem(), bulk);
      ASSERT_TRUE(recorded.ok());
      // A job's part of a segment is about 100 / (shards * lanes): 100 fill
      // a segment alone, 33 fill one in two jobs, 11 never do.
      const size_t groups = lanes * shards == 1 ? 5 : lanes * shards == 3 ? 3 : 1;
      EXPECT_EQ(recorded->size(), groups * lanes);
      // A copy holds the shards alone: no record of segments it does not have.
      const std::string copy = home_.Path("copy" + tag);
      ASSERT_TRUE(DefaultFileSystem()->CreateFolders(copy).ok());
      ASSERT_TRUE(CopyDatabaseFiles(DefaultFileSystem(), bulk, copy).ok());
      EXPECT_FALSE(Exists("copy" + tag + "/vtsegs"));
      ASSERT_TRUE(engine_->FinishBulkBuild(bulk).ok());
      EXPECT_EQ(CountOf(bulk), 400u);
      EXPECT_EQ(Names(bulk), Names(by_job));
      ExpectSameAnswers(by_job, bulk);
      const std::string shard = shards == 1 ? "" : "/0";
      EXPECT_FALSE(Exists("bulk" + tag + shard + "/vtseg"));
      EXPECT_FALSE(Exists("bulk" + tag + "/vtsegs"));
      // The merged index takes jobs as any other: each name is in its
      // shard, where a later job replaces it.
      std::vector<TestDoc> later = Corpus(30, 23);
      for (size_t i = 0; i < 20; ++i) later[i].name = docs[i * 3 + 1].name;
      ASSERT_TRUE(AddTo(by_job, later).ok());
      ASSERT_TRUE(AddTo(bulk, later).ok());
      EXPECT_EQ(CountOf(bulk), 410u);
      EXPECT_EQ(Names(bulk), Names(by_job));
    }
  }
  // A bulk job needs an index to merge into.
  engine_test::VectorSource source(Corpus(5, 24));
  IndexJob job;
  job.index_folder = home_.Path("none");
  ASSERT_TRUE(DefaultFileSystem()->CreateFolders(job.index_folder).ok());
  job.add = job.bulk = true;
  job.data_source = source.source();
  EXPECT_EQ(engine_->RunIndexJob(job).code(), StatusCode::kNotFound);
  EXPECT_FALSE(Exists("none/vtseg"));
  EXPECT_TRUE(engine_->FinishBulkBuild(job.index_folder).ok());
}
TEST_F(EngineShardsTest, RemovalCompactionCopiesAndRestoresCoverEveryShard) {
  const std::vector<TestDoc> docs = Corpus(120, 3);
  const std::string sharded = home_.Path("sharded");
  UseShards(3);
  ASSERT_TRUE(AddTo(sharded, docs).ok());
  // A removal list finds each name in its shard.
  std::string list;
  for (int i = 0; i < 120; i += 2) list += docs[static_cast<size_t>(i)].name + "\r\n";
  ASSERT_TRUE(home_.WriteFile("remove.lst", list));
  IndexJob remove;
  remove.index_folder = sharded;
  remove.remove = true;
  remove.remove_list_in_file = true;
  remove.remove_list_path = home_.Path("remove.lst");
  ASSERT_TRUE(engine_->RunIndexJob(remove).ok());
  ASSERT_TRUE(engine_->Compact(sharded).ok());
  EXPECT_EQ(CountOf(sharded), 60u);
  EXPECT_EQ(Names(sharded).count(docs[0].name), 0u);
  EXPECT_EQ(Names(sharded).count(docs[1].name), 1u);

  // A checked copy holds every shard and the settings.
  FileSystem* fs = DefaultFileSystem();
  const std::string copy = home_.Path("copy");
  ASSERT_TRUE(fs->CreateFolders(copy).ok());
  ASSERT_TRUE(CopyDatabaseFiles(fs, sharded, copy).ok());
  ASSERT_TRUE(MarkCopyComplete(fs, copy).ok());
  EXPECT_TRUE(CheckCopyComplete(fs, copy).ok());
  EXPECT_TRUE(HoldsIndex(fs, copy));
  EXPECT_TRUE(engine_->CheckIndexFiles(copy).ok());
  // A shard's lost file is noticed.
  ASSERT_TRUE(fs->DeleteFile(copy + "/2/iamglass").ok());
  EXPECT_EQ(CheckCopyComplete(fs, copy).code(), StatusCode::kCorruption);
  ASSERT_TRUE(fs->EmptyFolder(copy, true).ok());
  ASSERT_TRUE(CopyDatabaseFiles(fs, sharded, copy).ok());

  // Restoring the sharded copy over an index of one database makes it
  // sharded; restoring a one-database copy makes it one database again.
  const std::string old = home_.Path("old");
  UseShards(1);
  ASSERT_TRUE(AddTo(old, Corpus(30, 9)).ok());
  ASSERT_TRUE(engine_->InstallIndexFiles(old, copy).ok());
  EXPECT_EQ(Names(old), Names(sharded));
  EXPECT_FALSE(Exists("old/iamglass"));
  const std::string single = home_.Path("single");
  ASSERT_TRUE(AddTo(single, Corpus(30, 9)).ok());
  ASSERT_TRUE(engine_->InstallIndexFiles(old, single).ok());
  EXPECT_EQ(Names(old), Names(single));
  EXPECT_FALSE(Exists("old/0"));
  // A new job still finds the layout.
  ASSERT_TRUE(AddTo(old, Corpus(40, 9)).ok());
  EXPECT_EQ(CountOf(old), 40u);
}

// The sizes of a database's table files that are not a whole number of
// `block` bytes (empty tables are left out); empty when every one is.
std::vector<std::string> TablesNotInBlocksOf(const std::string& database, uintmax_t block) {
  std::vector<std::string> odd;
  for (const auto& entry : std::filesystem::directory_iterator(database)) {
    if (entry.path().extension() != ".glass") continue;
    const uintmax_t size = entry.file_size();
    if (size % block != 0) {
      odd.push_back(entry.path().filename().string() + ": " + std::to_string(size));
    }
  }
  return odd;
}

using Strings = std::vector<std::string>;

// New indexes, of one database or several, and compacted ones are written
// in the engine's block size; an index made with Xapian's default size
// keeps working and takes the engine's size when it is compacted.
TEST_F(EngineShardsTest, NewAndCompactedDatabasesUseTheEnginesBlockSize) {
  const std::string sharded = home_.Path("sharded");
  UseShards(2);
  ASSERT_TRUE(AddTo(sharded, Corpus(40, 5)).ok());
  EXPECT_EQ(TablesNotInBlocksOf(sharded + "/0", kShardBlockSize), Strings{});
  EXPECT_EQ(TablesNotInBlocksOf(sharded + "/1", kShardBlockSize), Strings{});

  const std::string old = home_.Path("old");
  { Xapian::WritableDatabase made_before(old, Xapian::DB_CREATE | Xapian::DB_BACKEND_GLASS, 8192); }
  ASSERT_TRUE(AddTo(old, Corpus(40, 5)).ok());
  EXPECT_NE(TablesNotInBlocksOf(old, kShardBlockSize), Strings{});
  EXPECT_EQ(Names(old), Names(sharded));
  ASSERT_TRUE(engine_->Compact(old).ok());
  EXPECT_EQ(TablesNotInBlocksOf(old, kShardBlockSize), Strings{});
  EXPECT_EQ(Names(old), Names(sharded));

  const std::string single = home_.Path("single");
  UseShards(1);
  ASSERT_TRUE(AddTo(single, Corpus(40, 5)).ok());
  EXPECT_EQ(TablesNotInBlocksOf(single, kShardBlockSize), Strings{});
}

// A job cut between shard commits (the process killed once the first shard
// committed; the shards commit at the same time, so others may have too)
// leaves each shard with all of its share of the job or none of it, the
// first shard with all; indexing the job again stores every document
// exactly once.
TEST_F(EngineShardsTest, AJobKilledBetweenShardCommitsIsRepairedByRunningItAgain) {
  const std::vector<TestDoc> docs = Corpus(300, 11);
  const std::string folder = home_.Path("cut");
  UseShards(3);
  ASSERT_TRUE(AddTo(folder, Corpus(30, 5)).ok());
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer runs no threads in a child forked from a threaded process";
#endif
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    EngineOptions options = engine_->GetOptions();
    options.after_shard_commit = [](uint32_t shard) {
      if (shard == 0) raise(SIGKILL);
    };
    engine_->SetOptions(options);
    AddTo(folder, docs).IgnoreError();
    _exit(0);  // not reached: killed after the first shard's commit
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  const std::multiset<std::string> after_cut = Names(folder);
  std::array<size_t, 3> share{}, kept{};
  for (const TestDoc& d : docs) {
    const uint32_t shard = ShardOf(d.name, 3);
    ++share[shard];
    kept[shard] += after_cut.count(d.name);
  }
  EXPECT_EQ(kept[0], share[0]);
  for (size_t shard = 1; shard < 3; ++shard) {
    EXPECT_TRUE(kept[shard] == 0 || kept[shard] == share[shard]) << "shard " << shard;
  }
  EXPECT_EQ(CountOf(folder), 30u + kept[0] + kept[1] + kept[2]);
  ASSERT_TRUE(AddTo(folder, docs).ok());
  const std::multiset<std::string> names = Names(folder);
  EXPECT_EQ(names.size(), 330u);
  for (const TestDoc& d : docs) EXPECT_EQ(names.count(d.name), 1u) << d.name;
}

// xapian-tcpsrv serving one database folder on a local port.
class ShardServer {
 public:
  explicit ShardServer(std::string folder) : folder_(std::move(folder)) {}
  ~ShardServer() { Stop(); }

  // Starts the server on `port`; false when it exited at once (port taken).
  bool Start(int port) {
    port_ = port;
    const std::string p = std::to_string(port);  // made before the fork: the child only execs
    pid_ = fork();
    if (pid_ == 0) {
      // A group of its own: the server signals its whole group when it stops.
      setpgid(0, 0);
      execlp("xapian-tcpsrv", "xapian-tcpsrv", "--quiet", "--interface", "127.0.0.1", "--port",
             p.c_str(), folder_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 20; ++i) {
      usleep(50 * 1000);
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
    }
    return true;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::string url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

 private:
  std::string folder_;
  int port_ = 0;
  pid_t pid_ = -1;
};

TEST_F(EngineShardsTest, ARemoteShardIsSearchedWithTheLocalOnesAndItsLossIsSurvived) {
  if (system("xapian-tcpsrv --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no xapian-tcpsrv";
  // As in the server (platform/process_setup.h): a write to a closed
  // connection is an error, not the end of the process.
  signal(SIGPIPE, SIG_IGN);
  const std::vector<TestDoc> docs = Corpus(200, 21);
  const std::vector<TestDoc> near(docs.begin(), docs.begin() + 120);
  const std::vector<TestDoc> far(docs.begin() + 120, docs.end());
  UseShards(1);
  ASSERT_TRUE(AddTo(home_.Path("whole"), docs).ok());
  ASSERT_TRUE(AddTo(home_.Path("local"), near).ok());
  ASSERT_TRUE(AddTo(home_.Path("far"), far).ok());
  ASSERT_TRUE(AddTo(home_.Path("alone"), near).ok());
  ShardServer server(home_.Path("far"));
  int port = 20000 + getpid() % 20000;
  for (int tries = 0; !server.Start(port); ++tries) {
    ASSERT_LT(tries, 20) << "xapian-tcpsrv did not start";
    port = 20000 + (port + 7919) % 20000;
  }
  ShardSettings settings;
  settings.remotes = {server.url()};
  ASSERT_TRUE(WriteShardSettings(DefaultFileSystem(), home_.Path("local"), settings).ok());

  const Query q{"harbour OR sunset", 0, -1};
  auto search_for = [&](const Query& q, SearchOutcome* outcome) {
    Hits hits;
    SearchJob job;
    job.query = q.text;
    job.index_folder = home_.Path("local");
    job.message_callback = [&](const EngineMessage& m) {
      if (m.code == kMessageFoundDocument) hits.scores[std::string(m.name)] = m.score;
    };
    StatusOr<SearchOutcome> r = engine_->RunSearchJob(job);
    EXPECT_TRUE(r.ok()) << r.status().ToString();
    if (r.ok()) *outcome = *r;
    return hits;
  };
  auto search = [&](SearchOutcome* outcome) { return search_for(q, outcome); };
  // Whole: the same hits and scores as one local database of every document.
  SearchOutcome outcome;
  Hits hits = search(&outcome);
  for (int i = 0; i < 200 && outcome.partial; ++i) {
    usleep(100 * 1000);  // the server may still be starting
    hits = search(&outcome);
  }
  ASSERT_FALSE(outcome.partial) << outcome.cut_reason;
  EXPECT_EQ(hits.scores, Answer(q, home_.Path("whole")).scores);
  // Phrases, windows and large wildcards too, though the remote server
  // knows none of the engine's own posting sources and match spies. Words
  // that share terms (sun* and sunset) are answered, possibly missing a fit.
  struct Other {
    Query query;
    bool exact;
  };
  for (const Other& other : {Other{{"boat W/3 harbour", 0, -1}, true},
                             Other{{"old town", 0, -1}, true},
                             Other{{"boat W/3 harbour", kSearchNewestFirst, 5}, false},
                             Other{{"sun* W/2 sunset", 0, -1}, false}}) {
    SearchOutcome answer;
    const Hits found = search_for(other.query, &answer);
    EXPECT_FALSE(answer.partial) << other.query.text;
    EXPECT_EQ(answer.error, "") << other.query.text;
    EXPECT_FALSE(found.scores.empty()) << other.query.text;
    if (other.exact) {
      EXPECT_EQ(found.scores, Answer(other.query, home_.Path("whole")).scores) << other.query.text;
    }
  }

  // The remote shard is gone: the local hits, marked partial.
  server.Stop();
  hits = search(&outcome);
  EXPECT_TRUE(outcome.partial);
  EXPECT_TRUE(outcome.cut_off);
  EXPECT_NE(outcome.cut_reason.find(server.url()), std::string::npos) << outcome.cut_reason;
  std::map<std::string, int32_t> local_names;
  for (const auto& [name, score] : hits.scores) local_names[name] = 0;
  std::map<std::string, int32_t> alone_names;
  for (const auto& [name, score] : Answer(q, home_.Path("alone")).scores) alone_names[name] = 0;
  EXPECT_EQ(local_names, alone_names);

  // It comes back: searched again after the retry pause.
  ASSERT_TRUE(server.Start(port));
  for (int i = 0; i < 600 && outcome.partial; ++i) {
    usleep(100 * 1000);
    hits = search(&outcome);
  }
  EXPECT_FALSE(outcome.partial);
  EXPECT_EQ(hits.scores, Answer(q, home_.Path("whole")).scores);
}

// A newest-first search with a hit limit keeps the newest matches without
// ranking them, then scores those: its hits are the first of all matches
// sorted by time (among equal times any may be kept), each with the score
// the ranked search gives it, at one and at three shards.
TEST_F(EngineShardsTest, NewestFirstKeepsTheNewestMatchesWithTheirScores) {
  std::vector<TestDoc> docs = Corpus(300, 11);
  // Few distinct times: many ties, also at the limit.
  for (size_t i = 0; i < docs.size(); ++i) {
    std::optional<DecodedDocumentName> d = DecodeDocumentName(docs[i].name);
    ASSERT_TRUE(d);
    docs[i].name = FormatDocumentName(2000 + static_cast<uint32_t>(i * 7 % 40), d->file_key);
  }
  const char* const kBrowsed[] = {"harbour",          "s*",   "sun*", "harbour AND beach",
                                  "harbour OR beach", "NOT harbour",  "boat W/5 harbour",
                                  "old town", "IPTC025 contains (harbour)", "xlastword"};
  auto time_of = [](const std::string& name) { return DecodeDocumentName(name)->time_stamp; };
  for (uint32_t shards : {1u, 3u}) {
    const std::string folder = home_.Path("newest" + std::to_string(shards));
    UseShards(shards);
    ASSERT_TRUE(AddTo(folder, docs).ok());
    for (const char* text : kBrowsed) {
      for (int32_t limit : {1, 25, 400}) {
        const Hits all = Answer(Query{text, 0, -1}, folder);
        const Hits newest = Answer(Query{text, kSearchNewestFirst, limit}, folder);
        const size_t total = all.scores.size();
        EXPECT_EQ(newest.matches, std::to_string(total)) << text;
        ASSERT_EQ(newest.scores.size(), std::min<size_t>(total, static_cast<size_t>(limit)))
            << text << " " << shards;
        std::vector<uint32_t> expected;
        for (const auto& [name, score] : all.scores) expected.push_back(time_of(name));
        std::sort(expected.rbegin(), expected.rend());
        expected.resize(newest.scores.size());
        std::vector<uint32_t> kept;
        for (const auto& [name, score] : newest.scores) {
          kept.push_back(time_of(name));
          auto it = all.scores.find(name);
          ASSERT_NE(it, all.scores.end()) << text << ": " << name;
          EXPECT_EQ(score, it->second) << text << ": " << name;
        }
        std::sort(kept.rbegin(), kept.rend());
        EXPECT_EQ(kept, expected) << text << " limit " << limit << " shards " << shards;
      }
    }
  }
}

// Indexes `docs` into an index of `count` shards and checks its browse
// searches against the brute-force answer (see the test below).
void EngineShardsTest::ExpectNewestFirstKeepsTheCombinedOrder(const std::vector<TestDoc>& docs,
                                                              uint32_t count) {
  const std::string folder = home_.Path("ties" + std::to_string(count));
  UseShards(count);
  ASSERT_TRUE(AddTo(folder, docs).ok());

  // Every document's time value and combined id, by name.
  StatusOr<ShardSettings> settings = ReadShardSettings(DefaultFileSystem(), folder);
  ASSERT_TRUE(settings.ok());
  const std::vector<std::string> shards = LocalShardFolders(*settings, folder);
  ASSERT_EQ(shards.size(), count);
  Xapian::Database combined;
  for (const std::string& shard : shards) combined.add_database(Xapian::Database(shard));
  struct Place {
    std::string time;
    Xapian::docid id;
  };
  std::map<std::string, Place> places;
  for (uint32_t i = 0; i < shards.size(); ++i) {
    Xapian::Database one(shards[i]);
    for (auto it = one.postlist_begin(""); it != one.postlist_end(""); ++it) {
      const Xapian::Document doc = one.get_document(*it);
      const Xapian::docid id = ShardPlace{i, count}.Combined(*it);
      ASSERT_EQ(combined.get_document(id).get_value(kNameSlot), doc.get_value(kNameSlot));
      places[doc.get_value(kNameSlot)] = Place{doc.get_value(kTimeSlot), id};
    }
  }
  ASSERT_EQ(places.size(), docs.size());

  for (const char* text : {"harbour", "s*", "harbour OR beach", "NOT harbour", "boat W/5 harbour",
                           "old town", "IPTC025 contains (sun*)", "xlastword", "nothing"}) {
    std::vector<std::string> matching;
    for (const auto& [name, score] : Answer(Query{text, 0, -1}, folder).scores) {
      matching.push_back(name);
    }
    std::sort(matching.begin(), matching.end(), [&](const std::string& a, const std::string& b) {
      const Place& x = places.at(a);
      const Place& y = places.at(b);
      return x.time != y.time ? x.time > y.time : x.id < y.id;
    });
    for (int32_t limit : {1, 3, 25, 61, 400}) {
      std::vector<std::string> names;
      SearchJob job;
      job.query = text;
      job.index_folder = folder;
      job.flags = kSearchNewestFirst;
      job.max_hits = limit;
      job.message_callback = [&](const EngineMessage& m) {
        if (m.code == kMessageFoundDocument) names.emplace_back(m.name);
      };
      StatusOr<SearchOutcome> r = engine_->RunSearchJob(job);
      ASSERT_TRUE(r.ok()) << text;
      EXPECT_EQ(r->error, "") << text;
      EXPECT_FALSE(r->cut_off) << text;
      EXPECT_EQ(r->matches, matching.size()) << text << " shards " << count;
      std::vector<std::string> expected(
          matching.begin(), matching.begin() + std::min<ptrdiff_t>(limit, std::ssize(matching)));
      EXPECT_EQ(names, expected) << text << " limit " << limit << " shards " << count;
    }
  }
}

// Over several local shards a browse search matches each shard on its own
// thread and merges: its hits must be, in order, those of one match over
// the combined database: the newest first, equal times (here many, across
// shards and at every limit) by combined document id, with the exact count.
// Checked against a brute-force answer built from the combined database's
// values, which also checks Xapian's numbering of combined ids. An index of
// one database is matched the same way and checked the same.
TEST_F(EngineShardsTest, NewestFirstOverShardsKeepsTheCombinedMatchsOrder) {
  std::vector<TestDoc> docs = Corpus(300, 17);
  for (size_t i = 0; i < docs.size(); ++i) {
    docs[i].name = FormatDocumentName(3000 + static_cast<uint32_t>(i % 6),
                                      DecodeDocumentName(docs[i].name)->file_key);
  }
  for (const uint32_t count : {3u, 1u}) {
    ExpectNewestFirstKeepsTheCombinedOrder(docs, count);
  }
}

// A restore replaces every shard while searches run: each search sees every
// old shard or every new one (30 or 45 documents), never a mix.
TEST_F(EngineShardsTest, SearchesDuringARestoreSeeEveryOldShardOrEveryNewOne) {
  UseShards(3);
  const std::vector<TestDoc> docs = Corpus(45, 5);
  ASSERT_TRUE(AddTo(home_.Path("a"), std::vector<TestDoc>(docs.begin(), docs.begin() + 30)).ok());
  ASSERT_TRUE(AddTo(home_.Path("b"), docs).ok());
  ASSERT_TRUE(AddTo(Folder(), std::vector<TestDoc>(docs.begin(), docs.begin() + 30)).ok());
  ASSERT_EQ(CountOf(Folder()), 30u);
  ASSERT_EQ(Names(Folder()).size(), 30u);
  ASSERT_EQ(Names(home_.Path("b")).size(), 45u);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, searches{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!done.load()) {
        const size_t n = Names(Folder()).size();
        if (n != 30 && n != 45) {
          ++bad;
          ADD_FAILURE() << n;
        }
        ++searches;
      }
    });
  }
  // On a busy machine the readers may start late: the restores begin once
  // they search.
  while (searches.load() < 3) std::this_thread::yield();
  for (int round = 0; round < 12; ++round) {
    ASSERT_TRUE(engine_->InstallIndexFiles(Folder(), home_.Path(round % 2 ? "a" : "b")).ok());
    EXPECT_EQ(CountOf(Folder()), round % 2 ? 30u : 45u);
  }
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
}

// Searches during the jobs of a sharded index see every shard before a job
// or every shard after it, and a data source that fails leaves no shard
// with any part of its job, also when Xapian flushes a shard's postings
// inside the job (XAPIAN_FLUSH_THRESHOLD, which an operator may set): here
// every few documents, so that each part flushes several times before its
// commit.
TEST_F(EngineShardsTest, SearchesDuringJobsSeeWholeJobsAndAFailedSourceLeavesNone) {
  ScopedEnv flush_often("XAPIAN_FLUSH_THRESHOLD", "4");
  UseShards(3);
  constexpr size_t kJob = 40;
  const std::vector<TestDoc> docs = Corpus(16 * kJob, 13);
  const auto job = [&](size_t i) { return JobOf(docs, i, kJob); };
  ASSERT_TRUE(AddTo(Folder(), job(0)).ok());
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, searches{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      size_t last = 0;
      while (!done.load()) {
        const size_t n = Names(Folder()).size();
        if (n % kJob != 0 || n < last) {
          ++bad;
          ADD_FAILURE() << n << " after " << last;
        }
        last = n;
        ++searches;
      }
    });
  }
  while (searches.load() < 3) std::this_thread::yield();
  // No ASSERT while the readers run: they stop only when `done` is set.
  for (size_t i = 1; i < 15; ++i) {
    EXPECT_TRUE(AddTo(Folder(), job(i)).ok());
    EXPECT_EQ(CountOf(Folder()), (i + 1) * kJob);
  }
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);

  const std::multiset<std::string> before = Names(Folder());
  engine_test::VectorSource failing(job(15), /*fail_after=*/static_cast<int>(kJob) - 5);
  IndexJob cut;
  cut.index_folder = Folder();
  cut.add = true;
  cut.data_source = failing.source();
  EXPECT_FALSE(engine_->RunIndexJob(cut).ok());
  EXPECT_EQ(Names(Folder()), before);
  EXPECT_EQ(CountOf(Folder()), 15 * kJob);
}

// A search made while a job's shards commit never sees one shard's part
// alone: it is answered at once by an idle reader of the state before the
// job when the pool holds one, and otherwise waits for the whole job. Every
// job of this engine leaves a reader of the state after it; one written
// by another engine (another process) does not.
TEST_F(EngineShardsTest, ASearchDuringShardCommitsSeesTheStateBeforeOrWaitsForTheJob) {
  UseShards(3);
  constexpr size_t kJob = 60;
  const std::vector<TestDoc> docs = Corpus(5 * kJob, 17);
  const auto job = [&](size_t i) { return JobOf(docs, i, kJob); };
  struct Seen {
    bool during_job = false;  // the search ended before the job did
    size_t names = 0;
  };
  // Runs job `i`; once its first shard committed, a search starts on a
  // thread of its own and is given time to end before the job goes on.
  const auto search_during_job = [&](size_t i) {
    std::atomic<bool> first{true}, finished{false}, during_job{false};
    std::atomic<size_t> names{0};
    std::thread search;
    EngineOptions options = engine_->GetOptions();
    options.after_shard_commit = [&](uint32_t) {
      if (!first.exchange(false)) return;
      search = std::thread([&] {
        names = Names(Folder()).size();
        finished = true;
      });
      // Long enough for an unhindered search of this small index.
      for (int k = 0; k < 40 && !finished.load(); ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      during_job = finished.load();
    };
    engine_->SetOptions(options);
    EXPECT_TRUE(AddTo(Folder(), job(i)).ok());
    options.after_shard_commit = nullptr;
    engine_->SetOptions(options);
    if (search.joinable()) search.join();
    return Seen{during_job.load(), names.load()};
  };

  ASSERT_TRUE(AddTo(Folder(), job(0)).ok());
  ASSERT_EQ(Names(Folder()).size(), kJob);  // an idle reader of one job
  {
    EngineStartOptions start;
    start.home_folder = home_.path();
    StatusOr<std::unique_ptr<Engine>> other = Engine::Start(start);
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE(engine_test::AddDocuments(other->get(), Folder(), job(1), false).ok());
  }
  // This engine's idle reader holds an older state than the one before the
  // job.
  const Seen waited = search_during_job(2);
  EXPECT_FALSE(waited.during_job);
  EXPECT_EQ(waited.names, 3 * kJob);
  // A job left an idle reader of the state after it, with no search
  // between the two jobs.
  ASSERT_TRUE(AddTo(Folder(), job(3)).ok());
  const Seen answered = search_during_job(4);
  EXPECT_TRUE(answered.during_job);
  EXPECT_EQ(answered.names, 4 * kJob);
  EXPECT_EQ(Names(Folder()).size(), 5 * kJob);
}

}  // namespace
}  // namespace vantrel
