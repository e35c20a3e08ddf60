// Indexing benchmark: the server's index pipeline over a generated corpus,
// from an empty index folder until the start-up catch-up has written its
// lists, against other tools over the same tree and against a floor.
//
//   indexing_bench [--files N] [--folders F] [--dir FOLDER] [--cold]
//                  [--latency-runs K] [--keep] [--only-vantrel] [--readers 1,8]
//
// The corpus (default 20,000 captioned JPEG files in 50 folders, plus 2% each
// TIFF and EPS files and image-info trailer JPEGs; nine IPTC datasets each,
// captions of 100 to 400 characters from a 12,000-word vocabulary) is
// written once. Each run happens in a child process, so its peak memory
// (ru_maxrss) and its CPU time (user and system, all threads: the figure to
// compare on a loaded machine) are its own; every line shows the load
// average after the run:
//   vantrel/R  PrepareIndexFolders, the served folders set, and
//              Pipeline::StartUpIndex with R document
//              readers (documents, engine batches, lists, backup), once for
//              each count of --readers
//   floor      stat, open, read the first 4 and the last 3,000 bytes of each
//              file; then the engine indexing the same documents (composed
//              beforehand, untimed)
//   exiftool   exiftool -r -IPTC:all -j over the tree (when installed)
//   recoll     recollindex with a fresh configuration (when installed)
// The runs of this program's own code get the allocator settings the server
// gives itself (huge page heaps among them); the other tools run as
// installed, without them.
// With --cold the page cache is dropped before each run (needs root).
// Then, with the real server binary (VANTREL_SERVER_BINARY) running on the
// tree, K pictures are written into a watched folder one at a time and the
// time until the engine finds each is measured.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/index_folders.h"
#include "core/config_file.h"
#include "core/file_names.h"
#include "core/list_lock_table.h"
#include "engine/engine.h"
#include "indexing/document_builder.h"
#include "indexing/engine_holder.h"
#include "indexing/index_pipeline.h"
#include "indexing/pending_table.h"
#include "platform/file_system.h"
#include "platform/process_setup.h"
#include "platform/served_folders.h"
#include "support/image_builders.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vantrel;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Writes `bytes` unless the file holds them already: a corpus kept under
// --dir is written once, so that a run does not start while the kernel still
// writes back a corpus rewritten just before.
void WriteFile(const std::string& path, const std::string& bytes) {
  if (std::ifstream in(path, std::ios::binary); in) {
    const std::string held((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (held == bytes) return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Captions as an archive holds them: nine datasets (caption, headline, two
// keywords, city, country, credit, source, date), the caption 100 to 400
// characters of words from a vocabulary of 12,000, the common ones more
// frequent (documents of about 750 bytes).
constexpr int kVocabulary = 12000;

const std::vector<std::string>& Vocabulary() {
  static const std::vector<std::string> words = [] {
    static const char* kSyllables[] = {"ka", "lo", "mi", "ren", "sta", "vo", "dur", "bel",
                                       "tin", "gra", "pe", "shu", "nor", "ax", "qui", "zel",
                                       "mar", "do", "fi", "ha", "jul", "ost", "wen", "cri"};
    std::vector<std::string> v;
    v.reserve(kVocabulary);
    for (int i = 0; i < kVocabulary; ++i) {
      std::string w;
      int n = i;
      do {
        w += kSyllables[n % 24];
        n /= 24;
      } while (n > 0);
      if (w.size() < 4) w += "en";
      v.push_back(w);
    }
    return v;
  }();
  return words;
}

// A reproducible stream of numbers per file.
struct Random {
  uint64_t state;
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
  // A vocabulary word, low ranks more often (the square of a uniform draw).
  const std::string& Word() {
    const double u = (Next() % 1000000) / 1000000.0;
    return Vocabulary()[static_cast<size_t>(u * u * kVocabulary)];
  }
  std::string Words(size_t min_chars, size_t max_chars) {
    const size_t target = min_chars + Next() % (max_chars - min_chars + 1);
    std::string text;
    while (text.size() < target) {
      if (!text.empty()) text += ' ';
      text += Word();
    }
    return text.substr(0, max_chars);
  }
};

std::vector<IptcDataset> CaptionFor(int i) {
  Random r{static_cast<uint64_t>(i) * 2654435761u + 1};
  return {{2, 120, r.Words(100, 400)},
          {2, 105, r.Words(20, 60)},
          {2, 25, r.Word()},
          {2, 25, r.Word()},
          {2, 90, r.Words(5, 20)},
          {2, 101, r.Words(5, 15)},
          {2, 110, r.Words(10, 30)},
          {2, 115, r.Words(10, 30)},
          {2, 55, "20240102"}};
}

std::vector<std::string> MakeCorpus(const std::string& root, int files, int folders) {
  std::vector<std::string> paths;
  for (int f = 0; f < folders; ++f) {
    std::filesystem::create_directories(root + "/folder" + std::to_string(f));
  }
  const int others = std::max(1, files / 50);
  for (int i = 0; i < files; ++i) {
    std::string folder = root + "/folder" + std::to_string(i % folders);
    paths.push_back(folder + "/img" + std::to_string(i) + ".jpg");
    WriteFile(paths.back(), MakeJpegWithIptc(CaptionFor(i)));
  }
  for (int i = 0; i < others; ++i) {
    std::string folder = root + "/folder" + std::to_string(i % folders);
    paths.push_back(folder + "/pic" + std::to_string(i) + ".tif");
    WriteFile(paths.back(), MakeTiffWithIptc(CaptionFor(i)));
    paths.push_back(folder + "/pic" + std::to_string(i) + ".eps");
    WriteFile(paths.back(), MakeEpsWithIptc(CaptionFor(i)));
    paths.push_back(folder + "/trl" + std::to_string(i) + ".jpg");
    WriteFile(paths.back(),
              AppendTrailer(MakeJpeg(), {{1, MakeIptcBlock(CaptionFor(i))},
                                         {2, MakeImageInfoBlock(3000, 2000, 3, 300000)}}));
  }
  return paths;
}

void DropCaches() {
  if (std::system("sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null") != 0) {
    std::printf("  (could not drop the page cache)\n");
  }
}

struct RunResult {
  double seconds = -1;
  double cpu_seconds = 0;  // user and system time of the child, every thread
  long peak_kib = 0;
  long count = 0;
};

double CpuSeconds(const struct rusage& usage) {
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs `work` in a child; the child writes its seconds and a count to a pipe.
RunResult InChild(const std::function<long()>& work) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    auto start = Clock::now();
    long count = work();
    double seconds = Seconds(start, Clock::now());
    char line[64];
    int n = std::snprintf(line, sizeof line, "%.6f %ld", seconds, count);
    if (::write(fds[1], line, static_cast<size_t>(n)) < 0) _exit(2);
    _exit(0);
  }
  ::close(fds[1]);
  char line[64] = {};
  ssize_t got = ::read(fds[0], line, sizeof line - 1);
  ::close(fds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  RunResult r;
  if (got > 0) std::sscanf(line, "%lf %ld", &r.seconds, &r.count);
  r.cpu_seconds = CpuSeconds(usage);
  r.peak_kib = usage.ru_maxrss;
  return r;
}

// Runs a shell command (which should `exec` the program measured), with its
// time and the peak memory of the program.
RunResult Timed(const std::string& command) {
  auto start = Clock::now();
  RunResult r;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  r.seconds = Seconds(start, Clock::now());
  r.count = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.cpu_seconds = CpuSeconds(usage);
  r.peak_kib = usage.ru_maxrss;
  return r;
}

Configuration MakeConfig(const std::string& index_folder, const std::string& images) {
  Configuration config;
  IndexDefinition def = NewIndexDefinition("Bench", index_folder).value();
  // No nightly optimization in the middle of a measurement.
  def.optimize_hour = 24;
  def.active = 1;
  def.image_folders[0].path = OfflineFolderOf(index_folder);
  def.image_folders[1].path = images;
  config.indexes.push_back(def);
  return config;
}

// The pipeline from an empty index folder to written lists.
long RunPipeline(const std::string& work, const std::string& images, int readers) {
  FileSystem* fs = DefaultFileSystem();
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work + "/start");
  std::filesystem::create_directories(work + "/index");
  EngineHolder engine(fs);
  if (!engine.WriteFieldCatalogue(work + "/start").ok() || !engine.Start(work + "/start").ok()) {
    return -1;
  }
  TaskEnvironment env;
  env.fs = fs;
  env.start_dir = work + "/start";
  env.list_locks = &ListLocks();
  auto task = std::make_unique<TaskContext>(env);
  task->config = MakeConfig(work + "/index", images);
  PrepareIndexFolders(&task->config, fs, nullptr);
  SetServedFolders(ServedFoldersOf(task->config));  // as the server does
  PipelineOptions options;
  options.engine = &engine;
  options.fs = fs;
  options.document_readers = readers;
  Pipeline pipeline(options);
  pipeline.StartUpIndex(*task, 0);
  return static_cast<long>(task->Locked(0, &task->indexes[0].indexed).Count());
}

// The least any indexer of these files does: find and read the two ends of
// each file, then hand the same documents to the engine.
long RunFloor(const std::vector<std::string>& files, PendingTable* documents,
              const std::string& work) {
  long read = 0;
  std::vector<char> buffer(3000);
  for (const std::string& path : files) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) continue;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    read += ::pread(fd, buffer.data(), 4, 0) == 4;
    off_t tail = std::max<off_t>(0, st.st_size - 3000);
    (void)::pread(fd, buffer.data(), 3000, tail);
    ::close(fd);
  }
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  EngineStartOptions start;
  start.home_folder = work;
  std::unique_ptr<Engine> engine = std::move(Engine::Start(start).value());
  for (size_t first = 0; first < documents->size(); first += kMaxPendingDocuments) {
    PendingTable batch;
    batch.Reset(false);
    for (size_t i = first; i < std::min(documents->size(), first + kMaxPendingDocuments); ++i) {
      const PendingDocument& d = documents->documents()[i];
      batch.Add(d.text, d.file_key, d.time);
    }
    EngineDataSource source = batch.DataSource(nullptr);
    IndexJob job;
    job.index_folder = work + "/engine";
    job.create = true;
    job.add = true;
    job.data_source = &source;
    if (!engine->RunIndexJob(job).ok()) return -1;
  }
  return read;
}

// One vantrel run: its reader count and result.
struct VantrelRun {
  int readers = 1;
  RunResult result;
};

double LoadAverage() {
  double load[1] = {0};
  return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

// A result line: time, rate, peak memory, the load average just after the
// run, and for a peer how many times faster each vantrel run was.
void Report(const std::string& name, const RunResult& r, size_t files,
            const std::vector<VantrelRun>& vantrel) {
  if (r.seconds <= 0) {
    std::printf("%-12s failed\n", name.c_str());
    return;
  }
  std::printf("%-12s %8.2f s  %9.0f files/s  cpu %6.2f s (%5.0f us/file)  peak %7ld KiB  load %.2f",
              name.c_str(), r.seconds, static_cast<double>(files) / r.seconds, r.cpu_seconds,
              r.cpu_seconds * 1e6 / static_cast<double>(files), r.peak_kib, LoadAverage());
  for (const VantrelRun& v : vantrel) {
    if (v.result.seconds > 0) {
      std::printf("  vantrel/%d is %.2fx", v.readers, r.seconds / v.result.seconds);
    }
  }
  std::printf("\n");
}

std::vector<double> MeasureLatency(const std::string& work, const std::string& images, int runs);

}  // namespace

int main(int argc, char** argv) {
  SetUpMemoryAllocator(std::vector<std::string>(argv + 1, argv + argc));  // as the server does
  int files = 20000, folders = 50, latency_runs = 20;
  bool cold = false, keep = false, only_vantrel = false;
  std::string dir;
  std::vector<int> reader_counts = {1, 8};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--files" && i + 1 < argc) files = std::atoi(argv[++i]);
    else if (a == "--folders" && i + 1 < argc) folders = std::max(1, std::atoi(argv[++i]));
    else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--latency-runs" && i + 1 < argc) latency_runs = std::atoi(argv[++i]);
    else if (a == "--cold") cold = true;
    else if (a == "--keep") keep = true;
    else if (a == "--only-vantrel") only_vantrel = true;
    else if (a == "--readers" && i + 1 < argc) {
      reader_counts.clear();
      for (const char* p = argv[++i]; *p != '\0';) {
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (end == p || n < 1 || n > 64) break;
        reader_counts.push_back(static_cast<int>(n));
        p = *end == ',' ? end + 1 : end;
      }
      if (reader_counts.empty()) reader_counts = {1};
    } else {
      std::fprintf(stderr,
                   "usage: indexing_bench [--files N] [--folders F] [--dir FOLDER] [--cold] "
                   "[--latency-runs K] [--keep] [--only-vantrel] [--readers 1,8]\n");
      return 2;
    }
  }
  if (dir.empty()) {
    char pattern[] = "/tmp/vantrel-indexing-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    dir = pattern;
  }
  const std::string images = dir + "/images";
  std::vector<std::string> paths = MakeCorpus(images, files, folders);
  std::printf("corpus: %zu files in %d folders under %s\n", paths.size(), folders, images.c_str());

  // The documents of the floor's engine run, composed outside any timing.
  PendingTable documents;
  documents.Reset(false);
  const auto compose_start = Clock::now();
  for (size_t i = 0; i < paths.size(); ++i) {
    DocumentFile file;
    file.native_path = paths[i];
    file.file_key = "01" + std::to_string(i);
    ComposedDocument doc = ComposeImageDocument(file, DocumentOptions{});
    documents.Add(doc.text, file.file_key, 1);
  }
  const double compose_seconds = Seconds(compose_start, Clock::now());
  std::printf("composing the documents alone: %.2f s (%.0f files/s, warm cache)\n",
              compose_seconds, static_cast<double>(paths.size()) / compose_seconds);

  std::vector<VantrelRun> vantrel;
  for (int readers : reader_counts) {
    if (cold) DropCaches();
    RunResult r = InChild([&] { return RunPipeline(dir + "/work", images, readers); });
    Report("vantrel/" + std::to_string(readers), r, paths.size(), {});
    std::printf("             %ld documents indexed\n", r.count);
    vantrel.push_back(VantrelRun{readers, r});
  }

  if (only_vantrel) {
    if (!keep) std::filesystem::remove_all(dir);
    return 0;
  }
  if (cold) DropCaches();
  RunResult floor = InChild([&] { return RunFloor(paths, &documents, dir + "/floor"); });
  Report("floor", floor, paths.size(), vantrel);

  if (std::system("command -v exiftool > /dev/null 2>&1") == 0) {
    if (cold) DropCaches();
    RunResult exif = Timed("exec env -u GLIBC_TUNABLES exiftool -q -r -IPTC:all -j '" + images +
                           "' > /dev/null 2>&1");
    Report("exiftool", exif, paths.size(), vantrel);
  } else {
    std::printf("exiftool   not installed\n");
  }
  if (std::system("command -v recollindex > /dev/null 2>&1") == 0) {
    // A fresh index each run: a kept one would be brought up to date, and
    // a corpus written once has nothing new.
    std::filesystem::remove_all(dir + "/recoll");
    std::filesystem::create_directories(dir + "/recoll");
    WriteFile(dir + "/recoll/recoll.conf", "topdirs = " + images + "\n");
    if (cold) DropCaches();
    RunResult recoll = Timed("exec env -u GLIBC_TUNABLES recollindex -c '" + dir +
                             "/recoll' > /dev/null 2>&1");
    Report("recoll", recoll, paths.size(), vantrel);
  } else {
    std::printf("recoll     not installed\n");
  }

  if (latency_runs > 0) {
    std::vector<double> l = MeasureLatency(dir + "/server", images, latency_runs);
    if (l.empty()) {
      std::printf("latency: the server did not start or found nothing\n");
    } else {
      std::sort(l.begin(), l.end());
      std::printf("latency, picture written -> found by the engine, %zu runs: median %.3f s, "
                  "max %.3f s\n",
                  l.size(), l[l.size() / 2], l.back());
    }
  }
  if (!keep) std::filesystem::remove_all(dir);
  return 0;
}

namespace {

std::vector<double> MeasureLatency(const std::string& work, const std::string& images, int runs) {
  std::vector<double> result;
  FileSystem* fs = DefaultFileSystem();
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work + "/start");
  std::filesystem::create_directories(work + "/index");
  std::filesystem::create_directories(work + "/reader");
  Configuration config = MakeConfig(work + "/index", images);
  if (!SaveConfiguration(*fs, config, work + "/start/" + names::kConfigurationFile).ok()) {
    return result;
  }
  const std::string log = work + "/server.log";
  const std::string start_dir = work + "/start";  // made before the fork: the child only execs
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    if (::chdir(start_dir.c_str()) != 0) _exit(127);
    ::execl(VANTREL_SERVER_BINARY, VANTREL_SERVER_BINARY, "--no-console", nullptr);
    _exit(127);
  }
  auto ready = [&] {
    StatusOr<std::string> text = fs->ReadFile(log);
    return text.ok() && text->find("Database Process Ready for Search") != std::string::npos;
  };
  auto start = Clock::now();
  while (!ready() && Seconds(start, Clock::now()) < 600) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EngineStartOptions options;
  options.home_folder = work + "/reader";
  std::unique_ptr<Engine> engine = std::move(Engine::Start(options).value());
  const std::string engine_folder = EngineFolderOf(work + "/index");
  for (int i = 0; i < runs && ready(); ++i) {
    std::string word = "latencyword" + std::string(1, static_cast<char>('a' + i % 26)) +
                       std::string(1, static_cast<char>('a' + i / 26 % 26));
    std::string tmp = images + "/folder0/lat" + std::to_string(i) + ".tmp";
    WriteFile(tmp, MakeJpegWithIptc({{2, 120, word}}));
    auto written = Clock::now();
    std::filesystem::rename(tmp, images + "/folder0/lat" + std::to_string(i) + ".jpg");
    bool found = false;
    while (!found && Seconds(written, Clock::now()) < 30) {
      SearchJob job;
      job.query = word;
      job.index_folder = engine_folder;
      job.message_callback = [&](const EngineMessage& m) {
        found = found || m.code == kMessageFoundDocument;
      };
      (void)engine->RunSearchJob(job);
      if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (found) result.push_back(Seconds(written, Clock::now()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  }
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  for (int i = 0; i < runs; ++i) {
    std::filesystem::remove(images + "/folder0/lat" + std::to_string(i) + ".jpg");
  }
  return result;
}

}  // namespace
