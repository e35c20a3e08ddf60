// Index folders: the fixed tree below every index folder, prepared at each
// preparation pass of the database process task.
//
//   <index folder>/OffLine                 image folder slot 0
//   <index folder>/PDF/PathInfo.ini        where the PDF thumbnails live, for clients
//   <index folder>/VT_DATA/VT_INDEX        the engine's files
//   <index folder>/VT_DATA/VT_LISTS        browse lists (and VT_FULLLISTS)
//   <index folder>/VT_SEARCH               request, hit and progress files; VTSTATUS
//   <index folder>/VT_CLIENT/INDEXINFO.INI client information
//
// Thread safety: called by the task thread on the task's copy of the configuration.
#pragma once

#include <string>
#include <vector>

#include "catalogue/volume_lists.h"
#include "core/config_file.h"
#include "core/notices.h"
#include "platform/file_system.h"
#include "platform/served_folders.h"
#include "platform/status.h"

namespace vantrel {

// The four bytes of "VTSTATUS": present while an index is being opened,
// listed and compared, deleted once its change notifications are armed.
inline constexpr char kStatusFileBytes[4] = {0, 0, 0, 1};

// Writes "PathInfo.ini" in <index folder>/PDF: the file is replaced by one
// holding a single blank, then section "PDF_FOLDER" gets "WIN_PATH" and
// "MAC_PATH" from the PDF settings (CR and LF in values become backslashes).
Status WritePathInfo(FileSystem* fs, const std::string& index_folder, const PdfSettings& pdf);

// Prepares every active index of the task's configuration, in order:
//  1. an index folder that is not a valid folder stops the index for this
//     task (notice for 60 s);
//  2. when the PDF folder is set and exists, writes PathInfo.ini and then the
//     folder mapping files of the PDF folder (volume_lists.h), converting the
//     Macintosh file's texts with `to_mac` (none: bytes kept);
//  3. an index folder inside one of its image folders stops the index (notice;
//     the rule is PathIsWithin: whole path components, case-sensitive);
//  4. derives the engine, lists and search folders, creates every missing
//     folder of the tree (a new search folder as a shared folder: mode
//     02775 and the index folder's group, FileSystem::CreateSharedFolder),
//     empties the search folder and writes VTSTATUS.
// Only the task's copy changes: the console's copy keeps the active flags, so
// the next task start checks the index again. Folder creation and file
// writing failures are left to show up in the later steps.
void PrepareIndexFolders(Configuration* config, FileSystem* fs, NoticeSink* notices,
                         const MacCharsetConverter& to_mac = {});

// The folders that clients and other users write into, of the active indexes
// of a prepared configuration: every image folder, search folder, lists
// folder and client folder, and the PDF folder when set. Nothing below them
// is reached through a link (platform/served_folders.h). The folders that the
// server makes in an index folder (the search, lists and client folders, and
// the OffLine folder when it is an image folder) have the index folder as
// the operator's part, so not even they may be links.
std::vector<ServedFolder> ServedFoldersOf(const Configuration& config);

}  // namespace vantrel
