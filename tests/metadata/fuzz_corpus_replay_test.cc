// Replays every file of fuzz/corpus/<target>/ of the metadata and Macintosh
// stream fuzz targets through their drivers, so that seeds and kept findings
// are checked in the ordinary run (under the sanitizer build too), and checks
// that the kept seeds are the builders' current output.
//
// After a builder changes, rewrite the Macintosh and XMP seeds with
//   VANTREL_WRITE_MAC_SEEDS=1 vantrel_metadata_tests --gtest_filter='FuzzCorpus*'
// and the metadata seeds with make_metadata_corpus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/mac_fuzz_drivers.h"
#include "support/metadata_fuzz_drivers.h"
#include "support/xmp_fuzz_drivers.h"

namespace vantrel {
namespace {

struct Target {
  std::string name;
  void (*run)(std::string_view data);
  std::vector<std::pair<std::string, std::string>> seeds;
  bool written_here;  // VANTREL_WRITE_MAC_SEEDS rewrites its seeds
};

std::vector<Target> AllTargets() {
  std::vector<Target> all;
  for (const MetadataFuzzTarget& t : MetadataFuzzTargets()) {
    all.push_back({t.name, t.run, MetadataFuzzSeeds(t.name), false});
  }
  for (const mac_test::MacFuzzTarget& t : mac_test::MacFuzzTargets()) {
    all.push_back({t.name, t.run, mac_test::MacFuzzSeeds(t.name), true});
  }
  for (const XmpFuzzTarget& t : XmpFuzzTargets()) {
    all.push_back({t.name, t.run, XmpFuzzSeeds(t.name), true});
  }
  return all;
}

std::filesystem::path CorpusRoot() {
  // tests/metadata/<this file> -> <source>/fuzz/corpus
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" /
         "corpus";
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(FuzzCorpus, EveryKeptInputRunsCleanly) {
  for (const Target& target : AllTargets()) {
    SCOPED_TRACE(target.name);
    std::filesystem::path folder = CorpusRoot() / target.name;
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      std::string bytes = ReadAll(entry.path());
      // An exact-size heap copy, so that a read past the end is seen by ASan.
      std::unique_ptr<char[]> exact(new char[bytes.size() + 1]);
      std::copy(bytes.begin(), bytes.end(), exact.get());
      target.run(std::string_view(exact.get(), bytes.size()));
      ++files;
    }
    EXPECT_GT(files, 0);
  }
}

TEST(FuzzCorpus, SeedsAreTheBuildersCurrentOutput) {
  const bool write_mac = std::getenv("VANTREL_WRITE_MAC_SEEDS") != nullptr;
  for (const Target& target : AllTargets()) {
    const bool write = write_mac && target.written_here;
    for (const auto& [name, bytes] : target.seeds) {
      std::filesystem::path file = CorpusRoot() / target.name / ("seed_" + name);
      if (write) std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
      EXPECT_EQ(ReadAll(file), bytes) << file;
    }
  }
}

}  // namespace
}  // namespace vantrel
