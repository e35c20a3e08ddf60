// The PDF renderer service (vantrel-render): listens on a Unix socket and
// takes one thumbnail job per connection: the 1300-byte record in, a 16-bit
// little-endian answer word out (0x8000 when the pictures were made, 0 when
// not). Jobs run one after another. The server passes the PDF, opened
// without following links, along with the record (SCM_RIGHTS); a record
// without one is rendered from its path.
//
// Each job runs in a child process (the same program with --job) under a
// time and an address-space limit, so that a PDF that makes the PDF library
// crash, loop or exhaust memory costs that job only; the service logs it on
// standard error and goes on.
//
// Thread safety: one service per process; RunJobInChild may be called from
// several threads at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

// 1 GiB; none in builds with AddressSanitizer, whose programs reserve
// terabytes of address space and would not start under the limit.
uint64_t DefaultRenderMemoryLimit();

struct RenderServiceOptions {
  std::string socket_path;
  // This program (started with --job for every job).
  std::string program;
  std::chrono::seconds job_time_limit{60};
  uint64_t job_memory_limit_bytes = DefaultRenderMemoryLimit();  // 0: none
  // The service ends after this long without a connection; 0: never.
  std::chrono::seconds idle_exit{600};
  // How long a client may take to send its record.
  std::chrono::milliseconds receive_timeout{10000};
};

// How one job in a child ended.
struct RenderJobOutcome {
  bool done = false;
  std::string report;  // why not (the child's message, or how it ended)
  std::string written;  // the pictures made, a native path a line
};

// Runs the job `record` in a child process of `options.program`. With
// `pdf_file` (an open descriptor of the job's PDF, as the server passes it
// along with the record) the child reads that very file, as its standard
// input, rather than opening the job's path.
RenderJobOutcome RunJobInChild(const RenderServiceOptions& options, std::string_view record,
                               int pdf_file = -1);

// Serves until idle_exit passes without a connection. Fails when the socket
// cannot be made (another renderer listens there: kFailedPrecondition).
Status RunRenderService(const RenderServiceOptions& options);

// The record as hexadecimal text (the child's argument) and back.
std::string RecordToHex(std::string_view record);
bool RecordFromHex(std::string_view hex, std::string* record);

// Child side: decodes and renders one job, writing the native paths made to
// standard output, one a line, and failures to standard error; with
// `pdf_on_stdin` the PDF is read from standard input. Returns the exit code
// (0 done, 1 failed, 2 bad argument).
int RenderJobFromHex(std::string_view hex, bool pdf_on_stdin = false);

// The child's argument that says the PDF comes on standard input.
inline constexpr char kPdfOnStdinArgument[] = "--pdf-on-stdin";

}  // namespace vantrel
