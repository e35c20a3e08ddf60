#include "engine/document_indexer.h"

#include <cstdint>
#include <cstdio>

#include "engine/document_name.h"
#include "engine/query_compiler.h"
#include "engine/word_splitter.h"
#include "platform/code_page.h"

namespace vantrel {
namespace {

constexpr size_t kMaxIdTermBytes = 200;

uint64_t Fnv1a(std::string_view s, uint64_t seed) {
  uint64_t h = seed;
  for (char c : s) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

std::string TimeValue(uint32_t t) {
  std::string v(4, '\0');
  v[0] = static_cast<char>(t >> 24);
  v[1] = static_cast<char>(t >> 16);
  v[2] = static_cast<char>(t >> 8);
  v[3] = static_cast<char>(t);
  return v;
}

}  // namespace

std::string IdTermForName(std::string_view name) {
  // Every byte is kept: names differ in letter case and punctuation too.
  std::string utf8;
  utf8.reserve(name.size() + 1);
  utf8.push_back('Q');
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      utf8.push_back(ch);
    } else {
      AppendUtf8(c, &utf8);  // a stable byte-wise spelling, not a conversion
    }
  }
  if (utf8.size() <= kMaxIdTermBytes) return utf8;
  char hash[40];
  std::snprintf(hash, sizeof hash, "Q#%016llx%016llx",
                static_cast<unsigned long long>(Fnv1a(name, 1469598103934665603ull)),
                static_cast<unsigned long long>(Fnv1a(name, 0x9E3779B97F4A7C15ull)));
  std::string term = hash;
  term.append(utf8, 1, kMaxIdTermBytes - term.size());
  // Do not end inside a UTF-8 sequence.
  while (!term.empty() && (static_cast<unsigned char>(term.back()) & 0xC0) == 0xC0) term.pop_back();
  return term;
}

Xapian::Document DocumentIndexer::Build(std::string_view name, std::string_view text) const {
  Xapian::Document doc;
  doc.add_value(kNameSlot, std::string(name));
  std::optional<DecodedDocumentName> decoded = DecodeDocumentName(name);
  doc.add_value(kTimeSlot, TimeValue(decoded ? decoded->time_stamp : 0));
  doc.add_boolean_term(IdTermForName(name));

  doc.add_posting(kFirstWordTerm, 0);
  Xapian::termpos pos = 0;
  const FieldCatalogue::Marker* open = nullptr;
  std::string field_term;
  WordSplitter words(table_, text);
  while (words.Next()) {
    ++pos;
    const std::string& term = words.folded();
    std::string_view raw = words.raw();
    if (const FieldCatalogue::Marker* m = catalogue_.FindStartMarker(raw)) {
      open = m;
    } else if (open != nullptr && raw == open->end) {
      open = nullptr;
    } else if (open != nullptr) {
      // A word inside a field is stored once, as the field's term.
      field_term.assign(term);
      field_term.append(catalogue_.fields()[open->field].suffix);
      doc.add_posting(field_term, pos);
      continue;
    }
    doc.add_posting(term, pos);
  }
  doc.add_posting(kLastWordTerm, pos + 1);
  return doc;
}

}  // namespace vantrel
