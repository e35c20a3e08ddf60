// WordSplitter: cuts code-page text into the words the engine indexes.
//
// A word is a maximal run of letters and digits of the code page (see
// CharTable); every other byte separates words. Each word is folded to lower
// case UTF-8. Words longer than kMaxWordChars characters are cut to that
// length, on the indexing and on the query side alike, so that every term
// fits Xapian's term length limit together with a field prefix.
//
// Thread safety: stateless apart from the caller's cursor; one splitter per
// thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/char_table.h"

namespace vantrel {

inline constexpr size_t kMaxWordChars = 64;

class WordSplitter {
 public:
  WordSplitter(const CharTable& table, std::string_view text) : table_(table), text_(text) {}

  // Moves to the next word. Returns false at the end of the text. On success
  // raw() is the word as written (possibly longer than kMaxWordChars) and
  // folded() its lower-case UTF-8 term.
  bool Next() {
    const size_t n = text_.size();
    while (pos_ < n && !table_.IsWordByte(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ >= n) return false;
    size_t start = pos_;
    while (pos_ < n && table_.IsWordByte(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    raw_ = text_.substr(start, pos_ - start);
    folded_.clear();
    table_.AppendFolded(raw_.substr(0, kMaxWordChars), &folded_);
    return true;
  }

  std::string_view raw() const { return raw_; }
  const std::string& folded() const { return folded_; }

 private:
  const CharTable& table_;
  std::string_view text_;
  size_t pos_ = 0;
  std::string_view raw_;
  std::string folded_;
};

}  // namespace vantrel
