#include "pdf/pdf_xmp_section.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

TEST(PdfXmpSection, SplitsOffOnlyAWholeSection) {
  const std::string words = "Hafen\r\nK\xF6ln\r\n";
  const std::string section = PdfXmpSection(words);
  EXPECT_EQ(section, "\x1FXMP" + std::to_string(words.size()) + "\x1F" + words);
  const std::string text = section + "Title\r\nwords ";
  PdfTextParts parts = SplitPdfText(text);
  EXPECT_EQ(parts.xmp, words);
  EXPECT_EQ(parts.rest, "Title\r\nwords ");
  parts = SplitPdfText(section);
  EXPECT_EQ(parts.xmp, words);
  EXPECT_EQ(parts.rest, "");
  EXPECT_EQ(PdfXmpSection(""), "");
  EXPECT_EQ(PdfXmpSection(std::string(kPdfXmpTextMax + 10, 'x')).size(),
            kPdfXmpMark.size() + std::to_string(kPdfXmpTextMax).size() + 1 + kPdfXmpTextMax);

  // Anything else is text as it came: no mark, a cut or malformed mark, a
  // length past the end or beyond the largest section.
  for (const std::string& other :
       {std::string("Title\r\nwords "), std::string(""), std::string("\x1FXMP"),
        std::string("\x1FXMP5"), std::string("\x1FXMP\x1Fwords"), std::string("\x1FXMP-1\x1Fwords"),
        std::string("\x1FXMP1x\x1Fwords"), std::string("\x1FXMP6\x1Fwords"),
        std::string("\x1FXMP1234567\x1Fwords"),
        "\x1FXMP" + std::to_string(kPdfXmpTextMax + 1) + "\x1F" + std::string(kPdfXmpTextMax + 1, 'x'),
        std::string(" \x1FXMP1\x1Fw")}) {
    parts = SplitPdfText(other);
    EXPECT_EQ(parts.xmp, "") << other;
    EXPECT_EQ(parts.rest, other);
  }
}

}  // namespace
}  // namespace vantrel
