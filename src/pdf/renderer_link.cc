#include "pdf/renderer_link.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "pdf/thumbnail_job.h"
#include "platform/detached_process.h"
#include "platform/environment.h"
#include "platform/paths.h"

namespace vantrel {

RendererLinkOptions RendererLinkOptions::ForStartDirectory(const std::string& start_dir) {
  RendererLinkOptions options;
  options.socket_path = JoinNative(start_dir, "vantrel-render.sock");
  std::optional<std::string> program = EnvironmentValue("VANTREL_RENDER");
  if (program && !program->empty()) {
    options.renderer_program = *program;
  } else {
    StatusOr<std::string> folder = SelfExecutableDirectory();
    if (folder.ok()) options.renderer_program = JoinNative(*folder, "vantrel-render");
  }
  return options;
}

std::vector<std::string> RendererCommand(const RendererLinkOptions& options) {
  return {options.renderer_program, "--socket", options.socket_path};
}

SocketRendererLink::SocketRendererLink(RendererLinkOptions options)
    : options_(std::move(options)) {}

StatusOr<UnixSocket> SocketRendererLink::Connect(int tries) {
  Status last = Status::Unavailable("no connection tried");
  for (int i = 0; i < tries; ++i) {
    StatusOr<UnixSocket> s = ConnectUnixSocket(options_.socket_path);
    if (s.ok()) return s;
    last = s.status();
    if (last.code() == StatusCode::kInvalidArgument) break;
    std::this_thread::sleep_for(options_.try_pause);
  }
  return last;
}

namespace {

bool Stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

// Sleeps `wait` in short steps; false when `stop` came up.
bool SleepUnlessStopped(std::chrono::milliseconds wait, const std::atomic<bool>* stop) {
  const auto end = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (Stopped(stop)) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        end - now, std::chrono::milliseconds(100)));
  }
}

}  // namespace

StatusOr<UnixSocket> SocketRendererLink::StartRendererAndConnect(const std::atomic<bool>* stop) {
  if (options_.renderer_program.empty()) {
    return Status::Unavailable("no renderer listens at " + options_.socket_path);
  }
  if (Stopped(stop)) return Status::Unavailable("the server stops");
  Status started = StartDetachedProcess(RendererCommand(options_));
  if (!started.ok()) return started;
  for (std::chrono::milliseconds wait : options_.start_waits) {
    if (!SleepUnlessStopped(wait, stop)) return Status::Unavailable("the server stops");
    StatusOr<UnixSocket> s = ConnectUnixSocket(options_.socket_path);
    if (s.ok()) return s;
  }
  return Status::Unavailable("the renderer " + options_.renderer_program +
                             " does not listen at " + options_.socket_path);
}

StatusOr<uint16_t> SocketRendererLink::AwaitAnswer(const UnixSocket& socket,
                                                   const std::atomic<bool>* stop) {
  const auto deadline = std::chrono::steady_clock::now() + options_.answer_timeout;
  for (;;) {
    if (Stopped(stop)) return Status::Unavailable("the server stops");
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Status::Unavailable("no answer within the time-out");
    if (WaitReadable(socket, std::min(left, std::chrono::milliseconds(500)))) break;
  }
  StatusOr<std::string> answer = ReceiveExact(socket, 2, std::chrono::seconds(5));
  if (!answer.ok()) return answer.status();
  return static_cast<uint16_t>(static_cast<unsigned char>((*answer)[0]) |
                               static_cast<unsigned char>((*answer)[1]) << 8);
}

Status SocketRendererLink::SendJob(std::string_view record, int pdf_file,
                                   const std::atomic<bool>* stop) {
  const int tries = first_contact_ ? 1 : std::max(1, options_.tries);
  first_contact_ = false;
  StatusOr<UnixSocket> socket = Connect(tries);
  if (!socket.ok() && socket.status().code() != StatusCode::kInvalidArgument) {
    socket = StartRendererAndConnect(stop);
  }
  if (!socket.ok()) return socket.status();
  Status sent =
      pdf_file >= 0 ? SendAllWithFile(*socket, record, pdf_file) : SendAll(*socket, record);
  if (!sent.ok()) return Status::Unavailable("the renderer took no job: " + sent.ToString());
  StatusOr<uint16_t> word = AwaitAnswer(*socket, stop);
  if (!word.ok()) {
    return Status::Unavailable("the renderer gave no answer: " + word.status().ToString());
  }
  if (*word != kThumbnailJobDone) {
    return Status::Internal("the renderer could not make the pictures");
  }
  return Status::Ok();
}

}  // namespace vantrel
