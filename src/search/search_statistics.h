// Search and index statistics: how busy each index is and what it holds, as
// figures and as the console's statistics and status lines.
//
// Search figures (SearchStatistics of core/config_file.h: searches, hits,
// seconds, days, last day) are counted per index after every answered
// request. Several search workers finish at the same time, so the task side
// keeps them in a SearchStatisticsBook, which records under a lock and loses
// no update. Each recorded search is also posted to the console as status
// message kStatusSearchRecorded with the figures of that one search
// (SearchRecord); the console adds it to its own copy of the configuration
// with RecordSearch, so that the figures it shows are the task's, are
// cleared by "Clear Search Statistics" on the copy that is saved, and
// survive a restart with the configuration data file.
//
// Engine failures (no engine, a missing, damaged or locked index, a query the
// engine rejected) are counted beside these figures, per index: the
// configuration data file has no room for them, so the count is kept in
// memory and in the side file VT_DATA\ENGFAIL.DAT of the index folder
// (text, "engine failures N"), which vantrelctl shows. Each failure is also
// posted as status message kStatusEngineFailure (EncodeEngineFailureRecord)
// for the console's state.
//
// Thread safety: a SearchStatisticsBook may be used from any thread; the
// other functions are pure, except ReadMemoryFigures, which reads files.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/config_file.h"
#include "platform/file_system.h"
#include "platform/mutex.h"

namespace vantrel {

// Status message code of one recorded search (data: EncodeSearchRecord).
// The next code after the index statistics record (23).
inline constexpr uint32_t kStatusSearchRecorded = 24;
// Status message code of an engine failure (data: EncodeEngineFailureRecord).
inline constexpr uint32_t kStatusEngineFailure = 25;

// The side file of an index's engine failure count, below its index folder.
inline constexpr char kEngineFailureFile[] = "VT_DATA\\ENGFAIL.DAT";
std::string EngineFailureFilePath(const std::string& index_folder);
std::string EncodeEngineFailureFile(uint32_t failures);
// The count of a side file; nothing unless it is one such line.
std::optional<uint32_t> DecodeEngineFailureFile(std::string_view bytes);
// The count in the side file of the index in `index_folder`; 0 when there is
// none or it cannot be read.
uint32_t ReadEngineFailures(FileSystem* fs, const std::string& index_folder);

// One engine failure as posted to the console: the index and its count so
// far. 8 bytes, little-endian: i32 index, u32 failures.
struct EngineFailureRecord {
  int32_t index = 0;
  uint32_t failures = 0;
  bool operator==(const EngineFailureRecord&) const = default;
};
std::string EncodeEngineFailureRecord(const EngineFailureRecord& record);
// Nothing unless `data` holds exactly 8 bytes and the index is 0 to 31.
std::optional<EngineFailureRecord> DecodeEngineFailureRecord(std::string_view data);

// The day key of a local date: years since 1900 * 1000 + day of the year
// (0 to 365).
uint32_t DayKey(int year, int yearday);
// The day key of now, local time.
uint32_t TodayKey();

// Adds one answered search: searches + 1, hits + hits_found, seconds +
// elapsed; a day key other than the last one counts one more day.
void RecordSearch(SearchStatistics* stats, double seconds, uint32_t hits_found, uint32_t day_key);

// One answered search as posted to the console.
struct SearchRecord {
  int32_t index = 0;
  uint32_t hits_found = 0;
  double seconds = 0;
  uint32_t day_key = 0;
  bool operator==(const SearchRecord&) const = default;
};
inline constexpr size_t kSearchRecordSize = 20;
// 20 bytes, little-endian: i32 index, u32 hits, f64 seconds, u32 day key.
std::string EncodeSearchRecord(const SearchRecord& record);
// Nothing unless `data` holds exactly 20 bytes.
std::optional<SearchRecord> DecodeSearchRecord(std::string_view data);
// Adds a posted record to `config` (the console's copy); false when the
// index number is not below the index count.
bool ApplySearchRecord(Configuration* config, const SearchRecord& record);

// The task side's figures, one set per index number.
class SearchStatisticsBook {
 public:
  static constexpr int kIndexes = 32;
  // Records one search of `index` (0 to 31; others are ignored) and returns
  // the index's figures after it.
  SearchStatistics Record(int index, double seconds, uint32_t hits_found, uint32_t day_key)
      EXCLUDES(mu_);
  SearchStatistics Get(int index) const EXCLUDES(mu_);
  void Set(int index, const SearchStatistics& stats) EXCLUDES(mu_);
  void Clear(int index) EXCLUDES(mu_);

  // Counts one engine failure of `index` and returns the count after it.
  // The first failure of an index adds to `stored()` (the side file's count).
  uint32_t RecordEngineFailure(int index, const std::function<uint32_t()>& stored) EXCLUDES(mu_);
  uint32_t EngineFailures(int index) const EXCLUDES(mu_);

 private:
  mutable Mutex mu_;
  std::array<SearchStatistics, kIndexes> stats_ GUARDED_BY(mu_);
  std::array<uint32_t, kIndexes> engine_failures_ GUARDED_BY(mu_){};
  std::array<bool, kIndexes> failures_loaded_ GUARDED_BY(mu_){};
};

// The search load of an index, for display.
struct SearchLoad {
  uint32_t searches_per_day = 0;  // searches / max(days, 1)
  double average_seconds = 0;     // seconds / max(searches, 1)
  uint32_t average_hits = 0;      // hits / max(searches, 1)
};
SearchLoad ComputeSearchLoad(const SearchStatistics& stats);

// What one index holds, from its latest index statistics record and its
// definition.
struct IndexContent {
  bool active = false;
  int image_folders = 0;  // slots that hold a path
  uint32_t files = 0;
  int32_t unused = 0;
  uint32_t sub_folders = 0;
  uint32_t words = 0;
};

struct ContentTotals {
  int indexes = 0;  // active indexes counted
  int64_t image_folders = 0;
  int64_t sub_folders = 0;
  int64_t files = 0;
  int64_t unused = 0;  // never below 0
  int64_t words = 0;
};
// Totals over the active indexes, or over index `which` alone when it is 0
// or more (counted only when active).
ContentTotals ComputeContentTotals(std::span<const IndexContent> indexes, int which);

struct MemoryFigures {
  uint64_t used_bytes = 0;  // the server process's resident memory
  uint64_t free_bytes = 0;  // physical memory available
  uint64_t free_swap_bytes = 0;
  int load_percent = 0;  // used * 100 / (used + free)
};
// Computes the load from used and free (divisor at least 1).
MemoryFigures MakeMemoryFigures(uint64_t used, uint64_t free, uint64_t free_swap);
// Reads the figures from /proc/self/status and /proc/meminfo through `fs`;
// figures that cannot be read are 0.
MemoryFigures ReadMemoryFigures(FileSystem* fs);

// Console lines (texts from the text table).
// "%i %s, %i %s, %i %s": files, image folders, sub-folders.
std::string DisksLine(const ContentTotals& totals);
// Statistics pane: "%i %s, %i %s": unused entries, words.
std::string IndexDatabaseLine(const ContentTotals& totals);
// Status pane: "%i %s, %i %s, %i %s": active indexes, unused entries, words.
std::string TotalDatabaseLine(const ContentTotals& totals);
// "%i %s, %.4f %s, %i %s": searches per day, average seconds, average hits.
std::string SearchLoadLine(const SearchLoad& load);
// "%.1f MB %s, %.1f MB %s, %i%c %s": used, free, load.
std::string MemoryLine(const MemoryFigures& memory);
// The title of the statistics group: "%s %s" with IDS_STATISTICSFOR and the
// index name.
std::string StatisticsTitle(std::string_view index_name);

}  // namespace vantrel
