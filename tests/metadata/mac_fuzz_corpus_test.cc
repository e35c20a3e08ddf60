// Replays every file of fuzz/corpus/<target>/ of the Macintosh stream fuzz
// targets through their drivers, so that seeds and kept findings run in the
// ordinary test run (and under the sanitizer build).
//
// The seeds are the builders' output. After a builder changes, rewrite them:
//   VANTREL_WRITE_MAC_SEEDS=1 vantrel_metadata_tests --gtest_filter='MacFuzzCorpus*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "support/mac_fuzz_drivers.h"

namespace vantrel {
namespace {

std::filesystem::path CorpusRoot() {
  // tests/metadata/<this file> -> <source>/fuzz/corpus
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" /
         "corpus";
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(MacFuzzCorpus, SeedsAreTheBuildersCurrentOutput) {
  const bool write = std::getenv("VANTREL_WRITE_MAC_SEEDS") != nullptr;
  for (const mac_test::MacFuzzTarget& target : mac_test::MacFuzzTargets()) {
    std::filesystem::path folder = CorpusRoot() / target.name;
    auto seeds = mac_test::MacFuzzSeeds(target.name);
    EXPECT_FALSE(seeds.empty()) << target.name;
    for (const auto& [name, bytes] : seeds) {
      std::filesystem::path file = folder / ("seed_" + name);
      if (write) {
        std::filesystem::create_directories(folder);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
      }
      EXPECT_EQ(ReadAll(file), bytes) << file;
    }
  }
}

TEST(MacFuzzCorpus, EveryKeptInputRunsCleanly) {
  for (const mac_test::MacFuzzTarget& target : mac_test::MacFuzzTargets()) {
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

}  // namespace
}  // namespace vantrel
