// Process-level services on Linux (see process.h).
#include "platform/process.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/poll.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace vantrel {
namespace {

constexpr int kLowestNice = 19;
// pthread names hold 15 bytes and a NUL.
constexpr size_t kMaxThreadName = 15;

Status OsError(const std::string& what, int err) {
  return Status::IoError(what + ": " + strerror(err));
}

pid_t CurrentTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);  // a closed terminal or "reload": stop cleanly
  return set;
}

}  // namespace

StatusOr<std::string> SelfExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return OsError("cannot read /proc/self/exe", errno);
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      return buffer;
    }
    // The link may have been cut to fit: try again with more room.
    if (buffer.size() >= (1u << 16)) return Status::IoError("executable path is too long");
    buffer.resize(buffer.size() * 4);
  }
}

Status RelaunchSelf(const std::string& exe, const std::string& start_dir,
                    const std::vector<std::string>& args) {
  if (exe.empty()) return Status::InvalidArgument("no executable to relaunch");
  if (chdir(start_dir.c_str()) != 0) {
    return OsError("cannot return to the start directory " + start_dir, errno);
  }
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // execv keeps the calling thread's signal mask; the stop signals blocked by
  // StopSignals must not stay blocked in a process that has not installed it.
  sigset_t empty, old;
  sigemptyset(&empty);
  pthread_sigmask(SIG_SETMASK, &empty, &old);
  execv(exe.c_str(), argv.data());
  int err = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return OsError("cannot relaunch " + exe, err);
}

Status SetCurrentThreadLowestPriority() {
  sched_param param{};
  param.sched_priority = 0;
  if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) == 0) return Status::Ok();
  // Some kernels and containers refuse SCHED_IDLE; nice 19 is the next best.
  // On Linux the nice value of a thread id is the thread's own.
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentTid()), kLowestNice) == 0) {
    return Status::Ok();
  }
  return OsError("cannot lower the thread priority", errno);
}

Status SetCurrentThreadNormalPriority() {
  sched_param param{};
  param.sched_priority = 0;
  int rc = pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
  if (rc != 0) {
    return Status::Unavailable(std::string("cannot leave the idle priority: ") + strerror(rc));
  }
  errno = 0;
  int nice_now = getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentTid()));
  if (nice_now == -1 && errno != 0) return OsError("cannot read the thread priority", errno);
  if (nice_now > 0 && setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentTid()), 0) != 0) {
    return Status::Unavailable(std::string("cannot raise the thread priority: ") + strerror(errno));
  }
  return Status::Ok();
}

bool CurrentThreadHasLowestPriority() {
  int policy = 0;
  sched_param param{};
  if (pthread_getschedparam(pthread_self(), &policy, &param) == 0 && policy == SCHED_IDLE) {
    return true;
  }
  errno = 0;
  int nice_now = getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentTid()));
  return errno == 0 && nice_now >= kLowestNice;
}

void SetThreadName(std::string_view name) {
  size_t length = std::min(name.size(), kMaxThreadName);
  // Do not cut inside a UTF-8 sequence: back up over continuation bytes.
  if (length < name.size()) {
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  }
  std::string cut(name.substr(0, length));
  pthread_setname_np(pthread_self(), cut.c_str());  // cannot fail at <= 15 bytes
}

std::string CurrentThreadName() {
  char buffer[kMaxThreadName + 1] = {};
  if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) != 0) return "";
  return buffer;
}

bool KernelHasInotify() {
  int fd = inotify_init1(IN_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return true;
  }
  return errno != ENOSYS;
}

StatusOr<std::unique_ptr<StopSignals>> StopSignals::Install() {
  std::unique_ptr<StopSignals> stop(new StopSignals());
  sigset_t set = StopSignalSet();
  // A process started in the background by a shell inherits SIGINT ignored,
  // and an ignored signal is discarded instead of being queued for the
  // signalfd: take the default disposition back (the signals are blocked
  // below, so the default action never runs).
  // SIGHUP is left ignored when it was (nohup): the operator asked for a
  // server that outlives its terminal.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  int rc = pthread_sigmask(SIG_BLOCK, &set, &stop->old_mask_);
  if (rc != 0) return OsError("cannot block the stop signals", rc);
  stop->mask_saved_ = true;
  stop->signal_fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (stop->signal_fd_ < 0) return OsError("cannot open a signalfd", errno);
  stop->wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop->wake_fd_ < 0) return OsError("cannot open an eventfd", errno);
  return stop;
}

StopSignals::~StopSignals() {
  if (signal_fd_ >= 0) close(signal_fd_);
  if (wake_fd_ >= 0) close(wake_fd_);
  if (mask_saved_) pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
}

std::optional<StopSignals::Reason> StopSignals::Wait(
    std::optional<std::chrono::milliseconds> timeout) {
  const auto deadline =
      std::chrono::steady_clock::now() + timeout.value_or(std::chrono::milliseconds(0));
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(take_mu_);
      // A signal first: it says more than a request.
      signalfd_siginfo info;
      ssize_t n = read(signal_fd_, &info, sizeof info);
      if (n == static_cast<ssize_t>(sizeof info)) {
        stop_taken_ = true;
        return Reason{static_cast<int>(info.ssi_signo), false};
      }
      uint64_t count = 0;
      if (read(wake_fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
        stop_taken_ = true;
        return Reason{0, true};
      }
    }
    int wait_ms = -1;
    if (timeout) {
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      wait_ms = static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX));
    }
    pollfd fds[2] = {{signal_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    // EINTR and readiness both lead back to the reads above.
    poll(fds, 2, wait_ms);
  }
}

bool StopSignals::RunUnlessStopTaken(const std::function<void()>& action) {
  std::lock_guard<std::mutex> lock(take_mu_);
  if (stop_taken_) return false;
  action();
  return true;
}

void StopSignals::RequestStop() {
  uint64_t one = 1;
  // Fails only when the counter would overflow, i.e. a stop is pending anyway.
  ssize_t ignored = write(wake_fd_, &one, sizeof one);
  (void)ignored;
}

}  // namespace vantrel
