// Operations on the configuration model: defaults, indexes, image folders and
// the server-wide settings.

#include "core/config_file.h"

#include <string>

#include "core/file_names.h"

namespace vantrel {
namespace {

namespace L = config_layout;

// Appends `name` (a backslash-separated relative name of the server's files)
// to `folder` as a native path.
std::string JoinNative(const std::string& folder, std::string_view name) {
  std::string out = folder;
  if (out.empty() || out.back() != '/') out += '/';
  for (char ch : name) out += (ch == '\\') ? '/' : ch;
  return out;
}

Status CheckText(std::string_view what, const std::string& text, size_t max) {
  if (text.size() > max) {
    return Status::InvalidArgument(std::string(what) + " is too long (" +
                                   std::to_string(text.size()) + " bytes, at most " +
                                   std::to_string(max) + "): " + text);
  }
  return Status::Ok();
}

Status CheckFolderTexts(const ImageFolderEntry& e) {
  VANTREL_RETURN_IF_ERROR(CheckText("image folder path", e.path, kMaxPathLength));
  VANTREL_RETURN_IF_ERROR(CheckText("Windows share name", e.windows_share, kMaxPathLength));
  return CheckText("Macintosh volume name", e.mac_volume, kMaxPathLength);
}

Status CheckIndexTexts(const IndexDefinition& def) {
  if (def.name.empty()) return Status::InvalidArgument("an index needs a name");
  if (def.index_folder.empty()) return Status::InvalidArgument("an index needs an index folder");
  VANTREL_RETURN_IF_ERROR(CheckText("index name", def.name, kMaxIndexNameLength));
  VANTREL_RETURN_IF_ERROR(CheckText("index folder", def.index_folder, kMaxIndexFolderLength));
  for (const ImageFolderEntry& e : def.image_folders) VANTREL_RETURN_IF_ERROR(CheckFolderTexts(e));
  return Status::Ok();
}

bool ValidIndex(const Configuration& c, int index) {
  return index >= 0 && static_cast<size_t>(index) < c.indexes.size();
}

}  // namespace

void ResetToDefaults(Configuration* config) { *config = Configuration(); }

std::string OfflineFolderOf(const std::string& index_folder) {
  return JoinNative(index_folder, names::kOffLineFolder);
}
std::string EngineFolderOf(const std::string& index_folder) {
  return JoinNative(index_folder, names::kEngineFolder);
}
std::string ListsFolderOf(const std::string& index_folder) {
  return JoinNative(index_folder, names::kListsFolder);
}
std::string SearchFolderOf(const std::string& index_folder) {
  return JoinNative(index_folder, names::kSearchFolder);
}

void DeriveIndexFolders(IndexDefinition* def) {
  def->engine_folder = EngineFolderOf(def->index_folder);
  def->lists_folder = ListsFolderOf(def->index_folder);
  def->search_folder = SearchFolderOf(def->index_folder);
}

bool PathIsWithin(std::string_view path, std::string_view folder) {
  auto trim = [](std::string_view p) {
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    return p;
  };
  path = trim(path);
  folder = trim(folder);
  if (folder.empty() || path.size() < folder.size() || path.substr(0, folder.size()) != folder) {
    return false;
  }
  return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

StatusOr<IndexDefinition> NewIndexDefinition(const std::string& name,
                                             const std::string& index_folder) {
  IndexDefinition def;  // member initialisers hold the defaults of a new index
  def.name = name;
  def.index_folder = index_folder;
  VANTREL_RETURN_IF_ERROR(CheckIndexTexts(def));
  return def;
}

StatusOr<int> AddIndex(Configuration* config, const IndexDefinition& def, VolumeNamer& namer) {
  if (config->indexes.size() >= static_cast<size_t>(L::kMaxIndexes)) {
    return Status::ResourceExhausted("there are already " + std::to_string(L::kMaxIndexes) +
                                     " indexes");
  }
  VANTREL_RETURN_IF_ERROR(CheckIndexTexts(def));
  IndexDefinition copy = def;
  copy.statistics = SearchStatistics();
  copy.document_count = 0;
  copy.active = 0;
  ImageFolderEntry& offline = copy.image_folders[0];
  offline.path = OfflineFolderOf(copy.index_folder);
  offline.windows_share = namer.WindowsShareName(offline.path);
  offline.mac_volume = namer.MacVolumeName(offline.path);
  offline.include_subfolders = 1;
  VANTREL_RETURN_IF_ERROR(CheckFolderTexts(offline));
  config->indexes.push_back(std::move(copy));
  return static_cast<int>(config->indexes.size());
}

Status DeleteIndex(Configuration* config, int index) {
  if (!ValidIndex(*config, index)) {
    return Status::InvalidArgument("there is no index " + std::to_string(index));
  }
  config->indexes.erase(config->indexes.begin() + index);
  auto& words = config->per_index_words;
  for (int i = index; i + 1 < L::kMaxIndexes; ++i) words[i] = words[i + 1];
  words[L::kMaxIndexes - 1] = 0;
  return Status::Ok();
}

int IndexCount(const Configuration& config) { return static_cast<int>(config.indexes.size()); }

const IndexDefinition* IndexAt(const Configuration& config, int index) {
  return ValidIndex(config, index) ? &config.indexes[index] : nullptr;
}

IndexDefinition* MutableIndexAt(Configuration* config, int index) {
  return ValidIndex(*config, index) ? &config->indexes[index] : nullptr;
}

std::string IndexFolderOf(const Configuration& config, int index) {
  return ValidIndex(config, index) ? config.indexes[index].index_folder : std::string();
}

StatusOr<int> AddImageFolder(Configuration* config, int index, const std::string& path,
                             const std::string& windows_share, const std::string& mac_volume,
                             bool include_subfolders) {
  if (!ValidIndex(*config, index)) {
    return Status::InvalidArgument("there is no index " + std::to_string(index));
  }
  if (path.empty()) return Status::InvalidArgument("an image folder needs a path");
  ImageFolderEntry fresh;
  fresh.path = path;
  fresh.windows_share = windows_share;
  fresh.mac_volume = mac_volume;
  fresh.include_subfolders = include_subfolders ? 1 : 0;
  VANTREL_RETURN_IF_ERROR(CheckFolderTexts(fresh));
  auto& slots = config->indexes[index].image_folders;
  for (int s = 1; s < L::kImageFolderSlots; ++s) {
    if (slots[s].used()) continue;
    fresh.reserved = slots[s].reserved;  // the slot's reserved bytes stay
    slots[s] = std::move(fresh);
    return s;
  }
  return Status::ResourceExhausted("all " + std::to_string(L::kImageFolderSlots - 1) +
                                   " image folder slots of index " + std::to_string(index) +
                                   " are in use");
}

int UsedSlot(const Configuration& config, int index, int n) {
  if (!ValidIndex(config, index) || n < 0) return -1;
  const auto& slots = config.indexes[index].image_folders;
  for (int s = 0; s < L::kImageFolderSlots; ++s) {
    if (slots[s].used() && n-- == 0) return s;
  }
  return -1;
}

const ImageFolderEntry* GetImageFolder(const Configuration& config, int index, int n) {
  int slot = UsedSlot(config, index, n);
  return slot < 0 ? nullptr : &config.indexes[index].image_folders[slot];
}

Status SetImageFolder(Configuration* config, int index, int n, const ImageFolderEntry& entry) {
  int slot = UsedSlot(*config, index, n);
  if (slot < 0) {
    return Status::NotFound("index " + std::to_string(index) + " has no image folder number " +
                            std::to_string(n));
  }
  if (entry.path.empty()) return Status::InvalidArgument("an image folder needs a path");
  VANTREL_RETURN_IF_ERROR(CheckFolderTexts(entry));
  ImageFolderEntry& e = config->indexes[index].image_folders[slot];
  e.path = entry.path;
  e.windows_share = entry.windows_share;
  e.mac_volume = entry.mac_volume;
  e.include_subfolders = entry.include_subfolders;
  return Status::Ok();
}

Status RemoveImageFolder(Configuration* config, int index, int n) {
  int slot = UsedSlot(*config, index, n);
  if (slot < 0) {
    return Status::NotFound("index " + std::to_string(index) + " has no image folder number " +
                            std::to_string(n));
  }
  config->indexes[index].image_folders[slot].path.clear();
  return Status::Ok();
}

int CountImageFolders(const Configuration& config, int index) {
  if (!ValidIndex(config, index)) return 0;
  int n = 0;
  for (const ImageFolderEntry& e : config.indexes[index].image_folders) n += e.used() ? 1 : 0;
  return n;
}

Status SetPdfSettings(Configuration* config, const PdfSettings& pdf) {
  VANTREL_RETURN_IF_ERROR(CheckText("PDF folder", pdf.folder, kMaxPathLength));
  VANTREL_RETURN_IF_ERROR(CheckText("PDF folder Macintosh path", pdf.mac_path, kMaxPathLength));
  VANTREL_RETURN_IF_ERROR(CheckText("PDF folder Windows path", pdf.win_path, kMaxPathLength));
  if (pdf.thumbnail_size < 100 || pdf.preview_size < 100) {
    return Status::InvalidArgument("thumbnail and preview sizes must be at least 100 pixels");
  }
  if (pdf.leading_preview != 1 && pdf.leading_preview != 3) {
    return Status::InvalidArgument("the leading-pages preview option is 3 (on) or 1 (off)");
  }
  config->pdf = pdf;
  return Status::Ok();
}

const PdfSettings& GetPdfSettings(const Configuration& config) { return config.pdf; }

Status SetEditPassword(Configuration* config, const std::string& password) {
  VANTREL_RETURN_IF_ERROR(CheckText("edit password", password, kMaxPasswordLength));
  config->edit_password = password;
  return Status::Ok();
}

Status SetLogFolder(Configuration* config, const std::string& folder) {
  VANTREL_RETURN_IF_ERROR(CheckText("log folder", folder, kMaxLogFolderLength));
  config->log_folder = folder;
  return Status::Ok();
}

void SetLogFlags(Configuration* config, uint32_t flags) { config->log_flags = flags; }

bool CheckBrowseLimit(IndexDefinition* def) {
  if ((def->browse_limit_on == 0 || def->browse_limit_on == 1) && def->browse_limit % 1000 == 0) {
    return false;
  }
  def->browse_limit_on = 0;
  def->browse_limit = 10000;
  return true;
}

}  // namespace vantrel
