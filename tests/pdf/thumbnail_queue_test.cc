// The thumbnail queue and the thumbnail maker that empties it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "core/list_lock_table.h"
#include "core/notices.h"
#include "pdf/thumbnail_job.h"
#include "pdf/thumbnail_service.h"
#include "platform/file_time.h"
#include "platform/served_folders.h"
#include "support/file_times.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

// Records the jobs it is given and answers with `answer`.
class FakeLink : public RendererLink {
 public:
  Status SendJob(std::string_view record, int pdf_file, const std::atomic<bool>*) override {
    StatusOr<ThumbnailJob> job = DecodeThumbnailJob(record);
    EXPECT_TRUE(job.ok());
    if (job.ok()) jobs.push_back(*job);
    struct stat st;
    files.push_back(pdf_file >= 0 && fstat(pdf_file, &st) == 0 ? st.st_ino : 0);
    return answer;
  }
  std::vector<ThumbnailJob> jobs;
  std::vector<ino_t> files;  // the inode of the PDF passed along, 0 for none
  Status answer = Status::Ok();
};

class ThumbnailQueueTest : public ::testing::Test {
 protected:
  ThumbnailQueueTest() : service_(&link_) {
    TaskEnvironment env;
    env.fs = DefaultFileSystem();
    env.notices = &notices_;
    env.list_locks = &locks_;
    task_ = std::make_unique<TaskContext>(env);
    task_->config.indexes.resize(1);
    task_->config.indexes[0].mac_text = 1;
    task_->config.pdf.folder = dir_.Path("pics");
    task_->config.pdf.thumbnail_size = 200;
    task_->config.pdf.preview_size = 640;
    task_->config.pdf.leading_preview = 1;
    dir_.MakeFolder("pics");
    root_ = dir_.Path("images");
  }

  // A PDF file in the image folder with the file time stamp `stamp`.
  ThumbnailRequest Pdf(const std::string& relative, uint32_t stamp = 3'000'000'000u) {
    EXPECT_TRUE(dir_.WriteFile("images/" + relative, "%PDF-1.4\n"));
    EXPECT_TRUE(SetModifiedTime(root_ + "/" + relative, UnixFromFileTimeStamp(stamp)));
    std::string key = "01" + relative;
    for (char& c : key) {
      if (c == '/') c = '\\';
    }
    return ThumbnailRequest{0, root_ + "/" + relative, key, root_, stamp, 0x50444620};
  }

  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    while (std::optional<StatusMessage> m = task_->status_queue.Pop()) {
      if (m->code == kStatusLogLine) lines.push_back(m->data);
    }
    return lines;
  }

  size_t Queued() { return task_->Locked(-1, &task_->thumbnail_queue).Count(); }

  TempDir dir_;
  NullNoticeSink notices_;
  ListLockTable locks_;
  std::unique_ptr<TaskContext> task_;
  FakeLink link_;
  ThumbnailService service_;
  std::string root_;
};

TEST_F(ThumbnailQueueTest, JobsCarryTheSettingsAndLeaveHighestKeyFirst) {
  EXPECT_EQ(service_.Queue(*task_, Pdf("a.pdf")), ThumbnailQueued::kQueued);
  EXPECT_EQ(service_.Queue(*task_, Pdf("c.pdf")), ThumbnailQueued::kQueued);
  EXPECT_EQ(service_.Queue(*task_, Pdf("b.pdf")), ThumbnailQueued::kQueued);
  // A PDF queued again keeps one job.
  EXPECT_EQ(service_.Queue(*task_, Pdf("b.pdf")), ThumbnailQueued::kQueued);
  EXPECT_EQ(Queued(), 3u);
  BrowseEntry entry = *task_->Locked(-1, &task_->thumbnail_queue).EntryAt(0);
  EXPECT_EQ(entry.value, 1u);
  EXPECT_EQ(entry.extra, 0x50444620u);

  while (service_.MakeNext(*task_)) {
  }
  ASSERT_EQ(link_.jobs.size(), 3u);
  EXPECT_EQ(link_.jobs[0].pdf_path, root_ + "/c.pdf");
  EXPECT_EQ(link_.jobs[1].pdf_path, root_ + "/b.pdf");
  EXPECT_EQ(link_.jobs[2].pdf_path, root_ + "/a.pdf");
  const ThumbnailJob& job = link_.jobs[0];
  EXPECT_EQ(job.thumbnail_path, dir_.Path("pics/TN1") + root_ + "/c.pdf");
  EXPECT_EQ(job.preview_paths[2], dir_.Path("pics/PV3") + root_ + "/c.pdf");
  EXPECT_EQ(job.thumbnail_size, 200u);
  EXPECT_EQ(job.preview_size, 640u);
  EXPECT_EQ(job.preview_pages, 1u);
  EXPECT_EQ(job.mac_text, 1u);
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(ThumbnailQueueTest, CurrentThumbnailsGetNoJob) {
  ThumbnailRequest pdf = Pdf("sport/r.pdf", 3'000'000'000u);
  const std::string thumbnail = dir_.Path("pics/TN1") + root_ + "/sport/r.pdf";
  ASSERT_TRUE(dir_.WriteFile(thumbnail.substr(dir_.path().size() + 1), "jpeg"));
  ASSERT_TRUE(SetModifiedTime(thumbnail, UnixFromFileTimeStamp(3'000'000'000u)));
  EXPECT_EQ(service_.Queue(*task_, pdf), ThumbnailQueued::kCurrent);
  // The PDF changed since: the pictures are made again.
  pdf = Pdf("sport/r.pdf", 3'000'000'100u);
  EXPECT_EQ(service_.Queue(*task_, pdf), ThumbnailQueued::kQueued);
  EXPECT_EQ(Queued(), 1u);
}

TEST_F(ThumbnailQueueTest, APathTooLongForItsFieldIsLoggedNotQueued) {
  const std::string name = std::string(250, 'n') + ".pdf";
  EXPECT_EQ(service_.Queue(*task_, Pdf(name)), ThumbnailQueued::kRefused);
  EXPECT_EQ(Queued(), 0u);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("longer than 255 bytes"), std::string::npos) << lines[0];
}

TEST_F(ThumbnailQueueTest, AnInvalidSetupResetsTheSizesAndDropsTheJobs) {
  task_->config.pdf.folder = dir_.Path("missing");
  EXPECT_FALSE(PdfSetupValid(task_->fs(), task_->config.pdf));
  const PdfSettings reset = EffectivePdfSettings(task_->fs(), task_->config.pdf);
  EXPECT_EQ(reset.thumbnail_size, 300u);
  EXPECT_EQ(reset.preview_size, 800u);
  EXPECT_EQ(reset.leading_preview, 3u);
  EXPECT_EQ(service_.Queue(*task_, Pdf("a.pdf")), ThumbnailQueued::kQueued);
  EXPECT_TRUE(service_.MakeNext(*task_));
  EXPECT_TRUE(link_.jobs.empty());
  EXPECT_EQ(Queued(), 0u);
  EXPECT_FALSE(service_.MakeNext(*task_));
}

TEST_F(ThumbnailQueueTest, AFailedJobIsDroppedAndLoggedOncePerPdf) {
  link_.answer = Status::Internal("the renderer could not make the pictures");
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(service_.Queue(*task_, Pdf("bad.pdf")), ThumbnailQueued::kQueued);
    EXPECT_TRUE(service_.MakeNext(*task_));
  }
  EXPECT_EQ(link_.jobs.size(), 2u);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(root_ + "/bad.pdf"), std::string::npos) << lines[0];
}

// The renderer gets the PDF opened here. Below a served folder, a PDF that
// a client put behind a link gets no job at all.
TEST_F(ThumbnailQueueTest, ThePdfGoesAlongOpenedAndNeverThroughALink) {
  ASSERT_TRUE(dir_.WriteFile("outside/secret.pdf", "%PDF-1.4\n"));
  ASSERT_TRUE(dir_.MakeFolder("images"));
  ASSERT_EQ(::symlink(dir_.Path("outside").c_str(), dir_.Path("images/swapped").c_str()), 0);
  SetServedFolders({root_});
  ThumbnailRequest behind{
      0, root_ + "/swapped/secret.pdf", "01swapped\\secret.pdf", root_, 3'000'000'000u, 0x50444620};
  EXPECT_EQ(service_.Queue(*task_, behind), ThumbnailQueued::kQueued);
  EXPECT_TRUE(service_.MakeNext(*task_));
  EXPECT_TRUE(link_.jobs.empty());
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("symbolic link"), std::string::npos) << lines[0];

  EXPECT_EQ(service_.Queue(*task_, Pdf("real.pdf")), ThumbnailQueued::kQueued);
  EXPECT_TRUE(service_.MakeNext(*task_));
  SetServedFolders({});
  ASSERT_EQ(link_.files.size(), 1u);
  struct stat st;
  ASSERT_EQ(::stat((root_ + "/real.pdf").c_str(), &st), 0);
  EXPECT_EQ(link_.files[0], st.st_ino);
}

}  // namespace
}  // namespace vantrel
