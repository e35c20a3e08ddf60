#include "catalogue/index_folders.h"

#include "core/file_names.h"
#include "core/text_table.h"
#include "platform/ini_file.h"

namespace vantrel {
namespace {

constexpr int kBadFolderNoticeMs = 60000;

// Line breaks cannot stand in an INI value; clients read them as backslashes.
std::string IniValue(std::string value) {
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = '\\';
  }
  return value;
}

std::string Join(const std::string& folder, const char* name) { return folder + "/" + name; }

// The server's own folders below an index folder. Whoever may write the
// index folder could put a symbolic link in the place of one: the link goes
// (never what it points to), and the folder is made again, so that nothing
// is emptied, written or served through it.
void RemoveLinksInPlaceOfFolders(FileSystem* fs, const IndexDefinition& def) {
  for (const std::string& folder :
       {OfflineFolderOf(def.index_folder), Join(def.index_folder, names::kDataFolder),
        def.engine_folder, def.lists_folder, def.search_folder,
        Join(def.index_folder, names::kClientFolder)}) {
    fs->RemoveLink(folder).status().IgnoreError();
  }
}

}  // namespace

Status WritePathInfo(FileSystem* fs, const std::string& index_folder, const PdfSettings& pdf) {
  std::string folder = Join(index_folder, names::kPdfFolder);
  VANTREL_RETURN_IF_ERROR(fs->CreateFolders(folder));
  std::string path = Join(folder, names::kPathInfoFile);
  VANTREL_RETURN_IF_ERROR(fs->WriteFileAtomic(path, " "));
  VANTREL_RETURN_IF_ERROR(WriteIniString(fs, path, "PDF_FOLDER", "WIN_PATH", IniValue(pdf.win_path)));
  return WriteIniString(fs, path, "PDF_FOLDER", "MAC_PATH", IniValue(pdf.mac_path));
}

void PrepareIndexFolders(Configuration* config, FileSystem* fs, NoticeSink* notices,
                         const MacCharsetConverter& to_mac) {
  const std::string& caption = Text(TextId::IDS_ERROR);
  for (IndexDefinition& def : config->indexes) {
    if (!def.active) continue;

    if (!fs->IsValidFolder(def.index_folder)) {
      notices->ShowNotice(caption,
                          Text(TextId::IDS_INDEX) + " " + def.index_folder + " " +
                              Text(TextId::IDS_BADPATH),
                          kBadFolderNoticeMs);
      def.active = 0;
      continue;
    }

    if (!config->pdf.folder.empty() && fs->IsFolder(config->pdf.folder)) {
      WritePathInfo(fs, def.index_folder, config->pdf).IgnoreError();
      WriteFolderMappingFiles(*config, fs, to_mac).IgnoreError();
    }

    for (const ImageFolderEntry& entry : def.image_folders) {
      if (entry.used() && PathIsWithin(def.index_folder, entry.path)) {
        notices->ShowNotice(caption,
                            Text(TextId::IDS_INDEX) + " " + def.index_folder + " " +
                                Text(TextId::IDS_BADNESTED),
                            kBadFolderNoticeMs);
        def.active = 0;
        break;
      }
    }
    if (!def.active) continue;

    DeriveIndexFolders(&def);
    RemoveLinksInPlaceOfFolders(fs, def);
    fs->CreateFolders(OfflineFolderOf(def.index_folder)).IgnoreError();
    fs->CreateFolders(def.engine_folder).IgnoreError();
    fs->CreateFolders(def.lists_folder).IgnoreError();
    // Clients of the share drop requests and delete answers here.
    fs->CreateSharedFolder(def.search_folder).IgnoreError();
    fs->EmptyFolder(def.search_folder, /*recursive=*/true).IgnoreError();
    fs->WriteFile(Join(def.search_folder, names::kStatusFile),
                  std::string_view(kStatusFileBytes, sizeof(kStatusFileBytes)))
        .IgnoreError();
  }
}

std::vector<ServedFolder> ServedFoldersOf(const Configuration& config) {
  std::vector<ServedFolder> folders;
  for (const IndexDefinition& def : config.indexes) {
    if (!def.active) continue;
    const std::string offline = OfflineFolderOf(def.index_folder);
    for (const ImageFolderEntry& entry : def.image_folders) {
      if (!entry.used()) continue;
      folders.emplace_back(entry.path, entry.path == offline ? def.index_folder : entry.path);
    }
    if (def.search_folder.empty()) continue;  // not prepared
    for (const std::string& own :
         {def.search_folder, def.lists_folder, Join(def.index_folder, names::kClientFolder)}) {
      folders.emplace_back(own, def.index_folder);
    }
  }
  if (!config.pdf.folder.empty()) folders.emplace_back(config.pdf.folder);
  return folders;
}

}  // namespace vantrel
