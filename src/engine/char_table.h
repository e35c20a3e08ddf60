// CharTable: how the engine reads single-byte code-page text.
//
// Documents and queries arrive as single-byte text in the server's code page
// (Windows-1252 unless configured otherwise). The engine decides per byte
// whether it is part of a word (a letter or a digit of the code page, accented
// letters included) and folds it to lower case, producing the UTF-8 text that
// Xapian stores. Indexing and querying use the same table, so "Éclair",
// "ÉCLAIR" and "éclair" are one term.
//
// Thread safety: a CharTable is immutable after construction; any number of
// threads may read it at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vantrel {

class CharTable {
 public:
  // Windows-1252.
  CharTable();

  // Built from the Unicode code point of every byte (0 for bytes the code
  // page does not define; those never belong to a word).
  explicit CharTable(const std::array<char32_t, 256>& code_points);

  // Built from a converter that turns single-byte text into UTF-8 (for
  // example the server's code-page converter). Bytes that convert to nothing
  // or to more than one character are treated as undefined.
  static CharTable FromConverter(const std::function<std::string(std::string_view)>& to_utf8);

  // The table shared by the engine: the server's code page
  // (CodePage::Default(), Windows-1252 unless configured otherwise).
  static const CharTable& Default();

  bool IsWordByte(unsigned char c) const { return word_[c]; }
  // UTF-8 text of the byte folded to lower case (empty for non-word bytes).
  std::string_view FoldedUtf8(unsigned char c) const { return folded_[c]; }
  bool IsDigitByte(unsigned char c) const { return c >= '0' && c <= '9'; }

  // Folds a run of bytes into UTF-8, keeping only word bytes.
  void AppendFolded(std::string_view text, std::string* out) const;

 private:
  std::array<bool, 256> word_{};
  std::array<std::string, 256> folded_{};
};

}  // namespace vantrel
