// Browse list benchmark: 1,000,000 entries with realistic file keys.
//
// Measures adding in random order, re-sorting into each order, saving and
// loading a TIMELIST file, look-ups, and the memory the list takes per entry.
// Usage: browse_list_bench [entries] [folder for the list file]
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "archive_keys.h"
#include "core/browse_list.h"
#include "core/list_file.h"
#include "platform/file_system.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A start point for both clocks: the machine may be busy with other work, so
// every figure is printed as CPU time of this process and as wall time.
struct Start {
  Clock::time_point wall = Clock::now();
  double cpu = CpuNow();
};

double WallSeconds(const Start& s) {
  return std::chrono::duration<double>(Clock::now() - s.wall).count();
}
double CpuSeconds(const Start& s) { return CpuNow() - s.cpu; }

// "cpu X s, wall Y s" for the figures below.
std::string Both(const Start& s) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "cpu %.3f s, wall %.3f s", CpuSeconds(s), WallSeconds(s));
  return buf;
}

// Bytes allocated: small blocks plus blocks served by mmap.
size_t HeapInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

using Key = vantrel::bench::TimedKey;

std::vector<Key> MakeKeys(size_t n, std::mt19937& rng) {
  std::vector<Key> keys;
  keys.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    std::string name = vantrel::bench::ArchiveFileKey(rng, i, 6);
    // Time stamps over about ten years, with many equal stamps.
    keys.push_back({std::move(name), static_cast<uint32_t>(3'600'000'000u + rng() % 315'000'000u)});
  }
  return keys;
}

void Fail(const char* what, const vantrel::Status& s) {
  std::fprintf(stderr, "%s: %s\n", what, s.ToString().c_str());
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vantrel;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1'000'000;
  const std::string folder = argc > 2 ? argv[2] : "/tmp";
  const std::string path =
      folder + "/browse_list_bench." + std::to_string(::getpid()) + ".TIMELIST";
  FileSystem* fs = DefaultFileSystem();
  std::mt19937 rng(2024);
  std::vector<Key> keys = MakeKeys(n, rng);
  size_t key_bytes = 0;
  for (const Key& k : keys) key_bytes += k.name.size();
  std::printf("entries: %zu, average key length %.1f bytes\n", n,
              static_cast<double>(key_bytes) / static_cast<double>(n));
  std::shuffle(keys.begin(), keys.end(), rng);

  // Adding in random order, into a time-ordered and a name-ordered list.
  size_t heap_before = HeapInUse();
  BrowseList timelist;
  if (!timelist.SetOrder(kOrderTime).ok()) return 1;
  Start t0;
  for (const Key& k : keys) {
    Status s = timelist.Add(k.name, k.time, 0x4A504547, kNoExtra);
    if (!s.ok()) Fail("add", s);
  }
  std::printf("add %zu, time order, random arrival: %s (%.2f us cpu per add)\n", n,
              Both(t0).c_str(), CpuSeconds(t0) * 1e6 / static_cast<double>(n));
  size_t heap_after = HeapInUse();
  std::printf("memory: %.1f bytes per entry (heap in use, mallinfo2); list's own count %.1f\n",
              static_cast<double>(heap_after - heap_before) / static_cast<double>(n),
              static_cast<double>(timelist.MemoryBytes()) / static_cast<double>(n));

  BrowseList charlist;
  if (!charlist.SetOrder(kOrderName).ok()) return 1;
  t0 = Start();
  for (const Key& k : keys) {
    Status s = charlist.Add(k.name, k.time, 0x4A504547, kNoExtra);
    if (!s.ok()) Fail("add", s);
  }
  std::printf("add %zu, name order, random arrival: %s\n", n, Both(t0).c_str());

  // Re-sorting.
  for (int order : {kOrderName, kOrderSortKey, kOrderTime}) {
    t0 = Start();
    if (!timelist.SetOrder(order).ok()) return 1;
    std::printf("set order %d (from the one before): %s\n", order, Both(t0).c_str());
  }

  // Saving and loading the TIMELIST file.
  t0 = Start();
  Status saved = SaveListFileAtomic(timelist, fs, path, {});
  if (!saved.ok()) Fail("save", saved);
  StatusOr<FileInfo> info = fs->Stat(path);
  if (!info.ok()) Fail("stat", info.status());
  uint64_t file_size = info->size;
  std::printf("save TIMELIST (temp file, sync, rename): %s, %.1f MB\n", Both(t0).c_str(),
              static_cast<double>(file_size) / 1e6);
  t0 = Start();
  std::string encoded = EncodeListFile(timelist, {});
  std::printf("encode TIMELIST in memory (no disk): %s\n", Both(t0).c_str());
  encoded.clear();
  encoded.shrink_to_fit();

  BrowseList loaded;
  if (!loaded.SetOrder(kOrderTime).ok()) return 1;
  t0 = Start();
  Status load = LoadListFile(fs, path, false, &loaded);
  if (!load.ok()) Fail("load", load);
  std::printf("load TIMELIST into a time-ordered list: %s (%zu entries)\n", Both(t0).c_str(),
              loaded.Count());
  BrowseList unordered;
  t0 = Start();
  load = LoadListFile(fs, path, false, &unordered);
  if (!load.ok()) Fail("load", load);
  std::printf("load TIMELIST into a list without order (sorts by name): %s\n", Both(t0).c_str());
  unordered.Release();
  loaded.Release();

  // Look-ups with random keys.
  std::vector<const Key*> probes;
  probes.reserve(n);
  for (size_t i = 0; i < n; ++i) probes.push_back(&keys[rng() % keys.size()]);
  struct LookupCase {
    const char* what;
    BrowseList* list;
    bool with_time;
  } cases[] = {{"TIMELIST, name and time", &timelist, true},
               {"CHARLIST, name and time", &charlist, true},
               {"CHARLIST, name alone", &charlist, false}};
  for (const LookupCase& c : cases) {
    size_t found = 0;
    t0 = Start();
    for (const Key* k : probes) found += c.list->Lookup(k->name, c.with_time ? k->time : 0).has_value();
    std::printf("look-up in %s: %.3f us cpu each (%s for %zu), %zu found\n", c.what,
                CpuSeconds(t0) * 1e6 / static_cast<double>(n), Both(t0).c_str(), n, found);
  }

  // Walking by position (the date search walks TIMELIST this way).
  t0 = Start();
  uint64_t sum = 0;
  for (size_t i = 0; i < timelist.Count(); ++i) sum += timelist.ViewAt(i)->time;
  std::printf("walk TIMELIST by position: %s (checksum %llu)\n", Both(t0).c_str(),
              static_cast<unsigned long long>(sum % 1000));

  // Removing half of the files, CHARLIST first for the time stamp.
  t0 = Start();
  for (size_t i = 0; i < n / 2; ++i) {
    std::optional<uint32_t> old_time = charlist.Remove(keys[i].name, 0);
    if (!old_time || !timelist.Remove(keys[i].name, *old_time)) {
      std::fprintf(stderr, "remove failed\n");
      return 1;
    }
  }
  std::printf("remove %zu files from CHARLIST and TIMELIST: %s\n", n / 2, Both(t0).c_str());
  fs->DeleteFile(path).IgnoreError();
  return 0;
}
