#include "pdf/render_service.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "pdf/thumbnail_job.h"
#include "pdf/thumbnail_render.h"
#include "platform/child_process.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/served_folders.h"
#include "platform/unique_fd.h"
#include "platform/unix_socket.h"

// Sanitizer builds map terabytes of shadow memory, which no address-space
// limit admits.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VANTREL_RENDER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VANTREL_RENDER_SANITIZED 1
#endif
#endif

namespace vantrel {

uint64_t DefaultRenderMemoryLimit() {
#ifdef VANTREL_RENDER_SANITIZED
  return 0;
#else
  return uint64_t{1} << 30;
#endif
}

namespace {

void Log(const std::string& line) {
  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  if (gmtime_r(&now, &tm) != nullptr) std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tm);
  std::fprintf(stderr, "vantrel-render %s: %s\n", stamp, line.c_str());
  std::fflush(stderr);
}

std::string HowItEnded(const ChildProcessResult& r) {
  if (r.timed_out) return "ran out of time";
  if (r.signal != 0) return "crashed (signal " + std::to_string(r.signal) + ")";
  std::string why = r.error_output;
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) why.pop_back();
  if (!why.empty()) return why;
  return "ended with exit code " + std::to_string(r.exit_code);
}

std::string AnswerWord(bool done) {
  const uint16_t word = done ? kThumbnailJobDone : 0;
  return std::string{static_cast<char>(word & 0xFF), static_cast<char>(word >> 8)};
}

// One connection: the record in, the job run, the answer out.
void ServeConnection(const RenderServiceOptions& options, const UnixSocket& client) {
  int received = -1;
  StatusOr<std::string> record =
      ReceiveExactWithFile(client, kThumbnailJobSize, options.receive_timeout, &received);
  const UniqueFd pdf_file(received);
  if (!record.ok()) {
    Log("no job record received: " + record.status().ToString());
    return;
  }
  StatusOr<ThumbnailJob> job = DecodeThumbnailJob(*record);
  RenderJobOutcome outcome;
  if (!job.ok()) {
    outcome.report = job.status().ToString();
  } else {
    outcome = RunJobInChild(options, *record, pdf_file.get());
  }
  if (!outcome.done) {
    Log("job failed for " + (job.ok() ? job->pdf_path : std::string("a damaged record")) + ": " +
        outcome.report);
  }
  Status answered = SendAll(client, AnswerWord(outcome.done));
  if (!answered.ok()) Log("the answer could not be sent: " + answered.ToString());
}

}  // namespace

std::string RecordToHex(std::string_view record) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(record.size() * 2);
  for (unsigned char c : record) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0xF]);
  }
  return out;
}

bool RecordFromHex(std::string_view hex, std::string* record) {
  auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return false;
  record->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = value(hex[i]);
    const int lo = value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    record->push_back(static_cast<char>(hi << 4 | lo));
  }
  return true;
}

RenderJobOutcome RunJobInChild(const RenderServiceOptions& options, std::string_view record,
                               int pdf_file) {
  ChildProcessOptions limits;
  limits.time_limit = options.job_time_limit;
  limits.memory_limit_bytes = options.job_memory_limit_bytes;
  limits.capture_stderr = true;
  limits.max_output_bytes = 64 << 10;
  std::vector<std::string> argv = {options.program, "--job", RecordToHex(record)};
  if (pdf_file >= 0) {
    limits.stdin_fd = pdf_file;
    argv.push_back(kPdfOnStdinArgument);
  }
  StatusOr<ChildProcessResult> ran = RunChildProcess(argv, limits);
  RenderJobOutcome outcome;
  if (!ran.ok()) {
    outcome.report = "cannot start " + options.program + ": " + ran.status().ToString();
    return outcome;
  }
  outcome.done = ran->Succeeded();
  outcome.written = ran->output;
  if (!outcome.done) outcome.report = HowItEnded(*ran);
  return outcome;
}

Status RunRenderService(const RenderServiceOptions& options) {
  StatusOr<UnixSocket> listener = ListenUnixSocket(options.socket_path);
  if (!listener.ok()) return listener.status();
  Log("listening at " + options.socket_path);
  auto idle_since = std::chrono::steady_clock::now();
  for (;;) {
    StatusOr<UnixSocket> client = AcceptUnixSocket(*listener, std::chrono::seconds(1));
    if (!client.ok()) {
      if (client.status().code() != StatusCode::kUnavailable) {
        Log("accept failed: " + client.status().ToString());
      }
      if (options.idle_exit.count() > 0 &&
          std::chrono::steady_clock::now() - idle_since >= options.idle_exit) {
        Log("idle; ending");
        return Status::Ok();
      }
      continue;
    }
    ServeConnection(options, *client);
    idle_since = std::chrono::steady_clock::now();
  }
}

int RenderJobFromHex(std::string_view hex, bool pdf_on_stdin) {
  std::string record;
  if (!RecordFromHex(hex, &record)) {
    std::fprintf(stderr, "the job argument is not a hexadecimal record\n");
    return 2;
  }
  StatusOr<ThumbnailJob> job = DecodeThumbnailJob(record);
  if (!job.ok()) {
    std::fprintf(stderr, "%s\n", job.status().ToString().c_str());
    return 2;
  }
  StatusOr<std::vector<std::string>> written =
      RenderThumbnailJob(*job, CodePage::Default(), DefaultFileSystem(),
                         pdf_on_stdin ? PathOfOpenFile(0) : std::string());
  if (!written.ok()) {
    std::fprintf(stderr, "%s\n", written.status().ToString().c_str());
    return 1;
  }
  for (const std::string& path : *written) std::printf("%s\n", path.c_str());
  return 0;
}

}  // namespace vantrel
