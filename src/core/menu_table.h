// The menu table: the keys (IDM_...) of the console's menu bar with their
// defaults and command numbers, and the menu bar built from the loaded texts.
//
// Menu texts live in the section "Menustrings" of VANTREL.INI and hold at most
// 149 characters. Every key but IDM_ABOUT is read as it stands (no escapes, no
// write-back); IDM_ABOUT is read like a text of the text table, so it is
// written back when missing.
//
// Thread safety: the table is constant data; BuildMenuBar() only reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class TextTable;

// Named exactly like the keys, in table order.
enum class MenuId : uint8_t {
  IDM_FILE,
  IDM_EXIT,
  IDM_INDEX,
  IDM_OPTIMIZE,
  IDM_REBUILD,
  IDM_RESCAN,
  IDM_ABOUT,
};
inline constexpr size_t kMenuCount = 7;

inline constexpr size_t kMaxMenuTextLength = 149;

// Menu commands, as the console receives them.
inline constexpr int kCommandExit = 1000;
inline constexpr int kCommandAbout = 1003;
inline constexpr int kCommandRebuild = 1005;
inline constexpr int kCommandOptimize = 1006;
inline constexpr int kCommandRescan = 1007;

// The product name in the About item: "<IDM_ABOUT> Vantrel...".
inline constexpr char kProductName[] = "Vantrel";

struct MenuEntry {
  std::string_view key;  // "IDM_..."
  std::string_view default_text;
  bool write_back;  // read with escapes and written back when missing
};

// Index = MenuId.
extern const std::array<MenuEntry, kMenuCount> kMenuEntries;

inline const MenuEntry& EntryOf(MenuId id) { return kMenuEntries[static_cast<size_t>(id)]; }

struct MenuItem {
  std::string text;
  int command = 0;
};

struct MenuPopup {
  std::string title;
  std::vector<MenuItem> items;  // in display order
};

// The menu bar from the texts of `texts`: "&File" with "E&xit"; "&Index" with
// optimize, rebuild and rescan (in that order); a popup titled with IDM_ABOUT
// whose one item is the IDM_ABOUT text, a blank, "Vantrel" and "...".
std::vector<MenuPopup> BuildMenuBar(const TextTable& texts);

}  // namespace vantrel
