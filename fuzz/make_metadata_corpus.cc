// Writes the seed inputs of the metadata fuzz targets, made by the image
// builders, into <folder>/<target>/seed_<name>. Run once after the builders
// change: make_metadata_corpus fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/metadata_fuzz_drivers.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  int written = 0;
  for (const vantrel::MetadataFuzzTarget& t : vantrel::MetadataFuzzTargets()) {
    std::filesystem::path folder = std::filesystem::path(argv[1]) / t.name;
    std::filesystem::create_directories(folder);
    for (const auto& [name, bytes] : vantrel::MetadataFuzzSeeds(t.name)) {
      std::ofstream out(folder / ("seed_" + name), std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
        return 1;
      }
      ++written;
    }
  }
  std::printf("%d seeds written\n", written);
  return 0;
}
