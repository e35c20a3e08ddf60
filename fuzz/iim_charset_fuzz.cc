// libFuzzer target: iim charset over arbitrary bytes (see tests/support/xmp_fuzz_drivers.h).
#include <cstddef>
#include <cstdint>

#include "support/xmp_fuzz_drivers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrel::FuzzIimCharset({reinterpret_cast<const char*>(data), size});
  return 0;
}
