// Fuzz target: the console's JPEG preview maker (libjpeg's decoder behind its
// error manager, the scaled decoding, the box filter and the encoder) on
// arbitrary bytes. Every input must end in an error Status or a whole
// preview JPEG of at most 160 pixels a side; never in a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "console/preview_test_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!vantrel::CheckPreviewJpegInput(bytes)) __builtin_trap();
  return 0;
}
