#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace vantrel {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs `body` in a forked child and returns its exit code (-1 when it did
// not exit normally). Keeps cwd changes, signal masks and execs out of the
// test process.
template <typename F>
int InChild(F body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(ProcessTest, RelaunchRunsTheProgramInTheStartDirectoryWithCleanSignals) {
  TempDir dir;
  char real[PATH_MAX];
  ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
  struct Case {
    std::string exe;
    std::vector<std::string> args;
    std::string output;
  } cases[] = {
      {"/bin/pwd", {"-P"}, std::string(real) + "\n"},
      {"/bin/echo", {"-VSR", "two words"}, "-VSR two words\n"},
      // The caller had blocked the stop signals, as StopSignals does; the new
      // image must start with nothing blocked.
      {"/bin/grep", {"SigBlk", "/proc/self/status"}, "SigBlk:\t0000000000000000\n"},
  };
  for (const Case& c : cases) {
    const std::string out_path = dir.Path("out.txt");
    int code = InChild([&] {
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || dup2(out, 1) < 0) return 2;
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, SIGTERM);
      sigaddset(&set, SIGINT);
      pthread_sigmask(SIG_BLOCK, &set, nullptr);
      if (chdir("/") != 0) return 3;
      Status s = RelaunchSelf(c.exe, dir.path(), c.args);
      return s.ok() ? 4 : 5;  // only reached when the exec failed
    });
    ASSERT_EQ(code, 0) << c.exe;
    EXPECT_EQ(ReadAll(out_path), c.output) << c.exe;
  }
}

TEST(ProcessTest, FailedRelaunchReturnsAStatus) {
  TempDir dir;
  struct Case {
    std::string exe;
    std::string start_dir;
    StatusCode code;
  } cases[] = {
      {"", dir.path(), StatusCode::kInvalidArgument},
      {dir.Path("no-such-program"), dir.path(), StatusCode::kIoError},
      {"/bin/sh", dir.Path("no-such-folder"), StatusCode::kIoError},
  };
  for (const Case& c : cases) {
    int code = InChild([&] {
      sigset_t before, after;
      pthread_sigmask(SIG_SETMASK, nullptr, &before);
      Status s = RelaunchSelf(c.exe, c.start_dir, {"-VS"});
      pthread_sigmask(SIG_SETMASK, nullptr, &after);
      // The caller's signal mask is back as it was.
      if (sigismember(&before, SIGTERM) != sigismember(&after, SIGTERM)) return 9;
      return static_cast<int>(s.code());
    });
    EXPECT_EQ(code, static_cast<int>(c.code)) << c.exe << " in " << c.start_dir;
  }
}

TEST(ProcessTest, LowestPriorityAppliesToTheCallingThreadOnly) {
  bool main_was_lowest = CurrentThreadHasLowestPriority();
  bool lowered = false, restored_or_refused = false;
  std::thread worker([&] {
    Status s = SetCurrentThreadLowestPriority();
    lowered = s.ok() && CurrentThreadHasLowestPriority();
    Status back = SetCurrentThreadNormalPriority();
    // Unprivileged, the way back may be refused; then the thread stays low.
    restored_or_refused =
        back.ok() ? !CurrentThreadHasLowestPriority()
                  : back.code() == StatusCode::kUnavailable && CurrentThreadHasLowestPriority();
  });
  worker.join();
  EXPECT_TRUE(lowered);
  EXPECT_TRUE(restored_or_refused);
  EXPECT_EQ(CurrentThreadHasLowestPriority(), main_was_lowest);
}

TEST(ProcessTest, ThreadNamesAreCutAtACharacterBoundary) {
  struct Case {
    std::string name;
    std::string kept;
  } cases[] = {
      {"watcher", "watcher"},
      {"exactly15bytes!", "exactly15bytes!"},
      {"search dispatcher", "search dispatch"},
      // 7 two-byte letters are 14 bytes; the 8th would straddle byte 15.
      {"\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84",
       "\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string seen;
    std::thread t([&] {
      SetThreadName(c.name);
      seen = CurrentThreadName();
    });
    t.join();
    EXPECT_EQ(seen, c.kept) << c.name;
  }
}

TEST(StopSignalsTest, RequestFromAnotherThreadEndsTheWaitOnceAndTheMaskIsRestoredAfterwards) {
  sigset_t before, during, after;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);
  auto stop = StopSignals::Install();
  ASSERT_TRUE(stop.ok()) << stop.status().ToString();
  pthread_sigmask(SIG_SETMASK, nullptr, &during);
  EXPECT_TRUE(sigismember(&during, SIGTERM));
  EXPECT_TRUE(sigismember(&during, SIGINT));
  EXPECT_FALSE((*stop)->Wait(std::chrono::milliseconds(0)).has_value());

  // Two requests before a wait end that one wait only.
  (*stop)->RequestStop();
  (*stop)->RequestStop();
  auto reason = (*stop)->Wait(std::chrono::milliseconds(0));
  ASSERT_TRUE(reason.has_value());
  EXPECT_TRUE(reason->requested);
  EXPECT_EQ(reason->signal, 0);
  EXPECT_FALSE((*stop)->Wait(std::chrono::milliseconds(0)).has_value());

  // A request from another thread ends a wait without limit.
  std::thread requester([&] { (*stop)->RequestStop(); });
  reason = (*stop)->Wait();
  requester.join();
  ASSERT_TRUE(reason.has_value());
  EXPECT_TRUE(reason->requested);

  stop->reset();
  pthread_sigmask(SIG_SETMASK, nullptr, &after);
  EXPECT_EQ(sigismember(&after, SIGTERM), sigismember(&before, SIGTERM));
  EXPECT_EQ(sigismember(&after, SIGINT), sigismember(&before, SIGINT));
}

TEST(StopSignalsTest, SignalsAreTakenAsStopRequestsNotDeaths) {
  // In a child: the signals would end the test program otherwise.
  for (int sig : {SIGTERM, SIGINT}) {
    int code = InChild([sig] {
      auto stop = StopSignals::Install();
      if (!stop.ok()) return 2;
      // A thread started afterwards inherits the blocked mask, so the
      // process-wide signal cannot kill it either.
      std::thread other([] {
        sigset_t mask;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        if (!sigismember(&mask, SIGTERM) || !sigismember(&mask, SIGINT)) _exit(3);
      });
      other.join();
      kill(getpid(), sig);
      auto reason = (*stop)->Wait(std::chrono::seconds(5));
      if (!reason || reason->requested) return 4;
      return reason->signal == sig ? 0 : 5;
    });
    EXPECT_EQ(code, 0) << "signal " << sig;
  }
}

TEST(StopSignalsTest, AnActionStandsDownOnceAStopWasTaken) {
  // The relaunch after an optimization runs as such an action: a stop that
  // Wait() took before must not be swallowed by the new process image.
  int code = InChild([] {
    auto stop = StopSignals::Install();
    if (!stop.ok()) return 2;
    int runs = 0;
    if (!(*stop)->RunUnlessStopTaken([&] { ++runs; }) || runs != 1) return 3;
    kill(getpid(), SIGTERM);  // pending: no Wait() has taken it yet
    if (!(*stop)->RunUnlessStopTaken([&] { ++runs; }) || runs != 2) return 4;
    if (!(*stop)->Wait(std::chrono::seconds(5))) return 5;
    if ((*stop)->RunUnlessStopTaken([&] { ++runs; }) || runs != 2) return 6;
    return 0;
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace vantrel
