// The folder scanner: finds the image files of an image folder and tells the
// caller which folders are new, changed or gone since the last listing.
//
// Keys: a folder key is the image folder's slot as two digits ("03") followed
// by the folder's path relative to the image folder ("03Sport\2024"); the
// image folder itself is the two digits alone. A file key is the same for a
// file ("03Sport\2024\img.jpg"). Keys are code-page text with '\'
// separators; names the code page cannot hold carry '?' (and the restored
// Macintosh characters), while every listed entry also carries its real
// native path, so nothing needs to be looked up again.
//
// Hidden entries (names beginning with '.') are skipped as files; hidden
// folders are walked. Folders whose native path is 200 bytes or longer are
// neither walked nor recorded.
//
// Thread safety: a FolderScanner holds no state of its own beyond its
// arguments; DIRLIST and TIMELIST are used through their locks, one
// operation at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/list_lock_table.h"
#include "platform/code_page.h"
#include "platform/file_system.h"

namespace vantrel {

// Folder paths (bytes) of this length or longer are not walked.
inline constexpr size_t kMaxWalkedPathLength = 200;

// One entry a walk hands on.
struct ScannedEntry {
  std::string native_path;  // the real path
  std::string key;          // file or folder key
  uint32_t time = 0;        // file time stamp of the last write
  bool is_folder = false;
};

// A folder found new, changed or gone.
struct ChangedFolder {
  std::string native_path;
  std::string key;    // folder key
  uint32_t time = 0;  // its time now, or the old DIRLIST time when gone
  bool gone = false;  // the folder no longer exists
};

// The per-entry callback of a listing: return false to abort the walk.
using ScanCallback = std::function<bool(const ScannedEntry& entry)>;

class FolderScanner {
 public:
  // `fs` and `cp` must outlive the scanner.
  FolderScanner(FileSystem* fs, const CodePage& cp) : fs_(fs), cp_(cp) {}

  // The slot digits of image folder `slot` ("%02i").
  static std::string SlotDigits(int slot);

  // The whole tree of image folder `slot` rooted at `root`: records the image
  // folder itself in `dirlist` (key = the digits, its time), then walks the
  // tree: every sub-folder is added to `dirlist` (extra kept -1) and every
  // file handed to `on_file`. Returns false when `on_file` aborted the walk.
  // An invalid root lists nothing.
  bool FullListing(int slot, const std::string& root, LockedBrowseList dirlist,
                   const ScanCallback& on_file);

  // Compares the folder tree with DIRLIST and brings DIRLIST up to date (see
  // the algorithm in the .cc): new folders, folders whose time changed, and
  // recorded folders that are gone (time 0) are returned.
  // Order of the result: the image folder first when it changed, then the
  // new and changed sub-folders in walk order (parents before children, names
  // in byte order), then the gone ones. An image folder that cannot be found
  // is reported once, as gone, with its old DIRLIST time (0 when it had none),
  // and every recorded folder below it as gone too.
  std::vector<ChangedFolder> ListChangedFolders(int slot, const std::string& root,
                                                LockedBrowseList dirlist);

  // The files of one folder, without recursion (hidden files skipped).
  // `folder` is a native path at or below `root`.
  std::vector<ScannedEntry> ListFolderFiles(int slot, const std::string& root,
                                            const std::string& folder);

  // Rebuilds the native path of a folder key of image folder `root` (the
  // key's part after the digits, found again on disk where the code page lost
  // characters). Empty when the key has no digits.
  std::string NativeFolderPath(const std::string& root, std::string_view folder_key);

 private:
  FileSystem* fs_;
  const CodePage& cp_;
};

}  // namespace vantrel
