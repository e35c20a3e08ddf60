// What the XMP and IIM character set fuzz targets run on one input, shared
// by the libFuzzer targets (fuzz/xmp_packet_fuzz.cc, fuzz/iim_charset_fuzz.cc)
// and by the test that replays fuzz/corpus/*.
//
// Thread safety: the drivers keep no state.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

struct XmpFuzzTarget {
  const char* name;  // the fuzz target and its corpus folder
  void (*run)(std::string_view data);
};

const std::vector<XmpFuzzTarget>& XmpFuzzTargets();

// The bytes as a packet, as JPEG/TIFF/EPS data (with Extended XMP joined)
// and as a sidecar's contents.
void FuzzXmpPacket(std::string_view data);
// The bytes as an IIM block and as values in every declared set.
void FuzzIimCharset(std::string_view data);

// Seeds: billion laughs, 10,000-deep nesting, Extended XMP with lying
// offsets, a packet just over the size cap's check, overlong UTF-8, lone
// surrogates and double encodings.
std::vector<std::pair<std::string, std::string>> XmpFuzzSeeds(std::string_view target);

}  // namespace vantrel
