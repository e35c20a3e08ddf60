// Document names: the unique id of every image document in the engine.
//
// A name is the file's time stamp as eight upper-case hexadecimal digits, its
// four bytes lowest first (two digits per byte), one blank, and the file key:
// time stamp 0x12345678 with key "03Sport\img.jpg" is "78563412 03Sport\img.jpg".
// Hits, removal lists and the start-up catch-up decode names with
// DecodeDocumentName.
//
// Thread safety: plain functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// Bytes of a name before its file key: the stamp's digits and the blank.
inline constexpr size_t kDocumentNameKeyOffset = 9;

struct DecodedDocumentName {
  uint32_t time_stamp = 0;
  std::string_view file_key;  // within the decoded name; may be empty
};

// Builds the name of a document.
std::string FormatDocumentName(uint32_t time_stamp, std::string_view file_key);

// Decodes a name; the file key refers to `name`'s bytes. Nothing when it
// has fewer than nine characters, a character among the first eight is not
// a hexadecimal digit (either letter case is accepted) or the ninth is not
// a blank.
std::optional<DecodedDocumentName> DecodeDocumentName(std::string_view name);

}  // namespace vantrel
