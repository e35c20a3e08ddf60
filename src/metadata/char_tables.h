// Character tables between the Macintosh character set (Mac Roman) and the
// Windows character set (code page 1252), as Macintosh caption software and
// the index documents use them.
//
// Bytes 0x00..0x7F are the same in both sets. A Mac character without a
// Windows counterpart keeps its code. The Windows-to-Mac table is the inverse:
// for each Windows code the lowest Mac code that maps to it; a Windows code
// that no Mac code maps to stays unchanged.
//
// Thread safety: the tables are constant; every function may be called from
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel {

uint8_t MacToWindowsChar(uint8_t mac);
uint8_t WindowsToMacChar(uint8_t windows);

// Converts Macintosh text to Windows text in place. The text converted is the
// first n bytes of `text`, n being the smaller of `length` - 1 and the number
// of bytes in front of the first NUL (the text is a NUL-terminated buffer of
// `length` bytes). Each byte goes through the table, and a CR becomes CR LF.
// `text` is replaced by the converted bytes; whatever stood behind the first n
// bytes is dropped. The result never exceeds `capacity` bytes: conversion stops
// in front of the first byte (or CR LF pair) that would not fit.
// Returns the new length (text.size()).
size_t ConvertMacText(std::string& text, size_t length, size_t capacity);

// Converts Windows text to Macintosh text in place, up to its first NUL (the
// rest is dropped): a CR directly followed by LF loses the LF, every other
// byte goes through the table. Never grows. Returns the new length.
size_t ConvertToMacText(std::string& text);

}  // namespace vantrel
