// The client side of one search (see ctl_search_exchange.h).

#include "tools/ctl_search_exchange.h"

#include <cstdio>
#include <random>
#include <thread>

#include "core/file_names.h"
#include "core/list_file.h"
#include "platform/byte_order.h"
#include "platform/paths.h"
#include "search/progress_file.h"
#include "search/request_names.h"

namespace vantrel {
namespace {

// The temporary name ends in neither "REQ" nor "QRY", so the server never
// takes it for a request.
constexpr char kTempSuffix[] = ".tmp";
// Most records a hit file can hold (the list capacity).
constexpr uint32_t kMaxHitRecords = 2'000'000;
constexpr size_t kMaxNameBytes = 256;  // name length field, NUL included
// Polls that must see the same damaged hit file before the client gives up
// on it.
constexpr int kDamagedPolls = 20;

// Removes `path` when it exists; a failure is reported on the way out only
// through the file staying behind.
void RemoveIfThere(FileSystem* fs, const std::string& path) {
  if (fs->Exists(path)) fs->DeleteFile(path).IgnoreError();
}

// The wait's end when the server is preparing the index (its status file
// stands in the search folder).
Status BeingPrepared(const std::string& search_folder) {
  return Status::FailedPrecondition(
      "the index is being prepared (" + std::string(names::kStatusFile) + " stands in " +
      search_folder +
      ": the server's start, a rescan or a rebuild); search again when it is ready");
}

}  // namespace

StatusOr<HitFileContent> ParseHitFile(std::string_view bytes) {
  if (bytes.size() < kListFileHeaderSize) {
    return Status::Unavailable("the hit file has " + std::to_string(bytes.size()) +
                               " bytes, less than its header");
  }
  const int32_t count = static_cast<int32_t>(LoadLe32(bytes, 0));
  if (count < 0 || static_cast<uint32_t>(count) > kMaxHitRecords) {
    return Status::Corruption("record count " + std::to_string(count) + " is impossible");
  }
  std::array<uint32_t, kListSkipEntries> skip{};
  for (size_t k = 0; k < kListSkipEntries; ++k) {
    skip[k] = LoadLe32(bytes, kListSkipTableOffset + 4 * k);
  }
  if (skip[0] == 0) return Status::Unavailable("the skip table is not written yet");
  if (skip[0] != kListFileHeaderSize) {
    return Status::Corruption("skip table entry 0 is " + std::to_string(skip[0]) + ", not 408");
  }

  HitFileContent content;
  content.found = LoadLe32(bytes, 4);
  content.records.reserve(static_cast<size_t>(count));
  size_t offset = kListFileHeaderSize;
  for (uint32_t i = 0; i < static_cast<uint32_t>(count); ++i) {
    if (i % kListSkipInterval == 0 && i / kListSkipInterval < kListSkipEntries) {
      uint32_t want = skip[i / kListSkipInterval];
      if (want == 0) return Status::Unavailable("the skip table is not written yet");
      if (want != offset) {
        return Status::Corruption("skip table entry " + std::to_string(i / kListSkipInterval) +
                                  " points to " + std::to_string(want) + ", record " +
                                  std::to_string(i) + " is at " + std::to_string(offset));
      }
    }
    if (bytes.size() - offset < kListRecordHeaderSize) {
      return Status::Unavailable("record " + std::to_string(i) + " is not written yet");
    }
    const uint32_t n = LoadLe32(bytes, offset);
    if (n < 1 || n > kMaxNameBytes) {
      return Status::Corruption("record " + std::to_string(i) + " has a name length of " +
                                std::to_string(n));
    }
    if (bytes.size() - offset - kListRecordHeaderSize < n) {
      return Status::Unavailable("record " + std::to_string(i) + " is not written yet");
    }
    std::string_view name = bytes.substr(offset + kListRecordHeaderSize, n);
    if (name.back() != '\0' || name.substr(0, n - 1).find('\0') != std::string_view::npos) {
      return Status::Corruption("the name of record " + std::to_string(i) +
                                " does not end at its length");
    }
    HitRecord r;
    r.key.assign(name.substr(0, n - 1));
    r.time = LoadLe32(bytes, offset + 4);
    r.type = LoadLe32(bytes, offset + 8);
    r.entry = LoadLe32(bytes, offset + 12);
    content.records.push_back(std::move(r));
    offset += kListRecordHeaderSize + n;
  }
  // Entries past the last record must be zero.
  for (size_t k = (static_cast<size_t>(count) + kListSkipInterval - 1) / kListSkipInterval;
       k < kListSkipEntries; ++k) {
    if (k > 0 && skip[k] != 0) {
      return Status::Corruption("skip table entry " + std::to_string(k) +
                                " points past the last record");
    }
  }
  return content;
}

StatusOr<std::string> FreshRequestName(FileSystem* fs, const std::string& search_folder,
                                       std::string_view extension) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char digits[20];
    std::snprintf(digits, sizeof digits, "%016llX", static_cast<unsigned long long>(random()));
    std::string name = std::string("VCTL") + digits + std::string(extension);
    bool taken = false;
    for (const std::string& other :
         {name, HitFileName(name), ProgressFileName(name), name + kTempSuffix}) {
      taken |= fs->Exists(JoinNative(search_folder, other));
    }
    if (!taken) return name;
  }
  return Status::ResourceExhausted("no free request name in " + search_folder);
}

StatusOr<ExchangeResult> RunSearchExchange(FileSystem* fs, const std::string& search_folder,
                                           const std::string& request_name,
                                           const std::string& request_bytes,
                                           const ExchangeOptions& options) {
  using Clock = std::chrono::steady_clock;
  ExchangeResult result;
  result.request_name = request_name;
  result.hit_name = HitFileName(request_name);
  const std::string request_path = JoinNative(search_folder, request_name);
  const std::string temp_path = request_path + kTempSuffix;
  const std::string hit_path = JoinNative(search_folder, result.hit_name);
  const std::string progress_path = JoinNative(search_folder, ProgressFileName(request_name));
  // While the server prepares the index, its status file stands in the
  // search folder, and the folder is emptied when the file comes and when
  // it goes: a request written meanwhile is never answered.
  const std::string status_path = JoinNative(search_folder, names::kStatusFile);

  // The server deletes a request before it answers; whatever is left of
  // this exchange goes when it ends.
  auto clean_up = [&](bool answered) {
    RemoveIfThere(fs, temp_path);
    RemoveIfThere(fs, request_path);
    if (!answered || !options.keep_hit_file) RemoveIfThere(fs, hit_path);
    RemoveIfThere(fs, progress_path);
  };

  // Written whole under the temporary name and renamed into place: the
  // server serves a request file once it is renamed in, so it never sees a
  // part of one.
  Status written = fs->WriteFile(temp_path, request_bytes);
  if (written.ok()) written = fs->Rename(temp_path, request_path);
  if (!written.ok()) {
    clean_up(false);
    return written;
  }

  const Clock::time_point deadline = Clock::now() + options.timeout;
  std::optional<uint32_t> last_progress;
  std::optional<std::string> previous;  // hit file bytes at the poll before
  bool taken = false;
  int damaged_polls = 0;
  Status last_problem = Status::Ok();
  while (true) {
    if (options.on_progress) {
      StatusOr<std::string> p = fs->ReadFile(progress_path, kProgressFileSize + 1);
      std::optional<uint32_t> count = p.ok() ? DecodeProgressFile(*p) : std::nullopt;
      if (count && count != last_progress) {
        last_progress = count;
        options.on_progress(*count);
      }
    }
    // The hit file of a fresh name exists only once the server has taken
    // the request; whether the request is gone is kept for the message.
    taken = taken || !fs->Exists(request_path);
    {
      StatusOr<std::string> bytes = fs->ReadFile(hit_path, kMaxListFileBytes);
      if (bytes.ok()) {
        StatusOr<HitFileContent> content = ParseHitFile(*bytes);
        const bool same = previous && *previous == *bytes;
        if (content.ok() && same) {
          result.hits = std::move(*content);
          clean_up(true);
          return result;
        }
        // The server never leaves a file it is writing in a damaged state
        // (a part not yet written reads as missing), so damage that stays
        // is the answer's own.
        damaged_polls =
            content.status().code() == StatusCode::kCorruption && same ? damaged_polls + 1 : 0;
        if (damaged_polls >= kDamagedPolls) {
          clean_up(false);
          return Status::Corruption("the hit file " + result.hit_name +
                                    " is damaged: " + content.status().message());
        }
        last_problem = content.status();
        previous = std::move(*bytes);
      } else if (!bytes.status().IsNotFound()) {
        last_problem = bytes.status();
      }
    }
    if (Clock::now() >= deadline) break;
    if (options.give_up && options.give_up()) {
      clean_up(false);
      return Status::Unavailable("gave up waiting for the answer to " + request_name);
    }
    if (fs->Exists(status_path)) {
      clean_up(false);
      return BeingPrepared(search_folder);
    }
    std::this_thread::sleep_for(options.poll);
  }
  clean_up(false);
  std::string why;
  if (!taken && !previous) {
    why = "the server did not take the request " + request_name +
          " (is it running and serving this index?)";
  } else if (!previous) {
    why = "the server took the request " + request_name + " but wrote no hit file";
  } else {
    why = "the hit file " + result.hit_name + " is not complete";
    if (!last_problem.ok()) why += " (" + last_problem.message() + ")";
  }
  return Status::Unavailable("timed out: " + why);
}

}  // namespace vantrel
