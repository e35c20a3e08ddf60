// Which files and folders get keys, and which keys: the one decision that
// full listings, folder comparisons, the start-up catch-up and change
// notifications all make the same way.
//
// Keys live in the list files that clients read, in slots of 256 bytes that
// hold the key and its NUL: a key (file or folder, digits included) has at
// most kMaxKeyLength = 255 code-page bytes. A longer one is refused, and
// since a folder's key begins every key below it, a folder whose key is too
// long is refused with everything in it.
//
// Within one folder no two entries may share a key name (the code-page form
// of the name, CodePage::FromUtf8): names that the code page cannot hold
// become '?', so "caf\xE9.jpg" (not UTF-8), "café" decomposed and "caf?.jpg"
// can all come out alike. Names claim their key names in this order: first
// every name that converts back to itself exactly (the one ResolveKeyPath
// finds directly), then the others in byte order; a name whose key name is
// already claimed is refused. A name whose key name holds a '\' (a native
// '\' or a restored Macintosh one) is refused too: its key would read as a
// sub-folder path ("sub\x.jpg" beside the file x.jpg of folder sub).
//
// Symbolic links are refused, to folders and to files alike: nothing outside
// the image folder is listed, nothing is listed twice. Hidden files (names
// beginning with '.') are never indexed and claim nothing; hidden folders
// are walked.
//
// Thread safety: pure functions, except FindKeyPath and ChangedPathKeys,
// which list folders through their FileSystem (a ChangedPathKeys object
// belongs to one thread).
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/browse_list.h"
#include "platform/code_page.h"
#include "platform/file_system.h"

namespace vantrel {

// The longest key a list slot holds (256 bytes with the NUL).
inline constexpr size_t kMaxKeyLength = kMaxListNameLength;

enum class KeyRefusal {
  kNone,       // the entry gets its key
  kLink,       // a symbolic link
  kTooLong,    // the key is longer than kMaxKeyLength
  kBackslash,  // the key name holds a '\'
  kTaken,      // an earlier name of the folder has the same key name
};

// The event-log wording of a refusal ("" for kNone).
std::string_view RefusalText(KeyRefusal refusal);

// The key of the entry `key_name` inside the folder with key `folder_key`
// (the bare digits for the image folder itself: "03" + name, else
// "03Sport" + '\' + name).
std::string ChildKey(std::string_view folder_key, std::string_view key_name);

// One entry of a folder listing with the key it gets.
struct NamedEntry {
  FolderEntry entry;
  std::string key;  // the folder's key and the key name
  KeyRefusal refusal = KeyRefusal::kNone;
};

// The entries of one listing of the folder with key `folder_key`, in byte
// order of their names, each with its key and refusal. Hidden files are left
// out.
std::vector<NamedEntry> NameEntries(const CodePage& cp, std::string_view folder_key,
                                    std::vector<FolderEntry> entries);

// The way back from a key (digits included) to the native path of the entry
// that holds it below image folder `root`: each folder on the way is listed
// and the entry that the rules above give that key is taken (refused
// entries, links among them, never match). kNotFound when none holds it.
StatusOr<std::string> FindKeyPath(FileSystem* fs, const CodePage& cp, const std::string& root,
                                  std::string_view key);

// The decision for a path that a change notification names.
struct ChangedPathKey {
  std::string native_path;
  std::string key;
  KeyRefusal refusal = KeyRefusal::kNone;
  bool exists = false;     // found in the listing of its folder
  bool is_folder = false;  // an existing folder
  // It exists but came after the folder's last listing, which is too recent
  // to be made again: decide it later (the next pass).
  bool later = false;
};

// Decides paths below one image folder as a scan of the same folders would,
// listing each folder on the way once. A path that exists but is missing
// from its folder's listing (it arrived later) makes the folder listed again,
// at most once per kRelistPause; within that pause it is decided later, so a
// stream of new files does not list a large folder once per file.
class ChangedPathKeys {
 public:
  static constexpr std::chrono::milliseconds kRelistPause{1000};

  // `fs` and `cp` must outlive the object. `root`: the image folder's native
  // path; `digits`: its slot digits.
  ChangedPathKeys(FileSystem* fs, const CodePage& cp, std::string root, std::string digits);

  // `native_relative`: the path below the root, '/' separators. A path that
  // does not exist (a file deleted) gets the key it would have, and kTaken
  // when an existing name of its folder holds that key.
  ChangedPathKey Decide(std::string_view native_relative);

 private:
  // The named entries of a folder, listed at most once unless `again`.
  const std::vector<NamedEntry>& Entries(const std::string& folder, const std::string& folder_key,
                                         bool again);
  // True when the listing of `folder` may be made again now.
  bool MayListAgain(const std::string& folder) const;
  // The decision for a path whose first component `native_relative` is not
  // in `folder`.
  ChangedPathKey Vanished(const std::string& folder, const std::string& folder_key,
                          std::string_view native_relative);

  FileSystem* fs_;
  const CodePage& cp_;
  std::string root_;
  std::string digits_;
  struct Listing {
    std::vector<NamedEntry> entries;
    std::chrono::steady_clock::time_point made;
  };
  std::map<std::string, Listing> listed_;
};

}  // namespace vantrel
