#include "search/search_worker.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

#include "core/config_file.h"
#include "platform/file_time.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "search/hit_filters.h"
#include "search/progress_file.h"
#include "search/query_translation.h"
#include "search/request_file.h"
#include "search/request_names.h"
#include "search/search_engine_call.h"
#include "search/search_log.h"

namespace vantrel {
namespace {

// A search request whose hit limit exceeds this may be kept in the cache
// even with few hits.
constexpr uint32_t kWideResultLimit = 2000;

// A request name as the change watcher hands it on: a path below the search
// folder, '\' between its parts, no empty, "." or ".." part, no '/', no
// control character.
bool IsServableRequestName(std::string_view name) {
  if (name.empty() || name.size() > kMaxListNameLength) return false;
  size_t start = 0;
  for (;;) {
    size_t end = name.find('\\', start);
    std::string_view part =
        name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    for (char c : part) {
      auto u = static_cast<unsigned char>(c);
      if (c == '/' || u < 32 || u == 127) return false;
    }
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  // Whole milliseconds, as a tick count gives them.
  return static_cast<double>(us / 1000) / 1000.0;
}

// What a search request asks, whichever its form.
struct SearchAsked {
  TranslatedQuery translated;
  RequestLists lists;
  uint8_t date_mode = 0;
  uint8_t date_period = 0;
  bool name_order = false;
  int merge_flag = 0;
  int restrict_flag = 0;
};

template <typename Form>
SearchAsked AskedByForm(const Form& form, TranslatedQuery translated) {
  SearchAsked asked;
  asked.translated = std::move(translated);
  asked.lists = ListsOf(form);
  asked.date_mode = form.date_mode;
  asked.date_period = form.date_period;
  asked.name_order = form.name_order_flag != 0;
  asked.merge_flag = form.merge_flag;
  asked.restrict_flag = form.restrict_flag;
  return asked;
}

SearchAsked AskedBy(const SearchRequest& request) {
  if (request.form == SearchRequestForm::kShort) {
    return AskedByForm(request.short_form, TranslateShortForm(request.short_form));
  }
  return AskedByForm(request.long_form, TranslateLongForm(request.long_form));
}

// The lists a request names: the merge list (the answer starts with its
// entries) and the restrict list. A missing or unusable file is an empty
// list.
struct LoadedLists {
  BrowseList hits;
  std::optional<BrowseList> restrict_list;

  BrowseList* restrict_or_null() { return restrict_list ? &*restrict_list : nullptr; }
};

LoadedLists LoadLists(FileSystem* fs, const CodePage& code_page, const std::string& search_folder,
                      const RequestLists& lists) {
  LoadedLists loaded;
  if (!lists.merge_file.empty()) {
    LoadRequestList(fs, search_folder, lists.merge_file, code_page, &loaded.hits).IgnoreError();
  }
  if (!lists.restrict_file.empty()) {
    loaded.restrict_list.emplace();
    LoadRequestList(fs, search_folder, lists.restrict_file, code_page, &*loaded.restrict_list)
        .IgnoreError();
  }
  return loaded;
}

// The search log's line, when searches are logged.
void LogSearch(TaskContext& task, const SearchAsked& asked, uint32_t found, double seconds) {
  if ((task.log_flags.load() & kLogSearches) == 0) return;
  SearchLogFigures figures;
  figures.query = asked.translated.query;
  figures.option_bits = asked.translated.option_bits;
  {
    MutexLock lock(&task.request_lock);
    figures.active_searches = task.active_searches;
  }
  figures.date_mode = asked.date_mode;
  figures.restrict_flag = asked.restrict_flag;
  figures.merge_flag = asked.merge_flag;
  figures.hits_found = found;
  figures.seconds = seconds;
  task.LogFromTask(SearchEventLine(figures), kLogSearches);
}

}  // namespace

struct SearchWorker::Request {
  int index = 0;
  std::string name;           // code-page name relative to the search folder
  std::string search_folder;  // native
  std::string engine_folder;  // native
  std::string path;           // native path of the request file
  std::string folder;         // native folder holding it (answers go there)
  std::chrono::steady_clock::time_point start;

  // The native path of an answer file (".HIT", ".PRG") beside the request.
  std::string AnswerPath(const CodePage& cp, const std::string& answer_name) const {
    std::string_view last = answer_name;
    size_t sep = last.rfind('\\');
    if (sep != std::string_view::npos) last.remove_prefix(sep + 1);
    return JoinNative(folder, cp.ToUtf8(last));
  }
};

SearchWorker::SearchWorker(EngineHolder* engines, ResultCache* cache, FileSystem* fs,
                           SearchWorkerOptions options)
    : engines_(engines),
      cache_(cache),
      fs_(fs != nullptr ? fs : DefaultFileSystem()),
      options_(std::move(options)),
      code_page_(options_.code_page != nullptr ? options_.code_page : &CodePage::Default()) {}

void SearchWorker::ServeRequest(TaskContext& task, int index, const std::string& request_name) {
  // Nothing may escape a worker thread: an allocation that fails ends this
  // request, not the server.
  try {
    Serve(task, index, request_name);
  } catch (const std::exception& e) {
    task.LogFromTask("Search request " + request_name + " failed: " + e.what());
  } catch (...) {
    task.LogFromTask("Search request " + request_name + " failed");
  }
}

void SearchWorker::Sleep(std::chrono::milliseconds pause) const {
  if (options_.sleep) {
    options_.sleep(pause);
  } else {
    std::this_thread::sleep_for(pause);
  }
}

uint32_t SearchWorker::NowStamp() const {
  return options_.now_stamp ? options_.now_stamp() : FileTimeStampFromUnix(NowUnix());
}

void SearchWorker::Serve(TaskContext& task, int index, const std::string& request_name) {
  if (index < 0 || index >= kMaxIndexes) return;
  const IndexDefinition* def = IndexAt(task.config, index);
  if (def == nullptr || def->search_folder.empty()) return;
  if (!IsServableRequestName(request_name)) return;

  Request request;
  request.index = index;
  request.name = request_name;
  request.search_folder = def->search_folder;
  request.engine_folder = def->engine_folder;
  // A name that the code page could not hold exactly is looked up by listing.
  StatusOr<std::string> resolved =
      ResolveKeyPath(fs_, *code_page_, request.search_folder, request_name);
  request.path = resolved.ok() ? *resolved
                               : JoinNative(request.search_folder,
                                            KeyToNative(code_page_->ToUtf8(request_name)));
  request.folder = std::string(FolderPart(request.path));
  // A request in a sub-folder of the search folder is answered there; a
  // sub-folder that is a symbolic link would carry the answer (and the
  // reading of the request) out of the search folder.
  if (!fs_->IsInsideWithoutLinks(request.search_folder, request.folder)) {
    task.LogFromTask("Request not served, its folder is a link or lies outside the search folder: " +
                     request.path);
    return;
  }

  if (KindOfRequest(request_name) == RequestKind::kQuery) {
    ServeQuery(task, request);
  } else {
    ServeSearch(task, request);
  }
}

bool SearchWorker::WaitForSize(const std::string& path, uint64_t min_size, int checks,
                               std::chrono::milliseconds pause) {
  for (int waited = 0;; ++waited) {
    StatusOr<FileInfo> info = fs_->Stat(path);
    if (info.ok() && !info->is_folder && info->size >= min_size) return true;
    if (waited >= checks) return false;
    Sleep(pause);
  }
}

std::optional<std::string> SearchWorker::ReadRequest(const std::string& path, size_t max_bytes,
                                                     int attempts,
                                                     std::chrono::milliseconds pause) {
  for (int attempt = 1;; ++attempt) {
    StatusOr<std::string> bytes = fs_->ReadFileRange(path, 0, max_bytes);
    if (bytes.ok()) return std::move(bytes.value());
    if (attempt >= attempts) return std::nullopt;
    Sleep(pause);
  }
}

void SearchWorker::Report(TaskContext& task, const std::string& line, bool always_console) {
  if (always_console) task.PostStatus(StatusMessage::Text(kStatusLastSearch, line));
  task.LogFromTask(line, kLogSearches);
}

std::optional<SearchRequest> SearchWorker::TakeSearchRequest(TaskContext& task,
                                                             const Request& request) {
  if (!WaitForSize(request.path, kShortRequestSize, options_.request_size_checks,
                   options_.request_pause)) {
    Report(task, FailedToGetSizeLine(request.path), true);
    return std::nullopt;
  }
  std::optional<std::string> bytes = ReadRequest(
      request.path, kLongRequestMaxSize, options_.request_read_attempts, options_.request_pause);
  if (!bytes) {
    Report(task, FailedToOpenLine(request.path), true);
    return std::nullopt;
  }
  // Shorter than a record (cut since the size check): left for the client.
  StatusOr<SearchRequest> decoded = DecodeSearchRequest(*bytes);
  if (!decoded.ok()) return std::nullopt;
  fs_->DeleteFile(request.path).IgnoreError();
  if (decoded->form == SearchRequestForm::kNoOp) return std::nullopt;
  task.PostStatus(StatusMessage::Number(kStatusOperation, 0));
  return std::move(decoded.value());
}

void SearchWorker::ServeSearch(TaskContext& task, Request& request) {
  std::optional<SearchRequest> decoded = TakeSearchRequest(task, request);
  if (!decoded) return;
  const SearchAsked asked = AskedBy(*decoded);
  const TranslatedQuery& translated = asked.translated;
  LoadedLists loaded = LoadLists(fs_, *code_page_, request.search_folder, asked.lists);
  BrowseList& hits = loaded.hits;

  request.start = std::chrono::steady_clock::now();
  const DateFilter filter = MakeDateFilter(asked.date_mode, asked.date_period, NowStamp());
  LockedBrowseList timelist = task.Locked(request.index, &task.indexes[request.index].timelist);
  uint32_t found = 0;
  if (translated.date_only) {
    // The answer holds the newest hit_limit (SortSearchHits).
    found = CollectDateOnly(timelist, filter, loaded.restrict_or_null(), &hits,
                            asked.name_order ? 0 : translated.hit_limit);
  } else {
    found = CollectEngineHits(task, request, translated, asked.lists, filter, timelist,
                              loaded.restrict_or_null(), asked.name_order, &hits);
  }
  SortSearchHits(&hits, asked.name_order).IgnoreError();

  Answer(task, request, hits, found, translated.hit_limit);

  const double seconds = SecondsSince(request.start);
  task.PostStatus(
      StatusMessage::Text(kStatusLastSearch, LastSearchLine(translated.log_text, found, seconds)));
  LogSearch(task, asked, found, seconds);
  Record(task, request.index, seconds, found);
}

EngineSearchReport SearchWorker::SearchIntoCollector(TaskContext& task, const Request& request,
                                                     const EngineSearchParams& params,
                                                     HitCollector& collector) {
  EngineSearchReport report = CallEngine(
      params,
      [&](std::string_view key, uint32_t time, int32_t score) { collector.Add(key, time, score); },
      [&](size_t hits, size_t key_bytes) { collector.Expect(hits, key_bytes); });
  collector.Finish();
  if (report.engine_called) engine_searches_.fetch_add(1);
  NoteEngineTrouble(task, request, report);
  return report;
}

void SearchWorker::KeepInCache(const EngineSearchParams& params, const EngineSearchReport& report,
                               HitCollector& collector) {
  if (report.storable) StoreEngineHits(cache_, params, report, collector.TakeArrivals());
}

// A search form's hits from the engine, filtered into `hits`; returns the
// hits found. The forms are answered in time or name order: without a date
// filter, merge or restrict list, the engine keeps only the newest matches
// the answer can hold, and those it left out still count as found.
uint32_t SearchWorker::CollectEngineHits(TaskContext& task, Request& request,
                                         const TranslatedQuery& translated,
                                         const RequestLists& lists, const DateFilter& filter,
                                         LockedBrowseList timelist, BrowseList* restrict_list,
                                         bool name_order, BrowseList* hits) {
  HitCollectorOptions collect;
  collect.date_filter = filter;
  collect.merged = !lists.merge_file.empty();
  // The answer holds the newest hit_limit hits (SortSearchHits).
  if (!collect.merged && !name_order) {
    collect.answer_order = kOrderTime;
    collect.answer_keep = translated.hit_limit;
  }
  EngineSearchParams params;
  params.engine_folder = request.engine_folder;
  params.query = translated.query;
  params.option_bits = translated.option_bits;
  params.fuzziness = translated.fuzziness;
  params.wide_result = translated.hit_limit > kWideResultLimit;
  const bool unfiltered = filter.mode == 0 && lists.merge_file.empty() && restrict_list == nullptr;
  if (unfiltered) params.newest_limit = translated.hit_limit;
  collect.keep_arrivals = MayKeepHits(cache_, params);
  HitCollector collector(timelist, restrict_list, hits, std::move(collect));
  const EngineSearchReport report = SearchIntoCollector(task, request, params, collector);
  KeepInCache(params, report, collector);
  const uint64_t found = collector.accepted() + report.left_out;
  return static_cast<uint32_t>(std::min<uint64_t>(found, UINT32_MAX));
}

std::optional<QueryRequest> SearchWorker::TakeQueryRequest(TaskContext& task,
                                                           const Request& request) {
  if (!WaitForSize(request.path, kQueryRequestSize, options_.query_size_checks,
                   options_.query_pause)) {
    return std::nullopt;
  }
  std::optional<std::string> bytes = ReadRequest(
      request.path, kQueryRequestSize, options_.query_read_attempts, options_.query_pause);
  if (!bytes || bytes->size() != kQueryRequestSize) return std::nullopt;
  StatusOr<QueryRequest> decoded = DecodeQueryRequest(*bytes);
  if (!decoded.ok()) return std::nullopt;
  fs_->DeleteFile(request.path).IgnoreError();
  task.PostStatus(StatusMessage::Number(kStatusOperation, 0));
  if (decoded->query_text.empty()) return std::nullopt;
  return std::move(decoded.value());
}

void SearchWorker::ServeQuery(TaskContext& task, Request& request) {
  std::optional<QueryRequest> decoded = TakeQueryRequest(task, request);
  if (!decoded) return;
  const QueryRequest& q = *decoded;
  const RequestLists lists = ListsOf(q);
  LoadedLists loaded = LoadLists(fs_, *code_page_, request.search_folder, lists);
  BrowseList& hits = loaded.hits;

  request.start = std::chrono::steady_clock::now();
  const bool merged = !lists.merge_file.empty();
  const bool arrival_order = !merged && (q.sort_order < 1 || q.sort_order > 3);
  const std::string progress_path = request.AnswerPath(*code_page_, ProgressFileName(request.name));
  HitCollectorOptions collect;
  collect.merged = merged;
  collect.keep_arrival_order = arrival_order;
  ProgressFileWriter progress(fs_, progress_path);
  collect.progress = [&progress](uint32_t accepted) { progress.Write(accepted).IgnoreError(); };
  collect.progress_interval = options_.query_progress_interval;
  collect.answer_order = QueryAnswerOrder(q.sort_order, merged);
  collect.answer_keep = q.hit_limit;
  EngineSearchParams params;
  params.engine_folder = request.engine_folder;
  params.query = q.query_text;
  params.option_bits = q.option_bits;
  params.fuzziness = q.fuzziness;
  params.wide_result = (q.wide_flags & 1) != 0;
  collect.keep_arrivals = MayKeepHits(cache_, params);
  HitCollector collector(task.Locked(request.index, &task.indexes[request.index].timelist),
                         loaded.restrict_or_null(), &hits, std::move(collect));
  // The collector filters the hits in chunks as they arrive (at most every
  // progress interval) and rewrites the progress file on the way. Only the
  // first hit_limit hits of the answer's order are written, so only those
  // are sorted. The cache's copy of the hits is made when the answer is out.
  const EngineSearchReport report = SearchIntoCollector(task, request, params, collector);
  const uint32_t found = collector.accepted();
  SortQueryHits(&hits, q.sort_order, found, arrival_order, q.hit_limit).IgnoreError();

  Answer(task, request, hits, found, q.hit_limit);

  const double seconds = SecondsSince(request.start);
  KeepInCache(params, report, collector);
  task.PostStatus(StatusMessage::Text(kStatusLastSearch,
                                      LastSearchLine(QueryLogText(q.query_text), found, seconds)));
  task.LogFromTask(QueryEventLine(q.query_text, found, seconds), kLogSearches);
  Record(task, request.index, seconds, found);
}

void SearchWorker::Answer(TaskContext& task, Request& request, const BrowseList& hits,
                          uint32_t hits_found, uint32_t limit) {
  const std::string hit_path = request.AnswerPath(*code_page_, HitFileName(request.name));
  HitFileSaveOptions save = options_.hit_file;
  if (!save.sleep && options_.sleep) save.sleep = options_.sleep;
  Status saved = SaveHitFile(fs_, hit_path, hits, hits_found, limit, save);
  if (saved.ok()) {
    answered_.fetch_add(1);
  } else {
    task.LogFromTask("Failed to write " + hit_path + ": " + saved.ToString());
  }
}

EngineSearchReport SearchWorker::CallEngine(const EngineSearchParams& params,
                                            const EngineHitFn& on_hit,
                                            const HitsComingFn& on_coming) {
  if (options_.run_search_job) {
    return RunEngineSearch(options_.run_search_job, false, false, cache_, params, on_hit,
                           on_coming);
  }
  return RunEngineSearch(engines_ != nullptr ? engines_->engine() : nullptr, cache_, params, on_hit,
                         on_coming);
}

void SearchWorker::NoteEngineTrouble(TaskContext& task, const Request& request,
                                     const EngineSearchReport& report) {
  const IndexDefinition* def = IndexAt(task.config, request.index);
  const std::string index_name = def != nullptr ? def->name : std::to_string(request.index);
  if (report.cut_off) {
    task.LogFromTask("Search " + request.name + " of index " + index_name +
                     " was cut short: " + report.cut_reason);
  }
  if (report.error.empty()) return;
  const std::string side_file = def != nullptr ? EngineFailureFilePath(def->index_folder) : "";
  const uint32_t failures = statistics_.RecordEngineFailure(request.index, [&]() -> uint32_t {
    return def != nullptr ? ReadEngineFailures(fs_, def->index_folder) : 0;
  });
  task.PostStatus(StatusMessage::Text(
      kStatusEngineFailure, EncodeEngineFailureRecord(EngineFailureRecord{request.index, failures})));
  bool log_line = false;
  {
    MutexLock lock(&failure_mu_);
    const auto now = std::chrono::steady_clock::now();
    const size_t i = static_cast<size_t>(request.index);
    if (i < last_failure_line_.size() &&
        (!failure_logged_[i] || now - last_failure_line_[i] >= std::chrono::minutes(1))) {
      failure_logged_[i] = true;
      last_failure_line_[i] = now;
      log_line = true;
    }
    // Under the lock: the side file's count only grows.
    if (!side_file.empty()) {
      fs_->WriteFile(side_file, EncodeEngineFailureFile(statistics_.EngineFailures(request.index)))
          .IgnoreError();
    }
  }
  if (log_line) {
    task.LogFromTask("Search engine failed for index " + index_name + ", request " +
                     request.name + ": " + report.error);
  }
}

void SearchWorker::Record(TaskContext& task, int index, double seconds, uint32_t hits_found) {
  const uint32_t day = options_.today_key ? options_.today_key() : TodayKey();
  statistics_.Record(index, seconds, hits_found, day);
  SearchRecord record;
  record.index = index;
  record.hits_found = hits_found;
  record.seconds = seconds;
  record.day_key = day;
  task.PostStatus(StatusMessage::Text(kStatusSearchRecorded, EncodeSearchRecord(record)));
}

}  // namespace vantrel
