// Type codes of image files: four characters naming a file's type, stored in
// a u32 whose highest byte holds the first character ("JPEG" is 0x4A504547).
// A Macintosh Finder file type is a type code too; 0 means "not known".
//
// The type of a file comes from its extension first ("jpg", "tif", ...),
// from its Finder type when the extension names none, and the first bytes of
// the file overrule both for PostScript and PDF files.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

inline constexpr uint32_t MakeTypeCode(char a, char b, char c, char d) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(d));
}

inline constexpr uint32_t kTypeJpeg = MakeTypeCode('J', 'P', 'E', 'G');
inline constexpr uint32_t kTypeTiff = MakeTypeCode('T', 'I', 'F', 'F');
inline constexpr uint32_t kTypeEps = MakeTypeCode('E', 'P', 'S', 'F');
inline constexpr uint32_t kTypePdf = MakeTypeCode('P', 'D', 'F', ' ');
// PNG and WebP pictures: "PNGf" is the Finder type of PNG files.
inline constexpr uint32_t kTypePng = MakeTypeCode('P', 'N', 'G', 'f');
inline constexpr uint32_t kTypeWebp = MakeTypeCode('W', 'E', 'B', 'P');

// The type named by the extension of `path`: the text after the last dot
// found among its last four characters, compared without regard to case.
// "jpg" and "jif" give JPEG, "tif" TIFF, "eps" and "dcs" EPSF, "pdf" "PDF ";
// anything else (also "a.jpeg", whose dot lies five characters from the end)
// gives 0.
uint32_t TypeCodeFromExtension(std::string_view path);

// The picture types read beyond those: "png" gives PNGf and "webp" WEBP
// (the text after the last dot, compared without regard to case; "webp"
// has four characters, so its dot lies five from the end); anything else 0.
// The document builder asks this only when the index reads image headers.
uint32_t PictureTypeFromExtension(std::string_view path);

// The first four bytes of a file are "%!PS" or the DOS EPS binary signature
// C5 D0 D3 C6.
bool IsPostScriptHead(std::string_view head);
// The first four bytes of a file are "%PDF".
bool IsPdfHead(std::string_view head);

}  // namespace vantrel
