#include "core/text_table.h"

#include <set>
#include <string>
#include <vector>

#include "core/menu_table.h"
#include "gtest/gtest.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

std::string ReadAll(const std::string& path) {
  StatusOr<std::string> data = DefaultFileSystem()->ReadFile(path);
  return data.ok() ? *data : std::string("<missing>");
}

IniDocument ReadIni(const std::string& path) { return IniDocument::Parse(ReadAll(path)); }

void SetInFile(const std::string& path, const char* section, const char* key,
               const std::string& value) {
  ASSERT_TRUE(WriteIniString(DefaultFileSystem(), path, section, key, value).ok());
}

// The identifiers are the table positions, and no key is there twice (a
// second one would never be read from the settings file).
TEST(TextTableDataTest, KeysAreUniqueInTableOrder) {
  ASSERT_EQ(kTextCount, 183u);
  EXPECT_EQ(kTextEntries[28].key, "IDS_SELECTFOLD");
  EXPECT_EQ(static_cast<size_t>(TextId::IDS_WAITFORPDFTHUMBS), kTextCount - 1);
  std::set<std::string> seen;
  for (const TextEntry& entry : kTextEntries) {
    EXPECT_EQ(entry.key.substr(0, 4), "IDS_") << entry.key;
    EXPECT_FALSE(entry.default_text.empty()) << entry.key;
    EXPECT_TRUE(seen.insert(std::string(entry.key)).second) << "duplicate " << entry.key;
  }
}

TEST(TextTableDataTest, FindsKeysByNameWithoutRegardToCase) {
  TextId id;
  ASSERT_TRUE(FindTextId("IDS_HITSFOUND", &id));
  EXPECT_EQ(id, TextId::IDS_HITSFOUND);
  ASSERT_TRUE(FindTextId("ids_hitsfound", &id));
  EXPECT_EQ(id, TextId::IDS_HITSFOUND);
  EXPECT_FALSE(FindTextId("IDS_NOSUCHKEY", &id));
  EXPECT_FALSE(FindTextId("", &id));
  TextTable table;
  EXPECT_EQ(table.Get("IDS_SECONDS"), "Seconds");
  EXPECT_EQ(table.Get("IDS_NOSUCHKEY"), "");
}

TEST(TextTableEscapeTest, SettingsEscapes) {
  struct Case {
    std::string file;
    std::string text;
  };
  const std::vector<Case> unescape = {
      {"", ""},
      {"plain", "plain"},
      {"two\\\\lines", "two\r\nlines"},
      {"carriage\\return", "carriage\rreturn"},
      {"\\\\\\", "\r\n\r"},
      {"\\\\\\\\", "\r\n\r\n"},
      {"end\\", "end\r"},
      {"\\start", "\rstart"},
  };
  for (const Case& c : unescape) EXPECT_EQ(UnescapeSettingsValue(c.file), c.text) << c.file;

  const std::vector<Case> escape = {
      {"a\\\\b", "a\r\nb"},         {"a\\b", "a\nb"}, {"a\\b", "a\rb"}, {"\\\\\\", "\n\r\n"},
      {"no breaks ", "no breaks "},
  };
  for (const Case& c : escape) EXPECT_EQ(EscapeSettingsValue(c.text), c.file) << c.file;
}

TEST(TextTableLoadTest, FirstStartWritesEveryKeyInTableOrderALaterOneReadsThemBack) {
  TempDir dir;
  std::string ini = dir.Path("VANTREL.INI");
  TextTable table;
  TextLoadResult result = table.Load(DefaultFileSystem(), ini);
  ASSERT_TRUE(result.file_status.ok()) << result.file_status.ToString();
  EXPECT_EQ(result.translated, 0u);
  EXPECT_EQ(result.written_back, kTextCount + 1);  // and IDM_ABOUT

  IniDocument doc = ReadIni(ini);
  std::vector<std::string> keys = doc.Keys("WINDOWSTRINGS");
  ASSERT_EQ(keys.size(), kTextCount);
  for (size_t i = 0; i < kTextCount; ++i) EXPECT_EQ(keys[i], kTextEntries[i].key);
  // Only IDM_ABOUT of the menu keys is written back.
  EXPECT_EQ(doc.Keys("Menustrings"), std::vector<std::string>{"IDM_ABOUT"});
  EXPECT_EQ(doc.Get("MENUSTRINGS", "IDM_ABOUT").value_or(""), "About");

  // Line breaks are backslashes, outer blanks survive.
  EXPECT_EQ(doc.Get("WINDOWSTRINGS", "IDS_DELETESURE").value_or(""), "Delete ");
  EXPECT_EQ(doc.Get("WINDOWSTRINGS", "IDS_BADPATH").value_or(""),
            "does not exist.\\The Index is stopped!");
  std::string pdf = doc.Get("WINDOWSTRINGS", "IDS_PDFNOTSETUP").value_or("");
  EXPECT_EQ(pdf.substr(0, 30), "The PDF folder is not set.\\\\Th");
  std::string raw = ReadAll(ini);
  EXPECT_EQ(raw.find('\n'), raw.find("\r\n") + 1) << "lines end in CR LF";
  EXPECT_EQ(raw.find("\\\r"), std::string::npos);

  // A later start reads the defaults back unchanged.
  TextTable second;
  result = second.Load(DefaultFileSystem(), ini);
  EXPECT_TRUE(result.file_status.ok());
  EXPECT_EQ(result.written_back, 0u);
  EXPECT_EQ(ReadAll(ini), raw) << "a complete file is not rewritten";
  // Every text equals its default byte for byte, also those whose line
  // feeds were written as single backslashes.
  for (size_t i = 0; i < kTextCount; ++i) {
    EXPECT_EQ(second.Get(static_cast<TextId>(i)), kTextEntries[i].default_text)
        << kTextEntries[i].key;
  }
}

TEST(TextTableLoadTest, TranslatedTextsComeFromTheFile) {
  TempDir dir;
  std::string ini = dir.Path("VANTREL.INI");
  TextTable first;
  ASSERT_TRUE(first.Load(DefaultFileSystem(), ini).file_status.ok());

  SetInFile(ini, "WINDOWSTRINGS", "IDS_HITSFOUND", "Treffer gefunden in ");
  SetInFile(ini, "windowstrings", "ids_add", "Zwei\\\\Zeilen");
  SetInFile(ini, "WINDOWSTRINGS", "IDS_EDIT", "Nur\\Wagenrucklauf");
  SetInFile(ini, "WINDOWSTRINGS", "IDS_DELETESURE", "Loeschen ");

  TextTable table;
  TextLoadResult result = table.Load(DefaultFileSystem(), ini);
  EXPECT_EQ(result.written_back, 0u);
  EXPECT_EQ(result.translated, kTextCount + 1);
  EXPECT_EQ(table.Get(TextId::IDS_HITSFOUND), "Treffer gefunden in ");
  EXPECT_EQ(table.Get("IDS_HITSFOUND"), "Treffer gefunden in ");
  EXPECT_EQ(table.Get(TextId::IDS_ADD), "Zwei\r\nZeilen");
  EXPECT_EQ(table.Get(TextId::IDS_EDIT), "Nur\rWagenrucklauf");
  EXPECT_EQ(table.Get(TextId::IDS_DELETESURE), "Loeschen ");
  EXPECT_EQ(table.Get(TextId::IDS_DEL), "Delete");
}

TEST(TextTableLoadTest, MissingAndEmptyKeysGetTheirDefaultsWrittenBack) {
  TempDir dir;
  std::string ini = dir.Path("VANTREL.INI");
  ASSERT_TRUE(dir.WriteFile("VANTREL.INI",
                            "; translated by hand\r\n[WindowStrings]\r\nIDS_ADD=\r\n"
                            "IDS_EDIT=Bearbeiten\r\n[Other]\r\nKEEP=1\r\n"));
  TextTable table;
  TextLoadResult result = table.Load(DefaultFileSystem(), ini);
  ASSERT_TRUE(result.file_status.ok());
  EXPECT_EQ(result.translated, 1u);
  EXPECT_EQ(result.written_back, kTextCount - 1 + 1);
  EXPECT_EQ(table.Get(TextId::IDS_ADD), "Add");
  EXPECT_EQ(table.Get(TextId::IDS_EDIT), "Bearbeiten");

  IniDocument doc = ReadIni(ini);
  EXPECT_EQ(doc.Get("WINDOWSTRINGS", "IDS_ADD").value_or(""), "Add");
  EXPECT_EQ(doc.Get("WINDOWSTRINGS", "IDS_EDIT").value_or(""), "Bearbeiten");
  EXPECT_EQ(doc.Get("Other", "KEEP").value_or(""), "1");
  EXPECT_EQ(doc.Keys("WINDOWSTRINGS").size(), kTextCount);
  EXPECT_EQ(ReadAll(ini).substr(0, 21), "; translated by hand\r");
}

TEST(TextTableLoadTest, UnreadableFileIsNeverOverwritten) {
  TempDir dir;
  std::string ini = dir.Path("VANTREL.INI");
  const std::string content = "[WINDOWSTRINGS]\r\nIDS_ADD=Hinzufuegen\r\n";
  ASSERT_TRUE(dir.WriteFile("VANTREL.INI", content));
  FaultFileSystem faulty(DefaultFileSystem());
  faulty.FailReadsMatching("*.INI");
  TextTable table;
  TextLoadResult result = table.Load(&faulty, ini);
  EXPECT_FALSE(result.file_status.ok());
  EXPECT_EQ(result.written_back, 0u);
  EXPECT_EQ(faulty.write_count(), 0);
  EXPECT_EQ(ReadAll(ini), content);
  EXPECT_EQ(table.Get(TextId::IDS_ADD), "Add");

  // A folder in place of the file: defaults, nothing written.
  TempDir other;
  ASSERT_TRUE(other.MakeFolder("VANTREL.INI"));
  TextTable folder_table;
  EXPECT_FALSE(folder_table.Load(DefaultFileSystem(), other.Path("VANTREL.INI")).file_status.ok());
  EXPECT_EQ(folder_table.Get(TextId::IDS_OK), "OK");
}

TEST(TextTableLoadTest, OddFileContentNeverBreaksTheLoader) {
  struct Case {
    const char* name;
    std::string content;
  };
  std::string binary = "[WINDOWSTRINGS]\r\nIDS_ADD=A";
  binary += std::string("\0\xff\x01", 3);
  binary += "B\r\n\xfe\xfe\0\0[\r\n=\r\n[]\r\n";
  const std::vector<Case> cases = {
      // (How the settings parser takes odd lines is checked with it and
      // its fuzz target; here: what the loader makes of the values.)
      {"empty", ""},
      {"binary", binary},
      {"many backslashes", "[WINDOWSTRINGS]\r\nIDS_ADD=" + std::string(801, '\\') + "\r\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ASSERT_TRUE(dir.WriteFile("VANTREL.INI", c.content));
    TextTable table;
    TextLoadResult result = table.Load(DefaultFileSystem(), dir.Path("VANTREL.INI"));
    EXPECT_TRUE(result.file_status.ok()) << c.name;
    EXPECT_LE(table.Get(TextId::IDS_ADD).size(), kMaxTextLength) << c.name;
    EXPECT_LE(table.Menu(MenuId::IDM_EXIT).size(), kMaxMenuTextLength) << c.name;
    EXPECT_LE(table.Menu(MenuId::IDM_ABOUT).size(), kMaxMenuTextLength) << c.name;
    EXPECT_FALSE(table.Get(TextId::IDS_ADD).empty()) << c.name;
    if (c.content == binary) {
      EXPECT_EQ(table.Get(TextId::IDS_ADD), "A");
    }
    // Whatever was there, the file now holds every key.
    EXPECT_EQ(ReadIni(dir.Path("VANTREL.INI")).Keys("WINDOWSTRINGS").size(), kTextCount) << c.name;
  }
}

TEST(TextTableLoadTest, ValuesAreCutToTheirLimits) {
  TempDir dir;
  std::string ini = dir.Path("VANTREL.INI");
  SetInFile(ini, "WINDOWSTRINGS", "IDS_ADD", std::string(500, 'x'));
  SetInFile(ini, "Menustrings", "IDM_EXIT", std::string(200, 'y'));
  SetInFile(ini, "Menustrings", "IDM_ABOUT", std::string(5000, 'a'));
  TextTable table;
  ASSERT_TRUE(table.Load(DefaultFileSystem(), ini).file_status.ok());
  EXPECT_EQ(table.Get(TextId::IDS_ADD), std::string(399, 'x'));
  EXPECT_EQ(table.Menu(MenuId::IDM_EXIT), std::string(149, 'y'));
  EXPECT_EQ(table.Menu(MenuId::IDM_ABOUT), std::string(149, 'a'));
}

std::string Flatten(const std::vector<MenuPopup>& bar) {
  std::string out;
  for (const MenuPopup& p : bar) {
    out += p.title + ":";
    for (const MenuItem& i : p.items) out += " " + i.text + "=" + std::to_string(i.command);
    out += "\n";
  }
  return out;
}

TEST(MenuTableTest, DefaultMenuBar) {
  EXPECT_EQ(Flatten(BuildMenuBar(TextTable())),
            "&File: E&xit=1000\n"
            "&Index: Optimize All Indexes Now=1006 Rebuild All Indexes Now=1005 "
            "Scan All Image Folders Now=1007\n"
            "About: About Vantrel...=1003\n");
}

TEST(MenuTableTest, TranslatedMenuTexts) {
  TempDir dir;
  std::string ini = dir.Path("VANTREL.INI");
  // Both spellings of the section name are one section.
  ASSERT_TRUE(dir.WriteFile("VANTREL.INI",
                            "[MENUSTRINGS]\r\nIDM_EXIT=B&eenden\r\nIDM_RESCAN=A\\B\r\n"
                            "IDM_ABOUT=Info\\\\zu\r\n"));
  TextTable table;
  TextLoadResult result = table.Load(DefaultFileSystem(), ini);
  ASSERT_TRUE(result.file_status.ok());
  std::vector<MenuPopup> bar = BuildMenuBar(table);
  EXPECT_EQ(bar[0].items[0].text, "B&eenden");
  // The plain menu keys keep their backslashes; IDM_ABOUT converts them.
  EXPECT_EQ(bar[1].items[2].text, "A\\B");
  EXPECT_EQ(bar[2].title, "Info\r\nzu");
  EXPECT_EQ(bar[2].items[0].text, "Info\r\nzu Vantrel...");
  // No menu key was missing that is written back.
  IniDocument doc = ReadIni(ini);
  EXPECT_EQ(doc.Keys("Menustrings"),
            (std::vector<std::string>{"IDM_EXIT", "IDM_RESCAN", "IDM_ABOUT"}));
  EXPECT_EQ(doc.Sections().size(), 2u);
}

TEST(ProcessTextsTest, InstalledTableIsSeenEverywhereAndOldReferencesStayValid) {
  const std::string& before = Text(TextId::IDS_STARTED);
  EXPECT_EQ(before, "Vantrel Started");

  TempDir dir;
  std::string ini = dir.Path("VANTREL.INI");
  SetInFile(ini, "WINDOWSTRINGS", "IDS_STARTED", "Vantrel gestartet");
  auto table = std::make_unique<TextTable>();
  ASSERT_TRUE(table->Load(DefaultFileSystem(), ini).file_status.ok());
  InstallProcessTexts(std::move(table));
  EXPECT_EQ(Text(TextId::IDS_STARTED), "Vantrel gestartet");
  EXPECT_EQ(Texts().Get("IDS_STARTED"), "Vantrel gestartet");
  EXPECT_EQ(before, "Vantrel Started");

  InstallProcessTexts(std::make_unique<TextTable>());
  EXPECT_EQ(Text(TextId::IDS_STARTED), "Vantrel Started");
}

}  // namespace
}  // namespace vantrel
