// FakeNotifySocket: the service manager's end of NOTIFY_SOCKET for tests, a
// Unix datagram socket bound in a folder. While it lives, NOTIFY_SOCKET names
// it (in this process and in every child started meanwhile); the variable is
// removed again when it goes away.
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

class FakeNotifySocket {
 public:
  // `path` must be shorter than 108 bytes; ok() tells whether it is bound.
  explicit FakeNotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (fd_ < 0 || path.size() >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
    bound_ = ::setenv("NOTIFY_SOCKET", path.c_str(), 1) == 0;
  }
  ~FakeNotifySocket() {
    ::unsetenv("NOTIFY_SOCKET");
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  FakeNotifySocket(const FakeNotifySocket&) = delete;
  FakeNotifySocket& operator=(const FakeNotifySocket&) = delete;

  bool ok() const { return bound_; }

  // The next datagram, or nothing when none came within `limit`.
  std::optional<std::string> Receive(std::chrono::milliseconds limit) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return std::nullopt;
    char buffer[4096];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<size_t>(n));
  }

  // Receives until a datagram contains `text`; every datagram seen is added
  // to `seen`. False when none did within `limit`.
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit,
               std::vector<std::string>* seen) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      std::optional<std::string> got = Receive(left);
      if (!got) return false;
      seen->push_back(*got);
      if (got->find(text) != std::string::npos) return true;
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

}  // namespace vantrel
