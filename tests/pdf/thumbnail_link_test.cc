// The renderer link against the real vantrel-render: started on demand,
// restarted after it was killed, and a job that takes the renderer's child
// down answered as failed while the next one succeeds.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "pdf/render_service.h"
#include "pdf/renderer_link.h"
#include "pdf/thumbnail_job.h"
#include "platform/detached_process.h"
#include "platform/served_folders.h"
#include "support/pdf_builder.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

const std::string kRenderer = std::string(VANTREL_BINARY_DIR) + "/src/tools/vantrel-render";

// The processes whose command line holds `needle`.
std::vector<pid_t> ProcessesMentioning(const std::string& needle) {
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  while (dirent* e = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    if (pid <= 0) continue;
    StatusOr<std::string> cmdline =
        DefaultFileSystem()->ReadFile("/proc/" + std::string(e->d_name) + "/cmdline");
    if (cmdline.ok() && cmdline->find(needle) != std::string::npos) found.push_back(pid);
  }
  closedir(proc);
  return found;
}

// Waits up to 60 s for a process mentioning `needle`.
std::vector<pid_t> AwaitProcesses(const std::string& needle) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::vector<pid_t> found;
  while ((found = ProcessesMentioning(needle)).empty() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return found;
}

// True while `pid` has not ended. An ending process loses its command line
// before it closes its files (its listening socket still takes connections,
// then resets them); it has closed them once it is a zombie.
bool StillRunning(pid_t pid) {
  StatusOr<std::string> stat = DefaultFileSystem()->ReadFile("/proc/" + std::to_string(pid) + "/stat");
  if (!stat.ok()) return false;
  const size_t paren = stat->rfind(')');
  if (paren == std::string::npos || paren + 2 >= stat->size()) return false;
  const char state = (*stat)[paren + 2];
  return state != 'Z' && state != 'X';
}

class ThumbnailLinkTest : public ::testing::Test {
 protected:
  ThumbnailLinkTest() {
    dir_.MakeFolder("pics");
    options_.socket_path = dir_.Path("r.sock");
    options_.renderer_program = kRenderer;
    // Generous waits for a loaded machine.
    options_.start_waits = {std::chrono::milliseconds(300), std::chrono::seconds(1),
                            std::chrono::seconds(2), std::chrono::seconds(4),
                            std::chrono::seconds(8), std::chrono::seconds(16)};
  }
  ~ThumbnailLinkTest() override { KillAll(); }

  // Ends every renderer (and job child) of this test and waits (up to a
  // minute) until each has closed its files.
  void KillAll() {
    std::vector<pid_t> killed;
    for (const std::string& needle : {options_.socket_path, RecordToHex(dir_.path())}) {
      for (pid_t pid : ProcessesMentioning(needle)) {
        kill(pid, SIGKILL);
        killed.push_back(pid);
      }
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (pid_t pid : killed) {
      while (StillRunning(pid) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }

  std::string Record(const std::string& name, const std::string& pdf) {
    EXPECT_TRUE(dir_.WriteFile("images/" + name, pdf));
    ThumbnailJob job;
    job.pdf_path = dir_.Path("images/" + name);
    const PicturePaths p = MakePicturePaths(dir_.Path("pics"), dir_.Path("images"), name);
    job.thumbnail_path = p.thumbnail;
    job.preview_paths = p.previews;
    thumbnail_ = p.thumbnail;
    return *EncodeThumbnailJob(job);
  }

  TempDir dir_;
  RendererLinkOptions options_;
  std::string thumbnail_;
};

TEST_F(ThumbnailLinkTest, TheRendererIsStartedOnDemandAndRestartedAfterItWasKilledMidJob) {
  SocketRendererLink link(options_);
  ASSERT_TRUE(link.SendJob(Record("a.pdf", BuildDrawnPdf({{}})), -1, nullptr).ok());
  EXPECT_TRUE(DefaultFileSystem()->Exists(thumbnail_));
  const std::vector<pid_t> first = ProcessesMentioning(options_.socket_path);
  ASSERT_EQ(first.size(), 1u);

  // A job that keeps the renderer busy; it is killed while on it.
  const std::string slow = Record("slow.pdf", BuildFormBombPdf(26));
  auto busy = std::async(std::launch::async, [&] { return link.SendJob(slow, -1, nullptr); });
  ASSERT_FALSE(AwaitProcesses(RecordToHex(dir_.Path("images/slow.pdf"))).empty());
  KillAll();
  EXPECT_FALSE(busy.get().ok());

  const Status again = link.SendJob(Record("b.pdf", BuildDrawnPdf({{}})), -1, nullptr);
  ASSERT_TRUE(again.ok()) << again.ToString();
  EXPECT_TRUE(DefaultFileSystem()->Exists(thumbnail_));
  const std::vector<pid_t> second = ProcessesMentioning(options_.socket_path);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(second[0], first[0]);
}

TEST_F(ThumbnailLinkTest, AJobThatTakesItsChildDownFailsAndTheNextSucceeds) {
  ASSERT_TRUE(StartDetachedProcess(
                  {kRenderer, "--socket", options_.socket_path, "--time-limit", "1"})
                  .ok());
  options_.renderer_program.clear();  // only the renderer started here
  SocketRendererLink link(options_);
  // Let the renderer come up; the first contact is a single try.
  AwaitProcesses(options_.socket_path);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!DefaultFileSystem()->Exists(options_.socket_path) &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const struct {
    const char* name;
    std::string pdf;
    bool done;
  } jobs[] = {{"slow.pdf", BuildFormBombPdf(26), false},
              {"damaged.pdf", "%PDF-1.4\n1 0 obj << /Type", false},
              {"good.pdf", BuildDrawnPdf({{}}), true}};
  for (const auto& job : jobs) {
    const Status sent = link.SendJob(Record(job.name, job.pdf), -1, nullptr);
    EXPECT_EQ(sent.ok(), job.done) << job.name << ": " << sent.ToString();
    EXPECT_EQ(DefaultFileSystem()->Exists(thumbnail_), job.done) << job.name;
  }
}

// The renderer reads the PDF handed over with the job, not the job's path:
// here the path names nothing any more once the file was opened.
TEST_F(ThumbnailLinkTest, TheRendererReadsTheFileHandedOverNotThePath) {
  SocketRendererLink link(options_);
  const std::string record = Record("handed.pdf", BuildDrawnPdf({{}}));
  UniqueFd pdf;
  ASSERT_TRUE(OpenServedFileForRead(dir_.Path("images/handed.pdf"), &pdf).ok());
  ASSERT_EQ(::rename(dir_.Path("images/handed.pdf").c_str(), dir_.Path("moved.pdf").c_str()), 0);
  EXPECT_FALSE(link.SendJob(record, -1, nullptr).ok());
  EXPECT_FALSE(DefaultFileSystem()->Exists(thumbnail_));
  const Status sent = link.SendJob(record, pdf.get(), nullptr);
  EXPECT_TRUE(sent.ok()) << sent.ToString();
  EXPECT_TRUE(DefaultFileSystem()->Exists(thumbnail_));
}

TEST_F(ThumbnailLinkTest, WithoutARendererTheJobFails) {
  options_.renderer_program = dir_.Path("no-such-renderer");
  SocketRendererLink link(options_);
  EXPECT_FALSE(link.SendJob(Record("a.pdf", BuildDrawnPdf({{}})), -1, nullptr).ok());
  // A stop ends the waits for a renderer that never answers.
  std::atomic<bool> stop{true};
  options_.renderer_program = kRenderer;
  options_.socket_path = dir_.Path("other.sock");
  SocketRendererLink stopped(options_);
  EXPECT_FALSE(stopped.SendJob(Record("a.pdf", BuildDrawnPdf({{}})), -1, &stop).ok());
}

}  // namespace
}  // namespace vantrel
