// The client side of one search: writing a request file into an index's
// search folder, waiting for the complete hit file, reading it in file order,
// and removing what the client made.
//
// The server reads a request file once it has its full size, deletes it and
// writes the hit file of the same name in place, front to back: the header
// with the record count first, then the records, the skip table last. The hit
// file carries no "done" mark of its own, so the client takes it as complete
// when at one poll:
//  - the hit file parses completely: a 408-byte header, skip table entry 0 =
//    408, every counted record present and well formed, and every skip table
//    entry pointing at its record (the skip table is written last);
//  - its bytes are the same as at the poll before.
// The request name is fresh (no request, hit or progress file of that name
// exists when it is chosen), so a hit file of that name can only be the
// server's answer to this request, written after the request was read, and
// no older hit file can leave a tail that looks like an answer.
//
// Thread safety: one exchange per object; the functions keep no state.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// One record of a hit file, in file order.
struct HitRecord {
  std::string key;  // file key, code-page text
  uint32_t time = 0;
  uint32_t type = 0;
  uint32_t entry = 0;
};

struct HitFileContent {
  uint32_t found = 0;  // hits found (offset 4)
  std::vector<HitRecord> records;
};

// Reads a hit file from its bytes in file order, checking every length and
// offset. kUnavailable when the bytes end before the counted records (or the
// skip table is still zero): a file still being written. kCorruption when a
// field can never be valid (a negative or too large count, a name length
// outside 1..256, a name without its NUL, a skip entry that points elsewhere).
// Bytes after the last counted record are ignored.
StatusOr<HitFileContent> ParseHitFile(std::string_view bytes);

// A fresh request name in `search_folder`: "VCTL" + 16 hexadecimal digits +
// `extension` (".REQ" or ".QRY"), chosen so that no file of that name, nor
// its hit, progress or temporary file, exists.
StatusOr<std::string> FreshRequestName(FileSystem* fs, const std::string& search_folder,
                                       std::string_view extension);

struct ExchangeOptions {
  std::chrono::milliseconds timeout{30000};
  std::chrono::milliseconds poll{10};
  // Called with the accepted count whenever the progress file shows a new one.
  std::function<void(uint32_t)> on_progress;
  // Leave the hit file in the folder (for a later merge or restrict).
  bool keep_hit_file = false;
  // Asked at every poll; true ends the wait at once, as a time-out does
  // (what the client made is removed, kUnavailable). May be empty.
  std::function<bool()> give_up;
};

struct ExchangeResult {
  std::string request_name;
  std::string hit_name;
  HitFileContent hits;
};

// Writes `request_bytes` as `request_name` into `search_folder` (under a
// temporary name first, renamed, then written once more in place so that a
// server that starts on write notices gets one for a file that is already
// whole), waits for the complete hit file, reads it and removes the hit and
// progress files and any request or temporary file left over. Fails with
// kUnavailable when no complete answer came within the time-out (the message
// says whether the server had taken the request) or when `give_up` said so,
// with kFailedPrecondition when the index is being prepared (its status file
// stands in the search folder while the exchange waits: the server empties
// the folder then, so no answer would come), with kCorruption
// when the hit file stays damaged over 20 polls, or with the file system's
// error when the request cannot be written.
StatusOr<ExchangeResult> RunSearchExchange(FileSystem* fs, const std::string& search_folder,
                                           const std::string& request_name,
                                           const std::string& request_bytes,
                                           const ExchangeOptions& options);

}  // namespace vantrel
