// FieldCatalogue: the named fields of image documents, read from the field
// catalogue file ("Fields.Dat" in the engine's home folder).
//
// Each line of the file is "NAME,START,END,..." (further columns are
// ignored): a field NAME is the text between the start marker word START and
// the end marker word END. Several lines may give the same name with
// different start markers; they form one field. Lines that do not have three
// non-empty columns, or whose name is not a plain word of ASCII letters and
// digits, are skipped. The file written by the server has 272 lines: IPTC000
// to IPTC255 (markers QxQ000..QxQ255) and the sixteen ZRV fields.
//
// Thread safety: immutable after construction; shared freely between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// Separates a word from its field name in a term. It sorts below every byte
// of a word, so a word's field terms follow the word's whole-text term.
inline constexpr char kFieldSeparator = '\x1F';

class FieldCatalogue {
 public:
  struct Field {
    std::string name;    // upper case, as queries name it
    // Appended to the field's words to form their terms: kFieldSeparator and
    // two characters numbering the field in the catalogue ("harbour\x1F1y").
    std::string suffix;
  };
  struct Marker {
    uint32_t field;
    std::string end;  // the end marker word closing this field
  };

  FieldCatalogue() = default;

  // Parses the catalogue text. Never fails; unusable lines are skipped.
  static FieldCatalogue Parse(std::string_view text);

  // Reads and parses the file. kNotFound when it does not exist; other read
  // errors as the file system reports them. At most 1 MiB is read.
  static StatusOr<FieldCatalogue> Load(FileSystem* fs, const std::string& path);

  // The catalogue text the server writes (272 lines, CR LF).
  static std::string StandardText();

  const std::vector<Field>& fields() const { return fields_; }
  // The field opened by the start marker word `word` (exact bytes), if any.
  const Marker* FindStartMarker(std::string_view word) const {
    if (word.empty() || !first_bytes_[static_cast<unsigned char>(word[0])]) return nullptr;
    auto it = starts_.find(std::string(word));
    return it == starts_.end() ? nullptr : &it->second;
  }
  // Field number by name, any letter case.
  std::optional<uint32_t> FindField(std::string_view name) const;

 private:
  std::vector<Field> fields_;
  std::unordered_map<std::string, Marker> starts_;
  std::unordered_map<std::string, uint32_t> by_name_;
  bool first_bytes_[256] = {};
};

}  // namespace vantrel
