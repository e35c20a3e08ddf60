// Whole-server tests: the real vantrel binary in a temporary start directory.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
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

  // The index tree (its layout is the preparation's unit tests' to pin), with
  // the status file gone once the watches are armed; the settings file holds
  // the text table.
  FileSystem* fs = DefaultFileSystem();
  EXPECT_TRUE(fs->IsFolder(dir_.Path("index/VT_SEARCH")));
  EXPECT_FALSE(fs->Exists(dir_.Path("index/VT_SEARCH/VTSTATUS")));
  IniDocument doc = IniDocument::Parse(fs->ReadFile(dir_.Path("start/VANTREL.INI")).value());
  EXPECT_EQ(doc.Keys(kTextSection).size(), kTextCount);

  // Where the kernel gives huge pages only to memory that asks, the server
  // restarted itself in place with its allocator asking for them.
  StatusOr<std::string> thp = fs->ReadFile("/sys/kernel/mm/transparent_hugepage/enabled");
  if (thp.ok() && thp->find("[madvise]") != std::string::npos &&
      getenv("GLIBC_TUNABLES") == nullptr) {
    StatusOr<std::string> environment =
        fs->ReadFile("/proc/" + std::to_string(server.pid()) + "/environ");
    ASSERT_TRUE(environment.ok());
    EXPECT_NE(environment->find(std::string("GLIBC_TUNABLES=glibc.malloc.hugetlb=1\0", 38)),
              std::string::npos);
  }

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

TEST_F(ServerTest, HangupStopsCleanlyWhileUserSignalsAndAGoneReaderAreIgnored) {
  ServerProcess server(dir_.Path("start"), {"--no-console", "--verbose"}, ServerProcess::Options{});
  ASSERT_TRUE(server.WaitForOutput("Database Process Ready for Search", milliseconds(20000)))
      << server.Output();
  // SIGUSR1 and SIGUSR2 used to end the server on the spot; a request handled
  // after them shows it still serves.
  server.Signal(SIGUSR1);
  server.Signal(SIGUSR2);
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/BEEF.REQ", "request"));
  ASSERT_TRUE(server.WaitForOutput("request index 0: BEEF.REQ", milliseconds(20000)))
      << server.Output();
  // The reader goes away; the stop's messages then meet a broken pipe.
  server.CloseOutput();
  server.Signal(SIGHUP);
  EXPECT_EQ(server.WaitExit(), 0);

  NullVolumeNamer namer;
  ConfigLoad load = LoadConfiguration(*DefaultFileSystem(), ConfigPath(), namer);
  ASSERT_TRUE(load.status.ok());
  ASSERT_FALSE(load.config.event_lines.empty());
  EXPECT_TRUE(EndsWithLine({load.config.event_lines.back()}, "  Vantrel Terminating"));
}

TEST_F(ServerTest, DamagedConfigurationsAreEachKeptUnderTheirOwnName) {
  FileSystem* fs = DefaultFileSystem();
  const std::vector<std::string> damaged = {"first damaged file", "second damaged file"};
  for (size_t run = 0; run < damaged.size(); ++run) {
    ASSERT_TRUE(dir_.WriteFile("start/" + std::string(names::kConfigurationFile), damaged[run]));
    ServerProcess server(dir_.Path("start"), {"--no-console"},
                         dir_.Path("d" + std::to_string(run) + ".log"));
    ASSERT_TRUE(server.WaitForOutput("Vantrel Started")) << server.Output();
    EXPECT_NE(server.Output().find("damaged configuration data file is kept as " + ConfigPath() +
                                   ".damaged-"),
              std::string::npos)
        << server.Output();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(), 0);
  }
  std::vector<std::string> kept;
  const std::vector<FolderEntry> entries = fs->ListFolder(dir_.Path("start")).value();
  for (const FolderEntry& e : entries) {
    if (e.name.find(".damaged-") != std::string::npos) {
      kept.push_back(fs->ReadFile(dir_.Path("start/") + e.name).value());
    }
  }
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, damaged);
}

TEST_F(ServerTest, ConfigurationEditedWhileRunningIsNotUndone) {
  ServerProcess server(dir_.Path("start"), {"--no-console"}, dir_.Path("s.log"));
  ASSERT_TRUE(server.WaitForOutput("Database Process Ready for Search")) << server.Output();
  // The operator's edit, made while the server runs.
  FileSystem* fs = DefaultFileSystem();
  NullVolumeNamer namer;
  Configuration edited = LoadConfiguration(*fs, ConfigPath(), namer).config;
  ASSERT_TRUE(SetEditPassword(&edited, "new password").ok());
  ASSERT_TRUE(SaveConfiguration(*fs, edited, ConfigPath()).ok());
  const std::string edited_bytes = fs->ReadFile(ConfigPath()).value();

  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitExit(), 0);
  EXPECT_EQ(fs->ReadFile(ConfigPath()).value(), edited_bytes);
  const std::string side_prefix = std::string(names::kConfigurationFile) + ".unsaved-";
  std::string side;
  const std::vector<FolderEntry> entries = fs->ListFolder(dir_.Path("start")).value();
  for (const FolderEntry& e : entries) {
    if (e.name.rfind(side_prefix, 0) == 0) side = dir_.Path("start/") + e.name;
  }
  ASSERT_FALSE(side.empty()) << server.Output();
  EXPECT_NE(server.Output().find("The configuration is saved as " + side), std::string::npos)
      << server.Output();
  ConfigLoad saved = LoadConfiguration(*fs, side, namer);
  ASSERT_TRUE(saved.status.ok());
  EXPECT_TRUE(EndsWithLine(saved.config.event_lines, "  Vantrel Terminating"));
}

TEST_F(ServerTest, UnreadableConfigurationStopsTheStartAndStaysUntouched) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the server as another user";
  const std::string before = DefaultFileSystem()->ReadFile(ConfigPath()).value();
  // The operator's file stays root's, mode 0600; the server runs as nobody.
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir_.Path("start").c_str(), 0777), 0);
  ServerProcess server(dir_.Path("start"), {"--no-console"},
                       ServerProcess::Options{dir_.Path("nobody.log"), 65534});
  EXPECT_EQ(server.WaitExit(), 1) << server.Output();
  const std::string output = server.Output();
  EXPECT_NE(output.find("cannot read the configuration data file"), std::string::npos) << output;
  EXPECT_NE(output.find("does not start"), std::string::npos) << output;
  struct stat st;
  ASSERT_EQ(stat(ConfigPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(DefaultFileSystem()->ReadFile(ConfigPath()).value(), before);
}

TEST_F(ServerTest, AnIndexFolderIsServedByOneServerOnly) {
  // A second start directory names the same index folder, and one of its own.
  ASSERT_TRUE(dir_.MakeFolder("start2") && dir_.MakeFolder("index2") &&
              dir_.MakeFolder("images2"));
  Configuration config;
  for (const char* folder : {"index", "index2"}) {
    IndexDefinition def = NewIndexDefinition(folder, dir_.Path(folder)).value();
    def.active = 1;
    def.optimize_hour = 24;  // no nightly optimization while the test runs
    def.image_folders[0].path = OfflineFolderOf(dir_.Path(folder));
    def.image_folders[1].path = dir_.Path(std::string(folder) == "index" ? "images" : "images2");
    config.indexes.push_back(def);
  }
  ASSERT_TRUE(SaveConfiguration(*DefaultFileSystem(), config,
                                dir_.Path("start2/") + names::kConfigurationFile)
                  .ok());

  ServerProcess first(dir_.Path("start"), {"--no-console", "--verbose"}, dir_.Path("1.log"));
  ASSERT_TRUE(first.WaitForOutput("Database Process Ready for Search")) << first.Output();
  ServerProcess second(dir_.Path("start2"), {"--no-console", "--verbose"}, dir_.Path("2.log"));
  ASSERT_TRUE(second.WaitForOutput("Database Process Ready for Search")) << second.Output();
  EXPECT_NE(second.Output().find("Index index (" + dir_.Path("index") +
                                 ") is not served: another Vantrel server serves it (pid "),
            std::string::npos)
      << second.Output();
  EXPECT_NE(second.Output().find(", start directory " + dir_.Path("start") + ")"),
            std::string::npos)
      << second.Output();
  // Its own index is served; the shared one stays the first server's.
  ASSERT_TRUE(dir_.WriteFile("index2/VT_SEARCH/A1.REQ", "request"));
  EXPECT_TRUE(second.WaitForOutput("request index 1: A1.REQ")) << second.Output();
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/B2.REQ", "request"));
  EXPECT_TRUE(first.WaitForOutput("request index 0: B2.REQ")) << first.Output();

  second.Signal(SIGTERM);
  EXPECT_EQ(second.WaitExit(), 0);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.WaitExit(), 0);
  EXPECT_EQ(first.Output().find("cannot rename"), std::string::npos) << first.Output();
  EXPECT_EQ(second.Output().find("request index 0"), std::string::npos) << second.Output();
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
