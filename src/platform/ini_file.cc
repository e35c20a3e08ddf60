#include "platform/ini_file.h"

#include <utility>

#include "platform/mutex.h"
#include "platform/text_compare.h"

namespace vantrel {
namespace {

// Larger files are not INI files the server deals with.
constexpr size_t kMaxIniBytes = 16u << 20;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Unquote(std::string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool UsableSection(std::string_view section) {
  return !HasLineBreakOrNul(section) && section.find(']') == std::string_view::npos;
}

bool UsableKey(std::string_view key) {
  key = Trim(key);
  return !key.empty() && !HasLineBreakOrNul(key) && key.find('=') == std::string_view::npos &&
         key.front() != '[' && key.front() != ';';
}

// The value as written on its line: one line, quoted when reading would
// otherwise change it.
std::string EncodeValue(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\0') c = '\\';
  }
  bool outer_blank = !out.empty() && (out.front() == ' ' || out.front() == '\t' ||
                                      out.back() == ' ' || out.back() == '\t');
  bool quoted = out.size() >= 2 && (out.front() == '"' || out.front() == '\'') &&
                out.back() == out.front();
  if (outer_blank || quoted) out = "\"" + out + "\"";
  return out;
}

// Serialises read-modify-write cycles of WriteIniString within the process.
Mutex& IniWriteMutex() {
  static Mutex* const mu = new Mutex();
  return *mu;
}

}  // namespace

IniDocument::Line IniDocument::ParseLine(std::string_view text) {
  Line line;
  line.text = std::string(text);
  std::string_view t = Trim(text);
  if (t.empty() || t.front() == ';') return line;
  if (t.front() == '[') {
    std::string_view name = t.substr(1);
    size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    line.kind = Line::Kind::kSection;
    line.name = std::string(Trim(name));
    return line;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return line;
  std::string_view key = Trim(t.substr(0, eq));
  if (key.empty()) return line;
  line.kind = Line::Kind::kKey;
  line.name = std::string(key);
  line.value = Unquote(t.substr(eq + 1));
  return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      doc.lines_.push_back(ParseLine(text.substr(start)));
      break;
    }
    doc.lines_.push_back(ParseLine(text.substr(start, end - start)));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return doc;
}

size_t IniDocument::FindSection(std::string_view section) const {
  std::string_view wanted = Trim(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Line::Kind::kSection && EqualsNoCase(lines_[i].name, wanted)) return i;
  }
  return std::string::npos;
}

size_t IniDocument::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Line::Kind::kSection) ++i;
  return i;
}

std::optional<std::string> IniDocument::Get(std::string_view section,
                                            std::string_view key) const {
  size_t header = FindSection(section);
  if (header == std::string::npos) return std::nullopt;
  std::string_view wanted = Trim(key);
  for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
    if (lines_[i].kind == Line::Kind::kKey && EqualsNoCase(lines_[i].name, wanted)) {
      return lines_[i].value;
    }
  }
  return std::nullopt;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!UsableSection(section) || !UsableKey(key)) return false;
  const std::string_view wanted_key = Trim(key);
  const std::string encoded = EncodeValue(value);
  size_t header = FindSection(section);
  if (header == std::string::npos) {
    std::string header_line = "[";
    header_line.append(Trim(section));
    header_line.push_back(']');
    lines_.push_back(ParseLine(header_line));
    lines_.push_back(ParseLine(std::string(wanted_key) + "=" + encoded));
    return true;
  }
  const size_t end = SectionEnd(header);
  size_t insert_at = header + 1;
  for (size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind != Line::Kind::kKey) continue;
    if (EqualsNoCase(lines_[i].name, wanted_key)) {
      // Keep the key's own spelling; replace the whole line.
      lines_[i] = ParseLine(lines_[i].name + "=" + encoded);
      return true;
    }
    insert_at = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at),
                ParseLine(std::string(wanted_key) + "=" + encoded));
  return true;
}

bool IniDocument::RemoveKey(std::string_view section, std::string_view key) {
  size_t header = FindSection(section);
  if (header == std::string::npos) return false;
  std::string_view wanted = Trim(key);
  bool removed = false;
  size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end;) {
    if (lines_[i].kind == Line::Kind::kKey && EqualsNoCase(lines_[i].name, wanted)) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      --end;
      removed = true;
    } else {
      ++i;
    }
  }
  return removed;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  size_t header = FindSection(section);
  if (header == std::string::npos) return keys;
  for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
    if (lines_[i].kind != Line::Kind::kKey) continue;
    bool seen = false;
    for (const std::string& k : keys) seen = seen || EqualsNoCase(k, lines_[i].name);
    if (!seen) keys.push_back(lines_[i].name);
  }
  return keys;
}

std::vector<std::string> IniDocument::Sections() const {
  std::vector<std::string> sections;
  for (const Line& line : lines_) {
    if (line.kind != Line::Kind::kSection) continue;
    bool seen = false;
    for (const std::string& s : sections) seen = seen || EqualsNoCase(s, line.name);
    if (!seen) sections.push_back(line.name);
  }
  return sections;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Line& line : lines_) {
    out += line.text;
    out += "\r\n";
  }
  return out;
}

std::string ReadIniString(FileSystem* fs, const std::string& path, std::string_view section,
                          std::string_view key, std::string_view default_value) {
  auto text = fs->ReadFile(path, kMaxIniBytes);
  if (!text.ok()) return std::string(default_value);
  std::optional<std::string> value = IniDocument::Parse(*text).Get(section, key);
  return value ? *std::move(value) : std::string(default_value);
}

namespace {

// Reads the file (missing: empty), lets `change` edit it, and writes it back
// atomically when `change` asks for it.
template <typename Change>
Status RewriteIni(FileSystem* fs, const std::string& path, Change change) {
  MutexLock lock(&IniWriteMutex());
  auto text = fs->ReadFile(path, kMaxIniBytes);
  IniDocument doc;
  if (text.ok()) {
    doc = IniDocument::Parse(*text);
  } else if (!text.status().IsNotFound()) {
    return text.status();
  }
  bool write = false;
  VANTREL_RETURN_IF_ERROR(change(&doc, &write));
  if (!write) return Status::Ok();
  return fs->WriteFileAtomic(path, doc.Serialize(), 0644);
}

}  // namespace

Status WriteIniString(FileSystem* fs, const std::string& path, std::string_view section,
                      std::string_view key, std::string_view value) {
  return RewriteIni(fs, path, [&](IniDocument* doc, bool* write) {
    if (!doc->Set(section, key, value)) {
      return Status::InvalidArgument("unusable INI section or key name for " + path);
    }
    *write = true;
    return Status::Ok();
  });
}

Status DeleteIniKey(FileSystem* fs, const std::string& path, std::string_view section,
                    std::string_view key) {
  return RewriteIni(fs, path, [&](IniDocument* doc, bool* write) {
    *write = doc->RemoveKey(section, key);
    return Status::Ok();
  });
}

}  // namespace vantrel
