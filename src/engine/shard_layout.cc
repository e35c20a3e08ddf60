#include "engine/shard_layout.h"

#include <charconv>
#include <thread>

#include "engine/index_files.h"

namespace vantrel {
namespace {

constexpr size_t kMaxSettingsBytes = 64 * 1024;

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool ParseNumber(std::string_view text, uint32_t* value) {
  if (text.empty() || text.size() > 9) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool HostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-';
}

}  // namespace

uint64_t ShardHash(std::string_view name) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : name) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

uint32_t ShardOf(std::string_view name, uint32_t count) {
  return count <= 1 ? 0 : static_cast<uint32_t>(ShardHash(name) % count);
}

uint32_t DefaultShardCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores == 0) return 1;
  return cores > kMaxShards ? kMaxShards : cores;
}

bool ParseRemoteShard(std::string_view url, std::string* host, unsigned* port) {
  constexpr std::string_view kScheme = "tcp://";
  if (url.size() > 300 || url.substr(0, kScheme.size()) != kScheme) return false;
  std::string_view rest = url.substr(kScheme.size());
  const size_t colon = rest.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view h = rest.substr(0, colon);
  if (h.front() == '[') {
    if (h.size() < 3 || h.back() != ']') return false;
    h = h.substr(1, h.size() - 2);
    for (char c : h) {
      if (!HostChar(c) && c != ':') return false;
    }
  } else {
    for (char c : h) {
      if (!HostChar(c)) return false;
    }
  }
  uint32_t p = 0;
  if (!ParseNumber(rest.substr(colon + 1), &p) || p == 0 || p > 65535) return false;
  *host = std::string(h);
  *port = p;
  return true;
}

StatusOr<ShardSettings> ParseShardSettings(std::string_view text) {
  ShardSettings s;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const size_t blank = line.find(' ');
    const std::string_view key = line.substr(0, blank);
    const std::string_view value =
        blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    uint32_t n = 0;
    std::string host;
    unsigned port = 0;
    if (key == "layout" && ParseNumber(value, &n) && n >= 1 && n <= kMaxShards) {
      s.layout = n;
    } else if (key == "shards" && ParseNumber(value, &n) && n <= kMaxShards) {
      s.next_count = n;
    } else if (key == "remote" && ParseRemoteShard(value, &host, &port) &&
               s.remotes.size() < kMaxRemoteShards) {
      s.remotes.emplace_back(value);
    } else {
      return Status::Corruption("bad line in the shard settings: \"" +
                                std::string(line.substr(0, 80)) + "\"");
    }
  }
  return s;
}

std::string FormatShardSettings(const ShardSettings& s) {
  std::string out;
  if (s.layout != 0) out += "layout " + std::to_string(s.layout) + "\n";
  if (s.next_count != 0) out += "shards " + std::to_string(s.next_count) + "\n";
  for (const std::string& r : s.remotes) out += "remote " + r + "\n";
  return out;
}

StatusOr<ShardSettings> ReadShardSettings(FileSystem* fs, const std::string& folder) {
  const std::string path = Join(folder, kShardSettingsFile);
  StatusOr<std::string> text = fs->ReadFile(path, kMaxSettingsBytes);
  if (!text.ok()) {
    if (text.status().IsNotFound()) return ShardSettings{};
    return text.status();
  }
  StatusOr<ShardSettings> s = ParseShardSettings(*text);
  if (!s.ok()) return Status::Corruption(path + ": " + s.status().message());
  return s;
}

Status WriteShardSettings(FileSystem* fs, const std::string& folder, const ShardSettings& s) {
  return fs->WriteFileAtomic(Join(folder, kShardSettingsFile), FormatShardSettings(s));
}

Status KeepShardSettings(FileSystem* fs, const std::string& folder, ShardSettings s) {
  s.layout = 0;
  if (s == ShardSettings{}) return Status::Ok();
  VANTREL_RETURN_IF_ERROR(fs->CreateFolders(folder));
  return WriteShardSettings(fs, folder, s);
}

std::string ShardFolder(const std::string& folder, uint32_t shard) {
  return Join(folder, std::to_string(shard));
}

std::vector<std::string> LocalShardFolders(const ShardSettings& s, const std::string& folder) {
  if (s.layout == 0) return {folder};
  std::vector<std::string> out;
  for (uint32_t i = 0; i < s.layout; ++i) out.push_back(ShardFolder(folder, i));
  return out;
}

bool IsShardFolderName(std::string_view name) {
  return name.size() == 1 && name[0] >= '0' && name[0] < static_cast<char>('0' + kMaxShards);
}

bool HoldsIndex(FileSystem* fs, const std::string& folder) {
  return fs->Exists(Join(folder, kVersionFileName)) ||
         fs->Exists(Join(ShardFolder(folder, 0), kVersionFileName));
}

}  // namespace vantrel
