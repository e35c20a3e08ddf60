#include "platform/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

ChildProcessResult RunShell(const std::string& script, const ChildProcessOptions& options = {}) {
  StatusOr<ChildProcessResult> result = RunChildProcess({"/bin/sh", "-c", script}, options);
  EXPECT_TRUE(result.ok()) << result.status().ToString();
  return result.ok() ? *result : ChildProcessResult{};
}

TEST(ChildProcessTest, ReportsHowTheChildEnded) {
  struct Case {
    std::string script;
    bool exited;
    int exit_code;
    int signal;
  } cases[] = {
      {"exit 0", true, 0, 0},
      {"exit 3", true, 3, 0},
      {"exit 255", true, 255, 0},
      {"kill -KILL $$", false, -1, SIGKILL},
      {"kill -SEGV $$", false, -1, SIGSEGV},
      {"kill -ABRT $$", false, -1, SIGABRT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    ChildProcessResult r = RunShell(c.script);
    EXPECT_EQ(r.exited, c.exited);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.signal, c.signal);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.Succeeded(), c.exited && c.exit_code == 0);
  }
}

TEST(ChildProcessTest, CapturesStandardOutputByteForByte) {
  ChildProcessResult r = RunShell("printf 'a\\000b\\r\\n\\377'; echo err >&2");
  EXPECT_TRUE(r.Succeeded());
  EXPECT_EQ(r.output, std::string("a\0b\r\n\xff", 6));
  EXPECT_EQ(r.error_output, "");  // discarded unless asked for

  ChildProcessOptions options;
  options.capture_stderr = true;
  r = RunShell("echo out; echo err >&2", options);
  EXPECT_EQ(r.output, "out\n");
  EXPECT_EQ(r.error_output, "err\n");
}

TEST(ChildProcessTest, KeepsLargeOutputWithinTheCapAndStopsAChildThatWritesMore) {
  ChildProcessResult r = RunShell("head -c 3000000 /dev/zero | tr '\\000' x");
  EXPECT_TRUE(r.Succeeded());
  ASSERT_EQ(r.output.size(), 3000000u);
  EXPECT_EQ(r.output.find_first_not_of('x'), std::string::npos);
  EXPECT_FALSE(r.output_truncated);

  ChildProcessOptions options;
  options.max_output_bytes = 1000;
  // Without the cap this would never end.
  r = RunShell("yes abcdefgh", options);
  EXPECT_TRUE(r.output_truncated);
  EXPECT_FALSE(r.Succeeded());
  ASSERT_EQ(r.output.size(), 1000u);
  EXPECT_EQ(r.output.substr(0, 18), "abcdefgh\nabcdefgh\n");

  // Exactly the cap is not an overflow.
  options.max_output_bytes = 6;
  r = RunShell("printf 123456", options);
  EXPECT_TRUE(r.Succeeded());
  EXPECT_EQ(r.output, "123456");
}

TEST(ChildProcessTest, KillsAChildThatRunsPastTheTimeLimit) {
  ChildProcessOptions options;
  options.time_limit = milliseconds(300);
  ChildProcessResult r = RunShell("echo begun; sleep 60; echo never", options);
  EXPECT_TRUE(r.timed_out);
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(r.signal, SIGKILL);
  EXPECT_FALSE(r.Succeeded());
  EXPECT_EQ(r.output, "begun\n");
}

TEST(ChildProcessTest, ACancelledChildIsKilledAtOnceAndKeepsItsOutput) {
  std::atomic<bool> cancel{false};
  ChildProcessOptions options;
  options.time_limit = milliseconds(120000);
  options.cancel = &cancel;
  // Cancelled once the child has written its line and is sleeping.
  const std::string marker = "/tmp/vantrel_cancel_test_" + std::to_string(getpid());
  unlink(marker.c_str());
  std::thread canceller([&] {
    for (int i = 0; i < 6000 && access(marker.c_str(), F_OK) != 0; ++i) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    cancel = true;
  });
  const auto start = std::chrono::steady_clock::now();
  ChildProcessResult r = RunShell("echo begun; : > " + marker + "; sleep 60; echo never", options);
  canceller.join();
  unlink(marker.c_str());
  // Far below the time limit and the child's own sleep, even on a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.timed_out);
  EXPECT_FALSE(r.Succeeded());
  EXPECT_EQ(r.output, "begun\n");
}

bool ProcessGoneOrZombie(const std::string& pid) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    size_t paren = line.rfind(')');
    if (paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z') {
      return true;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  return false;
}

TEST(ChildProcessTest, DescendantsLeftBehindAreKilledWithTheChild) {
  // The background sleep keeps the output pipe open; it must not outlive the
  // child, neither after a normal end nor after a time-out.
  ChildProcessResult r = RunShell("sleep 60 & echo $!");
  EXPECT_TRUE(r.Succeeded());
  ASSERT_FALSE(r.output.empty());
  std::string pid = r.output.substr(0, r.output.find('\n'));
  EXPECT_TRUE(ProcessGoneOrZombie(pid)) << pid;

  ChildProcessOptions options;
  options.time_limit = milliseconds(300);
  r = RunShell("sleep 61 & echo $!; wait", options);
  EXPECT_TRUE(r.timed_out);
  pid = r.output.substr(0, r.output.find('\n'));
  ASSERT_FALSE(pid.empty());
  EXPECT_TRUE(ProcessGoneOrZombie(pid)) << pid;
}

TEST(ChildProcessTest, LimitsTheAddressSpace) {
  ChildProcessOptions options;
  options.memory_limit_bytes = uint64_t{96} << 20;
  ChildProcessResult r = RunShell("ulimit -v", options);
  EXPECT_TRUE(r.Succeeded());
  EXPECT_EQ(r.output, std::to_string(96 * 1024) + "\n");

  // A shell that tries to hold 300 MB in a variable fails under the limit ...
  const std::string hog = "x=$(head -c 300000000 /dev/zero | tr '\\000' a); echo ${#x}";
  r = RunShell(hog, options);
  EXPECT_FALSE(r.Succeeded());
  EXPECT_EQ(r.output.find("300000000"), std::string::npos);

  // ... and no limit means none.
  r = RunShell("ulimit -v");
  EXPECT_EQ(r.output, "unlimited\n");
}

TEST(ChildProcessTest, ChildGetsOnlyItsStandardDescriptorsAndAnEmptyInput) {
  // Deliberately not close-on-exec, and above the descriptors that the child
  // itself reuses.
  int null_fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(null_fd, 0);
  int leaked = fcntl(null_fd, F_DUPFD, 20);
  close(null_fd);
  ASSERT_GE(leaked, 20);
  // Lists the shell's open descriptors among 0 .. leaked.
  std::string script = "n=0; while [ $n -le " + std::to_string(leaked) +
                       " ]; do [ -e /proc/$$/fd/$n ] && echo $n; n=$((n+1)); done; true";
  ChildProcessResult r = RunShell(script);
  close(leaked);
  EXPECT_EQ(r.output, "0\n1\n2\n");

  r = RunShell("if read line; then echo got; else echo eof; fi");
  EXPECT_EQ(r.output, "eof\n");
}

TEST(ChildProcessTest, ChildStartsWithTheDefaultSignalMask) {
  // Server threads block their stop signals; the helper must not inherit that.
  sigset_t term, old;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &old), 0);
  ChildProcessResult r = RunShell("kill -TERM $$; echo survived");
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_EQ(r.output, "");
}

TEST(ChildProcessTest, PassesArgumentsWithoutAShellAndRefusesWhatCannotBeStarted) {
  StatusOr<ChildProcessResult> r =
      RunChildProcess({"/bin/echo", "a b", "$HOME", "*", ""}, ChildProcessOptions{});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->output, "a b $HOME * \n");
  EXPECT_EQ(RunChildProcess({}, {}).status().code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(RunChildProcess({""}, {}).status().code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(RunChildProcess({"/nonexistent/program"}, {}).status().code(), StatusCode::kNotFound);
  // A folder is no program.
  EXPECT_FALSE(RunChildProcess({"/tmp"}, {}).ok());
}

TEST(ChildProcessTest, SeveralThreadsRunChildrenAtOnce) {
  constexpr int kThreads = 6;
  std::vector<std::string> outputs(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([i, &outputs] {
      std::string script = "for n in 1 2 3; do printf " + std::to_string(i) + "; done";
      for (int round = 0; round < 5; ++round) {
        StatusOr<ChildProcessResult> r =
            RunChildProcess({"/bin/sh", "-c", script}, ChildProcessOptions{});
        if (r.ok()) outputs[i] += r->output + "|";
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    std::string one = std::string(3, static_cast<char>('0' + i)) + "|";
    std::string expected;
    for (int round = 0; round < 5; ++round) expected += one;
    EXPECT_EQ(outputs[i], expected);
  }
}

}  // namespace
}  // namespace vantrel
