// DocumentIndexer: turns one image document into the Xapian document stored
// for it.
//
// Every word of the text is indexed with its position (1, 2, ...), marker
// words and the closing word included, so each stays searchable in the whole
// text. A start marker of the field catalogue opens its field; the field's
// end marker (or the next start marker) closes it. Each word inside a field
// is indexed a second time, at the same position, with the field's prefix, so
// FIELD contains (...) finds words, phrases and proximity within the field.
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
