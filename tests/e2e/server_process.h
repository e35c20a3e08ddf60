// The real vantrel binary as a child process, for whole-server tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/config_file.h"
#include "core/file_names.h"
#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace vantrel {

using std::chrono::milliseconds;

// The server as a child process. Its standard output and error go into a
// file, or, when no file is named, into a pipe that the test reads and may
// close (as when the server runs under a log reader that exits).
class ServerProcess {
 public:
  struct Options {
    std::string output_path;  // empty: a pipe
    int run_as = -1;          // a user and group id to run as (needs root); -1: the test's own
  };

  ServerProcess(const std::string& start_dir, const std::vector<std::string>& args,
                const std::string& output_path)
      : ServerProcess(start_dir, args, Options{output_path}) {}
  ServerProcess(const std::string& start_dir, const std::vector<std::string>& args,
                const Options& options)
      : output_path_(options.output_path) {
    // Everything the child needs is made before the fork: this test process
    // runs threads (an engine of its own), so the child may only make system
    // calls until it execs; an allocation there can wait forever on a lock
    // that another thread held at the fork.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VANTREL_SERVER_BINARY));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (output_path_.empty()) {
      if (pipe2(fds, O_CLOEXEC) != 0) return;
    } else {
      fds[1] = open(output_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fds[1] < 0) return;
    }
    // Closed by a successful exec, or carries the child's errno.
    int exec_report[2] = {-1, -1};
    if (pipe2(exec_report, O_CLOEXEC) != 0) {
      close(fds[0]);
      close(fds[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 2);
      dup2(fds[1], 1);
      int err = 0;
      if (chdir(start_dir.c_str()) != 0) err = errno;
      if (err == 0 && options.run_as >= 0 &&
          (setgid(options.run_as) != 0 || setuid(options.run_as) != 0)) {
        err = errno;
      }
      if (err == 0) execv(VANTREL_SERVER_BINARY, argv.data());
      if (err == 0) err = errno;
      (void)!write(exec_report[1], &err, sizeof err);
      _exit(127);
    }
    close(exec_report[1]);
    if (pid_ > 0) {
      int err = 0;
      ssize_t n;
      while ((n = read(exec_report[0], &err, sizeof err)) < 0 && errno == EINTR) {
      }
      if (n > 0) start_error_ = std::string("server did not start: ") + std::strerror(err);
    }
    close(exec_report[0]);
    close(fds[1]);
    if (output_path_.empty()) read_fd_ = fds[0];
  }
  ~ServerProcess() {
    CloseOutput();
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // What the server wrote so far (from a pipe: what was read so far).
  std::string Output() const {
    if (!start_error_.empty()) return start_error_;
    if (output_path_.empty()) return piped_;
    StatusOr<std::string> text = DefaultFileSystem()->ReadFile(output_path_);
    if (!text.ok()) return "(cannot read " + output_path_ + ": " + text.status().ToString() + ")";
    return *text;
  }
  bool WaitForOutput(const std::string& text, milliseconds limit = milliseconds(10000)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Output().find(text) != std::string::npos) return true;
      if (output_path_.empty()) {
        if (!ReadPipe()) return false;
      } else {
        std::this_thread::sleep_for(milliseconds(20));
      }
    }
    return false;
  }
  // Closes the test's end of the pipe: the server's next writes meet a broken pipe.
  void CloseOutput() {
    if (read_fd_ >= 0) close(read_fd_);
    read_fd_ = -1;
  }
  // The exit status (128 + signal when a signal ended it), or -1 when the
  // process did not end in time.
  int WaitExit(milliseconds limit = milliseconds(30000)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
    return -1;
  }
  void Signal(int sig) { kill(pid_, sig); }
  pid_t pid() const { return pid_; }

 private:
  // Waits up to 200 ms for bytes on the pipe; false at its end.
  bool ReadPipe() {
    if (read_fd_ < 0) return false;
    pollfd p{read_fd_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) return true;
    char buffer[4096];
    ssize_t n = read(read_fd_, buffer, sizeof buffer);
    if (n <= 0) return false;
    piped_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  std::string output_path_;
  pid_t pid_ = -1;
  int read_fd_ = -1;
  bool exited_ = false;
  std::string piped_;
  std::string start_error_;  // why the child never ran the server
};

// A start directory "start" whose configuration holds one active index
// "Photos" (folder "index") over the image folder "images" (with "images/2024").
// Returns false when a folder or the file cannot be made.
inline bool MakeOneIndexStart(const TempDir& dir) {
  if (!dir.MakeFolder("start") || !dir.MakeFolder("index") || !dir.MakeFolder("images/2024")) {
    return false;
  }
  Configuration config;
  IndexDefinition def = NewIndexDefinition("Photos", dir.Path("index")).value();
  def.active = 1;
  // Never the hour of the nightly optimization, which would otherwise run
  // (and restart the database task) when the tests run at 04:00.
  def.optimize_hour = 24;
  def.image_folders[0].path = OfflineFolderOf(dir.Path("index"));
  def.image_folders[1].path = dir.Path("images");
  config.indexes.push_back(def);
  return SaveConfiguration(*DefaultFileSystem(), config,
                           dir.Path("start/") + names::kConfigurationFile)
      .ok();
}

}  // namespace vantrel
