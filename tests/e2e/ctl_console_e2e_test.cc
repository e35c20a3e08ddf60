// vantrelctl against a running server: its changes go through the server's
// console, reach the running server, are in the saved file after the stop,
// and are refused while another console session holds edit mode.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <memory>
#include <string>

#include "core/config_file.h"
#include "core/file_names.h"
#include "metadata/metadata_switches.h"
#include "platform/instance_lock.h"
#include "server_process.h"
#include "support/eventually.h"
#include "support/temp_dir.h"
#include "tools/ctl_console_client.h"

namespace vantrel {
namespace {

// An optimize hour twelve hours away from now, so the server does not start
// its nightly optimization in the middle of the test.
unsigned HourAwayFromNow() {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return static_cast<unsigned>((local.tm_hour + 12) % 24);
}

using nlohmann::json;

struct CtlResult {
  int status = -1;
  std::string output;  // standard output and error
};

// Runs vantrelctl in `start` with standard input that is not a terminal.
CtlResult RunCtl(const std::string& start, const std::string& args) {
  const std::string command =
      std::string(VANTRELCTL_BINARY) + " --dir " + start + " " + args + " </dev/null 2>&1";
  CtlResult result;
  FILE* out = ::popen(command.c_str(), "r");
  if (out == nullptr) return result;
  char buffer[512];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, out)) result.output.append(buffer, n);
  int status = ::pclose(out);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The console address the running server wrote into its lock file.
std::string ConsoleUrlIn(const std::string& start) {
  StatusOr<std::string> owner = InstanceLock::ReadOwnerInfo(start + "/" + names::kInstanceLockFile);
  if (!owner.ok() || owner->rfind("console http://", 0) != 0) return "";
  std::string url = owner->substr(8);
  return url.ends_with(":0") ? "" : url;
}

std::vector<std::string> FolderPaths(ConsoleClient& client) {
  std::vector<std::string> paths;
  ConsoleAnswer config = client.Get("/api/config");
  if (!config.ok() || config.body["indexes"].empty()) return paths;
  for (const json& f : config.body["indexes"][0]["folders"]) paths.push_back(f["path"]);
  return paths;
}

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

class CtlConsoleE2eTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(CtlConsoleE2eTest, ChangesGoThroughTheRunningServersConsole) {
  ASSERT_TRUE(MakeOneIndexStart(dir_));
  ASSERT_TRUE(dir_.MakeFolder("more") && dir_.MakeFolder("refused"));
  const std::string start = dir_.Path("start");
  ServerProcess server(start, {"--console", "127.0.0.1:0"}, dir_.Path("server.log"));
  std::string url;
  ASSERT_TRUE(
      Eventually([&] { return !(url = ConsoleUrlIn(start)).empty(); }, std::chrono::seconds(120)))
      << server.Output();

  // An image folder added from the shell reaches the running server.
  CtlResult added = RunCtl(start, "folder add 0 " + dir_.Path("more"));
  ASSERT_EQ(added.status, 0) << added.output << server.Output();
  StatusOr<std::unique_ptr<ConsoleClient>> page = ConsoleClient::Open({url, "", 120});
  ASSERT_TRUE(page.ok()) << page.status().ToString();
  EXPECT_TRUE(Has(FolderPaths(**page), dir_.Path("more")));
  // vantrelctl gave edit mode back.
  EXPECT_FALSE((*page)->Get("/api/session").body["edit"]["on"].get<bool>());

  // Another session holds edit mode: vantrelctl says who and since when,
  // and changes nothing.
  ASSERT_TRUE((*page)->Post("/api/edit", json{{"on", true}}).ok());
  CtlResult refused = RunCtl(start, "folder add 0 " + dir_.Path("refused"));
  EXPECT_EQ(refused.status, 3) << refused.output;
  EXPECT_NE(refused.output.find("edit mode is held by session"), std::string::npos)
      << refused.output;
  EXPECT_NE(refused.output.find(" since "), std::string::npos) << refused.output;
  EXPECT_FALSE(Has(FolderPaths(**page), dir_.Path("refused")));
  EXPECT_TRUE((*page)->Get("/api/session").body["edit"]["mine"].get<bool>());
  ASSERT_TRUE((*page)->Post("/api/edit", json{{"on", false}}).ok());

  // With an edit password set, vantrelctl needs it: from a file, since
  // standard input is no terminal here; a wrong one changes nothing.
  ASSERT_TRUE((*page)->Post("/api/edit", json{{"on", true}}).ok());
  ASSERT_TRUE(
      (*page)->Post("/api/password", json{{"new", "harbour"}, {"confirm", "harbour"}}).ok());
  ASSERT_TRUE((*page)->Post("/api/edit", json{{"on", false}}).ok());
  ASSERT_TRUE(dir_.WriteFile("wrong.pw", "sea\n") && dir_.WriteFile("right.pw", "harbour\n"));
  const unsigned away = HourAwayFromNow();
  const std::string hour = std::to_string(away);
  CtlResult no_file = RunCtl(start, "index set 0 optimize-hour " + hour);
  EXPECT_EQ(no_file.status, 2) << no_file.output;
  EXPECT_NE(no_file.output.find("--password-file"), std::string::npos) << no_file.output;
  CtlResult wrong = RunCtl(
      start, "--password-file " + dir_.Path("wrong.pw") + " index set 0 optimize-hour " + hour);
  EXPECT_EQ(wrong.status, 3) << wrong.output;
  EXPECT_NE(wrong.output.find("wrong edit password"), std::string::npos) << wrong.output;
  CtlResult right = RunCtl(
      start, "--password-file " + dir_.Path("right.pw") + " index set 0 optimize-hour " + hour);
  EXPECT_EQ(right.status, 0) << right.output;
  EXPECT_EQ((*page)->Get("/api/config").body["indexes"][0]["options"]["optimize_hour"], away);
  CtlResult no_xmp =
      RunCtl(start, "--password-file " + dir_.Path("right.pw") + " index set 0 metadata xmp off");
  EXPECT_EQ(no_xmp.status, 0) << no_xmp.output;
  const json metadata = (*page)->Get("/api/config").body["indexes"][0]["options"]["metadata"];
  EXPECT_EQ(metadata["xmp"], false) << metadata.dump();
  EXPECT_EQ(metadata["dates"], true) << metadata.dump();

  // A task request lands in the event log.
  CtlResult rebuild = RunCtl(start, "task rebuild 0");
  EXPECT_EQ(rebuild.status, 0) << rebuild.output;
  EXPECT_TRUE(Eventually(
      [&] {
        ConsoleAnswer log = (*page)->Get("/api/log");
        return log.ok() &&
               log.body.dump().find("rebuild requested for index 1") != std::string::npos;
      },
      std::chrono::seconds(60)));

  server.Signal(SIGTERM);
  ASSERT_EQ(server.WaitExit(std::chrono::milliseconds(120000)), 0) << server.Output();
  NullVolumeNamer namer;
  ConfigLoad load =
      LoadConfiguration(*DefaultFileSystem(), start + "/" + names::kConfigurationFile, namer);
  ASSERT_TRUE(load.status.ok());
  std::vector<std::string> saved;
  for (const ImageFolderEntry& e : load.config.indexes[0].image_folders) saved.push_back(e.path);
  EXPECT_TRUE(Has(saved, dir_.Path("more")));
  EXPECT_FALSE(Has(saved, dir_.Path("refused")));
  EXPECT_EQ(load.config.indexes[0].optimize_hour, away);
  EXPECT_EQ(load.config.indexes[0].metadata_switches, MetadataSwitches::kXmpOff);

  // Without a server, a task is refused as a server action.
  CtlResult alone = RunCtl(start, "task rebuild");
  EXPECT_EQ(alone.status, 1) << alone.output;
  EXPECT_NE(alone.output.find("no Vantrel server runs"), std::string::npos) << alone.output;
}

}  // namespace
}  // namespace vantrel
