// Thesaurus: synonym groups for synonym searches, read from THESAUR.DAT in the
// engine's home folder.
//
// Format (plain text in the server's code page): one group per line, its
// entries separated by commas; an entry is one word or several words (a
// phrase). Letter case does not matter. Lines starting with '#' or ';' and
// empty lines are ignored. A word of a query that is an entry of a group also
// finds every other entry of that group:
//
//   # picture words
//   photo, photograph, picture, snapshot
//   car, automobile, motor car
//
// Limits: at most 16 MiB are read, at most 64 entries per group; further
// entries of a line are ignored.
//
// Thread safety: immutable after construction; shared freely.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/char_table.h"

namespace vantrel {

class Thesaurus {
 public:
  // One entry: its words folded to lower-case UTF-8 (one word, or a phrase).
  using Entry = std::vector<std::string>;

  Thesaurus() = default;
  static Thesaurus Parse(std::string_view text, const CharTable& table);

  bool empty() const { return groups_.empty(); }
  // Entries that are synonyms of the folded word `word` (itself excluded).
  std::vector<Entry> SynonymsOf(const std::string& word) const;

 private:
  std::vector<std::vector<Entry>> groups_;
  std::unordered_map<std::string, std::vector<size_t>> by_word_;
};

inline constexpr size_t kMaxThesaurusBytes = 16u << 20;

}  // namespace vantrel
