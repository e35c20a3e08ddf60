// Log files: the names of the daily and weekly text files that receive the
// event log's lines, and appending one line to them.
//
// A log file is "VTLOG_" + period name + ".TXT" in the log folder. The daily
// period name is the local short date with every character that a file name
// cannot hold made "_"; the weekly one is "%i%02i_WEEK%02i" of the local year,
// month and week of the month (day / 7 + 1, so days 1 to 6 are week 01 and the
// 28th to 31st week 05). Lines are code-page bytes, each followed by a single
// line feed.
//
// Thread safety: the functions are pure or go through a FileSystem, which
// accepts calls from any thread; callers serialize appends to one file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

class FileSystem;

// Log option flags, as stored in the configuration.
inline constexpr uint32_t kEventLogUseFile = 1;     // write the log file
inline constexpr uint32_t kEventLogDaily = 2;       // new file every day; clear: every week
inline constexpr uint32_t kEventLogFilesAdded = 4;  // log every file added to an index
inline constexpr uint32_t kEventLogSearches = 8;    // log every search
inline constexpr uint32_t kEventLogDefaultFlags = kEventLogDaily;

// The moment of one event as the event log needs it: the local calendar date
// and the locale's short date and time texts.
struct LogStamp {
  int year = 0;            // e.g. 2026
  int month = 0;           // 1 to 12
  int day = 0;             // 1 to 31
  std::string short_date;  // the locale's short date, e.g. "03/06/26"
  std::string time_text;   // the locale's time of day, e.g. "14:05:09"
};

// Where the event log gets the current moment; tests pass a fixed one.
using LogClock = std::function<LogStamp()>;

// The current local moment from the platform's clock and locale.
LogStamp LocalLogStamp();

// The short date with every character a file name cannot hold made "_":
// characters 1 to 31, '"', '*', '/', '<', '>', '?', '|', and ':' except as the
// second character. A NUL byte is also replaced.
std::string DailyPeriodName(std::string_view short_date);

// "%i%02i_WEEK%02i" of year, month and (day / 7 + 1).
std::string WeeklyPeriodName(int year, int month, int day);

// "VTLOG_" + the period name (daily when `flags` has kEventLogDaily, else
// weekly) + ".TXT".
std::string LogFileName(uint32_t flags, const LogStamp& stamp);

// The native path of the log file: `log_folder` + "/" + LogFileName(). An
// empty log folder means `default_folder` (the start directory); a relative
// one is taken below `default_folder`.
std::string LogFilePath(const std::string& log_folder, const std::string& default_folder,
                        uint32_t flags, const LogStamp& stamp);

// Appends `line` and one line feed to the file at `path`, creating the file
// and its missing folders. The file's earlier content is never lost: when the
// append fails the file is as it was.
Status AppendLogLine(FileSystem* fs, const std::string& path, std::string_view line);

}  // namespace vantrel
