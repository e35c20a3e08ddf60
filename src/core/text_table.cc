// The text table: loading texts from the settings file and writing back the
// defaults of missing keys.
#include "core/text_table.h"

#include <atomic>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/mutex.h"

namespace vantrel {

namespace {

// A settings file larger than this is not a text table; it is left alone.
constexpr size_t kMaxSettingsFileBytes = size_t{16} << 20;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperKey(std::string_view key) {
  std::string upper(key);
  for (char& c : upper) c = AsciiUpper(c);
  return upper;
}

// One text from a settings value, or nullopt when the key is missing or empty
// (both mean "use the default").
std::optional<std::string> ReadValue(const IniDocument& doc, std::string_view section,
                                     std::string_view key, size_t max_length) {
  std::optional<std::string> value = doc.Get(section, key);
  if (!value) return std::nullopt;
  // A text ends at a NUL byte, as the texts that the server hands on do.
  size_t nul = value->find('\0');
  if (nul != std::string::npos) value->resize(nul);
  if (value->size() > max_length) value->resize(max_length);
  if (value->empty()) return std::nullopt;
  return value;
}

// Reads one text the way the text table does: escapes converted, the default
// written into `doc` when the key is missing or empty. A value that is exactly
// the written form of the default gives the default itself, so that a default
// holding a lone LF reads back with its LF and not as the CR its backslash
// would otherwise mean. Returns true when the default was written.
bool LoadEscapedText(IniDocument* doc, std::string_view section, std::string_view key,
                     std::string_view default_text, size_t max_length, std::string* text,
                     bool* from_file) {
  std::string escaped_default = EscapeSettingsValue(default_text);
  std::optional<std::string> value = ReadValue(*doc, section, key, max_length);
  *from_file = value.has_value();
  if (!value) {
    *text = std::string(default_text);
    // Set refuses only malformed names, and every key of the tables is a
    // plain word, so this cannot fail; the text is the default either way.
    return doc->Set(section, key, escaped_default);
  }
  *text = (*value == escaped_default) ? std::string(default_text) : UnescapeSettingsValue(*value);
  return false;
}

struct ProcessTexts {
  Mutex mu;
  // Every table ever installed stays alive, so references handed out earlier
  // remain valid.
  std::vector<std::unique_ptr<TextTable>> kept GUARDED_BY(mu);
  std::atomic<const TextTable*> current{nullptr};
};

ProcessTexts& Process() {
  static ProcessTexts* process = new ProcessTexts();  // never destroyed: read until exit
  return *process;
}

const TextTable& DefaultTexts() {
  static const TextTable* defaults = new TextTable();
  return *defaults;
}

}  // namespace

bool FindTextId(std::string_view key, TextId* id) {
  static const auto* index = [] {
    auto* map = new std::unordered_map<std::string, TextId>();
    for (size_t i = 0; i < kTextCount; ++i) {
      map->emplace(UpperKey(kTextEntries[i].key), static_cast<TextId>(i));
    }
    return map;
  }();
  auto it = index->find(UpperKey(key));
  if (it == index->end()) return false;
  *id = it->second;
  return true;
}

std::string EscapeSettingsValue(std::string_view text) {
  std::string escaped(text);
  for (char& c : escaped) {
    if (c == '\r' || c == '\n') c = '\\';
  }
  return escaped;
}

std::string UnescapeSettingsValue(std::string_view value) {
  std::string text;
  text.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      text += value[i];
    } else if (i + 1 < value.size() && value[i + 1] == '\\') {
      text += "\r\n";
      ++i;
    } else {
      text += '\r';
    }
  }
  return text;
}

TextTable::TextTable() {
  for (size_t i = 0; i < kTextCount; ++i) texts_[i] = std::string(kTextEntries[i].default_text);
  for (size_t i = 0; i < kMenuCount; ++i) menus_[i] = std::string(kMenuEntries[i].default_text);
}

const std::string& TextTable::Get(std::string_view key) const {
  static const std::string* const empty = new std::string();
  TextId id;
  return FindTextId(key, &id) ? Get(id) : *empty;
}

size_t TextTable::LoadFrom(IniDocument* doc, size_t* translated) {
  size_t written = 0;
  size_t from_file_count = 0;
  for (size_t i = 0; i < kTextCount; ++i) {
    bool from_file = false;
    if (LoadEscapedText(doc, kTextSection, kTextEntries[i].key, kTextEntries[i].default_text,
                        kMaxTextLength, &texts_[i], &from_file)) {
      ++written;
    }
    if (from_file) ++from_file_count;
  }
  for (size_t i = 0; i < kMenuCount; ++i) {
    const MenuEntry& entry = kMenuEntries[i];
    bool from_file = false;
    if (entry.write_back) {
      if (LoadEscapedText(doc, kMenuSection, entry.key, entry.default_text, kMaxMenuTextLength,
                          &menus_[i], &from_file)) {
        ++written;
      }
    } else {
      // Read as it stands: no escapes, nothing written back.
      std::optional<std::string> value =
          ReadValue(*doc, kMenuSection, entry.key, kMaxMenuTextLength);
      from_file = value.has_value();
      menus_[i] = value ? std::move(*value) : std::string(entry.default_text);
    }
    if (from_file) ++from_file_count;
  }
  if (translated != nullptr) *translated = from_file_count;
  return written;
}

TextLoadResult TextTable::Load(FileSystem* fs, const std::string& ini_path) {
  TextLoadResult result;
  StatusOr<std::string> content = fs->ReadFile(ini_path, kMaxSettingsFileBytes);
  if (!content.ok() && !content.status().IsNotFound()) {
    // Unreadable or oversized: keep the defaults and leave the file as it is.
    *this = TextTable();
    result.file_status = content.status();
    return result;
  }
  IniDocument doc = IniDocument::Parse(content.ok() ? std::string_view(*content) : "");
  result.written_back = LoadFrom(&doc, &result.translated);
  if (result.written_back > 0) {
    result.file_status = fs->WriteFileAtomic(ini_path, doc.Serialize());
  }
  return result;
}

const TextTable& Texts() {
  const TextTable* current = Process().current.load(std::memory_order_acquire);
  return current != nullptr ? *current : DefaultTexts();
}

void InstallProcessTexts(std::unique_ptr<TextTable> table) {
  if (table == nullptr) return;
  ProcessTexts& process = Process();
  MutexLock lock(&process.mu);
  process.current.store(table.get(), std::memory_order_release);
  process.kept.push_back(std::move(table));
}

}  // namespace vantrel
