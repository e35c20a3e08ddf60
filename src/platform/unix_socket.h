// Unix domain stream sockets: the link between the server and its PDF
// renderer (vantrel-render), which listens on a socket in the server's start
// directory.
//
// Every call takes and returns plain descriptors wrapped in UnixSocket, which
// closes on destruction. Descriptors are close-on-exec. Reads and writes
// retry on EINTR and never raise SIGPIPE.
//
// Thread safety: a UnixSocket is used by one thread at a time; the functions
// may run on several threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vantrel {

class UnixSocket {
 public:
  UnixSocket() = default;
  explicit UnixSocket(int fd) : fd_(fd) {}
  ~UnixSocket() { Close(); }
  UnixSocket(UnixSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UnixSocket& operator=(UnixSocket&& other) noexcept;
  UnixSocket(const UnixSocket&) = delete;
  UnixSocket& operator=(const UnixSocket&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Close();

 private:
  int fd_ = -1;
};

// The longest socket path the kernel takes (sun_path less its NUL).
size_t MaxUnixSocketPath();

// Connects to the listening socket at `path`. kUnavailable when nobody
// listens there (no socket file, or a stale one), kInvalidArgument for a path
// that is too long, kIoError otherwise.
StatusOr<UnixSocket> ConnectUnixSocket(const std::string& path);

// Listens at `path` with mode 0600. A stale socket file left by an ended
// process is replaced; a path on which another process listens fails with
// kFailedPrecondition; anything else at the path that is not a socket (a
// file, a link) fails with kInvalidArgument and stays as it is.
StatusOr<UnixSocket> ListenUnixSocket(const std::string& path);

// Waits up to `timeout` for a connection. kUnavailable on time-out (or a
// signal that interrupted the wait), kIoError otherwise.
StatusOr<UnixSocket> AcceptUnixSocket(const UnixSocket& listener,
                                      std::chrono::milliseconds timeout);

// Writes all of `data`. kIoError when the peer went away.
Status SendAll(const UnixSocket& socket, std::string_view data);

// Reads exactly `size` bytes within `timeout` (counted from the call).
// kUnavailable on time-out, kCorruption when the peer closed the connection
// first (what arrived is dropped), kIoError otherwise.
StatusOr<std::string> ReceiveExact(const UnixSocket& socket, size_t size,
                                   std::chrono::milliseconds timeout);

// SendAll, with the open file `file` passed along with the first byte
// (SCM_RIGHTS): the peer gets its own descriptor of that very file.
Status SendAllWithFile(const UnixSocket& socket, std::string_view data, int file);

// ReceiveExact that also takes a file passed along with the bytes: `*file`
// gets its descriptor (close-on-exec, the caller's to close), or -1 when
// none came. Further descriptors are closed.
StatusOr<std::string> ReceiveExactWithFile(const UnixSocket& socket, size_t size,
                                           std::chrono::milliseconds timeout, int* file);

// True when data (or the end of the connection) can be read within
// `timeout`.
bool WaitReadable(const UnixSocket& socket, std::chrono::milliseconds timeout);

// The process id of the peer of a connected socket (SO_PEERCRED); -1 when
// it cannot be read.
int PeerProcessId(const UnixSocket& socket);

}  // namespace vantrel
