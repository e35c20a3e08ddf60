// Fuzz target: settings files (VANTREL.INI, INDEXINFO.INI, the folder
// mapping files) that clients and people edit. Parsing never fails, a second
// round trip changes nothing, and a value set from the same bytes is read
// back with its line breaks and NULs as backslashes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  vantrel::IniDocument doc = vantrel::IniDocument::Parse(text);
  const std::string once = doc.Serialize();
  if (vantrel::IniDocument::Parse(once).Serialize() != once) __builtin_trap();
  const std::string value = text.substr(0, 20);
  if (!doc.Set("Sect", "key", value)) __builtin_trap();
  std::string expected = value;
  for (char& c : expected) {
    if (c == '\r' || c == '\n' || c == '\0') c = '\\';
  }
  if (vantrel::IniDocument::Parse(doc.Serialize()).Get("sect", "KEY") != expected) {
    __builtin_trap();
  }
  return 0;
}
