// Search benchmark: the real server binary (VANTREL_SERVER_BINARY) answering
// request files over an index of generated captioned pictures, measured from
// the client's side, next to the engine's own time for the same queries.
//
//   search_bench [--files N] [--folders F] [--requests K] [--heavy-requests H]
//                [--clients C] [--throughput-requests T] [--writers W]
//                [--import M] [--dir FOLDER] [--keep] [--corpus-only] [--each]
//                [--reuse-index] [--only KIND]...
//
// --reuse-index keeps the server's folders of an earlier run with --keep
// whose first start completed, and restarts the server over its index (the
// start-up catch-up instead of the first start), so that a change to the
// request path is measured in a minute rather than in minutes.
// --only runs the one-at-a-time requests of the kinds whose names contain
// KIND (repeatable, e.g. --only OR --only "AND NOT"), and no others.
// --each prints every request's time beside the engine's, one at a time,
// with the machine's steal during the request (steal_time.h) and the
// server's page faults; each kind's row ends with its steal over all its
// requests.
// The corpus (default 100,000 JPEG files in 100 folders) carries words of
// five families, so that hit counts are known in advance:
//   qa...  one per caption, N/250 words: a single word hits about 250 files
//   qb...  one per caption, 10 words: each hits N/10 files (10,000 at full size)
//   qc...  one per caption, 100 words, right after the qb word: each hits N/100
//   qk...  one in the keywords dataset (2:25) and another in the caption, so a
//          keywords search finds half of what an all-text search finds
//   y...   one per caption, "y" and three letters, the first of a..j: 6,760
//          words, so "y*" stands for 6,760 words and hits every file, and
//          "ya*" for 676 words hitting N/10 files
// No other word of a document starts with "y" or with "q" and one of a, b, c, k.
// Modification times are ten minutes apart (about two years at full size,
// nineteen at 1,000,000), picture 0 the newest.
//
// The corpus is written once per --dir, --files and --folders (a marker file
// says it is complete) and reused by later runs. Every file is the same
// template JPEG with its caption and keywords bytes patched in place (the
// picture number is written with seven digits, so every caption has one
// length); W threads (default 2) write whole folders, each file with one
// open, write, futimens and close.
//
// The server indexes the corpus at its first start (timed until "Database
// Process Ready for Search"; its peak resident memory, VmHWM, is read then
// and again just before it is stopped). Then, one request at a time, K
// requests of each kind (H of the two prefix kinds), every one under a new
// name, written as NAME.tmp and renamed into place:
//   single        short form, one qa word (a new query text as far as the
//                 vocabulary allows, so that the result cache rarely answers)
//   two-word      short form, a qa word AND a qb word
//   field         short form, a qk word with the keywords field selector
//   frequent      short form, one qb word: N/10 matches, the newest 2,000 kept
//   prefix 2      short form "yX" (non-exact: "yX*", 676 words, N/10 matches)
//   prefix 1      short form "y" ("y*", 6,760 words, every file matches)
//   .QRY phrase   "qbX qcY"            every hit (0x10), limit 2,000,
//   .QRY AND      "qbX AND qcY"        relevance order: the answer keeps the
//   .QRY OR       "qbX OR qcY"         best-scored 2,000; the texts vary, so
//   .QRY AND NOT  "qbX AND NOT qaY"    that the result cache does not answer
//   .QRY W/5      "qcY W/5 qbX"
//   cached        short form, always the same qa word (the result cache answers)
//   date, all     short form without words, files older than 30 days (every
//                 picture): answered from TIMELIST alone, the newest 2,000
//                 kept and all counted; no engine time (its overhead column
//                 is its whole time)
// The short forms above have no date filter, merge or restrict list: the
// server asks the engine for the newest matches only (kSearchNewestFirst,
// 2,000), so their answers must hold exactly the newest matches.
// A request's time runs from before its temporary file is written until its
// answer is complete (below). Every hit file is checked: the found count
// against the corpus, the record count against the limit, every record
// naming a distinct picture that belongs in the answer, and for the short
// forms, none older than the newest 2,000 matches. Beside each request the
// bench's own Engine runs the same translated query against the server's
// engine folder, with the flags and the hit limit the server uses, for the
// engine's own time (interleaved, so that a load that changes during the
// run weighs on both alike; after the answer and before the request in
// turn, so that neither always runs second, on caches the other filled);
// it checks the match and delivery counts too.
// The overhead is the request median minus the engine median. Then C client
// threads write T requests at once (single and two-word short forms
// alternately) for the throughput. With --import M, last, M new pictures are
// written into a new folder while one client searches every 100 ms, until
// the engine holds them: the searches' times while index jobs run.
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
#include <functional>
#include <map>
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
#include "engine/query_compiler.h"
#include "indexing/result_cache.h"
#include "platform/file_system.h"
#include "platform/process_setup.h"
#include "search/query_translation.h"
#include "search/request_file.h"
#include "search/request_names.h"
#include "steal_time.h"
#include "support/image_builders.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vantrel;
using vantrel::bench::StolenBetween;
using vantrel::bench::StolenMs;

constexpr uint32_t kLimit = 2000;
constexpr double kAnswerTimeoutSeconds = 120;
constexpr time_t kNewestPicture = 1750000000;  // June 2025
constexpr int kMostFiles = 9999999;            // seven digits in the caption

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}
double Millis(Clock::time_point a, Clock::time_point b) { return Seconds(a, b) * 1000.0; }

bool WriteAllTo(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  const bool written = WriteAllTo(fd, bytes);
  return ::close(fd) == 0 && written;
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

std::string Padded(int n) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%07d", n);
  return digits;
}

struct Corpus {
  int files = 0;
  int folders = 0;
  int va = 0;           // qa words (and qk words)
  int vb = 10;          // qb words
  int vc = 100;         // qc words
  int vy = 10 * 676;    // y words: "y", one of a..j, two letters
  std::vector<int> count_a, count_b, count_c, count_ab, count_bc, count_k_field, count_y_first;

  int A(int i) const { return i % va; }
  int B(int i) const { return (i / va) % vb; }
  int C(int i) const { return (i / 7) % vc; }
  int K(int i) const { return static_cast<int>((static_cast<int64_t>(i) * 7 + 3) % va); }
  int Y(int i) const { return i % vy; }
  // The y words' first letters in use ("ya".."yj" at 6,760 files or more).
  int YFirstLetters() const { return (std::min(files, vy) + 675) / 676; }

  void Plan(int n, int f) {
    files = n;
    folders = f;
    va = std::min(17000, std::max(4, n / 250));
    count_a.assign(va, 0);
    count_b.assign(vb, 0);
    count_c.assign(vc, 0);
    count_ab.assign(static_cast<size_t>(va) * vb, 0);
    count_bc.assign(static_cast<size_t>(vb) * vc, 0);
    count_k_field.assign(va, 0);
    count_y_first.assign(10, 0);
    for (int i = 0; i < n; ++i) {
      ++count_a[A(i)];
      ++count_b[B(i)];
      ++count_c[C(i)];
      ++count_ab[static_cast<size_t>(A(i)) * vb + B(i)];
      ++count_bc[static_cast<size_t>(B(i)) * vc + C(i)];
      ++count_k_field[K(i)];
      ++count_y_first[Y(i) / 676];
    }
  }
  int AB(int a, int b) const { return count_ab[static_cast<size_t>(a) * vb + b]; }
  int BC(int b, int c) const { return count_bc[static_cast<size_t>(b) * vc + c]; }

  // Every caption has the same length (the template relies on it).
  std::string Caption(int i) const {
    return "Sample picture " + Padded(i) + " shows " + Word("qb", B(i)) + " " + Word("qc", C(i)) +
           " and " + Word("qa", A(i)) + " near " + Word("qk", (K(i) + 1) % va) + " with " +
           Word("y", Y(i));
  }
  std::string Keywords(int i) const { return Word("qk", K(i)); }

  std::vector<IptcDataset> Datasets(int i) const {
    return {{2, 120, Caption(i)},
            {2, 105, "Bench headline"},
            {2, 25, Keywords(i)},
            {2, 80, "Staff Photographer"},
            {2, 110, "Bench Agency"}};
  }

  std::string FolderOf(const std::string& root, int f) const {
    return root + "/folder" + std::to_string(f);
  }
  static std::string NameOf(int i) { return "img" + std::to_string(i) + ".jpg"; }
  // An archive's pictures were taken over years: one every ten minutes,
  // newest first, so that time stamps are distinct as in real folders.
  static time_t TimeOf(int i) { return kNewestPicture - static_cast<time_t>(i) * 600; }
};

// One JPEG with picture 0's datasets; any picture's file is this one with
// its caption and keywords values written over picture 0's.
struct JpegTemplate {
  std::string bytes;
  size_t caption_at = 0;
  size_t keywords_at = 0;

  void Patch(const Corpus& c, int i, std::string* out) const {
    const std::string caption = c.Caption(i);
    const std::string keywords = c.Keywords(i);
    out->replace(caption_at, caption.size(), caption);
    out->replace(keywords_at, keywords.size(), keywords);
  }
};

// Where dataset 2:`number` with `value` starts its value, when it is there once.
std::optional<size_t> FindDatasetValue(const std::string& jpeg, int number,
                                       const std::string& value) {
  std::string tagged = {'\x1c', '\x02', static_cast<char>(number),
                        static_cast<char>(value.size() >> 8), static_cast<char>(value.size() & 0xff)};
  tagged += value;
  const size_t at = jpeg.find(tagged);
  if (at == std::string::npos || jpeg.find(tagged, at + 1) != std::string::npos) return std::nullopt;
  return at + 5;
}

// The template, checked against the builder for the last picture.
std::optional<JpegTemplate> MakeTemplate(const Corpus& c) {
  JpegTemplate t;
  t.bytes = MakeJpegWithIptc(c.Datasets(0));
  std::optional<size_t> caption = FindDatasetValue(t.bytes, 120, c.Caption(0));
  std::optional<size_t> keywords = FindDatasetValue(t.bytes, 25, c.Keywords(0));
  if (!caption || !keywords) return std::nullopt;
  t.caption_at = *caption;
  t.keywords_at = *keywords;
  std::string last = t.bytes;
  t.Patch(c, c.files - 1, &last);
  if (last != MakeJpegWithIptc(c.Datasets(c.files - 1))) return std::nullopt;
  return t;
}

// Writes the pictures of folder `f` (pictures f, f + F, f + 2F, ...).
bool WriteFolder(const Corpus& c, const JpegTemplate& t, const std::string& root, int f) {
  const std::string folder = c.FolderOf(root, f);
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (dir < 0) return false;
  std::string bytes = t.bytes;
  bool ok = true;
  for (int i = f; ok && i < c.files; i += c.folders) {
    t.Patch(c, i, &bytes);
    const std::string name = Corpus::NameOf(i);
    int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                      0644);
    if (fd < 0) {
      ok = false;
      break;
    }
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = Corpus::TimeOf(i);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ok = WriteAllTo(fd, bytes) && ::futimens(fd, times) == 0;
    ok = ::close(fd) == 0 && ok;
  }
  ::close(dir);
  return ok;
}

// Writes the pictures unless a complete corpus of the same plan is there;
// `*reused` tells which.
bool WriteCorpus(const Corpus& c, const std::string& root, int writers, bool* reused) {
  const std::string marker =
      root + "/.corpus-v3-" + std::to_string(c.files) + "-" + std::to_string(c.folders);
  *reused = Exists(marker);
  if (*reused) return true;
  std::optional<JpegTemplate> t = MakeTemplate(c);
  if (!t) {
    std::printf("the template JPEG does not match the image builder's output\n");
    return false;
  }
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  for (int f = 0; f < c.folders; ++f) {
    std::filesystem::create_directories(c.FolderOf(root, f), ec);
    if (ec) return false;
  }
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < std::max(1, writers); ++w) {
    threads.emplace_back([&] {
      for (int f = next.fetch_add(1); f < c.folders && !failed; f = next.fetch_add(1)) {
        if (!WriteFolder(c, *t, root, f)) failed = true;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  return !failed && WriteWhole(marker, "");
}

// ---------------------------------------------------------------------------
// Requests.

enum Kind {
  kSingle,
  kTwoWord,
  kField,
  kFrequent,
  kPrefix2,
  kPrefix1,
  kPhrase,
  kAnd,
  kOr,
  kAndNot,
  kNear,
  kCached,
  kDate,
  kKinds
};
const char* kKindNames[kKinds] = {"single word",  "two-word",   "field (keywords)",
                                  "frequent qb",  "prefix yX*", "prefix y*",
                                  ".QRY phrase",  ".QRY AND",   ".QRY OR",
                                  ".QRY AND NOT", ".QRY W/5",   "cached word",
                                  "date, all"};
bool Heavy(int kind) { return kind == kPrefix2 || kind == kPrefix1; }

struct Planned {
  bool query_request = false;
  std::string bytes;         // the request record
  std::string engine_query;  // what the engine gets
  uint32_t option_bits = 0;
  uint32_t fuzziness = 0;
  // The browse forms: the engine keeps the newest matches up to this many.
  uint32_t newest_limit = 0;
  uint32_t expected_found = 0;
  uint32_t expected_records = 0;
  // Whether picture number i belongs in the answer.
  std::function<bool(int)> matches;
  // With more matches than the newest limit: the oldest picture (highest
  // number) that may be in the answer.
  int newest_bound = -1;
};

// The short forms' requests, translated as the server does.
Planned PlanShort(const ShortSearchRequest& s, uint32_t found, std::function<bool(int)> matches) {
  Planned p;
  p.bytes = EncodeShortSearchRequest(s).value();
  TranslatedQuery t = TranslateShortForm(s);
  p.engine_query = t.query;
  p.option_bits = t.option_bits;
  p.fuzziness = t.fuzziness;
  p.newest_limit = t.hit_limit;
  p.expected_found = found;
  p.expected_records = std::min(found, t.hit_limit == 0 ? UINT32_MAX : t.hit_limit);
  p.matches = std::move(matches);
  return p;
}

// ".QRY": every hit, limit 2,000, relevance order.
Planned PlanQuery(std::string text, uint32_t found, std::function<bool(int)> matches) {
  QueryRequest q;
  q.option_bits = kOptionEveryHit;
  q.hit_limit = kLimit;
  q.sort_order = 3;
  q.query_text = std::move(text);
  Planned p;
  p.query_request = true;
  p.bytes = EncodeQueryRequest(q).value();
  p.engine_query = q.query_text;
  p.option_bits = q.option_bits;
  p.expected_found = found;
  p.expected_records = std::min(found, kLimit);
  p.matches = std::move(matches);
  return p;
}

Planned PlanShortKind(const Corpus& c, Kind kind, int r) {
  ShortSearchRequest s;
  switch (kind) {
    case kTwoWord: {
      int a = r % c.va, b = (r / c.va) % c.vb;
      s.first_term = Word("qa", a);
      s.second_term = Word("qb", b);
      s.operator_code = 0;
      return PlanShort(s, c.AB(a, b), [&c, a, b](int i) { return c.A(i) == a && c.B(i) == b; });
    }
    case kField: {
      int k = r % c.va;
      s.first_term = Word("qk", k);
      s.field_selector = kFieldKeywords;
      s.exact = static_cast<uint8_t>((r / c.va) % 2);
      return PlanShort(s, c.count_k_field[k], [&c, k](int i) { return c.K(i) == k; });
    }
    case kFrequent: {
      int b = r % c.vb;
      s.first_term = Word("qb", b);
      s.exact = static_cast<uint8_t>((r / c.vb) % 2);
      return PlanShort(s, c.count_b[b], [&c, b](int i) { return c.B(i) == b; });
    }
    case kPrefix2: {
      int x = r % c.YFirstLetters();
      s.first_term = std::string("y") + static_cast<char>('a' + x);
      return PlanShort(s, c.count_y_first[x], [&c, x](int i) { return c.Y(i) / 676 == x; });
    }
    case kPrefix1:
      s.first_term = "y";
      return PlanShort(s, c.files, [](int) { return true; });
    case kDate:
      // No words, files older than 30 days: every picture of the corpus.
      s.date_mode = 2;
      s.date_period = 3;
      return PlanShort(s, c.files, [](int) { return true; });
    default: {  // kSingle, kCached
      int a = kind == kCached ? 0 : r % c.va;
      s.first_term = Word("qa", a);
      // Words of one family have one length, so "qaabc*" finds what "qaabc"
      // finds; the exact flag gives a second query text per word.
      s.exact = kind == kCached ? 0 : static_cast<uint8_t>((r / c.va) % 2);
      return PlanShort(s, c.count_a[a], [&c, a](int i) { return c.A(i) == a; });
    }
  }
}

Planned PlanQueryKind(const Corpus& c, Kind kind, int r) {
  const int b = r % c.vb;
  const std::string qb = Word("qb", b);
  if (kind == kAndNot) {
    const int a = (r / c.vb) % c.va;
    return PlanQuery(qb + " AND NOT " + Word("qa", a), c.count_b[b] - c.AB(a, b),
                     [&c, a, b](int i) { return c.B(i) == b && c.A(i) != a; });
  }
  const int k = (r / c.vb) % c.vc;
  const std::string qc = Word("qc", k);
  auto both = [&c, b, k](int i) { return c.B(i) == b && c.C(i) == k; };
  switch (kind) {
    case kPhrase:
      return PlanQuery("\"" + qb + " " + qc + "\"", c.BC(b, k), both);
    case kAnd:
      return PlanQuery(qb + " AND " + qc, c.BC(b, k), both);
    case kOr:
      return PlanQuery(qb + " OR " + qc, c.count_b[b] + c.count_c[k] - c.BC(b, k),
                       [&c, b, k](int i) { return c.B(i) == b || c.C(i) == k; });
    default:  // kNear: the qc word stands right after the qb word
      return PlanQuery(qc + " W/5 " + qb, c.BC(b, k), both);
  }
}

// The oldest picture the newest `limit` matches may hold.
int NewestBound(const Corpus& c, const Planned& p) {
  uint32_t seen = 0;
  for (int i = 0; i < c.files; ++i) {
    if (p.matches(i) && ++seen == p.newest_limit) return i;
  }
  return c.files;
}

// Request r of a kind; `bounds` keeps each query text's newest bound.
Planned Plan(const Corpus& c, Kind kind, int r, std::map<std::string, int>* bounds) {
  const bool query = kind >= kPhrase && kind <= kNear;
  Planned p = query ? PlanQueryKind(c, kind, r) : PlanShortKind(c, kind, r);
  if (p.newest_limit > 0 && p.expected_found > p.newest_limit && bounds != nullptr) {
    auto [at, inserted] = bounds->try_emplace(p.engine_query, 0);
    if (inserted) at->second = NewestBound(c, p);
    p.newest_bound = at->second;
  }
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

// The counts as planned; every record a distinct picture that belongs, and
// none older than the newest matches the engine was to keep.
bool AnswerIsRight(const Planned& p, const HitHeader& h) {
  if (h.found != p.expected_found || h.records != p.expected_records) return false;
  std::vector<int> seen;
  seen.reserve(h.keys.size());
  for (const std::string& key : h.keys) {
    int i = PictureOf(key);
    if (i < 0 || (p.matches && !p.matches(i))) return false;
    if (p.newest_bound >= 0 && i > p.newest_bound) return false;
    seen.push_back(i);
  }
  std::sort(seen.begin(), seen.end());
  return std::adjacent_find(seen.begin(), seen.end()) == seen.end();
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
        std::optional<HitHeader> h = bytes ? ParseHitFile(*bytes) : std::nullopt;
        if (h) {
          result.ms = Millis(start, Clock::now());
          result.answered = true;
          result.correct = AnswerIsRight(p, *h);
          result.header = std::move(*h);
          break;
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

// A "VmHWM:"-like line of /proc/PID/status in MiB; -1 when unreadable.
double ProcStatusMiB(pid_t pid, const char* field) {
  std::optional<std::string> status = ReadWhole("/proc/" + std::to_string(pid) + "/status");
  if (!status) return -1;
  size_t at = status->find(std::string("\n") + field + ":");
  if (at == std::string::npos) return -1;
  return std::strtod(status->c_str() + at + std::strlen(field) + 2, nullptr) / 1024.0;
}

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

// The engine's own run of one planned query, with the flags and the hit
// limit the server uses.
struct EngineRun {
  double ms = 0;
  bool right = false;  // the match and delivery counts as planned
};

EngineRun RunInEngine(Engine* engine, const std::string& folder, const Planned& p) {
  EngineSearchSettings settings =
      SettingsFor(p.option_bits, p.fuzziness, engine->thesaurus_found(), engine->wordnet_found());
  SearchJob job;
  job.query = p.engine_query;
  job.index_folder = folder;
  job.max_hits = settings.max_hits;
  job.flags = settings.flags;
  job.fuzziness = settings.fuzziness;
  if (p.newest_limit > 0) {
    job.max_hits = static_cast<int32_t>(p.newest_limit);
    job.flags |= kSearchNewestFirst;
  }
  uint64_t hits = 0;
  job.message_callback = [&](const EngineMessage& m) {
    if (m.code != kMessageFoundDocument) return;
    std::optional<DecodedDocumentName> name = DecodeDocumentName(m.name);
    if (name && !name->file_key.empty()) ++hits;
  };
  EngineRun run;
  const auto start = Clock::now();
  StatusOr<SearchOutcome> outcome = engine->RunSearchJob(job);
  run.ms = Millis(start, Clock::now());
  const uint64_t delivered = p.newest_limit > 0 ? p.expected_records : p.expected_found;
  run.right = outcome.ok() && outcome->error.empty() && !outcome->cut_off &&
              outcome->matches == p.expected_found && hits == delivered;
  return run;
}

// ---------------------------------------------------------------------------
// The run's steps.

struct Options {
  int files = 100000, folders = 100, requests = 500, heavy_requests = 50, clients = 8;
  int throughput_requests = 2000, writers = 2, import_files = 0;
  bool keep = false, corpus_only = false;
  bool each = false;  // print every request's time beside the engine's
  bool reuse_index = false;
  std::vector<std::string> only;  // kinds whose names contain one of these; empty: all
  std::string dir;
};

bool Selected(const Options& o, int kind) {
  if (o.only.empty()) return true;
  const std::string name = kKindNames[kind];
  return std::any_of(o.only.begin(), o.only.end(),
                     [&](const std::string& part) { return name.find(part) != std::string::npos; });
}

void Usage() {
  std::fprintf(stderr,
               "usage: search_bench [--files N] [--folders F] [--requests K] [--heavy-requests H] "
               "[--clients C] [--throughput-requests T] [--writers W] [--import M] "
               "[--dir FOLDER] [--keep] [--corpus-only] [--each] [--reuse-index] "
               "[--only KIND]...\n");
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto number = [&](int lowest) { return std::max(lowest, std::atoi(argv[++i])); };
    const bool valued = i + 1 < argc;
    if (a == "--files" && valued) o.files = std::min(kMostFiles, number(1));
    else if (a == "--folders" && valued) o.folders = number(1);
    else if (a == "--requests" && valued) o.requests = number(1);
    else if (a == "--heavy-requests" && valued) o.heavy_requests = number(1);
    else if (a == "--clients" && valued) o.clients = number(1);
    else if (a == "--throughput-requests" && valued) o.throughput_requests = number(0);
    else if (a == "--writers" && valued) o.writers = number(1);
    else if (a == "--import" && valued) o.import_files = number(0);
    else if (a == "--dir" && valued) o.dir = argv[++i];
    else if (a == "--keep") o.keep = true;
    else if (a == "--corpus-only") o.corpus_only = o.keep = true;
    else if (a == "--each")
      o.each = true;
    else if (a == "--reuse-index")
      o.reuse_index = o.keep = true;
    else if (a == "--only" && valued)
      o.only.push_back(argv[++i]);
    else return std::nullopt;
  }
  return o;
}

int RequestsOf(const Options& o, int kind) { return Heavy(kind) ? o.heavy_requests : o.requests; }

void PrintLoad(const char* when) {
  std::optional<std::string> load = ReadWhole("/proc/loadavg");
  if (load) std::printf("load average %s: %s", when, load->c_str());
}

bool PrepareCorpus(const Options& o, const Corpus& corpus, const std::string& images) {
  auto t = Clock::now();
  bool reused = false;
  if (!WriteCorpus(corpus, images, o.writers, &reused)) {
    std::printf("could not write the corpus under %s\n", images.c_str());
    return false;
  }
  const double seconds = Seconds(t, Clock::now());
  if (reused) {
    std::printf("corpus: %d JPEG files in %d folders under %s (reused)\n", o.files, o.folders,
                images.c_str());
  } else {
    std::printf("corpus: %d JPEG files in %d folders under %s written in %.1f s (%.0f files/s, "
                "%d writers)\n",
                o.files, o.folders, images.c_str(), seconds, o.files / seconds, o.writers);
  }
  std::printf("vocabulary: %d qa words (~%d files each), %d qb words (~%d), %d qc words (~%d), "
              "%d y words (\"y*\"), %d per \"yX*\"\n",
              corpus.va, o.files / corpus.va, corpus.vb, o.files / corpus.vb, corpus.vc,
              o.files / corpus.vc, std::min(o.files, corpus.vy), 676);
  return true;
}

// A fresh server folder whose configuration serves the corpus.
// Written once a first start over the corpus completed; --reuse-index needs it.
std::string IndexCompleteMarker(const std::string& work) { return work + "/index-complete"; }

bool PrepareServerFolder(const std::string& work, const std::string& images, bool reuse_index,
                         std::string* index_folder) {
  *index_folder = work + "/index";
  if (reuse_index && Exists(IndexCompleteMarker(work))) return true;
  std::error_code ec;
  std::filesystem::remove_all(work, ec);
  for (const char* sub : {"/start", "/index", "/reader"}) {
    std::filesystem::create_directories(work + sub, ec);
  }
  Configuration config;
  IndexDefinition def = NewIndexDefinition("SearchBench", *index_folder).value();
  // No nightly optimization in the middle of a measurement.
  def.optimize_hour = 24;
  def.active = 1;
  def.image_folders[0].path = OfflineFolderOf(*index_folder);
  def.image_folders[1].path = images;
  config.indexes.push_back(def);
  if (!SaveConfiguration(*DefaultFileSystem(), config, work + "/start/" + names::kConfigurationFile)
           .ok()) {
    std::printf("could not write the configuration\n");
    return false;
  }
  return true;
}

// Starts the server and waits until it has indexed the corpus.
std::optional<Server> StartAndAwaitReady(const std::string& work, double* seconds) {
  // A kept run's log says it was ready: gone before the server starts.
  std::error_code ec;
  std::filesystem::remove(work + "/server.log", ec);
  auto t = Clock::now();
  Server server = StartServer(work + "/start", work + "/server.log");
  while (!server.LogHas("Database Process Ready for Search") && Seconds(t, Clock::now()) < 7200) {
    if (::waitpid(server.pid, nullptr, WNOHANG) == server.pid) {
      std::printf("the server ended before it was ready; see %s\n", server.log.c_str());
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  *seconds = Seconds(t, Clock::now());
  if (!server.LogHas("Database Process Ready for Search")) {
    std::printf("the server was not ready within two hours\n");
    server.Stop();
    return std::nullopt;
  }
  return server;
}

// The bench's own engine reads the server's index; its home folder gets the
// server's field catalogue (and thesaurus, when there is one).
std::unique_ptr<Engine> StartReaderEngine(const std::string& work) {
  for (const char* name : {names::kFieldCatalogue, kThesaurusFile}) {
    std::error_code ec;
    std::filesystem::copy_file(work + "/start/" + name, work + "/reader/" + name, ec);
  }
  EngineStartOptions engine_options;
  engine_options.home_folder = work + "/reader";
  return std::move(Engine::Start(engine_options).value());
}

struct KindResults {
  std::vector<double> latency;
  std::vector<double> engine_ms;
  double steal_ms = 0;  // the machine's steal during the requests (steal_time.h)
  int wrong = 0, unanswered = 0, engine_wrong = 0;
  double found_sum = 0, records_sum = 0;
  std::string first_wrong;
};

// One request at a time, K of a kind (H of the heavy kinds); beside each
// the bench's own engine runs the same query, the server idle meanwhile, so
// that both see the same load and the same page cache: after the answer for
// the even requests of a kind, before the request for the odd ones, so that
// neither always finds the blocks and names that the other just read in the
// processor's caches.
// A process's minor page faults so far (the tenth field of /proc/PID/stat):
// on a virtual machine a fault on memory the process never touched before
// can cost tens of microseconds, so a slow request with many is waiting on
// fresh memory. nullopt when it cannot be read.
std::optional<unsigned long long> MinorFaults(pid_t pid) {
  std::optional<std::string> stat = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return std::nullopt;
  // The name in parentheses may hold spaces; the fields after it do not.
  const size_t end_of_name = stat->rfind(')');
  if (end_of_name == std::string::npos) return std::nullopt;
  unsigned long long faults = 0;
  if (std::sscanf(stat->c_str() + end_of_name + 1, " %*c %*d %*d %*d %*d %*d %*u %llu", &faults) !=
      1) {
    return std::nullopt;
  }
  return faults;
}

void RunOneAtATime(const Options& o, const Corpus& corpus, const std::string& search_folder,
                   pid_t server_pid, Engine* engine, const std::string& engine_folder,
                   const std::string& tag, KindResults* results) {
  std::map<std::string, int> bounds;
  RunInEngine(engine, engine_folder, Plan(corpus, kSingle, 1, nullptr));  // warm-up
  for (int k = 0; k < kKinds; ++k) {
    if (!Selected(o, k)) continue;
    KindResults& out = results[k];
    Client client(search_folder, tag + "S" + std::to_string(k) + "N");
    for (int r = 0; r < RequestsOf(o, k); ++r) {
      Planned p = Plan(corpus, static_cast<Kind>(k), r, &bounds);
      const bool timed_in_engine = k != kDate;  // a date search is answered from TIMELIST alone
      const bool engine_first = r % 2 == 1;
      EngineRun run;
      if (timed_in_engine && engine_first) run = RunInEngine(engine, engine_folder, p);
      const std::optional<double> steal_before = StolenMs();
      const std::optional<unsigned long long> faults_before = MinorFaults(server_pid);
      Client::Result res = client.Run(p);
      const double steal = StolenBetween(steal_before, StolenMs());
      const std::optional<unsigned long long> faults_after = MinorFaults(server_pid);
      const unsigned long long faults =
          faults_before && faults_after ? *faults_after - *faults_before : 0;
      out.steal_ms += steal;
      if (!res.answered) {
        // Each costs the time-out; a server that stopped answering would
        // make the run endless.
        if (++out.unanswered >= 5) {
          std::printf("%s: 5 requests not answered within %.0f s; the rest of this kind skipped\n",
                      kKindNames[k], kAnswerTimeoutSeconds);
          break;
        }
        continue;
      }
      out.latency.push_back(res.ms);
      out.found_sum += res.header.found;
      out.records_sum += res.header.records;
      if (!res.correct && out.wrong++ == 0) {
        out.first_wrong = "\"" + p.engine_query + "\": found " + std::to_string(res.header.found) +
                          " records " + std::to_string(res.header.records) + ", expected " +
                          std::to_string(p.expected_found) + " / " +
                          std::to_string(p.expected_records);
      }
      if (!timed_in_engine) continue;
      if (!engine_first) run = RunInEngine(engine, engine_folder, p);
      out.engine_ms.push_back(run.ms);
      if (o.each) {
        std::printf(
            "    %s %d: %.2f ms (steal %.0f ms, server page faults %llu), engine %.2f ms "
            "(%s)\n",
            kKindNames[k], r, res.ms, steal, faults, run.ms,
            engine_first ? "engine first" : "engine second");
      }
      if (!run.right) ++out.engine_wrong;
    }
    std::printf("  %-16s %zu answered\n", kKindNames[k], out.latency.size());
  }
}

struct Throughput {
  double per_second = 0, seconds = 0;
  int unanswered = 0, wrong = 0;
  std::vector<double> latency;
};

// C clients at once, single and two-word short forms alternately.
Throughput RunThroughput(const Options& o, const Corpus& corpus, const std::string& search_folder,
                         const std::string& tag) {
  Throughput out;
  std::atomic<int> next{0}, answered{0}, wrong{0}, unanswered{0};
  std::mutex mu;
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int c = 0; c < o.clients; ++c) {
    threads.emplace_back([&, c] {
      Client client(search_folder, tag + "T" + std::to_string(c) + "N");
      std::vector<double> mine;
      for (;;) {
        int r = next.fetch_add(1);
        if (r >= o.throughput_requests) break;
        // Other query texts than the one-at-a-time phase used, as far as
        // the vocabulary allows.
        Planned p = Plan(corpus, r % 2 == 0 ? kSingle : kTwoWord, r / 2 + o.requests, nullptr);
        Client::Result res = client.Run(p);
        if (!res.answered) {
          if (++unanswered >= 5) break;
          continue;
        }
        ++answered;
        if (!res.correct) ++wrong;
        mine.push_back(res.ms);
      }
      std::lock_guard<std::mutex> lock(mu);
      out.latency.insert(out.latency.end(), mine.begin(), mine.end());
    });
  }
  for (std::thread& th : threads) th.join();
  out.seconds = Seconds(start, Clock::now());
  out.per_second = answered.load() / out.seconds;
  out.unanswered = unanswered.load();
  out.wrong = wrong.load();
  return out;
}

void PrintTable(const Options& o, const KindResults* results) {
  std::printf("\nfiles %d, %d requests per kind one at a time (%d of the prefix kinds), hit "
              "limit %u\n",
              o.files, o.requests, o.heavy_requests, kLimit);
  std::printf("%-16s %7s %7s | %9s %9s %9s %9s | %9s %9s | %8s %9s | %s\n", "request", "found",
              "records", "median", "p99", "mean", "max", "eng.med", "eng.p99", "ratio",
              "overhead", "checks");
  for (int k = 0; k < kKinds; ++k) {
    if (!Selected(o, k)) continue;
    const KindResults& r = results[k];
    Stats s = Summarize(r.latency);
    Stats e = Summarize(r.engine_ms);
    const double n = r.latency.empty() ? 1.0 : static_cast<double>(r.latency.size());
    std::printf(
        "%-16s %7.0f %7.0f | %6.2f ms %6.2f ms %6.2f ms %6.2f ms | %6.2f ms %6.2f ms | "
        "%7.1fx %6.2f ms | %zu answered, %d unanswered, %d wrong, engine %d wrong, "
        "steal %.0f ms\n",
        kKindNames[k], r.found_sum / n, r.records_sum / n, s.median, s.p99, s.mean, s.max, e.median,
        e.p99, e.median > 0 ? s.median / e.median : 0.0, s.median - e.median, r.latency.size(),
        r.unanswered, r.wrong, r.engine_wrong, r.steal_ms);
    if (!r.first_wrong.empty()) std::printf("    first wrong answer: %s\n", r.first_wrong.c_str());
  }
}

void PrintThroughputAndGoals(const Options& o, const KindResults* results, const Throughput& t) {
  if (o.throughput_requests > 0) {
    Stats s = Summarize(t.latency);
    std::printf("\nthroughput, %d clients, %d requests (single and two-word short forms): "
                "%.0f requests/s over %.2f s; latency median %.2f ms, p99 %.2f ms; "
                "%d unanswered, %d wrong\n",
                o.clients, o.throughput_requests, t.per_second, t.seconds, s.median, s.p99,
                t.unanswered, t.wrong);
  }
  std::printf("\ngoals (one at a time, the four kinds of the 100,000-file goal):\n");
  for (int k : {kSingle, kTwoWord, kField, kAndNot}) {
    if (!Selected(o, k)) continue;
    Stats one = Summarize(results[k].latency);
    Stats eng = Summarize(results[k].engine_ms);
    std::printf("  %-16s median %6.2f ms < 15 ms: %-3s  p99 %6.2f ms < 60 ms: %-3s  overhead "
                "%5.2f ms < 5 ms: %s\n",
                kKindNames[k], one.median, one.median < 15 ? "yes" : "NO", one.p99,
                one.p99 < 60 ? "yes" : "NO", one.median - eng.median,
                one.median - eng.median < 5 ? "yes" : "NO");
  }
  if (o.throughput_requests > 0) {
    std::printf("  throughput %.0f requests/s >= 300: %s\n", t.per_second,
                t.per_second >= 300 ? "yes" : "NO");
  }
}

// --import M: M new pictures (the corpus's pictures N to N + M - 1) written
// into a new folder under the image folder while one client sends the
// single-word short form every 100 ms, until the engine holds them all and a
// second longer: how long searches take while the server's index jobs run
// and commit. The answers' counts change meanwhile and are not checked. The
// folder is deleted afterwards, so a kept corpus stays as planned.
struct ImportResults {
  std::vector<double> latency;
  int unanswered = 0;
  double write_seconds = 0, indexed_seconds = 0;
  bool complete = false;
};

ImportResults RunImport(const Options& o, const Corpus& corpus, const std::string& images,
                        const std::string& search_folder, Engine* engine,
                        const std::string& engine_folder, const std::string& tag) {
  ImportResults out;
  std::optional<JpegTemplate> t = MakeTemplate(corpus);
  const std::string folder = images + "/import";
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  if (!t || !std::filesystem::create_directories(folder, ec)) {
    std::printf("import: could not prepare %s\n", folder.c_str());
    return out;
  }
  std::atomic<bool> stop{false};
  std::thread client_thread([&] {
    Client client(search_folder, tag + "I");
    for (int r = 0; !stop.load(); ++r) {
      Client::Result res = client.Run(Plan(corpus, kSingle, r % corpus.va, nullptr));
      if (res.answered) {
        out.latency.push_back(res.ms);
      } else {
        ++out.unanswered;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  const auto start = Clock::now();
  std::string bytes = t->bytes;
  for (int i = o.files; i < o.files + o.import_files; ++i) {
    t->Patch(corpus, i, &bytes);
    if (!WriteWhole(folder + "/" + Corpus::NameOf(i), bytes)) {
      std::printf("import: could not write picture %d\n", i);
      break;
    }
  }
  out.write_seconds = Seconds(start, Clock::now());
  const uint32_t wanted = static_cast<uint32_t>(o.files + o.import_files);
  while (Seconds(start, Clock::now()) < 1800) {
    StatusOr<IndexInfo> info = engine->GetIndexInfo(engine_folder);
    if (info.ok() && info->document_count >= wanted) {
      out.complete = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  out.indexed_seconds = Seconds(start, Clock::now());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  stop = true;
  client_thread.join();
  std::filesystem::remove_all(folder, ec);
  return out;
}

void PrintImport(const Options& o, const ImportResults& r) {
  const Stats st = Summarize(r.latency);
  const auto over_1s = std::count_if(r.latency.begin(), r.latency.end(),
                                     [](double ms) { return ms > 1000.0; });
  std::printf("\nimport of %d pictures: written in %.1f s, %s after %.1f s\n", o.import_files,
              r.write_seconds, r.complete ? "all in the engine" : "NOT all in the engine",
              r.indexed_seconds);
  std::printf("searches meanwhile (single word, one every 100 ms): %zu answered, %d not; "
              "median %.2f ms, p99 %.2f ms, max %.2f ms, over 1 s %td\n",
              r.latency.size(), r.unanswered, st.median, st.p99, st.max, over_1s);
}

// Serves the corpus, measures, prints; false when the server could not be run.
bool MeasureServer(const Options& o, const Corpus& corpus, const std::string& images) {
  const std::string work = o.dir + "/server";
  std::string index_folder;
  const bool restart = o.reuse_index && Exists(IndexCompleteMarker(work));
  if (!PrepareServerFolder(work, images, o.reuse_index, &index_folder)) return false;
  const std::string search_folder = SearchFolderOf(index_folder);
  const std::string engine_folder = EngineFolderOf(index_folder);

  double ready_seconds = 0;
  std::optional<Server> server = StartAndAwaitReady(work, &ready_seconds);
  if (!server) return false;
  const double first_start_peak = ProcStatusMiB(server->pid, "VmHWM");
  std::unique_ptr<Engine> engine = StartReaderEngine(work);
  uint32_t documents = 0;
  {
    StatusOr<IndexInfo> info = engine->GetIndexInfo(engine_folder);
    if (info.ok()) documents = info->document_count;
  }
  std::printf(
      "server %s: %.1f s until \"Database Process Ready for Search\" "
      "(%.0f files/s), %u documents in the engine; peak resident memory %.0f MiB\n",
      restart ? "restart over the kept index" : "first start", ready_seconds,
      o.files / ready_seconds, documents, first_start_peak);
  if (!restart) WriteWhole(IndexCompleteMarker(work), "");
  for (int i = 0; i < 200 && !Exists(search_folder); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  // Warm-up (untimed): a few requests so that the first one's costs (engine
  // reader, page cache) are not in the figures.
  const std::string tag = "SB" + std::to_string(::getpid() % 100000) + "X";
  {
    Client warm(search_folder, tag + "W");
    int unanswered = 0;
    for (int r = 0; r < 5; ++r) {
      if (!warm.Run(Plan(corpus, kSingle, corpus.va - 1 - r % corpus.va, nullptr)).answered) {
        ++unanswered;
      }
    }
    if (unanswered > 0) std::printf("warm-up: %d of 5 requests not answered\n", unanswered);
  }

  KindResults results[kKinds];
  std::printf("one request at a time:\n");
  RunOneAtATime(o, corpus, search_folder, server->pid, engine.get(), engine_folder, tag, results);
  Throughput throughput;
  if (o.throughput_requests > 0) throughput = RunThroughput(o, corpus, search_folder, tag);
  std::optional<ImportResults> import;
  if (o.import_files > 0) {
    import = RunImport(o, corpus, images, search_folder, engine.get(), engine_folder, tag);
  }

  const double last_peak = ProcStatusMiB(server->pid, "VmHWM");
  const double last_resident = ProcStatusMiB(server->pid, "VmRSS");
  server->Stop();
  engine.reset();

  PrintTable(o, results);
  PrintThroughputAndGoals(o, results, throughput);
  if (import) PrintImport(o, *import);
  std::printf("\nserver peak resident memory (VmHWM): %.0f MiB after the first start, %.0f MiB "
              "before the stop (resident then %.0f MiB)\n",
              first_start_peak, last_peak, last_resident);
  std::optional<std::string> log_text = ReadWhole(work + "/server.log");
  if (log_text) {
    std::printf("server output: %d lines with \"Failed\", %d with \"cut short\"\n",
                CountLines(*log_text, "Failed"), CountLines(*log_text, "cut short"));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The allocator set up as the server sets it up, so that the bench's own
  // engine, the reference of the overhead, runs as the server's does.
  SetUpMemoryAllocator(std::vector<std::string>(argv + 1, argv + argc));
  std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    Usage();
    return 2;
  }
  Options& o = *options;
  if (o.dir.empty()) {
    char pattern[] = "/tmp/vantrel-search-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    o.dir = pattern;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("machine: %u hardware threads\n", std::thread::hardware_concurrency());
  PrintLoad("at start");

  Corpus corpus;
  corpus.Plan(o.files, o.folders);
  const std::string images = o.dir + "/images";
  if (!PrepareCorpus(o, corpus, images)) return 1;
  const bool measured = o.corpus_only || MeasureServer(o, corpus, images);
  PrintLoad("at end");
  if (!o.keep) {
    std::error_code ec;
    std::filesystem::remove_all(o.dir, ec);
  } else {
    std::printf("kept %s\n", o.dir.c_str());
  }
  return measured ? 0 : 1;
}
