// Fuzz target: the request file decoders (search, query and no-op requests),
// the re-encoding of what they decode, the query translation and the name
// checks, on arbitrary bytes. The checks are those of
// tests/search/request_fuzz_driver.h, which the test run replays on the kept
// corpus.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "search/request_fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!vantrel::CheckRequestFileInput(bytes)) __builtin_trap();
  return 0;
}
