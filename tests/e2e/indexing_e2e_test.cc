// Whole-server indexing: pictures in the image folders reach the engine by
// themselves, at the first start and when copied in while the server runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "core/config_file.h"
#include "core/file_names.h"
#include "search/request_file.h"
#include "engine/engine.h"
#include "server_process.h"
#include "support/hit_file_reader.h"
#include "support/image_builders.h"
#include "support/pdf_builder.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

class IndexingServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeOneIndexStart(dir_));
    ASSERT_TRUE(dir_.MakeFolder("reader"));
    engine_folder_ = EngineFolderOf(dir_.Path("index"));
    // The test reads the server's index with an engine of its own.
    EngineStartOptions options;
    options.home_folder = dir_.Path("reader");
    engine_ = std::move(Engine::Start(options).value());
  }

  // File keys of the documents the engine finds for `query` (empty when the
  // index does not exist yet).
  std::vector<std::string> Search(const std::string& query) {
    std::vector<std::string> keys;
    SearchJob job;
    job.query = query;
    job.index_folder = engine_folder_;
    job.message_callback = [&](const EngineMessage& m) {
      if (m.code == kMessageFoundDocument) keys.emplace_back(m.name.substr(9));
    };
    StatusOr<SearchOutcome> outcome = engine_->RunSearchJob(job);
    if (!outcome.ok()) std::printf("search: %s\n", outcome.status().ToString().c_str());
    return keys;
  }

  // Waits until `query` finds something; returns how long that took, or -1.
  double WaitFound(const std::string& query, milliseconds limit) {
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < limit) {
      if (!Search(query).empty()) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
    return -1;
  }

  TempDir dir_;
  std::string engine_folder_;
  std::unique_ptr<Engine> engine_;
};

TEST_F(IndexingServerTest, PicturesReachTheEngineAtStartAndWhenCopiedIn) {
  ASSERT_TRUE(dir_.WriteFile("images/a.jpg", MakeJpegWithIptc({{2, 120, "harbour"}})));
  ASSERT_TRUE(dir_.WriteFile("images/2024/b.tif", MakeTiffWithIptc({{2, 120, "glacier"}})));
  PdfDocumentPlan pdf;
  pdf.info = {{"Title", "Annual report"}};
  pdf.pages = {PdfPagePlan{{PdfTextRun{72, 720, "Shipping tonnage rose"}}}};
  ASSERT_TRUE(dir_.WriteFile("images/report.pdf", BuildPdf(pdf)));
  ServerProcess server(dir_.Path("start"), {"--no-console"}, dir_.Path("server.log"));
  ASSERT_TRUE(server.WaitForOutput("Database Process Ready for Search", milliseconds(30000)))
      << server.Output();
  EXPECT_EQ(Search("harbour"), std::vector<std::string>{"01a.jpg"});
  EXPECT_EQ(Search("glacier"), std::vector<std::string>{"012024\\b.tif"});
  // The PDF's text, read by the helper process apart from the indexing,
  // follows its document at an update pass.
  EXPECT_GE(WaitFound("tonnage", milliseconds(60000)), 0) << server.Output();
  EXPECT_EQ(Search("tonnage"), std::vector<std::string>{"01report.pdf"});
  EXPECT_EQ(Search("annual"), std::vector<std::string>{"01report.pdf"});

  // Copied in while the server runs: found without waiting for a poll pass
  // (which comes only after two minutes).
  std::string picture = MakeJpegWithIptc({{2, 120, "volcano"}, {2, 25, "lava"}});
  ASSERT_TRUE(dir_.WriteFile("images/2024/c.jpg.tmp", picture));
  ASSERT_EQ(std::rename(dir_.Path("images/2024/c.jpg.tmp").c_str(),
                        dir_.Path("images/2024/c.jpg").c_str()),
            0);
  double seconds = WaitFound("volcano", milliseconds(20000));
  ASSERT_GE(seconds, 0) << server.Output();
  std::printf("picture to engine: %.3f s\n", seconds);
  EXPECT_EQ(Search("lava"), std::vector<std::string>{"012024\\c.jpg"});

  // A folder copied in with its pictures.
  ASSERT_TRUE(dir_.WriteFile("incoming/Travel/d.jpg", MakeJpegWithIptc({{2, 120, "caravan"}})));
  ASSERT_EQ(std::rename(dir_.Path("incoming/Travel").c_str(), dir_.Path("images/Travel").c_str()),
            0);
  EXPECT_GE(WaitFound("caravan", milliseconds(20000)), 0) << server.Output();

  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitExit(), 0) << server.Output();
}

// A client that knows only the file formats: request files in, hit files out.
TEST_F(IndexingServerTest, RequestFilesAreAnsweredWithHitFiles) {
  ASSERT_TRUE(dir_.WriteFile("images/a.jpg", MakeJpegWithIptc({{2, 120, "harbour"}})));
  ASSERT_TRUE(dir_.WriteFile("images/2024/b.jpg", MakeJpegWithIptc({{2, 120, "harbour boats"}})));
  ASSERT_TRUE(dir_.WriteFile("images/2024/c.jpg", MakeJpegWithIptc({{2, 120, "glacier"}})));
  ServerProcess server(dir_.Path("start"), {"--no-console"}, dir_.Path("server.log"));
  ASSERT_TRUE(server.WaitForOutput("Database Process Ready for Search", milliseconds(30000)))
      << server.Output();
  FileSystem* fs = DefaultFileSystem();
  // Drops a request file in (renamed into place, as clients do) and waits for its answer.
  auto answer = [&](const std::string& name, const std::string& bytes) {
    const std::string search = dir_.Path("index/VT_SEARCH/");
    EXPECT_TRUE(dir_.WriteFile("index/VT_SEARCH/" + name + ".tmp", bytes));
    EXPECT_EQ(std::rename((search + name + ".tmp").c_str(), (search + name).c_str()), 0);
    HitFileView hits =
        WaitForHitFile(search + name, search + name.substr(0, name.size() - 3) + "HIT");
    EXPECT_TRUE(hits.complete) << server.Output();
    return hits;
  };

  ShortSearchRequest short_form;
  short_form.first_term = "harbour";
  HitFileView hits = answer("S1.REQ", EncodeShortSearchRequest(short_form).value());
  EXPECT_EQ(hits.found, 2u);
  EXPECT_THAT(hits.keys(), testing::UnorderedElementsAre("01a.jpg", "012024\\b.jpg"));

  QueryRequest query;
  query.query_text = "xlastword";
  query.sort_order = 2;
  EXPECT_EQ(answer("Q1.QRY", EncodeQueryRequest(query).value()).records.size(), 3u);

  short_form.first_term = "nothingmatches";
  HitFileView none = answer("S2.REQ", EncodeShortSearchRequest(short_form).value());
  EXPECT_EQ(none.count, 0u);
  EXPECT_EQ(none.bytes.size(), 408u);

  // The command-line client, as a script would use it.
  const std::string command = std::string(VANTRELCTL_BINARY) + " --dir " + dir_.Path("start") +
                              " search " + dir_.Path("index") + " harbour 2>/dev/null";
  FILE* out = ::popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string printed;
  char buffer[512];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, out)) printed.append(buffer, n);
  EXPECT_EQ(WEXITSTATUS(::pclose(out)), 0) << printed << server.Output();
  EXPECT_NE(printed.find("01a.jpg"), std::string::npos) << printed;
  EXPECT_NE(printed.find(dir_.Path("images/a.jpg")), std::string::npos) << printed;

  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitExit(), 0) << server.Output();
  // The search figures were saved with the configuration.
  NullVolumeNamer namer;
  ConfigLoad load =
      LoadConfiguration(*fs, dir_.Path("start/") + names::kConfigurationFile, namer);
  ASSERT_TRUE(load.status.ok());
  EXPECT_EQ(load.config.indexes[0].statistics.searches, 4u);
  EXPECT_EQ(load.config.indexes[0].statistics.hits, 7u);
}

}  // namespace
}  // namespace vantrel
