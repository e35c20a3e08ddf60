// Stamps, side files and damaged copies of the configuration data file (see
// config_guard.h).

#include "core/config_guard.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/local_time.h"

namespace vantrel {
namespace {

// The same bound as LoadConfiguration: what lies beyond it is never read.
constexpr size_t kStampBytes = config_layout::kMaxFileSize + 1;
constexpr int kMaxSideCounter = 99;

// FNV-1a, 64 bits.
uint64_t HashBytes(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string UtcStampText(int64_t unix_seconds) {
  LocalTimeParts t = UtcTime(unix_seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Deletes the oldest "<name>.<kind>-..." copies beyond `keep`. The names sort
// by time (UTC stamp, then counter), so the oldest sort first.
Status PruneSideFiles(FileSystem& fs, const std::string& path, std::string_view kind,
                      size_t keep) {
  const std::string folder = FolderOf(path);
  const std::string prefix = NameOf(path) + "." + std::string(kind) + "-";
  VANTREL_ASSIGN_OR_RETURN(std::vector<FolderEntry> entries, fs.ListFolder(folder));
  std::vector<std::string> copies;
  for (const FolderEntry& e : entries) {
    if (!e.is_folder && e.name.compare(0, prefix.size(), prefix) == 0) copies.push_back(e.name);
  }
  if (copies.size() <= keep) return Status::Ok();
  std::sort(copies.begin(), copies.end());
  Status result;
  for (size_t i = 0; i + keep < copies.size(); ++i) {
    Status s = fs.DeleteFile(folder + (folder == "/" ? "" : "/") + copies[i]);
    if (!s.ok() && result.ok()) result = s;
  }
  return result;
}

}  // namespace

ConfigFileStamp StampOfBytes(std::string_view bytes) {
  return ConfigFileStamp{true, bytes.size(), HashBytes(bytes)};
}

StatusOr<ConfigFileStamp> ReadConfigFileStamp(FileSystem& fs, const std::string& path) {
  StatusOr<std::string> bytes = fs.ReadFileRange(path, 0, kStampBytes);
  if (bytes.ok()) return StampOfBytes(*bytes);
  if (bytes.status().IsNotFound()) return ConfigFileStamp{};
  return Status::IoError("cannot read the configuration data file " + path + ": " +
                         bytes.status().ToString());
}

StatusOr<std::string> UniqueSideName(FileSystem& fs, const std::string& path,
                                     std::string_view kind, int64_t unix_seconds) {
  const std::string base = path + "." + std::string(kind) + "-" + UtcStampText(unix_seconds);
  if (!fs.Exists(base)) return base;
  for (int n = 2; n <= kMaxSideCounter; ++n) {
    char counter[8];
    std::snprintf(counter, sizeof counter, "-%02d", n);
    if (!fs.Exists(base + counter)) return base + counter;
  }
  return Status::ResourceExhausted("no free name for another copy " + base + "-NN");
}

StatusOr<std::string> KeepDamagedCopy(FileSystem& fs, const std::string& path,
                                      int64_t unix_seconds) {
  VANTREL_ASSIGN_OR_RETURN(std::string kept, UniqueSideName(fs, path, "damaged", unix_seconds));
  VANTREL_RETURN_IF_ERROR(fs.CopyFile(path, kept));
  // The new copy sorts last, so pruning never takes it.
  PruneSideFiles(fs, path, "damaged", kKeptDamagedCopies).IgnoreError();
  return kept;
}

ConfigSaver::Outcome ConfigSaver::Save(const Configuration& config, int64_t unix_seconds) {
  Outcome out;
  if (side_path_.empty()) {
    StatusOr<ConfigFileStamp> now = ReadConfigFileStamp(*fs_, path_);
    if (!now.ok()) {
      // Whatever is there now cannot be checked, so it is not replaced.
      out.status = now.status();
      return out;
    }
    const bool changed = now->exists && !(*now == stamp_);
    if (!changed) {
      const std::string bytes = EncodeConfiguration(config);
      out.status = SaveConfiguration(*fs_, config, path_);
      if (out.status.ok()) stamp_ = StampOfBytes(bytes);
      return out;
    }
    StatusOr<std::string> side = UniqueSideName(*fs_, path_, "unsaved", unix_seconds);
    if (!side.ok()) {
      out.status = side.status();
      return out;
    }
    side_path_ = *side;
    out.newly_diverted = true;
  }
  out.side_path = side_path_;
  out.status = SaveConfiguration(*fs_, config, side_path_);
  return out;
}

}  // namespace vantrel
