// vantrelctl search against a stand-in server: a thread that watches the
// search folder, decodes each request, and answers with a hit file (and a
// progress file for query requests) written the way the server writes them.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "core/browse_list.h"
#include "core/config_file.h"
#include "core/list_file.h"
#include "ctl_test_util.h"
#include "gtest/gtest.h"
#include "nlohmann/json.hpp"
#include "platform/paths.h"
#include "support/hit_file_reader.h"
#include "search/hit_file.h"
#include "search/progress_file.h"
#include "search/request_file.h"
#include "search/request_names.h"
#include "tools/ctl_search_exchange.h"

// The expected requests below name only the fields a case sets; the others
// keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

struct FakeHit {
  std::string key;
  uint32_t time;
  uint32_t type;
};

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Answers the first request that appears in `folder`.
class FakeServer {
 public:
  explicit FakeServer(std::string folder) : folder_(std::move(folder)) {}
  ~FakeServer() { Stop(); }

  std::vector<FakeHit> hits;
  int list_order = kOrderTime;  // the order the hit file is written in
  uint32_t found = 0;           // 0: the number of hits
  bool take_only = false;       // delete the request but never answer
  std::string hit_bytes;        // when set: written as the hit file as it is
  // Called between writing the first and the second part of the hit file;
  // empty: the file is written in one go.
  std::function<void(const std::string& hit_path)> between_parts;
  // Query requests: progress counts written before the hit file, and a wait
  // after each one (the test decides when the client has seen it).
  std::vector<uint32_t> progress;
  std::function<void(uint32_t)> after_progress;

  void Start() {
    thread_ = std::thread([this] { Loop(); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool served() const { return served_; }

  // What the server read (valid once served).
  std::string name;
  std::string bytes;

 private:
  void Loop() {
    FileSystem* fs = DefaultFileSystem();
    while (!stop_ && !served_) {
      StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(folder_);
      if (entries.ok()) {
        for (const FolderEntry& e : *entries) {
          if (EndsWith(e.name, ".REQ") || EndsWith(e.name, ".QRY")) {
            Serve(fs, e.name);
            served_ = true;
            break;
          }
        }
      }
      std::this_thread::sleep_for(milliseconds(2));
    }
  }

  void Serve(FileSystem* fs, const std::string& request) {
    const std::string path = JoinNative(folder_, request);
    StatusOr<std::string> read = fs->ReadFile(path);
    ASSERT_TRUE(read.ok()) << read.status().ToString();
    name = request;
    bytes = *read;
    ASSERT_TRUE(fs->DeleteFile(path).ok());
    if (take_only) return;
    if (EndsWith(request, ".QRY")) {
      for (uint32_t count : progress) {
        ASSERT_TRUE(
            WriteProgressFile(fs, JoinNative(folder_, ProgressFileName(request)), count).ok());
        if (after_progress) after_progress(count);
      }
    }
    const std::string hit_path = JoinNative(folder_, HitFileName(request));
    if (!hit_bytes.empty()) {
      ASSERT_TRUE(fs->WriteFile(hit_path, hit_bytes).ok());
      return;
    }
    BrowseList list;
    ASSERT_TRUE(list.SetOrder(list_order).ok());
    for (const FakeHit& h : hits) ASSERT_TRUE(list.Add(h.key, h.time, h.type, kNoExtra).ok());
    uint32_t n_found = found != 0 ? found : static_cast<uint32_t>(hits.size());
    if (!between_parts) {
      ASSERT_TRUE(SaveHitFile(fs, hit_path, list, n_found, 0).ok());
      return;
    }
    // Header and the first half of the records first, the rest and the
    // skip table (written last by the server too) afterwards.
    std::string whole = EncodeHitFile(list, n_found, 0);
    std::string first = whole;
    std::fill(first.begin() + kListSkipTableOffset, first.begin() + kListFileHeaderSize, '\0');
    first.resize(kListFileHeaderSize + (whole.size() - kListFileHeaderSize) / 2);
    ASSERT_TRUE(fs->WriteFile(hit_path, first).ok());
    between_parts(hit_path);
    StatusOr<std::unique_ptr<WritableFile>> file = fs->OpenForOverwrite(hit_path);
    ASSERT_TRUE(file.ok());
    ASSERT_TRUE((*file)->WriteAt(0, whole).ok());
    ASSERT_TRUE((*file)->Close().ok());
  }

  std::string folder_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> served_{false};
};

class CtlSearchTest : public CtlTest {
 protected:
  CtlSearchTest() {
    index_ = Folder("index");
    search_ = Folder("index/VT_SEARCH");
    images_ = Folder("images");
  }

  // A configuration naming the index with image folder 1 = images_.
  void WriteConfig() {
    Configuration config;
    StatusOr<IndexDefinition> def = NewIndexDefinition("Photos", index_);
    ASSERT_TRUE(def.ok());
    ASSERT_TRUE(AddIndex(&config, *def, namer_).ok());
    StatusOr<int> slot = AddImageFolder(&config, 0, images_, "", "", true);
    ASSERT_TRUE(slot.ok());
    ASSERT_EQ(*slot, 1);
    ASSERT_TRUE(SaveConfiguration(*DefaultFileSystem(), config, ConfigPathIn(dir_.path())).ok());
  }

  // Runs "search INDEX ARGS... --timeout 10" against `server`.
  int Search(FakeServer* server, std::vector<std::string> args) {
    std::vector<std::string> all = {"--dir", dir_.path(), "search", index_};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--timeout", "10"});
    out_.str("");
    err_.str("");
    if (server) server->Start();
    int rc = RunVantrelctl(all, env_);
    if (server) server->Stop();
    return rc;
  }

  // Runs a search whose request a stand-in server reads and answers with no
  // hits; returns the request's name and bytes.
  std::pair<std::string, std::string> RequestFor(const std::vector<std::string>& args) {
    FakeServer server(search_);
    EXPECT_EQ(Search(&server, args), 1) << err_.str();
    EXPECT_TRUE(server.served());
    return {server.name, server.bytes};
  }

  std::vector<std::string> SearchFolderNames() {
    std::vector<std::string> names;
    StatusOr<std::vector<FolderEntry>> entries = DefaultFileSystem()->ListFolder(search_);
    if (entries.ok()) {
      for (const FolderEntry& e : *entries) names.push_back(e.name);
    }
    return names;
  }

  std::string index_, search_, images_;
};

struct ShortCase {
  std::vector<std::string> args;
  ShortSearchRequest want;
};

TEST_F(CtlSearchTest, SimpleOptionsLandInTheShortForm) {
  const std::vector<ShortCase> cases = {
      {{"boats"}, {.first_term = "boats"}},
      {{"boats", "--field", "category"}, {.first_term = "boats", .field_selector = 1}},
      {{"boats", "--field", "keywords"}, {.first_term = "boats", .field_selector = 2}},
      {{"boats", "--field", "name"}, {.first_term = "boats", .field_selector = 3}},
      {{"boats", "--field", "path"}, {.first_term = "boats", .field_selector = 4}},
      {{"boats", "--exact"}, {.first_term = "boats", .exact = 1}},
      {{"boats", "--or", "Harbour"},
       {.first_term = "boats", .second_term = "Harbour", .operator_code = 1}},
      {{"boats", "--and-not", "sail"},
       {.first_term = "boats", .second_term = "sail", .operator_code = 2}},
      {{"boats", "--since", "hour"}, {.first_term = "boats", .date_mode = 1}},
      {{"boats", "--since", "week"}, {.first_term = "boats", .date_period = 2, .date_mode = 1}},
      {{"boats", "--before", "month"}, {.first_term = "boats", .date_period = 3, .date_mode = 2}},
      {{"boats", "--by-name"}, {.first_term = "boats", .name_order_flag = 1}},
      {{"boats", "--merge", "OLD.HIT"},
       {.first_term = "boats", .list_file = "OLD.HIT", .merge_flag = 1}},
      {{"boats", "--restrict", "OLD.HIT"},
       {.first_term = "boats", .list_file = "OLD.HIT", .restrict_flag = 1}},
      // A path of a file in the search folder is sent as its plain name.
      {{"boats", "--restrict", "index/VT_SEARCH/OLD.HIT"},
       {.first_term = "boats", .list_file = "OLD.HIT", .restrict_flag = 1}},
      {{"boats", "--limit", "20"}, {.first_term = "boats"}},
      {{"", "--since", "day"}, {.date_period = 1, .date_mode = 1}},
      {{"Caf\xC3\xA9 AND bar"}, {.first_term = "Caf\xE9 AND bar"}},
  };
  for (const ShortCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    auto [name, bytes] = RequestFor(c.args);
    EXPECT_TRUE(EndsWith(name, ".REQ"));
    EXPECT_EQ(bytes.size(), kShortRequestSize);
    StatusOr<SearchRequest> got = DecodeSearchRequest(bytes);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got->form, SearchRequestForm::kShort);
    EXPECT_EQ(got->short_form, c.want);
    EXPECT_TRUE(SearchFolderNames().empty()) << testing::PrintToString(SearchFolderNames());
  }
}

struct LongCase {
  std::vector<std::string> args;
  LongSearchRequest want;
};

TEST_F(CtlSearchTest, WhatTheShortFormCannotCarryGoesInTheLongForm) {
  const std::string long_query(70, 'x');
  const std::string y64(64, 'y');
  const std::vector<LongCase> cases = {
      {{"boats", "--merge", "A.HIT", "--restrict", "B.HIT"},
       {.query_text = "boats", .restrict_file = "B.HIT", .merge_file = "A.HIT", .merge_flag = 1,
        .restrict_flag = 1, .hit_limit_thousands = 2}},
      {{"boats", "--limit", "2001"}, {.query_text = "boats", .hit_limit_thousands = 3}},
      {{"boats", "--limit", "5000"}, {.query_text = "boats", .hit_limit_thousands = 5}},
      {{"boats", "--limit", "0"}, {.query_text = "boats", .hit_limit_thousands = 0}},
      {{"boats", "--limit", "300000"}, {.query_text = "boats", .hit_limit_thousands = 0}},
      {{long_query, "--or", "sea", "--exact", "--field", "keywords", "--since", "day", "--by-name"},
       {.query_text = long_query + " OR sea", .field_selector = 2, .date_period = 1,
        .date_mode = 1, .options = 1, .name_order_flag = 1, .hit_limit_thousands = 2}},
      {{"boats", "--and-not", y64},
       {.query_text = "boats AND NOT " + y64, .hit_limit_thousands = 2}},
  };
  for (const LongCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    auto [name, bytes] = RequestFor(c.args);
    EXPECT_TRUE(EndsWith(name, ".REQ"));
    StatusOr<SearchRequest> got = DecodeSearchRequest(bytes);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got->form, SearchRequestForm::kLong);
    EXPECT_EQ(got->long_form, c.want);
  }
}

struct QueryCase {
  std::vector<std::string> args;
  QueryRequest want;
};

TEST_F(CtlSearchTest, RawQueriesGoInAQueryRequest) {
  const std::string q = "IPTC025 contains (sea*)";
  const std::vector<QueryCase> cases = {
      {{"--raw", q}, {.option_bits = 0x10, .hit_limit = 2000, .sort_order = 1, .query_text = q}},
      {{"--raw", q, "--sort", "relevance", "--limit", "10"},
       {.option_bits = 0x10, .hit_limit = 10, .sort_order = 3, .query_text = q}},
      {{"--raw", q, "--by-name", "--merge", "M.HIT", "--restrict", "R.HIT"},
       {.option_bits = 0x10, .list_options = 3, .hit_limit = 2000, .sort_order = 2,
        .restrict_file = "R.HIT", .merge_file = "M.HIT", .query_text = q}},
      {{"--raw", q, "--limit", "0", "--restrict", "R.HIT"},
       {.option_bits = 0x10, .list_options = 2, .hit_limit = 0, .sort_order = 1,
        .restrict_file = "R.HIT", .query_text = q}},
  };
  for (const QueryCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    auto [name, bytes] = RequestFor(c.args);
    EXPECT_TRUE(EndsWith(name, ".QRY"));
    StatusOr<QueryRequest> got = DecodeQueryRequest(bytes);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(*got, c.want);
  }
}

TEST_F(CtlSearchTest, PrintsHitsInFileOrderWithFullPaths) {
  WriteConfig();
  ASSERT_TRUE(dir_.WriteFile("images/Sport/b.jpg", "x"));
  FakeServer server(search_);
  // Slot 5 is not configured; its key is shown without a path.
  server.hits = {{"01Sport\\a.jpg", 0x30000000, 0x4A504547},
                 {"01Sport\\b.jpg", 0x30000100, 0x54494646},
                 {"05Other\\c.eps", 0x20000000, 0}};
  ASSERT_EQ(Search(&server, {"sport"}), 0) << err_.str();
  const std::string a = images_ + "/Sport/a.jpg";
  const std::string b = images_ + "/Sport/b.jpg";
  EXPECT_EQ(out_.str(), "01Sport\\b.jpg\t1995-07-09 17:16:58\tTIFF\t" + b + "\n" +
                            "01Sport\\a.jpg\t1995-07-09 17:12:42\tJPEG\t" + a + "\n" +
                            "05Other\\c.eps\t1987-01-05 19:48:26\t\t\n");
  EXPECT_NE(err_.str().find("3 hits shown, 3 found"), std::string::npos) << err_.str();
  EXPECT_TRUE(SearchFolderNames().empty());
}

TEST_F(CtlSearchTest, JsonNamesEveryField) {
  WriteConfig();
  FakeServer server(search_);
  server.hits = {{"01Sport\\a.jpg", 0x30000000, 0x4A504547}, {"07x.tif", 0x20000000, 0}};
  server.list_order = kOrderName;
  server.found = 9;
  ASSERT_EQ(Search(&server, {"sport", "--json", "--by-name"}), 0) << err_.str();
  nlohmann::json j = nlohmann::json::parse(out_.str());
  EXPECT_EQ(j["form"], "short");
  EXPECT_EQ(j["found"], 9);
  EXPECT_EQ(j["records"], 2);
  EXPECT_EQ(j["index_folder"], index_);
  // Name order puts "07x.tif" first (time order would not): the client keeps
  // the file's order.
  ASSERT_EQ(j["hits"].size(), 2u);
  EXPECT_EQ(j["hits"][0]["key"], "07x.tif");
  EXPECT_TRUE(j["hits"][0]["path"].is_null());
  EXPECT_EQ(j["hits"][0]["type"], "");
  EXPECT_EQ(j["hits"][0]["entry"], 0u);
  EXPECT_EQ(j["hits"][1]["key"], "01Sport\\a.jpg");
  EXPECT_EQ(j["hits"][1]["time"], 0x30000000u);
  EXPECT_EQ(j["hits"][1]["date_utc"], "1995-07-09 17:12:42");
  EXPECT_EQ(j["hits"][1]["type"], "JPEG");
  EXPECT_EQ(j["hits"][1]["entry"], 1u);
  EXPECT_EQ(j["hits"][1]["path"], images_ + "/Sport/a.jpg");
}

// Only the first hits in file order are printed, and a control character in
// a key cannot start a line of its own.
TEST_F(CtlSearchTest, LimitCutsWhatIsPrintedAndKeysStayOnOneLine) {
  FakeServer server(search_);
  for (int i = 0; i < 4; ++i) {
    server.hits.push_back({"01f" + std::to_string(i), 0x1000u + static_cast<uint32_t>(i), 0});
  }
  server.hits.push_back({"01f\n4", 0x1004, 0});
  ASSERT_EQ(Search(&server, {"f", "--limit", "2"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "01f?4\t1970-01-01 02:08:14\t\t\n01f3\t1970-01-01 02:08:13\t\t\n");
  EXPECT_NE(err_.str().find("2 hits shown, 5 found"), std::string::npos) << err_.str();
}

// A stream buffer that the stand-in server may read while the command writes.
class LockedTextBuf : public std::streambuf {
 public:
  std::string Text() {
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) {
      std::lock_guard<std::mutex> lock(mu_);
      text_.push_back(static_cast<char>(c));
    }
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard<std::mutex> lock(mu_);
    text_.append(s, static_cast<size_t>(n));
    return n;
  }

 private:
  std::mutex mu_;
  std::string text_;
};

TEST_F(CtlSearchTest, QueryRequestShowsProgressAndRemovesItsFiles) {
  LockedTextBuf buf;
  std::ostream err(&buf);
  env_.err = &err;
  FakeServer server(search_);
  server.hits = {{"01a", 5, 0}};
  server.progress = {500, 1000};
  // The server goes on once the command has shown each count.
  server.after_progress = [&](uint32_t count) {
    const std::string line = "searching: " + std::to_string(count) + " hits so far\n";
    for (int i = 0; i < 2000 && buf.Text().find(line) == std::string::npos; ++i) {
      std::this_thread::sleep_for(milliseconds(5));
    }
  };
  ASSERT_EQ(Search(&server, {"--raw", "a*"}), 0) << buf.Text();
  EXPECT_EQ(buf.Text(),
            "searching: 500 hits so far\nsearching: 1000 hits so far\n1 hit shown, 1 found\n");
  EXPECT_TRUE(SearchFolderNames().empty()) << testing::PrintToString(SearchFolderNames());
}

TEST_F(CtlSearchTest, KeepLeavesTheHitFileForALaterMerge) {
  FakeServer server(search_);
  server.hits = {{"01a", 5, 0}};
  ASSERT_EQ(Search(&server, {"a", "--keep"}), 0) << err_.str();
  std::vector<std::string> left = SearchFolderNames();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0], HitFileName(server.name));
  EXPECT_EQ(ReadHitFile(JoinNative(search_, left[0])).keys(), std::vector<std::string>{"01a"});
  EXPECT_NE(err_.str().find("hit file kept: " + left[0]), std::string::npos);
}

TEST_F(CtlSearchTest, HitFileWrittenInTwoStepsIsReadWhole) {
  FakeServer server(search_);
  for (int i = 0; i < 1500; ++i) {
    server.hits.push_back({"01file" + std::to_string(i), 0x1000u + static_cast<uint32_t>(i), 0});
  }
  // The client polls every 10 ms; it sees the first part many times.
  server.between_parts = [](const std::string&) { std::this_thread::sleep_for(milliseconds(150)); };
  ASSERT_EQ(Search(&server, {"file", "--limit", "0", "--json"}), 0) << err_.str();
  nlohmann::json j = nlohmann::json::parse(out_.str());
  ASSERT_EQ(j["hits"].size(), 1500u);
  EXPECT_EQ(j["hits"][0]["key"], "01file1499");
  EXPECT_EQ(j["hits"][1499]["key"], "01file0");
}

TEST_F(CtlSearchTest, ADamagedHitFileIsAnErrorAndIsRemoved) {
  FakeServer server(search_);
  // One record whose name length is zero.
  std::string bytes(408 + 16 + 2, '\0');
  bytes[0] = 1;
  bytes[8] = static_cast<char>(408 & 0xFF);
  bytes[9] = static_cast<char>(408 >> 8);
  server.hit_bytes = bytes;
  EXPECT_EQ(Search(&server, {"a"}), 2);
  EXPECT_NE(err_.str().find("is damaged"), std::string::npos) << err_.str();
  EXPECT_TRUE(SearchFolderNames().empty());
}

TEST_F(CtlSearchTest, TimesOutWhenNoServerTakesOrAnswersTheRequest) {
  std::vector<std::string> args = {"--dir", dir_.path(), "search", index_,
                                   "boats", "--timeout", "0.3"};
  EXPECT_EQ(RunVantrelctl(args, env_), 2);
  EXPECT_NE(err_.str().find("did not take the request"), std::string::npos) << err_.str();
  EXPECT_TRUE(SearchFolderNames().empty()) << testing::PrintToString(SearchFolderNames());

  err_.str("");
  FakeServer server(search_);
  server.take_only = true;
  server.Start();
  EXPECT_EQ(RunVantrelctl(args, env_), 2);
  server.Stop();
  EXPECT_NE(err_.str().find("wrote no hit file"), std::string::npos) << err_.str();
}

TEST_F(CtlSearchTest, AnIndexBeingPreparedIsToldAtOnceNotWaitedFor) {
  // A time-out far longer than the test: the status file must end the wait.
  std::vector<std::string> args = {"--dir", dir_.path(), "search", index_,
                                   "boats", "--timeout", "60"};
  const std::string status_file = JoinNative(search_, "VTSTATUS");
  FileSystem* fs = DefaultFileSystem();
  ASSERT_TRUE(fs->WriteFile(status_file, std::string("\0\0\0\1", 4)).ok());
  EXPECT_EQ(RunVantrelctl(args, env_), 2);
  EXPECT_NE(err_.str().find("being prepared"), std::string::npos) << err_.str();
  EXPECT_EQ(SearchFolderNames(), std::vector<std::string>{"VTSTATUS"}) << "nothing left";
  ASSERT_TRUE(fs->DeleteFile(status_file).ok());

  // The preparation begins while the request waits (the server empties the
  // folder then, so no answer would ever come).
  err_.str("");
  std::thread preparation([&] {
    while (SearchFolderNames().empty()) std::this_thread::sleep_for(milliseconds(2));
    fs->WriteFile(status_file, std::string("\0\0\0\1", 4)).IgnoreError();
  });
  EXPECT_EQ(RunVantrelctl(args, env_), 2);
  preparation.join();
  EXPECT_NE(err_.str().find("being prepared"), std::string::npos) << err_.str();
  EXPECT_EQ(SearchFolderNames(), std::vector<std::string>{"VTSTATUS"}) << "the request is removed";
}

TEST_F(CtlSearchTest, BadArgumentsAndFoldersExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"search"},
      {"search", index_},
      {"search", index_, "a", "b"},
      {"search", dir_.Path("nothing"), "a"},
      {"search", dir_.Path("images"), "a"},  // no VT_SEARCH inside
      {"search", index_, "a", "--field", "caption"},
      {"search", index_, "a", "--since", "year"},
      {"search", index_, "a", "--since", "day", "--before", "day"},
      {"search", index_, "a", "--or", "b", "--and-not", "c"},
      {"search", index_, "", "--or", "b"},
      {"search", index_, "a", "--or", ""},
      {"search", index_, "a", "--limit", "-1"},
      {"search", index_, "a", "--limit", "ten"},
      {"search", index_, "a", "--timeout", "0"},
      {"search", index_, "a", "--timeout", "1.2.3"},
      {"search", index_, "a", "--sort", "time"},
      {"search", index_, "a", "--merge", "../x.HIT"},
      {"search", index_, "a", "--merge", "/tmp/x.HIT"},
      {"search", index_, std::string(128, 'q')},
      {"search", index_, "a", "--raw", "b"},
      {"search", index_, "--raw", ""},
      {"search", index_, "--raw", "b", "--field", "name"},
      {"search", index_, "--raw", "b", "--exact"},
      {"search", index_, "--raw", "b", "--since", "day"},
      {"search", index_, "--raw", "b", "--sort", "size"},
      {"search", index_, "--raw", "b", "--sort", "time", "--by-name"},
      {"search", index_, "a", "--color"},
  };
  for (const std::vector<std::string>& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c));
    std::vector<std::string> args = {"--dir", dir_.path()};
    args.insert(args.end(), c.begin(), c.end());
    out_.str("");
    err_.str("");
    EXPECT_EQ(RunVantrelctl(args, env_), 2);
    EXPECT_NE(err_.str().find("error:"), std::string::npos);
    EXPECT_TRUE(SearchFolderNames().empty());
  }
}

TEST_F(CtlSearchTest, HelpIsReachableBothWays) {
  EXPECT_EQ(Run({"search", "--help"}), 0);
  std::string help = out_.str();
  EXPECT_NE(help.find("--raw ENGINE-QUERY"), std::string::npos);
  EXPECT_EQ(Run({"help", "search"}), 0);
  EXPECT_EQ(out_.str(), help);
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out_.str().find("search INDEX-FOLDER"), std::string::npos);
}

// --- The hit file reader on its own.

std::string EncodeHits(int n, uint32_t found) {
  BrowseList list;
  EXPECT_TRUE(list.SetOrder(kOrderTime).ok());
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(
        list.Add("01n" + std::to_string(i), static_cast<uint32_t>(i + 1), 7, kNoExtra).ok());
  }
  return EncodeHitFile(list, found, 0);
}

TEST(ParseHitFileTest, ReadsRecordsInFileOrderAcrossSkipEntries) {
  std::string bytes = EncodeHits(2500, 2600);
  StatusOr<HitFileContent> c = ParseHitFile(bytes);
  ASSERT_TRUE(c.ok()) << c.status().ToString();
  EXPECT_EQ(c->found, 2600u);
  ASSERT_EQ(c->records.size(), 2500u);
  EXPECT_EQ(c->records[0].key, "01n2499");
  EXPECT_EQ(c->records[0].time, 2500u);
  EXPECT_EQ(c->records[0].type, 7u);
  EXPECT_EQ(c->records[2499].entry, 2499u);
  // An older, longer file's tail behind the records does not count.
  StatusOr<HitFileContent> tail = ParseHitFile(EncodeHits(3, 3) + std::string(500, 'z'));
  ASSERT_TRUE(tail.ok());
  EXPECT_EQ(tail->records.size(), 3u);
  StatusOr<HitFileContent> none = ParseHitFile(EncodeHits(0, 0));
  ASSERT_TRUE(none.ok());
  EXPECT_TRUE(none->records.empty());
}

TEST(ParseHitFileTest, NoShorterPieceOfAFileIsComplete) {
  std::string bytes = EncodeHits(40, 40);
  for (size_t n = 0; n < bytes.size(); ++n) {
    StatusOr<HitFileContent> c = ParseHitFile(std::string_view(bytes).substr(0, n));
    ASSERT_FALSE(c.ok()) << n;
    EXPECT_EQ(c.status().code(), StatusCode::kUnavailable) << n;
  }
  // The whole file without its skip table (written last) is not complete.
  std::string unskipped = bytes;
  std::fill(unskipped.begin() + 8, unskipped.begin() + 408, '\0');
  EXPECT_EQ(ParseHitFile(unskipped).status().code(), StatusCode::kUnavailable);
}

TEST(ParseHitFileTest, DamageIsCorruption) {
  auto put = [](std::string s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  const std::string good = EncodeHits(3, 3);
  const std::string big = EncodeHits(1100, 1100);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"negative count", put(good, 0, 0xFFFFFFFF)},
      {"huge count", put(good, 0, 3'000'000)},
      {"skip entry 0", put(good, 8, 400)},
      {"name length 0", put(good, 408, 0)},
      {"name length 257", put(good, 408, 257)},
      {"name without NUL", put(good, 408, 3)},
      {"skip entry past the records", put(good, 12, 900)},
      {"skip entry 1 elsewhere", put(big, 12, 5000)},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(ParseHitFile(bytes).status().code(), StatusCode::kCorruption);
  }
}

}  // namespace
}  // namespace vantrel
