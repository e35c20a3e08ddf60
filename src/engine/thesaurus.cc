#include "engine/thesaurus.h"

#include "engine/word_splitter.h"

namespace vantrel {
namespace {
constexpr size_t kMaxEntriesPerGroup = 64;
}  // namespace

Thesaurus Thesaurus::Parse(std::string_view text, const CharTable& table) {
  Thesaurus th;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#' || line[first] == ';') continue;

    std::vector<Entry> group;
    size_t c = 0;
    while (c <= line.size() && group.size() < kMaxEntriesPerGroup) {
      size_t comma = line.find(',', c);
      std::string_view piece =
          line.substr(c, comma == std::string_view::npos ? line.npos : comma - c);
      Entry entry;
      WordSplitter words(table, piece);
      while (words.Next()) entry.push_back(words.folded());
      if (!entry.empty()) group.push_back(std::move(entry));
      if (comma == std::string_view::npos) break;
      c = comma + 1;
    }
    if (group.size() < 2) continue;
    size_t id = th.groups_.size();
    for (const Entry& e : group) {
      if (e.size() == 1) {
        std::vector<size_t>& ids = th.by_word_[e[0]];
        if (ids.empty() || ids.back() != id) ids.push_back(id);
      }
    }
    th.groups_.push_back(std::move(group));
  }
  return th;
}

std::vector<Thesaurus::Entry> Thesaurus::SynonymsOf(const std::string& word) const {
  std::vector<Entry> out;
  auto it = by_word_.find(word);
  if (it == by_word_.end()) return out;
  for (size_t id : it->second) {
    for (const Entry& e : groups_[id]) {
      if (e.size() == 1 && e[0] == word) continue;
      bool seen = false;
      for (const Entry& o : out) seen = seen || o == e;
      if (!seen) out.push_back(e);
    }
  }
  return out;
}

}  // namespace vantrel
