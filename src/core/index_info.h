// The client information file of an index: "INDEXINFO.INI" in the index's
// client folder ("VT_CLIENT"), section "INDEXINFO", key "TOTALFILES" holding
// the number of files in the index's TIMELIST. Clients read it directly.
//
// Thread safety: any thread; writes of the same file are serialised by the
// INI module.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr char kIndexInfoSection[] = "INDEXINFO";
inline constexpr char kIndexInfoTotalFilesKey[] = "TOTALFILES";

// Creates `client_folder` (native path of the index's "VT_CLIENT" folder)
// when it is missing and sets TOTALFILES in its "INDEXINFO.INI" to
// `timelist_count` ("%i"); other lines of the file stay. The file is replaced
// atomically: on failure the old file is left as it was.
Status WriteIndexInfo(FileSystem* fs, const std::string& client_folder, uint32_t timelist_count);

}  // namespace vantrel
