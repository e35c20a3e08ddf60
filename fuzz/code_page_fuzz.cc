// Fuzz target: names from disk (any bytes, meant to be UTF-8) into the
// Windows-1252 key form. One output byte per character or bad byte, never
// more, and "lossy" means exactly that converting back does not give the
// name again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/code_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  static const vantrel::CodePage cp = vantrel::CodePage::BuiltInWindows1252();
  const std::string in(reinterpret_cast<const char*>(data), size);
  bool lossy = false;
  const std::string out = cp.FromUtf8(in, &lossy);
  if (out.size() > in.size()) __builtin_trap();
  if (lossy != (cp.ToUtf8(out) != in)) __builtin_trap();
  return 0;
}
