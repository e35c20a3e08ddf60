// The menu table's data and the menu bar.
#include "core/menu_table.h"

#include "core/text_table.h"

namespace vantrel {

const std::array<MenuEntry, kMenuCount> kMenuEntries = {{
    {"IDM_FILE", "&File", false},
    {"IDM_EXIT", "E&xit", false},
    {"IDM_INDEX", "&Index", false},
    {"IDM_OPTIMIZE", "Optimize All Indexes Now", false},
    {"IDM_REBUILD", "Rebuild All Indexes Now", false},
    {"IDM_RESCAN", "Scan All Image Folders Now", false},
    {"IDM_ABOUT", "About", true},
}};

std::vector<MenuPopup> BuildMenuBar(const TextTable& texts) {
  std::vector<MenuPopup> bar;
  bar.push_back({texts.Menu(MenuId::IDM_FILE), {{texts.Menu(MenuId::IDM_EXIT), kCommandExit}}});
  bar.push_back({texts.Menu(MenuId::IDM_INDEX),
                 {{texts.Menu(MenuId::IDM_OPTIMIZE), kCommandOptimize},
                  {texts.Menu(MenuId::IDM_REBUILD), kCommandRebuild},
                  {texts.Menu(MenuId::IDM_RESCAN), kCommandRescan}}});
  const std::string& about = texts.Menu(MenuId::IDM_ABOUT);
  bar.push_back({about, {{about + " " + kProductName + "...", kCommandAbout}}});
  return bar;
}

}  // namespace vantrel
