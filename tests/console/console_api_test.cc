#include "console/console_api.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "console/console_api_search.h"
#include "console/console_fixture.h"
#include "core/text_table.h"
#include "metadata/metadata_switches.h"
#include "search/search_statistics.h"
#include "server/progress_board.h"

namespace vantrel {
namespace {

using ConsoleApi = ConsoleFixture;

bool Eventually(const std::function<bool()>& pred) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}

TEST_F(ConsoleApi, EditModeStopsTheTaskAndTurningItOffSavesAndStartsItAgain) {
  ASSERT_TRUE(Eventually([&] { return task_->serving(); }));
  EditOn(a_);
  EXPECT_TRUE(control_->paused());
  EXPECT_EQ(task_->shutdown_state(), 2);
  ASSERT_TRUE(dir_.MakeFolder("more"));
  ApiReply added = ChangeImageFolder(
      ctx_, a_, Json{{"action", "add"}, {"index", 1}, {"path", dir_.Path("more")}});
  ASSERT_EQ(added.status, 200) << added.body.dump();
  EXPECT_EQ(GetImageFolder(Saved(), 0, 2)->path, dir_.Path("more"));  // saved at once

  EXPECT_EQ(SetEditMode(ctx_, b_, Json{{"on", false}}).status, 409);  // not b's to end
  ASSERT_EQ(SetEditMode(ctx_, a_, Json{{"on", false}}).status, 200);
  EXPECT_FALSE(control_->paused());
  EXPECT_TRUE(Eventually([&] { return task_->serving(); }));
}

TEST_F(ConsoleApi, ChangesNeedTheEditSessionAndChangeNothingOtherwise) {
  const Json add{{"action", "add"}, {"index", 1}, {"path", dir_.Path("images")}};
  EXPECT_EQ(ChangeImageFolder(ctx_, a_, add).status, 403);
  EditOn(a_);
  ApiReply other = ChangeIndex(ctx_, b_, Json{{"action", "rename"}, {"index", 1}, {"name", "X"}});
  EXPECT_EQ(other.status, 409);
  EXPECT_NE(other.body["error"].get<std::string>().find("127.0.0.1"), std::string::npos);
  EXPECT_EQ(SetEditMode(ctx_, b_, Json{{"on", true}}).status, 409);
  EXPECT_EQ(console_->Copy().indexes[0].name, "Demo");
}

TEST_F(ConsoleApi, ImageFoldersAreCheckedAsTheDialogsCheckThem) {
  EditOn(a_);
  const Configuration before = console_->Copy();
  struct Case {
    Json body;
    int status;
    std::string says;
  };
  const Case cases[] = {
      // The folder that holds the index folder.
      {{{"action", "add"}, {"index", 1}, {"path", dir_.path()}}, 422, Text(TextId::IDS_BADNESTED)},
      {{{"action", "add"}, {"index", 1}, {"path", dir_.Path("missing")}}, 422, "not an existing"},
      {{{"action", "add"}, {"index", 1}, {"path", "relative/path"}}, 422, "absolute"},
      {{{"action", "add"}, {"index", 9}, {"path", dir_.Path("images")}}, 404, "no such index"},
      {{{"action", "add"}, {"index", "1"}, {"path", dir_.Path("images")}}, 400, "index"},
      {{{"action", "remove"}, {"index", 1}, {"folder", 7}}, 404, "no such image folder"},
      {{{"action", "explode"}, {"index", 1}, {"folder", 1}}, 400, "unknown action"},
  };
  for (const Case& c : cases) {
    ApiReply r = ChangeImageFolder(ctx_, a_, c.body);
    EXPECT_EQ(r.status, c.status) << c.body.dump();
    EXPECT_NE(r.body["error"].get<std::string>().find(c.says), std::string::npos)
        << r.body.dump();
  }
  EXPECT_EQ(console_->Copy(), before);
}

TEST_F(ConsoleApi, AtMost32ImageFoldersAnd32Indexes) {
  EditOn(a_);
  for (int i = 2; i < 32; ++i) {
    ASSERT_TRUE(dir_.MakeFolder("images/f" + std::to_string(i)));
    const Json add{{"action", "add"}, {"index", 1}, {"path", dir_.Path("images/f" + std::to_string(i))}};
    ASSERT_EQ(ChangeImageFolder(ctx_, a_, add).status, 200) << i;
  }
  ASSERT_TRUE(dir_.MakeFolder("images/last"));
  ApiReply full = ChangeImageFolder(
      ctx_, a_, Json{{"action", "add"}, {"index", 1}, {"path", dir_.Path("images/last")}});
  EXPECT_EQ(full.status, 409);
  EXPECT_EQ(CountImageFolders(console_->Copy(), 0), 32);

  // A long name is cut to its slot; the 33rd index is refused.
  for (int i = 1; i < 32; ++i) {
    ASSERT_TRUE(dir_.MakeFolder("ix" + std::to_string(i)));
    const Json add{{"action", "new"},
                   {"name", std::string(40, 'n')},
                   {"folder", dir_.Path("ix" + std::to_string(i))}};
    ASSERT_EQ(ChangeIndex(ctx_, a_, add).status, 200) << i;
  }
  EXPECT_EQ(console_->Copy().indexes[1].name, std::string(kMaxIndexNameLength, 'n'));
  ASSERT_TRUE(dir_.MakeFolder("ix32"));
  EXPECT_EQ(ChangeIndex(ctx_, a_, Json{{"action", "new"}, {"name", "x"}, {"folder", dir_.Path("ix32")}})
                .status,
            409);
  EXPECT_EQ(IndexCount(Saved()), 32);
}

TEST_F(ConsoleApi, OptionsKeepTheirRangesAndTheThresholdTakesOnlyNumbers) {
  EditOn(a_);
  auto set = [&](Json body) {
    body["index"] = 1;
    return SetIndexOptions(ctx_, a_, body).status;
  };
  EXPECT_EQ(set({{"optimize_hour", 24}}), 200);
  EXPECT_EQ(set({{"optimize_hour", 25}}), 422);
  EXPECT_EQ(set({{"space_limit_mb", 5}}), 200);
  EXPECT_EQ(set({{"space_limit_mb", 4}}), 422);
  EXPECT_EQ(set({{"browse_limit", 2250}}), 422);  // the file keeps multiples of 1000
  EXPECT_EQ(set({{"unused_threshold", "12"}}), 200);
  EXPECT_EQ(set({{"unused_threshold", "12a"}}), 200);  // ignored, as the field ignores it
  EXPECT_EQ(set({{"unused_threshold", " 7"}}), 200);
  const Configuration saved = Saved();
  const IndexDefinition& d = saved.indexes[0];
  EXPECT_EQ(d.optimize_hour, 24u);
  EXPECT_EQ(d.space_limit_mb, 5u);
  EXPECT_EQ(d.browse_limit, 10000u);
  EXPECT_EQ(d.unused_threshold, 12);
}

TEST_F(ConsoleApi, PdfSizesBelow100AreRefusedWithTheOldValue) {
  EditOn(a_);
  ASSERT_EQ(SetPdfOptions(ctx_, a_, Json{{"thumbnail_size", 150}}).status, 200);
  ApiReply r = SetPdfOptions(ctx_, a_, Json{{"thumbnail_size", 99}, {"preview_size", 500}});
  EXPECT_EQ(r.status, 422);
  EXPECT_NE(r.body["error"].get<std::string>().find("stays 150"), std::string::npos);
  EXPECT_EQ(Saved().pdf.thumbnail_size, 150u);
  EXPECT_EQ(Saved().pdf.preview_size, 800u);  // nothing of a refused request is kept
}

TEST_F(ConsoleApi, PasswordsAreCutMaskedFromOutputAndCheckedWhenEditTurnsOn) {
  EditOn(a_);
  EXPECT_EQ(ChangePassword(ctx_, a_, Json{{"new", "one"}, {"confirm", "two"}}).status, 422);
  const std::string typed = "abcdefghijklmnopqrst";
  ASSERT_EQ(ChangePassword(ctx_, a_, Json{{"new", typed}, {"confirm", typed}}).status, 200);
  EXPECT_EQ(Saved().edit_password, "abcdefghijklmno");
  EXPECT_EQ(ChangePassword(ctx_, a_, Json{{"old", "bad"}, {"new", "x"}, {"confirm", "x"}}).status,
            403);
  ASSERT_EQ(SetEditMode(ctx_, a_, Json{{"on", false}}).status, 200);

  // The wrong old password above was the first of five.
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(SetEditMode(ctx_, b_, Json{{"on", true}, {"password", "guess"}}).status, 403);
  }
  EXPECT_EQ(SetEditMode(ctx_, b_, Json{{"on", true}, {"password", typed}}).status, 429);
  steady_ += kPasswordLockSeconds;
  EditOn(b_, typed);  // the same 20 characters match the 15 kept

  const std::string everything = GetConfig(ctx_).body.dump() + GetStatus(ctx_, a_).body.dump() +
                                 GetEvents(ctx_, 0).body.dump() + GetSession(ctx_, b_).body.dump();
  EXPECT_EQ(everything.find("abcdefghijklmno"), std::string::npos);
  EXPECT_EQ(everything.find("guess"), std::string::npos);
  EXPECT_EQ(everything.find(b_.session.id), std::string::npos);
  EXPECT_NE(GetEvents(ctx_, 0).body.dump().find("locked for a minute"), std::string::npos);
}

TEST_F(ConsoleApi, TaskRequestsLogOptionsAndClearsReachTheirTargets) {
  ASSERT_EQ(RequestTask(ctx_, Json{{"task", "rebuild"}, {"index", 2}}).status, 200);
  ASSERT_EQ(RequestTask(ctx_, Json{{"task", "rescan"}}).status, 200);
  EXPECT_EQ(RequestTask(ctx_, Json{{"task", "format"}}).status, 400);
  EXPECT_EQ(RequestTask(ctx_, Json{{"task", "optimize"}, {"index", 0}}).status, 400);
  ASSERT_EQ(SetLogOptions(ctx_, Json{{"searches", true}}).status, 200);
  std::optional<TaskRequest> r1 = requests_.Pop(), r2 = requests_.Pop(), r3 = requests_.Pop();
  ASSERT_TRUE(r1 && r2 && r3);
  EXPECT_EQ(r1->code, kRequestRebuild);
  EXPECT_EQ(r1->index, 1);
  EXPECT_EQ(r2->code, kRequestRescan);
  EXPECT_EQ(r2->index, -1);
  EXPECT_EQ(r3->code, kRequestLogOptions);
  EXPECT_EQ(r3->argument, kDefaultLogFlags | kLogSearches);
  EXPECT_FALSE(requests_.Pop());
  EXPECT_EQ(Saved().log_flags, kDefaultLogFlags | kLogSearches);

  console_->Update([](Configuration& c) { c.indexes[0].statistics.searches = 9; });
  EXPECT_EQ(ClearStatistics(ctx_, Json{{"index", 2}}).status, 404);
  ASSERT_EQ(ClearStatistics(ctx_, Json{{"index", 1}}).status, 200);
  EXPECT_EQ(Saved().indexes[0].statistics.searches, 0u);

  const uint64_t cleared = state_->Snapshot().events_cleared;
  ASSERT_EQ(ClearEvents(ctx_).status, 200);
  EXPECT_EQ(state_->Snapshot().events_cleared, cleared + 1);
  state_->AddEvent("after the clear");
  Json lines = GetEvents(ctx_, 0).body["lines"];
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].get<std::string>().find("after the clear"), std::string::npos);
}

// Without an edit password any session may choose a folder (the Log File
// dialog outside edit mode); with one, only the edit session.
TEST_F(ConsoleApi, TheFolderChooserListsFoldersWithoutLinksAndCreatesOnlyPlainNames) {
  ASSERT_TRUE(dir_.MakeFolder("images/b"));
  ASSERT_TRUE(dir_.MakeFolder("images/a"));
  ASSERT_TRUE(dir_.WriteFile("images/file.jpg", "x"));
  ASSERT_EQ(symlink(dir_.Path("index").c_str(), dir_.Path("images/link").c_str()), 0);
  const Json make{{"parent", dir_.Path("images")}, {"name", "new"}};
  EXPECT_EQ(ListServerFolder(ctx_, b_, {{"path", dir_.Path("images")}}).status, 200);
  console_->Update([](Configuration& c) { c.edit_password = "secret"; });
  EXPECT_EQ(ListServerFolder(ctx_, a_, {{"path", dir_.Path("images")}}).status, 403);
  EXPECT_EQ(CreateServerFolder(ctx_, a_, make).status, 403);  // both need edit mode
  EditOn(a_, "secret");
  ApiReply listed = ListServerFolder(ctx_, a_, {{"path", dir_.Path("images")}});
  ASSERT_EQ(listed.status, 200);
  EXPECT_EQ(listed.body["folders"], Json({"a", "b"}));
  EXPECT_EQ(listed.body["parent"], dir_.path());
  EXPECT_EQ(ListServerFolder(ctx_, b_, {{"path", dir_.Path("images")}}).status, 403);

  for (const char* bad : {"..", "a/b", ""}) {
    EXPECT_EQ(CreateServerFolder(ctx_, a_, Json{{"parent", dir_.Path("images")}, {"name", bad}})
                  .status,
              422)
        << bad;
  }
  ASSERT_EQ(CreateServerFolder(ctx_, a_, make).status, 200);
  EXPECT_TRUE(fs_->IsFolder(dir_.Path("images/new")));
}

TEST_F(ConsoleApi, InspectReadsOnlyFilesOfTheIndexReachedWithoutLinks) {
  ASSERT_TRUE(dir_.WriteFile("images/real/pic.jpg", "not really a picture"));
  ASSERT_TRUE(dir_.WriteFile("index/pic.jpg", "outside the image folders"));
  ASSERT_EQ(symlink(dir_.Path("index").c_str(), dir_.Path("images/linked").c_str()), 0);
  ApiReply real = InspectHit(ctx_, {{"index", "1"}, {"key", "01real\\pic.jpg"}});
  ASSERT_EQ(real.status, 200) << real.body.dump();
  EXPECT_NE(real.body["text"].get<std::string>().find("File: " + dir_.Path("images/real/pic.jpg")),
            std::string::npos);
  EXPECT_EQ(InspectHit(ctx_, {{"index", "1"}, {"key", "01linked\\pic.jpg"}}).status, 404);
  EXPECT_EQ(InspectHit(ctx_, {{"index", "1"}, {"key", "07real\\pic.jpg"}}).status, 404);
  EXPECT_EQ(InspectHit(ctx_, {{"index", "1"}, {"key", "ab"}}).status, 400);
}

// The metadata switches are read always and written only in edit mode, by
// the names vantrelctl uses; a malformed member changes nothing.
TEST_F(ConsoleApi, MetadataSwitchesRoundTripThroughTheOptions) {
  const Json all_on{{"xmp", true}, {"charset", true}, {"dimensions", true}, {"dates", true}};
  EXPECT_EQ(GetConfig(ctx_).body["indexes"][0]["options"]["metadata"], all_on);
  const Json off{{"index", 1}, {"metadata", {{"xmp", false}, {"dates", false}}}};
  EXPECT_EQ(SetIndexOptions(ctx_, a_, off).status, 403);
  EditOn(a_);
  for (const Json& bad : {Json{{"index", 1}, {"metadata", {{"xmp", 0}}}},
                          Json{{"index", 1}, {"metadata", {{"exif", false}}}},
                          Json{{"index", 1}, {"metadata", true}},
                          Json{{"index", 1}, {"metadata", {{"dates", false}, {"xmp", "no"}}}}}) {
    EXPECT_EQ(SetIndexOptions(ctx_, a_, bad).status, 422) << bad.dump();
  }
  EXPECT_EQ(Saved().indexes[0].metadata_switches, 0u);
  ASSERT_EQ(SetIndexOptions(ctx_, a_, off).status, 200);
  EXPECT_EQ(Saved().indexes[0].metadata_switches,
            MetadataSwitches::kXmpOff | MetadataSwitches::kCaptureDateOff);
  // Switching one on leaves the others as they are.
  ASSERT_EQ(SetIndexOptions(ctx_, a_, Json{{"index", 1}, {"metadata", {{"xmp", true}}}}).status, 200);
  EXPECT_EQ(Saved().indexes[0].metadata_switches, MetadataSwitches::kCaptureDateOff);
  EXPECT_EQ(GetConfig(ctx_).body["indexes"][0]["options"]["metadata"],
            Json({{"xmp", true}, {"charset", true}, {"dimensions", true}, {"dates", false}}));
}

// Exit asks the thumbnail question when jobs are queued: the count comes
// from the running task, and No stops at once although the stop would
// otherwise wait a minute for the (here never made) thumbnails.
TEST_F(ConsoleApi, ExitTellsTheQueuedThumbnailsAndTheAnswerReachesTheStop) {
  ASSERT_TRUE(Eventually([&] { return task_->serving(); }));
  EXPECT_EQ(GetExitQuestion(ctx_).body["thumbnails_queued"], 0);
  TaskContext& task = *task_->context_for_testing();
  for (const char* key : {"01a.pdf", "01b.pdf"}) {
    ASSERT_TRUE(task.Locked(-1, &task.thumbnail_queue).Add(key, 1, 1, 0).ok());
  }
  EXPECT_EQ(GetExitQuestion(ctx_).body["thumbnails_queued"], 2);

  EXPECT_EQ(RequestExit(ctx_, Json{{"wait_for_thumbnails", "no"}}).status, 400);
  EXPECT_FALSE(signals_->Wait(std::chrono::milliseconds(0)).has_value());  // refused: no stop
  ASSERT_EQ(RequestExit(ctx_, Json{{"wait_for_thumbnails", false}}).status, 200);
  EXPECT_TRUE(signals_->Wait(std::chrono::milliseconds(0)).has_value());
  task_->RequestStop();  // what the server does on the stop request
  EXPECT_TRUE(task_->WaitFinished(std::chrono::milliseconds(20000)));
  EXPECT_TRUE(Eventually([&] {
    const Json lines = GetEvents(ctx_, 0).body["lines"];
    for (const Json& line : lines) {
      if (line.get<std::string>().find("2 queued PDF thumbnail jobs are dropped by the stop") != std::string::npos) {
        return true;
      }
    }
    return false;
  }));
}

TEST_F(ConsoleApi, ASearchWhileTheIndexIsPreparedEndsAtOnceWithWhatToDo) {
  const std::string search_folder = MadeSearchFolder();
  const std::string status_file = search_folder + "/" + names::kStatusFile;
  const ApiParams search{{"index", "1"}, {"q", "harbour"}};
  auto requests_waiting = [&] { return RequestsWaitingIn(search_folder); };

  // Being prepared already: refused at once, nothing left behind.
  ASSERT_TRUE(fs_->WriteFile(status_file, std::string("\0\0\0\1", 4)).ok());
  ApiReply refused = SearchFromConsole(ctx_, search);
  EXPECT_EQ(refused.status, 503);
  EXPECT_NE(refused.body.dump().find("being prepared"), std::string::npos) << refused.body.dump();
  EXPECT_EQ(requests_waiting(), 0u);
  ASSERT_TRUE(fs_->DeleteFile(status_file).ok());

  // Prepared while the request waits (this task answers none): the task
  // empties the folder, so the search ends instead of waiting its 30 s out.
  ApiReply waited;
  std::thread searcher([&] { waited = SearchFromConsole(ctx_, search); });
  ASSERT_TRUE(Eventually([&] { return requests_waiting() == 1; }));
  ASSERT_TRUE(fs_->WriteFile(status_file, std::string("\0\0\0\1", 4)).ok());
  searcher.join();
  EXPECT_EQ(waited.status, 503) << waited.body.dump();
  EXPECT_NE(waited.body.dump().find("being prepared"), std::string::npos) << waited.body.dump();
  EXPECT_EQ(requests_waiting(), 0u);
}

TEST_F(ConsoleApi, StatusAndStatisticsShowTheTextTableLines) {
  state_->OnStatus(StatusMessage::Number(kStatusOperation, 0));
  state_->OnStatus(StatusMessage::Text(kStatusFileIndexed, "/img/a.jpg"));
  Json status = GetStatus(ctx_, a_).body;
  EXPECT_EQ(status["activity"][0]["label"], Text(TextId::IDS_ACTIVITY));
  EXPECT_EQ(status["activity"][0]["value"], Text(TextId::IDS_LINELABEL11));
  EXPECT_EQ(status["activity"][2]["value"], "/img/a.jpg");
  EXPECT_EQ(status["totals"].size(), 3u);
  Json stats = GetStatistics(ctx_).body;
  ASSERT_EQ(stats["indexes"].size(), 1u);
  EXPECT_EQ(stats["indexes"][0]["title"], StatisticsTitle("Demo"));
  EXPECT_EQ(stats["indexes"][0]["lines"][2]["value"],
            SearchLoadLine(ComputeSearchLoad(SearchStatistics{})));
}

class FakeProgress : public ProgressSource {
 public:
  std::vector<ProgressView> Running() override { return views; }
  std::vector<ProgressView> views;
};

TEST_F(ConsoleApi, ProgressNamesTheWorkAndLeavesUnknownFiguresNull) {
  EXPECT_EQ(GetProgress(ctx_).body, (Json{{"running", Json::array()}})) << "no source";
  FakeProgress fake;
  ctx_.host.progress = &fake;
  fake.views = {ProgressView{0, WorkKind::kRebuild, 1234, kWorkTotalUnknown, 0, -1, 1700000000},
                ProgressView{5, WorkKind::kCatchUp, 12345, 20000, 2400.04, 4, 1700000100}};
  Json running = GetProgress(ctx_).body["running"];
  ASSERT_EQ(running.size(), 2u);
  EXPECT_EQ(running[0], (Json{{"index", 1},
                              {"name", "Demo"},
                              {"operation", "rebuild"},
                              {"done", 1234},
                              {"total", nullptr},
                              {"rate", 0.0},
                              {"seconds_left", nullptr},
                              {"started", 1700000000}}));
  EXPECT_EQ(running[1]["index"], 6);
  EXPECT_EQ(running[1]["name"], "") << "an index the console's copy does not hold yet";
  EXPECT_EQ(running[1]["operation"], "catch-up");
  EXPECT_EQ(running[1]["total"], 20000);
  EXPECT_DOUBLE_EQ(running[1]["rate"].get<double>(), 2400.0);
  EXPECT_EQ(running[1]["seconds_left"], 4);
  fake.views[0].kind = WorkKind::kRescan;
  EXPECT_EQ(GetProgress(ctx_).body["running"][0]["operation"], "rescan");
}

}  // namespace
}  // namespace vantrel
