#include "search/hit_file.h"

#include <thread>
#include <utility>

#include "core/list_file.h"
#include "platform/string_file.h"
#include "platform/paths.h"
#include "search/request_names.h"

namespace vantrel {
namespace {


ListFileWriteOptions WriteOptions(uint32_t hits_found, uint32_t limit) {
  ListFileWriteOptions options;
  options.max_entries = limit;
  options.second_word = hits_found;
  return options;
}

}  // namespace

Status WriteHitFile(const BrowseList& hits, uint32_t hits_found, uint32_t limit,
                    WritableFile* file) {
  return WriteListFile(hits, file, WriteOptions(hits_found, limit));
}

std::string EncodeHitFile(const BrowseList& hits, uint32_t hits_found, uint32_t limit) {
  StringFile sink;
  // Writing into a string cannot fail.
  WriteHitFile(hits, hits_found, limit, &sink).IgnoreError();
  return sink.Take();
}

Status SaveHitFile(FileSystem* fs, const OpenForUpdateFn& open_for_update,
                   const std::string& path, const BrowseList& hits, uint32_t hits_found,
                   uint32_t limit, const HitFileSaveOptions& options) {
  StatusOr<std::unique_ptr<WritableFile>> file = Status::Internal("not opened");
  if (fs->Exists(path)) {
    int attempts = options.open_attempts < 1 ? 1 : options.open_attempts;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
      file = open_for_update(path);
      if (file.ok() || attempt == attempts) break;
      if (options.sleep) {
        options.sleep(options.pause);
      } else {
        std::this_thread::sleep_for(options.pause);
      }
    }
  } else {
    std::string_view folder = FolderPart(path);
    if (!folder.empty()) VANTREL_RETURN_IF_ERROR(fs->CreateFolders(std::string(folder)));
    file = open_for_update(path);
  }
  if (!file.ok()) return file.status();
  Status written = WriteHitFile(hits, hits_found, limit, file->get());
  Status closed = (*file)->Close();
  return written.ok() ? closed : written;
}

Status SaveHitFile(FileSystem* fs, const std::string& path, const BrowseList& hits,
                   uint32_t hits_found, uint32_t limit, const HitFileSaveOptions& options) {
  // Clients delete their answers, so the clients' group may write them.
  OpenForUpdateFn open = [fs](const std::string& p) {
    return fs->OpenForOverwrite(p, kSharedFileMode);
  };
  return SaveHitFile(fs, open, path, hits, hits_found, limit, options);
}

Status LoadRequestList(FileSystem* fs, std::string_view search_folder, std::string_view name,
                       const CodePage& code_page, BrowseList* list) {
  std::optional<std::string> path = ListFilePath(search_folder, name, code_page);
  if (!path) {
    return Status::InvalidArgument("list file name \"" + std::string(name) +
                                   "\" is not a plain file name of the search folder");
  }
  // Sorting once: an empty list in time order sorts the records as they load.
  VANTREL_RETURN_IF_ERROR(list->SetOrder(kOrderTime));
  return LoadListFile(fs, *path, /*keep_extra=*/true, list);
}

}  // namespace vantrel
