#include "catalogue/share_table.h"

#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/environment.h"
#include "platform/host_name.h"
#include "platform/paths.h"

namespace vantrel {
namespace {

constexpr char kDefaultSmbConf[] = "/etc/samba/smb.conf";

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A parameter name as Samba matches it: without blanks, in small letters.
std::string ParameterKey(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (!IsBlank(c)) key.push_back(AsciiLower(c));
  }
  return key;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

// One pair of enclosing double quotes is not part of a value.
std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
  return v;
}

// Samba's boolean spellings; nothing for anything else.
std::optional<bool> ParseBool(std::string_view v) {
  const std::string s = LowerAscii(Trim(v));
  if (s == "yes" || s == "true" || s == "1" || s == "on") return true;
  if (s == "no" || s == "false" || s == "0" || s == "off") return false;
  return std::nullopt;
}

// Whether a `vfs objects` list (blanks or commas between the modules) loads
// the fruit module.
bool LoadsFruit(std::string_view modules) {
  size_t i = 0;
  while (i < modules.size()) {
    while (i < modules.size() && (IsBlank(modules[i]) || modules[i] == ',')) ++i;
    size_t start = i;
    while (i < modules.size() && !IsBlank(modules[i]) && modules[i] != ',') ++i;
    if (LowerAscii(modules.substr(start, i - start)) == "fruit") return true;
  }
  return false;
}

struct Section {
  std::string name;
  std::string lower_name;
  std::optional<std::string> path;
  std::optional<std::string> vfs_objects;
  bool printable = false;
  bool available = true;
};

// The logical lines of the text: a line ending in '\' goes on in the next.
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view trimmed_end = line;
    while (!trimmed_end.empty() && IsBlank(trimmed_end.back())) trimmed_end.remove_suffix(1);
    if (!trimmed_end.empty() && trimmed_end.back() == '\\') {
      current.append(trimmed_end.substr(0, trimmed_end.size() - 1));
    } else {
      current.append(line);
      lines.push_back(std::move(current));
      current.clear();
    }
    pos = end + 1;
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

// A root usable for the look-up: absolute, without trailing '/'.
std::optional<std::string> UsableRoot(std::string_view path) {
  path = Trim(path);
  if (path.empty() || path.front() != kNativeSeparator) return std::nullopt;
  while (path.size() > 1 && path.back() == kNativeSeparator) path.remove_suffix(1);
  return std::string(path);
}

// The first entry covering `path`, and the rest of the path below its root
// ("" for the root itself).
std::optional<std::pair<const ShareEntry*, std::string_view>> Cover(
    const std::vector<ShareEntry>& entries, std::string_view path) {
  while (path.size() > 1 && path.back() == kNativeSeparator) path.remove_suffix(1);
  if (path.empty() || path.front() != kNativeSeparator) return std::nullopt;
  for (const ShareEntry& e : entries) {
    const std::string_view root = e.root;
    if (root.size() > path.size()) continue;
    bool same = true;
    for (size_t i = 0; i < root.size() && same; ++i) {
      same = AsciiLower(root[i]) == AsciiLower(path[i]);
    }
    if (!same) continue;
    if (path.size() == root.size()) return std::make_pair(&e, std::string_view());
    if (root == "/") return std::make_pair(&e, path.substr(1));
    // The root must end at a separator of the path: the share of /srv/Img
    // does not publish /srv/Images.
    if (path[root.size()] != kNativeSeparator) continue;
    return std::make_pair(&e, path.substr(root.size() + 1));
  }
  return std::nullopt;
}

}  // namespace

ShareTables ParseSmbConf(std::string_view text, std::string_view host_name) {
  std::vector<Section> sections;
  std::unordered_map<std::string, size_t> section_of;  // small-letter name -> index
  std::optional<std::string> netbios_name;
  std::optional<std::string> global_vfs;
  // Parameters before the first section belong to [global], as in Samba.
  bool in_global = true;
  Section* current = nullptr;

  for (const std::string& raw : LogicalLines(text)) {
    std::string_view line = Trim(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      if (close == std::string_view::npos) {
        current = nullptr;
        in_global = false;
        continue;  // a broken header: its parameters are ignored
      }
      std::string name(Trim(line.substr(1, close - 1)));
      std::string lower = LowerAscii(name);
      current = nullptr;
      in_global = lower == "global";
      if (in_global) continue;
      auto [it, added] = section_of.emplace(lower, sections.size());
      if (added) sections.push_back(Section{name, lower, std::nullopt, std::nullopt, false, true});
      current = &sections[it->second];
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string key = ParameterKey(line.substr(0, eq));
    const std::string_view value = Unquote(Trim(line.substr(eq + 1)));
    if (in_global) {
      if (key == "netbiosname") netbios_name = std::string(value);
      if (key == "vfsobjects" || key == "vfsobject") global_vfs = std::string(value);
      continue;
    }
    if (current == nullptr) continue;
    if (key == "path" || key == "directory") {
      current->path = std::string(value);
    } else if (key == "vfsobjects" || key == "vfsobject") {
      current->vfs_objects = std::string(value);
    } else if (key == "printable" || key == "printok") {
      current->printable = ParseBool(value).value_or(current->printable);
    } else if (key == "available") {
      current->available = ParseBool(value).value_or(current->available);
    }
  }

  ShareTables tables;
  if (netbios_name && !Trim(*netbios_name).empty()) {
    tables.computer_name = UpperAscii(Trim(*netbios_name));
  } else {
    tables.computer_name = UpperAscii(host_name.substr(0, host_name.find('.')));
  }
  for (const Section& s : sections) {
    if (s.lower_name == "homes" || s.lower_name == "printers") continue;
    if (s.printable || !s.available || !s.path || s.name.empty()) continue;
    std::optional<std::string> root = UsableRoot(*s.path);
    if (!root || root->size() > kMaxShareTextLength || s.name.size() > kMaxShareTextLength) {
      continue;
    }
    ShareEntry entry{s.name, *root};
    const std::optional<std::string>& vfs = s.vfs_objects ? s.vfs_objects : global_vfs;
    if (vfs && LoadsFruit(*vfs) && tables.volumes.size() < kMaxShareEntries) {
      tables.volumes.push_back(entry);
    }
    if (tables.shares.size() < kMaxShareEntries) tables.shares.push_back(std::move(entry));
  }
  return tables;
}

std::string SmbConfPath() {
  std::optional<std::string> set = EnvironmentValue("VANTREL_SMB_CONF");
  if (set && !set->empty()) return *set;
  return kDefaultSmbConf;
}

ShareTables LoadShareTables(FileSystem* fs, const std::string& smb_conf,
                            std::string_view host_name) {
  StatusOr<std::string> text = fs->ReadFile(smb_conf, kMaxSmbConfBytes);
  if (!text.ok()) return ParseSmbConf(std::string_view(), host_name);
  return ParseSmbConf(text.value(), host_name);
}

std::string WindowsSharePath(const ShareTables& tables, std::string_view path) {
  auto cover = Cover(tables.shares, path);
  if (!cover) return std::string();
  std::string result = "\\\\" + tables.computer_name + "\\" + cover->first->name;
  if (!cover->second.empty()) {
    result.push_back('\\');
    for (char c : cover->second) result.push_back(c == kNativeSeparator ? '\\' : c);
  }
  return result;
}

std::string MacVolumePath(const ShareTables& tables, std::string_view path) {
  auto cover = Cover(tables.volumes, path);
  if (!cover) return std::string();
  std::string result = cover->first->name;
  if (!cover->second.empty()) {
    result.push_back(':');
    result.append(cover->second);
  }
  for (char& c : result) {
    if (c == '\\' || c == kNativeSeparator) c = ':';
  }
  return result;
}

SambaVolumeNamer::SambaVolumeNamer(FileSystem* fs)
    : SambaVolumeNamer(fs, SmbConfPath(), HostName()) {}

SambaVolumeNamer::SambaVolumeNamer(FileSystem* fs, std::string smb_conf, std::string host_name)
    : fs_(fs), smb_conf_(std::move(smb_conf)), host_name_(std::move(host_name)) {}

std::string SambaVolumeNamer::WindowsShareName(const std::string& path) {
  return WindowsSharePath(LoadShareTables(fs_, smb_conf_, host_name_), path);
}

std::string SambaVolumeNamer::MacVolumeName(const std::string& path) {
  return MacVolumePath(LoadShareTables(fs_, smb_conf_, host_name_), path);
}

}  // namespace vantrel
