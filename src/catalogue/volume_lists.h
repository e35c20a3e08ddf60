// The files that tell clients under which names they reach an index's image
// folders.
//
//  - WINVOLLIST and MACVOLLIST in the lists folder of each index: browse list
//    files (core/list_file.h) with one entry per used image folder slot, in
//    name order; the name is the slot's Windows share path or Macintosh
//    volume path (empty names too), the value the slot number, the time 0.
//  - WinPathInfo.ini and MacPathInfo.ini in the server's PDF folder, section
//    "FOLDERMAPPING": for every used slot of every active index that has a
//    share path (a volume path), one key mapping it to the folder's local
//    path in key form. All indexes share the two files.
//
// Texts in the configuration are UTF-8; the files hold code-page text
// (CodePage::Default() unless one is given), and the Macintosh file holds it
// converted to the Macintosh character set by the converter the caller passes
// (the character tables belong to the metadata layer).
//
// Thread safety: the functions keep no state; they are called by the task
// thread on the task's copy of the configuration.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/config_file.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// Section of the folder mapping files.
inline constexpr char kFolderMappingSection[] = "FOLDERMAPPING";

// Converts code-page text to the Macintosh character set.
using MacCharsetConverter = std::function<std::string(std::string_view)>;

// Writes WINVOLLIST and MACVOLLIST of `def` into `lists_folder` (which must
// exist), each replaced atomically. Returns the first failure; the other file
// is still attempted.
Status WriteVolumeLists(const IndexDefinition& def, FileSystem* fs, const std::string& lists_folder,
                        const CodePage& cp = CodePage::Default());

// The key form of a Windows share path: "\\srv\share\a" -> "srv\share\a"; a
// path without the two leading backslashes becomes its first character, a
// backslash and the rest after its third character ("D:\Images\a" ->
// "D\Images\a"), or its first character alone when shorter than 3 characters.
std::string ShareKeyForm(std::string_view share_path);

// The key form of a local (native) folder path in code-page text: the leading
// '/' dropped, separators written as '\' ("/srv/images/sport" ->
// "srv\images\sport").
std::string LocalKeyForm(std::string_view native_path, const CodePage& cp);

// Writes WinPathInfo.ini and MacPathInfo.ini into the PDF folder of `config`.
// Does nothing (OK) when no PDF folder is set or it is not a folder. The
// "FOLDERMAPPING" section of each file is rebuilt from the active indexes, so
// folders that are no longer served leave it; other sections of an existing
// file are kept. Keys that coincide (without regard to case) hold the value
// of the last index and slot that wrote them. A key the INI format cannot
// hold ('=' in it, or beginning with '[' or ';') is left out. `to_mac` may be
// empty: the Macintosh file then holds the code-page bytes unchanged. Returns
// the first failure; the other file is still attempted.
Status WriteFolderMappingFiles(const Configuration& config, FileSystem* fs,
                               const MacCharsetConverter& to_mac = {},
                               const CodePage& cp = CodePage::Default());

}  // namespace vantrel
