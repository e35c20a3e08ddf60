// IIM character sets: the 1:90 declaration, UTF-8 read strictly, repaired
// double encoding, and values that stay as they are.
#include "metadata/iim_charset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/iim_codec.h"
#include "support/image_builders.h"

namespace vantrel {
namespace {

const CodePage& Cp1252() {
  static const CodePage cp = CodePage::BuiltInWindows1252();
  return cp;
}

TEST(IimCharset, ValuesInTheCodePage) {
  struct Case {
    const char* name;
    std::string value;
    IimCharset charset;
    std::string expected;
  };
  const std::string cafe_utf8 = "Caf\xC3\xA9";
  const std::vector<Case> cases = {
      {"ASCII never changes", "plain text", IimCharset::kUtf8, "plain text"},
      {"declared UTF-8", cafe_utf8 + " \xE2\x82\xAC \xE4\xB8\xAD", IimCharset::kUtf8,
       "Caf\xE9 \x80 ?"},
      {"undeclared valid multi-byte UTF-8", cafe_utf8, IimCharset::kUndeclared, "Caf\xE9"},
      {"undeclared code-page bytes stay", "Caf\xE9", IimCharset::kUndeclared, "Caf\xE9"},
      {"declared Latin-1", "Caf\xE9", IimCharset::kLatin1, "Caf\xE9"},
      {"other declarations keep the bytes", cafe_utf8, IimCharset::kOther, cafe_utf8},
      {"double-encoded via Latin-1", "Caf\xC3\x83\xC2\xA9", IimCharset::kUndeclared, "Caf\xE9"},
      {"double-encoded via Windows-1252", "\xC3\xA2\xE2\x82\xAC\xC5\xA1", IimCharset::kUtf8,
       "\x82"},  // U+201A, whose UTF-8 E2 80 9A was read as Windows-1252
      {"triple-encoded", "Caf\xC3\x83\xC2\x83\xC3\x82\xC2\xA9", IimCharset::kUndeclared, "Caf\xE9"},
      {"overlong form is not UTF-8", "A\xC1\x81", IimCharset::kUtf8, "A\xC1\x81"},
      {"overlong three-byte form", "\xE0\x80\xAF", IimCharset::kUndeclared, "\xE0\x80\xAF"},
      {"lone surrogate", "x\xED\xA0\x80", IimCharset::kUtf8, "x\xED\xA0\x80"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", IimCharset::kUtf8, "\xF4\x90\x80\x80"},
      {"cut sequence", "Caf\xC3", IimCharset::kUtf8, "Caf\xC3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ConvertIimValue(c.value, c.charset, Cp1252()), c.expected);
  }
}

TEST(IimCharset, DeclarationIsReadFromTheEnvelopeRecord) {
  auto block = [](std::string charset) {
    return MakeIptcBlock({{1, 90, charset}, {2, 120, "x"}}, false);
  };
  EXPECT_EQ(DeclaredIimCharset(block("\x1b%G")), IimCharset::kUtf8);
  EXPECT_EQ(DeclaredIimCharset(block("\x1b.A")), IimCharset::kLatin1);
  EXPECT_EQ(DeclaredIimCharset(block("\x1b-A")), IimCharset::kLatin1);
  EXPECT_EQ(DeclaredIimCharset(block("\x1b(B")), IimCharset::kOther);
  EXPECT_EQ(DeclaredIimCharset(MakeIptcBlock({{2, 120, "x"}, {1, 90, "\x1b%G"}}, false)),
            IimCharset::kUndeclared);
  EXPECT_EQ(DeclaredResourceCharset(MakeIptcResources(block("\x1b%G"))), IimCharset::kUtf8);
  EXPECT_EQ(DeclaredResourceCharset(""), IimCharset::kUndeclared);
}

TEST(IimCharset, BlockKeepsItsOrderAndUnchangedDatasets) {
  CaptionRecord record;
  record.iptc = MakeIptcBlock({{2, 120, "Caf\xC3\xA9"}, {2, 25, "plain"}, {2, 25, "\xC3\xBC"}});
  record.iptc += std::string("\0tail", 5);  // bytes behind the last dataset stay
  ConvertIimCharset(record, IimCharset::kUndeclared, Cp1252());
  std::string expected =
      MakeIptcBlock({{2, 120, "Caf\xE9"}, {2, 25, "plain"}, {2, 25, "\xFC"}}) + std::string("\0tail", 5);
  EXPECT_EQ(record.iptc, expected);
}

}  // namespace
}  // namespace vantrel
