#include "platform/unix_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix_error.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(addr->sun_path) ||
      path.find('\0') != std::string::npos) {
    return false;
  }
  memcpy(addr->sun_path, path.data(), path.size());
  return true;
}

StatusOr<UnixSocket> NewSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return ErrnoStatus("socket", path, errno);
  return UnixSocket(fd);
}

// Milliseconds left until `deadline` for poll(), at least 0.
int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(left.count());
}

// Waits for `events` on `fd` until `deadline`: 1 ready, 0 time-out, -1 error.
int WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, MillisLeft(deadline));
    if (n > 0) return 1;
    if (n == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

}  // namespace

UnixSocket& UnixSocket::operator=(UnixSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void UnixSocket::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

size_t MaxUnixSocketPath() { return sizeof(sockaddr_un{}.sun_path) - 1; }

StatusOr<UnixSocket> ConnectUnixSocket(const std::string& path) {
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) {
    return Status::InvalidArgument("socket path is empty or longer than " +
                                   std::to_string(MaxUnixSocketPath()) + " bytes: " + path);
  }
  StatusOr<UnixSocket> s = NewSocket(path);
  if (!s.ok()) return s.status();
  for (;;) {
    if (connect(s->fd(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) return s;
    if (errno == EINTR) continue;
    if (errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN) {
      return Status::Unavailable("nobody listens at " + path);
    }
    return ErrnoStatus("connect", path, errno);
  }
}

StatusOr<UnixSocket> ListenUnixSocket(const std::string& path) {
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) {
    return Status::InvalidArgument("socket path is empty or longer than " +
                                   std::to_string(MaxUnixSocketPath()) + " bytes: " + path);
  }
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      return Status::InvalidArgument("something other than a socket is at " + path);
    }
    StatusOr<UnixSocket> probe = ConnectUnixSocket(path);
    if (probe.ok()) return Status::FailedPrecondition("another process listens at " + path);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return ErrnoStatus("unlink", path, errno);
  }
  StatusOr<UnixSocket> s = NewSocket(path);
  if (!s.ok()) return s.status();
  // Only the owner may connect: the socket file is made with mode 0600.
  const mode_t old_mask = umask(0177);
  const int bound = bind(s->fd(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  const int bind_errno = errno;
  umask(old_mask);
  if (bound != 0) return ErrnoStatus("bind", path, bind_errno);
  if (listen(s->fd(), 16) != 0) return ErrnoStatus("listen", path, errno);
  return s;
}

StatusOr<UnixSocket> AcceptUnixSocket(const UnixSocket& listener,
                                      std::chrono::milliseconds timeout) {
  const int ready = WaitFor(listener.fd(), POLLIN, Clock::now() + timeout);
  if (ready == 0) return Status::Unavailable("no connection arrived");
  if (ready < 0) {
    if (errno == EINTR) return Status::Unavailable("interrupted");
    return ErrnoStatus("poll", "listening socket", errno);
  }
  for (;;) {
    const int fd = accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return UnixSocket(fd);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == ECONNABORTED) {
      return Status::Unavailable("connection went away");
    }
    return ErrnoStatus("accept", "listening socket", errno);
  }
}

Status SendAll(const UnixSocket& socket, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(socket.fd(), data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("send", "socket", errno);
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return Status::Ok();
}

Status SendAllWithFile(const UnixSocket& socket, std::string_view data, int file) {
  if (data.empty()) return Status::InvalidArgument("a file goes with at least one byte");
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  iovec iov{const_cast<char*>(data.data()), data.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof(control);
  cmsghdr* c = CMSG_FIRSTHDR(&msg);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(c), &file, sizeof(int));
  ssize_t n;
  do {
    n = sendmsg(socket.fd(), &msg, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return ErrnoStatus("send", "socket", errno);
  return SendAll(socket, data.substr(static_cast<size_t>(n)));
}

namespace {

// Takes the descriptors that came with a message: the first into `*file`
// when wanted and none was taken yet, the others closed.
void TakeFiles(msghdr& msg, int* file) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
      if (file != nullptr && *file < 0) {
        *file = fd;
      } else {
        close(fd);
      }
    }
  }
}

}  // namespace

StatusOr<std::string> ReceiveExactWithFile(const UnixSocket& socket, size_t size,
                                           std::chrono::milliseconds timeout, int* file) {
  if (file != nullptr) *file = -1;
  const Clock::time_point deadline = Clock::now() + timeout;
  std::string out(size, '\0');
  size_t have = 0;
  auto fail = [file](Status s) {
    if (file != nullptr && *file >= 0) {
      close(*file);
      *file = -1;
    }
    return s;
  };
  while (have < size) {
    const int ready = WaitFor(socket.fd(), POLLIN, deadline);
    if (ready == 0) return fail(Status::Unavailable("no answer in time"));
    if (ready < 0) return fail(ErrnoStatus("poll", "socket", errno));
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
    iovec iov{out.data() + have, size - have};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    const ssize_t n = recvmsg(socket.fd(), &msg, MSG_CMSG_CLOEXEC);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return fail(ErrnoStatus("recv", "socket", errno));
    }
    TakeFiles(msg, file);
    if (n == 0) return fail(Status::Corruption("the peer closed the connection"));
    have += static_cast<size_t>(n);
  }
  return out;
}

StatusOr<std::string> ReceiveExact(const UnixSocket& socket, size_t size,
                                   std::chrono::milliseconds timeout) {
  return ReceiveExactWithFile(socket, size, timeout, nullptr);
}

bool WaitReadable(const UnixSocket& socket, std::chrono::milliseconds timeout) {
  return WaitFor(socket.fd(), POLLIN, Clock::now() + timeout) == 1;
}

int PeerProcessId(const UnixSocket& socket) {
  ucred cred{};
  socklen_t len = sizeof(cred);
  if (getsockopt(socket.fd(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return -1;
  return cred.pid;
}

}  // namespace vantrel
