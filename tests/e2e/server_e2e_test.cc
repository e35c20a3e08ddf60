// Whole-server tests: the real vantrel binary in a temporary start directory.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/config_file.h"
#include "core/file_names.h"
#include "core/text_table.h"
#include "platform/ini_file.h"
#include "support/temp_dir.h"
#include "server_process.h"

namespace vantrel {
namespace {

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeOneIndexStart(dir_));
  }
  std::string ConfigPath() { return dir_.Path("start/") + names::kConfigurationFile; }

  TempDir dir_;
};

bool EndsWithLine(const std::vector<std::string>& lines, const std::string& message) {
  for (const auto& l : lines) {
    if (l.size() >= message.size() && l.compare(l.size() - message.size(), message.size(),
                                                 message) == 0) {
      return true;
    }
  }
  return false;
}

TEST_F(ServerTest, ServesWatchesAndSavesItsEventsOnSigterm) {
  ServerProcess server(dir_.Path("start"), {"--no-console", "--verbose"}, dir_.Path("server.log"));
  ASSERT_TRUE(server.WaitForOutput("Database Process Ready for Search")) << server.Output();

  // The index tree, with the status file gone once the watches are armed.
  FileSystem* fs = DefaultFileSystem();
  for (const char* folder : {"index/OffLine", "index/VT_DATA/VT_INDEX", "index/VT_DATA/VT_LISTS",
                             "index/VT_SEARCH"}) {
    EXPECT_TRUE(fs->IsFolder(dir_.Path(folder))) << folder;
  }
  EXPECT_FALSE(fs->Exists(dir_.Path("index/VT_SEARCH/VTSTATUS")));

  // Every key of the text table was written into the settings file.
  std::string ini = fs->ReadFile(dir_.Path("start/VANTREL.INI")).value();
  IniDocument doc = IniDocument::Parse(ini);
  size_t missing = 0;
  for (size_t i = 0; i < kTextCount; ++i) {
    if (!doc.Get(kTextSection, EntryOf(static_cast<TextId>(i)).key)) ++missing;
  }
  EXPECT_EQ(missing, 0u);

  // A new picture and a request file are noticed at once.
  ASSERT_TRUE(dir_.WriteFile("images/2024/new.jpg", "jpeg"));
  EXPECT_TRUE(server.WaitForOutput("folder 01 action 1: 2024\\new.jpg")) << server.Output();
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/C0FFEE.REQ", "request"));
  EXPECT_TRUE(server.WaitForOutput("request index 0: C0FFEE.REQ")) << server.Output();

  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitExit(), 0) << server.Output();

  // The event list is in the saved configuration, oldest first.
  NullVolumeNamer namer;
  ConfigLoad load = LoadConfiguration(*fs, ConfigPath(), namer);
  ASSERT_TRUE(load.status.ok());
  const auto& lines = load.config.event_lines;
  EXPECT_TRUE(EndsWithLine(lines, "  Vantrel Started"));
  EXPECT_TRUE(EndsWithLine(lines, "  Database Process Ready for Search"));
  EXPECT_TRUE(EndsWithLine(lines, "  Database Process Task Stopped"));
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(EndsWithLine({lines.back()}, "  Vantrel Terminating"));
  // The uncut lists were written for the next start.
  EXPECT_TRUE(fs->Exists(dir_.Path("index/VT_DATA/VT_LISTS/VT_FULLLISTS/TIMELIST")));
}

TEST_F(ServerTest, OneServerPerStartDirectoryUnlessRelaunched) {
  ServerProcess first(dir_.Path("start"), {"--console", "127.0.0.1:18470"}, dir_.Path("1.log"));
  ASSERT_TRUE(first.WaitForOutput("Vantrel Started")) << first.Output();

  ServerProcess second(dir_.Path("start"), {"--no-console"}, dir_.Path("2.log"));
  EXPECT_EQ(second.WaitExit(), 0);
  EXPECT_NE(second.Output().find("already running"), std::string::npos) << second.Output();
  EXPECT_NE(second.Output().find("127.0.0.1:18470"), std::string::npos) << second.Output();

  // A switch in lower case counts as no switch.
  ServerProcess lower(dir_.Path("start"), {"-vs", "--no-console"}, dir_.Path("3.log"));
  EXPECT_EQ(lower.WaitExit(), 0);
  EXPECT_NE(lower.Output().find("already running"), std::string::npos);

  // "-VS" starts regardless.
  ServerProcess relaunched(dir_.Path("start"), {"-VS", "--no-console"}, dir_.Path("4.log"));
  EXPECT_TRUE(relaunched.WaitForOutput("Vantrel Started")) << relaunched.Output();
  relaunched.Signal(SIGINT);
  EXPECT_EQ(relaunched.WaitExit(), 0);
  first.Signal(SIGINT);
  EXPECT_EQ(first.WaitExit(), 0);
}

TEST_F(ServerTest, HelpAndBadOptions) {
  ServerProcess help(dir_.Path("start"), {"--help"}, dir_.Path("h.log"));
  EXPECT_EQ(help.WaitExit(), 0);
  EXPECT_NE(help.Output().find("Usage: vantrel"), std::string::npos);
  ServerProcess bad(dir_.Path("start"), {"--frobnicate"}, dir_.Path("b.log"));
  EXPECT_EQ(bad.WaitExit(), 2);
  EXPECT_NE(bad.Output().find("unknown option --frobnicate"), std::string::npos);
}

}  // namespace
}  // namespace vantrel
