// The whole server with a PDF folder: PDFs in an image folder get their
// thumbnail and previews from the renderer the server starts, and a restart
// renders nothing again.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "server_process.h"
#include "support/pdf_builder.h"

namespace vantrel {
namespace {

// Ends the renderers that serve the socket in `start_dir`.
void KillRenderers(const std::string& start_dir) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return;
  const std::string needle = start_dir + "/vantrel-render.sock";
  while (dirent* e = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    if (pid <= 0) continue;
    StatusOr<std::string> cmdline =
        DefaultFileSystem()->ReadFile("/proc/" + std::string(e->d_name) + "/cmdline");
    if (cmdline.ok() && cmdline->find(needle) != std::string::npos) kill(pid, SIGKILL);
  }
  closedir(proc);
}

bool WaitForFile(const std::string& path, milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!DefaultFileSystem()->Exists(path)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(milliseconds(50));
  }
  return true;
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class PdfPicturesServerTest : public ::testing::Test {
 protected:
  ~PdfPicturesServerTest() override { KillRenderers(dir_.Path("start")); }
  TempDir dir_;
};

TEST_F(PdfPicturesServerTest, IndexedPdfsGetTheirPicturesOnceWithThePdfTime) {
  ASSERT_TRUE(MakeOneIndexStart(dir_));
  ASSERT_TRUE(dir_.MakeFolder("pics"));
  const std::string config_path = dir_.Path("start/") + names::kConfigurationFile;
  NullVolumeNamer namer;
  ConfigLoad load = LoadConfiguration(*DefaultFileSystem(), config_path, namer);
  ASSERT_TRUE(load.status.ok());
  load.config.pdf.folder = dir_.Path("pics");
  ASSERT_TRUE(SaveConfiguration(*DefaultFileSystem(), load.config, config_path).ok());
  ASSERT_TRUE(dir_.WriteFile("images/2024/report.pdf", BuildDrawnPdf({{}, {}, {}, {}})));
  ASSERT_TRUE(dir_.WriteFile("images/damaged.pdf", "%PDF-1.4 1 0 obj <<"));

  const std::string tail = dir_.Path("images/2024/report.pdf");
  const std::string tn1 = dir_.Path("pics/TN1") + tail;
  {
    ServerProcess server(dir_.Path("start"), {"--no-console"}, dir_.Path("server.log"));
    ASSERT_TRUE(WaitForFile(tn1, milliseconds(120000))) << server.Output();
    for (const char* pv : {"pics/PV1", "pics/PV2", "pics/PV3"}) {
      EXPECT_TRUE(DefaultFileSystem()->Exists(dir_.Path(pv) + tail)) << pv;
    }
    EXPECT_EQ(DefaultFileSystem()->Stat(tn1)->modified, DefaultFileSystem()->Stat(tail)->modified);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(milliseconds(90000)), 0) << server.Output();
  }
  const ino_t first = InodeOf(tn1);
  {
    ServerProcess server(dir_.Path("start"), {"--no-console"}, dir_.Path("server2.log"));
    ASSERT_TRUE(server.WaitForOutput("Database Process Ready for Search", milliseconds(60000)))
        << server.Output();
    // The thumbnail thread looks at its queue every second; nothing comes.
    std::this_thread::sleep_for(milliseconds(3000));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(milliseconds(90000)), 0) << server.Output();
  }
  EXPECT_EQ(InodeOf(tn1), first);
}

}  // namespace
}  // namespace vantrel
