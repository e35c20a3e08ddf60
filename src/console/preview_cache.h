// PreviewCache: the console's picture previews kept on disk, so that a
// picture is decoded once, not at every look at a search page.
//
// Where: beside the index's engine folder, in "<engine folder>.previews"
// (for <index folder>/VT_DATA/VT_INDEX that is
// <index folder>/VT_DATA/VT_INDEX.previews). It goes with its index folder
// and never lies in an image folder. Clients may write below the index
// folder, so the cache folder is used only when it is a real folder (a link
// of that name is refused, never followed), its files are read without
// following links, replaced by rename, and get mode 0600.
//
// What: one file per preview, "<16 hex digits>.pv", named by a 64-bit FNV-1a
// hash of the picture's identity (path, file key, size, modification time).
// A changed picture has a new identity and so a new file. A file holds
//   "VTPV", the identity's length (4 bytes, little-endian), the identity,
//   the preview's JPEG bytes,
// and is taken only when the identity in it is the one asked for, so that
// two identities with one hash never share a preview.
//
// How many: when a store makes more than `max_entries` preview files (the
// folder is listed at the first store, and counted from there on), the
// oldest are deleted until three quarters remain.
//
// Thread safety: every method may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/mutex.h"
#include "platform/status.h"

namespace vantrel {

class PreviewCache {
 public:
  PreviewCache(FileSystem* fs, size_t max_entries);

  // "<engine folder>.previews" (trailing '/' of the engine folder dropped).
  static std::string FolderFor(std::string_view engine_folder);

  // The identity of a picture (a byte string; the parts separated by NULs).
  static std::string Identity(std::string_view path, std::string_view key, uint64_t size,
                              WinFileTime modified);

  // The kept preview of `identity`, or nothing (none kept, an unreadable or
  // foreign file, a link in its place, a cache folder that is a link).
  std::optional<std::string> Find(std::string_view engine_folder, std::string_view identity);

  // Keeps `jpeg` as the preview of `identity`.
  Status Store(std::string_view engine_folder, std::string_view identity, std::string_view jpeg);

  // The file that holds (or would hold) the preview of `identity`.
  static std::string EntryPath(std::string_view engine_folder, std::string_view identity);

 private:
  // True when the cache folder is a real folder beside the engine folder.
  bool FolderIsSafe(const std::string& folder);
  // Counts a new entry; lists and trims the folder when needed.
  void CountAndTrim(const std::string& folder) EXCLUDES(trim_mu_);

  FileSystem* const fs_;
  const size_t max_entries_;
  Mutex trim_mu_;
  bool counted_ GUARDED_BY(trim_mu_) = false;
  size_t entries_ GUARDED_BY(trim_mu_) = 0;  // preview files in the folder, as far as known
};

}  // namespace vantrel
