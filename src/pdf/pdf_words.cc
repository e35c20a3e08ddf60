// Putting the text of a PDF together (see pdf_words.h).
#include "pdf/pdf_words.h"

#include <cmath>
#include <limits>

namespace vantrel {

int32_t PdfLinePosition(double y) {
  if (std::isnan(y)) return 0;
  double rounded = std::floor(y + 0.5);
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  if (rounded <= kMin) return std::numeric_limits<int32_t>::min();
  if (rounded >= kMax) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(rounded);
}

bool IsLowerCaseLetter(char32_t c) {
  if (c >= U'a' && c <= U'z') return true;
  if (c < 0x80) return false;
  if (c == 0xB5) return true;                    // micro sign
  if (c >= 0xDF && c <= 0xFF) return c != 0xF7;  // not the division sign
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A: mostly upper/lower pairs, with the parity switching
    // around the few letters that have no pair.
    if (c == 0x138 || c == 0x149 || c == 0x17F) return true;
    if (c >= 0x139 && c <= 0x148) return c % 2 == 0;
    if (c == 0x178) return false;
    if (c >= 0x179 && c <= 0x17E) return c % 2 == 0;
    return c % 2 == 1;
  }
  if (c == 0x192) return true;                                // florin
  if (c == 0x390 || (c >= 0x3AC && c <= 0x3CE)) return true;  // Greek
  if (c >= 0x430 && c <= 0x45F) return true;                  // Cyrillic
  if (c == 0x491) return true;                                // Ukrainian ghe with upturn
  return false;
}

std::string PdfTextAssembler::Convert(std::string_view utf8) const {
  size_t nul = utf8.find('\0');
  if (nul != std::string_view::npos) utf8 = utf8.substr(0, nul);
  std::string text = code_page_.FromUtf8(utf8);
  // The code page may also hold a NUL of its own making; never past it.
  nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  if (text.size() > kMaxPdfWordBytes) text.resize(kMaxPdfWordBytes);
  return text;
}

void PdfTextAssembler::AddInfo(std::string_view utf8) {
  std::string value = Convert(utf8);
  if (value.empty()) return;
  text_ += value;
  text_ += "\r\n";
}

void PdfTextAssembler::AddWord(std::string_view utf8, double y) {
  std::string word = Convert(utf8);
  // An empty word would add a lone blank and nothing to find.
  if (word.empty()) return;
  const bool single = word.size() == 1;
  if (single && IsLowerCaseLetter(code_page_.ToUnicode(static_cast<unsigned char>(word[0])))) {
    return;
  }
  const int32_t position = PdfLinePosition(y);
  text_ += word;
  if (single && line_position_.has_value() && *line_position_ != position) {
    // A single character off the current line (a drop cap) joins the next word.
    line_position_.reset();
    return;
  }
  line_position_ = position;
  text_ += ' ';
}

std::string AssemblePdfText(const PdfContent& content, const CodePage& code_page) {
  PdfTextAssembler assembler(code_page);
  assembler.AddInfo(content.title);
  assembler.AddInfo(content.author);
  assembler.AddInfo(content.creator);
  assembler.AddInfo(content.keywords);
  for (const PdfPage& page : content.pages) {
    for (const PdfWord& word : page.words) assembler.AddWord(word.text, word.y);
  }
  return assembler.TakeText();
}

}  // namespace vantrel
