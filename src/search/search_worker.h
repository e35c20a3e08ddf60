// SearchWorker: serves one request file of an index's search folder, from
// the client's written file to the hit file beside it.
//
// For a search request ("REQ") the worker waits until the file holds a whole
// record (520 bytes, up to 101 checks 50 ms apart; "Failed to get size %s"
// otherwise), reads it (up to 21 attempts 50 ms apart; "Failed to open %s"),
// deletes it (a no-op request is only deleted), translates its words, loads
// its merge and restrict lists, collects the hits (from the engine or the
// result cache, or for a request without words from TIMELIST), sorts them,
// writes NAME.HIT in place over an older hit file, shows the "Last Search:"
// line, logs the search when "Log Every Search" is on and counts it in the
// index's search statistics. A query request ("QRY") takes the same road with
// its own waits (3100 bytes; 101 checks and 51 attempts, 30 ms apart, no
// messages), no translation, no date filter, a progress file NAME.PRG every
// 500 accepted hits and its own sort order. docs/client-protocol.md gives the
// client's view.
//
// A request that cannot be read stays in the folder; a request with garbage
// bytes is answered like any other (every field is range-checked by the
// decoder); ServeRequest never throws.
//
// Thread safety: one SearchWorker serves every request of the server; any
// number of threads may call ServeRequest at once (for the same or different
// indexes). The engine holder, the cache and the file system are shared and
// safe for that; each request's lists are its own; TIMELIST is read through
// its list lock, one operation at a time. Workers never hold two locks.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/task_context.h"
#include "core/task_services.h"
#include "indexing/engine_holder.h"
#include "indexing/result_cache.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "search/hit_file.h"
#include "search/hit_filters.h"
#include "search/query_translation.h"
#include "search/request_file.h"
#include "search/search_engine_call.h"
#include "search/search_statistics.h"

namespace vantrel {

struct SearchWorkerOptions {
  // Code page of request names and list file names; CodePage::Default() when
  // null.
  const CodePage* code_page = nullptr;
  // Search requests: checks of the file size, attempts to read the file.
  int request_size_checks = 101;
  int request_read_attempts = 21;
  std::chrono::milliseconds request_pause{50};
  // Query requests.
  int query_size_checks = 101;
  int query_read_attempts = 51;
  std::chrono::milliseconds query_pause{30};
  // A query's hits are filtered, and its progress file brought up to date,
  // at most this often while they arrive (see HitCollectorOptions).
  std::chrono::milliseconds query_progress_interval{100};
  // Opening an existing hit file (40 attempts 10 ms apart).
  HitFileSaveOptions hit_file;
  // Waits between attempts; std::this_thread::sleep_for when empty.
  std::function<void(std::chrono::milliseconds)> sleep;
  // The current time as a file time stamp (for the date filter); the clock's
  // when empty.
  std::function<uint32_t()> now_stamp;
  // The day key of today (statistics); local time when empty.
  std::function<uint32_t()> today_key;
  // Runs the engine's search jobs; the engine holder's engine when empty
  // (tests put a stand-in engine here).
  SearchJobRunner run_search_job;
};

class SearchWorker : public SearchService {
 public:
  // `engines`, `cache`, `fs` must outlive the worker; `cache` may be null (no
  // caching), `fs` null means DefaultFileSystem().
  SearchWorker(EngineHolder* engines, ResultCache* cache, FileSystem* fs,
               SearchWorkerOptions options = {});

  // Serves request file `request_name` (code-page text relative to the
  // search folder of index `index`, '\' between folders) of `task`.
  void ServeRequest(TaskContext& task, int index, const std::string& request_name) override;

  // The search figures the worker has counted, per index.
  SearchStatisticsBook& statistics() { return statistics_; }
  // Searches the engine ran (cached answers and date searches not counted).
  uint64_t engine_searches() const { return engine_searches_.load(); }
  // Requests answered with a hit file.
  uint64_t answered() const { return answered_.load(); }

 private:
  struct Request;
  void Serve(TaskContext& task, int index, const std::string& request_name);
  void ServeSearch(TaskContext& task, Request& request);
  void ServeQuery(TaskContext& task, Request& request);
  // Read, decoded and deleted, the search begun on the console; nothing when
  // there is nothing to answer (a record not yet whole is left in place).
  std::optional<SearchRequest> TakeSearchRequest(TaskContext& task, const Request& request);
  std::optional<QueryRequest> TakeQueryRequest(TaskContext& task, const Request& request);
  uint32_t CollectEngineHits(TaskContext& task, Request& request, const TranslatedQuery& translated,
                             const RequestLists& lists, const DateFilter& filter,
                             LockedBrowseList timelist, BrowseList* restrict_list,
                             bool name_order, BrowseList* hits);
  // Waits for the file to reach `min_size`; false when it never did.
  bool WaitForSize(const std::string& path, uint64_t min_size, int checks,
                   std::chrono::milliseconds pause);
  // Reads up to `max_bytes`; nothing when every attempt failed.
  std::optional<std::string> ReadRequest(const std::string& path, size_t max_bytes, int attempts,
                                         std::chrono::milliseconds pause);
  void Sleep(std::chrono::milliseconds pause) const;
  uint32_t NowStamp() const;
  // Writes the hit file and does the bookkeeping shared by both kinds.
  void Answer(TaskContext& task, Request& request, const BrowseList& hits, uint32_t hits_found,
              uint32_t limit);
  void Record(TaskContext& task, int index, double seconds, uint32_t hits_found);
  // Asks the engine (or the cache) for the hits of `params`.
  EngineSearchReport CallEngine(const EngineSearchParams& params, const EngineHitFn& on_hit,
                                const HitsComingFn& on_coming);
  // Hands the engine's hits, which `collector` kept (keep_arrivals), to the
  // result cache when `report` allows.
  void KeepInCache(const EngineSearchParams& params, const EngineSearchReport& report,
                   HitCollector& collector);
  // Runs `params` through CallEngine into `collector`, finishes it, counts
  // the engine search and notes its trouble.
  EngineSearchReport SearchIntoCollector(TaskContext& task, const Request& request,
                                         const EngineSearchParams& params,
                                         HitCollector& collector);
  // Makes an engine failure or a search cut short visible: an event-log
  // line (failures: at most one a minute per index), the failure count in
  // the statistics, its side file and the console.
  void NoteEngineTrouble(TaskContext& task, const Request& request,
                         const EngineSearchReport& report);
  void Report(TaskContext& task, const std::string& line, bool always_console);

  EngineHolder* engines_;
  ResultCache* cache_;
  FileSystem* fs_;
  SearchWorkerOptions options_;
  const CodePage* code_page_;
  SearchStatisticsBook statistics_;
  std::atomic<uint64_t> engine_searches_{0};
  std::atomic<uint64_t> answered_{0};
  Mutex failure_mu_;
  std::array<std::chrono::steady_clock::time_point, SearchStatisticsBook::kIndexes>
      last_failure_line_ GUARDED_BY(failure_mu_){};
  std::array<bool, SearchStatisticsBook::kIndexes> failure_logged_ GUARDED_BY(failure_mu_){};
};

}  // namespace vantrel
