#include "metadata/char_tables.h"

#include <algorithm>
#include <array>

namespace vantrel {
namespace {

// Windows code of each Mac code 0x80..0xFF.
constexpr uint8_t kMacHighToWindows[128] = {
    0xC4, 0xC5, 0xC7, 0xC9, 0xD1, 0xD6, 0xDC, 0xE1,  // 80
    0xE0, 0xE2, 0xE4, 0xE3, 0xE5, 0xE7, 0xE9, 0xE8,  // 88
    0xEA, 0xEB, 0xED, 0xEC, 0xEE, 0xEF, 0xF1, 0xF3,  // 90
    0xF2, 0xF4, 0xF6, 0xF5, 0xFA, 0xF9, 0xFB, 0xFC,  // 98
    0x86, 0xB0, 0xA2, 0xA3, 0xA7, 0x95, 0xB6, 0xDF,  // A0
    0xAE, 0xA9, 0x99, 0xB4, 0xA8, 0xAD, 0xC6, 0xD8,  // A8
    0xB0, 0xB1, 0xB2, 0xB3, 0xA5, 0xB5, 0xF0, 0xB7,  // B0
    0xB8, 0xB9, 0xBA, 0xAA, 0xBA, 0xBD, 0xE6, 0xF8,  // B8
    0xBF, 0xA1, 0xAC, 0xC3, 0x83, 0x98, 0xC6, 0xAB,  // C0
    0xBB, 0x85, 0xA0, 0xC0, 0xC3, 0xD5, 0x8C, 0x9C,  // C8
    0x96, 0x97, 0x93, 0x94, 0x91, 0x92, 0xF7, 0xD7,  // D0
    0xFF, 0x9F, 0xDA, 0xA4, 0x8B, 0x9B, 0xDE, 0xDF,  // D8
    0x87, 0xB7, 0x82, 0x84, 0x89, 0xC2, 0xCA, 0xC1,  // E0
    0xCB, 0xC8, 0xCD, 0xCE, 0xCF, 0xCC, 0xD3, 0xD4,  // E8
    0xF0, 0xD2, 0xDA, 0xDB, 0xD9, 0x69, 0x88, 0x98,  // F0
    0xAF, 0xF9, 0xFA, 0xB0, 0xB8, 0x94, 0xBF, 0xFF,  // F8
};

constexpr std::array<uint8_t, 256> MakeMacToWindows() {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 128; ++c) t[c] = static_cast<uint8_t>(c);
  for (int c = 0; c < 128; ++c) t[128 + c] = kMacHighToWindows[c];
  return t;
}

constexpr std::array<uint8_t, 256> MakeWindowsToMac() {
  std::array<uint8_t, 256> t{};
  std::array<bool, 256> set{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<uint8_t>(c);
  for (int mac = 0x80; mac <= 0xFF; ++mac) {
    uint8_t win = kMacHighToWindows[mac - 0x80];
    if (win >= 0x80 && !set[win]) {
      t[win] = static_cast<uint8_t>(mac);
      set[win] = true;
    }
  }
  return t;
}

constexpr std::array<uint8_t, 256> kMacToWindows = MakeMacToWindows();
constexpr std::array<uint8_t, 256> kWindowsToMac = MakeWindowsToMac();

}  // namespace

uint8_t MacToWindowsChar(uint8_t mac) { return kMacToWindows[mac]; }
uint8_t WindowsToMacChar(uint8_t windows) { return kWindowsToMac[windows]; }

size_t ConvertMacText(std::string& text, size_t length, size_t capacity) {
  size_t n = length == 0 ? 0 : length - 1;
  size_t nul = text.find('\0');
  if (nul == std::string::npos) nul = text.size();
  if (n > nul) n = nul;
  std::string out;
  out.reserve(std::min(capacity, n + n / 8 + 16));
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    if (c == '\r') {
      if (out.size() + 2 > capacity) break;
      out += "\r\n";
    } else {
      if (out.size() + 1 > capacity) break;
      out += static_cast<char>(kMacToWindows[c]);
    }
  }
  text = std::move(out);
  return text.size();
}

size_t ConvertToMacText(std::string& text) {
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  size_t w = 0;
  for (size_t r = 0; r < text.size(); ++r) {
    uint8_t c = static_cast<uint8_t>(text[r]);
    text[w++] = static_cast<char>(kWindowsToMac[c]);
    if (c == '\r' && r + 1 < text.size() && text[r + 1] == '\n') ++r;
  }
  text.resize(w);
  return w;
}

}  // namespace vantrel
