// Query answer benchmark: the server's own work on a query request whose
// engine search delivers many hits, between the engine and the hit file.
//
//   answer_bench [--entries N] [--hits H] [--runs R] [--dir FOLDER] [--no-progress]
//                [--whole-list] [--no-fingerprints] [--equal-scores]
//
// A TIMELIST of N entries (default 1,000,000, realistic file keys, one stamp
// ten minutes apart as in search_bench's corpus, and a tenth of them sharing
// a stamp with a neighbour) and H engine hits (default 109,000, the size of
// search_bench's ".QRY" every-hit OR at 1,000,000 files): distinct entries of
// the list, delivered in relevance order, one in fifty with a stamp the list
// no longer holds. Each run answers them as a ".QRY" sorted by relevance
// does, phase by phase:
//   deliver   the engine's messages through RunEngineSearch (document names
//             decoded) into the hit collector, which keeps every hit for
//             the result cache, filters them against TIMELIST in chunks (at
//             most every progress interval of the server) and rewrites the
//             progress file on the way (with --no-progress it writes none
//             and filters all hits at the end)
//   deliver and filter
//             the above and the collector's last filtering; with
//             --no-progress the difference is the whole filtering
//   sort      the hit list into relevance order
//   save      the hit file, 2,000 records
//   keep      after the answer (not in its whole): the result cache's copy of
//             every hit the engine delivered, stored in one cache kept for
//             all runs, as the server keeps one
// Medians and minimums over R runs (default 11) of wall time, phase by phase
// and for the whole: the machine's other work moves the medians.
// The collector is told that the answer holds the 2,000 best-scored hits, as
// the server tells it, so that it enters only those (and their ties) in the
// hit list; --whole-list enters every accepted hit instead, for comparison.
// TIMELIST keeps the fingerprints of its entries, as the server's does, so
// that hits are found without a look-up each; --no-fingerprints looks every
// hit up instead. With --equal-scores every hit has one score, as a word
// AND NOT another gives over captions of one length: the answer's 2,000
// are then settled among them by name.
// Each run's hit file is checked against one written the other way.
// Then, R runs each, a search without words whose date filter passes every
// entry (the newest 2,000 of the whole TIMELIST, all counted): with the
// bound the walk enters only those 2,000; with --whole-list every entry.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "archive_keys.h"
#include "core/browse_list.h"
#include "core/list_lock_table.h"
#include "engine/document_name.h"
#include "indexing/result_cache.h"
#include "platform/file_system.h"
#include "platform/mutex.h"
#include "platform/process_setup.h"
#include "search/hit_file.h"
#include "search/hit_filters.h"
#include "search/progress_file.h"
#include "search/search_engine_call.h"
#include "search/search_worker.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vantrel;
using vantrel::bench::ArchiveFileKey;

struct Options {
  size_t entries = 1'000'000;
  size_t hits = 109'000;
  int runs = 11;
  std::string dir = "/tmp";
  bool progress = true;
  bool bounded = true;
  bool fingerprints = true;
  bool equal_scores = false;
};

using Entry = vantrel::bench::TimedKey;

std::vector<Entry> MakeEntries(size_t n, std::mt19937& rng) {
  std::vector<Entry> entries;
  entries.reserve(n);
  uint32_t stamp = 3'900'000'000u;
  for (size_t i = 0; i < n; ++i) {
    std::string name = ArchiveFileKey(rng, i, 7);
    if (rng() % 10 != 0) stamp -= 600;
    entries.push_back({std::move(name), stamp});
  }
  return entries;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Least(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

[[noreturn]] void Fail(const char* what, const Status& s) {
  std::fprintf(stderr, "answer_bench: %s: %s\n", what, s.ToString().c_str());
  std::exit(1);
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool valued = i + 1 < argc;
    if (a == "--entries" && valued) o.entries = std::max(1000ul, std::strtoul(argv[++i], nullptr, 10));
    else if (a == "--hits" && valued) o.hits = std::strtoul(argv[++i], nullptr, 10);
    else if (a == "--runs" && valued) o.runs = std::max(1, std::atoi(argv[++i]));
    else if (a == "--dir" && valued) o.dir = argv[++i];
    else if (a == "--no-progress") o.progress = false;
    else if (a == "--whole-list")
      o.bounded = false;
    else if (a == "--no-fingerprints")
      o.fingerprints = false;
    else if (a == "--equal-scores")
      o.equal_scores = true;
    else return std::nullopt;
  }
  o.hits = std::min(o.hits, o.entries);
  return o;
}

// The engine's side: every hit's message, names formatted as the engine
// stores them, scores falling with rank.
struct EngineHit {
  std::string document_name;
  int32_t score;
};

std::vector<EngineHit> MakeEngineHits(const std::vector<Entry>& entries, size_t count,
                                      bool equal_scores, std::mt19937& rng) {
  std::vector<size_t> picks(entries.size());
  for (size_t i = 0; i < picks.size(); ++i) picks[i] = i;
  std::shuffle(picks.begin(), picks.end(), rng);
  picks.resize(count);
  std::vector<EngineHit> hits;
  hits.reserve(count);
  for (size_t k = 0; k < count; ++k) {
    const Entry& e = entries[picks[k]];
    const uint32_t stamp = k % 50 == 49 ? e.time + 1 : e.time;  // changed since
    hits.push_back({FormatDocumentName(stamp, e.name),
                    equal_scores ? 500 : static_cast<int32_t>(1000 - (k * 999) / count)});
  }
  return hits;
}

struct RunTimes {
  double take = 0, deliver = 0, sort = 0, save = 0, whole = 0;
  double keep = 0;  // the cache's copy, after the answer
  uint32_t found = 0;
};

RunTimes AnswerOnce(const std::vector<EngineHit>& engine_hits, LockedBrowseList timelist,
                    ResultCache& cache, const std::string& dir, bool with_progress, bool bounded,
                    int run) {
  FileSystem* fs = DefaultFileSystem();
  RunTimes t;
  const Clock::time_point start = Clock::now();
  BrowseList hits;
  ProgressFileWriter progress(fs, dir + "/answer_bench.PRG");
  HitCollectorOptions options;
  if (with_progress) {
    options.progress = [&progress](uint32_t n) { progress.Write(n).IgnoreError(); };
  }
  options.progress_interval = SearchWorkerOptions{}.query_progress_interval;
  if (bounded) {
    options.answer_order = QueryAnswerOrder(3, false);
    options.answer_keep = 2000;
  }
  options.keep_arrivals = true;
  HitCollector collector(timelist, nullptr, &hits, std::move(options));
  EngineSearchParams params;
  params.engine_folder = dir;
  params.query = "run " + std::to_string(run);  // a new query: no cached answer
  params.option_bits = kOptionEveryHit;
  SearchJobRunner engine = [&](const SearchJob& job) -> StatusOr<SearchOutcome> {
    EngineMessage m;
    m.code = kMessageHitsComing;
    m.count = engine_hits.size();
    for (const EngineHit& h : engine_hits) m.name_bytes += h.document_name.size();
    job.message_callback(m);
    m.code = kMessageFoundDocument;
    for (const EngineHit& h : engine_hits) {
      m.name = h.document_name;
      m.score = h.score;
      job.message_callback(m);
    }
    SearchOutcome outcome;
    outcome.matches = outcome.delivered = engine_hits.size();
    return outcome;
  };
  const EngineSearchReport report = RunEngineSearch(
      engine, false, false, &cache, params,
      [&](std::string_view key, uint32_t time, int32_t score) { collector.Add(key, time, score); },
      [&](size_t n, size_t key_bytes) { collector.Expect(n, key_bytes); });
  t.take = MsSince(start);
  collector.Finish();
  t.deliver = MsSince(start);
  t.found = collector.accepted();

  Clock::time_point phase = Clock::now();
  Status sorted = SortQueryHits(&hits, 3, t.found, false, 2000);
  if (!sorted.ok()) Fail("sort", sorted);
  t.sort = MsSince(phase);

  phase = Clock::now();
  Status saved = SaveHitFile(fs, dir + "/answer_bench.HIT", hits, t.found, 2000);
  if (!saved.ok()) Fail("save", saved);
  t.save = MsSince(phase);
  t.whole = MsSince(start);

  phase = Clock::now();
  if (!StoreEngineHits(&cache, params, report, collector.TakeArrivals())) {
    std::fprintf(stderr, "answer_bench: the hits were not kept in the cache\n");
    std::exit(1);
  }
  t.keep = MsSince(phase);
  return t;
}

// A search without words whose date filter passes every TIMELIST entry (a
// client browsing the newest files of the whole index): the walk of
// TIMELIST into the hit list, the sort and the hit file of 2,000 records.
double DateSearchOnce(LockedBrowseList timelist, const std::string& dir, bool bounded,
                      uint32_t* found) {
  const Clock::time_point start = Clock::now();
  BrowseList hits;
  *found = CollectDateOnly(timelist, DateFilter{1, 0}, nullptr, &hits, bounded ? 2000 : 0);
  if (Status s = SortSearchHits(&hits, false); !s.ok()) Fail("sort", s);
  Status saved = SaveHitFile(DefaultFileSystem(), dir + "/answer_bench.HIT", hits, *found, 2000);
  if (!saved.ok()) Fail("save", saved);
  return MsSince(start);
}

std::string HitFileBytes(const std::string& dir) {
  StatusOr<std::string> bytes = DefaultFileSystem()->ReadFile(dir + "/answer_bench.HIT");
  if (!bytes.ok()) Fail("read the hit file", bytes.status());
  return std::move(bytes.value());
}

// The hit file of the last run against one written with the hit list bounded
// the other way: they must be the same bytes.
void CheckAgainstTheOtherWay(const std::vector<EngineHit>& engine_hits, LockedBrowseList timelist,
                             ResultCache& cache, const Options& o) {
  const std::string written = HitFileBytes(o.dir);
  AnswerOnce(engine_hits, timelist, cache, o.dir, o.progress, !o.bounded, o.runs);
  if (HitFileBytes(o.dir) != written) {
    std::fprintf(stderr, "answer_bench: the hit file differs with%s the answer's bound\n",
                 o.bounded ? "out" : "");
    std::exit(1);
  }
  std::printf("hit file the same with and without the answer's bound\n");
}

}  // namespace

int main(int argc, char** argv) {
  SetUpMemoryAllocator(std::vector<std::string>(argv + 1, argv + argc));  // as the server does
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::optional<Options> o = ParseOptions(argc, argv);
  if (!o) {
    std::fprintf(stderr,
                 "usage: answer_bench [--entries N] [--hits H] [--runs R] [--dir FOLDER] "
                 "[--no-progress] [--whole-list] [--no-fingerprints] [--equal-scores]\n");
    return 2;
  }
  std::mt19937 rng(2026);
  const std::vector<Entry> entries = MakeEntries(o->entries, rng);
  BrowseList timelist;
  if (Status s = timelist.SetOrder(kOrderTime); !s.ok()) Fail("order", s);
  if (o->fingerprints) timelist.KeepPresence();
  {
    std::vector<NewBrowseEntry> batch(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      batch[i].name = entries[i].name;
      batch[i].time = entries[i].time;
      batch[i].value = 0x4A504547;
      batch[i].extra = kNoExtra;
    }
    if (Status s = timelist.AddBatch(batch); !s.ok()) Fail("TIMELIST", s);
  }
  const std::vector<EngineHit> engine_hits = MakeEngineHits(entries, o->hits, o->equal_scores, rng);
  Mutex lock;
  std::printf("TIMELIST %zu entries, %zu engine hits, %d runs\n", timelist.Count(),
              engine_hits.size(), o->runs);

  // One cache for all runs, as the server keeps one: each run's new query
  // keeps its hits there, up to the cache's slots.
  ResultCache cache;
  std::vector<double> take, deliver, sort, save, whole, keep;
  uint32_t found = 0;
  for (int run = 0; run < o->runs; ++run) {
    const RunTimes t = AnswerOnce(engine_hits, LockedBrowseList(&lock, &timelist), cache, o->dir,
                                  o->progress, o->bounded, run);
    take.push_back(t.take);
    deliver.push_back(t.deliver);
    sort.push_back(t.sort);
    save.push_back(t.save);
    whole.push_back(t.whole);
    keep.push_back(t.keep);
    found = t.found;
  }
  std::printf("hits found %u (of %zu delivered)\n", found, engine_hits.size());
  CheckAgainstTheOtherWay(engine_hits, LockedBrowseList(&lock, &timelist), cache, *o);
  std::printf("median ms: deliver %.2f, deliver and filter %.2f, sort %.2f, save %.2f, whole %.2f\n",
              Median(take), Median(deliver), Median(sort), Median(save), Median(whole));
  std::printf("fastest ms: deliver %.2f, deliver and filter %.2f, sort %.2f, save %.2f, whole %.2f\n",
              Least(take), Least(deliver), Least(sort), Least(save), Least(whole));
  std::printf("the cache's copy of every hit, after the answer: median %.2f ms, fastest %.2f ms\n",
              Median(keep), Least(keep));
  std::vector<double> dated;
  uint32_t dated_found = 0;
  for (int run = 0; run < o->runs; ++run) {
    dated.push_back(
        DateSearchOnce(LockedBrowseList(&lock, &timelist), o->dir, o->bounded, &dated_found));
  }
  std::printf("date search passing every entry: %u found, median %.2f ms, fastest %.2f ms\n",
              dated_found, Median(dated), Least(dated));
  DefaultFileSystem()->DeleteFile(o->dir + "/answer_bench.PRG").IgnoreError();
  DefaultFileSystem()->DeleteFile(o->dir + "/answer_bench.HIT").IgnoreError();
  return 0;
}
