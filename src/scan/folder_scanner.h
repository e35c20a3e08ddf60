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
// Which entries get keys (and which are refused: symbolic links, keys too
// long for the lists, names whose key another name holds) is decided by
// scan/entry_keys.h, the same way for every walk here and for change
// notifications. Every refused entry is reported to the scanner's
// SkipReporter, and so is every folder that cannot be listed: such a folder
// is kept out of DIRLIST (and taken out of it), so the next comparison finds
// it new and lists it again.
//
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/list_lock_table.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "scan/skip_log.h"

namespace vantrel {

// The names of the files one listing of a folder showed, sorted by bytes:
// every entry that is neither a folder nor a symbolic link, refused names
// included. The files of that listing share it, so that the document builder
// can tell which companion files (XMP sidecars) exist without looking on disk.
using ListedFileNames = std::vector<std::string>;

// The file names of one folder's listing.
std::shared_ptr<const ListedFileNames> ListedFileNamesOf(const std::vector<FolderEntry>& entries);

// One entry a walk hands on.
struct ScannedEntry {
  std::string native_path;  // the real path
  std::string key;          // file or folder key
  uint32_t time = 0;        // file time stamp of the last write
  bool is_folder = false;
  // The file names of the listing that found the entry; null when none.
  std::shared_ptr<const ListedFileNames> folder_files;
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
  // `fs` and `cp` must outlive the scanner; refused entries and failed
  // listings go to `skips`.
  FolderScanner(FileSystem* fs, const CodePage& cp, SkipReporter skips = {})
      : fs_(fs), cp_(cp), skips_(std::move(skips)) {}

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

  // The files of one folder, without recursion (hidden and refused files
  // skipped). `folder` is a native path at or below `root`; one outside it
  // lists nothing. Fails when the folder cannot be listed (reported).
  StatusOr<std::vector<ScannedEntry>> ListFolderFiles(int slot, const std::string& root,
                                                      const std::string& folder);

  // The native path of the folder that holds `folder_key` by the key rules
  // (scan/entry_keys.h: links and refused names never match); kNotFound
  // when no folder does.
  StatusOr<std::string> FindFolder(const std::string& root, std::string_view folder_key);

  // Rebuilds the native path of a folder key of image folder `root` (the
  // key's part after the digits, found again on disk where the code page lost
  // characters). Empty when the key has no digits.
  std::string NativeFolderPath(const std::string& root, std::string_view folder_key);

 private:
  FileSystem* fs_;
  const CodePage& cp_;
  SkipReporter skips_;
};

}  // namespace vantrel
