// Search benchmark: the real server binary (VANTREL_SERVER_BINARY) answering
// request files over an index of generated captioned pictures, measured from
// the client's side, next to the engine's own time for the same queries.
//
//   search_bench [--files N] [--folders F] [--requests K] [--clients C]
//                [--throughput-requests T] [--dir FOLDER] [--keep]
//
// The corpus (default 100,000 JPEG files in 100 folders) carries words of
// three families, so that hit counts are known in advance:
//   qa...  one per caption, N/250 words: a single word hits about 250 files
//   qb...  one per caption, 10 words: each hits N/10 files (10,000 at full size)
//   qk...  one in the keywords dataset (2:25) and another in the caption, so a
//          keywords search finds half of what an all-text search finds
// Modification times are ten minutes apart (about two years at full size).
// The server indexes the corpus at its first start (timed until "Database
// Process Ready for Search"). Then, one request at a time, K requests of each
// kind, every one under a new name, written as NAME.tmp and renamed into
// place:
//   single    short form, one qa word (a new query text as far as the
//             vocabulary allows, so that the result cache rarely answers)
//   two-word  short form, a qa word AND a qb word
//   field     short form, a qk word with the keywords field selector
//   query     ".QRY": "qbX AND NOT qaY", every hit (0x10), limit 2000,
//             time order; about N/10 documents match
//   cached    short form, always the same qa word (the result cache answers)
// A request's time runs from before its temporary file is written until its
// answer is complete (below). Every hit file is checked: the found count
// against the corpus, the record count against the limit, and every record
// naming a distinct picture that belongs in the answer. Then C client threads write T requests at once
// (single and two-word short forms alternately) for the throughput.
// Finally the bench's own Engine runs the same translated queries against
// the server's engine folder, with the flags the server uses, for the
// engine's own time.
//
// When an answer is complete: the server deletes the request before it
// searches and writes NAME.HIT afterwards (front to back, skip table last).
// The client takes the answer as complete when the request file is gone and
// the hit file parses completely: at least 408 bytes, skip table entry 0 is
// 408, every counted record is present and well formed, and every skip table
// entry points at its record. Checks are made on every inotify event for the
// hit file's name and at least every 2 ms.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/config_file.h"
#include "core/file_names.h"
#include "engine/document_name.h"
#include "engine/engine.h"
#include "indexing/result_cache.h"
#include "platform/file_system.h"
#include "search/query_translation.h"
#include "search/request_file.h"
#include "search/request_names.h"
#include "support/image_builders.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vantrel;

constexpr uint32_t kLimit = 2000;
constexpr double kAnswerTimeoutSeconds = 20;
constexpr time_t kNewestPicture = 1750000000;  // June 2025

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}
double Millis(Clock::time_point a, Clock::time_point b) { return Seconds(a, b) * 1000.0; }

bool WriteWhole(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0;
}

std::optional<std::string> ReadWhole(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------------------
// The corpus and the hit counts it promises.

std::string Word(const char* prefix, int n) {
  std::string w = prefix;
  w += static_cast<char>('a' + n / 676 % 26);
  w += static_cast<char>('a' + n / 26 % 26);
  w += static_cast<char>('a' + n % 26);
  return w;
}

struct Corpus {
  int files = 0;
  int folders = 0;
  int va = 0;  // qa words
  int vb = 10;  // qb words
  std::vector<int> count_a, count_b, count_ab, count_k_field;

  int A(int i) const { return i % va; }
  int B(int i) const { return (i / va) % vb; }
  int K(int i) const { return static_cast<int>((static_cast<int64_t>(i) * 7 + 3) % va); }

  void Plan(int n, int f) {
    files = n;
    folders = f;
    va = std::min(17000, std::max(4, n / 250));
    count_a.assign(va, 0);
    count_b.assign(vb, 0);
    count_ab.assign(static_cast<size_t>(va) * vb, 0);
    count_k_field.assign(va, 0);
    for (int i = 0; i < n; ++i) {
      ++count_a[A(i)];
      ++count_b[B(i)];
      ++count_ab[static_cast<size_t>(A(i)) * vb + B(i)];
      ++count_k_field[K(i)];
    }
  }

  std::vector<IptcDataset> Datasets(int i) const {
    return {{2, 120,
             "Sample picture " + std::to_string(i) + " shows " + Word("qa", A(i)) + " and " +
                 Word("qb", B(i)) + " near " + Word("qk", (K(i) + 1) % va)},
            {2, 105, "Bench headline"},
            {2, 25, Word("qk", K(i))},
            {2, 80, "Staff Photographer"},
            {2, 110, "Bench Agency"}};
  }

  std::string PathOf(const std::string& root, int i) const {
    return root + "/folder" + std::to_string(i % folders) + "/img" + std::to_string(i) + ".jpg";
  }

  // Writes the pictures unless a complete corpus of the same plan is there.
  bool Write(const std::string& root) const {
    const std::string marker =
        root + "/.corpus-v2-" + std::to_string(files) + "-" + std::to_string(folders);
    if (Exists(marker)) return true;
    std::filesystem::remove_all(root);
    for (int f = 0; f < folders; ++f) {
      std::filesystem::create_directories(root + "/folder" + std::to_string(f));
    }
    for (int i = 0; i < files; ++i) {
      const std::string path = PathOf(root, i);
      if (!WriteWhole(path, MakeJpegWithIptc(Datasets(i)))) return false;
      // An archive's pictures were taken over years: one every ten minutes,
      // newest first, so that time stamps are distinct as in real folders.
      timespec times[2];
      times[0].tv_sec = times[1].tv_sec = kNewestPicture - static_cast<time_t>(i) * 600;
      times[0].tv_nsec = times[1].tv_nsec = 0;
      if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return false;
    }
    return WriteWhole(marker, "");
  }
};

// ---------------------------------------------------------------------------
// Requests.

enum Kind { kSingle, kTwoWord, kField, kQuery, kCached, kKinds };
const char* kKindNames[kKinds] = {"single word", "two-word", "field (keywords)",
                                  "query .QRY 2000", "cached word"};

struct Planned {
  bool query_request = false;
  std::string bytes;         // the request record
  std::string engine_query;  // what the engine gets
  uint32_t option_bits = 0;
  uint32_t fuzziness = 0;
  uint32_t expected_found = 0;
  uint32_t expected_records = 0;
  // Whether picture number i belongs in the answer.
  std::function<bool(int)> matches;
};

Planned Plan(const Corpus& c, Kind kind, int r) {
  Planned p;
  ShortSearchRequest s;
  switch (kind) {
    case kSingle:
    case kCached: {
      int a = kind == kCached ? 0 : r % c.va;
      s.first_term = Word("qa", a);
      // Words of one family have one length, so "qaabc*" finds what "qaabc"
      // finds; the exact flag gives a second query text per word.
      s.exact = kind == kCached ? 0 : static_cast<uint8_t>((r / c.va) % 2);
      p.expected_found = static_cast<uint32_t>(c.count_a[a]);
      p.matches = [&c, a](int i) { return c.A(i) == a; };
      break;
    }
    case kTwoWord: {
      int a = r % c.va, b = (r / c.va) % c.vb;
      s.first_term = Word("qa", a);
      s.second_term = Word("qb", b);
      s.operator_code = 0;
      p.expected_found = static_cast<uint32_t>(c.count_ab[static_cast<size_t>(a) * c.vb + b]);
      p.matches = [&c, a, b](int i) { return c.A(i) == a && c.B(i) == b; };
      break;
    }
    case kField: {
      int k = r % c.va;
      s.first_term = Word("qk", k);
      s.field_selector = kFieldKeywords;
      s.exact = static_cast<uint8_t>((r / c.va) % 2);
      p.expected_found = static_cast<uint32_t>(c.count_k_field[k]);
      p.matches = [&c, k](int i) { return c.K(i) == k; };
      break;
    }
    case kQuery: {
      int b = r % c.vb, a = (r / c.vb) % c.va;
      QueryRequest q;
      q.option_bits = kOptionEveryHit;
      q.hit_limit = kLimit;
      q.sort_order = 1;
      q.query_text = Word("qb", b) + " AND NOT " + Word("qa", a);
      p.query_request = true;
      p.bytes = EncodeQueryRequest(q).value();
      p.engine_query = q.query_text;
      p.option_bits = q.option_bits;
      p.expected_found = static_cast<uint32_t>(
          c.count_b[b] - c.count_ab[static_cast<size_t>(a) * c.vb + b]);
      p.expected_records = std::min(p.expected_found, kLimit);
      p.matches = [&c, a, b](int i) { return c.B(i) == b && c.A(i) != a; };
      return p;
    }
    default:
      break;
  }
  p.bytes = EncodeShortSearchRequest(s).value();
  TranslatedQuery t = TranslateShortForm(s);
  p.engine_query = t.query;
  p.option_bits = t.option_bits;
  p.fuzziness = t.fuzziness;
  p.expected_records = std::min(p.expected_found, t.hit_limit == 0 ? UINT32_MAX : t.hit_limit);
  return p;
}

uint32_t U32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

struct HitHeader {
  uint32_t records = 0;
  uint32_t found = 0;
  std::vector<std::string> keys;
};

// The picture number of a file key "01folderF\\imgN.jpg"; -1 for any other key.
int PictureOf(const std::string& key) {
  size_t at = key.rfind("\\img");
  if (at == std::string::npos || key.size() < 4 || key.compare(key.size() - 4, 4, ".jpg") != 0) {
    return -1;
  }
  std::string digits = key.substr(at + 4, key.size() - 4 - at - 4);
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  return std::atoi(digits.c_str());
}

// The whole hit file is there: header, every counted record, the skip table.
std::optional<HitHeader> ParseHitFile(const std::string& b) {
  if (b.size() < 408) return std::nullopt;
  HitHeader h{U32(b, 0), U32(b, 4), {}};
  if (U32(b, 8) != 408) return std::nullopt;
  size_t at = 408;
  for (uint32_t k = 0; k < h.records; ++k) {
    if (k % 1024 == 0 && k / 1024 < 100 && U32(b, 8 + 4 * (k / 1024)) != at) return std::nullopt;
    if (b.size() - at < 16) return std::nullopt;
    uint32_t n = U32(b, at);
    if (n < 1 || n > 256 || b.size() - at - 16 < n || b[at + 16 + n - 1] != '\0') {
      return std::nullopt;
    }
    h.keys.emplace_back(b.data() + at + 16, n - 1);
    at += 16 + n;
  }
  return h;
}

// One client: its own inotify watch on the search folder, so that it wakes
// when its hit file is written.
class Client {
 public:
  Client(std::string folder, std::string prefix) : folder_(std::move(folder)), prefix_(prefix) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) ::inotify_add_watch(fd_, folder_.c_str(), IN_CLOSE_WRITE | IN_MODIFY | IN_DELETE);
  }
  ~Client() {
    if (fd_ >= 0) ::close(fd_);
  }

  struct Result {
    bool answered = false;
    bool correct = false;
    double ms = 0;
    HitHeader header;
  };

  Result Run(const Planned& p) {
    Result result;
    const std::string base = prefix_ + std::to_string(counter_++);
    const std::string request_name = base + (p.query_request ? ".QRY" : ".REQ");
    const std::string request = folder_ + "/" + request_name;
    const std::string hit_name = HitFileName(request_name);
    const std::string hit = folder_ + "/" + hit_name;
    const std::string tmp = folder_ + "/" + base + ".tmp";
    Drain(hit_name);
    const auto start = Clock::now();
    if (!WriteWhole(tmp, p.bytes) || ::rename(tmp.c_str(), request.c_str()) != 0) return result;
    for (;;) {
      if (!Exists(request)) {
        std::optional<std::string> bytes = ReadWhole(hit);
        if (bytes) {
          std::optional<HitHeader> h = ParseHitFile(*bytes);
          if (h) {
            result.ms = Millis(start, Clock::now());
            result.answered = true;
            result.header = *h;
            result.correct = h->found == p.expected_found && h->records == p.expected_records;
            // Every record names a distinct picture that belongs in the answer.
            if (p.matches) {
              std::vector<int> seen;
              for (const std::string& key : h->keys) {
                int i = PictureOf(key);
                if (i < 0 || !p.matches(i)) result.correct = false;
                seen.push_back(i);
              }
              std::sort(seen.begin(), seen.end());
              if (std::adjacent_find(seen.begin(), seen.end()) != seen.end()) {
                result.correct = false;
              }
            }
            break;
          }
        }
      }
      if (Seconds(start, Clock::now()) > kAnswerTimeoutSeconds) {
        ::unlink(request.c_str());
        break;
      }
      Wait(hit_name);
    }
    ::unlink(hit.c_str());
    if (p.query_request) ::unlink((folder_ + "/" + ProgressFileName(request_name)).c_str());
    return result;
  }

 private:
  // Reads pending events; true when one names `name` (or events were lost).
  bool Drain(const std::string& name) {
    if (fd_ < 0) return true;
    bool seen = false;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        if ((e->mask & IN_Q_OVERFLOW) != 0) seen = true;
        if (e->len > 0 && name == e->name) seen = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
    return seen;
  }

  void Wait(const std::string& name) {
    if (fd_ < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return;
    }
    const auto until = Clock::now() + std::chrono::milliseconds(2);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (left.count() <= 0) return;
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return;
      if (Drain(name)) return;
    }
  }

  std::string folder_;
  std::string prefix_;
  int fd_ = -1;
  long counter_ = 0;
};

struct Stats {
  double median = 0, p99 = 0, mean = 0, max = 0;
};

Stats Summarize(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  size_t i99 = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(v.size()))) - 1;
  s.p99 = v[std::min(i99, v.size() - 1)];
  double sum = 0;
  for (double x : v) sum += x;
  s.mean = sum / static_cast<double>(v.size());
  s.max = v.back();
  return s;
}

// ---------------------------------------------------------------------------
// The server.

struct Server {
  pid_t pid = -1;
  std::string log;

  bool LogHas(const char* text) const {
    std::optional<std::string> t = ReadWhole(log);
    return t && t->find(text) != std::string::npos;
  }
  void Stop() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) {
        pid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::printf("server did not stop in 30 s after SIGTERM; killed\n");
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
};

Server StartServer(const std::string& start_dir, const std::string& log) {
  Server s;
  s.log = log;
  s.pid = ::fork();
  if (s.pid == 0) {
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    if (::chdir(start_dir.c_str()) != 0) _exit(127);
    ::execl(VANTREL_SERVER_BINARY, VANTREL_SERVER_BINARY, "--no-console", nullptr);
    _exit(127);
  }
  return s;
}

int CountLines(const std::string& text, const char* needle) {
  int n = 0;
  size_t at = 0;
  while ((at = text.find(needle, at)) != std::string::npos) {
    ++n;
    at += std::strlen(needle);
  }
  return n;
}

// The engine's own time for one planned query, with the flags the server
// uses for its option bits; also the hits it delivered.
double EngineMillis(Engine* engine, const std::string& folder, const Planned& p,
                    uint64_t* delivered) {
  EngineSearchSettings settings =
      SettingsFor(p.option_bits, p.fuzziness, engine->thesaurus_found(), engine->wordnet_found());
  SearchJob job;
  job.query = p.engine_query;
  job.index_folder = folder;
  job.max_hits = settings.max_hits;
  job.flags = settings.flags;
  job.fuzziness = settings.fuzziness;
  uint64_t hits = 0;
  job.message_callback = [&](const EngineMessage& m) {
    if (m.code != kMessageFoundDocument) return;
    std::optional<DecodedDocumentName> name = DecodeDocumentName(m.name);
    if (name && !name->file_key.empty()) ++hits;
  };
  const auto start = Clock::now();
  StatusOr<SearchOutcome> outcome = engine->RunSearchJob(job);
  const double ms = Millis(start, Clock::now());
  *delivered = outcome.ok() ? hits : 0;
  return ms;
}

void Usage() {
  std::fprintf(stderr,
               "usage: search_bench [--files N] [--folders F] [--requests K] [--clients C] "
               "[--throughput-requests T] [--dir FOLDER] [--keep]\n");
}

}  // namespace

int main(int argc, char** argv) {
  int files = 100000, folders = 100, requests = 500, clients = 8, throughput_requests = 2000;
  bool keep = false;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--files" && i + 1 < argc) files = std::max(1, std::atoi(argv[++i]));
    else if (a == "--folders" && i + 1 < argc) folders = std::max(1, std::atoi(argv[++i]));
    else if (a == "--requests" && i + 1 < argc) requests = std::max(1, std::atoi(argv[++i]));
    else if (a == "--clients" && i + 1 < argc) clients = std::max(1, std::atoi(argv[++i]));
    else if (a == "--throughput-requests" && i + 1 < argc)
      throughput_requests = std::max(0, std::atoi(argv[++i]));
    else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--keep") keep = true;
    else {
      Usage();
      return 2;
    }
  }
  if (dir.empty()) {
    char pattern[] = "/tmp/vantrel-search-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    dir = pattern;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  FileSystem* fs = DefaultFileSystem();
  std::printf("machine: %u hardware threads\n", std::thread::hardware_concurrency());
  {
    std::optional<std::string> load = ReadWhole("/proc/loadavg");
    if (load) std::printf("load average at start: %s", load->c_str());
  }

  Corpus corpus;
  corpus.Plan(files, folders);
  const std::string images = dir + "/images";
  auto t = Clock::now();
  if (!corpus.Write(images)) {
    std::printf("could not write the corpus under %s\n", images.c_str());
    return 1;
  }
  std::printf("corpus: %d JPEG files in %d folders under %s (%.1f s to write or reuse)\n", files,
              folders, images.c_str(), Seconds(t, Clock::now()));
  std::printf("vocabulary: %d qa words (~%d files each), %d qb words (~%d files each)\n",
              corpus.va, files / corpus.va, corpus.vb, files / corpus.vb);

  // A fresh server folder: the server indexes the corpus at its first start.
  const std::string work = dir + "/server";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work + "/start");
  std::filesystem::create_directories(work + "/index");
  std::filesystem::create_directories(work + "/reader");
  const std::string index_folder = work + "/index";
  Configuration config;
  IndexDefinition def = NewIndexDefinition("SearchBench", index_folder).value();
  def.active = 1;
  def.image_folders[0].path = OfflineFolderOf(index_folder);
  def.image_folders[1].path = images;
  config.indexes.push_back(def);
  if (!SaveConfiguration(*fs, config, work + "/start/" + names::kConfigurationFile).ok()) {
    std::printf("could not write the configuration\n");
    return 1;
  }
  const std::string search_folder = SearchFolderOf(index_folder);
  const std::string engine_folder = EngineFolderOf(index_folder);

  t = Clock::now();
  Server server = StartServer(work + "/start", work + "/server.log");
  while (!server.LogHas("Database Process Ready for Search") && Seconds(t, Clock::now()) < 3600) {
    if (::waitpid(server.pid, nullptr, WNOHANG) == server.pid) {
      std::printf("the server ended before it was ready; see %s\n", server.log.c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const double ready_seconds = Seconds(t, Clock::now());
  if (!server.LogHas("Database Process Ready for Search")) {
    std::printf("the server was not ready within an hour\n");
    server.Stop();
    return 1;
  }

  // The bench's own engine reads the server's index; its home folder gets
  // the server's field catalogue (and thesaurus, when there is one).
  for (const char* name : {names::kFieldCatalogue, kThesaurusFile}) {
    std::error_code ec;
    std::filesystem::copy_file(work + "/start/" + name, work + "/reader/" + name, ec);
  }
  EngineStartOptions engine_options;
  engine_options.home_folder = work + "/reader";
  std::unique_ptr<Engine> engine = std::move(Engine::Start(engine_options).value());
  uint32_t documents = 0;
  {
    StatusOr<IndexInfo> info = engine->GetIndexInfo(engine_folder);
    if (info.ok()) documents = info->document_count;
  }
  std::printf("server first start: %.1f s until \"Database Process Ready for Search\" "
              "(%.0f files/s), %u documents in the engine\n",
              ready_seconds, files / ready_seconds, documents);
  for (int i = 0; i < 200 && !Exists(search_folder); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  // Warm-up (untimed): a few requests so that the first one's costs (engine
  // reader, page cache) are not in the figures.
  const std::string run_tag = "SB" + std::to_string(::getpid() % 100000) + "X";
  {
    Client warm(search_folder, run_tag + "W");
    int unanswered = 0;
    for (int r = 0; r < 5; ++r) {
      if (!warm.Run(Plan(corpus, kSingle, corpus.va - 1 - r % corpus.va)).answered) ++unanswered;
    }
    if (unanswered > 0) std::printf("warm-up: %d of 5 requests not answered\n", unanswered);
  }

  // One request at a time.
  std::vector<double> latency[kKinds];
  int wrong[kKinds] = {}, unanswered[kKinds] = {};
  double found_sum[kKinds] = {}, records_sum[kKinds] = {};
  std::string first_wrong[kKinds];
  for (int k = 0; k < kKinds; ++k) {
    Client client(search_folder, run_tag + "S" + std::to_string(k) + "N");
    for (int r = 0; r < requests; ++r) {
      Planned p = Plan(corpus, static_cast<Kind>(k), r);
      Client::Result res = client.Run(p);
      if (!res.answered) {
        // Each costs the time-out; a server that stopped answering would
        // make the run endless.
        if (++unanswered[k] >= 5) {
          std::printf("%s: 5 requests not answered within %.0f s; the rest of this kind skipped\n",
                      kKindNames[k], kAnswerTimeoutSeconds);
          break;
        }
        continue;
      }
      latency[k].push_back(res.ms);
      found_sum[k] += res.header.found;
      records_sum[k] += res.header.records;
      if (!res.correct) {
        if (wrong[k]++ == 0) {
          first_wrong[k] = "\"" + p.engine_query + "\": found " +
                           std::to_string(res.header.found) + " records " +
                           std::to_string(res.header.records) + ", expected " +
                           std::to_string(p.expected_found) + " / " +
                           std::to_string(p.expected_records);
        }
      }
    }
  }

  // Throughput: C clients at once.
  double throughput = 0, throughput_seconds = 0;
  std::atomic<int> next{0}, t_answered{0}, t_wrong{0}, t_unanswered{0};
  std::vector<double> t_latency;
  std::mutex t_mu;
  if (throughput_requests > 0) {
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int c = 0; c < clients; ++c) {
      threads.emplace_back([&, c] {
        Client client(search_folder, run_tag + "T" + std::to_string(c) + "N");
        std::vector<double> mine;
        for (;;) {
          int r = next.fetch_add(1);
          if (r >= throughput_requests) break;
          // Other query texts than the one-at-a-time phase used, as far as
          // the vocabulary allows.
          Planned p = r % 2 == 0 ? Plan(corpus, kSingle, r / 2 + requests)
                                 : Plan(corpus, kTwoWord, r / 2 + requests);
          Client::Result res = client.Run(p);
          if (!res.answered) {
            if (++t_unanswered >= 5) break;
            continue;
          }
          ++t_answered;
          if (!res.correct) ++t_wrong;
          mine.push_back(res.ms);
        }
        std::lock_guard<std::mutex> lock(t_mu);
        t_latency.insert(t_latency.end(), mine.begin(), mine.end());
      });
    }
    for (std::thread& th : threads) th.join();
    throughput_seconds = Seconds(start, Clock::now());
    throughput = t_answered.load() / throughput_seconds;
  }

  // The engine's own time for the same queries, the server idle meanwhile.
  std::vector<double> engine_ms[kKinds];
  int engine_wrong[kKinds] = {};
  {
    uint64_t ignored = 0;
    EngineMillis(engine.get(), engine_folder, Plan(corpus, kSingle, 1), &ignored);
  }
  for (int k = 0; k < kKinds; ++k) {
    for (int r = 0; r < requests; ++r) {
      Planned p = Plan(corpus, static_cast<Kind>(k), r);
      uint64_t delivered = 0;
      engine_ms[k].push_back(EngineMillis(engine.get(), engine_folder, p, &delivered));
      if (delivered != p.expected_found) ++engine_wrong[k];
    }
  }

  server.Stop();
  engine.reset();

  // The table.
  std::optional<std::string> log_text = ReadWhole(work + "/server.log");
  std::printf("\nfiles %d, %d requests per kind one at a time, hit limit %u\n", files, requests,
              kLimit);
  std::printf("%-18s %7s %7s | %9s %9s %9s %9s | %9s %9s | %8s %9s | %s\n", "request", "found",
              "records", "median", "p99", "mean", "max", "eng.med", "eng.p99", "ratio",
              "overhead", "checks");
  for (int k = 0; k < kKinds; ++k) {
    Stats s = Summarize(latency[k]);
    Stats e = Summarize(engine_ms[k]);
    const double n = latency[k].empty() ? 1.0 : static_cast<double>(latency[k].size());
    std::printf("%-18s %7.0f %7.0f | %6.2f ms %6.2f ms %6.2f ms %6.2f ms | %6.2f ms %6.2f ms | "
                "%7.1fx %6.2f ms | %zu answered, %d unanswered, %d wrong, engine %d wrong\n",
                kKindNames[k], found_sum[k] / n, records_sum[k] / n, s.median, s.p99, s.mean, s.max, e.median, e.p99,
                e.median > 0 ? s.median / e.median : 0.0, s.median - e.median,
                latency[k].size(), unanswered[k], wrong[k], engine_wrong[k]);
    if (!first_wrong[k].empty()) std::printf("    first wrong answer: %s\n", first_wrong[k].c_str());
  }
  if (throughput_requests > 0) {
    Stats s = Summarize(t_latency);
    std::printf("\nthroughput, %d clients, %d requests (single and two-word short forms): "
                "%.0f requests/s over %.2f s; latency median %.2f ms, p99 %.2f ms; "
                "%d unanswered, %d wrong\n",
                clients, throughput_requests, throughput, throughput_seconds, s.median, s.p99,
                t_unanswered.load(), t_wrong.load());
  }

  Stats one[kKinds];
  Stats eng[kKinds];
  for (int k = 0; k < kKinds; ++k) {
    one[k] = Summarize(latency[k]);
    eng[k] = Summarize(engine_ms[k]);
  }
  std::printf("\ngoals (one at a time, the four measured kinds; the cached row is extra):\n");
  for (int k = 0; k < kCached; ++k) {
    std::printf("  %-18s median %6.2f ms < 15 ms: %-3s  p99 %6.2f ms < 60 ms: %-3s  overhead "
                "%5.2f ms < 5 ms: %s\n",
                kKindNames[k], one[k].median, one[k].median < 15 ? "yes" : "NO", one[k].p99,
                one[k].p99 < 60 ? "yes" : "NO", one[k].median - eng[k].median,
                one[k].median - eng[k].median < 5 ? "yes" : "NO");
  }
  if (throughput_requests > 0) {
    std::printf("  throughput %.0f requests/s >= 300: %s\n", throughput,
                throughput >= 300 ? "yes" : "NO");
  }
  if (log_text) {
    std::printf("\nserver output: %d lines with \"Failed\"\n", CountLines(*log_text, "Failed"));
  }
  {
    std::optional<std::string> load = ReadWhole("/proc/loadavg");
    if (load) std::printf("load average at end: %s", load->c_str());
  }
  if (!keep) {
    std::filesystem::remove_all(dir);
  } else {
    std::printf("kept %s\n", dir.c_str());
  }
  return 0;
}
