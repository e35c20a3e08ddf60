// Engine benchmark: indexing speed, database size and search latency of the
// engine at 100,000 and 1,000,000 generated image documents, measured in the
// same run against plain Xapian (TermGenerator with positions, no fields) on
// the same texts and the same searches. Both commit at the size of the
// server's index jobs: a pending table's worth of documents (at most
// 10,000 documents or 10 MB of text).
//
//   engine_bench [--docs N]... [--runs 200] [--dir FOLDER] [--keep] [--no-search]
//                [--no-plain] [--reuse] [--shards K] [--batch D] [--batch-mb M]
//                [--only LABEL] [--search-during MS] [--bulk]
//
// --shards K indexes into K shards (default 1, one database; 0: one per
// core), written on K threads.
//
// --batch D ends a job (and plain Xapian's commit) after D documents
// (default 10,000, the server's pending table), or earlier at 10 MB of text
// (--batch-mb M: M MB). Jobs larger than the server's show what a commit
// costs.
//
// --only LABEL times only the search of that label, ranked and newest first
// ("prefix sun*"), or one of the two ("prefix sun*, newest").
//
// --bulk indexes as the server's first start does: every job writes a
// segment beside each shard, and the timed indexing ends with the merge
// of the segments into the shards (Engine::FinishBulkBuild).
//
// --no-plain indexes with the engine alone (a one-shard against two-shard
// pair needs no peer in each run); searches then time the engine alone.
//
// --search-during MS runs the one-word search every MS milliseconds while
// the engine indexes (from its second job on) and prints the latencies: how
// long searches wait while jobs commit. The searches take processor time
// from the indexing, so its figures are not comparable with runs without.
//
// --no-search stops after indexing; --reuse searches the databases a run
// with --keep left in FOLDER instead of indexing again, and leaves them.
//
// Beside each search's median and 99th percentile it prints the machine's
// steal (see steal_time.h) during the run at the 99th percentile and over
// all runs, in ms.
//
// The process sets up its allocator as the server does (huge page heaps, a
// heap that keeps what index jobs free), for both engines.
//
// Without --docs it runs 100000 and 1000000. The folder (default: a new one
// under /tmp) receives the databases; --keep leaves them.
#include <sys/stat.h>
#include <unistd.h>
#include <xapian.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/document_name.h"
#include "engine/engine.h"
#include "engine/field_catalogue.h"
#include "engine/query_compiler.h"
#include "indexing/pending_table.h"
#include "platform/process_setup.h"
#include "steal_time.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;
using bench::StolenBetween;
using bench::StolenMs;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Processor time of this process: on a busy machine it shows the work done
// apart from the waits for a processor.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// What this process has written so far, from /proc/self/io: the bytes
// handed to write calls (wchar) and the bytes of the pages it dirtied in the
// page cache (write_bytes: a block written again before it reached the disk
// counts once). Zeros where the kernel does not keep the counts. A commit's
// cost is mostly the B-tree blocks it rewrites, so the bytes written per job
// show where indexing time goes as a database grows.
struct WriteCounts {
  uint64_t handed = 0;
  uint64_t to_storage = 0;
};

WriteCounts BytesWritten() {
  WriteCounts counts;
  std::FILE* f = std::fopen("/proc/self/io", "r");
  if (f == nullptr) return counts;
  char line[128];
  unsigned long long value = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::sscanf(line, "wchar: %llu", &value) == 1) counts.handed = value;
    if (std::sscanf(line, "write_bytes: %llu", &value) == 1) counts.to_storage = value;
  }
  std::fclose(f);
  return counts;
}

// Deterministic documents shaped like the server's image documents.
class DocGenerator {
 public:
  explicit DocGenerator(uint64_t seed) : rng_(seed) {
    const char* syllables[] = {"ka",  "lo", "mi", "ne", "ru", "sa", "te", "vo",  "zu", "pra",
                               "str", "ul", "en", "or", "is", "an", "de", "gri", "fo", "bel",
                               "su",  "sh", "ta", "wi", "ro", "ch", "ma", "li",  "po", "ce"};
    // Frequent real words first (low ranks are drawn most often).
    vocab_ = {"the",    "sun",    "sunset", "beach", "harbour", "boat",   "old",    "town",
              "street", "sunny",  "sea",    "photo", "city",    "market", "bridge", "river",
              "summer", "winter", "people", "car",   "night",   "tree",   "house",  "church"};
    std::mt19937_64 g(seed ^ 0x5eed);
    while (vocab_.size() < 60000) {
      std::string w;
      int parts = 2 + static_cast<int>(g() % 3);
      for (int i = 0; i < parts; ++i) w += syllables[g() % 30];
      vocab_.push_back(w);
    }
  }

  const std::string& Word() {
    // Skewed towards low ranks, like natural text.
    double u = std::uniform_real_distribution<double>(0, 1)(rng_);
    return vocab_[static_cast<size_t>(u * u * u * static_cast<double>(vocab_.size()))];
  }

  void Next(uint32_t index, std::string* name, std::string* text) {
    uint32_t time = 900000000u + index * 7u;
    int folder = 1 + static_cast<int>(rng_() % 31);
    std::string dir = Word() + "\\" + Word();
    std::string file = Word() + std::to_string(index) + ".jpg";
    *name = FormatDocumentName(
        time, (folder < 10 ? "0" : "") + std::to_string(folder) + dir + "\\" + file);
    text->clear();
    auto attr = [&](const char* marker, const std::string& value) {
      *text += " ";
      *text += marker;
      *text += " " + value + " ZqZ ";
    };
    attr("QxQB5002", "JPEG");
    attr("QxQH5008", "00" + std::to_string(1000 + rng_() % 9000));
    attr("QxQN5014", "ONLINE");
    attr("QxQA5001", "RGB Lab");
    attr("QxQC5003", "0110");
    attr("QxQD5004", "00" + std::to_string(10 + rng_() % 80));
    attr("QxQF5006", std::to_string(1000 + (rng_() % 40) * 100));
    attr("QxQM5013", rng_() % 3 ? "LANDSCAPE" : "PORTRAIT");
    static const int kDatasets[] = {5,   15,  20,  25,  40,  55,  80, 90,
                                    101, 105, 110, 116, 118, 120, 121};
    size_t groups = 5 + rng_() % 11;
    size_t target = 300 + rng_() % 1700;
    for (size_t g = 0; g < groups; ++g) {
      int ds = kDatasets[(g + (groups == 15 ? 0 : rng_() % (15 - groups + 1))) % 15];
      char head[16];
      std::snprintf(head, sizeof head, "QxQ%03i ", ds);
      *text += head;
      size_t words = ds == 120 ? 8 + rng_() % 60 : 1 + rng_() % 4;
      for (size_t w = 0; w < words; ++w) *text += Word() + " ";
      *text += "ZqZ ";
    }
    while (text->size() < target) {
      *text += "QxQ120 ";
      for (int w = 0; w < 20; ++w) *text += Word() + " ";
      *text += "ZqZ ";
    }
    attr("QxQO5015", "19990302");
    attr("QxQP5016", "19990302");
    *text += " ";
    attr("QxQJ5010", file);
    attr("QxQL5012", "D:\\Pictures\\" + dir);
    attr("QxQK5011", dir.substr(dir.find('\\') + 1));
  }

 private:
  std::mt19937_64 rng_;
  std::vector<std::string> vocab_;
};

uint64_t FolderBytes(const std::string& path) {
  uint64_t total = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(path)) {
    if (e.is_regular_file()) total += e.file_size();
  }
  return total;
}

struct Latency {
  double median_ms = 0, p99_ms = 0;
  size_t hits = 0;
  // Steal (steal_time.h) during the run at the 99th percentile, and over
  // all runs: a slow run during which the machine lost its processor says
  // little about the search.
  double p99_steal_ms = 0, steal_ms = 0;
};

// The place of the 99th percentile among `count` sorted times.
size_t P99Place(size_t count) {
  return std::min(count - 1, static_cast<size_t>(static_cast<double>(count) * 0.99));
}

// The median and 99th percentile of `ms` (not empty), which it sorts.
Latency Percentiles(std::vector<double>* ms) {
  std::sort(ms->begin(), ms->end());
  Latency l;
  l.median_ms = (*ms)[ms->size() / 2];
  l.p99_ms = (*ms)[P99Place(ms->size())];
  return l;
}

Latency Measure(int runs, const std::function<size_t()>& search) {
  struct Run {
    double ms, steal_ms;
  };
  std::vector<Run> done;
  size_t hits = search();  // warm up
  for (int i = 0; i < runs; ++i) {
    const std::optional<double> steal = StolenMs();
    auto a = Clock::now();
    hits = search();
    const double ms = Seconds(a, Clock::now()) * 1000.0;
    done.push_back(Run{ms, StolenBetween(steal, StolenMs())});
  }
  std::vector<double> ms;
  for (const Run& r : done) ms.push_back(r.ms);
  Latency l = Percentiles(&ms);
  l.hits = hits;
  std::sort(done.begin(), done.end(), [](const Run& a, const Run& b) { return a.ms < b.ms; });
  if (!done.empty()) l.p99_steal_ms = done[P99Place(done.size())].steal_ms;
  for (const Run& r : done) l.steal_ms += r.steal_ms;
  return l;
}

// Plain Xapian's time stamp value (the engine's kTimeSlot).
constexpr Xapian::valueno kPlainTimeSlot = 1;

struct BenchSearch {
  const char* label;
  std::string query;  // our language
  std::function<Xapian::Query()> plain;
  int32_t max_hits;             // -1: every match
  bool every_document = false;  // plain Xapian needs no weights for it
};

size_t RunOurs(Engine* engine, const std::string& folder, const BenchSearch& b, bool newest) {
  SearchJob job;
  job.query = b.query;
  job.index_folder = folder;
  job.max_hits = b.max_hits;
  if (newest) job.flags |= kSearchNewestFirst;
  size_t hits = 0;
  job.message_callback = [&](const EngineMessage& m) { hits += m.code == kMessageFoundDocument; };
  StatusOr<SearchOutcome> out = engine->RunSearchJob(job);
  if (!out.ok() || !out->error.empty()) std::fprintf(stderr, "search %s failed\n", b.query.c_str());
  return hits;
}

size_t RunPlain(const Xapian::Database& db, const BenchSearch& b, bool newest) {
  Xapian::Enquire enquire(db);
  enquire.set_query(b.plain());
  Xapian::doccount limit = b.max_hits < 0 ? db.get_doccount() : b.max_hits;
  if (b.every_document || newest) enquire.set_weighting_scheme(Xapian::BoolWeight());
  if (newest) enquire.set_sort_by_value(kPlainTimeSlot, true);
  Xapian::MSet mset = enquire.get_mset(0, limit);
  size_t hits = 0;
  for (auto it = mset.begin(); it != mset.end(); ++it)
    hits += !it.get_document().get_data().empty();
  return hits;
}

struct BenchSettings {
  int runs = 200;
  bool search = true;
  bool reuse = false;
  bool plain = true;  // index plain Xapian too (--no-plain: only the engine)
  uint32_t shards = 1;
  size_t batch_documents_max = kMaxPendingDocuments;
  uint64_t batch_bytes_max = kMaxPendingBytes;
  std::string only;
  std::string dir;
  int search_every_ms = 0;  // --search-during: a search this often while indexing
  bool bulk = false;        // --bulk: jobs of a bulk build, merged at the end
};

struct IndexingFigures {
  double seconds = 0;
  double cpu_seconds = 0;
  uint64_t written = 0;     // handed to write calls
  uint64_t to_storage = 0;  // page cache bytes dirtied
  uint64_t jobs = 0;
  uint64_t text_bytes = 0;
  double merge_seconds = 0;  // --bulk: the merge at the end, included in `seconds`
};

// The time and processor time of one piece of indexing work, added to
// `figures`. The bytes written are counted around whole jobs only: reading
// the count costs more than adding one plain Xapian document.
template <typename Work>
auto Timed(IndexingFigures* figures, Work&& work) {
  const Clock::time_point a = Clock::now();
  const double c = CpuSeconds();
  auto result = work();
  figures->seconds += Seconds(a, Clock::now());
  figures->cpu_seconds += CpuSeconds() - c;
  return result;
}

std::unique_ptr<Engine> StartEngine(const std::string& home, uint32_t shards) {
  std::filesystem::create_directories(home);
  {
    FILE* f = std::fopen((home + "/Fields.Dat").c_str(), "wb");
    std::string cat = FieldCatalogue::StandardText();
    std::fwrite(cat.data(), 1, cat.size(), f);
    std::fclose(f);
  }
  EngineStartOptions start;
  start.home_folder = home;
  auto started = Engine::Start(start);
  if (!started.ok()) {
    std::fprintf(stderr, "engine start failed: %s\n", started.status().ToString().c_str());
    std::exit(1);
  }
  std::unique_ptr<Engine> engine = std::move(*started);
  EngineOptions engine_options = engine->GetOptions();
  engine_options.new_index_shards = shards;
  engine->SetOptions(engine_options);
  return engine;
}

// One index job over `batch`, as the server's first start makes them.
Status RunEngineJob(Engine* engine, const std::string& folder,
                    const std::vector<std::pair<std::string, std::string>>& batch, bool bulk) {
  size_t next = 0;
  EngineDataSource source;
  source.rewind = [&] {
    next = 0;
    return true;
  };
  source.next_document = [&](EngineDocument* d) {
    if (next >= batch.size()) return -1;
    const auto& doc = batch[next++];
    auto pos = std::make_shared<size_t>(0);
    d->name = doc.first;
    d->text_length = static_cast<uint32_t>(doc.second.size());
    d->seek = [pos](uint32_t p) { *pos = p; };
    d->read = [pos, &doc](char* buf, size_t size) {
      size_t k = std::min(size, doc.second.size() - *pos);
      std::copy_n(doc.second.data() + *pos, k, buf);
      *pos += k;
      return k;
    };
    return 0;
  };
  IndexJob job;
  job.index_folder = folder;
  job.create = job.add = true;
  job.bulk = bulk;
  job.data_source = &source;
  return engine->RunIndexJob(job);
}

std::vector<BenchSearch> StandardSearches();

// --search-during MS: while the engine indexes, a thread runs the one-word
// search (hit limit 2,000) every MS milliseconds, from the end of the first
// job on. Its latencies show how long a search waits while jobs commit.
class SearchProbe {
 public:
  SearchProbe(Engine* engine, std::string folder, int every_ms)
      : engine_(engine), folder_(std::move(folder)), every_(every_ms) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~SearchProbe() { Stop(); }
  SearchProbe(const SearchProbe&) = delete;
  SearchProbe& operator=(const SearchProbe&) = delete;

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  void Print() const {
    std::vector<double> ms = ms_;
    if (ms.empty()) return;
    const Latency l = Percentiles(&ms);
    const auto over = [&](double limit) {
      return ms.end() - std::upper_bound(ms.begin(), ms.end(), limit);
    };
    std::printf(
        "searches while indexing: %zu (every %d ms), median %.2f ms, p99 %.2f ms, max %.2f ms, "
        "over 100 ms %td, over 1 s %td, failed %zu\n",
        ms.size(), every_, l.median_ms, l.p99_ms, ms.back(), over(100.0), over(1000.0), failed_);
  }

 private:
  void Loop() {
    const BenchSearch word = StandardSearches().front();
    while (!stop_) {
      const Clock::time_point a = Clock::now();
      SearchJob job;
      job.query = word.query;
      job.index_folder = folder_;
      job.max_hits = word.max_hits;
      job.message_callback = [](const EngineMessage&) {};
      StatusOr<SearchOutcome> out = engine_->RunSearchJob(job);
      if (out.ok() && out->error.empty()) {
        ms_.push_back(Seconds(a, Clock::now()) * 1000.0);
      } else {
        ++failed_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(every_));
    }
  }

  Engine* engine_;
  std::string folder_;
  int every_;
  std::atomic<bool> stop_{false};
  std::vector<double> ms_;  // the loop's own until Stop
  size_t failed_ = 0;
  std::thread thread_;
};

// The engine: index jobs the size of a full pending table, one commit each.
IndexingFigures IndexWithEngine(Engine* engine, const std::string& folder, uint32_t n,
                                const BenchSettings& settings) {
  IndexingFigures figures;
  DocGenerator gen(42);
  std::string name, text;
  std::unique_ptr<SearchProbe> probe;
  for (uint32_t i = 0; i < n;) {
    std::vector<std::pair<std::string, std::string>> batch;
    for (uint64_t bytes = 0; i < n && batch.size() < settings.batch_documents_max &&
                             bytes < settings.batch_bytes_max;
         ++i) {
      gen.Next(i, &name, &text);
      figures.text_bytes += text.size();
      bytes += text.size();
      batch.emplace_back(name, text);
    }
    const WriteCounts before = BytesWritten();
    const Status s =
        Timed(&figures, [&] { return RunEngineJob(engine, folder, batch, settings.bulk); });
    const WriteCounts after = BytesWritten();
    figures.written += after.handed - before.handed;
    figures.to_storage += after.to_storage - before.to_storage;
    ++figures.jobs;
    if (!s.ok()) {
      std::fprintf(stderr, "index job failed: %s\n", s.ToString().c_str());
      std::exit(1);
    }
    if (settings.search_every_ms > 0 && !probe) {
      probe = std::make_unique<SearchProbe>(engine, folder, settings.search_every_ms);
    }
  }
  if (settings.bulk) {
    const WriteCounts before = BytesWritten();
    const double before_merge = figures.seconds;
    const Status merged = Timed(&figures, [&] { return engine->FinishBulkBuild(folder); });
    figures.merge_seconds = figures.seconds - before_merge;
    const WriteCounts after = BytesWritten();
    figures.written += after.handed - before.handed;
    figures.to_storage += after.to_storage - before.to_storage;
    if (!merged.ok()) {
      std::fprintf(stderr, "merging the bulk build failed: %s\n", merged.ToString().c_str());
      std::exit(1);
    }
  }
  if (probe) {
    probe->Stop();
    probe->Print();
  }
  return figures;
}

Xapian::Document PlainDocument(Xapian::TermGenerator* tg, const std::string& name,
                               const std::string& text) {
  Xapian::Document doc;
  doc.set_data(name);
  // The time stamp, as the engine keeps it (4 bytes big-endian), so that
  // plain Xapian can sort newest first too.
  const uint32_t stamp =
      static_cast<uint32_t>(std::strtoul(name.substr(0, 8).c_str(), nullptr, 16));
  const char be[4] = {static_cast<char>(stamp >> 24), static_cast<char>(stamp >> 16),
                      static_cast<char>(stamp >> 8), static_cast<char>(stamp)};
  doc.add_value(kPlainTimeSlot, std::string(be, 4));
  tg->set_document(doc);
  tg->index_text(text);  // texts are Windows-1252; the generated ones are ASCII
  return doc;
}

// Plain Xapian on the same texts, committing at the same sizes.
IndexingFigures IndexWithPlainXapian(const std::string& folder, uint32_t n,
                                     const BenchSettings& settings) {
  IndexingFigures figures;
  const WriteCounts before = BytesWritten();
  DocGenerator gen(42);
  std::string name, text;
  Xapian::WritableDatabase db(folder, Xapian::DB_CREATE_OR_OVERWRITE);
  Xapian::TermGenerator tg;
  size_t batch_documents = 0;
  uint64_t batch_bytes = 0;
  for (uint32_t i = 0; i < n; ++i) {
    gen.Next(i, &name, &text);
    figures.text_bytes += text.size();
    Timed(&figures, [&] {
      db.add_document(PlainDocument(&tg, name, text));
      batch_bytes += text.size();
      if (++batch_documents == settings.batch_documents_max ||
          batch_bytes >= settings.batch_bytes_max) {
        db.commit();
        ++figures.jobs;
        batch_documents = 0;
        batch_bytes = 0;
      }
      return 0;
    });
  }
  Timed(&figures, [&] {
    db.commit();
    db.close();
    return 0;
  });
  const WriteCounts after = BytesWritten();
  figures.written = after.handed - before.handed;
  figures.to_storage = after.to_storage - before.to_storage;
  return figures;
}

void PrintIndexing(uint32_t n, const IndexingFigures& ours,
                   const std::optional<IndexingFigures>& plain) {
  std::printf("text: %.1f MB, %.0f bytes per document\n", ours.text_bytes / 1e6,
              static_cast<double>(ours.text_bytes) / n);
  std::printf("%-28s %12s %12s\n", "indexing", "engine", "plain xapian");
  auto row = [&](const char* label, const char* format, auto figure) {
    char theirs[32] = "-";
    if (plain) std::snprintf(theirs, sizeof theirs, format, figure(*plain));
    char mine[32];
    std::snprintf(mine, sizeof mine, format, figure(ours));
    std::printf("%-28s %12s %12s\n", label, mine, theirs);
  };
  row("documents per second", "%.0f", [n](const IndexingFigures& f) { return n / f.seconds; });
  row("documents per CPU second", "%.0f",
      [n](const IndexingFigures& f) { return n / f.cpu_seconds; });
  row("seconds", "%.1f", [](const IndexingFigures& f) { return f.seconds; });
  row("CPU seconds", "%.1f", [](const IndexingFigures& f) { return f.cpu_seconds; });
  if (ours.merge_seconds > 0) {
    row("seconds merging segments", "%.1f", [](const IndexingFigures& f) { return f.merge_seconds; });
  }
  row("GB written", "%.2f", [](const IndexingFigures& f) { return f.written / 1e9; });
  row("GB dirtied in page cache", "%.2f",
      [](const IndexingFigures& f) { return f.to_storage / 1e9; });
  // Per engine job, for both: plain Xapian commits as often.
  const double jobs = static_cast<double>(std::max<uint64_t>(ours.jobs, 1));
  row("MB written per job", "%.1f",
      [jobs](const IndexingFigures& f) { return f.written / 1e6 / jobs; });
}

std::vector<BenchSearch> StandardSearches() {
  auto term = [](const char* t) { return [t] { return Xapian::Query(t); }; };
  auto two = [](Xapian::Query::op op, const char* a, const char* b) {
    return [=] { return Xapian::Query(op, Xapian::Query(a), Xapian::Query(b)); };
  };
  auto wildcard = [](const char* prefix) {
    return [prefix] {
      return Xapian::Query(Xapian::Query::OP_WILDCARD, prefix, 10000,
                           Xapian::Query::WILDCARD_LIMIT_MOST_FREQUENT);
    };
  };
  return {
      {"one word", "harbour", term("harbour"), 2000},
      {"prefix sun*", "sun*", wildcard("sun"), 2000},
      {"prefix s*", "s*", wildcard("s"), 2000},
      {"phrase", "old town",
       [] {
         std::vector<Xapian::Query> p{Xapian::Query("old"), Xapian::Query("town")};
         return Xapian::Query(Xapian::Query::OP_PHRASE, p.begin(), p.end(), 2);
       },
       2000},
      {"field", "IPTC120 contains (harbour)", term("harbour"), 2000},
      {"A AND B", "sunset AND beach", two(Xapian::Query::OP_AND, "sunset", "beach"), 2000},
      {"A OR B", "sunset OR beach", two(Xapian::Query::OP_OR, "sunset", "beach"), 2000},
      {"A AND NOT B", "sunset AND NOT beach", two(Xapian::Query::OP_AND_NOT, "sunset", "beach"),
       2000},
      {"W/5", "boat W/5 harbour",
       [] {
         std::vector<Xapian::Query> p{Xapian::Query("boat"), Xapian::Query("harbour")};
         return Xapian::Query(Xapian::Query::OP_NEAR, p.begin(), p.end(), 6);
       },
       2000},
      {"A OR B, every hit", "sunset OR beach", two(Xapian::Query::OP_OR, "sunset", "beach"), -1},
      {"A OR (B AND C), every hit", "church OR (night AND tree)",
       [] {
         return Xapian::Query(
             Xapian::Query::OP_OR, Xapian::Query("church"),
             Xapian::Query(Xapian::Query::OP_AND, Xapian::Query("night"), Xapian::Query("tree")));
       },
       -1},
      {"xlastword, no limit", "xlastword", [] { return Xapian::Query::MatchAll; }, -1, true},
  };
}

// Each search ranked by relevance (a query request), then newest first (the
// browse forms: kSearchNewestFirst, unranked; plain Xapian sorted by the time
// value with BoolWeight). Without a plain database, only the engine's.
void TimeSearches(Engine* engine, const std::string& ours,
                  const std::optional<Xapian::Database>& plain_db, const BenchSettings& settings) {
  std::printf("\n%-22s %9s %9s %9s %9s %9s %9s %7s %9s %9s\n", "search (limit 2000)", "ms med",
              "ms p99", "p99 steal", "all steal", "plain med", "plain p99", "ratio", "hits",
              "plain hits");
  for (const bool newest : {false, true}) {
    for (const BenchSearch& b : StandardSearches()) {
      if (newest && b.max_hits < 0) continue;
      const std::string label = std::string(b.label) + (newest ? ", newest" : "");
      if (!settings.only.empty() && settings.only != b.label && settings.only != label) continue;
      Latency mine = Measure(settings.runs, [&] { return RunOurs(engine, ours, b, newest); });
      std::printf("%-22s %9.2f %9.2f %9.0f %9.0f", label.c_str(), mine.median_ms, mine.p99_ms,
                  mine.p99_steal_ms, mine.steal_ms);
      if (plain_db) {
        Latency theirs = Measure(settings.runs, [&] { return RunPlain(*plain_db, b, newest); });
        std::printf(" %9.2f %9.2f %7.2f %9zu %9zu\n", theirs.median_ms, theirs.p99_ms,
                    theirs.median_ms > 0 ? mine.median_ms / theirs.median_ms : 0.0, mine.hits,
                    theirs.hits);
      } else {
        std::printf(" %9s %9s %7s %9zu %9s\n", "-", "-", "-", mine.hits, "-");
      }
      std::fflush(stdout);
    }
  }
}

bool IsDatabase(const std::string& folder) {
  return std::filesystem::exists(folder + "/iamglass");
}

void RunSize(uint32_t n, const BenchSettings& settings) {
  std::printf("\n== %u documents, %u shard(s) ==\n", n, settings.shards);
  const std::string home = settings.dir + "/home" + std::to_string(n);
  const std::string ours = home + "/engine";
  const std::string plain = settings.dir + "/plain" + std::to_string(n);
  std::unique_ptr<Engine> engine = StartEngine(home, settings.shards);

  if (settings.reuse) {
    // Indexing now would overwrite what is left of the earlier run.
    if (!IsDatabase(ours) && !IsDatabase(ours + "/0")) {
      std::printf("--reuse: no databases of an earlier run in %s\n", ours.c_str());
      return;
    }
    std::printf("indexing: databases of an earlier run reused\n");
  } else {
    const IndexingFigures mine = IndexWithEngine(engine.get(), ours, n, settings);
    std::optional<IndexingFigures> theirs;
    if (settings.plain) theirs = IndexWithPlainXapian(plain, n, settings);
    PrintIndexing(n, mine, theirs);
  }
  const bool have_plain = IsDatabase(plain) && (settings.plain || settings.reuse);
  char plain_mb[32] = "-";
  if (have_plain) std::snprintf(plain_mb, sizeof plain_mb, "%.1f", FolderBytes(plain) / 1e6);
  std::printf("%-28s %12.1f %12s\n", "database MB", FolderBytes(ours) / 1e6, plain_mb);

  if (!settings.search) return;
  std::optional<Xapian::Database> plain_db;
  if (have_plain) plain_db.emplace(plain);
  TimeSearches(engine.get(), ours, plain_db, settings);
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
  // The allocator set-up of the server (huge page heaps, a heap that keeps
  // what index jobs free), so that the engine is measured as it runs there.
  // Plain Xapian runs in the same process and gets it too.
  vantrel::SetUpMemoryAllocator(std::vector<std::string>(argv + 1, argv + argc));
  std::vector<uint32_t> sizes;
  vantrel::BenchSettings settings;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--docs" && i + 1 < argc && std::atol(argv[i + 1]) > 0)
      sizes.push_back(static_cast<uint32_t>(std::atol(argv[++i])));
    else if (a == "--runs" && i + 1 < argc)
      settings.runs = std::max(1, std::atoi(argv[++i]));
    else if (a == "--dir" && i + 1 < argc)
      settings.dir = argv[++i];
    else if (a == "--keep")
      keep = true;
    else if (a == "--no-search")
      settings.search = false;
    else if (a == "--no-plain")
      settings.plain = false;
    else if (a == "--reuse")
      settings.reuse = true;
    else if (a == "--only" && i + 1 < argc)
      settings.only = argv[++i];
    else if (a == "--batch" && i + 1 < argc)
      settings.batch_documents_max = std::max<size_t>(1, std::strtoull(argv[++i], nullptr, 10));
    else if (a == "--batch-mb" && i + 1 < argc)
      settings.batch_bytes_max =
          std::max<uint64_t>(1, std::strtoull(argv[++i], nullptr, 10)) * 1'000'000;
    else if (a == "--search-during" && i + 1 < argc)
      settings.search_every_ms = std::max(1, std::atoi(argv[++i]));
    else if (a == "--bulk")
      settings.bulk = true;
    else if (a == "--shards" && i + 1 < argc)
      settings.shards = static_cast<uint32_t>(std::atol(argv[++i]));
    else {
      // An unknown option must not start an hour-long run.
      std::fprintf(a == "--help" ? stdout : stderr,
                   "usage: engine_bench [--docs N]... [--runs 200] [--dir FOLDER] [--keep] "
                   "[--no-search] [--no-plain] [--reuse] [--shards K] [--batch D] "
                   "[--batch-mb M] [--only LABEL] [--search-during MS] [--bulk]\n");
      return a == "--help" ? 0 : 2;
    }
  }
  if (sizes.empty()) sizes = {100000, 1000000};
  if (settings.dir.empty()) {
    char tmpl[] = "/tmp/engine_bench_XXXXXX";
    settings.dir = mkdtemp(tmpl);
  }
  for (uint32_t n : sizes) vantrel::RunSize(n, settings);
  // Databases reused from an earlier run stay for the next.
  if (!keep && !settings.reuse) std::filesystem::remove_all(settings.dir);
  return 0;
}
