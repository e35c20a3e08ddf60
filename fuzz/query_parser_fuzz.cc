// Fuzz target: the engine's query parser and compiler on arbitrary bytes.
// Every input must parse to a tree or an error, and every tree must compile
// and run against a small in-memory database without crashing.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <xapian.h>

#include "engine/char_table.h"
#include "engine/document_indexer.h"
#include "engine/field_catalogue.h"
#include "engine/query_compiler.h"
#include "engine/query_parser.h"

namespace {

struct Fixture {
  vantrel::FieldCatalogue catalogue =
      vantrel::FieldCatalogue::Parse(vantrel::FieldCatalogue::StandardText());
  Xapian::WritableDatabase db{std::string(), Xapian::DB_BACKEND_INMEMORY};
  Fixture() {
    vantrel::DocumentIndexer indexer(vantrel::CharTable::Default(), catalogue);
    db.add_document(indexer.Build("78563412 03Sport\\a.jpg",
                                  " QxQB5002 JPEG ZqZ  QxQ120 Old town harbour ZqZ  QxQ025 boat ZqZ "));
    db.add_document(indexer.Build("88563412 01b.jpg", " xnocap  QxQJ5010 b.jpg ZqZ "));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* f = new Fixture();
  if (size > 4096) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vantrel::ParsedQuery parsed =
      vantrel::ParseQuery(text, vantrel::CharTable::Default(), f->catalogue);
  if ((parsed.root == nullptr) == parsed.error.empty()) __builtin_trap();
  if (!parsed.root) return 0;
  vantrel::CompileSettings settings;
  settings.flags = size > 0 ? data[0] & 0x07 : 0;
  settings.max_edits = settings.flags & 1 ? 2 : 0;
  settings.max_expansion = 100;
  try {
    Xapian::Enquire enquire(f->db);
    enquire.set_query(vantrel::CompileQuery(*parsed.root, f->catalogue, settings, f->db));
    enquire.get_mset(0, 10);
  } catch (const Xapian::Error&) {
    // The engine turns these into an error message for the search.
  }
  return 0;
}
