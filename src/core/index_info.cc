#include "core/index_info.h"

#include <string>

#include "core/file_names.h"
#include "platform/ini_file.h"

namespace vantrel {

Status WriteIndexInfo(FileSystem* fs, const std::string& client_folder, uint32_t timelist_count) {
  VANTREL_RETURN_IF_ERROR(fs->CreateFolders(client_folder));
  // "%i" of a count that never exceeds the list limit of 2,000,000.
  std::string value = std::to_string(static_cast<int>(timelist_count));
  return WriteIniString(fs, client_folder + "/" + names::kIndexInfoFile, kIndexInfoSection,
                        kIndexInfoTotalFilesKey, value);
}

}  // namespace vantrel
