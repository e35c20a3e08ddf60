#include "platform/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace vantrel {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A child process that takes the lock, reports over a pipe, and then waits
// until the parent closes its end (or kills it).
class LockHolder {
 public:
  LockHolder(const std::string& path, const std::string& owner) {
    int to_parent[2], to_child[2];
    if (pipe2(to_parent, O_CLOEXEC) != 0 || pipe2(to_child, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(to_parent[0]);
      close(to_child[1]);
      auto lock = InstanceLock::Acquire(path, owner);
      char answer = lock.ok() ? 'y' : 'n';
      if (write(to_parent[1], &answer, 1) != 1) _exit(2);
      char ignored;
      while (read(to_child[0], &ignored, 1) > 0) {
      }
      _exit(0);
    }
    close(to_parent[1]);
    close(to_child[0]);
    release_fd_ = to_child[1];
    char answer = 0;
    holds_ = read(to_parent[0], &answer, 1) == 1 && answer == 'y';
    close(to_parent[0]);
  }
  ~LockHolder() { Stop(false); }

  bool holds() const { return holds_; }

  // Ends the child: politely (it exits and the kernel drops its lock), or
  // with SIGKILL, as a crashed server would end.
  void Stop(bool kill_it) {
    if (pid_ <= 0) return;
    if (kill_it) kill(pid_, SIGKILL);
    close(release_fd_);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_fd_ = -1;
  bool holds_ = false;
};

TEST(InstanceLockTest, SecondAcquireFailsAndNamesTheRunningServer) {
  TempDir dir;
  const std::string path = dir.Path(".vantrel.lock");
  EXPECT_FALSE(InstanceLock::IsHeld(path));
  EXPECT_TRUE(InstanceLock::ReadOwnerInfo(path).status().IsNotFound());
  {
    auto first = InstanceLock::Acquire(path, "http://127.0.0.1:8420/");
    ASSERT_TRUE(first.ok()) << first.status().ToString();
    EXPECT_TRUE(InstanceLock::IsHeld(path));
    EXPECT_EQ(*InstanceLock::ReadOwnerInfo(path), "http://127.0.0.1:8420/");

    // A second lock, even in the same process, is refused and leaves the
    // owner text alone.
    auto second = InstanceLock::Acquire(path, "intruder");
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.status().code(), StatusCode::kFailedPrecondition);
    EXPECT_NE(second.status().message().find("http://127.0.0.1:8420/"), std::string::npos)
        << second.status().message();
    EXPECT_EQ(*InstanceLock::ReadOwnerInfo(path), "http://127.0.0.1:8420/");

    // A shorter text replaces a longer one completely.
    ASSERT_TRUE(first->UpdateOwnerInfo("short").ok());
    EXPECT_EQ(ReadAll(path), "short\n");
    // Moving the lock keeps it held.
    InstanceLock moved = std::move(*first);
    EXPECT_TRUE(InstanceLock::IsHeld(path));
    EXPECT_EQ(moved.path(), path);
  }
  // Released with the object; the file and its last text stay.
  EXPECT_FALSE(InstanceLock::IsHeld(path));
  EXPECT_EQ(*InstanceLock::ReadOwnerInfo(path), "short");
  auto again = InstanceLock::Acquire(path, "next");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(ReadAll(path), "next\n");
}

TEST(InstanceLockTest, AnotherProcessHoldsItUntilItEndsEvenByACrash) {
  TempDir dir;
  const std::string path = dir.Path(".vantrel.lock");
  for (bool crash : {false, true}) {
    LockHolder holder(path, "console at http://127.0.0.1:9000/");
    ASSERT_TRUE(holder.holds());
    EXPECT_TRUE(InstanceLock::IsHeld(path));
    auto mine = InstanceLock::Acquire(path, "me");
    ASSERT_FALSE(mine.ok());
    EXPECT_EQ(mine.status().code(), StatusCode::kFailedPrecondition);
    EXPECT_EQ(*InstanceLock::ReadOwnerInfo(path), "console at http://127.0.0.1:9000/");

    holder.Stop(crash);
    EXPECT_FALSE(InstanceLock::IsHeld(path)) << (crash ? "after a crash" : "after an exit");
    auto now_mine = InstanceLock::Acquire(path, "me");
    EXPECT_TRUE(now_mine.ok()) << now_mine.status().ToString();
  }
}

// A self-relaunch execs a new image; the lock must not live on in it (the new
// image would then find its own old lock and refuse to start).
TEST(InstanceLockTest, LockDoesNotSurviveExec) {
  TempDir dir;
  const std::string path = dir.Path(".vantrel.lock");
  auto lock = InstanceLock::Acquire(path, "x");
  ASSERT_TRUE(lock.ok());
  int exec_done[2];
  ASSERT_EQ(pipe2(exec_done, O_CLOEXEC), 0);
  pid_t child = fork();
  if (child == 0) {
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(exec_done[1]);
  char c;
  // The write end closes when the child's exec succeeds (or it exits).
  while (read(exec_done[0], &c, 1) > 0) {
  }
  close(exec_done[0]);
  { InstanceLock dropped = std::move(*lock); }
  EXPECT_FALSE(InstanceLock::IsHeld(path));
  kill(child, SIGKILL);
  int status;
  waitpid(child, &status, 0);
}

TEST(InstanceLockTest, OwnerTextIsBoundedWrittenAndRead) {
  TempDir dir;
  const std::string path = dir.Path("lock");
  for (std::string bad : {std::string("two\nlines"), std::string("cr\rhere"),
                          std::string(InstanceLock::kMaxOwnerInfo + 1, 'a')}) {
    auto lock = InstanceLock::Acquire(path, bad);
    ASSERT_FALSE(lock.ok());
    EXPECT_EQ(lock.status().code(), StatusCode::kInvalidArgument);
  }
  auto lock = InstanceLock::Acquire(path, std::string(InstanceLock::kMaxOwnerInfo, 'b'));
  ASSERT_TRUE(lock.ok());
  EXPECT_EQ(InstanceLock::ReadOwnerInfo(path)->size(), InstanceLock::kMaxOwnerInfo);
  EXPECT_EQ(lock->UpdateOwnerInfo("a\nb").code(), StatusCode::kInvalidArgument);

  // Foreign content is read within the same bounds.
  ASSERT_TRUE(dir.WriteFile("huge", std::string(100000, 'z')));
  auto info = InstanceLock::ReadOwnerInfo(dir.Path("huge"));
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->size(), InstanceLock::kMaxOwnerInfo);
  ASSERT_TRUE(dir.WriteFile("crlf", "addr\r\nmore\n"));
  EXPECT_EQ(*InstanceLock::ReadOwnerInfo(dir.Path("crlf")), "addr");
  // A folder in the way, or no folder at all: an error, never a crash.
  ASSERT_TRUE(dir.MakeFolder("folder"));
  EXPECT_FALSE(InstanceLock::Acquire(dir.Path("folder"), "x").ok());
  EXPECT_FALSE(InstanceLock::Acquire(dir.Path("no/such/lock"), "x").ok());
}

// The lock of an index folder: clients can write there, so nothing planted
// in place of the folder or the file is followed or written through.
TEST(InstanceLockTest, LockBelowAFolderNeverFollowsPlantedNames) {
  TempDir dir;
  ASSERT_TRUE(dir.MakeFolder("index") && dir.WriteFile("victim", "precious"));
  std::string holder;
  auto first = InstanceLock::AcquireBelow(dir.Path("index"), "VT_DATA", "lock", "pid 1", &holder);
  ASSERT_TRUE(first.ok()) << first.status().ToString();
  EXPECT_EQ(first->path(), dir.Path("index/VT_DATA/lock"));
  auto second = InstanceLock::AcquireBelow(dir.Path("index"), "VT_DATA", "lock", "pid 2", &holder);
  EXPECT_EQ(second.status().code(), StatusCode::kFailedPrecondition);
  EXPECT_EQ(holder, "pid 1");

  // Deleting the locked file is noticed, so that the holder can lock anew.
  EXPECT_TRUE(first->StillLinked());
  ASSERT_EQ(unlink(dir.Path("index/VT_DATA/lock").c_str()), 0);
  EXPECT_FALSE(first->StillLinked());

  ASSERT_TRUE(dir.MakeFolder("other") && dir.MakeFolder("planted/VT_DATA"));
  ASSERT_EQ(symlink(dir.Path("victim").c_str(), dir.Path("planted/VT_DATA/lock").c_str()), 0);
  ASSERT_EQ(link(dir.Path("victim").c_str(), dir.Path("planted/VT_DATA/hard").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.Path("planted/VT_DATA/fifo").c_str(), 0666), 0);
  ASSERT_EQ(symlink(dir.Path("other").c_str(), dir.Path("other/VT_DATA").c_str()), 0);
  for (auto [base, name] : {std::pair{"planted", "lock"}, std::pair{"planted", "hard"},
                            std::pair{"planted", "fifo"}, std::pair{"other", "lock"}}) {
    auto lock = InstanceLock::AcquireBelow(dir.Path(base), "VT_DATA", name, "pid 3");
    EXPECT_EQ(lock.status().code(), StatusCode::kIoError) << base << "/" << name;
  }
  EXPECT_EQ(ReadAll(dir.Path("victim")), "precious");
  EXPECT_NE(access(dir.Path("other/lock").c_str(), F_OK), 0);  // nothing made through the link
  auto missing = InstanceLock::AcquireBelow(dir.Path("missing"), "VT_DATA", "lock", "x");
  EXPECT_TRUE(missing.status().IsNotFound());
}

}  // namespace
}  // namespace vantrel
