// Names of the server's own files and folders, in one place.
//
// Clients read many of these files directly, so the names are fixed texts.
// Keys and client-facing paths use a backslash; native paths are built from
// them with platform/paths.h.
#pragma once

namespace vantrel::names {

// In the start directory.
inline constexpr char kConfigurationFile[] = "Vantrel CONFIGURATION DATA";
inline constexpr char kSettingsFile[] = "VANTREL.INI";
inline constexpr char kFieldCatalogue[] = "Fields.Dat";
inline constexpr char kInstanceLockFile[] = ".vantrel.lock";
inline constexpr char kLogFilePrefix[] = "VTLOG_";
inline constexpr char kLogFileSuffix[] = ".TXT";

// Below an index folder.
inline constexpr char kOffLineFolder[] = "OffLine";
inline constexpr char kPdfFolder[] = "PDF";
inline constexpr char kPathInfoFile[] = "PathInfo.ini";
inline constexpr char kDataFolder[] = "VT_DATA";
inline constexpr char kIndexLockFile[] = ".vantrel-index.lock";  // in VT_DATA
inline constexpr char kEngineFolder[] = "VT_DATA\\VT_INDEX";
inline constexpr char kListsFolder[] = "VT_DATA\\VT_LISTS";
inline constexpr char kSearchFolder[] = "VT_SEARCH";
inline constexpr char kClientFolder[] = "VT_CLIENT";
inline constexpr char kIndexInfoFile[] = "INDEXINFO.INI";
inline constexpr char kStatusFile[] = "VTSTATUS";
inline constexpr char kRemoveList[] = "RemoveList.dat";
inline constexpr char kBackupCurrent[] = "VT_BACKUP\\CURRENT";
inline constexpr char kBackupMaster[] = "VT_BACKUP\\MASTER";

// In the lists folder.
inline constexpr char kTimeList[] = "TIMELIST";
inline constexpr char kCharList[] = "CHARLIST";
inline constexpr char kDirList[] = "DIRLIST";
inline constexpr char kFullListsFolder[] = "VT_FULLLISTS";
inline constexpr char kWinVolList[] = "WINVOLLIST";
inline constexpr char kMacVolList[] = "MACVOLLIST";
inline constexpr char kWinWarnList[] = "WINWARNLIST";
inline constexpr char kMacWarnList[] = "MACWARNLIST";

// In the PDF folder.
inline constexpr char kWinPathInfo[] = "WinPathInfo.ini";
inline constexpr char kMacPathInfo[] = "MacPathInfo.ini";

}  // namespace vantrel::names
