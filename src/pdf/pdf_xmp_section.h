// The words of a PDF document's XMP packet travel from the text helper to
// the document builder in front of the rest of the text, marked off so that
// an index that does not read XMP can leave them out:
//
//   US "XMP" <decimal length> US <length bytes of XMP text> <the text as before>
//
// (US is the byte 0x1F.) A PDF without XMP values gets no section, so its
// text is exactly what it was. The section is read back only when it is
// whole: a malformed or cut mark or a length past the end of the text (a
// helper stopped part-way) leaves the text as it came, with nothing split
// off.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

inline constexpr std::string_view kPdfXmpMark = "\x1FXMP";
// The longest section text written (the image document keeps far less).
inline constexpr size_t kPdfXmpTextMax = 64u << 10;

// The section for `xmp_text` (cut to kPdfXmpTextMax); "" for empty text.
std::string PdfXmpSection(std::string_view xmp_text);

struct PdfTextParts {
  std::string_view xmp;   // the XMP words, "" when there is no whole section
  std::string_view rest;  // the information entries and page words
};

// Splits the helper's text. Never reads outside `text`.
PdfTextParts SplitPdfText(std::string_view text);

}  // namespace vantrel
