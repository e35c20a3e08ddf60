#include "server/request_intake.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

class RequestIntakeTest : public ::testing::Test {
 protected:
  RequestIntakeTest() {
    RequestIntakeOptions options;
    options.fs = DefaultFileSystem();
    options.quiet = milliseconds(1000);
    options.sweep_period = milliseconds(5000);
    options.now = [this] { return now_; };
    intake_ = std::make_unique<RequestIntake>(options);
  }

  std::string Write(const std::string& name, size_t size) {
    EXPECT_TRUE(dir_.WriteFile(name, std::string(size, 'r')));
    return dir_.Path(name);
  }
  std::vector<TakenRequest> After(int ms) {
    now_ += milliseconds(ms);
    return intake_->TakeQuietFiles();
  }

  TempDir dir_;
  std::chrono::steady_clock::time_point now_{};
  std::unique_ptr<RequestIntake> intake_;
  const std::vector<TakenRequest> none_;
};

TEST_F(RequestIntakeTest, AChangingFileIsTakenOnceQuietAndWhole) {
  std::string path = Write("A.REQ", 300);
  intake_->NoteChanging(0, "A.REQ", path);
  EXPECT_EQ(After(2000), none_) << "too short for a record, however quiet";

  // Grown to a long form: the quiet period starts again at the change.
  path = Write("A.REQ", 856);
  intake_->NoteChanging(0, "A.REQ", path);
  EXPECT_EQ(After(900), none_);
  intake_->NoteChanging(0, "A.REQ", path);  // a write that left size and time alone
  EXPECT_EQ(After(900), none_);
  EXPECT_EQ(After(200), (std::vector<TakenRequest>{{0, "A.REQ"}}));
  EXPECT_EQ(After(2000), none_) << "taken once";
  // Its late close is the same request; a new content is a new one.
  EXPECT_FALSE(intake_->NoteComplete(0, "A.REQ", path));
  Write("A.REQ", 520);
  EXPECT_TRUE(intake_->NoteComplete(0, "A.REQ", path));

  // A query request needs its 3,100 bytes.
  std::string query = Write("Q.QRY", 3099);
  intake_->NoteListed(1, "Q.QRY", query);
  EXPECT_EQ(After(1500), none_);
  Write("Q.QRY", 3100);
  intake_->NoteListed(1, "Q.QRY", query);
  EXPECT_EQ(After(500), none_);
  intake_->NoteListed(1, "Q.QRY", query);  // listing again does not restart the wait
  EXPECT_EQ(After(600), (std::vector<TakenRequest>{{1, "Q.QRY"}}));
}

TEST_F(RequestIntakeTest, ClosedFilesAreTakenAtOnceAndGoneFilesForgotten) {
  std::string path = Write("B.REQ", 10);
  EXPECT_TRUE(intake_->NoteComplete(0, "B.REQ", path)) << "the worker waits for the size";
  EXPECT_FALSE(intake_->NoteComplete(0, "B.REQ", path)) << "unchanged: not again";
  intake_->NoteChanging(0, "B.REQ", path);
  EXPECT_EQ(After(1500), none_);

  // Once gone (served), the same name is a new request.
  ASSERT_TRUE(DefaultFileSystem()->DeleteFile(path).ok());
  EXPECT_EQ(After(6000), none_);
  Write("B.REQ", 10);
  EXPECT_TRUE(intake_->NoteComplete(0, "B.REQ", path));
  // A file deleted before it was looked at is still handed on: the worker
  // reports what it finds.
  EXPECT_TRUE(intake_->NoteComplete(0, "GONE.REQ", dir_.Path("GONE.REQ")));
}

}  // namespace
}  // namespace vantrel
