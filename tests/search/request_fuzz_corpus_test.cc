// Replays every kept input of fuzz/corpus/request_file_fuzz/ through the fuzz
// target's checks, so that seeds and findings run in the ordinary test run
// (and under the sanitizers).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "search/request_fuzz_driver.h"

namespace vantrel {
namespace {

std::filesystem::path CorpusFolder() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" /
         "corpus" / "request_file_fuzz";
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(RequestFuzzCorpus, SeedsAreTheEncodersCurrentOutput) {
  // VANTREL_WRITE_SEEDS=1 rewrites them after a change of the encoders.
  const bool write = std::getenv("VANTREL_WRITE_SEEDS") != nullptr;
  for (const auto& [name, bytes] : RequestFuzzSeeds()) {
    std::filesystem::path path = CorpusFolder() / ("seed_" + name);
    if (write) {
      std::filesystem::create_directories(CorpusFolder());
      std::ofstream(path, std::ios::binary) << bytes;
    }
    EXPECT_EQ(ReadAll(path), bytes) << path;
  }
}

TEST(RequestFuzzCorpus, EveryKeptInputPassesTheChecks) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusFolder())) {
    if (!entry.is_regular_file()) continue;
    std::string bytes = ReadAll(entry.path());
    // An exact-size copy, so that a read past the end is seen by ASan.
    std::unique_ptr<char[]> exact(new char[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    EXPECT_TRUE(CheckRequestFileInput(std::string_view(exact.get(), bytes.size())))
        << entry.path();
    ++files;
  }
  EXPECT_GE(files, 6);
}

TEST(RequestFuzzCorpus, EveryPrefixOfTheSeeds) {
  for (const auto& [name, bytes] : RequestFuzzSeeds()) {
    for (size_t n = 0; n <= bytes.size(); n += (n < 900 ? 1 : 97)) {
      std::unique_ptr<char[]> exact(new char[n + 1]);
      std::copy(bytes.begin(), bytes.begin() + n, exact.get());
      ASSERT_TRUE(CheckRequestFileInput(std::string_view(exact.get(), n))) << name << " " << n;
    }
  }
}

}  // namespace
}  // namespace vantrel
