// Helper programs in a limited child process on Linux (see child_process.h).
//
// fork() + execve() rather than posix_spawn, because the address-space and
// core-size limits must be set in the child before the program starts. The
// server is multi-threaded, so between fork() and execve() the child calls
// only async-signal-safe system calls, on memory prepared before the fork.
#include "platform/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "platform/posix_error.h"

extern char** environ;

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long the output pipes may stay open after the child itself has ended
// (a descendant that left the process group may still hold them).
constexpr std::chrono::milliseconds kDrainGrace{2000};
// Polling period when the kernel offers no pidfd.
constexpr int kPollPeriodMs = 10;
// How often a cancel flag is looked at.
constexpr int kCancelPeriodMs = 50;
// The descriptor on which the child reports a failed set-up to the parent.
constexpr int kReportFd = 3;

// What the child reports when it cannot start the program.
enum ChildStep : int {
  kStepDescriptors = 1,
  kStepLimits = 2,
  kStepExec = 3,
};

struct ChildReport {
  int step = 0;
  int error = 0;
};

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int* out() { return &fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Everything the child needs, prepared before fork() so the child allocates
// nothing.
struct ChildPlan {
  const char* path = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  int stdin_fd = -1;
  int stdout_fd = -1;
  int stderr_fd = -1;
  int report_fd = -1;
  bool limit_memory = false;
  rlimit memory_limit{};
  int max_fd = 1024;  // for closing descriptors when close_range is missing
};

[[noreturn]] void ChildFail(int step) {
  ChildReport report{step, errno};
  ssize_t ignored = write(kReportFd, &report, sizeof report);
  (void)ignored;
  _exit(127);
}

// Runs in the child between fork() and execve(): async-signal-safe calls only.
[[noreturn]] void RunChild(const ChildPlan& plan) {
  setpgid(0, 0);

  // Lift every descriptor we need above the report descriptor first, so that
  // the dup calls below cannot overwrite one another and always clear
  // close-on-exec on 0, 1 and 2.
  int in = fcntl(plan.stdin_fd, F_DUPFD_CLOEXEC, kReportFd + 1);
  int out = fcntl(plan.stdout_fd, F_DUPFD_CLOEXEC, kReportFd + 1);
  int err = fcntl(plan.stderr_fd, F_DUPFD_CLOEXEC, kReportFd + 1);
  int report = fcntl(plan.report_fd, F_DUPFD_CLOEXEC, kReportFd + 1);
  if (in < 0 || out < 0 || err < 0 || report < 0) _exit(127);
  if (dup3(report, kReportFd, O_CLOEXEC) < 0) _exit(127);
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) ChildFail(kStepDescriptors);
  // Nothing but 0, 1, 2 and the report descriptor (closed by execve) survives.
  if (syscall(SYS_close_range, kReportFd + 1, ~0u, 0) != 0) {
    for (int fd = kReportFd + 1; fd < plan.max_fd; ++fd) close(fd);
  }

  if (plan.limit_memory && setrlimit(RLIMIT_AS, &plan.memory_limit) != 0) {
    ChildFail(kStepLimits);
  }
  rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);  // best effort: a crashing helper leaves no core file

  // The server blocks its stop signals and may ignore SIGPIPE; the helper
  // starts with the defaults.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    sigaction(sig, &dfl, nullptr);  // fails harmlessly for reserved signals
  }

  execve(plan.path, plan.argv, plan.envp);
  ChildFail(kStepExec);
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<int64_t>(left, 1 << 30));
}

// True when the child has ended (it stays a zombie: its pid and process group
// cannot be reused until it is reaped).
bool ChildEnded(pid_t pid) {
  siginfo_t info;
  memset(&info, 0, sizeof info);
  for (;;) {
    int rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (rc == 0) return info.si_pid == pid;
    if (errno != EINTR) return true;  // ECHILD: nothing left to wait for
  }
}

void KillGroup(pid_t pid) {
  // The child may not have made its own group yet: kill it directly as well.
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
}

void Reap(pid_t pid, ChildProcessResult* result) {
  int status = 0;
  pid_t rc;
  do {
    rc = waitpid(pid, &status, 0);
  } while (rc < 0 && errno == EINTR);
  if (rc != pid) return;
  if (WIFEXITED(status)) {
    result->exited = true;
    result->exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result->signal = WTERMSIG(status);
  }
}

// Reads what is available on `fd` into `sink` (up to `cap` bytes kept).
// Returns false at end of file or on an error; sets *over_cap when bytes
// beyond the cap arrived.
bool Drain(int fd, std::string* sink, size_t cap, bool* over_cap) {
  std::array<char, 65536> buffer;
  ssize_t n;
  do {
    n = read(fd, buffer.data(), buffer.size());
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return n < 0 && errno == EAGAIN;
  size_t got = static_cast<size_t>(n);
  size_t room = cap > sink->size() ? cap - sink->size() : 0;
  sink->append(buffer.data(), std::min(got, room));
  if (got > room) *over_cap = true;
  return true;
}

// The parent's ends of the child's descriptors, and the child's ends until
// the fork.
struct ChildPipes {
  Fd out_read, out_write, err_read, err_write, report_read, report_write;
  Fd dev_null_in, dev_null_out;
};

Status MakePipes(const std::string& program, bool capture_stderr, ChildPipes* p) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return ErrnoStatus("cannot make a pipe for", program, errno);
  *p->out_read.out() = fds[0];
  *p->out_write.out() = fds[1];
  if (pipe2(fds, O_CLOEXEC) != 0) return ErrnoStatus("cannot make a pipe for", program, errno);
  *p->report_read.out() = fds[0];
  *p->report_write.out() = fds[1];
  *p->dev_null_in.out() = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (p->dev_null_in.get() < 0) return ErrnoStatus("cannot open", "/dev/null", errno);
  if (capture_stderr) {
    if (pipe2(fds, O_CLOEXEC) != 0) return ErrnoStatus("cannot make a pipe for", program, errno);
    *p->err_read.out() = fds[0];
    *p->err_write.out() = fds[1];
  } else {
    *p->dev_null_out.out() = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (p->dev_null_out.get() < 0) return ErrnoStatus("cannot open", "/dev/null", errno);
  }
  return Status::Ok();
}

ChildPlan MakePlan(const std::string& program, char* const* argv, const ChildPipes& p,
                   const ChildProcessOptions& options) {
  ChildPlan plan;
  plan.path = program.c_str();
  plan.argv = argv;
  plan.envp = environ;
  plan.stdin_fd = options.stdin_fd >= 0 ? options.stdin_fd : p.dev_null_in.get();
  plan.stdout_fd = p.out_write.get();
  plan.stderr_fd = options.capture_stderr ? p.err_write.get() : p.dev_null_out.get();
  plan.report_fd = p.report_write.get();
  if (options.memory_limit_bytes > 0) {
    plan.limit_memory = true;
    rlim_t limit = static_cast<rlim_t>(options.memory_limit_bytes);
    plan.memory_limit = rlimit{limit, limit};
  }
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    plan.max_fd = static_cast<int>(std::min<rlim_t>(files.rlim_cur, 1 << 20));
  }
  return plan;
}

// Waits until the child has executed the program (the report pipe closes)
// or reported why it could not; in that case the child is reaped.
Status AwaitExec(pid_t pid, const std::string& program, Fd* report_read) {
  ChildReport report;
  ssize_t got;
  do {
    got = read(report_read->get(), &report, sizeof report);
  } while (got < 0 && errno == EINTR);
  report_read->Close();
  if (got != static_cast<ssize_t>(sizeof report)) return Status::Ok();
  ChildProcessResult ignored;
  Reap(pid, &ignored);
  switch (report.step) {
    case kStepLimits:
      return ErrnoStatus("cannot limit the memory of", program, report.error);
    case kStepExec:
      return ErrnoStatus("cannot execute", program, report.error);
    default:
      return ErrnoStatus("cannot set up the descriptors of", program, report.error);
  }
}

// Reads the child's output until it has ended and its pipes are drained, or
// a limit or the cancel flag stops it (its group is then killed).
void CollectOutput(pid_t pid, ChildPipes& p, const ChildProcessOptions& options,
                   Clock::time_point start, ChildProcessResult* result) {
  Fd pid_fd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  const bool has_limit = options.time_limit.count() > 0;
  const Clock::time_point deadline = start + options.time_limit;
  bool ended = false;
  Clock::time_point drain_until{};

  for (;;) {
    if (!ended && ChildEnded(pid)) {
      ended = true;
      // Whatever the child left running in its group goes with it, so the
      // pipes reach end of file.
      KillGroup(pid);
      drain_until = Clock::now() + kDrainGrace;
    }
    if (p.out_read.get() < 0 && p.err_read.get() < 0 && ended) return;
    if (ended && Clock::now() >= drain_until) return;
    if (!ended && options.cancel != nullptr && options.cancel->load()) {
      result->cancelled = true;
      KillGroup(pid);
      return;
    }
    if (!ended && has_limit && Clock::now() >= deadline) {
      result->timed_out = true;
      KillGroup(pid);
      return;
    }

    std::array<pollfd, 3> fds;
    nfds_t count = 0;
    int out_slot = -1, err_slot = -1;
    if (p.out_read.get() >= 0) {
      out_slot = static_cast<int>(count);
      fds[count++] = {p.out_read.get(), POLLIN, 0};
    }
    if (p.err_read.get() >= 0) {
      err_slot = static_cast<int>(count);
      fds[count++] = {p.err_read.get(), POLLIN, 0};
    }
    int wait_ms = -1;
    if (!ended && pid_fd.get() >= 0) {
      fds[count++] = {pid_fd.get(), POLLIN, 0};
    } else if (!ended) {
      wait_ms = kPollPeriodMs;  // no pidfd: look at the child now and then
    }
    if (ended) {
      wait_ms = RemainingMs(drain_until);
    } else {
      if (has_limit) {
        int left = RemainingMs(deadline);
        wait_ms = wait_ms < 0 ? left : std::min(wait_ms, left);
      }
      if (options.cancel != nullptr) {
        wait_ms = wait_ms < 0 ? kCancelPeriodMs : std::min(wait_ms, kCancelPeriodMs);
      }
    }
    int ready = poll(fds.data(), count, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      KillGroup(pid);
      return;
    }
    if (out_slot >= 0 && fds[out_slot].revents != 0) {
      bool over = false;
      if (!Drain(p.out_read.get(), &result->output, options.max_output_bytes, &over)) {
        p.out_read.Close();
      }
      if (over) {
        result->output_truncated = true;
        KillGroup(pid);
        return;
      }
    }
    if (err_slot >= 0 && fds[err_slot].revents != 0) {
      bool over = false;
      size_t cap = options.max_error_bytes;
      if (!Drain(p.err_read.get(), &result->error_output, cap, &over)) p.err_read.Close();
    }
  }
}

}  // namespace

StatusOr<ChildProcessResult> RunChildProcess(const std::vector<std::string>& argv,
                                             const ChildProcessOptions& options) {
  if (argv.empty() || argv[0].empty()) {
    return Status::InvalidArgument("no program to run");
  }
  const std::string& program = argv[0];
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  ChildPipes pipes;
  Status made = MakePipes(program, options.capture_stderr, &pipes);
  if (!made.ok()) return made;
  const ChildPlan plan = MakePlan(program, args.data(), pipes, options);

  const Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid < 0) return ErrnoStatus("cannot start", program, errno);
  if (pid == 0) RunChild(plan);

  setpgid(pid, pid);  // also done by the child; whichever comes first wins
  pipes.out_write.Close();
  pipes.err_write.Close();
  pipes.report_write.Close();
  pipes.dev_null_in.Close();
  pipes.dev_null_out.Close();
  Status started = AwaitExec(pid, program, &pipes.report_read);
  if (!started.ok()) return started;

  ChildProcessResult result;
  CollectOutput(pid, pipes, options, start, &result);
  Reap(pid, &result);
  return result;
}

}  // namespace vantrel
