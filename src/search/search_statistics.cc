#include "search/search_statistics.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "core/text_table.h"
#include "platform/local_time.h"
#include "search/search_log.h"
#include "platform/byte_order.h"
#include "platform/paths.h"

namespace vantrel {
namespace {

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
// A figure such as "VmRSS:    1234 kB" of a /proc text file, in bytes.
uint64_t ProcFigure(std::string_view text, std::string_view label) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (line.size() <= label.size() || line.substr(0, label.size()) != label ||
        line[label.size()] != ':') {
      continue;
    }
    std::string_view rest = line.substr(label.size() + 1);
    size_t digits = rest.find_first_of("0123456789");
    if (digits == std::string_view::npos) return 0;
    rest.remove_prefix(digits);
    uint64_t value = 0;
    auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (ec != std::errc()) return 0;
    std::string_view unit(ptr, static_cast<size_t>(rest.data() + rest.size() - ptr));
    if (unit.find("kB") != std::string_view::npos) {
      return value > UINT64_MAX / 1024 ? UINT64_MAX : value * 1024;
    }
    return value;
  }
  return 0;
}

int AsInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

const char* T(TextId id) { return Text(id).c_str(); }

}  // namespace

uint32_t DayKey(int year, int yearday) {
  return static_cast<uint32_t>((year - 1900) * 1000 + yearday);
}

uint32_t TodayKey() {
  LocalTimeParts now = LocalTime(NowUnix());
  return DayKey(now.year, now.yearday);
}

void RecordSearch(SearchStatistics* stats, double seconds, uint32_t hits_found, uint32_t day_key) {
  stats->searches += 1;
  stats->seconds += seconds;
  stats->hits += hits_found;
  if (day_key != stats->last_day) {
    stats->days += 1;
    stats->last_day = day_key;
  }
}

std::string EncodeSearchRecord(const SearchRecord& record) {
  std::string out;
  out.reserve(kSearchRecordSize);
  PutU32(&out, static_cast<uint32_t>(record.index));
  PutU32(&out, record.hits_found);
  uint64_t bits = 0;
  static_assert(sizeof bits == sizeof record.seconds);
  std::memcpy(&bits, &record.seconds, sizeof bits);
  PutU32(&out, static_cast<uint32_t>(bits));
  PutU32(&out, static_cast<uint32_t>(bits >> 32));
  PutU32(&out, record.day_key);
  return out;
}

std::optional<SearchRecord> DecodeSearchRecord(std::string_view data) {
  if (data.size() != kSearchRecordSize) return std::nullopt;
  SearchRecord r;
  r.index = static_cast<int32_t>(LoadLe32(data, 0));
  r.hits_found = LoadLe32(data, 4);
  uint64_t bits = LoadLe32(data, 8) | (static_cast<uint64_t>(LoadLe32(data, 12)) << 32);
  std::memcpy(&r.seconds, &bits, sizeof bits);
  r.day_key = LoadLe32(data, 16);
  return r;
}

bool ApplySearchRecord(Configuration* config, const SearchRecord& record) {
  IndexDefinition* def = MutableIndexAt(config, record.index);
  if (def == nullptr) return false;
  // A damaged figure must not poison the sums.
  double seconds = record.seconds >= 0 && record.seconds < 1e9 ? record.seconds : 0;
  RecordSearch(&def->statistics, seconds, record.hits_found, record.day_key);
  return true;
}

SearchStatistics SearchStatisticsBook::Record(int index, double seconds, uint32_t hits_found,
                                              uint32_t day_key) {
  if (index < 0 || index >= kIndexes) return SearchStatistics{};
  MutexLock lock(&mu_);
  RecordSearch(&stats_[index], seconds, hits_found, day_key);
  return stats_[index];
}

SearchStatistics SearchStatisticsBook::Get(int index) const {
  if (index < 0 || index >= kIndexes) return SearchStatistics{};
  MutexLock lock(&mu_);
  return stats_[index];
}

void SearchStatisticsBook::Set(int index, const SearchStatistics& stats) {
  if (index < 0 || index >= kIndexes) return;
  MutexLock lock(&mu_);
  stats_[index] = stats;
}

void SearchStatisticsBook::Clear(int index) { Set(index, SearchStatistics{}); }

uint32_t SearchStatisticsBook::RecordEngineFailure(int index,
                                                   const std::function<uint32_t()>& stored) {
  if (index < 0 || index >= kIndexes) return 0;
  MutexLock lock(&mu_);
  if (!failures_loaded_[index]) {
    failures_loaded_[index] = true;
    if (stored) engine_failures_[index] += stored();
  }
  if (engine_failures_[index] != UINT32_MAX) ++engine_failures_[index];
  return engine_failures_[index];
}

uint32_t SearchStatisticsBook::EngineFailures(int index) const {
  if (index < 0 || index >= kIndexes) return 0;
  MutexLock lock(&mu_);
  return engine_failures_[index];
}

namespace {
constexpr std::string_view kFailureLabel = "engine failures ";
}  // namespace

std::string EngineFailureFilePath(const std::string& index_folder) {
  return JoinNative(index_folder, KeyToNative(kEngineFailureFile));
}

std::string EncodeEngineFailureFile(uint32_t failures) {
  return std::string(kFailureLabel) + std::to_string(failures) + "\n";
}

std::optional<uint32_t> DecodeEngineFailureFile(std::string_view bytes) {
  if (bytes.size() > 64 || bytes.substr(0, kFailureLabel.size()) != kFailureLabel) {
    return std::nullopt;
  }
  bytes.remove_prefix(kFailureLabel.size());
  while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.remove_suffix(1);
  uint32_t value = 0;
  auto [ptr, ec] = std::from_chars(bytes.data(), bytes.data() + bytes.size(), value);
  if (ec != std::errc() || ptr != bytes.data() + bytes.size() || bytes.empty()) return std::nullopt;
  return value;
}

uint32_t ReadEngineFailures(FileSystem* fs, const std::string& index_folder) {
  StatusOr<std::string> bytes = fs->ReadFile(EngineFailureFilePath(index_folder), 64);
  std::optional<uint32_t> count = bytes.ok() ? DecodeEngineFailureFile(*bytes) : std::nullopt;
  return count.value_or(0);
}

std::string EncodeEngineFailureRecord(const EngineFailureRecord& record) {
  std::string out;
  PutU32(&out, static_cast<uint32_t>(record.index));
  PutU32(&out, record.failures);
  return out;
}

std::optional<EngineFailureRecord> DecodeEngineFailureRecord(std::string_view data) {
  if (data.size() != 8) return std::nullopt;
  EngineFailureRecord r;
  r.index = static_cast<int32_t>(LoadLe32(data, 0));
  r.failures = LoadLe32(data, 4);
  if (r.index < 0 || r.index >= SearchStatisticsBook::kIndexes) return std::nullopt;
  return r;
}

SearchLoad ComputeSearchLoad(const SearchStatistics& stats) {
  SearchLoad load;
  load.searches_per_day = stats.searches / std::max<uint32_t>(stats.days, 1);
  load.average_seconds = stats.seconds / std::max<uint32_t>(stats.searches, 1);
  load.average_hits = stats.hits / std::max<uint32_t>(stats.searches, 1);
  return load;
}

ContentTotals ComputeContentTotals(std::span<const IndexContent> indexes, int which) {
  ContentTotals t;
  for (size_t i = 0; i < indexes.size(); ++i) {
    const IndexContent& c = indexes[i];
    if (!c.active) continue;
    if (which >= 0 && static_cast<size_t>(which) != i) continue;
    t.indexes += 1;
    t.image_folders += c.image_folders;
    t.sub_folders += c.sub_folders;
    t.files += c.files;
    t.unused += c.unused;
    t.words += c.words;
  }
  if (t.unused < 0) t.unused = 0;
  return t;
}

MemoryFigures MakeMemoryFigures(uint64_t used, uint64_t free, uint64_t free_swap) {
  MemoryFigures m;
  m.used_bytes = used;
  m.free_bytes = free;
  m.free_swap_bytes = free_swap;
  long double total = static_cast<long double>(used) + static_cast<long double>(free);
  if (total < 1) total = 1;
  m.load_percent = static_cast<int>(static_cast<long double>(used) * 100 / total);
  return m;
}

MemoryFigures ReadMemoryFigures(FileSystem* fs) {
  uint64_t used = 0, free = 0, swap = 0;
  StatusOr<std::string> self = fs->ReadFile("/proc/self/status", 1 << 16);
  if (self.ok()) used = ProcFigure(*self, "VmRSS");
  StatusOr<std::string> meminfo = fs->ReadFile("/proc/meminfo", 1 << 16);
  if (meminfo.ok()) {
    free = ProcFigure(*meminfo, "MemAvailable");
    if (free == 0) free = ProcFigure(*meminfo, "MemFree");
    swap = ProcFigure(*meminfo, "SwapFree");
  }
  return MakeMemoryFigures(used, free, swap);
}

std::string DisksLine(const ContentTotals& t) {
  return StringPrintf("%i %s, %i %s, %i %s", AsInt(t.files), T(TextId::IDS_FILES),
                      AsInt(t.image_folders), T(TextId::IDS_DIRECTORIES), AsInt(t.sub_folders),
                      T(TextId::IDS_SUBDIRS));
}

std::string IndexDatabaseLine(const ContentTotals& t) {
  return StringPrintf("%i %s, %i %s", AsInt(t.unused), T(TextId::IDS_UNUSED), AsInt(t.words),
                      T(TextId::IDS_WORDS));
}

std::string TotalDatabaseLine(const ContentTotals& t) {
  return StringPrintf("%i %s, %i %s, %i %s", t.indexes, T(TextId::IDS_INDEXES), AsInt(t.unused),
                      T(TextId::IDS_UNUSED), AsInt(t.words), T(TextId::IDS_WORDS));
}

std::string SearchLoadLine(const SearchLoad& load) {
  return StringPrintf("%i %s, %.4f %s, %i %s", AsInt(load.searches_per_day),
                      T(TextId::IDS_SEARCHPERDAY), load.average_seconds,
                      T(TextId::IDS_AVESEARCHTIME), AsInt(load.average_hits),
                      T(TextId::IDS_AVEHITS));
}

std::string MemoryLine(const MemoryFigures& m) {
  return StringPrintf("%.1f MB %s, %.1f MB %s, %i%c %s", m.used_bytes / 1048576.0,
                      T(TextId::IDS_MEMUSED), m.free_bytes / 1048576.0, T(TextId::IDS_MEMFREE),
                      m.load_percent, '%', T(TextId::IDS_MEMLOAD));
}

std::string StatisticsTitle(std::string_view index_name) {
  return StringPrintf("%s %s", T(TextId::IDS_STATISTICSFOR), std::string(index_name).c_str());
}

}  // namespace vantrel
