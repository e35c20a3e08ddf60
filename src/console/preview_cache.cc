#include "console/preview_cache.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/paths.h"

namespace vantrel {
namespace {

constexpr char kMagic[4] = {'V', 'T', 'P', 'V'};
constexpr size_t kHeaderBytes = 8;
constexpr char kSuffix[] = ".pv";
constexpr size_t kNameDigits = 16;
// A preview of 160 pixels is some kilobytes; anything this large is foreign.
constexpr size_t kMaxEntryBytes = 4 << 20;

uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string Trimmed(std::string_view folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  return std::string(folder);
}

bool IsEntryName(std::string_view name) {
  if (name.size() != kNameDigits + sizeof kSuffix - 1 || !name.ends_with(kSuffix)) return false;
  return std::all_of(name.begin(), name.begin() + kNameDigits, [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
  });
}

void PutLe32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t GetLe32(std::string_view in) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[static_cast<size_t>(i)]);
  return v;
}

}  // namespace

PreviewCache::PreviewCache(FileSystem* fs, size_t max_entries)
    : fs_(fs), max_entries_(std::max<size_t>(max_entries, 1)) {}

std::string PreviewCache::FolderFor(std::string_view engine_folder) {
  return Trimmed(engine_folder) + ".previews";
}

std::string PreviewCache::Identity(std::string_view path, std::string_view key, uint64_t size,
                                   WinFileTime modified) {
  std::string id(path);
  id.push_back('\0');
  id.append(key);
  id.push_back('\0');
  id += std::to_string(size);
  id.push_back('\0');
  id += std::to_string(modified);
  return id;
}

std::string PreviewCache::EntryPath(std::string_view engine_folder, std::string_view identity) {
  char name[kNameDigits + 1];
  std::snprintf(name, sizeof name, "%016llx",
                static_cast<unsigned long long>(Fnv1a64(identity)));
  return JoinNative(FolderFor(engine_folder), std::string(name) + kSuffix);
}

bool PreviewCache::FolderIsSafe(const std::string& folder) {
  const std::string parent(FolderPart(folder));
  return !parent.empty() && fs_->IsInsideWithoutLinks(parent, folder) && fs_->IsFolder(folder);
}

std::optional<std::string> PreviewCache::Find(std::string_view engine_folder,
                                              std::string_view identity) {
  if (!FolderIsSafe(FolderFor(engine_folder))) return std::nullopt;
  StatusOr<std::string> entry = fs_->ReadFile(EntryPath(engine_folder, identity), kMaxEntryBytes);
  if (!entry.ok()) return std::nullopt;
  std::string_view bytes = *entry;
  if (bytes.size() < kHeaderBytes || bytes.substr(0, 4) != std::string_view(kMagic, 4)) {
    return std::nullopt;
  }
  const uint64_t id_size = GetLe32(bytes.substr(4, 4));
  if (id_size != identity.size() || bytes.size() - kHeaderBytes <= id_size ||
      bytes.substr(kHeaderBytes, identity.size()) != identity) {
    return std::nullopt;
  }
  return std::string(bytes.substr(kHeaderBytes + identity.size()));
}

Status PreviewCache::Store(std::string_view engine_folder, std::string_view identity,
                           std::string_view jpeg) {
  const std::string folder = FolderFor(engine_folder);
  if (identity.size() > kMaxEntryBytes / 2 || jpeg.empty() || jpeg.size() > kMaxEntryBytes / 2) {
    return Status::InvalidArgument("preview not kept: size out of range");
  }
  // Only the cache folder itself is made: a missing engine folder's parent
  // means an index that is not prepared.
  if (!fs_->IsFolder(std::string(FolderPart(folder)))) {
    return Status::FailedPrecondition("no folder for the previews beside " +
                                      std::string(engine_folder));
  }
  VANTREL_RETURN_IF_ERROR(fs_->CreateFolders(folder));
  if (!FolderIsSafe(folder)) {
    return Status::FailedPrecondition("preview folder is not a real folder: " + folder);
  }
  std::string entry(kMagic, 4);
  PutLe32(&entry, static_cast<uint32_t>(identity.size()));
  entry.append(identity);
  entry.append(jpeg);
  VANTREL_RETURN_IF_ERROR(fs_->WriteFileAtomic(EntryPath(engine_folder, identity), entry, 0600));
  CountAndTrim(folder);
  return Status::Ok();
}

void PreviewCache::CountAndTrim(const std::string& folder) {
  MutexLock lock(&trim_mu_);
  // A replaced entry is counted as a new one: at worst a listing too many.
  if (counted_ && ++entries_ <= max_entries_) return;
  StatusOr<std::vector<FolderEntry>> listed = fs_->ListFolder(folder);
  if (!listed.ok()) return;
  std::vector<FolderEntry> entries;
  for (FolderEntry& e : *listed) {
    if (!e.is_folder && !e.is_link && IsEntryName(e.name)) entries.push_back(std::move(e));
  }
  counted_ = true;
  entries_ = entries.size();
  if (entries.size() <= max_entries_) return;
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.modified < b.modified; });
  const size_t keep = max_entries_ * 3 / 4;
  for (size_t i = 0; i + keep < entries.size(); ++i) {
    if (fs_->DeleteFile(JoinNative(folder, entries[i].name)).ok()) --entries_;
  }
}

}  // namespace vantrel
