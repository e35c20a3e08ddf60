// vantrel-render: the PDF renderer service that makes the thumbnails and
// previews of the PDF files the server indexes (see pdf/render_service.h).
//
//   vantrel-render --socket PATH [--idle-exit SECONDS] [--time-limit SECONDS]
//                  [--memory-limit-mb N]
//       serves thumbnail jobs at the Unix socket PATH, one per connection,
//       each in a child process with the time limit (default 60 s) and the
//       address-space limit (default 1024 MiB, 0 for none); ends after
//       SECONDS without a job (default 600, 0: never). The server starts it
//       when nobody listens at its socket.
//   vantrel-render --job HEX [--pdf-on-stdin]
//       renders one job record given as hexadecimal text (the service's
//       child), reading the PDF from standard input when told so; prints
//       the pictures written.
//
// Exit codes: 0 done, 1 failed, 2 wrong command line.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "pdf/pdf_reader.h"
#include "pdf/render_service.h"
#include "platform/process.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: vantrel-render --socket PATH [--idle-exit SECONDS] [--time-limit SECONDS]\n"
               "                      [--memory-limit-mb N]\n"
               "       vantrel-render --job HEX [--pdf-on-stdin]\n");
  return 2;
}

bool ParseNumber(std::string_view text, uint64_t* out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

int main(int argc, char** argv) {
  vantrel::SilencePdfLibrary();
  if ((argc == 3 || argc == 4) && std::string_view(argv[1]) == "--job") {
    if (argc == 4 && std::string_view(argv[3]) != vantrel::kPdfOnStdinArgument) return Usage();
    return vantrel::RenderJobFromHex(argv[2], argc == 4);
  }
  vantrel::RenderServiceOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) return Usage();
    const std::string_view value = argv[++i];
    uint64_t n = 0;
    if (arg == "--socket") {
      options.socket_path = std::string(value);
    } else if (arg == "--idle-exit" && ParseNumber(value, &n)) {
      options.idle_exit = std::chrono::seconds(n);
    } else if (arg == "--time-limit" && ParseNumber(value, &n) && n > 0) {
      options.job_time_limit = std::chrono::seconds(n);
    } else if (arg == "--memory-limit-mb" && ParseNumber(value, &n) && n < (uint64_t{1} << 40)) {
      options.job_memory_limit_bytes = n << 20;
    } else {
      return Usage();
    }
  }
  if (options.socket_path.empty()) return Usage();
  vantrel::StatusOr<std::string> self = vantrel::SelfExecutablePath();
  if (!self.ok()) {
    std::fprintf(stderr, "vantrel-render: %s\n", self.status().ToString().c_str());
    return 1;
  }
  options.program = *self;
  vantrel::Status served = vantrel::RunRenderService(options);
  if (!served.ok()) {
    std::fprintf(stderr, "vantrel-render: %s\n", served.ToString().c_str());
    return 1;
  }
  return 0;
}
