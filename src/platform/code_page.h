// The single-byte code page of every text that clients read.
//
// File names on disk are UTF-8; keys, list files, hit files and INI files
// hold single-byte code-page text (Windows-1252 unless the environment
// variable VANTREL_CODEPAGE names another single-byte charset known to iconv,
// e.g. "ISO-8859-15" or "CP1250"). Every name crosses this boundary here:
//  - FromUtf8 composes the common decomposed Latin letters (base letter plus
//    combining grave, acute, circumflex, tilde, diaeresis, ring, cedilla or
//    caron) first, as names written by Mac clients are decomposed;
//  - it restores the private-use characters that Mac clients' file servers
//    store for characters Windows names cannot hold: U+F020 '"', U+F021 '*',
//    U+F022 '/', U+F023 '<', U+F024 '>', U+F025 '?', U+F026 '\',
//    U+F027 '|', U+F028 ' ', U+F029 '.', U+F02A byte 240 (the Mac apple
//    sign). All other private-use characters (U+F001..U+F01F among them)
//    become '?': control bytes are kept out of keys and text files;
//  - any other character the code page cannot hold becomes '?'.
// The result is therefore not always the way back to the file: platform/
// paths.h (ResolveKeyPath) finds the real UTF-8 name from such a key.
//
// Thread safety: a CodePage is immutable after construction; all methods may
// be called from any thread. Conversion uses precomputed tables (built once
// with iconv), with a fast path for ASCII.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace vantrel {

class CodePage {
 public:
  // The code page named by VANTREL_CODEPAGE, else Windows-1252. An unusable
  // name is reported once on standard error and Windows-1252 used instead;
  // when iconv itself lacks Windows-1252, a built-in table serves.
  static const CodePage& Default();

  // A single-byte charset known to iconv whose bytes 0x00-0x7F are ASCII.
  // Fails with kInvalidArgument for unknown or multi-byte charsets.
  static StatusOr<CodePage> Create(const std::string& charset);

  // Windows-1252 from the built-in table (no iconv).
  static CodePage BuiltInWindows1252();

  const std::string& name() const { return name_; }

  // UTF-8 to code-page text (see the rules above). Invalid UTF-8 bytes become
  // '?'. `*lossy` (when given) is set to whether ToUtf8 of the result differs
  // from `utf8`, i.e. whether the real name must be looked up.
  std::string FromUtf8(std::string_view utf8, bool* lossy = nullptr) const;
  // UTF-16 to code-page text, the same rules; unpaired surrogates become '?'.
  std::string FromUtf16(std::u16string_view utf16, bool* lossy = nullptr) const;

  // Code-page text to UTF-8 / UTF-16. Never fails: bytes the charset leaves
  // undefined stand for U+0080..U+00FF of the same value, as on Windows.
  std::string ToUtf8(std::string_view text) const;
  std::u16string ToUtf16(std::string_view text) const;

  // The Unicode character of one byte.
  char32_t ToUnicode(unsigned char byte) const { return to_unicode_[byte]; }
  // The byte of one Unicode character, when the code page holds it.
  bool FromUnicode(char32_t c, unsigned char* byte) const;

 private:
  CodePage() = default;
  void BuildReverse();
  // Appends the code-page form of `cps` (decoded characters; 0xFFFFFFFF marks
  // an undecodable unit) to `out`.
  void Encode(const std::u32string& cps, std::string* out, bool* lossy) const;

  std::string name_;
  std::array<char32_t, 256> to_unicode_{};
  std::array<std::string, 256> to_utf8_;
  // Characters >= U+0080 that the code page holds, sorted by character.
  std::vector<std::pair<char32_t, unsigned char>> from_unicode_;
};

// Appends the UTF-8 form of code point `c` to `out`; a surrogate or a value
// above U+10FFFF is written as U+FFFD.
void AppendUtf8(char32_t c, std::string* out);

}  // namespace vantrel
