// fork() + setsid() + fork() + execv(): the grandchild runs the program and is
// adopted by init; the intermediate child is reaped here at once. Between
// fork() and execv() only async-signal-safe calls run, on memory prepared
// before the fork (the server is multi-threaded).
#include "platform/detached_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix_error.h"

extern char** environ;

namespace vantrel {

Status StartDetachedProcess(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return Status::InvalidArgument("no program to start");
  if (access(argv[0].c_str(), X_OK) != 0) return ErrnoStatus("start", argv[0], errno);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The grandchild reports a failed execv through this pipe; a successful
  // one closes it (close-on-exec) without a byte.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return ErrnoStatus("pipe", "", errno);
  const pid_t child = fork();
  if (child < 0) {
    const int err = errno;
    close(report[0]);
    close(report[1]);
    return ErrnoStatus("fork", "", err);
  }
  if (child == 0) {
    close(report[0]);
    setsid();
    if (fork() != 0) _exit(0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      if (null_fd > 2) close(null_fd);
    }
    execve(args[0], args.data(), environ);
    const int err = errno;
    (void)!write(report[1], &err, sizeof(err));
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int exec_error = 0;
  ssize_t n;
  do {
    n = read(report[0], &exec_error, sizeof(exec_error));
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof(exec_error))) {
    return ErrnoStatus("execute", argv[0], exec_error);
  }
  return Status::Ok();
}

}  // namespace vantrel
