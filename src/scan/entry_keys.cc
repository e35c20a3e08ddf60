#include "scan/entry_keys.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "platform/paths.h"

namespace vantrel {
namespace {

// The entry named `name` in a list in byte order of names, or null.
const NamedEntry* FindNamed(const std::vector<NamedEntry>& entries, std::string_view name) {
  auto it =
      std::lower_bound(entries.begin(), entries.end(), name,
                       [](const NamedEntry& e, std::string_view n) { return e.entry.name < n; });
  return it != entries.end() && it->entry.name == name ? &*it : nullptr;
}

}  // namespace

std::string_view RefusalText(KeyRefusal refusal) {
  switch (refusal) {
    case KeyRefusal::kNone:
      return "";
    case KeyRefusal::kLink:
      return "Symbolic link not followed, not indexed";
    case KeyRefusal::kTooLong:
      return "Path longer than the 255 characters a list holds, not indexed";
    case KeyRefusal::kBackslash:
      return "Name holds a backslash, which reads as a folder separator; not indexed";
    case KeyRefusal::kTaken:
      return "Name has the same key as another name in its folder, not indexed";
  }
  return "";
}

std::string ChildKey(std::string_view folder_key, std::string_view key_name) {
  std::string key(folder_key);
  if (folder_key.size() > 2) key.push_back(kKeySeparator);
  key.append(key_name);
  return key;
}

std::vector<NamedEntry> NameEntries(const CodePage& cp, std::string_view folder_key,
                                    std::vector<FolderEntry> entries) {
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  std::vector<NamedEntry> named;
  named.reserve(entries.size());
  std::vector<bool> exact;
  for (FolderEntry& e : entries) {
    if (e.hidden && !e.is_folder) continue;
    bool lossy = false;
    const std::string key_name = cp.FromUtf8(e.name, &lossy);
    NamedEntry n{std::move(e), ChildKey(folder_key, key_name), KeyRefusal::kNone};
    if (n.entry.is_link) {
      n.refusal = KeyRefusal::kLink;
    } else if (key_name.find(kKeySeparator) != std::string::npos) {
      n.refusal = KeyRefusal::kBackslash;
    } else if (n.key.size() > kMaxKeyLength) {
      n.refusal = KeyRefusal::kTooLong;
    }
    exact.push_back(!lossy);
    named.push_back(std::move(n));
  }
  // Exact names claim first (no two of them can share a key name), then the
  // others in byte order.
  std::unordered_set<std::string_view> claimed;
  for (size_t i = 0; i < named.size(); ++i) {
    if (named[i].refusal == KeyRefusal::kNone && exact[i]) claimed.insert(named[i].key);
  }
  for (size_t i = 0; i < named.size(); ++i) {
    if (named[i].refusal != KeyRefusal::kNone || exact[i]) continue;
    if (!claimed.insert(named[i].key).second) named[i].refusal = KeyRefusal::kTaken;
  }
  return named;
}

StatusOr<std::string> FindKeyPath(FileSystem* fs, const CodePage& cp, const std::string& root,
                                  std::string_view key) {
  if (key.size() < 2) return Status::NotFound("no slot digits in key " + std::string(key));
  std::string folder = root;
  std::string folder_key(key.substr(0, 2));
  std::string_view rest = key.substr(2);
  if (!fs->IsFolder(root)) return Status::NotFound("image folder not found: " + root);
  if (rest.empty()) return folder;
  for (;;) {
    const size_t separator = rest.find(kKeySeparator);
    const std::string wanted = ChildKey(folder_key, rest.substr(0, separator));
    StatusOr<std::vector<FolderEntry>> listed = fs->ListFolder(folder);
    if (!listed.ok()) return listed.status();
    const std::vector<NamedEntry> named = NameEntries(cp, folder_key, std::move(listed.value()));
    auto holder = std::find_if(named.begin(), named.end(), [&](const NamedEntry& n) {
      return n.refusal == KeyRefusal::kNone && n.key == wanted;
    });
    if (holder == named.end() ||
        (separator != std::string_view::npos && !holder->entry.is_folder)) {
      return Status::NotFound("no file or folder holds key " + std::string(key) + " under " + root);
    }
    std::string path = JoinNative(folder, holder->entry.name);
    if (separator == std::string_view::npos) return path;
    folder = std::move(path);
    folder_key = wanted;
    rest.remove_prefix(separator + 1);
  }
}

ChangedPathKeys::ChangedPathKeys(FileSystem* fs, const CodePage& cp, std::string root,
                                 std::string digits)
    : fs_(fs), cp_(cp), root_(std::move(root)), digits_(std::move(digits)) {}

const std::vector<NamedEntry>& ChangedPathKeys::Entries(const std::string& folder,
                                                        const std::string& folder_key, bool again) {
  auto it = listed_.find(folder);
  if (it != listed_.end() && !again) return it->second.entries;
  StatusOr<std::vector<FolderEntry>> entries = fs_->ListFolder(folder);
  Listing& listing = listed_[folder];
  listing.entries.clear();
  if (entries.ok()) listing.entries = NameEntries(cp_, folder_key, std::move(entries.value()));
  listing.made = std::chrono::steady_clock::now();
  return listing.entries;
}

bool ChangedPathKeys::MayListAgain(const std::string& folder) const {
  auto it = listed_.find(folder);
  return it == listed_.end() || std::chrono::steady_clock::now() - it->second.made >= kRelistPause;
}

ChangedPathKey ChangedPathKeys::Decide(std::string_view native_relative) {
  std::string folder = root_;
  std::string folder_key = digits_;
  while (!native_relative.empty() && native_relative.front() == kNativeSeparator) {
    native_relative.remove_prefix(1);
  }
  for (;;) {
    const size_t slash = native_relative.find(kNativeSeparator);
    const std::string_view name = native_relative.substr(0, slash);
    const bool last = slash == std::string_view::npos;
    const std::string path = JoinNative(folder, name);
    const NamedEntry* found = FindNamed(Entries(folder, folder_key, false), name);
    // (Hidden files are in no listing; they need no key.)
    if (found == nullptr && !(last && name.starts_with('.')) && fs_->Exists(path)) {
      if (!MayListAgain(folder)) {
        ChangedPathKey later{path, std::string(), KeyRefusal::kNone, true, false};
        later.later = true;
        return later;
      }
      found = FindNamed(Entries(folder, folder_key, true), name);
    }
    if (found != nullptr && found->refusal != KeyRefusal::kNone) {
      // The entry itself or a folder on the way is refused.
      return ChangedPathKey{path, found->key, found->refusal, true, found->entry.is_folder};
    }
    if (found != nullptr && last) {
      return ChangedPathKey{path, found->key, KeyRefusal::kNone, true, found->entry.is_folder};
    }
    if (found == nullptr || !found->entry.is_folder) {
      return Vanished(folder, folder_key, native_relative);
    }
    folder = path;
    folder_key = found->key;
    native_relative.remove_prefix(slash + 1);
  }
}

ChangedPathKey ChangedPathKeys::Vanished(const std::string& folder, const std::string& folder_key,
                                         std::string_view native_relative) {
  ChangedPathKey out;
  out.native_path = JoinNative(folder, native_relative);
  out.key = ChildKey(folder_key, KeyFromNativeRelative(cp_, native_relative));
  if (out.key.size() > kMaxKeyLength) out.refusal = KeyRefusal::kTooLong;
  // A name that exists holds the key: the change is not about that file.
  const std::string own =
      ChildKey(folder_key, cp_.FromUtf8(native_relative.substr(0, native_relative.find('/'))));
  for (const NamedEntry& n : Entries(folder, folder_key, false)) {
    if (n.refusal == KeyRefusal::kNone && n.key == own) out.refusal = KeyRefusal::kTaken;
  }
  return out;
}

}  // namespace vantrel
