// Log file names and appending lines to log files.
#include "core/log_files.h"

#include <cstdio>
#include <limits>

#include "core/file_names.h"
#include "platform/file_system.h"
#include "platform/local_time.h"

namespace vantrel {

namespace {

// A log file larger than this is not read back for an append; the line then
// stays in the event list only. It keeps one process from holding a runaway
// file in memory.

bool IsForbiddenInFileName(unsigned char c, size_t position) {
  if (c < 32) return true;  // NUL and characters 1 to 31
  switch (c) {
    case '"':
    case '*':
    case '/':
    case '<':
    case '>':
    case '?':
    case '|':
      return true;
    case ':':
      return position != 1;
    default:
      return false;
  }
}

std::string ParentFolder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return std::string();
  return path.substr(0, slash);
}

}  // namespace

LogStamp LocalLogStamp() {
  int64_t now = NowUnix();
  LocalTimeParts parts = LocalTime(now);
  LogStamp stamp;
  stamp.year = parts.year;
  stamp.month = parts.month;
  stamp.day = parts.day;
  stamp.short_date = ShortDate(now);
  stamp.time_text = TimeText(now);
  return stamp;
}

std::string DailyPeriodName(std::string_view short_date) {
  std::string name(short_date);
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsForbiddenInFileName(static_cast<unsigned char>(name[i]), i)) name[i] = '_';
  }
  return name;
}

std::string WeeklyPeriodName(int year, int month, int day) {
  // Out-of-range parts cannot come from a real clock; they are printed as
  // they are, and the buffer is large enough for any int.
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%i%02i_WEEK%02i", year, month, day / 7 + 1);
  return buffer;
}

std::string LogFileName(uint32_t flags, const LogStamp& stamp) {
  std::string name = names::kLogFilePrefix;
  name += (flags & kEventLogDaily) ? DailyPeriodName(stamp.short_date)
                                   : WeeklyPeriodName(stamp.year, stamp.month, stamp.day);
  name += names::kLogFileSuffix;
  return name;
}

std::string LogFilePath(const std::string& log_folder, const std::string& default_folder,
                        uint32_t flags, const LogStamp& stamp) {
  std::string folder;
  if (log_folder.empty()) {
    folder = default_folder;
  } else if (log_folder.front() == '/' || default_folder.empty()) {
    folder = log_folder;
  } else {
    folder = default_folder + "/" + log_folder;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string path = folder;
  if (path != "/") path += '/';
  path += LogFileName(flags, stamp);
  return path;
}

Status AppendLogLine(FileSystem* fs, const std::string& path, std::string_view line) {
  if (!fs->Exists(path)) {
    std::string parent = ParentFolder(path);
    if (!parent.empty()) VANTREL_RETURN_IF_ERROR(fs->CreateFolders(parent));
  }
  std::string record(line);
  record += '\n';
  // One appending write per line: the lines written before are never touched.
  return fs->AppendToFile(path, record);
}

}  // namespace vantrel
