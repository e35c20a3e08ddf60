// Replays every file of fuzz/corpus/<target>/ through the driver of its fuzz
// target, so that seeds and kept findings are checked in the ordinary run
// (under the sanitizer build too).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "support/metadata_fuzz_drivers.h"

namespace vantrel {
namespace {

std::filesystem::path CorpusRoot() {
  // tests/metadata/<this file> -> <source>/fuzz/corpus
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" /
         "corpus";
}

TEST(FuzzCorpusReplay, EveryKeptInputRunsCleanly) {
  for (const MetadataFuzzTarget& target : MetadataFuzzTargets()) {
    SCOPED_TRACE(target.name);
    std::filesystem::path folder = CorpusRoot() / target.name;
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      // An exact-size heap copy, so that a read past the end is seen by ASan.
      std::unique_ptr<char[]> exact(new char[bytes.size() + 1]);
      std::copy(bytes.begin(), bytes.end(), exact.get());
      target.run(std::string_view(exact.get(), bytes.size()));
      ++files;
    }
    EXPECT_GT(files, 0) << "no corpus for " << target.name;
  }
}

TEST(FuzzCorpusReplay, SeedsAreTheBuildersCurrentOutput) {
  // The kept seeds are what the builders make now (regenerate them with
  // make_metadata_corpus when the builders change).
  for (const MetadataFuzzTarget& target : MetadataFuzzTargets()) {
    for (const auto& [name, bytes] : MetadataFuzzSeeds(target.name)) {
      std::ifstream in(CorpusRoot() / target.name / ("seed_" + name), std::ios::binary);
      std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(kept, bytes) << target.name << "/seed_" << name;
    }
  }
}

}  // namespace
}  // namespace vantrel
