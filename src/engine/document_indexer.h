// DocumentIndexer: turns one image document into the Xapian document stored
// for it.
//
// Every word of the text is indexed once, with its position (1, 2, ...),
// marker words and the closing word included. A start marker of the field
// catalogue opens its field; the field's end marker (or the next start
// marker) closes it. A word inside a field is stored as the word followed by
// the field's suffix (kFieldSeparator and the field's number, see
// FieldCatalogue::Field); every other word as the bare word. A search of the whole text takes a word's bare term and all its
// field terms (they sort next to each other, see term_expansion.h); FIELD
// contains (...) takes the field's terms only. Phrases and proximity work in
// both, as all terms carry the positions. Storing each word once keeps the
// index as small and as fast to build as one without fields.
// "xfirstword" stands at position 0 and "xlastword" after the last word.
//
// Stored with each document: value slot kNameSlot holds the document name
// (code-page bytes), kTimeSlot the time stamp from the name (4 bytes, big
// endian, so that it sorts), and the id term (IdTermForName) makes the name
// unique.
//
// Thread safety: an indexer is immutable after construction; Build may be
// called from several threads at once.
#pragma once

#include <string>
#include <string_view>

#include <xapian.h>

#include "engine/char_table.h"
#include "engine/field_catalogue.h"

namespace vantrel {

inline constexpr Xapian::valueno kNameSlot = 0;
inline constexpr Xapian::valueno kTimeSlot = 1;

// The unique id term of a document name: "Q" and the name's UTF-8 text, or
// for names too long for a term "Q#", a hash and the start of the name.
std::string IdTermForName(std::string_view name);

class DocumentIndexer {
 public:
  DocumentIndexer(const CharTable& table, const FieldCatalogue& catalogue)
      : table_(table), catalogue_(catalogue) {}

  // Builds the document for `name` and `text` (both code-page bytes).
  Xapian::Document Build(std::string_view name, std::string_view text) const;

 private:
  const CharTable& table_;
  const FieldCatalogue& catalogue_;
};

}  // namespace vantrel
