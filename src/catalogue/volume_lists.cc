#include "catalogue/volume_lists.h"

#include <vector>

#include "core/browse_list.h"
#include "core/file_names.h"
#include "core/list_file.h"
#include "platform/ini_file.h"
#include "platform/paths.h"

namespace vantrel {
namespace {

// Largest existing mapping file read back; a larger one is not overwritten.
constexpr size_t kMaxMappingFileBytes = 16 << 20;

// One volume list: the slot names of the used slots, value = slot number.
template <typename NameOf>
Status WriteOneList(const IndexDefinition& def, FileSystem* fs, const std::string& path,
                    const CodePage& cp, NameOf name_of) {
  BrowseList list;
  VANTREL_RETURN_IF_ERROR(list.SetOrder(kOrderName));
  for (size_t slot = 0; slot < def.image_folders.size(); ++slot) {
    const ImageFolderEntry& entry = def.image_folders[slot];
    if (!entry.used()) continue;
    VANTREL_RETURN_IF_ERROR(
        list.Add(cp.FromUtf8(name_of(entry)), 0, static_cast<uint32_t>(slot), kNoExtra));
  }
  return SaveListFileAtomic(list, fs, path, ListFileWriteOptions{});
}

// Replaces the mapping section of the INI file at `path` by `pairs`.
Status RewriteMappingFile(FileSystem* fs, const std::string& path,
                          const std::vector<std::pair<std::string, std::string>>& pairs) {
  IniDocument doc;
  StatusOr<std::string> old = fs->ReadFile(path, kMaxMappingFileBytes);
  if (old.ok()) {
    doc = IniDocument::Parse(old.value());
  } else if (!old.status().IsNotFound()) {
    return old.status();
  } else if (pairs.empty()) {
    return Status::Ok();  // nothing to map, and no file to bring up to date
  }
  for (const std::string& key : doc.Keys(kFolderMappingSection)) {
    doc.RemoveKey(kFolderMappingSection, key);
  }
  for (const auto& [key, value] : pairs) {
    // Set refuses keys the format cannot hold; such a folder has no mapping.
    doc.Set(kFolderMappingSection, key, value);
  }
  std::string text = doc.Serialize();
  // The preparation pass runs often; an unchanged file is left alone.
  if (old.ok() && old.value() == text) return Status::Ok();
  return fs->WriteFileAtomic(path, text);
}

}  // namespace

Status WriteVolumeLists(const IndexDefinition& def, FileSystem* fs, const std::string& lists_folder,
                        const CodePage& cp) {
  Status win = WriteOneList(def, fs, JoinNative(lists_folder, names::kWinVolList), cp,
                            [](const ImageFolderEntry& e) { return e.windows_share; });
  Status mac = WriteOneList(def, fs, JoinNative(lists_folder, names::kMacVolList), cp,
                            [](const ImageFolderEntry& e) { return e.mac_volume; });
  return win.ok() ? mac : win;
}

std::string ShareKeyForm(std::string_view share_path) {
  if (share_path.starts_with("\\\\")) return std::string(share_path.substr(2));
  if (share_path.empty()) return std::string();
  if (share_path.size() < 3) return std::string(1, share_path.front());
  std::string key(1, share_path.front());
  key.push_back(kKeySeparator);
  key.append(share_path.substr(3));
  return key;
}

std::string LocalKeyForm(std::string_view native_path, const CodePage& cp) {
  while (!native_path.empty() && native_path.front() == kNativeSeparator) {
    native_path.remove_prefix(1);
  }
  while (!native_path.empty() && native_path.back() == kNativeSeparator) {
    native_path.remove_suffix(1);
  }
  return KeyFromNativeRelative(cp, native_path);
}

Status WriteFolderMappingFiles(const Configuration& config, FileSystem* fs,
                               const MacCharsetConverter& to_mac, const CodePage& cp) {
  if (config.pdf.folder.empty() || !fs->IsFolder(config.pdf.folder)) return Status::Ok();
  auto mac = [&to_mac](std::string text) { return to_mac ? to_mac(text) : text; };

  std::vector<std::pair<std::string, std::string>> win_pairs;
  std::vector<std::pair<std::string, std::string>> mac_pairs;
  for (const IndexDefinition& def : config.indexes) {
    if (!def.active) continue;
    for (const ImageFolderEntry& entry : def.image_folders) {
      if (!entry.used()) continue;
      const std::string local = LocalKeyForm(entry.path, cp);
      if (!entry.windows_share.empty()) {
        win_pairs.emplace_back(ShareKeyForm(cp.FromUtf8(entry.windows_share)), local);
      }
      if (!entry.mac_volume.empty()) {
        std::string value = mac(local);
        for (char& c : value) {
          if (c == kKeySeparator) c = ':';
        }
        mac_pairs.emplace_back(mac(cp.FromUtf8(entry.mac_volume)), std::move(value));
      }
    }
  }
  Status win =
      RewriteMappingFile(fs, JoinNative(config.pdf.folder, names::kWinPathInfo), win_pairs);
  Status macs =
      RewriteMappingFile(fs, JoinNative(config.pdf.folder, names::kMacPathInfo), mac_pairs);
  return win.ok() ? macs : win;
}

}  // namespace vantrel
