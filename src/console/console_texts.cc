#include "console/console_texts.h"

#include "core/text_table.h"

namespace vantrel {

nlohmann::json ConsoleTextsJson() {
  const TextTable& table = Texts();
  nlohmann::json texts = nlohmann::json::object();
  for (size_t i = 0; i < kTextCount; ++i) {
    texts[std::string(kTextEntries[i].key)] = table.Get(static_cast<TextId>(i));
  }
  nlohmann::json menus = nlohmann::json::object();
  for (size_t i = 0; i < kMenuCount; ++i) {
    menus[std::string(kMenuEntries[i].key)] = table.Menu(static_cast<MenuId>(i));
  }
  return nlohmann::json{{"texts", texts}, {"menus", menus}, {"build", kConsoleBuild}};
}

}  // namespace vantrel
