// IIM character sets: the record-2 values of an IPTC block turned into the
// server's code page.
//
//  - Dataset 1:90 (coded character set, in the envelope record in front of
//    the record-2 run) declares the set: ESC % G is UTF-8; ESC . A and
//    ESC - A designate ISO 8859-1. Other declarations leave the bytes as they
//    are.
//  - UTF-8 values are decoded strictly (overlong forms, surrogates, values
//    above U+10FFFF and cut sequences make a value invalid; an invalid value
//    keeps its bytes, read as code-page text, as before) and converted with
//    CodePage::FromUtf8: characters the code page lacks become '?'.
//  - Without 1:90, a value that is valid UTF-8 holding at least one
//    multi-byte sequence is read as UTF-8; any other value keeps its bytes.
//  - Double-encoded UTF-8 (UTF-8 read as Latin-1 or Windows-1252 and encoded
//    again) is repaired: while the decoded characters, taken back as bytes,
//    are again valid multi-byte UTF-8, they are decoded once more (twice at
//    most).
// Pure ASCII values never change.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

#include "metadata/caption_record.h"
#include "platform/code_page.h"

namespace vantrel {

enum class IimCharset {
  kUndeclared,  // no 1:90
  kUtf8,        // ESC % G
  kLatin1,      // ESC . A or ESC - A
  kOther,       // any other declaration: bytes kept
};

// The set that 1:90 declares in raw IIM bytes (datasets from the first tag
// marker on; the walk stops at the first record-2 dataset or a byte that is
// not the tag marker).
IimCharset DeclaredIimCharset(std::string_view iim);

// The declaration of the IPTC resource 0x0404 in a Photoshop resource block.
IimCharset DeclaredResourceCharset(std::string_view resources);

// Strict UTF-8 decoding; false (and `out` unspecified) on any invalid form.
bool DecodeUtf8Strict(std::string_view utf8, std::u32string* out);

// One value in the code page.
std::string ConvertIimValue(std::string_view value, IimCharset charset, const CodePage& code_page);

// Every record-2 value of record.iptc converted (the Photoshop resources are
// left alone). Nothing changes for kOther.
void ConvertIimCharset(CaptionRecord& record, IimCharset charset,
                       const CodePage& code_page = CodePage::Default());

}  // namespace vantrel
