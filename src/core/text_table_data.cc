// The text table's keys and defaults (from text_table_keys.h) and the keys
// that an older table loaded more than once.
#include "core/text_table.h"

namespace vantrel {

const std::array<TextEntry, kTextCount> kTextEntries = {{
#define VANTREL_TEXT_ENTRY(key, text) {#key, text},
    VANTREL_TEXT_TABLE(VANTREL_TEXT_ENTRY)
#undef VANTREL_TEXT_ENTRY
}};

// IDS_DELETESURE once filled its one text three times ("Delete ", then these
// two), and IDS_SELECTFOLD filled a second text with "Select: ". The first
// default is written back on the first load, so every later load read it back
// and these never showed after the first start. Only the first default is
// used now, also when the settings file cannot be written.
const std::array<SecondaryDefault, 3> kSecondaryDefaults = {{
    {TextId::IDS_DELETESURE, "Do you want to delete"},
    {TextId::IDS_DELETESURE, "Delete Index"},
    {TextId::IDS_SELECTFOLD, "Select: "},
}};

}  // namespace vantrel
