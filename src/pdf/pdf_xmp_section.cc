#include "pdf/pdf_xmp_section.h"

#include <charconv>

namespace vantrel {
namespace {

constexpr char kUnitSeparator = '\x1F';
// Digits of a length up to kPdfXmpTextMax.
constexpr size_t kMaxLengthDigits = 6;

}  // namespace

std::string PdfXmpSection(std::string_view xmp_text) {
  if (xmp_text.empty()) return "";
  xmp_text = xmp_text.substr(0, kPdfXmpTextMax);
  std::string out(kPdfXmpMark);
  out += std::to_string(xmp_text.size());
  out += kUnitSeparator;
  out += xmp_text;
  return out;
}

PdfTextParts SplitPdfText(std::string_view text) {
  const PdfTextParts whole{{}, text};
  if (text.substr(0, kPdfXmpMark.size()) != kPdfXmpMark) return whole;
  const std::string_view after = text.substr(kPdfXmpMark.size());
  const size_t end = after.find(kUnitSeparator);
  if (end == std::string_view::npos || end == 0 || end > kMaxLengthDigits) return whole;
  size_t length = 0;
  const char* first = after.data();
  auto [ptr, ec] = std::from_chars(first, first + end, length);
  if (ec != std::errc() || ptr != first + end || length > kPdfXmpTextMax) return whole;
  const std::string_view body = after.substr(end + 1);
  if (length > body.size()) return whole;
  return PdfTextParts{body.substr(0, length), body.substr(length)};
}

}  // namespace vantrel
