// libFuzzer target: counting what a PDF's Flate streams inflate to, over
// arbitrary bytes, with a small cap and with none to speak of; and the same
// bytes as the text helper's output, split into its XMP section and the rest.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pdf/pdf_inflate_budget.h"
#include "pdf/pdf_xmp_section.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const uint64_t small = vantrel::InflatedStreamBytes(bytes, 4096);
  if (small > 4097) __builtin_trap();
  const uint64_t large = vantrel::InflatedStreamBytes(bytes, uint64_t{64} << 20);
  // A larger cap never counts less.
  if (large < small && small <= 4096) __builtin_trap();
  // The parts lie inside the text, the rest at its end.
  const vantrel::PdfTextParts parts = vantrel::SplitPdfText(bytes);
  if (parts.xmp.size() + parts.rest.size() > size) __builtin_trap();
  if (parts.rest.data() + parts.rest.size() != bytes.data() + bytes.size()) __builtin_trap();
  return 0;
}
