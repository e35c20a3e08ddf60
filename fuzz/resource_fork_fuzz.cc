// libFuzzer target: resource fork reader over arbitrary bytes (see
// tests/support/mac_fuzz_drivers.h).
#include <cstddef>
#include <cstdint>

#include "support/mac_fuzz_drivers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrel::mac_test::FuzzResourceFork({reinterpret_cast<const char*>(data), size});
  return 0;
}
