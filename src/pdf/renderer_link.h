// The link from the server to its PDF renderer (vantrel-render): one
// connection per thumbnail job over a Unix socket in the start directory.
//
// Sending a job:
//   1. connect: one try on the first contact of the process, then up to 15
//      tries with a 1 ms pause after each failure;
//   2. no connection: start the renderer (detached) and try again after 2,
//      2 and 4 seconds; still none: the job fails;
//   3. write the 1300-byte record unchanged and wait up to 240 s for the
//      answer, a 16-bit little-endian word; the job is done only when it is
//      the positive acknowledgement 0x8000.
//
// Thread safety: SendJob is called by one thread (the thumbnail thread).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/unix_socket.h"

namespace vantrel {

// What the thumbnail thread hands jobs to (tests use a fake).
class RendererLink {
 public:
  virtual ~RendererLink() = default;
  // Delivers one job record, with `pdf_file` (an open descriptor of its PDF,
  // -1 for none) passed along; OK only when the renderer acknowledged it,
  // else the reason. When `stop` (may be null) comes up, the waits end early
  // and the job fails.
  virtual Status SendJob(std::string_view record, int pdf_file, const std::atomic<bool>* stop) = 0;
};

struct RendererLinkOptions {
  std::string socket_path;       // required
  std::string renderer_program;  // started when nobody listens; empty: never
  int tries = 15;                // connection tries after the first contact
  std::chrono::milliseconds try_pause{1};
  std::vector<std::chrono::milliseconds> start_waits{std::chrono::seconds(2),
                                                     std::chrono::seconds(2),
                                                     std::chrono::seconds(4)};
  std::chrono::milliseconds answer_timeout{std::chrono::seconds(240)};

  // The socket "vantrel-render.sock" in `start_dir`; the renderer from
  // VANTREL_RENDER, else "vantrel-render" beside the running executable.
  static RendererLinkOptions ForStartDirectory(const std::string& start_dir);
};

// The arguments that start the renderer for `options`.
std::vector<std::string> RendererCommand(const RendererLinkOptions& options);

class SocketRendererLink final : public RendererLink {
 public:
  explicit SocketRendererLink(RendererLinkOptions options);
  Status SendJob(std::string_view record, int pdf_file, const std::atomic<bool>* stop) override;

 private:
  // A connection after up to `tries` attempts, or the last failure.
  StatusOr<UnixSocket> Connect(int tries);
  StatusOr<UnixSocket> StartRendererAndConnect(const std::atomic<bool>* stop);
  // The renderer's answer word within the answer time-out.
  StatusOr<uint16_t> AwaitAnswer(const UnixSocket& socket, const std::atomic<bool>* stop);

  RendererLinkOptions options_;
  bool first_contact_ = true;
};

}  // namespace vantrel
