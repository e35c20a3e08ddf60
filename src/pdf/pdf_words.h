// The text of a PDF document as it enters the image document: the document
// information entries, then the words of every page, put together by the
// rules below from what the PDF reader delivered.
//
//  - "Title", "Author", "Creator", "Keywords" (in this order): each present
//    (non-empty) value followed by CR LF;
//  - then every word of every page in order, each followed by one blank, with
//    two exceptions:
//      * a word that is one lower-case letter is left out;
//      * a word of one character whose line position differs from the
//        remembered one (a drop cap, a single capital starting a new line)
//        gets no blank after it, so it joins the next word, and the line
//        position is forgotten; otherwise every appended word sets the line
//        position.
//    The line position is the word's vertical position rounded to a whole
//    number (halves round up), and stays across page boundaries.
// All text is converted from UTF-8 to the code page; a value or word is cut at
// a NUL byte and then to 255 bytes.
//
// Thread safety: plain values and pure functions; a PdfTextAssembler belongs
// to one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"

namespace vantrel {

// The longest information value or word that enters the text, in bytes.
inline constexpr size_t kMaxPdfWordBytes = 255;

struct PdfWord {
  std::string text;  // UTF-8
  double y = 0;      // vertical position on the page, in points
};

struct PdfPage {
  std::vector<PdfWord> words;  // in reading order
};

// What the reader found in one PDF. All strings are UTF-8; empty means absent.
struct PdfContent {
  std::string title;
  std::string author;
  std::string creator;
  std::string keywords;
  std::vector<PdfPage> pages;
};

// The line position of a vertical position: floor(y + 0.5), clamped to the
// range of int32 (as the fixed-point coordinates it stands for); NaN gives 0.
int32_t PdfLinePosition(double y);

// True when `c` is a lower-case letter (the letters that a single-byte code
// page can hold: Latin, Greek and Cyrillic).
bool IsLowerCaseLetter(char32_t c);

// Builds the text incrementally, so a reader can stop at any point and keep
// what it has.
class PdfTextAssembler {
 public:
  explicit PdfTextAssembler(const CodePage& code_page) : code_page_(code_page) {}

  // Appends an information value (UTF-8) and CR LF, when it is not empty.
  void AddInfo(std::string_view utf8);
  // Appends a word (UTF-8) at vertical position `y` by the rules above.
  void AddWord(std::string_view utf8, double y);

  const std::string& text() const { return text_; }
  std::string TakeText() { return std::move(text_); }

 private:
  // Code-page form of `utf8`, cut at a NUL and to kMaxPdfWordBytes.
  std::string Convert(std::string_view utf8) const;

  const CodePage& code_page_;
  std::string text_;
  std::optional<int32_t> line_position_;
};

// The whole text of `content` in `code_page`.
std::string AssemblePdfText(const PdfContent& content, const CodePage& code_page);

}  // namespace vantrel
