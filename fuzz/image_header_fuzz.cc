// libFuzzer target: image header readers over arbitrary bytes (see tests/support/metadata_fuzz_drivers.h).
#include <cstddef>
#include <cstdint>

#include "support/metadata_fuzz_drivers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrel::FuzzImageHeader({reinterpret_cast<const char*>(data), size});
  return 0;
}
