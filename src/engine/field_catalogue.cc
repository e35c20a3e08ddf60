#include "engine/field_catalogue.h"

#include <cstdio>

namespace vantrel {
namespace {

constexpr size_t kMaxCatalogueBytes = 1 << 20;
constexpr size_t kMaxFields = 62 * 62;
constexpr size_t kMaxNameLength = 32;
constexpr size_t kMaxMarkerLength = 64;

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// kFieldSeparator and two characters numbering the field: short terms keep
// the index small.
std::string FieldSuffix(uint32_t id) {
  static const char kDigits[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::string s(1, kFieldSeparator);
  s.push_back(kDigits[(id / 62) % 62]);
  s.push_back(kDigits[id % 62]);
  return s;
}

bool IsPlainWord(std::string_view s) {
  for (char c : s) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  return !s.empty();
}

}  // namespace

FieldCatalogue FieldCatalogue::Parse(std::string_view text) {
  FieldCatalogue cat;
  size_t pos = 0;
  while (pos < text.size() && cat.fields_.size() < kMaxFields) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    std::vector<std::string> cols;
    size_t c = 0;
    while (cols.size() < 3) {
      size_t comma = line.find(',', c);
      cols.push_back(Trim(line.substr(c, comma == std::string_view::npos ? line.npos : comma - c)));
      if (comma == std::string_view::npos) break;
      c = comma + 1;
    }
    if (cols.size() < 3) continue;
    const std::string& name = cols[0];
    const std::string& start = cols[1];
    const std::string& end = cols[2];
    if (!IsPlainWord(name) || name.size() > kMaxNameLength || start.empty() || end.empty() ||
        start.size() > kMaxMarkerLength || end.size() > kMaxMarkerLength) {
      continue;
    }
    std::string upper = Upper(name);
    uint32_t id;
    auto it = cat.by_name_.find(upper);
    if (it != cat.by_name_.end()) {
      id = it->second;
    } else {
      id = static_cast<uint32_t>(cat.fields_.size());
      cat.fields_.push_back(Field{upper, FieldSuffix(id)});
      cat.by_name_.emplace(upper, id);
    }
    // The first declaration of a start marker wins.
    if (cat.starts_.emplace(start, Marker{id, end}).second) {
      cat.first_bytes_[static_cast<unsigned char>(start[0])] = true;
    }
  }
  return cat;
}

StatusOr<FieldCatalogue> FieldCatalogue::Load(FileSystem* fs, const std::string& path) {
  StatusOr<std::string> text = fs->ReadFile(path, kMaxCatalogueBytes);
  if (!text.ok()) return text.status();
  return Parse(*text);
}

std::string FieldCatalogue::StandardText() {
  std::string out;
  char line[64];
  for (int i = 0; i <= 255; ++i) {
    std::snprintf(line, sizeof line, "%s%03i,%s%03i,%s,0,,0\r\n", "IPTC", i, "QxQ", i, "ZqZ");
    out += line;
  }
  static const char* const kBuiltIn[][2] = {
      {"ZRVIC", "QxQA5001"}, {"ZRVFD", "QxQO5015"},  {"ZRVID", "QxQP5016"},
      {"ZRVFT", "QxQB5002"}, {"ZRVIR", "QxQC5003"},  {"ZRVIW", "QxQD5004"},
      {"ZRVIH", "QxQE5005"}, {"ZRVPW", "QxQF5006"},  {"ZRVPH", "QxQG5007"},
      {"ZRVFS", "QxQH5008"}, {"ZRVIS", "QxQI5009"},  {"ZRVFN", "QxQJ5010"},
      {"ZRVFLN", "QxQK5011"}, {"ZRVFP", "QxQL5012"}, {"ZRVFT", "QxQM5013"},
      {"ZRVOL", "QxQN5014"}};
  for (const auto& f : kBuiltIn) {
    std::snprintf(line, sizeof line, "%s,%s,%s,0,,0\r\n", f[0], f[1], "ZqZ");
    out += line;
  }
  return out;
}

std::optional<uint32_t> FieldCatalogue::FindField(std::string_view name) const {
  auto it = by_name_.find(Upper(name));
  if (it == by_name_.end()) return std::nullopt;
  return it->second;
}

}  // namespace vantrel
