// The real vantrel binary as a child process, for whole-server tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/config_file.h"
#include "core/file_names.h"
#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace vantrel {

using std::chrono::milliseconds;

// The server as a child process, its standard error in a file.
class ServerProcess {
 public:
  ServerProcess(const std::string& start_dir, const std::vector<std::string>& args,
                const std::string& stderr_path)
      : stderr_path_(stderr_path) {
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 2);
      dup2(fd, 1);
      if (chdir(start_dir.c_str()) != 0) _exit(127);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(VANTREL_SERVER_BINARY));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(VANTREL_SERVER_BINARY, argv.data());
      _exit(127);
    }
  }
  ~ServerProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  std::string Output() const {
    StatusOr<std::string> text = DefaultFileSystem()->ReadFile(stderr_path_);
    return text.ok() ? *text : std::string();
  }
  bool WaitForOutput(const std::string& text, milliseconds limit = milliseconds(10000)) const {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
  }
  // The exit status, or -1 when the process did not end in time.
  int WaitExit(milliseconds limit = milliseconds(15000)) {
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

 private:
  std::string stderr_path_;
  pid_t pid_ = -1;
  bool exited_ = false;
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
  def.image_folders[0].path = OfflineFolderOf(dir.Path("index"));
  def.image_folders[1].path = dir.Path("images");
  config.indexes.push_back(def);
  return SaveConfiguration(*DefaultFileSystem(), config,
                           dir.Path("start/") + names::kConfigurationFile)
      .ok();
}

}  // namespace vantrel
