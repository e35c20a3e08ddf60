// What each metadata fuzz target runs on one input, shared by the libFuzzer
// targets in fuzz/ and by the ordinary test that replays fuzz/corpus/*, so
// that every finding kept in the corpus is checked in every test run.
//
// Each driver feeds the bytes to the readers of outside data; they must not
// crash, hang, or read outside the buffer (run under ASan to see the last).
//
// Thread safety: the drivers keep no state.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

struct MetadataFuzzTarget {
  const char* name;  // the fuzz target and its corpus folder, e.g. "tiff_reader_fuzz"
  void (*run)(std::string_view data);
};

const std::vector<MetadataFuzzTarget>& MetadataFuzzTargets();

void FuzzIimWalks(std::string_view data);
void FuzzLocateRecordRun(std::string_view data);
void FuzzInstallIptcBlock(std::string_view data);
void FuzzPhotoshopReader(std::string_view data);
void FuzzEpsReader(std::string_view data);
void FuzzTiffReader(std::string_view data);
void FuzzTrailerReader(std::string_view data);
// Picture headers (JPEG, TIFF/EXIF, PNG, WebP, EPS) over the bytes, whole
// and through a growing window.
void FuzzImageHeader(std::string_view data);
// The PNG and WebP chunk walks, their XMP packets and the raw iptc profile.
void FuzzPngChunks(std::string_view data);

// Seed inputs for a target, made by the image builders: (file name, bytes).
std::vector<std::pair<std::string, std::string>> MetadataFuzzSeeds(std::string_view target);

}  // namespace vantrel
