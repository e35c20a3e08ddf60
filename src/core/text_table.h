// The text table: every text that the server shows on its console, puts in a
// notice or writes into its event log, looked up by key.
//
// Each key (IDS_...) has a built-in English default. The operator translates
// the server by giving keys new values in the section "WINDOWSTRINGS" of the
// settings file VANTREL.INI; the menu bar's texts (IDM_...) live in the section
// "Menustrings" (menu_table.h). On load, every key missing from the file is
// written back with its default, so the file becomes a complete template for
// translators.
//
// Line breaks cannot stand in a settings value, so the file holds backslashes:
// two in a row mean CR LF, a single one means CR. When a default is written
// back, each CR and each LF of it becomes one backslash.
//
// Thread safety: a TextTable is filled by Load() before it is shared; after
// that any number of threads may read it concurrently. The process-wide table
// (Texts(), InstallProcessTexts()) may be read from any thread at any time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/menu_table.h"
#include "core/text_table_keys.h"
#include "platform/status.h"

namespace vantrel {

class FileSystem;
class IniDocument;

// One identifier per key, in table order, named exactly like the key.
enum class TextId : uint16_t {
#define VANTREL_TEXT_ID(key, text) key,
  VANTREL_TEXT_TABLE(VANTREL_TEXT_ID)
#undef VANTREL_TEXT_ID
};

inline constexpr size_t kTextCount = 0
#define VANTREL_TEXT_COUNT(key, text) +1
    VANTREL_TEXT_TABLE(VANTREL_TEXT_COUNT)
#undef VANTREL_TEXT_COUNT
    ;

// Settings file sections (section names compare without regard to case).
inline constexpr char kTextSection[] = "WINDOWSTRINGS";
inline constexpr char kMenuSection[] = "Menustrings";

// Longest text taken from the settings file; longer values are cut.
inline constexpr size_t kMaxTextLength = 399;

struct TextEntry {
  std::string_view key;           // "IDS_..."
  std::string_view default_text;  // byte exact
};

// Every key with its default, in table order; index = TextId.
extern const std::array<TextEntry, kTextCount> kTextEntries;

// A key that an older table loaded again with another default. The first
// default of a key is the one that takes effect (it is written back first and
// read back by every later load), so these defaults never show; they are kept
// so that the table tells the whole story of its keys.
struct SecondaryDefault {
  TextId id;
  std::string_view default_text;
};
extern const std::array<SecondaryDefault, 3> kSecondaryDefaults;

inline const TextEntry& EntryOf(TextId id) { return kTextEntries[static_cast<size_t>(id)]; }

// The identifier of a key ("IDS_HITSFOUND"), compared without regard to case;
// false when the key is not in the table.
bool FindTextId(std::string_view key, TextId* id);

// Settings file escapes. EscapeSettingsValue turns every CR and every LF into
// one backslash; UnescapeSettingsValue turns two backslashes into CR LF and a
// single one into CR. Neither ever fails.
std::string EscapeSettingsValue(std::string_view text);
std::string UnescapeSettingsValue(std::string_view value);

// What Load() did, for the console and the tests.
struct TextLoadResult {
  size_t translated = 0;    // keys whose text came from the settings file
  size_t written_back = 0;  // keys written back with their default
  Status file_status;       // reading or writing the settings file; texts are set either way
};

class TextTable {
 public:
  // A table holding every default.
  TextTable();

  TextTable(const TextTable&) = default;
  TextTable& operator=(const TextTable&) = default;

  const std::string& Get(TextId id) const { return texts_[static_cast<size_t>(id)]; }
  // The text of a key by name; an empty text for a key that is not in the table.
  const std::string& Get(std::string_view key) const;
  const std::string& Menu(MenuId id) const { return menus_[static_cast<size_t>(id)]; }

  // Fills the table from a parsed settings document. Missing or empty keys get
  // their defaults, and those defaults (escaped) are set into `doc` so that the
  // caller can save it. Returns the number of keys written into `doc`.
  size_t LoadFrom(IniDocument* doc, size_t* translated = nullptr);

  // Reads the settings file at `ini_path` (native path), fills the table and
  // writes the file back when keys were missing. A missing file is created. A
  // file that exists but cannot be read is never rewritten (translations would
  // be lost): the table keeps the defaults. Texts are always set, whatever
  // happens to the file; problems are reported in file_status.
  TextLoadResult Load(FileSystem* fs, const std::string& ini_path);

 private:
  std::array<std::string, kTextCount> texts_;
  std::array<std::string, kMenuCount> menus_;
};

// The process-wide table. Until InstallProcessTexts() is called it holds the
// defaults. A reference returned by Text() stays valid for the whole process,
// also after a later install (installed tables are never freed).
const TextTable& Texts();
inline const std::string& Text(TextId id) { return Texts().Get(id); }

// Publishes `table` as the process-wide table (start-up calls this once after
// loading). Readers on other threads see either the old or the new table.
void InstallProcessTexts(std::unique_ptr<TextTable> table);

}  // namespace vantrel
