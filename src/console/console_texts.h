// Every text of the console page: the text table and the menu table as
// loaded (so that VANTREL.INI translates the page), by key.
#pragma once

#include <nlohmann/json.hpp>

namespace vantrel {

// {"texts": {"IDS_...": "..."}, "menus": {"IDM_...": "..."}, "build": N}
nlohmann::json ConsoleTextsJson();

// The build number the About box shows ("Build %i").
inline constexpr int kConsoleBuild = 27;

}  // namespace vantrel
