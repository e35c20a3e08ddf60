// Fuzz target: the list file reader (TIMELIST, CHARLIST, DIRLIST and hit
// files) on arbitrary bytes. The checks are those of
// tests/core/list_file_fuzz_driver.h, which the test run replays on the kept
// corpus.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/list_file_fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!vantrel::CheckListFileInput(bytes)) __builtin_trap();
  return 0;
}
