#include "platform/paths.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace vantrel {
namespace {

std::string Swap(std::string_view text, char from, char to) {
  std::string out(text);
  std::replace(out.begin(), out.end(), from, to);
  return out;
}

constexpr int kMaxListings = 256;

struct Resolver {
  FileSystem* fs;
  const CodePage& cp;
  int listings = 0;

  // The native path under `folder` whose key is `rest`, if any.
  std::optional<std::string> Find(const std::string& folder, std::string_view rest) {
    if (rest.empty()) return folder;
    if (++listings > kMaxListings) return std::nullopt;
    auto entries = fs->ListFolder(folder);
    if (!entries.ok()) return std::nullopt;
    // Candidates whose code-page form is the whole rest, or the next
    // component of it; longer forms first (a name holding a restored '\'
    // before a shorter name that happens to equal its first part).
    std::vector<std::pair<size_t, const FolderEntry*>> candidates;
    for (const FolderEntry& e : *entries) {
      std::string form = cp.FromUtf8(e.name);
      if (form.empty() || form.size() > rest.size()) continue;
      if (rest.compare(0, form.size(), form) != 0) continue;
      if (form.size() == rest.size() ||
          (e.is_folder && rest[form.size()] == kKeySeparator)) {
        candidates.emplace_back(form.size(), &e);
      }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [length, entry] : candidates) {
      std::string path = JoinNative(folder, entry->name);
      if (length == rest.size()) return path;
      if (auto found = Find(path, rest.substr(length + 1))) return found;
    }
    return std::nullopt;
  }
};

}  // namespace

std::string KeyToNative(std::string_view key) { return Swap(key, kKeySeparator, kNativeSeparator); }

std::string NativeToKey(std::string_view native) {
  return Swap(native, kNativeSeparator, kKeySeparator);
}

std::string JoinNative(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  if (name.empty()) return std::string(folder);
  std::string out(folder);
  while (!name.empty() && name.front() == kNativeSeparator) name.remove_prefix(1);
  if (out.back() != kNativeSeparator) out.push_back(kNativeSeparator);
  out.append(name);
  return out;
}

std::string JoinKey(std::string_view a, std::string_view b) {
  std::string out;
  out.reserve(a.size() + b.size() + 1);
  out.append(a);
  out.push_back(kKeySeparator);
  out.append(b);
  return out;
}

std::string_view LastComponent(std::string_view path, char sep) {
  if (path.size() < 2) return path;
  std::string_view component = path;
  // Look for the separator no further right than the second-to-last character.
  size_t found = path.find_last_of(sep, path.size() - 2);
  if (found != std::string_view::npos) component = path.substr(found + 1);
  if (!component.empty() && component.back() == sep) component.remove_suffix(1);
  return component;
}

std::string_view FolderPart(std::string_view path, char sep) {
  if (path.size() < 3) return std::string_view();
  // Between the second and the second-to-last character.
  size_t found = path.find_last_of(sep, path.size() - 2);
  if (found == std::string_view::npos || found < 1) return std::string_view();
  return path.substr(0, found);
}

std::string_view FolderName(std::string_view path, char sep) {
  return LastComponent(FolderPart(path, sep), sep);
}

std::string KeyForm(std::string_view native, char sep) {
  while (!native.empty() && native.front() == kNativeSeparator) native.remove_prefix(1);
  return Swap(native, kNativeSeparator, sep);
}

std::string KeyFromNativeRelative(const CodePage& cp, std::string_view native_relative,
                                  bool* lossy) {
  std::string key;
  bool any_lossy = false;
  size_t start = 0;
  for (;;) {
    size_t slash = native_relative.find(kNativeSeparator, start);
    std::string_view part = native_relative.substr(
        start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    bool part_lossy = false;
    key += cp.FromUtf8(part, &part_lossy);
    any_lossy = any_lossy || part_lossy;
    if (slash == std::string_view::npos) break;
    key.push_back(kKeySeparator);
    start = slash + 1;
  }
  if (lossy != nullptr) *lossy = any_lossy;
  return key;
}

StatusOr<std::string> ResolveKeyPath(FileSystem* fs, const CodePage& cp,
                                     const std::string& native_root,
                                     std::string_view relative_key) {
  // Direct way: the key converts back to the name (no '/' restored from a
  // Mac name, which would be read as a separator).
  if (relative_key.find(kNativeSeparator) == std::string_view::npos) {
    const std::string relative = KeyToNative(cp.ToUtf8(relative_key));
    const std::string direct = JoinNative(native_root, relative);
    if (fs->Exists(direct) && KeyFromNativeRelative(cp, relative) == relative_key) return direct;
  }
  Resolver resolver{fs, cp};
  if (auto found = resolver.Find(native_root, relative_key)) return *std::move(found);
  return Status::NotFound("no file for key " + std::string(relative_key) + " under " +
                          native_root);
}

}  // namespace vantrel
