// Folder keys and the file keys that lie directly in them.
//
// A folder key is the image folder's two digits followed by the folder's
// path ("03", "03Sport\2024"); a file lies directly in it when its key is the
// folder key, a backslash (none after the bare digits) and a name without a
// further backslash.
//
// Thread safety: pure functions.
#pragma once

#include <string_view>

#include "platform/paths.h"

namespace vantrel {

// True when file key `key` lies directly in folder `folder_key` (not in one
// of its sub-folders).
inline bool LiesDirectlyIn(std::string_view key, std::string_view folder_key) {
  if (key.size() <= folder_key.size() || key.substr(0, folder_key.size()) != folder_key) {
    return false;
  }
  std::string_view rest = key.substr(folder_key.size());
  if (folder_key.size() > 2) {
    if (rest.front() != '\\') return false;
    rest.remove_prefix(1);
  }
  return !rest.empty() && rest.find('\\') == std::string_view::npos;
}

// The key of the folder that file key `key` lies directly in: the key
// without its last component, or the image folder's two digits when the
// file lies in the folder's root.
inline std::string_view FolderKeyOf(std::string_view key) {
  const std::string_view folder = FolderPart(key, kKeySeparator);
  return folder.empty() ? key.substr(0, 2) : folder;
}

}  // namespace vantrel
