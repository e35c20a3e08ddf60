#include "core/index_statistics.h"

#include <optional>

namespace vantrel {
namespace {

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutPath(std::string* out, std::string_view path) {
  std::string_view kept = path.substr(0, kIndexStatisticsPathSize - 1);
  out->append(kept);
  out->append(kIndexStatisticsPathSize - kept.size(), '\0');
}

}  // namespace

std::string StatisticsFullPath(const ImageFolderRoots& roots, std::string_view file_key) {
  if (file_key.size() < 2) return {};
  char d0 = file_key[0], d1 = file_key[1];
  if (d0 < '0' || d0 > '9' || d1 < '0' || d1 > '9') return {};
  int slot = (d0 - '0') * 10 + (d1 - '0');
  if (slot >= kImageFolderSlots || roots[static_cast<size_t>(slot)].empty()) return {};
  std::string path = roots[static_cast<size_t>(slot)];
  path.push_back('\\');
  path.append(file_key.substr(2));
  return path;
}

IndexStatistics BuildIndexStatistics(LockedBrowseList timelist, LockedBrowseList indexed,
                                     LockedBrowseList dirlist, uint32_t engine_documents,
                                     const ImageFolderRoots& roots, int index_number) {
  IndexStatistics s;
  size_t files = timelist.Count();
  s.file_count = static_cast<uint32_t>(files);
  s.unused_documents =
      static_cast<int32_t>(static_cast<int64_t>(indexed.Count()) - static_cast<int64_t>(files));
  s.folder_count = static_cast<uint32_t>(dirlist.Count());
  s.engine_documents = engine_documents;
  s.index_number = index_number;
  if (files == 0) return s;
  // The list may change between these calls; an entry that is gone by then
  // leaves its path empty.
  if (std::optional<BrowseEntry> newest = timelist.EntryAt(0)) {
    s.newest_path = StatisticsFullPath(roots, newest->name);
    s.newest_time = newest->time;
  }
  if (std::optional<BrowseEntry> oldest = timelist.EntryAt(files - 1)) {
    s.oldest_path = StatisticsFullPath(roots, oldest->name);
    s.oldest_time = oldest->time;
  }
  return s;
}

std::string EncodeIndexStatistics(const IndexStatistics& stats) {
  std::string out;
  out.reserve(kIndexStatisticsSize);
  PutU32(&out, stats.file_count);
  PutU32(&out, static_cast<uint32_t>(stats.unused_documents));
  PutU32(&out, stats.folder_count);
  PutU32(&out, stats.engine_documents);
  PutU32(&out, 0);
  PutPath(&out, stats.newest_path);
  PutPath(&out, stats.oldest_path);
  PutU32(&out, stats.newest_time);
  PutU32(&out, stats.oldest_time);
  PutU32(&out, static_cast<uint32_t>(stats.index_number));
  return out;
}

}  // namespace vantrel
