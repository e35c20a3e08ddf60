// PDF text through the helper program (see pdf_text.h).
#include "pdf/pdf_text.h"

#include <signal.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/child_process.h"
#include "platform/environment.h"
#include "platform/served_folders.h"

#if defined(__SANITIZE_ADDRESS__)
#define VANTREL_PDF_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTREL_PDF_ASAN 1
#endif
#endif

namespace vantrel {
namespace {

constexpr char kHelperName[] = "vantrel-pdftext";
// More text than any image document keeps; a helper that writes more is
// stopped and what it wrote so far is used.
constexpr size_t kMaxHelperOutput = size_t{64} << 20;
// How many reported paths are remembered.
constexpr size_t kMaxLoggedPaths = 4096;
// The helper's exit code for a file whose pages it did not read because its
// streams inflate beyond the cap.
constexpr int kExitInflatesTooMuch = 3;
// The key under which a helper that cannot be started is reported.
constexpr char kHelperStartKey[] = "\x01helper";

#ifdef VANTREL_PDF_ASAN
constexpr uint64_t kDefaultMemoryLimit = 0;
#else
constexpr uint64_t kDefaultMemoryLimit = 1ull << 30;
#endif

// A whole non-negative decimal number, or nothing.
std::optional<uint64_t> ParseCount(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  uint64_t value = 0;
  const char* end = text->data() + text->size();
  auto [ptr, ec] = std::from_chars(text->data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::string SignalName(int sig) {
  switch (sig) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGABRT:
      return "SIGABRT";
    case SIGKILL:
      return "SIGKILL";
    case SIGBUS:
      return "SIGBUS";
    case SIGFPE:
      return "SIGFPE";
    case SIGILL:
      return "SIGILL";
    case SIGXCPU:
      return "SIGXCPU";
    default:
      return "signal " + std::to_string(sig);
  }
}

// Why the helper gave no text, for the log.
std::string FailureReason(const ChildProcessResult& r, const PdfTextOptions& options) {
  if (r.timed_out) {
    return "the time limit of " + std::to_string(options.time_limit.count()) + " s passed";
  }
  if (r.exited && r.exit_code == kExitInflatesTooMuch) {
    return "its compressed streams inflate to more than " +
           std::to_string(options.max_inflated_bytes >> 20) + " MiB";
  }
  if (r.exited) return "the text helper ended with exit code " + std::to_string(r.exit_code);
  if (r.signal != 0) return "the text helper was ended by " + SignalName(r.signal);
  return "the text helper ended abnormally";
}

// The text a failed helper delivered before it stopped, without a word it
// was cut off in (the text is sent page by page, each word followed by a
// blank and each information entry by CR LF).
std::string CompleteWords(std::string output) {
  const size_t last = output.find_last_of(" \n");
  output.resize(last == std::string::npos ? 0 : last + 1);
  return output;
}

}  // namespace

PdfTextOptions PdfTextOptions::FromEnvironment() {
  PdfTextOptions options;
  options.memory_limit_bytes = kDefaultMemoryLimit;
  std::optional<std::string> helper = EnvironmentValue("VANTREL_PDFTEXT");
  if (helper && !helper->empty()) {
    options.helper_path = *helper;
  } else {
    StatusOr<std::string> dir = SelfExecutableDirectory();
    if (dir.ok()) options.helper_path = (*dir == "/" ? "" : *dir) + "/" + kHelperName;
  }
  std::optional<uint64_t> seconds = ParseCount(EnvironmentValue("VANTREL_PDF_TIME_LIMIT"));
  // At least one second, at most a day.
  if (seconds && *seconds > 0 && *seconds <= 86400) {
    options.time_limit = std::chrono::seconds(*seconds);
  }
  std::optional<uint64_t> mib = ParseCount(EnvironmentValue("VANTREL_PDF_MEMORY_LIMIT_MB"));
  if (mib && *mib <= (uint64_t{1} << 24)) options.memory_limit_bytes = *mib << 20;
  std::optional<uint64_t> inflate = ParseCount(EnvironmentValue("VANTREL_PDF_INFLATE_LIMIT_MB"));
  if (inflate && *inflate <= (uint64_t{1} << 24)) options.max_inflated_bytes = *inflate << 20;
  return options;
}

PdfTextExtractor::PdfTextExtractor(PdfTextOptions options) : options_(std::move(options)) {}

std::string PdfTextExtractor::Extract(const std::string& native_path,
                                      const std::atomic<bool>* cancel) {
  if (options_.helper_path.empty()) {
    LogOnce(kHelperStartKey, "PDF text cannot be read: the helper program " +
                                 std::string(kHelperName) + " was not found");
    return "";
  }
  ChildProcessOptions child;
  child.time_limit = std::chrono::duration_cast<std::chrono::milliseconds>(options_.time_limit);
  child.memory_limit_bytes = options_.memory_limit_bytes;
  child.max_output_bytes = kMaxHelperOutput;
  child.cancel = cancel;
  std::vector<std::string> argv = {options_.helper_path};
  if (options_.max_text_bytes > 0) {
    child.max_output_bytes = std::min(options_.max_text_bytes, kMaxHelperOutput);
    argv.push_back("--max-bytes");
    argv.push_back(std::to_string(child.max_output_bytes));
  }
  if (options_.max_inflated_bytes > 0) {
    argv.push_back("--max-inflated");
    argv.push_back(std::to_string(options_.max_inflated_bytes));
  }
  // The helper opens the file itself: it must keep to the same rule.
  const std::string served = ServedFolderHolding(native_path);
  if (!served.empty()) {
    argv.push_back("--below");
    argv.push_back(served);
  }
  argv.push_back("--");
  argv.push_back(native_path);
  StatusOr<ChildProcessResult> run = RunChildProcess(argv, child);
  if (!run.ok()) {
    LogOnce(kHelperStartKey, "PDF text cannot be read: " + run.status().ToString());
    return "";
  }
  ChildProcessResult& result = *run;
  // A helper stopped for writing too much has delivered more than is kept.
  if (result.Succeeded() || result.output_truncated) return std::move(result.output);
  if (result.cancelled) return "";
  std::string text = CompleteWords(std::move(result.output));
  LogOnce(native_path, std::string(text.empty() ? "PDF text not read (" : "PDF text cut short (") +
                           FailureReason(result, options_) + "): " + native_path);
  return text;
}

void PdfTextExtractor::LogOnce(const std::string& key, const std::string& line) {
  {
    MutexLock lock(&mu_);
    if (!logged_.insert(key).second) return;
    logged_order_.push_back(key);
    if (logged_order_.size() > kMaxLoggedPaths) {
      logged_.erase(logged_order_.front());
      logged_order_.pop_front();
    }
  }
  if (options_.log) options_.log(line);
}

}  // namespace vantrel
